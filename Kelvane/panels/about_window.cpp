#include "about_window.h"

// The About window is not built yet: nothing opens.
void ShowAboutWindow(HWND)
{
}

LRESULT CALLBACK AboutWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcW(window, message, wParam, lParam);
}
