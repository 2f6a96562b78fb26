#pragma once
// TAPEv2Tag: the APE tag at the end of a file (Monkey's Audio, WavPack, Musepack, MP3 and any
// other file), version 2.000 and 1.000, as the APEv2 format documents it: an optional 32-byte
// header, the items, a 32-byte footer ("APETAGEX", version, size of items and footer, item
// count, flags), then optionally a Lyrics3 v2.00 block and an ID3v1 record. An item is its
// value size and flags (32-bit little-endian each), a key of printable ASCII ended by 0x00, and
// the value. Bits 1-2 of the flags give the type (UTF-8 text, binary, external locator,
// reserved), bit 0 marks the item read-only.
//
// Invariants:
// - The tag is found the same way for loading, saving and removal (LocateAPEv2Tag): a footer
//   that ends the file, else one in front of the Lyrics3 block and ID3v1 record at the end.
// - No field is trusted: the size is checked against the footer's own place, each item and its
//   key against the bytes left in the item region; the item count is only a hint. A tag whose
//   items do not fill their region exactly is damaged: what could be read is loaded (so that it
//   shows), and it is never written back or cut off.
// - A save or removal cuts the file where the tag starts only after checking "APETAGEX" there
//   (a header) or, without a header, that the items fill the region exactly; anything else is
//   refused and no byte of the audio is touched.
// - Every item keeps its key, flags and value bytes: text, binary, external-locator and reserved
//   items alike are written back as they were read unless changed. An untouched tag is not
//   rewritten at all.
// - Several values of a text item are separated by 0x00 bytes inside the one item; keys are
//   unique ignoring case among the items this object adds.
// - Written: APEv2 (version 2000) with header and footer, then the Lyrics3 block and ID3v1
//   record that followed the old tag, byte for byte.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tags/streams/stream.h"

class TReadView;
struct TRewritePlan;

enum TAPEv2Result : int {
  apeOk = 0,
  apeNoTag = 1,            // no APE tag where one is looked for
  apeFileNotFound = 4,     // the file does not exist or cannot be opened
  apeUpdateFailed = 5,     // the file changed under the save, or its old bytes could not be read
  apeWriteFailed = 6,      // writing, the temporary file or the truncation failed; the file is as it was
  apeDamaged = 7,          // the items do not fit the tag (or its start cannot be proven): not written
  apeVersion = 8,          // neither version 2000 nor 1000
  apeFooterUnreadable = 9, // the footer cannot be read completely
  apeReadOnly = 10,        // the file is read-only
  apeTooLarge = 11,        // the new tag does not fit the format's 32-bit sizes
  apeItemReadOnly = 12,    // a change reaches an item marked read-only; nothing was written
  apeFailure = 0xFFFF,
};

enum TAPEv2FrameFormat { ffUnknown = 0, ffText = 1, ffBinary = 2 };
enum TAPEv2PictureFormat { pfUnknown = 0, pfJPEG = 1, pfPNG = 2, pfBMP = 3, pfGIF = 4 };

// Item type in bits 1-2 of the flags.
enum TAPEv2ItemType : std::uint32_t { aitText = 0, aitBinary = 1, aitLocator = 2, aitReserved = 3 };

constexpr std::uint32_t kAPEv2ItemReadOnly = 1u;
constexpr std::uint32_t kAPEv2FlagHasHeader = 0x80000000u;
constexpr std::uint32_t kAPEv2FlagNoFooter = 0x40000000u;
constexpr std::uint32_t kAPEv2FlagIsHeader = 0x20000000u;
constexpr std::int64_t kAPEv2HeaderBytes = 32;
// Keys: 2 to 255 bytes of printable ASCII.
constexpr std::size_t kAPEv2MinKeyBytes = 2;
constexpr std::size_t kAPEv2MaxKeyBytes = 255;
// A tag larger than this is not read into memory: it is refused as damaged.
constexpr std::int64_t kAPEv2MaxTagBytes = 256LL * 1024 * 1024;

// A picture item's parts: the description in front of the first 0x00 and the image after it.
struct TAPEv2Picture {
  std::string Description;
  TAPEv2PictureFormat Format = pfUnknown;
  TBytes Data;
};

class TAPEv2Frame {
public:
  std::string Name;         // the key, as stored
  std::uint32_t Flags = 0;  // as stored; new text items 0, new binary items 2
  TBytes Value;

  TAPEv2FrameFormat Format() const;
  std::uint32_t ItemType() const { return (Flags >> 1) & 3u; }
  bool ReadOnly() const { return (Flags & kAPEv2ItemReadOnly) != 0; }

  // A text item's values: split at 0x00, each UTF-8 (the system code page when it is not valid
  // UTF-8), trailing spaces and control characters removed. A binary item gives
  // "BINARY " and its size.
  std::vector<std::string> Values() const;
  // Makes this a text item holding Texts, 0x00 between them.
  void SetValues(const std::vector<std::string> &Texts);

  // A picture: a binary item whose bytes right after the description's 0x00 start a JPEG, PNG,
  // GIF or BMP image, or a binary item keyed "Cover Art ..." with a description and an image of
  // any kind. A signature elsewhere in the value does not count.
  bool IsCoverArt() const;
  bool GetCoverArt(TAPEv2Picture &Out) const;

  // The item as written: size, flags, key, 0x00, value.
  void AppendTo(TBytes &Out) const;
  std::int64_t StoredSize() const { return 9 + static_cast<std::int64_t>(Name.size() + Value.size()); }
};

