// The container's two-way copy between generic entries and the ID3v2 tag object, and the ID3v2
// row of the format table (at the end).

#include <algorithm>
#include <cstring>

#include "tags/id3/id3v2_dates.h"
#include "tags/id3/id3v2_tag.h"
#include "tags/native_format.h"
#include "tags/picture/picture_format.h"
#include "tags/tag_container.h"
#include "tags/text/lines.h"
#include "tags/text/number_total.h"
#include "tags/text/text.h"

namespace {

struct TFrameName {
  const char *FrameID;
  const char *LoadName;
  const char *SaveNames[2];
};

const TFrameName kID3v2Names[] = {
  {"TPE1", "ARTIST", {"ARTIST"}},           {"TIT2", "TITLE", {"TITLE"}},
  {"TPE2", "ALBUMARTIST", {"ALBUMARTIST"}}, {"TCOM", "COMPOSER", {"COMPOSER"}},
  {"TIT3", "SUBTITLE", {"SUBTITLE"}},       {"TPE4", "MIXARTIST", {"MIXARTIST"}},
  {"TALB", "ALBUM", {"ALBUM"}},             {"TCOP", "COPYRIGHT", {"COPYRIGHT"}},
  {"TIT1", "GROUPING", {"GROUPING"}},       {"TCON", "GENRE", {"GENRE"}},
  {"TDRL", "RELEASEDATE", {"RELEASEDATE"}}, {"TDRC", "RECORDINGDATE", {"RECORDINGDATE"}},
  {"TYER", "YEAR", {"DATE", "YEAR"}},       {"TRCK", "TRACKNUMBER", {"TRACKNUMBER", "TRACK"}},
  {"TPOS", "DISCNUMBER", {"DISCNUMBER", "DISC"}}, {"TBPM", "BPM", {"BPM"}},
  {"TKEY", "KEY", {"KEY"}},                 {"TPE3", "CONDUCTOR", {"CONDUCTOR"}},
  {"TEXT", "LYRICIST", {"LYRICIST"}},       {"TPRO", "PRODUCED", {"PRODUCED"}},
  {"TSTU", "STUDIO", {"STUDIO"}},           {"TPUB", "PUBLISHER", {"PUBLISHER"}},
  {"TENC", "ENCODEDBY", {"ENCODEDBY"}},     {"TSSE", "SOFTWARESETTINGS", {"SOFTWARESETTINGS"}},
  {"TSRC", "ISRC", {"ISRC"}},               {"TSST", "DISCSUBTITLE", {"DISCSUBTITLE"}},
  {"TLAN", "LANGUAGE", {"LANGUAGE"}},       {"TMED", "MEDIA", {"MEDIA"}},
  {"TIPL", "TIPL", {"TIPL"}},               {"TMCL", "TMCL", {"TMCL"}},
  {"TMOO", "MOOD", {"MOOD"}},               {"COMM", "COMMENT", {"COMMENT"}},
  {"USLT", "LYRICS", {"LYRICS"}},           {"TSOP", "ARTISTSORT", {"ARTISTSORT"}},
  {"TSOT", "TITLESORT", {"TITLESORT"}},     {"TSO2", "ALBUMARTISTSORT", {"ALBUMARTISTSORT"}},
  {"TSOA", "ALBUMSORT", {"ALBUMSORT"}},     {"TOPE", "ORIGINALARTIST", {"ORIGINALARTIST"}},
  {"TOAL", "ORIGINALTITLE", {"ORIGINALTITLE"}}, {"TOLY", "ORIGINALLYRICIST", {"ORIGINALLYRICIST"}},
  {"TOFN", "ORIGINALFILENAME", {"ORIGINALFILENAME"}}, {"TDOR", "ORIGINALRELEASEDATE", {"ORIGINALRELEASEDATE"}},
  {"WOAR", "ARTISTURL", {"ARTISTURL"}},     {"WOAF", "AUDIOFILEURL", {"AUDIOFILEURL"}},
  {"WCOM", "BUYCDURL", {"BUYCDURL"}},       {"WPUB", "PUBLISHERURL", {"PUBLISHERURL"}},
  {"WORS", "RADIOSTATIONURL", {"RADIOSTATIONURL"}}, {"WCOP", "COPYRIGHTURL", {"COPYRIGHTURL"}},
  {"WOAS", "OFFICIALAUDIOSOURCEURL", {"OFFICIALAUDIOSOURCEURL"}}, {"WPAY", "PAYMENTURL", {"PAYMENTURL"}},
  {"TOWN", "FILEOWNER", {"FILEOWNER"}},     {"TRSN", "RADIOSTATIONNAME", {"RADIOSTATIONNAME"}},
  {"TRSO", "RADIOSTATIONOWNER", {"RADIOSTATIONOWNER"}}, {"TSOC", "COMPOSERSORT", {"COMPOSERSORT"}},
  // The stand-ins a widely used player wrote into 2.3 tags before the sort frames existed: read
  // as the sort names, never written (the names go to the frames above).
  {"XSOP", "ARTISTSORT", {}},               {"XSOT", "TITLESORT", {}},
  {"XSOA", "ALBUMSORT", {}},
};

// The sort frame an older stand-in ("XSOP") stands for ("TSOP"); empty for any other ID.
std::string SortFrameOfStandIn(const std::string &FrameID)
{
  return FrameID == "XSOP" || FrameID == "XSOT" || FrameID == "XSOA" ? "T" + FrameID.substr(1) : std::string();
}

// A frame whose value an entry stands for. An opaque frame stands for none, and so does a
// stand-in beside the sort frame it stands for.
bool GivesEntry(const TID3v2Tag &Tag, int Index)
{
  const TID3v2Frame &f = *Tag.Frame(Index);
  if (f.Opaque()) return false;
  const std::string sort = SortFrameOfStandIn(f.IDText());
  return sort.empty() || Tag.FrameExists(sort) < 0;
}

// The frame a COMMENT or LYRICS entry stands for: the first one without a description, else
// the first whose description is not one of the player's private ones ("iTunNORM", ...).
int ContentFrameForEntry(const TID3v2Tag &Tag, const char *FrameID)
{
  const int plain = Tag.FindContentByDescription(FrameID, "");
  if (plain >= 0) return plain;
  for (int i = 0; i < Tag.FrameCount(); ++i) {
    std::string language, description, content;
    if (Tag.Frame(i)->IsID(FrameID) && Tag.GetContent(i, language, description, content) &&
        !StartsText("iTun", description))
      return i;
  }
  return -1;
}

// The totals that travel inside the track and disc frames ("3/12").
bool IsTotalName(const std::string &Name)
{
  const std::string n = AsciiUpperCase(Name);
  return n == "TOTALTRACKS" || n == "TRACKTOTAL" || n == "TOTALDISCS" || n == "DISCTOTAL";
}

bool IsTrackTotalName(const std::string &UpperName) { return UpperName == "TOTALTRACKS" || UpperName == "TRACKTOTAL"; }

bool IsNumberName(const std::string &UpperName)
{
  return UpperName == "TRACKNUMBER" || UpperName == "TRACK" || UpperName == "DISCNUMBER" || UpperName == "DISC";
}

// A number name and a total name of the same kind: tracks or discs.
bool SameNumberKind(const std::string &UpperNumber, const std::string &UpperTotal)
{
  return (UpperNumber[0] == 'T') == IsTrackTotalName(UpperTotal);
}

// Frames of version 2.4 that version 2.3 has no form for; in a 2.3 tag their values go to user
// text frames named like the entry, so that nothing the caller set is lost.
bool HasNoV23Form(const std::string &FrameID)
{
  return FrameID == "TDRL" || FrameID == "TSST" || FrameID == "TMOO" || FrameID == "TPRO";
}

int TargetMajorVersion(const TID3v2Tag &Tag)
{
  if (Tag.WriteVersion == sfid3v24) return 4;
  if (Tag.WriteVersion == sfid3v23) return 3;
  return Tag.MajorVersion == 4 ? 4 : 3;
}

} // namespace

