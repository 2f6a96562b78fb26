#include "tags/detect/content_type.h"
#include "tags/tag_container.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tags/picture/picture_format.h"
#include "tags/streams/file_io.h"
#include "tests/support/container_bytes.h"
#include "tests/support/test_support.h"
#include "tests/support/write_faults.h"

namespace {

// A 128-byte ID3v1.1 record.
Bytes ID3v1Record(const std::string &title, std::uint8_t track, std::uint8_t genre)
{
  return ::ID3v1Record(title, "Artist", "Album", "1999", "Note", track, genre);
}

Bytes AudioLike(std::size_t n) { return Bytes().Fill(n, 0x55); }

TEST(TTagsLoad, MissingFileReturns5AndClears)
{
  TTags tags;
  tags.Add("TITLE")->Value = "x";
  EXPECT_EQ(tags.LoadFromFile("/nonexistent/file.mp3"), tagsFileNotFound);
  EXPECT_EQ(tags.Count(), 0);
  EXPECT_FALSE(tags.Loaded);
}

TEST(TTagsLoad, UntaggedFileLoadsEmpty)
{
  TempDir dir;
  TTags tags;
  EXPECT_EQ(tags.LoadFromFile(dir.CopyFixture("mp3/notags.mp3")), tagsOk);
  EXPECT_FALSE(tags.Loaded);
  EXPECT_EQ(tags.Count(), 0);
  EXPECT_TRUE(tags.LoadedTagTypes().empty());
}

TEST(TTagsLoad, ID3v1OnlyFixtureMapsToGenericNames)
{
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(FixturePath("mp3/id3v1-only.mp3")), tagsOk);
  EXPECT_TRUE(tags.Loaded);
  EXPECT_EQ(tags.LoadedTagTypes(), std::vector<TTagType>{ttID3v1});
  EXPECT_EQ(tags.GetText("title"), "Björk - Jóga");
  EXPECT_EQ(tags.GetText("ARTIST"), "Test Artist");
  EXPECT_EQ(tags.GetText("ALBUM"), "Test Album");
  EXPECT_EQ(tags.GetText("YEAR"), "2021");
  EXPECT_EQ(tags.GetText("TRACKNUMBER"), "3");
  EXPECT_EQ(tags.GetText("GENRE"), "Rock");
  EXPECT_EQ(tags.GetText("COMMENT"), "Generated test comment");
  EXPECT_EQ(tags.GetSize(), 128);
}

TEST(TTagsLoad, MemoryBlockIsReadOnlyWithinItsSize)
{
  TTags tags;
  EXPECT_EQ(tags.LoadFromMemory(nullptr, 10), tagsNoFileOrBlock);
  const Bytes8 file = Bytes().Append(AudioLike(300)).Append(ID3v1Record("Mem", 4, 17));
  EXPECT_EQ(tags.LoadFromMemory(file.data(), 0), tagsNoFileOrBlock);
  ASSERT_EQ(tags.LoadFromMemory(file.data(), static_cast<std::int64_t>(file.size())), tagsOk);
  EXPECT_EQ(tags.GetText("TITLE"), "Mem");
  EXPECT_EQ(tags.GetText("GENRE"), "Rock");
  EXPECT_TRUE(tags.FileName.empty());
  // The same bytes minus the last one hold no record at their end.
  ASSERT_EQ(tags.LoadFromMemory(file.data(), static_cast<std::int64_t>(file.size() - 1)), tagsOk);
  EXPECT_FALSE(tags.Loaded);
}

TEST(TTagsEntries, SetTextAddsChangesAndDeletesFromNatives)
{
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(FixturePath("mp3/id3v1-only.mp3")), tagsOk);
  EXPECT_EQ(tags.SetText("NOSUCH", ""), -1);
  const int count = tags.Count();
  EXPECT_EQ(tags.SetText("comment", ""), -1);
  EXPECT_EQ(tags.Count(), count - 1);
  EXPECT_TRUE(tags.ID3v1Tag.Comment.empty());
  EXPECT_EQ(tags.SetText("TRACKNUMBER", ""), -1);
  EXPECT_EQ(tags.ID3v1Tag.Track, 0);
  const int i = tags.SetText("Title", "New");
  EXPECT_EQ(tags.Tags[static_cast<std::size_t>(i)]->Value, "New");
  const int mood = tags.SetText("MOOD", "calm");
  EXPECT_EQ(mood, tags.Count() - 1);
  EXPECT_EQ(tags.TypeCount("mood"), 1);
}

