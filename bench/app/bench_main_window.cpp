// The whole program's start-up time, memory and GUI-thread stalls: the real
// main window on an X server with the virtual camera at 1920x1080, 30 fps,
// each number printed beside its target in the same run.
//
//  - process start to the first camera frame painted in the live view
//    (target under 1.0 s, release build);
//  - resident memory (VmRSS) 60 s after the first frame and at the end of the
//    long live phase, 10 minutes (target under 300 MB, growth at most 5 %);
//  - GUI-thread stalls over 50 ms while the camera is switched, closed and
//    reopened, a Snap is taken and a recording is stopped (target: none),
//    beside the stalls of the plain live view during the long phase.
//
// A stall is a gap between two beats of a 5 ms timer on the GUI thread.
// Message boxes are answered as a user would. The program runs twice over
// one temporary home folder (settings, log, snapshots, recordings; never the
// user's own): a first start with fresh settings, which leaves 1920x1080
// stored for the camera as a user of that resolution has it, then the
// measured start. Each is a process of its own, started by this one, so
// that its start-up time begins at its own start. The program's log lines
// (its standard output) go to a file; the measurements come on this
// process's standard output.
//
// bench/app/main_window.sh runs it under xvfb-run in a private network
// namespace (the program announces itself on the network when it starts).
//
//   bench_main_window [--live-minutes N]   (10 by default; at least 1)
#include "cam_settings.h"
#include "core.h"
#include "finishing_recorders.h"
#include "main_window.h"
#include "opengl_video_widget.h"
#include "video.h"
#include "video_recorder.h"
#include "video_widget.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QMetaEnum>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

extern "C" {
#include <libavutil/log.h>
}

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <map>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kHeartbeatMs = 5;
constexpr int kStallMs = 50;
constexpr double kStartTargetSeconds = 1.0;
constexpr double kMemoryTargetMb = 300.0;
constexpr double kGrowthTargetPercent = 5.0;

// Seconds since this process was started by the kernel, so that loading the
// shared libraries counts too: the start time in /proc/self/stat is in clock
// ticks since boot (10 ms on Linux), the same clock as CLOCK_BOOTTIME.
double secondsSinceProcessStart()
{
    FILE *file = std::fopen("/proc/self/stat", "r");
    if (!file)
        return -1;
    char text[2048] = {};
    const size_t length = std::fread(text, 1, sizeof text - 1, file);
    std::fclose(file);
    text[length] = 0;
    // The command name in parentheses may hold spaces: fields count from its end.
    const char *field = std::strrchr(text, ')');
    if (!field)
        return -1;
    unsigned long long startTicks = 0;
    // Fields 3 to 21 are skipped, field 22 is the start time.
    if (std::sscanf(field + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %*u %*u %*d %*d %*d %*d %*d %*d %llu",
                    &startTicks) != 1)
        return -1;
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9 - double(startTicks) / double(sysconf(_SC_CLK_TCK));
}

// VmRSS of this process in MB (2^20 bytes); -1 when it can't be read.
double residentMegabytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

// One clock for the heartbeat and the event log: milliseconds since this
// process started timing.
qint64 nowMs()
{
    static const auto origin = std::chrono::steady_clock::now();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - origin).count();
}

// CPU time of the calling thread in milliseconds.
qint64 threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// The 1-minute load average, or -1.
double loadAverage()
{
    double load[1] = {-1};
    return getloadavg(load, 1) == 1 ? load[0] : -1;
}

// Every event the GUI thread delivers is timed. The GUI thread's time is cut
// into segments at each start and end of a delivery, each belonging to the
// innermost delivery running then (or to the event loop itself when none
// is); segments of 2 ms or more are kept (the last few thousand), with the
// thread's CPU time in them, so that a heartbeat stall can be put down to the
// handlers that ran inside it, also when a handler runs a nested event loop
// (a message box). Commands the benchmark gives are delivered as events too
// (see `post`), so they are timed the same way.
class TimedApplication : public QApplication
{
public:
    struct Segment {
        qint64 startMs;
        qint64 endMs;
        qint64 cpuMs;
        int owner;  // index into owners_, -1 for the event loop
    };
    struct Share {
        QString what;
        qint64 wallMs;
        qint64 cpuMs;
    };

