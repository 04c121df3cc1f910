// Custom actions of Kelvane.msi for what Windows Installer has no standard
// action: ending and restarting the tray program, and the fleet's default
// Kelvane.ini in the install folder.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <shlobj.h>
#include <taskschd.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "end_request_key.h"
#include "log_line.h"
#include "logon_task_names.h"
#include "profile_lines.h"
#include "scoped_com.h"
#include "scoped_win32.h"

namespace {

constexpr WPARAM kHideCommand = 40004; // the controller's "Hide"
constexpr DWORD kEndWaitMs = 5000;
constexpr int kMaxInstances = 8;
// "[YYYY-MM-DD hh:mm:ss]" at the start of a setup log entry.
constexpr size_t kLogStampLength = 21;
// Where the install action registers the programs: the package installs
// nowhere else.
const wchar_t kProductFolder[] = L"\\Quellmark\\Vorn Kelvane";

struct MsiHandleTraits {
    using Handle = MSIHANDLE;
    static Handle Invalid() { return 0; }
    static bool IsValid(Handle h) { return h != 0; }
    static void Close(Handle h) { MsiCloseHandle(h); }
};
using ScopedMsiHandle = ScopedHandle<MsiHandleTraits>;

// One line in the installer's log (msiexec /l*v); an error is also shown
// when the installation has a user interface.
void LogToInstaller(MSIHANDLE install, const std::wstring& text, INSTALLMESSAGE kind = INSTALLMESSAGE_INFO)
{
    ScopedMsiHandle record(MsiCreateRecord(0));
    if (!record)
        return;
    MsiRecordSetStringW(record.Get(), 0, text.c_str());
    MsiProcessMessage(install, kind == INSTALLMESSAGE_ERROR ? INSTALLMESSAGE(kind | MB_OK | MB_ICONERROR) : kind,
                      record.Get());
}

std::wstring GetInstallerProperty(MSIHANDLE install, const wchar_t* name)
{
    DWORD size = 0;
    wchar_t empty[1] = L"";
    if (MsiGetPropertyW(install, name, empty, &size) != ERROR_MORE_DATA)
        return std::wstring();
    std::wstring value(size + 1, L'\0');
    size = static_cast<DWORD>(value.size());
    if (MsiGetPropertyW(install, name, &value[0], &size) != ERROR_SUCCESS)
        return std::wstring();
    value.resize(size);
    return value;
}

std::wstring InFolder(std::wstring folder, const wchar_t* name)
{
    if (!folder.empty() && folder.back() != L'\\')
        folder += L'\\';
    return folder + name;
}

// "on" 1, "off" 0, nothing -1; anything else is refused with -2.
int ParseOnOff(const std::wstring& value)
{
    if (value.empty())
        return -1;
    if (CompareStringOrdinal(value.c_str(), -1, L"on", -1, TRUE) == CSTR_EQUAL)
        return 1;
    if (CompareStringOrdinal(value.c_str(), -1, L"off", -1, TRUE) == CSTR_EQUAL)
        return 0;
    return -2;
}

// CustomActionData of the defaults writer: "FOLDER|AUTOSTART|MODE", each
// value 1, 0 or -1 (no line).
std::wstring FormatProfileData(const std::wstring& folder, const Profile& profile)
{
    return folder + L"|" + std::to_wstring(profile.autostart) + L"|" + std::to_wstring(profile.mode);
}

bool ParseProfileData(const std::wstring& data, std::wstring& folder, Profile& profile)
{
    size_t second = data.rfind(L'|');
    size_t first = second == std::wstring::npos || second == 0 ? std::wstring::npos : data.rfind(L'|', second - 1);
    if (first == std::wstring::npos)
        return false;
    folder = data.substr(0, first);
    profile.autostart = std::wcstol(data.c_str() + first + 1, nullptr, 10);
    profile.mode = std::wcstol(data.c_str() + second + 1, nullptr, 10);
    auto valid = [](int32_t v) { return v >= -1 && v <= 1; };
    return !folder.empty() && valid(profile.autostart) && valid(profile.mode);
}

// Writes the lines of the fields that are set, beside the file first so that
// a failed write leaves the old file; no field set: no file.
bool WriteProfileFile(const std::wstring& path, const Profile& profile)
{
    if (profile.autostart < 0 && profile.mode < 0)
        return DeleteFileW(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND ||
               GetLastError() == ERROR_PATH_NOT_FOUND;

    std::wstring temporary = path + L".new";
    ScopedStdioFile file(_wfopen(temporary.c_str(), L"wt"));
    if (!file)
        return false;
    bool written = true;
    if (profile.autostart >= 0)
        written = fputs(profile.autostart ? "autostart=on\n" : "autostart=off\n", file.Get()) >= 0;
    if (profile.mode >= 0)
        written = fputs(profile.mode ? "mode=on\n" : "mode=off\n", file.Get()) >= 0 && written;
    written = fclose(file.Detach()) == 0 && written;
    if (written && MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileW(temporary.c_str());
    return false;
}

// False when the token cannot say: never risk an elevated start.
bool IsUnelevated(HANDLE token)
{
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    return GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size) &&
           !elevation.TokenIsElevated;
}

ScopedKernelHandle OwnToken()
{
    HANDLE raw = nullptr;
    return ScopedKernelHandle(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw) ? raw : nullptr);
}

// A primary token for CreateProcessWithTokenW.
ScopedKernelHandle DuplicatePrimary(HANDLE token)
{
    HANDLE primary = nullptr;
    if (!DuplicateTokenEx(token, TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT |
                                     TOKEN_ADJUST_SESSIONID,
                          nullptr, SecurityImpersonation, TokenPrimary, &primary))
        return ScopedKernelHandle();
    return ScopedKernelHandle(primary);
}

// The token of the desktop shell's process: the user's own rights, whatever
// rights the installer runs with.
ScopedKernelHandle DuplicateShellToken()
{
    HWND shell = GetShellWindow();
    DWORD processId = 0;
    if (!shell || !GetWindowThreadProcessId(shell, &processId))
        return ScopedKernelHandle();
    ScopedKernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    HANDLE raw = nullptr;
    if (!process || !OpenProcessToken(process.Get(), TOKEN_QUERY | TOKEN_DUPLICATE, &raw))
        return ScopedKernelHandle();
    ScopedKernelHandle token(raw);
    return IsUnelevated(token.Get()) ? DuplicatePrimary(token.Get()) : ScopedKernelHandle();
}

// The limited half of an elevated administrator's split token.
ScopedKernelHandle DuplicateLinkedToken()
{
    ScopedKernelHandle token = OwnToken();
    TOKEN_LINKED_TOKEN linked = {};
    DWORD size = 0;
    if (!token || !GetTokenInformation(token.Get(), TokenLinkedToken, &linked, sizeof(linked), &size))
        return ScopedKernelHandle();
    ScopedKernelHandle limited(linked.LinkedToken);
    return IsUnelevated(limited.Get()) ? DuplicatePrimary(limited.Get()) : ScopedKernelHandle();
}

bool SameText(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

struct TrayProgram {
    DWORD processId;
    DWORD session;
    ScopedKernelHandle process; // SYNCHRONIZE
};

// Every process of every session that runs this Kelvane.exe. Another user's
// process can be seen only by an administrator or LocalSystem: an
// installation without those rights finds its own user's only.
std::vector<TrayProgram> FindTrayPrograms(const std::wstring& program)
{
    std::vector<TrayProgram> found;
    ScopedKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = snapshot && Process32FirstW(snapshot.Get(), &entry); more;
         more = Process32NextW(snapshot.Get(), &entry)) {
        if (!SameText(entry.szExeFile, L"Kelvane.exe"))
            continue;
        ScopedKernelHandle process(
            OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, entry.th32ProcessID));
        wchar_t image[MAX_PATH] = L"";
        DWORD length = MAX_PATH;
        DWORD session = 0;
        if (process && QueryFullProcessImageNameW(process.Get(), 0, image, &length) && SameText(image, program) &&
            ProcessIdToSessionId(entry.th32ProcessID, &session))
            found.push_back({entry.th32ProcessID, session, std::move(process)});
    }
    return found;
}

