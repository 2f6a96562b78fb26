#include <gtest/gtest.h>

#include <zlib.h>

#include "tags/id3/id3v2_unsync.h"
#include "tags/tag_container.h"
#include "tests/support/test_support.h"
#include "tests/tags/id3/id3v2_test_bytes.h"

namespace {

// Saves Entries into a fresh copy of the untagged MP3 and loads it again.
struct SavedFile {
  TempDir dir;
  std::string path;
  TTags loaded;
};

void SaveAndReload(SavedFile &f, const std::vector<std::pair<std::string, std::string>> &entries, int version = 3)
{
  f.path = f.dir.CopyFixture("mp3/notags.mp3");
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(f.path), tagsOk);
  tags.ID3v2Tag.WriteVersion = version == 4 ? sfid3v24 : sfid3v23;
  for (const auto &[name, value] : entries) tags.Add(name)->Value = value;
  ASSERT_EQ(tags.SaveToFile(f.path, ttAutomatic), tagsOk);
  ASSERT_EQ(f.loaded.LoadFromFile(f.path), tagsOk);
  ASSERT_TRUE(f.loaded.ID3v2Tag.Loaded);
}

TEST(ID3v2Names, Tables)
{
  EXPECT_EQ(ID3v2FrameIDToTagName("TPE1"), "ARTIST");
  EXPECT_EQ(ID3v2FrameIDToTagName("tpe1"), "");
  EXPECT_EQ(TagNameToID3v2FrameID("date"), "TYER");
  EXPECT_EQ(TagNameToID3v2FrameID("Track"), "TRCK");
  EXPECT_EQ(TagNameToID3v2FrameID("REPLAYGAIN_TRACK_GAIN"), "");
  struct Case { const char *text, *year; };
  for (const Case &c : {Case{"Released 1999-05-01", "1999"}, Case{"99", ""}, Case{"12a3456", "3456"},
                        Case{"\xD9\xA2\xD9\xA0\xD9\xA1\xD9\xA9", "2019"}})  // Arabic-Indic digits
    EXPECT_EQ(ExtractYear(c.text), c.year) << c.text;
}

TEST(ID3v2Names, TrackAndDiscTotalsSplitAndJoin)
{
  SavedFile f;
  SaveAndReload(f, {{"TRACKNUMBER", "3"}, {"TOTALTRACKS", "12"}, {"DISC", "1"}, {"DISCTOTAL", "2"}});
  EXPECT_EQ(f.loaded.ID3v2Tag.GetText("TRCK"), "3/12");
  EXPECT_EQ(f.loaded.ID3v2Tag.GetText("TPOS"), "1/2");
  EXPECT_EQ(f.loaded.GetText("TRACKNUMBER"), "3");
  EXPECT_EQ(f.loaded.GetText("TOTALTRACKS"), "12");
  EXPECT_EQ(f.loaded.GetText("DISCNUMBER"), "1");
  EXPECT_EQ(f.loaded.GetText("TOTALDISCS"), "2");

  // A value that already holds its total is written as it stands.
  SavedFile g;
  SaveAndReload(g, {{"TRACKNUMBER", "4/12"}, {"TOTALTRACKS", "12"}});
  EXPECT_EQ(g.loaded.ID3v2Tag.GetText("TRCK"), "4/12");
}

TEST(ID3v2Names, YearFollowsTheVersionWritten)
{
  SavedFile v3;
  SaveAndReload(v3, {{"YEAR", "Released 1999-05-01"}}, 3);
  EXPECT_EQ(v3.loaded.ID3v2Tag.MajorVersion, 3);
  EXPECT_EQ(v3.loaded.ID3v2Tag.GetText("TYER"), "1999");
  EXPECT_EQ(v3.loaded.ID3v2Tag.FrameExists("TDRC"), -1);
  EXPECT_EQ(v3.loaded.GetText("YEAR"), "1999");

  SavedFile v4;
  SaveAndReload(v4, {{"YEAR", "2004"}}, 4);
  EXPECT_EQ(v4.loaded.ID3v2Tag.MajorVersion, 4);
  EXPECT_EQ(v4.loaded.ID3v2Tag.GetText("TDRC"), "2004");
  EXPECT_EQ(v4.loaded.ID3v2Tag.FrameExists("TYER"), -1);
  EXPECT_EQ(v4.loaded.GetText("RECORDINGDATE"), "2004");

  // A year text without four digits writes no empty frame.
  SavedFile none;
  SaveAndReload(none, {{"TITLE", "t"}, {"YEAR", "99"}}, 3);
  EXPECT_EQ(none.loaded.ID3v2Tag.FrameExists("TYER"), -1);
}

