// The policy reader on the registry as Group Policy leaves it: only the
// documented values count, anything else is logged once and ignored.
#include <windows.h>
#include <sddl.h>

#include <cwchar>
#include <string>
#include <vector>

#include "footprint.h"
#include "local_system.h"
#include "log_reader.h"
#include "policy.h"
#include "tray_fixture.h"

using Lines = std::vector<std::string>;

namespace {

class PolicyTest : public TrayTest {};

std::string Describe(const KelvanePolicy& policy)
{
    std::string text = "mode ";
    text += policy.modeSet ? (policy.mode ? "on" : "off") : "-";
    text += " showIcon ";
    text += policy.showIconSet ? std::to_string(policy.showIcon) : "-";
    return text;
}

} // namespace

TEST_F(PolicyTest, ReaderTakesOnlyTheDocumentedValues)
{
    const std::string kModeIgnored = "ReadKelvanePolicy(): Policy value Mode is not valid and counts as not set.\n";
    const std::string kIconIgnored = "ReadKelvanePolicy(): Policy value ShowIcon is not valid and counts as not set.\n";
    const DWORD two = 2;
    const wchar_t unterminated[] = {L'o', L'f', L'f'};
    struct Value {
        const wchar_t* name;
        DWORD type;
        const void* data;
        DWORD size;
    };
    struct Case {
        std::vector<Value> values; // none: no key at all
        const char* expected;
        Lines log;
    };
    const DWORD zero = 0, one = 1;
    const Case cases[] = {
        {{}, "mode - showIcon -", {}},
        {{{L"Mode", REG_SZ, L"on", 6}, {L"ShowIcon", REG_DWORD, &zero, 4}}, "mode on showIcon 0", {}},
        {{{L"Mode", REG_SZ, L"OFF", 8}, {L"ShowIcon", REG_DWORD, &one, 4}}, "mode off showIcon 1", {}},
        {{{L"Mode", REG_SZ, unterminated, sizeof(unterminated)}}, "mode off showIcon -", {}},
        {{{L"Mode", REG_SZ, L"auto", 10}, {L"ShowIcon", REG_DWORD, &two, 4}}, "mode - showIcon -",
         {kModeIgnored, kIconIgnored}},
        {{{L"Mode", REG_DWORD, &one, 4}, {L"ShowIcon", REG_SZ, L"1", 4}}, "mode - showIcon -",
         {kModeIgnored, kIconIgnored}},
        {{{L"Mode", REG_EXPAND_SZ, L"on", 6}, {L"ShowIcon", REG_BINARY, &one, 1}}, "mode - showIcon -",
         {kModeIgnored, kIconIgnored}},
        {{{L"Mode", REG_SZ, L"on and more", 24}}, "mode - showIcon -", {kModeIgnored}},
    };
    for (const Case& c : cases) {
        ResetProductFootprint();
        for (const Value& v : c.values)
            ASSERT_TRUE(WritePolicyValue(v.name, v.type, v.data, v.size));
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(c.expected, Describe(ReadKelvanePolicy()));
        EXPECT_EQ(c.log, ReadLogMessages());
    }
}

// kelvanectl run as LocalSystem writes no settings file: the account is
// known by its well-known SID S-1-5-18 alone, not by any other service
// account, group or user. (Wine runs nothing as LocalSystem.)
TEST_F(PolicyTest, OnlyTheLocalSystemSidCountsAsLocalSystem)
{
    struct Case {
        const wchar_t* sid;
        bool localSystem;
    };
    const Case cases[] = {
        {L"S-1-5-18", true},     {L"S-1-5-19", false},       {L"S-1-5-20", false},
        {L"S-1-5-32-544", false}, {L"S-1-5-21-1-2-3-1001", false}, {L"S-1-5-18-1", false},
    };
    for (const Case& c : cases) {
        PSID sid = nullptr;
        ASSERT_TRUE(ConvertStringSidToSidW(c.sid, &sid)) << GetLastError();
        EXPECT_EQ(c.localSystem, IsLocalSystemSid(sid)) << std::string(c.sid, c.sid + wcslen(c.sid));
        LocalFree(sid);
    }
    EXPECT_FALSE(IsLocalSystemSid(nullptr));
    EXPECT_FALSE(RunsAsLocalSystem()) << "the test runs as a user";
}
