// The About window in-process: where it opens, its region, the mouse state
// machines of its buttons, check box and drag, and what it paints.
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "about_window.h"
#include "app_state.h"
#include "panel_fixture.h"
#include "resource_images.h"

namespace {

class AboutWindowTest : public PanelTest {
protected:
    HWND OpenAbout()
    {
        SendMessageW(controller, WM_COMMAND, ID_SHOWABOUT, 0);
        about_ = app.aboutWindow;
        EXPECT_TRUE(about_ != nullptr);
        UpdateWindow(about_);
        return about_;
    }

    RECT WindowRect() const
    {
        RECT rect;
        GetWindowRect(about_, &rect);
        return rect;
    }

    // The centre of the last painted check box.
    POINT CheckBoxCentre() const
    {
        return {aboutLayout.checkBox.left + 9, aboutLayout.checkBox.top + 9};
    }

    HWND about_ = nullptr;
};

std::string Describe(const RECT& r)
{
    return std::to_string(r.left) + "," + std::to_string(r.top) + "-" + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

} // namespace

TEST_F(AboutWindowTest, OpensCentredInTheWorkArea)
{
    RECT workArea;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0);
    OpenAbout();

    const int x = workArea.left + (workArea.right - workArea.left - kAboutWidth) / 2;
    const int y = workArea.top + (workArea.bottom - workArea.top - kAboutHeight) / 2;
    EXPECT_EQ(Describe({x, y, x + kAboutWidth, y + kAboutHeight}), Describe(WindowRect()));
    EXPECT_TRUE(IsWindowVisible(about_));
    EXPECT_TRUE(GetWindowLongW(about_, GWL_EXSTYLE) & WS_EX_APPWINDOW);
    EXPECT_EQ(controller, GetWindow(about_, GW_OWNER));
    wchar_t title[100] = L"";
    GetWindowTextW(about_, title, ARRAYSIZE(title));
    EXPECT_EQ(std::wstring(L"Vorn Kelvane"), title);
}

TEST_F(AboutWindowTest, RegionRoundsOnlyTheTopCorners)
{
    OpenAbout();
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(ERROR, GetWindowRgn(about_, region));

    EXPECT_FALSE(PtInRegion(region, 286, 0)) << "the top pixel row is outside";
    EXPECT_TRUE(PtInRegion(region, 286, 1));
    EXPECT_FALSE(PtInRegion(region, 0, 1)) << "rounded top-left corner";
    EXPECT_FALSE(PtInRegion(region, 571, 1)) << "rounded top-right corner";
    // Round-rectangle regions leave out their right column and bottom row,
    // so the square part ends one pixel short of the window's edges.
    EXPECT_TRUE(PtInRegion(region, 0, 456)) << "square bottom-left corner";
    EXPECT_TRUE(PtInRegion(region, 570, 456)) << "square bottom-right corner";
    RECT box;
    GetRgnBox(region, &box);
    EXPECT_EQ("0,1-571,458", Describe(box));
    DeleteObject(region);
}

TEST_F(AboutWindowTest, SecondShowRestoresTheWindow)
{
    HWND about = OpenAbout();
    ShowWindow(about, SW_MINIMIZE);
    ASSERT_TRUE(IsIconic(about));

    SendMessageW(controller, WM_COMMAND, ID_SHOWABOUT, 0);

    EXPECT_EQ(about, app.aboutWindow);
    EXPECT_FALSE(IsIconic(about));
}

TEST_F(AboutWindowTest, CloseButtonFollowsThePointerWhileHeld)
{
    HWND about = OpenAbout();

    Move(about, 546, 18);
    EXPECT_EQ(Hover, aboutState.closeLook);
    Press(about, 546, 18);
    EXPECT_EQ(Pressed, aboutState.closeLook);
    Move(about, 300, 200, MK_LBUTTON);
    EXPECT_EQ(Normal, aboutState.closeLook);
    Move(about, 536, 8, MK_LBUTTON);
    EXPECT_EQ(Pressed, aboutState.closeLook) << "hit area edge, grown by 4";
    Release(about, 556, 28);

    EXPECT_FALSE(IsWindow(about));
    EXPECT_EQ(nullptr, app.aboutWindow);
}

