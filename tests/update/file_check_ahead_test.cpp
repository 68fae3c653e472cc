#include "update/file_check_ahead.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "common/captured_log.h"
#include "common/file_io.h"
#include "common/file_system.h"
#include "common/log.h"
#include "common/md5.h"
#include "common/text.h"

#ifdef _WIN32
#include "common/handle_win32.h"
#endif

namespace velm {
namespace {

std::wstring Hex(const std::string& content) { return Md5ToHex(Md5Bytes(content.data(), content.size())); }

// What one planning pass leaves behind: the jobs, the chains, the log lines without
// their time and thread prefix, and the cache as saved.
struct PlanOutcome {
    std::vector<std::wstring> jobs;
    std::vector<std::wstring> groups;
    std::vector<std::wstring> log;
    std::vector<uint8_t> cache;
};

std::wstring Describe(const PlannedJob& job) {
    return FormatText(L"%ls %ls %lld %u %ls %d %d %ls", job.url.c_str(), job.local_path.c_str(),
                      (long long)job.expected_size, job.flags, job.file_name.c_str(), job.patch_group,
                      job.full_download, job.hash.c_str());
}

std::vector<std::wstring> LinesWithoutPrefix(const std::wstring& text) {
    std::vector<std::wstring> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find(L'\n', at);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(at, end - at);
        size_t first = line.find(L'|');
        size_t second = first == std::wstring::npos ? first : line.find(L'|', first + 1);
        lines.push_back(second == std::wstring::npos ? line : line.substr(second + 1));
        at = end + 1;
    }
    return lines;
}

size_t Count(const std::vector<std::wstring>& lines, const std::wstring& needle) {
    size_t n = 0;
    for (const std::wstring& line : lines) n += line.find(needle) != std::wstring::npos;
    return n;
}

// An installation folder with a saved hash cache. Names carry the list's leading
// backslash: on Windows the files sit in the folder, elsewhere the backslash is part of
// one file name beside it, as the launcher's paths are in the native tests.
class FileCheckAheadTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::remove_all(kRoot);
        std::filesystem::create_directories(std::filesystem::path(kRoot) / "client");
        base_ = std::wstring(kRoot) + L"/client";
        roots_ = {L"http://127.0.0.1/v2", L"http://127.0.0.1/v1"};
    }
    void TearDown() override {
        // The process log keeps the last captured file open, and Windows removes no open file.
        LauncherLog::Instance().ReopenForTest(L"check_ahead.log");
        std::filesystem::remove_all(kRoot);
    }

    std::wstring Path(const std::wstring& name) const { return base_ + name; }
    void Write(const std::wstring& name, const std::string& content) {
        ASSERT_TRUE(WriteWholeFile(Path(name), content.data(), content.size()));
    }
    // A list entry whose current version is target; with an older version, the step to
    // the current one has a 10-byte diff, smaller than the whole file.
    void AddEntry(const std::wstring& name, const std::string& target, const std::string& older = "") {
        FileEntry entry;
        entry.name = name;
        entry.full_path = Path(name);
        entry.hash = Hex(target);
        entry.size_compressed = 1000;
        entry.history.push_back({entry.hash, older.empty() ? 0 : 10});
        if (!older.empty()) entry.history.push_back({Hex(older), 0});
        entries_.push_back(entry);
    }

    // Sequential: workers < 0.
    PlanOutcome PlanInOrder(int workers, const std::wstring& tag) {
        HashCache cache(base_);
        EXPECT_EQ(cache.LoadLocalHashCache(kCachePath), 1);
        std::vector<PlannedJob> jobs;
        std::vector<PatchGroup> groups;
        test::CapturedLog log(std::wstring(kRoot) + L"/" + tag + L".log");
        if (workers < 0) {
            for (const FileEntry& entry : entries_) EXPECT_TRUE(PlanEntry(entry, roots_, cache, false, jobs, groups));
        } else {
            FileCheckAhead checks(entries_, cache, false, size_t(workers));
            for (size_t i = 0; i < entries_.size(); ++i)
                EXPECT_TRUE(PlanCheckedEntry(entries_[i], checks.Take(i), roots_, cache, jobs, groups));
        }
        PlanOutcome outcome;
        outcome.log = LinesWithoutPrefix(log.Text());
        for (const PlannedJob& job : jobs) outcome.jobs.push_back(Describe(job));
        for (const PatchGroup& group : groups) outcome.groups.push_back(FormatText(L"%d/%d", group.count, group.done));
        const std::wstring saved = std::wstring(kRoot) + L"/" + tag + L".xml";
        cache.SaveLocalHashCache(saved);
        EXPECT_TRUE(ReadWholeFile(saved, outcome.cache, 1 << 20));
        return outcome;
    }

    static constexpr const wchar_t* kRoot = L"check_ahead";
    static constexpr const wchar_t* kCachePath = L"check_ahead/cache.xml";
    std::wstring base_;
    std::vector<std::wstring> roots_;
    std::vector<FileEntry> entries_;
};

