#include "tags/streams/rewrite_plan.h"

#include <algorithm>
#include <limits>

#include "tags/streams/byte_reader.h"
#include "tags/streams/byte_writer.h"

namespace {

constexpr std::int64_t kCopyBlock = 1 << 20;

std::int64_t SizeOf(const TBytes &B) { return static_cast<std::int64_t>(B.size()); }

// One change of the old content: the bytes From..To replaced by Bytes (an insertion when the
// range is empty).
struct TEdit {
  std::int64_t From = 0;
  std::int64_t To = 0;
  TBytes Bytes;
};

// Where a patch's old bytes end: its own length on, or the old end for a patch that ends the file.
std::int64_t PatchEnd(const TInPlacePatch &P, std::int64_t OldSize)
{
  return P.EndsFile ? OldSize : P.Offset + SizeOf(P.Bytes);
}

// The changes a plan makes to OldSize bytes of old content; false when it does not fit them or
// a rebuild copies ranges out of order.
bool PlanEdits(const TRewritePlan &Plan, std::int64_t OldSize, std::vector<TEdit> &Edits)
{
  if (Plan.InPlace) {
    for (const TInPlacePatch &p : Plan.Patches) {
      const std::int64_t end = PatchEnd(p, OldSize);
      if (p.Offset < 0 || p.Offset > OldSize || end > OldSize) return false;
      Edits.push_back(TEdit{p.Offset, end, p.Bytes});
    }
    return true;
  }
  std::int64_t pos = 0;
  TBytes pending;
  const auto flush = [&](std::int64_t Upto) {
    if (!pending.empty() || Upto != pos) Edits.push_back(TEdit{pos, Upto, std::move(pending)});
    pending.clear();
  };
  for (const TRewritePiece &p : Plan.Pieces) {
    if (p.Literal) {
      pending.insert(pending.end(), p.Bytes.begin(), p.Bytes.end());
      continue;
    }
    if (p.From < pos || p.Count < 0 || p.From > OldSize - p.Count) return false;
    flush(p.From);
    pos = p.From + p.Count;
  }
  flush(OldSize);
  return true;
}

bool KeepsSize(const TEdit &E) { return E.To - E.From == SizeOf(E.Bytes); }

// By place; at one offset an insertion goes before a replacement that starts there.
void SortEdits(std::vector<TEdit> &Edits)
{
  std::stable_sort(Edits.begin(), Edits.end(), [](const TEdit &A, const TEdit &B) {
    return A.From != B.From ? A.From < B.From : (A.To == A.From) > (B.To == B.From);
  });
}

bool AllInPlace(const std::vector<TEdit> &Edits, std::int64_t OldSize)
{
  return std::all_of(Edits.begin(), Edits.end(), [&](const TEdit &E) { return KeepsSize(E) || E.To == OldSize; });
}

// The known old bytes from the latest place on from which every change that moves bytes ends
// in them; null when no plan knows such a tail.
const TRewritePlan *UsableTail(std::span<const TRewritePlan> Plans, const std::vector<TEdit> &Edits,
                               std::int64_t OldSize)
{
  const TRewritePlan *best = nullptr;
  for (const TRewritePlan &p : Plans) {
    const std::int64_t from = p.KnownTailFrom;
    if (from < 0 || from > OldSize || SizeOf(p.KnownTail) != OldSize - from) continue;
    const bool reaches = std::all_of(Edits.begin(), Edits.end(), [&](const TEdit &E) { return KeepsSize(E) || E.To >= from; });
    if (reaches && (!best || from > best->KnownTailFrom)) best = &p;
  }
  return best;
}

// Fills the gaps between the (sorted) edits from Tail's start to the end with its old bytes.
void FillWithTail(const TRewritePlan &Tail, std::int64_t OldSize, std::vector<TEdit> &Edits)
{
  std::vector<TEdit> fills;
  std::int64_t pos = Tail.KnownTailFrom;
  const auto fill = [&](std::int64_t Upto) {
    if (Upto <= pos) return;
    const auto first = Tail.KnownTail.begin() + (pos - Tail.KnownTailFrom);
    fills.push_back(TEdit{pos, Upto, TBytes(first, first + (Upto - pos))});
  };
  for (const TEdit &e : Edits) {
    if (e.To <= pos) continue;
    fill(e.From);
    pos = std::max(pos, e.To);
  }
  fill(OldSize);
  for (TEdit &f : fills) Edits.push_back(std::move(f));
  SortEdits(Edits);
}

// Joins edits that meet (one ends where the next begins) into one.
void JoinMeetingEdits(std::vector<TEdit> &Edits)
{
  std::vector<TEdit> joined;
  for (TEdit &e : Edits) {
    if (!joined.empty() && joined.back().To == e.From) {
      joined.back().To = e.To;
      joined.back().Bytes.insert(joined.back().Bytes.end(), e.Bytes.begin(), e.Bytes.end());
      continue;
    }
    joined.push_back(std::move(e));
  }
  Edits = std::move(joined);
}

// Puts the old bytes back after a failed in-place write: twice at most, since a second
// failure in a row means the file cannot be written at all.
void RollBack(TStream &Stream, const TRewritePlan &Plan, const std::vector<TBytes> &Old, std::int64_t OldSize,
              TFileStream *Sync)
{
  for (int attempt = 0; attempt < 2; ++attempt) {
    bool ok = true;
    for (std::size_t i = Plan.Patches.size(); i-- > 0 && ok;)
      ok = Stream.SetPosition(Plan.Patches[i].Offset) && Stream.WriteBytes(Old[i]);
    if (ok && (Stream.GetSize() == OldSize || Stream.SetSize(OldSize)) && (!Sync || Sync->Sync())) return;
  }
}

// A counting field and the sum of the changes the plans made to it.
struct TCountedField {
  TCountingField Field;
  std::int64_t Delta = 0;
};

// Takes the edits of a plan that set its counting fields out of Edits (those from index First
// on) and adds their changes to Counted; false when two plans describe one field differently.
bool TakeCountingEdits(const TRewritePlan &Plan, std::vector<TEdit> &Edits, std::size_t First,
                       std::vector<TCountedField> &Counted)
{
  for (const TCountingField &f : Plan.CountingFields) {
    if ((f.Bytes != 4 && f.Bytes != 8) || f.OldValue > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
      return false;
    auto known = std::find_if(Counted.begin(), Counted.end(), [&](const TCountedField &C) { return C.Field.Offset == f.Offset; });
    if (known != Counted.end() && !(known->Field == f)) return false;
    const auto edit = std::find_if(Edits.begin() + static_cast<std::ptrdiff_t>(First), Edits.end(), [&](const TEdit &E) {
      return E.From == f.Offset && E.To == f.Offset + f.Bytes && SizeOf(E.Bytes) == f.Bytes;
    });
    if (edit == Edits.end()) continue;
    ByteReader in(edit->Bytes);
    std::uint64_t value = 0;
    if (f.Bytes == 8) {
      if (!(f.BigEndian ? in.ReadU64BE(value) : in.ReadU64LE(value))) return false;
    } else {
      std::uint32_t v32 = 0;
      if (!(f.BigEndian ? in.ReadU32BE(v32) : in.ReadU32LE(v32))) return false;
      value = v32;
    }
    if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return false;
    if (known == Counted.end()) {
      Counted.push_back(TCountedField{f, 0});
      known = Counted.end() - 1;
    }
    known->Delta += static_cast<std::int64_t>(value) - static_cast<std::int64_t>(f.OldValue);
    Edits.erase(edit);
  }
  return true;
}

} // namespace

void TRewritePlan::SetInPlace(std::int64_t Offset, TBytes Bytes, bool EndsFile)
{
  InPlace = true;
  Patches.clear();
  Patches.push_back(TInPlacePatch{Offset, std::move(Bytes), EndsFile});
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
    if (f.Offset < pos || f.Offset + SizeOf(f.Bytes) > To) continue;
    if (f.Offset > pos) Pieces.push_back(TRewritePiece{false, pos, f.Offset - pos, {}});
    pos = f.Offset + SizeOf(f.Bytes);
    AddLiteral(std::move(f.Bytes));
  }
  if (To > pos) Pieces.push_back(TRewritePiece{false, pos, To - pos, {}});
}

