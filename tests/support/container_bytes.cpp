#include "tests/support/container_bytes.h"

#include <algorithm>
#include <cstdio>

namespace {

template <typename TSize> Bytes SizedChunk(std::string_view Id, const Bytes &Body, Bytes &(Bytes::*PutSize)(TSize))
{
  Bytes b;
  b.Str(Id);
  (b.*PutSize)(static_cast<TSize>(Body.size()));
  b.Append(Body);
  if (Body.size() % 2 != 0) b.U8(0);
  return b;
}

} // namespace

Bytes Synchsafe(std::uint32_t Value)
{
  return Bytes().U8(static_cast<std::uint8_t>((Value >> 21) & 0x7F)).U8(static_cast<std::uint8_t>((Value >> 14) & 0x7F))
    .U8(static_cast<std::uint8_t>((Value >> 7) & 0x7F)).U8(static_cast<std::uint8_t>(Value & 0x7F));
}

Bytes ID3v2Tag(std::uint8_t Major, std::uint8_t Flags, const Bytes &Body)
{
  return Bytes().Str("ID3").U8(Major).U8(0).U8(Flags).Append(Synchsafe(static_cast<std::uint32_t>(Body.size()))).Append(Body);
}

Bytes ID3v2PaddingTag(std::uint32_t TotalSize) { return ID3v2Tag(4, 0, Bytes().Zeros(TotalSize - 10)); }

Bytes ID3v24TextFrame(std::string_view ID, std::string_view Text)
{
  return Bytes().Str(ID).Append(Synchsafe(static_cast<std::uint32_t>(Text.size() + 1))).U16BE(0).U8(3).Str(Text);
}

Bytes8 ID3v24FrameBytes(const Bytes8 &File, std::string_view ID)
{
  const auto synchsafe = [&](std::size_t At) {
    return (std::size_t{File[At]} << 21) | (std::size_t{File[At + 1]} << 14) | (std::size_t{File[At + 2]} << 7) |
           File[At + 3];
  };
  if (File.size() < 10 || File[0] != 'I' || File[1] != 'D' || File[2] != '3' || File[3] != 4) return {};
  const std::size_t end = std::min(File.size(), 10 + synchsafe(6));
  for (std::size_t at = 10; at + 10 <= end && File[at] != 0;) {
    const std::size_t next = at + 10 + synchsafe(at + 4);
    if (next > end) break;
    if (std::string_view(reinterpret_cast<const char *>(&File[at]), 4) == ID)
      return Bytes8(File.begin() + static_cast<std::ptrdiff_t>(at), File.begin() + static_cast<std::ptrdiff_t>(next));
    at = next;
  }
  return {};
}

Bytes ID3v1Record(std::string_view Title, std::string_view Artist, std::string_view Album, std::string_view Year,
                  std::string_view Comment, int Track, std::uint8_t Genre)
{
  Bytes b;
  b.Str("TAG").Padded(Title, 30).Padded(Artist, 30).Padded(Album, 30).Padded(Year, 4);
  if (Track == kID3v10Track) b.Padded(Comment, 30);
  else b.Padded(Comment, 28).U8(0).U8(static_cast<std::uint8_t>(Track));
  return b.U8(Genre);
}

Bytes APEv2EmptyTag()
{
  auto part = [](std::uint32_t Flags) {
    return Bytes().Str("APETAGEX").U32LE(2000).U32LE(32).U32LE(0).U32LE(Flags).Zeros(8);
  };
  return Bytes().Append(part(0xA0000000u)).Append(part(0x80000000u));
}

Bytes APEv2Item(const TAPEv2ItemBytes &Item)
{
  return Bytes().U32LE(static_cast<std::uint32_t>(Item.Value.size())).U32LE(Item.Flags).Str(Item.Key).U8(0).Append(Item.Value);
}

Bytes APEv2Tag(const std::vector<TAPEv2ItemBytes> &Items, std::uint32_t Version, std::int64_t SizeDelta, std::int64_t Count)
{
  Bytes items;
  for (const TAPEv2ItemBytes &i : Items) items.Append(APEv2Item(i));
  const auto size = static_cast<std::uint32_t>(static_cast<std::int64_t>(items.size()) + 32 + SizeDelta);
  const auto count = static_cast<std::uint32_t>(Count >= 0 ? Count : static_cast<std::int64_t>(Items.size()));
  const auto part = [&](std::uint32_t Flags) {
    return Bytes().Str("APETAGEX").U32LE(Version).U32LE(size).U32LE(count).U32LE(Flags).Zeros(8);
  };
  Bytes b;
  if (Version == 2000) b.Append(part(0xA0000000u));
  b.Append(items);
  b.Append(part(Version == 2000 ? 0x80000000u : 0));
  return b;
}

