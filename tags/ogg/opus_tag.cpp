#include "tags/ogg/opus_tag.h"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <vector>

#include "tags/id3/skip_id3v2.h"
#include "tags/ogg/ogg_stream.h"
#include "tags/streams/byte_reader.h"
#include "tags/text/text.h"
#include "tags/vorbis/base64.h"

namespace {

constexpr std::string_view kVorbisIdentMagic("\x01vorbis", 7);
constexpr std::string_view kVorbisCommentMagic("\x03vorbis", 7);
constexpr std::string_view kTheoraIdentMagic("\x80theora", 7);
constexpr std::string_view kTheoraCommentMagic("\x81theora", 7);
constexpr std::string_view kOpusHeadMagic = "OpusHead";
constexpr std::string_view kOpusTagsMagic = "OpusTags";
constexpr std::string_view kEncoderName = "ENCODER";
constexpr std::string_view kCoverArtName = "COVERART";
// Opus granule positions count samples at 48 kHz whatever the input rate (RFC 7845 section 4).
constexpr double kOpusGranuleRate = 48000.0;
// The most padding a save adds, whatever the option asks: header packets are bounded in size.
constexpr std::int64_t kMaxCommentPadding = 16 << 20;

// New header packets: each starts a page, except the Vorbis setup header, which goes on on the
// page where the comment packet ends, as encoders lay it out.
constexpr bool kHeaderLayout[3] = {true, true, false};
// Lacing values on a new header page. Vorbis encoders put the comment and the setup header on one
// page of up to 255 lacing values; the same layout lets the new pages of an ordinary file take
// exactly the room of the old ones. Opus comment pages keep to 17 (4335 bytes a page).
int HeaderPageSegments(TOggFormat Format) { return Format == ofVorbis ? kOggMaxSegments : kOggWriteSegments; }

bool HasMagic(std::span<const std::uint8_t> Bytes, std::string_view Magic)
{
  return Bytes.size() >= Magic.size() &&
         std::equal(Magic.begin(), Magic.end(), Bytes.begin(),
                    [](char M, std::uint8_t B) { return static_cast<std::uint8_t>(M) == B; });
}

TOggFormat FormatOfFirstPacket(std::span<const std::uint8_t> Data)
{
  if (HasMagic(Data, kVorbisIdentMagic)) return ofVorbis;
  if (HasMagic(Data, kOpusHeadMagic)) return ofOpus;
  if (HasMagic(Data, kTheoraIdentMagic)) return ofTheora;
  return ofUnknown;
}

std::string_view CommentMagic(TOggFormat Format)
{
  switch (Format) {
  case ofVorbis: return kVorbisCommentMagic;
  case ofOpus: return kOpusTagsMagic;
  case ofTheora: return kTheoraCommentMagic;
  case ofUnknown: break;
  }
  return {};
}

TVorbisCommentLayout CommentLayout(TOggFormat Format) { return Format == ofVorbis ? vclFramed : vclPlain; }

// The identification header fields the properties need.
struct TIdentFields {
  std::uint32_t SampleRate = 0;
  std::uint32_t Channels = 0;
  std::uint16_t PreSkip = 0;
  std::int32_t NominalBitrate = 0;  // Vorbis, bit/s; 0 or less: not given
};

// False when the packet is shorter than its codec's identification header.
bool ReadIdentFields(TOggFormat Format, std::span<const std::uint8_t> Packet, TIdentFields &Out)
{
  Out = TIdentFields{};
  ByteReader in(Packet);
  std::uint8_t channels = 0;
  switch (Format) {
  case ofVorbis: {
    // 0x01 "vorbis", version (4), channels (1), rate (4), maximum, nominal, minimum bit rates (4 each).
    std::uint32_t maximum = 0, nominal = 0;
    if (Packet.size() < kVorbisIdentSize || !in.Seek(11) || !in.ReadU8(channels) || !in.ReadU32LE(Out.SampleRate) ||
        !in.ReadU32LE(maximum) || !in.ReadU32LE(nominal))
      return false;
    Out.NominalBitrate = static_cast<std::int32_t>(nominal);
    break;
  }
  case ofOpus:
    // "OpusHead", version (1), channels (1), pre-skip (2), input sample rate (4), gain, mapping family.
    if (Packet.size() < kOpusHeadSize || !in.Seek(9) || !in.ReadU8(channels) || !in.ReadU16LE(Out.PreSkip) ||
        !in.ReadU32LE(Out.SampleRate))
      return false;
    break;
  case ofTheora:
    return Packet.size() >= kTheoraIdentSize;
  case ofUnknown:
    return false;
  }
  Out.Channels = channels;
  return true;
}

// The header of the first logical stream of a content, as found there now.
struct TContentLayout {
  std::int64_t ID3v2Size = 0;
  TOggFormat Format = ofUnknown;
  TOggHeaders Headers;
  bool Complete = false;  // every header packet of the codec was read (else only the first two)
};

// otOk when the identification and comment packets were read; otFileNotFound for empty content,
// otUnknown when no known codec starts there, otDamaged when its header packets cannot be read.
int ReadContentLayout(TStream &Content, TContentLayout &Out)
{
  Out = TContentLayout{};
  if (Content.GetSize() <= 0) return otFileNotFound;
  SkipLeadingID3v2Tags(Content, Out.ID3v2Size);
  TOggPage first;
  if (ReadOggPageAt(Content, Out.ID3v2Size, first) != opcOk || first.Continued()) return otUnknown;
  Out.Format = FormatOfFirstPacket(first.Data());
  if (Out.Format == ofUnknown) return otUnknown;
  const int count = Out.Format == ofVorbis ? 3 : 2;
  int rc = ReadOggHeaders(Content, Out.ID3v2Size, count, Out.Headers);
  Out.Complete = rc == osOk;
  // A cut or oversized setup header still leaves the comments readable.
  if (rc != osOk && count > 2) rc = ReadOggHeaders(Content, Out.ID3v2Size, 2, Out.Headers);
  return rc == osOk ? otOk : otDamaged;
}

// The comment packet for Comments: Magic, the body without the bytes that followed the entries
// when Comments was read, then Tail in their place. False when the body cannot be built.
bool BuildCommentPacket(const TVorbisComments &Comments, std::string_view Magic, std::span<const std::uint8_t> Tail,
                        TBytes &Out)
{
  TBytes body;
  if (Comments.Build(body) != vcbOk) return false;
  body.resize(body.size() - Comments.Trailing().size());
  Out.assign(Magic.begin(), Magic.end());
  Out.insert(Out.end(), body.begin(), body.end());
  Out.insert(Out.end(), Tail.begin(), Tail.end());
  return true;
}

// The pages that replace the old comment header pages, as a function of the comment packet's
// size: the other header packets on them keep their sizes.
struct TCommentPages {
  TCommentPages(const TOggHeaders &Headers, int MaxSegments)
    : NewPageBefore(std::span<const bool>(kHeaderLayout).first(Headers.Packets.size())), Segments(MaxSegments)
  {
    const TOggRewriteRegion region = OggRewriteRegion(Headers, 1);
    First = static_cast<std::size_t>(region.FirstPacket);
    Target = region.Bytes;
    for (std::size_t i = First; i < Headers.Packets.size(); ++i)
      Sizes.push_back(static_cast<std::int64_t>(Headers.Packets[i].Data.size()));
  }
  std::int64_t operator()(std::int64_t CommentSize) const
  {
    std::vector<std::int64_t> sizes = Sizes;
    sizes[1 - First] = CommentSize;
    return OggPagesSize(sizes, NewPageBefore.subspan(First), Segments);
  }

