// The drawn windows at other display scales: at 144 and 192 DPI from
// Kelvane's start (the cases of scaled_panel_cases.cpp, each run in a process
// started with Wine's display scale set), and when the scale changes under
// an open window (WM_DPICHANGED, in-process at 96 DPI).
#include <windows.h>

#include <string>

#include "about_window.h"
#include "app_state.h"
#include "mode_panel.h"
#include "panel_fixture.h"
#include "program_runner.h"
#include "scaled_panel_cases.h"

namespace {

// Runs this program's scaled cases in a new process started with Wine's
// display scale (LogPixels, read at a program's start) at dpi, and puts the
// setting back as it was. The process's exit code, or -1.
long RunScaledCases(DWORD dpi)
{
    HKEY opened = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                    nullptr, &opened, nullptr);
    ScopedRegistryKey key(opened);
    if (!key)
        return -1;
    DWORD before = 0;
    DWORD size = sizeof(before);
    const bool hadValue = RegQueryValueExW(key.Get(), L"LogPixels", nullptr, nullptr,
                                           reinterpret_cast<BYTE*>(&before), &size) == ERROR_SUCCESS;
    RegSetValueExW(key.Get(), L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof(dpi));
    SetEnvironmentVariableW(kScaledDpiVariable, std::to_wstring(dpi).c_str());

    wchar_t self[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    long code;
    {
        RunningProgram cases(self, L"--gtest_filter=ScaledPanelTest.*");
        code = cases.WaitForExit(90000);
    }

    SetEnvironmentVariableW(kScaledDpiVariable, nullptr);
    if (hadValue)
        RegSetValueExW(key.Get(), L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&before), sizeof(before));
    else
        RegDeleteValueW(key.Get(), L"LogPixels");
    return code;
}

std::string Describe(const RECT& r)
{
    return std::to_string(r.left) + "," + std::to_string(r.top) + "-" + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

RECT WindowRect(HWND window)
{
    RECT rect;
    GetWindowRect(window, &rect);
    return rect;
}

} // namespace

TEST(DisplayScale, PanelsAt144Dpi)
{
    EXPECT_EQ(0, RunScaledCases(144)) << "the scaled cases' own output says what failed";
}

TEST(DisplayScale, PanelsAt192Dpi)
{
    EXPECT_EQ(0, RunScaledCases(192)) << "the scaled cases' own output says what failed";
}

class DisplayScaleChangeTest : public PanelTest {};

TEST_F(DisplayScaleChangeTest, OpenWindowsLayThemselvesOutAgain)
{
    SendMessageW(controller, WM_COMMAND, ID_SHOWABOUT, 0);
    HWND about = app.aboutWindow;
    ASSERT_TRUE(about != nullptr);
    // The About window takes the suggested rectangle: 150 %, then 100 % again.
    struct Change {
        UINT dpi;
        RECT suggested;
        const char* closeHit;
        const char* regionBox;
    };
    const Change changes[] = {
        {144, {100, 40, 958, 727}, "804,12-834,42", "0,2-857,688"},
        {96, {100, 40, 672, 498}, "536,8-556,28", "0,1-571,458"},
    };
    for (const Change& change : changes) {
        SCOPED_TRACE(change.dpi);
        EXPECT_EQ(0, SendMessageW(about, WM_DPICHANGED, MAKEWPARAM(change.dpi, change.dpi),
                                  reinterpret_cast<LPARAM>(&change.suggested)));
        EXPECT_EQ(Describe(change.suggested), Describe(WindowRect(about)));
        EXPECT_EQ(change.closeHit, Describe(aboutLayout.closeHit));
        HRGN region = CreateRectRgn(0, 0, 0, 0);
        ASSERT_NE(ERROR, GetWindowRgn(about, region));
        RECT box;
        GetRgnBox(region, &box);
        EXPECT_EQ(change.regionBox, Describe(box));
        DeleteObject(region);
    }
    DestroyWindow(about);

    // The panel re-lays itself out at 200 %; a press on the scaled Off radio hits it.
    SendMessageW(controller, WM_COMMAND, ID_SHOWMODEPANEL, 0);
    HWND panel = app.modePanelWindow;
    ASSERT_TRUE(panel != nullptr);
    const RECT suggested = {0, 0, 300, 260};
    SendMessageW(panel, WM_DPICHANGED, MAKEWPARAM(192, 192), reinterpret_cast<LPARAM>(&suggested));
    EXPECT_EQ("0,0-300,260", Describe(WindowRect(panel)));
    EXPECT_EQ("184,144-216,176", Describe(modePanelLayout.offRadio));
    Press(panel, 200, 160);
    EXPECT_EQ(PanelOffRadio, modePanelState.pressTarget);
}