TEST(ID3v2Names, UserFramesCountersAndURLs)
{
  SavedFile f;
  SaveAndReload(f, {{"REPLAYGAIN_TRACK_GAIN", "-6.5 dB"}, {"PLAYCOUNT", "42"}, {"URL", "https://example.com/x"},
                    {"ARTISTURL", "https://example.com/artist"}, {"MOOD", "calm"}});
  EXPECT_EQ(f.loaded.GetText("REPLAYGAIN_TRACK_GAIN"), "-6.5 dB");
  EXPECT_EQ(f.loaded.Tag("REPLAYGAIN_TRACK_GAIN")->ExtTagType, ettTXXX);
  EXPECT_EQ(f.loaded.GetText("PLAYCOUNT"), "42");
  EXPECT_EQ(f.loaded.GetText("URL"), "https://example.com/x");
  EXPECT_EQ(f.loaded.Tag("URL")->ExtTagType, ettWXXX);
  EXPECT_EQ(f.loaded.ID3v2Tag.FrameExists("TXXX") >= 0, true);
  EXPECT_EQ(f.loaded.GetText("ARTISTURL"), "https://example.com/artist");

  // A web address alone goes to the artist URL frame, where other programs look for it.
  SavedFile g;
  SaveAndReload(g, {{"URL", "https://example.com/only"}});
  EXPECT_EQ(g.loaded.ID3v2Tag.GetURL(g.loaded.ID3v2Tag.FrameExists("WOAR")), "https://example.com/only");
  EXPECT_EQ(g.loaded.ID3v2Tag.FrameExists("WXXX"), -1);
  // MOOD has a frame in 2.4 only; a 2.3 tag keeps it out rather than inventing a form.
  EXPECT_EQ(f.loaded.ID3v2Tag.FrameExists("TMOO"), -1);
}

TEST(ID3v2Names, CommentsMatchDescriptionAndLanguage)
{
  TempDir dir;
  const std::string path = dir.CopyFixture("mp3/notags.mp3");
  {
    TTags tags;
    ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
    tags.SetText("COMMENT", "plain");
    ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
    // A player's private comment beside the user's.
    ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
    tags.ID3v2Tag.SetCommentByDescription(" 00000A2B 00000B3C", teUnicode, "iTunNORM", "eng");
    ASSERT_EQ(tags.ID3v2Tag.SaveToFile(path), id3v2Ok);
  }
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  EXPECT_EQ(tags.GetText("COMMENT"), "plain");
  EXPECT_EQ(tags.Tag("COMMENT")->Language, "eng");
  EXPECT_EQ(tags.TypeCount("COMMENT"), 1);
  EXPECT_EQ(tags.SetText("COMMENT", ""), -1);
  ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);

  TTags back;
  ASSERT_EQ(back.LoadFromFile(path), tagsOk);
  EXPECT_EQ(back.GetText("COMMENT"), "");  // cleared stays cleared
  EXPECT_GE(back.ID3v2Tag.FindCommentByDescription("iTunNORM"), 0);
}

