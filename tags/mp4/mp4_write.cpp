#include "tags/mp4/mp4_write.h"

#include <algorithm>
#include <iterator>
#include <span>
#include <string_view>
#include <vector>

#include "tags/mp4/mp4_atoms.h"
#include "tags/streams/byte_reader.h"
#include "tags/streams/byte_writer.h"

namespace {

// Padding left in place is a "free" atom; anything but an exact fit leaves room for its 8-byte
// header and a little more, so that a save of a slightly longer item list fits again.
constexpr std::int64_t kMinPaddingInPlace = 10;
constexpr std::int64_t kFreeHeaderSize = 8;
// The handler a new "meta" gets: 00 00 00 21 "hdlr", version and flags, pre-defined, "mdir",
// "appl", 9 zero bytes.
constexpr std::int64_t kDefaultHandlerSize = 33;

// The old "moov" and what a save keeps of it.
struct TOldMoov {
  std::int64_t Pos = 0;    // of the old "moov"
  std::int64_t Space = 0;  // the old "moov" and the "free"/"skip" atoms right after it
  std::vector<TAtomHeader> MoovKept, UdtaKept, MetaKept;
  std::uint8_t MetaVersion = 0;
  bool HasHandler = false;
};

std::int64_t SizeOf(const TBytes &B) { return static_cast<std::int64_t>(B.size()); }

std::int64_t SizeOf(const std::vector<TAtomHeader> &Atoms)
{
  std::int64_t n = 0;
  for (const TAtomHeader &a : Atoms) n += a.Size;
  return n;
}

bool IsPadding(const TAtomHeader &A) { return A.Is("free") || A.Is("skip"); }

// Atom is one whole atom of Type: its header's size is its length.
bool IsWholeAtom(const TBytes &Atom, std::string_view Type)
{
  TReadMemoryStream s(Atom.data(), SizeOf(Atom));
  TAtomHeader h;
  return ReadAtomHeader(s, 0, SizeOf(Atom), false, h) == arOk && h.Is(Type) && h.Size == SizeOf(Atom);
}

bool ChildrenOf(TStream &Stream, const TAtomHeader &Parent, std::vector<TAtomHeader> &Out)
{
  return ReadChildAtoms(Stream, ChildrenOffset(Stream, Parent), Parent.End(), false, Out);
}

// The top level: "ftyp" first, where "moov" is and how much space follows it.
int FindOldSpace(TStream &Content, TAtomHeader &Moov, TOldMoov &Old)
{
  const std::int64_t size = Content.GetSize();
  if (size < 0) return mwDamaged;
  TBytes head;
  if (!ReadUpTo(Content, 0, 8, head) || head.size() < 8 || !std::equal(head.begin() + 4, head.end(), "ftyp"))
    return mwNotMP4;
  std::vector<TAtomHeader> top;
  // Damage after "moov" and its space is left alone: that part is copied as it is.
  const bool whole = ReadChildAtoms(Content, 0, size, true, top);
  if (std::any_of(top.begin(), top.end(), [](const TAtomHeader &A) { return A.Is("moof"); })) return mwFragmented;
  const auto moov = std::find_if(top.begin(), top.end(), [](const TAtomHeader &A) { return A.Is("moov"); });
  if (moov == top.end()) {
    if (!whole) return mwDamaged;
    // The media runs to the end of the file as far as its header says: a "moov" after it would
    // lie inside it.
    if (!top.empty() && top.back().ToEnd && top.back().Is("mdat")) return mwMediaNotMovable;
    return mwNoMoov;
  }
  Moov = *moov;
  Old.Pos = moov->Offset;
  Old.Space = moov->Size;
  for (auto it = moov + 1; it != top.end() && IsPadding(*it); ++it) Old.Space += it->Size;
  return mwOk;
}

// What the save keeps of the old "moov", "udta" and "meta" children.
int ReadKeptChildren(TStream &Content, const TAtomHeader &Moov, TOldMoov &Old)
{
  std::vector<TAtomHeader> moovChildren;
  if (!ChildrenOf(Content, Moov, moovChildren)) return mwDamaged;
  bool metaSeen = false;
  for (const TAtomHeader &child : moovChildren) {
    if (child.Is("mvex")) return mwFragmented;
    if (child.Is("free")) continue;
    if (!child.Is("udta")) {
      Old.MoovKept.push_back(child);
      continue;
    }
    std::vector<TAtomHeader> udtaChildren;
    if (!ChildrenOf(Content, child, udtaChildren)) return mwDamaged;
    for (const TAtomHeader &u : udtaChildren) {
      if (u.Is("Xtra") || u.Is("free")) continue;
      if (!u.Is("meta")) {
        Old.UdtaKept.push_back(u);
        continue;
      }
      const std::int64_t from = ChildrenOffset(Content, u);
      if (!metaSeen && from > u.BodyOffset()) {
        TBytes version;
        if (!ReadUpTo(Content, u.BodyOffset(), 1, version) || version.size() != 1) return mwDamaged;
        Old.MetaVersion = version[0];
      }
      metaSeen = true;
      std::vector<TAtomHeader> metaChildren;
      if (!ReadChildAtoms(Content, from, u.End(), false, metaChildren)) return mwDamaged;
      for (const TAtomHeader &m : metaChildren) {
        if (m.Is("ilst") || m.Is("free")) continue;
        Old.HasHandler = Old.HasHandler || m.Is("hdlr");
        Old.MetaKept.push_back(m);
      }
    }
  }
  return mwOk;
}

// The body sizes of the new atoms with Padding bytes of padding inside "meta".
struct TNewSizes {
  std::uint64_t MetaBody = 0, UdtaBody = 0, MoovBody = 0;
  std::int64_t Moov() const { return static_cast<std::int64_t>(AtomSizeFor(MoovBody)); }
};

TNewSizes SizesFor(const TOldMoov &Old, const TMP4NewMetadata &New, std::int64_t Padding)
{
  TNewSizes n;
  n.MetaBody = static_cast<std::uint64_t>(4 + SizeOf(Old.MetaKept) + (Old.HasHandler ? 0 : kDefaultHandlerSize) +
                                          SizeOf(New.Ilst) + Padding);
  n.UdtaBody = static_cast<std::uint64_t>(SizeOf(Old.UdtaKept) + (New.Xtra ? SizeOf(*New.Xtra) : 0)) +
               AtomSizeFor(n.MetaBody);
  n.MoovBody = static_cast<std::uint64_t>(SizeOf(Old.MoovKept)) + AtomSizeFor(n.UdtaBody);
  return n;
}

bool AppendOld(TStream &Content, const std::vector<TAtomHeader> &Atoms, TBytes &Out)
{
  for (const TAtomHeader &a : Atoms) {
    const std::size_t at = Out.size();
    Out.resize(at + static_cast<std::size_t>(a.Size));
    if (!Content.SetPosition(a.Offset) || !Content.ReadBuffer(Out.data() + at, a.Size)) return false;
  }
  return true;
}

// The bytes of the new "moov" with Padding bytes of padding; false when the old content cannot
// be read.
bool BuildMoov(TStream &Content, const TOldMoov &Old, const TMP4NewMetadata &New, std::int64_t Padding, TBytes &Out)
{
  const TNewSizes sizes = SizesFor(Old, New, Padding);
  Out.clear();
  Out.reserve(static_cast<std::size_t>(sizes.Moov()));
  ByteWriter out(Out);
  AppendAtomHeader(Out, "moov", sizes.MoovBody);
  if (!AppendOld(Content, Old.MoovKept, Out)) return false;
  AppendAtomHeader(Out, "udta", sizes.UdtaBody);
  if (!AppendOld(Content, Old.UdtaKept, Out)) return false;
  AppendAtomHeader(Out, "meta", sizes.MetaBody);
  out.U8(Old.MetaVersion).Zeros(3);
  if (!AppendOld(Content, Old.MetaKept, Out)) return false;
  if (!Old.HasHandler) out.U32BE(kDefaultHandlerSize).Str("hdlr").Zeros(8).Str("mdir").Str("appl").Zeros(9);
  out.Append(New.Ilst);
  if (Padding > 0) {
    AppendAtomHeader(Out, "free", static_cast<std::uint64_t>(Padding - kFreeHeaderSize));
    out.Zeros(static_cast<std::size_t>(Padding - kFreeHeaderSize));
  }
  if (New.Xtra) out.Append(*New.Xtra);
  return true;
}

// The children of Parent (in Stream) of type Name; false when Parent's children are damaged.
bool ChildrenNamed(TStream &Stream, const TAtomHeader &Parent, std::string_view Name, std::vector<TAtomHeader> &Out)
{
  std::vector<TAtomHeader> all;
  if (!ChildrenOf(Stream, Parent, all)) return false;
  Out.clear();
  std::copy_if(all.begin(), all.end(), std::back_inserter(Out), [Name](const TAtomHeader &A) { return A.Is(Name); });
  return true;
}

struct TOffsetShift {
  std::int64_t SpaceStart = 0;  // the old space: the old "moov" and the padding after it
  std::int64_t SpaceEnd = 0;
  std::int64_t Distance = 0;    // how far what followed the old space moves
  bool PointsIntoSpace = false; // an entry points into the old space, whose bytes are replaced
};

// Moves the entries of one "stco" (Width 4) or "co64" (Width 8) table in Moov.
int ShiftTable(TBytes &Moov, const TAtomHeader &Table, int Width, TOffsetShift &Shift)
{
  ByteReader in(std::span<const std::uint8_t>(Moov).subspan(static_cast<std::size_t>(Table.BodyOffset()),
                                                            static_cast<std::size_t>(Table.BodySize())));
  std::uint32_t count = 0;
  if (!in.Skip(4) || !in.ReadU32BE(count)) return mwDamaged;
  if (count > in.Remaining() / static_cast<std::size_t>(Width)) return mwDamaged;
  const std::uint64_t limit = Width == 4 ? UINT32_MAX : UINT64_MAX;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t at = static_cast<std::size_t>(Table.BodyOffset()) + in.Position();
    std::uint64_t value = 0;
    std::uint32_t value32 = 0;
    if (Width == 4 ? !in.ReadU32BE(value32) : !in.ReadU64BE(value)) return mwDamaged;
    if (Width == 4) value = value32;
    if (value < static_cast<std::uint64_t>(Shift.SpaceStart)) continue;
    if (value < static_cast<std::uint64_t>(Shift.SpaceEnd)) {
      Shift.PointsIntoSpace = true;
      continue;
    }
    if (Shift.Distance >= 0 ? limit - value < static_cast<std::uint64_t>(Shift.Distance)
                            : value < static_cast<std::uint64_t>(-Shift.Distance))
      return mwOffsetOverflow;
    const std::uint64_t moved = value + static_cast<std::uint64_t>(Shift.Distance);
    const TBytes field = EncodeUInt(moved, Width, true);
    std::copy(field.begin(), field.end(), Moov.begin() + static_cast<std::ptrdiff_t>(at));
  }
  return mwOk;
}

