// Edge snapping: picture conversions, the window scan with its order and
// ties, the whole pipeline on synthetic pictures, and the region search
// against the whole-picture search.
#include "frame_convert.h"
#include "imaging.h"
#include "synthetic_frames.h"

#include <QImage>
#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <random>

using namespace edgesearch;

namespace {

EdgeRequest request(int x, int y, int viewWidth, int viewHeight, DrawType type = Line)
{
    EdgeRequest r;
    r.x = x;
    r.y = y;
    r.viewWidth = viewWidth;
    r.viewHeight = viewHeight;
    r.type = type;
    return r;
}

cv::Mat edgeMap(int width, int height, std::initializer_list<QPoint> edges)
{
    cv::Mat map(height, width, CV_8UC1, cv::Scalar(0));
    for (const QPoint &p : edges)
        map.at<uint8_t>(p.y(), p.x()) = 255;
    return map;
}

// Grey background, a white rectangle whose left side is at `edgeColumn`.
cv::Mat stepPicture(int width, int height, int edgeColumn)
{
    cv::Mat picture(height, width, CV_8UC3, cv::Scalar(40, 40, 40));
    cv::rectangle(picture, cv::Point(edgeColumn, 0), cv::Point(width - 1, height - 1), cv::Scalar(220, 220, 220),
                  cv::FILLED);
    return picture;
}

// Texture with edges of every strength, some of them long and faint, so
// that Canny's hysteresis has chains to follow far across the picture.
cv::Mat busyPicture(int width, int height, uint32_t seed)
{
    std::mt19937 random(seed);
    cv::Mat noise(height / 8 + 1, width / 8 + 1, CV_8UC3);
    cv::randu(noise, cv::Scalar::all(60), cv::Scalar::all(190));
    cv::Mat picture;
    cv::resize(noise, picture, cv::Size(width, height), 0, 0, cv::INTER_CUBIC);
    for (int i = 0; i < 40; ++i) {
        const cv::Point a(int(random() % width), int(random() % height));
        const cv::Point b(int(random() % width), int(random() % height));
        const int level = int(random() % 256);
        cv::line(picture, a, b, cv::Scalar(level, level, 255 - level), 1 + int(random() % 3));
    }
    for (int i = 0; i < 15; ++i) {
        const cv::Point centre(int(random() % width), int(random() % height));
        cv::circle(picture, centre, 5 + int(random() % 60), cv::Scalar::all(double(random() % 256)), 2);
    }
    // Faint long curves: weak edges that only connect to strong ones far away.
    for (int i = 0; i < 6; ++i) {
        const int y = int(random() % height);
        for (int x = 0; x + 8 < width; x += 8) {
            const int y1 = y + int(20 * std::sin(x / 37.0 + i));
            const int y2 = y + int(20 * std::sin((x + 8) / 37.0 + i));
            cv::line(picture, cv::Point(x, y1), cv::Point(x + 8, y2), cv::Scalar::all(128 + 25 * (i % 2 ? 1 : -1)), 1);
        }
    }
    return picture;
}

// Weak edges that end where a region's bottom rows fall: plateaus a little
// brighter than the background, each with a dark bar just below its lower
// right corner. Whether an edge pixel near a region's bottom is a strong
// one depends on rows below the region, so the search must not decide there.
struct Plateau {
    int x, bottom, contrast, gap;
};

std::vector<Plateau> plateaus()
{
    return {{20, 70, 13, 1}, {80, 85, 14, 1}, {140, 100, 15, 0}, {200, 115, 16, 1}};
}

cv::Mat plateauPicture()
{
    cv::Mat picture(150, 260, CV_8UC1, cv::Scalar(100));
    for (const Plateau &p : plateaus()) {
        cv::rectangle(picture, cv::Point(p.x, 0), cv::Point(p.x + 25, p.bottom), cv::Scalar(100 + p.contrast),
                      cv::FILLED);
        cv::rectangle(picture, cv::Point(p.x + 19, p.bottom + p.gap), cv::Point(p.x + 31, p.bottom + p.gap + 4),
                      cv::Scalar(0), cv::FILLED);
    }
    return picture;
}

}  // namespace

