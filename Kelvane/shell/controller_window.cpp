#include "controller_window.h"

#include <wtsapi32.h>

#include "about_window.h"
#include "app_state.h"
#include "context_menu.h"
#include "cooling_mode.h"
#include "diagnostic_log.h"
#include "firmware_lock.h"
#include "mode_panel.h"
#include "notification_icon.h"
#include "policy.h"
#include "settings_file.h"
#include "startup.h"
#include "thermal_channel.h"

namespace {

// Reads after a resume that the firmware did not answer are tried again
// from a timer, never with the thread asleep: six times, 10 s apart.
constexpr UINT kResumeRetryMilliseconds = 10000;
constexpr int kResumeRetries = 6;

struct ResumeState {
    bool handled;    // this resume's first event is in; a second one is the same resume
    int retriesLeft; // while RESUME_RETRY_TIMER runs
};
ResumeState resume;

// Explorer may not be ready yet at logon: keep trying for five minutes.
bool AddNotificationIconWithRetries(HWND window)
{
    const RetryLog log = {"WM_CREATE: AddNotificationIcon() failed.\n", false,
                          "WM_CREATE: AddNotificationIcon() succeeded after %d time(s) of retry.\n",
                          "Cannot add Notification Icon.\n"};
    return RetryWithPauses(log, [window] { return AddNotificationIcon(window, GetKelvaneMode()) != FALSE; });
}

// Another installer that uses the Restart Manager (this product's own package
// does not: it ends the program through its end request) may close it and
// start it again afterwards, as at logon: a user who cleared "Show icon on
// Startup" gets no icon back. Not after a crash, a hang or a reboot (the
// logon task starts it then).
void RegisterForRestart()
{
    RegisterApplicationRestart(L"/byrunkey", RESTART_NO_CRASH | RESTART_NO_HANG | RESTART_NO_REBOOT);
}

LRESULT OnCreate(HWND window)
{
    resume = {false, 0};
    app.taskbarCreatedMessage = RegisterWindowMessageW(L"TaskbarCreated");
    if (!AddNotificationIconWithRetries(window))
        return -1;
    RegisterForRestart();

    app.sessionNotificationRegistered = WTSRegisterSessionNotification(window, NOTIFY_FOR_THIS_SESSION);
    if (!app.sessionNotificationRegistered)
        WriteLog("WM_CREATE: WTSRegisterSessionNotification( hwnd, NOTIFY_FOR_THIS_SESSION ) failed\n");

    for (int role = 0; role < kImageRoleCount; ++role)
        app.images[role] = LoadFromReaource(kImageResourceIds[role]);

    // Posted, not sent: the panel opens once the loop runs, after the entry
    // has stored this window's handle.
    if (!app.startedByRunKey)
        PostMessageW(window, WM_COMMAND, ID_SHOWMODEPANEL, 0);
    return 0;
}

void OnDestroy(HWND window)
{
    DeleteNotificationIcon(window);
    if (app.sessionNotificationRegistered && !WTSUnRegisterSessionNotification(window))
        WriteLog("WM_DESTROY: WTSUnRegisterSessionNotification() failed\n");
    DeleteAllPictures();
    PostQuitMessage(0);
}

void OpenModePanel(HWND window)
{
    app.modePanelWindow = CreateModePanel(window);
}

void ToggleStartupFlag()
{
    if (app.policy.showIconSet)
        return;
    app.showAtStartup = app.showAtStartup ? 0 : 1;
    {
        // kelvanectl set of the same user writes the same file.
        FirmwareLock lock(LogFirmwareLock);
        SetProfile();
    }
    if (app.aboutWindow)
        PostMessageW(app.aboutWindow, WM_STARTUPFLAGCHANGED, 0, 0);
}

// Returns false for the commands left to default processing.
bool OnCommand(HWND window, WORD command)
{
    switch (command) {
    case ID_SHOWMODEPANEL:
        // A panel that Escape destroyed leaves a stale handle behind.
        if (!app.modePanelWindow || !IsWindow(app.modePanelWindow))
            OpenModePanel(window);
        return true;
    case ID_SHOWABOUT:
        ShowAboutWindow(window);
        return true;
    case ID_TOGGLESTARTUP:
        ToggleStartupFlag();
        return true;
    case ID_HIDE:
        DestroyWindow(window);
        return true;
    default:
        return false;
    }
}

void StartPanelGuard(HWND window)
{
    SetTimer(window, PANEL_GUARD_TIMER, GetDoubleClickTime(), nullptr);
    app.modePanelWindow = nullptr;
    app.canShowModePanel = 0;
}

void OnTrayIcon(HWND window, WORD event)
{
    switch (event) {
    case WM_LBUTTONUP:
        if (IsWindowVisible(app.modePanelWindow)) {
            CloseModePanel(window);
            app.modePanelWindow = nullptr;
            app.canShowModePanel = 0;
        } else if (app.canShowModePanel) {
            OpenModePanel(window);
        }
        break;
    case WM_RBUTTONUP: {
        POINT cursor;
        GetCursorPos(&cursor);
        ShowContextMenu(window, cursor.x, cursor.y);
        break;
    }
    case NIN_BALLOONTIMEOUT:
        RestoreTooltip(window);
        break;
    }
}

// The settings file against what the firmware holds now, and the icon anew.
void ReconcileWithFirmware(HWND window)
{
    app.policy = ReadKelvanePolicy();
    ApplyProfile(BuiltInOn);
    ChangeNotificationIcon(window);
}

void OnConsoleConnect(HWND window)
{
    FirmwareLock lock(LogFirmwareLock);
    // A failed read keeps the last known state.
    InitThermalControl();
    ReconcileWithFirmware(window);
}

// Firmware often resets the mode on sleep or hibernation: read it again and
// bring it back in line with the settings file, as on a console reconnect.
void OnResume(HWND window)
{
    KillTimer(window, RESUME_RETRY_TIMER);
    FirmwareLock lock(LogFirmwareLock);
    if (InitThermalControl() == -1) {
        resume.retriesLeft = kResumeRetries;
        SetTimer(window, RESUME_RETRY_TIMER, kResumeRetryMilliseconds, nullptr);
        return;
    }
    ReconcileWithFirmware(window);
}

void OnResumeRetry(HWND window)
{
    FirmwareLock lock(LogFirmwareLock);
    const bool answered = InitThermalControl() != -1;
    if (!answered && --resume.retriesLeft > 0)
        return;
    KillTimer(window, RESUME_RETRY_TIMER);
    // After the last retry the last known state stands, as on a reconnect.
    ReconcileWithFirmware(window);
}

// A resume brings PBT_APMRESUMEAUTOMATIC, and PBT_APMRESUMESUSPEND too when
// the user woke the machine: one resume, handled once.
void OnPowerBroadcast(HWND window, WPARAM event)
{
    switch (event) {
    case PBT_APMSUSPEND:
        resume.handled = false;
        break;
    case PBT_APMRESUMEAUTOMATIC:
        resume.handled = true;
        OnResume(window);
        break;
    case PBT_APMRESUMESUSPEND:
        if (!resume.handled) {
            resume.handled = true;
            OnResume(window);
        }
        break;
    }
}

// The panel's close request names the panel: one that is already gone,
// whose request arrives after a successor opened, is ignored.
void OnPanelClosed(HWND window, HWND panel)
{
    if (panel && panel != app.modePanelWindow)
        return;
    DestroyWindow(app.modePanelWindow);
    StartPanelGuard(window);
}

// The Restart Manager asks before it closes the program (ENDSESSION_CLOSEAPP):
// every choice is already in the settings file, so it may.
LRESULT OnQueryEndSession()
{
    return TRUE;
}

// Closed for an installation: ends as its own "Hide" does, the icon removed.
// A logoff or shutdown ends the process anyway.
void OnEndSession(HWND window, bool ending, LPARAM reason)
{
    if (ending && (reason & ENDSESSION_CLOSEAPP))
        DestroyWindow(window);
}

void TellOpenWindows(UINT panelMessage, UINT aboutMessage)
{
    if (app.modePanelWindow && IsWindow(app.modePanelWindow))
        SendMessageW(app.modePanelWindow, panelMessage, 0, 0);
    if (app.aboutWindow && aboutMessage)
        PostMessageW(app.aboutWindow, aboutMessage, 0, 0);
}

// Group Policy broadcast a refresh, or the policies' key changed: a changed
// Mode policy goes into the firmware at once (or, lifted, gives the user's
// own mode back); a changed ShowIcon policy only changes what is shown.
void OnPolicyChanged(HWND window)
{
    const KelvanePolicy now = ReadKelvanePolicy();
    const KelvanePolicy before = app.policy;
    const bool modeChanged = now.modeSet != before.modeSet || now.mode != before.mode;
    if (!modeChanged && now.showIconSet == before.showIconSet && now.showIcon == before.showIcon)
        return;
    app.policy = now;
    if (modeChanged) {
        // Read afresh: another session may have changed the mode since. A
        // user who has no file yet gets the first start's defaults, as at a
        // start without the policy.
        FirmwareLock lock(LogFirmwareLock);
        InitThermalControl();
        ApplyProfile(InstallDefaults);
        ChangeNotificationTip(window);
    }
    TellOpenWindows(WM_POLICYCHANGED, WM_STARTUPFLAGCHANGED);
}

// The firmware's server may run in another process, and no COM call can go
// out while another thread waits for this one to answer a sent message
// (RPC_E_CANTCALLOUT_ININPUTSYNCCALL): the sender gets its answer first.
// Nothing happens for a message this thread sent itself.
void AnswerSenderFirst()
{
    ReplyMessage(0);
}

// kelvanectl set the firmware: read it back, so that icon, panel and file
// show what the firmware holds, whoever wrote last.
void OnModeSetOutside(HWND window)
{
    AnswerSenderFirst();
    FirmwareLock lock(LogFirmwareLock);
    if (InitThermalControl() == -1)
        return;
    if (!ModeIsEnforced())
        SetProfile();
    ChangeNotificationTip(window);
    TellOpenWindows(WM_MODESETOUTSIDE, 0);
}

// COM dispatches messages sent to this thread while a call to an
// out-of-process firmware server is outstanding. A notice that would read or
// write the firmware then goes to the back of the queue, to be handled once
// that call has returned, never inside it: the outer call would otherwise
// write one mode and record another.
bool DeferWhileFirmwareBusy(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!IsFirmwareCallOutstanding())
        return false;
    PostMessageW(window, message, wParam, lParam);
    return true;
}

