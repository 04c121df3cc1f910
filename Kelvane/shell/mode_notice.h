// The notice "the firmware's mode was set outside this program", across
// sessions: a window message cannot leave its session, so each tray program
// waits on an auto-reset event of its own session in the Global\ namespace,
// which kelvanectl sets for every session after a set.
#pragma once

#include <windows.h>

#include <string>

// "Global\Vorn Kelvane mode set, session <n>".
std::wstring ModeNoticeName(DWORD session);

// The tray program's event for its session, or null. Everyone may set it and
// wait on it. One made first by someone else is used as it is: setting it
// only makes the tray program read the firmware again.
HANDLE CreateModeNotice();

// Sets the event of every session other than the caller's that has one.
// Returns how many were set.
int TellOtherSessionsModeSet();
