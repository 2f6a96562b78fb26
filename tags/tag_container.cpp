#include "tags/tag_container.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <optional>

#include "tags/detect/content_type.h"
#include "tags/detect/extensions.h"
#include "tags/native_format.h"
#include "tags/streams/buffered_stream.h"
#include "tags/streams/file_io.h"
#include "tags/streams/mtime_keeper.h"
#include "tags/streams/read_view.h"
#include "tags/text/lines.h"
#include "tags/text/text.h"

namespace {

const TNativeFormat *FindFormat(TTagType Type)
{
  for (const TNativeFormat *f : NativeFormats())
    if (f->Type == Type) return f;
  return nullptr;
}

// The row of a single tag type a caller asked to save or remove; null for the other types and
// for a format without a row.
const TNativeFormat *SingleFormat(TTagType Type)
{
  return (Type >= ttAPEv2 && Type <= ttWMA) ? FindFormat(Type) : nullptr;
}

int ConvertCode(const TNativeFormat &F, int NativeCode)
{
  for (const TNativeCode &c : F.Codes)
    if (c.Native == NativeCode) return c.Container;
  return tagsUnsupported;
}

bool IsLoaded(const TNativeFormat &F, const TTags &T) { return F.IsLoaded && F.IsLoaded(T); }

bool PickedByContent(const TNativeFormat &F, TAudioContainerType Type, bool ForStream)
{
  const auto has = [Type](std::span<const TAudioContainerType> List) {
    return std::find(List.begin(), List.end(), Type) != List.end();
  };
  return has(F.ContentTypes) || (!ForStream && has(F.FileOnlyContentTypes));
}

// The rounds of an automatic save: the natives loaded from the file saved to; when none of them
// tags the file, those its content picks; then, for a file, those its extension picks.
enum class TSaveRound { srLoaded, srContent, srExtension };

// Calls Visit(row, round) for every row with a save that a round picks, round by round, and
// stops at the first round before which Visit, asked with the round's first row, returns false.
// SameFile: the save goes to the file the container was loaded from; AFileName: the file (null
// for a stream); Content gives the content type when a later round needs it.
template <typename TContent, typename TVisit>
void ForEachSaveRound(const TTags &T, bool SameFile, const std::string *AFileName, TContent &&Content, TVisit &&Visit)
{
  const auto rows = NativeFormats();
  const auto visitRound = [&](TSaveRound Round, auto &&Picks) {
    for (const TNativeFormat *f : rows)
      if (f->PlanSave && Picks(*f) && !Visit(*f, Round)) return false;
    return true;
  };
  if (SameFile && !visitRound(TSaveRound::srLoaded, [&](const TNativeFormat &f) { return IsLoaded(f, T); })) return;
  const TAudioContainerType content = Content();
  if (!visitRound(TSaveRound::srContent,
                  [&](const TNativeFormat &f) { return PickedByContent(f, content, AFileName == nullptr); }))
    return;
  if (!AFileName) return;
  const TTagTypes wanted = GetTagTypesByExtension(*AFileName);
  visitRound(TSaveRound::srExtension, [&](const TNativeFormat &f) { return (wanted & TagTypeBit(f.Type)) != 0; });
}

// Results that only say "not here" rather than "something went wrong".
bool IsBenignSaveResult(int ContainerCode)
{
  return ContainerCode == tagsOk || ContainerCode == tagsNoTag || ContainerCode == tagsNothingToDo ||
         ContainerCode == tagsWrongFileKind;
}

// Collects the results of several native saves: the first real failure wins over any later
// success, so a failure is never hidden.
struct TSaveOutcome {
  bool Attempted = false;
  bool Succeeded = false;
  int Last = tagsUnsupported;
  std::optional<int> FirstFailure;

