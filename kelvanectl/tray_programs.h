// The running tray programs kelvanectl may talk to: only processes of the
// Kelvane.exe installed beside it, as the package puts both.
#pragma once

#include <windows.h>

#include <vector>

// This session's tray program's window, or null when none runs here or its
// window belongs to another program.
HWND FindInstalledTrayWindow();

// The sessions, ascending, in which the installed Kelvane.exe runs, as far as
// the caller may look into processes: LocalSystem and administrators see
// every session's, a standard user only their own.
std::vector<DWORD> FindTraySessions();
