#include "tags/id3/id3v2_tag.h"

#include <algorithm>
#include <cstring>

#include "tags/id3/id3v2_container.h"
#include "tags/id3/id3v2_unsync.h"
#include "tags/id3/skip_id3v2.h"
#include "tags/streams/buffered_stream.h"
#include "tags/streams/byte_reader.h"
#include "tags/streams/file_io.h"
#include "tags/text/text.h"

namespace {

bool LooksLikeFrameID(std::span<const std::uint8_t> Bytes)
{
  if (Bytes.size() < 4) return false;
  return std::all_of(Bytes.begin(), Bytes.begin() + 4,
                     [](std::uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); });
}

// Re-reads chapter frames whose data has just become plain.
void ReparseChapterFrames(TID3v2Frames &List)
{
  for (auto &f : List.Frames)
    if (auto *c = dynamic_cast<TID3v2FrameWithSubFrames *>(f.get()); c && !c->Parsed()) c->Parse(0);
}

} // namespace

TID3v2Tag::TID3v2Tag() : TID3v2Frames(this) { Clear(); }

TID3v2Tag::~TID3v2Tag() = default;

void TID3v2Tag::Clear()
{
  DeleteAllFrames();
  FFrameSizeError = false;
  std::memset(CodedSize, 0, sizeof CodedSize);
  FPosition = 0;
  FSourceFileType = sftUnknown;
  FFileSize = 0;
  FWasUnsynchronised = false;
  SourceFileName.clear();
  Loaded = false;
  Flags = 0;
  Unsynchronised = Compressed = ExtendedHeader = Experimental = FooterPresent = false;
  ExtendedHeader3.Size = 0;
  std::memset(ExtendedHeader3.CodedSize, 0, sizeof ExtendedHeader3.CodedSize);
  ExtendedHeader3.Data.Clear();
  ExtendedHeader3.Flags = 0;
  ExtendedHeader3.CRCPresent = false;
  ExtendedHeader4 = TID3v2ExtendedHeader4{};
  PaddingSize = 0;
  PaddingToWrite = 4096;
  AudioInfo = TID3v2AudioInfo{};
  MajorVersion = 3;
  MinorVersion = 0;
  FError = false;
  Size = 0;
}

void TID3v2Tag::Assign(const TID3v2Tag &Source)
{
  if (&Source == this) return;
  Clear();
  SourceFileName = Source.SourceFileName;
  Loaded = Source.Loaded;
  MajorVersion = Source.MajorVersion;
  MinorVersion = Source.MinorVersion;
  Flags = Source.Flags;
  Unsynchronised = Source.Unsynchronised;
  ExtendedHeader = Source.ExtendedHeader;
  Experimental = Source.Experimental;
  FooterPresent = Source.FooterPresent;
  Size = Source.Size;
  PaddingSize = Source.PaddingSize;
  PaddingToWrite = Source.PaddingToWrite;
  FSourceFileType = Source.FSourceFileType;
  AssignFrames(Source);
  AudioInfo = Source.AudioInfo;
}

int TID3v2Tag::LoadFromFile(const std::string &FileName, bool Buffered)
{
  (void)Buffered;
  Clear();
  auto view = TReadView::OpenFile(FileName);
  if (!view) return id3v2FileNotFound;
  const int rc = LoadFromView(*view);
  if (rc < 4) SourceFileName = FileName;
  return rc;
}

int TID3v2Tag::LoadFromStream(TStream &Stream, bool Buffered)
{
  (void)Buffered;
  TReadView view(Stream);
  view.SetPosition(std::max<std::int64_t>(Stream.Position(), 0));
  return LoadFromView(view);
}

int TID3v2Tag::LoadFromMemory(const void *MemoryAddress, std::int64_t MemorySize)
{
  Clear();
  if (!MemoryAddress || MemorySize < 3 || std::memcmp(MemoryAddress, "ID3", 3) != 0) return id3v2NoTag;
  TReadMemoryStream ms(MemoryAddress, MemorySize);
  return LoadFromStream(ms, false);
}

