#include "tags/id3/id3v2_unsync.h"

TBytes RemoveID3v2Unsynchronisation(std::span<const std::uint8_t> Data)
{
  TBytes out;
  out.reserve(Data.size());
  bool afterFF = false;
  for (const std::uint8_t b : Data) {
    if (!(afterFF && b == 0x00)) out.push_back(b);
    afterFF = b == 0xFF;
  }
  return out;
}

TBytes ApplyID3v2Unsynchronisation(std::span<const std::uint8_t> Data)
{
  TBytes out;
  out.reserve(Data.size() + Data.size() / 64 + 1);
  for (std::size_t i = 0; i < Data.size(); ++i) {
    out.push_back(Data[i]);
    if (Data[i] != 0xFF) continue;
    if (i + 1 == Data.size() || Data[i + 1] == 0x00 || Data[i + 1] >= 0xE0) out.push_back(0x00);
  }
  return out;
}

bool ID3v2NeedsUnsynchronisation(std::span<const std::uint8_t> Data)
{
  for (std::size_t i = 0; i < Data.size(); ++i)
    if (Data[i] == 0xFF && (i + 1 == Data.size() || Data[i + 1] == 0x00 || Data[i + 1] >= 0xE0)) return true;
  return false;
}
