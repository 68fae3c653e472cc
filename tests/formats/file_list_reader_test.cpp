#include <gtest/gtest.h>

#include "common/text.h"
#include "formats/content_digest.h"
#include "formats/file_list.h"
#include "formats/plain_xml_index.h"

namespace velm {
namespace {

TEST(ReplaceUrlRoot, ReplacesEachOccurrenceOnceLeftToRight) {
    struct Case {
        const wchar_t* value;
        const wchar_t* search;
        const wchar_t* replacement;
        const wchar_t* expected;
    } cases[] = {
        {L"a/b/a", L"a", L"aa", L"aa/b/aa"},  // the replacement holds the search text
        {L"http://old/patch/v1/", L"http://old", L"http://127.0.0.1:8080", L"http://127.0.0.1:8080/patch/v1/"},
        {L"http://old/", L"", L"http://new", L"http://old/"},  // no search text: untouched
        {L"Old/old", L"old", L"x", L"Old/x"},                 // case-sensitive
        {L"aaaa", L"aa", L"", L""},
        {L"abc", L"abcd", L"x", L"abc"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReplaceUrlRoot(c.value, c.search, c.replacement), c.expected) << c.value;
}

std::string ListWithNames(const std::vector<std::string>& names) {
    std::string xml = "<Root><Store/><UrlRootList><R urlroot=\"http://h/v1/\"/></UrlRootList><FileList>";
    for (const std::string& name : names)
        xml += "<File name=\"" + name + "\" hash=\"0123456789ABCDEF0123456789ABCDEF\" size_compressed=\"5\"/>";
    return xml + "</FileList></Root>";
}

// A tampered list must not stop the update of the files it names safely, and each name
// that would leave the installation folder must come back to be reported.
TEST(ParseFileList, CollectsEscapingNamesAndKeepsTheRest) {
    const std::string xml =
        ListWithNames({"\\ok.dat", "\\..\\x", "a/../../x", "C:\\x", "\\\\srv\\s\\x", "\\Data\\b.pak", "\\x.",
                       "{DESKTOP}\\..\\..\\x", "\\nul.txt"});
    FileListDocument document;
    std::string error;
    std::vector<RejectedEntry> rejected;
    ASSERT_EQ(ParseFileList(xml, L"C:\\Game", document, error, &rejected), 1) << error;
    ASSERT_EQ(document.entries.size(), 2u);
    EXPECT_EQ(document.entries[0].full_path, L"C:\\Game\\ok.dat");
    EXPECT_EQ(document.entries[1].name, L"\\Data\\b.pak");
    std::vector<std::wstring> unsafe;
    for (const RejectedEntry& entry : rejected) {
        EXPECT_EQ(entry.why, EntryRejection::kUnsafeName);
        unsafe.push_back(entry.name);
    }
    EXPECT_EQ(unsafe, (std::vector<std::wstring>{L"\\..\\x", L"a/../../x", L"C:\\x", L"\\\\srv\\s\\x", L"\\x.",
                                                 L"{DESKTOP}\\..\\..\\x", L"\\nul.txt"}));

    // Without the collector the whole list is refused, as the publisher's checks expect.
    EXPECT_EQ(ParseFileList(xml, L"C:\\Game", document, error), 0);
    EXPECT_NE(error.find("unsafe"), std::string::npos) << error;
}

// An entry the launcher cannot use as listed is left out on its own (and reported by the
// run); the entries beside it update.
TEST(ParseFileList, RejectsCollidingNamesAndUnreachableHistoriesOneByOne) {
    const std::string hash = "0123456789ABCDEF0123456789ABCDEF";
    const std::string xml =
        "<Root><Store/><UrlRootList><R urlroot=\"http://h/v2/\"/></UrlRootList><FileList>"
        "<File name=\"\\Data\\a.pak\" hash=\"" + hash + "\" size_compressed=\"5\"/>"
        "<File name=\"\\DATA\\A.PAK\" hash=\"" + hash + "\" size_compressed=\"5\"/>"
        "<File name=\"\\Stra\xC3\x9F" "e\\\xC3\x84.txt\" hash=\"" + hash + "\" size_compressed=\"5\"/>"
        "<File name=\"\\stra\xC3\x9F" "e\\\xC3\xA4.txt\" hash=\"" + hash + "\" size_compressed=\"5\"/>"
        "<File name=\"\\old.dll\" hash=\"" + hash + "\" size_compressed=\"5\" diff_size=\"3\">"
        "<histroy hash=\"" + hash + "\" diff_size=\"0\"/></File>"
        "<File name=\"\\b.pak\" hash=\"" + hash + "\" size_compressed=\"5\"/>"
        "</FileList></Root>";
    FileListDocument document;
    std::string error;
    std::vector<RejectedEntry> rejected;
    ASSERT_EQ(ParseFileList(xml, L"C:\\Game", document, error, &rejected), 1) << error;
    std::vector<std::wstring> kept;
    for (const FileEntry& entry : document.entries) kept.push_back(entry.name);
    EXPECT_EQ(kept, (std::vector<std::wstring>{L"\\Data\\a.pak", L"\\Stra\u00DFe\\\u00C4.txt", L"\\b.pak"}));
    ASSERT_EQ(rejected.size(), 3u);
    EXPECT_EQ(rejected[0].name, L"\\DATA\\A.PAK");
    EXPECT_EQ(rejected[0].why, EntryRejection::kCaseCollision);
    EXPECT_EQ(rejected[1].name, L"\\stra\u00DFe\\\u00E4.txt");
    EXPECT_EQ(rejected[1].why, EntryRejection::kCaseCollision);
    EXPECT_EQ(rejected[2].name, L"\\old.dll");
    EXPECT_EQ(rejected[2].why, EntryRejection::kMissingUrlRoot);

    // Without the collector (the publisher's checks) each refuses the whole list.
    EXPECT_EQ(ParseFileList(xml, L"C:\\Game", document, error), 0);
    EXPECT_NE(error.find("letter case"), std::string::npos) << error;
}

// A list in a legacy encoding would be read with names that lose their bytes and
// collide; it is refused whole with a reason that names the encoding. UTF-8 (declared
// or not) and UTF-16 are read.
TEST(ParseFileList, RefusesEncodingsOtherThanUtf8AndUtf16) {
    const std::string body =
        "<Root><Store/><UrlRootList><R urlroot=\"http://h/v1/\"/></UrlRootList><FileList>"
        "<File name=\"\\NAME\" hash=\"0123456789ABCDEF0123456789ABCDEF\" size_compressed=\"5\"/>"
        "</FileList></Root>";
    auto with = [&](const std::string& declaration, const std::string& name) {
        std::string xml = declaration + body;
        xml.replace(xml.find("NAME"), 4, name);
        return xml;
    };
    const std::string gbk_name = "\xD3\xCE\xCF\xB7.pak";  // GBK bytes, not UTF-8
    const std::string utf8_name = "\xE6\xB8\xB8\xE6\x88\x8F.pak";
    struct Case {
        const char* what;
        std::string xml;
        const char* reason;  // nullptr: read
    } cases[] = {
        {"declared GBK", with("<?xml version=\"1.0\" encoding=\"GBK\"?>", gbk_name), "not valid UTF-8"},
        {"undeclared GBK bytes", with("", gbk_name), "not valid UTF-8"},
        {"declared GBK, ASCII only", with("<?xml version=\"1.0\" encoding=\"gb2312\"?>", "a.pak"), "gb2312"},
        {"declared Latin-1", with("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>", "a.pak"), "ISO-8859-1"},
        {"overlong UTF-8", with("", "\xC0\xAF.pak"), "not valid UTF-8"},
        {"UTF-8 surrogate", with("", "\xED\xA0\x80.pak"), "not valid UTF-8"},
        {"truncated UTF-8", with("", "\xE6\xB8"), "not valid UTF-8"},
        {"declared UTF-8", with("<?xml version=\"1.0\" encoding=\"utf-8\"?>", utf8_name), nullptr},
        {"undeclared UTF-8 with BOM", "\xEF\xBB\xBF" + with("", utf8_name), nullptr},
    };
    for (const Case& c : cases) {
        FileListDocument document;
        std::string error;
        std::vector<RejectedEntry> rejected;
        const int result = ParseFileList(c.xml, L"", document, error, &rejected);
        if (!c.reason) {
            ASSERT_EQ(result, 1) << c.what << ": " << error;
            ASSERT_EQ(document.entries.size(), 1u) << c.what;
            EXPECT_EQ(document.entries[0].name, L"\\\u6E38\u620F.pak") << c.what;
        } else {
            EXPECT_EQ(result, 0) << c.what;
            EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
        }
    }
    // UTF-16 with its byte-order mark and declaration.
    const std::wstring wide = L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>" + Utf8ToWide(with("", utf8_name));
    std::string utf16 = "\xFF\xFE";
    for (wchar_t c : wide) utf16 += {char(c & 0xFF), char(c >> 8)};
    FileListDocument document;
    std::string error;
    ASSERT_EQ(ParseFileList(utf16, L"", document, error), 1) << error;
    ASSERT_EQ(document.entries.size(), 1u);
    EXPECT_EQ(document.entries[0].name, L"\\\u6E38\u620F.pak");
}

// The same list as UTF-16 with its byte-order mark, which only the general parser reads.
std::string AsUtf16(const std::string& utf8) { return "\xFF\xFE" + WideToUtf16Le(Utf8ToWide(utf8)); }

std::wstring DescribeDigest(const ContentDigest& digest) {
    return digest.present ? FormatText(L"<%ls:%llu>", Sha256ToHex(digest.sha256).c_str(), (unsigned long long)digest.size)
                          : L"";
}

// Every part of a read, as text, so that two reads compare in one step.
std::wstring Describe(int result, const FileListDocument& d, const std::vector<RejectedEntry>& rejected) {
    std::wstring out = FormatText(L"%d store=%ls", result, d.store_url_root.c_str());
    for (const std::wstring& root : d.url_roots) out += L" root=" + root;
    for (const FileEntry& e : d.entries) {
        out += FormatText(L" [%ls|%ls|%ls|%d|%u|%d", e.name.c_str(), e.full_path.c_str(), e.hash.c_str(),
                          e.size_compressed, e.flags, e.diff_size) +
               DescribeDigest(e.content) + DescribeDigest(e.diff);
        for (const HistoryVersion& v : e.history)
            out += FormatText(L" %ls:%d", v.hash.c_str(), v.diff_size) + DescribeDigest(v.content) +
                   DescribeDigest(v.diff);
        out += L"]";
    }
    if (d.has_launcher)
        out += FormatText(L" launcher=%ls|%ls|%d", d.launcher.url.c_str(), d.launcher.hash.c_str(),
                          d.launcher.size_compressed) +
               DescribeDigest(d.launcher.content);
    if (d.has_script) out += L" script";
    for (const ScriptCommand& command : d.script) {
        out += L" (" + command.name;
        for (const std::wstring& arg : command.args) out += L"," + arg;
        out += L")";
    }
    for (const RejectedEntry& entry : rejected) out += FormatText(L" rejected=%ls/%d", entry.name.c_str(), int(entry.why));
    return out;
}

struct Reading {
    int result = 0;
    std::string error;
    std::wstring described;
};

Reading Read(const std::string& xml, bool collect, FileListXmlReading how) {
    Reading reading;
    FileListDocument document;
    std::vector<RejectedEntry> rejected;
    reading.result = ParseFileList(xml, L"C:\\Game", document, reading.error, collect ? &rejected : nullptr, how);
    reading.described = Describe(reading.result, document, rejected);
    return reading;
}

// Lists in UTF-8 are read through a quick index where they are plain enough, through the
// general parser otherwise; lists in UTF-16 always through the general parser. Whichever
// way a list goes, it must be read exactly as the general parser reads the same bytes
// (error text included) and as it reads the same list in UTF-16. The table marks which
// lists the index takes itself, so that it cannot pass by quietly leaving everything to
// the general parser, and which lists are read at all, so that both cannot agree on a
// wrong answer.
TEST(ParseFileList, ReadsEveryListInUtf8AsTheGeneralParserReadsIt) {
    const std::string hash = "0123456789ABCDEF0123456789ABCDEF";
    const std::string older = "FEDCBA9876543210FEDCBA9876543210";
    const std::string sha = "0123456789abcdef0123456789ABCDEF0123456789abcdef0123456789ABCDEF";
    const std::string entries =
        "<File name=\"\\a.dat\" hash=\"" + hash + "\" size_compressed=\"5\" flags=\"1\" diff_size=\"3\" sha256=\"" +
        sha + "\" file_size=\"12\" diff_sha256=\"" + sha + "\" diff_file_size=\"4\">"
        "<histroy hash=\"" + older + "\" diff_size=\"0\" sha256='" + sha + "' file_size='10'/><histroy hash=\"" +
        older + "\"/></File>"
        "<File size_compressed='7' name='\\\xE6\xB8\xB8\xE6\x88\x8F &amp; &#x4E2D;&#20013;&lt;&gt;&quot;&apos;.pak' "
        "name='\\ignored' hash='" + hash + "' extra='x'>text<Other/></File>";
    const std::string launcher =
        "<LauncherCompressed URL=\"http://h/VelmLauncher.exe.cmp\" hash=\"" + hash + "\" size_compressed=\"9\"";
    const std::string script =
        "<Script><Command name=\"shortcut\" p0=\"{DESKTOP}\\a.lnk\" p1=\"\\a.exe\"/><Command p0=\"x\"/></Script>";
    const std::string two_roots = "<R urlroot=\"http://h/v2/\"/><R urlroot=\"http://h/v1/\"/>";
    auto list = [&](const std::string& files, const std::string& roots,
                    const std::string& launcher_digest = "") {
        return "<Root><Store URLRoot=\"http://s/\"/><UrlRootList>" + roots + "</UrlRootList><FileList>" + files +
               "</FileList>" + launcher + launcher_digest + "/>" + script + "</Root>";
    };
    auto plain = [&](const std::string& files) { return list(files, two_roots, " sha256=\"" + sha + "\" file_size=\"20\""); };
    // One entry with the given attributes beside its name, hash and size.
    auto file = [&](const std::string& attributes) {
        return plain("<File name=\"\\a\" hash=\"" + hash + "\" size_compressed=\"1\" " + attributes + "/>");
    };
    auto named = [&](const std::string& name) {
        return plain("<File name=\"" + name + "\" hash=\"" + hash + "\" size_compressed=\"1\"/>");
    };
    auto digest = [&](const std::string& sha256, const std::string& size) {
        return file("sha256=\"" + sha256 + "\" file_size=\"" + size + "\"");
    };
    std::string nested = "<x/>";
    for (int i = 0; i < 70; ++i) nested = "<x>" + nested + "</x>";

    FileListDocument written;
    written.url_roots = {L"http://h/v2/", L"http://h/v1/"};
    written.entries.resize(2);
    ContentDigest content{true, {}, 12};
    content.sha256[0] = 0xAB;
    ContentDigest diff{true, {}, 4};
    diff.sha256[31] = 0x01;
    written.entries[0].name = L"\\x.dat";
    written.entries[0].hash = Utf8ToWide(hash);
    written.entries[0].diff_size = 3;
    written.entries[0].content = content;
    written.entries[0].diff = diff;
    written.entries[0].history = {{written.entries[0].hash, 3, content, diff}, {Utf8ToWide(older), 0, content}};
    written.entries[1] = written.entries[0];
    written.entries[1].name = L"\\y.dat";
    written.has_launcher = true;
    written.launcher = {L"http://h/VelmLauncher.exe.cmp", Utf8ToWide(hash), 9, content};

    struct Case {
        const char* what;
        std::string xml;
        bool quick;  // the index takes it itself
        int read;    // the launcher's reading (which leaves out entries it cannot use)
    } cases[] = {
        {"as velm-publish writes it, with every digest", WriteFileList(written), true, 1},
        {"quoting, entities, order, repeats, unknown parts, text", plain(entries), true, 1},
        {"a byte-order mark, a declaration in single quotes, comments",
         "\xEF\xBB\xBF<?xml version='1.0' encoding='UTF-8'?>\n<!-- published -->\n" +
             plain("<!-- one -->" + entries + "<!-- two - - -->"),
         true, 1},
        {"white space inside tags",
         "<Root ><Store URLRoot = 'http://s/' /><UrlRootList\n><R urlroot\t=\"http://h/v1/\"/></UrlRootList ><FileList>"
         "<File\r\nname=\"\\a\" hash=\"" + hash + "\" size_compressed=\"1\" /></FileList\n></Root\t>",
         true, 1},
        {"an entry in a comment", plain("<!-- <File name=\"\\c\" hash=\"" + hash + "\" size_compressed=\"1\"/> ?> -->"),
         true, 1},
        {"left-out entries", list("<File name=\"\\..\\x\" hash=\"" + hash + "\" size_compressed=\"1\"/>" + entries +
                                  "<File name=\"\\A.DAT\" hash=\"" + hash + "\" size_compressed=\"1\"/>",
                                  "<R urlroot=\"http://h/v1/\"/>"),
         true, 1},
        {"no launcher digest", list(entries, two_roots), true, 1},
        {"a launcher with a SHA-256 and no size", list(entries, two_roots, " sha256=\"" + sha + "\""), true, 0},
        {"a launcher with a size and no SHA-256", list(entries, two_roots, " file_size=\"20\""), true, 0},
        {"a SHA-256 without its size", file("sha256=\"" + sha + "\""), true, 0},
        {"a size without its SHA-256", file("file_size=\"1\""), true, 0},
        {"a diff SHA-256 without its size", file("diff_sha256=\"" + sha + "\""), true, 0},
        {"a diff size without its SHA-256", file("diff_file_size=\"1\""), true, 0},
        {"a diff digest beside a whole file digest the other way round",
         file("sha256=\"" + sha + "\" diff_file_size=\"1\""), true, 0},
        {"half a pair on a history version",
         plain("<File name=\"\\a\" hash=\"" + hash + "\" size_compressed=\"1\"><histroy hash=\"" + older +
               "\" diff_size=\"0\" diff_sha256=\"" + sha + "\"/></File>"),
         true, 0},
        {"an empty SHA-256 and size", digest("", ""), true, 0},
        {"a SHA-256 of 63 digits", digest(sha.substr(1), "1"), true, 0},
        {"a SHA-256 of 65 digits", digest(sha + "0", "1"), true, 0},
        {"a SHA-256 with a letter beyond F", digest("g" + sha.substr(1), "1"), true, 0},
        {"a SHA-256 with a space in front", digest(" " + sha.substr(1), "1"), true, 0},
        {"a SHA-256 with a sign in front", digest("+" + sha.substr(1), "1"), true, 0},
        {"a SHA-256 through character references", digest("&#x30;&#49;" + sha.substr(2), "&#49;2"), true, 1},
        {"a SHA-256 through a reference the index leaves alone", digest("&#x000000030;" + sha.substr(1), "1"), false, 1},
        {"the largest listed size", digest(sha, "17179869184"), true, 1},
        {"a size beyond the largest listed", digest(sha, "17179869185"), true, 0},
        {"a size of twenty digits", digest(sha, "99999999999999999999"), true, 0},
        {"a size with leading zeros", digest(sha, "00012"), true, 1},
        {"a size with a sign", digest(sha, "+1"), true, 0},
        {"a negative size", digest(sha, "-1"), true, 0},
        {"a size in hexadecimal", digest(sha, "0x10"), true, 0},
        {"a SHA-256 and size with a line break, which the general parser makes a space",
         digest(sha, "1\r\n"), false, 0},
        {"CDATA", plain(entries + "<![CDATA[<x>]]>"), false, 1},
        {"a tab in a value", named("\\t\tb"), false, 1},
        {"a line break in a value", named("\\t\r\nb"), false, 1},
        {"an entity the general parser keeps as text", named("\\&nbsp;"), false, 1},
        {"an ampersand without its semicolon", named("\\a&amp b"), false, 1},
        {"a reference without its semicolon", named("\\a&#65 b"), false, 1},
        {"a hexadecimal reference with a capital X", named("\\a&#X41;"), false, 1},
        {"a reference without digits", named("\\a&#x;"), false, 1},
        {"a reference to NUL", named("\\a&#0;b"), false, 1},
        {"a reference to a lone surrogate", named("\\a&#xD800;"), false, 1},
        {"a reference beyond the plane", named("\\a&#x1F600;"), false, 1},
        {"a reference with leading zeros", named("\\a&#0065;"), true, 1},
        {"a reference with too many digits", named("\\a&#x0000000041;"), false, 1},
        {"'<' in a name, which leaves the entry out", named("\\a<b"), false, 1},
        {"'>' in a name, which leaves the entry out", named("\\a>b"), true, 1},
        {"a processing instruction", plain(entries + "<?pi x?>"), false, 1},
        {"a declared legacy encoding", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>" + plain(entries), true, 0},
        {"a legacy encoding declared in capitals", "<?XML version=\"1.0\" encoding=\"latin1\"?>" + plain(entries),
         false, 0},
        {"\"?>\" inside a declaration's value", "<?xml version=\"1.0?>\" encoding=\"UTF-8\"?>" + plain(entries), false,
         0},
        {"a declaration after white space", " <?xml version=\"1.0\"?>" + plain(entries), false, 1},
        {"text before the document element", "x" + plain(entries), false, 1},
        {"elements nested deeper than the index goes", plain(entries + nested), false, 1},
        {"a NUL between the entries", plain(entries + std::string(1, '\0') + entries), false, 0},
        {"no FileList", "<Root><Store/><UrlRootList/></Root>", true, 0},
        {"another document element", "<List/>", true, 0},
        {"a second top-level element", plain(entries) + "<Root/>", false, 1},
        {"a number out of range", file("diff_size=\"2147483648\""), true, 0},
        {"attributes not apart", file("flags=\"1\"diff_size=\"1\""), false, 0},
        {"mismatched tags", plain(entries + "<File></Fil>"), false, 0},
        {"truncated", plain(entries).substr(0, 200), false, 0},
    };
    for (const Case& c : cases) {
        PlainXmlIndex index;
        EXPECT_EQ(index.Build(c.xml), c.quick) << c.what;
        for (bool collect : {true, false}) {
            const Reading quick = Read(c.xml, collect, FileListXmlReading::kQuickWherePlain);
            const Reading general = Read(c.xml, collect, FileListXmlReading::kGeneralParserOnly);
            const Reading utf16 = Read(AsUtf16(c.xml), collect, FileListXmlReading::kQuickWherePlain);
            if (collect) {
                EXPECT_EQ(quick.result, c.read) << c.what << ": " << quick.error;
            }
            EXPECT_EQ(quick.described, general.described) << c.what;
            EXPECT_EQ(quick.error, general.error) << c.what;
            EXPECT_EQ(quick.described, utf16.described) << c.what;
            // The general parser's offsets count characters of the text it decoded.
            if (quick.error.compare(0, 9, "XML error") != 0) {
                EXPECT_EQ(quick.error, utf16.error) << c.what;
            }
        }
    }
}

}  // namespace
}  // namespace velm
