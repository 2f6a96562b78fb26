// Fuzz target: the WAV/RF64 tag of any bytes, loaded, saved with a new title and removed.
// Properties:
// - Loading gives a load code; the items, the audio's place and size lie inside the input.
// - Bytes that are no WAVE form make a save and a removal refuse with an empty plan.
// - An untouched tag plans nothing. A damaged tag, once changed, is refused with an empty plan.
// - Given a title, a save either is refused for damage or size, with an empty plan, or plans a
//   change that (composed as the container composes it, and as it is: the same bytes) gives a
//   form that passes the strict check, holds the audio bytes unchanged, loads whole with the
//   items of the load (empty ones dropped, the title set) and bext and cart as they were, and
//   whose tag, saved again unchanged, plans nothing.
// - A removal either is refused with an empty plan or gives a form that passes the strict check,
//   with the audio bytes unchanged, the chunks of the input other than INFO lists, bext and
//   cart in their order, and no tag.

#include <algorithm>
#include <span>
#include <string>
#include <vector>

#include "fuzz/fuzz_entry.h"
#include "fuzz/fuzz_plans.h"
#include "tags/id3/skip_id3v2.h"
#include "tags/riff/chunk_walker.h"
#include "tags/riff/wav_tag.h"
#include "tags/streams/rewrite_plan.h"
#include "tags/streams/stream.h"

namespace {

constexpr const char *kTitle = "fuzz title";

TBytes AudioOf(const TBytes &File, const TWAVTag &Tag)
{
  const auto from = static_cast<std::size_t>(Tag.SampleDataStartPosition);
  const auto size = static_cast<std::size_t>(Tag.SampleDataSize);
  FuzzRequire(from <= File.size() && size <= File.size() - from);
  return TBytes(File.begin() + static_cast<std::ptrdiff_t>(from), File.begin() + static_cast<std::ptrdiff_t>(from + size));
}

struct TItem {
  std::string Name;
  TBytes Value;
  bool operator==(const TItem &) const = default;
};

std::vector<TItem> ItemsOf(const TWAVTag &Tag)
{
  std::vector<TItem> items;
  for (const auto &f : Tag.Frames) items.push_back(TItem{f->Name, f->Stream});
  return items;
}

// The items once the title is set (an item that holds it already keeps its bytes) and empty
// items dropped.
std::vector<TItem> WithTitle(std::vector<TItem> Items)
{
  TWAVTagFrame title;
  title.SetText(kTitle);
  const auto first = std::find_if(Items.begin(), Items.end(), [](const TItem &I) { return I.Name == "INAM"; });
  if (first == Items.end()) {
    Items.push_back(TItem{"INAM", title.Stream});
  } else {
    TWAVTagFrame old;
    old.Stream = first->Value;
    if (old.GetText() != kTitle) first->Value = title.Stream;
    Items.erase(std::remove_if(first + 1, Items.end(), [](const TItem &I) { return I.Name == "INAM"; }), Items.end());
  }
  std::erase_if(Items, [](const TItem &I) { return I.Value.empty(); });
  // Names are written as four characters: shorter ones padded with spaces.
  for (TItem &i : Items) {
    i.Name = i.Name.substr(0, 4);
    i.Name.resize(4, ' ');
  }
  return Items;
}

// The ids of the chunks of the strictly checked form in File, with the INFO lists marked.
bool FormChunks(const TBytes &File, std::vector<std::string> &IDs)
{
  TMemoryStream s{TBytes(File)};
  TChunkForm form;
  // The form may stand behind an ID3v2 tag that lies within the file.
  std::int64_t start = ID3v2TagSizeFromHeader(File.data(), File.size());
  if (start > static_cast<std::int64_t>(File.size())) start = 0;
  if (ReadChunkFormHeader(s, start, form) != cfcOk || CheckChunkForm(s, form) != cfcOk) return false;
  IDs.clear();
  for (const TChunk &c : form.Chunks) {
    const bool info = c.ID == "LIST" && c.DataSize() >= 4 &&
                      std::equal(File.begin() + c.DataOffset, File.begin() + c.DataOffset + 4, "INFO");
    IDs.push_back(info ? "LIST/INFO" : c.ID);
  }
  return true;
}

bool IsTagChunk(const std::string &ID) { return ID == "LIST/INFO" || ID == "bext" || ID == "cart"; }

void CheckSave(const TBytes &In, const TWAVTag &Loaded)
{
  TWAVTag tag(Loaded);
  tag.SetText("INAM", kTitle);
  TMemoryStream content{TBytes(In)};
  TRewritePlan plan;
  const int code = tag.PlanSave(content, plan);
  if (code != wavOk) {
    FuzzRequire(code == wavDamaged || code == wavSizeOverflow);
    FuzzRequire(plan.ChangesNothing());
    return;
  }
  const TBytes out = FuzzApplied(In, plan);
  std::vector<std::string> ids;
  FuzzRequire(FormChunks(out, ids));
  TMemoryStream result{TBytes(out)};
  TWAVTag after;
  FuzzRequire(after.LoadFromStream(result) == wavOk);
  FuzzRequire(ItemsOf(after) == WithTitle(ItemsOf(Loaded)));
  // bext and cart as they were, with the version a written chunk gets and its text terminated;
  // one that is all zeros is not written.
  if (Loaded.HaveBEXT()) {
    TAG_BEXT want = Loaded.BEXT.BEXTChunk;
    if (want.Version == 0) want.Version = 1;
    FuzzRequire(after.BEXT.Loaded && after.BEXT.BEXTChunk == want);
    FuzzRequire(after.BEXT.GetCodingHistory() == Loaded.BEXT.GetCodingHistory());
  } else {
    FuzzRequire(!after.BEXT.Loaded);
  }
  if (Loaded.HaveCART()) {
    TCART want = Loaded.CART;
    if (want.GetVersion().empty()) want.SetVersion("0101");
    FuzzRequire(after.CART.Loaded && after.CART.CARTChunk == want.CARTChunk);
    FuzzRequire(after.CART.GetTagText() == Loaded.CART.GetTagText());
  } else {
    FuzzRequire(!after.CART.Loaded);
  }
  FuzzRequire(AudioOf(out, after) == AudioOf(In, Loaded));
  FuzzRequire(std::count(ids.begin(), ids.end(), "LIST/INFO") == 1);
  tag.FinishSave(std::string());
  TRewritePlan again;
  FuzzRequire(tag.PlanSave(result, again) == wavOk && again.ChangesNothing());
  FuzzRequire(after.PlanSave(result, again) == wavOk && again.ChangesNothing());
}

void CheckRemove(const TBytes &In, const TWAVTag &Loaded)
{
  TMemoryStream content{TBytes(In)};
  TRewritePlan plan;
  const int code = TWAVTag::PlanRemove(content, plan);
  std::vector<std::string> before;
  if (code != wavOk) {
    FuzzRequire(code == wavDamaged || code == wavNotWAVE);
    FuzzRequire(plan.ChangesNothing());
    return;
  }
  FuzzRequire(FormChunks(In, before));
  const TBytes out = FuzzApplied(In, plan);
  std::vector<std::string> after;
  FuzzRequire(FormChunks(out, after));
  std::erase_if(before, IsTagChunk);
  FuzzRequire(after == before);
  TMemoryStream result{TBytes(out)};
  TWAVTag removed;
  FuzzRequire(removed.LoadFromStream(result) != wavNotWAVE);
  FuzzRequire(removed.Count() == 0 && !removed.BEXT.Loaded && !removed.CART.Loaded);
  if (!Loaded.Damaged()) FuzzRequire(AudioOf(out, removed) == AudioOf(In, Loaded));
}

} // namespace

