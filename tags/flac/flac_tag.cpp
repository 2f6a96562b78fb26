#include "tags/flac/flac_tag.h"

#include <algorithm>
#include <memory>

#include "tags/id3/skip_id3v2.h"
#include "tags/ogg/ogg_page.h"

namespace {

constexpr std::uint8_t kLastFlag = 0x80;
// The mapping header: 0x7F "FLAC", major, minor, the 16-bit packet count, "fLaC", then the
// STREAMINFO block header.
constexpr std::size_t kMappingCountOffset = 7;
constexpr std::size_t kMappingStreamInfoHeader = 13;

std::vector<std::span<const std::uint8_t>> PacketSpans(const TOggHeaders &Headers)
{
  std::vector<std::span<const std::uint8_t>> spans;
  for (const TOggPacket &p : Headers.Packets) spans.emplace_back(p.Data);
  return spans;
}

// The index of the first header packet after the mapping header whose block has the last flag;
// 0 when none of those read has it.
std::size_t LastBlockPacket(const TOggHeaders &Headers)
{
  for (std::size_t i = 1; i < Headers.Packets.size(); ++i)
    if (!Headers.Packets[i].Data.empty() && (Headers.Packets[i].Data[0] & kLastFlag)) return i;
  return 0;
}

int ReadOggFlacLayout(TStream &Content, std::int64_t From, TFlacLayout &Out)
{
  TOggHeaders &h = Out.Headers;
  if (ReadOggHeaders(Content, From, 1, h) != osOk || h.Packets.empty()) return ftNotFlac;
  {
    const std::span<const std::uint8_t> first[] = {h.Packets[0].Data};
    switch (Out.Meta.LoadFromPackets(first)) {
    case flOk: break;
    case flUnsupportedOgg: return ftUnsupportedOgg;
    case flReadFailed: return ftFileNotFound;
    default: return ftNotFlac;
    }
  }
  Out.Ogg = true;
  const TBytes &mapping = h.Packets[0].Data;
  const int announced = mapping[kMappingCountOffset] << 8 | mapping[kMappingCountOffset + 1];
  const bool infoLast = (mapping[kMappingStreamInfoHeader] & kLastFlag) != 0;

  int want = 1;
  if (!infoLast && announced != 0) {
    want = 1 + announced;
  } else if (!infoLast) {
    // No count: read more and more packets until one carries the block with the last flag.
    for (int n = 2;; n = std::min(2 * n, kMaxOggFlacHeaderPackets)) {
      const int rc = ReadOggHeaders(Content, From, n, h);
      if (const std::size_t last = LastBlockPacket(h); last > 0) { want = static_cast<int>(last) + 1; break; }
      if (rc != osOk || n == kMaxOggFlacHeaderPackets) { want = n; break; }
    }
  }
  if (static_cast<int>(h.Packets.size()) != want) ReadOggHeaders(Content, From, want, h);
  // A walk cut short (truncated pages) is reported by LoadFromPackets as damage.
  const std::vector<std::span<const std::uint8_t>> spans = PacketSpans(h);
  if (Out.Meta.LoadFromPackets(spans) != flOk) return ftNotFlac;
  // Packets announced beyond the block with the last flag belong to nothing known: reading goes
  // on, writing does not.
  Out.PacketsMismatch = !Out.Meta.Damaged() && Out.Meta.Blocks().size() != h.Packets.size();
  return ftOk;
}

// The header packets of Meta for a stream read as Headers: the mapping header as read with its
// count (when it gave one) and STREAMINFO's last flag brought up to date, then one packet per
// block, the last flag on the last one.
std::vector<TBytes> OggFlacPackets(const TFlacLayout &Layout)
{
  const std::vector<TFlacBlock> &blocks = Layout.Meta.Blocks();
  std::vector<TBytes> packets;
  TBytes mapping = Layout.Headers.Packets[0].Data;
  const std::size_t rest = blocks.size() - 1;
  if ((mapping[kMappingCountOffset] | mapping[kMappingCountOffset + 1]) != 0) {
    // A count that does not fit is written as 0, which announces an unknown number.
    const std::size_t count = rest > 0xFFFF ? 0 : rest;
    mapping[kMappingCountOffset] = static_cast<std::uint8_t>(count >> 8);
    mapping[kMappingCountOffset + 1] = static_cast<std::uint8_t>(count);
  }
  mapping[kMappingStreamInfoHeader] = static_cast<std::uint8_t>(
      (mapping[kMappingStreamInfoHeader] & 0x7F) | (rest == 0 ? kLastFlag : 0));
  packets.push_back(std::move(mapping));
  for (std::size_t i = 1; i < blocks.size(); ++i) {
    const auto len = static_cast<std::uint32_t>(blocks[i].Data.size());
    TBytes p{static_cast<std::uint8_t>((i + 1 == blocks.size() ? kLastFlag : 0) | (blocks[i].Type & 0x7F)),
             static_cast<std::uint8_t>(len >> 16), static_cast<std::uint8_t>(len >> 8), static_cast<std::uint8_t>(len)};
    p.insert(p.end(), blocks[i].Data.begin(), blocks[i].Data.end());
    packets.push_back(std::move(p));
  }
  return packets;
}

// When the header keeps a PADDING packet among the pages that are rewritten anyway, resizes it so
// that the new pages take exactly the room of the old ones, which lets the change be written in
// place. Packets stay as they are when no padding length gives an exact fit.
void FitOggPadding(const TOggHeaders &Headers, std::vector<TBytes> &Packets, std::span<const bool> NewPage)
{
  std::size_t pad = 0;
  for (std::size_t i = Packets.size(); i-- > 1 && pad == 0;)
    if ((Packets[i][0] & 0x7F) == fbtPadding) pad = i;
  if (pad == 0) return;
  const std::size_t shared = std::min(Packets.size(), Headers.Packets.size());
  std::size_t changed = 0;
  while (changed < shared && Packets[changed] == Headers.Packets[changed].Data) ++changed;
  if (changed == shared && Packets.size() == Headers.Packets.size()) return;
  const TOggRewriteRegion region =
      OggRewriteRegion(Headers, static_cast<int>(std::min(changed, shared - 1)));
  const auto first = static_cast<std::size_t>(region.FirstPacket);
  if (pad < first) return;
  std::vector<std::int64_t> sizes;
  for (std::size_t i = first; i < Packets.size(); ++i) sizes.push_back(static_cast<std::int64_t>(Packets[i].size()));
  const std::size_t at = pad - first;
  const auto pagesWith = [&](std::int64_t Body) {
    sizes[at] = 4 + Body;
    return OggPagesSize(sizes, NewPage.subspan(first));
  };
  if (pagesWith(static_cast<std::int64_t>(Packets[pad].size()) - 4) == region.Bytes) return;
  const std::int64_t lo = OggExactFit(0, static_cast<std::int64_t>(kMaxFlacBlockBody), region.Bytes, pagesWith);
  if (lo < 0) return;
  const bool last = (Packets[pad][0] & 0x80) != 0;
  const auto len = static_cast<std::uint32_t>(lo);
  TBytes packet{static_cast<std::uint8_t>((last ? 0x80 : 0) | fbtPadding), static_cast<std::uint8_t>(len >> 16),
                static_cast<std::uint8_t>(len >> 8), static_cast<std::uint8_t>(len)};
  packet.resize(4 + len, 0);
  Packets[pad] = std::move(packet);
}

int PlanOggFlac(TStream &Content, const TFlacLayout &Layout, TRewritePlan &Plan)
{
  for (const TFlacBlock &b : Layout.Meta.Blocks())
    if (b.Size() > kMaxFlacBlockBody) return ftTooLarge;
  std::vector<TBytes> packets = OggFlacPackets(Layout);
  // The Ogg FLAC mapping puts every header packet on a page of its own.
  const auto newPage = std::make_unique<bool[]>(packets.size());
  std::fill_n(newPage.get(), packets.size(), true);
  FitOggPadding(Layout.Headers, packets, std::span<const bool>(newPage.get(), packets.size()));
  switch (PlanOggHeaderReplace(Content, Layout.Headers, packets, std::span<const bool>(newPage.get(), packets.size()), Plan)) {
  case osOk: return ftOk;
  case osTooLarge: return ftTooLarge;
  case osMultiplexed:
  case osDamaged:
  case osSharedPage:
  case osTruncated: return ftCannotRewrite;
  default: return ftUnknown;
  }
}

int FromPlanResult(int Result)
{
  switch (Result) {
  case fpOk: return ftOk;
  case fpDamaged: return ftDamaged;
  case fpBlockTooLarge: return ftTooLarge;
  default: return ftUnknown;
  }
}

bool OggWritable(const TFlacLayout &Layout)
{
  return !Layout.Headers.Interleaved && !Layout.Headers.Damaged && !Layout.Headers.SharedLastPage;
}

} // namespace

