#include "tags/audio/audio_readers.h"

#include <algorithm>
#include <climits>

#include "tags/audio/audio_math.h"

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
  case sftRF64: return ClampToInt(WAVInfo.SamplesPerSec);
  case sftAIFF: return static_cast<int>(RoundClamped(AIFFInfo.SampleRate, INT_MAX));
  case sftDSF: return ClampToInt(DSFInfo.SamplingFrequency);
  case sftDFF: return ClampToInt(DFFInfo.SampleRate);
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
  case sftDSF: return ClampToInt(DSFInfo.ChannelNumber);
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
  case sftDSF: return ClampToInt(DSFInfo.BitsPerSample);
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
