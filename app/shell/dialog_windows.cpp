#include "dialog_windows.h"

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QScreen>
#include <QVariant>
#include <QWidget>

namespace {
// Where a window was last placed.
const char kPlacedAt[] = "placedOverItsOwner";
} // namespace

DialogWindows::DialogWindows(QWidget *mainWindow) : QObject(mainWindow), mainWindow_(mainWindow)
{
    qApp->installEventFilter(this);
}

QPoint DialogWindows::centredOver(const QSize &size, const QRect &over, const QRect &area)
{
    QPoint topLeft(over.center().x() - size.width() / 2, over.center().y() - size.height() / 2);
    if (area.isValid()) {
        // Right and bottom first, so a window larger than the area keeps its
        // top-left corner (and its title, where it has one) on screen.
        topLeft.setX(qMax(area.left(), qMin(topLeft.x(), area.right() + 1 - size.width())));
        topLeft.setY(qMax(area.top(), qMin(topLeft.y(), area.bottom() + 1 - size.height())));
    }
    return topLeft;
}

bool DialogWindows::isDialogWindow(const QWidget *window) const
{
    if (!window || !window->isWindow() || window == mainWindow_)
        return false;
    const Qt::WindowType type = window->windowType();
    return type == Qt::Window || type == Qt::Dialog || type == Qt::Tool;
}

QWidget *DialogWindows::ownerOf(const QWidget *window) const
{
    QWidget *owner = window->parentWidget() ? window->parentWidget()->window() : nullptr;
    if (!owner || !owner->isVisible())
        owner = mainWindow_;
    return owner && owner->isVisible() && owner != window ? owner : nullptr;
}

void DialogWindows::place(QWidget *window) const
{
    QWidget *owner = ownerOf(window);
    if (!owner)
        return;
    QScreen *screen = owner->screen();
    const QRect area = screen ? screen->availableGeometry() : QRect();
    // The frame a window manager adds is known only once the window is
    // shown; before that the window's own size is what there is.
    const QSize size = window->frameGeometry().size().expandedTo(window->size());
    const QPoint topLeft = centredOver(size, owner->frameGeometry(), area);
    window->move(topLeft);
    window->setProperty(kPlacedAt, topLeft);
}

void DialogWindows::noteKeyboard(QWidget *window)
{
    keyboardHistory_.removeAll(window);
    keyboardHistory_.append(window);
}

void DialogWindows::handKeyboardOn(QWidget *closed)
{
    keyboardHistory_.removeAll(closed);
    for (int i = keyboardHistory_.size() - 1; i >= 0; --i)
        if (!keyboardHistory_.at(i) || !keyboardHistory_.at(i)->isVisible())
            keyboardHistory_.removeAt(i);
    // The keyboard, which Qt has taken from the window by now, goes to the
    // window that had it or asked for it last, else back to the window it
    // belonged to. Not simply back to the owner: a window shown after the
    // closed one may have asked before it went (or been turned away while
    // a modal window blocked it), and the owner would take the keyboard
    // from it.
    QWidget *next = keyboardHistory_.isEmpty() ? ownerOf(closed) : keyboardHistory_.last().data();
    // Asked also when Qt counts it active already: Qt learns of the X
    // server's focus late, and asking again costs nothing. A window that
    // another one has taken the keyboard to meanwhile keeps it.
    const QWidget *active = QApplication::activeWindow();
    if (next && (!active || active == closed || active == next))
        next->activateWindow();
}

bool DialogWindows::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Show) {
        auto *window = qobject_cast<QWidget *>(watched);
        // A window placed by its own code, or moved by the user since it was
        // placed here, keeps its place.
        if (!isDialogWindow(window))
            return false;
        if (!window->testAttribute(Qt::WA_Moved) || window->property(kPlacedAt) == QVariant(window->pos()))
            place(window);
        // Qt asks for the keyboard only for a modal window; a window
        // manager gives it to the others, and without one they would never
        // get it (nor Esc). Asked before the window is mapped, the request
        // waits in Qt until it is.
        if (!window->testAttribute(Qt::WA_ShowWithoutActivating)) {
            noteKeyboard(window);
            window->activateWindow();
        }
        return false;
    }
    if (event->type() == QEvent::WindowActivate) {
        auto *window = qobject_cast<QWidget *>(watched);
        if (window == mainWindow_ || isDialogWindow(window))
            noteKeyboard(window);
        return false;
    }
    if (event->type() == QEvent::Resize) {
        // A window that lays itself out as it is shown (a message box sizes
        // itself to its text) grows after it was placed: placed again until
        // it is on screen.
        auto *window = qobject_cast<QWidget *>(watched);
        if (isDialogWindow(window) && window->isVisible() && !window->testAttribute(Qt::WA_Mapped)
            && window->property(kPlacedAt) == QVariant(window->pos()))
            place(window);
        return false;
    }
    if (event->type() == QEvent::Hide) {
        auto *window = qobject_cast<QWidget *>(watched);
        if (isDialogWindow(window))
            handKeyboardOn(window);
        return false;
    }
    if (event->type() != QEvent::KeyPress)
        return false;
    auto *widget = qobject_cast<QWidget *>(watched);
    QWidget *window = widget ? widget->window() : nullptr;
    if (!isDialogWindow(window))
        return false;
    const auto *key = static_cast<QKeyEvent *>(event);
    const bool altF4 = key->key() == Qt::Key_F4 && key->modifiers() == Qt::AltModifier;
    // A dialog handles Esc itself (it rejects, unless it refuses to close);
    // any other window is closed like a dialog would be.
    const bool escape = key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier
                        && !qobject_cast<QDialog *>(window);
    if (!altF4 && !escape)
        return false;
    // close() asks the window first: one that must stay open (a firmware
    // upgrade under way) refuses.
    window->close();
    return true;
}
