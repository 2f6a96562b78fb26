// The container's two-way copy between generic entries and the attributes of an ASF file
// (TWMATag), and the WMA row of the format table.
//
// Attribute names are compared exactly. A name of the table below loads under its generic
// name; the header's read-only attributes (play time, bit rate, flags) and the encoder's give no
// entry; every other attribute loads under its own name and is written back under it. A track
// or disc "3/12" is the entries of the number and its total, joined again on saving; the
// zero-based "WM/Track" is kept in step with the track number. Only the names whose entries
// changed since the load are written into a loaded tag (every entry into a new one): an
// attribute nobody changed keeps its type and bytes. Pictures are the "WM/Picture" attributes.

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tags/asf/wma_tag.h"
#include "tags/native_format.h"
#include "tags/picture/picture_format.h"
#include "tags/tag_container.h"
#include "tags/text/lines.h"
#include "tags/text/number_total.h"
#include "tags/text/text.h"

namespace {

struct TWMAName {
  const char *Attribute;
  const char *Name;
};

constexpr TWMAName kWMANames[] = {
  {"Author", "ARTIST"}, {"Title", "TITLE"}, {"WM/AlbumArtist", "ALBUMARTIST"}, {"WM/Composer", "COMPOSER"},
  {"WM/SubTitle", "SUBTITLE"}, {"WM/ModifiedBy", "MIXARTIST"}, {"WM/AlbumTitle", "ALBUM"}, {"Copyright", "COPYRIGHT"},
  {"WM/ContentGroupDescription", "GROUPING"}, {"WM/Genre", "GENRE"}, {"WM/ReleaseYear", "RELEASEDATE"},
  {"WM/Year", "RECORDINGDATE"}, {"WM/Track", "TRACK"}, {"WM/TrackNumber", "TRACKNUMBER"}, {"WM/PartOfSet", "DISCNUMBER"},
  {"WM/BeatsPerMinute", "BPM"}, {"WM/InitialKey", "KEY"}, {"WM/Conductor", "CONDUCTOR"}, {"WM/Writer", "LYRICIST"},
  {"WM/Produced", "PRODUCED"}, {"WM/Studio", "STUDIO"}, {"WM/Publisher", "PUBLISHER"}, {"WM/EncodedBy", "ENCODEDBY"},
  {"WM/EncodingSettings", "SOFTWARESETTINGS"}, {"WM/ISRC", "ISRC"}, {"WM/CatalogNo", "CATALOGNUMBER"},
  {"WM/SetSubTitle", "DISCSUBTITLE"}, {"WM/PartOfSeries", "PARTOFSERIES"}, {"WM/Language", "LANGUAGE"},
  {"WM/Media", "MEDIA"}, {"WM/Producer", "PRODUCER"}, {"WM/Arranger", "ARRANGER"}, {"WM/Engineer", "ENGINEER"},
  {"WM/DJMixer", "DJMIXER"}, {"WM/Mixer", "MIXER"}, {"WM/TIPL", "TIPL"}, {"WM/TMCL", "TMCL"},
  {"WM/SharedUserRating", "RATING"}, {"WM/Popularity", "POPULARITY"}, {"WM/Quality", "QUALITY"}, {"WM/Mood", "MOOD"},
  {"WM/Situation", "SITUATION"}, {"WM/Preference", "PREFERENCE"}, {"Description", "COMMENT"}, {"WM/Lyrics", "LYRICS"},
  {"WM/Tempo", "TEMPO"}, {"WM/ArtistSortOrder", "ARTISTSORT"}, {"WM/TitleSortOrder", "TITLESORT"},
  {"WM/AlbumArtistSortOrder", "ALBUMARTISTSORT"}, {"WM/AlbumSortOrder", "ALBUMSORT"},
  {"WM/OriginalArtist", "ORIGINALARTIST"}, {"WM/OriginalTitle", "ORIGINALTITLE"},
  {"WM/OriginalLyricist", "ORIGINALLYRICIST"}, {"WM/OriginalFilename", "ORIGINALFILENAME"},
  {"WM/OriginalReleaseYear", "ORIGINALRELEASEDATE"}, {"WM/PromotionURL", "URL"}, {"WM/AuthorURL", "ARTISTURL"},
  {"WM/AudioFileURL", "AUDIOFILEURL"}, {"WM/BuyCDURL", "BUYCDURL"}, {"WM/PublisherURL", "PUBLISHERURL"},
  {"WM/RadioURL", "RADIOSTATIONURL"}, {"CopyrightURL", "COPYRIGHTURL"}, {"WM/AudioSourceURL", "OFFICIALAUDIOSOURCEURL"},
  {"WM/PaymentURL", "PAYMENTURL"}, {"WM/FileOwner", "FILEOWNER"}, {"WM/RadioStationName", "RADIOSTATIONNAME"},
  {"WM/RadioStationOwner", "RADIOSTATIONOWNER"}, {"WM/Playcount", "PLAYCOUNT"},
};

// Header attributes that are no tag values: what the header reports, the encoder's notes, the
// pictures (which are pictures, not entries).
constexpr const char *kNoEntry[] = {
  "Duration", "Bitrate", "Seekable", "Stridable", "Broadcast", "Is_Protected", "Is_Trusted", "Signature_Name",
  "HasAudio", "HasImage", "HasScript", "HasVideo", "CurrentBitrate", "OptimalBitrate", "HasAttachedImages",
  "Can_Skip_Backward", "Can_Skip_Forward", "NumberOfFrames", "FileSize", "HasArbitraryDataStream",
  "HasFileTransferStream", "WM/ContainerFormat", "WMFSDKVersion", "WMFSDKNeeded", "IsVBR", "WM/ASFPacketCount",
  "WM/ASFSecurityObjectsSize", "WM/Picture", "WM/StreamTypeInfo", "WM/PeakBitrate", "ASFLeakyBucketPairs",
};

bool IsListName(const std::string &UpperName) { return UpperName == "TIPL" || UpperName == "TMCL"; }

// A number and its total, kept in one attribute "3/12".
struct TNumberGroup {
  const char *Number, *Alias, *Total, *Attribute;
};
constexpr TNumberGroup kTrackGroup{"TRACKNUMBER", "TRACK", "TOTALTRACKS", "WM/TrackNumber"};
constexpr TNumberGroup kDiscGroup{"DISCNUMBER", "DISC", "TOTALDISCS", "WM/PartOfSet"};

const TNumberGroup *GroupOf(const std::string &UpperName)
{
  for (const TNumberGroup *g : {&kTrackGroup, &kDiscGroup})
    if (UpperName == g->Number || UpperName == g->Alias || UpperName == g->Total) return g;
  return nullptr;
}

void AddLoaded(TTags &Tags, std::size_t Item, const std::string &Name, const std::string &Value)
{
  Tags.Add(Name)->Value = Value;
  Tags.MarkNewEntriesLoaded(ttWMA, Item);
}

// A whole decimal number; Fallback when the text is not one.
std::int64_t NumberOr(const std::string &Text, std::int64_t Fallback)
{
  std::int64_t v = 0;
  return TryParseInt64(TrimBlanks(Text), v) ? v : Fallback;
}

} // namespace

