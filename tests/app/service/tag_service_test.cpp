#include "app/service/tag_service.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "tags/audio/audio_attributes.h"
#include "tags/id3/skip_id3v2.h"
#include "tags/streams/file_io.h"
#include "tags/tag_container.h"
#include "tests/support/container_bytes.h"
#include "tests/support/test_support.h"
#include "tests/support/write_faults.h"

namespace {

constexpr const char *kID3v1Fixture = "mp3/id3v1-only.mp3";
constexpr const char *kUntaggedFixture = "mp3/notags.mp3";
constexpr const char *kID3v24Fixture = "mp3/id3v24-utf8.mp3";

struct TExtensionCase {
  const char *FileName;
  TAudioFileType Want;
};

TEST(AudioTag, FileKindFromExtension)
{
  const TExtensionCase cases[] = {
    {"/m/a.mp3", aftMP3},   {"/m/a.MP3", aftMP3},     {"a.flac", aftFLAC},   {"a.m4a", aftMP4},      {"a.M4B", aftMP4},
    {"a.Mp4", aftMP4},      {"a.wma", aftWMA},        {"a.ogg", aftOGG},     {"a.oga", aftOGG},
    {"a.ape", aftAPE},      {"a.wv", aftAPE},         {"a.MPC", aftAPE},      {"a.wav", aftWAV},        {"a.opus", aftOGG},     {"a.mp3.bak", aftUnknown},
    {"/m/x.mp3/a", aftUnknown}, {"noextension", aftUnknown}, {"", aftUnknown},
  };
  for (const TExtensionCase &c : cases) EXPECT_EQ(AudioFileTypeFromExtension(c.FileName), c.Want) << c.FileName;
}

TEST(AudioTag, EmptyMeansBlankFieldsAndNoPicture)
{
  TAudioTag tag;
  EXPECT_TRUE(IsTagEmpty(tag));
  for (const TAudioTagTextField &f : AudioTagTextFields()) tag.*f.Member = " \t\r\n ";
  EXPECT_TRUE(IsTagEmpty(tag));
  tag.Lyrics = "  x ";
  EXPECT_FALSE(IsTagEmpty(tag));
  tag.Lyrics.clear();
  tag.CoverData = {0xFF, 0xD8};
  EXPECT_FALSE(IsTagEmpty(tag));
}

// A field's separate values count while they join to its text: a text typed over them (or
// set as one value) is one value, and fewer than two values keep nothing beside the text.
TEST(AudioTag, SeparateValuesCountWhileTheyJoinToTheText)
{
  TAudioTag tag;
  SetFieldValues(tag, &TAudioTag::Artist, {"piman", "", "jzig"});
  EXPECT_EQ(tag.Artist, "piman; jzig");
  EXPECT_TRUE(HasSeparateValues(tag, &TAudioTag::Artist));
  EXPECT_EQ(FieldValues(tag, &TAudioTag::Artist), (std::vector<std::string>{"piman", "jzig"}));
  EXPECT_EQ(FieldValues(tag, &TAudioTag::Title), std::vector<std::string>{});

  TAudioTag copy = tag;
  EXPECT_EQ(copy, tag);
  copy.Artist = "X";  // typed over without dropping the values: the text counts
  EXPECT_FALSE(HasSeparateValues(copy, &TAudioTag::Artist));
  EXPECT_EQ(FieldValues(copy, &TAudioTag::Artist), std::vector<std::string>{"X"});
  EXPECT_NE(copy, tag);

  SetFieldText(tag, &TAudioTag::Artist, "piman; jzig");
  EXPECT_FALSE(HasSeparateValues(tag, &TAudioTag::Artist));
  EXPECT_EQ(FieldValues(tag, &TAudioTag::Artist), std::vector<std::string>{"piman; jzig"});
  EXPECT_TRUE(tag.SeparateValues.empty());

  SetFieldValues(tag, &TAudioTag::Genre, {"Rock"});
  EXPECT_EQ(tag.Genre, "Rock");
  EXPECT_TRUE(tag.SeparateValues.empty());
  SetFieldValues(tag, &TAudioTag::Genre, {"Rock", "Pop"});
  SetFieldValues(tag, &TAudioTag::Genre, {"Jazz", "Blues", "Soul"});
  ASSERT_EQ(tag.SeparateValues.size(), 1u);
  EXPECT_EQ(tag.Genre, "Jazz; Blues; Soul");
}

// The size of the ID3v2 tag at the start of a file's bytes, 0 when there is none.
std::size_t LeadingID3v2Size(const Bytes8 &File)
{
  return static_cast<std::size_t>(ID3v2TagSizeFromHeader(File.data(), File.size()));
}

// The file's tags as the container loads them, for looking at the native objects.
struct TLoadedTags {
  explicit TLoadedTags(const std::string &FileName) { Code = Tags.LoadFromFile(FileName); }
  TTags Tags;
  int Code = -1;
};

class TagServiceFile : public ::testing::Test {
protected:
  void TearDown() override { TWriteFaults::Reset(); }
  TempDir dir;
  std::shared_ptr<ITagService> service = CreateTagService();
};

TEST_F(TagServiceFile, LoadsTheID3v1Record)
{
  const std::string file = dir.CopyFixture(kID3v1Fixture);
  TAudioTag tag;
  tag.Modified = true;
  ASSERT_TRUE(service->LoadTag(file, tag)) << service->GetLastError();
  EXPECT_EQ(service->GetLastError(), "");
  EXPECT_EQ(tag.FileName, file);
  EXPECT_EQ(tag.FileType, aftMP3);
  EXPECT_EQ(tag.Title, "Björk - Jóga");
  EXPECT_EQ(tag.Artist, "Test Artist");
  EXPECT_EQ(tag.Album, "Test Album");
  EXPECT_EQ(tag.Year, "2021");
  EXPECT_EQ(tag.Track, "3");
  EXPECT_EQ(tag.Genre, "Rock");
  EXPECT_EQ(tag.Comment, "Generated test comment");
  EXPECT_EQ(tag.Disc, "");
  EXPECT_TRUE(tag.CoverData.empty());
  EXPECT_FALSE(tag.Modified);
}

TEST_F(TagServiceFile, MissingFileIsReportedAndResetsTheRecord)
{
  TAudioTag tag;
  tag.FileName = "stale";
  tag.Title = "stale";
  const std::string missing = dir.Path() + "/missing.mp3";
  EXPECT_FALSE(service->LoadTag(missing, tag));
  EXPECT_EQ(service->GetLastError(), "File not found.");
  EXPECT_EQ(tag, TAudioTag());

  tag.FileName = missing;
  tag.Title = "x";
  EXPECT_FALSE(service->SaveTag(tag));
  EXPECT_EQ(service->GetLastError(), "File not found.");
  EXPECT_FALSE(service->RemoveTags(missing));
  EXPECT_EQ(service->GetLastError(), "File not found.");
  EXPECT_FALSE(FileExists(TagBackupFileName(missing)));
}

// An MP3 with only an ID3v1 tag gains an ID3v2 tag in front and keeps its ID3v1 tag, both
// holding the new values; the audio between them is untouched.
TEST_F(TagServiceFile, SavedValuesReadBackAndOnlyTheTagsChange)
{
  const std::string file = dir.CopyFixture(kID3v1Fixture);
  const Bytes8 before = ReadFileBytes(file);
  TAudioTag tag;
  ASSERT_TRUE(service->LoadTag(file, tag));
  tag.Title = "Œuvre – déjà vu";
  tag.Artist = "Someone";
  tag.Year = "1999";
  tag.Track = "12";
  tag.Genre = "Jazz";
  tag.Comment = "New comment";
  ASSERT_TRUE(service->SaveTag(tag)) << service->GetLastError();
  EXPECT_EQ(service->GetLastError(), "");
  EXPECT_FALSE(FileExists(TagBackupFileName(file)));

  const Bytes8 after = ReadFileBytes(file);
  const std::size_t v2 = LeadingID3v2Size(after);
  ASSERT_GT(v2, 0u);
  ASSERT_EQ(after.size(), v2 + before.size());
  EXPECT_TRUE(std::equal(before.begin(), before.end() - 128, after.begin() + static_cast<std::ptrdiff_t>(v2)));
  EXPECT_EQ(std::string(after.end() - 128, after.end() - 125), "TAG");

  TAudioTag back;
  ASSERT_TRUE(service->LoadTag(file, back));
  EXPECT_EQ(back, tag);

  const TLoadedTags loaded(file);
  ASSERT_EQ(loaded.Code, tagsOk);
  EXPECT_EQ(loaded.Tags.LoadedTagTypes(), (std::vector<TTagType>{ttID3v1, ttID3v2}));
  const TID3v1Tag &v1 = loaded.Tags.ID3v1Tag;
  EXPECT_EQ(v1.Title, tag.Title);
  EXPECT_EQ(v1.Artist, tag.Artist);
  EXPECT_EQ(v1.Year, tag.Year);
  EXPECT_EQ(v1.Track, 12);
  EXPECT_EQ(v1.Genre, tag.Genre);
  const TID3v2Tag &v2tag = loaded.Tags.ID3v2Tag;
  EXPECT_EQ(v2tag.GetText("TIT2"), tag.Title);
  EXPECT_EQ(v2tag.GetText("TPE1"), tag.Artist);
  EXPECT_EQ(v2tag.GetText("TRCK"), tag.Track);
}

TEST_F(TagServiceFile, RecordEqualToTheFileWritesNothing)
{
  const std::string file = dir.CopyFixture(kID3v1Fixture);
  SetOldModTime(file);
  const Bytes8 before = ReadFileBytes(file);
  TAudioTag tag;
  ASSERT_TRUE(service->LoadTag(file, tag));
  tag.Modified = true;

  // A stale backup that differs from the file would refuse a write; none is needed here.
  const std::string backup = TagBackupFileName(file);
  WriteFileBytes(backup, {1, 2, 3});
  TWriteFaults::Reset();
  ASSERT_TRUE(service->SaveTag(tag)) << service->GetLastError();
  EXPECT_EQ(TWriteFaults::OperationsSoFar(), 0);
  EXPECT_EQ(ReadFileBytes(file), before);
  struct timespec old {};
  old.tv_sec = 1000000000;
  old.tv_nsec = 123456789;
  EXPECT_TRUE(SameTime(ModTime(file), old));
  EXPECT_EQ(ReadFileBytes(backup), (Bytes8{1, 2, 3}));
}

// An untagged MP3 gets an ID3v2.3 tag with UTF-16 text in front of the audio, and nothing else.
TEST_F(TagServiceFile, UntaggedMP3GetsAnID3v2Tag)
{
  const std::string file = dir.CopyFixture(kUntaggedFixture);
  const Bytes8 before = ReadFileBytes(file);
  TAudioTag tag;
  ASSERT_TRUE(service->LoadTag(file, tag));
  tag.Title = "New ♫";
  ASSERT_TRUE(service->SaveTag(tag)) << service->GetLastError();

  const Bytes8 after = ReadFileBytes(file);
  const std::size_t v2 = LeadingID3v2Size(after);
  ASSERT_GT(v2, 0u);
  EXPECT_EQ(after[3], 3) << "version 2.3";
  ASSERT_EQ(after.size(), v2 + before.size());
  EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin() + static_cast<std::ptrdiff_t>(v2)));
  // The title frame: 10-byte header, then encoding 1 (UTF-16 with a byte-order mark).
  const std::string title = "TIT2";
  const auto frame = std::search(after.begin(), after.begin() + static_cast<std::ptrdiff_t>(v2), title.begin(), title.end());
  ASSERT_NE(frame, after.begin() + static_cast<std::ptrdiff_t>(v2));
  EXPECT_EQ(frame[10], 1);
  EXPECT_TRUE((frame[11] == 0xFF && frame[12] == 0xFE) || (frame[11] == 0xFE && frame[12] == 0xFF));

  TAudioTag back;
  ASSERT_TRUE(service->LoadTag(file, back));
  EXPECT_EQ(back, tag);
}

