#include "tags/tag_container.h"

#include <algorithm>
#include <exception>
#include <optional>

#include "tags/id3/skip_id3v2.h"
#include "tags/streams/buffered_stream.h"
#include "tags/streams/byte_reader.h"
#include "tags/streams/file_io.h"
#include "tags/streams/mtime_keeper.h"
#include "tags/streams/read_view.h"
#include "tags/text/lines.h"
#include "tags/text/text.h"

namespace {

// Native code -> container code; -1 stands for 0xFFFF.
using TCodeMap = std::array<int, 13>;

// One native tag format as the container sees it. Every step that walks "every native" walks
// the table below, so a new format is one row (and one member of TTags).
struct TNativeFormat {
  TTagType Type;
  // Loads the native from the view, positioned at 0.
  bool (*Load)(TTags &, TReadView &);
  bool (*IsLoaded)(const TTags &);
  void (*MapToEntries)(TTags &);
  bool SkipWhenOnlyCoverArts;  // mapper not run with OnlyParseCoverArts
  int (*SaveFile)(TTags &, const std::string &);  // prepare, then write; native code
  int (*SaveStream)(TTags &, TStream &);
  int (*RemoveFromFile)(const std::string &);      // native code
  std::array<int, 2> RemoveNothingCodes;           // native removal codes for "no such tag here"
  void (*DeleteEntry)(TTags &, const std::string &UpperName, const TTag &);
  void (*ClearNative)(TTags &);
  bool (*AssignNative)(TTags &, const TTags &);
  std::int64_t (*Size)(const TTags &);
  TCodeMap Codes;
  bool SaveCountsAsSuccess;  // false: an automatic save of this native alone does not make a file tagged
  // Run before this native is chosen by the content of a file (not by its loaded tags).
  void (*BeforeContentSave)(TTags &);
};

bool SaveID3v1WithLyrics(const TTags &T) { return !T.ID3v1Tag.LyricsFrames.empty(); }

const TNativeFormat kID3v1Format = {
  ttID3v1,
  [](TTags &T, TReadView &V) { return T.ID3v1Tag.LoadFromStream(V) == id3v1Ok; },
  [](const TTags &T) { return T.ID3v1Tag.Loaded; },
  [](TTags &T) { T.LoadID3v1Tags(); },
  true,
  [](TTags &T, const std::string &F) {
    T.PrepareID3v1Tag();
    return T.ID3v1Tag.SaveToFile(F, SaveID3v1WithLyrics(T));
  },
  [](TTags &T, TStream &S) {
    T.PrepareID3v1Tag();
    return T.ID3v1Tag.SaveToStream(S, SaveID3v1WithLyrics(T));
  },
  [](const std::string &F) { return StripID3v1FromFile(F, false); },
  {id3v1NoTag, id3v1NoTag},
  [](TTags &T, const std::string &N, const TTag &) {
    TID3v1Tag &v1 = T.ID3v1Tag;
    if (N == "TITLE") v1.Title.clear();
    else if (N == "ARTIST") v1.Artist.clear();
    else if (N == "ALBUM") v1.Album.clear();
    else if (N == "YEAR") v1.Year.clear();
    else if (N == "COMMENT") v1.Comment.clear();
    else if (N == "GENRE") v1.Genre.clear();
    else if (N == "TRACKNUMBER" || N == "TRACK") v1.Track = 0;
  },
  [](TTags &T) { T.ID3v1Tag.Clear(); },
  [](TTags &T, const TTags &S) { return T.ID3v1Tag.Assign(S.ID3v1Tag); },
  [](const TTags &) -> std::int64_t { return 128; },
  {0, -1, -1, 5, 6, 7, -1, -1, -1, -1, -1, -1, -1},
  false,
  nullptr,
};

int SaveID3v2(TTags &T, TStream *Stream, const std::string &FileName)
{
  T.PrepareID3v2Tag();
  T.ID3v2Tag.SetAllFrameDataStreams();
  return Stream ? T.ID3v2Tag.SaveToStream(*Stream) : T.ID3v2Tag.SaveToFile(FileName);
}

const TNativeFormat kID3v2Format = {
  ttID3v2,
  [](TTags &T, TReadView &V) {
    T.ID3v2Tag.ParseAudioAttributes = T.ParseAudioAttributes;
    T.ID3v2Tag.ParseCoverArts = T.ParseCoverArts;
    const bool loaded = T.ID3v2Tag.LoadFromView(V) == id3v2Ok;
    if (loaded) {
      T.ID3v2Tag.SourceFileName = V.FileName();
      T.ID3v2Tag.DeCompressAllFrames();
    }
    return loaded;
  },
  [](const TTags &T) { return T.ID3v2Tag.Loaded; },
  [](TTags &T) { T.LoadID3v2Tags(); },
  false,
  [](TTags &T, const std::string &F) { return SaveID3v2(T, nullptr, F); },
  [](TTags &T, TStream &S) { return SaveID3v2(T, &S, std::string()); },
  [](const std::string &F) { return StripID3v2FromFile(F, false); },
  {id3v2NoTag, id3v2NoFrames},
  [](TTags &T, const std::string &N, const TTag &E) { T.DeleteID3v2Entry(N, E); },
  [](TTags &T) { T.ID3v2Tag.Clear(); },
  [](TTags &T, const TTags &S) { T.ID3v2Tag.Assign(S.ID3v2Tag); return true; },
  [](const TTags &T) -> std::int64_t { return T.ID3v2Tag.Size; },
  {0, 1, 3, 4, 5, 6, 7, 8, 9, 10, 13, 14, -1},
  true,
  [](TTags &T) {
    // Frames that describe the old audio or encoding must not be carried into a new tag.
    for (const char *id : {"SEFC", "SESC", "TLEN"}) TTags::ClearAllID3v2FramesByID(T.ID3v2Tag, id);
  },
};

// Load, save and removal order of the natives.
const TNativeFormat *const kNativeFormats[] = {&kID3v1Format, &kID3v2Format};

const TNativeFormat *FindFormat(TTagType Type)
{
  for (const TNativeFormat *f : kNativeFormats)
    if (f->Type == Type) return f;
  return nullptr;
}

int ConvertCode(const TNativeFormat &F, int NativeCode)
{
  if (NativeCode < 0 || NativeCode >= static_cast<int>(F.Codes.size())) return tagsUnsupported;
  const int c = F.Codes[static_cast<std::size_t>(NativeCode)];
  return c < 0 ? tagsUnsupported : c;
}

// Results that only say "not here" rather than "something went wrong".
bool IsBenignSaveResult(int ContainerCode)
{
  return ContainerCode == tagsOk || ContainerCode == tagsNoTag || ContainerCode == tagsNothingToDo ||
         ContainerCode == tagsWrongFileKind;
}

std::string ExtensionOf(const std::string &FileName) { return AsciiUpperCase(PathExtension(FileName)); }

// Which natives a file of a recognised content gets when none of its loaded tags was written.
std::vector<TTagType> NativesForContent(TAudioContainerType Type, bool ForStream)
{
  switch (Type) {
  case actMonkey: case actOptimFROG: case actMusepack: case actWavPack: return {ttAPEv2};
  case actFLAC: case actOggFLAC: return {ttFlac};
  case actMPEG: case actAIFF: case actAIFC: case actDSDIFF: case actDSF: return {ttID3v2};
  case actWAV: case actRF64: return {ttID3v2, ttWAV};
  case actMP4: return {ttMP4};
  case actOpus: case actVorbis: return {ttOpusVorbis};
  case actTheora: if (ForStream) return {}; return {ttOpusVorbis};
  case actUnknown: return {};
  }
  return {};
}

// Collects the results of several native saves: the first real failure wins over any later
// success, so a failure is never hidden.
struct TSaveOutcome {
  bool Attempted = false;
  bool Succeeded = false;
  int Last = tagsUnsupported;
  std::optional<int> FirstFailure;

