// The logon task against the simulated Task Scheduler: every property of
// the definition and of the registration, each step's failure with its
// line, and the removal of the task and its folders when they are empty.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "import_hook.h"
#include "install_fixture.h"
#include "logon_task.h"
#include "status_text.h"

using simts::Properties;
using Names = std::vector<std::string>;

namespace {

Properties ExpectedTask(const std::string& executable)
{
    return {
        {"registration.Author", "Quellmark"},
        {"registration.Date", "2013-05-01T02:10:00"},
        {"registration.Description", "Start Vorn Kelvane at Logon"},
        {"settings.MultipleInstances", "0"},
        {"settings.DisallowStartIfOnBatteries", "0"},
        {"settings.StopIfGoingOnBatteries", "0"},
        {"settings.ExecutionTimeLimit", "PT0S"},
        {"settings.IdleSettings.StopOnIdleEnd", "0"},
        {"trigger.1.Type", "9"},
        {"trigger.1.UserId", "<null>"},
        {"trigger.1.Delay", "PT30S"},
        {"action.1.Type", "0"},
        {"action.1.Path", executable},
        {"action.1.Arguments", "/byrunkey"},
        {"principal.Id", "AllUsers"},
        {"register.flags", "6"},
        {"register.user", "BSTR \"S-1-5-32-545\""},
        {"register.password", "EMPTY"},
        {"register.logonType", "4"},
        {"register.sddl", "BSTR \"\""},
    };
}

// kelvanectl apply-policy as LocalSystem, at start-up and after the
// computer's Group Policy processing (types 8 and 0; logon type 5, run level
// highest 1).
Properties ExpectedPolicyTask()
{
    return {
        {"registration.Author", "Quellmark"},
        {"registration.Description", "Apply the Vorn Kelvane cooling mode policy"},
        {"settings.MultipleInstances", "1"},
        {"settings.DisallowStartIfOnBatteries", "0"},
        {"settings.StopIfGoingOnBatteries", "0"},
        {"settings.StartWhenAvailable", "-1"},
        {"settings.ExecutionTimeLimit", "PT5M"},
        {"principal.UserId", "S-1-5-18"},
        {"principal.LogonType", "5"},
        {"principal.RunLevel", "1"},
        {"trigger.1.Type", "8"},
        {"trigger.2.Type", "0"},
        {"trigger.2.Subscription",
         "<QueryList><Query Id=\"0\" Path=\"Microsoft-Windows-GroupPolicy/Operational\"><Select "
         "Path=\"Microsoft-Windows-GroupPolicy/Operational\">*[System[Provider[@Name='Microsoft-Windows-GroupPolicy'] "
         "and (EventID=8000 or EventID=8002 or EventID=8004 or EventID=8006 or EventID=6000 or EventID=6002 or "
         "EventID=6004 or EventID=6006)]]</Select></Query></QueryList>"},
        {"action.1.Type", "0"},
        {"action.1.Path", Narrow(ProgramFilesFolder()) + "\\Quellmark\\Vorn Kelvane\\kelvanectl.exe"},
        {"action.1.Arguments", "apply-policy"},
        {"register.flags", "6"},
        {"register.user", "BSTR \"S-1-5-18\""},
        {"register.password", "EMPTY"},
        {"register.logonType", "5"},
        {"register.sddl", "BSTR \"\""},
    };
}

std::string DefaultExecutable()
{
    return Narrow(ProgramFilesFolder()) + "\\Quellmark\\Vorn Kelvane\\Kelvane.exe";
}

std::string WithStatus(const char* text, HRESULT status)
{
    char line[512];
    std::snprintf(line, sizeof(line), text, static_cast<unsigned int>(status));
    return line;
}

std::wstring programFiles;
ImportHook* folderHook;

BOOL WINAPI ProgramFilesFromTest(HWND owner, LPWSTR path, int folder, BOOL create)
{
    if (folder != CSIDL_PROGRAM_FILES)
        return folderHook->Original<decltype(&SHGetSpecialFolderPathW)>()(owner, path, folder, create);
    lstrcpynW(path, programFiles.c_str(), MAX_PATH);
    return TRUE;
}

class LogonTaskTest : public InstallActionTest {
protected:
    void TearDown() override
    {
        EXPECT_EQ(0, LiveObjects()) << "objects of the simulated Task Scheduler were not released";
        InstallActionTest::TearDown();
    }