std::string WMAAttributeToTagName(const std::string &Attribute)
{
  for (const char *n : kNoEntry)
    if (Attribute == n) return std::string();
  for (const TWMAName &m : kWMANames)
    if (Attribute == m.Attribute) return m.Name;
  return Attribute;
}

std::string TagNameToWMAAttribute(const std::string &Name)
{
  const std::string upper = AsciiUpperCase(Name);
  if (upper == "YEAR" || upper == "RECORDINGDATE") return "WM/Year";
  if (upper == "TRACKNUMBER" || upper == "TRACK") return "WM/TrackNumber";
  if (upper == "DISCNUMBER" || upper == "DISC") return "WM/PartOfSet";
  for (const TWMAName &m : kWMANames)
    if (upper == m.Name) return m.Attribute;
  return Name;
}

void TTags::LoadWMATags()
{
  const TWMATag &wma = WMATag;
  if (!OnlyParseCoverArts) {
    // This format's values replace those of formats mapped before it, name by name.
    for (const auto &f : wma.Frames) {
      const std::string name = WMAAttributeToTagName(f->Name);
      if (name.empty() || f->Name == "WM/Track") continue;
      RemoveFromList(name);
      const std::string upper = AsciiUpperCase(name);
      if (const TNumberGroup *g = GroupOf(upper); g && f->GetText().find('/') != std::string::npos) RemoveFromList(g->Total);
    }
    for (std::size_t i = 0; i < wma.Frames.size(); ++i) {
      const TWMATagFrame &f = *wma.Frames[i];
      const std::string name = WMAAttributeToTagName(f.Name);
      if (name.empty()) continue;
      const std::string text = f.GetText();
      if (f.Name == "WM/Track") {
        // The zero-based track of older writers, when no track number came before it.
        if (Exists("TRACKNUMBER") < 0) AddLoaded(*this, i, "TRACKNUMBER", std::to_string(NumberOr(text, 0) + 1));
        continue;
      }
      const std::string upper = AsciiUpperCase(name);
      const TNumberGroup *group = GroupOf(upper);
      const std::size_t slash = text.find('/');
      if (group && slash != std::string::npos) {
        AddLoaded(*this, i, group->Number, text.substr(0, slash));
        AddLoaded(*this, i, group->Total, text.substr(slash + 1));
      } else if (IsListName(upper)) {
        std::vector<std::string> list;
        f.GetList(list);
        AddLoaded(*this, i, name, PairItemsToText(PairItemsFromFlat(list)));
      } else if (!text.empty()) {
        AddLoaded(*this, i, name, text);
      }
    }
  }
  if (ParseCoverArts && wma.CoverArtCount() > 0) {
    DeleteAllCoverArts();
    for (int i = 0; i < wma.Count(); ++i) {
      if (wma.Frames[static_cast<std::size_t>(i)]->Name != "WM/Picture") continue;
      TMemoryStream data;
      std::string description, mime;
      std::uint8_t type = 0;
      if (!wma.GetCoverArtFromFrame(i, data, description, type, mime)) continue;
      TCoverArt *art = AddCoverArt("Cover art " + std::to_string(CoverArtCount() + 1));
      art->Stream.Data() = std::move(data.Data());
      art->Stream.SetPosition(0);
      art->Description = description;
      art->CoverType = type;
      art->PictureFormat = PicturePointerType(art->Stream.Data().data(), static_cast<std::int64_t>(art->Stream.Data().size()));
      art->MIMEType = mime.empty() ? PictureFormatMIMEType(art->PictureFormat) : mime;
    }
  }
  Loaded = true;
}