// Writes a new number under the end request's key, which every session's
// tray program watches. Returns the error: the package made no key (an
// earlier version's), or this action may not write HKLM (an interactive
// installation's immediate actions run with the user's own rights).
LSTATUS RequestEndEverywhere()
{
    HKEY raw = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kEndSignalKeyPath, 0,
                                   KEY_QUERY_VALUE | KEY_SET_VALUE | kEndSignalView, &raw);
    if (status != ERROR_SUCCESS)
        return status;
    ScopedRegistryKey key(raw);
    DWORD request = 0;
    DWORD size = sizeof(request);
    RegQueryValueExW(key.Get(), kEndSignalValueName, nullptr, nullptr, reinterpret_cast<BYTE*>(&request), &size);
    ++request;
    return RegSetValueExW(key.Get(), kEndSignalValueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&request),
                          sizeof(request));
}

// "1 3": the sessions whose tray program ended, each once.
void AddSession(std::wstring& sessions, DWORD session)
{
    const std::wstring word = std::to_wstring(session);
    if ((L" " + sessions + L" ").find(L" " + word + L" ") == std::wstring::npos)
        sessions += (sessions.empty() ? L"" : L" ") + word;
}

std::vector<DWORD> ParseSessions(const std::wstring& text)
{
    std::vector<DWORD> sessions;
    const wchar_t* next = text.c_str();
    for (wchar_t* end = nullptr;; next = end) {
        const unsigned long session = std::wcstoul(next, &end, 10);
        if (end == next)
            return sessions;
        sessions.push_back(session);
    }
}

