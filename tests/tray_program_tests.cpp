// The real Kelvane.exe under Wine on the simulated firmware: its exits, the
// single-instance rule, the hidden controller window, the settings file,
// the commands a test can send it, and its icon in the notification area.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "app_state.h"
#include "log_reader.h"
#include "program_runner.h"
#include "tray_fixture.h"

using Lines = std::vector<std::string>;

namespace {

const wchar_t kTitle[] = L"Vorn Kelvane";
// Wine's WTSUnRegisterSessionNotification is a stub that always fails, so
// under Wine every regular end of the program logs it.
const char kWineUnregisterLine[] = "WM_DESTROY: WTSUnRegisterSessionNotification() failed\n";

std::wstring KelvaneExe()
{
    return WindowsPathOf(KELVANE_EXE);
}

BOOL CALLBACK CountIconWindows(HWND window, LPARAM count)
{
    wchar_t name[64] = L"";
    GetClassNameW(window, name, ARRAYSIZE(name));
    if (std::wstring(name) == L"__winex11_tray_icon")
        ++*reinterpret_cast<int*>(count);
    EnumChildWindows(window, CountIconWindows, count);
    return TRUE;
}

// Icons in Wine's notification area: one window each.
int CountTrayIcons()
{
    int count = 0;
    EnumWindows(CountIconWindows, reinterpret_cast<LPARAM>(&count));
    return count;
}

bool WaitForTrayIcons(int expected, DWORD milliseconds)
{
    for (DWORD waited = 0; waited < milliseconds; waited += 50) {
        if (CountTrayIcons() == expected)
            return true;
        Sleep(50);
    }
    return CountTrayIcons() == expected;
}

bool WaitForSettings(const std::string& expected, DWORD milliseconds)
{
    for (DWORD waited = 0; waited < milliseconds; waited += 50) {
        if (ReadSettingsFile() == expected)
            return true;
        Sleep(50);
    }
    return ReadSettingsFile() == expected;
}

class TrayProgramTest : public TrayTest {
protected:
    void SetUp() override
    {
        TrayTest::SetUp();
        // A Kelvane.exe that a killed run left behind would take the new one's place.
        if (HWND left = FindWindowW(kControllerClass, kTitle)) {
            DWORD id = 0;
            GetWindowThreadProcessId(left, &id);
            ScopedKernelHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
            if (process) {
                TerminateProcess(process.Get(), 99);
                WaitForSingleObject(process.Get(), 5000);
            }
        }
        ASSERT_EQ(nullptr, FindWindowW(kControllerClass, kTitle)) << "a Kelvane.exe of an earlier run still runs";
    }

    // Starts Kelvane.exe and waits for its controller window.
    HWND StartAndFindWindow(RunningProgram& program)
    {
        EXPECT_TRUE(program.Started()) << GetLastError();
        HWND window = WaitForWindow(kControllerClass, kTitle, 20000);
        EXPECT_TRUE(window != nullptr) << "no controller window";
        return window;
    }
};

} // namespace

TEST_F(TrayProgramTest, NoSystrayInCapitalsEndsAtOnceAndWritesNothing)
{
    RunningProgram program(KelvaneExe(), L"-NOSYSTRAY");

    EXPECT_EQ(0, program.WaitForExit(10000));
    EXPECT_EQ(0, Counter("objects.created"));
    EXPECT_FALSE(FileExists(DiagnosticLogPath()));
    EXPECT_FALSE(FileExists(SettingsFilePath()));
}

TEST_F(TrayProgramTest, StartedAtLogonWithAutostartOffOnlyAppliesTheMode)
{
    SetRecord({0x01, 0x01, 0x00, 0x3C});
    WriteSettingsFile("autostart=off\nmode=off\n");

    RunningProgram program(KelvaneExe(), L"/byrunkey");

    EXPECT_EQ(0, program.WaitForExit(20000));
    EXPECT_EQ("01 00 00 3C", simfw::FormatBytes(Record()));
    EXPECT_EQ(nullptr, FindWindowW(kControllerClass, kTitle));
    EXPECT_EQ("autostart=off\nmode=off\n", ReadSettingsFile());
    EXPECT_EQ(Lines{}, ReadLogMessages());
}

TEST_F(TrayProgramTest, NoAccelerometerEndsWithItsLine)
{
    SetRecord({0x00, 0x01, 0x00, 0x00});

    RunningProgram program(KelvaneExe(), L"");

    EXPECT_EQ(0, program.WaitForExit(20000));
    EXPECT_EQ(Lines{"This system does not support accelerometer.\n"}, ReadLogMessages());
    EXPECT_FALSE(FileExists(SettingsFilePath()));
}

