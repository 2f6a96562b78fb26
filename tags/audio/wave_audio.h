#pragma once
// RIFF WAVE and RF64 audio properties: the fmt chunk (with WAVE_FORMAT_EXTENSIBLE) and the size
// of the data chunk, or the sample count of the RF64 ds64 chunk.
//
// Formats followed: Microsoft RIFF WAVE with WAVE_FORMAT_EXTENSIBLE, EBU Tech 3306 (RF64).
// The chunks are walked by the chunk layer of tags/riff, bounded by the stream and by
// kMaxFormChunks; a form or data size is not trusted past the stream's end.

#include <cstdint>

#include "tags/streams/byte_reader.h"
#include "tags/streams/stream.h"

struct TID3v2AudioInfo;
struct TID3v2AudioOptions;

// The fmt chunk of a WAVE file in file order; the extensible fields are 0 unless FormatTag is
// FFFE hex.
struct TWaveFmt {
  std::uint32_t fmtSize = 0;
  std::uint16_t FormatTag = 0;
  std::uint16_t Channels = 0;
  std::uint32_t SamplesPerSec = 0;
  std::uint32_t AvgBytesPerSec = 0;
  std::uint16_t BlockAlign = 0;
  std::uint16_t BitsPerSample = 0;
  std::uint16_t cbSize = 0;
  std::uint16_t ValidBitsPerSample = 0;
  std::uint32_t ChannelMask = 0;
  std::uint8_t SubFormat[16] = {};
};

// Bytes of a WAVE fmt chunk body that TWaveFmt holds (after its size field).
constexpr std::int64_t kWaveFmtBodyBytes = 40;

// Reads a fmt chunk's body (In, the first bytes of it; Size, its size field) into Fmt: fields
// beyond a short body stay 0, the extensible fields are read only for FormatTag FFFE hex.
void ParseWaveFmt(ByteReader In, std::uint32_t Size, TWaveFmt &Fmt);

// Reads the RIFF or RF64 form that starts at Start and fills Out's WAVE record, PlayTime,
// SampleCount and BitRate. False when the form's header is not one or it has no fmt chunk.
bool ReadWAVEAudioInfo(TStream &Stream, std::int64_t Start, TID3v2AudioInfo &Out);
