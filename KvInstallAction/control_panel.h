// The tray program as a Control Panel item: its class key, icon, open
// command and namespace entry, all in the 64-bit view of the registry.
#pragma once

#include <windows.h>

// Writes the four keys in order; returns 1 when all were written, 0 when a
// step failed (its line is logged and the later steps are skipped).
int SetRegKeyForControlPanel();

// Deletes the six keys deepest first; keys that do not exist are skipped.
void RemoveControlPanelRegistration();

extern const wchar_t kControlPanelClassKey[];     // below HKEY_CLASSES_ROOT
extern const wchar_t kControlPanelNamespaceKey[]; // below HKEY_LOCAL_MACHINE
