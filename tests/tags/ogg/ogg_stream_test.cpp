#include "tags/ogg/ogg_stream.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "tests/support/test_support.h"
#include "tests/support/write_faults.h"
#include "tests/tags/ogg/ogg_test_pages.h"

namespace {

const Bytes8 kIdent = MagicPacket(std::string("\x01vorbis", 7), 30);
const bool kVorbisLayout[3] = {true, true, false};

struct Walk {
  std::vector<TOggPage> Pages;
  std::int64_t Skipped = 0;
};

Walk AllPages(const Bytes8 &B)
{
  TReadMemoryStream s(B.data(), static_cast<std::int64_t>(B.size()));
  TOggPageReader reader(s, 0, 1 << 20);
  Walk w;
  TOggPage page;
  while (reader.Next(page)) w.Pages.push_back(page);
  w.Skipped = reader.SkippedBytes();
  return w;
}

// The payloads of the pages of Serial that come after the header pages.
std::vector<Bytes8> AudioPayloads(const Bytes8 &B, std::uint32_t Serial, std::int64_t HeaderEnd)
{
  std::vector<Bytes8> out;
  for (const TOggPage &p : AllPages(B).Pages)
    if (p.Serial == Serial && p.Offset >= HeaderEnd) out.emplace_back(p.Data().begin(), p.Data().end());
  return out;
}

int Read(const Bytes8 &B, int Count, TOggHeaders &Out)
{
  TReadMemoryStream s(B.data(), static_cast<std::int64_t>(B.size()));
  return ReadOggHeaders(s, 0, Count, Out);
}

std::vector<TBytes> PacketsOf(const TOggHeaders &H)
{
  std::vector<TBytes> out;
  for (const TOggPacket &p : H.Packets) out.push_back(p.Data);
  return out;
}

// Plans a rewrite of Old's header packets to New and applies it to a memory copy.
Bytes8 Rewrite(const Bytes8 &Old, const std::vector<TBytes> &New, std::span<const bool> Layout, TRewritePlan &Plan,
               int Count = 3)
{
  TMemoryStream s{TBytes(Old)};
  TOggHeaders h;
  EXPECT_EQ(ReadOggHeaders(s, 0, Count, h), osOk);
  EXPECT_EQ(PlanOggHeaderRewrite(s, h, New, Layout, Plan), osOk);
  EXPECT_EQ(ApplyPlanToStream(s, Plan), rwOk);
  return s.Data();
}

// Every page valid and nothing skipped but TailBytes at the end; the serial's pages numbered
// 0, 1, 2, ... to its last.
void ExpectSoundStream(const Bytes8 &B, std::uint32_t Serial, std::int64_t TailBytes = 0)
{
  const Walk w = AllPages(B);
  EXPECT_EQ(w.Skipped, TailBytes);
  std::uint32_t seq = 0;
  for (const TOggPage &p : w.Pages)
    if (p.Serial == Serial) {
      EXPECT_EQ(p.Sequence, seq++) << "page at " << p.Offset;
    }
}

// Ident, comment, setup on their own pages (17 segments each), then audio pages and, after
// them, a page of another stream and a few bytes that are not a page.
Bytes VorbisLike(const Bytes8 &Comment, const Bytes8 &Setup, std::uint32_t Serial = 5)
{
  Bytes b = PacketPages(Serial, 0, {kIdent}, 17);
  b.Append(PacketPages(Serial, 1, {Comment}, 17, false));
  const std::uint32_t next = static_cast<std::uint32_t>(AllPages(b.v).Pages.size());
  b.Append(PacketPages(Serial, next, {Setup}, 17, false));
  const std::uint32_t audio = static_cast<std::uint32_t>(AllPages(b.v).Pages.size());
  b.Append(AudioPage(Serial, audio, 1000, 700)).Append(AudioPage(Serial, audio + 1, 2000, 300));
  b.Append(AudioPage(Serial + 1, 0, 50, 40, kOggFlagFirst));
  b.Append(AudioPage(Serial, audio + 2, 3000, 200, kOggFlagLast));
  b.Str("tail bytes");
  return b;
}

bool HaveTool(const char *Name) { return std::system((std::string("command -v ") + Name + " >/dev/null 2>&1").c_str()) == 0; }

std::string RunCapture(const std::string &Command)
{
  std::string out;
  if (FILE *p = popen(Command.c_str(), "r")) {
    char buf[4096];
    std::size_t n = 0;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    if (pclose(p) != 0) out = "failed: " + out;
  }
  return out;
}

} // namespace

