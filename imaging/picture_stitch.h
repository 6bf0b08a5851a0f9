// Live stitching: frames of a specimen moved under the camera are matched
// against the frame before, placed on a growing canvas and blended in with
// weights that favour each frame's centre.
//
// The worker lives on the capture page's work thread and is fed one frame at
// a time: each frame it receives while running is answered with exactly one
// getNextVideoFrame, unless the run ends on it (runEnded). A frame that can't
// be placed (no confident match, no movement, beyond what two growth steps
// reach) is dropped and the next one is matched against the same previous
// frame; the canvas position moves only with a frame that is placed.
#pragma once

#include "video_frame.h"

#include <QImage>
#include <QObject>
#include <QPoint>
#include <QString>
#include <opencv2/core.hpp>

#include <vector>

namespace stitching {

constexpr int kCutRows = 20;  // rows cut from the top and from the bottom of every frame
constexpr int kBlurSize = 9;  // box filter before matching
constexpr double kMatchThreshold = 0.85;
// Templates whose blurred grey levels spread (standard deviation) less than
// this have too little texture to be matched: they would fit anywhere.
constexpr double kMinTemplateDeviation = 2.0;
// Smallest frame side (after the cut) that still gives usable templates.
constexpr int kMinFrameSide = 48;
// The canvas stops growing here: no side beyond kMaxCanvasSide and at most
// kMaxCanvasBytes (8-bit B, G, R), so that a growth step, which holds the old
// and the new canvas at once, stays within 1 GiB.
constexpr int kMaxCanvasSide = 16384;
constexpr qint64 kMaxCanvasBytes = qint64(512) << 20;

// The grey picture of a frame after the box blur, at full size and at
// coarser levels of half the size each (the coarsest about 480 pixels wide
// or less), for a coarse-to-fine search.
struct GreyPyramid {
    std::vector<cv::Mat> levels;
    bool empty() const { return levels.empty(); }
};
GreyPyramid makeGreyPyramid(const cv::Mat &grey);

// Where the content of `current` lies in `previous`, as the shift to add to
// the canvas position of the previous frame. Templates are cut from the
// current frame (centre, bottom left, top right, bottom right, top left,
// first a half, then a third of the frame's size); the first one with
// enough texture whose normalised correlation at its best place reaches
// kMatchThreshold decides. False when none does.
bool matchOffset(const GreyPyramid &previous, const GreyPyramid &current, cv::Point &shift);

// How the canvas must grow for a frame at `position` (which may lie partly
// outside it): at most two steps, each adding a third of the frame's width
// or height on every side the frame overruns. `shift` is where the old
// canvas goes in the new one (and what to add to every canvas position).
struct Growth {
    cv::Size size;
    cv::Point shift;
    bool fits = false;  // whether the frame lies inside the grown canvas
};
Growth planGrowth(const cv::Size &canvas, const cv::Size &frame, const cv::Point &position);

// Whether a canvas of `size` stays within the caps.
bool canvasSizeAllowed(const cv::Size &size);

// Blends `frame` (8-bit B, G, R) into `canvas` at `position` (inside it):
// where the canvas is black the frame's pixels are taken unchanged;
// elsewhere weight m = min(row weight, column weight), each falling from 1
// at the frame's centre to 0 at its first row or column, and the pixel
// becomes new * m + old * (1 - m), rounded.
void blendFrame(const cv::Mat &frame, cv::Mat &canvas, const cv::Point &position);

}  // namespace stitching

class PictureStitch : public QObject
{
    Q_OBJECT

public:
    enum class Outcome {
        Ignored,   // not running: no reply
        Started,   // first frame of a run (or of a restarted one), on a new canvas
        Stitched,  // matched, placed and blended
        Dropped,   // no confident match, no movement, or out of reach
        Unusable,  // empty or too small: the run starts over with the next frame
        Ended,     // the canvas reached its size cap: the run ended
    };

    explicit PictureStitch(QObject *parent = nullptr);

    // The work on one frame, with the signals it implies (showDstPix,
    // runRestarted, runEnded) but without the reply; onRecvVideoFrame adds it.
    Outcome handleFrame(const VideoFrame &frame);

    bool isRunning() const { return running_; }
    // Canvas position of the top-left pixel of the last placed frame (after
    // the rows cut from its top).
    QPoint offset() const { return QPoint(offset_.x, offset_.y); }
    // The canvas (B, G, R); null before the first frame of a run.
    QImage canvas() const { return canvas_; }

signals:
    void getNextVideoFrame();
    // The canvas after every placed frame; its pixels are those of frames
    // `frameWidth` pixels wide.
    void showDstPix(QImage pix, int frameWidth);
    // A frame of another size, or an unusable one, ended the canvas so far;
    // the next picture starts a new one.
    void runRestarted();
    // The run stopped by itself; `message` says why, for the user.
    void runEnded(QString message);

public slots:
    void onStart();
    void onStop();
    void onRecvVideoFrame(VideoFrame frame);

private:
    void reset();
    Outcome startCanvas(const cv::Mat &frame, stitching::GreyPyramid pyramid);
    Outcome endRun();

    bool running_ = false;
    QImage canvas_;  // Format_BGR888; shared with the pictures handed out until they are dropped
    stitching::GreyPyramid previous_;
    cv::Size frameSize_;  // of the frames of this run, after the cut
    cv::Point offset_{0, 0};
};
