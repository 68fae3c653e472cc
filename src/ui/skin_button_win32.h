#pragma once
// A push button drawn entirely from a skin strip of four frames, left to right: normal,
// hover, pushed, disabled. The button is made owner-drawn and draws itself through its
// parent's WM_DRAWITEM (both windows are subclassed, so the parent needs no code for it);
// the strip's magenta pixels show the parent's own background.
//
// UI thread only. The object must outlive neither window by much: it detaches itself
// when either window is destroyed, and on its own destruction. Not copyable or movable,
// because the windows hold its address.
#include <windows.h>

#include "common/gdi_win32.h"

namespace velm {

class CSkinButton {
public:
    enum Frame : int { kNormal = 0, kHover = 1, kPushed = 2, kDisabled = 3 };
    static constexpr int kFrames = 4;

    CSkinButton() = default;
    ~CSkinButton();
    CSkinButton(const CSkinButton&) = delete;
    CSkinButton& operator=(const CSkinButton&) = delete;

    // Skins button_id of parent with bitmap_id of the module, cut into frames of
    // frame_width pixels with magenta as mask, and sizes the button to one frame.
    // 1 on success; 0 when the button or the strip is missing (the button is left as
    // it was).
    int Attach(HWND parent, int button_id, HINSTANCE module, int bitmap_id, int frame_width);
    // The same with a strip already cut; the object takes it over.
    int Attach(HWND parent, int button_id, UniqueImageList frames);

    // Changes the skin of an attached button (for example the main button's faces);
    // the meaning of the frames stays.
    void SetImages(UniqueImageList frames);

    HWND Window() const { return button_; }

    // Which frame the button shows in a state; disabled wins over everything, pushed over
    // hover.
    static int FrameFor(bool disabled, bool pushed, bool hover);

private:
    static LRESULT CALLBACK ButtonProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                       UINT_PTR id, DWORD_PTR self);
    static LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                       UINT_PTR id, DWORD_PTR self);
    void Draw(const DRAWITEMSTRUCT& item);
    void PaintParentBackground(HDC dc);
    void Detach();

    HWND parent_ = nullptr;
    HWND button_ = nullptr;
    UniqueImageList frames_;
    bool hover_ = false;
};

}  // namespace velm
