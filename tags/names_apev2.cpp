// The container's two-way copy between generic entries and the items of an APEv2 tag
// (TAPEv2Tag), and the APEv2 row of the format table.
//
// An item's key is the entry's name as it stands (no name table). Every value of a text item
// (several are separated by 0x00) is an entry of its own; a track item "3/12" is the entries
// TRACKNUMBER and TOTALTRACKS, and a number and its total are joined again on saving, into the
// item "TRACK" and the disc item. Saving writes only the names whose entries changed since the
// load: an item nobody changed keeps its key, flags and bytes. Pictures are the binary items the
// tag recognises as pictures; a loaded picture keeps its key, a new one is "Cover Art (Front)"
// (or the key of its picture type), each key used once.

#include <algorithm>
#include <array>

#include "tags/ape/apev2_tag.h"
#include "tags/native_format.h"
#include "tags/picture/picture_format.h"
#include "tags/tag_container.h"
#include "tags/text/lines.h"
#include "tags/text/number_total.h"
#include "tags/text/text.h"
#include "tags/vorbis/vorbis_comments.h"

namespace {

bool IsListName(const std::string &UpperName) { return UpperName == "TIPL" || UpperName == "TMCL"; }

// A number and its total, kept in one item "3/12".
struct TNumberGroup {
  std::array<const char *, 2> Numbers;  // the entry names of the number, in the order they are read
  const char *Total;
  std::array<const char *, 2> Items;    // the item keys the joined value goes to: an existing one, else the first
};
constexpr TNumberGroup kTrackGroup{{"TRACKNUMBER", "TRACK"}, "TOTALTRACKS", {"TRACK", nullptr}};
constexpr TNumberGroup kDiscGroup{{"DISCNUMBER", "DISC"}, "TOTALDISCS", {"DISCNUMBER", "DISC"}};

bool InGroup(const TNumberGroup &G, const std::string &UpperName)
{
  return UpperName == G.Numbers[0] || UpperName == G.Numbers[1] || UpperName == G.Total;
}

// The keys pictures get by their picture type, the usual APEv2 names ("Cover Art (Front)" for 3).
constexpr std::array<const char *, 21> kCoverKeys = {
  "Cover Art (Other)", "Cover Art (Png Icon)", "Cover Art (Icon)", "Cover Art (Front)", "Cover Art (Back)",
  "Cover Art (Leaflet)", "Cover Art (Media)", "Cover Art (Lead Artist)", "Cover Art (Artist)",
  "Cover Art (Conductor)", "Cover Art (Band)", "Cover Art (Composer)", "Cover Art (Lyricist)",
  "Cover Art (Recording Location)", "Cover Art (During Recording)", "Cover Art (During Performance)",
  "Cover Art (Video Capture)", "Cover Art (Fish)", "Cover Art (Illustration)", "Cover Art (Band Logotype)",
  "Cover Art (Publisher Logotype)",
};

// The picture type a key stands for: an ID3v2 picture-type description, else one of the usual
// APEv2 cover keys; 0 ("other") when it is neither.
std::int32_t CoverTypeOfKey(const std::string &Key)
{
  if (const int type = PictureTypeFromDescription(Key); type != 0) return type;
  for (std::size_t i = 0; i < kCoverKeys.size(); ++i)
    if (SameText(Key, kCoverKeys[i])) return static_cast<std::int32_t>(i);
  return 0;
}

// A key for a new picture item: that of its type ("other" and front covers both go to
// "Cover Art (Front)", the key players look for), made unique among the tag's keys.
std::string NewCoverKey(const TAPEv2Tag &Tag, std::int32_t CoverType)
{
  const bool front = CoverType <= 0 || CoverType == 3 || CoverType >= static_cast<std::int32_t>(kCoverKeys.size());
  const std::string base = front ? kCoverKeys[3] : kCoverKeys[static_cast<std::size_t>(CoverType)];
  std::string key = base;
  for (int n = 2; Tag.IndexOf(key) >= 0; ++n) key = base + " " + std::to_string(n);
  return key;
}

// The description a picture is written with. APEv2 writers name a picture by its file name, and
// readers take its format from the extension: a name whose image extension no longer fits the
// bytes (a picture replaced in the same place) gets the extension of the bytes.
std::string DescriptionFor(const TCoverArt &Art)
{
  const std::string &text = Art.Description;
  const std::size_t dot = text.find_last_of('.');
  if (dot == std::string::npos) return text;
  const std::string ext = AsciiLowerCase(text.substr(dot + 1));
  const struct {
    const char *Ext;
    TTagPictureFormat Format;
  } kExtensions[] = {{"jpg", tpfJPEG}, {"jpeg", tpfJPEG}, {"png", tpfPNG}, {"gif", tpfGIF}, {"bmp", tpfBMP}};
  const TTagPictureFormat actual = PicturePointerType(Art.Stream.Data().data(), static_cast<std::int64_t>(Art.Stream.Data().size()));
  bool imageName = false;
  for (const auto &e : kExtensions) {
    if (ext != e.Ext) continue;
    if (e.Format == actual) return text;
    imageName = true;
  }
  if (!imageName || actual == tpfUnknown || actual == tpfTIFF) return text;
  const char *right = actual == tpfJPEG ? "jpg" : actual == tpfPNG ? "png" : actual == tpfGIF ? "gif" : "bmp";
  return text.substr(0, dot + 1) + right;
}

// Names other formats give a value that APEv2 tags keep under another key: ID3v2's recording
// time and a Vorbis DATE are the year, which APEv2 readers look for as "Year".
struct TKeySynonym {
  const char *Name;
  const char *Key;
};
constexpr TKeySynonym kKeySynonyms[] = {{"RECORDINGDATE", "YEAR"}, {"DATE", "YEAR"}};

// The key an entry's values are written under: an item of its own name, else the synonym's
// item when no entry stands for that item any more (a tag loaded later took its place), else,
// for a new item, the synonym when no entry holds it, else the name itself.
std::string KeyFor(const TTags &Tags, const std::string &Name, const std::string &UpperName)
{
  const TAPEv2Tag &ape = Tags.APEv2Tag;
  if (ape.IndexOf(UpperName) >= 0) return Name;
  for (const TKeySynonym &s : kKeySynonyms)
    if (UpperName == s.Name && Tags.Exists(s.Key) < 0) {
      const int item = ape.IndexOf(s.Key);
      return item >= 0 ? ape.Frames[static_cast<std::size_t>(item)].Name : std::string(s.Key);
    }
  return Name;
}

void AddLoaded(TTags &Tags, std::size_t Item, const std::string &Name, const std::string &Value)
{
  Tags.Add(Name)->Value = Value;
  Tags.MarkNewEntriesLoaded(ttAPEv2, Item);
}

// The first value of the first entry among Names; empty when none.
std::string FirstEntryValue(const TTags &Tags, const std::array<const char *, 2> &Names)
{
  for (const char *n : Names)
    if (n && Tags.Exists(n) >= 0) return Tags.GetText(n);
  return std::string();
}

// Writes a number group's item when any of its entries changed.
void PrepareNumberGroup(TTags &Tags, const TNumberGroup &G, bool Changed)
{
  if (!Changed) return;
  TAPEv2Tag &ape = Tags.APEv2Tag;
  const std::string number = FirstEntryValue(Tags, G.Numbers);
  const std::string total = Tags.GetText(G.Total);
  const char *target = G.Items[0];
  for (const char *key : G.Items)
    if (key && ape.IndexOf(key) >= 0) {
      target = key;
      break;
    }
  // Items under the group's other names would hold an old value beside the new one.
  for (const char *name : {G.Numbers[0], G.Numbers[1], G.Total, G.Items[0], G.Items[1]})
    if (name && !SameText(name, target)) ape.SetValues(name, {});
  // A total without its number is no track or disc number.
  ape.SetValues(target, number.empty() ? std::vector<std::string>() : std::vector<std::string>{JoinNumberTotal(number, total)});
}

} // namespace

