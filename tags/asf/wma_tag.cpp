#include "tags/asf/wma_tag.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "tags/asf/asf_writer.h"
#include "tags/asf/wma_picture.h"
#include "tags/streams/byte_writer.h"
#include "tags/streams/file_io.h"
#include "tags/streams/read_view.h"
#include "tags/streams/rewrite_plan.h"
#include "tags/text/text.h"

namespace {

constexpr std::array<std::string_view, 22> kPseudoAttributes = {
  "Duration",       "Bitrate",           "FileSize",          "Seekable",
  "Stridable",      "Broadcast",         "Is_Protected",      "Is_Trusted",
  "Signature_Name", "HasAudio",          "HasImage",          "HasScript",
  "HasVideo",       "CurrentBitrate",    "OptimalBitrate",    "HasAttachedImages",
  "Can_Skip_Backward", "Can_Skip_Forward", "NumberOfFrames", "HasArbitraryDataStream",
  "HasFileTransferStream", "WM/ContainerFormat"};

// Written by encoders about the encoding: not a tag a user sets, kept by a removal.
constexpr std::array<std::string_view, 9> kEncoderAttributes = {
  "WMFSDKVersion", "WMFSDKNeeded", "IsVBR", "DeviceConformanceTemplate", "WM/ASFPacketCount",
  "WM/ASFSecurityObjectsSize", "WM/StreamTypeInfo", "WM/PeakBitrate", "ASFLeakyBucketPairs"};

constexpr const char *kSharedUserRating = "WM/SharedUserRating";
constexpr std::uint64_t kTenThousand = 10000;  // 100-nanosecond units per millisecond

TWMATagFrame PseudoAttribute(const char *Name, WMT_ATTR_DATATYPE Format, std::uint64_t Value)
{
  TWMATagFrame f;
  f.Name = Name;
  f.SetInteger(Format, Value);
  f.Origin = aoPseudo;
  return f;
}

std::vector<TWMATagFrame> PseudoAttributes(const TASFHeader &H)
{
  std::vector<TWMATagFrame> out;
  const TASFFileProperties &file = H.File;
  if (file.Found) {
    const bool broadcast = (file.Flags & kASFFlagBroadcast) != 0;
    // The play duration counts the preroll; a broadcast leaves it unknown.
    std::uint64_t duration = 0;
    if (!broadcast && file.Preroll <= file.PlayDuration / kTenThousand) duration = file.PlayDuration - file.Preroll * kTenThousand;
    out.push_back(PseudoAttribute("Duration", WMT_TYPE_QWORD, duration));
  }
  std::uint64_t bitrate = H.StreamBitrateSum;
  if (bitrate == 0 && H.Audio.Found) bitrate = 8ULL * H.Audio.AvgBytesPerSec;
  if (bitrate == 0) bitrate = file.MaxBitrate;
  out.push_back(PseudoAttribute("Bitrate", WMT_TYPE_DWORD, std::min<std::uint64_t>(bitrate, 0xFFFFFFFFu)));
  if (file.Found) {
    out.push_back(PseudoAttribute("FileSize", WMT_TYPE_QWORD, file.FileSize));
    out.push_back(PseudoAttribute("Seekable", WMT_TYPE_BOOL, (file.Flags & kASFFlagSeekable) != 0));
    out.push_back(PseudoAttribute("Broadcast", WMT_TYPE_BOOL, (file.Flags & kASFFlagBroadcast) != 0));
  }
  const bool pictures = std::any_of(H.Attributes.begin(), H.Attributes.end(), [](const TWMATagFrame &f) { return f.IsCoverArt(); });
  for (const auto &[name, value] : std::initializer_list<std::pair<const char *, bool>>{
         {"Is_Protected", H.Protected},
         {"HasAudio", H.HasAudio},
         {"HasVideo", H.HasVideo},
         {"HasImage", H.HasImage},
         {"HasScript", H.HasScript},
         {"HasFileTransferStream", H.HasFileTransfer},
         {"HasArbitraryDataStream", H.HasBinary},
         {"HasAttachedImages", pictures}})
    out.push_back(PseudoAttribute(name, WMT_TYPE_BOOL, value));
  return out;
}

bool IsIntegerType(WMT_ATTR_DATATYPE Format)
{
  return Format == WMT_TYPE_DWORD || Format == WMT_TYPE_QWORD || Format == WMT_TYPE_WORD || Format == WMT_TYPE_BOOL;
}

// The rating rescaled by Scale, kept within its type.
void RescaleRating(TWMATagFrame &F, std::uint64_t (*Scale)(std::uint64_t))
{
  if (F.Name != kSharedUserRating || !IsIntegerType(F.Format)) return;
  const std::size_t width = WMTFixedValueSize(F.Format);
  const std::uint64_t max = width >= 8 ? std::numeric_limits<std::uint64_t>::max() : (1ULL << (8 * width)) - 1;
  F.SetInteger(F.Format, std::min(Scale(F.GetInteger()), max));
}

TRewriteCodes FileCodes()
{
  return TRewriteCodes{.Ok = wmaOk,
                       .FileNotFound = wmaFileNotFound,
                       .CannotOpen = wmaCannotOpen,
                       .ReadOnly = wmaReadOnly,
                       .ReadFailed = wmaFailure,
                       .WriteFailed = wmaWriteFailed};
}

int ApplyOwnPlan(TStream &Stream, TRewritePlan &Plan)
{
  if (!ComposeOwnPlan(Stream.GetSize(), Plan)) return wmaFailure;
  switch (ApplyPlanToStream(Stream, Plan)) {
  case rwOk: return wmaOk;
  case rwReadFailed: return wmaFailure;
  case rwWriteFailed: break;
  }
  return wmaWriteFailed;
}

bool ReadWholeStream(TStream &Stream, TBytes &Out)
{
  const std::int64_t size = Stream.GetSize();
  if (size < 0 || size > kWMAMaxPictureBytes) return false;
  return Stream.ReadAt(0, size, Out);
}

} // namespace

