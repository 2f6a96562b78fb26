#include "tags/ogg/ogg_stream.h"

#include <algorithm>
#include <cstring>

namespace {

// One page of a layout: a run of the segments and of the packet bytes laid out in order.
struct TPageCut {
  std::size_t FirstSegment = 0;
  std::size_t Segments = 0;
  std::int64_t DataFrom = 0;
  std::int64_t DataBytes = 0;
  bool Continued = false;
};

// Lays packets of these sizes out on pages of at most MaxSegments lacing values. Lacing,
// when given, receives every lacing value in order.
std::vector<TPageCut> CutPages(std::span<const std::int64_t> Sizes, std::span<const bool> NewPageBefore,
                               std::vector<std::uint8_t> *Lacing, int MaxSegments)
{
  const auto maxSegments = static_cast<std::size_t>(std::clamp(MaxSegments, 1, kOggMaxSegments));
  std::vector<TPageCut> pages;
  TPageCut cur;
  std::size_t segment = 0;
  std::int64_t data = 0;
  bool midPacket = false;
  auto flush = [&]() {
    if (cur.Segments == 0) return;
    pages.push_back(cur);
    cur = TPageCut{segment, 0, data, 0, midPacket};
  };
  for (std::size_t i = 0; i < Sizes.size(); ++i) {
    if (i == 0 || (i < NewPageBefore.size() && NewPageBefore[i])) flush();
    std::int64_t left = std::max<std::int64_t>(Sizes[i], 0);
    for (;;) {
      const auto v = static_cast<std::uint8_t>(std::min<std::int64_t>(left, 255));
      if (cur.Segments == maxSegments) flush();
      if (Lacing) Lacing->push_back(v);
      ++cur.Segments;
      cur.DataBytes += v;
      ++segment;
      data += v;
      left -= v;
      midPacket = v == 255;
      if (v < 255) break;
    }
  }
  flush();
  return pages;
}

std::vector<std::int64_t> SizesOf(std::span<const TBytes> Packets)
{
  std::vector<std::int64_t> sizes;
  for (const TBytes &p : Packets) sizes.push_back(static_cast<std::int64_t>(p.size()));
  return sizes;
}

// The state of the packet being assembled while header pages are read.
struct TAssembly {
  TBytes Partial;
  bool InPacket = false;
  bool Lost = false;  // the current packet began on a page that was not read: its bytes are dropped
  int FirstPage = 0;
  std::int64_t Total = 0;
};

// Adds the segments of one page of the serial to the packets; osOk or osTooLarge.
int AddPageSegments(const TOggPage &Page, int PageIndex, int Count, TAssembly &A, TOggHeaders &Out)
{
  if (Page.Continued() && !A.InPacket && !A.Lost) {
    A.Lost = true;
    Out.Damaged = true;
  } else if (!Page.Continued() && (A.InPacket || A.Lost)) {
    A.InPacket = A.Lost = false;
    A.Partial.clear();
    Out.Damaged = true;
  }
  const std::span<const std::uint8_t> data = Page.Data();
  // The bytes of a packet on this page, [from, off), are appended in one piece.
  const auto append = [&](std::size_t From, std::size_t To) {
    if (!A.Lost && To > From)
      A.Partial.insert(A.Partial.end(), data.begin() + static_cast<std::ptrdiff_t>(From),
                       data.begin() + static_cast<std::ptrdiff_t>(To));
  };
  std::size_t off = 0, from = 0;
  for (std::uint8_t v : Page.Lacing) {
    if (static_cast<int>(Out.Packets.size()) == Count) {
      Out.SharedLastPage = true;
      return osOk;
    }
    if (!A.Lost) {
      if (!A.InPacket) {
        A.InPacket = true;
        A.Partial.clear();
        A.FirstPage = PageIndex;
        from = off;
      }
      A.Total += v;
      if (A.Total > kOggMaxPacketBytes) return osTooLarge;
    }
    off += v;
    if (v == 255) continue;
    append(from, off);
    if (!A.Lost) Out.Packets.push_back(TOggPacket{std::move(A.Partial), A.FirstPage, PageIndex});
    A.Partial.clear();
    A.InPacket = A.Lost = false;
    from = off;
  }
  // A packet that goes on to the next page.
  if (A.InPacket) append(from, off);
  return osOk;
}

} // namespace

