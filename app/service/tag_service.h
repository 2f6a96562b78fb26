#pragma once
// ITagService: the one bridge between the flat record TAudioTag and the tag container TTags.
// TTagService implements it: each call creates its own container and frees it before
// returning, so no file stays open between calls. Writes are transactional by default: the
// file is copied to FileName + ".qln_bak" first, copied back when any step fails, and the copy
// is deleted after success. A backup is written under a temporary name and renamed into place
// only when complete and synced, so a backup on disk is always a complete copy. A backup left
// by an earlier save is removed when it is byte-identical to the file; one that differs blocks
// the write (it may be the only intact copy) until it is restored (RestoreBackup) or deleted.
// A write that cannot succeed at all (a read-only file, a format without a writer, something
// other than a regular file) is refused before any copy is made. Temporary files that killed
// saves of the file left beside it are removed by its next write.
// Every failure says why: the fixed text, then ": " and the reason ("read-only file", "no space
// left on device", ...), taken from the system error of the failing operation or the code.
// A save writes only what the record changes relative to what the file reads now: untouched
// fields keep their native form (a full date behind a four-character year, the line breaks
// of a comment), pictures the record does not hold stay, and a record equal to the file
// writes nothing at all. Removing every tag from a file is a request of its own (RemoveTags).
// Failures are reported by a false result and GetLastError(); nothing throws out.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/service/audio_tag.h"

class TTags;

// The texts the service reports, in their untranslated form. They reach the user through
// TagServiceText, the one place where a translation lookup would go in front of them; the
// service is plain C++ without the translation table, so today it hands them out in English.
// The second form puts Code in place of the "%d".
namespace TagServiceTexts {
inline constexpr const char *FileNotFound = "File not found.";
inline constexpr const char *BackupFailed = "Backup failed: ";
inline constexpr const char *LoadError = "Tags load error: %d";
inline constexpr const char *SaveError = "Tags save error: %d";
inline constexpr const char *RemoveError = "Tags remove error: %d";
inline constexpr const char *RestoreFailed = "Restore failed: ";
} // namespace TagServiceTexts

// The reasons that follow the fixed texts, untranslated like them.
namespace TagServiceReasons {
inline constexpr const char *ReadOnlyFile = "read-only file";
inline constexpr const char *PermissionDenied = "permission denied";
inline constexpr const char *NoSpace = "no space left on device";
inline constexpr const char *QuotaExceeded = "disk quota exceeded";
inline constexpr const char *ReadOnlyFileSystem = "read-only file system";
inline constexpr const char *InputOutputError = "input/output error";
inline constexpr const char *NotRegularFile = "not a regular file";
inline constexpr const char *FormatNotWritable = "this format cannot be written yet";
inline constexpr const char *CannotOpen = "the file could not be opened";
inline constexpr const char *FileChanged = "the file changed since it was read, or its tag cannot be updated safely";
inline constexpr const char *CannotWrite = "the file could not be written";
inline constexpr const char *Damaged = "damaged tag or file structure";
inline constexpr const char *VersionUnsupported = "tag version not supported";
inline constexpr const char *WrongFileKind = "not the kind of file the tag format expects";
inline constexpr const char *TooLarge = "the tags are too large for this file";
inline constexpr const char *InUse = "the file is in use";
inline constexpr const char *LayoutNotWritable = "the file holds several interleaved streams or damaged pages and is not written";
inline constexpr const char *ItemReadOnly = "the tag marks an item to be changed as read-only";
inline constexpr const char *Protected = "the file is protected (encrypted) and is not written";
inline constexpr const char *Unexpected = "unexpected failure";
inline constexpr const char *NoBackup = "there is no backup";
} // namespace TagServiceReasons
std::string TagServiceText(const char *Text);
std::string TagServiceText(const char *Text, int Code);
// The reason for a system error (errno), e.g. "no space left on device"; the system's own text
// for an error without a reason of ours.
std::string SystemErrorReason(int Error);
// The reason for a container result code when no system error says more.
std::string ResultCodeReason(int Code);

