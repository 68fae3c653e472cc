#include "formats/entry_name.h"

#include "common/text.h"

namespace velm {

namespace {

// Windows opens a device, not a file, for these names in any folder and with any
// extension ("nul.txt" is the null device too).
bool IsReservedDeviceName(const std::wstring& part) {
    std::wstring base = AsciiUpper(part.substr(0, part.find(L'.')));
    while (!base.empty() && base.back() == L' ') base.pop_back();
    static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* device : kDevices)
        if (base == device) return true;
    // Superscript one to three count as digits: Windows opens a port for those names too.
    const bool digit = base.size() == 4 && ((base[3] >= L'0' && base[3] <= L'9') || base[3] == L'\u00B9' ||
                                            base[3] == L'\u00B2' || base[3] == L'\u00B3');
    return digit && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0);
}

// A name in the form Windows gives short (8.3) aliases, "VELMLA~1.EXE": on a volume with
// short names it may open another file than its letters say, the launcher among them.
bool LooksLikeShortNameAlias(const std::wstring& part) {
    const size_t dot = part.find(L'.');
    if (dot != std::wstring::npos && part.find(L'.', dot + 1) != std::wstring::npos) return false;
    const std::wstring base = part.substr(0, dot);
    const size_t extension = dot == std::wstring::npos ? 0 : part.size() - dot - 1;
    const size_t tilde = base.rfind(L'~');
    if (base.size() > 8 || extension > 3 || tilde == std::wstring::npos || tilde + 1 == base.size()) return false;
    for (size_t i = tilde + 1; i < base.size(); ++i)
        if (base[i] < L'0' || base[i] > L'9') return false;
    return true;
}

}  // namespace

bool IsSafeEntryName(const std::wstring& name) {
    if (name.size() < 2 || name.size() > kMaxEntryNameChars || name[0] != L'\\') return false;
    size_t start = 1;
    while (start <= name.size()) {
        size_t end = name.find(L'\\', start);
        if (end == std::wstring::npos) end = name.size();
        std::wstring part = name.substr(start, end - start);
        if (part.empty() || part == L"." || part == L"..") return false;
        for (wchar_t c : part) {
            if (c < 0x20 || c == L'/' || c == L':' || c == L'*' || c == L'?' || c == L'"' ||
                c == L'<' || c == L'>' || c == L'|')
                return false;
        }
        // Windows drops trailing dots and spaces, so "a." would name the file "a".
        if (part.back() == L'.' || part.back() == L' ') return false;
        if (IsReservedDeviceName(part) || LooksLikeShortNameAlias(part)) return false;
        start = end + 1;
    }
    return true;
}

}  // namespace velm
