#include "tags/flac/flac_tag.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "tags/ogg/ogg_page.h"
#include "tags/streams/file_io.h"
#include "tests/support/test_support.h"
#include "tests/support/write_faults.h"

namespace {

// The MD5 of the decoded audio as ffmpeg computes it; empty when ffmpeg fails.
std::string AudioMD5(const std::string &Path)
{
  int status = 0;
  const std::string out = RunCommand("ffmpeg -v error -i '" + Path + "' -map 0:a -f md5 -", status);
  return status == 0 ? out : std::string();
}

Bytes Block(std::uint8_t Type, bool Last, const Bytes8 &Body, std::int64_t Declared = -1)
{
  const auto len = static_cast<std::uint32_t>(Declared >= 0 ? Declared : static_cast<std::int64_t>(Body.size()));
  return Bytes()
      .U8(static_cast<std::uint8_t>((Last ? 0x80 : 0) | Type))
      .U8(static_cast<std::uint8_t>(len >> 16))
      .U8(static_cast<std::uint8_t>(len >> 8))
      .U8(static_cast<std::uint8_t>(len))
      .Append(Body);
}

// A STREAMINFO body: 44.1 kHz, stereo, 16 bits, one second.
Bytes8 StreamInfoBody()
{
  return Bytes().U16BE(4096).U16BE(4096).Zeros(6).U8(0x0A).U8(0xC4).U8(0x42).U8(0xF0).U32BE(44100).Fill(16, 0xAB).v;
}

Bytes8 CommentBody(const std::vector<std::string> &Entries, std::uint32_t Count = 0xFFFFFFFF)
{
  Bytes b = Bytes().U32LE(6).Str("vendor").U32LE(Count == 0xFFFFFFFF ? static_cast<std::uint32_t>(Entries.size()) : Count);
  for (const std::string &e : Entries) b.U32LE(static_cast<std::uint32_t>(e.size())).Str(e);
  return b.v;
}

const Bytes8 kAudio = Bytes().U8(0xFF).U8(0xF8).Fill(200, 0x5A).v;

TFlacTag Loaded(const Bytes8 &Data, int Want = ftOk)
{
  TFlacTag tag;
  TMemoryStream s(Data);
  EXPECT_EQ(tag.Load(s), Want);
  return tag;
}

// Plans Tag's save against Data and applies it to a copy.
Bytes8 Saved(TFlacTag &Tag, const Bytes8 &Data, TRewritePlan *PlanOut = nullptr)
{
  TMemoryStream s(Data);
  TRewritePlan plan;
  EXPECT_EQ(Tag.PlanSave(s, plan), ftOk);
  EXPECT_EQ(ApplyPlanToStream(s, plan), rwOk);
  if (PlanOut) *PlanOut = plan;
  return s.Data();
}

TFlacLayout LayoutOf(const Bytes8 &Data)
{
  TFlacLayout layout;
  TMemoryStream s(Data);
  EXPECT_EQ(ReadFlacLayout(s, layout), ftOk);
  return layout;
}

// The blocks that are neither comments, pictures nor padding, in order.
std::vector<std::pair<int, TBytes>> OtherBlocks(const TFlacLayout &Layout)
{
  std::vector<std::pair<int, TBytes>> out;
  for (const TFlacBlock &b : Layout.Meta.Blocks())
    if (b.Type != fbtVorbisComment && b.Type != fbtPicture && b.Type != fbtPadding) out.emplace_back(b.Type, b.Data);
  return out;
}

TPictureBlock PngPicture(const std::string &Description = "front")
{
  TPictureBlock p;
  p.PictureType = 3;
  p.MIMEType = "image/png";
  p.Description = Description;
  p.Width = p.Height = 16;
  p.ColorDepth = 24;
  p.Data = ReadFileBytes(FixturePath("images/cover.png"));
  return p;
}

std::vector<TPictureBlock> PicturesOf(const TFlacTag &Tag)
{
  std::vector<TPictureBlock> out(static_cast<std::size_t>(Tag.PictureCount()));
  for (int i = 0; i < Tag.PictureCount(); ++i) EXPECT_TRUE(Tag.GetPicture(i, out[static_cast<std::size_t>(i)]));
  return out;
}

// ---------------------------------------------------------------------------------------------
// Round trips on real files: a new title and a PNG picture added, everything else as it was.

struct FixtureCase {
  const char *name;
  const char *file;
  bool ogg;
};

class FlacTagFixture : public ::testing::TestWithParam<FixtureCase> {};

TEST_P(FlacTagFixture, UnchangedSavePlansNothing)
{
  const Bytes8 old = ReadFileBytes(FixturePath(GetParam().file));
  TFlacTag tag = Loaded(old);
  EXPECT_EQ(tag.IsOgg(), GetParam().ogg);
  EXPECT_FALSE(tag.Damaged());
  TMemoryStream s(old);
  TRewritePlan plan;
  EXPECT_EQ(tag.PlanSave(s, plan), ftOk);
  EXPECT_TRUE(plan.ChangesNothing());
  // Pictures given back as they are change nothing either.
  EXPECT_EQ(tag.SetPictures(PicturesOf(tag)), ftOk);
  EXPECT_EQ(tag.PlanSave(s, plan), ftOk);
  EXPECT_TRUE(plan.ChangesNothing());
}

TEST_P(FlacTagFixture, TitleAndPictureRoundTrip)
{
  const Bytes8 old = ReadFileBytes(FixturePath(GetParam().file));
  TFlacTag tag = Loaded(old);
  const TFlacLayout before = LayoutOf(old);
  const std::vector<TVorbisCommentEntry> entries = tag.Comments.Entries();
  std::vector<TPictureBlock> pictures = PicturesOf(tag);
  pictures.push_back(PngPicture());
  ASSERT_TRUE(tag.Comments.SetValue("title", "New title"));
  ASSERT_EQ(tag.SetPictures(pictures), ftOk);

  const Bytes8 out = Saved(tag, old);
  TFlacTag again = Loaded(out);
  EXPECT_FALSE(again.Damaged());
  EXPECT_EQ(again.IsOgg(), GetParam().ogg);
  EXPECT_EQ(again.Comments.Value("TITLE"), "New title");
  EXPECT_EQ(again.Comments.Vendor(), tag.Comments.Vendor());
  // Entries nobody changed keep their stored bytes.
  for (const TVorbisCommentEntry &e : entries)
    if (e.Name != "TITLE") {
      EXPECT_NE(std::find(again.Comments.Entries().begin(), again.Comments.Entries().end(), e),
                again.Comments.Entries().end()) << e.Raw();
    }
  EXPECT_EQ(PicturesOf(again), pictures);
  const TFlacLayout after = LayoutOf(out);
  EXPECT_EQ(OtherBlocks(after), OtherBlocks(before));
  EXPECT_EQ(again.ID3v2Size(), tag.ID3v2Size());
  EXPECT_EQ(Slice(out, 0, static_cast<std::size_t>(again.ID3v2Size())).v, Slice(old, 0, static_cast<std::size_t>(tag.ID3v2Size())).v);
  EXPECT_EQ(again.StreamInfo().TotalSamples, tag.StreamInfo().TotalSamples);
  if (!GetParam().ogg) {
    EXPECT_EQ(Slice(out, static_cast<std::size_t>(after.Meta.AudioOffset()), out.size()).v,
              Slice(old, static_cast<std::size_t>(before.Meta.AudioOffset()), old.size()).v);
  } else {
    EXPECT_EQ(out.size() - static_cast<std::size_t>(after.Headers.End), old.size() - static_cast<std::size_t>(before.Headers.End));
  }

  // A second save against the result changes nothing; what the other tools make of the file.
  TMemoryStream s(out);
  TRewritePlan plan;
  EXPECT_EQ(again.PlanSave(s, plan), ftOk);
  EXPECT_TRUE(plan.ChangesNothing());

  if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
  TempDir dir;
  const std::string oldPath = dir.CopyFixture(GetParam().file, "old");
  const std::string newPath = dir.Write(GetParam().ogg ? "new.oga" : "new.flac", out);
  const std::string md5 = AudioMD5(oldPath);
  EXPECT_FALSE(md5.empty());
  EXPECT_EQ(AudioMD5(newPath), md5);
  int status = 0;
  if (GetParam().ogg && HaveTool("oggz-validate")) {
    const std::string report = RunCommand("oggz-validate '" + newPath + "'", status);
    EXPECT_EQ(status, 0) << report;
  }
  if (!GetParam().ogg && HaveTool("flac") && HaveTool("metaflac")) {
    const std::string test = RunCommand("flac -s -t '" + newPath + "'", status);
    EXPECT_EQ(status, 0) << test;
    const std::string list = RunCommand("metaflac --list '" + newPath + "'", status);
    EXPECT_EQ(status, 0) << list;
    EXPECT_NE(list.find("TITLE=New title"), std::string::npos);
    EXPECT_NE(list.find("description: front"), std::string::npos);
  }
}

TEST_P(FlacTagFixture, RemovedTagsLeaveTheOtherBlocks)
{
  const Bytes8 old = ReadFileBytes(FixturePath(GetParam().file));
  TMemoryStream s(old);
  TRewritePlan plan;
  ASSERT_EQ(TFlacTag::PlanRemove(s, plan), ftOk);
  ASSERT_EQ(ApplyPlanToStream(s, plan), rwOk);
  const Bytes8 &out = s.Data();
  const TFlacTag tag = Loaded(out);
  EXPECT_EQ(tag.Comments.Count(), 0u);
  EXPECT_EQ(tag.PictureCount(), 0);
  EXPECT_EQ(tag.Comments.Vendor(), Loaded(old).Comments.Vendor());
  const TFlacLayout after = LayoutOf(out);
  EXPECT_EQ(after.Meta.CountOf(fbtPadding), 0u);
  EXPECT_EQ(after.Meta.CountOf(fbtVorbisComment), 1u);
  EXPECT_EQ(OtherBlocks(after), OtherBlocks(LayoutOf(old)));
}

INSTANTIATE_TEST_SUITE_P(Files, FlacTagFixture, ::testing::Values(
  FixtureCase{"vorbiscomment", "flac/vorbiscomment.flac", false},
  FixtureCase{"notags", "flac/notags.flac", false},
  FixtureCase{"no_padding", "flac/no-padding.flac", false},
  FixtureCase{"id3v2_prepended", "flac/id3v2-prepended.flac", false},
  FixtureCase{"big_padding", "flac/big-padding.flac", false},
  FixtureCase{"kid3", "flac/kid3.flac", false},
  FixtureCase{"ogg_notags", "oga/oggflac-notags.oga", true},
  FixtureCase{"ogg_tagged", "oga/oggflac-tagged.oga", true}),
  [](const auto &p) { return std::string(p.param.name); });

// ---------------------------------------------------------------------------------------------
// Native writing: in place or rebuilt, only what changed.

TEST(FlacTagSave, ShortChangeIsWrittenInPlaceOverCommentAndPadding)
{
  const Bytes8 old = ReadFileBytes(FixturePath("flac/vorbiscomment.flac"));
  TFlacTag tag = Loaded(old);
  tag.Comments.SetValue("ARTIST", "Someone with a somewhat longer name");
  TRewritePlan plan;
  const Bytes8 out = Saved(tag, old, &plan);
  EXPECT_TRUE(plan.InPlace);
  ASSERT_EQ(out.size(), old.size());
  // Bytes differ only from the comment block to the end of the padding block.
  const TFlacLayout layout = LayoutOf(old);
  const auto &blocks = layout.Meta.Blocks();
  const auto comment = static_cast<std::size_t>(layout.Meta.IndexOf(fbtVorbisComment));
  const auto from = static_cast<std::size_t>(blocks[comment].Offset);
  const auto to = static_cast<std::size_t>(layout.Meta.AudioOffset());
  EXPECT_EQ(Slice(out, 0, from).v, Slice(old, 0, from).v);
  EXPECT_EQ(Slice(out, to, out.size()).v, Slice(old, to, old.size()).v);
  const TFlacLayout after = LayoutOf(out);
  EXPECT_EQ(after.Meta.Blocks()[static_cast<std::size_t>(after.Meta.IndexOf(fbtPicture))].Data,
            blocks[static_cast<std::size_t>(layout.Meta.IndexOf(fbtPicture))].Data);
}

TEST(FlacTagSave, GrowthBeyondThePaddingRebuildsWithThePaddingAsked)
{
  const Bytes8 old = ReadFileBytes(FixturePath("flac/vorbiscomment.flac"));
  TFlacTag tag = Loaded(old);
  tag.Comments.SetValue("LYRICS", std::string(20000, 'l'));
  tag.PaddingSizeToWrite = 1000;
  TRewritePlan plan;
  const Bytes8 out = Saved(tag, old, &plan);
  EXPECT_FALSE(plan.InPlace);
  const TFlacLayout after = LayoutOf(out);
  ASSERT_FALSE(after.Meta.Blocks().empty());
  EXPECT_EQ(after.Meta.Blocks().back().Type, fbtPadding);
  EXPECT_EQ(after.Meta.Blocks().back().Size(), 1000u);
  EXPECT_EQ(Loaded(out).Comments.Value("LYRICS").size(), 20000u);
}

TEST(FlacTagSave, PictureReplacedBySameSizedOneIsWritten)
{
  const Bytes8 old = ReadFileBytes(FixturePath("flac/vorbiscomment.flac"));
  TFlacTag tag = Loaded(old);
  std::vector<TPictureBlock> pictures = PicturesOf(tag);
  ASSERT_EQ(pictures.size(), 1u);
  pictures[0].Data.back() ^= 0xFF;
  pictures[0].Description = std::string(pictures[0].Description.size(), 'x');
  ASSERT_EQ(tag.SetPictures(pictures), ftOk);
  TRewritePlan plan;
  const Bytes8 out = Saved(tag, old, &plan);
  EXPECT_TRUE(plan.InPlace);
  EXPECT_EQ(out.size(), old.size());
  EXPECT_EQ(PicturesOf(Loaded(out)), pictures);
}

TEST(FlacTagSave, PictureDeletedLeavesTheOthers)
{
  const Bytes8 old = ReadFileBytes(FixturePath("flac/vorbiscomment.flac"));
  TFlacTag tag = Loaded(old);
  const std::vector<TPictureBlock> two{PngPicture("one"), PngPicture("two")};
  ASSERT_EQ(tag.SetPictures(two), ftOk);
  const Bytes8 withTwo = Saved(tag, old);
  TFlacTag second = Loaded(withTwo);
  ASSERT_EQ(second.PictureCount(), 2);
  const std::vector<TPictureBlock> one{two[1]};
  ASSERT_EQ(second.SetPictures(one), ftOk);
  EXPECT_EQ(PicturesOf(Loaded(Saved(second, withTwo))), one);
}

TEST(FlacTagSave, LargePictureStaysInTheFileUntilASaveNeedsIt)
{
  // A 100 KB picture between the comment block and the padding.
  TPictureBlock big = PngPicture("big");
  big.Data.resize(100 * 1024, 0x77);
  TBytes pictureBody;
  ASSERT_EQ(BuildPictureBlock(big, pictureBody), pbrOk);
  const Bytes8 old = Bytes().Str("fLaC").Append(Block(0, false, StreamInfoBody()))
      .Append(Block(4, false, CommentBody({"TITLE=old"}))).Append(Block(6, false, pictureBody))
      .Append(Block(1, true, Bytes().Zeros(4000).v)).Append(kAudio).v;
  TempDir dir;
  const std::string path = dir.Write("big.flac", old);

  TFlacTag tag;
  {
    auto view = TReadView::OpenFile(path);
    ASSERT_NE(view, nullptr);
    ASSERT_EQ(tag.Load(*view), ftOk);
    EXPECT_LT(view->ReadCalls(), 4) << "the picture was read";
  }
  ASSERT_EQ(tag.PictureCount(), 1);
  TPictureBlock head;
  TFileRange data;
  ASSERT_TRUE(tag.GetPicture(0, head, &data));
  EXPECT_EQ(head.Description, "big");
  EXPECT_EQ(head.Data, TBytes(big.Data.begin(), big.Data.begin() + kFlacPictureDataHead));
  TBytes all;
  ASSERT_TRUE(ReadFileRange(data, all));
  EXPECT_EQ(all, big.Data);
  TPictureBlock whole;
  ASSERT_TRUE(tag.GetPicture(0, whole));
  EXPECT_EQ(whole, big);

  // A title change leaves the picture block as it was.
  tag.Comments.SetValue("TITLE", "new");
  TMemoryStream s(old);
  TRewritePlan plan;
  ASSERT_EQ(tag.PlanSave(s, plan), ftOk);
  ASSERT_EQ(ApplyPlanToStream(s, plan), rwOk);
  const TFlacTag after = Loaded(s.Data());
  EXPECT_EQ(after.Comments.Value("TITLE"), "new");
  TBytes body;
  ASSERT_TRUE(after.PictureBody(0, body));
  EXPECT_EQ(body, pictureBody);

  // Once the file changes, a picture still left in it is not taken from there.
  TFlacTag stale;
  {
    auto view = TReadView::OpenFile(path);
    ASSERT_NE(view, nullptr);
    ASSERT_EQ(stale.Load(*view), ftOk);
  }
  Bytes8 changed = old;
  changed.push_back(0);
  WriteFileBytes(path, changed);
  stale.Comments.SetValue("TITLE", "new");
  TMemoryStream s2(old);
  EXPECT_EQ(stale.PlanSave(s2, plan), ftChangedSinceLoad);
  EXPECT_FALSE(stale.GetPicture(0, whole));
}

TEST(FlacTagSave, BlockOverTwentyFourBitsIsRefusedBeforeAnythingIsPlanned)
{
  const Bytes8 old = ReadFileBytes(FixturePath("flac/vorbiscomment.flac"));
  TFlacTag tag = Loaded(old);
  const std::vector<TPictureBlock> before = PicturesOf(tag);
  TPictureBlock huge = PngPicture();
  huge.Data.assign(kMaxFlacBlockBody, 1);
  const std::vector<TPictureBlock> one{huge};
  EXPECT_EQ(tag.SetPictures(one), ftTooLarge);
  EXPECT_EQ(PicturesOf(tag), before);

  tag.Comments.SetValue("LYRICS", std::string(kMaxFlacBlockBody, 'l'));
  TMemoryStream s(old);
  TRewritePlan plan;
  plan.InPlace = true;
  EXPECT_EQ(tag.PlanSave(s, plan), ftTooLarge);
  EXPECT_TRUE(plan.ChangesNothing());
}

TEST(FlacTagSave, StreamInfoOnlyFileGainsACommentBlock)
{
  const Bytes8 old = Bytes().Str("fLaC").Append(Block(0, true, StreamInfoBody())).Append(kAudio).v;
  TFlacTag tag = Loaded(old);
  EXPECT_TRUE(tag.Loaded);
  EXPECT_FALSE(tag.Damaged());
  EXPECT_EQ(tag.Comments.Count(), 0u);
  EXPECT_EQ(tag.Size(), 4 + 4 + 34);
  EXPECT_DOUBLE_EQ(tag.PlayTime(), 1.0);
  tag.Comments.SetValue("Title", "x");
  const Bytes8 out = Saved(tag, old);
  const TFlacTag again = Loaded(out);
  EXPECT_EQ(again.Comments.Entries().at(0).Raw(), "TITLE=x");
  EXPECT_EQ(Slice(out, out.size() - kAudio.size(), out.size()).v, kAudio);
}

TEST(FlacTagSave, PictureBlockThatDoesNotParseIsKeptAsItIs)
{
  const Bytes8 garbage = Bytes().U32BE(3).U32BE(0xFFFFFF00).Str("not a picture").v;
  const Bytes8 old = Bytes().Str("fLaC").Append(Block(0, false, StreamInfoBody())).Append(Block(6, false, garbage))
      .Append(Block(1, true, Bytes().Zeros(64).v)).Append(kAudio).v;
  TFlacTag tag = Loaded(old);
  ASSERT_EQ(tag.PictureCount(), 1);
  TPictureBlock picture;
  EXPECT_FALSE(tag.GetPicture(0, picture));
  EXPECT_FALSE(tag.GetPicture(-1, picture));
  EXPECT_FALSE(tag.GetPicture(1, picture));
  tag.Comments.SetValue("TITLE", "t");
  const Bytes8 out = Saved(tag, old);
  const TFlacTag again = Loaded(out);
  ASSERT_EQ(again.PictureCount(), 1);
  TBytes body;
  ASSERT_TRUE(again.PictureBody(0, body));
  EXPECT_EQ(body, garbage);
  EXPECT_EQ(again.Comments.Value("TITLE"), "t");
}

TEST(FlacTagSave, UpperCaseOfNewNamesFollowsTheSetting)
{
  const Bytes8 old = Bytes().Str("fLaC").Append(Block(0, true, StreamInfoBody())).Append(kAudio).v;
  TFlacTag tag;
  tag.UpperCaseFieldNamesToWrite = false;
  TMemoryStream s(old);
  ASSERT_EQ(tag.Load(s), ftOk);
  tag.Comments.Add("Title", "x");
  EXPECT_EQ(Loaded(Saved(tag, old)).Comments.Entries().at(0).Raw(), "Title=x");
}

TEST(FlacTagSave, PlansAgainstTheContentGivenNotTheOneLoaded)
{
  // Assign carries comments and pictures to another file; a save after a save plans again.
  const Bytes8 tagged = ReadFileBytes(FixturePath("flac/vorbiscomment.flac"));
  const Bytes8 bare = ReadFileBytes(FixturePath("flac/notags.flac"));
  TFlacTag source = Loaded(tagged);
  TFlacTag copy;
  ASSERT_TRUE(copy.Assign(source));
  EXPECT_FALSE(copy.Loaded);
  Bytes8 out = Saved(copy, bare);
  TFlacTag got = Loaded(out);
  EXPECT_EQ(got.Comments.Entries(), source.Comments.Entries());
  EXPECT_EQ(PicturesOf(got), PicturesOf(source));
  copy.Comments.SetValue("ALBUM", "Second save");
  out = Saved(copy, out);
  EXPECT_EQ(Loaded(out).Comments.Value("ALBUM"), "Second save");
  EXPECT_EQ(OtherBlocks(LayoutOf(out)), OtherBlocks(LayoutOf(bare)));
}

// ---------------------------------------------------------------------------------------------
// Damage and foreign content: what loads, and that nothing is written.

struct DamageCase {
  const char *name;
  Bytes8 data;
  std::size_t entries;  // loaded before the fault
  int pictures;
  bool walkDamaged;     // else only the comment block is: removing the tags may still go ahead
};

class FlacTagDamaged : public ::testing::TestWithParam<DamageCase> {};

TEST_P(FlacTagDamaged, LoadsWhatIsSafeAndPlansNothing)
{
  const DamageCase &c = GetParam();
  TFlacTag tag = Loaded(c.data);
  EXPECT_TRUE(tag.Loaded);
  EXPECT_TRUE(tag.Damaged());
  EXPECT_EQ(tag.Comments.Count(), c.entries);
  EXPECT_EQ(tag.PictureCount(), c.pictures);
  tag.Comments.SetValue("TITLE", "new");
  TMemoryStream s(c.data);
  TRewritePlan plan;
  EXPECT_EQ(tag.PlanSave(s, plan), ftDamaged);
  EXPECT_TRUE(plan.ChangesNothing());
  if (c.walkDamaged) {
    EXPECT_EQ(TFlacTag::PlanRemove(s, plan), ftDamaged);
    EXPECT_TRUE(plan.ChangesNothing());
  }
  EXPECT_EQ(s.Data(), c.data);
}

Bytes8 PictureBody()
{
  TBytes body;
  EXPECT_EQ(BuildPictureBlock(PngPicture(), body), pbrOk);
  return body;
}

INSTANTIATE_TEST_SUITE_P(Table, FlacTagDamaged, ::testing::Values(
  DamageCase{"block_past_the_end",
             Bytes().Str("fLaC").Append(Block(0, false, StreamInfoBody())).Append(Block(4, false, CommentBody({"A=1", "B=2"})))
                 .Append(Block(6, false, PictureBody())).Append(Block(2, true, Bytes().Str("APPL").v, 5000)).v,
             2, 1, true},
  DamageCase{"forbidden_block_type",
             Bytes().Str("fLaC").Append(Block(0, false, StreamInfoBody())).Append(Block(4, false, CommentBody({"A=1"})))
                 .Append(Block(127, true, Bytes().Zeros(8).v)).Append(kAudio).v,
             1, 0, true},
  DamageCase{"ends_before_last_block",
             Bytes().Str("fLaC").Append(Block(0, false, StreamInfoBody())).Append(Block(4, false, CommentBody({"A=1"}))).v,
             1, 0, true},
  DamageCase{"comment_count_too_large",
             Bytes().Str("fLaC").Append(Block(0, false, StreamInfoBody())).Append(Block(4, false, CommentBody({"A=1"}, 9)))
                 .Append(Block(1, true, Bytes().Zeros(100).v)).Append(kAudio).v,
             1, 0, false},
  DamageCase{"comment_entry_past_its_block",
             Bytes().Str("fLaC").Append(Block(0, false, StreamInfoBody()))
                 .Append(Block(4, true, Bytes().U32LE(0).U32LE(2).U32LE(3).Str("A=1").U32LE(900).Str("B=2").v))
                 .Append(kAudio).v,
             1, 0, false}),
  [](const auto &p) { return std::string(p.param.name); });

struct ForeignCase {
  const char *name;
  Bytes8 data;
  int want;
};

class FlacTagForeign : public ::testing::TestWithParam<ForeignCase> {};

TEST_P(FlacTagForeign, LoadAndPlansGiveTheCode)
{
  const ForeignCase &c = GetParam();
  TFlacTag tag = Loaded(c.data, c.want);
  EXPECT_FALSE(tag.Loaded);
  EXPECT_EQ(tag.Size(), 0);
  EXPECT_EQ(tag.StreamInfo().SampleRate, 0u);
  TMemoryStream s(c.data);
  TRewritePlan plan;
  EXPECT_EQ(tag.PlanSave(s, plan), c.want);
  EXPECT_EQ(TFlacTag::PlanRemove(s, plan), c.want);
  EXPECT_TRUE(plan.ChangesNothing());
}

// Ogg FLAC whose mapping header has another major version.
Bytes8 OggFlacMajor(std::uint8_t Major)
{
  Bytes8 data = ReadFileBytes(FixturePath("oga/oggflac-notags.oga"));
  data[28 + 5] = Major;
  TBytes first(data.begin(), data.begin() + 79);
  RenumberOggPage(first, 0);  // the CRC computed anew
  std::copy(first.begin(), first.end(), data.begin());
  return data;
}

INSTANTIATE_TEST_SUITE_P(Table, FlacTagForeign, ::testing::Values(
  ForeignCase{"empty", {}, ftFileNotFound},
  ForeignCase{"junk", Bytes().Str("RIFF").Zeros(100).v, ftNotFlac},
  ForeignCase{"short_stream_info", Bytes().Str("fLaC").Append(Block(0, true, Bytes().Zeros(20).v)).v, ftNotFlac},
  ForeignCase{"ogg_vorbis", ReadFileBytes(FixturePath("ogg/vorbis-tagged.ogg")), ftNotFlac},
  ForeignCase{"ogg_flac_major_2", OggFlacMajor(2), ftUnsupportedOgg}),
  [](const auto &p) { return std::string(p.param.name); });

// ---------------------------------------------------------------------------------------------
// Ogg FLAC specifics.

// The page at Offset of Data, as read.
TOggPage PageAt(const Bytes8 &Data, std::int64_t Offset)
{
  TMemoryStream s(Data);
  TOggPage page;
  EXPECT_EQ(ReadOggPageAt(s, Offset, page), opcOk);
  return page;
}

TEST(FlacTagOgg, MappingWithoutPacketCountReadsToTheLastBlockAndKeepsCountZero)
{
  Bytes8 old = ReadFileBytes(FixturePath("oga/oggflac-tagged.oga"));
  old[28 + 7] = old[28 + 8] = 0;
  TBytes first(old.begin(), old.begin() + 79);
  RenumberOggPage(first, 0);
  std::copy(first.begin(), first.end(), old.begin());

  TFlacTag tag = Loaded(old);
  EXPECT_FALSE(tag.Damaged());
  EXPECT_EQ(tag.PictureCount(), 1);
  EXPECT_EQ(tag.Comments.Value("ARTIST"), Loaded(ReadFileBytes(FixturePath("oga/oggflac-tagged.oga"))).Comments.Value("ARTIST"));
  const std::vector<TPictureBlock> pictures{PngPicture("a"), PngPicture("b")};
  ASSERT_EQ(tag.SetPictures(pictures), ftOk);
  const Bytes8 out = Saved(tag, old);
  EXPECT_EQ(PicturesOf(Loaded(out)), pictures);
  const TOggPage page = PageAt(out, 0);
  EXPECT_EQ(page.Data()[7], 0);
  EXPECT_EQ(page.Data()[8], 0);
}

TEST(FlacTagOgg, PacketCountFollowsAddedAndRemovedPictures)
{
  const Bytes8 old = ReadFileBytes(FixturePath("oga/oggflac-tagged.oga"));
  TFlacTag tag = Loaded(old);
  EXPECT_GT(tag.Bitrate(), 0u);
  EXPECT_EQ(tag.Size(), LayoutOf(old).Headers.End);
  ASSERT_EQ(PageAt(old, 0).Data()[8], 4);
  const std::vector<TPictureBlock> three{PngPicture("a"), PngPicture("b"), PngPicture("c")};
  ASSERT_EQ(tag.SetPictures(three), ftOk);
  const Bytes8 more = Saved(tag, old);
  EXPECT_EQ(PageAt(more, 0).Data()[8], 6);
  TFlacTag again = Loaded(more);
  ASSERT_EQ(again.SetPictures({}), ftOk);
  const Bytes8 fewer = Saved(again, more);
  EXPECT_EQ(PageAt(fewer, 0).Data()[8], 3);
  EXPECT_EQ(Loaded(fewer).PictureCount(), 0);
  // The pages after the header pages carry on from the last header page.
  const TFlacLayout layout = LayoutOf(fewer);
  const TOggPage audio = PageAt(fewer, layout.Headers.End);
  EXPECT_EQ(audio.Sequence, layout.Headers.Pages.back().Sequence + 1);
}

TEST(FlacTagOgg, ChangeThatFitsThePaddingPacketIsWrittenInPlace)
{
  const Bytes8 old = ReadFileBytes(FixturePath("oga/oggflac-tagged.oga"));
  const TFlacLayout before = LayoutOf(old);
  for (const std::size_t extra : {1u, 300u, 5000u}) {
    TFlacTag tag = Loaded(old);
    tag.Comments.SetValue("COMMENT", std::string(extra, 'c'));
    TRewritePlan plan;
    const Bytes8 out = Saved(tag, old, &plan);
    EXPECT_TRUE(plan.InPlace) << extra;
    ASSERT_EQ(out.size(), old.size());
    EXPECT_EQ(Loaded(out).Comments.Value("COMMENT").size(), extra);
    // Only the header pages from the comment page on differ; the audio pages are as they were
    // when the number of header pages stayed.
    const TFlacLayout after = LayoutOf(out);
    EXPECT_EQ(Slice(out, 0, 79).v, Slice(old, 0, 79).v);
    if (after.Headers.Pages.size() == before.Headers.Pages.size()) {
      EXPECT_EQ(Slice(out, static_cast<std::size_t>(after.Headers.End), out.size()).v,
                Slice(old, static_cast<std::size_t>(before.Headers.End), old.size()).v);
    }
    EXPECT_EQ(OtherBlocks(after), OtherBlocks(before));
    if (HaveTool("oggz-validate")) {
      TempDir dir;
      const std::string path = dir.Write("new.oga", out);
      int status = 0;
      const std::string report = RunCommand("oggz-validate '" + path + "'", status);
      EXPECT_EQ(status, 0) << report;
    }
  }
}

TEST(FlacTagOgg, ID3v2TagInFrontStaysAsItIs)
{
  const Bytes8 ogg = ReadFileBytes(FixturePath("oga/oggflac-tagged.oga"));
  const Bytes8 id3 = Bytes().Str("ID3").U8(3).U8(0).U8(0).U32BE(20).Fill(20, 0x11).v;
  const Bytes8 old = Bytes().Append(id3).Append(ogg).v;
  TFlacTag tag = Loaded(old);
  EXPECT_TRUE(tag.IsOgg());
  EXPECT_EQ(tag.ID3v2Size(), 30);
  EXPECT_EQ(tag.Comments.Entries(), Loaded(ogg).Comments.Entries());
  tag.Comments.SetValue("TITLE", "behind a tag");
  const std::vector<TPictureBlock> big{PngPicture(), PngPicture("2"), PngPicture("3"), PngPicture("4"), PngPicture("5")};
  ASSERT_EQ(tag.SetPictures(big), ftOk);
  TRewritePlan plan;
  const Bytes8 out = Saved(tag, old, &plan);
  EXPECT_FALSE(plan.InPlace);
  EXPECT_EQ(Slice(out, 0, 30).v, id3);
  const TFlacTag again = Loaded(out);
  EXPECT_EQ(again.Comments.Value("TITLE"), "behind a tag");
  EXPECT_EQ(PicturesOf(again), big);
  // The stream behind the tag reads as Ogg FLAC on its own.
  EXPECT_TRUE(Loaded(Slice(out, 30, out.size()).v).IsOgg());
}

TEST(FlacTagOgg, InterleavedHeaderPagesAreNotRewritten)
{
  const Bytes8 old = ReadFileBytes(FixturePath("oga/oggflac-tagged.oga"));
  // A page of another stream between the first page and the comment page.
  TOggPage other = PageAt(old, 79);
  other.Raw[14] ^= 0x55;  // another serial
  RenumberOggPage(other.Raw, 1);
  Bytes8 mixed(old.begin(), old.begin() + 79);
  mixed.insert(mixed.end(), other.Raw.begin(), other.Raw.end());
  mixed.insert(mixed.end(), old.begin() + 79, old.end());
  TFlacTag tag = Loaded(mixed);
  EXPECT_EQ(tag.Comments.Entries(), Loaded(old).Comments.Entries());
  tag.Comments.SetValue("TITLE", "x");
  TMemoryStream s(mixed);
  TRewritePlan plan;
  EXPECT_EQ(tag.PlanSave(s, plan), ftCannotRewrite);
  EXPECT_TRUE(plan.ChangesNothing());
}

// ---------------------------------------------------------------------------------------------
// Plans of the object carried out on files, every write failing in turn.

struct FailCase {
  const char *name;
  const char *file;
  std::size_t pictureBytes;  // of the picture added; 0 adds none
  bool inPlace;
};

class FlacTagSaveFile : public ::testing::TestWithParam<FailCase> {
protected:
  void TearDown() override { TWriteFaults::Reset(); }
};

TEST_P(FlacTagSaveFile, EveryFailedWriteLeavesTheFileByteIdentical)
{
  TempDir dir;
  std::string path;
  const auto plan = [this](const std::string &Path, TRewritePlan &Plan) {
    TFlacTag tag = Loaded(ReadFileBytes(Path));
    tag.Comments.SetValue("TITLE", "Failing");
    std::vector<TPictureBlock> pictures = PicturesOf(tag);
    if (GetParam().pictureBytes > 0) {
      pictures.push_back(PngPicture());
      pictures.back().Data.resize(GetParam().pictureBytes, 0);
    }
    ASSERT_EQ(tag.SetPictures(pictures), ftOk);
    auto file = TFileStream::Open(Path, TFileMode::fmOpenRead);
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(tag.PlanSave(*file, Plan), ftOk);
    ASSERT_FALSE(Plan.ChangesNothing());
    ASSERT_EQ(Plan.InPlace, GetParam().inPlace);
  };
  const TWriteFailureRun run = RunFailingEachPlannedWrite(dir.Path(), GetParam().file, "song", plan, &path);
  EXPECT_TRUE(run.Succeeded);
  EXPECT_GT(run.Failures, 0);
  TFlacTag after;
  auto file = TFileStream::Open(path, TFileMode::fmOpenRead);
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(after.Load(*file), ftOk);
  EXPECT_EQ(after.Comments.Value("TITLE"), "Failing");
}

INSTANTIATE_TEST_SUITE_P(Files, FlacTagSaveFile, ::testing::Values(
  FailCase{"native_in_place", "flac/big-padding.flac", 3000, true},
  FailCase{"ogg_in_place", "oga/oggflac-tagged.oga", 0, true},
  FailCase{"ogg_rebuilt", "oga/oggflac-tagged.oga", 20000, false}),
  [](const auto &p) { return std::string(p.param.name); });

} // namespace