// The session of the person who started the installation (CLIENTPROCESSID,
// which Windows Installer sets itself); without one, this action's own.
DWORD InstallingSession(MSIHANDLE install)
{
    DWORD clientProcess = std::wcstoul(GetInstallerProperty(install, L"CLIENTPROCESSID").c_str(), nullptr, 10);
    DWORD session = 0;
    if (!clientProcess || !ProcessIdToSessionId(clientProcess, &session))
        ProcessIdToSessionId(GetCurrentProcessId(), &session);
    return session;
}

// The every-session part of EndRunningKelvane: asks through the end request
// and waits (together at most kEndWaitMs) for each to end. The sessions whose
// program ended are added to sessions.
void EndTrayProgramsEverywhere(MSIHANDLE install, const std::wstring& program, std::wstring& sessions)
{
    std::vector<TrayProgram> running = FindTrayPrograms(program);
    if (running.empty())
        return;
    const LSTATUS status = RequestEndEverywhere();
    if (status != ERROR_SUCCESS) {
        LogToInstaller(install, L"EndRunningKelvane(): the end request could not be written (error " +
                                    std::to_wstring(status) + L"); only this desktop's Kelvane.exe is asked.");
        return;
    }
    const ULONGLONG deadline = GetTickCount64() + kEndWaitMs;
    for (const TrayProgram& tray : running) {
        const ULONGLONG now = GetTickCount64();
        const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
        const bool ended = WaitForSingleObject(tray.process.Get(), left) == WAIT_OBJECT_0;
        LogToInstaller(install, L"EndRunningKelvane(): Kelvane.exe (process " + std::to_wstring(tray.processId) +
                                    L", session " + std::to_wstring(tray.session) +
                                    (ended ? L") ended on the end request." : L") did not end within 5 s."));
        if (ended)
            AddSession(sessions, tray.session);
    }
}

