// The yardstick of kelvanectl get: a console program that reads the
// firmware's record once, as the reference tray program does, and prints the
// mode. Exit code 0, or 1 when the firmware does not answer.
#include <windows.h>

#include <cstdio>

#include "reference_firmware_read.h"

int wmain()
{
    BYTE record[4];
    if (!ReadFirmwareRecord(record))
        return 1;
    const char* line = record[1] == 1 ? "on\n" : "off\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, static_cast<DWORD>(lstrlenA(line)), &written, nullptr);
    return 0;
}
