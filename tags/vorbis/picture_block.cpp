#include "tags/vorbis/picture_block.h"

#include <algorithm>

#include "tags/streams/byte_reader.h"
#include "tags/streams/byte_writer.h"
#include "tags/text/text.h"
#include "tags/vorbis/base64.h"

namespace {

// The fixed part of the structure: eight 32-bit fields.
constexpr std::uint64_t kPictureFixedBytes = 32;

bool ReadSized(ByteReader &In, std::string &Out)
{
  std::uint32_t len = 0;
  return In.ReadU32BE(len) && In.ReadString(len, Out);
}

} // namespace

std::uint64_t TPictureBlock::StructureSize() const
{
  return kPictureFixedBytes + MIMEType.size() + Description.size() + Data.size() + Trailing.size();
}

namespace {

// The fields in front of the picture data, and the data length.
bool ReadPictureFields(ByteReader &In, TPictureBlock &Pic, std::uint32_t &DataLength)
{
  // ReadString checks the length against what is left before it allocates.
  return In.ReadU32BE(Pic.PictureType) && ReadSized(In, Pic.MIMEType) && ReadSized(In, Pic.Description) &&
         In.ReadU32BE(Pic.Width) && In.ReadU32BE(Pic.Height) && In.ReadU32BE(Pic.ColorDepth) &&
         In.ReadU32BE(Pic.NoOfColors) && In.ReadU32BE(DataLength);
}

} // namespace

int ParsePictureBlock(std::span<const std::uint8_t> Body, TPictureBlock &Out)
{
  ByteReader in(Body);
  TPictureBlock pic;
  std::uint32_t dataLen = 0;
  if (!ReadPictureFields(in, pic, dataLen) || !in.ReadBytes(dataLen, pic.Data)) return pbrTruncated;
  const auto rest = in.Rest();
  pic.Trailing.assign(rest.begin(), rest.end());
  Out = std::move(pic);
  return pbrOk;
}

bool ParsePictureBlockHead(std::span<const std::uint8_t> Head, std::uint64_t BodySize, std::size_t MaxDataHead,
                           TPictureBlock &Out, std::uint64_t &DataStart)
{
  ByteReader in(Head);
  TPictureBlock pic;
  std::uint32_t dataLen = 0;
  if (Head.size() > BodySize || !ReadPictureFields(in, pic, dataLen)) return false;
  DataStart = in.Position();
  if (DataStart + dataLen != BodySize) return false;
  const std::size_t held = std::min<std::size_t>(in.Remaining(), MaxDataHead);
  if (!in.ReadBytes(held, pic.Data)) return false;
  Out = std::move(pic);
  return true;
}

int BuildPictureBlock(const TPictureBlock &Picture, TBytes &Out, std::uint64_t MaxSize)
{
  // Each length field is 32 bits; the total bounds every part, and MaxSize never exceeds 2^32.
  if (Picture.StructureSize() > MaxSize || Picture.StructureSize() > 0xFFFFFFFFu) return pbrTooLarge;
  TBytes bytes;
  bytes.reserve(Picture.StructureSize());
  ByteWriter w(bytes);
  w.U32BE(Picture.PictureType)
    .U32BE(static_cast<std::uint32_t>(Picture.MIMEType.size())).Str(Picture.MIMEType)
    .U32BE(static_cast<std::uint32_t>(Picture.Description.size())).Str(Picture.Description)
    .U32BE(Picture.Width).U32BE(Picture.Height).U32BE(Picture.ColorDepth).U32BE(Picture.NoOfColors)
    .U32BE(static_cast<std::uint32_t>(Picture.Data.size())).Append(Picture.Data)
    .Append(Picture.Trailing);
  Out = std::move(bytes);
  return pbrOk;
}

bool IsPictureCommentName(std::string_view Name)
{
  return SameText(Name, kMetadataBlockPictureName) || SameText(Name, "COVERART");
}

int DecodeMetadataBlockPicture(std::string_view Value, TPictureBlock &Out)
{
  TBytes structure;
  if (!Base64Decode(Value, structure)) return pbrBadBase64;
  // The data take the decoded buffer itself: the fields in front are cut off and the bytes after
  // the data become the trailing bytes, so a large picture is not copied again.
  ByteReader in(structure);
  TPictureBlock pic;
  std::uint32_t dataLen = 0;
  if (!ReadPictureFields(in, pic, dataLen) || dataLen > in.Remaining()) return pbrTruncated;
  const std::size_t start = in.Position();
  pic.Trailing.assign(structure.begin() + static_cast<std::ptrdiff_t>(start + dataLen), structure.end());
  structure.resize(start + dataLen);
  structure.erase(structure.begin(), structure.begin() + static_cast<std::ptrdiff_t>(start));
  pic.Data = std::move(structure);
  Out = std::move(pic);
  return pbrOk;
}

bool DecodeEncodedPicture(const TEncodedPicture &Picture, TBytes &Out)
{
  Out.clear();
  TPictureBlock pic;
  if (Picture.Empty() || DecodeMetadataBlockPicture(*Picture.Text, pic) != pbrOk || pic.Data.size() != Picture.DataSize)
    return false;
  Out = std::move(pic.Data);
  return true;
}

bool PeekMetadataBlockPicture(std::string_view Value, std::size_t MaxDataHead, TPictureBlock &Out,
                              TEncodedPicture &Encoded)
{
  const std::int64_t size = PlainBase64DecodedSize(Value);
  if (size < 0) return false;
  // The fields and the first data bytes, from whole groups of four characters at the start; a
  // structure whose texts do not fit there is decoded whole by the caller.
  const std::size_t headBytes = 32 + 1024 + MaxDataHead;
  const std::size_t chars = std::min(Value.size(), (headBytes + 2) / 3 * 4);
  TBytes head;
  if (!Base64Decode(Value.substr(0, chars), head)) return false;
  TPictureBlock pic;
  std::uint64_t start = 0;
  if (!ParsePictureBlockHead(head, static_cast<std::uint64_t>(size), MaxDataHead, pic, start)) return false;
  Encoded.Text = std::make_shared<const std::string>(Value);
  Encoded.DataStart = start;
  Encoded.DataSize = static_cast<std::uint64_t>(size) - start;
  Out = std::move(pic);
  return true;
}

int EncodeMetadataBlockPicture(const TPictureBlock &Picture, std::string &Value)
{
  TPictureBlock lowered = Picture;
  lowered.MIMEType = AsciiLowerCase(Picture.MIMEType);
  TBytes structure;
  const int rc = BuildPictureBlock(lowered, structure, kMaxOggPictureStructure);
  if (rc != pbrOk) return rc;
  Value = Base64Encode(structure);
  return pbrOk;
}
