#include "image_convert.h"

#include <QtEndian>
#include <opencv2/imgproc.hpp>

#include <cstring>

bool isPerPixelFormat(QImage::Format format)
{
    switch (format) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
    case QImage::Format_RGB888:
        return true;
    default:
        return false;
    }
}

cv::Mat qImageRegionToMat(const QImage &image, const QRect &area)
{
    const QRect rect = area.intersected(image.rect());
    if (image.isNull() || rect.isEmpty())
        return cv::Mat();
    const size_t step = size_t(image.bytesPerLine());
    // QImage hands out const bits without a deep copy; cv::Mat wants non-const.
    uchar *bits = const_cast<uchar *>(image.constBits());
    cv::Mat converted;
    switch (image.format()) {
    case QImage::Format_Indexed8: {
        const cv::Mat view(image.height(), image.width(), CV_8UC1, bits, step);
        return view(cv::Rect(rect.x(), rect.y(), rect.width(), rect.height())).clone();
    }
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied: {
        // A 32-bit 0xAARRGGBB value per pixel: B, G, R, A in memory on
        // little-endian machines, A, R, G, B on big-endian ones.
        const cv::Mat view(image.height(), image.width(), CV_8UC4, bits, step);
        const cv::Mat part = view(cv::Rect(rect.x(), rect.y(), rect.width(), rect.height()));
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
        cv::cvtColor(part, converted, cv::COLOR_BGRA2BGR);
#else
        converted.create(part.rows, part.cols, CV_8UC3);
        const int fromTo[] = {3, 0, 2, 1, 1, 2};
        cv::mixChannels(&part, 1, &converted, 1, fromTo, 3);
#endif
        return converted;
    }
    case QImage::Format_RGB888: {
        const cv::Mat view(image.height(), image.width(), CV_8UC3, bits, step);
        cv::cvtColor(view(cv::Rect(rect.x(), rect.y(), rect.width(), rect.height())), converted, cv::COLOR_RGB2BGR);
        return converted;
    }
    default:
        return cv::Mat();
    }
}

cv::Mat qImageToMat(const QImage &image)
{
    return qImageRegionToMat(image, image.rect());
}

QImage matToQImage(const cv::Mat &matrix)
{
    if (matrix.empty())
        return QImage();
    switch (matrix.type()) {
    case CV_8UC1: {
        QImage image(matrix.cols, matrix.rows, QImage::Format_Indexed8);
        QVector<QRgb> table(256);
        for (int i = 0; i < 256; ++i)
            table[i] = qRgb(i, i, i);
        image.setColorTable(table);
        for (int row = 0; row < matrix.rows; ++row)
            std::memcpy(image.scanLine(row), matrix.ptr(row), size_t(matrix.cols));
        return image;
    }
    case CV_8UC3: {
        cv::Mat rgb;
        cv::cvtColor(matrix, rgb, cv::COLOR_BGR2RGB);
        return QImage(rgb.data, rgb.cols, rgb.rows, int(rgb.step), QImage::Format_RGB888).copy();
    }
    case CV_8UC4: {
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
        return QImage(matrix.data, matrix.cols, matrix.rows, int(matrix.step), QImage::Format_ARGB32).copy();
#else
        cv::Mat argb(matrix.rows, matrix.cols, CV_8UC4);
        const int fromTo[] = {3, 0, 2, 1, 1, 2, 0, 3};
        cv::mixChannels(&matrix, 1, &argb, 1, fromTo, 4);
        return QImage(argb.data, argb.cols, argb.rows, int(argb.step), QImage::Format_ARGB32).copy();
#endif
    }
    default:
        return QImage();
    }
}
