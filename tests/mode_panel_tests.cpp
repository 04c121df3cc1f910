// The mode panel in-process: its computed layout, the inclusive edges of
// its hit rectangles, the mouse and key state machine, applying a mode, what
// it paints, and its life cycle under the controller.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "about_window.h"
#include "app_state.h"
#include "import_hook.h"
#include "cooling_mode.h"
#include "log_reader.h"
#include "mode_panel.h"
#include "panel_fixture.h"

using Lines = std::vector<std::string>;

namespace {

std::string Describe(const ModePanelLayout& l)
{
    char text[200];
    std::snprintf(text, sizeof(text), "%dx%d on %ld off %ld labels y %ld radios %ld..%ld about y %ld link %ld..%ld",
                  l.width, l.height, l.onAnchor.x, l.offAnchor.x, l.onAnchor.y, l.onRadio.top, l.onRadio.bottom,
                  l.aboutAnchor.y, l.link.top, l.link.bottom);
    return text;
}

// Timers run ten times faster; each SetTimer is recorded as
// "window class, id, milliseconds".
ImportHook* timerHook = nullptr;
std::vector<std::string> timersSet;

UINT_PTR WINAPI QuickTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC callback)
{
    wchar_t name[64] = L"";
    GetClassNameW(window, name, ARRAYSIZE(name));
    timersSet.push_back(std::string(name, name + wcslen(name)) + " " + std::to_string(id) + " " +
                        std::to_string(elapse));
    return timerHook->Original<decltype(&SetTimer)>()(window, id, elapse / 50, callback);
}

// Shell_NotifyIconGetRect and CalculatePopupWindowPosition as Windows 7
// answers them, handed out by GetProcAddress; the calls are recorded.
struct ShellPlacement {
    HRESULT rectStatus;
    RECT icon;
    BOOL calculated;
    RECT result;
};
ShellPlacement placement;
std::vector<std::string> placementCalls;
HWND placementOwner = nullptr;
ImportHook* lookupHook = nullptr;

std::string Text(const RECT& r)
{
    return std::to_string(r.left) + "," + std::to_string(r.top) + "-" + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

HRESULT WINAPI FakeIconRect(const NOTIFYICONIDENTIFIER* icon, RECT* rect)
{
    static const GUID none = {};
    placementCalls.push_back("icon rect: size " + std::to_string(icon->cbSize) +
                             (icon->hWnd == placementOwner ? " controller" : " other window") + " id " +
                             std::to_string(icon->uID) + (IsEqualGUID(icon->guidItem, none) ? " no guid" : " guid"));
    *rect = placement.icon;
    return placement.rectStatus;
}

BOOL WINAPI FakeCalculatePosition(const POINT* anchor, const SIZE* size, UINT flags, RECT* exclude, RECT* result)
{
    char text[160];
    std::snprintf(text, sizeof(text), "position: anchor %ld,%ld size %ldx%ld flags 0x%X exclude %s", anchor->x,
                  anchor->y, size->cx, size->cy, flags, exclude ? Text(*exclude).c_str() : "none");
    placementCalls.push_back(text);
    *result = placement.result;
    return placement.calculated;
}

FARPROC WINAPI FakeLookup(HMODULE module, LPCSTR name)
{
    if (HIWORD(reinterpret_cast<ULONG_PTR>(name))) {
        if (std::strcmp(name, "Shell_NotifyIconGetRect") == 0)
            return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&FakeIconRect));
        if (std::strcmp(name, "CalculatePopupWindowPosition") == 0)
            return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&FakeCalculatePosition));
    }
    return lookupHook->Original<decltype(&GetProcAddress)>()(module, name);
}

// Text alignments the paint sets, in order.
std::vector<UINT> alignments;
ImportHook* alignHook = nullptr;

UINT WINAPI RecordAlign(HDC dc, UINT alignment)
{
    alignments.push_back(alignment);
    return alignHook->Original<decltype(&SetTextAlign)>()(dc, alignment);
}

// Fonts the panel code makes and has not deleted yet.
std::vector<HFONT> fontsLive;
int fontsMade = 0;
ImportHook* fontHook = nullptr;
ImportHook* deleteHook = nullptr;

