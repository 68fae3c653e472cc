// File list reader and writer, and the ".hash" companion.
#include "common/md5.h"
#include "common/text.h"
#include "formats/file_list.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

const char kHash1[] = "0123456789ABCDEF0123456789ABCDEF";

std::string Document(const std::string& roots, const std::string& files,
                     const std::string& tail = "") {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><Root><Store URLRoot=\"http://h/p\"/>"
           "<UrlRootList>" + roots + "</UrlRootList><FileList>" + files + "</FileList>" + tail +
           "</Root>";
}

const std::string kTwoRoots = "<U urlroot=\"http://h/p/v2\"/><U urlroot=\"http://h/p/v1\"/>";

TEST(FileList, ReadsRootsEntriesHistoryLauncherAndScript) {
    std::string xml = Document(
        "<U urlroot=\"http://h/p/v3\"/><U/><U urlroot=\"http://h/p/v2\"/>",
        "<File name=\"\\a\\b.bin\" hash=\"" + std::string(kHash1) +
            "\" size_compressed=\"1000\" flags=\"1\" diff_size=\"100\" diff=\"9\">"
            "<histroy hash=\"" + kHash1 + "\" diff_size=\"50\"/>"
            "<histroy hash=\"" + kHash1 + "\"/>"
            "<histroy hash=\"" + kHash1 + "\" diff_size=\"7\"/></File>"
            "<Other name=\"\\c.txt\" size_compressed=\"5\"/>",
        "<LauncherCompressed URL=\"http://h/p/l.exe\" hash=\"ab\" size_compressed=\"77\"/>"
        "<Script><C name=\"DELETE_FILE\" p0=\"x\" p1=\"y\" p3=\"z\"/><C p0=\"no name\"/></Script>");
    FileListDocument doc;
    std::string error;
    ASSERT_EQ(ParseFileList(xml, L"C:\\game", doc, error), 1) << error;
    // A root element without urlroot takes no index.
    ASSERT_EQ(doc.url_roots.size(), 2u);
    EXPECT_EQ(doc.url_roots[1], L"http://h/p/v2");
    ASSERT_EQ(doc.entries.size(), 2u);
    const FileEntry& a = doc.entries[0];
    EXPECT_EQ(a.full_path, L"C:\\game\\a\\b.bin");
    EXPECT_EQ(a.size_compressed, 1000);
    EXPECT_EQ(a.flags, 1u);
    // History stops at the first histroy lacking an attribute.
    ASSERT_EQ(a.history.size(), 2u);
    EXPECT_EQ(a.history[0].diff_size, 100);
    EXPECT_EQ(a.history[1].diff_size, 50);
    const FileEntry& c = doc.entries[1];
    EXPECT_EQ(c.flags, 0u);
    EXPECT_EQ(c.diff_size, 0);
    EXPECT_EQ(c.history.size(), 1u);
    EXPECT_TRUE(doc.has_launcher);
    EXPECT_EQ(doc.launcher.size_compressed, 77);
    ASSERT_TRUE(doc.has_script);
    ASSERT_EQ(doc.script.size(), 1u);
    EXPECT_EQ(doc.script[0].args.size(), 2u);  // p2 missing ends the arguments
}

struct BadCase {
    const char* what;
    std::string xml;
};

