// The benchmark, run under Wine on the simulated firmware. Prints a Markdown
// table: start-up of Kelvane.exe against the reference program (alternating
// run by run), idle CPU of the running program, and in this process with the
// tray program's own code: panel and switch timings, firmware round trips
// per action, and memory, handles, GDI objects and timers after 2,000 panel
// and 500 About cycles.
// Also kelvanectl get from process start to exit against a console program
// that does the same firmware read.
// Usage: kv_bench.exe KELVANE_EXE REFERENCE_EXE KELVANECTL_EXE REFERENCE_GET_EXE [RUNS [startup|ctl]]
// ("startup": the start-up rows only; "ctl": the command-line rows only)
#include <windows.h>
#include <psapi.h>
#include <shellapi.h>
#include <gdiplus.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "about_window.h"
#include "app_state.h"
#include "controller_window.h"
#include "cooling_mode.h"
#include "diagnostic_log.h"
#include "import_hook.h"
#include "machine_store.h"
#include "mode_panel.h"
#include "resource_images.h"
#include "settings_file.h"
#include "startup.h"

// The real program waits 10 s between tries; the simulated firmware answers.
void WaitBeforeRetry()
{
    Sleep(1);
}

namespace {

double Now()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

struct Stats {
    double median, min, max;
};

Stats Summarise(std::vector<double> values)
{
    if (values.empty())
        return {-1, -1, -1};
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return {median, values.front(), values.back()};
}

void Row(const char* what, const Stats& stats, const char* unit = "ms")
{
    const char* format = *unit ? "| %s | %.1f %s | %.1f | %.1f |\n" : "| %s | %.2f%s | %.2f | %.2f |\n";
    std::printf(format, what, stats.median, unit, stats.min, stats.max);
}

void Fact(const char* what, const std::string& value)
{
    std::printf("| %s | %s | | |\n", what, value.c_str());
}

double CpuMilliseconds(const FILETIME& kernel, const FILETIME& user)
{
    auto ticks = [](const FILETIME& t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 10000.0;
}

long Counter(const char* name)
{
    return simfw::Machine::Load().Counter(name);
}

// ---- Other processes ------------------------------------------------------

struct WindowSearch {
    const wchar_t* className;
    DWORD processId;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    wchar_t name[64];
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && GetClassNameW(window, name, ARRAYSIZE(name)) &&
        lstrcmpW(name, search->className) == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindProcessWindow(DWORD processId, const wchar_t* className)
{
    WindowSearch search = {className, processId, nullptr};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

struct Program {
    PROCESS_INFORMATION info = {};
    // output: where a console program's standard output goes, or null.
    bool Start(const std::wstring& exe, const std::wstring& arguments, HANDLE output = nullptr)
    {
        std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        if (output) {
            startup.dwFlags = STARTF_USESTDHANDLES;
            startup.hStdOutput = output;
            startup.hStdError = output;
        }
        if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, output != nullptr, CREATE_NO_WINDOW,
                            nullptr, nullptr, &startup, &info))
            return false;
        CloseHandle(info.hThread);
        return true;
    }
    // Polls for a visible window of the class; milliseconds since `since`, or -1.
    double WaitVisible(const wchar_t* className, double since, DWORD limit = 20000)
    {
        for (double deadline = Now() + limit; Now() < deadline;) {
            HWND window = FindProcessWindow(info.dwProcessId, className);
            if (window && IsWindowVisible(window))
                return Now() - since;
            Sleep(1);
        }
        return -1;
    }
    void End(const wchar_t* ownerClass, UINT message, WPARAM wParam)
    {
        if (HWND owner = FindProcessWindow(info.dwProcessId, ownerClass))
            PostMessageW(owner, message, wParam, 0);
        if (WaitForSingleObject(info.hProcess, 10000) != WAIT_OBJECT_0)
            TerminateProcess(info.hProcess, 1);
        CloseHandle(info.hProcess);
    }
};

void ResetMachine()
{
    simfw::UpdateMachine([](simfw::Machine& machine) { machine.SetRecord({0x01, 0x01, 0x00, 0x00}); });
}

bool startupFailures = false;

void MeasureStartup(const std::wstring& kelvane, const std::wstring& reference, int runs)
{
    ResetMachine();
    struct Side {
        const std::wstring& exe;
        const wchar_t* arguments;
        const wchar_t* panelClass;
        const wchar_t* ownerClass;
        UINT endMessage;
        WPARAM endParameter;
        std::vector<double> wall;
    };
    Side sides[] = {{kelvane, L"", kModePanelClass, kControllerClass, WM_COMMAND, ID_HIDE, {}},
                    {reference, L"", L"KvReferencePanel", L"KvReferenceOwner", WM_CLOSE, 0, {}},
                    {reference, L"/comctl", L"KvReferencePanel", L"KvReferenceOwner", WM_CLOSE, 0, {}}};
    std::vector<double> paired, pairedWithCommonControls;
    for (int run = -1; run < runs; ++run) { // run -1 warms every side up
        for (Side& side : sides) {
            Program program;
            double started = Now();
            if (!program.Start(side.exe, side.arguments))
                return;
            double wall = program.WaitVisible(side.panelClass, started);
            program.End(side.ownerClass, side.endMessage, side.endParameter);
            if (wall < 0) {
                std::fprintf(stderr, "no panel from %ls %ls within 20 s\n", side.exe.c_str(), side.arguments);
                startupFailures = true;
                return;
            }
            if (run >= 0)
                side.wall.push_back(wall);
        }
        if (run >= 0) {
            paired.push_back(sides[0].wall.back() / sides[1].wall.back());
            pairedWithCommonControls.push_back(sides[0].wall.back() / sides[2].wall.back());
        }
    }
    Stats k = Summarise(sides[0].wall), r = Summarise(sides[1].wall), rc = Summarise(sides[2].wall);
    Row("Start-up of Kelvane.exe to the panel visible", k);
    Row("Start-up of the reference program to its panel visible", r);
    Row("Start-up of the reference program with the common controls loaded", rc);
    char ratio[96];
    std::snprintf(ratio, sizeof(ratio), "**%.2f** (medians), %.2f (minimums)", k.median / r.median, k.min / r.min);
    Fact("Start-up ratio Kelvane / reference", ratio);
    // Neighbouring runs share the machine's load: their ratio is steadier
    // than the ratio of the medians on a busy machine.
    Row("Start-up ratio Kelvane / reference, run by run", Summarise(paired), "");
    Row("Start-up ratio Kelvane / reference with the common controls, run by run",
        Summarise(pairedWithCommonControls), "");
}

// kelvanectl get and the reference console program, alternating run by
// run, each from process creation to its exit; output to the null device.
void MeasureCommandLine(const std::wstring& kelvanectl, const std::wstring& reference, int runs)
{
    ResetMachine();
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE nul = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                             nullptr);
    struct Side {
        const std::wstring& exe;
        const wchar_t* arguments;
        std::vector<double> wall;
    };
    Side sides[] = {{kelvanectl, L"get", {}}, {reference, L"", {}}};
    std::vector<double> paired;
    for (int run = -1; run < runs; ++run) {
        for (Side& side : sides) {
            Program program;
            const double started = Now();
            if (!program.Start(side.exe, side.arguments, nul))
                break;
            const bool ended = WaitForSingleObject(program.info.hProcess, 20000) == WAIT_OBJECT_0;
            const double wall = Now() - started;
            DWORD code = 1;
            GetExitCodeProcess(program.info.hProcess, &code);
            program.End(L"", 0, 0);
            if (!ended || code != 0) {
                std::fprintf(stderr, "%ls %ls: exit code %lu\n", side.exe.c_str(), side.arguments, code);
                startupFailures = true;
                CloseHandle(nul);
                return;
            }
            if (run >= 0)
                side.wall.push_back(wall);
        }
        if (run >= 0)
            paired.push_back(sides[0].wall.back() / sides[1].wall.back());
    }
    CloseHandle(nul);
    Stats k = Summarise(sides[0].wall), r = Summarise(sides[1].wall);
    Row("kelvanectl get, process start to exit", k);
    Row("Reference console program (the same firmware read), start to exit", r);
    char ratio[96];
    std::snprintf(ratio, sizeof(ratio), "**%.2f** (medians), %.2f (minimums); goal at most 1.2", k.median / r.median,
                  k.min / r.min);
    Fact("kelvanectl get ratio kelvanectl / reference", ratio);
    Row("kelvanectl get ratio kelvanectl / reference, run by run", Summarise(paired), "");
}

void MeasureIdleProgram(const std::wstring& kelvane)
{
    ResetMachine();
    Program k;
    // Started at logon: the icon only, no window open.
    if (!k.Start(kelvane, L"/byrunkey"))
        return;
    Sleep(2000);
    FILETIME created, exited, kernel0, user0, kernel1, user1;
    GetProcessTimes(k.info.hProcess, &created, &exited, &kernel0, &user0);
    Sleep(10000);
    GetProcessTimes(k.info.hProcess, &created, &exited, &kernel1, &user1);
    double cpu = CpuMilliseconds(kernel1, user1) - CpuMilliseconds(kernel0, user0);
    char text[64];
    std::snprintf(text, sizeof(text), "%.1f ms", cpu);
    Fact("CPU time of the running Kelvane.exe over 10 s idle, no window open", text);
    k.End(kControllerClass, WM_COMMAND, ID_HIDE);
}

// ---- This process: the tray program's own code under hooks ----------------

std::vector<double> uninitialiseTimes;
double tipChangedAt = 0;
std::set<void*> liveGdi;
std::map<std::pair<HWND, UINT_PTR>, bool> timers;

ImportHook* uninitialiseHook;
ImportHook* notifyHook;
ImportHook* fontHook;
ImportHook* regionHook;
ImportHook* deleteHook;
ImportHook* windowRegionHook;
ImportHook* graphicsHook;
ImportHook* deleteGraphicsHook;
ImportHook* setTimerHook;
ImportHook* killTimerHook;

void WINAPI TimedCoUninitialize()
{
    uninitialiseHook->Original<void(WINAPI*)()>()();
    uninitialiseTimes.push_back(Now());
}

BOOL WINAPI TimedShellNotifyIcon(DWORD message, PNOTIFYICONDATAW data)
{
    BOOL result = notifyHook->Original<BOOL(WINAPI*)(DWORD, PNOTIFYICONDATAW)>()(message, data);
    if (message == NIM_MODIFY)
        tipChangedAt = Now();
    return result;
}

HFONT WINAPI CountedCreateFont(int h, int w, int e, int o, int weight, DWORD i, DWORD u, DWORD s, DWORD c, DWORD op,
                               DWORD cp, DWORD q, DWORD p, LPCWSTR face)
{
    HFONT font = fontHook->Original<decltype(&CreateFontW)>()(h, w, e, o, weight, i, u, s, c, op, cp, q, p, face);
    if (font)
        liveGdi.insert(font);
    return font;
}

HRGN WINAPI CountedCreateRoundRectRgn(int x1, int y1, int x2, int y2, int w, int h)
{
    HRGN region = regionHook->Original<decltype(&CreateRoundRectRgn)>()(x1, y1, x2, y2, w, h);
    if (region)
        liveGdi.insert(region);
    return region;
}

BOOL WINAPI CountedDeleteObject(HGDIOBJ object)
{
    BOOL deleted = deleteHook->Original<decltype(&DeleteObject)>()(object);
    if (deleted)
        liveGdi.erase(object);
    return deleted;
}

// The window owns its region from here on.
int WINAPI CountedSetWindowRgn(HWND window, HRGN region, BOOL redraw)
{
    int result = windowRegionHook->Original<decltype(&SetWindowRgn)>()(window, region, redraw);
    if (result)
        liveGdi.erase(region);
    return result;
}

Gdiplus::GpStatus WINAPI CountedCreateFromHdc(HDC dc, Gdiplus::GpGraphics** graphics)
{
    auto status = graphicsHook->Original<Gdiplus::GpStatus(WINAPI*)(HDC, Gdiplus::GpGraphics**)>()(dc, graphics);
    if (status == Gdiplus::Ok)
        liveGdi.insert(*graphics);
    return status;
}

Gdiplus::GpStatus WINAPI CountedDeleteGraphics(Gdiplus::GpGraphics* graphics)
{
    liveGdi.erase(graphics);
    return deleteGraphicsHook->Original<Gdiplus::GpStatus(WINAPI*)(Gdiplus::GpGraphics*)>()(graphics);
}

UINT_PTR WINAPI CountedSetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC procedure)
{
    UINT_PTR result = setTimerHook->Original<decltype(&SetTimer)>()(window, id, elapse, procedure);
    if (result)
        timers[{window, window ? id : result}] = true;
    return result;
}

