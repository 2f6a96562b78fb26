// The container's copy between generic entries and the Vorbis comments of FLAC and Ogg files:
// what loads, what a save writes, and what it leaves byte for byte.

#include <gtest/gtest.h>

#include <algorithm>

#include "tags/ogg/ogg_page.h"
#include "tags/streams/file_io.h"
#include "tags/tag_container.h"
#include "tags/text/text.h"
#include "tests/support/container_bytes.h"
#include "tests/support/tag_entries.h"
#include "tests/support/test_support.h"

namespace {

using TComments = std::vector<TVorbisCommentEntry>;

const TVorbisComments &CommentsOf(const TTags &Tags, bool Flac)
{
  return Flac ? Tags.FlacTag.Comments : Tags.OggVorbisAndOpusTag.Comments;
}

std::vector<TBytes> PictureBodies(const TFlacTag &Tag)
{
  std::vector<TBytes> bodies(static_cast<std::size_t>(Tag.PictureCount()));
  for (int i = 0; i < Tag.PictureCount(); ++i) EXPECT_TRUE(Tag.PictureBody(i, bodies[static_cast<std::size_t>(i)]));
  return bodies;
}

TComments LoadComments(const std::string &Path, bool Flac)
{
  TTags tags;
  EXPECT_EQ(tags.LoadFromFile(Path), tagsOk);
  return CommentsOf(tags, Flac).Entries();
}

// The comments of Before with those named Name (ASCII case folding) left out.
TComments Without(const TComments &Before, std::initializer_list<std::string_view> Names)
{
  TComments out;
  for (const TVorbisCommentEntry &e : Before) {
    std::string upper = e.Name;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
    if (std::find(Names.begin(), Names.end(), upper) == Names.end()) out.push_back(e);
  }
  return out;
}

struct TTitleCase {
  const char *Fixture;
  bool Flac;
};

// A title edit rewrites the title comment and nothing else: every other comment keeps its
// stored bytes and place, the pictures stay, and a save without an edit writes nothing.
TEST(VorbisNames, TitleEditLeavesEveryOtherCommentAsStored)
{
  const TTitleCase cases[] = {
    {"flac/vorbiscomment.flac", true}, {"flac/kid3.flac", true}, {"flac/id3v2-prepended.flac", true},
    {"oga/oggflac-tagged.oga", true},  {"ogg/vorbis-tagged.ogg", false}, {"ogg/vorbis-kid3.ogg", false},
    {"opus/opus-tagged.opus", false},
  };
  for (const TTitleCase &c : cases) {
    SCOPED_TRACE(c.Fixture);
    TempDir dir;
    const std::string path = dir.CopyFixture(c.Fixture);
    const Bytes8 original = ReadFileBytes(path);
    const TComments before = LoadComments(path, c.Flac);
    ASSERT_FALSE(before.empty());

    TTags tags;
    ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
    const int pictures = tags.CoverArtCount();
    const std::vector<TBytes> flacPictures = PictureBodies(tags.FlacTag);
    ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
    EXPECT_EQ(ReadFileBytes(path), original) << "a save without an edit wrote something";

    tags.SetText("TITLE", "Neuer Titel – ☺");
    ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
    TTags reread;
    ASSERT_EQ(reread.LoadFromFile(path), tagsOk);
    EXPECT_EQ(reread.GetText("TITLE"), "Neuer Titel – ☺");
    EXPECT_EQ(reread.CoverArtCount(), pictures);
    EXPECT_EQ(PictureBodies(reread.FlacTag), flacPictures) << "a picture block changed";
    const TComments after = CommentsOf(reread, c.Flac).Entries();
    EXPECT_EQ(Without(after, {"TITLE"}), Without(before, {"TITLE"}));
    EXPECT_EQ(std::count_if(after.begin(), after.end(), [](const auto &e) { return SameText(e.Name, "TITLE"); }), 1);
  }
}

// "3/12" in one comment loads as a number and a total; a change to either writes both as
// comments of their own, and deleting one leaves the other.
TEST(VorbisNames, TrackNumberWithTotalInOneComment)
{
  TempDir dir;
  const std::string path = dir.CopyFixture("flac/kid3.flac");
  {
    TTags tags;
    ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
    EXPECT_EQ(EntryValues(tags, "TRACKNUMBER"), std::vector<std::string>{"3"});
    EXPECT_EQ(EntryValues(tags, "TOTALTRACKS"), std::vector<std::string>{"12"});
    tags.SetText("TOTALTRACKS", "13");
    ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
  }
  {
    TTags tags;
    ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
    EXPECT_EQ(tags.FlacTag.Comments.Values("TRACKNUMBER"), std::vector<std::string>{"3"});
    EXPECT_EQ(tags.FlacTag.Comments.Values("TOTALTRACKS"), std::vector<std::string>{"13"});
  }
  // Deleting the number of a "3/12" comment keeps the total.
  const std::string other = dir.CopyFixture("flac/kid3.flac", "other.flac");
  {
    TTags tags;
    ASSERT_EQ(tags.LoadFromFile(other), tagsOk);
    ASSERT_TRUE(tags.Delete("TRACKNUMBER"));
    ASSERT_EQ(tags.SaveToFile(other, ttAutomatic), tagsOk);
  }
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(other), tagsOk);
  EXPECT_TRUE(tags.FlacTag.Comments.Values("TRACKNUMBER").empty());
  EXPECT_EQ(tags.FlacTag.Comments.Values("TOTALTRACKS"), std::vector<std::string>{"12"});
}

