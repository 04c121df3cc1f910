#include "event_log.h"

#include <strsafe.h>

#include <vector>

const wchar_t kEventSourceName[] = L"Vorn Kelvane";

namespace {

struct EventLevel {
    DWORD id;
    WORD type;
};

const EventLevel kEventLevels[] = {
    {KV_EVENT_INSTALLED, EVENTLOG_INFORMATION_TYPE},
    {KV_EVENT_REMOVED, EVENTLOG_INFORMATION_TYPE},
    {KV_EVENT_UNSUPPORTED, EVENTLOG_ERROR_TYPE},
    {KV_EVENT_TASK_FAILED, EVENTLOG_ERROR_TYPE},
    {KV_EVENT_CONTROL_PANEL_FAILED, EVENTLOG_WARNING_TYPE},
    {KV_EVENT_FIRMWARE_SILENT, EVENTLOG_ERROR_TYPE},
    {KV_EVENT_POLICY_APPLIED, EVENTLOG_INFORMATION_TYPE},
    {KV_EVENT_POLICY_INVALID, EVENTLOG_WARNING_TYPE},
    {KV_EVENT_SETTINGS_UNWRITABLE, EVENTLOG_WARNING_TYPE},
    {KV_EVENT_CTL_REFUSED, EVENTLOG_WARNING_TYPE},
    {KV_EVENT_CTL_FIRMWARE, EVENTLOG_ERROR_TYPE},
};

// The user's SID names whose profile holds the log file; empty when the
// token cannot be read (the event is written without it).
std::vector<BYTE> ReadUserSid()
{
    std::vector<BYTE> user;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return user;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    if (size >= sizeof(TOKEN_USER)) {
        user.resize(size);
        if (!GetTokenInformation(token, TokenUser, user.data(), size, &size))
            user.clear();
    }
    CloseHandle(token);
    return user;
}

} // namespace

WORD EventLevelOf(DWORD eventId)
{
    for (const EventLevel& level : kEventLevels) {
        if (level.id == eventId)
            return level.type;
    }
    return 0;
}

void ReportKelvaneEvent(DWORD eventId, const wchar_t* first, const wchar_t* second)
{
    const WORD type = EventLevelOf(eventId);
    if (!type)
        return;
    const wchar_t* strings[2] = {first, second};
    const WORD count = first ? (second ? 2 : 1) : 0;

    // A source that is not registered still writes to the Application log;
    // only the text then is missing in Event Viewer.
    HANDLE source = RegisterEventSourceW(nullptr, kEventSourceName);
    if (!source)
        return;
    const std::vector<BYTE> user = ReadUserSid();
    PSID sid = user.empty() ? nullptr : reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid;
    ReportEventW(source, type, 0, eventId, sid, count, 0, count ? strings : nullptr, nullptr);
    DeregisterEventSource(source);
}

StatusText::StatusText(long status)
{
    StringCchPrintfW(text, ARRAYSIZE(text), L"0x%08lX", static_cast<unsigned long>(status));
}
