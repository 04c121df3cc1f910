#include "log_line.h"

#include <shlobj.h>
#include <strsafe.h>

#include <cstdio>

#include "scoped_win32.h"

namespace {

const wchar_t* const kProductFolderLevels[] = {L"Quellmark", L"Vorn Kelvane"};

bool GetLocalAppDataFolder(wchar_t (&path)[MAX_PATH])
{
    return SHGetSpecialFolderPathW(nullptr, path, CSIDL_LOCAL_APPDATA, FALSE) != FALSE;
}

} // namespace

void FormatLogPrefix(char (&prefix)[512])
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    StringCchPrintfA(prefix, ARRAYSIZE(prefix), "[%04d-%02d-%02d %02d:%02d:%02d] ", now.wYear, now.wMonth, now.wDay,
                     now.wHour, now.wMinute, now.wSecond);
}

void RestartLogIfTooLarge(const wchar_t* path)
{
    WIN32_FIND_DATAW found;
    ScopedFindHandle search(FindFirstFileW(path, &found));
    if (search && found.nFileSizeLow > kLogSizeLimit)
        DeleteFileW(path);
}

int AppendLogLine(const wchar_t* path, const char* message)
{
    RestartLogIfTooLarge(path);

    ScopedStdioFile file(_wfopen(path, L"a+"));
    if (!file)
        return 0;

    // Only the prefix goes through the bounded buffer; the message is written
    // whole, however long it is.
    char prefix[512];
    FormatLogPrefix(prefix);
    fputs(prefix, file.Get());
    fputs(message, file.Get());
    return 1;
}

bool AppendPathPiece(wchar_t (&path)[MAX_PATH], const wchar_t* piece)
{
    return SUCCEEDED(StringCchCatW(path, MAX_PATH, L"\\")) &&
           SUCCEEDED(StringCchCatW(path, MAX_PATH, piece));
}

bool PathIsPresent(const wchar_t* path)
{
    WIN32_FIND_DATAW found;
    ScopedFindHandle search(FindFirstFileW(path, &found));
    return static_cast<bool>(search);
}

int EnsureFolderLevels(const wchar_t* base, const wchar_t* const* levels, int count)
{
    wchar_t path[MAX_PATH];
    if (FAILED(StringCchCopyW(path, MAX_PATH, base)))
        return 0;
    for (int i = 0; i < count; ++i) {
        if (!AppendPathPiece(path, levels[i]))
            return 0;
        if (!PathIsPresent(path) && !CreateDirectoryW(path, nullptr))
            return 0;
    }
    return 1;
}

int EnsureProductDataFolder()
{
    wchar_t base[MAX_PATH];
    if (!GetLocalAppDataFolder(base))
        return 0;
    return EnsureFolderLevels(base, kProductFolderLevels, ARRAYSIZE(kProductFolderLevels));
}

namespace {

// path, the application-data folder, + the product's levels + fileName.
bool AppendProductFile(wchar_t (&path)[MAX_PATH], const wchar_t* fileName)
{
    for (const wchar_t* level : kProductFolderLevels) {
        if (!AppendPathPiece(path, level))
            return false;
    }
    return AppendPathPiece(path, fileName);
}

} // namespace

bool GetProductDataFilePath(wchar_t (&path)[MAX_PATH], const wchar_t* fileName)
{
    return GetLocalAppDataFolder(path) && AppendProductFile(path, fileName);
}

bool EnsureProductDataFilePath(wchar_t (&path)[MAX_PATH], const wchar_t* fileName)
{
    if (!GetLocalAppDataFolder(path))
        return false;
    // A folder that cannot be made shows when the file cannot be opened.
    EnsureFolderLevels(path, kProductFolderLevels, ARRAYSIZE(kProductFolderLevels));
    return AppendProductFile(path, fileName);
}
