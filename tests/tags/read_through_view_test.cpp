// Loading through the read view: a file read from disk (pictures possibly left in the file)
// gives the same entries and pictures as the same bytes loaded from memory, large tags load
// across the view's first block, and a picture whose file changed is never written.

#include <filesystem>
#include <gtest/gtest.h>

#include "tags/streams/file_io.h"
#include "tags/tag_container.h"
#include "tests/support/test_support.h"

namespace {

struct TLoaded {
  std::vector<std::pair<std::string, std::string>> Entries;
  struct TPicture {
    std::string Mime, Description;
    int Type;
    TTagPictureFormat Format;
    TBytes Data;
    bool operator==(const TPicture &) const = default;
  };
  std::vector<TPicture> Pictures;
  double PlayTime = 0;
};

TLoaded Snapshot(TTags &Tags)
{
  TLoaded s;
  for (const auto &t : Tags.Tags) s.Entries.emplace_back(t->Name, t->Value);
  for (const auto &c : Tags.CoverArts) {
    const std::int64_t size = c->DataSize();
    EXPECT_TRUE(c->LoadData());
    EXPECT_EQ(static_cast<std::int64_t>(c->Stream.Data().size()), size);
    s.Pictures.push_back({c->MIMEType, c->Description, c->CoverType, c->PictureFormat, c->Stream.Data()});
  }
  s.PlayTime = Tags.SourceAudioAttributes.PlayTime();
  return s;
}

void ExpectSameAsFromMemory(const std::string &Path)
{
  SCOPED_TRACE(Path);
  TTags fromFile;
  ASSERT_EQ(fromFile.LoadFromFile(Path), tagsOk);
  const TBytes bytes = ReadFileBytes(Path);
  TTags fromMemory;
  ASSERT_EQ(fromMemory.LoadFromMemory(bytes.data(), static_cast<std::int64_t>(bytes.size())), tagsOk);
  const TLoaded a = Snapshot(fromFile), b = Snapshot(fromMemory);
  EXPECT_EQ(a.Entries, b.Entries);
  EXPECT_EQ(a.Pictures, b.Pictures);
  EXPECT_DOUBLE_EQ(a.PlayTime, b.PlayTime);
}

// Picture bytes that start like a PNG and are otherwise varied.
TBytes PictureBytes(std::size_t Size, std::uint8_t Seed)
{
  TBytes b(Size);
  const std::uint8_t png[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  for (std::size_t i = 0; i < Size; ++i) b[i] = static_cast<std::uint8_t>(i * 31 + Seed + (i >> 9));
  std::copy(png, png + 8, b.begin());
  return b;
}

// notags.mp3 with a title and the given pictures (and a large text entry when asked).
std::string MakeTaggedCopy(const TempDir &Dir, const std::string &Name, const std::vector<TBytes> &Pictures,
                           std::size_t LargeText = 0)
{
  const std::string path = Dir.CopyFixture("mp3/notags.mp3", Name);
  TTags tags;
  EXPECT_EQ(tags.LoadFromFile(path), tagsOk);
  tags.SetText("TITLE", "Large tag");
  if (LargeText > 0) tags.SetText("ALBUM", std::string(LargeText, 'a'));
  int n = 0;
  for (const TBytes &p : Pictures) {
    TMemoryStream s(p);
    TCoverArt *c = tags.AddCoverArt("Cover art " + std::to_string(++n), s, "image/png");
    c->CoverType = n == 1 ? 3 : 4;
    c->Description = n == 1 ? "front" : "back";
  }
  EXPECT_EQ(tags.SaveToFile(path, ttID3v2), tagsOk);
  return path;
}

TEST(ReadThroughView, EveryFixtureLoadsAsFromMemory)
{
  for (const auto &entry : std::filesystem::recursive_directory_iterator(FixturePath(""))) {
    if (!entry.is_regular_file()) continue;
    const std::string ext = entry.path().extension().string();
    if (ext == ".jsonl" || ext == ".tsv") continue;
    ExpectSameAsFromMemory(entry.path().string());
  }
}

TEST(ReadThroughView, LargePicturesStayInTheFileUntilAsked)
{
  TempDir dir;
  const TBytes front = PictureBytes(210 * 1024, 1), back = PictureBytes(90 * 1024, 2);
  const std::string path = MakeTaggedCopy(dir, "covers.mp3", {front, back});
  ExpectSameAsFromMemory(path);

  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  ASSERT_EQ(tags.CoverArtCount(), 2);
  const TCoverArt &c = *tags.CoverArts[0];
  EXPECT_TRUE(c.IsDeferred());
  EXPECT_TRUE(c.Stream.Data().empty());
  EXPECT_EQ(c.DataSize(), static_cast<std::int64_t>(front.size()));
  EXPECT_EQ(c.MIMEType, "image/png");
  EXPECT_EQ(c.Description, "front");
  EXPECT_EQ(c.CoverType, 3);
  EXPECT_EQ(c.PictureFormat, tpfPNG);
  EXPECT_EQ(tags.GetText("TITLE"), "Large tag");
  EXPECT_GT(tags.SourceAudioAttributes.PlayTime(), 0.9);

  // A save of another field keeps both pictures byte for byte.
  tags.SetText("TITLE", "Changed");
  ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
  TTags back2;
  ASSERT_EQ(back2.LoadFromFile(path), tagsOk);
  EXPECT_EQ(back2.GetText("TITLE"), "Changed");
  const TLoaded s = Snapshot(back2);
  ASSERT_EQ(s.Pictures.size(), 2u);
  EXPECT_EQ(s.Pictures[0].Data, front);
  EXPECT_EQ(s.Pictures[1].Data, back);
}

TEST(ReadThroughView, TagLargerThanTheFirstBlockWithoutPictures)
{
  TempDir dir;
  const std::string path = MakeTaggedCopy(dir, "text.mp3", {}, 200000);
  ExpectSameAsFromMemory(path);
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  EXPECT_EQ(tags.GetText("ALBUM").size(), 200000u);
  EXPECT_GT(tags.SourceAudioAttributes.PlayTime(), 0.9);
}

TEST(ReadThroughView, PictureOfAChangedFileIsNeverWritten)
{
  TempDir dir;
  const std::string path = MakeTaggedCopy(dir, "changed.mp3", {PictureBytes(100 * 1024, 3)});
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  ASSERT_EQ(tags.CoverArtCount(), 1);
  ASSERT_TRUE(tags.CoverArts[0]->IsDeferred());

  // Another program rewrites the file after our load.
  TTags other;
  ASSERT_EQ(other.LoadFromFile(path), tagsOk);
  other.SetText("ARTIST", "Someone else");
  ASSERT_EQ(other.SaveToFile(path, ttAutomatic), tagsOk);
  const TBytes before = ReadFileBytes(path);

  tags.SetText("TITLE", "Ours");
  EXPECT_EQ(tags.SaveToFile(path, ttAutomatic), tagsUpdateFailed);
  EXPECT_FALSE(tags.CoverArts[0]->LoadData());
  EXPECT_EQ(ReadFileBytes(path), before);
}

TEST(ReadThroughView, FewReadsForATagThatFitsTheHead)
{
  TempDir dir;
  // An MP3 larger than the head and tail blocks, with a small tag: the head and the tail are
  // all a load reads (the first MPEG frame lies in the head).
  const TBytes audio = ReadFileBytes(FixturePath("mp3/notags.mp3"));
  TBytes bytes;
  while (bytes.size() < 400000) bytes.insert(bytes.end(), audio.begin(), audio.end());
  const std::string path = dir.Write("long.mp3", bytes);
  {
    TTags tags;
    ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
    tags.SetText("TITLE", "Small tag");
    ASSERT_EQ(tags.SaveToFile(path, ttID3v2), tagsOk);
  }
  auto view = TReadView::OpenFile(path);
  ASSERT_TRUE(view);
  TTags tags;
  tags.LoadFromView(*view, false, false, false);
  tags.MapLoadedTags();
  EXPECT_EQ(tags.GetText("TITLE"), "Small tag");
  EXPECT_GT(tags.SourceAudioAttributes.PlayTime(), 0.9);
  EXPECT_LE(view->ReadCalls(), 2);
}

TEST(ReadThroughView, TagWithAFrameOfAChangedFileIsNeverWritten)
{
  TempDir dir;
  const std::string path = MakeTaggedCopy(dir, "frame.mp3", {PictureBytes(100 * 1024, 4)});
  TID3v2Tag tag;
  ASSERT_EQ(tag.LoadFromFile(path), id3v2Ok);
  const int picture = tag.FrameExists("APIC");
  ASSERT_GE(picture, 0);
  ASSERT_TRUE(tag.Frame(picture)->IsDeferred());

  TTags other;
  ASSERT_EQ(other.LoadFromFile(path), tagsOk);
  other.SetText("ARTIST", "Someone else");
  ASSERT_EQ(other.SaveToFile(path, ttAutomatic), tagsOk);
  const TBytes before = ReadFileBytes(path);

  tag.SetText("TIT2", "Ours", teUTF8);
  EXPECT_EQ(tag.SaveToFile(path), id3v2UpdateError);
  TBytes body;
  // The frame layer refuses on its own too: a frame whose data is gone is never left out.
  EXPECT_FALSE(tag.SerializeFrames(body, 3));
  EXPECT_EQ(ReadFileBytes(path), before);
}

} // namespace
