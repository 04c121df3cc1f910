// The controller window in-process: its creation with the icon's retries,
// the menu's commands, the icon's events, the taskbar's restart and the
// console's reconnection.
#include <windows.h>
#include <wtsapi32.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app_state.h"
#include "controller_window.h"
#include "import_hook.h"
#include "scoped_win32.h"
#include "cooling_mode.h"
#include "footprint.h"
#include "log_reader.h"
#include "shell_recorder.h"
#include "startup.h"
#include "tray_fixture.h"

using Lines = std::vector<std::string>;

namespace {

const char kAddFailed[] = "AddNotificationIcon(): Shell_NotifyIcon( NIM_ADD, &nid ) failed.\n";
const std::string kAddOn = "NIM_ADD size 956 id 0 flags 0x87 callback 0x8001 tip 'Vorn Kelvane - On' icon";
const std::string kDelete = "NIM_DELETE size 956 id 0 flags 0x0";

// What GetSystemMetrics(SM_MENUDROPALIGNMENT) answers the program.
int menuDropAlignment = 0;
ImportHook* metricsHook = nullptr;

int WINAPI FakeMetrics(int index)
{
    if (index == SM_MENUDROPALIGNMENT)
        return menuDropAlignment;
    return metricsHook->Original<decltype(&GetSystemMetrics)>()(index);
}

// Run inside the real menu's own message loop.
std::vector<std::string> menuEvents;

void CALLBACK EndTheMenuByHand(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(nullptr, timer);
    if (FindWindowW(L"#32768", nullptr)) {
        menuEvents.push_back("still open after 3 s");
        EndMenu();
    }
}

// The menu's calls in the order the program made them: Wine closes a menu on
// any outside click, so only the order shows that the foreground came first.
Lines menuCalls;
HWND menuOwner = nullptr;

BOOL WINAPI RecordForeground(HWND window)
{
    menuCalls.push_back(window == menuOwner ? "foreground" : "foreground elsewhere");
    return PlatformFunction<decltype(&SetForegroundWindow)>("user32.dll", "SetForegroundWindow")(window);
}

BOOL WINAPI TrackAndRecord(HMENU menu, UINT flags, int x, int y, HWND owner, LPTPMPARAMS parameters)
{
    menuCalls.push_back("menu");
    return PlatformFunction<decltype(&TrackPopupMenuEx)>("user32.dll", "TrackPopupMenuEx")(menu, flags, x, y, owner,
                                                                                        parameters);
}

BOOL WINAPI RecordPost(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NULL)
        menuCalls.push_back(window == menuOwner ? "WM_NULL" : "WM_NULL elsewhere");
    return PlatformFunction<decltype(&PostMessageW)>("user32.dll", "PostMessageW")(window, message, wParam, lParam);
}

void CALLBACK PressEscape(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(nullptr, timer);
    HWND menu = FindWindowW(L"#32768", nullptr);
    menuEvents.push_back(IsWindowVisible(menu) ? "menu shown" : "no menu");
    PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageW(menu, WM_KEYUP, VK_ESCAPE, 0);
}

void CALLBACK ClickElsewhere(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(nullptr, timer);
    HWND menu = FindWindowW(L"#32768", nullptr);
    menuEvents.push_back(IsWindowVisible(menu) ? "menu shown" : "no menu");
    SetCursorPos(900, 700);
    mouse_event(MOUSEEVENTF_LEFTDOWN, 0, 0, 0, 0);
    mouse_event(MOUSEEVENTF_LEFTUP, 0, 0, 0, 0);
}

// RegisterApplicationRestart as the program calls it, recorded.
std::vector<std::string> restartRegistrations;

HRESULT WINAPI RecordRestartRegistration(PCWSTR commandLine, DWORD flags)
{
    char text[160];
    snprintf(text, sizeof(text), "%ls flags 0x%lx", commandLine ? commandLine : L"<null>", flags);
    restartRegistrations.push_back(text);
    return S_OK;
}

class ControllerWindowTest : public TrayTest {
protected:
    void SetUp() override
    {
        TrayTest::SetUp();
        RegisterWindowClass(kControllerClass, 107, ControllerWindowProc);
    }
    void TearDown() override
    {
        if (IsWindow(window_))
            DestroyWindow(window_);
        DrainMessages();
        UnregisterClassW(kControllerClass, app.instance);
        TrayTest::TearDown();
    }

    HWND CreateController()
    {
        window_ = CreateWindowExW(0, kControllerClass, app.windowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, 250,
                                  200, nullptr, nullptr, app.instance, nullptr);
        app.controllerWindow = window_;
        return window_;
    }

    // The posted messages waiting for the window, as "message wParam".
    std::vector<std::string> DrainMessages()
    {
        std::vector<std::string> posted;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_TIMER || message.message >= WM_USER || message.message == WM_COMMAND ||
                message.message == WM_QUIT)
                posted.push_back(std::to_string(message.message) + " " + std::to_string(message.wParam));
        }
        return posted;
    }

    ShellRecorder shell;
    HWND window_ = nullptr;
};

} // namespace

