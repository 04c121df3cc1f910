// Calls newer than Windows 7, looked up at run time by every program.
#pragma once

#include <windows.h>

// Calls newer than Windows 7 (or missing in Wine) are looked up, not
// imported, so that the program still starts where they do not exist.
template <class Function>
Function FindSystemFunction(const wchar_t* dll, const char* name)
{
    HMODULE module = GetModuleHandleW(dll);
    return module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

// A function of a system DLL the program does not import, loaded from the
// system folder on first use and kept loaded for the rest of the run.
template <class Function>
Function LoadSystemFunction(const wchar_t* dll, const char* name)
{
    HMODULE module = LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!module && GetLastError() == ERROR_INVALID_PARAMETER) {
        // Windows 7 without KB2533623 knows no search flags: the full path.
        wchar_t path[MAX_PATH];
        const UINT length = GetSystemDirectoryW(path, MAX_PATH);
        if (length > 0 && length + 1 + lstrlenW(dll) < MAX_PATH) {
            lstrcatW(path, L"\\");
            lstrcatW(path, dll);
            module = LoadLibraryW(path);
        }
    }
    return module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}
