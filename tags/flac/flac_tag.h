#pragma once
// TFlacTag: the tags of a FLAC stream (RFC 9639), native or in Ogg (the Ogg FLAC mapping 1.0):
// the Vorbis comments of the VORBIS_COMMENT block, the PICTURE blocks, and the STREAMINFO
// properties.
//
// Reading: ID3v2 tags in front are skipped (and stay where they are); then either the native
// "fLaC" marker and its metadata blocks (TFlacMetadata), or an Ogg stream whose first packet is
// the mapping header (0x7F "FLAC", major version 1, the header packet count, STREAMINFO), whose
// further header packets each carry one metadata block. The packet count is trusted only as far
// as the packets go; a count of 0 means the blocks run to the one with the last flag.
//
// Invariants:
// - Only the comment block and the picture blocks are ever rewritten, and each only when its
//   built bytes differ from the bytes in the content; every other block (APPLICATION, SEEKTABLE,
//   CUESHEET, PADDING in Ogg, reserved types) stays byte for byte, and so do comment entries
//   nobody changed (TVorbisComments keeps their stored bytes).
// - A damaged metadata walk or comment block is loaded as far as it is safe and never written.
// - Saving only plans: PlanSave walks the content again and fills a TRewritePlan against it (in
//   place over the old comment and padding space when the change fits, otherwise a rebuild with
//   PaddingSizeToWrite padding; for Ogg FLAC a rewrite of the header pages, the following pages
//   of the stream renumbered). The caller applies the plan.
// - No block over 16,777,215 bytes (the 24-bit length field) is ever planned.

#include <cstdint>
#include <span>
#include <vector>

#include "tags/flac/flac_metadata.h"
#include "tags/ogg/ogg_stream.h"
#include "tags/streams/read_view.h"
#include "tags/streams/rewrite_plan.h"
#include "tags/streams/stream.h"
#include "tags/vorbis/picture_block.h"
#include "tags/vorbis/vorbis_comments.h"

// Result codes of load and save, as the tag container converts them.
enum TFlacTagResult : int {
  ftOk = 0,
  ftOnlyStreamInfo = 1,   // not returned: a STREAMINFO-only file loads and may gain a comment block
  ftFileNotFound = 4,     // the content is empty or could not be read
  ftWriteFailed = 6,
  ftUnsupportedOgg = 7,   // Ogg FLAC mapping of another major version
  ftNotFlac = 8,          // neither native FLAC nor Ogg FLAC, or no valid STREAMINFO
  ftDamaged = 11,         // damaged metadata or comment block: loaded what was safe, writing refused
  ftTooLarge = 12,        // a picture or comment block over 16,777,215 bytes: refused before planning
  ftCannotRewrite = 13,   // Ogg FLAC header pages that cannot be rewritten faithfully
  ftChangedSinceLoad = 14,  // a picture left in the file at load can no longer be read from it
  ftUnknown = 0xFFFF,
};

// Header packets read at most when the mapping header announces no count.
constexpr int kMaxOggFlacHeaderPackets = 1024;

// Where the metadata of one FLAC stream lies: the blocks, and for Ogg FLAC the header pages.
struct TFlacLayout {
  TFlacMetadata Meta;
  bool Ogg = false;
  TOggHeaders Headers;        // Ogg FLAC: the header packets as read (mapping header first)
  bool PacketsMismatch = false;  // Ogg FLAC: header packets beyond the block with the last flag
  std::int64_t ID3v2Size = 0;
  std::int64_t FileSize = 0;
};

// Reads the layout of Content from position 0; a TFlacTagResult. Bodies says which native block
// bodies are read (Ogg FLAC header packets are always read whole).
int ReadFlacLayout(TStream &Content, TFlacLayout &Out, TFlacBodies Bodies = TFlacBodies::fbAll);

// The first bytes of a picture's data read when the rest stays in the file: enough to tell the
// image format.
constexpr std::size_t kFlacPictureDataHead = 4096;

class TFlacTag {
public:
  bool Loaded = false;                      // the last Load returned ftOk
  TVorbisComments Comments;                 // the VORBIS_COMMENT block's body (vclPlain)
  bool UpperCaseFieldNamesToWrite = true;   // passed to Comments.UpperCaseNewNames on load and before a save
  std::uint32_t PaddingSizeToWrite = kDefaultFlacPadding;  // padding written by a rebuild (native FLAC)

  // From position 0. ftOk also for damaged metadata (then Damaged() is true and no save is planned).
  // Every block body the tags need is read.
  int Load(TStream &Content);
  // As above, from a file: a picture block over kHeldPictureBody bytes is left in the file (its
  // fields and the first bytes of its data are read), as are blocks that hold no tags.
  int Load(TReadView &View);
  void Clear();
  // Copies the comments and pictures and the save settings, not the layout (Loaded is false after).
  bool Assign(const TFlacTag &Source);
  bool IsOgg() const;
  bool Damaged() const;

  int PictureCount() const;
  // False for a bad index or a block that does not parse. For a picture left in the file: with
  // DataInFile, Out.Data holds the first bytes of the data (at most kFlacPictureDataHead) and
  // DataInFile says where all of them are; without it, the block is read from the file (false
  // when the file changed since the load).
  bool GetPicture(int Index, TPictureBlock &Out, TFileRange *DataInFile = nullptr) const;
  // The pictures become exactly these, in order. ftOk, or ftTooLarge (nothing changed) when one
  // does not fit a block.
  int SetPictures(std::span<const TPictureBlock> Pictures);
  // The stored body of picture Index (as loaded or as SetPictures built it); a body left in the
  // file is read from there. False for a bad index or a file changed since the load.
  bool PictureBody(int Index, TBytes &Out) const;

  // Plans the save of Comments and the pictures against Content (walked again from position 0).
  // Nothing to change gives an empty plan and ftOk. Pictures left in the file at load are read
  // first (ftChangedSinceLoad when that file is no longer the one loaded) and held from then on.
  int PlanSave(TStream &Content, TRewritePlan &Plan);
  // Plans taking the tags out of Content: every PICTURE block goes, the comment block keeps only
  // its vendor string; no padding; other blocks stay.
  static int PlanRemove(TStream &Content, TRewritePlan &Plan);

  const TFlacStreamInfo &StreamInfo() const;
  double PlayTime() const;
  std::uint32_t Bitrate() const;       // kbit/s over the audio bytes
  std::int64_t Size() const;           // bytes of the metadata (native: marker + blocks; Ogg: header pages)
  std::int64_t ID3v2Size() const;      // bytes of ID3v2 tags in front

private:
  // A picture block's body: held, or left in the loaded file with its fields read.
  struct TStoredPicture {
    TBytes Body;                  // held
    TFileRange InFile;            // not held: the whole body in the loaded file
    TPictureBlock Head;           // not held: the fields, Data the first bytes of the picture data
    std::uint64_t DataStart = 0;  // not held: where the data begin in the body
    bool Held() const { return InFile.Empty(); }
  };
  int LoadFrom(TStream &Content, const std::shared_ptr<const TFileIdentity> &File);
  // Makes the blocks of Meta hold CommentBody and the pictures (all held); true when a block changed.
  bool ApplyTo(TFlacMetadata &Meta, const TBytes &CommentBody) const;

  TFlacLayout FLayout;
  std::vector<TStoredPicture> FPictures;
  bool FDamaged = false;
};
