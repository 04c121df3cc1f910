// The install and uninstall sequences run in this process against the
// doubles, with the message box intercepted: the switches, the exit codes,
// the lines of both logs and what each sequence leaves behind.
#include <windows.h>
#include <objbase.h>
#include <wbemcli.h>
#include <wtsapi32.h>

#include <optional>
#include <string>
#include <vector>

#include "event_recorder.h"
#include "import_hook.h"
#include "install_action.h"
#include "install_fixture.h"
#include "log_reader.h"
#include "status_text.h"

namespace {

const char kUnsupported[] = "Install: This system does not support Kelvane (does not support accelerometer or "
                            "thermal control or both).\n";
const char kCompleted[] = "Install: Custom Setup completed successfully.\n";
const char kTaskFailed[] = "Install: Failed adding a task to the task scheduler.\n";
const char kBoxShown[] = "Install: Message box shown to the user.\n";
const char kNoBoxForAdministrator[] = "Install: No message box: the user is Administrator.\n";

struct MessageBoxCall {
    HWND owner;
    std::wstring text;
    std::wstring caption;
    UINT style;
};
std::vector<MessageBoxCall> messageBoxes;

int WINAPI RecordMessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style)
{
    messageBoxes.push_back({owner, text ? text : L"<null>", caption ? caption : L"<null>", style});
    return IDOK;
}

class InstallSequenceTest : public InstallActionTest {
protected:
    void SetUp() override
    {
        InstallActionTest::SetUp();
        messageBoxes.clear();
        ASSERT_TRUE(boxHook_.Installed());
    }
    void TearDown() override
    {
        EXPECT_EQ(0, LiveObjects()) << "objects of the doubles were not released";
        InstallActionTest::TearDown();
    }

    static bool Registered()
    {
        return RegistryKeyExists(HKEY_LOCAL_MACHINE, kItemClassKey) && simts::TaskExists(Machine(), kTaskPath);
    }
    static bool NothingRegistered()
    {
        return DumpRegistryTree(HKEY_LOCAL_MACHINE, kItemClassKey).empty() &&
               !RegistryKeyExists(HKEY_LOCAL_MACHINE, kItemNamespaceKey) && SchedulerState().empty();
    }

    ImportHook boxHook_{"user32.dll", "MessageBoxW", reinterpret_cast<const void*>(&RecordMessageBox)};
};

} // namespace

TEST(InstallSwitchTest, OnlyTheStartOfTheArgumentTextIsCompared)
{
    struct Case {
        const wchar_t* commandLine;
        InstallSwitch expected;
    };
    const Case cases[] = {
        {L"KvInstallAction.exe -install", InstallSwitch::Install},
        {L"KvInstallAction.exe /install", InstallSwitch::Install},
        {L"\"C:\\Program Files\\Quellmark\\KvInstallAction.exe\" /Install", InstallSwitch::Install},
        {L"KvInstallAction.exe -INSTALL", InstallSwitch::Install},
        {L"KvInstallAction.exe -installer", InstallSwitch::Install},
        {L"KvInstallAction.exe \t  -install extra words", InstallSwitch::Install},
        {L"KvInstallAction.exe -uninstall", InstallSwitch::Uninstall},
        {L"KvInstallAction.exe /UnInstall", InstallSwitch::Uninstall},
        {L"KvInstallAction.exe -uninstallnow", InstallSwitch::Uninstall},
        {L"KvInstallAction.exe -uninstal", InstallSwitch::None},
        {L"KvInstallAction.exe -instal", InstallSwitch::None},
        {L"KvInstallAction.exe install", InstallSwitch::None},
        {L"KvInstallAction.exe --install", InstallSwitch::None},
        {L"KvInstallAction.exe", InstallSwitch::None},
        {L"KvInstallAction.exe    ", InstallSwitch::None},
        {L"\"KvInstallAction.exe\"", InstallSwitch::None},
        {L"\"C:\\a b\\KvInstallAction.exe\" -uninstall", InstallSwitch::Uninstall},
        {L"", InstallSwitch::None},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(static_cast<int>(c.expected), static_cast<int>(ParseInstallSwitch(SkipProgramName(c.commandLine))))
            << Narrow(c.commandLine);
    }
    EXPECT_EQ(static_cast<int>(InstallSwitch::None), static_cast<int>(ParseInstallSwitch(SkipProgramName(nullptr))));
}

