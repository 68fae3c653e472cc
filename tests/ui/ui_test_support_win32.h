#pragma once
// Helpers for tests that open the real windows of src/ui under Wine: running a modal
// dialog while a test drives it, test windows to own the dialogs and hints, reading
// pixels back from the screen, and the loopback recording server's reports.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace velm::test {

// Runs show(), which runs a modal dialog on this thread, and calls drive(dialog) from
// inside the dialog's message loop once the dialog is on screen. drive ends the dialog.
INT_PTR RunModal(const std::function<INT_PTR()>& show, const std::function<void(HWND)>& drive);

// Handles pending messages of this thread for about wait_ms.
void PumpMessages(DWORD wait_ms);
// Pumps messages until done() holds, for at most timeout_ms; false when it never did.
bool PumpUntil(const std::function<bool()>& done, DWORD timeout_ms);

// A visible top-level window with a solid background colour, for owning dialogs and
// hints and for parenting buttons. Destroyed with the object.
class TestWindow {
public:
    TestWindow(int x, int y, int width, int height, COLORREF background);
    ~TestWindow();
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;
    HWND Get() const { return window_; }

private:
    HWND window_ = nullptr;
    HBRUSH brush_ = nullptr;
};

// The colour the screen shows at a point of a window's client area.
COLORREF ClientPixel(HWND window, int x, int y);

// A pixel of a bitmap resource of this executable.
COLORREF ResourcePixel(int bitmap_id, int x, int y);

// The raw bodies (bytes as sent) of the requests the recording server saw.
std::vector<std::string> RecordedBodies();

// A fresh empty folder under the temporary folder, removed with its files.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    const std::wstring& Path() const { return path_; }
    std::wstring File(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

// The text of a window (a control or a title).
std::wstring WindowText(HWND window);

}  // namespace velm::test
