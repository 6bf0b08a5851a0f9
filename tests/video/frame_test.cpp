#include "capture.h"
#include "frame_convert.h"
#include "log.h"
#include "trovix.h"
#include "video_frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

// A planar 4:2:0 picture with chosen strides and a recognisable pattern.
// U rows are `strideC` apart, V rows `strideV` (the same unless given).
struct Planes {
    int width, height, strideY, strideC, strideV;
    std::vector<uint8_t> y, u, v;

    Planes(int w, int h, int sy, int sc, int sv = 0)
        : width(w), height(h), strideY(sy), strideC(sc), strideV(sv > 0 ? sv : sc)
    {
        const int ch = (h + 1) / 2;
        // Both chroma buffers as long as the wider plane needs: a plane read
        // with the other plane's stride gives wrong rows, not a read past the end.
        const size_t chromaBytes = size_t(std::max(strideC, strideV)) * ch;
        y.assign(size_t(sy) * h, 0xEE);
        u.assign(chromaBytes, 0xEE);
        v.assign(chromaBytes, 0xEE);
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c)
                y[size_t(r) * sy + c] = uint8_t(16 + (r * 3 + c * 5) % 220);
        for (int r = 0; r < ch; ++r)
            for (int c = 0; c < (w + 1) / 2; ++c) {
                u[size_t(r) * sc + c] = uint8_t(64 + (r + 2 * c) % 128);
                v[size_t(r) * strideV + c] = uint8_t(200 - (2 * r + c) % 128);
            }
    }
    cap_frame capRecord(int format = CAP_FORMAT_I420)
    {
        cap_frame record{};
        record.y = y.data();
        record.u = u.data();
        record.v = v.data();
        record.format = format;
        record.width = width;
        record.height = height;
        record.stride_y = strideY;
        record.stride_u = strideC;
        record.stride_v = strideV;
        return record;
    }
    dec_frame decRecord(int format = DEC_PIX_YUV420P_SEPARATE)
    {
        dec_frame record{};
        record.fmt = format;
        record.width = width;
        record.height = height;
        record.data[0] = y.data();
        record.data[1] = u.data();
        record.data[2] = v.data();
        record.stride[0] = strideY;
        record.stride[1] = strideC;
        record.stride[2] = strideV;
        return record;
    }
};

const I420BufferInterface &i420(const VideoFrame &frame)
{
    return *frame.buffer()->getI420();
}

void expectSamePixels(const VideoFrame &frame, const Planes &planes)
{
    const auto &buffer = i420(frame);
    for (int r = 0; r < planes.height; ++r)
        ASSERT_EQ(0, memcmp(buffer.dataY() + size_t(r) * buffer.strideY(), planes.y.data() + size_t(r) * planes.strideY,
                            size_t(planes.width)))
            << "Y row " << r;
    const int cw = (planes.width + 1) / 2;
    for (int r = 0; r < (planes.height + 1) / 2; ++r) {
        ASSERT_EQ(0, memcmp(buffer.dataU() + size_t(r) * buffer.strideU(), planes.u.data() + size_t(r) * planes.strideC,
                            size_t(cw)));
        ASSERT_EQ(0, memcmp(buffer.dataV() + size_t(r) * buffer.strideV(), planes.v.data() + size_t(r) * planes.strideV,
                            size_t(cw)));
    }
}

// BT.601 limited-range conversion of one pixel, the reference for OpenCV's.
void referenceRgb(int y, int u, int v, int rgb[3])
{
    const double c = 1.164 * (y - 16), d = u - 128, e = v - 128;
    const double values[3] = {c + 1.596 * e, c - 0.392 * d - 0.813 * e, c + 2.017 * d};
    for (int i = 0; i < 3; ++i)
        rgb[i] = std::max(0, std::min(255, int(std::lround(values[i]))));
}

void expectMatchesReference(const QImage &image, const Planes &planes)
{
    ASSERT_EQ(image.width(), planes.width);
    ASSERT_EQ(image.height(), planes.height);
    for (int r = 0; r < planes.height; r += std::max(1, planes.height / 17))
        for (int c = 0; c < planes.width; c += std::max(1, planes.width / 19)) {
            int rgb[3];
            referenceRgb(planes.y[size_t(r) * planes.strideY + c], planes.u[size_t(r / 2) * planes.strideC + c / 2],
                         planes.v[size_t(r / 2) * planes.strideV + c / 2], rgb);
            const QRgb pixel = image.pixel(c, r);
            ASSERT_NEAR(qRed(pixel), rgb[0], 3) << r << "," << c;
            ASSERT_NEAR(qGreen(pixel), rgb[1], 3) << r << "," << c;
            ASSERT_NEAR(qBlue(pixel), rgb[2], 3) << r << "," << c;
        }
}

} // namespace

