// Stitching and fusion on frames of the virtual camera: its panning stage
// moves by a known step per frame, and its relief is sharp at a different
// focus value in every region.
#include "imaging.h"
#include "synthetic_frames.h"
#include "control.h"
#include "virtual_backend.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

class VirtualStageFrames : public ::testing::Test
{
protected:
    void SetUp() override { usbcam::resetVirtualCamera(); }
    void TearDown() override { usbcam::resetVirtualCamera(); }

    static VideoFrame render(int width, int height, long frameNumber)
    {
        usbcam::I420Frame planes;
        usbcam::renderVirtualFrame(planes, width, height, 0.0, frameNumber);
        const int chromaWidth = (width + 1) / 2;
        return makeVideoFrameFromPlanes(width, height, planes.y(), width, planes.u(), chromaWidth, planes.v(),
                                        chromaWidth);
    }

    // Manual focus at `focus` (or automatic focus when negative).
    static void setFocus(int focus)
    {
        const int32_t handle = cam_find_context(usbcam::kVirtualCameraPath);
        ASSERT_GE(handle, 0);
        if (focus < 0) {
            ASSERT_EQ(cam_set_focus_mode(handle, 1), 0);
            return;
        }
        ASSERT_EQ(cam_set_focus_mode(handle, 0), 0);
        ASSERT_EQ(cam_set_focus(handle, focus), 0);
    }
};

}  // namespace

TEST_F(VirtualStageFrames, StitchingFollowsThePanExactly)
{
    const cv::Point pan(9, -7);
    usbcam::setVirtualStage(usbcam::VirtualStage{pan.x, pan.y, false});
    PictureStitch stitch;
    stitch.onStart();
    ASSERT_EQ(stitch.handleFrame(render(640, 480, 0)), PictureStitch::Outcome::Started);
    QPoint last = stitch.offset();
    QSize canvas = stitch.canvas().size();
    for (long n = 1; n <= 40; ++n) {
        ASSERT_EQ(stitch.handleFrame(render(640, 480, n)), PictureStitch::Outcome::Stitched) << n;
        // Frame n lies (panX, panY) further on the sample than frame n - 1,
        // plus what the canvas grew on the left or at the top.
        cv::Point expected = cv::Point(last.x(), last.y()) + pan;
        expected += stitching::planGrowth(cv::Size(canvas.width(), canvas.height()),
                                          cv::Size(640, 480 - 2 * stitching::kCutRows), expected)
                        .shift;
        EXPECT_LE(std::abs(stitch.offset().x() - expected.x), 1) << n;
        EXPECT_LE(std::abs(stitch.offset().y() - expected.y), 1) << n;
        last = stitch.offset();
        canvas = stitch.canvas().size();
    }
    EXPECT_GT(canvas.height(), 2 * (480 - 2 * stitching::kCutRows));  // grew at the top
}

TEST_F(VirtualStageFrames, FocusSeriesOnTheReliefFusesSharpEverywhere)
{
    const int width = 480, height = 320;
    // The flat sample at focus 200 is the relief seen all sharp.
    setFocus(200);
    const cv::Mat sharp = videoFrameToMat(render(width, height, 0));
    usbcam::setVirtualStage(usbcam::VirtualStage{0, 0, true});

    PicAnalyse analyse;
    analyse.onStart();
    double bestFrame = 0;
    for (int focus = 40; focus <= 360; focus += 20) {
        setFocus(focus);
        const cv::Mat frame = videoFrameToMat(render(width, height, 0));
        bestFrame = std::max(bestFrame, cv::PSNR(frame, sharp));
        analyse.analyseFrame(frame);
    }
    const double fused = cv::PSNR(analyse.result(), sharp);
    EXPECT_GT(fused, bestFrame + 5.0) << "fused " << fused << " dB, best frame " << bestFrame << " dB";
    EXPECT_GT(fused, 30.0);
}