    TimedApplication(int &argc, char **argv) : QApplication(argc, argv)
    {
        lastMs_ = nowMs();
        lastCpuMs_ = threadCpuMs();
    }

    bool notify(QObject *receiver, QEvent *event) override
    {
        if (QThread::currentThread() != thread())
            return QApplication::notify(receiver, event);
        // Read before the delivery: the receiver may delete itself in it.
        QObject *parent = receiver->parent();
        const Owner owner{receiver->metaObject()->className(), receiver->objectName(),
                          parent ? parent->metaObject()->className() : nullptr, int(event->type())};
        cut();
        stack_.push_back(ownerIndex(owner));
        const bool result = QApplication::notify(receiver, event);
        cut();
        stack_.pop_back();
        return result;
    }

    // Where the GUI thread's time between `fromMs` and `toMs` went: the
    // owners of the kept segments in it, most time first, at most `count`.
    std::vector<Share> within(qint64 fromMs, qint64 toMs, size_t count)
    {
        cut();
        std::map<int, Share> byOwner;
        for (const Segment &segment : segments_) {
            const qint64 start = std::max(segment.startMs, fromMs), end = std::min(segment.endMs, toMs);
            if (end <= start)
                continue;
            Share &share = byOwner[segment.owner];
            share.what = describe(segment.owner);
            share.wallMs += end - start;
            // CPU in proportion when the segment reaches past the gap.
            share.cpuMs += segment.cpuMs * (end - start) / std::max<qint64>(1, segment.endMs - segment.startMs);
        }
        std::vector<Share> shares;
        for (const auto &entry : byOwner)
            shares.push_back(entry.second);
        std::sort(shares.begin(), shares.end(), [](const Share &a, const Share &b) { return a.wallMs > b.wallMs; });
        if (shares.size() > count)
            shares.resize(count);
        return shares;
    }

private:
    struct Owner {
        const char *className;
        QString name;
        const char *parentClass;
        int type;
        bool operator<(const Owner &other) const
        {
            return std::tie(className, name, parentClass, type)
                   < std::tie(other.className, other.name, other.parentClass, other.type);
        }
    };

    void cut()
    {
        const qint64 now = nowMs(), cpu = threadCpuMs();
        if (now - lastMs_ >= 2) {
            segments_.push_back({lastMs_, now, cpu - lastCpuMs_, stack_.empty() ? -1 : stack_.back()});
            if (segments_.size() > 4000)
                segments_.pop_front();
        }
        lastMs_ = now;
        lastCpuMs_ = cpu;
    }

    int ownerIndex(const Owner &owner)
    {
        const auto found = ownerIndices_.find(owner);
        if (found != ownerIndices_.end())
            return found->second;
        owners_.push_back(owner);
        ownerIndices_.emplace(owner, int(owners_.size()) - 1);
        return int(owners_.size()) - 1;
    }

    QString describe(int index) const
    {
        if (index < 0)
            return QStringLiteral("the event loop");
        const Owner &owner = owners_[size_t(index)];
        const char *typeName = QMetaEnum::fromType<QEvent::Type>().valueToKey(owner.type);
        QString what = QStringLiteral("%1 to %2").arg(typeName ? QString::fromLatin1(typeName) : QString::number(owner.type),
                                                    QString::fromLatin1(owner.className));
        if (!owner.name.isEmpty())
            what += QStringLiteral(" '%1'").arg(owner.name);
        if (owner.parentClass)
            what += QStringLiteral(" (in %1)").arg(QString::fromLatin1(owner.parentClass));
        return what;
    }

    std::vector<int> stack_;
    std::deque<Segment> segments_;
    std::vector<Owner> owners_;
    std::map<Owner, int> ownerIndices_;
    qint64 lastMs_ = 0;
    qint64 lastCpuMs_ = 0;
};

