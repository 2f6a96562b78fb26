#include "tags/ogg/ogg_page.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/test_support.h"
#include "tests/tags/ogg/ogg_test_pages.h"

namespace {

TestPage SimplePage(std::uint32_t Sequence, const std::string &Text, std::int64_t Granule = 0, std::uint32_t Serial = 1)
{
  TestPage p;
  p.Serial = Serial;
  p.Sequence = Sequence;
  p.Granule = Granule;
  p.Data.assign(Text.begin(), Text.end());
  p.Lacing = LaceOf(Text.size());
  return p;
}

const char *const kOggFixtures[] = {"ogg/vorbis-bigpicture.ogg", "ogg/vorbis-kid3.ogg",  "ogg/vorbis-notags.ogg",
                                    "ogg/vorbis-tagged.ogg",     "opus/opus-notags.opus", "opus/opus-tagged.opus",
                                    "oga/oggflac-notags.oga",    "oga/oggflac-tagged.oga"};

} // namespace

TEST(OggCrc, MatchesTheBitwiseDefinition)
{
  Bytes8 b;
  for (int i = 0; i < 1000; ++i) b.push_back(static_cast<std::uint8_t>(i * 131 + 17));
  EXPECT_EQ(OggCrc(b), TestOggCrc(b));
  EXPECT_EQ(OggCrc({}), 0u);
  // Lengths around the steps of the table and folding methods, unaligned starts, and a page
  // checksum (which carries the CRC of the header into the rest) over long runs.
  for (unsigned i = 1000; i < 5000; ++i) b.push_back(static_cast<std::uint8_t>(i * 2654435761u >> 13));
  for (std::size_t from = 0; from < 4; ++from)
    for (const std::size_t n : std::initializer_list<std::size_t>{0, 1, 7, 8, 15, 16, 17, 31, 40, 63, 64, 65, 79, 80,
                                                                  127, 128, 129, 144, 191, 192, 208, 255, 256, 1000, 4097}) {
      const Bytes8 part(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(from + n));
      EXPECT_EQ(OggCrc(part), TestOggCrc(part)) << from << "+" << n;
      if (n < 27) continue;
      Bytes8 zeroed = part;
      std::fill_n(zeroed.begin() + 22, 4, 0);
      EXPECT_EQ(OggPageCrc(part), TestOggCrc(zeroed)) << from << "+" << n;
    }
}

TEST(OggPage, ParsesFieldsOfAByteBuiltPage)
{
  TestPage p = SimplePage(7, "hello", 0x123456789A);
  p.Flags = kOggFlagFirst;
  p.Serial = 0xCAFEBABE;
  const Bytes b = PageBytes(p);
  ByteReader in(b.v);
  TOggPage page;
  ASSERT_EQ(ParseOggPage(in, 100, page), opcOk);
  EXPECT_TRUE(in.AtEnd());
  EXPECT_EQ(page.Offset, 100);
  EXPECT_EQ(page.Flags, kOggFlagFirst);
  EXPECT_EQ(page.Granule, 0x123456789A);
  EXPECT_EQ(page.Serial, 0xCAFEBABEu);
  EXPECT_EQ(page.Sequence, 7u);
  EXPECT_EQ(page.Lacing, Bytes8{5});
  EXPECT_EQ(Bytes8(page.Data().begin(), page.Data().end()), Bytes8({'h', 'e', 'l', 'l', 'o'}));
  EXPECT_EQ(page.Raw, b.v);
}

struct PageCase {
  const char *name;
  Bytes input;
  int want;
};
class OggPageParse : public ::testing::TestWithParam<PageCase> {};

TEST_P(OggPageParse, CodeAndPositionKept)
{
  const PageCase &c = GetParam();
  ByteReader in(c.input.v);
  TOggPage page;
  EXPECT_EQ(ParseOggPage(in, 0, page), c.want);
  if (c.want != opcOk) {
    EXPECT_EQ(in.Position(), 0u);
  }
}

namespace {
Bytes WithByte(Bytes B, std::size_t At, std::uint8_t V)
{
  B.v[At] = V;
  return B;
}
Bytes Cut(const Bytes &B, std::size_t N) { return Slice(B.v, 0, B.size() - N); }
const Bytes kGood = PageBytes(SimplePage(0, "some page data"));
} // namespace

