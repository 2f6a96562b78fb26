#pragma once
// ID3v2 frames (ID3v2.3.0 and ID3v2.4.0 structure and native frames documents, ID3v2.2.0 for
// the three-letter frames; CHAP and CTOC from the ID3v2 Chapter Frame Addendum 1.0).
//
// TID3v2Frame is one frame: its four-character ID, its format flags decoded into Booleans and
// its data bytes (everything after the frame header and its extra fields). The Booleans, not
// the raw Flags, are what is written; whenever a frame's data is replaced through the content
// operations the compression, encryption, unsynchronisation and data-length flags are cleared,
// because the new bytes are plain.
//
// TID3v2Frames is an ordered, owned list of frames whose version and options come from its
// Root tag. Every frame operation lives here, so that a chapter frame (TID3v2FrameCHAP,
// TID3v2FrameCTOC) holds its embedded frames in a list of its own. Content readers take a frame
// index, never fail loudly and return empty values for an index out of range or empty data;
// content writers replace the frame's whole data and return false for an index out of range.
// The list itself, loading and writing are in id3v2_frame.cpp; the content operations are in a
// file per frame family (id3v2_text_frames.cpp: text, TXXX, involved-people lists;
// id3v2_url_frames.cpp; id3v2_content_frames.cpp: COMM, USLT; id3v2_picture_frames.cpp: APIC;
// id3v2_misc_frames.cpp: counters, POPM, UFID, GEOB, PRIV), over the string layer of
// id3v2_frame_content.h.
// All text is UTF-8 here; on disk it is ISO-8859-1, UTF-16 with a byte-order mark, UTF-16BE or
// UTF-8 by the frame's encoding byte.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tags/streams/byte_reader.h"
#include "tags/streams/read_view.h"
#include "tags/streams/stream.h"

class TID3v2Tag;
class TID3v2Frames;

enum TID3v2TextEncoding { teUnicode = 0, teUTF8 = 1, teANSI = 2 };

using TID3v2FrameID = std::array<char, 4>;

// Nesting of chapter frames inside chapter frames is cut off below this depth.
constexpr int kMaxChapterDepth = 8;
// Child entries a CTOC frame may list (its count is one byte).
constexpr int kMaxCTOCEntries = 255;

// The first four characters of Text; missing ones are zero bytes.
TID3v2FrameID ID3v2FrameIDFromText(std::string_view Text);
// The ID as text, ending at its first zero byte.
std::string ID3v2FrameIDToText(const TID3v2FrameID &ID);
// Every one of the 4 (version 2.2: 3) characters is "A"-"Z" or "0"-"9".
bool ValidID3v2FrameID(const TID3v2FrameID &ID, int MajorVersion);

class TID3v2Frame {
public:
  TID3v2Frame(TID3v2Frames *AParent, const TID3v2FrameID &AID);
  virtual ~TID3v2Frame() = default;
  TID3v2Frame(const TID3v2Frame &) = delete;
  TID3v2Frame &operator=(const TID3v2Frame &) = delete;

  bool WasUnsynchronised() const { return FWasUnsynchronised; }
  std::string IDText() const { return ID3v2FrameIDToText(ID); }
  bool IsID(std::string_view Text) const { return ID == ID3v2FrameIDFromText(Text); }
  int Index() const;
  // The whole data; a deferred frame fetches it from its file first (empty when that fails).
  const TBytes &Data() const;
  std::span<const std::uint8_t> DataSpan() const { return {Data().data(), Data().size()}; }
  // The data held in memory: all of it, or the first bytes of a deferred frame.
  const TBytes &ResidentData() const { return Stream.Data(); }
  bool IsDeferred() const { return !Deferred.Empty(); }
  // Fetches the data of a deferred frame; false when its file is no longer the one loaded.
  bool LoadDeferredData();

