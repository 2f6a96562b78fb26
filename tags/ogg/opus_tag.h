#pragma once
// TOpusTag: the comment header of an Ogg stream whose first logical stream is Vorbis (the Vorbis I
// format document, section 4.2 and appendix A), Opus (RFC 7845 section 5) or Theora (read only),
// with the audio properties its identification header and last page give.
//
// Layout read: optional ID3v2 tags in front (skipped, kept on save), then the pages of the first
// serial (RFC 3533). Packet 1 is the identification header (Vorbis: 0x01 "vorbis", 30 bytes;
// Opus: "OpusHead", at least 19 bytes; Theora: 0x80 "theora", 42 bytes), packet 2 the comment
// header (0x03 "vorbis" + body + framing byte + zero padding; "OpusTags" + body + kept binary
// data; 0x81 "theora" + body), and for Vorbis packet 3 the setup header, kept byte for byte.
//
// Invariants:
// - Nothing read is trusted: pages and packets come through the bounded Ogg page layer, the
//   identification header is checked against its packet's size before a field is taken, and the
//   comment body is parsed by TVorbisComments, which checks every length. A damaged comment body
//   keeps what was read safely and is never written back (otDamaged).
// - Comments keep the stored bytes of every entry nobody changed, so a save changes only what the
//   caller changed.
// - Planning only: PlanSave fills a TRewritePlan against the content it is given, which is read
//   again, so a plan always fits what is there now. The plan is in place only when the new header
//   pages take exactly the bytes of the old ones (helped by padding: a "PADDING" comment for Opus,
//   zero bytes after the framing byte for Vorbis); otherwise the file is rebuilt. Either way the
//   following pages of the serial get consecutive sequence numbers and new CRCs, and other serials
//   stay as they are. Other serials among the header pages, damaged header pages, audio on the last
//   header page or a Theora stream are read but not written (otCannotRewrite).
// - The audio properties never divide by zero, and no non-finite value reaches an integer.

#include <cstdint>
#include <span>
#include <string>

#include "tags/streams/rewrite_plan.h"
#include "tags/streams/stream.h"
#include "tags/vorbis/picture_block.h"
#include "tags/vorbis/vorbis_comments.h"

enum TOggFormat { ofUnknown = 0, ofVorbis = 1, ofOpus = 2, ofTheora = 3 };

enum TOpusTagResult : int {
  otOk = 0,
  otFileNotFound = 4,    // empty or unreadable content
  otWriteFailed = 6,     // a comment packet or picture too large to be stored
  otDamaged = 7,         // damaged comment header: loaded what was safe, writing refused
  otNoStream = 9,        // at save time the content holds no Opus or Vorbis stream
  otCannotRewrite = 12,  // read but not written: interleaved serials, damaged header pages, Theora
  otUnknown = 0xFFFF,    // not Ogg, or no recognised codec
};

// The identification header sizes: a shorter packet is a damaged header.
constexpr std::size_t kVorbisIdentSize = 30;
constexpr std::size_t kOpusHeadSize = 19;
constexpr std::size_t kTheoraIdentSize = 42;
// The name of the Opus comment that pads the comment packet to a size.
constexpr std::string_view kOpusPaddingName = "PADDING";
// The bytes of a padding comment besides its "#" characters: length field, name, "=".
constexpr std::uint32_t kOpusPaddingOverhead = 12;

// Picture comments longer than this are left encoded by GetPicture when asked to.
constexpr std::size_t kEncodedPictureText = 16 * 1024;
constexpr std::size_t kEncodedPictureDataHead = 4096;

class TOpusTag {
public:
  bool Loaded = false;          // the last Load returned otOk
  TOggFormat Format = ofUnknown;
  TVorbisComments Comments;     // the comment packet's body, picture comments included
  bool UpperCaseFieldNamesToWrite = true;  // passed to Comments.UpperCaseNewNames by Load and PlanSave
  bool WritePadding = false;
  std::uint32_t PaddingSizeToWrite = 2048;

  // Reads from position 0 (after any ID3v2 tag); the stream's position is restored.
  int Load(TStream &Content);
  // Forgets what was loaded; the write options stay.
  void Clear();
  bool Assign(const TOpusTag &Source);
  bool Damaged() const;
  // Loaded, not damaged, not interleaved or otherwise unwritable, not Theora.
  bool Writable() const;

  // The picture comments (METADATA_BLOCK_PICTURE, COVERART) in order; Key = the name as stored.
  int PictureCount() const;
  // A COVERART comment (a bare base64 image) gives a picture of type 0 with only Data set. With
  // Encoded, a METADATA_BLOCK_PICTURE value of plain base64 over kEncodedPictureText characters
  // is not decoded whole: Out.Data holds the first bytes of the image (at most
  // kEncodedPictureDataHead) and Encoded the rest; Encoded stays empty for any other picture.
  bool GetPicture(int Index, TPictureBlock &Out, std::string &Key, TEncodedPicture *Encoded = nullptr) const;
  // The pictures become exactly these, in order: the k-th picture comment is kept byte for byte
  // when it already holds picture k, otherwise replaced in its place; new ones are appended as
  // METADATA_BLOCK_PICTURE; left-over picture comments are deleted. otWriteFailed, with nothing
  // changed, when a picture is too large for a comment.
  int SetPictures(std::span<const TPictureBlock> Pictures);

  // Plans saving Comments into Content (position 0, read again here). Nothing changed: otOk and
  // an empty plan.
  int PlanSave(TStream &Content, TRewritePlan &Plan);
  // Plans removing the tags of Content: every comment not named exactly "ENCODER" goes, no padding.
  static int PlanRemove(TStream &Content, TRewritePlan &Plan);

  // Audio properties, 0 when unknown.
  double PlayTime() const { return FPlayTime; }
  std::uint32_t Bitrate() const { return FBitrate; }        // kbit/s
  std::uint32_t SampleRate() const { return FSampleRate; }  // Opus: the input sample rate
  std::uint32_t Channels() const { return FChannels; }
  std::uint64_t SampleCount() const { return FSampleCount; }
  // Bytes of the pages that carry the comment header (for Vorbis with the setup header).
  std::int64_t Size() const { return Loaded ? FCommentPagesSize : 0; }
  std::int64_t ID3v2Size() const { return FID3v2Size; }

private:
  // Play time, sample count and bit rate from the last page of the serial with a granule position.
  void ReadAudioProperties(TStream &Content, std::int64_t HeaderEnd, std::uint32_t Serial, std::uint32_t Rate,
                           std::uint32_t ChannelCount, std::uint16_t PreSkip, std::int32_t NominalBitrate);

  bool FDamaged = false;        // identification or comment header damaged or missing
  bool FUnwritable = false;     // read, but the header pages cannot be rewritten faithfully
  std::int64_t FID3v2Size = 0;
  std::int64_t FCommentPagesSize = 0;
  double FPlayTime = 0;
  std::uint32_t FBitrate = 0;
  std::uint32_t FSampleRate = 0;
  std::uint32_t FChannels = 0;
  std::uint64_t FSampleCount = 0;
};