INSTANTIATE_TEST_SUITE_P(Table, OggPageParse, ::testing::Values(
  PageCase{"good", kGood, opcOk},
  PageCase{"empty", Bytes(), opcNoCapture},
  PageCase{"capture_only", Bytes().Str("OggS"), opcTruncated},
  PageCase{"wrong_capture", WithByte(kGood, 3, 'X'), opcNoCapture},
  PageCase{"version_1", WithByte(kGood, 4, 1), opcBadVersion},
  PageCase{"header_cut", Slice(kGood.v, 0, 20), opcTruncated},
  PageCase{"lacing_cut", Slice(kGood.v, 0, 27), opcTruncated},
  PageCase{"data_cut", Cut(kGood, 1), opcTruncated},
  PageCase{"flipped_data_bit", WithByte(kGood, kGood.size() - 1, 'X'), opcBadChecksum},
  PageCase{"lacing_claims_more", WithByte(kGood, 27, 200), opcTruncated},
  PageCase{"lacing_claims_less", WithByte(kGood, 27, 3), opcBadChecksum}),
  [](const auto &param_info) { return std::string(param_info.param.name); });

TEST(OggPage, EncodeAndRenumberGiveValidPages)
{
  const Bytes8 lacing{255, 10};
  const Bytes8 data(265, 0x42);
  TOggPage page = EncodeOggPage(kOggFlagContinued, -1, 9, 3, lacing, data);
  ByteReader in(page.Raw);
  TOggPage back;
  ASSERT_EQ(ParseOggPage(in, 0, back), opcOk);
  EXPECT_EQ(back.Granule, -1);
  EXPECT_EQ(back.Sequence, 3u);
  EXPECT_TRUE(back.Continued());
  RenumberOggPage(page.Raw, 77);
  ByteReader in2(page.Raw);
  ASSERT_EQ(ParseOggPage(in2, 0, back), opcOk);
  EXPECT_EQ(back.Sequence, 77u);
}

TEST(OggPage, EveryPageOfTheFixturesPassesItsChecksum)
{
  for (const char *name : kOggFixtures) {
    SCOPED_TRACE(name);
    const Bytes8 file = ReadFileBytes(FixturePath(name));
    TReadMemoryStream stream(file.data(), static_cast<std::int64_t>(file.size()));
    TOggPageReader reader(stream, 0, 1 << 20);
    TOggPage page;
    std::int64_t pos = 0;
    int pages = 0;
    while (reader.Next(page)) {
      EXPECT_EQ(page.Offset, pos);
      EXPECT_EQ(TestOggCrc(WithByte(WithByte(WithByte(WithByte(Bytes{page.Raw}, 22, 0), 23, 0), 24, 0), 25, 0).v),
                page.Checksum);
      pos = page.End();
      ++pages;
    }
    EXPECT_EQ(pos, static_cast<std::int64_t>(file.size()));
    EXPECT_EQ(reader.SkippedBytes(), 0);
    EXPECT_GE(pages, 3);
  }
}

TEST(OggPageReader, SkipsDamagedPagesAndEndsAtATruncatedOne)
{
  TestPage broken = SimplePage(1, "broken page");
  broken.BreakCrc = true;
  const Bytes a = PageBytes(SimplePage(0, "first"));
  const Bytes junk = Bytes().Str("junk OggS junk");
  const Bytes b = PageBytes(broken);
  const Bytes c = PageBytes(SimplePage(2, "third"));
  const Bytes d = PageBytes(SimplePage(3, "fourth, cut short"));
  const Bytes stream = Bytes().Append(a).Append(junk).Append(b).Append(c).Append(Slice(d.v, 0, d.size() - 4));
  TReadMemoryStream s(stream.v.data(), static_cast<std::int64_t>(stream.size()));
  TOggPageReader reader(s, 0, 100);
  TOggPage page;
  ASSERT_TRUE(reader.Next(page));
  EXPECT_EQ(page.Sequence, 0u);
  ASSERT_TRUE(reader.Next(page));
  EXPECT_EQ(page.Sequence, 2u);
  EXPECT_EQ(page.Offset, static_cast<std::int64_t>(a.size() + junk.size() + b.size()));
  EXPECT_FALSE(reader.Next(page)) << "a cut page is the end, never a zero-filled page";
  EXPECT_EQ(reader.SkippedBytes(), static_cast<std::int64_t>(junk.size() + b.size() + d.size() - 4));
  EXPECT_FALSE(reader.StepsExhausted());
}

TEST(OggPageReader, StopsAfterItsStepBudget)
{
  Bytes stream;
  for (std::uint32_t i = 0; i < 10; ++i) stream.Append(PageBytes(SimplePage(i, "x")));
  TReadMemoryStream s(stream.v.data(), static_cast<std::int64_t>(stream.size()));
  TOggPageReader reader(s, 0, 4);
  TOggPage page;
  int n = 0;
  while (reader.Next(page)) ++n;
  EXPECT_EQ(n, 4);
  EXPECT_TRUE(reader.StepsExhausted());
}

