// The simulated machine: one small text file that every process of a test
// run shares, so that the tray program, the install action and the tests
// all see the same firmware record and the same injected failures.
//
// Each line is "key=value". The keys:
//   record=01 01 00 00        the bytes the firmware holds (any count, 0 to 6
//                             and more: a read returns exactly these)
//   fail.<point>=0x80004005   the next call at <point> fails with that status;
//   fail.<point>=0x80004005 2 ... only the next 2 calls, then the key goes
//   casl.vartype=3            ReadProperty answers with this VARTYPE instead
//   casl.nointerface=1        the object refuses ICaslCommand
//   count.<name>=N            counters the double keeps (see the README)
//   last.<name>=...           what the double last received
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace simfw {

// C:\ProgramData\SimFirmware\machine.txt
std::wstring MachineFilePath();

class Machine {
public:
    // The file's contents; a missing file is a supported machine in mode On.
    static Machine Load();
    // Writes the whole file at once (temporary file, then replace).
    bool Save() const;

    std::string Get(const std::string& key, const std::string& fallback = std::string()) const;
    void Set(const std::string& key, const std::string& value);
    void Erase(const std::string& key);
    bool Has(const std::string& key) const;

    std::vector<uint8_t> Record() const;
    void SetRecord(const std::vector<uint8_t>& bytes);

    long Counter(const std::string& name) const;
    void Increment(const std::string& name);

    // The status injected at point, S_OK when none; uses up one call of a
    // counted injection.
    HRESULT TakeFailure(const std::string& point);
    void InjectFailure(const std::string& point, HRESULT status, int times = 0);

    const std::map<std::string, std::string>& Values() const { return values_; }

private:
    std::map<std::string, std::string> values_;
};

// Held from a Load to its Save: the firmware answers one program at a time,
// so a read in one process never saves back a record that another process
// wrote in between. The same thread may take it again.
class MachineLock {
public:
    MachineLock();
    ~MachineLock();
    MachineLock(const MachineLock&) = delete;
    MachineLock& operator=(const MachineLock&) = delete;

private:
    HANDLE mutex_;
    bool held_;
};

// Load, change, save in one step.
template <class Change>
void UpdateMachine(Change change)
{
    MachineLock lock;
    Machine machine = Machine::Load();
    change(machine);
    machine.Save();
}

std::string FormatBytes(const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ParseBytes(const std::string& text);
std::string FormatStatus(HRESULT status);

// The ProgID key of the automation server, in both registry views.
bool RegisterCaslProgId();
bool UnregisterCaslProgId();

} // namespace simfw
