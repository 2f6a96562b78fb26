#include "tags/id3/id3v2_frame.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>

#include "tags/id3/id3v2_dates.h"
#include "tags/id3/id3v2_frame_content.h"
#include "tags/id3/id3v2_tag.h"
#include "tags/id3/id3v2_unsync.h"
#include "tags/id3/id3v2_zlib.h"
#include "tags/id3/skip_id3v2.h"
#include "tags/streams/byte_writer.h"
#include "tags/text/text.h"

namespace {

// Version 2.2 three-letter IDs and their version 2.3/2.4 forms.
const std::map<std::string, std::string> &V22Table()
{
  static const std::map<std::string, std::string> table = {
    {"PIC", "APIC"}, {"BUF", "RBUF"}, {"CNT", "PCNT"}, {"COM", "COMM"}, {"CRA", "AENC"}, {"ETC", "ETCO"},
    {"EQU", "EQUA"}, {"GEO", "GEOB"}, {"GP1", "GRP1"}, {"IPL", "TIPL"}, {"LNK", "LINK"}, {"MCI", "MCDI"},
    {"MLL", "MLLT"}, {"MVI", "MVIN"}, {"MVN", "MVNM"}, {"POP", "POPM"}, {"REV", "RVRB"}, {"RVA", "RVAD"},
    {"SLT", "SYLT"}, {"STC", "SYTC"}, {"TAL", "TALB"}, {"TBP", "TBPM"}, {"TCM", "TCOM"}, {"TCO", "TCON"},
    {"TCP", "TCMP"}, {"TCR", "TCOP"}, {"TDA", "TDAT"}, {"TDY", "TDLY"}, {"TEN", "TENC"}, {"TFT", "TFLT"},
    {"TIM", "TIME"}, {"TKE", "TKEY"}, {"TLA", "TLAN"}, {"TLE", "TLEN"}, {"TMT", "TMED"}, {"TOA", "TOPE"},
    {"TOF", "TOFN"}, {"TOL", "TOLY"}, {"TOR", "TORY"}, {"TOT", "TOAL"}, {"TP1", "TPE1"}, {"TP2", "TPE2"},
    {"TP3", "TPE3"}, {"TP4", "TPE4"}, {"TPA", "TPOS"}, {"TPB", "TPUB"}, {"TRC", "TSRC"}, {"TRD", "TRDA"},
    {"TRK", "TRCK"}, {"TRN", "TRSN"}, {"TRO", "TRSO"}, {"TS2", "TSO2"}, {"TSA", "TSOA"}, {"TSC", "TSOC"},
    {"TSI", "TSIZ"}, {"TSP", "TSOP"}, {"TSS", "TSSE"}, {"TST", "TSOT"}, {"TT1", "TIT1"}, {"TT2", "TIT2"},
    {"TT3", "TIT3"}, {"TXT", "TEXT"}, {"TXX", "TXXX"}, {"TYE", "TYER"}, {"UFI", "UFID"}, {"ULT", "USLT"},
    {"WAF", "WOAF"}, {"WAR", "WOAR"}, {"WAS", "WOAS"}, {"WCM", "WCOM"}, {"WCP", "WCOP"}, {"WPB", "WPUB"},
    {"WXX", "WXXX"}};
  return table;
}

// The frame's data with unsynchronisation and compression undone; false for encrypted data
// or data that does not inflate.
bool PlainFrameData(const TID3v2Frame &F, TBytes &Out)
{
  if (F.Encrypted) return false;
  Out = F.Unsynchronised ? RemoveID3v2Unsynchronisation(F.DataSpan()) : F.Data();
  if (!F.Compressed) return true;
  TBytes inflated;
  const std::uint64_t limit = F.DataLengthIndicatorValue > 0
                                ? std::min<std::uint64_t>(F.DataLengthIndicatorValue, kMaxInflatedFrameBytes)
                                : kMaxInflatedFrameBytes;
  if (Out.size() <= 4 || !InflateID3v2Data(Out, limit, inflated)) return false;
  Out = std::move(inflated);
  return true;
}

// A frame as it goes out: its ID for the target version and, when its content had to be
// converted, new plain data; or, for a frame as it was loaded, the bytes it was read from.
struct TOutgoingFrame {
  const TID3v2Frame *Source = nullptr;
  TID3v2FrameID ID{};
  bool Replaced = false;
  bool AsLoaded = false;
  TBytes Data;
};

bool SerializeOneFrame(const TOutgoingFrame &O, int Version, TBytes &Out)
{
  const TID3v2Frame &F = *O.Source;
  if (O.AsLoaded) {
    F.AppendLoadedBytes(Out);
    return true;
  }
  TBytes extras;
  std::uint16_t flags = 0;
  TBytes converted;
  std::span<const std::uint8_t> data = O.Replaced ? std::span<const std::uint8_t>(O.Data) : F.DataSpan();
  if (O.Replaced) {
    // Rebuilt content is plain: only the preservation flags carry over.
    if (Version == 3)
      flags = static_cast<std::uint16_t>((F.TagAlterPreservation ? 0x8000 : 0) | (F.FileAlterPreservation ? 0x4000 : 0));
    else
      flags = static_cast<std::uint16_t>((F.TagAlterPreservation ? 0x4000 : 0) | (F.FileAlterPreservation ? 0x2000 : 0));
  } else if (Version == 3) {
    // Version 2.3 has no frame-level unsynchronisation: the whole body gets it or not.
    if (F.Unsynchronised) {
      converted = RemoveID3v2Unsynchronisation(F.DataSpan());
      data = converted;
    }
    flags = F.EncodeFlags3();
    if (F.Compressed) {
      std::uint32_t plain = F.DataLengthIndicatorValue;
      TBytes p;
      if (plain == 0 && PlainFrameData(F, p)) plain = static_cast<std::uint32_t>(p.size());
      ByteWriter(extras).U32BE(plain);
    }
    if (F.Encrypted) extras.push_back(F.EncryptionMethod);
    if (F.GroupingIdentity) extras.push_back(F.GroupIdentifier);
  } else {
    flags = F.EncodeFlags4();
    if (F.GroupingIdentity) extras.push_back(F.GroupIdentifier);
    if (F.Encrypted) extras.push_back(F.EncryptionMethod);
    if (F.DataLengthIndicator || F.Compressed) {
      // The indicator is the size of the data with every format flag undone, computed now
      // from the bytes held rather than copied from what was read.
      std::uint32_t plain = F.DataLengthIndicatorValue;
      TBytes p;
      if (!F.Encrypted && PlainFrameData(F, p)) plain = static_cast<std::uint32_t>(p.size());
      flags |= 0x0001;
      ByteWriter(extras).Synchsafe32(plain);
    }
  }
  const std::uint64_t size = extras.size() + data.size();
  if (Version == 4 ? size > static_cast<std::uint64_t>(kID3v2MaxBodySize) : size > 0xFFFFFFFFull) return false;
  Out.insert(Out.end(), O.ID.begin(), O.ID.end());
  if (Version == 4) ByteWriter(Out).Synchsafe32(static_cast<std::uint32_t>(size));
  else ByteWriter(Out).U32BE(static_cast<std::uint32_t>(size));
  ByteWriter(Out).U16BE(flags).Append(extras).Append(data);
  return true;
}

bool TextStrings(const TID3v2Frame &F, std::uint8_t &Enc, std::vector<std::string> &Strings)
{
  TBytes plain;
  return PlainFrameData(F, plain) && ReadID3v2TextStrings(plain, Enc, Strings) && !Strings.empty();
}

// The date parts of a text frame's first string; false when it starts with no year.
bool TimeStampOf(const TID3v2Frame &F, std::uint8_t &Enc, TID3v2TimeStamp &Parts)
{
  std::vector<std::string> strings;
  if (!TextStrings(F, Enc, strings)) return false;
  Parts = SplitID3v2TimeStamp(TrimBlanks(strings[0]));
  return !Parts.Year.empty();
}

void ReplaceText(TOutgoingFrame &O, std::string_view ID, std::uint8_t Enc, const std::vector<std::string> &Strings)
{
  O.ID = ID3v2FrameIDFromText(ID);
  O.Replaced = true;
  O.Data = BuildID3v2TextData(Enc, Strings);
}

// A text frame without text is not written. The rule applies to the ID that goes out, so
// renamed frames are judged alike.
bool IsEmptyText(const TOutgoingFrame &O)
{
  if (O.ID[0] != 'T' || O.ID == ID3v2FrameIDFromText("TXXX")) return false;
  if (O.Replaced) return ID3v2TextDataIsEmpty(O.Data);
  TBytes plain;
  return PlainFrameData(*O.Source, plain) && ID3v2TextDataIsEmpty(plain);
}

// The frames of a list as they go out in one version (3 or 4): the IDs and contents that differ
// between the versions are converted, and frames the version has no form for are left out. A
// converted frame gives way to a frame of the target ID that the list holds already.
class TOutgoingFrames {
public:
  TOutgoingFrames(const TID3v2Frames &List, int Version)
    : FList(List), FVersion(Version), FSourceVersion(List.MajorVersion())
  {
  }

