// Public face of the window shell: the frameless main window with its title
// bar and settings menu, the title-bar buttons, the wait dialog, the placing
// and closing of dialog windows and the geometry they use.
#pragma once

#include "dialog_windows.h"
#include "frameless_geometry.h"
#include "frameless_main_window.h"
#include "title_bar.h"
#include "title_bar_button.h"
#include "wait_dialog.h"