HFONT WINAPI CountedCreateFont(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                               DWORD underline, DWORD strikeOut, DWORD charSet, DWORD precision, DWORD clip,
                               DWORD quality, DWORD pitch, LPCWSTR face)
{
    HFONT font = fontHook->Original<decltype(&CreateFontW)>()(height, width, escapement, orientation, weight, italic,
                                                              underline, strikeOut, charSet, precision, clip,
                                                              quality, pitch, face);
    ++fontsMade;
    fontsLive.push_back(font);
    return font;
}

BOOL WINAPI CountedDeleteObject(HGDIOBJ object)
{
    fontsLive.erase(std::remove(fontsLive.begin(), fontsLive.end(), object), fontsLive.end());
    return deleteHook->Original<decltype(&DeleteObject)>()(object);
}

class ModePanelTest : public PanelTest {
protected:
    // Opens the panel as the controller does for command 40001.
    HWND OpenPanel()
    {
        SendMessageW(controller, WM_COMMAND, ID_SHOWMODEPANEL, 0);
        panel_ = app.modePanelWindow;
        EXPECT_TRUE(panel_ != nullptr);
        UpdateWindow(panel_);
        return panel_;
    }

    // Dispatches what the panel posted to itself after painting.
    void PaintAndApply()
    {
        UpdateWindow(panel_);
        PumpMessages();
    }

    std::vector<std::string> PostedToController()
    {
        std::vector<std::string> posted;
        MSG message;
        while (PeekMessageW(&message, controller, WM_APP, WM_APP + 100, PM_REMOVE))
            posted.push_back(std::to_string(message.message - WM_APP));
        return posted;
    }

    HWND panel_ = nullptr;
};

} // namespace

TEST_F(ModePanelTest, LayoutGrowsWithTheWidestLabel)
{
    struct Case {
        int widest;
        const char* layout;
    };
    const Case cases[] = {
        {36, "150x130 on 50 off 100 labels y 50 radios 72..88 about y 100 link 100..116"},
        {37, "150x130 on 44 off 106 labels y 44 radios 70..86 about y 102 link 102..118"},
        {47, "150x130 on 44 off 106 labels y 44 radios 70..86 about y 102 link 102..118"},
        {48, "152x131 on 45 off 107 labels y 44 radios 70..86 about y 102 link 102..118"},
        {60, "176x152 on 51 off 125 labels y 52 radios 82..98 about y 118 link 118..134"},
        {80, "216x187 on 61 off 155 labels y 66 radios 103..119 about y 146 link 146..162"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.widest);
        ModePanelLayout layout = kDefaultModePanelLayout;
        ComputeModePanelLayout(c.widest, layout);
        EXPECT_EQ(c.layout, Describe(layout));
    }
    ModePanelLayout wide = kDefaultModePanelLayout;
    ComputeModePanelLayout(80, wide);
    EXPECT_EQ(53, wide.onRadio.left);
    EXPECT_EQ(69, wide.onRadio.right);
    EXPECT_EQ(147, wide.offRadio.left);
    EXPECT_EQ(163, wide.offRadio.right);
    EXPECT_EQ(108, wide.aboutAnchor.x);
    EXPECT_EQ(216, wide.background.right);
    EXPECT_EQ(187, wide.background.bottom);
}