  // New plain data: the format flags that described the old bytes are cleared, and the frame
  // counts as rebuilt and no longer as loaded.
  void SetDataBytes(TBytes NewData);
  // The data is still compressed or encrypted (it could not be inflated, or its method is not
  // known here): its content cannot be read, so every content reader sees none, and it is
  // written back as it was read.
  bool Opaque() const { return Compressed || Encrypted; }

  // Whether the frame is as the load read it from a tag of MajorVersion: the same ID, status
  // flags and data. Such a frame is written again as the bytes it was read from
  // (AppendLoadedBytes), whatever the version would convert, so that a save leaves what
  // nobody changed as it was.
  bool IsAsLoaded(int MajorVersion) const;
  // The data was built in memory (a value was written into the frame, or it was converted
  // from another form) rather than read from a tag as it stands. A value written now takes
  // the form of the version written; a frame as read keeps its own.
  bool DataRebuilt() const { return FLoaded.Version == 0; }
  // The frame as read: header, extra header fields and the data as the file stored it (a tag's
  // unsynchronisation of 2.2 and 2.3 undone). Nothing when the frame is not as loaded.
  void AppendLoadedBytes(TBytes &Out) const;

  // Deflates the data (highest level); DataLengthIndicatorValue := the plain size.
  bool Compress();
  // Inflates compressed data, at most the declared plain size and never beyond
  // kMaxInflatedFrameBytes. Encrypted frames are left alone. False on failure (data unchanged).
  bool DeCompress();
  bool RemoveUnsynchronisation();
  bool ApplyUnsynchronisation();

  virtual void Assign(const TID3v2Frame &Source);
  void Clear();
  // Removes the frame from its parent list; the object is destroyed.
  void Delete();

  void DecodeFlags3(std::uint16_t AFlags);
  std::uint16_t EncodeFlags3() const;
  void DecodeFlags4(std::uint16_t AFlags);
  std::uint16_t EncodeFlags4() const;

  TID3v2FrameID ID{};
  TID3v2Frames *Parent = nullptr;
  std::uint32_t Size = 0;
  // The data, or for a deferred frame its first bytes; fetching the rest on first use of
  // Data() is not a change of the frame, hence mutable.
  mutable TMemoryStream Stream;
  // A large picture left in the file by the load: where its whole data is. Empty once the
  // data is in Stream.
  mutable TFileRange Deferred;
  std::uint16_t Flags = 0;
  bool TagAlterPreservation = false;
  bool FileAlterPreservation = false;
  bool ReadOnly = false;
  bool Compressed = false;
  bool Encrypted = false;
  bool GroupingIdentity = false;
  bool Unsynchronised = false;
  bool DataLengthIndicator = false;
  std::uint8_t GroupIdentifier = 0;
  std::uint8_t EncryptionMethod = 0;
  std::uint32_t DataLengthIndicatorValue = 0;
  bool AlreadyParsed = false;
  // Names this frame for as long as it lives, whatever is added or deleted before it (a copy
  // made by Assign keeps it), so that an entry loaded from it can find it again.
  std::uint64_t Serial;

protected:
  friend class TID3v2Frames;
  friend class TID3v2Tag;
  bool FWasUnsynchronised = false;

  // The frame as the load read it. Version 0: not loaded, or changed since.
  struct TLoadedForm {
    int Version = 0;
    TID3v2FrameID ID{};
    std::uint32_t Status = 0;   // StatusBits() at the load
    TBytes Head;                // frame header and extra header fields as read
    bool DataHeld = true;       // the data held is the data as stored
    TBytes StoredData;          // otherwise (compressed, or unsynchronised by its own flag) that
  };
  TLoadedForm FLoaded;
  // The flags and bytes a content change leaves alone (preservation, read-only, grouping,
  // encryption), packed.
  std::uint32_t StatusBits() const;
};

class TID3v2FrameWithSubFrames : public TID3v2Frame {
public:
  TID3v2FrameWithSubFrames(TID3v2Frames *AParent, const TID3v2FrameID &AID);
  ~TID3v2FrameWithSubFrames() override;

