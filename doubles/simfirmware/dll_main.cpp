// Entry points of the simulated firmware's in-process COM server.
#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <string>

#include "casl_command.h"
#include "casl_server.h"
#include "com_object.h"
#include "machine_store.h"
#include "wmi_server.h"

namespace {

HMODULE module = nullptr;

const wchar_t kCaslClassKey[] = L"Software\\Classes\\CLSID\\{931CEBEA-D6CC-437B-A514-393DC314B9B5}";
// Wine's own WMI locator: its registration is kept aside and written back
// by DllUnregisterServer.
const wchar_t kLocatorServerKey[] =
    L"Software\\Classes\\CLSID\\{CB8555CC-9128-11D1-AD9B-00C04FD8FDFF}\\InprocServer32";
const wchar_t kPreviousServer[] = L"SimFirmware.PreviousServer";
const wchar_t kPreviousModel[] = L"SimFirmware.PreviousThreadingModel";

bool SetString(HKEY parent, const wchar_t* subkey, const wchar_t* name, const std::wstring& data)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(parent, subkey, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return false;
    LONG status = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                 static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

// A 32-bit in-process server is looked up in the 32-bit view of CLSID.
bool RegisterInprocServer(const wchar_t* classKey, const wchar_t* threadingModel)
{
    wchar_t path[MAX_PATH];
    if (!GetModuleFileNameW(module, path, MAX_PATH))
        return false;
    std::wstring inproc = std::wstring(classKey) + L"\\InprocServer32";
    return SetString(HKEY_LOCAL_MACHINE, inproc.c_str(), nullptr, path) &&
           SetString(HKEY_LOCAL_MACHINE, inproc.c_str(), L"ThreadingModel", threadingModel);
}

std::wstring ReadString(HKEY parent, const wchar_t* subkey, const wchar_t* name, bool& found)
{
    wchar_t data[MAX_PATH] = L"";
    DWORD size = sizeof(data) - sizeof(wchar_t);
    found = RegGetValueW(parent, subkey, name, RRF_RT_REG_SZ, nullptr, data, &size) ==
            ERROR_SUCCESS;
    return data;
}

void DeleteValue(HKEY parent, const wchar_t* subkey, const wchar_t* name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(parent, subkey, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key, name);
        RegCloseKey(key);
    }
}

// Points the locator class at this DLL, keeping what was registered before
// (once: registering again must not overwrite it with this DLL's own path).
bool ReplaceLocatorServer()
{
    bool found = false;
    bool saved = false;
    ReadString(HKEY_LOCAL_MACHINE, kLocatorServerKey, kPreviousServer, saved);
    if (!saved) {
        std::wstring server = ReadString(HKEY_LOCAL_MACHINE, kLocatorServerKey, nullptr, found);
        if (found) {
            std::wstring model = ReadString(HKEY_LOCAL_MACHINE, kLocatorServerKey, L"ThreadingModel", found);
            SetString(HKEY_LOCAL_MACHINE, kLocatorServerKey, kPreviousServer, server);
            SetString(HKEY_LOCAL_MACHINE, kLocatorServerKey, kPreviousModel, found ? model : L"Both");
        }
    }
    std::wstring classKey(kLocatorServerKey, wcslen(kLocatorServerKey) - wcslen(L"\\InprocServer32"));
    return RegisterInprocServer(classKey.c_str(), L"Both");
}

void RestoreLocatorServer()
{
    bool saved = false;
    std::wstring server = ReadString(HKEY_LOCAL_MACHINE, kLocatorServerKey, kPreviousServer, saved);
    if (!saved)
        return;
    bool found = false;
    std::wstring model = ReadString(HKEY_LOCAL_MACHINE, kLocatorServerKey, kPreviousModel, found);
    SetString(HKEY_LOCAL_MACHINE, kLocatorServerKey, nullptr, server);
    SetString(HKEY_LOCAL_MACHINE, kLocatorServerKey, L"ThreadingModel", found ? model : L"Both");
    DeleteValue(HKEY_LOCAL_MACHINE, kLocatorServerKey, kPreviousServer);
    DeleteValue(HKEY_LOCAL_MACHINE, kLocatorServerKey, kPreviousModel);
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
    if (clsid == CLSID_CaslCommand)
        return simfw::GetCaslClassFactory(iid, object);
    if (clsid == simfw::CLSID_SimWbemAdministrativeLocator)
        return simfw::GetWmiLocatorClassFactory(iid, object);
    return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow()
{
    return simfw::LiveObjects() == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer()
{
    bool ok = RegisterInprocServer(kCaslClassKey, L"Both") && simfw::RegisterCaslProgId() &&
              ReplaceLocatorServer();
    return ok ? S_OK : SELFREG_E_CLASS;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer()
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kCaslClassKey);
    simfw::UnregisterCaslProgId();
    RestoreLocatorServer();
    return S_OK;
}
