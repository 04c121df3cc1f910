// The drawn windows for people who do not use the mouse: keys, the
// accessible objects a screen reader reads with their events, and the
// high-contrast look.
#include <windows.h>
#include <oleacc.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "about_window.h"
#include "app_state.h"
#include "cooling_mode.h"
#include "import_hook.h"
#include "log_reader.h"
#include "mode_panel.h"
#include "panel_accessible.h"
#include "panel_fixture.h"
#include "scoped_com.h"
#include "status_text.h"
#include "system_settings.h"

using Lines = std::vector<std::string>;

namespace {

Lines events;

void CALLBACK RecordEvent(HWINEVENTHOOK, DWORD event, HWND window, LONG object, LONG child, DWORD, DWORD)
{
    if (object != OBJID_CLIENT || (window != app.modePanelWindow && window != app.aboutWindow))
        return;
    if (event == EVENT_OBJECT_FOCUS)
        events.push_back("focus " + std::to_string(child));
    else if (event == EVENT_OBJECT_STATECHANGE)
        events.push_back("state " + std::to_string(child));
}

std::string Utf8(const wchar_t* text)
{
    if (!text)
        return "(null)";
    char bytes[2000] = "";
    WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof(bytes), nullptr, nullptr);
    return bytes;
}

VARIANT Child(long id)
{
    VARIANT child;
    child.vt = VT_I4;
    child.lVal = id;
    return child;
}

std::string Name(IAccessible* object, long id)
{
    BSTR name = nullptr;
    object->get_accName(Child(id), &name);
    std::string text = Utf8(name);
    SysFreeString(name);
    return text;
}

// Role and state as a screen reader reads them.
std::string Describe(IAccessible* object, long id)
{
    ScopedVariant role;
    ScopedVariant state;
    object->get_accRole(Child(id), role.Get());
    object->get_accState(Child(id), state.Get());
    char text[64];
    std::snprintf(text, sizeof(text), "role %ld state 0x%lx", role->lVal, static_cast<unsigned long>(state->lVal));
    return text;
}

// The name (its start, for the paragraphs) and the default action ("-":
// none) in each language.
struct Language {
    const char* name;
    const char* action;
};

struct Element {
    long id;
    Language english;
    Language hebrew;
    const char* described;
};

std::string Action(IAccessible* object, long id)
{
    BSTR action = nullptr;
    object->get_accDefaultAction(Child(id), &action);
    std::string text = action ? Utf8(action) : "-";
    SysFreeString(action);
    return text;
}

// The text, or what the answer says instead: none for now (S_FALSE), none
// ever (DISP_E_MEMBERNOTFOUND).
std::string Description(IAccessible* object, long id)
{
    BSTR text = nullptr;
    const HRESULT hr = object->get_accDescription(Child(id), &text);
    std::string result = text ? Utf8(text) : hr == S_FALSE ? "S_FALSE" : Hex(hr);
    SysFreeString(text);
    return result;
}

// The focus border as the system's own scale would have it, unlike the
// window's; and the focus rectangles drawn.
int WINAPI FocusBorderAtAnotherScale(int index)
{
    if (index == SM_CXFOCUSBORDER || index == SM_CYFOCUSBORDER)
        return 3;
    return PlatformFunction<decltype(&GetSystemMetrics)>("user32.dll", "GetSystemMetrics")(index);
}

Lines focusRects;

BOOL WINAPI RecordFocusRect(HDC, const RECT* rect)
{
    focusRects.push_back(std::to_string(rect->left) + "," + std::to_string(rect->top) + "-" +
                         std::to_string(rect->right) + "," + std::to_string(rect->bottom));
    return TRUE;
}

const char kHebrewPress[] = "\xD7\x9C\xD7\x97\xD7\xA5";
const char kHebrewCheck[] = "\xD7\xA1\xD7\x9E\xD7\x9F";

