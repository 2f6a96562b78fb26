#include "tags/mp4/mp4_atoms.h"

#include <algorithm>
#include <cstring>

#include "tags/streams/byte_reader.h"
#include "tags/streams/byte_writer.h"

bool TAtomHeader::Is(std::string_view Name) const
{
  return Name.size() == 4 && std::memcmp(Type.data(), Name.data(), 4) == 0;
}

int ReadAtomHeader(TStream &Stream, std::int64_t Pos, std::int64_t ParentEnd, bool TopLevel, TAtomHeader &Out)
{
  if (Pos == ParentEnd) return arEnd;
  if (Pos < 0 || Pos > ParentEnd || ParentEnd - Pos < 8) return arDamaged;
  TBytes head;
  if (!ReadUpTo(Stream, Pos, std::min<std::int64_t>(16, ParentEnd - Pos), head)) return arDamaged;
  ByteReader in(head);
  std::uint32_t size32 = 0;
  std::span<const std::uint8_t> type;
  if (!in.ReadU32BE(size32) || !in.ReadSpan(4, type)) return arDamaged;
  TAtomHeader h;
  std::copy(type.begin(), type.end(), h.Type.begin());
  h.Offset = Pos;
  if (size32 == 1) {
    std::uint64_t size64 = 0;
    if (!in.ReadU64BE(size64)) return arDamaged;
    h.HeaderSize = 16;
    if (size64 < 16 || size64 > static_cast<std::uint64_t>(ParentEnd - Pos)) return arDamaged;
    h.Size = static_cast<std::int64_t>(size64);
  } else if (size32 == 0) {
    if (!TopLevel) return arDamaged;
    h.ToEnd = true;
    h.Size = ParentEnd - Pos;
  } else {
    if (size32 < 8 || size32 > ParentEnd - Pos) return arDamaged;
    h.Size = size32;
  }
  Out = h;
  return arOk;
}

bool ReadChildAtoms(TStream &Stream, std::int64_t BodyStart, std::int64_t ParentEnd, bool TopLevel,
                    std::vector<TAtomHeader> &Out)
{
  Out.clear();
  std::int64_t pos = BodyStart;
  for (;;) {
    TAtomHeader h;
    switch (ReadAtomHeader(Stream, pos, ParentEnd, TopLevel, h)) {
    case arEnd: return true;
    case arDamaged: return false;
    default: break;
    }
    // A size of 0 is taken only for the last atom: it ends the walk.
    if (Out.size() >= kMaxAtomChildren) return false;
    Out.push_back(h);
    pos = h.End();
  }
}

std::int64_t ChildrenOffset(TStream &Stream, const TAtomHeader &Atom)
{
  if (!Atom.Is("meta")) return Atom.BodyOffset();
  // A full box, unless its body starts with a "hdlr" child right away.
  TBytes probe;
  if (Atom.BodySize() >= 8 && ReadUpTo(Stream, Atom.BodyOffset() + 4, 4, probe) && probe.size() == 4 &&
      std::memcmp(probe.data(), "hdlr", 4) == 0)
    return Atom.BodyOffset();
  return std::min(Atom.BodyOffset() + 4, Atom.End());
}

std::uint64_t AtomSizeFor(std::uint64_t BodySize)
{
  return BodySize + 8 <= UINT32_MAX ? BodySize + 8 : BodySize + 16;
}

void AppendAtomHeader(TBytes &Out, std::string_view Type, std::uint64_t BodySize)
{
  const std::uint64_t size = AtomSizeFor(BodySize);
  ByteWriter out(Out);
  out.U32BE(size <= UINT32_MAX ? static_cast<std::uint32_t>(size) : 1);
  for (std::size_t i = 0; i < 4; ++i) out.U8(i < Type.size() ? static_cast<std::uint8_t>(Type[i]) : 0);
  if (size > UINT32_MAX) out.U64BE(size);
}

bool FindAtomPath(TStream &Stream, std::span<const std::string_view> Path, TAtomHeader &Out)
{
  if (Path.empty() || Path.size() > static_cast<std::size_t>(kMaxAtomDepth)) return false;
  const std::int64_t size = Stream.GetSize();
  if (size < 0) return false;
  std::int64_t from = 0, end = size;
  bool top = true;
  TAtomHeader found;
  for (const std::string_view name : Path) {
    std::vector<TAtomHeader> children;
    ReadChildAtoms(Stream, from, end, top, children);  // the atoms before any damage still count
    const auto it = std::find_if(children.begin(), children.end(), [name](const TAtomHeader &h) { return h.Is(name); });
    if (it == children.end()) return false;
    found = *it;
    from = ChildrenOffset(Stream, found);
    end = found.End();
    top = false;
  }
  Out = found;
  return true;
}
