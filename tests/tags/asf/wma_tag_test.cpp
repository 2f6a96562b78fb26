// TWMATag over the WMA fixtures (tagged by ffmpeg + mutagen and by kid3): the attributes mutagen
// reads, pictures, saves into files (in place and rebuilt, every write failing in turn), removal,
// and the attribute and picture API.

#include <gtest/gtest.h>

#include <map>

#include <sys/stat.h>

#include "tags/asf/wma_picture.h"
#include "tags/asf/wma_tag.h"
#include "tags/streams/file_io.h"
#include "tags/streams/rewrite_plan.h"
#include "tests/support/asf_bytes.h"
#include "tests/support/write_faults.h"

namespace {

struct TExpected {
  std::string Name;
  WMT_ATTR_DATATYPE Format;
  std::string Text;
};

// What mutagen.asf reads from the fixtures. Rating, which wma-kid3.wma stores empty, is no
// attribute here: the media runtime reports none for an empty value either.
std::map<std::string, std::pair<WMT_ATTR_DATATYPE, std::string>> Common(const char *TrackNumberText,
                                                                        WMT_ATTR_DATATYPE TrackNumberType)
{
  return {
    {"Title", {WMT_TYPE_STRING, "Bj\xC3\xB6rk \xE2\x80\x93 J\xC3\xB3ga \xE2\x99\xAB \xE6\x97\xA5\xE6\x9C\xAC"}},
    {"Author", {WMT_TYPE_STRING, "Test Artist"}},
    {"Copyright", {WMT_TYPE_STRING, "\xC2\xA9 2021 Test Label"}},
    {"Description", {WMT_TYPE_STRING, "Generated test comment"}},
    {"WM/Genre", {WMT_TYPE_STRING, "Rock"}},
    {"WM/Year", {WMT_TYPE_STRING, "2021-05-04"}},
    {"WM/EncodedBy", {WMT_TYPE_STRING, "make_corpus"}},
    {"WM/Lyrics", {WMT_TYPE_STRING, "Line one\nLine two \xE2\x80\x93 \xE2\x99\xAB\nLine three"}},
    {"WM/OriginalArtist", {WMT_TYPE_STRING, "Original Test Artist"}},
    {"WM/PartOfSet", {WMT_TYPE_STRING, "1/2"}},
    {"WM/Composer", {WMT_TYPE_STRING, "Test Composer"}},
    {"WM/AlbumArtist", {WMT_TYPE_STRING, "Various Test Artists"}},
    {"WM/AlbumTitle", {WMT_TYPE_STRING, "Test Album"}},
    {"WM/AuthorURL", {WMT_TYPE_STRING, "https://example.com/track/3"}},
    {"WM/TrackNumber", {TrackNumberType, TrackNumberText}},
    {"WM/BeatsPerMinute", {WMT_TYPE_STRING, "128"}},
    {"WM/Picture", {WMT_TYPE_BINARY, "0"}},
  };
}

struct FixtureCase {
  const char *name;
  const char *file;
  std::map<std::string, std::pair<WMT_ATTR_DATATYPE, std::string>> attributes;
  std::string mime;
  std::int64_t pictureSize;
  std::string pictureStart;  // the first bytes of the picture data
};

class WMAFixture : public ::testing::TestWithParam<FixtureCase> {};

TEST_P(WMAFixture, LoadsWhatMutagenReads)
{
  const FixtureCase &c = GetParam();
  TWMATag tag;
  ASSERT_EQ(tag.LoadFromFile(FixturePath(c.file)), wmaOk);
  EXPECT_FALSE(tag.Damaged());
  std::map<std::string, std::pair<WMT_ATTR_DATATYPE, std::string>> got;
  for (const auto &f : tag.Frames)
    if (!TWMATag::IsPseudoAttribute(f->Name)) got[f->Name] = {f->Format, f->GetText()};
  EXPECT_EQ(got, c.attributes);
  // mutagen: length 1.021 s, 64000 bit/s, 44100 Hz, 2 channels, codec "Windows Media Audio V8".
  EXPECT_EQ(tag.Duration(), 1021);
  EXPECT_EQ(tag.BitRate(), 64);
  EXPECT_EQ(tag.SampleRate(), 44100);
  EXPECT_EQ(tag.Channels(), 2);
  EXPECT_EQ(tag.CodecInfo(), "Windows Media Audio V8");
  EXPECT_EQ(tag.CodecDescription(), "");
  EXPECT_TRUE(tag.HasAudio());
  EXPECT_FALSE(tag.IsProtected());
  EXPECT_EQ(tag.FileName, FixturePath(c.file));
  if (c.mime.empty()) {
    EXPECT_EQ(tag.CoverArtCount(), 0);
    EXPECT_FALSE(tag.HasUserAttributes());
    return;
  }
  ASSERT_EQ(tag.CoverArtCount(), 1);
  EXPECT_TRUE(tag.HasAttachedImages());
  TMemoryStream picture;
  std::string description, mime;
  std::uint8_t type = 0;
  ASSERT_EQ(tag.GetCoverArtFromFrame(tag.GetFrameIndexOfCoverArtIndex(0), picture, description, type, mime), 1);
  EXPECT_EQ(mime, c.mime);
  EXPECT_EQ(description, "Front cover");
  EXPECT_EQ(type, 3);
  EXPECT_EQ(picture.GetSize(), c.pictureSize);
  EXPECT_EQ(std::string(picture.Data().begin(), picture.Data().begin() + 4), c.pictureStart);
  EXPECT_EQ(picture.Position(), 0);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, WMAFixture, ::testing::Values(
  FixtureCase{"tagged", "wma/wma-tagged.wma", Common("3", WMT_TYPE_DWORD), "image/jpeg", 583, "\xFF\xD8\xFF\xE0"},
  FixtureCase{"kid3", "wma/wma-kid3.wma", Common("3/12", WMT_TYPE_STRING), "image/png", 384, "\x89PNG"},
  FixtureCase{"notags", "wma/wma-notags.wma", {}, "", 0, ""}),
  [](const auto &Info) { return std::string(Info.param.name); });

TEST(WMATag, UnchangedSaveWritesNothing)
{
  TempDir dir;
  for (const char *name : {"wma/wma-tagged.wma", "wma/wma-kid3.wma", "wma/wma-notags.wma"}) {
    const std::string path = dir.CopyFixture(name);
    SetOldModTime(path);
    const struct timespec before = ModTime(path);
    TWMATag tag;
    ASSERT_EQ(tag.LoadFromFile(path), wmaOk);
    TFileFacts facts;
    auto file = TFileStream::Open(path, TFileMode::fmOpenRead, facts);
    TRewritePlan plan;
    ASSERT_EQ(tag.PlanSave(*file, plan), wmaOk);
    EXPECT_TRUE(plan.ChangesNothing()) << name;
    ASSERT_EQ(tag.SaveToFile(path), wmaOk);
    EXPECT_TRUE(SameTime(ModTime(path), before)) << name;
    EXPECT_EQ(ReadFileBytes(path), ReadFileBytes(FixturePath(name)));
  }
}

// The changes every save test makes: a longer title, a new attribute, a picture replaced.
void Change(TWMATag &Tag)
{
  Tag.SetText("Title", "A new title \xE6\x97\xA5 that is longer");
  Tag.SetText("WM/Mood", "Calm");
  Tag.SetText("Author", "");
  Tag.DeleteAllCoverArts();
  TMemoryStream png(Bytes().Str("\x89PNG\r\n\x1A\n").Fill(300, 0x42).v);
  ASSERT_GE(Tag.AddCoverArtFrame(png, "image/png", "New cover", 3), 0);
}

void CheckChanged(const std::string &Path)
{
  TWMATag again;
  ASSERT_EQ(again.LoadFromFile(Path), wmaOk);
  EXPECT_EQ(again.GetText("Title"), "A new title \xE6\x97\xA5 that is longer");
  EXPECT_EQ(again.GetText("WM/Mood"), "Calm");
  EXPECT_EQ(again.FrameExists("Author"), -1);
  ASSERT_EQ(again.CoverArtCount(), 1);
  std::string mime, description;
  std::int64_t size = 0;
  std::uint8_t type = 0;
  ASSERT_EQ(again.GetCoverArtInfo(again.GetFrameIndexOfCoverArtIndex(0), mime, size, description, type), 1);
  EXPECT_EQ(mime, "image/png");
  EXPECT_EQ(description, "New cover");
  EXPECT_EQ(size, 308);
}

TEST(WMATag, SaveIntoFileKeepsTheAudio)
{
  TempDir dir;
  const std::string path = dir.CopyFixture("wma/wma-tagged.wma");
  const Bytes8 old = ReadFileBytes(path);
  TWMATag tag;
  ASSERT_EQ(tag.LoadFromFile(path), wmaOk);
  Change(tag);
  ASSERT_EQ(tag.SaveToFile(path), wmaOk);
  CheckChanged(path);
  // Everything from the data object on is the old bytes (the data object is 9650 bytes at the end).
  const Bytes8 now = ReadFileBytes(path);
  ASSERT_GE(now.size(), 9650u);
  EXPECT_TRUE(std::equal(now.end() - 9650, now.end(), old.end() - 9650));
  EXPECT_EQ(tag.FileSize(), static_cast<std::int64_t>(now.size()));
  // The picture's disk form: type, data length, MIME, description, data; no address fields.
  const Bytes8 stored = Bytes().U8(3).U32LE(308).Append(ASFUtf16("image/png")).Append(ASFUtf16("New cover")).Str("\x89PNG").v;
  EXPECT_NE(std::search(now.begin(), now.end(), stored.begin(), stored.end()), now.end());
  // The only directory entry is the file: the temporary file is gone.
  EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"wma-tagged.wma"});
}

