#include "mode_panel.h"

#include "app_state.h"

// The panel's drawing and behaviour are not built yet: no panel opens.
HWND CreateModePanel(HWND)
{
    return nullptr;
}

void CloseModePanel(HWND owner)
{
    DestroyWindow(app.modePanelWindow);
    SetTimer(owner, PANEL_GUARD_TIMER, GetDoubleClickTime(), nullptr);
}

LRESULT CALLBACK ModePanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcW(window, message, wParam, lParam);
}
