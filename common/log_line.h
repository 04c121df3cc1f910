// The line form shared by the tray program's diagnostic log and the install
// action's setup logs: a local-time prefix, then the caller's text as given.
#pragma once

#include <windows.h>

// Files past this size (low 32 bits) are deleted before the next line.
constexpr DWORD kLogSizeLimit = 0xFFFFF;

// "[YYYY-MM-DD hh:mm:ss] " with the local date and time.
void FormatLogPrefix(char (&prefix)[512]);

// Deletes the file when it exists and has grown past kLogSizeLimit.
void RestartLogIfTooLarge(const wchar_t* path);

// Applies the size limit, then appends "[YYYY-MM-DD hh:mm:ss] " and the
// message (which brings its own line break) in text mode. Returns 1 if the
// file could be opened, 0 if the line was lost.
int AppendLogLine(const wchar_t* path, const char* message);

// Creates each of the given sub-folder levels below base when missing.
// Returns 1 if the last level exists afterwards, 0 when a creation failed
// (the later levels are then not tried).
int EnsureFolderLevels(const wchar_t* base, const wchar_t* const* levels, int count);

// Appends "\" and piece to path (MAX_PATH characters); false if it does not fit.
bool AppendPathPiece(wchar_t (&path)[MAX_PATH], const wchar_t* piece);

// True when FindFirstFileW finds the path (file or folder).
bool PathIsPresent(const wchar_t* path);

// Both programs keep their files in "Quellmark\Vorn Kelvane" below the user's
// local application-data folder. Creates the two levels when missing;
// returns 1 if the second exists afterwards.
int EnsureProductDataFolder();

// path = that folder + "\" + fileName; false when the folder is unknown or
// the path does not fit.
bool GetProductDataFilePath(wchar_t (&path)[MAX_PATH], const wchar_t* fileName);

// Both of the above with one look-up of the folder, for writers that append
// a line at a time.
bool EnsureProductDataFilePath(wchar_t (&path)[MAX_PATH], const wchar_t* fileName);
