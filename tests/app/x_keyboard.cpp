#include "x_keyboard.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

// A connection of the test's own beside Qt's: what it sends goes through the
// server like another client's would.
Display *display()
{
    static Display *const connection = XOpenDisplay(nullptr);
    return connection;
}

void sendKey(KeySym symbol, bool down)
{
    XTestFakeKeyEvent(display(), XKeysymToKeycode(display(), symbol), down ? True : False, CurrentTime);
}

} // namespace

WId XKeyboard::focusWindow()
{
    Window focus = 0;
    int revertTo = 0;
    if (display())
        XGetInputFocus(display(), &focus, &revertTo);
    return WId(focus);
}

bool XKeyboard::press(Qt::Key key, Qt::KeyboardModifiers modifiers)
{
    int event = 0, error = 0, major = 0, minor = 0;
    if (!display() || !XTestQueryExtension(display(), &event, &error, &major, &minor))
        return false;
    const KeySym symbol = key == Qt::Key_F4 ? XK_F4 : XK_Escape;
    const bool alt = modifiers.testFlag(Qt::AltModifier);
    if (alt)
        sendKey(XK_Alt_L, true);
    sendKey(symbol, true);
    sendKey(symbol, false);
    if (alt)
        sendKey(XK_Alt_L, false);
    XSync(display(), False);
    return true;
}
