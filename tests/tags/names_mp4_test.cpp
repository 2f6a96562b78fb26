// The container's copy between generic entries and the items of MP4 files: what loads, what a
// save writes (only changed names), what it leaves byte for byte, and what it refuses.

#include <gtest/gtest.h>

#include <algorithm>

#include "tags/streams/file_io.h"
#include "tags/tag_container.h"
#include "tests/support/tag_entries.h"
#include "tests/support/test_support.h"

namespace {

// The whole atoms of the items, in order, as another file reader would see them.
std::vector<TBytes> ItemBytes(const std::string &Path)
{
  TTags tags;
  EXPECT_EQ(tags.LoadFromFile(Path), tagsOk);
  std::vector<TBytes> items;
  for (const TMP4Atom &a : tags.MP4Tag.Atoms()) {
    TBytes b;
    EXPECT_TRUE(a.Build(b));
    items.push_back(b);
  }
  return items;
}

const TMP4Atom *Item(const TTags &Tags, const char *Name)
{
  for (const TMP4Atom &a : Tags.MP4Tag.Atoms())
    if (a.ID() == TAtomName(Name)) return &a;
  return nullptr;
}

int SaveEntries(const std::string &Path, std::initializer_list<std::pair<const char *, const char *>> Entries)
{
  TTags tags;
  EXPECT_EQ(tags.LoadFromFile(Path), tagsOk);
  for (const auto &[name, value] : Entries) tags.SetText(name, value);
  return tags.SaveToFile(Path, ttAutomatic);
}

} // namespace

// A title edit writes the title item alone: a full release date, integer items of every width,
// free-form items and pictures keep their bytes.
TEST(MP4Names, ATitleEditWritesOnlyTheTitle)
{
  for (const char *fixture : {"m4a/aac-itunes-ints.m4a", "m4a/aac-atomicparsley.m4a", "m4a/alac-kid3.m4a",
                              "m4a/aac-free-after-moov.m4a"}) {
    SCOPED_TRACE(fixture);
    TempDir dir;
    const std::string path = dir.CopyFixture(fixture);
    const std::vector<TBytes> before = ItemBytes(path);
    ASSERT_EQ(SaveEntries(path, {{"TITLE", "Changed title"}}), tagsOk);
    const std::vector<TBytes> after = ItemBytes(path);
    ASSERT_EQ(after.size(), before.size());
    TTags tags;
    ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
    for (std::size_t i = 0; i < after.size(); ++i) {
      if (tags.MP4Tag.Atoms()[i].ID() == TAtomName("\xA9" "nam")) continue;
      EXPECT_EQ(after[i], before[i]) << i;
    }
    EXPECT_EQ(tags.GetText("TITLE"), "Changed title");
  }
  TempDir dir;
  const std::string path = dir.CopyFixture("m4a/aac-itunes-ints.m4a");
  ASSERT_EQ(SaveEntries(path, {{"TITLE", "x"}}), tagsOk);
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  EXPECT_EQ(tags.GetText("RELEASEDATE"), "2004-05-12T07:00:00Z");
  EXPECT_EQ(tags.MP4Tag.GetInteger64("plID"), 1234567890123u);
}

// Names and their items, both ways.
TEST(MP4Names, EntriesAndTheirItems)
{
  TempDir dir;
  const std::string path = dir.CopyFixture("m4a/aac-moov-start.m4a");
  {
    TTags tags;
    ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
    EXPECT_EQ(EntryValues(tags, "TRACKNUMBER"), std::vector<std::string>{"3"});
    EXPECT_EQ(EntryValues(tags, "TOTALTRACKS"), std::vector<std::string>{"12"});
    EXPECT_EQ(EntryValues(tags, "ORIGINALARTIST"), std::vector<std::string>{"Original Test Artist"});
    EXPECT_EQ(tags.GetText("GENRE"), "Rock");
  }
  ASSERT_EQ(SaveEntries(path, {{"TRACKNUMBER", "5/9"},
                               {"ORIGINALARTIST", "Somebody Else"},
                               {"ORIGINALTITLE", "New free-form item"},
                               {"PARTOFCOMPILATION", "0"},
                               {"BPM", "140"},
                               {"GENRE", "Jazz"}}),
            tagsOk);
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  EXPECT_EQ(tags.MP4Tag.GetTrack(), 5);
  EXPECT_EQ(tags.MP4Tag.GetTotalTracks(), 9);
  EXPECT_EQ(tags.MP4Tag.GetCommon("ORIGINALARTIST", "com.apple.iTunes"), "Somebody Else");
  EXPECT_EQ(tags.MP4Tag.GetCommon("ORIGINALTITLE", "com.apple.iTunes"), "New free-form item");
  EXPECT_EQ(tags.GetText("ORIGINALTITLE"), "New free-form item");
  ASSERT_NE(Item(tags, "cpil"), nullptr);
  EXPECT_FALSE(tags.MP4Tag.GetBool("cpil"));
  // The tempo is an integer item, never text.
  ASSERT_NE(Item(tags, "tmpo"), nullptr);
  EXPECT_NE(Item(tags, "tmpo")->Datas().front().DataType, 1u);
  EXPECT_EQ(tags.MP4Tag.GetInteger16("tmpo"), 140);
  EXPECT_EQ(tags.GetText("GENRE"), "Jazz");
  EXPECT_EQ(Item(tags, "\xA9" "gen"), nullptr);  // a table genre goes to "gnre"

  // A boolean item takes "0" as false, anything else (empty too) as true.
  ASSERT_EQ(SaveEntries(path, {{"PARTOFCOMPILATION", "1"}}), tagsOk);
  TTags again;
  ASSERT_EQ(again.LoadFromFile(path), tagsOk);
  EXPECT_TRUE(again.MP4Tag.GetBool("cpil"));
}

