// The real VelmLauncher.exe carrying an offline update package, made by velm-publish from
// release v3 of the fixture, applied to installations of v1 under Wine. Every address of
// the copy points at a refused loopback port: a package run that touched the network
// would fail.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "common/config_text_ids.h"
#include "common/string_ids.h"
#include "game/game_folder_win32.h"
#include "app/child_text_record_win32.h"
#include "app/launcher_harness_win32.h"
#include "common/file_io.h"
#include "common/size_time_text.h"
#include "common/text.h"
#include "ui/ui_ids.h"
#include "update/update_fixture_win32.h"

namespace velm::test {
namespace {

constexpr const wchar_t* kUpdateTitle = L"Emberly 更新程序";
constexpr const wchar_t* kMainTitle = L"Emberly";
constexpr DWORD kWindowWaitMs = 20000;
// Generous: the run copies about 7 MiB out of the package and patches under Wine.
constexpr DWORD kRunWaitMs = 120000;
constexpr const wchar_t* kAcceptedVersion = L"1.0.0.1";

// ---- The package bytes and their directory -------------------------------------------

int64_t ReadLe(const std::vector<uint8_t>& bytes, size_t at, int width) {
    uint64_t value = 0;
    for (int i = width - 1; i >= 0; --i) value = (value << 8) | bytes[at + size_t(i)];
    return int64_t(value);
}

void WriteLe(std::vector<uint8_t>& bytes, size_t at, int width, uint64_t value) {
    for (int i = 0; i < width; ++i) bytes[at + size_t(i)] = uint8_t(value >> (8 * i));
}

struct DirectoryEntry {
    size_t at;  // file position of the entry's record
    std::wstring name;
};

struct PackLayout {
    size_t directory_chunk = 0;  // file position of the "tslf" id
    std::vector<DirectoryEntry> entries;
};

PackLayout ReadLayout(const std::vector<uint8_t>& bytes, size_t base) {
    PackLayout layout;
    for (size_t at = base; at + 12 <= bytes.size();) {
        const std::string id(bytes.begin() + long(at), bytes.begin() + long(at) + 4);
        const size_t size = size_t(ReadLe(bytes, at + 4, 8));
        if (id == "tslf") {
            layout.directory_chunk = at;
            size_t p = at + 16;
            for (int64_t n = ReadLe(bytes, at + 12, 4); n > 0; --n) {
                const size_t name_bytes = size_t(ReadLe(bytes, p + 36, 4));
                layout.entries.push_back({p, Utf16LeToWide(bytes.data() + p + 40, name_bytes)});
                p += 40 + name_bytes;
            }
        }
        at += 12 + size;
    }
    return layout;
}

const DirectoryEntry* EntryEndingWith(const PackLayout& layout, const std::wstring& suffix) {
    for (const DirectoryEntry& entry : layout.entries)
        if (entry.name.size() >= suffix.size() && entry.name.compare(entry.name.size() - suffix.size(), suffix.size(), suffix) == 0)
            return &entry;
    return nullptr;
}

bool RunProgram(const std::wstring& exe, const std::wstring& arguments) {
    std::wstring command = L"\"" + exe + L"\" " + arguments;
    std::vector<wchar_t> buffer(command.begin(), command.end());
    buffer.push_back(0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(exe.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return false;
    UniqueHandle process(info.hProcess);
    UniqueHandle thread(info.hThread);
    DWORD code = 1;
    if (WaitForSingleObject(process.Get(), 300000) != WAIT_OBJECT_0) return false;
    GetExitCodeProcess(process.Get(), &code);
    return code == 0;
}

// ---- The launcher's windows ------------------------------------------------------------

std::wstring WindowText(HWND window) {
    wchar_t text[2048] = {};
    GetWindowTextW(window, text, 2048);
    return text;
}

// The text of a control of another process: an edit keeps its own text, which only the
// message reaches.
std::wstring ControlText(HWND control) {
    wchar_t text[2048] = {};
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(control, WM_GETTEXT, 2048, LPARAM(text), SMTO_ABORTIFHUNG, 5000, &copied);
    return text;
}

bool IsDialog(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return wcscmp(name, L"#32770") == 0;
}
bool IsTitled(HWND window, const wchar_t* title) { return IsDialog(window) && WindowText(window) == title; }
bool IsMessageBox(HWND window) { return IsDialog(window) && GetDlgItem(window, 0xFFFF) != nullptr; }
bool IsFolderBrowser(HWND window) {
    return IsDialog(window) && FindWindowExW(window, nullptr, L"SysTreeView32", nullptr) != nullptr;
}
bool IsErrorList(HWND window) { return IsDialog(window) && GetDlgItem(window, kErrorReportText) != nullptr; }

// A visible top-level window of the process that matches (null after the time-out).
HWND WaitForProcessWindow(DWORD process_id, const std::function<bool(HWND)>& match, DWORD timeout_ms) {
    struct Search {
        DWORD process_id;
        const std::function<bool(HWND)>* match;
        HWND found;
    };
    const DWORD start = GetTickCount();
    do {
        Search search{process_id, &match, nullptr};
        EnumWindows(
            [](HWND window, LPARAM lparam) -> BOOL {
                auto* s = reinterpret_cast<Search*>(lparam);
                DWORD owner = 0;
                GetWindowThreadProcessId(window, &owner);
                if (owner != s->process_id || !IsWindowVisible(window) || !(*s->match)(window)) return TRUE;
                s->found = window;
                return FALSE;
            },
            LPARAM(&search));
        if (search.found) return search.found;
        Sleep(50);
    } while (GetTickCount() - start < timeout_ms);
    return nullptr;
}

void PressCancel(HWND dialog) { PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0); }

std::wstring ReadLog(const LauncherInstall& install) {
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(install.Path(L"launcher.log"), bytes, 64 << 20) || bytes.size() < 2) return L"";
    return Utf16LeToWide(bytes.data() + 2, bytes.size() - 2);
}

// ---- The fixture -----------------------------------------------------------------------

class PackageMode : public ::testing::Test {
protected:
    // One package for the whole program: its copy of the launcher names one registry key,
    // whose value each test sets.
    static void SetUpTestSuite() {
        registry_key_ = FormatText(L"SOFTWARE\\VelmLauncherTest\\package-%lu", GetCurrentProcessId());
        const std::wstring refused = EnvText("VELM_REFUSE_URL");
        // The release was published for /releases/patch: the package names its objects
        // by that path, whatever the host.
        texts_ = {
            {kConfigFileListUrl, refused + L"/releases/patch/filelist.xml"},
            {kConfigServerListUrl, refused + L"/loginserver.txt"},
            {kConfigReportUrl, refused + L"/click/cs/qv"},
            {kConfigStartupClickUrl, refused + L"/launch.html"},
            {kConfigInstallReportUrl, refused + L"/reg_vantor/register.jsp"},
            {kConfigInstallRegistryKey, registry_key_},
            {kConfigNewsPageUrl, L""},
        };
        LauncherInstall plain(texts_);
        ASSERT_TRUE(plain.ok()) << WideToUtf8(plain.error());
        std::vector<uint8_t> image;
        ASSERT_TRUE(ReadWholeFile(plain.Path(L"VelmLauncher.exe"), image, 256 << 20));
        base_ = image.size();
        const std::wstring out = plain.Path(L"VelmUpdate.exe");
        ASSERT_TRUE(RunProgram(WinPath(VELM_PUBLISH), L"pack --quiet --root \"" + ReleasesDir() +
                                                          L"\\patch\" --launcher \"" + plain.Path(L"VelmLauncher.exe") +
                                                          L"\" --out \"" + out + L"\""));
        ASSERT_TRUE(ReadWholeFile(out, package_, 1 << 30));
        layout_ = ReadLayout(package_, base_);
        ASSERT_FALSE(layout_.entries.empty());
    }

