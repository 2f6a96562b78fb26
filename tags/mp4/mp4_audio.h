#pragma once
// The audio properties of an MPEG-4 file: play time from "mvhd" (duration / time scale, versions
// 0 and 1; a time scale of 0 gives 0), and from the sample description of the first track that
// has exactly one ("stsd" in "mdia"/"minf"/"stbl") the format (AAC "mp4a", ALAC "alac", AC-3
// "ac-3"), channels, bits per sample and sample rate (the ALAC configuration's rate for ALAC),
// the bit rate from the AAC decoder configuration ("esds") or the ALAC configuration, else from
// the size of the media data over the play time; and the largest track width and height
// ("tkhd", versions 0 and 1). Every read goes through the atom walker and ByteReader.

#include <cstdint>

#include "tags/streams/stream.h"

enum TMP4AudioFormat : int { mp4afUnknown = 0, mp4afAAC = 1, mp4afALAC = 2, mpfafAC3 = 3 };

struct TMP4AudioInfo {
  std::uint32_t TimeScale = 0;
  std::uint64_t Duration = 0;      // in time-scale units
  double PlayTime = 0.0;           // seconds
  std::uint32_t BitRate = 0;       // kbit/s
  std::uint32_t SampleRate = 0;    // Hz
  std::uint16_t Channels = 0;
  std::uint16_t BitsPerSample = 0;
  std::uint32_t VideoWidth = 0;
  std::uint32_t VideoHeight = 0;
  TMP4AudioFormat Format = mp4afUnknown;
  std::int64_t MediaSize = 0;      // bytes of the "mdat" atoms, headers included
};

// False when the stream has no readable top-level "moov" with an "mvhd"; what was read is kept.
bool ReadMP4AudioInfo(TStream &Stream, TMP4AudioInfo &Out);