TEST_F(ControllerWindowTest, CreationAddsTheIconAndAsksForThePanel)
{
    thermalState.mode = On;

    ASSERT_TRUE(CreateController() != nullptr);

    EXPECT_EQ(Lines{kAddOn}, shell.Described());
    EXPECT_NE(0u, app.taskbarCreatedMessage);
    for (int role = 0; role < kImageRoleCount; ++role)
        EXPECT_TRUE(app.images[role] != nullptr) << "image role " << role;
    EXPECT_EQ(std::vector<std::string>{"273 40001"}, DrainMessages()) << "WM_COMMAND 40001 is posted";
    EXPECT_EQ(Lines{}, ReadLogMessages());
}

TEST_F(ControllerWindowTest, StartedAtLogonOpensNoPanel)
{
    app.startedByRunKey = 1;
    ASSERT_TRUE(CreateController() != nullptr);
    EXPECT_EQ(std::vector<std::string>{}, DrainMessages());
}

TEST_F(ControllerWindowTest, IconIsRetriedUntilTheShellTakesIt)
{
    shell.failures = {0, 3};

    ASSERT_TRUE(CreateController() != nullptr);

    EXPECT_EQ(4u, shell.calls.size());
    EXPECT_EQ(3, retryWaits);
    EXPECT_EQ((Lines{kAddFailed, "WM_CREATE: AddNotificationIcon() failed.\n", kAddFailed, kAddFailed,
                     "WM_CREATE: AddNotificationIcon() succeeded after 3 time(s) of retry.\n"}),
              ReadLogMessages());
}

TEST_F(ControllerWindowTest, NoIconAfterThirtyRetriesFailsTheCreation)
{
    shell.failures = {0, 1000};

    EXPECT_EQ(nullptr, CreateController());

    EXPECT_EQ(31u, shell.calls.size());
    EXPECT_EQ(30, retryWaits);
    Lines expected = {kAddFailed, "WM_CREATE: AddNotificationIcon() failed.\n"};
    expected.insert(expected.end(), 30, kAddFailed);
    expected.push_back("Cannot add Notification Icon.\n");
    EXPECT_EQ(expected, ReadLogMessages());
}

TEST_F(ControllerWindowTest, StartupToggleRewritesTheSettingsAndTellsTheAboutWindow)
{
    ASSERT_TRUE(CreateController() != nullptr);
    DrainMessages();
    app.showAtStartup = 1;
    HWND about = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 1, 1, nullptr, nullptr, app.instance, nullptr);
    app.aboutWindow = about;

    EXPECT_EQ(0, SendMessageW(window_, WM_COMMAND, ID_TOGGLESTARTUP, 0));
    EXPECT_EQ(0, app.showAtStartup);
    EXPECT_EQ("autostart=off\r\nmode=off\r\n", ReadSettingsFile());
    EXPECT_EQ(std::vector<std::string>{"32771 0"}, DrainMessages()) << "WM_STARTUPFLAGCHANGED to the About window";

    app.aboutWindow = nullptr;
    SendMessageW(window_, WM_COMMAND, ID_TOGGLESTARTUP, 0);
    EXPECT_EQ(1, app.showAtStartup);
    EXPECT_EQ("autostart=on\r\nmode=off\r\n", ReadSettingsFile());
    EXPECT_EQ(std::vector<std::string>{}, DrainMessages());
    DestroyWindow(about);
}

TEST_F(ControllerWindowTest, HideEndsTheProgram)
{
    ASSERT_TRUE(CreateController() != nullptr);
    DrainMessages();
    shell.calls.clear();

    SendMessageW(window_, WM_COMMAND, ID_HIDE, 0);

    EXPECT_FALSE(IsWindow(window_));
    EXPECT_EQ(Lines{kDelete}, shell.Described());
    for (int role = 0; role < kImageRoleCount; ++role)
        EXPECT_EQ(nullptr, app.images[role]) << "image role " << role;
    EXPECT_EQ(std::vector<std::string>{"18 0"}, DrainMessages()) << "WM_QUIT with exit code 0";
}

// The Restart Manager of an installer: the program registers to come back as
// at logon, agrees to close, and closes only when the session is really
// ending for it.
TEST_F(ControllerWindowTest, RestartManagerClosesItLikeHide)
{
    ImportHook hook("kernel32.dll", "RegisterApplicationRestart",
                    reinterpret_cast<const void*>(&RecordRestartRegistration));
    ASSERT_TRUE(hook.Installed());
    struct Case {
        UINT message;
        WPARAM wParam;
        DWORD lParam;
        LRESULT answer;
        bool closed;
    };
    const Case cases[] = {
        {WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP, TRUE, false},
        {WM_ENDSESSION, FALSE, ENDSESSION_CLOSEAPP, 0, false}, // another program refused
        {WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, 0, false},
        {WM_ENDSESSION, TRUE, ENDSESSION_CLOSEAPP, 0, true},
    };
    restartRegistrations.clear();
    ASSERT_TRUE(CreateController() != nullptr);
    EXPECT_EQ(Lines{"/byrunkey flags 0xb"}, restartRegistrations) << "no crash, hang or reboot restart";
    DrainMessages();
    for (const Case& c : cases) {
        SCOPED_TRACE("message " + std::to_string(c.message) + " " + std::to_string(c.wParam) + " " +
                     std::to_string(c.lParam));
        shell.calls.clear();
        EXPECT_EQ(c.answer, SendMessageW(window_, c.message, c.wParam, c.lParam));
        EXPECT_EQ(!c.closed, IsWindow(window_) != FALSE);
        EXPECT_EQ(c.closed ? Lines{kDelete} : Lines{}, shell.Described());
    }
    EXPECT_EQ(std::vector<std::string>{"18 0"}, DrainMessages()) << "WM_QUIT with exit code 0";
}

