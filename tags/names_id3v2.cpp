// The container's two-way copy between generic entries and the ID3v2 tag object, and the ID3v2
// row of the format table (at the end).

#include <algorithm>
#include <cstring>

#include "tags/id3/id3v2_tag.h"
#include "tags/native_format.h"
#include "tags/picture/picture_format.h"
#include "tags/tag_container.h"
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
  {"TRSO", "RADIOSTATIONOWNER", {"RADIOSTATIONOWNER"}},
};

enum TFrameKind { fkindPRIV, fkindCounter, fkindBinary, fkindUserURL, fkindURL, fkindList, fkindContent, fkindCHAP,
                  fkindCTOC, fkindUserText, fkindText };

TFrameKind KindOf(const std::string &ID)
{
  if (ID == "PRIV") return fkindPRIV;
  if (ID == "PCNT") return fkindCounter;
  if (ID == "SESC" || ID == "SEBR" || ID == "SEFC" || ID == "GEOB" || ID == "APIC") return fkindBinary;
  if (ID == "WXXX") return fkindUserURL;
  if (!ID.empty() && ID[0] == 'W') return fkindURL;
  if (ID == "TIPL" || ID == "TMCL") return fkindList;
  if (ID == "COMM" || ID == "USLT") return fkindContent;
  if (ID == "CHAP") return fkindCHAP;
  if (ID == "CTOC") return fkindCTOC;
  if (ID == "TXXX") return fkindUserText;
  if (!ID.empty() && ID[0] == 'T') return fkindText;
  return fkindBinary;
}

