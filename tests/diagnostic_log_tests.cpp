// The diagnostic log on disk: line form, CR LF, the 1 MiB restart, folder
// creation, long messages and lines lost without a fuss.
#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "diagnostic_log.h"
#include "footprint.h"
#include "import_hook.h"
#include "log_reader.h"
#include "scoped_win32.h"

#include <gtest/gtest.h>

using Lines = std::vector<std::string>;

namespace {

std::wstring LocalAppData()
{
    wchar_t path[MAX_PATH] = L"";
    SHGetSpecialFolderPathW(nullptr, path, CSIDL_LOCAL_APPDATA, FALSE);
    return path;
}

std::wstring MakerFolder()
{
    return LocalAppData() + L"\\Quellmark";
}

std::wstring ProductFolder()
{
    return MakerFolder() + L"\\Vorn Kelvane";
}

// How often the writer looked up the application-data folder.
int folderLookups = 0;

BOOL WINAPI CountFolderLookup(HWND owner, LPWSTR path, int folder, BOOL create)
{
    ++folderLookups;
    return PlatformFunction<decltype(&SHGetSpecialFolderPathW)>("shell32.dll", "SHGetSpecialFolderPathW")(
        owner, path, folder, create);
}

void WriteFileOfSize(const std::wstring& path, DWORD size)
{
    ScopedKernelHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file) << GetLastError();
    std::string chunk(64 * 1024, 'x');
    for (DWORD left = size; left > 0;) {
        DWORD part = left < chunk.size() ? left : static_cast<DWORD>(chunk.size());
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file.Get(), chunk.data(), part, &written, nullptr));
        left -= written;
    }
}

class DiagnosticLogTest : public ::testing::Test {
protected:
    // The whole data folder goes, whatever an earlier run left in it.
    void SetUp() override { ResetProductFootprint(); }
    void TearDown() override { ResetProductFootprint(); }
};

} // namespace

TEST_F(DiagnosticLogTest, LineHasTheLocalTimePrefixAndEndsInCrLf)
{
    SYSTEMTIME before;
    GetLocalTime(&before);

    EXPECT_EQ(1, WriteLog("This system does not support accelerometer.\n"));

    std::string bytes = ReadFileBytes(DiagnosticLogPath());
    ASSERT_TRUE(HasLogPrefix(bytes)) << bytes;
    char date[16];
    std::snprintf(date, sizeof(date), "[%04d-%02d-%02d ", before.wYear, before.wMonth, before.wDay);
    EXPECT_EQ(date, bytes.substr(0, 12));
    EXPECT_EQ("] This system does not support accelerometer.\r\n", bytes.substr(20));
}

TEST_F(DiagnosticLogTest, WriterAddsNoLineBreak)
{
    EXPECT_EQ(1, WriteLog("first"));
    EXPECT_EQ(1, WriteLog("second\n"));
    EXPECT_EQ(1, WriteLog("third\n"));

    std::string bytes = ReadFileBytes(DiagnosticLogPath());
    ASSERT_EQ(22 + 5 + 22 + 8 + 22 + 7u, bytes.size()) << bytes;
    EXPECT_EQ("first", bytes.substr(22, 5));
    EXPECT_TRUE(HasLogPrefix(bytes.substr(27))) << bytes;
    EXPECT_EQ((Lines{"first[", "third\n"}), (Lines{bytes.substr(22, 6), ReadLogMessages().back()}));
}

TEST_F(DiagnosticLogTest, MissingFoldersAreCreatedOnTheFirstLine)
{
    ASSERT_FALSE(FileExists(MakerFolder()));
    ImportHook lookup("shell32.dll", "SHGetSpecialFolderPathW", reinterpret_cast<const void*>(&CountFolderLookup));
    ASSERT_TRUE(lookup.Installed());

    // One look-up of the folder per line, whether it has to be made or not.
    for (const char* line : {"first line\n", "second line\n"}) {
        folderLookups = 0;
        EXPECT_EQ(1, WriteLog(line));
        EXPECT_EQ(1, folderLookups) << line;
    }

    EXPECT_TRUE(GetFileAttributesW(ProductFolder().c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ((Lines{"first line\n", "second line\n"}), ReadLogMessages());
    EXPECT_EQ(1, EnsureDataFolder()) << "folders that exist are found";
}

TEST_F(DiagnosticLogTest, FileRestartsOnlyPastTheLimit)
{
    ASSERT_EQ(1, EnsureDataFolder());
    const std::string line = "SetProfile(): Could not write to Kelvane.ini\n";

    WriteFileOfSize(DiagnosticLogPath(), 1048575);
    EXPECT_EQ(1, WriteLog(line.c_str()));
    EXPECT_EQ(1048575 + 22 + line.size() + 1, ReadFileBytes(DiagnosticLogPath()).size())
        << "a file of 1,048,575 bytes is appended to";

    WriteFileOfSize(DiagnosticLogPath(), 1048576);
    EXPECT_EQ(1, WriteLog(line.c_str()));
    EXPECT_EQ(Lines{line}, ReadLogMessages()) << "a file of 1,048,576 bytes starts again";
}

TEST_F(DiagnosticLogTest, LongMessageIsWrittenWhole)
{
    std::string message(3000, 'm');
    message += "\n";

    EXPECT_EQ(1, WriteLog(message.c_str()));

    EXPECT_EQ(Lines{message}, ReadLogMessages());
}

TEST_F(DiagnosticLogTest, LineIsLostWhenTheFileCannotBeOpened)
{
    ASSERT_EQ(1, WriteLog("kept\n"));
    {
        // Another process holds the file without sharing it.
        ScopedKernelHandle locked(CreateFileW(DiagnosticLogPath().c_str(), GENERIC_READ, 0, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(locked);
        EXPECT_EQ(0, WriteLog("lost\n"));
    }
    EXPECT_EQ(Lines{"kept\n"}, ReadLogMessages());
}

TEST_F(DiagnosticLogTest, LineIsLostWhenTheFolderCannotBeCreated)
{
    // A file where the maker folder should be.
    ScopedKernelHandle blocker(CreateFileW(MakerFolder().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(blocker);
    blocker.Reset();

    EXPECT_EQ(0, EnsureDataFolder());
    EXPECT_EQ(0, WriteLog("lost\n"));
    EXPECT_FALSE(FileExists(ProductFolder()));
}

TEST_F(DiagnosticLogTest, FormattedLinesUseTheCallersText)
{
    WriteLogFormat("WM_CREATE: InitThermalControl() succeeded after %d time(s) of retry\n", 5);
    WriteLogFormat("GetThermalControl(): Get ThermalDiags.ThermalControl Failed 0x%08lX\n",
                   static_cast<long>(0x800401F3));

    EXPECT_EQ((Lines{"WM_CREATE: InitThermalControl() succeeded after 5 time(s) of retry\n",
                     "GetThermalControl(): Get ThermalDiags.ThermalControl Failed 0x800401F3\n"}),
              ReadLogMessages());
}
