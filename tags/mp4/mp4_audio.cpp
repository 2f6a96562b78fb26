#include "tags/mp4/mp4_audio.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "tags/mp4/mp4_atoms.h"
#include "tags/streams/byte_reader.h"

namespace {

// Atom bodies read whole here are small; a larger one is read up to this many bytes.
constexpr std::int64_t kMaxPropertyAtom = 64 * 1024;

bool BodyOf(TStream &Stream, const TAtomHeader &Atom, TBytes &Out)
{
  return ReadUpTo(Stream, Atom.BodyOffset(), std::min(Atom.BodySize(), kMaxPropertyAtom), Out) || Atom.BodySize() == 0;
}

std::vector<TAtomHeader> ChildrenOf(TStream &Stream, const TAtomHeader &Atom)
{
  std::vector<TAtomHeader> children;
  ReadChildAtoms(Stream, ChildrenOffset(Stream, Atom), Atom.End(), false, children);
  return children;
}

const TAtomHeader *Child(const std::vector<TAtomHeader> &Children, const char *Type)
{
  for (const TAtomHeader &h : Children)
    if (h.Is(Type)) return &h;
  return nullptr;
}

bool ReadMovieHeader(TStream &Stream, const TAtomHeader &Mvhd, TMP4AudioInfo &Out)
{
  TBytes body;
  if (!BodyOf(Stream, Mvhd, body)) return false;
  ByteReader in(body);
  std::uint8_t version = 0;
  std::uint32_t scale = 0;
  if (!in.ReadU8(version) || !in.Skip(3)) return false;
  if (version == 1) {
    if (!in.Skip(16) || !in.ReadU32BE(scale) || !in.ReadU64BE(Out.Duration)) return false;
  } else {
    std::uint32_t duration = 0;
    if (!in.Skip(8) || !in.ReadU32BE(scale) || !in.ReadU32BE(duration)) return false;
    Out.Duration = duration;
  }
  Out.TimeScale = scale;
  Out.PlayTime = scale == 0 ? 0.0 : static_cast<double>(Out.Duration) / scale;
  return true;
}

void ReadTrackSize(TStream &Stream, const TAtomHeader &Tkhd, TMP4AudioInfo &Out)
{
  TBytes body;
  if (!BodyOf(Stream, Tkhd, body)) return;
  ByteReader in(body);
  std::uint8_t version = 0;
  std::uint32_t width = 0, height = 0;
  if (!in.ReadU8(version) || !in.Skip(version == 1 ? 87 : 75) || !in.ReadU32BE(width) || !in.ReadU32BE(height)) return;
  // 16.16 fixed point: the whole part; the largest track wins.
  width >>= 16;
  height >>= 16;
  if (width >= Out.VideoWidth && height >= Out.VideoHeight) {
    Out.VideoWidth = width;
    Out.VideoHeight = height;
  }
}

// The average bit rate of the decoder configuration in an "esds" body; 0 when there is none.
std::uint32_t EsdsAverageBitRate(std::span<const std::uint8_t> Body)
{
  ByteReader in(Body);
  if (!in.Skip(4)) return 0;  // version and flags
  // Descriptors: a tag byte, a length of up to four 7-bit bytes, the body.
  const auto descriptor = [](ByteReader &R, std::uint8_t &Tag, std::uint32_t &Length) {
    Length = 0;
    if (!R.ReadU8(Tag)) return false;
    for (int i = 0; i < 4; ++i) {
      std::uint8_t b = 0;
      if (!R.ReadU8(b)) return false;
      Length = Length << 7 | (b & 0x7F);
      if (!(b & 0x80)) break;
    }
    return Length <= R.Remaining();
  };
  std::uint8_t tag = 0;
  std::uint32_t length = 0;
  if (!descriptor(in, tag, length) || tag != 0x03) return 0;
  std::uint16_t esId = 0;
  std::uint8_t flags = 0;
  if (!in.ReadU16BE(esId) || !in.ReadU8(flags)) return 0;
  if ((flags & 0x80) && !in.Skip(2)) return 0;
  if (flags & 0x40) {
    std::uint8_t urlLength = 0;
    if (!in.ReadU8(urlLength) || !in.Skip(urlLength)) return 0;
  }
  if ((flags & 0x20) && !in.Skip(2)) return 0;
  if (!descriptor(in, tag, length) || tag != 0x04) return 0;
  std::uint8_t objectType = 0, streamType = 0;
  std::uint32_t bufferSize = 0, maxRate = 0, avgRate = 0;
  if (!in.ReadU8(objectType) || !in.ReadU8(streamType) || !in.ReadU24BE(bufferSize) || !in.ReadU32BE(maxRate) ||
      !in.ReadU32BE(avgRate))
    return 0;
  return avgRate;
}

std::uint32_t Kbps(std::uint64_t BitsPerSecond)
{
  return static_cast<std::uint32_t>(std::min<std::uint64_t>((BitsPerSecond + 500) / 1000, std::numeric_limits<std::uint32_t>::max()));
}

// The one sample entry of an "stsd"; false when the table holds another number of entries.
bool ReadSampleDescription(TStream &Stream, const TAtomHeader &Stsd, TMP4AudioInfo &Out)
{
  TBytes head;
  std::uint32_t count = 0;
  // Version, flags and the entry count, all inside the table's own atom.
  if (Stsd.BodySize() < 8 || !ReadUpTo(Stream, Stsd.BodyOffset(), 8, head)) return false;
  ByteReader h(head);
  if (!h.Skip(4) || !h.ReadU32BE(count) || count != 1) return false;
  TAtomHeader entry;
  if (ReadAtomHeader(Stream, Stsd.BodyOffset() + 8, Stsd.End(), false, entry) != arOk) return false;
  TMP4AudioFormat format = mp4afUnknown;
  if (entry.Is("mp4a")) format = mp4afAAC;
  else if (entry.Is("alac")) format = mp4afALAC;
  else if (entry.Is("ac-3")) format = mpfafAC3;
  else return false;
  TBytes body;
  if (!BodyOf(Stream, entry, body)) return false;
  // The audio sample entry: 6 reserved bytes and a data reference index, a version (QuickTime
  // sound descriptions of version 1 and 2 add 16 and 36 bytes), revision and vendor, channels,
  // sample size, 4 more bytes and the 16.16 sample rate; then child atoms.
  ByteReader in(body);
  std::uint16_t version = 0, channels = 0, bits = 0, packetSize = 0, rate = 0;
  if (!in.Skip(8) || !in.ReadU16BE(version) || !in.Skip(6) || !in.ReadU16BE(channels) || !in.ReadU16BE(bits) ||
      !in.Skip(2) || !in.ReadU16BE(packetSize) || !in.ReadU16BE(rate) || !in.Skip(2))
    return false;
  Out.Format = format;
  Out.Channels = channels;
  Out.BitsPerSample = bits;
  // A rate of 96 kHz does not fit the 16-bit whole part; writers leave its low 16 bits (0x7700).
  Out.SampleRate = rate == 0x7700 ? 96000 : rate;
  const std::int64_t extra = version == 1 ? 16 : version == 2 ? 36 : 0;
  const std::int64_t children = entry.BodyOffset() + 28 + extra;
  std::vector<TAtomHeader> boxes;
  if (children <= entry.End()) ReadChildAtoms(Stream, children, entry.End(), false, boxes);
  for (const TAtomHeader &box : boxes) {
    TBytes data;
    if (!BodyOf(Stream, box, data)) continue;
    if (box.Is("esds")) {
      if (const std::uint32_t avg = EsdsAverageBitRate(data); avg > 0) Out.BitRate = Kbps(avg);
    } else if (box.Is("alac")) {
      // Version and flags, then the configuration: frame length, version, bit depth, three
      // tuning bytes, channels, max run, max frame bytes, average bit rate, sample rate.
      ByteReader cfg(data);
      std::uint8_t depth = 0, numChannels = 0;
      std::uint32_t avg = 0, sampleRate = 0;
      if (cfg.Skip(4 + 4 + 1) && cfg.ReadU8(depth) && cfg.Skip(3) && cfg.ReadU8(numChannels) && cfg.Skip(2 + 4) &&
          cfg.ReadU32BE(avg) && cfg.ReadU32BE(sampleRate)) {
        Out.SampleRate = sampleRate;
        Out.BitsPerSample = depth;
        Out.Channels = numChannels;
        if (avg > 0) Out.BitRate = Kbps(avg);
      }
    }
  }
  return true;
}

} // namespace

