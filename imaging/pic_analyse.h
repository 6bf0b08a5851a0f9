// Focus fusion (extended depth of field): frames taken at different focus
// values are fused one by one into a picture that is sharp everywhere. Each
// new frame is fused with the result so far; the fused picture replaces the
// result only when it is measurably sharper.
//
// The worker lives on the capture page's work thread and is fed one frame at
// a time: each frame it receives while running is answered with exactly one
// getNextVideoFrame (100 ms late after the first frame of a run and after the
// fifth rejection in a row, to let the camera settle). The capture page
// decides how many frames a run has; the worker never stops by itself.
#pragma once

#include "video_frame.h"

#include <QImage>
#include <QObject>
#include <opencv2/core.hpp>

#include <vector>

namespace fusion {

constexpr double kAcceptanceMargin = 1.0;  // a fused picture must be sharper than the result by more
constexpr double kSharpnessDivisor = 1e6;
constexpr int kMaxFilterRadius = 5;
constexpr int kFocusBlurSize = 11;
constexpr double kFocusBlurSigma = 5.0;
constexpr int kGuidedRadius = 7;
constexpr double kGuidedEps = 0.065025;
constexpr int kSettlingPauseMs = 100;
constexpr int kRejectionsBeforePausing = 5;
// Below this sum of a pixel's clamped weights the weights say nothing; the
// pixel takes the frame of the highest focus measure.
constexpr float kMinWeightSum = 1e-6f;

enum WeightMode {
    NormalisedWeights = 1,  // clamped to [0, 1], then divided by their sum
    ClampedWeights = 2,     // clamped to [0, 1] only
};

// The focus measure of a whole picture: the sum of |Sobel x| + |Sobel y| of
// its grey levels, divided by kSharpnessDivisor.
double imageSharpness(const cv::Mat &bgr);

// Fuses frames of equal size (8-bit B, G, R) into `out`. Per frame, the
// focus measure is the gradient of the log luminance, spread by a maximum
// filter and a Gaussian blur; each pixel's mask goes to the frame of the
// highest measure (ties to the earliest frame); the masks are smoothed by a
// guided filter with the frame's gradient as guide, and become the weights
// of the frames. `out` is empty when the frames are empty or differ in size
// or type.
void fuseFocusStack(const std::vector<cv::Mat> &frames, cv::Mat &out, int mode);

// Turns the smoothed masks of a fusion into weights, in place: clamped to
// [0, 1], and under NormalisedWeights divided by their sum; where the sum is
// below kMinWeightSum a pixel's weights become its `masks` (0 or 1). No
// weight is ever NaN.
void fusionWeights(std::vector<cv::Mat> &weights, const std::vector<cv::Mat> &masks, int mode);

// Maximum over the (2 radius + 1)-square around each pixel (one float
// channel); the outermost `radius` rows and columns keep the source values.
void maxFilter2D(const cv::Mat &src, cv::Mat &dst, int radius);

}  // namespace fusion

class PicAnalyse : public QObject
{
    Q_OBJECT

public:
    enum class Outcome {
        Ignored,   // not running: no reply
        Skipped,   // empty frame: nothing to fuse
        First,     // the frame became the result (first of a run, or of a new size)
        Accepted,  // the fused picture was sharper and became the result
        Rejected,  // the fused picture was not sharper
    };

    explicit PicAnalyse(QObject *parent = nullptr);

    // The work on one frame (8-bit B, G, R) without the reply and without
    // pauses; emits showDstPix for a new result.
    Outcome analyseFrame(const cv::Mat &frame);
    // How long the reply to a frame with this outcome waits, milliseconds.
    int replyDelay(Outcome outcome) const;

    bool isRunning() const { return running_; }
    const cv::Mat &result() const { return result_; }
    double bestSharpness() const { return bestSharpness_; }
    int rejections() const { return rejections_; }

signals:
    void getNextVideoFrame();
    void showDstPix(QImage pix);

public slots:
    void onStart();
    void onStop();
    void onRecvVideoFrame(VideoFrame frame);

private:
    bool running_ = false;
    cv::Mat result_;
    double bestSharpness_ = 0.0;
    int rejections_ = 0;
    // Counts runs, so that a reply still waiting from an earlier run is dropped.
    quint64 run_ = 0;
};
