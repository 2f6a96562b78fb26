#include "tags/flac/flac_metadata.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "tags/id3/skip_id3v2.h"
#include "tags/streams/byte_reader.h"

const char *TFlacMetadata::DefaultVendor = "reference libFLAC 1.1.0 20030126";

namespace {

constexpr std::uint8_t kLastFlag = 0x80;

void AppendBlockHeader(TBytes &Out, std::uint8_t Type, bool Last, std::uint64_t Length)
{
  const auto len = static_cast<std::uint32_t>(Length);
  Out.push_back(static_cast<std::uint8_t>((Last ? kLastFlag : 0) | (Type & 0x7F)));
  Out.push_back(static_cast<std::uint8_t>(len >> 16));
  Out.push_back(static_cast<std::uint8_t>(len >> 8));
  Out.push_back(static_cast<std::uint8_t>(len));
}

void AppendBlock(TBytes &Out, std::uint8_t Type, bool Last, const TBytes &Body)
{
  AppendBlockHeader(Out, Type, Last, Body.size());
  Out.insert(Out.end(), Body.begin(), Body.end());
}

// Whether a load of Bodies reads the body of a block of Type and Length.
bool ReadsBody(TFlacBodies Bodies, std::uint8_t Type, std::uint32_t Length)
{
  switch (Type) {
  case fbtPadding: return false;
  case fbtVorbisComment: return true;
  case fbtPicture: return Bodies == TFlacBodies::fbAll || Length <= kHeldPictureBody;
  default: return Bodies == TFlacBodies::fbAll;
  }
}

struct TBlockHeader {
  bool Last = false;
  std::uint8_t Type = 0;
  std::uint32_t Length = 0;
};

bool ReadBlockHeader(ByteReader &In, TBlockHeader &Out)
{
  std::uint8_t b0 = 0;
  if (!In.ReadU8(b0) || !In.ReadU24BE(Out.Length)) return false;
  Out.Last = (b0 & kLastFlag) != 0;
  Out.Type = b0 & 0x7F;
  return true;
}

} // namespace

double TFlacStreamInfo::PlayTime() const
{
  if (!Valid()) return 0.0;
  return static_cast<double>(TotalSamples) / static_cast<double>(SampleRate);
}

bool DecodeFlacStreamInfo(std::span<const std::uint8_t> Body, TFlacStreamInfo &Out)
{
  if (Body.size() != kFlacStreamInfoSize) return false;
  ByteReader in(Body);
  TFlacStreamInfo info;
  std::uint8_t b[4] = {};
  std::uint32_t low = 0;
  if (!in.ReadU16BE(info.MinBlockSize) || !in.ReadU16BE(info.MaxBlockSize) || !in.ReadU24BE(info.MinFrameSize) ||
      !in.ReadU24BE(info.MaxFrameSize))
    return false;
  for (std::uint8_t &x : b)
    if (!in.ReadU8(x)) return false;
  if (!in.ReadU32BE(low)) return false;
  info.SampleRate = static_cast<std::uint32_t>(b[0]) << 12 | static_cast<std::uint32_t>(b[1]) << 4 | b[2] >> 4;
  info.Channels = static_cast<std::uint8_t>(((b[2] >> 1) & 7) + 1);
  info.BitsPerSample = static_cast<std::uint8_t>((((b[2] & 1) << 4) | (b[3] >> 4)) + 1);
  info.TotalSamples = static_cast<std::uint64_t>(b[3] & 0x0F) << 32 | low;
  for (std::uint8_t &x : info.MD5)
    if (!in.ReadU8(x)) return false;
  Out = info;
  return true;
}

std::uint32_t FlacBitrate(std::int64_t AudioSize, double PlayTime)
{
  if (AudioSize <= 0 || !std::isfinite(PlayTime) || PlayTime <= 0.0) return 0;
  const double kbps = static_cast<double>(AudioSize) / 1000.0 * 8.0 / PlayTime;
  if (!std::isfinite(kbps) || kbps >= static_cast<double>(std::numeric_limits<std::uint32_t>::max())) return 0;
  return static_cast<std::uint32_t>(std::lround(kbps));
}

TBytes EmptyVorbisCommentBody(const std::string &Vendor)
{
  TBytes out;
  const auto len = static_cast<std::uint32_t>(Vendor.size());
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(len >> (8 * i)));
  out.insert(out.end(), Vendor.begin(), Vendor.end());
  out.insert(out.end(), 4, 0);
  return out;
}