// A rating read from an item without a save name goes to a free-form item; deleting an entry
// deletes its item.
TEST(MP4Names, RatingMovesToAFreeFormItemAndDeletedEntriesGo)
{
  TempDir dir;
  const std::string path = dir.CopyFixture("m4a/aac-notags.m4a");
  {
    TTags tags;
    ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
    tags.MP4Tag.AddAtom("SErg").AddData(1, TBytes{'4'});
    tags.SetText("COMMENT", "to be deleted");
    ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
  }
  {
    TTags tags;
    ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
    EXPECT_EQ(tags.GetText("RATING"), "4");
    tags.SetText("RATING", "5");
    tags.Delete("COMMENT");
    ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
  }
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  EXPECT_EQ(Item(tags, "SErg"), nullptr);
  EXPECT_EQ(tags.MP4Tag.GetCommon("RATING", "com.apple.iTunes"), "5");
  EXPECT_EQ(Item(tags, "\xA9" "cmt"), nullptr);
  EXPECT_EQ(tags.GetText("COMMENT"), "");
}

// Pictures go in as the type their bytes say, and load with the format and MIME type of their
// bytes.
TEST(MP4Names, PicturesByTheirContent)
{
  TempDir dir;
  const std::string path = dir.CopyFixture("m4a/aac-moov-end.m4a");
  {
    TTags tags;
    ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
    tags.DeleteAllCoverArts();
    TMemoryStream png{TBytes(ReadFileBytes(FixturePath("images/cover.png")))};
    TMemoryStream jpeg{TBytes(ReadFileBytes(FixturePath("images/cover.jpg")))};
    ASSERT_NE(tags.AddCoverArt("Cover art 1", png, "image/jpeg"), nullptr);  // the MIME type given is wrong
    ASSERT_NE(tags.AddCoverArt("Cover art 2", jpeg, ""), nullptr);
    ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
  }
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  const TMP4Atom *covr = Item(tags, "covr");
  ASSERT_NE(covr, nullptr);
  ASSERT_EQ(covr->Count(), 2);
  EXPECT_EQ(covr->Datas()[0].DataType, 14u);
  EXPECT_EQ(covr->Datas()[1].DataType, 13u);
  ASSERT_EQ(tags.CoverArtCount(), 2);
  EXPECT_EQ(tags.CoverArts[0]->PictureFormat, tpfPNG);
  EXPECT_EQ(tags.CoverArts[0]->MIMEType, "image/png");
  EXPECT_EQ(tags.CoverArts[1]->MIMEType, "image/jpeg");
}

// Removal leaves the gapless playback information and the encoding tool, nothing else.
TEST(MP4Names, RemovalKeepsGaplessInformationAndEncodingTool)
{
  TempDir dir;
  const std::string path = dir.CopyFixture("m4a/aac-itunes-ints.m4a");
  ASSERT_EQ(RemoveTagsFromFile(path, ttMP4), tagsOk);
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  std::vector<std::string> left;
  for (const TMP4Atom &a : tags.MP4Tag.Atoms()) left.push_back(a.ID().Text() + ":" + a.GetName());
  EXPECT_EQ(left, (std::vector<std::string>{"©too:", "----:iTunSMPB"}));
  EXPECT_EQ(tags.CoverArtCount(), 0);
}

