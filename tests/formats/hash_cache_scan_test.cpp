#include "formats/hash_cache_scan.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "common/file_io.h"
#include "common/text.h"
#include "formats/hash_cache.h"

namespace velm {
namespace {

const std::wstring kPath = L"hash_cache_scan.xml";
const wchar_t* const kA = L"0CC175B9C0F1B6A831C399E269772661";
const wchar_t* const kB = L"92EB5FFEE6AE2FEC3AD71C777531578F";

void WriteUtf16(const std::wstring& text, bool odd_byte = false) {
    std::string bytes = "\xFF\xFE" + WideToUtf16Le(text);
    if (odd_byte) bytes.push_back('x');
    ASSERT_TRUE(WriteWholeFile(kPath, bytes.data(), bytes.size()));
}

// A character beyond the Basic Multilingual Plane, as this platform's wide strings hold it.
#if WCHAR_MAX > 0xFFFF
const std::wstring kBeyondPlane(1, wchar_t(0x1F600));
#else
const std::wstring kBeyondPlane = {wchar_t(0xD83D), wchar_t(0xDE00)};
#endif

std::wstring Entry(const std::wstring& attributes) { return L"<file " + attributes + L"/>"; }
std::wstring Cache(const std::wstring& list_content, const std::wstring& root_extra = L"") {
    return L"<?xml version='1.0' encoding='utf-16'?>\n<Root version=\"100\">\n\t<FileList>\n" + list_content +
           L"\t</FileList>\n" + root_extra + L"</Root>\n";
}

struct Loaded {
    CacheScanResult scan;
    int load;
    std::vector<std::wstring> entries;  // name hash time, for the names asked about
};

Loaded Read(const std::vector<std::wstring>& names) {
    Loaded loaded;
    loaded.scan = ScanHashCacheFile(kPath, 1 << 20, [](const ScannedCacheEntry&) {});
    HashCache cache(L"base");
    loaded.load = cache.LoadLocalHashCache(kPath);
    EXPECT_EQ(cache.Size(), names.size());
    for (const std::wstring& name : names) {
        HashCacheEntry entry;
        if (!cache.Find(name, entry)) {
            loaded.entries.push_back(L"missing " + name);
            continue;
        }
        loaded.entries.push_back(FormatText(L"%ls %ls %llu", entry.name.c_str(), entry.hash.c_str(),
                                            (unsigned long long)entry.time));
    }
    return loaded;
}

TEST(HashCacheScan, ReadsWhatItCanAndLeavesTheRestToTheGeneralReaderWithTheSameResult) {
    const std::wstring a = Entry(L"name=\"\\a.dat\" hash=\"" + std::wstring(kA) + L"\" datetime_low=\"1\" datetime_hi=\"2\"");
    const std::wstring a_cache = std::wstring(L"\\a.dat ") + kA + L" 8589934593";
    struct Case {
        const char* what;
        std::wstring text;
        bool odd_byte;
        CacheScanResult scan;
        int load;
        std::vector<std::wstring> names;
        std::vector<std::wstring> expected;
    } cases[] = {
        {"as the launcher saves it", Cache(L"\t\t" + a + L"\n\t\t" + Entry(L"name=\"\\B\" hash=\"" + std::wstring(kB) +
                                                                        L"\" datetime_low=\"0\" datetime_hi=\"0\"") + L"\n"),
         false, CacheScanResult::kRead, 1, {L"\\a.dat", L"\\b"}, {a_cache, std::wstring(L"\\B ") + kB + L" 0"}},
        {"written on one line with CR LF, double-quoted declaration",
         L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<Root version=\"100\"><FileList>" + a +
             L"</FileList></Root>\r\n",
         false, CacheScanResult::kRead, 1, {L"\\a.dat"}, {a_cache}},
        {"any quoting, spacing, order, repeated attributes, entities, element names and nesting",
         Cache(L"<x datetime_hi = '2' hash='" + std::wstring(kA) +
                   L"' name='\\&amp;&#x41;&#66;&lt;&gt;&quot;&apos;' name='\\ignored' datetime_low='1'>"
                   L"text<inner name='\\inner'/></x>\n",
               L"<FileList><file name='\\second list' hash='" + std::wstring(kB) + L"'/></FileList>"),
         false, CacheScanResult::kRead, 1, {L"\\&AB<>\"'"}, {std::wstring(L"\\&AB<>\"' ") + kA + L" 8589934593"}},
        {"lower-case hash, bad halves, no name, short hash",
         Cache(Entry(L"name='\\l' hash='" + AsciiLower(kA) + L"' datetime_low='-1' datetime_hi=' 3'") +
               Entry(L"hash='" + std::wstring(kA) + L"'") + Entry(L"name='\\s' hash='0CC1'")),
         false, CacheScanResult::kRead, 1, {L"\\l"}, {std::wstring(L"\\l ") + kA + L" 12884901888"}},
        {"a comment", Cache(L"<!-- kept by hand -->" + a), false, CacheScanResult::kNotPlain, 1, {L"\\a.dat"},
         {a_cache}},
        {"CDATA", Cache(a + L"<![CDATA[x]]>"), false, CacheScanResult::kNotPlain, 1, {L"\\a.dat"}, {a_cache}},
        {"a tab inside a value, which the general reader turns into a space",
         Cache(Entry(L"name='\\t\tb' hash='" + std::wstring(kA) + L"'")), false, CacheScanResult::kNotPlain, 1,
         {L"\\t b"}, {std::wstring(L"\\t b ") + kA + L" 0"}},
        {"a character beyond the Basic Multilingual Plane",
         Cache(Entry(L"name='\\" + kBeyondPlane + L"' hash='" + std::wstring(kA) + L"'")), false,
         CacheScanResult::kNotPlain, 1, {L"\\" + kBeyondPlane}, {L"\\" + kBeyondPlane + L" " + kA + L" 0"}},
        {"an entity the general reader keeps as text", Cache(Entry(L"name='\\&x;' hash='" + std::wstring(kA) + L"'")),
         false, CacheScanResult::kNotPlain, 1, {L"\\&x;"}, {std::wstring(L"\\&x; ") + kA + L" 0"}},
        {"truncated", Cache(a).substr(0, 150), false, CacheScanResult::kNotPlain, 0, {}, {}},
        {"another version", L"<Root version=\"99\"><FileList>" + a + L"</FileList></Root>", false,
         CacheScanResult::kNotPlain, 0, {}, {}},
        {"no FileList", L"<Root version=\"100\"><Other>" + a + L"</Other></Root>", false,
         CacheScanResult::kNotPlain, 0, {}, {}},
        {"mismatched end tag", Cache(L"<file name='\\x'></fil>"), false, CacheScanResult::kNotPlain, 0, {}, {}},
        {"a second top-level element", Cache(a) + L"<Root version=\"100\"/>", false, CacheScanResult::kNotPlain,
         1, {L"\\a.dat"}, {a_cache}},
        {"half a unit at the end", Cache(a), true, CacheScanResult::kNotPlain, 1, {L"\\a.dat"}, {a_cache}},
    };
    for (const Case& c : cases) {
        WriteUtf16(c.text, c.odd_byte);
        const Loaded loaded = Read(c.names);
        EXPECT_EQ(loaded.scan, c.scan) << c.what;
        EXPECT_EQ(loaded.load, c.load) << c.what;
        EXPECT_EQ(loaded.entries, c.expected) << c.what;
    }
}

TEST(HashCacheScan, AMissingOrOversizedFileIsNotRead) {
    RemoveFile(kPath);
    EXPECT_EQ(ScanHashCacheFile(kPath, 1 << 20, [](const ScannedCacheEntry&) {}), CacheScanResult::kUnreadable);
    WriteUtf16(Cache(L""));
    EXPECT_EQ(ScanHashCacheFile(kPath, 1 << 20, [](const ScannedCacheEntry&) {}), CacheScanResult::kRead);
    EXPECT_EQ(ScanHashCacheFile(kPath, 20, [](const ScannedCacheEntry&) {}), CacheScanResult::kUnreadable);
}

// Entries far apart in the file cross the reader's block boundaries.
TEST(HashCacheScan, ALargeCacheReadsBackWhole) {
    HashCache saved(L"");
    std::wstring list;
    for (int i = 0; i < 20000; ++i) {
        list += Entry(FormatText(L"name=\"\\d%03d\\f%05d.dat\" hash=\"%ls\" datetime_low=\"%d\" datetime_hi=\"7\"",
                                 i % 200, i, i % 2 ? kA : kB, i));
        list += L"\r\n";
    }
    WriteUtf16(Cache(list));
    size_t scanned = 0;
    EXPECT_EQ(ScanHashCacheFile(kPath, 64 << 20, [&](const ScannedCacheEntry&) { ++scanned; }),
              CacheScanResult::kRead);
    EXPECT_EQ(scanned, 20000u);
    HashCache cache(L"");
    ASSERT_EQ(cache.LoadLocalHashCache(kPath), 1);
    EXPECT_EQ(cache.Size(), 20000u);
    HashCacheEntry entry;
    ASSERT_TRUE(cache.Find(L"\\D199\\F19999.DAT", entry));
    EXPECT_EQ(entry.hash, kA);
    EXPECT_EQ(entry.time, (uint64_t(7) << 32) + 19999);
}

}  // namespace
}  // namespace velm
