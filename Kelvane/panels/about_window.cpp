#include "about_window.h"

#include <windowsx.h>

#include "app_state.h"
#include "high_contrast.h"
#include "panel_accessible.h"
#include "resource_ids.h"
#include "scoped_gdi.h"
#include "settings_file.h"

AboutState aboutState = {AboutNothing, Normal, Normal, {0, 0}};
const AboutLayout kDefaultAboutLayout = {
    {540, 12, 552, 24}, {536, 8, 556, 28}, {514, 12, 526, 24}, {510, 8, 530, 28}, {302, 427, 320, 445},
    {40, 62, 532, 82}, {40, 86, 532, 175}, {145, 193, 532, 299}, {145, 317, 532, 423},
};
AboutLayout aboutLayout = kDefaultAboutLayout;

namespace {

constexpr COLORREF kTitleColour = RGB(255, 255, 255);
constexpr COLORREF kHeadingColour = RGB(242, 242, 242);
constexpr COLORREF kSectionColour = RGB(220, 220, 220);
constexpr COLORREF kFootColour = RGB(200, 200, 200);

struct AboutStrings {
    wchar_t title[100];
    wchar_t description[500];
    wchar_t onHeading[20];
    wchar_t onText[500];
    wchar_t offHeading[20];
    wchar_t offText[500];
    wchar_t startupLabel[100];
    wchar_t version[100];
};
AboutStrings aboutStrings;

void LoadAboutStrings()
{
    struct Entry {
        UINT id;
        wchar_t* buffer;
        int capacity;
    };
    AboutStrings& s = aboutStrings;
    const Entry entries[] = {
        {IDS_ABOUT_TITLE, s.title, ARRAYSIZE(s.title)},
        {IDS_ABOUT_DESCRIPTION, s.description, ARRAYSIZE(s.description)},
        {IDS_MODE_ON, s.onHeading, ARRAYSIZE(s.onHeading)},
        {IDS_ABOUT_ON_TEXT, s.onText, ARRAYSIZE(s.onText)},
        {IDS_MODE_OFF, s.offHeading, ARRAYSIZE(s.offHeading)},
        {IDS_ABOUT_OFF_TEXT, s.offText, ARRAYSIZE(s.offText)},
        {IDS_SHOW_AT_STARTUP, s.startupLabel, ARRAYSIZE(s.startupLabel)},
        {IDS_VERSION, s.version, ARRAYSIZE(s.version)},
    };
    for (const Entry& entry : entries)
        LoadStringW(app.instance, entry.id, entry.buffer, entry.capacity);
}

int AboutElementOf(int pressTarget)
{
    switch (pressTarget) {
    case AboutClose:
        return AboutCloseElement;
    case AboutMinimize:
        return AboutMinimizeElement;
    case AboutCheckBox:
        return AboutCheckBoxElement;
    }
    return 0;
}

void OnCreate(HWND window)
{
    LoadAboutStrings();
    app.aboutWindow = window;

    // Round top corners; the bottom ones stay square, the top pixel row is
    // left outside.
    RECT frame;
    GetWindowRect(window, &frame);
    const int w = frame.right - frame.left;
    const int h = frame.bottom - frame.top;
    HRGN region = CreateRoundRectRgn(0, 1, w, h + 1, 12, 12);
    ScopedRegion square(CreateRoundRectRgn(0, 12, w, h, 0, 0));
    CombineRgn(region, region, square.Get(), RGN_OR);
    SetWindowRgn(window, region, TRUE);

    if (IsRightToLeftUi()) {
        aboutLayout.close = {20, 12, 32, 24};
        aboutLayout.minimize = {46, 12, 58, 24};
    }
    aboutLayout.closeHit = Grown(aboutLayout.close, 4);
    aboutLayout.minimizeHit = Grown(aboutLayout.minimize, 4);
    ResetKeyboardFocus(window, aboutAccess, 0);
}

void DrawLine(HDC dc, int x, int y, const wchar_t* text)
{
    TextOutW(dc, x, y, text, lstrlenW(text));
}

void DrawParagraph(HDC dc, RECT box, const wchar_t* text, UINT format)
{
    DrawTextW(dc, text, -1, &box, format);
}

void OnPaint(HWND window)
{
    ScopedPaint paint(window);
    HDC dc = paint.Get();
    const bool rtl = IsRightToLeftUi();
    const UINT lineAlign = rtl ? TA_RIGHT | TA_RTLREADING : TA_LEFT | TA_TOP;
    const UINT paragraph = rtl ? DT_WORDBREAK | DT_RIGHT | DT_RTLREADING : DT_WORDBREAK;
    const AboutStrings& s = aboutStrings;
    AboutLayout& layout = aboutLayout;

    Gdiplus::Graphics graphics(dc);
    DrawImageInto(graphics, app.images[AboutBackground], 0, 0, kAboutWidth, kAboutHeight);
    const ImageRole closeImages[] = {CloseNormal, CloseHover, ClosePressed};
    const ImageRole minimizeImages[] = {MinimizeNormal, MinimizeHover, MinimizePressed};
    DrawImageInto(graphics, app.images[closeImages[aboutState.closeLook]], layout.close.left, layout.close.top, 12,
                  12);
    DrawImageInto(graphics, app.images[minimizeImages[aboutState.minimizeLook]], layout.minimize.left,
                  layout.minimize.top + 8, 12, 4);

    FillInSystemColours(dc, {0, 0, kAboutWidth, kAboutHeight});
    SetBkMode(dc, TRANSPARENT);
    {
        ScopedFont font(CreateUiFont(20, FW_BOLD, FALSE));
        ScopedSelection selection(dc, font.Get());
        SetTextColor(dc, LookColour(kTitleColour, COLOR_WINDOWTEXT));
        SetTextAlign(dc, lineAlign);
        DrawLine(dc, rtl ? layout.title.right : layout.title.left, layout.title.top, s.title);
    }
    {
        ScopedFont font(CreateUiFont(16, FW_NORMAL, FALSE));
        ScopedSelection selection(dc, font.Get());
        SetTextColor(dc, LookColour(kHeadingColour, COLOR_WINDOWTEXT));
        SetTextAlign(dc, TA_LEFT | TA_TOP);
        DrawParagraph(dc, layout.description, s.description, paragraph);
    }
    {
        ScopedFont font(CreateUiFont(16, FW_BOLD, FALSE));
        ScopedSelection selection(dc, font.Get());
        SetTextColor(dc, LookColour(kHeadingColour, COLOR_WINDOWTEXT));
        SetTextAlign(dc, lineAlign);
        DrawLine(dc, rtl ? 532 : 145, 175, s.onHeading);
        DrawLine(dc, rtl ? 532 : 145, 299, s.offHeading);
    }
    {
        ScopedFont font(CreateUiFont(14, FW_NORMAL, FALSE));
        ScopedSelection selection(dc, font.Get());
        SetTextColor(dc, LookColour(kSectionColour, COLOR_WINDOWTEXT));
        SetTextAlign(dc, TA_LEFT | TA_TOP);
        DrawParagraph(dc, layout.onText, s.onText, paragraph);
        DrawParagraph(dc, layout.offText, s.offText, paragraph);
    }
    int labelWidth;
    {
        ScopedFont font(CreateUiFont(16, FW_NORMAL, FALSE));
        ScopedSelection selection(dc, font.Get());
        SetTextColor(dc, LookColour(kFootColour, COLOR_WINDOWTEXT));
        SIZE size = {};
        GetTextExtentPoint32W(dc, s.startupLabel, lstrlenW(s.startupLabel), &size);
        labelWidth = size.cx;
        SetTextAlign(dc, rtl ? TA_RIGHT | TA_RTLREADING : TA_LEFT | TA_TOP);
        DrawLine(dc, rtl ? labelWidth + 40 : 532 - labelWidth, 430, s.startupLabel);
        DrawLine(dc, rtl ? 522 : 50, 430, s.version);
    }

    layout.checkBox.left = rtl ? labelWidth + 50 : 532 - labelWidth - 28;
    layout.checkBox.right = layout.checkBox.left + 18;
    DrawImageInto(graphics, app.images[app.showAtStartup ? CheckBoxChecked : CheckBoxUnchecked], layout.checkBox.left,
                  427, 18, 18);
    DrawAboutControlsInSystemColours(dc);
    DrawFocusCue(dc, aboutAccess);
}

// Sets a button's look and repaints it if the look changed.
void SetLook(HWND window, ButtonLook& look, ButtonLook value, const RECT& rect)
{
    if (look != value) {
        look = value;
        InvalidateRect(window, &rect, FALSE);
    }
}

void OnLeftButtonDown(HWND window, int x, int y)
{
    AboutState& state = aboutState;
    const AboutLayout& layout = aboutLayout;
    if (Contains(layout.closeHit, x, y)) {
        state.pressTarget = AboutClose;
        SetLook(window, state.closeLook, Pressed, layout.close);
    } else if (Contains(layout.minimizeHit, x, y)) {
        state.pressTarget = AboutMinimize;
        SetLook(window, state.minimizeLook, Pressed, layout.minimize);
    } else if (Contains(layout.checkBox, x, y)) {
        state.pressTarget = AboutCheckBox;
    } else {
        state.pressTarget = AboutDrag;
        state.dragAnchor = {x, y};
        SetCapture(window);
    }
}

// The look a button takes under the pointer: Hover when nothing is held,
// Pressed when it is the one held, unchanged while another is held.
void HoverLook(HWND window, ButtonLook& look, int target, const RECT& rect)
{
    if (aboutState.pressTarget == AboutNothing)
        SetLook(window, look, Hover, rect);
    else if (aboutState.pressTarget == target)
        SetLook(window, look, Pressed, rect);
}

void OnMouseMove(HWND window, int x, int y)
{
    AboutState& state = aboutState;
    const AboutLayout& layout = aboutLayout;
    if (state.pressTarget == AboutDrag) {
        RECT frame;
        GetWindowRect(window, &frame);
        MoveWindow(window, frame.left + x - state.dragAnchor.x, frame.top + y - state.dragAnchor.y,
                   frame.right - frame.left, frame.bottom - frame.top, TRUE);
        return;
    }
    if (Contains(layout.closeHit, x, y)) {
        HoverLook(window, state.closeLook, AboutClose, layout.close);
        return;
    }
    SetLook(window, state.closeLook, Normal, layout.close);
    if (Contains(layout.minimizeHit, x, y))
        HoverLook(window, state.minimizeLook, AboutMinimize, layout.minimize);
    else
        SetLook(window, state.minimizeLook, Normal, layout.minimize);
}

void ToggleStartupCheckBox(HWND window)
{
    app.showAtStartup = app.showAtStartup ? 0 : 1;
    SetProfile();
    InvalidateRect(window, &aboutLayout.checkBox, FALSE);
    NotifyElementState(window, AboutCheckBoxElement);
}

void OnLeftButtonUp(HWND window, int x, int y)
{
    AboutState& state = aboutState;
    const AboutLayout& layout = aboutLayout;
    if (Contains(layout.closeHit, x, y)) {
        if (state.pressTarget == AboutClose) {
            state.pressTarget = AboutNothing;
            state.closeLook = Normal;
            DestroyWindow(window);
        }
    } else if (Contains(layout.minimizeHit, x, y)) {
        if (state.pressTarget == AboutMinimize) {
            state.pressTarget = AboutNothing;
            state.minimizeLook = Normal;
            ShowWindow(window, SW_MINIMIZE);
        }
    } else if (Contains(layout.checkBox, x, y)) {
        if (state.pressTarget == AboutCheckBox) {
            state.pressTarget = AboutNothing;
            ToggleStartupCheckBox(window);
        }
    } else {
        if (state.pressTarget == AboutDrag) {
            ReleaseCapture();
            InvalidateRect(window, nullptr, TRUE);
        }
        state.pressTarget = AboutNothing;
    }
}

// Tab order: the check box, the minimize button, the close button, round
// again; Space does what a click does, and Enter on a button too.
void OnKeyDown(HWND window, WPARAM key)
{
    const int order[] = {AboutCheckBoxElement, AboutMinimizeElement, AboutCloseElement};
    const int stops = ARRAYSIZE(order);
    const int focus = aboutAccessState.focus;
    int at = -1;
    for (int i = 0; i < stops; ++i)
        if (order[i] == focus)
            at = i;
    ShowFocusCue(window, aboutAccess);
    if (key == VK_TAB) {
        const bool back = GetKeyState(VK_SHIFT) < 0;
        const int next = at < 0 ? (back ? stops - 1 : 0) : (at + (back ? stops - 1 : 1)) % stops;
        MoveKeyboardFocus(window, aboutAccess, order[next]);
    } else if (key == VK_SPACE || (key == VK_RETURN && focus != AboutCheckBoxElement)) {
        ActivateAboutElement(window, focus);
    }
}

} // namespace

