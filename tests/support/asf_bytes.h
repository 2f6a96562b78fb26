#pragma once
// Byte builders for ASF files (the Advanced Systems Format layout the tests of tags/asf build
// inline): objects with their GUID and size, the header objects the tag reads, a Header
// Extension, a Data object, and a whole file. Sizes and counts are computed; a test that needs a
// hostile field writes or patches it itself.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tags/asf/asf_guids.h"
#include "tests/support/test_support.h"

// UTF-16LE of Text (UTF-8), with a zero character after it when Terminated.
Bytes ASFUtf16(std::string_view Text, bool Terminated = true);
// GUID, 64-bit size (24 + body), body.
Bytes ASFObject(const TASFGuid &ID, const Bytes &Body);
// File Properties: the given file size, play duration (100 ns), preroll (ms) and flags;
// maximum bit rate 128000.
Bytes ASFFileProperties(std::uint64_t FileSize, std::uint64_t PlayDuration, std::uint64_t Preroll, std::uint32_t Flags);
// An audio Stream Properties object (stream 1) with a WAVEFORMATEX of format tag 0x161.
Bytes ASFAudioStream(std::uint16_t Channels, std::uint32_t SampleRate, std::uint32_t AvgBytesPerSec,
                     std::uint16_t BitsPerSample);
// A Codec List of one audio codec.
Bytes ASFCodecList(std::string_view Name, std::string_view Description);
// Content Description of the five texts (Title, Author, Copyright, Description, Rating), each
// terminated; an empty text takes no bytes.
Bytes ASFContentDescription(const std::vector<std::string> &Fields);
// One Extended Content Description descriptor, or one Metadata (Library) record.
struct TASFDescriptorBytes {
  std::string Name;
  std::uint16_t Type = 0;  // stored type number: 0 string ... 6 GUID
  Bytes8 Value;
  std::uint16_t Stream = 0;
  std::uint16_t Language = 0;
};
Bytes ASFExtendedContent(const std::vector<TASFDescriptorBytes> &Descriptors);
// A Metadata (Library false) or Metadata Library object.
Bytes ASFMetadataObject(bool Library, const std::vector<TASFDescriptorBytes> &Records);
// A Header Extension holding Objects.
Bytes ASFHeaderExtension(const std::vector<Bytes> &Objects);
// A Data object with Payload after its fixed 26 bytes.
Bytes ASFDataObject(const Bytes &Payload);
// A Header object of Objects (Count, when given, replaces the object count), then Data, then
// Trailing (an index).
Bytes ASFFile(const std::vector<Bytes> &Objects, const Bytes &Data, const Bytes &Trailing = Bytes(), std::int64_t Count = -1);
// A small well-formed file: File Properties, an audio stream, a Codec List, then Extra objects.
Bytes ASFMinimalFile(const std::vector<Bytes> &Extra);
