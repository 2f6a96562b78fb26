// The container's two-way copy between generic entries and the items of an MP4 file (TMP4Tag),
// and the MP4 row of the format table.
//
// Loading gives one entry per value of every item with a generic name, of every free-form
// "----" item (under its name text), and the values the special items hold (genre, media kind,
// track and disc with their totals, purchase country), plus the Windows Media attributes of an
// "Xtra" atom that have a name here. Saving writes only the names whose entries changed since
// the load: an item nobody changed keeps its bytes (a full release date stays a full date, an
// integer item stays the integer it was).

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>

#include "tags/mp4/mp4_tag.h"
#include "tags/mp4/mp4_write.h"
#include "tags/native_format.h"
#include "tags/picture/picture_format.h"
#include "tags/tag_container.h"
#include "tags/text/lines.h"
#include "tags/text/text.h"

namespace {

// The mean the container writes free-form items with.
constexpr const char *kITunesMean = "com.apple.iTunes";

struct TAtomNamePair {
  const char *Atom;  // "\xA9nam" style: the byte A9, not its UTF-8 form
  const char *Name;
};

// Items and their generic names, both ways unless noted below.
constexpr TAtomNamePair kAtomNames[] = {
  {"\xA9" "ART", "ARTIST"}, {"\xA9" "nam", "TITLE"}, {"aART", "ALBUMARTIST"}, {"\xA9" "wrt", "COMPOSER"},
  {"\xA9" "alb", "ALBUM"}, {"cprt", "COPYRIGHT"}, {"\xA9" "grp", "GROUPING"}, {"\xA9" "day", "RELEASEDATE"},
  {"pgap", "GAPLESSPLAYBACK"}, {"cpil", "PARTOFCOMPILATION"}, {"tmpo", "BPM"}, {"SErg", "RATING"},
  {"tvnn", "TVNETWORK"}, {"tvsh", "SHOW"}, {"tven", "EPISODE"}, {"tvsn", "SEASONNUMBER"},
  {"tves", "EPISODENUMBER"}, {"hdvd", "HDVIDEO"}, {"desc", "DESCRIPTION"}, {"ldes", "LONGDESCRIPTION"},
  {"\xA9" "cmt", "COMMENT"}, {"stdo", "STUDIO"}, {"TPUB", "PUBLISHER"}, {"\xA9" "enc", "ENCODEDBY"},
  {"\xA9" "too", "ENCODERTOOL"}, {"TIPL", "TIPL"}, {"TMCL", "TMCL"}, {"\xA9" "lyr", "LYRICS"},
  {"soar", "ARTISTSORT"}, {"sonm", "TITLESORT"}, {"soaa", "ALBUMARTISTSORT"}, {"soal", "ALBUMSORT"},
  {"soco", "COMPOSERSORT"}, {"sosn", "SHOWSORT"}, {"pcst", "PODCAST"}, {"purl", "PODCASTURL"},
  {"keyw", "PODCASTKEYWORDS"}, {"catg", "PODCASTCATEGORY"}, {"apID", "PURCHASEACCOUNT"},
  {"akID", "PURCHASEACCOUNTTYPE"}, {"purd", "PURCHASEDATE"}, {"SEpc", "PLAYCOUNT"}, {"plID", "ITUNESALBUMID"},
  {"atID", "ITUNESARTISTID"}, {"cmID", "ITUNESCOMPOSERID"}, {"sfID", "ITUNESCOUNTRYID"}, {"geID", "ITUNESGENREID"},
  {"xid ", "XID"},
};

// Names accepted on saving beyond the pairs above.
constexpr TAtomNamePair kExtraSaveNames[] = {
  {"aART", "ALBUM ARTIST"}, {"\xA9" "day", "RELEASE DATE"}, {"\xA9" "day", "DATE_RELEASED"},
  {"\xA9" "day", "YEAR"}, {"cpil", "PART OF COMPILATION"},
};

// Items that have a load name but none for saving: their values are written as free-form items.
bool LoadOnly(std::string_view Atom) { return Atom == "SErg" || Atom == "SEpc" || Atom == "TPUB"; }

// Boolean items: a value of exactly "0" is false, any other true.
bool IsBooleanAtom(std::string_view Atom)
{
  return Atom == "pgap" || Atom == "cpil" || Atom == "hdvd" || Atom == "pcst";
}

// Windows Media attributes of an "Xtra" atom that give entries, and their entry names.
struct TXtraName {
  const char *Field;
  const char *Name;
};
constexpr TXtraName kXtraNames[] = {
  {"WM/AuthorURL", "AuthorURL"}, {"WM/PromotionURL", "PromotionURL"}, {"WM/SubTitle", "SubTitle"},
  {"WM/Category", "Category"}, {"WM/Producer", "Producer"}, {"WM/EncodedBy", "EncodedBy"},
  {"WM/Conductor", "Conductor"}, {"WM/ParentalRating", "ParentalRating"}, {"WM/Writer", "Writer"},
  {"WM/Director", "Director"}, {"WM/Publisher", "Publisher"}, {"WM/Mood", "Mood"},
  {"WM/ContentDistributor", "ContentDistributor"}, {"WM/InitialKey", "InitialKey"}, {"WM/Period", "Period"},
  {"WM/PartOfSet", "PartOfSet"}, {"WM/MediaClassPrimaryID", "MediaClassPrimaryID"},
  {"WM/MediaClassSecondaryID", "MediaClassSecondaryID"}, {"WM/WMContentID", "WMContentID"},
  {"WM/WMCollectionID", "WMCollectionID"}, {"WM/WMCollectionGroupID", "WMCollectionGroupID"},
};

bool IsTrackName(const std::string &Upper) { return Upper == "TRACKNUMBER" || Upper == "TRACK"; }
bool IsTrackTotalName(const std::string &Upper) { return Upper == "TOTALTRACKS" || Upper == "TRACKTOTAL"; }
bool IsDiscName(const std::string &Upper) { return Upper == "DISCNUMBER" || Upper == "DISC"; }
bool IsDiscTotalName(const std::string &Upper) { return Upper == "TOTALDISCS" || Upper == "DISCTOTAL"; }

// A whole number at the start of Text (after blanks), 0 when there is none; clamped to Max.
std::uint64_t LeadingNumber(std::string_view Text, std::uint64_t Max)
{
  while (!Text.empty() && (Text.front() == ' ' || Text.front() == '\t')) Text.remove_prefix(1);
  std::uint64_t v = 0;
  const auto [end, ec] = std::from_chars(Text.data(), Text.data() + Text.size(), v);
  (void)end;
  if (ec == std::errc::result_out_of_range) return Max;
  if (ec != std::errc()) return 0;
  return std::min(v, Max);
}

void AddLoaded(TTags &Tags, const std::string &Name, const std::string &Value)
{
  Tags.Add(Name)->Value = Value;
  Tags.MarkNewEntriesLoaded(ttMP4);
}

bool IsFreeForm(const TMP4Atom &A) { return A.ID() == TAtomName("----"); }

// Every "----" item named Name (ASCII case folding), whatever its mean.
std::vector<int> FreeFormItems(const TMP4Tag &Tag, std::string_view Name)
{
  std::vector<int> found;
  for (int i = 0; i < Tag.Count(); ++i) {
    const TMP4Atom &a = Tag.Atoms()[static_cast<std::size_t>(i)];
    if (IsFreeForm(a) && SameText(a.GetName(), Name)) found.push_back(i);
  }
  return found;
}

// The free-form items named Name become one item (in the place of the first) with the mean of
// the first (the container's when new) and one text data atom per value; no values: none.
void SetFreeForm(TMP4Tag &Tag, const std::string &Name, const std::vector<std::string> &Values)
{
  std::vector<int> found = FreeFormItems(Tag, Name);
  std::string mean = kITunesMean;
  if (!found.empty()) {
    const std::string old = Tag.Atoms()[static_cast<std::size_t>(found.front())].GetMean();
    if (!old.empty()) mean = old;
  }
  for (std::size_t i = found.size(); i-- > 1;) Tag.DeleteAtom(found[i]);
  if (Values.empty()) {
    if (!found.empty()) Tag.DeleteAtom(found.front());
    return;
  }
  TMP4Atom *a = found.empty() ? &Tag.AddAtom("----") : Tag.Atom(found.front());
  // An item holding these values already stays as it is.
  std::vector<std::string> have;
  for (const TMP4AtomData &d : a->Datas()) have.push_back(d.ValueText());
  if (have == Values && a->GetMean() == mean && a->GetName() == Name) return;
  a->Clear();
  a->SetCommonText(Name, mean, Values.front());
  for (std::size_t v = 1; v < Values.size(); ++v)
    a->AddData(kMP4TypeText, TBytes(Values[v].begin(), Values[v].end()));
}

// Deletes the values of items of type Atom (or free-form items named Name when Atom is empty)
// that equal Value: the data atom, or the item when it was its only one.
void DeleteItemValue(TMP4Tag &Tag, const TAtomName *Atom, const std::string &Name, const std::string &Value)
{
  for (int i = Tag.Count(); i-- > 0;) {
    TMP4Atom *a = Tag.Atom(i);
    const bool match = Atom ? a->ID() == *Atom : IsFreeForm(*a) && SameText(a->GetName(), Name);
    if (!match) continue;
    for (int d = a->Count(); d-- > 0;)
      if (a->Datas()[static_cast<std::size_t>(d)].ValueText() == Value) a->DeleteData(d);
    if (a->Count() == 0) Tag.DeleteAtom(i);
  }
}

} // namespace

