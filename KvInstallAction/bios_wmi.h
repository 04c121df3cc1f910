// The firmware's thermal-control record over WMI: one complete exchange of
// the four record bytes with the firmware's method "vrqBIOSInt4" in root\wmi.
#pragma once

#include <windows.h>
#include <wbemcli.h>

#include <cstdint>

constexpr LONG kBiosCommandRead = 1;
constexpr LONG kBiosCommandWrite = 2;

// Owned by the caller and zeroed before its first use. Between exchanges
// every pointer is null; only securityInitialised carries over.
struct BiosWmiConnection {
    LONG securityInitialised;
    IWbemLocator* locator;
    IWbemServices* services;
    IWbemClassObject* inParams;
    IWbemClassObject* outParams;
    IWbemClassObject* interfaceClass;
    IWbemClassObject* inSignature;
    IWbemClassObject* inData;
    IWbemClassObject* inDataClass;
};

// Sends command (1 read, 2 write) with the 4 input bytes and copies 4 bytes
// of the answer into output. The caller has initialised COM. Returns the
// first failure met, or a success code; output stays all zero unless the
// answer held exactly 4 bytes.
HRESULT ExecuteBiosCommand(BiosWmiConnection& connection, LONG command, const uint8_t* input,
                           uint8_t* output);

// Fills the "vrqBDataIn" instance and puts it on the method's input; stops at
// the first failing step and returns its status.
HRESULT BuildBiosInput(BiosWmiConnection& connection, const uint8_t* input, LONG command);

// Takes "OutData" of the method's output apart into the 4 output bytes.
HRESULT ReadBiosOutput(BiosWmiConnection& connection, uint8_t* output);

// Releases every pointer the record holds and sets it to null.
void ReleaseBiosWmiConnection(BiosWmiConnection& connection);
