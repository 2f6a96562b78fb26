#include "tags/id3/id3v2_zlib.h"

#include <algorithm>
#include <limits>

#include <zlib.h>

bool InflateID3v2Data(std::span<const std::uint8_t> Data, std::uint64_t Limit, TBytes &Out)
{
  Out.clear();
  if (Data.empty() || Data.size() > std::numeric_limits<uInt>::max()) return false;
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) return false;
  zs.next_in = const_cast<Bytef *>(Data.data());
  zs.avail_in = static_cast<uInt>(Data.size());
  std::uint8_t chunk[16384];
  int rc = Z_OK;
  bool ok = true;
  while (rc != Z_STREAM_END) {
    zs.next_out = chunk;
    zs.avail_out = sizeof chunk;
    rc = inflate(&zs, Z_NO_FLUSH);
    if (rc != Z_OK && rc != Z_STREAM_END) { ok = false; break; }
    const std::size_t produced = sizeof chunk - zs.avail_out;
    if (Out.size() + produced > Limit) { ok = false; break; }
    Out.insert(Out.end(), chunk, chunk + produced);
    // Input used up without the end of the stream: the data is cut short.
    if (rc == Z_OK && zs.avail_in == 0 && produced == 0) { ok = false; break; }
  }
  inflateEnd(&zs);
  if (!ok) Out.clear();
  return ok;
}

bool DeflateID3v2Data(std::span<const std::uint8_t> Data, TBytes &Out)
{
  Out.clear();
  if (Data.size() > std::numeric_limits<uLong>::max() / 2) return false;
  uLongf bound = compressBound(static_cast<uLong>(Data.size()));
  Out.resize(bound);
  if (compress2(Out.data(), &bound, Data.data(), static_cast<uLong>(Data.size()), Z_BEST_COMPRESSION) != Z_OK) {
    Out.clear();
    return false;
  }
  Out.resize(bound);
  return true;
}
