#pragma once
// Audio-property readers for the file kinds that carry ID3v2 tags: MPEG audio (layers I to III
// of MPEG 1, 2 and 2.5, with the "Xing"/"Info" VBR header and its LAME extension, or a "VBRI"
// header), RIFF WAVE and RF64, AIFF and AIFC, DSF and DSDIFF. The ID3v2 tag object calls
// ReadID3v2AudioInfo once it knows the file kind and keeps the TID3v2AudioInfo it fills.
//
// Formats followed: ISO/IEC 11172-3 and 13818-3 (frame header, bit-rate and sample-rate tables),
// the Xing VBR header with the LAME tag revision 1 layout, the Fraunhofer VBRI header, Microsoft
// RIFF WAVE with WAVE_FORMAT_EXTENSIBLE, EBU Tech 3306 (RF64), Apple AIFF 1.3 / AIFF-C, the Sony
// DSF file format 1.01 and the DSDIFF 1.5 format document.
//
// The RIFF, RF64, AIFF and DSDIFF chunks are walked by the chunk layer of tags/riff, bounded by
// the stream (or the form) and by kMaxFormChunks.
//
// Invariants: every structure is read through ByteReader from a bounded window of the stream;
// no size field is trusted; sample counts and sizes are 64-bit; no value is divided by zero
// (a missing rate, bit rate or play time yields 0); table indexes from the file are checked.
// The readers never throw and leave the stream position where it was on entry.

#include <cstdint>
#include <string>

#include "tags/streams/byte_reader.h"
#include "tags/streams/stream.h"

enum TSourceFileType { sftUnknown, sftMPEG, sftWAVE, sftRF64, sftAIFF, sftDSF, sftDFF };

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

// The fmt chunk of a WAVE file in file order; the extensible fields are 0 unless FormatTag is
// FFFE hex.
struct TWaveFmt {
  std::uint32_t fmtSize = 0;
  std::uint16_t FormatTag = 0;
  std::uint16_t Channels = 0;
  std::uint32_t SamplesPerSec = 0;
  std::uint32_t AvgBytesPerSec = 0;
  std::uint16_t BlockAlign = 0;
  std::uint16_t BitsPerSample = 0;
  std::uint16_t cbSize = 0;
  std::uint16_t ValidBitsPerSample = 0;
  std::uint32_t ChannelMask = 0;
  std::uint8_t SubFormat[16] = {};
};

struct TAIFFInformation {
  std::uint16_t Channels = 0;
  std::uint32_t SampleFrames = 0;
  std::uint16_t SampleSize = 0;
  double SampleRate = 0;
  std::string CompressionID;
  std::string Compression;            // UTF-8 (stored in the ANSI code page)
};

enum TDSFChannelType {
  dsfctUnknown, dsfctMono, dsfctStereo, dsfct3Channels, dsfctQuad, dsfct4Channels, dsfct5Channels, dsfct51Channels
};

struct TDSFInfo {
  std::uint32_t FormatVersion = 0;
  std::uint32_t FormatID = 0;
  TDSFChannelType ChannelType = dsfctUnknown;
  std::uint32_t ChannelNumber = 0;
  std::uint32_t SamplingFrequency = 0;
  std::uint32_t BitsPerSample = 0;
  std::uint64_t SampleCount = 0;
  std::uint32_t BlockSizePerChannel = 0;
  double PlayTime = 0;
  // kbit/s of the uncompressed DSD stream; 0 without a play time.
  int GetBitRate() const;
};

struct TDFFInfo {
  std::string FormatVersion;          // "1.0", "1.3", "1.4", "1.5" or empty
  std::uint32_t SampleRate = 0;
  std::uint16_t ChannelNumber = 0;
  std::string CompressionName;        // "Not Compressed", "DST Encoded" or empty
  std::uint64_t SampleCount = 0;
  double PlayTime = 0;
  std::uint32_t BitRate = 0;
  std::uint64_t SoundDataLength = 0;
  std::uint32_t DSTFramesCount = 0;
  std::uint16_t DSTFramesRate = 0;
  double Ratio = 0;

  // Reads a DSDIFF file ("FRM8" ... "DSD "), optionally behind an ID3v2 tag; false when the
  // stream is not one or holds no sound chunk. Every field is reset first.
  bool LoadFromFile(const std::string &FileName);
  bool LoadFromStream(TStream &Stream);
};