std::string MP4AtomToTagName(const std::string &Atom)
{
  // Every atom name of the table is four bytes.
  if (Atom.size() != 4) return std::string();
  for (const TAtomNamePair &p : kAtomNames)
    if (std::memcmp(Atom.data(), p.Atom, 4) == 0) return p.Name;
  return std::string();
}

std::string TagNameToMP4Atom(const std::string &Name)
{
  const std::string upper = AsciiUpperCase(Name);
  for (const TAtomNamePair &p : kAtomNames)
    if (upper == p.Name && !LoadOnly(p.Atom)) return p.Atom;
  for (const TAtomNamePair &p : kExtraSaveNames)
    if (upper == p.Name) return p.Atom;
  return std::string();
}

void TTags::LoadMP4Tags()
{
  const TMP4Tag &mp4 = MP4Tag;
  const auto &atoms = mp4.Atoms();
  struct TSpecial {
    const char *Name;
    std::string Value;
  };
  std::vector<TSpecial> special;
  if (!OnlyParseCoverArts) {
    const auto number = [](std::uint16_t V) { return V != 0 ? std::to_string(V) : std::string(); };
    special = {{"GENRE", mp4.GetGenre()},          {"MEDIA", mp4.GetMediaType()},
               {"TRACKNUMBER", number(mp4.GetTrack())}, {"TOTALTRACKS", number(mp4.GetTotalTracks())},
               {"DISCNUMBER", number(mp4.GetDisc())},   {"TOTALDISCS", number(mp4.GetTotalDiscs())},
               {"PURCHASECOUNTRY", mp4.GetPurchaseCountry()}};
    // This format's values replace those of formats mapped before it, name by name.
    for (const TMP4Atom &a : atoms) {
      const std::string name = MP4AtomToTagName(a.ID().Raw());
      if (!name.empty()) RemoveFromList(name);
      else if (IsFreeForm(a) && !a.GetName().empty()) RemoveFromList(a.GetName());
    }
    for (const TSpecial &s : special) {
      if (s.Value.empty()) continue;
      RemoveFromList(s.Name);
      if (std::strcmp(s.Name, "TRACKNUMBER") == 0) RemoveFromList("TRACK");
      if (std::strcmp(s.Name, "DISCNUMBER") == 0) RemoveFromList("DISC");
    }
  }
  if (mp4.CoverArtCount() > 0) DeleteAllCoverArts();

  if (!OnlyParseCoverArts) {
    for (const TMP4Atom &a : atoms) {
      std::string name = MP4AtomToTagName(a.ID().Raw());
      if (name == "TIPL" || name == "TMCL") {
        AddLoaded(*this, name, PairItemsToText(a.GetList()));
        continue;
      }
      if (name.empty() && IsFreeForm(a)) name = a.GetName();
      if (name.empty()) continue;
      for (const TMP4AtomData &d : a.Datas()) AddLoaded(*this, name, d.ValueText());
    }
    for (const TSpecial &s : special)
      if (!s.Value.empty()) AddLoaded(*this, s.Name, s.Value);
    if (mp4.XtraCount() > 0) {
      std::uint64_t rating = 0;
      const std::string shared = mp4.GetTextXtra("WM/SharedUserRating", false);
      if (!shared.empty()) {
        rating = LeadingNumber(shared, 0xFFFFFFFFull);
        AddLoaded(*this, "SharedUserRating", std::to_string(rating * 255 / 99));
      }
      for (const TXtraName &x : kXtraNames) {
        const std::string value = mp4.GetTextXtra(x.Field, std::strcmp(x.Field, "WM/Category") == 0);
        if (!value.empty()) AddLoaded(*this, x.Name, value);
      }
    }
  }

  if (ParseCoverArts)
    for (int i = 0, count = mp4.CoverArtCount(); i < count; ++i) {
      TBytes data;
      std::uint32_t type = 0;
      TFileRange inFile;
      if (!mp4.GetCoverArt(i, data, type, &inFile)) continue;
      TCoverArt *art = AddCoverArt("Cover art " + std::to_string(i + 1));
      art->Stream.Data() = std::move(data);
      art->Stream.SetPosition(0);
      art->PictureFormat = PictureStreamType(&art->Stream);
      art->Stream.SetPosition(0);
      art->MIMEType = PictureFormatMIMEType(art->PictureFormat);
      art->CoverType = 3;
      if (!inFile.Empty()) {
        art->Stream.Data().clear();
        art->Deferred = inFile;
      }
    }
  Loaded = true;
}

