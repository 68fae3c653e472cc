// The launcher's self-replacement under Wine: a published launcher with another hash is
// downloaded, checked, announced, and swapped in by the script once the running copy
// has exited; a damaged download or -NOSELFUPDATE leaves the launcher alone.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "common/file_io.h"
#include "common/md5.h"
#include "common/text.h"
#include "formats/file_list.h"
#include "update/launcher_self_update_win32.h"
#include "update/replace_script.h"
#include "update_fixture_win32.h"

namespace velm::test {
namespace {

// Presses OK on every message box of this process, as the player would, and keeps
// their texts.
class MessageBoxAnswerer {
public:
    MessageBoxAnswerer() : thread_([this] { Loop(); }) {}
    ~MessageBoxAnswerer() {
        stop_ = true;
        thread_.join();
    }
    std::vector<std::wstring> Captions() {
        std::lock_guard<std::mutex> hold(lock_);
        return captions_;
    }

private:
    static BOOL CALLBACK Visit(HWND window, LPARAM self) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        wchar_t name[64] = {};
        GetClassNameW(window, name, 64);
        if (process == GetCurrentProcessId() && std::wstring(name) == L"#32770" && IsWindowVisible(window)) {
            wchar_t caption[256] = {};
            GetWindowTextW(window, caption, 256);
            auto* answerer = reinterpret_cast<MessageBoxAnswerer*>(self);
            {
                std::lock_guard<std::mutex> hold(answerer->lock_);
                answerer->captions_.push_back(caption);
            }
            PostMessageW(window, WM_COMMAND, IDOK, 0);
        }
        return TRUE;
    }
    void Loop() {
        while (!stop_) {
            EnumWindows(Visit, reinterpret_cast<LPARAM>(this));
            Sleep(50);
        }
    }

    std::atomic<bool> stop_{false};
    std::mutex lock_;
    std::vector<std::wstring> captions_;
    std::thread thread_;
};

std::vector<uint8_t> StandIn() {
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(ReadWholeFile(WinPath(VELM_STAND_IN), bytes, 64 << 20));
    return bytes;
}

// "selfupdate": the current list, publishing `launcher` under `hash`.
void ServeLauncher(const std::vector<uint8_t>& launcher, const std::wstring& hash) {
    const std::wstring folder = WwwDir() + L"\\selfupdate";
    CreateDirectoryW(folder.c_str(), nullptr);
    WriteServedCmp(folder + L"\\VelmLauncher.exe", launcher);
    std::vector<uint8_t> xml = ReadServedCmp(ReleasesDir() + L"\\patch\\filelist.xml");
    FileListDocument document;
    std::string error;
    ASSERT_EQ(ParseFileList(std::string(xml.begin(), xml.end()), L"", document, error), 1) << error;
    document.launcher = {NginxUrl() + L"/selfupdate/VelmLauncher.exe", hash,
                         int32_t(FileSize(folder + L"\\VelmLauncher.exe"))};
    WriteServedFileList(folder, WriteFileList(document));
}

std::string ReadText(const std::wstring& path) {
    std::vector<uint8_t> bytes;
    ReadWholeFile(path, bytes, 1 << 20);
    return std::string(bytes.begin(), bytes.end());
}

class SelfUpdate : public ::testing::Test {
protected:
    // An installation of the current release whose launcher is an older build of the
    // stand-in (the same program with other bytes after its image).
    void Prepare(const std::string& name, TestOwner& owner) {
        installation_ = std::make_unique<Installation>(name, 3);
        old_launcher_ = StandIn();
        const std::string tail = "older build";
        old_launcher_.insert(old_launcher_.end(), tail.begin(), tail.end());
        launcher_ = installation_->Path() + L"\\Velm Launcher.exe";
        ASSERT_TRUE(WriteWholeFile(launcher_, old_launcher_.data(), old_launcher_.size()));
        PointRunAt(owner, installation_->Path(), L"releases/patch", NginxUrl() + L"/selfupdate/filelist.xml");
        owner.updater.SetLauncherPath(launcher_);
    }

