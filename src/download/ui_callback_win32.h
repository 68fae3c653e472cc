#pragma once
// TDownloadFileUICallback: forwards a job's reports to the window running the update and
// to the update run's completion handler. Called on worker threads only.
#include "download/dlg_base_win32.h"
#include "download/download_job_win32.h"

namespace velm {

class TDownloadFileUICallback : public TDownloadJobBase::DownloadFileCallback {
public:
    // Set once by the update run before any job starts; the window outlives the run.
    void SetSink(CDlgBase* sink) { sink_ = sink; }
    CDlgBase* Sink() const { return sink_; }

    int32_t OnReserved0(uintptr_t value) override;
    int32_t OnReserved1() override;
    void OnProgress(TDownloadJobBase* job, int64_t delta) override;
    void OnTotalKnown(TDownloadJobBase* job, int64_t total) override;
    void OnJobComplete(TDownloadJobBase* job, int32_t success) override;
    void OnMessage(const std::wstring& text) override;
    void OnAddTotal(int64_t delta) override;

private:
    CDlgBase* sink_ = nullptr;
};

}  // namespace velm