// Runs the logon task in a session, as that session's user, so that
// /byrunkey, the user's start-up choice and the ShowIcon policy decide as at
// logon (RunEx with TASK_RUN_USE_SESSION_ID and no user).
HRESULT RunLogonTaskInSession(DWORD session)
{
    const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    // A thread already in another apartment keeps it (and is not left).
    ScopedComApartment apartment(init == RPC_E_CHANGED_MODE ? E_FAIL : init);
    // As the Task Scheduler's own samples do; too late (the host made its
    // choice already) is no failure.
    CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY, RPC_C_IMP_LEVEL_IMPERSONATE,
                         nullptr, EOAC_NONE, nullptr);
    HRESULT hr = S_OK;
    {
        ComPtr<ITaskService> service;
        ComPtr<ITaskFolder> folder;
        ComPtr<IRegisteredTask> task;
        ScopedVariant none;
        hr = CoCreateInstance(kTaskSchedulerClass, nullptr, CLSCTX_INPROC_SERVER, kTaskServiceInterface,
                              service.PutVoid());
        if (SUCCEEDED(hr))
            hr = service->Connect(*none, *none, *none, *none);
        if (SUCCEEDED(hr))
            hr = service->GetFolder(ScopedBstr(kLogonTaskFolderPath).Get(), folder.Put());
        if (SUCCEEDED(hr))
            hr = folder->GetTask(ScopedBstr(kLogonTaskName).Get(), task.Put());
        if (SUCCEEDED(hr))
            hr = task->RunEx(*none, kTaskRunUseSessionId, static_cast<LONG>(session), nullptr, nullptr);
    }
    return hr;
}

std::wstring Hex(HRESULT hr)
{
    wchar_t text[16];
    swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

} // namespace

// Immediate, before InstallValidate: a running Kelvane.exe would hold its
// file, so that an upgrade or removal leaves it behind or asks for a reboot.
// Every session's is asked through the end request; what is left on this
// desktop (an earlier version's, one started from elsewhere) is asked to end
// as its own "Hide" would end it. KelvaneEndedSessions names the sessions
// whose program ended, for StartKelvaneForUser.
extern "C" UINT __stdcall EndRunningKelvane(MSIHANDLE install)
{
    std::wstring sessions;
    EndTrayProgramsEverywhere(install, InFolder(GetInstallerProperty(install, L"INSTALLFOLDER"), L"Kelvane.exe"),
                              sessions);
    if (!sessions.empty()) {
        MsiSetPropertyW(install, L"KelvaneEnded", L"1");
        MsiSetPropertyW(install, L"KelvaneEndedSessions", sessions.c_str());
    }
    for (int i = 0; i < kMaxInstances; ++i) {
        HWND controller = FindWindowW(L"VornKelvane", nullptr);
        if (!controller)
            return ERROR_SUCCESS;
        DWORD processId = 0;
        GetWindowThreadProcessId(controller, &processId);
        ScopedKernelHandle process(OpenProcess(SYNCHRONIZE, FALSE, processId));
        DWORD_PTR answer = 0;
        SendMessageTimeoutW(controller, WM_COMMAND, MAKEWPARAM(kHideCommand, 0), 0, SMTO_ABORTIFHUNG, kEndWaitMs,
                            &answer);
        if (!process || WaitForSingleObject(process.Get(), kEndWaitMs) != WAIT_OBJECT_0) {
            LogToInstaller(install, L"EndRunningKelvane(): Kelvane.exe (process " + std::to_wstring(processId) +
                                        L") did not end; its files may be replaced only after a restart.");
            return ERROR_SUCCESS;
        }
        LogToInstaller(install, L"EndRunningKelvane(): Kelvane.exe (process " + std::to_wstring(processId) +
                                    L") ended.");
        // StartKelvaneForUser brings it back after an install.
        DWORD session = 0;
        if (ProcessIdToSessionId(processId, &session))
            AddSession(sessions, session);
        MsiSetPropertyW(install, L"KelvaneEnded", L"1");
        MsiSetPropertyW(install, L"KelvaneEndedSessions", sessions.c_str());
    }
    return ERROR_SUCCESS;
}

