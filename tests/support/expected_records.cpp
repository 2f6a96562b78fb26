#include "tests/support/expected_records.h"

#include <array>
#include <cstdio>
#include <fstream>

#include "tests/support/test_support.h"

namespace {

class TJsonCursor {
public:
  explicit TJsonCursor(std::string_view Text) : FText(Text) {}

  void SkipBlanks()
  {
    while (FPos < FText.size() && (FText[FPos] == ' ' || FText[FPos] == '\t' || FText[FPos] == '\r' || FText[FPos] == '\n'))
      ++FPos;
  }
  bool AtEnd() const { return FPos >= FText.size(); }
  char Peek() const { return AtEnd() ? '\0' : FText[FPos]; }
  bool Take(char C)
  {
    if (Peek() != C) return false;
    ++FPos;
    return true;
  }
  bool TakeWord(std::string_view Word)
  {
    if (FText.substr(FPos, Word.size()) != Word) return false;
    FPos += Word.size();
    return true;
  }
  std::size_t Position() const { return FPos; }

  bool String(std::string &Out, std::string &Error)
  {
    Out.clear();
    if (!Take('"')) return Fail(Error, "a string expected");
    while (!AtEnd()) {
      const char c = FText[FPos++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return Fail(Error, "a control character inside a string");
      if (c != '\\') {
        Out += c;
        continue;
      }
      if (AtEnd()) break;
      const char e = FText[FPos++];
      switch (e) {
      case '"': case '\\': case '/': Out += e; break;
      case 'b': Out += '\b'; break;
      case 'f': Out += '\f'; break;
      case 'n': Out += '\n'; break;
      case 'r': Out += '\r'; break;
      case 't': Out += '\t'; break;
      case 'u': {
        std::uint32_t code = 0;
        if (!Hex4(code)) return Fail(Error, "a bad \\u escape");
        if (code >= 0xDC00 && code <= 0xDFFF) return Fail(Error, "a lone low surrogate");
        if (code >= 0xD800 && code <= 0xDBFF) {
          std::uint32_t low = 0;
          if (!TakeWord("\\u") || !Hex4(low) || low < 0xDC00 || low > 0xDFFF)
            return Fail(Error, "a high surrogate without its low half");
          code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        }
        AppendUtf8(Out, code);
        break;
      }
      default: return Fail(Error, "an unknown escape");
      }
    }
    return Fail(Error, "a string without its closing quote");
  }

  bool Number(std::string &Out, std::string &Error)
  {
    const std::size_t start = FPos;
    Take('-');
    if (!Digits()) return Fail(Error, "a value expected");
    if (Take('.') && !Digits()) return Fail(Error, "digits expected after the decimal point");
    if (Take('e') || Take('E')) {
      if (!Take('+')) Take('-');
      if (!Digits()) return Fail(Error, "digits expected in the exponent");
    }
    Out.assign(FText.substr(start, FPos - start));
    return true;
  }

private:
  bool Fail(std::string &Error, const char *What)
  {
    Error = std::string(What) + " at offset " + std::to_string(FPos);
    return false;
  }
  bool Digits()
  {
    const std::size_t start = FPos;
    while (Peek() >= '0' && Peek() <= '9') ++FPos;
    return FPos > start;
  }
  bool Hex4(std::uint32_t &Out)
  {
    if (FText.size() - FPos < 4) return false;
    Out = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = FText[FPos++];
      Out <<= 4;
      if (c >= '0' && c <= '9') Out |= static_cast<std::uint32_t>(c - '0');
      else if (c >= 'a' && c <= 'f') Out |= static_cast<std::uint32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') Out |= static_cast<std::uint32_t>(c - 'A' + 10);
      else return false;
    }
    return true;
  }
  static void AppendUtf8(std::string &Out, std::uint32_t Code)
  {
    auto put = [&Out](std::uint32_t Byte) { Out += static_cast<char>(Byte); };
    if (Code < 0x80) {
      put(Code);
    } else if (Code < 0x800) {
      put(0xC0 | (Code >> 6));
      put(0x80 | (Code & 0x3F));
    } else if (Code < 0x10000) {
      put(0xE0 | (Code >> 12));
      put(0x80 | ((Code >> 6) & 0x3F));
      put(0x80 | (Code & 0x3F));
    } else {
      put(0xF0 | (Code >> 18));
      put(0x80 | ((Code >> 12) & 0x3F));
      put(0x80 | ((Code >> 6) & 0x3F));
      put(0x80 | (Code & 0x3F));
    }
  }

  std::string_view FText;
  std::size_t FPos = 0;
};

} // namespace