BOOL WINAPI CountedKillTimer(HWND window, UINT_PTR id)
{
    timers.erase({window, id});
    return killTimerHook->Original<decltype(&KillTimer)>()(window, id);
}

// A timer of a destroyed window died with it.
int LiveTimers()
{
    int live = 0;
    for (const auto& timer : timers)
        live += !timer.first.first || IsWindow(timer.first.first);
    return live;
}

void Pump()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// Pumps until the condition holds or the time is up.
template <class Condition>
bool PumpUntil(Condition condition, DWORD limit = 5000)
{
    for (double deadline = Now() + limit; Now() < deadline;) {
        Pump();
        if (condition())
            return true;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
    }
    return condition();
}

// The reference program's way: decode and keep the bytes beside the image.
void DecodeOnly(WORD id)
{
    HRSRC found = FindResourceW(app.instance, MAKEINTRESOURCEW(id), L"PNG");
    DWORD size = SizeofResource(app.instance, found);
    const void* bytes = LockResource(LoadResource(app.instance, found));
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    CopyMemory(GlobalLock(block), bytes, size);
    GlobalUnlock(block);
    IStream* stream = nullptr;
    if (SUCCEEDED(CreateStreamOnHGlobal(block, FALSE, &stream))) {
        delete new Gdiplus::Image(stream);
        stream->Release();
    }
    GlobalFree(block);
}

