#include "tags/audio/dsd_audio.h"

#include <algorithm>
#include <climits>
#include <limits>

#include "tags/audio/audio_math.h"
#include "tags/audio/audio_readers.h"
#include "tags/id3/skip_id3v2.h"
#include "tags/riff/chunk_walker.h"
#include "tags/streams/byte_reader.h"
#include "tags/streams/file_io.h"

namespace {

constexpr std::int64_t kInt64Max = std::numeric_limits<std::int64_t>::max();

// Bytes of a DSF fmt chunk read after its id and size.
constexpr std::int64_t kDSFFmtBytes = 40;
// Bytes of a DSDIFF property sub-chunk read (CMPR holds a 4-byte type and a short name).
constexpr std::int64_t kDFFPropertyMaxBytes = 4 + 1 + 255;

// The DSDIFF "FVER" version as text; only the published versions are named.
std::string DFFVersionText(std::uint8_t Major, std::uint8_t Minor)
{
  if (Major != 1) return {};
  switch (Minor) {
  case 0: return "1.0";
  case 3: return "1.3";
  case 4: return "1.4";
  case 5: return "1.5";
  default: return {};
  }
}

// The sub-chunks of a DSDIFF "PROP" chunk of type "SND ".
void ReadDFFProperties(TStream &Stream, std::int64_t From, std::int64_t Limit, TDFFInfo &Info)
{
  TChunkWalker walker(Stream, From, Limit, TChunkSizeForm::csBE64);
  TChunk chunk;
  while (walker.Next(chunk)) {
    TBytes body;
    const auto want = static_cast<std::int64_t>(std::min<std::uint64_t>(chunk.Size, kDFFPropertyMaxBytes));
    if (Stream.ReadAt(chunk.DataOffset, want, body)) {
      ByteReader in(body);
      if (chunk.ID == "FS  ") {
        in.ReadU32BE(Info.SampleRate);
      } else if (chunk.ID == "CHNL") {
        in.ReadU16BE(Info.ChannelNumber);
      } else if (chunk.ID == "CMPR") {
        if (in.StartsWith("DSD ")) Info.CompressionName = "Not Compressed";
        else if (in.StartsWith("DST ")) Info.CompressionName = "DST Encoded";
      }
    }
  }
}

// The "FRTE" chunk inside a DSDIFF "DST " chunk.
void ReadDFFFrameInfo(TStream &Stream, std::int64_t From, std::int64_t Limit, TDFFInfo &Info)
{
  TChunk chunk;
  if (!TChunkWalker(Stream, From, Limit, TChunkSizeForm::csBE64).Find("FRTE", chunk)) return;
  TBytes body;
  if (chunk.Size < 6 || !Stream.ReadAt(chunk.DataOffset, 6, body)) return;
  ByteReader in(body);
  in.ReadU32BE(Info.DSTFramesCount);
  in.ReadU16BE(Info.DSTFramesRate);
}

// Play time, sample count, bit rate and ratio once the DSDIFF chunks are read.
void ComputeDFFProperties(TDFFInfo &Info, bool DST)
{
  const double channels = Info.ChannelNumber;
  if (DST) {
    if (Info.DSTFramesRate > 0) Info.PlayTime = static_cast<double>(Info.DSTFramesCount) / Info.DSTFramesRate;
    Info.SampleCount = static_cast<std::uint64_t>(RoundClamped(Info.SampleRate * Info.PlayTime, kInt64Max));
  } else {
    // One bit per sample and channel, the channels' bytes interleaved: every byte of sound
    // holds 8 samples of one channel, so the per-channel count is exact and not cut to whole
    // seconds.
    if (Info.ChannelNumber > 0) Info.SampleCount = Info.SoundDataLength / Info.ChannelNumber * 8;
    if (Info.SampleRate > 0) Info.PlayTime = static_cast<double>(Info.SampleCount) / Info.SampleRate;
  }
  Info.PlayTime = FiniteOrZero(Info.PlayTime);
  if (Info.PlayTime > 0)
    Info.BitRate = static_cast<std::uint32_t>(
      RoundClamped(static_cast<double>(Info.SampleCount) * channels / 8.0 / Info.PlayTime / 125.0, UINT32_MAX));
  if (Info.SampleCount > 0 && Info.ChannelNumber > 0)
    Info.Ratio = DST ? static_cast<double>(Info.SoundDataLength) / (channels / 8.0 * static_cast<double>(Info.SampleCount))
                     : 1.0;
}

} // namespace

int TDSFInfo::GetBitRate() const
{
  if (PlayTime <= 0) return 0;
  const double bytes = static_cast<double>(SampleCount) * ChannelNumber * BitsPerSample / 8.0;
  return static_cast<int>(RoundClamped(bytes / PlayTime / 125.0, INT_MAX));
}

