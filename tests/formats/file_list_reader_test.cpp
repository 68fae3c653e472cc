#include <gtest/gtest.h>

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
    std::vector<std::wstring> unsafe;
    ASSERT_EQ(ParseFileList(xml, L"C:\\Game", document, error, &unsafe), 1) << error;
    ASSERT_EQ(document.entries.size(), 2u);
    EXPECT_EQ(document.entries[0].full_path, L"C:\\Game\\ok.dat");
    EXPECT_EQ(document.entries[1].name, L"\\Data\\b.pak");
    EXPECT_EQ(unsafe, (std::vector<std::wstring>{L"\\..\\x", L"a/../../x", L"C:\\x", L"\\\\srv\\s\\x", L"\\x.",
                                                 L"{DESKTOP}\\..\\..\\x", L"\\nul.txt"}));

    // Without the collector the whole list is refused, as the publisher's checks expect.
    EXPECT_EQ(ParseFileList(xml, L"C:\\Game", document, error), 0);
    EXPECT_NE(error.find("unsafe"), std::string::npos) << error;
}

}  // namespace
}  // namespace velm
