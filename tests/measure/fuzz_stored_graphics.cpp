// libFuzzer entry: the stored graphics list of a picture file is untrusted.
#include "stored_graphics.h"

#include <QPointF>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray json(reinterpret_cast<const char *>(data), static_cast<int>(size));
    const QVector<StoredShape> shapes = parseStoredGraphics(json);
    for (const StoredShape &shape : shapes) {
        if (shape.points.size() < stored_graphics::minimumPoints(shape.type)
            || shape.points.size() > stored_graphics::kMaxPointsPerShape)
            std::abort();
        for (const QPointF &p : shape.points)
            if (!std::isfinite(p.x()) || !std::isfinite(p.y()))
                std::abort();
    }
    return 0;
}