namespace {

// Where an upgrade names the products it is about to remove, for an
// installer that removes them without UPGRADINGPRODUCTCODE (Wine's runs
// "msiexec /i {code} REMOVE=ALL"): the product codes ("Replaced") and the
// process that wrote them ("Installer"), which lives as long as the upgrade.
const wchar_t kReplacedMarkKey[] = L"Software\\Quellmark Vorn Kelvane upgrade";

bool IsProcessRunning(DWORD processId)
{
    ScopedKernelHandle process(processId ? OpenProcess(SYNCHRONIZE, FALSE, processId) : nullptr);
    return process && WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT;
}

// Whether a running upgrade marked this product for removal; a mark that
// names it is used up.
bool TakeReplacedMark(const std::wstring& productCode)
{
    HKEY raw = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kReplacedMarkKey, 0, KEY_QUERY_VALUE, &raw) != ERROR_SUCCESS)
        return false;
    ScopedRegistryKey key(raw);
    wchar_t replaced[1024] = L"";
    DWORD size = sizeof(replaced) - sizeof(wchar_t);
    DWORD installer = 0;
    DWORD installerSize = sizeof(installer);
    const bool read =
        RegQueryValueExW(key.Get(), L"Replaced", nullptr, nullptr, reinterpret_cast<BYTE*>(replaced), &size) ==
            ERROR_SUCCESS &&
        RegQueryValueExW(key.Get(), L"Installer", nullptr, nullptr, reinterpret_cast<BYTE*>(&installer),
                         &installerSize) == ERROR_SUCCESS;
    key.Reset();
    if (!read || !IsProcessRunning(installer))
        return false;
    // "{code};{code}": the product codes WIX_UPGRADE_DETECTED found.
    std::wstring list = std::wstring(L";") + replaced + L";";
    std::wstring own = L";" + productCode + L";";
    CharUpperW(&list[0]);
    CharUpperW(&own[0]);
    if (list.find(own) == std::wstring::npos)
        return false;
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kReplacedMarkKey);
    return true;
}

} // namespace

// Immediate, on removal: is this the removal of an old product inside an
// upgrade? Windows Installer says so with UPGRADINGPRODUCTCODE, which it sets
// only then; an installer that runs the removal without it (Wine's) is
// recognised by the mark of a running upgrade that names this product. That
// another product of the upgrade code is installed says nothing: an upgrade
// whose removal of the old version failed leaves both, and the new one's
// removal must still remove everything. The answer, REPLACINGPRODUCT, keeps
// the removal from switching the cooling off and from dropping the
// registrations and defaults that the new product keeps. Windows' half rests
// on its documentation of UPGRADINGPRODUCTCODE: Wine never sets it.
extern "C" UINT __stdcall FindReplacingProduct(MSIHANDLE install)
{
    std::wstring upgrading = GetInstallerProperty(install, L"UPGRADINGPRODUCTCODE");
    std::wstring productCode = GetInstallerProperty(install, L"ProductCode");
    if (upgrading.empty() && !TakeReplacedMark(productCode))
        return ERROR_SUCCESS;
    MsiSetPropertyW(install, L"REPLACINGPRODUCT", L"1");
    LogToInstaller(install, L"FindReplacingProduct(): " + productCode + L" is removed by an upgrade" +
                                (upgrading.empty() ? std::wstring() : L" (" + upgrading + L")") +
                                L": the registrations and the firmware's mode stay.");
    return ERROR_SUCCESS;
}

// Immediate, on an upgrade, just before RemoveExistingProducts: marks the
// products that the upgrade removes (WIX_UPGRADE_DETECTED) for their
// FindReplacingProduct; ClearReplacedProduct drops the mark just after. The
// key is volatile: a restart drops what an aborted upgrade left. Without
// rights to HKLM (a user's installation on Windows, where
// UPGRADINGPRODUCTCODE says it) nothing is marked.
extern "C" UINT __stdcall MarkReplacedProduct(MSIHANDLE install)
{
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kReplacedMarkKey);
    std::wstring replaced = GetInstallerProperty(install, L"WIX_UPGRADE_DETECTED");
    HKEY raw = nullptr;
    if (replaced.empty() || RegCreateKeyExW(HKEY_LOCAL_MACHINE, kReplacedMarkKey, 0, nullptr, REG_OPTION_VOLATILE,
                                            KEY_SET_VALUE, nullptr, &raw, nullptr) != ERROR_SUCCESS)
        return ERROR_SUCCESS;
    ScopedRegistryKey key(raw);
    DWORD installer = GetCurrentProcessId();
    RegSetValueExW(key.Get(), L"Replaced", 0, REG_SZ, reinterpret_cast<const BYTE*>(replaced.c_str()),
                   static_cast<DWORD>((replaced.size() + 1) * sizeof(wchar_t)));
    RegSetValueExW(key.Get(), L"Installer", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&installer),
                   sizeof(installer));
    return ERROR_SUCCESS;
}

