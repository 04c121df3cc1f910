// Kelvane.msi under Wine's msiexec in the test prefix, the doubles standing
// in for the firmware and the Task Scheduler: install, refusal of an
// unsupported machine, removal while Kelvane.exe runs, upgrade over an older
// package, and the fleet defaults. Each test removes every product of the
// package before and after, so that the prefix is left as it was found.
#include <windows.h>
#include <msi.h>

#include <string>
#include <vector>

#include "diagnostic_log.h"
#include "footprint.h"
#include "install_fixture.h"
#include "log_reader.h"
#include "program_runner.h"
#include "setup_box.h"

namespace {

const wchar_t kUpgradeCode[] = L"{FFF75CDF-1481-458A-8FDF-7ABA453C46AC}";
const DWORD kMsiexecLimitMs = 120000;

std::wstring InstallFolder()
{
    return ProgramFilesFolder() + L"\\Quellmark\\Vorn Kelvane";
}

std::wstring Quoted(const std::wstring& text)
{
    return L"\"" + text + L"\"";
}

ProgramRun Msiexec(const std::wstring& arguments)
{
    wchar_t system[MAX_PATH] = L"";
    GetSystemDirectoryW(system, MAX_PATH);
    return RunClosingSetupBox(Quoted(std::wstring(system) + L"\\msiexec.exe") + L" " + arguments, kMsiexecLimitMs);
}

std::wstring Install(const char* package, const std::wstring& options)
{
    return L"/i " + Quoted(WindowsPathOf(package)) + L" " + options;
}

// Windows Installer's 1603; Wine's msiexec ends a failed deferred action with 1627.
bool IsInstallFailure(DWORD code)
{
    return code == 1603 || code == 1627;
}

std::vector<std::wstring> InstalledProducts()
{
    std::vector<std::wstring> products;
    wchar_t code[39];
    for (DWORD i = 0; MsiEnumRelatedProductsW(kUpgradeCode, 0, i, code) == ERROR_SUCCESS; ++i)
        products.push_back(code);
    return products;
}

std::string ProductInfo(const std::wstring& product, const wchar_t* property)
{
    wchar_t value[MAX_PATH] = L"";
    DWORD size = MAX_PATH;
    return MsiGetProductInfoW(product.c_str(), property, value, &size) == ERROR_SUCCESS ? Narrow(value) : "<none>";
}

// What Add/Remove Programs shows of the one installed product.
std::string ArpEntry()
{
    std::vector<std::wstring> products = InstalledProducts();
    if (products.size() != 1)
        return std::to_string(products.size()) + " products";
    return ProductInfo(products[0], INSTALLPROPERTY_INSTALLEDPRODUCTNAME) + "|" +
           ProductInfo(products[0], INSTALLPROPERTY_PUBLISHER) + "|" +
           ProductInfo(products[0], INSTALLPROPERTY_VERSIONSTRING);
}

// A PE file whose COFF symbol table is empty: stripped.
bool IsStripped(const std::wstring& path)
{
    std::string bytes = ReadFileBytes(path);
    if (bytes.size() < 0x40)
        return false;
    DWORD header = *reinterpret_cast<const DWORD*>(&bytes[0x3C]);
    if (bytes.size() < header + 4 + sizeof(IMAGE_FILE_HEADER))
        return false;
    const auto* file = reinterpret_cast<const IMAGE_FILE_HEADER*>(&bytes[header + 4]);
    return file->NumberOfSymbols == 0;
}

std::wstring PerUserSettingsPath()
{
    wchar_t path[MAX_PATH] = L"";
    return GetDataFilePath(path, L"Kelvane.ini") ? path : L"";
}

class PackageTest : public InstallActionTest {
protected:
    void SetUp() override
    {
        RemoveEveryProduct();
        InstallActionTest::SetUp();
    }
    void TearDown() override
    {
        RemoveEveryProduct();
        EXPECT_TRUE(NothingOfTheProduct());
        InstallActionTest::TearDown();
        ResetProductFootprint();
    }

    static void RemoveEveryProduct()
    {
        for (const std::wstring& product : InstalledProducts())
            EXPECT_EQ(0u, Msiexec(L"/x " + product + L" /qn").exitCode) << Narrow(product);
    }