// Track and disc with totals on MP3 files: what the record shows is what TRCK and TPOS hold,
// and a number given without a total leaves none behind.
TEST_F(TagServiceFile, TrackAndDiscTotalsReachTheID3v2Frames)
{
  for (const char *fixture : {"mp3/id3v23-utf16.mp3", kID3v1Fixture}) {
    SCOPED_TRACE(fixture);
    const std::string file = dir.CopyFixture(fixture);
    TAudioTag tag;
    ASSERT_TRUE(service->LoadTag(file, tag));
    tag.Track = "4/12";
    tag.Disc = "2/3";
    ASSERT_TRUE(service->SaveTag(tag)) << service->GetLastError();
    {
      const TLoadedTags loaded(file);
      EXPECT_EQ(loaded.Tags.ID3v2Tag.GetText("TRCK"), "4/12");
      EXPECT_EQ(loaded.Tags.ID3v2Tag.GetText("TPOS"), "2/3");
      if (loaded.Tags.ID3v1Tag.Loaded) {
        EXPECT_EQ(loaded.Tags.ID3v1Tag.Track, 4);
      }
    }
    TAudioTag back;
    ASSERT_TRUE(service->LoadTag(file, back));
    EXPECT_EQ(back, tag);

    tag.Track = "5";
    tag.Disc = "2";
    ASSERT_TRUE(service->SaveTag(tag)) << service->GetLastError();
    const TLoadedTags loaded(file);
    EXPECT_EQ(loaded.Tags.ID3v2Tag.GetText("TRCK"), "5");
    EXPECT_EQ(loaded.Tags.ID3v2Tag.GetText("TPOS"), "2");
    for (const char *total : {"TOTALTRACKS", "TRACKTOTAL", "TOTALDISCS", "DISCTOTAL"})
      EXPECT_EQ(loaded.Tags.Exists(total), -1) << total;
    ASSERT_TRUE(service->LoadTag(file, back));
    EXPECT_EQ(back, tag);
  }
}

// A TPE1 frame with the two strings "piman" and "jzig" shows as one joined Artist; a save
// that changes the title only leaves that frame byte for byte, and an Artist typed over it
// becomes the frame's one string.
TEST_F(TagServiceFile, ID3v2FrameWithTwoStringsShowsJoinedAndStaysUnlessChanged)
{
  const Bytes body = Bytes()
                       .Append(ID3v24TextFrame("TIT2", "Song"))
                       .Append(ID3v24TextFrame("TPE1", std::string_view("piman\0jzig", 10)))
                       .Append(ID3v24TextFrame("TCON", std::string_view("Rock\0Pop", 8)))
                       .Zeros(64);
  const std::string file = dir.Write("two-artists.mp3", Bytes().Append(ID3v2Tag(4, 0, body)).Append(MpegFrames(8)));
  const Bytes8 artistFrame = ID3v24FrameBytes(ReadFileBytes(file), "TPE1");
  ASSERT_FALSE(artistFrame.empty());

  TAudioTag tag;
  ASSERT_TRUE(service->LoadTag(file, tag)) << service->GetLastError();
  EXPECT_EQ(tag.Artist, "piman; jzig");
  EXPECT_EQ(tag.Genre, "Rock; Pop");
  EXPECT_EQ(tag.Title, "Song");

  tag.Title = "Other";
  ASSERT_TRUE(service->SaveTag(tag)) << service->GetLastError();
  Bytes8 after = ReadFileBytes(file);
  EXPECT_EQ(ID3v24FrameBytes(after, "TPE1"), artistFrame);
  {
    const TLoadedTags loaded(file);
    ASSERT_EQ(loaded.Code, tagsOk);
    std::vector<std::string> strings;
    const int frame = loaded.Tags.ID3v2Tag.FrameExists("TPE1");
    ASSERT_GE(frame, 0);
    ASSERT_TRUE(loaded.Tags.ID3v2Tag.GetTextMultiple(frame, strings));
    EXPECT_EQ(strings, (std::vector<std::string>{"piman", "jzig"}));
    EXPECT_EQ(loaded.Tags.ID3v2Tag.GetText("TIT2"), "Other");
  }
  TAudioTag back;
  ASSERT_TRUE(service->LoadTag(file, back));
  EXPECT_EQ(back, tag);

  back.Artist = "X";
  ASSERT_TRUE(service->SaveTag(back)) << service->GetLastError();
  const TLoadedTags loaded(file);
  ASSERT_EQ(loaded.Code, tagsOk);
  EXPECT_EQ(loaded.Tags.ID3v2Tag.FrameTypeCount("TPE1"), 1);
  std::vector<std::string> strings;
  ASSERT_TRUE(loaded.Tags.ID3v2Tag.GetTextMultiple(loaded.Tags.ID3v2Tag.FrameExists("TPE1"), strings));
  EXPECT_EQ(strings, std::vector<std::string>{"X"});
  TAudioTag last;
  ASSERT_TRUE(service->LoadTag(file, last));
  EXPECT_EQ(last.Artist, "X");
  EXPECT_EQ(last.Genre, "Rock; Pop");
}

