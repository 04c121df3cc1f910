// The notification icon's right-click menu.
#pragma once

#include <windows.h>

// Builds the menu afresh, tracks it at (x, y) and destroys it; the chosen
// item reaches window as WM_COMMAND.
void ShowContextMenu(HWND window, int x, int y);