TEST(AlignedAlloc, AlignsAndRefusesBadArguments)
{
    for (size_t size : {1u, 63u, 64u, 1000u, 1u << 20}) {
        void *block = alignedAlloc(size, 64);
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 64, 0u);
        memset(block, 0xAB, size);
        alignedFree(block);
    }
    EXPECT_EQ(alignedAlloc(100, 48), nullptr);
    EXPECT_EQ(alignedAlloc(0, 64), nullptr);
    EXPECT_EQ(alignedAlloc(100, 0), nullptr);
    EXPECT_EQ(alignedAlloc(SIZE_MAX - 8, 64), nullptr);
    alignedFree(nullptr);
}

TEST(I420Buffer, OddSizeGeometry)
{
    auto buffer = I420Buffer::create(1919, 1081);
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer->chromaWidth(), 960);
    EXPECT_EQ(buffer->chromaHeight(), 541);
    EXPECT_EQ(buffer->strideY(), 1919);
    EXPECT_EQ(buffer->strideU(), 960);
    EXPECT_EQ(buffer->totalSize(), 1919 * 1081 + 541 * 1920);
    EXPECT_EQ(buffer->dataU(), buffer->dataY() + 1919 * 1081);
    EXPECT_EQ(buffer->dataV(), buffer->dataU() + 960 * 541);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(buffer->dataY()) % 64, 0u);
    EXPECT_EQ(buffer->toI420().get(), buffer.get());
    EXPECT_EQ(buffer->type(), 1);
    EXPECT_FALSE(I420Buffer::create(0, 10));
    EXPECT_FALSE(I420Buffer::create(10, -1));
    EXPECT_FALSE(I420Buffer::create(I420Buffer::kMaxSide + 1, 10));
}

TEST(VideoFrame, CopiesShareTheBufferAndEmptyFramesReadZero)
{
    VideoFrame empty;
    EXPECT_EQ(empty.width(), 0);
    EXPECT_EQ(empty.height(), 0);
    EXPECT_EQ(empty.size(), 0);
    EXPECT_EQ(empty.type(), 0);
    Planes planes(64, 48, 64, 32);
    VideoFrame frame = makeVideoFrame(planes.capRecord());
    ASSERT_EQ(frame.size(), 64 * 48);
    VideoFrame copy = frame;
    EXPECT_EQ(copy.buffer().get(), frame.buffer().get());
    EXPECT_EQ(frame.buffer().use_count(), 3);  // frame, copy and this temporary
    copy.reset();
    EXPECT_EQ(copy.size(), 0);
    EXPECT_EQ(frame.size(), 64 * 48);
}

TEST(VideoFrame, CrossesThreadsAsAQueuedSignalArgument)
{
    registerVideoFrameMetaType();
    EXPECT_NE(QMetaType::type("VideoFrame"), 0);
    Planes planes(16, 16, 16, 8);
    const VideoFrame frame = makeVideoFrame(planes.capRecord());
    QVariant variant = QVariant::fromValue(frame);
    EXPECT_EQ(variant.value<VideoFrame>().buffer().get(), frame.buffer().get());
}

TEST(MakeVideoFrame, TightStridesCopyAllThreePlanes)
{
    Planes planes(640, 480, 640, 320);
    const VideoFrame frame = makeVideoFrame(planes.capRecord(CAP_FORMAT_YV12));
    ASSERT_EQ(frame.width(), 640);
    ASSERT_EQ(frame.height(), 480);
    EXPECT_EQ(frame.type(), 1);
    expectSamePixels(frame, planes);
}

TEST(MakeVideoFrame, WideStridesAreCopiedRowByRowIntoTightOnes)
{
    Planes planes(1920, 1080, 2048, 1024);
    const VideoFrame frame = makeVideoFrame(planes.capRecord());
    ASSERT_EQ(frame.size(), 1920 * 1080);
    EXPECT_EQ(i420(frame).strideY(), 1920);
    EXPECT_EQ(i420(frame).strideU(), 960);
    expectSamePixels(frame, planes);
}

TEST(MakeVideoFrame, OddSizesCopyTheWholeChromaPlanes)
{
    Planes planes(1919, 1081, 1919, 960);
    const VideoFrame frame = makeVideoFrame(planes.decRecord());
    ASSERT_EQ(frame.width(), 1919);
    expectSamePixels(frame, planes);
}

