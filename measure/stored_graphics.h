// The graphics list stored in a picture file's trailer: JSON text whose top
// level is an array of {"type": DrawType, "point": [{"x":..,"y":..}, ...],
// "text": ".."}. The text comes from a file and is untrusted: this parser
// caps sizes, checks every value and keeps only elements that can be built
// and painted safely.
#pragma once

#include <QByteArray>
#include <QPointF>
#include <QString>
#include <QVector>

struct StoredShape {
    int type = 0;  // a DrawType that builds a shape, calibration shapes excluded
    QVector<QPointF> points;
    QString text;  // text annotations (type 20) only
};

namespace stored_graphics {
constexpr int kMaxJsonBytes = 16 * 1024 * 1024;
constexpr int kMaxShapes = 10000;
constexpr int kMaxPointsPerShape = 10000;
constexpr int kMaxTextLength = 65536;
// Coordinates are scene units; anything beyond this is no picture position.
constexpr double kMaxCoordinate = 1e6;

// Fewest points an element of `type` must carry to be rebuilt and painted.
int minimumPoints(int type);
}  // namespace stored_graphics

// The valid elements of a stored graphics list, in order. Text that is not a
// JSON array yields nothing. An element is skipped when its type builds no
// shape or is a calibration shape (23, 24), when "point" is not an array of
// objects, when a coordinate is present but not a finite number within
// kMaxCoordinate, when it has fewer points than its shape needs, or more
// than kMaxPointsPerShape. A missing "type" reads as 0, a missing coordinate
// as 0.0. `skipped`, when given, counts the elements left out.
QVector<StoredShape> parseStoredGraphics(const QByteArray &json, int *skipped = nullptr);
