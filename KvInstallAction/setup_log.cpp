#include "setup_log.h"


#include <cstdio>
#include <cwchar>
#include <string>

#include "log_line.h"
#include "scoped_win32.h"

const wchar_t kSetupLogCopyFolder[] = L"C:\\System.sav\\Logs";
const wchar_t kSetupLogCopyPath[] = L"C:\\System.sav\\Logs\\KelvaneSetup.log";

namespace {

const wchar_t kSetupLogName[] = L"KelvaneSetup.log";

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

// Why a setup log was left alone. The action runs elevated, and a person
// without those rights may have put a link where the log is expected.
enum class Refusal { None, NotOpened, ReachedThroughLink, NotRegularFile, MoreNames, NotChecked };

// Opens the log without following a link at its own name, and keeps anyone
// from deleting or renaming it while it is open. A file made here may be
// deleted again through its handle; an existing one is opened without that
// right, so that a reader that forbids deletion does not lock the log out.
ScopedKernelHandle OpenLogFile(const wchar_t* path, bool& created)
{
    const DWORD access = GENERIC_READ | GENERIC_WRITE;
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    // The file may come or go between the two opens: one more round then.
    for (int round = 0; round < 2; ++round) {
        created = true;
        ScopedKernelHandle file(CreateFileW(path, access | DELETE, share, nullptr, CREATE_NEW, flags, nullptr));
        if (file || GetLastError() != ERROR_FILE_EXISTS)
            return file;
        created = false;
        file = ScopedKernelHandle(CreateFileW(path, access, share, nullptr, OPEN_EXISTING, flags, nullptr));
        if (file || GetLastError() != ERROR_FILE_NOT_FOUND)
            return file;
    }
    return ScopedKernelHandle();
}

// The handle must be the file at its own path: no junction, mount point or
// symbolic link on the way, no reparse point itself, no second name.
Refusal CheckLogFile(HANDLE file, const wchar_t* path, BY_HANDLE_FILE_INFORMATION& info, DWORD& detail)
{
    wchar_t finalPath[MAX_PATH + 4];
    DWORD length = GetFinalPathNameByHandleW(file, finalPath, ARRAYSIZE(finalPath), FILE_NAME_NORMALIZED);
    if (length == 0) {
        detail = GetLastError();
        return Refusal::NotChecked;
    }
    // A longer answer cannot be one of the two paths, which fit MAX_PATH.
    if (length >= ARRAYSIZE(finalPath))
        return Refusal::ReachedThroughLink;
    const wchar_t* shown = finalPath;
    if (wcsncmp(shown, L"\\\\?\\", 4) == 0)
        shown += 4;
    if (CompareStringOrdinal(shown, -1, path, -1, TRUE) != CSTR_EQUAL)
        return Refusal::ReachedThroughLink;

    if (!GetFileInformationByHandle(file, &info)) {
        detail = GetLastError();
        return Refusal::NotChecked;
    }
    if ((info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
        GetFileType(file) != FILE_TYPE_DISK)
        return Refusal::NotRegularFile;
    if (info.nNumberOfLinks != 1) {
        detail = info.nNumberOfLinks;
        return Refusal::MoreNames;
    }
    return Refusal::None;
}

bool SetEndAt(HANDLE file, LONGLONG offset)
{
    LARGE_INTEGER position;
    position.QuadPart = offset;
    return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

// Text-mode appending ("a+") first removes a closing Ctrl+Z end marker.
void DropClosingEndMarker(HANDLE file, const BY_HANDLE_FILE_INFORMATION& info)
{
    LONGLONG size = (static_cast<LONGLONG>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    LARGE_INTEGER last;
    last.QuadPart = size - 1;
    char byte = 0;
    DWORD read = 0;
    if (size > 0 && SetFilePointerEx(file, last, nullptr, FILE_BEGIN) &&
        ReadFile(file, &byte, 1, &read, nullptr) && read == 1 && byte == '\x1A')
        SetEndAt(file, last.QuadPart);
}

// The size limit, then the prefix and the message at the end of the file,
// each "\n" written as CR LF as text mode writes it.
void AppendThroughHandle(HANDLE file, const BY_HANDLE_FILE_INFORMATION& info, const char* message)
{
    if (info.nFileSizeLow > kLogSizeLimit)
        SetEndAt(file, 0);
    else
        DropClosingEndMarker(file, info);

    char prefix[512];
    FormatLogPrefix(prefix);
    std::string text = prefix;
    for (const char* c = message; *c; ++c) {
        if (*c == '\n')
            text += '\r';
        text += *c;
    }
    LARGE_INTEGER end = {};
    DWORD written = 0;
    if (SetFilePointerEx(file, end, nullptr, FILE_END))
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// Appends the line through a handle that was checked to be the file at path,
// or says why it left the file alone.
Refusal AppendCheckedLogLine(const wchar_t* path, const char* message, DWORD& detail)
{
    bool created = false;
    ScopedKernelHandle file = OpenLogFile(path, created);
    if (!file)
        return Refusal::NotOpened;

    BY_HANDLE_FILE_INFORMATION info;
    Refusal refusal = CheckLogFile(file.Get(), path, info, detail);
    if (refusal != Refusal::None) {
        // A file this call made somewhere else is taken back.
        FILE_DISPOSITION_INFO disposition = {TRUE};
        if (created)
            SetFileInformationByHandle(file.Get(), FileDispositionInfo, &disposition, sizeof(disposition));
        return refusal;
    }
    AppendThroughHandle(file.Get(), info, message);
    return Refusal::None;
}

// Whether this run of the action has said so already.
bool copyRefusalLogged = false;

// One line in the per-user log for a copy that was left alone, once a run.
void LogRefusedCopy(Refusal refusal, DWORD detail)
{
    if (copyRefusalLogged)
        return;
    copyRefusalLogged = true;
    char reason[64];
    switch (refusal) {
    case Refusal::ReachedThroughLink:
        sprintf_s(reason, sizeof(reason), "is reached through a link");
        break;
    case Refusal::NotRegularFile:
        sprintf_s(reason, sizeof(reason), "is not a regular file");
        break;
    case Refusal::MoreNames:
        sprintf_s(reason, sizeof(reason), "has %lu hard links", detail);
        break;
    default:
        sprintf_s(reason, sizeof(reason), "could not be checked (%lx)", detail);
        break;
    }
    char line[512];
    sprintf_s(line, sizeof(line), "WriteSetupLogCopy(): No copy written, C:\\System.sav\\Logs\\KelvaneSetup.log %s\n",
              reason);
    WriteSetupLog(line);
}

} // namespace

bool GetSetupLogPath(wchar_t (&path)[MAX_PATH])
{
    return GetProductDataFilePath(path, kSetupLogName);
}

int WriteSetupLog(const char* message)
{
    wchar_t path[MAX_PATH];
    if (!EnsureProductDataFilePath(path, kSetupLogName))
        return 0;
    DWORD detail = 0;
    return AppendCheckedLogLine(path, message, detail) == Refusal::None ? 1 : 0;
}

void BeginSetupLogRun()
{
    copyRefusalLogged = false;
}

int WriteSetupLogCopy(const char* message)
{
    // The folder belongs to the machine's maker and is never created here.
    if (!PathIsPresent(kSetupLogCopyFolder))
        return 0;
    DWORD detail = 0;
    Refusal refusal = AppendCheckedLogLine(kSetupLogCopyPath, message, detail);
    // A copy that is not what it seems counts as no copy at all.
    if (refusal != Refusal::None && refusal != Refusal::NotOpened)
        LogRefusedCopy(refusal, detail);
    return refusal == Refusal::None ? 1 : 0;
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

void LogFirmwareLockToSetupLogs(FirmwareLockState state, unsigned long detail)
{
    char line[512];
    switch (state) {
    case FirmwareLockState::Taken:
        return;
    case FirmwareLockState::Abandoned:
        WriteBothSetupLogs("Uninstall: The firmware lock was abandoned by a program that ended; taken.\n");
        return;
    case FirmwareLockState::TimedOut:
        sprintf_s(line, sizeof(line),
                  "Uninstall: The firmware lock was not released within %lu ms; writing without it.\n", detail);
        break;
    case FirmwareLockState::Unusable:
        sprintf_s(line, sizeof(line), "Uninstall: The firmware lock is not available (error %lu); writing without it.\n",
                  detail);
        break;
    }
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
