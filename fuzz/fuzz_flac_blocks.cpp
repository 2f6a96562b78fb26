// Fuzz target: the FLAC metadata walk over any bytes. Properties: the walk stays inside its
// limits; the blocks it loads lie between the marker and the audio; a stream that loads undamaged
// takes a replaced comment block (in place or rebuilt), and the result walks again undamaged with
// the new comment, the other blocks as they were and the same audio bytes. The same bytes are also
// read as Ogg FLAC header packets cut at fixed sizes, and through the tag object (native or Ogg
// FLAC): a stream it loads undamaged takes a new title, a picture less or more and the removal of
// its tags, and what a plan writes loads again undamaged with those changes.

#include <algorithm>

#include "fuzz/fuzz_entry.h"
#include "tags/flac/flac_metadata.h"
#include "tags/flac/flac_tag.h"

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

// Applies Plan to a copy of the bytes and loads the result.
bool LoadApplied(const std::uint8_t *Data, std::size_t Size, const TRewritePlan &Plan, TFlacTag &Out)
{
  TMemoryStream out(TBytes(Data, Data + Size));
  FuzzRequire(ApplyPlanToStream(out, Plan) == rwOk);
  if (Plan.InPlace) FuzzRequire(out.GetSize() == static_cast<std::int64_t>(Size));
  FuzzRequire(Out.Load(out) == ftOk && !Out.Damaged());
  TRewritePlan again;
  FuzzRequire(Out.PlanSave(out, again) == ftOk && again.ChangesNothing());
  return true;
}

void CheckTag(const std::uint8_t *Data, std::size_t Size)
{
  TReadMemoryStream stream(Data, static_cast<std::int64_t>(Size));
  TFlacTag tag;
  const int loaded = tag.Load(stream);
  FuzzRequire((loaded == ftOk) == tag.Loaded);
  if (loaded != ftOk) {
    FuzzRequire(tag.Size() == 0 && tag.PictureCount() == 0 && tag.Comments.Count() == 0);
    return;
  }
  (void)tag.Bitrate();
  FuzzRequire(tag.Size() > 0 && tag.ID3v2Size() >= 0 && tag.ID3v2Size() < static_cast<std::int64_t>(Size));
  TPictureBlock picture;
  for (int i = 0; i < tag.PictureCount(); ++i) (void)tag.GetPicture(i, picture);
  FuzzRequire(!tag.GetPicture(tag.PictureCount(), picture));

  TRewritePlan plan;
  int rc = tag.PlanSave(stream, plan);
  if (tag.Damaged()) {
    FuzzRequire(rc == ftDamaged && plan.ChangesNothing());
    return;
  }
  FuzzRequire(rc == ftOk && plan.ChangesNothing());

  tag.Comments.SetValue("TITLE", "fuzz");
  std::vector<TPictureBlock> pictures;
  picture = TPictureBlock{};
  picture.MIMEType = "image/png";
  picture.Data = {0x89, 'P', 'N', 'G'};
  pictures.push_back(picture);
  if (tag.PictureCount() > 1 && tag.GetPicture(1, picture)) pictures.push_back(picture);
  FuzzRequire(tag.SetPictures(pictures) == ftOk);
  rc = tag.PlanSave(stream, plan);
  if (rc == ftOk) {
    TFlacTag after;
    LoadApplied(Data, Size, plan, after);
    FuzzRequire(after.Comments.Value("TITLE") == "fuzz" && after.PictureCount() == static_cast<int>(pictures.size()));
    FuzzRequire(after.IsOgg() == tag.IsOgg() && after.ID3v2Size() == tag.ID3v2Size());
    TPictureBlock got;
    FuzzRequire(after.GetPicture(0, got) && got == pictures[0]);
  } else {
    FuzzRequire((rc == ftCannotRewrite || rc == ftTooLarge) && plan.ChangesNothing());
  }

  if (TFlacTag::PlanRemove(stream, plan) == ftOk) {
    TFlacTag after;
    LoadApplied(Data, Size, plan, after);
    FuzzRequire(after.Comments.Count() == 0 && after.PictureCount() == 0);
  }
}

} // namespace

int FuzzFlacBlocks(const std::uint8_t *Data, std::size_t Size)
{
  CheckPackets(Data, Size);
  CheckTag(Data, Size);
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

  // A load that leaves bodies in the content (padding, and all but the tags) plans the same
  // rebuild: it copies them from there.
  TFlacMetadata light;
  FuzzRequire(light.Load(stream, TFlacBodies::fbTagsOnly) == flOk && light.Blocks().size() == meta.Blocks().size());
  {
    TRewritePlan full, copied;
    if (meta.PlanSave(size, full, 64, true) == fpOk) {
      FuzzRequire(light.PlanSave(size, copied, 64, true) == fpOk);
      TMemoryStream a(TBytes(Data, Data + Size)), b(TBytes(Data, Data + Size));
      FuzzRequire(ApplyPlanToStream(a, full) == rwOk && ApplyPlanToStream(b, copied) == rwOk && a.Data() == b.Data());
    }
  }

  const TBytes comment = EmptyVorbisCommentBody("fuzz");
  const int at = meta.IndexOf(fbtVorbisComment);
  if (at > 0) FuzzRequire(meta.ReplaceBlock(static_cast<std::size_t>(at), comment));
  else FuzzRequire(meta.AddBlock(fbtVorbisComment, comment) > 0);
  TRewritePlan plan;
  if (meta.PlanSave(size, plan, 64) != fpOk) {
    FuzzRequire(std::any_of(meta.Blocks().begin(), meta.Blocks().end(),
                            [](const TFlacBlock &b) { return b.Size() > kMaxFlacBlockBody; }));
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
