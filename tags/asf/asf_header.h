#pragma once
// The reader of an ASF file's Header object: where each header object lies, the stored attributes, and the values the audio
// properties and the read-only pseudo-attributes are computed from.
//
// Objects read: Header (object count, two reserved bytes), File Properties (file size, play
// and send duration, preroll, flags, maximum bit rate), Stream Properties (the stream types;
// the first audio stream's WAVEFORMATEX: codec id, channels, sample rate, average bytes per
// second, bits per sample), Stream Bitrate Properties, Codec List (the first codec's name and
// description), Content Description (Title, Author, Copyright, Description, Rating), Extended
// Content Description (types 0 string, 1 bytes, 2 BOOL in 4 bytes, 3 DWORD, 4 QWORD, 5 WORD),
// the Header Extension with its Metadata and Metadata Library objects (stream numbers, language
// index, type 6 GUID, BOOL in 2 bytes, values over 64 KiB), Content Encryption and Extended
// Content Encryption (the file is protected). Every other object is only located.
//
// Nothing is trusted: the header's size is checked against the file and kASFMaxHeaderBytes;
// each object's size against the object that encloses it; the Header Extension's data size
// against its object; string lengths against their object; record counts against the bytes
// left (each record's smallest size); value lengths against their type; a "WM/Picture" value
// against its own data length. What breaks a rule makes the header damaged: what could be read
// is kept, and the writer refuses to write the file back. The header is also damaged (but read
// whole) when its object count disagrees with the objects found, when bytes are left over at
// the end of the header, of the Header Extension data or of an attribute object, when there is
// no File Properties object or more than one, or when no Data object follows the header.
//
// Stored attributes come in a fixed order of objects (Content Description, Extended Content
// Description, Metadata, Metadata Library), each object's in file order. A Content Description
// field that is empty is not an attribute (the media runtime does not report one either).

#include <cstdint>
#include <string>
#include <vector>

#include "tags/asf/asf_guids.h"
#include "tags/asf/wma_tag_frame.h"

class TReadView;

// A header larger than this is not read: the file loads no attribute and is damaged.
constexpr std::int64_t kASFMaxHeaderBytes = 64LL * 1024 * 1024;
// Every object starts with its GUID and 64-bit size.
constexpr std::int64_t kASFObjectHeaderBytes = 24;
// The Header object: object header, object count, two reserved bytes.
constexpr std::int64_t kASFHeaderObjectBytes = 30;
// The Header Extension: object header, reserved GUID, reserved word, data size.
constexpr std::int64_t kASFHeaderExtensionBytes = 46;
// The File Properties object's body, and where its file size field lies in it.
constexpr std::int64_t kASFFilePropertiesBodyBytes = 80;
constexpr std::int64_t kASFFileSizeFieldInBody = 16;
// File Properties flags.
constexpr std::uint32_t kASFFlagBroadcast = 1u;
constexpr std::uint32_t kASFFlagSeekable = 2u;

enum TASFReadResult : int { asfrOk = 0, asfrNotASF = 1, asfrDamaged = 2 };

// An object: its GUID, its offset in the file and its size (header included).
struct TASFObjectPlace {
  TASFGuid ID{};
  std::int64_t Offset = 0;
  std::int64_t Size = 0;
};

struct TASFFileProperties {
  bool Found = false;
  std::uint64_t FileSize = 0;
  std::uint64_t PlayDuration = 0;  // 100-nanosecond units
  std::uint64_t SendDuration = 0;
  std::uint64_t Preroll = 0;       // milliseconds
  std::uint32_t Flags = 0;
  std::uint32_t MaxBitrate = 0;
};

// The first audio stream's format.
struct TASFAudioProperties {
  bool Found = false;
  std::uint16_t FormatTag = 0;
  std::uint16_t Channels = 0;
  std::uint32_t SampleRate = 0;
  std::uint32_t AvgBytesPerSec = 0;
  std::uint16_t BlockAlign = 0;
  std::uint16_t BitsPerSample = 0;
};

struct TASFHeader {
  std::int64_t Size = 0;             // the Header object's size as stored
  std::uint32_t ObjectCount = 0;
  std::uint8_t Reserved1 = 0, Reserved2 = 0;
  std::vector<TASFObjectPlace> Objects;   // the header objects in file order
  int Extension = -1;                     // the Header Extension's index in Objects; -1: none
  std::vector<TASFObjectPlace> ExtensionObjects;  // the objects in its data, in file order
  TASFFileProperties File;
  TASFAudioProperties Audio;
  std::string CodecName, CodecDescription;
  std::uint64_t StreamBitrateSum = 0;     // Stream Bitrate Properties, bits per second
  bool HasAudio = false, HasVideo = false, HasImage = false, HasScript = false, HasFileTransfer = false,
       HasBinary = false;
  bool Protected = false;
  bool Damaged = false;
  std::vector<TWMATagFrame> Attributes;   // every stored attribute, any stream
};

// Reads the header at the start of View into Out: asfrNotASF (Out empty) when the file does not
// start with a Header object, asfrDamaged when it breaks a rule above, asfrOk otherwise.
int ReadASFHeader(TReadView &View, TASFHeader &Out);
// Whether the bytes begin with the Header object's GUID.
bool StartsWithASFHeader(std::span<const std::uint8_t> Bytes);
