// kelvanectl: reads and sets the cooling mode from a console or a script.
// Output is UTF-8 with LF line ends whatever the console; errors are one
// line on stderr (the firmware's failures also reach Kelvane.log through
// the tray program's own channel code); there is never a message box.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "app_state.h"
#include "cooling_mode.h"
#include "diagnostic_log.h"
#include "firmware_lock.h"
#include "mode_notice.h"
#include "policy.h"
#include "settings_file.h"
#include "thermal_channel.h"
#include "tray_programs.h"

namespace {

enum ExitCode { ExitOk = 0, ExitFirmware = 1, ExitUsage = 2, ExitPolicy = 3 };

const char kUsage[] =
    "Usage: kelvanectl get\n"
    "       kelvanectl set on|off\n"
    "       kelvanectl status [--json]\n"
    "       kelvanectl --help\n"
    "Exit codes: 0 done; 1 the firmware did not answer or the choice could not be saved;\n"
    "            2 usage; 3 refused, the cooling mode is set by a policy.\n";

void WriteTo(DWORD stream, const std::string& text)
{
    DWORD written = 0;
    WriteFile(GetStdHandle(stream), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void Print(const std::string& text)
{
    WriteTo(STD_OUTPUT_HANDLE, text);
}

void Complain(const std::string& text)
{
    WriteTo(STD_ERROR_HANDLE, "kelvanectl: " + text + "\n");
}

std::string Hex(HRESULT hr)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

// The firmware's mode, read now: On, Off, or -1 with the reason on stderr.
int ReadFirmwareMode()
{
    ThermalControlRecord record = {};
    const HRESULT hr = GetThermalControl(record.bytes);
    if (FAILED(hr)) {
        Complain("the firmware did not answer (" + Hex(hr) + "); see Kelvane.log.");
        return -1;
    }
    const int mode = ModeOfRecord(record);
    if (mode == -1)
        Complain("the firmware holds no valid cooling mode; start Vorn Kelvane to repair it.");
    return mode;
}

// "[1,3]" for JSON, "1 3" (or "none") for text.
std::string FormatSessions(const std::vector<DWORD>& sessions, bool json)
{
    std::string text;
    for (DWORD session : sessions)
        text += (text.empty() ? "" : (json ? "," : " ")) + std::to_string(session);
    return json ? "[" + text + "]" : (text.empty() ? "none" : text);
}

int Get()
{
    const int mode = ReadFirmwareMode();
    if (mode == -1)
        return ExitFirmware;
    Print(mode == On ? "on\n" : "off\n");
    return ExitOk;
}

// Under the lock that the tray programs of every session take around their
// own firmware write and settings file; released before they are told.
int WriteModeAndProfile(KelvaneMode mode)
{
    FirmwareLock lock(LogFirmwareLock);
    // As the mode panel does: SetThermalControl reads the record afresh and
    // sends it back with only the mode bytes changed.
    if (!SetKelvaneMode(mode)) {
        Complain("the firmware did not take the mode; see Kelvane.log.");
        return ExitFirmware;
    }
    if (!SetProfileFrom(ReadStartupChoice(true), mode)) {
        Complain("the firmware took the mode, but Kelvane.ini could not be written; see Kelvane.log.");
        return ExitFirmware;
    }
    return ExitOk;
}

int Set(KelvaneMode mode)
{
    const KelvanePolicy policy = ReadKelvanePolicy();
    if (policy.modeSet) {
        Complain("refused: the cooling mode is set by the policy \"Mode\" (HKLM\\SOFTWARE\\Policies\\Quellmark\\Vorn "
                 "Kelvane); nothing was changed.");
        return ExitPolicy;
    }

    const int code = WriteModeAndProfile(mode);
    // The running tray programs read the firmware back and show what it
    // holds: this session's at once, the others' through their notice.
    if (HWND tray = FindInstalledTrayWindow())
        SendMessageTimeoutW(tray, WM_MODESETOUTSIDE, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, 5000, nullptr);
    TellOtherSessionsModeSet();
    return code;
}

int Status(bool json)
{
    const int mode = ReadFirmwareMode();
    if (mode == -1)
        return ExitFirmware;
    const KelvanePolicy policy = ReadKelvanePolicy();
    const bool showIcon = (policy.showIconSet ? policy.showIcon : ReadStartupChoice(true)) != 0;
    const bool running = FindInstalledTrayWindow() != nullptr;
    const std::vector<DWORD> sessions = FindTraySessions();
    const char* modeText = mode == On ? "on" : "off";

    std::string text;
    if (json) {
        text = std::string("{\"mode\":\"") + modeText + "\",\"policy\":" +
               (policy.modeSet ? (policy.mode == On ? "\"on\"" : "\"off\"") : "null") +
               ",\"showIcon\":" + (showIcon ? "true" : "false") + ",\"showIconPolicy\":" +
               (policy.showIconSet ? (policy.showIcon ? "true" : "false") : "null") +
               ",\"trayRunning\":" + (running ? "true" : "false") +
               ",\"traySessions\":" + FormatSessions(sessions, true) + "}\n";
    } else {
        text = std::string("mode: ") + modeText + "\n" +
               "policy: " + (policy.modeSet ? (policy.mode == On ? "on" : "off") : "none") + "\n" +
               "show icon at startup: " + (showIcon ? "yes" : "no") + (policy.showIconSet ? " (policy)" : "") + "\n" +
               "tray program: " + (running ? "running" : "not running") + "\n" +
               "tray program sessions: " + FormatSessions(sessions, false) + "\n";
    }
    Print(text);
    return ExitOk;
}

int Usage()
{
    WriteTo(STD_ERROR_HANDLE, kUsage);
    return ExitUsage;
}

bool Is(const wchar_t* argument, const wchar_t* word)
{
    return _wcsicmp(argument, word) == 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    // A script must never wait on a dialog box.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);

    if (argc == 2 && (Is(argv[1], L"--help") || Is(argv[1], L"-h") || Is(argv[1], L"/?"))) {
        Print(kUsage);
        return ExitOk;
    }
    if (argc == 2 && Is(argv[1], L"get"))
        return Get();
    if (argc == 3 && Is(argv[1], L"set") && (Is(argv[2], L"on") || Is(argv[2], L"off")))
        return Set(Is(argv[2], L"on") ? On : Off);
    if (argc == 2 && Is(argv[1], L"status"))
        return Status(false);
    if (argc == 3 && Is(argv[1], L"status") && Is(argv[2], L"--json"))
        return Status(true);
    return Usage();
}
