// Kelvane.msi under Wine's msiexec in the test prefix, the doubles standing
// in for the firmware and the Task Scheduler: install, refusal of an
// unsupported machine, removal while Kelvane.exe runs, upgrade over an older
// package, a failed upgrade and a failed removal, and the fleet defaults. Each test removes every product of the
// package before and after, so that the prefix is left as it was found.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <fstream>
#include <string>
#include <vector>

#include "diagnostic_log.h"
#include "footprint.h"
#include "install_fixture.h"
#include "kv_version.h"
#include "log_reader.h"
#include "program_runner.h"
#include "scoped_win32.h"
#include "setup_box.h"
#include "status_text.h"

namespace {

const DWORD kMsiexecLimitMs = 120000;
const std::vector<std::string> kBothTasks = {"Vorn Kelvane Apply Policy", "Vorn Kelvane Start at Logon"};

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

const wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

std::wstring UninstallValue(const std::wstring& product, const wchar_t* name)
{
    HKEY raw = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(kUninstallKey) + L"\\" + product).c_str(), 0,
                      KEY_QUERY_VALUE | KEY_WOW64_32KEY, &raw) != ERROR_SUCCESS)
        return L"<none>";
    ScopedRegistryKey key(raw);
    wchar_t value[MAX_PATH] = L"";
    DWORD size = sizeof(value) - sizeof(wchar_t);
    DWORD type = 0;
    return RegQueryValueExW(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS &&
                   type == REG_SZ
               ? value
               : L"<none>";
}

// The products of the package as Add/Remove Programs lists them (a 32-bit
// package registers in the 32-bit view). Not by upgrade code: Wine's removal
// of one product drops the upgrade code's registration of all of them.
std::vector<std::wstring> InstalledProducts()
{
    std::vector<std::wstring> products;
    HKEY raw = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ | KEY_WOW64_32KEY, &raw) != ERROR_SUCCESS)
        return products;
    ScopedRegistryKey key(raw);
    wchar_t name[MAX_PATH];
    for (DWORD i = 0, size = MAX_PATH; RegEnumKeyExW(key.Get(), i, name, &size, nullptr, nullptr, nullptr, nullptr) ==
                                       ERROR_SUCCESS;
         ++i, size = MAX_PATH) {
        if (name[0] == L'{' && UninstallValue(name, L"DisplayName") == L"Vorn Kelvane")
            products.push_back(name);
    }
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
    return Narrow(UninstallValue(products[0], L"DisplayName")) + "|" +
           Narrow(UninstallValue(products[0], L"Publisher")) + "|" +
           Narrow(UninstallValue(products[0], L"DisplayVersion"));
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

// WinVerifyTrust's verdict, as Windows gives it before a program runs: the
// file's digest and its chain up to a trusted root, no revocation check.
HRESULT VerifyTrust(const std::wstring& path)
{
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = path.c_str();
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    HWND noWindow = static_cast<HWND>(INVALID_HANDLE_VALUE);
    HRESULT verdict = WinVerifyTrust(noWindow, &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(noWindow, &action, &data);
    return verdict;
}

// The test authority in the machine's Root store while this lives; removed
// again even when an earlier run left it there.
class TrustedTestRoot {
public:
    explicit TrustedTestRoot(const std::string& der)
        : store_(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root"))
    {
        if (store_)
            CertAddEncodedCertificateToStore(store_, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                             static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                             &certificate_);
    }
    ~TrustedTestRoot()
    {
        if (certificate_) {
            EXPECT_TRUE(CertDeleteCertificateFromStore(certificate_)) << "the test root stays trusted";
        }
        if (store_)
            CertCloseStore(store_, 0);
    }
    TrustedTestRoot(const TrustedTestRoot&) = delete;
    TrustedTestRoot& operator=(const TrustedTestRoot&) = delete;

    bool Trusted() const { return certificate_ != nullptr; }

private:
    HCERTSTORE store_;
    PCCERT_CONTEXT certificate_ = nullptr;
};

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
        HKEY maker = nullptr;
        expect(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Quellmark", 0, KEY_READ | KEY_WOW64_64KEY, &maker) !=
                   ERROR_SUCCESS,
               "the end request's key is left");
        if (maker)
            RegCloseKey(maker);
        return nothing;
    }
};

} // namespace

