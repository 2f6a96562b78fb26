// Fuzz target: the MP4 atom walk and the audio properties over any bytes. Properties: every atom
// read lies inside its parent, one after another; a path found lies inside the file; the
// properties reader never divides by zero or reads outside the stream.

#include <cmath>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_entry.h"
#include "tags/mp4/mp4_atoms.h"
#include "tags/mp4/mp4_audio.h"

namespace {

void CheckChildren(TStream &Stream, std::int64_t From, std::int64_t End, bool TopLevel, int Depth)
{
  if (Depth > 4) return;
  std::vector<TAtomHeader> atoms;
  ReadChildAtoms(Stream, From, End, TopLevel, atoms);
  std::int64_t pos = From;
  for (const TAtomHeader &a : atoms) {
    FuzzRequire(a.Offset == pos && a.Size >= a.HeaderSize && a.End() <= End);
    pos = a.End();
    const std::int64_t children = ChildrenOffset(Stream, a);
    FuzzRequire(children >= a.BodyOffset() && children <= a.End());
    CheckChildren(Stream, children, a.End(), false, Depth + 1);
  }
}

} // namespace

int FuzzMP4Atoms(const std::uint8_t *Data, std::size_t Size)
{
  TReadMemoryStream stream(Data, static_cast<std::int64_t>(Size));
  const auto size = static_cast<std::int64_t>(Size);
  CheckChildren(stream, 0, size, true, 0);
  TAtomHeader ilst;
  const std::string_view path[] = {"moov", "udta", "meta", "ilst"};
  if (FindAtomPath(stream, path, ilst)) FuzzRequire(ilst.Is("ilst") && ilst.Offset >= 0 && ilst.End() <= size);
  TMP4AudioInfo info;
  if (ReadMP4AudioInfo(stream, info)) FuzzRequire(info.PlayTime >= 0 && !std::isnan(info.PlayTime));
  return 0;
}

CORVELLA_FUZZ_TARGET("fuzz_mp4_atoms", FuzzMP4Atoms)