int ReadFlacLayout(TStream &Content, TFlacLayout &Out, TFlacBodies Bodies)
{
  Out = TFlacLayout{};
  Out.FileSize = Content.GetSize();
  if (Out.FileSize <= 0) return ftFileNotFound;
  switch (Out.Meta.Load(Content, Bodies)) {
  case flOk:
    Out.ID3v2Size = Out.Meta.ID3v2Size();
    return ftOk;
  case flNotFlac: break;
  case flReadFailed: return ftFileNotFound;
  default: return ftNotFlac;
  }
  SkipLeadingID3v2Tags(Content, Out.ID3v2Size);
  if (DetectOggCodec(Content, Out.ID3v2Size) != ocFlac) return ftNotFlac;
  const std::int64_t front = Out.ID3v2Size, size = Out.FileSize;
  const int rc = ReadOggFlacLayout(Content, front, Out);
  Out.ID3v2Size = front;
  Out.FileSize = size;
  if (rc != ftOk) {
    Out.Meta = TFlacMetadata();
    Out.Ogg = false;
  }
  return rc;
}

void TFlacTag::Clear()
{
  Loaded = false;
  FDamaged = false;
  FLayout = TFlacLayout{};
  FPictures.clear();
  Comments.DeleteAll();
  Comments.UpperCaseNewNames = UpperCaseFieldNamesToWrite;
}

