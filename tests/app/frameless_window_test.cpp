#include "frameless_main_window.h"
#include "shell_test_support.h"
#include "title_bar.h"
#include "title_bar_button.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

namespace {

// A child that counts the mouse events it gets.
class Probe : public QWidget
{
public:
    using QWidget::QWidget;
    int presses = 0;
    int moves = 0;

protected:
    void mousePressEvent(QMouseEvent *) override { ++presses; }
    void mouseMoveEvent(QMouseEvent *) override { ++moves; }
};

class FramelessWindow : public ShellTest
{
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        window.reset(new FramelessMainWindow);
        probe = new Probe;
        probe->setMouseTracking(true);
        window->setCentralWidget(probe);
        window->setGeometry(50, 60, 600, 400);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    // Mouse events as the window system delivers them: to the native window,
    // ahead of every child.
    void windowMouse(QEvent::Type type, const QPoint &pos, Qt::MouseButton button, Qt::MouseButtons buttons)
    {
        QMouseEvent event(type, pos, window->mapToGlobal(pos), button, buttons, Qt::NoModifier);
        QCoreApplication::sendEvent(window->windowHandle(), &event);
    }
    void hover(const QPoint &pos) { windowMouse(QEvent::MouseMove, pos, Qt::NoButton, Qt::NoButton); }

    void barMouse(QEvent::Type type, const QPoint &pos, Qt::MouseButton button, Qt::MouseButtons buttons,
                  const QPoint &globalOffset = QPoint())
    {
        TitleBar *bar = window->titleBar();
        QMouseEvent event(type, pos, bar->mapToGlobal(pos) + globalOffset, button, buttons, Qt::NoModifier);
        QCoreApplication::sendEvent(bar, &event);
    }

    std::unique_ptr<FramelessMainWindow> window;
    Probe *probe = nullptr;
};

}  // namespace