// Options the ID3v2 tag object passes down (its own option fields of the same names).
struct TID3v2AudioOptions {
  // False: only recognise the kind (the MPEG frame search still runs); read no properties.
  bool ParseAudioAttributes = true;
  // How far the ID3v2 object searched for a tag at the start; kept for completeness of the
  // option set, the readers here do not use it.
  std::uint32_t BeginningSearchLength = 0;
  // Attempts of the MPEG frame search beyond the first.
  std::uint32_t MPEGSearchLength = kDefaultMPEGSearchLength;
  // Take the play time from the tag's "TLEN" frame (milliseconds, TLENMilliseconds > 0) when
  // the reader has none of its own, and always for MPEG audio.
  bool UseTLENForPlaytime = false;
  std::int64_t TLENMilliseconds = 0;
  // Size of an APEv2 tag at the end of the stream; -1 measures it from the stream.
  std::int64_t APEv2TagSize = -1;
  // Size of an ID3v1 tag with its Lyrics3 block at the end; -1 measures it from the stream.
  std::int64_t ID3v1TagSize = -1;
};

// What the ID3v2 tag object keeps of the audio stream. PlayTime, SampleCount and BitRate are
// filled for every kind (for DSF and DSDIFF they repeat DSFInfo's and DFFInfo's values).
struct TID3v2AudioInfo {
  TSourceFileType SourceFileType = sftUnknown;
  double PlayTime = 0;                // seconds
  std::int64_t FileSize = 0;          // the stream's size
  std::int64_t SampleCount = 0;
  int BitRate = 0;                    // kbit/s
  std::int64_t APEv2TagSize = 0;      // the APEv2 size used for MPEG audio
  std::int64_t ID3v1TagSize = 0;      // the ID3v1 + Lyrics3 size used for MPEG audio
  TMPEGHeader MPEGInfo;
  TWaveFmt WAVInfo;
  TAIFFInformation AIFFInfo;
  TDSFInfo DSFInfo;
  TDFFInfo DFFInfo;

  // The values audio-property consumers read, by kind; 0 when the kind has none.
  int SamplesPerSec() const;
  int Channels() const;              // MPEG: 1 mono, 2 the stereo modes, 0 unknown mode
  int BitsPerSample() const;         // MPEG: 0, the format has none; DSDIFF: 1
  // Length of one MPEG frame in seconds (0.026 when the samples per frame are unknown); 0 for
  // every other kind.
  double FramePlayTime() const;
};

// Reads the audio properties of the stream once its kind is known.
//
// TagStart and TagSize, by kind:
// - sftUnknown or sftMPEG: TagStart is the offset of the ID3v2 tag at the start (the stream
//   position where the tag was looked for when there is none), TagSize its whole size with
//   header and footer (0 without a tag). The audio begins after it: the frame search starts at
//   TagStart + TagSize. With sftUnknown, finding a valid frame pair sets sftMPEG.
// - sftWAVE, sftRF64, sftAIFF, sftDSF, sftDFF: the container's first byte ("RIFF", "RF64",
//   "FORM", "DSD ", "FRM8") is at TagStart + TagSize. TagSize is 0 unless an ID3v2 tag stands in
//   front of the container; an ID3v2 tag inside the container does not matter here.
//
// Out is reset first. Returns true when the kind was confirmed and, with ParseAudioAttributes,
// its header was read; false otherwise (Out.SourceFileType stays sftUnknown for a failed MPEG
// search, and is Kind for a container whose header could not be read).
bool ReadID3v2AudioInfo(TStream &Stream, TSourceFileType Kind, std::int64_t TagStart, std::int64_t TagSize,
                        const TID3v2AudioOptions &Options, TID3v2AudioInfo &Out);

// --- MPEG audio ---

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

// Size of the APEv2 tag at the end (in front of an ID3v1 tag when there is one), header
// included; 0 when there is none or its size does not fit the stream.
std::int64_t APEv2TagSizeAtEnd(TStream &Stream);
// Size of the ID3v1 tag at the end plus the Lyrics3 v2.00 block in front of it; 0 when absent.
std::int64_t ID3v1TagSizeAtEnd(TStream &Stream);

// --- WAVE, AIFF, DSF ---

// Each reads the container that starts at Start and fills the kind's record in Out along with
// PlayTime, SampleCount and BitRate. False when the container's header is not the kind's.
bool ReadWAVEAudioInfo(TStream &Stream, std::int64_t Start, TID3v2AudioInfo &Out);
bool ReadAIFFAudioInfo(TStream &Stream, std::int64_t Start, TID3v2AudioInfo &Out);
bool ReadDSFAudioInfo(TStream &Stream, std::int64_t Start, TID3v2AudioInfo &Out);
bool ReadDFFAudioInfo(TStream &Stream, std::int64_t Start, TID3v2AudioInfo &Out);

// The 80-bit IEEE 754 extended value of an AIFF sample rate (big-endian); 0 for zero,
// denormals, infinities, NaNs, negative values and exponents that do not fit a double.
double AIFFExtendedToDouble(const std::uint8_t Bytes[10]);
