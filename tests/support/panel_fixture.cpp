#include "panel_fixture.h"

#include "about_window.h"
#include "app_state.h"
#include "controller_window.h"
#include "mode_panel.h"
#include "startup.h"

void PanelTest::SetUp()
{
    TrayTest::SetUp();
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&gdiplusToken_, &input, nullptr);
    RegisterWindowClass(kControllerClass, 107, ControllerWindowProc);
    RegisterWindowClass(kModePanelClass, 0, ModePanelProc);
    RegisterWindowClass(kAboutClass, 0, AboutWindowProc);

    modePanelState = {Off, PanelNothing, Normal, false};
    modePanelLayout = kDefaultModePanelLayout;
    modePanelBaseLayout = kDefaultModePanelLayout;
    aboutState = {AboutNothing, Normal, Normal, {0, 0}};
    aboutLayout = kDefaultAboutLayout;

    SetRecord({0x01, 0x01, 0x00, 0x00});
    ASSERT_EQ(1, InitThermalControl());
    app.startedByRunKey = 1; // no panel of its own at creation
    app.showAtStartup = 1;
    controller = CreateWindowExW(0, kControllerClass, app.windowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, 250,
                                 200, nullptr, nullptr, app.instance, nullptr);
    ASSERT_TRUE(controller != nullptr);
    app.controllerWindow = controller;
    shell.calls.clear();
}

void PanelTest::TearDown()
{
    if (app.aboutWindow)
        DestroyWindow(app.aboutWindow);
    if (IsWindow(app.modePanelWindow))
        DestroyWindow(app.modePanelWindow);
    if (IsWindow(controller))
        DestroyWindow(controller);
    PumpMessages();
    UnregisterClassW(kAboutClass, app.instance);
    UnregisterClassW(kModePanelClass, app.instance);
    UnregisterClassW(kControllerClass, app.instance);
    Gdiplus::GdiplusShutdown(gdiplusToken_);
    TrayTest::TearDown();
}

LRESULT PanelTest::Mouse(HWND window, UINT message, int x, int y, WPARAM keys)
{
    return SendMessageW(window, message, keys, MAKELPARAM(x, y));
}