// Where an APE tag stands in a stream, and what follows it.
struct TAPEv2Location {
  bool Found = false;           // a footer "APETAGEX" where one is looked for
  std::int64_t FooterPos = 0;   // its offset
  std::int64_t TrailingStart = 0;  // where the Lyrics3 block / ID3v1 record begin (the size when none)
  std::int64_t FileSize = 0;
};
// Looks for the footer: at the very end, else in front of a Lyrics3 v2 block and/or an ID3v1
// record at the end.
TAPEv2Location LocateAPEv2Tag(TStream &Stream);
// The whole tag's size (header, items, footer) as its footer gives it, without walking the
// items; 0 when there is no tag or its size cannot be right.
std::int64_t APEv2TagSizeByFooter(TStream &Stream);

class TAPEv2Tag {
public:
  void Clear();
  int LoadFromFile(const std::string &FileName);
  int LoadFromStream(TStream &Stream);
  // Reads the tag through the view; apeOk when a tag was found (damaged or not).
  int Load(TReadView &View);

  // Plans writing the tag into Content: the new tag replaces the old one (or goes in front of
  // the Lyrics3 block / ID3v1 record, or at the end), which stay as they are. With no item, or
  // only empty ones, the plan removes the tag instead. Nothing to change: an empty plan.
  // The plan leaves the bytes after the tag to the composer (their old bytes go with it, so
  // that a change of size can still be carried out in place at the end of the file).
  int PlanSave(TStream &Content, TRewritePlan &Plan);
  int SaveToFile(const std::string &FileName);
  int SaveToStream(TStream &Stream);
  // Plans taking the tag out of Content (apeNoTag when there is none).
  static int PlanRemove(TStream &Content, TRewritePlan &Plan);

  bool Damaged() const { return FDamaged; }
  // Whether anything changed since the load (a save of an unchanged tag writes nothing).
  bool Changed() const { return FChanged; }
  // Set when a change was asked of an item marked read-only (and not made).
  bool ReadOnlyItemTouched() const { return FReadOnlyTouched; }

  int Count() const { return static_cast<int>(Frames.size()); }
  TAPEv2Frame *AddFrame(const std::string &Name);
  int AddTextFrame(const std::string &Name, const std::string &Text);
  int AddBinaryFrame(const std::string &Name, const TBytes &Data);
  bool DeleteFrame(int Index);
  void DeleteAllFrames();
  bool DeleteFrameByName(const std::string &Name);
  int FrameExists(const std::string &Name) const;          // exact key
  int IndexOf(std::string_view Name) const;                // ASCII case folding
  int FrameTypeCount(const std::string &Name) const;
  // The first value of the first text item of that key (ASCII case folding); empty when none.
  std::string GetText(const std::string &Name) const;
  // The first item of that key takes Texts (deleted when Texts is empty); without one, a new
  // text item is added (its key upper-cased when UpperCaseFieldNamesToWrite). A read-only item
  // is left as it is (and the tag refuses its next save). False for a key not fit for writing.
  bool SetValues(const std::string &Name, const std::vector<std::string> &Texts);
  bool SetText(const std::string &Name, const std::string &Text);
  // The same for the item at Index (which becomes a text item).
  bool SetValuesAt(int Index, const std::vector<std::string> &Texts);
  void RemoveEmptyFrames();

  int CoverArtCount() const;
  int GetFrameIndexOfCoverArtIndex(int CoverArtIndex) const;
  int AddCoverArtFrame(const std::string &Name, const TBytes &Picture, const std::string &Description);
  bool GetCoverArtFromFrame(int Index, TAPEv2Picture &Out) const;
  void DeleteAllCoverArts();

  std::int64_t CalculateTotalFramesSize() const;
  std::int64_t CalculateTagSize() const { return CalculateTotalFramesSize() + 32; }
  // The whole tag in the file as loaded (header, items, footer); 0 when none.
  std::int64_t LoadedSize() const { return Loaded ? FEnd - FStart : 0; }
  bool Assign(const TAPEv2Tag &Source);
  // Records what the last planned save wrote, once it was carried out.
  void FinishSave(const std::string &AFileName);

  // A key this object writes: 2 to 255 printable ASCII bytes, not one of "ID3", "TAG", "OggS",
  // "MP+" (ASCII case folding).
  static bool IsWritableKey(std::string_view Key);

  std::string FileName;
  bool Loaded = false;
  std::uint32_t Version = 0;
  std::uint32_t Flags = 0;
  std::uint32_t Size = 0;
  std::vector<TAPEv2Frame> Frames;
  bool UpperCaseFieldNamesToWrite = false;
  bool PreserveFileDateTime = false;

private:
  void Touch() { FChanged = true; }
  TBytes Build() const;

  // The tag in the file as loaded (or last saved): header or first item to the footer's end.
  std::int64_t FFileSize = 0;
  std::int64_t FStart = 0;
  std::int64_t FEnd = 0;
  // The same for the save planned last.
  std::int64_t FPlannedFileSize = 0;
  std::int64_t FPlannedStart = 0;
  std::int64_t FPlannedEnd = 0;
  bool FDamaged = false;
  bool FChanged = false;
  bool FReadOnlyTouched = false;
};

int RemoveAPEv2FromFile(const std::string &FileName, bool PreserveFileDateTime);
int RemoveAPEv2FromStream(TStream &Stream);
