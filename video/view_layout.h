// Layout arithmetic of the per-camera view: fitting a frame or picture into
// the video container, centring it, choosing scroll-bar policies, dragging
// the picture and placing the floating panels. Pure functions; sizes in
// device-independent pixels.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

#include <optional>

namespace view_layout {

// A display scale the view may use: a finite number above zero. The unset
// marker -1, zero, infinities and NaN are not.
bool isUsableScale(double scale);

// Largest scale up to 1.0 at which a frame of `frame` fits into `container`,
// truncated (towards zero) to four decimals: 0.66666 gives 0.6666. Empty when
// either size is not positive, or when the result would not be usable (a
// container so small that the scale truncates to 0).
std::optional<double> bestFitScale(QSize container, QSize frame);

// The percentage form the scale-change signal carries (0.6666 gives 66.66).
double scalePercent(double scale);

// Live view: the OpenGL view sized to the frame at the live scale, clipped to
// the container and centred in it.
struct LiveLayout
{
    QSize content;         // video area: frame x scale, truncated
    QRect scrollGeometry;  // of the scroll area, in container coordinates
    bool horizontalBar = false;  // content wider than the container
    bool verticalBar = false;
};
// A scale above 1.0 counts as 1.0; an unusable scale, or a frame without
// size, gives an empty video area.
LiveLayout liveLayout(QSize container, QSize frame, double scale);

// Still view: the graphics view showing the picture at `scale`, centred
// where it fits and filling the container where it does not.
struct StillLayout
{
    QRect viewGeometry;
    bool horizontalBar = false;
    bool verticalBar = false;
};
// An unusable scale is treated as 1.0 so the layout never divides or scales
// by nonsense.
StillLayout stillLayout(QSize container, QSize picture, double scale);

// Dragging the live picture with the left button in tracking mode. The first
// move of a drag only anchors it; later moves scroll once they leave a dead
// zone of 9 pixels around the anchor.
struct DragState
{
    bool pressed = false;
    bool dragging = false;
    QPoint lastGlobal;
};
struct DragStep
{
    bool consumed = false;  // the move belongs to the drag
    QPoint scrollBy;        // amount to add to the scroll bars' values
};
constexpr int kDragDeadZone = 9;
DragStep dragMove(DragState &state, QPoint global);
void dragRelease(DragState &state);

// Floating tool panel placed along the top or the bottom edge of the
// graphics view, `margin` pixels in, 70 pixels high.
constexpr int kFlowPanelHeight = 70;
QRect flowPanelGeometry(bool atTop, int margin, QSize graphicsView);

// Zoom buttons: bottom right, above the table (or above a 30 pixel band when
// the table is hidden).
QPoint zoomButtonsPosition(QSize view, QSize buttons, bool tableVisible, int tableHeight);

// Wheel direction: true for a turn away from the user, false towards; empty
// for a zero delta (touchpads send those), which must do nothing.
std::optional<bool> wheelForward(int delta);

}  // namespace view_layout
