#include "formats/plain_xml_index.h"

#include <gtest/gtest.h>

#include <string>

namespace velm {
namespace {

// What the index takes itself and what it leaves to the general parser (whose reading the
// file list tests compare with the index's).
TEST(PlainXmlIndex, TakesPlainDocumentsOnly) {
    std::string deep = "<a/>";
    for (int i = 0; i < 65; ++i) deep = "<a>" + deep + "</a>";
    struct Case {
        const char* what;
        std::string text;
        bool plain;
    } cases[] = {
        {"one empty element", "<a/>", true},
        {"byte-order mark, declaration, comments, white space", "\xEF\xBB\xBF<?xml version=\"1.0\"?>\r\n<!--c-->\n<a>"
                                                             "<!-- - -->t&x;<b/></a>\n<!--end-->\n", true},
        {"entities and references in values", "<a v=\"&lt;&gt;&amp;&quot;&apos;&#65;&#x4e2D;\" w='\"'/>", true},
        {"UTF-8 in values and text", "<a v=\"\xE6\xB8\xB8\">\xE6\x88\x8F</a>", true},
        {"a tab in a value", "<a v=\"\t\"/>", false},
        {"a line break in a value", "<a v=\"\n\"/>", false},
        {"an unknown entity", "<a v=\"&nbsp;\"/>", false},
        {"a reference to a control character", "<a v=\"&#9;\"/>", false},
        {"a reference beyond the plane", "<a v=\"&#x1F600;\"/>", false},
        {"a reference too large", "<a v=\"&#99999999999;\"/>", false},
        {"'<' in a value", "<a v=\"<\"/>", false},
        {"attributes not apart", "<a v=\"1\"w=\"2\"/>", false},
        {"a name beyond ASCII", "<\xC3\xA4/>", false},
        {"CDATA", "<a><![CDATA[x]]></a>", false},
        {"a doctype", "<!DOCTYPE a><a/>", false},
        {"a processing instruction", "<a><?p x?></a>", false},
        {"a declaration later on", " <?xml version=\"1.0\"?><a/>", false},
        {"\"?>\" inside a declaration's value", "<?xml version=\"1.0?>\"?><a/>", false},
        {"text outside the element", "x<a/>", false},
        {"two top-level elements", "<a/><b/>", false},
        {"a NUL in text", std::string("<a>\0</a>", 8), false},
        {"an unfinished comment", "<a/><!--", false},
        {"mismatched end", "<a></b>", false},
        {"unclosed", "<a><b></b>", false},
        {"nothing", "", false},
        {"too deep", deep, false},
    };
    for (const Case& c : cases) {
        PlainXmlIndex index;
        EXPECT_EQ(index.Build(c.text), c.plain) << c.what;
    }
}

TEST(PlainXmlIndex, FindsElementsAndDecodesValues) {
    const std::string text =
        "<?xml version='1.0' encoding='utf-8'?><Root><A v='1' v='2' w=\"&lt;\xE6\xB8\xB8&#x4E2D;\"/>text<B><C/></B>"
        "<A/></Root>";
    PlainXmlIndex index;
    ASSERT_TRUE(index.Build(text));
    std::wstring value;
    ASSERT_TRUE(index.Attribute(index.Declaration(), L"encoding", value));
    EXPECT_EQ(value, L"utf-8");
    const auto root = index.Root();
    EXPECT_TRUE(index.NameIs(root, L"Root"));
    EXPECT_FALSE(index.NameIs(root, L"Roo"));
    EXPECT_FALSE(index.NameIs(root, L"Roots"));
    const auto a = index.FirstChild(root);
    ASSERT_TRUE(index.Attribute(a, L"v", value));
    EXPECT_EQ(value, L"1");  // the first of repeated attributes
    ASSERT_TRUE(index.Attribute(a, L"w", value));
    EXPECT_EQ(value, L"<\u6E38\u4E2D");
    EXPECT_FALSE(index.Attribute(a, L"x", value));
    const auto b = index.NextSibling(a);
    EXPECT_TRUE(index.NameIs(b, L"B"));
    EXPECT_TRUE(index.NameIs(index.FirstChild(b), L"C"));
    const auto last = index.NextSibling(b);
    EXPECT_TRUE(index.NameIs(last, L"A"));
    EXPECT_EQ(index.NextSibling(last), PlainXmlIndex::kNone);
    EXPECT_EQ(index.FirstChild(last), PlainXmlIndex::kNone);
}

}  // namespace
}  // namespace velm