// --- reading -----------------------------------------------------------------------------------

TEST(OggHeaders, CommentOverManyPagesAndSetupWithMoreThan255LacingValues)
{
  const Bytes8 comment = MagicPacket(std::string("\x03vorbis", 7), 10000);
  const Bytes8 setup = MagicPacket(std::string("\x05vorbis", 7), 255 * 300 + 17);
  const Bytes file = VorbisLike(comment, setup);
  TOggHeaders h;
  ASSERT_EQ(Read(file.v, 3, h), osOk);
  ASSERT_EQ(h.Packets.size(), 3u);
  EXPECT_EQ(h.Packets[0].Data, kIdent);
  EXPECT_EQ(h.Packets[1].Data, comment);
  EXPECT_EQ(h.Packets[2].Data, setup);
  EXPECT_EQ(h.Serial, 5u);
  EXPECT_EQ(h.Packets[1].FirstPage, 1);
  EXPECT_EQ(h.Packets[1].LastPage, 3);  // 40 lacing values on pages of 17
  EXPECT_EQ(h.Packets[2].FirstPage, 4);
  EXPECT_EQ(h.Packets[2].LastPage, 4 + 301 / 17);
  EXPECT_EQ(h.Pages.size(), static_cast<std::size_t>(h.Packets[2].LastPage + 1));
  EXPECT_EQ(h.Pages[1].Offset, h.Pages[0].Size);
  EXPECT_EQ(h.End, h.Pages.back().Offset + h.Pages.back().Size);
  EXPECT_FALSE(h.Interleaved || h.Damaged || h.SharedLastPage);
}

TEST(OggHeaders, AnInterleavedSecondStreamIsReadButNotWritten)
{
  const Bytes8 comment = MagicPacket("OpusTags", 600);
  Bytes file = PacketPages(7, 0, {MagicPacket("OpusHead", 19)});
  file.Append(PacketPages(8, 0, {MagicPacket("\x80theora", 42)}));
  file.Append(PacketPages(7, 1, {Slice(comment, 0, 510)}, 255, false));  // the packet goes on...
  file.Append(AudioPage(8, 1, 0, 100));
  {
    TestPage rest;  // ...and ends here, after the other stream's page
    rest.Serial = 7;
    rest.Sequence = 2;
    rest.Flags = kOggFlagContinued;
    rest.Lacing = LaceOf(90);
    rest.Data = Slice(comment, 510, 600);
    file.Append(PageBytes(rest));
  }
  // Written as laid out by PacketPages, the first part of the comment ends with a 0 lacing value
  // (510 is a multiple of 255): build it as a continuing page instead.
  TOggHeaders h;
  const int rc = Read(file.v, 2, h);
  ASSERT_EQ(rc, osOk);
  EXPECT_TRUE(h.Interleaved);
  EXPECT_EQ(h.Packets[0].Data, MagicPacket("OpusHead", 19));
  ASSERT_EQ(h.Packets.size(), 2u);
  EXPECT_EQ(h.Packets[1].Data.size(), 510u) << "the 0 lacing value ended the packet at 510 bytes";

  std::vector<TBytes> next = PacketsOf(h);
  next[1].push_back('x');
  const bool layout[2] = {true, true};
  TReadMemoryStream s(file.v.data(), static_cast<std::int64_t>(file.size()));
  TRewritePlan plan;
  EXPECT_EQ(PlanOggHeaderRewrite(s, h, next, layout, plan), osMultiplexed);
  EXPECT_TRUE(plan.ChangesNothing());
}