int TTags::PrepareMP4Tag()
{
  TMP4Tag &mp4 = MP4Tag;
  mp4.PaddingToWrite = 4096;
  const bool loaded = mp4.Loaded();
  const auto changed = [&](const TTag &E) { return !loaded || !E.IsUnchanged(); };
  const auto anyChanged = [&](auto &&Names) {
    return std::any_of(Tags.begin(), Tags.end(), [&](const auto &t) { return Names(AsciiUpperCase(t->Name)) && changed(*t); });
  };
  const bool trackChanged = anyChanged([](const std::string &N) { return IsTrackName(N) || IsTrackTotalName(N); });
  const bool discChanged = anyChanged([](const std::string &N) { return IsDiscName(N) || IsDiscTotalName(N); });
  const auto firstText = [&](std::initializer_list<const char *> Names) {
    for (const char *n : Names) {
      const std::string v = GetText(n);
      if (!v.empty()) return v;
    }
    return std::string();
  };
  // A number with its total: "3/12" in the number's entry, or the total's own entry.
  const auto numberAndTotal = [&](std::initializer_list<const char *> Numbers, std::initializer_list<const char *> Totals,
                                  std::uint16_t &Number, std::uint16_t &Total) {
    const std::string value = firstText(Numbers);
    const std::size_t slash = value.find('/');
    Number = static_cast<std::uint16_t>(LeadingNumber(value.substr(0, slash), 0xFFFF));
    Total = static_cast<std::uint16_t>(
      LeadingNumber(slash != std::string::npos ? value.substr(slash + 1) : firstText(Totals), 0xFFFF));
  };
  if (trackChanged) {
    std::uint16_t track = 0, total = 0;
    numberAndTotal({"TRACKNUMBER", "TRACK"}, {"TOTALTRACKS", "TRACKTOTAL"}, track, total);
    mp4.SetTrack(track, total);
  }
  if (discChanged) {
    std::uint16_t disc = 0, total = 0;
    numberAndTotal({"DISCNUMBER", "DISC"}, {"TOTALDISCS", "DISCTOTAL"}, disc, total);
    mp4.SetDisc(disc, total);
  }

  std::vector<std::string> done;
  for (const auto &entry : Tags) {
    const std::string upper = AsciiUpperCase(entry->Name);
    if (std::find(done.begin(), done.end(), upper) != done.end()) continue;
    done.push_back(upper);
    if (IsTrackName(upper) || IsTrackTotalName(upper) || IsDiscName(upper) || IsDiscTotalName(upper)) continue;
    std::vector<std::string> values;
    bool write = false;
    for (const auto &t : Tags) {
      if (!SameText(t->Name, upper)) continue;
      write = write || changed(*t);
      if (!t->Value.empty()) values.push_back(t->Value);
    }
    if (!write) continue;
    const std::string first = values.empty() ? std::string() : values.front();
    if (upper == "GENRE") {
      mp4.SetGenre(first);
      continue;
    }
    if (upper == "MEDIA") {
      if (first.empty()) mp4.DeleteAllAtoms("stik");
      else mp4.SetMediaType(first);
      continue;
    }
    if (upper == "PURCHASECOUNTRY") {
      if (first.empty()) mp4.DeleteAllAtoms("sfID");
      else mp4.SetPurchaseCountry(first);
      continue;
    }
    const std::string atom = TagNameToMP4Atom(upper);
    if (atom.empty() || atom == "TIPL" || atom == "TMCL") {
      // A rating or play count read from an item without a save name goes to a free-form item;
      // so do the involved-people lists, which no other program reads as items of their own.
      if (upper == "RATING") mp4.DeleteAllAtoms("SErg");
      if (upper == "PLAYCOUNT") mp4.DeleteAllAtoms("SEpc");
      if (upper == "PUBLISHER") mp4.DeleteAllAtoms("TPUB");
      if (upper == "TIPL" || upper == "TMCL") mp4.DeleteAllAtoms(TAtomName(upper));
      SetFreeForm(mp4, entry->Name, values);
      continue;
    }
    const TAtomName name(atom);
    if (IsBooleanAtom(atom)) {
      mp4.SetBool(name, first != "0");
      continue;
    }
    // The items of that type become exactly the entries' values: one item each. One value for
    // one item of one value is set in it, which keeps its locale. An integer item keeps its type
    // and width (wider when the number needs it); text that is no number leaves it as it is.
    std::vector<std::string> had;
    const bool single = mp4.GetMultipleValuesMultipleAtoms(name, had) && had.size() == 1 && mp4.FindAtom(name)->Count() == 1;
    if (values.empty()) mp4.DeleteAllAtoms(name);
    else if (values.size() == 1 && single) mp4.SetText(name, first);
    else mp4.SetMultipleValuesMultipleAtoms(name, values);
  }

  // The container holds every picture's bytes by now (a save fetches those left in the file).
  if (!loaded || PicturesChanged()) {
    std::vector<TMP4CoverArt> pictures;
    for (const auto &c : CoverArts) pictures.push_back(TMP4CoverArt{c->Stream.Data(), 0, {}});
    mp4.SetCoverArts(pictures);
  }
  return mp4tOk;
}

