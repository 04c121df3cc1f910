// Events in the Application log under the source "Vorn Kelvane", written
// beside the log files for the administrators' collectors. Writing never
// shows anything and its failure is ignored: the file log keeps the line.
#pragma once

#include <windows.h>

#include "kelvane_events.h"

extern const wchar_t kEventSourceName[];

// Information, warning or error (EVENTLOG_*_TYPE) of a message of the
// table; 0 for an ID the table does not have.
WORD EventLevelOf(DWORD eventId);

// Writes one event of the message table with its insertion strings (%1,
// %2; null ends the list), as the current user. IDs outside the table are
// not written.
void ReportKelvaneEvent(DWORD eventId, const wchar_t* first = nullptr, const wchar_t* second = nullptr);

// "0x%08lX" of a status, for an insertion string.
struct StatusText {
    explicit StatusText(long status);
    wchar_t text[12];
};
