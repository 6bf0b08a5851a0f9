#include "measure_test_support.h"

#include <QGraphicsRectItem>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <cmath>

namespace {

struct SceneFixture : ::testing::Test {
    SceneFixture()
    {
        setDecimals(0);
        scene.setSceneRect(0, 0, 800, 600);
    }
    MainScene scene;
};

struct ShapeCase {
    int type;
    QVector<QPointF> clicks;
    const char *name;
    const char *labelStart;  // after the number prefix
};

}  // namespace

using SceneDrawing = SceneFixture;

TEST_F(SceneDrawing, EveryShapeKindIsDrawnByClicks)
{
    const QVector<ShapeCase> cases{
        {DrawType::Line, {{10, 10}, {110, 10}}, "Line", "Len = 100pix"},
        {DrawType::HLine, {{10, 50}, {60, 90}}, "HLine", "Len = 50pix"},
        {DrawType::VLine, {{10, 50}, {60, 90}}, "VLine", "Len = 40pix"},
        {DrawType::Par, {{0, 100}, {100, 100}, {50, 130}}, "Par", "Len = 100pix\n"},
        {DrawType::Ver, {{0, 100}, {100, 100}, {30, 140}}, "Ver", "Len = 100pix\n"},
        {DrawType::Ang, {{0, 0}, {100, 0}, {10, 10}, {10, -90}}, "Ang", "Angle = 90°"},
        {DrawType::ThreeAng, {{0, 0}, {100, 0}, {100, 100}}, "ThreeAng", "Angle = 90°"},
        {DrawType::Rect, {{10, 10}, {40, 30}}, "Rect", "Wid = 30pix"},
        {DrawType::Arc, {{210, 200}, {200, 190}, {190, 200}}, "Arc", "Radian = 3.14 rad"},
        {DrawType::Cir, {{210, 200}, {200, 210}, {190, 200}}, "Cir", "R = 10pix"},
        {DrawType::Ring, {{210, 200}, {200, 210}, {190, 200}}, "Ring", "R1 = 10pix"},
        {DrawType::LCir, {{210, 200}, {200, 210}, {190, 200}, {200, 230}}, "LCir", "R = 10pix"},
        {DrawType::TCir, {{210, 200}, {200, 210}, {190, 200}, {310, 200}, {300, 210}, {290, 200}}, "TCir", "R1 = 10pix"},
        {DrawType::MarkRect, {{10, 10}, {40, 30}}, "MarkRect", ""},
        {DrawType::MarkCir, {{210, 200}, {200, 210}, {190, 200}}, "MarkCir", ""},
    };
    int numbered = 0;
    for (const ShapeCase &c : cases) {
        SCOPED_TRACE(c.name);
        QSignalSpy inserted(&scene, &MainScene::itemInsert);
        drawShape(scene, c.type, c.clicks);
        ASSERT_EQ(inserted.count(), 1);
        Base *shape = scene.shapes().last();
        EXPECT_EQ(shape->name(), c.name);
        EXPECT_EQ(shape->type(), c.type);
        EXPECT_EQ(scene.currentShape(), nullptr);
        EXPECT_TRUE(shape->isFinished());
        if (shape->isMark()) {
            EXPECT_EQ(shape->labelText(), "");
            continue;
        }
        ++numbered;
        const QString prefix = QStringLiteral("[%1] ").arg(numbered);
        EXPECT_TRUE(shape->labelText().startsWith(prefix + QString::fromUtf8(c.labelStart)))
            << shape->labelText().toStdString();
        if (c.type == DrawType::Par || c.type == DrawType::Ver) {
            EXPECT_TRUE(shape->labelText().endsWith(prefix + (c.type == DrawType::Par ? "Dis = 30pix" : "Dis = 40pix")));
        }
        for (GraphicsPoint *handle : shape->points())
            EXPECT_FALSE(handle->isVisible());
    }
    EXPECT_EQ(scene.shapes().size(), cases.size());
}

