// The conversions of camera formats into I420, against OpenCV's own
// conversions and decoder as the reference.
#include "convert.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <turbojpeg.h>

#include <random>
#include <vector>

using namespace usbcam;

namespace {

struct I420 {
    int width, height;
    std::vector<uint8_t> data;
    I420(int w, int h) : width(w), height(h), data(size_t(w) * h + 2 * size_t((w + 1) / 2) * ((h + 1) / 2), 0xEE) {}
    uint8_t *y() { return data.data(); }
    uint8_t *u() { return y() + size_t(width) * height; }
    uint8_t *v() { return u() + size_t((width + 1) / 2) * ((height + 1) / 2); }
    cv::Mat bgr() const
    {
        cv::Mat packed(height * 3 / 2, width, CV_8UC1, const_cast<uint8_t *>(data.data()));
        cv::Mat out;
        cv::cvtColor(packed, out, cv::COLOR_YUV2BGR_I420);
        return out;
    }
};

// A picture with edges, gradients and fine texture.
cv::Mat testPicture(int width, int height)
{
    cv::Mat picture(height, width, CV_8UC3);
    std::mt19937 random(7);
    for (int row = 0; row < height; ++row) {
        for (int x = 0; x < width; ++x) {
            cv::Vec3b &p = picture.at<cv::Vec3b>(row, x);
            p[0] = uint8_t((x * 255) / width);
            p[1] = uint8_t((row * 255) / height);
            p[2] = uint8_t(((x / 16 + row / 16) & 1) ? 200 : 40);
        }
    }
    cv::circle(picture, {width / 2, height / 2}, std::min(width, height) / 3, {30, 160, 220}, -1);
    return picture;
}

double meanAbsoluteDifference(const cv::Mat &a, const cv::Mat &b)
{
    cv::Mat difference;
    cv::absdiff(a, b, difference);
    const cv::Scalar mean = cv::mean(difference);
    return (mean[0] + mean[1] + mean[2]) / 3.0;
}

std::vector<uint8_t> encodeJpeg(const cv::Mat &bgr, int subsampling, int quality = 92)
{
    tjhandle handle = tjInitCompress();
    unsigned char *jpeg = nullptr;
    unsigned long size = 0;
    cv::Mat source = bgr;
    int pixelFormat = TJPF_BGR;
    if (subsampling == TJSAMP_GRAY) {
        cv::cvtColor(bgr, source, cv::COLOR_BGR2GRAY);
        pixelFormat = TJPF_GRAY;
    }
    const int result = tjCompress2(handle, source.data, source.cols, int(source.step), source.rows, pixelFormat, &jpeg,
                                   &size, subsampling, quality, 0);
    std::vector<uint8_t> bytes;
    if (result == 0)
        bytes.assign(jpeg, jpeg + size);
    tjFree(jpeg);
    tjDestroy(handle);
    return bytes;
}

} // namespace

TEST(Conversion, Nv12MatchesOpenCvExactly)
{
    for (const cv::Size size : {cv::Size(64, 48), cv::Size(1920, 1080)}) {
        cv::Mat yuv;
        cv::cvtColor(testPicture(size.width, size.height), yuv, cv::COLOR_BGR2YUV_I420);
        // Interleave into NV12 with padded rows, as drivers hand it out.
        const int stride = size.width + 64;
        std::vector<uint8_t> nv12(size_t(stride) * size.height * 3 / 2, 0x55);
        const uint8_t *y = yuv.data, *u = y + size.area(), *v = u + size.area() / 4;
        for (int row = 0; row < size.height; ++row)
            std::copy(y + row * size.width, y + (row + 1) * size.width, nv12.begin() + row * stride);
        uint8_t *uv = nv12.data() + size_t(stride) * size.height;
        for (int row = 0; row < size.height / 2; ++row)
            for (int x = 0; x < size.width / 2; ++x) {
                uv[row * stride + 2 * x] = u[row * size.width / 2 + x];
                uv[row * stride + 2 * x + 1] = v[row * size.width / 2 + x];
            }

        I420 out(size.width, size.height);
        nv12ToI420(nv12.data(), stride, uv, stride, size.width, size.height, out.y(), out.u(), out.v());
        EXPECT_TRUE(std::equal(out.data.begin(), out.data.end(), yuv.data)) << size.width;
    }
}

