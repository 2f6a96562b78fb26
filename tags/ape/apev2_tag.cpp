#include "tags/ape/apev2_tag.h"

#include <algorithm>
#include <array>
#include <limits>

#include "tags/id3/id3v1_tag.h"
#include "tags/streams/byte_reader.h"
#include "tags/streams/byte_writer.h"
#include "tags/streams/file_io.h"
#include "tags/streams/read_view.h"
#include "tags/streams/rewrite_plan.h"
#include "tags/text/text.h"

namespace {

constexpr std::string_view kPreamble = "APETAGEX";
constexpr std::int64_t kFooterBytes = 32;
constexpr std::uint32_t kWrittenVersion = 2000;
constexpr std::uint32_t kVersion1 = 1000;
constexpr std::uint32_t kWrittenHeaderFlags = kAPEv2FlagHasHeader | kAPEv2FlagIsHeader;
constexpr std::uint32_t kWrittenFooterFlags = kAPEv2FlagHasHeader;
// An item's fixed part: value size and flags.
constexpr std::int64_t kItemHeaderBytes = 8;

struct TFooter {
  std::uint32_t Version = 0;
  std::uint32_t Size = 0;   // items plus footer
  std::uint32_t Count = 0;
  std::uint32_t Flags = 0;
  bool ReservedZero = true;
};

bool ParseFooter(const TBytes &Bytes, TFooter &Out)
{
  ByteReader in(Bytes);
  std::uint64_t reserved = 0;
  if (!in.Expect(kPreamble) || !in.ReadU32LE(Out.Version) || !in.ReadU32LE(Out.Size) || !in.ReadU32LE(Out.Count) ||
      !in.ReadU32LE(Out.Flags) || !in.ReadU64LE(reserved))
    return false;
  Out.ReservedZero = reserved == 0;
  return true;
}

// One item as found in the item region: where its value lies and what precedes it.
struct TItemPlace {
  std::uint32_t ValueSize = 0;
  std::uint32_t Flags = 0;
  std::string Key;
  std::int64_t ValueAt = 0;
};

// Walks the items of [From, To) of Stream, calling Item for each; false when they do not fill
// the range exactly (an item or its key reaching past it, a key without its 0x00 within 255
// bytes, an empty key). Items read so far have been handed to Item then.
template <typename TItem> bool WalkItems(TStream &Stream, std::int64_t From, std::int64_t To, TItem &&Item)
{
  std::int64_t pos = From;
  TBytes head;
  while (pos < To) {
    const std::int64_t left = To - pos;
    const std::int64_t want = std::min<std::int64_t>(left, kItemHeaderBytes + kAPEv2MaxKeyBytes + 1);
    if (left < kItemHeaderBytes + 2 || !Stream.ReadAt(pos, want, head)) return false;
    ByteReader in(head);
    TItemPlace item;
    in.ReadU32LE(item.ValueSize);
    in.ReadU32LE(item.Flags);
    const auto rest = in.Rest();
    const auto zero = std::find(rest.begin(), rest.end(), std::uint8_t{0});
    if (zero == rest.end() || zero == rest.begin()) return false;
    item.Key.assign(rest.begin(), zero);
    item.ValueAt = pos + kItemHeaderBytes + static_cast<std::int64_t>(item.Key.size()) + 1;
    if (item.ValueSize > To - item.ValueAt) return false;
    if (!Item(item)) return false;
    pos = item.ValueAt + item.ValueSize;
  }
  return true;
}

// What the footer at Location says, and where the tag it closes begins, proven: the size fits
// in front of the footer, a header the flags announce is there, and the items fill their region
// exactly. ForRemoval also wants the reserved bytes clear.
struct TProvenTag {
  TFooter Footer;
  std::int64_t Start = 0;       // the header, or the first item without one
  std::int64_t ItemsStart = 0;
  std::int64_t End = 0;         // the footer's end
};

int ReadFooter(TStream &Stream, const TAPEv2Location &Where, TFooter &Footer)
{
  TBytes bytes;
  if (!Stream.ReadAt(Where.FooterPos, kFooterBytes, bytes) || !ParseFooter(bytes, Footer)) return apeFooterUnreadable;
  if (Footer.Version != kWrittenVersion && Footer.Version != kVersion1) return apeVersion;
  return apeOk;
}

// The item region the footer describes; false when its size cannot be right.
bool ItemRegion(const TFooter &Footer, const TAPEv2Location &Where, std::int64_t &ItemsStart)
{
  const std::int64_t end = Where.FooterPos + kFooterBytes;
  if (Footer.Size < kFooterBytes || Footer.Size > end || Footer.Size - kFooterBytes > kAPEv2MaxTagBytes) return false;
  ItemsStart = end - Footer.Size;
  return true;
}

// Where the tag whose items begin at ItemsStart begins: at its header when the footer announces
// one (-1 when that header is not there), else at the items.
std::int64_t TagStart(TStream &Stream, const TFooter &Footer, std::int64_t ItemsStart)
{
  if ((Footer.Flags & kAPEv2FlagHasHeader) == 0) return ItemsStart;
  TBytes header;
  TFooter fields;
  const std::int64_t start = ItemsStart - kAPEv2HeaderBytes;
  if (start < 0 || !Stream.ReadAt(start, kAPEv2HeaderBytes, header) || !ParseFooter(header, fields)) return -1;
  return start;
}

int ProveTag(TStream &Stream, const TAPEv2Location &Where, bool ForRemoval, TProvenTag &Out)
{
  if (const int code = ReadFooter(Stream, Where, Out.Footer); code != apeOk) return code;
  if (ForRemoval && !Out.Footer.ReservedZero) return apeFooterUnreadable;
  if ((Out.Footer.Flags & kAPEv2FlagIsHeader) != 0 || !ItemRegion(Out.Footer, Where, Out.ItemsStart)) return apeDamaged;
  Out.End = Where.FooterPos + kFooterBytes;
  Out.Start = TagStart(Stream, Out.Footer, Out.ItemsStart);
  if (Out.Start < 0) return apeDamaged;
  if (!WalkItems(Stream, Out.ItemsStart, Where.FooterPos, [](const TItemPlace &) { return true; })) return apeDamaged;
  return apeOk;
}

bool IsPictureSignature(const std::uint8_t *Data, std::size_t Size, TAPEv2PictureFormat &Format)
{
  struct TSignature {
    std::array<std::uint8_t, 4> Bytes;
    std::size_t Length;
    TAPEv2PictureFormat Format;
  };
  static constexpr TSignature kSignatures[] = {
    {{0xFF, 0xD8, 0, 0}, 2, pfJPEG},
    {{0x89, 'P', 'N', 'G'}, 4, pfPNG},
    {{'G', 'I', 'F', '8'}, 4, pfGIF},
    {{'B', 'M', 0, 0}, 2, pfBMP},
  };
  for (const TSignature &s : kSignatures)
    if (Size >= s.Length && std::equal(s.Bytes.begin(), s.Bytes.begin() + static_cast<std::ptrdiff_t>(s.Length), Data)) {
      Format = s.Format;
      return true;
    }
  return false;
}

// Text of the file: UTF-8 when it is valid, else the system code page.
std::string DecodeText(std::string_view Bytes) { return IsValidUtf8(Bytes) ? std::string(Bytes) : AnsiToUtf8(Bytes); }

std::string TrimRightControls(std::string Text)
{
  while (!Text.empty() && static_cast<unsigned char>(Text.back()) <= 0x20) Text.pop_back();
  return Text;
}

bool IsCoverKey(std::string_view Key) { return StartsText("Cover Art", Key); }

TRewriteCodes FileCodes()
{
  return TRewriteCodes{.Ok = apeOk,
                       .FileNotFound = apeFileNotFound,
                       .CannotOpen = apeFileNotFound,
                       .ReadOnly = apeReadOnly,
                       .ReadFailed = apeUpdateFailed,
                       .WriteFailed = apeWriteFailed};
}


// Replaces [From, To) of content of Size bytes with Bytes, handing over the old bytes after To.
int PlanReplace(TStream &Content, std::int64_t From, std::int64_t To, std::int64_t Size, TBytes Bytes, TRewritePlan &Plan)
{
  Plan = TRewritePlan();
  // A change that reaches the end (nothing behind the tag) is a new end of the file; this is
  // also the only form in which a tag that is the whole file can be cut to nothing.
  if (To == Size) {
    Plan.SetInPlace(From, std::move(Bytes), true);
    return apeOk;
  }
  TBytes tail;
  if (!Content.ReadAt(To, Size - To, tail)) return apeUpdateFailed;
  Plan.AddCopy(0, From);
  Plan.AddLiteral(std::move(Bytes));
  Plan.AddCopy(To, Size);
  Plan.KnownTailFrom = To;
  Plan.KnownTail = std::move(tail);
  return apeOk;
}

} // namespace