void ActivateAboutElement(HWND window, int element)
{
    switch (element) {
    case AboutCheckBoxElement:
        ToggleStartupCheckBox(window);
        break;
    case AboutMinimizeElement:
        aboutState.minimizeLook = Normal;
        ShowWindow(window, SW_MINIMIZE);
        break;
    case AboutCloseElement:
        aboutState.closeLook = Normal;
        DestroyWindow(window);
        break;
    }
}

void ShowAboutWindow(HWND owner)
{
    if (app.aboutWindow) {
        ShowWindow(app.aboutWindow, SW_RESTORE);
        return;
    }

    RECT frame = {0, 0, kAboutWidth, kAboutHeight};
    AdjustWindowRectEx(&frame, WS_POPUP, FALSE, WS_EX_TOOLWINDOW);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;

    // Centred in the work area, wherever the taskbar has put it.
    RECT workArea;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0);
    const int offsetX = (workArea.right - workArea.left - width) / 2;
    const int offsetY = (workArea.bottom - workArea.top - height) / 2;
    const int x = workArea.left + (offsetX < 0 ? 0 : offsetX);
    const int y = workArea.top + (offsetY < 0 ? 0 : offsetY);

    wchar_t title[100] = L"";
    LoadStringW(app.instance, IDS_APP_TITLE, title, ARRAYSIZE(title));
    HWND window = CreateWindowExW(WS_EX_APPWINDOW, kAboutClass, title, WS_POPUP, x, y, width, height, owner, nullptr,
                                  app.instance, nullptr);
    if (window)
        ShowWindow(window, SW_SHOWNORMAL);
}