std::string ID3v2FrameIDToTagName(const std::string &FrameID)
{
  for (const TFrameName &n : kID3v2Names)
    if (FrameID == n.FrameID) return n.LoadName;
  return "";
}

std::string TagNameToID3v2FrameID(const std::string &Name)
{
  const std::string upper = AsciiUpperCase(Name);
  for (const TFrameName &n : kID3v2Names)
    for (const char *s : n.SaveNames)
      if (s && upper == s) return n.FrameID;
  return "";
}

std::string ExtractYear(const std::string &Text)
{
  // Runs of four decimal digits; Unicode decimal digits of the common blocks count too.
  std::u16string u = Utf8ToUtf16(Text);
  const auto digitValue = [](char16_t c) -> int {
    static const char16_t kZeros[] = {u'0', 0x0660, 0x06F0, 0x0966, 0x09E6, 0x0A66, 0x0AE6, 0x0B66, 0x0BE6, 0x0C66,
                                      0x0CE6, 0x0D66, 0x0E50, 0x0ED0, 0x0F20, 0x1040, 0xFF10};
    for (char16_t z : kZeros)
      if (c >= z && c <= z + 9) return c - z;
    return -1;
  };
  for (std::size_t i = 0; i + 4 <= u.size(); ++i) {
    std::string year;
    std::size_t k = 0;
    for (; k < 4 && digitValue(u[i + k]) >= 0; ++k) year.push_back(static_cast<char>('0' + digitValue(u[i + k])));
    if (k == 4) return year;
  }
  return "";
}

bool TTags::ClearAllID3v2FramesByID(TID3v2Tag &Tag, const std::string &FrameID)
{
  bool any = false;
  for (int i = Tag.FrameCount() - 1; i >= 0; --i)
    if (Tag.Frame(i)->IsID(FrameID)) any = Tag.DeleteFrame(i) || any;
  return any;
}

bool TTags::ClearAllID3v2FramesTXXXByDescription(TID3v2Tag &Tag, const std::string &Description)
{
  bool any = false;
  const std::string want = AsciiUpperCase(Description);
  for (int i = Tag.FrameCount() - 1; i >= 0; --i) {
    std::string description, text;
    if (!Tag.Frame(i)->IsID("TXXX") || !Tag.GetUserDefinedTextInformation(i, description, text)) continue;
    if (AsciiUpperCase(description) == want) any = Tag.DeleteFrame(i) || any;
  }
  return any;
}