  // Data -> fields and sub-frames. Depth counts the chapter frames around this one.
  virtual bool Parse(int Depth = 0) = 0;
  // Fields and sub-frames -> data, embedded frames in the layout of MajorVersion (3 or 4).
  virtual bool SetData(int MajorVersion) = 0;
  void Assign(const TID3v2Frame &Source) override;
  // True when the last Parse read the whole data, so SetData reproduces all of it.
  bool Parsed() const { return FParsed; }

  std::unique_ptr<TID3v2Frames> SubFrames;

protected:
  bool FParsed = false;
};

class TID3v2FrameCHAP : public TID3v2FrameWithSubFrames {
public:
  TID3v2FrameCHAP(TID3v2Frames *AParent, const TID3v2FrameID &AID) : TID3v2FrameWithSubFrames(AParent, AID) {}
  bool Parse(int Depth = 0) override;
  bool SetData(int MajorVersion) override;
  void Assign(const TID3v2Frame &Source) override;

  std::string ElementID;
  std::uint32_t StartTime = 0;
  std::uint32_t EndTime = 0;
  std::uint32_t StartOffset = 0xFFFFFFFF;
  std::uint32_t EndOffset = 0xFFFFFFFF;
};

class TID3v2FrameCTOC : public TID3v2FrameWithSubFrames {
public:
  TID3v2FrameCTOC(TID3v2Frames *AParent, const TID3v2FrameID &AID) : TID3v2FrameWithSubFrames(AParent, AID) {}
  bool Parse(int Depth = 0) override;
  bool SetData(int MajorVersion) override;
  void Assign(const TID3v2Frame &Source) override;

  void SetFlagBits(bool TopLevel, bool Ordered);
  bool TopLevelBit() const { return (CTOCFlags & 2) != 0; }
  bool OrderedBit() const { return (CTOCFlags & 1) != 0; }
  void AddChapter(const std::string &AElementID);
  bool DeleteChapter(const std::string &AElementID);

  std::string ElementID;
  std::uint8_t CTOCFlags = 0;
  std::vector<std::string> ChildElementIDs;
};

// Kinds of frame content, for callers that pick the operation by ID (ID3v2FrameKind).
enum TID3v2FrameKindCode : int {
  fkText = 1, fkUserText = 2, fkContent = 3, fkList = 4, fkURL = 5, fkUserURL = 6, fkPlayCounter = 7,
  fkBinary = 8, fkCTOC = 9, fkCHAP = 10, fkPRIV = 11,
};
int ID3v2FrameKind(std::string_view FrameID);

// "(17)(18)Rock" style genre references resolved to names.
std::string ID3v2GenreToText(std::string_view Text);
// Three language bytes as text, zero bytes left out.
std::string LanguageIDToText(const std::array<char, 3> &LanguageID);
// The first three characters (low 8 bits), missing ones filled with spaces.
std::array<char, 3> TextToLanguageID(std::string_view Text);

class TID3v2Frames {
public:
  explicit TID3v2Frames(TID3v2Tag *ARoot) : Root(ARoot) {}
  virtual ~TID3v2Frames();
  TID3v2Frames(const TID3v2Frames &) = delete;
  TID3v2Frames &operator=(const TID3v2Frames &) = delete;

  TID3v2Tag *Root;
  std::vector<std::unique_ptr<TID3v2Frame>> Frames;

  // --- the list ---
  int FrameCount() const { return static_cast<int>(Frames.size()); }
  int GetFrameCount() const { return FrameCount(); }
  TID3v2Frame *Frame(int Index) const;
  int AddFrame(std::string_view FrameID);
  int AddFrame(const TID3v2FrameID &FrameID);
  TID3v2Frame *AddFrameEx(std::string_view FrameID);
  int FrameExists(std::string_view FrameID) const;
  // The index of the frame with this Serial; -1 when the list holds none.
  int FrameBySerial(std::uint64_t Serial) const;
  int FrameTypeCount(std::string_view FrameID) const;
  int CoverArtCount() const { return FrameTypeCount("APIC"); }
  bool DeleteFrame(int FrameIndex);
  bool DeleteFrame(std::string_view FrameID);
  void DeleteAllFrames();
  // Deletes every picture frame but the opaque ones.
  void DeleteAllCoverArts();
  void AssignFrames(const TID3v2Frames &Source);
  void ReSetAlreadyParsedState();