struct FaultCase {
  const char *name;
  bool inPlace;
};

class WMAWriteFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(WMAWriteFaults, EveryFailedWriteLeavesTheFileAsItWas)
{
  const FaultCase &c = GetParam();
  TempDir faults;
  bool inPlace = !c.inPlace;
  const TWriteFailureRun run = RunFailingEachPlannedWrite(
    faults.Path(), "wma/wma-tagged.wma", "", [&](const std::string &Path, TRewritePlan &Plan) {
      TWMATag tag;
      ASSERT_EQ(tag.LoadFromFile(Path), wmaOk);
      // The same number of characters keeps the header's size.
      if (c.inPlace) tag.SetText("WM/Genre", "Jazz");
      else Change(tag);
      TFileFacts facts;
      auto file = TFileStream::Open(Path, TFileMode::fmOpenRead, facts);
      ASSERT_TRUE(file);
      TRewritePlan planned;
      ASSERT_EQ(tag.PlanSave(*file, planned), wmaOk);
      ASSERT_TRUE(ComposePlans(file->GetSize(), std::span<const TRewritePlan>(&planned, 1), Plan));
      inPlace = Plan.InPlace;
    });
  EXPECT_TRUE(run.Succeeded);
  EXPECT_GT(run.Failures, 0);
  EXPECT_EQ(inPlace, c.inPlace);
}

