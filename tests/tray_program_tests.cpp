// The real Kelvane.exe under Wine on the simulated firmware: its exits, the
// single-instance rule, the hidden controller window, the settings file,
// the commands a test can send it, and its icon in the notification area.
#include <windows.h>
#include <oleacc.h>
#include <shellapi.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app_state.h"
#include "footprint.h"
#include "kv_version.h"
#include "log_reader.h"
#include "mode_notice.h"
#include "scoped_com.h"
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

// Beside Kelvane.exe, as the package installs it: kelvanectl talks only to
// the tray program of its own folder.
std::wstring KelvanectlExe()
{
    std::wstring tray = WindowsPathOf(KELVANE_EXE);
    std::wstring copy = tray.substr(0, tray.find_last_of(L'\\') + 1) + L"kelvanectl.exe";
    CopyFileW(WindowsPathOf(KELVANECTL_EXE).c_str(), copy.c_str(), FALSE);
    return copy;
}

struct ConsoleRun {
    long exitCode;
    std::string out;
    std::string err;
};

// Takes what the pipe holds now, without waiting for more.
void TakeWaiting(HANDLE pipe, std::string& bytes)
{
    char buffer[512];
    DWORD waiting = 0, read = 0;
    while (PeekNamedPipe(pipe, nullptr, 0, nullptr, &waiting, nullptr) && waiting &&
           ReadFile(pipe, buffer, sizeof(buffer), &read, nullptr) && read)
        bytes.append(buffer, read);
}

// Runs kelvanectl.exe with its output and errors in pipes, as a script would.
ConsoleRun RunKelvanectl(const std::wstring& arguments)
{
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE outRead, outWrite, errRead, errWrite;
    if (!CreatePipe(&outRead, &outWrite, &inherit, 0))
        return {-1, "", "no pipe"};
    if (!CreatePipe(&errRead, &errWrite, &inherit, 0)) {
        CloseHandle(outRead);
        CloseHandle(outWrite);
        return {-1, "", "no pipe"};
    }
    ScopedKernelHandle out(outRead), err(errRead);
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
    std::wstring program = KelvanectlExe();
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    PROCESS_INFORMATION info = {};
    const BOOL started = CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                        nullptr, nullptr, &startup, &info);
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    if (!started)
        return {-1, "", "not started, error " + std::to_string(GetLastError())};
    CloseHandle(info.hThread);
    ScopedKernelHandle process(info.hProcess);
    // Both pipes drained while the program runs, until it ends: a process it
    // started (Wine's desktop, on the first window of a session) may hold the
    // pipes open long after it.
    ConsoleRun run = {-1, "", ""};
    DWORD waited = WAIT_TIMEOUT;
    for (DWORD start = GetTickCount(); waited == WAIT_TIMEOUT && GetTickCount() - start < 20000;) {
        waited = WaitForSingleObject(process.Get(), 10);
        TakeWaiting(out.Get(), run.out);
        TakeWaiting(err.Get(), run.err);
    }
    DWORD code = 0;
    if (waited == WAIT_OBJECT_0 && GetExitCodeProcess(process.Get(), &code))
        run.exitCode = static_cast<long>(code);
    return run;
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

