#include <gtest/gtest.h>

#include "tags/tag_container.h"
#include "tests/support/test_support.h"

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

} // namespace
