#include "measure_test_support.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace geometry;

namespace {

void expectPoint(const QPointF &actual, double x, double y, double tolerance = 1e-9)
{
    EXPECT_NEAR(actual.x(), x, tolerance);
    EXPECT_NEAR(actual.y(), y, tolerance);
}

double entryValue(const ShapeGeometry &g, const QString &prefix)
{
    for (const LabelEntry &e : g.entries)
        if (e.format.startsWith(prefix))
            return e.value;
    ADD_FAILURE() << "no entry " << prefix.toStdString();
    return NAN;
}

QStringList formats(const ShapeGeometry &g)
{
    QStringList list;
    for (const LabelEntry &e : g.entries)
        list << e.format;
    return list;
}

}  // namespace

TEST(Geometry, CircleThroughThreePoints)
{
    const Circle c = circleThroughPoints({0, 0}, {2, 0}, {1, 1});
    expectPoint(c.centre, 1, 0);
    EXPECT_NEAR(c.radius, 1.0, 1e-12);
    const Circle big = circleThroughPoints({110, 100}, {100, 110}, {90, 100});
    expectPoint(big.centre, 100, 100);
    EXPECT_NEAR(big.radius, 10.0, 1e-12);
}

TEST(Geometry, CollinearPointsMakeNoCircle)
{
    const Circle c = circleThroughPoints({0, 0}, {1, 1}, {2, 2});
    EXPECT_FALSE(c.isValid());
    EXPECT_EQ(c.radius, -1.0);
    EXPECT_FALSE(circleThroughPoints({5, 5}, {5, 5}, {5, 5}).isValid());
    for (int type : {DrawType::Cir, DrawType::Arc, DrawType::Ring, DrawType::LCir, DrawType::TCir}) {
        const ShapeGeometry g = computeShapeGeometry(type, {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}});
        ASSERT_EQ(g.entries.size(), 1) << type;
        EXPECT_TRUE(g.entries[0].note);
        EXPECT_EQ(g.entries[0].format, QString::fromLatin1(kCollinearNote));
        EXPECT_TRUE(g.path.isEmpty());
    }
    const ShapeGeometry cali = computeShapeGeometry(DrawType::CCali, {{0, 0}, {1, 0}, {2, 0}});
    EXPECT_LT(cali.radius, 0.0);
    EXPECT_TRUE(cali.entries.isEmpty());
}

TEST(Geometry, PerpendicularFootAndDistance)
{
    expectPoint(perpendicularFoot({0, 0}, {10, 0}, {3, 4}), 3, 0);
    expectPoint(perpendicularFoot({0, 0}, {10, 10}, {0, 10}), 5, 5);
    const ShapeGeometry g = computeShapeGeometry(DrawType::Ver, {{0, 0}, {10, 0}, {3, 4}});
    EXPECT_DOUBLE_EQ(entryValue(g, "Len"), 10.0);
    EXPECT_DOUBLE_EQ(entryValue(g, "Dis"), 4.0);
    expectPoint(g.second.p2(), 3, 0);
    // A base line of no length: the foot is its point, never NaN.
    const ShapeGeometry zero = computeShapeGeometry(DrawType::Ver, {{2, 2}, {2, 2}, {5, 6}});
    expectPoint(zero.second.p2(), 2, 2);
    EXPECT_DOUBLE_EQ(entryValue(zero, "Dis"), 5.0);
}

TEST(Geometry, ParallelDistanceIsPerpendicular)
{
    EXPECT_DOUBLE_EQ(parallelDistance({0, 0}, {10, 0}, {5, 3}), 3.0);
    // Beyond the segment's end the distance between the lines is still 3.
    const ShapeGeometry g = computeShapeGeometry(DrawType::Par, {{0, 0}, {10, 0}, {20, 3}});
    EXPECT_DOUBLE_EQ(entryValue(g, "Dis"), 3.0);
    EXPECT_DOUBLE_EQ(entryValue(g, "Len"), 10.0);
    expectPoint(g.second.center(), 20, 3);
    expectPoint(g.third.p1(), 5, 0);
    EXPECT_DOUBLE_EQ(parallelDistance({1, 1}, {1, 1}, {4, 5}), 5.0);
}

