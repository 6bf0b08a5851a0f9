#include "stored_graphics.h"

#include "draw_type.h"
#include "geometry.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <cmath>

namespace stored_graphics {

int minimumPoints(int type)
{
    switch (type) {
    case DrawType::Poly:
        return 3;
    case DrawType::LCir:
        return 4;  // painting draws the circle and the line to the fourth point
    case DrawType::TCir:
        return 6;  // painting draws both circles
    default:
        return geometry::pointsNeeded(type);
    }
}

}  // namespace stored_graphics

namespace {

bool buildsStoredShape(int type)
{
    if (type < DrawType::Line || type > DrawType::MarkCir)
        return false;
    return type != DrawType::VerCircle && type != DrawType::Cross && type != DrawType::Gridlines
        && type != DrawType::LCali && type != DrawType::CCali;
}

bool readCoordinate(const QJsonObject &point, const char *key, double &out)
{
    const QJsonValue value = point.value(QLatin1String(key));
    if (value.isUndefined()) {
        out = 0.0;
        return true;
    }
    if (!value.isDouble())
        return false;
    out = value.toDouble();
    return std::isfinite(out) && std::fabs(out) <= stored_graphics::kMaxCoordinate;
}

bool readElement(const QJsonValue &value, StoredShape &shape)
{
    if (!value.isObject())
        return false;
    const QJsonObject object = value.toObject();
    const QJsonValue type = object.value(QLatin1String("type"));
    if (type.isUndefined()) {
        shape.type = 0;
    } else {
        const double number = type.toDouble(-1.0);
        if (!type.isDouble() || number != std::floor(number) || std::fabs(number) > 1000.0)
            return false;
        shape.type = static_cast<int>(number);
    }
    if (!buildsStoredShape(shape.type))
        return false;
    const QJsonValue pointValue = object.value(QLatin1String("point"));
    if (!pointValue.isArray())
        return false;
    const QJsonArray points = pointValue.toArray();
    if (points.size() < stored_graphics::minimumPoints(shape.type)
        || points.size() > stored_graphics::kMaxPointsPerShape)
        return false;
    shape.points.reserve(points.size());
    for (const QJsonValue &pointEntry : points) {
        if (!pointEntry.isObject())
            return false;
        const QJsonObject point = pointEntry.toObject();
        double x = 0.0;
        double y = 0.0;
        if (!readCoordinate(point, "x", x) || !readCoordinate(point, "y", y))
            return false;
        shape.points.append(QPointF(x, y));
    }
    if (shape.type == DrawType::LText) {
        const QJsonValue text = object.value(QLatin1String("text"));
        if (text.isString())
            shape.text = text.toString().left(stored_graphics::kMaxTextLength);
        else if (!text.isUndefined())
            return false;
    }
    return true;
}

}  // namespace

QVector<StoredShape> parseStoredGraphics(const QByteArray &json, int *skipped)
{
    QVector<StoredShape> shapes;
    int left = 0;
    if (skipped)
        *skipped = 0;
    if (json.size() > stored_graphics::kMaxJsonBytes)
        return shapes;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return shapes;
    const QJsonArray array = document.array();
    for (const QJsonValue &value : array) {
        if (shapes.size() >= stored_graphics::kMaxShapes) {
            ++left;
            continue;
        }
        StoredShape shape;
        if (readElement(value, shape))
            shapes.append(shape);
        else
            ++left;
    }
    if (skipped)
        *skipped = left;
    return shapes;
}
