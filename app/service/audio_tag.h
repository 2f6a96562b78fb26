#pragma once
// TAudioTag: the application's flat record of one audio file: the sixteen text fields the
// editor shows (UTF-8, empty = no value), one cover picture, the play time in whole seconds
// and the flag that marks a record whose values must be written by the next save. A value
// copied whole into tables, undo steps and lists; nothing in it is shared.
// TAudioFileType is the kind of file by its extension (informational only); TTagField names
// the seven fields that quick actions address.
// A free-text field that the file holds several values of (two artists) shows them joined by
// kFieldValueSeparator and keeps the values themselves beside the text (FieldValues), so that
// whatever writes the record back (a save, an undo) can give the file its separate values
// again rather than their joined text.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tags/streams/stream.h"

enum TAudioFileType : std::uint8_t {
  aftUnknown, aftMP3, aftFLAC, aftMP4, aftWMA, aftOGG, aftAPE, aftWAV,
};

enum TTagField : std::uint8_t {
  tfTitle, tfArtist, tfAlbum, tfYear, tfTrack, tfGenre, tfComment,
};

// What joins the values of a free-text field that the file holds several of (two ARTIST
// entries, or one ID3v2 text frame with two strings): "piman; jzig".
constexpr const char *kFieldValueSeparator = "; ";

struct TAudioTag {
  // The separate values of one text field (Member) whose text is their join: two or more,
  // none empty, in the order the file holds them.
  struct TFieldValues {
    std::string TAudioTag::*Member = nullptr;
    std::vector<std::string> Values;
    bool operator==(const TFieldValues &) const = default;
  };

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
  // The fields with several values, at most one item per field. An item counts only while its
  // values still join to the field's text (FieldValues): a text typed over it is one value.
  std::vector<TFieldValues> SeparateValues;

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
// ".mp4" -> aftMP4, ".ogg", ".oga" and ".opus" -> aftOGG, ".ape", ".wv" and ".mpc", the files
// tagged with APEv2, -> aftAPE, ...); aftUnknown for anything else.
TAudioFileType AudioFileTypeFromExtension(const std::string &FileName);
// A name the editor lists: ".mp3", ".flac", ".ogg", ".opus", ".oga", ".ape", ".wv", ".mpc",
// ".m4a", ".m4b", ".mp4", ".wma", ".wav", ".aif", ".aiff", ".dsf" or ".dff", in any case. (AIFF,
// DSF and DSDIFF files carry ID3v2 tags; they have no file type of their own: aftUnknown.)
bool IsScannedAudioFileName(std::string_view Name);
const char *AudioFileTypeName(TAudioFileType FileType);  // "aftMP3", ...

// The values of Member's text: the separate values kept for it when they join to that text,
// else the text as one value (none when it is empty).
std::vector<std::string> FieldValues(const TAudioTag &Tag, std::string TAudioTag::*Member);
// True when Member's text stands for several separate values (FieldValues gives two or more).
bool HasSeparateValues(const TAudioTag &Tag, std::string TAudioTag::*Member);
// Sets Member to Values: its text becomes their join by kFieldValueSeparator (empty values
// left out), and with two or more values they are kept as its separate values.
void SetFieldValues(TAudioTag &Tag, std::string TAudioTag::*Member, std::vector<std::string> Values);
// Sets Member's text to Text as one value: separate values kept for it go.
void SetFieldText(TAudioTag &Tag, std::string TAudioTag::*Member, std::string Text);
// Values joined by kFieldValueSeparator.
std::string JoinFieldValues(const std::vector<std::string> &Values);

// True when each of the sixteen text fields is empty after trimming characters up to U+0020
// at both ends and there is no cover picture.
bool IsTagEmpty(const TAudioTag &Tag);
