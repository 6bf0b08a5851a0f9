// Edge snapping for the capture thread: moves a clicked point onto the
// nearest edge of the current picture.
#pragma once

#include "edge_search.h"
#include "video_frame.h"

#include <QImage>
#include <QPointF>

class ImageProcess
{
public:
    // The snapped point in picture-area coordinates, or the click itself when
    // no edge lies near it, the request can't be searched (picture-area size
    // 0, click outside it) or the picture can't be read. Never throws.
    //
    // The frame form converts only the part of the frame the search needs;
    // it is the one to call on the capture thread (well under a frame time
    // even at 4K). The picture form takes what qImageToMat takes.
    QPointF findNearestEdge(const VideoFrame &frame, const EdgeRequest &request) const;
    QPointF findNearestEdge(const QImage &picture, const EdgeRequest &request) const;
};

namespace edgesearch {

// An I420 frame as a search source: regions are converted to B, G, R exactly
// as videoFrameToImage converts the whole frame.
class FrameSource final : public Source
{
public:
    explicit FrameSource(const VideoFrame &frame);
    bool isValid() const { return planes_ != nullptr; }
    int width() const override;
    int height() const override;
    int channels() const override { return 3; }
    cv::Mat region(const cv::Rect &area) const override;

private:
    std::shared_ptr<I420BufferInterface> planes_;
};

// A Qt picture as a search source. Formats converted pixel by pixel are
// converted region by region; others whole, once.
class ImageSource final : public Source
{
public:
    explicit ImageSource(const QImage &picture);
    int width() const override;
    int height() const override;
    int channels() const override;
    cv::Mat region(const cv::Rect &area) const override;

private:
    QImage picture_;
    cv::Mat converted_;  // for the other formats
};

}  // namespace edgesearch