// Files the writer must not touch: each save is refused with its code and the file stays as it
// was.
TEST(MP4Names, RefusedSavesLeaveTheFile)
{
  const Bytes8 fixture = ReadFileBytes(FixturePath("m4a/aac-moov-start.m4a"));
  // The first item's size reaches past the item list: the load keeps nothing after it.
  Bytes8 damaged = fixture;
  const auto ilst = std::search(damaged.begin(), damaged.end(), std::begin("ilst"), std::end("ilst") - 1);
  ASSERT_NE(ilst, damaged.end());
  std::fill_n(ilst + 4, 4, 0x7F);
  Bytes8 fragmented = fixture;
  const Bytes8 moof = Bytes().U32BE(16).Str("moof").U32BE(8).Str("mfhd").v;
  fragmented.insert(fragmented.end(), moof.begin(), moof.end());
  const Bytes8 noMoov = Bytes().U32BE(16).Str("ftyp").Str("M4A ").U32BE(0).U32BE(16).Str("mdat").Zeros(8).v;
  struct TCase {
    const char *Name;
    Bytes8 File;
    int Code;
  };
  const TCase cases[] = {
    {"damaged item list", damaged, tagsCorrupt},
    {"fragmented", fragmented, tagsLayoutNotWritable},
    {"no moov", noMoov, tagsWrongFileKind},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Name);
    TempDir dir;
    const std::string path = dir.Path() + "/a.m4a";
    WriteFileBytes(path, c.File);
    TTags tags;
    ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
    tags.SetText("TITLE", "x");
    EXPECT_EQ(tags.SaveToFile(path, ttAutomatic), c.Code);
    EXPECT_EQ(ReadFileBytes(path), c.File);
  }
}

// The items of a changed name become exactly its entries' values, whether the file kept them as
// data atoms of one item or as items of their own.
TEST(MP4Names, AChangedNameGetsExactlyItsValues)
{
  TempDir dir;
  const std::string path = dir.CopyFixture("m4a/aac-itunes-ints.m4a");
  const auto artists = [&path] {
    TTags tags;
    EXPECT_EQ(tags.LoadFromFile(path), tagsOk);
    std::vector<std::string> values;
    tags.MP4Tag.GetMultipleValuesMultipleAtoms("\xA9" "ART", values);
    return std::make_pair(EntryValues(tags, "ARTIST"), values);
  };
  EXPECT_EQ(artists().first, (std::vector<std::string>{"Test Artist", "Second Artist"}));
  {
    TTags tags;
    ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
    tags.SetText("ARTIST", "Changed");  // the first entry; the second stays
    ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
  }
  EXPECT_EQ(artists().first, (std::vector<std::string>{"Changed", "Second Artist"}));
  {
    TTags tags;
    ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
    tags.Clear("ARTIST");
    tags.SetText("ARTIST", "Only one");
    ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
  }
  EXPECT_EQ(artists(), std::make_pair(std::vector<std::string>{"Only one"}, std::vector<std::string>{"Only one"}));
}

// A large picture stays in the file at load; when another picture changes, it is written again
// with the type it had, read from where it was.
TEST(MP4Names, APictureLeftInTheFileKeepsItsType)
{
  TempDir dir;
  const std::string path = dir.CopyFixture("m4a/aac-notags.m4a");
  Bytes8 large = ReadFileBytes(FixturePath("images/cover.jpg"));
  large.resize(large.size() + 64 * 1024, 0);  // behind the end of the JPEG: ignored by readers
  {
    TTags tags;
    ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
    TMemoryStream jpeg{TBytes(large)};
    ASSERT_NE(tags.AddCoverArt("Cover art 1", jpeg, "image/jpeg"), nullptr);
    ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
  }
  {
    TTags tags;
    ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
    ASSERT_EQ(tags.CoverArtCount(), 1);
    ASSERT_TRUE(tags.CoverArts[0]->IsDeferred());
    TMemoryStream png{TBytes(ReadFileBytes(FixturePath("images/cover.png")))};
    ASSERT_NE(tags.AddCoverArt("Cover art 2", png, "image/png"), nullptr);
    ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
  }
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  const TMP4Atom *covr = Item(tags, "covr");
  ASSERT_NE(covr, nullptr);
  ASSERT_EQ(covr->Count(), 2);
  EXPECT_EQ(covr->Datas()[0].DataType, 13u);
  EXPECT_EQ(covr->Datas()[0].ValueSize(), static_cast<std::int64_t>(large.size()));
  EXPECT_EQ(covr->Datas()[1].DataType, 14u);
  ASSERT_TRUE(tags.CoverArts[0]->LoadData());
  EXPECT_EQ(tags.CoverArts[0]->Stream.Data(), large);
}
