#include "dialog_windows.h"

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QScreen>
#include <QTimer>
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
        // get it (nor Esc).
        if (!window->testAttribute(Qt::WA_ShowWithoutActivating)) {
            window->activateWindow();
            // Once more when the window is up: the X server may have handed
            // the keyboard elsewhere meanwhile, to none or (for a modal
            // window) to the window it blocks.
            QTimer::singleShot(0, window, [window] {
                const QWidget *active = QApplication::activeWindow();
                if (window->isVisible() && active != window && (!active || window->isModal()))
                    window->activateWindow();
            });
        }
        return false;
    }
    if (event->type() == QEvent::Hide) {
        // The keyboard, which Qt has taken from the window by now, goes back
        // to the window it belonged to, as a window manager would give it.
        // Qt may count the owner active already when a modal window goes,
        // while the X server's focus went back to the screen: asked for all
        // the same.
        auto *window = qobject_cast<QWidget *>(watched);
        if (!isDialogWindow(window))
            return false;
        const QWidget *active = QApplication::activeWindow();
        if (QWidget *owner = ownerOf(window))
            if (!active || active == window || active == owner)
                owner->activateWindow();
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
