// Draws the mode panel and the About window from the linked resources the
// way the program paints them, in the user's UI language, and saves both as
// PNG files: a look at pictures and translations together, under Wine or on
// Windows. Usage: kelvane_resource_preview.exe OUTPUT_FOLDER (a Windows path)
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "resource_ids.h"

namespace {

HINSTANCE instance;

std::wstring Text(UINT id, int capacity)
{
    std::wstring buffer(static_cast<size_t>(capacity), L'\0');
    int length = LoadStringW(instance, id, &buffer[0], capacity);
    buffer.resize(length > 0 ? static_cast<size_t>(length) : 0);
    return buffer;
}

bool IsRightToLeft()
{
    LANGID primary = GetUserDefaultUILanguage() & 0x3FF;
    return primary == LANG_ARABIC || primary == LANG_HEBREW;
}

Gdiplus::Bitmap* Picture(UINT id)
{
    HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(id), L"PNG");
    if (!found)
        return nullptr;
    DWORD size = SizeofResource(instance, found);
    const void* bytes = LockResource(LoadResource(instance, found));
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!bytes || !block)
        return nullptr;
    CopyMemory(GlobalLock(block), bytes, size);
    GlobalUnlock(block);
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(block, TRUE, &stream))) {
        GlobalFree(block);
        return nullptr;
    }
    // A copy that no longer needs the stream.
    Gdiplus::Bitmap decoded(stream);
    Gdiplus::Bitmap* copy = decoded.Clone(0, 0, decoded.GetWidth(), decoded.GetHeight(), PixelFormat32bppARGB);
    stream->Release();
    return copy;
}

void Draw(Gdiplus::Graphics& graphics, UINT id, int x, int y, int width, int height)
{
    Gdiplus::Bitmap* picture = Picture(id);
    if (picture)
        graphics.DrawImage(picture, Gdiplus::RectF(float(x), float(y), float(width), float(height)));
    delete picture;
}

// A font for one step, as the program makes it.
class UiFont {
public:
    UiFont(HDC dc, int height, int weight, bool underline = false) : dc_(dc)
    {
        font_ = CreateFontW(height, 0, 0, 0, weight, FALSE, underline, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                            CLIP_DEFAULT_PRECIS, PROOF_QUALITY, DEFAULT_PITCH | FF_SWISS,
                            Text(IDS_FONT_FACE, 100).c_str());
        previous_ = SelectObject(dc_, font_);
    }
    ~UiFont()
    {
        SelectObject(dc_, previous_);
        DeleteObject(font_);
    }
    UiFont(const UiFont&) = delete;
    UiFont& operator=(const UiFont&) = delete;

private:
    HDC dc_;
    HFONT font_;
    HGDIOBJ previous_;
};

int Width(HDC dc, const std::wstring& text)
{
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    return size.cx;
}

void Out(HDC dc, int x, int y, const std::wstring& text)
{
    TextOutW(dc, x, y, text.c_str(), static_cast<int>(text.size()));
}

void Paragraph(HDC dc, RECT box, const std::wstring& text, bool rtl)
{
    DrawTextW(dc, text.c_str(), -1, &box, rtl ? 0x20012 : DT_WORDBREAK);
}

// Renders into a 32-bit DIB and hands it to paint(dc, graphics).
template <class Paint>
bool Save(const std::wstring& path, int width, int height, Paint paint)
{
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP dib = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(dc, dib);
    {
        Gdiplus::Graphics graphics(dc);
        paint(dc, graphics);
    }
    GdiFlush();
    SelectObject(dc, previous);
    // The window has no alpha of its own: save it opaque.
    Gdiplus::Bitmap shot(width, height, width * 4, PixelFormat32bppRGB, static_cast<BYTE*>(bits));
    CLSID png;
    CLSIDFromString(L"{557CF406-1A04-11D3-9A73-0000F81EF32E}", &png);
    bool saved = shot.Save(path.c_str(), &png, nullptr) == Gdiplus::Ok;
    DeleteObject(dib);
    DeleteDC(dc);
    return saved;
}

struct PanelLayout {
    int width, height, xOn, xOff, labelY, radioTop, linkY;
};

// The default layout, and the one computed for labels 37 px or wider.
PanelLayout LayoutFor(int w)
{
    if (w + 14 <= 50)
        return {150, 130, 50, 100, 50, 72, 100};
    int width = 2 * w + 56, height = 130;
    if (width <= 150)
        width = 150;
    else
        height = static_cast<int>(static_cast<float>(width) * 0.8666667f);
    int half = width / 2, quarter = half / 2, e = height / 5;
    return {width, height, quarter + 7, width - quarter - 7, 2 * e - 8, 3 * e - 8, 4 * e - 2};
}

