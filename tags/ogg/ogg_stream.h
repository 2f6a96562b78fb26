#pragma once
// The header packets of the first logical stream of an Ogg file (RFC 3533), read from its
// pages and written back as new pages, planned as a TRewritePlan.
//
// Reading follows the lacing values of the pages of one serial (that of the first page) across
// as many pages as a packet spans; pages of other serials are passed over and never add to a
// packet. Every packet and the header as a whole are bounded (kOggMaxPacketBytes,
// kOggMaxHeaderPages), so hostile lacing cannot make it allocate without limit.
//
// Writing only plans. The pages that carry the changed header packets are replaced by new ones
// (at most kOggWriteSegments lacing values each unless the caller asks for another number up to
// 255; granule position 0, or -1 on a page where no
// packet ends; sequence numbers going on
// from the first replaced page), and the following pages of the same serial, up to its last page,
// get consecutive sequence numbers and new CRCs; pages of other serials and all other bytes stay
// as they are. The plan is in place when the new pages take exactly the room of the old ones,
// else a rebuild. A layout that cannot be rewritten faithfully (another serial's pages among the
// header pages, damage inside them, audio data sharing the last header page) is refused before
// anything is planned.

#include <cstdint>
#include <span>
#include <vector>

#include "tags/ogg/ogg_page.h"
#include "tags/streams/rewrite_plan.h"
#include "tags/streams/stream.h"

// Largest header packet read.
constexpr std::int64_t kOggMaxPacketBytes = 64 << 20;
// Pages (and damaged candidates) walked while reading header packets.
constexpr std::int64_t kOggMaxHeaderPages = 32768;
// Lacing values per page written: 17 segments of 255, 4335 data bytes.
constexpr int kOggWriteSegments = 17;

enum TOggStreamResult : int {
  osOk = 0,
  osNotOgg = 1,        // no valid page at the start offset
  osTruncated = 2,     // the stream ended (or its first serial did) before the packets were complete
  osTooLarge = 3,      // a packet or the header beyond the limits
  osMultiplexed = 4,   // another serial's pages lie among the header pages: not written
  osDamaged = 5,       // damaged or missing pages among the header pages: not written
  osSharedPage = 6,    // the last header page also carries audio data: not written
  osBadPackets = 7,    // new packets that do not match the header read (count, layout)
};

// A header page of the first serial, as found in the stream.
struct TOggPageRef {
  std::int64_t Offset = 0;
  std::int64_t Size = 0;
  std::uint32_t Sequence = 0;
  std::uint8_t Flags = 0;
  std::int64_t Granule = kOggNoGranule;
};

struct TOggPacket {
  TBytes Data;
  int FirstPage = 0;  // indexes into TOggHeaders::Pages
  int LastPage = 0;
};

struct TOggHeaders {
  std::uint32_t Serial = 0;
  std::int64_t Start = 0;         // the first page
  std::int64_t End = 0;           // after the last page holding header packet bytes
  std::vector<TOggPageRef> Pages; // the first serial's pages from Start to End
  std::vector<TOggPacket> Packets;
  bool Interleaved = false;       // pages of other serials lie between Start and End
  bool Damaged = false;           // bytes skipped or packet data lost between Start and End
  bool SharedLastPage = false;    // the last header page goes on with data after the last packet
};

// Reads the first Count packets of the stream whose first page is at From.
int ReadOggHeaders(TStream &Stream, std::int64_t From, int Count, TOggHeaders &Out);

// Pages for packets. NewPageBefore[i] tells whether packet i starts a fresh page (the first
// always does); otherwise it goes on on the page where the previous one ended. The last packet
// ends its page. TOggRunHeader: what the pages of one run of new pages share.
struct TOggRunHeader {
  std::uint32_t Serial = 0;
  std::uint32_t FirstSequence = 0;
  bool FirstOfStream = false;  // the first page gets the first-page flag
  bool LastOfStream = false;   // the last page gets the last-page flag
};

// Pages hold at most MaxSegments lacing values (1 to 255) in the functions below.
// The smallest n in 0..Max for which PagesFor(Base + n) is Target, -1 when there is none: the
// padding that makes new header pages take exactly the room of the old ones. PagesFor (the
// bytes of the pages for a packet of the given size) grows strictly with its argument, so the
// search halves the range, and the n found is the only one.
template <typename TPagesFor>
std::int64_t OggExactFit(std::int64_t Base, std::int64_t Max, std::int64_t Target, const TPagesFor &PagesFor)
{
  if (Max < 0 || PagesFor(Base + Max) < Target) return -1;
  std::int64_t lo = 0, hi = Max;
  while (lo < hi) {
    const std::int64_t mid = lo + (hi - lo) / 2;
    if (PagesFor(Base + mid) >= Target) hi = mid;
    else lo = mid + 1;
  }
  return PagesFor(Base + lo) == Target ? lo : -1;
}

// Bytes of the pages BuildOggPages makes for packets of these sizes.
std::int64_t OggPagesSize(std::span<const std::int64_t> PacketSizes, std::span<const bool> NewPageBefore,
                          int MaxSegments = kOggWriteSegments);
// The pages for Packets, each with its CRC; granule position 0 on every page where a packet
// ends, kOggNoGranule on the others.
std::vector<TOggPage> BuildOggPages(const TOggRunHeader &Run, std::span<const TBytes> Packets,
                                    std::span<const bool> NewPageBefore, int MaxSegments = kOggWriteSegments);

// The pages a rewrite starting at packet First replaces: from the page where packet First (or,
// when that page also carries the end of an earlier packet, that earlier packet) begins, to End.
struct TOggRewriteRegion {
  int FirstPacket = 0;       // the first packet rebuilt
  int FirstPage = 0;         // its first page
  std::int64_t Offset = 0;
  std::int64_t Bytes = 0;    // what the old pages take
};
TOggRewriteRegion OggRewriteRegion(const TOggHeaders &Headers, int FirstChanged);

// Plans replacing the header packets by NewPackets (one per packet read, unchanged ones equal to
// the old) laid out with NewPageBefore. Nothing changed gives an empty plan.
int PlanOggHeaderRewrite(TStream &Stream, const TOggHeaders &Headers, std::span<const TBytes> NewPackets,
                         std::span<const bool> NewPageBefore, TRewritePlan &Plan, int MaxSegments = kOggWriteSegments);
// The same, where the new header may hold more or fewer packets than the one read (a metadata
// block added or removed): the pages from the first packet that differs (or, when the old
// packets are a prefix of the new ones or the reverse, from the last packet both share) to the
// end of the header pages are replaced, and the following pages of the serial are renumbered
// after the new pages. NewPageBefore has one value per new packet.
int PlanOggHeaderReplace(TStream &Stream, const TOggHeaders &Headers, std::span<const TBytes> NewPackets,
                         std::span<const bool> NewPageBefore, TRewritePlan &Plan, int MaxSegments = kOggWriteSegments);