void TTags::DeleteMP4Entry(const std::string &UpperName, const TTag &Entry)
{
  TMP4Tag &mp4 = MP4Tag;
  if (IsTrackName(UpperName)) return mp4.SetTrack(0, mp4.GetTotalTracks());
  if (IsTrackTotalName(UpperName)) return mp4.SetTrack(mp4.GetTrack(), 0);
  if (IsDiscName(UpperName)) return mp4.SetDisc(0, mp4.GetTotalDiscs());
  if (IsDiscTotalName(UpperName)) return mp4.SetDisc(mp4.GetDisc(), 0);
  if (UpperName == "GENRE") return mp4.SetGenre("");
  if (UpperName == "MEDIA") {
    mp4.DeleteAllAtoms("stik");
    return;
  }
  if (UpperName == "PURCHASECOUNTRY") {
    mp4.DeleteAllAtoms("sfID");
    return;
  }
  std::string atom;
  for (const TAtomNamePair &p : kAtomNames)
    if (UpperName == p.Name) atom = p.Atom;
  if (atom.empty()) atom = TagNameToMP4Atom(UpperName);
  if (!atom.empty()) {
    const TAtomName name(atom);
    if (atom == "TIPL" || atom == "TMCL") mp4.DeleteAllAtoms(name);
    else DeleteItemValue(mp4, &name, std::string(), Entry.Value);
  }
  DeleteItemValue(mp4, nullptr, Entry.Name, Entry.Value);
}