TEST(FileList, RejectsMalformedDocuments) {
    auto file = [](const std::string& attributes) {
        return Document(kTwoRoots, "<File " + attributes + "/>");
    };
    const std::string ok_hash = std::string("hash=\"") + kHash1 + "\" ";
    const BadCase cases[] = {
        {"not XML", "<Root><Store/>"},
        {"no Store", "<Root><UrlRootList/><FileList/></Root>"},
        {"no FileList", "<Root><Store/><UrlRootList/></Root>"},
        {"no size_compressed", file("name=\"\\a\" " + ok_hash)},
        {"size not decimal", file("name=\"\\a\" size_compressed=\"12x\"")},
        {"size negative", file("name=\"\\a\" size_compressed=\"-1\"")},
        {"size over 32 bits", file("name=\"\\a\" size_compressed=\"2147483648\"")},
        {"flags over 32 bits", file("name=\"\\a\" size_compressed=\"1\" flags=\"4294967296\"")},
        {"diff_size not decimal", file("name=\"\\a\" size_compressed=\"1\" diff_size=\"\"")},
        {"name leaves the folder", file("name=\"\\..\\x\" size_compressed=\"1\"")},
        {"name with drive", file("name=\"\\C:\\x\" size_compressed=\"1\"")},
        {"name without leading backslash", file("name=\"a.txt\" size_compressed=\"1\"")},
        {"empty name", file("size_compressed=\"1\"")},
        {"doubled separator", file("name=\"\\a\\\\b\" size_compressed=\"1\"")},
        {"bad hash", file("name=\"\\a\" hash=\"xyz\" size_compressed=\"1\"")},
        {"sha256 without file_size", file("name=\"\\a\" size_compressed=\"1\" sha256=\"" + std::string(64, 'a') + "\"")},
        {"file_size without sha256", file("name=\"\\a\" size_compressed=\"1\" file_size=\"5\"")},
        {"sha256 of 63 digits",
         file("name=\"\\a\" size_compressed=\"1\" file_size=\"5\" sha256=\"" + std::string(63, 'a') + "\"")},
        {"sha256 not hexadecimal",
         file("name=\"\\a\" size_compressed=\"1\" file_size=\"5\" sha256=\"" + std::string(64, 'g') + "\"")},
        {"file_size beyond any client file",
         file("name=\"\\a\" size_compressed=\"1\" file_size=\"17179869185\" sha256=\"" + std::string(64, 'a') +
              "\"")},
        {"diff_file_size without diff_sha256",
         Document(kTwoRoots, "<F name=\"\\a\" size_compressed=\"1\">"
                             "<histroy hash=\"" + std::string(kHash1) + "\" diff_size=\"3\" diff_file_size=\"9\"/></F>")},
        {"launcher sha256 without file_size",
         Document(kTwoRoots, "", "<LauncherCompressed URL=\"u\" hash=\"h\" size_compressed=\"1\" sha256=\"" +
                                     std::string(64, 'a') + "\"/>")},
        {"more history than roots",
         Document(kTwoRoots, "<F name=\"\\a\" size_compressed=\"1\">"
                             "<histroy hash=\"" + std::string(kHash1) + "\" diff_size=\"0\"/>"
                             "<histroy hash=\"" + kHash1 + "\" diff_size=\"0\"/></F>")},
    };
    for (const BadCase& c : cases) {
        FileListDocument doc;
        std::string error;
        EXPECT_EQ(ParseFileList(c.xml, L"", doc, error), 0) << c.what;
        EXPECT_FALSE(error.empty()) << c.what;
    }
}

TEST(FileList, WriterOutputReadsBackUnchanged) {
    FileListDocument doc;
    doc.store_url_root = L"http://h/p";
    doc.url_roots = {L"http://h/p/v2", L"http://h/p/v1"};
    FileEntry entry;
    entry.name = L"\\数据\\a&b 'c'.bin";
    entry.hash = Utf8ToWide(kHash1);
    entry.size_compressed = 123;
    entry.flags = 1;
    entry.diff_size = 45;
    entry.history = {{entry.hash, 45}, {L"FEDCBA9876543210FEDCBA9876543210", 0}};
    doc.entries.push_back(entry);
    doc.has_launcher = true;
    doc.launcher = {L"http://h/p/v2/.launcher/VelmLauncher.exe", entry.hash, 99};
    doc.has_script = true;
    doc.script = {{L"CREATE_SHORTCUT", {L"VelmLauncher.exe", L"{DESKTOP}\\维尔姆.lnk", L"\"x\""}}};
    std::string xml = WriteFileList(doc);
    FileListDocument read;
    std::string error;
    ASSERT_EQ(ParseFileList(xml, L"", read, error), 1) << error << xml;
    EXPECT_EQ(read.url_roots, doc.url_roots);
    ASSERT_EQ(read.entries.size(), 1u);
    EXPECT_EQ(read.entries[0].name, entry.name);
    EXPECT_EQ(read.entries[0].size_compressed, 123);
    ASSERT_EQ(read.entries[0].history.size(), 2u);
    EXPECT_EQ(read.entries[0].history[1].hash, entry.history[1].hash);
    EXPECT_EQ(read.launcher.url, doc.launcher.url);
    ASSERT_EQ(read.script.size(), 1u);
    EXPECT_EQ(read.script[0].args, doc.script[0].args);
    // The launcher reads the names exactly as spelt, including the misspelt history.
    EXPECT_NE(xml.find("<histroy hash="), std::string::npos);
    EXPECT_NE(xml.find("encoding=\"utf-8\""), std::string::npos);
}

ContentDigest Digest(uint8_t fill, uint64_t size) {
    ContentDigest digest;
    digest.present = true;
    digest.sha256.fill(fill);
    digest.size = size;
    return digest;
}

