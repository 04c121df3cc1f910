// Events in the Application log: the message table against the deployment
// guide's list, and the events the tray program's outcomes write, seen
// through the import hook (Wine's event log keeps nothing).
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app_state.h"
#include "cooling_mode.h"
#include "event_log.h"
#include "event_recorder.h"
#include "footprint.h"
#include "import_hook.h"
#include "policy.h"
#include "settings_file.h"
#include "startup.h"
#include "tray_fixture.h"

using Lines = std::vector<std::string>;

namespace {

std::string Narrow(const wchar_t* text)
{
    std::string bytes;
    for (; text && *text; ++text)
        bytes += static_cast<char>(*text < 0x80 ? *text : '?');
    return bytes;
}

class EventLogTest : public TrayTest {
protected:
    void SetUp() override
    {
        TrayTest::SetUp();
        ASSERT_TRUE(events.Installed());
    }
    void TearDown() override
    {
        EXPECT_EQ(0, events.OpenSources()) << "every source handle closed";
        TrayTest::TearDown();
    }

    EventRecorder events;
};

struct Message {
    DWORD id;
    const char* level;
    const wchar_t* inserts[2];
    const char* text;
};

// The deployment guide's list, with sample insertion strings.
const Message kMessages[] = {
    {1000, "Information", {}, "Vorn Kelvane was installed. Its logon task and Control Panel item are registered."},
    {1001, "Information", {L"switched off"},
     "Vorn Kelvane was removed, with its logon task and Control Panel item. The firmware's cooling mode: switched off."},
    {1002, "Error", {L"0x00000000", L"00 01 00 00"},
     "Vorn Kelvane was not installed: this computer does not support it. The firmware answered 0x00000000 with the "
     "record 00 01 00 00 (bit 0 of the first byte must be set)."},
    {1003, "Error", {},
     "Vorn Kelvane was not installed: its logon task could not be registered in Task Scheduler. KelvaneSetup.log "
     "names the step that failed."},
    {1004, "Warning", {},
     "The Control Panel item of Vorn Kelvane could not be registered. KelvaneSetup.log names the step that failed."},
    {1100, "Error", {L"0x8004CAFE"},
     "Vorn Kelvane ended: the firmware did not answer after every retry (0x8004CAFE). The cooling mode was not "
     "changed. See Kelvane.log in the user's profile."},
    {1101, "Information", {L"Off"}, "The cooling mode Off set by the policy \"Mode\" was applied to the firmware."},
    {1102, "Warning", {L"Mode"},
     "The policy value Mode under HKLM\\SOFTWARE\\Policies\\Quellmark\\Vorn Kelvane is not valid and counts as not "
     "set."},
    {1103, "Warning", {L"C:\\Kelvane.ini"},
     "Vorn Kelvane could not write the settings file C:\\Kelvane.ini. The user's choices are kept only until the "
     "program ends."},
    {1200, "Warning", {L"on", L"Off"},
     "kelvanectl set on was refused: the cooling mode is set by the policy \"Mode\" (Off). Nothing was changed."},
    {1201, "Error", {L"get", L"0x8004CAFE"},
     "kelvanectl get: the firmware did not answer (0x8004CAFE). The cooling mode was not changed."},
};

std::string FormatFromTable(DWORD id, const wchar_t* const* inserts)
{
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_ALLOCATE_BUFFER,
        GetModuleHandleW(nullptr), id, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), reinterpret_cast<LPWSTR>(&text),
        0, reinterpret_cast<va_list*>(const_cast<wchar_t**>(inserts)));
    std::string result = length ? Narrow(text) : "(none, error " + std::to_string(GetLastError()) + ")";
    LocalFree(text);
    return result;
}

} // namespace

// What Event Viewer shows for each ID is the guide's sentence, at the
// guide's level, and the table holds no other message.
TEST(EventMessageTable, MatchesTheDeploymentGuide)
{
    std::ifstream file(KV_DEPLOYMENT_GUIDE);
    std::stringstream guide;
    guide << file.rdbuf();
    for (const Message& message : kMessages) {
        SCOPED_TRACE(message.id);
        EXPECT_EQ(std::string(message.text) + "\r\n", FormatFromTable(message.id, message.inserts));
        EXPECT_STREQ(message.level, EventLevelName(EventLevelOf(message.id)));
        const std::string row = "| " + std::to_string(message.id) + " | " + message.level + " |";
        EXPECT_NE(std::string::npos, guide.str().find(row)) << "no row \"" << row << "\" in the guide";
    }
    int found = 0;
    for (DWORD id = 0; id < 2000; ++id) {
        const wchar_t* none[2] = {L"", L""};
        found += FormatFromTable(id, none)[0] != '(' ? 1 : 0;
    }
    EXPECT_EQ(static_cast<int>(ARRAYSIZE(kMessages)), found) << "messages in the table";
}

TEST_F(EventLogTest, TheWriterOpensWritesAndClosesTheSource)
{
    ReportKelvaneEvent(KV_EVENT_REMOVED, L"switched off");
    ReportKelvaneEvent(999, L"not in the table");
    events.FailRegistration();
    ReportKelvaneEvent(KV_EVENT_INSTALLED);

    EXPECT_EQ(Lines{"1001 Information [switched off]"}, events.Events());
}

// Each outcome of the tray program's code, run in this process, and the
// events it must leave: one per outcome, not one per repetition.
TEST_F(EventLogTest, TrayOutcomesWriteTheirEventsOnce)
{
    struct Case {
        const char* name;
        void (*run)();
        Lines events;
    };
    const Case cases[] = {
        {"firmware never answers",
         [] {
             Inject("casl.read", static_cast<long>(0x8004CAFE));
             EXPECT_EQ(0, RunKelvane(app.instance, L""));
         },
         {"1100 Error [0x8004CAFE]"}},
        {"invalid policy read again, lifted, invalid again",
         [] {
             WritePolicyText(L"ShowIcon", L"yes");
             ReadKelvanePolicy();
             ReadKelvanePolicy();
             RemovePolicyKey();
             ReadKelvanePolicy();
             WritePolicyNumber(L"ShowIcon", 7);
             ReadKelvanePolicy();
             RemovePolicyKey();
             ReadKelvanePolicy();
         },
         {"1102 Warning [ShowIcon]", "1102 Warning [ShowIcon]"}},
        {"policy mode applied once, then already in force",
         [] {
             SetRecord({1, 1, 0, 0});
             WritePolicyText(L"Mode", L"off");
             ASSERT_NE(-1, InitThermalControl());
             app.policy = ReadKelvanePolicy();
             ApplyProfile(InstallDefaults);
             ApplyProfile(InstallDefaults);
             RemovePolicyKey();
             app.policy = ReadKelvanePolicy();
         },
         {"1101 Information [Off]"}},
        {"settings unwritable twice, written, unwritable again",
         [] {
             ImportHook hook("msvcrt.dll", "fputs", reinterpret_cast<void*>(&FailingFputs));
             fputsHook = &hook;
             fputsPlan = {0, 4};
             SetProfile();
             SetProfile();
             SetProfile();
             fputsPlan = {0, 1};
             SetProfile();
         },
         {"1103 Warning [" + Narrow(SettingsFilePath().c_str()) + "]",
          "1103 Warning [" + Narrow(SettingsFilePath().c_str()) + "]"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetProductFootprint();
        thermalState = {};
        events.Clear();
        c.run();
        EXPECT_EQ(c.events, events.Events());
    }
}