class AccessTest : public PanelTest {
protected:
    void SetUp() override
    {
        PanelTest::SetUp();
        events.clear();
        hook_ = SetWinEventHook(EVENT_OBJECT_FOCUS, EVENT_OBJECT_STATECHANGE, nullptr, RecordEvent,
                                GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
        // As on Windows by default: focus cues only after keyboard use.
        SimulateSystemSettings(false, false);
    }
    void TearDown() override
    {
        UnhookWinEvent(hook_);
        PanelTest::TearDown();
        EndSystemSettings();
    }

    HWND OpenPanel()
    {
        SendMessageW(controller, WM_COMMAND, ID_SHOWMODEPANEL, 0);
        UpdateWindow(app.modePanelWindow);
        PumpMessages();
        return app.modePanelWindow;
    }

    // Keys as the message loop delivers them, then what they posted.
    static void Keys(HWND window, std::initializer_list<WPARAM> keys)
    {
        for (WPARAM key : keys) {
            PostMessageW(window, WM_KEYDOWN, key, 1);
            PumpMessages();
            if (IsWindow(window))
                UpdateWindow(window);
            PumpMessages();
        }
    }

    static ComPtr<IAccessible> Accessible(HWND window)
    {
        ComPtr<IAccessible> object;
        HRESULT result = AccessibleObjectFromWindow(window, OBJID_CLIENT, IID_IAccessible, object.PutVoid());
        EXPECT_EQ(S_OK, result) << std::hex << result;
        return object;
    }

    static void ExpectTree(IAccessible* object, const std::vector<Element>& elements)
    {
        long count = 0;
        EXPECT_EQ(S_OK, object->get_accChildCount(&count));
        EXPECT_EQ(static_cast<long>(elements.size()), count);
        const bool hebrew = (GetUserDefaultUILanguage() & 0x3FF) == LANG_HEBREW;
        const char* uiCase = std::getenv("KV_UI_CASE");
        ASSERT_EQ(uiCase && std::string(uiCase) == "he_IL", hebrew) << "the run's UI language";
        for (const Element& e : elements) {
            SCOPED_TRACE(e.id);
            const Language& expected = hebrew ? e.hebrew : e.english;
            const std::string name = Name(object, e.id);
            EXPECT_EQ(expected.name, name.substr(0, std::string(expected.name).size()));
            EXPECT_EQ(expected.action, Action(object, e.id));
            EXPECT_EQ(e.described, Describe(object, e.id));
        }
    }

    // Where a client finds the element: its layout rectangle on the screen.
    static void ExpectLocation(IAccessible* object, HWND window, long id, RECT rect)
    {
        MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&rect), 2);
        long left = 0, top = 0, width = 0, height = 0;
        EXPECT_EQ(S_OK, object->accLocation(&left, &top, &width, &height, Child(id)));
        EXPECT_EQ(std::to_string(rect.left) + "," + std::to_string(rect.top) + " " +
                      std::to_string(rect.right - rect.left) + "x" + std::to_string(rect.bottom - rect.top),
                  std::to_string(left) + "," + std::to_string(top) + " " + std::to_string(width) + "x" +
                      std::to_string(height));
        ScopedVariant hit;
        EXPECT_EQ(S_OK, object->accHitTest(rect.left + width / 2, rect.top + height / 2, hit.Get()));
        EXPECT_EQ(id, hit->lVal);
    }

    // Whether the pixels of rect hold the colour at least once.
    static bool Holds(const Capture& capture, const RECT& rect, COLORREF colour)
    {
        const uint32_t rgb = (GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour);
        for (int y = rect.top; y < rect.bottom; ++y)
            for (int x = rect.left; x < rect.right; ++x)
                if (capture.At(x, y) == rgb)
                    return true;
        return false;
    }

    static uint32_t Rgb(int systemColour)
    {
        COLORREF c = GetSysColor(systemColour);
        return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
    }

private:
    HWINEVENTHOOK hook_ = nullptr;
};

} // namespace

