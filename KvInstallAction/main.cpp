// KvInstallAction.exe: run by the product's installer, elevated, with
// -install after the files are copied and -uninstall before they go.
#include <windows.h>

#include "install_action.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    // Elevated and started from the installer's folder: never load a DLL
    // planted beside the program or in the current folder.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    return RunInstallAction(GetCommandLineW());
}
