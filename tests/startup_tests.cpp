// Start-up in-process: the switches, the single-instance rule, the retries
// of the firmware read, and the reconciliation of Kelvane.ini with the
// firmware (both fallbacks).
#include <windows.h>

#include <string>
#include <vector>

#include "app_state.h"
#include "cooling_mode.h"
#include "footprint.h"
#include "import_hook.h"
#include "log_reader.h"
#include "scoped_win32.h"
#include "settings_file.h"
#include "startup.h"
#include "tray_fixture.h"

using Lines = std::vector<std::string>;

namespace {

const HRESULT kServerFault = static_cast<HRESULT>(0x8004CAFE);
const char kGetFailed[] = "GetThermalControl(): Get ThermalDiags.ThermalControl Failed 0x8004CAFE\n";
const char kNoAccelerometer[] = "This system does not support accelerometer.\n";

class StartupTest : public TrayTest {
protected:
    // Reads the firmware as start-up does before the settings.
    static void StartWithRecord(const std::vector<uint8_t>& record)
    {
        SetRecord(record);
        ASSERT_NE(-1, InitThermalControl());
    }
    static std::string FirmwareRecord() { return simfw::FormatBytes(Record()); }
};

std::vector<MSG> received;

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND)
        received.push_back({window, message, wParam, lParam, 0, {0, 0}});
    return DefWindowProcW(window, message, wParam, lParam);
}

// A window of the controller's class and title, as a running first instance
// has; it records the commands it receives.
HWND CreateFirstInstance()
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = RecordingProc;
    windowClass.hInstance = app.instance;
    windowClass.lpszClassName = kControllerClass;
    if (!RegisterClassW(&windowClass))
        return nullptr;
    return CreateWindowExW(0, kControllerClass, L"Vorn Kelvane", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr,
                           app.instance, nullptr);
}

} // namespace

TEST_F(StartupTest, NoSystraySwitchEndsAtOnce)
{
    for (const wchar_t* arguments : {L"-nosystray", L"/NOSYSTRAY", L"-NoSysTrayAndMore"}) {
        EXPECT_EQ(0, RunKelvane(app.instance, arguments));
    }
    EXPECT_EQ(0, Counter("objects.created"));
    EXPECT_FALSE(FileExists(DiagnosticLogPath()));
    EXPECT_FALSE(FileExists(SettingsFilePath()));
}

TEST_F(StartupTest, SwitchesCountOnlyAtTheStart)
{
    // Without an accelerometer the start ends right after the firmware read.
    SetRecord({0x00, 0x00, 0x00, 0x00});

    EXPECT_EQ(0, RunKelvane(app.instance, L"x -nosystray"));
    EXPECT_EQ(0, app.startedByRunKey);
    EXPECT_EQ(0, RunKelvane(app.instance, L"/byrunkeyed"));
    EXPECT_EQ(1, app.startedByRunKey);
    EXPECT_EQ(0, RunKelvane(app.instance, L"-BYRUNKEY"));
    EXPECT_EQ(1, app.startedByRunKey);
    EXPECT_EQ(0, RunKelvane(app.instance, L"now /byrunkey"));
    EXPECT_EQ(0, app.startedByRunKey);

    EXPECT_EQ(Lines(4, kNoAccelerometer), ReadLogMessages());
}

TEST_F(StartupTest, SecondInstanceAsksTheFirstToOpenItsPanel)
{
    HWND first = CreateFirstInstance();
    ASSERT_TRUE(first != nullptr);
    received.clear();

    EXPECT_EQ(0, RunKelvane(app.instance, L""));

    ASSERT_EQ(1u, received.size());
    EXPECT_EQ(first, received[0].hwnd);
    EXPECT_EQ(40001u, received[0].wParam);
    EXPECT_EQ(0, received[0].lParam);
    EXPECT_EQ(0, Counter("objects.created")) << "the firmware is not touched";
    DestroyWindow(first);
    UnregisterClassW(kControllerClass, app.instance);
}

namespace {

// A first instance whose thread is busy (in its start-up retries) until the
// event is set.
DWORD WINAPI RunBusyFirstInstance(void* busy)
{
    HWND first = CreateFirstInstance();
    WaitForSingleObject(busy, 15000);
    DestroyWindow(first);
    return 0;
}

// The bound the program asks for is recorded; the wait itself is cut short.
ImportHook* sendTimeoutHook = nullptr;
std::vector<std::string> sendTimeouts;

LRESULT WINAPI QuickSendMessageTimeout(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT flags,
                                       UINT timeout, PDWORD_PTR result)
{
    sendTimeouts.push_back(std::to_string(flags) + " " + std::to_string(timeout));
    return sendTimeoutHook->Original<decltype(&SendMessageTimeoutW)>()(window, message, wParam, lParam, flags, 50,
                                                                        result);
}

} // namespace

