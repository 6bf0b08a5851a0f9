// Frames per second of H264Encoder with libx264 at 1920x1080 and 3840x2160
// from I420 frames, beside the ffmpeg command line encoding the same raw
// frames (from a temporary raw file) with the same encoder settings, in the same run.
// Target: at least 0.9x the command line's rate; 1080p at 30 fps on 2 cores
// (run under `taskset -c 0,1`).
#include "frame_convert.h"
#include "h264_encoder.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <random>
#include <thread>
#include <vector>

namespace {

constexpr int kDistinctFrames = 30;

// Moving gradients with a little noise: something an encoder has to work on.
std::vector<VideoFrame> makeFrames(int width, int height)
{
    std::vector<VideoFrame> frames;
    std::mt19937 random(5);
    const int chromaWidth = (width + 1) / 2, chromaHeight = (height + 1) / 2;
    std::vector<uint8_t> y(size_t(width) * height), u(size_t(chromaWidth) * chromaHeight), v(u.size());
    for (int index = 0; index < kDistinctFrames; ++index) {
        for (int row = 0; row < height; ++row)
            for (int column = 0; column < width; ++column)
                y[size_t(row) * width + column] =
                    uint8_t(((row + index * 3) ^ (column + index * 5)) / 2 + (random() & 7));
        for (size_t i = 0; i < u.size(); ++i) {
            u[i] = uint8_t(128 + (i / chromaWidth + index) % 40);
            v[i] = uint8_t(128 - (i % chromaWidth + index) % 40);
        }
        frames.push_back(makeVideoFrameFromPlanes(width, height, y.data(), width, u.data(), chromaWidth, v.data(),
                                                  chromaWidth));
    }
    return frames;
}

struct CountingCallback final : EncodedImageCallback {
    int64_t packets = 0;
    bool OnEncodedPacket(AVPacket *, int, int) override
    {
        ++packets;
        return true;
    }
    bool OnEncodedImage(const EncodedImage &) override { return false; }
};

void encoderFps(benchmark::State &state)
{
    const int width = int(state.range(0)), height = int(state.range(1)), count = int(state.range(2));
    const std::vector<VideoFrame> frames = makeFrames(width, height);
    const VideoCodecSettings settings = recordingCodecSettings(width, height, 30);
    double seconds = 0.0;
    for (auto _ : state) {
        H264Encoder encoder([](const char *name) { return std::string(name) == "libx264" && probeH264Encoder(name); });
        if (!encoder.InitEncoder(settings)) {
            state.SkipWithError("libx264 did not open");
            return;
        }
        CountingCallback callback;
        encoder.RegisterCallback(&callback);
        const auto start = std::chrono::steady_clock::now();
        encoder.Start();
        for (int i = 0; i < count; ++i) {
            // Keep the queue from dropping: this measures throughput, not real time.
            while (encoder.queuedFrameCount() >= H264Encoder::kMaxQueuedFrames - 1)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            encoder.Encode(frames[size_t(i % kDistinctFrames)], int64_t(i) * 33333);
        }
        encoder.Stop();
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(elapsed);
        seconds += elapsed;
        if (callback.packets != count)
            state.SkipWithError("packets lost");
    }
    state.counters["fps"] = double(count) * double(state.iterations()) / seconds;
}

void commandLineFps(benchmark::State &state)
{
    const int width = int(state.range(0)), height = int(state.range(1)), count = int(state.range(2));
    const std::vector<VideoFrame> frames = makeFrames(width, height);
    const VideoCodecSettings settings = recordingCodecSettings(width, height, 30);
    // The same distinct frames as raw I420 in a temporary file, looped by
    // ffmpeg as the encoder benchmark cycles through them.
    char rawPath[] = "/tmp/vorenta_bench_XXXXXX";
    const int descriptor = mkstemp(rawPath);
    FILE *raw = descriptor >= 0 ? fdopen(descriptor, "wb") : nullptr;
    if (!raw) {
        state.SkipWithError("no temporary file");
        return;
    }
    for (const VideoFrame &frame : frames) {
        const auto planes = frame.buffer()->toI420();
        const size_t bytes = size_t(planes->strideY()) * height + size_t(planes->strideU()) * planes->chromaHeight()
                             + size_t(planes->strideV()) * planes->chromaHeight();
        std::fwrite(planes->dataY(), 1, bytes, raw);  // one block, tight strides
    }
    std::fclose(raw);
    char command[768];
    std::snprintf(command, sizeof command,
                  "ffmpeg -nostdin -hide_banner -loglevel error -stream_loop -1 -f rawvideo -pix_fmt yuv420p -s %dx%d "
                  "-framerate 30 -i %s -frames:v %d -c:v libx264 -preset ultrafast -profile:v baseline -crf %g -g %d "
                  "-bf 0 -threads 0 -f null -",
                  width, height, rawPath, count, double(settings.crf), settings.gop);
    // Bring the file into the page cache before timing.
    std::system((std::string("cat ") + rawPath + " > /dev/null").c_str());
    double seconds = 0.0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const int status = std::system(command);
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (status != 0) {
            state.SkipWithError("ffmpeg failed");
            break;
        }
        state.SetIterationTime(elapsed);
        seconds += elapsed;
    }
    std::remove(rawPath);
    if (seconds > 0)
        state.counters["fps"] = double(count) * double(state.iterations()) / seconds;
}

}  // namespace

BENCHMARK(encoderFps)->Name("H264Encoder_libx264/1080p")->Args({1920, 1080, 300})->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(commandLineFps)->Name("ffmpeg_cli_libx264/1080p")->Args({1920, 1080, 300})->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(encoderFps)->Name("H264Encoder_libx264/4K")->Args({3840, 2160, 120})->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(commandLineFps)->Name("ffmpeg_cli_libx264/4K")->Args({3840, 2160, 120})->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
