#include "durable_files.h"

#include "paths.h"

#include "common/file_system.h"

namespace velm::publish {
namespace fs = std::filesystem;

bool WriteFlushed(const fs::path& path, const void* data, size_t size) {
    return WriteBytes(path, data, size) && FlushFileToDisk(WidePath(path));
}

bool MoveFileOver(const fs::path& from, const fs::path& to) {
    return ReplaceFileAtomically(WidePath(from), WidePath(to));
}

bool FlushFolderTree(const fs::path& folder) {
    if (!FlushFolder(folder)) return false;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_directory(ec) && !FlushFolder(it->path())) return false;
    }
    return !ec;
}

}  // namespace velm::publish
