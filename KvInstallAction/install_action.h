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

// The installer's user-interface level from a later word "ui=N" of the
// argument text (the package passes its UILevel); -1 when there is none or it
// is not a number, as when a person runs the program by hand.
int ReadUiLevel(const wchar_t* arguments);

// The session of the person who started the installation, from a later word
// "session=N" (the package passes it); -1 when there is none.
int ReadInstallingSession(const wchar_t* arguments);

// Whether the session's desktop is locked (Windows 7's reversed flags
// accounted for); false when the platform cannot say.
bool IsSessionLocked(DWORD session);

// Whether this process's window station can show windows to a person: not
// so in session 0, where a deferred action of the installer runs.
bool HasVisibleWindowStation();

// The unsupported machine's message box would block a silent or unattended
// (progress-only, msiexec /passive) installation, or one where nobody can
// see it. Without a desktop of its own, an
// interactive installation's box goes to the installing person's session.
enum class UnsupportedBox { Shown, Silent, NoVisibleDesktop, SentToInstallingSession };
UnsupportedBox DecideUnsupportedBox(int uiLevel, bool visibleStation, int installingSession = -1);

// Runs the sequence the command line asks for; returns the exit code.
int RunInstallAction(const wchar_t* commandLine);

// arguments: the argument text, whose later words may say how the
// installation shows itself (see ReadUiLevel).
int RunInstallSequence(const wchar_t* arguments = L"");
// A later word "rollback" (the package undoing a failed install or removal)
// makes -uninstall remove and -install add the registrations only, without
// the firmware: its mode stays as it is.
bool IsRollback(const wchar_t* arguments);
int RunUninstallSequence(const wchar_t* arguments = L"");
// A later word "policytask" (only the package passes it) makes -install
// register the apply-policy task too; -uninstall always removes it.
bool WantsPolicyTask(const wchar_t* arguments);