namespace {

const wchar_t kEventSourceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Vorn Kelvane";

// The text of a message as Event Viewer takes it from a message file.
std::string EventViewerText(const std::wstring& file, DWORD id)
{
    HMODULE module = LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    wchar_t* text = nullptr;
    if (!module || !FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS |
                                       FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                   module, id, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                   reinterpret_cast<LPWSTR>(&text), 0, nullptr)) {
        if (module)
            FreeLibrary(module);
        return "(no message " + std::to_string(id) + ", error " + std::to_string(GetLastError()) + ")";
    }
    const std::string result = Narrow(text);
    LocalFree(text);
    FreeLibrary(module);
    return result;
}

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
    // The package, unlike the action run by hand, adds the task that applies
    // the Mode policy as LocalSystem without a tray program.
    simts::Properties policyTask = TaskProperties(kPolicyTaskPath);
    EXPECT_EQ(Narrow(InstallFolder()) + "\\kelvanectl.exe apply-policy",
              policyTask["action.1.Path"] + " " + policyTask["action.1.Arguments"]);
    EXPECT_EQ("S-1-5-18 5 8 0", policyTask["principal.UserId"] + " " + policyTask["register.logonType"] + " " +
                                    policyTask["trigger.1.Type"] + " " + policyTask["trigger.2.Type"]);
    // Started as the scheduler would after a refresh, with no tray program:
    // the enforced mode reaches the firmware, bytes 0 and 3 kept.
    ASSERT_TRUE(WritePolicyText(L"Mode", L"off"));
    const std::string action = "\"" + policyTask["action.1.Path"] + "\" " + policyTask["action.1.Arguments"];
    ProgramRun applied = RunClosingSetupBox(std::wstring(action.begin(), action.end()), 30000);
    RemovePolicyKey();
    EXPECT_EQ(0u, applied.exitCode);
    EXPECT_EQ("01 00 00 5A", simfw::FormatBytes(Record()));
    SetRecord({0x01, 0x01, 0x00, 0x5A});
    EXPECT_EQ("Vorn Kelvane|Quellmark|" KV_PRODUCT_VERSION, ArpEntry());
    std::vector<std::wstring> products = InstalledProducts();
    ASSERT_EQ(1u, products.size());
    std::string icon = ProductInfo(products[0], INSTALLPROPERTY_PRODUCTICON);
    EXPECT_EQ(ReadFileBytes(WindowsPathOf(KV_PRODUCT_ICON)), ReadFileBytes(std::wstring(icon.begin(), icon.end())))
        << "the Add/Remove Programs icon " << icon << " is not icon group 101's";
    // Event Viewer's sentence comes from the message file the source names.
    const RegistryValue messageFile = ReadRegistryValue(HKEY_LOCAL_MACHINE, kEventSourceKey, L"EventMessageFile");
    EXPECT_EQ(program, Narrow(messageFile.Text()));
    EXPECT_EQ((std::vector<BYTE>{7, 0, 0, 0}), ReadRegistryValue(HKEY_LOCAL_MACHINE, kEventSourceKey, L"TypesSupported").bytes);
    EXPECT_EQ("Vorn Kelvane was installed. Its logon task and Control Panel item are registered.\r\n",
              EventViewerText(messageFile.Text(), 1000));

    // A repair runs neither action again (both would ask the firmware), nor
    // takes new defaults: anybody may start one.
    Set("last.wmi.commands", "");
    EXPECT_EQ(0u, Msiexec(Install(KV_MSI, L"/qn REINSTALL=ALL REINSTALLMODE=omus DEFAULTMODE=off SHOWICON=off"))
                      .exitCode);
    EXPECT_EQ("", Machine().Get("last.wmi.commands"));
    EXPECT_TRUE(simts::TaskExists(Machine(), kTaskPath));
    EXPECT_TRUE(simts::TaskExists(Machine(), kPolicyTaskPath));
    EXPECT_FALSE(FileExists(InstallFolder() + L"\\Kelvane.ini")) << "a repair wrote the defaults";

    RunningProgram kelvane(InstallFolder() + L"\\Kelvane.exe", L"");
    ASSERT_NE(nullptr, WaitForWindow(L"VornKelvane", nullptr, 20000));

    ProgramRun removal = Msiexec(L"/x " + Quoted(WindowsPathOf(KV_MSI)) + L" /qn");

    EXPECT_EQ(0u, removal.exitCode) << "3010 would mean files left for a reboot";
    EXPECT_EQ(0, kelvane.WaitForExit(5000)) << "Kelvane.exe was not ended by its own Hide";
    EXPECT_TRUE(NothingOfTheProduct());
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kEventSourceKey)) << "the event source stayed";
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
        const char* msiexecLine;
    };
    const char kUnsupported[] = "Vorn Kelvane: installation failed: this machine is not supported (its firmware "
                                "reports no thermal control or accelerometer). The setup log says more: ";
    const char kNoTask[] = "Vorn Kelvane: installation failed: the logon task or the apply-policy task could not be "
                           "registered. The setup log says more: ";
    const Case cases[] = {
        {L"/qn DEFAULTMODE=off", {0x00, 0x01, 0x00, 0x00}, nullptr, false,
         "Install: No message box: the installation runs without a user interface.\n", kUnsupported},
        {L"/qb", {0x00, 0x01, 0x00, 0x00}, nullptr, true, "Install: Message box shown to the user.\n", kUnsupported},
        // The Control Panel item is already registered when the task fails.
        {L"/qn", {0x01, 0x01, 0x00, 0x00}, "ts.TaskFolder.RegisterTaskDefinition", false,
         "Install: Failed adding a task to the task scheduler.\n", kNoTask},
        // The logon task is already registered when the apply-policy task fails.
        {L"/qn", {0x01, 0x01, 0x00, 0x00}, "ts.TaskFolder.RegisterTaskDefinition:Vorn Kelvane Apply Policy", false,
         "Install: Failed adding a task to the task scheduler.\n", kNoTask},
    };
    const std::wstring msiexecLog = ProgramFilesFolder() + L"\\..\\kelvane-msiexec.log";
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.options) + (c.failure ? " failing " : "") + (c.failure ? c.failure : ""));
        DeleteFileW(simfw::MachineFilePath().c_str());
        DeleteFileW(SetupLogPath().c_str());
        SetRecord(c.record);
        if (c.failure)
            Inject(c.failure, E_ACCESSDENIED);

        ProgramRun run = Msiexec(Install(KV_MSI, std::wstring(c.options) + L" /l*v " + Quoted(msiexecLog)));

        EXPECT_TRUE(IsInstallFailure(run.exitCode)) << run.exitCode;
        EXPECT_EQ(c.box, run.box.found) << "exit code " << run.exitCode << " after " << run.milliseconds << " ms";
        if (!c.box) {
            EXPECT_GT(20000u, run.milliseconds) << "a silent install must end within seconds";
        }
        Entries log = ReadSetupLog(SetupLogPath());
        EXPECT_EQ(c.lastLine, log.empty() ? "<empty log>" : log.back());
        EXPECT_TRUE(NothingOfTheProduct());
        EXPECT_EQ(0, Machine().Has("last.wmi.write.bytes")) << "the firmware was written";
        std::string msiexecText = ReadFileBytes(msiexecLog);
        EXPECT_NE(std::string::npos, msiexecText.find(c.msiexecLine + Narrow(SetupLogPath())))
            << "the msiexec log does not say why";
        EXPECT_EQ(std::string::npos, msiexecText.find("ApplyDefaultProfile()")) << "the rollback of the defaults";
        DeleteFileW(msiexecLog.c_str());
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
    EXPECT_EQ("Vorn Kelvane|Quellmark|" KV_PRODUCT_VERSION, ArpEntry());
    EXPECT_EQ("01 01 00 5A", simfw::FormatBytes(Record())) << "the old product's removal switched the cooling";
    EXPECT_EQ("1", Machine().Get("last.wmi.commands")) << "only the new install's support check";
    EXPECT_EQ(kBothTasks, simts::Tasks(Machine(), kProductPath, true));
    EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kItemNamespaceKey));
    EXPECT_EQ("autostart=on\r\nmode=off\r\n", ReadFileBytes(InstallFolder() + L"\\Kelvane.ini"));
    for (const wchar_t* key : {L"Software\\Quellmark Vorn Kelvane upgrade", L"Software\\Quellmark"}) {
        HKEY left = nullptr;
        EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &left)) << Narrow(key);
        if (left)
            RegCloseKey(left);
    }
}

