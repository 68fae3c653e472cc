#pragma once
// Every text the child controls of a launcher's window thread are sent, recorded by a
// hook that thread loads (text_record_hook_win32.cpp): what a control showed for a moment
// is seen without racing the window for it.
#include <windows.h>

#include <string>
#include <vector>

namespace velm::test {

class ChildTextRecord {
public:
    enum class Refresh { kOwnTimer, kContinuously };
    // file: where the hook appends; launchers started while this object lives record
    // there, and their dialogs show their progress as the refresh says.
    ChildTextRecord(std::wstring file, Refresh refresh);
    ~ChildTextRecord();
    ChildTextRecord(const ChildTextRecord&) = delete;
    ChildTextRecord& operator=(const ChildTextRecord&) = delete;

    // Places the hook on that thread (of a process started with the record in place).
    bool Hook(DWORD thread_id);
    // The texts the control with that id was sent, in order.
    std::vector<std::wstring> Texts(int control_id) const;

private:
    std::wstring file_;
    HMODULE library_ = nullptr;
    HHOOK hook_ = nullptr;
};

}  // namespace velm::test
