// The install action's setup log, kept twice: KelvaneSetup.log in the local
// application-data folder of the user the action runs as, and a copy in
// C:\System.sav\Logs when that folder exists.
#pragma once

#include <windows.h>

#include "firmware_lock.h"

// Both files are written only through a handle whose final path is the
// file's own, that is no reparse point and that has one name: the action
// runs elevated, and a link planted by a person without those rights must
// not turn the line into a write (or the size limit into a delete) elsewhere.

// Appends one line to the per-user setup log, creating its two folder
// levels when missing. Returns 1 if written, 0 if the file could not be
// opened or was not the file it should be.
int WriteSetupLog(const char* message);

// Appends one line to the copy. Returns 0 without writing when
// C:\System.sav\Logs does not exist or the file could not be opened, else 1.
// A copy that is not the file it should be counts as missing, and the
// per-user log gets a line saying why, once a run (BeginSetupLogRun).
int WriteSetupLogCopy(const char* message);

// A new run of the action: the first copy it cannot write is logged again
// (once a run, however many lines the run writes).
void BeginSetupLogRun();

// The same line to both logs: first the per-user one, then the copy.
void WriteBothSetupLogs(const char* message);

// Formats into a 512-character buffer with the status as its one argument,
// then writes the result to both logs.
void WriteBothSetupLogsStatus(const char* format, HRESULT status);

// The machine-wide firmware lock's outcome for the uninstall's write, when
// it is not a plain take.
void LogFirmwareLockToSetupLogs(FirmwareLockState state, unsigned long detail);

// Writes "Debug: User name is ...\n" (the name cut to low bytes) to the
// copy only. Returns 1 when USERNAME is "Administrator" in any letter case.
int LogUserName();

// Where the two files live; false when the path is unknown or does not fit.
bool GetSetupLogPath(wchar_t (&path)[MAX_PATH]);
extern const wchar_t kSetupLogCopyFolder[];
extern const wchar_t kSetupLogCopyPath[];
