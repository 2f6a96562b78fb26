// Fuzz target: the MP4 atom walk, the audio properties and the item model over any bytes.
// Properties: every atom read lies inside its parent, one after another; a path found lies
// inside the file; the properties reader never divides by zero or reads outside the stream; a
// loaded tag rebuilds its item list and Xtra atom exactly as the input holds them (when their
// headers are 32-bit), and after changes still builds an item list that walks whole.

#include <algorithm>
#include <cmath>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_entry.h"
#include "tags/mp4/mp4_atoms.h"
#include "tags/mp4/mp4_audio.h"
#include "tags/mp4/mp4_tag.h"

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

bool SameBytes(const std::uint8_t *Data, std::size_t Size, std::int64_t Pos, const TBytes &Bytes)
{
  const auto at = static_cast<std::size_t>(Pos);
  return Pos >= 0 && at <= Size && Bytes.size() <= Size - at && std::equal(Bytes.begin(), Bytes.end(), Data + at);
}

bool SixtyFourBitHeader(const std::uint8_t *Data, std::size_t Size, std::int64_t Pos)
{
  const auto at = static_cast<std::size_t>(Pos);
  return at + 4 <= Size && Data[at] == 0 && Data[at + 1] == 0 && Data[at + 2] == 0 && Data[at + 3] == 1;
}

void CheckTag(const std::uint8_t *Data, std::size_t Size, TReadMemoryStream &Stream)
{
  TMP4Tag tag;
  const int rc = tag.Load(Stream);
  FuzzRequire(rc == mp4tOk || rc == mp4tNoItems || rc == mp4tCorrupt || rc == mp4tNotMP4);
  FuzzRequire(tag.Damaged() == (rc == mp4tCorrupt));
  TBytes ilst;
  FuzzRequire(tag.BuildIlst(ilst));  // everything is held in memory
  const TMP4Layout &at = tag.Layout();
  if (rc == mp4tOk && at.ilstPosition >= 0 && !SixtyFourBitHeader(Data, Size, at.ilstPosition))
    FuzzRequire(SameBytes(Data, Size, at.ilstPosition, ilst) && static_cast<std::int64_t>(ilst.size()) == at.ilstSize);
  const std::optional<TBytes> xtra = tag.BuildXtra();
  if (xtra) FuzzRequire(SameBytes(Data, Size, at.XtraPosition, *xtra));

  tag.SetText("\xA9nam", "fuzz");
  tag.SetText("tmpo", "12");
  tag.SetGenre("Rock");
  tag.SetTrack(1, 2);
  tag.SetCommon("Mood", "com.apple.iTunes", "calm");
  std::vector<TMP4CoverArt> pictures(static_cast<std::size_t>(std::min(tag.CoverArtCount(), 4)));
  for (std::size_t i = 0; i < pictures.size(); ++i)
    FuzzRequire(tag.GetCoverArt(static_cast<int>(i), pictures[i].Data, pictures[i].DataType));
  std::reverse(pictures.begin(), pictures.end());
  tag.SetCoverArts(pictures);
  FuzzRequire(tag.CoverArtCount() == static_cast<int>(pictures.size()));
  FuzzRequire(tag.BuildIlst(ilst));
  std::vector<TAtomHeader> items;
  TReadMemoryStream built(ilst.data(), static_cast<std::int64_t>(ilst.size()));
  FuzzRequire(ReadChildAtoms(built, 8, static_cast<std::int64_t>(ilst.size()), false, items));
  tag.BuildXtra();
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
  CheckTag(Data, Size, stream);
  return 0;
}

CORVELLA_FUZZ_TARGET("fuzz_mp4_atoms", FuzzMP4Atoms)
