// The setup log and its copy: where each line goes, the folders, the size
// limit of each file, and the user-name line.
#include <windows.h>
#include <shlobj.h>

#include <fstream>
#include <string>

#include "install_fixture.h"
#include "log_reader.h"
#include "setup_log.h"

namespace {

std::wstring LocalAppData()
{
    wchar_t path[MAX_PATH];
    return SHGetSpecialFolderPathW(nullptr, path, CSIDL_LOCAL_APPDATA, FALSE) ? path : L"";
}

void WriteBytes(const std::wstring& path, size_t size)
{
    std::ofstream file(path.c_str(), std::ios::binary | std::ios::trunc);
    file << std::string(size, 'x');
}

DWORD FileSize(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ? data.nFileSizeLow : 0xFFFFFFFF;
}

class SetupLogTest : public InstallActionTest {};

} // namespace

TEST_F(SetupLogTest, WithoutTheCopyFolderOnlyThePerUserLogIsWrittenAndItsFoldersAreMade)
{
    // Both folder levels are made when missing (the tray program's log
    // shares them and is removed by the fixture).
    std::wstring maker = LocalAppData() + L"\\Quellmark";
    std::wstring product = maker + L"\\Vorn Kelvane";
    for (const wchar_t* name : {L"\\Kelvane.ini", L"\\Kelvane.log"})
        DeleteFileW((product + name).c_str());
    RemoveDirectoryW(product.c_str());
    RemoveDirectoryW(maker.c_str());
    ASSERT_FALSE(FileExists(maker)) << Narrow(maker) << " could not be removed";

    EXPECT_EQ(1, WriteSetupLog("Install: first\n"));
    EXPECT_EQ(0, WriteSetupLogCopy("Install: to the copy\n"));
    SetEnvironmentVariableW(L"USERNAME", L"kvtester");
    EXPECT_EQ(0, LogUserName());

    EXPECT_EQ(Narrow(product) + "\\KelvaneSetup.log", Narrow(SetupLogPath()));
    EXPECT_EQ(Entries{"Install: first\n"}, ReadSetupLog(SetupLogPath()));
    EXPECT_FALSE(FileExists(L"C:\\System.sav\\Logs")) << "the copy's folder is never created";
    EXPECT_FALSE(FileExists(L"C:\\System.sav"));
}

TEST_F(SetupLogTest, BothFilesGetTheSameLinesExceptTheCopyOnlyOnes)
{
    CreateSetupLogCopyFolder();

    WriteBothSetupLogs("SetRegKeyForControlPanel(): Could not create X\n");
    WriteBothSetupLogsStatus("AddTaskScheduler(): Error saveing the Task (%x)", static_cast<HRESULT>(0x80070005));
    WriteBothSetupLogs("Install: Failed adding a task to the task scheduler.\n");
    EXPECT_EQ(1, WriteSetupLogCopy("Install: Custom Setup completed successfully.\n"));
    SetEnvironmentVariableW(L"USERNAME", L"kvtester");
    EXPECT_EQ(0, LogUserName());

    // The status line brings no line break: the next entry runs on.
    std::string fileBytes = ReadFileBytes(SetupLogPath());
    EXPECT_NE(std::string::npos, fileBytes.find("(80070005)[")) << fileBytes;
    EXPECT_EQ((Entries{"SetRegKeyForControlPanel(): Could not create X\n",
                       "AddTaskScheduler(): Error saveing the Task (80070005)",
                       "Install: Failed adding a task to the task scheduler.\n"}),
              ReadSetupLog(SetupLogPath()));
    EXPECT_EQ((Entries{"SetRegKeyForControlPanel(): Could not create X\n",
                       "AddTaskScheduler(): Error saveing the Task (80070005)",
                       "Install: Failed adding a task to the task scheduler.\n",
                       "Install: Custom Setup completed successfully.\n", "Debug: User name is kvtester\n"}),
              ReadSetupLog(SetupLogCopyPath()));
    // Text mode: CR LF line ends on disk.
    EXPECT_NE(std::string::npos, fileBytes.find("X\r\n[")) << fileBytes;
}

