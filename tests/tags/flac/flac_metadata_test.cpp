#include "tags/flac/flac_metadata.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "tags/streams/file_io.h"
#include "tests/support/test_support.h"
#include "tests/support/write_faults.h"

namespace {

// A block header and body; Declared overrides the length field.
Bytes Block(std::uint8_t Type, bool Last, const Bytes &Body, std::int64_t Declared = -1)
{
  const auto len = static_cast<std::uint32_t>(Declared >= 0 ? Declared : static_cast<std::int64_t>(Body.size()));
  return Bytes()
      .U8(static_cast<std::uint8_t>((Last ? 0x80 : 0) | Type))
      .U8(static_cast<std::uint8_t>(len >> 16))
      .U8(static_cast<std::uint8_t>(len >> 8))
      .U8(static_cast<std::uint8_t>(len))
      .Append(Body);
}

// A STREAMINFO body: 4096-sample blocks, the given rate, channels, bits and 36-bit sample count.
Bytes StreamInfo(std::uint32_t Rate, unsigned Channels, unsigned Bits, std::uint64_t Samples)
{
  return Bytes()
      .U16BE(4096).U16BE(4096).Zeros(3).Zeros(3)
      .U8(static_cast<std::uint8_t>(Rate >> 12))
      .U8(static_cast<std::uint8_t>(Rate >> 4))
      .U8(static_cast<std::uint8_t>((Rate & 0xF) << 4 | (Channels - 1) << 1 | (Bits - 1) >> 4))
      .U8(static_cast<std::uint8_t>(((Bits - 1) & 0xF) << 4 | ((Samples >> 32) & 0xF)))
      .U32BE(static_cast<std::uint32_t>(Samples))
      .Fill(16, 0xAB);
}

Bytes Flac(const Bytes &BlocksAfterInfo, bool InfoLast = false)
{
  return Bytes().Str("fLaC").Append(Block(0, InfoLast, StreamInfo(44100, 2, 16, 44100))).Append(BlocksAfterInfo);
}

int LoadBytes(const Bytes8 &Data, TFlacMetadata &Meta)
{
  TMemoryStream s(Data);
  return Meta.Load(s);
}

TFlacMetadata LoadFile(const std::string &Path)
{
  TFlacMetadata meta;
  auto file = TFileStream::Open(Path, TFileMode::fmOpenRead);
  EXPECT_NE(file, nullptr);
  if (file) { EXPECT_EQ(meta.Load(*file), flOk); }
  return meta;
}

Bytes8 Applied(const Bytes8 &Old, const TRewritePlan &Plan)
{
  TMemoryStream s(Old);
  EXPECT_EQ(ApplyPlanToStream(s, Plan), rwOk);
  return s.Data();
}

// A comment body with a vendor and Count entries of a fixed text.
Bytes8 CommentBody(std::size_t Count, std::size_t Length = 20)
{
  Bytes b = Bytes().U32LE(6).Str("vendor").U32LE(static_cast<std::uint32_t>(Count));
  for (std::size_t i = 0; i < Count; ++i) {
    const std::string entry = "COMMENT=" + std::string(Length, static_cast<char>('a' + i % 26));
    b.U32LE(static_cast<std::uint32_t>(entry.size())).Str(entry);
  }
  return b.v;
}

// ---------------------------------------------------------------------------------------------
// The walk over real files gives the blocks `metaflac --list` printed for them at authoring time.

struct FileCase {
  const char *name;
  const char *file;
  std::int64_t id3v2;
  std::vector<std::pair<int, std::size_t>> blocks;  // type, length
};

class FlacWalkFixture : public ::testing::TestWithParam<FileCase> {};

TEST_P(FlacWalkFixture, GivesTheBlocksAndStreamInfo)
{
  const FileCase &c = GetParam();
  const TFlacMetadata meta = LoadFile(FixturePath(std::string("flac/") + c.file));
  ASSERT_TRUE(meta.Loaded());
  EXPECT_FALSE(meta.Damaged()) << meta.DamageReason();
  EXPECT_EQ(meta.ID3v2Size(), c.id3v2);
  ASSERT_EQ(meta.Blocks().size(), c.blocks.size());
  std::int64_t end = c.id3v2 + 4;
  for (std::size_t i = 0; i < c.blocks.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(meta.Blocks()[i].Type, c.blocks[i].first);
    EXPECT_EQ(meta.Blocks()[i].Size(), c.blocks[i].second);
    EXPECT_FALSE(meta.Blocks()[i].Dirty);
    end += 4 + static_cast<std::int64_t>(c.blocks[i].second);
  }
  EXPECT_EQ(meta.AudioOffset(), end);

  // metaflac --show-min-blocksize --show-max-blocksize --show-sample-rate --show-channels
  // --show-bps --show-total-samples --show-md5sum: the same for every fixture.
  const TFlacStreamInfo &si = meta.StreamInfo();
  EXPECT_EQ(si.MinBlockSize, 4096);
  EXPECT_EQ(si.MaxBlockSize, 4096);
  EXPECT_EQ(si.SampleRate, 44100u);
  EXPECT_EQ(si.Channels, 2);
  EXPECT_EQ(si.BitsPerSample, 16);
  EXPECT_EQ(si.TotalSamples, 44100u);
  const std::array<std::uint8_t, 16> md5{0x12, 0xfa, 0x09, 0x03, 0x00, 0xb7, 0x2c, 0x08,
                                         0x30, 0x6b, 0x4a, 0xec, 0xc8, 0x55, 0xda, 0xbf};
  EXPECT_EQ(si.MD5, md5);
  EXPECT_DOUBLE_EQ(meta.PlayTime(), 1.0);
  EXPECT_EQ(meta.Bitrate(), static_cast<std::uint32_t>(std::lround(static_cast<double>(meta.FileSize() - end) / 1000.0 * 8.0)));
}

const std::vector<std::pair<int, std::size_t>> kTagged{{0, 34}, {3, 18}, {4, 506}, {6, 436}, {1, 7286}};

INSTANTIATE_TEST_SUITE_P(Fixtures, FlacWalkFixture, ::testing::Values(
  FileCase{"vorbiscomment", "vorbiscomment.flac", 0, kTagged},
  FileCase{"id3v2_prepended", "id3v2-prepended.flac", 1545, kTagged},
  FileCase{"no_padding", "no-padding.flac", 0, {{0, 34}, {3, 18}, {4, 506}, {6, 636}}},
  FileCase{"big_padding", "big-padding.flac", 0, {{0, 34}, {3, 18}, {4, 506}, {6, 436}, {1, 1100000}}},
  FileCase{"kid3", "kid3.flac", 0, {{0, 34}, {3, 18}, {4, 480}, {6, 636}, {1, 7112}}},
  FileCase{"notags", "notags.flac", 0, {{0, 34}, {3, 18}, {1, 8236}}}),
  [](const auto &p) { return std::string(p.param.name); });

// ---------------------------------------------------------------------------------------------
// Byte-built streams.

TEST(FlacWalk, KeepsEveryKindOfBlockByteForByteAndWalksPastReservedTypes)
{
  const Bytes app = Bytes().Str("TEST").Str("application data");
  const Bytes seek = Bytes().U64BE(0).U64BE(0).U16BE(4096);
  const Bytes cue = Bytes().Fill(396, 0x11);
  const Bytes reserved = Bytes().Str("reserved block body");
  const Bytes data = Flac(Bytes()
                              .Append(Block(2, false, app))
                              .Append(Block(3, false, seek))
                              .Append(Block(9, false, reserved))
                              .Append(Block(5, false, cue))
                              .Append(Block(126, false, Bytes()))
                              .Append(Block(1, true, Bytes().Zeros(10))))
                         .Str("audio frames");
  TFlacMetadata meta;
  ASSERT_EQ(LoadBytes(data, meta), flOk);
  EXPECT_FALSE(meta.Damaged());
  ASSERT_EQ(meta.Blocks().size(), 7u);
  EXPECT_EQ(meta.Blocks()[1].Data, app.v);
  EXPECT_EQ(meta.Blocks()[2].Data, seek.v);
  EXPECT_EQ(meta.Blocks()[3].Type, 9);
  EXPECT_EQ(meta.Blocks()[3].Data, reserved.v);
  EXPECT_EQ(meta.Blocks()[4].Data, cue.v);
  EXPECT_EQ(meta.Blocks()[5].Type, 126);
  EXPECT_EQ(meta.AudioOffset(), static_cast<std::int64_t>(data.size() - 12));

  // A rebuild writes each of them back unchanged, in the same order, with fresh padding last.
  TRewritePlan plan;
  ASSERT_EQ(meta.PlanSave(static_cast<std::int64_t>(data.size()), plan, 0, true), fpOk);
  ASSERT_FALSE(plan.InPlace);
  const Bytes8 want = Flac(Bytes()
                               .Append(Block(2, false, app))
                               .Append(Block(3, false, seek))
                               .Append(Block(9, false, reserved))
                               .Append(Block(5, false, cue))
                               .Append(Block(126, true, Bytes())))
                          .Str("audio frames");
  EXPECT_EQ(Applied(data, plan), want);

  // A load that leaves the bodies in the content (padding, and all but the tags) plans the same
  // rebuild, copying them from there.
  TFlacMetadata tagsOnly;
  TMemoryStream s(data.v);
  ASSERT_EQ(tagsOnly.Load(s, TFlacBodies::fbTagsOnly), flOk);
  ASSERT_EQ(tagsOnly.Blocks().size(), 7u);
  for (std::size_t i = 1; i < 7; ++i) {
    SCOPED_TRACE(i);
    EXPECT_FALSE(tagsOnly.Blocks()[i].Held);
    EXPECT_TRUE(tagsOnly.Blocks()[i].Data.empty());
    EXPECT_EQ(tagsOnly.Blocks()[i].Size(), meta.Blocks()[i].Size());
  }
  ASSERT_EQ(tagsOnly.PlanSave(static_cast<std::int64_t>(data.size()), plan, 0, true), fpOk);
  EXPECT_EQ(Applied(data, plan), want);
}

TEST(FlacPlan, BodiesLeftInTheContentMoveByRebuildAndStayByPatch)
{
  // comment, a seek table (not held on a tags-only load), padding.
  const Bytes seek = Bytes().U64BE(0).U64BE(0).U16BE(4096);
  const Bytes data = Flac(Bytes()
                              .Append(Block(4, false, Bytes().U32LE(1).Str("v").U32LE(0)))
                              .Append(Block(3, false, seek))
                              .Append(Block(1, true, Bytes().Zeros(100))))
                         .Str("audio frames");
  TMemoryStream s(data.v);
  TFlacMetadata meta;
  ASSERT_EQ(meta.Load(s, TFlacBodies::fbTagsOnly), flOk);
  EXPECT_TRUE(meta.Blocks()[1].Held);
  EXPECT_FALSE(meta.Blocks()[2].Held);
  EXPECT_FALSE(meta.Blocks()[3].Held);

  // The changed comment sits before the seek table and the padding: the table has to move, and
  // with its body not held that takes a rebuild that copies it.
  const Bytes comment = Bytes().U32LE(1).Str("v").U32LE(1).U32LE(9).Str("TITLE=abc");
  ASSERT_TRUE(meta.ReplaceBlock(1, comment.v));
  TRewritePlan plan;
  ASSERT_EQ(meta.PlanSave(static_cast<std::int64_t>(data.size()), plan, 10), fpOk);
  EXPECT_FALSE(plan.InPlace);
  EXPECT_EQ(Applied(data, plan), Flac(Bytes()
                                          .Append(Block(4, false, comment))
                                          .Append(Block(3, false, seek))
                                          .Append(Block(1, true, Bytes().Zeros(10))))
                                     .Str("audio frames").v);

  // With the seek table first, the comment and the padding after it are patched in place: the
  // padding is never needed as bytes.
  const Bytes first = Flac(Bytes()
                               .Append(Block(3, false, seek))
                               .Append(Block(4, false, Bytes().U32LE(1).Str("v").U32LE(0)))
                               .Append(Block(1, true, Bytes().Zeros(100))))
                          .Str("audio frames");
  TFlacMetadata again;
  TMemoryStream s2(first.v);
  ASSERT_EQ(again.Load(s2, TFlacBodies::fbTagsOnly), flOk);
  ASSERT_TRUE(again.ReplaceBlock(2, comment.v));
  ASSERT_EQ(again.PlanSave(static_cast<std::int64_t>(first.size()), plan), fpOk);
  EXPECT_TRUE(plan.InPlace);
  EXPECT_EQ(Applied(first, plan), Flac(Bytes()
                                           .Append(Block(3, false, seek))
                                           .Append(Block(4, false, comment))
                                           .Append(Block(1, true, Bytes().Zeros(100 - 13))))
                                      .Str("audio frames").v);
}

TEST(FlacWalk, ThirtySixBitSampleCountAndPlayTime)
{
  const std::uint64_t samples = 0x9'0000'0010ull;
  const Bytes data = Bytes().Str("fLaC").Append(Block(0, true, StreamInfo(655350, 8, 32, samples))).Zeros(1000);
  TFlacMetadata meta;
  ASSERT_EQ(LoadBytes(data, meta), flOk);
  EXPECT_EQ(meta.StreamInfo().TotalSamples, samples);
  EXPECT_EQ(meta.StreamInfo().SampleRate, 655350u);
  EXPECT_EQ(meta.StreamInfo().Channels, 8);
  EXPECT_EQ(meta.StreamInfo().BitsPerSample, 32);
  EXPECT_DOUBLE_EQ(meta.PlayTime(), static_cast<double>(samples) / 655350.0);
  EXPECT_EQ(meta.Bitrate(), 0u);  // 1000 bytes over some 59000 seconds rounds to 0 kbit/s
  EXPECT_EQ(meta.AudioSize(), 1000);
}

TEST(FlacWalk, NoPlayTimeOrBitrateWithoutRateOrSamples)
{
  for (const auto &[rate, samples] : {std::pair<std::uint32_t, std::uint64_t>{0, 44100}, {44100, 0}}) {
    const Bytes data = Bytes().Str("fLaC").Append(Block(0, true, StreamInfo(rate, 2, 16, samples))).Zeros(5000);
    TFlacMetadata meta;
    ASSERT_EQ(LoadBytes(data, meta), flOk);
    EXPECT_FALSE(meta.StreamInfo().Valid());
    EXPECT_EQ(meta.PlayTime(), 0.0);
    EXPECT_EQ(meta.Bitrate(), 0u);
  }
  EXPECT_EQ(FlacBitrate(1000, std::nan("")), 0u);
  EXPECT_EQ(FlacBitrate(1000, 1e-300), 0u);
  EXPECT_EQ(FlacBitrate(1000, -1.0), 0u);
  EXPECT_EQ(FlacBitrate(16000, 1.0), 128u);
}

struct HostileCase {
  const char *name;
  Bytes data;
  int load;
  bool damaged;
  std::size_t blocks;
};

class FlacHostile : public ::testing::TestWithParam<HostileCase> {};

TEST_P(FlacHostile, LoadsWhatIsSafeAndRefusesToWrite)
{
  const HostileCase &c = GetParam();
  TFlacMetadata meta;
  ASSERT_EQ(LoadBytes(c.data, meta), c.load);
  if (c.load != flOk) {
    EXPECT_FALSE(meta.Loaded());
    return;
  }
  EXPECT_EQ(meta.Damaged(), c.damaged);
  EXPECT_EQ(meta.Blocks().size(), c.blocks);
  TRewritePlan plan;
  meta.AddBlock(fbtVorbisComment, CommentBody(1));
  const int rc = meta.PlanSave(static_cast<std::int64_t>(c.data.size()), plan);
  if (c.damaged) {
    EXPECT_EQ(rc, fpDamaged);
    EXPECT_TRUE(plan.ChangesNothing());
    EXPECT_EQ(meta.AudioOffset(), -1);
  } else {
    EXPECT_EQ(rc, fpOk);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, FlacHostile, ::testing::Values(
  HostileCase{"empty", Bytes(), flNotFlac, false, 0},
  HostileCase{"no_marker", Bytes().Str("fLaX").Zeros(100), flNotFlac, false, 0},
  HostileCase{"marker_only", Bytes().Str("fLaC"), flBadStreamInfo, false, 0},
  HostileCase{"streaminfo_short", Bytes().Str("fLaC").Append(Block(0, true, Bytes().Zeros(33))), flBadStreamInfo, false, 0},
  HostileCase{"streaminfo_not_first", Bytes().Str("fLaC").Append(Block(4, true, Bytes().Zeros(34))), flBadStreamInfo, false, 0},
  HostileCase{"streaminfo_length_huge", Bytes().Str("fLaC").Append(Block(0, true, Bytes().Zeros(34), 0xFFFFFF)), flBadStreamInfo, false, 0},
  HostileCase{"streaminfo_only", Flac(Bytes(), true).Zeros(20), flOk, false, 1},
  HostileCase{"forbidden_type", Flac(Block(1, false, Bytes().Zeros(8)).Append(Block(127, true, Bytes().Zeros(4)))), flOk, true, 2},
  HostileCase{"length_past_end", Flac(Block(4, true, Bytes().Zeros(8), 0xFFFFFF)), flOk, true, 1},
  HostileCase{"length_one_past_end", Flac(Block(4, true, Bytes().Zeros(8), 9)), flOk, true, 1},
  HostileCase{"ends_before_last_block", Flac(Block(1, false, Bytes().Zeros(8))), flOk, true, 2},
  HostileCase{"header_cut_short", Flac(Block(1, false, Bytes().Zeros(8))).U8(0x81).U8(0), flOk, true, 2},
  HostileCase{"id3v2_size_past_end", Bytes().Str("ID3").U8(4).U8(0).U8(0).U32BE(0x7F7F7F7F).Append(Flac(Bytes(), true)), flNotFlac, false, 0}),
  [](const auto &p) { return std::string(p.param.name); });

TEST(FlacWalk, BlockCountIsBounded)
{
  Bytes blocks;
  for (std::size_t i = 0; i < kMaxFlacBlocks + 10; ++i) blocks.Append(Block(2, false, Bytes().Str("ABCD")));
  blocks.Append(Block(1, true, Bytes()));
  TFlacMetadata meta;
  ASSERT_EQ(LoadBytes(Flac(blocks), meta), flOk);
  EXPECT_TRUE(meta.Damaged());
  EXPECT_EQ(meta.Blocks().size(), kMaxFlacBlocks);
}

TEST(FlacWalk, SkipsSeveralID3v2TagsInFront)
{
  const Bytes id3 = Bytes().Str("ID3").U8(3).U8(0).U8(0).U32BE(5).Zeros(5);
  const Bytes data = Bytes().Append(id3).Append(id3).Append(Flac(Block(1, true, Bytes().Zeros(4)))).Str("audio");
  TFlacMetadata meta;
  ASSERT_EQ(LoadBytes(data, meta), flOk);
  EXPECT_EQ(meta.ID3v2Size(), 30);
  EXPECT_FALSE(meta.Damaged());
}

// ---------------------------------------------------------------------------------------------
// Editing.

TEST(FlacEdit, AddsAfterItsKindAndDeletesByType)
{
  TFlacMetadata meta;
  ASSERT_EQ(LoadBytes(Flac(Bytes()
                               .Append(Block(6, false, Bytes().Str("pic1")))
                               .Append(Block(4, false, Bytes(CommentBody(0))))
                               .Append(Block(1, true, Bytes().Zeros(100)))),
                      meta),
            flOk);
  EXPECT_FALSE(meta.Changed());
  EXPECT_EQ(meta.AddBlock(fbtPicture, Bytes().Str("pic2")), 2);
  EXPECT_EQ(meta.AddBlock(fbtApplication, Bytes().Str("APPL")), 4);  // after the last block that is not padding
  EXPECT_EQ(meta.AddBlock(fbtStreamInfo, {}), -1);
  EXPECT_EQ(meta.AddBlock(fbtForbidden, {}), -1);
  EXPECT_TRUE(meta.Changed());
  EXPECT_EQ(meta.CountOf(fbtPicture), 2u);
  EXPECT_EQ(meta.DeleteBlocks(fbtPicture), 2u);
  EXPECT_EQ(meta.DeleteBlocks(fbtStreamInfo), 0u);
  EXPECT_FALSE(meta.ReplaceBlock(0, {}));
  EXPECT_EQ(meta.IndexOf(fbtVorbisComment), 1);
  EXPECT_EQ(meta.IndexOf(fbtApplication), 2);
}

TEST(FlacEdit, RemoveTagsKeepsOtherBlocksAndTheVendor)
{
  const Bytes8 old = ReadFileBytes(FixturePath("flac/big-padding.flac"));
  TFlacMetadata meta;
  ASSERT_EQ(LoadBytes(old, meta), flOk);
  meta.RemoveTags(0);
  TRewritePlan plan;
  ASSERT_EQ(meta.PlanSave(static_cast<std::int64_t>(old.size()), plan), fpOk);
  EXPECT_FALSE(plan.InPlace);
  TFlacMetadata after;
  ASSERT_EQ(LoadBytes(Applied(old, plan), after), flOk);
  ASSERT_EQ(after.Blocks().size(), 3u);
  EXPECT_EQ(after.Blocks()[1].Type, fbtSeekTable);
  EXPECT_EQ(after.Blocks()[2].Type, fbtVorbisComment);
  std::string vendor, oldVendor;
  ASSERT_TRUE(VorbisCommentVendor(after.Blocks()[2].Data, vendor));
  ASSERT_TRUE(VorbisCommentVendor(meta.Blocks()[2].Data, oldVendor));
  EXPECT_EQ(vendor, oldVendor);
  EXPECT_EQ(after.Blocks()[2].Size(), 4 + vendor.size() + 4);
}

TEST(FlacEdit, RemoveTagsAddsAnEmptyCommentWhereThereWasNone)
{
  TFlacMetadata meta;
  const Bytes data = Flac(Block(1, true, Bytes().Zeros(10))).Str("audio");
  ASSERT_EQ(LoadBytes(data, meta), flOk);
  meta.RemoveTags(16);
  TRewritePlan plan;
  ASSERT_EQ(meta.PlanSave(static_cast<std::int64_t>(data.size()), plan), fpOk);
  const Bytes8 want = Flac(Bytes()
                               .Append(Block(4, false, Bytes(EmptyVorbisCommentBody(TFlacMetadata::DefaultVendor))))
                               .Append(Block(1, true, Bytes().Zeros(16))))
                          .Str("audio");
  const Bytes8 got = Applied(data, plan);
  ASSERT_EQ(got.size(), want.size());
  EXPECT_EQ(got, want);
}

// ---------------------------------------------------------------------------------------------
// Plans.

// vorbiscomment.flac with its picture deleted (in place: the padding takes its space): STREAMINFO,
// SEEKTABLE, VORBIS_COMMENT, then PADDING right after the comment.
Bytes8 CommentThenPadding()
{
  const Bytes8 old = ReadFileBytes(FixturePath("flac/vorbiscomment.flac"));
  TFlacMetadata meta;
  EXPECT_EQ(LoadBytes(old, meta), flOk);
  EXPECT_EQ(meta.DeleteBlocks(fbtPicture), 1u);
  TRewritePlan plan;
  EXPECT_EQ(meta.PlanSave(static_cast<std::int64_t>(old.size()), plan), fpOk);
  EXPECT_TRUE(plan.InPlace);
  Bytes8 out = Applied(old, plan);
  EXPECT_EQ(out.size(), old.size());
  return out;
}

// The offsets at which A and B (of one size) differ: [first, last + 1), or {0, 0}.
std::pair<std::size_t, std::size_t> DiffRange(const Bytes8 &A, const Bytes8 &B)
{
  std::size_t first = A.size(), last = 0;
  for (std::size_t i = 0; i < A.size(); ++i)
    if (A[i] != B[i]) { first = std::min(first, i); last = i + 1; }
  return first == A.size() ? std::pair<std::size_t, std::size_t>{0, 0} : std::pair{first, last};
}

TEST(FlacPlan, SlightlyLongerCommentIsWrittenInPlaceOverCommentAndPadding)
{
  const Bytes8 old = CommentThenPadding();
  TFlacMetadata meta;
  ASSERT_EQ(LoadBytes(old, meta), flOk);
  ASSERT_EQ(meta.Blocks().size(), 4u);
  const std::size_t oldComment = meta.Blocks()[2].Size();
  const std::size_t oldPadding = meta.Blocks()[3].Size();
  const std::int64_t commentAt = 4 + 38 + 22;
  Bytes8 body = meta.Blocks()[2].Data;
  const std::string extra = "EXTRA=more text";
  body.insert(body.end(), {static_cast<std::uint8_t>(extra.size()), 0, 0, 0});
  body.insert(body.end(), extra.begin(), extra.end());
  ASSERT_TRUE(meta.ReplaceBlock(2, body));
  TRewritePlan plan;
  ASSERT_EQ(meta.PlanSave(static_cast<std::int64_t>(old.size()), plan), fpOk);
  ASSERT_TRUE(plan.InPlace);
  ASSERT_EQ(plan.Patches.size(), 1u);
  EXPECT_EQ(plan.Patches[0].Offset, commentAt);
  EXPECT_EQ(static_cast<std::size_t>(plan.Patches[0].Bytes.size()), 8 + oldComment + oldPadding);

  const Bytes8 out = Applied(old, plan);
  ASSERT_EQ(out.size(), old.size());
  const auto [from, to] = DiffRange(old, out);
  EXPECT_GE(from, static_cast<std::size_t>(commentAt));
  EXPECT_LE(to, static_cast<std::size_t>(commentAt) + 8 + body.size() + 4);  // the comment and the padding header
  TFlacMetadata after;
  ASSERT_EQ(LoadBytes(out, after), flOk);
  ASSERT_EQ(after.Blocks().size(), 4u);
  EXPECT_EQ(after.Blocks()[2].Data, body);
  EXPECT_EQ(after.Blocks()[3].Size(), oldPadding - (body.size() - oldComment));
  EXPECT_EQ(after.AudioOffset(), meta.AudioOffset());
}

TEST(FlacPlan, GrowthThatLeavesNoRoomForAPaddingHeaderRebuildsAndExactFitNeedsNone)
{
  const Bytes8 old = CommentThenPadding();
  const std::size_t padding = 7286 + 436 + 4;  // the picture's space went to the padding
  struct Growth { std::size_t by; bool inPlace; std::size_t blocks; };
  for (const Growth g : {Growth{1, true, 4}, Growth{padding - 1, true, 4}, Growth{padding, true, 4},
                         Growth{padding + 1, false, 4}, Growth{padding + 3, false, 4},
                         Growth{padding + 4, true, 3}, Growth{padding + 5, false, 4}}) {
    SCOPED_TRACE(g.by);
    TFlacMetadata meta;
    ASSERT_EQ(LoadBytes(old, meta), flOk);
    ASSERT_EQ(meta.Blocks()[3].Size(), padding);
    Bytes8 body = meta.Blocks()[2].Data;
    body.resize(body.size() + g.by, 0x20);
    ASSERT_TRUE(meta.ReplaceBlock(2, body));
    TRewritePlan plan;
    ASSERT_EQ(meta.PlanSave(static_cast<std::int64_t>(old.size()), plan), fpOk);
    EXPECT_EQ(plan.InPlace, g.inPlace);
    const Bytes8 out = Applied(old, plan);
    if (g.inPlace) { EXPECT_EQ(out.size(), old.size()); }
    TFlacMetadata after;
    ASSERT_EQ(LoadBytes(out, after), flOk);
    EXPECT_FALSE(after.Damaged());
    ASSERT_EQ(after.Blocks().size(), g.blocks);
    EXPECT_EQ(after.Blocks()[2].Data, body);
    EXPECT_EQ(Slice(out, static_cast<std::size_t>(after.AudioOffset()), out.size()).v,
              Slice(old, static_cast<std::size_t>(meta.AudioOffset()), old.size()).v);
  }
}

TEST(FlacPlan, MuchLongerCommentRebuildsWithDefaultPaddingLast)
{
  const Bytes8 old = ReadFileBytes(FixturePath("flac/vorbiscomment.flac"));
  TFlacMetadata meta;
  ASSERT_EQ(LoadBytes(old, meta), flOk);
  ASSERT_TRUE(meta.ReplaceBlock(2, CommentBody(400, 40)));
  TRewritePlan plan;
  ASSERT_EQ(meta.PlanSave(static_cast<std::int64_t>(old.size()), plan), fpOk);
  ASSERT_FALSE(plan.InPlace);
  const Bytes8 out = Applied(old, plan);
  TFlacMetadata after;
  ASSERT_EQ(LoadBytes(out, after), flOk);
  ASSERT_EQ(after.Blocks().size(), 5u);
  EXPECT_EQ(after.Blocks()[2].Data, CommentBody(400, 40));
  EXPECT_EQ(after.Blocks()[3].Data, meta.Blocks()[3].Data);
  EXPECT_EQ(after.Blocks()[4].Type, fbtPadding);
  EXPECT_EQ(after.Blocks()[4].Size(), kDefaultFlacPadding);
}

TEST(FlacPlan, SameSizeReplacementIsWrittenInPlace)
{
  const Bytes8 old = ReadFileBytes(FixturePath("flac/no-padding.flac"));
  TFlacMetadata meta;
  ASSERT_EQ(LoadBytes(old, meta), flOk);
  Bytes8 body = meta.Blocks()[2].Data;
  body.back() ^= 0x01;
  ASSERT_TRUE(meta.ReplaceBlock(2, body));
  EXPECT_TRUE(meta.Blocks()[2].Dirty);
  TRewritePlan plan;
  ASSERT_EQ(meta.PlanSave(static_cast<std::int64_t>(old.size()), plan), fpOk);
  ASSERT_TRUE(plan.InPlace);
  const Bytes8 out = Applied(old, plan);
  const auto [from, to] = DiffRange(old, out);
  EXPECT_EQ(to - from, 1u);
  EXPECT_EQ(out[to - 1], body.back());
}

TEST(FlacPlan, NoPaddingAndAnotherSizeRebuilds)
{
  const Bytes8 old = ReadFileBytes(FixturePath("flac/no-padding.flac"));
  TFlacMetadata meta;
  ASSERT_EQ(LoadBytes(old, meta), flOk);
  Bytes8 body = meta.Blocks()[2].Data;
  body.pop_back();
  ASSERT_TRUE(meta.ReplaceBlock(2, body));
  TRewritePlan plan;
  ASSERT_EQ(meta.PlanSave(static_cast<std::int64_t>(old.size()), plan, 100), fpOk);
  ASSERT_FALSE(plan.InPlace);
  const Bytes8 out = Applied(old, plan);
  TFlacMetadata after;
  ASSERT_EQ(LoadBytes(out, after), flOk);
  ASSERT_EQ(after.Blocks().size(), 5u);
  EXPECT_EQ(after.Blocks()[4].Type, fbtPadding);
  const auto padding = out.begin() + after.Blocks()[4].Offset + 4;
  EXPECT_EQ(Bytes8(padding, padding + static_cast<std::ptrdiff_t>(after.Blocks()[4].Size())), Bytes8(100, 0));
}

TEST(FlacPlan, NothingChangedPlansNothing)
{
  const Bytes8 old = ReadFileBytes(FixturePath("flac/kid3.flac"));
  TFlacMetadata meta;
  ASSERT_EQ(LoadBytes(old, meta), flOk);
  TRewritePlan plan;
  ASSERT_EQ(meta.PlanSave(static_cast<std::int64_t>(old.size()), plan), fpOk);
  EXPECT_TRUE(plan.ChangesNothing());
  EXPECT_EQ(meta.PlanSave(static_cast<std::int64_t>(old.size()) + 1, plan), fpContentChanged);
}

TEST(FlacPlan, AddingAPictureAtTheEndTakesSpaceFromTheLastPadding)
{
  const Bytes8 old = ReadFileBytes(FixturePath("flac/kid3.flac"));
  TFlacMetadata meta;
  ASSERT_EQ(LoadBytes(old, meta), flOk);
  ASSERT_EQ(meta.AddBlock(fbtPicture, Bytes().Fill(1000, 0x42)), 4);
  TRewritePlan plan;
  ASSERT_EQ(meta.PlanSave(static_cast<std::int64_t>(old.size()), plan), fpOk);
  ASSERT_TRUE(plan.InPlace);
  const Bytes8 out = Applied(old, plan);
  TFlacMetadata after;
  ASSERT_EQ(LoadBytes(out, after), flOk);
  ASSERT_EQ(after.Blocks().size(), 6u);
  EXPECT_EQ(after.Blocks()[4].Data, Bytes8(1000, 0x42));
  EXPECT_EQ(after.Blocks()[5].Size(), 7112u - 1004);
  const auto [from, to] = DiffRange(old, out);
  EXPECT_GE(from, static_cast<std::size_t>(4 + 38 + 22 + 484 + 640));
  (void)to;
}

TEST(FlacPlan, BlockOverTwentyFourBitsIsRefusedBeforeAnythingIsPlanned)
{
  const Bytes8 old = ReadFileBytes(FixturePath("flac/notags.flac"));
  TFlacMetadata meta;
  ASSERT_EQ(LoadBytes(old, meta), flOk);
  meta.AddBlock(fbtPicture, Bytes8(kMaxFlacBlockBody + 1, 0));
  TRewritePlan plan;
  EXPECT_EQ(meta.PlanSave(static_cast<std::int64_t>(old.size()), plan), fpBlockTooLarge);
  EXPECT_TRUE(plan.ChangesNothing());
  meta.DeleteBlocks(fbtPicture);
  meta.AddBlock(fbtPicture, Bytes8(kMaxFlacBlockBody, 0));
  EXPECT_EQ(meta.PlanSave(static_cast<std::int64_t>(old.size()), plan, kMaxFlacBlockBody + 1), fpBlockTooLarge);
  EXPECT_EQ(meta.PlanSave(static_cast<std::int64_t>(old.size()), plan), fpOk);
  EXPECT_FALSE(plan.InPlace);
}

TEST(FlacPlan, StreamInfoOnlyFileGetsAComment)
{
  const Bytes data = Flac(Bytes(), true).Str("frames");
  TFlacMetadata meta;
  ASSERT_EQ(LoadBytes(data, meta), flOk);
  ASSERT_EQ(meta.AddBlock(fbtVorbisComment, CommentBody(1)), 1);
  TRewritePlan plan;
  ASSERT_EQ(meta.PlanSave(static_cast<std::int64_t>(data.size()), plan, 0), fpOk);
  EXPECT_EQ(Applied(data, plan), Flac(Block(4, true, Bytes(CommentBody(1)))).Str("frames").v);
}

// ---------------------------------------------------------------------------------------------
// Plans carried out on files: what other tools make of them, and every write failing in turn.

struct FileEdit {
  const char *name;
  const char *file;
  std::size_t commentEntries;  // the new comment block; 0 deletes the pictures instead
  bool inPlace;
};

class FlacSaveFile : public ::testing::TestWithParam<FileEdit> {
protected:
  void TearDown() override { TWriteFaults::Reset(); }
  static TRewritePlan Plan(const std::string &Path)
  {
    TFlacMetadata meta = LoadFile(Path);
    const int comment = meta.IndexOf(fbtVorbisComment);
    if (GetParam().commentEntries == 0) meta.DeleteBlocks(fbtPicture);
    else if (comment > 0) meta.ReplaceBlock(static_cast<std::size_t>(comment), CommentBody(GetParam().commentEntries));
    else meta.AddBlock(fbtVorbisComment, CommentBody(GetParam().commentEntries));
    TRewritePlan plan;
    EXPECT_EQ(meta.PlanSave(meta.FileSize(), plan), fpOk);
    return plan;
  }
};

TEST_P(FlacSaveFile, OtherToolsReadTheResultAndTheAudioIsUntouched)
{
  TempDir dir;
  const std::string path = dir.CopyFixture(std::string("flac/") + GetParam().file);
  const Bytes8 old = ReadFileBytes(path);
  const TFlacMetadata before = LoadFile(path);
  const TRewritePlan plan = Plan(path);
  EXPECT_EQ(plan.InPlace, GetParam().inPlace);
  {
    auto file = TFileStream::Open(path, TFileMode::fmOpenReadWrite);
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(ApplyPlanToFile(path, *file, plan), rwOk);
  }
  const Bytes8 out = ReadFileBytes(path);
  const TFlacMetadata after = LoadFile(path);
  EXPECT_FALSE(after.Damaged());
  if (plan.InPlace) { EXPECT_EQ(out.size(), old.size()); }
  EXPECT_EQ(Slice(out, 0, static_cast<std::size_t>(after.ID3v2Size())).v,
            Slice(old, 0, static_cast<std::size_t>(before.ID3v2Size())).v);
  EXPECT_EQ(Slice(out, static_cast<std::size_t>(after.AudioOffset()), out.size()).v,
            Slice(old, static_cast<std::size_t>(before.AudioOffset()), old.size()).v);
  if (!HaveTool("flac") || !HaveTool("metaflac")) GTEST_SKIP() << "flac/metaflac not installed";
  int status = 0;
  const std::string test = RunCommand("flac -s -t '" + path + "'", status);
  EXPECT_EQ(status, 0) << test;
  const std::string list = RunCommand("metaflac --list '" + path + "'", status);
  EXPECT_EQ(status, 0) << list;
  std::size_t blocks = 0;
  for (std::size_t at = list.find("METADATA block #"); at != std::string::npos; at = list.find("METADATA block #", at + 1)) ++blocks;
  EXPECT_EQ(blocks, after.Blocks().size());
  EXPECT_EQ(list.find("is last: true"), list.rfind("is last: true"));
}

TEST_P(FlacSaveFile, EveryFailedWriteLeavesTheFileByteIdentical)
{
  TempDir dir;
  const TWriteFailureRun run = RunFailingEachPlannedWrite(
    dir.Path(), std::string("flac/") + GetParam().file, "",
    [](const std::string &Path, TRewritePlan &Planned) { Planned = Plan(Path); });
  EXPECT_TRUE(run.Succeeded);
  EXPECT_GT(run.Failures, 0);
}

INSTANTIATE_TEST_SUITE_P(Files, FlacSaveFile, ::testing::Values(
  FileEdit{"in_place_comment", "vorbiscomment.flac", 3, true},
  FileEdit{"rebuilt_comment", "vorbiscomment.flac", 400, false},
  FileEdit{"in_place_behind_id3v2", "id3v2-prepended.flac", 3, true},
  FileEdit{"rebuilt_behind_id3v2", "id3v2-prepended.flac", 400, false},
  FileEdit{"rebuilt_no_padding", "no-padding.flac", 2, false},
  FileEdit{"added_comment", "notags.flac", 2, true},
  FileEdit{"pictures_deleted", "big-padding.flac", 0, true}),
  [](const auto &p) { return std::string(p.param.name); });

// ---------------------------------------------------------------------------------------------
// Ogg FLAC header packets.

std::vector<std::span<const std::uint8_t>> Spans(const std::vector<TBytes> &Packets)
{
  return {Packets.begin(), Packets.end()};
}

TEST(FlacOggPackets, HeaderPacketsReadBackAsTheSameBlocks)
{
  const TFlacMetadata native = LoadFile(FixturePath("flac/vorbiscomment.flac"));
  const std::vector<TBytes> packets = native.HeaderPackets();
  ASSERT_EQ(packets.size(), 4u);  // mapping header, SEEKTABLE, VORBIS_COMMENT, PICTURE; no padding
  EXPECT_EQ(packets[0].size(), 51u);
  EXPECT_EQ(packets[0][8], 3);
  EXPECT_EQ(packets[3][0], 0x86);
  TFlacMetadata ogg;
  ASSERT_EQ(ogg.LoadFromPackets(Spans(packets)), flOk);
  EXPECT_TRUE(ogg.FromOgg());
  EXPECT_FALSE(ogg.Damaged());
  ASSERT_EQ(ogg.Blocks().size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(ogg.Blocks()[i].Type, native.Blocks()[i].Type);
    EXPECT_EQ(ogg.Blocks()[i].Data, native.Blocks()[i].Data);
  }
  EXPECT_EQ(ogg.StreamInfo().TotalSamples, 44100u);
  TRewritePlan plan;
  EXPECT_EQ(ogg.PlanSave(1000, plan), fpNotLoaded);
}

struct PacketCase {
  const char *name;
  std::vector<TBytes> packets;
  int load;
  bool damaged;
  std::size_t blocks;
};

TBytes Mapping(std::uint8_t Major, std::uint16_t Count, bool InfoLast = false)
{
  return Bytes().U8(0x7F).Str("FLAC").U8(Major).U8(0).U16BE(Count).Str("fLaC")
      .Append(Block(0, InfoLast, StreamInfo(48000, 2, 24, 96000))).v;
}

class FlacOggHostile : public ::testing::TestWithParam<PacketCase> {};

TEST_P(FlacOggHostile, CodeAndBlocks)
{
  const PacketCase &c = GetParam();
  TFlacMetadata meta;
  ASSERT_EQ(meta.LoadFromPackets(Spans(c.packets)), c.load);
  if (c.load != flOk) return;
  EXPECT_EQ(meta.Damaged(), c.damaged);
  EXPECT_EQ(meta.Blocks().size(), c.blocks);
}

INSTANTIATE_TEST_SUITE_P(Table, FlacOggHostile, ::testing::Values(
  PacketCase{"none", {}, flNotFlac, false, 0},
  PacketCase{"not_flac", {Bytes().Str("\x01vorbis").Zeros(30).v}, flNotFlac, false, 0},
  PacketCase{"major_2", {Mapping(2, 0)}, flUnsupportedOgg, false, 0},
  PacketCase{"cut_mapping", {Slice(Mapping(1, 0), 0, 40).v}, flBadStreamInfo, false, 0},
  PacketCase{"info_only", {Mapping(1, 0, true)}, flOk, false, 1},
  PacketCase{"count_ends_walk", {Mapping(1, 1), Block(4, false, Bytes(CommentBody(0))).v, Block(2, false, Bytes().Str("ABCD")).v}, flOk, false, 2},
  PacketCase{"last_flag_ends_walk", {Mapping(1, 0), Block(4, true, Bytes(CommentBody(0))).v, Block(2, false, Bytes().Str("ABCD")).v}, flOk, false, 2},
  PacketCase{"packets_run_out", {Mapping(1, 3), Block(4, false, Bytes(CommentBody(0))).v}, flOk, true, 2},
  PacketCase{"length_not_packet", {Mapping(1, 1), Block(4, true, Bytes(CommentBody(0)), 5).v}, flOk, true, 1},
  PacketCase{"forbidden", {Mapping(1, 1), Block(127, true, Bytes()).v}, flOk, true, 1},
  PacketCase{"short_packet", {Mapping(1, 1), Bytes().U8(0x84).v}, flOk, true, 1}),
  [](const auto &p) { return std::string(p.param.name); });

} // namespace
