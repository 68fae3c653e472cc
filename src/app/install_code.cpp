#include "app/install_code.h"

#include <algorithm>
#include <vector>

#include "common/file_io.h"
#include "common/text.h"

namespace velm {

std::wstring InstallCodeFromBytes(const uint8_t* bytes, size_t size) {
    size = std::min(size, kInstallCodeBytesRead);
    if (size < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE) return L"";
    std::wstring text = Utf16LeToWide(bytes + 2, size - 2);
    size_t end = text.find(L'\0');
    if (end != std::wstring::npos) text.resize(end);
    if (text.size() > kInstallCodeMaxChars) text.resize(kInstallCodeMaxChars);
    return text;
}

std::wstring ReadInstallCode() {
    FileHandle file = OpenFile(L"sn.txt", FileMode::kRead);
    if (!file) return L"";
    uint8_t bytes[kInstallCodeBytesRead];
    size_t got = std::fread(bytes, 1, sizeof(bytes), file.get());
    return InstallCodeFromBytes(bytes, got);
}

}  // namespace velm