std::uint64_t WMARatingTo255(std::uint64_t Value)
{
  const std::uint64_t whole = Value / 99;
  // Beyond this the result does not fit 64 bits.
  if (whole > std::numeric_limits<std::uint64_t>::max() / 255 - 1) return std::numeric_limits<std::uint64_t>::max();
  return whole * 255 + Value % 99 * 255 / 99;
}

std::uint64_t WMARatingFrom255(std::uint64_t Value) { return Value / 255 * 99 + Value % 255 * 99 / 255; }

bool TWMATag::IsPseudoAttribute(std::string_view Name)
{
  return std::find(kPseudoAttributes.begin(), kPseudoAttributes.end(), Name) != kPseudoAttributes.end();
}

bool TWMATag::IsEncoderAttribute(std::string_view Name)
{
  return std::find(kEncoderAttributes.begin(), kEncoderAttributes.end(), Name) != kEncoderAttributes.end();
}

// ---- loading

void TWMATag::Clear()
{
  FileName.clear();
  Loaded = false;
  Frames.clear();
  Frames.shrink_to_fit();
  KeptAttributes.clear();
  Audio = TASFAudioProperties();
  FFileSize = -1;
  FPlannedFileSize = -1;
  FCodecInfo.clear();
  FCodecDescription.clear();
  FDamaged = false;
  FProtected = false;
}

int TWMATag::LoadFromFile(const std::string &AFileName)
{
  Clear();
  auto view = TReadView::OpenFile(AFileName);
  if (!view) return wmaFileNotFound;
  const int result = Load(*view);
  if (result == wmaOk || result == wmaDamaged) FileName = AFileName;
  return result;
}

int TWMATag::LoadFromStream(TStream &Stream)
{
  TReadView view(Stream);
  return Load(view);
}

int TWMATag::Load(TReadView &View)
{
  TASFHeader layout;
  return LoadHeader(View, layout);
}

