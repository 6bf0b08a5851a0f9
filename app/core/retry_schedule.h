// Tries again in the background what did not reach its file: on the
// application's thread, a first interval after the last failure, then at
// twice the interval before, up to a longest one, until an attempt leaves
// nothing to store.
#pragma once

#include <QPointer>
#include <QString>

#include <functional>

class QTimer;

class RetrySchedule
{
public:
    // `attempt` runs on the application's thread and returns true when
    // nothing is left to store; it never waits for a lock. `what` names it
    // in the log ("Kept camera settings").
    RetrySchedule(QString what, int firstMs, int longestMs, std::function<bool()> attempt);
    RetrySchedule(const RetrySchedule &) = delete;
    RetrySchedule &operator=(const RetrySchedule &) = delete;

    // From any thread: the next attempt comes the first interval from now.
    // Without an application object nothing is scheduled.
    void restart();

private:
    void startTimer(int milliseconds);

    const QString what_;
    const int firstMs_;
    const int longestMs_;
    const std::function<bool()> attempt_;
    // Used on the application's thread only.
    int intervalMs_;
    QPointer<QTimer> timer_;
};
