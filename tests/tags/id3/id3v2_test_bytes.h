#pragma once
// Inline builders for ID3v2 test inputs: frames of each version and their texts. The tag
// header and the containers a tag can live in (RIFF, AIFF, DSF, DSDIFF, MPEG audio) come from
// tests/support/container_bytes.h.

#include <cstdint>
#include <string_view>

#include "tests/support/container_bytes.h"
#include "tests/support/test_support.h"

// The ID3v2 tag of these tests' inputs: ID3v2Tag under the short name they read best with.
inline Bytes Tag(std::uint8_t major, std::uint8_t flags, const Bytes &body) { return ID3v2Tag(major, flags, body); }

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
