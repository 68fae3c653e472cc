#include "formats/hash_cache.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

// A client folder with a few files, and the log captured per test.
class HashCacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        base_ = L"hash_cache_client";
        MakeFolder(base_);
        MakeFolder(base_ + L"/Data");
        Write(L"/a.txt", "alpha");
        Write(L"/Data/B.bin", std::string(10000, 'b'));
        LauncherLog::Instance().ReopenForTest(L"hash_cache_test.log");
    }
    void TearDown() override {
        LauncherLog::Instance().ReopenForTest(L"hash_cache_test_unused.log");
        RemoveFile(base_ + L"/a.txt");
        RemoveFile(base_ + L"/Data/B.bin");
    }
    static void MakeFolder(const std::wstring& path) {
#ifdef _WIN32
        _wmkdir(path.c_str());
#else
        std::string narrow = WideToUtf8(path);
        std::system(("mkdir -p '" + narrow + "'").c_str());
#endif
    }
    void Write(const std::wstring& name, const std::string& content) {
        ASSERT_TRUE(WriteWholeFile(base_ + name, content.data(), content.size()));
    }
    static std::wstring HexOf(const std::string& content) { return Md5ToHex(Md5Bytes(content.data(), content.size())); }
    std::wstring Log() {
        LauncherLog::Instance().ReopenForTest(L"hash_cache_test_unused.log");
        std::vector<uint8_t> bytes;
        ReadWholeFile(L"hash_cache_test.log", bytes, 1 << 20);
        LauncherLog::Instance().ReopenForTest(L"hash_cache_test.log");
        return bytes.size() < 2 ? L"" : Utf16LeToWide(bytes.data() + 2, bytes.size() - 2);
    }
    static size_t Count(const std::wstring& text, const std::wstring& what) {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::wstring::npos; at = text.find(what, at + 1)) ++n;
        return n;
    }

    std::wstring base_;
};

TEST_F(HashCacheTest, UnchangedFilesAreTrustedWithoutReadingAndRoundTripThroughTheFile) {
    HashCache cache(base_);
    for (const wchar_t* name : {L"/a.txt", L"/Data/B.bin"}) {
        std::wstring hash;
        bool recompute = false;
        ASSERT_EQ(cache.GetLocalFileHash(name, hash, recompute), 1);
        EXPECT_TRUE(recompute);  // not cached yet
        ASSERT_EQ(cache.UpdateHashCacheEntry(base_ + name, hash), 1);
    }
    EXPECT_EQ(Count(Log(), L"file not found in hash cache recalc md5. \r\n"), 2u);
    ASSERT_EQ(cache.SaveLocalHashCache(L"hash_cache_test.xml"), 1);

    HashCache reloaded(base_);
    ASSERT_EQ(reloaded.LoadLocalHashCache(L"hash_cache_test.xml"), 1);
    EXPECT_EQ(reloaded.Size(), 2u);
    // A cached entry is believed as long as the time matches: overwrite the content but
    // restore the time, and the stale hash still comes back (the file is not read).
    uint64_t time = 0;
    ASSERT_TRUE(FileWriteTime(base_ + L"/a.txt", time));
    Write(L"/a.txt", "changed");
    ASSERT_TRUE(SetFileWriteTime(base_ + L"/a.txt", time));
    std::wstring hash;
    bool recompute = false;
    ASSERT_EQ(reloaded.GetLocalFileHash(L"/a.txt", hash, recompute), 1);
    EXPECT_FALSE(recompute);
    EXPECT_EQ(hash, HexOf("alpha"));
    // With the recompute flag set on entry the cache is bypassed.
    recompute = true;
    ASSERT_EQ(reloaded.GetLocalFileHash(L"/a.txt", hash, recompute), 1);
    EXPECT_EQ(hash, HexOf("changed"));
}

TEST_F(HashCacheTest, ATouchedFileLogsBothTimestampsAndIsHashedAgain) {
    HashCache cache(base_);
    ASSERT_EQ(cache.UpdateHashCacheEntry(base_ + L"/a.txt", L""), 1);
    uint64_t time = 0;
    ASSERT_TRUE(FileWriteTime(base_ + L"/a.txt", time));
    ASSERT_TRUE(SetFileWriteTime(base_ + L"/a.txt", time + 10000000));
    Log();
    std::wstring hash;
    bool recompute = false;
    ASSERT_EQ(cache.GetLocalFileHash(L"/a.txt", hash, recompute), 1);
    EXPECT_TRUE(recompute);
    EXPECT_EQ(hash, HexOf("alpha"));
    std::wstring log = Log();
    EXPECT_EQ(Count(log, L"timestamp different recalc md5. \r\n"), 1u);
    EXPECT_EQ(Count(log, L"/a.txt local timestamp = "), 1u);
    EXPECT_EQ(Count(log, L"/a.txt xml   timestamp = "), 1u);
}