int TWMATag::LoadHeader(TReadView &View, TASFHeader &Layout)
{
  const std::string fileName = FileName;
  Clear();
  FileName = fileName;
  FFileSize = View.GetSize();
  if (ReadASFHeader(View, Layout) == asfrNotASF) return wmaNotASF;
  FDamaged = Layout.Damaged;
  FProtected = Layout.Protected;
  Audio = Layout.Audio;
  FCodecInfo = Layout.CodecName;
  FCodecDescription = Layout.CodecDescription;
  for (TWMATagFrame &f : PseudoAttributes(Layout)) {
    Frames.push_back(std::make_unique<TWMATagFrame>(std::move(f)));
    Frames.back()->Parent = this;
  }
  for (const TWMATagFrame &f : Layout.Attributes) {
    if (f.StreamNumber != 0 || IsPseudoAttribute(f.Name)) {
      KeptAttributes.push_back(f);
      continue;
    }
    Frames.push_back(std::make_unique<TWMATagFrame>(f));
    Frames.back()->Parent = this;
    if (NormalizeRatingTo255) RescaleRating(*Frames.back(), WMARatingTo255);
  }
  Loaded = !Frames.empty();
  return FDamaged ? wmaDamaged : wmaOk;
}

bool TWMATag::HasUserAttributes() const
{
  return std::any_of(Frames.begin(), Frames.end(), [](const auto &f) { return !IsPseudoAttribute(f->Name); });
}

// ---- saving

bool TWMATag::SameAttributes(const TWMATag &Other) const
{
  const auto same = [](const auto &A, const auto &B) { return A->SameAttribute(*B); };
  const auto sameKept = [](const TWMATagFrame &A, const TWMATagFrame &B) { return A.SameAttribute(B); };
  return std::equal(Frames.begin(), Frames.end(), Other.Frames.begin(), Other.Frames.end(), same) &&
         std::equal(KeptAttributes.begin(), KeptAttributes.end(), Other.KeptAttributes.begin(), Other.KeptAttributes.end(),
                    sameKept);
}

int TWMATag::PlanHeader(TStream &Content, const TASFHeader &Layout, std::span<const TWMATagFrame *const> Attributes,
                        TRewritePlan &Plan)
{
  Plan = TRewritePlan();
  const std::int64_t fileSize = Content.GetSize();
  TBytes oldHeader, newHeader;
  if (!Content.ReadAt(0, Layout.Size, oldHeader)) return wmaFailure;
  if (BuildASFHeader(oldHeader, Layout, Attributes, fileSize, newHeader) != asfbOk) return wmaTooLarge;
  if (newHeader == oldHeader) return wmaOk;
  if (static_cast<std::int64_t>(newHeader.size()) == Layout.Size) {
    Plan.SetInPlace(0, std::move(newHeader));
  } else {
    Plan.AddLiteral(std::move(newHeader));
    Plan.AddCopy(Layout.Size, fileSize);
  }
  return wmaOk;
}

int TWMATag::PlanSave(TStream &Content, TRewritePlan &Plan)
{
  Plan = TRewritePlan();
  FPlannedFileSize = Content.GetSize();
  // The list the content holds now: when it is this one, there is nothing to write.
  TWMATag current;
  current.NormalizeRatingTo255 = NormalizeRatingTo255;
  TASFHeader layout;
  {
    TReadView view(Content);
    if (current.LoadHeader(view, layout) == wmaNotASF) return wmaNotASF;
  }
  if (SameAttributes(current)) return wmaOk;
  if (current.Protected()) return wmaProtected;
  // A damaged header, ours or the content's, is never written over.
  if (FDamaged || current.Damaged()) return wmaDamaged;

  // Written in the order the list gives, pictures after everything else; rescaled ratings are
  // copies, so that the list itself stays as it is.
  std::vector<TWMATagFrame> rescaled;
  rescaled.reserve(Frames.size());
  std::vector<const TWMATagFrame *> attributes;
  for (const bool pictures : {false, true})
    for (const auto &f : Frames) {
      if (f->IsCoverArt() != pictures || IsPseudoAttribute(f->Name)) continue;
      if (NormalizeRatingTo255 && f->Name == kSharedUserRating) {
        rescaled.push_back(*f);
        RescaleRating(rescaled.back(), WMARatingFrom255);
        attributes.push_back(&rescaled.back());
      } else {
        attributes.push_back(f.get());
      }
    }
  for (const TWMATagFrame &f : KeptAttributes) attributes.push_back(&f);
  const int code = PlanHeader(Content, layout, attributes, Plan);
  if (code == wmaOk && !Plan.ChangesNothing()) FPlannedFileSize = Plan.InPlace ? FPlannedFileSize : Plan.RebuiltSize();
  return code;
}

