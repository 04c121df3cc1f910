// The setup log and its copy: where each line goes, the folders, the size
// limit of each file, the user-name line, the bytes of a line, and links
// planted where the logs are expected.
#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <fstream>
#include <string>

#include "import_hook.h"
#include "install_action.h"
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

const wchar_t kPlanted[] = L"C:\\planted";
const wchar_t kPlantedLog[] = L"C:\\planted\\KelvaneSetup.log";
const wchar_t kVictim[] = L"C:\\planted\\victim.log";

bool CopyFolderIsLink()
{
    DWORD attributes = GetFileAttributesW(kSetupLogCopyFolder);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Runs a host program in C:\System.sav. Wine starts it without a handle to
// wait on, so this waits for its effect on the copy's folder.
bool RunOnHost(const wchar_t* program, std::wstring commandLine, bool linkWanted)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (CreateProcessW(program, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, L"C:\\System.sav", &startup,
                       &process)) {
        for (HANDLE handle : {process.hProcess, process.hThread})
            if (handle)
                CloseHandle(handle);
    }
    for (int i = 0; i < 100 && CopyFolderIsLink() != linkWanted; ++i)
        Sleep(50);
    return CopyFolderIsLink() == linkWanted;
}

// Takes back whatever a case planted. The link goes on the host's side:
// Wine deletes through a link, which would remove its target instead.
void RemovePlanted()
{
    if (CopyFolderIsLink())
        RunOnHost(L"Z:\\bin\\rm", L"rm Logs", false);
    for (const wchar_t* file : {kPlantedLog, kVictim})
        DeleteFileW(file);
    RemoveDirectoryW(kPlanted);
    DeleteFileW(SetupLogPath().c_str());
    RemoveSetupLogCopyFolder();
}

struct RemovesPlanted {
    RemovesPlanted() { RemovePlanted(); }
    ~RemovesPlanted() { RemovePlanted(); }
};

// Answers that Wine cannot be made to give (a final path elsewhere, a failed
// look-up, a reparse point at the log's own name), for one of the two logs.
enum class Answer { Plain, Elsewhere, Unknown, ReparsePoint };
Answer answer = Answer::Plain;
const wchar_t* answeredLog = nullptr;
ImportHook* finalPathHook = nullptr;
ImportHook* informationHook = nullptr;

DWORD OriginalFinalPath(HANDLE file, LPWSTR path, DWORD size, DWORD flags)
{
    return finalPathHook->Original<decltype(&GetFinalPathNameByHandleW)>()(file, path, size, flags);
}

bool IsAnsweredLog(HANDLE file)
{
    wchar_t path[MAX_PATH + 4];
    DWORD length = answer == Answer::Plain ? 0 : OriginalFinalPath(file, path, ARRAYSIZE(path), 0);
    return length > 4 && length < ARRAYSIZE(path) && lstrcmpiW(path + 4, answeredLog) == 0;
}

DWORD WINAPI AnswerFinalPath(HANDLE file, LPWSTR path, DWORD size, DWORD flags)
{
    const wchar_t elsewhere[] = L"\\\\?\\C:\\planted\\KelvaneSetup.log";
    if ((answer != Answer::Elsewhere && answer != Answer::Unknown) || !IsAnsweredLog(file))
        return OriginalFinalPath(file, path, size, flags);
    if (answer == Answer::Unknown) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    if (size < ARRAYSIZE(elsewhere))
        return ARRAYSIZE(elsewhere);
    lstrcpyW(path, elsewhere);
    return ARRAYSIZE(elsewhere) - 1;
}

BOOL WINAPI AnswerInformation(HANDLE file, BY_HANDLE_FILE_INFORMATION* info)
{
    BOOL found = informationHook->Original<decltype(&GetFileInformationByHandle)>()(file, info);
    if (found && answer == Answer::ReparsePoint && IsAnsweredLog(file))
        info->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    return found;
}

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

TEST_F(SetupLogTest, ALineKeepsTheFormOfTextModeAppending)
{
    // As "a+" in text mode: one closing Ctrl+Z goes, each "\n" becomes CR LF.
    WriteSetupLog("Install: make the folder\n");
    for (const std::string kept : {"kept", "kept\x1A"}) {
        std::ofstream(SetupLogPath().c_str(), std::ios::binary | std::ios::trunc) << kept << '\x1A';

        EXPECT_EQ(1, WriteSetupLog("one\ntwo\r\n"));

        std::string bytes = ReadFileBytes(SetupLogPath());
        EXPECT_EQ(kept + "[", bytes.substr(0, kept.size() + 1));
        EXPECT_EQ("one\r\ntwo\r\r\n", bytes.substr(std::min(bytes.size(), kept.size() + 22)));
    }
}