TEST_F(ModePanelTest, OpensAtTheTopLeftWhenTheShellCannotPlaceIt)
{
    HWND panel = OpenPanel();

    RECT frame;
    GetWindowRect(panel, &frame);
    EXPECT_EQ(0, frame.left);
    EXPECT_EQ(0, frame.top);
    EXPECT_EQ(150, frame.right);
    EXPECT_EQ(130, frame.bottom);
    EXPECT_TRUE(IsWindowVisible(panel));
    EXPECT_TRUE(GetWindowLongW(panel, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_TRUE(GetWindowLongW(panel, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
    EXPECT_EQ(controller, GetWindow(panel, GW_OWNER));
    EXPECT_EQ(On, modePanelState.shownMode);
    EXPECT_TRUE(modePanelState.autoCloseArmed);

    HRGN region = CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(ERROR, GetWindowRgn(panel, region));
    EXPECT_FALSE(PtInRegion(region, 0, 0)) << "rounded corner";
    EXPECT_TRUE(PtInRegion(region, 75, 0));
    EXPECT_TRUE(PtInRegion(region, 6, 6));
    DeleteObject(region);
}

TEST_F(ModePanelTest, OpensBesideTheIconWhereTheShellPlacesIt)
{
    ImportHook hook("kernel32.dll", "GetProcAddress", reinterpret_cast<const void*>(&FakeLookup));
    ASSERT_TRUE(hook.Installed());
    lookupHook = &hook;
    placementOwner = controller;
    const RECT icon = {980, 740, 996, 756};
    const RECT result = {838, 610, 900, 700}; // a size of its own, which the panel ignores
    const std::string askRect = "icon rect: size 28 controller id 0 no guid";
    const std::string askPosition = "position: anchor 988,748 size 150x130 flags 0x10054 exclude 980,740-996,756";
    struct Case {
        const char* name;
        ShellPlacement shell;
        std::vector<std::string> calls;
        const char* frame;
    };
    const Case cases[] = {
        {"placed", {S_OK, icon, TRUE, result}, {askRect, askPosition}, "838,610-988,740"},
        {"no icon rectangle", {E_FAIL, icon, TRUE, result}, {askRect}, "0,0-150,130"},
        {"no position", {S_OK, icon, FALSE, result}, {askRect, askPosition}, "0,0-150,130"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        placement = c.shell;
        placementCalls.clear();
        HWND panel = OpenPanel();
        RECT frame;
        GetWindowRect(panel, &frame);
        EXPECT_EQ(c.calls, placementCalls);
        EXPECT_EQ(c.frame, Text(frame));
        EXPECT_TRUE(IsWindowVisible(panel));
        SendMessageW(panel, WM_KEYDOWN, VK_ESCAPE, 0);
    }
    lookupHook = nullptr;
}

TEST_F(ModePanelTest, HitRectanglesIncludeAllFourEdges)
{
    HWND panel = OpenPanel();
    const RECT link = modePanelLayout.link;
    ASSERT_LT(link.left, link.right) << "the paint sets the link's width";

    struct Probe {
        int x, y;
        int target;
    };
    const Probe probes[] = {
        {42, 72, PanelOnRadio},   {58, 88, PanelOnRadio},   {41, 80, PanelNothing},   {59, 80, PanelNothing},
        {50, 71, PanelNothing},   {50, 89, PanelNothing},   {92, 72, PanelOffRadio},  {108, 88, PanelOffRadio},
        {91, 80, PanelNothing},   {109, 80, PanelNothing},  {link.left, 100, PanelLink}, {link.right, 116, PanelLink},
        {link.left - 1, 108, PanelNothing}, {link.right + 1, 108, PanelNothing}, {75, 117, PanelNothing},
    };
    for (const Probe& probe : probes) {
        SCOPED_TRACE(std::to_string(probe.x) + "," + std::to_string(probe.y));
        modePanelState.pressTarget = -1;
        Press(panel, probe.x, probe.y);
        EXPECT_EQ(probe.target, modePanelState.pressTarget);
        Release(panel, 0, 0);
    }
}

TEST_F(ModePanelTest, PressOnOneRadioAndReleaseOnTheOtherDoesNothing)
{
    HWND panel = OpenPanel();

    Press(panel, 50, 80);
    Release(panel, 100, 80);

    EXPECT_EQ(PanelOnRadio, modePanelState.pressTarget) << "stays until the next press";
    EXPECT_EQ(On, modePanelState.shownMode);
    PaintAndApply();
    EXPECT_EQ(0, Counter("casl.write"));
}

TEST_F(ModePanelTest, ClickOnTheOtherModeAppliesItAfterThePaint)
{
    HWND panel = OpenPanel();

    Press(panel, 100, 80);
    Release(panel, 100, 80);
    EXPECT_EQ(Off, modePanelState.shownMode);
    EXPECT_EQ(On, GetKelvaneMode()) << "not applied before the paint";

    PaintAndApply();

    EXPECT_EQ(Off, GetKelvaneMode());
    EXPECT_EQ("01 00 00 00", simfw::FormatBytes(Record()));
    EXPECT_EQ("autostart=on\r\nmode=off\r\n", ReadSettingsFile());
    EXPECT_EQ((Lines{"NIM_MODIFY size 956 id 0 flags 0x86 tip 'Vorn Kelvane - Off' icon"}), shell.Described());
    EXPECT_EQ(Lines{}, ReadLogMessages());
}

TEST_F(ModePanelTest, ClickOnTheModeInForceChangesNothing)
{
    HWND panel = OpenPanel();

    Press(panel, 50, 80);
    Release(panel, 50, 80);
    PaintAndApply();

    EXPECT_EQ(PanelNothing, modePanelState.pressTarget);
    EXPECT_EQ(0, Counter("casl.write"));
    EXPECT_EQ(Lines{}, shell.Described());
    EXPECT_FALSE(FileExists(SettingsFilePath()));
}

TEST_F(ModePanelTest, FailedSwitchShowsTheOldModeAgain)
{
    HWND panel = OpenPanel();
    Inject("casl.write", static_cast<HRESULT>(0x8004CAFE));

    Press(panel, 100, 80);
    Release(panel, 100, 80);
    PaintAndApply();
    PaintAndApply();

    EXPECT_EQ(On, modePanelState.shownMode);
    EXPECT_EQ(On, GetKelvaneMode());
    EXPECT_EQ(1, Counter("casl.write")) << "the repaint's own apply finds nothing to do";
    EXPECT_EQ("01 01 00 00", simfw::FormatBytes(Record()));
    EXPECT_EQ(Lines{}, shell.Described());
    EXPECT_FALSE(FileExists(SettingsFilePath()));
    EXPECT_EQ((Lines{"SetThermalControl(): Set Diags.ThermalControl failed 0x8004CAFE\n",
                     "SetKelvaneMode(): SetThermalControl() failed 0x8004CAFE\n"}),
              ReadLogMessages());
}

TEST_F(ModePanelTest, LinkLooks)
{
    HWND panel = OpenPanel();
    const int y = 108;

    Move(panel, 75, y);
    EXPECT_EQ(Hover, modePanelState.linkLook);
    Press(panel, 75, y);
    EXPECT_EQ(Pressed, modePanelState.linkLook);
    Move(panel, 76, y, MK_LBUTTON);
    EXPECT_EQ(Hover, modePanelState.linkLook) << "pressed only until the pointer moves";
    Move(panel, 75, 60, MK_LBUTTON);
    EXPECT_EQ(Normal, modePanelState.linkLook);
    Release(panel, 75, 60);

    EXPECT_EQ(nullptr, app.aboutWindow) << "released off the link";
    EXPECT_EQ(PanelNothing, modePanelState.pressTarget);
}

TEST_F(ModePanelTest, FontsAreMadeOncePerPanelAndGoWithIt)
{
    ImportHook create("gdi32.dll", "CreateFontW", reinterpret_cast<const void*>(&CountedCreateFont));
    ImportHook remove("gdi32.dll", "DeleteObject", reinterpret_cast<const void*>(&CountedDeleteObject));
    fontHook = &create;
    deleteHook = &remove;
    fontsLive.clear();
    fontsMade = 0;

    HWND panel = OpenPanel();
    EXPECT_EQ(3, fontsMade) << "labels, link, underlined link";
    Move(panel, 75, 108);
    UpdateWindow(panel);
    RedrawWindow(panel, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    EXPECT_EQ(Hover, modePanelState.linkLook);
    EXPECT_EQ(3, fontsMade) << "the paints made fonts";
    DestroyWindow(panel);
    EXPECT_EQ(0u, fontsLive.size()) << "fonts left after the panel is gone";
}

TEST_F(ModePanelTest, LinkOpensTheAboutWindowAndThePanelAsksToClose)
{
    HWND panel = OpenPanel();

    Press(panel, 75, 108);
    Release(panel, 75, 108);

    EXPECT_TRUE(app.aboutWindow != nullptr);
    EXPECT_EQ(Normal, modePanelState.linkLook);
    EXPECT_EQ(std::vector<std::string>{"2"}, PostedToController()) << "WM_PANELCLOSED after losing activation";
    EXPECT_TRUE(IsWindow(panel));
}

TEST_F(ModePanelTest, AutoCloseComesUnlessAPressCameFirst)
{
    ImportHook hook("user32.dll", "SetTimer", reinterpret_cast<const void*>(&QuickTimer));
    timerHook = &hook;
    struct Case {
        const char* name;
        UINT message;
        WPARAM keys;
        bool closes;
    };
    const Case cases[] = {
        {"nothing", 0, 0, true},
        {"a move", WM_MOUSEMOVE, 0, true},
        {"a right press", WM_RBUTTONDOWN, MK_RBUTTON, false},
        {"a left press", WM_LBUTTONDOWN, MK_LBUTTON, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        timersSet.clear();
        SendMessageW(controller, WM_COMMAND, ID_SHOWMODEPANEL, 0);
        HWND panel = app.modePanelWindow;
        ASSERT_TRUE(IsWindowVisible(panel));
        if (c.message)
            SendMessageW(panel, c.message, c.keys, MAKELPARAM(10, 10));

        // The 5.5 s, fifty times faster, with room for a busy machine.
        for (DWORD start = GetTickCount(); IsWindow(panel) && GetTickCount() - start < 500;)
            PumpMessages(50);

        EXPECT_EQ(!c.closes, IsWindow(panel) != FALSE);
        ASSERT_FALSE(timersSet.empty());
        EXPECT_EQ("VornKelvanePopup 1 5500", timersSet[0]);
        if (IsWindow(panel))
            SendMessageW(panel, WM_KEYDOWN, VK_ESCAPE, 0);
        PumpMessages(); // the close it asks for on losing activation
    }
    timerHook = nullptr;
}

TEST_F(ModePanelTest, KeysAndClosing)
{
    HWND panel = OpenPanel();

    EXPECT_EQ(0, SendMessageW(panel, WM_KEYDOWN, 'A', 0));
    EXPECT_TRUE(IsWindow(panel));
    SendMessageW(panel, WM_TIMER, kAutoCloseTimer, 0);
    SendMessageW(panel, WM_ACTIVATE, WA_INACTIVE, 0);
    SendMessageW(panel, WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_EQ((std::vector<std::string>{"2", "2"}), PostedToController());

    EXPECT_EQ(0, SendMessageW(panel, WM_KEYDOWN, VK_ESCAPE, 0));
    EXPECT_FALSE(IsWindow(panel));
}

TEST_F(ModePanelTest, PaintsTheSelectedRadioInTheShownMode)
{
    HWND panel = OpenPanel();
    Capture on = CaptureWindow(panel);
    modePanelState.shownMode = Off;
    Capture off = CaptureWindow(panel);
    PumpMessages();

    const RECT& onRadio = modePanelLayout.onRadio;
    const RECT& offRadio = modePanelLayout.offRadio;
    auto centre = [](const Capture& capture, const RECT& r) { return capture.At(r.left + 8, r.top + 8); };
    EXPECT_NE(centre(on, onRadio), centre(on, offRadio)) << "selected and unselected look different";
    EXPECT_EQ(centre(on, onRadio), centre(off, offRadio)) << std::hex << centre(on, onRadio);
    EXPECT_EQ(centre(on, offRadio), centre(off, onRadio)) << std::hex << centre(on, offRadio);
    EXPECT_NE(0xFFFFFFu & GetSysColor(COLOR_WINDOW), on.At(5, 60)) << "the background picture is drawn";

    // The labels are centred, and read right to left under Arabic and Hebrew.
    ImportHook align("gdi32.dll", "SetTextAlign", reinterpret_cast<const void*>(&RecordAlign));
    alignHook = &align;
    alignments.clear();
    CaptureWindow(panel);
    alignHook = nullptr;
    ASSERT_FALSE(alignments.empty());
    EXPECT_EQ(ExpectedRightToLeft() ? 0x106u : 0x6u, alignments[0]);
}

TEST_F(ModePanelTest, ControllerOpensClosesAndGuards)
{
    // Command 40001 opens; a second 40001 leaves the open panel alone.
    SendMessageW(controller, WM_COMMAND, ID_SHOWMODEPANEL, 0);
    HWND first = app.modePanelWindow;
    ASSERT_TRUE(IsWindowVisible(first));
    SendMessageW(controller, WM_COMMAND, ID_SHOWMODEPANEL, 0);
    EXPECT_EQ(first, app.modePanelWindow);

    // A click on the icon closes it and starts the guard.
    SendMessageW(controller, WM_TRAYICON, 0, WM_LBUTTONUP);
    EXPECT_FALSE(IsWindow(first));
    EXPECT_EQ(nullptr, app.modePanelWindow);
    EXPECT_EQ(0, app.canShowModePanel);

    // Within the double-click time the next click does nothing.
    SendMessageW(controller, WM_TRAYICON, 0, WM_LBUTTONUP);
    EXPECT_EQ(nullptr, app.modePanelWindow);

    // After the guard a click opens a new panel.
    PumpMessages(GetDoubleClickTime() + 200);
    EXPECT_EQ(1, app.canShowModePanel);
    SendMessageW(controller, WM_TRAYICON, 0, WM_LBUTTONUP);
    EXPECT_TRUE(IsWindowVisible(app.modePanelWindow));
}

TEST_F(ModePanelTest, AutoCloseGoesThroughTheController)
{
    SendMessageW(controller, WM_COMMAND, ID_SHOWMODEPANEL, 0);
    HWND panel = app.modePanelWindow;
    ASSERT_TRUE(panel != nullptr);

    SendMessageW(panel, WM_TIMER, kAutoCloseTimer, 0);
    PumpMessages();

    EXPECT_FALSE(IsWindow(panel));
    EXPECT_EQ(nullptr, app.modePanelWindow);
    EXPECT_EQ(0, app.canShowModePanel);
    SendMessageW(controller, WM_TRAYICON, 0, WM_LBUTTONUP);
    EXPECT_EQ(nullptr, app.modePanelWindow) << "guarded";
    // Command 40001 ignores the guard.
    SendMessageW(controller, WM_COMMAND, ID_SHOWMODEPANEL, 0);
    EXPECT_TRUE(IsWindowVisible(app.modePanelWindow));
}

TEST_F(ModePanelTest, CommandAfterEscapeOpensANewPanel)
{
    SendMessageW(controller, WM_COMMAND, ID_SHOWMODEPANEL, 0);
    HWND first = app.modePanelWindow;
    SendMessageW(first, WM_KEYDOWN, VK_ESCAPE, 0);
    ASSERT_FALSE(IsWindow(first));

    SendMessageW(controller, WM_COMMAND, ID_SHOWMODEPANEL, 0);

    EXPECT_TRUE(IsWindowVisible(app.modePanelWindow));
}

TEST_F(ModePanelTest, EachPanelStartsWithNothingHeld)
{
    HWND first = OpenPanel();
    Press(first, 75, 108);
    ASSERT_EQ(Pressed, modePanelState.linkLook);
    SendMessageW(first, WM_KEYDOWN, VK_ESCAPE, 0);

    OpenPanel();
    EXPECT_EQ(PanelNothing, modePanelState.pressTarget);
    EXPECT_EQ(Normal, modePanelState.linkLook);
}

TEST_F(ModePanelTest, CloseRequestOfAGonePanelLeavesItsSuccessorOpen)
{
    HWND first = OpenPanel();
    // Losing activation asks to close; Escape destroys the panel before the
    // controller reads the request, and a second start opens a new panel.
    SendMessageW(first, WM_ACTIVATE, WA_INACTIVE, 0);
    SendMessageW(first, WM_KEYDOWN, VK_ESCAPE, 0);
    SendMessageW(controller, WM_COMMAND, ID_SHOWMODEPANEL, 0);
    HWND second = app.modePanelWindow;
    ASSERT_NE(first, second);

    PumpMessages();

    EXPECT_TRUE(IsWindowVisible(second));
    EXPECT_EQ(second, app.modePanelWindow);
    EXPECT_EQ(1, app.canShowModePanel);
}