bool OpenPanel(HWND controller)
{
    SendMessageW(controller, WM_COMMAND, ID_SHOWMODEPANEL, 0);
    return PumpUntil([] { return app.modePanelWindow && IsWindowVisible(app.modePanelWindow); });
}

void ClosePanel()
{
    if (app.modePanelWindow && IsWindow(app.modePanelWindow))
        SendMessageW(app.modePanelWindow, WM_KEYDOWN, VK_ESCAPE, 0);
    Pump();
}

// Clicks the other mode's radio and waits for the new tooltip.
bool SwitchMode()
{
    const RECT& radio = GetKelvaneMode() == On ? modePanelLayout.offRadio : modePanelLayout.onRadio;
    LPARAM point = MAKELPARAM((radio.left + radio.right) / 2, (radio.top + radio.bottom) / 2);
    tipChangedAt = 0;
    SendMessageW(app.modePanelWindow, WM_LBUTTONDOWN, MK_LBUTTON, point);
    SendMessageW(app.modePanelWindow, WM_LBUTTONUP, 0, point);
    return PumpUntil([] { return tipChangedAt != 0; });
}

struct Resources {
    SIZE_T workingSet, privateBytes;
    long handles;
    size_t gdi;
    int timers;
};

long CountOwnHandles()
{
    typedef LONG(WINAPI * Query)(ULONG, void*, ULONG, ULONG*);
    auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    struct Entry {
        ULONG pid;
        BYTE type, flags;
        USHORT handle;
        void* object;
        ULONG access;
    };
    std::vector<BYTE> buffer(1 << 20);
    ULONG needed = 0;
    for (int tries = 0; query && tries < 5; ++tries) {
        LONG status = query(16 /* SystemHandleInformation */, buffer.data(), static_cast<ULONG>(buffer.size()),
                            &needed);
        if (status == 0) {
            ULONG count = *reinterpret_cast<ULONG*>(buffer.data());
            auto* entries = reinterpret_cast<Entry*>(buffer.data() + sizeof(void*));
            long own = 0;
            for (ULONG i = 0; i < count; ++i)
                own += entries[i].pid == GetCurrentProcessId();
            return own;
        }
        buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 4096));
    }
    return -1;
}

