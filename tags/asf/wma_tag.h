#pragma once
// TWMATag: the attributes of an ASF file (Windows Media Audio and Video: .wma, .wmv, .asf), read
// and written by this library's own ASF header layer (asf_header.h reads, asf_writer.h writes).
// It offers what a media
// runtime's metadata editor would: the attributes of stream 0 as a list of TWMATagFrame (name,
// WMT_TYPE_* type, value bytes), pictures as "WM/Picture" attributes holding the picture record
// of wma_picture.h, and the runtime's read-only pseudo-attributes.
//
// The list (Frames), after a load: first the pseudo-attributes computed from the header
// ("Duration", "Bitrate", "FileSize", "Seekable", "Broadcast", "Is_Protected", "HasAudio",
// "HasVideo", "HasImage", "HasScript", "HasFileTransferStream", "HasArbitraryDataStream",
// "HasAttachedImages"), then the stored attributes of stream 0: the Content Description's
// fields (Title, Author, Copyright, Description, Rating), the Extended Content Description's
// descriptors, the Metadata and Metadata Library records of stream 0, each object in file
// order. Attributes of other streams, and stored attributes that carry the name of a
// pseudo-attribute, are not in the list: they are kept (KeptAttributes) and written back as
// they were. Every name IsPseudoAttribute knows is read-only: a frame of that name is never
// written, whatever it holds.
//
// Saving is planned (TRewritePlan) before anything is written: the attributes are written into
// a new Header object (asf_writer.h: each attribute to the object that can hold it, every
// object the tag does not own copied byte for byte, sizes, count and the file size computed
// anew); the data object and everything after the header are copied unchanged. A new header of
// the old size is written in place; otherwise the file is rebuilt through the exclusive
// temporary file (RewriteFile). A list equal to the one the file holds, or one that gives the
// same header bytes, plans nothing: an unchanged save writes nothing. A protected file
// (Content Encryption or Extended Content Encryption object) is never written (wmaProtected),
// nor a damaged one (wmaDamaged: see asf_header.h; a damaged header still loads what could be
// read). A failed save leaves the file and this object as they were.
//
// Names are compared with ASCII case folding where the list is searched by name (FrameExists,
// GetText...); "WM/Picture" and the pseudo-attribute names are compared exactly.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tags/asf/asf_header.h"
#include "tags/asf/wma_tag_frame.h"
#include "tags/streams/stream.h"

class TReadView;
struct TRewritePlan;

// Result codes. 0 to 6 keep the meaning the media runtime's codes had (2 to 4, the runtime's
// own failures, cannot happen here); the rest are this library's.
enum TWMAResult : int {
  wmaOk = 0,
  wmaFileNotFound = 1,   // the file does not exist or cannot be opened for reading
  wmaNotASF = 5,         // the file does not start with an ASF Header object
  wmaReadOnly = 6,       // save: the file is read-only
  wmaDamaged = 7,        // the header breaks the format's rules: loaded as far as possible, never written
  wmaProtected = 8,      // the file is encrypted (protected): never written
  wmaWriteFailed = 9,    // the temporary file, a write or the swap failed; the file is as it was
  wmaCannotOpen = 10,    // the file cannot be opened for reading and writing
  wmaTooLarge = 11,      // a value, name or count fits no object, or the header would pass kASFMaxHeaderBytes
  wmaFailure = 0xFFFF,   // any other failure (the file changed under the save)
};

// A picture read from a caller's stream larger than this is refused.
constexpr std::int64_t kWMAMaxPictureBytes = 16LL * 1024 * 1024;

class TWMATag {
public:
  TWMATag() = default;
  TWMATag(const TWMATag &Source) { Assign(Source); }
  TWMATag &operator=(const TWMATag &Source)
  {
    Assign(Source);
    return *this;
  }

  // Every entry freed; FileName and the codec texts empty; Loaded false.
  void Clear();
  // wmaFileNotFound, wmaNotASF, wmaDamaged (what could be read is loaded) or wmaOk.
  int LoadFromFile(const std::string &AFileName);
  int LoadFromStream(TStream &Stream);
  int Load(TReadView &View);

