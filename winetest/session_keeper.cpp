// Holds the test session's desktop open: Wine ends its desktop process about
// a second after the last program that uses it, and the next program starts
// it again, with that program's output handles, which CTest then waits on.
// Started by start-session.sh, ended with the wineserver.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    GetDesktopWindow();
    Sleep(INFINITE);
    return 0;
}
