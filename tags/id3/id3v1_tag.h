#pragma once
// TID3v1Tag: the 128-byte ID3v1 record at the end of a file (forms 1.0 and 1.1, "ID3 tag
// version 1.1" layout) with the Lyrics3 v2.00 block that may stand directly in front of it.
// Text fields are single-byte Windows-1252 on disk and UTF-8 here; Lyrics3 field values use
// the same code page in both directions. The record is looked for only in the last 128 bytes;
// nothing else at the end of a file (APEv2 and the like) is looked at or touched.
// A Lyrics3 block whose fields did not change is written back as it was read, byte for byte.
// A save rewrites only the old tail (record, and with Lyrics3 the block in front of it): the
// new tail is built in memory first, so a refused save changes nothing, and bytes before the
// old tail are never written. The old tail is kept while the new one is written and put back
// when a write, the truncation or the flush fails: a failed save or removal leaves the file
// byte-identical. Lyrics3 values longer than their 5-digit length field
// (kLyrics3MaxFieldBytes) or blocks longer than the 6-digit size (kLyrics3MaxBlockBytes) are
// refused, never written with cut digits. A Lyrics3 block that does not fit the stream, or
// whose fields overrun it, is damaged: it is ignored on load and the record still loads.
// Genre on save: a table name (or "Psychadelic") or a number 0..255 is stored as its byte;
// anything else, the empty text included, stores 255 ("no genre"). A record with a track
// (Track not 0) is written in the 1.1 form, its comment cut to 28 bytes; one without a track
// in the 1.0 form, with all 30 comment bytes.
// SaveToFile never creates a file. Result codes: see TID3v1Result.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tags/streams/stream.h"

struct TRewritePlan;

enum TID3v1Result : int {
  id3v1Ok = 0,
  id3v1FileNotFound = 3,  // LoadFromFile: no such file; SaveToFile: cannot open (or no such file)
  id3v1ReadError = 4,     // a parse error while loading (Lyrics3 length digits that are not a
                          // number); the old record unreadable while saving
  id3v1WriteError = 5,    // writing the record (or truncating the file) failed, or a Lyrics3 value
                          // or block too long for its length field (then nothing was written)
  id3v1ReadOnly = 6,      // the file is read-only; nothing was written
  id3v1NoTag = 0xFFFF,    // no "TAG" record; a null block; the file could not be opened for reading;
                          // LoadLyricsTag: no valid Lyrics3 block
};

// Lyrics3 limits: the decimal length fields hold 5 (field) and 6 (block) digits.
constexpr std::int64_t kLyrics3MaxFieldBytes = 99999;
constexpr std::int64_t kLyrics3MaxBlockBytes = 999999;

class TID3v1Tag;

class TID3LyricsFrame {
public:
  TID3v1Tag *Parent = nullptr;
  std::string ID;    // three characters
  std::string Data;  // UTF-8
  int Index() const;
};

class TID3v1Tag {
public:
  TID3v1Tag();
  ~TID3v1Tag();
  TID3v1Tag(const TID3v1Tag &) = delete;
  TID3v1Tag &operator=(const TID3v1Tag &) = delete;

  void Clear();
  int LoadFromFile(const std::string &FileName);
  int LoadFromStream(TStream &TagStream);
  // Reads a record from a memory block: its last 128 bytes, and a Lyrics3 block in front of
  // them. Nothing outside the Size bytes is read.
  int LoadFromMemory(const void *MemoryAddress, std::int64_t Size);
  int SaveToFile(const std::string &FileName, bool WriteLyricsTag);
  int SaveToStream(TStream &TagStream, bool WriteLyricsTag);
  // The new tail (block and record) as a patch that ends the stream, from where the old one
  // begins; nothing is written.
  int PlanSave(TStream &TagStream, bool WriteLyricsTag, TRewritePlan &Plan) const;
  // 0, 65535 (no block, or a damaged one: nothing is added), or 4 (length digits that are not
  // a number).
  int LoadLyricsTag(TStream &TagStream);
  // Replaces a Lyrics3 block at the very end of the stream, or appends one; 0 or 65535.
  int LyricsTagSaveToStream(TStream &TagStream);

  TID3LyricsFrame *AddLyricsFrame(const std::string &ID);
  TID3LyricsFrame *FindLyricsFrame(const std::string &ID);
  TID3LyricsFrame *SetLyricsFrame(const std::string &ID, const std::string &Value);
  bool DeleteLyricsFrame(int Index);
  bool DeleteLyricsFrame(const std::string &ID);
  std::string GetLyrics() const;
  void SetLyrics(const std::string &Text);
  bool Assign(const TID3v1Tag &Source);

  std::int32_t LyricsSize() const { return FLyricsTagSize; }
  std::int64_t FileSize() const { return FFileSize; }

  std::string SourceFileName;
  bool Loaded = false;
  bool Revision1 = false;
  std::string Title, Artist, Album, Year, Comment;
  std::uint8_t Track = 0;
  std::string TrackString;
  std::string Genre;
  std::vector<std::unique_ptr<TID3LyricsFrame>> LyricsFrames;
  bool LyricsHasTimeStamp = false;
  bool InhibitTracksForRandomSelection = false;

  bool TrimText = true;
  bool TreatUnknownGenresAsOther = false;
  bool ReturnANSIText = true;
  bool SetANSIText = true;
  bool PreserveFileDateTime = false;

private:
  std::string DecodeText(std::string_view Bytes) const;
  std::string EncodeText(std::string_view Text) const;
  void ParseRecord(const TBytes &Record);
  std::uint8_t GenreIndexToSave() const;
  TBytes BuildRecord() const;
  // The whole block, "LYRICSBEGIN" to "LYRICS200"; false when it does not fit the length fields.
  bool BuildLyricsBlock(TBytes &Block) const;

  std::int32_t FLyricsTagSize = 0;
  std::int64_t FFileSize = 0;
  // The Lyrics3 block as loaded, and as BuildLyricsBlock gave it right after the load: a save
  // whose block still builds the same writes the loaded bytes (its own field order and flags).
  TBytes FLoadedLyricsBlock;
  TBytes FLoadedLyricsBuilt;
};

// Remove the last 128 bytes when they are an ID3v1 record, together with a valid Lyrics3 block
// in front of them. 0 when removed, 65535 when there is no record, 5 when truncating failed;
// the file variant also 6 (read-only, untouched) and 3 (cannot be opened).
int StripID3v1FromFile(const std::string &FileName, bool PreserveFileDateTime);
int StripID3v1FromStream(TStream &Stream);
// Plans the removal of the record (and a Lyrics3 block in front of it) from the content of
// Stream; id3v1NoTag when there is none. Nothing is written.
int PlanID3v1Strip(TStream &Stream, TRewritePlan &Plan);

// Where the blocks at the very end of Stream begin: an ID3v1 record in the last 128 bytes with
// a valid Lyrics3 v2.00 block in front of it, or such a block alone at the very end; the size
// when there is neither. The tags that stand in front of them (APEv2) end here.
std::int64_t TrailingTagsStart(TStream &Stream);

// The 192 genre names, indices 0..191, shared with the ID3v2 and MP4 code.
constexpr int kID3GenreCount = 192;
const char *ID3GenreName(int Index);             // null outside 0..191
int ID3GenreIndex(const std::string &Name);      // exact match, else ASCII case folding; -1 when absent