// The strings of the first frame ID (a text frame, or with Description a user text frame of
// that description) in a loaded container's ID3v2 tag; empty when there is none.
std::vector<std::string> FrameStrings(const TTags &Tags, const char *ID, const std::string &Description = {})
{
  const TID3v2Tag &v2 = Tags.ID3v2Tag;
  for (int i = 0; i < v2.FrameCount(); ++i) {
    if (!v2.Frame(i)->IsID(ID)) continue;
    std::vector<std::string> strings;
    std::string description;
    if (Description.empty() && v2.GetTextMultiple(i, strings)) return strings;
    if (!Description.empty() && v2.GetUserDefinedTextInformationMultiple(i, description, strings) &&
        description == Description)
      return strings;
  }
  return {};
}

// What an undo step does to a file: the record taken before an edit of fields with several
// values, saved over the edit, gives the file those values apart again (TPE1 with two
// strings; two user text frames of one description become one such frame with two strings),
// not their joined text; that record then matches the file and writes nothing more, and a
// later save of another field leaves the frames as they are.
TEST_F(TagServiceFile, RecordFromBeforeAnEditGivesBackSeparateValues)
{
  const Bytes body = Bytes()
                       .Append(ID3v24TextFrame("TIT2", "Song"))
                       .Append(ID3v24TextFrame("TPE1", std::string_view("piman\0jzig", 10)))
                       .Append(ID3v24TextFrame("TXXX", std::string_view("ORIGARTIST\0A", 12)))
                       .Append(ID3v24TextFrame("TXXX", std::string_view("ORIGARTIST\0B", 12)))
                       .Zeros(64);
  const std::string file = dir.Write("undo.mp3", Bytes().Append(ID3v2Tag(4, 0, body)).Append(MpegFrames(8)));
  TAudioTag before;
  ASSERT_TRUE(service->LoadTag(file, before)) << service->GetLastError();
  ASSERT_EQ(before.Artist, "piman; jzig");
  ASSERT_EQ(before.OrigArtist, "A; B");
  EXPECT_EQ(FieldValues(before, &TAudioTag::Artist), (std::vector<std::string>{"piman", "jzig"}));
  EXPECT_EQ(FieldValues(before, &TAudioTag::OrigArtist), (std::vector<std::string>{"A", "B"}));

  TAudioTag edited = before;
  SetFieldText(edited, &TAudioTag::Artist, "X");
  SetFieldText(edited, &TAudioTag::OrigArtist, "A; B; C");
  ASSERT_TRUE(service->SaveTag(edited)) << service->GetLastError();
  {
    const TLoadedTags loaded(file);
    ASSERT_EQ(loaded.Code, tagsOk);
    EXPECT_EQ(FrameStrings(loaded.Tags, "TPE1"), std::vector<std::string>{"X"});
    EXPECT_EQ(FrameStrings(loaded.Tags, "TXXX", "ORIGARTIST"), std::vector<std::string>{"A; B; C"});
  }

  ASSERT_TRUE(service->SaveTag(before)) << service->GetLastError();
  {
    const TLoadedTags loaded(file);
    ASSERT_EQ(loaded.Code, tagsOk);
    EXPECT_EQ(loaded.Tags.ID3v2Tag.FrameTypeCount("TPE1"), 1);
    EXPECT_EQ(FrameStrings(loaded.Tags, "TPE1"), (std::vector<std::string>{"piman", "jzig"}));
    EXPECT_EQ(loaded.Tags.ID3v2Tag.FrameTypeCount("TXXX"), 1);
    EXPECT_EQ(FrameStrings(loaded.Tags, "TXXX", "ORIGARTIST"), (std::vector<std::string>{"A", "B"}));
  }
  TAudioTag back;
  ASSERT_TRUE(service->LoadTag(file, back));
  EXPECT_EQ(back, before);

  const Bytes8 restored = ReadFileBytes(file);
  ASSERT_TRUE(service->SaveTag(before)) << service->GetLastError();
  EXPECT_EQ(ReadFileBytes(file), restored);
  back.Title = "Other";
  ASSERT_TRUE(service->SaveTag(back)) << service->GetLastError();
  const Bytes8 after = ReadFileBytes(file);
  EXPECT_EQ(ID3v24FrameBytes(after, "TPE1"), ID3v24FrameBytes(restored, "TPE1"));
  EXPECT_EQ(ID3v24FrameBytes(after, "TXXX"), ID3v24FrameBytes(restored, "TXXX"));
}

// A 2.4 tag keeps its year in the recording time (TDRC): it loads, changes and clears there.
TEST_F(TagServiceFile, YearOfAnID3v24TagIsItsRecordingTime)
{
  const std::string file = dir.CopyFixture(kID3v24Fixture);
  TAudioTag tag;
  ASSERT_TRUE(service->LoadTag(file, tag));
  EXPECT_EQ(tag.Year, "2021");
  {
    TAudioTag same = tag;
    same.Title = "Edited";
    ASSERT_TRUE(service->SaveTag(same)) << service->GetLastError();
    const TLoadedTags loaded(file);
    EXPECT_EQ(loaded.Tags.ID3v2Tag.GetText("TDRC"), "2021-05-04") << "an untouched year keeps its full date";
  }
  tag.Year = "1999";
  ASSERT_TRUE(service->SaveTag(tag)) << service->GetLastError();
  {
    const TLoadedTags loaded(file);
    EXPECT_EQ(loaded.Tags.ID3v2Tag.GetText("TDRC"), "1999");
  }
  TAudioTag back;
  ASSERT_TRUE(service->LoadTag(file, back));
  EXPECT_EQ(back.Year, "1999");

  tag.Year.clear();
  ASSERT_TRUE(service->SaveTag(tag)) << service->GetLastError();
  const TLoadedTags loaded(file);
  EXPECT_LT(loaded.Tags.ID3v2Tag.FrameExists("TDRC"), 0);
  EXPECT_LT(loaded.Tags.ID3v2Tag.FrameExists("TYER"), 0);
  ASSERT_TRUE(service->LoadTag(file, back));
  EXPECT_EQ(back.Year, "");
}

// A file that is read-only by its mode bits (no write permission for anybody, whoever runs
// the save) is refused before anything is copied: the file is left as it was and no backup
// is made.
TEST_F(TagServiceFile, ReadOnlyFileCannotBeSavedAndIsLeftAsItWas)
{
  for (const char *fixture : {kUntaggedFixture, kID3v1Fixture, kID3v24Fixture}) {
    SCOPED_TRACE(fixture);
    const std::string file = dir.CopyFixture(fixture);
    const Bytes8 before = ReadFileBytes(file);
    TAudioTag tag;
    ASSERT_TRUE(service->LoadTag(file, tag));
    tag.Title = "New";
    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    EXPECT_FALSE(service->SaveTag(tag));
    EXPECT_EQ(service->GetLastError(), "Tags save error: 5: read-only file");
    EXPECT_EQ(ReadFileBytes(file), before);
    EXPECT_FALSE(FileExists(TagBackupFileName(file)));
  }
}

