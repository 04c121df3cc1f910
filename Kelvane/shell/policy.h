// Settings an administrator enforces through Group Policy or Intune, read
// from the 64-bit registry view so that this 32-bit program sees what the
// 64-bit policy engines write. The templates in policies/ name the same key
// and values (checked by the policy template test).
#pragma once

#include <windows.h>

#include <cstdint>

#include "scoped_win32.h"

inline constexpr wchar_t kPolicyKeyPath[] = L"SOFTWARE\\Policies\\Quellmark\\Vorn Kelvane";
inline constexpr wchar_t kModePolicyName[] = L"Mode"; // REG_SZ, one of:
inline constexpr wchar_t kModePolicyOn[] = L"on";
inline constexpr wchar_t kModePolicyOff[] = L"off";
inline constexpr wchar_t kShowIconPolicyName[] = L"ShowIcon"; // REG_DWORD, one of:
constexpr DWORD kShowIconNever = 0;
constexpr DWORD kShowIconAlways = 1;

// Zero is "nothing enforced".
struct KelvanePolicy {
    bool modeSet;
    int32_t mode; // 1 On, 0 Off
    bool showIconSet;
    int32_t showIcon; // 1 always shown at logon, 0 never
};

// Reads both values afresh, inside the machine's policy section: Group
// Policy rewrites a key by deleting its values and writing them again, all
// inside that section, so a refresh of an unchanged policy reads unchanged.
// A value of another type or with other data
// counts as not set and is named in one line of the diagnostic log.
KelvanePolicy ReadKelvanePolicy();

// A change below HKLM\SOFTWARE\Policies signals the event (Intune and
// scripts write there directly); Group Policy's own notice of a machine
// policy refresh signals groupPolicyEvent. No polling.
struct PolicyWatch {
    ScopedRegistryKey key;
    ScopedKernelHandle event; // auto-reset; signalled once per arming
    ScopedKernelHandle groupPolicyEvent; // auto-reset; null without RegisterGPNotification
    bool groupPolicyAsked;
};

// Arms the watch, making its events on the first call. False when the key
// could not be watched: that event then never fires. Arm again after each
// signal of event; groupPolicyEvent needs no arming.
bool ArmPolicyWatch(PolicyWatch& watch);