// Several comments of one name stay several, in order; deleting one entry deletes its comment
// alone. A year goes into an untagged file as a DATE comment; name/value lists round-trip.
TEST(VorbisNames, RepeatedNamesYearAndLists)
{
  for (const char *fixture : {"flac/notags.flac", "opus/opus-notags.opus", "ogg/vorbis-notags.ogg"}) {
    SCOPED_TRACE(fixture);
    const bool flac = std::string(fixture).starts_with("flac/");
    TempDir dir;
    const std::string path = dir.CopyFixture(fixture);
    {
      TTags tags;
      ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
      tags.Add("ARTIST")->Value = "First";
      tags.Add("ARTIST")->Value = "Second";
      tags.Add("ARTIST")->Value = "Third";
      tags.Add("YEAR")->Value = "1999";
      tags.Add("TIPL")->SetAsList({"producer=Ann", "mix=Bo"});
      ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
    }
    {
      TTags tags;
      ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
      EXPECT_EQ(EntryValues(tags, "ARTIST"), (std::vector<std::string>{"First", "Second", "Third"}));
      EXPECT_EQ(CommentsOf(tags, flac).Values("DATE"), std::vector<std::string>{"1999"});
      EXPECT_EQ(CommentsOf(tags, flac).Values("TIPL"), std::vector<std::string>{"producer\r\nAnn\r\nmix\r\nBo\r\n"});
      TStringList list;
      tags.GetList("TIPL", list);
      EXPECT_EQ(list, (TStringList{"producer=Ann", "mix=Bo"}));
      ASSERT_TRUE(tags.Delete(tags.Tags[1]->GetIndex()));  // "Second"
      tags.SetText("TITLE", "x");
      ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
    }
    TTags tags;
    ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
    EXPECT_EQ(CommentsOf(tags, flac).Values("ARTIST"), (std::vector<std::string>{"First", "Third"}));
  }
}

// A FLAC file with an ID3v2 tag in front: the FLAC comments give the values, a save leaves the
// ID3v2 tag byte for byte, and the pictures of one tag are not copied into the other.
TEST(VorbisNames, FlacBehindID3v2KeepsTheID3v2Tag)
{
  TempDir dir;
  const std::string path = dir.CopyFixture("flac/id3v2-prepended.flac");
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  ASSERT_TRUE(tags.ID3v2Tag.Loaded);
  ASSERT_TRUE(tags.FlacTag.Loaded);
  const std::int64_t id3 = tags.ID3v2Tag.Size;
  const Bytes8 original = ReadFileBytes(path);
  const std::size_t flacPictures = static_cast<std::size_t>(tags.FlacTag.PictureCount());
  tags.SetText("ALBUM", "Another album");
  ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
  const Bytes8 saved = ReadFileBytes(path);
  ASSERT_GE(saved.size(), static_cast<std::size_t>(id3));
  EXPECT_TRUE(std::equal(original.begin(), original.begin() + id3, saved.begin())) << "the ID3v2 tag changed";
  TTags reread;
  ASSERT_EQ(reread.LoadFromFile(path), tagsOk);
  EXPECT_EQ(reread.GetText("ALBUM"), "Another album");
  EXPECT_EQ(static_cast<std::size_t>(reread.FlacTag.PictureCount()), flacPictures);
}

