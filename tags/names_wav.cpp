// The container's two-way copy between generic entries and the WAV tag object (TWAVTag): the
// items of its RIFF INFO list, its broadcast extension ("bext") and its cart chunk, and the WAV
// row of the format table.
//
// INFO ids are compared exactly. An id loads under the name of the table below; several ids
// load under one name (the ids other programs use for it). Saving writes a name to its own id,
// or to the id other programs keep it under when the file holds that one, and takes the other
// ids of that name out, so that every reader of the list finds the one new value. A track number and its total
// share one item ("3/12"). The year goes to "ICRD", the date id that other readers know,
// unless the file keeps it in "IYER". Only the names whose entries changed since the load are
// written (every entry when the file had no WAV tag), so an item nobody changed keeps its
// bytes. The broadcast and cart fields are entries "BEXT ..." and "CART ..." of their own.
//
// A WAV file usually also carries an ID3v2 tag in a chunk (names_id3v2.cpp): the container
// writes both, and a save whose entries or pictures the INFO list cannot hold (a cover, a disc
// number) does not count as having tagged the file, so that the ID3v2 tag takes them too.

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "tags/native_format.h"
#include "tags/riff/wav_tag.h"
#include "tags/tag_container.h"
#include "tags/text/lines.h"
#include "tags/text/number_total.h"
#include "tags/text/text.h"

namespace {

// What saving does with an id: the name's own id is written; a kept id is written when the file
// holds it (the id other programs keep that name under), and stays then; an id read only gives
// way to the name's own id.
enum class TIdUse { iuOwn, iuKept, iuReadOnly };

struct TInfoId {
  const char *Id;
  const char *Name;
  TIdUse Use;
};

constexpr TIdUse kOwn = TIdUse::iuOwn, kKept = TIdUse::iuKept, kReadOnly = TIdUse::iuReadOnly;

// Load direction: every id with a name. "IPRT", "IMUS" and "IBSU" are the ids ffmpeg and other
// taggers keep the track, the composer and the web address under.
constexpr TInfoId kInfoIds[] = {
  {"IART", "ARTIST", kOwn},          {"INAM", "TITLE", kOwn},          {"ICOM", "COMPOSER", kOwn},
  {"IMUS", "COMPOSER", kKept},       {"IURL", "URL", kOwn},            {"IBSU", "URL", kKept},
  {"IALB", "ALBUM", kReadOnly},      {"IPRD", "ALBUM", kOwn},          {"ICOP", "COPYRIGHT", kOwn},
  {"BCPR", "COPYRIGHT", kReadOnly},  {"IGNR", "GENRE", kOwn},          {"ICRD", "RECORDINGDATE", kOwn},
  {"IYER", "YEAR", kOwn},            {"ITRK", "TRACKNUMBER", kOwn},    {"itrk", "TRACKNUMBER", kReadOnly},
  {"IPRT", "TRACKNUMBER", kKept},    {"IBPM", "BPM", kOwn},            {"BKEY", "KEY", kOwn},
  {"BTPO", "TEMPO", kOwn},           {"IENG", "PRODUCED", kOwn},       {"STDO", "STUDIO", kOwn},
  {"IPUB", "PUBLISHER", kOwn},       {"ITCH", "ENCODEDBY", kOwn},      {"ISFT", "ENCODERTOOL", kOwn},
  {"IKEY", "KEYWORDS", kOwn},        {"ISRF", "MEDIA", kOwn},          {"TIPL", "TIPL", kOwn},
  {"TMCL", "TMCL", kOwn},            {"BEND", "MUSICEND", kOwn},       {"BERG", "MUSICENERGY", kOwn},
  {"BTXR", "MUSICTEXTURE", kOwn},    {"HKST", "HOOKSTART", kOwn},      {"HKEN", "HOOKEND", kOwn},
  {"ICMT", "COMMENT", kOwn},         {"ILYR", "LYRICS", kOwn},         {"ISBJ", "SUBJECT", kOwn},
  {"IARL", "ARCHIVAL LOCATION", kOwn},
};

bool IsListName(const std::string &UpperName) { return UpperName == "TIPL" || UpperName == "TMCL"; }
bool IsTrackName(const std::string &UpperName)
{
  return UpperName == "TRACKNUMBER" || UpperName == "TRACK" || UpperName == "TOTALTRACKS";
}

// --- the broadcast and cart fields --------------------------------------------------------------

struct TChunkField {
  const char *Name;
  std::function<std::string(const TWAVTag &)> Get;
  std::function<void(TWAVTag &, const std::string &)> Set;  // an empty text clears the field
};

// A decimal number; 0 when the text is not one.
std::int64_t NumberOr0(const std::string &Text)
{
  std::int64_t v = 0;
  return TryParseInt64(TrimBlanks(Text), v) ? v : 0;
}
// A 64-bit unsigned decimal (a time reference counted in samples may pass the signed range).
std::uint64_t Unsigned64Or0(const std::string &Text)
{
  const std::string t = TrimBlanks(Text);
  if (t.empty() || t.size() > 20 || !std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; })) return 0;
  std::uint64_t v = 0;
  for (const char c : t) {
    const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
    if (v > (UINT64_MAX - digit) / 10) return 0;
    v = v * 10 + digit;
  }
  return v;
}
template <typename T> T Clamped(std::int64_t V)
{
  return static_cast<T>(std::clamp<std::int64_t>(V, std::numeric_limits<T>::min(), std::numeric_limits<T>::max()));
}