int TFlacTag::Load(TStream &Content) { return LoadFrom(Content, nullptr); }

int TFlacTag::Load(TReadView &View) { return LoadFrom(View, View.Identity()); }

int TFlacTag::LoadFrom(TStream &Content, const std::shared_ptr<const TFileIdentity> &File)
{
  Clear();
  const int rc = ReadFlacLayout(Content, FLayout, File ? TFlacBodies::fbTagsOnly : TFlacBodies::fbAll);
  if (rc != ftOk) {
    FLayout = TFlacLayout{};
    return rc;
  }
  const TFlacMetadata &meta = FLayout.Meta;
  Comments = TVorbisComments();
  if (const int at = meta.IndexOf(fbtVorbisComment); at > 0)
    Comments.Parse(meta.Blocks()[static_cast<std::size_t>(at)].Data, vclPlain);
  else
    Comments.SetVendor(TFlacMetadata::DefaultVendor);
  Comments.UpperCaseNewNames = UpperCaseFieldNamesToWrite;
  for (const TFlacBlock &b : meta.Blocks()) {
    if (b.Type != fbtPicture) continue;
    TStoredPicture p;
    if (b.Held) {
      p.Body = b.Data;
      FPictures.push_back(std::move(p));
      continue;
    }
    // A large picture stays in the file when its fields can be read from its first bytes; one
    // that cannot is read whole, so that it shows as the block it is.
    TBytes head;
    const std::int64_t want = std::min<std::int64_t>(b.Length, 4096 + kFlacPictureDataHead);
    const bool read = ReadUpTo(Content, b.Offset + 4, want, head);
    if (read && File && ParsePictureBlockHead(head, b.Length, kFlacPictureDataHead, p.Head, p.DataStart)) {
      p.InFile = TFileRange{File, b.Offset + 4, b.Length};
    } else if (!read || !Content.ReadAt(b.Offset + 4, b.Length, p.Body)) {
      Clear();
      return ftFileNotFound;
    }
    FPictures.push_back(std::move(p));
  }
  FDamaged = meta.Damaged() || Comments.Damaged() || FLayout.PacketsMismatch;
  Loaded = true;
  return ftOk;
}