TEST(InstallSwitchTest, TheUiWordAndTheWindowStationDecideTheBox)
{
    struct Case {
        const wchar_t* arguments;
        int uiLevel;
    };
    const Case levels[] = {
        {L"-install", -1},          {L"-install ui=2", 2},        {L"/install UI=5", 5},
        {L"-install x ui=3", 3},    {L"-install ui=", -1},        {L"-install ui=2x", -1},
        {L"-installui=2", -1},      {L"-install ui=34", 34},      {L"-install ui=99999999999", -1},
        {L"", -1},
    };
    for (const Case& c : levels)
        EXPECT_EQ(c.uiLevel, ReadUiLevel(c.arguments)) << Narrow(c.arguments);
    const Case sessions[] = {
        {L"-install ui=5 session=3", 3}, {L"-install session=0 ui=5", 0}, {L"-install session=", -1},
        {L"-install ui=5", -1},          {L"-installsession=2", -1},
        {L"-install session=1000", 1000}, {L"-install session=65536", 65536},
        {L"-install session=2147483648", -1},
    };
    for (const Case& c : sessions)
        EXPECT_EQ(c.uiLevel, ReadInstallingSession(c.arguments)) << Narrow(c.arguments);

    struct Decision {
        int uiLevel;
        bool visible;
        int session;
        UnsupportedBox box;
    };
    // 34 is 2 with INSTALLUILEVEL_HIDECANCEL: still silent. Invisible (session
    // 0 on Windows), an interactive installation's box goes to its session.
    const Decision decisions[] = {
        {-1, true, -1, UnsupportedBox::Shown},   {5, true, 1, UnsupportedBox::Shown},
        {3, true, -1, UnsupportedBox::Shown},    {2, true, 1, UnsupportedBox::Silent},
        {34, true, -1, UnsupportedBox::Silent},  {0, true, -1, UnsupportedBox::Silent},
        {5, false, -1, UnsupportedBox::NoVisibleDesktop}, {-1, false, -1, UnsupportedBox::NoVisibleDesktop},
        {5, false, 0, UnsupportedBox::NoVisibleDesktop},  {-1, false, 2, UnsupportedBox::NoVisibleDesktop},
        {5, false, 2, UnsupportedBox::SentToInstallingSession}, {3, false, 1, UnsupportedBox::SentToInstallingSession},
        {2, false, 1, UnsupportedBox::Silent},
        // 0x40 is INSTALLUILEVEL_PROGRESSONLY (msiexec /passive): unattended.
        {0x43, true, -1, UnsupportedBox::Silent}, {0x45, false, 2, UnsupportedBox::Silent},
        {0x23, false, 2, UnsupportedBox::SentToInstallingSession},
    };
    for (const Decision& d : decisions) {
        EXPECT_EQ(static_cast<int>(d.box), static_cast<int>(DecideUnsupportedBox(d.uiLevel, d.visible, d.session)))
            << d.uiLevel << (d.visible ? " visible" : " invisible") << " session " << d.session;
    }
    EXPECT_TRUE(HasVisibleWindowStation()) << "the test session's window station is interactive";

    for (const wchar_t* rollback : {L"-uninstall rollback", L"/uninstall x ROLLBACK"})
        EXPECT_TRUE(IsRollback(rollback)) << Narrow(rollback);
    for (const wchar_t* removal : {L"-uninstall", L"-uninstallrollback", L"-uninstall rollbacks", L""})
        EXPECT_FALSE(IsRollback(removal)) << Narrow(removal);
}

