#include "bios_wmi.h"

#include <cstdio>

#include "scoped_com.h"

namespace {

// The administrative locator and IWbemLocator, spelled out so that the
// program does not depend on an import library for them.
const CLSID kWbemAdministrativeLocator = {
    0xCB8555CC, 0x9128, 0x11D1, {0xAD, 0x9B, 0x00, 0xC0, 0x4F, 0xD8, 0xFD, 0xFF}};
const IID kIidWbemLocator = {
    0xDC12A687, 0x737F, 0x11CF, {0x88, 0x4D, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};
const IID kIidWbemClassObject = {
    0xDC12A681, 0x737F, 0x11CF, {0x88, 0x4D, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};

const wchar_t kNamespace[] = L"root\\wmi";
const wchar_t kInterfaceClass[] = L"vrqBIntM";
const wchar_t kDataInClass[] = L"vrqBDataIn";
constexpr long kRecordSize = 4;
constexpr LONG kThermalControlType = 0x2C;
constexpr LONG kEnumerationTimeout = 2000;

template <class T>
void ReleaseAndClear(T*& pointer)
{
    if (pointer) {
        pointer->Release();
        pointer = nullptr;
    }
}

// "vrqBIOSInt4": the method's number is the data size.
void FormatMethodName(wchar_t (&name)[32])
{
    swprintf(name, 32, L"vrqBIOSInt%ld", static_cast<long>(kRecordSize));
}

// A four-element byte array, lower bound 0, filled element by element.
HRESULT CreateByteVector(const uint8_t* bytes, ScopedVariant& value)
{
    ScopedSafeArray array(SafeArrayCreateVector(VT_UI1, 0, kRecordSize));
    if (!array)
        return E_OUTOFMEMORY;
    for (long i = 0; i < kRecordSize; ++i) {
        uint8_t element = bytes[i];
        HRESULT hr = SafeArrayPutElement(array.Get(), &i, &element);
        if (FAILED(hr))
            return hr;
    }
    value.Clear();
    value.Get()->vt = VT_ARRAY | VT_UI1;
    value.Get()->parray = array.Detach();
    return S_OK;
}

HRESULT PutLong(IWbemClassObject* object, const wchar_t* name, LONG number)
{
    ScopedVariant value;
    value.Get()->vt = VT_I4;
    value.Get()->lVal = number;
    return object->Put(name, 0, value.Get(), 0);
}

HRESULT PutBytes(IWbemClassObject* object, const wchar_t* name, const uint8_t* bytes)
{
    ScopedVariant value;
    HRESULT hr = CreateByteVector(bytes, value);
    if (FAILED(hr))
        return hr;
    return object->Put(name, 0, value.Get(), 0);
}

// The instance path for ExecMethod. Without an instance, or without a path,
// no method is executed: the output then stays zero.
HRESULT GetInterfacePath(IWbemServices* services, ScopedVariant& path)
{
    ComPtr<IEnumWbemClassObject> enumerator;
    HRESULT hr = services->CreateInstanceEnum(ScopedBstr(kInterfaceClass).Get(),
                                              WBEM_FLAG_RETURN_IMMEDIATELY | WBEM_FLAG_FORWARD_ONLY,
                                              nullptr, enumerator.Put());
    if (FAILED(hr))
        return hr;

    IWbemClassObject* found = nullptr;
    ULONG returned = 0;
    enumerator->Next(kEnumerationTimeout, 1, &found, &returned);
    ComPtr<IWbemClassObject> instance(returned == 1 ? found : nullptr);
    if (returned != 1 && found)
        found->Release();
    enumerator.Reset();
    if (!instance)
        return WBEM_E_NOT_FOUND;

    hr = instance->Get(L"__PATH", 0, path.Get(), nullptr, nullptr);
    if (FAILED(hr))
        return hr;
    if (path->vt != VT_BSTR || !path->bstrVal || !path->bstrVal[0])
        return WBEM_E_INVALID_OBJECT_PATH;
    return S_OK;
}

// Only a one-dimensional byte array of exactly 4 elements fills the output;
// anything else is no record and is reported as such, not as a read.
HRESULT CopyRecordBytes(const VARIANT& data, uint8_t* output)
{
    if (!(data.vt & VT_ARRAY) || !data.parray)
        return WBEM_E_TYPE_MISMATCH;
    SAFEARRAY* array = data.parray;
    if (SafeArrayGetDim(array) != 1 || SafeArrayGetElemsize(array) != 1)
        return WBEM_E_TYPE_MISMATCH;
    LONG lower = 0, upper = -1;
    if (FAILED(SafeArrayGetLBound(array, 1, &lower)) || FAILED(SafeArrayGetUBound(array, 1, &upper)))
        return WBEM_E_TYPE_MISMATCH;
    if (static_cast<LONGLONG>(upper) - lower + 1 != kRecordSize)
        return WBEM_E_TYPE_MISMATCH;
    // From the lower bound up to index 3, each into the byte of its index;
    // an index below 0 has no byte.
    for (LONG i = lower < 0 ? 0 : lower; i < kRecordSize; ++i) {
        uint8_t element = 0;
        if (SUCCEEDED(SafeArrayGetElement(array, &i, &element)))
            output[i] = element;
    }
    return S_OK;
}

} // namespace

HRESULT BuildBiosInput(BiosWmiConnection& connection, const uint8_t* input, LONG command)
{
    static const uint8_t kSign[kRecordSize] = {'Q', 'Z', 'R', 'T'};
    IWbemClassObject* data = connection.inData;

    HRESULT hr = PutBytes(data, L"Sign", kSign);
    if (SUCCEEDED(hr))
        hr = PutLong(data, L"Command", command);
    if (SUCCEEDED(hr))
        hr = PutLong(data, L"CommandType", kThermalControlType);
    if (SUCCEEDED(hr))
        hr = PutLong(data, L"Size", kRecordSize);
    if (SUCCEEDED(hr))
        hr = PutBytes(data, L"vrqBData", input);
    if (SUCCEEDED(hr)) {
        ScopedVariant value;
        value.Get()->vt = VT_UNKNOWN;
        value.Get()->punkVal = data;
        data->AddRef();
        hr = connection.inParams->Put(L"InData", 0, value.Get(), 0);
    }
    return hr;
}

HRESULT ReadBiosOutput(BiosWmiConnection& connection, uint8_t* output)
{
    for (long i = 0; i < kRecordSize; ++i)
        output[i] = 0;
    if (!connection.outParams)
        return WBEM_E_NOT_FOUND;

    ScopedVariant outData;
    HRESULT hr = connection.outParams->Get(L"OutData", 0, outData.Get(), nullptr, nullptr);
    if (FAILED(hr))
        return hr;
    ReleaseAndClear(connection.outParams);

    // Nothing to query when "OutData" holds no object.
    if (outData->vt != VT_UNKNOWN || !outData->punkVal)
        return WBEM_E_TYPE_MISMATCH;
    ComPtr<IWbemClassObject> answer;
    hr = outData->punkVal->QueryInterface(kIidWbemClassObject, answer.PutVoid());
    outData.Clear();
    if (FAILED(hr))
        return hr;

    ScopedVariant value;
    hr = answer->Get(L"rwReturnCode", 0, value.Get(), nullptr, nullptr);
    value.Clear();
    if (FAILED(hr))
        return hr;

    hr = answer->Get(L"Data", 0, value.Get(), nullptr, nullptr);
    if (SUCCEEDED(hr))
        hr = CopyRecordBytes(*value, output);
    return hr;
}

HRESULT ExecuteBiosCommand(BiosWmiConnection& connection, LONG command, const uint8_t* input,
                           uint8_t* output)
{
    if (!connection.securityInitialised) {
        HRESULT security = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_CONNECT,
                                                RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
        // A failure is retried by the next exchange.
        if (SUCCEEDED(security))
            connection.securityInitialised = 1;
    }

    HRESULT hr = S_OK;
    wchar_t method[32];
    if (!connection.locator)
        hr = CoCreateInstance(kWbemAdministrativeLocator, nullptr, CLSCTX_INPROC_SERVER, kIidWbemLocator,
                              reinterpret_cast<void**>(&connection.locator));
    if (SUCCEEDED(hr) && !connection.services)
        hr = connection.locator->ConnectServer(ScopedBstr(kNamespace).Get(), nullptr, nullptr, nullptr, 0,
                                               nullptr, nullptr, &connection.services);
    if (SUCCEEDED(hr))
        hr = connection.services->GetObject(ScopedBstr(kInterfaceClass).Get(), 0, nullptr,
                                            &connection.interfaceClass, nullptr);
    if (SUCCEEDED(hr)) {
        FormatMethodName(method);
        hr = connection.interfaceClass->GetMethod(method, 0, &connection.inSignature, nullptr);
    }
    if (SUCCEEDED(hr))
        hr = connection.inSignature->SpawnInstance(0, &connection.inParams);
    if (SUCCEEDED(hr))
        hr = connection.services->GetObject(ScopedBstr(kDataInClass).Get(), 0, nullptr,
                                            &connection.inDataClass, nullptr);
    if (SUCCEEDED(hr))
        hr = connection.inDataClass->SpawnInstance(0, &connection.inData);

    if (SUCCEEDED(hr)) {
        // The method runs even with an incomplete input: the firmware judges it.
        BuildBiosInput(connection, input, command);

        ScopedVariant path;
        hr = GetInterfacePath(connection.services, path);
        if (SUCCEEDED(hr)) {
            FormatMethodName(method);
            hr = connection.services->ExecMethod(path->bstrVal, ScopedBstr(method).Get(), 0, nullptr,
                                                 connection.inParams, &connection.outParams, nullptr);
        }
        path.Clear();
        if (SUCCEEDED(hr))
            hr = ReadBiosOutput(connection, output);
    }

    ReleaseAndClear(connection.inDataClass);
    ReleaseBiosWmiConnection(connection);
    return hr;
}

void ReleaseBiosWmiConnection(BiosWmiConnection& connection)
{
    ReleaseAndClear(connection.inData);
    ReleaseAndClear(connection.inDataClass);
    ReleaseAndClear(connection.inParams);
    ReleaseAndClear(connection.outParams);
    ReleaseAndClear(connection.interfaceClass);
    ReleaseAndClear(connection.inSignature);
    ReleaseAndClear(connection.services);
    ReleaseAndClear(connection.locator);
}
