#pragma once
// TFlacMetadata: the metadata blocks of a FLAC stream (RFC 9639), walked, edited and planned.
//
// Native layout: optional ID3v2 tags (kept as they are), "fLaC", a STREAMINFO block, further
// metadata blocks, then the audio frames. Each block has a 4-byte header: the last-block flag
// (bit 7 of byte 0), a 7-bit type and a 24-bit big-endian body length. Every block is kept,
// whatever its type: PADDING, APPLICATION, SEEKTABLE, VORBIS_COMMENT, CUESHEET, PICTURE and the
// reserved types 7-126 alike, as its body bytes or, for a body not read (padding always, and on
// a tags-only load everything but the tags), as its place in the content, from where a save
// that keeps the block copies it. The comment and picture bodies are decoded elsewhere.
// Type 127 (forbidden), a length past the end of the data or a stream that ends before a block
// with the last flag mark the metadata damaged: the blocks before the fault are loaded, and no
// save is planned, since where the audio starts is then unknown.
//
// Nothing from the file is trusted: block headers are read through ByteReader, every length is
// checked against the bytes that remain, and the walk is bounded in block count and total size.
//
// The editor never writes: PlanSave fills a TRewritePlan against the old content. In place when
// the changed blocks fit the space of the old changed blocks plus a PADDING block (the file keeps
// its size and only the changed blocks and the padding differ), otherwise a rebuild with fresh
// padding as the last block. Exactly the last block carries the last flag.
//
// Ogg FLAC carries the same blocks in packets: the first is the mapping header (0x7F "FLAC",
// version, header packet count, then "fLaC" and the STREAMINFO block); each further header packet
// is one metadata block. LoadFromPackets reads those into the same block list.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tags/streams/rewrite_plan.h"
#include "tags/streams/stream.h"
#include "tags/vorbis/picture_block.h"  // kMaxFlacBlockBody, the largest body a 24-bit length can describe

// Limits of the walk: no real file comes near them.
constexpr std::size_t kMaxFlacBlocks = 4096;
constexpr std::int64_t kMaxFlacMetadataBytes = 256 * 1024 * 1024;
constexpr std::size_t kFlacStreamInfoSize = 34;
constexpr std::uint32_t kDefaultFlacPadding = 4092;

enum TFlacBlockType : std::uint8_t {
  fbtStreamInfo = 0,
  fbtPadding = 1,
  fbtApplication = 2,
  fbtSeekTable = 3,
  fbtVorbisComment = 4,
  fbtCueSheet = 5,
  fbtPicture = 6,
  fbtForbidden = 127,
};

// The STREAMINFO body, decoded.
struct TFlacStreamInfo {
  std::uint16_t MinBlockSize = 0;
  std::uint16_t MaxBlockSize = 0;
  std::uint32_t MinFrameSize = 0;   // 24 bits
  std::uint32_t MaxFrameSize = 0;   // 24 bits
  std::uint32_t SampleRate = 0;     // 20 bits, Hz
  std::uint8_t Channels = 0;        // 1..8
  std::uint8_t BitsPerSample = 0;   // 4..32
  std::uint64_t TotalSamples = 0;   // 36 bits; 0 = unknown
  std::array<std::uint8_t, 16> MD5{};

  // A sample rate, channels, bits per sample and a known sample count.
  bool Valid() const { return SampleRate > 0 && Channels > 0 && BitsPerSample > 0 && TotalSamples > 0; }
  // Seconds; 0 when not valid.
  double PlayTime() const;
};

// False when Body is not 34 bytes.
bool DecodeFlacStreamInfo(std::span<const std::uint8_t> Body, TFlacStreamInfo &Out);

// kbit/s of AudioSize bytes played in PlayTime seconds, rounded; 0 when the play time is not a
// positive finite number or the result does not fit.
std::uint32_t FlacBitrate(std::int64_t AudioSize, double PlayTime);

struct TFlacBlock {
  std::uint8_t Type = 0;
  TBytes Data;                  // the body, when Held
  std::int64_t Offset = -1;     // of the header in the old content; -1 for a block added since
  bool Dirty = false;           // its bytes were replaced since the load
  bool Held = true;             // false: the body was left in the content, Length bytes after the header
  std::uint32_t Length = 0;     // the length of a body not held

  std::uint64_t Size() const { return Held ? Data.size() : Length; }
};

// Which block bodies a native load reads into memory. PADDING bodies are never read: they are
// zeros by definition and a save writes padding anew.
enum class TFlacBodies {
  fbAll,       // every other body
  fbTagsOnly,  // STREAMINFO, VORBIS_COMMENT, and PICTURE bodies of at most kHeldPictureBody bytes
};

// The largest PICTURE body a tags-only load reads; a larger one is left in the content.
constexpr std::uint32_t kHeldPictureBody = 16 * 1024;

enum TFlacLoadResult : int {
  flOk = 0,
  flNotFlac = 1,         // no "fLaC" marker (behind ID3v2 tags) or no Ogg FLAC mapping header
  flBadStreamInfo = 2,   // the first block is not a 34-byte STREAMINFO
  flReadFailed = 3,      // the stream could not be read
  flUnsupportedOgg = 4,  // an Ogg FLAC mapping of another major version
};

