// The real VelmLauncher.exe's main window under Wine, through whole update runs: an
// installation of release v1 of the three-release fixture updated from the patch root
// (nginx, or the fault server slowed down so that the run can be watched), the server
// list from nginx, reports to the recording server, and a stand-in game client. The test
// drives the window as a player would and reads what the screen shows.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "app/launcher_harness_win32.h"
#include "common/file_io.h"
#include "common/text.h"
#include "ui/main_window_driver_win32.h"
#include "ui/refused_thread_starts_win32.h"
#include "ui/ui_ids.h"

namespace velm::test {
namespace {

constexpr const wchar_t* kDialogClass = L"#32770";

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

std::wstring StandInGame() {
    std::wstring path = Utf8ToWide(VELM_STAND_IN_GAME);
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return L"Z:" + path;
}

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        servers_ = ServersFromEnv();
        ASSERT_TRUE(servers_.ok()) << "run through tests/servers/serve.py --nginx --fault --record";
        ASSERT_TRUE(FileExists(ReleasesDir() + L"\\client-v1\\VelmGame\\Data\\world.pak"))
            << "the release fixture (tests/tools/make_releases.py) is missing";
        ASSERT_TRUE(WriteServedServerList(kSampleServerList));
        registry_key_ = FormatText(L"SOFTWARE\\VelmLauncherTest\\main-%lu", GetCurrentProcessId());
        baseline_ = RecordedRequests().size();
        SetCursorPos(0, 0);  // away from the buttons, whose hover frames would also do
    }
    void TearDown() override { DeleteRegistryKey(registry_key_); }

    std::wstring PatchList() const { return servers_.nginx + L"/releases/patch/filelist.xml"; }

    std::unique_ptr<LauncherInstall> Install(const std::wstring& file_list_url) {
        auto install = InstallClientV1(LoopbackTexts(servers_, file_list_url, registry_key_), StandInGame());
        EXPECT_TRUE(install->ok()) << WideToUtf8(install->error());
        return install;
    }

    HWND StartMainWindow(LauncherProcess& launcher, const LauncherInstall& install, const std::wstring& served_root) {
        if (!launcher.Start(install, LauncherArguments(served_root))) return nullptr;
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

    LoopbackServers servers_;
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
    // About 110 KB to fetch at 20 KB/s a connection: several refreshes of the progress.
    HWND window = StartMainWindow(launcher, *install, servers_.fault + L"/~rate=20000/releases/patch");
    ASSERT_NE(window, nullptr);

    std::set<int> faces;
    std::vector<std::wstring> overall_texts;
    std::set<std::wstring> file_texts;
    bool bar_midway = false;
    const bool played = WaitFor(
        [&] {
            const int face = ShownFace(window);
            faces.insert(face);
            const LRESULT bar = Ask(GetDlgItem(window, kMainOverallBar), PBM_GETPOS);
            bar_midway = bar_midway || (bar > 0 && bar < 200);
            const std::wstring text = ControlText(window, kMainOverallText);
            if (overall_texts.empty() || overall_texts.back() != text) overall_texts.push_back(text);
            file_texts.insert(ControlText(window, kMainFileText));
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
    EXPECT_TRUE(bar_midway);

    // The current file goes by its name in the list, not by the path its download lands at.
    bool named = false;
    for (const std::wstring& text : file_texts) {
        SCOPED_TRACE(WideToUtf8(text));
        named = named || text.rfind(L"正在下载 \\VelmGame\\", 0) == 0 || text.rfind(L"正在解压缩：\\VelmGame\\", 0) == 0;
        EXPECT_EQ(text.find(install->Folder()), std::wstring::npos);
    }
    EXPECT_TRUE(named);

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
        HWND window = StartMainWindow(launcher, *install, servers_.nginx + L"/releases/patch");
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
    HWND window = StartMainWindow(launcher, *install, servers_.nginx + L"/releases/patch");
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
        CreateAccountUrl(servers_) + L"\"";
    EXPECT_EQ(recorded, expected_command + L"\n" + install->Folder()) << WideToUtf8(recorded);
    EXPECT_TRUE(WaitForEvent("start_game", 5000));
}

TEST_F(MainWindow, HintsOfAStartWithoutAServerGoWhenTheNextListRestoresTheRememberedOne) {
    auto install = Install(PatchList());
    // The player last played on 龙门客栈, which the list of this start lacks.
    const std::wstring ini = L"\xFEFF[Realm]\r\nLastSelected=电信一区\r\n[Server]\r\nLastSelected=龙门客栈\r\n";
    ASSERT_TRUE(WriteWholeFile(install->Path(L"VelmLauncher.ini"), ini.data(), ini.size() * sizeof(wchar_t)));
    std::wstring without = kSampleServerList;
    const size_t line = without.find(L"电信一区,龙门客栈");
    without.erase(line, without.find(L"\r\n", line) + 2 - line);
    ASSERT_TRUE(WriteServedServerList(without));

    LauncherProcess launcher;
    HWND window = StartMainWindow(launcher, *install, servers_.nginx + L"/releases/patch");
    ASSERT_NE(window, nullptr);
    HWND servers = GetDlgItem(window, kMainServerList);
    // The realm comes back, the server cannot.
    ASSERT_TRUE(WaitFor([&] { return Ask(servers, LB_GETCOUNT) == 1; }, 30000));
    EXPECT_TRUE(WaitFor([&] { return ControlText(window, kMainRealmCopy) == L"电信一区"; }, 5000));
    EXPECT_EQ(Ask(servers, LB_GETCURSEL), LB_ERR);
    ASSERT_TRUE(WaitFor([&] { return ShownFace(window) == kBitmapMainPlay; }, 60000));
    // The next fetch, 30 s after the first, brings the server back.
    ASSERT_TRUE(WriteServedServerList(kSampleServerList));

    // Starting without a server points at the server list.
    Click(window, kMainButton);
    HWND box = launcher.WaitForWindow(kDialogClass, 10000, window);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), L"请从服务器列表中选择一个服务器");
    EXPECT_EQ(ShownHintCount(window), 2);  // the arrow and the frame; the realm is chosen
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(box); }, 10000));

    ASSERT_TRUE(WaitFor([&] { return ControlText(window, kMainSelection) == L"龙门客栈"; }, 60000))
        << WideToUtf8(ControlText(window, kMainSelection));
    EXPECT_NE(Ask(servers, LB_GETCURSEL), LB_ERR);
    EXPECT_TRUE(WaitFor([&] { return ShownHintCount(window) == 0; }, 3000)) << ShownHintCount(window);
    CloseWithButton(launcher, window, "user_close_while_update_succeed");
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
        auto install = Install((c.fault_server ? servers_.fault : servers_.nginx) + c.file_list);
        LauncherProcess launcher;
        HWND window = StartMainWindow(launcher, *install, servers_.nginx + L"/releases/patch");
        ASSERT_NE(window, nullptr);
        HWND errors = launcher.WaitForWindow(kDialogClass, 60000, window);
        ASSERT_NE(errors, nullptr);
        // The address arrives from a lookup on a worker, after the dialog has opened.
        WaitFor([&] { return ControlText(errors, kErrorReportText).find(L"Server IP: 127.0.0.1") !=
                             std::wstring::npos; }, 10000);
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

