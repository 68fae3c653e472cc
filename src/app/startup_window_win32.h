#pragma once
// The top-level window start-up runs until the main and update windows exist: a plain
// window that says which mode the launcher started in and ends the message loop when it
// is closed. Owned and run by start-up on the user-interface thread.
#include <windows.h>

#include <string>

namespace velm {

class StartupWindow {
public:
    static constexpr const wchar_t* kClassName = L"VelmStartupWindow";

    StartupWindow() = default;
    ~StartupWindow();
    StartupWindow(const StartupWindow&) = delete;
    StartupWindow& operator=(const StartupWindow&) = delete;

    // False when the window cannot be created.
    bool Create(HINSTANCE instance, const std::wstring& title, const std::wstring& text);
    HWND Handle() const { return window_; }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

    HWND window_ = nullptr;
    HFONT font_ = nullptr;
};

}  // namespace velm