  void Add(const TID3v2Frame &F)
  {
    TOutgoingFrame o;
    o.Source = &F;
    o.ID = F.ID;
    const bool goesOut = FVersion == 4 ? ToVersion4(F, o) : ToVersion3(F, o);
    if (goesOut && !IsEmptyText(o)) FOut.push_back(std::move(o));
  }
  // A frame as it was read, in the version it was read in: its bytes go out unconverted.
  void AddAsLoaded(const TID3v2Frame &F)
  {
    TOutgoingFrame o;
    o.Source = &F;
    o.ID = F.ID;
    o.AsLoaded = true;
    FOut.push_back(std::move(o));
  }
  const std::vector<TOutgoingFrame> &Frames() const { return FOut; }

private:
  bool Has(std::string_view ID) const { return FList.FrameExists(ID) >= 0; }

  bool Renamed(TOutgoingFrame &O, const std::string &To) const
  {
    if (Has(To)) return false;
    O.ID = ID3v2FrameIDFromText(To);
    return true;
  }

  std::string FirstText(std::string_view ID) const
  {
    const TID3v2Frame *f = FList.Frame(FList.FrameExists(ID));
    std::uint8_t enc = 0;
    std::vector<std::string> strings;
    return f && TextStrings(*f, enc, strings) ? strings[0] : std::string();
  }

  // False: the frame is left out.
  bool ToVersion4(const TID3v2Frame &F, TOutgoingFrame &O) const
  {
    const std::string id = F.IDText();
    if (id == "TYER") return !Has("TDRC") && RecordingTimeFromYear(F, O);
    if (id == "TDAT" || id == "TIME") return false;
    if (id == "TORY") return Renamed(O, "TDOR");
    if (id == "IPLS") return Renamed(O, "TIPL");
    if (id == "XSOA" || id == "XSOP" || id == "XSOT") return Renamed(O, "T" + id.substr(1));
    return true;
  }

  bool ToVersion3(const TID3v2Frame &F, TOutgoingFrame &O)
  {
    static const char *const dropped[] = {"TDRL", "TDEN", "TDTG", "TSST", "TMOO", "TPRO",
                                          "ASPI", "EQU2", "RVA2", "SEEK", "SIGN"};
    const std::string id = F.IDText();
    if (std::any_of(std::begin(dropped), std::end(dropped), [&](const char *d) { return id == d; })) return false;
    if (id == "TDRC") {
      if (!Has("TYER")) AddSplitRecordingTime(F);
      return false;
    }
    if (id == "TDOR") return !Has("TORY") && OriginalYear(F, O);
    if (id == "TIPL" || id == "TMCL") return JoinedPeopleLists(O);
    // The sort frames go out as they are, which is how readers of 2.3 tags know them; an older
    // stand-in ("XSOP") gives way to the frame it stands for.
    if (id == "XSOA" || id == "XSOP" || id == "XSOT") return !Has("T" + id.substr(1));
    if (F.DataRebuilt() || FSourceVersion >= 4) JoinedValues(F, O);
    return true;
  }

