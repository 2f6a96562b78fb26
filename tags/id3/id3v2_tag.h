#pragma once
// TID3v2Tag: one ID3v2 tag (versions 2.2, 2.3 and 2.4; ID3v2.4.0 structure document, with the
// 2.3.0 and 2.2.0 documents for the older layouts) as an ordered list of frames, found at the
// start of a file or inside a RIFF WAVE, RF64, AIFF/AIFC, DSF or DSDIFF container, and written
// back into the same place.
//
// Reading: the tag's body is read once, bounded by the stream and, inside a container, by the
// chunk that holds it; versions 2.2 and 2.3 undo unsynchronisation on the whole body before
// the frames are split (their frame sizes count decoded bytes); version 2.4 undoes it per
// frame. A 2.4 footer belongs to the tag's extent.
// No size from the file is trusted: frames are checked against the bytes left in the body,
// extra header fields against the frame, nested chapter frames against kMaxChapterDepth.
// Version 2.2 frames are converted to their 2.3 IDs (PIC to APIC with a MIME type).
//
// Writing: an in-place update when the new tag fits the old tag and its padding (the file
// keeps its size and no byte outside the tag changes, and on failure the old bytes are put
// back); otherwise a rebuild through TTempFile, which leaves the original untouched until the
// complete new file replaces it. Containers are checked before they are changed. A frame that
// nobody changed since the load goes out as the bytes it was read from while the version stays;
// other frames follow the version written (frame IDs, the date frames). Result codes:
// TID3v2Result.

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "tags/audio/audio_readers.h"
#include "tags/id3/id3v2_frame.h"
#include "tags/streams/read_view.h"
#include "tags/streams/stream.h"

struct TRewritePlan;

enum TID3v2Result : int {
  id3v2Ok = 0,
  id3v2NoTag = 1,               // load: no tag; removal: the container holds no ID3 chunk
  id3v2NoFrames = 2,            // save: nothing to write and no tag to strip; strip: no tag found
  id3v2FileNotFound = 4,        // the file does not exist or cannot be opened
  id3v2UpdateError = 5,         // the existing file or tag is not one that can be updated safely
  id3v2WriteError = 6,          // writing failed; no temporary file; the rename failed
  id3v2BadContainer = 7,        // the WAV/RF64/AIFF/DSF/DSDIFF sizes do not add up
  id3v2BadVersion = 8,          // load: major version not 2-4; save: not 3 or 4
  id3v2WrongContainer = 9,      // the container header is not the expected one
  id3v2SizeOverflow = 10,       // a new size does not fit its field (also a tag body over 2^28-1)
  id3v2NoExclusiveAccess = 11,  // kept for the code table; not produced on this platform
  id3v2ReadOnly = 12,           // the file is read-only (judged by its mode bits)
  id3v2Failure = 0xFFFF,        // the header could not be read; an unexpected failure
};

enum TID3v2SaveVersion { sfid3v2NoChange, sfid3v23, sfid3v24 };

// Limits next to the reader: the frames one tag may hold.
constexpr int kMaxID3v2Frames = 100000;
// A picture frame larger than this, when its bytes lie beyond what the read view holds, is left
// in the file at load; kPictureHeadBytes of its data are read for its fields and content check.
constexpr std::int64_t kDeferredPictureBytes = 16 * 1024;
constexpr std::int64_t kPictureHeadBytes = 4096;
// Tags standing one behind the other at the start of a file that a removal takes away at once;
// any beyond stay for the next removal (each header is read separately).
constexpr int kMaxStackedID3v2Tags = 64;

class TID3v2ExtendedHeader3 {
public:
  std::uint32_t Size = 0;                  // bytes after the size field
  std::uint8_t CodedSize[4] = {};
  TMemoryStream Data;                      // the bytes after the flags (padding size, CRC)
  std::uint16_t Flags = 0;
  bool CRCPresent = false;
};

class TID3v2ExtendedHeader4 {
public:
  std::uint32_t Size = 0;                  // the whole extended header
  std::uint8_t CodedSize[4] = {};
  std::uint8_t FlagBytes = 0;
  std::uint8_t Flags = 0;
  std::uint32_t ExtendedFlagsDataSize = 0;
  TBytes ExtendedFlagsData;                // CRC and restriction bytes as stored
  bool TagIsAnUpdate = false;
  bool CRCPresent = false;
  bool TagRestrictions = false;
  std::uint8_t TagRestrictionsData = 0;
  std::uint8_t TextEncodingRestrictions = 0;
  std::uint8_t TextFieldsSizeRestriction = 0;
  std::uint8_t ImageEncodingRestriction = 0;
  std::uint8_t ImageSizeRestriction = 0;
};

class TID3v2Tag : public TID3v2Frames {
public:
  TID3v2Tag();
  ~TID3v2Tag() override;

  void Clear();
  void Assign(const TID3v2Tag &Source);

  // --- reading ---
  // Reads the tag at the view's position (a tag at the start, or the one inside a RIFF, AIFF,
  // DSF or DSDIFF container starting there) and the audio properties behind it.
  int LoadFromView(TReadView &View);
  int LoadFromFile(const std::string &FileName, bool Buffered = true);
  int LoadFromStream(TStream &Stream, bool Buffered = false);
  // Reads a tag from a memory block of Size bytes; nothing past the block is touched.
  int LoadFromMemory(const void *MemoryAddress, std::int64_t Size);
  int LoadTagFromStream(TStream &Stream);
  bool RemoveUnsynchronisationOnAllFrames();
  bool DeCompressAllFrames();
  // Fetches the data of every frame the load left in the file; false when the file is no
  // longer the one loaded (nothing is fetched for good then).
  bool LoadDeferredFrames();

