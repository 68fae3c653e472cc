#pragma once
// Progress lines on standard error for long work: files and bytes done, current file.
// Lines are printed at most a few times a second, except the first and last of a run.
#include <chrono>
#include <cstdint>
#include <string>

namespace velm::publish {

class Progress {
public:
    Progress(const char* what, size_t file_count, uint64_t byte_count, bool quiet);

    // Starts the next file; its bytes are counted as done by FileDone.
    void BeginFile(const std::string& name);
    void FileDone(uint64_t bytes);
    void Finish();

private:
    void Print(bool force);

    const char* what_;
    size_t file_count_;
    uint64_t byte_count_;
    bool quiet_;
    size_t files_done_ = 0;
    uint64_t bytes_done_ = 0;
    std::string current_;
    std::chrono::steady_clock::time_point last_print_{};
};

}  // namespace velm::publish
