#include "high_contrast.h"

#include "about_window.h"
#include "app_state.h"
#include "mode_panel.h"
#include "scoped_gdi.h"

namespace {

using ScopedBrush = ScopedGdiObject<HBRUSH>;
using ScopedPen = ScopedGdiObject<HPEN>;

// The layout's rectangles include their right and bottom edges; the
// pictures are drawn into their width and height, and so is this.
int Width(const RECT& rect)
{
    return rect.right - rect.left;
}

int Height(const RECT& rect)
{
    return rect.bottom - rect.top;
}

void FillSystemColour(HDC dc, const RECT& rect, int colour)
{
    FillRect(dc, &rect, GetSysColorBrush(colour));
}

// An outline in the text colour (the disabled text colour for a control
// that does nothing), filled with the window colour.
void DrawShape(HDC dc, const RECT& rect, bool round, bool disabled)
{
    const int pen = Width(rect) / 8 > 1 ? Width(rect) / 8 : 1;
    ScopedPen outline(CreatePen(PS_SOLID, pen, GetSysColor(disabled ? COLOR_GRAYTEXT : COLOR_WINDOWTEXT)));
    ScopedSelection selectPen(dc, outline.Get());
    ScopedSelection selectBrush(dc, GetSysColorBrush(COLOR_WINDOW));
    if (round)
        Ellipse(dc, rect.left, rect.top, rect.right, rect.bottom);
    else
        Rectangle(dc, rect.left, rect.top, rect.right, rect.bottom);
}

void DrawRadio(HDC dc, const RECT& rect, bool selected, bool disabled)
{
    DrawShape(dc, rect, true, disabled);
    if (selected) {
        const int inset = Width(rect) / 4;
        ScopedSelection selectPen(dc, GetStockObject(NULL_PEN));
        ScopedSelection selectBrush(dc, GetSysColorBrush(disabled ? COLOR_GRAYTEXT : COLOR_HIGHLIGHT));
        Ellipse(dc, rect.left + inset, rect.top + inset, rect.right - inset + 1, rect.bottom - inset + 1);
    }
}

void DrawCheckBox(HDC dc, const RECT& rect, bool checked, bool disabled)
{
    DrawShape(dc, rect, false, disabled);
    if (!checked)
        return;
    const int w = Width(rect);
    const int h = Height(rect);
    ScopedPen tick(CreatePen(PS_SOLID, w / 6 > 1 ? w / 6 : 1, GetSysColor(disabled ? COLOR_GRAYTEXT : COLOR_HIGHLIGHT)));
    ScopedSelection selectPen(dc, tick.Get());
    const POINT points[] = {
        {rect.left + w / 5, rect.top + h / 2},
        {rect.left + w * 2 / 5, rect.top + h * 3 / 4},
        {rect.left + w * 4 / 5, rect.top + h / 4},
    };
    Polyline(dc, points, ARRAYSIZE(points));
}

// A button's glyph in the text colour, or in the highlight colours while
// the pointer is over it or it is held.
void DrawButton(HDC dc, const RECT& rect, ButtonLook look, bool close)
{
    int glyph = COLOR_WINDOWTEXT;
    if (look != Normal) {
        FillSystemColour(dc, rect, COLOR_HIGHLIGHT);
        glyph = COLOR_HIGHLIGHTTEXT;
    }
    const int w = Width(rect);
    const int h = Height(rect);
    if (!close) {
        // The bar sits in the lowest third, as in the picture.
        const RECT bar = {rect.left, rect.top + h * 2 / 3, rect.right, rect.bottom};
        FillSystemColour(dc, bar, glyph);
        return;
    }
    ScopedPen pen(CreatePen(PS_SOLID, w / 6 > 1 ? w / 6 : 1, GetSysColor(glyph)));
    ScopedSelection selectPen(dc, pen.Get());
    MoveToEx(dc, rect.left, rect.top, nullptr);
    LineTo(dc, rect.right, rect.bottom);
    MoveToEx(dc, rect.right - 1, rect.top, nullptr);
    LineTo(dc, rect.left - 1, rect.bottom);
}

} // namespace

void FillInSystemColours(HDC dc, const RECT& background)
{
    if (!IsHighContrast())
        return;
    FillSystemColour(dc, background, COLOR_WINDOW);
    FrameRect(dc, &background, GetSysColorBrush(COLOR_WINDOWTEXT));
}

void DrawModePanelRadiosInSystemColours(HDC dc)
{
    if (!IsHighContrast())
        return;
    const bool on = modePanelState.shownMode == On;
    DrawRadio(dc, modePanelLayout.onRadio, on, ModeIsEnforced());
    DrawRadio(dc, modePanelLayout.offRadio, !on, ModeIsEnforced());
}

void DrawAboutControlsInSystemColours(HDC dc)
{
    if (!IsHighContrast())
        return;
    DrawButton(dc, aboutLayout.close, aboutState.closeLook, true);
    DrawButton(dc, aboutLayout.minimize, aboutState.minimizeLook, false);
    DrawCheckBox(dc, aboutLayout.checkBox, ShowsIconAtStartup() != 0, app.policy.showIconSet);
}
