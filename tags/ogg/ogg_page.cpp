#include "tags/ogg/ogg_page.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "tags/id3/skip_id3v2.h"
#include "tags/streams/read_view.h"

// Carry-less multiplication folds long runs where the processor has it (checked at run time).
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define CORVELLA_CLMUL_CRC 1
#else
#define CORVELLA_CLMUL_CRC 0
#endif

namespace {

constexpr std::int64_t kCrcOffset = 22;
constexpr std::int64_t kSequenceOffset = 18;
// Bytes read at a time while scanning for the capture pattern.
constexpr std::int64_t kScanChunk = 64 * 1024;

// Sixteen tables: Tables[0] is the usual byte table; Tables[k][i] is the CRC of byte i followed
// by k zero bytes, so that sixteen bytes are folded in per step (slicing by sixteen).
using TCrcTables = std::array<std::array<std::uint32_t, 256>, 16>;

TCrcTables MakeCrcTables()
{
  TCrcTables t{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t r = i << 24;
    for (int b = 0; b < 8; ++b) r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
    t[0][i] = r;
  }
  for (std::size_t k = 1; k < t.size(); ++k)
    for (std::uint32_t i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] << 8) ^ t[0][t[k - 1][i] >> 24];
  return t;
}

const TCrcTables &CrcTables()
{
  static const TCrcTables tables = MakeCrcTables();
  return tables;
}

std::uint32_t TableCrcByte(const TCrcTables &T, std::uint32_t Crc, std::uint8_t Byte)
{
  return (Crc << 8) ^ T[0][((Crc >> 24) ^ Byte) & 0xFF];
}

#if CORVELLA_CLMUL_CRC
// x^N mod P, P the CRC polynomial with its x^32 term.
std::uint64_t XPowMod(unsigned N)
{
  std::uint64_t r = 1;
  for (unsigned i = 0; i < N; ++i) {
    r <<= 1;
    if (r & 0x100000000ull) r ^= 0x104C11DB7ull;
  }
  return r;
}

bool HaveClmul()
{
  static const bool have = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("ssse3");
  return have;
}

// The CRC of N bytes (a multiple of 16, at least 16) by folding with carry-less multiplication.
// A holds a 128-bit polynomial (bit 127 = the first bit of the message, as the CRC reads it)
// congruent to the message read so far modulo P: the next 16 bytes B make it A * x^128 + B,
// and with A = Hi * x^64 + Lo that is Hi * (x^192 mod P) + Lo * (x^128 mod P) + B, each product
// under 96 bits. The CRC of the whole is then the CRC of A's 16 bytes. The CRC carried in goes
// into the first 32 bits, as the table method puts it.
// A * x^(64 + Shift) folded: Hi * (x^(Shift + 64) mod P) + Lo * (x^Shift mod P), K holding the two
// constants (high lane for Hi).
__attribute__((target("pclmul,ssse3"))) inline __m128i FoldClmul(__m128i A, __m128i K)
{
  return _mm_xor_si128(_mm_clmulepi64_si128(A, K, 0x11), _mm_clmulepi64_si128(A, K, 0x00));
}

// Sixteen bytes as a polynomial, the first byte highest.
__attribute__((target("pclmul,ssse3"))) inline __m128i LoadReversed(const std::uint8_t *P)
{
  const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(P)), reverse);
}

__attribute__((target("pclmul,ssse3"))) std::uint32_t CrcClmul(const TCrcTables &T, std::uint32_t Crc,
                                                                 const std::uint8_t *P, std::size_t N)
{
  const auto constants = [](unsigned Shift) {
    return _mm_set_epi64x(static_cast<long long>(XPowMod(Shift + 64)), static_cast<long long>(XPowMod(Shift)));
  };
  static const __m128i k128 = constants(128), k256 = constants(256), k384 = constants(384),
                       k512 = constants(512);
  const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  __m128i a = _mm_xor_si128(LoadReversed(P), _mm_set_epi32(static_cast<int>(Crc), 0, 0, 0));
  std::size_t i = 16;
  if (N >= 128) {
    // Four independent lanes, each moved 64 bytes on per step, so that the multiplications of
    // one step do not wait for each other; then folded into one, the first lane furthest.
    __m128i b = LoadReversed(P + 16), c = LoadReversed(P + 32), d = LoadReversed(P + 48);
    for (i = 64; i + 64 <= N; i += 64) {
      a = _mm_xor_si128(FoldClmul(a, k512), LoadReversed(P + i));
      b = _mm_xor_si128(FoldClmul(b, k512), LoadReversed(P + i + 16));
      c = _mm_xor_si128(FoldClmul(c, k512), LoadReversed(P + i + 32));
      d = _mm_xor_si128(FoldClmul(d, k512), LoadReversed(P + i + 48));
    }
    a = _mm_xor_si128(_mm_xor_si128(FoldClmul(a, k384), FoldClmul(b, k256)), _mm_xor_si128(FoldClmul(c, k128), d));
  }
  for (; i < N; i += 16) a = _mm_xor_si128(FoldClmul(a, k128), LoadReversed(P + i));
  alignas(16) std::uint8_t bytes[16];
  _mm_store_si128(reinterpret_cast<__m128i *>(bytes), _mm_shuffle_epi8(a, reverse));
  std::uint32_t crc = 0;
  for (const std::uint8_t b : bytes) crc = TableCrcByte(T, crc, b);
  return crc;
}
#endif

