#include <gtest/gtest.h>

#include "common/text.h"
#include "formats/file_list.h"

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

// Every part of a read, as text, so that two reads compare in one step.
std::wstring Describe(int result, const FileListDocument& d, const std::vector<RejectedEntry>& rejected) {
    std::wstring out = FormatText(L"%d store=%ls", result, d.store_url_root.c_str());
    for (const std::wstring& root : d.url_roots) out += L" root=" + root;
    for (const FileEntry& e : d.entries) {
        out += FormatText(L" [%ls|%ls|%ls|%d|%u|%d", e.name.c_str(), e.full_path.c_str(), e.hash.c_str(),
                          e.size_compressed, e.flags, e.diff_size);
        for (const HistoryVersion& v : e.history) out += FormatText(L" %ls:%d", v.hash.c_str(), v.diff_size);
        out += L"]";
    }
    if (d.has_launcher)
        out += FormatText(L" launcher=%ls|%ls|%d", d.launcher.url.c_str(), d.launcher.hash.c_str(),
                          d.launcher.size_compressed);
    if (d.has_script) out += L" script";
    for (const ScriptCommand& command : d.script) {
        out += L" (" + command.name;
        for (const std::wstring& arg : command.args) out += L"," + arg;
        out += L")";
    }
    for (const RejectedEntry& entry : rejected) out += FormatText(L" rejected=%ls/%d", entry.name.c_str(), int(entry.why));
    return out;
}

// Lists in UTF-8 are read through a quick index where they are plain enough, through the
// general parser otherwise; lists in UTF-16 always through the general parser. The same
// list in either encoding gives the same read, whichever way the UTF-8 one went.
TEST(ParseFileList, ReadsEveryListInUtf8AsTheGeneralParserReadsIt) {
    const std::string hash = "0123456789ABCDEF0123456789ABCDEF";
    const std::string older = "FEDCBA9876543210FEDCBA9876543210";
    const std::string entries =
        "<File name=\"\\a.dat\" hash=\"" + hash + "\" size_compressed=\"5\" flags=\"1\" diff_size=\"3\">"
        "<histroy hash=\"" + older + "\" diff_size=\"0\"/><histroy hash=\"" + older + "\"/></File>"
        "<File size_compressed='7' name='\\\xE6\xB8\xB8\xE6\x88\x8F &amp; &#x4E2D;&#20013;&lt;&gt;&quot;&apos;.pak' "
        "name='\\ignored' hash='" + hash + "' extra='x'>text<Other/></File>";
    const std::string tail =
        "<LauncherCompressed URL=\"http://h/VelmLauncher.exe.cmp\" hash=\"" + hash + "\" size_compressed=\"9\"/>"
        "<Script><Command name=\"shortcut\" p0=\"{DESKTOP}\\a.lnk\" p1=\"\\a.exe\"/><Command p0=\"x\"/></Script>";
    auto list = [&](const std::string& files, const std::string& roots = "<R urlroot=\"http://h/v2/\"/><R urlroot=\"http://h/v1/\"/>") {
        return "<Root><Store URLRoot=\"http://s/\"/><UrlRootList>" + roots + "</UrlRootList><FileList>" + files +
               "</FileList>" + tail + "</Root>";
    };
    FileListDocument written;
    written.url_roots = {L"http://h/v1/"};
    written.entries.resize(2);
    written.entries[0].name = L"\\x.dat";
    written.entries[0].hash = Utf8ToWide(hash);
    written.entries[0].history = {{written.entries[0].hash, 0}};
    written.entries[1] = written.entries[0];
    written.entries[1].name = L"\\y.dat";
    struct Case {
        const char* what;
        std::string xml;
    } cases[] = {
        {"as velm-publish writes it", WriteFileList(written)},
        {"quoting, entities, order, repeats, unknown parts, text", list(entries)},
        {"a byte-order mark, a declaration in single quotes, comments",
         "\xEF\xBB\xBF<?xml version='1.0' encoding='UTF-8'?>\n<!-- published -->\n" +
             list("<!-- one -->" + entries + "<!-- two - - -->")},
        {"left-out entries", list("<File name=\"\\..\\x\" hash=\"" + hash + "\" size_compressed=\"1\"/>" + entries +
                                  "<File name=\"\\A.DAT\" hash=\"" + hash + "\" size_compressed=\"1\"/>",
                                  "<R urlroot=\"http://h/v1/\"/>")},
        {"CDATA", list(entries + "<![CDATA[<x>]]>")},
        {"a tab in a value", list("<File name=\"\\t\tb\" hash=\"" + hash + "\" size_compressed=\"1\"/>")},
        {"an entity the general parser keeps as text",
         list("<File name=\"\\&nbsp;\" hash=\"" + hash + "\" size_compressed=\"1\"/>")},
        {"a processing instruction", list(entries + "<?pi x?>")},
        {"a declared legacy encoding", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>" + list(entries)},
        {"no FileList", "<Root><Store/><UrlRootList/></Root>"},
        {"another document element", "<List/>"},
        {"a second top-level element", list(entries) + "<Root/>"},
        {"a number out of range", list("<File name=\"\\a\" hash=\"" + hash + "\" size_compressed=\"2147483648\"/>")},
        {"mismatched tags", list(entries + "<File></Fil>")},
        {"truncated", list(entries).substr(0, 200)},
    };
    for (const Case& c : cases) {
        for (bool collect : {true, false}) {
            FileListDocument from_utf8, from_utf16;
            std::vector<RejectedEntry> rejected_utf8, rejected_utf16;
            std::string error_utf8, error_utf16;
            const int utf8 = ParseFileList(c.xml, L"C:\\Game", from_utf8, error_utf8, collect ? &rejected_utf8 : nullptr);
            const int utf16 =
                ParseFileList(AsUtf16(c.xml), L"C:\\Game", from_utf16, error_utf16, collect ? &rejected_utf16 : nullptr);
            EXPECT_EQ(Describe(utf8, from_utf8, rejected_utf8), Describe(utf16, from_utf16, rejected_utf16)) << c.what;
            // The general parser's offsets count characters of the text it decoded.
            if (error_utf8.compare(0, 9, "XML error") != 0) {
                EXPECT_EQ(error_utf8, error_utf16) << c.what;
            }
        }
    }
}

}  // namespace
}  // namespace velm