// A Mode policy that is neither "on" nor "off" leaves the user's own mode in
// force; the log names it (and the trace test sees its event, 1102).
TEST_F(TrayProgramTest, AnInvalidPolicyValueCountsAsNotSet)
{
    SetRecord({0x01, 0x01, 0x00, 0x00});
    WriteSettingsFile("autostart=off\nmode=off\n");
    ASSERT_TRUE(WritePolicyText(L"Mode", L"auto"));

    RunningProgram program(KelvaneExe(), L"/byrunkey");

    EXPECT_EQ(0, program.WaitForExit(20000));
    EXPECT_EQ("01 00 00 00", simfw::FormatBytes(Record()));
    EXPECT_EQ(Lines{"ReadKelvanePolicy(): Policy value Mode is not valid and counts as not set.\n"}, ReadLogMessages());
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

// Every row of kelvanectl's table with no tray program running, on a
// firmware that answers and one that does not: output, errors, exit code,
// and what firmware, settings file and log hold afterwards.
TEST_F(TrayProgramTest, KelvanectlCommandsWithoutTheTrayProgram)
{
    const std::string kReadFailed = "GetThermalControl(): Get ThermalDiags.ThermalControl Failed 0x8004CAFE\n";
    const std::string kUsageLine = "Usage: kelvanectl get\n";
    const std::string kNotACommand = "kelvanectl: not a command; \"kelvanectl --help\" prints the usage.\n";
    const char kNoValidMode[] = "kelvanectl: the firmware holds no valid cooling mode";
    struct Case {
        const wchar_t* arguments;
        std::vector<uint8_t> record;
        const char* settings; // "": no file
        const wchar_t* modePolicy;
        int showIconPolicy; // -1: none
        const char* fault;  // injected failure point, or ""
        long exitCode;
        const char* out;
        const char* err; // the start of stderr
        const char* recordAfter;
        const char* settingsAfter;
        Lines log;
    };
    const Case cases[] = {
        {L"get", {1, 1, 0, 0}, "", nullptr, -1, "", 0, "on\n", "", "01 01 00 00", "", {}},
        {L"GET", {1, 0, 0, 0x3C}, "", nullptr, -1, "", 0, "off\n", "", "01 00 00 3C", "", {}},
        {L"get", {1, 1, 0, 0}, "", nullptr, -1, "casl.read", 1, "",
         "kelvanectl: the firmware did not answer (0x8004CAFE); see Kelvane.log.\n", "01 01 00 00", "", {kReadFailed}},
        {L"set off", {1, 1, 0, 0x3C}, "autostart=off\nmode=on\n", nullptr, -1, "", 0, "", "", "01 00 00 3C",
         "autostart=off\r\nmode=off\r\n", {}},
        {L"set on", {1, 0, 0, 0}, "", nullptr, -1, "", 0, "", "", "01 01 00 00", "autostart=on\r\nmode=on\r\n", {}},
        {L"set on", {1, 0, 0, 0}, "", nullptr, -1, "casl.write", 1, "", "kelvanectl: the firmware did not take the mode",
         "01 00 00 00", "",
         {"SetThermalControl(): Set Diags.ThermalControl failed 0x8004CAFE\n",
          "SetKelvaneMode(): SetThermalControl() failed 0x8004CAFE\n"}},
        {L"set on", {1, 0, 0, 0}, "autostart=on\nmode=off\n", L"off", -1, "", 3, "",
         "kelvanectl: refused: the cooling mode is set by the policy \"Mode\"", "01 00 00 00", "autostart=on\nmode=off\n",
         {}},
        // What the policy enforces is applied; the user's file stays as it is.
        {L"set on", {1, 0, 0, 0x3C}, "autostart=on\nmode=off\n", L"on", -1, "", 0, "", "", "01 01 00 3C",
         "autostart=on\nmode=off\n", {}},
        {L"set off", {1, 1, 0, 0}, "", L"ON", -1, "", 3, "", "kelvanectl: refused", "01 01 00 00", "", {}},
        {L"set on", {1, 0, 0, 0}, "", L"on", -1, "casl.read", 1, "", "kelvanectl: the firmware did not answer",
         "01 00 00 00", "", {kReadFailed}},
        {L"get", {1, 1, 1, 0}, "", nullptr, -1, "", 4, "", kNoValidMode, "01 01 01 00", "", {}},
        {L"status", {1, 7, 0, 0}, "", nullptr, -1, "", 4, "", kNoValidMode, "01 07 00 00", "", {}},
        {L"version", {1, 1, 0, 0}, "", nullptr, -1, "", 0, KV_PRODUCT_VERSION "\n", "", "01 01 00 00", "", {}},
        // The start-up and policy-refresh task's run: nothing without a
        // policy, the enforced mode written when it differs (an invalid
        // record repaired), the value's letter case ignored.
        {L"apply-policy", {1, 0, 0, 0}, "", nullptr, -1, "", 0, "", "", "01 00 00 00", "", {}},
        {L"apply-policy", {1, 1, 0, 0x3C}, "autostart=on\nmode=on\n", L"off", -1, "", 0, "off\n", "", "01 00 00 3C",
         "autostart=on\nmode=on\n", {}},
        {L"APPLY-POLICY", {1, 1, 1, 0}, "", L"On", -1, "", 0, "on\n", "", "01 01 00 00", "", {}},
        {L"apply-policy", {1, 1, 0, 0}, "", L"off", -1, "casl.write", 1, "", "kelvanectl: the firmware did not take",
         "01 01 00 00", "",
         {"SetThermalControl(): Set Diags.ThermalControl failed 0x8004CAFE\n",
          "SetKelvaneMode(): SetThermalControl() failed 0x8004CAFE\n"}},
        {L"apply-policy", {1, 1, 0, 0}, "", L"auto", -1, "", 0, "", "", "01 01 00 00", "",
         {"ReadKelvanePolicy(): Policy value Mode is not valid and counts as not set.\n"}},
        {L"status", {1, 1, 0, 0}, "", nullptr, -1, "", 0,
         "mode: on\npolicy: none\nshow icon at startup: yes\ntray program: not running\ntray program sessions: none\n", "", "01 01 00 00", "", {}},
        {L"status", {1, 0, 0, 0}, "autostart=off\nmode=off\n", L"on", 1, "", 0,
         "mode: off\npolicy: on\nshow icon at startup: yes (policy)\ntray program: not running\ntray program sessions: none\n", "", "01 00 00 00",
         "autostart=off\nmode=off\n", {}},
        {L"status --json", {1, 1, 0, 0}, "autostart=off\nmode=on\n", nullptr, -1, "", 0,
         "{\"mode\":\"on\",\"policy\":null,\"showIcon\":false,\"showIconPolicy\":null,\"trayRunning\":false,\"traySessions\":[]}\n", "",
         "01 01 00 00", "autostart=off\nmode=on\n", {}},
        {L"status --json", {1, 0, 0, 0}, "", L"off", 0, "", 0,
         "{\"mode\":\"off\",\"policy\":\"off\",\"showIcon\":false,\"showIconPolicy\":false,\"trayRunning\":false,\"traySessions\":[]}\n", "",
         "01 00 00 00", "", {}},
        {L"status --json", {1, 1, 0, 0}, "", nullptr, -1, "casl.read", 1, "", "kelvanectl: the firmware did not answer",
         "01 01 00 00", "", {kReadFailed}},
        {L"--help", {1, 1, 0, 0}, "", nullptr, -1, "", 0, kUsageLine.c_str(), "", "01 01 00 00", "", {}},
        {L"", {1, 1, 0, 0}, "", nullptr, -1, "", 2, "", kNotACommand.c_str(), "01 01 00 00", "", {}},
        {L"set", {1, 1, 0, 0}, "", nullptr, -1, "", 2, "", kNotACommand.c_str(), "01 01 00 00", "", {}},
        {L"set auto", {1, 1, 0, 0}, "", nullptr, -1, "", 2, "", kNotACommand.c_str(), "01 01 00 00", "", {}},
        {L"status --xml", {1, 1, 0, 0}, "", nullptr, -1, "", 2, "", kNotACommand.c_str(), "01 01 00 00", "", {}},
        {L"get on", {1, 1, 0, 0}, "", nullptr, -1, "", 2, "", kNotACommand.c_str(), "01 01 00 00", "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("kelvanectl ") + std::string(c.arguments, c.arguments + wcslen(c.arguments)));
        ResetProductFootprint();
        SetRecord(c.record);
        if (*c.settings)
            WriteSettingsFile(c.settings);
        if (c.modePolicy) {
            ASSERT_TRUE(WritePolicyText(L"Mode", c.modePolicy));
        }
        if (c.showIconPolicy != -1) {
            ASSERT_TRUE(WritePolicyNumber(L"ShowIcon", static_cast<DWORD>(c.showIconPolicy)));
        }
        if (*c.fault)
            Inject(c.fault, static_cast<HRESULT>(0x8004CAFE));

        const ConsoleRun run = RunKelvanectl(c.arguments);

        EXPECT_EQ(c.exitCode, run.exitCode);
        // Usage is checked by its first line, everything else whole.
        EXPECT_EQ(c.out, c.out == kUsageLine ? run.out.substr(0, kUsageLine.size()) : run.out);
        EXPECT_EQ(c.err, run.err.substr(0, std::string(c.err).size()));
        if (c.exitCode != 0) {
            EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << "one line: " << run.err;
        }
        EXPECT_EQ(std::string::npos, (run.out + run.err).find('\r')) << "LF line ends";
        EXPECT_EQ(c.recordAfter, simfw::FormatBytes(Record()));
        EXPECT_EQ(c.settingsAfter, ReadSettingsFile());
        EXPECT_EQ(c.log, ReadLogMessages());
    }

    // A firmware that already holds the enforced mode is not written again.
    ResetProductFootprint();
    SetRecord({1, 1, 0, 0});
    ASSERT_TRUE(WritePolicyText(L"Mode", L"on"));
    const long writes = Counter("casl.write");
    EXPECT_EQ(0, RunKelvanectl(L"apply-policy").exitCode);
    EXPECT_EQ(0, RunKelvanectl(L"set on").exitCode);
    EXPECT_EQ(writes, Counter("casl.write"));
}

// With Kelvane.exe running in the session: status sees it, and a set (two
// in a row here) reaches its icon and its own idea of the mode at once, so
// that firmware, file and tray program agree.
// A Kelvane.exe from another folder is not the installed one: kelvanectl
// neither counts it nor talks to it.
TEST_F(TrayProgramTest, KelvanectlIgnoresATrayProgramFromAnotherFolder)
{
    wchar_t temp[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"kv_other_tray";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring other = folder + L"\\Kelvane.exe";
    ASSERT_TRUE(CopyFileW(WindowsPathOf(KELVANE_EXE).c_str(), other.c_str(), FALSE));
    {
        RunningProgram program(other, L"/byrunkey");
        ASSERT_TRUE(StartAndFindWindow(program) != nullptr);
        EXPECT_EQ("{\"mode\":\"on\",\"policy\":null,\"showIcon\":true,\"showIconPolicy\":null,\"trayRunning\":false,"
                  "\"traySessions\":[]}\n",
                  RunKelvanectl(L"status --json").out);
    }
    DeleteFileW(other.c_str());
    RemoveDirectoryW(folder.c_str());
}

TEST_F(TrayProgramTest, KelvanectlSetReachesTheRunningTrayProgram)
{
    WriteSettingsFile("autostart=on\r\nmode=on\r\n");
    RunningProgram program(KelvaneExe(), L"/byrunkey");
    HWND window = StartAndFindWindow(program);
    ASSERT_TRUE(window != nullptr);

    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    EXPECT_EQ("{\"mode\":\"on\",\"policy\":null,\"showIcon\":true,\"showIconPolicy\":null,\"trayRunning\":true,"
              "\"traySessions\":[" + std::to_string(session) + "]}\n",
              RunKelvanectl(L"status --json").out);
    EXPECT_EQ(0, RunKelvanectl(L"set on").exitCode);
    EXPECT_EQ(0, RunKelvanectl(L"set off").exitCode);
    EXPECT_EQ("01 00 00 00", simfw::FormatBytes(Record()));
    EXPECT_EQ("autostart=on\r\nmode=off\r\n", ReadSettingsFile());

    // kelvanectl in another session sets the firmware and this session's
    // notice (once the tray program is done with the last set's).
    SendMessageW(window, WM_NULL, 0, 0);
    SetRecord({0x01, 0x01, 0x00, 0x00});
    ScopedKernelHandle notice(OpenEventW(EVENT_MODIFY_STATE, FALSE, ModeNoticeName(session).c_str()));
    ASSERT_TRUE(notice) << "error " << GetLastError();
    SetEvent(notice.Get());
    EXPECT_TRUE(WaitForSettings("autostart=on\r\nmode=on\r\n", 5000)) << ReadSettingsFile();
    SetRecord({0x01, 0x00, 0x00, 0x00});
    SetEvent(notice.Get());
    EXPECT_TRUE(WaitForSettings("autostart=on\r\nmode=off\r\n", 5000)) << ReadSettingsFile();

    // The toggle rewrites the file from the tray program's own state.
    SendMessageW(window, WM_COMMAND, ID_TOGGLESTARTUP, 0);
    EXPECT_EQ("autostart=off\r\nmode=off\r\n", ReadSettingsFile()) << "the tray program took the new mode";

    PostMessageW(window, WM_COMMAND, ID_HIDE, 0);
    EXPECT_EQ(0, program.WaitForExit(10000));
    EXPECT_EQ(Lines{kWineUnregisterLine}, ReadLogMessages());
}

// A Mode policy set while Kelvane.exe runs reaches the firmware with one
// write, without a broadcast (the key's own change notification), and the
// panel's radios become unavailable; the user's file stays.
TEST_F(TrayProgramTest, PolicySetWhileRunningIsEnforcedAtOnce)
{
    WriteSettingsFile("autostart=on\r\nmode=on\r\n");
    RunningProgram program(KelvaneExe(), L"/byrunkey");
    HWND window = StartAndFindWindow(program);
    ASSERT_TRUE(window != nullptr);
    const long writesBefore = Counter("casl.write");

    ASSERT_TRUE(WritePolicyText(L"Mode", L"off"));
    for (int waited = 0; waited < 5000 && simfw::FormatBytes(Record()) != "01 00 00 00"; waited += 50)
        Sleep(50);

    EXPECT_EQ("01 00 00 00", simfw::FormatBytes(Record()));
    EXPECT_EQ(1, Counter("casl.write") - writesBefore) << "one write";
    EXPECT_EQ("autostart=on\r\nmode=on\r\n", ReadSettingsFile());

    SendMessageW(window, WM_COMMAND, ID_SHOWMODEPANEL, 0);
    HWND panel = WaitForWindow(kModePanelClass, nullptr, 5000);
    ASSERT_TRUE(panel != nullptr);
    {
        ScopedComApartment com(CoInitialize(nullptr));
        ComPtr<IAccessible> object;
        ASSERT_EQ(S_OK, AccessibleObjectFromWindow(panel, static_cast<DWORD>(OBJID_CLIENT), IID_IAccessible,
                                                   object.PutVoid()));
        for (long radio : {1L, 2L}) {
            VARIANT child;
            child.vt = VT_I4;
            child.lVal = radio;
            ScopedVariant state;
            EXPECT_EQ(S_OK, object->get_accState(child, state.Get()));
            EXPECT_EQ(static_cast<LONG>(STATE_SYSTEM_UNAVAILABLE), state->lVal & STATE_SYSTEM_UNAVAILABLE)
                << "radio " << radio << " state 0x" << std::hex << state->lVal;
            EXPECT_EQ(DISP_E_MEMBERNOTFOUND, object->accDoDefaultAction(child));
        }
        EXPECT_EQ(0u, object.Reset()) << "final Release";
    }
    EXPECT_EQ(3, RunKelvanectl(L"set on").exitCode);
    EXPECT_EQ("01 00 00 00", simfw::FormatBytes(Record()));

    PostMessageW(window, WM_COMMAND, ID_HIDE, 0);
    EXPECT_EQ(0, program.WaitForExit(10000));
    EXPECT_EQ(1, Counter("casl.write") - writesBefore);
    EXPECT_EQ(Lines{kWineUnregisterLine}, ReadLogMessages());
}

// The logon start under the ShowIcon policy: 0 applies the enforced mode and
// ends without an icon whatever the user chose; 1 shows the icon although
// the user turned it off.
TEST_F(TrayProgramTest, ShowIconPolicyDecidesTheLogonStart)
{
    struct Case {
        DWORD showIcon;
        const char* settings;
        bool keepsRunning;
    };
    for (const Case& c : {Case{0, "autostart=on\r\nmode=on\r\n", false}, Case{1, "autostart=off\r\nmode=on\r\n", true}}) {
        SCOPED_TRACE(c.showIcon);
        ResetProductFootprint();
        SetRecord({1, 1, 0, 0});
        WriteSettingsFile(c.settings);
        ASSERT_TRUE(WritePolicyNumber(L"ShowIcon", c.showIcon));
        ASSERT_TRUE(WritePolicyText(L"Mode", L"off"));

        RunningProgram program(KelvaneExe(), L"/byrunkey");
        HWND window = c.keepsRunning ? StartAndFindWindow(program) : nullptr;
        if (!c.keepsRunning) {
            EXPECT_EQ(0, program.WaitForExit(20000));
        }
        EXPECT_EQ(c.keepsRunning, window != nullptr);
        EXPECT_EQ("01 00 00 00", simfw::FormatBytes(Record()));
        EXPECT_EQ(1, Counter("casl.write"));
        EXPECT_EQ(c.settings, ReadSettingsFile()) << "the user's file stays";
        if (window) {
            PostMessageW(window, WM_COMMAND, ID_HIDE, 0);
            EXPECT_EQ(0, program.WaitForExit(10000));
        }
    }
}