// The SHA-256 and size pairs go where the list's readers look for them, read back as
// written, and a list without them reads as before.
TEST(FileList, ContentDigestsReadBackWhereTheyWereWritten) {
    FileListDocument doc;
    doc.url_roots = {L"http://h/p/v3", L"http://h/p/v2", L"http://h/p/v1"};
    FileEntry entry;
    entry.name = L"\\a.bin";
    entry.hash = Utf8ToWide(kHash1);
    entry.size_compressed = 10;
    entry.diff_size = 4;
    entry.content = Digest(0x11, 1000);
    entry.diff = Digest(0x22, 40);
    // Version 1 was made by no diff, version 2 has none published either way.
    entry.history = {{entry.hash, 4, entry.content, entry.diff},
                     {L"FEDCBA9876543210FEDCBA9876543210", 0, Digest(0x33, 900), {}},
                     {L"00000000000000000000000000000000", 0, {}, {}}};
    doc.entries.push_back(entry);
    doc.has_launcher = true;
    doc.launcher = {L"http://h/p/l.exe", entry.hash, 99, Digest(0xAB, 4096)};
    const std::string xml = WriteFileList(doc);
    EXPECT_NE(xml.find("sha256=\"" + std::string(64, '1') + "\""), std::string::npos) << xml;
    EXPECT_NE(xml.find("diff_file_size=\"40\""), std::string::npos) << xml;

    FileListDocument read;
    std::string error;
    ASSERT_EQ(ParseFileList(xml, L"", read, error), 1) << error << xml;
    ASSERT_EQ(read.entries.size(), 1u);
    const FileEntry& got = read.entries[0];
    EXPECT_EQ(got.content, entry.content);
    EXPECT_EQ(got.diff, entry.diff);
    ASSERT_EQ(got.history.size(), 3u);
    for (size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(got.history[k].content, entry.history[k].content) << k;
        EXPECT_EQ(got.history[k].diff, entry.history[k].diff) << k;
    }
    EXPECT_EQ(read.launcher.content, doc.launcher.content);
    EXPECT_EQ(FindUnvouchedObject(read), L"");

    const std::string plain = Document(kTwoRoots, "<F name=\"\\a\" hash=\"" + std::string(kHash1) +
                                                      "\" size_compressed=\"1\"/>");
    ASSERT_EQ(ParseFileList(plain, L"", read, error), 1) << error;
    EXPECT_FALSE(read.entries[0].content.present);
    EXPECT_FALSE(read.entries[0].history[0].content.present);
}

// Under a release key every object the run may write must be bound to the signed list.
TEST(FileList, FindsTheFirstObjectASignedReleaseCannotVouchFor) {
    auto complete = [] {
        FileListDocument doc;
        FileEntry entry;
        entry.name = L"\\a.bin";
        entry.hash = Utf8ToWide(kHash1);
        entry.diff_size = 4;
        entry.content = Digest(1, 10);
        entry.diff = Digest(2, 4);
        entry.history = {{entry.hash, 4, entry.content, entry.diff}, {entry.hash, 0, {}, {}}};
        doc.entries = {entry};
        doc.has_launcher = true;
        doc.launcher.content = Digest(3, 5);
        return doc;
    };
    struct Case {
        const char* what;
        void (*damage)(FileListDocument&);
        const wchar_t* expected;  // part of the line; null for none
    } cases[] = {
        {"complete", [](FileListDocument&) {}, nullptr},
        {"a version no diff makes needs nothing", [](FileListDocument& d) { d.entries[0].history[1].content = {}; },
         nullptr},
        {"no launcher entry", [](FileListDocument& d) { d.has_launcher = false; d.launcher.content = {}; }, nullptr},
        {"entry without MD5", [](FileListDocument& d) { d.entries[0].hash.clear(); }, L"\\a.bin : the file list gives no MD5"},
        {"entry without its digest", [](FileListDocument& d) { d.entries[0].content = {}; },
         L"\\a.bin : the file list gives no SHA-256 and size"},
        {"diff step without the diff's digest", [](FileListDocument& d) { d.entries[0].history[0].diff = {}; },
         L"for the diff to the current version"},
        {"diff step without its result's digest", [](FileListDocument& d) { d.entries[0].history[0].content = {}; },
         L"for the diff to the current version"},
        {"launcher without its digest", [](FileListDocument& d) { d.launcher.content = {}; },
         L"LauncherCompressed : the file list gives no SHA-256 and size"},
    };
    for (const Case& c : cases) {
        FileListDocument doc = complete();
        c.damage(doc);
        const std::wstring line = FindUnvouchedObject(doc);
        if (!c.expected) {
            EXPECT_EQ(line, L"") << c.what;
        } else {
            EXPECT_NE(line.find(c.expected), std::wstring::npos) << c.what << ": " << WideToUtf8(line);
        }
    }
}

TEST(FileList, CompanionIsUtf16HexOfTheXml) {
    std::string xml = "<Root/>";
    std::string companion = FileListHashCompanion(xml);
    ASSERT_EQ(companion.size(), 64u);  // 32 UTF-16 units, no BOM, no line end
    std::wstring text = Utf16LeToWide(reinterpret_cast<const uint8_t*>(companion.data()),
                                      companion.size());
    EXPECT_EQ(text, Md5ToHex(Md5Bytes(xml.data(), xml.size())));
    EXPECT_EQ(text, AsciiUpper(text));
}

TEST(FileList, FullDownloadRootIsFirstPublishedDiffElseLast) {
    FileEntry entry;
    entry.history = {{L"A", 0}, {L"A", 40}, {L"B", 0}};
    EXPECT_EQ(FullDownloadRootIndex(entry), 1u);
    entry.history = {{L"A", 0}, {L"A", 0}};
    EXPECT_EQ(FullDownloadRootIndex(entry), 1u);
    entry.history = {{L"A", 0}};
    EXPECT_EQ(FullDownloadRootIndex(entry), 0u);
}

}  // namespace
}  // namespace velm
