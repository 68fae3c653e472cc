// The real VelmLauncher.exe's main window under Wine, through whole update runs: an
// installation of release v1 of the three-release fixture updated from the patch root
// (nginx, or the fault server slowed down so that the run can be watched), the server
// list from nginx, reports to the recording server, and a stand-in game client. The test
// drives the window as a player would and reads what the screen shows.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <regex>
#include <set>

#include "app/config_ids.h"
#include "app/launcher_harness_win32.h"
#include "common/file_io.h"
#include "common/text.h"
#include "ui/ui_ids.h"

namespace velm::test {
namespace {

constexpr const wchar_t* kDialogClass = L"#32770";
// The address the fixture's releases were published for; runs rewrite it to a server.
constexpr const wchar_t* kPublishedBase = L"http://127.0.0.1:1/releases/patch";
constexpr int kFaceWidth = 135, kFaceHeight = 69, kFaceFrames = 4;

std::wstring ReleasesDir() { return WindowsPathFromEnv("VELM_BINARY_DIR") + L"\\update_www\\releases"; }
// Beside the releases, under the roots that both servers serve.
std::wstring ServedDir() { return WindowsPathFromEnv("VELM_BINARY_DIR") + L"\\update_www\\main_window"; }

std::wstring WindowsPath(std::wstring unix_path) {
    for (wchar_t& c : unix_path)
        if (c == L'/') c = L'\\';
    return L"Z:" + unix_path;
}

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

void ListInto(const std::wstring& root, const std::wstring& relative, std::set<std::wstring>& out) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((root + relative + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ListInto(root, relative + L"\\" + name, out);
        else out.insert(relative + L"\\" + name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

std::set<std::wstring> FilesUnder(const std::wstring& root) {
    std::set<std::wstring> files;
    ListInto(root, L"", files);
    return files;
}

std::vector<uint8_t> FileBytes(const std::wstring& path) {
    std::vector<uint8_t> bytes;
    ReadWholeFile(path, bytes, uint64_t(64) << 20);
    return bytes;
}

bool WaitFor(const std::function<bool()>& done, DWORD timeout_ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (done()) return true;
        if (GetTickCount() - start >= timeout_ms) return false;
        Sleep(50);
    }
}

// Messages to the launcher's controls cross the process boundary; a hung launcher must
// not hang the test.
LRESULT Ask(HWND window, UINT message, WPARAM wparam = 0, LPARAM lparam = 0) {
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

// Posted as the control itself would: the handlers may open modal windows.
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

// A face strip of the main button from the resources this test shares with the launcher.
Pixels FaceStrip(int bitmap_id) {
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
Pixels Screen(const RECT& rect) {
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

// The face strip (228 update, 226 cancel, 227 start) whose frame the main button shows
// on screen in any of its four states, or 0 when none matches.
int ShownFace(HWND dialog) {
    static const int kFaces[] = {kBitmapMainUpdate, kBitmapMainCancel, kBitmapMainPlay};
    static std::vector<Pixels> strips;
    if (strips.empty())
        for (int face : kFaces) strips.push_back(FaceStrip(face));
    RECT rect{};
    GetWindowRect(GetDlgItem(dialog, kMainButton), &rect);
    if (rect.right - rect.left != kFaceWidth || rect.bottom - rect.top != kFaceHeight) return 0;
    const Pixels shown = Screen(rect);
    if (shown.width != kFaceWidth) return 0;
    int best_face = 0;
    double best = 0.9;  // a face must match almost everywhere to count
    for (size_t f = 0; f < strips.size(); ++f) {
        if (strips[f].width != kFaceWidth * kFaceFrames) continue;
        for (int frame = 0; frame < kFaceFrames; ++frame) {
            int compared = 0, equal = 0;
            for (int y = 0; y < kFaceHeight; ++y)
                for (int x = 0; x < kFaceWidth; ++x) {
                    const uint32_t skin = strips[f].At(frame * kFaceWidth + x, y);
                    if (skin == 0xFF00FF) continue;  // transparent: the background shows
                    ++compared;
                    equal += Near(skin, shown.At(x, y));
                }
            const double score = compared ? double(equal) / compared : 0;
            if (score > best) {
                best = score;
                best_face = kFaces[f];
            }
        }
    }
    return best_face;
}

// The server list as the operator publishes it: realms first named in the order 电信一区,
// 网通二区, 比武大区 (not their sorted order), a hidden server whose realm must not show,
// and in 电信一区 a badged server listed second that must come first.
const wchar_t kServerList[] =
    L"operator notes before the block\r\n"
    L"SERVER_BEGIN\r\n"
    L"电信一区,龙门客栈,,101,1,0,0,,,tel-a,cnc-a,edu-a,,1.0.3,127.0.0.1\r\n"
    L"网通二区,长河落日,,201,3,0,0,,,tel-b,cnc-b,edu-b,,1.0.3,127.0.0.1\r\n"
    L"电信一区,风雪关,,102,2,1,0,,,tel-c,cnc-c,edu-c,,1.0.3,127.0.0.1\r\n"
    L"测试区,隐藏服,,301,10,0,0,,,,,,,1.0.3,127.0.0.1\r\n"
    L"比武大区,擂台,,401,0,0,1,,,,,,,1.0.3,127.0.0.1\r\n"
    L"SERVER_END\r\n";

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        nginx_ = EnvText("VELM_NGINX_URL");
        fault_ = EnvText("VELM_FAULT_URL");
        record_ = EnvText("VELM_RECORD_URL");
        ASSERT_FALSE(nginx_.empty() || fault_.empty() || record_.empty())
            << "run through tests/servers/serve.py --nginx --fault --record";
        ASSERT_TRUE(FileExists(ReleasesDir() + L"\\client-v1\\VelmGame\\Data\\world.pak"))
            << "the release fixture (tests/tools/make_releases.py) is missing";
        CreateDirectoryW(ServedDir().c_str(), nullptr);
        std::string list = WideToCodePage(kServerList, 936);
        ASSERT_TRUE(WriteWholeFile(ServedDir() + L"\\loginserver.txt", list.data(), list.size()));
        registry_key_ = FormatText(L"SOFTWARE\\VelmLauncherTest\\main-%lu", GetCurrentProcessId());
        baseline_ = RecordedRequests().size();
        SetCursorPos(0, 0);  // away from the buttons, whose hover frames would also do
    }
    void TearDown() override { DeleteRegistryKey(registry_key_); }

    static std::string WideToCodePage(const std::wstring& text, UINT code_page) {
        const int size = WideCharToMultiByte(code_page, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
        std::string out(size_t(size), '\0');
        WideCharToMultiByte(code_page, 0, text.data(), int(text.size()), out.data(), size, nullptr, nullptr);
        return out;
    }

    std::wstring PatchList() const { return nginx_ + L"/releases/patch/filelist.xml"; }
    std::wstring CreateAccountUrl() const { return record_ + L"/reg/register.jsp?game=qv"; }

    // An installation of client v1 with a retargeted launcher and the stand-in game.
    std::unique_ptr<LauncherInstall> Install(const std::wstring& file_list_url) {
        auto install = std::make_unique<LauncherInstall>(std::map<int, std::wstring>{
            {kConfigFileListUrl, file_list_url},
            {kConfigServerListUrl, nginx_ + L"/main_window/loginserver.txt"},
            {kConfigReportUrl, record_ + L"/click/cs/qv"},
            {kConfigStartupClickUrl, record_ + L"/launch.html"},
            {kConfigInstallReportUrl, record_ + L"/reg_vantor/register.jsp"},
            {kConfigInstallRegistryKey, registry_key_},
            {kConfigCreateAccountUrl, CreateAccountUrl()},
            {kConfigRegistrationPageUrl, record_ + L"/reg/register.jsp?game=qv"},
            {kConfigHomePageUrl, record_ + L"/index.shtml"},
            {kConfigPatchPageUrl, record_ + L"/download/index.shtml"},
            {kConfigNewsPageUrl, L""},
        });
        EXPECT_TRUE(install->ok()) << WideToUtf8(install->error());
        CopyTree(ReleasesDir() + L"\\client-v1", install->Folder());
        CreateDirectoryW(install->Path(L"Binaries").c_str(), nullptr);
        CreateDirectoryW(install->Path(L"Binaries\\Win32").c_str(), nullptr);
        EXPECT_TRUE(CopyFileW(WindowsPath(Utf8ToWide(VELM_STAND_IN_GAME)).c_str(),
                              install->Path(L"Binaries\\Win32\\Velm.exe").c_str(), FALSE));
        return install;
    }

    // Self-update off (the fixture publishes a placeholder launcher); the published roots
    // point at served_root.
    static std::wstring Arguments(const std::wstring& served_root) {
        return std::wstring(L"-NOSELFUPDATE -URLROOT_ORIGINAL \"") + kPublishedBase + L"\" -URLROOT_REPLACEMENT \"" +
               served_root + L"\"";
    }

    HWND StartMainWindow(LauncherProcess& launcher, const LauncherInstall& install, const std::wstring& arguments) {
        if (!launcher.Start(install, arguments)) return nullptr;
        return launcher.WaitForWindow(kDialogClass, 30000);
    }

    // The statistics events (f1 of the report bodies) since the test began, in order.
    std::vector<std::string> Events() const {
        std::vector<std::string> events;
        const auto all = RecordedRequests();
        for (size_t i = baseline_; i < all.size(); ++i) {
            if (all[i].path != "/click/cs/qv") continue;
            const size_t at = all[i].body.find("&f1=");
            if (at == std::string::npos) continue;
            const size_t end = all[i].body.find('&', at + 4);
            events.push_back(all[i].body.substr(at + 4, end == std::string::npos ? std::string::npos : end - at - 4));
        }
        return events;
    }
    bool WaitForEvent(const std::string& name, DWORD timeout_ms) const {
        return WaitFor(
            [&] {
                for (const std::string& event : Events())
                    if (event == name) return true;
                return false;
            },
            timeout_ms);
    }

    // Closes with the close button and expects a clean exit that reported close_event.
    void CloseWithButton(LauncherProcess& launcher, HWND window, const std::string& close_event) {
        Click(window, kMainClose);
        DWORD code = 99;
        ASSERT_TRUE(launcher.WaitForExit(30000, code));
        EXPECT_EQ(code, 0u);
        EXPECT_TRUE(WaitForEvent(close_event, 5000)) << close_event;
    }

    std::wstring nginx_, fault_, record_;
    std::wstring registry_key_;
    size_t baseline_ = 0;
};

// "剩余：%s，共：%s | 下载速率：%s/s | 剩余时间：%s" with sizes and a time filled in.
const std::wregex kOverallText(
    L"剩余：(-?[0-9]+\\.[0-9]{2}[KMG]B)，共：([0-9]+\\.[0-9]{2}[KMG]B) \\| "
    L"下载速率：([0-9]+\\.[0-9]{2}[KMG]B)/s \\| 剩余时间：([0-9]{2,}:[0-9]{2}:[0-9]{2})");

TEST_F(MainWindow, UpdateRunShowsItsProgressThenOffersTheGameOverAClientThatIsV3) {
    auto install = Install(PatchList());
    LauncherProcess launcher;
    // About 200 KB to fetch at 20 KB/s a connection: several refreshes of the progress.
    HWND window = StartMainWindow(launcher, *install, Arguments(fault_ + L"/~rate=20000/releases/patch"));
    ASSERT_NE(window, nullptr);

    std::set<int> faces;
    std::vector<std::wstring> overall_texts;
    const bool played = WaitFor(
        [&] {
            const int face = ShownFace(window);
            faces.insert(face);
            const std::wstring text = ControlText(window, kMainOverallText);
            if (overall_texts.empty() || overall_texts.back() != text) overall_texts.push_back(text);
            return face == kBitmapMainPlay;
        },
        180000);
    ASSERT_TRUE(played) << "faces seen: " << faces.size();
    EXPECT_EQ(faces.count(kBitmapMainCancel), 1u) << "the run never showed the cancel face";
    EXPECT_EQ(faces.count(kBitmapMainUpdate), 0u) << "the update face showed during a successful run";
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(window, kMainButton)));
    EXPECT_EQ(ControlText(window, kMainStatusLine), L"客户端更新完毕，点击“开始游戏”按钮进入游戏。");

    // Some refresh during the downloads showed real figures: a total, part of it still
    // to come, and a rate.
    bool midway = false;
    std::wstring seen;
    for (const std::wstring& text : overall_texts) {
        seen += text + L"\n";
        std::wsmatch parts;
        if (!std::regex_match(text, parts, kOverallText)) continue;
        midway = midway || (parts[2] != L"0.00KB" && parts[1] != L"0.00KB" && parts[3] != L"0.00KB");
    }
    EXPECT_TRUE(midway) << WideToUtf8(seen);

    // The installation is release v3 byte for byte.
    const std::wstring expected = ReleasesDir() + L"\\client-v3\\VelmGame";
    const std::wstring actual = install->Path(L"VelmGame");
    const std::set<std::wstring> files = FilesUnder(expected);
    ASSERT_EQ(FilesUnder(actual), files);
    for (const std::wstring& name : files)
        EXPECT_TRUE(FileBytes(actual + name) == FileBytes(expected + name)) << WideToUtf8(name);

    EXPECT_TRUE(WaitForEvent("update_succeeded", 5000));
    CloseWithButton(launcher, window, "user_close_while_update_succeed");
}

TEST_F(MainWindow, RealmsComeInTheListsOrderAndTheChoiceStartsTheGameAfterARestart) {
    auto install = Install(PatchList());
    {
        LauncherProcess launcher;
        HWND window = StartMainWindow(launcher, *install, Arguments(nginx_ + L"/releases/patch"));
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(WaitFor([&] { return !RealmNames(window).empty(); }, 30000));
        EXPECT_EQ(RealmNames(window), (std::vector<std::wstring>{L"电信一区", L"网通二区", L"比武大区"}));
        EXPECT_TRUE(WaitForEvent("server_list_downloaded", 5000));

        // The badged server of 电信一区 comes first although the list names it second.
        ChooseRealm(window, 0);
        ASSERT_TRUE(WaitFor([&] { return Ask(GetDlgItem(window, kMainServerList), LB_GETCOUNT) == 2; }, 5000));
        ChooseServer(window, 0);
        ASSERT_TRUE(WaitFor([&] { return ControlText(window, kMainSelection) == L"风雪关"; }, 5000))
            << WideToUtf8(ControlText(window, kMainSelection));
        EXPECT_EQ(ControlText(window, kMainOnlineVersion), L"线上版本1.0.3");

        ChooseRealm(window, 1);
        ASSERT_TRUE(WaitFor([&] { return Ask(GetDlgItem(window, kMainServerList), LB_GETCOUNT) == 1; }, 5000));
        ChooseServer(window, 0);
        ASSERT_TRUE(WaitFor([&] { return ControlText(window, kMainSelection) == L"长河落日"; }, 5000));
        ASSERT_TRUE(WaitFor([&] { return ShownFace(window) == kBitmapMainPlay; }, 60000));
        PostMessageW(window, WM_CLOSE, 0, 0);
        DWORD code = 99;
        ASSERT_TRUE(launcher.WaitForExit(30000, code));
        EXPECT_EQ(code, 0u);
    }

    // The next start reselects realm and server by name once the list is in.
    LauncherProcess launcher;
    HWND window = StartMainWindow(launcher, *install, Arguments(nginx_ + L"/releases/patch"));
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitFor([&] { return ControlText(window, kMainSelection) == L"长河落日"; }, 30000))
        << WideToUtf8(ControlText(window, kMainSelection));
    EXPECT_EQ(Ask(GetDlgItem(window, kMainRealmList), CB_GETCURSEL), 1);
    EXPECT_EQ(Ask(GetDlgItem(window, kMainServerList), LB_GETCURSEL), 0);
    ASSERT_TRUE(WaitFor([&] { return ShownFace(window) == kBitmapMainPlay; }, 60000));

    // Start: the stand-in game gets the chosen server's command line and the launcher ends.
    Click(window, kMainButton);
    const std::wstring out = install->Path(L"stand_in_game.out");
    ASSERT_TRUE(WaitFor([&] { return FileExists(out); }, 30000));
    DWORD code = 99;
    ASSERT_TRUE(launcher.WaitForExit(30000, code));
    EXPECT_EQ(code, 0u);
    const std::vector<uint8_t> bytes = FileBytes(out);
    const std::wstring recorded = Utf16LeToWide(bytes.data(), bytes.size());
    const std::wstring expected_command =
        L"-SEEKFREELOADING -EnableReadEncrypted -EnableReadEncryptedXML  -BinaryXML -TELProxy=\"tel-b\" "
        L"-CNCProxy=\"cnc-b\" -EDUProxy=\"edu-b\" -TServerName=\"长河落日\" -TSERVERID=\"201\" "
        L"-PASSPORTSVRIP=\"127.0.0.1\" -CreateAccountURL=\"" +
        CreateAccountUrl() + L"\"";
    EXPECT_EQ(recorded, expected_command + L"\n" + install->Folder()) << WideToUtf8(recorded);
    EXPECT_TRUE(WaitForEvent("start_game", 5000));
}

struct FailedRunCase {
    const char* what;
    const wchar_t* file_list;  // below the server's address
    bool fault_server;
};

TEST_F(MainWindow, FailedRunShowsTheErrorListWithTheServerAddressAndOffersAnotherRun) {
    const FailedRunCase cases[] = {
        {"file list missing", L"/releases/no-such-root/filelist.xml", false},
        {"server error", L"/~status=500/releases/patch/filelist.xml", true},
    };
    for (const FailedRunCase& c : cases) {
        SCOPED_TRACE(c.what);
        baseline_ = RecordedRequests().size();
        auto install = Install((c.fault_server ? fault_ : nginx_) + c.file_list);
        LauncherProcess launcher;
        HWND window = StartMainWindow(launcher, *install, Arguments(nginx_ + L"/releases/patch"));
        ASSERT_NE(window, nullptr);
        HWND errors = launcher.WaitForWindow(kDialogClass, 60000, window);
        ASSERT_NE(errors, nullptr);
        const std::wstring report = ControlText(errors, kErrorReportText);
        EXPECT_EQ(report.rfind(L"更新时发生下列错误", 0), 0u) << WideToUtf8(report);
        EXPECT_NE(report.find(L"FileList corrupted"), std::wstring::npos) << WideToUtf8(report);
        EXPECT_NE(report.find(L"Server IP: 127.0.0.1"), std::wstring::npos) << WideToUtf8(report);
        EXPECT_EQ(TextOf(errors).rfind(L"更新失败。", 0), 0u);
        EXPECT_EQ(ControlText(window, kMainStatusLine), L"更新失败。");
        EXPECT_TRUE(WaitForEvent("update_failed", 5000));

        PostMessageW(errors, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        ASSERT_TRUE(WaitFor([&] { return !IsWindow(errors); }, 10000));
        EXPECT_TRUE(WaitFor([&] { return ShownFace(window) == kBitmapMainUpdate; }, 10000));
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(window, kMainButton)));
        CloseWithButton(launcher, window, "user_close_while_update_fail");
    }
}

TEST_F(MainWindow, SecondClickCancelsTheRunAndClosingDuringARunReportsIt) {
    auto install = Install(PatchList());
    LauncherProcess launcher;
    // Slow enough that the run is still downloading when the test acts.
    HWND window = StartMainWindow(launcher, *install, Arguments(fault_ + L"/~rate=3000/releases/patch"));
    ASSERT_NE(window, nullptr);
    auto downloading = [&] { return ControlText(window, kMainFileText).find(L"正在下载") != std::wstring::npos; };
    ASSERT_TRUE(WaitFor(downloading, 60000));
    ASSERT_EQ(ShownFace(window), kBitmapMainCancel);

    // The second click (the first was the window's own at start) ends the run.
    Click(window, kMainButton);
    // The ended run reports its failure like any other: an error list or a message box.
    HWND report = launcher.WaitForWindow(kDialogClass, 30000, window);
    ASSERT_NE(report, nullptr);
    PostMessageW(report, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(report); }, 10000));
    EXPECT_TRUE(WaitFor([&] { return ShownFace(window) == kBitmapMainUpdate; }, 10000));

    // A new run, closed while it downloads.
    Click(window, kMainButton);
    EXPECT_TRUE(WaitFor([&] { return ShownFace(window) == kBitmapMainCancel; }, 10000));
    ASSERT_TRUE(WaitFor(downloading, 60000));
    CloseWithButton(launcher, window, "user_close_while_updating");
}

}  // namespace
}  // namespace velm::test
