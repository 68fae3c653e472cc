#include "services/machine_id_win32.h"

#include <windows.h>
#include <rpc.h>

#include "common/text.h"

namespace velm {
namespace {

// The system fills the node field of a sequential UUID from the adapter address.
std::wstring AdapterAddress() {
    UUID uuid{};
    UuidCreateSequential(&uuid);
    std::wstring text;
    for (int i = 2; i < 8; ++i) text += FormatText(L"%2.2X", unsigned(uuid.Data4[i]));
    return text;
}

std::wstring VolumeSerial() {
    // A drive without its medium must not put up the system's "insert a disk" box in
    // front of the player while a report is being built.
    DWORD old_mode = 0;
    SetThreadErrorMode(SEM_FAILCRITICALERRORS, &old_mode);
    std::wstring serial_text;
    wchar_t root[] = L"C:\\";
    for (wchar_t drive = L'C'; drive <= L'Z'; ++drive) {
        root[0] = drive;
        DWORD serial = 0;
        if (GetVolumeInformationW(root, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0)) {
            serial_text = FormatText(L"%X", unsigned(serial));
            break;
        }
    }
    SetThreadErrorMode(old_mode, nullptr);
    return serial_text;
}

}  // namespace

std::wstring MachineId() { return AdapterAddress() + L"|" + VolumeSerial(); }

}  // namespace velm