  // Reads one frame from In in the version of Root; false at padding, at an invalid ID and on
  // a size that runs past the bytes left (Root's Error is set then). Depth counts the chapter
  // frames around this list. With DeferredData, In holds the frame header and only the first
  // bytes of its data, and the frame is created deferred: its whole data is that range.
  bool LoadFrame(ByteReader &In, int Depth = 0, const TFileRange *DeferredData = nullptr);
  // The size and flags of a frame header after its ID (version 2: a 24-bit size, no flags);
  // false when In ends first.
  static bool ReadFrameSizeAndFlags(ByteReader &In, int MajorVersion, std::uint32_t &Size, std::uint16_t &Flags);
  void Convertv2Tov3(int FrameIndex);
  bool Convertv2PICtoAPIC(int FrameIndex);

  // --- text frames ---
  std::string GetText(int FrameIndex, bool ReturnNativeText = false) const;
  std::string GetText(std::string_view FrameID) const;
  bool SetText(std::string_view FrameID, const std::string &Text, TID3v2TextEncoding Encoding);
  bool SetText(int FrameIndex, const std::string &Text, TID3v2TextEncoding Encoding);
  bool GetTextMultiple(int FrameIndex, std::vector<std::string> &List) const;
  bool SetTextMultiple(std::string_view FrameID, const std::vector<std::string> &List, TID3v2TextEncoding Encoding);
  bool SetTextMultiple(int FrameIndex, const std::vector<std::string> &List, TID3v2TextEncoding Encoding);
  bool SetRawText(int FrameIndex, const std::string &Text);

  // --- user text (TXXX) ---
  bool GetUserDefinedTextInformation(int FrameIndex, std::string &Description, std::string &Text) const;
  bool GetUserDefinedTextInformationMultiple(int FrameIndex, std::string &Description,
                                             std::vector<std::string> &List) const;
  std::string GetUserDefinedTextInformation(const std::string &Description, bool CaseSensitive) const;
  int FindTXXXByDescription(const std::string &Description, std::string &Text) const;
  int FindTXXXByDescriptionMultiple(const std::string &Description, std::vector<std::string> &List) const;
  bool SetUserDefinedTextInformationMultiple(int FrameIndex, const std::string &Description,
                                             TID3v2TextEncoding Encoding, const std::vector<std::string> &List);
  bool SetUserDefinedTextInformation(int FrameIndex, const std::string &Description, TID3v2TextEncoding Encoding,
                                     const std::string &Text);
  bool SetTXXX(int FrameIndex, const std::string &Description, TID3v2TextEncoding Encoding, const std::string &Text)
  {
    return SetUserDefinedTextInformation(FrameIndex, Description, Encoding, Text);
  }
  int SetTXXXByDescriptionMultiple(const std::string &Description, const std::vector<std::string> &List,
                                   TID3v2TextEncoding Encoding);
  int SetTXXXByDescription(const std::string &Description, const std::string &Text, TID3v2TextEncoding Encoding);

  // --- involved-people lists (TIPL, TMCL): lines "role=name" ---
  bool GetListFrame(int FrameIndex, std::vector<std::string> &List) const;
  std::string GetListFrameText(int FrameIndex) const;
  bool SetListFrame(std::string_view FrameID, const std::vector<std::string> &List, TID3v2TextEncoding Encoding);
  bool SetListFrame(int FrameIndex, const std::vector<std::string> &List, TID3v2TextEncoding Encoding);