namespace {

// Entries an earlier tag loaded under the names this tag's frames load to: the frames' values
// take their place.
void RemoveShadowedEntries(TTags &Tags)
{
  TID3v2Tag &v2 = Tags.ID3v2Tag;
  for (int i = 0; i < v2.FrameCount(); ++i) {
    if (!GivesEntry(v2, i)) continue;
    const std::string id = v2.Frame(i)->IDText();
    const std::string name = ID3v2FrameIDToTagName(id);
    if (!name.empty()) Tags.RemoveFromList(name);
    // The tag's recording time is its year: an ID3v1 year loaded before must not shadow it.
    if (name == "RECORDINGDATE") Tags.RemoveFromList("YEAR");
    if (name == "TRACKNUMBER") Tags.RemoveFromList("TRACK");
    if (name == "DISCNUMBER") Tags.RemoveFromList("DISC");
    std::string description, value;
    if (id == "TXXX" && v2.GetUserDefinedTextInformation(i, description, value)) Tags.RemoveFromList(description);
    if (id == "WXXX" && v2.GetUserDefinedURLLink(i, description, value))
      Tags.RemoveFromList(description.empty() ? "URL" : description);
  }
}

// The entry of a frame with a name of its own: text (a line per string), an involved-people
// list, a URL, or the one COMMENT or LYRICS frame (ContentFrame); false for any other frame.
bool ReadNamedFrame(const TID3v2Tag &Tag, int Index, int ContentFrame, TTag &Entry)
{
  std::string language = "   ";
  const std::string id = Tag.Frame(Index)->IDText();
  const std::string sort = SortFrameOfStandIn(id);
  switch (ID3v2FrameKind(sort.empty() ? id : sort)) {
  case fkText: {
    std::vector<std::string> list;
    Tag.GetTextMultiple(Index, list);
    Entry.Value = JoinLines(list);
    break;
  }
  case fkList: {
    std::vector<std::string> list;
    Tag.GetListFrame(Index, list);
    Entry.Value = PairItemsToText(list);
    break;
  }
  case fkContent:
    // The other frames of those kinds stay in the file as they are.
    if (Index != ContentFrame || !Tag.GetContent(Index, language, Entry.Description, Entry.Value)) return false;
    if (language.size() != 3) language = "   ";
    break;
  case fkURL: Entry.Value = Tag.GetURL(Index); break;
  default: return false;
  }
  Entry.Language = language;
  return true;
}

// A 2.3 tag keeps the day and time of its year in frames of their own: the year entry gives the
// whole date ("2021-05-04T10:30") when they are valid, as the recording time of 2.4 does.
std::string YearWithDayAndTime(const TID3v2Tag &Tag, const std::string &Year)
{
  const int day = Tag.FrameExists("TDAT");
  if (day < 0) return Year;
  const int time = Tag.FrameExists("TIME");
  const std::string hourMinute = time < 0 ? std::string() : Tag.GetText(time);
  const std::string stamp = ID3v2TimeStampFromParts(Year, Tag.GetText(day), hourMinute);
  return stamp.empty() ? Year : stamp;
}

void LoadNamedFrame(TTags &Tags, int Index, const std::string &Name, int ContentFrame)
{
  TTag read(&Tags);
  if (!ReadNamedFrame(Tags.ID3v2Tag, Index, ContentFrame, read)) return;
  std::string number, total;
  if ((Name == "TRACKNUMBER" || Name == "DISCNUMBER") && SplitNumberTotal(read.Value, number, total)) {
    const char *totalName = Name == "TRACKNUMBER" ? "TOTALTRACKS" : "TOTALDISCS";
    Tags.Add(Name)->Value = number;
    // Out of the list only: loading never changes the native objects it walks.
    Tags.RemoveFromList(totalName);
    Tags.Add(totalName)->Value = total;
    return;
  }
  if (Name == "YEAR") read.Value = YearWithDayAndTime(Tags.ID3v2Tag, read.Value);
  TTag *t = Tags.Add(Name);
  t->Value = read.Value;
  t->Description = read.Description;
  t->Language = read.Language;
}

// The frames without a name of their own that still give an entry: user text and URL frames
// (named by their description), the play counter and the rating. False for any other frame.
bool LoadUnnamedFrame(TTags &Tags, int Index)
{
  const TID3v2Tag &v2 = Tags.ID3v2Tag;
  const std::string id = v2.Frame(Index)->IDText();
  switch (ID3v2FrameKind(id)) {
  case fkUserText: {
    std::string description;
    std::vector<std::string> list;
    if (!v2.GetUserDefinedTextInformationMultiple(Index, description, list)) return true;
    if (IsTotalName(description) && Tags.Exists(AsciiUpperCase(description)) >= 0) return true;
    TTag *t = Tags.Add(description);
    t->Value = JoinLines(list);
    t->Description = description;
    t->ExtTagType = ettTXXX;
    return true;
  }
  case fkUserURL: {
    std::string description, url;
    if (!v2.GetUserDefinedURLLink(Index, description, url) || url.empty()) return true;
    TTag *t = Tags.Add(description.empty() ? std::string("URL") : description);
    t->Value = url;
    t->Description = description;
    t->ExtTagType = ettWXXX;
    return true;
  }
  case fkPlayCounter:
    Tags.Add("PLAYCOUNT")->Value = std::to_string(std::max<std::int64_t>(0, v2.GetPlayCount(Index)));
    return true;
  default: break;
  }
  if (id != "POPM") return false;
  std::string email;
  std::uint8_t rating = 0;
  std::uint64_t counter = 0;
  if (v2.GetPopularimeter(Index, email, rating, counter)) Tags.Add("RATING")->Value = std::to_string(rating);
  return true;
}

// The picture frames whose pictures can be read.
int PictureFrameCount(const TID3v2Tag &Tag)
{
  int n = 0;
  for (int i = 0; i < Tag.FrameCount(); ++i)
    if (Tag.Frame(i)->IsID("APIC") && !Tag.Frame(i)->Opaque()) ++n;
  return n;
}

// A picture frame as a picture of the list; a large picture stays in the file until asked for.
void LoadPicture(TTags &Tags, int Index, int &Pictures)
{
  TBytes head;
  TFileRange inFile;
  std::string mime, description;
  std::uint8_t coverType = 0;
  if (!Tags.ID3v2Tag.GetCoverPictureLocation(Index, mime, description, coverType, head, inFile)) return;
  TCoverArt *c = Tags.AddCoverArt("Cover art " + std::to_string(++Pictures));
  c->MIMEType = mime;
  c->Description = description;
  c->CoverType = coverType;
  c->PictureFormat = PicturePointerType(head.data(), static_cast<std::int64_t>(head.size()));
  if (inFile.Empty()) c->Stream.Data() = std::move(head);
  else c->Deferred = inFile;
}

// The entries (or the picture) of the frame at Index.
void LoadFrame(TTags &Tags, int Index, int CommentFrame, int LyricsFrame, int &Pictures)
{
  const TID3v2Tag &v2 = Tags.ID3v2Tag;
  const std::string id = v2.Frame(Index)->IDText();
  const std::string name = ID3v2FrameIDToTagName(id);
  if (name == "GENRE") {
    Tags.Add("GENRE")->Value = ID3v2GenreToText(v2.GetText(Index));
    return;
  }
  if (!name.empty() && !Tags.OnlyParseCoverArts) {
    LoadNamedFrame(Tags, Index, name, id == "COMM" ? CommentFrame : LyricsFrame);
    return;
  }
  if (!Tags.OnlyParseCoverArts && LoadUnnamedFrame(Tags, Index)) return;
  if (id == "APIC" && Tags.ParseCoverArts) LoadPicture(Tags, Index, Pictures);
}

} // namespace

