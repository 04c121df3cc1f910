// The pause that Kelvane.exe itself brings before each retry of the
// firmware read and of the icon: its entry file linked here, the pause
// recorded through Sleep instead of lived through.
#include <windows.h>

#include <vector>

#include <gtest/gtest.h>

#include "import_hook.h"
#include "startup.h"

namespace {

std::vector<DWORD> pauses;

void WINAPI RecordSleep(DWORD milliseconds)
{
    pauses.push_back(milliseconds);
}

} // namespace

TEST(RetryPauseTest, TenSecondsBeforeEachRetry)
{
    ImportHook hook("kernel32.dll", "Sleep", reinterpret_cast<const void*>(&RecordSleep));
    ASSERT_TRUE(hook.Installed());
    WaitBeforeRetry();
    WaitBeforeRetry();
    EXPECT_EQ((std::vector<DWORD>{10000, 10000}), pauses);
}
