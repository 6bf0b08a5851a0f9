// Time per edge-snapping request at 1080p and 4K. The search runs on the
// capture thread with the frame lock held: target well under 10 ms at 4K.
// Beside it, the whole-picture search it replaces (frame to QImage, scale and
// filter everything), for comparison.
#include "frame_convert.h"
#include "imaging.h"

#include <benchmark/benchmark.h>
#include <opencv2/imgproc.hpp>

#include <random>
#include <vector>

namespace {

VideoFrame makeFrame(int width, int height)
{
    std::mt19937 random(3);
    cv::Mat noise(height / 16, width / 16, CV_8UC3);
    cv::randu(noise, cv::Scalar::all(40), cv::Scalar::all(210));
    cv::Mat bgr;
    cv::resize(noise, bgr, cv::Size(width, height), 0, 0, cv::INTER_CUBIC);
    for (int i = 0; i < 200; ++i)
        cv::line(bgr, cv::Point(int(random() % width), int(random() % height)),
                 cv::Point(int(random() % width), int(random() % height)), cv::Scalar::all(double(random() % 256)),
                 1 + int(random() % 4));
    cv::Mat i420;
    cv::cvtColor(bgr, i420, cv::COLOR_BGR2YUV_I420);
    const uint8_t *y = i420.data;
    const uint8_t *u = y + size_t(width) * height;
    const uint8_t *v = u + size_t(width / 2) * (height / 2);
    return makeVideoFrameFromPlanes(width, height, y, width, u, width / 2, v, width / 2);
}

std::vector<EdgeRequest> makeRequests(int viewWidth, int viewHeight)
{
    std::mt19937 random(11);
    std::vector<EdgeRequest> requests;
    for (int i = 0; i < 64; ++i) {
        EdgeRequest r;
        r.x = int(random() % viewWidth);
        r.y = int(random() % viewHeight);
        r.viewWidth = viewWidth;
        r.viewHeight = viewHeight;
        r.type = i % 4 == 0 ? VLine : i % 4 == 1 ? HLine : Line;
        requests.push_back(r);
    }
    return requests;
}

// Frame size, then picture-area size.
void frameRequest(benchmark::State &state)
{
    const VideoFrame frame = makeFrame(int(state.range(0)), int(state.range(1)));
    const auto requests = makeRequests(int(state.range(2)), int(state.range(3)));
    ImageProcess process;
    size_t i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(process.findNearestEdge(frame, requests[i++ % requests.size()]));
}

void wholePictureRequest(benchmark::State &state)
{
    const VideoFrame frame = makeFrame(int(state.range(0)), int(state.range(1)));
    const auto requests = makeRequests(int(state.range(2)), int(state.range(3)));
    size_t i = 0;
    for (auto _ : state) {
        const edgesearch::MatSource source(qImageToMat(videoFrameToImage(frame)));
        benchmark::DoNotOptimize(edgesearch::findNearestEdgeWholePicture(source, requests[i++ % requests.size()]));
    }
}

}  // namespace

BENCHMARK(frameRequest)->Name("EdgeRequest/1080p_view1280x720")->Args({1920, 1080, 1280, 720})->Unit(benchmark::kMicrosecond);
BENCHMARK(frameRequest)->Name("EdgeRequest/1080p_view1920x1080")->Args({1920, 1080, 1920, 1080})->Unit(benchmark::kMicrosecond);
BENCHMARK(frameRequest)->Name("EdgeRequest/4K_view1280x720")->Args({3840, 2160, 1280, 720})->Unit(benchmark::kMicrosecond);
BENCHMARK(frameRequest)->Name("EdgeRequest/4K_view3840x2160")->Args({3840, 2160, 3840, 2160})->Unit(benchmark::kMicrosecond);
BENCHMARK(wholePictureRequest)->Name("WholePictureSearch/1080p_view1280x720")->Args({1920, 1080, 1280, 720})->Unit(benchmark::kMicrosecond);
BENCHMARK(wholePictureRequest)->Name("WholePictureSearch/4K_view1280x720")->Args({3840, 2160, 1280, 720})->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