extern "C" UINT __stdcall ClearReplacedProduct(MSIHANDLE)
{
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kReplacedMarkKey);
    return ERROR_SUCCESS;
}

// Immediate, on install, after CostFinalize: the install action registers
// the programs in the program-files folder (the Control Panel item, the
// logon task, the tray program's defaults lookup), so another INSTALLFOLDER
// is refused before anything changes; a folder that users could write would
// also hand them the program that the removal runs as LocalSystem. Then
// notes for the install action the session of the person who started the
// installation, where its message can reach them, and whether it is
// unattended.
extern "C" UINT __stdcall PrepareRegistration(MSIHANDLE install)
{
    std::wstring folder = GetInstallerProperty(install, L"INSTALLFOLDER");
    wchar_t programFiles[MAX_PATH] = L"";
    std::wstring expected;
    if (SHGetSpecialFolderPathW(nullptr, programFiles, CSIDL_PROGRAM_FILES, FALSE))
        expected = std::wstring(programFiles) + kProductFolder;
    std::wstring given = folder;
    while (!given.empty() && given.back() == L'\\')
        given.pop_back();
    if (expected.empty() ||
        CompareStringOrdinal(given.c_str(), -1, expected.c_str(), -1, TRUE) != CSTR_EQUAL) {
        LogToInstaller(install,
                       L"Vorn Kelvane: installation stopped, nothing was changed. INSTALLFOLDER=\"" + folder +
                           L"\": Vorn Kelvane installs only into \"" + expected + L"\".",
                       INSTALLMESSAGE_ERROR);
        return ERROR_INSTALL_FAILURE;
    }

    MsiSetPropertyW(install, L"InstallingSession", std::to_wstring(InstallingSession(install)).c_str());
    // UILevel holds the level only (2 to 5); an unattended installation
    // (msiexec /passive) is told by MsiUIProgressOnly, which the install
    // action reads as INSTALLUILEVEL_PROGRESSONLY in its ui= word.
    unsigned long uiLevel = std::wcstoul(GetInstallerProperty(install, L"UILevel").c_str(), nullptr, 10);
    if (GetInstallerProperty(install, L"MsiUIProgressOnly") == L"1")
        uiLevel |= INSTALLUILEVEL_PROGRESSONLY;
    MsiSetPropertyW(install, L"InstallingUiLevel", std::to_wstring(uiLevel).c_str());

    // The setup log's entries of this installation start from now.
    char prefix[512];
    FormatLogPrefix(prefix);
    MsiSetPropertyW(install, L"ExplainFailedInstall", std::wstring(prefix, prefix + strlen(prefix)).c_str());
    return ERROR_SUCCESS;
}

// Rollback, just before the install action: the msiexec log gets why the
// action failed, from what the action wrote to its setup log (as LocalSystem,
// this action's account too) since the installation began.
extern "C" UINT __stdcall ExplainFailedInstall(MSIHANDLE install)
{
    std::wstring since = GetInstallerProperty(install, L"CustomActionData");
    wchar_t path[MAX_PATH];
    if (since.size() < kLogStampLength || !GetProductDataFilePath(path, L"KelvaneSetup.log"))
        return ERROR_SUCCESS;
    std::string stamp(since.begin(), since.begin() + kLogStampLength);
    ScopedStdioFile file(_wfopen(path, L"rt"));
    const wchar_t* reason = nullptr;
    char line[1024];
    while (file && fgets(line, sizeof(line), file.Get())) {
        if (strlen(line) < kLogStampLength || std::string(line, kLogStampLength) < stamp)
            continue;
        if (strstr(line, "Install: This system does not support Kelvane"))
            reason = L"this machine is not supported (its firmware reports no thermal control or accelerometer)";
        else if (strstr(line, "Install: Failed adding a task to the task scheduler."))
            reason = L"the logon task or the apply-policy task could not be registered";
    }
    if (reason)
        LogToInstaller(install, L"Vorn Kelvane: installation failed: " + std::wstring(reason) +
                                    L". The setup log says more: " + path);
    return ERROR_SUCCESS;
}

