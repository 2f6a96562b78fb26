#include "tags/text/text.h"

#include <array>

namespace {

// Windows-1252 bytes 0x80..0x9F; the rest of the page equals Latin-1.
constexpr std::array<char32_t, 32> kCp1252High = {
  0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
  0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string &out, char32_t cp)
{
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Decodes one code point at `i`, advancing it; invalid input yields U+FFFD and consumes one byte.
char32_t NextCodePoint(std::string_view s, std::size_t &i, bool &valid)
{
  const auto b0 = static_cast<unsigned char>(s[i]);
  valid = true;
  if (b0 < 0x80) { ++i; return b0; }
  int extra = 0;
  char32_t cp = 0;
  char32_t min = 0;
  if ((b0 & 0xE0) == 0xC0) { extra = 1; cp = b0 & 0x1Fu; min = 0x80; }
  else if ((b0 & 0xF0) == 0xE0) { extra = 2; cp = b0 & 0x0Fu; min = 0x800; }
  else if ((b0 & 0xF8) == 0xF0) { extra = 3; cp = b0 & 0x07u; min = 0x10000; }
  else { ++i; valid = false; return kReplacement; }
  if (i + static_cast<std::size_t>(extra) >= s.size()) {
    ++i; valid = false; return kReplacement;
  }
  for (int k = 1; k <= extra; ++k) {
    const auto b = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
    if ((b & 0xC0) != 0x80) { ++i; valid = false; return kReplacement; }
    cp = (cp << 6) | (b & 0x3Fu);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) { ++i; valid = false; return kReplacement; }
  i += static_cast<std::size_t>(extra) + 1;
  return cp;
}

template <typename Sink>
void ForEachCodePoint(std::string_view utf8, Sink sink)
{
  std::size_t i = 0;
  bool valid = true;
  while (i < utf8.size()) sink(NextCodePoint(utf8, i, valid));
}

void AppendUtf16Unit(std::string &out, char16_t u, bool bigEndian)
{
  const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
  if (bigEndian) { out.push_back(hi); out.push_back(lo); }
  else { out.push_back(lo); out.push_back(hi); }
}

template <typename UnitAt>
std::string DecodeUtf16(std::size_t count, UnitAt unitAt)
{
  std::string out;
  out.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const char16_t u = unitAt(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < count) {
      const char16_t v = unitAt(i + 1);
      if (v >= 0xDC00 && v <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (static_cast<char32_t>(v) - 0xDC00));
        ++i;
        continue;
      }
    }
    AppendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? kReplacement : static_cast<char32_t>(u));
  }
  return out;
}

} // namespace

std::string AnsiToUtf8(std::string_view bytes)
{
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    AppendUtf8(out, (b >= 0x80 && b <= 0x9F) ? kCp1252High[b - 0x80u] : static_cast<char32_t>(b));
  }
  return out;
}

std::string Utf8ToAnsi(std::string_view utf8)
{
  std::string out;
  out.reserve(utf8.size());
  ForEachCodePoint(utf8, [&](char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) { out.push_back(static_cast<char>(cp)); return; }
    for (std::size_t k = 0; k < kCp1252High.size(); ++k)
      if (kCp1252High[k] == cp) { out.push_back(static_cast<char>(0x80 + k)); return; }
    out.push_back('?');
  });
  return out;
}

std::string Latin1ToUtf8(std::string_view bytes)
{
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) AppendUtf8(out, static_cast<unsigned char>(c));
  return out;
}

std::string Utf8ToLatin1(std::string_view utf8)
{
  std::string out;
  out.reserve(utf8.size());
  ForEachCodePoint(utf8, [&](char32_t cp) { out.push_back(cp <= 0xFF ? static_cast<char>(cp) : '?'); });
  return out;
}

std::u16string Utf8ToUtf16(std::string_view utf8)
{
  std::u16string out;
  out.reserve(utf8.size());
  ForEachCodePoint(utf8, [&](char32_t cp) {
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  });
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16)
{
  return DecodeUtf16(utf16.size(), [&](std::size_t i) { return utf16[i]; });
}

