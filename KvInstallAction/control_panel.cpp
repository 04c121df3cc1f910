#include "control_panel.h"

#include <shlobj.h>
#include <strsafe.h>

#include "scoped_win32.h"
#include "setup_log.h"

#define KV_ITEM_CLSID L"{224695A4-BD5E-4C38-B354-A4C828E61BF7}"

const wchar_t kControlPanelClassKey[] = L"CLSID\\" KV_ITEM_CLSID;
const wchar_t kControlPanelNamespaceKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ControlPanel\\NameSpace\\" KV_ITEM_CLSID;

namespace {

// KEY_ALL_ACCESS with the 64-bit view: this 32-bit program must not land in
// the redirected Wow6432Node keys.
constexpr REGSAM kAccess = KEY_ALL_ACCESS | KEY_WOW64_64KEY;

struct Value {
    const wchar_t* name; // nullptr: the key's default value
    const wchar_t* format; // %s: the program-files folder
};

struct Step {
    HKEY root;
    const wchar_t* subkey;
    const char* failureLine;
    Value values[5];
    int valueCount;
};

const Step kSteps[] = {
    {HKEY_CLASSES_ROOT, L"CLSID\\" KV_ITEM_CLSID,
     "SetRegKeyForControlPanel(): Could not create HKEY_CLASSES_ROOT\\CLSID\\{224695A4-BD5E-4C38-B354-A4C828E61BF7}\n",
     {{nullptr, L"Vorn Kelvane"},
      {L"InfoTip", L"@%s\\Quellmark\\Vorn Kelvane\\Kelvane.exe,-115"},
      {L"LocalizedString", L"@%s\\Quellmark\\Vorn Kelvane\\Kelvane.exe,-106"},
      {L"System.ApplicationName", L"Vorn.Kelvane"},
      {L"System.ControlPanel.Category", L"2"}},
     5},
    {HKEY_CLASSES_ROOT, L"CLSID\\" KV_ITEM_CLSID L"\\DefaultIcon",
     "SetRegKeyForControlPanel(): Could not create HKEY_CLASSES_ROOT\\CLSID\\{224695A4-BD5E-4C38-B354-A4C828E61BF7}\\DefaultIcon\n",
     {{nullptr, L"%s\\Quellmark\\Vorn Kelvane\\Kelvane.exe,-101"}},
     1},
    // The path is quoted: unquoted, a path with blanks would let
    // C:\Program.exe be started in its place.
    {HKEY_CLASSES_ROOT, L"CLSID\\" KV_ITEM_CLSID L"\\Shell\\Open\\Command",
     "SetRegKeyForControlPanel(): Could not create HKEY_CLASSES_ROOT\\CLSID\\{224695A4-BD5E-4C38-B354-A4C828E61BF7}\\Shell\\Open\\Command\n",
     {{nullptr, L"\"%s\\Quellmark\\Vorn Kelvane\\Kelvane.exe\""}},
     1},
    {HKEY_LOCAL_MACHINE,
     L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ControlPanel\\NameSpace\\" KV_ITEM_CLSID,
     "SetRegKeyForControlPanel(): Could not create HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ControlPanel\\NameSpace\\{224695A4-BD5E-4C38-B354-A4C828E61BF7}\n",
     {{nullptr, L"Vorn Kelvane"}},
     1},
};

// Formats every datum of a step before its key is touched: a value that
// would be cut is not written at all.
bool FormatStepValues(const Step& step, const wchar_t* folder, wchar_t (*data)[MAX_PATH])
{
    for (int i = 0; i < step.valueCount; ++i) {
        if (FAILED(StringCchPrintfW(data[i], MAX_PATH, step.values[i].format, folder)))
            return false;
    }
    return true;
}

bool WriteStep(const Step& step, const wchar_t* folder)
{
    wchar_t data[5][MAX_PATH];
    if (!FormatStepValues(step, folder, data))
        return false;

    HKEY opened = nullptr;
    if (RegCreateKeyExW(step.root, step.subkey, 0, nullptr, REG_OPTION_NON_VOLATILE, kAccess, nullptr,
                        &opened, nullptr) != ERROR_SUCCESS)
        return false;
    ScopedRegistryKey key(opened);

    for (int i = 0; i < step.valueCount; ++i) {
        // The byte count includes the terminator, as REG_SZ requires.
        DWORD bytes = static_cast<DWORD>((lstrlenW(data[i]) + 1) * sizeof(wchar_t));
        RegSetValueExW(key.Get(), step.values[i].name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data[i]),
                       bytes);
    }
    return true;
}

} // namespace

int SetRegKeyForControlPanel()
{
    wchar_t folder[MAX_PATH] = L"";
    // Without the folder no path can be formed; the first step then fails.
    bool haveFolder = SHGetSpecialFolderPathW(nullptr, folder, CSIDL_PROGRAM_FILES, FALSE) != FALSE;

    for (const Step& step : kSteps) {
        if (!haveFolder || !WriteStep(step, folder)) {
            WriteBothSetupLogs(step.failureLine);
            return 0;
        }
    }
    return 1;
}

void RemoveControlPanelRegistration()
{
    // A deletion removes only a key without sub-keys: children first.
    static const wchar_t* const kClassKeys[] = {
        L"CLSID\\" KV_ITEM_CLSID L"\\DefaultIcon",
        L"CLSID\\" KV_ITEM_CLSID L"\\Shell\\Open\\Command",
        L"CLSID\\" KV_ITEM_CLSID L"\\Shell\\Open",
        L"CLSID\\" KV_ITEM_CLSID L"\\Shell",
        (L"CLSID\\" KV_ITEM_CLSID),
    };
    for (const wchar_t* subkey : kClassKeys)
        RegDeleteKeyExW(HKEY_CLASSES_ROOT, subkey, kAccess, 0);
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kControlPanelNamespaceKey, kAccess, 0);
}