TEST_F(InstallSequenceTest, ASupportedMachineIsRegisteredAndOnlyTheCopyHearsOfIt)
{
    CreateSetupLogCopyFolder();
    struct Case {
        uint8_t flags;
        bool taskThere; // an earlier installation's task, with an action of its own
    };
    simts::Properties fresh;
    for (const Case& c : {Case{0x01, false}, Case{0xFF, false}, Case{0x01, true}}) {
        SCOPED_TRACE(std::to_string(c.flags) + (c.taskThere ? " with the task already there" : ""));
        DeleteFileW(simfw::MachineFilePath().c_str());
        SetRecord({c.flags, 0x01, 0x00, 0x00});
        DeleteFileW(SetupLogCopyPath().c_str());
        if (c.taskThere) {
            AddFolder(kMakerPath);
            AddFolder(kProductPath);
            simfw::UpdateMachine([](simfw::Machine& machine) {
                simts::WriteTask(machine, kTaskPath, {{"action.1.Path", "C:\\old\\Kelvane.exe"}, {"register.flags", "6"}});
            });
        }

        EXPECT_EQ(0, RunInstallAction(L"KvInstallAction.exe -install"));

        EXPECT_TRUE(Registered());
        if (fresh.empty())
            fresh = TaskProperties(kTaskPath);
        EXPECT_EQ(fresh, TaskProperties(kTaskPath)) << "the task is registered whole again";
        EXPECT_EQ(Entries{kCompleted}, ReadSetupLog(SetupLogCopyPath()));
        EXPECT_EQ(Entries{}, ReadSetupLog(SetupLogPath()));
        EXPECT_EQ(0u, messageBoxes.size());
        EXPECT_EQ("1", Machine().Get("last.wmi.commands"));
        EXPECT_TRUE(ThreadHasNoApartment());
    }
}

TEST_F(InstallSequenceTest, ASuccessfulInstallWithoutTheCopyFolderWritesNoLine)
{
    EXPECT_EQ(0, RunInstallAction(L"KvInstallAction.exe /install"));
    EXPECT_TRUE(Registered());
    EXPECT_FALSE(FileExists(SetupLogPath())) << "a line was written";
    EXPECT_FALSE(FileExists(SetupLogCopyPath()));
}

