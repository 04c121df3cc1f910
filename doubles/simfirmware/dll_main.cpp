// Entry points of the simulated firmware's in-process COM server.
#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <string>

#include "casl_command.h"
#include "casl_server.h"
#include "com_object.h"
#include "machine_store.h"

namespace {

HMODULE module = nullptr;

const wchar_t kCaslClassKey[] = L"Software\\Classes\\CLSID\\{931CEBEA-D6CC-437B-A514-393DC314B9B5}";

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
    return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow()
{
    return simfw::LiveObjects() == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer()
{
    bool ok = RegisterInprocServer(kCaslClassKey, L"Both") && simfw::RegisterCaslProgId();
    return ok ? S_OK : SELFREG_E_CLASS;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer()
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kCaslClassKey);
    simfw::UnregisterCaslProgId();
    return S_OK;
}
