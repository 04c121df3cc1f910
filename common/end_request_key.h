// The installer's request to every session's tray program to end before its
// files are replaced or removed: a number under an HKLM key (64-bit view)
// that only administrators and LocalSystem may write and every user may
// read and watch. The package makes the key; each request writes a new
// number; a tray program ends when the number differs from the one it read
// at its start. A named object would not do: a standard user could make it
// first, own it and so fake or block the request.
#pragma once

#include <windows.h>

inline constexpr wchar_t kEndSignalKeyPath[] = L"SOFTWARE\\Quellmark\\Vorn Kelvane";
inline constexpr wchar_t kEndSignalValueName[] = L"EndRequest"; // REG_DWORD
constexpr REGSAM kEndSignalView = KEY_WOW64_64KEY;
