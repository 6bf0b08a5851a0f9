#include "finishing_recorders.h"

#include "video_recorder.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDebug>
#include <QThread>

#include <list>
#include <vector>
#include <mutex>

namespace {

struct Adopted {
    VideoRecorder *recorder;  // null once its file is finished
    QThread *thread;
};

struct Registry {
    std::mutex mutex;
    std::list<Adopted> entries;  // a list: the recorder threads keep pointers to their entry
    bool exitHookInstalled = false;
};

// Never destroyed: a recorder thread stuck past the bound may still touch it
// while the process exits.
Registry &registry()
{
    static Registry *instance = new Registry;
    return *instance;
}

// Deletes the threads whose recorder is done. Caller holds the mutex.
void reapLocked(Registry &registry)
{
    for (auto entry = registry.entries.begin(); entry != registry.entries.end();) {
        if (entry->recorder || !entry->thread->isFinished()) {
            ++entry;
            continue;
        }
        entry->thread->wait();
        delete entry->thread;
        entry = registry.entries.erase(entry);
    }
}

bool waitUntil(Registry &registry, QDeadlineTimer deadline)
{
    std::vector<QThread *> threads;
    {
        std::lock_guard<std::mutex> lock(registry.mutex);
        for (const Adopted &entry : registry.entries)
            threads.push_back(entry.thread);
    }
    for (QThread *thread : threads) {
        if (!thread->wait(deadline))
            return false;
    }
    return true;
}

// A program that never asked still gets its recordings finished when the
// application object goes.
void waitAtExit()
{
    FinishingRecorders::waitForAll(FinishingRecorders::kShutdownWaitMs);
}

}  // namespace

void FinishingRecorders::adopt(VideoRecorder *recorder, QThread *thread)
{
    if (!recorder || !thread)
        return;
    Registry &registry = ::registry();
    if (!thread->isRunning()) {
        // Nothing was ever recorded on a thread that doesn't run.
        delete recorder;
        thread->wait();
        delete thread;
        return;
    }
    Adopted *entry = nullptr;
    {
        std::lock_guard<std::mutex> lock(registry.mutex);
        reapLocked(registry);
        registry.entries.push_back(Adopted{recorder, thread});
        entry = &registry.entries.back();
        if (!registry.exitHookInstalled && QCoreApplication::instance()) {
            registry.exitHookInstalled = true;
            qAddPostRoutine(waitAtExit);
        }
    }
    // Queued behind whatever the recorder still has to do, such as a start
    // asked for just before: that recording is finished like any other.
    QMetaObject::invokeMethod(
        recorder,
        [entry, recorder, thread] {
            recorder->stop();
            {
                std::lock_guard<std::mutex> lock(::registry().mutex);
                entry->recorder = nullptr;
            }
            // Deleted on its own thread as the thread ends.
            recorder->deleteLater();
            thread->quit();
        },
        Qt::QueuedConnection);
}

bool FinishingRecorders::waitForAll(int timeoutMs)
{
    Registry &registry = ::registry();
    const bool inTime = waitUntil(registry, QDeadlineTimer(qMax(0, timeoutMs)));
    if (!inTime) {
        int abandoned = 0;
        {
            std::lock_guard<std::mutex> lock(registry.mutex);
            for (const Adopted &entry : registry.entries) {
                if (entry.recorder) {
                    entry.recorder->abandonFinalising();
                    ++abandoned;
                }
            }
        }
        qWarning() << "Recordings still finishing at exit:" << abandoned
                   << "- their files stay as recorded, without the final rewrite";
        if (!waitUntil(registry, QDeadlineTimer(kAbandonGraceMs)))
            qWarning() << "A recording did not let go of its file in time";
    }
    std::lock_guard<std::mutex> lock(registry.mutex);
    reapLocked(registry);
    return inTime;
}

int FinishingRecorders::pendingCount()
{
    Registry &registry = ::registry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    return int(registry.entries.size());
}
