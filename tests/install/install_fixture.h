// What the install action's tests share: a fresh machine, scheduler and
// registry for every test, the two setup logs read back entry by entry, and
// the registry read in its 64-bit view.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "import_hook.h"
#include "machine_fixture.h"
#include "scheduler_store.h"

using Entries = std::vector<std::string>;

// The per-user setup log and its copy.
std::wstring SetupLogPath();
std::wstring SetupLogCopyPath();

// The messages of a setup log, the time-stamp prefix of each removed; a
// message without its own line break runs on to the next prefix, as it does
// in the file. Line ends read as "\n". Text before the first prefix comes
// back with "<no prefix> " in front.
Entries ReadSetupLog(const std::wstring& path);

// C:\System.sav\Logs: created or removed with its contents.
void CreateSetupLogCopyFolder();
void RemoveSetupLogCopyFolder();

// One REG_SZ value read in the 64-bit view: its type, its bytes as stored.
struct RegistryValue {
    bool found = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
    std::wstring Text() const;
};
RegistryValue ReadRegistryValue(HKEY root, const std::wstring& subkey, const wchar_t* name);
bool RegistryKeyExists(HKEY root, const std::wstring& subkey);
// Every key below subkey (itself included) with its values, as lines
// "key" and "key|name=type:bytes", in the 64-bit view.
std::vector<std::string> DumpRegistryTree(HKEY root, const std::wstring& subkey);

// The item's keys below HKEY_LOCAL_MACHINE\Software\Classes, where the
// 64-bit HKEY_CLASSES_ROOT\CLSID keys are stored.
extern const wchar_t kItemClassKey[];
extern const wchar_t kItemNamespaceKey[];
void DeleteControlPanelKeys();

// "C:\Program Files (x86)" for this 32-bit process, as the install action sees it.
std::wstring ProgramFilesFolder();
std::string Narrow(const std::wstring& text);

class InstallActionTest : public SimulatedMachineTest {
protected:
    void SetUp() override;
    void TearDown() override;

    static std::vector<std::string> SchedulerState() { return simts::SchedulerState(Machine()); }
    static simts::Properties TaskProperties(const std::string& path)
    {
        return simts::TaskProperties(Machine(), path);
    }
    static void AddFolder(const std::string& path);
    static void AddTask(const std::string& path, bool hidden);
};

extern const char kTaskPath[];     // \Quellmark\Vorn Kelvane\Vorn Kelvane Start at Logon
extern const char kProductPath[];  // \Quellmark\Vorn Kelvane
extern const char kPolicyTaskPath[]; // \Quellmark\Vorn Kelvane\Vorn Kelvane Apply Policy
extern const char kMakerPath[];    // \Quellmark

// Stands in for CoInitializeSecurity in this test program's calls (Wine's
// always succeeds): records each call and fails the planned ones.
struct SecurityCall {
    LONG authnServices;
    DWORD authnLevel;
    DWORD impLevel;
    DWORD capabilities;
    bool pointersNull;
};
std::string Describe(const SecurityCall& call);

class SecuritySpy {
public:
    explicit SecuritySpy(CallPlan plan = CallPlan{}, HRESULT failure = E_ACCESSDENIED);
    ~SecuritySpy();
    SecuritySpy(const SecuritySpy&) = delete;
    SecuritySpy& operator=(const SecuritySpy&) = delete;

    bool Installed() const { return hook_.Installed(); }
    const std::vector<SecurityCall>& Calls() const { return calls_; }

private:
    static HRESULT WINAPI Replacement(PSECURITY_DESCRIPTOR, LONG, SOLE_AUTHENTICATION_SERVICE*, void*, DWORD, DWORD,
                                      void*, DWORD, void*);
    CallPlan plan_;
    HRESULT failure_;
    std::vector<SecurityCall> calls_;
    ImportHook hook_;
};