TEST(ID3v2Names, GenreRatingAndListFrames)
{
  TempDir dir;
  const std::string path = dir.CopyFixture("mp3/notags.mp3");
  {
    TTags tags;
    ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
    tags.ID3v2Tag.WriteVersion = sfid3v24;
    tags.ID3v2Tag.SetText("TCON", "(17)", teUnicode);
    tags.ID3v2Tag.SetPopularimeterByEmail("someone@example.com", 196, 3);
    ASSERT_EQ(tags.ID3v2Tag.SaveToFile(path), id3v2Ok);
  }
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  EXPECT_EQ(tags.GetText("GENRE"), "Rock");
  EXPECT_EQ(tags.GetText("RATING"), "196");
  tags.Add("TIPL")->SetAsList({"producer=Ann", "mixer=Bob"});
  ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
  TTags back;
  ASSERT_EQ(back.LoadFromFile(path), tagsOk);
  EXPECT_EQ(back.GetText("GENRE"), "Rock");
  EXPECT_GE(back.ID3v2Tag.FrameExists("POPM"), 0);  // the rating frame stays as it was
  TStringList people;
  back.GetList("TIPL", people);
  EXPECT_EQ(people, (TStringList{"producer=Ann", "mixer=Bob"}));
}

TEST(ID3v2Names, PicturesLoadAndSave)
{
  TempDir dir;
  const std::string path = dir.CopyFixture("mp3/notags.mp3");
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  TCoverArt *c = tags.AddCoverArtFromFile("Cover art 1", FixturePath("images/cover.jpg"));
  ASSERT_NE(c, nullptr);
  c->CoverType = 3;
  const TBytes bytes = c->Stream.Data();
  tags.SetText("TITLE", "with picture");
  ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);

  TTags back;
  ASSERT_EQ(back.LoadFromFile(path), tagsOk);
  ASSERT_EQ(back.CoverArtCount(), 1);
  EXPECT_EQ(back.CoverArts[0]->Name, "Cover art 1");
  EXPECT_EQ(back.CoverArts[0]->MIMEType, "image/jpeg");
  EXPECT_EQ(back.CoverArts[0]->PictureFormat, tpfJPEG);
  EXPECT_EQ(back.CoverArts[0]->CoverType, 3);
  EXPECT_EQ(back.CoverArts[0]->Stream.Data(), bytes);
}

TEST(ID3v2Names, ID3v2WinsOverID3v1AndDeletesReachBoth)
{
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(FixturePath("mp3/id3v24-id3v1-kid3.mp3")), tagsOk);
  EXPECT_EQ(tags.GetText("TITLE"), "Björk – Jóga ♫ 日本");
  EXPECT_EQ(tags.TypeCount("TITLE"), 1);
  EXPECT_FALSE(tags.ID3v1Tag.Comment.empty());
  tags.SetText("COMMENT", "");
  EXPECT_TRUE(tags.ID3v1Tag.Comment.empty());
  EXPECT_EQ(tags.ID3v2Tag.FindCommentByDescription(""), -1);
}

TEST(ID3v2Names, ContentTypeSaveDropsStaleFrames)
{
  TempDir dir;
  const std::string path = dir.CopyFixture("mp3/notags.mp3");
  TTags tags;
  tags.ID3v2Tag.SetText("TLEN", "99999", teUnicode);
  tags.SetText("TITLE", "fresh");
  // Saved to a file it did not load: the content decides, and the length frame of some other
  // audio is not carried over.
  ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
  TTags back;
  ASSERT_EQ(back.LoadFromFile(path), tagsOk);
  EXPECT_EQ(back.GetText("TITLE"), "fresh");
  EXPECT_EQ(back.ID3v2Tag.FrameExists("TLEN"), -1);
}

TEST(ID3v2Names, ListValuesKeepAnEqualsSignInTheName)
{
  SavedFile f;
  TTags items;
  TTag &people = *items.Add("TIPL");
  people.SetAsList({"mix=A=B", "producer=Ann"});
  SaveAndReload(f, {{"TIPL", people.Value}}, 4);
  std::vector<std::string> frame;
  ASSERT_TRUE(f.loaded.ID3v2Tag.GetListFrame(f.loaded.ID3v2Tag.FrameExists("TIPL"), frame));
  EXPECT_EQ(frame, (std::vector<std::string>{"mix=A=B", "producer=Ann"}));
  TStringList loaded;
  f.loaded.GetList("TIPL", loaded);
  EXPECT_EQ(loaded, (TStringList{"mix=A=B", "producer=Ann"}));
}

