// The capture loop at 1920x1080 / 30 fps from the virtual camera: frames
// delivered per second and CPU time per frame of the capture thread, without
// and with recording, beside the virtual camera's own rendering cost (which
// runs inside the read on the capture thread, so the loop's own share is the
// difference). Target: no dropped frames at 30 fps with recording on.
//
// Each case captures for VORENTA_BENCH_SECONDS (default 5) seconds of wall
// time; the view is a receiver on the main thread that takes every frame it
// is handed.
#include "camera.h"
#include "video_recorder.h"
#include "virtual_backend.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>
#include <pthread.h>
#include <time.h>

#include <cstdlib>
#include <functional>

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFps = 30;

int benchSeconds()
{
    const char *text = std::getenv("VORENTA_BENCH_SECONDS");
    const int seconds = text ? std::atoi(text) : 0;
    return seconds > 0 ? seconds : 5;
}

double cpuSeconds(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

void runEvents(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

bool runEventsUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        runEvents(2);
    }
    return true;
}

void BM_CaptureLoop(benchmark::State &state)
{
    const bool recording = state.range(0) != 0;
    const int seconds = benchSeconds();
    QTemporaryDir folder;
    for (auto _ : state) {
        auto camera = QSharedPointer<E530UCamera>::create();
        CameraOpenSettings settings;
        settings.usb.devicePath = usbcam::kVirtualCameraPath;
        settings.usb.width = kWidth;
        settings.usb.height = kHeight;
        settings.usb.resolutionText = Resolution(kWidth, kHeight).text;
        settings.usb.fps = kFps;
        camera->setOpenSettings(settings);
        if (!camera->login(settings)) {
            state.SkipWithError("the virtual camera is not listed");
            return;
        }

        CameraPlayThread thread;
        clockid_t captureClock = CLOCK_THREAD_CPUTIME_ID;
        QObject::connect(
            &thread, &QThread::started, &thread, [&] { pthread_getcpuclockid(pthread_self(), &captureClock); },
            Qt::DirectConnection);
        qint64 viewFrames = 0;
        QObject receiver;
        QObject::connect(&thread, &CameraPlayThread::putVideoFrame, &receiver,
                         [&](const VideoFrame &, int) { ++viewFrames; });
        thread.setCaptureCamera(camera);
        thread.setRunFlag(true);
        thread.start();
        if (!runEventsUntil([&] { return thread.receivedFrameCount() > 5; }, 10000)) {
            state.SkipWithError("no frames");
            return;
        }
        if (recording) {
            thread.handRecord(1, folder.path() + "/bench.mp4");
            if (!runEventsUntil([&] { return thread.recorder()->isRecording(); }, 10000)) {
                state.SkipWithError("the recording did not start");
                return;
            }
            runEvents(500);  // past the encoder's start-up
        }

        const qint64 frames0 = thread.receivedFrameCount();
        const qint64 replaced0 = thread.replacedDisplayFrameCount();
        const qint64 view0 = viewFrames;
        const int64_t encoderDropped0 = H264Encoder::droppedFrameCount();
        const double cpu0 = cpuSeconds(captureClock);
        const double process0 = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        QElapsedTimer wall;
        wall.start();
        runEvents(seconds * 1000);
        const double elapsed = wall.nsecsElapsed() / 1e9;
        const qint64 frames = thread.receivedFrameCount() - frames0;
        const double cpu = cpuSeconds(captureClock) - cpu0;
        const double process = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - process0;
        const qint64 replaced = thread.replacedDisplayFrameCount() - replaced0;
        const qint64 shown = viewFrames - view0;

        if (recording) {
            thread.handRecord(2, QString());
            QMetaObject::invokeMethod(thread.recorder(), [] {}, Qt::BlockingQueuedConnection);
        }
        const int64_t encoderDropped = H264Encoder::droppedFrameCount() - encoderDropped0;
        thread.setRunFlag(false);
        thread.wait();
        state.SetIterationTime(elapsed);

        const double expected = elapsed * kFps;
        state.counters["delivered_fps"] = double(frames) / elapsed;
        state.counters["missed_frames"] = std::max(0.0, expected - double(frames) - 1.0);
        state.counters["loop_cpu_ms_per_frame"] = frames ? cpu * 1000.0 / double(frames) : 0.0;
        state.counters["process_cpu_ms_per_frame"] = frames ? process * 1000.0 / double(frames) : 0.0;
        state.counters["view_frames"] = double(shown);
        state.counters["view_replaced"] = double(replaced);
        state.counters["encoder_dropped"] = double(encoderDropped);
    }
    state.SetLabel(recording ? "1920x1080 30 fps, recording" : "1920x1080 30 fps");
}
BENCHMARK(BM_CaptureLoop)->Arg(0)->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// What the virtual camera spends drawing one frame inside each read: the part
// of the capture thread's CPU time that is not the loop's own.
void BM_VirtualCameraRender(benchmark::State &state)
{
    usbcam::I420Frame frame;
    double seconds = 0.0;
    for (auto _ : state) {
        usbcam::renderVirtualFrame(frame, kWidth, kHeight, seconds);
        seconds += 1.0 / kFps;
        benchmark::DoNotOptimize(frame.y());
    }
    state.SetLabel("1920x1080");
}
BENCHMARK(BM_VirtualCameraRender)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    setenv("VORENTA_VIRTUAL_CAMERA", "1", 1);
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