    void SetUp() override {
        ASSERT_FALSE(package_.empty());
        install_ = std::make_unique<LauncherInstall>(texts_);
        ASSERT_TRUE(install_->ok()) << WideToUtf8(install_->error());
    }
    void TearDown() override {
        launcher_.reset();
        DeleteRegistryKey(registry_key_);
    }

    // An installation of v1 that the package accepts: the game executable the check looks
    // for and the version it reads.
    std::unique_ptr<Installation> InstallV1(const std::string& name, const std::wstring& version) {
        auto installation = std::make_unique<Installation>(name, 1);
        const std::wstring root = installation->Path();
        CreateDirectoryW((root + L"\\Binaries").c_str(), nullptr);
        CreateDirectoryW((root + L"\\Binaries\\Win32").c_str(), nullptr);
        const std::string game = "MZ game";
        EXPECT_TRUE(WriteWholeFile(root + L"\\Binaries\\Win32\\Velm.exe", game.data(), game.size()));
        const std::string ini = "\r\n[TCore.VelmEngineBase]\r\nm_strGameVersion=" + WideToUtf8(version) + "\r\n";
        FileHandle file = OpenFile(root + L"\\VelmGame\\Config\\DefaultGame.ini", FileMode::kAppend);
        EXPECT_TRUE(file && std::fwrite(ini.data(), 1, ini.size(), file.get()) == ini.size());
        return installation;
    }