  // --- writing ---
  int SaveToFile(const std::string &FileName, bool Buffered = false);
  int SaveToStream(TStream &Stream, bool Buffered = false);
  // Plans writing the frames into the content of Stream (a file's view or any stream): the tag
  // in place or rebuilt, or the old tag removed when no frame is left to write. Nothing is
  // written; FinishSave records the written version once the plan has been carried out.
  int PlanSaveInto(TStream &Stream, TRewritePlan &Plan);
  void FinishSave();
  // Writes header, frames and PaddingSizeToWrite zero bytes at the stream position.
  int SaveTagToStream(TStream &Stream, std::uint32_t PaddingSizeToWrite);
  int WriteAllFrames(TStream &Stream);
  // The tag's size with this padding as it would be written now: header + frames + padding.
  std::int64_t CalculateTagSize(std::int64_t APaddingSize);
  std::uint32_t CalculateTagCRC32();

  // --- properties ---
  std::int64_t Position() const { return FPosition; }
  TSourceFileType SourceFileType() const { return FSourceFileType; }
  double PlayTime() const { return AudioInfo.PlayTime; }
  std::int64_t FileSize() const { return FFileSize; }
  bool WasUnsynchronised() const { return FWasUnsynchronised; }
  std::int64_t SampleCount() const { return AudioInfo.SampleCount; }
  int BitRate() const { return AudioInfo.BitRate; }
  bool Error() const { return FError; }
  double GetPlayTime() const { return AudioInfo.PlayTime; }
  std::int64_t GetSampleCount() const { return AudioInfo.SampleCount; }
  double GetFramePlayTime() const { return AudioInfo.FramePlayTime(); }

  std::uint8_t CodedSize[4] = {};
  std::string SourceFileName;
  bool Loaded = false;
  std::uint8_t Flags = 0;
  bool Unsynchronised = false;
  bool Compressed = false;                 // version 2.2 only
  bool ExtendedHeader = false;
  bool Experimental = false;
  bool FooterPresent = false;
  TID3v2ExtendedHeader3 ExtendedHeader3;
  TID3v2ExtendedHeader4 ExtendedHeader4;
  std::uint32_t PaddingSize = 0;
  std::uint32_t PaddingToWrite = 4096;

  // Audio properties read during the load (ReadID3v2AudioInfo).
  TID3v2AudioInfo AudioInfo;
  bool ParseAudioAttributes = true;
  std::uint32_t BeginningSearchLength = 0;
  std::uint32_t MPEGSearchLength = kDefaultMPEGSearchLength;
  bool AutoRemoveUnsynchronisation = true;
  bool UseTLENForPlaytime = false;

  std::uint8_t MajorVersion = 3;
  std::uint8_t MinorVersion = 0;
  // The whole tag's extent in bytes: header, body and a 2.4 footer.
  std::uint32_t Size = 0;

  bool ParseCoverArts = true;
  bool TrimText = true;
  TID3v2TextEncoding APICTextEncodingToWrite = teUnicode;
  bool PreserveFileDateTime = false;
  TID3v2SaveVersion WriteVersion = sfid3v2NoChange;

private:
  friend class TID3v2Frames;
  // Reads the tag at the view's position; nothing at or beyond End belongs to it (the end of
  // its container chunk, or of the stream).
  int LoadTagWithin(TReadView &Stream, std::int64_t End);
  // Walks the frames of a body that lies in the file from Pos to End, version 2.3 or 2.4
  // without whole-tag unsynchronisation, leaving large plain pictures there. Rest receives
  // the bytes behind the last frame. False when the view cannot read the body.
  bool LoadFramesInFile(TReadView &View, std::int64_t Pos, std::int64_t End, std::span<const std::uint8_t> &Rest);
  bool ReadExtendedHeader(ByteReader &Body);
  void ReadAudioProperties(TStream &Stream, TSourceFileType Kind, std::int64_t TagStart, std::int64_t TagSize);
  // The version a save writes: 2.2 becomes 3, WriteVersion forces 3 or 4.
  int TargetVersion() const;
  // Header + frames (unsynchronised as the version asks), without padding.
  bool BuildTagBody(int Version, TBytes &Body, std::uint8_t &HeaderFlags);
  // What every save does first: fetch the frames left in the file, choose the version and
  // build the body; id3v2Ok or the save's code.
  int PrepareSave(int &Version, TBytes &Body, std::uint8_t &HeaderFlags);
  int SaveToFileChecked(const std::string &FileName);

  // What the last PlanSaveInto planned: a removal, or a tag of this version and header flags.
  struct TPlannedSave {
    bool Strip = false;
    int Version = 3;
    std::uint8_t HeaderFlags = 0;
  };
  TPlannedSave FPlanned;
  std::int64_t FPosition = 0;
  TSourceFileType FSourceFileType = sftUnknown;
  std::int64_t FFileSize = 0;
  bool FWasUnsynchronised = false;
  bool FError = false;
};

// Size of the ID3v2 tag at the stream position (header, body, footer), 0 when none; the
// position is restored.
std::int64_t ID3v2TagSizeAt(TStream &Stream);

int StripID3v2FromFile(const std::string &FileName, bool PreserveFileDateTime);
int StripID3v2FromStream(TStream &Stream);
// Plans the removal of the ID3v2 tag from the content of Stream (at its start, or the ID3 chunk
// of a WAV/AIFF/DSF/DSDIFF container); nothing is written.
int PlanID3v2Strip(TStream &Stream, TRewritePlan &Plan);
