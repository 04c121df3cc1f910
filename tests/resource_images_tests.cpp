// Pictures from the program's PNG resources, drawing with null images, and
// the text conventions of the drawn windows.
#include <windows.h>

#include <string>
#include <vector>

#include "app_state.h"
#include "log_reader.h"
#include "resource_faults.h"
#include "resource_images.h"
#include "tray_fixture.h"

using Lines = std::vector<std::string>;

namespace {

class ResourceImagesTest : public TrayTest {
protected:
    void SetUp() override
    {
        TrayTest::SetUp();
        Gdiplus::GdiplusStartupInput input;
        Gdiplus::GdiplusStartup(&token_, &input, nullptr);
    }
    void TearDown() override
    {
        Gdiplus::GdiplusShutdown(token_);
        TrayTest::TearDown();
    }
    ULONG_PTR token_ = 0;
};

struct Expected {
    ImageRole role;
    UINT width, height;
};

} // namespace

TEST_F(ResourceImagesTest, EveryImageDecodesAtItsSize)
{
    const Expected images[] = {
        {PanelBackground, 150, 130}, {RadioSelected, 16, 16},    {RadioUnselected, 16, 16},
        {AboutBackground, 574, 458}, {CheckBoxChecked, 18, 18},  {CheckBoxUnchecked, 20, 20},
        {CloseNormal, 12, 12},       {ClosePressed, 12, 12},     {CloseHover, 12, 12},
        {MinimizeNormal, 12, 4},     {MinimizePressed, 12, 4},   {MinimizeHover, 12, 4},
    };
    for (const Expected& expected : images) {
        SCOPED_TRACE(kImageResourceIds[expected.role]);
        Gdiplus::Image* image = LoadFromReaource(kImageResourceIds[expected.role]);
        ASSERT_TRUE(image != nullptr);
        EXPECT_EQ(expected.width, image->GetWidth());
        EXPECT_EQ(expected.height, image->GetHeight());
        DeleteImage(image);
    }
    EXPECT_EQ(Lines{}, ReadLogMessages());
}

TEST_F(ResourceImagesTest, ImageOutlivesTheResourceBytes)
{
    // The image must not read memory that LoadFromReaource released: draw
    // it long after the load and look at a pixel.
    Gdiplus::Image* image = LoadFromReaource(kImageResourceIds[PanelBackground]);
    ASSERT_TRUE(image != nullptr);
    for (int i = 0; i < 50; ++i)
        DeleteImage(LoadFromReaource(kImageResourceIds[AboutBackground]));

    Gdiplus::Bitmap canvas(150, 130, PixelFormat32bppARGB);
    {
        Gdiplus::Graphics graphics(&canvas);
        DrawImageInto(graphics, image, 0, 0, 150, 130);
    }
    Gdiplus::Color drawn, original;
    canvas.GetPixel(75, 65, &drawn);
    static_cast<Gdiplus::Bitmap*>(image)->GetPixel(75, 65, &original);
    EXPECT_EQ(original.GetValue(), drawn.GetValue());
    EXPECT_NE(0u, drawn.GetAlpha());
    DeleteImage(image);
}

TEST_F(ResourceImagesTest, FailedLoadsAreLoggedAndGiveNull)
{
    EXPECT_EQ(nullptr, LoadFromReaource(IDP_TEST_NOT_AN_IMAGE + 1)) << "no such resource";
    ASSERT_TRUE(FindResourceW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDP_TEST_NOT_AN_IMAGE), L"PNG"));
    EXPECT_EQ(nullptr, LoadFromReaource(IDP_TEST_NOT_AN_IMAGE)) << "not an image";

    EXPECT_EQ((Lines{"LoadFromReaource(): FindResource() failed\n", "LoadFromReaource(): GlobalAlloc() failed\n"}),
              ReadLogMessages());
}

TEST_F(ResourceImagesTest, NullImageDrawsNothingAndThePaintGoesOn)
{
    const Gdiplus::ARGB ground = Gdiplus::Color(255, 1, 2, 3).GetValue();
    Gdiplus::Bitmap canvas(20, 20, PixelFormat32bppARGB), natural(20, 20, PixelFormat32bppARGB);
    Gdiplus::Image* check = LoadFromReaource(kImageResourceIds[CheckBoxUnchecked]);
    ASSERT_TRUE(check != nullptr);
    {
        Gdiplus::Graphics graphics(&canvas);
        graphics.Clear(Gdiplus::Color(ground));
        DrawImageInto(graphics, nullptr, 0, 0, 20, 20);
        // The 20 x 20 picture goes into the 18 x 18 box of the About window.
        DrawImageInto(graphics, check, 0, 0, 18, 18);
        Gdiplus::Graphics unscaled(&natural);
        unscaled.Clear(Gdiplus::Color(ground));
        DrawImageInto(unscaled, check, 0, 0, 20, 20);
    }
    DeleteImage(check);

    Gdiplus::Color inBox;
    canvas.GetPixel(15, 10, &inBox);
    EXPECT_NE(ground, inBox.GetValue()) << std::hex << inBox.GetValue();
    // The picture's right and bottom borders lie in column and row 17 at its
    // own size, inside them when shrunk.
    const POINT borders[] = {{17, 10}, {10, 17}};
    for (const POINT& border : borders) {
        SCOPED_TRACE(std::to_string(border.x) + "," + std::to_string(border.y));
        Gdiplus::Color shrunk, unscaled;
        canvas.GetPixel(border.x, border.y, &shrunk);
        natural.GetPixel(border.x, border.y, &unscaled);
        EXPECT_NE(ground, unscaled.GetValue()) << "the unscaled picture covers it";
        EXPECT_EQ(ground, shrunk.GetValue()) << std::hex << shrunk.GetValue();
    }
}

TEST_F(ResourceImagesTest, FontsComeFromTheStringTableFace)
{
    HFONT font = CreateUiFont(16, 700, TRUE);
    ASSERT_TRUE(font != nullptr);
    LOGFONTW description = {};
    GetObjectW(font, sizeof(description), &description);
    EXPECT_EQ(std::wstring(L"Arial"), description.lfFaceName);
    EXPECT_EQ(16, description.lfHeight);
    EXPECT_EQ(700, description.lfWeight);
    EXPECT_EQ(1, description.lfUnderline);
    EXPECT_EQ(0, description.lfItalic);
    EXPECT_EQ(DEFAULT_CHARSET, description.lfCharSet);
    EXPECT_EQ(PROOF_QUALITY, description.lfQuality);
    EXPECT_EQ(DEFAULT_PITCH | FF_SWISS, description.lfPitchAndFamily);
    DeleteObject(font);
}

// CTest runs this one under Arabic, Hebrew, Japanese, Chinese, Korean and
// English user interfaces, with the reading direction each must give.
TEST_F(ResourceImagesTest, RightToLeftFollowsTheUserInterfaceLanguage)
{
    EXPECT_EQ(ExpectedRightToLeft(), IsRightToLeftUi()) << "UI language 0x" << std::hex << GetUserDefaultUILanguage();
}
