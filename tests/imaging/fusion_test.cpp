// Focus fusion: a two-frame stack whose halves are sharp in turn, weights
// that never go wrong, the maximum filter, and the worker's flow of
// acceptance, rejection and late replies.
#include "imaging.h"
#include "synthetic_frames.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

using namespace fusion;

namespace {

const cv::Mat &sharpPicture()
{
    static const cv::Mat picture = texturedPicture(320, 240, 21);
    return picture;
}

// The sharp picture blurred on the left half (leftBlurred) or the right.
cv::Mat halfBlurred(bool leftBlurred)
{
    cv::Mat blurred;
    cv::GaussianBlur(sharpPicture(), blurred, cv::Size(0, 0), 3.0);
    cv::Mat frame = sharpPicture().clone();
    const int half = frame.cols / 2;
    const cv::Rect side = leftBlurred ? cv::Rect(0, 0, half, frame.rows) : cv::Rect(half, 0, frame.cols - half, frame.rows);
    blurred(side).copyTo(frame(side));
    return frame;
}

double psnr(const cv::Mat &a, const cv::Mat &b)
{
    return cv::PSNR(a, b);
}

}  // namespace

TEST(Fusion, TwoFrameStackTakesTheSharpHalfOfEach)
{
    const cv::Mat leftSharp = halfBlurred(false), rightSharp = halfBlurred(true);
    cv::Mat fused;
    fuseFocusStack({leftSharp, rightSharp}, fused, NormalisedWeights);
    ASSERT_EQ(fused.type(), CV_8UC3);
    ASSERT_EQ(fused.size(), sharpPicture().size());
    // Away from the seam, each half is the sharp picture.
    const int half = fused.cols / 2, margin = 16;
    const cv::Rect left(0, 0, half - margin, fused.rows), right(half + margin, 0, fused.cols - half - margin, fused.rows);
    EXPECT_GT(psnr(fused(left), sharpPicture()(left)), 40.0);
    EXPECT_GT(psnr(fused(right), sharpPicture()(right)), 40.0);
    // And the whole is better than either frame, in sharpness too.
    EXPECT_GT(psnr(fused, sharpPicture()), psnr(leftSharp, sharpPicture()) + 6.0);
    EXPECT_GT(imageSharpness(fused), imageSharpness(leftSharp) + kAcceptanceMargin);
    // The order of the frames does not matter away from ties.
    cv::Mat swapped;
    fuseFocusStack({rightSharp, leftSharp}, swapped, NormalisedWeights);
    EXPECT_GT(psnr(swapped(left), sharpPicture()(left)), 40.0);
}

TEST(Fusion, BandsFuseAsTheWholePictureWould)
{
    // Work is split in bands of rows by thread count: one thread gives the
    // whole picture in one band.
    const cv::Mat picture = texturedPicture(256, 600, 4);
    cv::Mat blurred;
    cv::GaussianBlur(picture, blurred, cv::Size(0, 0), 2.5);
    cv::Mat top = picture.clone(), bottom = picture.clone();
    blurred.rowRange(0, 300).copyTo(bottom.rowRange(0, 300));
    blurred.rowRange(300, 600).copyTo(top.rowRange(300, 600));
    const int threads = cv::getNumThreads();
    cv::setNumThreads(1);
    cv::Mat whole, banded;
    fuseFocusStack({top, bottom}, whole, NormalisedWeights);
    cv::setNumThreads(6);
    fuseFocusStack({top, bottom}, banded, NormalisedWeights);
    cv::setNumThreads(threads);
    ASSERT_EQ(banded.size(), whole.size());
    EXPECT_LE(cv::norm(banded, whole, cv::NORM_INF), 1.0);
}

