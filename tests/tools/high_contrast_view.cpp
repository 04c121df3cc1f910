// high_contrast_view: the mode panel and the About window of the linked
// product code, drawn under high contrast with keyboard cues on, for the
// scripted session's screenshots. Wine 8 keeps no high-contrast switch
// (SPI_SETHIGHCONTRAST is a stub there), so this program switches it
// through SystemParametersInfoW as the tests do, with the setting kept in
// the process. Usage: high_contrast_view SECONDS  (the windows stay that long)
#include <windows.h>

#include <cwchar>

#include "about_window.h"
#include "app_state.h"
#include "cooling_mode.h"
#include "mode_panel.h"
#include "panel_accessible.h"
#include "startup.h"
#include "system_settings.h"

// No retries worth waiting for: the viewer shows whatever the firmware says.
void WaitBeforeRetry()
{
    Sleep(1);
}

int wmain(int argc, wchar_t** argv)
{
    const long seconds = argc == 2 ? std::wcstol(argv[1], nullptr, 10) : 0;
    if (seconds <= 0) {
        std::fwprintf(stderr, L"usage: high_contrast_view SECONDS\n");
        return 2;
    }
    app.instance = GetModuleHandleW(nullptr);
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
    for (int role = 0; role < kImageRoleCount; ++role)
        app.images[role] = LoadFromReaource(kImageResourceIds[role]);
    InitThermalControl();
    app.showAtStartup = 1;
    RegisterWindowClass(kModePanelClass, 0, ModePanelProc);
    RegisterWindowClass(kAboutClass, 0, AboutWindowProc);
    // The panel and the About window want an owner; its messages are not needed.
    HWND owner = CreateWindowExW(0, L"Static", nullptr, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, app.instance, nullptr);
    app.controllerWindow = owner;

    SimulateSystemSettings(true, true);
    ShowAboutWindow(owner);
    HWND panel = CreateModePanel(owner);
    if (app.aboutWindow)
        MoveKeyboardFocus(app.aboutWindow, aboutAccess, AboutCheckBoxElement);

    const DWORD end = GetTickCount() + static_cast<DWORD>(seconds) * 1000;
    while (GetTickCount() < end) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }

    if (IsWindow(panel))
        DestroyWindow(panel);
    if (app.aboutWindow)
        DestroyWindow(app.aboutWindow);
    DestroyWindow(owner);
    EndSystemSettings();
    for (Gdiplus::Image*& image : app.images)
        DeleteImage(image);
    Gdiplus::GdiplusShutdown(token);
    return 0;
}