// A new picture replaces the pictures of a FLAC and an Ogg file; the others of the file stay.
TEST(VorbisNames, PicturesReplacedOnlyWhenChanged)
{
  for (const char *fixture : {"flac/vorbiscomment.flac", "ogg/vorbis-tagged.ogg", "oga/oggflac-tagged.oga"}) {
    SCOPED_TRACE(fixture);
    TempDir dir;
    const std::string path = dir.CopyFixture(fixture);
    TTags tags;
    ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
    ASSERT_EQ(tags.CoverArtCount(), 1);
    TCoverArt *art = tags.AddCoverArtFromFile("Cover", FixturePath("images/cover.jpg"));
    ASSERT_NE(art, nullptr);
    art->CoverType = 4;
    ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
    TTags reread;
    ASSERT_EQ(reread.LoadFromFile(path), tagsOk);
    ASSERT_EQ(reread.CoverArtCount(), 2);
    EXPECT_EQ(reread.CoverArts[0]->Stream.Data(), tags.CoverArts[0]->Stream.Data());
    EXPECT_EQ(reread.CoverArts[1]->Stream.Data(), art->Stream.Data());
    EXPECT_EQ(reread.CoverArts[1]->CoverType, 4);
    EXPECT_EQ(reread.CoverArts[1]->MIMEType, "image/jpeg");
  }
}

TEST(VorbisNames, LargeFlacPictureIsLeftInTheFileAndKeptThroughSaves)
{
  TempDir dir;
  const std::string path = dir.CopyFixture("flac/notags.flac");
  TBytes picture = ReadFileBytes(FixturePath("images/cover.jpg"));
  picture.resize(200 * 1024, 0x5A);
  {
    TTags tags;
    ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
    TCoverArt *art = tags.AddCoverArt("Cover");
    art->Stream.Data() = picture;
    art->CoverType = 3;
    ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
  }
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  ASSERT_EQ(tags.CoverArtCount(), 1);
  EXPECT_TRUE(tags.CoverArts[0]->IsDeferred());
  EXPECT_EQ(tags.CoverArts[0]->DataSize(), static_cast<std::int64_t>(picture.size()));
  EXPECT_EQ(tags.CoverArts[0]->PictureFormat, tpfJPEG);
  EXPECT_EQ(tags.CoverArts[0]->MIMEType, "image/jpeg");

  // Two title saves in a row: the second plans against the file the first one wrote.
  for (const char *title : {"one", "two"}) {
    tags.SetText("TITLE", title);
    ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
    TTags reread;
    ASSERT_EQ(reread.LoadFromFile(path), tagsOk);
    EXPECT_EQ(reread.GetText("TITLE"), title);
    ASSERT_EQ(reread.CoverArtCount(), 1);
    ASSERT_TRUE(reread.CoverArts[0]->LoadData());
    EXPECT_EQ(reread.CoverArts[0]->Stream.Data(), picture);
  }

  ASSERT_TRUE(tags.DeleteCoverArt(0));
  ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
  TTags reread;
  ASSERT_EQ(reread.LoadFromFile(path), tagsOk);
  EXPECT_EQ(reread.CoverArtCount(), 0);
  EXPECT_EQ(reread.GetText("TITLE"), "two");
}

// The editor fetches a picture left in the file to show it; that alone changes no picture: a
// picture stored in a form the container would write differently (here without a MIME type)
// stays as stored through a title save.
TEST(VorbisNames, ShowingAPictureLeftInTheFileChangesNothing)
{
  TempDir dir;
  const std::string path = dir.CopyFixture("flac/notags.flac");
  {
    auto file = TFileStream::Open(path, TFileMode::fmOpenReadWrite);
    ASSERT_NE(file, nullptr);
    TFlacTag flac;
    ASSERT_EQ(flac.Load(*file), ftOk);
    TPictureBlock picture;
    picture.Data = ReadFileBytes(FixturePath("images/cover.jpg"));
    picture.Data.resize(100 * 1024, 0x33);
    ASSERT_EQ(flac.SetPictures(std::vector<TPictureBlock>{picture}), ftOk);
    TRewritePlan plan;
    ASSERT_EQ(flac.PlanSave(*file, plan), ftOk);
    ASSERT_EQ(ApplyPlanToStream(*file, plan), rwOk);
  }
  const auto pictureBody = [&path] {
    auto file = TFileStream::Open(path, TFileMode::fmOpenRead);
    TFlacTag flac;
    TBytes body;
    EXPECT_TRUE(file && flac.Load(*file) == ftOk && flac.PictureBody(0, body));
    return body;
  };
  const TBytes before = pictureBody();
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  ASSERT_EQ(tags.CoverArtCount(), 1);
  ASSERT_TRUE(tags.CoverArts[0]->IsDeferred());
  ASSERT_TRUE(tags.CoverArts[0]->LoadData());
  tags.SetText("TITLE", "shown");
  ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
  EXPECT_EQ(pictureBody(), before);
}