INSTANTIATE_TEST_SUITE_P(Saves, WMAWriteFaults, ::testing::Values(FaultCase{"rebuilt", false}, FaultCase{"in_place", true}),
                         [](const auto &Info) { return std::string(Info.param.name); });

TEST(WMATag, EveryFailedSaveThroughSaveToFileIsReported)
{
  TempDir dir;
  const std::string path = dir.Path() + "/x.wma";
  const Bytes8 old = ReadFileBytes(FixturePath("wma/wma-kid3.wma"));
  TWMATag tag;
  TWriteFailureSteps steps;
  steps.Prepare = [&] {
    WriteFileBytes(path, old);
    ASSERT_EQ(tag.LoadFromFile(path), wmaOk);
    Change(tag);
  };
  steps.Save = [&] { return tag.SaveToFile(path) == wmaOk; };
  steps.CheckIntact = [&](int N) {
    EXPECT_EQ(ReadFileBytes(path), old) << N;
    EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"x.wma"}) << N;
  };
  const TWriteFailureRun run = RunFailingEachWriteInTurn(steps);
  EXPECT_TRUE(run.Succeeded);
  EXPECT_GT(run.Failures, 0);
  CheckChanged(path);
}

TEST(WMATag, RemovalTakesEveryUserAttribute)
{
  TempDir dir;
  const std::string path = dir.CopyFixture("wma/wma-tagged.wma");
  ASSERT_EQ(RemoveWMATagFromFile(path, false), wmaOk);
  TWMATag tag;
  ASSERT_EQ(tag.LoadFromFile(path), wmaOk);
  EXPECT_FALSE(tag.HasUserAttributes());
  EXPECT_EQ(tag.CoverArtCount(), 0);
  EXPECT_EQ(tag.Duration(), 1021);
  EXPECT_EQ(tag.CodecInfo(), "Windows Media Audio V8");
  // Again: nothing left to take, nothing written.
  SetOldModTime(path);
  const struct timespec before = ModTime(path);
  ASSERT_EQ(RemoveWMATagFromFile(path, false), wmaOk);
  EXPECT_TRUE(SameTime(ModTime(path), before));
}

