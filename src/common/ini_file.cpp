#include "common/ini_file.h"

#include "common/file_io.h"
#include "common/text.h"

namespace velm {
namespace {

const uint8_t kUtf16LeMark[] = {0xFF, 0xFE};
const uint8_t kUtf16BeMark[] = {0xFE, 0xFF};
const uint8_t kUtf8Mark[] = {0xEF, 0xBB, 0xBF};

bool StartsWith(const uint8_t* bytes, size_t size, const uint8_t* mark, size_t mark_size) {
    if (size < mark_size) return false;
    for (size_t i = 0; i < mark_size; ++i) {
        if (bytes[i] != mark[i]) return false;
    }
    return true;
}

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

std::wstring Trim(const std::wstring& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

// The name of a "[name]" line; a header without "]" runs to the end of the line.
bool SectionName(const std::wstring& line, std::wstring& name) {
    size_t start = 0;
    while (start < line.size() && IsBlank(line[start])) ++start;
    if (start == line.size() || line[start] != L'[') return false;
    size_t close = line.find(L']', start + 1);
    if (close == std::wstring::npos) close = line.size();
    name = Trim(line.substr(start + 1, close - start - 1));
    return true;
}

// A "key=value" line: the key's name and the position of its "=".
bool KeyName(const std::wstring& line, std::wstring& name, size_t& equals) {
    std::wstring trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == L';' || trimmed[0] == L'[') return false;
    equals = line.find(L'=');
    if (equals == std::wstring::npos) return false;
    name = Trim(line.substr(0, equals));
    return !name.empty();
}

std::wstring StoredValue(const std::wstring& line, size_t equals) {
    std::wstring value = Trim(line.substr(equals + 1));
    if (value.size() >= 2 && (value[0] == L'"' || value[0] == L'\'') &&
        value.back() == value[0]) {
        value = value.substr(1, value.size() - 2);
    }
    return value;
}

bool IsValidUtf8(const std::string& bytes) { return WideToUtf8(Utf8ToWide(bytes)) == bytes; }

}  // namespace

IniRead IniDocument::Parse(const uint8_t* bytes, size_t size) {
    lines_.clear();
    encoding_ = Encoding::kUtf8;
    utf8_mark_ = false;
    if (size > kMaxFileBytes) return IniRead::kTooLarge;
    if (size == 0) return IniRead::kRead;
    if (StartsWith(bytes, size, kUtf16BeMark, sizeof(kUtf16BeMark))) return IniRead::kNotText;

    std::wstring text;
    Encoding encoding = Encoding::kUtf8;
    bool utf8_mark = false;
    if (StartsWith(bytes, size, kUtf16LeMark, sizeof(kUtf16LeMark))) {
        // An odd byte count is a cut file; rewriting it would lose that byte for good.
        if (size % 2 != 0) return IniRead::kNotText;
        encoding = Encoding::kUtf16Le;
        text = Utf16LeToWide(bytes + 2, size - 2);
    } else {
        size_t skip = 0;
        if (StartsWith(bytes, size, kUtf8Mark, sizeof(kUtf8Mark))) {
            utf8_mark = true;
            skip = sizeof(kUtf8Mark);
        }
        std::string body(reinterpret_cast<const char*>(bytes) + skip, size - skip);
        if (IsValidUtf8(body)) {
            text = Utf8ToWide(body);
        } else {
            encoding = Encoding::kEightBit;
            text.reserve(body.size());
            for (char c : body) text.push_back(wchar_t(static_cast<unsigned char>(c)));
        }
    }
    if (text.find(L'\0') != std::wstring::npos) return IniRead::kNotText;

    size_t start = 0;
    while (start < text.size()) {
        size_t feed = text.find(L'\n', start);
        if (feed == std::wstring::npos) {
            lines_.push_back({text.substr(start), L""});
            break;
        }
        bool crlf = feed > start && text[feed - 1] == L'\r';
        size_t text_end = crlf ? feed - 1 : feed;
        lines_.push_back({text.substr(start, text_end - start), crlf ? L"\r\n" : L"\n"});
        start = feed + 1;
    }
    encoding_ = encoding;
    utf8_mark_ = utf8_mark;
    return IniRead::kRead;
}

std::string IniDocument::Serialize() const {
    std::wstring text;
    for (const Line& line : lines_) {
        text += line.text;
        text += line.end;
    }
    std::string out;
    switch (encoding_) {
        case Encoding::kUtf16Le:
            out.assign(reinterpret_cast<const char*>(kUtf16LeMark), sizeof(kUtf16LeMark));
            out += WideToUtf16Le(text);
            break;
        case Encoding::kUtf8:
            if (utf8_mark_) out.assign(reinterpret_cast<const char*>(kUtf8Mark), sizeof(kUtf8Mark));
            out += WideToUtf8(text);
            break;
        case Encoding::kEightBit:
            // A code page file may begin with the UTF-8 mark's bytes; they were skipped
            // when read, so they are put back here rather than lost.
            if (utf8_mark_) out.assign(reinterpret_cast<const char*>(kUtf8Mark), sizeof(kUtf8Mark));
            out.reserve(out.size() + text.size());
            for (wchar_t c : text) out.push_back(uint32_t(c) <= 0xFF ? char(c) : '?');
            break;
    }
    return out;
}

long IniDocument::FindSection(const std::wstring& section) const {
    std::wstring name;
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (SectionName(lines_[i].text, name) && EqualsIgnoreAsciiCase(name, section)) return long(i);
    }
    return -1;
}

