#include "pic_analyse.h"

#include "frame_convert.h"
#include "image_convert.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QTimer>
#include <opencv2/imgproc.hpp>
#include <opencv2/ximgproc/edge_filter.hpp>

#include <cmath>

namespace fusion {
namespace {

// ln(grey + 1) scaled so that grey 255 gives 150.
const cv::Mat &logLuminanceTable()
{
    static const cv::Mat table = [] {
        cv::Mat values(1, 256, CV_32F);
        const double scale = 150.0 / std::log(256.0);
        for (int i = 0; i < 256; ++i)
            values.at<float>(i) = float(std::log(i + 1.0) * scale);
        return values;
    }();
    return table;
}

struct FocusMeasure {
    cv::Mat gradient;  // |Sobel x| + |Sobel y| of the log luminance: the guide of the weights
    cv::Mat measure;   // the gradient spread by the maximum filter and the Gaussian blur
};

FocusMeasure focusMeasure(const cv::Mat &frame)
{
    cv::Mat grey, logLuminance, gx, gy;
    cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
    cv::LUT(grey, logLuminanceTable(), logLuminance);
    cv::Sobel(logLuminance, gx, CV_32F, 1, 0, 3);
    cv::Sobel(logLuminance, gy, CV_32F, 0, 1, 3);
    FocusMeasure result;
    result.gradient = cv::abs(gx) + cv::abs(gy);
    cv::Mat spread;
    maxFilter2D(result.gradient, spread, kMaxFilterRadius);
    cv::GaussianBlur(spread, result.measure, cv::Size(kFocusBlurSize, kFocusBlurSize), kFocusBlurSigma, 0.0);
    return result;
}

}  // namespace

double imageSharpness(const cv::Mat &bgr)
{
    if (bgr.empty())
        return 0.0;
    cv::Mat grey, gx, gy;
    if (bgr.channels() == 3)
        cv::cvtColor(bgr, grey, cv::COLOR_BGR2GRAY);
    else
        grey = bgr;
    // Exact in 16 bits: a 3 x 3 Sobel of 8-bit values stays within +-1020.
    cv::Sobel(grey, gx, CV_16S, 1, 0, 3);
    cv::Sobel(grey, gy, CV_16S, 0, 1, 3);
    return (cv::norm(gx, cv::NORM_L1) + cv::norm(gy, cv::NORM_L1)) / kSharpnessDivisor;
}

void maxFilter2D(const cv::Mat &src, cv::Mat &dst, int radius)
{
    cv::Mat result = src.clone();
    const int window = 2 * radius + 1;
    if (radius > 0 && src.rows >= window && src.cols >= window) {
        // Rectangular dilation is separable; inside the border its window
        // never leaves the picture, so it is the plain square maximum.
        cv::Mat dilated;
        cv::dilate(src, dilated, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(window, window)));
        const cv::Rect inside(radius, radius, src.cols - 2 * radius, src.rows - 2 * radius);
        dilated(inside).copyTo(result(inside));
    }
    dst = result;
}

void fusionWeights(std::vector<cv::Mat> &weights, const std::vector<cv::Mat> &masks, int mode)
{
    if (weights.empty())
        return;
    for (cv::Mat &weight : weights) {
        cv::patchNaNs(weight, 0.0);
        cv::max(weight, 0.0, weight);
        cv::min(weight, 1.0, weight);
    }
    if (mode != NormalisedWeights)
        return;
    cv::Mat sum = cv::Mat::zeros(weights[0].size(), CV_32F);
    for (const cv::Mat &weight : weights)
        sum += weight;
    cv::Mat empty = sum < kMinWeightSum;
    cv::max(sum, kMinWeightSum, sum);
    for (size_t k = 0; k < weights.size(); ++k) {
        cv::divide(weights[k], sum, weights[k]);
        masks[k].copyTo(weights[k], empty);
    }
}

