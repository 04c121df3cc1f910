// Display scale of the drawn windows. Every pixel figure of the panels is a
// figure at 96 DPI; at another DPI it is scaled with ScaleForDpi, the one
// rounding rule for all of them.
#pragma once

#include <windows.h>

constexpr UINT kBaseDpi = 96;

// value x dpi / 96, rounded half away from zero (MulDiv).
inline int ScaleForDpi(int value, UINT dpi)
{
    return MulDiv(value, static_cast<int>(dpi), static_cast<int>(kBaseDpi));
}

// Each edge scaled on its own, so that neighbouring rectangles stay apart
// exactly as they are at 96 DPI.
inline RECT ScaleForDpi(const RECT& rect, UINT dpi)
{
    return {ScaleForDpi(rect.left, dpi), ScaleForDpi(rect.top, dpi), ScaleForDpi(rect.right, dpi),
            ScaleForDpi(rect.bottom, dpi)};
}

inline POINT ScaleForDpi(POINT point, UINT dpi)
{
    return {ScaleForDpi(point.x, dpi), ScaleForDpi(point.y, dpi)};
}

// Above 125 % the double-size pictures are drawn.
inline bool WantsLargePictures(UINT dpi)
{
    return dpi > kBaseDpi * 5 / 4;
}

// The DPI the window is drawn at: its monitor's under per-monitor awareness,
// else the system's.
UINT DpiForWindow(HWND window);
// The DPI of the monitor that holds the point, for a window not yet made.
UINT DpiForPoint(POINT point);
// A system metric at dpi where Windows can say it (10 and later), else the
// system's own.
int SystemMetricForDpi(int index, UINT dpi);

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
