#include "tags/id3/id3v1_tag.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>

#include "tags/streams/file_io.h"
#include "tests/support/container_bytes.h"
#include "tests/support/test_support.h"
#include "tests/support/write_faults.h"

namespace {

Bytes SimpleRecord() { return ID3v1Record("Title", "Artist", "Album", "1999", "Comment", 7, 17); }

std::string Digits(std::size_t Value, int Width)
{
  char buf[32];
  std::snprintf(buf, sizeof buf, "%0*zu", Width, Value);
  return buf;
}

std::string Field(std::string_view ID, std::string_view Data) { return std::string(ID) + Digits(Data.size(), 5) + std::string(Data); }

// "LYRICSBEGIN", the fields, the 6-digit size and "LYRICS200".
Bytes LyricsBlock(const std::string &Fields)
{
  const std::string body = "LYRICSBEGIN" + Fields;
  return Bytes().Str(body).Str(Digits(body.size(), 6)).Str("LYRICS200");
}

Bytes Audio(std::size_t Size = 300) { return Bytes().Fill(Size, 0xA5); }

int LoadBytes(TID3v1Tag &Tag, const Bytes8 &Data)
{
  TMemoryStream s(Data);
  return Tag.LoadFromStream(s);
}

Bytes8 LastRecord(const Bytes8 &Data) { return Bytes8(Data.end() - 128, Data.end()); }

bool StartsWithBytes(const Bytes8 &Data, const Bytes8 &Prefix)
{
  return Data.size() >= Prefix.size() && std::equal(Prefix.begin(), Prefix.end(), Data.begin());
}

bool Contains(const Bytes8 &Data, std::string_view Needle)
{
  const Bytes8 needle(Needle.begin(), Needle.end());
  return std::search(Data.begin(), Data.end(), needle.begin(), needle.end()) != Data.end();
}

} // namespace

TEST(ID3v1Genres, TableHasTheNamesTagsCarry)
{
  EXPECT_STREQ(ID3GenreName(0), "Blues");
  EXPECT_STREQ(ID3GenreName(12), "Other");
  EXPECT_STREQ(ID3GenreName(17), "Rock");
  EXPECT_STREQ(ID3GenreName(67), "Psychedelic");
  EXPECT_STREQ(ID3GenreName(79), "Hard Rock");
  EXPECT_STREQ(ID3GenreName(80), "Folk");
  EXPECT_STREQ(ID3GenreName(147), "SynthPop");
  EXPECT_STREQ(ID3GenreName(191), "Psybient");
  EXPECT_EQ(ID3GenreName(-1), nullptr);
  EXPECT_EQ(ID3GenreName(192), nullptr);
  EXPECT_EQ(ID3GenreIndex("Psybient"), 191);
  EXPECT_EQ(ID3GenreIndex("rock"), 17);  // exact first, then any case
  EXPECT_EQ(ID3GenreIndex("Psychadelic"), -1);
}

TEST(ID3v1Load, ReadsA11RecordInCodePage1252)
{
  TID3v1Tag tag;
  const Bytes data = Bytes().Append(Audio()).Append(
    ID3v1Record("  Bj\xF6rk - J\xF3ga ", "Artist\x80", "Album", "2021", "Comment", 3, 17));
  ASSERT_EQ(LoadBytes(tag, data), 0);
  EXPECT_TRUE(tag.Loaded);
  EXPECT_TRUE(tag.Revision1);
  EXPECT_EQ(tag.Title, "Björk - Jóga");
  EXPECT_EQ(tag.Artist, "Artist€");
  EXPECT_EQ(tag.Album, "Album");
  EXPECT_EQ(tag.Year, "2021");
  EXPECT_EQ(tag.Comment, "Comment");
  EXPECT_EQ(tag.Track, 3);
  EXPECT_EQ(tag.TrackString, "3");
  EXPECT_EQ(tag.Genre, "Rock");
  EXPECT_EQ(tag.FileSize(), static_cast<std::int64_t>(data.size()));
  EXPECT_EQ(tag.LyricsSize(), 0);
}

