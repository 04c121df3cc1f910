#include "thermal_channel.h"

#include <comdef.h>

#include <cstring>

#include "casl_command.h"
#include "diagnostic_log.h"
#include "scoped_com.h"

namespace {

constexpr VARTYPE kRecordType = VT_ARRAY | VT_UI1;
constexpr ULONG kRecordSize = 4;

const char kReadFailedLine[] = "GetThermalControl(): Get ThermalDiags.ThermalControl Failed 0x%08lX\n";
const char kWriteFailedLine[] = "SetThermalControl(): Set Diags.ThermalControl failed 0x%08lX\n";

void ThrowIfFailed(HRESULT hr)
{
    if (FAILED(hr))
        throw _com_error(hr);
}

// Returns the ProgID lookup's status when the server is not registered;
// every later failure is raised. The lookup only decides whether to go on:
// the object is always created from the fixed class.
HRESULT CreateCaslCommand(ComPtr<ICaslCommand>& command)
{
    CLSID registered;
    HRESULT hr = CLSIDFromProgID(kCaslCommandProgId, &registered);
    if (FAILED(hr))
        return hr;

    ComPtr<IUnknown> unknown;
    ThrowIfFailed(CoCreateInstance(CLSID_CaslCommand, nullptr, CLSCTX_ALL, IID_IUnknown,
                                   unknown.PutVoid()));
    HRESULT run = OleRun(unknown.Get());
    HRESULT query = SUCCEEDED(run) ? unknown->QueryInterface(IID_ICaslCommand, command.PutVoid())
                                   : run;
    unknown.Reset();
    ThrowIfFailed(run);
    // An object without ICaslCommand is a failure, not the lookup's success.
    ThrowIfFailed(query);
    return hr;
}

HRESULT GetThermalProperty(VARIANT* value)
{
    try {
        ComPtr<ICaslCommand> command;
        HRESULT hr = CreateCaslCommand(command);
        if (FAILED(hr))
            return hr;

        ScopedBstr name(kThermalControlProperty);
        if (!name)
            throw _com_error(E_OUTOFMEMORY);

        hr = command->ReadProperty(name.Get(), value);
        ThrowIfFailed(hr);
        return hr;
    } catch (const _com_error& error) {
        return error.Error();
    }
}

HRESULT PutThermalProperty(VARIANT value)
{
    try {
        ComPtr<ICaslCommand> command;
        HRESULT hr = CreateCaslCommand(command);
        if (FAILED(hr))
            return hr;

        ScopedBstr name;
        ScopedVariant copy;
        ThrowIfFailed(VariantCopy(copy.Get(), &value));

        name = ScopedBstr(kThermalControlProperty);
        if (!name)
            throw _com_error(E_OUTOFMEMORY);

        hr = command->WriteProperty(name.Get(), *copy);
        ThrowIfFailed(hr);
        return hr;
    } catch (const _com_error& error) {
        return error.Error();
    }
}

ULONGLONG CountElements(const SAFEARRAY* array)
{
    ULONGLONG count = array->cDims ? 1 : 0;
    for (USHORT dim = 0; dim < array->cDims; ++dim)
        count *= array->rgsabound[dim].cElements;
    return count;
}

HRESULT CopyRecordFromArray(SAFEARRAY* array, uint8_t* destination)
{
    void* data = nullptr;
    HRESULT hr = SafeArrayAccessData(array, &data);
    if (FAILED(hr)) {
        WriteLogFormat("GetThermalControl(): Failed in SafeArrayAccessData (0x%08lX)\n", hr);
        return hr;
    }

    // The server may send more than four bytes (the rest is ignored) but
    // never fewer may be read.
    ULONGLONG elements = CountElements(array);
    if (elements * array->cbElements < kRecordSize) {
        WriteLogFormat("GetThermalControl(): Diags.ThermalControl holds fewer than 4 bytes (%ld)\n",
                       static_cast<long>(elements));
        hr = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    } else {
        memcpy_s(destination, kRecordSize, data, kRecordSize);
    }
    SafeArrayUnaccessData(array);
    return hr;
}

// Puts the record into value as a one-dimensional four-byte array; on
// failure value stays empty and the line says why.
void PrepareRecordValue(const uint8_t* record, VARIANT* value)
{
    SAFEARRAYBOUND bound = {kRecordSize, 0};
    ScopedSafeArray array(SafeArrayCreate(VT_UI1, 1, &bound));
    if (!array) {
        WriteLog("SetThermalControl(): Out of memory. Failed in SafeArrayCreate().\n");
        return;
    }

    void* data = nullptr;
    HRESULT hr = SafeArrayAccessData(array.Get(), &data);
    if (FAILED(hr)) {
        WriteLogFormat("SetThermalControl(): SafeArrayAccessData() Failed 0x%08lX\n", hr);
        return;
    }
    memcpy(data, record, kRecordSize);
    SafeArrayUnaccessData(array.Get());

    value->vt = kRecordType;
    value->parray = array.Detach();
}

// The tray program has one thread: a plain count is enough.
int outstandingCalls = 0;

struct OutstandingCall {
    OutstandingCall() { ++outstandingCalls; }
    ~OutstandingCall() { --outstandingCalls; }
    OutstandingCall(const OutstandingCall&) = delete;
    OutstandingCall& operator=(const OutstandingCall&) = delete;
};

} // namespace

bool IsFirmwareCallOutstanding()
{
    return outstandingCalls > 0;
}

HRESULT GetThermalControl(uint8_t* destination)
{
    OutstandingCall call;
    // The VARIANT is cleared before COM goes: a value that holds anything but
    // bytes must not outlive the server's apartment.
    ScopedComApartment com(CoInitialize(nullptr));
    ScopedVariant value;

    HRESULT hr = GetThermalProperty(value.Get());
    if (FAILED(hr)) {
        WriteLogFormat(kReadFailedLine, hr);
    } else if (value->vt != kRecordType) {
        WriteLogFormat("GetThermalControl(): varOut Variant type is out of spec (varOut.vt = 0x%X). "
                       "Should be VT_ARRAY | VT_UT1\n",
                       value->vt);
        hr = DISP_E_TYPEMISMATCH;
    } else {
        hr = CopyRecordFromArray(value->parray, destination);
    }
    return hr;
}

HRESULT SetThermalControl(uint8_t* record)
{
    OutstandingCall call;
    ScopedVariant value;

    uint8_t current[kRecordSize];
    HRESULT hr = GetThermalControl(current);
    if (FAILED(hr)) {
        // Without the firmware's bytes 0 and 3 there is nothing safe to send.
        WriteLogFormat(kWriteFailedLine, hr);
        return hr;
    }
    record[0] = current[0];
    record[3] = current[3];

    ScopedComApartment com(CoInitialize(nullptr));
    PrepareRecordValue(record, value.Get());

    // Sent even when preparing failed: the server then sees VT_EMPTY.
    hr = PutThermalProperty(*value);
    if (FAILED(hr))
        WriteLogFormat(kWriteFailedLine, hr);
    return hr;
}
