#pragma once
// Inline builders for ID3v2 test inputs: tag headers, frames of each version, and the RIFF,
// AIFF, DSF and DSDIFF containers an ID3v2 tag can live in.

#include <cstdint>
#include <string>
#include <string_view>

#include "tests/support/test_support.h"

inline Bytes Synchsafe(std::uint32_t v)
{
  return Bytes().U8(static_cast<std::uint8_t>((v >> 21) & 0x7F)).U8(static_cast<std::uint8_t>((v >> 14) & 0x7F))
    .U8(static_cast<std::uint8_t>((v >> 7) & 0x7F)).U8(static_cast<std::uint8_t>(v & 0x7F));
}

inline Bytes Tag(std::uint8_t major, std::uint8_t flags, const Bytes &body)
{
  return Bytes().Str("ID3").U8(major).U8(0).U8(flags).Append(Synchsafe(static_cast<std::uint32_t>(body.size()))).Append(body);
}

inline Bytes Frame2(std::string_view id, const Bytes &data)
{
  const auto n = static_cast<std::uint32_t>(data.size());
  return Bytes().Str(id).U8(static_cast<std::uint8_t>(n >> 16)).U8(static_cast<std::uint8_t>(n >> 8))
    .U8(static_cast<std::uint8_t>(n)).Append(data);
}

inline Bytes Frame3(std::string_view id, const Bytes &data, std::uint16_t flags = 0)
{
  return Bytes().Str(id).U32BE(static_cast<std::uint32_t>(data.size())).U16BE(flags).Append(data);
}

inline Bytes Frame4(std::string_view id, const Bytes &data, std::uint16_t flags = 0)
{
  return Bytes().Str(id).Append(Synchsafe(static_cast<std::uint32_t>(data.size()))).U16BE(flags).Append(data);
}

// Encoding byte 0 and a Latin-1 text without terminator.
inline Bytes Latin1Text(std::string_view s) { return Bytes().U8(0).Str(s); }

// A small MPEG-1 Layer III stream: frames of 128 kbit/s at 44100 Hz (417 bytes each) whose
// bodies hold a counting pattern, so that moved or changed audio bytes show.
inline Bytes MpegFrames(int count)
{
  Bytes b;
  for (int f = 0; f < count; ++f) {
    b.U8(0xFF).U8(0xFB).U8(0x90).U8(0x64);
    for (int i = 0; i < 413; ++i) b.U8(static_cast<std::uint8_t>((f * 7 + i) & 0xFF));
  }
  return b;
}

inline Bytes RiffChunk(std::string_view id, const Bytes &data)
{
  Bytes b = Bytes().Str(id).U32LE(static_cast<std::uint32_t>(data.size())).Append(data);
  if (data.size() % 2) b.U8(0);
  return b;
}

inline Bytes WaveFmt()
{
  return Bytes().U16LE(1).U16LE(2).U32LE(44100).U32LE(176400).U16LE(4).U16LE(16);
}

inline Bytes Wave(const Bytes &chunks)
{
  return Bytes().Str("RIFF").U32LE(static_cast<std::uint32_t>(chunks.size() + 4)).Str("WAVE").Append(chunks);
}

inline Bytes AiffChunk(std::string_view id, const Bytes &data)
{
  Bytes b = Bytes().Str(id).U32BE(static_cast<std::uint32_t>(data.size())).Append(data);
  if (data.size() % 2) b.U8(0);
  return b;
}

inline Bytes Aiff(const Bytes &chunks)
{
  return Bytes().Str("FORM").U32BE(static_cast<std::uint32_t>(chunks.size() + 4)).Str("AIFF").Append(chunks);
}

inline Bytes AiffComm()
{
  // 2 channels, 4 sample frames, 16 bits, 44100 Hz as an 80-bit extended number.
  return Bytes().U16BE(2).U32BE(4).U16BE(16).U8(0x40).U8(0x0E).U8(0xAC).U8(0x44).Zeros(6);
}

inline Bytes U64BE(std::uint64_t v)
{
  return Bytes().U32BE(static_cast<std::uint32_t>(v >> 32)).U32BE(static_cast<std::uint32_t>(v));
}

// DSF: "DSD " header, "fmt " (52 bytes), "data" with Samples bytes, then Metadata at the end.
inline Bytes Dsf(const Bytes &sound, const Bytes &metadata)
{
  const std::uint64_t dataChunk = 12 + sound.size();
  const std::uint64_t total = 28 + 52 + dataChunk + metadata.size();
  Bytes b = Bytes().Str("DSD ").U64LE(28).U64LE(total).U64LE(metadata.size() ? 28 + 52 + dataChunk : 0);
  b.Str("fmt ").U64LE(52).U32LE(1).U32LE(0).U32LE(2).U32LE(2).U32LE(2822400).U32LE(1)
    .U64LE(sound.size() * 4).U32LE(4096).U32LE(0);
  b.Str("data").U64LE(dataChunk).Append(sound);
  return b.Append(metadata);
}

inline Bytes DffChunk(std::string_view id, const Bytes &data)
{
  Bytes b = Bytes().Str(id).Append(U64BE(data.size())).Append(data);
  if (data.size() % 2) b.U8(0);
  return b;
}

inline Bytes Dff(const Bytes &chunks)
{
  return Bytes().Str("FRM8").Append(U64BE(chunks.size() + 4)).Str("DSD ").Append(chunks);
}

inline Bytes Slice(const Bytes8 &b, std::size_t from, std::size_t to)
{
  Bytes out;
  out.v.assign(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(to));
  return out;
}