TEST_F(AccessTest, KeysDriveThePanelToOffAndBack)
{
    HWND panel = OpenPanel();
    EXPECT_EQ(PanelOnElement, panelAccessState.focus);
    EXPECT_FALSE(panelAccessState.cueShown) << "no cue before the keyboard is used";
    const RECT cue = Grown(modePanelLayout.offRadio, 2);
    Capture before = CaptureWindow(panel);

    Keys(panel, {VK_RIGHT});
    Capture moved = CaptureWindow(panel);
    EXPECT_NE(before.At(cue.left, cue.top + 4), moved.At(cue.left, cue.top + 4)) << "the Off radio's cue";
    {
        // Two focus borders out at the window's scale (the layout's
        // rectangles include their right and bottom edges).
        ImportHook metrics("user32.dll", "GetSystemMetrics", reinterpret_cast<const void*>(&FocusBorderAtAnotherScale));
        ImportHook drawn("user32.dll", "DrawFocusRect", reinterpret_cast<const void*>(&RecordFocusRect));
        focusRects.clear();
        CaptureWindow(panel);
        EXPECT_EQ(Lines{std::to_string(cue.left) + "," + std::to_string(cue.top) + "-" + std::to_string(cue.right + 1) +
                        "," + std::to_string(cue.bottom + 1)},
                  focusRects);
    }
    EXPECT_FALSE(modePanelState.autoCloseArmed) << "a key stops the auto-close";
    Keys(panel, {VK_SPACE});

    EXPECT_EQ("01 00 00 00", simfw::FormatBytes(Record()));
    EXPECT_EQ("autostart=on\r\nmode=off\r\n", ReadSettingsFile());

    Keys(panel, {VK_UP, VK_RETURN});

    EXPECT_EQ("01 01 00 00", simfw::FormatBytes(Record()));
    EXPECT_EQ("autostart=on\r\nmode=on\r\n", ReadSettingsFile());
    Press(panel, modePanelLayout.offRadio.left, modePanelLayout.offRadio.top);
    Release(panel, 0, 0);
    PumpMessages();
    EXPECT_EQ(PanelOffElement, panelAccessState.focus) << "a press gives the focus";
    EXPECT_EQ((Lines{"focus 1", "focus 2", "state 1", "state 2", "focus 1", "state 1", "state 2", "focus 2"}), events);
    EXPECT_EQ((Lines{"NIM_MODIFY size 956 id 0 flags 0x86 tip 'Vorn Kelvane - Off' icon",
                     "NIM_MODIFY size 956 id 0 flags 0x86 tip 'Vorn Kelvane - On' icon"}),
              shell.Described());
}

TEST_F(AccessTest, TabAndEnterOpenAboutWhereTabAndSpaceToggleTheCheckBox)
{
    HWND panel = OpenPanel();
    Keys(panel, {VK_TAB});
    EXPECT_EQ(PanelLinkElement, panelAccessState.focus);
    Keys(panel, {VK_RETURN});
    HWND about = app.aboutWindow;
    ASSERT_TRUE(about != nullptr);

    Keys(about, {VK_TAB, VK_SPACE});
    EXPECT_EQ(0, app.showAtStartup);
    EXPECT_EQ("autostart=off\r\nmode=on\r\n", ReadSettingsFile());

    std::vector<int> order;
    for (int i = 0; i < 3; ++i) {
        Keys(about, {VK_TAB});
        order.push_back(aboutAccessState.focus);
    }
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_SHIFT] = 0x80;
    SetKeyboardState(keys);
    for (int i = 0; i < 3; ++i) {
        Keys(about, {VK_TAB});
        order.push_back(aboutAccessState.focus);
    }
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
    EXPECT_EQ((std::vector<int>{AboutMinimizeElement, AboutCloseElement, AboutCheckBoxElement, AboutCloseElement,
                                AboutMinimizeElement, AboutCheckBoxElement}),
              order)
        << "Tab, then Shift+Tab";
    // "focus 0": the system's, for the About window itself.
    EXPECT_EQ((Lines{"focus 1", "focus 3", "focus 0", "focus 5", "state 5", "focus 6", "focus 7", "focus 5", "focus 7",
                     "focus 6", "focus 5"}),
              events);

    Keys(about, {VK_TAB, VK_RETURN});
    EXPECT_TRUE(IsIconic(about)) << "Enter on the minimize button";
    Keys(about, {VK_TAB, VK_SPACE});
    EXPECT_FALSE(IsWindow(about)) << "Space on the close button";

    ShowAboutWindow(controller);
    about = app.aboutWindow;
    PostMessageW(about, WM_SYSKEYDOWN, VK_F4, 1 | (1 << 29));
    PumpMessages();
    EXPECT_FALSE(IsWindow(about)) << "Alt+F4";
}

