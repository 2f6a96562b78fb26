#include "tags/vorbis/picture_block.h"

#include <gtest/gtest.h>

#include <string>

#include "tags/vorbis/base64.h"
#include "tags/vorbis/vorbis_comments.h"
#include "tests/support/test_support.h"
#include "tests/tags/vorbis/fixture_blocks.h"

namespace {

TPictureBlock SamplePicture()
{
  TPictureBlock p;
  p.PictureType = 3;
  p.MIMEType = "image/png";
  p.Description = "Fr\xC3\xB6nt";
  p.Width = 640;
  p.Height = 480;
  p.ColorDepth = 24;
  p.NoOfColors = 0;
  p.Data = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 1, 2};
  return p;
}

// A picture structure with the given fields and lengths as stated (not necessarily true).
Bytes Structure(std::uint32_t MimeLen, const std::string &Mime, std::uint32_t DescLen, const std::string &Desc,
                std::uint32_t DataLen, const std::string &Data)
{
  return Bytes().U32BE(3).U32BE(MimeLen).Str(Mime).U32BE(DescLen).Str(Desc)
    .U32BE(1).U32BE(2).U32BE(24).U32BE(0).U32BE(DataLen).Str(Data);
}

TEST(PictureBlock, BuildsTheStructureAndReadsItBack)
{
  TBytes bytes;
  ASSERT_EQ(BuildPictureBlock(SamplePicture(), bytes), pbrOk);
  const Bytes expected = Bytes().U32BE(3).U32BE(9).Str("image/png").U32BE(6).Str("Fr\xC3\xB6nt")
    .U32BE(640).U32BE(480).U32BE(24).U32BE(0).U32BE(11).Append(SamplePicture().Data);
  EXPECT_EQ(bytes, expected.v);
  EXPECT_EQ(SamplePicture().StructureSize(), bytes.size());
  TPictureBlock back;
  ASSERT_EQ(ParsePictureBlock(bytes, back), pbrOk);
  EXPECT_EQ(back, SamplePicture());
}

TEST(PictureBlock, EmptyDescriptionHasLengthZeroAndNoBytes)
{
  TPictureBlock p = SamplePicture();
  p.Description.clear();
  p.Data.clear();
  TBytes bytes;
  ASSERT_EQ(BuildPictureBlock(p, bytes), pbrOk);
  const Bytes expected = Bytes().U32BE(3).U32BE(9).Str("image/png").U32BE(0)
    .U32BE(640).U32BE(480).U32BE(24).U32BE(0).U32BE(0);
  EXPECT_EQ(bytes, expected.v);
}

TEST(PictureBlock, FixtureBlocksRoundTripByteForByte)
{
  for (const char *name : {"flac/big-padding.flac", "flac/kid3.flac", "flac/id3v2-prepended.flac"}) {
    SCOPED_TRACE(name);
    const auto blocks = fixture_blocks::FlacBlocks(ReadFileBytes(FixturePath(name)), 6);
    ASSERT_FALSE(blocks.empty());
    for (const Bytes8 &body : blocks) {
      TPictureBlock pic;
      ASSERT_EQ(ParsePictureBlock(body, pic), pbrOk);
      EXPECT_TRUE(pic.MIMEType.starts_with("image/"));
      EXPECT_FALSE(pic.Data.empty());
      TBytes again;
      ASSERT_EQ(BuildPictureBlock(pic, again), pbrOk);
      EXPECT_EQ(again, body);
    }
  }
}

TEST(PictureBlock, OggFixturePictureCommentDecodesAndRoundTrips)
{
  const auto packets = fixture_blocks::OggPackets(ReadFileBytes(FixturePath("ogg/vorbis-bigpicture.ogg")), 2);
  ASSERT_EQ(packets.size(), 2u);
  TVorbisComments comments;
  ASSERT_EQ(comments.Parse(fixture_blocks::Without(packets[1], 7), vclFramed), vcdNone);
  const int at = comments.IndexOf("metadata_block_picture");
  ASSERT_GE(at, 0);
  const std::string &stored = comments.Entries()[static_cast<std::size_t>(at)].Value;
  TPictureBlock pic;
  ASSERT_EQ(DecodeMetadataBlockPicture(stored, pic), pbrOk);
  EXPECT_TRUE(pic.MIMEType.starts_with("image/"));
  EXPECT_GT(pic.Data.size(), 1000u);
  std::string encoded;
  ASSERT_EQ(EncodeMetadataBlockPicture(pic, encoded), pbrOk);
  EXPECT_EQ(encoded, stored);
}

TEST(PictureBlock, MetadataBlockPictureToleratesLineBreaks)
{
  std::string value;
  ASSERT_EQ(EncodeMetadataBlockPicture(SamplePicture(), value), pbrOk);
  std::string wrapped;
  for (std::size_t i = 0; i < value.size(); i += 19) wrapped += value.substr(i, 19) + "\r\n";
  TPictureBlock back;
  ASSERT_EQ(DecodeMetadataBlockPicture(wrapped, back), pbrOk);
  EXPECT_EQ(back, SamplePicture());
}