TEST_F(TagServiceFile, WithoutTransactionNoBackupIsMade)
{
  EXPECT_TRUE(service->GetTransactional());
  service->SetTransactional(false);
  EXPECT_FALSE(service->GetTransactional());
  const std::string file = dir.CopyFixture(kUntaggedFixture);
  const Bytes8 before = ReadFileBytes(file);
  TAudioTag tag;
  ASSERT_TRUE(service->LoadTag(file, tag));
  tag.Title = "New";
  ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
  EXPECT_FALSE(service->SaveTag(tag));
  EXPECT_EQ(service->GetLastError(), "Tags save error: 5: read-only file");
  EXPECT_EQ(ReadFileBytes(file), before);
  EXPECT_FALSE(FileExists(TagBackupFileName(file)));

  const std::string tagged = dir.CopyFixture(kID3v1Fixture);
  ASSERT_TRUE(service->LoadTag(tagged, tag));
  tag.Title = "New";
  EXPECT_TRUE(service->SaveTag(tag)) << service->GetLastError();
  EXPECT_FALSE(FileExists(TagBackupFileName(tagged)));
}

// The names in a folder, sorted.
// Every write-like operation of a save is made to fail in turn, on a file that gains an ID3v2
// tag beside its ID3v1 tag, an untagged one and one with an ID3v2.4 tag. Whatever fails, the
// file is byte-identical afterwards (its time too), no temporary file is left, and unless the
// backup itself could not be made, the backup stands beside it.
TEST_F(TagServiceFile, FailedWriteLeavesFileIdenticalAndBackupBeside)
{
  for (const char *fixture : {kID3v1Fixture, kUntaggedFixture, kID3v24Fixture}) {
    SCOPED_TRACE(fixture);
    const TempDir folder;
    const std::string file = folder.CopyFixture(fixture);
    const std::string backup = TagBackupFileName(file);
    const std::vector<std::string> alone = FolderEntries(folder.Path());
    SetOldModTime(file);
    const Bytes8 before = ReadFileBytes(file);
    const struct timespec time = ModTime(file);
    TAudioTag tag;
    ASSERT_TRUE(service->LoadTag(file, tag));
    tag.Title = "Changed title";
    tag.Genre = "Blues";

    TWriteFailureSteps steps;
    steps.Save = [&] { return service->SaveTag(tag); };
    steps.CheckIntact = [&](int) {
      const std::string error = service->GetLastError();
      EXPECT_NE(error, "");
      EXPECT_EQ(ReadFileBytes(file), before) << error;
      EXPECT_TRUE(SameTime(ModTime(file), time));
      if (error.rfind("Backup failed: ", 0) == 0) {
        EXPECT_EQ(FolderEntries(folder.Path()), alone) << "a half-made backup stays behind";
      } else {
        ASSERT_TRUE(FileExists(backup)) << error;
        EXPECT_EQ(ReadFileBytes(backup), before);
        ASSERT_EQ(::unlink(backup.c_str()), 0);
        EXPECT_EQ(FolderEntries(folder.Path()), alone) << error;
      }
    };
    steps.Limit = 100;
    const TWriteFailureRun run = RunFailingEachWriteInTurn(steps);
    ASSERT_TRUE(run.Succeeded) << service->GetLastError();
    EXPECT_GE(run.Failures, 2);  // the backup copy and at least one write of the tag
    EXPECT_EQ(FolderEntries(folder.Path()), alone);
    TAudioTag back;
    ASSERT_TRUE(service->LoadTag(file, back));
    EXPECT_EQ(back.Title, "Changed title");
    EXPECT_EQ(back.Genre, "Blues");
  }
}

TEST_F(TagServiceFile, IdenticalLeftoverBackupIsReplaced)
{
  const std::string file = dir.CopyFixture(kID3v1Fixture);
  const std::string backup = TagBackupFileName(file);
  WriteFileBytes(backup, ReadFileBytes(file));
  TAudioTag tag;
  ASSERT_TRUE(service->LoadTag(file, tag));
  tag.Album = "Other";
  ASSERT_TRUE(service->SaveTag(tag)) << service->GetLastError();
  EXPECT_FALSE(FileExists(backup));
}

TEST_F(TagServiceFile, DifferentLeftoverBackupRefusesTheSave)
{
  const std::string file = dir.CopyFixture(kID3v1Fixture);
  const std::string backup = TagBackupFileName(file);
  const Bytes8 before = ReadFileBytes(file);
  const Bytes8 older = Bytes().Str("the only intact copy");
  WriteFileBytes(backup, older);
  TAudioTag tag;
  ASSERT_TRUE(service->LoadTag(file, tag));
  tag.Album = "Other";
  EXPECT_FALSE(service->SaveTag(tag));
  const std::string error = service->GetLastError();
  EXPECT_EQ(error.rfind("Backup failed: ", 0), 0u) << error;
  EXPECT_NE(error.find(backup), std::string::npos) << error;
  EXPECT_EQ(ReadFileBytes(file), before);
  EXPECT_EQ(ReadFileBytes(backup), older);

  EXPECT_FALSE(service->RemoveTags(file));
  EXPECT_EQ(service->GetLastError().rfind("Backup failed: ", 0), 0u);
  EXPECT_EQ(ReadFileBytes(file), before);
}

TEST_F(TagServiceFile, BackupPathThatIsTheFileItselfIsRefused)
{
  const std::string file = dir.CopyFixture(kID3v1Fixture);
  const std::string backup = TagBackupFileName(file);
  ASSERT_EQ(::link(file.c_str(), backup.c_str()), 0);
  const Bytes8 before = ReadFileBytes(file);
  TAudioTag tag;
  ASSERT_TRUE(service->LoadTag(file, tag));
  tag.Album = "Other";
  EXPECT_FALSE(service->SaveTag(tag));
  EXPECT_EQ(service->GetLastError().rfind("Backup failed: ", 0), 0u);
  EXPECT_EQ(ReadFileBytes(file), before);
}

TEST_F(TagServiceFile, BackupPathHoldingSomethingElseIsRefused)
{
  const std::string file = dir.CopyFixture(kID3v1Fixture);
  const std::string backup = TagBackupFileName(file);
  const Bytes8 before = ReadFileBytes(file);
  const std::string elsewhere = dir.Write("elsewhere", before);
  TAudioTag tag;
  ASSERT_TRUE(service->LoadTag(file, tag));
  tag.Album = "Other";

  ASSERT_EQ(::mkfifo(backup.c_str(), 0644), 0);
  EXPECT_FALSE(service->SaveTag(tag));
  EXPECT_EQ(service->GetLastError().rfind("Backup failed: ", 0), 0u);
  ASSERT_EQ(::unlink(backup.c_str()), 0);

  // Even a link to an identical copy: the copy would land where the link points.
  ASSERT_EQ(::symlink(elsewhere.c_str(), backup.c_str()), 0);
  EXPECT_FALSE(service->SaveTag(tag));
  EXPECT_EQ(service->GetLastError().rfind("Backup failed: ", 0), 0u);
  EXPECT_EQ(ReadFileBytes(file), before);
  EXPECT_EQ(ReadFileBytes(elsewhere), before);
}

TEST_F(TagServiceFile, RemoveTagsStripsTheTagAndNothingElse)
{
  const std::string file = dir.CopyFixture(kID3v1Fixture);
  const Bytes8 before = ReadFileBytes(file);
  ASSERT_TRUE(service->RemoveTags(file)) << service->GetLastError();
  EXPECT_EQ(ReadFileBytes(file), Bytes8(before.begin(), before.end() - 128));
  EXPECT_FALSE(FileExists(TagBackupFileName(file)));
  TAudioTag tag;
  ASSERT_TRUE(service->LoadTag(file, tag));
  EXPECT_TRUE(IsTagEmpty(tag));

  // A file without tags is not an error.
  ASSERT_TRUE(service->RemoveTags(file)) << service->GetLastError();
}

