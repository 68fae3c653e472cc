#include "client_scan.h"

#include "paths.h"
#include "formats/file_list.h"

#include "common/text.h"

#include <sys/stat.h>

#include <algorithm>
#include <map>

namespace velm::publish {
namespace fs = std::filesystem;
namespace {

// Seconds between 1601-01-01 and 1970-01-01.
constexpr uint64_t kEpochDifference = 11644473600ull;

uint64_t LastWriteFileTime(const fs::path& path) {
#ifdef _WIN32
    struct _stat64 info;
    if (_wstat64(WidePath(path).c_str(), &info) != 0) return 0;
#else
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return 0;
#endif
    if (info.st_mtime < 0) return 0;
    return (uint64_t(info.st_mtime) + kEpochDifference) * 10000000ull;
}

bool IsValidText(const std::wstring& text) {
    for (wchar_t c : text) {
        if (c == 0xFFFD) return false;  // the name was not valid UTF-8 on this system
    }
    return true;
}

}  // namespace

bool ScanClientFolder(const fs::path& folder, std::vector<ClientFile>& files, std::string& error) {
    files.clear();
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        error = "client folder not found: " + folder.u8string();
        return false;
    }
    std::map<std::wstring, std::wstring> seen;
    fs::recursive_directory_iterator it(folder, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const fs::directory_entry& item = *it;
        if (item.is_directory(ec)) continue;
        std::wstring relative = WidePath(fs::relative(item.path(), folder, ec));
        if (ec) break;
        std::wstring name = L"\\" + relative;
        std::replace(name.begin(), name.end(), L'/', L'\\');
        if (!item.is_regular_file(ec)) {
            error = "not a regular file: " + item.path().u8string();
            return false;
        }
        bool stray_backslash = fs::path::preferred_separator != L'\\' &&
                               relative.find(L'\\') != std::wstring::npos;
        if (!IsValidText(relative) || !IsSafeEntryName(name) || stray_backslash) {
            error = "file name cannot be published (characters Windows or the file list "
                    "cannot carry): " + item.path().u8string();
            return false;
        }
        auto [where, inserted] = seen.emplace(AsciiUpper(name), name);
        if (!inserted) {
            error = "two files differ only in letter case: " + WideToUtf8(where->second) +
                    " and " + WideToUtf8(name);
            return false;
        }
        ClientFile file;
        file.name = name;
        file.path = item.path();
        file.size = int64_t(item.file_size(ec));
        file.file_time = LastWriteFileTime(item.path());
        files.push_back(file);
    }
    if (ec) {
        error = "cannot read the client folder: " + ec.message();
        return false;
    }
    std::sort(files.begin(), files.end(),
              [](const ClientFile& a, const ClientFile& b) { return a.name < b.name; });
    return true;
}

}  // namespace velm::publish