namespace {

// Rows around a pixel that its fused value depends on: Sobel 1, maximum
// filter and Gaussian blur 5 each, the guided filter's two box filters 7
// each; one to spare.
constexpr int kFusionReach = 1 + kMaxFilterRadius + kFocusBlurSize / 2 + 2 * kGuidedRadius + 1;
// Bands are at least this high, so that the reach around them stays a
// modest share of the work.
constexpr int kMinBandRows = 96;

// Fuses rows [first, last) of the frames into the same rows of `out`,
// reading `kFusionReach` rows around them where the picture has them.
void fuseBand(const std::vector<cv::Mat> &frames, cv::Mat &out, int first, int last, int mode)
{
    const int rows = frames[0].rows;
    const int top = std::max(0, first - kFusionReach), bottom = std::min(rows, last + kFusionReach);
    const cv::Rect band(0, top, frames[0].cols, bottom - top);
    const size_t n = frames.size();
    std::vector<FocusMeasure> measures(n);
    for (size_t k = 0; k < n; ++k)
        measures[k] = focusMeasure(frames[k](band));

    // Masks: each pixel goes to the frame of the strictly highest measure,
    // the earliest one on ties.
    cv::Mat best = measures[0].measure.clone();
    cv::Mat owner = cv::Mat::zeros(best.size(), CV_8U);
    for (size_t k = 1; k < n; ++k) {
        const cv::Mat higher = measures[k].measure > best;
        measures[k].measure.copyTo(best, higher);
        owner.setTo(int(k), higher);
    }
    std::vector<cv::Mat> masks(n), weights(n);
    for (size_t k = 0; k < n; ++k) {
        masks[k] = cv::Mat::zeros(best.size(), CV_32F);
        masks[k].setTo(1.0f, owner == int(k));
        cv::ximgproc::guidedFilter(measures[k].gradient, masks[k], weights[k], kGuidedRadius, kGuidedEps, -1);
    }
    fusionWeights(weights, masks, mode);

    // out = sum over k of weight k x frame k, in 32-bit float, rounded and
    // saturated to 8 bits; a row at a time.
    const int columns = band.width;
    std::vector<float> sum(size_t(columns) * 3);
    for (int row = first; row < last; ++row) {
        std::fill(sum.begin(), sum.end(), 0.0f);
        for (size_t k = 0; k < n; ++k) {
            const float *weight = weights[k].ptr<float>(row - top);
            const uint8_t *pixel = frames[k].ptr<uint8_t>(row);
            for (int x = 0; x < columns; ++x)
                for (int c = 0; c < 3; ++c)
                    sum[size_t(3 * x + c)] += weight[x] * float(pixel[3 * x + c]);
        }
        uint8_t *target = out.ptr<uint8_t>(row);
        for (size_t i = 0; i < sum.size(); ++i)
            target[i] = cv::saturate_cast<uint8_t>(sum[i]);
    }
}

}  // namespace

void fuseFocusStack(const std::vector<cv::Mat> &frames, cv::Mat &out, int mode)
{
    out.release();
    if (frames.empty())
        return;
    for (const cv::Mat &frame : frames)
        if (frame.empty() || frame.type() != CV_8UC3 || frame.size() != frames[0].size())
            return;
    // Every step is local, so the picture is fused in horizontal bands, in
    // parallel; each band reads the rows its result depends on, and comes
    // out as the whole picture would.
    cv::Mat result(frames[0].size(), CV_8UC3);
    const int rows = result.rows;
    const int bands = std::max(1, std::min(cv::getNumThreads(), rows / kMinBandRows));
    cv::parallel_for_(cv::Range(0, bands), [&](const cv::Range &range) {
        for (int b = range.start; b < range.end; ++b)
            fuseBand(frames, result, rows * b / bands, rows * (b + 1) / bands, mode);
    });
    out = result;
}

}  // namespace fusion

using namespace fusion;

PicAnalyse::PicAnalyse(QObject *parent) : QObject(parent)
{
}

void PicAnalyse::onStart()
{
    running_ = true;
    ++run_;
    rejections_ = 0;
    bestSharpness_ = 0.0;
    result_.release();
}

void PicAnalyse::onStop()
{
    running_ = false;
    ++run_;
    result_.release();
}

PicAnalyse::Outcome PicAnalyse::analyseFrame(const cv::Mat &frame)
{
    if (!running_)
        return Outcome::Ignored;
    if (frame.empty() || frame.type() != CV_8UC3)
        return Outcome::Skipped;
    if (result_.empty() || result_.size() != frame.size()) {
        result_ = frame.clone();
        bestSharpness_ = imageSharpness(result_);
        rejections_ = 0;
        emit showDstPix(matToQImage(result_));
        return Outcome::First;
    }
    QElapsedTimer timer;
    timer.start();
    cv::Mat fused;
    fuseFocusStack({result_, frame}, fused, NormalisedWeights);
    qDebug() << "Fusion analyse use time:" << timer.elapsed();
    const double sharpness = imageSharpness(fused);
    if (sharpness > bestSharpness_ + kAcceptanceMargin) {
        result_ = fused;
        bestSharpness_ = sharpness;
        rejections_ = 0;
        emit showDstPix(matToQImage(result_));
        return Outcome::Accepted;
    }
    ++rejections_;
    return Outcome::Rejected;
}

int PicAnalyse::replyDelay(Outcome outcome) const
{
    if (outcome == Outcome::First || (outcome == Outcome::Rejected && rejections_ >= kRejectionsBeforePausing))
        return kSettlingPauseMs;
    return 0;
}

void PicAnalyse::onRecvVideoFrame(VideoFrame frame)
{
    const Outcome outcome = analyseFrame(videoFrameToMat(frame));
    if (outcome == Outcome::Ignored)
        return;
    const int delay = replyDelay(outcome);
    if (delay == 0) {
        emit getNextVideoFrame();
        return;
    }
    // A timer rather than a nested event loop: a stop or start arriving
    // meanwhile is handled in order, and the late reply of a finished run
    // is dropped.
    const quint64 run = run_;
    QTimer::singleShot(delay, this, [this, run] {
        if (running_ && run == run_)
            emit getNextVideoFrame();
    });
}