long IniDocument::FindKey(long header, const std::wstring& key) const {
    std::wstring name;
    size_t equals = 0;
    for (size_t i = size_t(header) + 1; i < lines_.size(); ++i) {
        if (SectionName(lines_[i].text, name)) break;
        if (KeyName(lines_[i].text, name, equals) && EqualsIgnoreAsciiCase(name, key)) return long(i);
    }
    return -1;
}

std::wstring IniDocument::NewLineEnd() const {
    for (const Line& line : lines_) {
        if (!line.end.empty()) return line.end;
    }
    return L"\r\n";
}

bool IniDocument::Find(const std::wstring& section, const std::wstring& key, std::wstring& value,
                       size_t max_chars) const {
    long header = FindSection(section);
    if (header < 0) return false;
    long line = FindKey(header, key);
    if (line < 0) return false;
    const std::wstring& text = lines_[size_t(line)].text;
    value = StoredValue(text, text.find(L'='));
    if (value.size() > max_chars) value.resize(max_chars);
    return true;
}

std::wstring IniDocument::Get(const std::wstring& section, const std::wstring& key,
                              const std::wstring& fallback, size_t max_chars) const {
    std::wstring value;
    if (Find(section, key, value, max_chars)) return value;
    return fallback.size() > max_chars ? fallback.substr(0, max_chars) : fallback;
}

void IniDocument::Set(const std::wstring& section, const std::wstring& key,
                      const std::wstring& value) {
    std::wstring clean = value;
    for (wchar_t& c : clean) {
        if (c == L'\r' || c == L'\n' || c == L'\0') c = L' ';
    }
    const std::wstring end = NewLineEnd();
    long header = FindSection(section);
    if (header < 0) {
        if (!lines_.empty() && lines_.back().end.empty()) lines_.back().end = end;
        lines_.push_back({L"[" + section + L"]", end});
        lines_.push_back({key + L"=" + clean, end});
        return;
    }
    long found = FindKey(header, key);
    if (found >= 0) {
        // As the system writes it: the key's own spelling, "=", the value.
        std::wstring& text = lines_[size_t(found)].text;
        text = Trim(text.substr(0, text.find(L'='))) + L"=" + clean;
        return;
    }
    // After the section's last non-blank line, so blank lines that separate it from the
    // next section stay where they are.
    size_t last = size_t(header);
    std::wstring name;
    for (size_t i = last + 1; i < lines_.size(); ++i) {
        if (SectionName(lines_[i].text, name)) break;
        if (!Trim(lines_[i].text).empty()) last = i;
    }
    if (lines_[last].end.empty()) lines_[last].end = end;
    lines_.insert(lines_.begin() + long(last) + 1, Line{key + L"=" + clean, end});
}

IniRead LoadIniFile(const std::wstring& path, IniDocument& doc) {
    doc = IniDocument();
    if (!FileExists(path)) return IniRead::kMissing;
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(path, bytes, IniDocument::kMaxFileBytes)) return IniRead::kTooLarge;
    return doc.Parse(bytes.data(), bytes.size());
}

bool SaveIniFile(const std::wstring& path, const IniDocument& doc) {
    std::string bytes = doc.Serialize();
    // Beside and then over it: the game's other settings must survive a failed write.
    return ReplaceWholeFile(path, bytes.data(), bytes.size());
}

std::wstring ReadIniString(const std::wstring& path, const std::wstring& section,
                           const std::wstring& key, const std::wstring& fallback,
                           size_t max_chars) {
    IniDocument doc;
    if (!IniUsable(LoadIniFile(path, doc))) doc = IniDocument();
    return doc.Get(section, key, fallback, max_chars);
}

bool WriteIniString(const std::wstring& path, const std::wstring& section,
                    const std::wstring& key, const std::wstring& value) {
    IniDocument doc;
    if (!IniUsable(LoadIniFile(path, doc))) return false;
    doc.Set(section, key, value);
    return SaveIniFile(path, doc);
}

}  // namespace velm