TEST(ID3v1Load, Version10And11Forms)
{
  TID3v1Tag tag;
  const std::string comment30(30, 'c');
  ASSERT_EQ(LoadBytes(tag, ID3v1Record("T", "", "", "", comment30, kID3v10Track, 0)), 0);
  EXPECT_FALSE(tag.Revision1);
  EXPECT_EQ(tag.Comment, comment30);
  EXPECT_EQ(tag.Track, 0);
  EXPECT_EQ(tag.TrackString, "");

  ASSERT_EQ(LoadBytes(tag, ID3v1Record("T", "", "", "", "short", 0, 0)), 0);
  EXPECT_TRUE(tag.Revision1);
  EXPECT_EQ(tag.Track, 0);
  EXPECT_EQ(tag.TrackString, "0");
}

TEST(ID3v1Load, GenreByte)
{
  struct Case { std::uint8_t byte; const char *plain; const char *asOther; };
  for (const Case &c : {Case{17, "Rock", "Rock"}, Case{191, "Psybient", "Psybient"}, Case{255, "", "Other"},
                        Case{200, "200", "Other"}, Case{192, "192", "Other"}}) {
    SCOPED_TRACE(int(c.byte));
    TID3v1Tag tag;
    ASSERT_EQ(LoadBytes(tag, ID3v1Record("T", "", "", "", "", 1, c.byte)), 0);
    EXPECT_EQ(tag.Genre, c.plain);
    tag.TreatUnknownGenresAsOther = true;
    ASSERT_EQ(LoadBytes(tag, ID3v1Record("T", "", "", "", "", 1, c.byte)), 0);
    EXPECT_EQ(tag.Genre, c.asOther);
  }
}

TEST(ID3v1Load, StreamsOfRecordSizeOrLess)
{
  TID3v1Tag tag;
  // Exactly one record: read from offset 0, and no Lyrics3 block is looked for.
  ASSERT_EQ(LoadBytes(tag, SimpleRecord()), 0);
  EXPECT_EQ(tag.Title, "Title");

  EXPECT_EQ(LoadBytes(tag, Bytes().Append(Audio()).Append(ID3v1Record("T", "", "", "", "", 1, 1)).Str("X")), id3v1NoTag);
  EXPECT_FALSE(tag.Loaded);
  EXPECT_EQ(LoadBytes(tag, Bytes8{}), id3v1NoTag);
}

TEST(ID3v1Load, FromMemoryReadsOnlyTheGivenBlock)
{
  TID3v1Tag tag;
  // A block shorter than a record: its bytes are the start of a zero-filled record. Under the
  // address sanitizer any read past the 12 bytes fails the test.
  const Bytes8 shortBlock = Bytes().Str("TAGShortName").v;
  ASSERT_EQ(tag.LoadFromMemory(shortBlock.data(), static_cast<std::int64_t>(shortBlock.size())), 0);
  EXPECT_EQ(tag.Title, "ShortName");

  // The record is the block's last 128 bytes, and the Lyrics3 block in front of it is read too.
  const Bytes8 block =
    Bytes().Append(Audio(50)).Append(LyricsBlock(Field("IND", "100") + Field("LYR", "la la"))).Append(SimpleRecord()).v;
  ASSERT_EQ(tag.LoadFromMemory(block.data(), static_cast<std::int64_t>(block.size())), 0);
  EXPECT_EQ(tag.Title, "Title");
  EXPECT_EQ(tag.GetLyrics(), "la la");

  EXPECT_EQ(tag.LoadFromMemory(nullptr, 128), id3v1NoTag);
  EXPECT_EQ(tag.LoadFromMemory(block.data(), 0), id3v1NoTag);
  EXPECT_FALSE(tag.Loaded);
}

