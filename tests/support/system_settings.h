// Stands in for two system settings that Wine 8 does not keep: the
// high-contrast switch (SPI_SETHIGHCONTRAST is a stub there and
// SPI_GETHIGHCONTRAST always answers off) and the keyboard cues. This
// program's SystemParametersInfoW answers them from here; switching high
// contrast with SPIF_SENDCHANGE sends WM_SETTINGCHANGE to this thread's
// top-level windows, as Windows does, and switching it on sets the colours
// of "High Contrast Black" (SetSysColors) until it is switched off or the
// simulation ends. Everything else goes to the system.
#pragma once

// Sets both, high contrast through SystemParametersInfoW(SPI_SETHIGHCONTRAST).
void SimulateSystemSettings(bool highContrast, bool keyboardCues);
// Gives the calls back to the system.
void EndSystemSettings();