int TTags::PrepareWMATag()
{
  TWMATag &wma = WMATag;
  const bool tagLoaded = wma.HasUserAttributes();
  const auto changed = [&](const TTag &E) { return !tagLoaded || !E.IsUnchanged(); };
  const auto nameChanged = [&](const std::string &Upper) {
    return std::any_of(Tags.begin(), Tags.end(), [&](const auto &t) { return SameText(t->Name, Upper) && changed(*t); });
  };
  const auto deleteAttribute = [&](const std::string &Attribute) {
    for (int i = wma.Count() - 1; i >= 0; --i)
      if (wma.Frames[static_cast<std::size_t>(i)]->Name == Attribute) wma.DeleteFrame(i);
  };

  // The attributes written so far: names that share an attribute (YEAR and RECORDINGDATE both
  // go to "WM/Year") write it once, from the first of them in list order that changed.
  std::vector<std::string> done;
  for (const auto &entry : Tags) {
    const std::string upper = AsciiUpperCase(entry->Name);
    const TNumberGroup *group = GroupOf(upper);
    const std::string attribute = group ? std::string(group->Attribute) : TagNameToWMAAttribute(entry->Name);
    const bool write = group ? nameChanged(group->Number) || nameChanged(group->Alias) || nameChanged(group->Total)
                             : nameChanged(upper);
    if (!write || std::find(done.begin(), done.end(), attribute) != done.end()) continue;
    done.push_back(attribute);

    if (group) {
      std::string number = GetText(group->Number);
      if (number.empty()) number = GetText(group->Alias);
      deleteAttribute(group->Attribute);
      if (group == &kTrackGroup) deleteAttribute("WM/Track");
      // A total without its number is no track or disc number.
      if (number.empty()) continue;
      wma.AddFrame(group->Attribute)->SetText(JoinNumberTotal(number, GetText(group->Total)));
      if (group == &kTrackGroup) wma.SetInteger("WM/Track", WMT_TYPE_DWORD, static_cast<std::uint64_t>(std::max<std::int64_t>(0, NumberOr(number, 1) - 1)));
      continue;
    }
    if (attribute.empty() || WMAAttributeToTagName(attribute).empty()) continue;
    deleteAttribute(attribute);
    for (const auto &t : Tags) {
      if (!SameText(t->Name, upper) || t->Value.empty()) continue;
      TWMATagFrame *f = wma.AddFrame(attribute);
      if (IsListName(upper)) f->SetList(PairItemsToFlat(PairItemsFromText(t->Value)));
      else f->SetText(t->Value);
    }
  }

  if (tagLoaded && !PicturesChanged()) return wmaOk;
  wma.DeleteAllCoverArts();
  for (const auto &c : CoverArts) {
    TTagPictureFormat format = c->PictureFormat;
    if (format == tpfUnknown)
      format = PicturePointerType(c->Stream.Data().data(), static_cast<std::int64_t>(c->Stream.Data().size()));
    const std::string mime = c->MIMEType.empty() ? PictureFormatMIMEType(format) : c->MIMEType;
    c->Stream.SetPosition(0);
    if (wma.AddCoverArtFrame(c->Stream, mime, c->Description, static_cast<std::uint8_t>(c->CoverType)) < 0) return wmaTooLarge;
    c->Stream.SetPosition(0);
  }
  return wmaOk;
}