int TWMATag::PlanRemove(TStream &Content, TRewritePlan &Plan)
{
  Plan = TRewritePlan();
  TWMATag current;
  TASFHeader layout;
  {
    TReadView view(Content);
    if (current.LoadHeader(view, layout) == wmaNotASF) return wmaNotASF;
  }
  if (current.Protected()) return wmaProtected;
  if (current.Damaged()) return wmaDamaged;
  std::vector<const TWMATagFrame *> attributes;
  for (const auto &f : current.Frames)
    if (IsEncoderAttribute(f->Name)) attributes.push_back(f.get());
  for (const TWMATagFrame &f : current.KeptAttributes) attributes.push_back(&f);
  return PlanHeader(Content, layout, attributes, Plan);
}

int TWMATag::SaveToFile(const std::string &AFileName)
{
  const int result = RewriteFile(AFileName, PreserveFileDateTime, FileCodes(), [&](TStream &View, TRewritePlan &Plan) -> int {
    const int code = PlanSave(View, Plan);
    if (code != wmaOk) return code;
    return ComposeOwnPlan(View.GetSize(), Plan) ? wmaOk : wmaFailure;
  });
  if (result == wmaOk) FinishSave(AFileName);
  return result;
}

int TWMATag::SaveToStream(TStream &Stream)
{
  TRewritePlan plan;
  int code = PlanSave(Stream, plan);
  if (code == wmaOk) code = ApplyOwnPlan(Stream, plan);
  if (code == wmaOk) FinishSave(std::string());
  return code;
}

void TWMATag::FinishSave(const std::string &AFileName)
{
  if (!AFileName.empty()) FileName = AFileName;
  FFileSize = FPlannedFileSize;
  Loaded = !Frames.empty();
}

int RemoveWMATagFromFile(const std::string &FileName, bool PreserveFileDateTime)
{
  return RewriteFile(FileName, PreserveFileDateTime, FileCodes(), [](TStream &View, TRewritePlan &Plan) -> int {
    const int code = TWMATag::PlanRemove(View, Plan);
    if (code != wmaOk) return code;
    return ComposeOwnPlan(View.GetSize(), Plan) ? wmaOk : wmaFailure;
  });
}

int RemoveWMATagFromStream(TStream &Stream)
{
  TRewritePlan plan;
  const int code = TWMATag::PlanRemove(Stream, plan);
  return code == wmaOk ? ApplyOwnPlan(Stream, plan) : code;
}

// ---- entries

TWMATagFrame *TWMATag::AddFrame(const std::string &Name)
{
  Frames.push_back(std::make_unique<TWMATagFrame>(this));
  Frames.back()->Name = Name;
  return Frames.back().get();
}

bool TWMATag::DeleteFrame(int Index)
{
  if (Index < 0 || Index >= Count()) return false;
  Frames.erase(Frames.begin() + Index);
  return true;
}

bool TWMATag::DeleteFrameByName(const std::string &Name) { return DeleteFrame(FrameExists(Name)); }

void TWMATag::DeleteAllFrames() { Frames.clear(); }

int TWMATag::FrameExists(const std::string &Name) const
{
  for (int i = 0; i < Count(); ++i)
    if (SameText(Frames[static_cast<std::size_t>(i)]->Name, Name)) return i;
  return -1;
}

