#include "ui/update_run_window_win32.h"

#include <memory>

#include "ui/run_progress_win32.h"
#include "ui/top_window_win32.h"

namespace velm {
namespace {

// The run's log texts; neither window keeps a log list, so they are only released.
constexpr UINT UM_STATUS_TEXT = 0x0500;
constexpr UINT UM_STATUS_LINE = WM_APP + 0x10;
constexpr UINT UM_REFRESH_PROGRESS = WM_APP + 0x11;

}  // namespace

UpdateRunWindow::UpdateRunWindow() : progress_(0) { done_lock_.Init(); }

HWND UpdateRunWindow::CreateRunWindow(HINSTANCE instance, int template_id) {
    instance_ = instance;
    ui_thread_ = GetCurrentThreadId();
    return CreateModeless(instance, template_id);
}

bool UpdateRunWindow::HandleRunMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case UM_STATUS_TEXT:
        delete reinterpret_cast<std::wstring*>(lparam);
        return true;
    case UM_STATUS_LINE: {
        std::unique_ptr<std::wstring> text(reinterpret_cast<std::wstring*>(lparam));
        ShowStatusLine(*text);
        return true;
    }
    case UM_REFRESH_PROGRESS:
        RefreshProgressNow();
        return true;
    case UM_UPDATE_FINISHED:
        OnUpdateFinished(int(wparam));
        return true;
    default:
        return false;
    }
}

void UpdateRunWindow::PrepareRun() {
    update_thread_.SetOwner(this);
    SetTotalBytes(0);
    ScopedLock lock(done_lock_);
    done_bytes_ = 0;
}

ProgressDisplay UpdateRunWindow::SampleProgress() {
    int64_t done = 0;
    {
        ScopedLock lock(done_lock_);
        done = done_bytes_;
    }
    return progress_.Refresh(SampleRunProgress(manager_, updater_, done, total_bytes_.load()), templates_);
}

void UpdateRunWindow::CancelRun(DWORD wait_ms) {
    updater_.Cancel();
    update_thread_.Stop(wait_ms);
}

void UpdateRunWindow::EndRun() {
    update_thread_.Stop(kCloseWaitMs);
    manager_.SetRunning(false);
    manager_.DeleteAllJobs();
}

void UpdateRunWindow::DropPostedStatusTexts() {
    DropPostedTexts(window_, UM_STATUS_LINE);
    DropPostedTexts(window_, UM_STATUS_TEXT);
}

void UpdateRunWindow::RefreshProgress() {
    if (GetCurrentThreadId() == ui_thread_) {
        RefreshProgressNow();
    } else if (window_) {
        PostMessageW(window_, UM_REFRESH_PROGRESS, 0, 0);
    }
}

void UpdateRunWindow::AddDoneBytes(TDownloadJobBase*, int64_t delta) {
    ScopedLock lock(done_lock_);
    done_bytes_ += delta;
}

void UpdateRunWindow::SetStatusText(const std::wstring& text) {
    if (GetCurrentThreadId() == ui_thread_) {
        ShowStatusLine(text);
        return;
    }
    PostTextCopy(window_, UM_STATUS_LINE, text);
}

void UpdateRunWindow::PostNotify(uint32_t message, uintptr_t first, intptr_t second) {
    if (window_) PostMessageW(window_, message, first, second);
}

}  // namespace velm
