#include "about_window.h"

#include <windowsx.h>

#include "app_state.h"
#include "dpi.h"
#include "high_contrast.h"
#include "panel_accessible.h"
#include "resource_ids.h"
#include "scoped_gdi.h"
#include "settings_file.h"

AboutState aboutState = {AboutNothing, Normal, Normal, {0, 0}};
const AboutLayout kDefaultAboutLayout = {
    {540, 12, 552, 24}, {536, 8, 556, 28}, {514, 12, 526, 24}, {510, 8, 530, 28}, {302, 427, 320, 445}, kBaseDpi,
    {40, 62, 532, 82}, {40, 86, 532, 175}, {145, 193, 532, 299}, {145, 317, 532, 423},
};
AboutLayout aboutLayout = kDefaultAboutLayout;

namespace {

constexpr COLORREF kTitleColour = RGB(255, 255, 255);
constexpr COLORREF kHeadingColour = RGB(242, 242, 242);
constexpr COLORREF kSectionColour = RGB(220, 220, 220);
constexpr COLORREF kFootColour = RGB(200, 200, 200);

// The buttons in each reading direction and the check box before its first
// paint, at 96 DPI.
constexpr RECT kCloseLeftToRight = {540, 12, 552, 24};
constexpr RECT kMinimizeLeftToRight = {514, 12, 526, 24};
constexpr RECT kCloseRightToLeft = {20, 12, 32, 24};
constexpr RECT kMinimizeRightToLeft = {46, 12, 58, 24};
constexpr RECT kFirstCheckBox = {302, 427, 320, 445};

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

// Region and layout for dpi, to the window's size as it stands.
void LayOutAbout(HWND window, UINT dpi)
{
    // Round top corners; the bottom ones stay square, the top pixel row is
    // left outside.
    RECT frame;
    GetWindowRect(window, &frame);
    const int w = frame.right - frame.left;
    const int h = frame.bottom - frame.top;
    const int top = ScaleForDpi(1, dpi);
    const int corner = ScaleForDpi(12, dpi);
    HRGN region = CreateRoundRectRgn(0, top, w, h + top, corner, corner);
    ScopedRegion square(CreateRoundRectRgn(0, corner, w, h, 0, 0));
    CombineRgn(region, region, square.Get(), RGN_OR);
    SetWindowRgn(window, region, TRUE);

    const bool rtl = IsRightToLeftUi();
    const RECT& close = rtl ? kCloseRightToLeft : kCloseLeftToRight;
    const RECT& minimize = rtl ? kMinimizeRightToLeft : kMinimizeLeftToRight;
    aboutLayout.close = ScaleForDpi(close, dpi);
    aboutLayout.closeHit = ScaleForDpi(Grown(close, 4), dpi);
    aboutLayout.minimize = ScaleForDpi(minimize, dpi);
    aboutLayout.minimizeHit = ScaleForDpi(Grown(minimize, 4), dpi);
    aboutLayout.checkBox = ScaleForDpi(kFirstCheckBox, dpi);
    aboutLayout.title = ScaleForDpi(kDefaultAboutLayout.title, dpi);
    aboutLayout.description = ScaleForDpi(kDefaultAboutLayout.description, dpi);
    aboutLayout.onText = ScaleForDpi(kDefaultAboutLayout.onText, dpi);
    aboutLayout.offText = ScaleForDpi(kDefaultAboutLayout.offText, dpi);
    aboutLayout.dpi = dpi;
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
    // Nothing of an earlier window's mouse state carries over.
    aboutState = {AboutNothing, Normal, Normal, {0, 0}};
    LayOutAbout(window, DpiForWindow(window));
    ResetKeyboardFocus(window, aboutAccess, 0);
}

// Moved to a display of another scale, or the scale changed: the window
// takes the size the system suggests and lays itself out again.
void OnDpiChanged(HWND window, UINT dpi, const RECT& suggested)
{
    SetWindowPos(window, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    LayOutAbout(window, dpi);
    InvalidateRect(window, nullptr, FALSE);
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
    // Every figure below is at 96 DPI and drawn scaled.
    const UINT dpi = layout.dpi;
    auto S = [dpi](int value) { return ScaleForDpi(value, dpi); };

    // The whole client area: after a DPI change the window takes the
    // system's suggested size, which may differ from the scaled one by a few
    // pixels, and the background is never erased.
    RECT client;
    GetClientRect(window, &client);
    Gdiplus::Graphics graphics(dc);
    SetPictureQuality(graphics, dpi);
    DrawImageInto(graphics, PictureFor(AboutBackground, dpi), 0, 0, client.right, client.bottom);
    const ImageRole closeImages[] = {CloseNormal, CloseHover, ClosePressed};
    const ImageRole minimizeImages[] = {MinimizeNormal, MinimizeHover, MinimizePressed};
    DrawImageInto(graphics, PictureFor(closeImages[aboutState.closeLook], dpi), layout.close.left, layout.close.top,
                  layout.close.right - layout.close.left, layout.close.bottom - layout.close.top);
    // The 12 x 4 bar fills the bottom of the minimize rectangle, 8 px down.
    const RECT& minimize = layout.minimize;
    const int barTop = minimize.top + S(8);
    DrawImageInto(graphics, PictureFor(minimizeImages[aboutState.minimizeLook], dpi), minimize.left, barTop,
                  minimize.right - minimize.left, minimize.bottom - barTop);

    FillInSystemColours(dc, client);
    SetBkMode(dc, TRANSPARENT);
    {
        ScopedFont font(CreateUiFont(S(20), FW_BOLD, FALSE));
        ScopedSelection selection(dc, font.Get());
        SetTextColor(dc, LookColour(kTitleColour, COLOR_WINDOWTEXT));
        SetTextAlign(dc, lineAlign);
        DrawLine(dc, rtl ? layout.title.right : layout.title.left, layout.title.top, s.title);
    }
    {
        ScopedFont font(CreateUiFont(S(16), FW_NORMAL, FALSE));
        ScopedSelection selection(dc, font.Get());
        SetTextColor(dc, LookColour(kHeadingColour, COLOR_WINDOWTEXT));
        SetTextAlign(dc, TA_LEFT | TA_TOP);
        DrawParagraph(dc, layout.description, s.description, paragraph);
    }
    {
        ScopedFont font(CreateUiFont(S(16), FW_BOLD, FALSE));
        ScopedSelection selection(dc, font.Get());
        SetTextColor(dc, LookColour(kHeadingColour, COLOR_WINDOWTEXT));
        SetTextAlign(dc, lineAlign);
        DrawLine(dc, S(rtl ? 532 : 145), S(175), s.onHeading);
        DrawLine(dc, S(rtl ? 532 : 145), S(299), s.offHeading);
    }
    {
        ScopedFont font(CreateUiFont(S(14), FW_NORMAL, FALSE));
        ScopedSelection selection(dc, font.Get());
        SetTextColor(dc, LookColour(kSectionColour, COLOR_WINDOWTEXT));
        SetTextAlign(dc, TA_LEFT | TA_TOP);
        DrawParagraph(dc, layout.onText, s.onText, paragraph);
        DrawParagraph(dc, layout.offText, s.offText, paragraph);
    }
    int labelWidth;
    {
        ScopedFont font(CreateUiFont(S(16), FW_NORMAL, FALSE));
        ScopedSelection selection(dc, font.Get());
        SetTextColor(dc, LookColour(kFootColour, COLOR_WINDOWTEXT));
        labelWidth = TextWidth(dc, s.startupLabel);
        SetTextAlign(dc, rtl ? TA_RIGHT | TA_RTLREADING : TA_LEFT | TA_TOP);
        DrawLine(dc, rtl ? labelWidth + S(40) : S(532) - labelWidth, S(430), s.startupLabel);
        DrawLine(dc, S(rtl ? 522 : 50), S(430), s.version);
    }

    // 10 px between label and box in either direction.
    layout.checkBox.left = rtl ? labelWidth + S(50) : S(532) - labelWidth - S(28);
    layout.checkBox.right = layout.checkBox.left + S(18);
    DrawImageInto(graphics, PictureFor(ShowsIconAtStartup() ? CheckBoxChecked : CheckBoxUnchecked, dpi),
                  layout.checkBox.left, layout.checkBox.top, S(18), layout.checkBox.bottom - layout.checkBox.top,
                  app.policy.showIconSet);
    DrawAboutControlsInSystemColours(dc);
    DrawFocusCue(dc, aboutAccess, dpi);
}

void OnLeftButtonDown(HWND window, int x, int y)
{
    AboutState& state = aboutState;
    const AboutLayout& layout = aboutLayout;
    if (Contains(layout.closeHit, x, y)) {
        state.pressTarget = AboutClose;
        SetButtonLook(window, state.closeLook, Pressed, layout.close);
    } else if (Contains(layout.minimizeHit, x, y)) {
        state.pressTarget = AboutMinimize;
        SetButtonLook(window, state.minimizeLook, Pressed, layout.minimize);
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
        SetButtonLook(window, look, Hover, rect);
    else if (aboutState.pressTarget == target)
        SetButtonLook(window, look, Pressed, rect);
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
    SetButtonLook(window, state.closeLook, Normal, layout.close);
    if (Contains(layout.minimizeHit, x, y))
        HoverLook(window, state.minimizeLook, AboutMinimize, layout.minimize);
    else
        SetButtonLook(window, state.minimizeLook, Normal, layout.minimize);
}

// Ends a drag: on the button's release wherever it lands, and when the
// capture goes elsewhere (another window took it, Alt+Tab, Escape).
void EndDrag(HWND window)
{
    if (aboutState.pressTarget != AboutDrag)
        return;
    aboutState.pressTarget = AboutNothing;
    if (GetCapture() == window)
        ReleaseCapture();
    InvalidateRect(window, nullptr, TRUE);
}

void ToggleStartupCheckBox(HWND window)
{
    // Under a ShowIcon policy the box shows the enforced choice and stays.
    if (app.policy.showIconSet)
        return;
    app.showAtStartup = app.showAtStartup ? 0 : 1;
    SetProfile();
    InvalidateRect(window, &aboutLayout.checkBox, FALSE);
    NotifyElementState(window, AboutCheckBoxElement);
}

void OnLeftButtonUp(HWND window, int x, int y)
{
    AboutState& state = aboutState;
    const AboutLayout& layout = aboutLayout;
    if (state.pressTarget == AboutDrag) {
        EndDrag(window);
    } else if (Contains(layout.closeHit, x, y)) {
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

    RECT workArea;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0);
    // Sized for the display it opens on.
    const UINT dpi = DpiForPoint({(workArea.left + workArea.right) / 2, (workArea.top + workArea.bottom) / 2});

    RECT frame = {0, 0, ScaleForDpi(kAboutWidth, dpi), ScaleForDpi(kAboutHeight, dpi)};
    AdjustWindowRectEx(&frame, WS_POPUP, FALSE, WS_EX_TOOLWINDOW);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;

    // Centred in the work area, wherever the taskbar has put it.
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
        if (wParam == VK_ESCAPE) {
            EndDrag(window);
            DestroyWindow(window);
        } else {
            OnKeyDown(window, wParam);
        }
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

    case WM_CAPTURECHANGED:
        EndDrag(window);
        return 0;

    case WM_DPICHANGED:
        OnDpiChanged(window, HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;

    case WM_STARTUPFLAGCHANGED:
        InvalidateRect(window, &aboutLayout.checkBox, FALSE);
        NotifyElementState(window, AboutCheckBoxElement);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
