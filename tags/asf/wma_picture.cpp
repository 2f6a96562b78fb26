#include "tags/asf/wma_picture.h"

#include "tags/asf/wma_tag_frame.h"
#include "tags/streams/byte_reader.h"
#include "tags/streams/byte_writer.h"
#include "tags/text/text.h"

namespace {

// A UTF-16LE string ended by a zero character, read from In; false when no terminator comes.
bool ReadTerminatedUtf16(ByteReader &In, std::string &Text)
{
  const std::size_t start = In.Position();
  std::uint16_t unit = 1;
  while (In.ReadU16LE(unit))
    if (unit == 0) {
      const auto body = std::span<const std::uint8_t>(In.Data() + start, In.Position() - start - 2);
      Text = WMTStringText(body);
      return true;
    }
  return false;
}

void AppendTerminatedUtf16(TBytes &Out, const std::string &Text)
{
  ByteWriter w(Out);
  for (const char16_t u : Utf8ToUtf16(Text)) w.U16LE(u);
  w.U16LE(0);
}

} // namespace

bool WMAPictureRecordFromStored(std::span<const std::uint8_t> Stored, TBytes &Record)
{
  Record.clear();
  if (Stored.size() < kWMAPictureStoredHeaderBytes) return false;
  Record.reserve(Stored.size() + kWMAPictureRecordHeaderBytes - kWMAPictureStoredHeaderBytes);
  ByteWriter w(Record);
  w.Zeros(4).U8(Stored[0]).Zeros(4).Append(Stored.subspan(1, 4)).Zeros(4).Append(Stored.subspan(kWMAPictureStoredHeaderBytes));
  return true;
}

bool WMAPictureStoredFromRecord(std::span<const std::uint8_t> Record, TBytes &Stored)
{
  Stored.clear();
  if (Record.size() < kWMAPictureRecordHeaderBytes) return false;
  Stored.reserve(Record.size() - kWMAPictureRecordHeaderBytes + kWMAPictureStoredHeaderBytes);
  ByteWriter(Stored).U8(Record[4]).Append(Record.subspan(9, 4)).Append(Record.subspan(kWMAPictureRecordHeaderBytes));
  return true;
}

bool ParseWMAPictureRecord(std::span<const std::uint8_t> Record, TWMAPictureParts &Parts)
{
  Parts = TWMAPictureParts();
  ByteReader in(Record);
  std::uint32_t dataLength = 0;
  if (!in.Skip(4) || !in.ReadU8(Parts.PictureType) || !in.Skip(4) || !in.ReadU32LE(dataLength) || !in.Skip(4)) return false;
  if (!ReadTerminatedUtf16(in, Parts.MIMEType) || !ReadTerminatedUtf16(in, Parts.Description)) return false;
  return in.ReadSpan(dataLength, Parts.Data);
}

TBytes BuildWMAPictureRecord(std::uint8_t PictureType, const std::string &MIMEType, const std::string &Description,
                             std::span<const std::uint8_t> Data)
{
  TBytes record;
  ByteWriter(record).Zeros(4).U8(PictureType).Zeros(4).U32LE(static_cast<std::uint32_t>(Data.size())).Zeros(4);
  AppendTerminatedUtf16(record, MIMEType);
  AppendTerminatedUtf16(record, Description);
  record.insert(record.end(), Data.begin(), Data.end());
  return record;
}