// A new version whose task cannot be registered leaves the earlier one
// installed, registered and with its defaults and mode. (Wine's rollback
// deletes the files the new version replaced, which Windows restores.)
TEST_F(PackageTest, AFailedUpgradeKeepsTheEarlierVersion)
{
    ASSERT_EQ(0u, Msiexec(Install(KV_OLD_MSI, L"/qn DEFAULTMODE=off")).exitCode);
    std::vector<std::wstring> products = InstalledProducts();
    ASSERT_EQ(1u, products.size());
    SetRecord({0x01, 0x01, 0x00, 0x5A});
    Inject("ts.TaskFolder.RegisterTaskDefinition", E_ACCESSDENIED, 1);

    ProgramRun upgrade = Msiexec(Install(KV_MSI, L"/qn SHOWICON=on"));

    EXPECT_TRUE(IsInstallFailure(upgrade.exitCode)) << upgrade.exitCode;
    EXPECT_EQ("Vorn Kelvane|Quellmark|2.1", ArpEntry());
    EXPECT_EQ("mode=off\r\n", ReadFileBytes(InstallFolder() + L"\\Kelvane.ini"));
    EXPECT_EQ(kBothTasks, simts::Tasks(Machine(), kProductPath, true));
    EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kItemNamespaceKey));
    EXPECT_EQ("01 01 00 5A", simfw::FormatBytes(Record()));
    // Without its files (see above) the product's removal cannot run the
    // uninstall action here.
    EXPECT_EQ(0u, Msiexec(L"/x " + products[0] + L" /qn").exitCode);
    ResetProductFootprint();
}

