#pragma once
// ITagService: the one bridge between the flat record TAudioTag and the tag container TTags.
// TTagService implements it: each call creates its own container and frees it before
// returning, so no file stays open between calls. Writes are transactional by default: the
// file is copied to FileName + ".qln_bak" first, copied back when any step fails, and the copy
// is deleted after success. An existing backup is only replaced when it is byte-identical to
// the file, since after an earlier failed restore it may be the only intact copy.
// A save writes only what the record changes relative to what the file reads now: untouched
// fields keep their native form (a full date behind a four-character year, the line breaks
// of a comment), pictures the record does not hold stay, and a record equal to the file
// writes nothing at all. Removing every tag from a file is a request of its own (RemoveTags).
// Failures are reported by a false result and GetLastError(); nothing throws out.

#include <cstdint>
#include <memory>
#include <string>

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
} // namespace TagServiceTexts
std::string TagServiceText(const char *Text);
std::string TagServiceText(const char *Text, int Code);

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

private:
  // Loads FileName into Tags as every call of the service does; false with FLastError set.
  bool LoadContainer(const std::string &FileName, TTags &Tags);
  // LoadTag and LoadTagInfo: the record, with or without the picture's bytes.
  bool LoadRecord(const std::string &FileName, TAudioTag &Tag, bool WithCoverData, std::uint64_t &CoverSize);
  // Runs Write (which returns an error message, empty on success) on FileName inside the
  // backup and restore protocol when Transactional.
  template <typename TWrite> bool WriteWithBackup(const std::string &FileName, TWrite &&Write);

  std::string FLastError;
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
// With WithCoverData false the picture's bytes are not fetched (CoverData stays empty); with
// it, a picture the load left in the file is fetched, and false is returned when that file
// changed since (CoverData empty then).
bool ReadFields(const TTags &Tags, TAudioTag &Tag, bool WithCoverData = true);

// The message for a load of FileName that returned Code: "File not found." when the file is
// missing or not a regular file, else "Tags load error: %d".
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
// empty. A changed Track is split at its first "/" into "TRACKNUMBER" and "TOTALTRACKS"; with
// no "/" or nothing after it the totals ("TOTALTRACKS", "TRACKTOTAL") are cleared; Disc
// likewise. A changed picture replaces the record's picture (RecordPictureIndex), a cleared
// one removes it, the other pictures stay. True when anything changed.
bool WriteChangedFields(TTags &Tags, const TAudioTag &Current, const TAudioTag &Wanted);
