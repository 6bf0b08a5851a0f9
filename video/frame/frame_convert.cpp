#include "frame_convert.h"

#include "capture.h"
#include "trovix.h"

#include <QDebug>
#include <opencv2/imgproc.hpp>

#include <cstring>

namespace {

void copyPlane(uint8_t *destination, int destinationStride, const uint8_t *source, int sourceStride, int rows)
{
    if (sourceStride == destinationStride) {
        std::memcpy(destination, source, size_t(destinationStride) * size_t(rows));
        return;
    }
    for (int row = 0; row < rows; ++row) {
        std::memcpy(destination, source, size_t(destinationStride));
        destination += destinationStride;
        source += sourceStride;
    }
}

// The three planes of an I420 view, as one matrix of width columns and
// height + chromaHeight rows in OpenCV's I420 layout. For an odd width or
// height the picture is padded to even size by repeating its last column and
// row, which is what OpenCV needs; the caller crops the result.
cv::Mat packedI420(const I420BufferInterface &buffer, int &paddedWidth, int &paddedHeight)
{
    const int width = buffer.width();
    const int height = buffer.height();
    const int chromaWidth = buffer.chromaWidth();
    const int chromaHeight = buffer.chromaHeight();
    paddedWidth = chromaWidth * 2;
    paddedHeight = chromaHeight * 2;

    const bool tight = buffer.strideY() == width && buffer.strideU() == chromaWidth && buffer.strideV() == chromaWidth;
    const bool contiguous = tight && buffer.dataU() == buffer.dataY() + size_t(width) * height
                            && buffer.dataV() == buffer.dataU() + size_t(chromaWidth) * chromaHeight;
    if (contiguous && paddedWidth == width && paddedHeight == height)
        return cv::Mat(height + chromaHeight, width, CV_8UC1, const_cast<uint8_t *>(buffer.dataY()));

    cv::Mat packed(paddedHeight + chromaHeight, paddedWidth, CV_8UC1);
    uint8_t *out = packed.data;
    for (int row = 0; row < paddedHeight; ++row) {
        const uint8_t *in = buffer.dataY() + size_t(buffer.strideY()) * std::min(row, height - 1);
        std::memcpy(out, in, size_t(width));
        if (paddedWidth > width)
            out[width] = in[width - 1];
        out += paddedWidth;
    }
    // A padded row of the packed matrix holds two chroma rows of paddedWidth / 2 bytes.
    for (const auto &plane : {std::make_pair(buffer.dataU(), buffer.strideU()),
                              std::make_pair(buffer.dataV(), buffer.strideV())}) {
        copyPlane(out, chromaWidth, plane.first, plane.second, chromaHeight);
        out += size_t(chromaWidth) * chromaHeight;
    }
    return packed;
}

std::shared_ptr<I420BufferInterface> i420Of(const VideoFrame &frame)
{
    const auto buffer = frame.buffer();
    if (!buffer)
        return nullptr;
    auto view = buffer->toI420();
    if (!view || view->type() != VideoFrameBuffer::I420 || view->width() <= 0 || view->height() <= 0)
        return nullptr;
    return view;
}

bool planesUsable(int width, int height, const void *y, int strideY, const void *u, int strideU, const void *v,
                  int strideV)
{
    if (width <= 0 || height <= 0 || width > I420Buffer::kMaxSide || height > I420Buffer::kMaxSide)
        return false;
    if (!y || !u || !v)
        return false;
    const int chromaWidth = (width + 1) / 2;
    return strideY >= width && strideU >= chromaWidth && strideV >= chromaWidth;
}

} // namespace

VideoFrame makeVideoFrameFromPlanes(int width, int height, const uint8_t *y, int strideY, const uint8_t *u,
                                    int strideU, const uint8_t *v, int strideV)
{
    if (!planesUsable(width, height, y, strideY, u, strideU, v, strideV)) {
        qDebug() << "Frame record rejected: size" << width << "x" << height << ", strides" << strideY << strideU
                 << strideV << ", planes" << (y != nullptr) << (u != nullptr) << (v != nullptr);
        return VideoFrame();
    }
    auto buffer = I420Buffer::create(width, height);
    if (!buffer) {
        qDebug() << "No memory for a frame of" << width << "x" << height;
        return VideoFrame();
    }
    const int chromaHeight = buffer->chromaHeight();
    copyPlane(buffer->mutableDataY(), buffer->strideY(), y, strideY, height);
    copyPlane(buffer->mutableDataU(), buffer->strideU(), u, strideU, chromaHeight);
    copyPlane(buffer->mutableDataV(), buffer->strideV(), v, strideV, chromaHeight);
    return VideoFrame(std::move(buffer), 0, 0);
}

VideoFrame makeVideoFrame(const cap_frame &record)
{
    if (record.format != CAP_FORMAT_I420 && record.format != CAP_FORMAT_YV12) {
        qDebug() << "Unsupport frame format " << record.format << ", makeVideoFrame failed!";
        return VideoFrame();
    }
    return makeVideoFrameFromPlanes(record.width, record.height, record.y, record.stride_y, record.u,
                                    record.stride_u, record.v, record.stride_v);
}

VideoFrame makeVideoFrame(const dec_frame &record)
{
    if (record.fmt != DEC_PIX_YUV420P_SEPARATE) {
        qDebug() << "Unsupport frame format " << record.fmt << ", makeVideoFrame failed!";
        return VideoFrame();
    }
    return makeVideoFrameFromPlanes(record.width, record.height, record.data[0], record.stride[0], record.data[1],
                                    record.stride[1], record.data[2], record.stride[2]);
}

cv::Mat videoFrameToMat(const VideoFrame &frame)
{
    const auto view = i420Of(frame);
    if (!view)
        return cv::Mat();
    int paddedWidth = 0, paddedHeight = 0;
    const cv::Mat packed = packedI420(*view, paddedWidth, paddedHeight);
    cv::Mat bgr;
    cv::cvtColor(packed, bgr, cv::COLOR_YUV2BGR_I420);
    if (paddedWidth != view->width() || paddedHeight != view->height())
        return bgr(cv::Rect(0, 0, view->width(), view->height())).clone();
    return bgr;
}

QImage videoFrameToImage(const VideoFrame &frame)
{
    const auto view = i420Of(frame);
    if (!view)
        return QImage();
    const int width = view->width();
    const int height = view->height();
    int paddedWidth = 0, paddedHeight = 0;
    const cv::Mat packed = packedI420(*view, paddedWidth, paddedHeight);
    QImage image(width, height, QImage::Format_RGB888);
    if (image.isNull())
        return QImage();
    if (paddedWidth == width && paddedHeight == height) {
        // Convert straight into the image's own rows.
        cv::Mat target(height, width, CV_8UC3, image.bits(), size_t(image.bytesPerLine()));
        cv::cvtColor(packed, target, cv::COLOR_YUV2RGB_I420);
        return image;
    }
    cv::Mat rgb;
    cv::cvtColor(packed, rgb, cv::COLOR_YUV2RGB_I420);
    for (int row = 0; row < height; ++row)
        std::memcpy(image.scanLine(row), rgb.ptr(row), size_t(width) * 3);
    return image;
}
