#include "measure_test_support.h"

#include <QGraphicsRectItem>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

QList<double> horizontalPositions(const MainScene &scene)
{
    QList<double> ys;
    for (GraphicsCross *line : scene.lines())
        if (line->direction() == GraphicsCross::Horizontal)
            ys << line->pos().y();
    return ys;
}

// The view of a picture 600 pixels wide resized to `width`.
void resize(MainScene &scene, double width, double height)
{
    scene.setViewScale(width, 600);
    scene.setSceneRect(0, 0, width, height);
    scene.applyScale();
}

}  // namespace

TEST(Overlay, LinesDivideThePictureEvenly)
{
    MainScene scene;
    scene.setSceneRect(0, 0, 600, 400);
    scene.setHorizontalLineCount(3);  // hidden: nothing happens
    EXPECT_EQ(scene.horizontalLineCount(), 0);
    EXPECT_TRUE(scene.lines().isEmpty());
    scene.setLinesVisible(true);
    scene.setHorizontalLineCount(3);
    scene.setVerticalLineCount(1);
    EXPECT_EQ(horizontalPositions(scene), QList<double>({100, 200, 300}));
    scene.setHorizontalLineCount(1);
    EXPECT_EQ(horizontalPositions(scene), QList<double>({200}));
    ASSERT_EQ(scene.lines().size(), 2);
    GraphicsCross *vertical = scene.lines()[0];
    EXPECT_EQ(vertical->direction(), GraphicsCross::Vertical);
    EXPECT_EQ(vertical->pos(), QPointF(300, 0));
    EXPECT_EQ(vertical->line(), QLineF(0, 0, 0, 400));
}

// The crosshair's size counts two picture pixels a step, as shapes' sizes do.
TEST(Overlay, LinesStayInPlaceAndKeepTheirSizeThroughAnySequenceOfResizes)
{
    MainScene scene;
    scene.setSceneRect(0, 0, 600, 400);
    scene.setDrawProperty(CrossWidth, 3);
    scene.setDrawProperty(CrossStyle, int(Qt::SolidLine));
    scene.setDrawProperty(CrossColor, QColor(Qt::red));
    scene.setLinesVisible(true);
    scene.setHorizontalLineCount(1);
    scene.setVerticalLineCount(1);
    EXPECT_EQ(strokeThickness(scene, 150, 200), 6);
    resize(scene, 1200, 800);
    EXPECT_EQ(strokeThickness(scene, 300, 400), 12);
    resize(scene, 2400, 1600);  // the same factor twice
    EXPECT_EQ(horizontalPositions(scene), QList<double>({800}));
    EXPECT_EQ(strokeThickness(scene, 600, 800), 24);
    scene.setLinesVisible(false);
    scene.setLinesVisible(true);
    resize(scene, 300, 200);
    EXPECT_EQ(horizontalPositions(scene), QList<double>({100}));
    EXPECT_EQ(strokeThickness(scene, 75, 100), 3);
    // A line the user dragged keeps its place relative to the picture, and
    // one given another size in its dialog keeps that size.
    GraphicsCross *h = scene.lines()[0];
    ASSERT_EQ(h->direction(), GraphicsCross::Horizontal);
    h->setPos(0, 50);
    h->setSize(5);
    resize(scene, 600, 400);
    EXPECT_EQ(h->pos(), QPointF(0, 100));
    EXPECT_EQ(h->line(), QLineF(0, 0, 600, 0));
    EXPECT_EQ(strokeThickness(scene, 150, 100), 10);
}

TEST(Overlay, LinesAreHeldInsideTheScene)
{
    MainScene scene;
    scene.setSceneRect(0, 0, 600, 400);
    scene.setLinesVisible(true);
    scene.setHorizontalLineCount(1);
    scene.setVerticalLineCount(1);
    QSignalSpy moving(&scene, &MainScene::crossStatusChanged);
    GraphicsCross *v = scene.lines()[1];
    GraphicsCross *h = scene.lines()[0];
    ASSERT_EQ(h->direction(), GraphicsCross::Horizontal);
    h->setPos(70, 900);
    EXPECT_EQ(h->pos(), QPointF(0, 399));
    v->setPos(-5, 30);
    EXPECT_EQ(v->pos(), QPointF(0, 0));
    EXPECT_GE(moving.count(), 2);
    EXPECT_EQ(moving.at(0).at(0).value<void *>(), nullptr);
    h->remove();
    EXPECT_EQ(scene.horizontalLineCount(), 0);
    EXPECT_EQ(scene.lines().size(), 1);
}