TEST(ID3v1Lyrics3, LoadsFieldsFlagsAndExtendedNames)
{
  const std::string fullAlbum = "Album " + std::string(30, 'x');  // 36 characters
  const Bytes data = Bytes()
    .Append(Audio())
    .Append(LyricsBlock(Field("IND", "011") + Field("LYR", "[00:01]Line one\r\nLine two") + Field("EAL", fullAlbum) +
                        Field("EAR", "Somebody Else") + Field("ETT", "Full Title") + Field("XYZ", "kept \xE9")))
    .Append(ID3v1Record("", "Artist", fullAlbum.substr(0, 30), "", "", 1, 0));
  TID3v1Tag tag;
  ASSERT_EQ(LoadBytes(tag, data), 0);
  EXPECT_EQ(tag.Album, fullAlbum);
  EXPECT_EQ(tag.Artist, "Artist");      // the extended artist does not contain it
  EXPECT_EQ(tag.Title, "Full Title");   // the record's title was empty
  EXPECT_EQ(tag.GetLyrics(), "[00:01]Line one\r\nLine two");
  EXPECT_TRUE(tag.LyricsHasTimeStamp);
  EXPECT_TRUE(tag.InhibitTracksForRandomSelection);
  ASSERT_EQ(tag.LyricsFrames.size(), 6u);
  EXPECT_EQ(tag.LyricsFrames[0]->ID, "IND");
  ASSERT_NE(tag.FindLyricsFrame("XYZ"), nullptr);
  EXPECT_EQ(tag.FindLyricsFrame("XYZ")->Data, "kept é");
  EXPECT_EQ(tag.FindLyricsFrame("XYZ")->Index(), 5);
  // Block size + 6 digits + "LYRICS200".
  EXPECT_EQ(tag.LyricsSize(), static_cast<std::int32_t>(data.size() - Audio().size() - 128));
}

struct DamagedCase {
  const char *name;
  Bytes block;  // what stands between the audio and the record
  int want;
};

class ID3v1DamagedLyrics : public ::testing::TestWithParam<DamagedCase> {};

// A block that cannot be delimited or whose fields overrun it is ignored: the record still
// loads and no field is kept. Size digits that are not a number fail the whole load.
TEST_P(ID3v1DamagedLyrics, RecordSurvivesOrLoadFails)
{
  const DamagedCase &c = GetParam();
  TID3v1Tag tag;
  const int rc = LoadBytes(tag, Bytes().Append(Audio(40)).Append(c.block).Append(SimpleRecord()));
  ASSERT_EQ(rc, c.want);
  EXPECT_TRUE(tag.LyricsFrames.empty());
  EXPECT_EQ(tag.LyricsSize(), 0);
  if (c.want == 0) {
    EXPECT_TRUE(tag.Loaded);
    EXPECT_EQ(tag.Title, "Title");
  } else {
    EXPECT_FALSE(tag.Loaded);
    EXPECT_EQ(tag.Title, "");
  }
}

INSTANTIATE_TEST_SUITE_P(Table, ID3v1DamagedLyrics, ::testing::Values(
  DamagedCase{"size_larger_than_file", Bytes().Str("LYRICSBEGIN").Str(Field("LYR", "x")).Str("999999LYRICS200"), 0},
  DamagedCase{"size_below_marker", Bytes().Str("LYRICSBEGIN").Str("000005LYRICS200"), 0},
  DamagedCase{"no_begin_marker", Bytes().Str("LYRICSBEGXN").Str(Field("LYR", "x")).Str("000020LYRICS200"), 0},
  DamagedCase{"field_overruns_block", Bytes().Str("LYRICSBEGIN").Str("LYR00050abc").Str("000022LYRICS200"), 0},
  DamagedCase{"field_header_cut", Bytes().Str("LYRICSBEGIN").Str(Field("LYR", "x")).Str("EAL0").Str("000024LYRICS200"), 0},
  DamagedCase{"size_not_a_number", Bytes().Str("LYRICSBEGIN").Str(Field("LYR", "x")).Str("0000x0LYRICS200"), id3v1ReadError},
  DamagedCase{"field_length_not_a_number", LyricsBlock("LYR0x001a"), id3v1ReadError}),
  [](const auto &p) { return std::string(p.param.name); });

TEST(ID3v1Save, GenreStoredWithoutWrapping)
{
  struct Case { const char *genre; std::uint8_t byte; };
  for (const Case &c : {Case{"Rock", 17}, Case{"Psychadelic", 67}, Case{"Psychedelic", 67}, Case{"17", 17},
                        Case{"0", 0}, Case{"255", 255}, Case{"200", 200}, Case{"256", 255}, Case{"273", 255},
                        Case{"-1", 255}, Case{"", 255}, Case{"Not A Genre", 255}, Case{"rock", 17}, Case{"Synthpop", 147}}) {
    SCOPED_TRACE(c.genre);
    TID3v1Tag tag;
    tag.Genre = c.genre;
    TMemoryStream s;
    ASSERT_EQ(tag.SaveToStream(s, false), 0);
    ASSERT_EQ(s.Data().size(), 128u);
    EXPECT_EQ(s.Data()[127], c.byte);
  }
}

