#include "mode_panel.h"

#include <shellapi.h>

#include "about_window.h"
#include "app_state.h"
#include "diagnostic_log.h"
#include "dpi.h"
#include "firmware_lock.h"
#include "high_contrast.h"
#include "notification_icon.h"
#include "panel_accessible.h"
#include "resource_ids.h"
#include "scoped_gdi.h"
#include "settings_file.h"

const ModePanelLayout kDefaultModePanelLayout = {
    150, 130, {50, 50}, {100, 50}, {42, 72, 58, 88}, {92, 72, 108, 88}, {75, 100}, {0, 100, 150, 116}, {0, 0, 150, 130},
    kBaseDpi, {0, 0, 0, 0},
};

ModePanelState modePanelState = {Off, PanelNothing, Normal, false};
ModePanelLayout modePanelLayout = kDefaultModePanelLayout;
// Not reset between panels: a computed layout stays for the rest of the run.
ModePanelLayout modePanelBaseLayout = kDefaultModePanelLayout;

namespace {

constexpr COLORREF kLabelColour = RGB(255, 255, 255);
constexpr COLORREF kDisabledLabelColour = RGB(150, 150, 150);
constexpr COLORREF kLinkColour = RGB(102, 217, 255);
constexpr COLORREF kLinkActiveColour = RGB(82, 174, 205);
constexpr DWORD kPanelStyle = WS_POPUP;
constexpr DWORD kPanelExStyle = WS_EX_TOOLWINDOW;

struct ModePanelStrings {
    wchar_t on[20];
    wchar_t off[20];
    wchar_t about[20];
    wchar_t notice[100];
};
ModePanelStrings panelStrings;

// Made when the panel is laid out for a DPI and kept until it is gone, so
// that a paint makes no font.
struct ModePanelFonts {
    ScopedFont labels;    // 16 px
    ScopedFont link;      // 14 px
    ScopedFont linkHover; // 14 px, underlined
    ScopedFont notice;    // 12 px
    UINT dpi;
};
ModePanelFonts panelFonts;

void MakePanelFonts(UINT dpi)
{
    if (!panelFonts.labels || panelFonts.dpi != dpi) {
        panelFonts.labels = ScopedFont(CreateUiFont(ScaleForDpi(16, dpi), FW_NORMAL, FALSE));
        panelFonts.link = ScopedFont(CreateUiFont(ScaleForDpi(14, dpi), FW_NORMAL, FALSE));
        panelFonts.linkHover = ScopedFont(CreateUiFont(ScaleForDpi(14, dpi), FW_NORMAL, TRUE));
        panelFonts.notice.Reset();
        panelFonts.dpi = dpi;
    }
    // Only a panel under an enforced mode shows the line.
    if (ModeIsEnforced() && !panelFonts.notice)
        panelFonts.notice = ScopedFont(CreateUiFont(ScaleForDpi(12, dpi), FW_NORMAL, FALSE));
}

void DeletePanelFonts()
{
    panelFonts.labels.Reset();
    panelFonts.link.Reset();
    panelFonts.linkHover.Reset();
    panelFonts.notice.Reset();
}

void InvalidateRadios(HWND window)
{
    InvalidateRect(window, &modePanelLayout.onRadio, FALSE);
    InvalidateRect(window, &modePanelLayout.offRadio, FALSE);
    NotifyElementState(window, PanelOnElement);
    NotifyElementState(window, PanelOffElement);
}

// Shell_NotifyIconGetRect and CalculatePopupWindowPosition are Windows 7
// additions (and missing in Wine): looked up, not imported.
using GetIconRect = HRESULT(WINAPI*)(const NOTIFYICONIDENTIFIER*, RECT*);
using CalculatePosition = BOOL(WINAPI*)(const POINT*, const SIZE*, UINT, RECT*, RECT*);

int PanelElementOf(int pressTarget)
{
    switch (pressTarget) {
    case PanelOnRadio:
        return PanelOnElement;
    case PanelOffRadio:
        return PanelOffElement;
    case PanelLink:
        return PanelLinkElement;
    }
    return 0;
}

int RadioOf(KelvaneMode mode)
{
    return mode == On ? PanelOnElement : PanelOffElement;
}

// In 96-DPI pixels, whatever the display: the layout is computed at 96 DPI.
int MeasureWidestLabel(HWND window, UINT dpi)
{
    ScopedWindowDc dc(window);
    MakePanelFonts(dpi);
    ScopedSelection selection(dc.Get(), panelFonts.labels.Get());
    int on = TextWidth(dc.Get(), panelStrings.on);
    int off = TextWidth(dc.Get(), panelStrings.off);
    return MulDiv(on > off ? on : off, static_cast<int>(kBaseDpi), static_cast<int>(dpi));
}

// Sizes the panel and its rounded region for dpi; flags as SetWindowPos's.
void LayOutPanel(HWND window, UINT dpi, UINT flags)
{
    modePanelLayout = ScaleModePanelLayout(ModeIsEnforced() ? WithNoticeLine(modePanelBaseLayout) : modePanelBaseLayout, dpi);
    MakePanelFonts(dpi);
    RECT frame = {0, 0, modePanelLayout.width, modePanelLayout.height};
    AdjustWindowRectEx(&frame, kPanelStyle, FALSE, kPanelExStyle);
    SetWindowPos(window, HWND_TOPMOST, frame.left, frame.top, frame.right, frame.bottom, flags);
    const int corner = ScaleForDpi(12, dpi);
    SetWindowRgn(window, CreateRoundRectRgn(0, 0, modePanelLayout.width, modePanelLayout.height, corner, corner),
                 TRUE);
}

void OnCreate(HWND window)
{
    LoadStringW(app.instance, IDS_MODE_ON, panelStrings.on, ARRAYSIZE(panelStrings.on));
    LoadStringW(app.instance, IDS_MODE_OFF, panelStrings.off, ARRAYSIZE(panelStrings.off));
    LoadStringW(app.instance, IDS_ABOUT_LINK, panelStrings.about, ARRAYSIZE(panelStrings.about));
    LoadStringW(app.instance, IDS_SET_BY_ORGANIZATION, panelStrings.notice, ARRAYSIZE(panelStrings.notice));

    const UINT dpi = DpiForWindow(window);
    ComputeModePanelLayout(MeasureWidestLabel(window, dpi), modePanelBaseLayout);
    LayOutPanel(window, dpi, 0);

    PlaceNearNotificationIcon(app.controllerWindow, window);
    ShowWindow(window, SW_SHOWNORMAL);
    SetForegroundWindow(window);

    // Nothing of an earlier panel's mouse state carries over.
    modePanelState.pressTarget = PanelNothing;
    modePanelState.linkLook = Normal;
    modePanelState.shownMode = GetKelvaneMode();
    modePanelState.autoCloseArmed = true;
    SetTimer(window, kAutoCloseTimer, kAutoCloseMilliseconds, nullptr);
    ResetKeyboardFocus(window, modePanelAccess, RadioOf(modePanelState.shownMode));
}

// The panel moved to a display of another scale, or the scale changed.
void OnDpiChanged(HWND window, UINT dpi, const RECT& suggested)
{
    LayOutPanel(window, dpi, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(window, nullptr, suggested.left, suggested.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    PlaceNearNotificationIcon(app.controllerWindow, window);
    InvalidateRect(window, nullptr, TRUE);
}

void DrawLink(HDC dc)
{
    const ModePanelLayout& layout = modePanelLayout;
    const bool hover = modePanelState.linkLook == Hover;
    ScopedSelection selection(dc, hover ? panelFonts.linkHover.Get() : panelFonts.link.Get());
    SetTextColor(dc, LookColour(modePanelState.linkLook == Normal ? kLinkColour : kLinkActiveColour, COLOR_HOTLIGHT));
    TextOutW(dc, layout.aboutAnchor.x, layout.aboutAnchor.y, panelStrings.about, lstrlenW(panelStrings.about));
}

// Under the radios while the mode is enforced; two lines at most.
void DrawNotice(HDC dc)
{
    RECT box = modePanelLayout.notice;
    if (IsRectEmpty(&box))
        return;
    ScopedSelection selection(dc, panelFonts.notice.Get());
    SetTextColor(dc, LookColour(kLabelColour, COLOR_WINDOWTEXT));
    UINT previousAlign = SetTextAlign(dc, TA_LEFT | TA_TOP);
    DrawTextW(dc, panelStrings.notice, -1, &box,
              DT_CENTER | DT_WORDBREAK | DT_NOPREFIX | DT_END_ELLIPSIS | (IsRightToLeftUi() ? DT_RTLREADING : 0));
    SetTextAlign(dc, previousAlign);
}

void OnPaint(HWND window)
{
    ScopedPaint paint(window);
    HDC dc = paint.Get();
    ModePanelLayout& layout = modePanelLayout;
    const UINT dpi = layout.dpi;
    {
        Gdiplus::Graphics graphics(dc);
        SetPictureQuality(graphics, dpi);
        const RECT& background = layout.background;
        DrawImageInto(graphics, PictureFor(PanelBackground, dpi), background.left, background.top,
                      background.right - background.left, background.bottom - background.top);
        const bool on = modePanelState.shownMode == On;
        const bool enforced = ModeIsEnforced();
        const int radio = ScaleForDpi(16, dpi);
        DrawImageInto(graphics, PictureFor(on ? RadioSelected : RadioUnselected, dpi), layout.onRadio.left,
                      layout.onRadio.top, radio, radio, enforced);
        DrawImageInto(graphics, PictureFor(on ? RadioUnselected : RadioSelected, dpi), layout.offRadio.left,
                      layout.offRadio.top, radio, radio, enforced);
        FillInSystemColours(dc, background);
        DrawModePanelRadiosInSystemColours(dc);

        UINT previousAlign = SetTextAlign(dc, IsRightToLeftUi() ? TA_CENTER | TA_RTLREADING : TA_CENTER);
        SetBkMode(dc, TRANSPARENT);
        {
            ScopedSelection selection(dc, panelFonts.labels.Get());
            SetTextColor(dc, enforced ? LookColour(kDisabledLabelColour, COLOR_GRAYTEXT)
                                      : LookColour(kLabelColour, COLOR_WINDOWTEXT));
            TextOutW(dc, layout.onAnchor.x, layout.onAnchor.y, panelStrings.on, lstrlenW(panelStrings.on));
            TextOutW(dc, layout.offAnchor.x, layout.offAnchor.y, panelStrings.off, lstrlenW(panelStrings.off));
        }
        {
            ScopedSelection selection(dc, panelFonts.link.Get());
            const int width = background.right - background.left;
            const int textWidth = TextWidth(dc, panelStrings.about);
            layout.link.left = width / 2 - textWidth / 2;
            layout.link.right = width / 2 + textWidth / 2;
        }
        DrawLink(dc);
        SetTextAlign(dc, previousAlign);
        DrawNotice(dc);
        DrawFocusCue(dc, modePanelAccess, dpi);
    }
    // Applied only once the new choice is on screen.
    PostMessageW(window, WM_PANELAPPLYMODE, 0, 0);
}

void OnApplyMode(HWND window)
{
    if (modePanelState.shownMode == GetKelvaneMode() || ModeIsEnforced())
        return;
    FirmwareLock lock(LogFirmwareLock);
    if (SetKelvaneMode(modePanelState.shownMode)) {
        SetProfile();
        ChangeNotificationTip(app.controllerWindow);
    } else {
        modePanelState.shownMode = GetKelvaneMode();
        InvalidateRadios(window);
    }
}

void StopAutoClose(HWND window)
{
    if (modePanelState.autoCloseArmed) {
        KillTimer(window, kAutoCloseTimer);
        modePanelState.autoCloseArmed = false;
    }
}

void OnLeftButtonDown(HWND window, int x, int y)
{
    StopAutoClose(window);
    const ModePanelLayout& layout = modePanelLayout;
    if (Contains(layout.onRadio, x, y)) {
        modePanelState.pressTarget = PanelOnRadio;
    } else if (Contains(layout.offRadio, x, y)) {
        modePanelState.pressTarget = PanelOffRadio;
    } else if (Contains(layout.link, x, y)) {
        modePanelState.linkLook = Pressed;
        modePanelState.pressTarget = PanelLink;
        InvalidateRect(window, &layout.link, FALSE);
    } else {
        modePanelState.pressTarget = PanelNothing;
    }
}

void ShowModeIfNew(HWND window, KelvaneMode mode)
{
    if (GetKelvaneMode() != mode && !ModeIsEnforced()) {
        modePanelState.shownMode = mode;
        InvalidateRadios(window);
    }
}

void OnLeftButtonUp(HWND window, int x, int y)
{
    const ModePanelLayout& layout = modePanelLayout;
    ModePanelState& state = modePanelState;
    if (Contains(layout.onRadio, x, y)) {
        if (state.pressTarget == PanelOnRadio) {
            state.pressTarget = PanelNothing;
            ShowModeIfNew(window, On);
        }
    } else if (Contains(layout.offRadio, x, y)) {
        if (state.pressTarget == PanelOffRadio) {
            state.pressTarget = PanelNothing;
            ShowModeIfNew(window, Off);
        }
    } else if (Contains(layout.link, x, y)) {
        if (state.pressTarget == PanelLink) {
            state.pressTarget = PanelNothing;
            state.linkLook = Normal;
            InvalidateRect(window, &layout.link, FALSE);
            ShowAboutWindow(app.controllerWindow);
        }
    } else {
        state.pressTarget = PanelNothing;
    }
}

// Tab and Shift+Tab go between the radio group, entered at the shown
// mode's radio, and the link; the arrows between the radios; Space and
// Enter do what a click does.
void OnKeyDown(HWND window, WPARAM key)
{
    StopAutoClose(window);
    ShowFocusCue(window, modePanelAccess);
    const int focus = panelAccessState.focus;
    const bool onRadio = focus == PanelOnElement || focus == PanelOffElement;
    switch (key) {
    case VK_TAB:
        MoveKeyboardFocus(window, modePanelAccess, onRadio ? PanelLinkElement : RadioOf(modePanelState.shownMode));
        break;
    case VK_LEFT:
    case VK_RIGHT:
    case VK_UP:
    case VK_DOWN:
        if (onRadio)
            MoveKeyboardFocus(window, modePanelAccess, focus == PanelOnElement ? PanelOffElement : PanelOnElement);
        break;
    case VK_SPACE:
    case VK_RETURN:
        ActivatePanelElement(window, focus);
        break;
    }
}

// The panel's own handle goes with the request: a request that arrives
// after this panel is gone must not close the next one.
void AskOwnerToClose(HWND window)
{
    PostMessageW(GetParent(window), WM_PANELCLOSED, reinterpret_cast<WPARAM>(window), 0);
}

} // namespace

void ActivatePanelElement(HWND window, int element)
{
    if (element == PanelOnElement)
        ShowModeIfNew(window, On);
    else if (element == PanelOffElement)
        ShowModeIfNew(window, Off);
    else if (element == PanelLinkElement)
        ShowAboutWindow(app.controllerWindow);
}

void ShowCurrentMode(HWND window)
{
    modePanelState.shownMode = GetKelvaneMode();
    InvalidateRadios(window);
}

void ShowPolicyChange(HWND window)
{
    modePanelState.shownMode = GetKelvaneMode();
    LayOutPanel(window, modePanelLayout.dpi, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    PlaceNearNotificationIcon(app.controllerWindow, window);
    InvalidateRect(window, nullptr, TRUE);
    NotifyElementState(window, PanelOnElement);
    NotifyElementState(window, PanelOffElement);
    NotifyElementState(window, PanelNoticeElement);
}

ModePanelLayout WithNoticeLine(const ModePanelLayout& base)
{
    // Two lines of the 12 px font between the radios and the link.
    constexpr int kNoticeHeight = 30;
    ModePanelLayout layout = base;
    layout.notice = {6, base.link.top - 6, base.width - 6, base.link.top - 6 + kNoticeHeight};
    layout.aboutAnchor.y += kNoticeHeight;
    layout.link.top += kNoticeHeight;
    layout.link.bottom += kNoticeHeight;
    layout.height += kNoticeHeight;
    layout.background.bottom += kNoticeHeight;
    return layout;
}

void ComputeModePanelLayout(int widestLabel, ModePanelLayout& layout)
{
    if (widestLabel + 14 <= 50)
        return;
    int width = 2 * widestLabel + 56;
    int height;
    if (width <= 150) {
        width = 150;
        height = 130;
    } else {
        height = static_cast<int>(static_cast<float>(width) * 0.8666667f);
    }
    const int half = width / 2;
    const int quarter = half / 2;
    const int xOn = quarter + 7;
    const int xOff = width - quarter - 7;
    const int e = height / 5;

    layout.width = width;
    layout.height = height;
    layout.onAnchor = {xOn, 2 * e - 8};
    layout.offAnchor = {xOff, 2 * e - 8};
    layout.onRadio = {xOn - 8, 3 * e - 8, xOn + 8, 3 * e + 8};
    layout.offRadio = {xOff - 8, 3 * e - 8, xOff + 8, 3 * e + 8};
    layout.aboutAnchor = {half, 4 * e - 2};
    layout.link.top = 4 * e - 2;
    layout.link.bottom = 4 * e + 14;
    layout.background = {0, 0, width, height};
}

ModePanelLayout ScaleModePanelLayout(const ModePanelLayout& base, UINT dpi)
{
    ModePanelLayout scaled;
    scaled.width = ScaleForDpi(base.width, dpi);
    scaled.height = ScaleForDpi(base.height, dpi);
    scaled.onAnchor = ScaleForDpi(base.onAnchor, dpi);
    scaled.offAnchor = ScaleForDpi(base.offAnchor, dpi);
    scaled.onRadio = ScaleForDpi(base.onRadio, dpi);
    scaled.offRadio = ScaleForDpi(base.offRadio, dpi);
    scaled.aboutAnchor = ScaleForDpi(base.aboutAnchor, dpi);
    scaled.link = ScaleForDpi(base.link, dpi);
    scaled.background = ScaleForDpi(base.background, dpi);
    scaled.notice = ScaleForDpi(base.notice, dpi);
    scaled.dpi = dpi;
    return scaled;
}

HWND CreateModePanel(HWND owner)
{
    RECT frame = {0, 0, 150, 130};
    AdjustWindowRectEx(&frame, kPanelStyle, FALSE, kPanelExStyle);
    return CreateWindowExW(kPanelExStyle, kModePanelClass, nullptr, kPanelStyle, CW_USEDEFAULT, 0,
                           frame.right - frame.left, frame.bottom - frame.top, owner, nullptr, app.instance, nullptr);
}

void CloseModePanel(HWND owner)
{
    DestroyWindow(app.modePanelWindow);
    SetTimer(owner, PANEL_GUARD_TIMER, GetDoubleClickTime(), nullptr);
}

void PlaceNearNotificationIcon(HWND iconOwner, HWND window)
{
    auto getIconRect = FindSystemFunction<GetIconRect>(L"shell32.dll", "Shell_NotifyIconGetRect");
    NOTIFYICONIDENTIFIER icon = {};
    icon.cbSize = sizeof(icon);
    icon.hWnd = iconOwner;
    icon.uID = 0;
    RECT iconRect;
    if (!getIconRect || FAILED(getIconRect(&icon, &iconRect)))
        return;

    POINT anchor = {(iconRect.left + iconRect.right) / 2, (iconRect.top + iconRect.bottom) / 2};
    RECT windowRect;
    GetWindowRect(window, &windowRect);
    SIZE size = {windowRect.right - windowRect.left, windowRect.bottom - windowRect.top};

    auto calculate = FindSystemFunction<CalculatePosition>(L"user32.dll", "CalculatePopupWindowPosition");
    RECT placed;
    if (calculate &&
        calculate(&anchor, &size, TPM_CENTERALIGN | TPM_VCENTERALIGN | TPM_VERTICAL | TPM_WORKAREA, &iconRect, &placed))
        SetWindowPos(window, HWND_TOPMOST, placed.left, placed.top, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
}

LRESULT CALLBACK ModePanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        OnCreate(window);
        return 0;

    case WM_PAINT:
        OnPaint(window);
        return 0;

    case WM_PANELAPPLYMODE:
        OnApplyMode(window);
        return 0;

    case WM_MODESETOUTSIDE:
        ShowCurrentMode(window);
        return 0;

    case WM_POLICYCHANGED:
        ShowPolicyChange(window);
        return 0;

    case WM_KEYDOWN:
        if (wParam == VK_ESCAPE)
            DestroyWindow(window);
        else
            OnKeyDown(window, wParam);
        return 0;

    case WM_SYSKEYDOWN:
        StopAutoClose(window);
        break;

    case WM_ACTIVATEELEMENT:
        StopAutoClose(window);
        ActivatePanelElement(window, static_cast<int>(wParam));
        return 0;

    case WM_GETOBJECT:
        return AnswerGetObject(window, modePanelAccess, wParam, lParam);

    case WM_SETTINGCHANGE:
    case WM_SYSCOLORCHANGE:
        InvalidateRect(window, nullptr, TRUE);
        break;

    case WM_NCDESTROY:
        EndAccess(modePanelAccess);
        DeletePanelFonts();
        break;

    case WM_TIMER:
        if (wParam == kAutoCloseTimer) {
            KillTimer(window, kAutoCloseTimer);
            AskOwnerToClose(window);
        }
        break;

    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE)
            AskOwnerToClose(window);
        break;

    case WM_MOUSEMOVE:
        SetButtonLook(window, modePanelState.linkLook,
                      Contains(modePanelLayout.link, LOWORD(lParam), HIWORD(lParam)) ? Hover : Normal,
                      modePanelLayout.link);
        return 0;

    case WM_LBUTTONDOWN:
        OnLeftButtonDown(window, LOWORD(lParam), HIWORD(lParam));
        FocusPressedElement(window, modePanelAccess, PanelElementOf(modePanelState.pressTarget));
        return 0;

    case WM_LBUTTONUP:
        OnLeftButtonUp(window, LOWORD(lParam), HIWORD(lParam));
        return 0;

    case WM_RBUTTONDOWN:
        StopAutoClose(window);
        return 0;

    case WM_DPICHANGED:
        OnDpiChanged(window, HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
