#include "ui/ui_test_support_win32.h"

#include "common/file_io.h"
#include "common/gdi_win32.h"
#include "common/text.h"
#include "services/loopback_env.h"

namespace velm::test {
namespace {

struct ModalDriver {
    std::function<void(HWND)> drive;
    UINT_PTR timer = 0;
};
ModalDriver* g_driver = nullptr;

HWND FindDialogOfThisThread() {
    HWND found = nullptr;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM out) -> BOOL {
            wchar_t name[16] = {};
            GetClassNameW(window, name, 16);
            if (lstrcmpW(name, L"#32770") == 0 && IsWindowVisible(window)) {
                *reinterpret_cast<HWND*>(out) = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

void CALLBACK DriverTimer(HWND, UINT, UINT_PTR, DWORD) {
    if (!g_driver) return;
    HWND dialog = FindDialogOfThisThread();
    if (!dialog) return;
    ModalDriver* driver = g_driver;
    g_driver = nullptr;
    KillTimer(nullptr, driver->timer);
    driver->drive(dialog);
}

LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

INT_PTR RunModal(const std::function<INT_PTR()>& show, const std::function<void(HWND)>& drive) {
    ModalDriver driver{drive, 0};
    driver.timer = SetTimer(nullptr, 0, 20, DriverTimer);
    g_driver = &driver;
    INT_PTR result = show();
    if (g_driver) {
        KillTimer(nullptr, driver.timer);
        g_driver = nullptr;
    }
    return result;
}

void PumpMessages(DWORD wait_ms) {
    PumpUntil([] { return false; }, wait_ms);
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeout_ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (done()) return true;
        if (GetTickCount() - start >= timeout_ms) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

TestWindow::TestWindow(int x, int y, int width, int height, COLORREF background) {
    static const wchar_t kClass[] = L"VelmUiTestWindow";
    HINSTANCE module = GetModuleHandleW(nullptr);
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof existing;
    if (!GetClassInfoExW(module, kClass, &existing)) {
        WNDCLASSEXW window_class{};
        window_class.cbSize = sizeof window_class;
        window_class.lpfnWndProc = TestWindowProc;
        window_class.hInstance = module;
        window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        window_class.lpszClassName = kClass;
        RegisterClassExW(&window_class);
    }
    brush_ = CreateSolidBrush(background);
    window_ = CreateWindowExW(0, kClass, L"velm ui test", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN,
                              x, y, width, height, nullptr, nullptr, module, nullptr);
    SetClassLongPtrW(window_, GCLP_HBRBACKGROUND, reinterpret_cast<LONG_PTR>(brush_));
    InvalidateRect(window_, nullptr, TRUE);
    SetForegroundWindow(window_);
    UpdateWindow(window_);
}

TestWindow::~TestWindow() {
    if (window_) DestroyWindow(window_);
    if (brush_) DeleteObject(brush_);
}

COLORREF ClientPixel(HWND window, int x, int y) {
    HDC dc = GetDC(window);
    COLORREF colour = GetPixel(dc, x, y);
    ReleaseDC(window, dc);
    return colour;
}

COLORREF ResourcePixel(int bitmap_id, int x, int y) {
    UniqueBitmap bitmap(static_cast<HBITMAP>(LoadImageW(GetModuleHandleW(nullptr),
                                                       MAKEINTRESOURCEW(bitmap_id), IMAGE_BITMAP,
                                                       0, 0, LR_CREATEDIBSECTION)));
    if (!bitmap) return CLR_INVALID;
    MemoryDc memory(nullptr);
    ScopedSelect select(memory.Get(), bitmap.Get());
    return GetPixel(memory.Get(), x, y);
}

std::vector<std::string> RecordedBodies() {
    std::vector<std::string> bodies;
    for (const RecordedRequest& request : RecordedRequests()) {
        std::string body;
        for (size_t i = 0; i + 1 < request.body_hex.size(); i += 2) {
            body += char(std::stoi(request.body_hex.substr(i, 2), nullptr, 16));
        }
        bodies.push_back(body);
    }
    return bodies;
}

TempFolder::TempFolder() {
    wchar_t base[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, base);
    static int count = 0;
    path_ = FormatText(L"%lsvelm-ui-%lu-%d", base, GetCurrentProcessId(), ++count);
    CreateDirectoryW(path_.c_str(), nullptr);
}

TempFolder::~TempFolder() {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path_ + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileW(File(found.cFileName).c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(path_.c_str());
}

std::wstring WindowText(HWND window) {
    const int length = GetWindowTextLengthW(window);
    std::wstring text(size_t(length) + 1, L'\0');
    text.resize(size_t(GetWindowTextW(window, text.data(), length + 1)));
    return text;
}

}  // namespace velm::test
