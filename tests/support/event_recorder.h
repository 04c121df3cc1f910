// The events the product code in this test program writes, taken through
// the import hook (Wine's event log keeps nothing): one line per event,
// "<id> <level> [string]...", with " (bad arguments)" when a call breaks
// ReportEventW's documented rules. Only one recorder at a time.
#pragma once

#include <string>
#include <vector>

#include "import_hook.h"

class EventRecorder {
public:
    EventRecorder();
    ~EventRecorder();
    EventRecorder(const EventRecorder&) = delete;
    EventRecorder& operator=(const EventRecorder&) = delete;

    bool Installed() const;
    const std::vector<std::string>& Events() const;
    void Clear();
    // RegisterEventSourceW fails from now on, as when the service is stopped.
    void FailRegistration();
    // Source handles opened and not yet closed.
    int OpenSources() const;

private:
    ImportHook register_;
    ImportHook report_;
    ImportHook deregister_;
};

// "Error", "Warning", "Information" or "none" for an event type.
const char* EventLevelName(unsigned short type);