    // Starts the launcher carrying these bytes; with a record, its window thread is hooked
    // before it runs.
    void Start(const std::vector<uint8_t>& launcher, ChildTextRecord* record = nullptr) {
        ASSERT_TRUE(WriteWholeFile(install_->Path(L"VelmLauncher.exe"), launcher.data(), launcher.size()));
        Launch(record);
    }
    void Launch(ChildTextRecord* record = nullptr) {
        launcher_ = std::make_unique<LauncherProcess>();
        bool hooked = false;
        if (!record) {
            ASSERT_TRUE(launcher_->Start(*install_, L""));
            return;
        }
        ASSERT_TRUE(launcher_->Start(*install_, L"", [&](DWORD thread) { hooked = record->Hook(thread); }));
        ASSERT_TRUE(hooked);
    }
    HWND Wait(const std::function<bool(HWND)>& match, DWORD timeout_ms = kWindowWaitMs) {
        return WaitForProcessWindow(launcher_->Id(), match, timeout_ms);
    }
    void ExpectExit(DWORD expected) {
        DWORD code = 99;
        ASSERT_TRUE(launcher_->WaitForExit(15000, code));
        EXPECT_EQ(code, expected);
    }

    // name -> MD5 of every file under root, with its "\\..." name.
    static std::map<std::wstring, std::wstring> Hashes(const std::wstring& root) {
        std::map<std::wstring, std::wstring> hashes;
        for (const std::wstring& name : ListFiles(root)) hashes[name] = FileMd5(root + name);
        return hashes;
    }