TEST(ID3v1Save, UntaggedFileGainsNoGenre)
{
  TID3v1Tag tag;
  tag.Title = "Only a title";
  TMemoryStream s(Audio().v);
  ASSERT_EQ(tag.SaveToStream(s, false), 0);
  TID3v1Tag back;
  ASSERT_EQ(back.LoadFromStream(s), 0);
  EXPECT_EQ(back.Title, "Only a title");
  EXPECT_EQ(back.Genre, "");
}

TEST(ID3v1Save, TrackByteAndCommentLength)
{
  // A track keeps its byte (form 1.1) and cuts a longer comment to 28 bytes; without a track a
  // comment of 29 or 30 bytes takes the whole field (form 1.0).
  struct Case { std::size_t commentLength; std::uint8_t track; std::size_t commentStored; bool form11; };
  for (const Case &c : {Case{28, 5, 28, true}, Case{29, 5, 28, true}, Case{30, 5, 28, true}, Case{0, 255, 0, true},
                        Case{28, 0, 28, true}, Case{29, 0, 29, false}, Case{30, 0, 30, false}}) {
    SCOPED_TRACE(std::to_string(c.commentLength) + " track " + std::to_string(c.track));
    TID3v1Tag tag;
    tag.Comment = std::string(c.commentLength, 'c');
    tag.Track = c.track;
    TMemoryStream s;
    ASSERT_EQ(tag.SaveToStream(s, false), 0);
    TID3v1Tag back;
    ASSERT_EQ(back.LoadFromStream(s), 0);
    EXPECT_EQ(back.Comment, std::string(c.commentStored, 'c'));
    EXPECT_EQ(back.Revision1, c.form11);
    EXPECT_EQ(back.Track, c.track);
  }
}

TEST(ID3v1Save, TextsEncodedIn1252AndCutToTheirFields)
{
  TID3v1Tag tag;
  tag.Title = "Björk - Jóga €";
  tag.Artist = "日本 " + std::string(40, 'a');
  tag.Year = "2001-05-12";
  TMemoryStream s;
  ASSERT_EQ(tag.SaveToStream(s, false), 0);
  const Bytes8 want = ID3v1Record("Bj\xF6rk - J\xF3ga \x80", "?? " + std::string(27, 'a'), "", "2001", "", 0, 255);
  EXPECT_EQ(s.Data(), want);
}

TEST(ID3v1Save, OverwritesAnOldRecordOrAppendsOne)
{
  TID3v1Tag tag;
  tag.Title = "New";
  const Bytes8 tagged = Bytes().Append(Audio()).Append(SimpleRecord()).v;
  TMemoryStream s(tagged);
  ASSERT_EQ(tag.SaveToStream(s, false), 0);
  EXPECT_EQ(s.Data().size(), tagged.size());
  EXPECT_TRUE(StartsWithBytes(s.Data(), Audio()));

  TMemoryStream plain(Audio().v);
  ASSERT_EQ(tag.SaveToStream(plain, false), 0);
  EXPECT_EQ(plain.Data().size(), Audio().size() + 128);
  EXPECT_TRUE(StartsWithBytes(plain.Data(), Audio()));
}

TEST(ID3v1Lyrics3, NonAsciiRoundTripAndStableSize)
{
  TID3v1Tag tag;
  tag.Title = "Jóga";
  tag.Album = "Ünïcödé Album of a length beyond thirty bytes";
  tag.SetLyrics("Ça va – très bien €\r\nZweite Zeile äöü");
  tag.SetLyricsFrame("EAL", "placeholder");
  tag.SetLyricsFrame("AUT", "Søren");
  tag.LyricsHasTimeStamp = true;

  // An old record and a larger old block in front of it are both replaced.
  const Bytes old = Bytes().Append(LyricsBlock(Field("IND", "100") + Field("LYR", std::string(500, 'o')))).Append(SimpleRecord());
  TMemoryStream s(Bytes().Append(Audio()).Append(old).v);
  ASSERT_EQ(tag.SaveToStream(s, true), 0);
  EXPECT_TRUE(StartsWithBytes(s.Data(), Audio()));
  // Single-byte values with lengths that count those bytes.
  EXPECT_TRUE(Contains(s.Data(), Field("LYR", "\xC7" "a va \x96 tr\xE8s bien \x80\r\nZweite Zeile \xE4\xF6\xFC")));
  EXPECT_TRUE(Contains(s.Data(), Field("AUT", "S\xF8ren")));
  EXPECT_TRUE(Contains(s.Data(), Field("IND", "110")));
  const Bytes8 first = s.Data();

  TID3v1Tag back;
  ASSERT_EQ(back.LoadFromStream(s), 0);
  EXPECT_EQ(back.Title, "Jóga");
  EXPECT_EQ(back.Album, tag.Album);  // the extended album holds the whole name
  EXPECT_EQ(back.GetLyrics(), tag.GetLyrics());
  EXPECT_EQ(back.FindLyricsFrame("AUT")->Data, "Søren");
  EXPECT_TRUE(back.LyricsHasTimeStamp);
  EXPECT_FALSE(back.InhibitTracksForRandomSelection);
  EXPECT_EQ(back.LyricsSize() + 128 + static_cast<std::int64_t>(Audio().size()), static_cast<std::int64_t>(first.size()));

  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(back.SaveToStream(s, true), 0);
    EXPECT_EQ(s.Data(), first);
    ASSERT_EQ(back.LoadFromStream(s), 0);
  }
}

