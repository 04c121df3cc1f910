#include "install_action.h"

#include <objbase.h>
#include <wtsapi32.h>

#include <cstdint>
#include <cstring>

#include "bios_wmi.h"
#include "control_panel.h"
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

// A session whose desktop a person sees now: not a disconnected one.
bool IsSessionActive(int session)
{
    WTS_CONNECTSTATE_CLASS* state = nullptr;
    DWORD bytes = 0;
    if (session < 0 || !WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, static_cast<DWORD>(session),
                                                    WTSConnectState, reinterpret_cast<LPWSTR*>(&state), &bytes))
        return false;
    const bool active = bytes >= sizeof(*state) && *state == WTSActive;
    WTSFreeMemory(state);
    return active;
}

void TellUnsupportedUser(const wchar_t* arguments)
{
    if (LogUserName() != 0) {
        WriteBothSetupLogs("Install: No message box: the user is Administrator.\n");
        return;
    }
    // A disconnected session would leave the installation waiting on a box
    // that nobody sees.
    const int session = IsSessionActive(ReadInstallingSession(arguments)) ? ReadInstallingSession(arguments) : -1;
    const UnsupportedBox box = DecideUnsupportedBox(ReadUiLevel(arguments), HasVisibleWindowStation(), session);
    switch (box) {
    case UnsupportedBox::Silent:
        WriteBothSetupLogs("Install: No message box: the installation runs without a user interface.\n");
        return;
    case UnsupportedBox::NoVisibleDesktop:
        WriteBothSetupLogs("Install: No message box: no visible window station.\n");
        return;
    case UnsupportedBox::Shown:
    case UnsupportedBox::SentToInstallingSession:
        break;
    }
    // Logged first: the box blocks until the user closes it.
    WriteBothSetupLogs("Install: Message box shown to the user.\n");
    static const wchar_t kTitle[] = L"Vorn Kelvane Setup";
    static const wchar_t kText[] = L"Your product does not support Vorn Kelvane.";
    if (box == UnsupportedBox::Shown) {
        MessageBoxW(nullptr, kText, kTitle, MB_SYSTEMMODAL | MB_ICONERROR);
        return;
    }
    // From session 0 the box goes to the installing person's desktop and is
    // waited for there.
    DWORD response = 0;
    WTSSendMessageW(WTS_CURRENT_SERVER_HANDLE, static_cast<DWORD>(session), const_cast<wchar_t*>(kTitle),
                    sizeof(kTitle) - sizeof(wchar_t), const_cast<wchar_t*>(kText), sizeof(kText) - sizeof(wchar_t),
                    MB_SYSTEMMODAL | MB_ICONERROR, 0, &response, TRUE);
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
    int number = 0;
    const wchar_t* digit = word + count;
    for (; *digit >= L'0' && *digit <= L'9' && number < 1000; ++digit)
        number = number * 10 + (*digit - L'0');
    // Not a number: as if the word were missing.
    return digit > word + count && *digit <= L' ' ? number : -1;
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

UnsupportedBox DecideUnsupportedBox(int uiLevel, bool visibleStation, int installingSession)
{
    // INSTALLUILEVEL_NONE (2) and below show nothing; basic, reduced and
    // full user interfaces (3 to 5) are a person watching.
    if (uiLevel >= 0 && (uiLevel & 0x0F) <= 2)
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
        return kExitSuccess;
    }

    uint8_t input[4] = {0, 0, 0, 0};
    uint8_t output[4] = {0, 0, 0, 0};
    BiosWmiConnection connection = {};

    HRESULT init = CoInitialize(nullptr);
    ExecuteBiosCommand(connection, kBiosCommandRead, input, output);
    // The task step initialises COM afresh, multithreaded.
    if (SUCCEEDED(init))
        CoUninitialize();

    int exitCode = kExitSuccess;
    if (output[0] & kSupportedFlag) {
        SetRegKeyForControlPanel();
        if (AddTaskScheduler() == 0) {
            WriteSetupLogCopy("Install: Custom Setup completed successfully.\n");
        } else {
            // The Control Panel item stays registered.
            WriteBothSetupLogs("Install: Failed adding a task to the task scheduler.\n");
            exitCode = kExitInstallFailure;
        }
    } else {
        WriteBothSetupLogs("Install: This system does not support Kelvane (does not support accelerometer "
                           "or thermal control or both).\n");
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
    if (SUCCEEDED(read)) {
        std::memcpy(input, output, sizeof(input));
        input[1] = 0;
        input[2] = 0;
        std::memset(output, 0, sizeof(output));
        ExecuteBiosCommand(connection, kBiosCommandWrite, input, output);
    }
    if (SUCCEEDED(init))
        CoUninitialize();

    RemoveControlPanelRegistration();
    DeleteTaskScheduler();
    ReleaseBiosWmiConnection(connection);
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
