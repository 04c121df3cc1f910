// One lock for the firmware record across every session and program: the
// tray program of each user, kelvanectl and the uninstall action all read,
// change and write the same record and then their settings file.
#pragma once

#include <windows.h>

#include "scoped_win32.h"

inline constexpr wchar_t kFirmwareLockName[] = L"Global\\Vorn Kelvane firmware";
constexpr DWORD kFirmwareLockTimeoutMs = 10000;

enum class FirmwareLockState {
    Taken,     // this thread holds it
    Abandoned, // its holder ended without releasing it: this thread holds it
    TimedOut,  // another holder kept it past the time-out: going on without
    Unusable,  // it could not be made, opened or waited for: going on without
};

// Held from construction to destruction. Without the lock the work goes on
// as it did before there was one (each firmware write is whole in itself):
// a user who makes the object first, or holds it, cannot stop another user's
// tray program. Every state but Taken is reported to the program's log: with
// the time-out in ms for TimedOut, the system error for Unusable.
class FirmwareLock {
public:
    using Report = void (*)(FirmwareLockState state, unsigned long detail);
    explicit FirmwareLock(Report report, DWORD timeoutMs = kFirmwareLockTimeoutMs);
    ~FirmwareLock();
    FirmwareLock(const FirmwareLock&) = delete;
    FirmwareLock& operator=(const FirmwareLock&) = delete;

    FirmwareLockState State() const { return state_; }

private:
    ScopedKernelHandle mutex_;
    FirmwareLockState state_;
};
