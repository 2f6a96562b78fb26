#pragma once
// Planning the save of MP4 metadata: the new "moov" is computed in memory and placed where the old
// one was (ISO/IEC 14496-12 boxes; the item list of "moov"/"udta"/"meta" as iTunes-style files
// store it).
//
// The new "moov" holds the old children other than "udta" and "free", in their order and
// unchanged; then one "udta" with the old children of "udta" other than "meta", "Xtra" and
// "free"; in it one "meta" (full box: the old version byte, flags 0) with the old children of
// "meta" other than "ilst" and "free" (a default "hdlr" when it had none), the new "ilst" and
// the padding as a "free" atom; then the new "Xtra". Several "udta" (or "meta") atoms are merged
// into one, in their order.
//
// The old space is the old "moov" and the "free"/"skip" atoms right after it at the top level.
// With KeepPadding, a new "moov" that fills it exactly, or leaves at least 10 bytes for the
// padding, is written in place: the file keeps its size and every chunk offset. Otherwise the
// file is rebuilt: what lies before the old space, the new "moov" with PaddingToWrite bytes of
// padding, what lay after the old space; the rest of the file is copied by the plan, never held.
// When the old space ends the file, the new "moov" (with its padding) is written in its place
// and the file ends after it: nothing else moves, so nothing else is copied.
// Every "stco"/"co64" entry of every track that points at or past the end of the old space is
// moved by the distance the media after it moved, entry by entry, so media on both sides of
// "moov" and in several "mdat" atoms stays found; entries before the old space stay.
//
// Nothing from the file is trusted: every atom is walked with the atom walker of mp4_atoms.h,
// entry counts are checked against their table's size, the new "moov" is bounded by
// kMaxMP4MoovBytes, and every refusal comes before anything is planned: the plan is empty.
// New.Ilst (and New.Xtra) must each be one whole atom of that type whose size field is its
// length; anything else is refused as mwDamaged.
#include <cstdint>
#include <optional>
#include "tags/streams/rewrite_plan.h"
#include "tags/streams/stream.h"

// The largest new "moov" a save builds in memory.
constexpr std::int64_t kMaxMP4MoovBytes = std::int64_t{256} << 20;

// What a save puts into moov/udta/meta: whole atoms, headers included.
struct TMP4NewMetadata {
  TBytes Ilst;                    // the new "ilst" atom (an empty item list is the 8 bytes 00 00 00 08 "ilst")
  std::optional<TBytes> Xtra;     // the new "Xtra" atom inside "udta"; nullopt: the file gets none
  bool KeepPadding = true;        // use the old moov space and the free atoms after it when the new moov fits
  std::uint32_t PaddingToWrite = 4096;  // the padding ("free" inside "meta", after "ilst") when it does not fit
};

enum TMP4WriteResult : int {
  mwOk = 0,
  mwNotMP4 = 1,          // empty, or the first atom is not "ftyp"
  mwNoMoov = 2,          // no top-level "moov"
  mwDamaged = 3,         // an atom of the path the save needs is damaged (sizes, counts)
  mwFragmented = 4,      // "moof" at the top level or "mvex" in "moov": refused
  mwMediaNotMovable = 5, // the media data would move but its offsets cannot be corrected (a size-0
                         // "mdat" before "moov", chunk offsets outside every "mdat", ...)
  mwOffsetOverflow = 6,  // a 32-bit "stco" entry would pass 2^32 - 1
  mwTooLarge = 7,        // the new "moov" would exceed the in-memory bound (kMaxMP4MoovBytes)
};

// Plans replacing moov/udta/meta/ilst and moov/udta/Xtra of Content (walked from position 0) by
// New. Nothing changes (an empty plan, mwOk) when the new bytes equal the old ones. On any other
// code than mwOk, Plan is empty and nothing may be written.
int PlanMP4MetadataSave(TStream &Content, const TMP4NewMetadata &New, TRewritePlan &Plan);