TEST_F(TrayProgramTest, RunsHiddenAsOneInstanceAndTakesItsCommands)
{
    const int iconsBefore = CountTrayIcons();
    RunningProgram first(KelvaneExe(), L"");
    HWND window = StartAndFindWindow(first);
    ASSERT_TRUE(window != nullptr);

    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_TRUE(WaitForSettings("autostart=on\r\nmode=on\r\n", 5000)) << ReadSettingsFile();
    EXPECT_TRUE(WaitForTrayIcons(iconsBefore + 1, 5000)) << CountTrayIcons() << " icons";

    {
        SCOPED_TRACE("second instance");
        RunningProgram second(KelvaneExe(), L"");
        EXPECT_EQ(0, second.WaitForExit(20000));
        EXPECT_TRUE(first.StillRunning());
        EXPECT_EQ(window, FindWindowW(kControllerClass, kTitle));
    }
    {
        SCOPED_TRACE("start-up toggle");
        EXPECT_EQ(0, SendMessageW(window, WM_COMMAND, ID_TOGGLESTARTUP, 0));
        EXPECT_EQ("autostart=off\r\nmode=on\r\n", ReadSettingsFile());
        SendMessageW(window, WM_COMMAND, ID_TOGGLESTARTUP, 0);
        EXPECT_EQ("autostart=on\r\nmode=on\r\n", ReadSettingsFile());
    }
    {
        SCOPED_TRACE("hide");
        PostMessageW(window, WM_COMMAND, ID_HIDE, 0);
        EXPECT_EQ(0, first.WaitForExit(10000));
        EXPECT_TRUE(WaitForTrayIcons(iconsBefore, 5000)) << CountTrayIcons() << " icons";
    }
    EXPECT_EQ(Lines{kWineUnregisterLine}, ReadLogMessages());
}

TEST_F(TrayProgramTest, TaskbarRestartAddsTheIconAgain)
{
    const int iconsBefore = CountTrayIcons();
    RunningProgram program(KelvaneExe(), L"/byrunkey");
    HWND window = StartAndFindWindow(program);
    ASSERT_TRUE(window != nullptr);
    ASSERT_TRUE(WaitForTrayIcons(iconsBefore + 1, 5000));

    // The icon goes, as with a crashed shell; the restarted shell broadcasts.
    NOTIFYICONDATAW data = {};
    data.cbSize = sizeof(data);
    data.hWnd = window;
    data.uID = 0;
    ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &data));
    ASSERT_TRUE(WaitForTrayIcons(iconsBefore, 5000));
    DWORD_PTR result;
    SendMessageTimeoutW(HWND_BROADCAST, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0, SMTO_ABORTIFHUNG, 5000,
                        &result);

    EXPECT_TRUE(WaitForTrayIcons(iconsBefore + 1, 5000)) << CountTrayIcons() << " icons";
    PostMessageW(window, WM_COMMAND, ID_HIDE, 0);
    EXPECT_EQ(0, program.WaitForExit(10000));
    EXPECT_EQ(Lines{kWineUnregisterLine}, ReadLogMessages());
}

TEST_F(TrayProgramTest, FirmwareAnsweringOnTheSecondTry)
{
    Inject("casl.read", static_cast<HRESULT>(0x8004CAFE), 1);

    RunningProgram program(KelvaneExe(), L"/byrunkey");
    HWND window = StartAndFindWindow(program);

    EXPECT_EQ((Lines{"GetThermalControl(): Get ThermalDiags.ThermalControl Failed 0x8004CAFE\n",
                     "WM_CREATE: InitThermalControl() failed.\n",
                     "WM_CREATE: InitThermalControl() succeeded after 1 time(s) of retry\n"}),
              ReadLogMessages());
    if (window)
        PostMessageW(window, WM_COMMAND, ID_HIDE, 0);
    EXPECT_EQ(0, program.WaitForExit(10000));
}

TEST_F(TrayProgramTest, ResumePutsTheSavedModeBackIntoTheFirmware)
{
    WriteSettingsFile("autostart=on\r\nmode=on\r\n");
    RunningProgram program(KelvaneExe(), L"/byrunkey");
    HWND window = StartAndFindWindow(program);
    ASSERT_TRUE(window != nullptr);

    // The firmware woke with its mode reset; the system says it resumed.
    SetRecord({0x01, 0x00, 0x00, 0x00});
    PostMessageW(window, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0);
    PostMessageW(window, WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0);
    PostMessageW(window, WM_COMMAND, ID_HIDE, 0);

    EXPECT_EQ(0, program.WaitForExit(10000));
    EXPECT_EQ("01 01 00 00", simfw::FormatBytes(Record()));
    EXPECT_EQ(1, Counter("casl.write")) << "one resume, one write";
    EXPECT_EQ(Lines{kWineUnregisterLine}, ReadLogMessages());
}