int TWMATag::IndexOfFrame(const TWMATagFrame *Frame) const
{
  for (int i = 0; i < Count(); ++i)
    if (Frames[static_cast<std::size_t>(i)].get() == Frame) return i;
  return -1;
}

std::string TWMATag::GetText(const std::string &Name) const
{
  const int i = FrameExists(Name);
  return i < 0 ? std::string() : Frames[static_cast<std::size_t>(i)]->GetText();
}

void TWMATag::SetText(const std::string &Name, const std::string &Text)
{
  const int i = FrameExists(Name);
  if (Text.empty()) {
    DeleteFrame(i);
    return;
  }
  TWMATagFrame *f = i >= 0 ? Frames[static_cast<std::size_t>(i)].get() : AddFrame(Name);
  // The bytes as read stay when they hold the text already (a missing terminator is no change).
  if (f->Format != WMT_TYPE_STRING || f->GetText() != Text) f->SetText(Text);
}

std::uint64_t TWMATag::GetInteger(const std::string &Name) const
{
  const int i = FrameExists(Name);
  return i < 0 ? 0 : Frames[static_cast<std::size_t>(i)]->GetInteger();
}

bool TWMATag::SetInteger(const std::string &Name, WMT_ATTR_DATATYPE Format, std::uint64_t Value)
{
  const int i = FrameExists(Name);
  if (i >= 0) return Frames[static_cast<std::size_t>(i)]->SetInteger(Format, Value);
  TWMATagFrame probe;
  if (!probe.SetInteger(Format, Value)) return false;
  return AddFrame(Name)->SetInteger(Format, Value);
}

bool TWMATag::GetList(const std::string &Name, std::vector<std::string> &List) const
{
  List.clear();
  const int i = FrameExists(Name);
  return i >= 0 && Frames[static_cast<std::size_t>(i)]->Format == WMT_TYPE_STRING && Frames[static_cast<std::size_t>(i)]->GetList(List);
}

bool TWMATag::SetList(const std::string &Name, const std::vector<std::string> &List)
{
  const int i = FrameExists(Name);
  return (i >= 0 ? Frames[static_cast<std::size_t>(i)].get() : AddFrame(Name))->SetList(List);
}

void TWMATag::ReSetAlreadyParsedState()
{
  for (auto &f : Frames) f->AlreadyParsed = false;
}

int TWMATag::GetAttribIndex(const std::string &Attrib) const
{
  for (int i = 0; i < Count(); ++i)
    if (Frames[static_cast<std::size_t>(i)]->Name == Attrib) return i;
  return -1;
}

// ---- pictures

int TWMATag::CoverArtCount() const
{
  return static_cast<int>(std::count_if(Frames.begin(), Frames.end(), [](const auto &f) { return f->IsCoverArt(); }));
}

int TWMATag::GetFrameIndexOfCoverArtIndex(int CoverArtIndex) const
{
  int seen = 0;
  for (int i = 0; i < Count(); ++i)
    if (Frames[static_cast<std::size_t>(i)]->IsCoverArt() && seen++ == CoverArtIndex) return i;
  return -1;
}

int TWMATag::AddCoverArtFrame(TStream &PictureStream, const std::string &MIMEType, const std::string &Description,
                              std::uint8_t PictureType)
{
  AddFrame("WM/Picture");
  const int index = Count() - 1;
  if (SetCoverArtFrame(index, PictureStream, Description, PictureType, MIMEType) == 1) return index;
  DeleteFrame(index);
  return -1;
}

int TWMATag::SetCoverArtFrame(int Index, TStream &PictureStream, const std::string &Description, std::uint8_t PictureType,
                              const std::string &MIMEType)
{
  if (Index < 0 || Index >= Count()) return 0;
  TBytes data;
  if (!ReadWholeStream(PictureStream, data)) return 0;
  TWMATagFrame &f = *Frames[static_cast<std::size_t>(Index)];
  f.Format = WMT_TYPE_BINARY;
  f.Stream = BuildWMAPictureRecord(PictureType, MIMEType, Description, data);
  return 1;
}

