#pragma once
// Byte builders for the containers and tags the tests build inline: the ID3v2 tag header, the
// ID3v1 record and an empty APEv2 tag, MPEG audio frames, and the RIFF/RF64 WAVE, AIFF/AIFC,
// DSF and DSDIFF layouts with their chunks. Each builds well-formed bytes from what it is given
// (sizes computed, odd chunks padded); a test that needs a hostile field writes that field
// itself with Bytes. One set for every test, so a layout is spelt out in one place.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/test_support.h"

// --- ID3v2, ID3v1, APEv2 ---

// The four 7-bit bytes of an ID3v2 size.
Bytes Synchsafe(std::uint32_t Value);
// "ID3", Major, revision 0, Flags, the synchsafe size of Body, then Body.
Bytes ID3v2Tag(std::uint8_t Major, std::uint8_t Flags, const Bytes &Body);
// An ID3v2.4 tag of TotalSize bytes in all (header included), all padding.
Bytes ID3v2PaddingTag(std::uint32_t TotalSize);
// An ID3v2.4 text frame: its header, encoding 3 (UTF-8), then Text (several strings separated
// by a zero byte).
Bytes ID3v24TextFrame(std::string_view ID, std::string_view Text);
// The bytes (header included) of the first frame ID in the ID3v2.4 tag at the start of File;
// empty when there is none.
Bytes8 ID3v24FrameBytes(const Bytes8 &File, std::string_view ID);

// Track value for an ID3v1.0 record: the comment takes all 30 bytes, no track byte.
constexpr int kID3v10Track = -1;
// A 128-byte ID3v1 record: texts cut or zero-padded to their fields, an ID3v1.1 track byte
// unless Track is kID3v10Track, then the genre index.
Bytes ID3v1Record(std::string_view Title, std::string_view Artist, std::string_view Album, std::string_view Year,
                  std::string_view Comment, int Track, std::uint8_t Genre);
// An APEv2 tag with header and footer and no items: 64 bytes.
Bytes APEv2EmptyTag();
// One APEv2 item: its key, value bytes and item flags (0 text, 2 binary, 4 locator; bit 0
// read-only).
struct TAPEv2ItemBytes {
  std::string Key;
  Bytes8 Value;
  std::uint32_t Flags = 0;
};
// An APEv2 tag of Items: header and footer for version 2000, a footer alone for 1000. SizeDelta
// is added to the size field and Count, when given, replaces the item count (both in header and
// footer).
Bytes APEv2Tag(const std::vector<TAPEv2ItemBytes> &Items, std::uint32_t Version = 2000, std::int64_t SizeDelta = 0,
               std::int64_t Count = -1);
Bytes APEv2Item(const TAPEv2ItemBytes &Item);
// A Lyrics3 v2.00 block ("LYRICSBEGIN", an IND field, a LYR field holding Lyrics, the size, "LYRICS200").
Bytes Lyrics3Block(std::string_view Lyrics);

// --- Monkey's Audio ---

// The header of a Monkey's Audio file before version 3.98: stereo, 44100 Hz.
Bytes MonkeyOld(std::uint16_t version, std::uint16_t compression, std::uint16_t flags, std::uint32_t frames,
                std::uint32_t finalBlocks);

// --- MPEG audio ---

// MPEG-1 Layer III, 128 kbit/s, 44100 Hz, no padding, joint stereo: 417-byte frames.
constexpr std::uint32_t kMpegHeader128 = 0xFFFB9064;
constexpr int kMpegFrame128 = 417;
// Count frames of Size bytes behind Header, whose bodies hold a counting pattern so that moved
// or changed audio bytes show (the pattern never forms a frame sync).
Bytes MpegFrames(int Count, std::uint32_t Header = kMpegHeader128, int Size = kMpegFrame128);

// --- RIFF WAVE and RF64 ---

// Id, 32-bit little-endian size, Body, a pad byte after an odd Body.
Bytes RiffChunk(std::string_view Id, const Bytes &Body);
// A 16-byte PCM-layout "fmt " body.
Bytes WaveFmt(std::uint16_t FormatTag = 1, std::uint16_t Channels = 2, std::uint32_t Rate = 44100,
              std::uint16_t Bits = 16);
// Form ("RIFF" or "RF64"), the size of what follows it, "WAVE", Chunks.
Bytes Wave(const Bytes &Chunks, std::string_view Form = "RIFF");
// A ds64 body: RIFF size, data size, sample count, an empty table.
Bytes Ds64(std::uint64_t RiffSize, std::uint64_t DataSize, std::uint64_t SampleCount);

// --- AIFF and AIFC ---

// Id, 32-bit big-endian size, Body, a pad byte after an odd Body.
Bytes AiffChunk(std::string_view Id, const Bytes &Body);
// An 80-bit big-endian extended number.
Bytes Extended80(std::uint16_t SignAndExponent, std::uint64_t Mantissa);
// A COMM body; the rate as an 80-bit extended number (44100 by default).
Bytes AiffComm(std::uint16_t Channels = 2, std::uint32_t Frames = 4, std::uint16_t Bits = 16,
               const Bytes &Rate = Extended80(0x400E, 0xAC44000000000000ull));
// "FORM", the size of what follows it, Type ("AIFF", "AIFC"), Chunks.
Bytes Aiff(const Bytes &Chunks, std::string_view Type = "AIFF");

// --- DSF ---

// The 52-byte "fmt " chunk: version 1, DSD raw, ChannelType, Channels, Rate, 1 bit a sample,
// Samples per channel, 4096-byte blocks.
Bytes DsfFmtChunk(std::uint32_t ChannelType, std::uint32_t Channels, std::uint32_t Rate, std::uint64_t Samples);
// The "DSD " chunk (HeaderSize as its size, the total size, the offset of Metadata or 0), Fmt
// (by default stereo DSD64 holding Sound), "data" with Sound, then Metadata at the end.
Bytes Dsf(const Bytes &Sound, const Bytes &Metadata, const Bytes &Fmt = Bytes(), std::uint64_t HeaderSize = 28);

// --- DSDIFF ---

// Id, 64-bit big-endian size, Body, a pad byte after an odd Body.
Bytes DffChunk(std::string_view Id, const Bytes &Body);
// "FRM8", the 64-bit size of what follows it, "DSD ", Chunks.
Bytes Dff(const Bytes &Chunks);
