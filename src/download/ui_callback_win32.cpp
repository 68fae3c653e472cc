#include "download/ui_callback_win32.h"

#include "common/log.h"

namespace velm {

int32_t TDownloadFileUICallback::OnReserved0(uintptr_t) { return 1; }

int32_t TDownloadFileUICallback::OnReserved1() { return 1; }

void TDownloadFileUICallback::OnProgress(TDownloadJobBase* job, int64_t delta) {
    if (sink_) sink_->AddDoneBytes(job, delta);
}

void TDownloadFileUICallback::OnTotalKnown(TDownloadJobBase*, int64_t) {}

void TDownloadFileUICallback::OnJobComplete(TDownloadJobBase* job, int32_t success) {
    if (!sink_) return;
    if (TJobFinishedHandler* updater = sink_->GetUpdater()) updater->OnJobFinished(job, success);
}

void TDownloadFileUICallback::OnMessage(const std::wstring& text) {
    LauncherLog::Instance().Write(L"%ls", text.c_str());
}

void TDownloadFileUICallback::OnAddTotal(int64_t delta) {
    if (sink_) sink_->SetTotalBytes(sink_->GetTotalBytes() + delta);
}

}  // namespace velm
