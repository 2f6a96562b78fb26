#pragma once
// TMP4Tag: the metadata of an MPEG-4 file (ISO/IEC 14496-12 boxes, the item list of
// moov/udta/meta/ilst and the "Xtra" atom of moov/udta), and the audio properties beside it.
//
// An item is an atom inside "ilst" named by four bytes ("\xA9nam", "trkn", "covr", "----"); it
// holds, for free-form items, a "mean" and a "name" atom (4 version/flags bytes, then UTF-8),
// and one or more "data" atoms: 4 bytes type indicator (1 UTF-8 text, 0 implicit binary or
// integer, 21 signed big-endian integer, 13 JPEG, 14 PNG, 27 BMP, ...), 4 bytes locale, value.
// The "Xtra" atom holds name/typed-value entries in its own layout (text UTF-16LE, integers,
// file times, GUIDs).
//
// Invariants:
// - Every item keeps the bytes it was read from; an item nobody changed is written back byte for
//   byte (unknown child atoms, odd layouts and 64-bit headers included). Every setter marks its
//   item changed, unless it stores what is there already; only changed items are laid out anew.
// - Integer items stay integers of their stored type and width: text set on them is parsed as a
//   number, and refused when it is not one.
// - Picture data ("covr" data atoms) over kMP4HeldPictureData bytes is left in the loaded file
//   (a TFileRange, with the first kMP4PictureDataHead bytes read) and read back through
//   ReadFileRange only when needed, which fails when the file changed since the load.
// - An "Xtra" atom nobody changed, that was not parsed, or that cannot be parsed is written
//   back as it was; the entries of one that cannot be parsed cannot be changed.
// - A load that stopped at damage keeps the items read before it and is Damaged(): such a tag
//   must not be saved.
// - Nothing from the file is trusted: atoms are walked with the one atom walker (tags/mp4/
//   mp4_atoms.h), every child checked against its parent's end; values are read through
//   ByteReader; bytes are allocated only once the file is known to hold them.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tags/mp4/mp4_audio.h"
#include "tags/streams/read_view.h"
#include "tags/streams/stream.h"

// Result codes of a load.
enum TMP4TagResult : int {
  mp4tOk = 0,          // at least one item was read
  mp4tNoItems = 1,     // no "moov", "udta", "meta" or "ilst", or an empty "ilst"
  mp4tCannotOpen = 4,  // the content could not be read
  mp4tCorrupt = 5,     // a damaged atom: the items before it are kept, the tag is Damaged()
  mp4tNotMP4 = 9,      // the content does not start with an "ftyp" atom
};

enum TMP4XtraUsageConversion : int {
  mp4eucNone = 0,
  mp4eucParse = 1,          // free-form reads consult the mapped Xtra entry
  mp4eucWrite = 2,          // free-form writes write the mapped Xtra entry too
  mp4eucParseAndWrite = 3,  // reads consult it; writes keep an Xtra entry that exists in step
  mp4eucWriteJustXtra = 4,  // writes go to the mapped Xtra entry only
};

enum TMP4XtraPriority : int { mp4epXtraHasPriority = 0, mp4epCommonHasPriority = 1 };

// Picture data larger than this stays in the file at load (the bound FLAC pictures use too).
constexpr std::int64_t kMP4HeldPictureData = 16 * 1024;
// The first bytes of picture data read when the rest stays in the file: enough to tell the format.
constexpr std::size_t kMP4PictureDataHead = 4096;
// Items read from one "ilst" at most, and Xtra entries and properties at most.
constexpr std::size_t kMaxMP4Items = 1 << 16;
constexpr std::size_t kMaxMP4XtraEntries = 1 << 16;

// Data types of "data" atoms.
constexpr std::uint32_t kMP4TypeImplicit = 0;
constexpr std::uint32_t kMP4TypeText = 1;
constexpr std::uint32_t kMP4TypeGIF = 12;
constexpr std::uint32_t kMP4TypeJPEG = 13;
constexpr std::uint32_t kMP4TypePNG = 14;
constexpr std::uint32_t kMP4TypeInteger = 21;
constexpr std::uint32_t kMP4TypeBMP = 27;

// Types of Xtra properties.
constexpr std::uint16_t kMP4XtraText = 8;
constexpr std::uint16_t kMP4XtraInteger = 19;
constexpr std::uint16_t kMP4XtraFileTime = 21;
constexpr std::uint16_t kMP4XtraGUID = 72;