    static std::wstring registry_key_;
    static std::map<int, std::wstring> texts_;
    static std::vector<uint8_t> package_;
    static size_t base_;
    static PackLayout layout_;
    std::unique_ptr<LauncherInstall> install_;
    std::unique_ptr<LauncherProcess> launcher_;
};
std::wstring PackageMode::registry_key_;
std::map<int, std::wstring> PackageMode::texts_;
std::vector<uint8_t> PackageMode::package_;
size_t PackageMode::base_ = 0;
PackLayout PackageMode::layout_;

// Files that only the test or the run itself put into the installation.
bool OutsideTheRelease(const std::wstring& name) {
    static const std::set<std::wstring> extra = {L"\\Binaries\\Win32\\Velm.exe", L"\\LocalHashCache.xml"};
    return extra.count(name) != 0 || name.compare(0, 5, L"\\tmp\\") == 0;
}

TEST_F(PackageMode, BringsTheRegisteredInstallationToTheRelease) {
    auto installation = InstallV1("pkg-apply", kAcceptedVersion);
    ASSERT_TRUE(WriteInstallPath(registry_key_, installation->Path()));
    Start(package_);

    HWND window = Wait([](HWND w) { return IsTitled(w, kUpdateTitle); });
    ASSERT_NE(window, nullptr);
    HWND done = Wait(IsMessageBox, kRunWaitMs);
    ASSERT_NE(done, nullptr);
    EXPECT_EQ(MessageBoxText(done), L"更新完成!");
    EXPECT_EQ(WindowText(done), L"");
    // The window keeps refreshing under the message: the run's final figures in the main
    // window's format, nothing left of a known total. The run has ended before the message
    // shows, so the refresh the test asks for now shows its final figures.
    ASSERT_NE(SendMessageTimeoutW(window, WM_TIMER, kTimerProgress, 0, SMTO_ABORTIFHUNG, kWindowWaitMs, nullptr), 0);
    const std::wstring overall = ControlText(GetDlgItem(window, kUpdateOverallText));
    const std::wregex format(L"剩余：(.+)，共：(.+) \\| 下载速率：(.+)/s \\| 剩余时间：(.+)");
    std::wsmatch parts;
    ASSERT_TRUE(std::regex_match(overall, parts, format)) << WideToUtf8(overall);
    EXPECT_EQ(parts[1].str(), SizeText(0));
    EXPECT_NE(parts[2].str(), SizeText(0));
    PressOk(done);
    ExpectExit(0);

    std::map<std::wstring, std::wstring> release = Manifest(3);
    std::map<std::wstring, std::wstring> installed = Hashes(installation->Path());
    for (const auto& [name, hash] : release) EXPECT_EQ(installed[name], hash) << WideToUtf8(name);
    for (const auto& [name, hash] : installed)
        EXPECT_TRUE(release.count(name) || OutsideTheRelease(name)) << WideToUtf8(name);
    // The launcher's own folder is not the installation.
    EXPECT_FALSE(FileExists(install_->Path(L"LocalHashCache.xml")));
    EXPECT_EQ(ReadLog(*install_).find(L"not in update package"), std::wstring::npos);
}

// The file text's template breaks its line with a bare LF, which a multi-line edit on
// Windows does not break at (Wine does): what the edit gets must break with CR LF. The
// installation holds only what the package checks for, so the package copies every file
// whole, and the window shows its progress over and over while it does.
TEST_F(PackageMode, TheFileLineShownWhileCopyingBreaksWithCrLf) {
    auto installation = InstallV1("pkg-file-line", kAcceptedVersion);
    for (const std::wstring& name : ListFiles(installation->Path())) {
        if (name == L"\\Binaries\\Win32\\Velm.exe" || name == L"\\VelmGame\\Config\\DefaultGame.ini") continue;
        ASSERT_TRUE(DeleteFileW(installation->File(name).c_str())) << WideToUtf8(name);
    }
    ASSERT_TRUE(WriteInstallPath(registry_key_, installation->Path()));
    ChildTextRecord record(install_->Path(L"child-texts.record"), ChildTextRecord::Refresh::kContinuously);
    Start(package_, &record);

    HWND done = Wait(IsMessageBox, kRunWaitMs);
    ASSERT_NE(done, nullptr);
    EXPECT_EQ(MessageBoxText(done), L"更新完成!");
    const std::vector<std::wstring> file_texts = record.Texts(kUpdateFileText);
    const auto copying = std::count_if(file_texts.begin(), file_texts.end(), [](const std::wstring& text) {
        return text.compare(0, 4, L"正在下载") == 0;
    });
    EXPECT_GT(copying, 0) << "the file text never showed a file being copied";
    for (const std::wstring& text : file_texts) {
        for (size_t at = text.find(L'\n'); at != std::wstring::npos; at = text.find(L'\n', at + 1))
            EXPECT_TRUE(at > 0 && text[at - 1] == L'\r') << WideToUtf8(text);
    }
    PressOk(done);
    ExpectExit(0);
    for (const auto& [name, hash] : Manifest(3)) EXPECT_EQ(FileMd5(installation->File(name)), hash) << WideToUtf8(name);
}

TEST_F(PackageMode, SkipsAListedFileThePackageDoesNotHold) {
    auto installation = InstallV1("pkg-skip", kAcceptedVersion);
    ASSERT_TRUE(WriteInstallPath(registry_key_, installation->Path()));
    // The package loses the v2 file that a v1 installation lacks: its entry is renamed.
    std::vector<uint8_t> bytes = package_;
    const DirectoryEntry* added = EntryEndingWith(layout_, L"\\VelmGame\\Data\\added_v2.pak");
    ASSERT_NE(added, nullptr);
    const size_t last_char = added->at + 40 + added->name.size() * 2 - 2;
    WriteLe(bytes, last_char, 2, L'x');
    Start(bytes);

    HWND window = Wait([](HWND w) { return IsTitled(w, kUpdateTitle); });
    ASSERT_NE(window, nullptr);
    // The run verifies every full download, so the installation that still lacks the file
    // is not reported as brought up to date: the error list names it.
    HWND end = Wait([](HWND w) { return IsMessageBox(w) || IsErrorList(w); }, kRunWaitMs);
    ASSERT_NE(end, nullptr);
    ASSERT_TRUE(IsErrorList(end)) << WideToUtf8(MessageBoxText(end));
    const std::wstring ending = ControlText(GetDlgItem(end, kErrorReportText));
    EXPECT_NE(ending.find(L"added_v2.pak"), std::wstring::npos) << WideToUtf8(ending);
    PostMessageW(end, WM_CLOSE, 0, 0);
    PostMessageW(window, WM_CLOSE, 0, 0);
    ExpectExit(0);

    const std::wstring log = ReadLog(*install_);
    const std::wstring line = L"file \"" + added->name + L"\" not in update package, you should update it in launcher later.";
    EXPECT_NE(log.find(line), std::wstring::npos) << WideToUtf8(ending) << "\n" << WideToUtf8(log);
    EXPECT_FALSE(FileExists(installation->Path() + L"\\VelmGame\\Data\\added_v2.pak"));
    // Everything the package holds arrived all the same.
    std::map<std::wstring, std::wstring> release = Manifest(3);
    EXPECT_EQ(FileMd5(installation->Path() + L"\\VelmGame\\Data\\world.pak"), release[L"\\VelmGame\\Data\\world.pak"]);
}

TEST_F(PackageMode, AClientOfAnotherVersionListsTheAcceptedOnesThenCancellingEnds) {
    auto installation = InstallV1("pkg-version", L"2.5.0.9");
    ASSERT_TRUE(WriteInstallPath(registry_key_, installation->Path()));
    const std::map<std::wstring, std::wstring> before = Hashes(installation->Path());
    Start(package_);

    HWND box = Wait(IsMessageBox);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), L"无法从当前的客户端升级，当前版本：2.5.0.9\n该补丁包仅支持以下的客户端版本：\n"
                                   L"1.0.0.1\n1.0.0.1\n1.0.0.1\n1.0.0.0\n1.0.0.0\n1.0.0.0\n");
    PressOk(box);
    HWND browser = Wait(IsFolderBrowser);
    ASSERT_NE(browser, nullptr);
    EXPECT_NE(ChildTexts(browser).find(L"请指定 Emberly 的安装目录"), std::wstring::npos);
    PressCancel(browser);
    ExpectExit(0);
    EXPECT_EQ(Hashes(installation->Path()), before);
    EXPECT_EQ(ReadLog(*install_).find(L"Update package applied"), std::wstring::npos);
}