bool VorbisCommentVendor(std::span<const std::uint8_t> Body, std::string &Vendor)
{
  ByteReader in(Body);
  std::uint32_t len = 0;
  return in.ReadU32LE(len) && in.ReadString(len, Vendor);
}

void TFlacMetadata::Reset()
{
  *this = TFlacMetadata();
}

void TFlacMetadata::MarkDamaged(const char *Reason)
{
  FDamaged = true;
  FDamageReason = Reason;
  FAudioOffset = -1;
}

bool TFlacMetadata::AcceptBlock(TFlacBlock Block, std::int64_t &Total)
{
  if (FBlocks.size() >= kMaxFlacBlocks) {
    MarkDamaged("more metadata blocks than the walk allows");
    return false;
  }
  Total += 4 + static_cast<std::int64_t>(Block.Size());
  if (Total > kMaxFlacMetadataBytes) {
    MarkDamaged("more metadata than the walk allows");
    return false;
  }
  FBlocks.push_back(std::move(Block));
  return true;
}

int TFlacMetadata::Load(TStream &Stream, TFlacBodies Bodies)
{
  Reset();
  FFileSize = Stream.GetSize();
  if (FFileSize < 0) return flReadFailed;

  // ID3v2 tags in front of the marker are skipped; their bytes stay where they are.
  std::int64_t pos = 0;
  if (!SkipLeadingID3v2Tags(Stream, pos)) return flReadFailed;
  TBytes buf;
  if (!ReadUpTo(Stream, pos, 4 + 4 + kFlacStreamInfoSize, buf)) return flReadFailed;
  ByteReader head(buf);
  if (!head.Expect("fLaC")) return flNotFlac;
  TBlockHeader h;
  std::span<const std::uint8_t> body;
  if (!ReadBlockHeader(head, h) || h.Type != fbtStreamInfo || h.Length != kFlacStreamInfoSize ||
      !head.ReadSpan(kFlacStreamInfoSize, body) || !DecodeFlacStreamInfo(body, FInfo))
    return flBadStreamInfo;
  FID3v2Size = pos;
  FLoaded = true;
  FBlocks.push_back(TFlacBlock{fbtStreamInfo, TBytes(body.begin(), body.end()), pos + 4, false});
  pos += 4 + 4 + static_cast<std::int64_t>(kFlacStreamInfoSize);
  std::int64_t total = 4 + static_cast<std::int64_t>(kFlacStreamInfoSize);

  bool last = h.Last;
  while (!last) {
    if (!Stream.ReadAt(pos, 4, buf)) {
      MarkDamaged("the data ends before the last metadata block");
      return flOk;
    }
    ByteReader hr(buf);
    if (!ReadBlockHeader(hr, h)) return flReadFailed;
    if (h.Type == fbtForbidden) {
      MarkDamaged("a metadata block of the forbidden type 127");
      return flOk;
    }
    if (h.Length > FFileSize - pos - 4) {
      MarkDamaged("a metadata block reaches past the end of the data");
      return flOk;
    }
    TFlacBlock block;
    block.Type = h.Type;
    block.Offset = pos;
    block.Held = ReadsBody(Bodies, h.Type, h.Length);
    block.Length = h.Length;
    if (block.Held && !Stream.ReadAt(pos + 4, h.Length, block.Data)) return flReadFailed;
    if (!AcceptBlock(std::move(block), total)) return flOk;
    FOld.push_back(TOldBlock{pos, pos + 4 + h.Length, h.Type});
    pos += 4 + h.Length;
    last = h.Last;
  }
  FAudioOffset = pos;
  return flOk;
}

