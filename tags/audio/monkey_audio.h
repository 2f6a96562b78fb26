#pragma once
// TMonkey: the audio properties of a Monkey's Audio file behind an optional ID3v2 tag: the
// "MAC " magic and version, then the old header (versions before 3.98) or the descriptor and
// the header it points to. The container creates one on request (TSourceAudioAttributes).
//
// Formats followed: the Monkey's Audio file layouts before and from version 3.98. The
// descriptor's sizes are not trusted: a descriptor shorter than its own fields is refused and
// at most kMonkeyMaxHeaderBytes of the header are read. Sample counts are 64-bit and checked
// for overflow. A header without bits, rate, samples or channels leaves Valid false.

#include <cstdint>
#include <string>

#include "tags/streams/stream.h"

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