TEST_F(TagServiceFile, RemoveTagsFromAReadOnlyFileIsRefusedBeforeTheBackup)
{
  const std::string file = dir.CopyFixture(kID3v1Fixture);
  const Bytes8 before = ReadFileBytes(file);
  ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
  EXPECT_FALSE(service->RemoveTags(file));
  EXPECT_EQ(service->GetLastError(), "Tags remove error: 5: read-only file");
  EXPECT_EQ(ReadFileBytes(file), before);
  EXPECT_FALSE(FileExists(TagBackupFileName(file)));
}

TEST_F(TagServiceFile, RemoveTagsFailureRestoresTheFile)
{
  const std::string file = dir.CopyFixture(kID3v1Fixture);
  const Bytes8 before = ReadFileBytes(file);
  // The backup is three operations (copy, sync, rename); the removal's first write fails.
  TWriteFaults::FailNth(4, ENOSPC);
  EXPECT_FALSE(service->RemoveTags(file));
  EXPECT_EQ(service->GetLastError().rfind("Tags remove error: ", 0), 0u) << service->GetLastError();
  EXPECT_NE(service->GetLastError().find(": no space left on device"), std::string::npos) << service->GetLastError();
  EXPECT_EQ(ReadFileBytes(file), before);
  EXPECT_TRUE(FileExists(TagBackupFileName(file)));
}

// Saving a record whose sixteen fields are blank clears them; it is not a removal of the tag.
TEST_F(TagServiceFile, EmptyRecordClearsFieldsButKeepsTheTag)
{
  const std::string file = dir.CopyFixture(kID3v1Fixture);
  const Bytes8 before = ReadFileBytes(file);
  TAudioTag tag;
  ASSERT_TRUE(service->LoadTag(file, tag));
  for (const TAudioTagTextField &f : AudioTagTextFields()) tag.*f.Member = "  ";
  ASSERT_TRUE(service->SaveTag(tag)) << service->GetLastError();
  const Bytes8 after = ReadFileBytes(file);
  ASSERT_EQ(after.size(), before.size());
  EXPECT_EQ(std::string(after.end() - 128, after.end() - 125), "TAG");
  TAudioTag back;
  ASSERT_TRUE(service->LoadTag(file, back));
  EXPECT_TRUE(IsTagEmpty(back));
  for (const TAudioTagTextField &f : AudioTagTextFields()) EXPECT_EQ(back.*f.Member, "") << f.Name;
}

// The field logic on a container built in memory, so that names and pictures which no
// writable format carries yet can be shown.
class TagServiceFields : public ::testing::Test {
protected:
  TAudioTag Read()
  {
    TAudioTag t;
    ReadFields(tags, t);
    return t;
  }
  void AddPicture(const std::string &Name, const Bytes8 &Data, const std::string &Mime)
  {
    TMemoryStream s{TBytes(Data)};
    ASSERT_NE(tags.AddCoverArt(Name, s, Mime), nullptr);
  }
  TTags tags;
};

struct TFallbackCase {
  const char *Name;
  std::vector<std::pair<const char *, const char *>> Entries;
  std::string TAudioTag::*Member;
  const char *Want;
};

TEST_F(TagServiceFields, FallbackNamesAndYearCut)
{
  const TFallbackCase cases[] = {
    {"date", {{"DATE", "1999-03-04"}}, &TAudioTag::Year, "1999"},
    {"empty_year_falls_back", {{"YEAR", ""}, {"DATE", "1998"}}, &TAudioTag::Year, "1998"},
    {"release", {{"RELEASEDATE", "2003-01"}}, &TAudioTag::Year, "2003"},
    {"original_release", {{"ORIGINALRELEASEDATE", "1970"}}, &TAudioTag::Year, "1970"},
    {"recording", {{"RECORDINGDATE", "2021-05-04"}}, &TAudioTag::Year, "2021"},
    {"recording_last", {{"RECORDINGDATE", "1980"}, {"ORIGINALRELEASEDATE", "1970"}}, &TAudioTag::Year, "1970"},
    {"year_first", {{"DATE", "1999"}, {"YEAR", "2001-05-12"}}, &TAudioTag::Year, "2001"},
    {"short_year_stays", {{"YEAR", "12"}}, &TAudioTag::Year, "12"},
    {"year_cut_by_characters", {{"YEAR", "二〇〇一年"}}, &TAudioTag::Year, "二〇〇一"},
    {"track", {{"TRACK", "7"}}, &TAudioTag::Track, "7"},
    {"tracknumber_first", {{"TRACK", "7"}, {"TRACKNUMBER", "3/12"}}, &TAudioTag::Track, "3/12"},
    {"track_total", {{"TRACKNUMBER", "3"}, {"TOTALTRACKS", "12"}}, &TAudioTag::Track, "3/12"},
    {"track_fallback_totals", {{"TRACK", "3"}, {"TRACKTOTAL", "9"}}, &TAudioTag::Track, "3/9"},
    {"totaltracks_first", {{"TRACKTOTAL", "9"}, {"TOTALTRACKS", "12"}, {"TRACKNUMBER", "3"}}, &TAudioTag::Track, "3/12"},
    {"total_not_twice", {{"TRACKNUMBER", "3/12"}, {"TOTALTRACKS", "12"}}, &TAudioTag::Track, "3/12"},
    {"empty_total", {{"TRACKNUMBER", "3"}, {"TOTALTRACKS", ""}}, &TAudioTag::Track, "3"},
    {"total_alone", {{"TOTALTRACKS", "12"}}, &TAudioTag::Track, "/12"},
    {"disc_total", {{"DISCNUMBER", "1"}, {"TOTALDISCS", "2"}}, &TAudioTag::Disc, "1/2"},
    {"disc_fallback_totals", {{"DISC", "1"}, {"DISCTOTAL", "3"}}, &TAudioTag::Disc, "1/3"},
    {"disc_not_track_total", {{"DISCNUMBER", "1"}, {"TOTALTRACKS", "12"}}, &TAudioTag::Disc, "1"},
    {"disc", {{"DISC", "2"}}, &TAudioTag::Disc, "2"},
    {"origartist", {{"ORIGARTIST", "X"}}, &TAudioTag::OrigArtist, "X"},
    {"unsynced_lyrics", {{"UNSYNCEDLYRICS", "la\r\nla"}}, &TAudioTag::Lyrics, "la\r\nla"},
    {"name_case", {{"albumartist", "Band"}}, &TAudioTag::AlbumArtist, "Band"},
  };
  for (const TFallbackCase &c : cases) {
    tags.Clear();
    for (const auto &[name, value] : c.Entries) tags.Add(name)->Value = value;
    EXPECT_EQ(Read().*c.Member, c.Want) << c.Name;
  }
}

// The play time in whole seconds: halves go to the even second, and a time that is not a
// sensible count of seconds is unknown (0) rather than a wrapped or undefined number.
TEST_F(TagServiceFields, PlayTimeRoundsHalvesToEvenAndNonsenseIsUnknown)
{
  struct TCase { double PlayTime; std::int32_t Want; };
  const TCase cases[] = {
    {2.5, 2}, {3.5, 4}, {185.4, 185}, {0.4, 0}, {0.5, 0}, {0.0, 0}, {-3.0, 0},
    {std::nan(""), 0}, {HUGE_VAL, 0}, {1e12, 0}, {2147483646.4, 2147483646},
  };
  tags.SourceAudioAttributes.MonkeyAttributes = std::make_unique<TMonkey>();
  for (const TCase &c : cases) {
    tags.SourceAudioAttributes.MonkeyAttributes->Duration = c.PlayTime;
    EXPECT_EQ(Read().DurationSec, c.Want) << c.PlayTime;
  }
}

