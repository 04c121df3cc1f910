// The user's two choices in Kelvane.ini: show the icon at start-up, and the
// cooling mode.
#pragma once

#include <cstdint>

struct Profile {
    int32_t autostart; // 1 on, 0 off, -1 not set
    int32_t mode;      // 1 On, 0 Off, -1 not set
};

// Reads the per-user file; 1 if it could be opened (fields as it said, -1
// where it said nothing), 0 if not (both -1).
int ReadProfile(Profile& profile);

// The install folder's read-only default file; both fields start at 1.
void ReadDefaultProfile(Profile& profile);

// Rewrites the per-user file from showAtStartup and the current mode. The
// old file is replaced only once both lines are written. 1 if the file could
// be opened for writing, else 0.
int SetProfile();

// Applies the lines of a settings file, read in pieces of at most 99 bytes.
void ApplyProfileLine(const char* line, Profile& profile);