// Four bytes naming an atom. From text: a UTF-8 text whose characters are all below U+0100 is
// taken as those characters ("©nam" and "\xA9nam" are the same name); otherwise the low 8 bits
// of its first four bytes; missing ones are zero.
struct TAtomName {
  std::array<std::uint8_t, 4> Bytes{};
  TAtomName() = default;
  TAtomName(std::string_view Text);  // NOLINT: names are written as text everywhere
  TAtomName(const char *Text) : TAtomName(std::string_view(Text)) {}
  std::string Raw() const { return std::string(Bytes.begin(), Bytes.end()); }
  // Each byte as one character, in UTF-8 ("\xA9" becomes "©").
  std::string Text() const;
  bool operator==(const TAtomName &) const = default;
};

// One "data" atom of an item.
struct TMP4AtomData {
  TBytes Data;                 // the value bytes; for a value left in the file its first bytes
  std::uint32_t DataType = 0;  // type indicator (version byte and 24-bit type)
  std::uint32_t Reserved = 0;  // locale, as read
  TFileRange InFile;           // the whole value, when it was left in the loaded file

  bool Held() const { return InFile.Empty(); }
  std::int64_t ValueSize() const { return Held() ? static_cast<std::int64_t>(Data.size()) : InFile.Size; }
  // The whole value (read from the file when it was left there; false when that fails).
  bool GetBytes(TBytes &Out, std::string *Error = nullptr) const;
  std::string GetText() const;  // UTF-8 of a type 1 value; else empty
  // The value as text: GetText for type 1, else an integer value in decimal (unsigned), else empty.
  std::string ValueText() const;
  // The big-endian value of 1, 2, 4, 6 or 8 bytes (any type); false for other sizes.
  bool GetInteger(std::uint64_t &Value) const;
  // Types 0 and 21 only, 0 otherwise or when the value is shorter than the width.
  std::uint8_t GetInteger8() const;
  std::uint16_t GetInteger16() const;
  std::uint32_t GetInteger32() const;
  std::uint64_t GetInteger48() const;
  std::uint64_t GetInteger64() const;
  bool GetBool() const;  // first byte not 0
  // Type 1 text as lines (CR LF, CR or LF end a line); "name=value" items for lists of pairs.
  std::vector<std::string> GetList() const;
};

// One item of the item list.
class TMP4Atom {
public:
  TMP4Atom() = default;
  explicit TMP4Atom(TAtomName ID) : FID(ID), FChanged(true) {}

  const TAtomName &ID() const { return FID; }
  int Count() const { return static_cast<int>(FDatas.size()); }
  const std::vector<TMP4AtomData> &Datas() const { return FDatas; }
  // Data atom Index to change (the item counts as changed); null for a bad index.
  TMP4AtomData *MutableData(int Index);
  void AddData(std::uint32_t DataType, TBytes Value, std::uint32_t Reserved = 0);
  bool DeleteData(int Index);
  void Clear();  // no data atoms, no mean, no name

  // Free-form items: the texts of "mean" and "name" (UTF-8 after their 4 version/flags bytes).
  std::string GetMean() const;
  std::string GetName() const;
  bool HasMean() const { return !FMean.empty(); }
  bool HasName() const { return !FName.empty(); }
  void SetMean(std::string_view Text);  // empty: no "mean"
  void SetName(std::string_view Text);
  // Sets name, mean and the text value in one go.
  bool SetCommonText(std::string_view Name, std::string_view Mean, std::string_view Value);

  // The first data atom as text (type 1), or its integer value in decimal (unsigned), or empty.
  std::string GetText() const;
  // Text for a text item (type 1, locale kept); a number for an integer item, which keeps its
  // type and width (wider when the number needs it); false (nothing changed) for a value
  // that is not a number on an integer item, or for binary data (pictures and the like).
  bool SetText(std::string_view Text);
  std::uint8_t GetInteger8() const;
  std::uint16_t GetInteger16() const;
  std::uint32_t GetInteger32() const;
  std::uint64_t GetInteger48() const;
  std::uint64_t GetInteger64() const;
  bool GetBool() const;
  // The first data atom becomes a big-endian integer of that width; its type stays when it is
  // 0 or 21, else it becomes the item's usual integer type.
  void SetInteger8(std::uint8_t Value) { SetInteger(Value, 1); }
  void SetInteger16(std::uint16_t Value) { SetInteger(Value, 2); }
  void SetInteger32(std::uint32_t Value) { SetInteger(Value, 4); }
  void SetInteger48(std::uint64_t Value) { SetInteger(Value, 6); }
  void SetInteger64(std::uint64_t Value) { SetInteger(Value, 8); }
  void SetInteger(std::uint64_t Value, int Width);
  void SetBool(bool Value) { SetInteger(Value ? 1 : 0, 1); }
  std::vector<std::string> GetList() const;
  // One text value: every item followed by CR LF.
  void SetList(const std::vector<std::string> &Items);