bool TFlacTag::Assign(const TFlacTag &Source)
{
  if (&Source == this) return true;
  Clear();
  Comments = Source.Comments;
  FPictures = Source.FPictures;
  UpperCaseFieldNamesToWrite = Source.UpperCaseFieldNamesToWrite;
  PaddingSizeToWrite = Source.PaddingSizeToWrite;
  return true;
}

bool TFlacTag::IsOgg() const { return Loaded && FLayout.Ogg; }

bool TFlacTag::Damaged() const { return FDamaged; }

int TFlacTag::PictureCount() const { return static_cast<int>(FPictures.size()); }

bool TFlacTag::GetPicture(int Index, TPictureBlock &Out, TFileRange *DataInFile) const
{
  if (Index < 0 || Index >= PictureCount()) return false;
  const TStoredPicture &p = FPictures[static_cast<std::size_t>(Index)];
  if (DataInFile) *DataInFile = TFileRange();
  if (!p.Held() && DataInFile) {
    Out = p.Head;
    const auto start = static_cast<std::int64_t>(p.DataStart);
    *DataInFile = TFileRange{p.InFile.File, p.InFile.Offset + start, p.InFile.Size - start};
    return true;
  }
  TBytes body;
  if (!p.Held() && !ReadFileRange(p.InFile, body)) return false;
  return ParsePictureBlock(p.Held() ? p.Body : body, Out) == pbrOk;
}

bool TFlacTag::PictureBody(int Index, TBytes &Out) const
{
  Out.clear();
  if (Index < 0 || Index >= PictureCount()) return false;
  const TStoredPicture &p = FPictures[static_cast<std::size_t>(Index)];
  if (!p.Held()) return ReadFileRange(p.InFile, Out);
  Out = p.Body;
  return true;
}

int TFlacTag::SetPictures(std::span<const TPictureBlock> Pictures)
{
  std::vector<TStoredPicture> bodies;
  bodies.reserve(Pictures.size());
  for (const TPictureBlock &p : Pictures) {
    TStoredPicture stored;
    if (BuildPictureBlock(p, stored.Body, kMaxFlacBlockBody) != pbrOk) return ftTooLarge;
    bodies.push_back(std::move(stored));
  }
  FPictures = std::move(bodies);
  return ftOk;
}

bool TFlacTag::ApplyTo(TFlacMetadata &Meta, const TBytes &CommentBody) const
{
  bool changed = false;
  if (const int at = Meta.IndexOf(fbtVorbisComment); at > 0) {
    if (Meta.Blocks()[static_cast<std::size_t>(at)].Data != CommentBody) {
      Meta.ReplaceBlock(static_cast<std::size_t>(at), CommentBody);
      changed = true;
    }
  } else if (Comments.Count() > 0) {
    Meta.AddBlock(fbtVorbisComment, CommentBody);
    changed = true;
  }
  std::vector<std::size_t> stored;
  for (std::size_t i = 0; i < Meta.Blocks().size(); ++i)
    if (Meta.Blocks()[i].Type == fbtPicture) stored.push_back(i);
  const std::size_t shared = std::min(stored.size(), FPictures.size());
  for (std::size_t i = 0; i < shared; ++i)
    if (Meta.Blocks()[stored[i]].Data != FPictures[i].Body) {
      Meta.ReplaceBlock(stored[i], FPictures[i].Body);
      changed = true;
    }
  for (std::size_t i = stored.size(); i-- > shared;) {
    Meta.DeleteBlock(stored[i]);
    changed = true;
  }
  for (std::size_t i = shared; i < FPictures.size(); ++i) {
    Meta.AddBlock(fbtPicture, FPictures[i].Body);
    changed = true;
  }
  return changed;
}

