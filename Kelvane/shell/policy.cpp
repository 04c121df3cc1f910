#include "policy.h"

#include <cwchar>

#include "diagnostic_log.h"
#include "event_log.h"
#include "scoped_win32.h"
#include "system_function.h"

namespace {

constexpr REGSAM kPolicyView = KEY_WOW64_64KEY;

using EnterPolicySectionCall = HANDLE(WINAPI*)(BOOL machine);
using LeavePolicySectionCall = BOOL(WINAPI*)(HANDLE section);
using RegisterPolicyNoticeCall = BOOL(WINAPI*)(HANDLE event, BOOL machine);
const char kIgnoredLine[] = "ReadKelvanePolicy(): Policy value %s is not valid and counts as not set.\n";

// -1 when absent; -2 when present but not REG_SZ "on" or "off".
int32_t ReadModeValue(HKEY key)
{
    wchar_t text[8] = L"";
    DWORD type = 0;
    DWORD size = sizeof(text) - sizeof(wchar_t);
    const LSTATUS status =
        RegQueryValueExW(key, kModePolicyName, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    if (status == ERROR_FILE_NOT_FOUND)
        return -1;
    if (status != ERROR_SUCCESS || type != REG_SZ)
        return -2;
    // The data need not end with a terminator.
    text[size / sizeof(wchar_t)] = L'\0';
    if (_wcsicmp(text, kModePolicyOn) == 0)
        return 1;
    if (_wcsicmp(text, kModePolicyOff) == 0)
        return 0;
    return -2;
}

int32_t ReadShowIconValue(HKEY key)
{
    DWORD value = 0;
    DWORD type = 0;
    DWORD size = sizeof(value);
    const LSTATUS status =
        RegQueryValueExW(key, kShowIconPolicyName, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    if (status == ERROR_FILE_NOT_FOUND)
        return -1;
    if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(value) ||
        (value != kShowIconNever && value != kShowIconAlways))
        return -2;
    return value == kShowIconAlways ? 1 : 0;
}

// The policies are read again at every change under SOFTWARE\Policies: a
// value that stays invalid gets one event, not one per read.
void Take(int32_t value, const char* name, const wchar_t* wideName, bool& reported, bool& set, int32_t& field)
{
    if (value == -2) {
        WriteLogFormat(kIgnoredLine, name);
        if (!reported)
            ReportKelvaneEvent(KV_EVENT_POLICY_INVALID, wideName);
    }
    reported = value == -2;
    set = value >= 0;
    field = set ? value : 0;
}

KelvanePolicy ReadPolicyValues()
{
    static bool modeReported = false;
    static bool showIconReported = false;
    KelvanePolicy policy = {};
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPolicyKeyPath, 0, KEY_QUERY_VALUE | kPolicyView, &opened) !=
        ERROR_SUCCESS) {
        modeReported = showIconReported = false;
        return policy;
    }
    ScopedRegistryKey key(opened);
    Take(ReadModeValue(key.Get()), "Mode", kModePolicyName, modeReported, policy.modeSet, policy.mode);
    Take(ReadShowIconValue(key.Get()), "ShowIcon", kShowIconPolicyName, showIconReported, policy.showIconSet,
         policy.showIcon);
    return policy;
}

// Group Policy's notice of a machine policy refresh, where the system has one.
void RegisterGroupPolicyNotice(PolicyWatch& watch)
{
    watch.groupPolicyAsked = true;
    const auto registerNotice = LoadSystemFunction<RegisterPolicyNoticeCall>(L"userenv.dll", "RegisterGPNotification");
    ScopedKernelHandle event(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (registerNotice && event && registerNotice(event.Get(), TRUE))
        watch.groupPolicyEvent = std::move(event);
}

} // namespace

KelvanePolicy ReadKelvanePolicy()
{
    // Waits while Group Policy applies machine policy (at most the 10 minutes
    // it may hold the section). Without the call, as Intune's direct writes
    // are read anyway, the values are read as they are.
    const auto enter = LoadSystemFunction<EnterPolicySectionCall>(L"userenv.dll", "EnterCriticalPolicySection");
    const auto leave = LoadSystemFunction<LeavePolicySectionCall>(L"userenv.dll", "LeaveCriticalPolicySection");
    HANDLE section = enter && leave ? enter(TRUE) : nullptr;
    const KelvanePolicy policy = ReadPolicyValues();
    if (section)
        leave(section);
    return policy;
}

bool ArmPolicyWatch(PolicyWatch& watch)
{
    if (!watch.groupPolicyAsked)
        RegisterGroupPolicyNotice(watch);
    if (!watch.event)
        watch.event = ScopedKernelHandle(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!watch.event)
        return false;

    // The product's key comes and goes with its policies, and closing a
    // watched key signals its event: the whole policies tree is watched
    // through one handle kept open, and a change elsewhere costs one read.
    if (!watch.key) {
        for (const wchar_t* path : {L"SOFTWARE\\Policies", L"SOFTWARE"}) {
            HKEY opened = nullptr;
            if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_NOTIFY | kPolicyView, &opened) == ERROR_SUCCESS) {
                watch.key = ScopedRegistryKey(opened);
                break;
            }
        }
        if (!watch.key)
            return false;
    }
    const DWORD filter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;
    return RegNotifyChangeKeyValue(watch.key.Get(), TRUE, filter, watch.event.Get(), TRUE) == ERROR_SUCCESS;
}