TEST(ImageConversion, ThirtyTwoBitFormatsAreReadAsBlueGreenRed)
{
    for (QImage::Format format :
         {QImage::Format_RGB32, QImage::Format_ARGB32, QImage::Format_ARGB32_Premultiplied, QImage::Format_RGB888}) {
        SCOPED_TRACE(int(format));
        QImage image(3, 2, format);
        image.fill(QColor(10, 20, 30));
        image.setPixel(2, 1, qRgb(200, 100, 50));
        const cv::Mat matrix = qImageToMat(image);
        ASSERT_EQ(matrix.type(), CV_8UC3);
        EXPECT_EQ(matrix.at<cv::Vec3b>(0, 0), cv::Vec3b(30, 20, 10));
        EXPECT_EQ(matrix.at<cv::Vec3b>(1, 2), cv::Vec3b(50, 100, 200));
        const cv::Mat part = qImageRegionToMat(image, QRect(2, 1, 5, 5));
        ASSERT_EQ(part.size(), cv::Size(1, 1));
        EXPECT_EQ(part.at<cv::Vec3b>(0, 0), cv::Vec3b(50, 100, 200));
    }
}

TEST(ImageConversion, IndexedBecomesOneChannelOtherFormatsEmpty)
{
    QImage indexed(4, 3, QImage::Format_Indexed8);
    indexed.setColorCount(256);
    indexed.fill(7);
    indexed.setPixel(3, 2, 200);
    const cv::Mat matrix = qImageToMat(indexed);
    ASSERT_EQ(matrix.type(), CV_8UC1);
    EXPECT_EQ(matrix.at<uint8_t>(0, 0), 7);
    EXPECT_EQ(matrix.at<uint8_t>(2, 3), 200);
    EXPECT_TRUE(qImageToMat(QImage(4, 3, QImage::Format_Grayscale8)).empty());
    EXPECT_TRUE(qImageToMat(QImage(4, 3, QImage::Format_RGB16)).empty());
    EXPECT_TRUE(qImageToMat(QImage()).empty());
}

TEST(ImageConversion, MatsBecomeImagesThatOwnTheirPixels)
{
    cv::Mat wide(4, 10, CV_8UC1);
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 10; ++column)
            wide.at<uint8_t>(row, column) = uint8_t(row * 10 + column);
    const cv::Mat part = wide(cv::Rect(1, 1, 5, 3));  // rows longer than the picture
    QImage grey = matToQImage(part);
    ASSERT_EQ(grey.format(), QImage::Format_Indexed8);
    EXPECT_EQ(grey.size(), QSize(5, 3));
    EXPECT_EQ(grey.pixelIndex(0, 0), 11);
    EXPECT_EQ(grey.pixelIndex(4, 2), 35);
    EXPECT_EQ(grey.pixel(4, 2), qRgb(35, 35, 35));

    QImage colour;
    {
        cv::Mat bgr(2, 2, CV_8UC3, cv::Scalar(30, 20, 10));
        colour = matToQImage(bgr);
    }
    ASSERT_EQ(colour.format(), QImage::Format_RGB888);
    EXPECT_EQ(colour.pixel(1, 1), qRgb(10, 20, 30));

    cv::Mat bgra(2, 2, CV_8UC4, cv::Scalar(30, 20, 10, 255));
    const QImage alpha = matToQImage(bgra);
    ASSERT_EQ(alpha.format(), QImage::Format_ARGB32);
    EXPECT_EQ(alpha.pixel(0, 1), qRgba(10, 20, 30, 255));
    EXPECT_TRUE(matToQImage(cv::Mat(2, 2, CV_16UC1)).isNull());
    EXPECT_TRUE(matToQImage(cv::Mat()).isNull());
}

