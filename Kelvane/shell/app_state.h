// The tray program's process-wide state and its private messages.
#pragma once

#include <windows.h>

#include "policy.h"
#include "resource_images.h"

// Private window messages. WM_TRAYICON carries the mouse or icon event in
// the low word of lParam: the icon never asks for NOTIFYICON_VERSION_4.
constexpr UINT WM_TRAYICON = WM_APP + 1;
// WM_PANELCLOSED carries the panel that asks to be closed in wParam.
constexpr UINT WM_PANELCLOSED = WM_APP + 2;
constexpr UINT WM_STARTUPFLAGCHANGED = WM_APP + 3;
// kelvanectl to the controller of its session: the firmware's mode was set
// from the command line; read it and show it.
constexpr UINT WM_MODESETOUTSIDE = WM_APP + 4;
// Controller to the open mode panel and About window: the policies changed.
constexpr UINT WM_POLICYCHANGED = WM_APP + 5;
constexpr UINT WM_PANELAPPLYMODE = WM_APP + 11;
// A drawn window to itself: do what a click on element wParam does.
constexpr UINT WM_ACTIVATEELEMENT = WM_APP + 12;

// Commands of the context menu, of a second instance and of menu 107.
constexpr WORD ID_SHOWMODEPANEL = 40001;
constexpr WORD ID_SHOWABOUT = 40002;
constexpr WORD ID_TOGGLESTARTUP = 40003;
constexpr WORD ID_HIDE = 40004;
constexpr WORD ID_POSTWMISTATIONARY = 40005;
constexpr WORD ID_POSTWMIMOBILE = 40006;

// The controller's re-open guard of the mode panel.
constexpr UINT_PTR PANEL_GUARD_TIMER = 1;
// The controller's retries of the firmware read after a resume.
constexpr UINT_PTR RESUME_RETRY_TIMER = 2;

inline constexpr wchar_t kControllerClass[] = L"VornKelvane";
inline constexpr wchar_t kModePanelClass[] = L"VornKelvanePopup";
inline constexpr wchar_t kAboutClass[] = L"VornKelvaneAbout";

struct AppState {
    HINSTANCE instance;
    wchar_t windowTitle[100];
    int showAtStartup;
    int startedByRunKey;
    HWND controllerWindow;
    HWND modePanelWindow;
    HWND aboutWindow;
    int canShowModePanel;
    BOOL sessionNotificationRegistered;
    UINT taskbarCreatedMessage;
    Gdiplus::Image* images[kImageRoleCount];
    // The same pictures at double size, loaded on the first paint above 125 %.
    Gdiplus::Image* largeImages[kImageRoleCount];
    bool largeImagesLoaded;
    // What the administrator enforces, read at start and on every change.
    KelvanePolicy policy;
};

extern AppState app;

// Whether the icon is shown at logon: the ShowIcon policy, else the user's choice.
inline int ShowsIconAtStartup()
{
    return app.policy.showIconSet ? app.policy.showIcon : app.showAtStartup;
}

inline bool ModeIsEnforced()
{
    return app.policy.modeSet;
}