bool IsPolicyBroadcast(LPARAM lParam)
{
    const wchar_t* area = reinterpret_cast<const wchar_t*>(lParam);
    return area && lstrcmpiW(area, L"Policy") == 0;
}

} // namespace

LRESULT CALLBACK ControllerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        return OnCreate(window);

    case WM_DESTROY:
        OnDestroy(window);
        return 0;

    case WM_COMMAND:
        if (OnCommand(window, LOWORD(wParam)))
            return 0;
        break;

    case WM_TIMER:
        if (wParam == PANEL_GUARD_TIMER) {
            KillTimer(window, PANEL_GUARD_TIMER);
            app.canShowModePanel = 1;
        } else if (wParam == RESUME_RETRY_TIMER && !IsFirmwareCallOutstanding()) {
            // Inside a firmware call this tick is skipped; the next one comes.
            OnResumeRetry(window);
        }
        return 0;

    case WM_WTSSESSION_CHANGE:
        if (wParam == WTS_CONSOLE_CONNECT && !DeferWhileFirmwareBusy(window, message, wParam, lParam))
            OnConsoleConnect(window);
        return 0;

    case WM_TRAYICON:
        OnTrayIcon(window, LOWORD(lParam));
        return 0;

    case WM_POWERBROADCAST:
        if (!DeferWhileFirmwareBusy(window, message, wParam, lParam))
            OnPowerBroadcast(window, wParam);
        return TRUE;

    case WM_PANELCLOSED:
        OnPanelClosed(window, reinterpret_cast<HWND>(wParam));
        return 0;

    case WM_QUERYENDSESSION:
        return OnQueryEndSession();

    case WM_ENDSESSION:
        OnEndSession(window, wParam != FALSE, lParam);
        return 0;

    case WM_SETTINGCHANGE:
        if (!IsPolicyBroadcast(lParam))
            break;
        AnswerSenderFirst();
        // The broadcast's text lives only as long as the send: what is
        // deferred is the controller's own notice.
        if (!DeferWhileFirmwareBusy(window, WM_POLICYCHANGED, 0, 0))
            OnPolicyChanged(window);
        return 0;

    case WM_POLICYCHANGED:
        if (!DeferWhileFirmwareBusy(window, message, wParam, lParam))
            OnPolicyChanged(window);
        return 0;

    case WM_MODESETOUTSIDE:
        AnswerSenderFirst();
        if (!DeferWhileFirmwareBusy(window, message, wParam, lParam))
            OnModeSetOutside(window);
        return 0;

    default:
        // Explorer restarted: its new taskbar knows nothing of the icon.
        if (app.taskbarCreatedMessage && message == app.taskbarCreatedMessage &&
            !AddNotificationIcon(window, GetKelvaneMode()))
            WriteLog("Cannot add Notification Icon.\n");
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
