#pragma once
// DSD audio properties: the DSF file format (its "DSD " and "fmt " chunks) and DSDIFF (the
// "FRM8" form with its FVER, PROP/SND, DSD and DST chunks).
//
// Formats followed: the Sony DSF file format 1.01 and the DSDIFF 1.5 format document. DSDIFF
// chunks are walked by the chunk layer of tags/riff, bounded by their parent chunk; sizes are
// 64-bit and never trusted past the stream; a DSF chunk size must fit the stream.

#include <cstdint>
#include <string>

#include "tags/streams/stream.h"

struct TID3v2AudioInfo;
struct TID3v2AudioOptions;

enum TDSFChannelType {
  dsfctUnknown, dsfctMono, dsfctStereo, dsfct3Channels, dsfctQuad, dsfct4Channels, dsfct5Channels, dsfct51Channels
};

struct TDSFInfo {
  std::uint32_t FormatVersion = 0;
  std::uint32_t FormatID = 0;
  TDSFChannelType ChannelType = dsfctUnknown;
  std::uint32_t ChannelNumber = 0;
  std::uint32_t SamplingFrequency = 0;
  std::uint32_t BitsPerSample = 0;
  std::uint64_t SampleCount = 0;
  std::uint32_t BlockSizePerChannel = 0;
  double PlayTime = 0;
  // kbit/s of the uncompressed DSD stream; 0 without a play time.
  int GetBitRate() const;
};

struct TDFFInfo {
  std::string FormatVersion;          // "1.0", "1.3", "1.4", "1.5" or empty
  std::uint32_t SampleRate = 0;
  std::uint16_t ChannelNumber = 0;
  std::string CompressionName;        // "Not Compressed", "DST Encoded" or empty
  std::uint64_t SampleCount = 0;
  double PlayTime = 0;
  std::uint32_t BitRate = 0;
  std::uint64_t SoundDataLength = 0;
  std::uint32_t DSTFramesCount = 0;
  std::uint16_t DSTFramesRate = 0;
  double Ratio = 0;

  // Reads a DSDIFF file ("FRM8" ... "DSD "), optionally behind an ID3v2 tag; false when the
  // stream is not one or holds no sound chunk. Every field is reset first.
  bool LoadFromFile(const std::string &FileName);
  bool LoadFromStream(TStream &Stream);
};

// Each reads the container that starts at Start and fills the kind's record in Out along with
// PlayTime, SampleCount and BitRate. False when the container's header is not the kind's.
bool ReadDSFAudioInfo(TStream &Stream, std::int64_t Start, TID3v2AudioInfo &Out);
bool ReadDFFAudioInfo(TStream &Stream, std::int64_t Start, TID3v2AudioInfo &Out);