TEST(ID3v1Lyrics3, ReplacesABlockThatEndsTheStream)
{
  TID3v1Tag tag;
  tag.SetLyrics("new");
  TMemoryStream s(Bytes().Append(Audio()).Append(LyricsBlock(Field("LYR", "an old and longer text"))).v);
  ASSERT_EQ(tag.LyricsTagSaveToStream(s), 0);
  EXPECT_EQ(s.Data(), Bytes().Append(Audio()).Append(LyricsBlock(Field("IND", "100") + Field("LYR", "new"))).v);

  // SaveToStream with Lyrics3 takes such a block as the old tail as well.
  ASSERT_EQ(tag.SaveToStream(s, true), 0);
  EXPECT_EQ(s.Data().size(), Audio().size() + LyricsBlock(Field("IND", "100") + Field("LYR", "new")).size() + 128);
}

TEST(ID3v1Lyrics3, OversizedValuesAreRefusedAndNothingChanges)
{
  const Bytes8 original = Bytes().Append(Audio()).Append(LyricsBlock(Field("LYR", "old"))).Append(SimpleRecord()).v;
  TID3v1Tag fits;
  // The length counts written bytes: 50,000 "é" are 100,000 UTF-8 bytes but 50,000 on disk.
  fits.SetLyrics(std::string(50000 * 2 - 1, 'a'));
  fits.SetLyricsFrame("INF", [] { std::string s; for (int i = 0; i < 50000; ++i) s += "é"; return s; }());
  TMemoryStream ok(original);
  ASSERT_EQ(fits.SaveToStream(ok, true), 0);
  TID3v1Tag back;
  ASSERT_EQ(back.LoadFromStream(ok), 0);
  EXPECT_EQ(back.GetLyrics().size(), 99999u);
  EXPECT_EQ(back.FindLyricsFrame("INF")->Data, fits.FindLyricsFrame("INF")->Data);

  TID3v1Tag longValue;
  longValue.SetLyrics(std::string(100000, 'a'));
  TID3v1Tag longBlock;
  for (const char *id : {"AAA", "BBB", "CCC", "DDD", "EEE", "FFF", "GGG", "HHH", "III", "JJJ"})
    longBlock.SetLyricsFrame(id, std::string(99990, 'b'));
  for (TID3v1Tag *tag : {&longValue, &longBlock}) {
    TMemoryStream s(original);
    EXPECT_EQ(tag->SaveToStream(s, true), id3v1WriteError);
    EXPECT_EQ(s.Data(), original);
    EXPECT_EQ(tag->LyricsTagSaveToStream(s), id3v1NoTag);
    EXPECT_EQ(s.Data(), original);

    TempDir dir;
    const std::string path = dir.Write("long.mp3", original);
    EXPECT_EQ(tag->SaveToFile(path, true), id3v1WriteError);
    EXPECT_EQ(ReadFileBytes(path), original);
  }
}

struct StripCase {
  const char *name;
  Bytes tail;            // after the audio
  int want;
  std::size_t keptTail;  // bytes of the tail left in place
};

class ID3v1Strip : public ::testing::TestWithParam<StripCase> {};