bool ParseFlatJsonObject(std::string_view Text, TFlatJsonObject &Out, std::string &Error)
{
  Out.clear();
  TJsonCursor in(Text);
  in.SkipBlanks();
  if (!in.Take('{')) {
    Error = "an object expected";
    return false;
  }
  in.SkipBlanks();
  if (!in.Take('}')) {
    for (;;) {
      std::string key;
      in.SkipBlanks();
      if (!in.String(key, Error)) return false;
      in.SkipBlanks();
      if (!in.Take(':')) {
        Error = "':' expected after \"" + key + "\"";
        return false;
      }
      in.SkipBlanks();
      std::optional<std::string> value;
      if (in.Peek() == '"') {
        value.emplace();
        if (!in.String(*value, Error)) return false;
      } else if (!in.TakeWord("null")) {
        value.emplace();
        if (!in.Number(*value, Error)) return false;
      }
      if (!Out.emplace(key, std::move(value)).second) {
        Error = "the key \"" + key + "\" twice";
        return false;
      }
      in.SkipBlanks();
      if (in.Take('}')) break;
      if (!in.Take(',')) {
        Error = "',' or '}' expected at offset " + std::to_string(in.Position());
        return false;
      }
    }
  }
  in.SkipBlanks();
  if (!in.AtEnd()) {
    Error = "text after the object at offset " + std::to_string(in.Position());
    return false;
  }
  return true;
}

std::optional<std::string> TExpectedRecord::Text(std::string_view Key) const
{
  const auto it = Values.find(Key);
  return it == Values.end() ? std::nullopt : it->second;
}

long long TExpectedRecord::Number(std::string_view Key) const
{
  const std::optional<std::string> text = Text(Key);
  if (!text || text->empty()) return -1;
  long long value = 0;
  for (const char c : *text) {
    if (c < '0' || c > '9' || value > 100000000000LL) return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

void PrintTo(const TExpectedRecord &Record, std::ostream *Out) { *Out << Record.File; }

bool ReadExpectedRecords(std::vector<TExpectedRecord> &Out, std::string &Error)
{
  Out.clear();
  const std::string path = FixturePath("EXPECTED.jsonl");
  std::ifstream in(path);
  if (!in) {
    Error = "cannot read " + path;
    return false;
  }
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    TExpectedRecord record;
    record.Line = number;
    std::string why;
    if (!ParseFlatJsonObject(line, record.Values, why)) {
      Error = path + " line " + std::to_string(number) + ": " + why;
      return false;
    }
    const std::optional<std::string> file = record.Text("file");
    if (!file || file->empty()) {
      Error = path + " line " + std::to_string(number) + ": no \"file\"";
      return false;
    }
    record.File = *file;
    Out.push_back(std::move(record));
  }
  return true;
}

std::string Sha1Hex(const std::uint8_t *Data, std::size_t Size)
{
  std::array<std::uint32_t, 5> h{0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
  auto rotl = [](std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); };
  auto block = [&](const std::uint8_t *p) {
    std::array<std::uint32_t, 80> w{};
    for (int i = 0; i < 16; ++i)
      w[i] = (std::uint32_t{p[4 * i]} << 24) | (std::uint32_t{p[4 * i + 1]} << 16) | (std::uint32_t{p[4 * i + 2]} << 8) |
             std::uint32_t{p[4 * i + 3]};
    for (int i = 16; i < 80; ++i) w[i] = rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    for (int i = 0; i < 80; ++i) {
      std::uint32_t f = 0, k = 0;
      if (i < 20) { f = (b & c) | (~b & d); k = 0x5A827999u; }
      else if (i < 40) { f = b ^ c ^ d; k = 0x6ED9EBA1u; }
      else if (i < 60) { f = (b & c) | (b & d) | (c & d); k = 0x8F1BBCDCu; }
      else { f = b ^ c ^ d; k = 0xCA62C1D6u; }
      const std::uint32_t t = rotl(a, 5) + f + e + k + w[i];
      e = d;
      d = c;
      c = rotl(b, 30);
      b = a;
      a = t;
    }
    h[0] += a; h[1] += b; h[2] += c; h[3] += d; h[4] += e;
  };

  std::size_t whole = Size - Size % 64;
  for (std::size_t i = 0; i < whole; i += 64) block(Data + i);
  // The tail, the 0x80 marker, zeros, and the length in bits as a 64-bit big-endian number.
  std::array<std::uint8_t, 128> last{};
  const std::size_t rest = Size - whole;
  for (std::size_t i = 0; i < rest; ++i) last[i] = Data[whole + i];
  last[rest] = 0x80;
  const std::size_t tail = rest + 1 + 8 <= 64 ? 64 : 128;
  const std::uint64_t bits = static_cast<std::uint64_t>(Size) * 8;
  for (int i = 0; i < 8; ++i) last[tail - 1 - static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(bits >> (8 * i));
  for (std::size_t i = 0; i < tail; i += 64) block(last.data() + i);

  std::string hex;
  char digits[9];
  for (const std::uint32_t v : h) {
    std::snprintf(digits, sizeof digits, "%08x", v);
    hex += digits;
  }
  return hex;
}
