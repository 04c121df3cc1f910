// Display scale of the drawn windows. Every pixel figure of the panels is a
// figure at 96 DPI; at another DPI it is scaled with ScaleForDpi, the one
// rounding rule for all of them.
#pragma once

#include <windows.h>

#include "system_function.h"

constexpr UINT kBaseDpi = 96;

// value x dpi / 96, rounded half away from zero (MulDiv).
inline int ScaleForDpi(int value, UINT dpi)
{
    return MulDiv(value, static_cast<int>(dpi), static_cast<int>(kBaseDpi));
}

// Each edge scaled on its own, so that neighbouring rectangles stay apart
// exactly as they are at 96 DPI.
inline RECT ScaleForDpi(const RECT& rect, UINT dpi)
{
    return {ScaleForDpi(rect.left, dpi), ScaleForDpi(rect.top, dpi), ScaleForDpi(rect.right, dpi),
            ScaleForDpi(rect.bottom, dpi)};
}

inline POINT ScaleForDpi(POINT point, UINT dpi)
{
    return {ScaleForDpi(point.x, dpi), ScaleForDpi(point.y, dpi)};
}

// Above 125 % the double-size pictures are drawn.
inline bool WantsLargePictures(UINT dpi)
{
    return dpi > kBaseDpi * 5 / 4;
}

// The DPI the window is drawn at: its monitor's under per-monitor awareness,
// else the system's.
UINT DpiForWindow(HWND window);
// The DPI of the monitor that holds the point, for a window not yet made.
UINT DpiForPoint(POINT point);
// A system metric at dpi where Windows can say it (10 and later), else the
// system's own.
int SystemMetricForDpi(int index, UINT dpi);

