#include "panel_accessible.h"

#include <oleacc.h>

#include <new>

#include "about_window.h"
#include "app_state.h"
#include "cooling_mode.h"
#include "dpi.h"
#include "mode_panel.h"
#include "resource_ids.h"
#include "scoped_com.h"

AccessState panelAccessState = {0, false, false};
AccessState aboutAccessState = {0, false, false};

namespace {

const DrawnElement kPanelElements[] = {
    {IDS_MODE_ON, ROLE_SYSTEM_RADIOBUTTON, true, IDS_ACTION_CHECK},
    {IDS_MODE_OFF, ROLE_SYSTEM_RADIOBUTTON, true, IDS_ACTION_CHECK},
    {IDS_ABOUT_LINK, ROLE_SYSTEM_LINK, true, IDS_ACTION_JUMP},
    {IDS_SET_BY_ORGANIZATION, ROLE_SYSTEM_STATICTEXT, false, 0},
};

const DrawnElement kAboutElements[] = {
    {IDS_ABOUT_TITLE, ROLE_SYSTEM_STATICTEXT, false, 0},
    {IDS_ABOUT_DESCRIPTION, ROLE_SYSTEM_STATICTEXT, false, 0},
    {IDS_ABOUT_ON_TEXT, ROLE_SYSTEM_STATICTEXT, false, 0},
    {IDS_ABOUT_OFF_TEXT, ROLE_SYSTEM_STATICTEXT, false, 0},
    {IDS_SHOW_AT_STARTUP, ROLE_SYSTEM_CHECKBUTTON, true, IDS_ACTION_CHECK},
    {IDS_MINIMIZE_BUTTON, ROLE_SYSTEM_PUSHBUTTON, true, IDS_ACTION_PRESS},
    {IDS_CLOSE_BUTTON, ROLE_SYSTEM_PUSHBUTTON, true, IDS_ACTION_PRESS},
};

RECT PanelElementRect(int element)
{
    const ModePanelLayout& layout = modePanelLayout;
    switch (element) {
    case PanelOnElement:
        return layout.onRadio;
    case PanelOffElement:
        return layout.offRadio;
    case PanelNoticeElement:
        return layout.notice;
    default:
        return layout.link;
    }
}

DWORD PanelElementState(int element)
{
    if (element == PanelLinkElement)
        return STATE_SYSTEM_LINKED | (modePanelState.linkLook == Hover ? STATE_SYSTEM_HOTTRACKED : 0);
    if (element == PanelNoticeElement)
        return STATE_SYSTEM_READONLY | (ModeIsEnforced() ? 0 : STATE_SYSTEM_INVISIBLE);
    const KelvaneMode mode = element == PanelOnElement ? On : Off;
    return (modePanelState.shownMode == mode ? STATE_SYSTEM_CHECKED : 0) |
           (ModeIsEnforced() ? STATE_SYSTEM_UNAVAILABLE : 0);
}

// The radios read as unavailable; their description says who set the mode,
// as the line under them does on screen.
UINT PanelElementDescription(int element)
{
    return (element == PanelOnElement || element == PanelOffElement) && ModeIsEnforced() ? IDS_SET_BY_ORGANIZATION
                                                                                          : 0;
}

RECT AboutElementRect(int element)
{
    const AboutLayout& layout = aboutLayout;
    switch (element) {
    case AboutTitleElement:
        return layout.title;
    case AboutDescriptionElement:
        return layout.description;
    case AboutOnTextElement:
        return layout.onText;
    case AboutOffTextElement:
        return layout.offText;
    case AboutCheckBoxElement:
        return layout.checkBox;
    case AboutMinimizeElement:
        return layout.minimize;
    default:
        return layout.close;
    }
}

DWORD LookState(ButtonLook look)
{
    return look == Pressed ? STATE_SYSTEM_PRESSED : look == Hover ? STATE_SYSTEM_HOTTRACKED : 0;
}

DWORD AboutElementState(int element)
{
    switch (element) {
    case AboutCheckBoxElement:
        return (ShowsIconAtStartup() ? STATE_SYSTEM_CHECKED : 0) |
               (app.policy.showIconSet ? STATE_SYSTEM_UNAVAILABLE : 0);
    case AboutMinimizeElement:
        return LookState(aboutState.minimizeLook);
    case AboutCloseElement:
        return LookState(aboutState.closeLook);
    default:
        return STATE_SYSTEM_READONLY;
    }
}

// The focus rectangle stands just outside the element, at the window's
// scale, not the system's.
RECT CueRect(const DrawnWindow& drawn, int element, UINT dpi)
{
    return Grown(drawn.elementRect(element), 2 * SystemMetricForDpi(SM_CXFOCUSBORDER, dpi));
}

void InvalidateCue(HWND window, const DrawnWindow& drawn)
{
    if (drawn.state->focus > 0) {
        RECT cue = CueRect(drawn, drawn.state->focus, DpiForWindow(window));
        InvalidateRect(window, &cue, FALSE);
    }
}

// Repaints the old and the new cue and tells assistive technology.
void SetFocusElement(HWND window, const DrawnWindow& drawn, int element)
{
    InvalidateCue(window, drawn);
    drawn.state->focus = element;
    InvalidateCue(window, drawn);
    NotifyWinEvent(EVENT_OBJECT_FOCUS, window, OBJID_CLIENT, element);
}

// Names and actions in the user's language, from the string table.
bool LoadText(UINT id, wchar_t* text, int size)
{
    return LoadStringW(app.instance, id, text, size) > 0;
}

LONG liveObjects = 0;

// One window's client area for assistive technology: the window itself is
// answered by the system's proxy, the drawn elements by the tables above.
class DrawnAccessible final : public IAccessible {
public:
    DrawnAccessible(HWND window, const DrawnWindow& drawn, IAccessible* proxy)
        : window_(window), drawn_(drawn), proxy_(proxy)
    {
        InterlockedIncrement(&liveObjects);
    }
    ~DrawnAccessible() { InterlockedDecrement(&liveObjects); }
    DrawnAccessible(const DrawnAccessible&) = delete;
    DrawnAccessible& operator=(const DrawnAccessible&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IAccessible) {
            *out = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG refs = InterlockedDecrement(&refs_);
        if (refs == 0)
            delete this;
        return refs;
    }