std::string Utf16BytesToUtf8(std::string_view bytes, bool bigEndian)
{
  return DecodeUtf16(bytes.size() / 2, [&](std::size_t i) {
    const auto a = static_cast<unsigned char>(bytes[2 * i]), b = static_cast<unsigned char>(bytes[2 * i + 1]);
    return static_cast<char16_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
  });
}

std::string Utf8ToUtf16Bytes(std::string_view utf8, bool bigEndian)
{
  std::string out;
  for (char16_t u : Utf8ToUtf16(utf8)) AppendUtf16Unit(out, u, bigEndian);
  return out;
}

std::string SanitizeUtf8(std::string_view bytes)
{
  if (IsValidUtf8(bytes)) return std::string(bytes);
  std::string out;
  out.reserve(bytes.size());
  ForEachCodePoint(bytes, [&](char32_t cp) { AppendUtf8(out, cp); });
  return out;
}

bool IsValidUtf8(std::string_view bytes)
{
  std::size_t i = 0;
  bool valid = true;
  while (i < bytes.size()) {
    NextCodePoint(bytes, i, valid);
    if (!valid) return false;
  }
  return true;
}

std::size_t Utf8Length(std::string_view utf8)
{
  std::size_t n = 0;
  ForEachCodePoint(utf8, [&](char32_t) { ++n; });
  return n;
}

std::string Utf8Left(std::string_view utf8, std::size_t count)
{
  std::size_t i = 0;
  bool valid = true;
  for (std::size_t n = 0; n < count && i < utf8.size(); ++n) NextCodePoint(utf8, i, valid);
  return std::string(utf8.substr(0, i));
}

std::string Utf8LeftBytes(std::string_view utf8, std::size_t maxBytes)
{
  if (utf8.size() <= maxBytes) return std::string(utf8);
  std::size_t end = maxBytes;
  // Back over the continuation bytes of the code point that the cut falls into (at most three).
  for (int k = 0; k < 3 && end > 0 && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80; ++k) --end;
  return std::string(utf8.substr(0, end));
}

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string AsciiUpperCase(std::string_view s)
{
  std::string out(s);
  for (char &c : out) c = AsciiUpper(c);
  return out;
}

std::string AsciiLowerCase(std::string_view s)
{
  std::string out(s);
  for (char &c : out) c = AsciiLower(c);
  return out;
}

bool SameText(std::string_view a, std::string_view b)
{
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  return true;
}

bool StartsText(std::string_view prefix, std::string_view s)
{
  return s.size() >= prefix.size() && SameText(prefix, s.substr(0, prefix.size()));
}

std::string TrimBlanks(std::string_view s)
{
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
  return std::string(s.substr(b, e - b));
}

bool TryParseInt64(std::string_view s, std::int64_t &value)
{
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) { negative = s[i] == '-'; ++i; }
  if (i >= s.size()) return false;
  // The negative range reaches one further than the positive one.
  const std::uint64_t limit = static_cast<std::uint64_t>(INT64_MAX) + (negative ? 1u : 0u);
  std::uint64_t v = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    const auto digit = static_cast<std::uint64_t>(s[i] - '0');
    if (v > (limit - digit) / 10) return false;
    v = v * 10 + digit;
  }
  value = negative ? static_cast<std::int64_t>(0 - v) : static_cast<std::int64_t>(v);
  return true;
}

bool ParseFixedDigits(std::string_view s, std::int64_t &value)
{
  if (s.empty() || s.size() > 18) return false;
  std::int64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  value = v;
  return true;
}

std::string ZeroPad(std::uint64_t value, int digits)
{
  std::string s = std::to_string(value);
  if (static_cast<int>(s.size()) < digits) s.insert(0, static_cast<std::size_t>(digits) - s.size(), '0');
  return s;
}
