// The tray program's diagnostic log: Kelvane.log in the user's local
// application-data folder, one time-stamped line per call.
#pragma once

#include <windows.h>

#include "firmware_lock.h"

// Appends one line; the message brings its own "\n". Returns 1 if written,
// 0 if the file could not be opened (the line is then lost silently).
int WriteLog(const char* message);
// The machine-wide firmware lock's outcome, when it is not a plain take.
void LogFirmwareLock(FirmwareLockState state, unsigned long detail);

// Formats into a 512-byte buffer (sprintf_s) and hands the result to WriteLog.
void WriteLogFormat(const char* format, ...);

// Creates "Quellmark\Vorn Kelvane" below the local application-data folder
// when missing. Returns 1 if the second level exists afterwards.
int EnsureDataFolder();

// path = local application-data folder + "\Quellmark\Vorn Kelvane\" + fileName.
// False when the folder is unknown or the path does not fit.
bool GetDataFilePath(wchar_t (&path)[MAX_PATH], const wchar_t* fileName);