TEST(OggHeaders, APacketAcrossAnotherSerialsPageIsJoinedWithoutItsData)
{
  const Bytes8 comment = MagicPacket("OpusTags", 400);
  Bytes file = PacketPages(7, 0, {MagicPacket("OpusHead", 19)});
  TestPage a;
  a.Serial = 7;
  a.Sequence = 1;
  a.Lacing = {255};
  a.Data = Slice(comment, 0, 255);
  TestPage b = a;
  b.Sequence = 2;
  b.Flags = kOggFlagContinued;
  b.Lacing = {145};
  b.Data = Slice(comment, 255, 400);
  file.Append(PageBytes(a)).Append(AudioPage(9, 0, 0, 77, kOggFlagFirst)).Append(PageBytes(b));
  TOggHeaders h;
  ASSERT_EQ(Read(file.v, 2, h), osOk);
  EXPECT_EQ(h.Packets[1].Data, comment);
  EXPECT_TRUE(h.Interleaved);
  EXPECT_FALSE(h.Damaged);
}

struct HostileCase {
  const char *name;
  Bytes input;
  int want;
  bool damaged;
};
class OggHeadersHostile : public ::testing::TestWithParam<HostileCase> {};

TEST_P(OggHeadersHostile, CodeAndDamage)
{
  const HostileCase &c = GetParam();
  TOggHeaders h;
  EXPECT_EQ(Read(c.input.v, 2, h), c.want);
  if (c.want == osOk) {
    EXPECT_EQ(h.Damaged, c.damaged);
  }
  for (const TOggPacket &p : h.Packets) EXPECT_LE(static_cast<std::int64_t>(p.Data.size()), kOggMaxPacketBytes);
}

namespace {
Bytes Head() { return PacketPages(3, 0, {MagicPacket("OpusHead", 19)}); }
Bytes Page(std::uint32_t Seq, std::uint8_t Flags, Bytes8 Lacing, std::size_t Data, bool BreakCrc = false)
{
  TestPage p;
  p.Serial = 3;
  p.Sequence = Seq;
  p.Flags = Flags;
  p.Lacing = std::move(Lacing);
  p.Data = MagicPacket("OpusTags", Data);
  p.BreakCrc = BreakCrc;
  return PageBytes(p);
}
Bytes Join(std::initializer_list<Bytes> Parts)
{
  Bytes b;
  for (const Bytes &p : Parts) b.Append(p);
  return b;
}
} // namespace

INSTANTIATE_TEST_SUITE_P(Table, OggHeadersHostile, ::testing::Values(
  HostileCase{"not_ogg", Bytes().Str("ID3\x04").Zeros(50), osNotOgg, false},
  HostileCase{"ends_after_first_page", Head(), osTruncated, false},
  HostileCase{"packet_never_ends", Join({Head(), Page(1, 0, {255}, 255), Page(2, 1, {255, 255}, 510)}), osTruncated, false},
  HostileCase{"ends_at_last_page_flag", Join({Head(), Page(1, kOggFlagLast, {255}, 255), Page(2, 1, {5}, 5)}), osTruncated, false},
  HostileCase{"truncated_page", Join({Head(), Slice(Page(1, 0, {200}, 200).v, 0, 150)}), osTruncated, false},
  HostileCase{"crc_error_skipped", Join({Head(), Page(1, 0, {20}, 20, true), Page(1, 0, {30}, 30)}), osOk, true},
  HostileCase{"lacing_sum_past_end", Join({Head(), Page(1, 0, {250, 250, 250}, 100)}), osTruncated, false},
  HostileCase{"continued_without_start", Join({Head(), Page(1, 1, {100, 30}, 130)}), osOk, true},
  HostileCase{"start_lost_its_end", Join({Head(), Page(1, 0, {255}, 255), Page(2, 0, {30}, 30)}), osOk, true},
  HostileCase{"sequence_gap", Join({Head(), Page(5, 0, {30}, 30)}), osOk, true}),
  [](const auto &param_info) { return std::string(param_info.param.name); });

