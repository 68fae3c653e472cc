#include "common/resource_text_win32.h"

#include <windows.h>

#include <cstring>

#include "common/config_text_ids.h"

namespace velm {
namespace {

// The bytes of one resource of the executable; null when absent.
const uint8_t* FindResourceBytes(const wchar_t* type, int id, DWORD& size) {
    HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(id), type);
    if (!resource) return nullptr;
    size = SizeofResource(nullptr, resource);
    HGLOBAL loaded = LoadResource(nullptr, resource);
    return loaded ? static_cast<const uint8_t*>(LockResource(loaded)) : nullptr;
}

}  // namespace

std::wstring LoadConfigText(int id) {
    DWORD size = 0;
    const uint8_t* bytes = FindResourceBytes(L"CONFIG_TEXT", id, size);
    if (!bytes) return L"";
    std::wstring text(size / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), bytes, text.size() * sizeof(wchar_t));
    return text;
}

std::wstring LoadResString(int id) {
    wchar_t buffer[2048];
    int length = LoadStringW(GetModuleHandleW(nullptr), UINT(id), buffer, 2048);
    return std::wstring(buffer, length > 0 ? size_t(length) : 0);
}

bool ReadPackageMarker(int64_t& marker) {
    DWORD size = 0;
    const uint8_t* bytes = FindResourceBytes(kPackageMarkerType, kPackageMarkerId, size);
    if (!bytes || size != 8) return false;
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | bytes[i];
    marker = int64_t(value);
    return true;
}

}  // namespace velm
