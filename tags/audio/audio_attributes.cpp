#include "tags/audio/audio_attributes.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <string_view>

#include "tags/riff/chunk_walker.h"
#include "tags/streams/byte_reader.h"
#include "tags/streams/file_io.h"
#include "tags/tag_container.h"
#include "tags/text/text.h"

namespace {

// WavPack 4 block header and the stretch after it searched for the encoder's config sub-block.
constexpr std::int64_t kWavPack4HeaderBytes = 32;
constexpr std::int64_t kWavPackConfigScanBytes = 4096;
// WavPack 3 header at the start of the RIFF "data" chunk.
constexpr std::int64_t kWavPack3HeaderBytes = 36;
constexpr std::int64_t kRiffFmtMinBytes = 16;
// A WavPack 4 total-sample field of all ones means "length unknown".
constexpr std::uint32_t kWavPackUnknownSamples = 0xFFFFFFFFu;

// Musepack: 7 bits per byte, so 9 bytes carry 63 bits and still fit a non-negative int64.
constexpr int kMaxVarLenBytes = 9;
// The SV8 stream header fields read here need at most this many bytes after the magic.
constexpr std::int64_t kMusepackSV8ReadBytes = 64;
constexpr std::int64_t kMusepackSV7HeaderBytes = 32;
constexpr std::int64_t kMusepackFrameSamples = 1152;

constexpr std::int64_t kMonkeyMagicBytes = 6;
constexpr std::int64_t kMonkeyOldHeaderBytes = 30;
constexpr std::int64_t kMonkeyDescriptorBytes = 52;
constexpr std::int64_t kMonkeyDescriptorRestBytes = kMonkeyDescriptorBytes - kMonkeyMagicBytes;
constexpr std::int64_t kMonkeyMaxHeaderBytes = 24;
constexpr int kMonkeyNewLayoutVersion = 3980;

constexpr std::array<int, 15> kWavPackSampleRates = {6000,  8000,  9600,  11025, 12000, 16000, 22050, 24000,
                                                     32000, 44100, 48000, 64000, 88200, 96000, 192000};
constexpr int kWavPackDefaultSampleRate = 44100;
constexpr std::array<int, 4> kMusepackSampleRates = {44100, 48000, 37800, 32000};
// Musepack SV7 profile nibble to ProfileID.
constexpr std::array<int, 16> kMusepackProfileIDs = {0, 12, 0, 0, 0, 9, 10, 11, 1, 2, 3, 4, 5, 6, 7, 8};
constexpr std::array<const char *, 3> kMusepackChannelModes = {"Unknown", "Stereo", "Joint Stereo"};
constexpr std::array<const char *, 13> kMusepackProfiles = {
  "Unknown", "Thumb", "Radio", "Standard", "Xtreme", "Insane", "BrainDead",
  "--quality 9", "--quality 10", "--quality 0", "--quality 1", "Telephone", "Experimental"};
constexpr std::array<const char *, 7> kMonkeyCompressionModes = {"Unknown", "Fast", "Normal", "High",
                                                                 "Extra High", "Insane", "BrainDead"};

// A quotient for a property: 0 instead of inf or NaN when the divisor is 0 or the result is not finite.
double SafeDiv(double Num, double Den)
{
  if (Den == 0) return 0;
  const double q = Num / Den;
  return std::isfinite(q) ? q : 0;
}

int ClampToInt(std::int64_t V)
{
  return static_cast<int>(std::clamp<std::int64_t>(V, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

// Reads up to Max bytes at Pos; fewer at the end of the stream. False when Pos is outside it.
bool ReadUpTo(TStream &Stream, std::int64_t Pos, std::int64_t Max, TBytes &Out)
{
  Out.clear();
  const std::int64_t size = Stream.GetSize();
  if (size < 0 || Pos < 0 || Pos > size) return false;
  return Stream.ReadAt(Pos, std::min(Max, size - Pos), Out);
}

std::string ChannelModeText(int Channels)
{
  if (Channels == 1) return "Mono";
  if (Channels == 2) return "Stereo";
  return "Surround";
}

// Musepack SV8 variable-length number: 7 bits per byte, most significant first, high bit set
// on every byte but the last. Longer than kMaxVarLenBytes is treated as damage.
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

// "%.2f" of Value / 1000 without the process locale's decimal separator.
std::string ThousandthsText(int Value)
{
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, Value / 1000.0, std::chars_format::fixed, 2);
  return r.ec == std::errc() ? std::string(buf, r.ptr) : std::string();
}

// (Frames - 1) * BlocksPerFrame + FinalFrameBlocks, or 0 without frames or when it would overflow.
std::int64_t MonkeyTotalSamples(std::uint32_t Frames, std::uint32_t BlocksPerFrame, std::uint32_t FinalFrameBlocks)
{
  if (Frames == 0) return 0;
  std::int64_t total = 0;
  if (__builtin_mul_overflow(static_cast<std::int64_t>(Frames) - 1, static_cast<std::int64_t>(BlocksPerFrame), &total) ||
      __builtin_add_overflow(total, static_cast<std::int64_t>(FinalFrameBlocks), &total))
    return 0;
  return total;
}

// Bit rate in kbit/s from a payload size and a duration, rounded the way the Musepack and Monkey's
// Audio readers state it. A payload that the tag sizes make negative gives 0.
std::int64_t PayloadBitRate(std::int64_t Payload, double Duration)
{
  if (Duration <= 0 || Payload <= 0) return 0;
  return RoundHalfEven(SafeDiv(static_cast<double>(Payload), Duration * 125) + 0.5);
}

} // namespace

std::int64_t RoundHalfEven(double Value)
{
  if (!std::isfinite(Value)) return 0;
  constexpr double kTwoTo63 = 9223372036854775808.0;
  if (Value >= kTwoTo63) return std::numeric_limits<std::int64_t>::max();
  if (Value < -kTwoTo63) return std::numeric_limits<std::int64_t>::min();
  const double lower = std::floor(Value);
  const double frac = Value - lower;
  double r = lower;
  if (frac > 0.5 || (frac == 0.5 && std::fmod(lower, 2.0) != 0)) r = lower + 1;
  if (r >= kTwoTo63) return std::numeric_limits<std::int64_t>::max();
  return static_cast<std::int64_t>(r);
}

void TWAVPackfile::Reset() { *this = TWAVPackfile(); }

bool TWAVPackfile::LoadFromFile(const std::string &FileName, std::int64_t TagSize)
{
  Reset();
  auto stream = TFileStream::Open(FileName, TFileMode::fmOpenRead);
  if (!stream) return false;
  return LoadFromStream(*stream, TagSize);
}

bool TWAVPackfile::LoadFromStream(TStream &Stream, std::int64_t TagSize)
{
  Reset();
  const std::int64_t size = Stream.GetSize();
  if (size < 0) return false;
  FileSize = size;
  TBytes buf;
  if (!Stream.ReadAt(0, 4, buf)) return false;
  ByteReader magic(buf);

  if (magic.StartsWith("wvpk")) {
    if (!Stream.ReadAt(0, kWavPack4HeaderBytes, buf)) { Reset(); return false; }
    ByteReader in(buf);
    std::uint32_t blockSize = 0, totalSamples = 0, blockIndex = 0, blockSamples = 0, flags = 0;
    std::uint16_t version = 0;
    std::uint8_t track = 0, index = 0;
    if (!in.Expect("wvpk") || !in.ReadU32LE(blockSize) || !in.ReadU16LE(version) || !in.ReadU8(track) ||
        !in.ReadU8(index) || !in.ReadU32LE(totalSamples) || !in.ReadU32LE(blockIndex) ||
        !in.ReadU32LE(blockSamples) || !in.ReadU32LE(flags)) {
      Reset();
      return false;
    }
    Version = version >> 8;
    Channels = (flags & 4u) ? 1 : 2;
    Bits = static_cast<int>((flags & 3u) + 1) * 8;
    const std::uint32_t rateIndex = (flags >> 23) & 0x1Fu;
    SampleRate = rateIndex < kWavPackSampleRates.size() ? kWavPackSampleRates[rateIndex] : kWavPackDefaultSampleRate;
    Encoder = (flags & 8u) ? "hybrid lossy" : "lossless";
    Samples = totalSamples == kWavPackUnknownSamples ? 0 : static_cast<std::int64_t>(totalSamples);
    BSamples = blockSamples;
    Duration = SafeDiv(static_cast<double>(Samples), SampleRate);
    if (Duration > 0) Bitrate = std::max(0.0, SafeDiv(static_cast<double>(FileSize - TagSize) * 8 / Duration, 1000));

    // The encoder's config sub-block (id 65 hex, size 2 words) carries the mode byte.
    if (ReadUpTo(Stream, kWavPack4HeaderBytes, kWavPackConfigScanBytes, buf)) {
      const auto rest = ByteReader(buf).Rest();
      constexpr std::array<std::uint8_t, 2> kConfigId = {0x65, 0x02};
      const auto it = std::search(rest.begin(), rest.end(), kConfigId.begin(), kConfigId.end());
      if (it != rest.end() && rest.end() - it > 2) {
        switch (it[2]) {
        case 8: Encoder += " (high)"; break;
        case 0: Encoder += " (normal)"; break;
        case 2: Encoder += " (fast)"; break;
        case 6: Encoder += " (very fast)"; break;
        default: break;
        }
      }
    }
    Valid = true;
  } else if (magic.StartsWith("RIFF")) {
    TChunkForm form;
    if (ReadChunkFormHeader(Stream, 0, form) != cfcOk || form.Kind != cfkRIFF) { Reset(); return false; }
    std::int64_t headerBlockSize = 0;
    // The form's size is not trusted to bound the walk; the stream's end does.
    TChunkWalker walker = form.Walker(Stream, size);
    TChunk chunk;
    while (walker.Next(chunk)) {
      const std::int64_t body = chunk.DataOffset;
      if (chunk.ID == "fmt " && chunk.Size >= kRiffFmtMinBytes) {
        if (!Stream.ReadAt(body, kRiffFmtMinBytes, buf)) break;
        ByteReader fmt(buf);
        std::uint16_t formatTag = 0, channels = 0, blockAlign = 0, bits = 0;
        std::uint32_t sampleRate = 0, bytesPerSec = 0;
        if (!fmt.ReadU16LE(formatTag) || !fmt.ReadU16LE(channels) || !fmt.ReadU32LE(sampleRate) ||
            !fmt.ReadU32LE(bytesPerSec) || !fmt.ReadU16LE(blockAlign) || !fmt.ReadU16LE(bits))
          break;
        FormatTag = formatTag;
        Channels = channels;
        SampleRate = ClampToInt(sampleRate);
        Bits = bits;
        Bitrate = bytesPerSec / 125.0;
        Valid = true;
      } else if (chunk.ID == "data") {
        if (Valid && Stream.ReadAt(body, kWavPack3HeaderBytes, buf)) {
          ByteReader hdr(buf);
          std::uint32_t ckSize = 0, totalSamples = 0;
          std::uint16_t version = 0, bits = 0, flags = 0, shift = 0;
          if (hdr.Expect("wvpk") && hdr.ReadU32LE(ckSize) && hdr.ReadU16LE(version) && hdr.ReadU16LE(bits) &&
              hdr.ReadU16LE(flags) && hdr.ReadU16LE(shift) && hdr.ReadU32LE(totalSamples)) {
            headerBlockSize = ckSize;
            Version = version;
            Channels = 2 - (flags & 1);
            Samples = totalSamples;
            const std::string bitsText = std::to_string(bits + 3);
            if (bits != 0) {
              if (flags & 0x400) {
                Encoder = "hybrid";
                Encoder += (flags & 0x80) ? " lossless" : " lossy";
                if (flags & 0x8000) Encoder += " (high)";
              } else if (flags & 0x12) {
                Encoder = bitsText + "-bit lossy" + ((flags & 0x10) ? " high" : " fast");
              } else {
                Encoder = bitsText + "-bit lossy";
              }
            } else if (!(flags & 0x10)) {
              Encoder = "lossless (fast mode)";
            } else if (flags & 0x8000) {
              Encoder = "lossless (high mode)";
            } else {
              Encoder = "lossless";
            }
          }
        }
        break;
      }
    }
    if (Valid) {
      if (SampleRate <= 0) SampleRate = kWavPackDefaultSampleRate;
      Duration = SafeDiv(static_cast<double>(Samples), SampleRate);
      Bitrate = std::max(0.0, SafeDiv(static_cast<double>(FileSize - TagSize - headerBlockSize) * 8, Duration * 1000));
    }
  } else {
    return false;
  }

  if (!Valid) { Reset(); return false; }
  ChannelMode = ChannelModeText(Channels);
  Ratio = SafeDiv(static_cast<double>(FileSize), Channels * Bits / 8.0 * static_cast<double>(Samples) + 44) * 100;
  return true;
}

void TMPEGplus::Reset() { *this = TMPEGplus(); }

bool TMPEGplus::LoadFromFile(const std::string &FileName, std::int64_t ID3v2Size, std::int64_t RestTagsTotalSize)
{
  Reset();
  auto stream = TFileStream::Open(FileName, TFileMode::fmOpenRead);
  if (!stream) return false;
  return LoadFromStream(*stream, ID3v2Size, RestTagsTotalSize);
}

bool TMPEGplus::LoadFromStream(TStream &Stream, std::int64_t ID3v2Size, std::int64_t RestTagsTotalSize)
{
  Reset();
  const std::int64_t size = Stream.GetSize();
  if (size < 0 || ID3v2Size < 0) return false;
  FileSize = size;
  std::int64_t tagsSize = 0;
  if (__builtin_add_overflow(ID3v2Size, RestTagsTotalSize, &tagsSize)) tagsSize = FileSize;
  const std::int64_t payload = FileSize - tagsSize;

  TBytes buf;
  if (!Stream.ReadAt(ID3v2Size, 6, buf)) { Reset(); return false; }

  if (ByteReader(buf).StartsWith("MPCKSH")) {
    if (!ReadUpTo(Stream, ID3v2Size + 6, kMusepackSV8ReadBytes, buf)) { Reset(); return false; }
    ByteReader in(buf);
    std::uint64_t packetSize = 0, sampleCount = 0, beginSilence = 0;
    std::uint8_t version = 0, rateByte = 0, channelByte = 0;
    if (!ReadVarLen(in, packetSize) || !in.Skip(4) || !in.ReadU8(version) || !ReadVarLen(in, sampleCount) ||
        !ReadVarLen(in, beginSilence) || !in.ReadU8(rateByte) || !in.ReadU8(channelByte)) {
      Reset();
      return false;
    }
    StreamVersion = version;
    StreamStreamVersionString = std::to_string(version);
    SampleCount = static_cast<std::int64_t>(sampleCount);
    const auto rateIndex = static_cast<std::size_t>(rateByte >> 5);
    SampleRate = rateIndex < kMusepackSampleRates.size() ? kMusepackSampleRates[rateIndex] : 0;
    ChannelCount = (channelByte >> 4) + 1;
    SV8 = true;
    Duration = SafeDiv(static_cast<double>(SampleCount), SampleRate);
    BitRate = ClampToInt(PayloadBitRate(payload, Duration));
    Valid = true;
    return true;
  }

  if (!Stream.ReadAt(ID3v2Size, kMusepackSV7HeaderBytes, buf)) { Reset(); return false; }
  ByteReader in(buf);
  std::uint32_t word0 = 0, word1 = 0;
  if (!in.ReadU32LE(word0) || !in.ReadU32LE(word1)) { Reset(); return false; }
  const auto byteAt = [&buf](std::size_t i) { return buf[i]; };

  if (word0 == 0x072B504Du) {
    StreamVersion = 7;
  } else if (word0 == 0x172B504Du) {
    StreamVersion = 71;
  } else {
    switch ((byteAt(1) >> 1) & 0x0F) {
    case 3: StreamVersion = 4; break;
    case 7: StreamVersion = 5; break;
    case 11: StreamVersion = 6; break;
    default: Reset(); return false;
    }
  }
  const bool sv7 = StreamVersion == 7 || StreamVersion == 71;
  switch (StreamVersion) {
  case 4: StreamStreamVersionString = "4.0"; break;
  case 5: StreamStreamVersionString = "5.0"; break;
  case 6: StreamStreamVersionString = "6.0"; break;
  case 7: StreamStreamVersionString = "7.0"; break;
  default: StreamStreamVersionString = "7.1"; break;
  }

  SampleRate = kMusepackSampleRates[byteAt(10) & 3u];
  if (sv7) ChannelModeID = (byteAt(11) & 0x40u) ? 2 : 1;
  else ChannelModeID = (byteAt(2) & 0x7Fu) ? 2 : 1;
  FrameCount = StreamVersion == 4 ? (word1 >> 16) : word1;
  if (StreamVersion == 4 || StreamVersion == 5) BitRate = static_cast<int>(word0 >> 23);
  if (sv7) ProfileID = kMusepackProfileIDs[static_cast<std::size_t>(byteAt(10) >> 4)];

  if (const std::uint8_t enc = byteAt(27); enc != 0) {
    const std::string major = std::to_string(enc / 100);
    if (enc % 10 == 0) Encoder = major + "." + std::to_string(enc / 10 % 10) + " Release";
    else if (enc % 2 == 0) Encoder = major + "." + ZeroPad(static_cast<std::uint64_t>(enc % 100), 2) + " Beta";
    else Encoder = major + "." + ZeroPad(static_cast<std::uint64_t>(enc % 100), 2) + " --Alpha--";
  }
  ChannelMode = kMusepackChannelModes[static_cast<std::size_t>(ChannelModeID)];
  Profile = kMusepackProfiles[static_cast<std::size_t>(ProfileID)];

  Duration = SafeDiv(static_cast<double>(FrameCount) * kMusepackFrameSamples, SampleRate);
  if (BitRate == 0 && FrameCount > 0)
    BitRate = ClampToInt(std::max<std::int64_t>(
      0, RoundHalfEven(SafeDiv(SampleRate / 1000.0 * static_cast<double>(payload) * 8,
                               static_cast<double>(FrameCount) * kMusepackFrameSamples))));
  if (ChannelModeID == 1 || ChannelModeID == 2)
    Ratio = SafeDiv(static_cast<double>(FileSize), static_cast<double>(FrameCount) * kMusepackFrameSamples * 4 + 44) * 100;

  // A version pattern alone is weak evidence; a header with neither profile nor encoder is foreign.
  Valid = FileSize > 0 && !(ProfileID == 0 && Encoder.empty());
  if (!Valid) { Reset(); return false; }
  Corrupted = BitRate < 3 || BitRate > 480;
  return true;
}

void TMonkey::Reset() { *this = TMonkey(); }

bool TMonkey::LoadFromFile(const std::string &FileName, std::int64_t ID3v2Size, std::int64_t RestTagsTotalSize)
{
  Reset();
  auto stream = TFileStream::Open(FileName, TFileMode::fmOpenRead);
  if (!stream) return false;
  return LoadFromStream(*stream, ID3v2Size, RestTagsTotalSize);
}

bool TMonkey::LoadFromStream(TStream &Stream, std::int64_t ID3v2Size, std::int64_t RestTagsTotalSize)
{
  Reset();
  const std::int64_t size = Stream.GetSize();
  if (size < 0 || ID3v2Size < 0) return false;
  FileSize = size;
  std::int64_t tagsSize = 0;
  if (__builtin_add_overflow(ID3v2Size, RestTagsTotalSize, &tagsSize)) tagsSize = FileSize;

  TBytes buf;
  if (!Stream.ReadAt(ID3v2Size, kMonkeyMagicBytes, buf)) { Reset(); return false; }
  ByteReader magic(buf);
  std::uint16_t version = 0;
  if (!magic.Expect("MAC ") || !magic.ReadU16LE(version)) { Reset(); return false; }
  Version = version;
  VersionStr = ThousandthsText(Version);

  const std::int64_t afterMagic = ID3v2Size + kMonkeyMagicBytes;
  if (Version < kMonkeyNewLayoutVersion) {
    if (!Stream.ReadAt(afterMagic, kMonkeyOldHeaderBytes, buf)) { Reset(); return false; }
    ByteReader in(buf);
    std::uint16_t compression = 0, flags = 0, channels = 0;
    std::uint32_t sampleRate = 0, headerBytes = 0, terminatingBytes = 0, frames = 0, finalBlocks = 0, peak = 0;
    if (!in.ReadU16LE(compression) || !in.ReadU16LE(flags) || !in.ReadU16LE(channels) || !in.ReadU32LE(sampleRate) ||
        !in.ReadU32LE(headerBytes) || !in.ReadU32LE(terminatingBytes) || !in.ReadU32LE(frames) ||
        !in.ReadU32LE(finalBlocks) || !in.ReadU32LE(peak)) {
      Reset();
      return false;
    }
    CompressionMode = compression;
    FormatFlags = flags;
    Channels = channels;
    SampleRate = ClampToInt(sampleRate);
    Bits = (flags & 1u) ? 8 : (flags & 8u) ? 24 : 16;
    HasSeekElements = (flags & 4u) != 0;
    WavNotStored = (flags & 16u) != 0;
    HasPeakLevel = (flags & 32u) != 0;
    if (HasPeakLevel) {
      PeakLevel = ClampToInt(peak);
      PeakLevelRatio = static_cast<double>(peak) / std::ldexp(1.0, Bits) / 2 * 100;
    }
    std::uint32_t blocksPerFrame = 9216;
    if (Version >= 3950) blocksPerFrame = 294912;
    else if (Version > 3899 || (Version > 3799 && compression == 4000)) blocksPerFrame = 73728;
    TotalSamples = MonkeyTotalSamples(frames, blocksPerFrame, finalBlocks);
  } else {
    if (!Stream.ReadAt(afterMagic, kMonkeyDescriptorRestBytes, buf)) { Reset(); return false; }
    ByteReader in(buf);
    std::uint16_t padding = 0;
    std::uint32_t descriptorBytes = 0, headerBytes = 0;
    if (!in.ReadU16LE(padding) || !in.ReadU32LE(descriptorBytes) || !in.ReadU32LE(headerBytes)) {
      Reset();
      return false;
    }
    // A descriptor shorter than its own fixed fields cannot be laid out as stated.
    if (descriptorBytes < kMonkeyDescriptorBytes) { Reset(); return false; }
    const std::int64_t headerPos = ID3v2Size + static_cast<std::int64_t>(descriptorBytes);
    const std::int64_t headerLen = std::min<std::int64_t>(headerBytes, kMonkeyMaxHeaderBytes);
    if (!Stream.ReadAt(headerPos, headerLen, buf)) { Reset(); return false; }
    // A header shorter than the fields read leaves them 0, which fails the validity check below.
    buf.resize(static_cast<std::size_t>(kMonkeyMaxHeaderBytes), 0);
    ByteReader hdr(buf);
    std::uint16_t compression = 0, flags = 0, bits = 0, channels = 0;
    std::uint32_t blocksPerFrame = 0, finalBlocks = 0, frames = 0, sampleRate = 0;
    if (!hdr.ReadU16LE(compression) || !hdr.ReadU16LE(flags) || !hdr.ReadU32LE(blocksPerFrame) ||
        !hdr.ReadU32LE(finalBlocks) || !hdr.ReadU32LE(frames) || !hdr.ReadU16LE(bits) || !hdr.ReadU16LE(channels) ||
        !hdr.ReadU32LE(sampleRate)) {
      Reset();
      return false;
    }
    CompressionMode = compression;
    FormatFlags = flags;
    Bits = bits;
    Channels = channels;
    SampleRate = ClampToInt(sampleRate);
    TotalSamples = MonkeyTotalSamples(frames, blocksPerFrame, finalBlocks);
  }

  if (CompressionMode % 1000 == 0 && CompressionMode <= 6000)
    CompressionModeStr = kMonkeyCompressionModes[static_cast<std::size_t>(CompressionMode / 1000)];
  else
    CompressionModeStr = std::to_string(CompressionMode);
  Duration = SafeDiv(static_cast<double>(TotalSamples), SampleRate);
  Bitrate = static_cast<double>(PayloadBitRate(FileSize - tagsSize, Duration));
  Ratio = SafeDiv(static_cast<double>(FileSize),
                  Channels * Bits / 8.0 * static_cast<double>(TotalSamples) + 44) * 100;
  Valid = Bits > 0 && SampleRate > 0 && TotalSamples > 0 && Channels > 0;
  if (!Valid) { Reset(); return false; }
  return true;
}

namespace {

enum class TAudioValue { avBitRate, avSamplesPerSec, avChannels, avBitsPerSample, avSampleCount };

// The answer of the first present header reader; nullopt when none is present or it has no value
// and the native objects should be asked.
std::optional<std::int64_t> ReaderValue(const TSourceAudioAttributes &A, TAudioValue What)
{
  if (const TWAVPackfile *w = A.WAVPackAttributes.get()) {
    switch (What) {
    case TAudioValue::avBitRate: return RoundHalfEven(w->Bitrate);
    case TAudioValue::avSamplesPerSec: return w->SampleRate;
    case TAudioValue::avChannels: return w->Channels;
    case TAudioValue::avBitsPerSample: return w->Bits != 0 ? std::optional<std::int64_t>(w->Bits) : std::nullopt;
    case TAudioValue::avSampleCount: return w->Samples;
    }
  }
  if (const TMPEGplus *m = A.MusePackAttributes.get()) {
    switch (What) {
    case TAudioValue::avBitRate: return m->BitRate;
    case TAudioValue::avSamplesPerSec: return m->SampleRate;
    case TAudioValue::avChannels: return m->ChannelCount != 0 ? m->ChannelCount : 2;
    case TAudioValue::avBitsPerSample: return 0;  // lossy: no such value
    case TAudioValue::avSampleCount: return m->SampleCount;
    }
  }
  if (const TMonkey *k = A.MonkeyAttributes.get()) {
    switch (What) {
    case TAudioValue::avBitRate: return RoundHalfEven(k->Bitrate);
    case TAudioValue::avSamplesPerSec: return k->SampleRate;
    case TAudioValue::avChannels: return k->Channels;
    case TAudioValue::avBitsPerSample: return k->Bits != 0 ? std::optional<std::int64_t>(k->Bits) : std::nullopt;
    case TAudioValue::avSampleCount: return k->TotalSamples;
    }
  }
  return std::nullopt;
}

// A value of 0 from a native reader means "not known here".
std::optional<std::int64_t> NonZero(std::int64_t V) { return V != 0 ? std::optional<std::int64_t>(V) : std::nullopt; }

// The audio read by the ID3v2 object: MPEG, WAV/RF64, AIFF, DSF or DSDIFF. It is there for a
// file of those kinds whether or not the file carries a tag.
std::optional<std::int64_t> ID3v2AudioValue(const TID3v2AudioInfo &A, TAudioValue What)
{
  if (A.SourceFileType == sftUnknown) return std::nullopt;
  switch (What) {
  case TAudioValue::avBitRate: return NonZero(A.BitRate);
  case TAudioValue::avSamplesPerSec: return NonZero(A.SamplesPerSec());
  case TAudioValue::avChannels: return NonZero(A.Channels());
  case TAudioValue::avBitsPerSample:
    // MPEG audio has no sample size: once the stream is known, the answer is 0.
    if (A.SourceFileType == sftMPEG) return A.SamplesPerSec() != 0 ? std::optional<std::int64_t>(0) : std::nullopt;
    return NonZero(A.BitsPerSample());
  case TAudioValue::avSampleCount: return NonZero(A.SampleCount);
  }
  return std::nullopt;
}

// The value of the native object in one load-priority slot: a value ends the search (0 included,
// for a format that has no such value); nullopt goes on to the next slot.
std::optional<std::int64_t> NativeValue(const TTags &Tags, TTagType Slot, TAudioValue What)
{
  // ID3v1 and APEv2 carry no audio values; the other formats get a case here when they join
  // the container.
  if (Slot == ttID3v2) return ID3v2AudioValue(Tags.ID3v2Tag.AudioInfo, What);
  return std::nullopt;
}

std::int64_t FirstAudioValue(const TSourceAudioAttributes &A, const TTags *Parent, TAudioValue What)
{
  if (const auto v = ReaderValue(A, What)) return *v;
  if (!Parent) return 0;
  for (const TTagType slot : Parent->TagLoadPriority) {
    if (const auto v = NativeValue(*Parent, slot, What)) return *v;
  }
  return 0;
}

// Native play time in its fixed order, after the header readers: FLAC, Ogg, the WAV tag, MP4,
// ID3v2 MPEG, WMA, ID3v2 WAV/RF64, ID3v2 AIFF, DSF, DSDIFF. The formats not yet part of the
// container join here, in that order.
double NativePlayTime(const TTags &Tags)
{
  // Every kind the ID3v2 object reads. An AIFF play time keeps its fraction: rounding it to
  // whole seconds here would make a 2.5 s file read 2 s.
  const TID3v2AudioInfo &a = Tags.ID3v2Tag.AudioInfo;
  if (a.SourceFileType != sftUnknown && a.PlayTime > 0) return a.PlayTime;
  return 0;
}

} // namespace

void TSourceAudioAttributes::Clear()
{
  WAVPackAttributes.reset();
  MusePackAttributes.reset();
  MonkeyAttributes.reset();
}

int TSourceAudioAttributes::Channels() const
{
  return ClampToInt(FirstAudioValue(*this, FParent, TAudioValue::avChannels));
}

int TSourceAudioAttributes::SamplesPerSec() const
{
  return ClampToInt(FirstAudioValue(*this, FParent, TAudioValue::avSamplesPerSec));
}

int TSourceAudioAttributes::BitsPerSample() const
{
  return ClampToInt(FirstAudioValue(*this, FParent, TAudioValue::avBitsPerSample));
}

std::int64_t TSourceAudioAttributes::SampleCount() const
{
  return FirstAudioValue(*this, FParent, TAudioValue::avSampleCount);
}

int TSourceAudioAttributes::BitRate() const
{
  return ClampToInt(FirstAudioValue(*this, FParent, TAudioValue::avBitRate));
}

double TSourceAudioAttributes::PlayTime() const
{
  // The first present header reader answers even with 0.
  if (WAVPackAttributes) return WAVPackAttributes->Duration;
  if (MusePackAttributes) return MusePackAttributes->Duration;
  if (MonkeyAttributes) return MonkeyAttributes->Duration;
  return FParent ? NativePlayTime(*FParent) : 0;
}
