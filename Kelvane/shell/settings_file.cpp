#include "settings_file.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>

#include "app_state.h"
#include "cooling_mode.h"
#include "diagnostic_log.h"
#include "event_log.h"
#include "log_line.h"
#include "scoped_win32.h"

namespace {

bool GetDefaultProfilePath(wchar_t (&path)[MAX_PATH])
{
    if (!SHGetSpecialFolderPathW(nullptr, path, CSIDL_PROGRAM_FILES, FALSE))
        return false;
    if (!AppendPathPiece(path, L"Quellmark") || !PathIsPresent(path))
        return false;
    if (!AppendPathPiece(path, L"Vorn Kelvane") || !PathIsPresent(path))
        return false;
    return AppendPathPiece(path, L"Kelvane.ini");
}

// One event until a write succeeds again: a panel switch on a full disk
// must not add one each time.
bool settingsFailureReported = false;

void FinishSettingsWrite(bool written, const wchar_t* path)
{
    if (!written && !settingsFailureReported)
        ReportKelvaneEvent(KV_EVENT_SETTINGS_UNWRITABLE, path[0] ? path : L"Kelvane.ini");
    settingsFailureReported = !written;
}

} // namespace

int ReadProfile(Profile& profile)
{
    profile.autostart = -1;
    profile.mode = -1;

    // Every start reads the file; only one that cannot open it needs the
    // folders made (where the file opens, they exist), so the folder
    // look-ups stay off the usual start-up.
    wchar_t path[MAX_PATH];
    ScopedStdioFile file(GetDataFilePath(path, L"Kelvane.ini") ? _wfopen(path, L"rt") : nullptr);
    if (!file) {
        EnsureDataFolder();
        return 0;
    }
    ReadProfileLines(file.Get(), profile);
    return 1;
}

void ReadDefaultProfile(Profile& profile)
{
    profile.autostart = 1;
    profile.mode = 1;

    wchar_t path[MAX_PATH];
    if (!GetDefaultProfilePath(path))
        return;
    ScopedStdioFile file(_wfopen(path, L"rt"));
    if (file)
        ReadProfileLines(file.Get(), profile);
}

int ReadStartupChoice(bool installDefaults)
{
    Profile profile;
    if (ReadProfile(profile))
        return profile.autostart == -1 ? 1 : profile.autostart;
    if (!installDefaults)
        return 1;
    ReadDefaultProfile(profile);
    return profile.autostart;
}

int SetProfile()
{
    return SetProfileFrom(app.showAtStartup, GetKelvaneMode());
}

namespace {

// SetProfileFrom's steps: 0 when the file could not be opened or replaced;
// a line that could not be written clears written.
int WriteProfileFile(int showAtStartup, int mode, wchar_t (&path)[MAX_PATH], bool& written)
{
    const char kOpenFailed[] = "SetProfile(): Could not open Kelvane.ini with write access. Write access error.\n";
    EnsureDataFolder();

    wchar_t temporary[MAX_PATH];
    if (!GetDataFilePath(path, L"Kelvane.ini") || !GetDataFilePath(temporary, L"Kelvane.ini.new")) {
        WriteLog(kOpenFailed);
        return 0;
    }

    // The lines go to a file beside Kelvane.ini, which replaces it only when
    // both were written: a failed write never costs the user the old file.
    ScopedStdioFile file(_wfopen(temporary, L"wt"));
    if (!file) {
        WriteLog(kOpenFailed);
        return 0;
    }

    char line[100];
    std::snprintf(line, sizeof(line), "%s\n", showAtStartup ? "autostart=on" : "autostart=off");
    if (fputs(line, file.Get()) < 0) {
        WriteLog("SetProfile(): Could not write to Kelvane.ini\n");
        written = false;
    }
    std::snprintf(line, sizeof(line), "%s\n", mode == On ? "mode=on" : "mode=off");
    if (fputs(line, file.Get()) < 0) {
        WriteLog("SetProfile(): Could not write to Kelvane.ini (fputs() failed).\n");
        written = false;
    }
    // Buffered bytes reach the disk only here; a failure here is a failed write.
    if (fclose(file.Detach()) != 0 && written) {
        WriteLog("SetProfile(): Could not write to Kelvane.ini (fputs() failed).\n");
        written = false;
    }

    if (!written) {
        DeleteFileW(temporary);
    } else if (!MoveFileExW(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(temporary);
        WriteLog(kOpenFailed);
        return 0;
    }
    return 1;
}

} // namespace

int SetProfileFrom(int showAtStartup, int mode)
{
    wchar_t path[MAX_PATH] = L"";
    bool written = true;
    const int opened = WriteProfileFile(showAtStartup, mode, path, written);
    FinishSettingsWrite(opened && written, path);
    return opened;
}
