// Live stitching on a synthetic pan over a large textured picture with known
// offsets, at 1080p and 4K: time per frame (target: 30 frames/s at 1080p)
// and the largest offset error of any frame (target: 1 pixel). Beside it,
// OpenCV's cv::Stitcher in SCANS mode on the same frames, pair by pair:
// registration alone (what gives the offset), run as a live stitcher would
// with the stitcher's own feature finder, matcher, estimator and bundle
// adjuster, each frame's features found once and kept for the next pair; and
// the whole cv::Stitcher, registration with composition (what gives a
// picture, as our time per frame does), which finds both frames' features
// for every pair.
#include "frame_convert.h"
#include "imaging.h"
#include "synthetic_frames.h"

#include <benchmark/benchmark.h>
#include <opencv2/imgproc.hpp>
#include <opencv2/stitching.hpp>
#include <opencv2/stitching/detail/motion_estimators.hpp>

#include <cmath>
#include <map>
#include <memory>
#include <vector>

namespace {

// Frame-to-frame steps of the pan, in pixels: a wandering path of moves up
// to 48 pixels, every direction, repeated.
const std::vector<cv::Point> kSteps = {{17, 5},  {23, -9}, {-12, 18}, {31, 2},  {8, 27},  {-21, -14},
                                       {40, 11}, {3, -33}, {-9, 6},   {26, 19}, {-35, 4}, {14, -22},
                                       {48, 0},  {0, 41},  {-6, -38}, {29, 29}};

struct Pan {
    std::vector<VideoFrame> frames;
    std::vector<cv::Point> positions;  // of each frame in the large picture
};

// `count` frames of width x height along the path, from a picture large
// enough for the whole path.
const Pan &pan(int width, int height, int count)
{
    static std::map<int, std::unique_ptr<Pan>> pans;
    auto &slot = pans[width];
    if (slot)
        return *slot;
    slot = std::make_unique<Pan>();
    cv::Point at(0, 0), low(0, 0), high(0, 0);
    std::vector<cv::Point> path;
    for (int i = 0; i < count; ++i) {
        path.push_back(at);
        low = cv::Point(std::min(low.x, at.x), std::min(low.y, at.y));
        high = cv::Point(std::max(high.x, at.x), std::max(high.y, at.y));
        at += kSteps[size_t(i) % kSteps.size()];
    }
    const cv::Mat picture = texturedPicture(width + high.x - low.x, height + high.y - low.y, 5);
    for (const cv::Point &p : path) {
        slot->positions.push_back(p - low);
        slot->frames.push_back(frameFrom(picture(cv::Rect(p - low, cv::Size(width, height)))));
    }
    return *slot;
}

void reportOffsets(benchmark::State &state, double worstError, int failed)
{
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["max_error_px"] = worstError;
    state.counters["failed"] = failed;
}

// Our stitching, one frame per iteration, as the worker gets them; the pan
// starts over at its end.
void pictureStitch(benchmark::State &state)
{
    const int width = int(state.range(0)), height = int(state.range(1)), count = int(state.range(2));
    const Pan &p = pan(width, height, count);
    const cv::Size frameSize(width, height - 2 * stitching::kCutRows);
    PictureStitch stitch;
    stitch.onStart();
    double worstError = 0;
    int failed = 0, i = 0;
    QPoint last;
    QSize canvas;
    for (auto _ : state) {
        const PictureStitch::Outcome outcome = stitch.handleFrame(p.frames[size_t(i)]);
        if (i > 0) {
            // Where the frame belongs: the last one's place moved by the
            // true step and by the growth that step needs.
            const cv::Point step = p.positions[size_t(i)] - p.positions[size_t(i) - 1];
            cv::Point expected = cv::Point(last.x(), last.y()) + step;
            expected += stitching::planGrowth(cv::Size(canvas.width(), canvas.height()), frameSize, expected).shift;
            if (outcome == PictureStitch::Outcome::Stitched) {
                const QPoint error = stitch.offset() - QPoint(expected.x, expected.y);
                worstError = std::max(worstError, std::hypot(double(error.x()), double(error.y())));
            } else {
                ++failed;
            }
        }
        last = stitch.offset();
        canvas = stitch.canvas().size();
        if (++i == count) {
            state.PauseTiming();
            stitch.onStart();
            i = 0;
            state.ResumeTiming();
        }
    }
    reportOffsets(state, worstError, failed);
}

// Registration factor of cv::Stitcher: it finds features on pictures scaled
// to its registration resolution (megapixels) and reports shifts there.
double workScale(const cv::Stitcher &stitcher, int width, int height)
{
    return std::min(1.0, std::sqrt(stitcher.registrationResol() * 1e6 / (double(width) * height)));
}

// The offset error of a pair from cv::Stitcher's affine cameras: the second
// picture's translation relative to the first is minus the step, at the
// registration scale.
double pairError(const std::vector<cv::detail::CameraParams> &cameras, double scale, cv::Point step)
{
    const cv::Mat_<float> first = cameras[0].R, second = cameras[1].R;
    const double dx = -(second(0, 2) - first(0, 2)) / scale - step.x;
    const double dy = -(second(1, 2) - first(1, 2)) / scale - step.y;
    return std::hypot(dx, dy);
}

// cv::Stitcher's registration of consecutive frames as a live stitcher runs
// it: the features of each frame are found once, on the frame scaled to the
// registration resolution, and kept for the pair with the next frame; the
// pair goes through the stitcher's own matcher, biggest-component check,
// estimator and bundle adjuster, as Stitcher::estimateTransform takes it.
class LiveRegistration
{
public:
    LiveRegistration(cv::Ptr<cv::Stitcher> stitcher, double scale) : stitcher_(std::move(stitcher)), scale_(scale) {}

