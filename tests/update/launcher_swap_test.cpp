// The replacement script under Wine, with a real launcher stand-in that runs until the
// test lets it go: whatever the launcher's folder is called and whether or not the new
// file can be moved, a launcher that runs is in place afterwards and the one in place is
// started once. The whole table also runs in a prefix with a Western code page, where the
// ANSI code page (1252) and the one the command interpreter reads (437) disagree.
#include <gtest/gtest.h>

#include "common/file_io.h"
#include "common/handle_win32.h"
#include "common/md5.h"
#include "common/text.h"
#include "update/launcher_self_update_win32.h"
#include "update/replace_script.h"
#include "update_fixture_win32.h"

namespace velm::test {
namespace {

std::string ReadText(const std::wstring& path) {
    std::vector<uint8_t> bytes;
    ReadWholeFile(path, bytes, 1 << 20);
    return std::string(bytes.begin(), bytes.end());
}

std::wstring BytesMd5(const std::vector<uint8_t>& bytes) { return Md5ToHex(Md5Bytes(bytes.data(), bytes.size())); }

TEST(LauncherSwap, ARunnableLauncherIsAlwaysInPlace) {
    struct Case {
        const char* name;
        const wchar_t* folder;  // the launcher's folder inside the installation
        bool hold_new;          // the new file is held open, so that it cannot be moved
    } cases[] = {
        {"percent", L"Velm 100% %PATH% !x!", false},
        {"umlaut", L"Spiele\\M\u00FCller", false},
        {"held_new", L"held", true},
    };
    std::vector<uint8_t> fresh;
    ASSERT_TRUE(ReadWholeFile(WinPath(VELM_STAND_IN), fresh, 64 << 20));
    std::vector<uint8_t> old = fresh;
    const std::string tail = "older build";
    old.insert(old.end(), tail.begin(), tail.end());

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Installation installation(std::string("swap_") + c.name, 0);
        const std::wstring folder = installation.File(L"\\" + std::wstring(c.folder));
        CreateDirectoryW(installation.File(L"\\Spiele").c_str(), nullptr);
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr)) << WideToUtf8(folder);
        CreateDirectoryW(installation.File(L"\\tmp").c_str(), nullptr);
        const std::wstring launcher = folder + L"\\Velm Launcher.exe";
        const std::wstring downloaded = installation.File(L"\\tmp\\VelmLauncher.ex_");
        ASSERT_TRUE(WriteWholeFile(launcher, old.data(), old.size()));
        ASSERT_TRUE(WriteWholeFile(downloaded, fresh.data(), fresh.size()));

        std::wstring command = L"\"" + launcher + L"\" --hold";
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION running{};
        ASSERT_TRUE(CreateProcessW(launcher.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                                   &startup, &running));
        UniqueHandle process(running.hProcess), thread(running.hThread);
        UniqueHandle holder;
        if (c.hold_new)
            holder.Reset(CreateFileW(downloaded.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                     nullptr));

        ASSERT_EQ(StartLauncherSwap(launcher), SwapStart::kStarted);
        Sleep(1500);  // the script is waiting now: the running launcher cannot be deleted
        EXPECT_EQ(FileMd5(launcher), BytesMd5(old));
        ASSERT_TRUE(WriteWholeFile(folder + L"\\stand_in_release.txt", "go", 2));
        ASSERT_EQ(WaitForSingleObject(process.Get(), 120000), WAIT_OBJECT_0);
        for (int i = 0; i < 1200 && FileExists(installation.File(L"\\tmp\\replace.cmd")); ++i) Sleep(50);
        holder.Reset(nullptr);
        const std::wstring starts = folder + L"\\stand_in_starts.txt";
        for (int i = 0; i < 200 && ReadText(starts) != "hold\nplain\n"; ++i) Sleep(50);

        EXPECT_FALSE(FileExists(installation.File(L"\\tmp\\replace.cmd")));
        EXPECT_EQ(FileMd5(launcher), BytesMd5(c.hold_new ? old : fresh));
        EXPECT_EQ(ReadText(starts), "hold\nplain\n");  // the launcher in place started once
        EXPECT_FALSE(FileExists(launcher + L".old"));
    }
}

}  // namespace
}  // namespace velm::test
