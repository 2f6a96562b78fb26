#include "tags/streams/byte_reader.h"

#include "tags/text/text.h"

bool ByteReader::Seek(std::size_t Pos)
{
  if (Pos > FSize) return false;
  FPos = Pos;
  return true;
}

bool ByteReader::Skip(std::uint64_t Count)
{
  if (Count > Remaining()) return false;
  FPos += static_cast<std::size_t>(Count);
  return true;
}

template <typename T> bool ByteReader::ReadInt(T &V, bool BigEndian)
{
  if (Remaining() < sizeof(T)) return false;
  T v = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    const std::size_t k = BigEndian ? i : sizeof(T) - 1 - i;
    v = static_cast<T>((v << 8) | FData[FPos + k]);
  }
  V = v;
  FPos += sizeof(T);
  return true;
}

bool ByteReader::ReadU8(std::uint8_t &V)
{
  if (Remaining() < 1) return false;
  V = FData[FPos++];
  return true;
}

bool ByteReader::PeekU8(std::uint8_t &V) const
{
  if (Remaining() < 1) return false;
  V = FData[FPos];
  return true;
}

bool ByteReader::ReadU16LE(std::uint16_t &V) { return ReadInt(V, false); }
bool ByteReader::ReadU16BE(std::uint16_t &V) { return ReadInt(V, true); }
bool ByteReader::ReadU32LE(std::uint32_t &V) { return ReadInt(V, false); }
bool ByteReader::ReadU32BE(std::uint32_t &V) { return ReadInt(V, true); }
bool ByteReader::ReadU64LE(std::uint64_t &V) { return ReadInt(V, false); }
bool ByteReader::ReadU64BE(std::uint64_t &V) { return ReadInt(V, true); }

bool ByteReader::ReadU24BE(std::uint32_t &V)
{
  if (Remaining() < 3) return false;
  V = (static_cast<std::uint32_t>(FData[FPos]) << 16) | (static_cast<std::uint32_t>(FData[FPos + 1]) << 8) | FData[FPos + 2];
  FPos += 3;
  return true;
}

bool ByteReader::ReadSpan(std::uint64_t Count, std::span<const std::uint8_t> &Out)
{
  if (Count > Remaining()) return false;
  Out = {FData + FPos, static_cast<std::size_t>(Count)};
  FPos += static_cast<std::size_t>(Count);
  return true;
}

bool ByteReader::ReadBytes(std::uint64_t Count, std::vector<std::uint8_t> &Out)
{
  std::span<const std::uint8_t> s;
  if (!ReadSpan(Count, s)) return false;
  Out.assign(s.begin(), s.end());
  return true;
}

bool ByteReader::ReadString(std::uint64_t Count, std::string &Out)
{
  std::span<const std::uint8_t> s;
  if (!ReadSpan(Count, s)) return false;
  Out.assign(reinterpret_cast<const char *>(s.data()), s.size());
  return true;
}

bool ByteReader::Take(std::uint64_t Count, ByteReader &Child)
{
  if (Count > Remaining()) return false;
  Child = ByteReader(FData + FPos, static_cast<std::size_t>(Count));
  FPos += static_cast<std::size_t>(Count);
  return true;
}

bool ByteReader::StartsWith(std::string_view Magic) const
{
  if (Magic.size() > Remaining()) return false;
  for (std::size_t i = 0; i < Magic.size(); ++i)
    if (FData[FPos + i] != static_cast<std::uint8_t>(Magic[i])) return false;
  return true;
}

bool ByteReader::Expect(std::string_view Magic)
{
  if (!StartsWith(Magic)) return false;
  FPos += Magic.size();
  return true;
}

std::string ByteReader::RestAsUTF8() const { return SanitizeUtf8(RestAsString()); }
