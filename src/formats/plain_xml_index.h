#pragma once
// An index of a plain XML document in UTF-8: where each element and each attribute lies
// in the text, values decoded only when asked for. The file list of a large client is read
// at every start, and the general parser's tree costs several times the text in fresh
// memory (every character widened, a node per attribute); this index costs a fraction.
//
// Plain means: a byte-order mark and an XML declaration may open the document; then one
// element with white space around it. Elements nest with ASCII names and attributes in
// quotes whose values may use the five predefined entities and character references;
// text and comments between elements are passed over. Anything else (CDATA, a doctype,
// a processing instruction, a line break or tab inside a value, a NUL, a malformed
// document) makes Build fail, and the caller reads the document with the general parser,
// which gives the same elements and values for every document this index takes.
//
// The text must be valid UTF-8 and outlive the index.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velm {

class PlainXmlIndex {
public:
    // Elements are numbered in document order from 1; 0 stands for none.
    using Element = uint32_t;
    static constexpr Element kNone = 0;

    // False when the text is not plain (see above); the index is then empty.
    bool Build(std::string_view text);

    // The declaration, as an element whose attributes are its pseudo-attributes.
    Element Declaration() const { return declaration_; }
    Element Root() const { return root_; }
    Element FirstChild(Element element) const { return elements_[element].first_child; }
    Element NextSibling(Element element) const { return elements_[element].next_sibling; }
    bool NameIs(Element element, const wchar_t* name) const;
    // The value of the element's first attribute of that name, entities decoded; false
    // when it has none.
    bool Attribute(Element element, const wchar_t* name, std::wstring& value) const;

private:
    struct Span {
        uint32_t at = 0;
        uint32_t size = 0;
    };
    struct ElementRecord {
        Span name;
        uint32_t first_attribute = 0;
        uint32_t attribute_count = 0;
        Element first_child = kNone;
        Element next_sibling = kNone;
    };
    struct AttributeRecord {
        Span name;
        Span value;  // between the quotes, entities as written
    };

    bool Fail();
    bool ParseAttributes(size_t& at, ElementRecord& element);
    bool ParseValue(size_t& at, Span& value);
    bool Equals(Span span, const wchar_t* name) const;

    std::string_view text_;
    std::vector<ElementRecord> elements_;
    std::vector<AttributeRecord> attributes_;
    Element declaration_ = kNone;
    Element root_ = kNone;
};

}  // namespace velm