  void Record(const TNativeFormat &F, const TTags &T, int NativeCode)
  {
    const int code = ConvertCode(F, NativeCode);
    Attempted = true;
    Last = code;
    if (code == tagsOk && F.AutomaticSave == TAutomaticSave::asTagsTheFile && (!F.HoldsEverything || F.HoldsEverything(T)))
      Succeeded = true;
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

// The place of Item in an owning list; -1 when it is not there.
template <typename T> int IndexIn(const std::vector<std::unique_ptr<T>> &List, const T *Item)
{
  for (std::size_t i = 0; i < List.size(); ++i)
    if (List[i].get() == Item) return static_cast<int>(i);
  return -1;
}

} // namespace

// The plans of one save or removal, each made against the same old content, and the rows whose
// plan they are.
struct TPlannedChange {
  std::vector<TRewritePlan> Plans;
  std::vector<const TNativeFormat *> Rows;
};

namespace {

// The native code of F's plan for saving T into Content; a successful plan joins Change. -1 when
// F has no plan or its planning threw.
int PlanSaveWith(const TNativeFormat &F, TTags &T, TStream &Content, TPlannedChange &Change)
{
  int code = -1;
  TRewritePlan plan;
  if (F.PlanSave && Content.SetPosition(0)) Guarded([&] { code = F.PlanSave(T, Content, plan); return true; });
  if (code != -1 && ConvertCode(F, code) == tagsOk) {
    Change.Plans.push_back(std::move(plan));
    Change.Rows.push_back(&F);
  }
  return code;
}

// The same for removing F's tag from Content.
int PlanRemoveWith(const TNativeFormat &F, TStream &Content, TPlannedChange &Change)
{
  int code = -1;
  TRewritePlan plan;
  if (F.PlanRemove && Content.SetPosition(0)) Guarded([&] { code = F.PlanRemove(Content, plan); return true; });
  if (code == 0) {
    Change.Plans.push_back(std::move(plan));
    Change.Rows.push_back(&F);
  }
  return code;
}

// The plans of Change as one plan against OldSize bytes; false when they change the same bytes.
bool JoinPlans(const TPlannedChange &Change, std::int64_t OldSize, TRewritePlan &Plan)
{
  return ComposePlans(OldSize, Change.Plans, Plan);
}

int ContainerCode(TRewriteResult Result)
{
  switch (Result) {
  case rwOk: return tagsOk;
  case rwReadFailed: return tagsUpdateFailed;
  case rwWriteFailed: break;
  }
  return tagsWriteFailed;
}

// What a change to a file ends with, as container codes. A file that is read-only by its mode
// bits is refused before anything is planned, with the code every native gives for it.
constexpr TRewriteCodes kContainerRewriteCodes{
  .Ok = tagsOk,
  .FileNotFound = tagsFileNotFound,
  .CannotOpen = tagsFileNotFound,
  .ReadOnly = tagsUnsupported,
  .ReadFailed = tagsUpdateFailed,
  .WriteFailed = tagsWriteFailed,
};

} // namespace

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

void TTag::MarkLoaded(TTagType Type, std::uint64_t Item)
{
  Origin = TTagOrigin{Type, Item, Name, Value, Description, Language, ExtTagType};
}

bool TTag::IsUnchanged() const
{
  return Origin.Type != ttNone && Name == Origin.Name && Value == Origin.Value &&
         Description == Origin.Description && Language == Origin.Language && ExtTagType == Origin.ExtTagType;
}

int TTag::GetIndex() const { return Parent ? IndexIn(Parent->Tags, this) : -1; }

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
  Encoded = TEncodedPicture();
  Fetched = false;
  FetchedKey = 0;
  FetchedDigest = 0;
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
  Encoded = CoverArt.Encoded;
  Fetched = CoverArt.Fetched;
  FetchedKey = CoverArt.FetchedKey;
  FetchedDigest = CoverArt.FetchedDigest;
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

int TCoverArt::GetIndex() const { return Parent ? IndexIn(Parent->CoverArts, this) : -1; }

bool TCoverArt::Delete() { return Parent && Parent->DeleteCoverArt(GetIndex()); }

namespace {

// FNV-1a, eight bytes a step (each step is a bijection of the state, so one changed word always
// changes the result).
std::uint64_t Fnv(std::uint64_t H, const void *Data, std::size_t Size)
{
  const auto *p = static_cast<const std::uint8_t *>(Data);
  std::size_t i = 0;
  for (; i + 8 <= Size; i += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, p + i, 8);
    H = (H ^ word) * 1099511628211ull;
  }
  for (; i < Size; ++i) H = (H ^ p[i]) * 1099511628211ull;
  return H;
}

constexpr std::uint64_t kFnvStart = 14695981039346656037ull;

} // namespace

std::int64_t TCoverArt::DeferralKey() const
{
  if (!Deferred.Empty()) return Deferred.Offset;
  // The text is shared, never changed: the same object is the same picture.
  if (!Encoded.Empty()) return static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(Encoded.Text.get()));
  return 0;
}

