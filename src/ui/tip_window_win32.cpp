#include "ui/tip_window_win32.h"

#include "ui/image_strip_win32.h"

namespace velm {
namespace {

const wchar_t kClassName[] = L"VelmTipWindow";
const wchar_t kWindowName[] = L"emberlytip";
constexpr UINT_PTR kRepaintTimer = 1;

bool RegisterTipClass(HINSTANCE module, WNDPROC procedure) {
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof existing;
    if (GetClassInfoExW(module, kClassName, &existing)) return true;
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = procedure;
    window_class.hInstance = module;
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.lpszClassName = kClassName;
    return RegisterClassExW(&window_class) != 0;
}

}  // namespace

CTipWindow::~CTipWindow() { Destroy(); }

int CTipWindow::FrameAt(DWORD tick_ms, int frame_count) {
    return frame_count > 0 ? int((tick_ms / kFrameMs) % DWORD(frame_count)) : 0;
}

int CTipWindow::Create(HWND owner, HINSTANCE module, int bitmap_id, int frame_width, POINT offset) {
    // No mask: the window's colour key makes the magenta pixels transparent.
    return Create(owner, LoadImageStrip(module, bitmap_id, frame_width, CLR_NONE), offset);
}

int CTipWindow::Create(HWND owner, UniqueImageList frames, POINT offset) {
    Destroy();
    if (!owner || !frames || ImageList_GetImageCount(frames.Get()) < 1) return 0;
    HINSTANCE module = GetModuleHandleW(nullptr);
    if (!RegisterTipClass(module, WindowProc)) return 0;
    int width = 0, height = 0;
    ImageList_GetIconSize(frames.Get(), &width, &height);
    frames_ = std::move(frames);
    owner_ = owner;
    offset_ = offset;
    window_ = CreateWindowExW(WS_EX_LAYERED | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, kClassName,
                              kWindowName, WS_POPUP, 0, 0, width, height, owner, nullptr, module,
                              nullptr);
    if (!window_) {
        frames_.Reset();
        owner_ = nullptr;
        return 0;
    }
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetLayeredWindowAttributes(window_, RGB(255, 0, 255), 255, LWA_COLORKEY | LWA_ALPHA);
    // The timer only makes a frame change show promptly; which frame shows comes from the
    // clock, so every hint blinks in step.
    SetTimer(window_, kRepaintTimer, kRepaintMs, nullptr);
    const auto self = reinterpret_cast<DWORD_PTR>(this);
    SetWindowSubclass(owner_, OwnerProc, self, self);
    Follow();
    return 1;
}

void CTipWindow::Destroy() {
    if (owner_) RemoveWindowSubclass(owner_, OwnerProc, reinterpret_cast<DWORD_PTR>(this));
    owner_ = nullptr;
    if (window_) {
        HWND window = window_;
        window_ = nullptr;
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        DestroyWindow(window);
    }
    frames_.Reset();
}

void CTipWindow::Show(bool show) {
    if (window_) ShowWindow(window_, show ? SW_SHOWNOACTIVATE : SW_HIDE);
}

bool CTipWindow::Visible() const { return window_ && IsWindowVisible(window_); }

void CTipWindow::Follow() {
    if (!window_ || !owner_) return;
    POINT origin{0, 0};
    ClientToScreen(owner_, &origin);
    SetWindowPos(window_, nullptr, origin.x + offset_.x, origin.y + offset_.y, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
}

void CTipWindow::Paint() {
    PaintScope paint(window_);
    RECT client{};
    GetClientRect(window_, &client);
    UniqueBrush magenta(CreateSolidBrush(RGB(255, 0, 255)));
    FillRect(paint.Dc(), &client, magenta.Get());
    if (frames_) {
        const int frame = FrameAt(GetTickCount(), ImageList_GetImageCount(frames_.Get()));
        ImageList_Draw(frames_.Get(), frame, paint.Dc(), 0, 0, ILD_NORMAL);
    }
}

LRESULT CALLBACK CTipWindow::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* self = reinterpret_cast<CTipWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self) {
        switch (message) {
        case WM_TIMER:
            if (wparam == kRepaintTimer) InvalidateRect(window, nullptr, FALSE);
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT:
            self->Paint();
            return 0;
        case WM_MOUSEACTIVATE:
            return MA_NOACTIVATE;
        case WM_NCDESTROY:
            // The owner is going away and takes its owned windows with it.
            self->window_ = nullptr;
            break;
        }
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

LRESULT CALLBACK CTipWindow::OwnerProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                       UINT_PTR, DWORD_PTR self_data) {
    auto* self = reinterpret_cast<CTipWindow*>(self_data);
    if (message == WM_MOVE) {
        self->Follow();
    } else if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(window, OwnerProc, self_data);
        self->owner_ = nullptr;
    }
    return DefSubclassProc(window, message, wparam, lparam);
}

}  // namespace velm
