#include "ui/main_window_driver_win32.h"

#include <cstdlib>

#include "common/config_text_ids.h"
#include "common/string_ids.h"
#include "common/file_io.h"
#include "common/text.h"
#include "ui/ui_ids.h"

namespace velm::test {
namespace {

// The address the fixture's releases were published for.
constexpr const wchar_t* kPublishedBase = L"http://127.0.0.1:1/releases/patch";
constexpr int kFaceWidth = 135, kFaceHeight = 69, kFaceFrames = 4;

void CopyTree(const std::wstring& from, const std::wstring& to) {
    CreateDirectoryW(to.c_str(), nullptr);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((from + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) CopyTree(from + L"\\" + name, to + L"\\" + name);
        else CopyFileW((from + L"\\" + name).c_str(), (to + L"\\" + name).c_str(), FALSE);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

// 32-bit pixels of a bitmap, top row first.
struct Pixels {
    int width = 0, height = 0;
    std::vector<uint32_t> data;
    uint32_t At(int x, int y) const { return data[size_t(y) * size_t(width) + size_t(x)] & 0xFFFFFF; }
};

Pixels ReadPixels(HDC dc, HBITMAP bitmap, int width, int height) {
    Pixels pixels;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    pixels.data.resize(size_t(width) * size_t(height));
    if (GetDIBits(dc, bitmap, 0, UINT(height), pixels.data.data(), &info, DIB_RGB_COLORS) == height) {
        pixels.width = width;
        pixels.height = height;
    }
    return pixels;
}

Pixels ResourcePixels(int bitmap_id) {
    HBITMAP bitmap = HBITMAP(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(bitmap_id), IMAGE_BITMAP, 0, 0,
                                        LR_CREATEDIBSECTION));
    if (!bitmap) return {};
    BITMAP info{};
    GetObjectW(bitmap, sizeof(info), &info);
    HDC screen = GetDC(nullptr);
    Pixels pixels = ReadPixels(screen, bitmap, info.bmWidth, info.bmHeight);
    ReleaseDC(nullptr, screen);
    DeleteObject(bitmap);
    return pixels;
}

// What the X server shows in a screen rectangle.
Pixels ScreenPixels(const RECT& rect) {
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    SelectObject(memory, previous);
    Pixels pixels = ReadPixels(memory, bitmap, width, height);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

bool Near(uint32_t a, uint32_t b) {
    for (int shift = 0; shift < 24; shift += 8)
        if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > 16) return false;
    return true;
}

// The share of the frame's opaque pixels that the screen shows.
double FrameMatch(const Pixels& strip, int frame, const Pixels& shown) {
    int compared = 0, equal = 0;
    for (int y = 0; y < kFaceHeight; ++y)
        for (int x = 0; x < kFaceWidth; ++x) {
            const uint32_t skin = strip.At(frame * kFaceWidth + x, y);
            if (skin == 0xFF00FF) continue;  // transparent: the background shows there
            ++compared;
            equal += Near(skin, shown.At(x, y));
        }
    return compared ? double(equal) / compared : 0;
}

}  // namespace

std::wstring ReleasesDir() { return WindowsPathFromEnv("VELM_BINARY_DIR") + L"\\update_www\\releases"; }
std::wstring ServedDir() { return WindowsPathFromEnv("VELM_BINARY_DIR") + L"\\update_www\\main_window"; }

const wchar_t kSampleServerList[] =
    L"operator notes before the block\r\n"
    L"SERVER_BEGIN\r\n"
    L"电信一区,龙门客栈,,101,1,0,0,,,tel-a,cnc-a,edu-a,,1.0.3,127.0.0.1\r\n"
    L"网通二区,长河落日,,201,3,0,0,,,tel-b,cnc-b,edu-b,,1.0.3,127.0.0.1\r\n"
    L"电信一区,风雪关,,102,2,1,0,,,tel-c,cnc-c,edu-c,,1.0.3,127.0.0.1\r\n"
    L"测试区,隐藏服,,301,10,0,0,,,,,,,1.0.3,127.0.0.1\r\n"
    L"比武大区,擂台,,401,0,0,1,,,,,,,1.0.3,127.0.0.1\r\n"
    L"SERVER_END\r\n";

bool WriteServedServerList(const std::wstring& text) {
    CreateDirectoryW(ServedDir().c_str(), nullptr);
    const int size = WideCharToMultiByte(936, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(size_t(size), '\0');
    WideCharToMultiByte(936, 0, text.data(), int(text.size()), bytes.data(), size, nullptr, nullptr);
    return WriteWholeFile(ServedDir() + L"\\loginserver.txt", bytes.data(), bytes.size());
}

LoopbackServers ServersFromEnv() {
    return {EnvText("VELM_NGINX_URL"), EnvText("VELM_FAULT_URL"), EnvText("VELM_RECORD_URL")};
}

std::wstring CreateAccountUrl(const LoopbackServers& servers) { return servers.record + L"/reg/register.jsp?game=qv"; }

std::map<int, std::wstring> LoopbackTexts(const LoopbackServers& servers, const std::wstring& file_list_url,
                                          const std::wstring& registry_key) {
    return {
        {kConfigFileListUrl, file_list_url},
        {kConfigServerListUrl, servers.nginx + L"/main_window/loginserver.txt"},
        {kConfigReportUrl, servers.record + L"/click/cs/qv"},
        {kConfigStartupClickUrl, servers.record + L"/launch.html"},
        {kConfigInstallReportUrl, servers.record + L"/reg_vantor/register.jsp"},
        {kConfigInstallRegistryKey, registry_key},
        {kConfigCreateAccountUrl, CreateAccountUrl(servers)},
        {kConfigRegistrationPageUrl, CreateAccountUrl(servers)},
        {kConfigHomePageUrl, servers.record + L"/index.shtml"},
        {kConfigPatchPageUrl, servers.record + L"/download/index.shtml"},
        {kConfigNewsPageUrl, L""},
    };
}

std::unique_ptr<LauncherInstall> InstallClientV1(const std::map<int, std::wstring>& texts,
                                                 const std::wstring& game) {
    auto install = std::make_unique<LauncherInstall>(texts);
    if (!install->ok()) return install;
    CopyTree(ReleasesDir() + L"\\client-v1", install->Folder());
    if (!game.empty()) {
        CreateDirectoryW(install->Path(L"Binaries").c_str(), nullptr);
        CreateDirectoryW(install->Path(L"Binaries\\Win32").c_str(), nullptr);
        CopyFileW(game.c_str(), install->Path(L"Binaries\\Win32\\Velm.exe").c_str(), FALSE);
    }
    return install;
}

std::wstring LauncherArguments(const std::wstring& served_root) {
    return std::wstring(L"-NOSELFUPDATE -URLROOT_ORIGINAL \"") + kPublishedBase + L"\" -URLROOT_REPLACEMENT \"" +
           served_root + L"\"";
}

bool WaitFor(const std::function<bool()>& done, DWORD timeout_ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (done()) return true;
        if (GetTickCount() - start >= timeout_ms) return false;
        Sleep(50);
    }
}

LRESULT Ask(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wparam, lparam, SMTO_ABORTIFHUNG, 5000, &result)) return -1;
    return LRESULT(result);
}

