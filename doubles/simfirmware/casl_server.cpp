#include "casl_server.h"

#include <oleauto.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "casl_command.h"
#include "com_object.h"
#include "machine_store.h"

namespace simfw {

namespace {

bool IsScalar(VARTYPE type)
{
    switch (type) {
    case VT_EMPTY: case VT_NULL: case VT_I1: case VT_I2: case VT_I4: case VT_UI1:
    case VT_UI2: case VT_UI4: case VT_INT: case VT_UINT: case VT_BOOL: case VT_R4: case VT_R8:
        return true;
    default:
        return false;
    }
}

// Real servers describe their failures; the program must rely on the status only.
HRESULT FailWithErrorInfo(HRESULT status, const wchar_t* description)
{
    ICreateErrorInfo* create = nullptr;
    if (SUCCEEDED(CreateErrorInfo(&create))) {
        create->SetGUID(IID_ICaslCommand);
        create->SetDescription(const_cast<LPOLESTR>(description));
        IErrorInfo* info = nullptr;
        if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
            SetErrorInfo(0, info);
            info->Release();
        }
        create->Release();
    }
    return status;
}

bool IsThermalControl(BSTR name)
{
    return name && std::wcscmp(name, kThermalControlProperty) == 0;
}

// Describes a received value for the machine file: "vt dims elements lbound".
std::string DescribeArray(const VARIANT& value)
{
    std::string text = FormatStatus(value.vt).substr(6);
    if ((value.vt & VT_ARRAY) && value.parray) {
        const SAFEARRAY* array = value.parray;
        text += " dims=" + std::to_string(array->cDims);
        if (array->cDims >= 1) {
            text += " elements=" + std::to_string(array->rgsabound[0].cElements);
            text += " lbound=" + std::to_string(array->rgsabound[0].lLbound);
        }
    }
    return text;
}

// An out-of-process server's caller has COM dispatch messages that other
// threads send while the call is outstanding: "casl.read.send=<window>
// <message> <wParam> [Policy]" makes the next read send that message (with
// lParam L"Policy" when asked) before it returns. Taken once.
void SendDuringCall(const std::string& notice)
{
    unsigned long window = 0, message = 0, wParam = 0;
    char area[16] = "";
    if (notice.empty() || std::sscanf(notice.c_str(), "%lu %lu %lu %15s", &window, &message, &wParam, area) < 3)
        return;
    static const wchar_t kPolicy[] = L"Policy";
    SendMessageW(reinterpret_cast<HWND>(static_cast<ULONG_PTR>(window)), message, wParam,
                 std::strcmp(area, "Policy") == 0 ? reinterpret_cast<LPARAM>(kPolicy) : 0);
}

class CaslCommand final : public ICaslCommand, public IRunnableObject, private CountedObject {
public:
    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (iid == IID_IUnknown) {
            *object = static_cast<ICaslCommand*>(this);
        } else if (iid == IID_ICaslCommand) {
            if (Machine::Load().Get("casl.nointerface") == "1")
                return E_NOINTERFACE;
            *object = static_cast<ICaslCommand*>(this);
        } else if (iid == IID_IRunnableObject) {
            *object = static_cast<IRunnableObject*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefCounted(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseCounted(); }

    // ICaslCommand
    STDMETHODIMP ReadProperty(BSTR name, VARIANT* value) override
    {
        HRESULT hr = S_OK;
        std::string notice;
        {
            MachineLock lock;
            Machine machine = Machine::Load();
            machine.Increment("casl.read");
            machine.Set("last.casl.apartment", ApartmentName());
            hr = Read(machine, name, value);
            notice = machine.Get("casl.read.send");
            machine.Erase("casl.read.send");
            machine.Save();
        }
        SendDuringCall(notice);
        return hr;
    }

    STDMETHODIMP WriteProperty(BSTR name, VARIANT value) override
    {
        MachineLock lock;
        Machine machine = Machine::Load();
        machine.Increment("casl.write");
        machine.Set("last.casl.apartment", ApartmentName());
        machine.Set("last.casl.write.value", DescribeArray(value));
        HRESULT hr = Write(machine, name, value);
        machine.Save();
        return hr;
    }

    // IRunnableObject: lets tests fail OleRun.
    STDMETHODIMP GetRunningClass(CLSID* clsid) override
    {
        if (!clsid)
            return E_POINTER;
        *clsid = CLSID_CaslCommand;
        return S_OK;
    }
    STDMETHODIMP Run(LPBINDCTX) override
    {
        MachineLock lock;
        Machine machine = Machine::Load();
        HRESULT hr = machine.TakeFailure("casl.run");
        machine.Save();
        return hr;
    }
    BOOL STDMETHODCALLTYPE IsRunning() override { return TRUE; }
    STDMETHODIMP LockRunning(BOOL, BOOL) override { return S_OK; }
    STDMETHODIMP SetContainedObject(BOOL) override { return S_OK; }

private:
    static HRESULT Read(Machine& machine, BSTR name, VARIANT* value)
    {
        if (!value)
            return E_POINTER;
        if (!IsThermalControl(name))
            return DISP_E_UNKNOWNNAME;
        if (HRESULT failure = machine.TakeFailure("casl.read"))
            return FailWithErrorInfo(failure, L"The thermal-control record could not be read.");

        VARTYPE type = static_cast<VARTYPE>(std::strtoul(
            machine.Get("casl.vartype", "0x2011").c_str(), nullptr, 0));
        if (type != (VT_ARRAY | VT_UI1)) {
            // A well-formed value of another type, as a confused server would send.
            // Only types without pointers, so that clearing it stays safe.
            VariantInit(value);
            value->vt = IsScalar(type) ? type : static_cast<VARTYPE>(VT_I4);
            value->lVal = 0x01010000;
            return S_OK;
        }

        std::vector<uint8_t> record = machine.Record();
        SAFEARRAYBOUND bound = {static_cast<ULONG>(record.size()), 0};
        SAFEARRAY* array = SafeArrayCreate(VT_UI1, 1, &bound);
        if (!array)
            return E_OUTOFMEMORY;
        void* data = nullptr;
        if (!record.empty() && SUCCEEDED(SafeArrayAccessData(array, &data))) {
            std::memcpy(data, record.data(), record.size());
            SafeArrayUnaccessData(array);
        }
        value->vt = VT_ARRAY | VT_UI1;
        value->parray = array;
        return S_OK;
    }

    static HRESULT Write(Machine& machine, BSTR name, const VARIANT& value)
    {
        if (!IsThermalControl(name))
            return DISP_E_UNKNOWNNAME;
        if (HRESULT failure = machine.TakeFailure("casl.write"))
            return FailWithErrorInfo(failure, L"The thermal-control record could not be written.");

        // The real server takes only what the program documents it sends.
        const SAFEARRAY* array = value.parray;
        if (value.vt != (VT_ARRAY | VT_UI1) || !array || array->cDims != 1 ||
            array->rgsabound[0].cElements != 4 || array->rgsabound[0].lLbound != 0)
            return DISP_E_TYPEMISMATCH;

        std::vector<uint8_t> bytes(4);
        void* data = nullptr;
        HRESULT hr = SafeArrayAccessData(value.parray, &data);
        if (FAILED(hr))
            return hr;
        std::memcpy(bytes.data(), data, bytes.size());
        SafeArrayUnaccessData(value.parray);
        machine.SetRecord(bytes);
        machine.Set("last.casl.write.bytes", FormatBytes(bytes));
        return S_OK;
    }
};


} // namespace

HRESULT GetCaslClassFactory(REFIID iid, void** object)
{
    return ClassFactory<CaslCommand>::Get(
        [] {
            MachineLock lock;
        Machine machine = Machine::Load();
            HRESULT failure = machine.TakeFailure("casl.create");
            if (failure == S_OK)
                machine.Increment("casl.instances");
            machine.Save();
            return failure;
        },
        iid, object);
}

} // namespace simfw