std::string JoinLines(const std::vector<std::string> &List)
{
  std::string out;
  for (std::size_t i = 0; i < List.size(); ++i) {
    if (i) out += "\r\n";
    out += List[i];
  }
  return out;
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

// A number with an optional total: "3/12" -> "3" and "12".
bool SplitTotal(const std::string &Value, std::string &Number, std::string &Total)
{
  const auto slash = Value.find('/');
  if (slash == std::string::npos) return false;
  Number = Value.substr(0, slash);
  Total = Value.substr(slash + 1);
  return true;
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

void TTags::LoadID3v2Tags()
{
  TID3v2Tag &v2 = ID3v2Tag;
  if (!OnlyParseCoverArts) {
    for (const char *id : {"SESC", "SEFC", "SEBR"}) ClearAllID3v2FramesByID(v2, id);
    for (int i = 0; i < v2.FrameCount(); ++i) {
      const std::string id = v2.Frame(i)->IDText();
      const std::string name = ID3v2FrameIDToTagName(id);
      if (!name.empty()) RemoveFromList(name);
      // The tag's recording time is its year: an ID3v1 year loaded before must not shadow it.
      if (name == "RECORDINGDATE") RemoveFromList("YEAR");
      if (name == "TRACKNUMBER") RemoveFromList("TRACK");
      if (name == "DISCNUMBER") RemoveFromList("DISC");
      std::string description, value;
      if (id == "TXXX" && v2.GetUserDefinedTextInformation(i, description, value)) RemoveFromList(description);
      if (id == "WXXX" && v2.GetUserDefinedURLLink(i, description, value)) RemoveFromList(description.empty() ? "URL" : description);
    }
  }
  if (v2.FrameTypeCount("APIC") > 0) DeleteAllCoverArts();

  const int commentFrame = ContentFrameForEntry(v2, "COMM");
  const int lyricsFrame = ContentFrameForEntry(v2, "USLT");
  int pictures = 0;
  for (int i = 0; i < v2.FrameCount(); ++i) {
    const std::string id = v2.Frame(i)->IDText();
    const std::string name = ID3v2FrameIDToTagName(id);
    const TFrameKind kind = KindOf(id);
    if (name == "GENRE") {
      Add("GENRE")->Value = ID3v2GenreToText(v2.GetText(i));
      continue;
    }
    if (!name.empty() && !OnlyParseCoverArts) {
      std::string value, description, language;
      switch (kind) {
      case fkindText: {
        std::vector<std::string> list;
        v2.GetTextMultiple(i, list);
        value = JoinLines(list);
        break;
      }
      case fkindList: {
        std::vector<std::string> list;
        v2.GetListFrame(i, list);
        for (std::string &item : list) std::replace(item.begin(), item.end(), '=', '\n');
        for (const std::string &item : list) {
          const auto nl = item.find('\n');
          value += (nl == std::string::npos ? item : item.substr(0, nl)) + "\r\n";
          value += (nl == std::string::npos ? std::string() : item.substr(nl + 1)) + "\r\n";
        }
        break;
      }
      case fkindContent:
        // One COMMENT and one LYRICS entry; the other frames of those kinds stay in the file
        // as they are.
        if (i != (id == "COMM" ? commentFrame : lyricsFrame) || !v2.GetContent(i, language, description, value)) continue;
        break;
      case fkindURL: value = v2.GetURL(i); break;
      default: continue;
      }
      std::string number, total;
      if ((name == "TRACKNUMBER" || name == "DISCNUMBER") && SplitTotal(value, number, total)) {
        const char *totalName = name == "TRACKNUMBER" ? "TOTALTRACKS" : "TOTALDISCS";
        Add(name)->Value = number;
        // Out of the list only: loading never changes the native objects it walks.
        RemoveFromList(totalName);
        Add(totalName)->Value = total;
        continue;
      }
      TTag *t = Add(name);
      t->Value = value;
      t->Description = description;
      t->Language = kind == fkindContent ? (language.size() == 3 ? language : std::string("   ")) : std::string("   ");
      continue;
    }
    if (!OnlyParseCoverArts) {
      if (kind == fkindUserText) {
        std::string description;
        std::vector<std::string> list;
        if (v2.GetUserDefinedTextInformationMultiple(i, description, list)) {
          if (IsTotalName(description) && Exists(AsciiUpperCase(description)) >= 0) continue;
          TTag *t = Add(description);
          t->Value = JoinLines(list);
          t->Description = description;
          t->ExtTagType = ettTXXX;
        }
        continue;
      }
      if (kind == fkindUserURL) {
        std::string description, url;
        if (v2.GetUserDefinedURLLink(i, description, url) && !url.empty()) {
          TTag *t = Add(description.empty() ? std::string("URL") : description);
          t->Value = url;
          t->Description = description;
          t->ExtTagType = ettWXXX;
        }
        continue;
      }
      if (kind == fkindCounter) {
        Add("PLAYCOUNT")->Value = std::to_string(std::max<std::int64_t>(0, v2.GetPlayCount(i)));
        continue;
      }
      if (id == "POPM") {
        std::string email;
        std::uint8_t rating = 0;
        std::uint64_t counter = 0;
        if (v2.GetPopularimeter(i, email, rating, counter)) Add("RATING")->Value = std::to_string(rating);
        continue;
      }
    }
    if (id == "APIC" && ParseCoverArts) {
      TBytes head;
      TFileRange inFile;
      std::string mime, description;
      std::uint8_t coverType = 0;
      if (!v2.GetCoverPictureLocation(i, mime, description, coverType, head, inFile)) continue;
      TCoverArt *c = AddCoverArt("Cover art " + std::to_string(++pictures));
      c->MIMEType = mime;
      c->Description = description;
      c->CoverType = coverType;
      c->PictureFormat = PicturePointerType(head.data(), static_cast<std::int64_t>(head.size()));
      if (inFile.Empty()) c->Stream.Data() = std::move(head);
      else c->Deferred = inFile;
    }
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

bool SamePictures(const TID3v2Tag &Tag, const std::vector<std::unique_ptr<TCoverArt>> &Pictures)
{
  if (Tag.FrameTypeCount("APIC") != static_cast<int>(Pictures.size())) return false;
  std::size_t k = 0;
  for (int i = 0; i < Tag.FrameCount(); ++i) {
    if (!Tag.Frame(i)->IsID("APIC")) continue;
    TBytes head;
    TFileRange inFile;
    std::string mime, description;
    std::uint8_t type = 0;
    const TCoverArt &c = *Pictures[k++];
    if (!Tag.GetCoverPictureLocation(i, mime, description, type, head, inFile)) return false;
    if (mime != c.MIMEType || description != c.Description || type != static_cast<std::uint8_t>(c.CoverType))
      return false;
    // A picture still in the file where this frame's picture is needs no comparing of bytes.
    if (!inFile.Empty() && c.IsDeferred() && inFile.File == c.Deferred.File && inFile.Offset == c.Deferred.Offset &&
        inFile.Size == c.Deferred.Size)
      continue;
    TBytes bytes;
    if (!Tag.GetCoverPictureInfo(i, bytes, mime, description, type) || c.IsDeferred() || bytes != c.Stream.Data())
      return false;
  }
  return true;
}

} // namespace

void TTags::PrepareID3v2Tag()
{
  TID3v2Tag &v2 = ID3v2Tag;
  const TID3v2TextEncoding encoding = ID3v2WriteUTF8Text ? teUTF8 : teUnicode;
  const int version = TargetMajorVersion(v2);
  for (const auto &entry : Tags) {
    const std::string upper = AsciiUpperCase(entry->Name);
    std::string frame = TagNameToID3v2FrameID(upper);
    if (version == 3 && HasNoV23Form(frame)) frame.clear();
    if (IsTotalName(upper)) {
      // A total is written inside its track or disc frame; a user text frame beside it would
      // hold the same value twice and load as a second entry.
      const bool track = IsTrackTotalName(upper);
      const bool folded = !GetText(track ? "TRACKNUMBER" : "DISCNUMBER").empty() ||
                          !GetText(track ? "TRACK" : "DISC").empty();
      if (folded) {
        ClearAllID3v2FramesTXXXByDescription(v2, entry->Name);
        continue;
      }
    }
    if (frame == "TYER") {
      // The year frame of the version written: 2.4 has only the recording time.
      const std::string year = ExtractYear(entry->Value);
      const std::string id = version == 4 ? "TDRC" : "TYER";
      // The same year leaves the frame alone, with the day and time stored beside it.
      const int existing = v2.FrameExists(id);
      if (!year.empty() && existing >= 0 && v2.FrameTypeCount(id) == 1 && ExtractYear(v2.GetText(existing)) == year)
        continue;
      // A new year makes the day and time of the old date wrong.
      if (version == 3) {
        ClearAllID3v2FramesByID(v2, "TDAT");
        ClearAllID3v2FramesByID(v2, "TIME");
      }
      PutTextFrame(v2, id, {year}, version == 4 ? encoding : teUnicode);
      continue;
    }
    if (upper == "TRACKNUMBER" || upper == "TRACK" || upper == "DISCNUMBER" || upper == "DISC") {
      const bool track = upper[0] == 'T';
      std::string text = entry->Value;
      // A value that already holds its total is written as it stands.
      if (!text.empty() && text.find('/') == std::string::npos) {
        std::string total = GetText(track ? "TOTALTRACKS" : "TOTALDISCS");
        if (total.empty()) total = GetText(track ? "TRACKTOTAL" : "DISCTOTAL");
        if (!total.empty()) text += "/" + total;
      }
      PutTextFrame(v2, frame, {text}, encoding);
      continue;
    }
    if (!frame.empty()) {
      switch (KindOf(frame)) {
      case fkindContent: {
        // Only the frame this entry stands for is replaced: its description and language.
        const std::string language = entry->Language.size() == 3 && entry->Language != "   " ? entry->Language : "eng";
        const int old = v2.FindContentByDescription(frame, entry->Description,
                                                    entry->Language == "   " ? std::string() : entry->Language);
        std::string l, d, content;
        if (old >= 0 && v2.GetContent(old, l, d, content) && content == entry->Value) break;
        if (entry->Value.empty()) {
          if (old >= 0) v2.DeleteFrame(old);
        } else if (old >= 0) {
          v2.SetContent(old, entry->Value, encoding, entry->Description, l.size() == 3 ? l : language);
        } else {
          v2.SetContentByDescription(frame, entry->Value, encoding, entry->Description, language);
        }
        break;
      }
      case fkindList: {
        TStringList pairs;
        entry->GetList(pairs);
        const int first = KeepFirstFrame(v2, frame);
        std::vector<std::string> now;
        if (first >= 0 && v2.GetListFrame(first, now) && now == pairs) break;
        if (pairs.empty()) {
          if (first >= 0) v2.DeleteFrame(first);
        } else if (first >= 0) {
          v2.SetListFrame(first, pairs, encoding);
        } else {
          v2.SetListFrame(frame, pairs, encoding);
        }
        break;
      }
      case fkindURL: {
        const int first = KeepFirstFrame(v2, frame);
        if (first >= 0 && v2.GetURL(first) == entry->Value) break;
        if (entry->Value.empty()) {
          if (first >= 0) v2.DeleteFrame(first);
        } else if (first >= 0) {
          v2.SetURL(first, entry->Value);
        } else {
          v2.SetURL(frame, entry->Value);
        }
        break;
      }
      default: {
        TStringList values;
        GetMultipleList(entry->Name, values);
        PutTextFrame(v2, frame, values, encoding);
        break;
      }
      }
      continue;
    }
    if (upper == "PLAYCOUNT") {
      std::int64_t n = 0;
      if (!TryParseInt64(TrimBlanks(entry->Value), n) || n < 0 || n > 0xFFFFFFFFLL) n = 0;
      const int first = KeepFirstFrame(v2, "PCNT");
      if (first >= 0 && v2.GetPlayCount(first) == n) continue;
      if (first >= 0) v2.SetPlayCount(first, static_cast<std::uint32_t>(n));
      else v2.SetPlayCount("PCNT", static_cast<std::uint32_t>(n));
      continue;
    }
    // A web address set by a caller goes where the file keeps one without a description, or,
    // in a file without one, to the artist URL frame, where other programs show a track's
    // web address (unless an artist URL of its own is set).
    if (upper == "URL" && entry->ExtTagType == ettUnknown) {
      std::string now;
      const int plain = v2.FindUserDefinedURLLinkByDescription("", now);
      const std::string artistURL = GetText("ARTISTURL");
      if (plain < 0 && (artistURL.empty() || artistURL == entry->Value)) {
        const int first = KeepFirstFrame(v2, "WOAR");
        if (first >= 0 && v2.GetURL(first) == entry->Value) continue;
        if (first >= 0) v2.SetURL(first, entry->Value);
        else v2.SetURL("WOAR", entry->Value);
        continue;
      }
    }
    if (entry->ExtTagType == ettWXXX || upper == "URL") {
      const std::string description = entry->ExtTagType == ettWXXX ? entry->Description : std::string();
      std::string now;
      if (v2.FindUserDefinedURLLinkByDescription(description, now) >= 0 && now == entry->Value) continue;
      v2.SetUserDefinedURLLinkByDescription(description, entry->Value, encoding);
      continue;
    }
    // Every other name is a user text frame with the name as its description: the first such
    // frame takes the values in place, later ones go.
    TStringList values;
    GetMultipleList(entry->Name, values);
    values.erase(std::remove(values.begin(), values.end(), std::string()), values.end());
    int first = -1;
    for (int i = 0; i < v2.FrameCount(); ++i) {
      std::string description, text;
      if (!v2.Frame(i)->IsID("TXXX") || !v2.GetUserDefinedTextInformation(i, description, text)) continue;
      if (AsciiUpperCase(description) != upper) continue;
      if (first < 0) first = i;
      else v2.DeleteFrame(i--);
    }
    std::string description;
    std::vector<std::string> now;
    if (values.empty()) {
      if (first >= 0) v2.DeleteFrame(first);
    } else if (first < 0 || !v2.GetUserDefinedTextInformationMultiple(first, description, now) || now != values) {
      v2.SetTXXXByDescriptionMultiple(entry->Name, values, encoding);
    }
  }

  // Pictures that are the same as the frames leave the frames as they are.
  if (SamePictures(v2, CoverArts)) return;
  v2.DeleteAllCoverArts();
  for (const auto &c : CoverArts) {
    if (c->MIMEType.empty()) {
      if (c->PictureFormat == tpfUnknown) c->PictureFormat = PictureStreamType(&c->Stream);
      switch (c->PictureFormat) {
      case tpfJPEG: c->MIMEType = "image/jpeg"; break;
      case tpfPNG: c->MIMEType = "image/png"; break;
      case tpfBMP: c->MIMEType = "image/bmp"; break;
      case tpfGIF: c->MIMEType = "image/gif"; break;
      default: break;
      }
    }
    c->Stream.SetPosition(0);
    const int index = v2.AddFrame("APIC");
    v2.SetCoverPictureFromStream(index, c->Description, c->Stream, c->MIMEType, static_cast<std::uint8_t>(c->CoverType));
  }
}

void TTags::DeleteID3v2Entry(const std::string &UpperName, const TTag &Entry)
{
  TID3v2Tag &v2 = ID3v2Tag;
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
  if (KindOf(frame) == fkindContent) {
    const int i = v2.FindContentByDescription(frame, Entry.Description, Entry.Language == "   " ? std::string() : Entry.Language);
    if (i >= 0) v2.DeleteFrame(i);
    return;
  }
  const int i = v2.FrameExists(frame);
  if (i >= 0) v2.DeleteFrame(i);
}

namespace {

int SaveID3v2(TTags &T, TStream *Stream, const std::string &FileName)
{
  T.PrepareID3v2Tag();
  T.ID3v2Tag.SetAllFrameDataStreams();
  return Stream ? T.ID3v2Tag.SaveToStream(*Stream) : T.ID3v2Tag.SaveToFile(FileName);
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

// A value of 0 from the audio readers means "not known here".
std::optional<std::int64_t> NonZero(std::int64_t V) { return V != 0 ? std::optional<std::int64_t>(V) : std::nullopt; }

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
  .SaveToFile = [](TTags &T, const std::string &F) { return SaveID3v2(T, nullptr, F); },
  .SaveToStream = [](TTags &T, TStream &S) { return SaveID3v2(T, &S, std::string()); },
  .AutomaticSave = TAutomaticSave::asTagsTheFile,
  .ContentTypes = kID3v2ContentTypes,
  .BeforeContentSave = [](TTags &T) {
    // Frames that describe the old audio or encoding must not be carried into a new tag.
    for (const char *id : {"SEFC", "SESC", "TLEN"}) TTags::ClearAllID3v2FramesByID(T.ID3v2Tag, id);
  },
  .RemoveFromFile = [](const std::string &F) { return StripID3v2FromFile(F, false); },
  .NothingToRemove = kID3v2NothingToRemove,
  .Codes = kID3v2Codes,
  .DeleteEntry = [](TTags &T, const std::string &N, const TTag &E) { T.DeleteID3v2Entry(N, E); },
  .Clear = [](TTags &T) { T.ID3v2Tag.Clear(); },
  .Assign = [](TTags &T, const TTags &S) { T.ID3v2Tag.Assign(S.ID3v2Tag); return true; },
  .Size = [](const TTags &T) -> std::int64_t { return T.ID3v2Tag.Size; },
  .AudioValue = ID3v2AudioValue,
  .PlayTime = ID3v2PlayTime,
};
