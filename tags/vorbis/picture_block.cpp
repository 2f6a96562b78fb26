#include "tags/vorbis/picture_block.h"

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

int ParsePictureBlock(std::span<const std::uint8_t> Body, TPictureBlock &Out)
{
  ByteReader in(Body);
  TPictureBlock pic;
  std::uint32_t dataLen = 0;
  // ReadString and ReadBytes check the length against what is left before they allocate.
  if (!in.ReadU32BE(pic.PictureType) || !ReadSized(in, pic.MIMEType) || !ReadSized(in, pic.Description) ||
      !in.ReadU32BE(pic.Width) || !in.ReadU32BE(pic.Height) || !in.ReadU32BE(pic.ColorDepth) ||
      !in.ReadU32BE(pic.NoOfColors) || !in.ReadU32BE(dataLen) || !in.ReadBytes(dataLen, pic.Data))
    return pbrTruncated;
  const auto rest = in.Rest();
  pic.Trailing.assign(rest.begin(), rest.end());
  Out = std::move(pic);
  return pbrOk;
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
  return ParsePictureBlock(structure, Out);
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