TEST_F(FramelessWindow, HasNoSystemFrameAndAFullWidthTitleBar)
{
    EXPECT_TRUE(window->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(window->titleBar()->geometry(), QRect(0, 0, 600, 32));
    window->resize(900, 500);
    EXPECT_EQ(window->titleBar()->geometry(), QRect(0, 0, 900, 32));
    FramelessMainWindow fresh;
    // 1600x900 where the screen has room, the screen's free area where not.
    EXPECT_EQ(fresh.size(), QSize(1600, 900).boundedTo(QGuiApplication::primaryScreen()->availableSize()));
}

TEST_F(FramelessWindow, TitleBarStaysAboveChildrenAddedLater)
{
    // The central widget was set after the bar was made; the bar is on top.
    QWidget *top = window->childAt(300, 16);
    ASSERT_TRUE(top);
    EXPECT_TRUE(top == window->titleBar() || window->titleBar()->isAncestorOf(top));
    window->setCentralWidget(new QWidget);
    QCoreApplication::processEvents();
    top = window->childAt(300, 16);
    EXPECT_TRUE(top == window->titleBar() || window->titleBar()->isAncestorOf(top));
}

TEST_F(FramelessWindow, EdgeBandShowsResizeCursorsAndKeepsHoverFromChildren)
{
    QWindow *handle = window->windowHandle();
    hover({300, 200});
    EXPECT_EQ(probe->moves, 1);
    hover({2, 200});
    EXPECT_EQ(handle->cursor().shape(), Qt::SizeHorCursor);
    hover({598, 398});
    EXPECT_EQ(handle->cursor().shape(), Qt::SizeFDiagCursor);
    hover({598, 1});
    EXPECT_EQ(handle->cursor().shape(), Qt::SizeBDiagCursor);
    EXPECT_EQ(probe->moves, 1);

    probe->setCursor(Qt::CrossCursor);
    hover({300, 200});
    EXPECT_EQ(handle->cursor().shape(), Qt::CrossCursor);
    EXPECT_EQ(probe->moves, 2);
}

TEST_F(FramelessWindow, DraggingAnEdgeResizesTheWindowWhenNoWindowManagerDoes)
{
    windowMouse(QEvent::MouseButtonPress, {1, 200}, Qt::LeftButton, Qt::LeftButton);
    EXPECT_EQ(probe->presses, 0);
    windowMouse(QEvent::MouseMove, {-39, 230}, Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(window->geometry(), QRect(10, 60, 640, 400));
    windowMouse(QEvent::MouseButtonRelease, {-39, 230}, Qt::LeftButton, Qt::NoButton);

    // The resize has ended: later moves don't change the window.
    windowMouse(QEvent::MouseMove, {300, 300}, Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(window->geometry(), QRect(10, 60, 640, 400));

    windowMouse(QEvent::MouseButtonPress, {639, 399}, Qt::LeftButton, Qt::LeftButton);
    windowMouse(QEvent::MouseMove, {659, 419}, Qt::NoButton, Qt::LeftButton);
    windowMouse(QEvent::MouseButtonRelease, {659, 419}, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(window->geometry(), QRect(10, 60, 660, 420));
}

TEST_F(FramelessWindow, PressesInsideTheBandReachTheChildren)
{
    windowMouse(QEvent::MouseButtonPress, {300, 200}, Qt::LeftButton, Qt::LeftButton);
    windowMouse(QEvent::MouseButtonRelease, {300, 200}, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(probe->presses, 1);
    EXPECT_EQ(window->geometry(), QRect(50, 60, 600, 400));
}

TEST_F(FramelessWindow, MaximisedWindowHasNoResizeEdges)
{
    window->showMaximized();
    ASSERT_TRUE(waitFor([&] { return window->isMaximized(); }));
    const QRect maximised = window->geometry();
    const QPoint edge(1, maximised.height() / 2);
    windowMouse(QEvent::MouseButtonPress, edge, Qt::LeftButton, Qt::LeftButton);
    windowMouse(QEvent::MouseMove, edge + QPoint(-40, 0), Qt::NoButton, Qt::LeftButton);
    windowMouse(QEvent::MouseButtonRelease, edge + QPoint(-40, 0), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(window->geometry(), maximised);
    EXPECT_EQ(probe->presses, 1);
}

TEST_F(FramelessWindow, MaximiseButtonFollowsTheWindowState)
{
    MaximizeButton *button = window->titleBar()->maximizeButton();
    window->setWindowState(Qt::WindowMaximized);
    EXPECT_TRUE(button->isMaximized());
    window->setWindowState(Qt::WindowNoState);
    EXPECT_FALSE(button->isMaximized());

    button->click();
    EXPECT_TRUE(window->isMaximized());
    button->click();
    EXPECT_FALSE(window->isMaximized());
}

TEST_F(FramelessWindow, LeftDoubleClickOnTheBarMaximisesAndRestores)
{
    barMouse(QEvent::MouseButtonDblClick, {200, 10}, Qt::RightButton, Qt::RightButton);
    EXPECT_FALSE(window->isMaximized());
    barMouse(QEvent::MouseButtonDblClick, {200, 10}, Qt::LeftButton, Qt::LeftButton);
    EXPECT_TRUE(window->isMaximized());
    barMouse(QEvent::MouseButtonDblClick, {200, 10}, Qt::LeftButton, Qt::LeftButton);
    EXPECT_FALSE(window->isMaximized());
}

TEST_F(FramelessWindow, DraggingTheBarMovesTheWindowWithAnyButton)
{
    for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton}) {
        const QPoint start = window->pos();
        barMouse(QEvent::MouseButtonPress, {200, 10}, button, button);
        barMouse(QEvent::MouseMove, {200, 10}, Qt::NoButton, button, QPoint(40, 25));
        barMouse(QEvent::MouseButtonRelease, {200, 10}, button, Qt::NoButton, QPoint(40, 25));
        EXPECT_EQ(window->pos(), start + QPoint(40, 25));
    }
}

TEST_F(FramelessWindow, NoDragFromTheButtonsOrTheFirstColumn)
{
    const QPoint start = window->pos();
    const int buttonsLeft = window->titleBar()->setButton()->x();
    for (int x : {0, buttonsLeft, 599}) {
        barMouse(QEvent::MouseButtonPress, {x, 10}, Qt::LeftButton, Qt::LeftButton);
        barMouse(QEvent::MouseMove, {x, 10}, Qt::NoButton, Qt::LeftButton, QPoint(40, 25));
        barMouse(QEvent::MouseButtonRelease, {x, 10}, Qt::LeftButton, Qt::NoButton, QPoint(40, 25));
        EXPECT_EQ(window->pos(), start) << x;
    }
    EXPECT_EQ(buttonsLeft, 600 - 4 * 46);
}
