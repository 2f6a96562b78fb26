#pragma once
// TTagType: the native tag formats the container knows, and sets of them. The vocabulary shared
// by the container, its format rows and the extension table; it depends on nothing.

#include <cstdint>

enum TTagType : int {
  ttNone = 0, ttAutomatic = 1, ttAPEv2 = 2, ttFlac = 3, ttID3v1 = 4, ttID3v2 = 5, ttMP4 = 6,
  ttOpusVorbis = 7, ttWAV = 8, ttWMA = 9, ttMP4Xtra = 10, ttLyrics2 = 11, ttMKV = 12,
};
// A set of TTagType: bit n for value n.
using TTagTypes = std::uint32_t;
constexpr TTagTypes TagTypeBit(TTagType T) { return TTagTypes{1} << T; }
const char *TagTypeName(TTagType T);  // "ttID3v1", ...
