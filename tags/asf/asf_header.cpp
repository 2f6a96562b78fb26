#include "tags/asf/asf_header.h"

#include <algorithm>
#include <array>

#include "tags/asf/wma_picture.h"
#include "tags/streams/read_view.h"

namespace {

// The smallest record of each attribute object: an Extended Content Description descriptor
// (name length, type, value length) and a Metadata (Library) record (four words and a dword).
constexpr std::size_t kDescriptorMinBytes = 6;
constexpr std::size_t kMetadataRecordMinBytes = 12;
// The smallest Codec List entry: type and three lengths.
constexpr std::size_t kCodecEntryMinBytes = 8;
constexpr std::size_t kStreamBitrateRecordBytes = 6;
// Stream Properties: two GUIDs, time offset, two lengths, flags, reserved.
constexpr std::size_t kStreamPropertiesFixedBytes = 54;
constexpr std::size_t kWaveFormatBytes = 16;

const std::array<const char *, 5> kContentDescriptionNames = {"Title", "Author", "Copyright", "Description", "Rating"};

ByteReader BodyOf(const ByteReader &Header, const TASFObjectPlace &Object)
{
  return ByteReader(Header.Data() + Object.Offset + kASFObjectHeaderBytes,
                    static_cast<std::size_t>(Object.Size - kASFObjectHeaderBytes));
}

// The objects one after another in In, whose first byte is at file offset Base. False when an
// object's size breaks out of In or bytes are left over that hold no object.
bool WalkObjects(ByteReader In, std::int64_t Base, std::vector<TASFObjectPlace> &Out)
{
  while (In.Remaining() >= static_cast<std::size_t>(kASFObjectHeaderBytes)) {
    const std::size_t at = In.Position();
    TASFObjectPlace o;
    std::uint64_t size = 0;
    if (!ReadASFGuid(In, o.ID) || !In.ReadU64LE(size)) return false;
    if (size < static_cast<std::uint64_t>(kASFObjectHeaderBytes) || !In.Skip(size - kASFObjectHeaderBytes)) return false;
    o.Offset = Base + static_cast<std::int64_t>(at);
    o.Size = static_cast<std::int64_t>(size);
    Out.push_back(o);
  }
  return In.AtEnd();
}

// A name or string of Length bytes of UTF-16LE.
bool ReadUtf16(ByteReader &In, std::uint64_t Length, std::string &Text)
{
  std::span<const std::uint8_t> bytes;
  if (!In.ReadSpan(Length, bytes)) return false;
  Text = WMTStringText(bytes);
  return true;
}

// The WMT type of a stored type number; GUID only in the Metadata objects.
bool MapStoredType(std::uint16_t Stored, bool MetadataObject, WMT_ATTR_DATATYPE &Format)
{
  static constexpr WMT_ATTR_DATATYPE kByStored[] = {WMT_TYPE_STRING, WMT_TYPE_BINARY, WMT_TYPE_BOOL, WMT_TYPE_DWORD,
                                                    WMT_TYPE_QWORD,  WMT_TYPE_WORD,   WMT_TYPE_GUID};
  if (Stored > 6 || (Stored == 6 && !MetadataObject)) return false;
  Format = kByStored[Stored];
  return true;
}

class TAttributeReader {
public:
  explicit TAttributeReader(TASFHeader &Header) : FHeader(Header) {}

  // Adds one stored attribute; false when its value breaks the rules of its type.
  bool Add(std::string Name, WMT_ATTR_DATATYPE Format, std::span<const std::uint8_t> Value, std::uint16_t Stream,
           std::uint16_t Language, TASFAttributeOrigin Origin)
  {
    TWMATagFrame f;
    f.Name = std::move(Name);
    f.Format = Format;
    f.StreamNumber = Stream;
    f.LanguageIndex = Language;
    f.Origin = Origin;
    const std::size_t fixed = WMTFixedValueSize(Format);
    if (Format == WMT_TYPE_BOOL && (Value.size() == 2 || Value.size() == 4)) {
      // The Metadata objects store a BOOL in a word, the Extended Content Description in a dword.
      f.Stream.assign(Value.begin(), Value.end());
      f.Stream.resize(4, 0);
    } else if (fixed != 0 && Value.size() != fixed) {
      return false;
    } else if (Format == WMT_TYPE_BINARY && f.IsCoverArt()) {
      TWMAPictureParts parts;
      if (!WMAPictureRecordFromStored(Value, f.Stream) || !ParseWMAPictureRecord(f.Stream, parts)) {
        if (f.Stream.empty()) f.Stream.assign(Value.begin(), Value.end());
        Bucket(Origin).push_back(std::move(f));
        return false;
      }
    } else {
      f.Stream.assign(Value.begin(), Value.end());
    }
    // The media runtime reports no attribute with an empty value.
    if (!f.Stream.empty()) Bucket(Origin).push_back(std::move(f));
    return true;
  }

