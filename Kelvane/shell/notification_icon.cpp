#include "notification_icon.h"

#include <commctrl.h>
#include <shellapi.h>

#include "app_state.h"
#include "diagnostic_log.h"
#include "resource_ids.h"

// The full current record: the shell reads guidItem and hBalloonIcon too.
static_assert(sizeof(NOTIFYICONDATAW) == 956, "NOTIFYICONDATAW must be the Vista+ form");

namespace {

const char kDeleteFailed[] = "DeleteNotificationIcon(): Shell_NotifyIcon( NIM_DELETE, &nid ) failed.\n";

NOTIFYICONDATAW MakeIconData(HWND window, UINT flags)
{
    NOTIFYICONDATAW data = {};
    data.cbSize = sizeof(data);
    data.hWnd = window;
    data.uID = 0;
    data.uFlags = flags;
    return data;
}

// Picture and tooltip for a mode; anything but On shows Off. A failed load
// leaves the record with no icon or an empty tooltip, as the shell accepts.
void SetModePicture(NOTIFYICONDATAW& data, KelvaneMode mode)
{
    const bool on = mode == On;
    LoadIconMetric(app.instance, MAKEINTRESOURCEW(on ? IDI_MODE_ON : IDI_MODE_OFF), LIM_SMALL, &data.hIcon);
    LoadStringW(app.instance, on ? IDS_TIP_ON : IDS_TIP_OFF, data.szTip, ARRAYSIZE(data.szTip));
}

// The shell copies the icon; the program keeps none of them.
BOOL NotifyWithPicture(DWORD message, NOTIFYICONDATAW& data, KelvaneMode mode)
{
    SetModePicture(data, mode);
    BOOL result = Shell_NotifyIconW(message, &data);
    if (data.hIcon)
        DestroyIcon(data.hIcon);
    return result;
}

} // namespace

BOOL AddNotificationIcon(HWND window, KelvaneMode mode)
{
    NOTIFYICONDATAW data = MakeIconData(window, NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP);
    data.uCallbackMessage = WM_TRAYICON;
    BOOL result = NotifyWithPicture(NIM_ADD, data, mode);
    if (!result)
        WriteLog("AddNotificationIcon(): Shell_NotifyIcon( NIM_ADD, &nid ) failed.\n");
    return result;
}

BOOL DeleteNotificationIcon(HWND window)
{
    NOTIFYICONDATAW data = MakeIconData(window, 0);
    BOOL result = Shell_NotifyIconW(NIM_DELETE, &data);
    if (!result)
        WriteLog(kDeleteFailed);
    return result;
}

BOOL ChangeNotificationIcon(HWND window)
{
    NOTIFYICONDATAW data = MakeIconData(window, 0);
    if (!Shell_NotifyIconW(NIM_DELETE, &data)) {
        WriteLog(kDeleteFailed);
        WriteLog("ChangeNotificationIcon(): Shell_NotifyIcon( NIM_DELETE, &nid ) failed.\n");
    }
    BOOL result = AddNotificationIcon(window, GetKelvaneMode());
    if (!result)
        WriteLog("ChangeNotificationIcon(): AddNotificationIcon( hwnd, GetKelvaneMode() ) failed.\n");
    return result;
}

BOOL ChangeNotificationTip(HWND window)
{
    NOTIFYICONDATAW data = MakeIconData(window, NIF_ICON | NIF_TIP | NIF_SHOWTIP);
    BOOL result = NotifyWithPicture(NIM_MODIFY, data, GetKelvaneMode());
    if (!result)
        WriteLog("ChangeNotificationTip(): Shell_NotifyIcon( NIM_MODIFY, &nid ) failed.\n");
    return result;
}

BOOL RestoreTooltip(HWND window)
{
    NOTIFYICONDATAW data = MakeIconData(window, NIF_SHOWTIP);
    BOOL result = Shell_NotifyIconW(NIM_MODIFY, &data);
    if (!result)
        WriteLog("RestoreTooltip(): Shell_NotifyIcon( NIM_MODIFY, &nid ) failed.\n");
    return result;
}