TEST_F(ControllerWindowTest, DebugCommandsDoNothing)
{
    ASSERT_TRUE(CreateController() != nullptr);
    DrainMessages();
    shell.calls.clear();

    EXPECT_EQ(0, SendMessageW(window_, WM_COMMAND, ID_POSTWMISTATIONARY, 0));
    EXPECT_EQ(0, SendMessageW(window_, WM_COMMAND, ID_POSTWMIMOBILE, 0));

    EXPECT_TRUE(IsWindow(window_));
    EXPECT_EQ(Lines{}, shell.Described());
    EXPECT_EQ(0, Counter("casl.write"));
    EXPECT_EQ(std::vector<std::string>{}, DrainMessages());
}

TEST_F(ControllerWindowTest, GuardTimerAllowsThePanelAgain)
{
    ASSERT_TRUE(CreateController() != nullptr);
    app.canShowModePanel = 0;

    SendMessageW(window_, WM_TIMER, 2, 0);
    EXPECT_EQ(0, app.canShowModePanel) << "other timers do nothing";
    SendMessageW(window_, WM_TIMER, PANEL_GUARD_TIMER, 0);
    EXPECT_EQ(1, app.canShowModePanel);
}

TEST_F(ControllerWindowTest, ConsoleReconnectReadsAgainAndRecreatesTheIcon)
{
    SetRecord({0x01, 0x00, 0x00, 0x00});
    ASSERT_NE(-1, InitThermalControl());
    ASSERT_TRUE(CreateController() != nullptr);
    shell.calls.clear();
    long readsBefore = Counter("casl.read");

    for (WPARAM event : {WTS_SESSION_LOCK, WTS_SESSION_UNLOCK, WTS_CONSOLE_DISCONNECT, WTS_REMOTE_CONNECT}) {
        EXPECT_EQ(0, SendMessageW(window_, WM_WTSSESSION_CHANGE, event, 0));
    }
    EXPECT_EQ(Lines{}, shell.Described());
    EXPECT_EQ(readsBefore, Counter("casl.read"));

    EXPECT_EQ(0, SendMessageW(window_, WM_WTSSESSION_CHANGE, WTS_CONSOLE_CONNECT, 0));

    EXPECT_LT(readsBefore, Counter("casl.read"));
    EXPECT_EQ("01 01 00 00", simfw::FormatBytes(Record())) << "no settings file: mode On";
    EXPECT_EQ("autostart=on\r\nmode=on\r\n", ReadSettingsFile());
    EXPECT_EQ((Lines{kDelete, kAddOn}), shell.Described());
}

TEST_F(ControllerWindowTest, TaskbarRestartAddsTheIconAgain)
{
    thermalState.mode = On;
    ASSERT_TRUE(CreateController() != nullptr);
    shell.calls.clear();

    SendMessageW(window_, app.taskbarCreatedMessage, 0, 0);
    EXPECT_EQ(Lines{kAddOn}, shell.Described());

    shell.failures.passing = shell.failures.calls; // the next call fails
    shell.failures.failing = 1;
    SendMessageW(window_, app.taskbarCreatedMessage, 0, 0);
    EXPECT_EQ(2u, shell.calls.size()) << "no retries";
    EXPECT_EQ((Lines{kAddFailed, "Cannot add Notification Icon.\n"}), ReadLogMessages());
}

