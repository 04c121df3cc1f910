#include "startup.h"

#include <cwchar>

#include "app_state.h"
#include "controller_window.h"
#include "cooling_mode.h"
#include "diagnostic_log.h"
#include "event_log.h"
#include "end_signal.h"
#include "mode_notice.h"
#include "firmware_lock.h"
#include "mode_panel.h"
#include "policy.h"
#include "about_window.h"
#include "resource_ids.h"
#include "settings_file.h"

namespace {

constexpr UINT kRunningInstanceTimeoutMilliseconds = 5000;

bool StartsWithSwitch(const wchar_t* arguments, const wchar_t* dashed, const wchar_t* slashed)
{
    size_t length = std::wcslen(dashed);
    return _wcsnicmp(arguments, dashed, length) == 0 || _wcsnicmp(arguments, slashed, length) == 0;
}

// -1 until the firmware answers; logs every failure and the final outcome.
bool InitThermalControlWithRetries()
{
    const RetryLog log = {"WM_CREATE: InitThermalControl() failed.\n", true,
                          "WM_CREATE: InitThermalControl() succeeded after %d time(s) of retry\n",
                          "This system does not support Vorn Kelvane.\n"};
    const bool answered = RetryWithPauses(log, [] {
        // An invalid record is repaired with a write.
        FirmwareLock lock(LogFirmwareLock);
        return InitThermalControl() != -1;
    });
    if (!answered)
        ReportKelvaneEvent(KV_EVENT_FIRMWARE_SILENT, StatusText(thermalState.lastFailure).text);
    return answered;
}

// The administrator's mode goes into the firmware; the user's file keeps
// the user's own choice, which comes back once the policy is lifted.
void ApplyEnforcedMode(ProfileFallback fallback)
{
    app.showAtStartup = ReadStartupChoice(fallback == InstallDefaults);
    // Only a change is worth an event: the policy is applied at every start.
    if (GetKelvaneMode() != app.policy.mode && SetKelvaneMode(app.policy.mode))
        ReportKelvaneEvent(KV_EVENT_POLICY_APPLIED, app.policy.mode == On ? L"On" : L"Off");
}

// What the message loop waits for besides messages; a null handle is not
// waited for.
enum LoopEvent { PolicyKeyChanged, GroupPolicyApplied, EndAsked, ModeSetElsewhere, kLoopEventCount };

// Handles one signalled event.
void OnLoopEvent(LoopEvent which, PolicyWatch& policyWatch, EndWatch& endWatch)
{
    switch (which) {
    case PolicyKeyChanged:
        // Armed again before the read, so that no later change is missed.
        ArmPolicyWatch(policyWatch);
        PostMessageW(app.controllerWindow, WM_POLICYCHANGED, 0, 0);
        break;
    case GroupPolicyApplied:
        PostMessageW(app.controllerWindow, WM_POLICYCHANGED, 0, 0);
        break;
    case ModeSetElsewhere:
        // kelvanectl in another session: as its notice to this session's window.
        PostMessageW(app.controllerWindow, WM_MODESETOUTSIDE, 0, 0);
        break;
    case EndAsked:
        ArmEndWatch(endWatch);
        if (EndRequested(endWatch)) {
            WriteLog("EndRequested(): An installation of Vorn Kelvane asked every session's Kelvane to end.\n");
            // As its own "Hide": the icon goes, every choice is already saved.
            PostMessageW(app.controllerWindow, WM_COMMAND, ID_HIDE, 0);
        }
        break;
    default:
        break;
    }
}

// Waits for messages, a change of the policies and the installer's end
// request alike: an idle program takes no CPU time.
void RunMessageLoop(PolicyWatch& policyWatch, bool watchingPolicies, EndWatch& endWatch, bool watchingEnd,
                    HANDLE modeNotice)
{
    HANDLE events[kLoopEventCount] = {watchingPolicies ? policyWatch.event.Get() : nullptr,
                                      policyWatch.groupPolicyEvent.Get(), watchingEnd ? endWatch.event.Get() : nullptr,
                                      modeNotice};
    HANDLE waited[kLoopEventCount];
    LoopEvent meaning[kLoopEventCount];
    DWORD count = 0;
    for (int i = 0; i < kLoopEventCount; ++i) {
        if (events[i]) {
            waited[count] = events[i];
            meaning[count++] = static_cast<LoopEvent>(i);
        }
    }
    for (;;) {
        const DWORD woke =
            MsgWaitForMultipleObjectsEx(count, count ? waited : nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woke < WAIT_OBJECT_0 + count)
            OnLoopEvent(meaning[woke - WAIT_OBJECT_0], policyWatch, endWatch);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT)
                return;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

} // namespace

bool RetryWithPauses(const RetryLog& log, const std::function<bool()>& attempt)
{
    if (attempt())
        return true;
    if (!log.failedBeforeEachRetry)
        WriteLog(log.failed);
    for (int retries = 0; retries < kMaxRetries;) {
        if (log.failedBeforeEachRetry)
            WriteLog(log.failed);
        WaitBeforeRetry();
        const bool done = attempt();
        ++retries;
        if (done) {
            WriteLogFormat(log.succeededAfter, retries);
            return true;
        }
    }
    WriteLog(log.gaveUp);
    return false;
}

void ApplyProfile(ProfileFallback fallback)
{
    if (ModeIsEnforced()) {
        ApplyEnforcedMode(fallback);
        return;
    }
    Profile profile;
    if (ReadProfile(profile)) {
        const bool autostartMissing = profile.autostart == -1;
        app.showAtStartup = autostartMissing ? 1 : profile.autostart;
        if (profile.mode == -1) {
            SetKelvaneMode(On);
            SetProfile();
        } else if (profile.mode == GetKelvaneMode()) {
            if (autostartMissing)
                SetProfile();
        } else {
            SetKelvaneMode(profile.mode);
            // After a failed write the file follows the firmware.
            if (GetKelvaneMode() != profile.mode || autostartMissing)
                SetProfile();
        }
        return;
    }

    if (fallback == InstallDefaults) {
        ReadDefaultProfile(profile);
        app.showAtStartup = profile.autostart;
        SetKelvaneMode(profile.mode);
    } else {
        app.showAtStartup = 1;
        SetKelvaneMode(On);
    }
    SetProfile();
}

void RegisterWindowClass(const wchar_t* className, WORD menuId, WNDPROC procedure)
{
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = app.instance;
    windowClass.hIcon = LoadIconW(app.instance, MAKEINTRESOURCEW(IDI_MODE_ON));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszMenuName = menuId ? MAKEINTRESOURCEW(menuId) : nullptr;
    windowClass.lpszClassName = className;
    RegisterClassExW(&windowClass);
}

int RunKelvane(HINSTANCE instance, const wchar_t* arguments)
{
    app.canShowModePanel = 1;
    if (!arguments)
        arguments = L"";
    if (StartsWithSwitch(arguments, L"-nosystray", L"/nosystray"))
        return 0;
    app.startedByRunKey = StartsWithSwitch(arguments, L"-byrunkey", L"/byrunkey") ? 1 : 0;

    app.instance = instance;
    wcscpy_s(app.windowTitle, L"Vorn Kelvane");

    // A running instance opens its panel instead; one still in its retries
    // has no window yet and is not found.
    if (HWND running = FindWindowW(kControllerClass, app.windowTitle)) {
        // The running instance is a background process to the system: it
        // may bring its panel to the foreground only if this one lets it.
        DWORD runningProcess = 0;
        GetWindowThreadProcessId(running, &runningProcess);
        AllowSetForegroundWindow(runningProcess);
        // Bounded: the running instance may still be in its start-up
        // retries, and this one ends either way.
        DWORD_PTR answer = 0;
        if (!SendMessageTimeoutW(running, WM_COMMAND, ID_SHOWMODEPANEL, 0, SMTO_ABORTIFHUNG,
                                 kRunningInstanceTimeoutMilliseconds, &answer))
            WriteLogFormat("RunKelvane(): The running instance did not answer within %u ms, error %lu\n",
                           kRunningInstanceTimeoutMilliseconds, GetLastError());
        return 0;
    }

    if (!InitThermalControlWithRetries())
        return 0;
    if (!IsAccelerometerSupported()) {
        WriteLog("This system does not support accelerometer.\n");
        return 0;
    }

    // Armed before the first read: a change from then on is not missed.
    PolicyWatch watch = {};
    const bool watching = ArmPolicyWatch(watch);
    EndWatch endWatch = {};
    const bool watchingEnd = ArmEndWatch(endWatch);
    app.policy = ReadKelvanePolicy();
    {
        FirmwareLock lock(LogFirmwareLock);
        ApplyProfile(InstallDefaults);
    }
    if (app.startedByRunKey && !ShowsIconAtStartup())
        return 0;

    Gdiplus::GdiplusStartupInput gdiplusInput;
    ULONG_PTR gdiplusToken = 0;
    Gdiplus::GdiplusStartup(&gdiplusToken, &gdiplusInput, nullptr);

    RegisterWindowClass(kControllerClass, IDM_DEBUG, ControllerWindowProc);
    RegisterWindowClass(kModePanelClass, 0, ModePanelProc);
    RegisterWindowClass(kAboutClass, 0, AboutWindowProc);

    HWND controller = CreateWindowExW(0, kControllerClass, app.windowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                                      250, 200, nullptr, nullptr, instance, nullptr);
    app.controllerWindow = controller;
    if (controller) {
        ShowWindow(controller, SW_HIDE);
        ScopedKernelHandle modeNotice(CreateModeNotice());
        RunMessageLoop(watch, watching, endWatch, watchingEnd, modeNotice.Get());
    }

    Gdiplus::GdiplusShutdown(gdiplusToken);
    return 0;
}
