#include "frameless_geometry.h"
#include "title_bar_button.h"

#include <gtest/gtest.h>

namespace {
const QSize kWindow(800, 600);
}

TEST(EdgeHitTest, BandIsFivePixelsOnEverySide)
{
    EXPECT_EQ(resizeEdgesAt({4, 300}, kWindow), Qt::LeftEdge);
    EXPECT_EQ(resizeEdgesAt({5, 300}, kWindow), Qt::Edges());
    EXPECT_EQ(resizeEdgesAt({800 - 4, 300}, kWindow), Qt::RightEdge);
    EXPECT_EQ(resizeEdgesAt({800 - 5, 300}, kWindow), Qt::Edges());
    EXPECT_EQ(resizeEdgesAt({400, 4}, kWindow), Qt::TopEdge);
    EXPECT_EQ(resizeEdgesAt({400, 5}, kWindow), Qt::Edges());
    EXPECT_EQ(resizeEdgesAt({400, 600 - 4}, kWindow), Qt::BottomEdge);
    EXPECT_EQ(resizeEdgesAt({400, 600 - 5}, kWindow), Qt::Edges());
}

TEST(EdgeHitTest, CornersTakeBothEdges)
{
    for (int x = 0; x < 5; ++x)
        for (int y = 0; y < 5; ++y)
            EXPECT_EQ(resizeEdgesAt({x, y}, kWindow), Qt::LeftEdge | Qt::TopEdge) << x << "," << y;
    EXPECT_EQ(resizeEdgesAt({797, 2}, kWindow), Qt::RightEdge | Qt::TopEdge);
    EXPECT_EQ(resizeEdgesAt({2, 598}, kWindow), Qt::LeftEdge | Qt::BottomEdge);
    EXPECT_EQ(resizeEdgesAt({799, 599}, kWindow), Qt::RightEdge | Qt::BottomEdge);
}

TEST(EdgeHitTest, InATinyWindowLeftAndTopWin)
{
    EXPECT_EQ(resizeEdgesAt({3, 3}, QSize(6, 6)), Qt::LeftEdge | Qt::TopEdge);
    EXPECT_EQ(resizeEdgesAt({7, 3}, QSize(8, 6)), Qt::RightEdge | Qt::TopEdge);
}

TEST(EdgeHitTest, MaximisedFullScreenOrMinimisedWindowHasNoEdges)
{
    EXPECT_EQ(resizeEdgesAt({0, 0}, kWindow, Qt::WindowMaximized), Qt::Edges());
    EXPECT_EQ(resizeEdgesAt({799, 300}, kWindow, Qt::WindowFullScreen), Qt::Edges());
    EXPECT_EQ(resizeEdgesAt({2, 300}, kWindow, Qt::WindowMinimized), Qt::Edges());
    EXPECT_EQ(resizeEdgesAt({2, 300}, kWindow, Qt::WindowActive), Qt::LeftEdge);
}

TEST(EdgeHitTest, CursorShowsTheDirection)
{
    EXPECT_EQ(resizeCursor(Qt::LeftEdge), Qt::SizeHorCursor);
    EXPECT_EQ(resizeCursor(Qt::RightEdge), Qt::SizeHorCursor);
    EXPECT_EQ(resizeCursor(Qt::TopEdge), Qt::SizeVerCursor);
    EXPECT_EQ(resizeCursor(Qt::BottomEdge), Qt::SizeVerCursor);
    EXPECT_EQ(resizeCursor(Qt::LeftEdge | Qt::TopEdge), Qt::SizeFDiagCursor);
    EXPECT_EQ(resizeCursor(Qt::RightEdge | Qt::BottomEdge), Qt::SizeFDiagCursor);
    EXPECT_EQ(resizeCursor(Qt::RightEdge | Qt::TopEdge), Qt::SizeBDiagCursor);
    EXPECT_EQ(resizeCursor(Qt::LeftEdge | Qt::BottomEdge), Qt::SizeBDiagCursor);
    EXPECT_EQ(resizeCursor({}), Qt::ArrowCursor);
}