TEST_F(ControllerWindowTest, RightClickShowsTheMenuAtTheCursor)
{
    ASSERT_TRUE(CreateController() != nullptr);
    SetCursorPos(300, 200);
    POINT cursor;
    GetCursorPos(&cursor);

    // The second menu under the setting for right-aligned drop-down menus.
    ImportHook metrics("user32.dll", "GetSystemMetrics", reinterpret_cast<const void*>(&FakeMetrics));
    metricsHook = &metrics;
    for (int showAtStartup : {1, 0}) {
        app.showAtStartup = showAtStartup;
        menuDropAlignment = !showAtStartup;
        SendMessageW(window_, WM_TRAYICON, 0, WM_RBUTTONUP);
    }
    metricsHook = nullptr;

    ASSERT_EQ(2u, shell.menus.size());
    for (size_t i = 0; i < 2; ++i) {
        const TrackedMenu& menu = shell.menus[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(static_cast<UINT>((i == 0 ? TPM_LEFTALIGN : TPM_RIGHTALIGN) | TPM_RIGHTBUTTON), menu.flags);
        EXPECT_EQ(cursor.x, menu.x);
        EXPECT_EQ(cursor.y, menu.y);
        EXPECT_EQ(window_, menu.owner);
        ASSERT_EQ(4u, menu.items.size());
        const UINT ids[] = {40001, 40002, 40003, 40004};
        const wchar_t* texts[] = {L"Set Vorn Kelvane Mode", L"About Vorn Kelvane\u2026",
                                  L"Show Vorn Kelvane icon on Startup", L"Hide"};
        const bool rtl = ExpectedRightToLeft();
        for (size_t item = 0; item < 4; ++item) {
            EXPECT_EQ(ids[item], menu.items[item].id);
            if (!rtl) {
                EXPECT_EQ(std::wstring(texts[item]), menu.items[item].text);
            }
            EXPECT_FALSE(menu.items[item].text.empty());
            EXPECT_EQ(rtl ? static_cast<UINT>(MFT_RIGHTORDER) : 0u, menu.items[item].type & MFT_RIGHTORDER);
        }
        EXPECT_TRUE(menu.items[0].state & MFS_DEFAULT);
        EXPECT_FALSE(menu.items[1].state & (MFS_DEFAULT | MFS_CHECKED));
        EXPECT_EQ(i == 0, (menu.items[2].state & MFS_CHECKED) != 0);
        EXPECT_FALSE(menu.items[3].state & MFS_CHECKED);
    }
}

TEST_F(ControllerWindowTest, OtherIconEvents)
{
    ASSERT_TRUE(CreateController() != nullptr);
    shell.calls.clear();

    SendMessageW(window_, WM_TRAYICON, 0, NIN_BALLOONTIMEOUT);
    SendMessageW(window_, WM_TRAYICON, 0, WM_MOUSEMOVE);
    SendMessageW(window_, WM_TRAYICON, 0, WM_LBUTTONDBLCLK);

    EXPECT_EQ(Lines{"NIM_MODIFY size 956 id 0 flags 0x80"}, shell.Described());
    EXPECT_TRUE(shell.menus.empty());
}

namespace {

const std::string kAddOff = "NIM_ADD size 956 id 0 flags 0x87 callback 0x8001 tip 'Vorn Kelvane - Off' icon";
const char kReadFailed[] = "GetThermalControl(): Get ThermalDiags.ThermalControl Failed 0x8004CAFE\n";

// The resume retry timer as the program sets and ends it. It is set for a
// minute instead, so that only the test's own ticks reach the window.
Lines timerCalls;

UINT_PTR WINAPI RecordSetTimer(HWND window, UINT_PTR id, UINT milliseconds, TIMERPROC procedure)
{
    if (id == RESUME_RETRY_TIMER) {
        timerCalls.push_back("set " + std::to_string(milliseconds));
        milliseconds = 60000;
    }
    return PlatformFunction<decltype(&SetTimer)>("user32.dll", "SetTimer")(window, id, milliseconds, procedure);
}

BOOL WINAPI RecordKillTimer(HWND window, UINT_PTR id)
{
    const BOOL killed = PlatformFunction<decltype(&KillTimer)>("user32.dll", "KillTimer")(window, id);
    if (id == RESUME_RETRY_TIMER)
        timerCalls.push_back(killed ? "kill" : "kill (none)");
    return killed;
}

class ResumeTest : public ControllerWindowTest {
protected:
    // A controller started with the firmware at On and these settings; then
    // the machine slept, and its firmware woke with the record afterSleep.
    void StartAndSleep(const char* settings, const std::vector<uint8_t>& afterSleep)
    {
        DeleteFileW(DiagnosticLogPath().c_str());
        WriteSettingsFile(settings);
        SetRecord({0x01, 0x01, 0x00, 0x00});
        ASSERT_NE(-1, InitThermalControl());
        ASSERT_TRUE(CreateController() != nullptr);
        SetRecord(afterSleep);
        shell.calls.clear();
    }
    void Power(WPARAM event) { SendMessageW(window_, WM_POWERBROADCAST, event, 0); }
};

} // namespace

TEST_F(ResumeTest, BringsTheFirmwareInLineWithTheSettingsOnce)
{
    struct Case {
        const char* settings;
        const char* record;
        long writes;
        std::string icon;
    };
    const Case cases[] = {
        {"autostart=on\r\nmode=on\r\n", "01 01 00 00", 1, kAddOn},   // the firmware reset the mode
        {"autostart=on\r\nmode=off\r\n", "01 00 00 00", 0, kAddOff}, // nothing to change
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.settings);
        StartAndSleep(c.settings, {0x01, 0x00, 0x00, 0x00});
        const long writes = Counter("casl.write");

        Power(PBT_APMRESUMEAUTOMATIC);

        EXPECT_EQ(c.record, simfw::FormatBytes(Record()));
        EXPECT_EQ(c.writes, Counter("casl.write") - writes);
        EXPECT_EQ(c.settings, ReadSettingsFile());
        EXPECT_EQ((Lines{kDelete, c.icon}), shell.Described());
        // The user's wake-up after the same resume is no second resume; the
        // next sleep's is.
        const long reads = Counter("casl.read");
        Power(PBT_APMRESUMESUSPEND);
        EXPECT_EQ(reads, Counter("casl.read"));
        Power(PBT_APMSUSPEND);
        Power(PBT_APMRESUMESUSPEND);
        EXPECT_LT(reads, Counter("casl.read"));
        EXPECT_EQ(Lines{}, ReadLogMessages());
        DestroyWindow(window_);
    }
}

