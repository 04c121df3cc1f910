#include "tray_programs.h"

#include <tlhelp32.h>

#include <algorithm>
#include <string>

#include "app_state.h"
#include "scoped_win32.h"

namespace {

std::wstring InstalledTrayProgram()
{
    wchar_t own[MAX_PATH] = L"";
    const DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::wstring();
    std::wstring path(own, length);
    return path.substr(0, path.find_last_of(L'\\') + 1) + L"Kelvane.exe";
}

bool RunsProgram(DWORD processId, const std::wstring& program)
{
    ScopedKernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    wchar_t image[MAX_PATH] = L"";
    DWORD length = MAX_PATH;
    return process && !program.empty() && QueryFullProcessImageNameW(process.Get(), 0, image, &length) &&
           CompareStringOrdinal(image, -1, program.c_str(), -1, TRUE) == CSTR_EQUAL;
}

} // namespace

HWND FindInstalledTrayWindow()
{
    HWND window = FindWindowW(kControllerClass, L"Vorn Kelvane");
    DWORD processId = 0;
    if (!window || !GetWindowThreadProcessId(window, &processId))
        return nullptr;
    return RunsProgram(processId, InstalledTrayProgram()) ? window : nullptr;
}

std::vector<DWORD> FindTraySessions()
{
    std::vector<DWORD> sessions;
    const std::wstring program = InstalledTrayProgram();
    ScopedKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = snapshot && Process32FirstW(snapshot.Get(), &entry); more;
         more = Process32NextW(snapshot.Get(), &entry)) {
        DWORD session = 0;
        if (CompareStringOrdinal(entry.szExeFile, -1, L"Kelvane.exe", -1, TRUE) == CSTR_EQUAL &&
            RunsProgram(entry.th32ProcessID, program) && ProcessIdToSessionId(entry.th32ProcessID, &session))
            sessions.push_back(session);
    }
    std::sort(sessions.begin(), sessions.end());
    sessions.erase(std::unique(sessions.begin(), sessions.end()), sessions.end());
    return sessions;
}
