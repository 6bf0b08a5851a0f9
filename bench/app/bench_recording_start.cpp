// How soon a recording starts after the click: the real main window with the
// virtual camera at 1920x1080, 30 fps, on an X server. For each of a few
// recordings, from `record_btn` toggled on:
//
//  - until the recorder has its encoder and file open (it is started);
//  - until the first frame is written into the file;
//  - the first frame's capture time against the click (negative: a frame
//    read just before the click, still waiting for its turn);
//
// each beside the capture thread's frame interval (the anchor), in the same
// run; target under 100 ms for the last two. Then the resident memory once
// the recordings are finished, beside the memory of the live view before
// them (target: under 300 MB).
//
//   scripts/isolated xvfb-run -a -s "-screen 0 1920x1080x24" build/release/bench/app/bench_recording_start
//
// (the program announces itself on the network when it starts: run it only
// in a private network namespace). It runs over a temporary home folder of
// its own, never the user's settings.
#include "cam_settings.h"
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
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

extern "C" {
#include <libavutil/log.h>
}

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include <unistd.h>

namespace {

constexpr int kRecordings = 5;
constexpr int kRecordingMs = 2000;
constexpr double kTargetMs = 100.0;
constexpr double kMemoryTargetMb = 300.0;

bool runUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QEventLoop loop;
        QTimer::singleShot(2, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

void runFor(int milliseconds)
{
    runUntil([] { return false; }, milliseconds);
}

// Resident memory in MB (2^20 bytes), from the second field of
// /proc/self/statm (pages); -1 when it can't be read.
double residentMegabytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toDouble() * double(sysconf(_SC_PAGESIZE)) / 1048576.0 : -1;
}

void print(const QString &what, const QString &measured, const QString &target)
{
    std::printf("%s\n", qPrintable(QStringLiteral("%1  %2  %3").arg(what, -58).arg(measured, -30).arg(target)));
    std::fflush(stdout);
}

// "median (min to max) ms" of values in milliseconds.
QString spread(std::vector<double> values)
{
    if (values.empty())
        return QStringLiteral("-");
    std::sort(values.begin(), values.end());
    return QStringLiteral("%1 (%2 to %3) ms")
        .arg(values[values.size() / 2], 0, 'f', 1)
        .arg(values.front(), 0, 'f', 1)
        .arg(values.back(), 0, 'f', 1);
}

// Closes every message box (the "Stop Recording" note) as a user would.
void answerMessages()
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible() && !box->buttons().isEmpty())
            box->buttons().first()->click();
}

int measure()
{
    auto *window = new MainWindow2;
    window->show();
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, answerMessages);
    answerer.start(50);
    OpenGLVideoWidget *gl = window->liveView()->liveView();
    if (!runUntil([&] { return window->playThread() && gl->textureWidth(0) > 0; }, 30000)) {
        std::printf("no camera frame was shown within 30 s\n");
        return 1;
    }
    auto *preview = window->cameraSettings()->findChild<QComboBox *>(QStringLiteral("previewRes_comboBox"));
    if (preview && preview->currentText() != QStringLiteral("1920x1080"))
        preview->setCurrentText(QStringLiteral("1920x1080"));
    if (!runUntil([&] { return gl->textureWidth(0) == 1920; }, 20000)) {
        std::printf("the camera did not switch to 1920x1080\n");
        return 1;
    }
    runFor(3000);

    QTemporaryDir videos(QDir::homePath() + QStringLiteral("/videos_XXXXXX"));
    window->DrawChange(QuickSavePath, videos.path());
    auto *record = window->findChild<QPushButton *>(QStringLiteral("record_btn"));

    // The anchor: the capture thread's frame interval, over 2 s of live view.
    const qint64 framesBefore = window->playThread()->receivedFrameCount();
    QElapsedTimer live;
    live.start();
    runFor(2000);
    const double frameIntervalMs =
        double(live.elapsed()) / double(std::max<qint64>(1, window->playThread()->receivedFrameCount() - framesBefore));
    const double residentLive = residentMegabytes();

    std::vector<double> started, written, captured;
    int faults = 0;
    for (int i = 0; i < kRecordings; ++i) {
        VideoRecorder *recorder = window->playThread()->recorder();
        bool finished = false;
        const QMetaObject::Connection connection = QObject::connect(
            recorder, &VideoRecorder::recordingFinished, window, [&](const QString &, bool) { finished = true; },
            Qt::QueuedConnection);
        const int64_t clickUs = captureClockMicroseconds();
        record->setChecked(true);
        int64_t startedUs = 0;
        const bool wrote = runUntil(
            [&] {
                if (!startedUs && recorder->isRecording())
                    startedUs = captureClockMicroseconds();
                return recorder->startTiming().firstFrameWrittenUs != 0;
            },
            10000);
        runFor(kRecordingMs);
        record->setChecked(false);
        if (!wrote || !runUntil([&] { return finished; }, 30000)) {
            ++faults;
        } else {
            const VideoRecorder::StartTiming timing = recorder->startTiming();
            if (startedUs)
                started.push_back(double(startedUs - clickUs) / 1000.0);
            written.push_back(double(timing.firstFrameWrittenUs - clickUs) / 1000.0);
            captured.push_back(double(timing.firstFrameCaptureUs - clickUs) / 1000.0);
        }
        QObject::disconnect(connection);
        runFor(1000);
    }
    runFor(2000);

    const QString interval = QStringLiteral("anchor: frame interval %1 ms").arg(frameIntervalMs, 0, 'f', 1);
    print(QStringLiteral("click to recorder started, x%1").arg(kRecordings), spread(started), interval);
    print(QStringLiteral("click to first frame written"), spread(written),
          QStringLiteral("< %1 ms; ").arg(kTargetMs) + interval);
    print(QStringLiteral("first frame's capture time against the click"), spread(captured),
          QStringLiteral("< %1 ms; ").arg(kTargetMs) + interval);
    print(QStringLiteral("resident memory, live view before the recordings (anchor)"),
          QStringLiteral("%1 MB").arg(residentLive, 0, 'f', 1), QStringLiteral("-"));
    print(QStringLiteral("resident memory after %1 recordings").arg(kRecordings),
          QStringLiteral("%1 MB").arg(residentMegabytes(), 0, 'f', 1), QStringLiteral("< %1 MB").arg(kMemoryTargetMb));
    if (faults)
        std::printf("  note: %d of %d recordings wrote no frame or did not finish\n", faults, kRecordings);

    delete window;
    FinishingRecorders::waitForAll(FinishingRecorders::kShutdownWaitMs);
    return faults ? 1 : 0;
}

} // namespace

int main(int argc, char *argv[])
{
    // A home of its own: the settings, the log and the recordings.
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/vorenta_bench_home_XXXXXX"));
    for (const char *name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
        qputenv(name, (home.path() + QLatin1Char('/') + QLatin1String(name)).toLocal8Bit());
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("VORENTA_VIRTUAL_CAMERA", "1");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    // The program's log lines and the encoder's are not the measurements.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    av_log_set_level(AV_LOG_ERROR);
    QApplication application(argc, argv);
    registerVideoFrameMetaType();
    registerSettingsMetaTypes();
    std::printf("Recording start with the virtual camera at 1920x1080, 30 fps (load average: %s)\n",
                qPrintable(QString::fromLatin1([] {
                    QFile load(QStringLiteral("/proc/loadavg"));
                    return load.open(QIODevice::ReadOnly) ? load.readAll().trimmed() : QByteArray("?");
                }())));
    return measure();
}