int ReadOggHeaders(TStream &Stream, std::int64_t From, int Count, TOggHeaders &Out)
{
  Out = TOggHeaders{};
  TOggPage page;
  if (ReadOggPageAt(Stream, From, page) != opcOk) return osNotOgg;
  Out.Serial = page.Serial;
  Out.Start = Out.End = From;
  TOggPageReader reader(Stream, From, kOggMaxHeaderPages);
  TAssembly assembly;
  while (static_cast<int>(Out.Packets.size()) < Count) {
    const std::int64_t skipped = reader.SkippedBytes();
    if (!reader.Next(page)) return reader.StepsExhausted() ? osTooLarge : osTruncated;
    if (reader.SkippedBytes() != skipped) Out.Damaged = true;
    if (page.Serial != Out.Serial) {
      Out.Interleaved = true;
      continue;
    }
    const int index = static_cast<int>(Out.Pages.size());
    if (index > 0 && page.Sequence != Out.Pages.back().Sequence + 1) Out.Damaged = true;
    Out.Pages.push_back(TOggPageRef{page.Offset, page.Size(), page.Sequence, page.Flags, page.Granule});
    Out.End = page.End();
    if (const int rc = AddPageSegments(page, index, Count, assembly, Out); rc != osOk) return rc;
    if (static_cast<int>(Out.Packets.size()) < Count && page.Last()) return osTruncated;
  }
  return osOk;
}

std::int64_t OggPagesSize(std::span<const std::int64_t> PacketSizes, std::span<const bool> NewPageBefore, int MaxSegments)
{
  std::int64_t total = 0;
  for (const TPageCut &c : CutPages(PacketSizes, NewPageBefore, nullptr, MaxSegments))
    total += kOggPageHeaderBytes + static_cast<std::int64_t>(c.Segments) + c.DataBytes;
  return total;
}

std::vector<TOggPage> BuildOggPages(const TOggRunHeader &Run, std::span<const TBytes> Packets,
                                    std::span<const bool> NewPageBefore, int MaxSegments)
{
  const std::vector<std::int64_t> sizes = SizesOf(Packets);
  std::vector<std::uint8_t> lacing;
  const std::vector<TPageCut> cuts = CutPages(sizes, NewPageBefore, &lacing, MaxSegments);
  TBytes data;
  for (const TBytes &p : Packets) data.insert(data.end(), p.begin(), p.end());
  std::vector<TOggPage> pages;
  pages.reserve(cuts.size());
  for (std::size_t i = 0; i < cuts.size(); ++i) {
    const TPageCut &c = cuts[i];
    std::uint8_t flags = c.Continued ? kOggFlagContinued : 0;
    if (i == 0 && Run.FirstOfStream) flags |= kOggFlagFirst;
    if (i + 1 == cuts.size() && Run.LastOfStream) flags |= kOggFlagLast;
    // A page on which no packet ends has no granule position (RFC 3533); the header pages
    // that end a packet carry 0.
    const auto onPage = std::span<const std::uint8_t>(lacing).subspan(c.FirstSegment, c.Segments);
    const bool packetEnds = std::any_of(onPage.begin(), onPage.end(), [](std::uint8_t v) { return v < 255; });
    pages.push_back(EncodeOggPage(flags, packetEnds ? 0 : kOggNoGranule, Run.Serial, Run.FirstSequence + static_cast<std::uint32_t>(i),
                                  onPage, std::span<const std::uint8_t>(data).subspan(static_cast<std::size_t>(c.DataFrom),
                                                                              static_cast<std::size_t>(c.DataBytes))));
  }
  return pages;
}

TOggRewriteRegion OggRewriteRegion(const TOggHeaders &Headers, int FirstChanged)
{
  TOggRewriteRegion region;
  if (Headers.Packets.empty()) return region;
  const auto &packets = Headers.Packets;
  auto j = static_cast<std::size_t>(std::clamp(FirstChanged, 0, static_cast<int>(packets.size()) - 1));
  while (j > 0 && packets[j].FirstPage == packets[j - 1].LastPage) --j;
  region.FirstPacket = static_cast<int>(j);
  region.FirstPage = packets[j].FirstPage;
  region.Offset = Headers.Pages[static_cast<std::size_t>(region.FirstPage)].Offset;
  region.Bytes = Headers.End - region.Offset;
  return region;
}