void TTags::LoadAPEv2Tags()
{
  const auto &frames = APEv2Tag.Frames;
  if (!OnlyParseCoverArts) {
    // This format's values replace those of formats mapped before it, name by name.
    for (const TAPEv2Frame &f : frames) {
      if (f.Format() != ffText) continue;
      RemoveFromList(f.Name);
      const std::string upper = AsciiUpperCase(f.Name);
      if ((upper == "TRACKNUMBER" || upper == "TRACK") && f.Values().front().find('/') != std::string::npos)
        for (const char *name : {"TRACKNUMBER", "TOTALTRACKS"}) RemoveFromList(name);
    }
    for (std::size_t i = 0; i < frames.size(); ++i) {
      const TAPEv2Frame &f = frames[i];
      if (f.Format() != ffText) continue;
      const std::string upper = AsciiUpperCase(f.Name);
      for (const std::string &value : f.Values()) {
        const std::size_t slash = value.find('/');
        if ((upper == "TRACKNUMBER" || upper == "TRACK") && slash != std::string::npos) {
          AddLoaded(*this, i, "TRACKNUMBER", value.substr(0, slash));
          AddLoaded(*this, i, "TOTALTRACKS", value.substr(slash + 1));
        } else if (IsListName(upper)) {
          AddLoaded(*this, i, f.Name, PairItemsToText(ParseCommentValueList(value)));
        } else {
          AddLoaded(*this, i, f.Name, value);
        }
      }
    }
  }
  if (ParseCoverArts && APEv2Tag.CoverArtCount() > 0) {
    DeleteAllCoverArts();
    for (const TAPEv2Frame &f : frames) {
      TAPEv2Picture p;
      if (!f.GetCoverArt(p)) continue;
      TCoverArt *art = AddCoverArt(f.Name);
      art->Stream.Data() = std::move(p.Data);
      art->Stream.SetPosition(0);
      art->Description = p.Description;
      art->PictureFormat = static_cast<TTagPictureFormat>(p.Format);
      art->MIMEType = PictureFormatMIMEType(art->PictureFormat);
      art->CoverType = CoverTypeOfKey(f.Name);
    }
  }
  Loaded = true;
}