TEST(Conversion, YuyvMatchesOpenCvWithinChromaAveraging)
{
    const int width = 640, height = 480;
    cv::Mat bgr = testPicture(width, height);
    // OpenCV has no BGR to YUYV; build it from full-resolution YUV (BT.601).
    cv::Mat yuv;
    cv::cvtColor(bgr, yuv, cv::COLOR_BGR2YUV);
    std::vector<uint8_t> yuyv(size_t(width) * height * 2);
    for (int row = 0; row < height; ++row)
        for (int x = 0; x < width; x += 2) {
            const cv::Vec3b a = yuv.at<cv::Vec3b>(row, x), b = yuv.at<cv::Vec3b>(row, x + 1);
            uint8_t *o = &yuyv[size_t(row) * width * 2 + size_t(x) * 2];
            o[0] = a[0];
            o[1] = uint8_t((a[1] + b[1] + 1) / 2);
            o[2] = b[0];
            o[3] = uint8_t((a[2] + b[2] + 1) / 2);
        }
    cv::Mat packed(height, width, CV_8UC2, yuyv.data());
    cv::Mat reference;
    cv::cvtColor(packed, reference, cv::COLOR_YUV2BGR_YUYV);

    I420 out(width, height);
    yuyvToI420(yuyv.data(), width * 2, width, height, out.y(), out.u(), out.v());
    // Luma is copied exactly.
    for (int row = 0; row < height; row += 37)
        for (int x = 0; x < width; x += 13)
            ASSERT_EQ(out.y()[row * width + x], yuyv[size_t(row) * width * 2 + size_t(x) * 2]);
    // Chroma loses only its vertical resolution.
    EXPECT_LT(meanAbsoluteDifference(out.bgr(), reference), 1.0);
}

TEST(Conversion, YuyvWithOddHeightAndPaddedRows)
{
    const int width = 8, height = 5, stride = 24;
    std::vector<uint8_t> yuyv(size_t(stride) * height, 0);
    for (int row = 0; row < height; ++row)
        for (int x = 0; x < width * 2; x += 4) {
            yuyv[row * stride + x] = uint8_t(row * 10 + x);
            yuyv[row * stride + x + 1] = uint8_t(100 + row);
            yuyv[row * stride + x + 2] = uint8_t(row * 10 + x + 1);
            yuyv[row * stride + x + 3] = uint8_t(200 - row);
        }
    I420 out(width, height);
    const size_t expected = out.data.size();
    yuyvToI420(yuyv.data(), stride, width, height, out.y(), out.u(), out.v());
    EXPECT_EQ(out.data.size(), expected);
    EXPECT_EQ(out.y()[4 * width + 2], 4 * 10 + 4);
    // The last chroma row comes from the lone last row.
    EXPECT_EQ(out.u()[2 * (width / 2)], 104);
    EXPECT_EQ(out.v()[2 * (width / 2)], 196);
    // Rows 0 and 1 are averaged.
    EXPECT_EQ(out.u()[0], 101);  // (100 + 101 + 1) / 2
}

TEST(Conversion, MjpegOfEverySubsamplingMatchesTheReferenceDecoder)
{
    const int width = 320, height = 240;
    // Softened edges: the reference decoder interpolates chroma, ours takes
    // the nearest sample, which only differs at sharp colour edges.
    cv::Mat picture;
    cv::GaussianBlur(testPicture(width, height), picture, cv::Size(5, 5), 0);
    MjpegDecoder decoder;
    for (int subsampling : {TJSAMP_420, TJSAMP_422, TJSAMP_444, TJSAMP_GRAY, TJSAMP_440}) {
        const std::vector<uint8_t> jpeg = encodeJpeg(picture, subsampling);
        ASSERT_FALSE(jpeg.empty());
        const cv::Mat reference = cv::imdecode(jpeg, cv::IMREAD_COLOR);
        I420 out(width, height);
        ASSERT_TRUE(decoder.decode(jpeg.data(), jpeg.size(), width, height, out.y(), out.u(), out.v()))
            << "subsampling " << subsampling;
        // Differences come from the chroma resampling at edges only.
        EXPECT_LT(meanAbsoluteDifference(out.bgr(), reference), 5.0) << "subsampling " << subsampling;
        int peekWidth = 0, peekHeight = 0;
        EXPECT_TRUE(decoder.peekSize(jpeg.data(), jpeg.size(), peekWidth, peekHeight));
        EXPECT_EQ(peekWidth, width);
        EXPECT_EQ(peekHeight, height);
    }
}