TEST_F(AccessTest, ScreenReaderReadsBothWindowsAndItsActionsWork)
{
    HWND panel = OpenPanel();
    {
        ComPtr<IAccessible> object = Accessible(panel);
        ASSERT_TRUE(object);
        ExpectTree(object.Get(),
                   {
                       {1, {"On", "Check"}, {"\xD7\xA4\xD7\x95\xD7\xA2\xD7\x9C", kHebrewCheck}, "role 45 state 0x100014"},
                       {2, {"Off", "Check"}, {"\xD7\x9B\xD7\x91\xD7\x95\xD7\x99", kHebrewCheck}, "role 45 state 0x100000"},
                       {3, {"About", "Jump"},
                        {"\xD7\x90\xD7\x95\xD7\x93\xD7\x95\xD7\xAA", "\xD7\xA2\xD7\x91\xD7\x95\xD7\xA8"},
                        "role 30 state 0x500000"},
                       // The organisation's line, there for screen readers only under a policy.
                       {4, {"Set by your organization", "-"}, {"\xD7\x94\xD7\x95\xD7\x92\xD7\x93\xD7\xA8", "-"},
                        "role 41 state 0x8040"},
                   });
        ExpectLocation(object.Get(), panel, PanelOffElement, modePanelLayout.offRadio);
        EXPECT_EQ("Vorn Kelvane", Name(object.Get(), CHILDID_SELF)) << "the untitled panel by the program's name";
        EXPECT_EQ("S_FALSE", Description(object.Get(), PanelOnElement)) << "no policy, nothing to explain";

        EXPECT_EQ(S_OK, object->accDoDefaultAction(Child(PanelOffElement)));
        PumpMessages();
        UpdateWindow(panel);
        PumpMessages();
        EXPECT_EQ("01 00 00 00", simfw::FormatBytes(Record()));
        EXPECT_EQ(1, LiveAccessibleObjects());
        EXPECT_EQ(0u, object.Reset()) << "final Release";
    }

    ShowAboutWindow(controller);
    HWND about = app.aboutWindow;
    UpdateWindow(about);
    {
        ComPtr<IAccessible> object = Accessible(about);
        ASSERT_TRUE(object);
        ExpectTree(object.Get(),
                   {
                       {1, {"About Vorn Kelvane", "-"},
                        {"\xD7\x90\xD7\x95\xD7\x93\xD7\x95\xD7\xAA Vorn Kelvane", "-"}, "role 41 state 0x40"},
                       {2, {"When you are using", "-"}, {"\xD7\x91\xD7\x99\xD7\x9F \xD7\x90\xD7\x9D", "-"},
                        "role 41 state 0x40"},
                       {3, {"When Vorn Kelvane is on", "-"},
                        {"\xD7\x9B\xD7\x90\xD7\xA9\xD7\xA8 Vorn Kelvane \xD7\xA4\xD7\x95\xD7\xA2\xD7\x9C", "-"},
                        "role 41 state 0x40"},
                       {4, {"When Vorn Kelvane is off", "-"},
                        {"\xD7\x9B\xD7\x90\xD7\xA9\xD7\xA8 Vorn Kelvane \xD7\x9B\xD7\x91\xD7\x95\xD7\x99", "-"},
                        "role 41 state 0x40"},
                       {5, {"Show Vorn Kelvane icon on Startup", "Uncheck"},
                        {"\xD7\x94\xD7\xA6\xD7\x92 \xD7\x90\xD7\xAA \xD7\x94\xD7\xA1\xD7\x9E\xD7\x9C \xD7\xA9\xD7\x9C "
                         "Vorn Kelvane \xD7\x91\xD7\x94\xD7\xA4\xD7\xA2\xD7\x9C\xD7\x94",
                         "\xD7\x91\xD7\x98\xD7\x9C \xD7\xA1\xD7\x99\xD7\x9E\xD7\x95\xD7\x9F"},
                        "role 44 state 0x100010"},
                       {6, {"Minimize", "Press"}, {"\xD7\x9E\xD7\x96\xD7\xA2\xD7\xA8", kHebrewPress},
                        "role 43 state 0x100000"},
                       {7, {"Close", "Press"}, {"\xD7\xA1\xD7\x92\xD7\x95\xD7\xA8", kHebrewPress},
                        "role 43 state 0x100000"},
                   });
        ExpectLocation(object.Get(), about, AboutCloseElement, aboutLayout.close);

        EXPECT_EQ(S_OK, object->accDoDefaultAction(Child(AboutCheckBoxElement)));
        PumpMessages();
        EXPECT_EQ("autostart=off\r\nmode=off\r\n", ReadSettingsFile());
        EXPECT_EQ(S_OK, object->accDoDefaultAction(Child(AboutCloseElement)));
        PumpMessages();
        EXPECT_FALSE(IsWindow(about));
        ScopedVariant state;
        EXPECT_EQ(CO_E_OBJNOTCONNECTED, object->get_accState(Child(AboutCloseElement), state.Get()))
            << "the window is gone";
        // Failed calls leave nothing behind in what the client handed over.
        for (long id : {static_cast<long>(AboutCloseElement), 99L}) {
            SCOPED_TRACE(id);
            long left = 7, top = 7, width = 7, height = 7, topic = 7;
            BSTR file = SysAllocString(L"stale");
            BSTR stale = file;
            EXPECT_TRUE(FAILED(object->accLocation(&left, &top, &width, &height, Child(id))));
            EXPECT_TRUE(FAILED(object->get_accHelpTopic(&file, Child(id), &topic)));
            EXPECT_EQ("0 0 0 0 0 null", std::to_string(left) + " " + std::to_string(top) + " " + std::to_string(width) +
                                            " " + std::to_string(height) + " " + std::to_string(topic) +
                                            (file ? " set" : " null"));
            SysFreeString(stale);
        }
        EXPECT_EQ(0u, object.Reset()) << "final Release";
    }
    EXPECT_EQ(0, LiveAccessibleObjects());
    EXPECT_EQ((Lines{"focus 1", "state 1", "state 2", "focus 0", "state 5"}), events);
}

