// Fuzz target: the FLAC metadata walk over any bytes. Properties: the walk stays inside its
// limits; the blocks it loads lie between the marker and the audio; a stream that loads undamaged
// takes a replaced comment block (in place or rebuilt), and the result walks again undamaged with
// the new comment, the other blocks as they were and the same audio bytes. The same bytes are also
// read as Ogg FLAC header packets cut at fixed sizes.

#include <algorithm>

#include "fuzz/fuzz_entry.h"
#include "tags/flac/flac_metadata.h"

namespace {

void CheckPackets(const std::uint8_t *Data, std::size_t Size)
{
  // The first packet is the 51-byte mapping header, the rest are cut by their own block headers
  // (or what is left), so any bytes give some sequence of packets.
  std::vector<std::span<const std::uint8_t>> packets;
  std::size_t pos = 0;
  std::size_t len = std::min<std::size_t>(Size, 51);
  while (pos < Size && packets.size() < 64) {
    packets.emplace_back(Data + pos, len);
    pos += len;
    if (Size - pos >= 4) len = std::min<std::size_t>(Size - pos, 4 + (std::size_t{Data[pos + 1]} << 16 | std::size_t{Data[pos + 2]} << 8 | Data[pos + 3]));
    else len = Size - pos;
  }
  TFlacMetadata meta;
  if (meta.LoadFromPackets(packets) != flOk) return;
  FuzzRequire(!meta.Blocks().empty() && meta.Blocks().size() <= kMaxFlacBlocks);
  TFlacMetadata again;
  const std::vector<TBytes> rebuilt = meta.HeaderPackets();
  const std::vector<std::span<const std::uint8_t>> spans(rebuilt.begin(), rebuilt.end());
  FuzzRequire(again.LoadFromPackets(spans) == flOk && !again.Damaged());
}

} // namespace

int FuzzFlacBlocks(const std::uint8_t *Data, std::size_t Size)
{
  CheckPackets(Data, Size);
  TReadMemoryStream stream(Data, static_cast<std::int64_t>(Size));
  TFlacMetadata meta;
  if (meta.Load(stream) != flOk) return 0;
  FuzzRequire(meta.Loaded() && !meta.Blocks().empty() && meta.Blocks().size() <= kMaxFlacBlocks);
  FuzzRequire(meta.Blocks()[0].Type == fbtStreamInfo && meta.Blocks()[0].Data.size() == kFlacStreamInfoSize);
  const std::int64_t size = static_cast<std::int64_t>(Size);
  if (meta.Damaged()) {
    FuzzRequire(meta.AudioOffset() == -1);
    TRewritePlan plan;
    FuzzRequire(meta.PlanSave(size, plan) == fpDamaged && plan.ChangesNothing());
    return 0;
  }
  FuzzRequire(meta.AudioOffset() > meta.ID3v2Size() && meta.AudioOffset() <= size);
  (void)meta.Bitrate();

  const TBytes comment = EmptyVorbisCommentBody("fuzz");
  const int at = meta.IndexOf(fbtVorbisComment);
  if (at > 0) FuzzRequire(meta.ReplaceBlock(static_cast<std::size_t>(at), comment));
  else FuzzRequire(meta.AddBlock(fbtVorbisComment, comment) > 0);
  TRewritePlan plan;
  if (meta.PlanSave(size, plan, 64) != fpOk) {
    FuzzRequire(std::any_of(meta.Blocks().begin(), meta.Blocks().end(),
                            [](const TFlacBlock &b) { return b.Data.size() > kMaxFlacBlockBody; }));
    return 0;
  }
  TMemoryStream out(TBytes(Data, Data + Size));
  FuzzRequire(ApplyPlanToStream(out, plan) == rwOk);
  if (plan.InPlace) FuzzRequire(out.GetSize() == size);
  TFlacMetadata after;
  FuzzRequire(after.Load(out) == flOk && !after.Damaged());
  FuzzRequire(after.ID3v2Size() == meta.ID3v2Size());
  const int again = after.IndexOf(fbtVorbisComment);
  FuzzRequire(again > 0 && after.Blocks()[static_cast<std::size_t>(again)].Data == comment);
  // Every block but padding is there again, in order.
  std::vector<const TFlacBlock *> want, got;
  for (const TFlacBlock &b : meta.Blocks())
    if (b.Type != fbtPadding) want.push_back(&b);
  for (const TFlacBlock &b : after.Blocks())
    if (b.Type != fbtPadding) got.push_back(&b);
  FuzzRequire(want.size() == got.size());
  for (std::size_t i = 0; i < want.size(); ++i)
    FuzzRequire(want[i]->Type == got[i]->Type && want[i]->Data == got[i]->Data);
  const std::int64_t audio = size - meta.AudioOffset();
  FuzzRequire(out.GetSize() - after.AudioOffset() == audio);
  FuzzRequire(std::equal(Data + meta.AudioOffset(), Data + Size, out.Data().begin() + after.AudioOffset()));
  return 0;
}

CORVELLA_FUZZ_TARGET("fuzz_flac_blocks", FuzzFlacBlocks)
