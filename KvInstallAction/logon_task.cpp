#include "logon_task.h"

#include <windows.h>
#include <shlobj.h>
#include <strsafe.h>
#include <taskschd.h>

#include <cstdio>
#include <string>

#include "logon_task_names.h"
#include "logon_trigger.h"
#include "scoped_com.h"
#include "setup_log.h"
#include "system_triggers.h"

namespace {

const IID kIidExecAction = {
    0x4C3D624D, 0xFD6B, 0x49A3, {0xB9, 0xB7, 0x09, 0xCB, 0x3C, 0xD3, 0xF0, 0x47}};

const wchar_t kMakerFolder[] = L"Quellmark";
const wchar_t kProductFolder[] = L"Vorn Kelvane";
const wchar_t kUsersGroupSid[] = L"S-1-5-32-545";
const wchar_t kPolicyTaskName[] = L"Vorn Kelvane Apply Policy";
const wchar_t kLocalSystemSid[] = L"S-1-5-18";
// The computer's Group Policy processing completed, with or without errors:
// at start-up, after a network change, on gpupdate and on the periodic
// refresh.
const wchar_t kPolicyRefreshQuery[] =
    L"<QueryList><Query Id=\"0\" Path=\"Microsoft-Windows-GroupPolicy/Operational\">"
    L"<Select Path=\"Microsoft-Windows-GroupPolicy/Operational\">"
    L"*[System[Provider[@Name='Microsoft-Windows-GroupPolicy'] and (EventID=8000 or EventID=8002 or "
    L"EventID=8004 or EventID=8006 or EventID=6000 or EventID=6002 or EventID=6004 or EventID=6006)]]"
    L"</Select></Query></QueryList>";

// Returns what the caller returns after a fatal step; the interfaces and
// the apartment are released by their owners on the way out.
int Fail(const char* format, HRESULT status)
{
    WriteBothSetupLogsStatus(format, status);
    return 1;
}

// Program Files + "\Quellmark\Vorn Kelvane\Kelvane.exe" (or the program
// named) within 260 characters. A path that does not fit is reported, never
// registered cut.
HRESULT BuildExecutablePath(std::wstring& path, const wchar_t* program = L"Kelvane.exe")
{
    wchar_t buffer[MAX_PATH];
    if (!SHGetSpecialFolderPathW(nullptr, buffer, CSIDL_PROGRAM_FILES, FALSE))
        return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    HRESULT hr = StringCchCatW(buffer, MAX_PATH, L"\\Quellmark\\Vorn Kelvane\\");
    if (SUCCEEDED(hr))
        hr = StringCchCatW(buffer, MAX_PATH, program);
    if (FAILED(hr))
        return hr;
    path = buffer;
    return S_OK;
}

HRESULT InitializeTaskSecurity()
{
    return CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                                RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
}

HRESULT GetOrCreateFolder(ITaskFolder* parent, const wchar_t* name, ComPtr<ITaskFolder>& folder)
{
    ScopedBstr path(name);
    if (SUCCEEDED(parent->GetFolder(path.Get(), folder.Put())))
        return S_OK;
    ScopedVariant noSecurity;
    return parent->CreateFolder(path.Get(), *noSecurity, folder.Put());
}

HRESULT CountTasks(ITaskFolder* folder, LONG& count, bool& collectionFailed)
{
    ComPtr<IRegisteredTaskCollection> tasks;
    HRESULT hr = folder->GetTasks(TASK_ENUM_HIDDEN, tasks.Put());
    collectionFailed = FAILED(hr);
    if (FAILED(hr))
        return hr;
    return tasks->get_Count(&count);
}

HRESULT CountFolders(ITaskFolder* folder, LONG& count, bool& collectionFailed)
{
    ComPtr<ITaskFolderCollection> folders;
    HRESULT hr = folder->GetFolders(0, folders.Put());
    collectionFailed = FAILED(hr);
    if (FAILED(hr))
        return hr;
    return folders->get_Count(&count);
}

} // namespace