TEST(OggHeaders, AudioOnTheLastHeaderPageIsReadButNotWritten)
{
  const Bytes file = Join({Head(), Page(1, 0, {30, 100}, 130)});
  TOggHeaders h;
  ASSERT_EQ(Read(file.v, 2, h), osOk);
  EXPECT_TRUE(h.SharedLastPage);
  EXPECT_EQ(h.Packets[1].Data.size(), 30u);
  std::vector<TBytes> next = PacketsOf(h);
  next[1].push_back(0);
  const bool layout[2] = {true, true};
  TReadMemoryStream s(file.v.data(), static_cast<std::int64_t>(file.size()));
  TRewritePlan plan;
  EXPECT_EQ(PlanOggHeaderRewrite(s, h, next, layout, plan), osSharedPage);
}

// --- page layout --------------------------------------------------------------------------------

TEST(OggPagesLayout, SizesSegmentsAndFlags)
{
  struct Case { std::int64_t size; std::int64_t bytes; std::vector<std::size_t> segments; };
  const bool one[1] = {true};
  for (const Case &c : {Case{300, 329, {2}}, Case{510, 540, {3}}, Case{0, 28, {1}},
                        Case{5000, 4335 + 17 + 27 + 665 + 3 + 27, {17, 3}}}) {
    SCOPED_TRACE(c.size);
    const std::int64_t sizes[1] = {c.size};
    EXPECT_EQ(OggPagesSize(sizes, one), c.bytes);
    const std::vector<TBytes> packets{TBytes(static_cast<std::size_t>(c.size), 0x61)};
    const std::vector<TOggPage> pages = BuildOggPages(TOggRunHeader{4, 10, true, false}, packets, one);
    ASSERT_EQ(pages.size(), c.segments.size());
    std::int64_t total = 0;
    for (std::size_t i = 0; i < pages.size(); ++i) {
      EXPECT_EQ(pages[i].Lacing.size(), c.segments[i]);
      EXPECT_EQ(pages[i].Sequence, 10 + i);
      EXPECT_EQ(pages[i].Granule, i + 1 == pages.size() ? 0 : kOggNoGranule);
      EXPECT_EQ(pages[i].Continued(), i > 0);
      EXPECT_EQ(pages[i].First(), i == 0);
      total += pages[i].Size();
    }
    EXPECT_EQ(total, c.bytes);
  }
}

TEST(OggPagesLayout, PacketsThatShareAPageGoOnWhereThePreviousEnded)
{
  const std::vector<TBytes> packets{TBytes(30, 1), TBytes(300, 2), TBytes(1000, 3)};
  const std::int64_t sizes[3] = {30, 300, 1000};
  const std::vector<TOggPage> pages = BuildOggPages(TOggRunHeader{1, 0, true, true}, packets, kVorbisLayout);
  EXPECT_EQ(OggPagesSize(sizes, kVorbisLayout), 27 + 1 + 30 + 27 + 2 + 300 + 4 + 1000);
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[1].Lacing, Bytes8({255, 45, 255, 255, 255, 235}));
  EXPECT_TRUE(pages[1].Last());
  EXPECT_FALSE(pages[0].Last());
}