// ---- TAPEv2Frame

TAPEv2FrameFormat TAPEv2Frame::Format() const
{
  switch (ItemType()) {
  case aitText: return ffText;
  case aitBinary: return ffBinary;
  default: return ffUnknown;
  }
}

std::vector<std::string> TAPEv2Frame::Values() const
{
  if (Format() == ffBinary) return {"BINARY " + std::to_string(Value.size()) + " Byte"};
  std::vector<std::string> values;
  const std::string_view all(reinterpret_cast<const char *>(Value.data()), Value.size());
  std::size_t pos = 0;
  while (true) {
    const std::size_t zero = all.find('\0', pos);
    values.push_back(TrimRightControls(DecodeText(all.substr(pos, zero == std::string_view::npos ? all.npos : zero - pos))));
    if (zero == std::string_view::npos) break;
    pos = zero + 1;
  }
  return values;
}

void TAPEv2Frame::SetValues(const std::vector<std::string> &Texts)
{
  Value.clear();
  for (std::size_t i = 0; i < Texts.size(); ++i) {
    if (i > 0) Value.push_back(0);
    Value.insert(Value.end(), Texts[i].begin(), Texts[i].end());
  }
  Flags &= ~(3u << 1);
}

bool TAPEv2Frame::IsCoverArt() const
{
  TAPEv2Picture p;
  if (Format() != ffBinary) return false;
  const auto zero = std::find(Value.begin(), Value.end(), std::uint8_t{0});
  if (zero == Value.end()) return false;
  const std::size_t at = static_cast<std::size_t>(zero - Value.begin()) + 1;
  return IsPictureSignature(Value.data() + at, Value.size() - at, p.Format) || IsCoverKey(Name);
}