int AddTaskScheduler()
{
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(hr))
        return Fail("AddTaskScheduler(): CoInitializeEx failed (%x)\n", hr);
    // Declared first, so that every interface below is released before
    // COM is uninitialised.
    ScopedComApartment apartment(hr);

    hr = InitializeTaskSecurity();
    if (FAILED(hr))
        return Fail("AddTaskScheduler(): CoInitialSecurity failed failed (%x)\n", hr);

    std::wstring executable;
    HRESULT pathStatus = BuildExecutablePath(executable);

    ComPtr<ITaskService> service;
    hr = CoCreateInstance(kTaskSchedulerClass, nullptr, CLSCTX_INPROC_SERVER, kTaskServiceInterface,
                          service.PutVoid());
    if (FAILED(hr))
        return Fail("AddTaskScheduler(): Failed to create an instance of ITaskService (%x)", hr);
    {
        ScopedVariant server, user, domain, password;
        hr = service->Connect(*server, *user, *domain, *password);
    }
    if (FAILED(hr))
        return Fail("AddTaskScheduler(): ITaskService::Connect failed (%x)", hr);

    ComPtr<ITaskFolder> root;
    hr = service->GetFolder(ScopedBstr(L"\\").Get(), root.Put());
    if (FAILED(hr))
        return Fail("AddTaskScheduler(): Cannot get Root Task Folder pointer (%x)", hr);

    ComPtr<ITaskFolder> maker;
    hr = GetOrCreateFolder(root.Get(), kMakerFolder, maker);
    root.Reset();
    if (FAILED(hr))
        return Fail("AddTaskScheduler(): Cannot create Vorn Task Folder (%x)", hr);

    ComPtr<ITaskFolder> product;
    hr = GetOrCreateFolder(maker.Get(), kProductFolder, product);
    maker.Reset();
    if (FAILED(hr))
        return Fail("AddTaskScheduler(): Cannot create Vorn Task Sub Folder (%x)", hr);

    // Removes the task of an earlier install, if there is one.
    product->DeleteTask(ScopedBstr(kLogonTaskName).Get(), 0);

    ComPtr<ITaskDefinition> definition;
    hr = service->NewTask(0, definition.Put());
    service.Reset();
    if (FAILED(hr))
        return Fail("AddTaskScheduler(): Failed to create a task definition (%x)", hr);

    ComPtr<IRegistrationInfo> registration;
    hr = definition->get_RegistrationInfo(registration.Put());
    if (FAILED(hr))
        return Fail("AddTaskScheduler(): Cannot get registration info (%x)", hr);
    hr = registration->put_Author(ScopedBstr(L"Quellmark").Get());
    if (FAILED(hr))
        WriteBothSetupLogsStatus("AddTaskScheduler(): Cannot put identification (author) info (%x)", hr);
    hr = registration->put_Date(ScopedBstr(L"2013-05-01T02:10:00").Get());
    if (FAILED(hr))
        WriteBothSetupLogsStatus("AddTaskScheduler(): Cannot put registration date (%x)", hr);
    hr = registration->put_Description(ScopedBstr(L"Start Vorn Kelvane at Logon").Get());
    if (FAILED(hr))
        WriteBothSetupLogsStatus("AddTaskScheduler(): Cannot put task description (%x)", hr);
    registration.Reset();

    ComPtr<ITaskSettings> settings;
    hr = definition->get_Settings(settings.Put());
    if (FAILED(hr))
        return Fail("AddTaskScheduler(): Cannot get task settings pointer (%x)", hr);
    hr = settings->put_MultipleInstances(TASK_INSTANCES_PARALLEL);
    if (FAILED(hr))
        WriteBothSetupLogsStatus("AddTaskScheduler(): Cannot put TASK_INSTANCES_PARALLEL (%x)", hr);
    hr = settings->put_DisallowStartIfOnBatteries(VARIANT_FALSE);
    if (FAILED(hr))
        return Fail("AddTaskScheduler(): Cannot allow start if on batteries (%x)", hr);
    hr = settings->put_StopIfGoingOnBatteries(VARIANT_FALSE);
    if (FAILED(hr))
        return Fail("AddTaskScheduler(): Cannot disable stop if going on batteries (%x)", hr);
    hr = settings->put_ExecutionTimeLimit(ScopedBstr(L"PT0S").Get());
    if (FAILED(hr))
        return Fail("AddTaskScheduler(): Cannot put execution time limit property (%x)", hr);

    ComPtr<IIdleSettings> idle;
    hr = settings->get_IdleSettings(idle.Put());
    if (FAILED(hr)) {
        WriteBothSetupLogsStatus("AddTaskScheduler(): Cannot get idle settings interface (%x)", hr);
    } else {
        hr = idle->put_StopOnIdleEnd(VARIANT_FALSE);
        if (FAILED(hr))
            WriteBothSetupLogsStatus("AddTaskScheduler(): Cannot disable StopOnIdleEnd property (%x)", hr);
    }
    idle.Reset();
    settings.Reset();

    ComPtr<ITriggerCollection> triggers;
    hr = definition->get_Triggers(triggers.Put());
    if (FAILED(hr))
        return Fail("AddTaskScheduler(): Cannot get trigger collection (%x)", hr);
    ComPtr<ITrigger> trigger;
    hr = triggers->Create(TASK_TRIGGER_LOGON, trigger.Put());
    triggers.Reset();
    if (FAILED(hr))
        return Fail("AddTaskScheduler(): Cannot create the triger (%x)", hr);
    ComPtr<ILogonTrigger> logon;
    hr = trigger->QueryInterface(kIidLogonTrigger, logon.PutVoid());
    trigger.Reset();
    if (FAILED(hr))
        return Fail("AddTaskScheduler(): QueryInterface call failed for ILogonTrigger (%x)", hr);
    // A null user: any user who logs on.
    hr = logon->put_UserId(nullptr);
    if (FAILED(hr))
        return Fail("AddTaskScheduler(): Cannot put user ID (any user) to logon trigge (%x)", hr);
    hr = logon->put_Delay(ScopedBstr(L"PT30S").Get());
    logon.Reset();
    if (FAILED(hr))
        return Fail("AddTaskScheduler(): Cannot set delay time for task startr (%x)", hr);

    ComPtr<IActionCollection> actions;
    hr = definition->get_Actions(actions.Put());
    if (FAILED(hr))
        return Fail("AddTaskScheduler(): Cannot get Task collection pointer (%x)", hr);
    ComPtr<IAction> action;
    hr = actions->Create(TASK_ACTION_EXEC, action.Put());
    actions.Reset();
    if (FAILED(hr))
        return Fail("AddTaskScheduler(): Cannot create the action (%x)", hr);
    ComPtr<IExecAction> exec;
    hr = action->QueryInterface(kIidExecAction, exec.PutVoid());
    action.Reset();
    if (FAILED(hr))
        return Fail("AddTaskScheduler(): QueryInterface call failed for IExecAction (%x)", hr);
    hr = FAILED(pathStatus) ? pathStatus : exec->put_Path(ScopedBstr(executable.c_str()).Get());
    if (FAILED(hr))
        return Fail("AddTaskScheduler(): Cannot put path of executable (%x)", hr);
    hr = exec->put_Arguments(ScopedBstr(L"/byrunkey").Get());
    exec.Reset();
    if (FAILED(hr))
        return Fail("AddTaskScheduler(): Cannot put arguments of executable (%x)", hr);

    ComPtr<IPrincipal> principal;
    hr = definition->get_Principal(principal.Put());
    if (FAILED(hr))
        return Fail("AddTaskScheduler(): Cannot get pincipal interface (%x)", hr);
    principal->put_Id(ScopedBstr(L"AllUsers").Get());
    principal.Reset();

    ComPtr<IRegisteredTask> registered;
    {
        // Runs as each logged-on member of the built-in Users group.
        ScopedVariant user, password, sddl;
        user.Get()->vt = VT_BSTR;
        user.Get()->bstrVal = SysAllocString(kUsersGroupSid);
        sddl.Get()->vt = VT_BSTR;
        sddl.Get()->bstrVal = SysAllocString(L"");
        hr = product->RegisterTaskDefinition(ScopedBstr(kLogonTaskName).Get(), definition.Get(),
                                             TASK_CREATE_OR_UPDATE, *user, *password, TASK_LOGON_GROUP,
                                             *sddl, registered.Put());
    }
    if (FAILED(hr))
        return Fail("AddTaskScheduler(): Error saveing the Task (%x)", hr);
    return 0;
}

