#include "app/service/tag_service.h"

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <exception>
#include <memory>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tags/audio/audio_attributes.h"
#include "tags/audio/audio_math.h"
#include "tags/picture/picture_format.h"
#include "tags/streams/file_io.h"
#include "tags/tag_container.h"
#include "tags/text/lines.h"
#include "tags/text/number_total.h"
#include "tags/text/text.h"

namespace {

// What only the service itself reports, beside the texts of TagServiceTexts.
namespace Texts {
constexpr const char *BackupInTheWay = "a backup from an earlier failed save differs from the file: ";
constexpr const char *BackupIsComplete =
  "The backup is the complete file from before that save; the file may hold that save's changes, in part or in "
  "full. To go back, restore the backup (move it over the file); to keep the file as it is, delete the backup.";
constexpr const char *BackupNotAFile = "something other than a file is in the way of the backup: ";
constexpr const char *BackupIsTheFile = "the backup path refers to the file itself: ";
constexpr const char *NotPutBack = "the file could not be put back; the complete original is in ";
constexpr const char *UnknownFailure = "Unexpected failure while writing the file.";
} // namespace Texts

using namespace TagServiceTexts;
using namespace TagServiceReasons;

constexpr std::int32_t kFrontCoverPictureType = 3;

bool IsSuccessCode(int Code) { return Code == tagsOk || Code == tagsNothingToDo; }

// A field and the generic names it is read from: the first is the one that is written, the
// others are fallbacks consulted in order when the earlier names give an empty text. A track
// or disc number also has the names of its total ("3" and "12" of "3/12"), since a container
// keeps a native "3/12" as two entries; the record shows and writes the two as one value.
// A free-text field (Multi) shows every value the file holds under its name, joined by
// kFieldValueSeparator: every entry of the name, and every line of each entry (the strings
// of one ID3v2 text frame). Numbers, dates, the web address and the two multi-line fields
// show their first entry only: a number or date joined with another is no number or date,
// and the lines of a comment or lyrics are that one text's own line breaks.
struct TFieldNames {
  std::string TAudioTag::*Member;
  std::array<const char *, 5> Names;
  std::array<const char *, 2> TotalNames;
  bool Multi = false;
};

// A 2.4 ID3v2 tag's recording time loads as RECORDINGDATE.
constexpr std::array<const char *, 5> kYearNames{"YEAR", "DATE", "RELEASEDATE", "ORIGINALRELEASEDATE", "RECORDINGDATE"};

const std::array<TFieldNames, kAudioTagTextFieldCount> &FieldNames()
{
  static const std::array<TFieldNames, kAudioTagTextFieldCount> names{{
    {&TAudioTag::Title, {"TITLE"}, {}, true},
    {&TAudioTag::Artist, {"ARTIST"}, {}, true},
    {&TAudioTag::Album, {"ALBUM"}, {}, true},
    {&TAudioTag::Year, kYearNames, {}},
    {&TAudioTag::Track, {"TRACKNUMBER", "TRACK"}, {"TOTALTRACKS", "TRACKTOTAL"}},
    {&TAudioTag::Genre, {"GENRE"}, {}, true},
    // Vorbis comments often hold the comment as DESCRIPTION.
    {&TAudioTag::Comment, {"COMMENT", "DESCRIPTION"}, {}},
    {&TAudioTag::Disc, {"DISCNUMBER", "DISC"}, {"TOTALDISCS", "DISCTOTAL"}},
    {&TAudioTag::BPM, {"BPM"}, {}},
    // APEv2 tags usually spell the album artist and the original artist with a space.
    {&TAudioTag::AlbumArtist, {"ALBUMARTIST", "ALBUM ARTIST"}, {}, true},
    {&TAudioTag::Composer, {"COMPOSER"}, {}, true},
    {&TAudioTag::OrigArtist, {"ORIGINALARTIST", "ORIGARTIST", "ORIGINAL ARTIST"}, {}, true},
    {&TAudioTag::Copyright, {"COPYRIGHT"}, {}, true},
    // Most writers keep a track's web address in the artist URL frame of ID3v2; Vorbis comments
    // name it WEBSITE.
    {&TAudioTag::URL, {"URL", "ARTISTURL", "WEBSITE"}, {}},
    {&TAudioTag::EncodedBy, {"ENCODEDBY", "ENCODED-BY"}, {}, true},
    {&TAudioTag::Lyrics, {"LYRICS", "UNSYNCEDLYRICS"}, {}},
  }};
  return names;
}

// Every value under Name: the lines of every entry of that name, in list order, empty ones
// left out.
std::vector<std::string> AllValues(const TTags &Tags, const char *Name)
{
  std::vector<std::string> values;
  for (const auto &t : Tags.Tags) {
    if (!SameText(t->Name, Name)) continue;
    for (std::string &line : SplitLines(t->Value))
      if (!line.empty()) values.push_back(std::move(line));
  }
  return values;
}

// What a field shows of Name: all its values joined (Multi), else the first entry's text.
std::string NameText(const TTags &Tags, const char *Name, bool Multi)
{
  return Multi ? JoinFieldValues(AllValues(Tags, Name)) : Tags.GetText(Name);
}

// The values of the first of Names that has any.
template <std::size_t N> std::vector<std::string> FirstValues(const TTags &Tags, const std::array<const char *, N> &Names)
{
  for (const char *name : Names) {
    if (!name) break;
    std::vector<std::string> values = AllValues(Tags, name);
    if (!values.empty()) return values;
  }
  return {};
}

// The text under the first of Names that gives a non-empty one.
template <std::size_t N> std::string FirstText(const TTags &Tags, const std::array<const char *, N> &Names)
{
  for (const char *name : Names) {
    if (!name) break;
    std::string value = Tags.GetText(name);
    if (!value.empty()) return value;
  }
  return std::string();
}

// Stores Values under the name the field was read from (the first of Names that holds a text,
// else the first name), as the only entries of that name: a native format may have given two,
// such as a total from both "3/12" and a user text frame, and the later one would otherwise
// come back. Writing where the value came from keeps what other programs show in step with
// the edit (a date kept as DATE, a web address in the artist URL frame). No value clears
// every one of Names, since a fallback would otherwise bring the cleared value back. Each of
// several values is an entry of its own, in order, the first in the place of the name's first
// entry and the others right after it (a native format that keeps them in one item, as an
// ID3v2 text frame does, gathers them there). A value that holds the separator ("AC; DC")
// stays one value. Multi: Names are read as a free-text field reads them.
template <std::size_t N>
void StoreValues(TTags &Tags, const std::array<const char *, N> &Names, const std::vector<std::string> &Values,
                 bool Multi = false)
{
  if (Values.empty()) {
    for (const char *name : Names)
      if (name) Tags.Clear(name);
    return;
  }
  const char *target = Names[0];
  for (const char *name : Names)
    if (name && !NameText(Tags, name, Multi).empty()) {
      target = name;
      break;
    }
  const int first = Tags.SetText(target, Values[0]);
  for (int i = Tags.Count() - 1; i > first; --i)
    if (SameText(Tags.Tags[static_cast<std::size_t>(i)]->Name, target)) Tags.Delete(i);
  auto at = Tags.Tags.begin() + first;
  for (std::size_t v = 1; v < Values.size(); ++v) {
    at = Tags.Tags.insert(at + 1, std::make_unique<TTag>(&Tags));
    (*at)->Name = target;
    (*at)->Value = Values[v];
  }
}

template <std::size_t N> void StoreText(TTags &Tags, const std::array<const char *, N> &Names, const std::string &Value)
{
  StoreValues(Tags, Names, Value.empty() ? std::vector<std::string>() : std::vector<std::string>{Value});
}

std::int32_t WholeSeconds(double PlayTime)
{
  if (!std::isfinite(PlayTime) || PlayTime <= 0 || PlayTime >= 2147483647.0) return 0;
  return static_cast<std::int32_t>(RoundHalfEven(PlayTime));
}

bool SameFile(const std::string &A, const std::string &B)
{
  struct stat sa {}, sb {};
  return ::stat(A.c_str(), &sa) == 0 && ::stat(B.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

enum TBackupResult { brMade, brFailed, brDiffers };

// "PATH: reason" for a failure whose system error was noted.
std::string PathAndReason(const std::string &Path)
{
  return Path + ": " + (FileError() ? SystemErrorReason(FileError()) : TagServiceText(CannotWrite));
}

// Copies FileName to Backup under a temporary name and renames it into place only when the
// copy is complete and synced. An entry already at Backup is removed when it holds the same
// bytes as the file (left by a save that was killed); one that differs is kept and refuses
// the backup, since after an earlier failed restore it may be the only intact copy.
TBackupResult MakeBackup(const std::string &FileName, const std::string &Backup, std::string &Error)
{
  struct stat st {};
  if (::lstat(Backup.c_str(), &st) == 0) {
    // Only a plain file is compared: reading a FIFO or a device could block, and a link
    // would have the copy written wherever it points.
    if (!S_ISREG(st.st_mode)) {
      Error = TagServiceText(Texts::BackupNotAFile) + Backup;
      return brFailed;
    }
    if (SameFile(FileName, Backup)) {
      Error = TagServiceText(Texts::BackupIsTheFile) + Backup;
      return brFailed;
    }
    if (!FilesIdentical(FileName, Backup)) {
      Error = TagServiceText(Texts::BackupInTheWay) + Backup + ". " + TagServiceText(Texts::BackupIsComplete);
      return brDiffers;
    }
    ::unlink(Backup.c_str());
  }
  auto temp = TTempFile::CreateBeside(Backup);
  std::string ignored;
  if (!temp || !CopyFileFast(FileName, temp->Path(), ignored) || !temp->Commit(Backup)) {
    Error = PathAndReason(Backup);
    return brFailed;
  }
  return brMade;
}

// Text with Code, then the reason: the noted system error of the failing operation, else what
// the code says.
std::string FailureText(const char *Text, int Code)
{
  const int error = FileError();
  return TagServiceText(Text, Code) + ": " + (error ? SystemErrorReason(error) : ResultCodeReason(Code));
}

// A failed save or removal whose code says that the library refused the change while planning
// it, before any byte of the file was written (a damaged layout, a read-only item, a size that
// does not fit): only a failure to carry a plan out (6, 7) may have touched the file.
bool RefusedBeforeWriting(int Code) { return Code != tagsUpdateFailed && Code != tagsWriteFailed; }

// Why FileName cannot be written, asked of the file system before anything is copied; empty
// when nothing speaks against it. Read-only is judged by the mode bits, as the tag writers
// judge it, so that a privileged process that could write anyway does not.
std::string WriteRefusalReason(const std::string &FileName)
{
  struct stat st {};
  if (::stat(FileName.c_str(), &st) != 0) return SystemErrorReason(errno);
  if (!S_ISREG(st.st_mode)) return TagServiceText(NotRegularFile);
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return TagServiceText(ReadOnlyFile);
  if (::faccessat(AT_FDCWD, FileName.c_str(), W_OK, AT_EACCESS) != 0) return SystemErrorReason(errno);
  return std::string();
}

// Nothing at all at the path (not a file that cannot be opened).
bool NothingThere(const std::string &FileName)
{
  struct stat st {};
  return ::stat(FileName.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

} // namespace

std::string TagServiceText(const char *Text) { return Text; }

std::string TagServiceText(const char *Text, int Code)
{
  // The "%d" is replaced, never handed to printf, so a translated text cannot break the call.
  std::string s = TagServiceText(Text);
  const auto at = s.find("%d");
  if (at != std::string::npos) s.replace(at, 2, std::to_string(Code));
  return s;
}

std::string TagBackupFileName(const std::string &FileName) { return FileName + ".qln_bak"; }

std::string SystemErrorReason(int Error)
{
  switch (Error) {
  case EACCES:
  case EPERM: return TagServiceText(PermissionDenied);
  case ENOSPC: return TagServiceText(NoSpace);
  case EDQUOT: return TagServiceText(QuotaExceeded);
  case EROFS: return TagServiceText(ReadOnlyFileSystem);
  case EIO: return TagServiceText(InputOutputError);
  case EISDIR: return TagServiceText(NotRegularFile);
  default: return ErrnoText(Error);
  }
}

std::string ResultCodeReason(int Code)
{
  switch (Code) {
  case tagsFileNotFound: return TagServiceText(CannotOpen);
  case tagsUpdateFailed: return TagServiceText(FileChanged);
  case tagsWriteFailed: return TagServiceText(CannotWrite);
  case tagsCorrupt: return TagServiceText(Damaged);
  case tagsVersionUnsupported: return TagServiceText(VersionUnsupported);
  case tagsWrongFileKind: return TagServiceText(WrongFileKind);
  case tagsSizeOverflow: return TagServiceText(TooLarge);
  case tagsCannotLockFile: return TagServiceText(InUse);
  case tagsLayoutNotWritable: return TagServiceText(LayoutNotWritable);
  case tagsItemReadOnly: return TagServiceText(ItemReadOnly);
  case tagsProtected: return TagServiceText(Protected);
  default: return TagServiceText(Unexpected);
  }
}

int RecordPictureIndex(const TTags &Tags)
{
  int first = -1;
  for (int i = 0; i < Tags.CoverArtCount(); ++i) {
    const TCoverArt &art = *Tags.CoverArts[static_cast<std::size_t>(i)];
    if (art.DataSize() <= 0) continue;
    if (art.CoverType == kFrontCoverPictureType) return i;
    if (first < 0) first = i;
  }
  return first;
}

std::string ReadFullYear(const TTags &Tags) { return FirstText(Tags, kYearNames); }

bool ReadFields(const TTags &Tags, TAudioTag &Tag, bool WithCoverData)
{
  for (const TFieldNames &f : FieldNames()) {
    if (f.Multi) {
      SetFieldValues(Tag, f.Member, FirstValues(Tags, f.Names));
      continue;
    }
    const std::string value = FirstText(Tags, f.Names);
    SetFieldText(Tag, f.Member, f.TotalNames[0] ? JoinNumberTotal(value, FirstText(Tags, f.TotalNames)) : value);
  }
  if (Utf8Length(Tag.Year) >= 4) Tag.Year = Utf8Left(Tag.Year, 4);

  Tag.DurationSec = WholeSeconds(Tags.SourceAudioAttributes.PlayTime());

  Tag.CoverMime.clear();
  Tag.CoverData.clear();
  Tag.Modified = false;
  const int picture = RecordPictureIndex(Tags);
  if (picture < 0) return true;
  TCoverArt &art = *Tags.CoverArts[static_cast<std::size_t>(picture)];
  Tag.CoverMime = art.MIMEType;
  if (!WithCoverData) return true;
  if (!art.LoadData()) return false;
  Tag.CoverData = art.Stream.Data();
  return true;
}

bool WriteChangedFields(TTags &Tags, const TAudioTag &Current, const TAudioTag &Wanted)
{
  bool changed = false;
  for (const TFieldNames &f : FieldNames()) {
    const std::string &value = Wanted.*f.Member;
    if (f.Multi) {
      // A record that keeps separate values for the text wants those values: a file that
      // holds their joined text as one value (or other values joining to the same text) gets
      // them apart again. A text alone is unchanged when it is the text the file shows.
      const std::vector<std::string> values = FieldValues(Wanted, f.Member);
      if (value == Current.*f.Member && (!HasSeparateValues(Wanted, f.Member) || values == FieldValues(Current, f.Member)))
        continue;
      changed = true;
      StoreValues(Tags, f.Names, values, true);
      continue;
    }
    if (value == Current.*f.Member) continue;
    changed = true;
    if (!f.TotalNames[0]) {
      StoreText(Tags, f.Names, value);
      continue;
    }
    // "4/12" is the number 4 of 12; a value without a total drops the stored one, so that the
    // file holds what the record shows.
    std::string number, total;
    SplitNumberTotal(value, number, total);
    StoreText(Tags, f.Names, number);
    StoreText(Tags, f.TotalNames, total);
  }

  const bool pictureChanged =
    Wanted.CoverData != Current.CoverData || (!Wanted.CoverData.empty() && Wanted.CoverMime != Current.CoverMime);
  if (!pictureChanged) return changed;

  const int picture = RecordPictureIndex(Tags);
  if (Wanted.CoverData.empty()) {
    if (picture >= 0) Tags.DeleteCoverArt(picture);
    return true;
  }
  std::string mime = Wanted.CoverMime;
  if (mime.empty()) mime = SniffPictureMIMEType(Wanted.CoverData.data(), Wanted.CoverData.size());
  if (picture < 0) {
    TMemoryStream stream(Wanted.CoverData);
    // The record's picture is the file's cover: the front cover of the picture-type list
    // that ID3v2, FLAC and WMA share, not "other".
    Tags.AddCoverArt("Cover art 1", stream, mime)->CoverType = kFrontCoverPictureType;
    return true;
  }
  // Name, picture type and description stay with the slot; what describes the old image goes.
  TCoverArt &art = *Tags.CoverArts[static_cast<std::size_t>(picture)];
  art.Stream.Clear();
  art.Stream.Data() = Wanted.CoverData;
  art.MIMEType = mime;
  art.PictureFormat = MIMETypeToPictureFormat(mime);
  art.Width = art.Height = art.ColorDepth = art.NoOfColors = 0;
  return true;
}

void TTagService::BeginCall()
{
  FLastError.clear();
  FLastFailure = tsfNone;
  ClearFileError();
}

bool TTagService::Fail(std::string Message, TTagServiceFailure Kind)
{
  FLastError = std::move(Message);
  FLastFailure = Kind;
  return false;
}

bool TTagService::CheckWritable(const std::string &FileName, const TTags *Tags, const char *Text)
{
  if (const std::string reason = WriteRefusalReason(FileName); !reason.empty())
    return Fail(TagServiceText(Text, tagsFileNotFound) + ": " + reason);
  if (Tags && !CanSaveTagsToFile(*Tags, FileName))
    return Fail(TagServiceText(Text, tagsUnsupported) + ": " + TagServiceText(FormatNotWritable));
  return true;
}

template <typename TWrite> bool TTagService::WriteWithBackup(const std::string &FileName, TWrite &&Write)
{
  const std::string backup = TagBackupFileName(FileName);
  // What saves of this file that were killed left behind: their temporary files, and those
  // of the backup.
  RemoveStaleTempFiles(FileName);
  RemoveStaleTempFiles(backup);
  struct timespec modTime {};
  const bool haveModTime = GetFileModTime(FileName, modTime);
  if (FTransactional) {
    std::string error;
    const TBackupResult made = MakeBackup(FileName, backup, error);
    if (made != brMade)
      return Fail(TagServiceText(BackupFailed) + error, made == brDiffers ? tsfBackupDiffers : tsfOther);
    // Whatever the backup met on its way, the write's own failures say why the write failed.
    ClearFileError();
  }

  std::string error;
  FRefusedBeforeWriting = false;
  try {
    error = Write();
  } catch (const std::exception &e) {
    error = e.what();
  } catch (...) {
    error = TagServiceText(Texts::UnknownFailure);
  }

  if (error.empty()) {
    if (FTransactional) ::unlink(backup.c_str());
    return true;
  }
  FLastError = error;
  FLastFailure = tsfOther;
  // A change the library refused before writing left the file as it was: the backup is only a
  // copy of it, and a refused save leaves nothing beside the file.
  if (FTransactional && FRefusedBeforeWriting && FilesIdentical(FileName, backup)) {
    ::unlink(backup.c_str());
    return false;
  }
  if (FTransactional && FileExists(backup)) {
    // Copied back into the file's own inode: its other names, owner and attributes stay. A
    // failing restore leaves the backup on disk as the intact copy, and the message says so.
    std::string ignored;
    const bool intact = FilesIdentical(FileName, backup) || CopyFileFast(backup, FileName, ignored);
    if (intact && haveModTime) SetFileModTime(FileName, modTime);
    if (!intact) FLastError += "; " + TagServiceText(Texts::NotPutBack) + backup;
  }
  return false;
}

std::string LoadFailureText(const std::string &FileName, int Code)
{
  // The load opens only regular files; only when it could not open this one is it worth
  // asking the file system why.
  if (Code != tagsFileNotFound) return TagServiceText(LoadError, Code) + ": " + ResultCodeReason(Code);
  struct stat st {};
  if (::stat(FileName.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return TagServiceText(FileNotFound);
    return TagServiceText(LoadError, Code) + ": " + SystemErrorReason(errno);
  }
  std::string reason;
  if (!S_ISREG(st.st_mode)) reason = TagServiceText(NotRegularFile);
  else if (::faccessat(AT_FDCWD, FileName.c_str(), R_OK, AT_EACCESS) != 0) reason = SystemErrorReason(errno);
  else reason = TagServiceText(CannotOpen);
  return TagServiceText(LoadError, Code) + ": " + reason;
}

int LoadTagsOfFile(TTags &Tags, const std::string &FileName)
{
  Tags.ParseAudioAttributes = true;
  Tags.ParseCoverArts = true;
  // WavPack, Musepack and Monkey's Audio files hold their play time in their own headers (each
  // read only for its extension).
  Tags.ParseWavPackAudioAttributes = true;
  Tags.ParseMusePackAudioAttributes = true;
  Tags.ParseMonkeyAudioAttributes = true;
  return Tags.LoadFromFile(FileName);
}

std::uint64_t RecordFromTags(const TTags &Tags, const std::string &FileName, TAudioTag &Tag)
{
  ReadFields(Tags, Tag, false);
  Tag.FileName = FileName;
  Tag.FileType = AudioFileTypeFromExtension(FileName);
  const int picture = RecordPictureIndex(Tags);
  return picture < 0 ? 0 : static_cast<std::uint64_t>(Tags.CoverArts[static_cast<std::size_t>(picture)]->DataSize());
}

bool TTagService::LoadContainer(const std::string &FileName, TTags &Tags)
{
  const int code = LoadTagsOfFile(Tags, FileName);
  if (code != tagsOk) return Fail(LoadFailureText(FileName, code));
  return true;
}

bool TTagService::LoadTag(const std::string &FileName, TAudioTag &Tag)
{
  std::uint64_t coverSize = 0;
  return LoadRecord(FileName, Tag, true, coverSize);
}

bool TTagService::LoadTagInfo(const std::string &FileName, TAudioTag &Tag, std::uint64_t &CoverSize)
{
  return LoadRecord(FileName, Tag, false, CoverSize);
}

bool TTagService::LoadRecord(const std::string &FileName, TAudioTag &Tag, bool WithCoverData, std::uint64_t &CoverSize)
{
  BeginCall();
  Tag.Clear();
  CoverSize = 0;
  try {
    TTags tags;
    if (!LoadContainer(FileName, tags)) return false;
    CoverSize = RecordFromTags(tags, FileName, Tag);
    const int picture = RecordPictureIndex(tags);
    if (WithCoverData && picture >= 0) {
      TCoverArt &art = *tags.CoverArts[static_cast<std::size_t>(picture)];
      if (!art.LoadData()) {
        // The picture's file changed between reading the tags and reading the picture.
        Tag.Clear();
        return Fail(TagServiceText(LoadError, tagsUpdateFailed) + ": " + ResultCodeReason(tagsUpdateFailed));
      }
      // The container goes away with this call: its bytes move into the record.
      Tag.CoverData = std::move(art.Stream.Data());
    }
    return true;
  } catch (const std::exception &e) {
    Tag.Clear();
    return Fail(e.what());
  }
}

bool TTagService::SaveContainer(const std::string &FileName, TTags &Tags)
{
  if (!CheckWritable(FileName, &Tags, SaveError)) return false;
  return WriteWithBackup(FileName, [&]() -> std::string {
    const int saved = Tags.SaveToFile(FileName, ttAutomatic);
    FRefusedBeforeWriting = RefusedBeforeWriting(saved);
    return IsSuccessCode(saved) ? std::string() : FailureText(SaveError, saved);
  });
}

bool TTagService::SaveTag(const TAudioTag &Tag)
{
  BeginCall();
  const std::string &fileName = Tag.FileName;
  try {
    // The file is read before anything is written, so that only what the record changes is
    // set and a record equal to the file costs no write at all.
    TTags tags;
    tags.DetectContainerType = true;
    if (!LoadContainer(fileName, tags)) return false;
    TAudioTag current;
    if (!ReadFields(tags, current))
      return Fail(TagServiceText(LoadError, tagsUpdateFailed) + ": " + ResultCodeReason(tagsUpdateFailed));
    TAudioTag wanted = Tag;
    // A record of blanks clears the fields rather than storing the blanks.
    if (IsTagEmpty(wanted))
      for (const TAudioTagTextField &f : AudioTagTextFields()) (wanted.*f.Member).clear();
    if (!WriteChangedFields(tags, current, wanted)) return true;
    return SaveContainer(fileName, tags);
  } catch (const std::exception &e) {
    return Fail(e.what());
  }
}

bool TTagService::SetEntries(const std::string &FileName, const std::vector<TTagEntryValue> &Entries)
{
  BeginCall();
  try {
    TTags tags;
    tags.DetectContainerType = true;
    if (!LoadContainer(FileName, tags)) return false;
    for (const auto &[name, value] : Entries) tags.SetText(name, value);
    return SaveContainer(FileName, tags);
  } catch (const std::exception &e) {
    return Fail(e.what());
  }
}

bool TTagService::RemoveTags(const std::string &FileName)
{
  BeginCall();
  if (NothingThere(FileName)) return Fail(TagServiceText(FileNotFound));
  if (!CheckWritable(FileName, nullptr, RemoveError)) return false;
  return WriteWithBackup(FileName, [&]() -> std::string {
    const int removed = RemoveTagsFromFile(FileName, ttAutomatic);
    FRefusedBeforeWriting = RefusedBeforeWriting(removed);
    return IsSuccessCode(removed) ? std::string() : FailureText(RemoveError, removed);
  });
}

bool TTagService::RestoreBackup(const std::string &FileName)
{
  BeginCall();
  const std::string backup = TagBackupFileName(FileName);
  struct stat st {};
  if (::lstat(backup.c_str(), &st) != 0)
    return Fail(TagServiceText(RestoreFailed) + backup + ": " + TagServiceText(NoBackup));
  if (!S_ISREG(st.st_mode))
    return Fail(TagServiceText(RestoreFailed) + backup + ": " + TagServiceText(NotRegularFile));
  if (SameFile(FileName, backup))
    return Fail(TagServiceText(RestoreFailed) + TagServiceText(Texts::BackupIsTheFile) + backup);
  if (!NothingThere(FileName)) {
    if (const std::string reason = WriteRefusalReason(FileName); !reason.empty())
      return Fail(TagServiceText(RestoreFailed) + FileName + ": " + reason);
  }
  // Into the file's own inode, as after a failed save: its other names and attributes stay.
  std::string ignored;
  if (!FilesIdentical(FileName, backup) && !CopyFileFast(backup, FileName, ignored))
    return Fail(TagServiceText(RestoreFailed) + PathAndReason(FileName));
  ::unlink(backup.c_str());
  return true;
}

std::shared_ptr<ITagService> CreateTagService() { return std::make_shared<TTagService>(); }
