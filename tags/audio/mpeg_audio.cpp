#include "tags/audio/mpeg_audio.h"

#include <algorithm>
#include <climits>

#include "tags/ape/apev2_tag.h"
#include "tags/audio/audio_math.h"
#include "tags/audio/audio_readers.h"
#include "tags/detect/signature.h"
#include "tags/id3/id3v1_tag.h"
#include "tags/text/text.h"

namespace {

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

} // namespace

bool ReadMPEGAudioInfo(TStream &Stream, std::int64_t Start, const TID3v2AudioOptions &Options, TID3v2AudioInfo &Out)
{
  // A file that starts with another container's signature is not searched for frame syncs.
  TBytes head;
  if (ReadUpTo(Stream, Start, kSignatureBytes, head) && HasNonMPEGSignature(head)) return false;
  TMPEGHeader first;
  const std::int64_t pos = FindFirstMPEGFrame(Stream, Start, Options.MPEGSearchLength, first);
  if (pos < 0) return false;
  Out.SourceFileType = sftMPEG;
  if (!Options.ParseAudioAttributes) return true;
  Out.MPEGInfo = first;
  TBytes frame;
  if (ReadUpTo(Stream, pos, kMaxMPEGFrameWindow, frame)) ParseMPEGVBRHeader(ByteReader(frame), Out.MPEGInfo);
  Out.ID3v1TagSize = Options.ID3v1TagSize >= 0 ? Options.ID3v1TagSize : ID3v1TagSizeAtEnd(Stream);
  Out.APEv2TagSize = Options.APEv2TagSize >= 0 ? Options.APEv2TagSize : APEv2TagSizeAtEnd(Stream);
  ComputeMPEGProperties(Out, Options);
  return true;
}

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
      if (!ReadUpTo(Stream, pos, kMPEGSearchChunk + kMaxMPEGFrameWindow + 4, window)) return -1;
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
  return size < 0 ? 0 : size - TrailingTagsStart(Stream);
}

std::int64_t APEv2TagSizeAtEnd(TStream &Stream)
{
  TPositionKeeper keep(Stream);
  return APEv2TagSizeByFooter(Stream);
}
