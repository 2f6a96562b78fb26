#pragma once
// TWMATagFrame: one attribute of an ASF file (a Windows Media file: .wma, .wmv, .asf) as
// TWMATag hands it out: its name, its data type in the WMT_TYPE_* numbering and its value bytes.
//
// Value bytes per type: DWORD and BOOL 4 bytes little-endian (a BOOL stored in 2 bytes by the
// Metadata objects is widened on reading), QWORD 8, WORD 2, GUID the 16 bytes as stored, STRING
// UTF-16LE (a trailing zero character may be there and is ignored), BINARY raw bytes. A
// "WM/Picture" value is the picture record of wma_picture.h, not the bytes on disk.
//
// Beside the name, type and value, a frame records the ASF stream it belongs to (0: the file),
// the language index of the Metadata Library and the object it was read from; the writer keeps
// an attribute in that object while it fits there (see tags/asf/asf_writer.h).
// Readers of the value never trust its size: a number shorter than its type reads as 0.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tags/asf/asf_guids.h"
#include "tags/streams/stream.h"

class TWMATag;

enum WMT_ATTR_DATATYPE : std::uint8_t {
  WMT_TYPE_DWORD = 0,
  WMT_TYPE_STRING = 1,
  WMT_TYPE_BINARY = 2,
  WMT_TYPE_BOOL = 3,
  WMT_TYPE_QWORD = 4,
  WMT_TYPE_WORD = 5,
  WMT_TYPE_GUID = 6,
  WMT_TYPE_UNKNOWN = 7,
};

// The header object an attribute was read from; aoNone for one made in memory, aoPseudo for
// the read-only values computed from the file's structure (never written).
enum TASFAttributeOrigin : std::uint8_t {
  aoNone = 0,
  aoContentDescription = 1,
  aoExtendedContentDescription = 2,
  aoMetadata = 3,
  aoMetadataLibrary = 4,
  aoPseudo = 5,
};

// The value bytes a type needs; 0 for types of any length.
std::size_t WMTFixedValueSize(WMT_ATTR_DATATYPE Format);

class TWMATagFrame {
public:
  explicit TWMATagFrame(TWMATag *AParent = nullptr) : Parent(AParent) {}

  // Type unknown, value emptied.
  void Clear();
  // Name, type, value, stream, language and origin (not the owner); false never happens here
  // but the result is kept for callers written against the boolean form.
  bool Assign(const TWMATagFrame &Source);
  // The position in the parent's list; -1 without a parent.
  int GetIndex() const;
  // Asks the parent to delete this frame (this object is gone afterwards); false without one.
  bool Delete();

  // STRING: the text with its zero characters left out; GUID: the braced GUID form; any other
  // type: GetInteger in decimal.
  std::string GetText() const;
  // Value = UTF-16LE of Text and a zero character; type STRING.
  bool SetText(std::string_view Text);
  // DWORD and BOOL: 4 bytes, QWORD: 8, WORD: 2; 0 for other types or a shorter value.
  std::uint64_t GetInteger() const;
  // For DWORD, BOOL, QWORD and WORD: the value in that width and the type; false (nothing
  // changed) for other types.
  bool SetInteger(WMT_ATTR_DATATYPE AFormat, std::uint64_t Value);
  // The 16 value bytes; false when the value is not 16 bytes long.
  bool GetAsGUID(TASFGuid &Value) const;
  bool SetAsGUID(const TASFGuid &Value);
  // A STRING value of lines, each name and value followed by the UTF-16 unit pair CR LF. The list
  // is name, value, name, value...; pairs whose trimmed name or value is empty are left out.
  bool GetList(std::vector<std::string> &List) const;
  bool SetList(const std::vector<std::string> &List);
  // The name is exactly "WM/Picture".
  bool IsCoverArt() const { return Name == "WM/Picture"; }

  // Name, type, value, stream and language (not the origin or the marks).
  bool SameAttribute(const TWMATagFrame &Other) const
  {
    return Name == Other.Name && Format == Other.Format && Stream == Other.Stream && StreamNumber == Other.StreamNumber &&
           LanguageIndex == Other.LanguageIndex;
  }

  std::string Name;
  WMT_ATTR_DATATYPE Format = WMT_TYPE_UNKNOWN;
  TBytes Stream;
  TWMATag *Parent = nullptr;
  bool AlreadyParsed = false;
  std::uint16_t StreamNumber = 0;
  std::uint16_t LanguageIndex = 0;
  TASFAttributeOrigin Origin = aoNone;
};

// UTF-16LE bytes of a STRING value as text: zero characters left out, an odd last byte ignored.
std::string WMTStringText(std::span<const std::uint8_t> Value);
// The value of a STRING without one trailing zero character (and without an odd last byte).
std::span<const std::uint8_t> WMTStringWithoutTerminator(std::span<const std::uint8_t> Value);