    static Names Folders(const std::string& path) { return simts::SubFolders(Machine(), path); }
    static Names AllTasks(const std::string& path) { return simts::Tasks(Machine(), path, true); }
    static void Reset()
    {
        DeleteFileW(simfw::MachineFilePath().c_str());
        DeleteFileW(SetupLogPath().c_str());
    }
};

} // namespace

TEST_F(LogonTaskTest, AddRegistersEveryPropertyOfTheDefinitionAndTheCall)
{
    SecuritySpy spy;
    ASSERT_TRUE(spy.Installed());

    EXPECT_EQ(0, AddTaskScheduler());

    EXPECT_EQ(ExpectedTask(DefaultExecutable()), TaskProperties(kTaskPath));
    std::vector<std::string> state = SchedulerState();
    ASSERT_LE(2u, state.size());
    EXPECT_EQ((std::vector<std::string>{"ts.folder.\\Quellmark=1", "ts.folder.\\Quellmark\\Vorn Kelvane=1"}),
              std::vector<std::string>(state.begin(), state.begin() + 2));
    simfw::Machine machine = Machine();
    EXPECT_EQ("EMPTY EMPTY EMPTY EMPTY", machine.Get("last.ts.connect"));
    EXPECT_EQ("mta", machine.Get("last.ts.apartment"));
    EXPECT_EQ("sddl=EMPTY", machine.Get("last.ts.createfolder.Quellmark"));
    EXPECT_EQ("sddl=EMPTY", machine.Get("last.ts.createfolder.Vorn Kelvane"));
    ASSERT_EQ(1u, spy.Calls().size());
    EXPECT_EQ("services=-1 level=6 impersonation=3 capabilities=0 pointers=null", Describe(spy.Calls()[0]));
    EXPECT_TRUE(ThreadHasNoApartment());
    EXPECT_EQ(Entries{}, ReadSetupLog(SetupLogPath()));
}

TEST_F(LogonTaskTest, ASecondInstallReplacesTheTaskWhole)
{
    ASSERT_EQ(0, AddTaskScheduler());
    // Something an older version left in the task.
    simfw::UpdateMachine([](simfw::Machine& m) {
        m.Set(std::string("ts.task.") + kTaskPath + "|action.2.Path", "C:\\old.exe");
    });

    EXPECT_EQ(0, AddTaskScheduler());

    EXPECT_EQ(ExpectedTask(DefaultExecutable()), TaskProperties(kTaskPath));
    EXPECT_EQ(Names{"Vorn Kelvane Start at Logon"}, AllTasks(kProductPath));
    EXPECT_EQ(Names{"Vorn Kelvane"}, Folders(kMakerPath));
    EXPECT_EQ(Entries{}, ReadSetupLog(SetupLogPath()));
}

TEST_F(LogonTaskTest, InstallBesideAnotherProductsFolder)
{
    AddFolder("\\Quellmark");
    AddFolder("\\Quellmark\\Oberon");
    AddTask("\\Quellmark\\Oberon\\Oberon Updater", false);

    EXPECT_EQ(0, AddTaskScheduler());

    EXPECT_EQ((Names{"Oberon", "Vorn Kelvane"}), Folders(kMakerPath));
    EXPECT_EQ(Names{"Oberon Updater"}, AllTasks("\\Quellmark\\Oberon"));
    EXPECT_EQ(ExpectedTask(DefaultExecutable()), TaskProperties(kTaskPath));
}

TEST_F(LogonTaskTest, UninstallRemovesTheTaskAndItsEmptyFolders)
{
    EXPECT_EQ(0, DeleteTaskScheduler()) << "nothing registered";
    EXPECT_EQ(std::vector<std::string>{}, SchedulerState());

    ASSERT_EQ(0, AddTaskScheduler());
    EXPECT_EQ(0, DeleteTaskScheduler());

    EXPECT_EQ(std::vector<std::string>{}, SchedulerState());
    EXPECT_EQ("1", Machine().Get("last.ts.gettasks.flags")) << "hidden tasks are counted";
    EXPECT_EQ(Entries{}, ReadSetupLog(SetupLogPath()));
    EXPECT_TRUE(ThreadHasNoApartment());
}

