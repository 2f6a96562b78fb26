#include "tags/audio/wave_audio.h"

#include <algorithm>
#include <limits>

#include "tags/audio/audio_math.h"
#include "tags/audio/audio_readers.h"
#include "tags/riff/chunk_walker.h"
#include "tags/streams/byte_reader.h"

void ParseWaveFmt(ByteReader in, std::uint32_t Size, TWaveFmt &Fmt)
{
  Fmt = TWaveFmt{};
  Fmt.fmtSize = Size;
  // Fields beyond a short chunk stay 0: each read stops at the chunk's end.
  if (!in.ReadU16LE(Fmt.FormatTag) || !in.ReadU16LE(Fmt.Channels) || !in.ReadU32LE(Fmt.SamplesPerSec) ||
      !in.ReadU32LE(Fmt.AvgBytesPerSec) || !in.ReadU16LE(Fmt.BlockAlign) || !in.ReadU16LE(Fmt.BitsPerSample))
    return;
  if (Fmt.FormatTag != 0xFFFE) return;
  std::span<const std::uint8_t> sub;
  if (in.ReadU16LE(Fmt.cbSize) && in.ReadU16LE(Fmt.ValidBitsPerSample) && in.ReadU32LE(Fmt.ChannelMask) &&
      in.ReadSpan(16, sub))
    std::copy(sub.begin(), sub.end(), Fmt.SubFormat);
}

bool ReadWAVEAudioInfo(TStream &Stream, std::int64_t Start, TID3v2AudioInfo &Out)
{
  TPositionKeeper keep(Stream);
  const std::int64_t size = Stream.GetSize();
  TChunkForm form;
  if (ReadChunkFormHeader(Stream, Start, form) != cfcOk || (form.Kind != cfkRIFF && form.Kind != cfkRF64)) return false;
  const bool rf64 = form.Kind == cfkRF64;
  // RF64 begins with its ds64; its sample count is taken when the chunk holds one.
  if (rf64 && !form.Ds64.Present) return false;
  const std::uint64_t ds64SampleCount = rf64 && form.Ds64.Valid ? form.Ds64.SampleCount : 0;

  bool haveFmt = false, haveData = false;
  std::uint64_t dataSize = 0;
  TBytes bytes;
  TChunk chunk;
  // The form's size is not trusted to bound the walk: a streamed file may declare any size.
  TChunkWalker walker = form.Walker(Stream, size);
  while (!(haveFmt && haveData) && walker.Next(chunk)) {
    if (chunk.ID == "fmt " && !haveFmt) {
      const auto want = static_cast<std::int64_t>(std::min<std::uint64_t>(chunk.Size, kWaveFmtBodyBytes));
      if (!ReadUpTo(Stream, chunk.DataOffset, want, bytes)) break;
      ParseWaveFmt(ByteReader(bytes), static_cast<std::uint32_t>(chunk.Size), Out.WAVInfo);
      haveFmt = true;
    } else if (chunk.ID == "data" && !haveData) {
      // A streamed or cut file declares more than it holds: count what is there.
      dataSize = static_cast<std::uint64_t>(chunk.DataSize());
      haveData = true;
    }
  }
  if (!haveFmt) return false;

  const TWaveFmt &fmt = Out.WAVInfo;
  std::uint64_t samples = 0;
  if (rf64 && ds64SampleCount > 0) samples = ds64SampleCount;
  else if (fmt.BlockAlign > 0) samples = dataSize / fmt.BlockAlign;
  Out.SampleCount = ClampToInt64(samples);
  if (fmt.SamplesPerSec > 0) Out.PlayTime = static_cast<double>(Out.SampleCount) / fmt.SamplesPerSec;
  Out.BitRate = static_cast<int>(fmt.AvgBytesPerSec / 125);
  return true;
}