TimedApplication *timedApplication()
{
    return static_cast<TimedApplication *>(QCoreApplication::instance());
}

// Beats every 5 ms on the GUI thread and keeps, per phase, the gaps between
// beats longer than 50 ms: the time the event loop could not run. Each such
// stall is kept with the GUI thread's CPU time in it (far below the gap: the
// thread waited or was not given a core) and the handlers that took most of
// it.
class Heartbeat : public QObject
{
public:
    struct Stall {
        qint64 gapMs;
        qint64 cpuMs;
        double load;
        QString handlers;
    };
    struct Phase {
        int stalls = 0;
        qint64 longestGapMs = 0;
        std::vector<qint64> stallMs;
        std::vector<Stall> details;
        std::vector<double> loads;  // at the phase's starts and ends
    };

    Heartbeat()
    {
        timer_.setTimerType(Qt::PreciseTimer);
        connect(&timer_, &QTimer::timeout, this, &Heartbeat::beat);
        lastBeatMs_ = nowMs();
        lastCpuMs_ = threadCpuMs();
        timer_.start(kHeartbeatMs);
    }

    // Gaps that end from now on count for `name`.
    void setPhase(const std::string &name)
    {
        beat();
        const double load = loadAverage();
        phases_[phase_].loads.push_back(load);
        phase_ = name;
        phases_[phase_].loads.push_back(load);
    }
    const Phase &phase(const std::string &name) { return phases_[name]; }

private:
    void beat()
    {
        const qint64 now = nowMs(), cpu = threadCpuMs();
        const qint64 gap = now - lastBeatMs_;
        Phase &phase = phases_[phase_];
        phase.longestGapMs = std::max(phase.longestGapMs, gap);
        if (gap > kStallMs) {
            ++phase.stalls;
            phase.stallMs.push_back(gap);
            QStringList handlers;
            qint64 explained = 0;
            for (const TimedApplication::Share &share : timedApplication()->within(lastBeatMs_, now, 3)) {
                handlers << QStringLiteral("%1 %2 ms (CPU %3)").arg(share.what).arg(share.wallMs).arg(share.cpuMs);
                explained += share.wallMs;
            }
            handlers << QStringLiteral("rest %1 ms").arg(gap - explained);
            phase.details.push_back({gap, cpu - lastCpuMs_, loadAverage(), handlers.join(QStringLiteral("; "))});
        }
        lastBeatMs_ = now;
        lastCpuMs_ = cpu;
    }

    QTimer timer_;
    qint64 lastBeatMs_ = 0;
    qint64 lastCpuMs_ = 0;
    std::string phase_ = "start-up";
    std::map<std::string, Phase> phases_;
};

// Answers every message box with its accepting button (Yes where there is
// one) and cancels file and text dialogs, remembering the messages.
class DialogAnswerer : public QObject
{
public:
    DialogAnswerer()
    {
        connect(&timer_, &QTimer::timeout, this, &DialogAnswerer::scan);
        timer_.start(20);
    }
    QStringList messages;

private:
    void scan()
    {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (!widget->isVisible() || widget->property("benchAnswered").toBool())
                continue;
            if (auto *box = qobject_cast<QMessageBox *>(widget)) {
                box->setProperty("benchAnswered", true);
                messages << box->text();
                QAbstractButton *chosen = nullptr;
                for (QAbstractButton *button : box->buttons())
                    if (!chosen || box->buttonRole(button) == QMessageBox::YesRole)
                        chosen = button;
                if (chosen)
                    QTimer::singleShot(0, chosen, &QAbstractButton::click);
            } else if (qobject_cast<QFileDialog *>(widget) || qobject_cast<QInputDialog *>(widget)) {
                widget->setProperty("benchAnswered", true);
                QTimer::singleShot(0, static_cast<QDialog *>(widget), &QDialog::reject);
            }
        }
    }
    QTimer timer_;
};

// Runs the GUI thread's event loop until `condition` holds (checked every
// 5 ms) or `timeoutMs` has passed; true when it held.
bool runUntil(const std::function<bool()> &condition, int timeoutMs)
{
    if (condition())
        return true;
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (condition())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    check.start(5);
    loop.exec();
    return condition();
}