  std::span<const bool> NewPageBefore;
  int Segments = kOggWriteSegments;
  std::size_t First = 0;         // the first packet on the pages replaced
  std::int64_t Target = 0;       // the bytes of the old pages
  std::vector<std::int64_t> Sizes;
};

// The Opus comment packet. With Padding, a "PADDING" comment (in the place of an existing one)
// takes the room left on the old pages when some length of it fits them exactly; otherwise,
// when the packet without it does not fit exactly, it is Padding bytes long, room for the next
// save. Without Padding no padding comment is written.
bool OpusCommentPacket(const TVorbisComments &Working, const TVorbisComments &Bare, std::span<const std::uint8_t> Tail,
                       std::int64_t Padding, const TCommentPages &Pages, TBytes &Out)
{
  if (!BuildCommentPacket(Bare, kOpusTagsMagic, Tail, Out)) return false;
  const auto bareSize = static_cast<std::int64_t>(Out.size());
  if (Padding <= 0 || Pages(bareSize) == Pages.Target) return true;
  const std::int64_t most = std::max<std::int64_t>(Padding, kOpusPaddingOverhead + 1) - kOpusPaddingOverhead;
  std::int64_t chars = OggExactFit(bareSize + kOpusPaddingOverhead, most, Pages.Target, Pages);
  if (chars < 0) chars = most;
  TVorbisComments padded = Working;
  padded.SetValues(kOpusPaddingName, {std::string(static_cast<std::size_t>(chars), '#')});
  return BuildCommentPacket(padded, kOpusTagsMagic, Tail, Out);
}

// The Vorbis comment packet. Zero bytes after the framing byte are the old padding and are
// replaced; any other bytes there are kept. With Padding, as many zero bytes (up to Padding) as
// make the pages fit the old ones exactly, else Padding zero bytes.
bool VorbisCommentPacket(const TVorbisComments &Bare, std::span<const std::uint8_t> Tail, std::int64_t Padding,
                         const TCommentPages &Pages, TBytes &Out)
{
  const bool zeros = std::all_of(Tail.begin(), Tail.end(), [](std::uint8_t b) { return b == 0; });
  if (!BuildCommentPacket(Bare, kVorbisCommentMagic, zeros ? std::span<const std::uint8_t>() : Tail, Out)) return false;
  std::int64_t added = 0;
  if (Padding > 0) {
    added = OggExactFit(static_cast<std::int64_t>(Out.size()), Padding, Pages.Target, Pages);
    if (added < 0) added = Padding;
  }
  Out.resize(Out.size() + static_cast<std::size_t>(added), 0);
  return true;
}

bool IsPictureEntry(const TVorbisCommentEntry &Entry) { return Entry.HasSeparator && IsPictureCommentName(Entry.Name); }

std::vector<std::size_t> PictureEntryIndexes(const TVorbisComments &Comments)
{
  std::vector<std::size_t> out;
  for (std::size_t i = 0; i < Comments.Count(); ++i)
    if (IsPictureEntry(Comments.Entries()[i])) out.push_back(i);
  return out;
}

bool ReadPictureEntry(const TVorbisCommentEntry &Entry, TPictureBlock &Out)
{
  if (!SameText(Entry.Name, kCoverArtName)) return DecodeMetadataBlockPicture(Entry.Value, Out) == pbrOk;
  // The older kind holds the image file alone.
  TPictureBlock picture;
  picture.PictureType = 0;
  if (!Base64Decode(Entry.Value, picture.Data)) return false;
  Out = std::move(picture);
  return true;
}

} // namespace