int TID3v2Tag::LoadFromView(TReadView &Stream)
{
  Clear();
  const std::int64_t start = std::max<std::int64_t>(Stream.Position(), 0);
  FFileSize = Stream.GetSize();
  int rc = id3v2NoTag;
  std::int64_t tagStart = start, tagSize = 0;
  TBytes magic;
  const bool haveMagic = Stream.ReadAt(start, 3, magic);
  if (haveMagic && std::memcmp(magic.data(), "ID3", 3) == 0) {
    Stream.SetPosition(start);
    rc = LoadTagWithin(Stream, Stream.GetSize());
    if (rc == id3v2Ok) tagSize = Size;
  } else {
    TID3v2ContainerLayout layout;
    if (ReadID3v2ContainerLayout(Stream, start, false, layout) == ccOk) {
      FSourceFileType = layout.Kind;
      TBytes id;
      if (layout.ChunkFound && Stream.ReadAt(layout.ChunkDataOffset, 3, id) && std::memcmp(id.data(), "ID3", 3) == 0 &&
          Stream.SetPosition(layout.ChunkDataOffset))
        rc = LoadTagWithin(Stream, layout.ChunkDataOffset + layout.ChunkDataSize);
    } else if (BeginningSearchLength > 0 && FFileSize > start) {
      const std::int64_t window = std::min<std::int64_t>(BeginningSearchLength, FFileSize - start);
      TBytes head;
      if (Stream.ReadAt(start, window, head)) {
        static const std::uint8_t kMagic[3] = {'I', 'D', '3'};
        const auto hit = std::search(head.begin(), head.end(), kMagic, kMagic + 3);
        if (hit != head.end() && Stream.SetPosition(start + (hit - head.begin()))) {
          tagStart = start + (hit - head.begin());
          rc = LoadTagWithin(Stream, Stream.GetSize());
          if (rc == id3v2Ok) tagSize = Size;
        }
      }
    }
  }

  FWasUnsynchronised = Unsynchronised;
  if (AutoRemoveUnsynchronisation) RemoveUnsynchronisationOnAllFrames();
  // Versions 2.2 and 2.3 had their whole body decoded while reading.
  if (MajorVersion < 4) Unsynchronised = false;

  if (FSourceFileType != sftUnknown) {
    ReadAudioProperties(Stream, FSourceFileType, start, 0);
  } else {
    ReadAudioProperties(Stream, sftUnknown, tagStart, tagSize);
    if (AudioInfo.SourceFileType == sftMPEG) FSourceFileType = sftMPEG;
  }
  return rc;
}

void TID3v2Tag::ReadAudioProperties(TStream &Stream, TSourceFileType Kind, std::int64_t TagStart,
                                    std::int64_t TagSize)
{
  TID3v2AudioOptions options;
  options.ParseAudioAttributes = ParseAudioAttributes;
  options.BeginningSearchLength = BeginningSearchLength;
  options.MPEGSearchLength = MPEGSearchLength;
  options.UseTLENForPlaytime = UseTLENForPlaytime;
  std::int64_t tlen = 0;
  if (UseTLENForPlaytime && TryParseInt64(GetText("TLEN"), tlen) && tlen > 0) options.TLENMilliseconds = tlen;
  ReadID3v2AudioInfo(Stream, Kind, TagStart, TagSize, options, AudioInfo);
}

int TID3v2Tag::LoadTagFromStream(TStream &Stream)
{
  TReadView view(Stream);
  view.SetPosition(std::max<std::int64_t>(Stream.Position(), 0));
  return LoadTagWithin(view, view.GetSize());
}

