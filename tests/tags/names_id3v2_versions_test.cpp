// What a value becomes when it is written into an ID3v2.3 tag, as against 2.4: sort frames,
// dates, several values in one text frame; and frames whose content cannot be read at all.

#include <gtest/gtest.h>

#include <algorithm>

#include "tags/id3/id3v2_dates.h"
#include "tags/tag_container.h"
#include "tests/support/container_bytes.h"
#include "tests/support/test_support.h"
#include "tests/tags/id3/id3v2_test_bytes.h"

namespace {

// A small MP3 file holding Tag in front of a few frames of audio.
std::string WriteMP3(const TempDir &Dir, const Bytes &Tag, const std::string &Name = "t.mp3")
{
  return Dir.Write(Name, Bytes().Append(Tag).Append(MpegFrames(8)));
}

// Sets Entries (an empty value removes the entry) in the file's tags and saves them in Version.
void SaveEntries(const std::string &Path, const std::vector<std::pair<std::string, std::string>> &Entries, int Version)
{
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(Path), tagsOk);
  tags.ID3v2Tag.WriteVersion = Version == 4 ? sfid3v24 : sfid3v23;
  for (const auto &[name, value] : Entries) tags.SetText(name, value);
  ASSERT_EQ(tags.SaveToFile(Path, ttAutomatic), tagsOk);
}

// The strings of the first frame FrameID as the file holds them, one per string (not per line).
std::vector<std::string> FrameStrings(const TTags &Tags, const char *FrameID)
{
  std::vector<std::string> strings;
  Tags.ID3v2Tag.GetTextMultiple(Tags.ID3v2Tag.FrameExists(FrameID), strings);
  return strings;
}

Bytes8 FrameBytes(const TTags &Tags, const char *FrameID)
{
  const int i = Tags.ID3v2Tag.FrameExists(FrameID);
  return i < 0 ? Bytes8() : Tags.ID3v2Tag.Frame(i)->Data();
}

TEST(ID3v2Versions, SortNamesGoToTheSortFramesInBothVersions)
{
  const std::vector<std::pair<std::string, std::string>> sorts = {
    {"ARTISTSORT", "Beatles, The"}, {"ALBUMSORT", "White Album"}, {"TITLESORT", "Song, A"},
    {"ALBUMARTISTSORT", "Various"}, {"COMPOSERSORT", "Lennon, John"}};
  const char *frames[] = {"TSOP", "TSOA", "TSOT", "TSO2", "TSOC"};
  for (const int version : {3, 4}) {
    SCOPED_TRACE(version);
    TempDir dir;
    const std::string path = dir.CopyFixture("mp3/notags.mp3");
    SaveEntries(path, sorts, version);
    TTags back;
    ASSERT_EQ(back.LoadFromFile(path), tagsOk);
    EXPECT_EQ(back.ID3v2Tag.MajorVersion, version);
    for (std::size_t i = 0; i < sorts.size(); ++i) {
      EXPECT_EQ(back.GetText(sorts[i].first), sorts[i].second) << sorts[i].first;
      EXPECT_EQ(FrameStrings(back, frames[i]), std::vector<std::string>{sorts[i].second}) << frames[i];
    }
    for (const char *standIn : {"XSOP", "XSOA", "XSOT"}) EXPECT_EQ(back.ID3v2Tag.FrameExists(standIn), -1) << standIn;
  }
}