  void Record(const TNativeFormat &F, int NativeCode)
  {
    const int code = ConvertCode(F, NativeCode);
    Attempted = true;
    Last = code;
    if (code == tagsOk && F.SaveCountsAsSuccess) Succeeded = true;
    if (!IsBenignSaveResult(code) && !FirstFailure) FirstFailure = code;
  }
  int Result() const
  {
    if (FirstFailure) return *FirstFailure;
    return Attempted ? Last : tagsUnsupported;
  }
};

template <typename F> bool Guarded(F &&Fn)
{
  try {
    return Fn();
  } catch (...) {
    return false;
  }
}

// First bytes of an Ogg stream at Pos: the codec of its first packet.
TAudioContainerType OggCodecAt(TStream &Stream, std::int64_t Pos)
{
  TBytes page;
  const std::int64_t size = Stream.GetSize();
  if (size < 0 || Pos > size) return actUnknown;
  if (!Stream.ReadAt(Pos, std::min<std::int64_t>(size - Pos, 27 + 255 + 16), page)) return actUnknown;
  ByteReader in(page);
  std::uint8_t segments = 0;
  if (!in.Expect("OggS") || !in.Skip(22) || !in.ReadU8(segments) || !in.Skip(segments)) return actUnknown;
  if (in.StartsWith("\x01vorbis")) return actVorbis;
  if (in.StartsWith("OpusHead")) return actOpus;
  if (in.StartsWith("\x80theora")) return actTheora;
  return actUnknown;
}

bool MagicAt(const TBytes &Buf, std::size_t Pos, std::string_view Magic)
{
  return Pos + Magic.size() <= Buf.size() && std::equal(Magic.begin(), Magic.end(), Buf.begin() + static_cast<std::ptrdiff_t>(Pos),
                                                        [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
}

} // namespace

const char *TagTypeName(TTagType T)
{
  static const char *const kNames[] = {"ttNone", "ttAutomatic", "ttAPEv2", "ttFlac", "ttID3v1", "ttID3v2", "ttMP4",
                                       "ttOpusVorbis", "ttWAV", "ttWMA", "ttMP4Xtra", "ttLyrics2", "ttMKV"};
  return (T >= 0 && T <= ttMKV) ? kNames[T] : "ttNone";
}

const char *AudioContainerTypeName(TAudioContainerType T)
{
  static const char *const kNames[] = {"actUnknown", "actMonkey", "actFLAC", "actOggFLAC", "actMPEG", "actMP4",
                                       "actOpus", "actVorbis", "actTheora", "actWAV", "actRF64", "actAIFF",
                                       "actAIFC", "actDSDIFF", "actDSF", "actOptimFROG", "actMusepack", "actWavPack"};
  return (T >= 0 && T <= actWavPack) ? kNames[T] : "actUnknown";
}

// ---- TTag

void TTag::Clear()
{
  Name.clear();
  Value.clear();
  Language.clear();
  Description.clear();
}

bool TTag::Assign(const TTag *Tag)
{
  Clear();
  if (Tag) {
    Name = Tag->Name;
    Value = Tag->Value;
    Language = Tag->Language;
    Description = Tag->Description;
  }
  return true;
}

int TTag::GetIndex() const
{
  if (!Parent) return -1;
  for (std::size_t i = 0; i < Parent->Tags.size(); ++i)
    if (Parent->Tags[i].get() == this) return static_cast<int>(i);
  return -1;
}

bool TTag::Remove() { return Parent && Parent->Remove(GetIndex()); }
bool TTag::Delete() { return Parent && Parent->Delete(GetIndex()); }

bool TTag::SetAsList(const TStringList &List)
{
  Value = PairItemsToText(List);
  return true;
}

bool TTag::GetList(TStringList &List) const
{
  List = PairItemsFromText(Value);
  return true;
}

// ---- TCoverArt

void TCoverArt::Clear()
{
  Name.clear();
  Stream.Clear();
  Deferred = TFileRange();
  Description.clear();
  MIMEType.clear();
  CoverType = 0;
  PictureFormat = tpfUnknown;
  Width = Height = ColorDepth = NoOfColors = 0;
}

bool TCoverArt::Assign(const TCoverArt &CoverArt)
{
  if (&CoverArt == this) return true;
  Clear();
  Name = CoverArt.Name;
  Stream.Data() = CoverArt.Stream.Data();
  Deferred = CoverArt.Deferred;
  Stream.SetPosition(0);
  Description = CoverArt.Description;
  CoverType = CoverArt.CoverType;
  MIMEType = CoverArt.MIMEType;
  PictureFormat = CoverArt.PictureFormat;
  Width = CoverArt.Width;
  Height = CoverArt.Height;
  ColorDepth = CoverArt.ColorDepth;
  NoOfColors = CoverArt.NoOfColors;
  AlreadyParsed = CoverArt.AlreadyParsed;
  return true;
}

int TCoverArt::GetIndex() const
{
  if (!Parent) return -1;
  for (std::size_t i = 0; i < Parent->CoverArts.size(); ++i)
    if (Parent->CoverArts[i].get() == this) return static_cast<int>(i);
  return -1;
}

bool TCoverArt::Delete() { return Parent && Parent->DeleteCoverArt(GetIndex()); }

bool TCoverArt::LoadData(std::string *Error)
{
  if (!IsDeferred()) return true;
  TBytes bytes;
  if (!ReadFileRange(Deferred, bytes, Error)) return false;
  Stream.Data() = std::move(bytes);
  Stream.SetPosition(0);
  Deferred = TFileRange();
  return true;
}

// ---- TTags: entries

TTags::TTags()
  : TagLoadPriority{ttFlac, ttOpusVorbis, ttMP4, ttWAV, ttID3v2, ttAPEv2, ttID3v1, ttWMA, ttNone}
{
}

TTags::~TTags()
{
  Clear();
  User1.reset();
  User2.reset();
}

TTag *TTags::Add(const std::string &Name)
{
  Tags.push_back(std::make_unique<TTag>(this));
  Tags.back()->Name = Name;
  return Tags.back().get();
}

int TTags::Exists(const std::string &Name) const
{
  for (std::size_t i = 0; i < Tags.size(); ++i)
    if (SameText(Tags[i]->Name, Name)) return static_cast<int>(i);
  return -1;
}

TTag *TTags::Tag(const std::string &Name) const
{
  const int i = Exists(Name);
  return i < 0 ? nullptr : Tags[static_cast<std::size_t>(i)].get();
}

int TTags::TypeCount(const std::string &Name) const
{
  return static_cast<int>(std::count_if(Tags.begin(), Tags.end(), [&](const auto &t) { return SameText(t->Name, Name); }));
}

std::string TTags::GetText(const std::string &Name) const
{
  const TTag *t = Tag(Name);
  return t ? t->Value : std::string();
}

int TTags::SetText(const std::string &Name, const std::string &Text)
{
  const int i = Exists(Name);
  if (i >= 0) {
    if (!Text.empty()) {
      Tags[static_cast<std::size_t>(i)]->Value = Text;
      return i;
    }
    Delete(i);
    return -1;
  }
  if (Text.empty()) return -1;
  Add(Name)->Value = Text;
  return Count() - 1;
}

int TTags::SetList(const std::string &Name, const TStringList &List)
{
  std::string joined;
  for (const std::string &s : List) joined += s;
  const int i = Exists(Name);
  if (i >= 0) {
    if (!joined.empty()) {
      Tags[static_cast<std::size_t>(i)]->SetAsList(List);
      return i;
    }
    Delete(i);
    return -1;
  }
  if (joined.empty()) return -1;
  Add(Name)->SetAsList(List);
  return Count() - 1;
}

int TTags::GetList(const std::string &Name, TStringList &List) const
{
  List.clear();
  if (const TTag *t = Tag(Name)) t->GetList(List);
  return -1;
}

bool TTags::GetMultipleList(const std::string &Name, TStringList &List) const
{
  List.clear();
  bool any = false;
  for (const auto &t : Tags) {
    if (!SameText(t->Name, Name)) continue;
    any = true;
    if (ItemAlreadyOnList(List, t->Value)) continue;
    const TStringList lines = SplitLines(t->Value);
    List.insert(List.end(), lines.begin(), lines.end());
  }
  return any;
}

bool TTags::ItemAlreadyOnList(const TStringList &List, const std::string &Item)
{
  return std::any_of(List.begin(), List.end(), [&](const std::string &s) { return SameText(s, Item); });
}

bool TTags::Delete(int Index)
{
  if (Index < 0 || Index >= Count()) return false;
  const TTag &tag = *Tags[static_cast<std::size_t>(Index)];
  const std::string upper = AsciiUpperCase(tag.Name);
  for (const TNativeFormat *f : kNativeFormats) Guarded([&] { f->DeleteEntry(*this, upper, tag); return true; });
  Tags.erase(Tags.begin() + Index);
  return true;
}

bool TTags::Delete(const std::string &Name) { return Delete(Exists(Name)); }

bool TTags::Remove(int Index)
{
  if (Index < 0 || Index >= Count()) return false;
  Tags.erase(Tags.begin() + Index);
  return true;
}

int TTags::Clear(const std::string &Name)
{
  int n = 0;
  for (int i = Count() - 1; i >= 0; --i)
    if (SameText(Tags[static_cast<std::size_t>(i)]->Name, Name) && Delete(i)) ++n;
  return n;
}

void TTags::RemoveEmptyTags()
{
  for (int i = Count() - 1; i >= 0; --i)
    if (Tags[static_cast<std::size_t>(i)]->Value.empty()) Delete(i);
}

void TTags::DeleteAllTags() { Tags.clear(); }

void TTags::RemoveFromList(const std::string &Name)
{
  std::erase_if(Tags, [&](const auto &t) { return SameText(t->Name, Name); });
}

void TTags::Clear()
{
  DeleteAllTags();
  DeleteAllCoverArts();
  for (const TNativeFormat *f : kNativeFormats) f->ClearNative(*this);
  SourceAudioAttributes.Clear();
  FileName.clear();
  Loaded = false;
}

void TTags::ReSetAlreadyParsedState()
{
  for (auto &t : Tags) t->AlreadyParsed = false;
  for (auto &c : CoverArts) c->AlreadyParsed = false;
}

// ---- TTags: pictures

TCoverArt *TTags::CoverArt(const std::string &Name) const
{
  for (const auto &c : CoverArts)
    if (SameText(c->Name, Name)) return c.get();
  return nullptr;
}

TCoverArt *TTags::AddCoverArt(const std::string &Name)
{
  CoverArts.push_back(std::make_unique<TCoverArt>(this));
  TCoverArt *c = CoverArts.back().get();
  c->Name = Name;
  c->Description = "No description";
  c->PictureFormat = tpfUnknown;
  return c;
}

TCoverArt *TTags::AddCoverArt(const std::string &Name, TStream &Stream, const std::string &MIMEType)
{
  TCoverArt *c = AddCoverArt(Name);
  c->MIMEType = MIMEType;
  c->PictureFormat = MIMETypeToPictureFormat(MIMEType);
  if (Stream.SetPosition(0)) c->Stream.CopyFrom(Stream, -1);
  c->Stream.SetPosition(0);
  return c;
}

TCoverArt *TTags::AddCoverArtFromFile(const std::string &Name, const std::string &AFileName)
{
  TBytes bytes;
  if (!FileExists(AFileName) || !ReadWholeFile(AFileName, bytes)) return nullptr;
  TMemoryStream stream(std::move(bytes));
  TCoverArt *c = AddCoverArt(Name, stream, SniffPictureMIMEType(stream.Data().data(), stream.Data().size()));
  c->Description = PathFileName(AFileName);
  return c;
}

bool TTags::DeleteCoverArt(int Index)
{
  if (Index < 0 || Index >= CoverArtCount()) return false;
  CoverArts.erase(CoverArts.begin() + Index);
  return true;
}

void TTags::DeleteAllCoverArts() { CoverArts.clear(); }

bool TTags::AssignCoverArts(const TTags &Source, bool Append)
{
  if (&Source == this) return CoverArtCount() > 0;
  if (!Append) DeleteAllCoverArts();
  for (const auto &c : Source.CoverArts) {
    CoverArts.push_back(std::make_unique<TCoverArt>(this));
    CoverArts.back()->Assign(*c);
  }
  return !Source.CoverArts.empty();
}

bool TTags::Assign(const TTags &Source, bool CoverArtsToo)
{
  if (&Source == this) return true;
  return Guarded([&] {
    Clear();
    FileName = Source.FileName;
    Loaded = Source.Loaded;
    for (const TNativeFormat *f : kNativeFormats)
      if (f->IsLoaded(Source)) f->AssignNative(*this, Source);
    for (const auto &t : Source.Tags) {
      TTag *n = Add(std::string());
      n->Assign(t.get());
    }
    if (CoverArtsToo) AssignCoverArts(Source, false);
    return true;
  });
}

std::int64_t TTags::GetSize() const
{
  std::int64_t size = 0;
  for (const TNativeFormat *f : kNativeFormats)
    if (f->IsLoaded(*this)) size += f->Size(*this);
  return size;
}

std::vector<TTagType> TTags::LoadedTagTypes() const
{
  std::vector<TTagType> types;
  for (const TNativeFormat *f : kNativeFormats)
    if (f->IsLoaded(*this)) types.push_back(f->Type);
  return types;
}

// ---- TTags: ID3v1 mapping

void TTags::LoadID3v1Tags()
{
  const TID3v1Tag &v1 = ID3v1Tag;
  const auto put = [this](const char *Name, const std::string &Value) {
    if (Value.empty()) return;
    RemoveFromList(Name);
    Add(Name)->Value = Value;
  };
  put("TITLE", v1.Title);
  put("ARTIST", v1.Artist);
  put("ALBUM", v1.Album);
  put("YEAR", v1.Year);
  put("COMMENT", v1.Comment);
  if (v1.Track != 0) {
    RemoveFromList("TRACK");
    put("TRACKNUMBER", std::to_string(v1.Track));
  }
  put("GENRE", v1.Genre);
}

namespace {
// An ID3v1 track number: 1..255 from a whole decimal number; anything else is "none".
std::uint8_t ID3v1TrackFrom(const std::string &Text)
{
  std::int64_t n = 0;
  if (!TryParseInt64(TrimBlanks(Text), n) || n < 1 || n > 255) return 0;
  return static_cast<std::uint8_t>(n);
}
} // namespace

void TTags::PrepareID3v1Tag()
{
  TID3v1Tag &v1 = ID3v1Tag;
  v1.Revision1 = true;
  v1.Title = GetText("TITLE");
  v1.Artist = GetText("ARTIST");
  v1.Album = GetText("ALBUM");
  v1.Year = GetText("YEAR");
  if (v1.Year.empty()) v1.Year = GetText("RELEASEDATE");
  if (v1.Year.empty()) v1.Year = GetText("RECORDINGDATE");
  v1.Comment = GetText("COMMENT");
  v1.Track = ID3v1TrackFrom(GetText("TRACKNUMBER"));
  if (v1.Track == 0) v1.Track = ID3v1TrackFrom(GetText("TRACK"));
  v1.Genre = GetText("GENRE");
}

// ---- TTags: loading

namespace {
// The WavPack, Musepack and Monkey's Audio header readers a load asks for; a reader whose
// header is not valid is not kept.
void LoadHeaderReaders(TTags &T, TStream &Stream, bool WavPack, bool Musepack, bool Monkey)
{
  const TNativeFormat *v1 = FindFormat(ttID3v1);
  const std::int64_t endTags = v1 && v1->IsLoaded(T) ? 128 : 0;
  const std::int64_t startTag = T.ID3v2Tag.Loaded && T.ID3v2Tag.Position() == 0 ? T.ID3v2Tag.Size : 0;
  TSourceAudioAttributes &a = T.SourceAudioAttributes;
  Guarded([&] {
    if (WavPack) {
      auto r = std::make_unique<TWAVPackfile>();
      if (Stream.SetPosition(0) && r->LoadFromStream(Stream, 0)) a.WAVPackAttributes = std::move(r);
    }
    if (Musepack) {
      auto r = std::make_unique<TMPEGplus>();
      if (Stream.SetPosition(0) && r->LoadFromStream(Stream, startTag, endTags)) a.MusePackAttributes = std::move(r);
    }
    if (Monkey) {
      auto r = std::make_unique<TMonkey>();
      if (Stream.SetPosition(0) && r->LoadFromStream(Stream, startTag, endTags)) a.MonkeyAttributes = std::move(r);
    }
    return true;
  });
}
} // namespace

// Merges the loaded natives into entries, from the lowest load priority to the highest, so
// that a format of higher priority replaces the values of a lower one name by name.
void TTags::MapLoadedTags()
{
  Loaded = !LoadedTagTypes().empty();
  for (int slot = static_cast<int>(TagLoadPriority.size()) - 1; slot >= 0; --slot) {
    const TNativeFormat *f = FindFormat(TagLoadPriority[static_cast<std::size_t>(slot)]);
    if (!f || !f->IsLoaded(*this) || (OnlyParseCoverArts && f->SkipWhenOnlyCoverArts)) continue;
    Guarded([&] { f->MapToEntries(*this); return true; });
  }
}

int TTags::LoadFromFile(const std::string &AFileName)
{
  Clear();
  auto view = TReadView::OpenFile(AFileName);
  if (!view) return tagsFileNotFound;
  const std::string ext = ExtensionOf(AFileName);
  LoadFromView(*view, ParseWavPackAudioAttributes && ext == ".WV", ParseMusePackAudioAttributes && ext == ".MPC",
               ParseMonkeyAudioAttributes && ext == ".APE");
  FileName = AFileName;
  MapLoadedTags();
  return tagsOk;
}

int TTags::LoadFromStream(TStream &Stream, bool Buffered)
{
  (void)Buffered;
  Clear();
  const std::int64_t size = Stream.GetSize();
  if (size <= 0) return tagsFileNotFound;
  TReadView view(Stream);
  LoadFromView(view, ParseWavPackAudioAttributes, ParseMusePackAudioAttributes, ParseMonkeyAudioAttributes);
  FileName.clear();
  MapLoadedTags();
  return tagsOk;
}

void TTags::LoadFromView(TReadView &View, bool WavPack, bool Musepack, bool Monkey)
{
  for (const TNativeFormat *f : kNativeFormats) {
    if (!View.SetPosition(0)) continue;
    Guarded([&] { return f->Load(*this, View); });
  }
  if (WavPack || Musepack || Monkey) LoadHeaderReaders(*this, View, WavPack, Musepack, Monkey);
}

int TTags::LoadFromMemory(const void *Address, std::int64_t Size)
{
  if (!Address || Size <= 0) {
    Clear();
    return tagsNoFileOrBlock;
  }
  TReadMemoryStream stream(Address, Size);
  return LoadFromStream(stream, true);
}

// ---- TTags: saving

bool TTags::LoadDeferredCoverArts()
{
  for (auto &c : CoverArts)
    if (!c->LoadData()) return false;
  return true;
}

int TTags::SaveToFile(const std::string &AFileName, TTagType TagType)
{
  // Saving never creates a file: a tag-only file is of no use to anybody. One stat answers
  // that and gives the time to put back.
  TFileFacts facts;
  if (!StatFile(AFileName, facts) || !facts.Exists) return tagsFileNotFound;
  // Pictures are written from their bytes: a picture whose file changed since the load would
  // otherwise be written empty or from other bytes.
  if (!LoadDeferredCoverArts()) return tagsUpdateFailed;
  TModTimeKeeper keeper(AFileName, PreserveFileDateTime, facts);

  int result = tagsUnsupported;
  if (TagType == ttAutomatic) {
    TSaveOutcome outcome;
    const auto save = [&](const TNativeFormat &f) {
      int code = tagsUnsupported;
      if (!Guarded([&] { code = f.SaveFile(*this, AFileName); return true; })) code = -1;
      outcome.Record(f, code);
    };
    if (!FileName.empty() && SameText(AFileName, FileName))
      for (const TNativeFormat *f : kNativeFormats)
        if (f->IsLoaded(*this)) save(*f);
    // The next rounds are for a file none of whose loaded tags took the values. After a real
    // failure they would write the same tag again and leave a changed file behind a save that
    // reports the failure, so a failure ends the save.
    const auto tryNextRound = [&] { return !outcome.Succeeded && !outcome.FirstFailure; };
    if (tryNextRound())
      for (TTagType t : NativesForContent(GetAudioContainerType(AFileName), false))
        if (const TNativeFormat *f = FindFormat(t)) {
          if (f->BeforeContentSave) f->BeforeContentSave(*this);
          save(*f);
        }
    if (tryNextRound()) {
      const TTagTypes wanted = GetTagTypesByExtension(AFileName);
      for (const TNativeFormat *f : kNativeFormats)
        if (wanted & TagTypeBit(f->Type)) save(*f);
    }
    result = outcome.Result();
  } else {
    const TTagType type = TagType == ttLyrics2 ? ttID3v1 : TagType;
    const TNativeFormat *f = (type >= ttAPEv2 && type <= ttWMA) ? FindFormat(type) : nullptr;
    if (f) {
      int code = -1;
      Guarded([&] { code = f->SaveFile(*this, AFileName); return true; });
      result = ConvertCode(*f, code);
    }
  }
  return result;
}

int TTags::SaveToStream(TStream &Stream, bool Buffered, TTagType TagType)
{
  if (TagType == ttWMA) return tagsWrongFileKind;
  if (!LoadDeferredCoverArts()) return tagsUpdateFailed;
  std::optional<TBufferedStream> buffered;
  if (Buffered) buffered.emplace(Stream);
  TStream &target = Buffered ? static_cast<TStream &>(*buffered) : Stream;

  int result = tagsUnsupported;
  const auto save = [&](const TNativeFormat &f) {
    int code = -1;
    if (target.SetPosition(0)) Guarded([&] { code = f.SaveStream(*this, target); return true; });
    return code;
  };
  if (TagType == ttAutomatic) {
    TSaveOutcome outcome;
    for (TTagType t : NativesForContent(GetAudioContainerTypeFromStream(target), true))
      if (const TNativeFormat *f = FindFormat(t)) outcome.Record(*f, save(*f));
    result = outcome.Result();
  } else {
    const TTagType type = TagType == ttLyrics2 ? ttID3v1 : TagType;
    const TNativeFormat *f = (type >= ttAPEv2 && type <= ttWMA) ? FindFormat(type) : nullptr;
    if (f) result = ConvertCode(*f, save(*f));
  }
  if (buffered && !buffered->Flush() && result == tagsOk) result = tagsWriteFailed;
  return result;
}

// ---- unit-level functions

int RemoveTagsFromFile(const std::string &FileName, TTagType TagType)
{
  if (!FileExists(FileName)) return tagsNoFileOrBlock;
  if (TagType == ttAutomatic) {
    std::optional<int> firstFailure;
    for (const TNativeFormat *f : kNativeFormats) {
      int code = -1;
      Guarded([&] { code = f->RemoveFromFile(FileName); return true; });
      const bool nothing = code == f->RemoveNothingCodes[0] || code == f->RemoveNothingCodes[1];
      if (code != 0 && !nothing && !firstFailure) firstFailure = ConvertCode(*f, code);
    }
    return firstFailure.value_or(tagsOk);
  }
  const TNativeFormat *f = (TagType >= ttAPEv2 && TagType <= ttWMA) ? FindFormat(TagType) : nullptr;
  if (!f) return tagsUnsupported;
  int code = -1;
  Guarded([&] { code = f->RemoveFromFile(FileName); return true; });
  return code == 0 ? tagsOk : ConvertCode(*f, code);
}

TTagTypes GetTagTypesByExtension(const std::string &FileName)
{
  const std::string ext = ExtensionOf(FileName);
  const auto in = [&](std::initializer_list<const char *> list) {
    return std::any_of(list.begin(), list.end(), [&](const char *e) { return ext == e; });
  };
  if (in({".MPG", ".MP1", ".MP2", ".MP3", ".MPA", ".AIFF", ".AIF", ".AIFC", ".AFC", ".DSF", ".DFF"})) return TagTypeBit(ttID3v2);
  if (in({".OGG", ".OPUS", ".OGV"})) return TagTypeBit(ttOpusVorbis);
  if (in({".FLAC", ".FLA", ".FLC", ".OGA"})) return TagTypeBit(ttFlac);
  if (in({".WMA", ".WMV", ".ASF"})) return TagTypeBit(ttWMA);
  if (in({".MP4", ".M4A", ".M4B", ".ALAC"})) return TagTypeBit(ttMP4);
  if (in({".APE", ".MPC", ".WV", ".OFR"})) return TagTypeBit(ttAPEv2);
  if (in({".WAV", ".WAVE", ".RF64", ".BWF"})) return TagTypeBit(ttWAV) | TagTypeBit(ttID3v2);
  return TagTypeBit(ttAPEv2);
}

TAudioContainerType GetAudioContainerType(const std::string &FileName)
{
  auto f = TFileStream::Open(FileName, TFileMode::fmOpenRead);
  if (!f) return actUnknown;
  TBufferedStream buffered(*f);
  return GetAudioContainerTypeFromStream(buffered);
}

TAudioContainerType GetAudioContainerTypeFromStream(TStream &Stream)
{
  const std::int64_t size = Stream.GetSize();
  if (size <= 0) return actUnknown;
  const std::int64_t s = SkipID3v2(Stream);
  TBytes head;
  if (!Stream.ReadAt(s, std::min<std::int64_t>(16, size - s), head)) return actUnknown;

  if (MagicAt(head, 0, "RIFF")) return actWAV;
  if (MagicAt(head, 0, "RF64")) return actRF64;
  if (MagicAt(head, 0, "MAC")) return actMonkey;
  if (MagicAt(head, 0, "OFR ")) return actOptimFROG;
  if (MagicAt(head, 0, "MP+") || MagicAt(head, 0, "MPC")) return actMusepack;
  if (MagicAt(head, 0, "fLaC")) return actFLAC;
  if (MagicAt(head, 0, "DSD ")) return actDSF;
  if (MagicAt(head, 0, "FRM8") && MagicAt(head, 12, "DSD ")) return actDSDIFF;

  if (MagicAt(head, 0, "OggS")) {
    TBytes flac;
    if (Stream.ReadAt(s + 29, 4, flac) && MagicAt(flac, 0, "FLAC")) return actOggFLAC;
    const TAudioContainerType codec = OggCodecAt(Stream, s);
    if (codec != actUnknown) return codec;
  }
  if (MagicAt(head, 0, "FORM") && MagicAt(head, 8, "AIFF")) return actAIFF;
  if (MagicAt(head, 0, "FORM") && MagicAt(head, 8, "AIFC")) return actAIFC;
  if (MagicAt(head, 4, "ftyp")) return actMP4;

  {
    TWAVPackfile wavpack;
    if (Stream.SetPosition(0) && wavpack.LoadFromStream(Stream, 0)) return actWavPack;
    TMPEGplus musepack;
    if (Stream.SetPosition(0) && musepack.LoadFromStream(Stream, s, 0)) return actMusepack;
  }

  // An MPEG audio frame sync within the first bytes behind the tag. Each attempt reads one
  // byte, and a second one when the first is FF, exactly as far as 1025 attempts reach.
  TBytes window;
  if (!Stream.ReadAt(s, std::min<std::int64_t>(2 * 1025, size - s), window)) return actUnknown;
  std::size_t i = 0;
  for (int attempt = 0; attempt < 1025 && i < window.size(); ++attempt) {
    if (window[i] != 0xFF) { ++i; continue; }
    if (i + 1 >= window.size()) break;
    const std::uint8_t b = window[i + 1];
    if (b == 0xF9 || b == 0xFA || b == 0xFB || b == 0xFC || b == 0xFD || b == 0xF2 || b == 0xF3 || b == 0xE3) {
      Stream.SetPosition(s + static_cast<std::int64_t>(i));
      return actMPEG;
    }
    i += 2;
  }
  return actUnknown;
}

TTagPictureFormat MIMETypeToPictureFormat(const std::string &MIMEType)
{
  if (SameText(MIMEType, "image/jpeg") || SameText(MIMEType, "image/jpg")) return tpfJPEG;
  if (SameText(MIMEType, "image/png")) return tpfPNG;
  if (SameText(MIMEType, "image/bmp")) return tpfBMP;
  if (SameText(MIMEType, "image/gif")) return tpfGIF;
  return tpfUnknown;
}

std::string SniffPictureMIMEType(const std::uint8_t *Data, std::size_t Size)
{
  switch (PicturePointerType(Data, static_cast<std::int64_t>(Size))) {
  case tpfJPEG: return "image/jpeg";
  case tpfPNG: return "image/png";
  case tpfGIF: return "image/gif";
  case tpfBMP: return "image/bmp";
  case tpfTIFF: return "image/tiff";
  case tpfUnknown: break;
  }
  return "";
}

TTagPictureFormat PicturePointerType(const void *Picture, std::int64_t DataSize)
{
  if (!Picture || DataSize <= 2) return tpfUnknown;
  const auto *p = static_cast<const std::uint8_t *>(Picture);
  if (p[0] == 0x47 && p[1] == 0x49) return tpfGIF;
  if (p[0] == 0x42 && p[1] == 0x4D) return tpfBMP;
  if (p[0] == 0x89 && p[1] == 0x50) return tpfPNG;
  if (p[0] == 0xFF && p[1] == 0xD8) return tpfJPEG;
  if (DataSize >= 4 && ((p[0] == 'I' && p[1] == 'I' && p[2] == '*' && p[3] == 0) ||
                        (p[0] == 'M' && p[1] == 'M' && p[2] == 0 && p[3] == '*')))
    return tpfTIFF;
  return tpfUnknown;
}

TTagPictureFormat PictureStreamType(TStream *PictureStream)
{
  if (!PictureStream) return tpfUnknown;
  TBytes head;
  const std::int64_t size = PictureStream->GetSize();
  TTagPictureFormat result = tpfUnknown;
  if (size > 0 && PictureStream->ReadAt(0, std::min<std::int64_t>(size, 4), head))
    result = PicturePointerType(head.data(), static_cast<std::int64_t>(head.size()));
  PictureStream->SetPosition(0);
  return result;
}
