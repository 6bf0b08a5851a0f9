// Live stitching on synthetic pans over a large textured picture: offsets
// recovered to the pixel, the canvas growing on every side and matching the
// picture seamlessly, textureless frames, size changes, the size cap, and the
// one-reply-per-frame protocol.
#include "imaging.h"
#include "synthetic_frames.h"

#include <QSignalSpy>
#include <QTranslator>
#include <gtest/gtest.h>

using namespace stitching;

namespace {

constexpr int kFrameWidth = 320;
constexpr int kFrameHeight = 240;

const cv::Mat &sourcePicture()
{
    static const cv::Mat picture = texturedPicture(2400, 1800, 7);
    return picture;
}

// The source picture as it comes back from I420 frames (the colour of 2 x 2
// pixels is shared): what a perfect canvas holds.
const cv::Mat &sourceAfterFrames()
{
    static const cv::Mat picture = videoFrameToMat(frameFrom(sourcePicture()));
    return picture;
}

// The frame whose top-left corner lies at `at` in the source picture; its
// stitched part starts kCutRows lower.
VideoFrame frameAt(const cv::Point &at, const cv::Mat &source = sourcePicture())
{
    return frameFrom(source(cv::Rect(at, cv::Size(kFrameWidth, kFrameHeight))));
}

// The canvas position of the source picture's origin while `stitch` holds
// the frame taken at `at`.
cv::Point originOf(const PictureStitch &stitch, const cv::Point &at)
{
    const QPoint offset = stitch.offset();
    return cv::Point(offset.x(), offset.y()) - at - cv::Point(0, kCutRows);
}

cv::Mat canvasOf(const PictureStitch &stitch)
{
    const QImage canvas = stitch.canvas();
    return cv::Mat(canvas.height(), canvas.width(), CV_8UC3, const_cast<uchar *>(canvas.constBits()),
                   size_t(canvas.bytesPerLine()))
        .clone();
}

// Mean absolute difference between the covered (non-black) canvas and the
// source picture placed at `origin`; and the share of covered pixels that
// differ by more than 12 in any channel (doubled edges would). Frames must
// have been taken at even positions, where their colour samples line up
// with the source's.
void compareWithSource(const cv::Mat &canvas, const cv::Point &origin, double &meanDifference, double &badShare)
{
    double sum = 0;
    long covered = 0, bad = 0;
    const cv::Mat &source = sourceAfterFrames();
    for (int row = 0; row < canvas.rows; ++row) {
        for (int x = 0; x < canvas.cols; ++x) {
            const cv::Vec3b c = canvas.at<cv::Vec3b>(row, x);
            if (c == cv::Vec3b(0, 0, 0))
                continue;
            const cv::Point s(x - origin.x, row - origin.y);
            ASSERT_TRUE(s.x >= 0 && s.y >= 0 && s.x < source.cols && s.y < source.rows);
            const cv::Vec3b expected = source.at<cv::Vec3b>(s);
            int worst = 0;
            for (int ch = 0; ch < 3; ++ch) {
                const int d = std::abs(int(c[ch]) - int(expected[ch]));
                sum += d;
                worst = std::max(worst, d);
            }
            ++covered;
            bad += worst > 12;
        }
    }
    ASSERT_GT(covered, 0);
    meanDifference = sum / (3.0 * double(covered));
    badShare = double(bad) / double(covered);
}

}  // namespace

TEST(Stitching, KnownOffsetsAreRecoveredWithinOnePixel)
{
    PictureStitch stitch;
    stitch.onStart();
    const std::vector<cv::Point> steps = {{23, 7},  {31, -12}, {-17, 25}, {40, 3},  {5, 44},   {-9, -30},
                                          {61, 18}, {12, 57},  {-33, 9},  {70, -4}, {2, 1},    {-1, 66},
                                          {48, 48}, {-70, 20}, {90, 0},   {0, -90}, {37, -41}, {19, 80}};
    cv::Point at(800, 600);
    ASSERT_EQ(stitch.handleFrame(frameAt(at)), PictureStitch::Outcome::Started);
    const cv::Point origin = originOf(stitch, at);
    for (const cv::Point &step : steps) {
        at += step;
        ASSERT_EQ(stitch.handleFrame(frameAt(at)), PictureStitch::Outcome::Stitched) << step;
        // Frames move right and down from the first, so the canvas only
        // grows there and the origin stays put.
        const cv::Point error = originOf(stitch, at) - origin;
        EXPECT_LE(std::abs(error.x), 1) << step;
        EXPECT_LE(std::abs(error.y), 1) << step;
    }
}

