#pragma once
// Byte-level extraction of comment and picture bytes from the FLAC and Ogg fixtures, so that
// the codecs can be tried on what real encoders wrote. Deliberately small and independent of
// the library's own FLAC and Ogg readers: a FLAC block walk after an optional ID3v2 tag, and the
// packets of the first logical stream of an Ogg file joined from their page segments.

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace fixture_blocks {

inline std::uint32_t BE(const Bytes8 &B, std::size_t At, int Width)
{
  std::uint32_t v = 0;
  for (int i = 0; i < Width; ++i) v = v << 8 | B.at(At + static_cast<std::size_t>(i));
  return v;
}

// The bodies of the metadata blocks of the given type in a native FLAC file, in order.
inline std::vector<Bytes8> FlacBlocks(const Bytes8 &File, int Type)
{
  std::size_t pos = 0;
  if (File.size() >= 10 && File[0] == 'I' && File[1] == 'D' && File[2] == '3')
    pos = 10 + (std::size_t{File[6]} << 21 | std::size_t{File[7]} << 14 | std::size_t{File[8]} << 7 | File[9]);
  std::vector<Bytes8> blocks;
  if (std::string(File.begin() + static_cast<std::ptrdiff_t>(pos), File.begin() + static_cast<std::ptrdiff_t>(pos + 4)) != "fLaC") return blocks;
  pos += 4;
  for (bool last = false; !last && pos + 4 <= File.size();) {
    last = (File[pos] & 0x80) != 0;
    const int type = File[pos] & 0x7F;
    const std::size_t len = BE(File, pos + 1, 3);
    if (pos + 4 + len > File.size()) break;
    if (type == Type) blocks.push_back(Slice(File, pos + 4, pos + 4 + len).v);
    pos += 4 + len;
  }
  return blocks;
}

// The first Count packets of the first logical stream of an Ogg file.
inline std::vector<Bytes8> OggPackets(const Bytes8 &File, std::size_t Count)
{
  std::vector<Bytes8> packets;
  Bytes8 current;
  std::size_t pos = 0;
  while (packets.size() < Count && pos + 27 <= File.size() && File[pos] == 'O' && File[pos + 1] == 'g') {
    const std::size_t segments = File[pos + 26];
    std::size_t data = pos + 27 + segments;
    for (std::size_t s = 0; s < segments && packets.size() < Count; ++s) {
      const std::size_t lace = File.at(pos + 27 + s);
      current.insert(current.end(), File.begin() + static_cast<std::ptrdiff_t>(data),
                     File.begin() + static_cast<std::ptrdiff_t>(data + lace));
      data += lace;
      if (lace < 255) {
        packets.push_back(current);
        current.clear();
      }
    }
    std::size_t pageData = 0;
    for (std::size_t s = 0; s < segments; ++s) pageData += File[pos + 27 + s];
    pos += 27 + segments + pageData;
  }
  return packets;
}

// Packet without its first Skip bytes (the packet signature).
inline Bytes8 Without(const Bytes8 &Packet, std::size_t Skip)
{
  return Bytes8(Packet.begin() + static_cast<std::ptrdiff_t>(Skip), Packet.end());
}

} // namespace fixture_blocks