TEST_F(SceneDrawing, LineTakesTwoClicksAndAThirdStartsANewOne)
{
    scene.setDrawMode(DrawType::Line);
    clickAt(scene, {10, 10});
    ASSERT_NE(scene.currentShape(), nullptr);
    EXPECT_EQ(scene.currentShape()->pointCount(), 2);
    moveTo(scene, {50, 10});
    EXPECT_EQ(scene.currentShape()->lastPointPos(), QPointF(50, 10));
    clickAt(scene, {110, 10});
    EXPECT_EQ(scene.shapes().size(), 1);
    clickAt(scene, {200, 200});
    EXPECT_NE(scene.currentShape(), nullptr);
    EXPECT_EQ(scene.shapes().size(), 1);
}

TEST_F(SceneDrawing, ARepeatedPointIsIgnored)
{
    scene.setDrawMode(DrawType::Line);
    clickAt(scene, {10, 10});
    clickAt(scene, {10, 10});
    EXPECT_EQ(scene.shapes().size(), 0);
    EXPECT_NE(scene.currentShape(), nullptr);
}

TEST_F(SceneDrawing, FreehandLineFollowsTheMouseUntilRelease)
{
    scene.setDrawMode(DrawType::AnyLine);
    moveTo(scene, {0, 0});
    sendMouse(scene, QEvent::GraphicsSceneMousePress, {0, 0});
    moveTo(scene, {3, 4});
    moveTo(scene, {3, 10});
    sendMouse(scene, QEvent::GraphicsSceneMouseRelease, {3, 10});
    ASSERT_EQ(scene.shapes().size(), 1);
    EXPECT_EQ(scene.shapes()[0]->labelText(), "[1] CLen = 11pix\n");
}

TEST_F(SceneDrawing, PolygonEndsByDoubleClickOrItsTenthClick)
{
    scene.setDrawMode(DrawType::Poly);
    clickAt(scene, {0, 0});
    clickAt(scene, {100, 0});
    clickAt(scene, {100, 100});
    doubleClickAt(scene, {100, 100});
    ASSERT_EQ(scene.shapes().size(), 1);
    EXPECT_EQ(scene.shapes()[0]->pointCount(), 3);
    EXPECT_EQ(scene.shapes()[0]->labelText(), QStringLiteral("[1] CLen = %1pix\n[1] Area = 5000pix²").arg(std::round(200 + 100 * std::sqrt(2.0))));
    EXPECT_EQ(scene.currentShape(), nullptr);

    clickAt(scene, {0, 0});
    doubleClickAt(scene, {0, 0});
    EXPECT_EQ(scene.currentShape(), nullptr);
    EXPECT_EQ(scene.shapes().size(), 1);

    for (int i = 0; i < 10; ++i)
        clickAt(scene, {double(10 * i), double(i * i)});
    EXPECT_EQ(scene.shapes().size(), 2);
    EXPECT_EQ(scene.shapes()[1]->pointCount(), 10);
}

namespace {

// Counts the mouse presses and double clicks the scene passes on to it.
class ClickRecorder : public QGraphicsRectItem
{
public:
    explicit ClickRecorder(const QRectF &rect) : QGraphicsRectItem(rect) { setZValue(1000); }
    int clicks = 0;

protected:
    void mousePressEvent(QGraphicsSceneMouseEvent *event) override
    {
        ++clicks;
        event->accept();
    }
    void mouseDoubleClickEvent(QGraphicsSceneMouseEvent *event) override
    {
        ++clicks;
        event->accept();
    }
};

}  // namespace

TEST_F(SceneDrawing, PolygonDoubleClickAlsoReachesTheItems)
{
    auto *recorder = new ClickRecorder(QRectF(90, 90, 20, 20));
    scene.addItem(recorder);
    drawShape(scene, DrawType::Poly, {{0, 0}, {100, 0}, {100, 100}});
    doubleClickAt(scene, {100, 100});
    ASSERT_EQ(scene.shapes().size(), 1);
    EXPECT_EQ(recorder->clicks, 1);
    // Too few corners: the polygon goes and nothing else happens.
    clickAt(scene, {100, 100});
    doubleClickAt(scene, {100, 100});
    EXPECT_EQ(scene.shapes().size(), 1);
    EXPECT_EQ(recorder->clicks, 1);
}