namespace {

// Fields that renumber the pages of the serial after the header pages: the sequence number and
// CRC (adjacent, 8 bytes at offset 18) of every page whose number changes, up to the serial's
// last page. Damaged stretches are passed over and left as they are.
std::vector<TPatchField> RenumberFollowingPages(TStream &Stream, const TOggHeaders &Headers, std::uint32_t NextSequence)
{
  std::vector<TPatchField> fields;
  const std::int64_t size = Stream.GetSize();
  // Capture patterns cannot overlap, so a walk of size / 4 steps reaches the end even through damage.
  TOggPageReader reader(Stream, Headers.End, size / 4 + 2);
  TOggPage page;
  std::uint32_t expected = NextSequence;
  while (reader.Next(page)) {
    if (page.Serial != Headers.Serial) continue;
    if (page.Sequence != expected) {
      RenumberOggPage(page.Raw, expected);
      fields.push_back(TPatchField{page.Offset + 18, TBytes(page.Raw.begin() + 18, page.Raw.begin() + 26)});
    }
    ++expected;
    if (page.Last()) break;
  }
  return fields;
}

int CheckWritable(const TOggHeaders &Headers, std::span<const TBytes> NewPackets, std::span<const bool> NewPageBefore,
                  bool SameCount)
{
  if (Headers.Interleaved) return osMultiplexed;
  if (Headers.Damaged) return osDamaged;
  if (Headers.SharedLastPage) return osSharedPage;
  if (Headers.Packets.empty() || NewPackets.empty() || NewPageBefore.size() != NewPackets.size() ||
      (SameCount && NewPackets.size() != Headers.Packets.size()))
    return osBadPackets;
  for (const TBytes &p : NewPackets)
    if (static_cast<std::int64_t>(p.size()) > kOggMaxPacketBytes) return osTooLarge;
  return osOk;
}

int PlanHeaderPages(TStream &Stream, const TOggHeaders &Headers, std::span<const TBytes> NewPackets,
                    std::span<const bool> NewPageBefore, TRewritePlan &Plan, bool SameCount, int MaxSegments)
{
  Plan = TRewritePlan{};
  if (const int rc = CheckWritable(Headers, NewPackets, NewPageBefore, SameCount); rc != osOk) return rc;
  const std::size_t shared = std::min(NewPackets.size(), Headers.Packets.size());
  std::size_t changed = 0;
  while (changed < shared && NewPackets[changed] == Headers.Packets[changed].Data) ++changed;
  if (changed == shared && NewPackets.size() == Headers.Packets.size()) return osOk;
  // Packets added at the end or removed from it: the pages are rebuilt from the last packet both
  // share, so that the run of new pages starts where an old packet started.
  if (changed == shared) changed = shared - 1;

  const TOggRewriteRegion region = OggRewriteRegion(Headers, static_cast<int>(changed));
  const auto first = static_cast<std::size_t>(region.FirstPacket);
  const TOggPageRef &firstPage = Headers.Pages[static_cast<std::size_t>(region.FirstPage)];
  TOggRunHeader run;
  run.Serial = Headers.Serial;
  run.FirstSequence = firstPage.Sequence;
  run.FirstOfStream = firstPage.Flags & kOggFlagFirst;
  run.LastOfStream = Headers.Pages.back().Flags & kOggFlagLast;
  // The first packet rebuilt always starts a page: the cut lays the first packet on a new one.
  const std::vector<TOggPage> pages =
    BuildOggPages(run, NewPackets.subspan(first), NewPageBefore.subspan(first), MaxSegments);

  TBytes fresh;
  for (const TOggPage &p : pages) fresh.insert(fresh.end(), p.Raw.begin(), p.Raw.end());
  const std::uint32_t next = run.FirstSequence + static_cast<std::uint32_t>(pages.size());
  std::vector<TPatchField> renumbered = RenumberFollowingPages(Stream, Headers, next);

  if (static_cast<std::int64_t>(fresh.size()) == region.Bytes) {
    TBytes old;
    if (!ReadUpTo(Stream, region.Offset, region.Bytes, old) || static_cast<std::int64_t>(old.size()) != region.Bytes)
      return osTruncated;
    std::int64_t at = 0;
    for (const TOggPage &p : pages) {
      if (!std::equal(p.Raw.begin(), p.Raw.end(), old.begin() + at))
        Plan.Patches.push_back(TInPlacePatch{region.Offset + at, p.Raw, false});
      at += p.Size();
    }
    for (TPatchField &f : renumbered) Plan.Patches.push_back(TInPlacePatch{f.Offset, std::move(f.Bytes), false});
    Plan.InPlace = !Plan.Patches.empty();
    return osOk;
  }
  const std::int64_t size = Stream.GetSize();
  if (region.Offset > 0) Plan.AddCopy(0, region.Offset);
  Plan.AddLiteral(std::move(fresh));
  if (Headers.End < size) Plan.AddCopy(Headers.End, size, std::move(renumbered));
  return osOk;
}

} // namespace

int PlanOggHeaderRewrite(TStream &Stream, const TOggHeaders &Headers, std::span<const TBytes> NewPackets,
                         std::span<const bool> NewPageBefore, TRewritePlan &Plan, int MaxSegments)
{
  return PlanHeaderPages(Stream, Headers, NewPackets, NewPageBefore, Plan, true, MaxSegments);
}

int PlanOggHeaderReplace(TStream &Stream, const TOggHeaders &Headers, std::span<const TBytes> NewPackets,
                         std::span<const bool> NewPageBefore, TRewritePlan &Plan, int MaxSegments)
{
  return PlanHeaderPages(Stream, Headers, NewPackets, NewPageBefore, Plan, false, MaxSegments);
}
