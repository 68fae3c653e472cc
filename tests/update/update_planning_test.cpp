#include "update/update_planning.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "common/file_io.h"
#include "common/file_system.h"
#include "common/md5.h"
#include "common/text.h"

namespace velm {
namespace {

std::wstring Hex(const std::string& content) { return Md5ToHex(Md5Bytes(content.data(), content.size())); }

class UpdatePlanning : public ::testing::Test {
protected:
    void SetUp() override {
        base_ = L"planning_client";
#ifdef _WIN32
        _wmkdir(base_.c_str());
#else
        std::system("mkdir -p planning_client");
#endif
        roots_ = {L"http://127.0.0.1/v3", L"http://127.0.0.1/v2", L"http://127.0.0.1/v1"};
    }
    void TearDown() override { RemoveFile(base_ + L"\\f.bin"); }

    // An entry whose installed file holds "v<installed>" with a three-version history:
    // version 0 "v0" (current), 1 "v1", 2 "v2", and the given diff sizes of steps 1->0, 2->1.
    FileEntry Entry(int installed, int32_t diff0, int32_t diff1, int32_t size_compressed) {
        std::string content = "v" + std::to_string(installed);
        EXPECT_TRUE(WriteWholeFile(base_ + L"\\f.bin", content.data(), content.size()));
        FileEntry entry;
        entry.name = L"\\f.bin";
        entry.full_path = base_ + entry.name;
        entry.hash = Hex("v0");
        entry.size_compressed = size_compressed;
        entry.flags = 1;
        entry.history = {{Hex("v0"), diff0}, {Hex("v1"), diff1}, {Hex("v2"), 0}};
        return entry;
    }