TEST(Fusion, FlatFramesGiveTheFirstFrameAndNoNaN)
{
    // No gradient anywhere: every mask goes to the first frame, the guided
    // filter has nothing to follow, and nothing may divide by zero.
    const cv::Mat dark(60, 80, CV_8UC3, cv::Scalar(10, 20, 30)), light(60, 80, CV_8UC3, cv::Scalar(250, 240, 230));
    cv::Mat fused;
    fuseFocusStack({dark, light}, fused, NormalisedWeights);
    ASSERT_FALSE(fused.empty());
    EXPECT_EQ(cv::norm(fused, dark, cv::NORM_INF), 0.0);
    fuseFocusStack({light, dark, dark}, fused, NormalisedWeights);
    EXPECT_EQ(cv::norm(fused, light, cv::NORM_INF), 0.0);
}

TEST(Fusion, WeightsAreClampedNormalisedAndNeverNaN)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // Per pixel: ordinary, overshoot, undershoot, all zero, all negative, NaN.
    cv::Mat a = (cv::Mat_<float>(1, 6) << 0.25f, 1.7f, -0.4f, 0.0f, -0.2f, nan);
    cv::Mat b = (cv::Mat_<float>(1, 6) << 0.25f, 0.5f, 0.8f, 0.0f, -0.3f, 0.6f);
    const cv::Mat maskA = (cv::Mat_<float>(1, 6) << 1, 1, 0, 0, 1, 0);
    const cv::Mat maskB = (cv::Mat_<float>(1, 6) << 0, 0, 1, 1, 0, 1);
    std::vector<cv::Mat> weights = {a.clone(), b.clone()};
    fusionWeights(weights, {maskA, maskB}, NormalisedWeights);
    const float expectedA[6] = {0.5f, 1.0f / 1.5f, 0.0f, 0.0f, 1.0f, 0.0f};
    for (int i = 0; i < 6; ++i) {
        const float wa = weights[0].at<float>(i), wb = weights[1].at<float>(i);
        ASSERT_FALSE(std::isnan(wa) || std::isnan(wb)) << i;
        EXPECT_GE(wa, 0.0f);
        EXPECT_LE(wa, 1.0f);
        EXPECT_NEAR(wa + wb, 1.0f, 1e-6f) << i;
        EXPECT_NEAR(wa, expectedA[i], 1e-6f) << i;
    }
    // Clamping alone keeps each weight within [0, 1].
    weights = {a.clone(), b.clone()};
    fusionWeights(weights, {maskA, maskB}, ClampedWeights);
    EXPECT_EQ(weights[0].at<float>(1), 1.0f);
    EXPECT_EQ(weights[0].at<float>(2), 0.0f);
    EXPECT_EQ(weights[0].at<float>(5), 0.0f);
    // Weights that already sum to 1 stay as they are.
    weights = {(cv::Mat_<float>(1, 1) << 0.3f), (cv::Mat_<float>(1, 1) << 0.7f)};
    fusionWeights(weights, {maskA.colRange(0, 1), maskB.colRange(0, 1)}, NormalisedWeights);
    EXPECT_FLOAT_EQ(weights[0].at<float>(0), 0.3f);
}

TEST(Fusion, MaximumFilterKeepsItsBorderAndTakesTheSquareMaximumInside)
{
    cv::Mat source(30, 40, CV_32F);
    cv::randu(source, 0.0f, 100.0f);
    cv::Mat filtered;
    maxFilter2D(source, filtered, kMaxFilterRadius);
    const int r = kMaxFilterRadius;
    for (int row = 0; row < source.rows; ++row) {
        for (int x = 0; x < source.cols; ++x) {
            const bool border = row < r || x < r || row >= source.rows - r || x >= source.cols - r;
            float expected = source.at<float>(row, x);
            if (!border) {
                double maximum = 0;
                cv::minMaxLoc(source(cv::Rect(x - r, row - r, 2 * r + 1, 2 * r + 1)), nullptr, &maximum);
                expected = float(maximum);
            }
            ASSERT_EQ(filtered.at<float>(row, x), expected) << row << "," << x;
        }
    }
    // Smaller than the window: unchanged.
    const cv::Mat small = source(cv::Rect(0, 0, 8, 8)).clone();
    maxFilter2D(small, filtered, r);
    EXPECT_EQ(cv::norm(filtered, small, cv::NORM_INF), 0.0);
}

