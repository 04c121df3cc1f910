#include "diagnostic_log.h"

#include <cstdarg>
#include <cstdio>

#include "log_line.h"

int EnsureDataFolder()
{
    return EnsureProductDataFolder();
}

bool GetDataFilePath(wchar_t (&path)[MAX_PATH], const wchar_t* fileName)
{
    return GetProductDataFilePath(path, fileName);
}

int WriteLog(const char* message)
{
    wchar_t path[MAX_PATH];
    if (!EnsureProductDataFilePath(path, L"Kelvane.log"))
        return 0;
    return AppendLogLine(path, message);
}

void LogFirmwareLock(FirmwareLockState state, unsigned long detail)
{
    switch (state) {
    case FirmwareLockState::Taken:
        break;
    case FirmwareLockState::Abandoned:
        WriteLog("FirmwareLock(): The lock was abandoned by a program that ended; taken.\n");
        break;
    case FirmwareLockState::TimedOut:
        WriteLogFormat("FirmwareLock(): The lock was not released within %lu ms; going on without it.\n", detail);
        break;
    case FirmwareLockState::Unusable:
        WriteLogFormat("FirmwareLock(): The lock is not available (error %lu); going on without it.\n", detail);
        break;
    }
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
