// Moves the firmware's four-byte thermal-control record through the outside
// automation server. Each call is a complete exchange with its own COM
// apartment and its own server object; every failure is logged.
#pragma once

#include <windows.h>

#include <cstdint>

// Reads the record into destination (4 bytes). On any failure destination is
// left as it was.
HRESULT GetThermalControl(uint8_t* destination);

// Writes record (4 bytes). Bytes 0 and 3 are first replaced with the
// firmware's current ones, so on success the record holds what was sent.
// When that fresh read fails nothing is written and record stays as it was.
HRESULT SetThermalControl(uint8_t* record);

// True while a read or write is under way on this thread. A call to an
// out-of-process server lets COM dispatch messages sent meanwhile: whatever
// such a message would do with the firmware must wait until this is false.
bool IsFirmwareCallOutstanding();