namespace {

// Codes of the MP4 row beyond those of a load (TMP4TagResult).
enum TMP4SaveCode : int {
  mp4sNotFullyLoaded = 20,    // the load stopped at damage: the tag is not written back
  mp4sChangedSinceLoad = 21,  // bytes left in the file at load could not be read back
  mp4sNoMoov = 22,
  mp4sDamaged = 23,
  mp4sFragmented = 24,
  mp4sMediaNotMovable = 25,
  mp4sOffsetOverflow = 26,
  mp4sTooLarge = 27,
};

int SaveCode(int WriteResult)
{
  switch (WriteResult) {
  case mwOk: return mp4tOk;
  case mwNotMP4: return mp4tNotMP4;
  case mwNoMoov: return mp4sNoMoov;
  case mwDamaged: return mp4sDamaged;
  case mwFragmented: return mp4sFragmented;
  case mwMediaNotMovable: return mp4sMediaNotMovable;
  case mwOffsetOverflow: return mp4sOffsetOverflow;
  case mwTooLarge: return mp4sTooLarge;
  }
  return mp4sDamaged;
}

int PlanNewMetadata(const TMP4Tag &Tag, TStream &Content, bool KeepPadding, std::uint32_t Padding, TRewritePlan &Plan)
{
  TMP4NewMetadata n;
  if (!Tag.BuildIlst(n.Ilst)) return mp4sChangedSinceLoad;
  n.Xtra = Tag.BuildXtra();
  n.KeepPadding = KeepPadding;
  n.PaddingToWrite = Padding;
  return SaveCode(PlanMP4MetadataSave(Content, n, Plan));
}

int PlanMP4Save(TTags &T, TStream &Content, TRewritePlan &Plan)
{
  TMP4Tag &mp4 = T.MP4Tag;
  if (mp4.Damaged()) return mp4sNotFullyLoaded;
  if (!mp4.Valid()) {
    // Not loaded from an MP4 file (tags saved into another file): the file's own Xtra atom and
    // items come first, so that nothing of them is lost; the entries then go over them.
    TMP4Tag own;
    own.ParseCoverArts = false;
    const int code = own.Load(Content);
    if (code == mp4tNotMP4 || code == mp4tCannotOpen) return code;
    if (own.Damaged()) return mp4sNotFullyLoaded;
    mp4 = std::move(own);
  }
  const int code = T.PrepareMP4Tag();
  if (code != mp4tOk) return code;
  return PlanNewMetadata(mp4, Content, T.MP4KeepPadding, mp4.PaddingToWrite, Plan);
}

// Removal keeps the gapless playback information and the encoding tool; everything else of
// the item list and the Xtra atom goes, without padding.
int PlanMP4Remove(TStream &Content, TRewritePlan &Plan)
{
  TMP4Tag tag;
  tag.ParseCoverArts = false;
  const int code = tag.Load(Content);
  if (code == mp4tNotMP4 || code == mp4tCannotOpen) return code;
  if (tag.Damaged()) return mp4sNotFullyLoaded;
  for (int i = tag.Count(); i-- > 0;) {
    const TMP4Atom &a = tag.Atoms()[static_cast<std::size_t>(i)];
    const bool gapless = IsFreeForm(a) && SameText(a.GetName(), "iTunSMPB") && SameText(a.GetMean(), kITunesMean);
    if (!gapless && !(a.ID() == TAtomName("\xA9" "too"))) tag.DeleteAtom(i);
  }
  tag.ClearXtras();
  return PlanNewMetadata(tag, Content, false, 0, Plan);
}

bool MP4Loaded(const TTags &T) { return T.MP4Tag.Loaded() || T.MP4Tag.Damaged(); }

std::optional<std::int64_t> MP4AudioValue(const TTags &T, TAudioValue What)
{
  if (!T.MP4Tag.Valid()) return std::nullopt;
  const TMP4AudioInfo &info = T.MP4Tag.AudioInfo();
  switch (What) {
  case TAudioValue::avBitRate:
    if (info.MediaSize > 0 || info.BitRate > 0) return info.BitRate;
    return std::nullopt;
  case TAudioValue::avSamplesPerSec: return info.SampleRate;
  case TAudioValue::avChannels: return info.Channels;
  case TAudioValue::avBitsPerSample: return info.BitsPerSample;
  case TAudioValue::avSampleCount: return std::nullopt;
  }
  return std::nullopt;
}

std::optional<TNativePlayTime> MP4PlayTime(const TTags &T)
{
  if (!T.MP4Tag.Valid() || !(T.MP4Tag.Playtime() > 0)) return std::nullopt;
  return TNativePlayTime{TPlayTimeSource::ptsMP4, T.MP4Tag.Playtime()};
}

constexpr std::array<TNativeCode, 13> kMP4Codes = {{
  {mp4tOk, tagsOk},
  {mp4tNoItems, tagsNoTag},
  {mp4tCannotOpen, tagsFileNotFound},
  {mp4tCorrupt, tagsCorrupt},
  {mp4tNotMP4, tagsWrongFileKind},
  {mp4sNotFullyLoaded, tagsCorrupt},
  {mp4sChangedSinceLoad, tagsUpdateFailed},
  {mp4sNoMoov, tagsWrongFileKind},
  {mp4sDamaged, tagsCorrupt},
  {mp4sFragmented, tagsLayoutNotWritable},
  {mp4sMediaNotMovable, tagsLayoutNotWritable},
  {mp4sOffsetOverflow, tagsLayoutNotWritable},
  {mp4sTooLarge, tagsSizeOverflow},
}};
constexpr std::array<int, 2> kMP4NothingToRemove = {mp4tNotMP4, mp4sNoMoov};
constexpr std::array<TAudioContainerType, 1> kMP4ContentTypes = {actMP4};

} // namespace

