#pragma once
// TTags: the one object through which a caller reads and writes the tags of an audio file,
// whatever its format. It owns one object of every native tag format built so far, loads every
// native tag a file carries, and merges them, in load-priority order, into one ordered list of
// generic entries (TTag: an upper-case generic name and a text value, names compared with ASCII
// case folding) and one list of pictures (TCoverArt). Saving copies the entries back into the
// native objects, each of which plans its change of the file against the same content, and the
// plans are carried out as one (tags/streams/rewrite_plan.h: ComposePlans). A native tag the
// load found gets only the entries that changed since (TTag::Origin), so that a save changes
// only what its caller changed. Every step that concerns each native format walks the format
// table (tags/native_format.h: one row per format, defined beside its names file);
// tag_container.cpp holds only those dispatch loops.
// Results are integer codes (TTagsResult); nothing throws out of this interface.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tags/ape/apev2_tag.h"
#include "tags/asf/wma_tag.h"
#include "tags/audio/audio_attributes.h"
#include "tags/detect/content_type.h"
#include "tags/flac/flac_tag.h"
#include "tags/id3/id3v1_tag.h"
#include "tags/id3/id3v2_tag.h"
#include "tags/mp4/mp4_tag.h"
#include "tags/ogg/opus_tag.h"
#include "tags/picture/picture_format.h"
#include "tags/riff/wav_tag.h"
#include "tags/streams/read_view.h"
#include "tags/streams/stream.h"
#include "tags/tag_type.h"

enum TExtTagType : int { ettUnknown = 0, ettTXXX = 1, ettWXXX = 2 };

// Container result codes.
enum TTagsResult : int {
  tagsOk = 0,
  tagsNoTag = 1,            // no tag where one was looked for
  tagsNoFileOrBlock = 2,    // the file does not exist (removal) or a null memory block
  tagsNothingToDo = 3,      // nothing to write or remove
  tagsFileNotFound = 5,     // the file does not exist or cannot be opened
  tagsUpdateFailed = 6,     // a failure while updating the file / reading the old record
  tagsWriteFailed = 7,      // temporary file or writing failed
  tagsCorrupt = 8,          // a damaged tag or container structure
  tagsVersionUnsupported = 9,
  tagsWrongFileKind = 10,   // not the kind of file the native format expects (also SaveToStream ttWMA)
  tagsSizeOverflow = 13,
  tagsCannotLockFile = 14,
  tagsLayoutNotWritable = 21, // read, but its layout cannot be rewritten safely (interleaved streams)
  tagsItemReadOnly = 22,    // a change reaches a tag item marked read-only; nothing was written
  tagsProtected = 23,       // the file is protected (encrypted) and is not written
  tagsUnsupported = 0xFFFF, // any other failure; a tag type with no writer
};

using TStringList = std::vector<std::string>;

class TTags;
struct TPlannedChange;

// Where a load took an entry from and what the entry held then. An entry that still holds
// that is unchanged: a save leaves the native item it came from as it is, and writes it into
// no other tag of the file that the load found (a tag the save creates gets every entry).
struct TTagOrigin {
  TTagType Type = ttNone;   // the native tag the entry was loaded from; ttNone: not loaded
  std::uint64_t Item = 0;   // that tag's key for the item (ID3v2: the frame's Serial)
  std::string Name, Value, Description, Language;
  TExtTagType ExtTagType = ettUnknown;
};

class TTag {
public:
  explicit TTag(TTags *AParent) : Parent(AParent) {}
  std::string Name;
  std::string Value;
  std::string SortWith;
  std::string Language;
  std::string Description;
  TExtTagType ExtTagType = ettUnknown;
  TTags *Parent;
  bool AlreadyParsed = false;
  TTagOrigin Origin;

  // Notes the entry as it is now as what the native tag Type loaded from its item Item.
  void MarkLoaded(TTagType Type, std::uint64_t Item = 0);
  // Loaded, and its name, value, description, language and kind are still as loaded.
  bool IsUnchanged() const;

  void Clear();
  bool Assign(const TTag *Tag);
  int GetIndex() const;
  bool Remove();
  bool Delete();
  bool SetAsList(const TStringList &List);
  bool GetList(TStringList &List) const;
};

// A picture. Its bytes are in Stream, or, when the load left them in the file (a large
// picture beyond what the read view held), Deferred says where they are, or, when they were
// left as the base64 text of a comment, Encoded holds that text; Stream is empty until LoadData
// fetches or decodes them. DataSize is right either way.
class TCoverArt {
public:
  explicit TCoverArt(TTags *AParent) : Parent(AParent) {}
  std::string Name;
  TMemoryStream Stream;
  TFileRange Deferred;
  TEncodedPicture Encoded;
  // Set by LoadData: what the bytes were known by while they were left behind, and a digest of
  // the bytes it brought, so that a picture fetched (to be shown) but not changed still counts
  // as the one loaded.
  bool Fetched = false;
  std::int64_t FetchedKey = 0;
  std::uint64_t FetchedDigest = 0;
  std::string Description;
  std::int32_t CoverType = 0;
  std::string MIMEType;
  TTagPictureFormat PictureFormat = tpfUnknown;
  std::int32_t Width = 0, Height = 0, ColorDepth = 0, NoOfColors = 0;
  TTags *Parent;
  bool AlreadyParsed = false;

