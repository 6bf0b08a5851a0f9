// Frames per second of H264Encoder with libx264 at 1920x1080 and 3840x2160
// from I420 frames, beside the same encoder driven through libavcodec
// in-process with the same settings (preset, profile, crf, GOP, no B-frames,
// threads), fed the same frames without a copy: what the recorder's encoder
// adds on top of libx264 itself (its queue and worker thread, and the slice
// threads it starts on so that a recording's first packet comes out at
// once: the anchor keeps x264's own threading throughout). Each iteration
// runs the anchor and ours one after the other, so both see the same machine
// load; the counters give both rates, their ratio, the lowest and highest
// ratio of a pair, and the load average.
// Target: at least 0.9x the anchor; 1080p at 30 fps on 2 cores (run under
// `taskset -c 0,1`).
#include "frame_convert.h"
#include "h264_encoder.h"

#include <benchmark/benchmark.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

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

// Seconds for `count` frames through H264Encoder (open to last packet out);
// negative when it failed.
double encodeOurs(const std::vector<VideoFrame> &frames, const VideoCodecSettings &settings, int count)
{
    H264Encoder encoder([](const char *name) { return std::string(name) == "libx264" && probeH264Encoder(name); });
    if (!encoder.InitEncoder(settings))
        return -1;
    CountingCallback callback;
    encoder.RegisterCallback(&callback);
    const auto start = Clock::now();
    encoder.Start();
    for (int i = 0; i < count; ++i) {
        // Keep the queue from dropping: this measures throughput, not real time.
        while (encoder.queuedFrameCount() >= H264Encoder::kMaxQueuedFrames - 1)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        encoder.Encode(frames[size_t(i % kDistinctFrames)], int64_t(i) * 33333);
    }
    encoder.Stop();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return callback.packets == count ? seconds : -1;
}

void keepPlanes(void *, uint8_t *) {}

// The same libx264 encoder and settings through libavcodec on the calling
// thread: the frames are handed over as they are, as H264Encoder does.
double encodeAnchor(const std::vector<VideoFrame> &frames, const VideoCodecSettings &settings, int count)
{
    const AVCodec *codec = avcodec_find_encoder_by_name("libx264");
    AVCodecContext *context = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (!context)
        return -1;
    context->width = settings.width;
    context->height = settings.height;
    context->gop_size = settings.gop;
    context->time_base = AVRational{1, H264Encoder::kTimeBase};
    context->framerate = AVRational{settings.fps, 1};
    context->bit_rate = 0;
    context->rc_buffer_size = 0;
    context->max_b_frames = 0;
    context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    context->thread_count = 0;
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    AVDictionary *options = nullptr;
    av_dict_set(&options, "preset", "ultrafast", 0);
    av_dict_set(&options, "profile", "baseline", 0);
    av_dict_set(&options, "crf", std::to_string(settings.crf).c_str(), 0);
    const int opened = avcodec_open2(context, codec, &options);
    av_dict_free(&options);
    const auto start = Clock::now();
    AVFrame *picture = av_frame_alloc();
    AVPacket *packet = av_packet_alloc();
    int64_t packets = 0;
    const auto drain = [&] {
        while (avcodec_receive_packet(context, packet) == 0) {
            ++packets;
            av_packet_unref(packet);
        }
    };
    for (int i = 0; opened >= 0 && picture && packet && i < count; ++i) {
        const auto planes = frames[size_t(i % kDistinctFrames)].buffer()->toI420();
        picture->buf[0] = av_buffer_create(const_cast<uint8_t *>(planes->dataY()), 1, keepPlanes, nullptr,
                                           AV_BUFFER_FLAG_READONLY);
        picture->format = AV_PIX_FMT_YUV420P;
        picture->width = planes->width();
        picture->height = planes->height();
        picture->data[0] = const_cast<uint8_t *>(planes->dataY());
        picture->data[1] = const_cast<uint8_t *>(planes->dataU());
        picture->data[2] = const_cast<uint8_t *>(planes->dataV());
        picture->linesize[0] = planes->strideY();
        picture->linesize[1] = planes->strideU();
        picture->linesize[2] = planes->strideV();
        picture->pts = av_rescale(int64_t(i) * 33333, H264Encoder::kTimeBase, 1000000);
        const int sent = avcodec_send_frame(context, picture);
        av_frame_unref(picture);
        if (sent < 0)
            break;
        drain();
    }
    if (opened >= 0 && avcodec_send_frame(context, nullptr) == 0)
        drain();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    av_packet_free(&packet);
    av_frame_free(&picture);
    avcodec_free_context(&context);
    return packets == count ? seconds : -1;
}

double loadAverage()
{
    double load[1] = {0};
    return getloadavg(load, 1) == 1 ? load[0] : -1;
}

void encoderBesideLibavcodec(benchmark::State &state)
{
    const int width = int(state.range(0)), height = int(state.range(1)), count = int(state.range(2));
    const std::vector<VideoFrame> frames = makeFrames(width, height);
    const VideoCodecSettings settings = recordingCodecSettings(width, height, 30);
    double ours = 0.0, anchor = 0.0;
    std::vector<double> ratios;
    const double loadBefore = loadAverage();
    bool anchorFirst = true;
    for (auto _ : state) {
        // In turns first, so that neither always meets a warmer cache or a
        // quieter moment.
        double anchorSeconds = 0, ourSeconds = 0;
        if (anchorFirst) {
            anchorSeconds = encodeAnchor(frames, settings, count);
            ourSeconds = encodeOurs(frames, settings, count);
        } else {
            ourSeconds = encodeOurs(frames, settings, count);
            anchorSeconds = encodeAnchor(frames, settings, count);
        }
        anchorFirst = !anchorFirst;
        if (anchorSeconds <= 0 || ourSeconds <= 0) {
            state.SkipWithError("libx264 did not open, or packets were lost");
            return;
        }
        state.SetIterationTime(ourSeconds);
        ours += ourSeconds;
        anchor += anchorSeconds;
        ratios.push_back(anchorSeconds / ourSeconds);
    }
    const double iterations = double(state.iterations());
    state.counters["fps"] = double(count) * iterations / ours;
    state.counters["libavcodec_fps"] = double(count) * iterations / anchor;
    // All pairs together (each went first as often as the other), and the
    // spread of the pairs.
    state.counters["vs_libavcodec"] = anchor / ours;
    std::sort(ratios.begin(), ratios.end());
    state.counters["pair_low"] = ratios.front();
    state.counters["pair_high"] = ratios.back();
    state.counters["load"] = (loadBefore + loadAverage()) / 2;
}

}  // namespace

BENCHMARK(encoderBesideLibavcodec)->Name("H264Encoder_vs_libavcodec_libx264/1080p")->Args({1920, 1080, 300})->UseManualTime()->Iterations(4)->Unit(benchmark::kMillisecond);
BENCHMARK(encoderBesideLibavcodec)->Name("H264Encoder_vs_libavcodec_libx264/4K")->Args({3840, 2160, 120})->UseManualTime()->Iterations(4)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
