#pragma once
// An INI text editor that behaves like the system's private-profile functions for what
// this program needs: section and key names compared without regard to ASCII letter case,
// values read with surrounding blanks (and one pair of enclosing quotes) removed, a write
// that replaces the key's own line in place, appends a missing key to its section and a
// missing section to the file. Every other line (comments, blank lines, unknown keys,
// line ends, order) is written back byte for byte, in the file's own encoding:
//   - UTF-16LE with the byte-order mark FF FE,
//   - UTF-8 (with or without the mark EF BB BF), which covers plain ASCII files,
//   - any other 8-bit text (an ANSI code page this platform-free code cannot name): bytes
//     are carried unchanged as the characters U+0000..U+00FF, so untouched lines survive
//     exactly; a written character above U+00FF becomes "?", as the system's own
//     conversion to a code page without it does.
// A new file is written as UTF-8 without a mark (the keys and values this program writes
// are ASCII, so the file reads the same in every code page).
//
// Not thread-safe: one document per caller.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velm {

// How reading an INI text or file went.
enum class IniRead {
    kRead,
    kMissing,   // no such file: read as empty, as the system reads it
    kTooLarge,  // over IniDocument::kMaxFileBytes, or unreadable
    kNotText,   // a NUL character, or a UTF-16 big-endian mark
};
// The document may be used: read, or read as empty.
inline bool IniUsable(IniRead read) { return read == IniRead::kRead || read == IniRead::kMissing; }

class IniDocument {
public:
    // Larger files are refused: the game's own INI files are a few kilobytes.
    static constexpr size_t kMaxFileBytes = 4u << 20;

    enum class Encoding { kUtf8, kEightBit, kUtf16Le };

    // On failure (too large, not text) the document is left empty.
    IniRead Parse(const uint8_t* bytes, size_t size);
    std::string Serialize() const;

    // True when the key exists; value gets at most max_chars characters of it.
    bool Find(const std::wstring& section, const std::wstring& key, std::wstring& value,
              size_t max_chars = SIZE_MAX) const;
    std::wstring Get(const std::wstring& section, const std::wstring& key,
                     const std::wstring& fallback, size_t max_chars = SIZE_MAX) const;
    // The value is stored as given; it must not hold a line break (callers pass their own
    // formatted values), so line breaks are replaced by blanks rather than splitting the key.
    void Set(const std::wstring& section, const std::wstring& key, const std::wstring& value);

    Encoding encoding() const { return encoding_; }
    bool has_utf8_mark() const { return utf8_mark_; }

private:
    struct Line {
        std::wstring text;  // without its line end
        std::wstring end;   // "\r\n", "\n" or "" (last line without one)
    };
    // Index of the first line of the named section's header, or -1.
    long FindSection(const std::wstring& section) const;
    // Index of the key's line inside the section starting at header, or -1.
    long FindKey(long header, const std::wstring& key) const;
    std::wstring NewLineEnd() const;

    std::vector<Line> lines_;
    Encoding encoding_ = Encoding::kUtf8;
    bool utf8_mark_ = false;
};

// Loads a file into doc.
IniRead LoadIniFile(const std::wstring& path, IniDocument& doc);
// False when the file could not be written (it is then left whole, as it was).
bool SaveIniFile(const std::wstring& path, const IniDocument& doc);

// Single-key reads and writes on a file, like the private-profile calls. A file that
// cannot be loaded reads as the fallback and is never overwritten by a write (false).
std::wstring ReadIniString(const std::wstring& path, const std::wstring& section,
                           const std::wstring& key, const std::wstring& fallback,
                           size_t max_chars = SIZE_MAX);
bool WriteIniString(const std::wstring& path, const std::wstring& section,
                    const std::wstring& key, const std::wstring& value);

}  // namespace velm
