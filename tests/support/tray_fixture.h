// In-process tests of the tray program's code: AppState and ThermalState as
// at start, the test program's own resources, a fresh simulated machine, no
// settings file.
#pragma once

#include <string>

#include "machine_fixture.h"

class TrayTest : public SimulatedMachineTest {
protected:
    void SetUp() override;
    void TearDown() override;
};

std::wstring SettingsFilePath();
void WriteSettingsFile(const std::string& bytes);
std::string ReadSettingsFile();
// The read-only default beside the installed program.
void WriteDefaultSettingsFile(const std::string& bytes);

// Whether the run's user interface reads right to left: CTest sets
// KV_READING=rtl beside an Arabic or Hebrew LANG; any other run expects
// left to right.
bool ExpectedRightToLeft();

// How often the program's retry pause ran (the test program's pause is 1 ms).
extern int retryWaits;