namespace {

// The native side of deleting an entry: every attribute of its mapped name goes (a number that
// shares "3/12" with its total takes the total's value with it; the other is written again).
void DeleteWMAEntry(TTags &Tags, const std::string &UpperName, const TTag &Entry)
{
  TWMATag &wma = Tags.WMATag;
  const std::string attribute = TagNameToWMAAttribute(UpperName);
  const TNumberGroup *group = GroupOf(UpperName);
  if (group && UpperName == group->Total) {
    for (auto &t : Tags.Tags)
      if (&*t != &Entry && GroupOf(AsciiUpperCase(t->Name)) == group) t->Origin = TTagOrigin();
    return;
  }
  for (int i = wma.Count() - 1; i >= 0; --i) {
    const std::string &name = wma.Frames[static_cast<std::size_t>(i)]->Name;
    if (name == attribute || (group == &kTrackGroup && name == "WM/Track")) wma.DeleteFrame(i);
  }
}

int PlanWMASave(TTags &T, TStream &Content, TRewritePlan &Plan)
{
  const int code = T.PrepareWMATag();
  return code != wmaOk ? code : T.WMATag.PlanSave(Content, Plan);
}

std::optional<std::int64_t> WMAAudioValue(const TTags &T, TAudioValue What)
{
  const TWMATag &w = T.WMATag;
  if (!w.Loaded) return std::nullopt;
  switch (What) {
  case TAudioValue::avBitRate: return NonZero(w.BitRate());
  case TAudioValue::avSamplesPerSec: return NonZero(w.SampleRate());
  case TAudioValue::avChannels: return NonZero(w.Channels());
  case TAudioValue::avBitsPerSample: return NonZero(w.BitsPerSample());
  case TAudioValue::avSampleCount: break;
  }
  return std::nullopt;
}

constexpr std::array<TNativeCode, 9> kWMACodes = {{
  {wmaOk, tagsOk},
  {wmaFileNotFound, tagsNoFileOrBlock},
  {wmaNotASF, tagsWrongFileKind},
  {wmaReadOnly, tagsUnsupported},
  {wmaDamaged, tagsCorrupt},
  {wmaProtected, tagsProtected},
  {wmaWriteFailed, tagsWriteFailed},
  {wmaCannotOpen, tagsCannotLockFile},
  {wmaTooLarge, tagsSizeOverflow},
}};
constexpr std::array<int, 1> kWMANothingToRemove = {wmaNotASF};
constexpr std::array<TAudioContainerType, 1> kWMAContentTypes = {actASF};

} // namespace

constinit const TNativeFormat kWMAFormat = {
  .Type = ttWMA,
  .Load = [](TTags &T, TReadView &V) {
    const int code = T.WMATag.Load(V);
    return (code == wmaOk || code == wmaDamaged) && T.WMATag.HasUserAttributes();
  },
  .IsLoaded = [](const TTags &T) { return T.WMATag.HasUserAttributes() || T.WMATag.Damaged(); },
  .MapToEntries = [](TTags &T) { T.LoadWMATags(); },
  .PicturesOnly = TPicturesOnlyLoad::ploMapped,
  .PlanSave = PlanWMASave,
  .FinishSave = [](TTags &T, const std::string &FileName) { T.WMATag.FinishSave(FileName); },
  .AutomaticSave = TAutomaticSave::asTagsTheFile,
  .ContentTypes = kWMAContentTypes,
  .PlanRemove = TWMATag::PlanRemove,
  .NothingToRemove = kWMANothingToRemove,
  .Codes = kWMACodes,
  .DeleteEntry = DeleteWMAEntry,
  .Clear = [](TTags &T) { T.WMATag.Clear(); },
  .Assign = [](TTags &T, const TTags &S) { return T.WMATag.Assign(S.WMATag); },
  .Size = [](const TTags &T) { return T.WMATag.HasUserAttributes() ? T.WMATag.CalculateTagSize() : std::int64_t{0}; },
  .AudioValue = WMAAudioValue,
  .PlayTime = [](const TTags &T) -> std::optional<TNativePlayTime> {
    if (!T.WMATag.Loaded || T.WMATag.PlayTime() <= 0) return std::nullopt;
    return TNativePlayTime{TPlayTimeSource::ptsWMA, T.WMATag.PlayTime()};
  },
};
