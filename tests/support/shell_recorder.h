// Records what the tray program hands to the shell and to the menu tracker
// instead of letting it through, so that tests can read it back.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <string>
#include <vector>

#include "import_hook.h"

struct NotifyCall {
    DWORD message;
    NOTIFYICONDATAW data;
    // A copy of the icon handed over (the program destroys its own at once).
    HICON icon;
    std::string Describe() const; // "NIM_ADD flags 0x87 tip 'Vorn Kelvane - On' icon"
};

struct MenuItem {
    UINT id;
    std::wstring text;
    UINT type;
    UINT state;
};

struct TrackedMenu {
    UINT flags;
    int x, y;
    HWND owner;
    std::vector<MenuItem> items;
};

// An icon's pictures (colour, then mask) as 32-bit pixels, for comparing
// two icons by what they show.
std::vector<uint32_t> IconPixels(HICON icon);

class ShellRecorder {
public:
    ShellRecorder();
    ~ShellRecorder();
    ShellRecorder(const ShellRecorder&) = delete;
    ShellRecorder& operator=(const ShellRecorder&) = delete;

    std::vector<NotifyCall> calls;
    std::vector<TrackedMenu> menus;
    // Which Shell_NotifyIconW calls report failure.
    CallPlan failures;

    std::vector<std::string> Described() const;

private:
    friend BOOL WINAPI RecordNotifyIcon(DWORD, PNOTIFYICONDATAW);
    std::vector<HICON> copies_;
    ImportHook notifyHook_;
    ImportHook trackHook_;
};