TEST_F(AboutWindowTest, ReleaseOffTheButtonDoesNotClose)
{
    HWND about = OpenAbout();

    Press(about, 546, 18);
    Release(about, 535, 18);
    EXPECT_TRUE(IsWindow(about));

    // Another press held: passing over the minimize button does not light it.
    Press(about, 546, 18);
    Move(about, 520, 18, MK_LBUTTON);
    EXPECT_EQ(Normal, aboutState.minimizeLook);
    Release(about, 300, 300);
}

TEST_F(AboutWindowTest, HoverStaysWhenThePointerLeavesTheWindow)
{
    HWND about = OpenAbout();
    Move(about, 520, 18);
    EXPECT_EQ(Hover, aboutState.minimizeLook);
    // Leaving the window sends no message: the look stays until the next move.
    EXPECT_EQ(Hover, aboutState.minimizeLook);
    Move(about, 300, 300);
    EXPECT_EQ(Normal, aboutState.minimizeLook);
}

TEST_F(AboutWindowTest, MinimizeButton)
{
    HWND about = OpenAbout();
    Press(about, 520, 18);
    EXPECT_EQ(Pressed, aboutState.minimizeLook);
    Release(about, 520, 18);
    EXPECT_TRUE(IsIconic(about));
    EXPECT_EQ(Normal, aboutState.minimizeLook);
}

TEST_F(AboutWindowTest, CheckBoxTogglesTheStartupFlag)
{
    HWND about = OpenAbout();
    POINT box = CheckBoxCentre();

    Press(about, box.x, box.y);
    Release(about, box.x, box.y);
    EXPECT_EQ(0, app.showAtStartup);
    EXPECT_EQ("autostart=off\r\nmode=on\r\n", ReadSettingsFile());

    Press(about, box.x, box.y);
    Release(about, 200, 200);
    EXPECT_EQ(0, app.showAtStartup) << "released elsewhere";
    EXPECT_EQ(AboutNothing, aboutState.pressTarget);
}

TEST_F(AboutWindowTest, CheckBoxShowsTheFlag)
{
    HWND about = OpenAbout();
    POINT box = CheckBoxCentre();
    Capture checked = CaptureWindow(about);

    // The menu's toggle: the controller tells the About window.
    SendMessageW(controller, WM_COMMAND, ID_TOGGLESTARTUP, 0);
    ASSERT_EQ(0, app.showAtStartup);
    PumpMessages();
    Capture unchecked = CaptureWindow(about);

    EXPECT_NE(checked.At(box.x, box.y), unchecked.At(box.x, box.y));
    EXPECT_EQ(checked.At(box.x - 60, box.y - 40), unchecked.At(box.x - 60, box.y - 40)) << "the rest stays";
}

TEST_F(AboutWindowTest, PressOutsideTheControlsDragsTheWindow)
{
    HWND about = OpenAbout();
    RECT before = WindowRect();

    Press(about, 200, 100);
    EXPECT_EQ(AboutDrag, aboutState.pressTarget);
    EXPECT_EQ(about, GetCapture());
    Move(about, 250, 130, MK_LBUTTON);
    RECT moved = WindowRect();
    EXPECT_EQ(Describe({before.left + 50, before.top + 30, before.right + 50, before.bottom + 30}), Describe(moved));
    // Coordinates are relative to the window where it is now: the anchor
    // stays under the pointer.
    Move(about, 190, 80, MK_LBUTTON);
    Release(about, 200, 100);

    EXPECT_EQ(nullptr, GetCapture());
    EXPECT_EQ(AboutNothing, aboutState.pressTarget);
    EXPECT_EQ(Describe({moved.left - 10, moved.top - 20, moved.right - 10, moved.bottom - 20}), Describe(WindowRect()));
}

TEST_F(AboutWindowTest, EscapeCloses)
{
    HWND about = OpenAbout();
    EXPECT_EQ(0, SendMessageW(about, WM_KEYDOWN, 'X', 0));
    EXPECT_TRUE(IsWindow(about));
    EXPECT_EQ(0, SendMessageW(about, WM_KEYDOWN, VK_ESCAPE, 0));
    EXPECT_FALSE(IsWindow(about));
    EXPECT_EQ(nullptr, app.aboutWindow);
}

