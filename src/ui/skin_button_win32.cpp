#include "ui/skin_button_win32.h"

#include "ui/image_strip_win32.h"

namespace velm {

CSkinButton::~CSkinButton() { Detach(); }

int CSkinButton::FrameFor(bool disabled, bool pushed, bool hover) {
    if (disabled) return kDisabled;
    if (pushed) return kPushed;
    return hover ? kHover : kNormal;
}

int CSkinButton::Attach(HWND parent, int button_id, HINSTANCE module, int bitmap_id, int frame_width) {
    return Attach(parent, button_id, LoadImageStrip(module, bitmap_id, frame_width, kSkinMagenta));
}

int CSkinButton::Attach(HWND parent, int button_id, UniqueImageList frames) {
    HWND button = GetDlgItem(parent, button_id);
    if (!button || !frames || ImageList_GetImageCount(frames.Get()) < kFrames) return 0;
    Detach();
    parent_ = parent;
    button_ = button;
    hover_ = false;
    LONG_PTR style = GetWindowLongPtrW(button_, GWL_STYLE);
    SetWindowLongPtrW(button_, GWL_STYLE, (style & ~LONG_PTR(BS_TYPEMASK)) | BS_OWNERDRAW);
    const auto self = reinterpret_cast<DWORD_PTR>(this);
    // Several buttons share one parent: each one's subclass is told apart by its address.
    SetWindowSubclass(button_, ButtonProc, self, self);
    SetWindowSubclass(parent_, ParentProc, self, self);
    SetImages(std::move(frames));
    return 1;
}

void CSkinButton::SetImages(UniqueImageList frames) {
    frames_ = std::move(frames);
    if (!button_ || !frames_) return;
    int width = 0, height = 0;
    ImageList_GetIconSize(frames_.Get(), &width, &height);
    SetWindowPos(button_, nullptr, 0, 0, width, height,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(button_, nullptr, FALSE);
}

void CSkinButton::Detach() {
    const auto self = reinterpret_cast<DWORD_PTR>(this);
    if (button_) RemoveWindowSubclass(button_, ButtonProc, self);
    if (parent_) RemoveWindowSubclass(parent_, ParentProc, self);
    button_ = nullptr;
    parent_ = nullptr;
}

LRESULT CALLBACK CSkinButton::ButtonProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                         UINT_PTR, DWORD_PTR self_data) {
    auto* self = reinterpret_cast<CSkinButton*>(self_data);
    switch (message) {
    case WM_MOUSEMOVE:
        if (!self->hover_) {
            self->hover_ = true;
            TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, window, 0};
            TrackMouseEvent(&track);
            InvalidateRect(window, nullptr, FALSE);
        }
        break;
    case WM_MOUSELEAVE:
        self->hover_ = false;
        InvalidateRect(window, nullptr, FALSE);
        break;
    case WM_LBUTTONDBLCLK:
        // Owner-drawn buttons report a quick second click as a double click, which the
        // windows do not handle: make it the click the player meant.
        return DefSubclassProc(window, WM_LBUTTONDOWN, wparam, lparam);
    case WM_ERASEBKGND:
        return 1;
    case WM_NCDESTROY:
        self->Detach();
        break;
    }
    return DefSubclassProc(window, message, wparam, lparam);
}

LRESULT CALLBACK CSkinButton::ParentProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                         UINT_PTR, DWORD_PTR self_data) {
    auto* self = reinterpret_cast<CSkinButton*>(self_data);
    if (message == WM_DRAWITEM) {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
        if (item && item->hwndItem == self->button_) {
            self->Draw(*item);
            return TRUE;
        }
    } else if (message == WM_NCDESTROY) {
        self->Detach();
    }
    return DefSubclassProc(window, message, wparam, lparam);
}

void CSkinButton::PaintParentBackground(HDC dc) {
    // Where the strip is magenta the parent shows through: let the parent paint the
    // part of itself that the button covers.
    POINT origin{0, 0};
    MapWindowPoints(button_, parent_, &origin, 1);
    POINT previous{};
    SetWindowOrgEx(dc, origin.x, origin.y, &previous);
    SendMessageW(parent_, WM_ERASEBKGND, WPARAM(dc), 0);
    SendMessageW(parent_, WM_PRINTCLIENT, WPARAM(dc), PRF_CLIENT);
    SetWindowOrgEx(dc, previous.x, previous.y, nullptr);
}

void CSkinButton::Draw(const DRAWITEMSTRUCT& item) {
    const RECT& rect = item.rcItem;
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) return;
    const int frame = FrameFor((item.itemState & ODS_DISABLED) != 0,
                               (item.itemState & ODS_SELECTED) != 0, hover_);
    // Composed off-screen so the background never shows without the frame over it.
    MemoryDc memory(item.hDC);
    UniqueBitmap canvas(CreateCompatibleBitmap(item.hDC, width, height));
    if (!memory.Get() || !canvas) return;
    {
        ScopedSelect select(memory.Get(), canvas.Get());
        PaintParentBackground(memory.Get());
        if (frames_) ImageList_Draw(frames_.Get(), frame, memory.Get(), 0, 0, ILD_TRANSPARENT);
        BitBlt(item.hDC, rect.left, rect.top, width, height, memory.Get(), 0, 0, SRCCOPY);
    }
}

}  // namespace velm