std::uint32_t CrcUpdate(std::uint32_t Crc, std::span<const std::uint8_t> Bytes)
{
  const TCrcTables &t = CrcTables();
  const std::uint8_t *p = Bytes.data();
  std::size_t n = Bytes.size();
#if CORVELLA_CLMUL_CRC
  if (n >= 64 && HaveClmul()) {
    const std::size_t whole = n & ~static_cast<std::size_t>(15);
    Crc = CrcClmul(t, Crc, p, whole);
    p += whole;
    n -= whole;
  }
#endif
  const auto be32 = [](const std::uint8_t *q) {
    return static_cast<std::uint32_t>(q[0]) << 24 | static_cast<std::uint32_t>(q[1]) << 16 |
           static_cast<std::uint32_t>(q[2]) << 8 | q[3];
  };
  // Word w of the step (0 = first) goes through the tables 15-4w .. 12-4w.
  const auto fold = [&t](std::uint32_t W, std::size_t High) {
    return t[High][W >> 24] ^ t[High - 1][(W >> 16) & 0xFF] ^ t[High - 2][(W >> 8) & 0xFF] ^ t[High - 3][W & 0xFF];
  };
  for (; n >= 16; p += 16, n -= 16)
    Crc = fold(Crc ^ be32(p), 15) ^ fold(be32(p + 4), 11) ^ fold(be32(p + 8), 7) ^ fold(be32(p + 12), 3);
  for (; n > 0; ++p, --n) Crc = TableCrcByte(t, Crc, *p);
  return Crc;
}

void PutU32LE(TBytes &Raw, std::size_t At, std::uint32_t V)
{
  for (std::size_t i = 0; i < 4; ++i) Raw[At + i] = static_cast<std::uint8_t>(V >> (8 * i));
}

bool StartsWith(std::span<const std::uint8_t> Data, std::string_view Magic)
{
  return Data.size() >= Magic.size() && std::memcmp(Data.data(), Magic.data(), Magic.size()) == 0;
}

} // namespace

std::uint32_t OggCrc(std::span<const std::uint8_t> Bytes) { return CrcUpdate(0, Bytes); }

std::uint32_t OggPageCrc(std::span<const std::uint8_t> Page)
{
  if (Page.size() < static_cast<std::size_t>(kOggPageHeaderBytes)) return OggCrc(Page);
  static constexpr std::uint8_t kZeros[4] = {0, 0, 0, 0};
  std::uint32_t crc = CrcUpdate(0, Page.first(kCrcOffset));
  crc = CrcUpdate(crc, kZeros);
  return CrcUpdate(crc, Page.subspan(kCrcOffset + 4));
}

