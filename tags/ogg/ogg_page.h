#pragma once
// Ogg pages (RFC 3533, the Ogg encapsulation format version 0): parsing, encoding and a
// forward reader that survives damage.
//
// A page is a 27-byte header ("OggS", stream structure version 0, header type flags, 64-bit
// granule position, serial, sequence number, CRC, segment count), its lacing values (one byte
// per segment) and the data, whose size is the sum of the lacing values. All integers are
// little-endian. The CRC is the Ogg CRC-32 (polynomial 04C11DB7 hex, most significant bit
// first, initial value 0, no final inversion) over the whole page with the CRC field zeroed.
//
// Nothing read is trusted: a page is accepted only when its capture pattern, version, length
// and CRC check out, and it is read whole through ByteReader. A page cut short by the end of
// the stream is never completed with zeros. TOggPageReader skips a page that fails the checks
// by scanning forward for the next valid page; every scan and walk is bounded by the limits
// below.

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "tags/streams/byte_reader.h"
#include "tags/streams/stream.h"

constexpr std::int64_t kOggPageHeaderBytes = 27;
constexpr int kOggMaxSegments = 255;
// The largest page: header, 255 lacing values, 255 segments of 255 bytes.
constexpr std::int64_t kOggMaxPageBytes = kOggPageHeaderBytes + 255 + 255 * 255;
// Bytes scanned forward for the next page after a damaged one, before the reader gives up.
constexpr std::int64_t kOggMaxResyncBytes = 4 << 20;
// Bytes scanned back from the end of a stream for its last page with a granule position.
constexpr std::int64_t kOggMaxTailScanBytes = 4 * kOggMaxPageBytes;
// Granule position of a page on which no packet ends.
constexpr std::int64_t kOggNoGranule = -1;

constexpr std::uint8_t kOggFlagContinued = 0x01;
constexpr std::uint8_t kOggFlagFirst = 0x02;
constexpr std::uint8_t kOggFlagLast = 0x04;

enum TOggPageCheck : int {
  opcOk = 0,
  opcNoCapture = 1,   // not "OggS"
  opcBadVersion = 2,  // stream structure version other than 0
  opcTruncated = 3,   // the page runs past the bytes there
  opcBadChecksum = 4, // the CRC does not match
};

struct TOggPage {
  std::int64_t Offset = 0;  // in the stream it was read from
  std::uint8_t Flags = 0;
  std::int64_t Granule = kOggNoGranule;
  std::uint32_t Serial = 0;
  std::uint32_t Sequence = 0;
  std::uint32_t Checksum = 0;
  std::vector<std::uint8_t> Lacing;
  TBytes Raw;  // the whole page as read or encoded

  std::int64_t Size() const { return static_cast<std::int64_t>(Raw.size()); }
  std::int64_t End() const { return Offset + Size(); }
  std::span<const std::uint8_t> Data() const
  {
    const std::size_t from = static_cast<std::size_t>(kOggPageHeaderBytes) + Lacing.size();
    return std::span<const std::uint8_t>(Raw).subspan(from);
  }
  bool Continued() const { return Flags & kOggFlagContinued; }
  bool First() const { return Flags & kOggFlagFirst; }
  bool Last() const { return Flags & kOggFlagLast; }
  // True when the last lacing value is 255: the last packet on the page goes on to the next.
  bool EndsInsidePacket() const { return !Lacing.empty() && Lacing.back() == 255; }
};

// The Ogg CRC-32 of Bytes.
std::uint32_t OggCrc(std::span<const std::uint8_t> Bytes);
// The CRC of a whole page as it must be stored: computed with the CRC field (bytes 22-25) zeroed.
std::uint32_t OggPageCrc(std::span<const std::uint8_t> Page);

// Reads one page at In's position; on opcOk In moves past it and Out is filled (Out.Offset is
// set to Offset). On any other result In's position stays.
int ParseOggPage(ByteReader &In, std::int64_t Offset, TOggPage &Out);

// Encodes a page from its fields and data, with the CRC computed: Raw, Lacing and Checksum of
// the result are filled. Lacing must hold at most 255 values that add up to Data's size.
TOggPage EncodeOggPage(std::uint8_t Flags, std::int64_t Granule, std::uint32_t Serial, std::uint32_t Sequence,
                       std::span<const std::uint8_t> Lacing, std::span<const std::uint8_t> Data);

// Sets the sequence number of an encoded page and computes its CRC anew.
void RenumberOggPage(TBytes &Raw, std::uint32_t Sequence);

// Reads the valid pages of a stream forward from an offset. A page that fails the checks is
// skipped: the reader scans forward (at most kOggMaxResyncBytes) for the next "OggS" that starts
// a valid page and records the bytes it skipped. The end of the stream, a scan that finds
// nothing, or MaxSteps pages and failed candidates read all end the walk.
class TOggPageReader {
public:
  TOggPageReader(TStream &Stream, std::int64_t From, std::int64_t MaxSteps);

  bool Next(TOggPage &Out);
  // Where the next page is looked for.
  std::int64_t Position() const { return FPos; }
  // Bytes skipped over damaged pages or junk so far.
  std::int64_t SkippedBytes() const { return FSkipped; }
  // True when the walk ended on MaxSteps rather than on the end of the stream.
  bool StepsExhausted() const { return FExhausted; }

private:
  int ReadAt(std::int64_t Pos, TOggPage &Out);
  bool Resync(std::int64_t From, TOggPage &Out);

  TStream &FStream;
  std::int64_t FSize;
  std::int64_t FPos;
  std::int64_t FStepsLeft;
  std::int64_t FSkipped = 0;
  bool FExhausted = false;
};

// Checks and reads the page at Pos of Stream: an TOggPageCheck code.
int ReadOggPageAt(TStream &Stream, std::int64_t Pos, TOggPage &Out);

// The last valid page of Serial whose granule position is not kOggNoGranule, looked for
// backwards from the end of the stream through at most kOggMaxTailScanBytes (and not before
// From). False when there is none in that span.
bool FindLastGranulePage(TStream &Stream, std::int64_t From, std::uint32_t Serial, TOggPage &Out);

enum TOggCodec : int {
  ocNotOgg = 0,  // no valid Ogg page at the offset
  ocVorbis = 1,  // "\x01vorbis"
  ocOpus = 2,    // "OpusHead"
  ocFlac = 3,    // "\x7F" "FLAC": FLAC in Ogg
  ocOther = 4,   // a valid first page of another codec
};

// What the first logical stream at Offset carries, by the start of its first page's data.
TOggCodec DetectOggCodec(TStream &Stream, std::int64_t Offset);
TOggCodec OggCodecOfPacket(std::span<const std::uint8_t> FirstPacket);

// Whether the byte at Offset lies inside a valid page of an Ogg stream (one that starts at 0 or
// behind ID3v2 tags). The bytes after the last complete page are not; for a stream that is no
// Ogg stream the answer is false.
bool InsideOggPage(TStream &Stream, std::int64_t Offset);