// What kind of failure the last failed call of a tag service was, for a caller that offers a
// way out of it.
enum TTagServiceFailure {
  tsfNone,
  tsfOther,
  // A backup left by an earlier failed save differs from the file and blocks the write; it is
  // a complete copy of the file from before that save (RestoreBackup puts it back).
  tsfBackupDiffers,
};

// A generic tag entry to set: name and value (an empty value removes the entry).
using TTagEntryValue = std::pair<std::string, std::string>;

class ITagService {
public:
  virtual ~ITagService() = default;
  // Fills Tag from the file; on failure Tag is reset and has no FileName.
  virtual bool LoadTag(const std::string &FileName, TAudioTag &Tag) = 0;
  // As LoadTag, but the picture's bytes may stay in the file: Tag.CoverData is left empty,
  // CoverMime is set and CoverSize receives the picture's size (0 without a picture).
  virtual bool LoadTagInfo(const std::string &FileName, TAudioTag &Tag, std::uint64_t &CoverSize)
  {
    const bool loaded = LoadTag(FileName, Tag);
    CoverSize = Tag.CoverData.size();
    TBytes().swap(Tag.CoverData);
    return loaded;
  }
  // Writes into Tag.FileName what Tag changes; Tag itself is not changed.
  virtual bool SaveTag(const TAudioTag &Tag) = 0;
  // The message of the last failed call; empty after a success.
  virtual std::string GetLastError() const = 0;
  virtual void SetTransactional(bool Value) = 0;
  virtual bool GetTransactional() const = 0;
  // Removes every native tag from the file (the Remove Tags command).
  virtual bool RemoveTags(const std::string &FileName) = 0;
  // The kind of the last failure; tsfNone after a success.
  virtual TTagServiceFailure GetLastFailure() const { return GetLastError().empty() ? tsfNone : tsfOther; }
  // Puts the backup of FileName (TagBackupFileName) back over the file and removes it. False,
  // with GetLastError, when there is no backup or it could not be put back (it stays then).
  virtual bool RestoreBackup(const std::string &FileName)
  {
    (void)FileName;
    return false;
  }
  // Sets generic entries by name as given (in order; an empty value removes the entry) and
  // saves, with the same refusals, backup and restore as SaveTag.
  virtual bool SetEntries(const std::string &FileName, const std::vector<TTagEntryValue> &Entries)
  {
    (void)FileName;
    (void)Entries;
    return false;
  }
};

class TTagService : public ITagService {
public:
  bool LoadTag(const std::string &FileName, TAudioTag &Tag) override;
  bool LoadTagInfo(const std::string &FileName, TAudioTag &Tag, std::uint64_t &CoverSize) override;
  bool SaveTag(const TAudioTag &Tag) override;
  std::string GetLastError() const override { return FLastError; }
  void SetTransactional(bool Value) override { FTransactional = Value; }
  bool GetTransactional() const override { return FTransactional; }
  bool RemoveTags(const std::string &FileName) override;
  TTagServiceFailure GetLastFailure() const override { return FLastFailure; }
  bool RestoreBackup(const std::string &FileName) override;
  bool SetEntries(const std::string &FileName, const std::vector<TTagEntryValue> &Entries) override;

private:
  // Starts a call: no error, no failure, no system error noted.
  void BeginCall();
  bool Fail(std::string Message, TTagServiceFailure Kind = tsfOther);
  // Refuses (false, with Text, the code and the reason in FLastError) a write of FileName that
  // cannot succeed: something other than a regular file, a read-only file, one this process
  // may not write, and, when Tags is given, a file none of whose formats has a writer.
  bool CheckWritable(const std::string &FileName, const TTags *Tags, const char *Text);
  // Saves Tags into FileName inside the backup protocol (SaveTag and SetEntries).
  bool SaveContainer(const std::string &FileName, TTags &Tags);
  // Loads FileName into Tags as every call of the service does; false with FLastError set.
  bool LoadContainer(const std::string &FileName, TTags &Tags);
  // LoadTag and LoadTagInfo: the record, with or without the picture's bytes.
  bool LoadRecord(const std::string &FileName, TAudioTag &Tag, bool WithCoverData, std::uint64_t &CoverSize);
  // Runs Write (which returns an error message, empty on success) on FileName inside the
  // backup and restore protocol when Transactional. Write sets FRefusedBeforeWriting when the
  // library refused the change before writing anything: the backup then goes again.
  template <typename TWrite> bool WriteWithBackup(const std::string &FileName, TWrite &&Write);
  bool FRefusedBeforeWriting = false;

