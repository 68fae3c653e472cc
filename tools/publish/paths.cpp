#include "paths.h"

#include "common/file_io.h"
#include "common/text.h"

#include <algorithm>

namespace velm::publish {

namespace fs = std::filesystem;

fs::path FsPath(const std::wstring& path) { return fs::u8path(WideToUtf8(path)); }

std::wstring WidePath(const fs::path& path) { return Utf8ToWide(path.u8string()); }

fs::path EntryPath(const fs::path& folder, const std::wstring& name) {
    std::wstring relative = name.substr(name.empty() || name[0] != L'\\' ? 0 : 1);
    std::replace(relative.begin(), relative.end(), L'\\', L'/');
    return folder / FsPath(relative);
}

bool ReadBytes(const fs::path& path, std::vector<uint8_t>& bytes) {
    return ReadWholeFile(WidePath(path), bytes, UINT64_MAX);
}

bool WriteBytes(const fs::path& path, const void* data, size_t size) {
    std::error_code ignored;
    fs::create_directories(path.parent_path(), ignored);
    return WriteWholeFile(WidePath(path), data, size);
}

}  // namespace velm::publish
