#include "retry_schedule.h"

#include <QCoreApplication>
#include <QDebug>
#include <QTimer>

RetrySchedule::RetrySchedule(QString what, int firstMs, int longestMs, std::function<bool()> attempt)
    : what_(std::move(what)), firstMs_(firstMs), longestMs_(longestMs), attempt_(std::move(attempt)),
      intervalMs_(firstMs)
{
}

void RetrySchedule::restart()
{
    QCoreApplication *application = QCoreApplication::instance();
    if (!application)
        return;
    QMetaObject::invokeMethod(application, [this] {
        intervalMs_ = firstMs_;
        startTimer(intervalMs_);
    });
}

void RetrySchedule::startTimer(int milliseconds)
{
    QCoreApplication *application = QCoreApplication::instance();
    if (!timer_) {
        // Goes with the application object, before the stores that own a
        // schedule (process-wide objects destroyed at exit).
        timer_ = new QTimer(application);
        timer_->setSingleShot(true);
        QObject::connect(timer_, &QTimer::timeout, application, [this] {
            if (attempt_())
                return;
            intervalMs_ = qMin(2 * intervalMs_, longestMs_);
            qDebug().noquote() << what_ << "not stored yet; next try in" << intervalMs_ << "ms";
            startTimer(intervalMs_);
        });
    }
    timer_->start(milliseconds);
}
