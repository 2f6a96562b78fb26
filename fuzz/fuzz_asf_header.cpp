// Fuzz target: the ASF header of any bytes, loaded, saved with a new title and its tag removed.
// Properties:
// - Loading gives a load code; every value read is bounded by the input.
// - Bytes that are no ASF file make a save and a removal refuse with an empty plan.
// - An untouched list plans nothing. A damaged or protected header, once changed, is refused
//   with an empty plan.
// - Given a title, a save either is refused as too large, with an empty plan, or gives a file
//   whose header loads whole (not damaged) with the attributes of the load (empty texts and the
//   read-only pseudo-attributes left out) and the title set; everything after the header is the
//   old bytes; the new list, saved again unchanged, plans nothing.
// - A removal either is refused with an empty plan or gives a file that loads whole with no
//   attribute a user sets, the attributes of other streams as they were, and the old bytes after
//   the header.

#include <algorithm>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "fuzz/fuzz_entry.h"
#include "fuzz/fuzz_plans.h"
#include "tags/asf/asf_header.h"
#include "tags/asf/wma_tag.h"
#include "tags/streams/read_view.h"
#include "tags/streams/rewrite_plan.h"
#include "tags/streams/stream.h"

namespace {

constexpr const char *kTitle = "fuzz title";

// An attribute as a save keeps it: STRING values without their terminator, BOOL as true/false
// (the Metadata objects hold a BOOL in a word).
using TAttribute = std::tuple<std::string, int, TBytes, int, int>;

TAttribute Key(const TWMATagFrame &F)
{
  TBytes value = F.Stream;
  if (F.Format == WMT_TYPE_STRING) {
    const auto text = WMTStringWithoutTerminator(F.Stream);
    value.assign(text.begin(), text.end());
  } else if (F.Format == WMT_TYPE_BOOL) {
    value = {static_cast<std::uint8_t>(F.GetInteger() != 0)};
  }
  return {F.Name, F.Format, value, F.StreamNumber, F.LanguageIndex};
}

bool Written(const TWMATagFrame &F)
{
  return !(F.Format == WMT_TYPE_STRING && WMTStringWithoutTerminator(F.Stream).empty());
}

// The stored attributes of Tag that a save writes, sorted.
std::vector<TAttribute> StoredOf(const TWMATag &Tag)
{
  std::vector<TAttribute> out;
  for (const auto &f : Tag.Frames)
    if (!TWMATag::IsPseudoAttribute(f->Name) && Written(*f)) out.push_back(Key(*f));
  for (const TWMATagFrame &f : Tag.KeptAttributes)
    if (Written(f)) out.push_back(Key(f));
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<TAttribute> KeptOf(const TWMATag &Tag)
{
  std::vector<TAttribute> out;
  for (const TWMATagFrame &f : Tag.KeptAttributes)
    if (Written(f)) out.push_back(Key(f));
  std::sort(out.begin(), out.end());
  return out;
}

// The bytes after the header of File.
TBytes AfterHeader(const TBytes &File)
{
  TReadMemoryStream s(File.data(), static_cast<std::int64_t>(File.size()));
  TReadView view(s);
  TASFHeader h;
  FuzzRequire(ReadASFHeader(view, h) == asfrOk);
  FuzzRequire(h.Size <= static_cast<std::int64_t>(File.size()));
  return TBytes(File.begin() + h.Size, File.end());
}

void CheckSave(const TBytes &In, const TWMATag &Loaded)
{
  TWMATag tag(Loaded);
  tag.SetText("Title", kTitle);
  TMemoryStream content{TBytes(In)};
  TRewritePlan plan;
  const int code = tag.PlanSave(content, plan);
  if (code != wmaOk) {
    FuzzRequire(code == wmaTooLarge && plan.ChangesNothing());
    return;
  }
  const TBytes out = FuzzApplied(In, plan);
  TMemoryStream result{TBytes(out)};
  TWMATag after;
  FuzzRequire(after.LoadFromStream(result) == wmaOk);
  FuzzRequire(StoredOf(after) == StoredOf(tag));
  FuzzRequire(AfterHeader(out) == AfterHeader(In));
  TRewritePlan again;
  FuzzRequire(after.PlanSave(result, again) == wmaOk && again.ChangesNothing());
  tag.FinishSave(std::string());
  FuzzRequire(tag.PlanSave(result, again) == wmaOk && again.ChangesNothing());
}

void CheckRemove(const TBytes &In, const TWMATag &Loaded)
{
  TMemoryStream content{TBytes(In)};
  TRewritePlan plan;
  const int code = TWMATag::PlanRemove(content, plan);
  if (code != wmaOk) {
    FuzzRequire(code == wmaDamaged || code == wmaProtected || code == wmaTooLarge);
    FuzzRequire(plan.ChangesNothing());
    return;
  }
  const TBytes out = FuzzApplied(In, plan);
  TMemoryStream result{TBytes(out)};
  TWMATag removed;
  FuzzRequire(removed.LoadFromStream(result) == wmaOk);
  for (const auto &f : removed.Frames) FuzzRequire(TWMATag::IsPseudoAttribute(f->Name) || TWMATag::IsEncoderAttribute(f->Name));
  FuzzRequire(KeptOf(removed) == KeptOf(Loaded));
  FuzzRequire(AfterHeader(out) == AfterHeader(In));
}

} // namespace

int FuzzASFHeader(const std::uint8_t *Data, std::size_t Size)
{
  const TBytes in(Data, Data + Size);
  TReadMemoryStream stream(Data, static_cast<std::int64_t>(Size));
  TWMATag tag;
  const int code = tag.LoadFromStream(stream);
  FuzzRequire(code == wmaOk || code == wmaDamaged || code == wmaNotASF);
  // A picture record is 12 bytes longer than the value on disk; every other value at most as long.
  for (const auto &f : tag.Frames) FuzzRequire(f->Stream.size() <= Size + 16);
  (void)tag.GetText("Title");
  (void)tag.PlayTime();
  for (int i = 0; i < tag.Count(); ++i) {
    std::string mime, description;
    std::int64_t size = 0;
    std::uint8_t type = 0;
    if (tag.GetCoverArtInfo(i, mime, size, description, type) == 1) FuzzRequire(size >= 0 && static_cast<std::size_t>(size) <= Size);
  }

  TMemoryStream content{TBytes(in)};
  TRewritePlan plan;
  if (code == wmaNotASF) {
    tag.SetText("Title", kTitle);
    FuzzRequire(tag.PlanSave(content, plan) == wmaNotASF && plan.ChangesNothing());
    FuzzRequire(TWMATag::PlanRemove(content, plan) == wmaNotASF && plan.ChangesNothing());
    return 0;
  }
  FuzzRequire(tag.PlanSave(content, plan) == wmaOk && plan.ChangesNothing());
  if (code == wmaDamaged || tag.Protected()) {
    TWMATag changed(tag);
    changed.SetText("Title", kTitle);
    const int saved = changed.PlanSave(content, plan);
    FuzzRequire(plan.ChangesNothing());
    // A title the header already holds is no change.
    FuzzRequire(saved == (code == wmaDamaged && !tag.Protected() ? wmaDamaged : wmaProtected) || saved == wmaOk);
  } else {
    CheckSave(in, tag);
  }
  CheckRemove(in, tag);
  return 0;
}

CORVELLA_FUZZ_TARGET("fuzz_asf_header", FuzzASFHeader)
