#include "setup_log.h"


#include <cstdio>
#include <string>

#include "log_line.h"

const wchar_t kSetupLogCopyFolder[] = L"C:\\System.sav\\Logs";
const wchar_t kSetupLogCopyPath[] = L"C:\\System.sav\\Logs\\KelvaneSetup.log";

namespace {

// Room for 256 characters and the terminator; a longer name does not fit.
constexpr DWORD kUserNameBuffer = 257;

// The name as the log shows it: each UTF-16 unit cut to its low byte.
void NarrowToLowBytes(const wchar_t* wide, char* narrow, size_t size)
{
    size_t i = 0;
    for (; i + 1 < size && wide[i]; ++i)
        narrow[i] = static_cast<char>(wide[i] & 0xFF);
    narrow[i] = '\0';
}

} // namespace

bool GetSetupLogPath(wchar_t (&path)[MAX_PATH])
{
    return GetProductDataFilePath(path, L"KelvaneSetup.log");
}

int WriteSetupLog(const char* message)
{
    EnsureProductDataFolder();

    wchar_t path[MAX_PATH];
    if (!GetSetupLogPath(path))
        return 0;
    return AppendLogLine(path, message);
}

int WriteSetupLogCopy(const char* message)
{
    // The folder belongs to the machine's maker and is never created here.
    if (!PathIsPresent(kSetupLogCopyFolder))
        return 0;
    return AppendLogLine(kSetupLogCopyPath, message);
}

void WriteBothSetupLogs(const char* message)
{
    WriteSetupLog(message);
    WriteSetupLogCopy(message);
}

void WriteBothSetupLogsStatus(const char* format, HRESULT status)
{
    char line[512];
    sprintf_s(line, sizeof(line), format, static_cast<unsigned int>(status));
    WriteBothSetupLogs(line);
}

int LogUserName()
{
    wchar_t name[kUserNameBuffer];
    DWORD length = GetEnvironmentVariableW(L"USERNAME", name, kUserNameBuffer);
    if (length == 0)
        return 0;

    bool tooLong = length >= kUserNameBuffer;
    if (tooLong) {
        // The call reported the size it needs and left the buffer undefined:
        // log the first 256 characters, and such a name is never the
        // administrator's.
        std::wstring whole(length, L'\0');
        DWORD read = GetEnvironmentVariableW(L"USERNAME", &whole[0], length);
        if (read == 0 || read >= length)
            return 0;
        lstrcpynW(name, whole.c_str(), kUserNameBuffer);
    }

    char narrow[kUserNameBuffer];
    NarrowToLowBytes(name, narrow, sizeof(narrow));
    char line[512];
    sprintf_s(line, sizeof(line), "Debug: User name is %s\n", narrow);
    WriteSetupLogCopy(line);

    return !tooLong && lstrcmpiW(name, L"Administrator") == 0 ? 1 : 0;
}
