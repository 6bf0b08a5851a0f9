#include "frameless_geometry.h"

#include <algorithm>

Qt::Edges resizeEdgesAt(const QPoint &pos, const QSize &size, Qt::WindowStates states)
{
    if (states & (Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized))
        return {};
    const bool left = pos.x() < kResizeBorder;
    const bool right = pos.x() > size.width() - kResizeBorder;
    const bool top = pos.y() < kResizeBorder;
    const bool bottom = pos.y() > size.height() - kResizeBorder;
    // In a window narrower (or lower) than two bands a point can be near
    // both opposite edges; left wins over right and top over bottom.
    Qt::Edges edges;
    if (left)
        edges |= Qt::LeftEdge;
    else if (right)
        edges |= Qt::RightEdge;
    if (top)
        edges |= Qt::TopEdge;
    else if (bottom)
        edges |= Qt::BottomEdge;
    return edges;
}

Qt::CursorShape resizeCursor(Qt::Edges edges)
{
    const bool horizontal = edges & (Qt::LeftEdge | Qt::RightEdge);
    const bool vertical = edges & (Qt::TopEdge | Qt::BottomEdge);
    if (horizontal && vertical) {
        // Top-left and bottom-right lie on one diagonal, the other two corners on the other.
        const bool leftEdge = edges & Qt::LeftEdge;
        const bool topEdge = edges & Qt::TopEdge;
        return leftEdge == topEdge ? Qt::SizeFDiagCursor : Qt::SizeBDiagCursor;
    }
    if (horizontal)
        return Qt::SizeHorCursor;
    if (vertical)
        return Qt::SizeVerCursor;
    return Qt::ArrowCursor;
}

QRect resizedGeometry(const QRect &start, Qt::Edges edges, const QPoint &delta, const QSize &minimum)
{
    const int minWidth = std::max(1, minimum.width());
    const int minHeight = std::max(1, minimum.height());
    int left = start.left();
    int top = start.top();
    int right = start.left() + start.width();   // one past the last column
    int bottom = start.top() + start.height();  // one past the last row
    if (edges & Qt::LeftEdge)
        left = std::min(left + delta.x(), right - minWidth);
    else if (edges & Qt::RightEdge)
        right = std::max(right + delta.x(), left + minWidth);
    if (edges & Qt::TopEdge)
        top = std::min(top + delta.y(), bottom - minHeight);
    else if (edges & Qt::BottomEdge)
        bottom = std::max(bottom + delta.y(), top + minHeight);
    return QRect(left, top, right - left, bottom - top);
}

QRect maximisedGeometry(const QRect &window, const QVector<ScreenArea> &screens, int primary)
{
    if (screens.isEmpty())
        return {};
    int best = -1;
    qint64 bestArea = 0;
    for (int i = 0; i < screens.size(); ++i) {
        const QRect overlap = window.intersected(screens[i].geometry);
        const qint64 area = overlap.isEmpty() ? 0 : qint64(overlap.width()) * overlap.height();
        if (area > bestArea) {
            best = i;
            bestArea = area;
        }
    }
    if (best < 0)
        best = (primary >= 0 && primary < screens.size()) ? primary : 0;
    const ScreenArea &screen = screens[best];
    return screen.available.isEmpty() ? screen.geometry : screen.available;
}

bool isTitleBarDragPoint(const QPoint &p, int barWidth, int buttonsWidth, bool buttonPressed)
{
    return p.x() >= 1 && p.x() < barWidth - buttonsWidth && !buttonPressed;
}