TEST(Geometry, AnglesOfTwoLinesAndAtAVertex)
{
    const ShapeGeometry a = computeShapeGeometry(DrawType::Ang, {{0, 0}, {10, 0}, {0, 0}, {0, -10}});
    EXPECT_NEAR(entryValue(a, "Angle"), 90.0, 1e-9);
    const ShapeGeometry reversed = computeShapeGeometry(DrawType::Ang, {{0, 0}, {0, -10}, {0, 0}, {10, 0}});
    EXPECT_NEAR(entryValue(reversed, "Angle"), 270.0, 1e-9);
    const ShapeGeometry vertex = computeShapeGeometry(DrawType::ThreeAng, {{0, 0}, {10, 0}, {10, 10}});
    EXPECT_NEAR(entryValue(vertex, "Angle"), 90.0, 1e-9);
    const ShapeGeometry obtuse = computeShapeGeometry(DrawType::ThreeAng, {{0, 0}, {10, 0}, {20, -10}});
    EXPECT_NEAR(entryValue(obtuse, "Angle"), 135.0, 1e-9);
    // Coinciding points: an angle of 0, not NaN.
    const ShapeGeometry degenerate = computeShapeGeometry(DrawType::Ang, {{1, 1}, {1, 1}, {1, 1}, {1, 1}});
    EXPECT_TRUE(std::isfinite(entryValue(degenerate, "Angle")));
}

TEST(Geometry, ArcSpanAndLength)
{
    const double h = 10.0 / std::sqrt(2.0);
    const ArcSpan inside = arcSpan({0, 0}, {10, 0}, {h, -h}, {0, -10});
    EXPECT_EQ(inside.startIndex, 0);
    EXPECT_NEAR(inside.startAngle, 0.0, 1e-9);
    EXPECT_NEAR(inside.span, 90.0, 1e-9);
    const ShapeGeometry g = computeShapeGeometry(DrawType::Arc, {{10, 0}, {h, -h}, {0, -10}});
    EXPECT_NEAR(entryValue(g, "Radian"), 90.0, 1e-9);
    EXPECT_TRUE(g.entries[0].radian);
    EXPECT_NEAR(entryValue(g, "CLen"), 5 * M_PI, 1e-9);
    EXPECT_NEAR(entryValue(g, "R ="), 10.0, 1e-9);
    // Clockwise order gives the same arc.
    const ArcSpan clockwise = arcSpan({0, 0}, {0, -10}, {h, -h}, {10, 0});
    EXPECT_EQ(clockwise.startIndex, 2);
    EXPECT_NEAR(clockwise.span, 90.0, 1e-9);
    // Middle point outside the others: the arc crosses 0 degrees.
    auto at = [](double degrees) {
        return QPointF(10 * std::cos(degrees * M_PI / 180), -10 * std::sin(degrees * M_PI / 180));
    };
    const ArcSpan across = arcSpan({0, 0}, at(350), at(10), at(30));
    EXPECT_EQ(across.startIndex, 0);
    EXPECT_NEAR(across.startAngle, 350.0, 1e-9);
    EXPECT_NEAR(across.span, 40.0, 1e-9);
}

TEST(Geometry, PolygonAreaAndPerimeter)
{
    const ShapeGeometry square = computeShapeGeometry(DrawType::Poly, {{0, 0}, {10, 0}, {10, 10}, {0, 10}});
    EXPECT_NEAR(entryValue(square, "CLen"), 40.0, 1e-9);
    EXPECT_DOUBLE_EQ(entryValue(square, "Area"), 100.0);
    const ShapeGeometry two = computeShapeGeometry(DrawType::Poly, {{0, 0}, {3, 4}});
    EXPECT_NEAR(entryValue(two, "CLen"), 10.0, 1e-9);
    EXPECT_DOUBLE_EQ(entryValue(two, "Area"), 0.0);
    EXPECT_DOUBLE_EQ(polygonArea({{0, 0}, {4, 0}, {0, 3}}), 6.0);
    const ShapeGeometry open = computeShapeGeometry(DrawType::AnyLine, {{0, 0}, {3, 4}, {3, 10}});
    EXPECT_NEAR(entryValue(open, "CLen"), 11.0, 1e-9);
}

TEST(Geometry, PolygonAreaIsTheSameClickedEitherWay)
{
    // Clockwise on screen (y grows downwards) and counter-clockwise, a
    // concave outline included: the shoelace sum changes sign, the area not.
    const QVector<QPointF> square{{0, 0}, {10, 0}, {10, 10}, {0, 10}};
    const QVector<QPointF> notch{{0, 0}, {30, 0}, {30, 20}, {15, 8}, {0, 20}};
    for (const QVector<QPointF> &outline : {square, notch}) {
        QVector<QPointF> reversed(outline.rbegin(), outline.rend());
        const double area = polygonArea(outline);
        EXPECT_GT(area, 0.0);
        EXPECT_DOUBLE_EQ(polygonArea(reversed), area);
        EXPECT_DOUBLE_EQ(entryValue(computeShapeGeometry(DrawType::Poly, reversed), "Area"), area);
    }
    EXPECT_DOUBLE_EQ(polygonArea(square), 100.0);
    EXPECT_DOUBLE_EQ(polygonArea(notch), 30.0 * 20.0 - 30.0 * 12.0 / 2.0);
}

