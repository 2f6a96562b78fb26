#include "tags/asf/asf_writer.h"

#include <algorithm>
#include <array>
#include <limits>
#include <optional>
#include <string_view>

#include "tags/asf/wma_picture.h"
#include "tags/streams/byte_writer.h"
#include "tags/text/text.h"

namespace {

constexpr std::size_t kMaxWordSized = 0xFFFF;
constexpr std::size_t kMaxRecords = 0xFFFF;
constexpr std::array<std::string_view, 5> kContentFields = {"Title", "Author", "Copyright", "Description", "Rating"};

// The stored type number of a WMT type.
std::uint16_t StoredType(WMT_ATTR_DATATYPE Format)
{
  switch (Format) {
  case WMT_TYPE_STRING: return 0;
  case WMT_TYPE_BINARY: return 1;
  case WMT_TYPE_BOOL: return 2;
  case WMT_TYPE_DWORD: return 3;
  case WMT_TYPE_QWORD: return 4;
  case WMT_TYPE_WORD: return 5;
  default: return 6;
  }
}

TBytes NameBytes(const std::string &Name)
{
  TBytes out;
  ByteWriter w(out);
  for (const char16_t u : Utf8ToUtf16(Name)) w.U16LE(u);
  w.U16LE(0);
  return out;
}

// An attribute as it is written into one kind of object.
struct TRecord {
  const TWMATagFrame *Frame = nullptr;
  TBytes Name;
  TBytes Value;
};

// The value bytes to store; WordBool: a BOOL in 2 bytes (the Metadata objects).
TBytes StoredValue(const TWMATagFrame &F, bool WordBool)
{
  TBytes out;
  switch (F.Format) {
  case WMT_TYPE_STRING: {
    const auto text = WMTStringWithoutTerminator(F.Stream);
    out.assign(text.begin(), text.end());
    ByteWriter(out).U16LE(0);
    return out;
  }
  case WMT_TYPE_BOOL: {
    const std::uint64_t v = F.GetInteger();
    if (!WordBool) return EncodeUInt(v, 4, false);
    // A value that a word cannot hold is still true.
    return EncodeUInt(v <= 0xFFFF ? v : 1, 2, false);
  }
  case WMT_TYPE_BINARY:
    if (F.IsCoverArt() && WMAPictureStoredFromRecord(F.Stream, out)) return out;
    return F.Stream;
  default: return F.Stream;
  }
}

// Which object an attribute goes to.
enum class TTarget { None, Content, Extended, Metadata, Library };

class TPlacer {
public:
  int Place(const TWMATagFrame &F)
  {
    if (F.Format == WMT_TYPE_UNKNOWN || F.Stream.empty()) return asfbOk;
    if (F.Format == WMT_TYPE_STRING && WMTStringWithoutTerminator(F.Stream).empty()) return asfbOk;
    // Pictures whose record is too short to be one are not written.
    if (F.Format == WMT_TYPE_BINARY && F.IsCoverArt() && F.Stream.size() < kWMAPictureRecordHeaderBytes) return asfbOk;
    TRecord r{&F, NameBytes(F.Name), {}};
    if (r.Name.size() > kMaxWordSized) return asfbTooLarge;
    const TBytes dwordBool = StoredValue(F, false);
    const TBytes wordBool = F.Format == WMT_TYPE_BOOL ? StoredValue(F, true) : dwordBool;
    const bool plain = F.StreamNumber == 0 && F.LanguageIndex == 0;
    const int field = ContentField(F);
    const bool fitsContent = field >= 0 && plain && F.Format == WMT_TYPE_STRING && !Content[static_cast<std::size_t>(field)] &&
                             dwordBool.size() <= kMaxWordSized;
    const bool fitsExtended = plain && F.Format != WMT_TYPE_GUID && dwordBool.size() <= kMaxWordSized &&
                              Extended.size() < kMaxRecords;
    const bool fitsMetadata = F.LanguageIndex == 0 && F.Format != WMT_TYPE_GUID && wordBool.size() <= kMaxWordSized &&
                              Metadata.size() < kMaxRecords;
    TTarget target = TTarget::Library;
    if (F.Origin == aoContentDescription && fitsContent) target = TTarget::Content;
    else if (F.Origin == aoExtendedContentDescription && fitsExtended) target = TTarget::Extended;
    else if (F.Origin == aoMetadata && fitsMetadata) target = TTarget::Metadata;
    else if (F.Origin == aoMetadataLibrary) target = TTarget::Library;
    else if (fitsContent) target = TTarget::Content;
    else if (fitsExtended) target = TTarget::Extended;
    switch (target) {
    case TTarget::Content:
      r.Value = dwordBool;
      Content[static_cast<std::size_t>(field)] = std::move(r);
      break;
    case TTarget::Extended:
      r.Value = dwordBool;
      Extended.push_back(std::move(r));
      break;
    case TTarget::Metadata:
      r.Value = wordBool;
      Metadata.push_back(std::move(r));
      break;
    default:
      r.Value = wordBool;
      if (Library.size() >= kMaxRecords || r.Value.size() > std::numeric_limits<std::uint32_t>::max()) return asfbTooLarge;
      Library.push_back(std::move(r));
      break;
    }
    return asfbOk;
  }