void runFor(int milliseconds)
{
    runUntil([] { return false; }, milliseconds);
}

// Paints of the live view: the time of the first one that showed a camera
// frame, and the number of paints since.
struct PaintCounter {
    double firstFrameSeconds = -1;  // after process start
    // CPU time used until then by the GUI thread and by the whole process:
    // what a quiet machine would need at least, whatever the load now.
    double guiCpuSeconds = -1;
    double processCpuSeconds = -1;
    qint64 paints = 0;
};

FILE *results = stdout;

void print(const QString &line)
{
    std::fprintf(results, "%s\n", line.toLocal8Bit().constData());
    std::fflush(results);
}

// The load average goes beside every figure: on a shared machine it says how
// far a figure can be trusted. Without `load` it is the load now.
QString row(const QString &what, const QString &measured, const QString &target, const QString &load = QString())
{
    return QStringLiteral("%1  %2  %3  %4")
        .arg(what, -56)
        .arg(measured, -34)
        .arg(target, -12)
        .arg(load.isEmpty() ? QString::number(loadAverage(), 'f', 1) : load);
}

void note(const QString &line)
{
    print(QStringLiteral("  note: ") + line);
}

// The range of the load average over a phase.
QString loadText(const Heartbeat::Phase &phase)
{
    if (phase.loads.empty())
        return QString::number(loadAverage(), 'f', 1);
    const auto range = std::minmax_element(phase.loads.begin(), phase.loads.end());
    if (*range.second - *range.first < 0.05)
        return QString::number(*range.first, 'f', 1);
    return QStringLiteral("%1-%2").arg(*range.first, 0, 'f', 1).arg(*range.second, 0, 'f', 1);
}

// One note per stall: its GUI-thread CPU time and the handlers that ran in it.
void stallNotes(const Heartbeat::Phase &phase)
{
    for (const Heartbeat::Stall &stall : phase.details)
        note(QStringLiteral("%1 ms, GUI thread CPU %2 ms, load %3: %4")
                 .arg(stall.gapMs).arg(stall.cpuMs).arg(stall.load, 0, 'f', 1).arg(stall.handlers));
}

QString stallText(const Heartbeat::Phase &phase)
{
    QString text = QStringLiteral("%1 (longest gap %2 ms)").arg(phase.stalls).arg(phase.longestGapMs);
    if (!phase.stallMs.empty()) {
        QStringList gaps;
        for (qint64 gap : phase.stallMs)
            gaps << QString::number(gap);
        text += QStringLiteral(" [%1 ms]").arg(gaps.join(QStringLiteral(", ")));
    }
    return text;
}