TEST(OggPagesLayout, UpTo255LacingValuesAPageWhenAsked)
{
  // A comment and a setup header as Vorbis encoders lay them out: one page of 20 lacing values.
  const std::vector<TBytes> packets{TBytes(30, 1), TBytes(1300, 2), TBytes(3484, 3)};
  const std::int64_t sizes[3] = {30, 1300, 3484};
  const std::vector<TOggPage> pages = BuildOggPages(TOggRunHeader{1, 0, true, false}, packets, kVorbisLayout, 255);
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[1].Lacing.size(), 6u + 14u);
  EXPECT_EQ(OggPagesSize(sizes, kVorbisLayout, 255), 27 + 1 + 30 + 27 + 20 + 1300 + 3484);
  // A packet of more than 255 lacing values goes on on a further page.
  const std::vector<TBytes> big{TBytes(255 * 300, 4)};
  const bool one[1] = {true};
  const std::vector<TOggPage> two = BuildOggPages(TOggRunHeader{1, 0, true, false}, big, one, 255);
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[0].Lacing.size(), 255u);
  EXPECT_EQ(two[1].Lacing.size(), 46u);  // 45 values of 255 and the 0 that ends the packet
  EXPECT_TRUE(two[1].Continued());
}

// --- rewriting byte-built streams ----------------------------------------------------------------

TEST(OggRewrite, LongerAndShorterCommentRenumbersAndKeepsTheRest)
{
  const Bytes8 comment = MagicPacket(std::string("\x03vorbis", 7), 3000);
  const Bytes8 setup = MagicPacket(std::string("\x05vorbis", 7), 255 * 300 + 17);
  const Bytes8 old = VorbisLike(comment, setup).v;
  TOggHeaders before;
  ASSERT_EQ(Read(old, 3, before), osOk);
  const Walk oldWalk = AllPages(old);
  for (std::size_t newSize : {std::size_t{20000}, std::size_t{100}}) {
    SCOPED_TRACE(newSize);
    std::vector<TBytes> next = PacketsOf(before);
    next[1] = MagicPacket(std::string("\x03vorbis", 7), newSize);
    TRewritePlan plan;
    const Bytes8 now = Rewrite(old, next, kVorbisLayout, plan);
    EXPECT_FALSE(plan.InPlace);
    ExpectSoundStream(now, 5, 10);
    TOggHeaders after;
    ASSERT_EQ(Read(now, 3, after), osOk);
    EXPECT_EQ(PacketsOf(after), next);
    EXPECT_EQ(Slice(now, 0, static_cast<std::size_t>(before.Pages[0].Size)).v,
              Slice(old, 0, static_cast<std::size_t>(before.Pages[0].Size)).v) << "the first page is kept";
    EXPECT_EQ(AudioPayloads(now, 5, after.End), AudioPayloads(old, 5, before.End));
    // The other stream's page and the bytes after the last page are as they were.
    const Walk w = AllPages(now);
    EXPECT_EQ(w.Pages[w.Pages.size() - 2].Raw, oldWalk.Pages[oldWalk.Pages.size() - 2].Raw);
    EXPECT_EQ(Slice(now, now.size() - 10, now.size()).v, Slice(old, old.size() - 10, old.size()).v);
  }
}

TEST(OggRewrite, SameSizeIsPatchedInPlacePageByPage)
{
  const Bytes8 comment = MagicPacket(std::string("\x03vorbis", 7), 6000);
  const Bytes8 setup = MagicPacket(std::string("\x05vorbis", 7), 900);
  // Comment and setup laid out as this writer lays them out, so a same-size change fits.
  const Bytes8 old = VorbisLike(comment, setup).v;
  TOggHeaders h;
  ASSERT_EQ(Read(old, 3, h), osOk);
  std::vector<TBytes> next = PacketsOf(h);
  const bool separate[3] = {true, true, true};
  next[1][4500] ^= 0xFF;  // on the second page of the comment
  TRewritePlan plan;
  const Bytes8 now = Rewrite(old, next, separate, plan);
  ASSERT_TRUE(plan.InPlace);
  ASSERT_EQ(plan.Patches.size(), 1u);
  EXPECT_EQ(plan.Patches[0].Offset, h.Pages[2].Offset);
  ExpectSoundStream(now, 5, 10);
  TOggHeaders after;
  ASSERT_EQ(Read(now, 3, after), osOk);
  EXPECT_EQ(PacketsOf(after), next);
  EXPECT_EQ(now.size(), old.size());
}