void TOpusTag::Clear()
{
  Loaded = false;
  Format = ofUnknown;
  Comments = TVorbisComments{};
  Comments.UpperCaseNewNames = UpperCaseFieldNamesToWrite;
  FDamaged = false;
  FUnwritable = false;
  FID3v2Size = 0;
  FCommentPagesSize = 0;
  FPlayTime = 0;
  FBitrate = 0;
  FSampleRate = 0;
  FChannels = 0;
  FSampleCount = 0;
}

bool TOpusTag::Assign(const TOpusTag &Source)
{
  if (this != &Source) *this = Source;
  return true;
}

bool TOpusTag::Damaged() const { return FDamaged || Comments.Damaged(); }

bool TOpusTag::Writable() const
{
  return Loaded && !Damaged() && !FUnwritable && (Format == ofVorbis || Format == ofOpus);
}

int TOpusTag::Load(TStream &Content)
{
  Clear();
  TPositionKeeper keeper(Content);
  TContentLayout layout;
  const int rc = ReadContentLayout(Content, layout);
  FID3v2Size = layout.ID3v2Size;
  if (rc == otFileNotFound || rc == otUnknown) return rc;
  Format = layout.Format;
  FDamaged = true;
  if (rc != otOk) return otDamaged;
  const TOggHeaders &h = layout.Headers;
  TIdentFields ident;
  if (!ReadIdentFields(Format, h.Packets[0].Data, ident)) return otDamaged;
  const TBytes &packet = h.Packets[1].Data;
  const std::string_view magic = CommentMagic(Format);
  if (!HasMagic(packet, magic)) return otDamaged;
  FDamaged = false;
  Comments.Parse(std::span<const std::uint8_t>(packet).subspan(magic.size()), CommentLayout(Format));
  FCommentPagesSize = OggRewriteRegion(h, 1).Bytes;
  FUnwritable = !layout.Complete || h.Interleaved || h.Damaged || h.SharedLastPage || Format == ofTheora;
  if (Format != ofTheora) ReadAudioProperties(Content, h.End, h.Serial, ident.SampleRate, ident.Channels, ident.PreSkip,
                                              ident.NominalBitrate);
  if (Comments.Damaged()) return otDamaged;
  Loaded = true;
  return otOk;
}