// One run of the program: its start as in app/main.cpp, the window shown,
// the live view's paints counted and the listed devices kept.
class ProgramRun
{
public:
    ProgramRun()
    {
        const QString base = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        setLogFilePath(base + QStringLiteral("/log/vorenta.log"));
        av_log_set_level(AV_LOG_INFO);
        av_log_set_callback(ffmpegLogCallback);
        CrashDumpHolder::instance().installCrashHandler(base + QStringLiteral("/dump"));
        registerVideoFrameMetaType();
        registerSettingsMetaTypes();

        window = new MainWindow2;
        glView = window->liveView()->liveView();
        QObject::connect(glView, &QOpenGLWidget::frameSwapped, glView, [this] {
            ++painted.paints;
            if (painted.firstFrameSeconds < 0 && glView->textureWidth(0) > 0) {
                painted.firstFrameSeconds = secondsSinceProcessStart();
                painted.guiCpuSeconds = threadCpuMs() / 1000.0;
                timespec process{};
                clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &process);
                painted.processCpuSeconds = double(process.tv_sec) + double(process.tv_nsec) / 1e9;
            }
        });
        QObject::connect(window, &MainWindow2::detect, window, [this](const DeviceMap &listed) { devices = listed; });
        window->show();
    }
    ~ProgramRun()
    {
        delete window;
        FinishingRecorders::waitForAll(FinishingRecorders::kShutdownWaitMs);
        if (!answerer.messages.isEmpty())
            note(QStringLiteral("messages shown: %1").arg(answerer.messages.join(QStringLiteral(" | "))));
    }

    QStringList usbDevices() const
    {
        QStringList names;
        for (auto device = devices.cbegin(); device != devices.cend(); ++device)
            if (device->first == CameraUsb)
                names << device.key();
        return names;
    }
    void open(const QString &uniqueName) { window->cameraChange(devices.value(uniqueName).second, uniqueName); }
    qint64 receivedFrames() const { return window->playThread() ? window->playThread()->receivedFrameCount() : 0; }
    QSize shownSize() const { return QSize(glView->textureWidth(0), glView->textureHeight(0)); }

    // The window opens a single listed camera by itself. Of several (a real
    // camera beside the virtual one) the first is opened through the
    // window's slot, as the settings page does when the user picks it; the
    // same happens, late and noted, if a single camera did not open itself.
    bool waitForFirstFrame()
    {
        bool openedHere = false;
        const bool shown = runUntil([&] {
            const QStringList names = usbDevices();
            if (!openedHere && !window->camera()
                && (names.size() > 1 || (names.size() == 1 && secondsSinceProcessStart() > 8))) {
                openedHere = true;
                if (names.size() == 1)
                    note(QStringLiteral("the window did not open the one camera listed by itself"));
                open(names.first());
            }
            return painted.firstFrameSeconds >= 0;
        }, 30000);
        if (!shown)
            note(QStringLiteral("no camera frame was painted within 30 s; devices listed: %1; messages: %2")
                     .arg(usbDevices().join(QStringLiteral(", ")), answerer.messages.join(QStringLiteral(" | "))));
        return shown;
    }

    // 1920x1080 for the preview and the pictures (stored for the camera).
    bool selectFullHd()
    {
        auto *preview = window->cameraSettings()->findChild<QComboBox *>(QStringLiteral("previewRes_comboBox"));
        auto *photo = window->cameraSettings()->findChild<QComboBox *>(QStringLiteral("photoRes_comboBox"));
        if (photo)
            photo->setCurrentText(QStringLiteral("1920x1080"));
        if (preview && preview->currentText() != QStringLiteral("1920x1080"))
            preview->setCurrentText(QStringLiteral("1920x1080"));
        return runUntil([&] { return shownSize() == QSize(1920, 1080); }, 20000);
    }

    DialogAnswerer answerer;
    MainWindow2 *window = nullptr;
    OpenGLVideoWidget *glView = nullptr;
    PaintCounter painted;
    DeviceMap devices;
};

// The first start over fresh settings: the camera's own default picture
// size, then 1920x1080 chosen and stored.
int firstStart()
{
    ProgramRun run;
    if (!run.waitForFirstFrame())
        return 1;
    const QSize first = run.shownSize();
    print(row(QStringLiteral("first frame painted, fresh settings (%1x%2)").arg(first.width()).arg(first.height()),
              QStringLiteral("%1 s").arg(run.painted.firstFrameSeconds, 0, 'f', 2), QStringLiteral("-")));
    if (!run.selectFullHd()) {
        note(QStringLiteral("1920x1080 could not be chosen: the live view shows %1x%2")
                 .arg(run.shownSize().width()).arg(run.shownSize().height()));
        return 1;
    }
    runFor(1000);
    return 0;
}

