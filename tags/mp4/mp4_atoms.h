#pragma once
// The atom walk of MPEG-4 files (ISO/IEC 14496-12 boxes): the one walker that reading, writing
// and stripping MP4 metadata go through.
//
// An atom is a 4-byte big-endian size (header included) and a 4-byte type; a size of 1 means a
// 64-bit size follows (a 16-byte header); a size of 0 means "to the end of the file" and is taken
// only for the last atom at the top level. "\xA9" in a type is the byte A9 ("©nam" is
// "\xA9nam").
//
// Nothing from the file is trusted: every header is read through ByteReader, every atom is
// checked against its parent's end (never only the file's), a size below its header is damage,
// and walks are bounded in depth and in the number of children read.
//
// "meta" is a full box: 4 bytes of version and flags come before its children. Some writers
// leave them out; a "meta" whose body starts with a child atom of type "hdlr" is read without them.

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "tags/streams/stream.h"

// Limits of a walk: no real file comes near them.
constexpr int kMaxAtomDepth = 32;
constexpr std::size_t kMaxAtomChildren = 1 << 16;

struct TAtomHeader {
  std::array<std::uint8_t, 4> Type{};
  std::int64_t Offset = 0;       // of the header
  std::int64_t Size = 0;         // the whole atom, header included
  std::uint8_t HeaderSize = 8;   // 16 with a 64-bit size
  bool ToEnd = false;            // stored with size 0: runs to the end of the file

  std::int64_t BodyOffset() const { return Offset + HeaderSize; }
  std::int64_t BodySize() const { return Size - HeaderSize; }
  std::int64_t End() const { return Offset + Size; }
  // Type equals Name (four bytes; "\xA9nam" for "©nam").
  bool Is(std::string_view Name) const;
};

enum TAtomReadResult : int {
  arOk = 0,
  arEnd = 1,      // Pos is at the parent's end: no more atoms
  arDamaged = 2,  // a truncated header, a size below the header or past the parent's end, a size 0 where none may be
};

// Reads the header of the atom at Pos, which must end by ParentEnd. TopLevel allows a size of 0
// (the atom then runs to ParentEnd, the end of the file).
int ReadAtomHeader(TStream &Stream, std::int64_t Pos, std::int64_t ParentEnd, bool TopLevel, TAtomHeader &Out);

// The atoms from BodyStart to ParentEnd, in order. False when one is damaged or there are more
// than kMaxAtomChildren; Out then holds the ones before it.
bool ReadChildAtoms(TStream &Stream, std::int64_t BodyStart, std::int64_t ParentEnd, bool TopLevel,
                    std::vector<TAtomHeader> &Out);

// Where the children of Atom start: its body, or for "meta" its body after the version and flags
// (when it has them).
std::int64_t ChildrenOffset(TStream &Stream, const TAtomHeader &Atom);

// The whole size of an atom with a body of BodySize bytes: 8 + BodySize, or 16 + BodySize when
// that reaches 2^32 and needs the 64-bit form.
std::uint64_t AtomSizeFor(std::uint64_t BodySize);
// Appends the header of an atom of Type (four bytes) with a body of BodySize bytes, in the form
// AtomSizeFor chooses: the 32-bit size, or size 1 followed by the 64-bit size.
void AppendAtomHeader(TBytes &Out, std::string_view Type, std::uint64_t BodySize);

// Follows Path from the top level ("moov", "udta", "meta", "ilst"): the first atom of each name
// inside the one before. False when a step is missing or damaged (Out then untouched).
bool FindAtomPath(TStream &Stream, std::span<const std::string_view> Path, TAtomHeader &Out);