  // Version 2.3 has no list of values in a text frame: a list written now, or brought from a
  // 2.4 tag, becomes one value. Names of people are joined with "/" as 2.3 lays down for them,
  // and so is any other free text, so that no value is lost; a frame that holds a number, a
  // date, a code or a flag keeps its first value, since "3/4" would read as a count or a
  // fraction. Untouched frames of a 2.3 tag are written as they were read.
  void JoinedValues(const TID3v2Frame &F, TOutgoingFrame &O) const
  {
    static const char *const single[] = {"TBPM", "TCMP", "TDAT", "TDLY", "TFLT", "TIME", "TKEY", "TLAN",
                                         "TLEN", "TORY", "TPOS", "TRCK", "TSIZ", "TSRC", "TYER"};
    const std::string id = ID3v2FrameIDToText(O.ID);
    if (ID3v2FrameKind(id) != fkText) return;
    std::uint8_t enc = 0;
    std::vector<std::string> strings;
    if (!TextStrings(F, enc, strings)) return;
    std::erase(strings, std::string());
    if (strings.size() < 2) return;
    if (std::any_of(std::begin(single), std::end(single), [&](const char *s) { return id == s; })) {
      ReplaceText(O, id, enc, {strings[0]});
      return;
    }
    std::string joined = strings[0];
    for (std::size_t i = 1; i < strings.size(); ++i) joined += "/" + strings[i];
    ReplaceText(O, id, enc, {joined});
  }

  // The year, date and time frames of 2.3 become one recording time.
  bool RecordingTimeFromYear(const TID3v2Frame &F, TOutgoingFrame &O) const
  {
    std::uint8_t enc = 0;
    TID3v2TimeStamp p;
    if (!TimeStampOf(F, enc, p)) return false;
    const std::string dayMonth = TrimBlanks(FirstText("TDAT")), hourMinute = TrimBlanks(FirstText("TIME"));
    ReplaceText(O, "TDRC", enc, {ID3v2TimeStampFromParts(p.Year, dayMonth, hourMinute)});
    return true;
  }

  // The recording time becomes the year, date and time frames of 2.3, as far as it goes.
  void AddSplitRecordingTime(const TID3v2Frame &F)
  {
    std::uint8_t enc = 0;
    TID3v2TimeStamp p;
    if (!TimeStampOf(F, enc, p)) return;
    auto add = [&](const char *to, const std::string &text) {
      TOutgoingFrame d;
      d.Source = &F;
      ReplaceText(d, to, enc, {text});
      FOut.push_back(std::move(d));
    };
    add("TYER", p.Year);
    if (!ID3v2DayMonthText(p).empty() && !Has("TDAT")) add("TDAT", ID3v2DayMonthText(p));
    if (!ID3v2HourMinuteText(p).empty() && !Has("TIME")) add("TIME", ID3v2HourMinuteText(p));
  }

  bool OriginalYear(const TID3v2Frame &F, TOutgoingFrame &O) const
  {
    std::uint8_t enc = 0;
    TID3v2TimeStamp p;
    if (!TimeStampOf(F, enc, p)) return false;
    ReplaceText(O, "TORY", enc, {p.Year});
    return true;
  }

  // Version 2.3 has one involved-people list for both kinds: it goes out once, where the first
  // of them stands. An odd list gets an empty last value, so that the pairs after it stay pairs.
  bool JoinedPeopleLists(TOutgoingFrame &O)
  {
    if (Has("IPLS") || FPeopleListDone) return false;
    FPeopleListDone = true;
    std::uint8_t enc = 0;
    std::vector<std::string> all;
    for (const char *kind : {"TIPL", "TMCL"}) {
      const TID3v2Frame *k = FList.Frame(FList.FrameExists(kind));
      std::uint8_t e = 0;
      std::vector<std::string> s;
      if (!k || !TextStrings(*k, e, s)) continue;
      if (all.empty()) enc = e;
      if (s.size() % 2) s.emplace_back();
      all.insert(all.end(), s.begin(), s.end());
    }
    if (all.empty()) return false;
    ReplaceText(O, "IPLS", enc, all);
    return true;
  }

  const TID3v2Frames &FList;
  const int FVersion;
  // The version the frames were read in (3 for a tag made here).
  const int FSourceVersion;
  bool FPeopleListDone = false;
  std::vector<TOutgoingFrame> FOut;
};

} // namespace

TID3v2FrameID ID3v2FrameIDFromText(std::string_view Text)
{
  TID3v2FrameID id{};
  for (std::size_t i = 0; i < 4 && i < Text.size(); ++i) id[i] = Text[i];
  return id;
}

std::string ID3v2FrameIDToText(const TID3v2FrameID &ID)
{
  std::string s;
  for (const char c : ID) {
    if (c == 0) break;
    s.push_back(c);
  }
  return s;
}

bool ValidID3v2FrameID(const TID3v2FrameID &ID, int MajorVersion)
{
  const std::size_t n = MajorVersion == 2 ? 3 : 4;
  for (std::size_t i = 0; i < n; ++i) {
    const char c = ID[i];
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
  }
  return true;
}

