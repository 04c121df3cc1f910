#include "machine_store.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace simfw {

namespace {

const wchar_t kFolder[] = L"C:\\ProgramData\\SimFirmware";
const char kDefaultRecord[] = "01 01 00 00";

std::string Trim(const std::string& text)
{
    size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos)
        return std::string();
    size_t end = text.find_last_not_of(" \t\r\n");
    return text.substr(begin, end - begin + 1);
}

const wchar_t kProgIdKey[] = L"Software\\Classes\\vornutils.CaslCommand\\CLSID";
const wchar_t kProgIdParent[] = L"Software\\Classes\\vornutils.CaslCommand";
const wchar_t kCaslClsid[] = L"{931CEBEA-D6CC-437B-A514-393DC314B9B5}";
const REGSAM kViews[] = {KEY_WOW64_32KEY, KEY_WOW64_64KEY};

} // namespace

MachineLock::MachineLock()
    : mutex_(CreateMutexW(nullptr, FALSE, L"Local\\SimFirmware machine")), held_(false)
{
    // Bounded: a process that died holding it leaves it abandoned, which
    // still hands it over.
    if (mutex_) {
        const DWORD waited = WaitForSingleObject(mutex_, 10000);
        held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    }
}

MachineLock::~MachineLock()
{
    if (held_)
        ReleaseMutex(mutex_);
    if (mutex_)
        CloseHandle(mutex_);
}

std::wstring MachineFilePath()
{
    return std::wstring(kFolder) + L"\\machine.txt";
}

Machine Machine::Load()
{
    Machine machine;
    machine.values_["record"] = kDefaultRecord;
    std::ifstream file(MachineFilePath().c_str());
    std::string line;
    while (std::getline(file, line)) {
        line = Trim(line);
        if (line.empty() || line[0] == '#')
            continue;
        size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        machine.values_[Trim(line.substr(0, equals))] = Trim(line.substr(equals + 1));
    }
    return machine;
}

bool Machine::Save() const
{
    CreateDirectoryW(kFolder, nullptr);
    std::wstring path = MachineFilePath();
    std::wstring temporary = path + L".new";
    {
        std::ofstream file(temporary.c_str(), std::ios::trunc);
        for (const auto& [key, value] : values_)
            file << key << '=' << value << '\n';
        if (!file.flush())
            return false;
    }
    return MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

std::string Machine::Get(const std::string& key, const std::string& fallback) const
{
    auto found = values_.find(key);
    return found == values_.end() ? fallback : found->second;
}

void Machine::Set(const std::string& key, const std::string& value)
{
    values_[key] = value;
}

void Machine::Erase(const std::string& key)
{
    values_.erase(key);
}

bool Machine::Has(const std::string& key) const
{
    return values_.count(key) != 0;
}

std::vector<uint8_t> Machine::Record() const
{
    return ParseBytes(Get("record"));
}

void Machine::SetRecord(const std::vector<uint8_t>& bytes)
{
    Set("record", FormatBytes(bytes));
}

long Machine::Counter(const std::string& name) const
{
    return std::strtol(Get("count." + name, "0").c_str(), nullptr, 10);
}

void Machine::Increment(const std::string& name)
{
    Set("count." + name, std::to_string(Counter(name) + 1));
}

HRESULT Machine::TakeFailure(const std::string& point)
{
    const std::string key = "fail." + point;
    auto found = values_.find(key);
    if (found == values_.end())
        return S_OK;

    std::istringstream fields(found->second);
    std::string statusText;
    long times = 0;
    fields >> statusText >> times;
    HRESULT status = static_cast<HRESULT>(std::strtoul(statusText.c_str(), nullptr, 0));
    if (times == 1)
        values_.erase(found);
    else if (times > 1)
        found->second = statusText + " " + std::to_string(times - 1);
    return status;
}

void Machine::InjectFailure(const std::string& point, HRESULT status, int times)
{
    std::string value = FormatStatus(status);
    if (times > 0)
        value += " " + std::to_string(times);
    Set("fail." + point, value);
}

std::string FormatBytes(const std::vector<uint8_t>& bytes)
{
    std::string text;
    char part[4];
    for (uint8_t byte : bytes) {
        std::snprintf(part, sizeof(part), "%02X", byte);
        if (!text.empty())
            text += ' ';
        text += part;
    }
    return text;
}

std::vector<uint8_t> ParseBytes(const std::string& text)
{
    std::vector<uint8_t> bytes;
    std::istringstream fields(text);
    std::string field;
    while (fields >> field)
        bytes.push_back(static_cast<uint8_t>(std::strtoul(field.c_str(), nullptr, 16)));
    return bytes;
}

std::string FormatStatus(HRESULT status)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(status));
    return text;
}

bool RegisterCaslProgId()
{
    bool ok = true;
    for (REGSAM view : kViews) {
        HKEY key = nullptr;
        LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProgIdKey, 0, nullptr, 0,
                                      KEY_SET_VALUE | view, nullptr, &key, nullptr);
        if (status != ERROR_SUCCESS) {
            ok = false;
            continue;
        }
        status = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(kCaslClsid),
                                sizeof(kCaslClsid));
        ok = ok && status == ERROR_SUCCESS;
        RegCloseKey(key);
    }
    return ok;
}

bool UnregisterCaslProgId()
{
    for (REGSAM view : kViews) {
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kProgIdKey, view, 0);
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kProgIdParent, view, 0);
    }
    return true;
}

} // namespace simfw
