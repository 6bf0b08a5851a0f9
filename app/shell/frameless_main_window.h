// The base of the main window: a top-level window without the system's
// caption and frame that still behaves like a framed one. It can be resized
// from a 5-pixel band along its edges (the cursor shows which edges), it is
// moved by dragging its title bar, and it is maximised, restored and
// minimised from the title bar's buttons or by the window manager. Moves and
// resizes are handed to the window manager (QWindow::startSystemMove and
// startSystemResize); where none runs them, the window runs them itself, and
// it places itself on the work area when a maximise finds nobody to do it.
#pragma once

#include "frameless_geometry.h"

#include <QMainWindow>
#include <QPointer>

class QScreen;
class QWindow;
class TitleBar;

class FramelessMainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit FramelessMainWindow(QWidget *parent = nullptr);
    ~FramelessMainWindow() override;

    // The title bar across the top of the window, as wide as the window.
    // The window's own content leaves its 32 pixels free.
    TitleBar *titleBar() const { return titleBar_; }

    // How long a maximise waits for the window manager before the window
    // places itself.
    static constexpr int kWindowManagerWaitMs = 250;

public slots:
    void onScreenChanged(QScreen *screen);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void attachToWindowHandle();
    bool handleWindowMouse(QEvent *event);
    void showEdgeCursor(Qt::Edges edges, const QPoint &pos);
    void placeIfNotMaximised();
    void placeNativeWindow(const QRect &area);
    QRect workArea() const;

    TitleBar *titleBar_ = nullptr;
    QPointer<QWindow> handle_;

    // Edges whose resize cursor the window shows; none while the widgets'
    // own cursors are in force.
    Qt::Edges cursorEdges_;

    // A resize that the window runs itself, from the press on an edge to the
    // release.
    Qt::Edges resizeEdges_;
    QRect resizeStart_;
    QPoint resizePressGlobal_;

    // A maximise that the window did itself, and where it was before.
    bool ownMaximise_ = false;
    QRect geometryBeforeMaximise_;
};
