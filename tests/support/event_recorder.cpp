#include "event_recorder.h"

#include <windows.h>

namespace {

std::vector<std::string> events;
int openSources = 0;
bool registrationFails = false;
HANDLE const kFakeSource = reinterpret_cast<HANDLE>(0x4B56);

std::string Narrow(const wchar_t* text)
{
    std::string bytes;
    for (; text && *text; ++text)
        bytes += static_cast<char>(*text < 0x80 ? *text : '?');
    return bytes;
}

HANDLE WINAPI RecordRegister(LPCWSTR server, LPCWSTR source)
{
    if (registrationFails || server || lstrcmpW(source, L"Vorn Kelvane") != 0)
        return nullptr;
    ++openSources;
    return kFakeSource;
}

BOOL WINAPI RecordReport(HANDLE source, WORD type, WORD category, DWORD id, PSID user, WORD count, DWORD dataSize,
                         LPCWSTR* strings, LPVOID data)
{
    std::string line = std::to_string(id) + " " + EventLevelName(type);
    for (WORD i = 0; i < count; ++i)
        line += " [" + Narrow(strings[i]) + "]";
    // A handle from RegisterEventSourceW, category 0, the user named, no raw
    // data, strings (or none) of at most 31,839 characters each.
    bool valid = source == kFakeSource && category == 0 && user && IsValidSid(user) && !dataSize && !data &&
                 (count == 0 || strings);
    for (WORD i = 0; valid && i < count; ++i)
        valid = strings[i] && lstrlenW(strings[i]) <= 31839;
    events.push_back(valid ? line : line + " (bad arguments)");
    return TRUE;
}

BOOL WINAPI RecordDeregister(HANDLE source)
{
    if (source != kFakeSource)
        return FALSE;
    --openSources;
    return TRUE;
}

} // namespace

EventRecorder::EventRecorder()
    : register_("advapi32.dll", "RegisterEventSourceW", reinterpret_cast<void*>(&RecordRegister)),
      report_("advapi32.dll", "ReportEventW", reinterpret_cast<void*>(&RecordReport)),
      deregister_("advapi32.dll", "DeregisterEventSource", reinterpret_cast<void*>(&RecordDeregister))
{
    Clear();
    openSources = 0;
    registrationFails = false;
}

EventRecorder::~EventRecorder() = default;

bool EventRecorder::Installed() const
{
    return register_.Installed() && report_.Installed() && deregister_.Installed();
}

const std::vector<std::string>& EventRecorder::Events() const
{
    return events;
}

void EventRecorder::Clear()
{
    events.clear();
}

void EventRecorder::FailRegistration()
{
    registrationFails = true;
}

int EventRecorder::OpenSources() const
{
    return openSources;
}

const char* EventLevelName(unsigned short type)
{
    switch (type) {
    case EVENTLOG_ERROR_TYPE:
        return "Error";
    case EVENTLOG_WARNING_TYPE:
        return "Warning";
    case EVENTLOG_INFORMATION_TYPE:
        return "Information";
    default:
        return "none";
    }
}
