// Fuzz target: planning and applying an MP4 metadata save over any bytes. Properties: a refusal
// leaves the plan empty; an in-place plan keeps the size (unless the "moov" ends the file); what a plan writes walks again with the
// new item list (and "Xtra") at moov/udta/meta, the bytes before the old "moov" unchanged, and
// the same save planned over it changes nothing. The new "moov" is bounded by the input, so memory
// stays bounded.

#include <algorithm>
#include <span>
#include <string_view>

#include "fuzz/fuzz_entry.h"
#include "tags/mp4/mp4_atoms.h"
#include "tags/mp4/mp4_write.h"
#include "tags/streams/byte_writer.h"

namespace {

TBytes SmallIlst()
{
  TBytes out;
  ByteWriter w(out);
  w.U32BE(8 + 8 + 16 + 5).Str("ilst").U32BE(8 + 16 + 5).Str("\xA9nam").U32BE(16 + 5).Str("data").U32BE(1).U32BE(0).Str("Title");
  return out;
}

// The atom at Path in Stream is Want.
bool AtomEquals(TStream &Stream, std::span<const std::string_view> Path, const TBytes &Want)
{
  TAtomHeader found;
  if (!FindAtomPath(Stream, Path, found)) return false;
  TBytes bytes;
  return Stream.ReadAt(found.Offset, found.Size, bytes) && bytes == Want;
}

void CheckSave(const std::uint8_t *Data, std::size_t Size, const TMP4NewMetadata &New)
{
  TReadMemoryStream stream(Data, static_cast<std::int64_t>(Size));
  TRewritePlan plan;
  const int rc = PlanMP4MetadataSave(stream, New, plan);
  FuzzRequire(rc >= mwOk && rc <= mwTooLarge);
  if (rc != mwOk || plan.ChangesNothing()) {
    FuzzRequire(plan.ChangesNothing());
    return;
  }
  TAtomHeader oldMoov;
  const std::string_view moovPath[] = {"moov"};
  FuzzRequire(FindAtomPath(stream, moovPath, oldMoov));

  TMemoryStream out(TBytes(Data, Data + Size));
  FuzzRequire(ApplyPlanToStream(out, plan) == rwOk);
  // In place keeps the size, unless the new "moov" ends the file (where the old one ended it).
  if (plan.InPlace && !plan.Patches.back().EndsFile) FuzzRequire(out.GetSize() == static_cast<std::int64_t>(Size));
  if (plan.InPlace && plan.Patches.back().EndsFile) FuzzRequire(oldMoov.End() <= static_cast<std::int64_t>(Size));
  FuzzRequire(out.GetSize() <= static_cast<std::int64_t>(Size) + kMaxMP4MoovBytes);
  const auto prefix = static_cast<std::size_t>(oldMoov.Offset);
  FuzzRequire(std::equal(Data, Data + prefix, out.Data().begin()));
  const std::string_view ilst[] = {"moov", "udta", "meta", "ilst"};
  const std::string_view xtra[] = {"moov", "udta", "Xtra"};
  FuzzRequire(AtomEquals(out, ilst, New.Ilst));
  if (New.Xtra) FuzzRequire(AtomEquals(out, xtra, *New.Xtra));
  TRewritePlan again;
  FuzzRequire(PlanMP4MetadataSave(out, New, again) == mwOk && again.ChangesNothing());
}

} // namespace

int FuzzMP4Write(const std::uint8_t *Data, std::size_t Size)
{
  TMP4NewMetadata fits;
  fits.Ilst = SmallIlst();
  fits.PaddingToWrite = 64;
  CheckSave(Data, Size, fits);

  TMP4NewMetadata rebuilt;
  rebuilt.Ilst = {0, 0, 0, 8, 'i', 'l', 's', 't'};
  rebuilt.Xtra = TBytes{0, 0, 0, 12, 'X', 't', 'r', 'a', 0, 0, 0, 0};
  rebuilt.KeepPadding = false;
  rebuilt.PaddingToWrite = 0;
  CheckSave(Data, Size, rebuilt);
  return 0;
}

CORVELLA_FUZZ_TARGET("fuzz_mp4_write", FuzzMP4Write)