std::int64_t TRewritePlan::RebuiltSize() const
{
  std::int64_t n = 0;
  for (const auto &p : Pieces) n += p.Literal ? SizeOf(p.Bytes) : p.Count;
  return n;
}

bool ComposePlans(std::int64_t OldSize, std::span<const TRewritePlan> Plans, TRewritePlan &Out)
{
  if (OldSize < 0) return false;
  std::vector<TEdit> edits;
  std::vector<TCountedField> counted;
  for (const TRewritePlan &plan : Plans) {
    if (plan.ChangesNothing()) continue;
    const std::size_t first = edits.size();
    if (!PlanEdits(plan, OldSize, edits) || !TakeCountingEdits(plan, edits, first, counted)) return false;
  }
  for (const TCountedField &c : counted) {
    const auto value = static_cast<std::int64_t>(c.Field.OldValue) + c.Delta;
    if (value < 0 || (c.Field.Bytes == 4 && value > 0xFFFFFFFFll)) return false;
    edits.push_back(TEdit{c.Field.Offset, c.Field.Offset + c.Field.Bytes,
                          EncodeUInt(static_cast<std::uint64_t>(value), c.Field.Bytes, c.Field.BigEndian)});
  }
  // An edit that replaces nothing with nothing is no change.
  std::erase_if(edits, [](const TEdit &E) { return E.From == E.To && E.Bytes.empty(); });
  SortEdits(edits);
  for (std::size_t i = 1; i < edits.size(); ++i) {
    const TEdit &a = edits[i - 1];
    const TEdit &b = edits[i];
    if (a.To > b.From) return false;
    if (a.From == a.To && b.From == b.To && a.From == b.From) return false;
  }

  if (!AllInPlace(edits, OldSize))
    if (const TRewritePlan *tail = UsableTail(Plans, edits, OldSize)) FillWithTail(*tail, OldSize, edits);
  JoinMeetingEdits(edits);

  TRewritePlan plan;
  plan.InPlace = AllInPlace(edits, OldSize);
  if (plan.InPlace) {
    for (TEdit &e : edits) {
      const bool endsFile = e.To == OldSize && !KeepsSize(e);
      plan.Patches.push_back(TInPlacePatch{e.From, std::move(e.Bytes), endsFile});
    }
    // An in-place plan without patches would read as "nothing to write", which it is.
    if (plan.Patches.empty()) plan.InPlace = false;
  } else {
    std::int64_t pos = 0;
    for (TEdit &e : edits) {
      if (e.From > pos) plan.AddCopy(pos, e.From);
      plan.AddLiteral(std::move(e.Bytes));
      pos = e.To;
    }
    if (OldSize > pos) plan.AddCopy(pos, OldSize);
  }
  Out = std::move(plan);
  return true;
}