  void Clear();
  bool Assign(const TCoverArt &CoverArt);
  bool Delete();
  bool IsDeferred() const { return !Deferred.Empty() || !Encoded.Empty(); }
  // What bytes left behind are known by (their place in the file, or their text); 0 when held.
  std::int64_t DeferralKey() const;
  std::int64_t DataSize() const;
  // Fetches deferred bytes into Stream; false (nothing changed) when the file is no longer the
  // one loaded, or encoded bytes do not decode. True at once for a picture whose bytes are held.
  bool LoadData(std::string *Error = nullptr);
  int GetIndex() const;
};

// Nine slots, highest priority first.
using TTagPriority = std::array<TTagType, 9>;

class TTags final : private TNativeAudio {
public:
  TTags();
  ~TTags();
  TTags(const TTags &) = delete;
  TTags &operator=(const TTags &) = delete;

  std::string FileName;
  bool Loaded = false;
  TTagPriority TagLoadPriority;

  TAPEv2Tag APEv2Tag;
  TFlacTag FlacTag;
  TID3v1Tag ID3v1Tag;
  TID3v2Tag ID3v2Tag;
  TOpusTag OggVorbisAndOpusTag;
  TMP4Tag MP4Tag;
  TWAVTag WAVTag;
  TWMATag WMATag;

  std::vector<std::unique_ptr<TTag>> Tags;
  std::vector<std::unique_ptr<TCoverArt>> CoverArts;
  TSourceAudioAttributes SourceAudioAttributes{this};

  bool UpperCaseFieldNamesToWrite = true;
  bool MP4KeepPadding = true;
  bool ParseWavPackAudioAttributes = false;
  bool ParseMusePackAudioAttributes = false;
  bool ParseMonkeyAudioAttributes = false;
  bool ParseAudioAttributes = true;
  bool ParseCoverArts = true;
  std::shared_ptr<void> User1, User2;
  bool PreserveFileDateTime = false;
  bool ID3v2WriteUTF8Text = false;
  bool OnlyParseCoverArts = false;
  // With DetectContainerType a load also recognises what kind of audio the file holds (as
  // GetAudioContainerType does), from the bytes it reads anyway; ContainerType holds the
  // result (actUnknown without the option).
  bool DetectContainerType = false;
  TAudioContainerType ContainerType = actUnknown;

  // Every load reads through one TReadView: a file is opened once and read as few times as
  // its tags need; picture bytes beyond what the view holds stay in the file (TCoverArt).
  int LoadFromFile(const std::string &AFileName);
  // Buffered is kept for callers; the read view holds what it has read, so every stream is
  // read as if buffered.
  int LoadFromStream(TStream &Stream, bool Buffered);
  int LoadFromMemory(const void *Address, std::int64_t Size);
  int SaveToFile(const std::string &AFileName, TTagType TagType);
  int SaveToStream(TStream &Stream, bool Buffered, TTagType TagType);

  TTag *Add(const std::string &Name);
  TTag *Tag(const std::string &Name) const;
  int Exists(const std::string &Name) const;
  int TypeCount(const std::string &Name) const;
  int Count() const { return static_cast<int>(Tags.size()); }
  std::string GetText(const std::string &Name) const;
  int SetText(const std::string &Name, const std::string &Text);
  int SetList(const std::string &Name, const TStringList &List);
  int GetList(const std::string &Name, TStringList &List) const;
  bool GetMultipleList(const std::string &Name, TStringList &List) const;
  static bool ItemAlreadyOnList(const TStringList &List, const std::string &Item);

  bool Delete(int Index);
  bool Delete(const std::string &Name);
  bool Remove(int Index);
  int Clear(const std::string &Name);
  void RemoveEmptyTags();
  void DeleteAllTags();
  void Clear();

  int CoverArtCount() const { return static_cast<int>(CoverArts.size()); }
  TCoverArt *CoverArt(const std::string &Name) const;
  TCoverArt *AddCoverArt(const std::string &Name);
  TCoverArt *AddCoverArt(const std::string &Name, TStream &Stream, const std::string &MIMEType);
  TCoverArt *AddCoverArtFromFile(const std::string &Name, const std::string &AFileName);
  bool DeleteCoverArt(int Index);
  void DeleteAllCoverArts();

  bool Assign(const TTags &Source, bool CoverArtsToo);
  bool AssignCoverArts(const TTags &Source, bool Append);
  std::int64_t GetSize() const;
  void ReSetAlreadyParsedState();

  // Lets every native load from View, then runs the header readers asked for.
  void LoadFromView(TReadView &View, bool WavPack, bool Musepack, bool Monkey);
  // Fetches the bytes of every picture the load left in the file; false when a file changed
  // since it was loaded.
  bool LoadDeferredCoverArts();

