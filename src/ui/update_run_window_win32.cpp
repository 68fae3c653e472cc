#include "ui/update_run_window_win32.h"

#include <memory>

#include "ui/run_progress_win32.h"
#include "ui/top_window_win32.h"
#include "ui/ui_ids.h"

namespace velm {
namespace {

constexpr UINT UM_UPDATE_FINISHED = 0x0501;
constexpr UINT UM_STATUS_LINE = WM_APP + 0x10;

}  // namespace

UpdateRunWindow::UpdateRunWindow(const UpdateOptions& options) : options_(options), progress_(0) {
    done_lock_.Init();
    updater_.SetOptions(options_);
}

HWND UpdateRunWindow::CreateRunWindow(HINSTANCE instance, int template_id) {
    instance_ = instance;
    ui_thread_ = GetCurrentThreadId();
    return CreateModeless(instance, template_id);
}

bool UpdateRunWindow::HandleRunMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case UM_STATUS_LINE: {
        std::unique_ptr<std::wstring> text(reinterpret_cast<std::wstring*>(lparam));
        ShowStatusLine(*text);
        return true;
    }
    case UM_UPDATE_FINISHED:
        run_going_ = false;
        if (closing_after_run_) CloseNow();
        else OnUpdateFinished(int(wparam));
        return true;
    case WM_TIMER:
        if (wparam != kTimerCloseBound) return false;
        KillTimer(window_, kTimerCloseBound);
        CloseNow();
        return true;
    default:
        return false;
    }
}

bool UpdateRunWindow::StartRun() {
    run_going_ = update_thread_.Start();
    return run_going_;
}

void UpdateRunWindow::CancelRun() { updater_.Cancel(); }

void UpdateRunWindow::CloseAfterRun() {
    if (!run_going_) {
        CloseNow();
        return;
    }
    closing_after_run_ = true;
    ShowWindow(window_, SW_HIDE);
    CancelRun();
    SetTimer(window_, kTimerCloseBound, kCloseWaitMs, nullptr);
}

void UpdateRunWindow::PrepareRun() {
    update_thread_.SetRun(&updater_, this);
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

void UpdateRunWindow::EndRun() {
    update_thread_.Stop(kCloseWaitMs);
    manager_.SetRunning(false);
    manager_.DeleteAllJobs();
}

void UpdateRunWindow::DropPostedStatusTexts() {
    DropPostedTexts(window_, UM_STATUS_LINE);
}

void UpdateRunWindow::AddDoneBytes(int64_t delta) {
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

void UpdateRunWindow::ShowRunMessage(const std::wstring& text, const wchar_t* caption) {
    HWND owner = window_ && IsWindow(window_) ? window_ : GetActiveWindow();
    MessageBoxW(owner, text.c_str(), caption, MB_OK);
}

void UpdateRunWindow::OnRunFinished(int result) {
    if (window_) PostMessageW(window_, UM_UPDATE_FINISHED, WPARAM(result), 0);
}

}  // namespace velm
