#include "formats/hash_cache_scan.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "common/file_io.h"
#include "formats/plain_xml_chars.h"

namespace velm {
namespace {

// Read in blocks of this size; one tag (or the declaration) must fit the buffer.
constexpr size_t kBufferBytes = 256 * 1024;
constexpr size_t kMaxDepth = 64;
using plain_xml::IsNameChar;
using plain_xml::IsNameStart;
using plain_xml::IsSpace;

// Units both readers take as they stand: no terminator, no half of a surrogate pair.
bool IsPlainUnit(char16_t c) { return c != 0 && (c < 0xD800 || c > 0xDFFF); }

// Which of the four attributes of a file element a name is; -1 for any other.
int FieldOf(const std::string& name) {
    static const char* const kFields[] = {"name", "hash", "datetime_low", "datetime_hi"};
    for (int k = 0; k < 4; ++k)
        if (name == kFields[k]) return k;
    return -1;
}

class Scanner {
public:
    Scanner(std::FILE* file, uint64_t size, const std::function<void(const ScannedCacheEntry&)>& take)
        : file_(file), left_(size), buffer_(kBufferBytes), take_(take) {}

    CacheScanResult Run();

private:
    // Makes the next `units` code units available at pos_; false when the file ends
    // first or they would not fit the buffer.
    bool Have(size_t units);
    char16_t At(size_t i) const {
        const uint8_t* p = buffer_.data() + pos_ + 2 * i;
        return char16_t(p[0] | p[1] << 8);
    }
    // Unit i of the item of the given length at pos_, 0 beyond it.
    char16_t Unit(size_t i, size_t length) const { return i < length ? At(i) : 0; }

    bool SkipText();
    bool MeasureItem(size_t& length);
    bool Declaration(size_t length);
    bool StartTag(size_t length);
    bool EndTag(size_t length);
    bool Name(size_t& i, size_t length, std::string& name) const;
    bool Value(size_t& i, size_t length, std::wstring& value) const;
    bool Entity(size_t& i, size_t length, std::wstring& value) const;

    std::FILE* file_;
    uint64_t left_;
    std::vector<uint8_t> buffer_;
    size_t pos_ = 0;
    size_t stop_ = 0;
    bool ended_ = false;
    bool failed_ = false;
    const std::function<void(const ScannedCacheEntry&)>& take_;