int TFlacMetadata::LoadFromPackets(std::span<const std::span<const std::uint8_t>> Packets)
{
  Reset();
  if (Packets.empty()) return flNotFlac;
  ByteReader first(Packets[0]);
  std::uint8_t type = 0, major = 0, minor = 0;
  std::uint16_t count = 0;
  if (!first.ReadU8(type) || type != 0x7F || !first.Expect("FLAC") || !first.ReadU8(major) || !first.ReadU8(minor))
    return flNotFlac;
  if (major != 1) return flUnsupportedOgg;
  TBlockHeader h;
  std::span<const std::uint8_t> body;
  if (!first.ReadU16BE(count) || !first.Expect("fLaC")) return flNotFlac;
  if (!ReadBlockHeader(first, h) || h.Type != fbtStreamInfo || h.Length != kFlacStreamInfoSize ||
      !first.ReadSpan(kFlacStreamInfoSize, body) || !DecodeFlacStreamInfo(body, FInfo))
    return flBadStreamInfo;
  FFromOgg = true;
  FLoaded = true;
  FOggMinorVersion = minor;
  FBlocks.push_back(TFlacBlock{fbtStreamInfo, TBytes(body.begin(), body.end()), 0, false});
  std::int64_t total = 4 + static_cast<std::int64_t>(kFlacStreamInfoSize);

  // The walk ends at the block with the last flag, or after the announced number of packets
  // (0 announces none: the last flag alone ends it).
  bool last = h.Last;
  std::size_t index = 1;
  while (!last && !(count != 0 && index > count)) {
    if (index >= Packets.size()) {
      MarkDamaged("the header packets end before the last metadata block");
      return flOk;
    }
    ByteReader in(Packets[index]);
    if (!ReadBlockHeader(in, h)) {
      MarkDamaged("a header packet too short for a block header");
      return flOk;
    }
    if (h.Type == fbtForbidden) {
      MarkDamaged("a metadata block of the forbidden type 127");
      return flOk;
    }
    if (h.Length != in.Remaining()) {
      MarkDamaged("a metadata block length differs from its packet");
      return flOk;
    }
    TFlacBlock block;
    block.Type = h.Type;
    block.Offset = static_cast<std::int64_t>(index);
    if (!in.ReadBytes(h.Length, block.Data)) return flReadFailed;
    if (!AcceptBlock(std::move(block), total)) return flOk;
    last = h.Last;
    ++index;
  }
  FAudioOffset = -1;
  return flOk;
}

int TFlacMetadata::IndexOf(std::uint8_t Type) const
{
  for (std::size_t i = 0; i < FBlocks.size(); ++i)
    if (FBlocks[i].Type == Type) return static_cast<int>(i);
  return -1;
}

std::size_t TFlacMetadata::CountOf(std::uint8_t Type) const
{
  return static_cast<std::size_t>(
      std::count_if(FBlocks.begin(), FBlocks.end(), [Type](const TFlacBlock &b) { return b.Type == Type; }));
}

bool TFlacMetadata::ReplaceBlock(std::size_t Index, TBytes Data)
{
  if (Index == 0 || Index >= FBlocks.size()) return false;
  FBlocks[Index].Data = std::move(Data);
  FBlocks[Index].Held = true;
  FBlocks[Index].Dirty = true;
  return true;
}

int TFlacMetadata::AddBlock(std::uint8_t Type, TBytes Data)
{
  if (!FLoaded || Type == fbtStreamInfo || Type >= fbtForbidden) return -1;
  std::size_t at = 0;
  bool found = false;
  for (std::size_t i = FBlocks.size(); i-- > 0 && !found;)
    if (FBlocks[i].Type == Type) { at = i + 1; found = true; }
  for (std::size_t i = FBlocks.size(); i-- > 0 && !found;)
    if (FBlocks[i].Type != fbtPadding) { at = i + 1; found = true; }
  TFlacBlock block;
  block.Type = Type;
  block.Data = std::move(Data);
  block.Dirty = true;
  FBlocks.insert(FBlocks.begin() + static_cast<std::ptrdiff_t>(at), std::move(block));
  FStructureChanged = true;
  return static_cast<int>(at);
}

bool TFlacMetadata::DeleteBlock(std::size_t Index)
{
  if (Index == 0 || Index >= FBlocks.size()) return false;
  FBlocks.erase(FBlocks.begin() + static_cast<std::ptrdiff_t>(Index));
  FStructureChanged = true;
  return true;
}

std::size_t TFlacMetadata::DeleteBlocks(std::uint8_t Type)
{
  std::size_t n = 0;
  for (std::size_t i = FBlocks.size(); i-- > 1;)
    if (FBlocks[i].Type == Type && DeleteBlock(i)) ++n;
  return n;
}

