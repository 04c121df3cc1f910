// Entry points of the simulated Task Scheduler's in-process COM server. It
// takes the place of Wine's own Task Scheduler class in the test prefix,
// whose old registration is kept and written back on unregistration.
#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <string>

#include "com_object.h"
#include "scheduler_server.h"

namespace {

HMODULE module = nullptr;

const CLSID kTaskSchedulerClass = {
    0x0F87369F, 0xA4E5, 0x4CFC, {0xBD, 0x3E, 0x73, 0xE6, 0x15, 0x45, 0x72, 0xDD}};
const wchar_t kServerKey[] =
    L"Software\\Classes\\CLSID\\{0F87369F-A4E5-4CFC-BD3E-73E6154572DD}\\InprocServer32";
const wchar_t kPreviousServer[] = L"SimTaskScheduler.PreviousServer";
const wchar_t kPreviousModel[] = L"SimTaskScheduler.PreviousThreadingModel";

// This DLL is 32-bit: without a view flag the calls below use the 32-bit
// view, where a 32-bit process looks for in-process servers.
bool SetString(const wchar_t* name, const std::wstring& data)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kServerKey, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return false;
    LONG status = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                 static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

std::wstring ReadString(const wchar_t* name, bool& found)
{
    wchar_t data[MAX_PATH] = L"";
    DWORD size = sizeof(data) - sizeof(wchar_t);
    found = RegGetValueW(HKEY_LOCAL_MACHINE, kServerKey, name, RRF_RT_REG_SZ, nullptr, data, &size) ==
            ERROR_SUCCESS;
    return data;
}

void DeleteValue(const wchar_t* name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kServerKey, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key, name);
        RegCloseKey(key);
    }
}

} // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*)
{
    if (reason == DLL_PROCESS_ATTACH) {
        module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (clsid == kTaskSchedulerClass)
        return simts::GetTaskSchedulerClassFactory(iid, object);
    return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow()
{
    return simfw::LiveObjects() == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer()
{
    wchar_t path[MAX_PATH];
    if (!GetModuleFileNameW(module, path, MAX_PATH))
        return SELFREG_E_CLASS;
    // Keep the registration found the first time only.
    bool saved = false, found = false;
    ReadString(kPreviousServer, saved);
    if (!saved) {
        std::wstring server = ReadString(nullptr, found);
        if (found) {
            std::wstring model = ReadString(L"ThreadingModel", found);
            SetString(kPreviousServer, server);
            SetString(kPreviousModel, found ? model : L"Both");
        }
    }
    bool ok = SetString(nullptr, path) && SetString(L"ThreadingModel", L"Both");
    return ok ? S_OK : SELFREG_E_CLASS;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer()
{
    bool saved = false, found = false;
    std::wstring server = ReadString(kPreviousServer, saved);
    if (!saved)
        return S_OK;
    std::wstring model = ReadString(kPreviousModel, found);
    SetString(nullptr, server);
    SetString(L"ThreadingModel", found ? model : L"Both");
    DeleteValue(kPreviousServer);
    DeleteValue(kPreviousModel);
    return S_OK;
}
