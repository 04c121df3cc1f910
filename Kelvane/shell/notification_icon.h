// The program's icon in the notification area, identified by the controller
// window and id 0. Each operation returns the shell's result (nonzero for
// success) and logs a failure.
#pragma once

#include <windows.h>

#include "cooling_mode.h"

BOOL AddNotificationIcon(HWND window, KelvaneMode mode);
BOOL DeleteNotificationIcon(HWND window);
// Removes the icon and adds it again with the current mode.
BOOL ChangeNotificationIcon(HWND window);
// Picture and tooltip of the current mode, in place.
BOOL ChangeNotificationTip(HWND window);
BOOL RestoreTooltip(HWND window);