bool TAPEv2Frame::GetCoverArt(TAPEv2Picture &Out) const
{
  if (!IsCoverArt()) return false;
  const auto zero = std::find(Value.begin(), Value.end(), std::uint8_t{0});
  Out.Description = TrimRightControls(DecodeText(std::string_view(reinterpret_cast<const char *>(Value.data()),
                                                                  static_cast<std::size_t>(zero - Value.begin()))));
  Out.Data.assign(zero + 1, Value.end());
  Out.Format = pfUnknown;
  IsPictureSignature(Out.Data.data(), Out.Data.size(), Out.Format);
  return true;
}

void TAPEv2Frame::AppendTo(TBytes &Out) const
{
  ByteWriter(Out).U32LE(static_cast<std::uint32_t>(Value.size())).U32LE(Flags).Str(Name).U8(0).Append(Value);
}

// ---- locating

TAPEv2Location LocateAPEv2Tag(TStream &Stream)
{
  TAPEv2Location loc;
  const std::int64_t size = Stream.GetSize();
  if (size < 0) return loc;
  loc.FileSize = size;
  loc.TrailingStart = size;
  const auto footerAt = [&](std::int64_t End) {
    TBytes magic;
    return End >= kFooterBytes && Stream.ReadAt(End - kFooterBytes, 8, magic) && ByteReader(magic).StartsWith(kPreamble);
  };
  // A footer that ends the file wins over an ID3v1 record seemingly in its last 128 bytes: the
  // record may stand in front of the tag.
  if (footerAt(size)) {
    loc.Found = true;
    loc.FooterPos = size - kFooterBytes;
    return loc;
  }
  loc.TrailingStart = TrailingTagsStart(Stream);
  if (loc.TrailingStart < size && footerAt(loc.TrailingStart)) {
    loc.Found = true;
    loc.FooterPos = loc.TrailingStart - kFooterBytes;
  }
  return loc;
}

