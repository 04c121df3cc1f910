#include "shell_recorder.h"

#include <cstdio>

#include "window_capture.h"

namespace {
ShellRecorder* current = nullptr;
}

BOOL WINAPI RecordNotifyIcon(DWORD message, PNOTIFYICONDATAW data)
{
    HICON copy = (data->uFlags & NIF_ICON) && data->hIcon ? CopyIcon(data->hIcon) : nullptr;
    if (copy)
        current->copies_.push_back(copy);
    current->calls.push_back({message, *data, copy});
    return current->failures.NextCallFails() ? FALSE : TRUE;
}

namespace {

BOOL WINAPI RecordTrackPopupMenuEx(HMENU menu, UINT flags, int x, int y, HWND owner, LPTPMPARAMS)
{
    TrackedMenu tracked = {flags, x, y, owner, {}};
    int count = GetMenuItemCount(menu);
    for (int position = 0; position < count; ++position) {
        wchar_t text[200] = L"";
        MENUITEMINFOW info = {};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_ID | MIIM_STATE | MIIM_FTYPE | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = ARRAYSIZE(text);
        GetMenuItemInfoW(menu, position, TRUE, &info);
        tracked.items.push_back({info.wID, text, info.fType, info.fState});
    }
    current->menus.push_back(tracked);
    return 0; // as if the user closed the menu without a choice
}

const char* MessageName(DWORD message)
{
    switch (message) {
    case NIM_ADD: return "NIM_ADD";
    case NIM_MODIFY: return "NIM_MODIFY";
    case NIM_DELETE: return "NIM_DELETE";
    default: return "NIM_?";
    }
}

std::string Narrow(const wchar_t* text)
{
    std::string narrow;
    for (; *text; ++text)
        narrow += *text < 0x80 ? static_cast<char>(*text) : '?';
    return narrow;
}

} // namespace

std::string NotifyCall::Describe() const
{
    char text[200];
    std::snprintf(text, sizeof(text), "%s size %lu id %u flags 0x%X", MessageName(message),
                  static_cast<unsigned long>(data.cbSize), data.uID, data.uFlags);
    std::string description = text;
    if (data.uFlags & NIF_MESSAGE) {
        std::snprintf(text, sizeof(text), " callback 0x%X", data.uCallbackMessage);
        description += text;
    }
    if (data.uFlags & NIF_TIP)
        description += " tip '" + Narrow(data.szTip) + "'";
    if (data.uFlags & NIF_ICON)
        description += data.hIcon ? " icon" : " no icon";
    return description;
}

ShellRecorder::ShellRecorder()
    : notifyHook_("shell32.dll", "Shell_NotifyIconW", reinterpret_cast<void*>(&RecordNotifyIcon)),
      trackHook_("user32.dll", "TrackPopupMenuEx", reinterpret_cast<void*>(&RecordTrackPopupMenuEx))
{
    current = this;
}

ShellRecorder::~ShellRecorder()
{
    current = nullptr;
    for (HICON copy : copies_)
        DestroyIcon(copy);
}

namespace {

void AppendPixels(HBITMAP bitmap, std::vector<uint32_t>& pixels)
{
    BITMAP size = {};
    if (!bitmap || !GetObjectW(bitmap, sizeof(size), &size))
        return;
    BITMAPINFO info = TopDownBitmapInfo(size.bmWidth, size.bmHeight);
    std::vector<uint32_t> rows(static_cast<size_t>(size.bmWidth) * size.bmHeight);
    HDC screen = GetDC(nullptr);
    GetDIBits(screen, bitmap, 0, size.bmHeight, rows.data(), &info, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    pixels.push_back(static_cast<uint32_t>(size.bmWidth) << 16 | static_cast<uint32_t>(size.bmHeight));
    pixels.insert(pixels.end(), rows.begin(), rows.end());
}

} // namespace

std::vector<uint32_t> IconPixels(HICON icon)
{
    std::vector<uint32_t> pixels;
    ICONINFO info = {};
    if (!icon || !GetIconInfo(icon, &info))
        return pixels;
    AppendPixels(info.hbmColor, pixels);
    AppendPixels(info.hbmMask, pixels);
    if (info.hbmColor)
        DeleteObject(info.hbmColor);
    if (info.hbmMask)
        DeleteObject(info.hbmMask);
    return pixels;
}

std::vector<std::string> ShellRecorder::Described() const
{
    std::vector<std::string> described;
    for (const NotifyCall& call : calls)
        described.push_back(call.Describe());
    return described;
}