TEST_F(AboutWindowTest, ButtonsAndCheckBoxFollowTheReadingDirection)
{
    HWND about = OpenAbout();
    const bool rtl = IsRightToLeftUi();
    const char* lang = std::getenv("LANG");
    if (lang && std::string(lang).rfind("he_IL", 0) == 0) {
        ASSERT_TRUE(rtl) << "a Hebrew user interface reads right to left";
    }
    Capture painted = CaptureWindow(about);

    EXPECT_EQ(rtl ? "20,12-32,24" : "540,12-552,24", Describe(aboutLayout.close));
    EXPECT_EQ(rtl ? "46,12-58,24" : "514,12-526,24", Describe(aboutLayout.minimize));
    EXPECT_EQ(rtl ? "16,8-36,28" : "536,8-556,28", Describe(aboutLayout.closeHit));

    // The close glyph is drawn where the layout says, not on the other side.
    Gdiplus::Bitmap* glyph = static_cast<Gdiplus::Bitmap*>(app.images[CloseNormal]);
    ASSERT_TRUE(glyph != nullptr);
    Gdiplus::Color centre;
    glyph->GetPixel(6, 6, &centre);
    const int glyphX = aboutLayout.close.left + 6;
    const int otherX = rtl ? 546 : 26;
    if (centre.GetAlpha() == 255) {
        EXPECT_EQ(centre.GetValue() & 0xFFFFFF, painted.At(glyphX, 18)) << std::hex << painted.At(glyphX, 18);
    }
    EXPECT_NE(painted.At(glyphX, 18), painted.At(otherX, 18));

    // The check box stands after its label in reading order.
    EXPECT_EQ(427, aboutLayout.checkBox.top);
    EXPECT_EQ(445, aboutLayout.checkBox.bottom);
    if (rtl) {
        EXPECT_LT(60, aboutLayout.checkBox.left) << "right of a label that begins at 40";
    } else {
        EXPECT_GT(532 - 18, aboutLayout.checkBox.right) << "left of a label that ends at 532";
    }
}

TEST_F(AboutWindowTest, EveryWayOutOfADragEndsIt)
{
    struct Case {
        const char* name;
        UINT message;
        int x, y;
        bool staysOpen;
    };
    const Case cases[] = {
        {"release over close", WM_LBUTTONUP, 546, 18, true},
        {"release over minimize", WM_LBUTTONUP, 520, 18, true},
        {"release over the check box", WM_LBUTTONUP, -1, -1, true},
        {"capture taken elsewhere", WM_CAPTURECHANGED, 0, 0, true},
        {"Escape", WM_KEYDOWN, 0, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HWND about = OpenAbout();
        Press(about, 200, 100);
        ASSERT_EQ(AboutDrag, aboutState.pressTarget);
        POINT box = CheckBoxCentre();
        if (c.message == WM_LBUTTONUP)
            Release(about, c.x < 0 ? box.x : c.x, c.y < 0 ? box.y : c.y);
        else if (c.message == WM_CAPTURECHANGED)
            SendMessageW(about, WM_CAPTURECHANGED, 0, 0);
        else
            SendMessageW(about, WM_KEYDOWN, VK_ESCAPE, 0);

        EXPECT_EQ(AboutNothing, aboutState.pressTarget);
        EXPECT_EQ(nullptr, GetCapture());
        EXPECT_EQ(c.staysOpen, IsWindow(about) != FALSE);
        EXPECT_EQ(1, app.showAtStartup) << "nothing toggled";
        if (!IsWindow(about))
            continue;
        EXPECT_FALSE(IsIconic(about)) << "nothing minimized";
        // With no button held the window no longer follows the pointer.
        RECT before = WindowRect();
        Move(about, 300, 200);
        EXPECT_EQ(Describe(before), Describe(WindowRect()));
        DestroyWindow(about);
    }
}

TEST_F(AboutWindowTest, EachWindowStartsWithNothingHeld)
{
    HWND first = OpenAbout();
    Press(first, 546, 18);
    Move(first, 520, 18, MK_LBUTTON);
    aboutState.minimizeLook = Hover;
    DestroyWindow(first);

    OpenAbout();
    EXPECT_EQ(AboutNothing, aboutState.pressTarget);
    EXPECT_EQ(Normal, aboutState.closeLook);
    EXPECT_EQ(Normal, aboutState.minimizeLook);
}