std::int64_t APEv2TagSizeByFooter(TStream &Stream)
{
  const TAPEv2Location where = LocateAPEv2Tag(Stream);
  TFooter footer;
  std::int64_t itemsStart = 0;
  if (!where.Found || ReadFooter(Stream, where, footer) != apeOk || (footer.Flags & kAPEv2FlagIsHeader) != 0 ||
      !ItemRegion(footer, where, itemsStart))
    return 0;
  const std::int64_t header = (footer.Flags & kAPEv2FlagHasHeader) != 0 ? kAPEv2HeaderBytes : 0;
  if (itemsStart < header) return 0;
  return where.FooterPos + kFooterBytes - itemsStart + header;
}

// ---- TAPEv2Tag

void TAPEv2Tag::Clear()
{
  Frames.clear();
  FileName.clear();
  Loaded = false;
  Version = Flags = Size = 0;
  FFileSize = FStart = FEnd = 0;
  FPlannedFileSize = FPlannedStart = FPlannedEnd = 0;
  FDamaged = FChanged = FReadOnlyTouched = false;
}

int TAPEv2Tag::LoadFromFile(const std::string &AFileName)
{
  Clear();
  auto view = TReadView::OpenFile(AFileName);
  if (!view) return apeFileNotFound;
  const int result = Load(*view);
  if (result == apeOk || result == apeVersion) FileName = AFileName;
  return result;
}

int TAPEv2Tag::LoadFromStream(TStream &Stream)
{
  TReadView view(Stream);
  return Load(view);
}

int TAPEv2Tag::Load(TReadView &View)
{
  Clear();
  const TAPEv2Location where = LocateAPEv2Tag(View);
  FFileSize = where.FileSize;
  if (!where.Found) return apeNoTag;
  TFooter footer;
  if (const int code = ReadFooter(View, where, footer); code != apeOk) return code;
  Version = footer.Version;
  Size = footer.Size;
  Flags = footer.Flags;
  std::int64_t itemsStart = 0;
  if ((footer.Flags & kAPEv2FlagIsHeader) != 0 || !ItemRegion(footer, where, itemsStart)) {
    FDamaged = true;
    return apeDamaged;
  }
  FEnd = where.FooterPos + kFooterBytes;
  // A header the footer announces and that is not there leaves the tag's start unknown: the
  // items still load, but the tag is not written back or cut.
  FStart = TagStart(View, footer, itemsStart);
  // One read for the whole region; the walk then copies from memory.
  ByteReader resident;
  if (where.FooterPos > itemsStart && !View.Range(itemsStart, where.FooterPos - itemsStart, resident)) {
    FDamaged = true;
    return apeDamaged;
  }
  const bool whole = WalkItems(View, itemsStart, where.FooterPos, [&](const TItemPlace &Item) {
    TAPEv2Frame frame;
    frame.Name = Item.Key;
    frame.Flags = Item.Flags;
    if (!View.ReadAt(Item.ValueAt, Item.ValueSize, frame.Value)) return false;
    // Version 1 text is in the system code page; it is kept as UTF-8 from here on.
    if (footer.Version == kVersion1 && frame.Format() == ffText) {
      const std::string text(frame.Value.begin(), frame.Value.end());
      const std::string utf8 = AnsiToUtf8(text);
      frame.Value.assign(utf8.begin(), utf8.end());
    }
    Frames.push_back(std::move(frame));
    return true;
  });
  FDamaged = !whole || FStart < 0;
  Loaded = !Frames.empty();
  return FDamaged ? apeDamaged : apeOk;
}