int ID3v2FrameKind(std::string_view FrameID)
{
  const std::string id(FrameID.substr(0, std::min<std::size_t>(FrameID.size(), 4)));
  if (id == "PRIV") return fkPRIV;
  if (id == "PCNT") return fkPlayCounter;
  if (id == "SESC" || id == "SEBR" || id == "SEFC" || id == "GEOB" || id == "APIC") return fkBinary;
  if (id == "WXXX") return fkUserURL;
  if (!id.empty() && id[0] == 'W') return fkURL;
  if (id == "TIPL" || id == "TMCL") return fkList;
  if (id == "COMM" || id == "USLT") return fkContent;
  if (id == "CHAP") return fkCHAP;
  if (id == "CTOC") return fkCTOC;
  if (id == "TXXX") return fkUserText;
  if (!id.empty() && id[0] == 'T') return fkText;
  return fkBinary;
}

namespace {
std::atomic<std::uint64_t> NextFrameSerial{1};
} // namespace

TID3v2Frame::TID3v2Frame(TID3v2Frames *AParent, const TID3v2FrameID &AID)
  : ID(AID), Parent(AParent), Serial(NextFrameSerial.fetch_add(1, std::memory_order_relaxed))
{
}

std::uint32_t TID3v2Frame::StatusBits() const
{
  return (TagAlterPreservation ? 1u : 0u) | (FileAlterPreservation ? 2u : 0u) | (ReadOnly ? 4u : 0u) |
         (GroupingIdentity ? 8u : 0u) | (Encrypted ? 16u : 0u) | (std::uint32_t{GroupIdentifier} << 8) |
         (std::uint32_t{EncryptionMethod} << 16);
}

bool TID3v2Frame::IsAsLoaded(int MajorVersion) const
{
  return FLoaded.Version != 0 && FLoaded.Version == MajorVersion && ID == FLoaded.ID && StatusBits() == FLoaded.Status;
}

void TID3v2Frame::AppendLoadedBytes(TBytes &Out) const
{
  if (FLoaded.Version == 0) return;
  Out.insert(Out.end(), FLoaded.Head.begin(), FLoaded.Head.end());
  const TBytes &data = FLoaded.DataHeld ? Data() : FLoaded.StoredData;
  Out.insert(Out.end(), data.begin(), data.end());
}

int TID3v2Frame::Index() const
{
  if (!Parent) return -1;
  for (int i = 0; i < Parent->FrameCount(); ++i)
    if (Parent->Frames[static_cast<std::size_t>(i)].get() == this) return i;
  return -1;
}

const TBytes &TID3v2Frame::Data() const
{
  if (IsDeferred()) {
    TBytes whole;
    // A frame whose file changed shows no data rather than a part of it; it stays deferred, so
    // that a writer asking LoadDeferredData learns that the data is gone.
    Stream.Data().clear();
    if (ReadFileRange(Deferred, whole)) {
      Stream.Data() = std::move(whole);
      Deferred = TFileRange();
    }
    Stream.Seek(0, TSeekOrigin::soBeginning);
  }
  return Stream.Data();
}

bool TID3v2Frame::LoadDeferredData()
{
  if (!IsDeferred()) return true;
  Data();
  return !IsDeferred();
}

void TID3v2Frame::SetDataBytes(TBytes NewData)
{
  Deferred = TFileRange();
  FLoaded = TLoadedForm();
  Stream.Data() = std::move(NewData);
  Stream.Seek(0, TSeekOrigin::soBeginning);
  Size = static_cast<std::uint32_t>(std::min<std::size_t>(Stream.Data().size(), 0xFFFFFFFFu));
  Compressed = false;
  Encrypted = false;
  Unsynchronised = false;
  DataLengthIndicator = false;
  DataLengthIndicatorValue = 0;
}

bool TID3v2Frame::Compress()
{
  if (Encrypted || Compressed) return false;
  TBytes plain = Unsynchronised ? RemoveID3v2Unsynchronisation(DataSpan()) : Data();
  if (plain.empty() || plain.size() > 0xFFFFFFFFu) return false;
  TBytes packed;
  if (!DeflateID3v2Data(plain, packed)) return false;
  const auto plainSize = static_cast<std::uint32_t>(plain.size());
  SetDataBytes(std::move(packed));
  Compressed = true;
  DataLengthIndicator = true;
  DataLengthIndicatorValue = plainSize;
  return true;
}

bool TID3v2Frame::DeCompress()
{
  if (!Compressed || Encrypted || Data().size() <= 4) return false;
  TBytes plain;
  if (!PlainFrameData(*this, plain)) return false;
  const bool keepFlags[3] = {TagAlterPreservation, FileAlterPreservation, ReadOnly};
  // The same content, held plain: a frame read compressed is still as it was loaded.
  TLoadedForm loaded = std::move(FLoaded);
  SetDataBytes(std::move(plain));
  FLoaded = std::move(loaded);
  TagAlterPreservation = keepFlags[0];
  FileAlterPreservation = keepFlags[1];
  ReadOnly = keepFlags[2];
  // The values are those that were read, only no longer packed.
  return true;
}

bool TID3v2Frame::RemoveUnsynchronisation()
{
  FWasUnsynchronised = Unsynchronised;
  if (!Unsynchronised) return false;
  Stream.Data() = RemoveID3v2Unsynchronisation(DataSpan());
  Stream.Seek(0, TSeekOrigin::soBeginning);
  Size = static_cast<std::uint32_t>(Stream.Data().size());
  Unsynchronised = false;
  return true;
}

bool TID3v2Frame::ApplyUnsynchronisation()
{
  if (Unsynchronised) return false;
  FLoaded = TLoadedForm();
  Stream.Data() = ApplyID3v2Unsynchronisation(DataSpan());
  Stream.Seek(0, TSeekOrigin::soBeginning);
  Size = static_cast<std::uint32_t>(std::min<std::size_t>(Stream.Data().size(), 0xFFFFFFFFu));
  Unsynchronised = true;
  return true;
}