void TTags::LoadID3v2Tags()
{
  TID3v2Tag &v2 = ID3v2Tag;
  if (!OnlyParseCoverArts) {
    for (const char *id : {"SESC", "SEFC", "SEBR"}) ClearAllID3v2FramesByID(v2, id);
    RemoveShadowedEntries(*this);
  }
  if (PictureFrameCount(v2) > 0) DeleteAllCoverArts();

  const int commentFrame = ContentFrameForEntry(v2, "COMM");
  const int lyricsFrame = ContentFrameForEntry(v2, "USLT");
  int pictures = 0;
  for (int i = 0; i < v2.FrameCount(); ++i) {
    if (!GivesEntry(v2, i)) continue;
    LoadFrame(*this, i, commentFrame, lyricsFrame, pictures);
    MarkNewEntriesLoaded(ttID3v2, v2.Frame(i)->Serial);
  }
  Loaded = true;
}

namespace {

// The first frame with this ID stays where it is and later ones of that ID go: values are
// written in place, so that the frames keep their order from save to save.
int KeepFirstFrame(TID3v2Tag &Tag, const std::string &FrameID)
{
  const int first = Tag.FrameExists(FrameID);
  if (first < 0) return -1;
  for (int i = Tag.FrameCount() - 1; i > first; --i)
    if (Tag.Frame(i)->IsID(FrameID)) Tag.DeleteFrame(i);
  return first;
}

// Writes Values to the text frame FrameID (no value: the frame goes). A frame that holds the
// values already is left as it is, bytes and encoding included, so that a save without an
// edit changes nothing.
void PutTextFrame(TID3v2Tag &Tag, const std::string &FrameID, TStringList Values, TID3v2TextEncoding Encoding)
{
  Values.erase(std::remove(Values.begin(), Values.end(), std::string()), Values.end());
  const int first = KeepFirstFrame(Tag, FrameID);
  if (Values.empty()) {
    if (first >= 0) Tag.DeleteFrame(first);
    return;
  }
  if (first < 0) {
    Tag.SetTextMultiple(FrameID, Values, Encoding);
    return;
  }
  std::vector<std::string> now;
  if (Tag.GetTextMultiple(first, now)) {
    if (now == Values) return;
    // A genre shown by name ("Rock" for "(17)") is the same genre.
    if (FrameID == "TCON" && Values.size() == 1 && ID3v2GenreToText(JoinLines(now)) == Values[0]) return;
  }
  Tag.SetTextMultiple(first, Values, Encoding);
}

// Whether the picture frame at Index holds the picture C.
bool SamePicture(const TID3v2Tag &Tag, int Index, const TCoverArt &C)
{
  TBytes head;
  TFileRange inFile;
  std::string mime, description;
  std::uint8_t type = 0;
  if (!Tag.GetCoverPictureLocation(Index, mime, description, type, head, inFile)) return false;
  if (mime != C.MIMEType || description != C.Description || type != static_cast<std::uint8_t>(C.CoverType)) return false;
  // A picture still in the file where this frame's picture is needs no comparing of bytes.
  if (!inFile.Empty() && C.IsDeferred() && inFile.File == C.Deferred.File && inFile.Offset == C.Deferred.Offset &&
      inFile.Size == C.Deferred.Size)
    return true;
  TBytes bytes;
  return Tag.GetCoverPictureInfo(Index, bytes, mime, description, type) && !C.IsDeferred() && bytes == C.Stream.Data();
}

// A total that its track or disc entry carries ("3/12"): written inside that frame, since a user
// text frame beside it would hold the same value twice and load as a second entry.
bool TotalIsFolded(const TTags &Tags, const std::string &UpperName)
{
  const bool track = IsTrackTotalName(UpperName);
  return !Tags.GetText(track ? "TRACKNUMBER" : "DISCNUMBER").empty() || !Tags.GetText(track ? "TRACK" : "DISC").empty();
}

// The year frame of the version written, with the day and time of a date that has them: 2.4
// keeps the whole date in its recording time, 2.3 in its year, day-month and time frames.
void PutYear(TID3v2Tag &Tag, const std::string &Value, TID3v2TextEncoding Encoding, int Version)
{
  const TID3v2TimeStamp date = SplitID3v2TimeStamp(TrimBlanks(Value));
  const std::string year = date.Year.empty() ? ExtractYear(Value) : date.Year;
  const std::string id = Version == 4 ? "TDRC" : "TYER";
  if (date.Month.empty()) {
    // A year alone that is the year already there leaves the frame alone, with the day and
    // time stored beside it.
    const int existing = Tag.FrameExists(id);
    if (!year.empty() && existing >= 0 && Tag.FrameTypeCount(id) == 1 && ExtractYear(Tag.GetText(existing)) == year)
      return;
  }
  if (Version == 4) {
    PutTextFrame(Tag, id, {date.Month.empty() ? year : ID3v2TimeStampText(date)}, Encoding);
    return;
  }
  // Whatever the date does not give goes: a new date makes the old day and time wrong.
  PutTextFrame(Tag, id, {year}, teUnicode);
  PutTextFrame(Tag, "TDAT", {ID3v2DayMonthText(date)}, teUnicode);
  PutTextFrame(Tag, "TIME", {ID3v2HourMinuteText(date)}, teUnicode);
}

// A year set by a caller goes to the year frame of the version written (PutYear). A year frame
// of the other version that the load kept (a recording time in a 2.3 tag, a year with its date
// and time in a 2.4 tag) and that names another year would contradict it, and readers that
// prefer that frame would show the old year: it goes.
void DropOtherYearFrames(TID3v2Tag &Tag, const std::string &Value, int Version)
{
  const std::string year = ExtractYear(Value);
  const char *other = Version == 4 ? "TYER" : "TDRC";
  bool dropped = false;
  for (int i = Tag.FrameCount() - 1; i >= 0; --i)
    if (Tag.Frame(i)->IsID(other) && ExtractYear(Tag.GetText(i)) != year) dropped = Tag.DeleteFrame(i) || dropped;
  if (dropped && Version == 4) {
    TTags::ClearAllID3v2FramesByID(Tag, "TDAT");
    TTags::ClearAllID3v2FramesByID(Tag, "TIME");
  }
}

// A track or disc number goes out with the total entry folded in.
void PutNumber(TTags &Tags, const std::string &UpperName, const std::string &FrameID, const std::string &Value,
               TID3v2TextEncoding Encoding)
{
  const bool track = UpperName[0] == 'T';
  std::string total = Tags.GetText(track ? "TOTALTRACKS" : "TOTALDISCS");
  if (total.empty()) total = Tags.GetText(track ? "TRACKTOTAL" : "DISCTOTAL");
  // An empty number removes the frame, whatever the total.
  const std::string text = Value.empty() ? Value : JoinNumberTotal(Value, total);
  PutTextFrame(Tags.ID3v2Tag, FrameID, {text}, Encoding);
}

// Only the frame this entry stands for is replaced: the one with its description and language.
void PutContent(TID3v2Tag &Tag, const TTag &Entry, const std::string &FrameID, TID3v2TextEncoding Encoding)
{
  const std::string language = Entry.Language.size() == 3 && Entry.Language != "   " ? Entry.Language : "eng";
  const int old =
    Tag.FindContentByDescription(FrameID, Entry.Description, Entry.Language == "   " ? std::string() : Entry.Language);
  std::string l, d, content;
  if (old >= 0 && Tag.GetContent(old, l, d, content) && content == Entry.Value) return;
  if (Entry.Value.empty()) {
    if (old >= 0) Tag.DeleteFrame(old);
  } else if (old >= 0) {
    Tag.SetContent(old, Entry.Value, Encoding, Entry.Description, l.size() == 3 ? l : language);
  } else {
    Tag.SetContentByDescription(FrameID, Entry.Value, Encoding, Entry.Description, language);
  }
}

void PutList(TID3v2Tag &Tag, const TTag &Entry, const std::string &FrameID, TID3v2TextEncoding Encoding)
{
  TStringList pairs;
  Entry.GetList(pairs);
  const int first = KeepFirstFrame(Tag, FrameID);
  std::vector<std::string> now;
  if (first >= 0 && Tag.GetListFrame(first, now) && now == pairs) return;
  if (pairs.empty()) {
    if (first >= 0) Tag.DeleteFrame(first);
  } else if (first >= 0) {
    Tag.SetListFrame(first, pairs, Encoding);
  } else {
    Tag.SetListFrame(FrameID, pairs, Encoding);
  }
}

// URL into the first frame FrameID (later ones go); an empty URL removes it.
void PutURL(TID3v2Tag &Tag, const std::string &FrameID, const std::string &URL)
{
  const int first = KeepFirstFrame(Tag, FrameID);
  if (first >= 0 && Tag.GetURL(first) == URL) return;
  if (URL.empty()) {
    if (first >= 0) Tag.DeleteFrame(first);
  } else if (first >= 0) {
    Tag.SetURL(first, URL);
  } else {
    Tag.SetURL(FrameID, URL);
  }
}

// An entry whose name has a frame of its own.
void PutNamedFrame(TTags &Tags, const TTag &Entry, const std::string &FrameID, TID3v2TextEncoding Encoding)
{
  TID3v2Tag &v2 = Tags.ID3v2Tag;
  switch (ID3v2FrameKind(FrameID)) {
  case fkContent: PutContent(v2, Entry, FrameID, Encoding); break;
  case fkList: PutList(v2, Entry, FrameID, Encoding); break;
  case fkURL: PutURL(v2, FrameID, Entry.Value); break;
  default: {
    TStringList values;
    Tags.GetMultipleList(Entry.Name, values);
    PutTextFrame(v2, FrameID, values, Encoding);
    break;
  }
  }
}

void PutPlayCount(TID3v2Tag &Tag, const std::string &Value)
{
  std::int64_t n = 0;
  if (!TryParseInt64(TrimBlanks(Value), n) || n < 0 || n > 0xFFFFFFFFLL) n = 0;
  const int first = KeepFirstFrame(Tag, "PCNT");
  if (first >= 0 && Tag.GetPlayCount(first) == n) return;
  if (first >= 0) Tag.SetPlayCount(first, static_cast<std::uint32_t>(n));
  else Tag.SetPlayCount("PCNT", static_cast<std::uint32_t>(n));
}

// A user URL entry, or the URL entry a caller set; false for any other entry.
bool PutWebAddress(TTags &Tags, const TTag &Entry, const std::string &UpperName, TID3v2TextEncoding Encoding)
{
  TID3v2Tag &v2 = Tags.ID3v2Tag;
  std::string now;
  // A web address set by a caller goes where the file keeps one without a description, or,
  // in a file without one, to the artist URL frame, where other programs show a track's
  // web address (unless an artist URL of its own is set).
  if (UpperName == "URL" && Entry.ExtTagType == ettUnknown) {
    const int plain = v2.FindUserDefinedURLLinkByDescription("", now);
    const std::string artistURL = Tags.GetText("ARTISTURL");
    // The artist URL frame that held what this entry held before the edit (the same web
    // address, loaded from another tag of the file) follows it.
    const bool mirrored = Entry.Origin.Type != ttNone && artistURL == Entry.Origin.Value;
    if (plain < 0 && (artistURL.empty() || artistURL == Entry.Value || mirrored)) {
      const int first = KeepFirstFrame(v2, "WOAR");
      if (first >= 0 && v2.GetURL(first) == Entry.Value) return true;
      if (first >= 0) v2.SetURL(first, Entry.Value);
      else v2.SetURL("WOAR", Entry.Value);
      return true;
    }
  }
  if (Entry.ExtTagType != ettWXXX && UpperName != "URL") return false;
  const std::string description = Entry.ExtTagType == ettWXXX ? Entry.Description : std::string();
  if (v2.FindUserDefinedURLLinkByDescription(description, now) >= 0 && now == Entry.Value) return true;
  v2.SetUserDefinedURLLinkByDescription(description, Entry.Value, Encoding);
  return true;
}

// A rating set by a caller goes into the rating frame it was loaded from, else into the
// file's first one: its rating byte changes, the rater's e-mail and the play counter stay.
// False (a user text frame takes it) when there is no such frame or the value is no rating.
bool PutRating(TID3v2Tag &Tag, const TTag &Entry)
{
  std::int64_t rating = 0;
  if (Entry.ExtTagType == ettTXXX || !TryParseInt64(TrimBlanks(Entry.Value), rating) || rating < 0 || rating > 255)
    return false;
  int frame = Entry.Origin.Type == ttID3v2 ? Tag.FrameBySerial(Entry.Origin.Item) : -1;
  if (frame < 0 || !Tag.Frame(frame)->IsID("POPM")) frame = Tag.FrameExists("POPM");
  if (frame < 0) return false;
  std::string email;
  std::uint8_t now = 0;
  std::uint64_t counter = 0;
  if (Tag.GetPopularimeter(frame, email, now, counter) && now == rating) return true;
  return Tag.SetPopularimeterRating(frame, static_cast<std::uint8_t>(rating));
}

// Every other name is a user text frame with the name as its description: the first such frame
// takes the values in place, later ones go.
void PutUserText(TTags &Tags, const TTag &Entry, const std::string &UpperName, TID3v2TextEncoding Encoding)
{
  TID3v2Tag &v2 = Tags.ID3v2Tag;
  TStringList values;
  Tags.GetMultipleList(Entry.Name, values);
  values.erase(std::remove(values.begin(), values.end(), std::string()), values.end());
  int first = -1;
  for (int i = 0; i < v2.FrameCount(); ++i) {
    std::string description, text;
    if (!v2.Frame(i)->IsID("TXXX") || !v2.GetUserDefinedTextInformation(i, description, text)) continue;
    if (AsciiUpperCase(description) != UpperName) continue;
    if (first < 0) first = i;
    else v2.DeleteFrame(i--);
  }
  std::string description;
  std::vector<std::string> now;
  if (values.empty()) {
    if (first >= 0) v2.DeleteFrame(first);
  } else if (first < 0 || !v2.GetUserDefinedTextInformationMultiple(first, description, now) || now != values) {
    v2.SetTXXXByDescriptionMultiple(Entry.Name, values, Encoding);
  }
}

// The frames that go with FrameID once its value is gone or written anew: the older stand-in of a
// sort frame, and the day and time of a 2.3 year that has no year frame left.
void DeleteCompanionFrames(TID3v2Tag &Tag, const std::string &FrameID)
{
  for (const char *standIn : {"XSOP", "XSOT", "XSOA"})
    if (SortFrameOfStandIn(standIn) == FrameID) TTags::ClearAllID3v2FramesByID(Tag, standIn);
  if (FrameID == "TYER" && Tag.FrameExists("TYER") < 0)
    for (const char *part : {"TDAT", "TIME"}) TTags::ClearAllID3v2FramesByID(Tag, part);
}

void PutEntry(TTags &Tags, const TTag &Entry, TID3v2TextEncoding Encoding, int Version)
{
  const std::string upper = AsciiUpperCase(Entry.Name);
  std::string frame = TagNameToID3v2FrameID(upper);
  if (Version == 3 && HasNoV23Form(frame)) frame.clear();
  if (IsTotalName(upper) && TotalIsFolded(Tags, upper)) {
    TTags::ClearAllID3v2FramesTXXXByDescription(Tags.ID3v2Tag, Entry.Name);
    return;
  }
  if (frame == "TYER") {
    DropOtherYearFrames(Tags.ID3v2Tag, Entry.Value, Version);
    return PutYear(Tags.ID3v2Tag, Entry.Value, Encoding, Version);
  }
  if (IsNumberName(upper)) return PutNumber(Tags, upper, frame, Entry.Value, Encoding);
  if (!frame.empty()) {
    PutNamedFrame(Tags, Entry, frame, Encoding);
    // A sort name written to its frame leaves no older stand-in with the old value beside it.
    if (!SortFrameOfStandIn("X" + frame.substr(1)).empty()) DeleteCompanionFrames(Tags.ID3v2Tag, frame);
    return;
  }
  if (upper == "PLAYCOUNT") return PutPlayCount(Tags.ID3v2Tag, Entry.Value);
  if (upper == "RATING" && PutRating(Tags.ID3v2Tag, Entry)) return;
  if (PutWebAddress(Tags, Entry, upper, Encoding)) return;
  PutUserText(Tags, Entry, upper, Encoding);
}

// The pictures go out as picture frames, in their order: a frame that holds its picture already
// stays as it is, any other takes the picture of its place, and frames beyond the pictures go.
// A picture frame that cannot be read (opaque) is no picture of the list and stays as it is.
void PutPictures(TID3v2Tag &Tag, const std::vector<std::unique_ptr<TCoverArt>> &Pictures)
{
  std::vector<int> frames;
  for (int i = 0; i < Tag.FrameCount(); ++i)
    if (Tag.Frame(i)->IsID("APIC") && !Tag.Frame(i)->Opaque()) frames.push_back(i);
  for (std::size_t k = 0; k < Pictures.size(); ++k) {
    TCoverArt &c = *Pictures[k];
    if (k < frames.size() && SamePicture(Tag, frames[k], c)) continue;
    if (c.MIMEType.empty()) {
      if (c.PictureFormat == tpfUnknown) c.PictureFormat = PictureStreamType(&c.Stream);
      c.MIMEType = PictureFormatMIMEType(c.PictureFormat);
    }
    c.Stream.SetPosition(0);
    // New frames go after every other, so the places in frames stay right.
    const int index = k < frames.size() ? frames[k] : Tag.AddFrame("APIC");
    Tag.SetCoverPictureFromStream(index, c.Description, c.Stream, c.MIMEType, static_cast<std::uint8_t>(c.CoverType));
  }
  for (std::size_t k = frames.size(); k-- > Pictures.size();) Tag.DeleteFrame(frames[k]);
}

// Whether a save writes Entry into the ID3v2 tag. A tag the file has gets only what changed
// since the load: an entry as it was loaded leaves the frame it came from as it is (so the
// frame goes out as the bytes it was read from), and an entry another tag gave stays out of
// this one. A tag the save creates gets every entry.
bool GoesIntoTag(const TTags &Tags, const TTag &Entry)
{
  if (!Tags.ID3v2Tag.Loaded) return true;
  // An ID3v2 tag in front of a FLAC stream is not where the file keeps its tags: it stays as it
  // is but for changes to the values it gave itself.
  if (Tags.FlacTag.Loaded && Entry.Origin.Type != ttID3v2) return false;
  if (!Entry.IsUnchanged()) return true;
  // A number goes out with its total ("3/12"): a total set since the load rewrites it.
  const std::string upper = AsciiUpperCase(Entry.Name);
  if (!IsNumberName(upper)) return false;
  return std::any_of(Tags.Tags.begin(), Tags.Tags.end(), [&](const auto &t) {
    const std::string name = AsciiUpperCase(t->Name);
    return IsTotalName(name) && SameNumberKind(upper, name) && !t->IsUnchanged();
  });
}

} // namespace

