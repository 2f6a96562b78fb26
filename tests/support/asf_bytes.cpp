#include "tests/support/asf_bytes.h"

#include "tags/text/text.h"

Bytes ASFUtf16(std::string_view Text, bool Terminated)
{
  Bytes b;
  for (const char16_t u : Utf8ToUtf16(Text)) b.U16LE(u);
  if (Terminated) b.U16LE(0);
  return b;
}

Bytes ASFObject(const TASFGuid &ID, const Bytes &Body)
{
  Bytes b;
  b.v.assign(ID.begin(), ID.end());
  return b.U64LE(24 + Body.size()).Append(Body);
}

Bytes ASFFileProperties(std::uint64_t FileSize, std::uint64_t PlayDuration, std::uint64_t Preroll, std::uint32_t Flags)
{
  Bytes body;
  body.Fill(16, 0xAB).U64LE(FileSize).U64LE(0x01D0000000000000ULL).U64LE(3).U64LE(PlayDuration).U64LE(PlayDuration);
  body.U64LE(Preroll).U32LE(Flags).U32LE(3200).U32LE(3200).U32LE(128000);
  return ASFObject(kASFFileProperties, body);
}

Bytes ASFAudioStream(std::uint16_t Channels, std::uint32_t SampleRate, std::uint32_t AvgBytesPerSec,
                     std::uint16_t BitsPerSample)
{
  Bytes wave;
  wave.U16LE(0x161).U16LE(Channels).U32LE(SampleRate).U32LE(AvgBytesPerSec).U16LE(2230).U16LE(BitsPerSample).U16LE(0);
  Bytes body;
  body.v.assign(kASFAudioMedia.begin(), kASFAudioMedia.end());
  body.Zeros(16).U64LE(0).U32LE(static_cast<std::uint32_t>(wave.size())).U32LE(0).U16LE(1).U32LE(0).Append(wave);
  return ASFObject(kASFStreamProperties, body);
}

Bytes ASFCodecList(std::string_view Name, std::string_view Description)
{
  const Bytes name = ASFUtf16(Name), description = ASFUtf16(Description);
  Bytes body;
  body.Zeros(16).U32LE(1).U16LE(2).U16LE(static_cast<std::uint16_t>(name.size() / 2)).Append(name);
  body.U16LE(static_cast<std::uint16_t>(description.size() / 2)).Append(description).U16LE(2).U16LE(0x0161);
  return ASFObject(kASFCodecList, body);
}

Bytes ASFContentDescription(const std::vector<std::string> &Fields)
{
  Bytes lengths, texts;
  for (std::size_t i = 0; i < 5; ++i) {
    const Bytes t = i < Fields.size() && !Fields[i].empty() ? ASFUtf16(Fields[i]) : Bytes();
    lengths.U16LE(static_cast<std::uint16_t>(t.size()));
    texts.Append(t);
  }
  return ASFObject(kASFContentDescription, lengths.Append(texts));
}

Bytes ASFExtendedContent(const std::vector<TASFDescriptorBytes> &Descriptors)
{
  Bytes body;
  body.U16LE(static_cast<std::uint16_t>(Descriptors.size()));
  for (const auto &d : Descriptors) {
    const Bytes name = ASFUtf16(d.Name);
    body.U16LE(static_cast<std::uint16_t>(name.size())).Append(name).U16LE(d.Type);
    body.U16LE(static_cast<std::uint16_t>(d.Value.size())).Append(d.Value);
  }
  return ASFObject(kASFExtendedContentDescription, body);
}

Bytes ASFMetadataObject(bool Library, const std::vector<TASFDescriptorBytes> &Records)
{
  Bytes body;
  body.U16LE(static_cast<std::uint16_t>(Records.size()));
  for (const auto &r : Records) {
    const Bytes name = ASFUtf16(r.Name);
    body.U16LE(r.Language).U16LE(r.Stream).U16LE(static_cast<std::uint16_t>(name.size())).U16LE(r.Type);
    body.U32LE(static_cast<std::uint32_t>(r.Value.size())).Append(name).Append(r.Value);
  }
  return ASFObject(Library ? kASFMetadataLibrary : kASFMetadata, body);
}

Bytes ASFHeaderExtension(const std::vector<Bytes> &Objects)
{
  Bytes data;
  for (const Bytes &o : Objects) data.Append(o);
  Bytes body;
  body.v.assign(kASFHeaderExtensionReserved1.begin(), kASFHeaderExtensionReserved1.end());
  body.U16LE(6).U32LE(static_cast<std::uint32_t>(data.size())).Append(data);
  return ASFObject(kASFHeaderExtension, body);
}

Bytes ASFDataObject(const Bytes &Payload)
{
  Bytes body;
  body.Fill(16, 0xAB).U64LE(1).U16LE(0x0101).Append(Payload);
  return ASFObject(kASFDataObject, body);
}

Bytes ASFFile(const std::vector<Bytes> &Objects, const Bytes &Data, const Bytes &Trailing, std::int64_t Count)
{
  Bytes all;
  for (const Bytes &o : Objects) all.Append(o);
  Bytes b;
  b.v.assign(kASFHeaderObject.begin(), kASFHeaderObject.end());
  b.U64LE(30 + all.size()).U32LE(static_cast<std::uint32_t>(Count >= 0 ? Count : static_cast<std::int64_t>(Objects.size())));
  return b.U8(1).U8(2).Append(all).Append(Data).Append(Trailing);
}

Bytes ASFMinimalFile(const std::vector<Bytes> &Extra)
{
  std::vector<Bytes> objects = {ASFFileProperties(0, 30'000'000, 300, 2), ASFAudioStream(2, 44100, 16000, 16),
                                ASFCodecList("Test Codec", "48 kbps")};
  objects.insert(objects.end(), Extra.begin(), Extra.end());
  return ASFFile(objects, ASFDataObject(Bytes().Fill(64, 0x5A)), Bytes().Str("index bytes"));
}
