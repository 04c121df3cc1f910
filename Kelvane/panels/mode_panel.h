// The small borderless panel beside the notification icon: two radio
// buttons for the cooling mode and a link to the About window.
#pragma once

#include <windows.h>

#include "cooling_mode.h"
#include "resource_images.h"

// What the left button went down on.
enum PanelTarget { PanelNothing = 0, PanelOnRadio = 1, PanelOffRadio = 2, PanelLink = 4 };

struct ModePanelState {
    KelvaneMode shownMode;
    int pressTarget;
    ButtonLook linkLook;
    bool autoCloseArmed;
};

// Client pixels; every rectangle includes all four of its edges.
struct ModePanelLayout {
    int width, height;
    POINT onAnchor, offAnchor;
    RECT onRadio, offRadio;
    POINT aboutAnchor;
    RECT link; // left and right follow the text at every paint
    RECT background;
    UINT dpi; // the display scale the figures are for
    RECT notice; // "Set by your organization" under an enforced mode, else empty
};

extern ModePanelState modePanelState;
// The open panel's layout, scaled to its display.
extern ModePanelLayout modePanelLayout;
// The same at 96 DPI, as the labels call for it; not reset between panels.
extern ModePanelLayout modePanelBaseLayout;
extern const ModePanelLayout kDefaultModePanelLayout;

// The panel's auto-close timer.
constexpr UINT_PTR kAutoCloseTimer = 1;
constexpr UINT kAutoCloseMilliseconds = 5500;

// Grows the layout for labels wider than the default one allows (widest
// label of 37 px or more); narrower labels leave it as it is.
void ComputeModePanelLayout(int widestLabel, ModePanelLayout& layout);
// The layout with room for the enforced mode's line between radios and
// link: the link and the panel's foot move down.
ModePanelLayout WithNoticeLine(const ModePanelLayout& base);
// Every figure of a 96-DPI layout scaled to dpi.
ModePanelLayout ScaleModePanelLayout(const ModePanelLayout& base, UINT dpi);

// The new panel, created hidden (its creation places and shows it), or null.
HWND CreateModePanel(HWND owner);
// Destroys the panel and starts the owner's re-open guard.
void CloseModePanel(HWND owner);
// Moves the panel beside the icon of iconOwner when the shell can say where.
void PlaceNearNotificationIcon(HWND iconOwner, HWND window);
// The mode panel's answers to the controller: the firmware's mode changed
// from outside, or the policies did (the layout may change).
void ShowCurrentMode(HWND window);
void ShowPolicyChange(HWND window);
// Does what a click on the element (a radio or the link) does; a radio of
// an enforced mode does nothing.
void ActivatePanelElement(HWND window, int element);
LRESULT CALLBACK ModePanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