TEST_F(SceneDrawing, PolygonShowsAPositiveAreaClickedEitherWay)
{
    // Down, right, back: counter-clockwise on screen, the other way round
    // from the polygon of the test above.
    drawShape(scene, DrawType::Poly, {{0, 0}, {0, 100}, {100, 100}});
    doubleClickAt(scene, {100, 100});
    ASSERT_EQ(scene.shapes().size(), 1);
    EXPECT_TRUE(scene.shapes()[0]->labelText().endsWith("[1] Area = 5000pix²")) << scene.shapes()[0]->labelText().toStdString();
}

TEST_F(SceneDrawing, InsertIsAnnouncedBeforeTheShapeJoinsTheList)
{
    QList<int> indexAtInsert;
    QList<int> countAtInsert;
    QObject::connect(&scene, &MainScene::itemInsert, [&](Base *shape) {
        indexAtInsert << scene.indexOfShape(shape);
        countAtInsert << scene.shapes().size();
    });
    drawShape(scene, DrawType::Line, {{10, 10}, {110, 10}});
    drawShape(scene, DrawType::Cir, {{210, 200}, {200, 210}, {190, 200}});
    scene.loadShapes(R"([{"type":4,"point":[{"x":10,"y":50},{"x":60,"y":50}]}])");
    EXPECT_EQ(indexAtInsert, QList<int>({-1, -1, -1}));
    EXPECT_EQ(countAtInsert, QList<int>({0, 1, 2}));
    EXPECT_EQ(scene.shapes().size(), 3);
}

// Its arrow is drawn at its own line size, the outlines at theirs, at every
// scale: two picture pixels a step.
TEST_F(SceneDrawing, TextAnnotationAsksForItsTextAndDrawsItsArrowAtItsOwnSize)
{
    scene.setDrawProperty(LineWidth, 1);
    scene.setDrawProperty(LLineWidth, 4);
    QSignalSpy edit(&scene, &MainScene::ltextEdit);
    drawShape(scene, DrawType::LText, {{100, 300}, {400, 300}});
    EXPECT_EQ(edit.count(), 1);
    EXPECT_EQ(scene.shapes()[0]->labelText(), "...");
    scene.setLastText("scratch");
    scene.setCalibration(2.0);
    scene.setUnit(UnitMillimetres);
    EXPECT_EQ(scene.shapes()[0]->labelText(), "scratch");
    drawShape(scene, DrawType::Line, {{100, 500}, {400, 500}});
    ASSERT_EQ(scene.shapes().size(), 2);
    EXPECT_EQ(strokeThickness(scene, 150, 300), 8);
    EXPECT_EQ(strokeThickness(scene, 150, 500), 2);
    // Twice the picture pixels per scene unit.
    scene.setViewScale(800, 1600);
    scene.applyScale();
    EXPECT_EQ(strokeThickness(scene, 150, 300), 4);
    EXPECT_EQ(strokeThickness(scene, 150, 500), 1);
    scene.setDrawProperty(LLineWidth, 3);
    EXPECT_EQ(strokeThickness(scene, 150, 300), 3);
    EXPECT_EQ(strokeThickness(scene, 150, 500), 1);
}

TEST_F(SceneDrawing, RightClickAbandonsOrClearsTheMode)
{
    QSignalSpy clear(&scene, &MainScene::clearDrawType);
    QSignalSpy inserted(&scene, &MainScene::itemInsert);
    scene.setDrawMode(DrawType::Cir);
    clickAt(scene, {10, 10});
    clickAt(scene, {20, 20}, Qt::RightButton);
    EXPECT_EQ(scene.currentShape(), nullptr);
    EXPECT_EQ(clear.count(), 0);
    EXPECT_EQ(inserted.count(), 0);
    clickAt(scene, {20, 20}, Qt::RightButton);
    EXPECT_EQ(clear.count(), 1);
    scene.setDrawMode(DrawType::Hand);
    clickAt(scene, {20, 20}, Qt::RightButton);
    EXPECT_EQ(clear.count(), 1);
}

