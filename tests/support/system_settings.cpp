#include "system_settings.h"

#include <windows.h>

#include <memory>

#include "import_hook.h"

namespace {

using SystemParametersInfoFunction = BOOL(WINAPI*)(UINT, UINT, void*, UINT);

std::unique_ptr<ImportHook> hook;
DWORD contrastFlags = 0;
BOOL keyboardCues = FALSE;

// Switching high contrast on brings its colour scheme, as on Windows: here
// the colours of "High Contrast Black"; switching off brings the old ones back.
const INT kSchemeElements[] = {COLOR_WINDOW, COLOR_WINDOWTEXT, COLOR_HIGHLIGHT, COLOR_HIGHLIGHTTEXT, COLOR_HOTLIGHT};
const COLORREF kHighContrastBlack[] = {RGB(0, 0, 0), RGB(255, 255, 255), RGB(26, 235, 255), RGB(0, 0, 0),
                                       RGB(255, 255, 0)};
COLORREF savedColours[ARRAYSIZE(kSchemeElements)];
bool schemeApplied = false;

void ApplyScheme(bool on)
{
    if (on == schemeApplied)
        return;
    if (on) {
        for (size_t i = 0; i < ARRAYSIZE(kSchemeElements); ++i)
            savedColours[i] = GetSysColor(kSchemeElements[i]);
    }
    SetSysColors(ARRAYSIZE(kSchemeElements), kSchemeElements, on ? kHighContrastBlack : savedColours);
    schemeApplied = on;
}

BOOL CALLBACK SendSettingChange(HWND window, LPARAM action)
{
    SendMessageW(window, WM_SETTINGCHANGE, static_cast<WPARAM>(action), 0);
    return TRUE;
}

BOOL WINAPI SimulatedSystemParametersInfo(UINT action, UINT size, void* value, UINT flags)
{
    switch (action) {
    case SPI_GETHIGHCONTRAST:
    case SPI_SETHIGHCONTRAST: {
        auto* contrast = static_cast<HIGHCONTRASTW*>(value);
        if (!contrast || contrast->cbSize != sizeof(HIGHCONTRASTW))
            return FALSE;
        if (action == SPI_GETHIGHCONTRAST) {
            contrast->dwFlags = contrastFlags;
            contrast->lpszDefaultScheme = nullptr;
            return TRUE;
        }
        contrastFlags = contrast->dwFlags;
        ApplyScheme((contrastFlags & HCF_HIGHCONTRASTON) != 0);
        if (flags & SPIF_SENDCHANGE)
            EnumThreadWindows(GetCurrentThreadId(), SendSettingChange, SPI_SETHIGHCONTRAST);
        return TRUE;
    }
    case SPI_GETKEYBOARDCUES:
        if (!value)
            return FALSE;
        *static_cast<BOOL*>(value) = keyboardCues;
        return TRUE;
    }
    return hook->Original<SystemParametersInfoFunction>()(action, size, value, flags);
}

} // namespace

void SimulateSystemSettings(bool highContrast, bool cues)
{
    if (!hook)
        hook.reset(new ImportHook("user32.dll", "SystemParametersInfoW",
                                  reinterpret_cast<const void*>(&SimulatedSystemParametersInfo)));
    keyboardCues = cues ? TRUE : FALSE;
    HIGHCONTRASTW contrast = {};
    contrast.cbSize = sizeof(contrast);
    contrast.dwFlags = highContrast ? HCF_HIGHCONTRASTON : 0;
    SystemParametersInfoW(SPI_SETHIGHCONTRAST, sizeof(contrast), &contrast, SPIF_SENDCHANGE);
}

void EndSystemSettings()
{
    ApplyScheme(false);
    hook.reset();
    contrastFlags = 0;
    keyboardCues = FALSE;
}