  // --- URL frames ---
  std::string GetURL(int FrameIndex) const;
  bool SetURL(std::string_view FrameID, const std::string &URL);
  bool SetURL(int FrameIndex, const std::string &URL);
  bool GetUserDefinedURLLink(int FrameIndex, std::string &Description, std::string &URL) const;
  bool SetUserDefinedURLLink(int FrameIndex, const std::string &URL, TID3v2TextEncoding Encoding,
                             const std::string &Description);
  int FindUserDefinedURLLinkByDescription(const std::string &Description, std::string &URL) const;
  int SetUserDefinedURLLinkByDescription(const std::string &Description, const std::string &URL,
                                         TID3v2TextEncoding Encoding);

  // --- COMM, USLT: matched by description and language ---
  bool GetContent(int FrameIndex, std::string &LanguageID, std::string &Description, std::string &Content) const;
  bool GetComment(int FrameIndex, std::string &LanguageID, std::string &Description, std::string &Content) const
  {
    return GetContent(FrameIndex, LanguageID, Description, Content);
  }
  bool GetLyrics(int FrameIndex, std::string &LanguageID, std::string &Description, std::string &Content) const
  {
    return GetContent(FrameIndex, LanguageID, Description, Content);
  }
  bool SetContent(int FrameIndex, const std::string &Content, TID3v2TextEncoding Encoding,
                  const std::string &Description, const std::string &LanguageID);
  // The first FrameID frame whose description equals Description exactly and whose language
  // equals LanguageID ignoring case; an empty LanguageID matches any language. -1 when none.
  int FindContentByDescription(std::string_view FrameID, const std::string &Description,
                               const std::string &LanguageID = "") const;
  // Writes into the frame FindContentByDescription names, or a new one. An empty Content
  // deletes that frame instead (true when one was deleted). Returns the index written or -1.
  int SetContentByDescription(std::string_view FrameID, const std::string &Content, TID3v2TextEncoding Encoding,
                              const std::string &Description, const std::string &LanguageID);
  int FindCommentByDescription(const std::string &Description, const std::string &LanguageID = "") const
  {
    return FindContentByDescription("COMM", Description, LanguageID);
  }
  int SetCommentByDescription(const std::string &Content, TID3v2TextEncoding Encoding, const std::string &Description,
                              const std::string &LanguageID)
  {
    return SetContentByDescription("COMM", Content, Encoding, Description, LanguageID);
  }

  // --- pictures (APIC) ---
  bool GetCoverPictureInfo(int FrameIndex, TBytes &Picture, std::string &MIMEType, std::string &Description,
                           std::uint8_t &CoverType) const;
  bool GetCoverPictureStream(int FrameIndex, TStream &PictureStream, std::string &MIMEType,
                             std::string &Description, std::uint8_t &CoverType) const;
  // The picture's fields without fetching a deferred frame's data: PictureHead receives the
  // picture bytes held in memory (all of them when the frame is not deferred) and PictureRange,
  // for a deferred frame, where the whole picture is in the file (empty otherwise).
  bool GetCoverPictureLocation(int FrameIndex, std::string &MIMEType, std::string &Description,
                               std::uint8_t &CoverType, TBytes &PictureHead, TFileRange &PictureRange) const;
  bool SetCoverPictureFromStream(int FrameIndex, const std::string &Description, TStream &PictureStream,
                                 const std::string &MIMEType, std::uint8_t CoverType);
  bool SetCoverPictureFromBytes(int FrameIndex, const std::string &Description, const TBytes &Picture,
                                const std::string &MIMEType, std::uint8_t CoverType);
  bool SetCoverPictureFromFile(int FrameIndex, const std::string &Description, const std::string &FileName,
                               const std::string &MIMEType, std::uint8_t CoverType);
  int GetFrameIndexOfCoverArtIndex(int CoverArtIndex) const;