TEST(EdgeWindow, VerticalLineSearchesItsColumnFromMinus25To24)
{
    EXPECT_EQ(nearestEdgeInMap(edgeMap(100, 100, {{50, 25}}), request(50, 50, 100, 100, VLine)), QPoint(50, 25));
    EXPECT_EQ(nearestEdgeInMap(edgeMap(100, 100, {{50, 75}}), request(50, 50, 100, 100, VLine)), QPoint(50, 50));
    EXPECT_EQ(nearestEdgeInMap(edgeMap(100, 100, {{50, 74}}), request(50, 50, 100, 100, VLine)), QPoint(50, 74));
    // Off the column: not seen.
    EXPECT_EQ(nearestEdgeInMap(edgeMap(100, 100, {{51, 50}}), request(50, 50, 100, 100, VLine)), QPoint(50, 50));
}

TEST(EdgeWindow, HorizontalLineTieGoesToTheLeft)
{
    EXPECT_EQ(nearestEdgeInMap(edgeMap(100, 100, {{47, 50}, {53, 50}}), request(50, 50, 100, 100, HLine)),
              QPoint(47, 50));
    EXPECT_EQ(nearestEdgeInMap(edgeMap(100, 100, {{52, 50}, {47, 50}}), request(50, 50, 100, 100, HLine)),
              QPoint(52, 50));
}

TEST(EdgeWindow, SquareWindowTieGoesToTheEarlierColumnAndCornerIsOutOfReach)
{
    EXPECT_EQ(nearestEdgeInMap(edgeMap(100, 100, {{53, 46}, {47, 54}}), request(50, 50, 100, 100)), QPoint(47, 54));
    EXPECT_EQ(nearestEdgeInMap(edgeMap(100, 100, {{25, 25}}), request(50, 50, 100, 100)), QPoint(50, 50));
    EXPECT_EQ(nearestEdgeInMap(edgeMap(100, 100, {{25, 26}}), request(50, 50, 100, 100)), QPoint(25, 26));
    EXPECT_EQ(nearestEdgeInMap(edgeMap(100, 100, {{74, 74}}), request(50, 50, 100, 100)), QPoint(74, 74));
    EXPECT_EQ(nearestEdgeInMap(edgeMap(100, 100, {{75, 50}}), request(50, 50, 100, 100)), QPoint(50, 50));
}

TEST(EdgeWindow, WindowIsClampedAtTheBorders)
{
    const cv::Mat map = edgeMap(40, 30, {{0, 0}, {39, 29}});
    EXPECT_EQ(nearestEdgeInMap(map, request(2, 3, 40, 30)), QPoint(0, 0));
    EXPECT_EQ(nearestEdgeInMap(map, request(38, 28, 40, 30)), QPoint(39, 29));
    EXPECT_EQ(nearestEdgeInMap(map, request(0, 20, 40, 30, VLine)), QPoint(0, 0));
    EXPECT_EQ(nearestEdgeInMap(map, request(0, 28, 40, 30, VLine)), QPoint(0, 28));
    EXPECT_EQ(nearestEdgeInMap(map, request(20, 29, 40, 30, HLine)), QPoint(39, 29));
}

TEST(EdgeSnapping, StepEdgeIsFoundOnTheClickRow)
{
    const cv::Mat picture = stepPicture(200, 150, 100);
    ImageProcess process;
    const QImage image = matToQImage(picture);
    for (DrawType type : {Line, HLine, Rect}) {
        const QPointF snapped = process.findNearestEdge(image, request(90, 70, 200, 150, type));
        EXPECT_TRUE(snapped.x() == 99 || snapped.x() == 100) << snapped.x();
        EXPECT_EQ(snapped.y(), 70);
    }
    // A vertical line only looks along its column, where there is no edge.
    EXPECT_EQ(process.findNearestEdge(image, request(90, 70, 200, 150, VLine)), QPointF(90, 70));
    // Too far: the click comes back.
    EXPECT_EQ(process.findNearestEdge(image, request(60, 70, 200, 150)), QPointF(60, 70));
}

TEST(EdgeSnapping, PictureIsScaledToThePictureArea)
{
    // Edge at column 200 of 400; the picture area is half as wide.
    const QImage image = matToQImage(stepPicture(400, 300, 200));
    const QPointF snapped = ImageProcess().findNearestEdge(image, request(90, 70, 200, 150));
    EXPECT_NEAR(snapped.x(), 99.5, 1.0);
    EXPECT_EQ(snapped.y(), 70);
}

