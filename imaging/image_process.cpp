#include "image_process.h"

#include "image_convert.h"

#include <QDebug>
#include <opencv2/imgproc.hpp>

#include <cstring>
#include <exception>

namespace edgesearch {

FrameSource::FrameSource(const VideoFrame &frame)
{
    const auto buffer = frame.buffer();
    auto planes = buffer ? buffer->toI420() : nullptr;
    if (planes && planes->type() == VideoFrameBuffer::I420 && planes->width() > 0 && planes->height() > 0)
        planes_ = std::move(planes);
}

int FrameSource::width() const
{
    return planes_ ? planes_->width() : 0;
}

int FrameSource::height() const
{
    return planes_ ? planes_->height() : 0;
}

cv::Mat FrameSource::region(const cv::Rect &area) const
{
    // Chroma is shared by 2 x 2 pixels: convert from even bounds, repeating
    // the last column and row of a frame of odd size as the whole-frame
    // conversion does, then cut the area out.
    const int width = planes_->width();
    const int height = planes_->height();
    const int x0 = area.x & ~1;
    const int y0 = area.y & ~1;
    const int x1 = (area.x + area.width + 1) & ~1;
    const int y1 = (area.y + area.height + 1) & ~1;
    const int packedWidth = x1 - x0;
    const int packedHeight = y1 - y0;
    cv::Mat packed(packedHeight + packedHeight / 2, packedWidth, CV_8UC1);
    uint8_t *out = packed.data;
    const int lastColumn = std::min(x1, width) - x0;
    for (int row = y0; row < y1; ++row) {
        const uint8_t *in = planes_->dataY() + size_t(planes_->strideY()) * std::min(row, height - 1) + x0;
        std::memcpy(out, in, size_t(lastColumn));
        for (int column = lastColumn; column < packedWidth; ++column)
            out[column] = in[lastColumn - 1];
        out += packedWidth;
    }
    const int chromaColumns = packedWidth / 2;
    for (const auto &plane : {std::make_pair(planes_->dataU(), planes_->strideU()),
                              std::make_pair(planes_->dataV(), planes_->strideV())}) {
        for (int row = y0 / 2; row < y1 / 2; ++row) {
            std::memcpy(out, plane.first + size_t(plane.second) * row + x0 / 2, size_t(chromaColumns));
            out += chromaColumns;
        }
    }
    cv::Mat bgr;
    cv::cvtColor(packed, bgr, cv::COLOR_YUV2BGR_I420);
    return bgr(cv::Rect(area.x - x0, area.y - y0, area.width, area.height)).clone();
}

ImageSource::ImageSource(const QImage &picture) : picture_(picture)
{
    if (!isPerPixelFormat(picture_.format())) {
        converted_ = qImageToMat(picture_);
        picture_ = QImage();
    }
}

int ImageSource::width() const
{
    return picture_.isNull() ? converted_.cols : picture_.width();
}

int ImageSource::height() const
{
    return picture_.isNull() ? converted_.rows : picture_.height();
}

int ImageSource::channels() const
{
    return picture_.isNull() ? converted_.channels() : 3;
}

cv::Mat ImageSource::region(const cv::Rect &area) const
{
    if (picture_.isNull())
        return converted_(area).clone();
    return qImageRegionToMat(picture_, QRect(area.x, area.y, area.width, area.height));
}

}  // namespace edgesearch

namespace {

template <typename MakeSource>
QPointF searchSafely(const EdgeRequest &request, MakeSource makeSource)
{
    const QPointF click(request.x, request.y);
    if (!edgesearch::isSearchable(request))
        return click;
    try {
        const auto source = makeSource();
        return QPointF(edgesearch::findNearestEdge(source, request));
    } catch (const cv::Exception &error) {
        qWarning() << "Edge search failed:" << error.what();
    } catch (const std::exception &error) {
        qWarning() << "Edge search failed:" << error.what();
    }
    return click;
}

}  // namespace

QPointF ImageProcess::findNearestEdge(const VideoFrame &frame, const EdgeRequest &request) const
{
    return searchSafely(request, [&frame] { return edgesearch::FrameSource(frame); });
}

QPointF ImageProcess::findNearestEdge(const QImage &picture, const EdgeRequest &request) const
{
    return searchSafely(request, [&picture] { return edgesearch::ImageSource(picture); });
}