int ParseOggPage(ByteReader &In, std::int64_t Offset, TOggPage &Out)
{
  ByteReader r = In;
  if (!r.StartsWith("OggS")) return opcNoCapture;
  r.Skip(4);
  std::uint8_t version = 0, flags = 0, segments = 0;
  std::uint64_t granule = 0;
  std::uint32_t serial = 0, sequence = 0, crc = 0;
  if (!r.ReadU8(version)) return opcTruncated;
  if (version != 0) return opcBadVersion;
  if (!r.ReadU8(flags) || !r.ReadU64LE(granule) || !r.ReadU32LE(serial) || !r.ReadU32LE(sequence) ||
      !r.ReadU32LE(crc) || !r.ReadU8(segments))
    return opcTruncated;
  std::span<const std::uint8_t> lacing;
  if (!r.ReadSpan(segments, lacing)) return opcTruncated;
  std::uint64_t dataSize = 0;
  for (std::uint8_t v : lacing) dataSize += v;
  if (!r.Skip(dataSize)) return opcTruncated;
  const std::size_t start = In.Position();
  const std::span<const std::uint8_t> page(In.Data() + start, r.Position() - start);
  if (OggPageCrc(page) != crc) return opcBadChecksum;
  Out.Offset = Offset;
  Out.Flags = flags;
  Out.Granule = static_cast<std::int64_t>(granule);
  Out.Serial = serial;
  Out.Sequence = sequence;
  Out.Checksum = crc;
  Out.Lacing.assign(lacing.begin(), lacing.end());
  Out.Raw.assign(page.begin(), page.end());
  In.Skip(page.size());
  return opcOk;
}

TOggPage EncodeOggPage(std::uint8_t Flags, std::int64_t Granule, std::uint32_t Serial, std::uint32_t Sequence,
                       std::span<const std::uint8_t> Lacing, std::span<const std::uint8_t> Data)
{
  TOggPage page;
  page.Flags = Flags;
  page.Granule = Granule;
  page.Serial = Serial;
  page.Sequence = Sequence;
  page.Lacing.assign(Lacing.begin(), Lacing.end());
  TBytes &raw = page.Raw;
  raw.reserve(static_cast<std::size_t>(kOggPageHeaderBytes) + Lacing.size() + Data.size());
  raw = {'O', 'g', 'g', 'S', 0, Flags};
  const auto granule = static_cast<std::uint64_t>(Granule);
  for (int i = 0; i < 8; ++i) raw.push_back(static_cast<std::uint8_t>(granule >> (8 * i)));
  raw.resize(static_cast<std::size_t>(kOggPageHeaderBytes) - 1);
  PutU32LE(raw, 14, Serial);
  PutU32LE(raw, kSequenceOffset, Sequence);
  raw.push_back(static_cast<std::uint8_t>(Lacing.size()));
  raw.insert(raw.end(), Lacing.begin(), Lacing.end());
  raw.insert(raw.end(), Data.begin(), Data.end());
  page.Checksum = OggPageCrc(raw);
  PutU32LE(raw, kCrcOffset, page.Checksum);
  return page;
}

void RenumberOggPage(TBytes &Raw, std::uint32_t Sequence)
{
  if (Raw.size() < static_cast<std::size_t>(kOggPageHeaderBytes)) return;
  PutU32LE(Raw, kSequenceOffset, Sequence);
  PutU32LE(Raw, kCrcOffset, OggPageCrc(Raw));
}

int ReadOggPageAt(TStream &Stream, std::int64_t Pos, TOggPage &Out)
{
  // A read view hands out the bytes where it holds them; any other stream is read into buffers.
  auto *view = dynamic_cast<TReadView *>(&Stream);
  TBytes buffer;
  const auto read = [&](std::int64_t Count, ByteReader &In) {
    if (view) return view->RangeUpTo(Pos, Count, In);
    if (!ReadUpTo(Stream, Pos, Count, buffer)) return false;
    In = ByteReader(buffer);
    return true;
  };
  ByteReader head;
  if (!read(kOggPageHeaderBytes + kOggMaxSegments, head)) return opcTruncated;
  const std::uint8_t *h = head.Data();
  const std::size_t got = head.Size();
  if (!head.StartsWith("OggS")) return got < 4 ? opcTruncated : opcNoCapture;
  if (got > 4 && h[4] != 0) return opcBadVersion;
  if (got < static_cast<std::size_t>(kOggPageHeaderBytes)) return opcTruncated;
  const std::size_t segments = h[kOggPageHeaderBytes - 1];
  if (got < static_cast<std::size_t>(kOggPageHeaderBytes) + segments) return opcTruncated;
  std::int64_t size = kOggPageHeaderBytes + static_cast<std::int64_t>(segments);
  for (std::size_t i = 0; i < segments; ++i) size += h[kOggPageHeaderBytes + i];
  ByteReader in;
  if (!read(size, in)) return opcTruncated;
  return ParseOggPage(in, Pos, Out);
}

TOggPageReader::TOggPageReader(TStream &Stream, std::int64_t From, std::int64_t MaxSteps)
  : FStream(Stream), FSize(Stream.GetSize()), FPos(From), FStepsLeft(MaxSteps)
{
}

