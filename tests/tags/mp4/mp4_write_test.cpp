#include "tags/mp4/mp4_write.h"

#include <gtest/gtest.h>

#include <string>

#include "tags/mp4/mp4_atoms.h"
#include "tags/streams/file_io.h"
#include "tests/support/test_support.h"
#include "tests/support/write_faults.h"

namespace {

// ---------------------------------------------------------------------------------------------
// Building files.

Bytes Atom(const char *Type, const Bytes &Body)
{
  return Bytes().U32BE(static_cast<std::uint32_t>(8 + Body.size())).Str(std::string_view(Type, 4)).Append(Body);
}

Bytes FullAtom(const char *Type, const Bytes &Body) { return Atom(Type, Bytes().U8(0).Zeros(3).Append(Body)); }

Bytes ChunkTable(bool Co64, const std::vector<std::uint64_t> &Offsets)
{
  Bytes body = Bytes().U32BE(static_cast<std::uint32_t>(Offsets.size()));
  for (const std::uint64_t o : Offsets) Co64 ? body.U64BE(o) : body.U32BE(static_cast<std::uint32_t>(o));
  return FullAtom(Co64 ? "co64" : "stco", body);
}

Bytes Trak(const Bytes &Table)
{
  const Bytes stbl = Atom("stbl", Atom("stsd", Bytes().Zeros(8)).Append(Table));
  const Bytes mdia = Atom("mdia", Atom("mdhd", Bytes().Zeros(24)).Append(Atom("minf", stbl)));
  return Atom("trak", Atom("tkhd", Bytes().Zeros(84)).Append(mdia));
}

Bytes Item(const char *Type, const std::string &Text)
{
  return Atom(Type, Atom("data", Bytes().U32BE(1).U32BE(0).Str(Text)));
}

Bytes Ilst(const std::string &Title) { return Atom("ilst", Item("\xA9nam", Title)); }

// A handler that is not the default one a save adds: it carries a name.
Bytes OldHandler() { return FullAtom("hdlr", Bytes().Zeros(4).Str("mdirappl").Zeros(8).Str("Old\0")); }

Bytes Mdat(std::uint8_t Seed)
{
  Bytes body;
  for (int i = 0; i < 64; ++i) body.U8(static_cast<std::uint8_t>(Seed + i * 7));
  return Atom("mdat", body);
}

struct TLayout {
  bool MdatBefore = false;      // media between "ftyp" and "moov"
  bool MdatAfter = true;        // media after "moov" (and its padding)
  std::uint32_t FreeAfter = 0;  // a top-level "free" atom of this size right after "moov"
  bool Co64 = false;            // the second track's table is "co64"
  bool Udta = true;             // "moov" holds udta/meta/hdlr/ilst
  std::uint64_t ExtraOffset = 0;  // when not 0: one more entry of the first track
};

// ftyp, [mdat], moov (mvhd, two tracks, [udta]), [free], [mdat]: the first track's chunks start
// every mdat, the second's lie 16 and 32 bytes into them.
Bytes8 MakeFile(const TLayout &L)
{
  const Bytes ftyp = Atom("ftyp", Bytes().Str("M4A ").U32BE(0).Str("isom"));
  const auto moovWith = [&](const std::vector<std::uint64_t> &First, const std::vector<std::uint64_t> &Second) {
    Bytes body = Atom("mvhd", Bytes().Zeros(100));
    body.Append(Trak(ChunkTable(false, First))).Append(Trak(ChunkTable(L.Co64, Second)));
    if (L.Udta) body.Append(Atom("udta", FullAtom("meta", Bytes().Append(OldHandler()).Append(Ilst("Old")))));
    return Atom("moov", body);
  };
  std::vector<std::uint64_t> first, second;
  const std::size_t chunks = (L.MdatBefore ? 1u : 0u) + (L.MdatAfter ? 1u : 0u) + (L.ExtraOffset ? 1u : 0u);
  const std::size_t moovSize = moovWith(std::vector<std::uint64_t>(chunks), std::vector<std::uint64_t>(chunks - (L.ExtraOffset ? 1 : 0))).size();
  std::size_t pos = ftyp.size();
  if (L.MdatBefore) {
    first.push_back(pos + 8);
    second.push_back(pos + 8 + 16);
    pos += Mdat(0).size();
  }
  pos += moovSize + L.FreeAfter;
  if (L.MdatAfter) {
    first.push_back(pos + 8 + 8);
    second.push_back(pos + 8 + 32);
  }
  if (L.ExtraOffset) first.push_back(L.ExtraOffset);
  Bytes file = Bytes().Append(ftyp);
  if (L.MdatBefore) file.Append(Mdat(1));
  file.Append(moovWith(first, second));
  if (L.FreeAfter) file.Append(Atom("free", Bytes().Zeros(L.FreeAfter - 8)));
  if (L.MdatAfter) file.Append(Mdat(100));
  return file.v;
}

// ---------------------------------------------------------------------------------------------
// Reading results.

std::string TypeOf(const TAtomHeader &H) { return std::string(H.Type.begin(), H.Type.end()); }

bool Find(TStream &S, std::initializer_list<std::string_view> Path, TAtomHeader &Out)
{
  const std::vector<std::string_view> path(Path);
  return FindAtomPath(S, path, Out);
}

// The types of the children of the atom at Path (the top level for an empty path).
std::vector<std::string> ChildTypes(const Bytes8 &File, std::initializer_list<std::string_view> Path)
{
  TMemoryStream s(File);
  std::int64_t from = 0, end = static_cast<std::int64_t>(File.size());
  if (Path.size() > 0) {
    TAtomHeader at;
    if (!Find(s, Path, at)) return {"<missing>"};
    from = ChildrenOffset(s, at);
    end = at.End();
  }
  std::vector<TAtomHeader> children;
  EXPECT_TRUE(ReadChildAtoms(s, from, end, Path.size() == 0, children));
  std::vector<std::string> types;
  for (const TAtomHeader &h : children) types.push_back(TypeOf(h));
  return types;
}

Bytes8 AtomBytes(const Bytes8 &File, std::initializer_list<std::string_view> Path)
{
  TMemoryStream s(File);
  TAtomHeader at;
  if (!Find(s, Path, at)) return {};
  return Slice(File, static_cast<std::size_t>(at.Offset), static_cast<std::size_t>(at.End())).v;
}

std::int64_t AtomSize(const Bytes8 &File, std::initializer_list<std::string_view> Path)
{
  TMemoryStream s(File);
  TAtomHeader at;
  return Find(s, Path, at) ? at.Size : -1;
}

// Every chunk offset of every track, in order of tracks and entries.
std::vector<std::uint64_t> ChunkOffsets(const Bytes8 &File)
{
  TMemoryStream s(File);
  TAtomHeader moov;
  std::vector<std::uint64_t> out;
  if (!Find(s, {"moov"}, moov)) return out;
  std::vector<TAtomHeader> traks;
  EXPECT_TRUE(ReadChildAtoms(s, moov.BodyOffset(), moov.End(), false, traks));
  for (const TAtomHeader &trak : traks) {
    if (!trak.Is("trak")) continue;
    TAtomHeader at = trak;
    for (const char *name : {"mdia", "minf", "stbl"}) {
      std::vector<TAtomHeader> kids;
      EXPECT_TRUE(ReadChildAtoms(s, at.BodyOffset(), at.End(), false, kids));
      for (const TAtomHeader &k : kids)
        if (k.Is(name)) at = k;
    }
    std::vector<TAtomHeader> tables;
    EXPECT_TRUE(ReadChildAtoms(s, at.BodyOffset(), at.End(), false, tables));
    for (const TAtomHeader &t : tables) {
      if (!t.Is("stco") && !t.Is("co64")) continue;
      const std::size_t width = t.Is("stco") ? 4 : 8;
      const std::size_t body = static_cast<std::size_t>(t.BodyOffset());
      std::size_t count = 0;
      for (std::size_t b = 4; b < 8; ++b) count = count << 8 | File[body + b];
      for (std::size_t i = 0; i < count; ++i) {
        std::uint64_t v = 0;
        for (std::size_t b = 0; b < width; ++b) v = v << 8 | File[body + 8 + i * width + b];
        out.push_back(v);
      }
    }
  }
  return out;
}

// The old space of File: its "moov" and the padding right after it.
struct TSpace {
  std::size_t Start = 0, End = 0;
};

TSpace OldSpace(const Bytes8 &File)
{
  TMemoryStream s(File);
  std::vector<TAtomHeader> top;
  ReadChildAtoms(s, 0, static_cast<std::int64_t>(File.size()), true, top);
  TSpace space;
  for (std::size_t i = 0; i < top.size(); ++i) {
    if (!top[i].Is("moov")) continue;
    space.Start = static_cast<std::size_t>(top[i].Offset);
    space.End = static_cast<std::size_t>(top[i].End());
    for (std::size_t j = i + 1; j < top.size() && (top[j].Is("free") || top[j].Is("skip")); ++j)
      space.End = static_cast<std::size_t>(top[j].End());
  }
  return space;
}

// Every chunk of New holds the bytes the same chunk of Old held, and its offset moved by the
// distance the content after the old space moved, or not at all when it lies before that space.
void ExpectMediaFollows(const Bytes8 &Old, const Bytes8 &New)
{
  const TSpace space = OldSpace(Old);
  const std::int64_t distance = static_cast<std::int64_t>(New.size()) - static_cast<std::int64_t>(Old.size());
  const std::vector<std::uint64_t> before = ChunkOffsets(Old), after = ChunkOffsets(New);
  ASSERT_EQ(before.size(), after.size());
  for (std::size_t i = 0; i < before.size(); ++i) {
    SCOPED_TRACE("chunk " + std::to_string(i));
    const bool moved = before[i] >= space.End;
    EXPECT_EQ(after[i], moved ? static_cast<std::uint64_t>(static_cast<std::int64_t>(before[i]) + distance) : before[i]);
    if (before[i] + 8 <= Old.size()) {
      ASSERT_LE(after[i] + 8, New.size());
      EXPECT_EQ(Slice(New, after[i], after[i] + 8).v, Slice(Old, before[i], before[i] + 8).v);
    }
  }
  // What followed the old space follows the new "moov" unchanged.
  EXPECT_EQ(Slice(New, New.size() - (Old.size() - space.End), New.size()).v, Slice(Old, space.End, Old.size()).v);
  EXPECT_EQ(Slice(New, 0, space.Start).v, Slice(Old, 0, space.Start).v);
}

int PlanOn(const Bytes8 &File, const TMP4NewMetadata &New, TRewritePlan &Plan)
{
  TMemoryStream s(File);
  return PlanMP4MetadataSave(s, New, Plan);
}

Bytes8 Applied(const Bytes8 &File, const TRewritePlan &Plan)
{
  TMemoryStream s(File);
  EXPECT_EQ(ApplyPlanToStream(s, Plan), rwOk);
  return s.Data();
}

// Plans New over File, expects mwOk, and returns the saved content.
Bytes8 Saved(const Bytes8 &File, const TMP4NewMetadata &New, TRewritePlan *PlanOut = nullptr)
{
  TRewritePlan plan;
  EXPECT_EQ(PlanOn(File, New, plan), mwOk);
  if (PlanOut) *PlanOut = plan;
  return Applied(File, plan);
}

TMP4NewMetadata NewTitle(const std::string &Title, std::uint32_t Padding = 4096)
{
  TMP4NewMetadata m;
  m.Ilst = Ilst(Title).v;
  m.PaddingToWrite = Padding;
  return m;
}

const std::vector<std::string> kMetaAfterSave{"hdlr", "ilst", "free"};

} // namespace

