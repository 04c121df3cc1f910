// Everything the two programs can leave in the shared test prefix, put back
// to a machine that never saw them: each fixture calls this before its test,
// so that no test depends on what an earlier (or killed) one left behind.
#pragma once

#include <windows.h>

#include <string>

// The data folder "Quellmark" under the local application data (settings,
// diagnostic and setup logs) and under the program files (the default
// settings file), the setup log's copy folder, the Control Panel item's keys
// in both registry views, the simulated machine with the scheduler's state,
// the automation server's ProgID, and the product's policy key.
void ResetProductFootprint();

// Removes the product's policy key: every test starts with no policy.
void RemovePolicyKey();

// Writes one value under the product's policy key in the 64-bit view, as
// Group Policy does; true if written.
bool WritePolicyValue(const wchar_t* name, DWORD type, const void* data, DWORD size);
bool WritePolicyText(const wchar_t* name, const wchar_t* text);
bool WritePolicyNumber(const wchar_t* name, DWORD value);

// Removes a file or a folder with everything in it, never following a link
// (a link itself is removed); true if nothing is left.
bool RemovePath(const std::wstring& path);