// Immediate, after CostFinalize: what the defaults writer and its rollback
// will write. Values given now replace those of an earlier install; the
// others stay as the install folder's Kelvane.ini has them.
extern "C" UINT __stdcall PrepareDefaultProfile(MSIHANDLE install)
{
    std::wstring folder = GetInstallerProperty(install, L"INSTALLFOLDER");
    std::wstring modeText = GetInstallerProperty(install, L"DEFAULTMODE");
    std::wstring iconText = GetInstallerProperty(install, L"SHOWICON");
    int mode = ParseOnOff(modeText);
    int icon = ParseOnOff(iconText);
    bool removing = CompareStringOrdinal(GetInstallerProperty(install, L"REMOVE").c_str(), -1, L"ALL", -1, TRUE) ==
                    CSTR_EQUAL;
    if (folder.empty() || (!removing && (mode == -2 || icon == -2))) {
        LogToInstaller(install,
                       L"Vorn Kelvane: installation stopped, nothing was changed. DEFAULTMODE=\"" + modeText +
                           L"\" and SHOWICON=\"" + iconText + L"\": each must be on, off or not given.",
                       INSTALLMESSAGE_ERROR);
        return ERROR_INSTALL_FAILURE;
    }

    Profile before = {-1, -1};
    ScopedStdioFile file(_wfopen(InFolder(folder, L"Kelvane.ini").c_str(), L"rt"));
    if (file)
        ReadProfileLines(file.Get(), before);
    Profile after = before;
    if (icon >= 0)
        after.autostart = icon;
    if (mode >= 0)
        after.mode = mode;

    // Nothing changed, nothing to undo: the rollback then does nothing.
    const Profile none = {-1, -1};
    bool changed = after.autostart != before.autostart || after.mode != before.mode;
    MsiSetPropertyW(install, L"WriteDefaultProfile", FormatProfileData(folder, after).c_str());
    MsiSetPropertyW(install, L"UndoDefaultProfile", changed ? FormatProfileData(folder, before).c_str() : L"");
    MsiSetPropertyW(install, L"RemoveDefaultProfile", FormatProfileData(folder, none).c_str());
    return ERROR_SUCCESS;
}

// Deferred (writer, its rollback and the removal): makes the install
// folder's Kelvane.ini say what CustomActionData says; no data, nothing to do.
extern "C" UINT __stdcall ApplyDefaultProfile(MSIHANDLE install)
{
    std::wstring data = GetInstallerProperty(install, L"CustomActionData");
    if (data.empty())
        return ERROR_SUCCESS;
    std::wstring folder;
    Profile profile = {-1, -1};
    if (!ParseProfileData(data, folder, profile)) {
        LogToInstaller(install, L"ApplyDefaultProfile(): unreadable data \"" + data + L"\".");
        return ERROR_INSTALL_FAILURE;
    }
    std::wstring path = InFolder(folder, L"Kelvane.ini");
    if (!WriteProfileFile(path, profile)) {
        LogToInstaller(install, L"ApplyDefaultProfile(): could not write \"" + path + L"\" (error " +
                                    std::to_wstring(GetLastError()) + L").");
        return ERROR_INSTALL_FAILURE;
    }
    return ERROR_SUCCESS;
}

namespace {

// Starts the installed Kelvane.exe in the installer's own session with the
// user's own rights, never the installer's elevated ones.
void StartInOwnSession(MSIHANDLE install, bool asAtLogon)
{
    std::wstring folder = GetInstallerProperty(install, L"INSTALLFOLDER");
    std::wstring program = InFolder(folder, L"Kelvane.exe");
    std::wstring commandLine = L"\"" + program + L"\"";
    if (asAtLogon)
        commandLine += L" /byrunkey";

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    BOOL ok = FALSE;
    const wchar_t* how = L"";
    ScopedKernelHandle own = OwnToken();
    if (own && IsUnelevated(own.Get())) {
        how = L"as the installing user";
        ok = CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                            &startup, &started);
    } else if (ScopedKernelHandle token = DuplicateShellToken()) {
        how = L"with the desktop shell's rights";
        ok = CreateProcessWithTokenW(token.Get(), 0, program.c_str(), &commandLine[0], 0, nullptr, folder.c_str(),
                                     &startup, &started);
    } else if (ScopedKernelHandle limited = DuplicateLinkedToken()) {
        how = L"with the installing user's limited rights";
        ok = CreateProcessWithTokenW(limited.Get(), 0, program.c_str(), &commandLine[0], 0, nullptr, folder.c_str(),
                                     &startup, &started);
    } else {
        LogToInstaller(install, L"StartKelvaneForUser(): not started: the installer is elevated and no desktop "
                                L"shell gives the user's own rights.");
        return;
    }
    if (!ok) {
        LogToInstaller(install, L"StartKelvaneForUser(): \"" + program + L"\" not started " + how + L" (error " +
                                    std::to_wstring(GetLastError()) + L").");
        return;
    }
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    LogToInstaller(install, L"StartKelvaneForUser(): \"" + program + L"\" started " + how + L".");
}

} // namespace