TEST(ID3v2Names, AnUneditedTextFrameWithALoneCRStaysAsItIs)
{
  TempDir dir;
  const std::string path = dir.CopyFixture("mp3/notags.mp3");
  {
    TID3v2Tag tag;
    tag.LoadFromFile(path);
    tag.SetText("TIT2", "one\rtwo", teUTF8);
    ASSERT_EQ(tag.SaveToFile(path), 0);
  }
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  EXPECT_EQ(tags.GetText("TITLE"), "one\r\ntwo");
  const TBytes before = tags.ID3v2Tag.Frame(tags.ID3v2Tag.FrameExists("TIT2"))->Data();
  tags.PrepareID3v2Tag();
  EXPECT_EQ(tags.ID3v2Tag.Frame(tags.ID3v2Tag.FrameExists("TIT2"))->Data(), before);
}

// --- a save writes only what changed -------------------------------------------------------

// Every frame of the ID3v2 tag at the start of File as stored: its ID and its bytes, header
// included. The tags read here have no extended header and no tag-wide unsynchronisation.
std::vector<std::pair<std::string, Bytes8>> StoredFrames(const Bytes8 &File)
{
  std::vector<std::pair<std::string, Bytes8>> frames;
  if (File.size() < 10 || File[0] != 'I' || File[1] != 'D' || File[2] != '3') return frames;
  const int version = File[3];
  const std::size_t end = 10 + ((std::size_t{File[6]} << 21) | (std::size_t{File[7]} << 14) |
                                (std::size_t{File[8]} << 7) | File[9]);
  std::size_t pos = 10;
  while (pos + 10 <= end && File[pos] != 0) {
    std::size_t size = 0;
    for (int i = 0; i < 4; ++i) size = (size << (version == 4 ? 7 : 8)) | File[pos + 4 + static_cast<std::size_t>(i)];
    const auto from = File.begin() + static_cast<std::ptrdiff_t>(pos);
    frames.emplace_back(std::string(from, from + 4), Bytes8(from, from + static_cast<std::ptrdiff_t>(10 + size)));
    pos += 10 + size;
  }
  return frames;
}

// The stored frames without those of one ID.
std::vector<std::pair<std::string, Bytes8>> FramesBut(const Bytes8 &File, const std::string &ID)
{
  auto frames = StoredFrames(File);
  std::erase_if(frames, [&](const auto &f) { return f.first == ID; });
  return frames;
}

Bytes Utf16Text(std::string_view Ascii)
{
  Bytes b = Bytes().U8(1).U8(0xFF).U8(0xFE);
  for (const char c : Ascii) b.U8(static_cast<std::uint8_t>(c)).U8(0);
  return b;
}

Bytes Deflated(const Bytes &Plain)
{
  uLongf size = compressBound(static_cast<uLong>(Plain.size()));
  Bytes8 out(size);
  compress2(out.data(), &size, Plain.v.data(), static_cast<uLong>(Plain.size()), 9);
  out.resize(size);
  return Bytes().Append(out);
}

// Tags of the kinds other programs write, each saved with a new title: every other frame
// must come back byte for byte.
struct UntouchedCase {
  const char *name;
  std::uint8_t major;
  Bytes frames;
};

