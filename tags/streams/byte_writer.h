#pragma once
// ByteWriter: the one place where the library's writers turn integers into bytes, the
// counterpart of ByteReader. It appends to a caller's byte block: unsigned fields of 1 to 8
// bytes in little- or big-endian order, and the 28-bit synchsafe integers of ID3v2.4.0 (four
// bytes of 7 bits each, the top bit of every byte clear), which ID3v2 uses for its tag size and
// for the frame sizes and data length indicators of version 2.4.
// Invariant: a value takes exactly the width asked for and bits above that width are dropped,
// so a writer checks that a size fits its field (32 bits, 2^28 - 1 for synchsafe) before it
// writes it; nothing here refuses or throws.

#include <cstdint>
#include <span>
#include <string_view>

#include "tags/streams/stream.h"

class ByteWriter {
public:
  explicit ByteWriter(TBytes &Out) : FOut(Out) {}

  ByteWriter &U8(std::uint8_t V)
  {
    FOut.push_back(V);
    return *this;
  }
  // V in Width bytes (1 to 8), most significant first when BigEndian.
  ByteWriter &UInt(std::uint64_t V, int Width, bool BigEndian)
  {
    for (int i = 0; i < Width; ++i) {
      const int shift = 8 * (BigEndian ? Width - 1 - i : i);
      FOut.push_back(static_cast<std::uint8_t>(V >> shift));
    }
    return *this;
  }
  ByteWriter &U16LE(std::uint16_t V) { return UInt(V, 2, false); }
  ByteWriter &U16BE(std::uint16_t V) { return UInt(V, 2, true); }
  ByteWriter &U32LE(std::uint32_t V) { return UInt(V, 4, false); }
  ByteWriter &U32BE(std::uint32_t V) { return UInt(V, 4, true); }
  ByteWriter &U64LE(std::uint64_t V) { return UInt(V, 8, false); }
  ByteWriter &U64BE(std::uint64_t V) { return UInt(V, 8, true); }
  // The low 28 bits of V as four 7-bit bytes, most significant first.
  ByteWriter &Synchsafe32(std::uint32_t V)
  {
    for (int shift = 21; shift >= 0; shift -= 7) FOut.push_back(static_cast<std::uint8_t>((V >> shift) & 0x7F));
    return *this;
  }
  ByteWriter &Append(std::span<const std::uint8_t> Bytes)
  {
    FOut.insert(FOut.end(), Bytes.begin(), Bytes.end());
    return *this;
  }
  ByteWriter &Str(std::string_view Text)
  {
    FOut.insert(FOut.end(), Text.begin(), Text.end());
    return *this;
  }
  ByteWriter &Zeros(std::size_t Count)
  {
    FOut.insert(FOut.end(), Count, 0);
    return *this;
  }

private:
  TBytes &FOut;
};

// V in Width bytes of the given order, as a block of its own (a field to patch into a file).
inline TBytes EncodeUInt(std::uint64_t V, int Width, bool BigEndian)
{
  TBytes out;
  ByteWriter(out).UInt(V, Width, BigEndian);
  return out;
}
