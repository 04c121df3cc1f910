// Replaces a system function for the calls this test program makes through
// its own import table, so that tests can make a platform call fail on
// purpose. The product code is linked into the test program, so its calls
// are redirected too; DLLs (the doubles, the platform) are not affected.
#pragma once

#include <windows.h>

#include <cstdio>
#include <vector>

class ImportHook {
public:
    ImportHook(const char* dll, const char* function, const void* replacement);
    ~ImportHook();

    ImportHook(ImportHook&& other) noexcept;
    ImportHook& operator=(ImportHook&&) = delete;
    ImportHook(const ImportHook&) = delete;
    ImportHook& operator=(const ImportHook&) = delete;

    bool Installed() const { return !slots_.empty(); }

    template <class Function>
    Function Original() const
    {
        return reinterpret_cast<Function>(original_);
    }

private:
    std::vector<void**> slots_;
    void* original_ = nullptr;
};

// The function itself, for a replacement that passes calls on: a call
// through the import table would come back to the replacement.
template <class Function>
Function PlatformFunction(const char* dll, const char* function)
{
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(dll), function)));
}

// Which calls of a hooked function fail: the first `passing` calls go
// through, the next `failing` calls fail, the rest go through again.
struct CallPlan {
    int passing = 0;
    int failing = 0;
    int calls = 0;

    bool NextCallFails()
    {
        int call = calls++;
        return call >= passing && call < passing + failing;
    }
};

// The CRT's fputs, failing as fputsPlan says, for the tests of the writers
// of text files: hook "fputs" of msvcrt.dll with it and point fputsHook at
// the hook.
extern CallPlan fputsPlan;
extern ImportHook* fputsHook;
int __cdecl FailingFputs(const char* text, FILE* file);