TEST_P(ID3v1Strip, RemovesRecordAndValidBlock)
{
  const StripCase &c = GetParam();
  const Bytes8 original = Bytes().Append(Audio()).Append(c.tail).v;
  TMemoryStream s(original);
  EXPECT_EQ(StripID3v1FromStream(s), c.want);
  EXPECT_EQ(s.Data(), Bytes8(original.begin(), original.begin() + static_cast<std::ptrdiff_t>(Audio().size() + c.keptTail)));

  TempDir dir;
  const std::string path = dir.Write("f.mp3", original);
  EXPECT_EQ(StripID3v1FromFile(path, false), c.want);
  EXPECT_EQ(ReadFileBytes(path), s.Data());
}

const Bytes kOldBlock = LyricsBlock(Field("IND", "100") + Field("LYR", "words"));

INSTANTIATE_TEST_SUITE_P(Table, ID3v1Strip, ::testing::Values(
  StripCase{"record_only", SimpleRecord(), 0, 0},
  StripCase{"block_and_record", Bytes().Append(kOldBlock).Append(SimpleRecord()), 0, 0},
  StripCase{"marker_without_valid_block",
            Bytes().Str("xxxxxxxxxxxxxxxxxxxxxxxx000020LYRICS200").Append(SimpleRecord()), 0, 39},
  StripCase{"no_record", Bytes().Append(kOldBlock), id3v1NoTag, kOldBlock.size()},
  StripCase{"apev2_footer_last", Bytes().Append(SimpleRecord()).Str("APETAGEX").Zeros(24), id3v1NoTag, 160}),
  [](const auto &p) { return std::string(p.param.name); });

TEST(ID3v1Strip, ShortStreamsAndFailedTruncation)
{
  TMemoryStream tiny(Bytes().Str("TAG").Zeros(100).v);
  EXPECT_EQ(StripID3v1FromStream(tiny), id3v1NoTag);
  EXPECT_EQ(tiny.Data().size(), 103u);

  const Bytes8 tagged = Bytes().Append(Audio()).Append(SimpleRecord()).v;
  TReadMemoryStream readOnly(tagged.data(), static_cast<std::int64_t>(tagged.size()));
  EXPECT_EQ(StripID3v1FromStream(readOnly), id3v1WriteError);

  TempDir dir;
  const std::string path = dir.Write("f.mp3", tagged);
  TWriteFaults::FailNth(1);
  EXPECT_EQ(StripID3v1FromFile(path, false), id3v1WriteError);
  TWriteFaults::Reset();
  EXPECT_EQ(ReadFileBytes(path), tagged);
  EXPECT_EQ(StripID3v1FromFile(dir.Path() + "/missing.mp3", false), id3v1NoTag);
}

TEST(ID3v1File, MissingFileIsNeverCreated)
{
  TempDir dir;
  const std::string path = dir.Path() + "/missing.mp3";
  TID3v1Tag tag;
  tag.Title = "x";
  EXPECT_EQ(tag.SaveToFile(path, false), id3v1FileNotFound);
  EXPECT_EQ(tag.SaveToFile(path, true), id3v1FileNotFound);
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(tag.LoadFromFile(path), id3v1FileNotFound);
}

TEST(ID3v1File, ReadOnlyFileIsLeftAlone)
{
  TempDir dir;
  const Bytes8 original = Bytes().Append(Audio()).Append(SimpleRecord()).v;
  const std::string path = dir.Write("ro.mp3", original);
  const struct timespec stamp {1000000000, 5};
  ASSERT_TRUE(SetFileModTime(path, stamp));
  namespace fs = std::filesystem;
  fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read, fs::perm_options::replace);

  TID3v1Tag tag;
  tag.Title = "changed";
  tag.SetLyrics("words");
  EXPECT_EQ(tag.SaveToFile(path, false), id3v1ReadOnly);
  EXPECT_EQ(tag.SaveToFile(path, true), id3v1ReadOnly);
  EXPECT_EQ(StripID3v1FromFile(path, false), id3v1ReadOnly);
  EXPECT_EQ(ReadFileBytes(path), original);
  EXPECT_EQ(tag.SourceFileName, "");
  struct timespec now {};
  ASSERT_TRUE(GetFileModTime(path, now));
  EXPECT_EQ(now.tv_sec, stamp.tv_sec);
  EXPECT_EQ(now.tv_nsec, stamp.tv_nsec);
}

