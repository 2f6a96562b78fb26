#pragma once
// AIFF and AIFC audio properties: the COMM chunk (with the AIFC compression type and name) and
// the size of the SSND chunk.
//
// Formats followed: Apple AIFF 1.3 / AIFF-C. The chunks are walked by the chunk layer of
// tags/riff, bounded by the form; the 80-bit sample rate is decoded without trusting its
// exponent.

#include <cstdint>
#include <string>

#include "tags/streams/stream.h"

struct TID3v2AudioInfo;
struct TID3v2AudioOptions;

struct TAIFFInformation {
  std::uint16_t Channels = 0;
  std::uint32_t SampleFrames = 0;
  std::uint16_t SampleSize = 0;
  double SampleRate = 0;
  std::string CompressionID;
  std::string Compression;            // UTF-8 (stored in the ANSI code page)
};

// Reads the FORM that starts at Start and fills Out's AIFF record, PlayTime, SampleCount and
// BitRate. False when the form is not AIFF or AIFC or has no readable COMM chunk.
bool ReadAIFFAudioInfo(TStream &Stream, std::int64_t Start, TID3v2AudioInfo &Out);

// The 80-bit IEEE 754 extended value of an AIFF sample rate (big-endian); 0 for zero,
// denormals, infinities, NaNs, negative values and exponents that do not fit a double.
double AIFFExtendedToDouble(const std::uint8_t Bytes[10]);