  // Changed since the load (or new).
  bool Changed() const { return FChanged; }
  // The item's atom as it will be written: its stored bytes when unchanged (read from the file
  // when left there), else header, mean, name, data atoms and any other child atoms kept.
  // False (Error set) when stored bytes cannot be read back or the item passes 2^32 - 1 bytes.
  bool Build(TBytes &Out, std::string *Error = nullptr) const;

private:
  friend class TMP4Tag;
  // The first data atom becomes Type/Value (locale kept); nothing changes when it is so already.
  void SetFirstData(std::uint32_t Type, TBytes Value);
  const TMP4AtomData *First() const { return FDatas.empty() ? nullptr : &FDatas.front(); }

  TAtomName FID;
  TBytes FMean;                   // "mean" body: 4 version/flags bytes and the text
  TBytes FName;                   // "name" body
  std::vector<TMP4AtomData> FDatas;
  std::vector<TBytes> FOtherChildren;  // child atoms that are none of the above, whole
  TBytes FStored;                 // the item's whole atom as read (when held)
  TFileRange FStoredInFile;       // ... when left in the file (an item with a large picture)
  bool FChanged = false;
};

// One typed value of an Xtra entry.
struct TMP4XtraProperty {
  std::uint16_t PropType = 0;
  TBytes Data;

  // Text (type 8, without a trailing zero character), the number (19 and other integer sizes),
  // the local date and time (21, "YYYY-MM-DD HH:MM:SS"), the GUID ("{XXXXXXXX-XXXX-...}").
  std::string GetText() const;
  bool GetInteger(std::uint64_t &Value) const;  // little-endian, 1, 2, 4 or 8 bytes
};

// One Xtra entry: a name and its properties.
struct TMP4Xtra {
  std::string Name;
  std::vector<TMP4XtraProperty> Properties;

  // The texts of the properties, joined by CR LF when MultipleValues, else the first.
  std::string GetText(bool MultipleValues) const;
  // One text property per line when MultipleValues, else one property.
  void SetText(std::string_view Value, bool MultipleValues);
  bool HasData() const;  // a property with value bytes
};

// Where the atoms of the metadata path were found (header positions and sizes as read; -1 for
// none).
struct TMP4Layout {
  std::int64_t moovPosition = -1, moovSize = 0;
  std::int64_t udtaPosition = -1, udtaSize = 0;
  std::int64_t metaPosition = -1, metaSize = 0;
  std::int64_t ilstPosition = -1, ilstSize = 0;
  std::int64_t XtraPosition = -1, XtraSize = 0;
  std::int64_t mdatPosition = -1, mdatSize = 0;
};

// A picture for SetCoverArts: its bytes and data type (0: by its content); or a picture left in
// the loaded file, as GetCoverArt gave it (InFile set, Data its first bytes).
struct TMP4CoverArt {
  TBytes Data;
  std::uint32_t DataType = 0;
  TFileRange InFile;
};

class TMP4Tag {
public:
  // Settings (kept by Clear).
  bool ParseCoverArts = true;  // false: pictures of a file are all left in it (still kept)
  bool ParseXtra = true;       // false: the Xtra atom is kept as it is, entries not read
  TMP4XtraUsageConversion XtraUsageConversion = mp4eucParseAndWrite;
  TMP4XtraPriority XtraPriority = mp4epXtraHasPriority;
  std::uint32_t PaddingToWrite = 4096;

  // From a file: large pictures stay in it. A TMP4TagResult.
  int Load(TReadView &View);
  // From a stream (position 0): everything is read into memory.
  int Load(TStream &Content);
  void Clear();

  bool Valid() const { return FValid; }    // starts with "ftyp"
  bool Loaded() const { return FLoaded; }  // at least one item read
  bool Damaged() const { return FDamaged; }
  bool Changed() const;                    // anything set since the load
  std::int64_t FileSize() const { return FFileSize; }
  const TMP4Layout &Layout() const { return FLayout; }
  std::uint8_t Version() const { return FVersion; }  // of "meta"
  std::uint32_t Flags() const { return FFlags; }     // of "meta", 24 bits
  bool MetaHasVersion() const { return FMetaHasVersion; }
  const TMP4AudioInfo &AudioInfo() const { return FAudio; }
  double Playtime() const { return FAudio.PlayTime; }

