#include "view_layout.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace view_layout {

namespace {

// trunc(value) for a value known to be finite and >= 0, saturated to int.
int truncatedSize(double value)
{
    if (!(value > 0.0))
        return 0;
    if (value >= double(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    return int(value);
}

}  // namespace

bool isUsableScale(double scale)
{
    return std::isfinite(scale) && scale > 0.0;
}

std::optional<double> bestFitScale(QSize container, QSize frame)
{
    if (frame.width() <= 0 || frame.height() <= 0 || container.width() <= 0 || container.height() <= 0)
        return std::nullopt;
    double best = std::min({double(container.width()) / frame.width(), double(container.height()) / frame.height(),
                            1.0});
    best = std::trunc(best * 10000.0) / 10000.0;
    if (!isUsableScale(best))
        return std::nullopt;
    return best;
}

double scalePercent(double scale)
{
    return scale * 100.0;
}

LiveLayout liveLayout(QSize container, QSize frame, double scale)
{
    LiveLayout layout;
    const int areaWidth = std::max(container.width(), 0);
    const int areaHeight = std::max(container.height(), 0);
    if (!isUsableScale(scale) || frame.width() <= 0 || frame.height() <= 0) {
        layout.scrollGeometry = QRect(areaWidth / 2, areaHeight / 2, 0, 0);
        return layout;
    }
    scale = std::min(scale, 1.0);
    const int contentWidth = truncatedSize(frame.width() * scale);
    const int contentHeight = truncatedSize(frame.height() * scale);
    layout.content = QSize(contentWidth, contentHeight);
    const int visibleWidth = std::min(contentWidth, areaWidth);
    const int visibleHeight = std::min(contentHeight, areaHeight);
    layout.scrollGeometry =
        QRect((areaWidth - visibleWidth) / 2, (areaHeight - visibleHeight) / 2, visibleWidth, visibleHeight);
    layout.horizontalBar = areaWidth < contentWidth;
    layout.verticalBar = areaHeight < contentHeight;
    return layout;
}

StillLayout stillLayout(QSize container, QSize picture, double scale)
{
    if (!isUsableScale(scale))
        scale = 1.0;
    const int areaWidth = std::max(container.width(), 0);
    const int areaHeight = std::max(container.height(), 0);
    const QSize shown = picture.isValid() && !picture.isEmpty() ? picture : QSize(areaWidth, areaHeight);
    StillLayout layout;
    int x = 0, y = 0, width = areaWidth, height = areaHeight;
    const double scaledWidth = shown.width() * scale;
    const double scaledHeight = shown.height() * scale;
    if (areaWidth >= scaledWidth) {
        x = truncatedSize((areaWidth - scaledWidth) * 0.5);
        width = truncatedSize(scaledWidth);
    } else {
        layout.horizontalBar = true;
    }
    if (areaHeight >= scaledHeight) {
        y = truncatedSize((areaHeight - scaledHeight) * 0.5);
        height = truncatedSize(scaledHeight);
    } else {
        layout.verticalBar = true;
    }
    layout.viewGeometry = QRect(x, y, width, height);
    return layout;
}

DragStep dragMove(DragState &state, QPoint global)
{
    DragStep step;
    if (!state.pressed) {
        state.pressed = true;
        state.dragging = false;
        state.lastGlobal = global;
        step.consumed = true;
        return step;
    }
    const QPoint delta = global - state.lastGlobal;
    if (!state.dragging && std::abs(delta.x()) <= kDragDeadZone && std::abs(delta.y()) <= kDragDeadZone)
        return step;
    state.dragging = true;
    state.lastGlobal = global;
    step.consumed = true;
    step.scrollBy = -delta;
    return step;
}

void dragRelease(DragState &state)
{
    state.pressed = false;
    state.dragging = false;
}

QRect flowPanelGeometry(bool atTop, int margin, QSize graphicsView)
{
    const int width = std::max(graphicsView.width() - 2 * margin, 0);
    if (atTop)
        return QRect(margin, margin, width, kFlowPanelHeight);
    return QRect(margin, graphicsView.height() - margin - kFlowPanelHeight, width, kFlowPanelHeight);
}

QPoint zoomButtonsPosition(QSize view, QSize buttons, bool tableVisible, int tableHeight)
{
    const int table = tableVisible ? tableHeight : 30;
    return QPoint(view.width() - buttons.width() - 20, view.height() - table - buttons.height() - 60);
}

std::optional<bool> wheelForward(int delta)
{
    if (delta == 0)
        return std::nullopt;
    return delta > 0;
}

}  // namespace view_layout