TEST(WMATag, MissingAndReadOnlyFiles)
{
  TempDir dir;
  TWMATag tag;
  EXPECT_EQ(tag.LoadFromFile(dir.Path() + "/none.wma"), wmaFileNotFound);
  EXPECT_EQ(tag.SaveToFile(dir.Path() + "/none.wma"), wmaFileNotFound);
  EXPECT_EQ(RemoveWMATagFromFile(dir.Path() + "/none.wma", false), wmaFileNotFound);
  const std::string path = dir.CopyFixture("wma/wma-tagged.wma");
  ASSERT_EQ(tag.LoadFromFile(path), wmaOk);
  tag.SetText("Title", "x");
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  EXPECT_EQ(tag.SaveToFile(path), wmaReadOnly);
  EXPECT_EQ(ReadFileBytes(path), ReadFileBytes(FixturePath("wma/wma-tagged.wma")));
  const std::string text = dir.Write("text.wma", Bytes().Str("not an asf file at all").v);
  EXPECT_EQ(tag.LoadFromFile(text), wmaNotASF);
  tag.SetText("Title", "x");
  EXPECT_EQ(tag.SaveToFile(text), wmaNotASF);
}

TEST(WMATag, PreservesModificationTimeWhenAsked)
{
  TempDir dir;
  const std::string path = dir.CopyFixture("wma/wma-tagged.wma");
  SetOldModTime(path);
  const struct timespec before = ModTime(path);
  TWMATag tag;
  tag.PreserveFileDateTime = true;
  ASSERT_EQ(tag.LoadFromFile(path), wmaOk);
  Change(tag);
  ASSERT_EQ(tag.SaveToFile(path), wmaOk);
  EXPECT_TRUE(SameTime(ModTime(path), before));
}

// ---- the attribute API

TEST(WMATagFrame, TextOfEveryType)
{
  TWMATagFrame f;
  EXPECT_EQ(f.Format, WMT_TYPE_UNKNOWN);
  ASSERT_TRUE(f.SetInteger(WMT_TYPE_DWORD, 5));
  EXPECT_EQ(f.GetText(), "5");
  EXPECT_EQ(f.Stream, (TBytes{5, 0, 0, 0}));
  ASSERT_TRUE(f.SetInteger(WMT_TYPE_WORD, 0x10203));
  EXPECT_EQ(f.GetInteger(), 0x0203u);
  ASSERT_TRUE(f.SetInteger(WMT_TYPE_QWORD, 1ULL << 40));
  EXPECT_EQ(f.GetText(), "1099511627776");
  EXPECT_FALSE(f.SetInteger(WMT_TYPE_STRING, 1));
  EXPECT_EQ(f.Format, WMT_TYPE_QWORD);
  f.SetAsGUID(kASFHeaderObject);
  EXPECT_EQ(f.GetText(), "{75B22630-668E-11CF-A6D9-00AA0062CE6C}");
  f.SetText("Ab\xE2\x99\xAB");
  EXPECT_EQ(f.Stream, (TBytes{'A', 0, 'b', 0, 0x6B, 0x26, 0, 0}));
  EXPECT_EQ(f.GetText(), "Ab\xE2\x99\xAB");
  // A number too short for its type reads as 0.
  f.Format = WMT_TYPE_DWORD;
  f.Stream = {1, 2};
  EXPECT_EQ(f.GetInteger(), 0u);
  f.Clear();
  EXPECT_EQ(f.Format, WMT_TYPE_UNKNOWN);
  EXPECT_TRUE(f.Stream.empty());
}

