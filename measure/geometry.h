// Measurement geometry: what each measuring shape computes from its points,
// in scene pixels, square pixels and degrees. Plain functions without
// widgets; the graphics items call them and draw the result.
#pragma once

#include "label_format.h"

#include <QLineF>
#include <QPainterPath>
#include <QPointF>
#include <QRectF>
#include <QVector>

#include <optional>

namespace geometry {

constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;
constexpr double kPiThird = 1.0471975511965976;

struct Circle {
    QPointF centre;
    double radius = -1.0;  // -1: the three points are collinear, there is no circle
    bool isValid() const;
};

// The circle through three points; radius -1 and centre (0,0) when the points
// are collinear (|g| < 1e-5) or the result is not a finite circle.
Circle circleThroughPoints(const QPointF &p1, const QPointF &p2, const QPointF &p3);

// Foot of the perpendicular from p2 on the line through p0 and p1; p0 when
// p0 and p1 coincide.
QPointF perpendicularFoot(const QPointF &p0, const QPointF &p1, const QPointF &p2);

// Distance between a line through p0, p1 and its parallel through p2:
// |(p1 - p0) x (p2 - p0)| / |p1 - p0|; |p2 - p0| when p0 and p1 coincide.
double parallelDistance(const QPointF &p0, const QPointF &p1, const QPointF &p2);

// Area of the closed polygon (shoelace formula); 0 below three points.
double polygonArea(const QVector<QPointF> &points);

// Where an arc through p0, p1, p2 about `centre` starts and how far it runs
// (degrees, counter-clockwise as QLineF::angle counts them).
struct ArcSpan {
    int startIndex = 0;  // 0: starts at p0, 2: starts at p2
    double startAngle = 0.0;
    double span = 0.0;
};
ArcSpan arcSpan(const QPointF &centre, const QPointF &p0, const QPointF &p1, const QPointF &p2);
// The arc path: a move to the start point and the arc over the span.
QPainterPath arcPath(const Circle &circle, const QPointF &start, const ArcSpan &span);

// Offset lines of a Line at pixel distances d1 and d2 (positive distances on
// one side, negative on the other). A line is null when |d| < 0.1, and both
// are null when the base line has no length.
struct OffsetLines {
    QLineF second;
    QLineF third;
};
OffsetLines lineOffsets(const QPointF &p0, const QPointF &p1, double d1, double d2);

// The two 20-pixel wings of the arrowhead at p1 of a text annotation's arrow
// from p0 to p1, at 60 degrees to the shaft.
struct ArrowWings {
    QPointF wing1;
    QPointF wing2;
};
ArrowWings arrowWings(const QPointF &p0, const QPointF &p1);
// The arrow path: the shaft p0-p1 and the open polygon wing1, p1, wing2.
QPainterPath arrowPath(const QPointF &p0, const QPointF &p1);

// The two 200-unit cross-bars of a calibration line from a to b, centred on
// a and on b at right angles to the segment. Nothing for a == b.
std::optional<QPair<QLineF, QLineF>> calibrationBars(const QPointF &a, const QPointF &b);

// The 100-unit bar, relative to a handle's centre, across the line from p0 to
// p1; nothing when the line has no direction.
std::optional<QLineF> endBar(const QPointF &p0, const QPointF &p1);

// Two coordinates compare equal for the distinct-last-point rule: within
// 1e-12 when one is exactly 0, else relative difference within 1e-12.
bool sameCoordinate(double a, double b);
bool samePoint(const QPointF &a, const QPointF &b);
// The last point differs from every earlier one (true below two points).
bool lastPointDistinct(const QVector<QPointF> &points);

// The dashed extension of one Ang line towards the crossing point of the two
// lines, when they cross outside at least one segment: from the crossing to
// the line's nearer end.
std::optional<QPair<QLineF, QLineF>> angleExtensions(const QLineF &main, const QLineF &second);
// The dashed extension of a Ver's main line to the foot point when the foot
// lies beyond the main line's ends in x.
std::optional<QLineF> perpendicularExtension(const QLineF &main, const QPointF &foot);

// Saved pictures have rules of their own for these two dashed lines:
// - Ver: always a line from the foot (the second line's end) to the main
//   line's end nearer to it along x (the first end only when strictly nearer),
//   wherever the foot lies.
QLineF pictureVerDash(const QLineF &main, const QLineF &second);
// - Ang: when the lines cross outside at least one segment, for each line a
//   line from the crossing to its first end p1 when ix < p1.x < p2.x or
//   p2.x <= p1.x <= ix (ix the crossing's x), else to its second end.
std::optional<QPair<QLineF, QLineF>> pictureAngleExtensions(const QLineF &main, const QLineF &second);
// The end of `line` that the Ang rule above picks for a crossing at x = `ix`.
QPointF pictureExtensionEnd(const QLineF &line, double ix);

// Distances the line and ring shapes use, already converted to pixels.
struct GeometryInput {
    double lineDistance1 = 0.0;
    double lineDistance2 = 0.0;
    double ringDistance1 = 0.0;
    double ringDistance2 = 0.0;
};

// What one shape computes: the construction it draws and its label entries.
struct ShapeGeometry {
    bool enough = false;  // false: too few points, nothing computed
    QLineF main, second, third;  // line family; a null line is absent
    QPointF foot;                // Par: the second line's midpoint
    QRectF rect;                 // Rect, MarkRect (not normalized)
    QPainterPath path;           // path family
    QVector<Circle> circles;     // circles drawn (Cir, Ring, LCir, TCir, CCali)
    double radius = -1.0;        // CCali: the calibration circle's radius
    QList<LabelEntry> entries;
};

// Points a shape of `type` needs before it can be measured.
int pointsNeeded(int type);
ShapeGeometry computeShapeGeometry(int type, const QVector<QPointF> &points, const GeometryInput &input = {});

}  // namespace geometry