  // Merges what the natives loaded into entries and pictures, in load-priority order.
  void MapLoadedTags();

  // The native tag types loaded by the last load, in save order.
  std::vector<TTagType> LoadedTagTypes() const;

  // The ID3v1 mapper (names_id3v1.cpp).
  void LoadID3v1Tags();
  void PrepareID3v1Tag();

  // The ID3v2 mapper (names_id3v2.cpp).
  void LoadID3v2Tags();
  void PrepareID3v2Tag();
  // The native side of deleting an entry from the ID3v2 object.
  void DeleteID3v2Entry(const std::string &UpperName, const TTag &Entry);
  static bool ClearAllID3v2FramesByID(TID3v2Tag &Tag, const std::string &FrameID);
  static bool ClearAllID3v2FramesTXXXByDescription(TID3v2Tag &Tag, const std::string &Description);

  // The APEv2 mapper (names_apev2.cpp); the prepare gives the native's code.
  void LoadAPEv2Tags();
  int PrepareAPEv2Tag();

  // The FLAC and Ogg Vorbis/Opus mappers (names_flac.cpp, names_ogg.cpp); the prepares give the
  // native's code.
  void LoadFlacTags();
  int PrepareFlacTag();
  void LoadOggVorbisAndOpusTags();
  int PrepareOggVorbisAndOpusTag();

  // The WAV mapper (names_wav.cpp): INFO items, broadcast and cart fields.
  void LoadWAVTags();
  int PrepareWAVTag();

  // The WMA mapper (names_wma.cpp): the attributes of an ASF file.
  void LoadWMATags();
  int PrepareWMATag();

  void LoadMP4Tags();
  int PrepareMP4Tag();
  void DeleteMP4Entry(const std::string &UpperName, const TTag &Entry);

  // Whether the pictures differ from those the last load gave, as a save found them when it
  // began: a native tag the load found keeps its own pictures while they do not.
  bool PicturesChanged() const { return FPicturesChanged; }

  // Removes from the list (not from the native tags) every entry with that name.
  void RemoveFromList(const std::string &Name);
  // Marks the entries at the end of the list that no load has marked yet as loaded from Type's
  // item Item (the entries a native's mapper has just added).
  void MarkNewEntriesLoaded(TTagType Type, std::uint64_t Item = 0);

private:
  // A digest of the pictures (their fields and bytes; a picture left in the file by its range).
  std::uint64_t PicturesPrint() const;
  std::uint64_t FLoadedPictures = 0;
  bool FPicturesChanged = true;

  // Plans the save of every native TagType asks for against Content (a file's view when
  // AFileName is given, else a stream), into Change; the save's result code so far.
  int PlanSave(TStream &Content, TTagType TagType, const std::string *AFileName, TPlannedChange &Change);
  // Tells each native of a carried-out Change what it wrote.
  void FinishSave(const TPlannedChange &Change, const std::string &AFileName);
  // What the natives say about the audio (TSourceAudioAttributes asks through these).
  std::optional<std::int64_t> NativeAudioValue(TAudioValue What) const override;
  double NativePlayTime() const override;
};

// The ID3v2 name table: frame ID -> generic name on load, generic name -> frame ID on save;
// empty for anything not in the table.
std::string ID3v2FrameIDToTagName(const std::string &FrameID);
std::string TagNameToID3v2FrameID(const std::string &Name);
// The generic name of an MP4 item ("\xA9nam" -> "TITLE"), and the item a generic name is saved
// to (empty: none, the value goes to a free-form item).
std::string MP4AtomToTagName(const std::string &Atom);
std::string TagNameToMP4Atom(const std::string &Name);
// The generic name of a RIFF INFO id ("INAM" -> "TITLE"), and the id a generic name is saved to
// (empty: none, the name is not written to the INFO list).
std::string RIFFINFOToTagName(const std::string &ID);
std::string TagNameToRIFFINFO(const std::string &Name);
// The generic name of an ASF attribute ("WM/AlbumTitle" -> "ALBUM"; empty for the header's own
// attributes, which give no entry), and the attribute a generic name is saved to.
std::string WMAAttributeToTagName(const std::string &Attribute);
std::string TagNameToWMAAttribute(const std::string &Name);
// The first run of four decimal digits in Text (any script's digits, as ASCII); empty if none.
std::string ExtractYear(const std::string &Text);

int RemoveTagsFromFile(const std::string &FileName, TTagType TagType);

// Whether an automatic save of Tags into FileName has a native format to write it with, picked
// as SaveToFile picks them: a tag loaded from that file, else a format its content or, failing
// that, its extension picks. False for a file whose formats are all still without a writer, so
// that a save that cannot be written is refused before anything (a backup copy, say) is made.
// Uses Tags.ContainerType when the load detected it, else reads the file.
bool CanSaveTagsToFile(const TTags &Tags, const std::string &FileName);
