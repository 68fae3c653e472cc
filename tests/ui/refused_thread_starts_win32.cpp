#include "ui/refused_thread_starts_win32.h"

#include <cstring>
#include <string>

namespace velm::test {
namespace {

// xor eax, eax; ret: _beginthreadex's result for a thread that could not be created.
constexpr uint8_t kReturnZero[] = {0x31, 0xC0, 0xC3};

template <typename T>
bool ReadAt(HANDLE process, uintptr_t address, T& value) {
    SIZE_T read = 0;
    return ReadProcessMemory(process, reinterpret_cast<const void*>(address), &value, sizeof(T), &read) &&
           read == sizeof(T);
}

std::string ReadName(HANDLE process, uintptr_t address) {
    char name[64] = {};
    SIZE_T read = 0;
    ReadProcessMemory(process, reinterpret_cast<const void*>(address), name, sizeof(name) - 1, &read);
    return std::string(name, strnlen(name, read));
}

// The address of the slot through which the image calls dll!function; 0 when there is none.
uintptr_t FindImportSlot(HANDLE process, uintptr_t image, const char* dll, const char* function) {
    IMAGE_DOS_HEADER dos{};
    IMAGE_NT_HEADERS64 nt{};
    if (!ReadAt(process, image, dos) || dos.e_magic != IMAGE_DOS_SIGNATURE) return 0;
    if (!ReadAt(process, image + uintptr_t(dos.e_lfanew), nt) || nt.Signature != IMAGE_NT_SIGNATURE) return 0;
    const IMAGE_DATA_DIRECTORY imports = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (uintptr_t at = image + imports.VirtualAddress;; at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        IMAGE_IMPORT_DESCRIPTOR descriptor{};
        if (!ReadAt(process, at, descriptor) || descriptor.Name == 0) return 0;
        if (_stricmp(ReadName(process, image + descriptor.Name).c_str(), dll) != 0) continue;
        const uintptr_t names = image + (descriptor.OriginalFirstThunk ? descriptor.OriginalFirstThunk
                                                                      : descriptor.FirstThunk);
        for (uintptr_t i = 0;; ++i) {
            uint64_t thunk = 0;
            if (!ReadAt(process, names + i * sizeof(thunk), thunk) || thunk == 0) return 0;
            if (thunk & IMAGE_ORDINAL_FLAG64) continue;
            // IMAGE_IMPORT_BY_NAME: a two-byte hint, then the name.
            if (ReadName(process, image + uintptr_t(thunk) + 2) == function)
                return image + descriptor.FirstThunk + i * sizeof(thunk);
        }
    }
}

}  // namespace

RefusedThreadStarts::RefusedThreadStarts(DWORD process_id, HMODULE image)
    : process_(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE | PROCESS_QUERY_INFORMATION,
                           FALSE, process_id)) {
    if (!process_) return;
    const uintptr_t slot = FindImportSlot(process_.Get(), reinterpret_cast<uintptr_t>(image), "msvcrt.dll",
                                          "_beginthreadex");
    if (!slot || !ReadAt(process_.Get(), slot, original_)) return;
    // Left in the process when the slot is put back: a call may have read the slot just
    // before and not yet arrived.
    void* stand_in = VirtualAllocEx(process_.Get(), nullptr, sizeof(kReturnZero), MEM_COMMIT | MEM_RESERVE,
                                    PAGE_EXECUTE_READWRITE);
    SIZE_T written = 0;
    if (!stand_in ||
        !WriteProcessMemory(process_.Get(), stand_in, kReturnZero, sizeof(kReturnZero), &written) ||
        written != sizeof(kReturnZero)) {
        return;
    }
    FlushInstructionCache(process_.Get(), stand_in, sizeof(kReturnZero));
    entry_ = slot;
    if (!WriteEntry(reinterpret_cast<uintptr_t>(stand_in))) entry_ = 0;
}

RefusedThreadStarts::~RefusedThreadStarts() {
    if (entry_) WriteEntry(original_);
}

bool RefusedThreadStarts::WriteEntry(uint64_t value) {
    DWORD protection = 0;
    void* slot = reinterpret_cast<void*>(entry_);
    if (!VirtualProtectEx(process_.Get(), slot, sizeof(value), PAGE_READWRITE, &protection)) return false;
    SIZE_T written = 0;
    const bool ok = WriteProcessMemory(process_.Get(), slot, &value, sizeof(value), &written) && written == sizeof(value);
    VirtualProtectEx(process_.Get(), slot, sizeof(value), protection, &protection);
    return ok;
}

}  // namespace velm::test
