// Entry of Kelvane.exe.
#include <windows.h>

#include "startup.h"

void WaitBeforeRetry()
{
    Sleep(10000);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR arguments, int)
{
    return RunKelvane(instance, arguments);
}