TEST(ID3v2Versions, OlderSortStandInsReadAsTheSortNames)
{
  TempDir dir;
  const std::string path = WriteMP3(dir, Tag(3, 0,
    Frame3("TIT2", Latin1Text("Title")).Append(Frame3("XSOP", Latin1Text("Artist, The")))
      .Append(Frame3("XSOA", Latin1Text("Album, The"))).Append(Frame3("XSOT", Latin1Text("Title, The")))));
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  EXPECT_EQ(tags.GetText("ARTISTSORT"), "Artist, The");
  EXPECT_EQ(tags.GetText("ALBUMSORT"), "Album, The");
  EXPECT_EQ(tags.GetText("TITLESORT"), "Title, The");

  // A new sort name goes to the sort frame, and the stand-in of the old value goes with it;
  // a cleared one leaves neither.
  SaveEntries(path, {{"ARTISTSORT", "Artist, New"}, {"ALBUMSORT", ""}}, 3);
  TTags back;
  ASSERT_EQ(back.LoadFromFile(path), tagsOk);
  EXPECT_EQ(back.GetText("ARTISTSORT"), "Artist, New");
  EXPECT_EQ(back.TypeCount("ARTISTSORT"), 1);
  EXPECT_EQ(FrameStrings(back, "TSOP"), std::vector<std::string>{"Artist, New"});
  EXPECT_EQ(back.ID3v2Tag.FrameExists("XSOP"), -1);
  EXPECT_EQ(back.Exists("ALBUMSORT"), -1);
  EXPECT_EQ(back.ID3v2Tag.FrameExists("XSOA"), -1);
  EXPECT_EQ(back.GetText("TITLESORT"), "Title, The");

  // A stand-in beside its sort frame gives no second entry.
  TempDir both;
  const std::string twice = WriteMP3(both, Tag(3, 0,
    Frame3("XSOP", Latin1Text("Old")).Append(Frame3("TSOP", Latin1Text("New")))));
  TTags t;
  ASSERT_EQ(t.LoadFromFile(twice), tagsOk);
  EXPECT_EQ(t.GetText("ARTISTSORT"), "New");
  EXPECT_EQ(t.TypeCount("ARTISTSORT"), 1);
}

TEST(ID3v2Versions, TimeStampsSplitAndJoin)
{
  struct Case { const char *text, *stamp, *dayMonth, *hourMinute; };
  const Case cases[] = {
    {"2021-05-04T10:30:15", "2021-05-04T10:30:15", "0405", "1030"},
    {"2021-05-04 10:30", "2021-05-04T10:30", "0405", "1030"},
    {"2021-05-04", "2021-05-04", "0405", ""},
    {"2021-05-04T10", "2021-05-04", "0405", ""},
    {"2021-05", "2021-05", "", ""},
    {"2021", "2021", "", ""},
    {"2021-13-04", "2021", "", ""},
    {"2021-02-32", "2021-02", "", ""},
    {"2021-05-04T24:00", "2021-05-04", "0405", ""},
    {"Released 1999", "", "", ""},
  };
  for (const Case &c : cases) {
    const TID3v2TimeStamp s = SplitID3v2TimeStamp(c.text);
    EXPECT_EQ(ID3v2TimeStampText(s), c.stamp) << c.text;
    EXPECT_EQ(ID3v2DayMonthText(s), c.dayMonth) << c.text;
    EXPECT_EQ(ID3v2HourMinuteText(s), c.hourMinute) << c.text;
  }
  EXPECT_EQ(ID3v2TimeStampFromParts("2021", "0405", "1030"), "2021-05-04T10:30");
  EXPECT_EQ(ID3v2TimeStampFromParts("2021", "0405", ""), "2021-05-04");
  EXPECT_EQ(ID3v2TimeStampFromParts("2021", "", "1030"), "2021");
  EXPECT_EQ(ID3v2TimeStampFromParts("2021", "3204", "1030"), "2021");
  EXPECT_EQ(ID3v2TimeStampFromParts("2021", "0405", "2575"), "2021-05-04");
  EXPECT_EQ(ID3v2TimeStampFromParts("21", "0405", ""), "");
}

TEST(ID3v2Versions, AFullDateKeepsItsDayAndTime)
{
  struct Case { const char *value, *year, *dayMonth, *time, *readsBack, *recordingTime; };
  const Case cases[] = {
    {"2021-05-04T10:30", "2021", "0405", "1030", "2021-05-04T10:30", "2021-05-04T10:30"},
    {"2021-05-04", "2021", "0405", "", "2021-05-04", "2021-05-04"},
    {"2021-05", "2021", "", "", "2021", "2021-05"},
    {"1999", "1999", "", "", "1999", "1999"},
    {"Released 1999-05-01", "1999", "", "", "1999", "1999"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.value);
    TempDir dir;
    const std::string path = dir.CopyFixture("mp3/notags.mp3");
    SaveEntries(path, {{"YEAR", c.value}}, 3);
    TTags v3;
    ASSERT_EQ(v3.LoadFromFile(path), tagsOk);
    EXPECT_EQ(v3.ID3v2Tag.GetText("TYER"), c.year);
    EXPECT_EQ(v3.ID3v2Tag.GetText("TDAT"), c.dayMonth);
    EXPECT_EQ(v3.ID3v2Tag.GetText("TIME"), c.time);
    EXPECT_EQ(v3.ID3v2Tag.FrameExists("TDRC"), -1);
    EXPECT_EQ(v3.GetText("YEAR"), c.readsBack);

    // Saved unchanged, the date stays as it is; written as 2.4, it is one recording time.
    const Bytes8 before = ReadFileBytes(path);
    SaveEntries(path, {{"YEAR", c.readsBack}}, 3);
    EXPECT_EQ(ReadFileBytes(path), before);
    TempDir dir4;
    const std::string path4 = dir4.CopyFixture("mp3/notags.mp3");
    SaveEntries(path4, {{"YEAR", c.value}}, 4);
    TTags v4;
    ASSERT_EQ(v4.LoadFromFile(path4), tagsOk);
    EXPECT_EQ(v4.ID3v2Tag.GetText("TDRC"), c.recordingTime);
  }
}

