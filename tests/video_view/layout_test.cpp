// Fit, centring, scroll bars, drag and placement arithmetic of the view.
#include "gl_shader_source.h"
#include "view_layout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace view_layout;

TEST(ViewFit, TruncatesToFourDecimalsAndNeverEnlarges)
{
    EXPECT_DOUBLE_EQ(*bestFitScale(QSize(1280, 800), QSize(1920, 1080)), 0.6666);
    EXPECT_DOUBLE_EQ(*bestFitScale(QSize(1280, 800), QSize(640, 480)), 1.0);
    EXPECT_DOUBLE_EQ(scalePercent(0.6666), 66.66);
}

TEST(ViewFit, NoScaleFromSizesWithoutArea)
{
    EXPECT_FALSE(bestFitScale(QSize(1280, 800), QSize(0, 1080)));   // camera reports width 0
    EXPECT_FALSE(bestFitScale(QSize(1280, 800), QSize(1920, -1)));
    EXPECT_FALSE(bestFitScale(QSize(0, 0), QSize(1920, 1080)));     // minimised window
    EXPECT_FALSE(bestFitScale(QSize(1, 1), QSize(16384, 16384)));   // truncates to 0
    for (double bad : {-1.0, 0.0, std::numeric_limits<double>::infinity(), std::nan("")})
        EXPECT_FALSE(isUsableScale(bad)) << bad;
    EXPECT_TRUE(isUsableScale(0.0001));
}

TEST(ViewLiveLayout, CentresTheScaledFrame)
{
    LiveLayout layout = liveLayout(QSize(1280, 800), QSize(1920, 1080), 0.6666);
    EXPECT_EQ(layout.content, QSize(1279, 719));
    EXPECT_EQ(layout.scrollGeometry, QRect(0, 40, 1279, 719));
    EXPECT_FALSE(layout.horizontalBar);
    EXPECT_FALSE(layout.verticalBar);

    layout = liveLayout(QSize(1280, 800), QSize(640, 480), 1.0);
    EXPECT_EQ(layout.scrollGeometry, QRect(320, 160, 640, 480));
}

TEST(ViewLiveLayout, ScaleAboveOneIsCappedAndLargeFramesScroll)
{
    const LiveLayout layout = liveLayout(QSize(1280, 800), QSize(1920, 1080), 2.0);
    EXPECT_EQ(layout.content, QSize(1920, 1080));
    EXPECT_EQ(layout.scrollGeometry, QRect(0, 0, 1280, 800));
    EXPECT_TRUE(layout.horizontalBar);
    EXPECT_TRUE(layout.verticalBar);
}

TEST(ViewLiveLayout, UnfittedOrBrokenScaleGivesNoArea)
{
    for (double bad : {-1.0, 0.0, std::numeric_limits<double>::infinity(), std::nan("")}) {
        const LiveLayout layout = liveLayout(QSize(1280, 800), QSize(1920, 1080), bad);
        EXPECT_TRUE(layout.content.isEmpty()) << bad;
        EXPECT_FALSE(layout.horizontalBar);
    }
    EXPECT_TRUE(liveLayout(QSize(1280, 800), QSize(0, 1080), 1.0).content.isEmpty());
}

TEST(ViewStillLayout, CentresOrFillsWithBars)
{
    StillLayout layout = stillLayout(QSize(1000, 800), QSize(400, 300), 1.0);
    EXPECT_EQ(layout.viewGeometry, QRect(300, 250, 400, 300));
    EXPECT_FALSE(layout.horizontalBar || layout.verticalBar);
    layout = stillLayout(QSize(1000, 800), QSize(800, 300), 2.0);
    EXPECT_EQ(layout.viewGeometry, QRect(0, 100, 1000, 600));
    EXPECT_TRUE(layout.horizontalBar);
    EXPECT_FALSE(layout.verticalBar);
    // Null picture: the container's own size; broken scale: 1.0.
    EXPECT_EQ(stillLayout(QSize(500, 400), QSize(), 1.0).viewGeometry, QRect(0, 0, 500, 400));
    EXPECT_EQ(stillLayout(QSize(500, 400), QSize(100, 100), std::nan("")).viewGeometry, QRect(200, 150, 100, 100));
}

