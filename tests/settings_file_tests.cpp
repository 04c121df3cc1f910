// Kelvane.ini: the reading rules, the exact bytes written, and a failed
// write that must not cost the user the old file.
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app_state.h"
#include "cooling_mode.h"
#include "import_hook.h"
#include "log_reader.h"
#include "settings_file.h"
#include "tray_fixture.h"

using Lines = std::vector<std::string>;

namespace {

std::string Describe(const Profile& profile)
{
    return "autostart " + std::to_string(profile.autostart) + ", mode " + std::to_string(profile.mode);
}

std::wstring DefaultProfileFolder()
{
    wchar_t path[MAX_PATH] = L"";
    SHGetSpecialFolderPathW(nullptr, path, CSIDL_PROGRAM_FILES, FALSE);
    return std::wstring(path) + L"\\Quellmark\\Vorn Kelvane";
}

class SettingsFileTest : public TrayTest {
protected:
    static std::string Read(const std::string& contents)
    {
        WriteSettingsFile(contents);
        Profile profile = {7, 7};
        int opened = ReadProfile(profile);
        return std::to_string(opened) + ": " + Describe(profile);
    }
};

} // namespace

TEST_F(SettingsFileTest, LinesAreMatchedAtTheirStartIgnoringCase)
{
    EXPECT_EQ("1: autostart 1, mode 0", Read("autostart=on\nmode=off\n"));
    EXPECT_EQ("1: autostart 0, mode 1", Read("AUTOSTART=OFF\r\nMode=On\r\n"));
    EXPECT_EQ("1: autostart -1, mode 1", Read("mode=onwards and more\n"));
    EXPECT_EQ("1: autostart -1, mode -1", Read(" mode=on\n\tautostart=on\n"));
    EXPECT_EQ("1: autostart 1, mode -1", Read("autostart=on")) << "a last line without a line break";
    EXPECT_EQ("1: autostart -1, mode -1", Read("mode=o\nautostart=\n[Kelvane]\n"));
}

TEST_F(SettingsFileTest, LaterLinesWin)
{
    EXPECT_EQ("1: autostart 0, mode 0", Read("mode=on\nautostart=on\nmode=off\nautostart=off\n"));
    EXPECT_EQ("1: autostart 1, mode 1", Read("mode=off\nmode=on\nautostart=off\nautostart=on\n"));
}

TEST_F(SettingsFileTest, EmptyOrMissingFile)
{
    EXPECT_EQ("1: autostart -1, mode -1", Read(""));

    DeleteFileW(SettingsFilePath().c_str());
    DeleteDiagnosticLog();
    const std::wstring folder = SettingsFilePath().substr(0, SettingsFilePath().rfind(L'\\'));
    RemoveDirectoryW(folder.c_str());
    ASSERT_FALSE(FileExists(folder));
    Profile profile = {7, 7};
    EXPECT_EQ(0, ReadProfile(profile));
    EXPECT_EQ("autostart -1, mode -1", Describe(profile));
    EXPECT_TRUE(FileExists(folder)) << "a first start finds its folder made";
}

TEST_F(SettingsFileTest, LongLinesAreReadInPiecesOf99Bytes)
{
    // The second piece of a 107-byte line starts exactly with the key.
    EXPECT_EQ("1: autostart -1, mode 0", Read(std::string(99, 'x') + "mode=off\n"));
    // Here the key straddles the cut and is not seen.
    EXPECT_EQ("1: autostart -1, mode -1", Read(std::string(98, 'x') + "mode=off\n"));
}

TEST_F(SettingsFileTest, DefaultProfileComesFromTheInstallFolder)
{
    Profile profile = {7, 7};
    ReadDefaultProfile(profile);
    EXPECT_EQ("autostart 1, mode 1", Describe(profile)) << "no default file";
    EXPECT_FALSE(FileExists(DefaultProfileFolder())) << "reading creates no folder";

    WriteDefaultSettingsFile("autostart=off\nmode=off\n");

    profile = {7, 7};
    ReadDefaultProfile(profile);
    EXPECT_EQ("autostart 0, mode 0", Describe(profile));
}

TEST_F(SettingsFileTest, SetProfileWritesTwoLinesWithCrLf)
{
    struct Case {
        int showAtStartup;
        KelvaneMode mode;
        const char* bytes;
    };
    const Case cases[] = {
        {1, Off, "autostart=on\r\nmode=off\r\n"},
        {0, On, "autostart=off\r\nmode=on\r\n"},
        {1, On, "autostart=on\r\nmode=on\r\n"},
        {0, Off, "autostart=off\r\nmode=off\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        WriteSettingsFile("something much longer than what comes next\n\n\n\n");
        app.showAtStartup = c.showAtStartup;
        thermalState.mode = c.mode;

        EXPECT_EQ(1, SetProfile());
        EXPECT_EQ(c.bytes, ReadSettingsFile());
    }
    EXPECT_EQ(Lines{}, ReadLogMessages());
    EXPECT_FALSE(FileExists(SettingsFilePath() + L".new"));
}

TEST_F(SettingsFileTest, FailedWriteKeepsTheOldFile)
{
    const std::string old = "autostart=off\nmode=on\n";
    app.showAtStartup = 1;
    thermalState.mode = Off;
    {
        SCOPED_TRACE("first line");
        WriteSettingsFile(old);
        fputsPlan = {0, 1};
        ImportHook hook("msvcrt.dll", "fputs", reinterpret_cast<void*>(&FailingFputs));
        fputsHook = &hook;
        ASSERT_TRUE(hook.Installed());
        EXPECT_EQ(1, SetProfile());
        EXPECT_EQ(old, ReadSettingsFile());
    }
    {
        SCOPED_TRACE("second line");
        fputsPlan = {1, 1};
        ImportHook hook("msvcrt.dll", "fputs", reinterpret_cast<void*>(&FailingFputs));
        fputsHook = &hook;
        EXPECT_EQ(1, SetProfile());
        EXPECT_EQ(old, ReadSettingsFile());
    }
    EXPECT_FALSE(FileExists(SettingsFilePath() + L".new"));
    EXPECT_EQ((Lines{"SetProfile(): Could not write to Kelvane.ini\n",
                     "SetProfile(): Could not write to Kelvane.ini (fputs() failed).\n"}),
              ReadLogMessages());
}

TEST_F(SettingsFileTest, FailedOpenKeepsTheOldFile)
{
    const std::string old = "autostart=off\nmode=on\n";
    WriteSettingsFile(old);
    // Something in the way of the file that replaces Kelvane.ini.
    std::wstring blocker = SettingsFilePath() + L".new";
    ASSERT_TRUE(CreateDirectoryW(blocker.c_str(), nullptr));

    EXPECT_EQ(0, SetProfile());

    RemoveDirectoryW(blocker.c_str());
    EXPECT_EQ(old, ReadSettingsFile());
    EXPECT_EQ(Lines{"SetProfile(): Could not open Kelvane.ini with write access. Write access error.\n"},
              ReadLogMessages());
}
