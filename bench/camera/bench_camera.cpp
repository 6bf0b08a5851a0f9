// USB camera conversions and the virtual camera at 1080p and 4K, each beside
// a plain memcpy of the I420 frame it produces. Target: every conversion
// fast enough for 60 fps at 4K on one core (16.7 ms a frame); MJPEG, which
// is not, reaches 60 fps at 4K through cap_read on at most two decoding
// threads (BM_CapReadMjpeg with 2, beside the same stream decoded on the
// reading thread alone).
#include "backend.h"
#include "capture.h"
#include "convert.h"
#include "scripted_uvc.h"
#include "v4l2_backend.h"
#include "virtual_backend.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <memory>
#include <thread>
#include <vector>

using namespace usbcam;

namespace {

size_t i420Bytes(int width, int height) { return I420Frame::sizeFor(width, height); }

void label(benchmark::State &state, int width, int height)
{
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(i420Bytes(width, height)));
    state.SetLabel(std::to_string(width) + "x" + std::to_string(height));
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

// A camera-like picture: the virtual camera's own frame, encoded as the
// 4:2:2 MJPEG most UVC cameras send, at quality 85.
std::vector<uint8_t> cameraJpeg(int width, int height)
{
    I420Frame frame;
    renderVirtualFrame(frame, width, height, 1.0);
    return encodeMjpeg(frame, 85);
}

void BM_Memcpy(benchmark::State &state)
{
    const int width = int(state.range(0)), height = int(state.range(1));
    std::vector<uint8_t> from(i420Bytes(width, height), 1), to(i420Bytes(width, height));
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), from.size());
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    label(state, width, height);
}

void BM_MjpegToI420(benchmark::State &state)
{
    const int width = int(state.range(0)), height = int(state.range(1));
    const std::vector<uint8_t> jpeg = cameraJpeg(width, height);
    I420Frame out;
    out.resize(width, height);
    MjpegDecoder decoder;
    for (auto _ : state) {
        if (!decoder.decode(jpeg.data(), jpeg.size(), width, height, out.y(), out.u(), out.v()))
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(out.data.data());
    }
    label(state, width, height);
    state.counters["jpeg_kB"] = double(jpeg.size()) / 1024.0;
}

void BM_YuyvToI420(benchmark::State &state)
{
    const int width = int(state.range(0)), height = int(state.range(1));
    std::vector<uint8_t> yuyv(size_t(width) * height * 2);
    for (size_t i = 0; i < yuyv.size(); ++i)
        yuyv[i] = uint8_t(i * 7);
    I420Frame out;
    out.resize(width, height);
    for (auto _ : state) {
        yuyvToI420(yuyv.data(), width * 2, width, height, out.y(), out.u(), out.v());
        benchmark::DoNotOptimize(out.data.data());
    }
    label(state, width, height);
}

void BM_Nv12ToI420(benchmark::State &state)
{
    const int width = int(state.range(0)), height = int(state.range(1));
    std::vector<uint8_t> nv12(size_t(width) * height * 3 / 2, 90);
    I420Frame out;
    out.resize(width, height);
    for (auto _ : state) {
        nv12ToI420(nv12.data(), width, nv12.data() + size_t(width) * height, width, width, height, out.y(), out.u(),
                   out.v());
        benchmark::DoNotOptimize(out.data.data());
    }
    label(state, width, height);
}

// The work of one virtual-camera read without its pacing: pan, crop and the
// picture controls.
void BM_VirtualCameraFrame(benchmark::State &state)
{
    const int width = int(state.range(0)), height = int(state.range(1));
    I420Frame out;
    double seconds = 0;
    for (auto _ : state) {
        renderVirtualFrame(out, width, height, seconds);
        seconds += 1.0 / 30;
        benchmark::DoNotOptimize(out.data.data());
    }
    label(state, width, height);
}

// A UVC camera streaming MJPEG as fast as it is read (a scripted camera
// behind the V4L2 calls, every buffer already filled), read through cap_read
// and released with free_frame like the capture thread does. Arguments:
// size, decoding threads (0: the reading thread alone), and the pause in
// milliseconds after every read (the capture thread's loop pauses 10 ms).
void BM_CapReadMjpeg(benchmark::State &state)
{
    const int width = int(state.range(0)), height = int(state.range(1)), threads = int(state.range(2));
    const auto pause = std::chrono::milliseconds(state.range(3));
    ScriptedV4l2 scripted;
    ScriptedUvcCamera model = ScriptedUvcCamera::typical();
    model.formats.front().sizes = {{uint32_t(width), uint32_t(height), {60}}};
    const int camera = scripted.addCamera(0, model);
    const auto jpeg = std::make_shared<const std::vector<uint8_t>>(cameraJpeg(width, height));
    scripted.sendForever(camera, ScriptedFrame{jpeg});
    setMjpegDecodeThreads(threads);

    cap_record record;
    std::memset(&record, 0, sizeof record);
    const std::string path = v4l2PathFor(model.busInfo, model.vendor, model.product, 0);
    std::strncpy(record.device_path, path.c_str(), sizeof record.device_path - 1);
    record.width = width;
    record.height = height;
    record.fps = 60;
    if (cap_open(&record) != CAP_OK) {
        state.SkipWithError("cap_open failed");
        setMjpegDecodeThreads(-1);
        return;
    }
    int64_t empty = 0;
    const auto readOne = [&] {
        for (int attempt = 0; attempt < 100; ++attempt) {
            cap_frame frame;
            std::memset(&frame, 0, sizeof frame);
            const int result = cap_read(&record, &frame);
            if (pause.count())
                std::this_thread::sleep_for(pause);
            if (result == CAP_OK) {
                benchmark::DoNotOptimize(frame.y[0]);
                free_frame(&frame);
                return true;
            }
            ++empty;
        }
        return false;
    };
    for (int i = 0; i < 3; ++i)  // the pool fills
        readOne();
    empty = 0;
    // CPU time of the whole process per frame: the decoding threads' work,
    // which a busy machine can delay but not change.
    timespec cpuStart{}, cpuEnd{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpuStart);
    for (auto _ : state) {
        if (!readOne()) {
            state.SkipWithError("no frames");
            break;
        }
    }
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpuEnd);
    cap_close(&record);
    setMjpegDecodeThreads(-1);
    label(state, width, height);
    const double cpuSeconds = double(cpuEnd.tv_sec - cpuStart.tv_sec) + double(cpuEnd.tv_nsec - cpuStart.tv_nsec) / 1e9;
    state.counters["cpu_ms_per_frame"] = state.iterations() ? cpuSeconds * 1000.0 / double(state.iterations()) : 0.0;
    state.counters["decoding_threads"] = threads ? threads : 1;
    state.counters["empty_reads"] = double(empty);
    state.counters["jpeg_kB"] = double(jpeg->size()) / 1024.0;
}

#define VORENTA_SIZES ->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond)

BENCHMARK(BM_Memcpy) VORENTA_SIZES;
BENCHMARK(BM_MjpegToI420) VORENTA_SIZES;
BENCHMARK(BM_YuyvToI420) VORENTA_SIZES;
BENCHMARK(BM_Nv12ToI420) VORENTA_SIZES;
BENCHMARK(BM_VirtualCameraFrame) VORENTA_SIZES;
BENCHMARK(BM_CapReadMjpeg)
    ->Args({3840, 2160, 0, 0})
    ->Args({3840, 2160, 2, 0})
    ->Args({3840, 2160, 0, 10})
    ->Args({3840, 2160, 2, 10})
    ->MinTime(3.0)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