TEST_F(ResumeTest, RetriesASilentFirmwareFromATimer)
{
    struct Case {
        int failedReads; // 0: the firmware never answers
        int ticks;
        const char* record;
    };
    const Case cases[] = {
        {2, 2, "01 01 00 00"}, // answers at the second retry: the saved mode goes back
        {0, 6, "01 00 00 00"}, // six retries, then the last known state stands
    };
    ImportHook setTimer("user32.dll", "SetTimer", reinterpret_cast<const void*>(&RecordSetTimer));
    ImportHook killTimer("user32.dll", "KillTimer", reinterpret_cast<const void*>(&RecordKillTimer));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failedReads);
        StartAndSleep("autostart=on\r\nmode=on\r\n", {0x01, 0x00, 0x00, 0x00});
        Inject("casl.read", static_cast<HRESULT>(0x8004CAFE), c.failedReads);
        timerCalls.clear();

        Power(PBT_APMRESUMEAUTOMATIC);
        // The program's timer ticks every 10 s; its ticks are sent here
        // until the program ends it.
        for (int tick = 0; tick < 10 && (timerCalls.empty() || timerCalls.back() != "kill"); ++tick) {
            EXPECT_EQ(Lines{}, shell.Described()) << "nothing until the firmware answers or the retries end";
            timerCalls.push_back("tick");
            SendMessageW(window_, WM_TIMER, RESUME_RETRY_TIMER, 0);
        }

        Lines expected = {"kill (none)", "set 10000"};
        expected.insert(expected.end(), static_cast<size_t>(c.ticks), "tick");
        expected.push_back("kill");
        EXPECT_EQ(expected, timerCalls);
        EXPECT_EQ(c.record, simfw::FormatBytes(Record()));
        EXPECT_EQ((Lines{kDelete, kAddOn}), shell.Described());
        EXPECT_FALSE(KillTimer(window_, RESUME_RETRY_TIMER)) << "the retries are over";
        EXPECT_EQ(Lines(c.failedReads ? c.failedReads : 7, kReadFailed), ReadLogMessages()) << "one per failed read";
        EXPECT_EQ(0, retryWaits) << "no pause on the window's thread";
        Inject("casl.read", S_OK);
        DestroyWindow(window_);
    }
}

TEST_F(ControllerWindowTest, RealMenuClosesWithoutACommandOnEscapeOrAClickElsewhere)
{
    // The platform's own menu tracker, not the recorder.
    ImportHook realMenu("user32.dll", "TrackPopupMenuEx", reinterpret_cast<const void*>(&TrackAndRecord));
    ImportHook foreground("user32.dll", "SetForegroundWindow", reinterpret_cast<const void*>(&RecordForeground));
    ImportHook post("user32.dll", "PostMessageW", reinterpret_cast<const void*>(&RecordPost));
    app.showAtStartup = 1;
    ASSERT_TRUE(CreateController() != nullptr);
    menuOwner = window_;
    DrainMessages();
    struct Case {
        const char* name;
        TIMERPROC close;
    };
    for (const Case& c : {Case{"Escape", PressEscape}, Case{"a click elsewhere", ClickElsewhere}}) {
        SCOPED_TRACE(c.name);
        menuEvents.clear();
        menuCalls.clear();
        SetCursorPos(300, 200);
        UINT_PTR close = SetTimer(nullptr, 0, 300, c.close);
        UINT_PTR guard = SetTimer(nullptr, 0, 3000, EndTheMenuByHand);

        SendMessageW(window_, WM_TRAYICON, 0, WM_RBUTTONUP);

        KillTimer(nullptr, close);
        KillTimer(nullptr, guard);
        EXPECT_EQ(Lines{"menu shown"}, menuEvents);
        EXPECT_EQ((Lines{"foreground", "menu", "WM_NULL"}), menuCalls);
        EXPECT_FALSE(IsWindowVisible(FindWindowW(L"#32768", nullptr)));
        EXPECT_EQ(std::vector<std::string>{}, DrainMessages()) << "no command";
    }
    EXPECT_TRUE(IsWindow(window_));
    EXPECT_EQ(1, app.showAtStartup);
    EXPECT_FALSE(FileExists(SettingsFilePath()));
}

