// HRESULTs print as "0x80004002" in comparisons, not as negative decimals.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

inline std::string Hex(HRESULT status)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(status));
    return text;
}
