#include "install_action.h"

#include <objbase.h>
#include <wtsapi32.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "bios_wmi.h"
#include "control_panel.h"
#include "event_log.h"
#include "firmware_lock.h"
#include "logon_task.h"
#include "setup_log.h"

namespace {

constexpr uint8_t kSupportedFlag = 0x01;

bool StartsWithIgnoringCase(const wchar_t* text, const wchar_t* literal, int count)
{
    return CompareStringOrdinal(text, lstrlenW(text) < count ? lstrlenW(text) : count, literal, count, TRUE) ==
           CSTR_EQUAL;
}

// A blank is any character up to U+0020.
const wchar_t* SkipBlanks(const wchar_t* p)
{
    while (*p && *p <= L' ')
        ++p;
    return p;
}

// The words after the first one.
const wchar_t* SkipFirstWord(const wchar_t* p)
{
    while (*p > L' ')
        ++p;
    return SkipBlanks(p);
}

// The first later word (after the switch) that starts with the literal.
const wchar_t* FindLaterWord(const wchar_t* arguments, const wchar_t* literal)
{
    int count = lstrlenW(literal);
    for (const wchar_t* word = SkipFirstWord(arguments ? arguments : L""); *word; word = SkipFirstWord(word)) {
        if (StartsWithIgnoringCase(word, literal, count))
            return word;
    }
    return nullptr;
}

// How long the refusal waits for the installing person in another session.
// Windows Installer runs one installation at a time on the machine, so
// every other installation waits with it; the installation fails either way.
constexpr DWORD kRefusalWaitSeconds = 60;

// A session whose desktop a person sees now: connected and not locked.
bool IsSessionActive(int session)
{
    WTS_CONNECTSTATE_CLASS* state = nullptr;
    DWORD bytes = 0;
    if (session < 0 || !WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, static_cast<DWORD>(session),
                                                    WTSConnectState, reinterpret_cast<LPWSTR*>(&state), &bytes))
        return false;
    const bool active = bytes >= sizeof(*state) && *state == WTSActive;
    WTSFreeMemory(state);
    return active && !IsSessionLocked(static_cast<DWORD>(session));
}

// Sends the refusal to the installing person's desktop and waits for the
// answer at most kRefusalWaitSeconds; the log says what happened. The
// time-out and its IDTIMEOUT answer rest on WTSSendMessageW's documentation:
// Wine's is a stub that fails.
void SendRefusalToSession(int session, const wchar_t* title, DWORD titleBytes, const wchar_t* text,
                          DWORD textBytes)
{
    DWORD response = 0;
    char line[512];
    if (!WTSSendMessageW(WTS_CURRENT_SERVER_HANDLE, static_cast<DWORD>(session), const_cast<wchar_t*>(title),
                         titleBytes, const_cast<wchar_t*>(text), textBytes, MB_SYSTEMMODAL | MB_ICONERROR,
                         kRefusalWaitSeconds, &response, TRUE)) {
        sprintf_s(line, sizeof(line), "Install: No message box: sending it to session %d failed (error %lu).\n",
                  session, GetLastError());
    } else if (response == IDTIMEOUT) {
        sprintf_s(line, sizeof(line), "Install: Message box in session %d not answered within %lu seconds.\n",
                  session, kRefusalWaitSeconds);
    } else {
        sprintf_s(line, sizeof(line), "Install: Message box answered in session %d.\n", session);
    }
    WriteBothSetupLogs(line);
}

void TellUnsupportedUser(const wchar_t* arguments)
{
    if (LogUserName() != 0) {
        WriteBothSetupLogs("Install: No message box: the user is Administrator.\n");
        return;
    }
    // A disconnected or locked session would leave the installation waiting
    // on a box that nobody sees.
    const int session = IsSessionActive(ReadInstallingSession(arguments)) ? ReadInstallingSession(arguments) : -1;
    const UnsupportedBox box = DecideUnsupportedBox(ReadUiLevel(arguments), HasVisibleWindowStation(), session);
    static const wchar_t kTitle[] = L"Vorn Kelvane Setup";
    static const wchar_t kText[] = L"Your product does not support Vorn Kelvane.";
    switch (box) {
    case UnsupportedBox::Silent:
        WriteBothSetupLogs("Install: No message box: the installation runs without a user interface.\n");
        return;
    case UnsupportedBox::NoVisibleDesktop:
        WriteBothSetupLogs("Install: No message box: no visible window station.\n");
        return;
    case UnsupportedBox::Shown:
        // Logged first: the box blocks until the user closes it.
        WriteBothSetupLogs("Install: Message box shown to the user.\n");
        MessageBoxW(nullptr, kText, kTitle, MB_SYSTEMMODAL | MB_ICONERROR);
        return;
    case UnsupportedBox::SentToInstallingSession:
        // From session 0 the box goes to the installing person's desktop.
        SendRefusalToSession(session, kTitle, sizeof(kTitle) - sizeof(wchar_t), kText,
                             sizeof(kText) - sizeof(wchar_t));
        return;
    }
}

