// USB camera conversions and the virtual camera at 1080p and 4K, each beside
// a plain memcpy of the I420 frame it produces. Target: every conversion
// fast enough for 60 fps at 4K on one core (16.7 ms a frame).
#include "backend.h"
#include "convert.h"
#include "virtual_backend.h"

#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <cstring>
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
    tjhandle handle = tjInitCompress();
    const int chromaWidth = (width + 1) / 2;
    // Widen the 4:2:0 chroma to 4:2:2 by repeating rows.
    std::vector<uint8_t> u(size_t(chromaWidth) * height), v(size_t(chromaWidth) * height);
    for (int row = 0; row < height; ++row) {
        std::memcpy(&u[size_t(row) * chromaWidth], frame.u() + size_t(row / 2) * chromaWidth, size_t(chromaWidth));
        std::memcpy(&v[size_t(row) * chromaWidth], frame.v() + size_t(row / 2) * chromaWidth, size_t(chromaWidth));
    }
    const unsigned char *planes[3] = {frame.y(), u.data(), v.data()};
    int strides[3] = {width, chromaWidth, chromaWidth};
    unsigned char *jpeg = nullptr;
    unsigned long size = 0;
    tjCompressFromYUVPlanes(handle, planes, width, strides, height, TJSAMP_422, &jpeg, &size, 85, 0);
    std::vector<uint8_t> bytes(jpeg, jpeg + size);
    tjFree(jpeg);
    tjDestroy(handle);
    return bytes;
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

#define VORENTA_SIZES ->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond)

BENCHMARK(BM_Memcpy) VORENTA_SIZES;
BENCHMARK(BM_MjpegToI420) VORENTA_SIZES;
BENCHMARK(BM_YuyvToI420) VORENTA_SIZES;
BENCHMARK(BM_Nv12ToI420) VORENTA_SIZES;
BENCHMARK(BM_VirtualCameraFrame) VORENTA_SIZES;

} // namespace

BENCHMARK_MAIN();
