// Records what the tray program hands to the shell and to the menu tracker
// instead of letting it through, so that tests can read it back.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "import_hook.h"

struct NotifyCall {
    DWORD message;
    NOTIFYICONDATAW data;
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
    ImportHook notifyHook_;
    ImportHook trackHook_;
};
