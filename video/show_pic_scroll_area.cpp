#include "show_pic_scroll_area.h"

#include <QMouseEvent>
#include <QScrollBar>

ShowPicScrollArea::ShowPicScrollArea(QWidget *parent) : QScrollArea(parent)
{
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, &ShowPicScrollArea::hScrollBarValueChange);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &ShowPicScrollArea::vScrollBarValueChange);
    viewport()->installEventFilter(this);
    horizontalScrollBar()->installEventFilter(this);
    verticalScrollBar()->installEventFilter(this);
}

void ShowPicScrollArea::setContent(QWidget *widget)
{
    content = widget;
    setWidget(widget);
    widget->installEventFilter(this);
}

void ShowPicScrollArea::hScrollBarValueChange(int value)
{
    emit signalSendOffset(value, verticalScrollBar()->value());
}

void ShowPicScrollArea::vScrollBarValueChange(int value)
{
    emit signalSendOffset(horizontalScrollBar()->value(), value);
}

void ShowPicScrollArea::wheelEvent(QWheelEvent *event)
{
    event->ignore();
}

bool ShowPicScrollArea::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Wheel) {
        // Handled by wheelEvent above, which passes it on unscrolled.
        return QScrollArea::eventFilter(watched, event);
    }
    if (watched == horizontalScrollBar() || watched == verticalScrollBar()) {
        if (event->type() == QEvent::Enter)
            viewport()->setCursor(Qt::ArrowCursor);
        else if (event->type() == QEvent::Leave)
            viewport()->setCursor(Qt::OpenHandCursor);
        return QScrollArea::eventFilter(watched, event);
    }
    if (event->type() == QEvent::MouseMove) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->buttons() & Qt::LeftButton) {
            const bool first = !drag.pressed;
            const view_layout::DragStep step = view_layout::dragMove(drag, mouse->globalPos());
            if (first)
                viewport()->setCursor(Qt::ClosedHandCursor);
            if (!step.scrollBy.isNull()) {
                horizontalScrollBar()->setValue(horizontalScrollBar()->value() + step.scrollBy.x());
                verticalScrollBar()->setValue(verticalScrollBar()->value() + step.scrollBy.y());
                emit signalSendOffset(horizontalScrollBar()->value(), verticalScrollBar()->value());
            }
            if (step.consumed)
                return true;
        }
    } else if (event->type() == QEvent::MouseButtonRelease) {
        if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
            view_layout::dragRelease(drag);
            viewport()->setCursor(Qt::OpenHandCursor);
        }
    }
    return QScrollArea::eventFilter(watched, event);
}