Bytes Lyrics3Block(std::string_view Lyrics)
{
  char length[6];
  std::snprintf(length, sizeof length, "%05zu", Lyrics.size());
  Bytes body = Bytes().Str("LYRICSBEGIN").Str("IND00002").Str("10").Str("LYR").Str(length).Str(Lyrics);
  char size[7];
  std::snprintf(size, sizeof size, "%06zu", body.size());
  return body.Str(size).Str("LYRICS200");
}

Bytes MonkeyOld(std::uint16_t version, std::uint16_t compression, std::uint16_t flags, std::uint32_t frames,
                std::uint32_t finalBlocks)
{
  return Bytes().Str("MAC ").U16LE(version).U16LE(compression).U16LE(flags).U16LE(2).U32LE(44100).U32LE(0).U32LE(0)
    .U32LE(frames).U32LE(finalBlocks).U32LE(0);
}

Bytes MpegFrames(int Count, std::uint32_t Header, int Size)
{
  Bytes b;
  for (int f = 0; f < Count; ++f) {
    b.U32BE(Header);
    for (int i = 0; i < Size - 4; ++i) b.U8(static_cast<std::uint8_t>((f * 7 + i) & 0xFF));
  }
  return b;
}

Bytes RiffChunk(std::string_view Id, const Bytes &Body) { return SizedChunk<std::uint32_t>(Id, Body, &Bytes::U32LE); }

Bytes WaveFmt(std::uint16_t FormatTag, std::uint16_t Channels, std::uint32_t Rate, std::uint16_t Bits)
{
  const auto align = static_cast<std::uint16_t>(Channels * Bits / 8);
  return Bytes().U16LE(FormatTag).U16LE(Channels).U32LE(Rate).U32LE(Rate * align).U16LE(align).U16LE(Bits);
}

Bytes Wave(const Bytes &Chunks, std::string_view Form)
{
  return Bytes().Str(Form).U32LE(static_cast<std::uint32_t>(Chunks.size() + 4)).Str("WAVE").Append(Chunks);
}

Bytes Ds64(std::uint64_t RiffSize, std::uint64_t DataSize, std::uint64_t SampleCount)
{
  return Bytes().U64LE(RiffSize).U64LE(DataSize).U64LE(SampleCount).U32LE(0);
}

Bytes AiffChunk(std::string_view Id, const Bytes &Body) { return SizedChunk<std::uint32_t>(Id, Body, &Bytes::U32BE); }

Bytes Extended80(std::uint16_t SignAndExponent, std::uint64_t Mantissa)
{
  return Bytes().U16BE(SignAndExponent).U64BE(Mantissa);
}

Bytes AiffComm(std::uint16_t Channels, std::uint32_t Frames, std::uint16_t Bits, const Bytes &Rate)
{
  return Bytes().U16BE(Channels).U32BE(Frames).U16BE(Bits).Append(Rate);
}

Bytes Aiff(const Bytes &Chunks, std::string_view Type)
{
  return Bytes().Str("FORM").U32BE(static_cast<std::uint32_t>(Chunks.size() + 4)).Str(Type).Append(Chunks);
}

Bytes DsfFmtChunk(std::uint32_t ChannelType, std::uint32_t Channels, std::uint32_t Rate, std::uint64_t Samples)
{
  return Bytes().Str("fmt ").U64LE(52).U32LE(1).U32LE(0).U32LE(ChannelType).U32LE(Channels).U32LE(Rate).U32LE(1)
    .U64LE(Samples).U32LE(4096).U32LE(0);
}

Bytes Dsf(const Bytes &Sound, const Bytes &Metadata, const Bytes &Fmt, std::uint64_t HeaderSize)
{
  // Stereo, 8 one-bit samples a byte: four samples of each channel in every byte of Sound.
  const Bytes fmt = Fmt.size() ? Fmt : DsfFmtChunk(2, 2, 2822400, Sound.size() * 4);
  const std::uint64_t dataChunk = 12 + Sound.size();
  const std::uint64_t beforeMetadata = 28 + fmt.size() + dataChunk;
  Bytes b;
  b.Str("DSD ").U64LE(HeaderSize).U64LE(beforeMetadata + Metadata.size()).U64LE(Metadata.size() ? beforeMetadata : 0);
  b.Append(fmt).Str("data").U64LE(dataChunk).Append(Sound);
  return b.Append(Metadata);
}

Bytes DffChunk(std::string_view Id, const Bytes &Body) { return SizedChunk<std::uint64_t>(Id, Body, &Bytes::U64BE); }

Bytes Dff(const Bytes &Chunks)
{
  return Bytes().Str("FRM8").U64BE(Chunks.size() + 4).Str("DSD ").Append(Chunks);
}
