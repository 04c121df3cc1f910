#include "resource_images.h"

#include <objidl.h>

#include <cstring>
#include <utility>

#include "app_state.h"
#include "dpi.h"
#include "diagnostic_log.h"
#include "resource_ids.h"
#include "scoped_com.h"

const WORD kImageResourceIds[kImageRoleCount] = {
    IDP_PANEL_BACKGROUND, IDP_RADIO_SELECTED,  IDP_RADIO_UNSELECTED, IDP_ABOUT_BACKGROUND,
    IDP_CHECKBOX_CHECKED, IDP_CHECKBOX_UNCHECKED,  IDP_CLOSE_NORMAL,     IDP_CLOSE_PRESSED,
    IDP_CLOSE_HOVER,      IDP_MINIMIZE_NORMAL, IDP_MINIMIZE_PRESSED, IDP_MINIMIZE_HOVER,
};

const WORD kLargeImageResourceIds[kImageRoleCount] = {
    IDP_PANEL_BACKGROUND_2X, IDP_RADIO_SELECTED_2X,    IDP_RADIO_UNSELECTED_2X, IDP_ABOUT_BACKGROUND_2X,
    IDP_CHECKBOX_CHECKED_2X, IDP_CHECKBOX_UNCHECKED_2X, IDP_CLOSE_NORMAL_2X,     IDP_CLOSE_PRESSED_2X,
    IDP_CLOSE_HOVER_2X,      IDP_MINIMIZE_NORMAL_2X,    IDP_MINIMIZE_PRESSED_2X, IDP_MINIMIZE_HOVER_2X,
};

namespace {

// GDI+ may read a picture decoded from a stream again at any later draw, so
// the stream, and the memory block it frees on its last release, live as
// long as the picture: a base class, made before the picture and released
// after it.
struct PictureBytes {
    ComPtr<IStream> stream;
};

class ResourcePicture : private PictureBytes, public Gdiplus::Bitmap {
public:
    explicit ResourcePicture(ComPtr<IStream> bytes) : PictureBytes{std::move(bytes)}, Gdiplus::Bitmap(stream.Get())
    {
    }
};

Gdiplus::Image* DecodeFromMemory(const void* bytes, DWORD size)
{
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!block)
        return nullptr;
    void* target = GlobalLock(block);
    if (!target) {
        GlobalFree(block);
        return nullptr;
    }
    std::memcpy(target, bytes, size);
    GlobalUnlock(block);

    ComPtr<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(block, TRUE, stream.Put()))) {
        GlobalFree(block);
        return nullptr;
    }
    // The stream owns the block from here on.
    auto* image = new ResourcePicture(std::move(stream));
    if (image->GetLastStatus() != Gdiplus::Ok) {
        delete image;
        return nullptr;
    }
    return image;
}

} // namespace

Gdiplus::Image* LoadFromReaource(WORD id)
{
    HRSRC resource = FindResourceW(app.instance, MAKEINTRESOURCEW(id), L"PNG");
    if (!resource) {
        WriteLog("LoadFromReaource(): FindResource() failed\n");
        return nullptr;
    }
    DWORD size = SizeofResource(app.instance, resource);
    if (size == 0) {
        WriteLog("LoadFromReaource(): SizeofResource() failed\n");
        return nullptr;
    }
    HGLOBAL loaded = LoadResource(app.instance, resource);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) {
        WriteLog("LoadFromReaource(): LockResource() failed\n");
        return nullptr;
    }

    Gdiplus::Image* image = DecodeFromMemory(bytes, size);
    if (!image)
        WriteLog("LoadFromReaource(): GlobalAlloc() failed\n");
    return image;
}

void DeleteImage(Gdiplus::Image* image)
{
    delete image;
}

void DrawImageInto(Gdiplus::Graphics& graphics, Gdiplus::Image* image, int x, int y, int width, int height,
                   bool faded)
{
    // GdipDrawImageRect; a null image fails there and draws nothing.
    if (IsHighContrast())
        return;
    if (faded && image) {
        // Two fifths of the alpha, as a disabled control looks.
        Gdiplus::ColorMatrix matrix = {{{1, 0, 0, 0, 0}, {0, 1, 0, 0, 0}, {0, 0, 1, 0, 0}, {0, 0, 0, 0.4f, 0},
                                        {0, 0, 0, 0, 1}}};
        Gdiplus::ImageAttributes attributes;
        attributes.SetColorMatrix(&matrix);
        graphics.DrawImage(image, Gdiplus::Rect(x, y, width, height), 0, 0, static_cast<INT>(image->GetWidth()),
                           static_cast<INT>(image->GetHeight()), Gdiplus::UnitPixel, &attributes);
        return;
    }
    graphics.DrawImage(image, static_cast<Gdiplus::REAL>(x), static_cast<Gdiplus::REAL>(y),
                       static_cast<Gdiplus::REAL>(width), static_cast<Gdiplus::REAL>(height));
}

Gdiplus::Image* PictureFor(ImageRole role, UINT dpi)
{
    if (!WantsLargePictures(dpi))
        return app.images[role];
    // Loaded once, and only on a display that wants them: the About
    // background alone is 4 MB decoded.
    if (!app.largeImagesLoaded) {
        for (int each = 0; each < kImageRoleCount; ++each)
            app.largeImages[each] = LoadFromReaource(kLargeImageResourceIds[each]);
        app.largeImagesLoaded = true;
    }
    return app.largeImages[role] ? app.largeImages[role] : app.images[role];
}

void DeleteAllPictures()
{
    for (int role = 0; role < kImageRoleCount; ++role) {
        DeleteImage(app.images[role]);
        app.images[role] = nullptr;
        DeleteImage(app.largeImages[role]);
        app.largeImages[role] = nullptr;
    }
    app.largeImagesLoaded = false;
}

void SetPictureQuality(Gdiplus::Graphics& graphics, UINT dpi)
{
    if (dpi > kBaseDpi) {
        graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
        graphics.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHighQuality);
    }
}

HFONT CreateUiFont(int height, int weight, BOOL underline)
{
    wchar_t face[100] = L"";
    LoadStringW(app.instance, IDS_FONT_FACE, face, ARRAYSIZE(face));
    return CreateFontW(height, 0, 0, 0, weight, FALSE, underline, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, PROOF_QUALITY, DEFAULT_PITCH | FF_SWISS, face);
}

bool IsRightToLeftUi()
{
    LANGID primary = GetUserDefaultUILanguage() & 0x3FF;
    return primary == LANG_ARABIC || primary == LANG_HEBREW;
}

int TextWidth(HDC dc, const wchar_t* text)
{
    SIZE size = {};
    GetTextExtentPoint32W(dc, text, lstrlenW(text), &size);
    return size.cx;
}

void SetButtonLook(HWND window, ButtonLook& look, ButtonLook value, const RECT& rect)
{
    if (look != value) {
        look = value;
        InvalidateRect(window, &rect, FALSE);
    }
}

bool IsHighContrast()
{
    HIGHCONTRASTW contrast = {};
    contrast.cbSize = sizeof(contrast);
    return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0) &&
           (contrast.dwFlags & HCF_HIGHCONTRASTON);
}

COLORREF LookColour(COLORREF own, int systemColour)
{
    return IsHighContrast() ? GetSysColor(systemColour) : own;
}