    // Forgets the kept frame: the next frame starts a new pan.
    void restart() { havePrevious_ = false; }

    // Registers `frame` (BGR) against the frame before it; false for the
    // first frame of a pan and when the stitcher finds no transform.
    bool next(const cv::Mat &frame, std::vector<cv::detail::CameraParams> &cameras)
    {
        cv::Mat small;
        cv::resize(frame, small, cv::Size(), scale_, scale_, cv::INTER_LINEAR_EXACT);
        cv::detail::ImageFeatures current;
        cv::detail::computeImageFeatures(stitcher_->featuresFinder(), small, current);
        if (!havePrevious_) {
            previous_ = current;
            havePrevious_ = true;
            return false;
        }
        std::vector<cv::detail::ImageFeatures> pair = {previous_, current};
        previous_ = current;
        pair[0].img_idx = 0;
        pair[1].img_idx = 1;
        std::vector<cv::detail::MatchesInfo> matches;
        (*stitcher_->featuresMatcher())(pair, matches);
        stitcher_->featuresMatcher()->collectGarbage();
        const float confidence = float(stitcher_->panoConfidenceThresh());
        if (cv::detail::leaveBiggestComponent(pair, matches, confidence).size() < 2)
            return false;
        if (!(*stitcher_->estimator())(pair, matches, cameras))
            return false;
        for (cv::detail::CameraParams &camera : cameras) {
            cv::Mat rotation;
            camera.R.convertTo(rotation, CV_32F);
            camera.R = rotation;
        }
        stitcher_->bundleAdjuster()->setConfThresh(confidence);
        return (*stitcher_->bundleAdjuster())(pair, matches, cameras) && cameras.size() == 2;
    }

private:
    cv::Ptr<cv::Stitcher> stitcher_;
    double scale_;
    cv::detail::ImageFeatures previous_;
    bool havePrevious_ = false;
};

// Registration alone, one new frame per iteration (its features, the match
// with the kept frame, the transform); the pan starts over at its end.
void openCvRegistration(benchmark::State &state)
{
    const int width = int(state.range(0)), height = int(state.range(1)), count = int(state.range(2));
    const Pan &p = pan(width, height, count);
    cv::Ptr<cv::Stitcher> stitcher = cv::Stitcher::create(cv::Stitcher::SCANS);
    const double scale = workScale(*stitcher, width, height);
    LiveRegistration registration(stitcher, scale);
    std::vector<cv::detail::CameraParams> cameras;
    registration.next(videoFrameToMat(p.frames[0]), cameras);
    double worstError = 0;
    int failed = 0, i = 1;
    for (auto _ : state) {
        state.PauseTiming();
        const cv::Mat frame = videoFrameToMat(p.frames[size_t(i)]);
        state.ResumeTiming();
        if (registration.next(frame, cameras))
            worstError = std::max(worstError, pairError(cameras, scale, p.positions[size_t(i)] - p.positions[size_t(i) - 1]));
        else
            ++failed;
        if (++i == count) {
            state.PauseTiming();
            registration.restart();
            registration.next(videoFrameToMat(p.frames[0]), cameras);
            i = 1;
            state.ResumeTiming();
        }
    }
    reportOffsets(state, worstError, failed);
}

// The whole cv::Stitcher (SCANS) on one consecutive pair of the same frames
// per iteration: registration and composition of the pair's picture.
void openCvRegistrationAndComposition(benchmark::State &state)
{
    const int width = int(state.range(0)), height = int(state.range(1)), count = int(state.range(2));
    const Pan &p = pan(width, height, count);
    cv::Ptr<cv::Stitcher> stitcher = cv::Stitcher::create(cv::Stitcher::SCANS);
    const double scale = workScale(*stitcher, width, height);
    double worstError = 0;
    int failed = 0, i = 1;
    for (auto _ : state) {
        state.PauseTiming();
        const std::vector<cv::Mat> pair = {videoFrameToMat(p.frames[size_t(i) - 1]), videoFrameToMat(p.frames[size_t(i)])};
        state.ResumeTiming();
        cv::Stitcher::Status status = stitcher->estimateTransform(pair);
        cv::Mat panorama;
        if (status == cv::Stitcher::OK)
            status = stitcher->composePanorama(panorama);
        const std::vector<cv::detail::CameraParams> cameras = stitcher->cameras();
        if (status != cv::Stitcher::OK || cameras.size() != 2)
            ++failed;
        else
            worstError = std::max(worstError, pairError(cameras, scale, p.positions[size_t(i)] - p.positions[size_t(i) - 1]));
        i = i + 1 < count ? i + 1 : 1;
    }
    reportOffsets(state, worstError, failed);
}


}  // namespace

// Frame sizes, frames in the pan. Ours and the registration visit every
// frame of the pan (two whole pans, the first frame of each untimed);
// registration with composition takes seconds a pair and visits the first
// pairs only.
BENCHMARK(pictureStitch)->Name("Stitch/PictureStitch/1080p")->Args({1920, 1080, 96})->Iterations(2 * 96)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(openCvRegistration)->Name("Stitch/cvStitcherScans_live_registration/1080p")->Args({1920, 1080, 96})->Iterations(2 * 95)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(openCvRegistrationAndComposition)->Name("Stitch/cvStitcherScans_registration+composition/1080p")->Args({1920, 1080, 96})->Iterations(4)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(pictureStitch)->Name("Stitch/PictureStitch/4K")->Args({3840, 2160, 48})->Iterations(2 * 48)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(openCvRegistration)->Name("Stitch/cvStitcherScans_live_registration/4K")->Args({3840, 2160, 48})->Iterations(2 * 47)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(openCvRegistrationAndComposition)->Name("Stitch/cvStitcherScans_registration+composition/4K")->Args({3840, 2160, 48})->Iterations(2)->UseRealTime()->Unit(benchmark::kMillisecond);