#define WAV_TEXT_FIELD(NAME, PART, FIELD)                                                                 \
  TChunkField                                                                                             \
  {                                                                                                       \
    NAME, [](const TWAVTag &W) { return W.PART.Get##FIELD(); },                                           \
      [](TWAVTag &W, const std::string &V) { W.PART.Set##FIELD(V); }                                      \
  }
#define WAV_NUMBER_FIELD(NAME, PART, FIELD, TYPE)                                                         \
  TChunkField                                                                                             \
  {                                                                                                       \
    NAME, [](const TWAVTag &W) { return std::to_string(W.PART.Get##FIELD()); },                           \
      [](TWAVTag &W, const std::string &V) { W.PART.Set##FIELD(Clamped<TYPE>(NumberOr0(V))); }             \
  }

const std::vector<TChunkField> &BEXTFields()
{
  static const std::vector<TChunkField> fields{
    WAV_TEXT_FIELD("BEXT Description", BEXT, Description),
    WAV_TEXT_FIELD("BEXT Originator", BEXT, Originator),
    WAV_TEXT_FIELD("BEXT OriginatorReference", BEXT, OriginatorReference),
    WAV_TEXT_FIELD("BEXT OriginationDate", BEXT, OriginationDate),
    WAV_TEXT_FIELD("BEXT OriginationTime", BEXT, OriginationTime),
    TChunkField{"BEXT TimeReference", [](const TWAVTag &W) { return std::to_string(W.BEXT.GetTimeReference()); },
                [](TWAVTag &W, const std::string &V) { W.BEXT.SetTimeReference(Unsigned64Or0(V)); }},
    WAV_NUMBER_FIELD("BEXT Version", BEXT, Version, std::uint16_t),
    WAV_TEXT_FIELD("BEXT UMID", BEXT, UMID),
    WAV_NUMBER_FIELD("BEXT LoudnessValue", BEXT, LoudnessValue, std::int16_t),
    WAV_NUMBER_FIELD("BEXT LoudnessRange", BEXT, LoudnessRange, std::int16_t),
    WAV_NUMBER_FIELD("BEXT MaxTruePeakLevel", BEXT, MaxTruePeakLevel, std::int16_t),
    WAV_NUMBER_FIELD("BEXT MaxMomentaryLoudness", BEXT, MaxMomentaryLoudness, std::int16_t),
    WAV_NUMBER_FIELD("BEXT MaxShortTermLoudness", BEXT, MaxShortTermLoudness, std::int16_t),
    WAV_TEXT_FIELD("BEXT CodingHistory", BEXT, CodingHistory),
  };
  return fields;
}

// A post timer as its entry shows it: the usage, one blank, the value; "" when it is not set.
std::string PostTimerText(const TWAVTag &W, int Index)
{
  TCART_TIMER t;
  if (!W.CART.GetPostTimer(Index, t) || (t.Usage.empty() && t.Value == 0)) return std::string();
  return t.Usage + " " + std::to_string(t.Value);
}
void SetPostTimerText(TWAVTag &W, int Index, const std::string &Text)
{
  if (Text.empty()) {
    W.CART.ClearPostTimer(Index);
    return;
  }
  const std::size_t blank = Text.find(' ');
  TCART_TIMER t;
  t.Usage = Text.substr(0, blank);
  t.Value = blank == std::string::npos ? 0 : Clamped<std::uint32_t>(NumberOr0(Text.substr(blank + 1)));
  W.CART.SetPostTimer(Index, t);
}

const std::vector<TChunkField> &CARTFields()
{
  static const std::vector<TChunkField> fields = [] {
    std::vector<TChunkField> f{
      WAV_TEXT_FIELD("CART Version", CART, Version),
      WAV_TEXT_FIELD("CART Title", CART, Title),
      WAV_TEXT_FIELD("CART Artist", CART, Artist),
      WAV_TEXT_FIELD("CART CutID", CART, CutID),
      WAV_TEXT_FIELD("CART ClientID", CART, ClientID),
      WAV_TEXT_FIELD("CART Category", CART, Category),
      WAV_TEXT_FIELD("CART Classification", CART, Classification),
      WAV_TEXT_FIELD("CART OutCue", CART, OutCue),
      WAV_TEXT_FIELD("CART StartDate", CART, StartDate),
      WAV_TEXT_FIELD("CART StartTime", CART, StartTime),
      WAV_TEXT_FIELD("CART EndDate", CART, EndDate),
      WAV_TEXT_FIELD("CART EndTime", CART, EndTime),
      WAV_TEXT_FIELD("CART ProducerAppID", CART, ProducerAppID),
      WAV_TEXT_FIELD("CART ProducerAppVersion", CART, ProducerAppVersion),
      WAV_TEXT_FIELD("CART UserDef", CART, UserDef),
      TChunkField{"CART LevelReference", [](const TWAVTag &W) { return std::to_string(W.CART.GetLevelReference()); },
                  [](TWAVTag &W, const std::string &V) { W.CART.SetLevelReference(Clamped<std::uint32_t>(NumberOr0(V))); }},
    };
    static const char *const kTimers[] = {"CART PostTimer0", "CART PostTimer1", "CART PostTimer2", "CART PostTimer3",
                                          "CART PostTimer4", "CART PostTimer5", "CART PostTimer6", "CART PostTimer7"};
    for (int i = 0; i < 8; ++i)
      f.push_back(TChunkField{kTimers[i], [i](const TWAVTag &W) { return PostTimerText(W, i); },
                              [i](TWAVTag &W, const std::string &V) { SetPostTimerText(W, i, V); }});
    f.push_back(WAV_TEXT_FIELD("CART URL", CART, URL));
    f.push_back(WAV_TEXT_FIELD("CART Reserved", CART, Reserved));
    f.push_back(WAV_TEXT_FIELD("CART TagText", CART, TagText));
    return f;
  }();
  return fields;
}

#undef WAV_TEXT_FIELD
#undef WAV_NUMBER_FIELD

// The broadcast or cart field an entry name stands for (ASCII case folding); null for others.
const TChunkField *ChunkFieldOf(const std::string &Name)
{
  for (const auto *fields : {&BEXTFields(), &CARTFields()})
    for (const TChunkField &f : *fields)
      if (SameText(f.Name, Name)) return &f;
  return nullptr;
}

// Entries of chunk fields are marked as loaded from these keys, apart from the INFO items'.
constexpr std::uint64_t kBEXTItem = 1ull << 32;
constexpr std::uint64_t kCARTItem = 2ull << 32;

void AddLoaded(TTags &Tags, std::uint64_t Item, const std::string &Name, const std::string &Value)
{
  Tags.Add(Name)->Value = Value;
  Tags.MarkNewEntriesLoaded(ttWAV, Item);
}

const TInfoId *InfoIdOf(const std::string &ID)
{
  for (const TInfoId &i : kInfoIds)
    if (ID == i.Id) return &i;
  return nullptr;
}

// The id of an item in the file that loads as Name and is written back under its own id: the
// first one in item order; empty if none.
std::string LoadedIdOf(const TWAVTag &W, const std::string &UpperName)
{
  for (const auto &f : W.Frames)
    if (const TInfoId *i = InfoIdOf(f->Name); i && i->Name == UpperName && i->Use != kReadOnly) return f->Name;
  return std::string();
}

// Sets the item that Name goes to, and takes the other ids that load as Name out.
void SetNameItem(TWAVTag &W, const std::string &UpperName, const std::string &Id, const std::string &Text)
{
  for (const TInfoId &i : kInfoIds)
    if (UpperName == i.Name && Id != i.Id) W.DeleteFrameByName(i.Id);
  W.SetText(Id, Text);
}

// The text one name's entries are written as: one entry as it is, several joined by ", ". A list
// of people is lines ended by CR LF, those of every entry.
std::string NameText(const TTags &Tags, const std::string &UpperName)
{
  TStringList values;
  Tags.GetMultipleList(UpperName, values);
  if (IsListName(UpperName)) {
    std::string lines;
    for (const std::string &line : values) lines += line + "\r\n";
    return lines;
  }
  if (Tags.TypeCount(UpperName) < 2) return Tags.GetText(UpperName);
  std::string joined;
  for (const std::string &v : values) joined += (joined.empty() ? "" : ", ") + v;
  return joined;
}

} // namespace

std::string RIFFINFOToTagName(const std::string &ID)
{
  const TInfoId *i = InfoIdOf(ID);
  return i ? i->Name : std::string();
}

std::string TagNameToRIFFINFO(const std::string &Name)
{
  const std::string upper = AsciiUpperCase(Name);
  if (upper == "TRACK") return "ITRK";
  for (const TInfoId &i : kInfoIds)
    if (i.Use == kOwn && upper == i.Name) return i.Id;
  return std::string();
}

void TTags::LoadWAVTags()
{
  const TWAVTag &wav = WAVTag;
  // This format's values replace those of formats mapped before it, name by name.
  for (const auto &f : wav.Frames) {
    const std::string name = RIFFINFOToTagName(f->Name);
    if (name.empty()) continue;
    RemoveFromList(name);
    if (name == "TRACKNUMBER" && f->GetText().find('/') != std::string::npos) RemoveFromList("TOTALTRACKS");
  }
  for (std::size_t i = 0; i < wav.Frames.size(); ++i) {
    const TWAVTagFrame &f = *wav.Frames[i];
    const std::string name = RIFFINFOToTagName(f.Name);
    if (name.empty()) continue;
    const std::string text = f.GetText();
    const std::size_t slash = text.find('/');
    if (name == "TRACKNUMBER" && slash != std::string::npos) {
      AddLoaded(*this, i, "TRACKNUMBER", text.substr(0, slash));
      AddLoaded(*this, i, "TOTALTRACKS", text.substr(slash + 1));
    } else if (IsListName(name)) {
      AddLoaded(*this, i, name, PairItemsToText(PairItemsFromFlat(f.GetList())));
    } else {
      AddLoaded(*this, i, name, text);
    }
  }
  // Empty texts are no values; numbers show even when 0.
  const auto addFields = [&](const std::vector<TChunkField> &Fields, std::uint64_t Item) {
    for (const TChunkField &c : Fields)
      if (const std::string v = c.Get(wav); !v.empty()) AddLoaded(*this, Item, c.Name, v);
  };
  if (wav.BEXT.Loaded) addFields(BEXTFields(), kBEXTItem);
  if (wav.CART.Loaded) addFields(CARTFields(), kCARTItem);
  Loaded = true;
}

int TTags::PrepareWAVTag()
{
  TWAVTag &wav = WAVTag;
  // A tag the file has gets only what changed since the load; a new one every entry.
  const bool everything = !wav.HasTag();
  const auto changed = [&](const std::string &UpperName) {
    return std::any_of(Tags.begin(), Tags.end(),
                       [&](const auto &t) { return SameText(t->Name, UpperName) && (everything || !t->IsUnchanged()); });
  };

  std::vector<std::string> done;
  for (const auto &entry : Tags) {
    const std::string upper = AsciiUpperCase(entry->Name);
    if (std::find(done.begin(), done.end(), upper) != done.end()) continue;
    done.push_back(upper);
    if (const TChunkField *field = ChunkFieldOf(upper)) {
      if (changed(upper)) field->Set(wav, entry->Value);
      continue;
    }
    if (IsTrackName(upper) || upper == "YEAR" || !changed(upper)) continue;
    const std::string loaded = LoadedIdOf(wav, upper);
    const std::string id = loaded.empty() ? TagNameToRIFFINFO(upper) : loaded;
    if (!id.empty()) SetNameItem(wav, upper, id, NameText(*this, upper));
  }

  // The year: into "IYER" when the file keeps it there, else into "ICRD" unless a changed date
  // of its own goes there.
  if (changed("YEAR")) {
    const bool ownDate = changed("RECORDINGDATE") && !GetText("RECORDINGDATE").empty();
    const std::string id = wav.FrameExists("IYER") >= 0 || ownDate ? "IYER" : "ICRD";
    wav.SetText(id, GetText("YEAR"));
  }

  // The track number and its total, in one item.
  if (changed("TRACKNUMBER") || changed("TRACK") || changed("TOTALTRACKS")) {
    std::string number = GetText("TRACKNUMBER");
    if (number.empty()) number = GetText("TRACK");
    const std::string loaded = LoadedIdOf(wav, "TRACKNUMBER");
    // A total without its number is no track number.
    SetNameItem(wav, "TRACKNUMBER", loaded.empty() ? "ITRK" : loaded,
                number.empty() ? std::string() : JoinNumberTotal(number, GetText("TOTALTRACKS")));
  }
  return wavOk;
}

namespace {

// The INFO list cannot hold pictures, nor names without an id: a save that has them does not
// tag the file on its own.
bool WAVHoldsEverything(const TTags &T)
{
  if (T.CoverArtCount() > 0) return false;
  return std::all_of(T.Tags.begin(), T.Tags.end(), [](const auto &t) {
    const std::string upper = AsciiUpperCase(t->Name);
    return t->Value.empty() || ChunkFieldOf(upper) || IsTrackName(upper) || !TagNameToRIFFINFO(upper).empty();
  });
}

// The native side of deleting Entry: a chunk field is cleared; an INFO name loses every item
// that loads as it (or whose id is the name). A track number shares its item with the total: the
// number takes the item with it, and without its total the number is written again on saving.
void DeleteWAVEntry(TTags &Tags, const std::string &UpperName, const TTag &Entry)
{
  TWAVTag &wav = Tags.WAVTag;
  if (const TChunkField *field = ChunkFieldOf(UpperName)) {
    field->Set(wav, std::string());
    return;
  }
  if (UpperName == "TOTALTRACKS") {
    if (LoadedIdOf(wav, "TRACKNUMBER").empty()) return;
    for (auto &t : Tags.Tags)
      if (&*t != &Entry && IsTrackName(AsciiUpperCase(t->Name))) t->Origin = TTagOrigin();
    return;
  }
  const std::string name = UpperName == "TRACK" ? "TRACKNUMBER" : UpperName;
  for (int i = wav.Count() - 1; i >= 0; --i) {
    const std::string &id = wav.Frames[static_cast<std::size_t>(i)]->Name;
    if (RIFFINFOToTagName(id) == name || id == Entry.Name) wav.DeleteFrame(i);
  }
}

int PlanWAVSave(TTags &T, TStream &Content, TRewritePlan &Plan)
{
  const int code = T.PrepareWAVTag();
  return code != wavOk ? code : T.WAVTag.PlanSave(Content, Plan);
}

std::optional<std::int64_t> WAVAudioValue(const TTags &T, TAudioValue What)
{
  const TWAVTag &w = T.WAVTag;
  if (!w.Loaded) return std::nullopt;
  switch (What) {
  case TAudioValue::avBitRate: return NonZero(w.BitRate);
  case TAudioValue::avSamplesPerSec: return NonZero(w.Attributes.SamplesPerSec);
  case TAudioValue::avChannels: return NonZero(w.Attributes.Channels);
  case TAudioValue::avBitsPerSample: return NonZero(w.Attributes.BitsPerSample);
  case TAudioValue::avSampleCount: return NonZero(static_cast<std::int64_t>(w.SampleCount));
  }
  return std::nullopt;
}

constexpr std::array<TNativeCode, 9> kWAVCodes = {{
  {wavOk, tagsOk},
  {wavFileNotFound, tagsFileNotFound},
  {wavWriteFailed, tagsWriteFailed},
  {wavDamaged, tagsCorrupt},
  {wavNotWAVE, tagsWrongFileKind},
  {wavSizeOverflow, tagsSizeOverflow},
  {wavCannotOpen, tagsCannotLockFile},
  {wavReadOnly, tagsUnsupported},
  {wavFailure, tagsUnsupported},
}};
// A file that is no WAVE form has no WAV tag to remove.
constexpr std::array<int, 1> kWAVNothingToRemove = {wavNotWAVE};
constexpr std::array<TAudioContainerType, 2> kWAVContentTypes = {actWAV, actRF64};

} // namespace

constinit const TNativeFormat kWAVFormat = {
  .Type = ttWAV,
  .Load = [](TTags &T, TReadView &V) { return T.WAVTag.Load(V) != wavNotWAVE && T.WAVTag.HasTag(); },
  .IsLoaded = [](const TTags &T) { return T.WAVTag.HasTag() || T.WAVTag.Damaged(); },
  .MapToEntries = [](TTags &T) { T.LoadWAVTags(); },
  .PicturesOnly = TPicturesOnlyLoad::ploSkipped,
  .PlanSave = PlanWAVSave,
  .FinishSave = [](TTags &T, const std::string &FileName) { T.WAVTag.FinishSave(FileName); },
  .AutomaticSave = TAutomaticSave::asTagsTheFile,
  .HoldsEverything = WAVHoldsEverything,
  .ContentTypes = kWAVContentTypes,
  .PlanRemove = TWAVTag::PlanRemove,
  .NothingToRemove = kWAVNothingToRemove,
  .Codes = kWAVCodes,
  .DeleteEntry = DeleteWAVEntry,
  .Clear = [](TTags &T) { T.WAVTag.Clear(); },
  .Assign = [](TTags &T, const TTags &S) { return T.WAVTag.Assign(S.WAVTag); },
  .Size = [](const TTags &T) { return static_cast<std::int64_t>(T.WAVTag.Size); },
  .AudioValue = WAVAudioValue,
  .PlayTime = [](const TTags &T) -> std::optional<TNativePlayTime> {
    if (!T.WAVTag.Loaded || T.WAVTag.PlayTime <= 0) return std::nullopt;
    return TNativePlayTime{TPlayTimeSource::ptsWAVTag, T.WAVTag.PlayTime};
  },
};