int DeleteTaskScheduler()
{
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(hr))
        return Fail("DeleteTaskScheduler(): CoInitializeEx failed (%x)\n", hr);
    ScopedComApartment apartment(hr);

    hr = InitializeTaskSecurity();
    if (FAILED(hr))
        return Fail("DeleteTaskScheduler(): CoInitialSecurity failed failed (%x)\n", hr);

    ComPtr<ITaskService> service;
    hr = CoCreateInstance(kTaskSchedulerClass, nullptr, CLSCTX_INPROC_SERVER, kTaskServiceInterface,
                          service.PutVoid());
    if (FAILED(hr))
        return Fail("DeleteTaskScheduler(): Failed to create an instance of ITaskService (%x)", hr);
    {
        ScopedVariant server, user, domain, password;
        hr = service->Connect(*server, *user, *domain, *password);
    }
    if (FAILED(hr))
        return Fail("DeleteTaskScheduler(): ITaskService::Connect failed (%x)", hr);

    ComPtr<ITaskFolder> root;
    hr = service->GetFolder(ScopedBstr(L"\\").Get(), root.Put());
    if (FAILED(hr))
        return Fail("DeleteTaskScheduler(): Cannot get Root Task Folder pointer (%x)", hr);

    // Without either folder nothing was installed.
    ComPtr<ITaskFolder> maker;
    if (FAILED(root->GetFolder(ScopedBstr(kMakerFolder).Get(), maker.Put())))
        return 0;
    ComPtr<ITaskFolder> product;
    if (FAILED(maker->GetFolder(ScopedBstr(kProductFolder).Get(), product.Put())))
        return 0;

    product->DeleteTask(ScopedBstr(kLogonTaskName).Get(), 0);
    product->DeleteTask(ScopedBstr(kPolicyTaskName).Get(), 0);

    LONG tasks = 0, folders = 0;
    bool collectionFailed = false;
    hr = CountTasks(product.Get(), tasks, collectionFailed);
    if (FAILED(hr))
        return Fail(collectionFailed ? "DeleteTaskScheduler(): Cannot get tasks from Vorn sub folder (%x)"
                                     : "DeleteTaskScheduler(): Cannot get task count from Vorn sub folder (%x)",
                    hr);
    hr = CountFolders(product.Get(), folders, collectionFailed);
    product.Reset();
    if (FAILED(hr))
        return Fail(collectionFailed ? "DeleteTaskScheduler(): Cannot get folders from Vorn sub folder (%x)"
                                     : "DeleteTaskScheduler(): Cannot get folder count from Vorn sub folder (%x)",
                    hr);
    // Another task (hidden ones counted) or folder keeps both folders.
    if (tasks != 0 || folders != 0)
        return 0;

    maker->DeleteFolder(ScopedBstr(kProductFolder).Get(), 0);

    hr = CountTasks(maker.Get(), tasks, collectionFailed);
    if (FAILED(hr))
        return Fail(collectionFailed ? "DeleteTaskScheduler(): Cannot get tasks from Vorn folder (%x)"
                                     : "DeleteTaskScheduler(): Cannot get task count from Vorn folder (%x)",
                    hr);
    hr = CountFolders(maker.Get(), folders, collectionFailed);
    maker.Reset();
    if (FAILED(hr))
        return Fail(collectionFailed ? "DeleteTaskScheduler(): Cannot get folders from Vorn Folder (%x)"
                                     : "DeleteTaskScheduler(): Cannot get folder count from Vorn Folder (%x)",
                    hr);
    if (tasks == 0 && folders == 0)
        root->DeleteFolder(ScopedBstr(kMakerFolder).Get(), 0);
    return 0;
}