TEST_F(FileCheckAheadTest, GivesThePlanLogAndCacheOfTheSequentialCheck) {
    HashCache setup(base_);
    auto cached = [&](const std::wstring& name, const std::string& content) {
        Write(name, content);
        ASSERT_EQ(setup.UpdateHashCacheEntry(Path(name), L""), 1);
    };
    auto shift_time = [&](const std::wstring& name, int64_t by) {
        uint64_t time = 0;
        ASSERT_TRUE(FileWriteTime(Path(name), time));
        ASSERT_TRUE(SetFileWriteTime(Path(name), time + uint64_t(by)));
    };
    for (int i = 0; i < 24; ++i) {
        const std::wstring name = FormatText(L"\\current%02d.bin", i);
        const std::string content = "current " + std::to_string(i);
        cached(name, content);
        AddEntry(name, content);
    }
    cached(L"\\touched.bin", "touched");  // same content, newer time
    shift_time(L"\\touched.bin", 10000000);
    AddEntry(L"\\touched.bin", "touched");
    cached(L"\\changed.bin", "version 1");  // the older version, rewritten since it was cached
    shift_time(L"\\changed.bin", 10000000);
    AddEntry(L"\\changed.bin", "version 0", "version 1");
    cached(L"\\same_size.bin", "AAAA");  // rewritten at the same size under a new time
    Write(L"\\same_size.bin", "BBBB");
    shift_time(L"\\same_size.bin", 10000000);
    AddEntry(L"\\same_size.bin", "AAAA");
    cached(L"\\gone.bin", "gone");  // cached, then deleted
    RemoveFile(Path(L"\\gone.bin"));
    AddEntry(L"\\gone.bin", "gone");
    AddEntry(L"\\never.bin", "never");  // neither cached nor installed
    std::filesystem::create_directory(std::filesystem::path(Path(L"\\folder.bin")));  // cannot be read as a file
    AddEntry(L"\\folder.bin", "folder");
    Write(L"\\uncached.bin", "uncached");
    AddEntry(L"\\uncached.bin", "uncached");
    const std::string big(3 * 1048576 + 5, 'b');
    Write(L"\\big.bin", big);
    AddEntry(L"\\big.bin", big);
    Write(L"\\VelmLauncher.exe", "any launcher");  // left to the self-update
    AddEntry(L"\\VelmLauncher.exe", "another launcher");
    setup.SaveLocalHashCache(kCachePath);

#ifdef _WIN32
    // A file another program holds without sharing cannot be hashed.
    Write(L"\\locked.bin", "locked");
    AddEntry(L"\\locked.bin", "locked");
    UniqueHandle held(CreateFileW(Path(L"\\locked.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);
    const size_t unreadable = 2;
#else
    const size_t unreadable = 1;
#endif

    const PlanOutcome sequential = PlanInOrder(-1, L"sequential");
    // Full downloads of the changed, the missing and the unreadable files; one diff step
    // for the file still at the older version.
    ASSERT_EQ(sequential.jobs.size(), 4 + unreadable);
    EXPECT_EQ(sequential.groups, std::vector<std::wstring>{L"1/0"});
    EXPECT_EQ(Count(sequential.log, L"timestamp different recalc md5."), 4u);
    EXPECT_EQ(Count(sequential.log, L"file not found in hash cache recalc md5."), 3 + unreadable);
    for (int workers : {0, 1, 3, 40}) {
        const PlanOutcome parallel = PlanInOrder(workers, FormatText(L"parallel%d", workers));
        EXPECT_EQ(parallel.jobs, sequential.jobs) << workers;
        EXPECT_EQ(parallel.groups, sequential.groups) << workers;
        EXPECT_EQ(parallel.log, sequential.log) << workers;
        EXPECT_EQ(parallel.cache, sequential.cache) << workers;
    }
}

// A cancel ends the hashing in progress instead of letting it run to the end of the file:
// the 4 GiB file (sparse, so it costs no disk) comes back unhashed, as an unreadable file
// does, and the workers are joined.
TEST_F(FileCheckAheadTest, ACancelStopsTheHashingInProgress) {
    for (int i = 0; i < 8; ++i) {
        const std::wstring name = FormatText(L"\\small%d.bin", i);
        Write(name, "small");
        AddEntry(name, "small");
    }
    Write(L"\\huge.bin", "");
    std::filesystem::resize_file(std::filesystem::path(Path(L"\\huge.bin")), uint64_t(4) << 30);
    AddEntry(L"\\huge.bin", "huge");
    for (int i = 8; i < 16; ++i) {
        const std::wstring name = FormatText(L"\\small%d.bin", i);
        Write(name, "small");
        AddEntry(name, "small");
    }
    std::atomic<bool> cancelled{false};
    HashCache cache(base_);
    cache.SetCancelFlag(&cancelled);
    test::CapturedLog log(std::wstring(kRoot) + L"/cancel.log");
    std::vector<LocalFileCheck> checks;
    {
        FileCheckAhead ahead(entries_, cache, false, 2);
        cancelled = true;
        for (size_t i = 0; i < entries_.size(); ++i) checks.push_back(ahead.Take(i));
    }
    const LocalFileCheck& huge = checks[8];
    EXPECT_TRUE(huge.needs_update);
    EXPECT_TRUE(huge.local_hash.empty());
    // Whatever was hashed before the cancel is right; the rest counts as unreadable.
    for (const LocalFileCheck& check : checks)
        EXPECT_TRUE(check.local_hash.empty() || check.local_hash == Hex("small")) << WideToUtf8(check.local_hash);
}

}  // namespace
}  // namespace velm