TEST_F(TagServiceFields, UntouchedFieldsKeepTheirNativeForm)
{
  tags.SetText("YEAR", "2001-05-12");
  tags.SetText("COMMENT", "one\r\ntwo");
  tags.SetText("TITLE", "Old");
  const TAudioTag current = Read();
  EXPECT_EQ(current.Year, "2001");
  EXPECT_FALSE(WriteChangedFields(tags, current, current));

  TAudioTag wanted = current;
  wanted.Title = "New";
  EXPECT_TRUE(WriteChangedFields(tags, current, wanted));
  EXPECT_EQ(tags.GetText("TITLE"), "New");
  EXPECT_EQ(tags.GetText("YEAR"), "2001-05-12");
  EXPECT_EQ(tags.GetText("COMMENT"), "one\r\ntwo");
}

// A changed field goes back under the name it was read from, so that other programs, which
// read that name, see the edit; a field read from no name goes under its first name.
TEST_F(TagServiceFields, ChangedFieldGoesWhereItCameFromAndClearingClearsFallbacks)
{
  tags.SetText("DATE", "1999-03-04");
  tags.SetText("TRACK", "7");
  tags.SetText("ARTISTURL", "https://example.com/old");
  const TAudioTag current = Read();
  EXPECT_EQ(current.URL, "https://example.com/old");
  TAudioTag wanted = current;
  wanted.Year = "2000";
  wanted.URL = "https://example.com/new";
  wanted.Composer = "Someone";
  ASSERT_TRUE(WriteChangedFields(tags, current, wanted));
  EXPECT_EQ(tags.Exists("YEAR"), -1);
  EXPECT_EQ(tags.GetText("DATE"), "2000");
  EXPECT_EQ(tags.Exists("URL"), -1);
  EXPECT_EQ(tags.GetText("ARTISTURL"), "https://example.com/new");
  EXPECT_EQ(tags.GetText("COMPOSER"), "Someone");

  const TAudioTag now = Read();
  wanted = now;
  wanted.Year.clear();
  wanted.Track.clear();
  ASSERT_TRUE(WriteChangedFields(tags, now, wanted));
  EXPECT_EQ(tags.Exists("YEAR"), -1);
  EXPECT_EQ(tags.Exists("DATE"), -1);
  EXPECT_EQ(tags.Exists("TRACK"), -1);
  EXPECT_EQ(Read().Year, "");
  EXPECT_EQ(Read().Track, "");
}

TEST_F(TagServiceFields, ClearingTheYearClearsEveryYearName)
{
  for (const char *name : {"YEAR", "DATE", "RELEASEDATE", "ORIGINALRELEASEDATE", "RECORDINGDATE"})
    tags.SetText(name, "2001");
  const TAudioTag current = Read();
  TAudioTag wanted = current;
  wanted.Year.clear();
  ASSERT_TRUE(WriteChangedFields(tags, current, wanted));
  EXPECT_EQ(tags.Count(), 0);
  EXPECT_EQ(Read().Year, "");
}

struct TTotalCase {
  const char *Name;
  std::vector<std::pair<const char *, const char *>> Entries;
  const char *Track;
  // The entries afterwards, in list order.
  std::vector<std::pair<std::string, std::string>> Want;
  const char *ReadsBack;
};

// A changed Track is stored as number and total, so that it reads back as it was given.
TEST_F(TagServiceFields, TrackIsStoredAsNumberAndTotal)
{
  const TTotalCase cases[] = {
    {"total_added", {{"TRACKNUMBER", "3"}}, "4/12", {{"TRACKNUMBER", "4"}, {"TOTALTRACKS", "12"}}, "4/12"},
    {"total_changed", {{"TRACKNUMBER", "3"}, {"TOTALTRACKS", "12"}}, "4/13", {{"TRACKNUMBER", "4"}, {"TOTALTRACKS", "13"}}, "4/13"},
    {"total_dropped", {{"TRACKNUMBER", "3"}, {"TOTALTRACKS", "12"}, {"TRACKTOTAL", "12"}}, "5", {{"TRACKNUMBER", "5"}}, "5"},
    {"empty_total_dropped", {{"TRACKNUMBER", "3"}, {"TOTALTRACKS", "12"}}, "5/", {{"TRACKNUMBER", "5"}}, "5"},
    // Two entries of one name (a total from "3/12" and from a user text frame) become one.
    {"duplicate_total", {{"TRACKNUMBER", "3"}, {"TOTALTRACKS", "12"}, {"TOTALTRACKS", "12"}}, "3/14",
     {{"TRACKNUMBER", "3"}, {"TOTALTRACKS", "14"}}, "3/14"},
    {"fallback_number_replaced", {{"TRACK", "7"}}, "4/12", {{"TRACK", "4"}, {"TOTALTRACKS", "12"}}, "4/12"},
    {"total_only", {{"TRACK", "7"}, {"TRACKNUMBER", "3"}}, "/12", {{"TOTALTRACKS", "12"}}, "/12"},
    {"split_at_first_slash", {}, "1/2/3", {{"TRACKNUMBER", "1"}, {"TOTALTRACKS", "2/3"}}, "1/2/3"},
    {"cleared", {{"TRACK", "7"}, {"TRACKNUMBER", "3"}, {"TOTALTRACKS", "12"}, {"TRACKTOTAL", "12"}}, "", {}, ""},
  };
  for (const TTotalCase &c : cases) {
    SCOPED_TRACE(c.Name);
    tags.Clear();
    for (const auto &[name, value] : c.Entries) tags.Add(name)->Value = value;
    const TAudioTag current = Read();
    TAudioTag wanted = current;
    wanted.Track = c.Track;
    ASSERT_TRUE(WriteChangedFields(tags, current, wanted));
    std::vector<std::pair<std::string, std::string>> got;
    for (const auto &t : tags.Tags) got.emplace_back(t->Name, t->Value);
    EXPECT_EQ(got, c.Want);
    EXPECT_EQ(Read().Track, c.ReadsBack);
  }
}

TEST_F(TagServiceFields, DiscIsStoredAsNumberAndTotal)
{
  tags.SetText("DISC", "1");
  tags.SetText("DISCTOTAL", "2");
  TAudioTag current = Read();
  ASSERT_EQ(current.Disc, "1/2");
  TAudioTag wanted = current;
  wanted.Disc = "2/3";
  ASSERT_TRUE(WriteChangedFields(tags, current, wanted));
  EXPECT_EQ(tags.GetText("DISC"), "2");
  EXPECT_EQ(tags.GetText("DISCTOTAL"), "3");
  EXPECT_EQ(Read().Disc, "2/3");

  current = Read();
  wanted.Disc = "2";
  ASSERT_TRUE(WriteChangedFields(tags, current, wanted));
  EXPECT_EQ(tags.Exists("TOTALDISCS"), -1);
  EXPECT_EQ(tags.Exists("DISCTOTAL"), -1);
  EXPECT_EQ(Read().Disc, "2");
}

TEST_F(TagServiceFields, EmptyRecordKeepsOtherEntries)
{
  tags.SetText("TITLE", "Song");
  tags.SetText("REPLAYGAIN_TRACK_GAIN", "-6.5 dB");
  tags.SetText("MUSICBRAINZ_TRACKID", "abc");
  const TAudioTag current = Read();
  TAudioTag wanted;
  ASSERT_TRUE(WriteChangedFields(tags, current, wanted));
  EXPECT_EQ(tags.Exists("TITLE"), -1);
  EXPECT_EQ(tags.GetText("REPLAYGAIN_TRACK_GAIN"), "-6.5 dB");
  EXPECT_EQ(tags.GetText("MUSICBRAINZ_TRACKID"), "abc");
}

struct TMultiValueCase {
  const char *Name;
  std::vector<std::pair<const char *, const char *>> Entries;
  std::string TAudioTag::*Member;
  const char *Want;
};

