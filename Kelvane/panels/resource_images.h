// Pictures from the program's PNG resources, and the text conventions the
// drawn windows share.
#pragma once

#include <windows.h>
// GDI+ wants min/max, which NOMINMAX takes away from windows.h.
#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}
#include <gdiplus.h>

// The twelve loaded images, in load order.
enum ImageRole {
    PanelBackground,
    RadioSelected,
    RadioUnselected,
    AboutBackground,
    CheckBoxChecked,
    CheckBoxUnchecked,
    CloseNormal,
    ClosePressed,
    CloseHover,
    MinimizeNormal,
    MinimizePressed,
    MinimizeHover,
    kImageRoleCount
};

// PNG resource id of each role, and of its double-size picture.
extern const WORD kImageResourceIds[kImageRoleCount];
extern const WORD kLargeImageResourceIds[kImageRoleCount];

enum ButtonLook { Normal = 0, Hover = 1, Pressed = 2 };

// A new image decoded from the "PNG" resource id, owned by the caller, or
// null (the reason is logged). The image does not depend on the resource's
// memory once this returns.
Gdiplus::Image* LoadFromReaource(WORD id);

// Deletes an image made by LoadFromReaource; null is ignored.
void DeleteImage(Gdiplus::Image* image);

// Draws the image scaled into (x, y, width, height); a null image draws
// nothing and the paint goes on, and so does any image under high contrast.
// A disabled control's picture is drawn faded.
void DrawImageInto(Gdiplus::Graphics& graphics, Gdiplus::Image* image, int x, int y, int width, int height,
                   bool faded = false);

// The picture a window at dpi draws for role: above 125 % the double-size
// one (all twelve are loaded the first time one is wanted), else, or when
// it could not be loaded, the loaded one of the controller.
Gdiplus::Image* PictureFor(ImageRole role, UINT dpi);

// Frees both sets of pictures; the large ones may be loaded again later.
void DeleteAllPictures();

// Pictures scaled up for a display above 96 DPI are smoothed.
void SetPictureQuality(Gdiplus::Graphics& graphics, UINT dpi);

// The one way the drawn windows make fonts; the face comes from string 128.
HFONT CreateUiFont(int height, int weight, BOOL underline);

// Width of the text in the font selected into dc.
int TextWidth(HDC dc, const wchar_t* text);

// Gives a drawn button its look and repaints its rectangle (no erase) only
// when the look changed.
void SetButtonLook(HWND window, ButtonLook& look, ButtonLook value, const RECT& rect);

// True when the user's UI language is Arabic or Hebrew.
bool IsRightToLeftUi();

// True while a high-contrast theme is on: the drawn windows then use the
// system colours instead of their pictures.
bool IsHighContrast();
// Text colour: the window's own, or the given system colour under high
// contrast.
COLORREF LookColour(COLORREF own, int systemColour);

// Hit-testing of the drawn windows: a rectangle includes all four edges.
inline bool Contains(const RECT& rect, int x, int y)
{
    return rect.left <= x && x <= rect.right && rect.top <= y && y <= rect.bottom;
}

inline RECT Grown(const RECT& rect, int by)
{
    return {rect.left - by, rect.top - by, rect.right + by, rect.bottom + by};
}