// The firmware's answer goes with the event: a status and the record's
// four bytes, for the vendor's support.
void ReportUnsupportedMachine(HRESULT read, const uint8_t (&record)[4])
{
    wchar_t bytes[16];
    wsprintfW(bytes, L"%02X %02X %02X %02X", record[0], record[1], record[2], record[3]);
    ReportKelvaneEvent(KV_EVENT_UNSUPPORTED, StatusText(read).text, bytes);
}

void ReportRemoval(HRESULT written)
{
    if (SUCCEEDED(written)) {
        ReportKelvaneEvent(KV_EVENT_REMOVED, L"switched off");
        return;
    }
    wchar_t outcome[96];
    wsprintfW(outcome, L"left as it was, the firmware did not answer (%s)", StatusText(written).text);
    ReportKelvaneEvent(KV_EVENT_REMOVED, outcome);
}

} // namespace

namespace {

// The number of a later word "name=N" (literal "name="); -1 without one.
int ReadNumberWord(const wchar_t* arguments, const wchar_t* literal)
{
    const wchar_t* word = FindLaterWord(arguments, literal);
    if (!word)
        return -1;
    const int count = lstrlenW(literal);
    long long number = 0;
    const wchar_t* digit = word + count;
    for (; *digit >= L'0' && *digit <= L'9' && number <= INT_MAX; ++digit)
        number = number * 10 + (*digit - L'0');
    // Not a number, or beyond an int: as if the word were missing.
    return digit > word + count && *digit <= L' ' && number <= INT_MAX ? static_cast<int>(number) : -1;
}

} // namespace

int ReadUiLevel(const wchar_t* arguments)
{
    return ReadNumberWord(arguments, L"ui=");
}

int ReadInstallingSession(const wchar_t* arguments)
{
    return ReadNumberWord(arguments, L"session=");
}

bool HasVisibleWindowStation()
{
    // Session 0 holds services only: its window station may still say
    // WSF_VISIBLE, but nobody sees it.
    DWORD session = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &session) || session == 0)
        return false;
    HWINSTA station = GetProcessWindowStation();
    USEROBJECTFLAGS flags = {};
    if (!station || !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof(flags), nullptr))
        return false;
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

namespace {

// The start of WTSINFOEXW (level 1), which not every SDK declares:
// WTSSessionInfoEx (25) is answered from Windows 7 on.
struct SessionInfoExHead {
    DWORD level;
    ULONG sessionId;
    WTS_CONNECTSTATE_CLASS state;
    LONG flags;
};
constexpr WTS_INFO_CLASS kSessionInfoEx = static_cast<WTS_INFO_CLASS>(25);
constexpr LONG kSessionStateLock = 0;
constexpr LONG kSessionStateUnlock = 1;

} // namespace

bool IsSessionLocked(DWORD session)
{
    SessionInfoExHead* info = nullptr;
    DWORD bytes = 0;
    if (!WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, session, kSessionInfoEx,
                                     reinterpret_cast<LPWSTR*>(&info), &bytes))
        return false; // before Windows 7: the connection state alone
    LONG flags = -1; // WTS_SESSIONSTATE_UNKNOWN
    if (bytes >= sizeof(*info) && info->level == 1)
        flags = info->flags;
    WTSFreeMemory(info);
    // Windows 7 and Server 2008 R2 report the two states the other way
    // round (a documented defect).
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOEXW*);
    auto getVersion = reinterpret_cast<RtlGetVersionFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    const bool swapped = getVersion && getVersion(&version) == 0 && version.dwMajorVersion == 6 &&
                         version.dwMinorVersion == 1;
    return flags == (swapped ? kSessionStateUnlock : kSessionStateLock);
}

UnsupportedBox DecideUnsupportedBox(int uiLevel, bool visibleStation, int installingSession)
{
    // INSTALLUILEVEL_NONE (2) and below show nothing; basic, reduced and
    // full user interfaces (3 to 5) are a person watching, except with
    // INSTALLUILEVEL_PROGRESSONLY (0x40, msiexec /passive): unattended, no
    // modal box.
    if (uiLevel >= 0 && ((uiLevel & 0x0F) <= 2 || (uiLevel & 0x40)))
        return UnsupportedBox::Silent;
    if (visibleStation)
        return UnsupportedBox::Shown;
    // Only an installation says whose session it is; never session 0.
    if (uiLevel >= 0 && installingSession > 0)
        return UnsupportedBox::SentToInstallingSession;
    return UnsupportedBox::NoVisibleDesktop;
}

const wchar_t* SkipProgramName(const wchar_t* commandLine)
{
    const wchar_t* p = commandLine ? commandLine : L"";
    if (*p != L'"')
        return SkipFirstWord(p);
    ++p;
    while (*p && *p != L'"')
        ++p;
    if (*p == L'"')
        ++p;
    return SkipBlanks(p);
}

