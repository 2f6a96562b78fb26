#include "tags/audio/aiff_audio.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "tags/audio/audio_math.h"
#include "tags/audio/audio_readers.h"
#include "tags/riff/chunk_walker.h"
#include "tags/streams/byte_reader.h"
#include "tags/text/text.h"

namespace {

// Largest AIFF COMM body read: 18 fixed bytes, the AIFC compression id and a 255-byte name.
constexpr std::int64_t kAIFFCommMaxBytes = 18 + 4 + 1 + 255;

} // namespace

double AIFFExtendedToDouble(const std::uint8_t Bytes[10])
{
  const int exponent = ((Bytes[0] & 0x7F) << 8) | Bytes[1];
  std::uint64_t mantissa = 0;
  for (int i = 2; i < 10; ++i) mantissa = (mantissa << 8) | Bytes[i];
  if ((Bytes[0] & 0x80) != 0 || exponent == 0 || exponent == 0x7FFF || mantissa == 0) return 0;
  // value = mantissa * 2^(exponent - 16383 - 63); a double holds exponents up to 1023.
  const int shift = exponent - 16383 - 63;
  if (shift > 1023 - 64) return 0;
  const double value = std::ldexp(static_cast<double>(mantissa), shift);
  return std::isfinite(value) ? value : 0;
}

bool ReadAIFFAudioInfo(TStream &Stream, std::int64_t Start, TID3v2AudioInfo &Out)
{
  TPositionKeeper keep(Stream);
  TChunkForm form;
  if (ReadChunkFormHeader(Stream, Start, form) != cfcOk || form.Kind != cfkAIFF) return false;
  const bool aifc = form.FormType == "AIFC";

  TBytes bytes;
  TChunk chunk;
  if (!form.Walker(Stream).Find("COMM", chunk)) return false;
  const auto want = static_cast<std::int64_t>(std::min<std::uint64_t>(chunk.Size, kAIFFCommMaxBytes));
  if (!ReadUpTo(Stream, chunk.DataOffset, want, bytes)) return false;
  ByteReader in(bytes);
  TAIFFInformation &info = Out.AIFFInfo;
  std::span<const std::uint8_t> rate;
  if (!in.ReadU16BE(info.Channels) || !in.ReadU32BE(info.SampleFrames) || !in.ReadU16BE(info.SampleSize) ||
      !in.ReadSpan(10, rate))
    return false;
  info.SampleRate = AIFFExtendedToDouble(rate.data());
  if (aifc) {
    std::uint8_t length = 0;
    std::string name;
    if (in.ReadString(4, info.CompressionID) && in.ReadU8(length) && in.ReadString(length, name))
      info.Compression = AnsiToUtf8(name);
  }

  std::uint64_t soundSize = 0;
  if (form.Walker(Stream).Find("SSND", chunk)) soundSize = chunk.Size;
  Out.SampleCount = info.SampleFrames;
  if (info.SampleRate > 0) Out.PlayTime = FiniteOrZero(info.SampleFrames / info.SampleRate);
  if (Out.PlayTime > 0) Out.BitRate = TruncToInt(static_cast<double>(soundSize) / (Out.PlayTime * 125.0) + 0.5);
  return true;
}
