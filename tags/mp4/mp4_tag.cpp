#include "tags/mp4/mp4_tag.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "tags/id3/id3v1_tag.h"
#include "tags/mp4/mp4_atoms.h"
#include "tags/picture/picture_format.h"
#include "tags/streams/byte_reader.h"
#include "tags/streams/byte_writer.h"
#include "tags/text/lines.h"
#include "tags/text/text.h"

namespace {

constexpr std::uint64_t kMaxAtom32 = std::numeric_limits<std::uint32_t>::max();

// Items that hold integers, with the width and type they are written with when new.
struct TIntegerItem {
  const char *Name;
  int Width;
  std::uint32_t Type;
};
constexpr TIntegerItem kIntegerItems[] = {
    {"plID", 8, kMP4TypeInteger}, {"atID", 4, kMP4TypeInteger}, {"cmID", 4, kMP4TypeInteger},
    {"geID", 4, kMP4TypeInteger}, {"sfID", 4, kMP4TypeInteger}, {"cnID", 4, kMP4TypeInteger},
    {"tvsn", 4, kMP4TypeInteger}, {"tves", 4, kMP4TypeInteger}, {"tmpo", 2, kMP4TypeInteger},
    {"rtng", 1, kMP4TypeInteger}, {"stik", 1, kMP4TypeInteger}, {"cpil", 1, kMP4TypeInteger},
    {"pgap", 1, kMP4TypeInteger}, {"akID", 1, kMP4TypeInteger}, {"hdvd", 1, kMP4TypeInteger},
    {"pcst", 1, kMP4TypeInteger}, {"shwm", 1, kMP4TypeInteger}, {"gnre", 2, kMP4TypeImplicit},
};

const TIntegerItem *IntegerItem(const TAtomName &Name)
{
  for (const TIntegerItem &i : kIntegerItems)
    if (Name == TAtomName(i.Name)) return &i;
  return nullptr;
}

bool IsIntegerType(std::uint32_t Type) { return Type == kMP4TypeImplicit || Type == kMP4TypeInteger; }
bool IsIntegerWidth(std::int64_t Width) { return Width == 1 || Width == 2 || Width == 4 || Width == 6 || Width == 8; }

TBytes EncodeBE(std::uint64_t Value, int Width) { return EncodeUInt(Value, Width, true); }

// The narrowest of Width and the wider standard widths that holds Value.
int WidthFor(std::int64_t Value, int Width)
{
  for (int w : {Width, 1, 2, 4, 8}) {
    if (w < Width) continue;
    if (w >= 8) return 8;
    const int bits = 8 * w;
    const bool fits = Value >= 0 ? static_cast<std::uint64_t>(Value) < (std::uint64_t{1} << bits)
                                 : Value >= -(std::int64_t{1} << (bits - 1));
    if (fits) return w;
  }
  return 8;
}

std::uint16_t BE16At(const TBytes &Data, std::size_t At)
{
  return static_cast<std::uint16_t>(Data[At] << 8 | Data[At + 1]);
}

// The header of an atom of Size bytes in all (at most 4 GiB - 1, as the callers check).
void AppendHeader(TBytes &Out, std::uint64_t Size, const TAtomName &Name)
{
  AppendAtomHeader(Out, Name.Raw(), Size - 8);
}

// "N" or "N/M" as the two numbers of a track or disc item.
bool ParseNumberPair(std::string_view Text, std::uint16_t &Number, std::uint16_t &Total)
{
  const std::size_t slash = Text.find('/');
  std::int64_t n = 0, t = 0;
  if (!TryParseInt64(TrimBlanks(Text.substr(0, slash)), n)) return false;
  if (slash != std::string_view::npos && !TryParseInt64(TrimBlanks(Text.substr(slash + 1)), t)) return false;
  if (n < 0 || n > 0xFFFF || t < 0 || t > 0xFFFF) return false;
  Number = static_cast<std::uint16_t>(n);
  Total = static_cast<std::uint16_t>(t);
  return true;
}

TBytes NumberPairValue(const TAtomName &Name, std::uint16_t Number, std::uint16_t Total)
{
  TBytes v;
  ByteWriter(v).U16BE(0).U16BE(Number).U16BE(Total);
  if (Name == TAtomName("trkn")) ByteWriter(v).U16BE(0);
  return v;
}

bool IsNumberPairItem(const TAtomName &Name) { return Name == TAtomName("trkn") || Name == TAtomName("disk"); }

bool SameRange(const TFileRange &A, const TFileRange &B)
{
  return A.File == B.File && A.Offset == B.Offset && A.Size == B.Size;
}

constexpr struct {
  std::uint16_t Value;
  const char *Name;
} kMediaTypes[] = {{9, "Movie"}, {0, "Movie"}, {1, "Music"}, {2, "Audiobook"}, {6, "Music Video"},
                   {10, "TV Show"}, {11, "Booklet"}, {14, "Ringtone"}};

constexpr struct {
  std::uint32_t Value;
  const char *Name;
} kCountries[] = {
    {143441, "United States"}, {143442, "France"}, {143443, "Germany"}, {143444, "United Kingdom"},
    {143445, "Austria"}, {143446, "Belgium"}, {143447, "Finland"}, {143448, "Greece"},
    {143449, "Ireland"}, {143450, "Italy"}, {143451, "Luxembourg"}, {143452, "Netherlands"},
    {143453, "Portugal"}, {143454, "Spain"}, {143455, "Canada"}, {143456, "Sweden"},
    {143457, "Norway"}, {143458, "Denmark"}, {143459, "Switzerland"}, {143460, "Australia"},
    {143461, "New Zealand"}, {143462, "Japan"},
};

} // namespace

