#include "wmi_server.h"

#include <oleauto.h>
#include <wbemcli.h>

#include <cstdio>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "com_object.h"
#include "machine_store.h"

namespace simfw {

const CLSID CLSID_SimWbemAdministrativeLocator = {
    0xCB8555CC, 0x9128, 0x11D1, {0xAD, 0x9B, 0x00, 0xC0, 0x4F, 0xD8, 0xFD, 0xFF}};

namespace {

const IID kIidWbemLocator = {0xDC12A687, 0x737F, 0x11CF, {0x88, 0x4D, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};
const IID kIidWbemServices = {0x9556DC99, 0x828C, 0x11CF, {0xA3, 0x7E, 0x00, 0xAA, 0x00, 0x32, 0x40, 0xC7}};
const IID kIidWbemClassObject = {0xDC12A681, 0x737F, 0x11CF, {0x88, 0x4D, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};
const IID kIidEnumWbemClassObject = {
    0x027947E1, 0xD731, 0x11CE, {0xA3, 0x57, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};
// Private: lets the provider read the objects it handed out without going
// through Get, whose failures belong to the caller.
const IID kIidSimWmiObject = {0x5E1F0A77, 0x3C2B, 0x4D9A, {0x9E, 0x61, 0x7A, 0x12, 0x44, 0xB0, 0x0C, 0x31}};

const wchar_t kInterfaceClass[] = L"vrqBIntM";
const wchar_t kDataInClass[] = L"vrqBDataIn";
const wchar_t kMethod[] = L"vrqBIOSInt4";
const wchar_t kInstancePath[] = L"\\\\KELVANE\\root\\wmi:vrqBIntM.InstanceName=\"ACPI\\\\PNP0C14\\\\0_0\"";

std::string Narrow(const wchar_t* text)
{
    if (!text)
        return "null";
    std::string result;
    for (; *text; ++text)
        result += *text < 0x80 ? static_cast<char>(*text) : '?';
    return result;
}

std::string Pointer(const void* p)
{
    return p ? "set" : "null";
}

// How a received value is written into the machine file.
std::string DescribeValue(const VARIANT& value)
{
    switch (value.vt) {
    case VT_EMPTY:
        return "EMPTY";
    case VT_NULL:
        return "NULL";
    case VT_I4:
        return "I4 " + std::to_string(value.lVal);
    case VT_BSTR:
        return "BSTR " + Narrow(value.bstrVal);
    case VT_UNKNOWN:
        return value.punkVal ? "UNKNOWN object" : "UNKNOWN null";
    case VT_ARRAY | VT_UI1: {
        SAFEARRAY* array = value.parray;
        if (!array || array->cDims != 1)
            return "UI1 array of " + std::to_string(array ? array->cDims : 0) + " dimensions";
        std::string text = "UI1[" + std::to_string(array->rgsabound[0].cElements) + "@" +
                           std::to_string(array->rgsabound[0].lLbound) + "]";
        const BYTE* data = static_cast<const BYTE*>(array->pvData);
        for (ULONG i = 0; i < array->rgsabound[0].cElements; ++i) {
            char part[4];
            std::snprintf(part, sizeof(part), " %02X", data[i]);
            text += part;
        }
        return text;
    }
    default:
        return "vt " + FormatStatus(value.vt).substr(6);
    }
}

HRESULT TakeFailure(const std::string& point)
{
    MachineLock lock;
    Machine machine = Machine::Load();
    if (!machine.Has("fail." + point))
        return S_OK;
    HRESULT hr = machine.TakeFailure(point);
    machine.Save();
    return hr;
}

void Record(const std::string& key, const std::string& value)
{
    UpdateMachine([&](Machine& machine) { machine.Set(key, value); });
}

// VariantCopy's source is not const in every SDK; it is only read.
HRESULT CopyValue(VARIANT* destination, const VARIANT* source)
{
    return VariantCopy(destination, const_cast<VARIANT*>(source));
}

// One property value, owned.
class Value {
public:
    Value() { VariantInit(&v_); }
    ~Value() { VariantClear(&v_); }
    Value(const Value& other) : Value() { CopyValue(&v_, &other.v_); }
    Value& operator=(const Value& other)
    {
        if (this != &other)
            CopyValue(&v_, &other.v_);
        return *this;
    }
    VARIANT& Get() { return v_; }
    const VARIANT& Get() const { return v_; }

private:
    VARIANT v_;
};

enum class Kind { Class, Instance };

// Every object of the provider: a class or an instance with a fixed set of
// property names. Only instances take Puts.
class WmiObject final : public IWbemClassObject, private CountedObject {
public:
    WmiObject(Kind kind, std::wstring className, std::string point, std::vector<std::wstring> names)
        : kind_(kind), className_(std::move(className)), point_(std::move(point)), names_(std::move(names))
    {
        for (const std::wstring& name : names_)
            values_[name].Get().vt = VT_NULL;
    }

    void SetValue(const std::wstring& name, const VARIANT& value) { CopyValue(&values_[name].Get(), &value); }
    const VARIANT* Find(const std::wstring& name) const
    {
        auto found = values_.find(name);
        return found == values_.end() ? nullptr : &found->second.Get();
    }
    const std::wstring& ClassName() const { return className_; }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (iid == IID_IUnknown || iid == kIidWbemClassObject || iid == kIidSimWmiObject) {
            *object = static_cast<IWbemClassObject*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefCounted(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseCounted(); }

    STDMETHODIMP Get(LPCWSTR name, LONG, VARIANT* value, CIMTYPE* type, LONG* flavor) override
    {
        if (!name)
            return WBEM_E_INVALID_PARAMETER;
        if (HRESULT failure = TakeFailure("wmi.get." + Narrow(name)))
            return failure;
        if (type)
            *type = CIM_EMPTY;
        if (flavor)
            *flavor = 0;
        if (std::wstring(name) == L"__CLASS") {
            if (value) {
                value->vt = VT_BSTR;
                value->bstrVal = SysAllocString(className_.c_str());
            }
            return S_OK;
        }
        const VARIANT* found = Find(name);
        if (!found)
            return WBEM_E_NOT_FOUND;
        if (value) {
            VariantInit(value);
            return CopyValue(value, found);
        }
        return S_OK;
    }

    STDMETHODIMP Put(LPCWSTR name, LONG flags, VARIANT* value, CIMTYPE type) override
    {
        if (!name)
            return WBEM_E_INVALID_PARAMETER;
        std::string property = Narrow(name);
        HRESULT hr = TakeFailure("wmi.put." + property);
        if (hr == S_OK && kind_ != Kind::Instance)
            hr = WBEM_E_ILLEGAL_OPERATION;
        if (hr == S_OK && !Find(name))
            hr = WBEM_E_NOT_FOUND;
        if (hr == S_OK && !value)
            hr = WBEM_E_INVALID_PARAMETER;
        if (hr == S_OK)
            SetValue(name, *value);

        std::string received = "flags=" + std::to_string(flags) + " type=" + std::to_string(type) + " " +
                               (value ? DescribeValue(*value) : std::string("no value"));
        UpdateMachine([&](Machine& machine) {
            std::string puts = machine.Get("last.wmi.puts");
            machine.Set("last.wmi.puts", (puts.empty() ? "" : puts + " ") + property + (hr == S_OK ? "" : "!"));
            machine.Set("last.wmi.put." + property, received);
        });
        return hr;
    }

    STDMETHODIMP SpawnInstance(LONG flags, IWbemClassObject** instance) override
    {
        if (!instance)
            return WBEM_E_INVALID_PARAMETER;
        *instance = nullptr;
        if (HRESULT failure = TakeFailure("wmi.spawn." + point_))
            return failure;
        if (kind_ != Kind::Class || flags != 0)
            return WBEM_E_INVALID_OPERATION;
        WmiObject* spawned = new (std::nothrow) WmiObject(Kind::Instance, className_, point_, names_);
        if (!spawned)
            return E_OUTOFMEMORY;
        *instance = spawned;
        return S_OK;
    }

    STDMETHODIMP GetMethod(LPCWSTR name, LONG flags, IWbemClassObject** in, IWbemClassObject** out) override
    {
        if (in)
            *in = nullptr;
        if (out)
            *out = nullptr;
        Record("last.wmi.getmethod", Narrow(name) + " flags=" + std::to_string(flags) +
                                         " in=" + Pointer(in) + " out=" + Pointer(out));
        if (HRESULT failure = TakeFailure("wmi.getmethod"))
            return failure;
        if (kind_ != Kind::Class || className_ != kInterfaceClass || !name || std::wstring(name) != kMethod)
            return WBEM_E_NOT_FOUND;
        if (in) {
            *in = new (std::nothrow) WmiObject(Kind::Class, L"__PARAMETERS", "inparams", {L"InData"});
            if (!*in)
                return E_OUTOFMEMORY;
        }
        if (out) {
            *out = new (std::nothrow) WmiObject(Kind::Class, L"__PARAMETERS", "outparams", {L"OutData"});
            if (!*out)
                return E_OUTOFMEMORY;
        }
        return S_OK;
    }

    STDMETHODIMP GetQualifierSet(IWbemQualifierSet**) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP Delete(LPCWSTR) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP GetNames(LPCWSTR, LONG, VARIANT*, SAFEARRAY**) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP BeginEnumeration(LONG) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP Next(LONG, BSTR*, VARIANT*, CIMTYPE*, LONG*) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP EndEnumeration() override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP GetPropertyQualifierSet(LPCWSTR, IWbemQualifierSet**) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP Clone(IWbemClassObject**) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP GetObjectText(LONG, BSTR*) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP SpawnDerivedClass(LONG, IWbemClassObject**) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP CompareTo(LONG, IWbemClassObject*) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP GetPropertyOrigin(LPCWSTR, BSTR*) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP InheritsFrom(LPCWSTR) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP PutMethod(LPCWSTR, LONG, IWbemClassObject*, IWbemClassObject*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP DeleteMethod(LPCWSTR) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP BeginMethodEnumeration(LONG) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP NextMethod(LONG, BSTR*, IWbemClassObject**, IWbemClassObject**) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP EndMethodEnumeration() override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP GetMethodQualifierSet(LPCWSTR, IWbemQualifierSet**) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP GetMethodOrigin(LPCWSTR, BSTR*) override { return WBEM_E_NOT_SUPPORTED; }

private:
    Kind kind_;
    std::wstring className_;
    std::string point_;
    std::vector<std::wstring> names_;
    std::map<std::wstring, Value> values_;
};

WmiObject* NewInterfaceInstance()
{
    WmiObject* instance = new (std::nothrow)
        WmiObject(Kind::Instance, kInterfaceClass, "vrqBIntM", {L"__PATH", L"InstanceName", L"Active"});
    if (instance) {
        VARIANT path;
        path.vt = VT_BSTR;
        path.bstrVal = SysAllocString(kInstancePath);
        instance->SetValue(L"__PATH", path);
        VariantClear(&path);
    }
    return instance;
}

class InstanceEnumerator final : public IEnumWbemClassObject, private CountedObject {
public:
    explicit InstanceEnumerator(bool empty) : left_(empty ? 0 : 1) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (iid != IID_IUnknown && iid != kIidEnumWbemClassObject)
            return E_NOINTERFACE;
        *object = static_cast<IEnumWbemClassObject*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefCounted(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseCounted(); }

    STDMETHODIMP Next(LONG timeout, ULONG count, IWbemClassObject** objects, ULONG* returned) override
    {
        Record("last.wmi.next", "timeout=" + std::to_string(timeout) + " count=" + std::to_string(count));
        if (!objects || !returned)
            return WBEM_E_INVALID_PARAMETER;
        *returned = 0;
        if (count == 0)
            return WBEM_S_FALSE;
        if (left_ == 0)
            return WBEM_S_FALSE;
        objects[0] = NewInterfaceInstance();
        if (!objects[0])
            return E_OUTOFMEMORY;
        --left_;
        *returned = 1;
        return count == 1 ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
    }
    STDMETHODIMP Reset() override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP NextAsync(ULONG, IWbemObjectSink*) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP Clone(IEnumWbemClassObject**) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP Skip(LONG, ULONG) override { return WBEM_E_NOT_SUPPORTED; }

private:
    int left_;
};

WmiObject* AsOwnObject(IUnknown* object)
{
    void* own = nullptr;
    if (!object || FAILED(object->QueryInterface(kIidSimWmiObject, &own)))
        return nullptr;
    // The caller keeps its own reference; this one only confirms the type.
    static_cast<WmiObject*>(own)->Release();
    return static_cast<WmiObject*>(own);
}

std::string DescribeField(const WmiObject* data, const wchar_t* name)
{
    const VARIANT* value = data ? data->Find(name) : nullptr;
    return value && value->vt != VT_NULL ? DescribeValue(*value) : "unset";
}

// What the firmware's method checks before it touches the record.
bool InputIsValid(Machine& machine, const WmiObject* data, LONG& command, std::vector<uint8_t>& bytes)
{
    static const wchar_t* const kFields[] = {L"Sign", L"Command", L"CommandType", L"Size", L"vrqBData"};
    for (const wchar_t* field : kFields)
        machine.Set("last.wmi.in." + Narrow(field), DescribeField(data, field));
    if (!data || data->ClassName() != kDataInClass)
        return false;
    if (machine.Get("last.wmi.in.Sign") != "UI1[4@0] 51 5A 52 54" ||
        machine.Get("last.wmi.in.CommandType") != "I4 44" || machine.Get("last.wmi.in.Size") != "I4 4")
        return false;
    const VARIANT* commandValue = data->Find(L"Command");
    const VARIANT* dataValue = data->Find(L"vrqBData");
    if (commandValue->vt != VT_I4 || (commandValue->lVal != 1 && commandValue->lVal != 2))
        return false;
    if (machine.Get("last.wmi.in.vrqBData").rfind("UI1[4@0]", 0) != 0)
        return false;
    command = commandValue->lVal;
    const BYTE* raw = static_cast<const BYTE*>(dataValue->parray->pvData);
    bytes.assign(raw, raw + 4);
    return true;
}

VARIANT ByteArray(const std::vector<uint8_t>& bytes)
{
    VARIANT value;
    VariantInit(&value);
    SAFEARRAYBOUND bound = {static_cast<ULONG>(bytes.size()), 0};
    SAFEARRAY* array = SafeArrayCreate(VT_UI1, 1, &bound);
    if (!array)
        return value;
    for (LONG i = 0; i < static_cast<LONG>(bytes.size()); ++i) {
        uint8_t byte = bytes[i];
        SafeArrayPutElement(array, &i, &byte);
    }
    value.vt = VT_ARRAY | VT_UI1;
    value.parray = array;
    return value;
}

// The method's output parameters: "OutData" holding an object with
// "rwReturnCode" and "Data" (the record's bytes, however many there are).
HRESULT BuildOutput(const Machine& machine, IWbemClassObject** out)
{
    WmiObject* params = new (std::nothrow) WmiObject(Kind::Instance, L"__PARAMETERS", "outparams", {L"OutData"});
    if (!params)
        return E_OUTOFMEMORY;
    std::string shape = machine.Get("wmi.outdata");
    VARIANT outData;
    VariantInit(&outData);
    if (shape == "null") {
        outData.vt = VT_UNKNOWN;
        outData.punkVal = nullptr;
    } else if (shape == "empty") {
        outData.vt = VT_NULL;
    } else {
        WmiObject* answer = new (std::nothrow)
            WmiObject(Kind::Instance, L"vrqBDataOut", "outdata", {L"rwReturnCode", L"Data"});
        if (!answer) {
            params->Release();
            return E_OUTOFMEMORY;
        }
        VARIANT code;
        VariantInit(&code);
        code.vt = VT_I4;
        code.lVal = 0;
        answer->SetValue(L"rwReturnCode", code);
        VARIANT data = ByteArray(machine.Record());
        answer->SetValue(L"Data", data);
        VariantClear(&data);
        outData.vt = VT_UNKNOWN;
        outData.punkVal = static_cast<IWbemClassObject*>(answer);
    }
    params->SetValue(L"OutData", outData);
    VariantClear(&outData);
    *out = params;
    return S_OK;
}

class WmiServices final : public IWbemServices, private CountedObject {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (iid != IID_IUnknown && iid != kIidWbemServices)
            return E_NOINTERFACE;
        *object = static_cast<IWbemServices*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefCounted(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseCounted(); }

    STDMETHODIMP GetObject(const BSTR path, LONG flags, IWbemContext* context, IWbemClassObject** object,
                           IWbemCallResult** callResult) override
    {
        std::string name = Narrow(path);
        Record("last.wmi.getobject." + name, "flags=" + std::to_string(flags) + " context=" + Pointer(context) +
                                                 " callresult=" + Pointer(callResult));
        if (!object)
            return WBEM_E_INVALID_PARAMETER;
        *object = nullptr;
        if (HRESULT failure = TakeFailure("wmi.getobject." + name))
            return failure;
        std::wstring wanted = path ? path : L"";
        if (wanted == kInterfaceClass)
            *object = new (std::nothrow) WmiObject(Kind::Class, kInterfaceClass, "vrqBIntM",
                                                   {L"__PATH", L"InstanceName", L"Active"});
        else if (wanted == kDataInClass)
            *object = new (std::nothrow) WmiObject(Kind::Class, kDataInClass, "vrqBDataIn",
                                                   {L"Sign", L"Command", L"CommandType", L"Size", L"vrqBData"});
        else
            return WBEM_E_NOT_FOUND;
        return *object ? S_OK : E_OUTOFMEMORY;
    }

    STDMETHODIMP CreateInstanceEnum(const BSTR filter, LONG flags, IWbemContext* context,
                                    IEnumWbemClassObject** enumerator) override
    {
        Record("last.wmi.enum", Narrow(filter) + " flags=" + FormatStatus(flags) + " context=" + Pointer(context));
        if (!enumerator)
            return WBEM_E_INVALID_PARAMETER;
        *enumerator = nullptr;
        if (HRESULT failure = TakeFailure("wmi.enum"))
            return failure;
        if (!filter || std::wstring(filter) != kInterfaceClass)
            return WBEM_E_INVALID_CLASS;
        *enumerator = new (std::nothrow) InstanceEnumerator(Machine::Load().Get("wmi.enum.empty") == "1");
        return *enumerator ? S_OK : E_OUTOFMEMORY;
    }

    STDMETHODIMP ExecMethod(const BSTR path, const BSTR method, LONG flags, IWbemContext* context,
                            IWbemClassObject* in, IWbemClassObject** out, IWbemCallResult** callResult) override
    {
        if (out)
            *out = nullptr;
        MachineLock lock;
        Machine machine = Machine::Load();
        machine.Increment("wmi.exec");
        machine.Set("last.wmi.exec", "path=" + Narrow(path) + " method=" + Narrow(method) +
                                         " flags=" + std::to_string(flags) + " context=" + Pointer(context) +
                                         " callresult=" + Pointer(callResult));
        HRESULT hr = Execute(machine, path, method, in, out);
        machine.Save();
        // Made only after the save: each new object counts itself in the file.
        if (SUCCEEDED(hr))
            hr = BuildOutput(Machine::Load(), out);
        return hr;
    }

    STDMETHODIMP OpenNamespace(const BSTR, LONG, IWbemContext*, IWbemServices**, IWbemCallResult**) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP CancelAsyncCall(IWbemObjectSink*) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP QueryObjectSink(LONG, IWbemObjectSink**) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP GetObjectAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP PutClass(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP PutClassAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP DeleteClass(const BSTR, LONG, IWbemContext*, IWbemCallResult**) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP DeleteClassAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP CreateClassEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP CreateClassEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP PutInstance(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP PutInstanceAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP DeleteInstance(const BSTR, LONG, IWbemContext*, IWbemCallResult**) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP DeleteInstanceAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP CreateInstanceEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP ExecQuery(const BSTR, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP ExecQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP ExecNotificationQuery(const BSTR, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP ExecNotificationQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP ExecMethodAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*,
                                 IWbemObjectSink*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }

private:
    static HRESULT Execute(Machine& machine, const BSTR path, const BSTR method, IWbemClassObject* in,
                           IWbemClassObject** out)
    {
        if (HRESULT failure = machine.TakeFailure("wmi.exec"))
            return failure;
        if (!path || std::wstring(path) != kInstancePath)
            return WBEM_E_INVALID_OBJECT_PATH;
        if (!method || std::wstring(method) != kMethod)
            return WBEM_E_INVALID_METHOD;
        if (!out)
            return WBEM_E_INVALID_PARAMETER;

        WmiObject* params = AsOwnObject(in);
        const VARIANT* inData = params ? params->Find(L"InData") : nullptr;
        machine.Set("last.wmi.in.InData", inData && inData->vt != VT_NULL ? DescribeValue(*inData) : "unset");
        WmiObject* data = inData && inData->vt == VT_UNKNOWN ? AsOwnObject(inData->punkVal) : nullptr;

        LONG command = 0;
        std::vector<uint8_t> bytes;
        bool valid = InputIsValid(machine, data, command, bytes);
        std::string commands = machine.Get("last.wmi.commands");
        std::string mark = valid ? std::to_string(command) : "invalid";
        machine.Set("last.wmi.commands", commands.empty() ? mark : commands + " " + mark);
        // A strict firmware refuses an incomplete or foreign request whole.
        if (!valid)
            return WBEM_E_INVALID_METHOD_PARAMETERS;

        if (command == 2) {
            machine.SetRecord(bytes);
            machine.Set("last.wmi.write.bytes", FormatBytes(bytes));
        }
        return S_OK;
    }
};

class WmiLocator final : public IWbemLocator, private CountedObject {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (iid != IID_IUnknown && iid != kIidWbemLocator)
            return E_NOINTERFACE;
        *object = static_cast<IWbemLocator*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefCounted(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseCounted(); }

    STDMETHODIMP ConnectServer(const BSTR resource, const BSTR user, const BSTR password, const BSTR locale,
                               LONG securityFlags, const BSTR authority, IWbemContext* context,
                               IWbemServices** services) override
    {
        if (services)
            *services = nullptr;
        HRESULT failure = S_OK;
        UpdateMachine([&](Machine& machine) {
            machine.Increment("wmi.connect");
            machine.Set("last.wmi.connect", Narrow(resource) + " user=" + Narrow(user) +
                                                " password=" + Narrow(password) + " locale=" + Narrow(locale) +
                                                " flags=" + std::to_string(securityFlags) +
                                                " authority=" + Narrow(authority) + " context=" + Pointer(context));
            machine.Set("last.wmi.apartment", ApartmentName());
            // Each connection starts a new exchange: forget the last one's Puts.
            machine.Erase("last.wmi.puts");
            failure = machine.TakeFailure("wmi.connect");
        });
        if (failure != S_OK)
            return failure;
        if (!services)
            return WBEM_E_INVALID_PARAMETER;
        if (!resource || lstrcmpiW(resource, L"root\\wmi") != 0)
            return WBEM_E_INVALID_NAMESPACE;
        *services = new (std::nothrow) WmiServices;
        return *services ? S_OK : E_OUTOFMEMORY;
    }
};


} // namespace

HRESULT GetWmiLocatorClassFactory(REFIID iid, void** object)
{
    return simfw::ClassFactory<WmiLocator>::Get(
        [] { return TakeFailure("wmi.create"); }, iid, object);
}

} // namespace simfw
