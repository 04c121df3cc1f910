// The real KvInstallAction.exe, started as its own process under Wine
// against the doubles: exit codes, switches, the message box (found and
// closed here), and an install followed by an uninstall that leaves the
// registry and the Task Scheduler as they were.
#include <windows.h>

#include <string>
#include <vector>

#include "install_fixture.h"
#include "log_reader.h"
#include "setup_box.h"
#include "status_text.h"

namespace {

std::wstring ProgramPath()
{
    // The build's Linux path, seen through Wine's drive Z:.
    std::wstring path = L"Z:";
    for (const char* c = KV_INSTALL_ACTION_EXE; *c; ++c)
        path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    return path;
}

// The box is inspected and closed; a run that waits longer than 30 s fails.
ProgramRun RunProgram(const std::wstring& arguments)
{
    return RunClosingSetupBox(L"\"" + ProgramPath() + L"\"" + (arguments.empty() ? L"" : L" " + arguments), 30000);
}

std::vector<std::string> RegistrationDump()
{
    std::vector<std::string> dump = DumpRegistryTree(HKEY_LOCAL_MACHINE, kItemClassKey);
    for (const std::string& line : DumpRegistryTree(HKEY_LOCAL_MACHINE, kItemNamespaceKey))
        dump.push_back(line);
    return dump;
}

class InstallActionProgramTest : public InstallActionTest {
protected:
    void TearDown() override
    {
        EXPECT_EQ(0, LiveObjects()) << "the program left objects of the doubles unreleased";
        InstallActionTest::TearDown();
    }
};

} // namespace

TEST_F(InstallActionProgramTest, SwitchesSelectTheSequenceAndEverythingElseDoesNothing)
{
    struct Case {
        const wchar_t* arguments;
        DWORD exitCode;
        bool installs;
        bool policyTask = false; // only the package's word adds it
    };
    const Case cases[] = {
        {L"", 0, false},
        {L"-uninstal", 0, false},
        {L"-help", 0, false},
        {L"-install", 0, true},
        {L"/Install", 0, true},
        {L"-INSTALL", 0, true},
        {L"-installer", 0, true},
        {L"-install ui=2 policytask", 0, true, true},
        {L"-install policytasks", 0, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.arguments));
        DeleteFileW(simfw::MachineFilePath().c_str());
        DeleteControlPanelKeys();

        ProgramRun run = RunProgram(c.arguments);

        EXPECT_FALSE(run.timedOut);
        EXPECT_EQ(c.exitCode, run.exitCode);
        EXPECT_EQ(c.installs ? 1 : 0, Counter("wmi.connect"));
        EXPECT_EQ(c.installs, simts::TaskExists(Machine(), kTaskPath));
        EXPECT_EQ(c.policyTask, simts::TaskExists(Machine(), kPolicyTaskPath));
        EXPECT_EQ(c.installs, RegistryKeyExists(HKEY_LOCAL_MACHINE, kItemClassKey));
        EXPECT_FALSE(run.box.found);
        if (!c.installs) {
            EXPECT_EQ(0, Counter("objects.created"));
        }
    }
    EXPECT_FALSE(FileExists(SetupLogPath())) << "nothing is logged";
}

