#include "window_capture.h"

#include "scoped_gdi.h"

BITMAPINFO TopDownBitmapInfo(int width, int height)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

Capture CaptureWindow(HWND window, bool repaintFirst)
{
    if (repaintFirst)
        RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    Capture capture;
    RECT client;
    GetClientRect(window, &client);
    capture.width = client.right;
    capture.height = client.bottom;
    capture.pixels.resize(static_cast<size_t>(capture.width) * capture.height);

    BITMAPINFO info = TopDownBitmapInfo(capture.width, capture.height);
    void* bits = nullptr;
    ScopedWindowDc source(window);
    HDC memory = CreateCompatibleDC(source.Get());
    ScopedGdiObject<HBITMAP> bitmap(CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    {
        ScopedSelection selection(memory, bitmap.Get());
        BitBlt(memory, 0, 0, capture.width, capture.height, source.Get(), 0, 0, SRCCOPY);
        GdiFlush();
        const uint32_t* row = static_cast<const uint32_t*>(bits);
        for (size_t i = 0; i < capture.pixels.size(); ++i)
            capture.pixels[i] = row[i] & 0xFFFFFF;
    }
    DeleteDC(memory);
    return capture;
}

void PumpMessages(DWORD milliseconds)
{
    DWORD start = GetTickCount();
    do {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (milliseconds)
            Sleep(10);
    } while (GetTickCount() - start < milliseconds);
}