void TTags::PrepareID3v2Tag()
{
  const TID3v2TextEncoding encoding = ID3v2WriteUTF8Text ? teUTF8 : teUnicode;
  const int version = TargetMajorVersion(ID3v2Tag);
  for (const auto &entry : Tags)
    if (GoesIntoTag(*this, *entry)) PutEntry(*this, *entry, encoding, version);
  // A tag the file has keeps its own pictures until the pictures are changed: those shown may
  // have come from another tag of the file. In front of a FLAC stream the tag takes changed
  // pictures only when it holds pictures itself.
  if (!ID3v2Tag.Loaded || (PicturesChanged() && (!FlacTag.Loaded || PictureFrameCount(ID3v2Tag) > 0)))
    PutPictures(ID3v2Tag, CoverArts);
}

void TTags::DeleteID3v2Entry(const std::string &UpperName, const TTag &Entry)
{
  TID3v2Tag &v2 = ID3v2Tag;
  // A number and its total share one frame ("3/12"): with one of them gone, the other is
  // written again on its own.
  if (IsNumberName(UpperName) || IsTotalName(UpperName)) {
    for (auto &t : Tags) {
      const std::string name = AsciiUpperCase(t->Name);
      const bool partner = IsNumberName(UpperName) ? IsTotalName(name) && SameNumberKind(UpperName, name)
                                                   : IsNumberName(name) && SameNumberKind(name, UpperName);
      if (partner) t->Origin = TTagOrigin();
    }
  }
  // The frame the entry was loaded from is the one it stands for (a total only shares it).
  if (Entry.Origin.Type == ttID3v2 && !IsTotalName(UpperName)) {
    const int loaded = v2.FrameBySerial(Entry.Origin.Item);
    if (loaded >= 0) {
      v2.DeleteFrame(loaded);
      DeleteCompanionFrames(v2, TagNameToID3v2FrameID(UpperName));
      return;
    }
  }
  const auto deleteUser = [&](const char *ID, bool Url) {
    for (int i = v2.FrameCount() - 1; i >= 0; --i) {
      if (!v2.Frame(i)->IsID(ID)) continue;
      std::string description, value;
      if (Url ? v2.GetUserDefinedURLLink(i, description, value) : v2.GetUserDefinedTextInformation(i, description, value))
        if (SameText(description, Url ? Entry.Description : Entry.Name) && (Url || SameText(value, Entry.Value)))
          v2.DeleteFrame(i);
    }
  };
  if (Entry.ExtTagType == ettTXXX) return deleteUser("TXXX", false);
  if (Entry.ExtTagType == ettWXXX || UpperName == "URL") return deleteUser("WXXX", true);
  std::string frame = TagNameToID3v2FrameID(UpperName);
  if (frame == "TYER" && TargetMajorVersion(v2) == 4) frame = "TDRC";
  if (frame.empty()) {
    // Names without a frame of their own are stored as user text frames.
    if (UpperName == "PLAYCOUNT") ClearAllID3v2FramesByID(v2, "PCNT");
    else deleteUser("TXXX", false);
    return;
  }
  if (ID3v2FrameKind(frame) == fkContent) {
    const int i = v2.FindContentByDescription(frame, Entry.Description, Entry.Language == "   " ? std::string() : Entry.Language);
    if (i >= 0) v2.DeleteFrame(i);
    return;
  }
  const int i = v2.FrameExists(frame);
  if (i >= 0) v2.DeleteFrame(i);
  DeleteCompanionFrames(v2, frame);
}