std::vector<UntouchedCase> UntouchedCases()
{
  const Bytes title3 = Frame3("TIT2", Latin1Text("Old title"));
  const Bytes title4 = Frame4("TIT2", Latin1Text("Old title"));
  const Bytes artist = Latin1Text("Artist with a longer name \xFF\xE0 and bytes that look like sync");
  return {
    // Sort names, both date forms and a mood, as some programs write them into a 2.3 tag.
    {"v23_sort_names_dates_and_mood",
     3, Bytes().Append(title3).Append(Frame3("TSOP", Latin1Text("Artist, The")))
                 .Append(Frame3("TSOA", Latin1Text("Album sort"))).Append(Frame3("TSOT", Latin1Text("Title sort")))
                 .Append(Frame3("TYER", Latin1Text("2001"))).Append(Frame3("TDAT", Latin1Text("1205")))
                 .Append(Frame3("TDRC", Latin1Text("2001-05-12"))).Append(Frame3("TORY", Latin1Text("1999")))
                 .Append(Frame3("TDOR", Latin1Text("1999-03-04"))).Append(Frame3("TMOO", Latin1Text("calm")))
                 .Append(Frame3("TIPL", Latin1Text("producer").U8(0).Str("Ann").U8(0)))},
    // A 2.3-only year frame in a 2.4 tag, and 2.3 sort frames there.
    {"v24_with_v23_frames",
     4, Bytes().Append(title4).Append(Frame4("TYER", Latin1Text("1987")))
                 .Append(Frame4("XSOP", Latin1Text("Sorted"))).Append(Frame4("IPLS", Latin1Text("mix").U8(0).Str("Bob")))},
    // Two artist frames in two encodings, as some taggers write them.
    {"two_artist_frames",
     4, Bytes().Append(title4).Append(Frame4("TPE1", Bytes().U8(3).Str("First").U8(0)))
                 .Append(Frame4("TPE1", Latin1Text("Second")))},
    // A rating with a counter of eight bytes, beside a play counter.
    {"rating_and_counter",
     3, Bytes().Append(title3)
                 .Append(Frame3("POPM", Bytes().Str("rater@example.com").U8(0).U8(196).U64BE(7)))
                 .Append(Frame3("PCNT", Bytes().U32BE(12)))},
    // Texts without terminator, frame flags, a comment in UTF-16 and a private frame.
    {"flags_comment_and_private",
     3, Bytes().Append(title3).Append(Frame3("TALB", Utf16Text("Album"), 0xC000))
                 .Append(Frame3("COMM", Bytes().U8(0).Str("deu").Str("desc").U8(0).Str("Kommentar")))
                 .Append(Frame3("TXXX", Utf16Text("REPLAYGAIN_TRACK_GAIN").U8(0).U8(0).Append(Utf16Text("-6.5 dB").v)))
                 .Append(Frame3("PRIV", Bytes().Str("owner").U8(0).U8(1).U8(2).U8(3)))},
    // A compressed 2.3 frame and a 2.4 frame unsynchronised by its own flag.
    {"compressed_and_unsynchronised",
     3, Bytes().Append(title3)
                 .Append(Frame3("TPE1", Bytes().U32BE(static_cast<std::uint32_t>(artist.size())).Append(Deflated(artist)), 0x0080))},
    {"v24_unsynchronised_frame",
     4, Bytes().Append(title4)
                 .Append(Frame4("TPE1", Bytes().Append(ApplyID3v2Unsynchronisation(artist.v)), 0x0002))},
    // A chapter with a title of its own.
    {"chapter",
     4, Bytes().Append(title4)
                 .Append(Frame4("CHAP", Bytes().Str("ch1").U8(0).U32BE(0).U32BE(1000).U32BE(0xFFFFFFFF).U32BE(0xFFFFFFFF)
                                          .Append(Frame4("TIT2", Latin1Text("Chapter one")))))},
  };
}

class UntouchedFrames : public ::testing::TestWithParam<UntouchedCase> {};

TEST_P(UntouchedFrames, ATitleSaveLeavesEveryOtherFrameByteForByte)
{
  TempDir dir;
  const Bytes audio = MpegFrames(4);
  const UntouchedCase &c = GetParam();
  const std::string path = dir.Write("a.mp3", Tag(c.major, 0, Bytes().Append(c.frames).Zeros(64)).Append(audio));
  const Bytes8 before = ReadFileBytes(path);

  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  ASSERT_GE(tags.SetText("TITLE", "New title"), 0);
  ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);

  const Bytes8 after = ReadFileBytes(path);
  EXPECT_EQ(after[3], before[3]) << "version";
  EXPECT_EQ(FramesBut(after, "TIT2"), FramesBut(before, "TIT2"));
  TTags back;
  ASSERT_EQ(back.LoadFromFile(path), tagsOk);
  EXPECT_EQ(back.GetText("TITLE"), "New title");
  EXPECT_EQ(Slice(after, after.size() - audio.size(), after.size()).v, audio.v);
}