TBytes TAPEv2Tag::Build() const
{
  TBytes items;
  for (const TAPEv2Frame &f : Frames) f.AppendTo(items);
  const auto size = static_cast<std::uint32_t>(items.size() + kFooterBytes);
  const auto count = static_cast<std::uint32_t>(Frames.size());
  TBytes tag;
  tag.reserve(items.size() + 2 * kFooterBytes);
  ByteWriter w(tag);
  w.Str(kPreamble).U32LE(kWrittenVersion).U32LE(size).U32LE(count).U32LE(kWrittenHeaderFlags).Zeros(8);
  w.Append(items);
  w.Str(kPreamble).U32LE(kWrittenVersion).U32LE(size).U32LE(count).U32LE(kWrittenFooterFlags).Zeros(8);
  return tag;
}

int TAPEv2Tag::PlanSave(TStream &Content, TRewritePlan &Plan)
{
  Plan = TRewritePlan();
  if (FReadOnlyTouched) return apeItemReadOnly;
  if (FDamaged) return apeDamaged;
  const TAPEv2Location where = LocateAPEv2Tag(Content);
  std::int64_t start = where.TrailingStart;
  std::int64_t end = where.TrailingStart;
  if (where.Found) {
    TProvenTag old;
    if (const int code = ProveTag(Content, where, false, old); code != apeOk) return code;
    start = old.Start;
    end = old.End;
  }
  FPlannedFileSize = where.FileSize;
  FPlannedStart = start;
  FPlannedEnd = end;
  // The tag as loaded, still where it was: nothing to write.
  if (!FChanged && Loaded && where.Found && start == FStart && end == FEnd && where.FileSize == FFileSize) return apeOk;
  RemoveEmptyFrames();
  if (Frames.empty()) return PlanRemove(Content, Plan);

  const std::int64_t itemBytes = CalculateTotalFramesSize();
  if (itemBytes + kFooterBytes > std::numeric_limits<std::uint32_t>::max() ||
      Frames.size() > std::numeric_limits<std::uint32_t>::max())
    return apeTooLarge;
  TBytes tag = Build();
  FPlannedEnd = start + static_cast<std::int64_t>(tag.size());
  FPlannedFileSize = where.FileSize - (end - start) + static_cast<std::int64_t>(tag.size());
  return PlanReplace(Content, start, end, where.FileSize, std::move(tag), Plan);
}

int TAPEv2Tag::PlanRemove(TStream &Content, TRewritePlan &Plan)
{
  Plan = TRewritePlan();
  const TAPEv2Location where = LocateAPEv2Tag(Content);
  if (!where.Found) return apeNoTag;
  TProvenTag old;
  if (const int code = ProveTag(Content, where, true, old); code != apeOk) return code;
  return PlanReplace(Content, old.Start, old.End, where.FileSize, {}, Plan);
}

int TAPEv2Tag::SaveToFile(const std::string &AFileName)
{
  const int result = RewriteFile(AFileName, PreserveFileDateTime, FileCodes(), [&](TStream &View, TRewritePlan &Plan) -> int {
    const int code = PlanSave(View, Plan);
    if (code != apeOk) return code;
    return ComposeOwnPlan(View.GetSize(), Plan) ? apeOk : apeUpdateFailed;
  });
  if (result == apeOk) FinishSave(AFileName);
  return result;
}

int TAPEv2Tag::SaveToStream(TStream &Stream)
{
  TRewritePlan plan;
  int code = PlanSave(Stream, plan);
  if (code != apeOk) return code;
  if (!ComposeOwnPlan(Stream.GetSize(), plan)) return apeUpdateFailed;
  switch (ApplyPlanToStream(Stream, plan)) {
  case rwOk: break;
  case rwReadFailed: return apeUpdateFailed;
  case rwWriteFailed: return apeWriteFailed;
  }
  FinishSave(std::string());
  return apeOk;
}