// Moves the chunk offsets of every track in the new "moov" (moov/trak/mdia/minf/stbl/stco|co64).
int ShiftChunkOffsets(TBytes &Moov, TOffsetShift &Shift)
{
  TReadMemoryStream s(Moov.data(), SizeOf(Moov));
  TAtomHeader moov;
  if (ReadAtomHeader(s, 0, SizeOf(Moov), false, moov) != arOk) return mwDamaged;
  std::vector<TAtomHeader> traks;
  if (!ChildrenNamed(s, moov, "trak", traks)) return mwDamaged;
  for (const TAtomHeader &trak : traks) {
    std::vector<TAtomHeader> level{trak};
    for (const std::string_view name : {"mdia", "minf", "stbl"}) {
      std::vector<TAtomHeader> next, found;
      for (const TAtomHeader &a : level) {
        if (!ChildrenNamed(s, a, name, found)) return mwDamaged;
        next.insert(next.end(), found.begin(), found.end());
      }
      level = std::move(next);
    }
    for (const TAtomHeader &stbl : level) {
      std::vector<TAtomHeader> tables;
      if (!ChildrenOf(s, stbl, tables)) return mwDamaged;
      for (const TAtomHeader &t : tables) {
        const int width = t.Is("stco") ? 4 : t.Is("co64") ? 8 : 0;
        if (width == 0) continue;
        if (const int rc = ShiftTable(Moov, t, width, Shift); rc != mwOk) return rc;
      }
    }
  }
  return mwOk;
}

