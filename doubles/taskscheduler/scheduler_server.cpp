#include "scheduler_server.h"

#include <oleauto.h>
#include <taskschd.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "com_object.h"
#include "logon_trigger.h"
#include "machine_store.h"
#include "scheduler_store.h"
#include "system_triggers.h"

namespace simts {

namespace {

using simfw::Machine;

// Private: RegisterTaskDefinition takes only definitions made here.
const IID kIidSimTaskDefinition = {
    0x3A0C5E21, 0x7B44, 0x4F0B, {0x8D, 0x2A, 0x61, 0x9E, 0x05, 0xC3, 0x7A, 0x10}};

const HRESULT kPathNotFound = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);     // 0x80070003
const HRESULT kFileNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);     // 0x80070002
const HRESULT kAlreadyExists = HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);    // 0x800700B7
const HRESULT kNotEmpty = HRESULT_FROM_WIN32(ERROR_DIR_NOT_EMPTY);          // 0x80070091
const HRESULT kNotConnected = HRESULT_FROM_WIN32(ERROR_ONLY_IF_CONNECTED);  // 0x800704E3
const LONG kTaskRunUseSessionId = 0x4; // TASK_RUN_USE_SESSION_ID, missing from MinGW's taskschd.h

std::string Utf8(const wchar_t* text)
{
    if (!text || !*text)
        return std::string();
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string result(size > 0 ? size - 1 : 0, '\0');
    if (size > 1)
        WideCharToMultiByte(CP_UTF8, 0, text, -1, &result[0], size, nullptr, nullptr);
    return result;
}

std::wstring Wide(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring result(size > 0 ? size - 1 : 0, L'\0');
    if (size > 1)
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &result[0], size);
    return result;
}

// A null BSTR and an empty one are different requests.
const char kNull[] = "<null>";

std::string TextOrNull(BSTR text)
{
    return text ? Utf8(text) : kNull;
}

std::string DescribeVariant(const VARIANT& value)
{
    switch (value.vt) {
    case VT_EMPTY:
        return "EMPTY";
    case VT_NULL:
        return "NULL";
    case VT_BSTR:
        return "BSTR \"" + Utf8(value.bstrVal) + "\"";
    case VT_I4:
        return "I4 " + std::to_string(value.lVal);
    default:
        return "vt " + std::to_string(value.vt);
    }
}

// Lets the first N calls at a point through before its failure applies
// ("pass.ts.<point>=N"); true while such a call is let through.
bool PassesFirst(Machine& machine, const std::string& point)
{
    long left = std::strtol(machine.Get("pass." + point, "0").c_str(), nullptr, 10);
    if (left <= 0)
        return false;
    if (left == 1)
        machine.Erase("pass." + point);
    else
        machine.Set("pass." + point, std::to_string(left - 1));
    return true;
}

// The injected failure for this call, if any: "fail.ts.<point>:<argument>"
// first, then "fail.ts.<point>".
HRESULT Step(const std::string& point, const wchar_t* argument = nullptr)
{
    Machine machine = Machine::Load();
    std::string specific = "ts." + point + ":" + Utf8(argument);
    std::string general = "ts." + point;
    std::string chosen;
    if (argument && machine.Has("fail." + specific))
        chosen = specific;
    else if (machine.Has("fail." + general))
        chosen = general;
    else
        return S_OK;
    HRESULT hr = PassesFirst(machine, chosen) ? S_OK : machine.TakeFailure(chosen);
    machine.Save();
    return hr;
}

HRESULT ReturnText(const std::string& text, BSTR* value)
{
    if (!value)
        return E_POINTER;
    *value = text == kNull ? nullptr : SysAllocString(Wide(text).c_str());
    return text == kNull || *value ? S_OK : E_OUTOFMEMORY;
}

// IUnknown and an IDispatch without type information, for every object.
template <class Interface>
class Dispatch : public Interface, protected simfw::CountedObject {
public:
    explicit Dispatch(const IID& iid) : iid_(iid) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        HRESULT hr = Query(iid, object);
        if (SUCCEEDED(hr))
            AddRef();
        return hr;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefCounted(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseCounted(); }

    STDMETHODIMP GetTypeInfoCount(UINT* count) override
    {
        if (count)
            *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }

protected:
    virtual HRESULT Query(REFIID iid, void** object)
    {
        if (iid != IID_IUnknown && iid != IID_IDispatch && iid != iid_)
            return E_NOINTERFACE;
        *object = static_cast<Interface*>(this);
        return S_OK;
    }

private:
    const IID& iid_;
};

// What one definition holds until it is registered: every property set,
// under keys such as "settings.ExecutionTimeLimit" or "action.1.Path".
struct DefinitionData {
    Properties properties;
    int triggers = 0;
    int actions = 0;
};
using SharedDefinition = std::shared_ptr<DefinitionData>;

// The part of a definition that an object shows (its keys' prefix).
class DefinitionPart {
protected:
    DefinitionPart(SharedDefinition data, std::string prefix) : data_(std::move(data)), prefix_(std::move(prefix)) {}