TEST(TTagsEntries, ListValues)
{
  TTags tags;
  TTag *t = tags.Add("TIPL");
  t->SetAsList({"producer=Ann", "mixer=Bob"});
  EXPECT_EQ(t->Value, "producer\r\nAnn\r\nmixer\r\nBob\r\n");
  TStringList list;
  tags.GetList("tipl", list);
  EXPECT_EQ(list, (TStringList{"producer=Ann", "mixer=Bob"}));
  t->Value = "a\r\nb\r\nc";
  t->GetList(list);
  EXPECT_EQ(list, TStringList{"a=b"});  // an unpaired last line is dropped
  EXPECT_EQ(tags.SetList("TIPL", {}), -1);
  EXPECT_EQ(tags.Count(), 0);
}

TEST(TTagsEntries, ClearAndRemoveEmpty)
{
  TTags tags;
  tags.Add("ARTIST")->Value = "A";
  tags.Add("artist")->Value = "B";
  tags.Add("TITLE");
  EXPECT_EQ(tags.Clear("Artist"), 2);
  tags.RemoveEmptyTags();
  EXPECT_EQ(tags.Count(), 0);
  EXPECT_FALSE(tags.Delete("TITLE"));
  EXPECT_FALSE(tags.Remove(0));
}

TEST(TTagsPictures, AddFromFileSniffsTypeAndNamesDescription)
{
  TTags tags;
  EXPECT_EQ(tags.AddCoverArtFromFile("Cover art 1", "/nonexistent.png"), nullptr);
  TCoverArt *c = tags.AddCoverArtFromFile("Cover art 1", FixturePath("images/cover.png"));
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->MIMEType, "image/png");
  EXPECT_EQ(c->PictureFormat, tpfPNG);
  EXPECT_EQ(c->Description, "cover.png");
  EXPECT_EQ(PictureStreamType(&c->Stream), tpfPNG);
  EXPECT_EQ(tags.CoverArt("COVER ART 1"), c);

  TTags copy;
  EXPECT_TRUE(copy.AssignCoverArts(tags, false));
  EXPECT_EQ(copy.CoverArts[0]->Stream.Data(), c->Stream.Data());
  EXPECT_EQ(copy.CoverArts[0]->Parent, &copy);
  EXPECT_TRUE(copy.CoverArts[0]->Delete());
  EXPECT_EQ(copy.CoverArtCount(), 0);
}

TEST(TTagsSave, ID3v1OnlyFileGainsID3v2AndKeepsID3v1)
{
  TempDir dir;
  const std::string path = dir.CopyFixture("mp3/id3v1-only.mp3");
  const Bytes8 before = ReadFileBytes(path);
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  tags.SetText("TITLE", "Überall");
  tags.SetText("TRACKNUMBER", "7");
  ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);

  TTags again;
  ASSERT_EQ(again.LoadFromFile(path), tagsOk);
  EXPECT_EQ(again.LoadedTagTypes(), (std::vector<TTagType>{ttID3v1, ttID3v2}));
  EXPECT_EQ(again.GetText("TITLE"), "Überall");
  EXPECT_EQ(again.GetText("TRACKNUMBER"), "7");
  EXPECT_EQ(again.GetText("ARTIST"), "Test Artist");
  EXPECT_EQ(again.ID3v1Tag.Title, "Überall");
  EXPECT_EQ(again.ID3v1Tag.Track, 7);

  // The audio between the new tag in front and the record at the end is untouched.
  const Bytes8 after = ReadFileBytes(path);
  const std::size_t front = static_cast<std::size_t>(again.ID3v2Tag.Size);
  ASSERT_EQ(after.size(), before.size() + front);
  EXPECT_TRUE(std::equal(before.begin(), before.end() - 128, after.begin() + static_cast<std::ptrdiff_t>(front)));
}

TEST(TTagsSave, TrackNumberThatDoesNotFitIsNotWrapped)
{
  struct Case { const char *track; const char *fallback; int want; };
  const Case cases[] = {{"256", "", 0}, {"256", "9", 9}, {"3/12", "", 0}, {"-1", "", 0}, {"255", "", 255}, {" 12 ", "", 12}};
  for (const Case &c : cases) {
    TTags tags;
    tags.SetText("TRACKNUMBER", c.track);
    tags.SetText("TRACK", c.fallback);
    tags.PrepareID3v1Tag();
    EXPECT_EQ(tags.ID3v1Tag.Track, c.want) << c.track;
  }
}