void TID3v2Frame::Assign(const TID3v2Frame &Source)
{
  ID = Source.ID;
  Size = Source.Size;
  Deferred = Source.Deferred;
  Stream.Data() = Source.ResidentData();
  Stream.Seek(0, TSeekOrigin::soBeginning);
  Flags = Source.Flags;
  TagAlterPreservation = Source.TagAlterPreservation;
  FileAlterPreservation = Source.FileAlterPreservation;
  ReadOnly = Source.ReadOnly;
  Compressed = Source.Compressed;
  Encrypted = Source.Encrypted;
  GroupingIdentity = Source.GroupingIdentity;
  Unsynchronised = Source.Unsynchronised;
  DataLengthIndicator = Source.DataLengthIndicator;
  GroupIdentifier = Source.GroupIdentifier;
  EncryptionMethod = Source.EncryptionMethod;
  DataLengthIndicatorValue = Source.DataLengthIndicatorValue;
  FWasUnsynchronised = Source.FWasUnsynchronised;
  FLoaded = Source.FLoaded;
  Serial = Source.Serial;
}

void TID3v2Frame::Clear()
{
  SetDataBytes({});
  Flags = 0;
  TagAlterPreservation = FileAlterPreservation = ReadOnly = GroupingIdentity = false;
  GroupIdentifier = EncryptionMethod = 0;
}

void TID3v2Frame::Delete()
{
  if (Parent) Parent->DeleteFrame(Index());
}

void TID3v2Frame::DecodeFlags3(std::uint16_t AFlags)
{
  Flags = AFlags;
  TagAlterPreservation = (AFlags & 0x8000) != 0;
  FileAlterPreservation = (AFlags & 0x4000) != 0;
  ReadOnly = (AFlags & 0x2000) != 0;
  Compressed = (AFlags & 0x0080) != 0;
  Encrypted = (AFlags & 0x0040) != 0;
  GroupingIdentity = (AFlags & 0x0020) != 0;
  Unsynchronised = false;
  DataLengthIndicator = false;
}

std::uint16_t TID3v2Frame::EncodeFlags3() const
{
  return static_cast<std::uint16_t>((TagAlterPreservation ? 0x8000 : 0) | (FileAlterPreservation ? 0x4000 : 0) |
                                    (ReadOnly ? 0x2000 : 0) | (Compressed ? 0x0080 : 0) |
                                    (Encrypted ? 0x0040 : 0) | (GroupingIdentity ? 0x0020 : 0));
}

void TID3v2Frame::DecodeFlags4(std::uint16_t AFlags)
{
  Flags = AFlags;
  TagAlterPreservation = (AFlags & 0x4000) != 0;
  FileAlterPreservation = (AFlags & 0x2000) != 0;
  ReadOnly = (AFlags & 0x1000) != 0;
  GroupingIdentity = (AFlags & 0x0040) != 0;
  Compressed = (AFlags & 0x0008) != 0;
  Encrypted = (AFlags & 0x0004) != 0;
  Unsynchronised = (AFlags & 0x0002) != 0;
  DataLengthIndicator = (AFlags & 0x0001) != 0;
}

std::uint16_t TID3v2Frame::EncodeFlags4() const
{
  return static_cast<std::uint16_t>((TagAlterPreservation ? 0x4000 : 0) | (FileAlterPreservation ? 0x2000 : 0) |
                                    (ReadOnly ? 0x1000 : 0) | (GroupingIdentity ? 0x0040 : 0) |
                                    (Compressed ? 0x0008 : 0) | (Encrypted ? 0x0004 : 0) |
                                    (Unsynchronised ? 0x0002 : 0) | (DataLengthIndicator ? 0x0001 : 0));
}

TID3v2FrameWithSubFrames::TID3v2FrameWithSubFrames(TID3v2Frames *AParent, const TID3v2FrameID &AID)
  : TID3v2Frame(AParent, AID), SubFrames(std::make_unique<TID3v2Frames>(AParent ? AParent->Root : nullptr))
{
}

TID3v2FrameWithSubFrames::~TID3v2FrameWithSubFrames() = default;

void TID3v2FrameWithSubFrames::Assign(const TID3v2Frame &Source)
{
  TID3v2Frame::Assign(Source);
  if (const auto *s = dynamic_cast<const TID3v2FrameWithSubFrames *>(&Source)) {
    SubFrames->AssignFrames(*s->SubFrames);
    FParsed = s->FParsed;
  }
}

namespace {
// Embedded frames up to the end of In; true when they used all of it (or only padding is left).
bool LoadSubFrames(TID3v2Frames &Sub, ByteReader &In, int Depth)
{
  Sub.DeleteAllFrames();
  while (!In.AtEnd())
    if (!Sub.LoadFrame(In, Depth)) break;
  for (const std::uint8_t b : In.Rest())
    if (b != 0) return false;
  return true;
}
} // namespace

bool TID3v2FrameCHAP::Parse(int Depth)
{
  FParsed = false;
  SubFrames->DeleteAllFrames();
  if (Compressed || Encrypted || Unsynchronised) return false;
  ByteReader in(Data());
  ElementID = ReadID3v2Latin1(in);
  if (!in.ReadU32BE(StartTime) || !in.ReadU32BE(EndTime) || !in.ReadU32BE(StartOffset) || !in.ReadU32BE(EndOffset))
    return false;
  if (Depth >= kMaxChapterDepth) return false;
  FParsed = LoadSubFrames(*SubFrames, in, Depth + 1);
  Stream.Seek(0, TSeekOrigin::soBeginning);
  return FParsed;
}

bool TID3v2FrameCHAP::SetData(int MajorVersion)
{
  TBytes out;
  AppendID3v2Latin1(out, ElementID);
  ByteWriter(out).U32BE(StartTime).U32BE(EndTime).U32BE(StartOffset).U32BE(EndOffset);
  if (!SubFrames->SerializeFrames(out, MajorVersion)) return false;
  // Rebuilt to the same bytes, the frame stays as it was loaded.
  if (out != Data()) SetDataBytes(std::move(out));
  FParsed = true;
  return true;
}

