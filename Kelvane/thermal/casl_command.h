// The outside automation server that exposes the firmware's thermal-control
// record. It has no type library: the interface is declared here as the
// program relies on it.
#pragma once

#include <windows.h>
#include <oaidl.h>

// ProgID and class of the server object.
inline constexpr wchar_t kCaslCommandProgId[] = L"vornutils.CaslCommand";
inline constexpr CLSID CLSID_CaslCommand = {
    0x931CEBEA, 0xD6CC, 0x437B, {0xA5, 0x14, 0x39, 0x3D, 0xC3, 0x14, 0xB9, 0xB5}};
inline constexpr IID IID_ICaslCommand = {
    0x24216CA6, 0x7E21, 0x46CC, {0xAA, 0xFC, 0xDC, 0x87, 0xDF, 0xB7, 0xE0, 0x3E}};

// Name of the property that holds the record (VT_ARRAY | VT_UI1).
inline constexpr wchar_t kThermalControlProperty[] = L"Diags.ThermalControl";

// Derived from IUnknown, not IDispatch: the property is named by a string.
struct ICaslCommand : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE ReadProperty(BSTR name, VARIANT* value) = 0;
    // The VARIANT travels by value; the caller keeps ownership of its contents.
    virtual HRESULT STDMETHODCALLTYPE WriteProperty(BSTR name, VARIANT value) = 0;
};
