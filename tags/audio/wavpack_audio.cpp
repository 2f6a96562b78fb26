#include "tags/audio/wavpack_audio.h"

#include <algorithm>
#include <array>

#include "tags/audio/audio_math.h"
#include "tags/riff/chunk_walker.h"
#include "tags/streams/byte_reader.h"
#include "tags/streams/file_io.h"

namespace {

// WavPack 4 block header and the stretch after it searched for the encoder's config sub-block.
constexpr std::int64_t kWavPack4HeaderBytes = 32;
constexpr std::int64_t kWavPackConfigScanBytes = 4096;
// WavPack 3 header at the start of the RIFF "data" chunk.
constexpr std::int64_t kWavPack3HeaderBytes = 36;
constexpr std::int64_t kRiffFmtMinBytes = 16;
// A WavPack 4 total-sample field of all ones means "length unknown".
constexpr std::uint32_t kWavPackUnknownSamples = 0xFFFFFFFFu;

constexpr std::array<int, 15> kWavPackSampleRates = {6000,  8000,  9600,  11025, 12000, 16000, 22050, 24000,
                                                     32000, 44100, 48000, 64000, 88200, 96000, 192000};
constexpr int kWavPackDefaultSampleRate = 44100;

std::string ChannelModeText(int Channels)
{
  if (Channels == 1) return "Mono";
  if (Channels == 2) return "Stereo";
  return "Surround";
}

// The mode byte of the encoder's config sub-block (id 65 hex, size 2 words), when the bytes
// after the block header hold one, appended to the encoder text.
void ReadWavPack4Mode(TStream &Stream, TWAVPackfile &W)
{
  TBytes buf;
  if (!ReadUpTo(Stream, kWavPack4HeaderBytes, kWavPackConfigScanBytes, buf)) return;
  const auto rest = ByteReader(buf).Rest();
  constexpr std::array<std::uint8_t, 2> kConfigId = {0x65, 0x02};
  const auto it = std::search(rest.begin(), rest.end(), kConfigId.begin(), kConfigId.end());
  if (it == rest.end() || rest.end() - it <= 2) return;
  switch (it[2]) {
  case 8: W.Encoder += " (high)"; break;
  case 0: W.Encoder += " (normal)"; break;
  case 2: W.Encoder += " (fast)"; break;
  case 6: W.Encoder += " (very fast)"; break;
  default: break;
  }
}

// A version 4 file: the first block header. Sets Valid when it could be read.
void ReadWavPack4(TStream &Stream, std::int64_t TagSize, TWAVPackfile &W)
{
  TBytes buf;
  if (!Stream.ReadAt(0, kWavPack4HeaderBytes, buf)) return;
  ByteReader in(buf);
  std::uint32_t blockSize = 0, totalSamples = 0, blockIndex = 0, blockSamples = 0, flags = 0;
  std::uint16_t version = 0;
  std::uint8_t track = 0, index = 0;
  if (!in.Expect("wvpk") || !in.ReadU32LE(blockSize) || !in.ReadU16LE(version) || !in.ReadU8(track) ||
      !in.ReadU8(index) || !in.ReadU32LE(totalSamples) || !in.ReadU32LE(blockIndex) ||
      !in.ReadU32LE(blockSamples) || !in.ReadU32LE(flags))
    return;
  W.Version = version >> 8;
  W.Channels = (flags & 4u) ? 1 : 2;
  W.Bits = static_cast<int>((flags & 3u) + 1) * 8;
  const std::uint32_t rateIndex = (flags >> 23) & 0x1Fu;
  W.SampleRate = rateIndex < kWavPackSampleRates.size() ? kWavPackSampleRates[rateIndex] : kWavPackDefaultSampleRate;
  W.Encoder = (flags & 8u) ? "hybrid lossy" : "lossless";
  W.Samples = totalSamples == kWavPackUnknownSamples ? 0 : static_cast<std::int64_t>(totalSamples);
  W.BSamples = blockSamples;
  W.Duration = SafeDiv(static_cast<double>(W.Samples), W.SampleRate);
  if (W.Duration > 0) W.Bitrate = std::max(0.0, SafeDiv(static_cast<double>(W.FileSize - TagSize) * 8 / W.Duration, 1000));
  ReadWavPack4Mode(Stream, W);
  W.Valid = true;
}

// The RIFF fmt chunk of a version 3 file. Sets Valid when it could be read; false ends the walk.
bool ReadWavPack3Fmt(TStream &Stream, const TChunk &Chunk, TWAVPackfile &W)
{
  TBytes buf;
  if (!Stream.ReadAt(Chunk.DataOffset, kRiffFmtMinBytes, buf)) return false;
  ByteReader fmt(buf);
  std::uint16_t formatTag = 0, channels = 0, blockAlign = 0, bits = 0;
  std::uint32_t sampleRate = 0, bytesPerSec = 0;
  if (!fmt.ReadU16LE(formatTag) || !fmt.ReadU16LE(channels) || !fmt.ReadU32LE(sampleRate) ||
      !fmt.ReadU32LE(bytesPerSec) || !fmt.ReadU16LE(blockAlign) || !fmt.ReadU16LE(bits))
    return false;
  W.FormatTag = formatTag;
  W.Channels = channels;
  W.SampleRate = ClampToInt(sampleRate);
  W.Bits = bits;
  W.Bitrate = bytesPerSec / 125.0;
  W.Valid = true;
  return true;
}

// The encoder text of a version 3 header from its bits and flags fields.
std::string WavPack3Encoder(std::uint16_t Bits, std::uint16_t Flags)
{
  if (Bits != 0) {
    const std::string bitsText = std::to_string(Bits + 3);
    if (Flags & 0x400) {
      std::string text = "hybrid";
      text += (Flags & 0x80) ? " lossless" : " lossy";
      if (Flags & 0x8000) text += " (high)";
      return text;
    }
    if (Flags & 0x12) return bitsText + "-bit lossy" + ((Flags & 0x10) ? " high" : " fast");
    return bitsText + "-bit lossy";
  }
  if (!(Flags & 0x10)) return "lossless (fast mode)";
  if (Flags & 0x8000) return "lossless (high mode)";
  return "lossless";
}

// The version 3 header at the start of the data chunk; returns its block size (0 when the
// header is not there).
std::int64_t ReadWavPack3Header(TStream &Stream, const TChunk &Chunk, TWAVPackfile &W)
{
  TBytes buf;
  if (!Stream.ReadAt(Chunk.DataOffset, kWavPack3HeaderBytes, buf)) return 0;
  ByteReader hdr(buf);
  std::uint32_t ckSize = 0, totalSamples = 0;
  std::uint16_t version = 0, bits = 0, flags = 0, shift = 0;
  if (!hdr.Expect("wvpk") || !hdr.ReadU32LE(ckSize) || !hdr.ReadU16LE(version) || !hdr.ReadU16LE(bits) ||
      !hdr.ReadU16LE(flags) || !hdr.ReadU16LE(shift) || !hdr.ReadU32LE(totalSamples))
    return 0;
  W.Version = version;
  W.Channels = 2 - (flags & 1);
  W.Samples = totalSamples;
  W.Encoder = WavPack3Encoder(bits, flags);
  return ckSize;
}

// A version 3 file: a RIFF form with the fmt chunk, then the WavPack header in the data chunk.
void ReadWavPack3(TStream &Stream, std::int64_t TagSize, TWAVPackfile &W)
{
  TChunkForm form;
  if (ReadChunkFormHeader(Stream, 0, form) != cfcOk || form.Kind != cfkRIFF) return;
  std::int64_t headerBlockSize = 0;
  // The form's size is not trusted to bound the walk; the stream's end does.
  TChunkWalker walker = form.Walker(Stream, W.FileSize);
  TChunk chunk;
  while (walker.Next(chunk)) {
    if (chunk.ID == "fmt " && chunk.Size >= kRiffFmtMinBytes) {
      if (!ReadWavPack3Fmt(Stream, chunk, W)) break;
    } else if (chunk.ID == "data") {
      if (W.Valid) headerBlockSize = ReadWavPack3Header(Stream, chunk, W);
      break;
    }
  }
  if (!W.Valid) return;
  if (W.SampleRate <= 0) W.SampleRate = kWavPackDefaultSampleRate;
  W.Duration = SafeDiv(static_cast<double>(W.Samples), W.SampleRate);
  W.Bitrate = std::max(0.0, SafeDiv(static_cast<double>(W.FileSize - TagSize - headerBlockSize) * 8, W.Duration * 1000));
}

} // namespace

void TWAVPackfile::Reset() { *this = TWAVPackfile(); }

bool TWAVPackfile::LoadFromFile(const std::string &FileName, std::int64_t TagSize)
{
  Reset();
  return LoadFromFileStream(FileName, [&](TStream &Stream) { return LoadFromStream(Stream, TagSize); });
}

bool TWAVPackfile::LoadFromStream(TStream &Stream, std::int64_t TagSize)
{
  Reset();
  const std::int64_t size = Stream.GetSize();
  if (size < 0) return false;
  FileSize = size;
  TBytes buf;
  if (!Stream.ReadAt(0, 4, buf)) return false;
  const ByteReader magic(buf);
  if (magic.StartsWith("wvpk")) ReadWavPack4(Stream, TagSize, *this);
  else if (magic.StartsWith("RIFF")) ReadWavPack3(Stream, TagSize, *this);
  else return false;

  if (!Valid) { Reset(); return false; }
  ChannelMode = ChannelModeText(Channels);
  Ratio = UncompressedRatio(FileSize, Channels, Bits, Samples);
  return true;
}
