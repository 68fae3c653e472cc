#include "formats/plain_xml_index.h"

#include <cwchar>

#include "formats/plain_xml_chars.h"

namespace velm {
namespace {

using plain_xml::IsNameChar;
using plain_xml::IsNameStart;
using plain_xml::IsSpace;

constexpr size_t kMaxDepth = 64;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

void AppendCode(std::wstring& out, uint32_t code) {
#if WCHAR_MAX <= 0xFFFF
    if (code > 0xFFFF) {
        code -= 0x10000;
        out.push_back(wchar_t(0xD800 + (code >> 10)));
        out.push_back(wchar_t(0xDC00 + (code & 0x3FF)));
        return;
    }
#endif
    out.push_back(wchar_t(code));
}

}  // namespace

bool PlainXmlIndex::Fail() {
    elements_.clear();
    attributes_.clear();
    declaration_ = root_ = kNone;
    return false;
}

bool PlainXmlIndex::Build(std::string_view text) {
    Fail();
    text_ = text;
    const size_t n = text.size();
    // Offsets are kept in 32 bits; lists are far smaller.
    if (n > 0xFFFFFFF0u) return Fail();
    // A guess from what a published list spends per entry, so that a list rarely grows
    // its records more than once; never a count taken from the text, which a hostile
    // one could make ask for many times its own size before the first error shows.
    elements_.reserve(n / 128 + 1);
    attributes_.reserve(n / 32);
    elements_.emplace_back();  // element 0: none

    size_t at = text.compare(0, kByteOrderMark.size(), kByteOrderMark) == 0 ? kByteOrderMark.size() : 0;
    if (text.compare(at, 5, "<?xml") == 0 && at + 5 < n && IsSpace(uint8_t(text[at + 5]))) {
        ElementRecord declaration;
        at += 5;
        // The general parser ends the declaration at the first "?>", even inside a value.
        const size_t end = text.find("?>", at);
        if (end == std::string_view::npos || !ParseAttributes(at, declaration) || at != end) return Fail();
        at += 2;
        declaration_ = Element(elements_.size());
        elements_.push_back(declaration);
    }

    // The open elements, outermost first, each with its last child so far.
    struct Open {
        Element element;
        Element last_child;
    };
    std::vector<Open> open;
    for (;;) {
        while (at < n && text[at] != '<') {
            if (text[at] == 0 || (open.empty() && !IsSpace(uint8_t(text[at])))) return Fail();
            ++at;
        }
        if (at == n) break;
        if (text.compare(at, 4, "<!--") == 0) {
            const size_t end = text.find("-->", at + 4);
            if (end == std::string_view::npos || text.substr(at, end - at).find('\0') != std::string_view::npos)
                return Fail();
            at = end + 3;
            continue;
        }
        if (at + 1 == n || text[at + 1] == '!' || text[at + 1] == '?') return Fail();
        if (text[at + 1] == '/') {
            at += 2;
            const size_t name_at = at;
            while (at < n && IsNameChar(uint8_t(text[at]))) ++at;
            if (open.empty()) return Fail();
            const Span name = elements_[open.back().element].name;
            if (text.substr(name_at, at - name_at) != text.substr(name.at, name.size)) return Fail();
            while (at < n && IsSpace(uint8_t(text[at]))) ++at;
            if (at == n || text[at] != '>') return Fail();
            ++at;
            open.pop_back();
            continue;
        }
        if (open.empty() && root_ != kNone) return Fail();  // a second top-level element
        ++at;
        ElementRecord record;
        if (at == n || !IsNameStart(uint8_t(text[at]))) return Fail();
        record.name.at = uint32_t(at);
        while (at < n && IsNameChar(uint8_t(text[at]))) ++at;
        record.name.size = uint32_t(at - record.name.at);
        if (!ParseAttributes(at, record)) return Fail();
        bool empty = false;
        if (text.compare(at, 2, "/>") == 0) {
            empty = true;
            at += 2;
        } else if (at < n && text[at] == '>') {
            ++at;
        } else {
            return Fail();
        }
        const Element element = Element(elements_.size());
        elements_.push_back(record);
        if (open.empty()) {
            root_ = element;
        } else if (open.back().last_child == kNone) {
            elements_[open.back().element].first_child = element;
            open.back().last_child = element;
        } else {
            elements_[open.back().last_child].next_sibling = element;
            open.back().last_child = element;
        }
        if (!empty) {
            if (open.size() == kMaxDepth) return Fail();
            open.push_back({element, kNone});
        }
    }
    if (!open.empty() || root_ == kNone) return Fail();
    return true;
}

// From just after a name to the first character after the last attribute and the white
// space behind it. Attributes are separated by white space.
bool PlainXmlIndex::ParseAttributes(size_t& at, ElementRecord& element) {
    const size_t n = text_.size();
    element.first_attribute = uint32_t(attributes_.size());
    for (;;) {
        const size_t before = at;
        while (at < n && IsSpace(uint8_t(text_[at]))) ++at;
        if (at == n || !IsNameStart(uint8_t(text_[at]))) return true;
        if (at == before) return false;
        AttributeRecord attribute;
        attribute.name.at = uint32_t(at);
        while (at < n && IsNameChar(uint8_t(text_[at]))) ++at;
        attribute.name.size = uint32_t(at - attribute.name.at);
        while (at < n && IsSpace(uint8_t(text_[at]))) ++at;
        if (at == n || text_[at] != '=') return false;
        ++at;
        while (at < n && IsSpace(uint8_t(text_[at]))) ++at;
        if (!ParseValue(at, attribute.value)) return false;
        attributes_.push_back(attribute);
        ++element.attribute_count;
    }
}

bool PlainXmlIndex::ParseValue(size_t& at, Span& value) {
    const size_t n = text_.size();
    if (at == n || (text_[at] != '"' && text_[at] != '\'')) return false;
    const char quote = text_[at++];
    value.at = uint32_t(at);
    for (; at < n && text_[at] != quote; ++at) {
        const char c = text_[at];
        // The general parser turns tabs and line breaks in values into spaces.
        if (c == '<' || c == 0 || (IsSpace(uint8_t(c)) && c != ' ')) return false;
        if (c == '&') {
            const size_t end = text_.substr(0, at + 2 + plain_xml::kMaxReferenceChars).find(';', at);
            uint32_t code = 0;
            if (end == std::string_view::npos || !plain_xml::ReferenceCode(text_.substr(at + 1, end - at - 1), code))
                return false;
            at = end;
        }
    }
    if (at == n) return false;
    value.size = uint32_t(at - value.at);
    ++at;
    return true;
}

bool PlainXmlIndex::Equals(Span span, const wchar_t* name) const {
    for (uint32_t i = 0; i < span.size; ++i, ++name)
        if (*name == 0 || uint32_t(*name) != uint8_t(text_[span.at + i])) return false;
    return *name == 0;
}

bool PlainXmlIndex::NameIs(Element element, const wchar_t* name) const {
    return Equals(elements_[element].name, name);
}

bool PlainXmlIndex::Attribute(Element element, const wchar_t* name, std::wstring& value) const {
    const ElementRecord& record = elements_[element];
    for (uint32_t k = 0; k < record.attribute_count; ++k) {
        const AttributeRecord& attribute = attributes_[record.first_attribute + k];
        if (!Equals(attribute.name, name)) continue;
        const std::string_view raw = text_.substr(attribute.value.at, attribute.value.size);
        value.clear();
        // Never fewer bytes than characters: one allocation of about the right size.
        value.reserve(raw.size());
        for (size_t i = 0; i < raw.size();) {
            const auto lead = uint8_t(raw[i]);
            if (lead == '&') {
                const size_t end = raw.find(';', i);
                uint32_t code = 0;
                plain_xml::ReferenceCode(raw.substr(i + 1, end - i - 1), code);
                AppendCode(value, code);
                i = end + 1;
                continue;
            }
            // Valid UTF-8, as the caller made sure.
            const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
            uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
            for (size_t k2 = 1; k2 < length; ++k2) code = code << 6 | (uint8_t(raw[i + k2]) & 0x3F);
            AppendCode(value, code);
            i += length;
        }
        return true;
    }
    return false;
}

}  // namespace velm
