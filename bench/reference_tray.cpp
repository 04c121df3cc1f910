// The yardstick of the start-up benchmark: the least a tray utility of this
// kind must do before its panel is on screen. One firmware read through the
// automation server, GDI+ started, the twelve pictures decoded from the
// tray program's own resources, a hidden owner window with a notification
// icon, and a 150 x 130 popup painted with the panel picture. WM_CLOSE to
// the owner ends it. With "/comctl" it also loads the common controls
// (version 6, by the shared manifest), which Kelvane.exe needs for
// LoadIconMetric: the benchmark shows what that library costs.
#include <windows.h>
#include <objbase.h>
#include <ole2.h>
#include <shellapi.h>
#include <gdiplus.h>

#include "reference_firmware_read.h"
#include "resource_ids.h"

namespace {

const wchar_t kOwnerClass[] = L"KvReferenceOwner";
const wchar_t kPanelClass[] = L"KvReferencePanel";
const int kImageIds[] = {135, 116, 119, 136, 124, 123, 125, 126, 128, 129, 130, 131};

struct Reference {
    HINSTANCE instance;
    Gdiplus::Image* images[12];
    HGLOBAL blocks[12];
} reference = {};

// The bytes stay in their block for the image's life.
Gdiplus::Image* DecodePicture(int id, HGLOBAL& block)
{
    HRSRC found = FindResourceW(reference.instance, MAKEINTRESOURCEW(id), L"PNG");
    DWORD size = found ? SizeofResource(reference.instance, found) : 0;
    const void* bytes = size ? LockResource(LoadResource(reference.instance, found)) : nullptr;
    block = bytes ? GlobalAlloc(GMEM_MOVEABLE, size) : nullptr;
    if (!block)
        return nullptr;
    CopyMemory(GlobalLock(block), bytes, size);
    GlobalUnlock(block);
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(block, FALSE, &stream)))
        return nullptr;
    Gdiplus::Image* image = new Gdiplus::Image(stream);
    stream->Release();
    if (image->GetLastStatus() != Gdiplus::Ok) {
        delete image;
        return nullptr;
    }
    return image;
}

void PaintPanel(HWND window)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    Gdiplus::Graphics graphics(dc);
    graphics.DrawImage(reference.images[0], 0.0f, 0.0f, 150.0f, 130.0f);
    EndPaint(window, &paint);
}

LRESULT CALLBACK PanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_PAINT) {
        PaintPanel(window);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

NOTIFYICONDATAW IconData(HWND owner)
{
    NOTIFYICONDATAW data = {};
    data.cbSize = sizeof(data);
    data.hWnd = owner;
    data.uFlags = NIF_ICON | NIF_TIP | NIF_MESSAGE;
    data.uCallbackMessage = WM_APP + 1;
    data.hIcon = LoadIconW(reference.instance, MAKEINTRESOURCEW(IDI_MODE_ON));
    lstrcpynW(data.szTip, L"Reference", ARRAYSIZE(data.szTip));
    return data;
}

LRESULT CALLBACK OwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: {
        NOTIFYICONDATAW data = IconData(window);
        Shell_NotifyIconW(NIM_ADD, &data);
        return 0;
    }
    case WM_DESTROY: {
        NOTIFYICONDATAW data = IconData(window);
        Shell_NotifyIconW(NIM_DELETE, &data);
        PostQuitMessage(0);
        return 0;
    }
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

void RegisterClassFor(const wchar_t* name, WNDPROC procedure)
{
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = reference.instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = name;
    RegisterClassExW(&windowClass);
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR arguments, int)
{
    reference.instance = instance;
    HMODULE commonControls = nullptr;
    if (arguments && _wcsnicmp(arguments, L"/comctl", 7) == 0)
        commonControls = LoadLibraryW(L"comctl32.dll");
    BYTE record[4] = {};
    if (!ReadFirmwareRecord(record))
        return 1;

    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
    for (int i = 0; i < 12; ++i)
        reference.images[i] = DecodePicture(kImageIds[i], reference.blocks[i]);

    RegisterClassFor(kOwnerClass, OwnerProc);
    RegisterClassFor(kPanelClass, PanelProc);
    HWND owner = CreateWindowExW(0, kOwnerClass, L"Reference", WS_OVERLAPPEDWINDOW, 0, 0, 250, 200, nullptr,
                                 nullptr, instance, nullptr);
    HWND panel = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, kPanelClass, L"", WS_POPUP, 0, 0, 150, 130, owner,
                                 nullptr, instance, nullptr);
    ShowWindow(panel, SW_SHOW);
    UpdateWindow(panel);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    for (int i = 0; i < 12; ++i) {
        delete reference.images[i];
        if (reference.blocks[i])
            GlobalFree(reference.blocks[i]);
    }
    Gdiplus::GdiplusShutdown(token);
    if (commonControls)
        FreeLibrary(commonControls);
    return 0;
}