TEST_F(LogonTaskTest, UninstallKeepsFoldersThatHoldSomethingElse)
{
    struct Case {
        const char* name;
        const char* otherTask;   // added beside ours
        bool hidden;
        const char* otherFolder; // added beside ours
        Names makerFolders;      // what the maker folder holds afterwards
        bool makerStays;
    };
    const Case cases[] = {
        {"visible task in the product folder", "\\Quellmark\\Vorn Kelvane\\Other", false, nullptr,
         {"Vorn Kelvane"}, true},
        {"hidden task in the product folder", "\\Quellmark\\Vorn Kelvane\\Hidden", true, nullptr,
         {"Vorn Kelvane"}, true},
        {"folder in the product folder", nullptr, false, "\\Quellmark\\Vorn Kelvane\\Sub", {"Vorn Kelvane"}, true},
        {"folder in the maker folder", nullptr, false, "\\Quellmark\\Oberon", {"Oberon"}, true},
        {"hidden task in the maker folder", "\\Quellmark\\Hidden", true, nullptr, {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        ASSERT_EQ(0, AddTaskScheduler());
        if (c.otherTask)
            AddTask(c.otherTask, c.hidden);
        if (c.otherFolder)
            AddFolder(c.otherFolder);

        EXPECT_EQ(0, DeleteTaskScheduler());

        EXPECT_FALSE(simts::TaskExists(Machine(), kTaskPath));
        if (c.otherTask) {
            EXPECT_TRUE(simts::TaskExists(Machine(), c.otherTask));
        }
        EXPECT_EQ(c.makerStays, simts::FolderExists(Machine(), kMakerPath));
        EXPECT_EQ(c.makerFolders, Folders(kMakerPath));
        EXPECT_EQ(Entries{}, ReadSetupLog(SetupLogPath()));
    }
}

TEST_F(LogonTaskTest, UninstallWithOnlyTheMakerFolderLeavesItEvenEmpty)
{
    AddFolder(kMakerPath);

    EXPECT_EQ(0, DeleteTaskScheduler());

    EXPECT_EQ(std::vector<std::string>{"ts.folder.\\Quellmark=1"}, SchedulerState());
    EXPECT_EQ(Entries{}, ReadSetupLog(SetupLogPath()));
}

TEST_F(LogonTaskTest, AFailingSecurityInitialisationEndsBothWithTheirLine)
{
    CreateSetupLogCopyFolder();
    SecuritySpy spy(CallPlan{0, 2}, RPC_E_TOO_LATE);
    ASSERT_TRUE(spy.Installed());

    EXPECT_NE(0, AddTaskScheduler());
    EXPECT_EQ(1, DeleteTaskScheduler());

    Entries expected = {"AddTaskScheduler(): CoInitialSecurity failed failed (80010119)\n",
                        "DeleteTaskScheduler(): CoInitialSecurity failed failed (80010119)\n"};
    EXPECT_EQ(expected, ReadSetupLog(SetupLogPath()));
    EXPECT_EQ(expected, ReadSetupLog(SetupLogCopyPath()));
    EXPECT_EQ(std::vector<std::string>{}, SchedulerState());
    EXPECT_EQ(0, Counter("ts.connect"));
    EXPECT_TRUE(ThreadHasNoApartment()) << "COM was not uninitialised after the failure";
}

TEST_F(LogonTaskTest, ASingleThreadedCallerGetsTheInitialisationLineAndKeepsItsApartment)
{
    ASSERT_EQ(Hex(S_OK), Hex(CoInitialize(nullptr)));

    EXPECT_NE(0, AddTaskScheduler());
    EXPECT_EQ(1, DeleteTaskScheduler());

    APTTYPE type;
    APTTYPEQUALIFIER qualifier;
    EXPECT_EQ(Hex(S_OK), Hex(CoGetApartmentType(&type, &qualifier))) << "the caller's apartment was torn down";
    CoUninitialize();
    EXPECT_EQ((Entries{"AddTaskScheduler(): CoInitializeEx failed (80010106)\n",
                       "DeleteTaskScheduler(): CoInitializeEx failed (80010106)\n"}),
              ReadSetupLog(SetupLogPath()));
}

TEST_F(LogonTaskTest, EachStepOfAddFailsOrGoesOnAsItShould)
{
    struct Case {
        const char* point;
        const char* line;      // nullptr: not examined, nothing logged
        bool fatal;
        const char* missing;   // the property a step that goes on leaves out
    };
    const Case cases[] = {
        {"ts.create", "AddTaskScheduler(): Failed to create an instance of ITaskService (%x)", true, nullptr},
        {"ts.TaskService.Connect", "AddTaskScheduler(): ITaskService::Connect failed (%x)", true, nullptr},
        {"ts.TaskService.GetFolder:\\", "AddTaskScheduler(): Cannot get Root Task Folder pointer (%x)", true, nullptr},
        {"ts.TaskFolder.CreateFolder:Quellmark", "AddTaskScheduler(): Cannot create Vorn Task Folder (%x)", true, nullptr},
        {"ts.TaskFolder.CreateFolder:Vorn Kelvane", "AddTaskScheduler(): Cannot create Vorn Task Sub Folder (%x)", true,
         nullptr},
        {"ts.TaskFolder.DeleteTask", nullptr, false, nullptr},
        {"ts.TaskService.NewTask", "AddTaskScheduler(): Failed to create a task definition (%x)", true, nullptr},
        {"ts.TaskDefinition.get_RegistrationInfo", "AddTaskScheduler(): Cannot get registration info (%x)", true, nullptr},
        {"ts.RegistrationInfo.put_Author", "AddTaskScheduler(): Cannot put identification (author) info (%x)", false,
         "registration.Author"},
        {"ts.RegistrationInfo.put_Date", "AddTaskScheduler(): Cannot put registration date (%x)", false,
         "registration.Date"},
        {"ts.RegistrationInfo.put_Description", "AddTaskScheduler(): Cannot put task description (%x)", false,
         "registration.Description"},
        {"ts.TaskDefinition.get_Settings", "AddTaskScheduler(): Cannot get task settings pointer (%x)", true, nullptr},
        {"ts.TaskSettings.put_MultipleInstances", "AddTaskScheduler(): Cannot put TASK_INSTANCES_PARALLEL (%x)", false,
         "settings.MultipleInstances"},
        {"ts.TaskSettings.put_DisallowStartIfOnBatteries", "AddTaskScheduler(): Cannot allow start if on batteries (%x)",
         true, nullptr},
        {"ts.TaskSettings.put_StopIfGoingOnBatteries",
         "AddTaskScheduler(): Cannot disable stop if going on batteries (%x)", true, nullptr},
        {"ts.TaskSettings.put_ExecutionTimeLimit",
         "AddTaskScheduler(): Cannot put execution time limit property (%x)", true, nullptr},
        {"ts.TaskSettings.get_IdleSettings", "AddTaskScheduler(): Cannot get idle settings interface (%x)", false,
         "settings.IdleSettings.StopOnIdleEnd"},
        {"ts.IdleSettings.put_StopOnIdleEnd", "AddTaskScheduler(): Cannot disable StopOnIdleEnd property (%x)", false,
         "settings.IdleSettings.StopOnIdleEnd"},
        {"ts.TaskDefinition.get_Triggers", "AddTaskScheduler(): Cannot get trigger collection (%x)", true, nullptr},
        {"ts.TriggerCollection.Create", "AddTaskScheduler(): Cannot create the triger (%x)", true, nullptr},
        {"ts.Trigger.QueryInterface:ILogonTrigger",
         "AddTaskScheduler(): QueryInterface call failed for ILogonTrigger (%x)", true, nullptr},
        {"ts.LogonTrigger.put_UserId", "AddTaskScheduler(): Cannot put user ID (any user) to logon trigge (%x)", true,
         nullptr},
        {"ts.LogonTrigger.put_Delay", "AddTaskScheduler(): Cannot set delay time for task startr (%x)", true, nullptr},
        {"ts.TaskDefinition.get_Actions", "AddTaskScheduler(): Cannot get Task collection pointer (%x)", true, nullptr},
        {"ts.ActionCollection.Create", "AddTaskScheduler(): Cannot create the action (%x)", true, nullptr},
        {"ts.Action.QueryInterface:IExecAction", "AddTaskScheduler(): QueryInterface call failed for IExecAction (%x)",
         true, nullptr},
        {"ts.ExecAction.put_Path", "AddTaskScheduler(): Cannot put path of executable (%x)", true, nullptr},
        {"ts.ExecAction.put_Arguments", "AddTaskScheduler(): Cannot put arguments of executable (%x)", true, nullptr},
        {"ts.TaskDefinition.get_Principal", "AddTaskScheduler(): Cannot get pincipal interface (%x)", true, nullptr},
        {"ts.Principal.put_Id", nullptr, false, "principal.Id"},
        {"ts.TaskFolder.RegisterTaskDefinition", "AddTaskScheduler(): Error saveing the Task (%x)", true, nullptr},
    };
    HRESULT status = static_cast<HRESULT>(0x80041300);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.point);
        Reset();
        Inject(c.point, ++status);

        int result = AddTaskScheduler();

        EXPECT_EQ(c.fatal, result != 0) << result;
        Entries expected;
        if (c.line)
            expected.push_back(WithStatus(c.line, status));
        EXPECT_EQ(expected, ReadSetupLog(SetupLogPath()));
        Properties task = ExpectedTask(DefaultExecutable());
        if (c.missing)
            task.erase(c.missing);
        EXPECT_EQ(c.fatal ? Properties{} : task, TaskProperties(kTaskPath));
        EXPECT_EQ(0, LiveObjects());
        EXPECT_TRUE(ThreadHasNoApartment());
    }
    // A fatal step undoes nothing: the folders made before it stay.
    Reset();
    Inject("ts.TaskFolder.CreateFolder:Vorn Kelvane", E_ACCESSDENIED);
    EXPECT_NE(0, AddTaskScheduler());
    EXPECT_EQ(std::vector<std::string>{"ts.folder.\\Quellmark=1"}, SchedulerState());
}

