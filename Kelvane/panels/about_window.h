// The custom-drawn About window.
#pragma once

#include <windows.h>

// Restores the About window, or creates it centred in the work area.
void ShowAboutWindow(HWND owner);
LRESULT CALLBACK AboutWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
