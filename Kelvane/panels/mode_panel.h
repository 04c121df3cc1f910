// The small borderless panel beside the notification icon.
#pragma once

#include <windows.h>

// The new panel, or null.
HWND CreateModePanel(HWND owner);
// Destroys the panel and starts the owner's re-open guard.
void CloseModePanel(HWND owner);
LRESULT CALLBACK ModePanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