  void Finish()
  {
    for (auto *list : {&FContent, &FExtended, &FMetadata, &FLibrary})
      for (TWMATagFrame &f : *list) FHeader.Attributes.push_back(std::move(f));
  }

private:
  std::vector<TWMATagFrame> &Bucket(TASFAttributeOrigin Origin)
  {
    switch (Origin) {
    case aoContentDescription: return FContent;
    case aoExtendedContentDescription: return FExtended;
    case aoMetadata: return FMetadata;
    default: return FLibrary;
    }
  }
  TASFHeader &FHeader;
  std::vector<TWMATagFrame> FContent, FExtended, FMetadata, FLibrary;
};

bool ReadContentDescription(ByteReader In, TAttributeReader &Out)
{
  std::array<std::uint16_t, 5> lengths{};
  for (std::uint16_t &l : lengths)
    if (!In.ReadU16LE(l)) return false;
  for (std::size_t i = 0; i < lengths.size(); ++i) {
    std::span<const std::uint8_t> value;
    if (!In.ReadSpan(lengths[i], value)) return false;
    if (!WMTStringText(value).empty())
      Out.Add(kContentDescriptionNames[i], WMT_TYPE_STRING, value, 0, 0, aoContentDescription);
  }
  return In.AtEnd();
}

bool ReadExtendedContentDescription(ByteReader In, TAttributeReader &Out)
{
  std::uint16_t count = 0;
  if (!In.ReadU16LE(count)) return false;
  bool sound = count <= In.Remaining() / kDescriptorMinBytes;
  for (std::uint16_t i = 0; i < count; ++i) {
    std::uint16_t nameLength = 0, type = 0, valueLength = 0;
    std::string name;
    std::span<const std::uint8_t> value;
    if (!In.ReadU16LE(nameLength) || !ReadUtf16(In, nameLength, name) || !In.ReadU16LE(type) ||
        !In.ReadU16LE(valueLength) || !In.ReadSpan(valueLength, value))
      return false;
    WMT_ATTR_DATATYPE format = WMT_TYPE_UNKNOWN;
    if (!MapStoredType(type, false, format)) {
      sound = false;
      continue;
    }
    if (!Out.Add(std::move(name), format, value, 0, 0, aoExtendedContentDescription)) sound = false;
  }
  return sound && In.AtEnd();
}

// The Metadata object (Library false) or the Metadata Library object.
bool ReadMetadataRecords(ByteReader In, bool Library, TAttributeReader &Out)
{
  std::uint16_t count = 0;
  if (!In.ReadU16LE(count)) return false;
  bool sound = count <= In.Remaining() / kMetadataRecordMinBytes;
  for (std::uint16_t i = 0; i < count; ++i) {
    std::uint16_t language = 0, stream = 0, nameLength = 0, type = 0;
    std::uint32_t dataLength = 0;
    std::string name;
    std::span<const std::uint8_t> value;
    if (!In.ReadU16LE(language) || !In.ReadU16LE(stream) || !In.ReadU16LE(nameLength) || !In.ReadU16LE(type) ||
        !In.ReadU32LE(dataLength) || !ReadUtf16(In, nameLength, name) || !In.ReadSpan(dataLength, value))
      return false;
    WMT_ATTR_DATATYPE format = WMT_TYPE_UNKNOWN;
    if (!MapStoredType(type, true, format)) {
      sound = false;
      continue;
    }
    if (!Out.Add(std::move(name), format, value, stream, language, Library ? aoMetadataLibrary : aoMetadata)) sound = false;
  }
  return sound && In.AtEnd();
}

bool ReadFileProperties(ByteReader In, TASFFileProperties &File)
{
  std::uint64_t creation = 0, packets = 0;
  std::uint32_t minPacket = 0, maxPacket = 0;
  if (!In.Skip(16) || !In.ReadU64LE(File.FileSize) || !In.ReadU64LE(creation) || !In.ReadU64LE(packets) ||
      !In.ReadU64LE(File.PlayDuration) || !In.ReadU64LE(File.SendDuration) || !In.ReadU64LE(File.Preroll) ||
      !In.ReadU32LE(File.Flags) || !In.ReadU32LE(minPacket) || !In.ReadU32LE(maxPacket) || !In.ReadU32LE(File.MaxBitrate))
    return false;
  File.Found = true;
  return true;
}

// Stream types and the first audio stream's format; a malformed object is skipped (it is not
// ours and is copied as it is).
void ReadStreamProperties(ByteReader In, TASFHeader &H)
{
  TASFGuid type{};
  std::uint32_t typeLength = 0;
  ByteReader specific;
  if (In.Remaining() < kStreamPropertiesFixedBytes || !ReadASFGuid(In, type) || !In.Skip(16 + 8) ||
      !In.ReadU32LE(typeLength) || !In.Skip(4 + 2 + 4) || !In.Take(typeLength, specific))
    return;
  if (type == kASFAudioMedia) H.HasAudio = true;
  else if (type == kASFVideoMedia) H.HasVideo = true;
  else if (type == kASFJFIFMedia || type == kASFDegradableJPEGMedia) H.HasImage = true;
  else if (type == kASFCommandMedia) H.HasScript = true;
  else if (type == kASFFileTransferMedia) H.HasFileTransfer = true;
  else if (type == kASFBinaryMedia) H.HasBinary = true;
  if (type != kASFAudioMedia || H.Audio.Found || specific.Remaining() < kWaveFormatBytes) return;
  TASFAudioProperties &a = H.Audio;
  a.Found = specific.ReadU16LE(a.FormatTag) && specific.ReadU16LE(a.Channels) && specific.ReadU32LE(a.SampleRate) &&
            specific.ReadU32LE(a.AvgBytesPerSec) && specific.ReadU16LE(a.BlockAlign) && specific.ReadU16LE(a.BitsPerSample);
}

void ReadCodecList(ByteReader In, TASFHeader &H)
{
  std::uint32_t count = 0;
  std::uint16_t type = 0, nameChars = 0, descriptionChars = 0;
  if (!In.Skip(16) || !In.ReadU32LE(count) || count == 0 || count > In.Remaining() / kCodecEntryMinBytes) return;
  std::string name, description;
  // Lengths count UTF-16 characters.
  if (!In.ReadU16LE(type) || !In.ReadU16LE(nameChars) || !ReadUtf16(In, 2ULL * nameChars, name) ||
      !In.ReadU16LE(descriptionChars) || !ReadUtf16(In, 2ULL * descriptionChars, description))
    return;
  H.CodecName = name;
  H.CodecDescription = description;
}

void ReadStreamBitrates(ByteReader In, TASFHeader &H)
{
  std::uint16_t count = 0;
  if (!In.ReadU16LE(count) || count > In.Remaining() / kStreamBitrateRecordBytes) return;
  for (std::uint16_t i = 0; i < count; ++i) {
    std::uint16_t flags = 0;
    std::uint32_t bitrate = 0;
    if (In.ReadU16LE(flags) && In.ReadU32LE(bitrate)) H.StreamBitrateSum += bitrate;
  }
}

// The Header Extension: its fixed part and the objects of its data; false when a size breaks.
bool ReadHeaderExtension(const ByteReader &Header, const TASFObjectPlace &Object, TASFHeader &H, TAttributeReader &Out)
{
  ByteReader in = BodyOf(Header, Object);
  std::uint16_t reserved2 = 0;
  std::uint32_t dataSize = 0;
  ByteReader data;
  if (!in.Skip(16) || !in.ReadU16LE(reserved2) || !in.ReadU32LE(dataSize) || !in.Take(dataSize, data)) return false;
  bool sound = in.AtEnd();
  if (!WalkObjects(data, Object.Offset + kASFHeaderExtensionBytes, H.ExtensionObjects)) sound = false;
  for (const TASFObjectPlace &o : H.ExtensionObjects) {
    if (o.ID == kASFMetadata && !ReadMetadataRecords(BodyOf(Header, o), false, Out)) sound = false;
    if (o.ID == kASFMetadataLibrary && !ReadMetadataRecords(BodyOf(Header, o), true, Out)) sound = false;
  }
  return sound;
}

} // namespace