std::wstring TextOf(HWND window) {
    wchar_t text[2048] = {};
    Ask(window, WM_GETTEXT, 2048, LPARAM(text));
    return text;
}

std::wstring ControlText(HWND dialog, int id) { return TextOf(GetDlgItem(dialog, id)); }

void Click(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), LPARAM(GetDlgItem(dialog, id)));
}

std::vector<std::wstring> RealmNames(HWND dialog) {
    HWND realms = GetDlgItem(dialog, kMainRealmList);
    std::vector<std::wstring> names;
    const LRESULT count = Ask(realms, CB_GETCOUNT);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t name[256] = {};
        if (Ask(realms, CB_GETLBTEXTLEN, WPARAM(i)) < 255) Ask(realms, CB_GETLBTEXT, WPARAM(i), LPARAM(name));
        names.push_back(name);
    }
    return names;
}

void ChooseRealm(HWND dialog, int index) {
    HWND realms = GetDlgItem(dialog, kMainRealmList);
    Ask(realms, CB_SETCURSEL, WPARAM(index));
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(kMainRealmList, CBN_SELCHANGE), LPARAM(realms));
}

void ChooseServer(HWND dialog, int index) {
    HWND servers = GetDlgItem(dialog, kMainServerList);
    Ask(servers, LB_SETCURSEL, WPARAM(index));
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(kMainServerList, LBN_SELCHANGE), LPARAM(servers));
}

int ShownHintCount(HWND dialog) {
    struct Count {
        HWND owner;
        int shown;
    } count{dialog, 0};
    EnumWindows(
        [](HWND window, LPARAM lparam) -> BOOL {
            auto* c = reinterpret_cast<Count*>(lparam);
            wchar_t name[32] = {};
            GetClassNameW(window, name, 32);
            if (GetWindow(window, GW_OWNER) == c->owner && IsWindowVisible(window) &&
                std::wstring(name) == L"VelmTipWindow")
                ++c->shown;
            return TRUE;
        },
        LPARAM(&count));
    return count.shown;
}

int ShownFace(HWND dialog) {
    static const int kFaces[] = {kBitmapMainUpdate, kBitmapMainCancel, kBitmapMainPlay};
    static std::vector<Pixels> strips;
    if (strips.empty())
        for (int face : kFaces) strips.push_back(ResourcePixels(face));
    RECT rect{};
    GetWindowRect(GetDlgItem(dialog, kMainButton), &rect);
    if (rect.right - rect.left != kFaceWidth || rect.bottom - rect.top != kFaceHeight) return 0;
    const Pixels shown = ScreenPixels(rect);
    if (shown.width != kFaceWidth) return 0;
    int best_face = 0;
    double best = 0.9;  // a face must match almost everywhere to count
    for (size_t f = 0; f < strips.size(); ++f) {
        if (strips[f].width != kFaceWidth * kFaceFrames || strips[f].height != kFaceHeight) continue;
        for (int frame = 0; frame < kFaceFrames; ++frame) {
            const double match = FrameMatch(strips[f], frame, shown);
            if (match > best) {
                best = match;
                best_face = kFaces[f];
            }
        }
    }
    return best_face;
}

}  // namespace velm::test