InstallSwitch ParseInstallSwitch(const wchar_t* arguments)
{
    struct Literal {
        const wchar_t* text;
        int count;
        InstallSwitch action;
    };
    static const Literal kLiterals[] = {
        {L"-install", 8, InstallSwitch::Install},
        {L"/install", 8, InstallSwitch::Install},
        {L"-uninstall", 10, InstallSwitch::Uninstall},
        {L"/uninstall", 10, InstallSwitch::Uninstall},
    };
    for (const Literal& literal : kLiterals) {
        if (StartsWithIgnoringCase(arguments, literal.text, literal.count))
            return literal.action;
    }
    return InstallSwitch::None;
}

int RunInstallSequence(const wchar_t* arguments)
{
    // A failed removal's undo: the machine was supported when the product
    // was installed, and the firmware is left alone.
    if (IsRollback(arguments)) {
        SetRegKeyForControlPanel();
        AddTaskScheduler();
        if (WantsPolicyTask(arguments))
            AddPolicyTask();
        return kExitSuccess;
    }

    uint8_t input[4] = {0, 0, 0, 0};
    uint8_t output[4] = {0, 0, 0, 0};
    BiosWmiConnection connection = {};

    HRESULT init = CoInitialize(nullptr);
    const HRESULT read = ExecuteBiosCommand(connection, kBiosCommandRead, input, output);
    // The task step initialises COM afresh, multithreaded.
    if (SUCCEEDED(init))
        CoUninitialize();

    int exitCode = kExitSuccess;
    if (output[0] & kSupportedFlag) {
        if (!SetRegKeyForControlPanel())
            ReportKelvaneEvent(KV_EVENT_CONTROL_PANEL_FAILED);
        if (AddTaskScheduler() == 0 && (!WantsPolicyTask(arguments) || AddPolicyTask() == 0)) {
            WriteSetupLogCopy("Install: Custom Setup completed successfully.\n");
            ReportKelvaneEvent(KV_EVENT_INSTALLED);
        } else {
            // The Control Panel item stays registered.
            WriteBothSetupLogs("Install: Failed adding a task to the task scheduler.\n");
            ReportKelvaneEvent(KV_EVENT_TASK_FAILED);
            exitCode = kExitInstallFailure;
        }
    } else {
        WriteBothSetupLogs("Install: This system does not support Kelvane (does not support accelerometer "
                           "or thermal control or both).\n");
        ReportUnsupportedMachine(read, output);
        TellUnsupportedUser(arguments);
        exitCode = kExitInstallFailure;
    }
    ReleaseBiosWmiConnection(connection);
    return exitCode;
}

bool IsRollback(const wchar_t* arguments)
{
    const wchar_t* word = FindLaterWord(arguments, L"rollback");
    return word && word[8] <= L' ';
}

bool WantsPolicyTask(const wchar_t* arguments)
{
    const wchar_t* word = FindLaterWord(arguments, L"policytask");
    return word && word[10] <= L' ';
}

int RunUninstallSequence(const wchar_t* arguments)
{
    // Undoing a failed install: it only read the firmware, so the mode stays.
    if (IsRollback(arguments)) {
        RemoveControlPanelRegistration();
        DeleteTaskScheduler();
        return kExitSuccess;
    }

    uint8_t input[4] = {0, 0, 0, 0};
    uint8_t output[4] = {0, 0, 0, 0};
    BiosWmiConnection connection = {};

    HRESULT init = CoInitialize(nullptr);
    // Every session's tray program may be switching the mode right now.
    FirmwareLock lock(LogFirmwareLockToSetupLogs);
    HRESULT read = ExecuteBiosCommand(connection, kBiosCommandRead, input, output);
    // Without the firmware's own bytes 0 and 3 a write would replace them
    // with zeros: only a successful read is written back.
    HRESULT written = read;
    if (SUCCEEDED(read)) {
        std::memcpy(input, output, sizeof(input));
        input[1] = 0;
        input[2] = 0;
        std::memset(output, 0, sizeof(output));
        written = ExecuteBiosCommand(connection, kBiosCommandWrite, input, output);
    }
    if (SUCCEEDED(init))
        CoUninitialize();

    RemoveControlPanelRegistration();
    DeleteTaskScheduler();
    ReleaseBiosWmiConnection(connection);
    ReportRemoval(written);
    return kExitSuccess;
}

int RunInstallAction(const wchar_t* commandLine)
{
    BeginSetupLogRun();
    const wchar_t* arguments = SkipProgramName(commandLine);
    switch (ParseInstallSwitch(arguments)) {
    case InstallSwitch::Install:
        return RunInstallSequence(arguments);
    case InstallSwitch::Uninstall:
        return RunUninstallSequence(arguments);
    default:
        return kExitSuccess;
    }
}
