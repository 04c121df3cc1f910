// The references' firmware read: one exchange with the automation server,
// the least any program of this kind does to learn the mode. Shared by the
// reference tray program and the reference console program.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <ole2.h>

#include "casl_command.h"

inline bool ReadFirmwareRecord(BYTE (&record)[4])
{
    bool read = false;
    HRESULT initialised = CoInitialize(nullptr);
    CLSID clsid;
    IUnknown* unknown = nullptr;
    if (SUCCEEDED(CLSIDFromProgID(kCaslCommandProgId, &clsid)) &&
        SUCCEEDED(CoCreateInstance(CLSID_CaslCommand, nullptr, CLSCTX_ALL, IID_IUnknown,
                                   reinterpret_cast<void**>(&unknown)))) {
        ICaslCommand* command = nullptr;
        if (SUCCEEDED(OleRun(unknown)) &&
            SUCCEEDED(unknown->QueryInterface(IID_ICaslCommand, reinterpret_cast<void**>(&command)))) {
            BSTR name = SysAllocString(kThermalControlProperty);
            VARIANT value;
            VariantInit(&value);
            if (name && SUCCEEDED(command->ReadProperty(name, &value)) && value.vt == (VT_ARRAY | VT_UI1) &&
                value.parray->rgsabound[0].cElements >= 4) {
                void* data = nullptr;
                if (SUCCEEDED(SafeArrayAccessData(value.parray, &data))) {
                    CopyMemory(record, data, 4);
                    SafeArrayUnaccessData(value.parray);
                    read = true;
                }
            }
            VariantClear(&value);
            SysFreeString(name);
            command->Release();
        }
        unknown->Release();
    }
    if (SUCCEEDED(initialised))
        CoUninitialize();
    return read;
}
