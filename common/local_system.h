// Whether this process runs as the LocalSystem account (S-1-5-18), as a task
// of the Task Scheduler registered for SYSTEM does.
#pragma once

#include <windows.h>

// The account of a token's user is LocalSystem; false for any other
// account, or when the token cannot be read.
bool IsLocalSystemSid(PSID sid);
bool RunsAsLocalSystem();