TEST_F(SceneDrawing, ChangingModeDropsTheShapeInProgress)
{
    scene.setDrawMode(DrawType::Ang);
    clickAt(scene, {10, 10});
    clickAt(scene, {50, 10});
    scene.setDrawMode(DrawType::Line);
    EXPECT_EQ(scene.currentShape(), nullptr);
    EXPECT_EQ(scene.items().size(), 0);
}

TEST_F(SceneDrawing, CalibrationShapesReportTheirLengthOnly)
{
    QSignalSpy cali(&scene, &MainScene::caliOver);
    drawShape(scene, DrawType::LCali, {{0, 0}, {100, 0}});
    ASSERT_EQ(cali.count(), 1);
    EXPECT_DOUBLE_EQ(cali.at(0).at(0).toDouble(), 100.0);
    drawShape(scene, DrawType::CCali, {{210, 200}, {200, 210}, {190, 200}});
    ASSERT_EQ(cali.count(), 2);
    EXPECT_NEAR(cali.at(1).at(0).toDouble(), 20.0, 1e-9);
    // Collinear points: no circle, no calibration.
    drawShape(scene, DrawType::CCali, {{0, 0}, {10, 0}, {20, 0}});
    EXPECT_EQ(cali.count(), 2);
    EXPECT_EQ(scene.shapes().size(), 0);
    EXPECT_EQ(scene.items().size(), 0);
}

TEST_F(SceneDrawing, CollinearCircleSaysSo)
{
    drawShape(scene, DrawType::Cir, {{0, 0}, {10, 0}, {20, 0}});
    ASSERT_EQ(scene.shapes().size(), 1);
    EXPECT_EQ(scene.shapes()[0]->labelText(), "[1] Collinear points");
}

TEST_F(SceneDrawing, NumbersRunOnAfterDeletionAndRestartAfterClear)
{
    for (int i = 0; i < 3; ++i)
        drawShape(scene, DrawType::Line, {{10, 10.0 + 20 * i}, {100, 10.0 + 20 * i}});
    scene.removeShape(1);
    drawShape(scene, DrawType::MarkRect, {{10, 10}, {30, 30}});
    drawShape(scene, DrawType::Line, {{10, 200}, {100, 200}});
    EXPECT_TRUE(scene.shapes().last()->labelText().startsWith("[4] "));
    scene.removeShape(2);  // a mark: no effect on numbers
    drawShape(scene, DrawType::Line, {{10, 220}, {100, 220}});
    EXPECT_TRUE(scene.shapes().last()->labelText().startsWith("[5] "));
    scene.clearShapes();
    drawShape(scene, DrawType::Line, {{10, 10}, {100, 10}});
    EXPECT_TRUE(scene.shapes().last()->labelText().startsWith("[1] "));
    EXPECT_EQ(scene.indexOfShape(scene.shapes().last()), 0);
}

TEST_F(SceneDrawing, UnitAndCalibrationReachEveryShapeButAngles)
{
    drawShape(scene, DrawType::Line, {{0, 0}, {100, 0}});
    drawShape(scene, DrawType::ThreeAng, {{0, 0}, {100, 0}, {100, 100}});
    QSignalSpy updated(&scene, &MainScene::itemUpdate);
    setDecimals(2);
    scene.setCalibration(2.5);
    scene.setUnit(UnitMillimetres);
    EXPECT_GE(updated.count(), 4);
    EXPECT_EQ(scene.shapes()[0]->labelText(), "[1] Len = 0.25mm");
    EXPECT_EQ(scene.shapes()[1]->labelText(), "[2] Angle = 90.00°");
    // Values that would put inf or NaN into labels are refused.
    scene.setCalibration(0.0);
    scene.setCalibration(std::nan(""));
    scene.setUnit(9);
    EXPECT_EQ(scene.calibration(), 2.5);
    EXPECT_EQ(scene.unit(), UnitMillimetres);
    EXPECT_EQ(scene.shapes()[0]->labelText(), "[1] Len = 0.25mm");
}

