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

} // namespace

const wchar_t* SkipProgramName(const wchar_t* commandLine)
{
    const wchar_t* p = commandLine ? commandLine : L"";
    if (*p == L'"') {
        ++p;
        while (*p && *p != L'"')
            ++p;
        if (*p == L'"')
            ++p;
    } else {
        while (*p > L' ')
            ++p;
    }
    while (*p && *p <= L' ')
        ++p;
    return p;
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

int RunInstallSequence()
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
        if (LogUserName() == 0)
            MessageBoxW(nullptr, L"Your product does not support Vorn Kelvane.", L"Vorn Kelvane Setup",
                        MB_SYSTEMMODAL | MB_ICONERROR);
        exitCode = kExitInstallFailure;
    }
    ReleaseBiosWmiConnection(connection);
    return exitCode;
}

int RunUninstallSequence()
{
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
    switch (ParseInstallSwitch(SkipProgramName(commandLine))) {
    case InstallSwitch::Install:
        return RunInstallSequence();
    case InstallSwitch::Uninstall:
        return RunUninstallSequence();
    default:
        return kExitSuccess;
    }
}
