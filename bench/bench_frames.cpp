// Frame building and conversion at 1080p and 4K, beside a plain memcpy of the
// same bytes. Target: makeVideoFrame within 1.5x of the memcpy.
#include "capture.h"
#include "frame_convert.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

struct Source {
    int width, height;
    std::vector<uint8_t> y, u, v;
    // A strided record, as cameras hand them out (rows padded to 64 bytes and more).
    Source(int w, int h) : width(w), height(h)
    {
        y.assign(size_t(strideY()) * h, 100);
        u.assign(size_t(strideC()) * (h / 2), 120);
        v.assign(size_t(strideC()) * (h / 2), 140);
    }
    int strideY() const { return width + 128; }
    int strideC() const { return width / 2 + 64; }
    cap_frame record()
    {
        cap_frame r{};
        r.y = y.data();
        r.u = u.data();
        r.v = v.data();
        r.format = CAP_FORMAT_I420;
        r.width = width;
        r.height = height;
        r.stride_y = strideY();
        r.stride_u = strideC();
        r.stride_v = strideC();
        return r;
    }
};

void setBytes(benchmark::State &state, int w, int h)
{
    state.SetBytesProcessed(int64_t(state.iterations()) * (int64_t(w) * h * 3 / 2));
    state.SetLabel(std::to_string(w) + "x" + std::to_string(h));
}

void BM_Memcpy(benchmark::State &state)
{
    const int w = int(state.range(0)), h = int(state.range(1));
    const size_t bytes = size_t(w) * h * 3 / 2;
    std::vector<uint8_t> from(bytes, 1);
    for (auto _ : state) {
        // A fresh, uninitialised destination each time, as makeVideoFrame allocates one.
        std::unique_ptr<uint8_t[]> to(new uint8_t[bytes]);
        std::memcpy(to.get(), from.data(), bytes);
        benchmark::DoNotOptimize(to.get());
    }
    setBytes(state, w, h);
}

void BM_MakeVideoFrame(benchmark::State &state)
{
    const int w = int(state.range(0)), h = int(state.range(1));
    Source source(w, h);
    cap_frame record = source.record();
    for (auto _ : state) {
        VideoFrame frame = makeVideoFrame(record);
        benchmark::DoNotOptimize(frame.buffer().get());
    }
    setBytes(state, w, h);
}

void BM_VideoFrameToMat(benchmark::State &state)
{
    const int w = int(state.range(0)), h = int(state.range(1));
    Source source(w, h);
    cap_frame record = source.record();
    const VideoFrame frame = makeVideoFrame(record);
    for (auto _ : state) {
        cv::Mat mat = videoFrameToMat(frame);
        benchmark::DoNotOptimize(mat.data);
    }
    setBytes(state, w, h);
}

void BM_VideoFrameToImage(benchmark::State &state)
{
    const int w = int(state.range(0)), h = int(state.range(1));
    Source source(w, h);
    cap_frame record = source.record();
    const VideoFrame frame = makeVideoFrame(record);
    for (auto _ : state) {
        QImage image = videoFrameToImage(frame);
        benchmark::DoNotOptimize(image.constBits());
    }
    setBytes(state, w, h);
}

} // namespace

#define SIZES ->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMicrosecond)
BENCHMARK(BM_Memcpy) SIZES;
BENCHMARK(BM_MakeVideoFrame) SIZES;
BENCHMARK(BM_VideoFrameToMat) SIZES;
BENCHMARK(BM_VideoFrameToImage) SIZES;

BENCHMARK_MAIN();
