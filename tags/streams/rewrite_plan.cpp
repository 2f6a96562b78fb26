#include "tags/streams/rewrite_plan.h"

#include <algorithm>

namespace {

constexpr std::int64_t kCopyBlock = 1 << 20;

// Puts the old bytes back after a failed in-place write: twice at most, since a second
// failure in a row means the file cannot be written at all.
void RollBack(TStream &Stream, const TRewritePlan &Plan, const TBytes &Old, std::int64_t OldSize, TFileStream *Sync)
{
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (Stream.SetPosition(Plan.PatchOffset) && Stream.WriteBytes(Old) &&
        (!Plan.PatchEndsFile || Stream.GetSize() == OldSize || Stream.SetSize(OldSize)) && (!Sync || Sync->Sync()))
      return;
  }
}

} // namespace

void TRewritePlan::SetInPlace(std::int64_t Offset, TBytes Bytes, bool EndsFile)
{
  InPlace = true;
  PatchOffset = Offset;
  Patch = std::move(Bytes);
  PatchEndsFile = EndsFile;
  Pieces.clear();
}

void TRewritePlan::AddLiteral(TBytes Bytes)
{
  if (Bytes.empty()) return;
  TRewritePiece p;
  p.Literal = true;
  p.Bytes = std::move(Bytes);
  Pieces.push_back(std::move(p));
}

void TRewritePlan::AddCopy(std::int64_t From, std::int64_t To, std::vector<TPatchField> Fields)
{
  std::sort(Fields.begin(), Fields.end(), [](const auto &a, const auto &b) { return a.Offset < b.Offset; });
  std::int64_t pos = From;
  for (auto &f : Fields) {
    if (f.Offset < pos || f.Offset + static_cast<std::int64_t>(f.Bytes.size()) > To) continue;
    if (f.Offset > pos) Pieces.push_back(TRewritePiece{false, pos, f.Offset - pos, {}});
    pos = f.Offset + static_cast<std::int64_t>(f.Bytes.size());
    AddLiteral(std::move(f.Bytes));
  }
  if (To > pos) Pieces.push_back(TRewritePiece{false, pos, To - pos, {}});
}

std::int64_t TRewritePlan::RebuiltSize() const
{
  std::int64_t n = 0;
  for (const auto &p : Pieces) n += p.Literal ? static_cast<std::int64_t>(p.Bytes.size()) : p.Count;
  return n;
}

bool WriteRebuiltContent(TStream &Source, const TRewritePlan &Plan, TStream &Dest)
{
  TBytes buf;
  for (const auto &p : Plan.Pieces) {
    if (p.Literal) {
      if (!Dest.WriteBytes(p.Bytes)) return false;
      continue;
    }
    for (std::int64_t done = 0; done < p.Count;) {
      const std::int64_t n = std::min(kCopyBlock, p.Count - done);
      if (!Source.ReadAt(p.From + done, n, buf) || !Dest.WriteBytes(buf)) return false;
      done += n;
    }
  }
  return true;
}

TRewriteResult ApplyPlanInPlace(TStream &Stream, const TRewritePlan &Plan, TFileStream *Sync)
{
  const std::int64_t oldSize = Stream.GetSize();
  if (oldSize < 0 || Plan.PatchOffset < 0 || Plan.PatchOffset > oldSize) return rwReadFailed;
  // What the patch overwrites: the same count of bytes, or everything to the old end when the
  // patch becomes the end of the file.
  const std::int64_t covered = Plan.PatchEndsFile ? oldSize - Plan.PatchOffset : static_cast<std::int64_t>(Plan.Patch.size());
  if (covered > oldSize - Plan.PatchOffset) return rwReadFailed;
  TBytes old(static_cast<std::size_t>(covered));
  if (!Stream.SetPosition(Plan.PatchOffset) || !Stream.ReadBuffer(old.data(), covered)) return rwReadFailed;
  const std::int64_t newSize = Plan.PatchOffset + static_cast<std::int64_t>(Plan.Patch.size());
  if (Stream.SetPosition(Plan.PatchOffset) && Stream.WriteBytes(Plan.Patch) &&
      (!Plan.PatchEndsFile || newSize >= oldSize || Stream.SetSize(newSize)) && (!Sync || Sync->Sync()))
    return rwOk;
  RollBack(Stream, Plan, old, oldSize, Sync);
  return rwWriteFailed;
}

TRewriteResult ApplyPlanToStream(TStream &Stream, const TRewritePlan &Plan)
{
  if (Plan.InPlace) return ApplyPlanInPlace(Stream, Plan);
  TMemoryStream built;
  if (!WriteRebuiltContent(Stream, Plan, built)) return rwReadFailed;
  if (!Stream.SetPosition(0) || !Stream.WriteBytes(built.Data()) || !Stream.SetSize(Plan.RebuiltSize()))
    return rwWriteFailed;
  return rwOk;
}

TRewriteResult ApplyPlanToFile(const std::string &FileName, TFileStream &File, const TRewritePlan &Plan)
{
  if (Plan.InPlace) return ApplyPlanInPlace(File, Plan, &File);
  auto temp = TTempFile::CreateBeside(FileName);
  if (!temp) return rwWriteFailed;
  if (!WriteRebuiltContent(File, Plan, temp->Stream())) return rwWriteFailed;
  if (!temp->Commit(FileName)) return rwWriteFailed;
  return rwOk;
}