Resources Measure()
{
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof(memory);
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof(memory));
    SIZE_T privateBytes = memory.PrivateUsage ? memory.PrivateUsage : memory.PagefileUsage;
    return {memory.WorkingSetSize, privateBytes, CountOwnHandles(), liveGdi.size(), LiveTimers()};
}

std::string Kilobytes(SIZE_T bytes)
{
    return std::to_string(bytes / 1024) + " KiB";
}

void MeasureInProcess(int runs, int panelCycles, int aboutCycles)
{
    ImportHook hooks[] = {
        {"ole32.dll", "CoUninitialize", reinterpret_cast<void*>(&TimedCoUninitialize)},
        {"shell32.dll", "Shell_NotifyIconW", reinterpret_cast<void*>(&TimedShellNotifyIcon)},
        {"gdi32.dll", "CreateFontW", reinterpret_cast<void*>(&CountedCreateFont)},
        {"gdi32.dll", "CreateRoundRectRgn", reinterpret_cast<void*>(&CountedCreateRoundRectRgn)},
        {"gdi32.dll", "DeleteObject", reinterpret_cast<void*>(&CountedDeleteObject)},
        {"user32.dll", "SetWindowRgn", reinterpret_cast<void*>(&CountedSetWindowRgn)},
        {"gdiplus.dll", "GdipCreateFromHDC", reinterpret_cast<void*>(&CountedCreateFromHdc)},
        {"gdiplus.dll", "GdipDeleteGraphics", reinterpret_cast<void*>(&CountedDeleteGraphics)},
        {"user32.dll", "SetTimer", reinterpret_cast<void*>(&CountedSetTimer)},
        {"user32.dll", "KillTimer", reinterpret_cast<void*>(&CountedKillTimer)},
    };
    ImportHook** slots[] = {&uninitialiseHook, &notifyHook,       &fontHook,     &regionHook,
                            &deleteHook,       &windowRegionHook, &graphicsHook, &deleteGraphicsHook,
                            &setTimerHook,     &killTimerHook};
    for (size_t i = 0; i < ARRAYSIZE(hooks); ++i)
        *slots[i] = &hooks[i];

    ResetMachine();
    app.instance = GetModuleHandleW(nullptr);
    app.canShowModePanel = 1;
    app.startedByRunKey = 1; // no panel of its own at creation
    app.showAtStartup = 1;
    wcscpy_s(app.windowTitle, L"Vorn Kelvane Bench");
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
    RegisterWindowClass(kControllerClass, 0, ControllerWindowProc);
    RegisterWindowClass(kModePanelClass, 0, ModePanelProc);
    RegisterWindowClass(kAboutClass, 0, AboutWindowProc);
    // Where a start-up spends its time, step by step, in this process.
    std::vector<double> firmware, settings, logLine;
    for (int run = 0; run < runs; ++run) {
        double started = Now();
        InitThermalControl();
        firmware.push_back(Now() - started);
        Profile profile;
        started = Now();
        ReadProfile(profile);
        settings.push_back(Now() - started);
        started = Now();
        WriteLog("Benchmark line.\n");
        logLine.push_back(Now() - started);
    }
    Row("Start-up step: firmware read (InitThermalControl)", Summarise(firmware));
    std::vector<double> copied, decodedOnly;
    for (int run = 0; run < runs; ++run) {
        double started = Now();
        for (WORD id : kImageResourceIds)
            DeleteImage(LoadFromReaource(id));
        copied.push_back(Now() - started);
        started = Now();
        for (WORD id : kImageResourceIds)
            DecodeOnly(id);
        decodedOnly.push_back(Now() - started);
    }
    Row("Start-up step: twelve images loaded (LoadFromReaource)", Summarise(copied));
    Row("The same twelve images only decoded, as the reference keeps them", Summarise(decodedOnly));
    Row("Start-up step: settings file read (ReadProfile, file present)", Summarise(settings));
    Row("One diagnostic log line (WriteLog)", Summarise(logLine));

    double creating = Now();
    HWND controller = CreateWindowExW(0, kControllerClass, app.windowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                                      250, 200, nullptr, nullptr, app.instance, nullptr);
    app.controllerWindow = controller;
    Row("Start-up step: controller window created (icon, twelve images)", Summarise({Now() - creating}));
    Pump();

    std::vector<double> open, write, tip;
    long openReads = 0, openWrites = 0, switchReads = 0, switchWrites = 0;
    for (int run = 0; run < runs; ++run) {
        long reads = Counter("casl.read"), writes = Counter("casl.write");
        double started = Now();
        if (!OpenPanel(controller))
            break;
        open.push_back(Now() - started);
        openReads = Counter("casl.read") - reads;
        openWrites = Counter("casl.write") - writes;

        reads = Counter("casl.read");
        writes = Counter("casl.write");
        uninitialiseTimes.clear();
        started = Now();
        if (!SwitchMode())
            break;
        tip.push_back(tipChangedAt - started);
        double written = 0;
        for (double at : uninitialiseTimes)
            written = at <= tipChangedAt ? at : written;
        write.push_back(written - started);
        switchReads = Counter("casl.read") - reads;
        switchWrites = Counter("casl.write") - writes;
        ClosePanel();
    }
    if (!open.empty())
        Row("Start-up step: the process's first panel visible and painted (first fonts)", Summarise({open.front()}));
    Row("Command 40001 to the panel visible and painted", Summarise(open));
    Row("Click on the other radio to the firmware write returned", Summarise(write));
    Row("Click on the other radio to the tooltip changed", Summarise(tip));
    Fact("Firmware round trips opening the panel", std::to_string(openReads) + " reads, " +
                                                      std::to_string(openWrites) + " writes");
    Fact("Firmware round trips switching the mode", std::to_string(switchReads) + " reads, " +
                                                       std::to_string(switchWrites) + " writes");

    Resources before = Measure();
    int failures = 0;
    for (int cycle = 1; cycle <= panelCycles; ++cycle) {
        failures += !OpenPanel(controller);
        if (cycle % 10 == 0)
            failures += !SwitchMode();
        ClosePanel();
    }
    for (int cycle = 0; cycle < aboutCycles; ++cycle) {
        SendMessageW(controller, WM_COMMAND, ID_SHOWABOUT, 0);
        failures += !PumpUntil([] { return app.aboutWindow && IsWindowVisible(app.aboutWindow); });
        if (app.aboutWindow)
            SendMessageW(app.aboutWindow, WM_CLOSE, 0, 0);
        Pump();
    }
    Resources after = Measure();
    std::string cycles = " after " + std::to_string(panelCycles) + " panel and " + std::to_string(aboutCycles) +
                         " About cycles (" + std::to_string(failures) + " failed)";
    // Growth allowed over all the cycles: caches of the platform, not leaks.
    const SIZE_T kWorkingSetBound = 4096 * 1024, kPrivateBound = 1024 * 1024;
    auto growth = [](SIZE_T from, SIZE_T to, SIZE_T bound) {
        return Kilobytes(from) + " to " + Kilobytes(to) + " (bound +" + Kilobytes(bound) + ": " +
               (to <= from + bound ? "ok" : "EXCEEDED") + ")";
    };
    Fact(("Working set" + cycles).c_str(), growth(before.workingSet, after.workingSet, kWorkingSetBound));
    Fact(("Private bytes (page-file usage under Wine)" + cycles).c_str(),
         growth(before.privateBytes, after.privateBytes, kPrivateBound));
    Fact(("Handles of the process" + cycles).c_str(),
         std::to_string(before.handles) + " to " + std::to_string(after.handles));
    Fact(("GDI and GDI+ objects made by the program and not deleted" + cycles).c_str(),
         std::to_string(before.gdi) + " to " + std::to_string(after.gdi));

    // Idle with no window open: nothing should wake the thread.
    FILETIME created, exited, kernel0, user0, kernel1, user1;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel0, &user0);
    int messages = 0;
    for (double deadline = Now() + 10000; Now() < deadline;) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ++messages;
            DispatchMessageW(&message);
        }
    }
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel1, &user1);
    char idle[128];
    std::snprintf(idle, sizeof(idle), "%d timers alive, %d messages, %.1f ms CPU (polling included)", LiveTimers(),
                  messages, CpuMilliseconds(kernel1, user1) - CpuMilliseconds(kernel0, user0));
    Fact("In-process idle 10 s, no window open", idle);

    DestroyWindow(controller);
    Pump();
    Gdiplus::GdiplusShutdown(token);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 5) {
        std::fprintf(stderr,
                     "usage: kv_bench KELVANE_EXE REFERENCE_EXE KELVANECTL_EXE REFERENCE_GET_EXE [RUNS [startup|ctl]]\n");
        return 2;
    }
    int runs = argc > 5 ? _wtoi(argv[5]) : 21;
    const std::wstring only = argc > 6 ? argv[6] : L"";
    std::printf("| Measure (%d runs where timed) | Median or value | Min | Max |\n|---|---|---|---|\n", runs);
    if (only != L"ctl")
        MeasureStartup(argv[1], argv[2], runs);
    if (only != L"startup")
        MeasureCommandLine(argv[3], argv[4], runs);
    if (startupFailures)
        return 1;
    if (!only.empty())
        return 0;
    MeasureInProcess(runs, 2000, 500);
    MeasureIdleProgram(argv[1]);
    return 0;
}