void TFlacMetadata::RemoveTags(std::uint32_t PaddingSize)
{
  if (!FLoaded) return;
  DeleteBlocks(fbtPicture);
  const int comment = IndexOf(fbtVorbisComment);
  std::string vendor;
  if (comment < 0 || !VorbisCommentVendor(FBlocks[static_cast<std::size_t>(comment)].Data, vendor) || vendor.empty())
    vendor = DefaultVendor;
  std::size_t kept = 0;
  if (comment < 0) {
    kept = static_cast<std::size_t>(AddBlock(fbtVorbisComment, EmptyVorbisCommentBody(vendor)));
  } else {
    kept = static_cast<std::size_t>(comment);
    ReplaceBlock(kept, EmptyVorbisCommentBody(vendor));
  }
  // A second comment block would keep tags that a reader may still show.
  for (std::size_t i = FBlocks.size(); i-- > kept + 1;)
    if (FBlocks[i].Type == fbtVorbisComment) DeleteBlock(i);
  FForceRebuild = true;
  FForcedPadding = PaddingSize;
}

bool TFlacMetadata::Changed() const
{
  return FStructureChanged || FForceRebuild ||
         std::any_of(FBlocks.begin(), FBlocks.end(), [](const TFlacBlock &b) { return b.Dirty; });
}

int TFlacMetadata::PlanSave(std::int64_t OldSize, TRewritePlan &Plan, std::uint32_t PaddingSize,
                            bool ForceRebuild) const
{
  Plan = TRewritePlan();
  if (!FLoaded || FFromOgg) return fpNotLoaded;
  for (const TFlacBlock &b : FBlocks)
    if (b.Size() > kMaxFlacBlockBody) return fpBlockTooLarge;
  if (FForceRebuild) PaddingSize = FForcedPadding;
  if (PaddingSize > kMaxFlacBlockBody) return fpBlockTooLarge;
  if (FDamaged || FAudioOffset < 0) return fpDamaged;
  if (OldSize != FFileSize) return fpContentChanged;
  if (!ForceRebuild && !FForceRebuild) {
    if (!Changed()) return fpOk;
    if (PlanInPlace(Plan)) return fpOk;
  }
  PlanRebuild(Plan, PaddingSize);
  return fpOk;
}

bool TFlacMetadata::PlanInPlace(TRewritePlan &Plan) const
{
  // Old ranges touched by the change: deleted blocks, replaced blocks, and the places where new
  // blocks go in (before the next old block that stays, or at the end of the metadata).
  std::int64_t a0 = std::numeric_limits<std::int64_t>::max(), a1 = -1;
  auto touch = [&](std::int64_t From, std::int64_t To) { a0 = std::min(a0, From); a1 = std::max(a1, To); };
  std::vector<bool> kept(FOld.size(), false);
  auto oldIndex = [&](std::int64_t Offset) {
    for (std::size_t i = 0; i < FOld.size(); ++i)
      if (FOld[i].Offset == Offset) return static_cast<int>(i);
    return -1;
  };
  std::vector<std::int64_t> insertAt(FBlocks.size(), -1);
  for (std::size_t i = 1; i < FBlocks.size(); ++i) {
    const TFlacBlock &b = FBlocks[i];
    if (b.Offset >= 0) {
      const int k = oldIndex(b.Offset);
      if (k < 0) return false;
      kept[static_cast<std::size_t>(k)] = true;
      if (b.Dirty) touch(FOld[static_cast<std::size_t>(k)].Offset, FOld[static_cast<std::size_t>(k)].End);
      continue;
    }
    std::int64_t p = FAudioOffset;
    for (std::size_t j = i + 1; j < FBlocks.size(); ++j)
      if (FBlocks[j].Offset >= 0) { p = FBlocks[j].Offset; break; }
    insertAt[i] = p;
    touch(p, p);
  }
  for (std::size_t k = 0; k < FOld.size(); ++k)
    if (!kept[k]) touch(FOld[k].Offset, FOld[k].End);
  if (a1 < 0) return false;

  // Take in a PADDING block that stays unchanged: the first after the change, else the last
  // before it.
  std::int64_t r0 = a0, r1 = a1;
  const TOldBlock *pad = nullptr;
  for (std::size_t k = 0; k < FOld.size() && !pad; ++k)
    if (kept[k] && FOld[k].Type == fbtPadding && FOld[k].Offset >= a1) pad = &FOld[k];
  for (std::size_t k = FOld.size(); k-- > 0 && !pad;)
    if (kept[k] && FOld[k].Type == fbtPadding && FOld[k].End <= a0) pad = &FOld[k];
  if (pad) { r0 = std::min(r0, pad->Offset); r1 = std::max(r1, pad->End); }

  // The region's new content: its blocks in list order, its PADDING blocks folded into one
  // written last.
  TBytes region;
  std::vector<std::size_t> inRegion;
  bool hadPadding = false;
  for (std::size_t i = 1; i < FBlocks.size(); ++i) {
    const TFlacBlock &b = FBlocks[i];
    const bool inside = b.Offset >= 0 ? (b.Offset >= r0 && b.Offset < r1) : (insertAt[i] >= r0 && insertAt[i] <= r1);
    if (!inside) continue;
    if (b.Offset >= 0 && b.Type == fbtPadding && !b.Dirty) { hadPadding = true; continue; }
    // A body not held cannot be moved by a patch; a rebuild copies it.
    if (!b.Held) return false;
    inRegion.push_back(i);
  }
  std::int64_t used = 0;
  for (std::size_t i : inRegion) used += 4 + static_cast<std::int64_t>(FBlocks[i].Data.size());
  const std::int64_t room = (r1 - r0) - used;
  const bool reachesEnd = r1 == FAudioOffset;
  if (room < 0) return false;
  if (room > 0 && (!hadPadding || room < 4 || static_cast<std::uint64_t>(room - 4) > kMaxFlacBlockBody)) return false;
  if (room == 0 && inRegion.empty()) return false;
  for (std::size_t n = 0; n < inRegion.size(); ++n) {
    const bool last = reachesEnd && room == 0 && n + 1 == inRegion.size();
    AppendBlock(region, FBlocks[inRegion[n]].Type, last, FBlocks[inRegion[n]].Data);
  }
  if (room > 0) AppendBlock(region, fbtPadding, reachesEnd, TBytes(static_cast<std::size_t>(room - 4), 0));
  Plan.SetInPlace(r0, std::move(region));
  return true;
}