LRESULT CALLBACK AboutWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        OnCreate(window);
        return 0;

    case WM_DESTROY:
        app.aboutWindow = nullptr;
        return 0;

    case WM_NCDESTROY:
        EndAccess(aboutAccess);
        break;

    case WM_PAINT:
        OnPaint(window);
        return 0;

    case WM_ERASEBKGND:
        return 0;

    case WM_KEYDOWN:
        if (wParam == VK_ESCAPE)
            DestroyWindow(window);
        else
            OnKeyDown(window, wParam);
        return 0;

    case WM_ACTIVATEELEMENT:
        ActivateAboutElement(window, static_cast<int>(wParam));
        return 0;

    case WM_GETOBJECT:
        return AnswerGetObject(window, aboutAccess, wParam, lParam);

    case WM_SETTINGCHANGE:
    case WM_SYSCOLORCHANGE:
        InvalidateRect(window, nullptr, FALSE);
        break;

    // Button presses read the coordinates unsigned, moves signed: a captured
    // drag may leave the window.
    case WM_LBUTTONDOWN:
        OnLeftButtonDown(window, LOWORD(lParam), HIWORD(lParam));
        FocusPressedElement(window, aboutAccess, AboutElementOf(aboutState.pressTarget));
        return 0;

    case WM_LBUTTONUP:
        OnLeftButtonUp(window, LOWORD(lParam), HIWORD(lParam));
        return 0;

    case WM_MOUSEMOVE:
        OnMouseMove(window, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return 0;

    case WM_STARTUPFLAGCHANGED:
        InvalidateRect(window, &aboutLayout.checkBox, FALSE);
        NotifyElementState(window, AboutCheckBoxElement);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