TEST(WMATagFrame, Lists)
{
  TWMATagFrame f;
  f.SetList({"producer", "Alice", " ", "dropped", "mixer", "Bob"});
  std::vector<std::string> list;
  ASSERT_TRUE(f.GetList(list));
  EXPECT_EQ(list, (std::vector<std::string>{"producer", "Alice", "mixer", "Bob"}));
  EXPECT_EQ(f.Format, WMT_TYPE_STRING);
  // Name, CR LF, value, CR LF in UTF-16 units.
  f.SetList({"a", "b"});
  EXPECT_EQ(f.Stream, (TBytes{'a', 0, 13, 0, 10, 0, 'b', 0, 13, 0, 10, 0}));
}

TEST(WMATag, EntriesByName)
{
  TWMATag tag;
  tag.SetText("WM/AlbumTitle", "One");
  EXPECT_EQ(tag.GetText("wm/albumtitle"), "One");
  tag.SetText("WM/ALBUMTITLE", "Two");
  EXPECT_EQ(tag.Count(), 1);
  EXPECT_EQ(tag.GetText("WM/AlbumTitle"), "Two");
  EXPECT_EQ(tag.GetAttribIndex("WM/ALBUMTITLE"), -1);
  tag.SetInteger("WM/TrackNumber", WMT_TYPE_DWORD, 4);
  EXPECT_EQ(tag.GetText("WM/TrackNumber"), "4");
  EXPECT_FALSE(tag.SetInteger("Other", WMT_TYPE_BINARY, 1));
  EXPECT_EQ(tag.FrameExists("Other"), -1);
  tag.SetText("WM/AlbumTitle", "");
  EXPECT_EQ(tag.FrameExists("WM/AlbumTitle"), -1);
  TWMATagFrame *f = tag.AddFrame("X");
  EXPECT_EQ(f->GetIndex(), 1);
  EXPECT_TRUE(f->Delete());
  EXPECT_EQ(tag.Count(), 1);
  tag.SetText("Title", "abc");
  // 4 bytes + 2 x 14 + 7, and 8 bytes + 2 x 5 + 7.
  EXPECT_EQ(tag.CalculateTagSize(), 39 + 25);
  TWMATag copy(tag);
  EXPECT_EQ(copy.Count(), 2);
  EXPECT_EQ(copy.Frames[1]->Parent, &copy);
  EXPECT_EQ(copy.GetText("Title"), "abc");
}

