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

} // namespace

bool RemovePath(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return true;
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
    // The scheduler double keeps its folders and tasks in the machine file.
    DeleteFileW(simfw::MachineFilePath().c_str());
    simfw::RegisterCaslProgId();
}
