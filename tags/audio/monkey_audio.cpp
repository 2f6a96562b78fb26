#include "tags/audio/monkey_audio.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

#include "tags/audio/audio_math.h"
#include "tags/streams/byte_reader.h"
#include "tags/streams/file_io.h"

namespace {

constexpr std::int64_t kMonkeyMagicBytes = 6;
constexpr std::int64_t kMonkeyOldHeaderBytes = 30;
constexpr std::int64_t kMonkeyDescriptorBytes = 52;
constexpr std::int64_t kMonkeyDescriptorRestBytes = kMonkeyDescriptorBytes - kMonkeyMagicBytes;
constexpr std::int64_t kMonkeyMaxHeaderBytes = 24;
constexpr int kMonkeyNewLayoutVersion = 3980;

constexpr std::array<const char *, 7> kMonkeyCompressionModes = {"Unknown", "Fast", "Normal", "High",
                                                                 "Extra High", "Insane", "BrainDead"};

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

// The header of the files before version 3.98, right after the magic.
bool ReadOldHeader(TStream &Stream, std::int64_t AfterMagic, TMonkey &M)
{
  TBytes buf;
  if (!Stream.ReadAt(AfterMagic, kMonkeyOldHeaderBytes, buf)) return false;
  ByteReader in(buf);
  std::uint16_t compression = 0, flags = 0, channels = 0;
  std::uint32_t sampleRate = 0, headerBytes = 0, terminatingBytes = 0, frames = 0, finalBlocks = 0, peak = 0;
  if (!in.ReadU16LE(compression) || !in.ReadU16LE(flags) || !in.ReadU16LE(channels) || !in.ReadU32LE(sampleRate) ||
      !in.ReadU32LE(headerBytes) || !in.ReadU32LE(terminatingBytes) || !in.ReadU32LE(frames) ||
      !in.ReadU32LE(finalBlocks) || !in.ReadU32LE(peak))
    return false;
  M.CompressionMode = compression;
  M.FormatFlags = flags;
  M.Channels = channels;
  M.SampleRate = ClampToInt(sampleRate);
  M.Bits = (flags & 1u) ? 8 : (flags & 8u) ? 24 : 16;
  M.HasSeekElements = (flags & 4u) != 0;
  M.WavNotStored = (flags & 16u) != 0;
  M.HasPeakLevel = (flags & 32u) != 0;
  if (M.HasPeakLevel) {
    M.PeakLevel = ClampToInt(peak);
    M.PeakLevelRatio = static_cast<double>(peak) / std::ldexp(1.0, M.Bits) / 2 * 100;
  }
  std::uint32_t blocksPerFrame = 9216;
  if (M.Version >= 3950) blocksPerFrame = 294912;
  else if (M.Version > 3899 || (M.Version > 3799 && compression == 4000)) blocksPerFrame = 73728;
  M.TotalSamples = MonkeyTotalSamples(frames, blocksPerFrame, finalBlocks);
  return true;
}

// The descriptor of the files from version 3.98 and the header it points to.
bool ReadDescriptorAndHeader(TStream &Stream, std::int64_t ID3v2Size, TMonkey &M)
{
  TBytes buf;
  if (!Stream.ReadAt(ID3v2Size + kMonkeyMagicBytes, kMonkeyDescriptorRestBytes, buf)) return false;
  ByteReader in(buf);
  std::uint16_t padding = 0;
  std::uint32_t descriptorBytes = 0, headerBytes = 0;
  if (!in.ReadU16LE(padding) || !in.ReadU32LE(descriptorBytes) || !in.ReadU32LE(headerBytes)) return false;
  // A descriptor shorter than its own fixed fields cannot be laid out as stated.
  if (descriptorBytes < kMonkeyDescriptorBytes) return false;
  const std::int64_t headerPos = ID3v2Size + static_cast<std::int64_t>(descriptorBytes);
  const std::int64_t headerLen = std::min<std::int64_t>(headerBytes, kMonkeyMaxHeaderBytes);
  if (!Stream.ReadAt(headerPos, headerLen, buf)) return false;
  // A header shorter than the fields read leaves them 0, which fails the validity check.
  buf.resize(static_cast<std::size_t>(kMonkeyMaxHeaderBytes), 0);
  ByteReader hdr(buf);
  std::uint16_t compression = 0, flags = 0, bits = 0, channels = 0;
  std::uint32_t blocksPerFrame = 0, finalBlocks = 0, frames = 0, sampleRate = 0;
  if (!hdr.ReadU16LE(compression) || !hdr.ReadU16LE(flags) || !hdr.ReadU32LE(blocksPerFrame) ||
      !hdr.ReadU32LE(finalBlocks) || !hdr.ReadU32LE(frames) || !hdr.ReadU16LE(bits) || !hdr.ReadU16LE(channels) ||
      !hdr.ReadU32LE(sampleRate))
    return false;
  M.CompressionMode = compression;
  M.FormatFlags = flags;
  M.Bits = bits;
  M.Channels = channels;
  M.SampleRate = ClampToInt(sampleRate);
  M.TotalSamples = MonkeyTotalSamples(frames, blocksPerFrame, finalBlocks);
  return true;
}

// The magic and version, then the header of the version's layout.
bool ReadHeaders(TStream &Stream, std::int64_t ID3v2Size, TMonkey &M)
{
  TBytes buf;
  if (!Stream.ReadAt(ID3v2Size, kMonkeyMagicBytes, buf)) return false;
  ByteReader magic(buf);
  std::uint16_t version = 0;
  if (!magic.Expect("MAC ") || !magic.ReadU16LE(version)) return false;
  M.Version = version;
  M.VersionStr = ThousandthsText(M.Version);
  if (M.Version < kMonkeyNewLayoutVersion) return ReadOldHeader(Stream, ID3v2Size + kMonkeyMagicBytes, M);
  return ReadDescriptorAndHeader(Stream, ID3v2Size, M);
}

} // namespace

void TMonkey::Reset() { *this = TMonkey(); }

bool TMonkey::LoadFromFile(const std::string &FileName, std::int64_t ID3v2Size, std::int64_t RestTagsTotalSize)
{
  Reset();
  return LoadFromFileStream(FileName, [&](TStream &Stream) { return LoadFromStream(Stream, ID3v2Size, RestTagsTotalSize); });
}

bool TMonkey::LoadFromStream(TStream &Stream, std::int64_t ID3v2Size, std::int64_t RestTagsTotalSize)
{
  Reset();
  const std::int64_t size = Stream.GetSize();
  if (size < 0 || ID3v2Size < 0) return false;
  FileSize = size;
  if (!ReadHeaders(Stream, ID3v2Size, *this)) { Reset(); return false; }

  if (CompressionMode % 1000 == 0 && CompressionMode <= 6000)
    CompressionModeStr = kMonkeyCompressionModes[static_cast<std::size_t>(CompressionMode / 1000)];
  else
    CompressionModeStr = std::to_string(CompressionMode);
  Duration = SafeDiv(static_cast<double>(TotalSamples), SampleRate);
  Bitrate = static_cast<double>(PayloadBitRate(PayloadBytes(FileSize, ID3v2Size, RestTagsTotalSize), Duration));
  Ratio = UncompressedRatio(FileSize, Channels, Bits, TotalSamples);
  Valid = Bits > 0 && SampleRate > 0 && TotalSamples > 0 && Channels > 0;
  if (!Valid) { Reset(); return false; }
  return true;
}
