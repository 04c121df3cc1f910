#include "dpi.h"

#include "scoped_gdi.h"

namespace {

using GetDpiForWindowCall = UINT(WINAPI*)(HWND);
using GetDpiForMonitorCall = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
using GetSystemMetricsForDpiCall = int(WINAPI*)(int, UINT);
constexpr int kEffectiveDpi = 0; // MDT_EFFECTIVE_DPI

UINT SystemDpi()
{
    ScopedWindowDc screen(nullptr);
    const int dpi = screen.Get() ? GetDeviceCaps(screen.Get(), LOGPIXELSY) : 0;
    return dpi > 0 ? static_cast<UINT>(dpi) : kBaseDpi;
}

// Windows 8.1 knows the monitor's scale only through shcore.dll.
UINT MonitorDpi(HMONITOR monitor)
{
    static const auto getDpiForMonitor = LoadSystemFunction<GetDpiForMonitorCall>(L"shcore.dll", "GetDpiForMonitor");
    UINT x = 0, y = 0;
    if (monitor && getDpiForMonitor && SUCCEEDED(getDpiForMonitor(monitor, kEffectiveDpi, &x, &y)) && y > 0)
        return y;
    return SystemDpi();
}

} // namespace

UINT DpiForWindow(HWND window)
{
    static const auto getDpiForWindow = FindSystemFunction<GetDpiForWindowCall>(L"user32.dll", "GetDpiForWindow");
    if (getDpiForWindow) {
        const UINT dpi = getDpiForWindow(window);
        if (dpi > 0)
            return dpi;
    }
    return MonitorDpi(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST));
}

UINT DpiForPoint(POINT point)
{
    return MonitorDpi(MonitorFromPoint(point, MONITOR_DEFAULTTOPRIMARY));
}

int SystemMetricForDpi(int index, UINT dpi)
{
    static const auto getSystemMetricsForDpi =
        FindSystemFunction<GetSystemMetricsForDpiCall>(L"user32.dll", "GetSystemMetricsForDpi");
    return getSystemMetricsForDpi ? getSystemMetricsForDpi(index, dpi) : GetSystemMetrics(index);
}
