#pragma once
// Drives the real launcher's main window from another process, as the main window tests
// and the screenshot program do: an installation of release v1 of the update fixture
// with a launcher pointed at loopback servers (tests/servers/serve.py: nginx and the
// fault server over the build tree's update_www, the recording server), the controls
// read and clicked through messages, and the main button's face read off the screen.
#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/launcher_harness_win32.h"

namespace velm::test {

// The three releases of tests/tools/make_releases.py, and a folder beside them that both
// servers serve (the server list lives there).
std::wstring ReleasesDir();
std::wstring ServedDir();

// A server list in code page 936: realms first named in the order 电信一区, 网通二区,
// 比武大区 (not their sorted order), a hidden server whose realm must not show, and in
// 电信一区 a badged server (风雪关) listed second that ranks first.
extern const wchar_t kSampleServerList[];
bool WriteServedServerList(const std::wstring& text);

struct LoopbackServers {
    std::wstring nginx, fault, record;
    bool ok() const { return !nginx.empty() && !fault.empty() && !record.empty(); }
};
LoopbackServers ServersFromEnv();

// Every endpoint of the launcher on loopback: the file list at file_list_url, the server
// list from ServedDir() through nginx, reports and web pages at the recording server.
std::map<int, std::wstring> LoopbackTexts(const LoopbackServers& servers, const std::wstring& file_list_url,
                                          const std::wstring& registry_key);
std::wstring CreateAccountUrl(const LoopbackServers& servers);

// A fresh installation of client v1 with the retargeted launcher and, when game is not
// empty, that program as the game client (".\\Binaries\\Win32\\Velm.exe").
std::unique_ptr<LauncherInstall> InstallClientV1(const std::map<int, std::wstring>& texts,
                                                 const std::wstring& game);

// Launcher switches: self-update off (the fixture publishes a placeholder launcher) and
// the published roots pointed at served_root (a server's "/releases/patch", or the fault
// server's "/~rate=N/releases/patch" for a run slow enough to watch).
std::wstring LauncherArguments(const std::wstring& served_root);

bool WaitFor(const std::function<bool()>& done, DWORD timeout_ms);

// Messages across the process boundary, with a time-out so that a hung launcher cannot
// hang its driver.
LRESULT Ask(HWND window, UINT message, WPARAM wparam = 0, LPARAM lparam = 0);
std::wstring TextOf(HWND window);
std::wstring ControlText(HWND dialog, int id);
// Posted as the control would: the handlers may open modal windows.
void Click(HWND dialog, int id);
std::vector<std::wstring> RealmNames(HWND dialog);
void ChooseRealm(HWND dialog, int index);
void ChooseServer(HWND dialog, int index);

// How many of the main window's blinking hints are on screen now.
int ShownHintCount(HWND dialog);

// The main button's face strip (kBitmapMainUpdate, kBitmapMainCancel or kBitmapMainPlay)
// whose frame the screen shows in any of its four states, or 0 when none matches. The
// strips come from the driver's own resources (it links the launcher's skin).
int ShownFace(HWND dialog);

}  // namespace velm::test
