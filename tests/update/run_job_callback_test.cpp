// The callback an update run gives its jobs: progress reaches the owning window, job ends
// reach the run, and nothing is reported before the run has an owner.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "download/winnet_download_job_win32.h"
#include "update/run_job_callback_win32.h"

namespace velm {
namespace {

class CountingOwner : public UpdateRunOwner {
public:
    void SetStatusText(const std::wstring&) override {}
    void AddDoneBytes(int64_t delta) override { done += delta; }
    int64_t GetTotalBytes() override { return total; }
    void SetTotalBytes(int64_t value) override { total = value; }
    void ShowRunMessage(const std::wstring&, const wchar_t*) override {}
    void OnRunFinished(int) override {}

    std::atomic<int64_t> done{0};
    int64_t total = 0;
};

TEST(RunJobCallback, ForwardsProgressToTheOwnerAndJobEndsToTheRun) {
    RunJobCallback callback;
    TWinInetDownloadJob job;
    // Without an owner or a handler every report is dropped quietly.
    callback.OnProgress(&job, 5);
    callback.OnJobComplete(&job, 1);
    CountingOwner owner;
    std::vector<int32_t> finished;
    callback.SetOwner(&owner);
    callback.SetJobEndHandler([&](TDownloadJobBase* ended, int32_t success) {
        EXPECT_EQ(ended, &job);
        finished.push_back(success);
    });
    callback.OnProgress(&job, 100);
    callback.OnProgress(&job, -40);
    callback.OnTotalKnown(&job, 99);
    callback.OnJobComplete(&job, 0);
    EXPECT_EQ(owner.done.load(), 60);
    EXPECT_EQ(owner.total, 0) << "a job's own size is no change of the run's total";
    EXPECT_EQ(finished, std::vector<int32_t>{0});
}

}  // namespace
}  // namespace velm