// ---------------------------------------------------------------------------------------------
// In place.

TEST(MP4Write, InPlaceIntoTheFreeAfterMoovKeepsSizeAndOffsets)
{
  TLayout layout;
  layout.FreeAfter = 200;
  const Bytes8 old = MakeFile(layout);
  TRewritePlan plan;
  const Bytes8 saved = Saved(old, NewTitle("A longer title than before"), &plan);
  EXPECT_TRUE(plan.InPlace);
  ASSERT_EQ(saved.size(), old.size());
  EXPECT_EQ(ChunkOffsets(saved), ChunkOffsets(old));
  ExpectMediaFollows(old, saved);
  // The "free" after "moov" became the padding inside "meta": the new "moov" fills the old space.
  const TSpace space = OldSpace(old);
  EXPECT_EQ(AtomSize(saved, {"moov"}), static_cast<std::int64_t>(space.End - space.Start));
  EXPECT_EQ(ChildTypes(saved, {}), (std::vector<std::string>{"ftyp", "moov", "mdat"}));
  EXPECT_EQ(ChildTypes(saved, {"moov", "udta", "meta"}), kMetaAfterSave);
  EXPECT_EQ(AtomBytes(saved, {"moov", "udta", "meta", "ilst"}), Ilst("A longer title than before").v);
  EXPECT_EQ(AtomSize(saved, {"moov", "udta", "meta", "free"}), 200 - 23);  // the title grew by 23 bytes
  EXPECT_EQ(AtomBytes(saved, {"moov", "udta", "meta", "hdlr"}), OldHandler().v);
}

