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

    int32_t OnReserved0(uintptr_t value) override;
    int32_t OnReserved1() override;
    void OnProgress(TDownloadJobBase* job, int64_t delta) override;
    void OnTotalKnown(TDownloadJobBase* job, int64_t total) override;
    void OnJobComplete(TDownloadJobBase* job, int32_t success) override;
    void OnMessage(const std::wstring& text) override;
    void OnAddTotal(int64_t delta) override;

private:
    UpdateRunOwner* owner_ = nullptr;
    JobEndHandler on_job_end_;
};

}  // namespace velm