    // No type information: clients call IAccessible directly.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        if (!count)
            return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override
    {
        if (info)
            *info = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override
    {
        if (!IsWindow(window_))
            return CO_E_OBJNOTCONNECTED;
        return proxy_->get_accParent(parent);
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override
    {
        if (!count)
            return E_POINTER;
        *count = drawn_.count;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** dispatch) override
    {
        if (!dispatch)
            return E_POINTER;
        *dispatch = nullptr;
        // The elements are simple children, known by their ids alone.
        return ElementOf(child) > 0 ? S_FALSE : E_INVALIDARG;
    }

    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override
    {
        // The panel has no title of its own: it is announced by the program's name.
        wchar_t title[100] = L"";
        if (ElementOf(child) == 0 && name && IsWindow(window_) && GetWindowTextLengthW(window_) == 0 &&
            LoadText(IDS_APP_TITLE, title, ARRAYSIZE(title))) {
            *name = SysAllocString(title);
            return *name ? S_OK : E_OUTOFMEMORY;
        }
        return ElementText(child, name, &IAccessible::get_accName, [](const DrawnElement& e, wchar_t* text, int size) {
            return LoadText(e.nameId, text, size);
        });
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override
    {
        const int element = ElementOf(child);
        const DWORD state = element > 0 ? drawn_.elementState(element) : 0;
        const bool uncheck = (state & STATE_SYSTEM_CHECKED) && drawn_.elements[element - 1].role == ROLE_SYSTEM_CHECKBUTTON;
        const bool unavailable = (state & STATE_SYSTEM_UNAVAILABLE) != 0;
        return ElementText(child, action, &IAccessible::get_accDefaultAction,
                           [uncheck, unavailable](const DrawnElement& e, wchar_t* text, int size) {
                               return e.actionId != 0 && !unavailable &&
                                      LoadText(uncheck ? IDS_ACTION_UNCHECK : e.actionId, text, size);
                           });
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override
    {
        return ElementText(child, value, &IAccessible::get_accValue, Nothing);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override
    {
        const HRESULT hr = ElementText(child, text, &IAccessible::get_accDescription,
                                       [this](const DrawnElement& e, wchar_t* buffer, int size) {
                                           const int element = static_cast<int>(&e - drawn_.elements) + 1;
                                           const UINT id =
                                               drawn_.elementDescription ? drawn_.elementDescription(element) : 0;
                                           return id != 0 && LoadText(id, buffer, size);
                                       });
        // A window that describes its elements has none for this one now.
        return hr == DISP_E_MEMBERNOTFOUND && drawn_.elementDescription ? S_FALSE : hr;
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* text) override
    {
        return ElementText(child, text, &IAccessible::get_accHelp, Nothing);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* text) override
    {
        return ElementText(child, text, &IAccessible::get_accKeyboardShortcut, Nothing);
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, long* topic) override
    {
        if (!file || !topic)
            return E_POINTER;
        *file = nullptr;
        *topic = 0;
        int element;
        const HRESULT valid = Resolve(child, element);
        if (FAILED(valid))
            return valid;
        if (element == 0)
            return proxy_->get_accHelpTopic(file, child, topic);
        return DISP_E_MEMBERNOTFOUND;
    }

    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override
    {
        return ElementNumber(child, role, &IAccessible::get_accRole,
                             [this](int element) { return drawn_.elements[element - 1].role; });
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override
    {
        return ElementNumber(child, state, &IAccessible::get_accState, [this](int element) {
            DWORD value = drawn_.elementState(element);
            if (drawn_.elements[element - 1].focusable) {
                value |= STATE_SYSTEM_FOCUSABLE;
                if (drawn_.state->focus == element && GetFocus() == window_)
                    value |= STATE_SYSTEM_FOCUSED;
            }
            return static_cast<LONG>(value);
        });
    }

    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override
    {
        if (!focus)
            return E_POINTER;
        VariantInit(focus);
        if (!IsWindow(window_))
            return CO_E_OBJNOTCONNECTED;
        if (GetFocus() != window_)
            return S_FALSE;
        focus->vt = VT_I4;
        focus->lVal = drawn_.state->focus > 0 ? drawn_.state->focus : CHILDID_SELF;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override
    {
        if (!selection)
            return E_POINTER;
        VariantInit(selection);
        return S_FALSE;
    }

    HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override
    {
        int element;
        const HRESULT valid = Resolve(child, element);
        if (FAILED(valid))
            return valid;
        if (element == 0)
            return proxy_->accSelect(flags, child);
        if (flags != SELFLAG_TAKEFOCUS || !drawn_.elements[element - 1].focusable)
            return DISP_E_MEMBERNOTFOUND;
        SetFocus(window_);
        MoveKeyboardFocus(window_, drawn_, element);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height, VARIANT child) override
    {
        if (!left || !top || !width || !height)
            return E_POINTER;
        *left = *top = *width = *height = 0;
        int element;
        const HRESULT valid = Resolve(child, element);
        if (FAILED(valid))
            return valid;
        if (element == 0)
            return proxy_->accLocation(left, top, width, height, child);
        RECT rect = drawn_.elementRect(element);
        MapWindowPoints(window_, nullptr, reinterpret_cast<POINT*>(&rect), 2);
        *left = rect.left;
        *top = rect.top;
        *width = rect.right - rect.left;
        *height = rect.bottom - rect.top;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override
    {
        if (!end)
            return E_POINTER;
        VariantInit(end);
        int element;
        const HRESULT valid = Resolve(start, element);
        if (FAILED(valid))
            return valid;
        int target = 0;
        if (element == 0) {
            if (direction == NAVDIR_FIRSTCHILD)
                target = 1;
            else if (direction == NAVDIR_LASTCHILD)
                target = drawn_.count;
            else
                return proxy_->accNavigate(direction, start, end);
        } else if (direction == NAVDIR_NEXT || direction == NAVDIR_DOWN || direction == NAVDIR_RIGHT) {
            target = element + 1;
        } else if (direction == NAVDIR_PREVIOUS || direction == NAVDIR_UP || direction == NAVDIR_LEFT) {
            target = element - 1;
        }
        if (target < 1 || target > drawn_.count)
            return S_FALSE;
        end->vt = VT_I4;
        end->lVal = target;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* hit) override
    {
        if (!hit)
            return E_POINTER;
        VariantInit(hit);
        if (!IsWindow(window_))
            return CO_E_OBJNOTCONNECTED;
        POINT point = {x, y};
        ScreenToClient(window_, &point);
        for (int element = 1; element <= drawn_.count; ++element) {
            if (Contains(drawn_.elementRect(element), point.x, point.y)) {
                hit->vt = VT_I4;
                hit->lVal = element;
                return S_OK;
            }
        }
        return proxy_->accHitTest(x, y, hit);
    }

    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override
    {
        int element;
        const HRESULT valid = Resolve(child, element);
        if (FAILED(valid))
            return valid;
        if (element == 0)
            return proxy_->accDoDefaultAction(child);
        // A disabled element has no action, as a disabled control has none.
        if (!drawn_.elements[element - 1].actionId || (drawn_.elementState(element) & STATE_SYSTEM_UNAVAILABLE))
            return DISP_E_MEMBERNOTFOUND;
        return PostMessageW(window_, WM_ACTIVATEELEMENT, static_cast<WPARAM>(element), 0) ? S_OK : E_FAIL;
    }

    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

private:
    using TextGetter = HRESULT (STDMETHODCALLTYPE IAccessible::*)(VARIANT, BSTR*);
    using NumberGetter = HRESULT (STDMETHODCALLTYPE IAccessible::*)(VARIANT, VARIANT*);

    static bool Nothing(const DrawnElement&, wchar_t*, int) { return false; }

    // 0 for the window itself, the element's id, or -1 for anything else.
    int ElementOf(const VARIANT& child) const
    {
        if (child.vt != VT_I4 || child.lVal < 0 || child.lVal > drawn_.count)
            return -1;
        return child.lVal;
    }

    // The element a call is about, once its id and the window are valid.
    HRESULT Resolve(const VARIANT& child, int& element) const
    {
        element = ElementOf(child);
        if (element < 0)
            return E_INVALIDARG;
        return IsWindow(window_) ? S_OK : CO_E_OBJNOTCONNECTED;
    }

    template <class Fill>
    HRESULT ElementText(VARIANT child, BSTR* out, TextGetter forWindow, Fill fill)
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        int element;
        const HRESULT valid = Resolve(child, element);
        if (FAILED(valid))
            return valid;
        if (element == 0)
            return (proxy_.Get()->*forWindow)(child, out);
        wchar_t text[500] = L"";
        if (!fill(drawn_.elements[element - 1], text, ARRAYSIZE(text)))
            return DISP_E_MEMBERNOTFOUND;
        *out = SysAllocString(text);
        return *out ? S_OK : E_OUTOFMEMORY;
    }

    template <class Value>
    HRESULT ElementNumber(VARIANT child, VARIANT* out, NumberGetter forWindow, Value value)
    {
        if (!out)
            return E_POINTER;
        VariantInit(out);
        int element;
        const HRESULT valid = Resolve(child, element);
        if (FAILED(valid))
            return valid;
        if (element == 0)
            return (proxy_.Get()->*forWindow)(child, out);
        out->vt = VT_I4;
        out->lVal = value(element);
        return S_OK;
    }

    LONG refs_ = 1;
    HWND window_;
    const DrawnWindow& drawn_;
    ComPtr<IAccessible> proxy_;
};

} // namespace

const DrawnWindow modePanelAccess = {
    kPanelElements, ARRAYSIZE(kPanelElements), &panelAccessState, PanelElementRect, PanelElementState,
    PanelElementDescription,
};
const DrawnWindow aboutAccess = {
    kAboutElements, ARRAYSIZE(kAboutElements), &aboutAccessState, AboutElementRect, AboutElementState, nullptr,
};

void ResetKeyboardFocus(HWND window, const DrawnWindow& drawn, int element)
{
    BOOL alwaysCues = FALSE;
    SystemParametersInfoW(SPI_GETKEYBOARDCUES, 0, &alwaysCues, 0);
    drawn.state->focus = element;
    drawn.state->cueShown = alwaysCues != FALSE;
    if (element > 0)
        NotifyWinEvent(EVENT_OBJECT_FOCUS, window, OBJID_CLIENT, element);
}

void ShowFocusCue(HWND window, const DrawnWindow& drawn)
{
    if (!drawn.state->cueShown) {
        drawn.state->cueShown = true;
        InvalidateCue(window, drawn);
    }
}

void FocusPressedElement(HWND window, const DrawnWindow& drawn, int element)
{
    if (element != 0 && element != drawn.state->focus)
        SetFocusElement(window, drawn, element);
}

void MoveKeyboardFocus(HWND window, const DrawnWindow& drawn, int element)
{
    drawn.state->cueShown = true;
    SetFocusElement(window, drawn, element);
}

void DrawFocusCue(HDC dc, const DrawnWindow& drawn, UINT dpi)
{
    if (drawn.state->cueShown && drawn.state->focus > 0) {
        RECT cue = CueRect(drawn, drawn.state->focus, dpi);
        // The layout's rectangles include their right and bottom edges.
        ++cue.right;
        ++cue.bottom;
        DrawFocusRect(dc, &cue);
    }
}

void NotifyElementState(HWND window, int element)
{
    NotifyWinEvent(EVENT_OBJECT_STATECHANGE, window, OBJID_CLIENT, element);
}

namespace {

using CreateStdAccessibleObjectCall = HRESULT(WINAPI*)(HWND, LONG, REFIID, void**);
using LresultFromObjectCall = LRESULT(WINAPI*)(REFIID, WPARAM, LPUNKNOWN);

struct OleaccCalls {
    CreateStdAccessibleObjectCall createStdAccessibleObject;
    LresultFromObjectCall lresultFromObject;
};

// oleacc.dll is loaded when a client first asks for an object, not at every
// start of the program.
const OleaccCalls& Oleacc()
{
    static const OleaccCalls calls = {
        LoadSystemFunction<CreateStdAccessibleObjectCall>(L"oleacc.dll", "CreateStdAccessibleObject"),
        LoadSystemFunction<LresultFromObjectCall>(L"oleacc.dll", "LresultFromObject"),
    };
    return calls;
}

} // namespace

LRESULT AnswerGetObject(HWND window, const DrawnWindow& drawn, WPARAM wParam, LPARAM lParam)
{
    if (static_cast<LONG>(lParam) != OBJID_CLIENT)
        return DefWindowProcW(window, WM_GETOBJECT, wParam, lParam);
    const OleaccCalls& oleacc = Oleacc();
    if (!oleacc.createStdAccessibleObject || !oleacc.lresultFromObject)
        return DefWindowProcW(window, WM_GETOBJECT, wParam, lParam);
    // The handed-out objects are reached through COM for as long as the
    // window lives, so the window keeps this thread in an apartment till then.
    // A thread already in the multithreaded apartment can serve them as it is.
    if (!drawn.state->inApartment) {
        const HRESULT entered = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (FAILED(entered) && entered != RPC_E_CHANGED_MODE)
            return DefWindowProcW(window, WM_GETOBJECT, wParam, lParam);
        drawn.state->inApartment = SUCCEEDED(entered);
    }
    ComPtr<IAccessible> proxy;
    if (FAILED(oleacc.createStdAccessibleObject(window, OBJID_CLIENT, IID_IAccessible, proxy.PutVoid())))
        return DefWindowProcW(window, WM_GETOBJECT, wParam, lParam);
    ComPtr<IAccessible> object(new (std::nothrow) DrawnAccessible(window, drawn, proxy.Get()));
    if (!object)
        return DefWindowProcW(window, WM_GETOBJECT, wParam, lParam);
    proxy.Detach();
    return oleacc.lresultFromObject(IID_IAccessible, wParam, object.Get());
}

void EndAccess(const DrawnWindow& drawn)
{
    if (drawn.state->inApartment) {
        drawn.state->inApartment = false;
        CoUninitialize();
    }
}

LONG LiveAccessibleObjects()
{
    return liveObjects;
}