TEST_F(LogonTaskTest, AnExecutablePathThatDoesNotFitIsNotRegisteredCut)
{
    ImportHook hook("shell32.dll", "SHGetSpecialFolderPathW", reinterpret_cast<const void*>(&ProgramFilesFromTest));
    folderHook = &hook;
    ASSERT_TRUE(hook.Installed());

    // The folder and "\Quellmark\Vorn Kelvane\Kelvane.exe" (35 characters).
    programFiles = L"C:\\" + std::wstring(221, L'p');
    EXPECT_EQ(0, AddTaskScheduler());
    EXPECT_EQ(259u, TaskProperties(kTaskPath)["action.1.Path"].size());

    Reset();
    programFiles += L"p";
    EXPECT_NE(0, AddTaskScheduler());
    EXPECT_EQ(Properties{}, TaskProperties(kTaskPath));
    EXPECT_EQ(Entries{"AddTaskScheduler(): Cannot put path of executable (8007007a)"}, ReadSetupLog(SetupLogPath()));
}

TEST_F(LogonTaskTest, EachStepOfDeleteFailsWithItsLine)
{
    struct Case {
        const char* point;
        int passing;          // calls at that point that go through first
        const char* line;     // nullptr: not examined
        Names left;           // what stays: "maker", "product", "task"
    };
    const Case cases[] = {
        {"ts.create", 0, "DeleteTaskScheduler(): Failed to create an instance of ITaskService (%x)",
         {"maker", "product", "task"}},
        {"ts.TaskService.Connect", 0, "DeleteTaskScheduler(): ITaskService::Connect failed (%x)",
         {"maker", "product", "task"}},
        {"ts.TaskService.GetFolder:\\", 0, "DeleteTaskScheduler(): Cannot get Root Task Folder pointer (%x)",
         {"maker", "product", "task"}},
        {"ts.TaskFolder.DeleteTask", 0, nullptr, {"maker", "product", "task"}},
        {"ts.TaskFolder.GetTasks", 0, "DeleteTaskScheduler(): Cannot get tasks from Vorn sub folder (%x)",
         {"maker", "product"}},
        {"ts.RegisteredTaskCollection.get_Count", 0,
         "DeleteTaskScheduler(): Cannot get task count from Vorn sub folder (%x)", {"maker", "product"}},
        {"ts.TaskFolder.GetFolders", 0, "DeleteTaskScheduler(): Cannot get folders from Vorn sub folder (%x)",
         {"maker", "product"}},
        {"ts.TaskFolderCollection.get_Count", 0,
         "DeleteTaskScheduler(): Cannot get folder count from Vorn sub folder (%x)", {"maker", "product"}},
        {"ts.TaskFolder.DeleteFolder:Vorn Kelvane", 0, nullptr, {"maker", "product"}},
        {"ts.TaskFolder.GetTasks", 1, "DeleteTaskScheduler(): Cannot get tasks from Vorn folder (%x)", {"maker"}},
        {"ts.RegisteredTaskCollection.get_Count", 1,
         "DeleteTaskScheduler(): Cannot get task count from Vorn folder (%x)", {"maker"}},
        {"ts.TaskFolder.GetFolders", 1, "DeleteTaskScheduler(): Cannot get folders from Vorn Folder (%x)", {"maker"}},
        {"ts.TaskFolderCollection.get_Count", 1,
         "DeleteTaskScheduler(): Cannot get folder count from Vorn Folder (%x)", {"maker"}},
        {"ts.TaskFolder.DeleteFolder:Quellmark", 0, nullptr, {"maker"}},
    };
    HRESULT status = static_cast<HRESULT>(0x80041400);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.point) + " after " + std::to_string(c.passing));
        Reset();
        ASSERT_EQ(0, AddTaskScheduler());
        Inject(c.point, ++status);
        if (c.passing)
            Set(std::string("pass.") + c.point, std::to_string(c.passing));

        int result = DeleteTaskScheduler();

        EXPECT_EQ(c.line ? 1 : 0, result);
        Entries expected;
        if (c.line)
            expected.push_back(WithStatus(c.line, status));
        EXPECT_EQ(expected, ReadSetupLog(SetupLogPath()));
        simfw::Machine machine = Machine();
        Names left;
        if (simts::FolderExists(machine, kMakerPath))
            left.push_back("maker");
        if (simts::FolderExists(machine, kProductPath))
            left.push_back("product");
        if (simts::TaskExists(machine, kTaskPath))
            left.push_back("task");
        EXPECT_EQ(c.left, left);
        EXPECT_EQ(0, LiveObjects());
        EXPECT_TRUE(ThreadHasNoApartment());
    }
}