// A free-text field shows every value of its name: each entry, each line of an entry (the
// strings of one ID3v2 text frame), joined by "; ". Numbers, dates, the web address and the
// multi-line fields show their first entry as it is.
TEST_F(TagServiceFields, FreeTextFieldsShowAllTheirValues)
{
  const TMultiValueCase cases[] = {
    {"two_entries", {{"ARTIST", "piman"}, {"ARTIST", "jzig"}}, &TAudioTag::Artist, "piman; jzig"},
    {"two_strings_of_one_frame", {{"ARTIST", "piman\r\njzig"}}, &TAudioTag::Artist, "piman; jzig"},
    {"entries_and_lines", {{"GENRE", "Rock\r\nPop"}, {"TITLE", "T"}, {"genre", "Jazz"}}, &TAudioTag::Genre,
     "Rock; Pop; Jazz"},
    {"empty_values_left_out", {{"ALBUM", ""}, {"ALBUM", "\r\nA\r\n\r\nB"}}, &TAudioTag::Album, "A; B"},
    {"separator_inside_a_value", {{"ARTIST", "AC; DC"}}, &TAudioTag::Artist, "AC; DC"},
    {"title", {{"TITLE", "One"}, {"TITLE", "Two"}}, &TAudioTag::Title, "One; Two"},
    {"album_artist", {{"ALBUMARTIST", "A"}, {"ALBUMARTIST", "B"}}, &TAudioTag::AlbumArtist, "A; B"},
    {"composer", {{"COMPOSER", "A\nB"}}, &TAudioTag::Composer, "A; B"},
    {"copyright", {{"COPYRIGHT", "A"}, {"COPYRIGHT", "B"}}, &TAudioTag::Copyright, "A; B"},
    {"encoded_by", {{"ENCODEDBY", "A"}, {"ENCODEDBY", "B"}}, &TAudioTag::EncodedBy, "A; B"},
    // Values of the fallback name, when the first name has none, the first name's otherwise.
    {"fallback_values", {{"ORIGARTIST", "A"}, {"ORIGARTIST", "B"}}, &TAudioTag::OrigArtist, "A; B"},
    {"first_name_wins", {{"ORIGARTIST", "A"}, {"ORIGINALARTIST", "C"}}, &TAudioTag::OrigArtist, "C"},
    {"year_first_only", {{"YEAR", "1999"}, {"YEAR", "2000"}}, &TAudioTag::Year, "1999"},
    {"track_first_only", {{"TRACKNUMBER", "3"}, {"TRACKNUMBER", "4"}}, &TAudioTag::Track, "3"},
    {"disc_first_only", {{"DISCNUMBER", "1"}, {"DISCNUMBER", "2"}}, &TAudioTag::Disc, "1"},
    {"bpm_first_only", {{"BPM", "120"}, {"BPM", "90"}}, &TAudioTag::BPM, "120"},
    {"url_first_only", {{"URL", "https://a.example"}, {"URL", "https://b.example"}}, &TAudioTag::URL,
     "https://a.example"},
    {"comment_keeps_its_lines", {{"COMMENT", "one\r\ntwo"}, {"COMMENT", "other"}}, &TAudioTag::Comment, "one\r\ntwo"},
    {"lyrics_keep_their_lines", {{"LYRICS", "la\nla"}}, &TAudioTag::Lyrics, "la\nla"},
  };
  for (const TMultiValueCase &c : cases) {
    tags.Clear();
    for (const auto &[name, value] : c.Entries) tags.Add(name)->Value = value;
    EXPECT_EQ(Read().*c.Member, c.Want) << c.Name;
  }
}

// A joined field left as shown writes nothing: the entries keep their separate values. One
// typed over it is the only value afterwards, even when it holds the separator itself.
TEST_F(TagServiceFields, JoinedFieldIsWrittenOnlyWhenChangedAndThenAsOneValue)
{
  tags.Add("ARTIST")->Value = "piman\r\njzig";
  tags.Add("TITLE")->Value = "Song";
  tags.Add("ARTIST")->Value = "third";
  const auto entries = [&] {
    std::vector<std::pair<std::string, std::string>> got;
    for (const auto &t : tags.Tags) got.emplace_back(t->Name, t->Value);
    return got;
  };
  const auto before = entries();
  const TAudioTag current = Read();
  ASSERT_EQ(current.Artist, "piman; jzig; third");
  EXPECT_FALSE(WriteChangedFields(tags, current, current));
  TAudioTag wanted = current;
  wanted.Title = "Other";
  ASSERT_TRUE(WriteChangedFields(tags, current, wanted));
  EXPECT_EQ(tags.GetText("TITLE"), "Other");
  std::vector<std::pair<std::string, std::string>> want = before;
  want[1].second = "Other";
  EXPECT_EQ(entries(), want);

  for (const char *typed : {"X", "AC; DC", "piman; jzig"}) {
    SCOPED_TRACE(typed);
    const TAudioTag now = Read();
    wanted = now;
    wanted.Artist = typed;
    ASSERT_TRUE(WriteChangedFields(tags, now, wanted));
    EXPECT_EQ(tags.TypeCount("ARTIST"), 1);
    EXPECT_EQ(tags.GetText("ARTIST"), typed);
    EXPECT_EQ(Read().Artist, typed);
  }
  const TAudioTag now = Read();
  wanted = now;
  wanted.Artist.clear();
  ASSERT_TRUE(WriteChangedFields(tags, now, wanted));
  EXPECT_EQ(tags.Exists("ARTIST"), -1);
}

struct TSeparateValuesCase {
  const char *Name;
  std::vector<std::pair<const char *, const char *>> Entries;
  std::string TAudioTag::*Member;
  std::vector<std::string> Want;  // the separate values the record keeps; none: one value
};

// The record keeps the separate values of a free-text field when the file holds two or more
// (in entries, or lines of one entry); numbers and multi-line fields keep none.
TEST_F(TagServiceFields, RecordKeepsTheSeparateValues)
{
  const TSeparateValuesCase cases[] = {
    {"two_entries", {{"ARTIST", "piman"}, {"TITLE", "T"}, {"ARTIST", "jzig"}}, &TAudioTag::Artist, {"piman", "jzig"}},
    {"lines_of_one_entry", {{"GENRE", "Rock\r\nPop"}, {"GENRE", "Jazz"}}, &TAudioTag::Genre, {"Rock", "Pop", "Jazz"}},
    {"empty_ones_left_out", {{"ALBUM", ""}, {"ALBUM", "A\r\n"}, {"ALBUM", "B"}}, &TAudioTag::Album, {"A", "B"}},
    {"one_value", {{"ARTIST", "AC; DC"}}, &TAudioTag::Artist, {}},
    {"fallback_name", {{"ORIGARTIST", "A"}, {"ORIGARTIST", "B"}}, &TAudioTag::OrigArtist, {"A", "B"}},
    {"number", {{"BPM", "120"}, {"BPM", "90"}}, &TAudioTag::BPM, {}},
    {"comment", {{"COMMENT", "one\r\ntwo"}}, &TAudioTag::Comment, {}},
  };
  for (const TSeparateValuesCase &c : cases) {
    tags.Clear();
    for (const auto &[name, value] : c.Entries) tags.Add(name)->Value = value;
    const TAudioTag record = Read();
    EXPECT_EQ(HasSeparateValues(record, c.Member), !c.Want.empty()) << c.Name;
    if (!c.Want.empty()) {
      EXPECT_EQ(FieldValues(record, c.Member), c.Want) << c.Name;
    }
    EXPECT_EQ(record.SeparateValues.size(), c.Want.empty() ? 0u : 1u) << c.Name;
  }
}