TEST(EdgeSnapping, UnsearchableRequestsReturnTheClick)
{
    const QImage image = matToQImage(stepPicture(200, 150, 100));
    ImageProcess process;
    EXPECT_EQ(process.findNearestEdge(image, request(95, 70, 0, 0)), QPointF(95, 70));
    EXPECT_EQ(process.findNearestEdge(image, request(95, 70, 200, 0)), QPointF(95, 70));
    EXPECT_EQ(process.findNearestEdge(image, request(-1, 70, 200, 150)), QPointF(-1, 70));
    EXPECT_EQ(process.findNearestEdge(image, request(200, 70, 200, 150)), QPointF(200, 70));
    EXPECT_EQ(process.findNearestEdge(image, request(95, 150, 200, 150)), QPointF(95, 150));
    EXPECT_EQ(process.findNearestEdge(image, request(95, 70, 100000, 150)), QPointF(95, 70));
    EXPECT_EQ(process.findNearestEdge(QImage(), request(95, 70, 200, 150)), QPointF(95, 70));
    EXPECT_EQ(process.findNearestEdge(image.convertToFormat(QImage::Format_Grayscale8), request(95, 70, 200, 150)),
              QPointF(95, 70));
    EXPECT_EQ(process.findNearestEdge(VideoFrame(), request(95, 70, 200, 150)), QPointF(95, 70));
}

TEST(EdgeSnapping, GreyIndexedPictureIsSearchedAsGrey)
{
    cv::Mat grey;
    cv::cvtColor(stepPicture(200, 150, 100), grey, cv::COLOR_BGR2GRAY);
    const QPointF snapped = ImageProcess().findNearestEdge(matToQImage(grey), request(90, 70, 200, 150));
    EXPECT_TRUE(snapped.x() == 99 || snapped.x() == 100) << snapped.x();
}

TEST(EdgeSnapping, RegionSearchEqualsWholePictureSearch)
{
    std::mt19937 random(12345);
    int compared = 0;
    for (uint32_t seed : {1u, 2u, 3u}) {
        const MatSource source(busyPicture(480, 360, seed));
        for (const QSize view : {QSize(480, 360), QSize(317, 238), QSize(640, 480), QSize(480, 120)}) {
            SCOPED_TRACE(QString("seed %1 view %2x%3").arg(seed).arg(view.width()).arg(view.height()).toStdString());
            cv::Mat blurred, edges;
            cv::cvtColor(scaleRegion(source, view, cv::Rect(0, 0, view.width(), view.height())), blurred,
                         cv::COLOR_BGR2GRAY);
            cv::medianBlur(blurred, blurred, kMedianAperture);
            cv::Canny(blurred, edges, kCannyLow, kCannyHigh, kCannyAperture, false);
            for (int i = 0; i < 150; ++i) {
                // Clicks near the borders as often as inside.
                const int x = i % 3 == 0 ? int(random() % 12) : int(random() % view.width());
                const int y = i % 5 == 0 ? view.height() - 1 - int(random() % 12) : int(random() % view.height());
                const DrawType type = i % 4 == 0 ? VLine : i % 4 == 1 ? HLine : Line;
                const EdgeRequest r = request(x, y, view.width(), view.height(), type);
                ASSERT_EQ(findNearestEdge(source, r), nearestEdgeInMap(edges, r)) << x << "," << y << " type " << type;
                ++compared;
            }
            const EdgeRequest r = request(view.width() / 2, view.height() / 2, view.width(), view.height());
            EXPECT_EQ(findNearestEdge(source, r), findNearestEdgeWholePicture(source, r));
        }
    }
    EXPECT_EQ(compared, 3 * 4 * 150);
}

