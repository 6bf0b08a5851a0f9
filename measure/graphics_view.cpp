#include "graphics_view.h"

#include <QWheelEvent>

GraphicsView::GraphicsView(QWidget *parent) : QGraphicsView(parent) {}

GraphicsView::GraphicsView(QGraphicsScene *scene, QWidget *parent) : QGraphicsView(scene, parent) {}

void GraphicsView::wheelEvent(QWheelEvent *event)
{
    // Not accepted here and not passed to QGraphicsView: the parent handles it.
    event->ignore();
}
