#pragma once
// Audio properties of a loaded file. TSourceAudioAttributes answers play time, bit rate, sample
// count, sample rate, channels and bits per sample by asking, in a fixed order, the audio
// readers that ran during its container's load. The WavPack (TWAVPackfile), Musepack (TMPEGplus)
// and Monkey's Audio (TMonkey) header readers live here because only the container creates them;
// the content sniffer also uses the first two to recognise those files.
// Readers never fail loudly: an unreadable or foreign stream leaves Valid false.

#include <cstdint>
#include <memory>
#include <string>

#include "tags/streams/stream.h"

class TTags;

class TWAVPackfile {
public:
  bool LoadFromFile(const std::string &FileName, std::int64_t TagSize);
  bool LoadFromStream(TStream &Stream, std::int64_t TagSize);
  void Reset();

  std::int64_t FileSize = 0;
  bool Valid = false;
  int FormatTag = 0;
  int Version = 0;
  int Channels = 0;
  std::string ChannelMode;
  int SampleRate = 0;
  int Bits = 0;
  double Bitrate = 0;
  double Duration = 0;
  std::int64_t Samples = 0;
  std::int64_t BSamples = 0;
  double Ratio = 0;
  std::string Encoder;
};

class TMPEGplus {
public:
  bool LoadFromFile(const std::string &FileName, std::int64_t ID3v2Size, std::int64_t RestTagsTotalSize);
  bool LoadFromStream(TStream &Stream, std::int64_t ID3v2Size, std::int64_t RestTagsTotalSize);
  void Reset();

  bool Valid = false;
  int ChannelModeID = 0;
  std::string ChannelMode;
  std::int64_t FileSize = 0;
  std::int64_t FrameCount = 0;
  int BitRate = 0;
  int StreamVersion = 0;
  std::string StreamStreamVersionString;
  int SampleRate = 0;
  int ProfileID = 0;
  std::string Profile;
  double Duration = 0;
  bool Corrupted = false;
  std::string Encoder;
  double Ratio = 0;
  std::int64_t SampleCount = 0;
  int ChannelCount = 0;
  bool SV8 = false;
};

class TMonkey {
public:
  bool LoadFromFile(const std::string &FileName, std::int64_t ID3v2Size, std::int64_t RestTagsTotalSize);
  bool LoadFromStream(TStream &Stream, std::int64_t ID3v2Size, std::int64_t RestTagsTotalSize);
  void Reset();

  std::int64_t FileSize = 0;
  bool Valid = false;
  int Version = 0;
  std::string VersionStr;
  int Channels = 0;
  int SampleRate = 0;
  int Bits = 0;
  double Bitrate = 0;
  double Duration = 0;
  int PeakLevel = 0;
  double PeakLevelRatio = 0;
  std::int64_t TotalSamples = 0;
  int CompressionMode = 0;
  std::string CompressionModeStr;
  int FormatFlags = 0;
  bool HasPeakLevel = false;
  bool HasSeekElements = false;
  bool WavNotStored = false;
  double Ratio = 0;
};

class TSourceAudioAttributes {
public:
  explicit TSourceAudioAttributes(TTags *Parent) : FParent(Parent) {}
  // Frees the three readers.
  void Clear();

  std::unique_ptr<TWAVPackfile> WAVPackAttributes;
  std::unique_ptr<TMPEGplus> MusePackAttributes;
  std::unique_ptr<TMonkey> MonkeyAttributes;

  int Channels() const;
  int SamplesPerSec() const;
  int BitsPerSample() const;
  double PlayTime() const;
  std::int64_t SampleCount() const;
  int BitRate() const;

private:
  TTags *FParent;
};

// Rounds to the nearest integer, halves to even.
std::int64_t RoundHalfEven(double Value);