// Immediate, after InstallFinalize (and after the old version's removal,
// which would end it again) of an interactive install or of one that ended
// a running Kelvane.exe. Each session whose program ended gets it back
// through the logon task run for that session, as that session's user, as
// at logon (/byrunkey: no panel; no icon where the user or the ShowIcon
// policy says so). An interactive install keeps its own session's start
// as before: the user's own rights, the panel opened after a first install.
// Not starting it fails nothing: the logon task will at the next logon.
extern "C" UINT __stdcall StartKelvaneForUser(MSIHANDLE install)
{
    const bool interactive = std::wcstol(GetInstallerProperty(install, L"UILevel").c_str(), nullptr, 10) >= 3;
    const DWORD own = InstallingSession(install);
    const std::vector<DWORD> ended = ParseSessions(GetInstallerProperty(install, L"KelvaneEndedSessions"));
    bool ownEnded = ended.empty() && !GetInstallerProperty(install, L"KelvaneEnded").empty();
    bool startOwn = interactive || ownEnded;
    for (DWORD session : ended) {
        // RunEx refuses session 0 (no user logs on there).
        if (session == 0)
            continue;
        if (session == own) {
            ownEnded = true;
            if (interactive)
                continue;
        }
        const HRESULT hr = RunLogonTaskInSession(session);
        LogToInstaller(install, L"StartKelvaneForUser(): the logon task " +
                                    std::wstring(SUCCEEDED(hr) ? L"was run" : L"could not be run") + L" in session " +
                                    std::to_wstring(session) + L" (" + Hex(hr) + L").");
        if (FAILED(hr) && session == own)
            startOwn = true;
    }
    if (startOwn)
        StartInOwnSession(install, ownEnded);
    return ERROR_SUCCESS;
}

// Deferred, on install (and as the rollback of a removal): the key of the
// end request, which only administrators and LocalSystem may write (it
// inherits HKLM\SOFTWARE's rights). Its number is kept when it exists.
extern "C" UINT __stdcall CreateEndRequestKey(MSIHANDLE install)
{
    HKEY raw = nullptr;
    const LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kEndSignalKeyPath, 0, nullptr, 0,
                                           KEY_QUERY_VALUE | KEY_SET_VALUE | kEndSignalView, nullptr, &raw, nullptr);
    if (status != ERROR_SUCCESS) {
        LogToInstaller(install, L"CreateEndRequestKey(): error " + std::to_wstring(status) +
                                    L"; a later upgrade will end the tray program only in the installer's session.");
        return ERROR_SUCCESS;
    }
    ScopedRegistryKey key(raw);
    DWORD request = 0;
    DWORD size = sizeof(request);
    if (RegQueryValueExW(key.Get(), kEndSignalValueName, nullptr, nullptr, reinterpret_cast<BYTE*>(&request), &size) !=
        ERROR_SUCCESS)
        RegSetValueExW(key.Get(), kEndSignalValueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&request),
                       sizeof(request));
    return ERROR_SUCCESS;
}

// Deferred, on a real removal, after the tray programs ended: the key, and
// the maker's key when nothing else is in it.
extern "C" UINT __stdcall DeleteEndRequestKey(MSIHANDLE)
{
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kEndSignalKeyPath, kEndSignalView, 0);
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Quellmark", kEndSignalView, 0);
    return ERROR_SUCCESS;
}
