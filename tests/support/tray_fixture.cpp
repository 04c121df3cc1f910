#include "tray_fixture.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "app_state.h"
#include "cooling_mode.h"
#include "diagnostic_log.h"
#include "log_reader.h"
#include "startup.h"

int retryWaits = 0;

// The program waits 10 s before each retry; a test program cannot.
void WaitBeforeRetry()
{
    ++retryWaits;
    Sleep(1);
}

void TrayTest::SetUp()
{
    SimulatedMachineTest::SetUp();
    app = {};
    app.instance = GetModuleHandleW(nullptr);
    app.canShowModePanel = 1;
    wcscpy_s(app.windowTitle, L"Vorn Kelvane");
    thermalState = {};
    retryWaits = 0;
    DeleteFileW(SettingsFilePath().c_str());
}

void TrayTest::TearDown()
{
    DeleteFileW(SettingsFilePath().c_str());
    SimulatedMachineTest::TearDown();
}

namespace {

// A run under another user interface (KV_UI_LANGUAGE, a LANGID in hex)
// first checks that Wine took it from the locale: otherwise the cases would
// run in English and prove nothing.
class UiLanguageCheck : public ::testing::Environment {
public:
    void SetUp() override
    {
        const char* expected = std::getenv("KV_UI_LANGUAGE");
        if (!expected)
            return;
        char actual[8];
        std::snprintf(actual, sizeof(actual), "0x%04X", GetUserDefaultUILanguage());
        ASSERT_STREQ(expected, actual) << "the run's UI language";
    }
};

::testing::Environment* const uiLanguageCheck = ::testing::AddGlobalTestEnvironment(new UiLanguageCheck);

} // namespace

bool ExpectedRightToLeft()
{
    const char* reading = std::getenv("KV_READING");
    return reading && std::string(reading) == "rtl";
}

std::wstring SettingsFilePath()
{
    wchar_t path[MAX_PATH];
    return GetDataFilePath(path, L"Kelvane.ini") ? path : L"";
}

void WriteSettingsFile(const std::string& bytes)
{
    EnsureDataFolder();
    std::ofstream file(SettingsFilePath().c_str(), std::ios::binary | std::ios::trunc);
    file << bytes;
}

void WriteDefaultSettingsFile(const std::string& bytes)
{
    wchar_t folder[MAX_PATH] = L"";
    SHGetSpecialFolderPathW(nullptr, folder, CSIDL_PROGRAM_FILES, FALSE);
    const std::wstring product = std::wstring(folder) + L"\\Quellmark\\Vorn Kelvane";
    SHCreateDirectoryExW(nullptr, product.c_str(), nullptr);
    std::ofstream file((product + L"\\Kelvane.ini").c_str(), std::ios::binary | std::ios::trunc);
    file << bytes;
}

std::string ReadSettingsFile()
{
    return ReadFileBytes(SettingsFilePath());
}
