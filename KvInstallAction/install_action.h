// The install action's two sequences, chosen by the command-line switch.
#pragma once

#include <windows.h>

constexpr int kExitSuccess = 0;
constexpr int kExitInstallFailure = 1603; // ERROR_INSTALL_FAILURE

enum class InstallSwitch { None, Install, Uninstall };

// The argument text: the command line without the program name (quoted or
// not) and the blanks (characters up to U+0020) that follow it.
const wchar_t* SkipProgramName(const wchar_t* commandLine);

// Matches the start of the argument text, ignoring case: 8 characters of
// "-install"/"/install", 10 of "-uninstall"/"/uninstall".
InstallSwitch ParseInstallSwitch(const wchar_t* arguments);

// Runs the sequence the command line asks for; returns the exit code.
int RunInstallAction(const wchar_t* commandLine);

int RunInstallSequence();
int RunUninstallSequence();
