#pragma once
// A borderless hint that blinks over its owner window: a layered tool window whose
// magenta pixels are see-through (colour key), showing the frames of one image strip in
// turn, 150 ms each. It keeps its place relative to the owner's client area by itself:
// it watches the owner's moves.
//
// UI thread only. The window is destroyed with this object or with its owner, whichever
// comes first. Not copyable or movable, because the windows hold its address.
#include <windows.h>

#include "common/gdi_win32.h"

namespace velm {

class CTipWindow {
public:
    static constexpr DWORD kFrameMs = 150;
    static constexpr UINT kRepaintMs = 100;

    CTipWindow() = default;
    ~CTipWindow();
    CTipWindow(const CTipWindow&) = delete;
    CTipWindow& operator=(const CTipWindow&) = delete;

    // Creates the hidden window at offset from the owner's client origin, sized to one
    // frame of bitmap_id cut into frames frame_width pixels wide. 1 on success, 0 when the
    // strip is missing or the window cannot be made.
    int Create(HWND owner, HINSTANCE module, int bitmap_id, int frame_width, POINT offset);
    // The same with a strip already cut; the object takes it over.
    int Create(HWND owner, UniqueImageList frames, POINT offset);

    // Shows without activating anything, or hides.
    void Show(bool show);
    bool Visible() const;
    // Puts the window at the owner's client origin plus the offset, keeping its size,
    // its place in the Z order and the focus.
    void Follow();

    HWND Window() const { return window_; }

    // The frame shown at a tick count.
    static int FrameAt(DWORD tick_ms, int frame_count);

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    static LRESULT CALLBACK OwnerProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                      UINT_PTR id, DWORD_PTR self);
    void Paint();
    void Destroy();

    HWND owner_ = nullptr;
    HWND window_ = nullptr;
    UniqueImageList frames_;
    POINT offset_{};
};

}  // namespace velm