  // --- counters and ratings ---
  // The data as one big-endian number, low 32 bits; 0 for empty data; -1 for an index out of range.
  std::int64_t GetPlayCount(int FrameIndex) const;
  // By ID: an empty frame of that ID is appended when there is none, and 0 returned.
  std::int64_t GetPlayCount(std::string_view FrameID);
  bool SetPlayCount(std::string_view FrameID, std::uint32_t PlayCount);
  bool SetPlayCount(int FrameIndex, std::uint32_t PlayCount);
  bool GetPopularimeter(int FrameIndex, std::string &Email, std::uint8_t &Rating, std::uint64_t &PlayCounter) const;
  bool SetPopularimeter(int FrameIndex, const std::string &Email, std::uint8_t Rating, std::uint32_t PlayCounter);
  int FindPopularimeter(const std::string &Email) const;
  int SetPopularimeterByEmail(const std::string &Email, std::uint8_t Rating, std::uint32_t PlayCounter);
  // The rating byte alone; the e-mail and the counter bytes stay as they are. False for an
  // index out of range or data without the rating byte.
  bool SetPopularimeterRating(int FrameIndex, std::uint8_t Rating);

  // --- other frames ---
  bool GetUFID(int FrameIndex, std::string &OwnerIdentifier, std::string &Identifier) const;
  bool SetUFID(int FrameIndex, const std::string &OwnerIdentifier, const std::string &Identifier);
  int FindUFIDByOwnerIdentifier(const std::string &OwnerIdentifier, std::string &Identifier) const;
  int SetUFIDByOwnerIdentifier(const std::string &OwnerIdentifier, const std::string &Identifier);
  bool GetGEOB(int FrameIndex, std::string &MIMEType, std::string &FileName, std::string &Description,
               TBytes &Object) const;
  bool SetGEOB(int FrameIndex, const std::string &MIMEType, const std::string &FileName,
               const std::string &Description, const TBytes &Object, TID3v2TextEncoding Encoding);
  TBytes GetBytes(int FrameIndex) const;

  // --- writing ---
  // Data bytes + the extra header fields the frame gets in MajorVersion (0: the root's version).
  std::int64_t FullFrameSize(int FrameIndex, int MajorVersion = 0) const;
  // Sum of the data sizes of the frames that are written; 0 means nothing to write.
  std::int64_t CalculateTotalFramesSize() const;
  // Appends every frame that is written, with its header, in the layout of MajorVersion (3 or
  // 4), converting frame IDs and contents that differ between the versions.
  bool SerializeFrames(TBytes &Out, int MajorVersion);
  // Rebuilds the data of every parsed CHAP and CTOC frame, depth first, in the layout of
  // MajorVersion (0: the root's version).
  void SetAllFrameDataStreams(int MajorVersion = 0);
  bool ApplyUnsynchronisationOnAllFrames();

  int MajorVersion() const;

protected:
  friend class TID3v2Tag;
  // Set by LoadFrame when a frame's size runs past the bytes left.
  bool FFrameSizeError = false;
  // A frame to be written in MajorVersion: its ID valid, its data not empty, not a text frame
  // without text.
  bool FrameIsWritten(const TID3v2Frame &F, int MajorVersion) const;
  // The frame at FrameIndex for a content reader: none for an index out of range or an opaque
  // frame, whose bytes are no content of its kind.
  const TID3v2Frame *ContentFrame(int FrameIndex) const;
  // New data for the frame at FrameIndex; false for an index out of range.
  bool ReplaceData(int FrameIndex, TBytes Data);
  int FrameForWriting(std::string_view FrameID);
  // The first frame of ID FrameID for which Matches(index) holds; -1 when none.
  template <typename TMatch> int FindFrame(std::string_view FrameID, TMatch &&Matches) const
  {
    const TID3v2FrameID id = ID3v2FrameIDFromText(FrameID);
    for (int i = 0; i < FrameCount(); ++i)
      if (Frames[static_cast<std::size_t>(i)]->ID == id && Matches(i)) return i;
    return -1;
  }
};