int TID3v2Tag::LoadTagWithin(TReadView &Stream, std::int64_t End)
{
  const std::int64_t pos = Stream.Position();
  const std::int64_t end = std::min(Stream.GetSize(), End);
  if (pos < 0 || end < 0) return id3v2Failure;
  ByteReader header;
  if (!Stream.Range(pos, 3, header) || !header.StartsWith("ID3")) return id3v2NoTag;
  TID3v2HeaderFields h;
  if (end - pos < static_cast<std::int64_t>(kID3v2HeaderSize) || !Stream.Range(pos, kID3v2HeaderSize, header) ||
      !ParseID3v2Header(header.Data(), header.Size(), h))
    return id3v2Failure;
  if (h.MajorVersion < 2 || h.MajorVersion > 4) return id3v2BadVersion;

  DeleteAllFrames();
  FFrameSizeError = false;
  FPosition = pos;
  MajorVersion = h.MajorVersion;
  MinorVersion = h.Revision;
  Flags = h.Flags;
  Unsynchronised = (Flags & 0x80) != 0;
  Compressed = MajorVersion == 2 && (Flags & 0x40) != 0;
  ExtendedHeader = MajorVersion >= 3 && (Flags & 0x40) != 0;
  Experimental = MajorVersion >= 3 && (Flags & 0x20) != 0;
  FooterPresent = h.FooterPresent;
  std::memcpy(CodedSize, header.Data() + 6, 4);
  Size = static_cast<std::uint32_t>(h.TotalSize);

  // The body is read once, never beyond the stream or the chunk whatever the header claims.
  const std::int64_t available = std::max<std::int64_t>(end - pos - static_cast<std::int64_t>(kID3v2HeaderSize), 0);
  const std::int64_t bodySize = std::min(h.BodySize, available);
  const std::int64_t bodyStart = pos + static_cast<std::int64_t>(kID3v2HeaderSize);
  if (h.BodySize > available) FError = true;
  // Versions 2.2 and 2.3 unsynchronise the whole body (frame sizes count the decoded bytes),
  // and an extended header is read from the body as a whole: such a body is decoded in one
  // piece, and so is one the view holds already. Otherwise the frames are walked in the file,
  // so that large pictures can stay there.
  const bool wholeBody = (MajorVersion < 4 && Unsynchronised) || ExtendedHeader || MajorVersion == 2 ||
                         !Stream.Identity() || Stream.Holds(bodyStart, bodySize);
  std::span<const std::uint8_t> rest;
  TBytes decoded;
  ByteReader in;
  if (wholeBody) {
    if (bodySize > 0 && !Stream.Range(bodyStart, bodySize, in)) return id3v2Failure;
    if (MajorVersion < 4 && Unsynchronised) {
      decoded = RemoveID3v2Unsynchronisation(in.Rest());
      in = ByteReader(decoded);
    }
    if (ExtendedHeader && !ReadExtendedHeader(in)) FError = true;
    while (!in.AtEnd())
      if (!LoadFrame(in, 0)) break;
    rest = in.Rest();
  } else if (!LoadFramesInFile(Stream, bodyStart, bodyStart + bodySize, rest)) {
    return id3v2Failure;
  }
  if (FFrameSizeError) FError = true;
  PaddingSize = std::all_of(rest.begin(), rest.end(), [](std::uint8_t b) { return b == 0; })
                  ? static_cast<std::uint32_t>(rest.size())
                  : 0;
  Loaded = true;
  return id3v2Ok;
}

bool TID3v2Tag::LoadFramesInFile(TReadView &View, std::int64_t Pos, std::int64_t End,
                                 std::span<const std::uint8_t> &Rest)
{
  constexpr std::int64_t kHeaderBytes = 10;
  while (Pos < End) {
    ByteReader frame;
    std::uint32_t size = 0;
    std::uint16_t flags = 0;
    TID3v2FrameID id{};
    if (!View.Range(Pos, std::min(kHeaderBytes, End - Pos), frame)) return false;
    std::span<const std::uint8_t> idBytes;
    const bool header = frame.ReadSpan(4, idBytes) && ReadFrameSizeAndFlags(frame, MajorVersion, size, flags);
    if (header) std::memcpy(id.data(), idBytes.data(), 4);
    const std::int64_t total = kHeaderBytes + size;

    // A large picture whose bytes are plain stays in the file: its fields and first bytes are
    // read, the rest only when asked for.
    TID3v2Frame probe(nullptr, id);
    if (MajorVersion == 3) probe.DecodeFlags3(flags);
    else probe.DecodeFlags4(flags);
    const bool plain = !probe.Compressed && !probe.Encrypted && !probe.Unsynchronised && !probe.GroupingIdentity &&
                       !probe.DataLengthIndicator && !Unsynchronised;
    if (header && ValidID3v2FrameID(id, MajorVersion) && probe.IsID("APIC") && plain && size > kDeferredPictureBytes &&
        total <= End - Pos && !View.Holds(Pos, total)) {
      if (!View.Range(Pos, kHeaderBytes + kPictureHeadBytes, frame)) return false;
      const TFileRange data{View.Identity(), Pos + kHeaderBytes, size};
      if (!LoadFrame(frame, 0, &data)) break;
      Pos += total;
      continue;
    }

    // Anything else is read whole; a frame that claims more than the body holds is read as
    // far as the body goes, so that the frame reader sees (and reports) the same overrun.
    if (!View.Range(Pos, header ? std::min(total, End - Pos) : End - Pos, frame)) return false;
    const bool loaded = LoadFrame(frame, 0);
    Pos += static_cast<std::int64_t>(frame.Position());
    if (!loaded) break;
  }
  ByteReader tail;
  if (Pos < End && !View.Range(Pos, End - Pos, tail)) return false;
  Rest = tail.Rest();
  return true;
}

