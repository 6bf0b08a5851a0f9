// Picture conversions between Qt images and OpenCV matrices.
#pragma once

#include <QImage>
#include <QRect>
#include <opencv2/core.hpp>

// Indexed8 -> one channel (the index bytes, copied); RGB32, ARGB32,
// ARGB32_Premultiplied and RGB888 -> three channels in B, G, R order; any
// other format -> an empty matrix. The result owns its pixels.
cv::Mat qImageToMat(const QImage &image);

// The same for the rectangle `area` of `image` only (clipped to the image).
cv::Mat qImageRegionToMat(const QImage &image, const QRect &area);

// Whether qImageRegionToMat converts `format` pixel by pixel (so that a
// region converts to exactly the pixels of the whole picture).
bool isPerPixelFormat(QImage::Format format);

// One channel -> Indexed8 with a grey colour table; three channels (B, G, R)
// -> RGB888; four channels (B, G, R, A) -> ARGB32; other types -> a null
// image. The result owns its pixels.
QImage matToQImage(const cv::Mat &matrix);