int measuredStart(int liveMinutes)
{
    Heartbeat heartbeat;
    ProgramRun run;
    if (!run.waitForFirstFrame())
        return 1;
    const QSize first = run.shownSize();
    print(row(QStringLiteral("first camera frame painted, from process start"),
              QStringLiteral("%1 s").arg(run.painted.firstFrameSeconds, 0, 'f', 2),
              QStringLiteral("< %1 s").arg(kStartTargetSeconds)));
    note(QStringLiteral("CPU time until then: GUI thread %1 s, whole process %2 s")
             .arg(run.painted.guiCpuSeconds, 0, 'f', 2).arg(run.painted.processCpuSeconds, 0, 'f', 2));
    if (first != QSize(1920, 1080)) {
        note(QStringLiteral("the first frame was %1x%2, not the stored 1920x1080").arg(first.width()).arg(first.height()));
        if (!run.selectFullHd())
            return 1;
    }

    // ---- Memory: the plain live view.
    QElapsedTimer live;
    live.start();
    heartbeat.setPhase("live");
    const qint64 framesAtStart = run.receivedFrames(), paintsAtStart = run.painted.paints;
    runFor(60000);
    const double residentAfterMinute = residentMegabytes();
    print(row(QStringLiteral("resident memory after 60 s live"), QStringLiteral("%1 MB").arg(residentAfterMinute, 0, 'f', 1),
              QStringLiteral("< %1 MB").arg(kMemoryTargetMb)));
    QStringList perMinute;
    for (int minute = 2; minute <= liveMinutes; ++minute) {
        runFor(int(qint64(minute) * 60000 - live.elapsed()));
        perMinute << QString::number(residentMegabytes(), 'f', 1);
    }
    const double residentAtEnd = residentMegabytes();
    const double liveSeconds = live.elapsed() / 1000.0;
    const double growth = 100.0 * (residentAtEnd - residentAfterMinute) / residentAfterMinute;
    print(row(QStringLiteral("resident memory after %1 min live").arg(liveMinutes),
              QStringLiteral("%1 MB").arg(residentAtEnd, 0, 'f', 1), QStringLiteral("< %1 MB").arg(kMemoryTargetMb)));
    print(row(QStringLiteral("growth from 60 s to %1 min").arg(liveMinutes),
              QStringLiteral("%1%2 %").arg(growth >= 0 ? "+" : "").arg(growth, 0, 'f', 2),
              QStringLiteral("<= %1 %").arg(kGrowthTargetPercent)));
    note(QStringLiteral("resident each minute from minute 2: %1 MB").arg(perMinute.join(QStringLiteral(", "))));
    print(row(QStringLiteral("frames received / painted per second, live"),
              QStringLiteral("%1 / %2").arg((run.receivedFrames() - framesAtStart) / liveSeconds, 0, 'f', 1)
                  .arg((run.painted.paints - paintsAtStart) / liveSeconds, 0, 'f', 1),
              QStringLiteral("30 (the camera's rate)")));
    // The live view's stalls are the anchor: on a loaded machine it stalls too.
    print(row(QStringLiteral("GUI stalls > %1 ms, %2 min of live view (anchor)").arg(kStallMs).arg(liveMinutes),
              stallText(heartbeat.phase("live")), QStringLiteral("-"), loadText(heartbeat.phase("live"))));

    // ---- Stalls: the commands, each a few times.
    MainWindow2 *window = run.window;
    QTemporaryDir pictures(qEnvironmentVariable("HOME") + QStringLiteral("/pictures_XXXXXX"));
    window->DrawChange(QuickSavePath, pictures.path());
    window->DrawChange(QuickSave, true);
    window->DrawChange(SaveType, 1);
    window->DrawChange(PrefixData, QStringLiteral("bench"));
    window->DrawChange(PhotoFormat, 0);
    window->DrawChange(SnapOpenImage, false);
    const auto filesIn = [&](const QString &filter) {
        return QDir(pictures.path()).entryInfoList({filter}, QDir::Files).size();
    };
    // A fresh capture thread that has painted frames of its own.
    const auto waitForLive = [&](int timeoutMs) {
        const qint64 paintsBefore = run.painted.paints;
        return runUntil([&] { return run.receivedFrames() > 3 && run.painted.paints > paintsBefore + 3; }, timeoutMs);
    };
    QStringList faults;
    // Each command is delivered to `receiver` as an event of the GUI thread,
    // as a click would be, so that its handler is timed like any other.
    const auto post = [](QObject *receiver, std::function<void()> command) {
        QMetaObject::invokeMethod(receiver, std::move(command), Qt::QueuedConnection);
    };

    constexpr int kSwitches = 3;
    const QStringList listed = run.usbDevices();
    for (int i = 0; i < kSwitches && !listed.isEmpty(); ++i) {
        // Between two listed cameras when there are two, else the same one again.
        const QString next = listed.value((i + 1) % int(listed.size()));
        heartbeat.setPhase("switch");
        post(window, [&run, next] { run.open(next); });
        if (!waitForLive(20000))
            faults << QStringLiteral("no frames after camera switch %1").arg(i + 1);
        runFor(1000);
        heartbeat.setPhase("idle");
    }

    constexpr int kReopens = 3;
    auto *switchButton = window->cameraSettings()->findChild<QPushButton *>(QStringLiteral("cameraSwitch_btn"));
    for (int i = 0; i < kReopens && switchButton; ++i) {
        heartbeat.setPhase("close");
        post(switchButton, [switchButton] { switchButton->click(); });  // the settings page closes through cameraClose
        if (!runUntil([&] { return !window->playThread(); }, 10000))
            faults << QStringLiteral("camera close %1 did not close").arg(i + 1);
        runFor(1000);
        heartbeat.setPhase("reopen");
        post(switchButton, [switchButton] { switchButton->click(); });  // and opens through cameraChange
        if (!waitForLive(20000))
            faults << QStringLiteral("no frames after reopening %1").arg(i + 1);
        runFor(1000);
        heartbeat.setPhase("idle");
    }
    if (run.shownSize() != QSize(1920, 1080))
        faults << QStringLiteral("after the switches the live view shows %1x%2")
                      .arg(run.shownSize().width()).arg(run.shownSize().height());

    constexpr int kSnaps = 5;
    for (int i = 0; i < kSnaps; ++i) {
        heartbeat.setPhase("snap");
        post(window, [window] { window->on_photo_btn_clicked(); });
        runFor(1000);
        heartbeat.setPhase("idle");
    }
    if (filesIn(QStringLiteral("bench_*.jpg")) != kSnaps)
        faults << QStringLiteral("%1 of %2 snapshots written").arg(filesIn(QStringLiteral("bench_*.jpg"))).arg(kSnaps);

    constexpr int kRecordings = 3;
    constexpr int kRecordingMs = 5000;
    auto *recordButton = window->findChild<QPushButton *>(QStringLiteral("record_btn"));
    int completeRecordings = 0;
    for (int i = 0; i < kRecordings && recordButton && window->playThread(); ++i) {
        bool finished = false;
        const QMetaObject::Connection connection = QObject::connect(
            window->playThread()->recorder(), &VideoRecorder::recordingFinished, window,
            [&](const QString &, bool ok) {
                finished = true;
                completeRecordings += ok ? 1 : 0;
            },
            Qt::QueuedConnection);
        heartbeat.setPhase("record start");
        post(recordButton, [recordButton] { recordButton->setChecked(true); });  // on_record_btn_toggled(true)
        runFor(kRecordingMs);
        heartbeat.setPhase("record stop");
        post(recordButton, [recordButton] { recordButton->setChecked(false); });  // on_record_btn_toggled(false)
        if (!runUntil([&] { return finished; }, 20000))
            faults << QStringLiteral("recording %1 did not finish").arg(i + 1);
        runFor(1000);
        heartbeat.setPhase("idle");
        QObject::disconnect(connection);
    }
    if (completeRecordings != kRecordings || filesIn(QStringLiteral("*.mp4")) != kRecordings)
        faults << QStringLiteral("%1 of %2 recordings finished complete, %3 files")
                      .arg(completeRecordings).arg(kRecordings).arg(filesIn(QStringLiteral("*.mp4")));

    const QString none = QStringLiteral("none");
    const auto stallRow = [&](const QString &what, int times, const std::string &phase, const QString &target) {
        print(row(QStringLiteral("GUI stalls > %1 ms, %2 x%3").arg(kStallMs).arg(what).arg(times),
                  stallText(heartbeat.phase(phase)), target, loadText(heartbeat.phase(phase))));
        stallNotes(heartbeat.phase(phase));
    };
    stallRow(QStringLiteral("camera switch"), kSwitches, "switch", none);
    stallRow(QStringLiteral("camera close"), kReopens, "close", none);
    stallRow(QStringLiteral("camera reopen"), kReopens, "reopen", none);
    stallRow(QStringLiteral("Snap"), kSnaps, "snap", none);
    stallRow(QStringLiteral("recording start"), kRecordings, "record start", QStringLiteral("-"));
    stallRow(QStringLiteral("recording stop"), kRecordings, "record stop", none);
    // Informative: the heap the encoder used stays with the allocator.
    print(row(QStringLiteral("resident memory after the commands"),
              QStringLiteral("%1 MB").arg(residentMegabytes(), 0, 'f', 1), QStringLiteral("-")));
    for (const QString &fault : faults)
        note(fault);
    return faults.isEmpty() ? 0 : 1;
}