TEST_F(StartupTest, SecondInstanceEndsWhenTheFirstDoesNotAnswer)
{
    ScopedKernelHandle busy(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ScopedKernelHandle thread(CreateThread(nullptr, 0, RunBusyFirstInstance, busy.Get(), 0, nullptr));
    for (int i = 0; i < 100 && !FindWindowW(kControllerClass, L"Vorn Kelvane"); ++i)
        Sleep(20);
    ASSERT_TRUE(FindWindowW(kControllerClass, L"Vorn Kelvane") != nullptr);

    ImportHook hook("user32.dll", "SendMessageTimeoutW", reinterpret_cast<const void*>(&QuickSendMessageTimeout));
    ASSERT_TRUE(hook.Installed());
    sendTimeoutHook = &hook;
    sendTimeouts.clear();
    const DWORD started = GetTickCount();
    EXPECT_EQ(0, RunKelvane(app.instance, L""));
    const DWORD took = GetTickCount() - started;
    SetEvent(busy.Get());
    WaitForSingleObject(thread.Get(), 20000);
    UnregisterClassW(kControllerClass, app.instance);

    EXPECT_EQ(std::vector<std::string>{std::to_string(SMTO_ABORTIFHUNG) + " 5000"}, sendTimeouts)
        << "flags and bound of the one call";
    EXPECT_GT(3000u, took) << "the bounded call, not until the first instance answers";
    EXPECT_EQ(Lines{"RunKelvane(): The running instance did not answer within 5000 ms, error 1460\n"},
              ReadLogMessages());
}

TEST_F(StartupTest, FirmwareAnsweringLateIsRetried)
{
    SetRecord({0x00, 0x00, 0x00, 0x00});
    Inject("casl.read", kServerFault, 5);

    EXPECT_EQ(0, RunKelvane(app.instance, L""));

    Lines expected;
    for (int i = 0; i < 5; ++i) {
        expected.push_back(kGetFailed);
        expected.push_back("WM_CREATE: InitThermalControl() failed.\n");
    }
    expected.push_back("WM_CREATE: InitThermalControl() succeeded after 5 time(s) of retry\n");
    expected.push_back(kNoAccelerometer);
    EXPECT_EQ(expected, ReadLogMessages());
    EXPECT_EQ(5, retryWaits);
}

TEST_F(StartupTest, FirmwareNeverAnsweringEndsAfterThirtyRetries)
{
    Inject("casl.read", kServerFault);

    EXPECT_EQ(0, RunKelvane(app.instance, L""));

    Lines expected;
    for (int i = 0; i < 30; ++i) {
        expected.push_back(kGetFailed);
        expected.push_back("WM_CREATE: InitThermalControl() failed.\n");
    }
    expected.push_back(kGetFailed);
    expected.push_back("This system does not support Vorn Kelvane.\n");
    EXPECT_EQ(expected, ReadLogMessages());
    EXPECT_EQ(30, retryWaits);
    EXPECT_EQ(31, Counter("casl.read"));
    EXPECT_FALSE(FileExists(SettingsFilePath()));
}

TEST_F(StartupTest, StartedAtLogonWithoutTheIconAppliesTheSavedMode)
{
    SetRecord({0x01, 0x01, 0x00, 0x00});
    WriteSettingsFile("autostart=off\nmode=off\n");

    EXPECT_EQ(0, RunKelvane(app.instance, L"/byrunkey"));

    EXPECT_EQ("01 00 00 00", FirmwareRecord());
    EXPECT_EQ(0, app.showAtStartup);
    EXPECT_EQ(nullptr, app.controllerWindow);
    EXPECT_EQ("autostart=off\nmode=off\n", ReadSettingsFile()) << "nothing to rewrite";
    EXPECT_EQ(Lines{}, ReadLogMessages());
}

// The settings file and the firmware brought in line at start-up (the
// install folder's defaults for a first start) and on a reconnect (On).
TEST_F(StartupTest, ApplyProfileBringsFileAndFirmwareInLine)
{
    const char kOffOff[] = "autostart=off\nmode=off\n";
    struct Case {
        const char* name;
        const char* defaults; // the install folder's file; nullptr: none
        const char* settings; // the user's file; nullptr: none
        uint8_t mode;         // the firmware's mode byte before
        bool failingWrite;
        ProfileFallback fallback;
        int showAfter;
        const char* recordAfter;
        int writes;
        const char* settingsAfter;
    };
    const Case cases[] = {
        {"matching the firmware", nullptr, "autostart=off\nmode=on\n", 1, false, InstallDefaults, 0, "01 01 00 00", 0,
         "autostart=off\nmode=on\n"},
        {"no autostart", nullptr, "mode=off\n", 1, false, InstallDefaults, 1, "01 00 00 00", 1,
         "autostart=on\r\nmode=off\r\n"},
        {"no autostart, mode in force", nullptr, "mode=off\n", 0, false, InstallDefaults, 1, "01 00 00 00", 0,
         "autostart=on\r\nmode=off\r\n"},
        // The install folder's default is for a missing file only: an empty
        // file is the user's, and means On.
        {"empty file", kOffOff, "", 0, false, InstallDefaults, 1, "01 01 00 00", 1, "autostart=on\r\nmode=on\r\n"},
        {"first start, no defaults", nullptr, nullptr, 1, false, InstallDefaults, 1, "01 01 00 00", 1,
         "autostart=on\r\nmode=on\r\n"},
        {"first start, defaults file", kOffOff, nullptr, 1, false, InstallDefaults, 0, "01 00 00 00", 1,
         "autostart=off\r\nmode=off\r\n"},
        {"first start, defaults in force", kOffOff, nullptr, 0, false, InstallDefaults, 0, "01 00 00 00", 1,
         "autostart=off\r\nmode=off\r\n"},
        {"failed write, empty file", nullptr, "", 0, true, InstallDefaults, 1, "01 00 00 00", 1,
         "autostart=on\r\nmode=off\r\n"},
        {"failed write, the other mode", nullptr, "autostart=off\nmode=on\n", 0, true, InstallDefaults, 0,
         "01 00 00 00", 1, "autostart=off\r\nmode=off\r\n"},
        // The install folder's default is for the first start only.
        {"reconnect, no file", kOffOff, nullptr, 0, false, BuiltInOn, 1, "01 01 00 00", 1,
         "autostart=on\r\nmode=on\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetProductFootprint();
        if (c.defaults)
            WriteDefaultSettingsFile(c.defaults);
        StartWithRecord({0x01, c.mode, 0x00, 0x00});
        if (c.settings)
            WriteSettingsFile(c.settings);
        if (c.failingWrite)
            Inject("casl.write", kServerFault);
        app.showAtStartup = 0;

        ApplyProfile(c.fallback);

        EXPECT_EQ(c.showAfter, app.showAtStartup);
        EXPECT_EQ(c.recordAfter, FirmwareRecord());
        EXPECT_EQ(c.recordAfter[4] == '1' ? On : Off, GetKelvaneMode());
        EXPECT_EQ(c.writes, Counter("casl.write"));
        EXPECT_EQ(c.settingsAfter, ReadSettingsFile());
    }
}

namespace {

// What AllowSetForegroundWindow was given, and how many commands the first
// instance had received by then.
std::vector<std::string> allowed;

BOOL WINAPI RecordAllowSetForegroundWindow(DWORD process)
{
    allowed.push_back(std::to_string(process) + " after " + std::to_string(received.size()) + " commands");
    return TRUE;
}

} // namespace

TEST_F(StartupTest, SecondInstanceAllowsTheFirstTheForegroundBeforeAsking)
{
    ImportHook hook("user32.dll", "AllowSetForegroundWindow",
                    reinterpret_cast<const void*>(&RecordAllowSetForegroundWindow));
    ASSERT_TRUE(hook.Installed());
    HWND first = CreateFirstInstance();
    ASSERT_TRUE(first != nullptr);
    received.clear();
    allowed.clear();

    EXPECT_EQ(0, RunKelvane(app.instance, L""));

    // The running instance is this test process.
    EXPECT_EQ(Lines{std::to_string(GetCurrentProcessId()) + " after 0 commands"}, allowed);
    EXPECT_EQ(1u, received.size());
    DestroyWindow(first);
    UnregisterClassW(kControllerClass, app.instance);
}
