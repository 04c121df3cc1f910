// The lines of Kelvane.ini as they are read: shared by the tray program and
// the package's defaults writer, so that both read a file alike.
#pragma once

#include <cstdint>
#include <cstdio>

struct Profile {
    int32_t autostart; // 1 on, 0 off, -1 not set
    int32_t mode;      // 1 On, 0 Off, -1 not set
};

// Applies one line (or a piece of at most 99 bytes of a longer one).
void ApplyProfileLine(const char* line, Profile& profile);

// Applies every line of an open file, read in pieces of at most 99 bytes.
void ReadProfileLines(FILE* file, Profile& profile);