bool ComposeOwnPlan(std::int64_t OldSize, TRewritePlan &Plan)
{
  TRewritePlan composed;
  if (!ComposePlans(OldSize, std::span<const TRewritePlan>(&Plan, 1), composed)) return false;
  Plan = std::move(composed);
  return true;
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
  if (oldSize < 0) return rwReadFailed;
  // What each patch overwrites, read before the first write: the same count of bytes, or
  // everything to the old end when the patch becomes the end of the file.
  std::vector<TBytes> old(Plan.Patches.size());
  std::int64_t newSize = oldSize;
  std::int64_t previousEnd = 0;
  for (std::size_t i = 0; i < Plan.Patches.size(); ++i) {
    const TInPlacePatch &p = Plan.Patches[i];
    const std::int64_t end = PatchEnd(p, oldSize);
    const bool last = i + 1 == Plan.Patches.size();
    if (p.Offset < previousEnd || p.Offset > oldSize || end > oldSize || (p.EndsFile && !last)) return rwReadFailed;
    previousEnd = p.Offset + SizeOf(p.Bytes);
    old[i].resize(static_cast<std::size_t>(end - p.Offset));
    if (!Stream.SetPosition(p.Offset) || !Stream.ReadBuffer(old[i].data(), end - p.Offset)) return rwReadFailed;
    if (p.EndsFile) newSize = p.Offset + SizeOf(p.Bytes);
  }
  bool ok = true;
  for (const TInPlacePatch &p : Plan.Patches) {
    ok = Stream.SetPosition(p.Offset) && Stream.WriteBytes(p.Bytes);
    if (!ok) break;
  }
  if (ok && newSize < oldSize) ok = Stream.SetSize(newSize);
  if (ok && Sync) ok = Sync->Sync();
  if (ok) return rwOk;
  RollBack(Stream, Plan, old, oldSize, Sync);
  return rwWriteFailed;
}

TRewriteResult ApplyPlanToStream(TStream &Stream, const TRewritePlan &Plan)
{
  if (Plan.ChangesNothing()) return rwOk;
  if (Plan.InPlace) return ApplyPlanInPlace(Stream, Plan);
  TMemoryStream built;
  if (!WriteRebuiltContent(Stream, Plan, built)) return rwReadFailed;
  // The old content is kept too: a write that fails half-way is undone by writing it back.
  const std::int64_t oldSize = Stream.GetSize();
  TBytes old;
  if (oldSize < 0 || !Stream.ReadAt(0, oldSize, old)) return rwReadFailed;
  if (Stream.SetPosition(0) && Stream.WriteBytes(built.Data()) && Stream.SetSize(Plan.RebuiltSize())) return rwOk;
  for (int attempt = 0; attempt < 2; ++attempt)
    if (Stream.SetPosition(0) && Stream.WriteBytes(old) && Stream.SetSize(oldSize)) break;
  return rwWriteFailed;
}

TRewriteResult ApplyPlanToFile(const std::string &FileName, TFileStream &File, const TRewritePlan &Plan)
{
  if (Plan.ChangesNothing()) return rwOk;
  if (Plan.InPlace) return ApplyPlanInPlace(File, Plan, &File);
  auto temp = TTempFile::CreateBeside(FileName);
  if (!temp) return rwWriteFailed;
  if (!WriteRebuiltContent(File, Plan, temp->Stream())) return rwWriteFailed;
  if (!temp->Commit(FileName)) return rwWriteFailed;
  return rwOk;
}