std::int64_t TCoverArt::DataSize() const
{
  if (!Deferred.Empty()) return Deferred.Size;
  if (!Encoded.Empty()) return static_cast<std::int64_t>(Encoded.DataSize);
  return static_cast<std::int64_t>(Stream.Data().size());
}

bool TCoverArt::LoadData(std::string *Error)
{
  if (!IsDeferred()) return true;
  TBytes bytes;
  if (!Deferred.Empty() && !ReadFileRange(Deferred, bytes, Error)) return false;
  if (!Encoded.Empty() && !DecodeEncodedPicture(Encoded, bytes)) {
    if (Error) *Error = "the picture's base64 text does not decode";
    return false;
  }
  Fetched = true;
  FetchedKey = DeferralKey();
  FetchedDigest = Fnv(kFnvStart, bytes.data(), bytes.size());
  Stream.Data() = std::move(bytes);
  Stream.SetPosition(0);
  Deferred = TFileRange();
  Encoded = TEncodedPicture();
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
  for (const TNativeFormat *f : NativeFormats())
    if (f->DeleteEntry) Guarded([&] { f->DeleteEntry(*this, upper, tag); return true; });
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

void TTags::MarkNewEntriesLoaded(TTagType Type, std::uint64_t Item)
{
  for (auto it = Tags.rbegin(); it != Tags.rend() && (*it)->Origin.Type == ttNone; ++it) (*it)->MarkLoaded(Type, Item);
}

void TTags::Clear()
{
  DeleteAllTags();
  DeleteAllCoverArts();
  for (const TNativeFormat *f : NativeFormats())
    if (f->Clear) f->Clear(*this);
  SourceAudioAttributes.Clear();
  FLoadedPictures = 0;
  FPicturesChanged = true;
  FileName.clear();
  Loaded = false;
  ContainerType = actUnknown;
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
    for (const TNativeFormat *f : NativeFormats())
      if (IsLoaded(*f, Source) && f->Assign) f->Assign(*this, Source);
    for (const auto &t : Source.Tags) {
      TTag *n = Add(std::string());
      n->Assign(t.get());
      // The natives were copied with the entries: what was loaded stays loaded.
      n->ExtTagType = t->ExtTagType;
      n->Origin = t->Origin;
    }
    if (CoverArtsToo) AssignCoverArts(Source, false);
    FLoadedPictures = Source.FLoadedPictures;
    return true;
  });
}

std::int64_t TTags::GetSize() const
{
  std::int64_t size = 0;
  for (const TNativeFormat *f : NativeFormats())
    if (IsLoaded(*f, *this) && f->Size) size += f->Size(*this);
  return size;
}

std::vector<TTagType> TTags::LoadedTagTypes() const
{
  std::vector<TTagType> types;
  for (const TNativeFormat *f : NativeFormats())
    if (IsLoaded(*f, *this)) types.push_back(f->Type);
  return types;
}

// ---- TTags: loading

// Merges the loaded natives into entries, from the lowest load priority to the highest, so
// that a format of higher priority replaces the values of a lower one name by name.
void TTags::MapLoadedTags()
{
  Loaded = !LoadedTagTypes().empty();
  for (int slot = static_cast<int>(TagLoadPriority.size()) - 1; slot >= 0; --slot) {
    const TNativeFormat *f = FindFormat(TagLoadPriority[static_cast<std::size_t>(slot)]);
    if (!f || !f->MapToEntries || !IsLoaded(*f, *this)) continue;
    if (OnlyParseCoverArts && f->PicturesOnly == TPicturesOnlyLoad::ploSkipped) continue;
    Guarded([&] { f->MapToEntries(*this); return true; });
  }
  FLoadedPictures = PicturesPrint();
}