void PaintPanel(HDC dc, Gdiplus::Graphics& graphics, const PanelLayout& layout)
{
    bool rtl = IsRightToLeft();
    Draw(graphics, IDP_PANEL_BACKGROUND, 0, 0, layout.width, layout.height);
    Draw(graphics, IDP_RADIO_SELECTED, layout.xOn - 8, layout.radioTop, 16, 16);
    Draw(graphics, IDP_RADIO_UNSELECTED, layout.xOff - 8, layout.radioTop, 16, 16);
    SetBkMode(dc, TRANSPARENT);
    SetTextAlign(dc, rtl ? 0x106 : TA_CENTER);
    {
        UiFont font(dc, 16, 400);
        SetTextColor(dc, RGB(255, 255, 255));
        Out(dc, layout.xOn, layout.labelY, Text(IDS_MODE_ON, 20));
        Out(dc, layout.xOff, layout.labelY, Text(IDS_MODE_OFF, 20));
    }
    UiFont font(dc, 14, 400);
    SetTextColor(dc, RGB(102, 217, 255));
    Out(dc, layout.width / 2, layout.linkY, Text(IDS_ABOUT_LINK, 20));
}

void PaintAbout(HDC dc, Gdiplus::Graphics& graphics)
{
    bool rtl = IsRightToLeft();
    Draw(graphics, IDP_ABOUT_BACKGROUND, 0, 0, 572, 458);
    Draw(graphics, IDP_CLOSE_NORMAL, rtl ? 20 : 540, 12, 12, 12);
    Draw(graphics, IDP_MINIMIZE_NORMAL, rtl ? 46 : 514, 20, 12, 4);
    SetBkMode(dc, TRANSPARENT);
    UINT align = rtl ? 0x102 : 0;
    int anchor = rtl ? 532 : 145;
    {
        UiFont font(dc, 20, 700);
        SetTextColor(dc, RGB(255, 255, 255));
        SetTextAlign(dc, align);
        Out(dc, rtl ? 532 : 40, 62, Text(IDS_ABOUT_TITLE, 100));
    }
    {
        UiFont font(dc, 16, 400);
        SetTextColor(dc, RGB(242, 242, 242));
        SetTextAlign(dc, 0);
        Paragraph(dc, {40, 86, 532, 175}, Text(IDS_ABOUT_DESCRIPTION, 500), rtl);
    }
    {
        UiFont font(dc, 16, 700);
        SetTextAlign(dc, align);
        Out(dc, anchor, 175, Text(IDS_MODE_ON, 20));
        Out(dc, anchor, 299, Text(IDS_MODE_OFF, 20));
    }
    {
        UiFont font(dc, 14, 400);
        SetTextColor(dc, RGB(220, 220, 220));
        SetTextAlign(dc, 0);
        Paragraph(dc, {145, 193, 532, 299}, Text(IDS_ABOUT_ON_TEXT, 500), rtl);
        Paragraph(dc, {145, 317, 532, 423}, Text(IDS_ABOUT_OFF_TEXT, 500), rtl);
    }
    UiFont font(dc, 16, 400);
    SetTextColor(dc, RGB(200, 200, 200));
    std::wstring label = Text(IDS_SHOW_AT_STARTUP, 100);
    int l = Width(dc, label);
    SetTextAlign(dc, align);
    Out(dc, rtl ? l + 40 : 532 - l, 430, label);
    Out(dc, rtl ? 522 : 50, 430, Text(IDS_VERSION, 100));
    Draw(graphics, IDP_CHECKBOX_CHECKED, rtl ? l + 50 : 532 - l - 28, 427, 18, 18);
}

} // namespace

int main(int argc, char** argv)
{
    instance = GetModuleHandleW(nullptr);
    wchar_t folder[MAX_PATH] = L".";
    if (argc > 1)
        MultiByteToWideChar(CP_ACP, 0, argv[1], -1, folder, MAX_PATH);
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok)
        return 2;

    // The panel's layout follows its widest label, measured as the program does.
    HDC measure = CreateCompatibleDC(nullptr);
    int w = 0;
    {
        UiFont font(measure, 16, 400);
        w = std::max(Width(measure, Text(IDS_MODE_ON, 20)), Width(measure, Text(IDS_MODE_OFF, 20)));
    }
    DeleteDC(measure);
    PanelLayout layout = LayoutFor(w);
    bool ok = Save(std::wstring(folder) + L"\\panel.png", layout.width, layout.height,
                   [&](HDC dc, Gdiplus::Graphics& graphics) { PaintPanel(dc, graphics, layout); });
    ok = Save(std::wstring(folder) + L"\\about.png", 572, 458, PaintAbout) && ok;
    std::printf("UI language 0x%04X, widest label %d px, panel %d x %d: %s\n", GetUserDefaultUILanguage(), w,
                layout.width, layout.height, ok ? "saved" : "FAILED");
    Gdiplus::GdiplusShutdown(token);
    return ok ? 0 : 1;
}