// Whatever an aborted upgrade of an earlier package left behind (its mark
// naming the product), a real removal switches the cooling off.
TEST_F(PackageTest, ARemovalAfterAnAbortedUpgradeStillSwitchesOff)
{
    SetRecord({0x01, 0x01, 0x00, 0x5A});
    ASSERT_EQ(0u, Msiexec(Install(KV_MSI, L"/qn")).exitCode);
    std::vector<std::wstring> products = InstalledProducts();
    ASSERT_EQ(1u, products.size());
    const wchar_t markKey[] = L"Software\\Quellmark Vorn Kelvane upgrade";
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, markKey, L"Replaced", REG_SZ, products[0].c_str(),
                                             static_cast<DWORD>((products[0].size() + 1) * sizeof(wchar_t))));

    ProgramRun removal = Msiexec(L"/x " + products[0] + L" /qn");

    RegDeleteKeyW(HKEY_LOCAL_MACHINE, markKey);
    EXPECT_EQ(0u, removal.exitCode);
    EXPECT_TRUE(NothingOfTheProduct());
    EXPECT_EQ("01 00 00 5A", simfw::FormatBytes(Record())) << "the removal left the cooling on";
}

// Only an upgrade's removal of the old product keeps the registrations and
// the mode. When that removal cannot run (the old version's cached package
// was deleted, as disk cleaners do), both products stay registered, and the
// new one's removal must still remove what it registered.
TEST_F(PackageTest, RemovingTheNewVersionAfterTheOldOneCouldNotBeRemovedRemovesEverything)
{
    SetRecord({0x01, 0x01, 0x00, 0x5A});
    // Installed from a copy that is gone too: no source is left to remove it.
    const std::wstring source = ProgramFilesFolder() + L"\\..\\Kelvane-old-copy.msi";
    ASSERT_TRUE(CopyFileW(WindowsPathOf(KV_OLD_MSI).c_str(), source.c_str(), FALSE));
    ASSERT_EQ(0u, Msiexec(L"/i " + Quoted(source) + L" /qn DEFAULTMODE=on").exitCode);
    std::vector<std::wstring> old = InstalledProducts();
    ASSERT_EQ(1u, old.size());
    std::string cached = ProductInfo(old[0], INSTALLPROPERTY_LOCALPACKAGE);
    ASSERT_TRUE(DeleteFileW(std::wstring(cached.begin(), cached.end()).c_str())) << cached;
    ASSERT_TRUE(DeleteFileW(source.c_str()));

    ProgramRun upgrade = Msiexec(Install(KV_MSI, L"/qn"));
    std::vector<std::wstring> products = InstalledProducts();
    ASSERT_EQ(2u, products.size()) << "upgrade exit code " << upgrade.exitCode;
    const std::wstring& newer = products[0] == old[0] ? products[1] : products[0];
    ProgramRun removal = Msiexec(L"/x " + newer + L" /qn");

    EXPECT_EQ(0u, removal.exitCode);
    EXPECT_EQ("01 00 00 5A", simfw::FormatBytes(Record())) << "the removal left the cooling on";
    EXPECT_TRUE(SchedulerState().empty()) << "the task is left";
    EXPECT_TRUE(DumpRegistryTree(HKEY_LOCAL_MACHINE, kItemClassKey).empty()) << "the Control Panel class is left";
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kItemNamespaceKey)) << "the Control Panel item is left";
    EXPECT_FALSE(FileExists(InstallFolder() + L"\\Kelvane.ini")) << "the defaults are left";
    // The old product goes with its own package file, as the guide says.
    EXPECT_EQ(0u, Msiexec(L"/x " + Quoted(WindowsPathOf(KV_OLD_MSI)) + L" /qn").exitCode);
    // Wine drops the shared components with the first product's removal, so
    // that the second leaves the programs behind (Windows counts clients).
    ResetProductFootprint();
}