  // Plans writing the list into Content (see the header comment); an empty plan when nothing
  // changes.
  int PlanSave(TStream &Content, TRewritePlan &Plan);
  // Plans taking every attribute a user sets out of Content: the stored attributes of stream 0
  // go, except the encoder's (IsEncoderAttribute); attributes of other streams, the stream and
  // codec objects and everything else stay. An empty plan when there is nothing to take out.
  static int PlanRemove(TStream &Content, TRewritePlan &Plan);
  int SaveToFile(const std::string &AFileName);
  int SaveToStream(TStream &Stream);
  // Records what the last planned save wrote, once it was carried out.
  void FinishSave(const std::string &AFileName);

  // The read-only names a save never writes, and the encoder's attributes a removal keeps.
  static bool IsPseudoAttribute(std::string_view Name);
  static bool IsEncoderAttribute(std::string_view Name);

  bool Damaged() const { return FDamaged; }
  bool Protected() const { return FProtected; }
  // Whether the list holds any attribute that is not a pseudo-attribute.
  bool HasUserAttributes() const;

  // Entries.
  int Count() const { return static_cast<int>(Frames.size()); }
  TWMATagFrame *AddFrame(const std::string &Name);
  bool DeleteFrame(int Index);
  bool DeleteFrameByName(const std::string &Name);
  void DeleteAllFrames();
  // The index of the first entry of that name (ASCII case folding), -1 when none.
  int FrameExists(const std::string &Name) const;
  // The index of Frame in the list, -1 when it is not there.
  int IndexOfFrame(const TWMATagFrame *Frame) const;
  // STRING: the text; other types: GetInteger in decimal; empty when there is no such entry.
  std::string GetText(const std::string &Name) const;
  // A non-empty text goes into the first entry of that name or a new one (type STRING); an
  // empty text deletes the first entry of that name.
  void SetText(const std::string &Name, const std::string &Text);
  std::uint64_t GetInteger(const std::string &Name) const;
  bool SetInteger(const std::string &Name, WMT_ATTR_DATATYPE Format, std::uint64_t Value);
  bool GetList(const std::string &Name, std::vector<std::string> &List) const;
  bool SetList(const std::string &Name, const std::vector<std::string> &List);
  void ReSetAlreadyParsedState();
  // The index of the entry of exactly that name, -1 when absent.
  int GetAttribIndex(const std::string &Attrib) const;

  // Pictures: entries named exactly "WM/Picture". Indexes are entry indexes unless named
  // CoverArtIndex. Picture streams are read from position 0 to their end.
  int CoverArtCount() const;
  int GetFrameIndexOfCoverArtIndex(int CoverArtIndex) const;
  // The index of a new picture entry; -1 (nothing added) when it cannot be built.
  int AddCoverArtFrame(TStream &PictureStream, const std::string &MIMEType, const std::string &Description,
                       std::uint8_t PictureType);
  // 1 after making entry Index the picture (type BINARY); 0 when it cannot be built.
  int SetCoverArtFrame(int Index, TStream &PictureStream, const std::string &Description, std::uint8_t PictureType,
                       const std::string &MIMEType);
  // 1 with the picture data written to PictureStream (rewound); 0 when the entry is not a
  // BINARY picture record or cannot be read.
  int GetCoverArtFromFrame(int Index, TStream &PictureStream, std::string &Description, std::uint8_t &PictureType,
                           std::string &MIMEType) const;
  int GetCoverArtInfo(int Index, std::string &MIMEType, std::int64_t &CoverArtSize, std::string &Description,
                      std::uint8_t &PictureType) const;
  // As GetCoverArtInfo, with Data pointing at the picture data inside the entry's value (valid
  // until the entry changes).
  int GetCoverArtInfoPointer(int Index, std::uint8_t &PictureType, std::string &MIMEType, std::string &Description,
                             std::int64_t &DataSize, const std::uint8_t *&Data) const;
  // Rebuilds entry Index from its own contents (the address fields zero); false when it is not
  // a picture record.
  bool ValidatePictureFrame(int Index);
  void DeleteAllCoverArts();

  // Sum over entries of (value size + 2 x name length in UTF-16 units + 7).
  std::int64_t CalculateTagSize() const;
  // Clear, then FileName, Loaded, every entry in order and what the load found.
  bool Assign(const TWMATag &Source);

