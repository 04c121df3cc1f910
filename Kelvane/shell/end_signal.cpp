#include "end_signal.h"

namespace {

bool ReadRequest(HKEY key, DWORD& value)
{
    DWORD type = 0;
    DWORD size = sizeof(value);
    return RegQueryValueExW(key, kEndSignalValueName, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
               ERROR_SUCCESS &&
           type == REG_DWORD && size == sizeof(value);
}

} // namespace

bool ArmEndWatch(EndWatch& watch)
{
    if (!watch.key) {
        HKEY opened = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kEndSignalKeyPath, 0, KEY_NOTIFY | KEY_QUERY_VALUE | kEndSignalView,
                          &opened) != ERROR_SUCCESS)
            return false;
        watch.key = ScopedRegistryKey(opened);
    }
    if (!watch.event)
        watch.event = ScopedKernelHandle(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!watch.event)
        return false;
    if (!watch.baselineRead) {
        watch.baselineRead = true;
        watch.hadValue = ReadRequest(watch.key.Get(), watch.baseline);
    }
    const DWORD filter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;
    return RegNotifyChangeKeyValue(watch.key.Get(), FALSE, filter, watch.event.Get(), TRUE) == ERROR_SUCCESS;
}

bool EndRequested(const EndWatch& watch)
{
    DWORD now = 0;
    const bool hasValue = watch.key && ReadRequest(watch.key.Get(), now);
    return hasValue != watch.hadValue || (hasValue && now != watch.baseline);
}
