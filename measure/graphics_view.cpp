#include "graphics_view.h"

#include <QWheelEvent>

GraphicsView::GraphicsView(QWidget *parent) : QGraphicsView(parent)
{
    configure();
}

GraphicsView::GraphicsView(QGraphicsScene *scene, QWidget *parent) : QGraphicsView(scene, parent)
{
    configure();
}

void GraphicsView::configure()
{
    // A unit or calibration change updates every label at once: a region of
    // thousands of rectangles costs more to build and to clip to than one
    // repaint of their bounds.
    setViewportUpdateMode(QGraphicsView::BoundingRectViewportUpdate);
}

void GraphicsView::wheelEvent(QWheelEvent *event)
{
    // Not accepted here and not passed to QGraphicsView: the parent handles it.
    event->ignore();
}