INSTANTIATE_TEST_SUITE_P(Tags, UntouchedFrames, ::testing::ValuesIn(UntouchedCases()),
                         [](const auto &Info) { return std::string(Info.param.name); });

std::string WriteTagged(const TempDir &Dir, const Bytes &Body, std::uint8_t Major = 3, const Bytes &End = Bytes())
{
  return Dir.Write("t.mp3", Tag(Major, 0, Bytes().Append(Body).Zeros(32)).Append(MpegFrames(3)).Append(End));
}

TEST(ID3v2Names, AChangedRatingSetsTheRatingByteOfItsFrame)
{
  TempDir dir;
  const Bytes popm = Bytes().Str("rater@example.com").U8(0).U8(196).U64BE(7);
  const std::string path = WriteTagged(dir, Frame3("TIT2", Latin1Text("t")).Append(Frame3("POPM", popm)));
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  EXPECT_EQ(tags.GetText("RATING"), "196");
  tags.SetText("RATING", "64");
  ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);

  const auto frames = StoredFrames(ReadFileBytes(path));
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[1].second, Frame3("POPM", Bytes().Str("rater@example.com").U8(0).U8(64).U64BE(7)).v);
  TTags back;
  ASSERT_EQ(back.LoadFromFile(path), tagsOk);
  EXPECT_EQ(back.GetText("RATING"), "64");
  EXPECT_EQ(back.TypeCount("RATING"), 1);

  // Deleting the rating deletes its frame.
  back.SetText("RATING", "");
  ASSERT_EQ(back.SaveToFile(path, ttAutomatic), tagsOk);
  TTags gone;
  ASSERT_EQ(gone.LoadFromFile(path), tagsOk);
  EXPECT_EQ(gone.ID3v2Tag.FrameExists("POPM"), -1);
  EXPECT_EQ(gone.GetText("RATING"), "");
}

TEST(ID3v2Names, ARatingWithoutARatingFrameIsAUserText)
{
  TempDir dir;
  const std::string path = WriteTagged(dir, Frame3("TIT2", Latin1Text("t")));
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  tags.SetText("RATING", "5 stars");
  ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
  TTags back;
  ASSERT_EQ(back.LoadFromFile(path), tagsOk);
  EXPECT_EQ(back.GetText("RATING"), "5 stars");
  EXPECT_EQ(back.Tag("RATING")->ExtTagType, ettTXXX);
}

TEST(ID3v2Names, OneOfTwoArtistFramesChangesAlone)
{
  TempDir dir;
  const Bytes first = Frame4("TPE1", Bytes().U8(3).Str("First").U8(0));
  const std::string path =
    WriteTagged(dir, Frame4("TIT2", Latin1Text("t")).Append(first).Append(Frame4("TPE1", Latin1Text("Second"))), 4);
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  ASSERT_EQ(tags.TypeCount("ARTIST"), 2);
  // The second entry goes, and with it the frame it was loaded from, not the first one.
  ASSERT_TRUE(tags.Delete(tags.Count() - 1));
  ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
  const auto frames = StoredFrames(ReadFileBytes(path));
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[1].second, first.v);
}

TEST(ID3v2Names, ATotalSetOrDeletedAloneRewritesItsNumber)
{
  TempDir dir;
  const std::string path = WriteTagged(dir, Frame3("TIT2", Latin1Text("t")).Append(Frame3("TRCK", Latin1Text("03/12"))));
  {
    TTags tags;
    ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
    tags.SetText("TOTALTRACKS", "13");
    ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
  }
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  EXPECT_EQ(tags.ID3v2Tag.GetText("TRCK"), "03/13");
  EXPECT_EQ(tags.ID3v2Tag.FrameExists("TXXX"), -1);
  tags.SetText("TOTALTRACKS", "");
  ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
  TTags back;
  ASSERT_EQ(back.LoadFromFile(path), tagsOk);
  EXPECT_EQ(back.ID3v2Tag.GetText("TRCK"), "03");
  EXPECT_EQ(back.GetText("TOTALTRACKS"), "");
}

