#include "context_menu.h"

#include "app_state.h"
#include "resource_ids.h"

void ShowContextMenu(HWND window, int x, int y)
{
    HMENU menu = CreatePopupMenu();
    if (!menu)
        return;

    const UINT typeFlag = IsRightToLeftUi() ? MFT_RIGHTORDER : 0;
    wchar_t text[100];

    LoadStringW(app.instance, IDS_MENU_SET_MODE, text, ARRAYSIZE(text));
    MENUITEMINFOW first = {};
    first.cbSize = sizeof(first);
    first.fMask = MIIM_STATE | MIIM_ID | MIIM_STRING | MIIM_FTYPE;
    first.fType = typeFlag;
    first.fState = MFS_DEFAULT;
    first.wID = ID_SHOWMODEPANEL;
    first.dwTypeData = text;
    InsertMenuItemW(menu, 0, TRUE, &first);

    LoadStringW(app.instance, IDS_MENU_ABOUT, text, ARRAYSIZE(text));
    AppendMenuW(menu, MF_STRING | typeFlag, ID_SHOWABOUT, text);
    LoadStringW(app.instance, IDS_SHOW_AT_STARTUP, text, ARRAYSIZE(text));
    // Under a ShowIcon policy the item shows the enforced choice, greyed.
    AppendMenuW(menu,
                MF_STRING | typeFlag | (ShowsIconAtStartup() ? MF_CHECKED : 0) |
                    (app.policy.showIconSet ? MF_GRAYED : 0),
                ID_TOGGLESTARTUP, text);
    LoadStringW(app.instance, IDS_MENU_HIDE, text, ARRAYSIZE(text));
    AppendMenuW(menu, MF_STRING | typeFlag, ID_HIDE, text);

    const UINT alignment = GetSystemMetrics(SM_MENUDROPALIGNMENT) ? TPM_RIGHTALIGN | TPM_RIGHTBUTTON
                                                                 : TPM_LEFTALIGN | TPM_RIGHTBUTTON;
    // Without the foreground the menu would not close on a click elsewhere;
    // the message posted after it lets the next click open it again at once.
    SetForegroundWindow(window);
    TrackPopupMenuEx(menu, alignment, x, y, window, nullptr);
    PostMessageW(window, WM_NULL, 0, 0);
    DestroyMenu(menu);
}