// A record taken before an edit (what an undo step keeps) writes its separate values back as
// entries of their own, in order where the name's first entry is; then it matches the
// container and writes nothing. A container holding the joined text as one value gets the
// values apart again; a text typed over kept values, or one value written to a field that
// shows several, stays one value.
TEST_F(TagServiceFields, SeparateValuesOfARecordGoBackAsEntriesOfTheirOwn)
{
  tags.Add("ARTIST")->Value = "piman";
  tags.Add("TITLE")->Value = "Song";
  tags.Add("ARTIST")->Value = "jzig\r\nthird";
  const auto entries = [&] {
    std::vector<std::pair<std::string, std::string>> got;
    for (const auto &t : tags.Tags) got.emplace_back(t->Name, t->Value);
    return got;
  };
  using TEntries = std::vector<std::pair<std::string, std::string>>;
  const TAudioTag before = Read();
  ASSERT_EQ(before.Artist, "piman; jzig; third");

  TAudioTag edited = before;
  SetFieldText(edited, &TAudioTag::Artist, "X");
  ASSERT_TRUE(WriteChangedFields(tags, before, edited));
  EXPECT_EQ(entries(), (TEntries{{"ARTIST", "X"}, {"TITLE", "Song"}}));

  ASSERT_TRUE(WriteChangedFields(tags, Read(), before));
  EXPECT_EQ(entries(), (TEntries{{"ARTIST", "piman"}, {"ARTIST", "jzig"}, {"ARTIST", "third"}, {"TITLE", "Song"}}));
  EXPECT_EQ(Read(), before);
  EXPECT_FALSE(WriteChangedFields(tags, Read(), before));

  // The joined text as one value (what writing the text alone would leave).
  tags.Clear();
  tags.Add("TITLE")->Value = "Song";
  tags.Add("ARTIST")->Value = "piman; jzig; third";
  ASSERT_TRUE(WriteChangedFields(tags, Read(), before));
  EXPECT_EQ(entries(), (TEntries{{"TITLE", "Song"}, {"ARTIST", "piman"}, {"ARTIST", "jzig"}, {"ARTIST", "third"}}));
  // Other values that join to the same text are other values as well.
  tags.Clear();
  tags.Add("ARTIST")->Value = "piman; jzig";
  tags.Add("ARTIST")->Value = "third";
  tags.Add("TITLE")->Value = "Song";
  ASSERT_TRUE(WriteChangedFields(tags, Read(), before));
  EXPECT_EQ(Read(), before);

  // A record that kept values but whose text was typed over writes the text as one value.
  TAudioTag typed = before;
  typed.Artist = "AC; DC";
  ASSERT_TRUE(WriteChangedFields(tags, Read(), typed));
  EXPECT_EQ(entries(), (TEntries{{"ARTIST", "AC; DC"}, {"TITLE", "Song"}}));
  // A record without values, whose text is what the container shows, writes nothing.
  ASSERT_TRUE(WriteChangedFields(tags, Read(), before));
  TAudioTag plain = before;
  SetFieldText(plain, &TAudioTag::Artist, before.Artist);
  EXPECT_FALSE(WriteChangedFields(tags, Read(), plain));
  EXPECT_EQ(tags.TypeCount("ARTIST"), 3);
}

TEST_F(TagServiceFields, RecordTakesTheFirstPictureWhateverItsName)
{
  AddPicture("Cover Art (Front)", {0x89, 'P', 'N', 'G'}, "image/png");
  AddPicture("Cover Art (Back)", {0xFF, 0xD8, 0xFF}, "image/jpeg");
  const TAudioTag t = Read();
  EXPECT_EQ(t.CoverMime, "image/png");
  EXPECT_EQ(t.CoverData, (TBytes{0x89, 'P', 'N', 'G'}));
}

TEST_F(TagServiceFields, PicturesStayUnlessTheRecordsPictureChanged)
{
  AddPicture("Cover art 1", {0xFF, 0xD8, 1}, "image/jpeg");
  AddPicture("Cover art 2", {0xFF, 0xD8, 2}, "image/jpeg");
  AddPicture("Cover art 3", {0xFF, 0xD8, 3}, "image/jpeg");
  const TAudioTag current = Read();

  TAudioTag wanted = current;
  wanted.Title = "Edited";
  ASSERT_TRUE(WriteChangedFields(tags, current, wanted));
  ASSERT_EQ(tags.CoverArtCount(), 3);
  EXPECT_EQ(tags.CoverArts[0]->Stream.Data(), (TBytes{0xFF, 0xD8, 1}));
  EXPECT_EQ(tags.CoverArts[2]->Stream.Data(), (TBytes{0xFF, 0xD8, 3}));

  wanted.CoverData = {0x89, 'P', 'N', 'G', 9};
  wanted.CoverMime = "image/png";
  ASSERT_TRUE(WriteChangedFields(tags, current, wanted));
  ASSERT_EQ(tags.CoverArtCount(), 3);
  EXPECT_EQ(tags.CoverArts[0]->Name, "Cover art 1");
  EXPECT_EQ(tags.CoverArts[0]->Stream.Data(), wanted.CoverData);
  EXPECT_EQ(tags.CoverArts[0]->MIMEType, "image/png");
  EXPECT_EQ(tags.CoverArts[0]->PictureFormat, tpfPNG);
  EXPECT_EQ(tags.CoverArts[1]->Stream.Data(), (TBytes{0xFF, 0xD8, 2}));

  const TAudioTag replaced = Read();
  wanted = replaced;
  wanted.CoverData.clear();
  wanted.CoverMime.clear();
  ASSERT_TRUE(WriteChangedFields(tags, replaced, wanted));
  ASSERT_EQ(tags.CoverArtCount(), 2);
  EXPECT_EQ(tags.CoverArts[0]->Stream.Data(), (TBytes{0xFF, 0xD8, 2}));
  EXPECT_EQ(tags.CoverArts[1]->Stream.Data(), (TBytes{0xFF, 0xD8, 3}));
}

TEST_F(TagServiceFields, PictureIsAddedWhenThereIsNone)
{
  const TAudioTag current = Read();
  TAudioTag wanted = current;
  wanted.CoverData = {0xFF, 0xD8, 0xFF, 0xE0};
  ASSERT_TRUE(WriteChangedFields(tags, current, wanted));
  ASSERT_EQ(tags.CoverArtCount(), 1);
  EXPECT_EQ(tags.CoverArts[0]->Name, "Cover art 1");
  EXPECT_EQ(tags.CoverArts[0]->CoverType, 3) << "front cover";
  // A record without a MIME type gets the one its bytes show.
  EXPECT_EQ(tags.CoverArts[0]->MIMEType, "image/jpeg");
  EXPECT_EQ(Read().CoverData, wanted.CoverData);
}

// A large picture stays in the file while the record is listed, and comes whole when the file
// is shown; a file changed in between is a load error, never a wrong or missing picture.
TEST(TagServicePictures, LargePictureIsFetchedOnlyWhenAsked)
{
  TempDir dir;
  const std::string path = dir.CopyFixture("mp3/notags.mp3", "cover.mp3");
  TBytes picture(300 * 1024);
  for (std::size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<std::uint8_t>(i * 13 + (i >> 10));
  picture[0] = 0xFF;
  picture[1] = 0xD8;
  TTagService service;
  TAudioTag record;
  ASSERT_TRUE(service.LoadTag(path, record));
  record.Title = "With a cover";
  record.CoverData = picture;
  record.CoverMime = "image/jpeg";
  ASSERT_TRUE(service.SaveTag(record));

  TAudioTag listed;
  std::uint64_t coverSize = 0;
  ASSERT_TRUE(service.LoadTagInfo(path, listed, coverSize));
  EXPECT_EQ(listed.Title, "With a cover");
  EXPECT_EQ(coverSize, picture.size());
  EXPECT_EQ(listed.CoverMime, "image/jpeg");
  EXPECT_TRUE(listed.CoverData.empty());

  TAudioTag shown;
  ASSERT_TRUE(service.LoadTag(path, shown));
  EXPECT_EQ(shown.CoverData, picture);
  EXPECT_EQ(listed.Title, shown.Title);
}

} // namespace
