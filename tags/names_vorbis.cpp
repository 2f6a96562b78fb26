#include "tags/names_vorbis.h"

#include <algorithm>
#include <array>
#include <utility>

#include "tags/picture/picture_format.h"
#include "tags/text/lines.h"
#include "tags/text/text.h"

namespace {

bool IsTrackName(const std::string &UpperName) { return UpperName == "TRACKNUMBER" || UpperName == "TRACK"; }
bool IsListName(const std::string &UpperName) { return UpperName == "TIPL" || UpperName == "TMCL"; }

// A name other programs accept for a comment: printable ASCII without "=".
bool IsCommentName(std::string_view Name)
{
  return !Name.empty() && std::all_of(Name.begin(), Name.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b >= 0x20 && b <= 0x7D && b != '=';
  });
}

// The comments that give entries: those with a name, a "=" and no picture.
bool IsTextComment(const TVorbisCommentEntry &E)
{
  return E.HasSeparator && !E.Name.empty() && !IsPictureCommentName(E.Name);
}

void AddLoaded(TTags &Tags, TTagType Type, const std::string &Name, const std::string &Value)
{
  Tags.Add(Name)->Value = Value;
  Tags.MarkNewEntriesLoaded(Type);
}

// Names other formats give a value that Vorbis comments keep under another name: a name the
// file already uses for it wins, else the first is the one readers look for.
struct TCommentSynonyms {
  const char *Name;
  std::array<const char *, 2> Comments;
  // A new value goes under Comments[0]: readers of Vorbis comments do not look for Name.
  bool NewUnderSynonym;
};
constexpr TCommentSynonyms kCommentSynonyms[] = {
  {"YEAR", {"DATE", nullptr}, true},
  {"URL", {"WEBSITE", nullptr}, true},
  {"ARTISTURL", {"WEBSITE", "URL"}, true},
  {"TOTALTRACKS", {"TRACKTOTAL", nullptr}, false},
  {"TOTALDISCS", {"DISCTOTAL", nullptr}, false},
};

// The comment name an entry's values are written under: its own when the file has comments of
// that name, else a synonym the file uses, else (for a name no reader looks for among Vorbis
// comments, when no entry holds it) the usual Vorbis name.
std::string CommentNameFor(const TTags &Tags, const TVorbisComments &Comments, const std::string &Name,
                           const std::string &UpperName)
{
  if (Comments.IndexOf(UpperName) >= 0) return Name;
  for (const TCommentSynonyms &s : kCommentSynonyms) {
    if (UpperName != s.Name) continue;
    for (const char *c : s.Comments)
      if (c && Comments.IndexOf(c) >= 0) return c;
    if (s.NewUnderSynonym && Tags.Exists(s.Comments[0]) < 0) return s.Comments[0];
  }
  return Name;
}

} // namespace

void LoadVorbisCommentEntries(TTags &Tags, TTagType Type, const TVorbisComments &Comments,
                              std::vector<TVorbisPicture> &&Pictures)
{
  const auto &entries = Comments.Entries();
  if (!Tags.OnlyParseCoverArts) {
    // This format's values replace those of formats mapped before it, name by name.
    for (const TVorbisCommentEntry &e : entries) {
      if (!IsTextComment(e)) continue;
      Tags.RemoveFromList(e.Name);
      // The names other formats give the same value (see kCommentSynonyms) give way too.
      for (const TCommentSynonyms &syn : kCommentSynonyms)
        for (const char *c : syn.Comments)
          if (c && SameText(e.Name, c)) Tags.RemoveFromList(syn.Name);
      if (IsTrackName(AsciiUpperCase(e.Name)) && e.Value.find('/') != std::string::npos)
        for (const char *name : {"TRACKNUMBER", "TOTALTRACKS"}) Tags.RemoveFromList(name);
    }
  }
  if (!Pictures.empty()) Tags.DeleteAllCoverArts();
  if (!Tags.OnlyParseCoverArts) {
    for (const TVorbisCommentEntry &e : entries) {
      if (!IsTextComment(e)) continue;
      const std::string upper = AsciiUpperCase(e.Name);
      const std::string text = e.Text();
      const std::size_t slash = text.find('/');
      if (IsTrackName(upper) && slash != std::string::npos) {
        AddLoaded(Tags, Type, "TRACKNUMBER", text.substr(0, slash));
        AddLoaded(Tags, Type, "TOTALTRACKS", text.substr(slash + 1));
      } else if (IsListName(upper)) {
        AddLoaded(Tags, Type, e.Name, PairItemsToText(ParseCommentValueList(text)));
      } else {
        AddLoaded(Tags, Type, e.Name, text);
      }
    }
  }
  if (Tags.ParseCoverArts)
    for (TVorbisPicture &p : Pictures) FillCoverArt(*Tags.AddCoverArt(p.Name), std::move(p));
}