namespace {

int PlanID3v2Save(TTags &T, TStream &Content, TRewritePlan &Plan)
{
  T.PrepareID3v2Tag();
  T.ID3v2Tag.SetAllFrameDataStreams();
  return T.ID3v2Tag.PlanSaveInto(Content, Plan);
}

bool LoadID3v2(TTags &T, TReadView &V)
{
  T.ID3v2Tag.ParseAudioAttributes = T.ParseAudioAttributes;
  T.ID3v2Tag.ParseCoverArts = T.ParseCoverArts;
  const bool loaded = T.ID3v2Tag.LoadFromView(V) == id3v2Ok;
  if (loaded) {
    T.ID3v2Tag.SourceFileName = V.FileName();
    T.ID3v2Tag.DeCompressAllFrames();
  }
  return loaded;
}


// The audio read by the ID3v2 object: MPEG, WAV/RF64, AIFF, DSF or DSDIFF. It is there for a
// file of those kinds whether or not the file carries a tag.
std::optional<std::int64_t> ID3v2AudioValue(const TTags &T, TAudioValue What)
{
  const TID3v2AudioInfo &a = T.ID3v2Tag.AudioInfo;
  if (a.SourceFileType == sftUnknown) return std::nullopt;
  switch (What) {
  case TAudioValue::avBitRate: return NonZero(a.BitRate);
  case TAudioValue::avSamplesPerSec: return NonZero(a.SamplesPerSec());
  case TAudioValue::avChannels: return NonZero(a.Channels());
  case TAudioValue::avBitsPerSample:
    // MPEG audio has no sample size: once the stream is known, the answer is 0.
    if (a.SourceFileType == sftMPEG) return a.SamplesPerSec() != 0 ? std::optional<std::int64_t>(0) : std::nullopt;
    return NonZero(a.BitsPerSample());
  case TAudioValue::avSampleCount: return NonZero(a.SampleCount);
  }
  return std::nullopt;
}

// Every kind the ID3v2 object reads, each in its own place of the play-time order. An AIFF play
// time keeps its fraction: rounding it to whole seconds would make a 2.5 s file read 2 s.
std::optional<TNativePlayTime> ID3v2PlayTime(const TTags &T)
{
  const TID3v2AudioInfo &a = T.ID3v2Tag.AudioInfo;
  if (a.PlayTime <= 0) return std::nullopt;
  switch (a.SourceFileType) {
  case sftMPEG: return TNativePlayTime{TPlayTimeSource::ptsMPEG, a.PlayTime};
  case sftWAVE:
  case sftRF64: return TNativePlayTime{TPlayTimeSource::ptsWAVE, a.PlayTime};
  case sftAIFF: return TNativePlayTime{TPlayTimeSource::ptsAIFF, a.PlayTime};
  case sftDSF: return TNativePlayTime{TPlayTimeSource::ptsDSF, a.PlayTime};
  case sftDFF: return TNativePlayTime{TPlayTimeSource::ptsDSDIFF, a.PlayTime};
  case sftUnknown: break;
  }
  return std::nullopt;
}

constexpr std::array<TNativeCode, 11> kID3v2Codes = {{
  {id3v2Ok, tagsOk},
  {id3v2NoTag, tagsNoTag},
  {id3v2NoFrames, tagsNothingToDo},
  {id3v2FileNotFound, tagsFileNotFound},
  {id3v2UpdateError, tagsUpdateFailed},
  {id3v2WriteError, tagsWriteFailed},
  {id3v2BadContainer, tagsCorrupt},
  {id3v2BadVersion, tagsVersionUnsupported},
  {id3v2WrongContainer, tagsWrongFileKind},
  {id3v2SizeOverflow, tagsSizeOverflow},
  {id3v2NoExclusiveAccess, tagsCannotLockFile},
}};
constexpr std::array<int, 2> kID3v2NothingToRemove = {id3v2NoTag, id3v2NoFrames};
constexpr std::array<TAudioContainerType, 7> kID3v2ContentTypes = {actMPEG, actAIFF, actAIFC, actDSDIFF,
                                                                  actDSF,  actWAV,  actRF64};

} // namespace