TEST(Geometry, SavedPicturesDrawTheVerDashFromTheFootWhereverItLies)
{
    // Foot between the ends: the screen draws no dash, the picture one from
    // the foot to the end nearer along x.
    const QLineF main(0, 100, 200, 100);
    EXPECT_EQ(pictureVerDash(main, QLineF(60, 180, 60, 100)), QLineF(60, 100, 0, 100));
    EXPECT_EQ(pictureVerDash(main, QLineF(150, 180, 150, 100)), QLineF(150, 100, 200, 100));
    // Beyond an end: the same line as on screen, drawn from the foot.
    EXPECT_EQ(pictureVerDash(main, QLineF(260, 40, 260, 100)), QLineF(260, 100, 200, 100));
    // Equal distances along x (a vertical main line): the second end.
    EXPECT_EQ(pictureVerDash(QLineF(50, 0, 50, 100), QLineF(80, 150, 50, 150)), QLineF(50, 150, 50, 100));
}

TEST(Geometry, SavedPicturesPickTheAngExtensionEndByTheirOwnRule)
{
    // ix < p1.x < p2.x, or p2.x <= p1.x <= ix: the first end; else the second.
    EXPECT_EQ(pictureExtensionEnd(QLineF(10, 0, 20, 5), 0), QPointF(10, 0));
    EXPECT_EQ(pictureExtensionEnd(QLineF(20, 5, 10, 0), 0), QPointF(10, 0));
    EXPECT_EQ(pictureExtensionEnd(QLineF(-10, 0, -20, 5), 0), QPointF(-10, 0));
    EXPECT_EQ(pictureExtensionEnd(QLineF(-20, 5, -10, 0), 0), QPointF(-10, 0));
    // A vertical line right of the crossing: the screen takes its first end,
    // the picture its second.
    EXPECT_EQ(pictureExtensionEnd(QLineF(10, 0, 10, 50), 0), QPointF(10, 50));
    EXPECT_EQ(pictureExtensionEnd(QLineF(-10, 0, -10, 50), 0), QPointF(-10, 0));

    // Lines crossing inside both segments have no extensions.
    EXPECT_FALSE(pictureAngleExtensions(QLineF(0, 0, 100, 100), QLineF(0, 100, 100, 0)));
    // Crossing at (0, 0) outside both segments.
    const auto ext = pictureAngleExtensions(QLineF(10, 0, 100, 0), QLineF(0, 100, 0, 10));
    ASSERT_TRUE(ext);
    EXPECT_EQ(ext->first, QLineF(0, 0, 10, 0));
    EXPECT_EQ(ext->second.p1(), QPointF(0, 0));
}

TEST(Geometry, RectangleIsTheSameDrawnEitherWay)
{
    const ShapeGeometry forward = computeShapeGeometry(DrawType::Rect, {{0, 0}, {30, 20}});
    const ShapeGeometry backward = computeShapeGeometry(DrawType::Rect, {{30, 20}, {0, 0}});
    EXPECT_EQ(formats(forward),
              QStringList({"GraphicsRect\n", "Wid = %1%2\n", "Hei = %1%2\n", "CLen = %1%2\n", "Area = %1%2"}));
    for (const ShapeGeometry *g : {&forward, &backward}) {
        EXPECT_DOUBLE_EQ(entryValue(*g, "Wid"), 30.0);
        EXPECT_DOUBLE_EQ(entryValue(*g, "Hei"), 20.0);
        EXPECT_DOUBLE_EQ(entryValue(*g, "CLen"), 100.0);
        EXPECT_DOUBLE_EQ(entryValue(*g, "Area"), 600.0);
    }
}

TEST(Geometry, LineOffsetsLieOnEitherSide)
{
    const OffsetLines both = lineOffsets({0, 0}, {10, 0}, 5, -5);
    expectPoint(both.second.p1(), 0, 5);
    expectPoint(both.second.p2(), 10, 5);
    expectPoint(both.third.p1(), 0, -5);
    const OffsetLines small = lineOffsets({0, 0}, {10, 0}, 0.05, 3);
    EXPECT_TRUE(small.second.isNull());
    EXPECT_FALSE(small.third.isNull());
    const OffsetLines none = lineOffsets({0, 0}, {10, 0}, 0.09, -0.09);
    EXPECT_TRUE(none.second.isNull() && none.third.isNull());
    // A line of no length has no direction to offset along.
    const OffsetLines zero = lineOffsets({4, 4}, {4, 4}, 5, 5);
    EXPECT_TRUE(zero.second.isNull() && zero.third.isNull());
}