TEST_F(AccessTest, HighContrastDrawsWithTheSystemColours)
{
    HWND panel = OpenPanel();
    ShowAboutWindow(controller);
    HWND about = app.aboutWindow;
    UpdateWindow(about);
    UpdateWindow(panel);
    const uint32_t before = CaptureWindow(panel).At(5, 60);

    SimulateSystemSettings(true, false);
    EXPECT_EQ(0x000000u, Rgb(COLOR_WINDOW)) << "the scheme's colours";
    for (HWND drawn : {panel, about}) {
        RECT update;
        ValidateRect(drawn, nullptr);
        SendMessageW(drawn, WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, 0);
        EXPECT_TRUE(GetUpdateRect(drawn, &update, FALSE)) << "WM_SETTINGCHANGE repaints";
        ValidateRect(drawn, nullptr);
        SendMessageW(drawn, WM_SYSCOLORCHANGE, 0, 0);
        EXPECT_TRUE(GetUpdateRect(drawn, &update, FALSE)) << "WM_SYSCOLORCHANGE repaints";
    }

    const uint32_t window = Rgb(COLOR_WINDOW);
    Capture p = CaptureWindow(panel);
    const RECT& on = modePanelLayout.onRadio;
    const RECT& off = modePanelLayout.offRadio;
    const RECT labels = {on.left, modePanelLayout.onAnchor.y, off.right, on.top};
    EXPECT_EQ(window, p.At(5, 60)) << std::hex << p.At(5, 60);
    EXPECT_EQ(Rgb(COLOR_HIGHLIGHT), p.At(on.left + 8, on.top + 8)) << std::hex << p.At(on.left + 8, on.top + 8);
    EXPECT_EQ(window, p.At(off.left + 8, off.top + 8)) << std::hex << p.At(off.left + 8, off.top + 8);
    EXPECT_TRUE(Holds(p, labels, GetSysColor(COLOR_WINDOWTEXT))) << "labels in the text colour";
    EXPECT_TRUE(Holds(p, modePanelLayout.link, GetSysColor(COLOR_HOTLIGHT))) << "link in the hot-light colour";

    Capture a = CaptureWindow(about);
    EXPECT_EQ(window, a.At(5, 200)) << std::hex << a.At(5, 200);
    EXPECT_TRUE(Holds(a, aboutLayout.title, GetSysColor(COLOR_WINDOWTEXT)));
    EXPECT_TRUE(Holds(a, aboutLayout.close, GetSysColor(COLOR_WINDOWTEXT)));
    EXPECT_TRUE(Holds(a, aboutLayout.checkBox, GetSysColor(COLOR_HIGHLIGHT))) << "the tick";

    SimulateSystemSettings(false, false);
    EXPECT_EQ(before, CaptureWindow(panel).At(5, 60)) << "the picture again";
    EXPECT_EQ(0xFFFFFFu, Rgb(COLOR_WINDOW)) << "the old colours again";
}