TEST(ID3v2Versions, ANewYearDropsTheOldDayAndTimeTheSameYearKeepsThem)
{
  TempDir dir;
  const std::string path = WriteMP3(dir, Tag(3, 0,
    Frame3("TYER", Latin1Text("2021")).Append(Frame3("TDAT", Latin1Text("0405"))).Append(Frame3("TIME", Latin1Text("1030")))));
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  EXPECT_EQ(tags.GetText("YEAR"), "2021-05-04T10:30");

  // The record of the editor holds four digits of the year: the same year changes nothing.
  SaveEntries(path, {{"YEAR", "2021"}}, 3);
  TTags same;
  ASSERT_EQ(same.LoadFromFile(path), tagsOk);
  EXPECT_EQ(same.GetText("YEAR"), "2021-05-04T10:30");

  SaveEntries(path, {{"YEAR", "2022"}}, 3);
  TTags changed;
  ASSERT_EQ(changed.LoadFromFile(path), tagsOk);
  EXPECT_EQ(changed.GetText("YEAR"), "2022");
  EXPECT_EQ(changed.ID3v2Tag.FrameExists("TDAT"), -1);
  EXPECT_EQ(changed.ID3v2Tag.FrameExists("TIME"), -1);

  // A cleared year takes its day and time along.
  SaveEntries(path, {{"YEAR", "2021-05-04T10:30"}}, 3);
  SaveEntries(path, {{"YEAR", ""}, {"TITLE", "kept"}}, 3);
  TTags cleared;
  ASSERT_EQ(cleared.LoadFromFile(path), tagsOk);
  EXPECT_EQ(cleared.Exists("YEAR"), -1);
  for (const char *id : {"TYER", "TDAT", "TIME"}) EXPECT_EQ(cleared.ID3v2Tag.FrameExists(id), -1) << id;
}