int FuzzWAVTag(const std::uint8_t *Data, std::size_t Size)
{
  const TBytes in(Data, Data + Size);
  TReadMemoryStream stream(Data, static_cast<std::int64_t>(Size));
  TWAVTag tag;
  const int code = tag.LoadFromStream(stream);
  FuzzRequire(code == wavOk || code == wavDamaged || code == wavNotWAVE);
  FuzzRequire(tag.CalculateTotalFramesSize() <= static_cast<std::int64_t>(Size) + 8 * tag.Count());
  FuzzRequire(tag.SampleDataStartPosition <= Size && tag.SampleDataSize <= Size - tag.SampleDataStartPosition);
  (void)tag.GetText("INAM");
  (void)tag.BEXT.GetUMID();
  (void)tag.CART.GetTagText();

  TMemoryStream content{TBytes(in)};
  TRewritePlan plan;
  if (code == wavNotWAVE) {
    tag.SetText("INAM", kTitle);
    FuzzRequire(tag.PlanSave(content, plan) == wavNotWAVE && plan.ChangesNothing());
    FuzzRequire(TWAVTag::PlanRemove(content, plan) == wavNotWAVE && plan.ChangesNothing());
    return 0;
  }
  FuzzRequire(tag.PlanSave(content, plan) == wavOk && plan.ChangesNothing());
  if (code == wavDamaged) {
    TWAVTag changed(tag);
    changed.SetText("INAM", kTitle);
    const int saved = changed.PlanSave(content, plan);
    // A title the damaged tag already holds is no change.
    FuzzRequire((saved == wavDamaged && plan.ChangesNothing()) || (saved == wavOk && plan.ChangesNothing()));
  } else {
    CheckSave(in, tag);
  }
  CheckRemove(in, tag);
  return 0;
}

CORVELLA_FUZZ_TARGET("fuzz_wav_tag", FuzzWAVTag)
