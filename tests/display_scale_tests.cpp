// The drawn windows at other display scales. DisplayScale.* starts this
// program again with Wine's display scale (LogPixels, read at a program's
// start) at 144 and 192 DPI, where the disabled ScaledWindowsTest.* runs;
// WM_DPICHANGED is sent to open windows in-process.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "about_window.h"
#include "app_state.h"
#include "dpi.h"
#include "log_reader.h"
#include "mode_panel.h"
#include "panel_fixture.h"
#include "program_runner.h"
#include "scoped_gdi.h"

namespace {

const wchar_t kDpiVariable[] = L"KV_SCALED_DPI";

// At each scale the 96-DPI figures times dpi / 96.
struct Scaled {
    UINT dpi;
    const char* panel;
    const char* offRadio;
    const char* aboutSize;
    const char* closeHit;
};
const Scaled kScaled[] = {
    {144, "0,0-225,195", "138,108-162,132", "858x687", "804,12-834,42"},
    {192, "0,0-300,260", "184,144-216,176", "1144x916", "1072,16-1112,56"},
};

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

size_t Occurrences(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// What this program's scaled cases did at dpi, from the child's exit code and
// its XML report: a child whose cases were all skipped, or whose filter
// matched none, ends with 0 too. The display scale is put back as it was.
std::string RunAtDisplayScale(DWORD dpi)
{
    HKEY opened = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                    nullptr, &opened, nullptr);
    ScopedRegistryKey key(opened);
    DWORD before = 0, size = sizeof(before);
    const bool had = key && RegQueryValueExW(key.Get(), L"LogPixels", nullptr, nullptr,
                                             reinterpret_cast<BYTE*>(&before), &size) == ERROR_SUCCESS;
    if (!key || RegSetValueExW(key.Get(), L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi),
                               sizeof(dpi)) != ERROR_SUCCESS)
        return "display scale not set";
    SetEnvironmentVariableW(kDpiVariable, std::to_wstring(dpi).c_str());
    wchar_t self[MAX_PATH] = L"", temp[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    GetTempPathW(MAX_PATH, temp);
    const std::wstring report = std::wstring(temp) + L"kv_scaled_cases.xml";
    DeleteFileW(report.c_str());
    long code = RunningProgram(self, L"--gtest_filter=ScaledWindowsTest.* --gtest_also_run_disabled_tests "
                                     L"--gtest_output=xml:" + report)
                    .WaitForExit(90000);
    const std::string cases = ReadFileBytes(report);
    DeleteFileW(report.c_str());
    SetEnvironmentVariableW(kDpiVariable, nullptr);
    if (had)
        RegSetValueExW(key.Get(), L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&before), sizeof(before));
    else
        RegDeleteValueW(key.Get(), L"LogPixels");
    return "exit " + std::to_string(code) + ", ran " + std::to_string(Occurrences(cases, "result=\"completed\"")) +
           ", failures " + std::to_string(Occurrences(cases, "<failure "));
}

class ScaledWindowsTest : public PanelTest {
protected:
    void SetUp() override
    {
        wchar_t value[16] = L"";
        GetEnvironmentVariableW(kDpiVariable, value, ARRAYSIZE(value));
        for (const Scaled& each : kScaled)
            scaled_ = each.dpi == wcstoul(value, nullptr, 10) ? &each : scaled_;
        if (!scaled_)
            GTEST_SKIP() << "runs only in the process that DisplayScale.* starts";
        // Per monitor v2, as Kelvane's manifest asks.
        using SetAwareness = BOOL(WINAPI*)(HANDLE);
        auto setAwareness = FindSystemFunction<SetAwareness>(L"user32.dll", "SetProcessDpiAwarenessContext");
        ASSERT_TRUE(setAwareness != nullptr);
        setAwareness(reinterpret_cast<HANDLE>(-4)); // the check is the controller's DPI below
        PanelTest::SetUp();
    }
    void TearDown() override
    {
        if (scaled_)
            PanelTest::TearDown();
    }

    const Scaled* scaled_ = nullptr;
};

} // namespace

TEST(DisplayScale, WindowsAt144And192Dpi)
{
    for (DWORD dpi : {144, 192})
        EXPECT_EQ("exit 0, ran 1, failures 0", RunAtDisplayScale(dpi))
            << dpi << " DPI; the scaled cases' output says what failed";
}

