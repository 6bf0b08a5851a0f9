#include "geometry.h"

#include "draw_type.h"

#include <cmath>

namespace geometry {

namespace {

double length(const QPointF &v)
{
    return std::hypot(v.x(), v.y());
}

bool finitePoint(const QPointF &p)
{
    return std::isfinite(p.x()) && std::isfinite(p.y());
}

QLineF translated(const QLineF &line, const QPointF &by)
{
    return QLineF(line.p1() + by, line.p2() + by);
}

LabelEntry entry(const char *format, double value, bool area = false, bool radian = false)
{
    LabelEntry e;
    e.format = QString::fromUtf8(format);
    e.value = std::isfinite(value) ? value : 0.0;
    e.area = area;
    e.radian = radian;
    return e;
}

QList<LabelEntry> collinearEntries()
{
    LabelEntry e;
    e.format = QString::fromLatin1(kCollinearNote);
    e.note = true;
    return {e};
}

void addCircle(QPainterPath &path, const Circle &circle)
{
    path.addEllipse(circle.centre, circle.radius, circle.radius);
}

void addCircleEntries(QList<LabelEntry> &entries, const char *r, const char *cLen, const char *area, double radius)
{
    entries << entry(r, radius) << entry(cLen, kTwoPi * radius) << entry(area, kPi * radius * radius, true);
}

}  // namespace

bool Circle::isValid() const
{
    return radius > 0.0 && std::isfinite(radius) && finitePoint(centre);
}

Circle circleThroughPoints(const QPointF &p1, const QPointF &p2, const QPointF &p3)
{
    const double x1 = p1.x(), y1 = p1.y(), x2 = p2.x(), y2 = p2.y(), x3 = p3.x(), y3 = p3.y();
    Circle circle;
    const double g = (x1 - x3) * (y1 - y2) - (y1 - y3) * (x1 - x2);
    if (!(std::fabs(g) >= 1e-5))
        return circle;
    const double h = ((x1 * x1 - x2 * x2) + (y1 * y1 - y2 * y2)) / 2.0;
    const double l = ((y1 * y1 - y3 * y3) + (x1 * x1 - x3 * x3)) / 2.0;
    const QPointF centre(-(h * (y1 - y3) - l * (y1 - y2)) / g, -(l * (x1 - x2) - h * (x1 - x3)) / g);
    const double radius = std::hypot(x1 - centre.x(), y1 - centre.y());
    if (!finitePoint(centre) || !std::isfinite(radius) || radius <= 0.0)
        return circle;
    circle.centre = centre;
    circle.radius = radius;
    return circle;
}

QPointF perpendicularFoot(const QPointF &p0, const QPointF &p1, const QPointF &p2)
{
    const QPointF d = p0 - p1;
    const double squared = QPointF::dotProduct(d, d);
    if (!(squared > 0.0))
        return p0;
    const double t = QPointF::dotProduct(p2 - p0, d) / squared;
    return p0 + t * d;
}

double parallelDistance(const QPointF &p0, const QPointF &p1, const QPointF &p2)
{
    const QPointF a = p1 - p0;
    const QPointF b = p2 - p0;
    const double base = length(a);
    if (!(base > 0.0))
        return length(b);
    return std::fabs(a.x() * b.y() - a.y() * b.x()) / base;
}

double polygonArea(const QVector<QPointF> &points)
{
    const int n = points.size();
    if (n < 3)
        return 0.0;
    double sum = 0.0;
    for (int i = 0; i < n; ++i) {
        const QPointF &a = points[i];
        const QPointF &b = points[(i + 1) % n];
        sum += a.x() * b.y() - b.x() * a.y();
    }
    return std::fabs(sum) / 2.0;
}

ArcSpan arcSpan(const QPointF &centre, const QPointF &p0, const QPointF &p1, const QPointF &p2)
{
    const double a = QLineF(centre, p0).angle();
    const double b = QLineF(centre, p1).angle();
    const double e = QLineF(centre, p2).angle();
    ArcSpan arc;
    if ((a > b && b < e) || (a < b && b > e)) {
        // The middle point lies outside the other two: the arc crosses 0 degrees.
        if (a < e) {
            arc.startIndex = 2;
            arc.startAngle = e;
            arc.span = a + 360.0 - e;
        } else {
            arc.startIndex = 0;
            arc.startAngle = a;
            arc.span = e + 360.0 - a;
        }
    } else if (a < e) {
        arc.startIndex = 0;
        arc.startAngle = a;
        arc.span = e - a;
    } else {
        arc.startIndex = 2;
        arc.startAngle = e;
        arc.span = a - e;
    }
    return arc;
}

QPainterPath arcPath(const Circle &circle, const QPointF &start, const ArcSpan &span)
{
    QPainterPath path;
    if (!circle.isValid())
        return path;
    path.moveTo(start);
    const double r = circle.radius;
    path.arcTo(QRectF(circle.centre.x() - r, circle.centre.y() - r, 2 * r, 2 * r), span.startAngle, span.span);
    return path;
}

OffsetLines lineOffsets(const QPointF &p0, const QPointF &p1, double d1, double d2)
{
    OffsetLines lines;
    if (!std::isfinite(d1))
        d1 = 0.0;
    if (!std::isfinite(d2))
        d2 = 0.0;
    const double l = length(p1 - p0);
    if ((std::fabs(d1) < 0.1 && std::fabs(d2) < 0.1) || !(l > 0.0))
        return lines;
    const QPointF normal(p0.y() - p1.y(), p1.x() - p0.x());
    if (std::fabs(d1) >= 0.1) {
        const QPointF n = normal * (d1 / l);
        lines.second = QLineF(p0 + n, p1 + n);
    }
    if (std::fabs(d2) >= 0.1) {
        const QPointF n = normal * (d2 / l);
        lines.third = QLineF(p0 + n, p1 + n);
    }
    return lines;
}

ArrowWings arrowWings(const QPointF &p0, const QPointF &p1)
{
    const double theta = std::atan2(p1.y() - p0.y(), p0.x() - p1.x());
    ArrowWings wings;
    wings.wing1 = p1 + 20.0 * QPointF(std::sin(theta + kPiThird), std::cos(theta + kPiThird));
    wings.wing2 = p1 + 20.0 * QPointF(std::sin(theta + kPi - kPiThird), std::cos(theta + kPi - kPiThird));
    return wings;
}

QPainterPath arrowPath(const QPointF &p0, const QPointF &p1)
{
    QPainterPath path;
    path.moveTo(p0);
    path.lineTo(p1);
    const ArrowWings wings = arrowWings(p0, p1);
    path.moveTo(wings.wing1);
    path.lineTo(p1);
    path.lineTo(wings.wing2);
    return path;
}

std::optional<QPair<QLineF, QLineF>> calibrationBars(const QPointF &a, const QPointF &b)
{
    const double dx = b.x() - a.x();
    const double dy = b.y() - a.y();
    if (dx == 0.0 && dy == 0.0)
        return std::nullopt;
    const double angle = std::atan2(dy, dx);
    const double s = 100.0 * std::sin(angle);
    const double c = 100.0 * std::cos(angle);
    const QLineF first(a.x() + s, a.y() - c, a.x() - s, a.y() + c);
    return qMakePair(first, translated(first, QPointF(dx, dy)));
}

std::optional<QLineF> endBar(const QPointF &p0, const QPointF &p1)
{
    const double dx = p1.x() - p0.x();
    const double dy = p1.y() - p0.y();
    if (dx == 0.0 && dy == 0.0)
        return std::nullopt;
    const double a = std::atan2(dy, dx);
    return QLineF(-50.0 * std::sin(a), 50.0 * std::cos(a), 50.0 * std::sin(a), -50.0 * std::cos(a));
}

bool sameCoordinate(double a, double b)
{
    if (a == 0.0 || b == 0.0)
        return std::fabs(a - b) <= 1e-12;
    return std::fabs(a - b) * 1e12 <= qMin(std::fabs(a), std::fabs(b));
}

bool samePoint(const QPointF &a, const QPointF &b)
{
    return sameCoordinate(a.x(), b.x()) && sameCoordinate(a.y(), b.y());
}

bool lastPointDistinct(const QVector<QPointF> &points)
{
    const int n = points.size();
    for (int i = 0; i + 1 < n; ++i)
        if (samePoint(points[i], points[n - 1]))
            return false;
    return true;
}

std::optional<QPair<QLineF, QLineF>> angleExtensions(const QLineF &main, const QLineF &second)
{
    QPointF crossing;
    if (main.intersects(second, &crossing) != QLineF::UnboundedIntersection || !finitePoint(crossing))
        return std::nullopt;
    auto nearerEnd = [&crossing](const QLineF &line) {
        const QPointF &a = line.p1();
        const QPointF &b = line.p2();
        if (a.x() > crossing.x())
            return a.x() <= b.x() ? a : b;
        return a.x() >= b.x() ? a : b;
    };
    return qMakePair(QLineF(crossing, nearerEnd(main)), QLineF(crossing, nearerEnd(second)));
}

std::optional<QLineF> perpendicularExtension(const QLineF &main, const QPointF &foot)
{
    const double f = foot.x();
    const double x1 = main.p1().x();
    const double x2 = main.p2().x();
    if (!((f > x1 && f > x2) || (f <= x1 && f < x2) || f == x2))
        return std::nullopt;
    const QPointF end = std::fabs(x1 - f) < std::fabs(x2 - f) ? main.p1() : main.p2();
    return QLineF(end, foot);
}

QLineF pictureVerDash(const QLineF &main, const QLineF &second)
{
    const QPointF foot = second.p2();
    const bool firstNearer = std::fabs(main.p1().x() - foot.x()) < std::fabs(main.p2().x() - foot.x());
    return QLineF(foot, firstNearer ? main.p1() : main.p2());
}

QPointF pictureExtensionEnd(const QLineF &line, double ix)
{
    const double x1 = line.p1().x();
    const double x2 = line.p2().x();
    return (ix < x1 && x1 < x2) || (x2 <= x1 && x1 <= ix) ? line.p1() : line.p2();
}

std::optional<QPair<QLineF, QLineF>> pictureAngleExtensions(const QLineF &main, const QLineF &second)
{
    QPointF crossing;
    if (main.intersects(second, &crossing) != QLineF::UnboundedIntersection || !finitePoint(crossing))
        return std::nullopt;
    return qMakePair(QLineF(crossing, pictureExtensionEnd(main, crossing.x())),
                     QLineF(crossing, pictureExtensionEnd(second, crossing.x())));
}

int pointsNeeded(int type)
{
    switch (type) {
    case DrawType::Ang:
        return 4;
    case DrawType::Par:
    case DrawType::Ver:
    case DrawType::ThreeAng:
    case DrawType::Arc:
    case DrawType::Cir:
    case DrawType::Ring:
    case DrawType::LCir:
    case DrawType::TCir:
    case DrawType::CCali:
    case DrawType::MarkCir:
        return 3;
    default:
        return 2;
    }
}

ShapeGeometry computeShapeGeometry(int type, const QVector<QPointF> &points, const GeometryInput &input)
{
    ShapeGeometry g;
    const int n = points.size();
    if (n < pointsNeeded(type))
        return g;
    for (const QPointF &p : points)
        if (!finitePoint(p))
            return g;
    g.enough = true;
    const QVector<QPointF> &p = points;
    switch (type) {
    case DrawType::Line:
    case DrawType::HLine:
    case DrawType::VLine: {
        g.main = QLineF(p[0], p[1]);
        const OffsetLines offsets = lineOffsets(p[0], p[1], input.lineDistance1, input.lineDistance2);
        g.second = offsets.second;
        g.third = offsets.third;
        g.entries << entry("Len = %1%2", g.main.length());
        break;
    }
    case DrawType::Par: {
        g.main = QLineF(p[0], p[1]);
        const QPointF mid = g.main.center();
        g.second = translated(g.main, p[2] - mid);
        g.third = QLineF(mid, g.second.center());
        g.foot = g.second.center();
        g.entries << entry("Len = %1%2\n", g.main.length()) << entry("Dis = %1%2", parallelDistance(p[0], p[1], p[2]));
        break;
    }
    case DrawType::Ver: {
        g.main = QLineF(p[0], p[1]);
        const QPointF foot = perpendicularFoot(p[0], p[1], p[2]);
        g.second = QLineF(p[2], foot);
        g.foot = foot;
        g.entries << entry("Len = %1%2\n", g.main.length()) << entry("Dis = %1%2", length(p[2] - foot));
        break;
    }
    case DrawType::Ang:
    case DrawType::ThreeAng: {
        g.main = QLineF(p[0], p[1]);
        g.second = type == DrawType::Ang ? QLineF(p[2], p[3]) : QLineF(p[1], p[2]);
        const double a = g.main.angleTo(g.second);
        g.entries << entry("Angle = %1%2", type == DrawType::Ang ? a : 180.0 - qMin(a, 360.0 - a));
        break;
    }
    case DrawType::Rect:
    case DrawType::MarkRect: {
        g.rect = QRectF(p[0], p[1]);
        const double w = std::fabs(g.rect.width());
        const double h = std::fabs(g.rect.height());
        if (type == DrawType::Rect)
            g.entries << entry("GraphicsRect\n", 0) << entry("Wid = %1%2\n", w) << entry("Hei = %1%2\n", h)
                      << entry("CLen = %1%2\n", 2 * (w + h)) << entry("Area = %1%2", w * h, true);
        break;
    }
    case DrawType::Arc: {
        const Circle c = circleThroughPoints(p[0], p[1], p[2]);
        if (!c.isValid()) {
            g.entries = collinearEntries();
            break;
        }
        const ArcSpan span = arcSpan(c.centre, p[0], p[1], p[2]);
        g.path = arcPath(c, p[span.startIndex], span);
        // Exact arc length: QPainterPath::length measures the Bezier
        // approximation of the arc, which is off by about 0.2 %.
        g.entries << entry("Radian = %1%2\n", span.span, false, true)
                  << entry("CLen = %1%2\n", c.radius * span.span * kPi / 180.0)
                  << entry("R = %1%2", c.radius);
        break;
    }
    case DrawType::Cir:
    case DrawType::MarkCir:
    case DrawType::CCali: {
        const Circle c = circleThroughPoints(p[0], p[1], p[2]);
        if (!c.isValid()) {
            if (type == DrawType::Cir)
                g.entries = collinearEntries();
            break;
        }
        g.circles << c;
        addCircle(g.path, c);
        g.radius = c.radius;
        if (type == DrawType::Cir)
            g.entries << entry("GraphicsCir\n", 0) << entry("R = %1%2\n", c.radius)
                      << entry("CLen = %1%2\n", kTwoPi * c.radius) << entry("Area = %1%2", kPi * c.radius * c.radius, true);
        break;
    }
    case DrawType::Ring: {
        const Circle c = circleThroughPoints(p[0], p[1], p[2]);
        if (!c.isValid()) {
            g.entries = collinearEntries();
            break;
        }
        g.circles << c;
        addCircle(g.path, c);
        addCircleEntries(g.entries, "R1 = %1%2\n", "CLen1 = %1%2\n", "Area1 = %1%2\n", c.radius);
        const double r2 = c.radius - input.ringDistance1;
        const double r3 = c.radius - input.ringDistance2;
        if (r2 > 0.0 && r2 < c.radius) {
            g.circles << Circle{c.centre, r2};
            addCircle(g.path, g.circles.last());
            addCircleEntries(g.entries, "R2 = %1%2\n", "CLen2 = %1%2\n", "Area2 = %1%2\n", r2);
        }
        if (r3 > 0.0 && r3 < c.radius) {
            g.circles << Circle{c.centre, r3};
            addCircle(g.path, g.circles.last());
            addCircleEntries(g.entries, "R3 = %1%2\n", "CLen3 = %1%2\n", "Area3 = %1%2", r3);
        }
        break;
    }
    case DrawType::Poly: {
        g.path.moveTo(p[0]);
        for (int i = 1; i < n; ++i)
            g.path.lineTo(p[i]);
        g.path.closeSubpath();
        g.entries << entry("CLen = %1%2\n", g.path.length()) << entry("Area = %1%2", polygonArea(p), true);
        break;
    }
    case DrawType::AnyLine: {
        g.path.moveTo(p[0]);
        for (int i = 1; i < n; ++i)
            g.path.lineTo(p[i]);
        g.entries << entry("CLen = %1%2\n", g.path.length());
        break;
    }
    case DrawType::LCir: {
        const Circle c = circleThroughPoints(p[0], p[1], p[2]);
        if (!c.isValid()) {
            g.entries = collinearEntries();
            break;
        }
        g.circles << c;
        addCircle(g.path, c);
        if (n >= 4) {
            g.path.moveTo(c.centre);
            g.path.lineTo(p[3]);
            g.entries << entry("GraphicsLCir\n", 0);
            addCircleEntries(g.entries, "R = %1%2\n", "CLen = %1%2\n", "Area = %1%2\n", c.radius);
            g.entries << entry("Len = %1%2", length(c.centre - p[3]));
        } else {
            addCircleEntries(g.entries, "R = %1%2\n", "CLen = %1%2\n", "Area = %1%2", c.radius);
        }
        break;
    }
    case DrawType::TCir: {
        const Circle c1 = circleThroughPoints(p[0], p[1], p[2]);
        const bool two = n >= 6 && p[4] != p[5];
        const Circle c2 = two ? circleThroughPoints(p[3], p[4], p[5]) : Circle();
        if (!c1.isValid() || (two && !c2.isValid())) {
            g.entries = collinearEntries();
            break;
        }
        g.circles << c1;
        addCircle(g.path, c1);
        if (two) {
            g.circles << c2;
            addCircle(g.path, c2);
            g.path.moveTo(c1.centre);
            g.path.lineTo(c2.centre);
            g.entries << entry("GraphicsTCir\n", 0);
            addCircleEntries(g.entries, "R1 = %1%2\n", "CLen1 = %1%2\n", "Area1 = %1%2\n", c1.radius);
            addCircleEntries(g.entries, "R2 = %1%2\n", "CLen2 = %1%2\n", "Area2 = %1%2\n", c2.radius);
            g.entries << entry("Dis = %1%2", length(c1.centre - c2.centre));
        } else {
            addCircleEntries(g.entries, "R1 = %1%2\n", "CLen1 = %1%2\n", "Area1 = %1%2", c1.radius);
        }
        break;
    }
    case DrawType::LText:
        g.path = arrowPath(p[0], p[1]);
        break;
    case DrawType::LCali: {
        const auto bars = calibrationBars(p[0], p[1]);
        if (bars) {
            g.main = bars->first;
            g.second = bars->second;
        }
        break;
    }
    default:
        g.enough = false;
        break;
    }
    return g;
}

}  // namespace geometry
