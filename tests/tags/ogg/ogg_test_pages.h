#pragma once
// Ogg pages built byte by byte for the tests, with a CRC computed here bit by bit (not by the
// library's table), and packets laid out on pages the way a test asks.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

// The Ogg CRC-32, one bit at a time.
inline std::uint32_t TestOggCrc(const Bytes8 &B)
{
  std::uint32_t crc = 0;
  for (std::uint8_t b : B) {
    crc ^= static_cast<std::uint32_t>(b) << 24;
    for (int i = 0; i < 8; ++i) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
  }
  return crc;
}

struct TestPage {
  std::uint8_t Flags = 0;
  std::int64_t Granule = 0;
  std::uint32_t Serial = 1;
  std::uint32_t Sequence = 0;
  Bytes8 Lacing;
  Bytes8 Data;
  bool BreakCrc = false;
};

// The page's bytes with a correct CRC (or a wrong one when BreakCrc).
inline Bytes PageBytes(const TestPage &P)
{
  Bytes b;
  b.Str("OggS").U8(0).U8(P.Flags).U64LE(static_cast<std::uint64_t>(P.Granule)).U32LE(P.Serial).U32LE(P.Sequence)
    .U32LE(0).U8(static_cast<std::uint8_t>(P.Lacing.size())).Append(P.Lacing).Append(P.Data);
  std::uint32_t crc = TestOggCrc(b.v) ^ (P.BreakCrc ? 1u : 0u);
  for (int i = 0; i < 4; ++i) b.v[22 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(crc >> (8 * i));
  return b;
}

// The lacing values of one whole packet of Size bytes.
inline Bytes8 LaceOf(std::size_t Size)
{
  Bytes8 l(Size / 255, 255);
  l.push_back(static_cast<std::uint8_t>(Size % 255));
  return l;
}

// Packets laid out one after another, each starting a new page, MaxSegments lacing values a
// page; sequence numbers from FirstSequence on, granule 0 (-1 on a page where no packet ends). The first page is the stream's first
// when First is set.
inline Bytes PacketPages(std::uint32_t Serial, std::uint32_t FirstSequence, const std::vector<Bytes8> &Packets,
                         std::size_t MaxSegments = 255, bool First = true)
{
  Bytes out;
  std::uint32_t seq = FirstSequence;
  for (std::size_t k = 0; k < Packets.size(); ++k) {
    const Bytes8 lacing = LaceOf(Packets[k].size());
    std::size_t seg = 0, data = 0;
    bool continued = false;
    while (seg < lacing.size()) {
      TestPage p;
      p.Serial = Serial;
      p.Sequence = seq++;
      p.Flags = static_cast<std::uint8_t>((continued ? 1 : 0) | (First && k == 0 && seg == 0 ? 2 : 0));
      const std::size_t n = std::min(MaxSegments, lacing.size() - seg);
      p.Lacing.assign(lacing.begin() + static_cast<std::ptrdiff_t>(seg), lacing.begin() + static_cast<std::ptrdiff_t>(seg + n));
      std::size_t bytes = 0;
      for (std::uint8_t v : p.Lacing) bytes += v;
      p.Granule = p.Lacing.back() < 255 ? 0 : -1;  // -1 where no packet ends
      p.Data.assign(Packets[k].begin() + static_cast<std::ptrdiff_t>(data),
                    Packets[k].begin() + static_cast<std::ptrdiff_t>(data + bytes));
      seg += n;
      data += bytes;
      continued = true;
      out.Append(PageBytes(p));
    }
  }
  return out;
}

// A packet of Size bytes starting with Magic, the rest a counting pattern.
inline Bytes8 MagicPacket(const std::string &Magic, std::size_t Size)
{
  Bytes8 p(Magic.begin(), Magic.end());
  while (p.size() < Size) p.push_back(static_cast<std::uint8_t>(p.size() * 7 + 3));
  p.resize(Size);
  return p;
}

// An audio page: one packet of Size bytes, granule Granule.
inline Bytes AudioPage(std::uint32_t Serial, std::uint32_t Sequence, std::int64_t Granule, std::size_t Size,
                       std::uint8_t Flags = 0)
{
  TestPage p;
  p.Serial = Serial;
  p.Sequence = Sequence;
  p.Granule = Granule;
  p.Flags = Flags;
  p.Lacing = LaceOf(Size);
  p.Data = MagicPacket("audio", Size);
  return PageBytes(p);
}
