#pragma once
// Text helpers shared by the whole tag library: every string in the library is UTF-8.
// Conversions between UTF-8 and the single-byte and UTF-16 encodings that tag formats store,
// and ASCII case folding for tag names, extensions and picture names.
// The "ANSI" code page of the older formats is Windows-1252; bytes 0x81, 0x8D, 0x8F, 0x90
// and 0x9D, which it leaves undefined, map to the C1 control characters of the same value.

#include <cstdint>
#include <string>
#include <string_view>

// Single-byte encodings.
std::string AnsiToUtf8(std::string_view bytes);
// Characters without a Windows-1252 form become '?'.
std::string Utf8ToAnsi(std::string_view utf8);
std::string Latin1ToUtf8(std::string_view bytes);
// Characters above U+00FF become '?'.
std::string Utf8ToLatin1(std::string_view utf8);

// UTF-16. Invalid sequences in either direction become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);
// UTF-16 from raw bytes in the given byte order; an odd last byte is ignored.
std::string Utf16BytesToUtf8(std::string_view bytes, bool bigEndian);
// UTF-8 to UTF-16 bytes in the given byte order (no byte-order mark, no terminator).
std::string Utf8ToUtf16Bytes(std::string_view utf8, bool bigEndian);

// Bytes that claim to be UTF-8, with every invalid sequence replaced by U+FFFD.
std::string SanitizeUtf8(std::string_view bytes);
bool IsValidUtf8(std::string_view bytes);
// Number of code points (an invalid byte counts as one).
std::size_t Utf8Length(std::string_view utf8);
// The first `count` code points.
std::string Utf8Left(std::string_view utf8, std::size_t count);
// The longest beginning of at most `maxBytes` bytes that does not split a code point.
std::string Utf8LeftBytes(std::string_view utf8, std::size_t maxBytes);

// ASCII case folding: only A-Z / a-z change.
char AsciiUpper(char c);
char AsciiLower(char c);
std::string AsciiUpperCase(std::string_view s);
std::string AsciiLowerCase(std::string_view s);
bool SameText(std::string_view a, std::string_view b);
bool StartsText(std::string_view prefix, std::string_view s);

// Trims characters with codes up to 32 at both ends.
std::string TrimBlanks(std::string_view s);

// Whole-string decimal conversions; false when the text is not one.
bool TryParseInt64(std::string_view s, std::int64_t &value);
// Text of 1 to 18 decimal digits (no sign, no blanks) as a number; false otherwise.
bool ParseFixedDigits(std::string_view s, std::int64_t &value);
// `value` with leading zeros to `digits` digits.
std::string ZeroPad(std::uint64_t value, int digits);