    std::wstring base_;
    std::vector<std::wstring> roots_;
    std::vector<PlannedJob> jobs_;
    std::vector<PatchGroup> groups_;
};

TEST_F(UpdatePlanning, ChainFromTheInstalledVersionOldestStepFirst) {
    HashCache cache(base_);
    ASSERT_TRUE(PlanEntry(Entry(2, 100, 50, 1000), roots_, cache, false, jobs_, groups_));
    ASSERT_EQ(jobs_.size(), 2u);
    EXPECT_EQ(jobs_[0].url, L"http://127.0.0.1/v2\\f.bin.diff");
    EXPECT_EQ(jobs_[0].local_path, base_ + L"\\f.bin.diff.0");
    EXPECT_EQ(jobs_[0].expected_size, 50);
    EXPECT_EQ(jobs_[1].url, L"http://127.0.0.1/v3\\f.bin.diff");
    EXPECT_EQ(jobs_[1].local_path, base_ + L"\\f.bin.diff.1");
    EXPECT_EQ(jobs_[1].expected_size, 100);
    for (const auto& job : jobs_) {
        EXPECT_EQ(job.patch_group, 0);
        EXPECT_EQ(job.full_download, 0);
        EXPECT_EQ(job.flags, 1u);
        EXPECT_EQ(job.file_name, L"\\f.bin");
    }
    ASSERT_EQ(groups_.size(), 1u);
    EXPECT_EQ(groups_[0].count, 2);
    EXPECT_EQ(groups_[0].done, 0);
}

TEST_F(UpdatePlanning, FullDownloadWhenDiffsAreNotSmallerOrTheVersionIsUnknown) {
    struct Case {
        const char* what;
        int installed;
        int32_t diff0, diff1, size_compressed;
        const wchar_t* url;
    } cases[] = {
        {"diffs as large as the file", 2, 100, 50, 150, L"http://127.0.0.1/v3\\f.bin"},
        {"installed version not in the history", 9, 100, 50, 1000, L"http://127.0.0.1/v3\\f.bin"},
        {"broken chain: versions differ, no diff", 2, 0, 50, 1000, L"http://127.0.0.1/v2\\f.bin"},
    };
    for (const auto& c : cases) {
        HashCache cache(base_);
        jobs_.clear();
        groups_.clear();
        ASSERT_TRUE(PlanEntry(Entry(c.installed, c.diff0, c.diff1, c.size_compressed), roots_, cache, false,
                              jobs_, groups_))
            << c.what;
        ASSERT_EQ(jobs_.size(), 1u) << c.what;
        EXPECT_EQ(jobs_[0].url, c.url) << c.what;
        EXPECT_EQ(jobs_[0].local_path, base_ + L"\\f.bin") << c.what;
        EXPECT_EQ(jobs_[0].full_download, 1) << c.what;
        EXPECT_EQ(jobs_[0].patch_group, -1) << c.what;
        EXPECT_EQ(jobs_[0].expected_size, c.size_compressed) << c.what;
        EXPECT_TRUE(groups_.empty()) << c.what;
    }
}

TEST_F(UpdatePlanning, FullDownloadComesFromTheFirstVersionWithAPublishedDiff) {
    HashCache cache(base_);
    FileEntry entry = Entry(9, 0, 40, 1000);
    entry.history[1].hash = entry.history[0].hash;  // unchanged in the last release
    ASSERT_TRUE(PlanEntry(entry, roots_, cache, false, jobs_, groups_));
    ASSERT_EQ(jobs_.size(), 1u);
    EXPECT_EQ(jobs_[0].url, L"http://127.0.0.1/v2\\f.bin");
}

TEST_F(UpdatePlanning, CurrentFilesGiveNoJobAndRefreshARecomputedCacheEntry) {
    HashCache cache(base_);
    FileEntry entry = Entry(0, 100, 50, 1000);
    entry.hash = AsciiLower(entry.hash);  // published in lower case: still current
    ASSERT_TRUE(PlanEntry(entry, roots_, cache, false, jobs_, groups_));
    EXPECT_TRUE(jobs_.empty());
    HashCacheEntry cached;
    ASSERT_TRUE(cache.Find(L"\\f.bin", cached));  // recomputed, so stored for the next run
    EXPECT_EQ(cached.hash, Hex("v0"));
    uint64_t time = 0;
    ASSERT_TRUE(FileWriteTime(base_ + L"\\f.bin", time));
    EXPECT_EQ(cached.time, time);
}

TEST_F(UpdatePlanning, HistoryHashesCompareExactly) {
    HashCache cache(base_);
    FileEntry entry = Entry(2, 100, 50, 1000);
    entry.history[2].hash = AsciiLower(entry.history[2].hash);
    ASSERT_TRUE(PlanEntry(entry, roots_, cache, false, jobs_, groups_));
    ASSERT_EQ(jobs_.size(), 1u);
    EXPECT_EQ(jobs_[0].full_download, 1);
}

TEST_F(UpdatePlanning, TheLauncherEntryIsLeftToSelfUpdateExceptInPackageMode) {
    FileEntry entry = Entry(2, 100, 50, 1000);
    entry.name = L"\\velmlauncher.EXE";
    entry.full_path = base_ + entry.name;
    HashCache cache(base_);
    ASSERT_TRUE(PlanEntry(entry, roots_, cache, false, jobs_, groups_));
    EXPECT_TRUE(jobs_.empty());
    ASSERT_TRUE(PlanEntry(entry, roots_, cache, true, jobs_, groups_));
    EXPECT_EQ(jobs_.size(), 1u);  // missing file in package mode: full download
}

TEST_F(UpdatePlanning, AnEntryNeedingARootTheListLacksAppendsNothing) {
    HashCache cache(base_);
    std::vector<std::wstring> one_root = {roots_[0]};
    EXPECT_FALSE(PlanEntry(Entry(2, 100, 50, 1000), one_root, cache, false, jobs_, groups_));
    EXPECT_FALSE(PlanEntry(Entry(9, 0, 40, 1000), one_root, cache, false, jobs_, groups_));
    EXPECT_TRUE(jobs_.empty());
    EXPECT_TRUE(groups_.empty());
}

TEST(CheckDiffHistory, StartAndTotalIncludeZeroSizedSteps) {
    std::vector<HistoryVersion> history = {{L"A", 10}, {L"B", 0}, {L"B", 7}, {L"C", 0}};
    int32_t start = 0;
    int64_t total = 0;
    CheckDiffHistory(L"C", history, start, total);
    EXPECT_EQ(start, 3);
    EXPECT_EQ(total, 17);
    CheckDiffHistory(L"", history, start, total);
    EXPECT_EQ(start, -1);
    CheckDiffHistory(L"Z", {}, start, total);
    EXPECT_EQ(start, -1);
}

}  // namespace
}  // namespace velm