void TOpusTag::ReadAudioProperties(TStream &Content, std::int64_t HeaderEnd, std::uint32_t Serial,
                                   std::uint32_t Rate, std::uint32_t ChannelCount, std::uint16_t PreSkip,
                                   std::int32_t NominalBitrate)
{
  FSampleRate = Rate;
  FChannels = ChannelCount;
  TOggPage last;
  std::int64_t granule = 0;
  if (FindLastGranulePage(Content, HeaderEnd, Serial, last) && last.Granule > 0) granule = last.Granule;
  if (Format == ofOpus) {
    granule = std::max<std::int64_t>(granule - PreSkip, 0);
    FPlayTime = static_cast<double>(granule) / kOpusGranuleRate;
  } else if (Rate > 0) {
    FPlayTime = static_cast<double>(granule) / Rate;
  }
  FSampleCount = static_cast<std::uint64_t>(granule);
  if (Format == ofVorbis && NominalBitrate > 0) {
    FBitrate = static_cast<std::uint32_t>(NominalBitrate / 1000);
    return;
  }
  const std::int64_t audio = Content.GetSize() - HeaderEnd;
  if (!(FPlayTime > 0) || !std::isfinite(FPlayTime) || audio <= 0) return;
  const double kbps = static_cast<double>(audio) / FPlayTime / 125.0;
  // Halves go to the even neighbour (the default rounding mode).
  if (std::isfinite(kbps) && kbps < 4294967295.0) FBitrate = static_cast<std::uint32_t>(std::nearbyint(kbps));
}

int TOpusTag::PictureCount() const { return static_cast<int>(PictureEntryIndexes(Comments).size()); }

bool TOpusTag::GetPicture(int Index, TPictureBlock &Out, std::string &Key, TEncodedPicture *Encoded) const
{
  if (Encoded) *Encoded = TEncodedPicture();
  const std::vector<std::size_t> pictures = PictureEntryIndexes(Comments);
  if (Index < 0 || static_cast<std::size_t>(Index) >= pictures.size()) return false;
  const TVorbisCommentEntry &entry = Comments.Entries()[pictures[static_cast<std::size_t>(Index)]];
  const bool leaveEncoded = Encoded && entry.Value.size() > kEncodedPictureText &&
                            SameText(entry.Name, kMetadataBlockPictureName) &&
                            PeekMetadataBlockPicture(entry.Value, kEncodedPictureDataHead, Out, *Encoded);
  if (!leaveEncoded && !ReadPictureEntry(entry, Out)) return false;
  Key = entry.Name;
  return true;
}

