// The Control Panel registration, read back in the 64-bit view of the
// registry: every key and value with its exact bytes, the failure of each
// step, the removal, and the length limit of the formatted values.
#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "control_panel.h"
#include "import_hook.h"
#include "install_fixture.h"
#include "status_text.h"

namespace {

const char kCreateClass[] =
    "SetRegKeyForControlPanel(): Could not create HKEY_CLASSES_ROOT\\CLSID\\{224695A4-BD5E-4C38-B354-A4C828E61BF7}\n";
const char kCreateIcon[] = "SetRegKeyForControlPanel(): Could not create "
                           "HKEY_CLASSES_ROOT\\CLSID\\{224695A4-BD5E-4C38-B354-A4C828E61BF7}\\DefaultIcon\n";
const char kCreateCommand[] = "SetRegKeyForControlPanel(): Could not create "
                              "HKEY_CLASSES_ROOT\\CLSID\\{224695A4-BD5E-4C38-B354-A4C828E61BF7}\\Shell\\Open\\Command\n";
const char kCreateNamespace[] =
    "SetRegKeyForControlPanel(): Could not create HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"
    "Explorer\\ControlPanel\\NameSpace\\{224695A4-BD5E-4C38-B354-A4C828E61BF7}\n";

const std::wstring kClassKey = kItemClassKey;
const std::wstring kIconKey = kClassKey + L"\\DefaultIcon";
const std::wstring kCommandKey = kClassKey + L"\\Shell\\Open\\Command";
const std::wstring kNamespaceKey = kItemNamespaceKey;

struct ExpectedValue {
    std::wstring key;
    const wchar_t* name;
    std::wstring data;
};

std::vector<ExpectedValue> ExpectedValues(const std::wstring& folder)
{
    const std::wstring program = folder + L"\\Quellmark\\Vorn Kelvane\\Kelvane.exe";
    return {
        {kClassKey, nullptr, L"Vorn Kelvane"},
        {kClassKey, L"InfoTip", L"@" + program + L",-115"},
        {kClassKey, L"LocalizedString", L"@" + program + L",-106"},
        {kClassKey, L"System.ApplicationName", L"Vorn.Kelvane"},
        {kClassKey, L"System.ControlPanel.Category", L"2"},
        {kIconKey, nullptr, program + L",-101"},
        {kCommandKey, nullptr, L"\"" + program + L"\""},
        {kNamespaceKey, nullptr, L"Vorn Kelvane"},
    };
}

std::string Keys(bool classKey, bool icon, bool command, bool nameSpace)
{
    return std::string(classKey ? "class " : "") + (icon ? "icon " : "") + (command ? "command " : "") +
           (nameSpace ? "namespace" : "");
}

std::string PresentKeys()
{
    return Keys(RegistryKeyExists(HKEY_LOCAL_MACHINE, kClassKey), RegistryKeyExists(HKEY_LOCAL_MACHINE, kIconKey),
                RegistryKeyExists(HKEY_LOCAL_MACHINE, kCommandKey),
                RegistryKeyExists(HKEY_LOCAL_MACHINE, kNamespaceKey));
}

std::vector<std::string> RegistrationDump()
{
    std::vector<std::string> dump = DumpRegistryTree(HKEY_LOCAL_MACHINE, kClassKey);
    for (const std::string& line : DumpRegistryTree(HKEY_LOCAL_MACHINE, kNamespaceKey))
        dump.push_back(line);
    return dump;
}

CallPlan createPlan;
ImportHook* createHook;

LSTATUS WINAPI FailingRegCreateKeyExW(HKEY root, LPCWSTR subkey, DWORD reserved, LPWSTR keyClass, DWORD options,
                                      REGSAM access, const LPSECURITY_ATTRIBUTES security, PHKEY key, LPDWORD disposition)
{
    if (createPlan.NextCallFails())
        return ERROR_ACCESS_DENIED;
    return createHook->Original<decltype(&RegCreateKeyExW)>()(root, subkey, reserved, keyClass, options, access,
                                                              security, key, disposition);
}

std::wstring programFiles;
ImportHook* folderHook;

BOOL WINAPI ProgramFilesFromTest(HWND owner, LPWSTR path, int folder, BOOL create)
{
    if (folder != CSIDL_PROGRAM_FILES)
        return folderHook->Original<decltype(&SHGetSpecialFolderPathW)>()(owner, path, folder, create);
    if (programFiles.empty())
        return FALSE;
    lstrcpynW(path, programFiles.c_str(), MAX_PATH);
    return TRUE;
}

class ControlPanelTest : public InstallActionTest {};

} // namespace