void TFlacMetadata::PlanRebuild(TRewritePlan &Plan, std::uint32_t PaddingSize) const
{
  if (FID3v2Size > 0) Plan.AddCopy(0, FID3v2Size);
  TBytes meta{'f', 'L', 'a', 'C'};
  std::vector<const TFlacBlock *> blocks;
  for (const TFlacBlock &b : FBlocks)
    if (b.Type != fbtPadding) blocks.push_back(&b);
  for (std::size_t n = 0; n < blocks.size(); ++n) {
    const TFlacBlock &b = *blocks[n];
    const bool last = PaddingSize == 0 && n + 1 == blocks.size();
    if (b.Held) {
      AppendBlock(meta, b.Type, last, b.Data);
      continue;
    }
    // A body left in the old content is copied from there.
    AppendBlockHeader(meta, b.Type, last, b.Length);
    Plan.AddLiteral(std::move(meta));
    meta.clear();
    Plan.AddCopy(b.Offset + 4, b.Offset + 4 + b.Length);
  }
  if (PaddingSize > 0) AppendBlock(meta, fbtPadding, true, TBytes(PaddingSize, 0));
  if (!meta.empty()) Plan.AddLiteral(std::move(meta));
  if (FAudioOffset < FFileSize) Plan.AddCopy(FAudioOffset, FFileSize);
}

std::vector<TBytes> TFlacMetadata::HeaderPackets() const
{
  std::vector<TBytes> out;
  if (!FLoaded || FBlocks.empty()) return out;
  std::vector<const TFlacBlock *> rest;
  for (std::size_t i = 1; i < FBlocks.size(); ++i)
    if (FBlocks[i].Type != fbtPadding) rest.push_back(&FBlocks[i]);
  TBytes first{0x7F, 'F', 'L', 'A', 'C', 1, FOggMinorVersion};
  // A count that does not fit is written as 0, which announces an unknown number.
  const std::uint16_t count = rest.size() > 0xFFFF ? 0 : static_cast<std::uint16_t>(rest.size());
  first.push_back(static_cast<std::uint8_t>(count >> 8));
  first.push_back(static_cast<std::uint8_t>(count));
  first.insert(first.end(), {'f', 'L', 'a', 'C'});
  AppendBlock(first, fbtStreamInfo, rest.empty(), FBlocks[0].Data);
  out.push_back(std::move(first));
  for (std::size_t n = 0; n < rest.size(); ++n) {
    TBytes packet;
    AppendBlock(packet, rest[n]->Type, n + 1 == rest.size(), rest[n]->Data);
    out.push_back(std::move(packet));
  }
  return out;
}