  std::string FLastError;
  TTagServiceFailure FLastFailure = tsfNone;
  bool FTransactional = true;
};

std::shared_ptr<ITagService> CreateTagService();

// Where the service keeps a file's backup while it writes: the path followed by ".qln_bak".
std::string TagBackupFileName(const std::string &FileName);

// The sixteen fields (with their fallback names), the record's picture (RecordPictureIndex),
// whatever its name, and the rounded play time of a loaded container. FileName, FileType and Modified
// are left alone. Track and Disc carry their totals: "TRACKNUMBER" (or "TRACK"), then "/" and
// "TOTALTRACKS" (or "TRACKTOTAL") when there is a total and the number holds no "/" yet; Disc
// likewise with "TOTALDISCS" (or "DISCTOTAL"). Year is cut to its first four characters.
// Title, Artist, Album, Genre, AlbumArtist, Composer, OrigArtist, Copyright and EncodedBy show
// every value of their name (each line of each entry, empty ones left out) joined by
// kFieldValueSeparator, and with two values or more keep them as the field's separate values
// (TAudioTag::SeparateValues); the other fields show the first entry of their name.
// With WithCoverData false the picture's bytes are not fetched (CoverData stays empty); with
// it, a picture the load left in the file is fetched, and false is returned when that file
// changed since (CoverData empty then).
bool ReadFields(const TTags &Tags, TAudioTag &Tag, bool WithCoverData = true);

// The message for a load of FileName that returned Code: "File not found." when nothing is
// there, else "Tags load error: %d" followed by the reason ("not a regular file", "permission
// denied", ...).
std::string LoadFailureText(const std::string &FileName, int Code);

// Loads FileName into Tags as every call of the service does (audio properties and pictures
// asked for); the container's result code.
int LoadTagsOfFile(TTags &Tags, const std::string &FileName);
// The record of a container loaded from FileName, without the picture's bytes (ReadFields,
// FileName, FileType); returns the size of the record's picture (0 without one).
std::uint64_t RecordFromTags(const TTags &Tags, const std::string &FileName, TAudioTag &Tag);

// The picture a record stands for: the first front cover (picture type 3) that holds any
// bytes, else the first picture that does; -1 when none does. Loading, replacing and clearing
// the record's picture all act on this one.
int RecordPictureIndex(const TTags &Tags);

// The year as the container holds it, before ReadFields cuts it to four characters: "YEAR",
// else "DATE", "RELEASEDATE", "ORIGINALRELEASEDATE", "RECORDINGDATE".
std::string ReadFullYear(const TTags &Tags);

// Applies to Tags what Wanted changes relative to Current, the ReadFields of the same
// container: a changed field is set under its first generic name (as the only entry of that
// name), and a field changed to empty also clears its fallback names so that it reads back
// empty. A free-text field is written with its values (FieldValues): one value typed over
// several joined ones replaces them all; separate values the record keeps become one entry
// each, so that a record taken before an edit (an undo step) gives the file back its
// separate values; such a field also counts as changed when the file shows the same text
// from other values (its joined text stored as one value). A field whose text and values are
// as the file shows them is not touched and the file keeps its values as they are. A changed
// Track is split at its first "/" into "TRACKNUMBER" and "TOTALTRACKS"; with no "/" or
// nothing after it the totals ("TOTALTRACKS", "TRACKTOTAL") are cleared; Disc likewise. A
// changed picture replaces the record's picture (RecordPictureIndex), a cleared one removes
// it, the other pictures stay. True when anything changed.
bool WriteChangedFields(TTags &Tags, const TAudioTag &Current, const TAudioTag &Wanted);
