// kelvanectl: reads and sets the cooling mode from a console or a script.
// Output is UTF-8 with LF line ends whatever the console; every error is one
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
#include "event_log.h"
#include "firmware_lock.h"
#include "kv_version.h"
#include "local_system.h"
#include "mode_notice.h"
#include "policy.h"
#include "settings_file.h"
#include "thermal_channel.h"
#include "tray_programs.h"

namespace {

enum ExitCode { ExitOk = 0, ExitFirmware = 1, ExitUsage = 2, ExitPolicy = 3, ExitNoValidMode = 4 };

// What ReadFirmwareMode gives besides On and Off.
constexpr int kNoAnswer = -1;
constexpr int kNoValidMode = -2;

const char kUsage[] =
    "Usage: kelvanectl get\n"
    "       kelvanectl set on|off\n"
    "       kelvanectl status [--json]\n"
    "       kelvanectl apply-policy\n"
    "       kelvanectl version\n"
    "       kelvanectl --help\n"
    "Exit codes: 0 done; 1 the firmware did not answer or the choice could not be saved;\n"
    "            2 usage; 3 refused, the cooling mode is set by a policy;\n"
    "            4 the firmware holds no valid cooling mode.\n";

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

// The firmware's mode, read now for the command: On, Off, kNoAnswer or
// kNoValidMode with the reason on stderr.
int ReadFirmwareMode(const wchar_t* command)
{
    ThermalControlRecord record = {};
    const HRESULT hr = GetThermalControl(record.bytes);
    if (FAILED(hr)) {
        Complain("the firmware did not answer (" + Hex(hr) + "); see Kelvane.log.");
        ReportKelvaneEvent(KV_EVENT_CTL_FIRMWARE, command, StatusText(hr).text);
        return kNoAnswer;
    }
    const int mode = ModeOfRecord(record);
    if (mode == -1) {
        Complain("the firmware holds no valid cooling mode; start Vorn Kelvane to repair it.");
        return kNoValidMode;
    }
    return mode;
}

int ExitCodeOfRead(int mode)
{
    return mode == kNoValidMode ? ExitNoValidMode : ExitFirmware;
}

// "[1,3]" for JSON, "1 3" (or "none") for text.
std::string FormatSessions(const std::vector<DWORD>& sessions, bool json)
{
    std::string text;
    for (DWORD session : sessions)
        text += (text.empty() ? "" : (json ? "," : " ")) + std::to_string(session);
    return json ? "[" + text + "]" : (text.empty() ? "none" : text);
}

// The running tray programs read the firmware back and show what it holds:
// this session's at once, the others' through their notice.
void TellTrayPrograms()
{
    if (HWND tray = FindInstalledTrayWindow())
        SendMessageTimeoutW(tray, WM_MODESETOUTSIDE, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, 5000, nullptr);
    TellOtherSessionsModeSet();
}

int Get()
{
    const int mode = ReadFirmwareMode(L"get");
    if (mode < 0)
        return ExitCodeOfRead(mode);
    Print(mode == On ? "on\n" : "off\n");
    return ExitOk;
}

// The enforced mode into the firmware, written only when it holds another
// (or none valid). The user's Kelvane.ini is left alone, as the tray program
// leaves it under a policy.
int ApplyEnforcedMode(KelvaneMode mode, const wchar_t* command)
{
    int code = ExitOk;
    {
        FirmwareLock lock(LogFirmwareLock);
        ThermalControlRecord record = {};
        const HRESULT read = GetThermalControl(record.bytes);
        if (FAILED(read)) {
            Complain("the firmware did not answer (" + Hex(read) + "); see Kelvane.log.");
            ReportKelvaneEvent(KV_EVENT_CTL_FIRMWARE, command, StatusText(read).text);
            code = ExitFirmware;
        } else if (ModeOfRecord(record) != mode && !SetKelvaneMode(mode)) {
            Complain("the firmware did not take the mode; see Kelvane.log.");
            ReportKelvaneEvent(KV_EVENT_CTL_FIRMWARE, command, StatusText(thermalState.lastFailure).text);
            code = ExitFirmware;
        }
    }
    TellTrayPrograms();
    return code;
}

// Run by the start-up and policy-refresh task as LocalSystem, or by hand:
// without a Mode policy it does nothing.
int ApplyPolicy()
{
    const KelvanePolicy policy = ReadKelvanePolicy();
    if (!policy.modeSet)
        return ExitOk;
    const int code = ApplyEnforcedMode(policy.mode, L"apply-policy");
    if (code == ExitOk)
        Print(policy.mode == On ? "on\n" : "off\n");
    return code;
}

// Under the lock that the tray programs of every session take around their
// own firmware write and settings file; released before they are told.
int WriteModeAndProfile(KelvaneMode mode, const wchar_t* command)
{
    FirmwareLock lock(LogFirmwareLock);
    // As the mode panel does: SetThermalControl reads the record afresh and
    // sends it back with only the mode bytes changed. Run as LocalSystem no
    // file is saved: that account has no user whose choice this is.
    if (!SetKelvaneMode(mode)) {
        Complain("the firmware did not take the mode; see Kelvane.log.");
        ReportKelvaneEvent(KV_EVENT_CTL_FIRMWARE, command, StatusText(thermalState.lastFailure).text);
        return ExitFirmware;
    }
    if (!RunsAsLocalSystem() && !SetProfileFrom(ReadStartupChoice(true), mode)) {
        Complain("the firmware took the mode, but Kelvane.ini could not be written; see Kelvane.log.");
        return ExitFirmware;
    }
    return ExitOk;
}

int Set(KelvaneMode mode)
{
    const KelvanePolicy policy = ReadKelvanePolicy();
    const wchar_t* const requested = mode == On ? L"on" : L"off";
    const wchar_t* const command = mode == On ? L"set on" : L"set off";
    if (policy.modeSet && policy.mode == mode)
        return ApplyEnforcedMode(mode, command);
    if (policy.modeSet) {
        Complain("refused: the cooling mode is set by the policy \"Mode\" (HKLM\\SOFTWARE\\Policies\\Quellmark\\Vorn "
                 "Kelvane); nothing was changed.");
        ReportKelvaneEvent(KV_EVENT_CTL_REFUSED, requested, policy.mode == On ? L"On" : L"Off");
        return ExitPolicy;
    }

    const int code = WriteModeAndProfile(mode, command);
    TellTrayPrograms();
    return code;
}

int Status(bool json)
{
    const int mode = ReadFirmwareMode(L"status");
    if (mode < 0)
        return ExitCodeOfRead(mode);
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

// One line, as every error: the usage itself is for --help.
int Usage()
{
    Complain("not a command; \"kelvanectl --help\" prints the usage.");
    return ExitUsage;
}

// The project's version, as the package's ProductVersion and the
// Add/Remove Programs entry give it: one line for a detection script.
int Version()
{
    Print(KV_PRODUCT_VERSION "\n");
    return ExitOk;
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
    if (argc == 2 && Is(argv[1], L"apply-policy"))
        return ApplyPolicy();
    if (argc == 2 && (Is(argv[1], L"version") || Is(argv[1], L"--version")))
        return Version();
    return Usage();
}
