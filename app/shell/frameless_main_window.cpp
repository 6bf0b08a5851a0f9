#include "frameless_main_window.h"

#include "dialog_windows.h"
#include "title_bar.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <QWindowStateChangeEvent>

FramelessMainWindow::FramelessMainWindow(QWidget *parent)
    : QMainWindow(parent)
{
    titleBar_ = new TitleBar(this);
    // The usual window flags stay, so the window manager still offers
    // minimise, maximise and snapping for the undecorated window.
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    // No larger than the screen's free area: a laptop's 1366x768 would leave
    // the bottom and the right of 1600x900 unreachable.
    QSize size(1600, 900);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableSize());
    resize(size);
    winId();
    attachToWindowHandle();
    titleBar_->raise();
    new DialogWindows(this);
}

FramelessMainWindow::~FramelessMainWindow() = default;

void FramelessMainWindow::attachToWindowHandle()
{
    QWindow *handle = windowHandle();
    if (handle == handle_)
        return;
    if (handle_) {
        handle_->removeEventFilter(this);
        disconnect(handle_, nullptr, this, nullptr);
    }
    handle_ = handle;
    cursorEdges_ = {};
    resizeEdges_ = {};
    if (!handle_)
        return;
    // Mouse events of the whole window pass here before any child sees them,
    // so the edge band works over every child widget.
    handle_->installEventFilter(this);
    connect(handle_, &QWindow::screenChanged, this, &FramelessMainWindow::onScreenChanged);
}

bool FramelessMainWindow::event(QEvent *event)
{
    // Changing some window flags gives the widget a new native window.
    if (event->type() == QEvent::WinIdChange)
        attachToWindowHandle();
    const bool handled = QMainWindow::event(event);
    // A child added later (the central widget, a status bar) would cover the
    // title bar, which must stay above everything else.
    if ((event->type() == QEvent::ChildAdded || event->type() == QEvent::ChildPolished) && titleBar_)
        titleBar_->raise();
    return handled;
}

void FramelessMainWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    titleBar_->resize(width(), titleBar_->height());
}

QRect FramelessMainWindow::workArea() const
{
    QVector<ScreenArea> areas;
    const QList<QScreen *> screens = QGuiApplication::screens();
    for (const QScreen *screen : screens)
        areas.append({screen->geometry(), screen->availableGeometry()});
    return maximisedGeometry(geometry(), areas, screens.indexOf(QGuiApplication::primaryScreen()));
}

void FramelessMainWindow::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    const bool wasMaximised = static_cast<QWindowStateChangeEvent *>(event)->oldState() & Qt::WindowMaximized;
    // The window system may confirm a maximise once more; the first one
    // holds the geometry to go back to.
    if (isMaximized() && !wasMaximised && !ownMaximise_) {
        geometryBeforeMaximise_ = geometry();
        QTimer::singleShot(kWindowManagerWaitMs, this, &FramelessMainWindow::placeIfNotMaximised);
    } else if (!isMaximized() && wasMaximised && ownMaximise_) {
        ownMaximise_ = false;
        setGeometry(geometryBeforeMaximise_);
    }
}

void FramelessMainWindow::placeIfNotMaximised()
{
    // A window manager has moved the window by now; without one (a bare X
    // server, a kiosk session) the maximised state changed nothing.
    if (!isMaximized() || isFullScreen() || geometry() != geometryBeforeMaximise_)
        return;
    const QRect area = workArea();
    if (area.isEmpty() || area == geometry())
        return;
    ownMaximise_ = true;
    placeNativeWindow(area);
}

void FramelessMainWindow::placeNativeWindow(const QRect &area)
{
    // Through the native window: QWidget::setGeometry would drop the
    // maximised state of the widget without telling anybody.
    if (handle_)
        handle_->setGeometry(area);
}

void FramelessMainWindow::onScreenChanged(QScreen *)
{
    if (ownMaximise_ && isMaximized()) {
        const QRect area = workArea();
        if (!area.isEmpty())
            placeNativeWindow(area);
    }
}

void FramelessMainWindow::showEdgeCursor(Qt::Edges edges, const QPoint &pos)
{
    if (edges == cursorEdges_ || !handle_)
        return;
    cursorEdges_ = edges;
    if (edges) {
        handle_->setCursor(resizeCursor(edges));
        return;
    }
    // Back to the cursor of the widget under the pointer.
    const QWidget *under = childAt(pos);
    handle_->setCursor((under ? under : this)->cursor());
}

bool FramelessMainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == handle_ && handleWindowMouse(event))
        return true;
    return QMainWindow::eventFilter(watched, event);
}

bool FramelessMainWindow::handleWindowMouse(QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseMove: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (resizeEdges_) {
            const QSize minimum = minimumSizeHint().expandedTo(minimumSize());
            setGeometry(resizedGeometry(resizeStart_, resizeEdges_, mouse->globalPos() - resizePressGlobal_, minimum));
            return true;
        }
        // With a button held the move belongs to whichever widget took the press.
        if (mouse->buttons() != Qt::NoButton)
            return false;
        const Qt::Edges edges = resizeEdgesAt(mouse->pos(), size(), windowState());
        showEdgeCursor(edges, mouse->pos());
        return bool(edges);
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        const Qt::Edges edges = resizeEdgesAt(mouse->pos(), size(), windowState());
        if (!edges)
            return false;
        if (event->type() == QEvent::MouseButtonPress && mouse->button() == Qt::LeftButton && !resizeEdges_
            && !(handle_ && handle_->startSystemResize(edges))) {
            resizeEdges_ = edges;
            resizeStart_ = geometry();
            resizePressGlobal_ = mouse->globalPos();
        }
        return true;
    }
    case QEvent::MouseButtonRelease:
        if (!resizeEdges_)
            return false;
        if (static_cast<QMouseEvent *>(event)->buttons() == Qt::NoButton)
            resizeEdges_ = {};
        return true;
    case QEvent::Leave:
        if (!resizeEdges_)
            showEdgeCursor({}, QPoint(-1, -1));
        return false;
    default:
        return false;
    }
}