TEST(ID3v1File, PreserveFileDateTimeToTheNanosecond)
{
  TempDir dir;
  const std::string path = dir.Write("t.mp3", Bytes().Append(Audio()).Append(SimpleRecord()));
  const struct timespec stamp {1234567890, 123456789};
  ASSERT_TRUE(SetFileModTime(path, stamp));

  TID3v1Tag tag;
  ASSERT_EQ(tag.LoadFromFile(path), 0);
  tag.Title = "Changed";
  tag.PreserveFileDateTime = true;
  ASSERT_EQ(tag.SaveToFile(path, true), 0);
  EXPECT_EQ(tag.SourceFileName, path);
  struct timespec now {};
  ASSERT_TRUE(GetFileModTime(path, now));
  EXPECT_EQ(now.tv_sec, stamp.tv_sec);
  EXPECT_EQ(now.tv_nsec, stamp.tv_nsec);

  ASSERT_EQ(StripID3v1FromFile(path, true), 0);
  ASSERT_TRUE(GetFileModTime(path, now));
  EXPECT_EQ(now.tv_nsec, stamp.tv_nsec);
  EXPECT_EQ(ReadFileBytes(path), Audio().v);
}

// Every write, truncation and sync of a save or removal is made to fail in turn: the result is
// 5 and the file is byte-identical, whatever the tail grows or shrinks to and whichever step
// failed; the run that no failure reaches succeeds.
TEST(ID3v1File, EveryFailedWriteLeavesTheFileByteIdentical)
{
  const Bytes8 audio = Audio(4000);
  const Bytes8 original =
    Bytes().Append(audio).Append(LyricsBlock(Field("IND", "100") + Field("LYR", std::string(600, 'o')))).Append(SimpleRecord()).v;
  struct Change {
    const char *name;
    std::function<int(TID3v1Tag &, const std::string &)> save;
    std::size_t wantSize;
  };
  const Change changes[] = {
    {"shorter_lyrics",
     [](TID3v1Tag &t, const std::string &p) { t.SetLyrics("short"); return t.SaveToFile(p, true); },
     audio.size() + LyricsBlock(Field("IND", "100") + Field("LYR", "short")).size() + 128},
    {"longer_lyrics",
     [](TID3v1Tag &t, const std::string &p) { t.SetLyrics(std::string(5000, 'l')); return t.SaveToFile(p, true); },
     audio.size() + LyricsBlock(Field("IND", "100") + Field("LYR", std::string(5000, 'l'))).size() + 128},
    {"record_only", [](TID3v1Tag &t, const std::string &p) { t.Title = "New"; return t.SaveToFile(p, false); },
     original.size()},
    {"strip", [](TID3v1Tag &, const std::string &p) { return StripID3v1FromFile(p, false); }, audio.size()},
  };
  TempDir dir;
  for (const Change &c : changes) {
    SCOPED_TRACE(c.name);
    std::string path;
    std::unique_ptr<TID3v1Tag> tag;
    int rc = 0;
    TWriteFailureSteps steps;
    steps.Prepare = [&] {
      path = dir.Write("f.mp3", original);
      tag = std::make_unique<TID3v1Tag>();
      ASSERT_EQ(tag->LoadFromFile(path), 0);
    };
    steps.Save = [&] { return (rc = c.save(*tag, path)) == 0; };
    steps.CheckIntact = [&](int) {
      EXPECT_EQ(rc, id3v1WriteError);
      EXPECT_EQ(ReadFileBytes(path), original);
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), std::filesystem::directory_iterator()), 1);
    };
    steps.Limit = 50;
    EXPECT_TRUE(RunFailingEachWriteInTurn(steps).Succeeded);
    const Bytes8 now = ReadFileBytes(path);
    EXPECT_TRUE(StartsWithBytes(now, audio));
    EXPECT_EQ(now.size(), c.wantSize);
  }
}