int TOpusTag::SetPictures(std::span<const TPictureBlock> Pictures)
{
  std::vector<std::string> values(Pictures.size());
  for (std::size_t k = 0; k < Pictures.size(); ++k)
    if (EncodeMetadataBlockPicture(Pictures[k], values[k]) != pbrOk) return otWriteFailed;
  const std::vector<std::size_t> existing = PictureEntryIndexes(Comments);
  for (std::size_t k = 0; k < Pictures.size(); ++k) {
    if (k >= existing.size()) {
      Comments.Add(kMetadataBlockPictureName, values[k]);
      continue;
    }
    const TVorbisCommentEntry &entry = Comments.Entries()[existing[k]];
    TPictureBlock held;
    if (ReadPictureEntry(entry, held) && held == Pictures[k]) continue;
    if (SameText(entry.Name, kMetadataBlockPictureName)) Comments.SetValueAt(existing[k], values[k]);
    else Comments.ReplaceAt(existing[k], kMetadataBlockPictureName, values[k]);
  }
  for (std::size_t k = existing.size(); k-- > Pictures.size();) Comments.DeleteAt(existing[k]);
  return otOk;
}

int TOpusTag::PlanSave(TStream &Content, TRewritePlan &Plan)
{
  Plan = TRewritePlan{};
  if (Damaged()) return otDamaged;
  TPositionKeeper keeper(Content);
  TContentLayout layout;
  const int rc = ReadContentLayout(Content, layout);
  if (rc == otFileNotFound || rc == otUnknown) return otNoStream;
  if (rc != otOk) return otCannotRewrite;
  const TOggHeaders &h = layout.Headers;

  const TBytes &oldPacket = h.Packets[1].Data;
  const std::string_view magic = CommentMagic(layout.Format);
  TIdentFields ident;
  TVorbisComments old;
  if (!ReadIdentFields(layout.Format, h.Packets[0].Data, ident) || !HasMagic(oldPacket, magic) ||
      old.Parse(std::span<const std::uint8_t>(oldPacket).subspan(magic.size()), CommentLayout(layout.Format)) != vcdNone)
    return otDamaged;

  TVorbisComments working = Comments;
  working.UpperCaseNewNames = UpperCaseFieldNamesToWrite;
  working.SetLayout(CommentLayout(layout.Format));
  // The vendor is the encoder's of the stream written to.
  if (!old.Vendor().empty()) working.SetVendor(old.Vendor());
  TBytes packet;
  if (!BuildCommentPacket(working, magic, old.Trailing(), packet)) return otWriteFailed;
  // Nothing to write is a success whatever the layout; a change is written only into a layout
  // that can be rewritten faithfully.
  if (packet == oldPacket) return otOk;
  if (!layout.Complete || layout.Format == ofTheora || h.Interleaved || h.Damaged || h.SharedLastPage)
    return otCannotRewrite;

  const TCommentPages pages(h, HeaderPageSegments(layout.Format));
  // Padding of 0 bytes, or none asked for, is no padding.
  const std::int64_t padding =
    WritePadding ? std::min<std::int64_t>(PaddingSizeToWrite, kMaxCommentPadding) : 0;
  TVorbisComments bare = working;
  bare.Delete(kOpusPaddingName);
  const bool built = layout.Format == ofOpus ? OpusCommentPacket(working, bare, old.Trailing(), padding, pages, packet)
                                             : VorbisCommentPacket(bare, old.Trailing(), padding, pages, packet);
  if (!built) return otWriteFailed;

  std::vector<TBytes> packets;
  for (const TOggPacket &p : h.Packets) packets.push_back(p.Data);
  packets[1] = std::move(packet);
  if (PlanOggHeaderRewrite(Content, h, packets, pages.NewPageBefore, Plan, pages.Segments) != osOk) {
    Plan = TRewritePlan{};
    return otCannotRewrite;
  }
  return otOk;
}

int TOpusTag::PlanRemove(TStream &Content, TRewritePlan &Plan)
{
  Plan = TRewritePlan{};
  TOpusTag tag;
  if (const int rc = tag.Load(Content); rc != otOk) return rc;
  for (std::size_t i = tag.Comments.Count(); i-- > 0;) {
    const TVorbisCommentEntry &entry = tag.Comments.Entries()[i];
    if (!entry.HasSeparator || entry.Name != kEncoderName) tag.Comments.DeleteAt(i);
  }
  tag.WritePadding = false;
  tag.PaddingSizeToWrite = 0;
  return tag.PlanSave(Content, Plan);
}
