// The drawn windows' look under a high-contrast theme: the system colours
// instead of the pictures, on the same layout. Each does nothing while no
// high-contrast theme is on.
#pragma once

#include <windows.h>

// The window colour over the whole background, framed in the text colour.
void FillInSystemColours(HDC dc, const RECT& background);
// The panel's two radio buttons in their layout rectangles.
void DrawModePanelRadiosInSystemColours(HDC dc);
// The About window's close and minimize buttons and its check box.
void DrawAboutControlsInSystemColours(HDC dc);