TEST_F(MainWindow, ARunWhoseThreadCannotStartShowsTheFailureAndKeepsTheUpdateButton) {
    // A first run that fails at once gives the update button back.
    auto install = Install(servers_.nginx + L"/releases/no-such-root/filelist.xml");
    LauncherProcess launcher;
    HWND window = StartMainWindow(launcher, *install, servers_.nginx + L"/releases/patch");
    ASSERT_NE(window, nullptr);
    auto dismiss_error_list = [&] {
        HWND errors = launcher.WaitForWindow(kDialogClass, 60000, window);
        ASSERT_NE(errors, nullptr);
        ASSERT_NE(ControlText(errors, kErrorReportText).find(L"FileList corrupted"), std::wstring::npos);
        PostMessageW(errors, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        ASSERT_TRUE(WaitFor([&] { return !IsWindow(errors); }, 10000));
    };
    dismiss_error_list();
    ASSERT_TRUE(WaitFor([&] { return ShownFace(window) == kBitmapMainUpdate; }, 10000));

    HWND box = nullptr;
    {
        RefusedThreadStarts refused(launcher.Id(), HMODULE(GetWindowLongPtrW(window, GWLP_HINSTANCE)));
        ASSERT_TRUE(refused.ok());
        Click(window, kMainButton);
        box = launcher.WaitForWindow(kDialogClass, 10000, window);
    }
    ASSERT_NE(box, nullptr) << "the failed start was not shown";
    EXPECT_EQ(TextOf(box), L"Error");
    EXPECT_EQ(MessageBoxText(box), L"更新失败。");
    EXPECT_EQ(ShownFace(window), kBitmapMainUpdate);
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(box); }, 10000));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(window, kMainButton)));

    // The button starts a real run again: it fails as the first did.
    Click(window, kMainButton);
    dismiss_error_list();
    CloseWithButton(launcher, window, "user_close_while_update_fail");
}

TEST_F(MainWindow, SecondClickCancelsTheRunAndClosingDuringARunReportsIt) {
    auto install = Install(PatchList());
    LauncherProcess launcher;
    // Slow enough that the run is still downloading when the test acts.
    HWND window = StartMainWindow(launcher, *install, servers_.fault + L"/~rate=3000/releases/patch");
    ASSERT_NE(window, nullptr);
    auto downloading = [&] { return ControlText(window, kMainFileText).find(L"正在下载") != std::wstring::npos; };
    ASSERT_TRUE(WaitFor(downloading, 60000));
    ASSERT_EQ(ShownFace(window), kBitmapMainCancel);

    // The second click (the first was the window's own at start) ends the run.
    Click(window, kMainButton);
    // The ended run fails like any other; its downloads were aborted, not failed, so the
    // error list is empty: only the message box, and no "update_failed" report.
    HWND report = launcher.WaitForWindow(kDialogClass, 30000, window);
    ASSERT_NE(report, nullptr);
    EXPECT_EQ(TextOf(report), L"Error");
    EXPECT_EQ(MessageBoxText(report), L"更新失败。");
    PostMessageW(report, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(report); }, 10000));
    EXPECT_TRUE(WaitFor([&] { return ShownFace(window) == kBitmapMainUpdate; }, 10000));

    // A new run, closed while it downloads.
    for (const std::string& event : Events()) EXPECT_NE(event, "update_failed");
    Click(window, kMainButton);
    EXPECT_TRUE(WaitFor([&] { return ShownFace(window) == kBitmapMainCancel; }, 10000));
    ASSERT_TRUE(WaitFor(downloading, 60000));
    CloseWithButton(launcher, window, "user_close_while_updating");
}

}  // namespace
}  // namespace velm::test