void FillCoverArt(TCoverArt &Art, TVorbisPicture &&Loaded)
{
  TPictureBlock &Picture = Loaded.Picture;
  Art.Stream.Data() = std::move(Picture.Data);
  Art.Stream.SetPosition(0);
  Art.CoverType = static_cast<std::int32_t>(std::min<std::uint32_t>(Picture.PictureType, 0x7FFFFFFF));
  Art.MIMEType = Picture.MIMEType;
  Art.Description = Picture.Description;
  const auto clamp = [](std::uint32_t V) { return static_cast<std::int32_t>(std::min<std::uint32_t>(V, 0x7FFFFFFF)); };
  Art.Width = clamp(Picture.Width);
  Art.Height = clamp(Picture.Height);
  Art.ColorDepth = clamp(Picture.ColorDepth);
  Art.NoOfColors = clamp(Picture.NoOfColors);
  Art.PictureFormat = PictureStreamType(&Art.Stream);
  Art.Stream.SetPosition(0);
  if (!Loaded.DataInFile.Empty() || !Loaded.Encoded.Empty()) {
    Art.Stream.Data().clear();
    Art.Deferred = Loaded.DataInFile;
    Art.Encoded = std::move(Loaded.Encoded);
  }
}

std::vector<TPictureBlock> VorbisPicturesOf(TTags &Tags)
{
  std::vector<TPictureBlock> pictures;
  for (const auto &c : Tags.CoverArts) {
    if (c->MIMEType.empty()) {
      if (c->PictureFormat == tpfUnknown) c->PictureFormat = PictureStreamType(&c->Stream);
      c->MIMEType = PictureFormatMIMEType(c->PictureFormat);
    }
    TPictureBlock p;
    const auto unsignedOf = [](std::int32_t V) { return static_cast<std::uint32_t>(std::max(V, 0)); };
    p.PictureType = unsignedOf(c->CoverType);
    p.MIMEType = c->MIMEType;
    p.Description = c->Description;
    p.Width = unsignedOf(c->Width);
    p.Height = unsignedOf(c->Height);
    p.ColorDepth = unsignedOf(c->ColorDepth);
    p.NoOfColors = unsignedOf(c->NoOfColors);
    p.Data = c->Stream.Data();
    c->Stream.SetPosition(0);
    pictures.push_back(std::move(p));
  }
  return pictures;
}

void PrepareVorbisComments(TTags &Tags, bool TagLoaded, TVorbisComments &Comments)
{
  Comments.UpperCaseNewNames = Tags.UpperCaseFieldNamesToWrite;
  const auto changed = [&](const TTag &E) { return !TagLoaded || !E.IsUnchanged(); };
  // A number and its total may share one comment ("3/12"): a change to either writes both.
  const bool trackChanged = std::any_of(Tags.Tags.begin(), Tags.Tags.end(), [&](const auto &t) {
    const std::string name = AsciiUpperCase(t->Name);
    return (name == "TRACKNUMBER" || name == "TOTALTRACKS") && changed(*t);
  });

  std::vector<std::string> done;
  for (const auto &entry : Tags.Tags) {
    const std::string upper = AsciiUpperCase(entry->Name);
    if (!IsCommentName(upper) || std::find(done.begin(), done.end(), upper) != done.end()) continue;
    done.push_back(upper);
    std::vector<std::string> values;
    bool write = (upper == "TRACKNUMBER" || upper == "TOTALTRACKS") && trackChanged;
    for (const auto &t : Tags.Tags) {
      if (!SameText(t->Name, upper)) continue;
      write = write || changed(*t);
      values.push_back(IsListName(upper) ? BuildCommentValueList(PairItemsFromText(t->Value)) : t->Value);
    }
    if (!write) continue;
    const std::string name = CommentNameFor(Tags, Comments, entry->Name, upper);
    if (upper == "TRACKNUMBER") {
      // A "TRACK" comment holding "3/12" loaded as this number and its total.
      for (std::size_t i = Comments.Count(); i-- > 0;) {
        const TVorbisCommentEntry &c = Comments.Entries()[i];
        if (SameText(c.Name, "TRACK") && c.Value.find('/') != std::string::npos) Comments.DeleteAt(i);
      }
    }
    Comments.SetValues(name, values);
  }
}

void DeleteVorbisCommentEntry(TTags &Tags, TVorbisComments &Comments, const std::string &UpperName, const TTag &Entry)
{
  const bool number = IsTrackName(UpperName);
  const bool total = UpperName == "TOTALTRACKS";
  bool shared = false;
  for (std::size_t i = Comments.Count(); i-- > 0;) {
    const TVorbisCommentEntry &c = Comments.Entries()[i];
    if (!c.HasSeparator) continue;
    const std::string text = c.Text();
    if (SameText(c.Name, UpperName) && SameText(text, Entry.Value)) {
      Comments.DeleteAt(i);
      continue;
    }
    // "3/12" stands for a number and a total: deleting either one rewrites the other alone.
    const std::size_t slash = text.find('/');
    if ((number || total) && IsTrackName(AsciiUpperCase(c.Name)) && slash != std::string::npos) {
      const std::string part = number ? text.substr(0, slash) : text.substr(slash + 1);
      if (!SameText(part, Entry.Value)) continue;
      shared = true;
      if (number) Comments.DeleteAt(i);
    }
  }
  if (!shared) return;
  for (auto &t : Tags.Tags) {
    const std::string name = AsciiUpperCase(t->Name);
    if (&*t != &Entry && (name == "TRACKNUMBER" || name == "TOTALTRACKS")) t->Origin = TTagOrigin();
  }
}