int TTags::PrepareAPEv2Tag()
{
  TAPEv2Tag &ape = APEv2Tag;
  ape.UpperCaseFieldNamesToWrite = UpperCaseFieldNamesToWrite;
  const bool tagLoaded = ape.Loaded;
  const auto changed = [&](const TTag &E) { return !tagLoaded || !E.IsUnchanged(); };
  const auto groupChanged = [&](const TNumberGroup &G) {
    return std::any_of(Tags.begin(), Tags.end(), [&](const auto &t) { return InGroup(G, AsciiUpperCase(t->Name)) && changed(*t); });
  };

  std::vector<std::string> done;
  for (const auto &entry : Tags) {
    const std::string upper = AsciiUpperCase(entry->Name);
    if (InGroup(kTrackGroup, upper) || InGroup(kDiscGroup, upper) || !TAPEv2Tag::IsWritableKey(entry->Name) ||
        std::find(done.begin(), done.end(), upper) != done.end())
      continue;
    done.push_back(upper);
    std::vector<std::string> values;
    bool write = false;
    for (const auto &t : Tags) {
      // A value that reads "BINARY ..." stands for a binary item, not for its bytes.
      if (!SameText(t->Name, upper) || StartsText("BINARY", t->Value)) continue;
      write = write || changed(*t);
      values.push_back(IsListName(upper) ? BuildCommentValueList(PairItemsFromText(t->Value)) : t->Value);
    }
    if (write) ape.SetValues(KeyFor(*this, entry->Name, upper), values);
  }
  PrepareNumberGroup(*this, kTrackGroup, groupChanged(kTrackGroup));
  PrepareNumberGroup(*this, kDiscGroup, groupChanged(kDiscGroup));

  if (tagLoaded && !PicturesChanged()) return apeOk;
  // A loaded picture goes back under its own key; the others get the key of their type.
  std::vector<std::string> loadedKeys;
  for (const TAPEv2Frame &f : ape.Frames)
    if (f.IsCoverArt()) loadedKeys.push_back(f.Name);
  ape.DeleteAllCoverArts();
  for (const auto &c : CoverArts) {
    const auto own = std::find(loadedKeys.begin(), loadedKeys.end(), c->Name);
    std::string key;
    if (own != loadedKeys.end() && ape.IndexOf(c->Name) < 0) {
      key = c->Name;
      loadedKeys.erase(own);
    } else {
      key = NewCoverKey(ape, c->CoverType);
    }
    ape.AddCoverArtFrame(key, c->Stream.Data(), DescriptionFor(*c));
    c->Stream.SetPosition(0);
  }
  return apeOk;
}