TEST(MP4Write, InPlaceOnlyForAnExactFitOrRoomForTheFreeAtom)
{
  // The old "moov" holds an ilst with the 3-byte title "Old"; a title of Title bytes is saved
  // with Free bytes of "free" after "moov".
  struct Case {
    const char *name;
    std::uint32_t free;
    std::size_t title;
    bool keepPadding;
    bool inPlace;
    std::int64_t metaFree;  // the padding inside "meta" afterwards
  };
  const Case cases[] = {
      {"exact_fit", 40, 43, true, true, -1},
      {"nine_left", 40, 34, true, false, 4096},
      {"ten_left", 40, 33, true, true, 10},
      {"same_size_without_free", 0, 3, true, true, -1},
      {"keep_padding_off_rebuilds", 200, 6, false, false, 4096},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TLayout layout;
    layout.FreeAfter = c.free;
    const Bytes8 old = MakeFile(layout);
    TMP4NewMetadata m = NewTitle(std::string(c.title, 'N'));
    m.KeepPadding = c.keepPadding;
    TRewritePlan plan;
    const Bytes8 saved = Saved(old, m, &plan);
    EXPECT_EQ(plan.InPlace, c.inPlace);
    EXPECT_EQ(saved.size() == old.size(), c.inPlace);
    EXPECT_EQ(AtomSize(saved, {"moov", "udta", "meta", "free"}), c.metaFree);
    ExpectMediaFollows(old, saved);
  }
}