TEST(Stitching, CanvasGrowsOnEverySideAndMatchesThePictureSeamlessly)
{
    PictureStitch stitch;
    QSignalSpy shown(&stitch, &PictureStitch::showDstPix);
    stitch.onStart();
    cv::Point at(1000, 800);
    ASSERT_EQ(stitch.handleFrame(frameAt(at)), PictureStitch::Outcome::Started);
    const QImage first = stitch.canvas();
    EXPECT_EQ(first.size(), QSize(2 * kFrameWidth, 2 * (kFrameHeight - 2 * kCutRows)));
    EXPECT_EQ(stitch.offset(), QPoint(kFrameWidth / 2, (kFrameHeight - 2 * kCutRows) / 2));

    // Left, up, right, down, in steps of 60 pixels.
    const std::vector<std::pair<cv::Point, int>> legs = {{{-60, 0}, 12}, {{0, -60}, 10}, {{60, 0}, 22}, {{0, 60}, 18}};
    QSize before = first.size();
    for (const auto &leg : legs) {
        for (int i = 0; i < leg.second; ++i) {
            at += leg.first;
            ASSERT_EQ(stitch.handleFrame(frameAt(at)), PictureStitch::Outcome::Stitched) << at;
        }
        const QSize now = stitch.canvas().size();
        if (leg.first.x != 0)
            EXPECT_GT(now.width(), before.width());
        else
            EXPECT_GT(now.height(), before.height());
        before = now;
    }
    EXPECT_EQ(shown.count(), 1 + 12 + 10 + 22 + 18);
    EXPECT_GE(stitch.offset().x(), 0);
    EXPECT_GE(stitch.offset().y(), 0);

    double meanDifference = 0, badShare = 0;
    compareWithSource(canvasOf(stitch), originOf(stitch, at), meanDifference, badShare);
    // Blending a frame over the same content changes next to nothing; a
    // misplaced frame, or a blend that drifts with every pass, would not.
    EXPECT_LT(meanDifference, 1.0);
    EXPECT_LT(badShare, 0.001);
}

TEST(Stitching, FrameOverBlackIsTakenUnchangedAndItsRimKeepsTheOldContent)
{
    cv::Mat canvas(100, 100, CV_8UC3, cv::Scalar(0, 0, 0));
    canvas(cv::Rect(0, 0, 100, 50)).setTo(cv::Scalar(10, 20, 30));
    const cv::Mat frame(40, 60, CV_8UC3, cv::Scalar(200, 150, 100));
    blendFrame(frame, canvas, cv::Point(20, 30));
    // Over black: the frame exactly.
    EXPECT_EQ(canvas.at<cv::Vec3b>(60, 50), cv::Vec3b(200, 150, 100));
    EXPECT_EQ(canvas.at<cv::Vec3b>(69, 79), cv::Vec3b(200, 150, 100));
    // The first row and column over content: weight 0, the old value stays.
    EXPECT_EQ(canvas.at<cv::Vec3b>(30, 40), cv::Vec3b(10, 20, 30));
    EXPECT_EQ(canvas.at<cv::Vec3b>(40, 20), cv::Vec3b(10, 20, 30));
    // The centre row and column: weight 1 at their crossing.
    EXPECT_EQ(canvas.at<cv::Vec3b>(30 + 20, 20 + 30), cv::Vec3b(200, 150, 100));
    // Outside the frame nothing changes.
    EXPECT_EQ(canvas.at<cv::Vec3b>(29, 40), cv::Vec3b(10, 20, 30));
    EXPECT_EQ(canvas.at<cv::Vec3b>(75, 10), cv::Vec3b(0, 0, 0));
}