TEST_F(InstallSequenceTest, AnUnsupportedOrUnreachableFirmwareFailsWithTheBox)
{
    CreateSetupLogCopyFolder();
    struct Case {
        const char* name;
        std::vector<uint8_t> record;
        const char* failure;
    };
    const Case cases[] = {
        {"bit 0 clear", {0xFE, 0x01, 0x00, 0x00}, nullptr},
        {"all zero", {0x00, 0x00, 0x00, 0x00}, nullptr},
        {"no connection", {0x01, 0x01, 0x00, 0x00}, "wmi.connect"},
        {"no firmware class", {0x01, 0x01, 0x00, 0x00}, "wmi.getobject.vrqBIntM"},
        {"short answer", {0x01, 0x01, 0x00}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DeleteFileW(simfw::MachineFilePath().c_str());
        DeleteFileW(SetupLogPath().c_str());
        DeleteFileW(SetupLogCopyPath().c_str());
        SetRecord(c.record);
        if (c.failure)
            Inject(c.failure, WBEM_E_NOT_FOUND);
        messageBoxes.clear();

        EXPECT_EQ(1603, RunInstallAction(L"KvInstallAction.exe -install"));

        EXPECT_EQ((Entries{kUnsupported, kBoxShown}), ReadSetupLog(SetupLogPath()));
        EXPECT_EQ((Entries{kUnsupported, "Debug: User name is kvtester\n", kBoxShown}),
                  ReadSetupLog(SetupLogCopyPath()));
        ASSERT_EQ(1u, messageBoxes.size());
        EXPECT_EQ(nullptr, messageBoxes[0].owner);
        EXPECT_EQ("Your product does not support Vorn Kelvane.", Narrow(messageBoxes[0].text));
        EXPECT_EQ("Vorn Kelvane Setup", Narrow(messageBoxes[0].caption));
        EXPECT_EQ(Hex(0x1010), Hex(messageBoxes[0].style));
        EXPECT_TRUE(NothingRegistered());
        EXPECT_TRUE(ThreadHasNoApartment());
    }
}

// The installing person's session as the platform reports it, and what
// WTSSendMessageW does with the box (Wine's is a stub that fails).
struct SessionDouble {
    LONG lockFlags;
    BOOL sent;
    DWORD response;
    DWORD timeout;
    BOOL wait;
    int sends;
} sessionDouble;

BOOL WINAPI ReportSessionZero(DWORD, DWORD* session)
{
    *session = 0;
    return TRUE;
}

BOOL WINAPI ReportSession(HANDLE, DWORD, WTS_INFO_CLASS what, LPWSTR* buffer, DWORD* bytes)
{
    static WTS_CONNECTSTATE_CLASS state = WTSActive;
    static DWORD info[4];
    if (what == WTSConnectState) {
        *buffer = reinterpret_cast<LPWSTR>(&state);
        *bytes = sizeof(state);
        return TRUE;
    }
    info[0] = 1; // level 1: id, state, flags
    info[1] = 2;
    info[2] = WTSActive;
    info[3] = static_cast<DWORD>(sessionDouble.lockFlags);
    *buffer = reinterpret_cast<LPWSTR>(info);
    *bytes = sizeof(info);
    return TRUE;
}

void WINAPI KeepSessionMemory(PVOID) {}

BOOL WINAPI SendToSession(HANDLE, DWORD, LPWSTR, DWORD, LPWSTR, DWORD, DWORD, DWORD timeout, DWORD* response,
                          BOOL wait)
{
    ++sessionDouble.sends;
    sessionDouble.timeout = timeout;
    sessionDouble.wait = wait;
    *response = sessionDouble.response;
    SetLastError(ERROR_ACCESS_DENIED);
    return sessionDouble.sent;
}

// Windows 7 reports a locked session with WTS_SESSIONSTATE_UNLOCK and the
// other way round (documented); later versions as named.
TEST_F(InstallSequenceTest, TheBoxInAnotherSessionWaitsAMinuteAtMostAndTheLogSaysHowItEnded)
{
    ImportHook sessionId("kernel32.dll", "ProcessIdToSessionId", reinterpret_cast<const void*>(&ReportSessionZero));
    ImportHook query("wtsapi32.dll", "WTSQuerySessionInformationW", reinterpret_cast<const void*>(&ReportSession));
    ImportHook release("wtsapi32.dll", "WTSFreeMemory", reinterpret_cast<const void*>(&KeepSessionMemory));
    ImportHook send("wtsapi32.dll", "WTSSendMessageW", reinterpret_cast<const void*>(&SendToSession));
    ASSERT_TRUE(sessionId.Installed() && query.Installed() && release.Installed() && send.Installed());
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    PlatformFunction<LONG(WINAPI*)(OSVERSIONINFOW*)>("ntdll.dll", "RtlGetVersion")(&version);
    const bool windows7 = version.dwMajorVersion == 6 && version.dwMinorVersion == 1;
    const LONG lock = windows7 ? 1 : 0, unlock = windows7 ? 0 : 1;
    struct Case {
        LONG lockFlags;
        BOOL sent;
        DWORD response;
        int sends;
        const char* line;
    };
    const Case cases[] = {
        {unlock, TRUE, IDOK, 1, "Install: Message box answered in session 2.\n"},
        {-1, TRUE, IDOK, 1, "Install: Message box answered in session 2.\n"},
        {unlock, TRUE, IDTIMEOUT, 1, "Install: Message box in session 2 not answered within 60 seconds.\n"},
        {unlock, FALSE, 0, 1, "Install: No message box: sending it to session 2 failed (error 5).\n"},
        {lock, TRUE, IDOK, 0, "Install: No message box: no visible window station.\n"},
    };
    SetRecord({0x00, 0x00, 0x00, 0x00});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        DeleteFileW(SetupLogPath().c_str());
        sessionDouble = {c.lockFlags, c.sent, c.response, 0, FALSE, 0};

        EXPECT_EQ(1603, RunInstallAction(L"KvInstallAction.exe -install ui=5 session=2"));

        EXPECT_EQ((Entries{kUnsupported, c.line}), ReadSetupLog(SetupLogPath()));
        EXPECT_EQ(c.sends, sessionDouble.sends);
        if (c.sends) {
            EXPECT_EQ(60u, sessionDouble.timeout) << "the wait must be bounded";
            EXPECT_TRUE(sessionDouble.wait) << "the answer is what the log reports";
        }
    }
    EXPECT_EQ(0u, messageBoxes.size());
}

TEST_F(InstallSequenceTest, TheAdministratorSeesNoBoxButTheInstallStillFails)
{
    SetRecord({0x00, 0x00, 0x00, 0x00});
    for (const wchar_t* name : {L"Administrator", L"administrator", L"ADMINISTRATOR"}) {
        SCOPED_TRACE(Narrow(name));
        SetEnvironmentVariableW(L"USERNAME", name);
        EXPECT_EQ(1603, RunInstallAction(L"KvInstallAction.exe -install"));
    }
    EXPECT_EQ(0u, messageBoxes.size());
    EXPECT_EQ((Entries{kUnsupported, kNoBoxForAdministrator, kUnsupported, kNoBoxForAdministrator, kUnsupported,
                       kNoBoxForAdministrator}),
              ReadSetupLog(SetupLogPath()));
}