std::uint64_t TTags::PicturesPrint() const
{
  // A digest of every field of every picture. Bytes left behind count by their key, and so do
  // bytes fetched since and not changed.
  std::uint64_t h = kFnvStart;
  const auto bytes = [&h](const void *Data, std::size_t Size) { h = Fnv(h, Data, Size); };
  const auto text = [&](const std::string &S) {
    const std::uint64_t n = S.size();
    bytes(&n, sizeof n);
    bytes(S.data(), S.size());
  };
  const auto number = [&](std::int64_t V) { bytes(&V, sizeof V); };
  for (const auto &c : CoverArts) {
    text(c->Name);
    text(c->Description);
    text(c->MIMEType);
    for (std::int64_t v : {std::int64_t{c->CoverType}, std::int64_t{c->PictureFormat}, std::int64_t{c->Width},
                           std::int64_t{c->Height}, std::int64_t{c->ColorDepth}, std::int64_t{c->NoOfColors},
                           c->DataSize()})
      number(v);
    const TBytes &held = c->Stream.Data();
    if (c->IsDeferred()) {
      number(c->DeferralKey());
    } else if (c->Fetched && Fnv(kFnvStart, held.data(), held.size()) == c->FetchedDigest) {
      number(c->FetchedKey);
    } else {
      bytes(held.data(), held.size());
    }
  }
  return h;
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
  for (const TNativeFormat *f : NativeFormats()) {
    if (!f->Load || !View.SetPosition(0)) continue;
    Guarded([&] { return f->Load(*this, View); });
  }
  if (DetectContainerType && View.SetPosition(0))
    Guarded([&] { ContainerType = GetAudioContainerTypeFromStream(View); return true; });
  if (!(WavPack || Musepack || Monkey)) return;
  TTagExtent tags;
  for (const TNativeFormat *f : NativeFormats()) {
    if (!f->Extent) continue;
    const TTagExtent e = f->Extent(*this);
    tags.AtStart += e.AtStart;
    tags.AtEnd += e.AtEnd;
  }
  Guarded([&] {
    SourceAudioAttributes.LoadHeaderReaders(View, WavPack, Musepack, Monkey, tags.AtStart, tags.AtEnd);
    return true;
  });
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

// Every native a save writes plans its change against the same old content, and the plans are
// carried out as one: a file is rebuilt once through one temporary file, or changed in place by
// writes that all land or are all put back. So a failure, or a kill at any moment, leaves either
// the old or the new file, never one tag written and the other not; and a failure to plan any
// tag writes nothing at all.
int TTags::PlanSave(TStream &Content, TTagType TagType, const std::string *AFileName, TPlannedChange &Change)
{
  if (TagType != ttAutomatic) {
    const TTagType type = TagType == ttLyrics2 ? ttID3v1 : TagType;
    const TNativeFormat *f = SingleFormat(type);
    return f ? ConvertCode(*f, PlanSaveWith(*f, *this, Content, Change)) : tagsUnsupported;
  }
  TSaveOutcome outcome;
  // The next rounds are for content none of whose tags saved so far took the values: each
  // round saves every native it picks, unless one before it did. A failure ends the save:
  // nothing is written then. A native saved in an earlier round is not saved again.
  const bool sameFile = AFileName && !FileName.empty() && SameText(*AFileName, FileName);
  std::optional<TSaveRound> round;
  ForEachSaveRound(*this, sameFile, AFileName, [&] { return GetAudioContainerTypeFromStream(Content); },
                   [&](const TNativeFormat &f, TSaveRound Round) {
                     if (outcome.FirstFailure) return false;
                     if (Round != round) {
                       if (round && outcome.Succeeded) return false;
                       round = Round;
                     }
                     if (std::find(Change.Rows.begin(), Change.Rows.end(), &f) != Change.Rows.end()) return true;
                     if (Round == TSaveRound::srContent && f.BeforeContentSave) f.BeforeContentSave(*this);
                     outcome.Record(f, *this, PlanSaveWith(f, *this, Content, Change));
                     return true;
                   });
  return outcome.Result();
}

void TTags::FinishSave(const TPlannedChange &Change, const std::string &AFileName)
{
  for (const TNativeFormat *f : Change.Rows)
    if (f->FinishSave) Guarded([&] { f->FinishSave(*this, AFileName); return true; });
}

int TTags::SaveToFile(const std::string &AFileName, TTagType TagType)
{
  // Saving never creates a file: a tag-only file is of no use to anybody.
  TFileFacts facts;
  if (!StatFile(AFileName, facts) || !facts.Exists) return tagsFileNotFound;
  // Pictures are written from their bytes: a picture whose file changed since the load would
  // otherwise be written empty or from other bytes.
  FPicturesChanged = PicturesPrint() != FLoadedPictures;
  if (!LoadDeferredCoverArts()) return tagsUpdateFailed;

  TPlannedChange change;
  int result = tagsUnsupported;
  const int written = RewriteFile(AFileName, PreserveFileDateTime, kContainerRewriteCodes,
                                  [&](TStream &View, TRewritePlan &Plan) -> int {
                                    result = PlanSave(View, TagType, &AFileName, change);
                                    if (!IsBenignSaveResult(result)) return result;
                                    return JoinPlans(change, View.GetSize(), Plan) ? tagsOk : tagsUpdateFailed;
                                  });
  if (written != tagsOk) return written;
  FinishSave(change, AFileName);
  FLoadedPictures = PicturesPrint();
  return result;
}

int TTags::SaveToStream(TStream &Stream, bool Buffered, TTagType TagType)
{
  if (TagType == ttWMA) return tagsWrongFileKind;
  FPicturesChanged = PicturesPrint() != FLoadedPictures;
  if (!LoadDeferredCoverArts()) return tagsUpdateFailed;
  std::optional<TBufferedStream> buffered;
  if (Buffered) buffered.emplace(Stream);
  TStream &target = Buffered ? static_cast<TStream &>(*buffered) : Stream;

  TPlannedChange change;
  int result = PlanSave(target, TagType, nullptr, change);
  if (!IsBenignSaveResult(result)) return result;
  TRewritePlan plan;
  if (!JoinPlans(change, target.GetSize(), plan)) return tagsUpdateFailed;
  if (const int written = ContainerCode(ApplyPlanToStream(target, plan)); written != tagsOk) return written;
  if (buffered && !buffered->Flush()) return tagsWriteFailed;
  FinishSave(change, std::string());
  FLoadedPictures = PicturesPrint();
  return result;
}

// ---- TTags: audio values of the natives

std::optional<std::int64_t> TTags::NativeAudioValue(TAudioValue What) const
{
  for (const TTagType slot : TagLoadPriority) {
    const TNativeFormat *f = FindFormat(slot);
    if (!f || !f->AudioValue) continue;
    if (const auto v = f->AudioValue(*this, What)) return v;
  }
  return std::nullopt;
}

double TTags::NativePlayTime() const
{
  std::optional<TNativePlayTime> first;
  for (const TNativeFormat *f : NativeFormats()) {
    if (!f->PlayTime) continue;
    const auto t = f->PlayTime(*this);
    if (t && t->Seconds != 0 && (!first || t->Source < first->Source)) first = t;
  }
  return first ? first->Seconds : 0;
}

// ---- unit-level functions

// Every native's removal is planned against the same old content and carried out as one change.
int RemoveTagsFromFile(const std::string &FileName, TTagType TagType)
{
  if (!FileExists(FileName)) return tagsNoFileOrBlock;
  const TNativeFormat *single = nullptr;
  if (TagType != ttAutomatic) {
    single = SingleFormat(TagType);
    if (!single || !single->PlanRemove) return tagsUnsupported;
  }
  TPlannedChange change;
  return RewriteFile(FileName, false, kContainerRewriteCodes, [&](TStream &View, TRewritePlan &Plan) -> int {
    if (single) {
      const int code = PlanRemoveWith(*single, View, change);
      if (code != 0) return ConvertCode(*single, code);
    } else {
      for (const TNativeFormat *f : NativeFormats()) {
        if (!f->PlanRemove) continue;
        const int code = PlanRemoveWith(*f, View, change);
        const auto &nothing = f->NothingToRemove;
        if (code != 0 && std::find(nothing.begin(), nothing.end(), code) == nothing.end()) return ConvertCode(*f, code);
      }
    }
    return JoinPlans(change, View.GetSize(), Plan) ? tagsOk : tagsUpdateFailed;
  });
}

bool CanSaveTagsToFile(const TTags &Tags, const std::string &FileName)
{
  bool picked = false;
  const bool sameFile = !Tags.FileName.empty() && SameText(FileName, Tags.FileName);
  ForEachSaveRound(
    Tags, sameFile, &FileName,
    [&] { return Tags.DetectContainerType && sameFile ? Tags.ContainerType : GetAudioContainerType(FileName); },
    [&](const TNativeFormat &, TSaveRound) {
      picked = true;
      return false;
    });
  return picked;
}