TEST_F(SceneDrawing, LineOffsetsAppearOnlyInLengthUnits)
{
    scene.setDrawProperty(LineDistance1, 10.0);
    scene.setDrawProperty(LineDistance2, -10.0);
    drawShape(scene, DrawType::Line, {{0, 100}, {100, 100}});
    auto *item = static_cast<GraphicsLine *>(scene.shapes()[0]->item());
    EXPECT_TRUE(item->secondLine().isNull());
    scene.setCalibration(1.0);
    scene.setUnit(UnitMicrometres);
    ASSERT_FALSE(item->secondLine().isNull());
    EXPECT_NEAR(std::fabs(item->secondLine().p1().y() - 100), 10.0, 1e-9);
    EXPECT_NEAR(item->secondLine().p1().y() + item->thirdLine().p1().y(), 200.0, 1e-9);
    scene.setCalibration(2.0);
    EXPECT_NEAR(std::fabs(item->secondLine().p1().y() - 100), 5.0, 1e-9);
}

TEST_F(SceneDrawing, ViewScaleNeverDividesByZero)
{
    drawShape(scene, DrawType::Line, {{0, 0}, {100, 0}});
    scene.setViewScale(0.0, 1600.0);
    scene.setViewScale(800.0, 0.0);
    scene.applyScale();
    EXPECT_EQ(scene.scale(), 1.0);
    scene.setViewScale(400.0, 1600.0);
    scene.setSceneRect(0, 0, 400, 300);
    scene.applyScale();
    EXPECT_EQ(scene.scale(), 4.0);
    EXPECT_EQ(scene.shapes()[0]->lastPointPos(), QPointF(50, 0));
    EXPECT_EQ(scene.shapes()[0]->labelText(), "[1] Len = 200pix");
}

TEST_F(SceneDrawing, AScaleChangeAloneReformatsEveryLabel)
{
    // The picture doubles in width while the view keeps its size: nothing
    // moves on screen, but every length now covers twice the picture pixels.
    drawShape(scene, DrawType::Cir, {{100, 200}, {300, 200}, {200, 100}});
    drawShape(scene, DrawType::Line, {{0, 0}, {100, 0}});
    QSignalSpy updates(&scene, &MainScene::itemUpdate);
    scene.setViewScale(800.0, 1600.0);
    scene.applyScale();
    EXPECT_EQ(scene.scale(), 2.0);
    EXPECT_EQ(scene.shapes()[0]->labelText(), "[1] R = 200pix\n[1] CLen = 1257pix\n[1] Area = 125664pix²");
    EXPECT_EQ(scene.shapes()[1]->labelText(), "[2] Len = 200pix");
    EXPECT_GE(updates.count(), 2);

    // Line offsets are given in length units: their place in the scene
    // follows the scale as well.
    scene.setUnit(UnitMicrometres);
    scene.setDrawProperty(LineDistance1, 20.0);
    auto *line = static_cast<GraphicsLine *>(scene.shapes()[1]->item());
    EXPECT_NEAR(line->secondLine().p1().y(), 10.0, 1e-9);
    scene.setViewScale(800.0, 3200.0);
    scene.applyScale();
    EXPECT_NEAR(line->secondLine().p1().y(), 5.0, 1e-9);
    EXPECT_EQ(scene.shapes()[1]->labelText(), "[2] Len = 400um");
}

