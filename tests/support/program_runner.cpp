#include "program_runner.h"

std::wstring WindowsPathOf(const char* unixPath)
{
    std::wstring path = L"Z:";
    for (const char* c = unixPath; *c; ++c)
        path += *c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(*c));
    return path;
}

RunningProgram::RunningProgram(const std::wstring& program, const std::wstring& arguments)
{
    std::wstring commandLine = L"\"" + program + L"\"";
    if (!arguments.empty())
        commandLine += L" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &info)) {
        CloseHandle(info.hThread);
        process_ = ScopedKernelHandle(info.hProcess);
    }
}

RunningProgram::~RunningProgram()
{
    if (StillRunning()) {
        TerminateProcess(process_.Get(), 99);
        WaitForSingleObject(process_.Get(), 5000);
    }
}

long RunningProgram::WaitForExit(DWORD milliseconds)
{
    if (!process_ || WaitForSingleObject(process_.Get(), milliseconds) != WAIT_OBJECT_0)
        return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_.Get(), &code);
    return static_cast<long>(code);
}

bool RunningProgram::StillRunning() const
{
    return process_ && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT;
}

HWND WaitForWindow(const wchar_t* className, const wchar_t* title, DWORD milliseconds)
{
    for (DWORD waited = 0;; waited += 50) {
        if (HWND window = FindWindowW(className, title))
            return window;
        if (waited >= milliseconds)
            return nullptr;
        Sleep(50);
    }
}
