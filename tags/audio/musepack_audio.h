#pragma once
// TMPEGplus: the audio properties of a Musepack file behind an optional ID3v2 tag: a stream
// version 8 file ("MPCK" and its stream header packet "SH") or a stream version 4 to 7.1
// header. The container creates one on request (TSourceAudioAttributes) and the content sniffer
// uses one to recognise Musepack files.
//
// Formats followed: the Musepack SV8 packet layout (variable-length sizes, at most
// kMaxVarLenBytes bytes each) and the SV4 to SV7 header bit fields. Table indexes from the file
// are checked; the tag sizes given are not trusted to fit the file. A header with neither a
// profile nor an encoder version is taken as foreign. Nothing throws.

#include <cstdint>
#include <string>

#include "tags/streams/stream.h"

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
