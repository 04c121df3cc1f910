// The cooling mode and the process-wide record of what the firmware holds.
#pragma once

#include <cstdint>

using KelvaneMode = int32_t;
constexpr KelvaneMode Off = 0;
constexpr KelvaneMode On = 1;

// Byte 0: capability flags (bit 0: accelerometer and thermal control);
// byte 1: mode for mobile use; byte 2: mode for stationary use; byte 3: not
// interpreted.
struct ThermalControlRecord {
    uint8_t bytes[4];
};

constexpr uint8_t kAccelerometerFlag = 0x01;

struct ThermalState {
    ThermalControlRecord record;
    KelvaneMode mode;
    int32_t accelerometerSupported;
    // The status of the last failed exchange with the firmware (an HRESULT),
    // for the event written when the program gives up.
    int32_t lastFailure;
};

// The one instance; zero at start (mode Off, no accelerometer).
extern ThermalState thermalState;

// Reads the record and derives mode and accelerometer flag: -1 when the read
// failed (nothing changes), else the mode. An invalid record is repaired to On
// and gives 1 whether or not that write succeeded.
int InitThermalControl();

// The mode a record holds: On (byte 1 = 1) or Off (0), byte 2 being 0;
// -1 for any other pair.
int ModeOfRecord(const ThermalControlRecord& record);

KelvaneMode GetKelvaneMode();
int32_t IsAccelerometerSupported();

// Writes mode to the firmware; 1 on success (the mode then changes), 0 on
// failure (the mode stays). Every call writes.
int SetKelvaneMode(KelvaneMode mode);