TEST(OggRewrite, SameSizeWithFewerPagesStaysInPlaceAndRenumbers)
{
  // The setup spread over 17-segment pages; laid out after the comment it takes one page less.
  const Bytes8 comment = MagicPacket(std::string("\x03vorbis", 7), 100);
  const Bytes8 setup = MagicPacket(std::string("\x05vorbis", 7), 255 * 16 + 10);
  const Bytes8 old = VorbisLike(comment, setup).v;
  TOggHeaders h;
  ASSERT_EQ(Read(old, 3, h), osOk);
  std::vector<TBytes> next = PacketsOf(h);
  next[1].back() ^= 1;
  const std::int64_t sizes[2] = {100, 255 * 16 + 10};
  const bool shared[2] = {true, false};
  // Two pages of 27 + 1 and 27 + 17 header bytes become two of 27 + 17 and 27 + 1: same size.
  ASSERT_EQ(OggPagesSize(sizes, shared), OggRewriteRegion(h, 1).Bytes);
  TRewritePlan plan;
  const Bytes8 now = Rewrite(old, next, kVorbisLayout, plan);
  EXPECT_TRUE(plan.InPlace);
  ExpectSoundStream(now, 5, 10);
  TOggHeaders after;
  ASSERT_EQ(Read(now, 3, after), osOk);
  EXPECT_EQ(PacketsOf(after), next);
}

TEST(OggRewrite, NothingChangedPlansNothingAndBadInputIsRefused)
{
  const Bytes8 old = VorbisLike(MagicPacket(std::string("\x03vorbis", 7), 50), MagicPacket("\x05", 50)).v;
  TReadMemoryStream s(old.data(), static_cast<std::int64_t>(old.size()));
  TOggHeaders h;
  ASSERT_EQ(ReadOggHeaders(s, 0, 3, h), osOk);
  TRewritePlan plan;
  EXPECT_EQ(PlanOggHeaderRewrite(s, h, PacketsOf(h), kVorbisLayout, plan), osOk);
  EXPECT_TRUE(plan.ChangesNothing());
  std::vector<TBytes> two = PacketsOf(h);
  two.pop_back();
  EXPECT_EQ(PlanOggHeaderRewrite(s, h, two, kVorbisLayout, plan), osBadPackets);
  h.Damaged = true;
  EXPECT_EQ(PlanOggHeaderRewrite(s, h, PacketsOf(h), kVorbisLayout, plan), osDamaged);
}

// --- real files ---------------------------------------------------------------------------------

namespace {

struct FixtureCase {
  const char *name;
  int packets;
  std::vector<std::string> magics;
};

const FixtureCase kFixtures[] = {
  {"ogg/vorbis-tagged.ogg", 3, {std::string("\x01vorbis", 7), std::string("\x03vorbis", 7), std::string("\x05vorbis", 7)}},
  {"ogg/vorbis-kid3.ogg", 3, {std::string("\x01vorbis", 7), std::string("\x03vorbis", 7), std::string("\x05vorbis", 7)}},
  {"ogg/vorbis-notags.ogg", 3, {std::string("\x01vorbis", 7), std::string("\x03vorbis", 7), std::string("\x05vorbis", 7)}},
  {"ogg/vorbis-bigpicture.ogg", 3, {std::string("\x01vorbis", 7), std::string("\x03vorbis", 7), std::string("\x05vorbis", 7)}},
  {"opus/opus-tagged.opus", 2, {"OpusHead", "OpusTags"}},
  {"opus/opus-notags.opus", 2, {"OpusHead", "OpusTags"}},
  {"oga/oggflac-tagged.oga", 2, {"\x7F" "FLAC", "\x04"}},
  {"oga/oggflac-notags.oga", 2, {"\x7F" "FLAC", "\x04"}},
};

bool StartsWith(const TBytes &B, const std::string &M) { return B.size() >= M.size() && std::equal(M.begin(), M.end(), B.begin()); }

// A comment packet of this codec: magic, vendor, one field of Length bytes, framing byte for Vorbis.
TBytes CommentPacket(bool Vorbis, std::size_t Length)
{
  Bytes b;
  if (Vorbis) b.Str(std::string("\x03vorbis", 7)); else b.Str("OpusTags");
  const std::string field = "COMMENT=" + std::string(Length, 'c');
  b.U32LE(4).Str("test").U32LE(1).U32LE(static_cast<std::uint32_t>(field.size())).Str(field);
  if (Vorbis) b.U8(1);
  return b.v;
}

std::string AudioMd5(const std::string &Path)
{
  return RunCapture("ffmpeg -v error -i '" + Path + "' -map 0:a -f md5 - 2>&1");
}

} // namespace

