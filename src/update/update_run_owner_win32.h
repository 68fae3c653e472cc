#pragma once
// UpdateRunOwner: what an update run tells the window that owns it. The main window and
// the package-mode update window implement it; tests stand in for them.
//
// Threads: the update thread and the download engine's threads call it, up to three at
// once. Counters must be safe for that; whatever touches a window is posted to the
// window's own thread, except ShowRunMessage, which the update thread waits on.
#include <cstdint>
#include <string>

namespace velm {

class UpdateRunOwner {
public:
    virtual void SetStatusText(const std::wstring& text) = 0;
    // Bytes the run has transferred (negative when an attempt is taken back).
    virtual void AddDoneBytes(int64_t delta) = 0;
    virtual int64_t GetTotalBytes() = 0;
    virtual void SetTotalBytes(int64_t total) = 0;
    // Shows text to the player and returns once the player has read it. The run blocks
    // meanwhile: the replacement of the launcher waits for the player's OK.
    virtual void ShowRunMessage(const std::wstring& text, const wchar_t* caption) = 0;
    // The update thread's last call of a run, with its UpdateResult.
    virtual void OnRunFinished(int result) = 0;

protected:
    ~UpdateRunOwner() = default;
};

}  // namespace velm
