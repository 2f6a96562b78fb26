#pragma once
// ByteReader: the one bounded reader every parser in the library reads through. It is a view
// over bytes and a position; a read past the end fails and leaves the position alone, and a
// structure's body is handed down as a child reader of exactly its size. The bytes are not
// owned: the caller keeps them alive while the reader is used.
// Beside it, the reading side of ByteWriter::Synchsafe32: the 28-bit synchsafe integers of
// ID3v2.4.0 (four bytes of 7 bits each, the top bit of every byte clear).

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class ByteReader {
public:
  ByteReader() = default;
  ByteReader(const std::uint8_t *Data, std::size_t Size) : FData(Data), FSize(Data ? Size : 0) {}
  explicit ByteReader(std::span<const std::uint8_t> Bytes) : FData(Bytes.data()), FSize(Bytes.size()) {}
  explicit ByteReader(const std::vector<std::uint8_t> &Bytes) : FData(Bytes.data()), FSize(Bytes.size()) {}
  explicit ByteReader(std::string_view Bytes)
    : FData(reinterpret_cast<const std::uint8_t *>(Bytes.data())), FSize(Bytes.size()) {}

  std::size_t Size() const { return FSize; }
  std::size_t Position() const { return FPos; }
  std::size_t Remaining() const { return FSize - FPos; }
  bool AtEnd() const { return FPos >= FSize; }
  const std::uint8_t *Data() const { return FData; }

  bool Seek(std::size_t Pos);
  bool Skip(std::uint64_t Count);

  bool ReadU8(std::uint8_t &V);
  bool ReadU16LE(std::uint16_t &V);
  bool ReadU16BE(std::uint16_t &V);
  bool ReadU24BE(std::uint32_t &V);
  bool ReadU32LE(std::uint32_t &V);
  bool ReadU32BE(std::uint32_t &V);
  bool ReadU64LE(std::uint64_t &V);
  bool ReadU64BE(std::uint64_t &V);
  bool PeekU8(std::uint8_t &V) const;

  // Count bytes as a view into the underlying data.
  bool ReadSpan(std::uint64_t Count, std::span<const std::uint8_t> &Out);
  bool ReadBytes(std::uint64_t Count, std::vector<std::uint8_t> &Out);
  bool ReadString(std::uint64_t Count, std::string &Out);
  // A child reader over the next Count bytes; this reader moves past them.
  bool Take(std::uint64_t Count, ByteReader &Child);
  // True and advances when the next bytes equal Magic; otherwise the position stays.
  bool Expect(std::string_view Magic);
  bool StartsWith(std::string_view Magic) const;

  std::span<const std::uint8_t> Rest() const { return {FData + FPos, FSize - FPos}; }
  std::string RestAsString() const { return std::string(reinterpret_cast<const char *>(FData + FPos), FSize - FPos); }
  // The rest as text, with invalid UTF-8 replaced.
  std::string RestAsUTF8() const;

private:
  template <typename T> bool ReadInt(T &V, bool BigEndian);
  const std::uint8_t *FData = nullptr;
  std::size_t FSize = 0;
  std::size_t FPos = 0;
};

// True when no byte of the four-byte field Coded has its top bit set.
constexpr bool IsSynchsafe32(std::uint32_t Coded) { return (Coded & 0x80808080u) == 0; }
// The value of a four-byte synchsafe field read as a big-endian number; the top bit of each byte
// is ignored, so the result is below 2^28.
constexpr std::uint32_t DecodeSynchsafe32(std::uint32_t Coded)
{
  return ((Coded >> 24) & 0x7F) << 21 | ((Coded >> 16) & 0x7F) << 14 | ((Coded >> 8) & 0x7F) << 7 | (Coded & 0x7F);
}

// A + B, an offset and a size from a file, when A is not negative and the sum stays within
// int64; else -1.
inline std::int64_t CheckedAdd(std::int64_t A, std::uint64_t B)
{
  if (A < 0 || B > static_cast<std::uint64_t>(INT64_MAX - A)) return -1;
  return A + static_cast<std::int64_t>(B);
}