  std::array<std::optional<TRecord>, 5> Content;
  std::vector<TRecord> Extended, Metadata, Library;

private:
  static int ContentField(const TWMATagFrame &F)
  {
    for (std::size_t i = 0; i < kContentFields.size(); ++i)
      if (F.Name == kContentFields[i]) return static_cast<int>(i);
    return -1;
  }
};

void AppendObject(TBytes &Out, const TASFGuid &ID, const TBytes &Body)
{
  AppendASFGuid(Out, ID);
  ByteWriter(Out).U64LE(static_cast<std::uint64_t>(kASFObjectHeaderBytes) + Body.size()).Append(Body);
}

TBytes ContentDescriptionBody(const std::array<std::optional<TRecord>, 5> &Fields)
{
  TBytes body;
  ByteWriter w(body);
  for (const auto &f : Fields) w.U16LE(static_cast<std::uint16_t>(f ? f->Value.size() : 0));
  for (const auto &f : Fields)
    if (f) w.Append(f->Value);
  return body;
}

TBytes ExtendedContentBody(const std::vector<TRecord> &Records)
{
  TBytes body;
  ByteWriter w(body);
  w.U16LE(static_cast<std::uint16_t>(Records.size()));
  for (const TRecord &r : Records) {
    w.U16LE(static_cast<std::uint16_t>(r.Name.size())).Append(r.Name).U16LE(StoredType(r.Frame->Format));
    w.U16LE(static_cast<std::uint16_t>(r.Value.size())).Append(r.Value);
  }
  return body;
}

TBytes MetadataBody(const std::vector<TRecord> &Records)
{
  TBytes body;
  ByteWriter w(body);
  w.U16LE(static_cast<std::uint16_t>(Records.size()));
  for (const TRecord &r : Records) {
    w.U16LE(r.Frame->LanguageIndex).U16LE(r.Frame->StreamNumber).U16LE(static_cast<std::uint16_t>(r.Name.size()));
    w.U16LE(StoredType(r.Frame->Format)).U32LE(static_cast<std::uint32_t>(r.Value.size())).Append(r.Name).Append(r.Value);
  }
  return body;
}

std::span<const std::uint8_t> ObjectBytes(std::span<const std::uint8_t> Header, const TASFObjectPlace &O)
{
  return Header.subspan(static_cast<std::size_t>(O.Offset), static_cast<std::size_t>(O.Size));
}

// The Header Extension's data: its objects with the Metadata objects replaced.
TBytes ExtensionData(std::span<const std::uint8_t> Header, const TASFHeader &Layout, const TPlacer &P)
{
  TBytes data;
  bool metadataPlaced = false, libraryPlaced = false;
  for (const TASFObjectPlace &o : Layout.ExtensionObjects) {
    if (o.ID == kASFMetadata || o.ID == kASFMetadataLibrary) {
      bool &placed = o.ID == kASFMetadata ? metadataPlaced : libraryPlaced;
      const std::vector<TRecord> &records = o.ID == kASFMetadata ? P.Metadata : P.Library;
      if (!placed) AppendObject(data, o.ID, MetadataBody(records));
      placed = true;
      continue;
    }
    ByteWriter(data).Append(ObjectBytes(Header, o));
  }
  if (!metadataPlaced && !P.Metadata.empty()) AppendObject(data, kASFMetadata, MetadataBody(P.Metadata));
  if (!libraryPlaced && !P.Library.empty()) AppendObject(data, kASFMetadataLibrary, MetadataBody(P.Library));
  return data;
}

TBytes HeaderExtensionBody(std::span<const std::uint8_t> OldObject, const TBytes &Data)
{
  TBytes body;
  ByteWriter w(body);
  if (OldObject.size() >= static_cast<std::size_t>(kASFHeaderExtensionBytes))
    w.Append(OldObject.subspan(kASFObjectHeaderBytes, 18));
  else {
    AppendASFGuid(body, kASFHeaderExtensionReserved1);
    w.U16LE(kASFHeaderExtensionReserved2);
  }
  w.U32LE(static_cast<std::uint32_t>(Data.size())).Append(Data);
  return body;
}

} // namespace

