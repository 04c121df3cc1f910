// Everything the two programs can leave in the shared test prefix, put back
// to a machine that never saw them: each fixture calls this before its test,
// so that no test depends on what an earlier (or killed) one left behind.
#pragma once

#include <string>

// The data folder "Quellmark" under the local application data (settings,
// diagnostic and setup logs) and under the program files (the default
// settings file), the setup log's copy folder, the Control Panel item's keys
// in both registry views, the simulated machine with the scheduler's state,
// and the automation server's ProgID.
void ResetProductFootprint();

// Removes a file or a folder with everything in it, never following a link
// (a link itself is removed); true if nothing is left.
bool RemovePath(const std::wstring& path);
