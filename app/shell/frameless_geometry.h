// Geometry of the frameless main window, as plain functions: which edges a
// point grabs for resizing and the cursor that shows it, how a resize that we
// run ourselves changes the window, where a maximised window belongs, and
// which points of the title bar drag the window.
//
// The window has no native frame, so its client area is the whole window,
// maximised or not: the window manager places a maximised frameless window
// exactly on the work area of its screen.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QVector>
#include <Qt>

// Width in pixels of the band along each window edge that resizes the window.
constexpr int kResizeBorder = 5;

// The edges a point (in window coordinates) grabs in a window of the given
// size: within kResizeBorder of an edge, corners first. A maximised or
// full-screen window has no resize edges.
Qt::Edges resizeEdgesAt(const QPoint &pos, const QSize &size, Qt::WindowStates states = Qt::WindowNoState);

// The cursor that shows a resize at these edges; the arrow for none.
Qt::CursorShape resizeCursor(Qt::Edges edges);

// The window after its edges were dragged by delta from start, never smaller
// than minimum: a clamped edge stops where the minimum size puts it, the
// opposite edge stays where it was.
QRect resizedGeometry(const QRect &start, Qt::Edges edges, const QPoint &delta, const QSize &minimum);

struct ScreenArea {
    QRect geometry;   // the whole screen
    QRect available;  // the screen less the panels that reserve space on it
};

// Where a maximised window belongs: the available area of the screen that
// holds the largest part of the window, or of the primary screen when the
// window is on none. An empty list gives an empty rectangle.
QRect maximisedGeometry(const QRect &window, const QVector<ScreenArea> &screens, int primary);

// Whether a press at p (title-bar coordinates) may drag the window: p.x at
// least 1 and left of the buttons, which take buttonsWidth pixels at the
// right end of a bar barWidth wide, and no title-bar button held down.
bool isTitleBarDragPoint(const QPoint &p, int barWidth, int buttonsWidth, bool buttonPressed);