bool ReadDSFAudioInfo(TStream &Stream, std::int64_t Start, TID3v2AudioInfo &Out)
{
  TPositionKeeper keep(Stream);
  const std::int64_t size = Stream.GetSize();
  TBytes bytes;
  if (!Stream.ReadAt(Start, 12, bytes)) return false;
  ByteReader head(bytes);
  std::uint64_t chunkSize = 0;
  if (!head.Expect("DSD ") || !head.ReadU64LE(chunkSize)) return false;
  const std::int64_t fmtPos = CheckedAdd(Start, chunkSize + (chunkSize & 1));
  if (chunkSize < 12 || chunkSize > static_cast<std::uint64_t>(size) || fmtPos < 0) return false;
  if (!Stream.ReadAt(fmtPos, 12 + kDSFFmtBytes, bytes)) return false;
  ByteReader in(bytes);
  TDSFInfo &info = Out.DSFInfo;
  std::uint32_t channelType = 0;
  if (!in.Expect("fmt ") || !in.Skip(8) || !in.ReadU32LE(info.FormatVersion) || !in.ReadU32LE(info.FormatID) ||
      !in.ReadU32LE(channelType) || !in.ReadU32LE(info.ChannelNumber) || !in.ReadU32LE(info.SamplingFrequency) ||
      !in.ReadU32LE(info.BitsPerSample) || !in.ReadU64LE(info.SampleCount) || !in.ReadU32LE(info.BlockSizePerChannel))
    return false;
  info.ChannelType = channelType >= 1 && channelType <= 7 ? static_cast<TDSFChannelType>(channelType) : dsfctUnknown;
  if (info.SamplingFrequency > 0)
    info.PlayTime = FiniteOrZero(static_cast<double>(info.SampleCount) / info.SamplingFrequency);
  Out.PlayTime = info.PlayTime;
  Out.SampleCount = ClampToInt64(info.SampleCount);
  Out.BitRate = info.GetBitRate();
  return true;
}

namespace {

// Reads a DSDIFF container that starts at Start (behind an ID3v2 tag there, if any).
bool LoadDFF(TStream &Stream, std::int64_t Start, TDFFInfo &Info)
{
  TPositionKeeper keep(Stream);
  Info = TDFFInfo{};
  TBytes bytes;
  if (!ReadUpTo(Stream, Start, 10, bytes)) return false;
  const std::int64_t start = Start + ID3v2TagSizeFromHeader(bytes.data(), bytes.size());
  TChunkForm form;
  if (ReadChunkFormHeader(Stream, start, form) != cfcOk || form.Kind != cfkDSDIFF) return false;

  bool haveSound = false, dst = false;
  TChunkWalker walker = form.Walker(Stream);
  TChunk chunk;
  while (walker.Next(chunk)) {
    if (chunk.ID == "FVER") {
      if (chunk.Size >= 2 && Stream.ReadAt(chunk.DataOffset, 2, bytes))
        Info.FormatVersion = DFFVersionText(bytes[0], bytes[1]);
    } else if (chunk.ID == "PROP") {
      if (Stream.ReadAt(chunk.DataOffset, 4, bytes) && ByteReader(bytes).StartsWith("SND "))
        ReadDFFProperties(Stream, chunk.DataOffset + 4, chunk.DataEnd, Info);
    } else if (chunk.ID == "DSD " && !haveSound) {
      Info.SoundDataLength = chunk.Size;
      haveSound = true;
    } else if (chunk.ID == "DST " && !haveSound) {
      Info.SoundDataLength = chunk.Size;
      ReadDFFFrameInfo(Stream, chunk.DataOffset, chunk.DataEnd, Info);
      haveSound = dst = true;
    }
  }
  if (!haveSound) return false;
  ComputeDFFProperties(Info, dst);
  return true;
}

} // namespace

bool TDFFInfo::LoadFromStream(TStream &Stream) { return LoadDFF(Stream, 0, *this); }

bool TDFFInfo::LoadFromFile(const std::string &FileName)
{
  *this = TDFFInfo{};
  auto file = TFileStream::Open(FileName, TFileMode::fmOpenRead);
  return file && LoadFromStream(*file);
}

bool ReadDFFAudioInfo(TStream &Stream, std::int64_t Start, TID3v2AudioInfo &Out)
{
  if (!LoadDFF(Stream, Start, Out.DFFInfo)) return false;
  Out.PlayTime = Out.DFFInfo.PlayTime;
  Out.SampleCount = ClampToInt64(Out.DFFInfo.SampleCount);
  Out.BitRate = ClampToInt(Out.DFFInfo.BitRate);
  return true;
}
