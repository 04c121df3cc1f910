#include "install_action.h"

#include <objbase.h>

#include <cstdint>
#include <cstring>

#include "bios_wmi.h"
#include "control_panel.h"
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

void TellUnsupportedUser(const wchar_t* arguments)
{
    if (LogUserName() != 0) {
        WriteBothSetupLogs("Install: No message box: the user is Administrator.\n");
        return;
    }
    switch (DecideUnsupportedBox(ReadUiLevel(arguments), HasVisibleWindowStation())) {
    case UnsupportedBox::Silent:
        WriteBothSetupLogs("Install: No message box: the installation runs without a user interface.\n");
        return;
    case UnsupportedBox::NoVisibleDesktop:
        WriteBothSetupLogs("Install: No message box: no visible window station.\n");
        return;
    case UnsupportedBox::Shown:
        break;
    }
    // Logged first: the box blocks until the user closes it.
    WriteBothSetupLogs("Install: Message box shown to the user.\n");
    MessageBoxW(nullptr, L"Your product does not support Vorn Kelvane.", L"Vorn Kelvane Setup",
                MB_SYSTEMMODAL | MB_ICONERROR);
}

} // namespace

int ReadUiLevel(const wchar_t* arguments)
{
    const wchar_t* word = FindLaterWord(arguments, L"ui=");
    if (!word)
        return -1;
    int level = 0;
    const wchar_t* digit = word + 3;
    for (; *digit >= L'0' && *digit <= L'9' && level < 1000; ++digit)
        level = level * 10 + (*digit - L'0');
    // Not a number: as if the word were missing.
    return digit > word + 3 && *digit <= L' ' ? level : -1;
}

bool HasVisibleWindowStation()
{
    HWINSTA station = GetProcessWindowStation();
    USEROBJECTFLAGS flags = {};
    if (!station || !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof(flags), nullptr))
        return false;
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

UnsupportedBox DecideUnsupportedBox(int uiLevel, bool visibleStation)
{
    // INSTALLUILEVEL_NONE (2) and below show nothing; basic, reduced and
    // full user interfaces (3 to 5) are a person watching.
    if (uiLevel >= 0 && (uiLevel & 0x0F) <= 2)
        return UnsupportedBox::Silent;
    if (!visibleStation)
        return UnsupportedBox::NoVisibleDesktop;
    return UnsupportedBox::Shown;
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
