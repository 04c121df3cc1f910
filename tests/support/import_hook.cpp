#include "import_hook.h"

#include <cstring>
#include <utility>

namespace {

void Patch(void** slot, void* value)
{
    DWORD protection;
    VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &protection);
    *slot = value;
    VirtualProtect(slot, sizeof(*slot), protection, &protection);
}

} // namespace

ImportHook::ImportHook(const char* dll, const char* function, const void* replacement)
{
    HMODULE target = GetModuleHandleA(dll);
    original_ = target ? reinterpret_cast<void*>(GetProcAddress(target, function)) : nullptr;
    if (!original_)
        return;

    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!imports.VirtualAddress)
        return;

    auto* descriptor = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
    for (; descriptor->Name; ++descriptor) {
        if (_stricmp(reinterpret_cast<const char*>(base + descriptor->Name), dll) != 0)
            continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + descriptor->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + descriptor->FirstThunk);
        for (; slots->u1.Function; ++slots, ++names) {
            bool byName = descriptor->OriginalFirstThunk && !IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal) &&
                          std::strcmp(reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name,
                                      function) == 0;
            if (byName || reinterpret_cast<void*>(slots->u1.Function) == original_) {
                void** slot = reinterpret_cast<void**>(&slots->u1.Function);
                Patch(slot, const_cast<void*>(replacement));
                slots_.push_back(slot);
            }
        }
    }
}

ImportHook::~ImportHook()
{
    for (void** slot : slots_)
        Patch(slot, original_);
}

ImportHook::ImportHook(ImportHook&& other) noexcept
    : slots_(std::move(other.slots_)), original_(other.original_)
{
    other.slots_.clear();
}

CallPlan fputsPlan;
ImportHook* fputsHook = nullptr;

int __cdecl FailingFputs(const char* text, FILE* file)
{
    if (fputsPlan.NextCallFails())
        return EOF;
    return fputsHook->Original<int(__cdecl*)(const char*, FILE*)>()(text, file);
}