constinit const TNativeFormat kID3v2Format = {
  .Type = ttID3v2,
  .Load = LoadID3v2,
  .IsLoaded = [](const TTags &T) { return T.ID3v2Tag.Loaded; },
  .MapToEntries = [](TTags &T) { T.LoadID3v2Tags(); },
  .PicturesOnly = TPicturesOnlyLoad::ploMapped,
  .Extent = [](const TTags &T) {
    return TTagExtent{.AtStart = T.ID3v2Tag.Loaded && T.ID3v2Tag.Position() == 0 ? T.ID3v2Tag.Size : 0};
  },
  .PlanSave = PlanID3v2Save,
  .FinishSave = [](TTags &T, const std::string &) { T.ID3v2Tag.FinishSave(); },
  .AutomaticSave = TAutomaticSave::asTagsTheFile,
  .ContentTypes = kID3v2ContentTypes,
  .BeforeContentSave = [](TTags &T) {
    // Frames that describe the old audio or encoding must not be carried into a new tag.
    for (const char *id : {"SEFC", "SESC", "TLEN"}) TTags::ClearAllID3v2FramesByID(T.ID3v2Tag, id);
  },
  .PlanRemove = PlanID3v2Strip,
  .NothingToRemove = kID3v2NothingToRemove,
  .Codes = kID3v2Codes,
  .DeleteEntry = [](TTags &T, const std::string &N, const TTag &E) { T.DeleteID3v2Entry(N, E); },
  .Clear = [](TTags &T) { T.ID3v2Tag.Clear(); },
  .Assign = [](TTags &T, const TTags &S) { T.ID3v2Tag.Assign(S.ID3v2Tag); return true; },
  .Size = [](const TTags &T) -> std::int64_t { return T.ID3v2Tag.Size; },
  .AudioValue = ID3v2AudioValue,
  .PlayTime = ID3v2PlayTime,
};