TEST(MakeVideoFrame, UAndVPlanesAreReadWithTheirOwnStrides)
{
    // Decoders and capture layers may pad U and V rows differently.
    Planes wideV(33, 17, 40, 20, 29);
    expectSamePixels(makeVideoFrame(wideV.decRecord()), wideV);
    Planes wideU(33, 17, 33, 29, 20);
    expectSamePixels(makeVideoFrame(wideU.capRecord()), wideU);
}

TEST(MakeVideoFrame, RefusedFormatsGiveAnEmptyFrame)
{
    Planes planes(32, 32, 32, 16);
    EXPECT_EQ(makeVideoFrame(planes.capRecord(7)).size(), 0);
    EXPECT_EQ(makeVideoFrame(planes.decRecord(5)).size(), 0);
    EXPECT_EQ(makeVideoFrame(planes.decRecord(DEC_PIX_RGB888)).type(), 0);
}

TEST(MakeVideoFrame, InsaneRecordsGiveAnEmptyFrameWithoutTouchingMemory)
{
    Planes planes(32, 32, 32, 16);
    cap_frame record = planes.capRecord();
    record.width = 0;
    EXPECT_EQ(makeVideoFrame(record).size(), 0);
    record = planes.capRecord();
    record.height = -4;
    EXPECT_EQ(makeVideoFrame(record).size(), 0);
    record = planes.capRecord();
    record.u = nullptr;
    EXPECT_EQ(makeVideoFrame(record).size(), 0);
    record = planes.capRecord();
    record.stride_y = 31;
    EXPECT_EQ(makeVideoFrame(record).size(), 0);
    record = planes.capRecord();
    record.stride_v = 15;
    EXPECT_EQ(makeVideoFrame(record).size(), 0);
    record = planes.capRecord();
    record.width = 100000;
    record.stride_y = 100000;
    EXPECT_EQ(makeVideoFrame(record).size(), 0);
    dec_frame decoded = planes.decRecord();
    decoded.data[2] = nullptr;
    EXPECT_EQ(makeVideoFrame(decoded).size(), 0);
}

TEST(FrameConversion, EmptyFramesGiveEmptyResults)
{
    EXPECT_TRUE(videoFrameToMat(VideoFrame()).empty());
    EXPECT_TRUE(videoFrameToImage(VideoFrame()).isNull());
}

TEST(FrameConversion, ImageMatchesBt601AtEvenAndOddSizes)
{
    for (auto size : {std::make_pair(64, 48), std::make_pair(63, 47), std::make_pair(1, 1), std::make_pair(2, 3),
                      std::make_pair(1919, 1081)}) {
        Planes planes(size.first, size.second, size.first + 7, (size.first + 1) / 2 + 3);
        const VideoFrame frame = makeVideoFrame(planes.capRecord());
        ASSERT_EQ(frame.width(), size.first);
        const QImage image = videoFrameToImage(frame);
        ASSERT_EQ(image.format(), QImage::Format_RGB888);
        expectMatchesReference(image, planes);
    }
}

TEST(FrameConversion, MatIsBgrOfTheSamePicture)
{
    for (auto size : {std::make_pair(320, 240), std::make_pair(33, 17)}) {
        Planes planes(size.first, size.second, size.first, (size.first + 1) / 2);
        const VideoFrame frame = makeVideoFrame(planes.capRecord());
        const cv::Mat bgr = videoFrameToMat(frame);
        const QImage rgb = videoFrameToImage(frame);
        ASSERT_EQ(bgr.cols, size.first);
        ASSERT_EQ(bgr.rows, size.second);
        ASSERT_EQ(bgr.type(), CV_8UC3);
        for (int r = 0; r < size.second; r += 5)
            for (int c = 0; c < size.first; c += 7) {
                const cv::Vec3b p = bgr.at<cv::Vec3b>(r, c);
                const QRgb q = rgb.pixel(c, r);
                ASSERT_EQ(p[2], qRed(q));
                ASSERT_EQ(p[1], qGreen(q));
                ASSERT_EQ(p[0], qBlue(q));
            }
    }
}

TEST(FrameConversion, ImageOutlivesItsFrame)
{
    QImage image;
    {
        Planes planes(128, 96, 128, 64);
        VideoFrame frame = makeVideoFrame(planes.capRecord());
        image = videoFrameToImage(frame);
    }
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.width(), 128);
    (void)image.pixel(127, 95);
}
