#include "tags/ogg/ogg_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "tests/support/test_support.h"
#include "tests/tags/ogg/ogg_test_pages.h"

namespace {

// Header packets of distinct bytes, then three audio pages of the same serial and one of another
// serial between them.
const std::vector<Bytes8> kHeader{Bytes8(51, 0x7F), Bytes8(300, 0x04), Bytes8(40, 0x03)};

Bytes8 Stream()
{
  Bytes b = PacketPages(7, 0, kHeader);
  b.Append(PacketPages(7, 3, {Bytes8(500, 0xA1)}, 255, false));
  b.Append(PacketPages(9, 0, {Bytes8(60, 0xEE)}));
  b.Append(PacketPages(7, 4, {Bytes8(700, 0xA2), Bytes8(20, 0xA3)}, 255, false));
  return b.v;
}

struct Result {
  int Code = -1;
  TRewritePlan Plan;
  Bytes8 Out;
};

Result Replace(const Bytes8 &Old, const std::vector<TBytes> &New, std::size_t PageFlags = 0)
{
  TMemoryStream s{TBytes(Old)};
  TOggHeaders h;
  EXPECT_EQ(ReadOggHeaders(s, 0, static_cast<int>(kHeader.size()), h), osOk);
  const std::size_t n = PageFlags == 0 ? New.size() : PageFlags;
  const auto layout = std::make_unique<bool[]>(n);
  std::fill_n(layout.get(), n, true);
  Result r;
  r.Code = PlanOggHeaderReplace(s, h, New, std::span<const bool>(layout.get(), n), r.Plan);
  if (r.Code == osOk) { EXPECT_EQ(ApplyPlanToStream(s, r.Plan), rwOk); }
  r.Out = s.Data();
  return r;
}

// The pages of a serial in order: sequence numbers and payloads.
std::vector<std::pair<std::uint32_t, Bytes8>> PagesOf(const Bytes8 &B, std::uint32_t Serial)
{
  TReadMemoryStream s(B.data(), static_cast<std::int64_t>(B.size()));
  TOggPageReader reader(s, 0, 1 << 16);
  std::vector<std::pair<std::uint32_t, Bytes8>> out;
  TOggPage page;
  while (reader.Next(page))
    if (page.Serial == Serial) out.emplace_back(page.Sequence, Bytes8(page.Data().begin(), page.Data().end()));
  EXPECT_EQ(reader.SkippedBytes(), 0);
  return out;
}

struct CountCase {
  const char *name;
  std::vector<TBytes> packets;
  bool inPlace;
};

class OggHeaderReplace : public ::testing::TestWithParam<CountCase> {};

TEST_P(OggHeaderReplace, NewPacketsReadBackAndFollowingPagesAreRenumbered)
{
  const Bytes8 old = Stream();
  const Result r = Replace(old, GetParam().packets);
  ASSERT_EQ(r.Code, osOk);
  EXPECT_EQ(r.Plan.InPlace, GetParam().inPlace);
  TReadMemoryStream s(r.Out.data(), static_cast<std::int64_t>(r.Out.size()));
  TOggHeaders h;
  const int count = static_cast<int>(GetParam().packets.size());
  ASSERT_EQ(ReadOggHeaders(s, 0, count, h), osOk);
  for (int i = 0; i < count; ++i) EXPECT_EQ(h.Packets[static_cast<std::size_t>(i)].Data, GetParam().packets[static_cast<std::size_t>(i)]);
  EXPECT_FALSE(h.SharedLastPage);
  // Consecutive numbers for the serial; the audio payloads and the other serial unchanged.
  const auto pages = PagesOf(r.Out, 7), before = PagesOf(old, 7);
  for (std::size_t i = 0; i < pages.size(); ++i) EXPECT_EQ(pages[i].first, i);
  ASSERT_GE(pages.size(), 3u);
  ASSERT_GE(before.size(), 3u);
  EXPECT_TRUE(std::equal(before.end() - 3, before.end(), pages.end() - 3,
                         [](const auto &a, const auto &b) { return a.second == b.second; }));
  EXPECT_EQ(PagesOf(r.Out, 9), PagesOf(old, 9));
}

INSTANTIATE_TEST_SUITE_P(Table, OggHeaderReplace, ::testing::Values(
  CountCase{"packet_added", {kHeader[0], kHeader[1], kHeader[2], TBytes(900, 0x06)}, false},
  CountCase{"packet_added_in_the_middle", {kHeader[0], TBytes(10, 0x05), kHeader[1], kHeader[2]}, false},
  CountCase{"packet_removed", {kHeader[0], kHeader[1]}, false},
  CountCase{"first_packets_only_kept", {kHeader[0]}, false},
  // Packets of 300 and 40 bytes on two pages (397 bytes) become 283, 1 and 28 on three: the same room.
  CountCase{"same_room_more_pages", {kHeader[0], TBytes(283, 0x04), TBytes(1, 0x03), TBytes(28, 0x02)}, true},
  CountCase{"same_count_other_bytes", {kHeader[0], TBytes(300, 0x14), kHeader[2]}, true}),
  [](const auto &p) { return std::string(p.param.name); });

TEST(OggHeaderReplaceCheck, UnchangedPacketsPlanNothingAndBadListsAreRefused)
{
  const Bytes8 old = Stream();
  const std::vector<TBytes> same(kHeader.begin(), kHeader.end());
  Result r = Replace(old, same);
  EXPECT_EQ(r.Code, osOk);
  EXPECT_TRUE(r.Plan.ChangesNothing());
  EXPECT_EQ(Replace(old, {}).Code, osBadPackets);
  EXPECT_EQ(Replace(old, same, 2).Code, osBadPackets);
  // The sibling that keeps the count refuses another count, as before.
  TMemoryStream s{TBytes(old)};
  TOggHeaders h;
  ASSERT_EQ(ReadOggHeaders(s, 0, 3, h), osOk);
  const bool two[2] = {true, true};
  TRewritePlan plan;
  const std::vector<TBytes> fewer(kHeader.begin(), kHeader.begin() + 2);
  EXPECT_EQ(PlanOggHeaderRewrite(s, h, fewer, two, plan), osBadPackets);
}

} // namespace