TEST(Conversion, MjpegColoursAreExactOnFlatAreas)
{
    const int width = 64, height = 48;
    MjpegDecoder decoder;
    for (const cv::Scalar &colour : {cv::Scalar(40, 160, 220), cv::Scalar(0, 0, 0), cv::Scalar(255, 255, 255),
                                    cv::Scalar(200, 30, 90)}) {
        const cv::Mat flat(height, width, CV_8UC3, colour);
        for (int subsampling : {TJSAMP_420, TJSAMP_422}) {
            const std::vector<uint8_t> jpeg = encodeJpeg(flat, subsampling, 100);
            const cv::Mat reference = cv::imdecode(jpeg, cv::IMREAD_COLOR);
            I420 out(width, height);
            ASSERT_TRUE(decoder.decode(jpeg.data(), jpeg.size(), width, height, out.y(), out.u(), out.v()));
            const cv::Vec3b ours = out.bgr().at<cv::Vec3b>(20, 30), theirs = reference.at<cv::Vec3b>(20, 30);
            for (int channel = 0; channel < 3; ++channel)
                EXPECT_NEAR(ours[channel], theirs[channel], 2) << colour << " channel " << channel;
        }
    }
}

TEST(Conversion, MjpegOf420KeepsEverySampleInVideoRange)
{
    const int width = 64, height = 32;
    const std::vector<uint8_t> jpeg = encodeJpeg(testPicture(width, height), TJSAMP_420);
    // The reference: libjpeg-turbo's own planar decode.
    tjhandle handle = tjInitDecompress();
    I420 reference(width, height);
    unsigned char *planes[3] = {reference.y(), reference.u(), reference.v()};
    int strides[3] = {width, width / 2, width / 2};
    ASSERT_EQ(tjDecompressToYUVPlanes(handle, jpeg.data(), jpeg.size(), planes, width, strides, height, TJFLAG_FASTDCT), 0);
    tjDestroy(handle);
    MjpegDecoder decoder;
    I420 out(width, height);
    ASSERT_TRUE(decoder.decode(jpeg.data(), jpeg.size(), width, height, out.y(), out.u(), out.v()));
    // JPEG's full range becomes BT.601 video range: Y 16..235, chroma 16..240.
    const size_t lumaCount = size_t(width) * height;
    for (size_t i = 0; i < out.data.size(); ++i) {
        const double full = reference.data[i];
        const double expected = i < lumaCount ? 16 + full * 219 / 255 : 128 + (full - 128) * 224 / 255;
        ASSERT_NEAR(out.data[i], expected, 1.0) << "sample " << i;
    }
}

TEST(Conversion, BrokenMjpegIsRefusedWithoutHarm)
{
    const int width = 160, height = 120;
    const std::vector<uint8_t> jpeg = encodeJpeg(testPicture(width, height), TJSAMP_422);
    MjpegDecoder decoder;
    I420 out(width, height);
    const size_t planeBytes = out.data.size();

    // Cut short, as when USB packets are lost.
    EXPECT_FALSE(decoder.decode(jpeg.data(), jpeg.size() / 2, width, height, out.y(), out.u(), out.v()));
    // Another size than the one negotiated (the camera changed format).
    I420 small(width / 2, height / 2);
    EXPECT_FALSE(decoder.decode(jpeg.data(), jpeg.size(), width / 2, height / 2, small.y(), small.u(), small.v()));
    // Not a JPEG, empty, null.
    const std::vector<uint8_t> garbage(4096, 0x5A);
    EXPECT_FALSE(decoder.decode(garbage.data(), garbage.size(), width, height, out.y(), out.u(), out.v()));
    EXPECT_FALSE(decoder.decode(jpeg.data(), 0, width, height, out.y(), out.u(), out.v()));
    EXPECT_FALSE(decoder.decode(nullptr, 100, width, height, out.y(), out.u(), out.v()));

    // Random damage anywhere in the stream: refused or decoded, never a
    // write outside the planes (the sanitizers watch).
    std::mt19937 random(1234);
    for (int round = 0; round < 200; ++round) {
        std::vector<uint8_t> damaged = jpeg;
        const int hits = 1 + int(random() % 8);
        for (int i = 0; i < hits; ++i)
            damaged[random() % damaged.size()] = uint8_t(random());
        decoder.decode(damaged.data(), damaged.size(), width, height, out.y(), out.u(), out.v());
    }
    EXPECT_EQ(out.data.size(), planeBytes);
    // The decoder still works after all that.
    EXPECT_TRUE(decoder.decode(jpeg.data(), jpeg.size(), width, height, out.y(), out.u(), out.v()))
        << decoder.lastError();
}