// A removal that fails after the uninstall action (here the defaults file
// cannot go) brings the task and the Control Panel item back with the files;
// the mode stays as the removal left it. (Wine's rollback does not bring the
// product's registration back, which Windows does.)
TEST_F(PackageTest, AFailedRemovalRegistersTheProductAgain)
{
    SetRecord({0x01, 0x01, 0x00, 0x5A});
    ASSERT_EQ(0u, Msiexec(Install(KV_MSI, L"/qn DEFAULTMODE=on")).exitCode);
    std::vector<std::wstring> products = InstalledProducts();
    ASSERT_EQ(1u, products.size());
    ScopedKernelHandle held(CreateFileW((InstallFolder() + L"\\Kelvane.ini").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held) << "Kelvane.ini: error " << GetLastError();

    ProgramRun removal = Msiexec(L"/x " + products[0] + L" /qn");

    held.Reset();
    EXPECT_TRUE(IsInstallFailure(removal.exitCode)) << removal.exitCode;
    EXPECT_TRUE(FileExists(InstallFolder() + L"\\Kelvane.exe"));
    EXPECT_EQ(kBothTasks, simts::Tasks(Machine(), kProductPath, true));
    EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kItemNamespaceKey));
    EXPECT_EQ("01 00 00 5A", simfw::FormatBytes(Record()));
    ResetProductFootprint(); // what Wine no longer knows as a product
}

// Windows Installer sets MsiUIProgressOnly for an unattended installation
// (msiexec /passive); Wine's msiexec does not, so the package's own action is
// run here on the package with the property set as Windows sets it.
TEST(PackageActionTest, AnUnattendedInstallationReachesTheInstallActionAsProgressOnly)
{
    struct Case {
        const wchar_t* progressOnly;
        const char* uiWord;
    };
    const Case cases[] = {{L"1", "67"}, {L"", "3"}};
    for (const Case& c : cases) {
        MSIHANDLE package = 0;
        MsiSetInternalUI(INSTALLUILEVEL_BASIC, nullptr);
        ASSERT_EQ(0u, MsiOpenPackageW(WindowsPathOf(KV_MSI).c_str(), &package));
        MsiSetPropertyW(package, L"MsiUIProgressOnly", c.progressOnly);
        for (const wchar_t* action : {L"CostInitialize", L"FileCost", L"CostFinalize", L"PrepareRegistration"})
            EXPECT_EQ(0u, MsiDoActionW(package, action)) << Narrow(action);
        wchar_t value[16] = L"";
        DWORD size = 16;
        MsiGetPropertyW(package, L"InstallingUiLevel", value, &size);
        EXPECT_EQ(c.uiWord, Narrow(value)) << "MsiUIProgressOnly=" << Narrow(c.progressOnly);
        EXPECT_EQ(0u, MsiCloseHandle(package));
    }
}