// Runs this program again with `arguments`; its exit status, or 1.
int runAgain(const std::vector<std::string> &arguments)
{
    std::vector<char *> argv;
    std::string self = "/proc/self/exe";
    argv.push_back(self.data());
    std::vector<std::string> copies = arguments;
    for (std::string &argument : copies)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    if (posix_spawn(&child, self.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
        return 1;
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR)
            return 1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

int usage(const char *program)
{
    std::fprintf(stderr, "usage: %s [--live-minutes N]   (10 by default, at least 1)\n", program);
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    int liveMinutes = 10;
    std::string role, programLog;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--live-minutes" && i + 1 < argc) {
            liveMinutes = std::max(1, std::atoi(argv[++i]));
        } else if ((argument == "--first-start" || argument == "--measured-start") && i + 1 < argc) {
            // The two runs of the program, with the file for its log.
            role = argument;
            programLog = argv[++i];
        } else {
            return usage(argv[0]);
        }
    }

    if (role.empty()) {
        // The two starts over one fresh home folder.
        char homeTemplate[] = "/tmp/vorenta_bench_home_XXXXXX";
        char logTemplate[] = "/tmp/bench_main_window_XXXXXX.log";
        const int logFile = mkstemps(logTemplate, 4);
        if (!mkdtemp(homeTemplate) || logFile < 0) {
            std::perror("bench_main_window: temporary folder");
            return 1;
        }
        close(logFile);
        const std::string home = homeTemplate;
        setenv("HOME", home.c_str(), 1);
        setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
        setenv("XDG_CACHE_HOME", (home + "/cache").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (home + "/runtime").c_str(), 1);
        mkdir((home + "/runtime").c_str(), 0700);
        setenv("VORENTA_VIRTUAL_CAMERA", "1", 1);
        if (!getenv("QT_QPA_PLATFORM"))
            setenv("QT_QPA_PLATFORM", "xcb", 1);

        print(QStringLiteral("Main window with the virtual camera at 1920x1080, 30 fps; live phase %1 min").arg(liveMinutes));
        print(row(QStringLiteral("what"), QStringLiteral("measured"), QStringLiteral("target"), QStringLiteral("load")));
        int status = runAgain({"--first-start", logTemplate});
        if (status == 0)
            status = runAgain({"--measured-start", logTemplate, "--live-minutes", std::to_string(liveMinutes)});
        print(QStringLiteral("program log: %1").arg(QString::fromLocal8Bit(logTemplate)));
        QDir(QString::fromStdString(home)).removeRecursively();
        return status;
    }

    // The program's log lines go to the log file, the measurements to this
    // process's standard output as it came.
    results = fdopen(dup(STDOUT_FILENO), "w");
    const int logFile = open(programLog.c_str(), O_WRONLY | O_APPEND);
    if (!results || logFile < 0) {
        std::perror("bench_main_window: output");
        return 1;
    }
    dup2(logFile, STDOUT_FILENO);
    close(logFile);

    TimedApplication application(argc, argv);
    return role == "--first-start" ? firstStart() : measuredStart(liveMinutes);
}
