#include "setup_box.h"

#include <gtest/gtest.h>

#include "install_fixture.h"

namespace {

BOOL CALLBACK InspectChild(HWND child, LPARAM context)
{
    SeenBox& box = *reinterpret_cast<SeenBox*>(context);
    wchar_t className[64] = L"";
    GetClassNameW(child, className, ARRAYSIZE(className));
    LONG style = GetWindowLongW(child, GWL_STYLE);
    if (lstrcmpiW(className, L"Static") == 0 && (style & SS_TYPEMASK) == SS_ICON &&
        SendMessageW(child, STM_GETICON, 0, 0) != 0)
        box.hasIcon = true;
    return TRUE;
}

void InspectAndClose(HWND window, SeenBox& box)
{
    box.found = true;
    wchar_t text[256] = L"";
    GetDlgItemTextW(window, 0xFFFF, text, ARRAYSIZE(text));
    box.text = text;
    box.topmost = (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    box.hasOk = GetDlgItem(window, IDOK) != nullptr;
    box.hasCancel = GetDlgItem(window, IDCANCEL) != nullptr;
    EnumChildWindows(window, InspectChild, reinterpret_cast<LPARAM>(&box));
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(window, IDOK)));
}

} // namespace

ProgramRun RunClosingSetupBox(std::wstring commandLine, DWORD limitMs)
{
    ProgramRun run;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        ADD_FAILURE() << "CreateProcessW failed: " << GetLastError() << " for " << Narrow(commandLine);
        return run;
    }
    CloseHandle(process.hThread);

    DWORD started = GetTickCount();
    while (WaitForSingleObject(process.hProcess, 50) == WAIT_TIMEOUT) {
        HWND box = FindWindowW(L"#32770", L"Vorn Kelvane Setup");
        if (box && !run.box.found)
            InspectAndClose(box, run.box);
        if (GetTickCount() - started > limitMs) {
            run.timedOut = true;
            TerminateProcess(process.hProcess, 0xDEAD);
            WaitForSingleObject(process.hProcess, 5000);
            break;
        }
    }
    run.milliseconds = GetTickCount() - started;
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    CloseHandle(process.hProcess);
    return run;
}
