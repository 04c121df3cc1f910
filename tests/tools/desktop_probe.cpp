// desktop_probe: what scripts that drive Kelvane.exe from outside need to
// ask or tell inside the Wine session.
//   desktop_probe post ID    posts WM_COMMAND ID to Kelvane's controller
//   desktop_probe tray-icons prints how many icons the notification area shows
//   desktop_probe accessible CLASS  prints what a screen reader reads in
//                            Kelvane's window of that class: one line per
//                            element, "name|role|state|default action|description"
#include <windows.h>
#include <oleacc.h>

#include <cstdio>
#include <cwchar>
#include <string>

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

std::string Utf8(const wchar_t* text)
{
    char bytes[1000] = "";
    if (text)
        WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof(bytes), nullptr, nullptr);
    return bytes;
}

std::string Text(BSTR text)
{
    std::string bytes = Utf8(text);
    SysFreeString(text);
    return bytes;
}

// The text of a role or of each state bit, as the system names them.
std::string RoleAndState(LONG role, LONG state)
{
    wchar_t text[100] = L"";
    GetRoleTextW(static_cast<DWORD>(role), text, ARRAYSIZE(text));
    std::string line = Utf8(text) + "|";
    for (DWORD bit = 1; bit != 0; bit <<= 1) {
        if (static_cast<DWORD>(state) & bit) {
            GetStateTextW(bit, text, ARRAYSIZE(text));
            line += Utf8(text) + ",";
        }
    }
    return line;
}

int PrintAccessible(const wchar_t* className)
{
    HWND window = FindWindowW(className, nullptr);
    if (!window) {
        std::fprintf(stderr, "desktop_probe: no window of class %ls\n", className);
        return 1;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IAccessible* object = nullptr;
    HRESULT result = AccessibleObjectFromWindow(window, OBJID_CLIENT, IID_IAccessible, reinterpret_cast<void**>(&object));
    long count = 0;
    if (SUCCEEDED(result))
        result = object->get_accChildCount(&count);
    for (long id = 1; SUCCEEDED(result) && id <= count; ++id) {
        VARIANT child;
        child.vt = VT_I4;
        child.lVal = id;
        BSTR name = nullptr;
        BSTR action = nullptr;
        BSTR description = nullptr;
        VARIANT role;
        VARIANT state;
        VariantInit(&role);
        VariantInit(&state);
        object->get_accName(child, &name);
        object->get_accDefaultAction(child, &action);
        object->get_accDescription(child, &description);
        object->get_accRole(child, &role);
        object->get_accState(child, &state);
        std::printf("%s|%s|%s|%s\n", Text(name).c_str(), RoleAndState(role.lVal, state.lVal).c_str(),
                    Text(action).c_str(), Text(description).c_str());
    }
    if (object)
        object->Release();
    CoUninitialize();
    if (FAILED(result))
        std::fprintf(stderr, "desktop_probe: accessible object: 0x%08lX\n", static_cast<unsigned long>(result));
    return FAILED(result) ? 1 : 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 3 && std::wcscmp(argv[1], L"post") == 0)
        return PostCommand(argv[2]);
    if (argc == 2 && std::wcscmp(argv[1], L"tray-icons") == 0)
        return PrintTrayIcons();
    if (argc == 3 && std::wcscmp(argv[1], L"accessible") == 0)
        return PrintAccessible(argv[2]);
    std::fprintf(stderr, "usage: desktop_probe post COMMAND-ID | desktop_probe tray-icons | desktop_probe accessible CLASS\n");
    return 2;
}