TEST(Overlay, LinesTakeTheStyleOfTheirOwnOverlay)
{
    MainScene scene;
    scene.setSceneRect(0, 0, 600, 400);
    scene.setGridMode(true);
    scene.setDrawProperty(GridlinesWidth, 2);
    scene.setDrawProperty(GridlinesStyle, 2);
    scene.setDrawProperty(GridlinesColor, QColor(Qt::green));
    scene.setLinesVisible(true);
    scene.setHorizontalLineCount(2);
    EXPECT_EQ(scene.lines()[0]->pen().color(), QColor(Qt::green));
    EXPECT_EQ(scene.lines()[0]->pen().style(), Qt::DashLine);
    EXPECT_EQ(scene.lines()[0]->pen().capStyle(), Qt::SquareCap);
    // The crosshair's values leave grid lines alone.
    scene.setDrawProperty(CrossColor, QColor(Qt::red));
    scene.setDrawProperty(CrossWidth, 7);
    EXPECT_EQ(scene.lines()[1]->pen().color(), QColor(Qt::green));
    EXPECT_EQ(scene.lines()[1]->pen().width(), 2);
    scene.setGridMode(false);
    scene.setDrawProperty(CrossStyle, 42);  // not a pen style
    EXPECT_EQ(scene.lines()[1]->pen().color(), QColor(Qt::red));
    EXPECT_EQ(scene.lines()[1]->pen().style(), Qt::NoPen);
}

TEST(FocusRegion, ClicksChooseACellOfTheGrid)
{
    MainScene scene;
    scene.setSceneRect(0, 0, 680, 480);
    QSignalSpy blink(&scene, &MainScene::blinkArea);
    scene.setFocusRegionFlags(true, false, true, false);
    clickAt(scene, {340, 150});
    ASSERT_EQ(blink.count(), 1);
    EXPECT_EQ(blink.at(0).at(0).toInt(), 8);
    EXPECT_EQ(blink.at(0).at(1).toInt(), 4);
    ASSERT_NE(scene.focusRect(), nullptr);
    const QRectF cell = scene.focusRect()->rect();
    EXPECT_NEAR(cell.center().x(), 8.5 * 40, 1e-9);
    EXPECT_NEAR(cell.center().y(), 4.5 * 32, 1e-9);
    // Clicks on or beyond the far edges stay in the grid.
    clickAt(scene, {680, 480});
    EXPECT_EQ(blink.last().at(0).toInt(), 16);
    EXPECT_EQ(blink.last().at(1).toInt(), 14);
    EXPECT_NEAR(scene.focusRect()->rect().right(), 680, 1e-9);
    EXPECT_NEAR(scene.focusRect()->rect().bottom(), 480, 1e-9);
    clickAt(scene, {0, 0});
    EXPECT_EQ(scene.focusRect()->rect().topLeft(), QPointF(0, 0));
    EXPECT_EQ(scene.shapes().size(), 0);
}

TEST(FocusRegion, CameraCellAndFiveByFiveGrid)
{
    MainScene scene;
    scene.setSceneRect(0, 0, 680, 480);
    scene.setFocusRegionFlags(false, true, true, true);
    ASSERT_NE(scene.focusRect(), nullptr);
    const double w = 680 / 5.0 + 0.5;
    const double h = 480 / 5.0 + 0.5;
    EXPECT_EQ(scene.focusRect()->rect(), QRectF(w / 2, h / 2, w, h));
    scene.setFocusRegionFlags(false, false, true, false);
    scene.setFocusCell(40, -3);
    EXPECT_EQ(scene.focusColumn(), 16);
    EXPECT_EQ(scene.focusRow(), 0);
    scene.setFocusRegionFlags(false, false, false, false);
    EXPECT_EQ(scene.focusRect(), nullptr);
}
