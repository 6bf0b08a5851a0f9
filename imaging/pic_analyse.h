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

#include <cstdlib>
#include <functional>
#include <memory>
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

// The result of a focus series so far, with what is known about it: its
// focus measure, the gradient that guides its weights, that gradient's
// local statistics and the sharpness of every tile. A new frame is fused
// with the result as fuseFocusStack({result, frame}, NormalisedWeights)
// would fuse it (to a grey level: float sums run in another order), but
// beyond the frame's own focus measure only the tiles near pixels the frame
// wins are worked on: elsewhere the fused picture is the result, and what
// the result knows stays. All work runs in parallel on buffers kept for the
// run, so a step allocates nothing.
class RunningFusion
{
public:
    // Side of the square tiles that the work is tracked in, pixels: at least
    // the reach of the guided filter's two box filters (14) and of the focus
    // measure (11), so that whatever a tile changes stays within the next.
    static constexpr int kTile = 32;

    // `first` (8-bit B, G, R) becomes the result; returns its sharpness
    // (imageSharpness).
    double start(const cv::Mat &first);
    // Releases the result and every buffer.
    void clear();
    bool empty() const { return result_.empty(); }
    const cv::Mat &result() const { return result_; }

    // Fuses `frame` (8-bit B, G, R, the result's size) with the result into
    // candidate(); returns the candidate's sharpness. The result stays.
    double fuse(const cv::Mat &frame);
    const cv::Mat &candidate() const { return candidate_; }
    // The candidate of the last fuse() becomes the result.
    void accept();

private:
    // What a picture's fusion needs to know about it, all at full size.
    struct Measure {
        cv::Mat grey;      // 8-bit luminance
        cv::Mat gradient;  // |Sobel x| + |Sobel y| of the log luminance: the guide of the weights
        cv::Mat measure;   // the gradient spread by the maximum filter and the Gaussian blur
        cv::Mat guide;     // two floats: the gradient's box mean over the guided filter's window,
                           // and 1 / (its variance there + eps); the result's only
    };
    // Per tile: 2 where a step works, 1 in the ring around those tiles
    // where its inputs must be valid, 0 elsewhere.
    using TileMap = std::vector<uint8_t>;

    void allocate(cv::Size size);
    TileMap ringed(const TileMap &core) const;
    // Fills the tiles of `m` marked 2 in `tiles` from its grey picture, or
    // from `bgr` when given; the rest of `m` must be valid already. `then`
    // runs on each area as soon as its measure is done.
    void measure(Measure &m, const cv::Mat *bgr, const TileMap &tiles,
                 const std::function<void(cv::Rect)> &then = nullptr);
    // Recomputes `sums` (per tile, |Sobel x| + |Sobel y| of `grey`) in the
    // tiles marked 1 or 2; returns the sharpness of the whole.
    double sharpness(const cv::Mat &grey, const TileMap &tiles, std::vector<long long> &sums);

    cv::Mat result_, candidate_;
    Measure known_;  // the result's
    Measure fresh_;  // the frame's during fuse(), then the candidate's grey
    std::vector<long long> knownSums_, candidateSums_;
    int tileCols_ = 0, tileRows_ = 0;
    TileMap all_;    // every tile marked 2
    TileMap fused_;  // of the last fuse(): 2 where the frame was fused in
    // Scratch shared by the steps, each viewed as the type a step needs.
    cv::Mat quadA_, quadB_;  // four floats: box filter inputs and outputs
    cv::Mat mask_;           // 8 bits: 1 where the frame's measure is strictly higher
    cv::Mat maskMean_;       // the box mean of mask_
    // The memory of the planes above and of known_ and fresh_.
    struct Free {
        void operator()(uint8_t *memory) const { std::free(memory); }
    };
    std::unique_ptr<uint8_t, Free> arena_;
    size_t arenaBytes_ = 0;
};

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
    const cv::Mat &result() const { return fusion_.result(); }
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
    QImage resultImage();

    bool running_ = false;
    fusion::RunningFusion fusion_;
    double bestSharpness_ = 0.0;
    int rejections_ = 0;
    // Counts runs, so that a reply still waiting from an earlier run is dropped.
    quint64 run_ = 0;
    QImage shown_;  // the last picture handed out
};
