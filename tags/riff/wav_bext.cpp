#include "tags/riff/wav_bext.h"

#include <algorithm>
#include <cstdio>

#include "tags/riff/wav_text.h"
#include "tags/streams/byte_writer.h"

namespace {

template <std::size_t N> bool ReadField(ByteReader &In, std::array<std::uint8_t, N> &Field)
{
  std::span<const std::uint8_t> bytes;
  if (!In.ReadSpan(N, bytes)) return false;
  std::copy(bytes.begin(), bytes.end(), Field.begin());
  return true;
}

bool ReadI16(ByteReader &In, std::int16_t &Value)
{
  std::uint16_t raw = 0;
  if (!In.ReadU16LE(raw)) return false;
  Value = static_cast<std::int16_t>(raw);
  return true;
}

int HexDigit(char C)
{
  if (C >= '0' && C <= '9') return C - '0';
  if (C >= 'a' && C <= 'f') return C - 'a' + 10;
  if (C >= 'A' && C <= 'F') return C - 'A' + 10;
  return -1;
}

} // namespace

bool TAG_BEXT::Read(ByteReader &In)
{
  if (In.Remaining() < static_cast<std::size_t>(kBEXTRecordBytes)) return false;
  TAG_BEXT r;
  ReadField(In, r.Description);
  ReadField(In, r.Originator);
  ReadField(In, r.OriginatorReference);
  ReadField(In, r.OriginationDate);
  ReadField(In, r.OriginationTime);
  In.ReadU64LE(r.TimeReference);
  In.ReadU16LE(r.Version);
  ReadField(In, r.UMID);
  ReadI16(In, r.LoudnessValue);
  ReadI16(In, r.LoudnessRange);
  ReadI16(In, r.MaxTruePeakLevel);
  ReadI16(In, r.MaxMomentaryLoudness);
  ReadI16(In, r.MaxShortTermLoudness);
  ReadField(In, r.Reserved);
  *this = r;
  return true;
}

void TAG_BEXT::AppendTo(TBytes &Out) const
{
  ByteWriter w(Out);
  w.Append(Description).Append(Originator).Append(OriginatorReference).Append(OriginationDate).Append(OriginationTime);
  w.U64LE(TimeReference).U16LE(Version).Append(UMID);
  for (const std::int16_t v : {LoudnessValue, LoudnessRange, MaxTruePeakLevel, MaxMomentaryLoudness, MaxShortTermLoudness})
    w.U16LE(static_cast<std::uint16_t>(v));
  w.Append(Reserved);
}

void TBEXT::Clear() { *this = TBEXT(); }

bool TBEXT::HasContent() const
{
  if (!CodingHistoryBytes.empty()) return true;
  TBytes record;
  BEXTChunk.AppendTo(record);
  return std::any_of(record.begin(), record.end(), [](std::uint8_t b) { return b != 0; });
}

std::int64_t TBEXT::CalculateSize() const
{
  const auto history = static_cast<std::int64_t>(CodingHistoryBytes.size());
  const bool terminated = !CodingHistoryBytes.empty() && CodingHistoryBytes.back() == 0;
  const std::int64_t size = kBEXTRecordBytes + history + (terminated ? 0 : 1);
  return size + (size & 1);
}

TBytes TBEXT::BuildData() const
{
  TAG_BEXT record = BEXTChunk;
  if (record.Version == 0) record.Version = 1;
  TBytes data;
  data.reserve(static_cast<std::size_t>(CalculateSize()));
  record.AppendTo(data);
  data.insert(data.end(), CodingHistoryBytes.begin(), CodingHistoryBytes.end());
  data.resize(static_cast<std::size_t>(CalculateSize()), 0);
  return data;
}

std::string TBEXT::GetDescription() const { return ReadFixedText(BEXTChunk.Description); }
void TBEXT::SetDescription(std::string_view Text) { WriteFixedText(BEXTChunk.Description, Text); }
std::string TBEXT::GetOriginator() const { return ReadFixedText(BEXTChunk.Originator); }
void TBEXT::SetOriginator(std::string_view Text) { WriteFixedText(BEXTChunk.Originator, Text); }
std::string TBEXT::GetOriginatorReference() const { return ReadFixedText(BEXTChunk.OriginatorReference); }
void TBEXT::SetOriginatorReference(std::string_view Text) { WriteFixedText(BEXTChunk.OriginatorReference, Text); }
std::string TBEXT::GetOriginationDate() const { return ReadFixedText(BEXTChunk.OriginationDate); }
void TBEXT::SetOriginationDate(std::string_view Text) { WriteFixedText(BEXTChunk.OriginationDate, Text); }
std::string TBEXT::GetOriginationTime() const { return ReadFixedText(BEXTChunk.OriginationTime); }
void TBEXT::SetOriginationTime(std::string_view Text) { WriteFixedText(BEXTChunk.OriginationTime, Text); }
std::string TBEXT::GetReserved() const { return ReadFixedText(BEXTChunk.Reserved); }
void TBEXT::SetReserved(std::string_view Text) { WriteFixedText(BEXTChunk.Reserved, Text); }

std::string TBEXT::GetUMID() const
{
  if (BEXTChunk.Version == 0) return std::string();
  std::string out;
  char hex[3];
  for (const std::uint8_t b : BEXTChunk.UMID) {
    if (!out.empty()) out += ' ';
    std::snprintf(hex, sizeof hex, "%02X", b);
    out += hex;
  }
  return out;
}

void TBEXT::SetUMID(std::string_view Text)
{
  BEXTChunk.UMID.fill(0);
  std::size_t pos = 0, index = 0;
  while (index < BEXTChunk.UMID.size()) {
    while (pos < Text.size() && static_cast<unsigned char>(Text[pos]) <= ' ') ++pos;
    if (pos >= Text.size()) break;
    std::size_t end = pos;
    while (end < Text.size() && static_cast<unsigned char>(Text[end]) > ' ') ++end;
    const std::string_view word = Text.substr(pos, end - pos);
    int value = 0;
    if (word.size() <= 2)
      for (const char c : word) value = HexDigit(c) < 0 || value < 0 ? -1 : value * 16 + HexDigit(c);
    BEXTChunk.UMID[index++] = static_cast<std::uint8_t>(word.size() <= 2 && value > 0 ? value : 0);
    pos = end;
  }
}

std::string TBEXT::GetCodingHistory() const { return DecodeTerminatedWAVText(CodingHistoryBytes); }

void TBEXT::SetCodingHistory(std::string_view Text)
{
  const std::string stored = EncodeWAVText(Text);
  CodingHistoryBytes.assign(stored.begin(), stored.end());
}
