// The drawn windows in-process: GDI+ started, the three window classes
// registered, a controller window with its images (its icon goes to a
// recorder, not to the shell), and the panels' state as at start.
#pragma once

#include <windows.h>

#include "shell_recorder.h"
#include "tray_fixture.h"
#include "window_capture.h"

class PanelTest : public TrayTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Sends a mouse message with client coordinates.
    static LRESULT Mouse(HWND window, UINT message, int x, int y, WPARAM keys = 0);
    static LRESULT Press(HWND window, int x, int y) { return Mouse(window, WM_LBUTTONDOWN, x, y, MK_LBUTTON); }
    static LRESULT Release(HWND window, int x, int y) { return Mouse(window, WM_LBUTTONUP, x, y); }
    static LRESULT Move(HWND window, int x, int y, WPARAM keys = 0) { return Mouse(window, WM_MOUSEMOVE, x, y, keys); }

    ShellRecorder shell;
    HWND controller = nullptr;

private:
    ULONG_PTR gdiplusToken_ = 0;
};