  // The file's size when loaded (-1 unknown); the first codec's name and description.
  std::int64_t FileSize() const { return FFileSize; }
  const std::string &CodecInfo() const { return FCodecInfo; }
  const std::string &CodecDescription() const { return FCodecDescription; }
  // From the attributes of those names (see the pseudo-attributes).
  std::int64_t Duration() const;         // milliseconds
  int BitRate() const;                   // kbit/s, rounded
  std::uint64_t CurrentBitrate() const { return GetInteger("CurrentBitrate"); }
  std::uint64_t OptimalBitrate() const { return GetInteger("OptimalBitrate"); }
  std::uint64_t GetReportedFileSize() const { return GetInteger("FileSize"); }
  std::uint64_t NumberOfFrames() const { return GetInteger("NumberOfFrames"); }
  bool CanSkipBackward() const { return GetInteger("Can_Skip_Backward") != 0; }
  bool CanSkipForward() const { return GetInteger("Can_Skip_Forward") != 0; }
  bool ContainerFormat() const { return GetInteger("WM/ContainerFormat") != 0; }
  bool HasArbitraryDataStream() const { return GetInteger("HasArbitraryDataStream") != 0; }
  bool HasAttachedImages() const { return GetInteger("HasAttachedImages") != 0; }
  bool HasAudio() const { return GetInteger("HasAudio") != 0; }
  bool HasFileTransferStream() const { return GetInteger("HasFileTransferStream") != 0; }
  bool HasImage() const { return GetInteger("HasImage") != 0; }
  bool HasScript() const { return GetInteger("HasScript") != 0; }
  bool HasVideo() const { return GetInteger("HasVideo") != 0; }
  bool IsProtected() const { return GetInteger("Is_Protected") != 0; }
  bool IsTrusted() const { return GetInteger("Is_Trusted") != 0; }
  bool Seekable() const { return GetInteger("Seekable") != 0; }
  bool Stridable() const { return GetInteger("Stridable") != 0; }
  bool Broadcast() const { return GetInteger("Broadcast") != 0; }
  std::string SignatureName() const { return GetText("Signature_Name"); }

  // Audio properties straight from the header: the play time (play duration - preroll, in
  // seconds) and the first audio stream's format.
  double PlayTime() const { return static_cast<double>(Duration()) / 1000.0; }
  int Channels() const { return Audio.Channels; }
  int SampleRate() const { return static_cast<int>(Audio.SampleRate); }
  int BitsPerSample() const { return Audio.BitsPerSample; }

  std::string FileName;
  bool Loaded = false;  // the list holds at least one attribute
  std::vector<std::unique_ptr<TWMATagFrame>> Frames;
  bool NormalizeRatingTo255 = false;
  bool PreserveFileDateTime = false;
  // Attributes of streams other than 0, and stored ones named like a pseudo-attribute.
  std::vector<TWMATagFrame> KeptAttributes;
  TASFAudioProperties Audio;

private:
  // Loads View and hands out the header's layout.
  int LoadHeader(TReadView &View, TASFHeader &Layout);
  bool SameAttributes(const TWMATag &Other) const;
  // Plans replacing Content's header (Layout) by one holding Attributes.
  static int PlanHeader(TStream &Content, const TASFHeader &Layout, std::span<const TWMATagFrame *const> Attributes,
                        TRewritePlan &Plan);
  const TWMATagFrame *PictureFrame(int Index) const;

  std::int64_t FFileSize = -1;
  std::int64_t FPlannedFileSize = -1;
  std::string FCodecInfo, FCodecDescription;
  bool FDamaged = false;
  bool FProtected = false;
};

// Takes every attribute a user sets out of the file (see TWMATag::PlanRemove).
int RemoveWMATagFromFile(const std::string &FileName, bool PreserveFileDateTime);
int RemoveWMATagFromStream(TStream &Stream);

// The rating scale of "WM/SharedUserRating" (0 to 99) and the 0 to 255 one: trunc(Value / 99 x
// 255) and trunc(Value / 255 x 99), exact for any 64-bit value.
std::uint64_t WMARatingTo255(std::uint64_t Value);
std::uint64_t WMARatingFrom255(std::uint64_t Value);