TEST(EdgeSnapping, RegionSearchEqualsWholePictureSearchWhereWeakEdgesEndAtTheRegionsBottom)
{
    const MatSource source(plateauPicture());
    const QSize view(source.width(), source.height());
    cv::Mat blurred, edges;
    cv::medianBlur(scaleRegion(source, view, cv::Rect(0, 0, view.width(), view.height())), blurred, kMedianAperture);
    cv::Canny(blurred, edges, kCannyLow, kCannyHigh, kCannyAperture, false);
    int compared = 0;
    for (const Plateau &p : plateaus()) {
        // Clicks whose first region ends up to 6 rows either side of the
        // plateau's bottom: square and column windows reach 41 rows below
        // the click (window and margins), row windows 17.
        for (const DrawType type : {Line, VLine, HLine}) {
            const int reach = type == HLine ? 17 : 41;
            for (int y = p.bottom - reach - 6; y <= p.bottom - reach + 6; ++y) {
                for (int x = p.x - 3; x <= p.x + 40; x += 4) {
                    const EdgeRequest r = request(x, y, view.width(), view.height(), type);
                    ASSERT_EQ(findNearestEdge(source, r), nearestEdgeInMap(edges, r))
                        << x << "," << y << " type " << type << ", plateau at " << p.x;
                    ++compared;
                }
            }
        }
    }
    EXPECT_EQ(compared, 4 * 3 * 13 * 11);
}

TEST(EdgeSnapping, RegionSearchEqualsWholePictureSearchWhereAnEdgeTurnsAtTheBottomMargin)
{
    // A faint plateau (rows 27 to 45) whose edges are edges only through the
    // pixel at row 46 that leads them down to the dark bar at rows 47 to 49.
    // Clicks on row 9 make a first region that ends at row 50, so row 46 is
    // the first row of its bottom margin: its Canny state depends on row 50.
    cv::Mat picture(70, 60, CV_8UC1, cv::Scalar(100));
    cv::rectangle(picture, cv::Point(39, 27), cv::Point(49, 45), cv::Scalar(113), cv::FILLED);
    cv::rectangle(picture, cv::Point(46, 31), cv::Point(59, 41), cv::Scalar(77), cv::FILLED);
    cv::rectangle(picture, cv::Point(44, 47), cv::Point(48, 49), cv::Scalar(74), cv::FILLED);
    cv::rectangle(picture, cv::Point(50, 49), cv::Point(59, 50), cv::Scalar(108), cv::FILLED);
    const MatSource source(picture);
    const QSize view(source.width(), source.height());
    cv::Mat blurred, edges;
    cv::medianBlur(picture, blurred, kMedianAperture);
    cv::Canny(blurred, edges, kCannyLow, kCannyHigh, kCannyAperture, false);
    ASSERT_TRUE(edges.at<uint8_t>(27, 40));
    for (int x = 20; x < 60; ++x) {
        const EdgeRequest r = request(x, 9, view.width(), view.height());
        ASSERT_EQ(findNearestEdge(source, r), nearestEdgeInMap(edges, r)) << "click at " << x << ",9";
    }
}

TEST(EdgeSnapping, FrameRegionsConvertLikeTheWholeFrame)
{
    for (const cv::Size size : {cv::Size(320, 240), cv::Size(321, 243)}) {
        const VideoFrame frame = frameFrom(busyPicture(size.width, size.height, 7));
        const QImage image = videoFrameToImage(frame);
        const cv::Mat whole = qImageToMat(image);
        const FrameSource source(frame);
        ASSERT_TRUE(source.isValid());
        std::mt19937 random(99);
        for (int i = 0; i < 50; ++i) {
            const int x = int(random() % size.width), y = int(random() % size.height);
            const cv::Rect area(x, y, 1 + int(random() % (size.width - x)), 1 + int(random() % (size.height - y)));
            const cv::Mat part = source.region(area);
            ASSERT_EQ(cv::norm(part, whole(area), cv::NORM_INF), 0.0) << area;
        }
        ImageProcess process;
        for (int i = 0; i < 60; ++i) {
            const EdgeRequest r = request(int(random() % 300), int(random() % 220), 300, 220,
                                          i % 3 == 0 ? VLine : i % 3 == 1 ? HLine : Ang);
            EXPECT_EQ(process.findNearestEdge(frame, r), process.findNearestEdge(image, r));
        }
    }
}