TEST_F(PackageMode, ARegisteredFolderThatCannotBeCheckedAsksForTheFolder) {
    const struct {
        const char* name;
        const char* version_ini;  // null: no client at all
        const wchar_t* message;
    } cases[] = {
        {"no client", nullptr, L"没有在所指定的目录中找到 Emberly 的客户端，请重新指定"},
        {"empty version", "[TCore.VelmEngineBase]\r\nm_strGameVersion=\r\n", L"无法获得当前客户端版本"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring folder = install_->Path(Utf8ToWide(c.name));
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        if (c.version_ini) {
            for (const wchar_t* sub : {L"\\Binaries", L"\\Binaries\\Win32", L"\\VelmGame", L"\\VelmGame\\Config"})
                ASSERT_TRUE(CreateDirectoryW((folder + sub).c_str(), nullptr));
            ASSERT_TRUE(WriteWholeFile(folder + L"\\Binaries\\Win32\\Velm.exe", "MZ", 2));
            ASSERT_TRUE(WriteWholeFile(folder + L"\\VelmGame\\Config\\DefaultGame.ini", c.version_ini,
                                       std::strlen(c.version_ini)));
        }
        const std::map<std::wstring, std::wstring> before = Hashes(folder);
        ASSERT_TRUE(WriteInstallPath(registry_key_, folder));
        Start(package_);

        HWND box = Wait(IsMessageBox);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(MessageBoxText(box), c.message);
        EXPECT_EQ(WindowText(box), L"");
        PressOk(box);
        HWND browser = Wait(IsFolderBrowser);
        ASSERT_NE(browser, nullptr);
        PressCancel(browser);
        ExpectExit(0);
        EXPECT_EQ(Hashes(folder), before);
    }
}

TEST_F(PackageMode, NoRegisteredFolderGoesStraightToTheBrowser) {
    Start(package_);
    HWND browser = Wait([](HWND w) { return IsFolderBrowser(w) || IsMessageBox(w); });
    ASSERT_NE(browser, nullptr);
    ASSERT_TRUE(IsFolderBrowser(browser)) << WideToUtf8(ChildTexts(browser));
    PressCancel(browser);
    ExpectExit(0);
}

TEST_F(PackageMode, DamagedPackagesAreRefusedAndTouchNothing) {
    auto installation = InstallV1("pkg-damaged", kAcceptedVersion);
    ASSERT_TRUE(WriteInstallPath(registry_key_, installation->Path()));
    const std::map<std::wstring, std::wstring> before = Hashes(installation->Path());
    const size_t directory = layout_.directory_chunk;
    const size_t first_entry = layout_.entries.front().at;
    const struct {
        const char* name;
        std::function<void(std::vector<uint8_t>&)> damage;
    } cases[] = {
        {"directory cut short", [](std::vector<uint8_t>& b) { b.resize(b.size() - 7); }},
        {"name longer than 1024 bytes", [&](std::vector<uint8_t>& b) { WriteLe(b, first_entry + 36, 4, 1026); }},
        {"no directory chunk", [&](std::vector<uint8_t>& b) { b[directory + 3] = 'x'; }},
        {"entry data past the end", [&](std::vector<uint8_t>& b) { WriteLe(b, first_entry, 8, uint64_t(b.size())); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bytes = package_;
        c.damage(bytes);
        Start(bytes);
        HWND box = Wait(IsMessageBox);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(MessageBoxText(box), L"更新包损坏");
        EXPECT_EQ(WindowText(box), L"");
        EXPECT_EQ(Wait([](HWND w) { return IsTitled(w, kUpdateTitle); }, 0), nullptr);
        PressOk(box);
        ExpectExit(0);
        EXPECT_EQ(Hashes(installation->Path()), before);
    }
}

TEST_F(PackageMode, AnEntryShorterThanItsSizeFailsTheRunAndDamagesNothing) {
    auto installation = InstallV1("pkg-short", kAcceptedVersion);
    ASSERT_TRUE(WriteInstallPath(registry_key_, installation->Path()));
    // Marked compressed, an entry may be shorter than its file: this one ends half-way.
    std::vector<uint8_t> bytes = package_;
    const DirectoryEntry* added = EntryEndingWith(layout_, L"\\VelmGame\\Data\\added_v2.pak");
    ASSERT_NE(added, nullptr);
    WriteLe(bytes, added->at + 16, 8, uint64_t(ReadLe(bytes, added->at + 8, 8) / 2));
    WriteLe(bytes, added->at + 24, 4, 1);
    Start(bytes);

    HWND window = Wait([](HWND w) { return IsTitled(w, kUpdateTitle); });
    ASSERT_NE(window, nullptr);
    // The reader's failure carries no error text, so the run's error list may be empty:
    // then the failure is a plain message.
    HWND errors = Wait([](HWND w) { return IsErrorList(w) || IsMessageBox(w); }, kRunWaitMs);
    ASSERT_NE(errors, nullptr);
    if (IsMessageBox(errors)) {
        EXPECT_EQ(MessageBoxText(errors), L"更新失败。");
        EXPECT_EQ(WindowText(errors), L"Error");
    }
        EXPECT_EQ(ControlText(GetDlgItem(window, kUpdateStatusLine)), L"更新失败。");

    // Every file is one release's or the other's, never a mixture; the short one is absent.
    std::map<std::wstring, std::wstring> v1 = Manifest(1), v3 = Manifest(3);
    for (const auto& [name, hash] : Hashes(installation->Path())) {
        if (OutsideTheRelease(name) || name == L"\\VelmGame\\Config\\DefaultGame.ini") continue;
        EXPECT_TRUE(hash == v1[name] || hash == v3[name]) << WideToUtf8(name);
    }
    EXPECT_FALSE(FileExists(installation->Path() + L"\\VelmGame\\Data\\added_v2.pak"));
    PostMessageW(errors, WM_CLOSE, 0, 0);
    // The window stays open after a failure until the player closes it: once the list is
    // gone, a message the window answers comes after whatever closing the list led to.
    const DWORD since = GetTickCount();
    while (IsWindow(errors) && GetTickCount() - since < kWindowWaitMs) Sleep(10);
    ASSERT_FALSE(IsWindow(errors));
    EXPECT_NE(SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kWindowWaitMs, nullptr), 0);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_TRUE(launcher_->Running());
    PostMessageW(window, WM_CLOSE, 0, 0);
    ExpectExit(0);
}

// Only an 8-byte marker above 0 selects package mode; anything else is normal mode, whose
// main window appears even though the executable carries a package.
TEST_F(PackageMode, MarkersOtherThanEightBytesAboveZeroKeepNormalMode) {
    std::vector<uint8_t> zeroed = package_;
    std::vector<uint8_t> marker(8);
    WriteLe(marker, 0, 8, base_);
    auto at = std::search(zeroed.begin(), zeroed.begin() + long(base_), marker.begin(), marker.end());
    ASSERT_NE(at, zeroed.begin() + long(base_));
    std::fill(at, at + 8, 0);

    const struct {
        const char* name;
        const std::vector<uint8_t>* bytes;
        DWORD restamp_size;  // 0: as it is
    } cases[] = {{"marker holding 0", &zeroed, 0}, {"7-byte marker", &package_, 7}, {"9-byte marker", &package_, 9}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(WriteWholeFile(install_->Path(L"VelmLauncher.exe"), c.bytes->data(), c.bytes->size()));
        if (c.restamp_size) {
            std::vector<uint8_t> value(c.restamp_size, 0);
            WriteLe(value, 0, 7, base_);
            HANDLE update = BeginUpdateResourceW(install_->Path(L"VelmLauncher.exe").c_str(), FALSE);
            ASSERT_NE(update, nullptr);
            ASSERT_TRUE(UpdateResourceW(update, L"UPDATE", MAKEINTRESOURCEW(211), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                                        value.data(), c.restamp_size));
            ASSERT_TRUE(EndUpdateResourceW(update, FALSE));
        }
        Launch();
        HWND window = Wait([](HWND w) { return IsTitled(w, kMainTitle) || IsTitled(w, kUpdateTitle); });
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(WindowText(window), kMainTitle);
        // Normal mode records its own folder as the installation.
        EXPECT_EQ(ReadRegistryText(registry_key_, L"InstallPath"), install_->Folder() + L"\\");
        launcher_.reset();
        DeleteRegistryKey(registry_key_);
    }
}

}  // namespace
}  // namespace velm::test
