// The player of the unattended demo (scripts/demo.py): waits for the running launcher's
// main window, watches the update run, chooses the first realm and its first server once
// the start button shows, starts the game and waits for the demo game's window. At each
// step worth a picture it writes STEPDIR\<step> holding the window's screen rectangle
// ("x y width height") and waits until the demo has taken the picture and removed the
// file. Exit code 0 when every step happened.
//
//   velm_demo_player.exe STEPDIR
#include <windows.h>

#include <cstdio>
#include <string>

#include "common/file_io.h"
#include "common/text.h"
#include "ui/main_window_driver_win32.h"
#include "ui/ui_ids.h"

namespace velm::test {
namespace {

constexpr DWORD kUpdateLimitMs = 300000;
constexpr DWORD kShotLimitMs = 20000;

HWND FindMainWindow() {
    HWND found = nullptr;
    EnumWindows(
        [](HWND window, LPARAM out) -> BOOL {
            wchar_t name[16] = {};
            GetClassNameW(window, name, 16);
            if (std::wstring(name) != L"#32770" || !GetDlgItem(window, kMainServerList)) return TRUE;
            *reinterpret_cast<HWND*>(out) = window;
            return FALSE;
        },
        LPARAM(&found));
    return found;
}

// Announces a step and waits for its picture.
bool Step(const std::wstring& folder, const wchar_t* name, HWND window) {
    RECT rect{};
    if (!GetWindowRect(window, &rect)) return false;
    std::string text = WideToUtf8(FormatText(L"%ld %ld %ld %ld", rect.left, rect.top,
                                             rect.right - rect.left, rect.bottom - rect.top));
    const std::wstring path = folder + L"\\" + name;
    // Written whole under another name, so the demo never reads half a rectangle.
    if (!WriteWholeFile(path + L".tmp", text.data(), text.size()) ||
        !MoveFileExW((path + L".tmp").c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING))
        return false;
    std::printf("demo player: %ls\n", name);
    std::fflush(stdout);
    return WaitFor([&] { return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES; }, kShotLimitMs);
}

bool Fail(const char* what) {
    std::printf("demo player: %s\n", what);
    return false;
}

bool Play(const std::wstring& folder) {
    HWND window = nullptr;
    if (!WaitFor([&] { return (window = FindMainWindow()) != nullptr; }, 60000))
        return Fail("the launcher's main window did not appear");

    // The update run: a picture once the progress texts carry figures.
    if (WaitFor([&] { return ShownFace(window) == kBitmapMainCancel && !ControlText(window, kMainFileText).empty(); },
                30000)) {
        Sleep(3000);
        if (!Step(folder, L"1-updating", window)) return Fail("no picture of the update run");
    }
    if (!WaitFor([&] { return ShownFace(window) == kBitmapMainPlay && !RealmNames(window).empty(); }, kUpdateLimitMs))
        return Fail("the update did not end with the start button and a server list");

    ChooseRealm(window, 0);
    if (!WaitFor([&] { return Ask(GetDlgItem(window, kMainServerList), LB_GETCOUNT) > 0; }, 10000))
        return Fail("the first realm shows no servers");
    ChooseServer(window, 0);
    if (!WaitFor([&] { return !ControlText(window, kMainSelection).empty(); }, 10000))
        return Fail("choosing a server did not show it as the selection");
    Sleep(1500);  // the row's selection frame and the badges settle
    if (!Step(folder, L"2-server-chosen", window)) return Fail("no picture of the chosen server");

    Click(window, kMainButton);
    HWND game = nullptr;
    if (!WaitFor([&] { return (game = FindWindowW(nullptr, L"Velm 演示游戏")) != nullptr; }, 30000))
        return Fail("the demo game did not start");
    Sleep(1000);
    if (!Step(folder, L"3-game-started", game)) return Fail("no picture of the demo game");
    PostMessageW(game, WM_CLOSE, 0, 0);
    return true;
}

}  // namespace
}  // namespace velm::test

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::printf("usage: velm_demo_player.exe STEPDIR\n");
        return 2;
    }
    return velm::test::Play(argv[1]) ? 0 : 1;
}
