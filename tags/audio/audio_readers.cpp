#include "tags/audio/audio_readers.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>

#include "tags/audio/audio_attributes.h"
#include "tags/id3/skip_id3v2.h"
#include "tags/riff/chunk_walker.h"
#include "tags/streams/file_io.h"
#include "tags/text/text.h"

namespace {

constexpr std::int64_t kInt64Max = std::numeric_limits<std::int64_t>::max();

// Bytes of a WAVE fmt chunk body that TWaveFmt holds (after its size field).
constexpr std::int64_t kWaveFmtBodyBytes = 40;
// Largest AIFF COMM body read: 18 fixed bytes, the AIFC compression id and a 255-byte name.
constexpr std::int64_t kAIFFCommMaxBytes = 18 + 4 + 1 + 255;
// Bytes of a DSF fmt chunk read after its id and size.
constexpr std::int64_t kDSFFmtBytes = 40;
// Bytes of a DSDIFF property sub-chunk read (CMPR holds a 4-byte type and a short name).
constexpr std::int64_t kDFFPropertyMaxBytes = 4 + 1 + 255;

// Restores the stream position on every way out of a reader.
class TPositionKeeper {
public:
  explicit TPositionKeeper(TStream &Stream) : FStream(Stream), FPos(Stream.Position()) {}
  ~TPositionKeeper() { if (FPos >= 0) FStream.SetPosition(FPos); }
  TPositionKeeper(const TPositionKeeper &) = delete;
  TPositionKeeper &operator=(const TPositionKeeper &) = delete;

private:
  TStream &FStream;
  std::int64_t FPos;
};

// Reads up to MaxCount bytes at Pos (fewer near the end of the stream); false when Pos is
// outside the stream or the read fails.
bool ReadWindow(TStream &Stream, std::int64_t Pos, std::int64_t MaxCount, TBytes &Out)
{
  Out.clear();
  const std::int64_t size = Stream.GetSize();
  if (Pos < 0 || size < 0 || Pos > size || MaxCount < 0) return false;
  const std::int64_t count = std::min(MaxCount, size - Pos);
  Out.resize(static_cast<std::size_t>(count));
  if (count == 0) return true;
  if (!Stream.SetPosition(Pos) || !Stream.ReadBuffer(Out.data(), count)) {
    Out.clear();
    return false;
  }
  return true;
}

// Exactly Count bytes at Pos.
bool ReadExact(TStream &Stream, std::int64_t Pos, std::int64_t Count, TBytes &Out)
{
  return ReadWindow(Stream, Pos, Count, Out) && static_cast<std::int64_t>(Out.size()) == Count;
}

// A + B when it stays within 0..kInt64Max, else -1.
std::int64_t CheckedAdd(std::int64_t A, std::uint64_t B)
{
  if (A < 0 || B > static_cast<std::uint64_t>(kInt64Max - A)) return -1;
  return A + static_cast<std::int64_t>(B);
}

// Truncation toward zero into 0..INT_MAX; anything not finite gives 0.
int TruncToInt(double Value)
{
  if (!std::isfinite(Value) || Value <= 0) return 0;
  if (Value >= static_cast<double>(INT_MAX)) return INT_MAX;
  return static_cast<int>(Value);
}

// Rounding to nearest with halves to even into 0..Limit; anything not finite gives 0.
std::int64_t RoundClamped(double Value, std::int64_t Limit)
{
  if (!std::isfinite(Value) || Value <= 0) return 0;
  return std::min(RoundHalfEven(Value), Limit);
}

double FiniteOrZero(double Value) { return std::isfinite(Value) && Value > 0 ? Value : 0; }

bool IsPrintableAscii(const std::string &S)
{
  return std::all_of(S.begin(), S.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

// The bit-rate tables of ISO/IEC 11172-3 and 13818-3 (MPEG 2.5 uses the MPEG 2 rows); index 0
// is free format and 15 is forbidden, both handled by the caller.
constexpr int kBitRatesV1[3][16] = {
  {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
  {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
  {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
};
constexpr int kBitRatesV2[3][16] = {
  {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
  {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
  {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
};
constexpr int kSampleRates[3][3] = {
  {44100, 48000, 32000},
  {22050, 24000, 16000},
  {11025, 12000, 8000},
};
constexpr int kFreeFormatBitRate = 65535;

// The eleven sync bits and a byte pair that can start a frame of a known version and layer.
bool IsFrameStart(std::uint8_t B0, std::uint8_t B1)
{
  return B0 == 0xFF && (B1 & 0xE0) == 0xE0 && ((B1 >> 3) & 3) != 1 && ((B1 >> 1) & 3) != 0;
}

std::int64_t AudioBytesAfter(const TID3v2AudioInfo &Info)
{
  const std::int64_t bytes = Info.FileSize - Info.MPEGInfo.Position - Info.ID3v1TagSize - Info.APEv2TagSize;
  return std::max<std::int64_t>(bytes, 0);
}

// Play time, sample count and bit rate of MPEG audio from the first frame and its VBR header.
void ComputeMPEGProperties(TID3v2AudioInfo &Info, const TID3v2AudioOptions &Options)
{
  const TMPEGHeader &h = Info.MPEGInfo;
  const std::int64_t perFrame = MPEGSamplesPerFrame(h);
  if (h.FrameCount > 0 && perFrame > 0) {
    const std::int64_t total = h.FrameCount * perFrame;
    const std::int64_t trim = static_cast<std::int64_t>(h.EncoderDelay) + h.EncoderPadding;
    // A delay and padding that swallow the whole stream come from a damaged encoder tag.
    Info.SampleCount = trim < total ? total - trim : total;
  }
  if (Options.UseTLENForPlaytime && Options.TLENMilliseconds > 0) {
    Info.PlayTime = static_cast<double>(Options.TLENMilliseconds) / 1000.0;
  } else if (Info.SampleCount > 0 && h.SampleRate > 0) {
    Info.PlayTime = static_cast<double>(Info.SampleCount) / h.SampleRate;
  } else if (h.BitRate > 0 && h.BitRate != kFreeFormatBitRate) {
    Info.PlayTime = static_cast<double>(AudioBytesAfter(Info)) * 8.0 / h.BitRate / 1000.0;
  }
  if (h.VBR && Info.PlayTime > 0)
    Info.BitRate = TruncToInt(static_cast<double>(AudioBytesAfter(Info)) / (Info.PlayTime * 125.0) + 0.5);
  else
    Info.BitRate = h.BitRate == kFreeFormatBitRate ? 0 : h.BitRate;
}

bool ReadMPEGAudioInfo(TStream &Stream, std::int64_t Start, const TID3v2AudioOptions &Options, TID3v2AudioInfo &Out)
{
  TMPEGHeader first;
  const std::int64_t pos = FindFirstMPEGFrame(Stream, Start, Options.MPEGSearchLength, first);
  if (pos < 0) return false;
  Out.SourceFileType = sftMPEG;
  if (!Options.ParseAudioAttributes) return true;
  Out.MPEGInfo = first;
  TBytes frame;
  if (ReadWindow(Stream, pos, kMaxMPEGFrameWindow, frame)) ParseMPEGVBRHeader(ByteReader(frame), Out.MPEGInfo);
  Out.ID3v1TagSize = Options.ID3v1TagSize >= 0 ? Options.ID3v1TagSize : ID3v1TagSizeAtEnd(Stream);
  Out.APEv2TagSize = Options.APEv2TagSize >= 0 ? Options.APEv2TagSize : APEv2TagSizeAtEnd(Stream);
  ComputeMPEGProperties(Out, Options);
  return true;
}

void ParseWaveFmt(ByteReader in, std::uint32_t Size, TWaveFmt &Fmt)
{
  Fmt = TWaveFmt{};
  Fmt.fmtSize = Size;
  // Fields beyond a short chunk stay 0: each read stops at the chunk's end.
  if (!in.ReadU16LE(Fmt.FormatTag) || !in.ReadU16LE(Fmt.Channels) || !in.ReadU32LE(Fmt.SamplesPerSec) ||
      !in.ReadU32LE(Fmt.AvgBytesPerSec) || !in.ReadU16LE(Fmt.BlockAlign) || !in.ReadU16LE(Fmt.BitsPerSample))
    return;
  if (Fmt.FormatTag != 0xFFFE) return;
  std::span<const std::uint8_t> sub;
  if (in.ReadU16LE(Fmt.cbSize) && in.ReadU16LE(Fmt.ValidBitsPerSample) && in.ReadU32LE(Fmt.ChannelMask) &&
      in.ReadSpan(16, sub))
    std::copy(sub.begin(), sub.end(), Fmt.SubFormat);
}

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
    if (ReadExact(Stream, chunk.DataOffset, want, body)) {
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
  if (chunk.Size < 6 || !ReadExact(Stream, chunk.DataOffset, 6, body)) return;
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

// --- MPEG audio ---

bool DecodeMPEGHeader(std::uint32_t Header, TMPEGHeader &Out)
{
  const auto b1 = static_cast<std::uint8_t>(Header >> 16);
  const auto b2 = static_cast<std::uint8_t>(Header >> 8);
  const auto b3 = static_cast<std::uint8_t>(Header);
  Out.Header = Header;
  switch ((b1 >> 3) & 3) {
  case 3: Out.Version = tmpegv1; break;
  case 2: Out.Version = tmpegv2; break;
  case 0: Out.Version = tmpegv25; break;
  default: Out.Version = tmpegvUnknown; break;
  }
  switch ((b1 >> 1) & 3) {
  case 3: Out.Layer = tmpegl1; break;
  case 2: Out.Layer = tmpegl2; break;
  case 1: Out.Layer = tmpegl3; break;
  default: Out.Layer = tmpeglUnknown; break;
  }
  Out.CRC = (b1 & 1) == 0;

  const int bitRateIndex = b2 >> 4;
  Out.BitRate = 0;
  if (Out.Version != tmpegvUnknown && Out.Layer != tmpeglUnknown) {
    const int layerRow = Out.Layer == tmpegl1 ? 0 : Out.Layer == tmpegl2 ? 1 : 2;
    if (bitRateIndex == 0) Out.BitRate = kFreeFormatBitRate;
    else Out.BitRate = (Out.Version == tmpegv1 ? kBitRatesV1 : kBitRatesV2)[layerRow][bitRateIndex];
  }
  const int rateIndex = (b2 >> 2) & 3;
  Out.SampleRate = 0;
  if (Out.Version != tmpegvUnknown && rateIndex < 3)
    Out.SampleRate = kSampleRates[Out.Version == tmpegv1 ? 0 : Out.Version == tmpegv2 ? 1 : 2][rateIndex];
  Out.Padding = (b2 & 2) != 0;
  Out._Private = (b2 & 1) != 0;

  Out.ModeExtension = tmpegmeNone;
  switch (b3 >> 6) {
  case 0: Out.ChannelMode = tmpegcmStereo; break;
  case 1:
    Out.ChannelMode = tmpegcmJointStereo;
    switch ((b3 >> 4) & 3) {
    case 0: Out.ModeExtension = tmpegmeNone; break;
    case 1: Out.ModeExtension = tmpegmeIntensity; break;
    case 2: Out.ModeExtension = tmpegmeMS; break;
    default: Out.ModeExtension = tmpegmeIntensityMS; break;
    }
    break;
  case 2: Out.ChannelMode = tmpegcmDualChannel; break;
  default: Out.ChannelMode = tmpegcmMono; break;
  }
  Out.Copyrighted = (b3 & 8) != 0;
  Out.Original = (b3 & 4) != 0;
  switch (b3 & 3) {
  case 0: Out.Emphasis = tmpegeNo; break;
  case 1: Out.Emphasis = tmpege5015; break;
  case 3: Out.Emphasis = tmpegeCCITJ17; break;
  default: Out.Emphasis = tmpegeUnknown; break;
  }
  // Without the sync bits any four bytes would pass as the second frame of a pair.
  const bool synced = (Header & 0xFFE00000u) == 0xFFE00000u;
  Out.FrameSize = synced ? MPEGFrameSize(Out) : 0;
  return Out.FrameSize > 0;
}

int MPEGFrameSize(const TMPEGHeader &Header)
{
  if (Header.Version == tmpegvUnknown || Header.Layer == tmpeglUnknown || Header.BitRate <= 0 ||
      Header.BitRate == kFreeFormatBitRate || Header.SampleRate <= 0)
    return 0;
  const int p = Header.Padding ? 1 : 0;
  // Layer I counts in 4-byte slots: the slot count is truncated before it is scaled.
  if (Header.Layer == tmpegl1) return (12000 * Header.BitRate / Header.SampleRate + p) * 4;
  if (Header.Layer == tmpegl3 && Header.Version != tmpegv1) return 72000 * Header.BitRate / Header.SampleRate + p;
  return 144000 * Header.BitRate / Header.SampleRate + p;
}

int MPEGSamplesPerFrame(const TMPEGHeader &Header)
{
  if (Header.Version == tmpegvUnknown) return 0;
  switch (Header.Layer) {
  case tmpegl1: return 384;
  case tmpegl2: return 1152;
  case tmpegl3: return Header.Version == tmpegv1 ? 1152 : 576;
  default: return 0;
  }
}

int MPEGSideInfoSize(const TMPEGHeader &Header)
{
  const bool mono = Header.ChannelMode == tmpegcmMono;
  if (Header.Version == tmpegv1) return mono ? 17 : 32;
  return mono ? 9 : 17;
}

std::int64_t FindFirstMPEGFrame(TStream &Stream, std::int64_t Start, std::uint32_t SearchLength, TMPEGHeader &Out)
{
  TPositionKeeper keep(Stream);
  const std::int64_t size = Stream.GetSize();
  if (Start < 0 || size < 0) return -1;
  const std::uint64_t attempts = static_cast<std::uint64_t>(SearchLength) + 1;
  TBytes window;
  std::int64_t windowStart = -1;
  std::int64_t pos = Start;
  for (std::uint64_t attempt = 0; attempt < attempts && pos < size; ++attempt) {
    // The window always holds the candidate and the header one largest frame later, unless
    // the stream ends first.
    const std::int64_t windowEnd = windowStart + static_cast<std::int64_t>(window.size());
    if (windowStart < 0 || (pos + kMaxMPEGFrameWindow + 4 > windowEnd && windowEnd < size)) {
      if (!ReadWindow(Stream, pos, kMPEGSearchChunk + kMaxMPEGFrameWindow + 4, window)) return -1;
      windowStart = pos;
    }
    ByteReader in(window);
    in.Seek(static_cast<std::size_t>(pos - windowStart));
    std::uint8_t b0 = 0, b1 = 0;
    if (!in.ReadU8(b0)) break;
    if (b0 != 0xFF) { ++pos; continue; }
    if (!in.ReadU8(b1)) break;
    // A second FF may itself begin the frame: the next attempt steps onto it, not over it.
    const std::int64_t step = b1 == 0xFF ? 1 : 2;
    if (!IsFrameStart(b0, b1)) {
      pos += step;
      continue;
    }
    in.Seek(static_cast<std::size_t>(pos - windowStart));
    std::uint32_t header = 0;
    TMPEGHeader candidate;
    if (in.ReadU32BE(header) && DecodeMPEGHeader(header, candidate)) {
      std::uint32_t nextHeader = 0;
      TMPEGHeader next;
      if (in.Seek(static_cast<std::size_t>(pos - windowStart + candidate.FrameSize)) && in.ReadU32BE(nextHeader) &&
          DecodeMPEGHeader(nextHeader, next)) {
        candidate.Position = pos;
        Out = candidate;
        return pos;
      }
    }
    pos += step;
  }
  return -1;
}

bool ParseMPEGVBRHeader(ByteReader Frame, TMPEGHeader &Out)
{
  if (Frame.Seek(static_cast<std::size_t>(4 + MPEGSideInfoSize(Out))) && (Frame.StartsWith("Xing") || Frame.StartsWith("Info"))) {
    Out.HasXing = Frame.Expect("Xing");
    Out.HasInfo = !Out.HasXing && Frame.Expect("Info");
    Out.VBR = Out.HasXing;
    std::uint32_t flags = 0, value = 0;
    if (!Frame.ReadU32BE(flags)) return true;
    if ((flags & 1) != 0) { if (!Frame.ReadU32BE(value)) return true; Out.FrameCount = value; }
    if ((flags & 2) != 0) { if (!Frame.ReadU32BE(value)) return true; Out.Bytes = value; }
    if ((flags & 4) != 0 && !Frame.Skip(100)) return true;
    if ((flags & 8) != 0) { if (!Frame.ReadU32BE(value)) return true; Out.Quality = value; }

    // The encoder extension follows only an encoder's name; after a bare Xing header these
    // bytes are audio or padding and would give a false delay and padding.
    std::string encoder;
    if (!Frame.ReadString(9, encoder)) return true;
    const std::string name = encoder.substr(0, encoder.find('\0'));
    if (name.size() < 4 || !IsPrintableAscii(name) || !((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z')))
      return true;
    Out.EncoderShortVersionString = name;
    std::uint8_t byte = 0;
    std::uint16_t word = 0;
    std::uint32_t delayPadding = 0;
    std::span<const std::uint8_t> peak;
    if (!Frame.ReadU8(byte)) return true;
    Out.InfoTagRevision = static_cast<std::uint8_t>(byte >> 4);
    Out.VBRMethod = static_cast<std::uint8_t>(byte & 0x0F);
    if (!Frame.ReadU8(byte)) return true;
    Out.LowpassFilterValue = byte * 100;
    if (!Frame.ReadSpan(4, peak)) return true;
    std::copy(peak.begin(), peak.end(), Out.PeakSignalSmplitude);
    if (!Frame.ReadU16BE(Out.RadioReplayGain) || !Frame.ReadU16BE(Out.AudiophileReplayGain)) return true;
    if (!Frame.ReadU8(byte)) return true;
    Out.EncodingFlags = static_cast<std::uint8_t>(byte >> 4);
    Out.ATHType = static_cast<std::uint8_t>(byte & 0x0F);
    if (!Frame.ReadU8(Out.ABROrMinimalBitrate)) return true;
    if (!Frame.ReadU24BE(delayPadding)) return true;
    Out.EncoderDelay = static_cast<int>(delayPadding >> 12);
    Out.EncoderPadding = static_cast<int>(delayPadding & 0xFFF);
    if (!Frame.ReadU8(Out.Misc) || !Frame.ReadU8(Out.MP3Gain) || !Frame.ReadU16BE(word)) return true;
    Out.PresetAndSurroundInfo = word;
    if (!Frame.ReadU32BE(Out.MusicLength) || !Frame.ReadU16BE(Out.MusicCRC)) return true;
    Frame.ReadU16BE(Out.CRC16OfInfoTag);
    return true;
  }
  if (Frame.Seek(36) && Frame.Expect("VBRI")) {
    Out.HasVBRI = true;
    Out.VBR = true;
    std::uint16_t quality = 0;
    std::uint32_t bytes = 0, frames = 0;
    if (!Frame.Skip(4) || !Frame.ReadU16BE(quality)) return true;
    Out.Quality = quality;
    if (!Frame.ReadU32BE(bytes)) return true;
    Out.Bytes = bytes;
    if (Frame.ReadU32BE(frames)) Out.FrameCount = frames;
    return true;
  }
  return false;
}

std::int64_t ID3v1TagSizeAtEnd(TStream &Stream)
{
  TPositionKeeper keep(Stream);
  const std::int64_t size = Stream.GetSize();
  TBytes bytes;
  if (size < 128 || !ReadExact(Stream, size - 128, 3, bytes) || !ByteReader(bytes).StartsWith("TAG")) return 0;
  std::int64_t total = 128;
  // A Lyrics3 v2.00 block: 6 size digits and "LYRICS200" right in front of the record, and
  // "LYRICSBEGIN" where the size says the block starts.
  std::int64_t blockSize = 0;
  if (size >= 143 && ReadExact(Stream, size - 143, 15, bytes)) {
    const std::string tail(bytes.begin(), bytes.end());
    if (tail.compare(6, 9, "LYRICS200") == 0 && ParseFixedDigits(tail.substr(0, 6), blockSize) &&
        blockSize >= 11 && blockSize <= size - 143 && ReadExact(Stream, size - 143 - blockSize, 11, bytes) &&
        ByteReader(bytes).StartsWith("LYRICSBEGIN"))
      total += blockSize + 15;
  }
  return total;
}

std::int64_t APEv2TagSizeAtEnd(TStream &Stream)
{
  TPositionKeeper keep(Stream);
  const std::int64_t size = Stream.GetSize();
  const std::int64_t end = size - ID3v1TagSizeAtEnd(Stream);
  TBytes footer;
  if (end < 32 || !ReadExact(Stream, end - 32, 32, footer)) return 0;
  ByteReader in(footer);
  std::uint32_t version = 0, tagSize = 0, count = 0, flags = 0;
  if (!in.Expect("APETAGEX") || !in.ReadU32LE(version) || !in.ReadU32LE(tagSize) || !in.ReadU32LE(count) ||
      !in.ReadU32LE(flags))
    return 0;
  // The size field counts the items and the footer; a header in front adds 32 bytes.
  std::int64_t total = tagSize;
  if ((flags & 0x80000000u) != 0) total += 32;
  if (tagSize < 32 || total > end) return 0;
  return total;
}

// --- WAVE, AIFF, DSF, DSDIFF ---

bool ReadWAVEAudioInfo(TStream &Stream, std::int64_t Start, TID3v2AudioInfo &Out)
{
  TPositionKeeper keep(Stream);
  const std::int64_t size = Stream.GetSize();
  TChunkForm form;
  if (ReadChunkFormHeader(Stream, Start, form) != cfcOk || (form.Kind != cfkRIFF && form.Kind != cfkRF64)) return false;
  const bool rf64 = form.Kind == cfkRF64;
  // RF64 begins with its ds64; its sample count is taken when the chunk holds one.
  if (rf64 && !form.Ds64.Present) return false;
  const std::uint64_t ds64SampleCount = rf64 && form.Ds64.Valid ? form.Ds64.SampleCount : 0;

  bool haveFmt = false, haveData = false;
  std::uint64_t dataSize = 0;
  TBytes bytes;
  TChunk chunk;
  // The form's size is not trusted to bound the walk: a streamed file may declare any size.
  TChunkWalker walker = form.Walker(Stream, size);
  while (!(haveFmt && haveData) && walker.Next(chunk)) {
    if (chunk.ID == "fmt " && !haveFmt) {
      const auto want = static_cast<std::int64_t>(std::min<std::uint64_t>(chunk.Size, kWaveFmtBodyBytes));
      if (!ReadWindow(Stream, chunk.DataOffset, want, bytes)) break;
      ParseWaveFmt(ByteReader(bytes), static_cast<std::uint32_t>(chunk.Size), Out.WAVInfo);
      haveFmt = true;
    } else if (chunk.ID == "data" && !haveData) {
      // A streamed or cut file declares more than it holds: count what is there.
      dataSize = static_cast<std::uint64_t>(chunk.DataSize());
      haveData = true;
    }
  }
  if (!haveFmt) return false;

  const TWaveFmt &fmt = Out.WAVInfo;
  std::uint64_t samples = 0;
  if (rf64 && ds64SampleCount > 0) samples = ds64SampleCount;
  else if (fmt.BlockAlign > 0) samples = dataSize / fmt.BlockAlign;
  Out.SampleCount = static_cast<std::int64_t>(std::min<std::uint64_t>(samples, static_cast<std::uint64_t>(kInt64Max)));
  if (fmt.SamplesPerSec > 0) Out.PlayTime = static_cast<double>(Out.SampleCount) / fmt.SamplesPerSec;
  Out.BitRate = static_cast<int>(fmt.AvgBytesPerSec / 125);
  return true;
}

double AIFFExtendedToDouble(const std::uint8_t Bytes[10])
{
  const int exponent = ((Bytes[0] & 0x7F) << 8) | Bytes[1];
  std::uint64_t mantissa = 0;
  for (int i = 2; i < 10; ++i) mantissa = (mantissa << 8) | Bytes[i];
  if ((Bytes[0] & 0x80) != 0 || exponent == 0 || exponent == 0x7FFF || mantissa == 0) return 0;
  // value = mantissa * 2^(exponent - 16383 - 63); a double holds exponents up to 1023.
  const int shift = exponent - 16383 - 63;
  if (shift > 1023 - 64) return 0;
  const double value = std::ldexp(static_cast<double>(mantissa), shift);
  return std::isfinite(value) ? value : 0;
}

bool ReadAIFFAudioInfo(TStream &Stream, std::int64_t Start, TID3v2AudioInfo &Out)
{
  TPositionKeeper keep(Stream);
  TChunkForm form;
  if (ReadChunkFormHeader(Stream, Start, form) != cfcOk || form.Kind != cfkAIFF) return false;
  const bool aifc = form.FormType == "AIFC";

  TBytes bytes;
  TChunk chunk;
  if (!form.Walker(Stream).Find("COMM", chunk)) return false;
  const auto want = static_cast<std::int64_t>(std::min<std::uint64_t>(chunk.Size, kAIFFCommMaxBytes));
  if (!ReadWindow(Stream, chunk.DataOffset, want, bytes)) return false;
  ByteReader in(bytes);
  TAIFFInformation &info = Out.AIFFInfo;
  std::span<const std::uint8_t> rate;
  if (!in.ReadU16BE(info.Channels) || !in.ReadU32BE(info.SampleFrames) || !in.ReadU16BE(info.SampleSize) ||
      !in.ReadSpan(10, rate))
    return false;
  info.SampleRate = AIFFExtendedToDouble(rate.data());
  if (aifc) {
    std::uint8_t length = 0;
    std::string name;
    if (in.ReadString(4, info.CompressionID) && in.ReadU8(length) && in.ReadString(length, name))
      info.Compression = AnsiToUtf8(name);
  }

  std::uint64_t soundSize = 0;
  if (form.Walker(Stream).Find("SSND", chunk)) soundSize = chunk.Size;
  Out.SampleCount = info.SampleFrames;
  if (info.SampleRate > 0) Out.PlayTime = FiniteOrZero(info.SampleFrames / info.SampleRate);
  if (Out.PlayTime > 0) Out.BitRate = TruncToInt(static_cast<double>(soundSize) / (Out.PlayTime * 125.0) + 0.5);
  return true;
}

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
  if (!ReadExact(Stream, Start, 12, bytes)) return false;
  ByteReader head(bytes);
  std::uint64_t chunkSize = 0;
  if (!head.Expect("DSD ") || !head.ReadU64LE(chunkSize)) return false;
  const std::int64_t fmtPos = CheckedAdd(Start, chunkSize + (chunkSize & 1));
  if (chunkSize < 12 || chunkSize > static_cast<std::uint64_t>(size) || fmtPos < 0) return false;
  if (!ReadExact(Stream, fmtPos, 12 + kDSFFmtBytes, bytes)) return false;
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
  Out.SampleCount = static_cast<std::int64_t>(std::min<std::uint64_t>(info.SampleCount, static_cast<std::uint64_t>(kInt64Max)));
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
  if (!ReadWindow(Stream, Start, 10, bytes)) return false;
  const std::int64_t start = Start + ID3v2TagSizeFromHeader(bytes.data(), bytes.size());
  TChunkForm form;
  if (ReadChunkFormHeader(Stream, start, form) != cfcOk || form.Kind != cfkDSDIFF) return false;

  bool haveSound = false, dst = false;
  TChunkWalker walker = form.Walker(Stream);
  TChunk chunk;
  while (walker.Next(chunk)) {
    if (chunk.ID == "FVER") {
      if (chunk.Size >= 2 && ReadExact(Stream, chunk.DataOffset, 2, bytes))
        Info.FormatVersion = DFFVersionText(bytes[0], bytes[1]);
    } else if (chunk.ID == "PROP") {
      if (ReadExact(Stream, chunk.DataOffset, 4, bytes) && ByteReader(bytes).StartsWith("SND "))
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
  Out.SampleCount = static_cast<std::int64_t>(std::min<std::uint64_t>(Out.DFFInfo.SampleCount, static_cast<std::uint64_t>(kInt64Max)));
  Out.BitRate = static_cast<int>(std::min<std::uint32_t>(Out.DFFInfo.BitRate, INT_MAX));
  return true;
}

// --- Entry point and derived values ---

bool ReadID3v2AudioInfo(TStream &Stream, TSourceFileType Kind, std::int64_t TagStart, std::int64_t TagSize,
                        const TID3v2AudioOptions &Options, TID3v2AudioInfo &Out)
{
  Out = TID3v2AudioInfo{};
  TPositionKeeper keep(Stream);
  Out.FileSize = Stream.GetSize();
  if (Out.FileSize < 0 || TagStart < 0 || TagSize < 0) return false;
  const std::int64_t start = CheckedAdd(TagStart, static_cast<std::uint64_t>(TagSize));
  if (start < 0 || start > Out.FileSize) return false;

  if (Kind == sftUnknown || Kind == sftMPEG) return ReadMPEGAudioInfo(Stream, start, Options, Out);

  Out.SourceFileType = Kind;
  if (!Options.ParseAudioAttributes) return true;
  bool ok = false;
  switch (Kind) {
  case sftWAVE:
  case sftRF64: ok = ReadWAVEAudioInfo(Stream, start, Out); break;
  case sftAIFF: ok = ReadAIFFAudioInfo(Stream, start, Out); break;
  case sftDSF: ok = ReadDSFAudioInfo(Stream, start, Out); break;
  case sftDFF: ok = ReadDFFAudioInfo(Stream, start, Out); break;
  default: break;
  }
  if (Out.PlayTime == 0 && Options.UseTLENForPlaytime && Options.TLENMilliseconds > 0)
    Out.PlayTime = static_cast<double>(Options.TLENMilliseconds) / 1000.0;
  return ok;
}

int TID3v2AudioInfo::SamplesPerSec() const
{
  switch (SourceFileType) {
  case sftMPEG: return MPEGInfo.SampleRate;
  case sftWAVE:
  case sftRF64: return static_cast<int>(std::min<std::uint32_t>(WAVInfo.SamplesPerSec, INT_MAX));
  case sftAIFF: return static_cast<int>(RoundClamped(AIFFInfo.SampleRate, INT_MAX));
  case sftDSF: return static_cast<int>(std::min<std::uint32_t>(DSFInfo.SamplingFrequency, INT_MAX));
  case sftDFF: return static_cast<int>(std::min<std::uint32_t>(DFFInfo.SampleRate, INT_MAX));
  default: return 0;
  }
}

int TID3v2AudioInfo::Channels() const
{
  switch (SourceFileType) {
  case sftMPEG:
    switch (MPEGInfo.ChannelMode) {
    case tmpegcmMono: return 1;
    case tmpegcmDualChannel:
    case tmpegcmJointStereo:
    case tmpegcmStereo: return 2;
    default: return 0;
    }
  case sftWAVE:
  case sftRF64: return WAVInfo.Channels;
  case sftAIFF: return AIFFInfo.Channels;
  case sftDSF: return static_cast<int>(std::min<std::uint32_t>(DSFInfo.ChannelNumber, INT_MAX));
  case sftDFF: return DFFInfo.ChannelNumber;
  default: return 0;
  }
}

int TID3v2AudioInfo::BitsPerSample() const
{
  switch (SourceFileType) {
  case sftWAVE:
  case sftRF64: return WAVInfo.BitsPerSample;
  case sftAIFF: return AIFFInfo.SampleSize;
  case sftDSF: return static_cast<int>(std::min<std::uint32_t>(DSFInfo.BitsPerSample, INT_MAX));
  case sftDFF: return 1;
  default: return 0;
  }
}

double TID3v2AudioInfo::FramePlayTime() const
{
  if (SourceFileType != sftMPEG) return 0;
  const int perFrame = MPEGSamplesPerFrame(MPEGInfo);
  if (perFrame <= 0 || MPEGInfo.SampleRate <= 0) return 0.026;
  return static_cast<double>(perFrame) / MPEGInfo.SampleRate;
}
