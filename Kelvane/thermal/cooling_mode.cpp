#include "cooling_mode.h"

#include <windows.h>

#include "diagnostic_log.h"
#include "thermal_channel.h"

ThermalState thermalState = {};

namespace {

const char kWriteFailedLine[] = "SetKelvaneMode(): SetThermalControl() failed 0x%08lX\n";

void SetModeBytes(ThermalControlRecord& record, KelvaneMode mode)
{
    record.bytes[1] = mode == On ? 1 : 0;
    record.bytes[2] = 0;
}

} // namespace

int InitThermalControl()
{
    ThermalControlRecord& record = thermalState.record;
    const HRESULT read = GetThermalControl(record.bytes);
    if (FAILED(read)) {
        thermalState.lastFailure = read;
        return -1;
    }

    thermalState.accelerometerSupported = (record.bytes[0] & kAccelerometerFlag) ? 1 : 0;

    const int held = ModeOfRecord(record);
    if (held != -1) {
        thermalState.mode = held;
        return held;
    }

    WriteLogFormat("InitThermalControl(): Firmware returned an invalid mode (0x%02X 0x%02X 0x%02X). "
                   "The default (On) mode is set.\n",
                   record.bytes[0], record.bytes[1], record.bytes[2]);
    SetModeBytes(record, On);
    HRESULT hr = SetThermalControl(record.bytes);
    if (FAILED(hr))
        WriteLogFormat(kWriteFailedLine, hr);
    else
        thermalState.mode = On;
    return 1;
}

int ModeOfRecord(const ThermalControlRecord& record)
{
    if (record.bytes[2] != 0 || record.bytes[1] > 1)
        return -1;
    return record.bytes[1] == 1 ? On : Off;
}

KelvaneMode GetKelvaneMode()
{
    return thermalState.mode;
}

int32_t IsAccelerometerSupported()
{
    return thermalState.accelerometerSupported;
}

int SetKelvaneMode(KelvaneMode mode)
{
    SetModeBytes(thermalState.record, mode);
    HRESULT hr = SetThermalControl(thermalState.record.bytes);
    if (FAILED(hr)) {
        WriteLogFormat(kWriteFailedLine, hr);
        thermalState.lastFailure = hr;
        return 0;
    }
    thermalState.mode = mode;
    return 1;
}
