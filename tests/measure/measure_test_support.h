// Helpers for driving the measurement scene with synthetic mouse events.
#pragma once

#include "measure.h"

#include <QCoreApplication>
#include <QGraphicsSceneMouseEvent>
#include <QImage>
#include <QPainter>

inline void sendMouse(MainScene &scene, QEvent::Type type, const QPointF &pos, Qt::MouseButton button = Qt::LeftButton)
{
    QGraphicsSceneMouseEvent event(type);
    event.setScenePos(pos);
    event.setPos(pos);
    event.setLastScenePos(pos);
    event.setScreenPos(pos.toPoint());
    event.setButton(type == QEvent::GraphicsSceneMouseMove ? Qt::NoButton : button);
    event.setButtons(type == QEvent::GraphicsSceneMouseRelease ? Qt::NoButton : Qt::MouseButtons(button));
    event.setButtonDownScenePos(button, pos);
    event.setButtonDownScreenPos(button, pos.toPoint());
    event.setAccepted(false);
    QCoreApplication::sendEvent(&scene, &event);
}

inline void moveTo(MainScene &scene, const QPointF &pos)
{
    sendMouse(scene, QEvent::GraphicsSceneMouseMove, pos, Qt::NoButton);
}

// Move to the point, then press and release the left button there.
inline void clickAt(MainScene &scene, const QPointF &pos, Qt::MouseButton button = Qt::LeftButton)
{
    moveTo(scene, pos);
    sendMouse(scene, QEvent::GraphicsSceneMousePress, pos, button);
    sendMouse(scene, QEvent::GraphicsSceneMouseRelease, pos, button);
}

inline void doubleClickAt(MainScene &scene, const QPointF &pos)
{
    sendMouse(scene, QEvent::GraphicsSceneMouseDoubleClick, pos);
    sendMouse(scene, QEvent::GraphicsSceneMouseRelease, pos);
}

inline void drawShape(MainScene &scene, int mode, const QVector<QPointF> &points)
{
    scene.setDrawMode(mode);
    for (const QPointF &p : points)
        clickAt(scene, p);
}

// Sets the number of decimals labels show (the "FloatNum" draw setting).
inline void setDecimals(int decimals)
{
    SettingsStore::instance().setDrawValue(FloatNum, decimals);
    DecimalPlaces::invalidate();
}

// The pixels of column x, within 30 of y, that the scene paints when shown at
// its own size over white: the thickness on screen of a horizontal stroke
// through (x, y).
inline int strokeThickness(MainScene &scene, int x, int y)
{
    const QSize size = scene.sceneRect().size().toSize();
    QImage view(size, QImage::Format_ARGB32_Premultiplied);
    view.fill(Qt::white);
    QPainter painter(&view);
    scene.render(&painter, QRectF(QPointF(0, 0), size), scene.sceneRect());
    painter.end();
    int painted = 0;
    for (int row = qMax(0, y - 30); row <= qMin(size.height() - 1, y + 30); ++row)
        painted += view.pixel(x, row) != qRgb(255, 255, 255) ? 1 : 0;
    return painted;
}