namespace {

// The native side of deleting Entry: its value goes from every item of its name (the item with
// it, when it was the item's only value); a number or total that shares an item "3/12" takes
// the other with it, and the other's entry is written again on saving.
void DeleteAPEv2Entry(TTags &Tags, const std::string &UpperName, const TTag &Entry)
{
  TAPEv2Tag &ape = Tags.APEv2Tag;
  const TNumberGroup *group = InGroup(kTrackGroup, UpperName) ? &kTrackGroup : InGroup(kDiscGroup, UpperName) ? &kDiscGroup : nullptr;
  bool shared = false;
  for (int i = ape.Count() - 1; i >= 0; --i) {
    const TAPEv2Frame &f = ape.Frames[static_cast<std::size_t>(i)];
    if (f.Format() != ffText) continue;
    std::vector<std::string> values = f.Values();
    if (SameText(f.Name, UpperName)) {
      const auto hit = std::find_if(values.begin(), values.end(), [&](const std::string &v) { return SameText(v, Entry.Value); });
      if (hit == values.end()) continue;
      values.erase(hit);
      ape.SetValuesAt(i, values);
      continue;
    }
    // Without its number an item "3/12" goes; without its total the number is written alone
    // on saving.
    if (group && InGroup(*group, AsciiUpperCase(f.Name)) && values.front().find('/') != std::string::npos) {
      shared = true;
      if (UpperName != group->Total) ape.DeleteFrame(i);
    }
  }
  if (!shared) return;
  for (auto &t : Tags.Tags)
    if (&*t != &Entry && InGroup(*group, AsciiUpperCase(t->Name))) t->Origin = TTagOrigin();
}

int PlanAPEv2Save(TTags &T, TStream &Content, TRewritePlan &Plan)
{
  const int code = T.PrepareAPEv2Tag();
  return code != apeOk ? code : T.APEv2Tag.PlanSave(Content, Plan);
}

bool APEv2Loaded(const TTags &T) { return T.APEv2Tag.Loaded || T.APEv2Tag.Damaged(); }

constexpr std::array<TNativeCode, 11> kAPEv2Codes = {{
  {apeOk, tagsOk},
  {apeNoTag, tagsNoTag},
  {apeFileNotFound, tagsFileNotFound},
  {apeUpdateFailed, tagsUpdateFailed},
  {apeWriteFailed, tagsWriteFailed},
  {apeDamaged, tagsCorrupt},
  {apeVersion, tagsVersionUnsupported},
  {apeFooterUnreadable, tagsWrongFileKind},
  {apeTooLarge, tagsSizeOverflow},
  {apeItemReadOnly, tagsItemReadOnly},
  {apeFailure, tagsUnsupported},
}};
constexpr std::array<int, 1> kAPEv2NothingToRemove = {apeNoTag};
constexpr std::array<TAudioContainerType, 4> kAPEv2ContentTypes = {actMonkey, actOptimFROG, actMusepack, actWavPack};

} // namespace

constinit const TNativeFormat kAPEv2Format = {
  .Type = ttAPEv2,
  .Load = [](TTags &T, TReadView &V) { return T.APEv2Tag.Load(V) == apeOk; },
  .IsLoaded = APEv2Loaded,
  .MapToEntries = [](TTags &T) { T.LoadAPEv2Tags(); },
  .PicturesOnly = TPicturesOnlyLoad::ploMapped,
  .Extent = [](const TTags &T) { return TTagExtent{.AtEnd = T.APEv2Tag.LoadedSize()}; },
  .PlanSave = PlanAPEv2Save,
  .FinishSave = [](TTags &T, const std::string &FileName) { T.APEv2Tag.FinishSave(FileName); },
  .AutomaticSave = TAutomaticSave::asTagsTheFile,
  .ContentTypes = kAPEv2ContentTypes,
  .PlanRemove = TAPEv2Tag::PlanRemove,
  .NothingToRemove = kAPEv2NothingToRemove,
  .Codes = kAPEv2Codes,
  .DeleteEntry = DeleteAPEv2Entry,
  .Clear = [](TTags &T) { T.APEv2Tag.Clear(); },
  .Assign = [](TTags &T, const TTags &S) { return T.APEv2Tag.Assign(S.APEv2Tag); },
  .Size = [](const TTags &T) { return T.APEv2Tag.CalculateTagSize(); },
};
