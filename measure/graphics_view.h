// The transparent view over the live picture that shows a MainScene. The
// wheel belongs to the per-camera view around it, so this view neither
// scrolls nor zooms on it.
#pragma once

#include <QGraphicsView>

class GraphicsView : public QGraphicsView
{
    Q_OBJECT
public:
    explicit GraphicsView(QWidget *parent = nullptr);
    explicit GraphicsView(QGraphicsScene *scene, QWidget *parent = nullptr);

protected:
    void wheelEvent(QWheelEvent *event) override;

private:
    void configure();
};