TEST(VorbisNames, LargeOggPictureStaysEncodedUntilAskedFor)
{
  TempDir dir;
  const std::string path = dir.CopyFixture("ogg/vorbis-bigpicture.ogg");
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  ASSERT_EQ(tags.CoverArtCount(), 1);
  TPictureBlock whole;
  std::string key;
  ASSERT_TRUE(tags.OggVorbisAndOpusTag.GetPicture(0, whole, key));
  ASSERT_GT(whole.Data.size(), 64u * 1024);
  TCoverArt &art = *tags.CoverArts[0];
  EXPECT_TRUE(art.IsDeferred());
  EXPECT_FALSE(art.Encoded.Empty());
  EXPECT_EQ(art.DataSize(), static_cast<std::int64_t>(whole.Data.size()));
  EXPECT_EQ(art.MIMEType, whole.MIMEType);
  EXPECT_NE(art.PictureFormat, tpfUnknown);
  ASSERT_TRUE(art.LoadData());
  EXPECT_EQ(art.Stream.Data(), whole.Data);

  // A title save leaves the picture comment as it was stored.
  TTags again;
  ASSERT_EQ(again.LoadFromFile(path), tagsOk);
  const auto stored = [](const TTags &T) {
    for (const TVorbisCommentEntry &e : T.OggVorbisAndOpusTag.Comments.Entries())
      if (IsPictureCommentName(e.Name)) return e.Raw();
    return std::string();
  };
  const std::string before = stored(again);
  again.SetText("TITLE", "new");
  ASSERT_EQ(again.SaveToFile(path, ttAutomatic), tagsOk);
  TTags reread;
  ASSERT_EQ(reread.LoadFromFile(path), tagsOk);
  EXPECT_EQ(reread.GetText("TITLE"), "new");
  EXPECT_EQ(stored(reread), before);
  ASSERT_EQ(reread.CoverArtCount(), 1);
  ASSERT_TRUE(reread.CoverArts[0]->LoadData());
  EXPECT_EQ(reread.CoverArts[0]->Stream.Data(), whole.Data);
}

// Bytes that spell an ID3v1 record at the end of an Ogg file are a record only after the last
// page; inside the last page they are audio, and neither a load nor a removal takes them.
TEST(VorbisNames, ID3v1RecordOnlyAfterTheLastOggPage)
{
  const Bytes8 ogg = ReadFileBytes(FixturePath("ogg/vorbis-notags.ogg"));
  TempDir dir;
  const Bytes record = ID3v1Record("Ogg title", "", "", "", "", 0, 0);
  const std::string after = dir.Write("after.ogg", Bytes().Append(ogg).Append(record));
  {
    TTags tags;
    ASSERT_EQ(tags.LoadFromFile(after), tagsOk);
    EXPECT_TRUE(tags.ID3v1Tag.Loaded);
    EXPECT_EQ(tags.GetText("TITLE"), "Ogg title");
  }
  // The same bytes inside the last page's data: the page is re-checksummed, so it stays valid.
  Bytes8 inside = ogg;
  std::size_t last = inside.size() - 4;
  while (last > 0 && !(inside[last] == 'O' && inside[last + 1] == 'g' && inside[last + 2] == 'g' && inside[last + 3] == 'S'))
    --last;
  ASSERT_LT(last + 200, inside.size()) << "the fixture's last page is too short for this case";
  std::copy(record.v.begin(), record.v.begin() + 3, inside.end() - 128);
  TBytes page(inside.begin() + static_cast<std::ptrdiff_t>(last), inside.end());
  const std::uint32_t sequence = std::uint32_t{page[18]} | (std::uint32_t{page[19]} << 8) | (std::uint32_t{page[20]} << 16) | (std::uint32_t{page[21]} << 24);
  RenumberOggPage(page, sequence);
  std::copy(page.begin(), page.end(), inside.begin() + static_cast<std::ptrdiff_t>(last));
  const std::string path = dir.Write("inside.ogg", inside);
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  EXPECT_FALSE(tags.ID3v1Tag.Loaded);
  EXPECT_EQ(RemoveTagsFromFile(path, ttAutomatic), tagsOk);
  EXPECT_EQ(ReadFileBytes(path), inside);
}

} // namespace