void TID3v2FrameCHAP::Assign(const TID3v2Frame &Source)
{
  TID3v2FrameWithSubFrames::Assign(Source);
  if (const auto *s = dynamic_cast<const TID3v2FrameCHAP *>(&Source)) {
    ElementID = s->ElementID;
    StartTime = s->StartTime;
    EndTime = s->EndTime;
    StartOffset = s->StartOffset;
    EndOffset = s->EndOffset;
  }
}

bool TID3v2FrameCTOC::Parse(int Depth)
{
  FParsed = false;
  SubFrames->DeleteAllFrames();
  ChildElementIDs.clear();
  if (Compressed || Encrypted || Unsynchronised) return false;
  ByteReader in(Data());
  ElementID = ReadID3v2Latin1(in);
  std::uint8_t count = 0;
  if (!in.ReadU8(CTOCFlags) || !in.ReadU8(count)) return false;
  for (int i = 0; i < count; ++i) {
    if (in.AtEnd()) return false;
    ChildElementIDs.push_back(ReadID3v2Latin1(in));
  }
  if (Depth >= kMaxChapterDepth) return false;
  FParsed = LoadSubFrames(*SubFrames, in, Depth + 1);
  Stream.Seek(0, TSeekOrigin::soBeginning);
  return FParsed;
}

bool TID3v2FrameCTOC::SetData(int MajorVersion)
{
  TBytes out;
  AppendID3v2Latin1(out, ElementID);
  out.push_back(CTOCFlags);
  const std::size_t count = std::min<std::size_t>(ChildElementIDs.size(), kMaxCTOCEntries);
  out.push_back(static_cast<std::uint8_t>(count));
  for (std::size_t i = 0; i < count; ++i) AppendID3v2Latin1(out, ChildElementIDs[i]);
  if (!SubFrames->SerializeFrames(out, MajorVersion)) return false;
  // Rebuilt to the same bytes, the frame stays as it was loaded.
  if (out != Data()) SetDataBytes(std::move(out));
  FParsed = true;
  return true;
}

void TID3v2FrameCTOC::Assign(const TID3v2Frame &Source)
{
  TID3v2FrameWithSubFrames::Assign(Source);
  if (const auto *s = dynamic_cast<const TID3v2FrameCTOC *>(&Source)) {
    ElementID = s->ElementID;
    CTOCFlags = s->CTOCFlags;
    ChildElementIDs = s->ChildElementIDs;
  }
}

void TID3v2FrameCTOC::SetFlagBits(bool TopLevel, bool Ordered)
{
  CTOCFlags = static_cast<std::uint8_t>((TopLevel ? 2 : 0) | (Ordered ? 1 : 0));
}

void TID3v2FrameCTOC::AddChapter(const std::string &AElementID) { ChildElementIDs.push_back(AElementID); }

bool TID3v2FrameCTOC::DeleteChapter(const std::string &AElementID)
{
  const auto before = ChildElementIDs.size();
  std::erase(ChildElementIDs, AElementID);
  return ChildElementIDs.size() != before;
}

TID3v2Frames::~TID3v2Frames() = default;

int TID3v2Frames::MajorVersion() const { return Root ? Root->MajorVersion : 3; }

TID3v2Frame *TID3v2Frames::Frame(int Index) const
{
  if (Index < 0 || Index >= FrameCount()) return nullptr;
  return Frames[static_cast<std::size_t>(Index)].get();
}

int TID3v2Frames::AddFrame(const TID3v2FrameID &FrameID)
{
  std::unique_ptr<TID3v2Frame> f;
  if (FrameID == ID3v2FrameIDFromText("CHAP")) f = std::make_unique<TID3v2FrameCHAP>(this, FrameID);
  else if (FrameID == ID3v2FrameIDFromText("CTOC")) f = std::make_unique<TID3v2FrameCTOC>(this, FrameID);
  else f = std::make_unique<TID3v2Frame>(this, FrameID);
  if (Frames.size() == Frames.capacity()) Frames.reserve(Frames.size() + 1024);
  Frames.push_back(std::move(f));
  return FrameCount() - 1;
}

int TID3v2Frames::AddFrame(std::string_view FrameID) { return AddFrame(ID3v2FrameIDFromText(FrameID)); }

TID3v2Frame *TID3v2Frames::AddFrameEx(std::string_view FrameID) { return Frame(AddFrame(FrameID)); }

int TID3v2Frames::FrameExists(std::string_view FrameID) const
{
  const TID3v2FrameID id = ID3v2FrameIDFromText(FrameID);
  for (int i = 0; i < FrameCount(); ++i)
    if (Frames[static_cast<std::size_t>(i)]->ID == id) return i;
  return -1;
}

int TID3v2Frames::FrameBySerial(std::uint64_t Serial) const
{
  for (int i = 0; i < FrameCount(); ++i)
    if (Frames[static_cast<std::size_t>(i)]->Serial == Serial) return i;
  return -1;
}

int TID3v2Frames::FrameTypeCount(std::string_view FrameID) const
{
  const TID3v2FrameID id = ID3v2FrameIDFromText(FrameID);
  return static_cast<int>(std::count_if(Frames.begin(), Frames.end(), [&](const auto &f) { return f->ID == id; }));
}

bool TID3v2Frames::DeleteFrame(int FrameIndex)
{
  if (FrameIndex < 0 || FrameIndex >= FrameCount()) return false;
  Frames.erase(Frames.begin() + FrameIndex);
  return true;
}

bool TID3v2Frames::DeleteFrame(std::string_view FrameID) { return DeleteFrame(FrameExists(FrameID)); }

void TID3v2Frames::DeleteAllFrames()
{
  Frames.clear();
  Frames.shrink_to_fit();
  Frames.reserve(1024);
}

void TID3v2Frames::DeleteAllCoverArts()
{
  // An opaque picture frame is no picture anyone was shown: it stays as it was read.
  const TID3v2FrameID apic = ID3v2FrameIDFromText("APIC");
  std::erase_if(Frames, [&](const auto &f) { return f->ID == apic && !f->Opaque(); });
}