bool ReadMP4AudioInfo(TStream &Stream, TMP4AudioInfo &Out)
{
  Out = TMP4AudioInfo{};
  const std::int64_t size = Stream.GetSize();
  if (size <= 0) return false;
  std::vector<TAtomHeader> top;
  ReadChildAtoms(Stream, 0, size, true, top);  // atoms before any damage still count
  const TAtomHeader *moov = nullptr;
  for (const TAtomHeader &h : top) {
    if (h.Is("mdat")) Out.MediaSize += h.Size;
    if (h.Is("moov") && !moov) moov = &h;
  }
  if (!moov) return false;
  const std::vector<TAtomHeader> movie = ChildrenOf(Stream, *moov);
  const TAtomHeader *mvhd = Child(movie, "mvhd");
  if (!mvhd || !ReadMovieHeader(Stream, *mvhd, Out)) return false;
  bool described = false;
  for (const TAtomHeader &trak : movie) {
    if (!trak.Is("trak")) continue;
    const std::vector<TAtomHeader> track = ChildrenOf(Stream, trak);
    if (const TAtomHeader *tkhd = Child(track, "tkhd")) ReadTrackSize(Stream, *tkhd, Out);
    if (described) continue;
    const TAtomHeader *mdia = Child(track, "mdia");
    if (!mdia) continue;
    const std::vector<TAtomHeader> media = ChildrenOf(Stream, *mdia);
    const TAtomHeader *minf = Child(media, "minf");
    if (!minf) continue;
    const std::vector<TAtomHeader> info = ChildrenOf(Stream, *minf);
    const TAtomHeader *stbl = Child(info, "stbl");
    if (!stbl) continue;
    const std::vector<TAtomHeader> table = ChildrenOf(Stream, *stbl);
    if (const TAtomHeader *stsd = Child(table, "stsd")) described = ReadSampleDescription(Stream, *stsd, Out);
  }
  if (Out.BitRate == 0 && Out.PlayTime > 0 && std::isfinite(Out.PlayTime)) {
    const double kbps = static_cast<double>(Out.MediaSize) / Out.PlayTime / 125.0 + 0.5;
    if (kbps < static_cast<double>(std::numeric_limits<std::uint32_t>::max())) Out.BitRate = static_cast<std::uint32_t>(kbps);
  }
  return true;
}
