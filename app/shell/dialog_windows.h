// Every dialog and tool window of the program opens centred over the window
// it belongs to (its parent's window, else the main window), gets the
// keyboard, hands it on when it closes (to the window that had it or asked
// for it last, as a window manager's focus history would, else back to that
// window), and closes with Esc or Alt+F4. A window manager would otherwise
// place a window without a parent and offer a close button; in a session
// without one (a kiosk on a bare X server) such a window would open at the
// screen's corner with no way to close it, and a modal one would block the
// program.
#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QRect>

class QWidget;

class DialogWindows : public QObject
{
public:
    // Watches the application's windows for as long as `mainWindow` lives.
    explicit DialogWindows(QWidget *mainWindow);

    // Top-left corner of a window of `size` centred over `over`, kept inside
    // `area` (the screen's work area) as far as it fits.
    static QPoint centredOver(const QSize &size, const QRect &over, const QRect &area);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool isDialogWindow(const QWidget *window) const;
    // The visible window `window` belongs to: its parent's, else the main window.
    QWidget *ownerOf(const QWidget *window) const;
    void place(QWidget *window) const;
    // `window` asked for the keyboard or got it.
    void noteKeyboard(QWidget *window);
    void handKeyboardOn(QWidget *closed);

    QPointer<QWidget> mainWindow_;
    // The windows by when they last asked for the keyboard or got it, the
    // latest last.
    QList<QPointer<QWidget>> keyboardHistory_;
};