TEST(OggFixtures, HeaderPacketsAreRead)
{
  for (const FixtureCase &c : kFixtures) {
    SCOPED_TRACE(c.name);
    const Bytes8 file = ReadFileBytes(FixturePath(c.name));
    TOggHeaders h;
    ASSERT_EQ(Read(file, c.packets, h), osOk);
    ASSERT_EQ(h.Packets.size(), c.magics.size());
    for (std::size_t i = 0; i < c.magics.size(); ++i) EXPECT_TRUE(StartsWith(h.Packets[i].Data, c.magics[i])) << i;
    EXPECT_FALSE(h.Interleaved || h.Damaged || h.SharedLastPage);
    EXPECT_EQ(h.Pages[0].Offset, 0);
  }
}

TEST(OggFixtures, CommentRewrittenLongerAndShorterKeepsTheAudio)
{
  const bool validate = HaveTool("oggz-validate");
  const bool ffmpeg = HaveTool("ffmpeg");
  for (const FixtureCase &c : kFixtures) {
    if (c.magics[0] == "\x7F" "FLAC") continue;  // its comment block has a block header of its own
    const bool vorbis = c.packets == 3;
    for (std::size_t length : {std::size_t{9000}, std::size_t{3}}) {
      SCOPED_TRACE(std::string(c.name) + " comment field of " + std::to_string(length));
      TempDir dir;
      const std::string path = dir.CopyFixture(c.name);
      const Bytes8 old = ReadFileBytes(path);
      TOggHeaders h;
      ASSERT_EQ(Read(old, c.packets, h), osOk);
      std::vector<TBytes> next = PacketsOf(h);
      next[1] = CommentPacket(vorbis, length);
      const bool opusLayout[2] = {true, true};
      TRewritePlan plan;
      {
        auto file = TFileStream::Open(path, TFileMode::fmOpenReadWrite);
        ASSERT_NE(file, nullptr);
        TOggHeaders fh;
        ASSERT_EQ(ReadOggHeaders(*file, 0, c.packets, fh), osOk);
        ASSERT_EQ(PlanOggHeaderRewrite(*file, fh, next, vorbis ? std::span<const bool>(kVorbisLayout)
                                                                : std::span<const bool>(opusLayout), plan), osOk);
        ASSERT_EQ(ApplyPlanToFile(path, *file, plan), rwOk);
      }
      const Bytes8 now = ReadFileBytes(path);
      ExpectSoundStream(now, h.Serial);
      TOggHeaders after;
      ASSERT_EQ(Read(now, c.packets, after), osOk);
      EXPECT_EQ(PacketsOf(after), next);
      EXPECT_EQ(AudioPayloads(now, h.Serial, after.End), AudioPayloads(old, h.Serial, h.End));
      if (validate) {
        EXPECT_EQ(RunCapture("oggz-validate '" + path + "' 2>&1"), "");
      }
      if (ffmpeg) {
        EXPECT_EQ(AudioMd5(path), AudioMd5(FixturePath(c.name)));
      }
    }
  }
}

