#include "tags/asf/asf_guids.h"

#include <algorithm>

bool ReadASFGuid(ByteReader &In, TASFGuid &Out)
{
  std::span<const std::uint8_t> bytes;
  if (!In.ReadSpan(Out.size(), bytes)) return false;
  std::copy(bytes.begin(), bytes.end(), Out.begin());
  return true;
}

void AppendASFGuid(TBytes &Out, const TASFGuid &Guid) { Out.insert(Out.end(), Guid.begin(), Guid.end()); }

std::string ASFGuidText(const TASFGuid &Guid)
{
  static constexpr char kHex[] = "0123456789ABCDEF";
  // The byte order of the text form: the first three groups are stored little-endian.
  static constexpr int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  std::string out = "{";
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
    const std::uint8_t b = Guid[static_cast<std::size_t>(kOrder[i])];
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
  out += '}';
  return out;
}
