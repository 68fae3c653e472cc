#include "ui/run_progress_win32.h"

#include <windows.h>

#include <vector>

namespace velm {

ProgressSample SampleRunProgress(CSTDownloadManager& manager, const TClientUpdater& updater,
                                 int64_t done_bytes, int64_t total_bytes) {
    ProgressSample sample;
    sample.now_ms = GetTickCount();
    sample.done_bytes = done_bytes;
    sample.total_bytes = total_bytes;
    std::vector<JobSnapshot> jobs;
    manager.GetJobSnapshots(jobs);
    for (const JobSnapshot& job : jobs)
        sample.jobs_moving = sample.jobs_moving || job.state == kJobRunning || job.state == kJobUnpacking;
    sample.checking = updater.IsChecking();
    sample.entries_examined = updater.EntriesExamined();
    sample.entry_total = updater.EntryTotal();
    JobSnapshot current;
    if (manager.FindUnfinishedJob(current)) {
        sample.has_current_job = true;
        sample.current_unpacking = current.state == kJobUnpacking;
        // The player knows the file by its name in the list, not by where its download lands.
        sample.current_name = current.display_name.empty() ? current.name : current.display_name;
        sample.current_size = current.total;
        sample.current_done = current.downloaded;
    }
    return sample;
}

}  // namespace velm
