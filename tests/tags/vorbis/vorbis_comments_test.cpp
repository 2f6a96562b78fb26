#include "tags/vorbis/vorbis_comments.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/tags/vorbis/fixture_blocks.h"

namespace {

using Texts = std::vector<std::string>;

// A comment body from a vendor and raw entries, with the lengths they really have.
Bytes Body(const std::string &Vendor, const std::vector<std::string> &Entries)
{
  Bytes b;
  b.U32LE(static_cast<std::uint32_t>(Vendor.size())).Str(Vendor).U32LE(static_cast<std::uint32_t>(Entries.size()));
  for (const std::string &e : Entries) b.U32LE(static_cast<std::uint32_t>(e.size())).Str(e);
  return b;
}

TBytes Built(const TVorbisComments &C)
{
  TBytes out;
  EXPECT_EQ(C.Build(out), vcbOk);
  return out;
}

// --- Real comment blocks, as encoders wrote them, come back byte for byte.

struct FixtureCase {
  const char *name;
  const char *file;
  std::size_t signature;        // Ogg: bytes of the packet signature; FLAC: 0
  TVorbisCommentLayout layout;
  std::size_t minEntries;
};

class FixtureRoundTrip : public ::testing::TestWithParam<FixtureCase> {};

TEST_P(FixtureRoundTrip, ParsesWholeAndBuildsTheSameBytes)
{
  const FixtureCase &c = GetParam();
  const Bytes8 file = ReadFileBytes(FixturePath(c.file));
  Bytes8 body;
  const std::string name = c.file;
  if (name.ends_with(".flac")) {
    const auto blocks = fixture_blocks::FlacBlocks(file, 4);
    ASSERT_EQ(blocks.size(), 1u);
    body = blocks[0];
  } else if (name.ends_with(".oga")) {
    const auto packets = fixture_blocks::OggPackets(file, 2);
    ASSERT_EQ(packets.size(), 2u);
    ASSERT_EQ(packets[1][0] & 0x7F, 4);
    body = fixture_blocks::Without(packets[1], 4);  // the FLAC block header
  } else {
    const auto packets = fixture_blocks::OggPackets(file, 2);
    ASSERT_EQ(packets.size(), 2u);
    body = fixture_blocks::Without(packets[1], c.signature);
  }
  TVorbisComments comments;
  ASSERT_EQ(comments.Parse(body, c.layout), vcdNone);
  EXPECT_FALSE(comments.Vendor().empty());
  EXPECT_GE(comments.Count(), c.minEntries);
  EXPECT_EQ(Built(comments), body);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, FixtureRoundTrip, ::testing::Values(
  FixtureCase{"flac_vorbiscomment", "flac/vorbiscomment.flac", 0, vclPlain, 18},
  FixtureCase{"flac_kid3", "flac/kid3.flac", 0, vclPlain, 1},
  FixtureCase{"flac_id3v2_prepended", "flac/id3v2-prepended.flac", 0, vclPlain, 1},
  FixtureCase{"flac_big_padding", "flac/big-padding.flac", 0, vclPlain, 1},
  FixtureCase{"flac_no_padding", "flac/no-padding.flac", 0, vclPlain, 1},
  FixtureCase{"oggflac_tagged", "oga/oggflac-tagged.oga", 0, vclPlain, 1},
  FixtureCase{"vorbis_tagged", "ogg/vorbis-tagged.ogg", 7, vclFramed, 1},
  FixtureCase{"vorbis_kid3", "ogg/vorbis-kid3.ogg", 7, vclFramed, 1},
  FixtureCase{"vorbis_notags", "ogg/vorbis-notags.ogg", 7, vclFramed, 0},
  FixtureCase{"vorbis_bigpicture", "ogg/vorbis-bigpicture.ogg", 7, vclFramed, 1},
  FixtureCase{"opus_tagged", "opus/opus-tagged.opus", 8, vclPlain, 1},
  FixtureCase{"opus_notags", "opus/opus-notags.opus", 8, vclPlain, 0}),
  [](const auto &p) { return std::string(p.param.name); });

TEST(VorbisComments, FixtureEntriesReadAsText)
{
  const auto blocks = fixture_blocks::FlacBlocks(ReadFileBytes(FixturePath("flac/vorbiscomment.flac")), 4);
  ASSERT_EQ(blocks.size(), 1u);
  TVorbisComments comments;
  ASSERT_EQ(comments.Parse(blocks[0], vclPlain), vcdNone);
  EXPECT_EQ(comments.Vendor(), "reference libFLAC 1.4.2 20221022");
  EXPECT_EQ(comments.Value("title"), "Bj\xC3\xB6rk \xE2\x80\x93 J\xC3\xB3ga \xE2\x99\xAB \xE6\x97\xA5\xE6\x9C\xAC");
  EXPECT_EQ(comments.Values("TrackNumber"), Texts{"3"});
}

// --- Hostile lengths: damage is reported, what is safe is kept, nothing is written back.

struct DamageCase {
  const char *name;
  Bytes body;
  TVorbisCommentLayout layout;
  int damage;
  std::string vendor;
  std::size_t entries;
};

class DamagedBody : public ::testing::TestWithParam<DamageCase> {};

TEST_P(DamagedBody, ReportsKeepsWhatIsSafeAndRefusesToBuild)
{
  const DamageCase &c = GetParam();
  TVorbisComments comments;
  EXPECT_EQ(comments.Parse(c.body.v, c.layout), c.damage);
  EXPECT_EQ(comments.Damage(), c.damage);
  EXPECT_EQ(comments.Vendor(), c.vendor);
  EXPECT_EQ(comments.Count(), c.entries);
  TBytes out{1, 2, 3};
  EXPECT_EQ(comments.Build(out), c.damage == vcdNone ? vcbOk : vcbDamaged);
  if (c.damage != vcdNone) {
    EXPECT_EQ(out, (TBytes{1, 2, 3}));
  }
  // Editing does not make a damaged block writable.
  comments.SetValue("TITLE", "x");
  EXPECT_EQ(comments.Build(out) == vcbDamaged, c.damage != vcdNone);
}

INSTANTIATE_TEST_SUITE_P(Table, DamagedBody, ::testing::Values(
  DamageCase{"empty_body", Bytes(), vclPlain, vcdTruncated, "", 0},
  DamageCase{"no_count", Bytes().U32LE(2).Str("ve"), vclPlain, vcdTruncated, "ve", 0},
  DamageCase{"vendor_past_end", Bytes().U32LE(100).Str("vendor").U32LE(0), vclPlain, vcdVendorLength, "", 0},
  DamageCase{"vendor_length_huge", Bytes().U32LE(0xFFFFFFFF).U32LE(0), vclPlain, vcdVendorLength, "", 0},
  DamageCase{"count_huge", Bytes().U32LE(1).Str("v").U32LE(0xFFFFFFFF).U32LE(3).Str("A=b"), vclPlain, vcdEntryCount, "v", 1},
  DamageCase{"count_one_too_many", Body("v", {"A=1", "B=2"}).U32LE(0), vclPlain, vcdNone, "v", 2},
  DamageCase{"count_beyond_entries",
             Bytes().U32LE(1).Str("v").U32LE(3).U32LE(3).Str("A=1").U32LE(3).Str("B=2"), vclPlain, vcdTruncated, "v", 2},
  DamageCase{"entry_past_end", Bytes().U32LE(1).Str("v").U32LE(2).U32LE(3).Str("A=1").U32LE(99).Str("B=2"),
             vclPlain, vcdEntryLength, "v", 1},
  DamageCase{"entry_length_huge", Bytes().U32LE(1).Str("v").U32LE(1).U32LE(0xFFFFFFF0).Str("A=1"),
             vclPlain, vcdEntryLength, "v", 0},
  DamageCase{"framing_missing", Body("v", {"A=1"}), vclFramed, vcdFramingBit, "v", 1},
  DamageCase{"framing_bit_clear", Body("v", {"A=1"}).U8(0), vclFramed, vcdFramingBit, "v", 1},
  DamageCase{"framed_whole", Body("v", {"A=1"}).U8(1), vclFramed, vcdNone, "v", 1}),
  [](const auto &p) { return std::string(p.param.name); });

// --- Stored bytes are kept.

TEST(VorbisComments, UntouchedEntriesKeepTheirExactBytes)
{
  // A TAB, invalid UTF-8, a lower-case name, an entry without "=", one with an empty name, an
  // empty entry, and padding after the framing byte.
  const Bytes body = Body("vendor \xFF", {"title=a\tb", "ARTIST=\xC3\x28 bad", "noseparator", "=just a value", ""})
                       .U8(1).Zeros(5);
  TVorbisComments comments;
  ASSERT_EQ(comments.Parse(body.v, vclFramed), vcdNone);
  EXPECT_EQ(comments.Value("TITLE"), "a\tb");
  EXPECT_EQ(comments.Entries()[1].Value, "\xC3\x28 bad");
  EXPECT_EQ(comments.Value("artist"), "\xEF\xBF\xBD( bad");
  EXPECT_FALSE(comments.Entries()[2].HasSeparator);
  EXPECT_EQ(comments.Entries()[3].Name, "");
  EXPECT_EQ(comments.Entries()[3].Raw(), "=just a value");
  EXPECT_EQ(comments.Trailing(), TBytes(5, 0));
  EXPECT_EQ(Built(comments), body.v);

  // Another entry changed: these still keep their bytes, and the same text set again keeps them.
  ASSERT_TRUE(comments.SetValue("ALBUM", "new"));
  ASSERT_TRUE(comments.SetValue("Artist", comments.Value("ARTIST")));
  ASSERT_TRUE(comments.SetValue("TITLE", "a\tb"));
  EXPECT_EQ(comments.Entries()[0].Raw(), "title=a\tb");
  EXPECT_EQ(comments.Entries()[1].Raw(), "ARTIST=\xC3\x28 bad");
  const Bytes expected = Body("vendor \xFF", {"title=a\tb", "ARTIST=\xC3\x28 bad", "noseparator", "=just a value", "",
                                              "ALBUM=new"}).U8(1).Zeros(5);
  EXPECT_EQ(Built(comments), expected.v);
}

TEST(VorbisComments, NonAsciiNameIsSplitAtTheEqualsByte)
{
  // "ÄRTIST" and "名前": the name ends at the "=" byte, wherever the characters fall.
  const Bytes body = Body("v", {"\xC3\x84RTIST=one=two", "\xE5\x90\x8D\xE5\x89\x8D=\xE5\x80\xA4"});
  TVorbisComments comments;
  ASSERT_EQ(comments.Parse(body.v, vclPlain), vcdNone);
  EXPECT_EQ(comments.Entries()[0].Name, "\xC3\x84RTIST");
  EXPECT_EQ(comments.Entries()[0].Value, "one=two");
  // ASCII folding only: the A-umlaut stays as it is, the rest folds.
  EXPECT_EQ(comments.Value("\xC3\x84rtist"), "one=two");
  EXPECT_EQ(comments.Value("\xE5\x90\x8D\xE5\x89\x8D"), "\xE5\x80\xA4");
  ASSERT_TRUE(comments.Add("\xE5\x90\x8D\xE5\x89\x8D", "second"));
  EXPECT_EQ(comments.Values("\xE5\x90\x8D\xE5\x89\x8D"), (Texts{"\xE5\x80\xA4", "second"}));
  TVorbisComments again;
  ASSERT_EQ(again.Parse(Built(comments), vclPlain), vcdNone);
  EXPECT_EQ(again.Entries(), comments.Entries());
}

TEST(VorbisComments, RepeatedNamesKeepTheirOrder)
{
  TVorbisComments comments;
  ASSERT_EQ(comments.Parse(Body("v", {"ARTIST=First", "TITLE=t", "artist=Second"}).v, vclPlain), vcdNone);
  EXPECT_EQ(comments.Values("Artist"), (Texts{"First", "Second"}));
  EXPECT_EQ(comments.Value("artist"), "First");
  EXPECT_EQ(comments.IndexOf("ARTIST"), 0);
  EXPECT_EQ(Built(comments), Body("v", {"ARTIST=First", "TITLE=t", "artist=Second"}).v);
}

// --- Set, get, delete.

struct SetCase {
  const char *name;
  Texts texts;
  std::vector<std::string> after;  // the raw entries after SetValues("ARTIST", texts)
};

class SetValuesTable : public ::testing::TestWithParam<SetCase> {};

TEST_P(SetValuesTable, ReplacesInPlaceRemovesAndAppends)
{
  TVorbisComments comments;
  ASSERT_EQ(comments.Parse(Body("v", {"artist=A", "TITLE=t", "Artist=B", "ALBUM=x"}).v, vclPlain), vcdNone);
  ASSERT_TRUE(comments.SetValues("ARTIST", GetParam().texts));
  std::vector<std::string> raw;
  for (const auto &e : comments.Entries()) raw.push_back(e.Raw());
  EXPECT_EQ(raw, GetParam().after);
  EXPECT_EQ(comments.Values("artist"), GetParam().texts);
}

INSTANTIATE_TEST_SUITE_P(Table, SetValuesTable, ::testing::Values(
  SetCase{"same_two", {"A", "B"}, {"artist=A", "TITLE=t", "Artist=B", "ALBUM=x"}},
  SetCase{"change_second", {"A", "C"}, {"artist=A", "TITLE=t", "Artist=C", "ALBUM=x"}},
  SetCase{"fewer", {"Z"}, {"artist=Z", "TITLE=t", "ALBUM=x"}},
  SetCase{"more", {"A", "B", "C"}, {"artist=A", "TITLE=t", "Artist=B", "ALBUM=x", "ARTIST=C"}},
  SetCase{"empty_text_is_a_value", {""}, {"artist=", "TITLE=t", "ALBUM=x"}},
  SetCase{"none_removes", {}, {"TITLE=t", "ALBUM=x"}}),
  [](const auto &p) { return std::string(p.param.name); });

TEST(VorbisComments, NamesGivenByCallers)
{
  TVorbisComments comments;
  EXPECT_FALSE(comments.SetValue("A=B", "x"));
  EXPECT_FALSE(comments.Add("", "x"));
  EXPECT_FALSE(comments.SetValue("", "x"));
  EXPECT_EQ(comments.Count(), 0u);
  ASSERT_TRUE(comments.Add("Title", "t"));
  EXPECT_EQ(comments.Entries()[0].Name, "TITLE");
  comments.UpperCaseNewNames = false;
  ASSERT_TRUE(comments.SetValue("Album", "a"));
  EXPECT_EQ(comments.Entries()[1].Name, "Album");
  EXPECT_EQ(comments.Value("ALBUM"), "a");
  EXPECT_EQ(comments.Value("missing"), "");
  EXPECT_EQ(comments.IndexOf("missing"), -1);
}

TEST(VorbisComments, DeleteAndIndexedEdits)
{
  TVorbisComments comments;
  ASSERT_EQ(comments.Parse(Body("v", {"A=1", "B=2", "a=3", "C"}).v, vclPlain), vcdNone);
  EXPECT_EQ(comments.Delete("a"), 2u);
  EXPECT_EQ(comments.Delete("a"), 0u);
  EXPECT_EQ(comments.Delete("C"), 0u);  // an entry without "=" has no name to be found by
  ASSERT_EQ(comments.Count(), 2u);
  EXPECT_TRUE(comments.SetValueAt(0, "two"));
  EXPECT_FALSE(comments.SetValueAt(5, "x"));
  EXPECT_TRUE(comments.DeleteAt(1));
  EXPECT_FALSE(comments.DeleteAt(1));
  EXPECT_EQ(Built(comments), Body("v", {"B=two"}).v);
  comments.DeleteAll();
  EXPECT_EQ(Built(comments), Body("v", {}).v);
}

TEST(VorbisComments, ReplaceAtPutsANewEntryInThePlaceOfAnother)
{
  TVorbisComments comments;
  ASSERT_EQ(comments.Parse(Body("v", {"A=1", "coverart=xyz", "B=2"}).v, vclPlain), vcdNone);
  EXPECT_TRUE(comments.ReplaceAt(1, "metadata_block_picture", "abc"));
  EXPECT_FALSE(comments.ReplaceAt(3, "X", "x"));
  EXPECT_FALSE(comments.ReplaceAt(0, "X=Y", "x"));
  EXPECT_EQ(Built(comments), Body("v", {"A=1", "METADATA_BLOCK_PICTURE=abc", "B=2"}).v);
}

TEST(VorbisComments, EmptyObjectBuildsInItsLayout)
{
  TVorbisComments comments;
  comments.SetVendor("me");
  EXPECT_EQ(Built(comments), Body("me", {}).v);
  comments.SetLayout(vclFramed);
  EXPECT_EQ(Built(comments), Body("me", {}).U8(1).v);
}

// --- The name/value list inside one value.

struct ListCase {
  const char *name;
  std::string value;
  Texts items;
};

class ValueListRead : public ::testing::TestWithParam<ListCase> {};

TEST_P(ValueListRead, Items)
{
  EXPECT_EQ(ParseCommentValueList(GetParam().value), GetParam().items);
}

INSTANTIATE_TEST_SUITE_P(Table, ValueListRead, ::testing::Values(
  ListCase{"empty", "", {}},
  ListCase{"two_pairs", "producer\r\nAnn\r\nmixer\r\nBob\r\n", {"producer=Ann", "mixer=Bob"}},
  ListCase{"last_line_unended", "producer\r\nAnn", {"producer=Ann"}},
  ListCase{"unpaired_last_line", "producer\r\nAnn\r\nmixer\r\n", {"producer=Ann"}},
  ListCase{"lone_cr_dropped", "pro\rducer\r\nA\rnn\r\n", {"producer=Ann"}},
  ListCase{"lone_lf_stays", "a\nb\r\nc\r\n", {"a\nb=c"}},
  ListCase{"empty_lines", "\r\n\r\n", {"="}}),
  [](const auto &p) { return std::string(p.param.name); });

TEST(VorbisComments, ValueListBuildsAndReadsBack)
{
  const Texts items{"producer=Ann", "engineer=B=C", "noequals"};
  const std::string value = BuildCommentValueList(items);
  EXPECT_EQ(value, "producer\r\nAnn\r\nengineer\r\nB=C\r\nnoequals\r\n\r\n");
  EXPECT_EQ(ParseCommentValueList(value), (Texts{"producer=Ann", "engineer=B=C", "noequals="}));
  EXPECT_EQ(BuildCommentValueList({}), "");
}

} // namespace
