#include "tags/riff/wav_cart.h"

#include <algorithm>

#include "tags/riff/wav_text.h"
#include "tags/streams/byte_writer.h"

namespace {

constexpr std::string_view kWrittenVersion = "0101";
constexpr std::int64_t kPostTimerBytes = 8 * kCARTPostTimers;

template <std::size_t N> void ReadField(ByteReader &In, std::array<std::uint8_t, N> &Field)
{
  std::span<const std::uint8_t> bytes;
  if (In.ReadSpan(N, bytes)) std::copy(bytes.begin(), bytes.end(), Field.begin());
}

void ReadTimers(ByteReader &In, std::array<TAG_CART_TIMER, kCARTPostTimers> &Timers)
{
  for (TAG_CART_TIMER &t : Timers) {
    ReadField(In, t.Usage);
    In.ReadU32LE(t.Value);
  }
}

void AppendTimers(const std::array<TAG_CART_TIMER, kCARTPostTimers> &Timers, TBytes &Out)
{
  for (const TAG_CART_TIMER &t : Timers) ByteWriter(Out).Append(t.Usage).U32LE(t.Value);
}

bool ValidTimer(int Index) { return Index >= 0 && Index < kCARTPostTimers; }

} // namespace

bool TAG_CART::Read(ByteReader &In)
{
  if (In.Remaining() < static_cast<std::size_t>(kCARTRecordBytes)) return false;
  TAG_CART r;
  ReadField(In, r.Version);
  for (auto *f : {&r.Title, &r.Artist, &r.CutID, &r.ClientID, &r.Category, &r.Classification, &r.OutCue})
    ReadField(In, *f);
  ReadField(In, r.StartDate);
  ReadField(In, r.StartTime);
  ReadField(In, r.EndDate);
  ReadField(In, r.EndTime);
  for (auto *f : {&r.ProducerAppID, &r.ProducerAppVersion, &r.UserDef}) ReadField(In, *f);
  In.ReadU32LE(r.dwLevelReference);
  ReadTimers(In, r.PostTimer);
  ReadField(In, r.Reserved);
  ReadField(In, r.URL);
  *this = r;
  return true;
}

void TAG_CART::AppendTo(TBytes &Out) const
{
  ByteWriter w(Out);
  w.Append(Version);
  for (const auto *f : {&Title, &Artist, &CutID, &ClientID, &Category, &Classification, &OutCue}) w.Append(*f);
  w.Append(StartDate).Append(StartTime).Append(EndDate).Append(EndTime);
  for (const auto *f : {&ProducerAppID, &ProducerAppVersion, &UserDef}) w.Append(*f);
  w.U32LE(dwLevelReference);
  AppendTimers(PostTimer, Out);
  ByteWriter(Out).Append(Reserved).Append(URL);
}

void TCART::Clear() { *this = TCART(); }

bool TCART::HasContent() const
{
  if (!TagTextBytes.empty()) return true;
  TBytes record;
  CARTChunk.AppendTo(record);
  return std::any_of(record.begin(), record.end(), [](std::uint8_t b) { return b != 0; });
}

std::int64_t TCART::CalculateSize() const
{
  const auto text = static_cast<std::int64_t>(TagTextBytes.size());
  const bool terminated = !TagTextBytes.empty() && TagTextBytes.back() == 0;
  const std::int64_t size = kCARTRecordBytes + text + (terminated ? 0 : 1);
  return size + (size & 1);
}

TBytes TCART::BuildData() const
{
  TAG_CART record = CARTChunk;
  if (GetVersion().empty()) WriteFixedText(record.Version, kWrittenVersion);
  TBytes data;
  data.reserve(static_cast<std::size_t>(CalculateSize()));
  record.AppendTo(data);
  data.insert(data.end(), TagTextBytes.begin(), TagTextBytes.end());
  data.resize(static_cast<std::size_t>(CalculateSize()), 0);
  return data;
}

