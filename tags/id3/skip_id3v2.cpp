#include "tags/id3/skip_id3v2.h"

#include <algorithm>

#include "tags/streams/byte_reader.h"

bool ParseID3v2Header(const std::uint8_t *Header, std::size_t Size, TID3v2HeaderFields &Out)
{
  Out = TID3v2HeaderFields{};
  ByteReader in(Header, Size);
  if (!in.Expect("ID3") || !in.ReadU8(Out.MajorVersion) || !in.ReadU8(Out.Revision) || !in.ReadU8(Out.Flags))
    return false;
  std::uint32_t coded = 0;
  if (!in.ReadU32BE(coded)) return false;
  Out.SizeIsSynchsafe = IsSynchsafe32(coded);
  Out.BodySize = DecodeSynchsafe32(coded);
  Out.FooterPresent = Out.MajorVersion >= 4 && (Out.Flags & 0x10) != 0;
  Out.TotalSize = static_cast<std::int64_t>(kID3v2HeaderSize) + Out.BodySize + (Out.FooterPresent ? 10 : 0);
  return true;
}

std::int64_t ID3v2TagSizeFromHeader(const std::uint8_t *Header, std::size_t Size)
{
  TID3v2HeaderFields h;
  if (!ParseID3v2Header(Header, Size, h)) return 0;
  if (h.MajorVersion == 0xFF || h.Revision == 0xFF || !h.SizeIsSynchsafe) return 0;
  return h.TotalSize;
}

bool SkipLeadingID3v2Tags(TStream &Stream, std::int64_t &End)
{
  End = 0;
  const std::int64_t size = Stream.GetSize();
  TBytes header;
  for (int i = 0; i < kMaxLeadingID3v2Tags; ++i) {
    if (!ReadUpTo(Stream, End, static_cast<std::int64_t>(kID3v2HeaderSize), header)) return false;
    const std::int64_t tag = ID3v2TagSizeFromHeader(header.data(), header.size());
    if (tag <= 0 || tag > size - End) break;
    End += tag;
  }
  return true;
}

std::int64_t SkipID3v2(TStream &Stream)
{
  std::uint8_t header[kID3v2HeaderSize] = {};
  if (!Stream.SetPosition(0) || !Stream.ReadBuffer(header, sizeof header)) return 0;
  const std::int64_t size = ID3v2TagSizeFromHeader(header, sizeof header);
  const std::int64_t total = Stream.GetSize();
  return std::min(size, std::max<std::int64_t>(total, 0));
}
