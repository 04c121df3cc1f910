// Starts a program of the build as a separate Windows process (under Wine,
// from the test program) and waits for it within bounds.
#pragma once

#include <windows.h>

#include <string>

#include "scoped_win32.h"

// A Linux path of the build as Wine sees it (drive Z:).
std::wstring WindowsPathOf(const char* unixPath);

class RunningProgram {
public:
    RunningProgram(const std::wstring& program, const std::wstring& arguments);
    // A program still running at the end of a test is ended.
    ~RunningProgram();
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    bool Started() const { return static_cast<bool>(process_); }
    // The exit code, or -1 if it did not end within the time.
    long WaitForExit(DWORD milliseconds);
    bool StillRunning() const;
    HANDLE Process() const { return process_.Get(); }

private:
    ScopedKernelHandle process_;
};

// Polls for a top-level window by class and title.
HWND WaitForWindow(const wchar_t* className, const wchar_t* title, DWORD milliseconds);