const TID3v2Frame *TID3v2Frames::ContentFrame(int FrameIndex) const
{
  const TID3v2Frame *f = Frame(FrameIndex);
  return f && !f->Opaque() ? f : nullptr;
}

bool TID3v2Frames::ReplaceData(int FrameIndex, TBytes Data)
{
  TID3v2Frame *f = Frame(FrameIndex);
  if (!f) return false;
  f->SetDataBytes(std::move(Data));
  return true;
}

int TID3v2Frames::FrameForWriting(std::string_view FrameID)
{
  const int i = FrameExists(FrameID);
  return i >= 0 ? i : AddFrame(FrameID);
}

void TID3v2Frames::AssignFrames(const TID3v2Frames &Source)
{
  DeleteAllFrames();
  for (const auto &src : Source.Frames) {
    TID3v2Frame *f = Frame(AddFrame(src->ID));
    f->Assign(*src);
  }
}

void TID3v2Frames::ReSetAlreadyParsedState()
{
  for (auto &f : Frames) {
    f->AlreadyParsed = false;
    if (auto *c = dynamic_cast<TID3v2FrameWithSubFrames *>(f.get())) c->SubFrames->ReSetAlreadyParsedState();
  }
}

bool TID3v2Frames::ReadFrameSizeAndFlags(ByteReader &In, int MajorVersion, std::uint32_t &Size, std::uint16_t &Flags)
{
  Size = 0;
  Flags = 0;
  if (MajorVersion == 2) return In.ReadU24BE(Size);
  if (!In.ReadU32BE(Size) || !In.ReadU16BE(Flags)) return false;
  // Version 2.4 sizes are synchronisation-safe; a size byte with its top bit set can only be
  // a plain number, as some writers stored.
  if (MajorVersion >= 4 && IsSynchsafe32(Size)) Size = DecodeSynchsafe32(Size);
  return true;
}

namespace {

// The frame ID at In; false at its end, and at padding or garbage, in front of which In stays.
bool ReadFrameID(ByteReader &In, int Version, TID3v2FrameID &ID)
{
  const std::size_t start = In.Position();
  std::span<const std::uint8_t> idBytes;
  if (!In.ReadSpan(Version == 2 ? 3 : 4, idBytes)) return false;
  std::memcpy(ID.data(), idBytes.data(), idBytes.size());
  if (ValidID3v2FrameID(ID, Version)) return true;
  In.Seek(start);
  return false;
}

// The fields the format flags add in front of the data, in the order of Version; false when
// they do not fit inside the frame.
bool ReadHeaderExtras(TID3v2Frame &F, ByteReader &Body, int Version)
{
  bool ok = true;
  if (Version == 3) {
    if (F.Compressed) ok = Body.ReadU32BE(F.DataLengthIndicatorValue);
    if (ok && F.Encrypted) ok = Body.ReadU8(F.EncryptionMethod);
    if (ok && F.GroupingIdentity) ok = Body.ReadU8(F.GroupIdentifier);
  } else if (Version >= 4) {
    if (F.GroupingIdentity) ok = Body.ReadU8(F.GroupIdentifier);
    if (ok && F.Encrypted) ok = Body.ReadU8(F.EncryptionMethod);
    if (ok && F.DataLengthIndicator) {
      std::uint32_t dli = 0;
      ok = Body.ReadU32BE(dli);
      F.DataLengthIndicatorValue = DecodeSynchsafe32(dli);
    }
  }
  return ok;
}

} // namespace

bool TID3v2Frames::LoadFrame(ByteReader &In, int Depth, const TFileRange *DeferredData)
{
  const int version = MajorVersion();
  if (FrameCount() >= kMaxID3v2Frames) return false;
  const std::uint8_t *frameStart = In.Data() + In.Position();
  TID3v2FrameID id{};
  if (!ReadFrameID(In, version, id)) return false;

  std::uint32_t size = 0;
  std::uint16_t flags = 0;
  if (!ReadFrameSizeAndFlags(In, version, size, flags)) return false;
  ByteReader body;
  if (DeferredData) {
    In.Take(In.Remaining(), body);
  } else if (!In.Take(size, body)) {
    FFrameSizeError = true;
    return false;
  }

  auto f = std::make_unique<TID3v2Frame>(this, id);
  if (version == 3) f->DecodeFlags3(flags);
  else if (version >= 4) f->DecodeFlags4(flags);

  // A frame whose extra header fields do not fit inside it is dropped, and the frames after it
  // still load since its own size was sound.
  if (!ReadHeaderExtras(*f, body, version)) {
    FFrameSizeError = true;
    return true;
  }

  const bool tagUnsynchronised = Root && Root->Unsynchronised;
  if (version < 4) {
    // The body was decoded as a whole before the frames were split.
    f->FWasUnsynchronised = tagUnsynchronised;
    f->Unsynchronised = false;
  } else {
    f->Unsynchronised = f->Unsynchronised || tagUnsynchronised;
    f->FWasUnsynchronised = f->Unsynchronised;
  }
  // The decoded header goes over to the frame the list creates (a chapter class for CHAP and
  // CTOC); the data is copied once, straight into it.
  const int index = AddFrame(id);
  TID3v2Frame &added = *Frames[static_cast<std::size_t>(index)];
  added.Assign(*f);
  const auto rest = body.Rest();
  added.Stream.Data().assign(rest.begin(), rest.end());
  added.Size = static_cast<std::uint32_t>(rest.size());
  if (DeferredData) {
    added.Deferred = *DeferredData;
    added.Size = size;
  }
  // The frame as read, to be written again as long as nobody changes it. A 2.4 frame that the
  // tag's flag alone marks unsynchronised does not say so itself, and a data length indicator
  // that does not match the plain data is wrong: neither is kept in that form.
  const bool selfDescribing = version != 4 || !tagUnsynchronised || (flags & 0x0002) != 0;
  bool soundLength = true;
  if (version == 4 && added.DataLengthIndicator && !added.Compressed && !added.Encrypted) {
    const std::size_t plain = added.Unsynchronised ? RemoveID3v2Unsynchronisation(rest).size() : rest.size();
    soundLength = plain == added.DataLengthIndicatorValue;
  }
  if (version >= 3 && selfDescribing && soundLength) {
    TID3v2Frame::TLoadedForm &l = added.FLoaded;
    l.Version = version;
    l.ID = id;
    l.Status = added.StatusBits();
    l.Head.assign(frameStart, rest.data());
    l.DataHeld = !added.Compressed && !(version == 4 && added.Unsynchronised);
    if (!l.DataHeld) l.StoredData.assign(rest.begin(), rest.end());
  }
  if (version == 2) Convertv2Tov3(index);
  if (auto *c = dynamic_cast<TID3v2FrameWithSubFrames *>(Frames[static_cast<std::size_t>(index)].get()))
    c->Parse(Depth);
  return true;
}