  // Items.
  int Count() const { return static_cast<int>(FAtoms.size()); }
  const std::vector<TMP4Atom> &Atoms() const { return FAtoms; }
  TMP4Atom *Atom(int Index);  // null for a bad index
  TMP4Atom &AddAtom(TAtomName Name);
  TMP4Atom *FindAtom(TAtomName Name);
  const TMP4Atom *FindAtom(TAtomName Name) const;
  // The first item of that type whose "name" and "mean" texts equal the arguments (ASCII case
  // folding).
  TMP4Atom *FindAtomCommon(TAtomName Name, std::string_view _name, std::string_view _mean);
  const TMP4Atom *FindAtomCommon(TAtomName Name, std::string_view _name, std::string_view _mean) const;
  bool DeleteAtom(int Index);
  bool DeleteAtom(TAtomName Name);  // the first of that type
  bool DeleteAllAtoms(TAtomName Name);
  bool DeleteAtomCommon(TAtomName Name, std::string_view _name, std::string_view _mean);

  // Typed access: the first item of that type, its first data atom.
  std::string GetText(TAtomName Name) const;
  // An empty text deletes the first item of that type; otherwise TMP4Atom::SetText on the first
  // item (added when missing). Track and disc items take "N" or "N/M".
  bool SetText(TAtomName Name, std::string_view Text);
  std::uint8_t GetInteger8(TAtomName Name) const;
  std::uint16_t GetInteger16(TAtomName Name) const;
  std::uint32_t GetInteger32(TAtomName Name) const;
  std::uint64_t GetInteger48(TAtomName Name) const;
  std::uint64_t GetInteger64(TAtomName Name) const;
  void SetInteger8(TAtomName Name, std::uint8_t Value) { SetInteger(Name, Value, 1); }
  void SetInteger16(TAtomName Name, std::uint16_t Value) { SetInteger(Name, Value, 2); }
  void SetInteger32(TAtomName Name, std::uint32_t Value) { SetInteger(Name, Value, 4); }
  void SetInteger48(TAtomName Name, std::uint64_t Value) { SetInteger(Name, Value, 6); }
  void SetInteger64(TAtomName Name, std::uint64_t Value) { SetInteger(Name, Value, 8); }
  bool GetBool(TAtomName Name) const;
  void SetBool(TAtomName Name, bool Value) { SetInteger(Name, Value ? 1 : 0, 1); }
  std::vector<std::string> GetList(TAtomName Name) const;
  void SetList(TAtomName Name, const std::vector<std::string> &Items);

  // The text of every item of that type, in order; false when there is none.
  bool GetMultipleValuesMultipleAtoms(TAtomName Name, std::vector<std::string> &List) const;
  // The items of that type become one item per value (in the place of the first one).
  void SetMultipleValuesMultipleAtoms(TAtomName Name, const std::vector<std::string> &List);
  // ... one item whose text is the values joined with ", ".
  void SetMultipleValuesCommaSeparated(TAtomName Name, const std::vector<std::string> &List);

  // Special items. Track: "trkn", 8 bytes (0 0, track, total, 0 0); disc: "disk", 6 bytes. A
  // value too short for a field gives 0 for it. Setting 0 and 0 deletes the item.
  std::uint16_t GetTrack() const;
  std::uint16_t GetTotalTracks() const;
  void SetTrack(std::uint16_t Track, std::uint16_t TotalTracks);
  std::uint16_t GetDisc() const;
  std::uint16_t GetTotalDiscs() const;
  void SetDisc(std::uint16_t Disc, std::uint16_t TotalDiscs);
  // "gnre" 1..192: the ID3v1 genre name; else the text of "\xA9gen".
  std::string GetGenre() const;
  void SetGenre(std::string_view Genre);
  std::string GetMediaType() const;         // "stik"
  bool SetMediaType(std::string_view Media);  // false (nothing changed) for an unknown name
  std::string GetPurchaseCountry() const;   // "sfID"
  bool SetPurchaseCountry(std::string_view Country);

  // Free-form "----" items, and the Xtra entries mapped to their names (see XtraUsageConversion).
  std::string GetCommon(std::string_view _name, std::string_view _mean) const;
  bool SetCommon(std::string_view _name, std::string_view _mean, std::string_view Value);