TEST(ID3v2Versions, SeveralValuesBecomeOneIn23)
{
  struct Case { const char *name, *frame, *values, *in23; };
  const Case cases[] = {
    {"ARTIST", "TPE1", "One\r\nTwo", "One/Two"},
    {"COMPOSER", "TCOM", "Bach\r\nHandel\r\nPurcell", "Bach/Handel/Purcell"},
    {"LYRICIST", "TEXT", "A\r\nB", "A/B"},
    {"ORIGINALLYRICIST", "TOLY", "A\r\nB", "A/B"},
    {"ORIGINALARTIST", "TOPE", "A\r\nB", "A/B"},
    // Other free text keeps every value the same way; a number keeps its first value, since
    // "120/128" would not read as a tempo.
    {"ALBUM", "TALB", "Side A\r\nSide B", "Side A/Side B"},
    {"BPM", "TBPM", "120\r\n128", "120"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    for (const int version : {3, 4}) {
      TempDir dir;
      const std::string path = dir.CopyFixture("mp3/notags.mp3");
      SaveEntries(path, {{c.name, c.values}}, version);
      TTags back;
      ASSERT_EQ(back.LoadFromFile(path), tagsOk);
      if (version == 3) {
        EXPECT_EQ(FrameStrings(back, c.frame), std::vector<std::string>{c.in23});
        EXPECT_EQ(back.GetText(c.name), c.in23);
        // Saved again unchanged, the joined value stays one value.
        const Bytes8 before = ReadFileBytes(path);
        SaveEntries(path, {{c.name, c.in23}}, 3);
        EXPECT_EQ(ReadFileBytes(path), before);
      } else {
        EXPECT_EQ(back.GetText(c.name), c.values);
      }
    }
  }
}

TEST(ID3v2Versions, A24ListWrittenAs23IsJoinedAnUntouched23FrameIsNot)
{
  // A frame of a 2.3 tag is written back as it was read, list or not.
  TempDir dir;
  const Bytes list = Bytes().U8(0).Str("One").U8(0).Str("Two").U8(0);
  const std::string path3 = WriteMP3(dir, Tag(3, 0, Frame3("TPE1", list).Append(Frame3("TIT2", Latin1Text("x")))), "a.mp3");
  SaveEntries(path3, {{"TITLE", "changed"}}, 3);
  TTags v3;
  ASSERT_EQ(v3.LoadFromFile(path3), tagsOk);
  EXPECT_EQ(v3.GetText("TITLE"), "changed");
  EXPECT_EQ(FrameBytes(v3, "TPE1"), list.v);

  // The same list from a 2.4 tag saved as 2.3 is joined.
  const std::string path4 = WriteMP3(dir, Tag(4, 0, Frame4("TPE1", list).Append(Frame4("TIT2", Latin1Text("x")))), "b.mp3");
  SaveEntries(path4, {{"TITLE", "changed"}}, 3);
  TTags from4;
  ASSERT_EQ(from4.LoadFromFile(path4), tagsOk);
  EXPECT_EQ(from4.ID3v2Tag.MajorVersion, 3);
  EXPECT_EQ(FrameStrings(from4, "TPE1"), std::vector<std::string>{"One/Two"});
}

// A compressed frame whose data does not inflate: flags 0x0080, the declared plain size, then
// bytes that are no zlib stream.
Bytes BrokenCompressedFrame(std::string_view ID, std::size_t Garbage)
{
  Bytes data = Bytes().U32BE(1000);
  for (std::size_t i = 0; i < Garbage; ++i) data.U8(static_cast<std::uint8_t>(0x78 + i * 7));
  return Frame3(ID, data, 0x0080);
}

TEST(ID3v2Versions, AFrameThatDoesNotInflateIsKeptAndNeverShown)
{
  TempDir dir;
  const Bytes picture = BrokenCompressedFrame("APIC", 560);
  const Bytes artist = BrokenCompressedFrame("TPE1", 40);
  const Bytes user = BrokenCompressedFrame("TXXX", 30);
  const std::string path =
    WriteMP3(dir, Tag(3, 0, Frame3("TIT2", Latin1Text("Title")).Append(picture).Append(artist).Append(user)));
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  EXPECT_EQ(tags.CoverArtCount(), 0);
  EXPECT_EQ(tags.Exists("ARTIST"), -1);
  ASSERT_EQ(tags.Count(), 1);
  EXPECT_EQ(tags.GetText("TITLE"), "Title");
  const int apic = tags.ID3v2Tag.FrameExists("APIC");
  ASSERT_GE(apic, 0);
  EXPECT_TRUE(tags.ID3v2Tag.Frame(apic)->Opaque());
  std::string mime, description;
  std::uint8_t type = 0;
  TBytes bytes;
  EXPECT_FALSE(tags.ID3v2Tag.GetCoverPictureInfo(apic, bytes, mime, description, type));
  EXPECT_EQ(tags.ID3v2Tag.GetText("TPE1"), "");

  // An edit, and a picture added beside it, leave the three frames byte for byte.
  tags.SetText("TITLE", "Edited");
  TCoverArt *c = tags.AddCoverArtFromFile("Cover art 1", FixturePath("images/cover.png"));
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
  const Bytes8 file = ReadFileBytes(path);
  for (const Bytes *frame : {&picture, &artist, &user})
    EXPECT_NE(std::search(file.begin(), file.end(), frame->v.begin(), frame->v.end()), file.end());
  TTags back;
  ASSERT_EQ(back.LoadFromFile(path), tagsOk);
  EXPECT_EQ(back.GetText("TITLE"), "Edited");
  ASSERT_EQ(back.CoverArtCount(), 1);
  EXPECT_EQ(back.CoverArts[0]->MIMEType, "image/png");
  EXPECT_EQ(back.ID3v2Tag.FrameTypeCount("APIC"), 2);
}

} // namespace
