#include "tags/id3/id3v2_frame_content.h"

#include <algorithm>

#include "tags/text/text.h"

std::uint8_t ID3v2EncodingByte(TID3v2TextEncoding Encoding)
{
  switch (Encoding) {
  case teUTF8: return ebUTF8;
  case teANSI: return ebLatin1;
  default: return ebUTF16;
  }
}

std::string ReadID3v2String(ByteReader &In, std::uint8_t Enc, bool &BigEndian, bool &Terminated)
{
  Terminated = false;
  if (Enc == ebUTF16 || Enc == ebUTF16BE) {
    if (Enc == ebUTF16BE) {
      BigEndian = true;
    } else if (In.Remaining() >= 2) {
      const auto r = In.Rest();
      if (r[0] == 0xFF && r[1] == 0xFE) { BigEndian = false; In.Skip(2); }
      else if (r[0] == 0xFE && r[1] == 0xFF) { BigEndian = true; In.Skip(2); }
    }
    std::string raw;
    std::span<const std::uint8_t> unit;
    while (In.Remaining() >= 2) {
      In.ReadSpan(2, unit);
      if (unit[0] == 0 && unit[1] == 0) { Terminated = true; break; }
      raw.push_back(static_cast<char>(unit[0]));
      raw.push_back(static_cast<char>(unit[1]));
    }
    if (!Terminated) In.Skip(In.Remaining());  // an odd last byte belongs to no character
    std::string text = Utf16BytesToUtf8(raw, BigEndian);
    // A mark inside UTF-16BE data (not expected there) is not text.
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    return text;
  }
  std::string raw;
  std::uint8_t b = 0;
  while (In.ReadU8(b)) {
    if (b == 0) { Terminated = true; break; }
    raw.push_back(static_cast<char>(b));
  }
  if (Enc == ebLatin1) return Latin1ToUtf8(raw);
  if (Enc == ebUTF8) return SanitizeUtf8(raw);
  return AnsiToUtf8(raw);
}

void AppendID3v2String(TBytes &Out, std::string_view Text, std::uint8_t Enc, bool Terminate)
{
  std::string bytes;
  switch (Enc) {
  case ebUTF16:
    Out.push_back(0xFF);
    Out.push_back(0xFE);
    bytes = Utf8ToUtf16Bytes(Text, false);
    break;
  case ebUTF16BE: bytes = Utf8ToUtf16Bytes(Text, true); break;
  case ebUTF8: bytes = SanitizeUtf8(Text); break;
  default: bytes = Utf8ToLatin1(Text); break;
  }
  Out.insert(Out.end(), bytes.begin(), bytes.end());
  if (!Terminate) return;
  Out.push_back(0);
  if (Enc == ebUTF16 || Enc == ebUTF16BE) Out.push_back(0);
}

std::string ReadID3v2Latin1(ByteReader &In)
{
  bool be = false, terminated = false;
  return ReadID3v2String(In, ebLatin1, be, terminated);
}

void AppendID3v2Latin1(TBytes &Out, std::string_view Text, bool Terminate)
{
  AppendID3v2String(Out, Text, ebLatin1, Terminate);
}

std::vector<std::string> ReadID3v2Strings(ByteReader &In, std::uint8_t Enc)
{
  std::vector<std::string> out;
  bool be = false;
  while (!In.AtEnd()) {
    bool terminated = false;
    out.push_back(ReadID3v2String(In, Enc, be, terminated));
    if (!terminated) break;
  }
  return out;
}

bool ReadID3v2TextStrings(std::span<const std::uint8_t> Data, std::uint8_t &Enc, std::vector<std::string> &Strings)
{
  Strings.clear();
  if (Data.empty()) return false;
  ByteReader in(Data.data(), Data.size());
  Enc = Data[0];
  if (Enc > ebUTF8) {
    // No encoding byte: the whole data is one ISO-8859-1 text.
    Enc = ebLatin1;
  } else {
    in.Skip(1);
  }
  Strings = ReadID3v2Strings(in, Enc);
  return true;
}

TBytes BuildID3v2TextData(std::uint8_t Enc, const std::vector<std::string> &Strings)
{
  TBytes out{Enc};
  for (const auto &s : Strings) AppendID3v2String(out, s, Enc);
  return out;
}

bool ID3v2TextDataIsEmpty(std::span<const std::uint8_t> Data)
{
  std::uint8_t enc = 0;
  std::vector<std::string> strings;
  if (!ReadID3v2TextStrings(Data, enc, strings)) return true;
  return std::all_of(strings.begin(), strings.end(), [](const std::string &s) { return s.empty(); });
}