void TAPEv2Tag::FinishSave(const std::string &AFileName)
{
  if (!AFileName.empty()) FileName = AFileName;
  FChanged = false;
  Loaded = !Frames.empty();
  FStart = FPlannedStart;
  FEnd = Loaded ? FPlannedEnd : FPlannedStart;
  FFileSize = FPlannedFileSize;
  Version = kWrittenVersion;
  Flags = kWrittenFooterFlags;
  Size = static_cast<std::uint32_t>(std::min<std::int64_t>(CalculateTotalFramesSize() + kFooterBytes,
                                                           std::numeric_limits<std::uint32_t>::max()));
}

// ---- items

TAPEv2Frame *TAPEv2Tag::AddFrame(const std::string &Name)
{
  Touch();
  Frames.push_back(TAPEv2Frame{});
  Frames.back().Name = Name;
  return &Frames.back();
}

int TAPEv2Tag::AddTextFrame(const std::string &Name, const std::string &Text)
{
  AddFrame(Name)->SetValues({Text});
  return Count() - 1;
}

int TAPEv2Tag::AddBinaryFrame(const std::string &Name, const TBytes &Data)
{
  TAPEv2Frame *f = AddFrame(Name);
  f->Flags = aitBinary << 1;
  f->Value = Data;
  return Count() - 1;
}

bool TAPEv2Tag::DeleteFrame(int Index)
{
  if (Index < 0 || Index >= Count()) return false;
  if (Frames[static_cast<std::size_t>(Index)].ReadOnly()) {
    FReadOnlyTouched = true;
    return false;
  }
  Frames.erase(Frames.begin() + Index);
  Touch();
  return true;
}

void TAPEv2Tag::DeleteAllFrames()
{
  for (int i = Count() - 1; i >= 0; --i) DeleteFrame(i);
}

bool TAPEv2Tag::DeleteFrameByName(const std::string &Name) { return DeleteFrame(IndexOf(Name)); }

int TAPEv2Tag::FrameExists(const std::string &Name) const
{
  for (int i = 0; i < Count(); ++i)
    if (Frames[static_cast<std::size_t>(i)].Name == Name) return i;
  return -1;
}

int TAPEv2Tag::IndexOf(std::string_view Name) const
{
  for (int i = 0; i < Count(); ++i)
    if (SameText(Frames[static_cast<std::size_t>(i)].Name, Name)) return i;
  return -1;
}

int TAPEv2Tag::FrameTypeCount(const std::string &Name) const
{
  return static_cast<int>(std::count_if(Frames.begin(), Frames.end(), [&](const TAPEv2Frame &f) { return SameText(f.Name, Name); }));
}

std::string TAPEv2Tag::GetText(const std::string &Name) const
{
  const int i = IndexOf(Name);
  if (i < 0 || Frames[static_cast<std::size_t>(i)].Format() != ffText) return std::string();
  return Frames[static_cast<std::size_t>(i)].Values().front();
}

bool TAPEv2Tag::SetValues(const std::string &Name, const std::vector<std::string> &Texts)
{
  const int first = IndexOf(Name);
  if (first < 0) {
    if (Texts.empty()) return true;
    if (!IsWritableKey(Name)) return false;
    AddFrame(UpperCaseFieldNamesToWrite ? AsciiUpperCase(Name) : Name)->SetValues(Texts);
    return true;
  }
  // Later items of the same key (a file may hold them) gave values too: they go, the first one
  // takes all values.
  for (int i = Count() - 1; i > first; --i)
    if (SameText(Frames[static_cast<std::size_t>(i)].Name, Name)) DeleteFrame(i);
  return SetValuesAt(first, Texts);
}

bool TAPEv2Tag::SetValuesAt(int Index, const std::vector<std::string> &Texts)
{
  if (Index < 0 || Index >= Count()) return false;
  if (Texts.empty()) return DeleteFrame(Index);
  TAPEv2Frame &f = Frames[static_cast<std::size_t>(Index)];
  TAPEv2Frame wanted = f;
  wanted.SetValues(Texts);
  if (f.Format() == ffText && wanted.Value == f.Value) return true;
  if (f.ReadOnly()) {
    FReadOnlyTouched = true;
    return false;
  }
  f = std::move(wanted);
  Touch();
  return true;
}

