#include "measure_test_support.h"

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

namespace {

bool painted(const QImage &image, int x, int y)
{
    return qAlpha(image.pixel(x, y)) > 0;
}

// A scene of 400 by 300 shown for a picture of 800 by 600 (scale 2).
struct Render : ::testing::Test {
    Render() : Render(800, 600) {}
    Render(int pictureWidth, int pictureHeight) : image(pictureWidth, pictureHeight, QImage::Format_ARGB32)
    {
        setDecimals(0);
        scene.setSceneRect(0, 0, 400, 300);
        scene.setViewScale(400, pictureWidth);
        scene.applyScale();
        scene.setDrawProperty(LineWidth, 3);
        scene.setDrawProperty(LineColor, QColor(Qt::red));
        scene.setDrawProperty(TextSize, 10);
        image.fill(Qt::transparent);
    }
    MainScene scene;
    QImage image;
};

// The scene drawn as a view at its own size draws it, over white.
QImage viewOf(MainScene &scene)
{
    QImage view(400, 300, QImage::Format_ARGB32_Premultiplied);
    view.fill(Qt::white);
    QPainter painter(&view);
    scene.render(&painter, QRectF(0, 0, 400, 300), QRectF(0, 0, 400, 300));
    return view;
}

// The largest difference of one colour channel between two images.
int largestDifference(const QImage &a, const QImage &b)
{
    int largest = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            largest = qMax(largest, qMax(qAbs(qRed(p) - qRed(q)), qMax(qAbs(qGreen(p) - qGreen(q)), qAbs(qBlue(p) - qBlue(q)))));
        }
    return largest;
}

// The same scene for a picture of 200 by 150 (scale 0.5).
struct RenderHalfSize : Render {
    RenderHalfSize() : Render(200, 150) {}
};

}  // namespace

TEST_F(Render, LinesAndLabelsAreScaledToThePicture)
{
    drawShape(scene, DrawType::Line, {{20, 100}, {200, 100}});
    scene.renderShapes(&image);
    // Pen width 3 becomes 6 around y = 200.
    EXPECT_TRUE(painted(image, 200, 200));
    EXPECT_TRUE(painted(image, 200, 202));
    EXPECT_FALSE(painted(image, 200, 205));
    EXPECT_EQ(qRed(image.pixel(200, 200)), 255);
    // Nothing outside the line and its label.
    EXPECT_FALSE(painted(image, 600, 500));
}

TEST_F(Render, MarksAndFreehandLinesAreNotPainted)
{
    drawShape(scene, DrawType::MarkRect, {{20, 20}, {200, 200}});
    scene.renderShapes(&image);
    for (int x = 0; x < 800; x += 7)
        EXPECT_FALSE(painted(image, x, 40));
}

TEST_F(Render, RingInnerCirclesFollowTheScreenRule)
{
    scene.setCalibration(1.0);
    scene.setUnit(UnitMicrometres);
    scene.setDrawProperty(RingDistance1, 60.0);  // beyond the radius: no inner circle
    scene.setDrawProperty(RingDistance2, 20.0);  // 10 scene units, 20 picture pixels inside
    drawShape(scene, DrawType::Ring, {{250, 150}, {200, 200}, {150, 150}});
    scene.renderShapes(&image);
    // Outer circle: radius 50 scene units, 100 picture pixels about (400, 300).
    EXPECT_TRUE(painted(image, 500, 300));
    EXPECT_TRUE(painted(image, 480, 300));   // inner circle at radius 80
    EXPECT_FALSE(painted(image, 490, 300));
    EXPECT_FALSE(painted(image, 395, 300));  // no circle of negative radius near the centre
    EXPECT_FALSE(painted(image, 420, 300));
}

TEST_F(Render, ArcIsPaintedAlongTheScreenArc)
{
    // Clockwise points on a circle of radius 50 about (200, 150).
    drawShape(scene, DrawType::Arc, {{200, 100}, {235.355, 114.645}, {250, 150}});
    scene.renderShapes(&image);
    EXPECT_TRUE(painted(image, 470, 229));   // on the arc, scaled
    EXPECT_FALSE(painted(image, 450, 250));  // no chord between the ends
    EXPECT_FALSE(painted(image, 330, 300));  // the other side of the circle
}