int TOggPageReader::ReadAt(std::int64_t Pos, TOggPage &Out)
{
  --FStepsLeft;
  return ReadOggPageAt(FStream, Pos, Out);
}

bool TOggPageReader::Resync(std::int64_t From, TOggPage &Out)
{
  const std::int64_t limit = std::min(FSize, From + kOggMaxResyncBytes);
  std::int64_t pos = From;
  TBytes chunk;
  while (pos + 4 <= limit) {
    if (!ReadUpTo(FStream, pos, std::min(kScanChunk, limit - pos), chunk) || chunk.size() < 4) break;
    for (std::size_t i = 0; i + 4 <= chunk.size(); ++i) {
      if (std::memcmp(chunk.data() + i, "OggS", 4) != 0) continue;
      if (FStepsLeft <= 0) {
        FExhausted = true;
        return false;
      }
      const std::int64_t at = pos + static_cast<std::int64_t>(i);
      if (ReadAt(at, Out) == opcOk) {
        FSkipped += at - (FPos);
        FPos = Out.End();
        return true;
      }
    }
    // The last three bytes may begin a capture pattern that the next chunk completes.
    pos += static_cast<std::int64_t>(chunk.size()) - 3;
  }
  FSkipped += FSize - FPos;
  FPos = FSize;
  return false;
}

bool TOggPageReader::Next(TOggPage &Out)
{
  if (FSize < 0 || FPos < 0 || FPos >= FSize) return false;
  if (FStepsLeft <= 0) {
    FExhausted = true;
    return false;
  }
  if (ReadAt(FPos, Out) == opcOk) {
    FPos = Out.End();
    return true;
  }
  return Resync(FPos + 1, Out);
}

bool FindLastGranulePage(TStream &Stream, std::int64_t From, std::uint32_t Serial, TOggPage &Out)
{
  const std::int64_t size = Stream.GetSize();
  if (size < kOggPageHeaderBytes || From < 0) return false;
  const std::int64_t start = std::max(From, size - kOggMaxTailScanBytes);
  TBytes tail;
  if (!ReadUpTo(Stream, start, size - start, tail)) return false;
  ByteReader all(tail);
  for (std::size_t i = tail.size() >= 4 ? tail.size() - 4 + 1 : 0; i-- > 0;) {
    if (std::memcmp(tail.data() + i, "OggS", 4) != 0) continue;
    ByteReader in = all;
    in.Seek(i);
    TOggPage page;
    if (ParseOggPage(in, start + static_cast<std::int64_t>(i), page) != opcOk) continue;
    if (page.Serial != Serial || page.Granule == kOggNoGranule) continue;
    Out = std::move(page);
    return true;
  }
  return false;
}

TOggCodec OggCodecOfPacket(std::span<const std::uint8_t> FirstPacket)
{
  if (StartsWith(FirstPacket, std::string_view("\x01vorbis", 7))) return ocVorbis;
  if (StartsWith(FirstPacket, "OpusHead")) return ocOpus;
  if (StartsWith(FirstPacket, "\x7F" "FLAC")) return ocFlac;
  return ocOther;
}

TOggCodec DetectOggCodec(TStream &Stream, std::int64_t Offset)
{
  TOggPage page;
  if (ReadOggPageAt(Stream, Offset, page) != opcOk) return ocNotOgg;
  if (page.Continued()) return ocOther;
  return OggCodecOfPacket(page.Data());
}

bool InsideOggPage(TStream &Stream, std::int64_t Offset)
{
  std::int64_t start = 0;
  SkipLeadingID3v2Tags(Stream, start);
  TBytes magic;
  if (Offset <= start || !Stream.ReadAt(start, 4, magic) || !ByteReader(magic).StartsWith("OggS")) return false;
  // The nearest valid page that begins before Offset holds it when it reaches past it; a page
  // is never longer than kOggMaxPageBytes.
  const std::int64_t from = std::max(start, Offset - kOggMaxPageBytes);
  TBytes span;
  if (!Stream.ReadAt(from, Offset - from, span)) return false;
  for (std::int64_t i = static_cast<std::int64_t>(span.size()) - 4; i >= 0; --i) {
    const auto at = static_cast<std::size_t>(i);
    if (span[at] != 'O' || span[at + 1] != 'g' || span[at + 2] != 'g' || span[at + 3] != 'S') continue;
    TOggPage page;
    if (ReadOggPageAt(Stream, from + i, page) == opcOk) return page.End() > Offset;
  }
  return false;
}
