// Which picture of a file the record stands for, and which one replacing or clearing the
// record's picture acts on: the front cover when there is one, else the first picture.

#include <gtest/gtest.h>

#include "app/service/tag_service.h"
#include "tags/tag_container.h"
#include "tests/support/test_support.h"

namespace {

constexpr std::int32_t kFront = 3, kBack = 4, kOther = 0;

struct TPicture {
  std::int32_t Type;
  TBytes Bytes;
};

// A copy of the untagged MP3 holding Pictures (JPEG-looking bytes) in this order, and a title.
std::string FileWithPictures(const TempDir &Dir, const std::vector<TPicture> &Pictures)
{
  const std::string path = Dir.CopyFixture("mp3/notags.mp3", "pictures.mp3");
  TTags tags;
  EXPECT_EQ(tags.LoadFromFile(path), tagsOk);
  tags.SetText("TITLE", "pictures");
  int n = 0;
  for (const TPicture &p : Pictures) {
    TMemoryStream s{TBytes(p.Bytes)};
    tags.AddCoverArt("Cover art " + std::to_string(++n), s, "image/jpeg")->CoverType = p.Type;
  }
  EXPECT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
  return path;
}

std::vector<TPicture> PicturesOf(const std::string &Path)
{
  TTags tags;
  EXPECT_EQ(tags.LoadFromFile(Path), tagsOk);
  std::vector<TPicture> out;
  for (const auto &c : tags.CoverArts) {
    EXPECT_TRUE(c->LoadData());
    out.push_back({c->CoverType, c->Stream.Data()});
  }
  return out;
}

bool operator==(const TPicture &A, const TPicture &B) { return A.Type == B.Type && A.Bytes == B.Bytes; }

const TBytes kBackBytes{0xFF, 0xD8, 0xFF, 0xE0, 'b'};
const TBytes kFrontBytes{0xFF, 0xD8, 0xFF, 0xE0, 'f'};
const TBytes kOtherBytes{0xFF, 0xD8, 0xFF, 0xE0, 'o'};
const TBytes kNewBytes{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 'n'};

struct TCase {
  const char *Name;
  std::vector<TPicture> Pictures;
  TBytes Shown;
  // The pictures after the record's picture was replaced by kNewBytes, and after it was cleared.
  std::vector<TPicture> Replaced, Cleared;
};

TEST(RecordPicture, TheFrontCoverIsTheRecordsPictureElseTheFirst)
{
  const TCase cases[] = {
    {"back_then_front", {{kBack, kBackBytes}, {kFront, kFrontBytes}}, kFrontBytes,
     {{kBack, kBackBytes}, {kFront, kNewBytes}}, {{kBack, kBackBytes}}},
    {"front_first", {{kFront, kFrontBytes}, {kBack, kBackBytes}}, kFrontBytes,
     {{kFront, kNewBytes}, {kBack, kBackBytes}}, {{kBack, kBackBytes}}},
    {"no_front", {{kOther, kOtherBytes}, {kBack, kBackBytes}}, kOtherBytes,
     {{kOther, kNewBytes}, {kBack, kBackBytes}}, {{kBack, kBackBytes}}},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Name);
    TempDir dir;
    const std::string path = FileWithPictures(dir, c.Pictures);
    TTagService service;
    TAudioTag tag;
    ASSERT_TRUE(service.LoadTag(path, tag)) << service.GetLastError();
    EXPECT_EQ(tag.CoverData, c.Shown);

    // What the editor's Load Cover and `set --cover` do.
    tag.CoverData = kNewBytes;
    tag.CoverMime = "image/png";
    ASSERT_TRUE(service.SaveTag(tag)) << service.GetLastError();
    EXPECT_EQ(PicturesOf(path), c.Replaced);
    TAudioTag back;
    ASSERT_TRUE(service.LoadTag(path, back));
    EXPECT_EQ(back.CoverData, kNewBytes);

    // What Clear and `set --no-cover` do.
    back.CoverData.clear();
    back.CoverMime.clear();
    ASSERT_TRUE(service.SaveTag(back)) << service.GetLastError();
    EXPECT_EQ(PicturesOf(path), c.Cleared);
  }
}

} // namespace
