#include "install_fixture.h"

#include <shlobj.h>

#include <cstdio>

#include "log_reader.h"
#include "setup_log.h"

const wchar_t kItemClassKey[] = L"Software\\Classes\\CLSID\\{224695A4-BD5E-4C38-B354-A4C828E61BF7}";
const wchar_t kItemNamespaceKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ControlPanel\\NameSpace\\"
    L"{224695A4-BD5E-4C38-B354-A4C828E61BF7}";
const char kTaskPath[] = "\\Quellmark\\Vorn Kelvane\\Vorn Kelvane Start at Logon";
const char kProductPath[] = "\\Quellmark\\Vorn Kelvane";
const char kPolicyTaskPath[] = "\\Quellmark\\Vorn Kelvane\\Vorn Kelvane Apply Policy";
const char kMakerPath[] = "\\Quellmark";

std::wstring SetupLogPath()
{
    wchar_t path[MAX_PATH];
    return GetSetupLogPath(path) ? path : L"";
}

std::wstring SetupLogCopyPath()
{
    return kSetupLogCopyPath;
}

Entries ReadSetupLog(const std::wstring& path)
{
    std::string raw = ReadFileBytes(path);
    std::string text;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n')
            continue;
        text += raw[i];
    }

    // Entry boundaries are the positions where a time-stamp prefix starts.
    std::vector<size_t> starts;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '[' && HasLogPrefix(text.substr(i, 22)))
            starts.push_back(i);
    }
    Entries entries;
    if (!text.empty() && (starts.empty() || starts[0] != 0))
        entries.push_back("<no prefix> " + text.substr(0, starts.empty() ? text.size() : starts[0]));
    for (size_t n = 0; n < starts.size(); ++n) {
        size_t end = n + 1 < starts.size() ? starts[n + 1] : text.size();
        entries.push_back(text.substr(starts[n] + 22, end - starts[n] - 22));
    }
    return entries;
}

void CreateSetupLogCopyFolder()
{
    CreateDirectoryW(L"C:\\System.sav", nullptr);
    CreateDirectoryW(kSetupLogCopyFolder, nullptr);
}

void RemoveSetupLogCopyFolder()
{
    DeleteFileW(kSetupLogCopyPath);
    RemoveDirectoryW(kSetupLogCopyFolder);
    RemoveDirectoryW(L"C:\\System.sav");
}

std::wstring RegistryValue::Text() const
{
    size_t count = bytes.size() / sizeof(wchar_t);
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), count);
    if (!text.empty() && text.back() == L'\0')
        text.pop_back();
    return text;
}

RegistryValue ReadRegistryValue(HKEY root, const std::wstring& subkey, const wchar_t* name)
{
    RegistryValue value;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return value;
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
        value.bytes.resize(size);
        value.found = RegQueryValueExW(key, name, nullptr, &value.type, value.bytes.data(), &size) == ERROR_SUCCESS;
        value.bytes.resize(size);
    }
    RegCloseKey(key);
    return value;
}

bool RegistryKeyExists(HKEY root, const std::wstring& subkey)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

std::string Narrow(const std::wstring& text)
{
    std::string result;
    for (wchar_t c : text)
        result += c < 0x80 ? static_cast<char>(c) : '?';
    return result;
}

namespace {

void DumpKey(HKEY root, const std::wstring& subkey, std::vector<std::string>& lines)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return;
    lines.push_back(Narrow(subkey));
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = ARRAYSIZE(name);
        BYTE data[2048];
        DWORD size = sizeof(data);
        DWORD type = 0;
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS)
            break;
        std::string line = Narrow(subkey) + "|" + Narrow(name) + "=" + std::to_string(type) + ":";
        for (DWORD b = 0; b < size; ++b) {
            char part[4];
            std::snprintf(part, sizeof(part), "%02X", data[b]);
            line += part;
        }
        lines.push_back(line);
    }
    std::vector<std::wstring> children;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = ARRAYSIZE(name);
        if (RegEnumKeyExW(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        children.push_back(name);
    }
    RegCloseKey(key);
    for (const std::wstring& child : children)
        DumpKey(root, subkey + L"\\" + child, lines);
}

} // namespace

std::vector<std::string> DumpRegistryTree(HKEY root, const std::wstring& subkey)
{
    std::vector<std::string> lines;
    DumpKey(root, subkey, lines);
    return lines;
}

std::wstring ProgramFilesFolder()
{
    wchar_t path[MAX_PATH];
    return SHGetSpecialFolderPathW(nullptr, path, CSIDL_PROGRAM_FILES, FALSE) ? path : L"";
}

void DeleteControlPanelKeys()
{
    // Only the item's own class key, opened in the 64-bit view.
    HKEY classes = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID", 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                      &classes) == ERROR_SUCCESS) {
        RegDeleteTreeW(classes, L"{224695A4-BD5E-4C38-B354-A4C828E61BF7}");
        RegCloseKey(classes);
    }
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kItemNamespaceKey, KEY_WOW64_64KEY, 0);
}

void InstallActionTest::SetUp()
{
    SimulatedMachineTest::SetUp();
    DeleteFileW(SetupLogPath().c_str());
    RemoveSetupLogCopyFolder();
    DeleteControlPanelKeys();
    SetEnvironmentVariableW(L"USERNAME", L"kvtester");
}

void InstallActionTest::TearDown()
{
    RemoveSetupLogCopyFolder();
    SimulatedMachineTest::TearDown();
}

void InstallActionTest::AddFolder(const std::string& path)
{
    simfw::UpdateMachine([&](simfw::Machine& machine) { simts::AddFolder(machine, path); });
}

void InstallActionTest::AddTask(const std::string& path, bool hidden)
{
    simfw::UpdateMachine([&](simfw::Machine& machine) {
        simts::WriteTask(machine, path, {{"settings.Hidden", hidden ? "-1" : "0"}, {"register.flags", "6"}});
    });
}

namespace {
SecuritySpy* activeSpy = nullptr;
}

std::string Describe(const SecurityCall& call)
{
    return "services=" + std::to_string(call.authnServices) + " level=" + std::to_string(call.authnLevel) +
           " impersonation=" + std::to_string(call.impLevel) + " capabilities=" + std::to_string(call.capabilities) +
           (call.pointersNull ? " pointers=null" : " pointers=set");
}

SecuritySpy::SecuritySpy(CallPlan plan, HRESULT failure)
    : plan_(plan), failure_(failure),
      hook_("ole32.dll", "CoInitializeSecurity", reinterpret_cast<const void*>(&SecuritySpy::Replacement))
{
    activeSpy = this;
}

SecuritySpy::~SecuritySpy()
{
    activeSpy = nullptr;
}

HRESULT WINAPI SecuritySpy::Replacement(PSECURITY_DESCRIPTOR descriptor, LONG services,
                                        SOLE_AUTHENTICATION_SERVICE* list, void* reserved1, DWORD level,
                                        DWORD impersonation, void* authList, DWORD capabilities, void* reserved3)
{
    SecuritySpy& spy = *activeSpy;
    bool pointersNull = !descriptor && !list && !reserved1 && !authList && !reserved3;
    spy.calls_.push_back({services, level, impersonation, capabilities, pointersNull});
    if (spy.plan_.NextCallFails())
        return spy.failure_;
    return spy.hook_.Original<decltype(&CoInitializeSecurity)>()(descriptor, services, list, reserved1, level,
                                                                  impersonation, authList, capabilities, reserved3);
}
