#pragma once
// UpdateRunWindow: what a top-level window holds when it owns an update run (the main
// window, and the update window of package mode): the job manager, the updater and its
// thread, the byte counters the engine reports to, and the once-a-second progress sample.
//
// Threads: the run and the download engine reach the window through UpdateRunOwner from
// their own threads. AddDoneBytes, SetTotalBytes and GetTotalBytes touch counters only;
// SetStatusText and OnRunFinished post to the window, so a worker never waits for the UI
// thread; ShowRunMessage opens a message box owned by the window on the update thread.
// Everything else runs on the UI thread.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "common/sync_win32.h"
#include "download/download_manager_win32.h"
#include "ui/modeless_dialog_win32.h"
#include "ui/progress_display.h"
#include "update/client_updater_win32.h"
#include "update/update_options.h"
#include "update/update_run_owner_win32.h"
#include "update/update_thread_win32.h"

namespace velm {

// The first message number a window built on UpdateRunWindow may use for messages of its
// own; the ones below it are the run's.
inline constexpr UINT kFirstWindowOwnMessage = WM_APP + 0x12;

class UpdateRunWindow : public UpdateRunOwner, protected ModelessDialog {
public:
    // UpdateRunOwner
    void SetStatusText(const std::wstring& text) override;
    void AddDoneBytes(int64_t delta) override;
    int64_t GetTotalBytes() override { return total_bytes_.load(); }
    void SetTotalBytes(int64_t total) override { total_bytes_.store(total); }
    void ShowRunMessage(const std::wstring& text, const wchar_t* caption) override;
    void OnRunFinished(int result) override;

protected:
    // How long a closed window waits for the run to give up before it ends anyway.
    static constexpr DWORD kCloseWaitMs = 10000;

    // The run's options come from the executable, which reads the process's switches.
    explicit UpdateRunWindow(const UpdateOptions& options);
    ~UpdateRunWindow() override = default;

    // Creates the dialog; the calling thread becomes the window's UI thread.
    HWND CreateRunWindow(HINSTANCE instance, int template_id);
    // The messages the run's threads post (status texts, the run's end) and the close
    // bound's timer; true when the message was one of them.
    bool HandleRunMessage(UINT message, WPARAM wparam, LPARAM lparam);
    // Zeroes the counters and hands the run's thread this window, before a run starts.
    void PrepareRun();
    // Starts a prepared run; false when its thread cannot start (no end will be posted).
    bool StartRun();
    // Asks the run to give up and returns at once: the run ends by itself and posts its
    // end as every run does.
    void CancelRun();
    // Closes the window: at once when no run is going; otherwise the window is hidden,
    // the run cancelled, and the window closed when the run has ended or kCloseWaitMs
    // have passed, whichever comes first, its messages answered meanwhile.
    void CloseAfterRun();
    // Destroys the window and ends the message loop; the run's end, if any, is left to
    // EndRun.
    virtual void CloseNow() = 0;
    // The run's progress now, in the window's texts; the caller shows what differs from
    // shown_ and then keeps it there.
    ProgressDisplay SampleProgress();
    // Stops the run's thread and drops the jobs it left, before the updater that made them
    // goes. Destructors call it once the window is gone.
    void EndRun();
    // The texts a closing window will never show.
    void DropPostedStatusTexts();

    virtual void ShowStatusLine(const std::wstring& text) = 0;
    // The run posted its result code (0 success, 1 failure, 3 launcher replaced).
    virtual void OnUpdateFinished(int result) = 0;

    const UpdateOptions options_;
    HINSTANCE instance_ = nullptr;
    DWORD ui_thread_ = 0;
    CSTDownloadManager manager_;
    TClientUpdater updater_;
    UpdateThread update_thread_;
    ProgressTracker progress_;
    ProgressTemplates templates_;
    ProgressDisplay shown_;

private:
    // Set while a run is started and its end not yet handled; the UI thread's only.
    bool run_going_ = false;
    bool closing_after_run_ = false;
    CriticalSection done_lock_;
    int64_t done_bytes_ = 0;
    std::atomic<int64_t> total_bytes_{0};
};

}  // namespace velm