bool TAPEv2Tag::SetText(const std::string &Name, const std::string &Text)
{
  return SetValues(Name, Text.empty() ? std::vector<std::string>() : std::vector<std::string>{Text});
}

void TAPEv2Tag::RemoveEmptyFrames()
{
  for (int i = Count() - 1; i >= 0; --i) {
    const TAPEv2Frame &f = Frames[static_cast<std::size_t>(i)];
    if (f.Value.empty() && !f.ReadOnly()) DeleteFrame(i);
  }
}

int TAPEv2Tag::CoverArtCount() const
{
  return static_cast<int>(std::count_if(Frames.begin(), Frames.end(), [](const TAPEv2Frame &f) { return f.IsCoverArt(); }));
}

int TAPEv2Tag::GetFrameIndexOfCoverArtIndex(int CoverArtIndex) const
{
  int n = 0;
  for (int i = 0; i < Count(); ++i)
    if (Frames[static_cast<std::size_t>(i)].IsCoverArt() && n++ == CoverArtIndex) return i;
  return -1;
}

int TAPEv2Tag::AddCoverArtFrame(const std::string &Name, const TBytes &Picture, const std::string &Description)
{
  TBytes value(Description.begin(), Description.end());
  value.push_back(0);
  value.insert(value.end(), Picture.begin(), Picture.end());
  return AddBinaryFrame(Name, value);
}

bool TAPEv2Tag::GetCoverArtFromFrame(int Index, TAPEv2Picture &Out) const
{
  return Index >= 0 && Index < Count() && Frames[static_cast<std::size_t>(Index)].GetCoverArt(Out);
}

void TAPEv2Tag::DeleteAllCoverArts()
{
  for (int i = Count() - 1; i >= 0; --i)
    if (Frames[static_cast<std::size_t>(i)].IsCoverArt()) DeleteFrame(i);
}

std::int64_t TAPEv2Tag::CalculateTotalFramesSize() const
{
  std::int64_t n = 0;
  for (const TAPEv2Frame &f : Frames) n += f.StoredSize();
  return n;
}

bool TAPEv2Tag::Assign(const TAPEv2Tag &Source)
{
  if (&Source != this) *this = Source;
  return true;
}

bool TAPEv2Tag::IsWritableKey(std::string_view Key)
{
  if (Key.size() < kAPEv2MinKeyBytes || Key.size() > kAPEv2MaxKeyBytes) return false;
  if (!std::all_of(Key.begin(), Key.end(), [](char c) { return c >= 0x20 && c <= 0x7E; })) return false;
  for (const char *forbidden : {"ID3", "TAG", "OggS", "MP+"})
    if (SameText(Key, forbidden)) return false;
  return true;
}

int RemoveAPEv2FromFile(const std::string &FileName, bool PreserveFileDateTime)
{
  return RewriteFile(FileName, PreserveFileDateTime, FileCodes(), [](TStream &View, TRewritePlan &Plan) -> int {
    const int code = TAPEv2Tag::PlanRemove(View, Plan);
    if (code != apeOk) return code;
    return ComposeOwnPlan(View.GetSize(), Plan) ? apeOk : apeUpdateFailed;
  });
}

int RemoveAPEv2FromStream(TStream &Stream)
{
  TRewritePlan plan;
  const int code = TAPEv2Tag::PlanRemove(Stream, plan);
  if (code != apeOk) return code;
  if (!ComposeOwnPlan(Stream.GetSize(), plan)) return apeUpdateFailed;
  switch (ApplyPlanToStream(Stream, plan)) {
  case rwOk: return apeOk;
  case rwReadFailed: return apeUpdateFailed;
  case rwWriteFailed: break;
  }
  return apeWriteFailed;
}
