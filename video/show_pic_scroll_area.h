// The scroll area that holds the live picture. The wheel never scrolls it
// (the per-camera view gives the wheel its own meaning); in tracking mode a
// left-button drag on the picture scrolls it instead.
#pragma once

#include "view_layout.h"

#include <QScrollArea>

class ShowPicScrollArea : public QScrollArea
{
    Q_OBJECT
public:
    explicit ShowPicScrollArea(QWidget *parent = nullptr);
    // The content widget is watched for drags as well as the viewport.
    void setContent(QWidget *content);

signals:
    void signalSendOffset(int x, int y);

public slots:
    void hScrollBarValueChange(int value);
    void vScrollBarValueChange(int value);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    // Ignored, so the wheel passes on to the view around the scroll area.
    void wheelEvent(QWheelEvent *event) override;

private:
    QWidget *content = nullptr;
    view_layout::DragState drag;
};
