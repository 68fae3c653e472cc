// Puts one of the windows of src/ui on screen for scripts/screenshots.sh:
//
//   velm_ui_gallery.exe settings|errors|hints READYFILE FIXTUREDIR
//
// When the window is up it writes "x y width height" (its screen rectangle) to READYFILE
// and waits until the script has taken its picture and deleted the file.
#include <winsock2.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/file_io.h"
#include "common/handle_win32.h"
#include "common/text.h"
#include "ui/error_result_dlg_win32.h"
#include "ui/game_config_dlg_win32.h"
#include "ui/image_strip_win32.h"
#include "ui/skin_button_win32.h"
#include "ui/tip_window_win32.h"
#include "ui/ui_ids.h"
#include "ui/ui_test_support_win32.h"

namespace velm {
namespace {

std::wstring g_ready_file;

std::string RectLine(const RECT& rect) {
    char text[64];
    snprintf(text, sizeof text, "%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left,
             rect.bottom - rect.top);
    return text;
}

void AnnounceAndWait(HWND window) {
    test::PumpMessages(400);
    RECT rect{};
    GetWindowRect(window, &rect);
    std::string line = RectLine(rect);
    WriteWholeFile(g_ready_file, line.data(), line.size());
    test::PumpUntil([] { return !FileExists(g_ready_file); }, 60000);
}


int ShowSettings(const std::wstring& fixtures) {
    test::TempFolder folder;
    const std::wstring perf = folder.File(L"VelmPerfSwitch.ini"), engine = folder.File(L"VelmEngine.ini");
    CopyFileW((fixtures + L"\\VelmPerfSwitch.ini").c_str(), perf.c_str(), FALSE);
    CopyFileW((fixtures + L"\\VelmEngine.ini").c_str(), engine.c_str(), FALSE);
    GameConfigDlg dialog(perf, engine);
    test::RunModal([&] { return dialog.DoModal(nullptr); }, [](HWND window) {
        AnnounceAndWait(window);
        EndDialog(window, IDCANCEL);
    });
    return 0;
}

int ShowErrors() {
    UniqueHandle client(CreateMutexW(nullptr, FALSE, kGameClientMutexName));
    ErrorResultDlg dialog(
        {L"Download failed: data\\Maps\\Harbour.pak 错误码：(12029)无法与服务器建立连接",
         L"MD5 mismatch after patch: Binaries\\Win32\\Velm.exe",
         L"Could not replace file: VelmGame\\Config\\DefaultGame.ini 错误码：(32)另一个程序正在使用此文件，进程无法访问。",
         L"Server IP: 127.0.0.1"},
        L"http://127.0.0.1/qv/filelist.xml", L"");
    test::RunModal([&] { return dialog.DoModal(nullptr); }, [](HWND window) {
        AnnounceAndWait(window);
        EndDialog(window, IDCANCEL);
    });
    return 0;
}

// The main window's skin around the hints: background, bars, buttons and a few rows.
class SkinStage {
public:
    SkinStage() {
        HINSTANCE module = GetModuleHandleW(nullptr);
        background_.Reset(static_cast<HBITMAP>(LoadImageW(module, MAKEINTRESOURCEW(kBitmapBackground),
                                                          IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
        track_.Reset(static_cast<HBITMAP>(LoadImageW(module, MAKEINTRESOURCEW(kBitmapProgressTrack),
                                                     IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
        fill_.Reset(static_cast<HBITMAP>(LoadImageW(module, MAKEINTRESOURCEW(kBitmapProgressFill),
                                                    IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
        rows_ = LoadImageStrip(module, kBitmapServerRows, 163, kSkinMagenta);
        lights_ = LoadImageStrip(module, kBitmapServerStatus, 11, kSkinMagenta);
        badges_ = LoadImageStrip(module, kBitmapServerBadges, 18, kSkinMagenta);
        WNDCLASSEXW window_class{};
        window_class.cbSize = sizeof window_class;
        window_class.lpfnWndProc = Proc;
        window_class.hInstance = module;
        window_class.lpszClassName = L"VelmGalleryStage";
        RegisterClassExW(&window_class);
        window_ = CreateWindowExW(WS_EX_LAYERED, L"VelmGalleryStage", L"Emberly", WS_POPUP | WS_CLIPCHILDREN,
                                  40, 40, 746, 580, nullptr, nullptr, module, this);
        SetLayeredWindowAttributes(window_, kSkinMagenta, 255, LWA_COLORKEY | LWA_ALPHA);
        struct Button {
            int id, x, y, bitmap, frame;
        } buttons[] = {
            {1019, 702, 0, kBitmapCloseButton, 41},    {1029, 662, 0, kBitmapMinimiseButton, 40},
            {1001, 587, 446, kBitmapMainPlay, 135},    {1025, 329, 540, kBitmapHomePageButton, 97},
            {1024, 430, 540, kBitmapAccountButton, 97}, {1026, 531, 540, kBitmapPatchButton, 97},
            {1027, 633, 540, kBitmapSettingsButton, 97}, {1033, 520, 48, kBitmapPlusButton, 30},
        };
        for (size_t i = 0; i < std::size(buttons); ++i) {
            const Button& b = buttons[i];
            CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE, b.x, b.y, 10, 10, window_,
                            HMENU(INT_PTR(b.id)), module, nullptr);
            skins_[i].Attach(window_, b.id, module, b.bitmap, b.frame);
        }
        EnableWindow(GetDlgItem(window_, 1033), FALSE);
        ShowWindow(window_, SW_SHOWNOACTIVATE);
        tips_[0].Create(window_, module, kBitmapHintRealm, 182, POINT{559, 31});
        tips_[1].Create(window_, module, kBitmapHintArrow, 66, POINT{488, 104});
        tips_[2].Create(window_, module, kBitmapHintServers, 182, POINT{558, 102});
        for (CTipWindow& tip : tips_) tip.Show(true);
    }
    ~SkinStage() { DestroyWindow(window_); }
    HWND Window() const { return window_; }

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
        if (message == WM_NCCREATE) {
            SetWindowLongPtrW(window, GWLP_USERDATA,
                              LONG_PTR(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams));
        }
        auto* self = reinterpret_cast<SkinStage*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self && message == WM_PAINT) {
            PaintScope paint(window);
            self->Paint(paint.Dc());
            return 0;
        }
        if (self && message == WM_PRINTCLIENT) {
            self->Paint(HDC(wparam));
            return 0;
        }
        if (message == WM_ERASEBKGND) return 1;
        return DefWindowProcW(window, message, wparam, lparam);
    }

    void Blit(HDC dc, HBITMAP bitmap, int x, int y, int width, int height) {
        MemoryDc memory(dc);
        ScopedSelect select(memory.Get(), bitmap);
        BitBlt(dc, x, y, width, height, memory.Get(), 0, 0, SRCCOPY);
    }

    void Paint(HDC dc) {
        Blit(dc, background_.Get(), 0, 0, 746, 580);
        Blit(dc, track_.Get(), 9, 444, 539, 15);
        Blit(dc, fill_.Get(), 9, 444, 539 * 62 / 100, 15);
        Blit(dc, track_.Get(), 9, 493, 539, 15);
        Blit(dc, fill_.Get(), 9, 493, 539 * 35 / 100, 15);
        SetBkMode(dc, TRANSPARENT);
        HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
        ScopedSelect select_font(dc, font);
        const wchar_t* names[] = {L"烈焰之城", L"星辰港湾", L"暮光荒原", L"霜岭要塞"};
        for (int row = 0; row < 4; ++row) {
            const int y = 103 + row * 23;
            ImageList_Draw(rows_.Get(), row == 1 ? 2 : row == 2 ? 1 : 0, dc, 559, y, ILD_TRANSPARENT);
            ImageList_Draw(lights_.Get(), row + 1, dc, 562, y + 4, ILD_TRANSPARENT);
            SetTextColor(dc, RGB(248, 236, 210));
            TextOutW(dc, 559 + 14, y + 4, names[row], lstrlenW(names[row]));
            if (row < 2) ImageList_Draw(badges_.Get(), row * 21 + 5, dc, 559 + 143, y + 4, ILD_TRANSPARENT);
        }
        struct Text {
            int x, y;
            const wchar_t* text;
            COLORREF colour;
        } lines[] = {
            {12, 405, L"客户端更新完毕，点击“开始游戏”按钮进入游戏。", RGB(246, 220, 152)},
            {12, 427, L"剩余：0 B，共：182.4 MB | 下载速率：1.2 MB/s | 剩余时间：0 秒", RGB(200, 205, 220)},
            {12, 465, L"正在下载 data\\Maps\\Harbour.pak", RGB(200, 205, 220)},
            {491, 425, L"线上版本1.0.0.7", RGB(200, 205, 220)},
            {622, 425, L"本地版本1.0.0.7", RGB(200, 205, 220)},
            {562, 342, L"当前选择：星辰港湾", RGB(246, 220, 152)},
        };
        for (const Text& line : lines) {
            SetTextColor(dc, line.colour);
            TextOutW(dc, line.x, line.y, line.text, lstrlenW(line.text));
        }
    }

    HWND window_ = nullptr;
    UniqueBitmap background_, track_, fill_;
    UniqueImageList rows_, lights_, badges_;
    CSkinButton skins_[8];
    CTipWindow tips_[3];
};

int ShowHints() {
    SkinStage stage;
    AnnounceAndWait(stage.Window());
    return 0;
}

}  // namespace
}  // namespace velm

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: velm_ui_gallery settings|errors|hints READYFILE [FIXTUREDIR]\n");
        return 2;
    }
    velm::g_ready_file = argv[2];
    WSADATA winsock;
    WSAStartup(MAKEWORD(2, 2), &winsock);
    const std::wstring what = argv[1];
    if (what == L"settings" && argc > 3) return velm::ShowSettings(argv[3]);
    if (what == L"errors") return velm::ShowErrors();
    if (what == L"hints") return velm::ShowHints();
    fprintf(stderr, "velm_ui_gallery: unknown window\n");
    return 2;
}
