// KvInstallAction.exe: run by the product's installer, elevated, with
// -install after the files are copied and -uninstall before they go.
#include <windows.h>

#include "install_action.h"
#include "system_function.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    // Elevated and started from the installer's folder: never load a DLL
    // planted beside the program or in the current folder. Looked up: a
    // Windows 7 without KB2533623 lacks it (and then searches System32 before
    // the current folder anyway, since SafeDllSearchMode is on).
    using SetDirectories = BOOL(WINAPI*)(DWORD);
    if (auto setDirectories = FindSystemFunction<SetDirectories>(L"kernel32.dll", "SetDefaultDllDirectories"))
        setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    return RunInstallAction(GetCommandLineW());
}
