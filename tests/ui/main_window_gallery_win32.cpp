// Puts the real launcher's main window on screen in one state for scripts/screenshots.sh:
//
//   velm_main_window_gallery.exe updating|updated|failed READYFILE
//
// updating: a run from release v1 still downloading (the fault server slows it down);
// updated: the run done, the servers listed, a realm and a server chosen; failed: a run
// whose file list is missing, with its error list over the window. It runs under
// tests/servers/serve.py --nginx --fault (both over the build tree's update_www, which
// holds the release fixture) --record, with VELM_BINARY_DIR naming the build tree. When
// the state is reached it writes "x y width height" (the main window's screen rectangle)
// to READYFILE and waits until the script has taken its picture and deleted the file.
#include <windows.h>

#include <cstdio>
#include <string>

#include "app/launcher_harness_win32.h"
#include "common/file_io.h"
#include "common/text.h"
#include "ui/main_window_driver_win32.h"
#include "ui/ui_ids.h"

namespace velm::test {
namespace {

constexpr const wchar_t* kDialogClass = L"#32770";
constexpr const wchar_t* kRegistryKey = L"SOFTWARE\\VelmLauncherGallery";
// Below the script's own wait, so that a state never reached ends this program first.
constexpr DWORD kStateWaitMs = 45000;

bool Announce(HWND window, const std::wstring& ready_file) {
    Sleep(1500);  // a progress refresh and a few hint blinks
    RECT rect{};
    GetWindowRect(window, &rect);
    char line[64];
    snprintf(line, sizeof line, "%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left,
             rect.bottom - rect.top);
    if (!WriteWholeFile(ready_file, line, strlen(line))) return false;
    return WaitFor([&] { return !FileExists(ready_file); }, 60000);
}

int Show(const std::wstring& state, const std::wstring& ready_file) {
    const LoopbackServers servers = ServersFromEnv();
    if (!servers.ok() || !WriteServedServerList(kSampleServerList)) {
        fprintf(stderr, "run through tests/servers/serve.py --nginx --fault --record\n");
        return 1;
    }
    const bool failing = state == L"failed";
    const std::wstring list = servers.nginx + (failing ? L"/releases/no-such-root" : L"/releases/patch") + L"/filelist.xml";
    auto install = InstallClientV1(LoopbackTexts(servers, list, kRegistryKey), L"");
    if (!install->ok()) {
        fprintf(stderr, "%s\n", WideToUtf8(install->error()).c_str());
        return 1;
    }
    const std::wstring root =
        state == L"updating" ? servers.fault + L"/~rate=4000/releases/patch" : servers.nginx + L"/releases/patch";
    SetCursorPos(0, 0);
    LauncherProcess launcher;
    if (!launcher.Start(*install, LauncherArguments(root))) return 1;
    HWND window = launcher.WaitForWindow(kDialogClass, 30000);
    if (!window) return 1;

    bool reached = false;
    HWND errors = nullptr;
    if (state == L"updating") {
        reached = WaitFor(
            [&] {
                return ControlText(window, kMainFileText).find(L"正在下载") != std::wstring::npos &&
                       ControlText(window, kMainOverallText).find(L"共：0.00KB") == std::wstring::npos &&
                       !RealmNames(window).empty();
            },
            kStateWaitMs);
    } else if (state == L"updated") {
        reached = WaitFor([&] { return ShownFace(window) == kBitmapMainPlay && !RealmNames(window).empty(); },
                          kStateWaitMs);
        if (reached) {
            ChooseRealm(window, 0);
            WaitFor([&] { return Ask(GetDlgItem(window, kMainServerList), LB_GETCOUNT) > 0; }, 5000);
            ChooseServer(window, 0);
            reached = WaitFor([&] { return !ControlText(window, kMainSelection).empty(); }, 5000);
        }
    } else if (failing) {
        errors = launcher.WaitForWindow(kDialogClass, kStateWaitMs, window);
        reached = errors != nullptr;
    }
    const bool shot = reached && Announce(window, ready_file);
    if (errors) PostMessageW(errors, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    DeleteRegistryKey(kRegistryKey);
    return shot ? 0 : 1;  // the launcher is closed as it goes out of scope
}

}  // namespace
}  // namespace velm::test

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: velm_main_window_gallery updating|updated|failed READYFILE\n");
        return 2;
    }
    return velm::test::Show(argv[1], argv[2]);
}