const TWMATagFrame *TWMATag::PictureFrame(int Index) const
{
  if (Index < 0 || Index >= Count()) return nullptr;
  const TWMATagFrame *f = Frames[static_cast<std::size_t>(Index)].get();
  return f->Format == WMT_TYPE_BINARY ? f : nullptr;
}

int TWMATag::GetCoverArtInfoPointer(int Index, std::uint8_t &PictureType, std::string &MIMEType, std::string &Description,
                                    std::int64_t &DataSize, const std::uint8_t *&Data) const
{
  const TWMATagFrame *f = PictureFrame(Index);
  TWMAPictureParts parts;
  if (!f || !ParseWMAPictureRecord(f->Stream, parts)) return 0;
  PictureType = parts.PictureType;
  MIMEType = parts.MIMEType;
  Description = parts.Description;
  DataSize = static_cast<std::int64_t>(parts.Data.size());
  Data = parts.Data.data();
  return 1;
}

int TWMATag::GetCoverArtInfo(int Index, std::string &MIMEType, std::int64_t &CoverArtSize, std::string &Description,
                             std::uint8_t &PictureType) const
{
  const std::uint8_t *data = nullptr;
  return GetCoverArtInfoPointer(Index, PictureType, MIMEType, Description, CoverArtSize, data);
}

int TWMATag::GetCoverArtFromFrame(int Index, TStream &PictureStream, std::string &Description, std::uint8_t &PictureType,
                                  std::string &MIMEType) const
{
  const std::uint8_t *data = nullptr;
  std::int64_t size = 0;
  if (GetCoverArtInfoPointer(Index, PictureType, MIMEType, Description, size, data) != 1) return 0;
  if (!PictureStream.WriteBuffer(data, size)) return 0;
  PictureStream.Seek(0, TSeekOrigin::soBeginning);
  return 1;
}

bool TWMATag::ValidatePictureFrame(int Index)
{
  const TWMATagFrame *f = PictureFrame(Index);
  TWMAPictureParts parts;
  if (!f || !ParseWMAPictureRecord(f->Stream, parts)) return false;
  TBytes record = BuildWMAPictureRecord(parts.PictureType, parts.MIMEType, parts.Description, parts.Data);
  Frames[static_cast<std::size_t>(Index)]->Stream = std::move(record);
  return true;
}

void TWMATag::DeleteAllCoverArts()
{
  for (int i = Count() - 1; i >= 0; --i)
    if (Frames[static_cast<std::size_t>(i)]->IsCoverArt()) DeleteFrame(i);
}

// ---- the rest

std::int64_t TWMATag::CalculateTagSize() const
{
  std::int64_t size = 0;
  for (const auto &f : Frames)
    size += static_cast<std::int64_t>(f->Stream.size() + 2 * Utf8ToUtf16(f->Name).size() + 7);
  return size;
}

bool TWMATag::Assign(const TWMATag &Source)
{
  if (&Source == this) return true;
  Clear();
  FileName = Source.FileName;
  Loaded = Source.Loaded;
  for (const auto &f : Source.Frames) AddFrame(f->Name)->Assign(*f);
  KeptAttributes = Source.KeptAttributes;
  Audio = Source.Audio;
  NormalizeRatingTo255 = Source.NormalizeRatingTo255;
  PreserveFileDateTime = Source.PreserveFileDateTime;
  FFileSize = Source.FFileSize;
  FPlannedFileSize = Source.FPlannedFileSize;
  FCodecInfo = Source.FCodecInfo;
  FCodecDescription = Source.FCodecDescription;
  FDamaged = Source.FDamaged;
  FProtected = Source.FProtected;
  return true;
}

std::int64_t TWMATag::Duration() const
{
  return static_cast<std::int64_t>(std::min<std::uint64_t>(GetInteger("Duration") / kTenThousand, INT64_MAX));
}

int TWMATag::BitRate() const
{
  return static_cast<int>(std::nearbyint(static_cast<double>(GetInteger("Bitrate")) / 1000.0));
}