TEST(OggPageReader, ManyFalseCapturePatternsStayBounded)
{
  // Candidates whose headers claim long pages that are not there: each fails, the scan goes on.
  Bytes stream = PageBytes(SimplePage(0, "start"));
  for (int i = 0; i < 300; ++i) stream.Str("OggS").U8(0).Zeros(21).U8(255).Fill(4, 255);
  TReadMemoryStream s(stream.v.data(), static_cast<std::int64_t>(stream.size()));
  TOggPageReader reader(s, 0, 1 << 20);
  TOggPage page;
  ASSERT_TRUE(reader.Next(page));
  EXPECT_FALSE(reader.Next(page));
  EXPECT_EQ(reader.Position(), static_cast<std::int64_t>(stream.size()));
}

TEST(OggLastGranulePage, FindsTheSerialsLastPageWithAPosition)
{
  const Bytes stream = Bytes()
    .Append(PageBytes(SimplePage(0, "head", 0, 1)))
    .Append(AudioPage(1, 1, 100, 50))
    .Append(AudioPage(1, 2, 4800, 60))
    .Append(AudioPage(2, 0, 99999, 60))
    .Append(PageBytes(SimplePage(3, "no packet ends", -1, 1)))
    .Str("trailing bytes");
  TReadMemoryStream s(stream.v.data(), static_cast<std::int64_t>(stream.size()));
  TOggPage page;
  ASSERT_TRUE(FindLastGranulePage(s, 0, 1, page));
  EXPECT_EQ(page.Granule, 4800);
  EXPECT_EQ(page.Sequence, 2u);
  ASSERT_TRUE(FindLastGranulePage(s, 0, 2, page));
  EXPECT_EQ(page.Granule, 99999);
  EXPECT_FALSE(FindLastGranulePage(s, 0, 5, page));
}

TEST(OggLastGranulePage, FixturesEndWithTheirSampleCount)
{
  struct Want { const char *name; std::int64_t granule; };
  for (const Want &w : {Want{"ogg/vorbis-tagged.ogg", 44100}, Want{"opus/opus-tagged.opus", 48312},
                        Want{"oga/oggflac-tagged.oga", 44100}}) {
    SCOPED_TRACE(w.name);
    const Bytes8 file = ReadFileBytes(FixturePath(w.name));
    TReadMemoryStream s(file.data(), static_cast<std::int64_t>(file.size()));
    TOggPage first, last;
    ASSERT_EQ(ReadOggPageAt(s, 0, first), opcOk);
    ASSERT_TRUE(FindLastGranulePage(s, 0, first.Serial, last));
    EXPECT_EQ(last.Granule, w.granule);
    EXPECT_TRUE(last.Last());
  }
}

TEST(OggCodec, FromTheFirstPacket)
{
  struct Case { const char *name; Bytes input; TOggCodec want; };
  const Case cases[] = {
    {"vorbis", PageBytes(SimplePage(0, std::string("\x01vorbis", 7) + "....")), ocVorbis},
    {"opus", PageBytes(SimplePage(0, "OpusHead....")), ocOpus},
    {"flac", PageBytes(SimplePage(0, "\x7F" "FLAC....")), ocFlac},
    {"theora", PageBytes(SimplePage(0, "\x80theora")), ocOther},
    {"not_ogg", Bytes().Str("RIFF....WAVE"), ocNotOgg},
    {"broken_crc", WithByte(PageBytes(SimplePage(0, "OpusHead")), 30, 'X'), ocNotOgg},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TReadMemoryStream s(c.input.v.data(), static_cast<std::int64_t>(c.input.size()));
    EXPECT_EQ(DetectOggCodec(s, 0), c.want);
  }
  struct File { const char *name; TOggCodec want; };
  for (const File &f : {File{"ogg/vorbis-kid3.ogg", ocVorbis}, File{"opus/opus-notags.opus", ocOpus},
                        File{"oga/oggflac-notags.oga", ocFlac}, File{"flac/kid3.flac", ocNotOgg}}) {
    SCOPED_TRACE(f.name);
    const Bytes8 file = ReadFileBytes(FixturePath(f.name));
    TReadMemoryStream s(file.data(), static_cast<std::int64_t>(file.size()));
    EXPECT_EQ(DetectOggCodec(s, 0), f.want);
  }
}
