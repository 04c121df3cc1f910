// The machine-wide firmware lock: taken, waited for with a logged time-out,
// taken over from a holder that died, and held by the tray program around
// every firmware exchange that its notices start.
#include <windows.h>
#include <aclapi.h>
#include <wtsapi32.h>

#include <sddl.h>

#include <string>
#include <vector>

#include "app_state.h"
#include "controller_window.h"
#include "cooling_mode.h"
#include "diagnostic_log.h"
#include "firmware_lock.h"
#include "footprint.h"
#include "import_hook.h"
#include "mode_notice.h"
#include "log_reader.h"
#include "scoped_win32.h"
#include "startup.h"
#include "tray_fixture.h"

using Lines = std::vector<std::string>;

namespace {

enum class Holder { Nobody, LiveThread, DeadThread };

struct HolderThread {
    HANDLE taken;
    HANDLE release;
    bool releaseBeforeEnd; // false: ends holding it, and the lock is abandoned
};

DWORD WINAPI HoldLock(void* parameter)
{
    auto* holder = static_cast<HolderThread*>(parameter);
    HANDLE mutex = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kFirmwareLockName);
    if (!mutex)
        mutex = CreateMutexW(nullptr, FALSE, kFirmwareLockName);
    WaitForSingleObject(mutex, INFINITE);
    SetEvent(holder->taken);
    WaitForSingleObject(holder->release, INFINITE);
    if (holder->releaseBeforeEnd)
        ReleaseMutex(mutex);
    CloseHandle(mutex);
    return 0;
}

// Whether another thread could take the lock now.
DWORD WINAPI ProbeLock(void*)
{
    HANDLE mutex = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kFirmwareLockName);
    if (!mutex)
        return 2;
    const DWORD waited = WaitForSingleObject(mutex, 0);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED)
        ReleaseMutex(mutex);
    CloseHandle(mutex);
    return waited == WAIT_TIMEOUT ? 1 : 0;
}

bool LockHeldElsewhere()
{
    ScopedKernelHandle probe(CreateThread(nullptr, 0, &ProbeLock, nullptr, 0, nullptr));
    WaitForSingleObject(probe.Get(), 5000);
    DWORD held = 0;
    GetExitCodeThread(probe.Get(), &held);
    return held == 1;
}

// Every firmware exchange of the tray program, seen from its server's side.
std::vector<bool> lockedAtFirmwareCall;

HRESULT WINAPI RecordLockAtCall(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** object)
{
    lockedAtFirmwareCall.push_back(LockHeldElsewhere());
    return PlatformFunction<decltype(&CoCreateInstance)>("ole32.dll", "CoCreateInstance")(clsid, outer, context, iid,
                                                                                           object);
}

class FirmwareLockTest : public TrayTest {};

} // namespace

TEST_F(FirmwareLockTest, TakenWaitedForOrTakenOverAndAlwaysLogged)
{
    struct Case {
        const char* what;
        Holder holder;
        FirmwareLockState state;
        Lines log;
    } const cases[] = {
        {"free", Holder::Nobody, FirmwareLockState::Taken, {}},
        {"held past the time-out", Holder::LiveThread, FirmwareLockState::TimedOut,
         {"FirmwareLock(): The lock was not released within 300 ms; going on without it.\n"}},
        {"its holder died", Holder::DeadThread, FirmwareLockState::Abandoned,
         {"FirmwareLock(): The lock was abandoned by a program that ended; taken.\n"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteFileW(DiagnosticLogPath().c_str());
        ScopedKernelHandle taken(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        ScopedKernelHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        HolderThread holder = {taken.Get(), release.Get(), c.holder == Holder::LiveThread};
        ScopedKernelHandle thread;
        if (c.holder != Holder::Nobody) {
            thread = ScopedKernelHandle(CreateThread(nullptr, 0, &HoldLock, &holder, 0, nullptr));
            ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(taken.Get(), 5000));
        }
        // Another session's program keeps the object alive past the holder.
        ScopedKernelHandle waiter(OpenMutexW(SYNCHRONIZE, FALSE, kFirmwareLockName));
        if (c.holder == Holder::DeadThread) {
            SetEvent(release.Get());
            ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread.Get(), 5000));
        }
        {
            FirmwareLock lock(LogFirmwareLock, 300);
            EXPECT_EQ(static_cast<int>(c.state), static_cast<int>(lock.State()));
            EXPECT_TRUE(LockHeldElsewhere());
        }
        EXPECT_FALSE(LockHeldElsewhere() && c.holder != Holder::LiveThread) << "left held";
        SetEvent(release.Get());
        if (thread)
            WaitForSingleObject(thread.Get(), 5000);
        EXPECT_EQ(c.log, ReadLogMessages());
    }
}

