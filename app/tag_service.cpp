#include "app/tag_service.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <exception>
#include <sys/stat.h>
#include <unistd.h>

#include "tags/audio_attributes.h"
#include "tags/streams/file_io.h"
#include "tags/tag_container.h"
#include "tags/text/text.h"

namespace {

// What only the service itself reports, beside the texts of TagServiceTexts.
namespace Texts {
constexpr const char *BackupInTheWay = "a backup from an earlier failed save differs from the file: ";
constexpr const char *BackupNotAFile = "something other than a file is in the way of the backup: ";
constexpr const char *BackupIsTheFile = "the backup path refers to the file itself: ";
constexpr const char *UnknownFailure = "Unexpected failure while writing the file.";
} // namespace Texts

using namespace TagServiceTexts;

bool IsSuccessCode(int Code) { return Code == tagsOk || Code == tagsNothingToDo; }

// A field and the generic names it is read from: the first is the one that is written, the
// others are fallbacks consulted in order when the earlier names give an empty text.
struct TFieldNames {
  std::string TAudioTag::*Member;
  std::array<const char *, 4> Names;
};

const std::array<TFieldNames, kAudioTagTextFieldCount> &FieldNames()
{
  static const std::array<TFieldNames, kAudioTagTextFieldCount> names{{
    {&TAudioTag::Title, {"TITLE"}},
    {&TAudioTag::Artist, {"ARTIST"}},
    {&TAudioTag::Album, {"ALBUM"}},
    {&TAudioTag::Year, {"YEAR", "DATE", "RELEASEDATE", "ORIGINALRELEASEDATE"}},
    {&TAudioTag::Track, {"TRACKNUMBER", "TRACK"}},
    {&TAudioTag::Genre, {"GENRE"}},
    {&TAudioTag::Comment, {"COMMENT"}},
    {&TAudioTag::Disc, {"DISCNUMBER", "DISC"}},
    {&TAudioTag::BPM, {"BPM"}},
    {&TAudioTag::AlbumArtist, {"ALBUMARTIST"}},
    {&TAudioTag::Composer, {"COMPOSER"}},
    {&TAudioTag::OrigArtist, {"ORIGINALARTIST", "ORIGARTIST"}},
    {&TAudioTag::Copyright, {"COPYRIGHT"}},
    {&TAudioTag::URL, {"URL"}},
    {&TAudioTag::EncodedBy, {"ENCODEDBY"}},
    {&TAudioTag::Lyrics, {"LYRICS", "UNSYNCEDLYRICS"}},
  }};
  return names;
}

// The picture a record stands for: the first one that holds any bytes, -1 when none does.
int RecordPictureIndex(const TTags &Tags)
{
  for (int i = 0; i < Tags.CoverArtCount(); ++i)
    if (!Tags.CoverArts[static_cast<std::size_t>(i)]->Stream.Data().empty()) return i;
  return -1;
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

// Copies FileName to Backup. An entry already at Backup is replaced only when it holds the
// same bytes as the file; a copy that fails half-way is removed, since the file is intact.
bool MakeBackup(const std::string &FileName, const std::string &Backup, std::string &Error)
{
  struct stat st {};
  if (::lstat(Backup.c_str(), &st) == 0) {
    // Only a plain file is compared: reading a FIFO or a device could block, and a link
    // would have the copy written wherever it points.
    if (!S_ISREG(st.st_mode)) {
      Error = TagServiceText(Texts::BackupNotAFile) + Backup;
      return false;
    }
    if (SameFile(FileName, Backup)) {
      Error = TagServiceText(Texts::BackupIsTheFile) + Backup;
      return false;
    }
    if (!FilesIdentical(FileName, Backup)) {
      Error = TagServiceText(Texts::BackupInTheWay) + Backup;
      return false;
    }
  }
  if (CopyFileFast(FileName, Backup, Error)) return true;
  ::unlink(Backup.c_str());
  return false;
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

void ReadFields(const TTags &Tags, TAudioTag &Tag)
{
  for (const TFieldNames &f : FieldNames()) {
    std::string value;
    for (const char *name : f.Names) {
      if (!name) break;
      value = Tags.GetText(name);
      if (!value.empty()) break;
    }
    Tag.*f.Member = std::move(value);
  }
  if (Utf8Length(Tag.Year) >= 4) Tag.Year = Utf8Left(Tag.Year, 4);

  Tag.DurationSec = WholeSeconds(Tags.SourceAudioAttributes.PlayTime());

  Tag.CoverMime.clear();
  Tag.CoverData.clear();
  const int picture = RecordPictureIndex(Tags);
  if (picture >= 0) {
    const TCoverArt &art = *Tags.CoverArts[static_cast<std::size_t>(picture)];
    Tag.CoverMime = art.MIMEType;
    Tag.CoverData = art.Stream.Data();
  }
  Tag.Modified = false;
}

bool WriteChangedFields(TTags &Tags, const TAudioTag &Current, const TAudioTag &Wanted)
{
  bool changed = false;
  for (const TFieldNames &f : FieldNames()) {
    const std::string &value = Wanted.*f.Member;
    if (value == Current.*f.Member) continue;
    changed = true;
    if (!value.empty()) {
      // Fallback entries stay: the first name is read before them.
      Tags.SetText(f.Names[0], value);
      continue;
    }
    // A fallback would otherwise bring the cleared value back on the next load.
    for (const char *name : f.Names)
      if (name) Tags.Clear(name);
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
    Tags.AddCoverArt("Cover art 1", stream, mime);
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

template <typename TWrite> bool TTagService::WriteWithBackup(const std::string &FileName, TWrite &&Write)
{
  const std::string backup = TagBackupFileName(FileName);
  struct timespec modTime {};
  const bool haveModTime = GetFileModTime(FileName, modTime);
  if (FTransactional) {
    std::string error;
    if (!MakeBackup(FileName, backup, error)) {
      FLastError = TagServiceText(BackupFailed) + error;
      return false;
    }
  }

  std::string error;
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
  if (FTransactional && FileExists(backup)) {
    // A failing restore leaves the backup on disk as the intact copy; nothing more to do here.
    std::string ignored;
    const bool intact = FilesIdentical(FileName, backup) || CopyFileFast(backup, FileName, ignored);
    if (intact && haveModTime) SetFileModTime(FileName, modTime);
  }
  return false;
}

bool TTagService::LoadTag(const std::string &FileName, TAudioTag &Tag)
{
  FLastError.clear();
  Tag.Clear();
  if (!FileExists(FileName)) {
    FLastError = TagServiceText(FileNotFound);
    return false;
  }
  try {
    TTags tags;
    tags.ParseAudioAttributes = true;
    tags.ParseCoverArts = true;
    const int code = tags.LoadFromFile(FileName);
    if (code != tagsOk) {
      FLastError = TagServiceText(LoadError, code);
      return false;
    }
    ReadFields(tags, Tag);
    Tag.FileName = FileName;
    Tag.FileType = AudioFileTypeFromExtension(FileName);
    return true;
  } catch (const std::exception &e) {
    Tag.Clear();
    FLastError = e.what();
    return false;
  }
}

bool TTagService::SaveTag(const TAudioTag &Tag)
{
  FLastError.clear();
  const std::string &fileName = Tag.FileName;
  if (!FileExists(fileName)) {
    FLastError = TagServiceText(FileNotFound);
    return false;
  }
  try {
    // The file is read before anything is written, so that only what the record changes is
    // set and a record equal to the file costs no write at all.
    TTags tags;
    tags.ParseAudioAttributes = true;
    tags.ParseCoverArts = true;
    const int code = tags.LoadFromFile(fileName);
    if (code != tagsOk) {
      FLastError = TagServiceText(LoadError, code);
      return false;
    }
    TAudioTag current;
    ReadFields(tags, current);
    TAudioTag wanted = Tag;
    // A record of blanks clears the fields rather than storing the blanks.
    if (IsTagEmpty(wanted))
      for (const TAudioTagTextField &f : AudioTagTextFields()) (wanted.*f.Member).clear();
    if (!WriteChangedFields(tags, current, wanted)) return true;

    return WriteWithBackup(fileName, [&]() -> std::string {
      const int saved = tags.SaveToFile(fileName, ttAutomatic);
      return IsSuccessCode(saved) ? std::string() : TagServiceText(SaveError, saved);
    });
  } catch (const std::exception &e) {
    FLastError = e.what();
    return false;
  }
}

bool TTagService::RemoveTags(const std::string &FileName)
{
  FLastError.clear();
  if (!FileExists(FileName)) {
    FLastError = TagServiceText(FileNotFound);
    return false;
  }
  return WriteWithBackup(FileName, [&]() -> std::string {
    const int removed = RemoveTagsFromFile(FileName, ttAutomatic);
    return IsSuccessCode(removed) ? std::string() : TagServiceText(RemoveError, removed);
  });
}

std::shared_ptr<ITagService> CreateTagService() { return std::make_shared<TTagService>(); }
