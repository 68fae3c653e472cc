#pragma once
// Text conversions between the encodings the system meets: UTF-16LE on disk and in
// resources, UTF-8 in request bodies, wide strings in memory (UTF-16 on Windows, UTF-32
// on the native build).
#include <cstddef>
#include <cstdint>
#include <string>

namespace velm {

std::string WideToUtf8(const std::wstring& text);
// Invalid sequences become U+FFFD.
std::wstring Utf8ToWide(const std::string& text);

// Little-endian UTF-16 code units, no byte-order mark, no terminator.
std::string WideToUtf16Le(const std::wstring& text);
// An odd trailing byte is dropped; unpaired surrogates become U+FFFD on the native build.
std::wstring Utf16LeToWide(const uint8_t* bytes, size_t size);

// ASCII-only case mapping: switch names, hashes and URL schemes are ASCII.
std::wstring AsciiUpper(std::wstring text);
std::wstring AsciiLower(std::wstring text);
bool EqualsIgnoreAsciiCase(const std::wstring& a, const std::wstring& b);

// printf-style formatting into a wide string (wide texts are passed with %ls).
std::wstring FormatText(const wchar_t* format, ...);

// The leading decimal integer of a text as the C library reads it (optional blanks and
// sign, then digits; 0 without digits), held at the 32-bit limits instead of overflowing.
int32_t ParseLeadingInt(const std::wstring& text);

// count bytes from exactly 2 * count hexadecimal digits (either case) of text starting at
// offset; false, with out untouched, when any of them is not a digit or text is shorter.
bool ParseHexBytes(const std::wstring& text, size_t offset, uint8_t* out, size_t count);
// Lower-case hexadecimal digits of the bytes.
std::wstring LowerHex(const uint8_t* bytes, size_t count);

}  // namespace velm