TEST_F(PackageTest, FleetDefaultsReachAFirstStartAndBadOnesChangeNothing)
{
    // The registrations name the program-files folder: no other folder.
    for (const wchar_t* bad : {L"DEFAULTMODE=auto", L"SHOWICON=1", L"DEFAULTMODE=on SHOWICON=\"on \"",
                               L"INSTALLFOLDER=C:\\Kv"}) {
        SCOPED_TRACE(Narrow(bad));
        ProgramRun run = Msiexec(Install(KV_MSI, L"/qn " + std::wstring(bad)));
        EXPECT_TRUE(IsInstallFailure(run.exitCode)) << run.exitCode;
        EXPECT_TRUE(NothingOfTheProduct());
        EXPECT_FALSE(FileExists(L"C:\\Kv")) << "the refused folder was made";
        RemovePath(L"C:\\Kv");
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

TEST_F(PackageTest, ASignedProgramIsTrustedAndNotWhenChanged)
{
    SetRecord({0x01, 0x01, 0x00, 0x00});
    ASSERT_EQ(0u, Msiexec(Install(KV_SIGNED_MSI, L"/qn")).exitCode);
    // Wine 8 accepts a chain to a root it does not trust (measured), so only
    // the trusted root is tried; Windows refuses the other with CERT_E_UNTRUSTEDROOT.
    TrustedTestRoot root(ReadFileBytes(WindowsPathOf(KV_TEST_ROOT)));
    ASSERT_TRUE(root.Trusted()) << Hex(HRESULT_FROM_WIN32(GetLastError()));
    const std::wstring program = InstallFolder() + L"\\Kelvane.exe";
    std::string bytes = ReadFileBytes(program);
    ASSERT_LT(4096u, bytes.size());
    bytes[bytes.size() / 2] ^= 0xFF;
    wchar_t temp[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, temp);
    const std::wstring tampered = std::wstring(temp) + L"kv_tampered_Kelvane.exe";
    std::ofstream(tampered.c_str(), std::ios::binary | std::ios::trunc) << bytes;
    struct Case {
        const char* what;
        const std::wstring& path;
        HRESULT expected;
    };
    const Case cases[] = {
        {"installed", program, S_OK},
        {"a byte changed", tampered, TRUST_E_BAD_DIGEST},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Hex(c.expected), Hex(VerifyTrust(c.path))) << c.what;
    EXPECT_TRUE(DeleteFileW(tampered.c_str()));
}

// A fleet tool upgrades silently while a user works: the tray program ends on
// the end request, the upgrade ends with 0 (no file left for a restart), and
// the logon task, run for the user's session, brings the new one back with
// its icon. A silent removal then leaves none.
TEST_F(PackageTest, ASilentUpgradeBringsTheTrayProgramBackAndARemovalLeavesNone)
{
    SetRecord({0x01, 0x01, 0x00, 0x00});
    ASSERT_EQ(0u, Msiexec(Install(KV_OLD_MSI, L"/qn")).exitCode);
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    RunningProgram old(InstallFolder() + L"\\Kelvane.exe", L"/byrunkey");
    HWND before = WaitForWindow(L"VornKelvane", nullptr, 20000);
    ASSERT_NE(nullptr, before);
    DWORD oldProcess = 0;
    GetWindowThreadProcessId(before, &oldProcess);
    const std::wstring msiexecLog = ProgramFilesFolder() + L"\\..\\kelvane-upgrade.log";

    ProgramRun upgrade = Msiexec(Install(KV_MSI, L"/qn /l*v " + Quoted(msiexecLog)));

    EXPECT_EQ(0u, upgrade.exitCode) << "3010 would mean a file left for a restart";
    EXPECT_EQ(0, old.WaitForExit(5000)) << "the old tray program still runs";
    const std::vector<std::string> log = ReadLogMessages();
    EXPECT_EQ("EndRequested(): An installation of Vorn Kelvane asked every session's Kelvane to end.\n",
              log.empty() ? "<empty log>" : log.front());
    const std::string msiexecText = ReadFileBytes(msiexecLog);
    const std::string endedLine = "EndRunningKelvane(): Kelvane.exe (process " + std::to_string(oldProcess) +
                                  ", session " + std::to_string(session) + ") ended on the end request.";
    EXPECT_NE(std::string::npos, msiexecText.find(endedLine)) << endedLine;
    EXPECT_EQ(std::string(kTaskPath) + "|flags=4|session=" + std::to_string(session) + "|user=<null>|started",
              Machine().Get("last.ts.run.1"));
    EXPECT_EQ("", Machine().Get("last.ts.run.2")) << "started twice";
    HWND after = WaitForWindow(L"VornKelvane", nullptr, 20000);
    ASSERT_NE(nullptr, after) << "no tray program after the upgrade (its icon comes with its window)";
    DWORD newProcess = 0;
    GetWindowThreadProcessId(after, &newProcess);
    EXPECT_NE(oldProcess, newProcess);
    ScopedKernelHandle restarted(OpenProcess(SYNCHRONIZE, FALSE, newProcess));
    DeleteFileW(msiexecLog.c_str());

    std::vector<std::wstring> products = InstalledProducts();
    ASSERT_EQ(1u, products.size());
    EXPECT_EQ(0u, Msiexec(L"/x " + products[0] + L" /qn").exitCode);
    EXPECT_EQ(DWORD(WAIT_OBJECT_0), WaitForSingleObject(restarted.Get(), 5000)) << "the tray program outlived its removal";
    EXPECT_EQ(nullptr, FindWindowW(L"VornKelvane", nullptr));
    EXPECT_TRUE(NothingOfTheProduct());
}
