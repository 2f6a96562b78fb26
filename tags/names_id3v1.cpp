// The container's two-way copy between generic entries and the ID3v1 tag object, and the ID3v1
// row of the format table.

#include <array>

#include "tags/id3/id3v1_tag.h"
#include "tags/native_format.h"
#include "tags/tag_container.h"
#include "tags/text/text.h"

void TTags::LoadID3v1Tags()
{
  const TID3v1Tag &v1 = ID3v1Tag;
  const auto put = [this](const char *Name, const std::string &Value) {
    if (Value.empty()) return;
    RemoveFromList(Name);
    Add(Name)->Value = Value;
  };
  put("TITLE", v1.Title);
  put("ARTIST", v1.Artist);
  put("ALBUM", v1.Album);
  put("YEAR", v1.Year);
  put("COMMENT", v1.Comment);
  if (v1.Track != 0) {
    RemoveFromList("TRACK");
    put("TRACKNUMBER", std::to_string(v1.Track));
  }
  put("GENRE", v1.Genre);
  MarkNewEntriesLoaded(ttID3v1);
}

namespace {
// An ID3v1 track number: 1..255 from a whole decimal number; anything else is "none".
std::uint8_t ID3v1TrackFrom(const std::string &Text)
{
  std::int64_t n = 0;
  if (!TryParseInt64(TrimBlanks(Text), n) || n < 1 || n > 255) return 0;
  return static_cast<std::uint8_t>(n);
}
} // namespace

void TTags::PrepareID3v1Tag()
{
  TID3v1Tag &v1 = ID3v1Tag;
  v1.Revision1 = true;
  // A record the file has gets only what changed since the load: an entry as it was loaded
  // (from this record or from another tag) leaves its field as it is. A new record gets every
  // entry. A deleted entry emptied its field when it was deleted.
  const bool everything = !v1.Loaded;
  // The entry a field is taken from: the first of Names whose value Usable accepts.
  const auto source = [this](std::initializer_list<const char *> Names, auto Usable) -> const TTag * {
    for (const char *name : Names)
      if (const TTag *t = Tag(name); t && Usable(t->Value)) return t;
    return nullptr;
  };
  const auto nonEmpty = [](const std::string &V) { return !V.empty(); };
  const auto write = [&](const TTag *From) { return everything || (From && !From->IsUnchanged()); };
  const auto text = [&](std::string &Field, std::initializer_list<const char *> Names) {
    const TTag *from = source(Names, nonEmpty);
    if (write(from)) Field = from ? from->Value : std::string();
  };
  text(v1.Title, {"TITLE"});
  text(v1.Artist, {"ARTIST"});
  text(v1.Album, {"ALBUM"});
  text(v1.Year, {"YEAR", "RELEASEDATE", "RECORDINGDATE"});
  text(v1.Comment, {"COMMENT"});
  text(v1.Genre, {"GENRE"});
  const TTag *track = source({"TRACKNUMBER", "TRACK"}, [](const std::string &V) { return ID3v1TrackFrom(V) != 0; });
  if (write(track)) v1.Track = track ? ID3v1TrackFrom(track->Value) : 0;
}

namespace {

constexpr std::int64_t kID3v1RecordBytes = 128;

// The Lyrics3 block is written along with the record when it holds a field.
bool SaveWithLyrics(const TTags &T) { return !T.ID3v1Tag.LyricsFrames.empty(); }

void DeleteID3v1Entry(TTags &T, const std::string &N, const TTag &)
{
  TID3v1Tag &v1 = T.ID3v1Tag;
  if (N == "TITLE") v1.Title.clear();
  else if (N == "ARTIST") v1.Artist.clear();
  else if (N == "ALBUM") v1.Album.clear();
  else if (N == "YEAR") v1.Year.clear();
  else if (N == "COMMENT") v1.Comment.clear();
  else if (N == "GENRE") v1.Genre.clear();
  else if (N == "TRACKNUMBER" || N == "TRACK") v1.Track = 0;
}

constexpr std::array<TNativeCode, 4> kID3v1Codes = {{
  {id3v1Ok, tagsOk},
  {id3v1FileNotFound, tagsFileNotFound},
  {id3v1ReadError, tagsUpdateFailed},
  {id3v1WriteError, tagsWriteFailed},
}};
constexpr std::array<int, 1> kID3v1NothingToRemove = {id3v1NoTag};

} // namespace

// ID3v1 carries no audio values; its record at the end is left out of the audio. An automatic
// save of the record alone does not make a file tagged: the content's natives are saved too.
constinit const TNativeFormat kID3v1Format = {
  .Type = ttID3v1,
  .Load = [](TTags &T, TReadView &V) { return T.ID3v1Tag.LoadFromStream(V) == id3v1Ok; },
  .IsLoaded = [](const TTags &T) { return T.ID3v1Tag.Loaded; },
  .MapToEntries = [](TTags &T) { T.LoadID3v1Tags(); },
  .PicturesOnly = TPicturesOnlyLoad::ploSkipped,
  .Extent = [](const TTags &T) { return TTagExtent{.AtEnd = T.ID3v1Tag.Loaded ? kID3v1RecordBytes : 0}; },
  .PlanSave = [](TTags &T, TStream &S, TRewritePlan &P) {
    T.PrepareID3v1Tag();
    return T.ID3v1Tag.PlanSave(S, SaveWithLyrics(T), P);
  },
  .FinishSave = [](TTags &T, const std::string &F) {
    if (!F.empty()) T.ID3v1Tag.SourceFileName = F;
  },
  .AutomaticSave = TAutomaticSave::asDoesNotTagTheFile,
  .PlanRemove = PlanID3v1Strip,
  .NothingToRemove = kID3v1NothingToRemove,
  .Codes = kID3v1Codes,
  .DeleteEntry = DeleteID3v1Entry,
  .Clear = [](TTags &T) { T.ID3v1Tag.Clear(); },
  .Assign = [](TTags &T, const TTags &S) { return T.ID3v1Tag.Assign(S.ID3v1Tag); },
  .Size = [](const TTags &) { return kID3v1RecordBytes; },
};
