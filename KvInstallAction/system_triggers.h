// IBootTrigger and IEventTrigger, which MinGW's taskschd.h does not declare
// (the Windows SDK does): ITrigger's slots, then their own in the SDK's order.
#pragma once

#include <windows.h>
#include <taskschd.h>

// {2A9C35DA-D357-41F4-BBC1-207AC1B1F3CB}
const IID kIidBootTrigger = {0x2A9C35DA, 0xD357, 0x41F4, {0xBB, 0xC1, 0x20, 0x7A, 0xC1, 0xB1, 0xF3, 0xCB}};
// {D45B0167-9653-4EEF-B94F-0732CA7AF251}
const IID kIidEventTrigger = {0xD45B0167, 0x9653, 0x4EEF, {0xB9, 0x4F, 0x07, 0x32, 0xCA, 0x7A, 0xF2, 0x51}};

#ifndef __ITaskNamedValueCollection_FWD_DEFINED__
#define __ITaskNamedValueCollection_FWD_DEFINED__
struct ITaskNamedValueCollection;
#endif

#ifndef __IBootTrigger_INTERFACE_DEFINED__
#define __IBootTrigger_INTERFACE_DEFINED__
struct IBootTrigger : public ITrigger {
    virtual HRESULT STDMETHODCALLTYPE get_Delay(BSTR* delay) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Delay(BSTR delay) = 0;
};
#endif

#ifndef __IEventTrigger_INTERFACE_DEFINED__
#define __IEventTrigger_INTERFACE_DEFINED__
struct IEventTrigger : public ITrigger {
    virtual HRESULT STDMETHODCALLTYPE get_Subscription(BSTR* query) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Subscription(BSTR query) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Delay(BSTR* delay) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Delay(BSTR delay) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ValueQueries(ITaskNamedValueCollection** queries) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_ValueQueries(ITaskNamedValueCollection* queries) = 0;
};
#endif
