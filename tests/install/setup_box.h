// Runs a program that may end up showing the install action's message box
// ("Vorn Kelvane Setup"): the box is inspected and closed with OK, so that
// no run waits for a person.
#pragma once

#include <windows.h>

#include <string>

struct SeenBox {
    bool found = false;
    std::wstring text;
    bool topmost = false;
    bool hasIcon = false;
    bool hasOk = false;
    bool hasCancel = false;
};

struct ProgramRun {
    DWORD exitCode = 0xDEADBEEF;
    bool timedOut = false;
    DWORD milliseconds = 0;
    SeenBox box;
};

// Starts the command line and waits up to limitMs for it to end. The box may
// belong to the program or to a process it started (msiexec's actions).
ProgramRun RunClosingSetupBox(std::wstring commandLine, DWORD limitMs);