TEST(TTagsSave, NeverCreatesAFileAndRefusesMissingWriters)
{
  TempDir dir;
  TTags tags;
  tags.SetText("TITLE", "x");
  const std::string missing = dir.Path() + "/missing.mp3";
  EXPECT_EQ(tags.SaveToFile(missing, ttAutomatic), tagsFileNotFound);
  EXPECT_EQ(tags.SaveToFile(missing, ttID3v1), tagsFileNotFound);
  EXPECT_FALSE(FileExists(missing));

  // Tag types without a writer of their own: the save fails and the file stays as it was.
  const std::string path = dir.CopyFixture("mp3/id3v1-only.mp3");
  const Bytes8 before = ReadFileBytes(path);
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  tags.SetText("TITLE", "x");
  EXPECT_EQ(tags.SaveToFile(path, ttMP4Xtra), tagsUnsupported);
  EXPECT_EQ(tags.SaveToFile(path, ttMKV), tagsUnsupported);
  EXPECT_EQ(ReadFileBytes(path), before);
}

TEST(TTagsSave, ReadOnlyFailureIsReported)
{
  TempDir dir;
  const std::string path = dir.CopyFixture("mp3/id3v1-only.mp3");
  const Bytes8 before = ReadFileBytes(path);
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  tags.SetText("TITLE", "x");
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  EXPECT_NE(tags.SaveToFile(path, ttAutomatic), tagsOk);
  EXPECT_NE(RemoveTagsFromFile(path, ttAutomatic), tagsOk);
  EXPECT_EQ(ReadFileBytes(path), before);
}

TEST(TTagsSave, PreserveFileDateTimeKeepsNanoseconds)
{
  TempDir dir;
  const std::string path = dir.CopyFixture("mp3/id3v1-only.mp3");
  struct timespec old {};
  old.tv_sec = 1000000000;
  old.tv_nsec = 123456789;
  ASSERT_TRUE(SetFileModTime(path, old));
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  tags.PreserveFileDateTime = true;
  tags.SetText("TITLE", "kept time");
  ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
  struct timespec now {};
  ASSERT_TRUE(GetFileModTime(path, now));
  EXPECT_EQ(now.tv_sec, old.tv_sec);
  EXPECT_EQ(now.tv_nsec, old.tv_nsec);
}

TEST(TTagsSave, StreamSaveOfASingleType)
{
  TMemoryStream stream(Bytes().Append(AudioLike(200)));
  TTags tags;
  tags.SetText("TITLE", "Streamed");
  tags.SetText("GENRE", "Jazz");
  EXPECT_EQ(tags.SaveToStream(stream, true, ttWMA), tagsWrongFileKind);
  ASSERT_EQ(tags.SaveToStream(stream, true, ttID3v1), tagsOk);
  EXPECT_EQ(stream.GetSize(), 328);
  TTags back;
  ASSERT_EQ(back.LoadFromStream(stream, false), tagsOk);
  EXPECT_EQ(back.GetText("TITLE"), "Streamed");
  EXPECT_EQ(back.GetText("GENRE"), "Jazz");
}

TEST(TTagsSave, AnEarlierFailureIsNotHiddenByALaterSuccess)
{
  TempDir dir;
  const std::string path = dir.CopyFixture("mp3/id3v1-only.mp3");
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  tags.SetText("TITLE", "x");
  const Bytes8 before = ReadFileBytes(path);
  // The first write is the ID3v1 record's. The save reports that failure, and does not go on
  // to write the ID3v2 tag that the content asks for: a failed save leaves the file as it was.
  TWriteFaults::FailNth(1);
  const int rc = tags.SaveToFile(path, ttAutomatic);
  TWriteFaults::Reset();
  EXPECT_EQ(rc, tagsWriteFailed);
  EXPECT_EQ(ReadFileBytes(path), before);
}