TEST(Geometry, ArrowWingsAndCalibrationBars)
{
    const ArrowWings wings = arrowWings({0, 0}, {100, 0});
    expectPoint(wings.wing1, 100 - 20 * std::sin(M_PI / 3), -10, 1e-9);
    expectPoint(wings.wing2, 100 - 20 * std::sin(M_PI / 3), 10, 1e-9);
    const ArrowWings still = arrowWings({5, 5}, {5, 5});
    EXPECT_TRUE(std::isfinite(still.wing1.x()) && std::isfinite(still.wing2.y()));

    const auto bars = calibrationBars({0, 0}, {100, 0});
    ASSERT_TRUE(bars.has_value());
    expectPoint(bars->first.p1(), 0, -100);
    expectPoint(bars->first.p2(), 0, 100);
    expectPoint(bars->second.p1(), 100, -100);
    EXPECT_FALSE(calibrationBars({3, 3}, {3, 3}).has_value());
    EXPECT_FALSE(endBar({3, 3}, {3, 3}).has_value());
    const auto vertical = endBar({0, 0}, {0, 10});
    ASSERT_TRUE(vertical.has_value());
    EXPECT_NEAR(vertical->length(), 100.0, 1e-9);
    EXPECT_NEAR(vertical->p1().y(), 0.0, 1e-9);
}

TEST(Geometry, RingShowsInnerCirclesOnlyInsideTheOuter)
{
    const QVector<QPointF> pts{{110, 100}, {100, 110}, {90, 100}};
    GeometryInput input;
    input.ringDistance1 = 4;
    input.ringDistance2 = 10;
    const ShapeGeometry g = computeShapeGeometry(DrawType::Ring, pts, input);
    EXPECT_EQ(g.circles.size(), 2);
    EXPECT_DOUBLE_EQ(entryValue(g, "R2"), 6.0);
    EXPECT_NEAR(entryValue(g, "CLen1"), 20 * M_PI, 1e-9);
    EXPECT_FALSE(formats(g).join("").contains("R3"));
    input.ringDistance1 = -1;
    input.ringDistance2 = 0;
    EXPECT_EQ(computeShapeGeometry(DrawType::Ring, pts, input).entries.size(), 3);
}

TEST(Geometry, CircleShapesAndTheirLengths)
{
    const QVector<QPointF> pts{{110, 100}, {100, 110}, {90, 100}, {100, 130}};
    const ShapeGeometry cir = computeShapeGeometry(DrawType::Cir, pts.mid(0, 3));
    EXPECT_NEAR(entryValue(cir, "CLen"), 20 * M_PI, 1e-9);
    const ShapeGeometry lcir3 = computeShapeGeometry(DrawType::LCir, pts.mid(0, 3));
    EXPECT_DOUBLE_EQ(entryValue(lcir3, "CLen"), 2 * M_PI * 10);
    const ShapeGeometry lcir4 = computeShapeGeometry(DrawType::LCir, pts);
    EXPECT_EQ(lcir4.entries.first().format, "GraphicsLCir\n");
    EXPECT_NEAR(entryValue(lcir4, "Len"), 30.0, 1e-9);

    QVector<QPointF> six = pts.mid(0, 3);
    six << QPointF(210, 100) << QPointF(200, 110) << QPointF(200, 110);
    EXPECT_EQ(computeShapeGeometry(DrawType::TCir, six).entries.size(), 3);
    six[5] = QPointF(190, 100);
    const ShapeGeometry two = computeShapeGeometry(DrawType::TCir, six);
    EXPECT_EQ(two.entries.size(), 8);
    EXPECT_NEAR(entryValue(two, "Dis"), 100.0, 1e-9);
}

TEST(Geometry, DistinctLastPointRule)
{
    EXPECT_TRUE(sameCoordinate(1.0, 1.0 + 1e-13));
    EXPECT_FALSE(sameCoordinate(1.0, 1.0 + 1e-9));
    EXPECT_TRUE(sameCoordinate(0.0, 1e-13));
    EXPECT_FALSE(sameCoordinate(0.0, 1e-11));
    EXPECT_TRUE(lastPointDistinct({{1, 1}}));
    EXPECT_FALSE(lastPointDistinct({{1, 1}, {2, 2}, {1, 1}}));
    EXPECT_TRUE(lastPointDistinct({{1, 1}, {2, 2}, {3, 1}}));
}

TEST(Geometry, CoincidentPointsGiveFiniteValuesForEveryShape)
{
    for (int type = DrawType::Line; type <= DrawType::MarkCir; ++type) {
        const ShapeGeometry g = computeShapeGeometry(type, QVector<QPointF>(6, QPointF(7, 7)));
        for (const LabelEntry &e : g.entries)
            EXPECT_TRUE(std::isfinite(e.value)) << type;
        EXPECT_TRUE(std::isfinite(g.main.length()) && std::isfinite(g.second.length())) << type;
    }
}