// The switch in the panel (as it calls SetKelvaneMode), the start's
// reconciliation and every notice that reads or writes the firmware.
TEST_F(FirmwareLockTest, TheTrayProgramHoldsItAroundEveryFirmwareExchange)
{
    ImportHook hook("ole32.dll", "CoCreateInstance", reinterpret_cast<const void*>(&RecordLockAtCall));
    ASSERT_TRUE(hook.Installed());
    RegisterWindowClass(kControllerClass, 107, ControllerWindowProc);
    WriteSettingsFile("autostart=on\nmode=off\n");
    app.showAtStartup = 1;
    ASSERT_EQ(On, InitThermalControl());
    HWND window = CreateWindowExW(0, kControllerClass, app.windowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, 250,
                                  200, nullptr, nullptr, app.instance, nullptr);
    ASSERT_TRUE(window != nullptr);
    app.controllerWindow = window;
    struct Step {
        const char* what;
        UINT message;
        WPARAM wParam;
    } const steps[] = {
        {"console reconnect", WM_WTSSESSION_CHANGE, WTS_CONSOLE_CONNECT},
        {"resume", WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC},
        {"kelvanectl's notice", WM_MODESETOUTSIDE, 0},
        {"policy change", WM_POLICYCHANGED, 0},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        SetRecord({0x01, 0x01, 0x00, 0x00});
        if (step.message == WM_POLICYCHANGED)
            WritePolicyText(L"Mode", L"on");
        lockedAtFirmwareCall.clear();
        SendMessageW(window, step.message, step.wParam, 0);
        EXPECT_FALSE(lockedAtFirmwareCall.empty());
        EXPECT_EQ(std::vector<bool>(lockedAtFirmwareCall.size(), true), lockedAtFirmwareCall);
    }
    DestroyWindow(window);
    RemovePolicyKey();
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        ;
    UnregisterClassW(kControllerClass, app.instance);
}

// Other sessions' programs must be able to wait on both objects and release
// or set them, whoever made them: a rule of the objects' rights, which Wine's
// one session cannot show.
TEST_F(FirmwareLockTest, EveryUserMayWaitOnTheLockAndTheModeNotice)
{
    FirmwareLock lock(LogFirmwareLock);
    ScopedKernelHandle notice(CreateModeNotice());
    ASSERT_TRUE(notice);
    struct Case {
        const char* what;
        HANDLE object;
        const wchar_t* everyone;
    } const cases[] = {
        {"lock", OpenMutexW(READ_CONTROL, FALSE, kFirmwareLockName), L"(A;;0x100001;;;WD)"},
        {"notice", notice.Get(), L"(A;;0x100002;;;WD)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        PACL dacl = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, GetSecurityInfo(c.object, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                                 nullptr, &dacl, nullptr, &descriptor));
        wchar_t* text = nullptr;
        ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                                          DACL_SECURITY_INFORMATION, &text, nullptr));
        const std::wstring sddl = text;
        EXPECT_NE(std::wstring::npos, sddl.find(c.everyone)) << std::string(sddl.begin(), sddl.end());
        LocalFree(text);
        LocalFree(descriptor);
    }
    CloseHandle(cases[0].object);
}