TEST_F(ControllerWindowTest, ConsoleReconnectKeepsTheUsersSettingsButNotTheInstallDefault)
{
    struct Case {
        const char* name;
        const char* settings; // nullptr: no per-user file
        std::vector<uint8_t> firmware;
        const char* record;
        const char* settingsAfter;
        int showAtStartup;
        const char* tip;
    };
    const Case cases[] = {
        {"only the install folder's default", nullptr, {0x01, 0x00, 0x00, 0x00}, "01 01 00 00",
         "autostart=on\r\nmode=on\r\n", 1, "On"},
        {"settings asking for On", "autostart=off\nmode=on\n", {0x01, 0x00, 0x00, 0x07}, "01 01 00 07",
         "autostart=off\nmode=on\n", 0, "On"},
        {"settings asking for Off", "autostart=on\nmode=off\n", {0x01, 0x01, 0x00, 0x00}, "01 00 00 00",
         "autostart=on\nmode=off\n", 1, "Off"},
    };
    WriteDefaultSettingsFile("autostart=off\nmode=off\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DeleteFileW(SettingsFilePath().c_str());
        SetRecord({0x01, 0x01, 0x00, 0x00});
        ASSERT_NE(-1, InitThermalControl());
        app.showAtStartup = 1;
        ASSERT_TRUE(CreateController() != nullptr);
        // Meanwhile, in another session, the firmware and the file changed.
        SetRecord(c.firmware);
        if (c.settings)
            WriteSettingsFile(c.settings);
        shell.calls.clear();

        EXPECT_EQ(0, SendMessageW(window_, WM_WTSSESSION_CHANGE, WTS_CONSOLE_CONNECT, 0));

        EXPECT_EQ(c.record, simfw::FormatBytes(Record()));
        EXPECT_EQ(c.settingsAfter, ReadSettingsFile());
        EXPECT_EQ(c.showAtStartup, app.showAtStartup);
        EXPECT_EQ((Lines{kDelete, "NIM_ADD size 956 id 0 flags 0x87 callback 0x8001 tip 'Vorn Kelvane - " +
                                      std::string(c.tip) + "' icon"}),
                  shell.Described());
        DestroyWindow(window_);
        DrainMessages();
    }
}

// gpupdate's broadcast and the policy key's own change: an enforced mode
// goes into the firmware once and the user's file stays as it is (LF line
// ends: never rewritten); lifting the policy gives the user's mode back, or
// the first start's defaults to a user without a file. A change of the policy
// reads the firmware afresh. A mode kelvanectl set is read back into icon and
// file.
TEST_F(ControllerWindowTest, PolicyChangesAndOutsideSetsReachFirmwareIconAndFile)
{
    const std::string kTipOff = "NIM_MODIFY size 956 id 0 flags 0x86 tip 'Vorn Kelvane - Off' icon";
    const std::string kTipOn = "NIM_MODIFY size 956 id 0 flags 0x86 tip 'Vorn Kelvane - On' icon";
    const char kUsersFile[] = "autostart=on\nmode=off\n";
    WriteSettingsFile(kUsersFile);
    app.showAtStartup = 1;
    ASSERT_NE(-1, InitThermalControl());
    ASSERT_TRUE(CreateController() != nullptr);
    DrainMessages();
    struct Step {
        const char* what;
        void (*change)();
        UINT message;
        const wchar_t* area;
        const char* record;
        long writes;
        Lines shell;
        const char* file;
    };
    const Step steps[] = {
        {"Mode off, broadcast", [] { WritePolicyText(L"Mode", L"off"); }, WM_SETTINGCHANGE, L"Policy", "01 00 00 00", 1,
         {kTipOff}, kUsersFile},
        {"the same broadcast again", [] {}, WM_SETTINGCHANGE, L"Policy", "01 00 00 00", 1, {}, kUsersFile},
        {"Mode on, another area's broadcast", [] { WritePolicyText(L"Mode", L"on"); }, WM_SETTINGCHANGE, L"Environment",
         "01 00 00 00", 1, {}, kUsersFile},
        {"the key's change", [] {}, WM_POLICYCHANGED, nullptr, "01 01 00 00", 2, {kTipOn}, kUsersFile},
        {"lifted", [] { RemovePolicyKey(); }, WM_POLICYCHANGED, nullptr, "01 00 00 00", 3, {kTipOff}, kUsersFile},
        {"Mode off after another session set On", [] {
             SetRecord({0x01, 0x01, 0x00, 0x00});
             WritePolicyText(L"Mode", L"off");
         },
         WM_POLICYCHANGED, nullptr, "01 00 00 00", 4, {kTipOff}, kUsersFile},
        {"lifted for a user without a file: the first start's defaults",
         [] {
             DeleteFileW(SettingsFilePath().c_str());
             WriteDefaultSettingsFile("autostart=off\nmode=off\n");
             RemovePolicyKey();
         },
         WM_POLICYCHANGED, nullptr, "01 00 00 00", 5, {kTipOff}, "autostart=off\r\nmode=off\r\n"},
        {"kelvanectl set on", [] { SetRecord({0x01, 0x01, 0x00, 0x07}); }, WM_MODESETOUTSIDE, nullptr, "01 01 00 07", 5,
         {kTipOn}, "autostart=off\r\nmode=on\r\n"},
    };
    const long writesBefore = Counter("casl.write");
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        shell.calls.clear();
        step.change();
        SendMessageW(window_, step.message, 0, reinterpret_cast<LPARAM>(step.area));
        EXPECT_EQ(step.record, simfw::FormatBytes(Record()));
        EXPECT_EQ(step.writes, Counter("casl.write") - writesBefore);
        EXPECT_EQ(step.shell, shell.Described());
        EXPECT_EQ(step.file, ReadSettingsFile());
    }

    // ShowIcon 0: the menu's item shows it, greyed, and its command does nothing.
    ASSERT_TRUE(WritePolicyNumber(L"ShowIcon", 0));
    SendMessageW(window_, WM_POLICYCHANGED, 0, 0);
    SendMessageW(window_, WM_COMMAND, ID_TOGGLESTARTUP, 0);
    SendMessageW(window_, WM_TRAYICON, 0, WM_RBUTTONUP);
    ASSERT_EQ(1u, shell.menus.size());
    const UINT state = shell.menus[0].items.at(2).state;
    EXPECT_TRUE((state & MFS_GRAYED) && !(state & MFS_CHECKED)) << std::hex << state;
    EXPECT_EQ(0, app.showAtStartup);
    EXPECT_EQ("autostart=off\r\nmode=on\r\n", ReadSettingsFile());
    EXPECT_EQ(Lines{}, ReadLogMessages());
}