TEST_F(SetupLogTest, PlantedLinksLeaveTheirTargetsAloneAndTheSequencesEndAsBefore)
{
    const std::string refused = "WriteSetupLogCopy(): No copy written, C:\\System.sav\\Logs\\KelvaneSetup.log ";
    const std::string link = refused + "is reached through a link\n";
    const std::string names = refused + "has 2 hard links\n";
    const std::string unknown = refused + "could not be checked (5)\n";
    const std::string reparse = refused + "is not a regular file\n";
    const std::string probe = "Install: probe\n";
    const std::string big(2 * 1024 * 1024, 'x');
    const std::string victim = "victim\r\n";
    const std::string untouched = "<no prefix> victim\n";
    const Entries copied = {"Install: Custom Setup completed successfully.\n", probe};
    const std::wstring userLog = SetupLogPath();
    enum Plant { CopyFolderLink, CopyName, UserName, Answered };
    struct Case {
        const char* name;
        Plant plant;
        Answer answer;            // for the target, when Answered
        const wchar_t* target;    // what must stay as it was
        const std::string* bytes; // its content; null: it must not come to exist
        Entries user, copy;       // the copy is not read through a link
    };
    const Case cases[] = {
        {"copy folder linked to a 2 MiB log", CopyFolderLink, Answer::Plain, kPlantedLog, &big, {link, probe, link}, {}},
        {"copy folder linked to an empty folder", CopyFolderLink, Answer::Plain, kPlantedLog, nullptr,
         {link, probe, link}, {}},
        {"copy with a second name outside", CopyName, Answer::Plain, kVictim, &victim, {names, probe, names},
         {untouched}},
        {"copy whose final path is elsewhere", Answered, Answer::Elsewhere, kSetupLogCopyPath, &victim,
         {link, probe, link}, {untouched}},
        {"copy whose final path is unknown", Answered, Answer::Unknown, kSetupLogCopyPath, &victim,
         {unknown, probe, unknown}, {untouched}},
        {"copy that is a reparse point", Answered, Answer::ReparsePoint, kSetupLogCopyPath, &victim,
         {reparse, probe, reparse}, {untouched}},
        {"per-user log with a second name outside", UserName, Answer::Plain, kVictim, &victim, {untouched}, copied},
        {"per-user log whose final path is elsewhere", Answered, Answer::Elsewhere, userLog.c_str(), &victim,
         {untouched}, copied},
    };
    ImportHook pathHook("kernel32.dll", "GetFinalPathNameByHandleW", reinterpret_cast<const void*>(&AnswerFinalPath));
    ImportHook infoHook("kernel32.dll", "GetFileInformationByHandle", reinterpret_cast<const void*>(&AnswerInformation));
    finalPathHook = &pathHook;
    informationHook = &infoHook;
    ASSERT_TRUE(pathHook.Installed() && infoHook.Installed());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RemovesPlanted planted;
        CreateDirectoryW(kPlanted, nullptr);
        CreateSetupLogCopyFolder();
        SHCreateDirectoryExW(nullptr, userLog.substr(0, userLog.rfind(L'\\')).c_str(), nullptr);
        if (c.bytes)
            std::ofstream(c.target, std::ios::binary) << *c.bytes;
        if (c.plant == CopyFolderLink) {
            RemoveDirectoryW(kSetupLogCopyFolder);
            ASSERT_TRUE(RunOnHost(L"Z:\\bin\\ln", L"ln -s ../planted Logs", true));
        }
        if (c.plant == CopyName || c.plant == UserName) {
            ASSERT_TRUE(CreateHardLinkW(c.plant == CopyName ? kSetupLogCopyPath : userLog.c_str(), kVictim, nullptr));
        }
        answer = c.answer;
        answeredLog = c.target;

        EXPECT_EQ(0, RunInstallAction(L"KvInstallAction.exe -install"));
        EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kItemClassKey));
        EXPECT_EQ(0, RunInstallAction(L"KvInstallAction.exe -uninstall"));
        EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kItemClassKey));
        WriteBothSetupLogs(probe.c_str());
        answer = Answer::Plain;

        EXPECT_EQ(c.bytes != nullptr, FileExists(c.target));
        EXPECT_TRUE(!c.bytes || ReadFileBytes(c.target) == *c.bytes) << ReadFileBytes(c.target).size() << " bytes";
        EXPECT_EQ(c.user, ReadSetupLog(userLog));
        if (c.plant != CopyFolderLink) {
            EXPECT_EQ(c.copy, ReadSetupLog(SetupLogCopyPath()));
        }
    }

    // An unsupported machine writes three lines meant for the copy: one
    // refusal.
    RemovesPlanted planted;
    CreateSetupLogCopyFolder();
    std::ofstream(kSetupLogCopyPath, std::ios::binary) << victim;
    DeleteFileW(userLog.c_str());
    answer = Answer::Elsewhere;
    answeredLog = kSetupLogCopyPath;
    SetRecord({0x00, 0x01, 0x00, 0x00});
    EXPECT_EQ(1603, RunInstallAction(L"KvInstallAction.exe -install ui=2"));
    answer = Answer::Plain;
    Entries user = ReadSetupLog(userLog);
    EXPECT_EQ(1, std::count(user.begin(), user.end(), link)) << user.size() << " entries";
    EXPECT_EQ(victim, ReadFileBytes(kSetupLogCopyPath));
}
