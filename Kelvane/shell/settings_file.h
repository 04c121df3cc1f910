// The user's two choices in Kelvane.ini: show the icon at start-up, and the
// cooling mode.
#pragma once

#include "profile_lines.h"

// Reads the per-user file; 1 if it could be opened (fields as it said, -1
// where it said nothing), 0 if not (both -1).
int ReadProfile(Profile& profile);

// The install folder's read-only default file; both fields start at 1.
void ReadDefaultProfile(Profile& profile);

// The user's "show the icon at logon" as a start takes it: the file's, 1
// when the file says nothing; without a file the install folder's default
// when installDefaults, else 1.
int ReadStartupChoice(bool installDefaults);

// Rewrites the per-user file from showAtStartup and the current mode. The
// old file is replaced only once both lines are written. 1 if the file could
// be opened for writing, else 0.
int SetProfile();
// The same with the two values given (the command line program's way).
int SetProfileFrom(int showAtStartup, int mode);
