#pragma once
// TAudioTag: the application's flat record of one audio file: the sixteen text fields the
// editor shows (UTF-8, empty = no value), one cover picture, the play time in whole seconds
// and the flag that marks a record whose values must be written by the next save. A value
// copied whole into tables, undo steps and lists; nothing in it is shared.
// TAudioFileType is the kind of file by its extension (informational only); TTagField names
// the seven fields that quick actions address.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "tags/streams/stream.h"

enum TAudioFileType : std::uint8_t {
  aftUnknown, aftMP3, aftFLAC, aftMP4, aftWMA, aftOGG, aftAPE, aftWAV,
};

enum TTagField : std::uint8_t {
  tfTitle, tfArtist, tfAlbum, tfYear, tfTrack, tfGenre, tfComment,
};

struct TAudioTag {
  std::string FileName;
  TAudioFileType FileType = aftUnknown;
  std::string Title;
  std::string Artist;
  std::string Album;
  std::string Year;
  std::string Track;
  std::string Genre;
  std::string Comment;
  std::string Disc;
  std::string BPM;
  std::string AlbumArtist;
  std::string Composer;
  std::string OrigArtist;
  std::string Copyright;
  std::string URL;
  std::string EncodedBy;
  std::string Lyrics;
  std::string CoverMime;
  TBytes CoverData;
  std::int32_t DurationSec = 0;
  bool Modified = false;

  // Back to the state of a new record: empty texts and picture, zero numbers, not modified.
  void Clear() { *this = TAudioTag(); }
  bool operator==(const TAudioTag &) const = default;
};

// The sixteen text fields in declared order, with their field names ("Title" ... "Lyrics").
struct TAudioTagTextField {
  const char *Name;
  std::string TAudioTag::*Member;
};
constexpr int kAudioTagTextFieldCount = 16;
const std::array<TAudioTagTextField, kAudioTagTextFieldCount> &AudioTagTextFields();

// The kind of file from the lower-cased extension of FileName (".mp3" -> aftMP3, ".m4a" and
// ".mp4" -> aftMP4, ".ogg", ".oga" and ".opus" -> aftOGG, ...); aftUnknown for anything else.
TAudioFileType AudioFileTypeFromExtension(const std::string &FileName);
// A name the editor lists: ".mp3", ".flac", ".ogg", ".opus", ".oga", ".ape", ".m4a", ".wma" or
// ".wav", in any case.
bool IsScannedAudioFileName(std::string_view Name);
const char *AudioFileTypeName(TAudioFileType FileType);  // "aftMP3", ...

// True when each of the sixteen text fields is empty after trimming characters up to U+0020
// at both ends and there is no cover picture.
bool IsTagEmpty(const TAudioTag &Tag);