TEST(ID3v1Fixture, ID3v1OnlyMp3)
{
  TempDir dir;
  const std::string path = dir.CopyFixture("mp3/id3v1-only.mp3");
  const Bytes8 original = ReadFileBytes(path);
  TID3v1Tag tag;
  ASSERT_EQ(tag.LoadFromFile(path), 0);
  EXPECT_EQ(tag.Title, "Björk - Jóga");
  EXPECT_EQ(tag.Artist, "Test Artist");
  EXPECT_EQ(tag.Album, "Test Album");
  EXPECT_EQ(tag.Year, "2021");
  EXPECT_EQ(tag.Comment, "Generated test comment");
  EXPECT_EQ(tag.Track, 3);
  EXPECT_EQ(tag.Genre, "Rock");
  EXPECT_TRUE(tag.Revision1);
  EXPECT_EQ(tag.SourceFileName, path);

  // Saving what was loaded writes the same record back.
  ASSERT_EQ(tag.SaveToFile(path, false), 0);
  EXPECT_EQ(ReadFileBytes(path), original);

  const Bytes8 audio(original.begin(), original.end() - 128);
  tag.SetLyrics("Línea uno\r\nLínea dos");
  ASSERT_EQ(tag.SaveToFile(path, true), 0);
  const Bytes8 withLyrics = ReadFileBytes(path);
  EXPECT_TRUE(StartsWithBytes(withLyrics, audio));
  EXPECT_EQ(LastRecord(withLyrics), LastRecord(original));
  TID3v1Tag again;
  ASSERT_EQ(again.LoadFromFile(path), 0);
  EXPECT_EQ(again.GetLyrics(), "Línea uno\r\nLínea dos");
  ASSERT_EQ(again.SaveToFile(path, true), 0);
  EXPECT_EQ(ReadFileBytes(path), withLyrics);

  ASSERT_EQ(StripID3v1FromFile(path, false), 0);
  EXPECT_EQ(ReadFileBytes(path), audio);
}

// Here the ID3v1 record stands in front of an APEv2 tag, so it is not the file's last
// 128 bytes: it is neither loaded nor stripped, and a save appends a record at the end.
TEST(ID3v1Fixture, Apev2AfterID3v1Mp3)
{
  TempDir dir;
  const std::string path = dir.CopyFixture("mp3/apev2-id3v1.mp3");
  const Bytes8 original = ReadFileBytes(path);
  TID3v1Tag tag;
  EXPECT_EQ(tag.LoadFromFile(path), id3v1NoTag);
  EXPECT_FALSE(tag.Loaded);
  EXPECT_EQ(StripID3v1FromFile(path, false), id3v1NoTag);
  EXPECT_EQ(ReadFileBytes(path), original);

  tag.Title = "Appended";
  ASSERT_EQ(tag.SaveToFile(path, false), 0);
  const Bytes8 saved = ReadFileBytes(path);
  EXPECT_EQ(saved.size(), original.size() + 128);
  EXPECT_TRUE(StartsWithBytes(saved, original));
  ASSERT_EQ(tag.LoadFromFile(path), 0);
  EXPECT_EQ(tag.Title, "Appended");
}

TEST(ID3v1Object, LyricsFieldsAndAssign)
{
  TID3v1Tag tag;
  tag.SetLyrics("");
  EXPECT_TRUE(tag.LyricsFrames.empty());
  tag.SetLyrics("one");
  tag.AddLyricsFrame("LYR")->Data = "two";
  EXPECT_EQ(tag.GetLyrics(), "two");  // the last "LYR" field is the lyrics read
  tag.SetLyrics("");                  // the first one goes
  ASSERT_EQ(tag.LyricsFrames.size(), 1u);
  EXPECT_EQ(tag.LyricsFrames[0]->Data, "two");
  EXPECT_FALSE(tag.DeleteLyricsFrame(1));
  EXPECT_FALSE(tag.DeleteLyricsFrame("EAL"));
  EXPECT_TRUE(tag.DeleteLyricsFrame("LYR"));

  TID3v1Tag source;
  ASSERT_EQ(LoadBytes(source, Bytes().Append(Audio()).Append(kOldBlock).Append(SimpleRecord())), 0);
  TID3v1Tag copy;
  copy.TrimText = false;
  EXPECT_TRUE(copy.Assign(source));
  EXPECT_EQ(copy.Title, "Title");
  EXPECT_EQ(copy.Track, 7);
  EXPECT_EQ(copy.TrackString, "");  // not copied
  EXPECT_FALSE(copy.TrimText);      // options are the copy's own
  ASSERT_EQ(copy.LyricsFrames.size(), 2u);
  EXPECT_EQ(copy.LyricsFrames[1]->Parent, &copy);
  EXPECT_EQ(copy.GetLyrics(), "words");
  EXPECT_TRUE(copy.Assign(copy));
  EXPECT_EQ(copy.GetLyrics(), "words");
}