TEST_F(SceneDrawing, HandModeReportsSelection)
{
    for (int i = 0; i < 3; ++i)
        drawShape(scene, DrawType::Line, {{10, 100.0 * (i + 1)}, {300, 100.0 * (i + 1)}});
    scene.setDrawMode(DrawType::Hand);
    QSignalSpy selected(&scene, &MainScene::itemSelected);
    sendMouse(scene, QEvent::GraphicsSceneMousePress, {150, 200});
    ASSERT_GE(selected.count(), 1);
    EXPECT_EQ(selected.first().at(0).value<QList<int>>(), QList<int>({1, 3}));
    sendMouse(scene, QEvent::GraphicsSceneMouseRelease, {150, 200});
    sendMouse(scene, QEvent::GraphicsSceneMousePress, {700, 550});
    EXPECT_EQ(selected.last().at(0).value<QList<int>>(), QList<int>({3}));
}

TEST_F(SceneDrawing, DoubleClickOnAShapeAsksForItsProperties)
{
    drawShape(scene, DrawType::Line, {{10, 100}, {300, 100}});
    drawShape(scene, DrawType::MarkRect, {{400, 400}, {500, 500}});
    scene.setDrawMode(DrawType::Hand);
    QSignalSpy property(&scene, &MainScene::changeProperty);
    clickAt(scene, {150, 100});
    doubleClickAt(scene, {150, 100});
    ASSERT_EQ(property.count(), 1);
    EXPECT_EQ(property.at(0).at(0).value<void *>(), static_cast<void *>(scene.shapes()[0]->item()));
    clickAt(scene, {400, 450});
    doubleClickAt(scene, {400, 450});
    EXPECT_EQ(property.count(), 1);
}

TEST_F(SceneDrawing, HandlesAndShapesStayInTheirLanes)
{
    drawShape(scene, DrawType::HLine, {{100, 100}, {200, 150}});
    Base *line = scene.shapes()[0];
    EXPECT_EQ(line->lastPointPos(), QPointF(200, 100));
    line->points()[1]->setPos(250, 300);
    EXPECT_EQ(line->lastPointPos(), QPointF(250, 100));
    EXPECT_EQ(line->labelText(), "[1] Len = 150pix");

    drawShape(scene, DrawType::VLine, {{100, 100}, {200, 150}});
    EXPECT_EQ(scene.shapes()[1]->lastPointPos(), QPointF(100, 150));

    // Dragging a whole shape past the edge stops it there.
    drawShape(scene, DrawType::Line, {{100, 400}, {300, 400}});
    GraphicsConnect *item = scene.shapes()[2]->item();
    item->setPos(600, -20);
    EXPECT_EQ(item->pos(), QPointF(500, -20));
    EXPECT_EQ(scene.shapes()[2]->points()[1]->pos(), QPointF(800, 380));
    EXPECT_EQ(scene.shapes()[2]->points()[0]->pos(), QPointF(600, 380));
    item->setPos(500, -500);
    EXPECT_EQ(item->pos(), QPointF(500, -400));
    EXPECT_EQ(scene.shapes()[2]->labelText(), "[3] Len = 200pix");
}

TEST_F(SceneDrawing, MovingAHandleRemeasures)
{
    drawShape(scene, DrawType::Rect, {{0, 0}, {30, 20}});
    QSignalSpy updated(&scene, &MainScene::itemUpdate);
    scene.shapes()[0]->points()[1]->setPos(40, 20);
    EXPECT_GE(updated.count(), 1);
    EXPECT_TRUE(scene.shapes()[0]->labelText().startsWith("[1] Wid = 40pix"));
}

TEST_F(SceneDrawing, StylesFromPropertiesAreClamped)
{
    scene.setDrawProperty(PointWidth, 50);
    scene.setDrawProperty(LineStyle, 99);
    scene.setDrawProperty(LineColor, QColor(Qt::red));
    scene.setDrawProperty(TextSize, 200);
    drawShape(scene, DrawType::Line, {{0, 0}, {100, 0}});
    Base *line = scene.shapes()[0];
    EXPECT_EQ(line->points()[0]->pen().width(), 36);
    EXPECT_EQ(line->item()->pen().style(), Qt::SolidLine);
    EXPECT_EQ(line->item()->pen().color(), QColor(Qt::red));
    EXPECT_EQ(line->item()->pointPen().color(), QColor(Qt::red));
    EXPECT_EQ(line->label()->font().pixelSize(), 120);
    scene.setDrawProperty(LineWidth, -4);
    scene.setDrawProperty(LineStyle, -1);
    EXPECT_EQ(line->item()->pen().width(), 0);
    EXPECT_EQ(line->item()->pen().style(), Qt::SolidLine);
    scene.setDrawProperty(PointColor, QColor(Qt::blue));
    EXPECT_EQ(line->points()[0]->pen().color(), QColor(Qt::blue));
}