    HRESULT GetText(const char* name, BSTR* value, const char* fallback) const
    {
        auto found = data_->properties.find(prefix_ + name);
        return ReturnText(found == data_->properties.end() ? fallback : found->second, value);
    }
    HRESULT PutText(const std::string& point, const char* name, BSTR value)
    {
        if (HRESULT failure = Step(point))
            return failure;
        data_->properties[prefix_ + name] = TextOrNull(value);
        return S_OK;
    }
    template <class Number>
    HRESULT GetNumber(const char* name, Number* value, long fallback) const
    {
        if (!value)
            return E_POINTER;
        auto found = data_->properties.find(prefix_ + name);
        *value = static_cast<Number>(found == data_->properties.end()
                                         ? fallback
                                         : std::strtol(found->second.c_str(), nullptr, 10));
        return S_OK;
    }
    HRESULT PutNumber(const std::string& point, const char* name, long value)
    {
        if (HRESULT failure = Step(point))
            return failure;
        data_->properties[prefix_ + name] = std::to_string(value);
        return S_OK;
    }

    SharedDefinition data_;
    std::string prefix_;
};

// get_/put_ pairs whose values live in the definition, with the real
// service's defaults for what was never set.
#define TS_TEXT(Interface, Name, Fallback)                                                    \
    STDMETHODIMP get_##Name(BSTR* value) override { return GetText(#Name, value, Fallback); } \
    STDMETHODIMP put_##Name(BSTR value) override { return PutText(#Interface ".put_" #Name, #Name, value); }
