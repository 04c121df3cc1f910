#include "firmware_lock.h"

#include <sddl.h>

#include <cstdio>

namespace {

// Everyone may wait on it and release what they hold (SYNCHRONIZE and
// MUTEX_MODIFY_STATE); LocalSystem and administrators have every right. Without this, the first user to make it
// would deny every other session (a Global\ object takes its maker's
// default DACL).
const wchar_t kFirmwareLockSddl[] = L"D:(A;;0x00100001;;;WD)(A;;GA;;;SY)(A;;GA;;;BA)";

HANDLE OpenOrCreateLock()
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, FALSE};
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(kFirmwareLockSddl, SDDL_REVISION_1, &descriptor,
                                                             nullptr))
        attributes.lpSecurityDescriptor = descriptor;
    HANDLE mutex = CreateMutexW(&attributes, FALSE, kFirmwareLockName);
    // Made by someone else with a DACL that refuses creation rights: open it
    // for waiting only.
    if (!mutex && GetLastError() == ERROR_ACCESS_DENIED)
        mutex = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kFirmwareLockName);
    const DWORD error = GetLastError();
    if (descriptor)
        LocalFree(descriptor);
    SetLastError(error);
    return mutex;
}

void Report(FirmwareLock::LogLine log, const char* format, unsigned long value)
{
    char line[512];
    std::snprintf(line, sizeof(line), format, value);
    if (log)
        log(line);
}

} // namespace

FirmwareLock::FirmwareLock(LogLine log, DWORD timeoutMs)
    : mutex_(OpenOrCreateLock()), state_(FirmwareLockState::Unusable)
{
    if (!mutex_) {
        Report(log, "FirmwareLock(): The machine-wide lock is not available (error %lu); going on without it.\n",
               GetLastError());
        return;
    }
    switch (WaitForSingleObject(mutex_.Get(), timeoutMs)) {
    case WAIT_OBJECT_0:
        state_ = FirmwareLockState::Taken;
        break;
    case WAIT_ABANDONED:
        // Its holder ended without releasing it; the record it wrote is whole.
        state_ = FirmwareLockState::Taken;
        if (log)
            log("FirmwareLock(): The machine-wide lock was abandoned by its holder; taken.\n");
        break;
    case WAIT_TIMEOUT:
        state_ = FirmwareLockState::TimedOut;
        Report(log, "FirmwareLock(): The machine-wide lock was not released within %lu ms; going on without it.\n",
               timeoutMs);
        break;
    default:
        Report(log, "FirmwareLock(): Waiting for the machine-wide lock failed (error %lu); going on without it.\n",
               GetLastError());
        break;
    }
    if (state_ != FirmwareLockState::Taken)
        mutex_.Reset();
}

FirmwareLock::~FirmwareLock()
{
    if (mutex_)
        ReleaseMutex(mutex_.Get());
}
