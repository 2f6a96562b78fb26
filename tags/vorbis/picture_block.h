#pragma once
// The picture structure of RFC 9639 (FLAC) section 8.8: the body of a FLAC PICTURE metadata
// block, and (base64-encoded, RFC 4648) the value of a METADATA_BLOCK_PICTURE Ogg comment.
// All integers are unsigned 32-bit big-endian: picture type (the ID3v2 APIC numbers, 3 = front
// cover), MIME type length and bytes (ASCII), description length and bytes (UTF-8), width,
// height, colour depth, colours used (indexed pictures, else 0), data length and the image bytes.
//
// Reading trusts no length: each is checked against the bytes left in the block before anything
// is taken, so a hostile length gives an error and no allocation beyond the block's own size.
// Bytes after the picture data are kept and written back, so a block round-trips byte for byte.
// Writing refuses a structure whose lengths do not fit their fields, or that is larger than the
// caller's limit: a FLAC metadata block body has a 24-bit length (kMaxFlacBlockBody).

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "tags/streams/stream.h"

// The largest body a FLAC metadata block can have: its length field is 24 bits.
constexpr std::uint64_t kMaxFlacBlockBody = 0xFFFFFF;
// The largest picture structure put into one Ogg comment: its base64 text (4/3 of it) and the
// name must fit the comment's 32-bit length.
constexpr std::uint64_t kMaxOggPictureStructure = 0xBFFFFF00;

enum TPictureBlockResult : int {
  pbrOk = 0,
  pbrTruncated = 1,  // a field, or the bytes a length announces, reach past the end of the block
  pbrTooLarge = 2,   // building: the structure is larger than the limit
  pbrBadBase64 = 3,  // a METADATA_BLOCK_PICTURE value that is not base64
};

struct TPictureBlock {
  std::uint32_t PictureType = 3;
  std::string MIMEType;          // bytes as stored
  std::string Description;       // bytes as stored (UTF-8 by the format's rule, not checked)
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  std::uint32_t ColorDepth = 0;
  std::uint32_t NoOfColors = 0;
  TBytes Data;
  TBytes Trailing;               // bytes after the picture data, kept as they were

  // The byte size BuildPictureBlock gives.
  std::uint64_t StructureSize() const;
  bool operator==(const TPictureBlock &) const = default;
};

// Reads a picture structure that fills Body; Out is complete only with pbrOk.
int ParsePictureBlock(std::span<const std::uint8_t> Body, TPictureBlock &Out);
// Reads the fields of a picture structure of BodySize bytes from Head, its first bytes, so that
// the picture data can stay where they are: true when every field lies in Head and the data end
// exactly at the end of the structure (no trailing bytes). Out.Data then holds the first bytes of
// the data that Head holds, at most MaxDataHead; DataStart is where the data begin.
bool ParsePictureBlockHead(std::span<const std::uint8_t> Head, std::uint64_t BodySize, std::size_t MaxDataHead,
                           TPictureBlock &Out, std::uint64_t &DataStart);
// Writes the structure to Out (replacing its content); pbrTooLarge, Out untouched, when it
// would exceed MaxSize bytes.
int BuildPictureBlock(const TPictureBlock &Picture, TBytes &Out, std::uint64_t MaxSize = kMaxFlacBlockBody);

// The name of the Ogg comment that holds a picture structure in base64.
constexpr std::string_view kMetadataBlockPictureName = "METADATA_BLOCK_PICTURE";
// True for the names of Ogg comments that hold a picture (ASCII case folding): the picture
// structure above, or the older bare base64 image "COVERART".
bool IsPictureCommentName(std::string_view Name);

// The value of a METADATA_BLOCK_PICTURE comment (base64 text, white space tolerated) read as a
// picture structure.
int DecodeMetadataBlockPicture(std::string_view Value, TPictureBlock &Out);

// A picture left as the base64 text of a METADATA_BLOCK_PICTURE comment until its bytes are
// asked for: Text is the whole value (shared, never changed), the image DataSize bytes from
// DataStart of the decoded structure.
struct TEncodedPicture {
  std::shared_ptr<const std::string> Text;
  std::uint64_t DataStart = 0;
  std::uint64_t DataSize = 0;
  bool Empty() const { return !Text; }
};
// The image bytes of Picture; false (Out empty) when the text does not give them.
bool DecodeEncodedPicture(const TEncodedPicture &Picture, TBytes &Out);
// Reads the fields of a METADATA_BLOCK_PICTURE value of plain base64 from its first characters,
// so that the image can stay encoded: true when the text is plain base64 that decodes to a
// structure whose data end at its end. Out.Data then holds the first bytes of the image (at most
// MaxDataHead) and Encoded says where the rest is (its Text holds a copy of Value).
bool PeekMetadataBlockPicture(std::string_view Value, std::size_t MaxDataHead, TPictureBlock &Out,
                              TEncodedPicture &Encoded);
// The base64 value of a METADATA_BLOCK_PICTURE comment for Picture; the MIME type goes in lower
// case, as Ogg comments write it.
int EncodeMetadataBlockPicture(const TPictureBlock &Picture, std::string &Value);
