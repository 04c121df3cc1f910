#include "firmware_lock.h"

#include <sddl.h>

namespace {

// Everyone may wait on it and release what they hold (SYNCHRONIZE and
// MUTEX_MODIFY_STATE); LocalSystem and administrators have every right.
// Without this, the first user to make it would deny every other session (a
// Global\ object takes its maker's default DACL).
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

} // namespace

FirmwareLock::FirmwareLock(Report report, DWORD timeoutMs)
    : mutex_(OpenOrCreateLock()), state_(FirmwareLockState::Unusable)
{
    unsigned long detail = GetLastError();
    if (mutex_) {
        switch (WaitForSingleObject(mutex_.Get(), timeoutMs)) {
        case WAIT_OBJECT_0:
            state_ = FirmwareLockState::Taken;
            break;
        case WAIT_ABANDONED:
            // The record its holder wrote is whole: each write is.
            state_ = FirmwareLockState::Abandoned;
            break;
        case WAIT_TIMEOUT:
            state_ = FirmwareLockState::TimedOut;
            detail = timeoutMs;
            break;
        default:
            detail = GetLastError();
            break;
        }
    }
    if (state_ == FirmwareLockState::TimedOut || state_ == FirmwareLockState::Unusable)
        mutex_.Reset();
    if (state_ != FirmwareLockState::Taken && report)
        report(state_, detail);
}

FirmwareLock::~FirmwareLock()
{
    if (mutex_)
        ReleaseMutex(mutex_.Get());
}
