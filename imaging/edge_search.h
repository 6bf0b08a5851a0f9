// Nearest-edge search for edge snapping: the picture is scaled to the size of
// the picture area the user clicked in, edges are found with Canny on a
// median-blurred grey copy, and the edge pixel nearest to the click is taken
// from a small window around it (a column for vertical lines, a row for
// horizontal ones, a square otherwise).
//
// Only the part of the picture the window needs is converted and filtered.
// Canny's hysteresis can follow an edge arbitrarily far, so when an undecided
// edge could change the answer the region grows, up to the whole picture:
// the answer always equals the search on the whole picture.
#pragma once

#include "draw_type.h"

#include <QPoint>
#include <QSize>
#include <opencv2/core.hpp>

struct EdgeRequest {
    int x = 0;  // the click, in picture-area pixels
    int y = 0;
    int viewWidth = 0;  // size of the picture area when the click was made
    int viewHeight = 0;
    DrawType type = Hand;
};

namespace edgesearch {

constexpr int kHalfWindow = 25;         // offsets -25 ... 24
constexpr double kMaxDistance = 35.35;  // candidates must lie strictly nearer
constexpr int kMedianAperture = 5;
constexpr double kCannyLow = 50.0;
constexpr double kCannyHigh = 100.0;
constexpr int kCannyAperture = 3;
// Rows and columns around a pixel that its Canny candidate state depends on:
// median 2, Sobel 1, non-maximum suppression 1.
constexpr int kFilterReach = 4;
// Largest picture-area side accepted.
constexpr int kMaxViewSide = 16384;

// Where the search reads the picture from: three channels (B, G, R) or one
// grey channel, `region` handing out any rectangle of it as a new matrix.
class Source
{
public:
    virtual ~Source() = default;
    virtual int width() const = 0;
    virtual int height() const = 0;
    virtual int channels() const = 0;
    virtual cv::Mat region(const cv::Rect &area) const = 0;
};

// A matrix of one or three 8-bit channels.
class MatSource final : public Source
{
public:
    explicit MatSource(cv::Mat picture) : picture_(std::move(picture)) {}
    int width() const override { return picture_.cols; }
    int height() const override { return picture_.rows; }
    int channels() const override { return picture_.channels(); }
    cv::Mat region(const cv::Rect &area) const override { return picture_(area).clone(); }

private:
    cv::Mat picture_;
};

// Whether a request can be searched at all: a picture-area size within range
// and a click inside it. Other requests get the click back.
bool isSearchable(const EdgeRequest &request);

// The rectangle [x0, x1) x [y0, y1) of the picture scaled to view size, with
// fixed-point bilinear weights (1/2048) computed from absolute positions, so
// that any rectangle holds exactly the pixels of the scaled whole picture.
cv::Mat scaleRegion(const Source &source, const QSize &view, const cv::Rect &area);

// The search on the region the window needs (growing when necessary).
QPoint findNearestEdge(const Source &source, const EdgeRequest &request);
// The same search with the edge map of the whole scaled picture; slower, kept
// as the reference the region search must equal.
QPoint findNearestEdgeWholePicture(const Source &source, const EdgeRequest &request);

// The window scan on a ready edge map of view size (non-zero = edge).
QPoint nearestEdgeInMap(const cv::Mat &edges, const EdgeRequest &request);

}  // namespace edgesearch