// The apply-policy task beside the logon task: every property, a security
// already set by the logon task's step (Windows' RPC_E_TOO_LATE) taken as
// done, each failing step one line and no task, and the removal of both.
TEST_F(LogonTaskTest, ThePolicyTaskRunsAsLocalSystemAndGoesWithTheLogonTask)
{
    {
        SecuritySpy spy(CallPlan{1, 1}, RPC_E_TOO_LATE);
        ASSERT_TRUE(spy.Installed());
        EXPECT_EQ(0, AddTaskScheduler());
        EXPECT_EQ(0, AddPolicyTask());
        EXPECT_EQ(2u, spy.Calls().size());
    }
    EXPECT_EQ(ExpectedPolicyTask(), TaskProperties(kPolicyTaskPath));
    EXPECT_EQ((Names{"Vorn Kelvane Apply Policy", "Vorn Kelvane Start at Logon"}), AllTasks(kProductPath));
    EXPECT_EQ(Entries{}, ReadSetupLog(SetupLogPath()));
    EXPECT_EQ(0, DeleteTaskScheduler());
    EXPECT_EQ(std::vector<std::string>{}, SchedulerState());

    struct Case {
        const char* point;
        const char* line;
    };
    const Case cases[] = {
        {"ts.TaskService.Connect", "AddPolicyTask(): Connect failed (%x)"},
        {"ts.TaskFolder.CreateFolder:Vorn Kelvane", "AddPolicyTask(): the task folder failed (%x)"},
        {"ts.Principal.put_LogonType", "AddPolicyTask(): the principal failed (%x)"},
        {"ts.Trigger.QueryInterface:IBootTrigger", "AddPolicyTask(): the start-up trigger failed (%x)"},
        {"ts.Trigger.QueryInterface:IEventTrigger", "AddPolicyTask(): the policy refresh trigger failed (%x)"},
        {"ts.EventTrigger.put_Subscription", "AddPolicyTask(): the policy refresh trigger failed (%x)"},
        {"ts.ExecAction.put_Arguments", "AddPolicyTask(): the action failed (%x)"},
        {"ts.TaskFolder.RegisterTaskDefinition", "AddPolicyTask(): RegisterTaskDefinition failed (%x)"},
    };
    HRESULT status = static_cast<HRESULT>(0x80041310);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.point);
        Reset();
        Inject(c.point, ++status);
        EXPECT_EQ(1, AddPolicyTask());
        EXPECT_EQ(Entries{WithStatus(c.line, status)}, ReadSetupLog(SetupLogPath()));
        EXPECT_EQ(Properties{}, TaskProperties(kPolicyTaskPath));
        EXPECT_EQ(0, LiveObjects());
        EXPECT_TRUE(ThreadHasNoApartment());
    }
}
