#include "durable_files.h"

#include <fcntl.h>
#include <unistd.h>

namespace velm::publish {

bool FlushFolder(const std::filesystem::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool flushed = ::fsync(fd) == 0;
    return ::close(fd) == 0 && flushed;
}

}  // namespace velm::publish
