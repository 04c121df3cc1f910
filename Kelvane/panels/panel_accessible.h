// Keyboard focus and screen-reader access for the two drawn windows: which
// drawn element has the focus and its cue, the events that announce focus
// and state, and the accessible object that describes the elements.
#pragma once

#include <windows.h>

// Child ids of the drawn elements in each window's accessible object; 0 is
// the window itself.
// The notice is the line under the radios, invisible without a policy.
enum PanelElement { PanelOnElement = 1, PanelOffElement = 2, PanelLinkElement = 3, PanelNoticeElement = 4 };
enum AboutElement {
    AboutTitleElement = 1,
    AboutDescriptionElement = 2,
    AboutOnTextElement = 3,
    AboutOffTextElement = 4,
    AboutCheckBoxElement = 5,
    AboutMinimizeElement = 6,
    AboutCloseElement = 7,
};

// Per window: the element with the keyboard focus (0: none), whether its
// cue is drawn (only once the keyboard has been used, unless the system
// always wants cues), and whether the window holds a COM apartment for the
// objects it handed out.
struct AccessState {
    int focus;
    bool cueShown;
    bool inApartment;
};

struct DrawnElement {
    UINT nameId;
    LONG role;
    bool focusable;
    UINT actionId; // the default action's string, 0: none
};

// What the accessible object and the keyboard know of a drawn window.
struct DrawnWindow {
    const DrawnElement* elements; // child id n is elements[n - 1]
    int count;
    AccessState* state;
    RECT (*elementRect)(int element);           // client pixels, from the window's layout
    DWORD (*elementState)(int element);         // checked, pressed...; focus is added
    UINT (*elementDescription)(int element);    // string id of why it is so, 0: none
};

extern AccessState panelAccessState;
extern AccessState aboutAccessState;
extern const DrawnWindow modePanelAccess;
extern const DrawnWindow aboutAccess;

// A new window's focus: on element (0: none), cue hidden unless the system
// always shows cues; raises the focus event when an element has it.
void ResetKeyboardFocus(HWND window, const DrawnWindow& drawn, int element);
// Shows the cue (the keyboard is in use) and repaints the focused element.
void ShowFocusCue(HWND window, const DrawnWindow& drawn);
// Moves the focus to element, shows the cue and raises EVENT_OBJECT_FOCUS.
void MoveKeyboardFocus(HWND window, const DrawnWindow& drawn, int element);
// A press on an element gives it the focus, as on a standard control; the
// cue stays as it is. 0 (a press elsewhere) changes nothing.
void FocusPressedElement(HWND window, const DrawnWindow& drawn, int element);
// The plain focus rectangle around the focused element, if its cue is shown.
void DrawFocusCue(HDC dc, const DrawnWindow& drawn, UINT dpi);
// EVENT_OBJECT_STATECHANGE for a drawn element.
void NotifyElementState(HWND window, int element);

// An element's default action is posted to its window as
// WM_ACTIVATEELEMENT (wParam: the element), so that it runs as a click does,
// from the window's own message loop and not inside the client's call.

// WM_GETOBJECT: an accessible object for OBJID_CLIENT, DefWindowProcW's
// answer for the rest.
LRESULT AnswerGetObject(HWND window, const DrawnWindow& drawn, WPARAM wParam, LPARAM lParam);
// WM_NCDESTROY: leaves the apartment the window entered for its objects.
void EndAccess(const DrawnWindow& drawn);

// Accessible objects alive in this process.
LONG LiveAccessibleObjects();
