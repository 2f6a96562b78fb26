#include "tags/riff/chunk_walker.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/support/test_support.h"

namespace {

Bytes U64BE(std::uint64_t v) { return Bytes().U32BE(static_cast<std::uint32_t>(v >> 32)).U32BE(static_cast<std::uint32_t>(v)); }

// A chunk of the given size form with a pad byte when odd; Declared overrides the size field.
Bytes Chunk(TChunkSizeForm Form, std::string_view ID, const Bytes &Data, std::int64_t Declared = -1)
{
  const std::uint64_t size = Declared >= 0 ? static_cast<std::uint64_t>(Declared) : Data.size();
  Bytes b = Bytes().Str(ID);
  switch (Form) {
  case TChunkSizeForm::csLE32: b.U32LE(static_cast<std::uint32_t>(size)); break;
  case TChunkSizeForm::csBE32: b.U32BE(static_cast<std::uint32_t>(size)); break;
  case TChunkSizeForm::csBE64: b.Append(U64BE(size)); break;
  }
  b.Append(Data);
  if (Data.size() % 2) b.U8(0);
  return b;
}

Bytes Riff(const Bytes &Chunks) { return Bytes().Str("RIFF").U32LE(static_cast<std::uint32_t>(Chunks.size() + 4)).Str("WAVE").Append(Chunks); }
Bytes Aiff(const Bytes &Chunks, std::string_view Type = "AIFF")
{
  return Bytes().Str("FORM").U32BE(static_cast<std::uint32_t>(Chunks.size() + 4)).Str(Type).Append(Chunks);
}
Bytes Dff(const Bytes &Chunks) { return Bytes().Str("FRM8").Append(U64BE(Chunks.size() + 4)).Str("DSD ").Append(Chunks); }

Bytes Ds64(std::uint64_t Riff, std::uint64_t Data, std::uint64_t Samples)
{
  return Bytes().U32LE(static_cast<std::uint32_t>(Riff)).U32LE(static_cast<std::uint32_t>(Riff >> 32))
    .U32LE(static_cast<std::uint32_t>(Data)).U32LE(static_cast<std::uint32_t>(Data >> 32))
    .U32LE(static_cast<std::uint32_t>(Samples)).U32LE(static_cast<std::uint32_t>(Samples >> 32)).U32LE(0);
}

// An RF64 file whose sizes are in ds64: RIFF size and data size as given.
Bytes Rf64(const Bytes &Rest, std::uint64_t DataSize)
{
  const std::uint64_t riffSize = 4 + 8 + 28 + Rest.size();
  return Bytes().Str("RF64").U32LE(0xFFFFFFFFu).Str("WAVE").Append(Chunk(TChunkSizeForm::csLE32, "ds64", Ds64(riffSize, DataSize, 0))).Append(Rest);
}

std::vector<std::string> IdsOf(const std::vector<TChunk> &Chunks)
{
  std::vector<std::string> ids;
  for (const TChunk &c : Chunks) ids.push_back(c.ID);
  return ids;
}

std::vector<TChunk> WalkAll(TStream &S, std::int64_t From, std::int64_t Limit, TChunkSizeForm Form, bool *Exhausted = nullptr)
{
  TChunkWalker walker(S, From, Limit, Form);
  std::vector<TChunk> out;
  TChunk c;
  while (walker.Next(c)) out.push_back(c);
  if (Exhausted) *Exhausted = walker.CountExhausted();
  return out;
}

constexpr auto LE = TChunkSizeForm::csLE32;
constexpr auto BE = TChunkSizeForm::csBE32;
constexpr auto BE64 = TChunkSizeForm::csBE64;

// --- the lenient walk -----------------------------------------------------------------------------

TEST(ChunkWalker, OddSizesArePaddedAndOffsetsAreExact)
{
  for (const TChunkSizeForm form : {LE, BE, BE64}) {
    const std::int64_t h = ChunkHeaderBytes(form);
    const Bytes data = Chunk(form, "aaaa", Bytes().Fill(3, 1)).Append(Chunk(form, "bbbb", Bytes().Fill(4, 2)));
    TMemoryStream s(data);
    const auto chunks = WalkAll(s, 0, 1000, form);
    ASSERT_EQ(IdsOf(chunks), (std::vector<std::string>{"aaaa", "bbbb"}));
    EXPECT_EQ(chunks[0].Size, 3u);
    EXPECT_EQ(chunks[0].DataOffset, h);
    EXPECT_EQ(chunks[0].DataEnd, h + 3);
    EXPECT_EQ(chunks[0].End, h + 4);
    EXPECT_EQ(chunks[1].Offset, h + 4);
    EXPECT_EQ(chunks[1].End, static_cast<std::int64_t>(data.size()));
    EXPECT_TRUE(chunks[1].Complete);
  }
}

TEST(ChunkWalker, AChunkPastTheLimitIsReportedCutAndEndsTheWalk)
{
  const Bytes data = Chunk(LE, "fmt ", Bytes().Zeros(4)).Append(Chunk(LE, "data", Bytes().Zeros(10), 0xFFFFFFF0)).Append(Chunk(LE, "id3 ", Bytes().Zeros(2)));
  TMemoryStream s(data);
  TChunkWalker walker(s, 0, 1 << 30, LE);  // the limit is cut at the stream's end
  EXPECT_EQ(walker.Limit(), static_cast<std::int64_t>(data.size()));
  TChunk c;
  ASSERT_TRUE(walker.Next(c));
  ASSERT_TRUE(walker.Next(c));
  EXPECT_EQ(c.ID, "data");
  EXPECT_FALSE(c.Complete);
  EXPECT_EQ(c.Size, 0xFFFFFFF0u);
  EXPECT_EQ(c.DataEnd, walker.Limit());
  EXPECT_EQ(c.DataSize(), walker.Limit() - c.DataOffset);
  EXPECT_EQ(walker.Position(), -1);
  EXPECT_FALSE(walker.Next(c));
}

TEST(ChunkWalker, HostileSixtyFourBitSizesNeverOverflow)
{
  for (const std::uint64_t size : {~0ull, ~0ull - 1, 1ull << 63, (1ull << 63) - 1}) {
    const Bytes data = Bytes().Str("DSD ").Append(U64BE(size)).Zeros(20);
    TMemoryStream s(data);
    const auto chunks = WalkAll(s, 0, static_cast<std::int64_t>(data.size()), BE64);
    ASSERT_EQ(chunks.size(), 1u) << size;
    EXPECT_FALSE(chunks[0].Complete);
    EXPECT_EQ(chunks[0].DataEnd, static_cast<std::int64_t>(data.size()));
    EXPECT_EQ(chunks[0].End, static_cast<std::int64_t>(data.size()));
  }
}

TEST(ChunkWalker, APadByteMissingAtTheLimitEndsTheWalkQuietly)
{
  const Bytes data = Bytes().Append(Chunk(BE, "COMM", Bytes().Zeros(2))).Str("SSND").U32BE(3).Zeros(3);
  TMemoryStream s(data);
  const auto chunks = WalkAll(s, 0, static_cast<std::int64_t>(data.size()), BE);
  ASSERT_EQ(chunks.size(), 2u);
  EXPECT_TRUE(chunks[1].Complete);
  EXPECT_EQ(chunks[1].End, static_cast<std::int64_t>(data.size()));
}

TEST(ChunkWalker, StopsAtTheChunkCountAndSaysSo)
{
  Bytes many;
  for (int i = 0; i < kMaxFormChunks + 1; ++i) many.Str("abcd").U32LE(0);
  TMemoryStream s(many);
  bool exhausted = false;
  EXPECT_EQ(WalkAll(s, 0, static_cast<std::int64_t>(many.size()), LE, &exhausted).size(), static_cast<std::size_t>(kMaxFormChunks));
  EXPECT_TRUE(exhausted);

  TMemoryStream exact(Bytes8(many.v.begin(), many.v.end() - 8));
  EXPECT_EQ(WalkAll(exact, 0, exact.GetSize(), LE, &exhausted).size(), static_cast<std::size_t>(kMaxFormChunks));
  EXPECT_FALSE(exhausted);
}

TEST(ChunkWalker, FindAndTheRF64DataSize)
{
  const Bytes data = Bytes().Str("data").U32LE(0xFFFFFFFFu).Zeros(6).Append(Chunk(LE, "id3 ", Bytes().Zeros(4)));
  TMemoryStream s(data);
  TChunk c;
  EXPECT_FALSE(TChunkWalker(s, 0, s.GetSize(), LE).Find("id3 ", c));  // the data chunk runs to the end
  TChunkWalker rf64(s, 0, s.GetSize(), LE);
  rf64.SetRF64DataSize(6);
  ASSERT_TRUE(rf64.Find("id3 ", c));
  EXPECT_EQ(c.Offset, 14);
  EXPECT_EQ(c.DataSize(), 4);
}

// --- the form header ------------------------------------------------------------------------------

struct HeaderCase {
  const char *name;
  Bytes file;
  int want;
  TChunkFormKind kind;
  std::int64_t sizeFieldOffset;
  int sizeFieldBytes;
  bool declaredEndFits;
};

class ChunkFormHeader : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(ChunkFormHeader, KindSizeFieldAndExtent)
{
  const HeaderCase &c = GetParam();
  TMemoryStream s(c.file);
  TChunkForm form;
  ASSERT_EQ(ReadChunkFormHeader(s, 0, form), c.want);
  if (c.want != cfcOk) return;
  EXPECT_EQ(form.Kind, c.kind);
  EXPECT_EQ(form.SizeFieldOffset, c.sizeFieldOffset);
  EXPECT_EQ(form.SizeFieldBytes, c.sizeFieldBytes);
  EXPECT_EQ(form.DeclaredEndFits, c.declaredEndFits);
  EXPECT_LE(form.End, s.GetSize());
  if (c.declaredEndFits) { EXPECT_EQ(form.End, s.GetSize()); }
}

const Bytes kWaveChunks = Chunk(LE, "fmt ", Bytes().Zeros(16)).Append(Chunk(LE, "data", Bytes().Zeros(5)));

INSTANTIATE_TEST_SUITE_P(Table, ChunkFormHeader, ::testing::Values(
  HeaderCase{"riff", Riff(kWaveChunks), cfcOk, cfkRIFF, 4, 4, true},
  HeaderCase{"rf64_size_in_ds64", Rf64(kWaveChunks, 5), cfcOk, cfkRF64, 20, 8, true},
  HeaderCase{"rf64_with_a_32_bit_size", Bytes().Str("RF64").U32LE(4 + 36 + 10).Str("WAVE").Append(Chunk(LE, "ds64", Ds64(0, 0, 0))).Append(Chunk(LE, "data", Bytes().Zeros(2))), cfcOk, cfkRF64, 4, 4, true},
  HeaderCase{"aiff", Aiff(Chunk(BE, "COMM", Bytes().Zeros(18))), cfcOk, cfkAIFF, 4, 4, true},
  HeaderCase{"aifc", Aiff(Chunk(BE, "COMM", Bytes().Zeros(18)), "AIFC"), cfcOk, cfkAIFF, 4, 4, true},
  HeaderCase{"dsdiff", Dff(Chunk(BE64, "FVER", Bytes().Zeros(4))), cfcOk, cfkDSDIFF, 4, 8, true},
  HeaderCase{"size_past_the_stream", Bytes().Str("RIFF").U32LE(1000).Str("WAVE").Append(kWaveChunks), cfcOk, cfkRIFF, 4, 4, false},
  HeaderCase{"dsdiff_size_of_all_ones", Bytes().Str("FRM8").Append(U64BE(~0ull)).Str("DSD ").Zeros(12), cfcOk, cfkDSDIFF, 4, 8, false},
  HeaderCase{"riff_of_another_type", Bytes().Str("RIFF").U32LE(4).Str("AVI "), cfcWrongType, cfkUnknown, 0, 0, false},
  HeaderCase{"frm8_without_dsd", Bytes().Str("FRM8").Append(U64BE(4)).Str("DST "), cfcWrongType, cfkUnknown, 0, 0, false},
  HeaderCase{"cut_header", Bytes().Str("FORM").U32BE(4), cfcWrongType, cfkUnknown, 0, 0, false},
  HeaderCase{"not_a_form", Bytes().Str("OggS").Zeros(20), cfcNotForm, cfkUnknown, 0, 0, false},
  HeaderCase{"empty", Bytes(), cfcNotForm, cfkUnknown, 0, 0, false}),
  [](const auto &p) { return std::string(p.param.name); });

TEST(ChunkFormHeader, Ds64IsValidOnlyWithItsThreeFields)
{
  TChunkForm form;
  TMemoryStream good(Rf64(kWaveChunks, 5));
  ASSERT_EQ(ReadChunkFormHeader(good, 0, form), cfcOk);
  EXPECT_TRUE(form.Ds64.Present && form.Ds64.Valid);
  EXPECT_EQ(form.Ds64.DataSize, 5u);
  EXPECT_EQ(form.Ds64.End, 12 + 8 + 28);
  EXPECT_EQ(form.SizeValue, form.Ds64.RiffSize);

  // A ds64 too short for its fields: the bytes behind it are not taken for them.
  TMemoryStream shortDs64(Bytes().Str("RF64").U32LE(0xFFFFFFFFu).Str("WAVE").Append(Chunk(LE, "ds64", Bytes().Zeros(16))).Append(kWaveChunks));
  ASSERT_EQ(ReadChunkFormHeader(shortDs64, 0, form), cfcOk);
  EXPECT_TRUE(form.Ds64.Present);
  EXPECT_FALSE(form.Ds64.Valid);
  EXPECT_EQ(form.SizeFieldOffset, 4);
  EXPECT_EQ(CheckChunkForm(shortDs64, form), cfcInconsistent);

  TMemoryStream none(Bytes().Str("RF64").U32LE(0xFFFFFFFFu).Str("WAVE").Append(kWaveChunks));
  ASSERT_EQ(ReadChunkFormHeader(none, 0, form), cfcOk);
  EXPECT_FALSE(form.Ds64.Present);
}

// --- the strict check -----------------------------------------------------------------------------

struct CheckCase {
  const char *name;
  Bytes file;
  int want;
  std::size_t chunks;
};

class ChunkFormCheck : public ::testing::TestWithParam<CheckCase> {};

TEST_P(ChunkFormCheck, LayoutMustAddUp)
{
  const CheckCase &c = GetParam();
  TMemoryStream s(c.file);
  TChunkForm form;
  ASSERT_EQ(ReadChunkFormHeader(s, 0, form), cfcOk);
  EXPECT_EQ(CheckChunkForm(s, form), c.want);
  EXPECT_EQ(form.Chunks.size(), c.chunks);
}

Bytes WithRiffSize(Bytes B, std::uint32_t Size)
{
  B.v[4] = static_cast<std::uint8_t>(Size);
  B.v[5] = static_cast<std::uint8_t>(Size >> 8);
  B.v[6] = static_cast<std::uint8_t>(Size >> 16);
  B.v[7] = static_cast<std::uint8_t>(Size >> 24);
  return B;
}

Bytes ManyChunks(int Count)
{
  Bytes b;
  for (int i = 0; i < Count; ++i) b.Str("abcd").U32LE(0);
  return b;
}

INSTANTIATE_TEST_SUITE_P(Table, ChunkFormCheck, ::testing::Values(
  CheckCase{"riff", Riff(kWaveChunks), cfcOk, 2},
  CheckCase{"rf64", Rf64(Chunk(LE, "fmt ", Bytes().Zeros(16)).Str("data").U32LE(0xFFFFFFFFu).Zeros(6), 6), cfcOk, 3},
  CheckCase{"rf64_data_size_wrong_in_ds64", Rf64(Chunk(LE, "fmt ", Bytes().Zeros(16)).Str("data").U32LE(0xFFFFFFFFu).Zeros(6), 8), cfcInconsistent, 0},
  CheckCase{"aiff_missing_last_pad_byte", Bytes().Str("FORM").U32BE(4 + 8 + 3).Str("AIFF").Str("SSND").U32BE(3).Zeros(3), cfcOk, 1},
  CheckCase{"dsdiff", Dff(Chunk(BE64, "FVER", Bytes().Zeros(4)).Append(Chunk(BE64, "DSD ", Bytes().Zeros(7)))), cfcOk, 2},
  CheckCase{"form_ends_inside_a_chunk", WithRiffSize(Riff(kWaveChunks), 4 + 24 + 3), cfcInconsistent, 0},
  CheckCase{"bytes_left_over_in_the_form", WithRiffSize(Riff(kWaveChunks).Zeros(4), 4 + 24 + 14 + 4), cfcInconsistent, 0},
  CheckCase{"form_past_the_stream", WithRiffSize(Riff(kWaveChunks), 200), cfcInconsistent, 0},
  CheckCase{"form_shorter_than_its_type", WithRiffSize(Riff(kWaveChunks), 2), cfcInconsistent, 0},
  CheckCase{"trailing_bytes_behind_the_form_are_not_its_business", Riff(kWaveChunks).Zeros(3), cfcOk, 2},
  CheckCase{"as_many_chunks_as_allowed", Riff(ManyChunks(kMaxFormChunks)), cfcOk, static_cast<std::size_t>(kMaxFormChunks)},
  CheckCase{"one_chunk_too_many", Riff(ManyChunks(kMaxFormChunks + 1)), cfcInconsistent, 0},
  CheckCase{"rf64_ds64_behind_a_four_byte_form", Bytes().Str("RF64").U32LE(4).Str("WAVE").Str("ds64").U32LE(0), cfcInconsistent, 0},
  CheckCase{"rf64_deferring_to_no_ds64", Bytes().Str("RF64").U32LE(0xFFFFFFFFu).Str("WAVE").Append(kWaveChunks), cfcInconsistent, 0}),
  [](const auto &p) { return std::string(p.param.name); });

// --- the writer -----------------------------------------------------------------------------------

// Applies the editor's plan to File and checks that the result passes the strict check.
Bytes8 Edited(const Bytes8 &File, const std::function<void(TChunkFormEditor &, const TChunkForm &)> &Edit, int WantPlan = cerOk)
{
  TMemoryStream s(File);
  TChunkForm form;
  EXPECT_EQ(ReadChunkFormHeader(s, 0, form), cfcOk);
  EXPECT_EQ(CheckChunkForm(s, form), cfcOk);
  TChunkFormEditor editor(form);
  Edit(editor, form);
  TRewritePlan plan;
  EXPECT_EQ(editor.Plan(s.GetSize(), plan), WantPlan);
  if (WantPlan != cerOk) return File;
  EXPECT_EQ(ApplyPlanToStream(s, plan), rwOk);
  TChunkForm after;
  EXPECT_EQ(ReadChunkFormHeader(s, 0, after), cfcOk);
  EXPECT_EQ(CheckChunkForm(s, after), cfcOk);
  return s.Data();
}

std::vector<std::string> ChunkIds(const Bytes8 &File)
{
  TMemoryStream s(File);
  TChunkForm form;
  ReadChunkFormHeader(s, 0, form);
  CheckChunkForm(s, form);
  return IdsOf(form.Chunks);
}

TEST(ChunkFormEditor, ReplaceRemoveInsertAndAppendInEveryForm)
{
  struct Form { const char *name; TChunkSizeForm size; std::function<Bytes(const Bytes &)> wrap; };
  for (const Form &f : {Form{"riff", LE, Riff}, Form{"aiff", BE, [](const Bytes &c) { return Aiff(c); }}, Form{"dsdiff", BE64, Dff}}) {
    SCOPED_TRACE(f.name);
    const Bytes original = f.wrap(Chunk(f.size, "aaaa", Bytes().Fill(3, 1)).Append(Chunk(f.size, "bbbb", Bytes().Fill(8, 2))).Append(Chunk(f.size, "cccc", Bytes().Fill(5, 3))));
    const Bytes8 replaced = Edited(original, [](TChunkFormEditor &e, const TChunkForm &form) {
      e.Replace(form.Chunks[1], e.ChunkBytes("BBBB", Bytes8(101, 9)));
    });
    EXPECT_EQ(ChunkIds(replaced), (std::vector<std::string>{"aaaa", "BBBB", "cccc"}));
    EXPECT_EQ(replaced.size(), original.size() - 8 + 102);
    // Everything else stays byte for byte: the chunk behind the replaced one ends the file.
    const Bytes tail = Chunk(f.size, "cccc", Bytes().Fill(5, 3));
    EXPECT_TRUE(std::equal(tail.v.begin(), tail.v.end(), replaced.end() - static_cast<std::ptrdiff_t>(tail.size())));

    const Bytes8 removed = Edited(original, [](TChunkFormEditor &e, const TChunkForm &form) { e.Remove(form.Chunks[0]); });
    EXPECT_EQ(ChunkIds(removed), (std::vector<std::string>{"bbbb", "cccc"}));

    const Bytes8 several = Edited(original, [](TChunkFormEditor &e, const TChunkForm &form) {
      e.Append(e.ChunkBytes("zz", Bytes8(1, 7)));
      e.InsertBefore(form.Chunks[0], e.ChunkBytes("first", Bytes8(2, 6)));
      e.Remove(form.Chunks[2]);
    });
    EXPECT_EQ(ChunkIds(several), (std::vector<std::string>{"firs", "aaaa", "bbbb", "zz  "}));
  }
}

TEST(ChunkFormEditor, AChunkAddedBehindAMissingPadByteStartsEven)
{
  const Bytes aiff = Bytes().Str("FORM").U32BE(4 + 8 + 3).Str("AIFF").Str("SSND").U32BE(3).Fill(3, 5);
  const Bytes8 after = Edited(aiff, [](TChunkFormEditor &e, const TChunkForm &) { e.Append(e.ChunkBytes("ID3 ", Bytes8(4, 1))); });
  ASSERT_EQ(after.size(), aiff.size() + 1 + 12);
  EXPECT_EQ(after[aiff.size()], 0);
  EXPECT_EQ(ChunkIds(after), (std::vector<std::string>{"SSND", "ID3 "}));
}

TEST(ChunkFormEditor, RF64KeepsItsMarkerAndCorrectsDs64)
{
  const Bytes rf64 = Rf64(Chunk(LE, "fmt ", Bytes().Zeros(16)).Str("data").U32LE(0xFFFFFFFFu).Zeros(6), 6);
  const Bytes8 after = Edited(rf64, [](TChunkFormEditor &e, const TChunkForm &) { e.Append(e.ChunkBytes("id3 ", Bytes8(10, 1))); });
  TMemoryStream s(after);
  TChunkForm form;
  ASSERT_EQ(ReadChunkFormHeader(s, 0, form), cfcOk);
  EXPECT_EQ(form.Size32, 0xFFFFFFFFu);
  EXPECT_EQ(form.Ds64.RiffSize, after.size() - 8);
  EXPECT_EQ(form.Ds64.DataSize, 6u);
}

// Two writers of one form (a tag chunk each) plan against the same content; their plans joined
// give what one editor making both changes gives, the form's size counting both.
TEST(ChunkFormEditor, PlansOfTwoWritersOfOneFormJoin)
{
  struct Form { const char *name; TChunkSizeForm size; std::function<Bytes(const Bytes &)> wrap; };
  const auto rf64 = [](const Bytes &c) { return Rf64(Chunk(LE, "fmt ", Bytes().Zeros(16)).Str("data").U32LE(0xFFFFFFFFu).Zeros(6).Append(c), 6); };
  for (const Form &f : {Form{"riff", LE, Riff}, Form{"rf64", LE, rf64}, Form{"aiff", BE, [](const Bytes &c) { return Aiff(c); }},
                        Form{"dsdiff", BE64, Dff}}) {
    SCOPED_TRACE(f.name);
    const Bytes original = f.wrap(Chunk(f.size, "aaaa", Bytes().Fill(3, 1)).Append(Chunk(f.size, "bbbb", Bytes().Fill(8, 2))));
    TMemoryStream s(original);
    TChunkForm form;
    ASSERT_EQ(ReadChunkFormHeader(s, 0, form), cfcOk);
    ASSERT_EQ(CheckChunkForm(s, form), cfcOk);
    const TChunk &a = form.Chunks[form.Chunks.size() - 2];
    const TChunk &b = form.Chunks.back();
    const struct {
      const char *name;
      std::function<void(TChunkFormEditor &)> first, second;
    } cases[] = {
      {"both_grow", [&](TChunkFormEditor &e) { e.Replace(a, e.ChunkBytes("AAAA", Bytes8(40, 9))); },
       [&](TChunkFormEditor &e) { e.Append(e.ChunkBytes("id3 ", Bytes8(21, 7))); }},
      {"one_shrinks", [&](TChunkFormEditor &e) { e.Remove(a); },
       [&](TChunkFormEditor &e) { e.Replace(b, e.ChunkBytes("BBBB", Bytes8(30, 5))); }},
    };
    for (const auto &c : cases) {
      SCOPED_TRACE(c.name);
      TChunkFormEditor one(form), two(form), both(form);
      c.first(one);
      c.second(two);
      c.first(both);
      c.second(both);
      std::vector<TRewritePlan> plans(2);
      TRewritePlan joined, single;
      ASSERT_EQ(one.Plan(s.GetSize(), plans[0]), cerOk);
      ASSERT_EQ(two.Plan(s.GetSize(), plans[1]), cerOk);
      ASSERT_EQ(both.Plan(s.GetSize(), single), cerOk);
      ASSERT_TRUE(ComposePlans(s.GetSize(), plans, joined));
      TMemoryStream viaJoined(original), viaSingle(original);
      ASSERT_EQ(ApplyPlanToStream(viaJoined, joined), rwOk);
      ASSERT_EQ(ApplyPlanToStream(viaSingle, single), rwOk);
      EXPECT_EQ(viaJoined.Data(), viaSingle.Data());
      TChunkForm after;
      ASSERT_EQ(ReadChunkFormHeader(viaJoined, 0, after), cfcOk);
      EXPECT_EQ(CheckChunkForm(viaJoined, after), cfcOk);
    }
  }
  // Two changes that each fit a 32-bit size but not together are refused as one.
  const Bytes riff = Riff(kWaveChunks);
  TMemoryStream s(riff);
  TChunkForm form;
  ASSERT_EQ(ReadChunkFormHeader(s, 0, form), cfcOk);
  ASSERT_EQ(CheckChunkForm(s, form), cfcOk);
  form.SizeValue = 0xFFFFFFF0u - 100;
  TChunkFormEditor one(form), two(form);
  one.InsertBefore(form.Chunks[0], one.ChunkBytes("aaaa", Bytes8(60, 0)));
  two.Append(two.ChunkBytes("id3 ", Bytes8(60, 0)));
  std::vector<TRewritePlan> plans(2);
  ASSERT_EQ(one.Plan(s.GetSize(), plans[0]), cerOk);
  ASSERT_EQ(two.Plan(s.GetSize(), plans[1]), cerOk);
  TRewritePlan joined;
  EXPECT_FALSE(ComposePlans(s.GetSize(), plans, joined));
}

TEST(ChunkFormEditor, RefusesWhatItCannotWrite)
{
  // A 32-bit form that would outgrow its size field.
  const Bytes riff = Riff(kWaveChunks);
  TMemoryStream s(riff);
  TChunkForm form;
  ASSERT_EQ(ReadChunkFormHeader(s, 0, form), cfcOk);
  ASSERT_EQ(CheckChunkForm(s, form), cfcOk);
  form.SizeValue = 0xFFFFFFF0u;  // as if the file were that large
  TChunkFormEditor grow(form);
  grow.Append(grow.ChunkBytes("id3 ", Bytes8(64, 0)));
  TRewritePlan plan;
  EXPECT_EQ(grow.Plan(s.GetSize(), plan), cerSizeOverflow);

  Edited(riff, [](TChunkFormEditor &e, const TChunkForm &f) {
    e.Remove(f.Chunks[0]);
    e.Replace(f.Chunks[0], {});
  }, cerBadEdit);
  const Bytes rf64 = Rf64(kWaveChunks, 5);
  Edited(rf64, [](TChunkFormEditor &e, const TChunkForm &f) { e.Remove(f.Chunks[0]); }, cerBadEdit);  // the ds64
}

} // namespace