bool StartsWithASFHeader(std::span<const std::uint8_t> Bytes)
{
  return Bytes.size() >= kASFHeaderObject.size() && std::equal(kASFHeaderObject.begin(), kASFHeaderObject.end(), Bytes.begin());
}

int ReadASFHeader(TReadView &View, TASFHeader &Out)
{
  Out = TASFHeader();
  const std::int64_t fileSize = View.GetSize();
  ByteReader start;
  std::uint64_t size = 0;
  if (!View.Range(0, kASFHeaderObjectBytes, start) || !StartsWithASFHeader(start.Rest()) || !start.Skip(16) ||
      !start.ReadU64LE(size) || !start.ReadU32LE(Out.ObjectCount) || !start.ReadU8(Out.Reserved1) ||
      !start.ReadU8(Out.Reserved2))
    return asfrNotASF;
  if (size < static_cast<std::uint64_t>(kASFHeaderObjectBytes) || size > static_cast<std::uint64_t>(kASFMaxHeaderBytes)) {
    Out.Damaged = true;
    return asfrDamaged;
  }
  Out.Size = static_cast<std::int64_t>(size);
  // A header running past the end of the file is read as far as the file goes.
  if (Out.Size > fileSize) Out.Damaged = true;
  ByteReader header;
  if (!View.Range(0, std::min(Out.Size, fileSize), header)) {
    Out.Damaged = true;
    return asfrDamaged;
  }
  ByteReader objects(header.Data() + kASFHeaderObjectBytes, header.Size() - kASFHeaderObjectBytes);
  if (!WalkObjects(objects, kASFHeaderObjectBytes, Out.Objects) || Out.Objects.size() != Out.ObjectCount) Out.Damaged = true;

  TAttributeReader attributes(Out);
  int fileProperties = 0;
  for (std::size_t i = 0; i < Out.Objects.size(); ++i) {
    const TASFObjectPlace &o = Out.Objects[i];
    const ByteReader body = BodyOf(header, o);
    if (o.ID == kASFFileProperties) {
      if (++fileProperties == 1 && !ReadFileProperties(body, Out.File)) Out.Damaged = true;
    } else if (o.ID == kASFStreamProperties) {
      ReadStreamProperties(body, Out);
    } else if (o.ID == kASFCodecList) {
      if (Out.CodecName.empty() && Out.CodecDescription.empty()) ReadCodecList(body, Out);
    } else if (o.ID == kASFStreamBitrateProperties) {
      ReadStreamBitrates(body, Out);
    } else if (o.ID == kASFContentDescription) {
      if (!ReadContentDescription(body, attributes)) Out.Damaged = true;
    } else if (o.ID == kASFExtendedContentDescription) {
      if (!ReadExtendedContentDescription(body, attributes)) Out.Damaged = true;
    } else if (o.ID == kASFHeaderExtension) {
      if (Out.Extension >= 0 || !ReadHeaderExtension(header, o, Out, attributes)) Out.Damaged = true;
      if (Out.Extension < 0) Out.Extension = static_cast<int>(i);
    } else if (o.ID == kASFContentEncryption || o.ID == kASFExtendedContentEncryption) {
      Out.Protected = true;
    }
  }
  attributes.Finish();
  if (fileProperties != 1) Out.Damaged = true;
  // Everything after the header is copied as it is on a save; it must start with the data.
  ByteReader data;
  if (!View.Range(Out.Size, static_cast<std::int64_t>(kASFDataObject.size()), data) ||
      !std::equal(kASFDataObject.begin(), kASFDataObject.end(), data.Rest().begin()))
    Out.Damaged = true;
  return Out.Damaged ? asfrDamaged : asfrOk;
}
