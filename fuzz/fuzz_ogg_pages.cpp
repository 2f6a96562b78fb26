// Fuzz target: Ogg pages and header packets over any bytes. Properties: the page reader goes
// forward only and every page it returns passes its CRC; the header packets read stay inside
// their limits and lie on the pages read; a rewrite of the second packet, when planned, gives a
// stream whose header packets read back as the new ones; the Vorbis/Opus tag object loads any
// bytes, and a title it saves, with and without padding, reads back from the stream the plan
// gives, an in-place plan keeping the size.

#include "fuzz/fuzz_entry.h"

#include <cmath>

#include "tags/ogg/ogg_stream.h"
#include "tags/ogg/opus_tag.h"

namespace {

void CheckPages(TStream &Stream)
{
  TOggPageReader reader(Stream, 0, 4096);
  TOggPage page;
  std::int64_t previous = -1;
  while (reader.Next(page)) {
    FuzzRequire(page.Offset > previous && page.End() <= Stream.GetSize());
    FuzzRequire(OggPageCrc(page.Raw) == page.Checksum);
    previous = page.Offset;
  }
}

void CheckRewrite(TStream &Stream, const TOggHeaders &Headers)
{
  std::vector<TBytes> packets;
  for (const TOggPacket &p : Headers.Packets) packets.push_back(p.Data);
  packets[1].insert(packets[1].end(), 300, 0x55);
  const bool layout[3] = {true, true, false};
  TRewritePlan plan;
  if (PlanOggHeaderRewrite(Stream, Headers, packets, layout, plan) != osOk) return;
  TBytes copy(static_cast<std::size_t>(Stream.GetSize()));
  FuzzRequire(Stream.ReadAt(0, Stream.GetSize(), copy));
  TMemoryStream out(std::move(copy));
  FuzzRequire(ApplyPlanToStream(out, plan) == rwOk);
  TOggHeaders after;
  FuzzRequire(ReadOggHeaders(out, Headers.Start, 3, after) == osOk);
  for (std::size_t i = 0; i < 3; ++i) FuzzRequire(after.Packets[i].Data == packets[i]);
}

TMemoryStream CopyOf(TStream &Stream)
{
  TBytes copy(static_cast<std::size_t>(Stream.GetSize()));
  FuzzRequire(copy.empty() || Stream.ReadAt(0, Stream.GetSize(), copy));
  return TMemoryStream(std::move(copy));
}

void CheckTagSave(TStream &Stream, bool Padding)
{
  TOpusTag tag;
  const int loaded = tag.Load(Stream);
  FuzzRequire(tag.Loaded == (loaded == otOk));
  FuzzRequire(!tag.Writable() || tag.Loaded);
  FuzzRequire(std::isfinite(tag.PlayTime()) && tag.PlayTime() >= 0);
  std::vector<TPictureBlock> pictures;
  for (int i = 0; i < tag.PictureCount(); ++i) {
    TPictureBlock p;
    std::string key;
    if (tag.GetPicture(i, p, key)) pictures.push_back(std::move(p));
  }
  tag.SetPictures(pictures);
  tag.Comments.SetValue("TITLE", "fuzzed title");
  tag.WritePadding = Padding;
  tag.PaddingSizeToWrite = 64;
  TRewritePlan plan;
  const int rc = tag.PlanSave(Stream, plan);
  FuzzRequire(rc != otOk || !tag.Damaged());
  if (rc != otOk) {
    FuzzRequire(plan.ChangesNothing());
    return;
  }
  FuzzRequire(tag.Writable() || !tag.Loaded);
  TMemoryStream out = CopyOf(Stream);
  FuzzRequire(ApplyPlanToStream(out, plan) == rwOk);
  if (plan.InPlace) FuzzRequire(out.GetSize() == Stream.GetSize());
  TOpusTag back;
  FuzzRequire(back.Load(out) == otOk);
  FuzzRequire(back.Comments.Value("TITLE") == "fuzzed title");
  FuzzRequire(back.PictureCount() == tag.PictureCount());
}

void CheckTagRemove(TStream &Stream)
{
  TRewritePlan plan;
  if (TOpusTag::PlanRemove(Stream, plan) != otOk) return;
  TMemoryStream out = CopyOf(Stream);
  FuzzRequire(ApplyPlanToStream(out, plan) == rwOk);
  TOpusTag back;
  FuzzRequire(back.Load(out) == otOk);
  for (const TVorbisCommentEntry &e : back.Comments.Entries()) FuzzRequire(e.HasSeparator && e.Name == "ENCODER");
}

} // namespace

int FuzzOggPages(const std::uint8_t *Data, std::size_t Size)
{
  TReadMemoryStream stream(Data, static_cast<std::int64_t>(Size));
  CheckPages(stream);
  DetectOggCodec(stream, 0);
  TOggPage last;
  FindLastGranulePage(stream, 0, 0, last);
  CheckTagSave(stream, false);
  CheckTagSave(stream, true);
  CheckTagRemove(stream);
  TOggHeaders headers;
  if (ReadOggHeaders(stream, 0, 3, headers) != osOk) return 0;
  FuzzRequire(headers.Packets.size() == 3 && headers.End <= stream.GetSize());
  for (const TOggPacket &p : headers.Packets) {
    FuzzRequire(static_cast<std::int64_t>(p.Data.size()) <= kOggMaxPacketBytes);
    FuzzRequire(p.FirstPage <= p.LastPage && p.LastPage < static_cast<int>(headers.Pages.size()));
  }
  CheckRewrite(stream, headers);
  return 0;
}

CORVELLA_FUZZ_TARGET("fuzz_ogg_pages", FuzzOggPages)
