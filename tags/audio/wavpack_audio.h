#pragma once
// TWAVPackfile: the audio properties of a WavPack file, from a version 4 block header ("wvpk"
// at the start, with the encoder's config sub-block searched in the bytes after it) or from a
// version 3 file (a RIFF form whose fmt chunk gives the format and whose data chunk starts with
// the "wvpk" header). The container creates one on request (TSourceAudioAttributes) and the
// content sniffer uses one to recognise WavPack files.
//
// Formats followed: the WavPack 4 block header and metadata sub-blocks; the WavPack 3 header
// inside a Microsoft RIFF WAVE file. The RIFF chunks are walked by tags/riff, bounded by the
// stream rather than the form's size; the config search is bounded by a named window.
// An unreadable or foreign stream leaves Valid false; nothing throws.

#include <cstdint>
#include <string>

#include "tags/streams/stream.h"

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
