// The hidden window that owns the notification icon and receives its
// events, the menu's commands, a second instance's request, the restart of
// the taskbar and the reconnection of the console.
#pragma once

#include <windows.h>

LRESULT CALLBACK ControllerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
