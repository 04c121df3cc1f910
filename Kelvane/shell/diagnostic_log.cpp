#include "diagnostic_log.h"

#include <shlobj.h>

#include <cstdarg>
#include <cstdio>

#include "log_line.h"

namespace {

const wchar_t* const kDataFolderLevels[] = {L"Quellmark", L"Vorn Kelvane"};

bool GetLocalAppDataFolder(wchar_t (&path)[MAX_PATH])
{
    return SHGetSpecialFolderPathW(nullptr, path, CSIDL_LOCAL_APPDATA, FALSE) != FALSE;
}

} // namespace

int EnsureDataFolder()
{
    wchar_t base[MAX_PATH];
    if (!GetLocalAppDataFolder(base))
        return 0;
    return EnsureFolderLevels(base, kDataFolderLevels, ARRAYSIZE(kDataFolderLevels));
}

bool GetDataFilePath(wchar_t (&path)[MAX_PATH], const wchar_t* fileName)
{
    if (!GetLocalAppDataFolder(path))
        return false;
    for (const wchar_t* level : kDataFolderLevels) {
        if (!AppendPathPiece(path, level))
            return false;
    }
    return AppendPathPiece(path, fileName);
}

int WriteLog(const char* message)
{
    EnsureDataFolder();

    wchar_t path[MAX_PATH];
    if (!GetDataFilePath(path, L"Kelvane.log"))
        return 0;
    return AppendLogLine(path, message);
}

void WriteLogFormat(const char* format, ...)
{
    char line[512];
    va_list args;
    va_start(args, format);
    vsprintf_s(line, sizeof(line), format, args);
    va_end(args);
    WriteLog(line);
}
