// The custom-drawn About window: the feature's description, the version,
// and the start-up check box.
#pragma once

#include <windows.h>

#include "resource_images.h"

// What the left button went down on.
enum AboutTarget { AboutNothing = 0, AboutClose = 1, AboutMinimize = 2, AboutCheckBox = 3, AboutDrag = 4 };

struct AboutState {
    int pressTarget;
    ButtonLook closeLook;
    ButtonLook minimizeLook;
    POINT dragAnchor;
};

// Client pixels at the window's display scale; every rectangle includes all
// four of its edges.
struct AboutLayout {
    RECT close, closeHit;
    RECT minimize, minimizeHit;
    RECT checkBox; // recomputed at every paint
    UINT dpi;      // the display scale the figures are for
    // The text: the title's line (anchored at its left, or its right when
    // the reading is right to left) and the three paragraphs' boxes.
    RECT title;
    RECT description;
    RECT onText;
    RECT offText;
};

extern AboutState aboutState;
extern AboutLayout aboutLayout;
extern const AboutLayout kDefaultAboutLayout;

// At 96 DPI; like every figure of the window, scaled with the display.
constexpr int kAboutWidth = 572;
constexpr int kAboutHeight = 458;

// Does what a click on the element (the check box or a button) does.
void ActivateAboutElement(HWND window, int element);

// Restores the About window, or creates it centred in the work area.
void ShowAboutWindow(HWND owner);
LRESULT CALLBACK AboutWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