TEST(Stitching, GrowthAddsAThirdPerOverrunSideAtMostTwice)
{
    const cv::Size canvas(600, 400), frame(300, 200);
    Growth growth = planGrowth(canvas, frame, cv::Point(-2, 100));
    EXPECT_TRUE(growth.fits);
    EXPECT_EQ(growth.size, cv::Size(700, 400));
    EXPECT_EQ(growth.shift, cv::Point(100, 0));

    growth = planGrowth(canvas, frame, cv::Point(350, 250));  // past the right and the bottom
    EXPECT_TRUE(growth.fits);
    EXPECT_EQ(growth.size, cv::Size(700, 466));
    EXPECT_EQ(growth.shift, cv::Point(0, 0));

    growth = planGrowth(canvas, frame, cv::Point(0, -120));  // more than a third: two steps
    EXPECT_TRUE(growth.fits);
    EXPECT_EQ(growth.size, cv::Size(600, 532));
    EXPECT_EQ(growth.shift, cv::Point(0, 132));

    EXPECT_FALSE(planGrowth(canvas, frame, cv::Point(-250, 0)).fits);  // beyond two steps
    EXPECT_TRUE(planGrowth(canvas, frame, cv::Point(300, 200)).fits);
    EXPECT_EQ(planGrowth(canvas, frame, cv::Point(300, 200)).size, canvas);
}

TEST(Stitching, TexturelessTemplatesAreSkipped)
{
    // A picture whose middle is one flat grey: a frame over it has a
    // textureless centre, and only its corners can be matched.
    cv::Mat source = sourcePicture().clone();
    source(cv::Rect(900, 700, 220, 150)).setTo(cv::Scalar(120, 120, 120));
    PictureStitch stitch;
    stitch.onStart();
    cv::Point at(850, 650);
    ASSERT_EQ(stitch.handleFrame(frameAt(at, source)), PictureStitch::Outcome::Started);
    const cv::Point origin = originOf(stitch, at);
    at += cv::Point(14, 9);
    ASSERT_EQ(stitch.handleFrame(frameAt(at, source)), PictureStitch::Outcome::Stitched);
    EXPECT_LE(cv::norm(originOf(stitch, at) - origin), 1.5);

    // A frame flat all over can't be placed: dropped, the offset stays, and
    // the next textured frame is matched against the last placed one.
    const QPoint offset = stitch.offset();
    const cv::Mat flat(kFrameHeight, kFrameWidth, CV_8UC3, cv::Scalar(90, 100, 110));
    EXPECT_EQ(stitch.handleFrame(frameFrom(flat)), PictureStitch::Outcome::Dropped);
    EXPECT_EQ(stitch.offset(), offset);
    at += cv::Point(-20, 30);
    ASSERT_EQ(stitch.handleFrame(frameAt(at, source)), PictureStitch::Outcome::Stitched);
    EXPECT_LE(cv::norm(originOf(stitch, at) - origin), 1.5);
}

TEST(Stitching, UnmovedOrUnmatchedFramesAreDroppedWithoutMovingTheOffset)
{
    PictureStitch stitch;
    stitch.onStart();
    const cv::Point at(500, 500);
    ASSERT_EQ(stitch.handleFrame(frameAt(at)), PictureStitch::Outcome::Started);
    const QPoint offset = stitch.offset();
    EXPECT_EQ(stitch.handleFrame(frameAt(at)), PictureStitch::Outcome::Dropped);
    // A different place of the picture: no template matches.
    EXPECT_EQ(stitch.handleFrame(frameAt(at + cv::Point(900, 700))), PictureStitch::Outcome::Dropped);
    EXPECT_EQ(stitch.offset(), offset);
}

TEST(Stitching, NewSizeOrUnusableFramesRestartTheRun)
{
    PictureStitch stitch;
    QSignalSpy restarted(&stitch, &PictureStitch::runRestarted);
    stitch.onStart();
    ASSERT_EQ(stitch.handleFrame(frameAt({300, 300})), PictureStitch::Outcome::Started);
    ASSERT_EQ(stitch.handleFrame(frameAt({330, 310})), PictureStitch::Outcome::Stitched);

    // Another size: a new canvas for it at once.
    const cv::Mat wider = sourcePicture()(cv::Rect(300, 300, 400, 300));
    EXPECT_EQ(stitch.handleFrame(frameFrom(wider)), PictureStitch::Outcome::Started);
    EXPECT_EQ(restarted.count(), 1);
    EXPECT_EQ(stitch.canvas().size(), QSize(800, 2 * (300 - 2 * kCutRows)));
    EXPECT_EQ(stitch.offset(), QPoint(200, (300 - 2 * kCutRows) / 2));

    // An empty frame, or one with too few rows once 40 are cut: the run
    // starts over with the next usable frame.
    EXPECT_EQ(stitch.handleFrame(VideoFrame()), PictureStitch::Outcome::Unusable);
    EXPECT_EQ(restarted.count(), 2);
    EXPECT_TRUE(stitch.canvas().isNull());
    const cv::Mat low = sourcePicture()(cv::Rect(0, 0, 320, 2 * kCutRows + kMinFrameSide - 1));
    EXPECT_EQ(stitch.handleFrame(frameFrom(low)), PictureStitch::Outcome::Unusable);
    EXPECT_EQ(restarted.count(), 2);  // nothing was left to restart
    EXPECT_EQ(stitch.handleFrame(frameAt({300, 300})), PictureStitch::Outcome::Started);
    EXPECT_TRUE(stitch.isRunning());
}