TEST_F(InstallActionProgramTest, AnUnsupportedMachineShowsTheBoxOnlyToAnInteractiveInstall)
{
    const char kUnsupported[] = "Install: This system does not support Kelvane (does not support accelerometer or "
                                "thermal control or both).\n";
    struct Case {
        const wchar_t* arguments;
        bool box;
        const char* caseLine;
    };
    // What the package passes: UILevel, 2 for /qn, 3 for /qb, 5 for a full UI.
    const Case cases[] = {
        {L"-install", true, "Install: Message box shown to the user.\n"},
        {L"-install ui=5", true, "Install: Message box shown to the user.\n"},
        {L"-install ui=3", true, "Install: Message box shown to the user.\n"},
        {L"-install ui=2", false, "Install: No message box: the installation runs without a user interface.\n"},
        // 3 with INSTALLUILEVEL_PROGRESSONLY: /passive, as the package passes it.
        {L"-install ui=67", false, "Install: No message box: the installation runs without a user interface.\n"},
    };
    CreateSetupLogCopyFolder();
    SetRecord({0x00, 0x01, 0x00, 0x00});
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.arguments));
        DeleteFileW(SetupLogPath().c_str());
        DeleteFileW(SetupLogCopyPath().c_str());

        ProgramRun run = RunProgram(c.arguments);

        EXPECT_FALSE(run.timedOut);
        EXPECT_EQ(1603u, run.exitCode);
        ASSERT_EQ(c.box, run.box.found) << "a message box with the caption \"Vorn Kelvane Setup\"";
        if (c.box) {
            EXPECT_EQ("Your product does not support Vorn Kelvane.", Narrow(run.box.text));
            EXPECT_TRUE(run.box.topmost) << "MB_SYSTEMMODAL keeps the box above other windows";
            EXPECT_TRUE(run.box.hasIcon) << "MB_ICONERROR";
            EXPECT_TRUE(run.box.hasOk);
            EXPECT_FALSE(run.box.hasCancel) << "MB_OK has one button";
        }
        EXPECT_EQ((Entries{kUnsupported, c.caseLine}), ReadSetupLog(SetupLogPath()));
        EXPECT_EQ((Entries{kUnsupported, "Debug: User name is kvtester\n", c.caseLine}),
                  ReadSetupLog(SetupLogCopyPath()));
        EXPECT_TRUE(SchedulerState().empty());
        EXPECT_TRUE(RegistrationDump().empty());
    }
}

TEST_F(InstallActionProgramTest, TheAdministratorGetsNoBoxAndStill1603)
{
    SetRecord({0x00, 0x00, 0x00, 0x00});
    // The program inherits this process's environment.
    SetEnvironmentVariableW(L"USERNAME", L"administrator");

    ProgramRun run = RunProgram(L"/install");

    EXPECT_FALSE(run.timedOut) << "the program waited for a box";
    EXPECT_EQ(1603u, run.exitCode);
    EXPECT_FALSE(run.box.found);
}

TEST_F(InstallActionProgramTest, InstallThenUninstallLeavesTheMachineAsBefore)
{
    SetRecord({0x01, 0x01, 0x00, 0x5A});
    // Another product of the maker, which both runs must leave alone.
    AddFolder("\\Quellmark");
    AddFolder("\\Quellmark\\Oberon");
    AddTask("\\Quellmark\\Oberon\\Oberon Updater", true);
    std::vector<std::string> schedulerBefore = SchedulerState();
    std::vector<std::string> registryBefore = RegistrationDump();
    std::vector<std::string> parentBefore =
        DumpRegistryTree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ControlPanel");
    ASSERT_TRUE(registryBefore.empty());

    ProgramRun install = RunProgram(L"-install");
    EXPECT_EQ(0u, install.exitCode);
    EXPECT_FALSE(install.box.found);
    EXPECT_TRUE(simts::TaskExists(Machine(), kTaskPath));
    EXPECT_EQ(14u, RegistrationDump().size()) << "6 keys and 8 values";
    EXPECT_EQ("\"" + Narrow(ProgramFilesFolder()) + "\\Quellmark\\Vorn Kelvane\\Kelvane.exe\"",
              Narrow(ReadRegistryValue(HKEY_LOCAL_MACHINE, std::wstring(kItemClassKey) + L"\\Shell\\Open\\Command",
                                       nullptr)
                         .Text()));
    EXPECT_EQ("01 01 00 5A", simfw::FormatBytes(Record()));

    ProgramRun uninstall = RunProgram(L"-uninstall");
    EXPECT_EQ(0u, uninstall.exitCode);

    EXPECT_EQ(registryBefore, RegistrationDump());
    EXPECT_EQ(parentBefore,
              DumpRegistryTree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ControlPanel"));
    EXPECT_EQ(schedulerBefore, SchedulerState());
    EXPECT_EQ("01 00 00 5A", simfw::FormatBytes(Record())) << "mode bytes 0 0, bytes 0 and 3 kept";
    EXPECT_EQ("1 1 2", Machine().Get("last.wmi.commands"));
    // Apartment-threaded around the firmware, multithreaded for the task.
    EXPECT_EQ("sta", Machine().Get("last.wmi.apartment"));
    EXPECT_EQ("mta", Machine().Get("last.ts.apartment"));
    EXPECT_EQ(Entries{}, ReadSetupLog(SetupLogPath()));
}
