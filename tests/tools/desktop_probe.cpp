// desktop_probe: what scripts that drive Kelvane.exe from outside need to
// ask or tell inside the Wine session.
//   desktop_probe post ID    posts WM_COMMAND ID to Kelvane's controller
//   desktop_probe tray-icons prints how many icons the notification area shows
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

BOOL CALLBACK CountIconWindows(HWND window, LPARAM count)
{
    wchar_t name[64] = L"";
    GetClassNameW(window, name, ARRAYSIZE(name));
    // Wine's notification area makes one window per icon.
    if (std::wcscmp(name, L"__winex11_tray_icon") == 0)
        ++*reinterpret_cast<int*>(count);
    EnumChildWindows(window, CountIconWindows, count);
    return TRUE;
}

int PostCommand(const wchar_t* id)
{
    HWND controller = FindWindowW(L"VornKelvane", L"Vorn Kelvane");
    if (!controller) {
        std::fprintf(stderr, "desktop_probe: Kelvane is not running\n");
        return 1;
    }
    return PostMessageW(controller, WM_COMMAND, static_cast<WPARAM>(std::wcstol(id, nullptr, 10)), 0) ? 0 : 1;
}

int PrintTrayIcons()
{
    int count = 0;
    EnumWindows(CountIconWindows, reinterpret_cast<LPARAM>(&count));
    std::printf("%d\n", count);
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 3 && std::wcscmp(argv[1], L"post") == 0)
        return PostCommand(argv[2]);
    if (argc == 2 && std::wcscmp(argv[1], L"tray-icons") == 0)
        return PrintTrayIcons();
    std::fprintf(stderr, "usage: desktop_probe post COMMAND-ID | desktop_probe tray-icons\n");
    return 2;
}
