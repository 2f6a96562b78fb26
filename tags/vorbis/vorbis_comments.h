#pragma once
// TVorbisComments: the body of a Vorbis comment packet (the comment header of the Vorbis I
// format), as FLAC carries it in its VORBIS_COMMENT block (RFC 9639 section 8.6) and
// Ogg Vorbis, Opus (RFC 7845 section 5.2) and Theora in their comment header packet after the
// packet's own signature. Layout: vendor length and vendor bytes, entry count, then per entry a
// length and that many bytes "NAME=value"; every length and count is 32-bit little-endian and
// counts bytes. An Ogg Vorbis packet adds a framing byte (bit 0 set) after the entries.
//
// Invariants:
// - Nothing from the bytes is trusted: each length is checked against the bytes left, and the
//   entry count against bytes left / 4 (every entry needs its length field). A violation marks
//   the object damaged: it keeps what could be read safely up to that point, and Build refuses
//   to write it back, since what follows the fault is unknown.
// - An entry is split at its first "=" byte. Name and value are kept as stored bytes, so an
//   entry nobody changed is written back byte for byte (a TAB, invalid UTF-8, a name in any
//   case or outside ASCII). An entry without "=" is kept as it is, too.
// - Names are compared with ASCII case folding; entries keep their order, and several entries
//   of one name stay separate.
// - Bytes after the entries (after the framing byte in the framed layout) are kept: Ogg Vorbis
//   padding, Opus's binary extension data.
// Text given by a caller is UTF-8; values are handed out as UTF-8 text (invalid sequences
// replaced) and as raw bytes.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tags/streams/stream.h"

enum TVorbisCommentLayout {
  vclPlain,   // FLAC VORBIS_COMMENT block, Opus and Theora comment packets: nothing after the entries
  vclFramed,  // Ogg Vorbis comment packet: a framing byte with bit 0 set follows the entries
};

enum TVorbisCommentDamage : int {
  vcdNone = 0,
  vcdTruncated = 1,      // the body ends inside a length or count field
  vcdVendorLength = 2,   // the vendor length reaches past the end
  vcdEntryCount = 3,     // more entries announced than the bytes left can hold
  vcdEntryLength = 4,    // an entry length reaches past the end
  vcdFramingBit = 5,     // framed layout: the framing byte is missing or its bit 0 is clear
};

enum TVorbisCommentBuild : int {
  vcbOk = 0,
  vcbDamaged = 1,   // the block was read damaged; writing it back could lose what was not read
  vcbTooLarge = 2,  // a length or the count does not fit 32 bits
};

struct TVorbisCommentEntry {
  std::string Name;           // bytes before the first "=", as stored or given
  std::string Value;          // bytes after it, as stored or as the UTF-8 of the text given
  bool HasSeparator = true;   // false: a stored entry without "=", all of it in Name

  // The value as UTF-8 text (invalid sequences replaced by U+FFFD).
  std::string Text() const;
  // The entry as it is written: Name, "=", Value.
  std::string Raw() const;
  bool operator==(const TVorbisCommentEntry &) const = default;
};

class TVorbisComments {
public:
  // Reads Body (without the packet signature); returns the damage found, vcdNone when whole.
  // Replaces everything the object held.
  int Parse(std::span<const std::uint8_t> Body, TVorbisCommentLayout Layout);
  // The body as it is written now, in the layout it was read in (or set); Out untouched on error.
  int Build(TBytes &Out) const;

  int Damage() const { return FDamage; }
  bool Damaged() const { return FDamage != vcdNone; }
  TVorbisCommentLayout Layout() const { return FLayout; }
  void SetLayout(TVorbisCommentLayout Layout) { FLayout = Layout; }

  const std::string &Vendor() const { return FVendor; }
  void SetVendor(std::string Vendor) { FVendor = std::move(Vendor); }
  const TBytes &Trailing() const { return FTrailing; }

  // New names are written upper-cased (ASCII letters) while this is true; names already stored
  // are never changed.
  bool UpperCaseNewNames = true;

  const std::vector<TVorbisCommentEntry> &Entries() const { return FEntries; }
  std::size_t Count() const { return FEntries.size(); }
  // Index of the first entry with this name (ASCII case folding), -1 when none.
  int IndexOf(std::string_view Name) const;
  // The text of every entry with this name, in order.
  std::vector<std::string> Values(std::string_view Name) const;
  // The text of the first entry with this name; empty when none.
  std::string Value(std::string_view Name) const;

  // Gives the name exactly these values: its entries, in order, take the texts one each where
  // they stand (an entry whose text does not change keeps its stored bytes); entries left over
  // are removed, texts left over are appended as new entries. An empty text is an entry with an
  // empty value; an empty list removes the name. False, with nothing changed, for a name that
  // holds "=" or is empty.
  bool SetValues(std::string_view Name, const std::vector<std::string> &Texts);
  bool SetValue(std::string_view Name, std::string_view Text) { return SetValues(Name, {std::string(Text)}); }
  // Appends one entry; false for a name that holds "=" or is empty.
  bool Add(std::string_view Name, std::string_view Text);
  // Sets the text of the entry at Index; its stored bytes stay when the text is the same.
  bool SetValueAt(std::size_t Index, std::string_view Text);
  // The entry at Index becomes a new entry Name=Text in the same place (a picture comment of an
  // older kind replaced by one of the current kind); false for a bad index or name.
  bool ReplaceAt(std::size_t Index, std::string_view Name, std::string_view Text);
  // Removes every entry with this name; returns how many.
  std::size_t Delete(std::string_view Name);
  bool DeleteAt(std::size_t Index);
  void DeleteAll() { FEntries.clear(); }

private:
  static bool ValidNewName(std::string_view Name);
  TVorbisCommentEntry NewEntry(std::string_view Name, std::string_view Text) const;

  std::string FVendor;
  std::vector<TVorbisCommentEntry> FEntries;
  TBytes FTrailing;
  std::uint8_t FFramingByte = 1;
  TVorbisCommentLayout FLayout = vclPlain;
  int FDamage = vcdNone;
};

// The list of name=value pairs kept inside one value: for each pair the name, CR LF, the value,
// CR LF. Reading splits at CR LF; a CR not followed by LF is dropped; the last line may end
// without CR LF; lines are taken in pairs (a last unpaired line is no item). Items are
// "name=value", split at their first "=".
std::string BuildCommentValueList(const std::vector<std::string> &Items);
std::vector<std::string> ParseCommentValueList(std::string_view Value);