TEST_F(InstallSequenceTest, AFailedTaskFailsTheInstallAndKeepsTheControlPanelItem)
{
    CreateSetupLogCopyFolder();
    Inject("ts.TaskFolder.RegisterTaskDefinition", E_ACCESSDENIED);

    EXPECT_EQ(1603, RunInstallAction(L"KvInstallAction.exe -install"));

    Entries expected = {"AddTaskScheduler(): Error saveing the Task (80070005)", kTaskFailed};
    EXPECT_EQ(expected, ReadSetupLog(SetupLogPath()));
    EXPECT_EQ(expected, ReadSetupLog(SetupLogCopyPath()));
    EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kItemClassKey));
    EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kItemNamespaceKey));
    EXPECT_EQ(0u, messageBoxes.size());

    // The package's rollback removes what the failed install left, and only that.
    SetRecord({0x01, 0x01, 0x00, 0x5A});
    EXPECT_EQ(0, RunInstallAction(L"KvInstallAction.exe -uninstall rollback"));
    EXPECT_TRUE(NothingRegistered());
    EXPECT_EQ("01 01 00 5A", simfw::FormatBytes(Record()));
    EXPECT_EQ(0, Machine().Has("last.wmi.write.bytes")) << "the firmware was written";
}

LSTATUS WINAPI RefuseKeyCreation(HKEY, LPCWSTR, DWORD, LPWSTR, DWORD, REGSAM, const SECURITY_ATTRIBUTES*, PHKEY,
                                  LPDWORD)
{
    return ERROR_ACCESS_DENIED;
}

// The event each outcome leaves for the administrator, with the firmware's
// answer where it decides; a rollback writes none.
TEST_F(InstallSequenceTest, EachOutcomeWritesItsEvent)
{
    struct Case {
        const char* name;
        std::vector<uint8_t> record;
        const char* point;
        long status;
        bool registryRefused;
        const wchar_t* commandLine;
        int exitCode;
        std::vector<std::string> events;
    };
    const Case cases[] = {
        {"installed", {1, 1, 0, 0}, nullptr, 0, false, L"x -install", 0, {"1000 Information"}},
        {"unsupported", {0, 1, 0, 0}, nullptr, 0, false, L"x -install", 1603, {"1002 Error [0x00000000] [00 01 00 00]"}},
        {"firmware unreachable", {1, 1, 0, 0}, "wmi.connect", static_cast<long>(WBEM_E_FAILED), false, L"x -install", 1603,
         {"1002 Error [0x80041001] [00 00 00 00]"}},
        {"task refused", {1, 1, 0, 0}, "ts.TaskFolder.RegisterTaskDefinition", E_ACCESSDENIED, false, L"x -install",
         1603, {"1003 Error"}},
        {"control panel refused", {1, 1, 0, 0}, nullptr, 0, true, L"x -install", 0,
         {"1004 Warning", "1000 Information"}},
        {"removed", {1, 1, 0, 0}, nullptr, 0, false, L"x -uninstall", 0, {"1001 Information [switched off]"}},
        {"removed, firmware silent", {1, 1, 0, 0}, "wmi.connect", static_cast<long>(WBEM_E_FAILED), false, L"x -uninstall", 0,
         {"1001 Information [left as it was, the firmware did not answer (0x80041001)]"}},
        {"rolled back", {1, 1, 0, 0}, nullptr, 0, false, L"x -uninstall rollback", 0, {}},
    };
    EventRecorder events;
    ASSERT_TRUE(events.Installed());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetRecord(c.record);
        if (c.point)
            Inject(c.point, c.status, 1);
        events.Clear();
        {
            std::optional<ImportHook> refused;
            if (c.registryRefused)
                refused.emplace("advapi32.dll", "RegCreateKeyExW", reinterpret_cast<const void*>(&RefuseKeyCreation));
            EXPECT_EQ(c.exitCode, RunInstallAction(c.commandLine));
        }
        EXPECT_EQ(c.events, events.Events());
    }
    EXPECT_EQ(0, events.OpenSources());
}