enum TFlacPlanResult : int {
  fpOk = 0,
  fpNotLoaded = 1,       // nothing loaded, or loaded from Ogg packets (no byte layout to plan on)
  fpDamaged = 2,         // the metadata is damaged: the load is kept, writing is refused
  fpBlockTooLarge = 3,   // a block body over 16,777,215 bytes, or a padding size over it
  fpContentChanged = 4,  // OldSize differs from the size at load
};

class TFlacMetadata {
public:
  // Walks the native stream from position 0. flOk when the marker and STREAMINFO were read; the
  // walk may still have ended early (Damaged). Bodies says which bodies are read; a body left in
  // the content is copied from there by a save that keeps the block.
  int Load(TStream &Stream, TFlacBodies Bodies = TFlacBodies::fbAll);
  // Ogg FLAC: Packets[0] is the mapping header, the rest the header packets that follow it
  // (more than needed may be given: the walk stops after the block with the last flag).
  int LoadFromPackets(std::span<const std::span<const std::uint8_t>> Packets);

  bool Loaded() const { return FLoaded; }
  bool Damaged() const { return FDamaged; }
  const std::string &DamageReason() const { return FDamageReason; }
  bool FromOgg() const { return FFromOgg; }

  // Blocks in stream order; Blocks()[0] is STREAMINFO.
  const std::vector<TFlacBlock> &Blocks() const { return FBlocks; }
  const TFlacStreamInfo &StreamInfo() const { return FInfo; }

  std::int64_t ID3v2Size() const { return FID3v2Size; }          // bytes before the marker
  std::int64_t AudioOffset() const { return FAudioOffset; }      // -1 when unknown
  std::int64_t FileSize() const { return FFileSize; }
  std::int64_t AudioSize() const { return FAudioOffset < 0 ? 0 : FFileSize - FAudioOffset; }
  double PlayTime() const { return FInfo.PlayTime(); }
  std::uint32_t Bitrate() const { return FlacBitrate(AudioSize(), PlayTime()); }

  // Index of the first block of Type, -1 when none; the number of them.
  int IndexOf(std::uint8_t Type) const;
  std::size_t CountOf(std::uint8_t Type) const;

  // Replaces the body of block Index (not STREAMINFO); false for a bad index. The block counts as
  // changed even when the new bytes have the old size.
  bool ReplaceBlock(std::size_t Index, TBytes Data);
  // Adds a block after the last block of its type, or, when there is none, after the last block
  // that is not PADDING. Returns its index; -1 for STREAMINFO or type 127.
  int AddBlock(std::uint8_t Type, TBytes Data);
  bool DeleteBlock(std::size_t Index);
  // Deletes every block of Type (never STREAMINFO); returns how many.
  std::size_t DeleteBlocks(std::uint8_t Type);
  // Removes the tags: every PICTURE block goes, the comment block is replaced by one holding only
  // its vendor string (DefaultVendor when it had none) and no entries, and the next save is a
  // rebuild with PaddingSize bytes of padding. Other blocks stay.
  void RemoveTags(std::uint32_t PaddingSize = 0);
  // Any block replaced, added or deleted since the load.
  bool Changed() const;

  // Plans the save of the block list against the old content of OldSize bytes (the stream that
  // was loaded). A rebuild writes PaddingSize bytes of padding; 0 writes no padding block.
  // ForceRebuild rebuilds even when the change would fit in place.
  int PlanSave(std::int64_t OldSize, TRewritePlan &Plan, std::uint32_t PaddingSize = kDefaultFlacPadding,
               bool ForceRebuild = false) const;

  // The Ogg FLAC header packets of the block list: the mapping header with the STREAMINFO block,
  // then one packet per other block (PADDING left out), the last flag on the last one.
  std::vector<TBytes> HeaderPackets() const;

  static const char *DefaultVendor;

private:
  struct TOldBlock {
    std::int64_t Offset = 0;
    std::int64_t End = 0;
    std::uint8_t Type = 0;
  };
  void Reset();
  void MarkDamaged(const char *Reason);
  bool AcceptBlock(TFlacBlock Block, std::int64_t &Total);
  bool PlanInPlace(TRewritePlan &Plan) const;
  void PlanRebuild(TRewritePlan &Plan, std::uint32_t PaddingSize) const;

  std::vector<TFlacBlock> FBlocks;
  std::vector<TOldBlock> FOld;       // the blocks after STREAMINFO as read
  TFlacStreamInfo FInfo;
  bool FLoaded = false;
  bool FDamaged = false;
  bool FFromOgg = false;
  bool FStructureChanged = false;    // a block was added or deleted
  bool FForceRebuild = false;
  std::uint32_t FForcedPadding = 0;
  std::string FDamageReason;
  std::int64_t FID3v2Size = 0;
  std::int64_t FFileSize = 0;
  std::int64_t FAudioOffset = -1;
  std::uint8_t FOggMinorVersion = 0;
};

// The body of a comment block with Vendor and no entries.
TBytes EmptyVorbisCommentBody(const std::string &Vendor);
// The vendor string of a comment body; false when the body does not start with one.
bool VorbisCommentVendor(std::span<const std::uint8_t> Body, std::string &Vendor);