int BuildASFHeader(std::span<const std::uint8_t> OldHeader, const TASFHeader &Layout,
                   std::span<const TWMATagFrame *const> Attributes, std::int64_t OldFileSize, TBytes &Out)
{
  Out.clear();
  TPlacer placer;
  for (const TWMATagFrame *f : Attributes)
    if (const int code = placer.Place(*f); code != asfbOk) return code;
  const bool anyContent = std::any_of(placer.Content.begin(), placer.Content.end(), [](const auto &f) { return f.has_value(); });
  const bool needExtension = !placer.Metadata.empty() || !placer.Library.empty();

  TBytes objects;
  std::uint32_t count = 0;
  std::int64_t fileSizeField = -1;
  bool contentPlaced = false, extendedPlaced = false;
  const auto emit = [&](const TASFGuid &ID, const TBytes &Body) {
    AppendObject(objects, ID, Body);
    ++count;
  };
  for (const TASFObjectPlace &o : Layout.Objects) {
    const std::span<const std::uint8_t> old = ObjectBytes(OldHeader, o);
    if (o.ID == kASFContentDescription) {
      if (!contentPlaced) emit(o.ID, ContentDescriptionBody(placer.Content));
      contentPlaced = true;
    } else if (o.ID == kASFExtendedContentDescription) {
      if (!extendedPlaced) emit(o.ID, ExtendedContentBody(placer.Extended));
      extendedPlaced = true;
    } else if (o.ID == kASFHeaderExtension) {
      const TBytes data = ExtensionData(OldHeader, Layout, placer);
      if (data.size() > std::numeric_limits<std::uint32_t>::max()) return asfbTooLarge;
      emit(o.ID, HeaderExtensionBody(old, data));
    } else {
      if (o.ID == kASFFileProperties && fileSizeField < 0)
        fileSizeField = static_cast<std::int64_t>(objects.size()) + kASFObjectHeaderBytes + kASFFileSizeFieldInBody;
      ByteWriter(objects).Append(old);
      ++count;
    }
  }
  if (!contentPlaced && anyContent) emit(kASFContentDescription, ContentDescriptionBody(placer.Content));
  if (!extendedPlaced && !placer.Extended.empty()) emit(kASFExtendedContentDescription, ExtendedContentBody(placer.Extended));
  if (Layout.Extension < 0 && needExtension) emit(kASFHeaderExtension, HeaderExtensionBody({}, ExtensionData(OldHeader, Layout, placer)));

  const std::int64_t newSize = kASFHeaderObjectBytes + static_cast<std::int64_t>(objects.size());
  if (newSize > kASFMaxHeaderBytes) return asfbTooLarge;
  if (fileSizeField >= 0 && (Layout.File.Flags & kASFFlagBroadcast) == 0) {
    const TBytes size = EncodeUInt(static_cast<std::uint64_t>(OldFileSize - Layout.Size + newSize), 8, false);
    std::copy(size.begin(), size.end(), objects.begin() + fileSizeField);
  }
  Out.reserve(static_cast<std::size_t>(newSize));
  AppendASFGuid(Out, kASFHeaderObject);
  ByteWriter(Out).U64LE(static_cast<std::uint64_t>(newSize)).U32LE(count).U8(Layout.Reserved1).U8(Layout.Reserved2).Append(objects);
  return asfbOk;
}
