#pragma once
// RunJobCallback: the download callback of every job an update run makes. Progress goes
// to the window that owns the run, job ends to the run itself. Called on download-engine
// threads only.
#include <cstdint>
#include <functional>
#include <string>

#include "download/download_job_win32.h"
#include "update/update_run_owner_win32.h"

namespace velm {

class RunJobCallback : public TDownloadJobBase::DownloadFileCallback {
public:
    using JobEndHandler = std::function<void(TDownloadJobBase* job, int32_t success)>;

    // Both set once before any job starts; the owner and the handler outlive the jobs.
    void SetOwner(UpdateRunOwner* owner) { owner_ = owner; }
    void SetJobEndHandler(JobEndHandler handler) { on_job_end_ = std::move(handler); }

    void OnProgress(TDownloadJobBase* job, int64_t delta) override;
    void OnTotalKnown(TDownloadJobBase* job, int64_t total) override;
    void OnJobComplete(TDownloadJobBase* job, int32_t success) override;

private:
    UpdateRunOwner* owner_ = nullptr;
    JobEndHandler on_job_end_;
};

}  // namespace velm