    // No file, folder, product, Control Panel key or task is left.
    static bool NothingOfTheProduct()
    {
        bool nothing = true;
        auto expect = [&](bool condition, const char* what) {
            EXPECT_TRUE(condition) << what;
            nothing = nothing && condition;
        };
        expect(!FileExists(InstallFolder()), "the install folder is left");
        expect(!FileExists(ProgramFilesFolder() + L"\\Quellmark"), "the maker folder is left");
        expect(InstalledProducts().empty(), "a product is registered");
        expect(DumpRegistryTree(HKEY_LOCAL_MACHINE, kItemClassKey).empty(), "the Control Panel class is left");
        expect(!RegistryKeyExists(HKEY_LOCAL_MACHINE, kItemNamespaceKey), "the Control Panel item is left");
        expect(SchedulerState().empty(), "a task or folder is left");
        return nothing;
    }
};

} // namespace

TEST_F(PackageTest, InstallsOnASupportedMachineAndIsRepairedAndRemovedWhileKelvaneRuns)
{
    SetRecord({0x01, 0x01, 0x00, 0x5A});

    ProgramRun install = Msiexec(Install(KV_MSI, L"/qn"));

    ASSERT_EQ(0u, install.exitCode);
    for (const wchar_t* name : {L"Kelvane.exe", L"kelvanectl.exe", L"KvInstallAction.exe"})
        EXPECT_TRUE(IsStripped(InstallFolder() + L"\\" + name)) << Narrow(name) << " is missing or has symbols";
    EXPECT_FALSE(FileExists(InstallFolder() + L"\\Kelvane.ini")) << "no defaults were given";
    std::string program = Narrow(InstallFolder()) + "\\Kelvane.exe";
    EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kItemNamespaceKey));
    EXPECT_EQ(program + ",-101",
              Narrow(ReadRegistryValue(HKEY_LOCAL_MACHINE, std::wstring(kItemClassKey) + L"\\DefaultIcon", nullptr)
                         .Text()));
    simts::Properties task = TaskProperties(kTaskPath);
    EXPECT_EQ(program, task["action.1.Path"]);
    EXPECT_EQ("/byrunkey", task["action.1.Arguments"]);
    EXPECT_EQ("Vorn Kelvane|Quellmark|2.2", ArpEntry());
    std::vector<std::wstring> products = InstalledProducts();
    ASSERT_EQ(1u, products.size());
    std::string icon = ProductInfo(products[0], INSTALLPROPERTY_PRODUCTICON);
    EXPECT_EQ(ReadFileBytes(WindowsPathOf(KV_PRODUCT_ICON)), ReadFileBytes(std::wstring(icon.begin(), icon.end())))
        << "the Add/Remove Programs icon " << icon << " is not icon group 101's";

    // A repair runs neither action again: both would ask the firmware.
    Set("last.wmi.commands", "");
    EXPECT_EQ(0u, Msiexec(Install(KV_MSI, L"/qn REINSTALL=ALL REINSTALLMODE=omus")).exitCode);
    EXPECT_EQ("", Machine().Get("last.wmi.commands"));
    EXPECT_TRUE(simts::TaskExists(Machine(), kTaskPath));

    RunningProgram kelvane(InstallFolder() + L"\\Kelvane.exe", L"");
    ASSERT_NE(nullptr, WaitForWindow(L"VornKelvane", nullptr, 20000));

    ProgramRun removal = Msiexec(L"/x " + Quoted(WindowsPathOf(KV_MSI)) + L" /qn");

    EXPECT_EQ(0u, removal.exitCode) << "3010 would mean files left for a reboot";
    EXPECT_EQ(0, kelvane.WaitForExit(5000)) << "Kelvane.exe was not ended by its own Hide";
    EXPECT_TRUE(NothingOfTheProduct());
    EXPECT_EQ("01 00 00 5A", simfw::FormatBytes(Record())) << "mode bytes 0 0, bytes 0 and 3 kept";
}