TEST(PictureBlock, OggPictureCommentsByName)
{
  EXPECT_TRUE(IsPictureCommentName("metadata_block_picture"));
  EXPECT_TRUE(IsPictureCommentName("CoverArt"));
  EXPECT_FALSE(IsPictureCommentName("COVERARTMIME"));
  // The Ogg form writes the MIME type in lower case; the FLAC block keeps it as given.
  TPictureBlock p = SamplePicture();
  p.MIMEType = "Image/PNG";
  std::string value;
  ASSERT_EQ(EncodeMetadataBlockPicture(p, value), pbrOk);
  TPictureBlock back;
  ASSERT_EQ(DecodeMetadataBlockPicture(value, back), pbrOk);
  EXPECT_EQ(back.MIMEType, "image/png");
  TBytes block;
  ASSERT_EQ(BuildPictureBlock(p, block), pbrOk);
  ASSERT_EQ(ParsePictureBlock(block, back), pbrOk);
  EXPECT_EQ(back.MIMEType, "Image/PNG");
}

struct HostileCase {
  const char *name;
  Bytes body;
};

class HostilePicture : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostilePicture, IsRefusedAsTruncated)
{
  TPictureBlock pic = SamplePicture();
  EXPECT_EQ(ParsePictureBlock(GetParam().body.v, pic), pbrTruncated);
  EXPECT_EQ(pic, SamplePicture());  // the caller's record is not half-filled
  // The same bytes inside an Ogg comment are refused the same way.
  EXPECT_EQ(DecodeMetadataBlockPicture(Base64Encode(GetParam().body.v), pic), pbrTruncated);
}

INSTANTIATE_TEST_SUITE_P(Table, HostilePicture, ::testing::Values(
  HostileCase{"empty", Bytes()},
  HostileCase{"mime_length_past_end", Structure(200, "image/png", 0, "", 1, "x")},
  HostileCase{"mime_length_huge", Structure(0xFFFFFFFF, "image/png", 0, "", 1, "x")},
  HostileCase{"description_past_end", Structure(9, "image/png", 0x7FFFFFFF, "d", 1, "x")},
  HostileCase{"data_past_end", Structure(9, "image/png", 1, "d", 2, "x")},
  HostileCase{"data_length_huge", Structure(9, "image/png", 1, "d", 0xFFFFFFFF, "x")},
  HostileCase{"fields_cut", Bytes().U32BE(3).U32BE(0).U32BE(0).U32BE(1)}),
  [](const auto &p) { return std::string(p.param.name); });

TEST(PictureBlock, BytesAfterTheDataAreKept)
{
  const Bytes body = Structure(3, "a/b", 0, "", 1, "x").Str("tail");
  TPictureBlock pic;
  ASSERT_EQ(ParsePictureBlock(body.v, pic), pbrOk);
  EXPECT_EQ(pic.Data, (TBytes{'x'}));
  EXPECT_EQ(pic.Trailing, (TBytes{'t', 'a', 'i', 'l'}));
  TBytes again;
  ASSERT_EQ(BuildPictureBlock(pic, again), pbrOk);
  EXPECT_EQ(again, body.v);
}

TEST(PictureBlock, Base64GarbageIsRefused)
{
  TPictureBlock pic;
  for (const char *text : {"not base64 at all!", "AAAA*AAA", "A", "====", "AAAA=AAA"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(DecodeMetadataBlockPicture(text, pic), pbrBadBase64);
  }
  // Valid base64 of bytes that are no picture structure.
  EXPECT_EQ(DecodeMetadataBlockPicture("AAAA", pic), pbrTruncated);
}

TEST(PictureBlock, FlacBlockOver16MiBIsRefused)
{
  TPictureBlock p = SamplePicture();
  const std::uint64_t fixed = p.StructureSize() - p.Data.size();
  p.Data.assign(kMaxFlacBlockBody - fixed, 0x55);
  TBytes out;
  ASSERT_EQ(BuildPictureBlock(p, out), pbrOk);
  EXPECT_EQ(out.size(), kMaxFlacBlockBody);
  p.Data.push_back(0x55);
  TBytes untouched{9};
  EXPECT_EQ(BuildPictureBlock(p, untouched), pbrTooLarge);
  EXPECT_EQ(untouched, TBytes{9});
  // An Ogg comment has no 24-bit field: the same picture goes into one.
  std::string value;
  EXPECT_EQ(EncodeMetadataBlockPicture(p, value), pbrOk);
  EXPECT_EQ(value.size(), (kMaxFlacBlockBody + 1 + 2) / 3 * 4);
}

} // namespace