int TFlacTag::PlanSave(TStream &Content, TRewritePlan &Plan)
{
  Plan = TRewritePlan();
  Comments.UpperCaseNewNames = UpperCaseFieldNamesToWrite;
  TBytes body;
  switch (Comments.Build(body)) {
  case vcbOk: break;
  case vcbDamaged: return ftDamaged;
  default: return ftTooLarge;
  }
  if (body.size() > kMaxFlacBlockBody) return ftTooLarge;
  for (const TStoredPicture &p : FPictures)
    if (p.Held() ? p.Body.size() > kMaxFlacBlockBody : static_cast<std::uint64_t>(p.InFile.Size) > kMaxFlacBlockBody)
      return ftTooLarge;
  if (FDamaged) return ftDamaged;
  for (TStoredPicture &p : FPictures) {
    if (p.Held()) continue;
    TBytes bytes;
    if (!ReadFileRange(p.InFile, bytes)) return ftChangedSinceLoad;
    p = TStoredPicture();
    p.Body = std::move(bytes);
  }

  TFlacLayout now;
  if (const int rc = ReadFlacLayout(Content, now); rc != ftOk) return rc;
  if (now.Meta.Damaged() || now.PacketsMismatch) return ftDamaged;
  if (!ApplyTo(now.Meta, body)) return ftOk;
  if (now.Ogg && !OggWritable(now)) return ftCannotRewrite;
  if (now.Ogg) {
    const int rc = PlanOggFlac(Content, now, Plan);
    if (rc != ftOk) Plan = TRewritePlan();
    return rc;
  }
  return FromPlanResult(now.Meta.PlanSave(now.FileSize, Plan, PaddingSizeToWrite));
}

int TFlacTag::PlanRemove(TStream &Content, TRewritePlan &Plan)
{
  Plan = TRewritePlan();
  TFlacLayout now;
  if (const int rc = ReadFlacLayout(Content, now); rc != ftOk) return rc;
  if (now.Meta.Damaged() || now.PacketsMismatch) return ftDamaged;
  if (now.Ogg && !OggWritable(now)) return ftCannotRewrite;
  now.Meta.RemoveTags(0);
  if (!now.Ogg) return FromPlanResult(now.Meta.PlanSave(now.FileSize, Plan, 0));
  now.Meta.DeleteBlocks(fbtPadding);
  const int rc = PlanOggFlac(Content, now, Plan);
  if (rc != ftOk) Plan = TRewritePlan();
  return rc;
}

const TFlacStreamInfo &TFlacTag::StreamInfo() const { return FLayout.Meta.StreamInfo(); }

double TFlacTag::PlayTime() const { return Loaded ? FLayout.Meta.PlayTime() : 0.0; }

std::uint32_t TFlacTag::Bitrate() const
{
  if (!Loaded) return 0;
  if (!FLayout.Ogg) return FLayout.Meta.Bitrate();
  return FlacBitrate(FLayout.FileSize - FLayout.Headers.End, FLayout.Meta.PlayTime());
}

std::int64_t TFlacTag::Size() const
{
  if (!Loaded) return 0;
  if (FLayout.Ogg) return FLayout.Headers.End - FLayout.Headers.Start;
  std::int64_t size = 4;
  for (const TFlacBlock &b : FLayout.Meta.Blocks()) size += 4 + static_cast<std::int64_t>(b.Size());
  return size;
}

std::int64_t TFlacTag::ID3v2Size() const { return Loaded ? FLayout.ID3v2Size : 0; }
