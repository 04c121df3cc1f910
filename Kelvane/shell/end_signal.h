// The tray program's side of the installer's end request (end_request_key.h in
// common): watched in the message loop like the policies' key.
#pragma once

#include <windows.h>

#include "end_request_key.h"
#include "scoped_win32.h"

struct EndWatch {
    ScopedRegistryKey key;
    ScopedKernelHandle event; // auto-reset; signalled once per arming
    bool baselineRead;
    bool hadValue;
    DWORD baseline;
};

// Arms the watch; the first call opens the key and notes the number it holds.
// False when the key is missing (a package that makes none): the event then
// never fires. Arm again after each signal.
bool ArmEndWatch(EndWatch& watch);

// Whether the number differs from the one noted at the start (gone counts
// as different).
bool EndRequested(const EndWatch& watch);
