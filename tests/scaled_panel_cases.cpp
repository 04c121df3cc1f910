// Cases that run only in a process started at another display scale (see
// display_scale_tests.cpp): this file is built into that program but not
// listed to CTest. The process makes itself per-monitor aware, as Kelvane's
// manifest does.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "about_window.h"
#include "app_state.h"
#include "dpi.h"
#include "mode_panel.h"
#include "panel_fixture.h"
#include "scaled_panel_cases.h"

namespace {

// Sizes and places at each scale: the 96-DPI layout times dpi / 96.
struct Expected {
    UINT dpi;
    const char* panel;
    const char* radiosAndLink;
    const char* aboutSize;
    const char* closeHit;
};
const Expected kExpected[] = {
    {144, "0,0-225,195", "63,108-87,132 138,108-162,132 link 150..174", "858x687", "804,12-834,42"},
    {192, "0,0-300,260", "84,144-116,176 184,144-216,176 link 200..232", "1144x916", "1072,16-1112,56"},
};

std::string Describe(const RECT& r)
{
    return std::to_string(r.left) + "," + std::to_string(r.top) + "-" + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

POINT Centre(const RECT& r)
{
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

class ScaledPanelTest : public PanelTest {
protected:
    void SetUp() override
    {
        wchar_t value[16] = L"";
        GetEnvironmentVariableW(kScaledDpiVariable, value, ARRAYSIZE(value));
        for (const Expected& each : kExpected) {
            if (each.dpi == static_cast<UINT>(std::wcstoul(value, nullptr, 10)))
                expected_ = &each;
        }
        if (!expected_)
            GTEST_SKIP() << "started by display_scale_tests only";
        using SetAwareness = BOOL(WINAPI*)(HANDLE);
        auto setAwareness = FindSystemFunction<SetAwareness>(L"user32.dll", "SetProcessDpiAwarenessContext");
        ASSERT_TRUE(setAwareness != nullptr);
        setAwareness(reinterpret_cast<HANDLE>(-4)); // per monitor v2; only the first call of a process counts
        PanelTest::SetUp();
        ASSERT_EQ(expected_->dpi, DpiForWindow(controller)) << "Wine's display scale";
    }
    void TearDown() override
    {
        if (expected_)
            PanelTest::TearDown();
    }

    // The window that the controller's command opened, painted, and where it is.
    HWND Open(WORD command, RECT& frame)
    {
        SendMessageW(controller, WM_COMMAND, command, 0);
        HWND window = command == ID_SHOWABOUT ? app.aboutWindow : app.modePanelWindow;
        if (window) {
            UpdateWindow(window);
            GetWindowRect(window, &frame);
        }
        return window;
    }

    const Expected* expected_ = nullptr;
};

} // namespace

TEST_F(ScaledPanelTest, ModePanel)
{
    RECT frame;
    HWND panel = Open(ID_SHOWMODEPANEL, frame);
    ASSERT_TRUE(panel != nullptr);
    std::printf("mode panel at %u DPI: %s\n", expected_->dpi, Describe(frame).c_str());
    EXPECT_EQ(expected_->panel, Describe(frame));
    const ModePanelLayout& layout = modePanelLayout;
    EXPECT_EQ(expected_->radiosAndLink, Describe(layout.onRadio) + " " + Describe(layout.offRadio) + " link " +
                                            std::to_string(layout.link.top) + ".." +
                                            std::to_string(layout.link.bottom));
    EXPECT_TRUE(app.largeImages[PanelBackground] != nullptr) << "the double-size pictures are drawn";

    // The Off radio's 96-DPI place is empty here; its scaled one switches.
    Press(panel, 100, 80);
    EXPECT_EQ(PanelNothing, modePanelState.pressTarget);
    const POINT off = Centre(layout.offRadio);
    Press(panel, off.x, off.y);
    Release(panel, off.x, off.y);
    UpdateWindow(panel);
    PumpMessages();
    EXPECT_EQ("01 00 00 00", simfw::FormatBytes(Record()));
}

TEST_F(ScaledPanelTest, AboutWindow)
{
    RECT frame;
    HWND about = Open(ID_SHOWABOUT, frame);
    ASSERT_TRUE(about != nullptr);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    std::printf("About window at %u DPI: %dx%d at %ld,%ld\n", expected_->dpi, width, height, frame.left, frame.top);
    EXPECT_EQ(expected_->aboutSize, std::to_string(width) + "x" + std::to_string(height));
    RECT work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_EQ(work.left + (std::max)(0L, (work.right - work.left - width) / 2), frame.left);
    EXPECT_EQ(work.top + (std::max)(0L, (work.bottom - work.top - height) / 2), frame.top);
    EXPECT_EQ(expected_->closeHit, Describe(aboutLayout.closeHit));
    EXPECT_EQ(ScaleForDpi(18, expected_->dpi), aboutLayout.checkBox.right - aboutLayout.checkBox.left);

    // A click at the scaled close button closes the window.
    const POINT close = Centre(aboutLayout.close);
    Press(about, close.x, close.y);
    Release(about, close.x, close.y);
    EXPECT_FALSE(IsWindow(about));
}