using EdgeSnap = SceneFixture;

TEST_F(EdgeSnap, PointsComeFromTheAnswers)
{
    scene.setEdgeSnap(true);
    scene.setDrawMode(DrawType::Line);
    QSignalSpy request(&scene, &MainScene::mousePressPoint);
    clickAt(scene, {10.7, 20.2});
    ASSERT_EQ(request.count(), 1);
    EXPECT_EQ(request.at(0).at(0).toInt(), 10);
    EXPECT_EQ(request.at(0).at(1).toInt(), 20);
    EXPECT_EQ(request.at(0).at(2).value<DrawType>(), DrawType::Line);
    ASSERT_NE(scene.currentShape(), nullptr);
    EXPECT_EQ(scene.currentShape()->pointCount(), 0);
    scene.recvEdgepos({12, 20});
    EXPECT_EQ(scene.currentShape()->pointCount(), 2);
    moveTo(scene, {100, 22});
    clickAt(scene, {100, 22});
    EXPECT_EQ(request.count(), 2);
    scene.recvEdgepos({112, 20});
    ASSERT_EQ(scene.shapes().size(), 1);
    EXPECT_EQ(scene.shapes()[0]->labelText(), "[1] Len = 100pix");
    // An answer nobody waits for changes nothing.
    scene.recvEdgepos({5, 5});
    EXPECT_EQ(scene.currentShape(), nullptr);
}

TEST_F(EdgeSnap, ChoosingTheSameToolAgainResetsTheEdgeIndex)
{
    scene.setEdgeSnap(true);
    scene.setDrawMode(DrawType::Line);
    clickAt(scene, {10, 20});
    scene.recvEdgepos({12, 20});
    ASSERT_NE(scene.currentShape(), nullptr);
    EXPECT_EQ(scene.edgeIndex(), 1);
    scene.setDrawMode(DrawType::Line);
    EXPECT_EQ(scene.edgeIndex(), 0);
    ASSERT_NE(scene.currentShape(), nullptr);  // the same tool keeps the line
    // The line is still finished at its own second point: its first point
    // stays where the first answer put it.
    clickAt(scene, {100, 22});
    scene.recvEdgepos({112, 20});
    ASSERT_EQ(scene.shapes().size(), 1);
    EXPECT_EQ(scene.shapes()[0]->pointPositions(), QVector<QPointF>({{12, 20}, {112, 20}}));
    EXPECT_EQ(scene.shapes()[0]->labelText(), "[1] Len = 100pix");
}

TEST_F(EdgeSnap, LateAnswersAfterMovingOnAreIgnored)
{
    scene.setEdgeSnap(true);
    scene.setDrawMode(DrawType::Line);
    clickAt(scene, {10, 10});
    scene.setDrawMode(DrawType::Cir);
    clickAt(scene, {300, 300});
    scene.recvEdgepos({12, 10});  // the line's answer arrives late
    ASSERT_NE(scene.currentShape(), nullptr);
    EXPECT_EQ(scene.currentShape()->type(), DrawType::Cir);
    EXPECT_EQ(scene.currentShape()->points()[0]->pos(), QPointF(300, 300));

    scene.setDrawMode(DrawType::Line);
    clickAt(scene, {10, 10});
    clickAt(scene, {10, 10}, Qt::RightButton);
    clickAt(scene, {50, 50});  // a new line asks again
    scene.recvEdgepos({12, 10});
    ASSERT_NE(scene.currentShape(), nullptr);
    EXPECT_EQ(scene.currentShape()->points()[0]->pos(), QPointF(12, 10));
}
