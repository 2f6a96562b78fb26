#include "tags/audio/musepack_audio.h"

#include <algorithm>
#include <array>

#include "tags/audio/audio_math.h"
#include "tags/streams/byte_reader.h"
#include "tags/streams/file_io.h"
#include "tags/text/text.h"

namespace {

// 7 bits per byte, so 9 bytes carry 63 bits and still fit a non-negative int64.
constexpr int kMaxVarLenBytes = 9;
// The SV8 stream header fields read here need at most this many bytes after the magic.
constexpr std::int64_t kMusepackSV8ReadBytes = 64;
constexpr std::int64_t kMusepackSV7HeaderBytes = 32;
constexpr std::int64_t kMusepackFrameSamples = 1152;

constexpr std::array<int, 4> kMusepackSampleRates = {44100, 48000, 37800, 32000};
// SV7 profile nibble to ProfileID.
constexpr std::array<int, 16> kMusepackProfileIDs = {0, 12, 0, 0, 0, 9, 10, 11, 1, 2, 3, 4, 5, 6, 7, 8};
constexpr std::array<const char *, 3> kMusepackChannelModes = {"Unknown", "Stereo", "Joint Stereo"};
constexpr std::array<const char *, 13> kMusepackProfiles = {
  "Unknown", "Thumb", "Radio", "Standard", "Xtreme", "Insane", "BrainDead",
  "--quality 9", "--quality 10", "--quality 0", "--quality 1", "Telephone", "Experimental"};

// SV8 variable-length number: 7 bits per byte, most significant first, high bit set on every
// byte but the last. Longer than kMaxVarLenBytes is treated as damage.
bool ReadVarLen(ByteReader &In, std::uint64_t &Value)
{
  Value = 0;
  for (int i = 0; i < kMaxVarLenBytes; ++i) {
    std::uint8_t b = 0;
    if (!In.ReadU8(b)) return false;
    Value = (Value << 7) | (b & 0x7Fu);
    if ((b & 0x80u) == 0) return true;
  }
  return false;
}

// The SV8 stream header packet after "MPCKSH".
bool ReadSV8(TStream &Stream, std::int64_t ID3v2Size, std::int64_t Payload, TMPEGplus &M)
{
  TBytes buf;
  if (!ReadUpTo(Stream, ID3v2Size + 6, kMusepackSV8ReadBytes, buf)) return false;
  ByteReader in(buf);
  std::uint64_t packetSize = 0, sampleCount = 0, beginSilence = 0;
  std::uint8_t version = 0, rateByte = 0, channelByte = 0;
  if (!ReadVarLen(in, packetSize) || !in.Skip(4) || !in.ReadU8(version) || !ReadVarLen(in, sampleCount) ||
      !ReadVarLen(in, beginSilence) || !in.ReadU8(rateByte) || !in.ReadU8(channelByte))
    return false;
  M.StreamVersion = version;
  M.StreamStreamVersionString = std::to_string(version);
  M.SampleCount = static_cast<std::int64_t>(sampleCount);
  const auto rateIndex = static_cast<std::size_t>(rateByte >> 5);
  M.SampleRate = rateIndex < kMusepackSampleRates.size() ? kMusepackSampleRates[rateIndex] : 0;
  M.ChannelCount = (channelByte >> 4) + 1;
  M.SV8 = true;
  M.Duration = SafeDiv(static_cast<double>(M.SampleCount), M.SampleRate);
  M.BitRate = ClampToInt(PayloadBitRate(Payload, M.Duration));
  M.Valid = true;
  return true;
}

// The stream version of an SV4 to SV7.1 header from its first word and second byte; false
// when it is none of them.
bool ReadSV7Version(std::uint32_t Word0, std::uint8_t Byte1, TMPEGplus &M)
{
  if (Word0 == 0x072B504Du) {
    M.StreamVersion = 7;
  } else if (Word0 == 0x172B504Du) {
    M.StreamVersion = 71;
  } else {
    switch ((Byte1 >> 1) & 0x0F) {
    case 3: M.StreamVersion = 4; break;
    case 7: M.StreamVersion = 5; break;
    case 11: M.StreamVersion = 6; break;
    default: return false;
    }
  }
  switch (M.StreamVersion) {
  case 4: M.StreamStreamVersionString = "4.0"; break;
  case 5: M.StreamStreamVersionString = "5.0"; break;
  case 6: M.StreamStreamVersionString = "6.0"; break;
  case 7: M.StreamStreamVersionString = "7.0"; break;
  default: M.StreamStreamVersionString = "7.1"; break;
  }
  return true;
}

// The encoder version byte of an SV7 header as text; empty for 0.
std::string EncoderText(std::uint8_t Enc)
{
  if (Enc == 0) return {};
  const std::string major = std::to_string(Enc / 100);
  if (Enc % 10 == 0) return major + "." + std::to_string(Enc / 10 % 10) + " Release";
  if (Enc % 2 == 0) return major + "." + ZeroPad(static_cast<std::uint64_t>(Enc % 100), 2) + " Beta";
  return major + "." + ZeroPad(static_cast<std::uint64_t>(Enc % 100), 2) + " --Alpha--";
}

// An SV4 to SV7.1 header; false when it is not one.
bool ReadSV7(TStream &Stream, std::int64_t ID3v2Size, std::int64_t Payload, TMPEGplus &M)
{
  TBytes buf;
  if (!Stream.ReadAt(ID3v2Size, kMusepackSV7HeaderBytes, buf)) return false;
  ByteReader in(buf);
  std::uint32_t word0 = 0, word1 = 0;
  if (!in.ReadU32LE(word0) || !in.ReadU32LE(word1)) return false;
  const auto byteAt = [&buf](std::size_t i) { return buf[i]; };
  if (!ReadSV7Version(word0, byteAt(1), M)) return false;
  const bool sv7 = M.StreamVersion == 7 || M.StreamVersion == 71;

  M.SampleRate = kMusepackSampleRates[byteAt(10) & 3u];
  if (sv7) M.ChannelModeID = (byteAt(11) & 0x40u) ? 2 : 1;
  else M.ChannelModeID = (byteAt(2) & 0x7Fu) ? 2 : 1;
  M.FrameCount = M.StreamVersion == 4 ? (word1 >> 16) : word1;
  if (M.StreamVersion == 4 || M.StreamVersion == 5) M.BitRate = static_cast<int>(word0 >> 23);
  if (sv7) M.ProfileID = kMusepackProfileIDs[static_cast<std::size_t>(byteAt(10) >> 4)];
  M.Encoder = EncoderText(byteAt(27));
  M.ChannelMode = kMusepackChannelModes[static_cast<std::size_t>(M.ChannelModeID)];
  M.Profile = kMusepackProfiles[static_cast<std::size_t>(M.ProfileID)];

  const double samples = static_cast<double>(M.FrameCount) * kMusepackFrameSamples;
  M.Duration = SafeDiv(samples, M.SampleRate);
  if (M.BitRate == 0 && M.FrameCount > 0)
    M.BitRate = ClampToInt(std::max<std::int64_t>(
      0, RoundHalfEven(SafeDiv(M.SampleRate / 1000.0 * static_cast<double>(Payload) * 8, samples))));
  if (M.ChannelModeID == 1 || M.ChannelModeID == 2)
    M.Ratio = SafeDiv(static_cast<double>(M.FileSize), samples * 4 + 44) * 100;

  // A version pattern alone is weak evidence; a header with neither profile nor encoder is foreign.
  M.Valid = M.FileSize > 0 && !(M.ProfileID == 0 && M.Encoder.empty());
  if (!M.Valid) return false;
  M.Corrupted = M.BitRate < 3 || M.BitRate > 480;
  return true;
}

} // namespace

void TMPEGplus::Reset() { *this = TMPEGplus(); }

bool TMPEGplus::LoadFromFile(const std::string &FileName, std::int64_t ID3v2Size, std::int64_t RestTagsTotalSize)
{
  Reset();
  return LoadFromFileStream(FileName, [&](TStream &Stream) { return LoadFromStream(Stream, ID3v2Size, RestTagsTotalSize); });
}

bool TMPEGplus::LoadFromStream(TStream &Stream, std::int64_t ID3v2Size, std::int64_t RestTagsTotalSize)
{
  Reset();
  const std::int64_t size = Stream.GetSize();
  if (size < 0 || ID3v2Size < 0) return false;
  FileSize = size;
  const std::int64_t payload = PayloadBytes(FileSize, ID3v2Size, RestTagsTotalSize);

  TBytes magic;
  bool ok = Stream.ReadAt(ID3v2Size, 6, magic);
  if (ok) ok = ByteReader(magic).StartsWith("MPCKSH") ? ReadSV8(Stream, ID3v2Size, payload, *this)
                                                     : ReadSV7(Stream, ID3v2Size, payload, *this);
  if (!ok) Reset();
  return ok;
}
