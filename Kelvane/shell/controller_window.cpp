#include "controller_window.h"

#include <wtsapi32.h>

#include "about_window.h"
#include "app_state.h"
#include "context_menu.h"
#include "cooling_mode.h"
#include "diagnostic_log.h"
#include "mode_panel.h"
#include "notification_icon.h"
#include "settings_file.h"
#include "startup.h"

namespace {

// Explorer may not be ready yet at logon: keep trying for five minutes.
bool AddNotificationIconWithRetries(HWND window)
{
    if (AddNotificationIcon(window, GetKelvaneMode()))
        return true;
    WriteLog("WM_CREATE: AddNotificationIcon() failed.\n");
    for (int retries = 0; retries < kMaxRetries;) {
        WaitBeforeRetry();
        BOOL added = AddNotificationIcon(window, GetKelvaneMode());
        ++retries;
        if (added) {
            WriteLogFormat("WM_CREATE: AddNotificationIcon() succeeded after %d time(s) of retry.\n", retries);
            return true;
        }
    }
    WriteLog("Cannot add Notification Icon.\n");
    return false;
}

LRESULT OnCreate(HWND window)
{
    app.taskbarCreatedMessage = RegisterWindowMessageW(L"TaskbarCreated");
    if (!AddNotificationIconWithRetries(window))
        return -1;

    app.sessionNotificationRegistered = WTSRegisterSessionNotification(window, NOTIFY_FOR_THIS_SESSION);
    if (!app.sessionNotificationRegistered)
        WriteLog("WM_CREATE: WTSRegisterSessionNotification( hwnd, NOTIFY_FOR_THIS_SESSION ) failed\n");

    for (int role = 0; role < kImageRoleCount; ++role)
        app.images[role] = LoadFromReaource(kImageResourceIds[role]);

    // Posted, not sent: the panel opens once the loop runs, after the entry
    // has stored this window's handle.
    if (!app.startedByRunKey)
        PostMessageW(window, WM_COMMAND, ID_SHOWMODEPANEL, 0);
    return 0;
}

void OnDestroy(HWND window)
{
    DeleteNotificationIcon(window);
    if (app.sessionNotificationRegistered && !WTSUnRegisterSessionNotification(window))
        WriteLog("WM_DESTROY: WTSUnRegisterSessionNotification() failed\n");
    for (Gdiplus::Image*& image : app.images) {
        DeleteImage(image);
        image = nullptr;
    }
    PostQuitMessage(0);
}

void OpenModePanel(HWND window)
{
    app.modePanelWindow = CreateModePanel(window);
}

void ToggleStartupFlag()
{
    app.showAtStartup = app.showAtStartup ? 0 : 1;
    SetProfile();
    if (app.aboutWindow)
        PostMessageW(app.aboutWindow, WM_STARTUPFLAGCHANGED, 0, 0);
}

// Returns false for the commands left to default processing.
bool OnCommand(HWND window, WORD command)
{
    switch (command) {
    case ID_SHOWMODEPANEL:
        // A panel that Escape destroyed leaves a stale handle behind.
        if (!app.modePanelWindow || !IsWindow(app.modePanelWindow))
            OpenModePanel(window);
        return true;
    case ID_SHOWABOUT:
        ShowAboutWindow(window);
        return true;
    case ID_TOGGLESTARTUP:
        ToggleStartupFlag();
        return true;
    case ID_HIDE:
        DestroyWindow(window);
        return true;
    default:
        return false;
    }
}

void StartPanelGuard(HWND window)
{
    SetTimer(window, PANEL_GUARD_TIMER, GetDoubleClickTime(), nullptr);
    app.modePanelWindow = nullptr;
    app.canShowModePanel = 0;
}

void OnTrayIcon(HWND window, WORD event)
{
    switch (event) {
    case WM_LBUTTONUP:
        if (IsWindowVisible(app.modePanelWindow)) {
            CloseModePanel(window);
            app.modePanelWindow = nullptr;
            app.canShowModePanel = 0;
        } else if (app.canShowModePanel) {
            OpenModePanel(window);
        }
        break;
    case WM_RBUTTONUP: {
        POINT cursor;
        GetCursorPos(&cursor);
        ShowContextMenu(window, cursor.x, cursor.y);
        break;
    }
    case NIN_BALLOONTIMEOUT:
        RestoreTooltip(window);
        break;
    }
}

void OnConsoleConnect(HWND window)
{
    // A failed read keeps the last known state.
    InitThermalControl();
    ApplyProfile(BuiltInOn);
    ChangeNotificationIcon(window);
}

} // namespace

LRESULT CALLBACK ControllerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        return OnCreate(window);

    case WM_DESTROY:
        OnDestroy(window);
        return 0;

    case WM_COMMAND:
        if (OnCommand(window, LOWORD(wParam)))
            return 0;
        break;

    case WM_TIMER:
        if (wParam == PANEL_GUARD_TIMER) {
            KillTimer(window, PANEL_GUARD_TIMER);
            app.canShowModePanel = 1;
        }
        return 0;

    case WM_WTSSESSION_CHANGE:
        if (wParam == WTS_CONSOLE_CONNECT)
            OnConsoleConnect(window);
        return 0;

    case WM_TRAYICON:
        OnTrayIcon(window, LOWORD(lParam));
        return 0;

    case WM_PANELCLOSED:
        DestroyWindow(app.modePanelWindow);
        StartPanelGuard(window);
        return 0;

    default:
        // Explorer restarted: its new taskbar knows nothing of the icon.
        if (app.taskbarCreatedMessage && message == app.taskbarCreatedMessage &&
            !AddNotificationIcon(window, GetKelvaneMode()))
            WriteLog("Cannot add Notification Icon.\n");
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