TEST(Fusion, WorkerKeepsOnlySharperResults)
{
    PicAnalyse analyse;
    QSignalSpy shown(&analyse, &PicAnalyse::showDstPix);
    EXPECT_EQ(analyse.analyseFrame(halfBlurred(true)), PicAnalyse::Outcome::Ignored);
    analyse.onStart();
    EXPECT_EQ(analyse.analyseFrame(cv::Mat()), PicAnalyse::Outcome::Skipped);
    EXPECT_EQ(analyse.analyseFrame(halfBlurred(true)), PicAnalyse::Outcome::First);
    EXPECT_EQ(analyse.analyseFrame(halfBlurred(false)), PicAnalyse::Outcome::Accepted);
    EXPECT_GT(psnr(analyse.result(), sharpPicture()), 30.0);
    // Nothing left to gain: the same frames again are rejected.
    EXPECT_EQ(analyse.analyseFrame(halfBlurred(false)), PicAnalyse::Outcome::Rejected);
    EXPECT_EQ(analyse.analyseFrame(halfBlurred(true)), PicAnalyse::Outcome::Rejected);
    EXPECT_EQ(analyse.rejections(), 2);
    ASSERT_EQ(shown.count(), 2);
    const QImage last = shown.at(1).at(0).value<QImage>();
    EXPECT_EQ(last.size(), QSize(320, 240));
    EXPECT_EQ(qImageToMat(last).size(), analyse.result().size());
    EXPECT_EQ(cv::norm(qImageToMat(last), analyse.result(), cv::NORM_INF), 0.0);

    // A frame of another size starts the result over.
    EXPECT_EQ(analyse.analyseFrame(sharpPicture()(cv::Rect(0, 0, 200, 100)).clone()), PicAnalyse::Outcome::First);
    EXPECT_EQ(analyse.result().size(), cv::Size(200, 100));
    EXPECT_EQ(analyse.rejections(), 0);
}

TEST(Fusion, AcceptanceNeedsMoreThanOneUnitOfSharpness)
{
    // A flat result and frames of thin lines that are sharper everywhere:
    // the fused picture is the frame, sharper by 40 x lines x rows / 1e6.
    const auto lines = [](int count) {
        cv::Mat frame(250, 408, CV_8UC3, cv::Scalar::all(100));
        for (int k = 0; k < count; ++k)
            frame.col(2 + 4 * k).setTo(cv::Scalar::all(105));
        return frame;
    };
    ASSERT_DOUBLE_EQ(imageSharpness(lines(100)), kAcceptanceMargin);
    PicAnalyse analyse;
    analyse.onStart();
    ASSERT_EQ(analyse.analyseFrame(lines(0)), PicAnalyse::Outcome::First);
    EXPECT_EQ(analyse.analyseFrame(lines(100)), PicAnalyse::Outcome::Rejected);
    EXPECT_EQ(analyse.analyseFrame(lines(101)), PicAnalyse::Outcome::Accepted);
    EXPECT_DOUBLE_EQ(analyse.bestSharpness(), imageSharpness(lines(101)));
}