TEST_F(InstallSequenceTest, UninstallClearsTheModeBytesAndRemovesEverything)
{
    SetRecord({0x01, 0x01, 0x00, 0x5A});
    ASSERT_EQ(0, RunInstallAction(L"KvInstallAction.exe -install"));
    ASSERT_TRUE(Registered());
    SecuritySpy spy;
    ASSERT_TRUE(spy.Installed());

    EXPECT_EQ(0, RunInstallAction(L"KvInstallAction.exe -uninstall"));

    EXPECT_EQ("01 00 00 5A", simfw::FormatBytes(Record()));
    EXPECT_EQ("1 1 2", Machine().Get("last.wmi.commands")) << "install read, uninstall read and write";
    EXPECT_EQ("UI1[4@0] 01 00 00 5A", Machine().Get("last.wmi.in.vrqBData"));
    // The write reuses the read's security set-up; the task step has its own.
    ASSERT_EQ(2u, spy.Calls().size());
    EXPECT_EQ(2u, spy.Calls()[0].authnLevel);
    EXPECT_EQ(6u, spy.Calls()[1].authnLevel);
    EXPECT_TRUE(NothingRegistered());
    EXPECT_EQ(Entries{}, ReadSetupLog(SetupLogPath()));
    EXPECT_TRUE(ThreadHasNoApartment());

    // A failed removal's rollback registers again without the firmware,
    // which stays as the removal left it, even when it no longer answers.
    Set("last.wmi.commands", "");
    Inject("wmi.connect", WBEM_E_FAILED);
    EXPECT_EQ(0, RunInstallAction(L"KvInstallAction.exe -install rollback"));
    EXPECT_TRUE(Registered());
    EXPECT_EQ("", Machine().Get("last.wmi.commands"));
    EXPECT_EQ(Entries{}, ReadSetupLog(SetupLogPath()));
}

TEST_F(InstallSequenceTest, UninstallAfterAFailedReadWritesNothingAndGoesOn)
{
    SetRecord({0x01, 0x01, 0x00, 0x5A});
    ASSERT_EQ(0, RunInstallAction(L"KvInstallAction.exe -install"));
    for (const char* point : {"wmi.connect", "wmi.get.Data", "wmi.exec"}) {
        SCOPED_TRACE(point);
        Set("last.wmi.commands", "");
        Inject(point, WBEM_E_FAILED, 1);

        EXPECT_EQ(0, RunInstallAction(L"KvInstallAction.exe /uninstall"));

        EXPECT_EQ("01 01 00 5A", simfw::FormatBytes(Record())) << "bytes 0 and 3 would have been lost";
        EXPECT_EQ(0, Machine().Has("last.wmi.write.bytes"));
        EXPECT_TRUE(NothingRegistered());
        ASSERT_EQ(0, RunInstallAction(L"KvInstallAction.exe -install"));
    }
}

TEST_F(InstallSequenceTest, UninstallOfAnUntouchedMachineAndOfAFailingSchedulerExitsWith0)
{
    SetRecord({0x01, 0x00, 0x00, 0x00});
    EXPECT_EQ(0, RunInstallAction(L"KvInstallAction.exe -uninstall"));
    EXPECT_TRUE(NothingRegistered());
    EXPECT_EQ(Entries{}, ReadSetupLog(SetupLogPath()));

    ASSERT_EQ(0, RunInstallAction(L"KvInstallAction.exe -install"));
    Inject("ts.TaskService.Connect", E_ACCESSDENIED);
    EXPECT_EQ(0, RunInstallAction(L"KvInstallAction.exe -uninstall"));
    EXPECT_EQ(Entries{"DeleteTaskScheduler(): ITaskService::Connect failed (80070005)"}, ReadSetupLog(SetupLogPath()));
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kItemClassKey)) << "the Control Panel item goes anyway";
}

TEST_F(InstallSequenceTest, AnUnknownSwitchDoesNothing)
{
    for (const wchar_t* line : {L"KvInstallAction.exe", L"KvInstallAction.exe -uninstal", L"KvInstallAction.exe -?"}) {
        EXPECT_EQ(0, RunInstallAction(line)) << Narrow(line);
    }
    EXPECT_EQ(0, Counter("wmi.connect"));
    EXPECT_EQ(0, Counter("objects.created"));
    EXPECT_FALSE(FileExists(SetupLogPath()));
    EXPECT_EQ(0u, messageBoxes.size());
}