TEST_F(ControlPanelTest, RegistersEveryValueWithItsTerminatorInThe64BitView)
{
    EXPECT_EQ(1, SetRegKeyForControlPanel());

    for (const ExpectedValue& e : ExpectedValues(ProgramFilesFolder())) {
        SCOPED_TRACE(Narrow(e.key) + " " + (e.name ? Narrow(e.name) : "(default)"));
        RegistryValue value = ReadRegistryValue(HKEY_LOCAL_MACHINE, e.key, e.name);
        ASSERT_TRUE(value.found);
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), value.type);
        EXPECT_EQ(Narrow(e.data), Narrow(value.Text()));
        EXPECT_EQ((e.data.size() + 1) * 2, value.bytes.size()) << "byte count with the terminator";
        ASSERT_GE(value.bytes.size(), 2u);
        EXPECT_EQ(0, value.bytes[value.bytes.size() - 1] | value.bytes[value.bytes.size() - 2]);
    }
    EXPECT_EQ(26u, ReadRegistryValue(HKEY_LOCAL_MACHINE, kClassKey, nullptr).bytes.size());
    EXPECT_EQ(4u, ReadRegistryValue(HKEY_LOCAL_MACHINE, kClassKey, L"System.ControlPanel.Category").bytes.size());

    // Exactly these keys and values; nothing in the 32-bit view.
    std::vector<std::string> dump = RegistrationDump();
    std::vector<std::string> keys;
    for (const std::string& line : dump) {
        if (line.find('|') == std::string::npos)
            keys.push_back(line);
    }
    EXPECT_EQ((std::vector<std::string>{Narrow(kClassKey), Narrow(kIconKey), Narrow(kClassKey + L"\\Shell"),
                                        Narrow(kClassKey + L"\\Shell\\Open"), Narrow(kCommandKey),
                                        Narrow(kNamespaceKey)}),
              keys);
    EXPECT_EQ(ExpectedValues(L"").size() + keys.size(), dump.size());
    HKEY key = nullptr;
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kClassKey.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, &key));
    EXPECT_EQ(Entries{}, ReadSetupLog(SetupLogPath()));
}

TEST_F(ControlPanelTest, OpenCommandQuotesAPathWithBlanks)
{
    // The default install folder of a 32-bit program has blanks.
    ASSERT_NE(std::wstring::npos, ProgramFilesFolder().find(L' ')) << Narrow(ProgramFilesFolder());
    EXPECT_EQ(1, SetRegKeyForControlPanel());
    EXPECT_EQ("\"" + Narrow(ProgramFilesFolder()) + "\\Quellmark\\Vorn Kelvane\\Kelvane.exe\"",
              Narrow(ReadRegistryValue(HKEY_LOCAL_MACHINE, kCommandKey, nullptr).Text()));
}

TEST_F(ControlPanelTest, AFailureAtEachStepLogsItsLineAndStopsTheLaterSteps)
{
    CreateSetupLogCopyFolder();
    struct Case {
        int passing;
        const char* line;
        const char* keys;
    };
    const Case cases[] = {
        {0, kCreateClass, ""},
        {1, kCreateIcon, "class "},
        {2, kCreateCommand, "class icon "},
        {3, kCreateNamespace, "class icon command "},
    };
    Entries expected;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.passing);
        DeleteControlPanelKeys();
        createPlan = {c.passing, 1};
        ImportHook hook("advapi32.dll", "RegCreateKeyExW", reinterpret_cast<const void*>(&FailingRegCreateKeyExW));
        createHook = &hook;
        ASSERT_TRUE(hook.Installed());

        EXPECT_EQ(0, SetRegKeyForControlPanel());

        EXPECT_EQ(c.passing + 1, createPlan.calls) << "no key is created after the failing one";
        EXPECT_EQ(c.keys, PresentKeys());
        expected.push_back(c.line);
    }
    EXPECT_EQ(expected, ReadSetupLog(SetupLogPath()));
    EXPECT_EQ(expected, ReadSetupLog(SetupLogCopyPath()));
}

