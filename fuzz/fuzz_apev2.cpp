// Fuzz target: the APEv2 tag at the end of any bytes, loaded, saved with a new title and removed.
// The footer's fields are read here straight from the input, so that each property is checked
// against the bytes and not against the library's own reading of them. Properties:
// - Loading gives one of the load codes; a footer found lies inside the input; the items are
//   bounded by their region (10 bytes at least each; a version 2000 tag that loads whole holds
//   exactly the bytes its size field gives its items); the tag as loaded lies inside the input.
// - A load that is refused (damaged, another version) makes a save and a removal refuse with an
//   empty plan, also after a change.
// - A tag that loads whole keeps, unchanged, an empty plan. Given a title, its save (composed as
//   the container composes it, and the plan as it is, applied to copies: the same bytes) leaves
//   every byte before the old tag and every byte after it (Lyrics3 block, ID3v1 record) as it
//   was; the result loads whole with the items of the load, the title's item changed (or added
//   at the end) and empty items dropped; the same save planned again, by a tag loaded from the
//   result or by the saving tag once FinishSave recorded it, changes nothing. A save is refused
//   only for a header the footer announces but that is not there, or a read-only title item.
// - A removal leaves exactly the bytes before the tag followed by those after it. A tag found in
//   the result can only be an older one whose footer lay in front of the removed tag (right in
//   front of it, or in front of an ID3v1 record that stood between the two). A removal is
//   refused only for a missing header or reserved footer bytes that are not zero.
// - Without a tag, a title makes a new tag in front of the trailing blocks (or at the end), and
//   the result loads with that one item.

#include <algorithm>
#include <span>
#include <string_view>

#include "fuzz/fuzz_entry.h"
#include "tags/ape/apev2_tag.h"
#include "tags/streams/rewrite_plan.h"
#include "tags/streams/stream.h"

namespace {

constexpr std::int64_t kFooter = 32;
constexpr std::int64_t kSmallestItem = 10;  // sizes, flags, a key of one byte and its 0x00
constexpr std::string_view kTitleKey = "Title";
constexpr std::string_view kTitle = "fuzz title";

struct TInput {
  const std::uint8_t *Data;
  std::int64_t Size;