TEST_F(Render, HiddenLabelsArePaintedToo)
{
    scene.setDrawProperty(TextColor, QColor(Qt::blue));
    scene.setDrawProperty(TextSize, 20);
    drawShape(scene, DrawType::Line, {{20, 100}, {200, 100}});
    GraphicsText *label = scene.shapes()[0]->label();
    scene.shapes()[0]->item()->setLabelVisible(false);
    ASSERT_FALSE(label->isVisible());
    scene.renderShapes(&image);
    // The label's box, moved by (4, 4) and scaled to the picture.
    const QRectF box = label->sceneBoundingRect().translated(4, 4);
    const QRect area(QPointF(box.topLeft() * 2).toPoint(), QPointF(box.bottomRight() * 2).toPoint());
    int blue = 0;
    for (int y = qMax(0, area.top()); y <= qMin(599, area.bottom()); ++y)
        for (int x = qMax(0, area.left()); x <= qMin(799, area.right()); ++x)
            if (qAlpha(image.pixel(x, y)) > 0 && qBlue(image.pixel(x, y)) > 0 && qRed(image.pixel(x, y)) == 0)
                ++blue;
    EXPECT_GT(blue, 20);
}

TEST_F(RenderHalfSize, VerDashRunsFromTheFootToTheNearerEnd)
{
    // Shown at twice the picture size, size 2 is 8 scene pixels: the main
    // line is painted 4 pixels wide, the dash with the outline's own 8-pixel
    // pen, so the dash shows beside the main line where the screen draws none.
    scene.setDrawProperty(LineWidth, 2);
    scene.setDrawProperty(TextSize, 1);
    drawShape(scene, DrawType::Ver, {{0, 100}, {200, 100}, {60, 180}});
    ASSERT_EQ(scene.shapes().size(), 1);
    scene.renderShapes(&image);
    // Main line along y = 50 from x = 0 to 100, foot at x = 30: the dash runs
    // from the foot towards x = 0 (its first 24 pixels are drawn).
    EXPECT_TRUE(painted(image, 20, 47));
    EXPECT_TRUE(painted(image, 20, 52));
    EXPECT_TRUE(painted(image, 20, 50));
    EXPECT_FALSE(painted(image, 70, 47));  // past the foot: the main line alone
    EXPECT_TRUE(painted(image, 70, 50));
}

TEST_F(Render, LabelsPaintedAgainShowTheirNewColourFontAndText)
{
    // A label painted again blends the pixels it drew before: after each
    // change it must look as a new scene's label drawn the first time. Edges
    // where two glyphs overlap may round one level apart.
    struct Style {
        QColor color;
        QString font;
        int size;
        int unit;
    };
    const auto drawn = [](MainScene &scene) {
        scene.setCalibration(2.5);
        drawShape(scene, DrawType::Line, {{20.3, 100.6}, {200.1, 140.2}});
        drawShape(scene, DrawType::Rect, {{220.7, 30.4}, {330.2, 90.9}});
        scene.setDrawMode(DrawType::Hand);
    };
    // Sets what differs from `was` (everything without it).
    const auto styled = [](MainScene &scene, const Style &style, const Style *was) {
        if (!was || style.color != was->color)
            scene.setDrawProperty(TextColor, style.color);
        if (!was || style.font != was->font)
            scene.setDrawProperty(TextFont, style.font);
        if (!was || style.size != was->size)
            scene.setDrawProperty(TextSize, style.size);
        if (!was || style.unit != was->unit)
            scene.setUnit(style.unit);
    };
    const Style styles[] = {{Qt::green, QStringLiteral("DejaVu Sans"), 12, UnitPixels},
                            {Qt::blue, QStringLiteral("DejaVu Sans"), 12, UnitPixels},
                            {Qt::blue, QStringLiteral("DejaVu Serif"), 15, UnitPixels},
                            {Qt::blue, QStringLiteral("DejaVu Serif"), 15, UnitMicrometres}};
    styled(scene, styles[0], nullptr);
    drawn(scene);
    const Style *was = nullptr;
    QImage before;
    for (const Style &style : styles) {
        SCOPED_TRACE(qPrintable(style.font + ' ' + style.color.name() + ' ' + QString::number(style.unit)));
        if (was)
            styled(scene, style, was);
        was = &style;
        const QImage first = viewOf(scene);
        const QImage again = viewOf(scene);
        MainScene fresh;
        fresh.setSceneRect(scene.sceneRect());
        fresh.setViewScale(400, 800);
        fresh.applyScale();
        fresh.setDrawProperty(LineWidth, 3);
        fresh.setDrawProperty(LineColor, QColor(Qt::red));
        styled(fresh, style, nullptr);
        drawn(fresh);
        EXPECT_LE(largestDifference(first, viewOf(fresh)), 1);
        EXPECT_LE(largestDifference(again, first), 1);
        if (!before.isNull()) {
            EXPECT_GT(largestDifference(again, before), 100);
        }
        before = again;
    }
}
