#pragma once
// The tally of one update run: how many jobs it has, how many ended and how, how far the
// file check has come, and the lines of its error list. The run, the handling of job ends
// on download threads and the windows' once-a-second sample all use it, so every member is
// safe for concurrent callers.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace velm {

class RunTally {
public:
    void Reset() {
        total = completed = failed = recovered = 0;
        entry_total = entries_examined = checking = 0;
        std::lock_guard<std::mutex> hold(error_lock_);
        errors_.clear();
    }

    void AddError(const std::wstring& line) {
        std::lock_guard<std::mutex> hold(error_lock_);
        errors_.push_back(line);
    }
    std::vector<std::wstring> Errors() {
        std::lock_guard<std::mutex> hold(error_lock_);
        return errors_;
    }

    std::atomic<int32_t> total{0};
    std::atomic<int32_t> completed{0};
    std::atomic<int32_t> failed{0};
    // Failed jobs whose file a fallback download brought to the release after all.
    std::atomic<int32_t> recovered{0};
    std::atomic<int32_t> entry_total{0};
    std::atomic<int32_t> entries_examined{0};
    std::atomic<int32_t> checking{0};

private:
    std::mutex error_lock_;
    std::vector<std::wstring> errors_;
};

}  // namespace velm