#define TS_NUMBER(Interface, Name, Type, Fallback)                                                   \
    STDMETHODIMP get_##Name(Type* value) override { return GetNumber(#Name, value, Fallback); }      \
    STDMETHODIMP put_##Name(Type value) override                                                     \
    {                                                                                                \
        return PutNumber(#Interface ".put_" #Name, #Name, static_cast<long>(value));                 \
    }
#define TS_BOOL(Interface, Name, Fallback) TS_NUMBER(Interface, Name, VARIANT_BOOL, Fallback)

class RegistrationInfo final : public Dispatch<IRegistrationInfo>, private DefinitionPart {
public:
    explicit RegistrationInfo(SharedDefinition data)
        : Dispatch(IID_IRegistrationInfo), DefinitionPart(std::move(data), "registration.") {}

    TS_TEXT(RegistrationInfo, Description, kNull)
    TS_TEXT(RegistrationInfo, Author, kNull)
    TS_TEXT(RegistrationInfo, Version, kNull)
    TS_TEXT(RegistrationInfo, Date, kNull)
    TS_TEXT(RegistrationInfo, Documentation, kNull)
    TS_TEXT(RegistrationInfo, URI, kNull)
    TS_TEXT(RegistrationInfo, Source, kNull)
    STDMETHODIMP get_XmlText(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP put_XmlText(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP get_SecurityDescriptor(VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP put_SecurityDescriptor(VARIANT) override { return E_NOTIMPL; }
};

class IdleSettings final : public Dispatch<IIdleSettings>, private DefinitionPart {
public:
    explicit IdleSettings(SharedDefinition data)
        : Dispatch(IID_IIdleSettings), DefinitionPart(std::move(data), "settings.IdleSettings.") {}

    TS_TEXT(IdleSettings, IdleDuration, "PT10M")
    TS_TEXT(IdleSettings, WaitTimeout, "PT1H")
    TS_BOOL(IdleSettings, StopOnIdleEnd, VARIANT_TRUE)
    TS_BOOL(IdleSettings, RestartOnIdle, VARIANT_FALSE)
};

class TaskSettings final : public Dispatch<ITaskSettings>, private DefinitionPart {
public:
    explicit TaskSettings(SharedDefinition data)
        : Dispatch(IID_ITaskSettings), DefinitionPart(std::move(data), "settings.") {}

    TS_BOOL(TaskSettings, AllowDemandStart, VARIANT_TRUE)
    TS_TEXT(TaskSettings, RestartInterval, "")
    TS_NUMBER(TaskSettings, RestartCount, INT, 0)
    TS_NUMBER(TaskSettings, MultipleInstances, TASK_INSTANCES_POLICY, TASK_INSTANCES_IGNORE_NEW)
    TS_BOOL(TaskSettings, StopIfGoingOnBatteries, VARIANT_TRUE)
    TS_BOOL(TaskSettings, DisallowStartIfOnBatteries, VARIANT_TRUE)
    TS_BOOL(TaskSettings, AllowHardTerminate, VARIANT_TRUE)
    TS_BOOL(TaskSettings, StartWhenAvailable, VARIANT_FALSE)
    TS_BOOL(TaskSettings, RunOnlyIfNetworkAvailable, VARIANT_FALSE)
    TS_TEXT(TaskSettings, ExecutionTimeLimit, "PT72H")
    TS_BOOL(TaskSettings, Enabled, VARIANT_TRUE)
    TS_TEXT(TaskSettings, DeleteExpiredTaskAfter, "")
    TS_NUMBER(TaskSettings, Priority, INT, 7)
    TS_NUMBER(TaskSettings, Compatibility, TASK_COMPATIBILITY, TASK_COMPATIBILITY_V2)
    TS_BOOL(TaskSettings, Hidden, VARIANT_FALSE)
    TS_BOOL(TaskSettings, RunOnlyIfIdle, VARIANT_FALSE)
    TS_BOOL(TaskSettings, WakeToRun, VARIANT_FALSE)
    STDMETHODIMP get_XmlText(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP put_XmlText(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP get_NetworkSettings(INetworkSettings**) override { return E_NOTIMPL; }
    STDMETHODIMP put_NetworkSettings(INetworkSettings*) override { return E_NOTIMPL; }
    STDMETHODIMP put_IdleSettings(IIdleSettings*) override { return E_NOTIMPL; }

    STDMETHODIMP get_IdleSettings(IIdleSettings** settings) override
    {
        if (!settings)
            return E_POINTER;
        *settings = nullptr;
        if (HRESULT failure = Step("TaskSettings.get_IdleSettings"))
            return failure;
        *settings = new (std::nothrow) IdleSettings(data_);
        return *settings ? S_OK : E_OUTOFMEMORY;
    }
};

// ITrigger's own properties, for each kind of trigger.
template <class Interface>
class TriggerBase : public Dispatch<Interface>, protected DefinitionPart {
public:
    TriggerBase(SharedDefinition data, int index, TASK_TRIGGER_TYPE2 type)
        : Dispatch<Interface>(IID_ITrigger),
          DefinitionPart(std::move(data), "trigger." + std::to_string(index) + "."), type_(type)
    {
    }

    STDMETHODIMP get_Type(TASK_TRIGGER_TYPE2* type) override
    {
        if (!type)
            return E_POINTER;
        *type = type_;
        return S_OK;
    }
    TS_TEXT(Trigger, Id, kNull)
    TS_TEXT(Trigger, ExecutionTimeLimit, kNull)
    TS_TEXT(Trigger, StartBoundary, kNull)
    TS_TEXT(Trigger, EndBoundary, kNull)
    TS_BOOL(Trigger, Enabled, VARIANT_TRUE)
    STDMETHODIMP get_Repetition(IRepetitionPattern**) override { return E_NOTIMPL; }
    STDMETHODIMP put_Repetition(IRepetitionPattern*) override { return E_NOTIMPL; }

protected:
    // The kind's own interface, under its injection point
    // "fail.ts.Trigger.QueryInterface:<name>".
    HRESULT QueryKind(REFIID iid, void** object, const IID& kindIid, const wchar_t* name)
    {
        if (iid != kindIid)
            return Dispatch<Interface>::Query(iid, object);
        if (HRESULT failure = Step("Trigger.QueryInterface", name))
            return failure;
        *object = static_cast<Interface*>(this);
        return S_OK;
    }

    TASK_TRIGGER_TYPE2 type_;
};

// Logon triggers, and the stand-in for the kinds the double does not know.
class LogonTrigger final : public TriggerBase<ILogonTrigger> {
public:
    using TriggerBase::TriggerBase;
    TS_TEXT(LogonTrigger, Delay, kNull)
    TS_TEXT(LogonTrigger, UserId, kNull)

protected:
    HRESULT Query(REFIID iid, void** object) override
    {
        if (iid == kIidLogonTrigger && type_ != TASK_TRIGGER_LOGON)
            return E_NOINTERFACE;
        return QueryKind(iid, object, kIidLogonTrigger, L"ILogonTrigger");
    }
};

class BootTrigger final : public TriggerBase<IBootTrigger> {
public:
    using TriggerBase::TriggerBase;
    TS_TEXT(BootTrigger, Delay, kNull)

protected:
    HRESULT Query(REFIID iid, void** object) override
    {
        return QueryKind(iid, object, kIidBootTrigger, L"IBootTrigger");
    }
};

class EventTrigger final : public TriggerBase<IEventTrigger> {
public:
    using TriggerBase::TriggerBase;
    TS_TEXT(EventTrigger, Subscription, kNull)
    TS_TEXT(EventTrigger, Delay, kNull)
    STDMETHODIMP get_ValueQueries(ITaskNamedValueCollection**) override { return E_NOTIMPL; }
    STDMETHODIMP put_ValueQueries(ITaskNamedValueCollection*) override { return E_NOTIMPL; }

protected:
    HRESULT Query(REFIID iid, void** object) override
    {
        return QueryKind(iid, object, kIidEventTrigger, L"IEventTrigger");
    }
};

class TriggerCollection final : public Dispatch<ITriggerCollection>, private DefinitionPart {
public:
    explicit TriggerCollection(SharedDefinition data)
        : Dispatch(IID_ITriggerCollection), DefinitionPart(std::move(data), "trigger.") {}

    STDMETHODIMP get_Count(LONG* count) override
    {
        if (!count)
            return E_POINTER;
        *count = data_->triggers;
        return S_OK;
    }
    STDMETHODIMP Create(TASK_TRIGGER_TYPE2 type, ITrigger** trigger) override
    {
        if (!trigger)
            return E_POINTER;
        *trigger = nullptr;
        if (HRESULT failure = Step("TriggerCollection.Create"))
            return failure;
        int index = ++data_->triggers;
        data_->properties["trigger." + std::to_string(index) + ".Type"] = std::to_string(type);
        switch (type) {
        case TASK_TRIGGER_BOOT:
            *trigger = new (std::nothrow) BootTrigger(data_, index, type);
            break;
        case TASK_TRIGGER_EVENT:
            *trigger = new (std::nothrow) EventTrigger(data_, index, type);
            break;
        default:
            *trigger = new (std::nothrow) LogonTrigger(data_, index, type);
            break;
        }
        return *trigger ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP get_Item(LONG, ITrigger**) override { return E_NOTIMPL; }
    STDMETHODIMP get__NewEnum(IUnknown**) override { return E_NOTIMPL; }
    STDMETHODIMP Remove(VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP Clear() override { return E_NOTIMPL; }
};

class ExecAction final : public Dispatch<IExecAction>, private DefinitionPart {
public:
    ExecAction(SharedDefinition data, int index)
        : Dispatch(IID_IAction), DefinitionPart(std::move(data), "action." + std::to_string(index) + ".") {}

    STDMETHODIMP get_Type(TASK_ACTION_TYPE* type) override
    {
        if (!type)
            return E_POINTER;
        *type = TASK_ACTION_EXEC;
        return S_OK;
    }
    TS_TEXT(Action, Id, kNull)
    TS_TEXT(ExecAction, Path, kNull)
    TS_TEXT(ExecAction, Arguments, kNull)
    TS_TEXT(ExecAction, WorkingDirectory, kNull)

protected:
    HRESULT Query(REFIID iid, void** object) override
    {
        if (iid == IID_IExecAction) {
            if (HRESULT failure = Step("Action.QueryInterface", L"IExecAction"))
                return failure;
            *object = static_cast<IExecAction*>(this);
            return S_OK;
        }
        return Dispatch::Query(iid, object);
    }
};

class ActionCollection final : public Dispatch<IActionCollection>, private DefinitionPart {
public:
    explicit ActionCollection(SharedDefinition data)
        : Dispatch(IID_IActionCollection), DefinitionPart(std::move(data), "actions.") {}

    STDMETHODIMP get_Count(LONG* count) override
    {
        if (!count)
            return E_POINTER;
        *count = data_->actions;
        return S_OK;
    }
    STDMETHODIMP Create(TASK_ACTION_TYPE type, IAction** action) override
    {
        if (!action)
            return E_POINTER;
        *action = nullptr;
        if (HRESULT failure = Step("ActionCollection.Create"))
            return failure;
        // Only programs to start: e-mail and message actions are not simulated.
        if (type != TASK_ACTION_EXEC)
            return E_NOTIMPL;
        int index = ++data_->actions;
        data_->properties["action." + std::to_string(index) + ".Type"] = std::to_string(type);
        *action = new (std::nothrow) ExecAction(data_, index);
        return *action ? S_OK : E_OUTOFMEMORY;
    }
    TS_TEXT(ActionCollection, Context, kNull)
    STDMETHODIMP get_Item(LONG, IAction**) override { return E_NOTIMPL; }
    STDMETHODIMP get__NewEnum(IUnknown**) override { return E_NOTIMPL; }
    STDMETHODIMP get_XmlText(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP put_XmlText(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP Remove(VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP Clear() override { return E_NOTIMPL; }
};

class Principal final : public Dispatch<IPrincipal>, private DefinitionPart {
public:
    explicit Principal(SharedDefinition data) : Dispatch(IID_IPrincipal), DefinitionPart(std::move(data), "principal.") {}

    TS_TEXT(Principal, Id, kNull)
    TS_TEXT(Principal, DisplayName, kNull)
    TS_TEXT(Principal, UserId, kNull)
    TS_NUMBER(Principal, LogonType, TASK_LOGON_TYPE, TASK_LOGON_NONE)
    TS_TEXT(Principal, GroupId, kNull)
    TS_NUMBER(Principal, RunLevel, TASK_RUNLEVEL_TYPE, TASK_RUNLEVEL_LUA)
};

// Hands out a new part of the definition, after its injection point.
template <class Part, class Interface>
HRESULT NewPart(const char* point, const SharedDefinition& data, Interface** part)
{
    if (!part)
        return E_POINTER;
    *part = nullptr;
    if (HRESULT failure = Step(point))
        return failure;
    *part = new (std::nothrow) Part(data);
    return *part ? S_OK : E_OUTOFMEMORY;
}

class TaskDefinition final : public Dispatch<ITaskDefinition> {
public:
    TaskDefinition() : Dispatch(IID_ITaskDefinition), data_(std::make_shared<DefinitionData>()) {}

    const Properties& Values() const { return data_->properties; }

    STDMETHODIMP get_RegistrationInfo(IRegistrationInfo** info) override
    {
        return NewPart<RegistrationInfo>("TaskDefinition.get_RegistrationInfo", data_, info);
    }
    STDMETHODIMP get_Triggers(ITriggerCollection** triggers) override
    {
        return NewPart<TriggerCollection>("TaskDefinition.get_Triggers", data_, triggers);
    }
    STDMETHODIMP get_Settings(ITaskSettings** settings) override
    {
        return NewPart<TaskSettings>("TaskDefinition.get_Settings", data_, settings);
    }
    STDMETHODIMP get_Principal(IPrincipal** principal) override
    {
        return NewPart<Principal>("TaskDefinition.get_Principal", data_, principal);
    }
    STDMETHODIMP get_Actions(IActionCollection** actions) override
    {
        return NewPart<ActionCollection>("TaskDefinition.get_Actions", data_, actions);
    }
    STDMETHODIMP get_Data(BSTR* data) override
    {
        auto found = data_->properties.find("data");
        return ReturnText(found == data_->properties.end() ? kNull : found->second, data);
    }
    STDMETHODIMP put_Data(BSTR data) override
    {
        data_->properties["data"] = TextOrNull(data);
        return S_OK;
    }
    STDMETHODIMP put_RegistrationInfo(IRegistrationInfo*) override { return E_NOTIMPL; }
    STDMETHODIMP put_Triggers(ITriggerCollection*) override { return E_NOTIMPL; }
    STDMETHODIMP put_Settings(ITaskSettings*) override { return E_NOTIMPL; }
    STDMETHODIMP put_Principal(IPrincipal*) override { return E_NOTIMPL; }
    STDMETHODIMP put_Actions(IActionCollection*) override { return E_NOTIMPL; }
    STDMETHODIMP get_XmlText(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP put_XmlText(BSTR) override { return E_NOTIMPL; }

protected:
    HRESULT Query(REFIID iid, void** object) override
    {
        if (iid == kIidSimTaskDefinition) {
            *object = this;
            return S_OK;
        }
        return Dispatch::Query(iid, object);
    }

private:
    SharedDefinition data_;
};

// Starts the task's first action as the service would, in this (the only)
// session, after the documented checks: a session id of 0 or less with
// TASK_RUN_USE_SESSION_ID is an invalid argument; a task that may not be
// started on demand, or is disabled, returns S_OK without running. No
// IRunningTask is handed out. Each call is recorded as
// "last.ts.run.<n>=<path>|flags=..|session=..|user=..|<what happened>".
HRESULT RunTaskAction(const std::string& path, const VARIANT& params, LONG flags, LONG session, BSTR user,
                      IRunningTask** running)
{
    if (running)
        *running = nullptr;
    if (HRESULT failure = Step("RegisteredTask.RunEx", Wide(path).c_str()))
        return failure;
    const bool useSession = (flags & kTaskRunUseSessionId) != 0;
    Machine machine = Machine::Load();
    if (!TaskExists(machine, path))
        return kFileNotFound;
    const Properties task = TaskProperties(machine, path);
    auto property = [&task](const char* name, const char* fallback) {
        auto found = task.find(name);
        return found == task.end() ? std::string(fallback) : found->second;
    };
    std::string outcome;
    HRESULT hr = S_OK;
    if (useSession && session <= 0) {
        outcome = "invalid session";
        hr = E_INVALIDARG;
    } else if (params.vt != VT_EMPTY && params.vt != VT_NULL) {
        outcome = "parameters not supported by the double";
        hr = E_INVALIDARG;
    } else if (std::strtol(property("settings.AllowDemandStart", "-1").c_str(), nullptr, 10) == 0 ||
               std::strtol(property("settings.Enabled", "-1").c_str(), nullptr, 10) == 0) {
        outcome = "not run";
    } else {
        std::wstring program = Wide(property("action.1.Path", ""));
        std::wstring commandLine = L"\"" + program + L"\" " + Wide(property("action.1.Arguments", ""));
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION started = {};
        if (CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                           &started)) {
            CloseHandle(started.hThread);
            CloseHandle(started.hProcess);
            outcome = "started";
        } else {
            hr = HRESULT_FROM_WIN32(GetLastError());
            outcome = "start failed";
        }
    }
    const long count = machine.Counter("ts.run") + 1;
    machine.Increment("ts.run");
    machine.Set("last.ts.run." + std::to_string(count), path + "|flags=" + std::to_string(flags) +
                                                        "|session=" + std::to_string(session) +
                                                        "|user=" + TextOrNull(user) + "|" + outcome);
    machine.Save();
    return hr;
}

class RegisteredTask final : public Dispatch<IRegisteredTask> {
public:
    explicit RegisteredTask(std::string path) : Dispatch(IID_IRegisteredTask), path_(std::move(path)) {}

    STDMETHODIMP get_Name(BSTR* name) override
    {
        return ReturnText(path_.substr(path_.rfind('\\') + 1), name);
    }
    STDMETHODIMP get_Path(BSTR* path) override { return ReturnText(path_, path); }
    STDMETHODIMP get_State(TASK_STATE* state) override
    {
        if (!state)
            return E_POINTER;
        *state = TASK_STATE_READY;
        return S_OK;
    }
    STDMETHODIMP get_Enabled(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_Enabled(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP Run(VARIANT params, IRunningTask** running) override
    {
        return RunEx(params, 0, 0, nullptr, running);
    }
    STDMETHODIMP RunEx(VARIANT params, LONG flags, LONG session, BSTR user, IRunningTask** running) override
    {
        return RunTaskAction(path_, params, flags, session, user, running);
    }
    STDMETHODIMP GetInstances(LONG, IRunningTaskCollection**) override { return E_NOTIMPL; }
    STDMETHODIMP get_LastRunTime(DATE*) override { return E_NOTIMPL; }
    STDMETHODIMP get_LastTaskResult(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP get_NumberOfMissedRuns(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP get_NextRunTime(DATE*) override { return E_NOTIMPL; }
    STDMETHODIMP get_Definition(ITaskDefinition**) override { return E_NOTIMPL; }
    STDMETHODIMP get_Xml(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP GetSecurityDescriptor(LONG, BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP SetSecurityDescriptor(BSTR, LONG) override { return E_NOTIMPL; }
    STDMETHODIMP Stop(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP GetRunTimes(const LPSYSTEMTIME, const LPSYSTEMTIME, DWORD*, LPSYSTEMTIME*) override
    {
        return E_NOTIMPL;
    }

private:
    std::string path_;
};

class RegisteredTaskCollection final : public Dispatch<IRegisteredTaskCollection> {
public:
    explicit RegisteredTaskCollection(std::vector<std::string> paths)
        : Dispatch(IID_IRegisteredTaskCollection), paths_(std::move(paths)) {}

    STDMETHODIMP get_Count(LONG* count) override
    {
        if (!count)
            return E_POINTER;
        if (HRESULT failure = Step("RegisteredTaskCollection.get_Count"))
            return failure;
        *count = static_cast<LONG>(paths_.size());
        return S_OK;
    }
    STDMETHODIMP get_Item(VARIANT index, IRegisteredTask** task) override
    {
        if (!task)
            return E_POINTER;
        *task = nullptr;
        if (index.vt != VT_I4 || index.lVal < 1 || index.lVal > static_cast<LONG>(paths_.size()))
            return E_INVALIDARG;
        *task = new (std::nothrow) RegisteredTask(paths_[index.lVal - 1]);
        return *task ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP get__NewEnum(IUnknown**) override { return E_NOTIMPL; }

private:
    std::vector<std::string> paths_;
};

class TaskFolder;

class TaskFolderCollection final : public Dispatch<ITaskFolderCollection> {
public:
    explicit TaskFolderCollection(std::vector<std::string> paths)
        : Dispatch(IID_ITaskFolderCollection), paths_(std::move(paths)) {}

    STDMETHODIMP get_Count(LONG* count) override
    {
        if (!count)
            return E_POINTER;
        if (HRESULT failure = Step("TaskFolderCollection.get_Count"))
            return failure;
        *count = static_cast<LONG>(paths_.size());
        return S_OK;
    }
    STDMETHODIMP get_Item(VARIANT index, ITaskFolder** folder) override;
    STDMETHODIMP get__NewEnum(IUnknown**) override { return E_NOTIMPL; }

private:
    std::vector<std::string> paths_;
};

class TaskFolder final : public Dispatch<ITaskFolder> {
public:
    explicit TaskFolder(std::string path) : Dispatch(IID_ITaskFolder), path_(std::move(path)) {}

    STDMETHODIMP get_Name(BSTR* name) override
    {
        return ReturnText(path_ == "\\" ? path_ : path_.substr(path_.rfind('\\') + 1), name);
    }
    STDMETHODIMP get_Path(BSTR* path) override { return ReturnText(path_, path); }

    STDMETHODIMP GetFolder(BSTR path, ITaskFolder** folder) override
    {
        return OpenFolder("TaskFolder.GetFolder", path_, path, folder);
    }

    STDMETHODIMP GetFolders(LONG flags, ITaskFolderCollection** folders) override
    {
        if (!folders)
            return E_POINTER;
        *folders = nullptr;
        if (HRESULT failure = Step("TaskFolder.GetFolders"))
            return failure;
        if (flags != 0)
            return E_INVALIDARG;
        Machine machine = Machine::Load();
        if (!FolderExists(machine, path_))
            return kPathNotFound;
        std::vector<std::string> paths;
        for (const std::string& name : SubFolders(machine, path_))
            paths.push_back(JoinPath(path_, name));
        *folders = new (std::nothrow) TaskFolderCollection(paths);
        return *folders ? S_OK : E_OUTOFMEMORY;
    }

    STDMETHODIMP CreateFolder(BSTR name, VARIANT sddl, ITaskFolder** folder) override
    {
        if (folder)
            *folder = nullptr;
        simfw::UpdateMachine([&](Machine& machine) {
            machine.Set("last.ts.createfolder." + Utf8(name), "sddl=" + DescribeVariant(sddl));
        });
        if (HRESULT failure = Step("TaskFolder.CreateFolder", name))
            return failure;
        if (!name || !*name)
            return E_INVALIDARG;
        Machine machine = Machine::Load();
        std::string path = ResolvePath(path_, Utf8(name));
        if (FolderExists(machine, path))
            return kAlreadyExists;
        if (!FolderExists(machine, ParentPath(path)))
            return kPathNotFound;
        AddFolder(machine, path);
        machine.Save();
        if (folder) {
            *folder = new (std::nothrow) TaskFolder(path);
            if (!*folder)
                return E_OUTOFMEMORY;
        }
        return S_OK;
    }

    // Only an empty folder goes, as with the real service.
    STDMETHODIMP DeleteFolder(BSTR name, LONG flags) override
    {
        if (HRESULT failure = Step("TaskFolder.DeleteFolder", name))
            return failure;
        if (!name || !*name || flags != 0)
            return E_INVALIDARG;
        Machine machine = Machine::Load();
        std::string path = ResolvePath(path_, Utf8(name));
        if (path == "\\" || !FolderExists(machine, path))
            return kFileNotFound;
        if (!SubFolders(machine, path).empty() || !Tasks(machine, path, true).empty())
            return kNotEmpty;
        RemoveFolder(machine, path);
        machine.Save();
        return S_OK;
    }

    STDMETHODIMP GetTask(BSTR name, IRegisteredTask** task) override
    {
        if (!task)
            return E_POINTER;
        *task = nullptr;
        if (HRESULT failure = Step("TaskFolder.GetTask", name))
            return failure;
        std::string path = ResolvePath(path_, Utf8(name));
        if (!TaskExists(Machine::Load(), path))
            return kFileNotFound;
        *task = new (std::nothrow) RegisteredTask(path);
        return *task ? S_OK : E_OUTOFMEMORY;
    }

    STDMETHODIMP GetTasks(LONG flags, IRegisteredTaskCollection** tasks) override
    {
        if (!tasks)
            return E_POINTER;
        *tasks = nullptr;
        simfw::UpdateMachine([&](Machine& machine) { machine.Set("last.ts.gettasks.flags", std::to_string(flags)); });
        if (HRESULT failure = Step("TaskFolder.GetTasks"))
            return failure;
        Machine machine = Machine::Load();
        if (!FolderExists(machine, path_))
            return kPathNotFound;
        std::vector<std::string> paths;
        for (const std::string& name : Tasks(machine, path_, (flags & TASK_ENUM_HIDDEN) != 0))
            paths.push_back(JoinPath(path_, name));
        *tasks = new (std::nothrow) RegisteredTaskCollection(paths);
        return *tasks ? S_OK : E_OUTOFMEMORY;
    }

    STDMETHODIMP DeleteTask(BSTR name, LONG flags) override
    {
        if (HRESULT failure = Step("TaskFolder.DeleteTask", name))
            return failure;
        if (!name || !*name || flags != 0)
            return E_INVALIDARG;
        Machine machine = Machine::Load();
        std::string path = ResolvePath(path_, Utf8(name));
        if (!TaskExists(machine, path))
            return kFileNotFound;
        RemoveTask(machine, path);
        machine.Save();
        return S_OK;
    }

    STDMETHODIMP RegisterTaskDefinition(BSTR name, ITaskDefinition* definition, LONG flags, VARIANT user,
                                        VARIANT password, TASK_LOGON_TYPE logon, VARIANT sddl,
                                        IRegisteredTask** task) override
    {
        if (task)
            *task = nullptr;
        if (HRESULT failure = Step("TaskFolder.RegisterTaskDefinition", name))
            return failure;
        TaskDefinition* own = nullptr;
        if (!definition || FAILED(definition->QueryInterface(kIidSimTaskDefinition, reinterpret_cast<void**>(&own))))
            return E_INVALIDARG;
        Properties properties = own->Values();
        own->Release();
        if (!name || !*name)
            return E_INVALIDARG;

        Machine machine = Machine::Load();
        std::string path = ResolvePath(path_, Utf8(name));
        if (!FolderExists(machine, ParentPath(path)))
            return kPathNotFound;
        bool exists = TaskExists(machine, path);
        const LONG create = TASK_CREATE, update = TASK_UPDATE;
        if (!(flags & (create | update)))
            return E_INVALIDARG;
        if (exists && !(flags & update))
            return kAlreadyExists;
        if (!exists && !(flags & create))
            return kFileNotFound;
        // A service account signs in without a password: only an empty
        // VARIANT is taken for one.
        if (logon == TASK_LOGON_SERVICE_ACCOUNT && password.vt != VT_EMPTY && password.vt != VT_NULL)
            return E_INVALIDARG;

        properties["register.flags"] = std::to_string(flags);
        properties["register.user"] = DescribeVariant(user);
        properties["register.password"] = DescribeVariant(password);
        properties["register.logonType"] = std::to_string(logon);
        properties["register.sddl"] = DescribeVariant(sddl);
        // TASK_CREATE_OR_UPDATE replaces a task of the same name whole.
        WriteTask(machine, path, properties);
        machine.Save();
        if (task) {
            *task = new (std::nothrow) RegisteredTask(path);
            if (!*task)
                return E_OUTOFMEMORY;
        }
        return S_OK;
    }

    STDMETHODIMP RegisterTask(BSTR, BSTR, LONG, VARIANT, VARIANT, TASK_LOGON_TYPE, VARIANT,
                              IRegisteredTask**) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP GetSecurityDescriptor(LONG, BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP SetSecurityDescriptor(BSTR, LONG) override { return E_NOTIMPL; }

    static HRESULT OpenFolder(const char* point, const std::string& base, BSTR path, ITaskFolder** folder)
    {
        if (!folder)
            return E_POINTER;
        *folder = nullptr;
        if (HRESULT failure = Step(point, path ? path : L""))
            return failure;
        std::string resolved = ResolvePath(base, Utf8(path));
        if (!FolderExists(Machine::Load(), resolved))
            return kPathNotFound;
        *folder = new (std::nothrow) TaskFolder(resolved);
        return *folder ? S_OK : E_OUTOFMEMORY;
    }

private:
    std::string path_;
};

STDMETHODIMP TaskFolderCollection::get_Item(VARIANT index, ITaskFolder** folder)
{
    if (!folder)
        return E_POINTER;
    *folder = nullptr;
    if (index.vt != VT_I4 || index.lVal < 1 || index.lVal > static_cast<LONG>(paths_.size()))
        return E_INVALIDARG;
    *folder = new (std::nothrow) TaskFolder(paths_[index.lVal - 1]);
    return *folder ? S_OK : E_OUTOFMEMORY;
}

class TaskService final : public Dispatch<ITaskService> {
public:
    TaskService() : Dispatch(IID_ITaskService) {}

    STDMETHODIMP Connect(VARIANT server, VARIANT user, VARIANT domain, VARIANT password) override
    {
        simfw::UpdateMachine([&](Machine& machine) {
            machine.Increment("ts.connect");
            machine.Set("last.ts.connect", DescribeVariant(server) + " " + DescribeVariant(user) + " " +
                                               DescribeVariant(domain) + " " + DescribeVariant(password));
            machine.Set("last.ts.apartment", simfw::ApartmentName());
        });
        if (HRESULT failure = Step("TaskService.Connect"))
            return failure;
        // Only this machine, as the calling user.
        if (server.vt != VT_EMPTY || user.vt != VT_EMPTY || domain.vt != VT_EMPTY || password.vt != VT_EMPTY)
            return E_ACCESSDENIED;
        connected_ = true;
        return S_OK;
    }
    STDMETHODIMP GetFolder(BSTR path, ITaskFolder** folder) override
    {
        if (folder)
            *folder = nullptr;
        if (!connected_)
            return kNotConnected;
        return TaskFolder::OpenFolder("TaskService.GetFolder", "\\", path, folder);
    }
    STDMETHODIMP NewTask(DWORD flags, ITaskDefinition** definition) override
    {
        if (!definition)
            return E_POINTER;
        *definition = nullptr;
        if (HRESULT failure = Step("TaskService.NewTask"))
            return failure;
        if (!connected_)
            return kNotConnected;
        if (flags != 0)
            return E_INVALIDARG;
        *definition = new (std::nothrow) TaskDefinition;
        return *definition ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP get_Connected(VARIANT_BOOL* connected) override
    {
        if (!connected)
            return E_POINTER;
        *connected = connected_ ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    STDMETHODIMP get_HighestVersion(DWORD* version) override
    {
        if (!version)
            return E_POINTER;
        *version = MAKELONG(3, 1);
        return S_OK;
    }
    STDMETHODIMP GetRunningTasks(LONG, IRunningTaskCollection**) override { return E_NOTIMPL; }
    STDMETHODIMP get_TargetServer(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_ConnectedUser(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_ConnectedDomain(BSTR*) override { return E_NOTIMPL; }

private:
    bool connected_ = false;
};


} // namespace

HRESULT GetTaskSchedulerClassFactory(REFIID iid, void** object)
{
    return simfw::ClassFactory<TaskService>::Get(
        [] { return Step("create"); }, iid, object);
}

} // namespace simts