// The firmware's server may be out of process: a message another thread sent
// (kelvanectl's notice, Group Policy's broadcast) is answered before the
// firmware is called, or Windows refuses the call.
DWORD sendStateAtFirmwareCall = 0;

HRESULT WINAPI RecordSendState(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** object)
{
    sendStateAtFirmwareCall |= InSendMessageEx(nullptr);
    return PlatformFunction<decltype(&CoCreateInstance)>("ole32.dll", "CoCreateInstance")(clsid, outer, context, iid,
                                                                                           object);
}

struct {
    HWND window;
    UINT message;
    LPARAM lParam;
} sent;

DWORD WINAPI SendFromOtherThread(void*)
{
    SendMessageW(sent.window, sent.message, 0, sent.lParam);
    return 0;
}

TEST_F(ControllerWindowTest, MessagesFromOtherThreadsAreAnsweredBeforeTheFirmwareCall)
{
    ImportHook hook("ole32.dll", "CoCreateInstance", reinterpret_cast<const void*>(&RecordSendState));
    ASSERT_TRUE(hook.Installed());
    ASSERT_TRUE(CreateController() != nullptr);
    DrainMessages();
    struct Case {
        const char* what;
        UINT message;
        const wchar_t* area;
    } const cases[] = {{"kelvanectl's notice", WM_MODESETOUTSIDE, nullptr}, {"policy broadcast", WM_SETTINGCHANGE, L"Policy"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.message == WM_SETTINGCHANGE)
            WritePolicyText(L"Mode", L"off");
        sendStateAtFirmwareCall = 0;
        sent = {window_, c.message, reinterpret_cast<LPARAM>(c.area)};
        ScopedKernelHandle sender(CreateThread(nullptr, 0, &SendFromOtherThread, nullptr, 0, nullptr));
        ASSERT_TRUE(sender);
        HANDLE waited = sender.Get();
        while (MsgWaitForMultipleObjects(1, &waited, FALSE, 5000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1)
            DrainMessages();
        EXPECT_EQ(DWORD(ISMEX_SEND | ISMEX_REPLIED), sendStateAtFirmwareCall);
    }
}

// COM dispatches messages sent to the thread while an out-of-process call is
// outstanding: here the firmware double sends a notice during the fresh read
// of a switch to Off. The notice waits until the switch has returned;
// firmware, mode and file then agree.
TEST_F(ControllerWindowTest, NoticesDuringAFirmwareCallWaitUntilItReturns)
{
    struct Case {
        const char* what;
        UINT message;
        WPARAM wParam;
        const char* area;
        const char* file; // the user's file, rewritten or as it was
    } const cases[] = {
        {"kelvanectl's notice", WM_MODESETOUTSIDE, 0, "", "autostart=on\r\nmode=off\r\n"},
        {"policy broadcast", WM_SETTINGCHANGE, 1, "Policy", "autostart=on\nmode=off\n"},
        {"policy key changed", WM_POLICYCHANGED, 0, "", "autostart=on\nmode=off\n"},
        {"console reconnect", WM_WTSSESSION_CHANGE, WTS_CONSOLE_CONNECT, "", "autostart=on\nmode=off\n"},
        {"resume", WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, "", "autostart=on\nmode=off\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RemovePolicyKey();
        SetRecord({0x01, 0x01, 0x00, 0x00});
        WriteSettingsFile("autostart=on\nmode=off\n");
        app.policy = {};
        app.showAtStartup = 1;
        ASSERT_EQ(On, InitThermalControl());
        ASSERT_TRUE(CreateController() != nullptr);
        DrainMessages();
        if (c.message == WM_SETTINGCHANGE || c.message == WM_POLICYCHANGED)
            WritePolicyText(L"Mode", L"off");
        Set("casl.read.send", std::to_string(reinterpret_cast<ULONG_PTR>(window_)) + " " + std::to_string(c.message) +
                                  " " + std::to_string(c.wParam) + " " + c.area);
        const long readsBefore = Counter("casl.read");

        // As the mode panel switches: one read, one write, nothing inside.
        EXPECT_EQ(1, SetKelvaneMode(Off));

        EXPECT_EQ(1, Counter("casl.read") - readsBefore) << "firmware reads inside the switch";
        EXPECT_EQ("01 00 00 00", simfw::FormatBytes(Record()));
        EXPECT_EQ(Off, GetKelvaneMode());
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
        EXPECT_LT(1, Counter("casl.read") - readsBefore) << "the deferred notice read no firmware";
        EXPECT_EQ("01 00 00 00", simfw::FormatBytes(Record()));
        EXPECT_EQ(Off, GetKelvaneMode());
        EXPECT_EQ(c.file, ReadSettingsFile());
        DestroyWindow(window_);
        DrainMessages();
    }
    RemovePolicyKey();
}

// Group Policy refreshes a key by deleting its values and writing them again,
// all inside the machine's policy section. The double of that section below
// is what userenv's EnterCriticalPolicySection hands the program.
struct {
    HANDLE section;       // mutex: held by the refresh
    HANDLE readerWaiting; // the program asks for the section
    int entered;
} groupPolicy;

HANDLE WINAPI EnterSectionDouble(BOOL machine)
{
    ++groupPolicy.entered;
    SetEvent(groupPolicy.readerWaiting);
    WaitForSingleObject(groupPolicy.section, 10000);
    return machine ? groupPolicy.section : nullptr;
}

BOOL WINAPI LeaveSectionDouble(HANDLE section)
{
    return ReleaseMutex(section);
}

ImportHook* lookUpHook = nullptr;

FARPROC WINAPI LookUpSectionDouble(HMODULE module, LPCSTR name)
{
    const bool byName = reinterpret_cast<ULONG_PTR>(name) > 0xFFFF;
    if (byName && lstrcmpA(name, "EnterCriticalPolicySection") == 0)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&EnterSectionDouble));
    if (byName && lstrcmpA(name, "LeaveCriticalPolicySection") == 0)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&LeaveSectionDouble));
    return lookUpHook->Original<decltype(&GetProcAddress)>()(module, name);
}

