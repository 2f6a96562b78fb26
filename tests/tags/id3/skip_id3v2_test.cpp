#include "tags/id3/skip_id3v2.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace {

// "ID3", version, revision, flags and the four size bytes as given.
Bytes Header(std::uint8_t Version, std::uint8_t Revision, std::uint8_t Flags, std::uint32_t SizeBytes)
{
  return Bytes().Str("ID3").U8(Version).U8(Revision).U8(Flags).U32BE(SizeBytes);
}

struct SkipCase {
  const char *name;
  Bytes stream;
  std::int64_t want;
};

class SkipID3v2Sizes : public ::testing::TestWithParam<SkipCase> {};

TEST_P(SkipID3v2Sizes, TagExtentAtTheStart)
{
  const SkipCase &c = GetParam();
  TMemoryStream stream(c.stream.v);
  EXPECT_EQ(SkipID3v2(stream), c.want);
}

// 0x00000164 is the synchronisation-safe form of 228.
INSTANTIATE_TEST_SUITE_P(Table, SkipID3v2Sizes, ::testing::Values(
  SkipCase{"no_tag", Bytes().Str("RIFF").Zeros(400), 0},
  SkipCase{"v23", Header(3, 0, 0, 0x00000164).Zeros(400), 238},
  SkipCase{"v24_footer", Header(4, 0, 0x10, 0x00000164).Zeros(400), 248},
  SkipCase{"v23_flag_bit_4_is_no_footer", Header(3, 0, 0x10, 0x00000164).Zeros(400), 238},
  SkipCase{"size_not_synchsafe", Header(3, 0, 0, 0x00000180).Zeros(400), 0},
  SkipCase{"version_ff", Header(0xFF, 0, 0, 0x00000164).Zeros(400), 0},
  SkipCase{"revision_ff", Header(3, 0xFF, 0, 0x00000164).Zeros(400), 0},
  SkipCase{"size_past_the_end_is_clamped", Header(3, 0, 0, 0x7F7F7F7F).Zeros(100), 110},
  SkipCase{"header_cut_short", Bytes().Str("ID3").U8(3).U8(0).U8(0).U8(0).U8(0).U8(1), 0},
  SkipCase{"empty", Bytes(), 0}),
  [](const auto &p) { return std::string(p.param.name); });

TEST(ID3v2TagSizeFromHeader, OnlyTheStreamVariantIsClamped)
{
  const Bytes largest = Header(4, 0, 0x10, 0x7F7F7F7F);
  EXPECT_EQ(ID3v2TagSizeFromHeader(largest.v.data(), largest.size()), 10 + kID3v2MaxBodySize + 10);
  EXPECT_EQ(ID3v2TagSizeFromHeader(largest.v.data(), largest.size() - 1), 0);
  EXPECT_EQ(ID3v2TagSizeFromHeader(nullptr, 10), 0);
}

} // namespace