std::string TCART::GetVersion() const { return ReadFixedText(CARTChunk.Version); }
void TCART::SetVersion(std::string_view Text) { WriteFixedText(CARTChunk.Version, Text); }
std::string TCART::GetTitle() const { return ReadFixedText(CARTChunk.Title); }
void TCART::SetTitle(std::string_view Text) { WriteFixedText(CARTChunk.Title, Text); }
std::string TCART::GetArtist() const { return ReadFixedText(CARTChunk.Artist); }
void TCART::SetArtist(std::string_view Text) { WriteFixedText(CARTChunk.Artist, Text); }
std::string TCART::GetCutID() const { return ReadFixedText(CARTChunk.CutID); }
void TCART::SetCutID(std::string_view Text) { WriteFixedText(CARTChunk.CutID, Text); }
std::string TCART::GetClientID() const { return ReadFixedText(CARTChunk.ClientID); }
void TCART::SetClientID(std::string_view Text) { WriteFixedText(CARTChunk.ClientID, Text); }
std::string TCART::GetCategory() const { return ReadFixedText(CARTChunk.Category); }
void TCART::SetCategory(std::string_view Text) { WriteFixedText(CARTChunk.Category, Text); }
std::string TCART::GetClassification() const { return ReadFixedText(CARTChunk.Classification); }
void TCART::SetClassification(std::string_view Text) { WriteFixedText(CARTChunk.Classification, Text); }
std::string TCART::GetOutCue() const { return ReadFixedText(CARTChunk.OutCue); }
void TCART::SetOutCue(std::string_view Text) { WriteFixedText(CARTChunk.OutCue, Text); }
std::string TCART::GetStartDate() const { return ReadFixedText(CARTChunk.StartDate); }
void TCART::SetStartDate(std::string_view Text) { WriteFixedText(CARTChunk.StartDate, Text); }
std::string TCART::GetStartTime() const { return ReadFixedText(CARTChunk.StartTime); }
void TCART::SetStartTime(std::string_view Text) { WriteFixedText(CARTChunk.StartTime, Text); }
std::string TCART::GetEndDate() const { return ReadFixedText(CARTChunk.EndDate); }
void TCART::SetEndDate(std::string_view Text) { WriteFixedText(CARTChunk.EndDate, Text); }
std::string TCART::GetEndTime() const { return ReadFixedText(CARTChunk.EndTime); }
void TCART::SetEndTime(std::string_view Text) { WriteFixedText(CARTChunk.EndTime, Text); }
std::string TCART::GetProducerAppID() const { return ReadFixedText(CARTChunk.ProducerAppID); }
void TCART::SetProducerAppID(std::string_view Text) { WriteFixedText(CARTChunk.ProducerAppID, Text); }
std::string TCART::GetProducerAppVersion() const { return ReadFixedText(CARTChunk.ProducerAppVersion); }
void TCART::SetProducerAppVersion(std::string_view Text) { WriteFixedText(CARTChunk.ProducerAppVersion, Text); }
std::string TCART::GetUserDef() const { return ReadFixedText(CARTChunk.UserDef); }
void TCART::SetUserDef(std::string_view Text) { WriteFixedText(CARTChunk.UserDef, Text); }
std::string TCART::GetReserved() const { return ReadFixedText(CARTChunk.Reserved); }
void TCART::SetReserved(std::string_view Text) { WriteFixedText(CARTChunk.Reserved, Text); }
std::string TCART::GetURL() const { return ReadFixedText(CARTChunk.URL); }
void TCART::SetURL(std::string_view Text) { WriteFixedText(CARTChunk.URL, Text); }

std::string TCART::GetTagText() const { return DecodeTerminatedWAVText(TagTextBytes); }

void TCART::SetTagText(std::string_view Text)
{
  const std::string stored = EncodeWAVText(Text);
  TagTextBytes.assign(stored.begin(), stored.end());
}

bool TCART::GetPostTimer(int Index, TCART_TIMER &Timer) const
{
  if (!ValidTimer(Index)) return false;
  const TAG_CART_TIMER &t = CARTChunk.PostTimer[static_cast<std::size_t>(Index)];
  Timer.Usage = ReadFixedText(t.Usage);
  Timer.Value = t.Value;
  return true;
}

bool TCART::SetPostTimer(int Index, const TCART_TIMER &Timer)
{
  if (!ValidTimer(Index)) return false;
  TAG_CART_TIMER &t = CARTChunk.PostTimer[static_cast<std::size_t>(Index)];
  WriteFixedText(t.Usage, Timer.Usage);
  t.Value = Timer.Value;
  return true;
}

bool TCART::ClearPostTimer(int Index)
{
  if (!ValidTimer(Index)) return false;
  CARTChunk.PostTimer[static_cast<std::size_t>(Index)] = TAG_CART_TIMER{};
  return true;
}

TBytes TCART::GetPostTimers() const
{
  TBytes out;
  AppendTimers(CARTChunk.PostTimer, out);
  return out;
}

void TCART::SetPostTimers(std::span<const std::uint8_t> Bytes)
{
  TBytes block(Bytes.begin(), Bytes.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(Bytes.size(), kPostTimerBytes)));
  block.resize(kPostTimerBytes, 0);
  ByteReader in(block);
  ReadTimers(in, CARTChunk.PostTimer);
}