TEST(TTagsSave, BufferedBytesThatCannotReachTheStreamAreAFailure)
{
  const Bytes8 audio = AudioLike(200);
  TReadMemoryStream readOnly(audio.data(), static_cast<std::int64_t>(audio.size()));
  TTags tags;
  tags.SetText("TITLE", "x");
  // The record fits the buffer, so the refusal only comes when the buffer is written out.
  EXPECT_EQ(tags.SaveToStream(readOnly, true, ttID3v1), tagsWriteFailed);
}

TEST(TTagsRemove, AutomaticRemovesID3v1AndSucceedsWithoutTags)
{
  TempDir dir;
  const std::string path = dir.CopyFixture("mp3/id3v1-only.mp3");
  const auto size = FileSizeOf(path);
  EXPECT_EQ(RemoveTagsFromFile(path, ttAutomatic), tagsOk);
  EXPECT_EQ(FileSizeOf(path), size - 128);
  EXPECT_EQ(RemoveTagsFromFile(path, ttAutomatic), tagsOk);
  EXPECT_NE(RemoveTagsFromFile(path, ttID3v1), tagsOk);  // nothing left to strip
  EXPECT_EQ(RemoveTagsFromFile(path, ttID3v2), tagsNothingToDo);
  EXPECT_EQ(RemoveTagsFromFile(path, ttWMA), tagsWrongFileKind);  // no ASF file
  EXPECT_EQ(RemoveTagsFromFile(path, ttMP4Xtra), tagsUnsupported);  // no remover of its own
  EXPECT_EQ(RemoveTagsFromFile(dir.Path() + "/none.mp3", ttAutomatic), tagsNoFileOrBlock);
}

// A file with a tag at each end loses both in one step: whichever write fails, the file is as it
// was; when none does, what is left is exactly the audio between the two tags.
TEST(TTagsRemove, BothEndsGoInOneStep)
{
  TempDir dir;
  const std::string path = dir.CopyFixture("mp3/id3v24-id3v1-kid3.mp3");
  const Bytes8 before = ReadFileBytes(path);
  TTags loaded;
  ASSERT_EQ(loaded.LoadFromFile(path), tagsOk);
  ASSERT_TRUE(loaded.ID3v2Tag.Loaded && loaded.ID3v1Tag.Loaded);
  const Bytes8 audio(before.begin() + loaded.ID3v2Tag.Size, before.end() - 128);

  TWriteFailureSteps steps;
  steps.Save = [&] { return RemoveTagsFromFile(path, ttAutomatic) == tagsOk; };
  steps.CheckIntact = [&](int) { ASSERT_EQ(ReadFileBytes(path), before); };
  const TWriteFailureRun run = RunFailingEachWriteInTurn(steps);
  EXPECT_TRUE(run.Succeeded);
  EXPECT_GE(run.Failures, 1);
  EXPECT_EQ(ReadFileBytes(path), audio);
}

TEST(TTagsAssign, CopiesNativesEntriesAndPictures)
{
  TTags source;
  ASSERT_EQ(source.LoadFromFile(FixturePath("mp3/id3v1-only.mp3")), tagsOk);
  source.AddCoverArtFromFile("Cover art 1", FixturePath("images/cover.jpg"));
  TTags copy;
  ASSERT_TRUE(copy.Assign(source, true));
  EXPECT_EQ(copy.GetText("TITLE"), source.GetText("TITLE"));
  EXPECT_EQ(copy.ID3v1Tag.Title, source.ID3v1Tag.Title);
  EXPECT_EQ(copy.CoverArtCount(), 1);
  EXPECT_EQ(copy.Tags[0]->Parent, &copy);
}

} // namespace

namespace {
TEST(TTagsLoad, RecognisesTheContainerFromTheSameReadWhenAsked)
{
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(FixturePath("mp3/id3v24-utf8.mp3")), tagsOk);
  EXPECT_EQ(tags.ContainerType, actUnknown);
  tags.DetectContainerType = true;
  for (const auto &[file, want] : {std::pair{"mp3/id3v24-utf8.mp3", actMPEG}, std::pair{"wav/id3-mutagen.wav", actWAV},
                                   std::pair{"flac/id3v2-prepended.flac", actFLAC}}) {
    ASSERT_EQ(tags.LoadFromFile(FixturePath(file)), tagsOk) << file;
    EXPECT_EQ(tags.ContainerType, want) << file;
    EXPECT_EQ(tags.ContainerType, GetAudioContainerType(FixturePath(file))) << file;
  }
}
} // namespace