// The time comes from the file system's record of the file, so a check never opens a file
// whose time is unchanged (on Windows even one another program holds open without
// sharing); the time alone decides, so a rewrite at the same size under a new time is
// hashed again.
TEST_F(HashCacheTest, TheTimeAloneDecidesAndIsTakenWithoutOpeningTheFile) {
    HashCache cache(base_);
    ASSERT_EQ(cache.UpdateHashCacheEntry(base_ + L"/a.txt", L""), 1);
    uint64_t time = 0;
    ASSERT_TRUE(FileWriteTime(base_ + L"/a.txt", time));
    Write(L"/a.txt", "omega");  // as long as "alpha"
    ASSERT_TRUE(SetFileWriteTime(base_ + L"/a.txt", time));
    {
#ifdef _WIN32
        UniqueHandle held(CreateFileW((base_ + L"/a.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(held);
#endif
        std::wstring hash;
        bool recompute = false;
        ASSERT_EQ(cache.GetLocalFileHash(L"/a.txt", hash, recompute), 1);
        EXPECT_FALSE(recompute);
        EXPECT_EQ(hash, HexOf("alpha"));
    }
    ASSERT_TRUE(SetFileWriteTime(base_ + L"/a.txt", time + 10000000));
    std::wstring hash;
    bool recompute = false;
    ASSERT_EQ(cache.GetLocalFileHash(L"/a.txt", hash, recompute), 1);
    EXPECT_TRUE(recompute);
    EXPECT_EQ(hash, HexOf("omega"));
}

TEST_F(HashCacheTest, NamesDifferingInCaseShareOneEntryAndSaveSortsByLowerCaseName) {
    HashCache cache(base_);
    ASSERT_EQ(cache.UpdateHashCacheEntry(base_ + L"/Data/B.bin", L""), 1);
    ASSERT_EQ(cache.UpdateHashCacheEntry(base_ + L"/a.txt", L""), 1);
    HashCacheEntry entry;
    EXPECT_TRUE(cache.Find(L"/DATA/b.BIN", entry));
    EXPECT_EQ(entry.name, L"/Data/B.bin");
    EXPECT_EQ(cache.Size(), 2u);
    ASSERT_EQ(cache.SaveLocalHashCache(L"hash_cache_order.xml"), 1);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(ReadWholeFile(L"hash_cache_order.xml", bytes, 1 << 20));
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes[0], 0xFF);  // UTF-16LE as the declaration says
    std::wstring xml = Utf16LeToWide(bytes.data() + 2, bytes.size() - 2);
    EXPECT_EQ(xml.find(L"<?xml version='1.0' encoding='utf-16'?>"), 0u);
    size_t a = xml.find(L"name=\"/a.txt\""), b = xml.find(L"name=\"/Data/B.bin\"");
    ASSERT_NE(a, std::wstring::npos);
    ASSERT_NE(b, std::wstring::npos);
    EXPECT_LT(a, b);
    EXPECT_NE(xml.find(L"<Root version=\"100\">"), std::wstring::npos);
    EXPECT_LT(xml.find(L"name="), xml.find(L"hash="));
    EXPECT_LT(xml.find(L"hash="), xml.find(L"datetime_low="));
    EXPECT_LT(xml.find(L"datetime_low="), xml.find(L"datetime_hi="));
}

// The cache keeps hashes as digests: a hash in either case is stored (and given back in
// upper case); text that is not an MD5 is not stored at all.
TEST_F(HashCacheTest, OnlyMd5HashesAreStored) {
    HashCache cache(base_);
    EXPECT_EQ(cache.UpdateHashCacheEntry(base_ + L"/a.txt", L"not a hash"), 0);
    EXPECT_EQ(cache.Size(), 0u);
    ASSERT_EQ(cache.UpdateHashCacheEntry(base_ + L"/a.txt", AsciiLower(HexOf("alpha"))), 1);
    HashCacheEntry entry;
    ASSERT_TRUE(cache.Find(L"/a.txt", entry));
    EXPECT_EQ(entry.hash, HexOf("alpha"));
}

TEST_F(HashCacheTest, ADeletedFileYieldsNoHash) {
    HashCache cache(base_);
    ASSERT_EQ(cache.UpdateHashCacheEntry(base_ + L"/a.txt", L""), 1);
    RemoveFile(base_ + L"/a.txt");
    std::wstring hash;
    bool recompute = false;
    EXPECT_EQ(cache.GetLocalFileHash(L"/a.txt", hash, recompute), 0);
    EXPECT_EQ(cache.UpdateHashCacheEntry(base_ + L"/a.txt", L""), 0);
}

// An entry written without a time holds 0, which is also what a missing file's time
// reads as: the cache must not vouch for a file that is not there.
TEST_F(HashCacheTest, AnEntryWithoutATimeNeverVouchesForAMissingFile) {
    const std::string xml =
        "<Root version=\"100\"><FileList>"
        "<file name=\"/gone.dll\" hash=\"0CC175B9C0F1B6A831C399E269772661\"/>"
        "<file name=\"/zero.dll\" hash=\"0CC175B9C0F1B6A831C399E269772661\" datetime_low=\"0\" datetime_hi=\"0\"/>"
        "</FileList></Root>";
    ASSERT_TRUE(WriteWholeFile(L"hash_cache_no_time.xml", xml.data(), xml.size()));
    HashCache cache(base_);
    ASSERT_EQ(cache.LoadLocalHashCache(L"hash_cache_no_time.xml"), 1);
    for (const wchar_t* name : {L"/gone.dll", L"/zero.dll"}) {
        std::wstring hash;
        bool recompute = false;
        EXPECT_EQ(cache.GetLocalFileHash(name, hash, recompute), 0) << WideToUtf8(name) << " " << WideToUtf8(hash);
    }
}

TEST_F(HashCacheTest, RejectedCacheFilesLeaveTheCacheEmpty) {
    const std::string bad_files[] = {
        "<Root version=\"99\"><FileList><file name=\"/a.txt\" hash=\"00000000000000000000000000000000\"/></FileList></Root>",
        "<Root><FileList/></Root>",
        "<Root version=\"100\"/>",
        "<Root version=\"100\"><FileList><file name=\"/a.txt\"",  // truncated
        std::string("\x00\xFF\x13garbage", 10),
        "",
    };
    for (const std::string& content : bad_files) {
        ASSERT_TRUE(WriteWholeFile(L"hash_cache_bad.xml", content.data(), content.size()));
        HashCache cache(base_);
        ASSERT_EQ(cache.UpdateHashCacheEntry(base_ + L"/a.txt", L""), 1);
        EXPECT_EQ(cache.LoadLocalHashCache(L"hash_cache_bad.xml"), 0) << content;
        EXPECT_EQ(cache.Size(), 0u) << content;
    }
    HashCache cache(base_);
    EXPECT_EQ(cache.LoadLocalHashCache(L"hash_cache_missing.xml"), 0);
}

TEST_F(HashCacheTest, EntriesThatCouldNeverMatchAreDroppedAndMissingTimesReadAsZero) {
    std::string xml =
        "<?xml version='1.0'?><Root version=\"100\"><FileList>"
        "<file name=\"/ok.txt\" hash=\"0cc175b9c0f1b6a831c399e269772661\"/>"
        "<anything name=\"/odd.txt\" hash=\"0CC175B9C0F1B6A831C399E269772661\" datetime_low=\"5\" datetime_hi=\"x\"/>"
        "<file name=\"/short.txt\" hash=\"0CC1\"/>"
        "<file hash=\"0CC175B9C0F1B6A831C399E269772661\"/>"
        "<file name=\"/" + std::string(2000, 'n') + "\" hash=\"0CC175B9C0F1B6A831C399E269772661\"/>"
        "</FileList></Root>";
    ASSERT_TRUE(WriteWholeFile(L"hash_cache_entries.xml", xml.data(), xml.size()));
    HashCache cache(base_);
    ASSERT_EQ(cache.LoadLocalHashCache(L"hash_cache_entries.xml"), 1);
    EXPECT_EQ(cache.Size(), 2u);
    HashCacheEntry entry;
    ASSERT_TRUE(cache.Find(L"/ok.txt", entry));
    EXPECT_EQ(entry.time, 0u);
    EXPECT_EQ(entry.hash, L"0CC175B9C0F1B6A831C399E269772661");
    ASSERT_TRUE(cache.Find(L"/odd.txt", entry));
    EXPECT_EQ(entry.time, 5u);  // the element name is not examined; a bad half reads as 0
}

}  // namespace
}  // namespace velm