TEST(ID3v2Names, UnchangedValuesOfOneTagStayOutOfTheOther)
{
  // The ID3v2 tag has a title and a comment; the ID3v1 record a title, an album and no comment.
  TempDir dir;
  const std::string path =
    WriteTagged(dir, Frame3("TIT2", Latin1Text("Old")).Append(Frame3("COMM", Bytes().U8(0).Str("eng").U8(0).Str("v2 comment"))),
                3, ID3v1Record("Old", "", "v1 album", "1998", "", 0, 255));
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  tags.SetText("TITLE", "New");
  ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);

  TTags back;
  ASSERT_EQ(back.LoadFromFile(path), tagsOk);
  // The changed title went into both tags ...
  EXPECT_EQ(back.ID3v2Tag.GetText("TIT2"), "New");
  EXPECT_EQ(back.ID3v1Tag.Title, "New");
  // ... the ID3v2 comment stayed out of the ID3v1 record, and its album out of the ID3v2 tag.
  EXPECT_EQ(back.ID3v1Tag.Comment, "");
  EXPECT_EQ(back.ID3v1Tag.Album, "v1 album");
  EXPECT_EQ(back.ID3v1Tag.Year, "1998");
  EXPECT_EQ(back.ID3v2Tag.FrameExists("TALB"), -1);
  EXPECT_EQ(back.ID3v2Tag.FrameTypeCount("COMM"), 1);

  // A field set by the caller goes to both.
  back.SetText("ALBUM", "Both");
  ASSERT_EQ(back.SaveToFile(path, ttAutomatic), tagsOk);
  TTags again;
  ASSERT_EQ(again.LoadFromFile(path), tagsOk);
  EXPECT_EQ(again.ID3v2Tag.GetText("TALB"), "Both");
  EXPECT_EQ(again.ID3v1Tag.Album, "Both");
}

TEST(ID3v2Names, ANewID3v2TagGetsTheValuesOfTheID3v1Record)
{
  TempDir dir;
  const std::string path =
    dir.Write("v1.mp3", MpegFrames(3).Append(ID3v1Record("Old", "Artist", "Album", "1998", "c", 4, 17)));
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  tags.SetText("TITLE", "New");
  ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
  TTags back;
  ASSERT_EQ(back.LoadFromFile(path), tagsOk);
  ASSERT_TRUE(back.ID3v2Tag.Loaded);
  EXPECT_EQ(back.ID3v2Tag.GetText("TIT2"), "New");
  EXPECT_EQ(back.ID3v2Tag.GetText("TPE1"), "Artist");
  EXPECT_EQ(back.ID3v2Tag.GetText("TALB"), "Album");
  EXPECT_EQ(back.ID3v1Tag.Title, "New");
}

TEST(ID3v2Names, AForcedVersionStillConvertsUntouchedFrames)
{
  TempDir dir;
  const std::string path = WriteTagged(
    dir, Frame3("TIT2", Latin1Text("t")).Append(Frame3("TYER", Latin1Text("2001"))).Append(Frame3("TDAT", Latin1Text("1205"))));
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  tags.ID3v2Tag.WriteVersion = sfid3v24;
  tags.SetText("TITLE", "u");
  ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
  TTags back;
  ASSERT_EQ(back.LoadFromFile(path), tagsOk);
  EXPECT_EQ(back.ID3v2Tag.MajorVersion, 4);
  EXPECT_EQ(back.ID3v2Tag.GetText("TDRC"), "2001-05-12");
  EXPECT_EQ(back.ID3v2Tag.FrameExists("TYER"), -1);
  EXPECT_EQ(back.ID3v2Tag.FrameExists("TDAT"), -1);
}