TEST(ResizeGeometry, EdgesFollowThePointerAndTheOppositeEdgeStays)
{
    const QRect start(100, 100, 800, 600);
    const QSize minimum(200, 150);
    EXPECT_EQ(resizedGeometry(start, Qt::RightEdge, {50, 30}, minimum), QRect(100, 100, 850, 600));
    EXPECT_EQ(resizedGeometry(start, Qt::LeftEdge, {-30, 30}, minimum), QRect(70, 100, 830, 600));
    EXPECT_EQ(resizedGeometry(start, Qt::TopEdge | Qt::LeftEdge, {10, 20}, minimum), QRect(110, 120, 790, 580));
    EXPECT_EQ(resizedGeometry(start, Qt::BottomEdge, {0, -100}, minimum), QRect(100, 100, 800, 500));
}

TEST(ResizeGeometry, NeverBelowTheMinimum)
{
    const QRect start(100, 100, 800, 600);
    const QSize minimum(200, 150);
    // The left edge stops 200 pixels left of the unmoved right edge.
    EXPECT_EQ(resizedGeometry(start, Qt::LeftEdge | Qt::TopEdge, {5000, 5000}, minimum), QRect(700, 550, 200, 150));
    EXPECT_EQ(resizedGeometry(start, Qt::RightEdge | Qt::BottomEdge, {-5000, -5000}, minimum),
              QRect(100, 100, 200, 150));
    EXPECT_EQ(resizedGeometry(start, Qt::RightEdge, {-5000, 0}, QSize()), QRect(100, 100, 1, 600));
}

TEST(MaximiseGeometry, WorkAreaOfTheScreenHoldingMostOfTheWindow)
{
    const QVector<ScreenArea> screens = {
        {QRect(0, 0, 1920, 1080), QRect(0, 0, 1920, 1040)},    // panel at the bottom
        {QRect(1920, 0, 1280, 1024), QRect(1920, 30, 1280, 994)},  // panel at the top
    };
    EXPECT_EQ(maximisedGeometry(QRect(100, 100, 800, 600), screens, 0), QRect(0, 0, 1920, 1040));
    EXPECT_EQ(maximisedGeometry(QRect(1700, 100, 800, 600), screens, 0), QRect(1920, 30, 1280, 994));
    // Off every screen: the primary one.
    EXPECT_EQ(maximisedGeometry(QRect(-3000, 0, 800, 600), screens, 1), QRect(1920, 30, 1280, 994));
    EXPECT_EQ(maximisedGeometry(QRect(-3000, 0, 800, 600), screens, 7), QRect(0, 0, 1920, 1040));
}

TEST(MaximiseGeometry, ScreenWithoutWorkAreaAndNoScreens)
{
    EXPECT_EQ(maximisedGeometry(QRect(0, 0, 10, 10), {{QRect(0, 0, 640, 480), QRect()}}, 0), QRect(0, 0, 640, 480));
    EXPECT_TRUE(maximisedGeometry(QRect(0, 0, 10, 10), {}, 0).isEmpty());
}

TEST(TitleBarDrag, OnlyLeftOfTheButtonsAndNotAtTheFirstColumn)
{
    EXPECT_FALSE(isTitleBarDragPoint({0, 10}, 1000, 184, false));
    EXPECT_TRUE(isTitleBarDragPoint({1, 10}, 1000, 184, false));
    EXPECT_TRUE(isTitleBarDragPoint({815, 10}, 1000, 184, false));
    EXPECT_FALSE(isTitleBarDragPoint({816, 10}, 1000, 184, false));
    EXPECT_FALSE(isTitleBarDragPoint({400, 10}, 1000, 184, true));
}

TEST(MaximizeGlyph, ScaledToDevicePixelsAndCutToWholePixels)
{
    const MaximizeButton::Glyph plain = MaximizeButton::glyph(false, 1.0);
    EXPECT_EQ(plain.square, QRectF(18, 11, 10, 10));
    EXPECT_TRUE(plain.behind.isEmpty());
    EXPECT_EQ(MaximizeButton::glyph(false, 1.5).square, QRectF(27, 16, 15, 15));

    const MaximizeButton::Glyph restore = MaximizeButton::glyph(true, 1.0);
    EXPECT_EQ(restore.square, QRectF(18, 13, 8, 8));
    EXPECT_EQ(restore.behind, QVector<QPoint>({{20, 13}, {20, 11}, {28, 11}, {28, 19}, {26, 19}}));
    EXPECT_EQ(MaximizeButton::glyph(true, 1.5).square, QRectF(27, 19, 12, 12));
}