TEST(OggHeaders, TheWalkIsBoundedByItsPageCount)
{
  // Empty pages of another stream between the first page and the rest of the header.
  Bytes file = PacketPages(1, 0, {MagicPacket("OpusHead", 19)});
  TestPage other;
  other.Serial = 2;
  const Bytes empty = PageBytes(other);
  for (std::int64_t i = 0; i < kOggMaxHeaderPages; ++i) file.Append(empty);
  file.Append(PacketPages(1, 1, {MagicPacket("OpusTags", 30)}, 255, false));
  TOggHeaders h;
  EXPECT_EQ(Read(file.v, 2, h), osTooLarge);
}

TEST(OggRewrite, BytesBeforeTheFirstPageAreKept)
{
  const Bytes prefix = Bytes().Str("ID3").Zeros(40);
  const Bytes8 old = Bytes().Append(prefix)
    .Append(VorbisLike(MagicPacket(std::string("\x03vorbis", 7), 500), MagicPacket("\x05", 600))).v;
  TMemoryStream s{TBytes(old)};
  TOggHeaders h;
  ASSERT_EQ(ReadOggHeaders(s, static_cast<std::int64_t>(prefix.size()), 3, h), osOk);
  EXPECT_EQ(h.Start, static_cast<std::int64_t>(prefix.size()));
  std::vector<TBytes> next = PacketsOf(h);
  next[1].resize(5000, 0);
  TRewritePlan plan;
  ASSERT_EQ(PlanOggHeaderRewrite(s, h, next, kVorbisLayout, plan), osOk);
  ASSERT_EQ(ApplyPlanToStream(s, plan), rwOk);
  const Bytes8 now = s.Data();
  EXPECT_EQ(Slice(now, 0, prefix.size()).v, prefix.v);
  TOggHeaders after;
  ASSERT_EQ(ReadOggHeaders(s, h.Start, 3, after), osOk);
  EXPECT_EQ(PacketsOf(after), next);
  const Bytes8 pages(now.begin() + static_cast<std::ptrdiff_t>(prefix.size()), now.end());
  ExpectSoundStream(pages, 5, 10);
}

TEST(OggRewrite, AFailedWriteLeavesTheFileAsItWas)
{
  TempDir dir;
  const std::string source = FixturePath("opus/opus-tagged.opus");
  const Bytes8 original = ReadFileBytes(source);
  std::string path;
  // A longer and a shorter comment (rebuilds), and one changed byte (in place); 0 stands for that.
  for (std::size_t length : {std::size_t{5000}, std::size_t{10}, std::size_t{0}}) {
    SCOPED_TRACE(length);
    TWriteFailureSteps steps;
    steps.Prepare = [&] { path = dir.Write("a.opus", original); };
    steps.Save = [&] {
      auto file = TFileStream::Open(path, TFileMode::fmOpenReadWrite);
      if (!file) return false;
      TOggHeaders h;
      if (ReadOggHeaders(*file, 0, 2, h) != osOk) return false;
      std::vector<TBytes> next = PacketsOf(h);
      if (length > 0) {
        next[1] = CommentPacket(false, length);
      } else {
        next[1].back() ^= 1;
      }
      const bool layout[2] = {true, true};
      TRewritePlan plan;
      if (PlanOggHeaderRewrite(*file, h, next, layout, plan) != osOk) return false;
      return ApplyPlanToFile(path, *file, plan) == rwOk && file->Close();
    };
    steps.CheckIntact = [&](int) {
      EXPECT_EQ(ReadFileBytes(path), original);
      EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"a.opus"});
    };
    EXPECT_TRUE(RunFailingEachWriteInTurn(steps).Succeeded);
    EXPECT_NE(ReadFileBytes(path), original);
  }
}