struct Refresh {
    const wchar_t* mode; // written again, or nullptr: the policy is gone
    HANDLE deleted;
};

DWORD WINAPI RefreshPolicy(void* parameter)
{
    const auto* refresh = static_cast<const Refresh*>(parameter);
    WaitForSingleObject(groupPolicy.section, INFINITE);
    RemovePolicyKey();
    SetEvent(refresh->deleted);
    // The program, told of the deletion, waits for the section; a program that
    // does not ask for it reads the empty key meanwhile.
    WaitForSingleObject(groupPolicy.readerWaiting, 2000);
    if (refresh->mode)
        WritePolicyText(L"Mode", refresh->mode);
    ReleaseMutex(groupPolicy.section);
    return 0;
}

TEST_F(ControllerWindowTest, PolicyRefreshesCostNoWriteUnlessThePolicyChanged)
{
    ImportHook lookUp("kernel32.dll", "GetProcAddress", reinterpret_cast<const void*>(&LookUpSectionDouble));
    ASSERT_TRUE(lookUp.Installed());
    lookUpHook = &lookUp;
    ScopedKernelHandle section(CreateMutexW(nullptr, FALSE, nullptr));
    ScopedKernelHandle readerWaiting(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    groupPolicy = {section.Get(), readerWaiting.Get(), 0};
    WriteSettingsFile("autostart=on\nmode=on\n");
    app.showAtStartup = 1;
    WritePolicyText(L"Mode", L"off");
    app.policy = ReadKelvanePolicy();
    ASSERT_NE(-1, InitThermalControl());
    ApplyProfile(BuiltInOn);
    ASSERT_EQ("01 00 00 00", simfw::FormatBytes(Record()));
    ASSERT_TRUE(CreateController() != nullptr);
    DrainMessages();
    struct Step {
        const char* what;
        const wchar_t* mode;
        int times;
        long writes; // firmware writes of all the step's refreshes
        const char* record;
    } const steps[] = {
        {"unchanged Mode off", L"off", 5, 0, "01 00 00 00"},
        {"changed to on", L"on", 1, 1, "01 01 00 00"},
        {"unchanged Mode on", L"on", 5, 0, "01 01 00 00"},
        {"Mode off again", L"off", 1, 1, "01 00 00 00"},
        {"lifted: the user's own mode", nullptr, 1, 1, "01 01 00 00"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        const long writesBefore = Counter("casl.write");
        for (int i = 0; i < step.times; ++i) {
            ScopedKernelHandle deleted(CreateEventW(nullptr, TRUE, FALSE, nullptr));
            Refresh refresh = {step.mode, deleted.Get()};
            ScopedKernelHandle thread(CreateThread(nullptr, 0, &RefreshPolicy, &refresh, 0, nullptr));
            ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(deleted.Get(), 5000));
            // What the watch of the policies' key posts on the deletion.
            SendMessageW(window_, WM_POLICYCHANGED, 0, 0);
            ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread.Get(), 5000));
            // And on the values written again.
            SendMessageW(window_, WM_POLICYCHANGED, 0, 0);
        }
        EXPECT_EQ(step.writes, Counter("casl.write") - writesBefore);
        EXPECT_EQ(step.record, simfw::FormatBytes(Record()));
    }
    EXPECT_LT(0, groupPolicy.entered);
    RemovePolicyKey();
}
