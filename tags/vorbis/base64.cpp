#include "tags/vorbis/base64.h"

#include <array>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::int8_t kPad = -2, kSpace = -3, kInvalid = -1;

constexpr std::array<std::int8_t, 256> MakeDecodeTable()
{
  std::array<std::int8_t, 256> table{};
  for (auto &v : table) v = kInvalid;
  for (int i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::int8_t>(i);
  table['='] = kPad;
  for (const char c : {' ', '\t', '\r', '\n', '\v', '\f'}) table[static_cast<unsigned char>(c)] = kSpace;
  return table;
}
constexpr std::array<std::int8_t, 256> kDecode = MakeDecodeTable();

// The 1 to 3 bytes that Count (2 to 4) sextets of Group give, written at Out[At], At moved on.
void FlushGroup(const std::uint8_t (&Group)[4], int Count, TBytes &Out, std::size_t &At)
{
  const std::uint32_t bits = static_cast<std::uint32_t>(Group[0]) << 18 | static_cast<std::uint32_t>(Group[1]) << 12 |
                             static_cast<std::uint32_t>(Group[2]) << 6 | Group[3];
  Out[At++] = static_cast<std::uint8_t>(bits >> 16);
  if (Count > 2) Out[At++] = static_cast<std::uint8_t>(bits >> 8);
  if (Count > 3) Out[At++] = static_cast<std::uint8_t>(bits);
}

} // namespace

std::string Base64Encode(std::span<const std::uint8_t> Bytes)
{
  std::string out;
  out.reserve((Bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= Bytes.size(); i += 3) {
    const std::uint32_t bits = static_cast<std::uint32_t>(Bytes[i]) << 16 | static_cast<std::uint32_t>(Bytes[i + 1]) << 8 | Bytes[i + 2];
    for (int shift = 18; shift >= 0; shift -= 6) out.push_back(kAlphabet[(bits >> shift) & 0x3F]);
  }
  const std::size_t left = Bytes.size() - i;
  if (left > 0) {
    std::uint32_t bits = static_cast<std::uint32_t>(Bytes[i]) << 16;
    if (left == 2) bits |= static_cast<std::uint32_t>(Bytes[i + 1]) << 8;
    out.push_back(kAlphabet[(bits >> 18) & 0x3F]);
    out.push_back(kAlphabet[(bits >> 12) & 0x3F]);
    out.push_back(left == 2 ? kAlphabet[(bits >> 6) & 0x3F] : '=');
    out.push_back('=');
  }
  return out;
}

std::string Base64Encode(std::string_view Bytes)
{
  return Base64Encode(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t *>(Bytes.data()), Bytes.size()));
}

std::int64_t PlainBase64DecodedSize(std::string_view Text)
{
  std::size_t n = Text.size();
  if (n % 4 != 0) return -1;
  std::size_t pads = 0;
  while (pads < 2 && n > 0 && Text[n - 1] == '=') {
    --n;
    ++pads;
  }
  // Range checks with bitwise operators only, so that the compiler runs many characters a step.
  const auto *p = reinterpret_cast<const unsigned char *>(Text.data());
  unsigned char bad = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char c = p[i];
    const unsigned char alpha = static_cast<unsigned char>(static_cast<unsigned char>((c | 0x20) - 'a') < 26);
    const unsigned char digit = static_cast<unsigned char>(static_cast<unsigned char>(c - '0') < 10);
    const unsigned char sign = static_cast<unsigned char>((c == '+') | (c == '/'));
    bad |= static_cast<unsigned char>((alpha | digit | sign) ^ 1);
  }
  if (bad != 0) return -1;
  return static_cast<std::int64_t>(Text.size() / 4 * 3 - pads);
}

bool Base64Decode(std::string_view Text, TBytes &Out)
{
  // Every four characters give at most three bytes.
  Out.resize(Text.size() / 4 * 3 + 3);
  std::size_t at = 0;
  std::uint8_t group[4] = {0, 0, 0, 0};
  int count = 0;
  int pads = 0;
  bool valid = true;
  const std::size_t n = Text.size();
  for (std::size_t i = 0; valid && i < n; ++i) {
    // Four alphabet characters at a group boundary: the common case, taken whole.
    if (count == 0 && pads == 0 && i + 4 <= n) {
      const std::int8_t a = kDecode[static_cast<unsigned char>(Text[i])];
      const std::int8_t b = kDecode[static_cast<unsigned char>(Text[i + 1])];
      const std::int8_t c = kDecode[static_cast<unsigned char>(Text[i + 2])];
      const std::int8_t d = kDecode[static_cast<unsigned char>(Text[i + 3])];
      if ((a | b | c | d) >= 0) {
        const std::uint32_t bits = static_cast<std::uint32_t>(a) << 18 | static_cast<std::uint32_t>(b) << 12 |
                                   static_cast<std::uint32_t>(c) << 6 | static_cast<std::uint32_t>(d);
        Out[at++] = static_cast<std::uint8_t>(bits >> 16);
        Out[at++] = static_cast<std::uint8_t>(bits >> 8);
        Out[at++] = static_cast<std::uint8_t>(bits);
        i += 3;
        continue;
      }
    }
    const std::int8_t v = kDecode[static_cast<unsigned char>(Text[i])];
    if (v == kSpace) continue;
    if (v == kInvalid) {
      valid = false;
    } else if (v == kPad) {
      // Padding completes a group of 2 or 3 characters to 4; nothing but white space follows it.
      valid = count >= 2 && count + ++pads <= 4;
    } else if (pads > 0) {
      valid = false;
    } else {
      group[count++] = static_cast<std::uint8_t>(v);
      if (count == 4) {
        FlushGroup(group, 4, Out, at);
        count = 0;
        group[0] = group[1] = group[2] = group[3] = 0;
      }
    }
  }
  if (pads > 0 && count + pads != 4) valid = false;
  if (valid && count == 1) valid = false;
  if (valid && count > 1) FlushGroup(group, count, Out, at);
  if (!valid) at = 0;
  Out.resize(at);
  return valid;
}
