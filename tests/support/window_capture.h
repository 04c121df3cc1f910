// Reads back what a window painted, pixel by pixel.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

struct Capture {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels; // 0x00RRGGBB, top-down

    uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// A top-down 32-bit bitmap of this size, for reading pixels back.
BITMAPINFO TopDownBitmapInfo(int width, int height);

// Repaints the window and copies its client area; without the repaint it
// copies what the window's own paints left there.
Capture CaptureWindow(HWND window, bool repaintFirst = true);

// Pumps this thread's messages (posted ones included) for a while.
void PumpMessages(DWORD milliseconds = 0);