TEST(WMATag, PictureRecord)
{
  TWMATag tag;
  TMemoryStream png(Bytes().Str("\x89PNG").Fill(996, 1).v);
  png.Seek(0, TSeekOrigin::soEnd);  // read from position 0 all the same
  const int index = tag.AddCoverArtFrame(png, "image/png", "", 3);
  ASSERT_EQ(index, 0);
  const TWMATagFrame &f = *tag.Frames[0];
  EXPECT_EQ(f.Format, WMT_TYPE_BINARY);
  EXPECT_EQ(f.Stream.size(), 17u + 20 + 2 + 1000);
  // The address fields hold zeros.
  EXPECT_EQ(Bytes8(f.Stream.begin(), f.Stream.begin() + 4), Bytes8(4, 0));
  EXPECT_EQ(Bytes8(f.Stream.begin() + 5, f.Stream.begin() + 9), Bytes8(4, 0));
  EXPECT_EQ(Bytes8(f.Stream.begin() + 13, f.Stream.begin() + 17), Bytes8(4, 0));
  EXPECT_EQ(f.Stream[4], 3);
  std::uint8_t type = 0;
  std::string mime, description;
  std::int64_t size = 0;
  const std::uint8_t *data = nullptr;
  ASSERT_EQ(tag.GetCoverArtInfoPointer(0, type, mime, description, size, data), 1);
  EXPECT_EQ(size, 1000);
  EXPECT_EQ(data, f.Stream.data() + 39);
  // A record whose data length claims more than it holds is no picture.
  tag.Frames[0]->Stream[9] = 0xFF;
  EXPECT_EQ(tag.GetCoverArtInfo(0, mime, size, description, type), 0);
  EXPECT_FALSE(tag.ValidatePictureFrame(0));
  // Stored and record forms carry the same bytes.
  const Bytes8 stored = Bytes().U8(4).U32LE(2).Append(ASFUtf16("image/gif")).Append(ASFUtf16("d")).Str("GI").Str("tail").v;
  TBytes record, back;
  ASSERT_TRUE(WMAPictureRecordFromStored(stored, record));
  ASSERT_TRUE(WMAPictureStoredFromRecord(record, back));
  EXPECT_EQ(back, stored);
  TWMAPictureParts parts;
  ASSERT_TRUE(ParseWMAPictureRecord(record, parts));
  EXPECT_EQ(parts.Description, "d");
  EXPECT_EQ(std::string(parts.Data.begin(), parts.Data.end()), "GI");
  tag.DeleteAllCoverArts();
  EXPECT_EQ(tag.Count(), 0);
}

TEST(WMATag, RatingScale)
{
  struct Case {
    std::uint64_t from, to;
  };
  for (const Case c : {Case{0, 0}, Case{1, 2}, Case{50, 128}, Case{98, 252}, Case{99, 255}})
    EXPECT_EQ(WMARatingTo255(c.from), c.to) << c.from;
  for (const Case c : {Case{0, 0}, Case{2, 0}, Case{128, 49}, Case{254, 98}, Case{255, 99}})
    EXPECT_EQ(WMARatingFrom255(c.from), c.to) << c.from;
  EXPECT_EQ(WMARatingTo255(0xFFFFFFFFULL), 0xFFFFFFFFULL / 99 * 255 + 0xFFFFFFFFULL % 99 * 255 / 99);
  EXPECT_EQ(WMARatingTo255(~0ULL), ~0ULL);
  EXPECT_EQ(WMARatingFrom255(~0ULL), ~0ULL / 255 * 99 + ~0ULL % 255 * 99 / 255);

  // Loaded as 0 to 255 and stored back as 0 to 99; a DWORD that would overflow keeps its width.
  const Bytes8 file = ASFMinimalFile({ASFExtendedContent({{"WM/SharedUserRating", 3, Bytes().U32LE(99).v},
                                                          {"Other", 3, Bytes().U32LE(99).v}})});
  TMemoryStream content{TBytes(file)};
  TWMATag tag;
  tag.NormalizeRatingTo255 = true;
  ASSERT_EQ(tag.LoadFromStream(content), wmaOk);
  EXPECT_EQ(tag.GetInteger("WM/SharedUserRating"), 255u);
  EXPECT_EQ(tag.GetInteger("Other"), 99u);
  TRewritePlan plan;
  ASSERT_EQ(tag.PlanSave(content, plan), wmaOk);
  EXPECT_TRUE(plan.ChangesNothing());
  tag.SetInteger("WM/SharedUserRating", WMT_TYPE_DWORD, 128);
  ASSERT_EQ(tag.SaveToStream(content), wmaOk);
  EXPECT_EQ(tag.GetInteger("WM/SharedUserRating"), 128u) << "the list keeps its scale";
  TWMATag raw;
  ASSERT_EQ(raw.LoadFromStream(content), wmaOk);
  EXPECT_EQ(raw.GetInteger("WM/SharedUserRating"), 49u);

  const Bytes8 huge = ASFMinimalFile({ASFExtendedContent({{"WM/SharedUserRating", 3, Bytes().U32LE(0xFFFFFFF0).v}})});
  TMemoryStream hugeContent{TBytes(huge)};
  ASSERT_EQ(tag.LoadFromStream(hugeContent), wmaOk);
  EXPECT_EQ(tag.GetInteger("WM/SharedUserRating"), 0xFFFFFFFFu);
}

} // namespace