TEST_F(PackageTest, AFailedInstallEndsWithNothingAndABoxOnlyWhenInteractive)
{
    struct Case {
        const wchar_t* options;
        std::vector<uint8_t> record;
        const char* failure;
        bool box;
        const char* lastLine;
    };
    const Case cases[] = {
        {L"/qn DEFAULTMODE=off", {0x00, 0x01, 0x00, 0x00}, nullptr, false,
         "Install: No message box: the installation runs without a user interface.\n"},
        {L"/qb", {0x00, 0x01, 0x00, 0x00}, nullptr, true, "Install: Message box shown to the user.\n"},
        // The Control Panel item is already registered when the task fails.
        {L"/qn", {0x01, 0x01, 0x00, 0x00}, "ts.TaskFolder.RegisterTaskDefinition", false,
         "Install: Failed adding a task to the task scheduler.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.options) + (c.failure ? " failing " : "") + (c.failure ? c.failure : ""));
        DeleteFileW(simfw::MachineFilePath().c_str());
        DeleteFileW(SetupLogPath().c_str());
        SetRecord(c.record);
        if (c.failure)
            Inject(c.failure, E_ACCESSDENIED);

        ProgramRun run = Msiexec(Install(KV_MSI, c.options));

        EXPECT_TRUE(IsInstallFailure(run.exitCode)) << run.exitCode;
        EXPECT_EQ(c.box, run.box.found) << "exit code " << run.exitCode << " after " << run.milliseconds << " ms";
        if (!c.box) {
            EXPECT_GT(20000u, run.milliseconds) << "a silent install must end within seconds";
        }
        Entries log = ReadSetupLog(SetupLogPath());
        EXPECT_EQ(c.lastLine, log.empty() ? "<empty log>" : log.back());
        EXPECT_TRUE(NothingOfTheProduct());
        EXPECT_EQ(0, Machine().Has("last.wmi.write.bytes")) << "the firmware was written";
    }
}

TEST_F(PackageTest, AnUpgradeKeepsTheFirmwareOneTaskAndTheGivenDefaults)
{
    ASSERT_EQ(0u, Msiexec(Install(KV_OLD_MSI, L"/qn DEFAULTMODE=off")).exitCode);
    ASSERT_EQ("Vorn Kelvane|Quellmark|2.1", ArpEntry());
    SetRecord({0x01, 0x01, 0x00, 0x5A});
    Set("last.wmi.commands", "");

    ProgramRun upgrade = Msiexec(Install(KV_MSI, L"/qn SHOWICON=on"));

    EXPECT_EQ(0u, upgrade.exitCode);
    EXPECT_EQ("Vorn Kelvane|Quellmark|2.2", ArpEntry());
    EXPECT_EQ("01 01 00 5A", simfw::FormatBytes(Record())) << "the old product's removal switched the cooling";
    EXPECT_EQ("1", Machine().Get("last.wmi.commands")) << "only the new install's support check";
    EXPECT_EQ(std::vector<std::string>{"Vorn Kelvane Start at Logon"}, simts::Tasks(Machine(), kProductPath, true));
    EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kItemNamespaceKey));
    EXPECT_EQ("autostart=on\r\nmode=off\r\n", ReadFileBytes(InstallFolder() + L"\\Kelvane.ini"));
    for (const wchar_t* key : {L"Software\\Quellmark Vorn Kelvane upgrade", L"Software\\Quellmark"}) {
        HKEY left = nullptr;
        EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &left)) << Narrow(key);
        if (left)
            RegCloseKey(left);
    }
}

TEST_F(PackageTest, FleetDefaultsReachAFirstStartAndBadOnesChangeNothing)
{
    for (const wchar_t* bad : {L"DEFAULTMODE=auto", L"SHOWICON=1", L"DEFAULTMODE=on SHOWICON=\"on \""}) {
        SCOPED_TRACE(Narrow(bad));
        ProgramRun run = Msiexec(Install(KV_MSI, L"/qn " + std::wstring(bad)));
        EXPECT_TRUE(IsInstallFailure(run.exitCode)) << run.exitCode;
        EXPECT_TRUE(NothingOfTheProduct());
    }
    SetRecord({0x01, 0x01, 0x00, 0x00});

    // An interactive install starts Kelvane.exe for the user: the first start
    // of a user without settings of their own.
    ProgramRun install = Msiexec(Install(KV_MSI, L"/qb DEFAULTMODE=Off SHOWICON=off"));

    ASSERT_EQ(0u, install.exitCode);
    EXPECT_EQ("autostart=off\r\nmode=off\r\n", ReadFileBytes(InstallFolder() + L"\\Kelvane.ini"));
    HWND controller = WaitForWindow(L"VornKelvane", nullptr, 20000);
    ASSERT_NE(nullptr, controller) << "Kelvane.exe was not started after the interactive install";
    std::string expected = "autostart=off\r\nmode=off\r\n";
    for (int i = 0; i < 100 && ReadFileBytes(PerUserSettingsPath()) != expected; ++i)
        Sleep(100);
    EXPECT_EQ(expected, ReadFileBytes(PerUserSettingsPath()));
    EXPECT_EQ("01 00 00 00", simfw::FormatBytes(Record())) << "the default mode Off reached the firmware";
    // Removal ends it; the defaults file goes with the product.
}
