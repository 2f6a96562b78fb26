// Tags standing one behind the other at the start of a file: a removal takes them all, a save
// replaces the first and keeps everything behind it (the audio above all) byte for byte.

#include <gtest/gtest.h>

#include "tags/id3/id3v2_tag.h"
#include "tags/id3/skip_id3v2.h"
#include "tags/streams/stream.h"
#include "tags/tag_container.h"
#include "tests/support/test_support.h"
#include "tests/tags/id3/id3v2_test_bytes.h"

namespace {

Bytes TitleTag(std::uint8_t Major, std::string_view Title, std::size_t Padding = 0)
{
  const Bytes frame = Major == 4 ? Frame4("TIT2", Latin1Text(Title)) : Frame3("TIT2", Latin1Text(Title));
  return Tag(Major, 0, Bytes().Append(frame).Zeros(Padding));
}

struct TStripCase {
  const char *Name;
  Bytes Leading;  // the tags at the start
  Bytes Left;     // what the removal leaves of them in front of the audio
};

TEST(ID3v2StackedTags, RemovalTakesEveryTagAtTheStart)
{
  // A header past the end of the file cannot be told from audio: the run ends in front of it.
  const Bytes claimsTooMuch = Bytes().Str("ID3").U8(3).U8(0).U8(0).Append(Synchsafe(1u << 20)).Str("TIT2");
  const TStripCase cases[] = {
    {"one", TitleTag(3, "first"), Bytes()},
    {"two", TitleTag(3, "first", 16).Append(TitleTag(4, "second")), Bytes()},
    {"three", TitleTag(4, "a").Append(TitleTag(3, "b", 100)).Append(TitleTag(3, "c")), Bytes()},
    {"second_claims_too_much", TitleTag(3, "first").Append(claimsTooMuch), claimsTooMuch},
  };
  const Bytes audio = MpegFrames(6);
  for (const TStripCase &c : cases) {
    SCOPED_TRACE(c.Name);
    const Bytes original = Bytes().Append(c.Leading).Append(audio);
    const Bytes want = Bytes().Append(c.Left).Append(audio);

    TempDir dir;
    const std::string path = dir.Write("s.mp3", original);
    ASSERT_EQ(StripID3v2FromFile(path, false), id3v2Ok);
    EXPECT_EQ(ReadFileBytes(path), want.v);

    TMemoryStream stream(original.v);
    ASSERT_EQ(StripID3v2FromStream(stream), id3v2Ok);
    EXPECT_EQ(stream.Data(), want.v);
  }
}

TEST(ID3v2StackedTags, RemovingAllTagsLeavesNoneToRead)
{
  TempDir dir;
  const Bytes audio = MpegFrames(6);
  const std::string path =
    dir.Write("r.mp3", TitleTag(3, "first").Append(TitleTag(3, "second")).Append(audio));
  ASSERT_EQ(RemoveTagsFromFile(path, ttAutomatic), tagsOk);
  EXPECT_EQ(ReadFileBytes(path), audio.v);
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  EXPECT_FALSE(tags.ID3v2Tag.Loaded);
  EXPECT_EQ(tags.Count(), 0);
}

TEST(ID3v2StackedTags, ASaveReplacesTheFirstTagAndKeepsWhatFollows)
{
  const Bytes behind = Bytes().Append(TitleTag(3, "second")).Append(MpegFrames(6));
  // In place (the new tag fits the first one's padding) and rebuilt (it does not).
  for (const std::size_t padding : {std::size_t(200), std::size_t(0)}) {
    SCOPED_TRACE(padding);
    TempDir dir;
    const Bytes first = TitleTag(3, "first", padding);
    const std::string path = dir.Write("k.mp3", Bytes().Append(first).Append(behind));
    TID3v2Tag tag;
    ASSERT_EQ(tag.LoadFromFile(path), id3v2Ok);
    EXPECT_EQ(tag.GetText("TIT2"), "first");
    tag.SetText("TIT2", "first, edited", teANSI);
    ASSERT_EQ(tag.SaveToFile(path), id3v2Ok);
    const Bytes8 file = ReadFileBytes(path);
    ASSERT_GE(file.size(), behind.size());
    EXPECT_EQ(Slice(file, file.size() - behind.size(), file.size()).v, behind.v);
    EXPECT_EQ(static_cast<std::size_t>(ID3v2TagSizeFromHeader(file.data(), file.size())), file.size() - behind.size());
    TID3v2Tag back;
    ASSERT_EQ(back.LoadFromFile(path), id3v2Ok);
    EXPECT_EQ(back.GetText("TIT2"), "first, edited");
  }
}

} // namespace