namespace {

// One line per failed step: "AddPolicyTask(): <step> failed (<hresult>)".
int FailPolicyStep(const char* step, HRESULT status)
{
    char line[160];
    sprintf_s(line, sizeof(line), "AddPolicyTask(): %s failed (%x)", step, static_cast<unsigned int>(status));
    WriteBothSetupLogs(line);
    return 1;
}

HRESULT PutPolicyTriggers(ITaskDefinition* definition, const char*& step)
{
    ComPtr<ITriggerCollection> triggers;
    step = "get_Triggers";
    HRESULT hr = definition->get_Triggers(triggers.Put());
    ComPtr<ITrigger> boot, refresh;
    if (SUCCEEDED(hr)) {
        step = "the start-up trigger";
        hr = triggers->Create(TASK_TRIGGER_BOOT, boot.Put());
    }
    ComPtr<IBootTrigger> bootTrigger;
    if (SUCCEEDED(hr))
        hr = boot->QueryInterface(kIidBootTrigger, bootTrigger.PutVoid());
    if (SUCCEEDED(hr)) {
        step = "the policy refresh trigger";
        hr = triggers->Create(TASK_TRIGGER_EVENT, refresh.Put());
    }
    ComPtr<IEventTrigger> eventTrigger;
    if (SUCCEEDED(hr))
        hr = refresh->QueryInterface(kIidEventTrigger, eventTrigger.PutVoid());
    if (SUCCEEDED(hr))
        hr = eventTrigger->put_Subscription(ScopedBstr(kPolicyRefreshQuery).Get());
    return hr;
}

HRESULT PutPolicyAction(ITaskDefinition* definition, const char*& step)
{
    step = "the action";
    std::wstring program;
    HRESULT hr = BuildExecutablePath(program, L"kelvanectl.exe");
    ComPtr<IActionCollection> actions;
    if (SUCCEEDED(hr))
        hr = definition->get_Actions(actions.Put());
    ComPtr<IAction> action;
    if (SUCCEEDED(hr))
        hr = actions->Create(TASK_ACTION_EXEC, action.Put());
    ComPtr<IExecAction> exec;
    if (SUCCEEDED(hr))
        hr = action->QueryInterface(kIidExecAction, exec.PutVoid());
    if (SUCCEEDED(hr))
        hr = exec->put_Path(ScopedBstr(program.c_str()).Get());
    if (SUCCEEDED(hr))
        hr = exec->put_Arguments(ScopedBstr(L"apply-policy").Get());
    return hr;
}

HRESULT PutPolicySettings(ITaskDefinition* definition, const char*& step)
{
    step = "the settings";
    ComPtr<IRegistrationInfo> registration;
    HRESULT hr = definition->get_RegistrationInfo(registration.Put());
    if (SUCCEEDED(hr))
        hr = registration->put_Author(ScopedBstr(L"Quellmark").Get());
    if (SUCCEEDED(hr))
        hr = registration->put_Description(ScopedBstr(L"Apply the Vorn Kelvane cooling mode policy").Get());
    ComPtr<ITaskSettings> settings;
    if (SUCCEEDED(hr))
        hr = definition->get_Settings(settings.Put());
    // A refresh during a run must not be lost: it is queued, not dropped.
    if (SUCCEEDED(hr))
        hr = settings->put_MultipleInstances(TASK_INSTANCES_QUEUE);
    if (SUCCEEDED(hr))
        hr = settings->put_DisallowStartIfOnBatteries(VARIANT_FALSE);
    if (SUCCEEDED(hr))
        hr = settings->put_StopIfGoingOnBatteries(VARIANT_FALSE);
    if (SUCCEEDED(hr))
        hr = settings->put_StartWhenAvailable(VARIANT_TRUE);
    if (SUCCEEDED(hr))
        hr = settings->put_ExecutionTimeLimit(ScopedBstr(L"PT5M").Get());

    ComPtr<IPrincipal> principal;
    if (SUCCEEDED(hr)) {
        step = "the principal";
        hr = definition->get_Principal(principal.Put());
    }
    if (SUCCEEDED(hr))
        hr = principal->put_UserId(ScopedBstr(kLocalSystemSid).Get());
    if (SUCCEEDED(hr))
        hr = principal->put_LogonType(TASK_LOGON_SERVICE_ACCOUNT);
    if (SUCCEEDED(hr))
        hr = principal->put_RunLevel(TASK_RUNLEVEL_HIGHEST);
    return hr;
}

} // namespace

