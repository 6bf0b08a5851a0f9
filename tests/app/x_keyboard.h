// The keyboard as the X server sees it, for the tests on a real X server:
// the window it gives keystrokes to, and keys pressed through its XTEST
// extension, which reach the program as a user's keyboard would, by way of
// the server's input focus and not of Qt's idea of it.
#pragma once

#include <QWidget>

namespace XKeyboard {

// The X window that has the input focus (0 for none).
WId focusWindow();
// Presses and releases `key` (Esc or F4), with Alt held when `modifiers`
// say so. False when the server has no XTEST extension.
bool press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);

} // namespace XKeyboard
