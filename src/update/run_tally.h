#pragma once
// The tally of one update run: how many jobs it has, how many ended and how, how far the
// file check has come, and the lines of its error list. The run, the handling of job ends
// on download threads and the windows' once-a-second sample all use it, so every member is
// safe for concurrent callers. The run waits on it for its jobs' ends: every end is
// counted through AddCompleted or AddFailed, which wake that wait.
#include <atomic>
#include <condition_variable>
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

    void AddCompleted() {
        ++completed;
        Wake();
    }
    void AddFailed(int32_t count = 1) {
        failed += count;
        Wake();
    }
    bool AllEnded() const { return completed.load() + failed.load() >= total.load(); }
    // Blocks until every job counted in total has ended or interrupt() holds; interrupt is
    // asked again at each Wake. True when every job has ended.
    template <typename Interrupt>
    bool WaitUntilAllEnded(Interrupt interrupt) {
        std::unique_lock<std::mutex> hold(wait_lock_);
        ended_.wait(hold, [&] { return AllEnded() || interrupt(); });
        return AllEnded();
    }
    // Has the wait look again (a count or what interrupts it has changed). Taking the lock
    // first means a waiter that has just found nothing to do is already asleep, not about
    // to fall asleep and miss this.
    void Wake() {
        { std::lock_guard<std::mutex> hold(wait_lock_); }
        ended_.notify_all();
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
    std::mutex wait_lock_;
    std::condition_variable ended_;
    std::mutex error_lock_;
    std::vector<std::wstring> errors_;
};

}  // namespace velm