TEST(ViewDrag, DeadZoneThenFullDistance)
{
    DragState state;
    EXPECT_TRUE(dragMove(state, QPoint(100, 100)).consumed);  // anchors
    DragStep step = dragMove(state, QPoint(109, 91));
    EXPECT_FALSE(step.consumed);
    EXPECT_TRUE(step.scrollBy.isNull());
    step = dragMove(state, QPoint(110, 100));
    EXPECT_TRUE(step.consumed);
    EXPECT_EQ(step.scrollBy, QPoint(-10, 0));
    // Once dragging, every move scrolls.
    step = dragMove(state, QPoint(111, 102));
    EXPECT_EQ(step.scrollBy, QPoint(-1, -2));
    dragRelease(state);
    EXPECT_TRUE(dragMove(state, QPoint(0, 0)).scrollBy.isNull());
}

TEST(ViewPlacement, PanelAndZoomButtons)
{
    EXPECT_EQ(flowPanelGeometry(true, 5, QSize(800, 600)), QRect(5, 5, 790, 70));
    EXPECT_EQ(flowPanelGeometry(false, 5, QSize(800, 600)), QRect(5, 525, 790, 70));
    EXPECT_EQ(zoomButtonsPosition(QSize(800, 600), QSize(198, 36), false, 200), QPoint(582, 474));
    EXPECT_EQ(zoomButtonsPosition(QSize(800, 600), QSize(198, 36), true, 200), QPoint(582, 304));
}

TEST(ViewWheel, ZeroDeltaDoesNothing)
{
    EXPECT_FALSE(wheelForward(0));
    EXPECT_TRUE(*wheelForward(120));
    EXPECT_FALSE(*wheelForward(-15));
}

TEST(ShaderText, VersionStrings)
{
    GlslVersion glsl = parseGlslVersion("OpenGL ES GLSL ES 3.00 Mesa 22.3.6");
    EXPECT_TRUE(glsl.es);
    EXPECT_EQ(glsl.version, 300);
    EXPECT_EQ(parseGlslVersion("4.50 NVIDIA").version, 450);
    EXPECT_EQ(parseGlslVersion("1.30").version, 130);
    glsl = parseGlslVersion("garbage");
    EXPECT_FALSE(glsl.parsed);
    EXPECT_EQ(glsl.version, 110);
    EXPECT_EQ(parseGlslVersion(nullptr).version, 110);
}

TEST(ShaderText, PreambleByVersion)
{
    GlslVersion es3;
    es3.version = 300;
    es3.es = true;
    const QByteArray fragment = shaderPreamble(ShaderKind::Fragment, es3);
    EXPECT_TRUE(fragment.startsWith("#version 300 es\n"));
    EXPECT_TRUE(fragment.contains("precision highp float;"));
    EXPECT_FALSE(fragment.contains("#define highp"));  // would break the precision statement
    EXPECT_TRUE(fragment.contains("#define gl_FragColor out_color"));
    EXPECT_TRUE(shaderPreamble(ShaderKind::Vertex, es3).contains("#define attribute in\n"));

    GlslVersion old;  // the unparsable fallback
    const QByteArray legacy = shaderPreamble(ShaderKind::Vertex, old);
    EXPECT_TRUE(legacy.startsWith("#version 110\n#define highp\n"));
    EXPECT_FALSE(legacy.contains("attribute in"));

    GlslVersion es2;
    es2.version = 100;
    es2.es = true;
    const QByteArray es2Fragment = shaderPreamble(ShaderKind::Fragment, es2);
    EXPECT_TRUE(es2Fragment.startsWith("#version 100\nprecision mediump float;\n"));
    EXPECT_FALSE(es2Fragment.contains("out_color"));
}
