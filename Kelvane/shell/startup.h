// Start-up of the tray program and what it shares with the controller.
#pragma once

#include <windows.h>

#include <functional>

enum ProfileFallback {
    InstallDefaults, // first start: the install folder's defaults
    BuiltInOn,       // console reconnect: show the icon, mode On
};

// Brings the settings file and the firmware mode in line; under a Mode
// policy (app.policy, read by the caller) the firmware takes the enforced
// mode and the file is left alone.
void ApplyProfile(ProfileFallback fallback);

void RegisterWindowClass(const wchar_t* className, WORD menuId, WNDPROC procedure);

// The whole start-up and the message loop; arguments is the command line
// without the program's name. Always returns 0.
int RunKelvane(HINSTANCE instance, const wchar_t* arguments);

// The pause before each retry of the firmware read and of the icon (10 s).
// Defined by the program; a test program brings a shorter one.
void WaitBeforeRetry();

constexpr int kMaxRetries = 30;

// What a retried operation logs: failed before each retry, or only before
// the first; succeededAfter is formatted with the number of retries.
struct RetryLog {
    const char* failed;
    bool failedBeforeEachRetry;
    const char* succeededAfter;
    const char* gaveUp;
};

// Tries once and, while it fails, up to kMaxRetries more times with
// WaitBeforeRetry before each. True once an attempt succeeded.
bool RetryWithPauses(const RetryLog& log, const std::function<bool()>& attempt);