TEST(MP4Write, AnUnchangedSaveWritesNothing)
{
  for (const std::uint32_t free : {0u, 300u}) {
    SCOPED_TRACE(free);
    TLayout layout;
    layout.FreeAfter = free;
    layout.MdatBefore = true;
    // The first save brings the layout this writer makes; the same save again changes nothing.
    const Bytes8 once = Saved(MakeFile(layout), NewTitle("Same"));
    TRewritePlan plan;
    plan.SetInPlace(0, {1});
    EXPECT_EQ(PlanOn(once, NewTitle("Same"), plan), mwOk);
    EXPECT_TRUE(plan.ChangesNothing());
    EXPECT_EQ(PlanOn(once, NewTitle("Other"), plan), mwOk);
    EXPECT_FALSE(plan.ChangesNothing());
  }
}

// ---------------------------------------------------------------------------------------------
// Rebuilt, with the chunk offsets moved.

TEST(MP4Write, GrowMovesEveryChunkOffsetPastTheOldSpace)
{
  struct Case {
    const char *name;
    TLayout layout;
  };
  const Case cases[] = {
      {"mdat_after", TLayout{}},
      {"mdat_after_co64", TLayout{.Co64 = true}},
      {"mdat_both_sides", TLayout{.MdatBefore = true}},
      {"mdat_both_sides_co64_free", TLayout{.MdatBefore = true, .FreeAfter = 16, .Co64 = true}},
      {"mdat_before_only", TLayout{.MdatBefore = true, .MdatAfter = false}},
      {"no_udta", TLayout{.MdatBefore = true, .Udta = false}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes8 old = MakeFile(c.layout);
    TRewritePlan plan;
    const Bytes8 saved = Saved(old, NewTitle(std::string(300, 't')), &plan);
    // A "moov" that ends the file is replaced where it stands, the file growing behind it.
    EXPECT_EQ(plan.InPlace, !c.layout.MdatAfter);
    ExpectMediaFollows(old, saved);
    const TSpace space = OldSpace(old);
    EXPECT_EQ(static_cast<std::int64_t>(saved.size() - old.size()),
              AtomSize(saved, {"moov"}) - static_cast<std::int64_t>(space.End - space.Start));
    EXPECT_EQ(AtomSize(saved, {"moov", "udta", "meta", "free"}), 4096);
    EXPECT_EQ(AtomBytes(saved, {"moov", "udta", "meta", "ilst"}), Ilst(std::string(300, 't')).v);
    if (!c.layout.MdatAfter) {
      EXPECT_EQ(ChunkOffsets(saved), ChunkOffsets(old));
    }
  }
}

TEST(MP4Write, ShrinkMovesTheMediaBack)
{
  TLayout layout;
  layout.MdatBefore = true;
  layout.FreeAfter = 2000;
  const Bytes8 old = MakeFile(layout);
  TMP4NewMetadata m = NewTitle("x", 0);
  m.KeepPadding = false;
  const Bytes8 saved = Saved(old, m);
  EXPECT_LT(saved.size(), old.size());
  EXPECT_EQ(AtomSize(saved, {"moov", "udta", "meta", "free"}), -1);
  ExpectMediaFollows(old, saved);
}

TEST(MP4Write, ThirtyTwoBitOffsetsThatWouldOverflowAreRefusedFirst)
{
  // An entry near 2^32 behind the old space: moving it would wrap the 32-bit field.
  TLayout stco;
  stco.ExtraOffset = 0xFFFFFF00u;
  TRewritePlan plan;
  EXPECT_EQ(PlanOn(MakeFile(stco), NewTitle(std::string(300, 't')), plan), mwOffsetOverflow);
  EXPECT_TRUE(plan.ChangesNothing());
  // In place nothing moves, so the same file saves.
  stco.FreeAfter = 1000;
  EXPECT_EQ(PlanOn(MakeFile(stco), NewTitle(std::string(300, 't')), plan), mwOk);
  EXPECT_TRUE(plan.InPlace);
  // A "co64" table holds the moved value.
  TLayout co64;
  co64.Co64 = true;
  const Bytes8 old = MakeFile(co64);
  const Bytes8 saved = Saved(old, NewTitle(std::string(300, 't')));
  ExpectMediaFollows(old, saved);
}

TEST(MP4Write, OffsetsPointingIntoTheOldSpaceAreRefused)
{
  // A chunk inside the old "moov": its bytes would be replaced, in place or not.
  TLayout layout;
  layout.FreeAfter = 100;
  layout.ExtraOffset = 28 + 20;
  TRewritePlan plan;
  EXPECT_EQ(PlanOn(MakeFile(layout), NewTitle("New"), plan), mwMediaNotMovable);
  EXPECT_TRUE(plan.ChangesNothing());
}

// ---------------------------------------------------------------------------------------------
// The new "moov".

TEST(MP4Write, KeptChildrenStayInOrderAndUdtaGoesLast)
{
  const Bytes ftyp = Atom("ftyp", Bytes().Str("M4A ").U32BE(0));
  const Bytes chpl = FullAtom("chpl", Bytes().Zeros(9));
  const Bytes keys = FullAtom("keys", Bytes().U32BE(0));
  const Bytes oldXtra = Atom("Xtra", Bytes().Zeros(12));
  const Bytes udta1 = Atom("udta", Bytes()
                                       .Append(chpl)
                                       .Append(Atom("free", Bytes().Zeros(4)))
                                       .Append(FullAtom("meta", Bytes()
                                                                    .Append(OldHandler())
                                                                    .Append(Ilst("Old"))
                                                                    .Append(keys)
                                                                    .Append(Atom("free", Bytes().Zeros(20)))))
                                       .Append(oldXtra));
  const Bytes udta2 = Atom("udta", Atom("name", Bytes().Str("second")));
  const Bytes moov = Atom("moov", Bytes()
                                      .Append(Atom("mvhd", Bytes().Zeros(100)))
                                      .Append(udta1)
                                      .Append(Atom("iods", Bytes().Zeros(16)))
                                      .Append(Atom("free", Bytes().Zeros(8)))
                                      .Append(Trak(ChunkTable(false, {})))
                                      .Append(udta2));
  const Bytes8 old = Bytes().Append(ftyp).Append(moov).Append(Mdat(3)).v;
  TMP4NewMetadata m = NewTitle("New");
  m.Xtra = Atom("Xtra", Bytes().U32BE(4)).v;
  const Bytes8 saved = Saved(old, m);
  EXPECT_EQ(ChildTypes(saved, {"moov"}), (std::vector<std::string>{"mvhd", "iods", "trak", "udta"}));
  EXPECT_EQ(ChildTypes(saved, {"moov", "udta"}), (std::vector<std::string>{"chpl", "name", "meta", "Xtra"}));
  EXPECT_EQ(ChildTypes(saved, {"moov", "udta", "meta"}), (std::vector<std::string>{"hdlr", "keys", "ilst", "free"}));
  EXPECT_EQ(AtomBytes(saved, {"moov", "udta", "chpl"}), chpl.v);
  EXPECT_EQ(AtomBytes(saved, {"moov", "udta", "meta", "keys"}), keys.v);
  EXPECT_EQ(AtomBytes(saved, {"moov", "udta", "Xtra"}), *m.Xtra);
  EXPECT_EQ(AtomBytes(saved, {"moov", "trak"}), Trak(ChunkTable(false, {})).v);

  // Without a new Xtra the old one is gone.
  const Bytes8 noXtra = Saved(old, NewTitle("New"));
  EXPECT_EQ(ChildTypes(noXtra, {"moov", "udta"}), (std::vector<std::string>{"chpl", "name", "meta"}));
}

TEST(MP4Write, AFileWithoutMetadataGainsUdtaMetaHandlerAndIlst)
{
  TLayout layout;
  layout.Udta = false;
  const Bytes8 old = MakeFile(layout);
  TMP4NewMetadata m;
  m.Ilst = Atom("ilst", Bytes()).v;
  m.PaddingToWrite = 0;
  const Bytes8 saved = Saved(old, m);
  EXPECT_EQ(ChildTypes(saved, {"moov"}), (std::vector<std::string>{"mvhd", "trak", "trak", "udta"}));
  EXPECT_EQ(ChildTypes(saved, {"moov", "udta", "meta"}), (std::vector<std::string>{"hdlr", "ilst"}));
  const Bytes hdlr = Bytes().U32BE(33).Str("hdlr").Zeros(8).Str("mdir").Str("appl").Zeros(9);
  EXPECT_EQ(AtomBytes(saved, {"moov", "udta", "meta", "hdlr"}), hdlr.v);
  EXPECT_EQ(AtomBytes(saved, {"moov", "udta", "meta", "ilst"}), Bytes().U32BE(8).Str("ilst").v);
  // meta: version 0, flags 0, hdlr, ilst.
  EXPECT_EQ(AtomSize(saved, {"moov", "udta", "meta"}), 8 + 4 + 33 + 8);
  const Bytes8 meta = AtomBytes(saved, {"moov", "udta", "meta"});
  EXPECT_EQ(Slice(meta, 8, 12).v, Bytes().Zeros(4).v);
  ExpectMediaFollows(old, saved);

  // A "udta" without "meta" keeps its children and gains one.
  const Bytes moov = Atom("moov", Bytes().Append(Atom("mvhd", Bytes().Zeros(100))).Append(Atom("udta", Atom("name", Bytes().Str("n")))));
  const Bytes8 withUdta = Bytes().Append(Atom("ftyp", Bytes().Str("M4A "))).Append(moov).v;
  EXPECT_EQ(ChildTypes(Saved(withUdta, m), {"moov", "udta"}), (std::vector<std::string>{"name", "meta"}));
}

TEST(MP4Write, MetaKeepsItsVersionByteAndClearsItsFlags)
{
  const Bytes meta = Atom("meta", Bytes().U8(2).U8(0).U8(0).U8(5).Append(OldHandler()).Append(Ilst("Old")));
  const Bytes8 old = Bytes()
                         .Append(Atom("ftyp", Bytes().Str("M4A ")))
                         .Append(Atom("moov", Bytes().Append(Atom("mvhd", Bytes().Zeros(100))).Append(Atom("udta", meta))))
                         .v;
  const Bytes8 saved = Saved(old, NewTitle("New"));
  EXPECT_EQ(Slice(AtomBytes(saved, {"moov", "udta", "meta"}), 8, 12).v, Bytes().U8(2).Zeros(3).v);
}

TEST(MP4Write, SixtyFourBitHeadersAreReadAndWritten)
{
  // The old "moov" and one of its children use the 16-byte header; both are read, the child is
  // kept as it was.
  const Bytes iods64 = Bytes().U32BE(1).Str("iods").U64BE(16 + 4).U32BE(7);
  const Bytes body = Bytes().Append(Atom("mvhd", Bytes().Zeros(100))).Append(iods64);
  const Bytes8 old = Bytes()
                         .Append(Atom("ftyp", Bytes().Str("M4A ")))
                         .U32BE(1).Str("moov").U64BE(16 + body.size()).Append(body)
                         .Append(Mdat(5)).v;
  const Bytes8 saved = Saved(old, NewTitle("New"));
  EXPECT_EQ(AtomBytes(saved, {"moov", "iods"}), iods64.v);
  EXPECT_EQ(ChildTypes(saved, {}), (std::vector<std::string>{"ftyp", "moov", "mdat"}));

  TBytes header;
  AppendAtomHeader(header, "moov", 100);
  EXPECT_EQ(header, Bytes().U32BE(108).Str("moov").v);
  header.clear();
  AppendAtomHeader(header, "moov", 0xFFFFFFFFull - 8);
  EXPECT_EQ(header, Bytes().U32BE(0xFFFFFFFFu).Str("moov").v);
  header.clear();
  AppendAtomHeader(header, "mdat", 0xFFFFFFFFull - 7);
  EXPECT_EQ(header, Bytes().U32BE(1).Str("mdat").U64BE(0xFFFFFFFFull + 9).v);
  EXPECT_EQ(AtomSizeFor(0xFFFFFFFFull - 7), 0xFFFFFFFFull + 9);
}

TEST(MP4Write, SizeZeroMdatAfterMoovStaysTheLastAtom)
{
  const Bytes ftyp = Atom("ftyp", Bytes().Str("M4A "));
  const Bytes moov = Atom("moov", Bytes().Append(Atom("mvhd", Bytes().Zeros(100))).Append(Trak(ChunkTable(false, {0}))));
  const std::size_t media = ftyp.size() + moov.size() + 8;
  const Bytes moovAt = Atom("moov", Bytes().Append(Atom("mvhd", Bytes().Zeros(100))).Append(Trak(ChunkTable(false, {media}))));
  const Bytes8 old = Bytes().Append(ftyp).Append(moovAt).U32BE(0).Str("mdat").Str("media to the end").v;
  const Bytes8 saved = Saved(old, NewTitle("New"));
  ExpectMediaFollows(old, saved);
  EXPECT_EQ(ChildTypes(saved, {}), (std::vector<std::string>{"ftyp", "moov", "mdat"}));
}

// ---------------------------------------------------------------------------------------------
// Refusals.

TEST(MP4Write, RefusalsLeaveThePlanEmpty)
{
  const Bytes ftyp = Atom("ftyp", Bytes().Str("M4A "));
  const Bytes mvhd = Atom("mvhd", Bytes().Zeros(100));
  const Bytes goodMoov = Atom("moov", Bytes().Append(mvhd).Append(Trak(ChunkTable(false, {}))));
  const auto file = [&](const Bytes &Moov) { return Bytes().Append(ftyp).Append(Moov).Append(Mdat(1)).v; };
  const auto trakWith = [&](const Bytes &Stbl) {
    return Atom("moov", Bytes().Append(mvhd).Append(Atom("trak", Atom("mdia", Atom("minf", Atom("stbl", Stbl))))));
  };
  struct Case {
    const char *name;
    Bytes8 file;
    int want;
  };
  const Case cases[] = {
      {"empty", {}, mwNotMP4},
      {"not_ftyp_first", Bytes().Append(Atom("free", Bytes())).Append(goodMoov).v, mwNotMP4},
      {"short", Bytes().Str("ftyp").v, mwNotMP4},
      {"no_moov", Bytes().Append(ftyp).Append(Mdat(1)).v, mwNoMoov},
      {"moof", Bytes().Append(file(goodMoov)).Append(Atom("moof", Bytes().Zeros(8))).v, mwFragmented},
      {"mvex", file(Atom("moov", Bytes().Append(mvhd).Append(Atom("mvex", Bytes().Zeros(8))))), mwFragmented},
      {"size_zero_mdat_before_moov", Bytes().Append(ftyp).U32BE(0).Str("mdat").Zeros(16).Append(goodMoov).v,
       mwMediaNotMovable},
      {"damage_before_moov", Bytes().Append(ftyp).U32BE(4).Str("free").Append(goodMoov).v, mwDamaged},
      {"moov_child_past_moov", file(Atom("moov", Bytes().Append(mvhd).U32BE(40).Str("trak").Zeros(8))), mwDamaged},
      {"moov_child_truncated", file(Atom("moov", Bytes().Append(mvhd).U32BE(40).Str("tr"))), mwDamaged},
      {"udta_child_past_udta", file(Atom("moov", Bytes().Append(mvhd).Append(Atom("udta", Bytes().U32BE(99).Str("meta"))))),
       mwDamaged},
      {"meta_child_past_meta",
       file(Atom("moov", Bytes().Append(mvhd).Append(Atom("udta", FullAtom("meta", Bytes().U32BE(99).Str("hdlr")))))),
       mwDamaged},
      {"stco_count_past_table", file(trakWith(FullAtom("stco", Bytes().U32BE(3).U32BE(1).U32BE(2)))), mwDamaged},
      {"co64_count_past_table", file(trakWith(FullAtom("co64", Bytes().U32BE(2).U64BE(1)))), mwDamaged},
      {"stco_without_count", file(trakWith(FullAtom("stco", Bytes().U16BE(0)))), mwDamaged},
      {"stbl_child_damaged", file(trakWith(Bytes().U32BE(3).Str("stco"))), mwDamaged},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TRewritePlan plan;
    plan.SetInPlace(0, {1});
    EXPECT_EQ(PlanOn(c.file, NewTitle("New"), plan), c.want);
    EXPECT_TRUE(plan.ChangesNothing());
  }
}

TEST(MP4Write, MalformedNewAtomsAreRefused)
{
  const Bytes8 old = MakeFile(TLayout{});
  struct Case {
    const char *name;
    Bytes8 ilst;
    std::optional<Bytes8> xtra;
  };
  const Case cases[] = {
      {"empty_ilst", {}, std::nullopt},
      {"ilst_size_short", Bytes().U32BE(8).Str("ilst").Zeros(4).v, std::nullopt},
      {"ilst_size_long", Bytes().U32BE(20).Str("ilst").v, std::nullopt},
      {"not_ilst", Atom("free", Bytes()).v, std::nullopt},
      {"xtra_wrong_type", Atom("ilst", Bytes()).v, Atom("free", Bytes()).v},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TMP4NewMetadata m;
    m.Ilst = c.ilst;
    m.Xtra = c.xtra;
    TRewritePlan plan;
    EXPECT_EQ(PlanOn(old, m, plan), mwDamaged);
    EXPECT_TRUE(plan.ChangesNothing());
  }
}

TEST(MP4Write, AMoovPastTheMemoryBoundIsRefused)
{
  TRewritePlan plan;
  TMP4NewMetadata m = NewTitle("New", 0xFFFFFFFFu);
  m.KeepPadding = false;
  EXPECT_EQ(PlanOn(MakeFile(TLayout{}), m, plan), mwTooLarge);
  EXPECT_TRUE(plan.ChangesNothing());
}

// ---------------------------------------------------------------------------------------------
// Files.

namespace {

constexpr TRewriteCodes kCodes{.Ok = 0, .FileNotFound = 10, .CannotOpen = 11, .ReadOnly = 12, .ReadFailed = 13, .WriteFailed = 14};

int SaveFile(const std::string &Path, const TMP4NewMetadata &New)
{
  return RewriteFile(Path, false, kCodes, [&](TStream &Content, TRewritePlan &Plan) {
    const int rc = PlanMP4MetadataSave(Content, New, Plan);
    return rc == mwOk ? 0 : 100 + rc;
  });
}

struct TFixtureCase {
  const char *name;
  const char *file;
  std::size_t title;  // the length of the new title: small fits in place, large does not
  bool inPlace;       // the plan writes in place
  bool sameSize;      // ... and the file keeps its size (a grown "moov" that ends the file does not)
};

class MP4WriteFixture : public ::testing::TestWithParam<TFixtureCase> {};

} // namespace

TEST_P(MP4WriteFixture, SavedFileKeepsItsMediaAndReadsBack)
{
  const TFixtureCase &c = GetParam();
  TempDir dir;
  const std::string path = dir.CopyFixture(std::string("m4a/") + c.file);
  const Bytes8 old = ReadFileBytes(path);
  const TMP4NewMetadata m = NewTitle(std::string(c.title, 'T'));
  ASSERT_EQ(SaveFile(path, m), 0);
  const Bytes8 saved = ReadFileBytes(path);
  EXPECT_EQ(saved.size() == old.size(), c.sameSize);
  ExpectMediaFollows(old, saved);
  EXPECT_EQ(AtomBytes(saved, {"moov", "udta", "meta", "ilst"}), m.Ilst);
  EXPECT_EQ(AtomBytes(saved, {"moov", "mvhd"}), AtomBytes(old, {"moov", "mvhd"}));
  EXPECT_EQ(AtomBytes(saved, {"moov", "udta", "meta", "hdlr"}), AtomBytes(old, {"moov", "udta", "meta", "hdlr"}));
  EXPECT_EQ(FolderEntries(dir.Path()).size(), 1u);
  // Saved again, the same tag changes nothing.
  ASSERT_EQ(SaveFile(path, m), 0);
  EXPECT_EQ(ReadFileBytes(path), saved);
}

TEST_P(MP4WriteFixture, EveryFailedWriteLeavesTheFileByteIdentical)
{
  TempDir dir;
  const auto plan = [this](const std::string &Path, TRewritePlan &Plan) {
    auto file = TFileStream::Open(Path, TFileMode::fmOpenRead);
    ASSERT_TRUE(file);
    ASSERT_EQ(PlanMP4MetadataSave(*file, NewTitle(std::string(GetParam().title, 'T')), Plan), mwOk);
    EXPECT_EQ(Plan.InPlace, GetParam().inPlace);
  };
  const TWriteFailureRun run = RunFailingEachPlannedWrite(dir.Path(), std::string("m4a/") + GetParam().file, "", plan);
  EXPECT_TRUE(run.Succeeded);
  EXPECT_GT(run.Failures, 0);
}

INSTANTIATE_TEST_SUITE_P(Files, MP4WriteFixture, ::testing::Values(
  TFixtureCase{"moov_end_in_place", "aac-moov-end.m4a", 100, true, true},
  TFixtureCase{"moov_end_grown", "aac-moov-end.m4a", 3000, true, false},
  TFixtureCase{"moov_start_in_place", "aac-moov-start.m4a", 100, true, true},
  TFixtureCase{"moov_start_grown", "aac-moov-start.m4a", 3000, false, false},
  TFixtureCase{"alac_in_place", "alac-kid3.m4a", 5, true, true},
  TFixtureCase{"alac_moov_start_grown", "alac-moov-start.m4a", 5000, false, false},
  TFixtureCase{"no_tags_grown", "aac-notags.m4a", 10, true, false},
  TFixtureCase{"chapters_grown", "aac-chapters.m4a", 3000, false, false},
  TFixtureCase{"free_after_moov_in_place", "aac-free-after-moov.m4a", 1000, true, true}),
  [](const auto &p) { return std::string(p.param.name); });

TEST(MP4WriteFile, NoTemporaryFileOfItsOwnAndNoneTouched)
{
  // A file named the way a temporary file of the rest of the media could be named is someone
  // else's: the save neither replaces nor removes it.
  TempDir dir;
  const std::string path = dir.CopyFixture("m4a/aac-moov-start.m4a", "song.m4a");
  const Bytes8 theirs = Bytes().Str("not ours").v;
  for (const char *name : {"song.rest.tmp", "song.moovAtom.tmp"}) dir.Write(name, theirs);
  ASSERT_EQ(SaveFile(path, NewTitle(std::string(4000, 'T'))), 0);
  EXPECT_EQ(FolderEntries(dir.Path()), (std::vector<std::string>{"song.m4a", "song.moovAtom.tmp", "song.rest.tmp"}));
  EXPECT_EQ(ReadFileBytes(dir.Path() + "/song.rest.tmp"), theirs);
  EXPECT_EQ(ReadFileBytes(dir.Path() + "/song.moovAtom.tmp"), theirs);
}

TEST(MP4WriteFile, ARefusedSaveWritesNothing)
{
  TempDir dir;
  TLayout layout;
  layout.ExtraOffset = 0xFFFFFFF0u;
  const std::string path = dir.Write("overflow.m4a", MakeFile(layout));
  const Bytes8 old = ReadFileBytes(path);
  SetOldModTime(path);
  const struct timespec before = ModTime(path);
  EXPECT_EQ(SaveFile(path, NewTitle(std::string(500, 'T'))), 100 + mwOffsetOverflow);
  EXPECT_EQ(ReadFileBytes(path), old);
  EXPECT_TRUE(SameTime(ModTime(path), before));
  EXPECT_EQ(FolderEntries(dir.Path()).size(), 1u);
}