TEST_F(ControlPanelTest, RemovalTakesWhatExistsAfterAPartialRegistration)
{
    // The parent that Windows always has: a fresh prefix lacks it until
    // something registers below it.
    const wchar_t kNameSpace[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ControlPanel\\NameSpace";
    HKEY parent = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kNameSpace, 0, nullptr, 0,
                                             KEY_READ | KEY_WOW64_64KEY, nullptr, &parent, nullptr));
    RegCloseKey(parent);
    {
        createPlan = {2, 1};
        ImportHook hook("advapi32.dll", "RegCreateKeyExW", reinterpret_cast<const void*>(&FailingRegCreateKeyExW));
        createHook = &hook;
        ASSERT_EQ(0, SetRegKeyForControlPanel());
    }
    ASSERT_EQ("class icon ", PresentKeys());

    RemoveControlPanelRegistration();

    EXPECT_EQ("", PresentKeys());
    EXPECT_EQ(std::vector<std::string>{}, RegistrationDump());
    // The parents stay.
    EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID"));
    EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kNameSpace));

    // Again, with nothing left, and after a complete registration.
    RemoveControlPanelRegistration();
    EXPECT_EQ("", PresentKeys());
    ASSERT_EQ(1, SetRegKeyForControlPanel());
    RemoveControlPanelRegistration();
    EXPECT_EQ(std::vector<std::string>{}, RegistrationDump());
    // The removal logs nothing; the line is the partial registration's.
    EXPECT_EQ(Entries{kCreateCommand}, ReadSetupLog(SetupLogPath()));
}

TEST_F(ControlPanelTest, RegisteringTwiceLeavesTheSameKeysAndValues)
{
    ASSERT_EQ(1, SetRegKeyForControlPanel());
    std::vector<std::string> first = RegistrationDump();

    EXPECT_EQ(1, SetRegKeyForControlPanel());

    EXPECT_EQ(first, RegistrationDump());
    EXPECT_EQ(ExpectedValues(L"").size() + 6, first.size());
}

TEST_F(ControlPanelTest, AValueLongerThan259CharactersIsNotRegisteredCut)
{
    CreateSetupLogCopyFolder();
    ImportHook hook("shell32.dll", "SHGetSpecialFolderPathW", reinterpret_cast<const void*>(&ProgramFilesFromTest));
    folderHook = &hook;
    ASSERT_TRUE(hook.Installed());

    // "@" + folder + "\Quellmark\Vorn Kelvane\Kelvane.exe,-115" is the longest datum.
    programFiles = L"C:\\" + std::wstring(215, L'p');
    ASSERT_EQ(218u, programFiles.size());
    EXPECT_EQ(1, SetRegKeyForControlPanel());
    std::wstring tip = ReadRegistryValue(HKEY_LOCAL_MACHINE, kClassKey, L"InfoTip").Text();
    EXPECT_EQ(259u, tip.size());
    EXPECT_EQ(L",-115", tip.substr(tip.size() - 5));
    for (const ExpectedValue& e : ExpectedValues(programFiles))
        EXPECT_EQ(Narrow(e.data), Narrow(ReadRegistryValue(HKEY_LOCAL_MACHINE, e.key, e.name).Text()));

    DeleteControlPanelKeys();
    programFiles += L"p";
    EXPECT_EQ(0, SetRegKeyForControlPanel());
    EXPECT_EQ("", PresentKeys());

    // Without a program-files folder no path can be formed.
    programFiles.clear();
    EXPECT_EQ(0, SetRegKeyForControlPanel());
    EXPECT_EQ("", PresentKeys());

    EXPECT_EQ((Entries{kCreateClass, kCreateClass}), ReadSetupLog(SetupLogPath()));
    EXPECT_EQ((Entries{kCreateClass, kCreateClass}), ReadSetupLog(SetupLogCopyPath()));
}