  // Pictures: the data atoms of the "covr" items, in order, each one picture.
  int CoverArtCount() const;
  // With DataInFile, a picture left in the file gives its first bytes in Data and where all of
  // them are in DataInFile (empty for a held picture); without, the picture is read from the
  // file (false when that fails). False for a bad index.
  bool GetCoverArt(int Index, TBytes &Data, std::uint32_t &DataType, TFileRange *DataInFile = nullptr) const;
  // The pictures become exactly these, in order, in one "covr" item (in the place of the first
  // one); none: no "covr" item. A type of 0, and the type of JPEG, PNG and BMP data, is taken
  // from the content (13, 14, 27; 12 for GIF). Nothing changes when they are the pictures there.
  void SetCoverArts(std::span<const TMP4CoverArt> Pictures);

  // Xtra entries.
  const std::vector<TMP4Xtra> &Xtras() const { return FXtras; }
  // The Xtra atom was read and could not be parsed, or was not parsed: it is kept as it was and
  // its entries cannot be changed.
  bool XtraKeptVerbatim() const { return FXtraVerbatim; }
  int XtraCount() const { return static_cast<int>(FXtras.size()); }
  const TMP4Xtra *FindAtomXtra(std::string_view FieldName) const;
  int FindAtomXtraIndex(std::string_view FieldName) const;  // -1 when absent
  // Null when the entries cannot be changed (XtraKeptVerbatim) or for a bad index.
  TMP4Xtra *MutableXtra(int Index);
  TMP4Xtra *AddXtra(std::string_view FieldName);
  bool DeleteXtra(int Index);
  void ClearXtras();  // also drops an Xtra atom kept as it was
  std::string GetTextXtra(std::string_view FieldName, bool MultipleValues) const;
  bool SetTextXtra(std::string_view FieldName, std::string_view Value, bool MultipleValues);  // empty: delete
  bool GetIntegerXtra(std::string_view FieldName, std::uint64_t &Value) const;
  bool SetIntegerXtra(std::string_view FieldName, std::uint64_t Value);
  std::string GetGUIDXtra(std::string_view FieldName) const;  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
  bool SetGUIDXtra(std::string_view FieldName, std::string_view GUID);  // false for a text that is no GUID
  bool GetFileTimeXtra(std::string_view FieldName, std::uint64_t &FileTime) const;  // 100 ns since 1601 UTC
  bool SetFileTimeXtra(std::string_view FieldName, std::uint64_t FileTime);

  // For the writer: the whole "ilst" atom (header included): unchanged items as stored, changed
  // ones laid out anew. False (Error set) when stored bytes left in the file cannot be read back
  // (the file changed since the load) or the list would pass 2^32 - 1 bytes.
  bool BuildIlst(TBytes &Out, std::string *Error = nullptr) const;
  // The whole "Xtra" atom: as read when untouched or kept as it was, regenerated when changed;
  // nullopt when there is none or no entry holds data.
  std::optional<TBytes> BuildXtra() const;

private:
  int LoadFrom(TStream &Content, const std::shared_ptr<const TFileIdentity> &File);
  // The items of "ilst" from From to End; false when one is damaged (those before it are kept).
  bool LoadItems(TStream &Content, std::int64_t From, std::int64_t End, const std::shared_ptr<const TFileIdentity> &File);
  void LoadXtra(TStream &Content, std::int64_t Position, std::int64_t Size);
  void SetInteger(TAtomName Name, std::uint64_t Value, int Width);
  TMP4Xtra *WritableXtra(std::string_view FieldName, bool Add);
  // The named entry (added when missing) gets these properties; nothing changes when it has them.
  bool SetXtraProperties(std::string_view FieldName, std::vector<TMP4XtraProperty> Properties);
  // Removes every item of that type; returns where the first one was (Count() when none).
  std::size_t RemoveAll(TAtomName Name);

  bool FValid = false;
  bool FLoaded = false;
  bool FDamaged = false;
  bool FStructureChanged = false;  // items added, deleted or moved
  std::int64_t FFileSize = 0;
  TMP4Layout FLayout;
  std::uint8_t FVersion = 0;
  std::uint32_t FFlags = 0;
  bool FMetaHasVersion = true;
  TMP4AudioInfo FAudio;
  std::vector<TMP4Atom> FAtoms;
  std::vector<TMP4Xtra> FXtras;
  std::optional<TBytes> FXtraStored;  // the Xtra atom as read
  bool FXtraVerbatim = false;
  bool FXtraChanged = false;
};

// The data type a new picture gets: 13 JPEG, 14 PNG, 27 BMP by its content, else Given, or 12
// for GIF data when Given is 0.
std::uint32_t MP4PictureDataType(std::span<const std::uint8_t> Data, std::uint32_t Given);