constinit const TNativeFormat kMP4Format = {
  .Type = ttMP4,
  .Load = [](TTags &T, TReadView &V) {
    T.MP4Tag.ParseCoverArts = T.ParseCoverArts;
    return T.MP4Tag.Load(V) == mp4tOk;
  },
  .IsLoaded = MP4Loaded,
  .MapToEntries = [](TTags &T) { T.LoadMP4Tags(); },
  .PicturesOnly = TPicturesOnlyLoad::ploMapped,
  .PlanSave = PlanMP4Save,
  .AutomaticSave = TAutomaticSave::asTagsTheFile,
  .ContentTypes = kMP4ContentTypes,
  .PlanRemove = PlanMP4Remove,
  .NothingToRemove = kMP4NothingToRemove,
  .Codes = kMP4Codes,
  .DeleteEntry = [](TTags &T, const std::string &N, const TTag &E) { T.DeleteMP4Entry(N, E); },
  .Clear = [](TTags &T) { T.MP4Tag.Clear(); },
  .Assign = [](TTags &T, const TTags &S) {
    T.MP4Tag = S.MP4Tag;
    return true;
  },
  .Size = [](const TTags &T) -> std::int64_t { return T.MP4Tag.Loaded() ? T.MP4Tag.Layout().ilstSize : 0; },
  .AudioValue = MP4AudioValue,
  .PlayTime = MP4PlayTime,
};
