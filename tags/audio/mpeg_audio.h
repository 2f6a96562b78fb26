#pragma once
// MPEG audio properties: layers I to III of MPEG 1, 2 and 2.5, the first frame pair of a
// stream, the "Xing"/"Info" VBR header with its LAME extension and the "VBRI" header, and the
// sizes of the APEv2 and ID3v1/Lyrics3 tags at the end that the bit rate leaves out.
//
// Formats followed: ISO/IEC 11172-3 and 13818-3 (frame header, bit-rate and sample-rate tables),
// the Xing VBR header with the LAME tag revision 1 layout, the Fraunhofer VBRI header.
//
// Invariants: every structure is read through ByteReader from a bounded window of the stream;
// the frame search is bounded by its attempt count; table indexes from the file are checked;
// no value is divided by zero. The readers never throw and leave the stream position alone.

#include <cstdint>
#include <string>

#include "tags/streams/byte_reader.h"
#include "tags/streams/stream.h"

struct TID3v2AudioInfo;
struct TID3v2AudioOptions;

enum TMPEGVersion { tmpegvUnknown, tmpegv1, tmpegv2, tmpegv25 };
enum TMPEGLayer { tmpeglUnknown, tmpegl1, tmpegl2, tmpegl3 };
enum TMPEGChannelMode { tmpegcmUnknown, tmpegcmMono, tmpegcmDualChannel, tmpegcmJointStereo, tmpegcmStereo };
enum TMPEGModeExtension { tmpegmeUnknown, tmpegmeNone, tmpegmeIntensity, tmpegmeMS, tmpegmeIntensityMS };
enum TMPEGEmphasis { tmpegeUnknown, tmpegeNo, tmpege5015, tmpegeCCITJ17 };

// Limits of the searches and windows below.
constexpr std::uint32_t kDefaultMPEGSearchLength = 4096;
// Bytes read around a frame: more than the largest frame a header can describe (Layer II at
// 160 kbit/s and 8000 Hz with padding, 2881 bytes; free format is not decoded) and
// than the largest VBR header with its table of contents and encoder extension.
constexpr std::int64_t kMaxMPEGFrameWindow = 4096;
// Bytes of stream read at a time by the MPEG frame search: with the frame window, no more than
// the read view fetches in one go, so that a search that finds a frame early costs one read.
constexpr std::int64_t kMPEGSearchChunk = 12 * 1024;

// The first MPEG audio frame of a stream and what its header and VBR header say.
struct TMPEGHeader {
  std::int64_t Position = 0;          // offset of the first frame
  std::uint32_t Header = 0;           // the four header bytes, first byte highest
  int FrameSize = 0;                  // bytes; 0 when the header is not valid
  TMPEGVersion Version = tmpegvUnknown;
  TMPEGLayer Layer = tmpeglUnknown;
  bool CRC = false;                   // protection bit 0
  int BitRate = 0;                    // kbit/s; 65535 for free format
  int SampleRate = 0;                 // Hz
  bool Padding = false;
  bool _Private = false;
  TMPEGChannelMode ChannelMode = tmpegcmUnknown;
  TMPEGModeExtension ModeExtension = tmpegmeUnknown;
  bool Copyrighted = false;
  bool Original = false;
  TMPEGEmphasis Emphasis = tmpegeUnknown;
  bool VBR = false;
  std::int64_t FrameCount = 0;
  std::int64_t Quality = 0;
  std::int64_t Bytes = 0;
  bool HasInfo = false;
  bool HasXing = false;
  bool HasVBRI = false;
  std::string EncoderShortVersionString;
  std::uint8_t InfoTagRevision = 0;
  std::uint8_t VBRMethod = 0;
  int LowpassFilterValue = 0;         // Hz
  std::uint8_t PeakSignalSmplitude[4] = {0, 0, 0, 0};
  std::uint16_t RadioReplayGain = 0;
  std::uint16_t AudiophileReplayGain = 0;
  std::uint8_t EncodingFlags = 0;
  std::uint8_t ATHType = 0;
  std::uint8_t ABROrMinimalBitrate = 0;
  int EncoderDelay = 0;
  int EncoderPadding = 0;
  std::uint8_t Misc = 0;
  std::uint8_t MP3Gain = 0;
  std::uint16_t PresetAndSurroundInfo = 0;
  std::uint32_t MusicLength = 0;
  std::uint16_t MusicCRC = 0;
  std::uint16_t CRC16OfInfoTag = 0;
};

// Decodes four header bytes (first byte highest) into Out's header fields; the VBR fields are
// left alone. True when the frame size is positive (version, layer, bit rate, sample rate known).
bool DecodeMPEGHeader(std::uint32_t Header, TMPEGHeader &Out);
// Frame size in bytes from a decoded header; 0 when it is not valid (also for free format).
int MPEGFrameSize(const TMPEGHeader &Header);
// 384, 1152 or 576; 0 when version or layer is unknown.
int MPEGSamplesPerFrame(const TMPEGHeader &Header);
// Bytes of side information between the header and a VBR header (32, 17 or 9).
int MPEGSideInfoSize(const TMPEGHeader &Header);
// Searches from Start for the first of two consecutive valid frame headers, in at most
// SearchLength + 1 attempts. Returns its offset and decodes it into Out, or -1.
std::int64_t FindFirstMPEGFrame(TStream &Stream, std::int64_t Start, std::uint32_t SearchLength, TMPEGHeader &Out);
// Reads a "Xing"/"Info" header (with its encoder extension) or a "VBRI" header from the bytes
// of the first frame, which begin with its four header bytes. Out's header fields must be
// decoded already. True when one was found.
bool ParseMPEGVBRHeader(ByteReader Frame, TMPEGHeader &Out);

// Size of the APEv2 tag at the end (in front of a Lyrics3 block and an ID3v1 tag when there
// are), header included; 0 when there is none or its size does not fit the stream.
std::int64_t APEv2TagSizeAtEnd(TStream &Stream);
// Size of the ID3v1 tag at the end plus the Lyrics3 v2.00 block in front of it (or of such a
// block alone at the end); 0 when absent.
std::int64_t ID3v1TagSizeAtEnd(TStream &Stream);

// Searches for the first frame pair from Start and, with Options.ParseAudioAttributes, reads
// its VBR header and the end tags, and fills Out's MPEG record, PlayTime, SampleCount and
// BitRate. False when no frame pair is found (Out.SourceFileType is then left alone).
bool ReadMPEGAudioInfo(TStream &Stream, std::int64_t Start, const TID3v2AudioOptions &Options, TID3v2AudioInfo &Out);