// ---- names and data

TAtomName::TAtomName(std::string_view Text)
{
  std::string bytes(Text);
  const bool wide = std::any_of(Text.begin(), Text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
  if (wide && IsValidUtf8(Text)) {
    std::string latin = Utf8ToLatin1(Text);
    if (Latin1ToUtf8(latin) == Text) bytes = std::move(latin);
  }
  for (std::size_t i = 0; i < 4 && i < bytes.size(); ++i) Bytes[i] = static_cast<std::uint8_t>(bytes[i]);
}

std::string TAtomName::Text() const { return Latin1ToUtf8(Raw()); }

std::uint32_t MP4PictureDataType(std::span<const std::uint8_t> Data, std::uint32_t Given)
{
  switch (PicturePointerType(Data.data(), static_cast<std::int64_t>(Data.size()))) {
  case tpfJPEG: return kMP4TypeJPEG;
  case tpfPNG: return kMP4TypePNG;
  case tpfBMP: return kMP4TypeBMP;
  case tpfGIF: return Given != 0 ? Given : kMP4TypeGIF;
  default: return Given;
  }
}

bool TMP4AtomData::GetBytes(TBytes &Out, std::string *Error) const
{
  if (Held()) {
    Out = Data;
    return true;
  }
  return ReadFileRange(InFile, Out, Error);
}

std::string TMP4AtomData::GetText() const
{
  if (DataType != kMP4TypeText || !Held()) return "";
  const std::string_view text(reinterpret_cast<const char *>(Data.data()), Data.size());
  return IsValidUtf8(text) ? std::string(text) : std::string();
}

std::string TMP4AtomData::ValueText() const
{
  if (DataType == kMP4TypeText) return GetText();
  std::uint64_t v = 0;
  return GetInteger(v) ? std::to_string(v) : std::string();
}

bool TMP4AtomData::GetInteger(std::uint64_t &Value) const
{
  if (!Held() || !IsIntegerWidth(static_cast<std::int64_t>(Data.size()))) return false;
  Value = 0;
  for (std::uint8_t b : Data) Value = Value << 8 | b;
  return true;
}

namespace {
std::uint64_t IntegerOf(const TMP4AtomData &D)
{
  std::uint64_t v = 0;
  return IsIntegerType(D.DataType) && D.GetInteger(v) ? v : 0;
}
} // namespace

std::uint8_t TMP4AtomData::GetInteger8() const { return static_cast<std::uint8_t>(IntegerOf(*this)); }
std::uint16_t TMP4AtomData::GetInteger16() const { return static_cast<std::uint16_t>(IntegerOf(*this)); }
std::uint32_t TMP4AtomData::GetInteger32() const { return static_cast<std::uint32_t>(IntegerOf(*this)); }
std::uint64_t TMP4AtomData::GetInteger48() const { return IntegerOf(*this) & 0xFFFFFFFFFFFFull; }
std::uint64_t TMP4AtomData::GetInteger64() const { return IntegerOf(*this); }
bool TMP4AtomData::GetBool() const { return IntegerOf(*this) != 0; }
std::vector<std::string> TMP4AtomData::GetList() const { return SplitLines(GetText()); }

// ---- items

TMP4AtomData *TMP4Atom::MutableData(int Index)
{
  if (Index < 0 || Index >= Count()) return nullptr;
  FChanged = true;
  return &FDatas[static_cast<std::size_t>(Index)];
}

void TMP4Atom::AddData(std::uint32_t DataType, TBytes Value, std::uint32_t Reserved)
{
  FDatas.push_back(TMP4AtomData{std::move(Value), DataType, Reserved, {}});
  FChanged = true;
}

bool TMP4Atom::DeleteData(int Index)
{
  if (Index < 0 || Index >= Count()) return false;
  FDatas.erase(FDatas.begin() + Index);
  FChanged = true;
  return true;
}

void TMP4Atom::Clear()
{
  FMean.clear();
  FName.clear();
  FDatas.clear();
  FOtherChildren.clear();
  FChanged = true;
}

namespace {
std::string FreeFormText(const TBytes &Body)
{
  if (Body.size() <= 4) return "";
  return SanitizeUtf8(std::string_view(reinterpret_cast<const char *>(Body.data()) + 4, Body.size() - 4));
}

TBytes FreeFormBody(std::string_view Text)
{
  TBytes body;
  if (!Text.empty()) ByteWriter(body).U32BE(0).Str(Text);
  return body;
}
} // namespace

std::string TMP4Atom::GetMean() const { return FreeFormText(FMean); }
std::string TMP4Atom::GetName() const { return FreeFormText(FName); }

void TMP4Atom::SetMean(std::string_view Text)
{
  if (GetMean() == Text && HasMean() == !Text.empty()) return;
  FMean = FreeFormBody(Text);
  FChanged = true;
}

void TMP4Atom::SetName(std::string_view Text)
{
  if (GetName() == Text && HasName() == !Text.empty()) return;
  FName = FreeFormBody(Text);
  FChanged = true;
}

bool TMP4Atom::SetCommonText(std::string_view Name, std::string_view Mean, std::string_view Value)
{
  SetMean(Mean);
  SetName(Name);
  return SetText(Value);
}

std::string TMP4Atom::GetText() const { return First() ? First()->ValueText() : std::string(); }

void TMP4Atom::SetFirstData(std::uint32_t Type, TBytes Value)
{
  if (FDatas.empty()) {
    AddData(Type, std::move(Value));
    return;
  }
  TMP4AtomData &d = FDatas.front();
  if (d.Held() && d.DataType == Type && d.Data == Value) return;
  d.Data = std::move(Value);
  d.DataType = Type;
  d.InFile = TFileRange();
  FChanged = true;
}

bool TMP4Atom::SetText(std::string_view Text)
{
  const TMP4AtomData *d = First();
  if (IsNumberPairItem(FID)) {
    std::uint16_t n = 0, t = 0;
    if (!ParseNumberPair(Text, n, t)) return false;
    SetFirstData(d && IsIntegerType(d->DataType) ? d->DataType : kMP4TypeImplicit, NumberPairValue(FID, n, t));
    return true;
  }
  const TIntegerItem *known = IntegerItem(FID);
  const bool integer = d ? IsIntegerType(d->DataType) && IsIntegerWidth(d->ValueSize()) : known != nullptr;
  if (integer) {
    std::int64_t v = 0;
    if (!TryParseInt64(TrimBlanks(Text), v)) return false;
    const int width = d ? static_cast<int>(d->ValueSize()) : known->Width;
    SetFirstData(d ? d->DataType : known->Type, EncodeBE(static_cast<std::uint64_t>(v), WidthFor(v, width)));
    return true;
  }
  // Binary values (pictures, other types) are not replaced by text.
  if (d && d->DataType != kMP4TypeText) return false;
  SetFirstData(kMP4TypeText, TBytes(Text.begin(), Text.end()));
  return true;
}

std::uint8_t TMP4Atom::GetInteger8() const { return First() ? First()->GetInteger8() : 0; }
std::uint16_t TMP4Atom::GetInteger16() const { return First() ? First()->GetInteger16() : 0; }
std::uint32_t TMP4Atom::GetInteger32() const { return First() ? First()->GetInteger32() : 0; }
std::uint64_t TMP4Atom::GetInteger48() const { return First() ? First()->GetInteger48() : 0; }
std::uint64_t TMP4Atom::GetInteger64() const { return First() ? First()->GetInteger64() : 0; }
bool TMP4Atom::GetBool() const { return First() && First()->GetBool(); }

void TMP4Atom::SetInteger(std::uint64_t Value, int Width)
{
  std::uint32_t type = kMP4TypeImplicit;
  if (const TMP4AtomData *d = First(); d && IsIntegerType(d->DataType))
    type = d->DataType;
  else if (const TIntegerItem *known = IntegerItem(FID))
    type = known->Type;
  SetFirstData(type, EncodeBE(Value, Width));
}

std::vector<std::string> TMP4Atom::GetList() const { return First() ? First()->GetList() : std::vector<std::string>(); }

void TMP4Atom::SetList(const std::vector<std::string> &Items)
{
  std::string text;
  for (const std::string &i : Items) text += i + "\r\n";
  SetFirstData(kMP4TypeText, TBytes(text.begin(), text.end()));
}

bool TMP4Atom::Build(TBytes &Out, std::string *Error) const
{
  if (!FChanged) {
    if (FStoredInFile.Empty()) {
      Out.insert(Out.end(), FStored.begin(), FStored.end());
      return true;
    }
    TBytes stored;
    if (!ReadFileRange(FStoredInFile, stored, Error)) return false;
    Out.insert(Out.end(), stored.begin(), stored.end());
    return true;
  }
  // An item left without a value is not written.
  if (FDatas.empty()) return true;
  std::uint64_t size = 8;
  if (HasMean()) size += 8 + FMean.size();
  if (HasName()) size += 8 + FName.size();
  for (const TMP4AtomData &d : FDatas) size += 16 + static_cast<std::uint64_t>(d.ValueSize());
  for (const TBytes &c : FOtherChildren) size += c.size();
  if (size > kMaxAtom32) {
    if (Error) *Error = "the item " + FID.Text() + " is larger than 4 GiB";
    return false;
  }
  Out.reserve(Out.size() + static_cast<std::size_t>(size));
  AppendHeader(Out, size, FID);
  if (HasMean()) {
    AppendHeader(Out, 8 + FMean.size(), "mean");
    ByteWriter(Out).Append(FMean);
  }
  if (HasName()) {
    AppendHeader(Out, 8 + FName.size(), "name");
    ByteWriter(Out).Append(FName);
  }
  for (const TMP4AtomData &d : FDatas) {
    TBytes value;
    if (!d.GetBytes(value, Error)) return false;
    AppendHeader(Out, 16 + value.size(), "data");
    ByteWriter(Out).U32BE(d.DataType).U32BE(d.Reserved).Append(value);
  }
  for (const TBytes &c : FOtherChildren) Out.insert(Out.end(), c.begin(), c.end());
  return true;
}

// ---- loading

void TMP4Tag::Clear()
{
  FValid = FLoaded = FDamaged = FStructureChanged = false;
  FFileSize = 0;
  FLayout = TMP4Layout();
  FVersion = 0;
  FFlags = 0;
  FMetaHasVersion = true;
  FAudio = TMP4AudioInfo();
  FAtoms.clear();
  FXtras.clear();
  FXtraStored.reset();
  FXtraVerbatim = FXtraChanged = false;
}

int TMP4Tag::Load(TReadView &View) { return LoadFrom(View, View.Identity()); }

int TMP4Tag::Load(TStream &Content) { return LoadFrom(Content, nullptr); }

namespace {
const TAtomHeader *FirstOf(const std::vector<TAtomHeader> &Atoms, const char *Type)
{
  for (const TAtomHeader &h : Atoms)
    if (h.Is(Type)) return &h;
  return nullptr;
}

std::vector<TAtomHeader> ChildrenOf(TStream &Content, const TAtomHeader &Atom, bool &Whole)
{
  std::vector<TAtomHeader> children;
  Whole = ReadChildAtoms(Content, ChildrenOffset(Content, Atom), Atom.End(), false, children);
  return children;
}
} // namespace

int TMP4Tag::LoadFrom(TStream &Content, const std::shared_ptr<const TFileIdentity> &File)
{
  Clear();
  const std::int64_t size = Content.GetSize();
  if (size < 0) return mp4tCannotOpen;
  TBytes head;
  if (size < 8 || !ReadUpTo(Content, 0, 8, head) || head.size() < 8 || std::memcmp(head.data() + 4, "ftyp", 4) != 0)
    return mp4tNotMP4;
  FValid = true;
  FFileSize = size;
  ReadMP4AudioInfo(Content, FAudio);

  // Damage on the path before the atom needed is damage to the metadata; beyond it, it is not
  // ours to judge (the writer walks the file again).
  const auto corrupt = [this] {
    FDamaged = true;
    return mp4tCorrupt;
  };
  std::vector<TAtomHeader> top;
  const bool topWhole = ReadChildAtoms(Content, 0, size, true, top);
  if (const TAtomHeader *mdat = FirstOf(top, "mdat")) {
    FLayout.mdatPosition = mdat->Offset;
    FLayout.mdatSize = mdat->Size;
  }
  const TAtomHeader *moov = FirstOf(top, "moov");
  if (!moov) return topWhole ? mp4tNoItems : corrupt();
  FLayout.moovPosition = moov->Offset;
  FLayout.moovSize = moov->Size;

  bool whole = true;
  const std::vector<TAtomHeader> moovChildren = ChildrenOf(Content, *moov, whole);
  const TAtomHeader *udta = FirstOf(moovChildren, "udta");
  if (!udta) return whole ? mp4tNoItems : corrupt();
  FLayout.udtaPosition = udta->Offset;
  FLayout.udtaSize = udta->Size;

  const std::vector<TAtomHeader> udtaChildren = ChildrenOf(Content, *udta, whole);
  // An Xtra atom beyond damage in "udta" would be lost by a save: the walk must be whole.
  const bool udtaWhole = whole;
  if (const TAtomHeader *xtra = FirstOf(udtaChildren, "Xtra")) LoadXtra(Content, xtra->Offset, xtra->Size);
  const TAtomHeader *meta = FirstOf(udtaChildren, "meta");
  int result = mp4tNoItems;
  if (meta) {
    FLayout.metaPosition = meta->Offset;
    FLayout.metaSize = meta->Size;
    const std::int64_t children = ChildrenOffset(Content, *meta);
    FMetaHasVersion = children != meta->BodyOffset();
    if (FMetaHasVersion && ReadUpTo(Content, meta->BodyOffset(), 4, head) && head.size() == 4) {
      FVersion = head[0];
      FFlags = static_cast<std::uint32_t>(head[1] << 16 | head[2] << 8 | head[3]);
    }
    const std::vector<TAtomHeader> metaChildren = ChildrenOf(Content, *meta, whole);
    const TAtomHeader *ilst = FirstOf(metaChildren, "ilst");
    if (!ilst && !whole) return corrupt();
    if (ilst) {
      FLayout.ilstPosition = ilst->Offset;
      FLayout.ilstSize = ilst->Size;
      if (!LoadItems(Content, ilst->BodyOffset(), ilst->End(), File)) result = mp4tCorrupt;
    }
  }
  FLoaded = !FAtoms.empty();
  if (result == mp4tCorrupt || !udtaWhole) return corrupt();
  return FLoaded ? mp4tOk : mp4tNoItems;
}

namespace {
// Reads the item atom Item into Out; false when it is damaged.
bool ReadItem(TStream &Content, const TAtomHeader &Item, const std::shared_ptr<const TFileIdentity> &File,
              bool LeaveAllPictures, TBytes &Mean, TBytes &Name, std::vector<TMP4AtomData> &Datas,
              std::vector<TBytes> &Others, bool &LeftInFile)
{
  std::vector<TAtomHeader> children;
  if (!ReadChildAtoms(Content, Item.BodyOffset(), Item.End(), false, children)) return false;
  const bool covr = Item.Is("covr");
  LeftInFile = false;
  for (const TAtomHeader &c : children) {
    if (c.Is("mean") || c.Is("name")) {
      if (!Content.ReadAt(c.BodyOffset(), c.BodySize(), c.Is("mean") ? Mean : Name)) return false;
      continue;
    }
    // A "data" atom too short for its type and locale is kept as an unknown child.
    if (!c.Is("data") || c.BodySize() < 8) {
      Others.emplace_back();
      if (!Content.ReadAt(c.Offset, c.Size, Others.back())) return false;
      continue;
    }
    TBytes head;
    if (!Content.ReadAt(c.BodyOffset(), 8, head)) return false;
    ByteReader in(head);
    TMP4AtomData d;
    in.ReadU32BE(d.DataType);
    in.ReadU32BE(d.Reserved);
    const std::int64_t at = c.BodyOffset() + 8, size = c.BodySize() - 8;
    if (covr && File && (LeaveAllPictures || size > kMP4HeldPictureData)) {
      if (!Content.ReadAt(at, std::min<std::int64_t>(size, kMP4PictureDataHead), d.Data)) return false;
      d.InFile = TFileRange{File, at, size};
      LeftInFile = true;
    } else if (!Content.ReadAt(at, size, d.Data)) {
      return false;
    }
    Datas.push_back(std::move(d));
  }
  return true;
}
} // namespace

bool TMP4Tag::LoadItems(TStream &Content, std::int64_t From, std::int64_t End,
                        const std::shared_ptr<const TFileIdentity> &File)
{
  std::vector<TAtomHeader> items;
  const bool whole = ReadChildAtoms(Content, From, End, false, items);
  for (const TAtomHeader &h : items) {
    if (FAtoms.size() >= kMaxMP4Items) return false;
    TMP4Atom atom;
    atom.FID.Bytes = h.Type;
    bool leftInFile = false;
    if (!ReadItem(Content, h, File, !ParseCoverArts, atom.FMean, atom.FName, atom.FDatas, atom.FOtherChildren,
                  leftInFile))
      return false;
    if (leftInFile)
      atom.FStoredInFile = TFileRange{File, h.Offset, h.Size};
    else if (!Content.ReadAt(h.Offset, h.Size, atom.FStored))
      return false;
    FAtoms.push_back(std::move(atom));
  }
  return whole;
}

// ---- items of the tag

bool TMP4Tag::Changed() const
{
  return FStructureChanged || FXtraChanged ||
         std::any_of(FAtoms.begin(), FAtoms.end(), [](const TMP4Atom &a) { return a.Changed(); });
}

TMP4Atom *TMP4Tag::Atom(int Index)
{
  return Index >= 0 && Index < Count() ? &FAtoms[static_cast<std::size_t>(Index)] : nullptr;
}

TMP4Atom &TMP4Tag::AddAtom(TAtomName Name)
{
  FStructureChanged = true;
  return FAtoms.emplace_back(Name);
}

TMP4Atom *TMP4Tag::FindAtom(TAtomName Name)
{
  return const_cast<TMP4Atom *>(static_cast<const TMP4Tag *>(this)->FindAtom(Name));
}

const TMP4Atom *TMP4Tag::FindAtom(TAtomName Name) const
{
  for (const TMP4Atom &a : FAtoms)
    if (a.ID() == Name) return &a;
  return nullptr;
}

TMP4Atom *TMP4Tag::FindAtomCommon(TAtomName Name, std::string_view _name, std::string_view _mean)
{
  return const_cast<TMP4Atom *>(static_cast<const TMP4Tag *>(this)->FindAtomCommon(Name, _name, _mean));
}

const TMP4Atom *TMP4Tag::FindAtomCommon(TAtomName Name, std::string_view _name, std::string_view _mean) const
{
  for (const TMP4Atom &a : FAtoms)
    if (a.ID() == Name && SameText(a.GetName(), _name) && SameText(a.GetMean(), _mean)) return &a;
  return nullptr;
}

bool TMP4Tag::DeleteAtom(int Index)
{
  if (Index < 0 || Index >= Count()) return false;
  FAtoms.erase(FAtoms.begin() + Index);
  FStructureChanged = true;
  return true;
}

bool TMP4Tag::DeleteAtom(TAtomName Name)
{
  const auto it = std::find_if(FAtoms.begin(), FAtoms.end(), [&](const TMP4Atom &a) { return a.ID() == Name; });
  return it != FAtoms.end() && DeleteAtom(static_cast<int>(it - FAtoms.begin()));
}

bool TMP4Tag::DeleteAllAtoms(TAtomName Name)
{
  const std::size_t before = FAtoms.size();
  RemoveAll(Name);
  return FAtoms.size() != before;
}

std::size_t TMP4Tag::RemoveAll(TAtomName Name)
{
  std::size_t first = FAtoms.size();
  for (std::size_t i = FAtoms.size(); i-- > 0;) {
    if (!(FAtoms[i].ID() == Name)) continue;
    FAtoms.erase(FAtoms.begin() + static_cast<std::ptrdiff_t>(i));
    FStructureChanged = true;
    first = i;
  }
  return std::min(first, FAtoms.size());
}

bool TMP4Tag::DeleteAtomCommon(TAtomName Name, std::string_view _name, std::string_view _mean)
{
  const TMP4Atom *a = FindAtomCommon(Name, _name, _mean);
  return a && DeleteAtom(static_cast<int>(a - FAtoms.data()));
}

std::string TMP4Tag::GetText(TAtomName Name) const
{
  const TMP4Atom *a = FindAtom(Name);
  return a ? a->GetText() : std::string();
}

bool TMP4Tag::SetText(TAtomName Name, std::string_view Text)
{
  if (Text.empty()) {
    DeleteAtom(Name);
    return true;
  }
  if (TMP4Atom *a = FindAtom(Name)) return a->SetText(Text);
  TMP4Atom added(Name);
  if (!added.SetText(Text)) return false;
  FAtoms.push_back(std::move(added));
  FStructureChanged = true;
  return true;
}

std::uint8_t TMP4Tag::GetInteger8(TAtomName Name) const { const TMP4Atom *a = FindAtom(Name); return a ? a->GetInteger8() : 0; }
std::uint16_t TMP4Tag::GetInteger16(TAtomName Name) const { const TMP4Atom *a = FindAtom(Name); return a ? a->GetInteger16() : 0; }
std::uint32_t TMP4Tag::GetInteger32(TAtomName Name) const { const TMP4Atom *a = FindAtom(Name); return a ? a->GetInteger32() : 0; }
std::uint64_t TMP4Tag::GetInteger48(TAtomName Name) const { const TMP4Atom *a = FindAtom(Name); return a ? a->GetInteger48() : 0; }
std::uint64_t TMP4Tag::GetInteger64(TAtomName Name) const { const TMP4Atom *a = FindAtom(Name); return a ? a->GetInteger64() : 0; }
bool TMP4Tag::GetBool(TAtomName Name) const { const TMP4Atom *a = FindAtom(Name); return a && a->GetBool(); }

void TMP4Tag::SetInteger(TAtomName Name, std::uint64_t Value, int Width)
{
  TMP4Atom *a = FindAtom(Name);
  if (!a) a = &AddAtom(Name);
  a->SetInteger(Value, Width);
}

std::vector<std::string> TMP4Tag::GetList(TAtomName Name) const
{
  const TMP4Atom *a = FindAtom(Name);
  return a ? a->GetList() : std::vector<std::string>();
}

void TMP4Tag::SetList(TAtomName Name, const std::vector<std::string> &Items)
{
  TMP4Atom *a = FindAtom(Name);
  if (!a) a = &AddAtom(Name);
  a->SetList(Items);
}

bool TMP4Tag::GetMultipleValuesMultipleAtoms(TAtomName Name, std::vector<std::string> &List) const
{
  List.clear();
  for (const TMP4Atom &a : FAtoms)
    if (a.ID() == Name) List.push_back(a.GetText());
  return !List.empty();
}

void TMP4Tag::SetMultipleValuesMultipleAtoms(TAtomName Name, const std::vector<std::string> &List)
{
  // The items there take the values in order (keeping their types and locales), each holding
  // its one value only; surplus items go, missing ones are added after the last.
  std::vector<std::size_t> at;
  for (std::size_t i = 0; i < FAtoms.size(); ++i)
    if (FAtoms[i].ID() == Name) at.push_back(i);
  const std::size_t keep = std::min(at.size(), List.size());
  for (std::size_t i = 0; i < keep; ++i) {
    TMP4Atom &item = FAtoms[at[i]];
    item.SetText(List[i]);
    while (item.Count() > 1) item.DeleteData(item.Count() - 1);
  }
  for (std::size_t i = at.size(); i-- > keep;) {
    FAtoms.erase(FAtoms.begin() + static_cast<std::ptrdiff_t>(at[i]));
    FStructureChanged = true;
  }
  std::size_t insert = keep > 0 ? at[keep - 1] + 1 : FAtoms.size();
  for (std::size_t i = keep; i < List.size(); ++i) {
    TMP4Atom added(Name);
    if (!added.SetText(List[i])) continue;
    FAtoms.insert(FAtoms.begin() + static_cast<std::ptrdiff_t>(insert++), std::move(added));
    FStructureChanged = true;
  }
}

void TMP4Tag::SetMultipleValuesCommaSeparated(TAtomName Name, const std::vector<std::string> &List)
{
  std::string joined;
  for (const std::string &v : List) joined += (joined.empty() ? "" : ", ") + v;
  SetMultipleValuesMultipleAtoms(Name, List.empty() ? std::vector<std::string>() : std::vector<std::string>{joined});
}

// ---- special items

namespace {
std::uint16_t PairField(const TMP4Atom *A, std::size_t At)
{
  if (!A || A->Datas().empty()) return 0;
  const TMP4AtomData &d = A->Datas().front();
  // Fields the value is too short for are not there.
  return d.Held() && d.Data.size() >= At + 2 ? BE16At(d.Data, At) : 0;
}
} // namespace

std::uint16_t TMP4Tag::GetTrack() const { return PairField(FindAtom("trkn"), 2); }
std::uint16_t TMP4Tag::GetTotalTracks() const { return PairField(FindAtom("trkn"), 4); }
std::uint16_t TMP4Tag::GetDisc() const { return PairField(FindAtom("disk"), 2); }
std::uint16_t TMP4Tag::GetTotalDiscs() const { return PairField(FindAtom("disk"), 4); }

void TMP4Tag::SetTrack(std::uint16_t Track, std::uint16_t TotalTracks)
{
  if (Track == 0 && TotalTracks == 0) {
    DeleteAtom("trkn");
    return;
  }
  TMP4Atom *a = FindAtom("trkn");
  if (!a) a = &AddAtom("trkn");
  a->SetText(std::to_string(Track) + "/" + std::to_string(TotalTracks));
}

void TMP4Tag::SetDisc(std::uint16_t Disc, std::uint16_t TotalDiscs)
{
  if (Disc == 0 && TotalDiscs == 0) {
    DeleteAtom("disk");
    return;
  }
  TMP4Atom *a = FindAtom("disk");
  if (!a) a = &AddAtom("disk");
  a->SetText(std::to_string(Disc) + "/" + std::to_string(TotalDiscs));
}

std::string TMP4Tag::GetGenre() const
{
  if (const TMP4Atom *g = FindAtom("gnre"); g && g->Count() > 0) {
    std::uint64_t v = 0;
    if (g->Datas().front().GetInteger(v) && v >= 1 && v <= static_cast<std::uint64_t>(kID3GenreCount)) return ID3GenreName(static_cast<int>(v - 1));
  }
  return GetText("\xA9gen");
}

void TMP4Tag::SetGenre(std::string_view Genre)
{
  if (GetGenre() == Genre) return;
  const std::size_t at = std::min(RemoveAll("gnre"), RemoveAll("\xA9gen"));
  if (Genre.empty()) return;
  const int index = ID3GenreIndex(std::string(Genre));
  TMP4Atom added(index >= 0 ? TAtomName("gnre") : TAtomName("\xA9gen"));
  if (index >= 0)
    added.AddData(kMP4TypeImplicit, EncodeBE(static_cast<std::uint64_t>(index + 1), 2));
  else
    added.SetText(Genre);
  FAtoms.insert(FAtoms.begin() + static_cast<std::ptrdiff_t>(std::min(at, FAtoms.size())), std::move(added));
  FStructureChanged = true;
}

std::string TMP4Tag::GetMediaType() const
{
  const TMP4Atom *a = FindAtom("stik");
  std::uint64_t v = 0;
  if (!a || a->Count() == 0 || !a->Datas().front().GetInteger(v)) return "";
  for (const auto &m : kMediaTypes)
    if (m.Value == v) return m.Name;
  return "";
}

namespace {
// The stored integer width of an item's first value, else Default.
int StoredWidth(const TMP4Atom *A, int Default)
{
  if (!A || A->Count() == 0) return Default;
  const std::int64_t w = A->Datas().front().ValueSize();
  return w == 1 || w == 2 || w == 4 || w == 8 ? static_cast<int>(w) : Default;
}
} // namespace

bool TMP4Tag::SetMediaType(std::string_view Media)
{
  for (const auto &m : kMediaTypes) {
    if (Media != m.Name) continue;
    if (GetMediaType() == Media) return true;
    SetInteger("stik", m.Value, StoredWidth(FindAtom("stik"), 1));
    return true;
  }
  return false;
}

std::string TMP4Tag::GetPurchaseCountry() const
{
  const TMP4Atom *a = FindAtom("sfID");
  std::uint64_t v = 0;
  if (!a || a->Count() == 0 || !a->Datas().front().GetInteger(v) || v == 0) return "";
  for (const auto &c : kCountries)
    if (c.Value == v) return c.Name;
  return std::to_string(v);
}

bool TMP4Tag::SetPurchaseCountry(std::string_view Country)
{
  for (const auto &c : kCountries) {
    if (Country != c.Name) continue;
    if (GetPurchaseCountry() == Country) return true;
    SetInteger("sfID", c.Value, StoredWidth(FindAtom("sfID"), 4));
    return true;
  }
  return false;
}

// ---- pictures

int TMP4Tag::CoverArtCount() const
{
  int n = 0;
  for (const TMP4Atom &a : FAtoms)
    if (a.ID() == TAtomName("covr")) n += a.Count();
  return n;
}

bool TMP4Tag::GetCoverArt(int Index, TBytes &Data, std::uint32_t &DataType, TFileRange *DataInFile) const
{
  Data.clear();
  if (DataInFile) *DataInFile = TFileRange();
  if (Index < 0) return false;
  for (const TMP4Atom &a : FAtoms) {
    if (!(a.ID() == TAtomName("covr"))) continue;
    if (Index >= a.Count()) {
      Index -= a.Count();
      continue;
    }
    const TMP4AtomData &d = a.Datas()[static_cast<std::size_t>(Index)];
    DataType = d.DataType;
    if (DataInFile) {
      Data = d.Data;
      *DataInFile = d.InFile;
      return true;
    }
    return d.GetBytes(Data);
  }
  return false;
}

void TMP4Tag::SetCoverArts(std::span<const TMP4CoverArt> Pictures)
{
  std::vector<TMP4AtomData> datas;
  datas.reserve(Pictures.size());
  for (const TMP4CoverArt &p : Pictures)
    datas.push_back(TMP4AtomData{p.Data, MP4PictureDataType(p.Data, p.DataType), 0, p.InFile});

  // The same pictures in one item already: nothing to change.
  std::vector<const TMP4Atom *> covrs;
  for (const TMP4Atom &a : FAtoms)
    if (a.ID() == TAtomName("covr")) covrs.push_back(&a);
  const auto same = [](const TMP4AtomData &A, const TMP4AtomData &B) {
    return A.DataType == B.DataType && (A.Held() ? B.Held() && A.Data == B.Data : SameRange(A.InFile, B.InFile));
  };
  if (covrs.size() == (datas.empty() ? 0u : 1u) &&
      (datas.empty() || std::equal(datas.begin(), datas.end(), covrs[0]->Datas().begin(), covrs[0]->Datas().end(), same)))
    return;

  const std::size_t at = RemoveAll("covr");
  if (datas.empty()) return;
  TMP4Atom covr("covr");
  covr.FDatas = std::move(datas);
  FAtoms.insert(FAtoms.begin() + static_cast<std::ptrdiff_t>(at), std::move(covr));
  FStructureChanged = true;
}

// ---- building

bool TMP4Tag::BuildIlst(TBytes &Out, std::string *Error) const
{
  Out.clear();
  AppendHeader(Out, 8, "ilst");
  for (const TMP4Atom &a : FAtoms) {
    if (!a.Build(Out, Error)) {
      Out.clear();
      return false;
    }
    if (Out.size() > kMaxAtom32) {
      if (Error) *Error = "the item list is larger than 4 GiB";
      Out.clear();
      return false;
    }
  }
  const TBytes size = EncodeBE(Out.size(), 4);
  std::copy(size.begin(), size.end(), Out.begin());
  return true;
}
