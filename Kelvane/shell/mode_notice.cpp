#include "mode_notice.h"

#include <sddl.h>
#include <wtsapi32.h>

namespace {

// SYNCHRONIZE and EVENT_MODIFY_STATE for everyone; LocalSystem and
// administrators have every right.
const wchar_t kModeNoticeSddl[] = L"D:(A;;0x00100002;;;WD)(A;;GA;;;SY)(A;;GA;;;BA)";

DWORD OwnSession()
{
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    return session;
}

} // namespace

std::wstring ModeNoticeName(DWORD session)
{
    return L"Global\\Vorn Kelvane mode set, session " + std::to_wstring(session);
}

HANDLE CreateModeNotice()
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, FALSE};
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(kModeNoticeSddl, SDDL_REVISION_1, &descriptor, nullptr))
        attributes.lpSecurityDescriptor = descriptor;
    const std::wstring name = ModeNoticeName(OwnSession());
    HANDLE event = CreateEventW(&attributes, FALSE, FALSE, name.c_str());
    if (!event && GetLastError() == ERROR_ACCESS_DENIED)
        event = OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, name.c_str());
    if (descriptor)
        LocalFree(descriptor);
    return event;
}

int TellOtherSessionsModeSet()
{
    WTS_SESSION_INFOW* sessions = nullptr;
    DWORD count = 0;
    if (!WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &sessions, &count))
        return 0;
    const DWORD own = OwnSession();
    int told = 0;
    for (DWORD i = 0; i < count; ++i) {
        if (sessions[i].SessionId == own)
            continue;
        HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, ModeNoticeName(sessions[i].SessionId).c_str());
        if (!event)
            continue;
        if (SetEvent(event))
            ++told;
        CloseHandle(event);
    }
    WTSFreeMemory(sessions);
    return told;
}
