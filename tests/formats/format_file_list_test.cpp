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
