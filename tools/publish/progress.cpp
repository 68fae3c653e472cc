#include "progress.h"

#include <cstdio>

namespace velm::publish {

Progress::Progress(const char* what, size_t file_count, uint64_t byte_count, bool quiet)
    : what_(what), file_count_(file_count), byte_count_(byte_count), quiet_(quiet) {}

void Progress::BeginFile(const std::string& name) {
    current_ = name;
    Print(files_done_ == 0);
}

void Progress::FileDone(uint64_t bytes) {
    ++files_done_;
    bytes_done_ += bytes;
}

void Progress::Finish() {
    current_.clear();
    Print(true);
}

void Progress::Print(bool force) {
    if (quiet_) return;
    auto now = std::chrono::steady_clock::now();
    if (!force && now - last_print_ < std::chrono::milliseconds(250)) return;
    last_print_ = now;
    std::fprintf(stderr, "%s: %zu/%zu files, %.1f/%.1f MiB%s%s\n", what_, files_done_,
                 file_count_, double(bytes_done_) / 1048576.0, double(byte_count_) / 1048576.0,
                 current_.empty() ? "" : "  ", current_.c_str());
}

}  // namespace velm::publish