// Disabled: it needs the process that DisplayScale.* starts.
TEST_F(ScaledWindowsTest, DISABLED_SizesPlacesAndHits)
{
    ASSERT_EQ(scaled_->dpi, DpiForWindow(controller)) << "Wine's display scale";
    SendMessageW(controller, WM_COMMAND, ID_SHOWMODEPANEL, 0);
    HWND panel = app.modePanelWindow;
    ASSERT_TRUE(panel != nullptr);
    UpdateWindow(panel);
    std::printf("mode panel at %u DPI: %s\n", scaled_->dpi, Describe(WindowRect(panel)).c_str());
    EXPECT_EQ(scaled_->panel, Describe(WindowRect(panel)));
    EXPECT_EQ(scaled_->offRadio, Describe(modePanelLayout.offRadio));
    EXPECT_TRUE(app.largeImages[PanelBackground] != nullptr) << "the double-size pictures are drawn";
    // The Off radio's 96-DPI place is empty here; its scaled one switches.
    Press(panel, 100, 80);
    EXPECT_EQ(PanelNothing, modePanelState.pressTarget);
    const RECT& off = modePanelLayout.offRadio;
    Press(panel, (off.left + off.right) / 2, (off.top + off.bottom) / 2);
    Release(panel, (off.left + off.right) / 2, (off.top + off.bottom) / 2);
    UpdateWindow(panel);
    PumpMessages();
    EXPECT_EQ("01 00 00 00", simfw::FormatBytes(Record()));

    SendMessageW(controller, WM_COMMAND, ID_SHOWABOUT, 0);
    HWND about = app.aboutWindow;
    ASSERT_TRUE(about != nullptr);
    const RECT frame = WindowRect(about);
    const std::string size = std::to_string(frame.right - frame.left) + "x" + std::to_string(frame.bottom - frame.top);
    std::printf("About window at %u DPI: %s at %ld,%ld\n", scaled_->dpi, size.c_str(), frame.left, frame.top);
    EXPECT_EQ(scaled_->aboutSize, size);
    RECT work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_EQ(work.left + (std::max)(0L, (work.right - work.left - (frame.right - frame.left)) / 2), frame.left);
    EXPECT_EQ(work.top + (std::max)(0L, (work.bottom - work.top - (frame.bottom - frame.top)) / 2), frame.top);
    EXPECT_EQ(scaled_->closeHit, Describe(aboutLayout.closeHit));
    const RECT& close = aboutLayout.close;
    Press(about, (close.left + close.right) / 2, (close.top + close.bottom) / 2);
    Release(about, (close.left + close.right) / 2, (close.top + close.bottom) / 2);
    EXPECT_FALSE(IsWindow(about)) << "the scaled close button closes";
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
        // The system's suggestion may be larger than the scaled size.
        {144, {100, 40, 970, 740}, "804,12-834,42", "0,2-869,701"},
        {96, {100, 40, 672, 498}, "536,8-556,28", "0,1-571,458"},
    };
    const uint32_t kUnpainted = 0xFF00FF;
    for (const Change& change : changes) {
        SCOPED_TRACE(change.dpi);
        SendMessageW(about, WM_DPICHANGED, MAKEWPARAM(change.dpi, change.dpi),
                     reinterpret_cast<LPARAM>(&change.suggested));
        EXPECT_EQ(Describe(change.suggested), Describe(WindowRect(about)));
        EXPECT_EQ(change.closeHit, Describe(aboutLayout.closeHit));
        HRGN region = CreateRectRgn(0, 0, 0, 0);
        GetWindowRgn(about, region);
        RECT box = {};
        GetRgnBox(region, &box);
        EXPECT_EQ(change.regionBox, Describe(box));
        DeleteObject(region);
        // Every pixel is painted again, the last row and column included.
        RECT client;
        GetClientRect(about, &client);
        {
            ScopedWindowDc dc(about);
            ScopedGdiObject<HBRUSH> marker(CreateSolidBrush(RGB(255, 0, 255)));
            FillRect(dc.Get(), &client, marker.Get());
        }
        InvalidateRect(about, nullptr, FALSE);
        UpdateWindow(about);
        const Capture painted = CaptureWindow(about, false);
        EXPECT_NE(kUnpainted, painted.At(client.right - 2, client.bottom - 2));
        EXPECT_NE(kUnpainted, painted.At(client.right / 2, client.bottom - 2));
    }

    // The panel lays itself out again at 200 %; a press on the scaled Off radio hits it.
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