    std::unique_ptr<Installation> installation_;
    std::vector<uint8_t> old_launcher_;
    std::wstring launcher_;
};

TEST_F(SelfUpdate, NewLauncherIsSwappedInOnceTheRunningOneHasExited) {
    LogCapture log("self_update");
    const std::vector<uint8_t> fresh = StandIn();
    const std::wstring fresh_hash = Md5ToHex(Md5Bytes(fresh.data(), fresh.size()));
    ServeLauncher(fresh, AsciiLower(fresh_hash));
    TestOwner owner;
    Prepare("self_update", owner);
    owner.SetSelfUpdate(true);

    // The old launcher keeps running until released, so its file cannot be deleted yet.
    std::wstring command = L"\"" + launcher_ + L"\" --hold";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION running{};
    ASSERT_TRUE(CreateProcessW(launcher_.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                               installation_->Path().c_str(), &startup, &running));
    UniqueHandle process(running.hProcess), thread(running.hThread);

    int result = -1;
    std::vector<std::wstring> captions;
    {
        MessageBoxAnswerer answerer;
        result = RunUpdateThread(owner);
        captions = answerer.Captions();
    }
    EXPECT_EQ(result, kUpdateLauncherReplaced);
    EXPECT_TRUE(owner.updater.GetErrors().empty());
    ASSERT_EQ(captions.size(), 1u);
    EXPECT_EQ(captions[0], L"Message");
    std::string script_path;
    ASSERT_TRUE(LauncherPathForScript(launcher_, script_path));
    EXPECT_EQ(ReadText(installation_->File(L"\\tmp\\replace.cmd")), ReplaceScriptText(script_path));
    EXPECT_EQ(FileMd5(installation_->File(L"\\tmp\\VelmLauncher.ex_")), fresh_hash);
    EXPECT_EQ(FileMd5(launcher_), Md5ToHex(Md5Bytes(old_launcher_.data(), old_launcher_.size())));
    EXPECT_EQ(log.Count(L"Total "), 0);  // the client files are left for the new launcher

    ASSERT_TRUE(WriteWholeFile(installation_->File(L"\\stand_in_release.txt"), "go", 2));
    ASSERT_EQ(WaitForSingleObject(process.Get(), 120000), WAIT_OBJECT_0);
    const std::wstring starts = installation_->File(L"\\stand_in_starts.txt");
    for (int i = 0; i < 1200 && (ReadText(starts) != "hold\nplain\n" ||
                                 FileExists(installation_->File(L"\\tmp\\replace.cmd")));
         ++i)
        Sleep(50);
    EXPECT_EQ(ReadText(starts), "hold\nplain\n");
    EXPECT_EQ(FileMd5(launcher_), fresh_hash);
    EXPECT_FALSE(FileExists(installation_->File(L"\\tmp\\VelmLauncher.ex_")));
    EXPECT_FALSE(FileExists(installation_->File(L"\\tmp\\replace.cmd")));
    EXPECT_FALSE(FileExists(launcher_ + L".old"));
}

TEST_F(SelfUpdate, DamagedDownloadOrSwitchedOffLeavesTheLauncherAlone) {
    struct Case {
        const char* name;
        int self_update;
        bool damaged;
        int result;
    } cases[] = {
        {"damaged_launcher", 1, true, kUpdateFailed},
        {"no_self_update", 0, false, kUpdateSucceeded},
    };
    const std::vector<uint8_t> fresh = StandIn();
    const std::wstring fresh_hash = Md5ToHex(Md5Bytes(fresh.data(), fresh.size()));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log(c.name);
        std::vector<uint8_t> served = fresh;
        if (c.damaged) served[served.size() / 2] ^= 0x5A;
        ServeLauncher(served, fresh_hash);
        TestOwner owner;
        Prepare(c.name, owner);
        owner.SetSelfUpdate(c.self_update != 0);

        EXPECT_EQ(RunUpdateThread(owner), c.result);
        std::vector<std::wstring> errors = owner.updater.GetErrors();
        if (c.damaged) {
            // The download itself is refused before it is moved to where the swap takes it
            // from, and says why; then the run gives up the self-update.
            ASSERT_EQ(errors.size(), 2u);
            EXPECT_NE(errors[0].find(L"VelmLauncher.ex_ : Decompressed file does not match its published MD5."),
                      std::wstring::npos)
                << WideToUtf8(errors[0]);
            EXPECT_EQ(errors[1], L"Update Launcher failed.");
        } else {
            EXPECT_TRUE(errors.empty());
            EXPECT_EQ(log.Count(L"VelmLauncher.ex_"), 0);
        }
        EXPECT_FALSE(FileExists(installation_->File(L"\\tmp\\VelmLauncher.ex_")));
        EXPECT_FALSE(FileExists(installation_->File(L"\\tmp\\replace.cmd")));
        EXPECT_EQ(FileMd5(launcher_), Md5ToHex(Md5Bytes(old_launcher_.data(), old_launcher_.size())));
    }
}

}  // namespace
}  // namespace velm::test