namespace {

bool ReadExtendedHeader3(ByteReader &Body, TID3v2ExtendedHeader3 &H)
{
  std::uint32_t size = 0;
  std::uint16_t flags = 0;
  if (!Body.ReadU32BE(size) || size < 6 || size > Body.Remaining() || !Body.ReadU16BE(flags)) {
    Body.Skip(Body.Remaining());
    return false;
  }
  H.Size = size;
  for (int i = 0; i < 4; ++i) H.CodedSize[i] = static_cast<std::uint8_t>(size >> (24 - 8 * i));
  H.Flags = flags;
  H.CRCPresent = (flags & 0x8000) != 0;
  TBytes data;
  Body.ReadBytes(size - 2, data);
  H.Data.Data() = std::move(data);
  return true;
}

// The data of each flag set in H.Flags, a length byte and that many bytes each, in flag order.
bool ReadExtendedFlagData4(ByteReader &Fields, TID3v2ExtendedHeader4 &H)
{
  for (const std::uint8_t bit : {std::uint8_t(0x40), std::uint8_t(0x20), std::uint8_t(0x10)}) {
    if (!(H.Flags & bit)) continue;
    std::uint8_t len = 0;
    std::span<const std::uint8_t> data;
    if (!Fields.ReadU8(len) || !Fields.ReadSpan(len, data)) return false;
    if (bit != 0x40) H.ExtendedFlagsData.insert(H.ExtendedFlagsData.end(), data.begin(), data.end());
    if (bit == 0x10 && len >= 1) {
      const std::uint8_t r = data[0];
      H.TagRestrictionsData = r;
      H.ImageSizeRestriction = r & 0x03;
      H.ImageEncodingRestriction = (r >> 2) & 0x01;
      H.TextFieldsSizeRestriction = (r >> 3) & 0x03;
      H.TextEncodingRestrictions = (r >> 5) & 0x01;
    }
  }
  return true;
}

bool ReadExtendedHeader4(ByteReader &Body, TID3v2ExtendedHeader4 &H)
{
  const std::size_t start = Body.Position();
  std::uint32_t coded = 0;
  std::uint8_t flagBytes = 0, flags = 0;
  if (!Body.ReadU32BE(coded) || !IsSynchsafe32(coded)) {
    Body.Skip(Body.Remaining());
    return false;
  }
  const std::uint32_t size = DecodeSynchsafe32(coded);
  if (size < 6 || size - 4 > Body.Remaining() || !Body.ReadU8(flagBytes) || !Body.ReadU8(flags)) {
    Body.Skip(Body.Remaining());
    return false;
  }
  H.Size = size;
  for (int i = 0; i < 4; ++i) H.CodedSize[i] = static_cast<std::uint8_t>(coded >> (24 - 8 * i));
  H.FlagBytes = flagBytes;
  H.Flags = flags;
  H.TagIsAnUpdate = (flags & 0x40) != 0;
  H.CRCPresent = (flags & 0x20) != 0;
  H.TagRestrictions = (flags & 0x10) != 0;
  ByteReader fields;
  Body.Seek(start + 6);
  const bool ok = Body.Take(size - 6, fields) && ReadExtendedFlagData4(fields, H);
  H.ExtendedFlagsDataSize = static_cast<std::uint32_t>(H.ExtendedFlagsData.size());
  return ok;
}

} // namespace

bool TID3v2Tag::ReadExtendedHeader(ByteReader &Body)
{
  // A flag set over frames that start at once is a writer's mistake: the frames win.
  if (LooksLikeFrameID(Body.Rest())) {
    ExtendedHeader = false;
    return true;
  }
  return MajorVersion == 3 ? ReadExtendedHeader3(Body, ExtendedHeader3) : ReadExtendedHeader4(Body, ExtendedHeader4);
}

bool TID3v2Tag::RemoveUnsynchronisationOnAllFrames()
{
  bool any = false;
  if (MajorVersion >= 4) {
    for (auto &f : Frames)
      if (f->Unsynchronised) any = f->RemoveUnsynchronisation() || any;
    ReparseChapterFrames(*this);
  }
  Unsynchronised = false;
  return any;
}

bool TID3v2Tag::DeCompressAllFrames()
{
  bool all = true;
  for (auto &f : Frames)
    if (f->Compressed && !f->Encrypted) all = f->DeCompress() && all;
  ReparseChapterFrames(*this);
  return all;
}

std::int64_t ID3v2TagSizeAt(TStream &Stream)
{
  const std::int64_t pos = Stream.Position();
  TBytes header;
  TID3v2HeaderFields h;
  const bool ok = pos >= 0 && Stream.ReadAt(pos, kID3v2HeaderSize, header) &&
                  ParseID3v2Header(header.data(), header.size(), h);
  Stream.SetPosition(pos);
  return ok ? h.TotalSize : 0;
}
