// Reference counting shared by every object the simulated firmware hands
// out. Each construction and destruction is counted in the machine file, so
// a test in any process can check that nothing was left unreleased.
#pragma once

#include <windows.h>

namespace simfw {

// Objects alive in this process (for DllCanUnloadNow).
LONG LiveObjects();

class CountedObject {
protected:
    CountedObject();
    virtual ~CountedObject();

    ULONG AddRefCounted() { return InterlockedIncrement(&refs_); }
    ULONG ReleaseCounted()
    {
        ULONG left = InterlockedDecrement(&refs_);
        if (left == 0)
            delete this;
        return left;
    }

private:
    LONG refs_ = 1;
};

} // namespace simfw