TEST(Fusion, WorkerFusesAsTheWholeTwoFrameFusionWould)
{
    // Frames sharp in one slanted stripe each, on a picture whose size is no
    // multiple of the worker's tiles, then one of them again; beside the
    // worker, each step the way the whole pair is fused.
    const cv::Mat sharp = texturedPicture(460, 400, 9);
    cv::Mat blurred;
    cv::GaussianBlur(sharp, blurred, cv::Size(0, 0), 4.0);
    std::vector<cv::Mat> frames;
    for (int k = 0; k < 5; ++k) {
        cv::Mat stripe = cv::Mat::zeros(sharp.size(), CV_8U), frame = blurred.clone();
        const std::vector<cv::Point> corners = {{40 + 90 * k, 0}, {140 + 90 * k, 0}, {90 + 90 * k, 400}, {-10 + 90 * k, 400}};
        cv::fillConvexPoly(stripe, corners, 255);
        sharp.copyTo(frame, stripe);
        frames.push_back(frame);
    }
    frames.push_back(frames[2]);

    PicAnalyse analyse;
    analyse.onStart();
    cv::Mat reference;
    double best = 0;
    cv::Mat kept, keptCopy;
    std::vector<PicAnalyse::Outcome> outcomes;
    for (size_t k = 0; k < frames.size(); ++k) {
        const PicAnalyse::Outcome outcome = analyse.analyseFrame(frames[k]);
        outcomes.push_back(outcome);
        PicAnalyse::Outcome expected = PicAnalyse::Outcome::First;
        if (k == 0) {
            reference = frames[0].clone();
            best = imageSharpness(reference);
        } else {
            cv::Mat fused;
            fuseFocusStack({reference, frames[k]}, fused, NormalisedWeights);
            const double sharpness = imageSharpness(fused);
            expected = sharpness > best + kAcceptanceMargin ? PicAnalyse::Outcome::Accepted : PicAnalyse::Outcome::Rejected;
            if (expected == PicAnalyse::Outcome::Accepted) {
                reference = fused;
                best = sharpness;
            }
        }
        ASSERT_EQ(outcome, expected) << k;
        EXPECT_LE(cv::norm(analyse.result(), reference, cv::NORM_INF), 1.0) << k;
        EXPECT_NEAR(analyse.bestSharpness(), best, 1e-3) << k;
        if (k == 1) {
            // A result the caller keeps is not written over by later steps.
            kept = analyse.result();
            keptCopy = kept.clone();
        }
    }
    EXPECT_EQ(cv::norm(kept, keptCopy, cv::NORM_INF), 0.0);
    using O = PicAnalyse::Outcome;
    EXPECT_EQ(outcomes, std::vector<O>({O::First, O::Accepted, O::Accepted, O::Accepted, O::Accepted, O::Rejected}));
}

TEST(Fusion, RepliesWaitAfterTheFirstFrameAndAfterFiveRejections)
{
    PicAnalyse analyse;
    analyse.onStart();
    EXPECT_EQ(analyse.replyDelay(PicAnalyse::Outcome::First), kSettlingPauseMs);
    EXPECT_EQ(analyse.replyDelay(PicAnalyse::Outcome::Accepted), 0);
    analyse.analyseFrame(sharpPicture());
    for (int i = 1; i <= 6; ++i) {
        ASSERT_EQ(analyse.analyseFrame(sharpPicture()), PicAnalyse::Outcome::Rejected);
        EXPECT_EQ(analyse.replyDelay(PicAnalyse::Outcome::Rejected), i >= kRejectionsBeforePausing ? kSettlingPauseMs : 0);
    }

    // Through the slot: one reply per frame, the first one late.
    QSignalSpy replies(&analyse, &PicAnalyse::getNextVideoFrame);
    analyse.onStart();
    analyse.onRecvVideoFrame(frameFrom(halfBlurred(true)));
    EXPECT_EQ(replies.count(), 0);
    EXPECT_TRUE(replies.wait(20000));
    analyse.onRecvVideoFrame(frameFrom(halfBlurred(false)));
    EXPECT_EQ(replies.count(), 2);

    // A reply still waiting when the run stops is dropped.
    analyse.onStart();
    analyse.onRecvVideoFrame(frameFrom(halfBlurred(true)));
    analyse.onStop();
    QTest::qWait(3 * kSettlingPauseMs);
    EXPECT_EQ(replies.count(), 2);
    analyse.onRecvVideoFrame(frameFrom(halfBlurred(true)));
    EXPECT_EQ(replies.count(), 2);
}
