#include "footprint.h"

#include <windows.h>
#include <shlobj.h>

#include "machine_store.h"

namespace {

const wchar_t kItemClsid[] = L"{224695A4-BD5E-4C38-B354-A4C828E61BF7}";

std::wstring SpecialFolder(int csidl)
{
    wchar_t path[MAX_PATH] = L"";
    return SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE) ? path : L"";
}

void RemoveControlPanelKeys(REGSAM view)
{
    HKEY classes = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID", 0, KEY_ALL_ACCESS | view, &classes) ==
        ERROR_SUCCESS) {
        RegDeleteTreeW(classes, kItemClsid);
        RegCloseKey(classes);
    }
    const std::wstring nameSpace =
        std::wstring(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ControlPanel\\NameSpace\\") + kItemClsid;
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, nameSpace.c_str(), view, 0);
}

// Wine deletes through a link to a folder, and so removes what it points
// at: a link planted by a test goes on the host's side, by its name.
bool RemoveLink(const std::wstring& path)
{
    const size_t cut = path.rfind(L'\\');
    const std::wstring parent = path.substr(0, cut);
    std::wstring commandLine = L"rm -f \"" + path.substr(cut + 1) + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (CreateProcessW(L"Z:\\bin\\rm", &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, parent.c_str(),
                       &startup, &process)) {
        for (HANDLE handle : {process.hProcess, process.hThread})
            if (handle)
                CloseHandle(handle);
    }
    // Wine gives no handle to wait on for a host program: wait for its effect.
    for (int i = 0; i < 100 && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; ++i)
        Sleep(50);
    return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
}

} // namespace

void RemovePolicyKey()
{
    HKEY policies = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies", 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &policies) !=
        ERROR_SUCCESS)
        return;
    RegDeleteTreeW(policies, L"Quellmark\\Vorn Kelvane");
    // The vendor's key goes too when nothing else is under it.
    RegDeleteKeyExW(policies, L"Quellmark", KEY_WOW64_64KEY, 0);
    RegCloseKey(policies);
}

bool WritePolicyValue(const wchar_t* name, DWORD type, const void* data, DWORD size)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies\\Quellmark\\Vorn Kelvane", 0, nullptr, 0,
                        KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const bool written = RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
    RegCloseKey(key);
    return written;
}

bool WritePolicyText(const wchar_t* name, const wchar_t* text)
{
    return WritePolicyValue(name, REG_SZ, text, static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)));
}

bool WritePolicyNumber(const wchar_t* name, DWORD value)
{
    return WritePolicyValue(name, REG_DWORD, &value, sizeof(value));
}

bool RemovePath(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return true;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return RemoveLink(path);
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return DeleteFileW(path.c_str()) != FALSE;

    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name != L"." && name != L"..")
                RemovePath(path + L"\\" + name);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    return RemoveDirectoryW(path.c_str()) != FALSE;
}

void ResetProductFootprint()
{
    RemovePath(SpecialFolder(CSIDL_LOCAL_APPDATA) + L"\\Quellmark");
    RemovePath(SpecialFolder(CSIDL_PROGRAM_FILES) + L"\\Quellmark");
    RemovePath(L"C:\\System.sav");
    RemoveControlPanelKeys(KEY_WOW64_64KEY);
    RemoveControlPanelKeys(KEY_WOW64_32KEY);
    RemovePolicyKey();
    // The key of the installer's end request.
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Quellmark\\Vorn Kelvane", KEY_WOW64_64KEY, 0);
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Quellmark", KEY_WOW64_64KEY, 0);
    // The scheduler double keeps its folders and tasks in the machine file.
    DeleteFileW(simfw::MachineFilePath().c_str());
    simfw::RegisterCaslProgId();
}