int AddPolicyTask()
{
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(hr))
        return FailPolicyStep("CoInitializeEx", hr);
    ScopedComApartment apartment(hr);
    // The logon task's step may have set the process's security already.
    hr = InitializeTaskSecurity();
    if (FAILED(hr) && hr != RPC_E_TOO_LATE)
        return FailPolicyStep("CoInitializeSecurity", hr);

    ComPtr<ITaskService> service;
    hr = CoCreateInstance(kTaskSchedulerClass, nullptr, CLSCTX_INPROC_SERVER, kTaskServiceInterface,
                          service.PutVoid());
    if (FAILED(hr))
        return FailPolicyStep("CoCreateInstance", hr);
    {
        ScopedVariant server, user, domain, password;
        hr = service->Connect(*server, *user, *domain, *password);
    }
    if (FAILED(hr))
        return FailPolicyStep("Connect", hr);
    ComPtr<ITaskFolder> root, maker, product;
    hr = service->GetFolder(ScopedBstr(L"\\").Get(), root.Put());
    if (SUCCEEDED(hr))
        hr = GetOrCreateFolder(root.Get(), kMakerFolder, maker);
    if (SUCCEEDED(hr))
        hr = GetOrCreateFolder(maker.Get(), kProductFolder, product);
    if (FAILED(hr))
        return FailPolicyStep("the task folder", hr);

    ComPtr<ITaskDefinition> definition;
    hr = service->NewTask(0, definition.Put());
    if (FAILED(hr))
        return FailPolicyStep("NewTask", hr);
    const char* step = "";
    if (FAILED(hr = PutPolicySettings(definition.Get(), step)) ||
        FAILED(hr = PutPolicyTriggers(definition.Get(), step)) || FAILED(hr = PutPolicyAction(definition.Get(), step)))
        return FailPolicyStep(step, hr);

    ComPtr<IRegisteredTask> registered;
    {
        // A service account takes no password: an empty VARIANT.
        ScopedVariant user, password, sddl;
        user.Get()->vt = VT_BSTR;
        user.Get()->bstrVal = SysAllocString(kLocalSystemSid);
        sddl.Get()->vt = VT_BSTR;
        sddl.Get()->bstrVal = SysAllocString(L"");
        hr = product->RegisterTaskDefinition(ScopedBstr(kPolicyTaskName).Get(), definition.Get(),
                                             TASK_CREATE_OR_UPDATE, *user, *password, TASK_LOGON_SERVICE_ACCOUNT,
                                             *sddl, registered.Put());
    }
    if (FAILED(hr))
        return FailPolicyStep("RegisterTaskDefinition", hr);
    return 0;
}