TEST_F(SetupLogTest, EachFileIsRestartedOnlyPastItsOwnSizeLimit)
{
    CreateSetupLogCopyFolder();
    WriteSetupLog("Install: make the folder\n");
    struct Case {
        DWORD userSize, copySize;
        bool userRestarted, copyRestarted;
    };
    const Case cases[] = {
        {0x100000, 0xFFFFF, true, false},
        {0xFFFFF, 0x100000, false, true},
        {0x100000, 0x100000, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.userSize) + " / " + std::to_string(c.copySize));
        WriteBytes(SetupLogPath(), c.userSize);
        WriteBytes(SetupLogCopyPath(), c.copySize);

        WriteBothSetupLogs("Install: after the limit\n");

        Entries user = ReadSetupLog(SetupLogPath());
        Entries copy = ReadSetupLog(SetupLogCopyPath());
        if (c.userRestarted) {
            EXPECT_EQ(Entries{"Install: after the limit\n"}, user);
        } else {
            EXPECT_EQ(c.userSize + 22 + 26, FileSize(SetupLogPath()));
        }
        if (c.copyRestarted) {
            EXPECT_EQ(Entries{"Install: after the limit\n"}, copy);
        } else {
            EXPECT_EQ(c.copySize + 22 + 26, FileSize(SetupLogCopyPath()));
        }
    }
}

TEST_F(SetupLogTest, UserNameLineGoesOnlyToTheCopyCutToLowBytes)
{
    CreateSetupLogCopyFolder();
    // r with caron (U+0159), a acute (U+00E1), a CJK character (U+4E2D).
    SetEnvironmentVariableW(L"USERNAME", L"J\u0159\u00E1\u4E2D");

    EXPECT_EQ(0, LogUserName());

    EXPECT_EQ(Entries{"Debug: User name is JY\xE1-\n"}, ReadSetupLog(SetupLogCopyPath()));
    EXPECT_FALSE(FileExists(SetupLogPath())) << "the user name is not in the per-user log";
}

TEST_F(SetupLogTest, AdministratorInAnyLetterCaseCountsAndIsStillLogged)
{
    CreateSetupLogCopyFolder();
    struct Case {
        const wchar_t* name;
        int result;
    };
    const Case cases[] = {
        {L"Administrator", 1}, {L"administrator", 1}, {L"ADMINISTRATOR", 1},
        {L"Administrator2", 0}, {L"Admin", 0}, {L" Administrator", 0},
    };
    Entries expected;
    for (const Case& c : cases) {
        SetEnvironmentVariableW(L"USERNAME", c.name);
        EXPECT_EQ(c.result, LogUserName()) << Narrow(c.name);
        expected.push_back("Debug: User name is " + Narrow(c.name) + "\n");
    }
    EXPECT_EQ(expected, ReadSetupLog(SetupLogCopyPath()));
}

TEST_F(SetupLogTest, UnsetUserNameLogsNothing)
{
    CreateSetupLogCopyFolder();
    SetEnvironmentVariableW(L"USERNAME", nullptr);
    EXPECT_EQ(0, LogUserName());
    SetEnvironmentVariableW(L"USERNAME", L"");
    EXPECT_EQ(0, LogUserName());
    EXPECT_EQ(Entries{}, ReadSetupLog(SetupLogCopyPath()));
}

TEST_F(SetupLogTest, UserNameLongerThan256IsCutAndNeverTheAdministrator)
{
    CreateSetupLogCopyFolder();
    for (size_t length : {size_t(256), size_t(257), size_t(300), size_t(4000)}) {
        SCOPED_TRACE(length);
        DeleteFileW(SetupLogCopyPath().c_str());
        std::wstring name(length, L'a');
        SetEnvironmentVariableW(L"USERNAME", name.c_str());

        EXPECT_EQ(0, LogUserName());

        EXPECT_EQ(Entries{"Debug: User name is " + std::string(256, 'a') + "\n"}, ReadSetupLog(SetupLogCopyPath()));
    }
}