int PlanSave(TStream &Content, const TMP4NewMetadata &New, TRewritePlan &Plan)
{
  if (!IsWholeAtom(New.Ilst, "ilst") || (New.Xtra && !IsWholeAtom(*New.Xtra, "Xtra"))) return mwDamaged;
  TAtomHeader moovAtom;
  TOldMoov old;
  if (const int rc = FindOldSpace(Content, moovAtom, old); rc != mwOk) return rc;
  if (const int rc = ReadKeptChildren(Content, moovAtom, old); rc != mwOk) return rc;

  // In place when the new "moov" fills the old space exactly or leaves room for the padding;
  // otherwise rebuilt with the padding asked for (a "free" atom is never shorter than its header).
  const std::int64_t bare = SizesFor(old, New, 0).Moov();
  std::int64_t padding = 0;
  if (New.KeepPadding && old.Space <= kMaxMP4MoovBytes &&
      (bare == old.Space || bare + kMinPaddingInPlace <= old.Space) &&
      SizesFor(old, New, old.Space - bare).Moov() == old.Space)
    padding = old.Space - bare;
  else if (New.PaddingToWrite > 0)
    padding = std::max<std::int64_t>(New.PaddingToWrite, kFreeHeaderSize);
  const std::int64_t newSize = SizesFor(old, New, padding).Moov();
  if (newSize > kMaxMP4MoovBytes) return mwTooLarge;

  TBytes moov;
  if (!BuildMoov(Content, old, New, padding, moov) || SizeOf(moov) != newSize) return mwDamaged;
  TOffsetShift shift{old.Pos, old.Pos + old.Space, newSize - old.Space, false};
  if (const int rc = ShiftChunkOffsets(moov, shift); rc != mwOk) return rc;

  const bool inPlace = newSize == old.Space;
  if (inPlace) {
    TBytes before;
    if (!Content.ReadAt(old.Pos, old.Space, before)) return mwDamaged;
    if (before == moov) return mwOk;
  }
  if (shift.PointsIntoSpace) return mwMediaNotMovable;
  const std::int64_t size = Content.GetSize();
  // A "moov" that ends the file (as many encoders write it) is replaced where it stands and the
  // file ends after the new one: nothing behind it moves, so the media are not copied.
  if (inPlace || old.Pos + old.Space == size) {
    Plan.SetInPlace(old.Pos, std::move(moov), !inPlace);
    return mwOk;
  }
  Plan.AddCopy(0, old.Pos);
  Plan.AddLiteral(std::move(moov));
  Plan.AddCopy(old.Pos + old.Space, size);
  return mwOk;
}

} // namespace

int PlanMP4MetadataSave(TStream &Content, const TMP4NewMetadata &New, TRewritePlan &Plan)
{
  Plan = TRewritePlan();
  TPositionKeeper keep(Content);
  const int rc = PlanSave(Content, New, Plan);
  if (rc != mwOk) Plan = TRewritePlan();
  return rc;
}