TEST(Stitching, OneReplyPerFrameWhileRunningAndNoneAfterStop)
{
    PictureStitch stitch;
    QSignalSpy replies(&stitch, &PictureStitch::getNextVideoFrame);
    QSignalSpy shown(&stitch, &PictureStitch::showDstPix);
    stitch.onRecvVideoFrame(frameAt({100, 100}));
    EXPECT_EQ(replies.count(), 0);
    stitch.onStart();
    stitch.onRecvVideoFrame(frameAt({100, 100}));
    stitch.onRecvVideoFrame(frameAt({100, 100}));  // dropped: no movement
    stitch.onRecvVideoFrame(VideoFrame());         // unusable
    EXPECT_EQ(replies.count(), 3);
    EXPECT_EQ(shown.count(), 1);
    // The picture handed out stays as it was while the canvas changes.
    const QImage firstPicture = shown.at(0).at(0).value<QImage>();
    const QImage copy = firstPicture.copy();
    stitch.onRecvVideoFrame(frameAt({120, 100}));
    stitch.onRecvVideoFrame(frameAt({140, 110}));
    EXPECT_EQ(shown.count(), 3);
    EXPECT_EQ(firstPicture, copy);
    stitch.onStop();
    stitch.onRecvVideoFrame(frameAt({160, 110}));
    EXPECT_EQ(replies.count(), 5);
    EXPECT_TRUE(stitch.canvas().isNull());
}

TEST(Stitching, CanvasCapEndsTheRunWithAMessage)
{
    // A low strip panned to the right 150 pixels a frame: the canvas grows
    // a third of a frame at a time until it would pass the cap.
    const int width = 320, height = 2 * kCutRows + 80;
    const cv::Mat tile = texturedPicture(2048, height, 11);
    cv::Mat strip;
    cv::hconcat(tile, tile, strip);
    PictureStitch stitch;
    QSignalSpy replies(&stitch, &PictureStitch::getNextVideoFrame);
    QSignalSpy ended(&stitch, &PictureStitch::runEnded);
    stitch.onStart();
    int frames = 0;
    for (long x = 0; frames < 400 && stitch.isRunning(); x += 150, ++frames)
        stitch.onRecvVideoFrame(frameFrom(strip(cv::Rect(int(x % 2048), 0, width, height))));
    ASSERT_EQ(ended.count(), 1);
    const QString message = ended.at(0).at(0).toString();
    EXPECT_FALSE(message.isEmpty());
    QTranslator chinese;
    ASSERT_TRUE(chinese.load(":/Language/language_cn.qm"));
    EXPECT_FALSE(chinese.translate("PictureStitch", message.toUtf8().constData()).isEmpty());
    EXPECT_FALSE(stitch.isRunning());
    // Every frame before the last was answered; the last ended the run.
    EXPECT_EQ(replies.count(), frames - 1);
    EXPECT_GT(frames, (kMaxCanvasSide - 2 * width) / 150);
    // A frame whose first canvas (twice its size) would already pass it.
    stitch.onStart();
    const cv::Mat wide(2 * kCutRows + kMinFrameSide, kMaxCanvasSide / 2 + 2, CV_8UC3, cv::Scalar(60, 90, 120));
    EXPECT_EQ(stitch.handleFrame(frameFrom(wide)), PictureStitch::Outcome::Ended);
    ASSERT_EQ(ended.count(), 2);
    EXPECT_NE(ended.at(1).at(0).toString(), message);
    EXPECT_FALSE(chinese.translate("PictureStitch", ended.at(1).at(0).toString().toUtf8().constData()).isEmpty());

    EXPECT_FALSE(canvasSizeAllowed(cv::Size(kMaxCanvasSide + 1, 100)));
    EXPECT_FALSE(canvasSizeAllowed(cv::Size(kMaxCanvasSide, kMaxCanvasSide)));  // past the byte cap
    EXPECT_TRUE(canvasSizeAllowed(cv::Size(kMaxCanvasSide, 8192)));
}