  bool Has(std::int64_t At, std::string_view Magic) const
  {
    return At >= 0 && At + static_cast<std::int64_t>(Magic.size()) <= Size &&
           std::equal(Magic.begin(), Magic.end(), Data + At);
  }
  std::uint32_t U32(std::int64_t At) const
  {
    return std::uint32_t{Data[At]} | std::uint32_t{Data[At + 1]} << 8 | std::uint32_t{Data[At + 2]} << 16 |
           std::uint32_t{Data[At + 3]} << 24;
  }
  TBytes Range(std::int64_t From, std::int64_t To) const { return TBytes(Data + From, Data + To); }
};

// The footer where LocateAPEv2Tag found one, read from the input bytes.
struct TFooterFacts {
  std::int64_t FooterPos = 0;
  std::int64_t End = 0;        // the footer's end
  std::uint32_t Version = 0, Size = 0, Count = 0, Flags = 0;
  bool ReservedZero = false;
  std::int64_t ItemsStart = 0;
  std::int64_t Start = 0;      // the header, or the first item
  bool HeaderThere = false;    // no header announced, or "APETAGEX" where it should be
};

TFooterFacts ReadFacts(const TInput &In, const TAPEv2Location &Where)
{
  TFooterFacts f;
  f.FooterPos = Where.FooterPos;
  f.End = Where.FooterPos + kFooter;
  f.Version = In.U32(f.FooterPos + 8);
  f.Size = In.U32(f.FooterPos + 12);
  f.Count = In.U32(f.FooterPos + 16);
  f.Flags = In.U32(f.FooterPos + 20);
  f.ReservedZero = std::all_of(In.Data + f.FooterPos + 24, In.Data + f.End, [](std::uint8_t b) { return b == 0; });
  f.ItemsStart = f.End - f.Size;
  const bool header = (f.Flags & kAPEv2FlagHasHeader) != 0;
  f.Start = f.ItemsStart - (header ? kAPEv2HeaderBytes : 0);
  f.HeaderThere = !header || In.Has(f.Start, "APETAGEX");
  return f;
}

struct TItem {
  std::string Key;
  std::uint32_t Flags = 0;
  TBytes Value;
  bool operator==(const TItem &) const = default;
};

std::vector<TItem> ItemsOf(const TAPEv2Tag &Tag)
{
  std::vector<TItem> items;
  for (const TAPEv2Frame &f : Tag.Frames) items.push_back(TItem{f.Name, f.Flags, f.Value});
  return items;
}

bool SameKey(std::string_view A, std::string_view B)
{
  const auto fold = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
  return A.size() == B.size() && std::equal(A.begin(), A.end(), B.begin(), [&](char a, char b) { return fold(a) == fold(b); });
}

bool ReadOnly(const TItem &I) { return (I.Flags & kAPEv2ItemReadOnly) != 0; }

// What a tag of Items holds once it was given the title and saved: the first item of the key
// takes it as text (later ones of the key go), else a new item ends the list; empty items go.
// False when a read-only item stands in the way.
bool WithTitle(std::vector<TItem> Items, std::vector<TItem> &Out)
{
  const TBytes title(kTitle.begin(), kTitle.end());
  const auto first = std::find_if(Items.begin(), Items.end(), [](const TItem &I) { return SameKey(I.Key, kTitleKey); });
  if (first == Items.end()) {
    Items.push_back(TItem{std::string(kTitleKey), 0, title});
  } else {
    const bool sameText = ((first->Flags >> 1) & 3u) == aitText && first->Value == title;
    if (ReadOnly(*first) && !sameText) return false;
    for (auto later = first + 1; later != Items.end(); ++later)
      if (SameKey(later->Key, kTitleKey) && ReadOnly(*later)) return false;
    first->Value = title;
    first->Flags &= ~(3u << 1);
    Items.erase(std::remove_if(first + 1, Items.end(), [](const TItem &I) { return SameKey(I.Key, kTitleKey); }),
                Items.end());
  }
  std::erase_if(Items, [](const TItem &I) { return I.Value.empty() && !ReadOnly(I); });
  Out = std::move(Items);
  return true;
}

std::int64_t StoredBytes(const std::vector<TItem> &Items)
{
  std::int64_t n = 0;
  for (const TItem &i : Items) n += 9 + static_cast<std::int64_t>(i.Key.size() + i.Value.size());
  return n;
}

// Plan applied to a copy of the input, once composed as the container composes it and once as
// it is: both must give the same bytes.
TBytes Applied(const TInput &In, const TRewritePlan &Plan)
{
  TRewritePlan composed;
  FuzzRequire(ComposePlans(In.Size, std::span<const TRewritePlan>(&Plan, 1), composed));
  TMemoryStream out(In.Range(0, In.Size));
  FuzzRequire(ApplyPlanToStream(out, composed) == rwOk);
  TMemoryStream direct(In.Range(0, In.Size));
  FuzzRequire(ApplyPlanToStream(direct, Plan) == rwOk);
  FuzzRequire(out.Data() == direct.Data());
  return out.Data();
}

// Out is In's bytes before From, then Middle's size of anything, then In's bytes from To on.
bool Surrounds(const TInput &In, std::int64_t From, std::int64_t To, const TBytes &Out, std::int64_t Middle)
{
  const auto from = static_cast<std::size_t>(From);
  const auto tail = static_cast<std::size_t>(In.Size - To);
  return static_cast<std::int64_t>(Out.size()) == From + Middle + (In.Size - To) &&
         std::equal(In.Data, In.Data + from, Out.begin()) && std::equal(In.Data + To, In.Data + In.Size, Out.end() - static_cast<std::ptrdiff_t>(tail));
}

void CheckLoaded(const TInput &In, const TAPEv2Tag &Tag, int Code, const TAPEv2Location &Where)
{
  FuzzRequire(Code == apeOk || Code == apeNoTag || Code == apeDamaged || Code == apeVersion ||
              Code == apeFooterUnreadable);
  FuzzRequire(Where.FileSize == In.Size && Where.TrailingStart >= 0 && Where.TrailingStart <= In.Size);
  if (Where.Found) {
    FuzzRequire(Where.FooterPos >= 0 && Where.FooterPos + kFooter <= In.Size && In.Has(Where.FooterPos, "APETAGEX"));
    FuzzRequire(Where.FooterPos + kFooter == In.Size || Where.FooterPos + kFooter == Where.TrailingStart);
  }
  FuzzRequire((Code == apeNoTag) == !Where.Found);
  if (Code == apeNoTag || Code == apeVersion || Code == apeFooterUnreadable) FuzzRequire(Tag.Count() == 0);
  if (Code == apeNoTag) return;
  const TFooterFacts f = ReadFacts(In, Where);
  const std::int64_t region = std::max<std::int64_t>(0, std::min<std::int64_t>(f.FooterPos, f.FooterPos - f.ItemsStart));
  FuzzRequire(static_cast<std::int64_t>(Tag.Count()) * kSmallestItem <= region);
  for (const TAPEv2Frame &frame : Tag.Frames) {
    FuzzRequire(!frame.Name.empty() && frame.Name.size() <= kAPEv2MaxKeyBytes);
    (void)frame.Values();
    TAPEv2Picture picture;
    if (frame.IsCoverArt()) FuzzRequire(frame.GetCoverArt(picture) && picture.Data.size() < frame.Value.size());
  }
  (void)Tag.GetText(std::string(kTitleKey));
  FuzzRequire(Tag.CoverArtCount() <= Tag.Count());
  // Version 1 text is turned into UTF-8 and may grow; version 2 items are the region's bytes.
  if (Code == apeOk && f.Version == 2000) FuzzRequire(Tag.CalculateTotalFramesSize() == region);
  if (Code == apeOk) {
    FuzzRequire(!Tag.Damaged() && Tag.Size == f.Size && Tag.Flags == f.Flags && Tag.Version == f.Version);
    FuzzRequire(Tag.LoadedSize() >= 0 && Tag.LoadedSize() <= f.End);
  }
}

// A refused load: neither a save (with a change or without) nor a removal plans anything.
void CheckRefused(const TInput &In, TAPEv2Tag &Tag)
{
  TReadMemoryStream stream(In.Data, In.Size);
  TRewritePlan plan;
  FuzzRequire(Tag.PlanSave(stream, plan) != apeOk && plan.ChangesNothing());
  Tag.SetText(std::string(kTitleKey), std::string(kTitle));
  FuzzRequire(Tag.PlanSave(stream, plan) != apeOk && plan.ChangesNothing());
  FuzzRequire(TAPEv2Tag::PlanRemove(stream, plan) != apeOk && plan.ChangesNothing());
}

void CheckAdded(const TInput &In, TAPEv2Tag &Tag, const TAPEv2Location &Where)
{
  TReadMemoryStream stream(In.Data, In.Size);
  TRewritePlan plan;
  FuzzRequire(TAPEv2Tag::PlanRemove(stream, plan) == apeNoTag && plan.ChangesNothing());
  FuzzRequire(Tag.SetText(std::string(kTitleKey), std::string(kTitle)));
  FuzzRequire(Tag.PlanSave(stream, plan) == apeOk && !plan.ChangesNothing());
  const std::vector<TItem> want = {TItem{std::string(kTitleKey), 0, TBytes(kTitle.begin(), kTitle.end())}};
  const TBytes out = Applied(In, plan);
  FuzzRequire(Surrounds(In, Where.TrailingStart, Where.TrailingStart, out, 2 * kFooter + StoredBytes(want)));
  TMemoryStream result(out);
  TAPEv2Tag after;
  FuzzRequire(after.LoadFromStream(result) == apeOk && ItemsOf(after) == want);
}

void CheckSave(const TInput &In, const TFooterFacts &F)
{
  TReadMemoryStream stream(In.Data, In.Size);
  TAPEv2Tag tag;
  FuzzRequire(tag.LoadFromStream(stream) == apeOk);
  const std::vector<TItem> loaded = ItemsOf(tag);
  TRewritePlan plan;

  // Untouched, a tag whose items are all kept plans nothing.
  const bool dropsNothing = std::none_of(loaded.begin(), loaded.end(), [](const TItem &I) { return I.Value.empty() && !ReadOnly(I); });
  if (!loaded.empty() && dropsNothing) {
    TAPEv2Tag untouched;
    FuzzRequire(untouched.LoadFromStream(stream) == apeOk);
    const int rc = untouched.PlanSave(stream, plan);
    FuzzRequire(rc == (F.HeaderThere ? apeOk : apeDamaged) && plan.ChangesNothing());
  }

  std::vector<TItem> want;
  const bool allowed = WithTitle(loaded, want);
  tag.SetText(std::string(kTitleKey), std::string(kTitle));
  const int rc = tag.PlanSave(stream, plan);
  if (!allowed) {
    FuzzRequire(rc == apeItemReadOnly && plan.ChangesNothing());
    return;
  }
  if (!F.HeaderThere) {
    FuzzRequire(rc == apeDamaged && plan.ChangesNothing());
    return;
  }
  FuzzRequire(rc == apeOk);
  if (plan.ChangesNothing()) {
    FuzzRequire(want == loaded);
    return;
  }
  const TBytes out = Applied(In, plan);
  const std::int64_t tagBytes = 2 * kFooter + StoredBytes(want);
  FuzzRequire(Surrounds(In, F.Start, F.End, out, tagBytes));

  TMemoryStream result(out);
  TAPEv2Tag after;
  FuzzRequire(after.LoadFromStream(result) == apeOk && !after.Damaged() && after.Version == 2000);
  FuzzRequire(ItemsOf(after) == want && after.LoadedSize() == tagBytes);
  const TAPEv2Location there = LocateAPEv2Tag(result);
  FuzzRequire(there.Found && there.FooterPos + kFooter == F.Start + tagBytes);

  TRewritePlan again;
  FuzzRequire(after.PlanSave(result, again) == apeOk && again.ChangesNothing());
  tag.FinishSave(std::string());
  FuzzRequire(tag.PlanSave(result, again) == apeOk && again.ChangesNothing());
}

void CheckRemove(const TInput &In, const TFooterFacts &F)
{
  TReadMemoryStream stream(In.Data, In.Size);
  TRewritePlan plan;
  const int rc = TAPEv2Tag::PlanRemove(stream, plan);
  if (!F.HeaderThere || !F.ReservedZero) {
    FuzzRequire(((!F.HeaderThere && rc == apeDamaged) || (!F.ReservedZero && rc == apeFooterUnreadable)) &&
                plan.ChangesNothing());
    return;
  }
  FuzzRequire(rc == apeOk && !plan.ChangesNothing());
  const TBytes out = Applied(In, plan);
  FuzzRequire(Surrounds(In, F.Start, F.End, out, 0));
  TMemoryStream result(out);
  TAPEv2Tag after;
  const int code = after.LoadFromStream(result);
  const TAPEv2Location there = LocateAPEv2Tag(result);
  FuzzRequire((code == apeNoTag) == !there.Found);
  // An older tag in front (directly, or in front of an ID3v1 record that preceded the removed
  // tag) may show now: its footer lies in the bytes that were in front of the removed tag.
  if (there.Found) FuzzRequire(there.FooterPos + kFooter <= F.Start);
}

} // namespace

int FuzzAPEv2(const std::uint8_t *Data, std::size_t Size)
{
  const TInput in{Data, static_cast<std::int64_t>(Size)};
  TReadMemoryStream stream(Data, in.Size);
  const TAPEv2Location where = LocateAPEv2Tag(stream);
  TAPEv2Tag tag;
  const int code = tag.LoadFromStream(stream);
  CheckLoaded(in, tag, code, where);
  if (code == apeNoTag) {
    CheckAdded(in, tag, where);
    return 0;
  }
  if (code != apeOk) {
    CheckRefused(in, tag);
    return 0;
  }
  const TFooterFacts facts = ReadFacts(in, where);
  CheckSave(in, facts);
  CheckRemove(in, facts);
  return 0;
}

CORVELLA_FUZZ_TARGET("fuzz_apev2", FuzzAPEv2)