TEST(ID3v2Names, AChangedPictureLeavesTheOtherPictureFramesAlone)
{
  const auto apic = [](std::uint8_t Type, std::string_view Description, std::uint8_t Fill) {
    return Frame3("APIC", Bytes().U8(0).Str("image/jpeg").U8(0).U8(Type).Str(Description).U8(0)
                            .U8(0xFF).U8(0xD8).U8(0xFF).U8(0xE0).Fill(40, Fill));
  };
  TempDir dir;
  const Bytes back = apic(4, "back", 2);
  const std::string path =
    WriteTagged(dir, Frame3("TIT2", Latin1Text("t")).Append(apic(3, "front", 1)).Append(back).Append(Frame3("TALB", Latin1Text("a"))));
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  ASSERT_EQ(tags.CoverArtCount(), 2);
  // A new image in the first picture's place, as the record's cover is replaced.
  tags.CoverArts[0]->Stream.Data() = Bytes().U8(0xFF).U8(0xD8).U8(0xFF).U8(0xE1).Fill(10, 9).v;
  ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
  auto frames = StoredFrames(ReadFileBytes(path));
  ASSERT_EQ(frames.size(), 4u);
  EXPECT_EQ(frames[1].first, "APIC");
  EXPECT_EQ(frames[2].second, back.v);
  TTags reloaded;
  ASSERT_EQ(reloaded.LoadFromFile(path), tagsOk);
  ASSERT_EQ(reloaded.CoverArtCount(), 2);
  EXPECT_EQ(reloaded.CoverArts[0]->Stream.Data(), Bytes().U8(0xFF).U8(0xD8).U8(0xFF).U8(0xE1).Fill(10, 9).v);
  EXPECT_EQ(reloaded.CoverArts[0]->Description, "front");

  // Without its first picture the file keeps the second one as it was.
  ASSERT_TRUE(reloaded.DeleteCoverArt(0));
  reloaded.CoverArts[0]->Stream.SetPosition(0);
  ASSERT_EQ(reloaded.SaveToFile(path, ttAutomatic), tagsOk);
  frames = StoredFrames(ReadFileBytes(path));
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[1].first, "APIC");
  TTags last;
  ASSERT_EQ(last.LoadFromFile(path), tagsOk);
  ASSERT_EQ(last.CoverArtCount(), 1);
  EXPECT_EQ(last.CoverArts[0]->Description, "back");
}

TEST(ID3v2Names, ANewYearTakesTheYearFrameOfTheOtherVersionAlong)
{
  struct Case {
    std::uint8_t major;
    Bytes frames;
    const char *kept, *gone;
  };
  const auto frame = [](std::uint8_t Major, const char *ID, const char *Text) {
    return Major == 3 ? Frame3(ID, Latin1Text(Text)) : Frame4(ID, Latin1Text(Text));
  };
  const Case cases[] = {
    {3, frame(3, "TYER", "2001").Append(frame(3, "TDAT", "1205")).Append(frame(3, "TDRC", "2001-05-12")), "TYER", "TDRC"},
    {4, frame(4, "TYER", "2001").Append(frame(4, "TDAT", "1205")).Append(frame(4, "TDRC", "2001-05-12")), "TDRC", "TYER"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(static_cast<int>(c.major));
    TempDir dir;
    const std::string path = WriteTagged(dir, Bytes().Append(frame(c.major, "TIT2", "t")).Append(c.frames), c.major);
    {
      // The same year leaves every date frame as it is.
      TTags tags;
      ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
      tags.SetText("YEAR", "2001");
      tags.SetText("TITLE", "u");
      ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
      TTags back;
      ASSERT_EQ(back.LoadFromFile(path), tagsOk);
      EXPECT_EQ(back.ID3v2Tag.GetText("TDRC"), "2001-05-12");
      EXPECT_EQ(back.ID3v2Tag.GetText("TYER"), "2001");
    }
    TTags tags;
    ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
    tags.SetText("YEAR", "2005");
    ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
    TTags back;
    ASSERT_EQ(back.LoadFromFile(path), tagsOk);
    EXPECT_EQ(back.ID3v2Tag.GetText(c.kept), "2005");
    EXPECT_EQ(back.ID3v2Tag.FrameExists(c.gone), -1);
    EXPECT_EQ(back.ID3v2Tag.FrameExists("TDAT"), -1);
  }
}

} // namespace