    std::vector<std::string> open_;  // names of the open elements, outermost first
    bool root_done_ = false;
    bool list_seen_ = false;
    bool in_list_ = false;
    std::string name_;
    std::string attribute_;
    std::wstring value_;
    ScannedCacheEntry entry_;
};

bool Scanner::Have(size_t units) {
    const size_t want = 2 * units;
    while (stop_ - pos_ < want) {
        if (ended_ || want > buffer_.size()) return false;
        std::memmove(buffer_.data(), buffer_.data() + pos_, stop_ - pos_);
        stop_ -= pos_;
        pos_ = 0;
        const size_t room = size_t(std::min<uint64_t>(buffer_.size() - stop_, left_));
        const size_t got = std::fread(buffer_.data() + stop_, 1, room, file_);
        stop_ += got;
        left_ -= got;
        if (got < room || left_ == 0) {
            ended_ = true;
            failed_ = std::ferror(file_) != 0;
        }
    }
    return true;
}

CacheScanResult Scanner::Run() {
    if (!Have(1) || At(0) != 0xFEFF) return CacheScanResult::kNotPlain;
    pos_ += 2;
    size_t length = 0;
    if (Have(2) && At(0) == u'<' && At(1) == u'?') {
        if (!MeasureItem(length) || !Declaration(length)) return CacheScanResult::kNotPlain;
        pos_ += 2 * length;
    }
    for (;;) {
        if (!SkipText()) return CacheScanResult::kNotPlain;
        if (!Have(1)) break;
        if ((Have(2) && At(1) == u'?') || !MeasureItem(length)) return CacheScanResult::kNotPlain;
        const bool read = At(1) == u'/' ? EndTag(length) : StartTag(length);
        if (!read) return CacheScanResult::kNotPlain;
        pos_ += 2 * length;
    }
    // A byte left over is half a unit.
    if (failed_ || stop_ != pos_ || !root_done_ || !list_seen_) return CacheScanResult::kNotPlain;
    return CacheScanResult::kRead;
}

// Text between tags means nothing here; outside Root it may only be white space.
bool Scanner::SkipText() {
    while (Have(1)) {
        const char16_t c = At(0);
        if (c == u'<') return true;
        if (!IsPlainUnit(c) || (open_.empty() && !IsSpace(c))) return false;
        pos_ += 2;
    }
    return true;
}

// The length of the markup at pos_ through its closing '>', read into the buffer whole.
// Comments, CDATA and doctypes are not read here.
bool Scanner::MeasureItem(size_t& length) {
    if (!Have(2) || At(1) == u'!') return false;
    if (At(1) == u'?') {
        for (size_t i = 2;; ++i) {
            if (!Have(i + 2)) return false;
            if (At(i) == u'?' && At(i + 1) == u'>') {
                length = i + 2;
                return true;
            }
        }
    }
    char16_t quote = 0;
    for (size_t i = 1;; ++i) {
        if (!Have(i + 1)) return false;
        const char16_t c = At(i);
        if (quote != 0) {
            if (c == quote) quote = 0;
        } else if (c == u'"' || c == u'\'') {
            quote = c;
        } else if (c == u'>') {
            length = i + 1;
            return true;
        }
    }
}

bool Scanner::Declaration(size_t length) {
    if (Unit(2, length) != u'x' || Unit(3, length) != u'm' || Unit(4, length) != u'l' || !IsSpace(Unit(5, length)))
        return false;
    for (size_t i = 6; i + 2 < length; ++i)
        if (!IsPlainUnit(At(i))) return false;
    return true;
}

bool Scanner::StartTag(size_t length) {
    size_t i = 1;
    if (!Name(i, length, name_)) return false;
    const size_t depth = open_.size();
    const bool is_root = depth == 0;
    if (is_root && (root_done_ || name_ != "Root")) return false;
    const bool is_list = depth == 1 && !list_seen_ && name_ == "FileList";
    const bool is_entry = depth == 2 && in_list_;
    bool seen[4] = {false, false, false, false};
    bool version_seen = false;
    bool version_current = false;
    if (is_entry) entry_ = ScannedCacheEntry();
    bool empty = false;
    for (;;) {
        const size_t before = i;
        while (IsSpace(Unit(i, length))) ++i;
        const char16_t c = Unit(i, length);
        if (c == u'>' && i + 1 == length) break;
        if (c == u'/' && Unit(i + 1, length) == u'>' && i + 2 == length) {
            empty = true;
            break;
        }
        if (i == before || !Name(i, length, attribute_)) return false;
        while (IsSpace(Unit(i, length))) ++i;
        if (Unit(i, length) != u'=') return false;
        ++i;
        while (IsSpace(Unit(i, length))) ++i;
        value_.clear();
        if (!Value(i, length, value_)) return false;
        if (is_root && !version_seen && attribute_ == "version") {
            version_seen = true;
            version_current = value_ == L"100";
        }
        const int field = is_entry ? FieldOf(attribute_) : -1;
        if (field >= 0 && !seen[field]) {
            seen[field] = true;
            std::wstring* fields[] = {&entry_.name, &entry_.hash, &entry_.datetime_low, &entry_.datetime_hi};
            *fields[field] = value_;
        }
    }
    // A cache of another version is the general reader's to refuse.
    if (is_root && !version_current) return false;
    if (is_entry) take_(entry_);
    if (is_list) list_seen_ = true;
    if (empty) {
        root_done_ = root_done_ || is_root;
        return true;
    }
    if (depth + 1 > kMaxDepth) return false;
    open_.push_back(name_);
    in_list_ = in_list_ || is_list;
    return true;
}

bool Scanner::EndTag(size_t length) {
    size_t i = 2;
    if (!Name(i, length, name_) || open_.empty() || name_ != open_.back()) return false;
    while (IsSpace(Unit(i, length))) ++i;
    if (i + 1 != length) return false;
    open_.pop_back();
    if (open_.size() == 1) in_list_ = false;
    if (open_.empty()) root_done_ = true;
    return true;
}

bool Scanner::Name(size_t& i, size_t length, std::string& name) const {
    if (!IsNameStart(Unit(i, length))) return false;
    name.clear();
    while (IsNameChar(Unit(i, length))) name.push_back(char(Unit(i++, length)));
    return true;
}

bool Scanner::Value(size_t& i, size_t length, std::wstring& value) const {
    const char16_t quote = Unit(i, length);
    if (quote != u'"' && quote != u'\'') return false;
    for (++i;; ++i) {
        const char16_t c = Unit(i, length);
        if (c == quote) {
            ++i;
            return true;
        }
        if (c == u'&') {
            if (!Entity(i, length, value)) return false;
            continue;
        }
        // The general reader turns tabs and line breaks in values into spaces.
        if (c == u'<' || (IsSpace(c) && c != u' ') || !IsPlainUnit(c)) return false;
        value.push_back(wchar_t(c));
    }
}

// At '&': appends the character the reference stands for and leaves i on its ';'.
bool Scanner::Entity(size_t& i, size_t length, std::wstring& value) const {
    std::string token;
    size_t end = i + 1;
    for (; Unit(end, length) != u';'; ++end) {
        const char16_t c = Unit(end, length);
        if (token.size() == plain_xml::kMaxReferenceChars || c == 0 || c > 0x7F) return false;
        token.push_back(char(c));
    }
    uint32_t code = 0;
    if (!plain_xml::ReferenceCode(token, code)) return false;
    value.push_back(wchar_t(code));
    i = end;
    return true;
}

}  // namespace

CacheScanResult ScanHashCacheFile(const std::wstring& path, uint64_t max_bytes,
                                  const std::function<void(const ScannedCacheEntry&)>& take) {
    FileHandle file = OpenFile(path, FileMode::kRead);
    if (!file || !SeekFile(file.get(), 0, SEEK_END)) return CacheScanResult::kUnreadable;
    const int64_t size = TellFile(file.get());
    if (size < 0 || uint64_t(size) > max_bytes || !SeekFile(file.get(), 0, SEEK_SET))
        return CacheScanResult::kUnreadable;
    return Scanner(file.get(), uint64_t(size), take).Run();
}

}  // namespace velm