void TID3v2Frames::Convertv2Tov3(int FrameIndex)
{
  TID3v2Frame *f = Frame(FrameIndex);
  if (!f || f->ID[3] != 0) return;
  const auto it = V22Table().find(ID3v2FrameIDToText(f->ID));
  if (it == V22Table().end()) return;
  const bool pic = it->first == "PIC";
  f->ID = ID3v2FrameIDFromText(it->second);
  if (pic) Convertv2PICtoAPIC(FrameIndex);
}

bool TID3v2Frames::Convertv2PICtoAPIC(int FrameIndex)
{
  TID3v2Frame *f = Frame(FrameIndex);
  if (!f) return false;
  ByteReader in(f->Data());
  std::uint8_t enc = 0;
  std::string format;
  if (!in.ReadU8(enc) || !in.ReadString(3, format)) return false;
  std::erase(format, '\0');
  const std::string upper = AsciiUpperCase(format);
  std::string mime = format;
  if (upper == "JPG") mime = "image/jpeg";
  else if (upper == "PNG") mime = "image/png";
  else if (upper == "GIF") mime = "image/gif";
  else if (upper == "BMP") mime = "image/bmp";
  // Picture type, description and picture bytes are laid out alike in PIC and APIC, so they are
  // carried over as they stand; only the format becomes a MIME type.
  TBytes out;
  out.push_back(enc);
  out.insert(out.end(), mime.begin(), mime.end());
  out.push_back(0);
  const auto rest = in.Rest();
  out.insert(out.end(), rest.begin(), rest.end());
  const bool keep[3] = {f->TagAlterPreservation, f->FileAlterPreservation, f->ReadOnly};
  f->SetDataBytes(std::move(out));
  f->TagAlterPreservation = keep[0];
  f->FileAlterPreservation = keep[1];
  f->ReadOnly = keep[2];
  return true;
}

bool TID3v2Frames::FrameIsWritten(const TID3v2Frame &F, int Version) const
{
  if (!ValidID3v2FrameID(F.ID, 3) || F.Data().empty()) return false;
  if (F.ID[0] == 'T' && !F.IsID("TXXX") && !F.Compressed && !F.Encrypted) {
    TBytes plain;
    if (PlainFrameData(F, plain) && ID3v2TextDataIsEmpty(plain)) return false;
  }
  (void)Version;
  return true;
}

std::int64_t TID3v2Frames::FullFrameSize(int FrameIndex, int Version) const
{
  const TID3v2Frame *f = Frame(FrameIndex);
  if (!f) return 0;
  if (Version == 0) Version = MajorVersion();
  std::int64_t size = static_cast<std::int64_t>(f->Data().size());
  if (Version >= 4) {
    if (f->DataLengthIndicator || f->Compressed) size += 4;
  } else if (f->Compressed) {
    size += 4;
  }
  if (f->Encrypted) size += 1;
  if (f->GroupingIdentity) size += 1;
  return size;
}

std::int64_t TID3v2Frames::CalculateTotalFramesSize() const
{
  std::int64_t total = 0;
  const int version = MajorVersion() == 2 ? 3 : MajorVersion();
  for (const auto &f : Frames)
    if (FrameIsWritten(*f, version)) total += static_cast<std::int64_t>(f->Data().size());
  return total;
}

void TID3v2Frames::SetAllFrameDataStreams(int Version)
{
  if (Version == 0) Version = MajorVersion() == 2 ? 3 : MajorVersion();
  for (auto &f : Frames) {
    auto *c = dynamic_cast<TID3v2FrameWithSubFrames *>(f.get());
    if (!c || !c->Parsed()) continue;
    c->SubFrames->SetAllFrameDataStreams(Version);
    c->SetData(Version);
  }
}

bool TID3v2Frames::ApplyUnsynchronisationOnAllFrames()
{
  if (MajorVersion() < 4) {
    // Versions 2.2 and 2.3 unsynchronise the whole body when it is written.
    if (Root) Root->Unsynchronised = true;
    return true;
  }
  bool any = false;
  for (auto &f : Frames)
    if (!f->Unsynchronised) any = f->ApplyUnsynchronisation() || any;
  return any;
}

bool TID3v2Frames::SerializeFrames(TBytes &Out, int Version)
{
  if (Version != 3 && Version != 4) return false;
  SetAllFrameDataStreams(Version);
  TOutgoingFrames outgoing(*this, Version);
  for (const auto &f : Frames) {
    // A frame whose data is still in a file that changed would go missing from the tag: the
    // whole tag is refused instead.
    if (!f->LoadDeferredData()) return false;
    if (f->IsAsLoaded(Version) && !f->Data().empty()) outgoing.AddAsLoaded(*f);
    else if (FrameIsWritten(*f, Version)) outgoing.Add(*f);
  }
  for (const auto &o : outgoing.Frames())
    if (!SerializeOneFrame(o, Version, Out)) return false;
  return true;
}
