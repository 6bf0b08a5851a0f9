// Helpers shared by the test executables.
#pragma once

#include <QMutex>
#include <QMutexLocker>
#include <QString>
#include <QStringList>
#include <QtGlobal>

class QObject;

#include <functional>

// The temporary home folder this test process runs in.
QString testHomeFolder();

// Runs the event loop until condition() holds (true) or timeoutMs have
// passed (false).
bool waitFor(const std::function<bool()> &condition, int timeoutMs = 20000);

// Whether the thread of `object` has run what was queued on it before this
// call, and this thread what it sent meanwhile. False also when the probe ran
// inside a nested event loop: a slot of that thread is waiting in one, and
// anything could run in its middle.
bool threadCaughtUp(QObject *object);

// The same for a camera, whose slots that wait for the device go on from a
// timer: their second halves have run too.
template <typename Camera>
bool cameraCaughtUp(Camera *camera)
{
    return threadCaughtUp(camera) && waitFor([camera] { return !camera->isContinuing(); })
           && threadCaughtUp(camera);
}

// Collects the debug and warning lines written while it lives, from every
// thread.
class LogCatcher
{
public:
    LogCatcher() { previous_ = qInstallMessageHandler(&LogCatcher::handler); current() = this; }
    ~LogCatcher()
    {
        qInstallMessageHandler(previous_);
        current() = nullptr;
    }
    LogCatcher(const LogCatcher &) = delete;
    LogCatcher &operator=(const LogCatcher &) = delete;
    bool contains(const QString &text) const
    {
        const QMutexLocker lock(&mutex_);
        for (const QString &line : lines)
            if (line.contains(text))
                return true;
        return false;
    }
    // Read `lines` directly only where no other thread logs.
    QStringList lines;

private:
    static LogCatcher *&current()
    {
        static LogCatcher *instance = nullptr;
        return instance;
    }
    static void handler(QtMsgType, const QMessageLogContext &, const QString &text)
    {
        if (LogCatcher *catcher = current()) {
            const QMutexLocker lock(&catcher->mutex_);
            catcher->lines << text;
        }
    }
    QtMessageHandler previous_;
    mutable QMutex mutex_;
};
