// A download process killed in the middle of a transfer and started again resumes after
// the last block its resume record vouches for, and ends with the source's exact bytes.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/text.h"
#include "download/download_job_win32.h"
#include "formats/resume_record.h"
#include "download_fixture_win32.h"
#include "formats/test_streams.h"

namespace velm {
namespace {

using test::WinPath;

// Runs download_once; returns the process handle (the caller waits or kills it).
HANDLE StartDownloader(const std::string& url, const std::wstring& local) {
    const std::wstring exe = WinPath(test::Env("VELM_BINARY_DIR") + "/download_once.exe");
    std::wstring command = L"\"" + exe + L"\" \"" + Utf8ToWide(url) + L"\" \"" + local + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return nullptr;
    CloseHandle(process.hThread);
    return process.hProcess;
}

int64_t SizeOf(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return int64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

struct KillCase {
    const char* name;
    int64_t kill_at;  // bytes of the staged file on disk when the process is killed
    int rate;         // bytes per second the server sends the first run
};

// Each block's record entry is written with the block, so a kill loses at most the block
// being written, however early it comes (a record written in batches lost them all before
// its first batch).
TEST(DownloadResume, KilledProcessResumesAtTheLastVerifiedBlock) {
    const KillCase cases[] = {
        {"before_the_16th_block", 3 * kResumeBlockSize, 400000},
        {"after_megabytes", 3 * 1024 * 1024, 1500000},
    };
    const std::vector<uint8_t> data = test::SampleData(8 * 1024 * 1024 + 4321, 77);
    for (const KillCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string relative = std::string("killed/") + c.name + ".bin";
        test::PutServedFile(relative, data);
        const std::wstring local = WinPath(test::OutDir("killed")) + L"\\" + Utf8ToWide(c.name) + L".bin";
        const std::wstring staging = local + kPlainStagingSuffix;
        DeleteFileW(local.c_str());
        DeleteFileW(staging.c_str());
        DeleteFileW((staging + kResumeRecordSuffix).c_str());
        const std::string url = test::Env("VELM_FAULT_URL") + "/" + relative;

        HANDLE first = StartDownloader(url + "?rate=" + std::to_string(c.rate), local);
        ASSERT_NE(first, nullptr);
        const DWORD begin = GetTickCount();
        while (SizeOf(staging) < c.kill_at && GetTickCount() - begin < 30000) Sleep(5);
        ASSERT_TRUE(TerminateProcess(first, 9));
        WaitForSingleObject(first, 10000);
        CloseHandle(first);
        const int64_t left_behind = SizeOf(staging);
        ASSERT_GE(left_behind, c.kill_at);
        ASSERT_LT(left_behind, int64_t(data.size())) << "killed too late to show a resume";
        EXPECT_FALSE(test::LocalExists(local)) << "a partial file under the final name";

        HANDLE second = StartDownloader(url, local);
        ASSERT_NE(second, nullptr);
        ASSERT_EQ(WaitForSingleObject(second, 60000), WAIT_OBJECT_0);
        DWORD exit_code = 99;
        GetExitCodeProcess(second, &exit_code);
        CloseHandle(second);
        EXPECT_EQ(exit_code, 0u);
        EXPECT_TRUE(test::ReadLocal(local) == data);
        EXPECT_FALSE(test::LocalExists(staging));
        EXPECT_FALSE(test::LocalExists(staging + kResumeRecordSuffix));

        // The second run asked for the rest only, from a block boundary at most one block
        // short of what was on disk.
        int64_t resumed_at = -1;
        for (const std::string& line : test::FaultRequests("/" + relative)) {
            size_t at = line.find("\"range\": \"bytes=");
            if (at != std::string::npos) resumed_at = std::stoll(line.substr(at + 16));
        }
        EXPECT_EQ(resumed_at % kResumeBlockSize, 0);
        EXPECT_LE(resumed_at, left_behind);
        EXPECT_GE(resumed_at, left_behind - left_behind % kResumeBlockSize - kResumeBlockSize);
    }
}

}  // namespace
}  // namespace velm