// Under a Mode and a ShowIcon policy the radios and the check box stay on
// screen but do nothing for the mouse, the keys or a screen reader, read as
// unavailable, and are greyed under high contrast; the panel grows a line
// that says who set the mode.
TEST_F(AccessTest, EnforcedPoliciesDisableTheRadiosAndTheCheckBox)
{
    app.policy = {true, On, true, 1};
    app.showAtStartup = 0;
    // Why: the radios are described by the line under them, which a screen
    // reader cannot see otherwise; the check box has no such line.
    auto expectUnavailable = [](HWND window, long id, const char* description) {
        SCOPED_TRACE(id);
        ComPtr<IAccessible> object = Accessible(window);
        ASSERT_TRUE(object);
        ScopedVariant state;
        EXPECT_EQ(S_OK, object->get_accState(Child(id), state.Get()));
        EXPECT_EQ(static_cast<LONG>(STATE_SYSTEM_UNAVAILABLE), state->lVal & STATE_SYSTEM_UNAVAILABLE)
            << std::hex << state->lVal;
        EXPECT_EQ(description, Description(object.Get(), id));
        EXPECT_EQ("-", Action(object.Get(), id));
        EXPECT_EQ(DISP_E_MEMBERNOTFOUND, object->accDoDefaultAction(Child(id)));
        PumpMessages();
        EXPECT_EQ(0u, object.Reset()) << "final Release";
    };

    HWND panel = OpenPanel();
    const RECT& notice = modePanelLayout.notice;
    EXPECT_FALSE(IsRectEmpty(&notice)) << "the organisation's line";
    EXPECT_LE(modePanelLayout.offRadio.bottom, notice.top);
    EXPECT_LE(notice.bottom, modePanelLayout.link.top);
    Keys(panel, {VK_RIGHT, VK_SPACE});
    Press(panel, modePanelLayout.offRadio.left + 8, modePanelLayout.offRadio.top + 8);
    Release(panel, modePanelLayout.offRadio.left + 8, modePanelLayout.offRadio.top + 8);
    PumpMessages();
    expectUnavailable(panel, PanelOnElement, "Set by your organization");
    expectUnavailable(panel, PanelOffElement, "Set by your organization");
    {
        ComPtr<IAccessible> object = Accessible(panel);
        ASSERT_TRUE(object);
        EXPECT_EQ("role 41 state 0x40", Describe(object.Get(), PanelNoticeElement)) << "the line, now visible";
        ExpectLocation(object.Get(), panel, PanelNoticeElement, notice);
        EXPECT_EQ(0u, object.Reset()) << "final Release";
    }
    SimulateSystemSettings(true, false);
    InvalidateRect(panel, nullptr, TRUE);
    UpdateWindow(panel);
    Capture p = CaptureWindow(panel);
    const RECT& on = modePanelLayout.onRadio;
    EXPECT_EQ(Rgb(COLOR_GRAYTEXT), p.At(on.left + 8, on.top + 8)) << std::hex << p.At(on.left + 8, on.top + 8);
    EXPECT_TRUE(Holds(p, notice, GetSysColor(COLOR_WINDOWTEXT))) << "the line in the text colour";
    SimulateSystemSettings(false, false);

    ShowAboutWindow(controller);
    HWND about = app.aboutWindow;
    UpdateWindow(about);
    Keys(about, {VK_SPACE});
    SendMessageW(controller, WM_COMMAND, ID_TOGGLESTARTUP, 0);
    PumpMessages();
    expectUnavailable(about, AboutCheckBoxElement, Hex(DISP_E_MEMBERNOTFOUND).c_str());
    SimulateSystemSettings(true, false);
    InvalidateRect(about, nullptr, TRUE);
    UpdateWindow(about);
    Capture a = CaptureWindow(about);
    EXPECT_TRUE(Holds(a, aboutLayout.checkBox, GetSysColor(COLOR_GRAYTEXT))) << "the greyed tick";
    EXPECT_FALSE(Holds(a, aboutLayout.checkBox, GetSysColor(COLOR_HIGHLIGHT)));
    SimulateSystemSettings(false, false);

    EXPECT_EQ("01 01 00 00", simfw::FormatBytes(Record()));
    EXPECT_EQ(0, Counter("casl.write"));
    EXPECT_EQ(0, app.showAtStartup) << "the user's own choice stays";
    EXPECT_FALSE(FileExists(SettingsFilePath()));
}
