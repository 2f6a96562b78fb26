#pragma once
// The GUIDs of the ASF objects and stream types this library reads or writes, in one table. A
// GUID is kept as its 16 bytes in file order: the first three groups little-endian, the last
// eight bytes as written. ASFGuid turns the usual text form into those bytes at compile time,
// so each entry below reads in that familiar form.

#include <array>
#include <cstdint>
#include <string>

#include "tags/streams/byte_reader.h"
#include "tags/streams/stream.h"

using TASFGuid = std::array<std::uint8_t, 16>;

namespace asf_detail {
constexpr std::uint8_t HexDigit(char C)
{
  return C >= '0' && C <= '9' ? static_cast<std::uint8_t>(C - '0')
         : C >= 'A' && C <= 'F' ? static_cast<std::uint8_t>(C - 'A' + 10)
         : C >= 'a' && C <= 'f' ? static_cast<std::uint8_t>(C - 'a' + 10)
                                : throw "not a hexadecimal digit";
}
constexpr std::uint8_t HexByte(const char *Text, int At) { return static_cast<std::uint8_t>(HexDigit(Text[At]) << 4 | HexDigit(Text[At + 1])); }
} // namespace asf_detail

// "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" as the 16 bytes ASF stores.
constexpr TASFGuid ASFGuid(const char (&Text)[37])
{
  using asf_detail::HexByte;
  return TASFGuid{HexByte(Text, 6),  HexByte(Text, 4),  HexByte(Text, 2),  HexByte(Text, 0),
                  HexByte(Text, 11), HexByte(Text, 9),  HexByte(Text, 16), HexByte(Text, 14),
                  HexByte(Text, 19), HexByte(Text, 21), HexByte(Text, 24), HexByte(Text, 26),
                  HexByte(Text, 28), HexByte(Text, 30), HexByte(Text, 32), HexByte(Text, 34)};
}

// Top-level objects.
inline constexpr TASFGuid kASFHeaderObject = ASFGuid("75B22630-668E-11CF-A6D9-00AA0062CE6C");
inline constexpr TASFGuid kASFDataObject = ASFGuid("75B22636-668E-11CF-A6D9-00AA0062CE6C");
// Header objects.
inline constexpr TASFGuid kASFFileProperties = ASFGuid("8CABDCA1-A947-11CF-8EE4-00C00C205365");
inline constexpr TASFGuid kASFStreamProperties = ASFGuid("B7DC0791-A9B7-11CF-8EE6-00C00C205365");
inline constexpr TASFGuid kASFHeaderExtension = ASFGuid("5FBF03B5-A92E-11CF-8EE3-00C00C205365");
inline constexpr TASFGuid kASFCodecList = ASFGuid("86D15240-311D-11D0-A3A4-00A0C90348F6");
inline constexpr TASFGuid kASFScriptCommand = ASFGuid("1EFB1A30-0B62-11D0-A39B-00A0C90348F6");
inline constexpr TASFGuid kASFContentDescription = ASFGuid("75B22633-668E-11CF-A6D9-00AA0062CE6C");
inline constexpr TASFGuid kASFExtendedContentDescription = ASFGuid("D2D0A440-E307-11D2-97F0-00A0C95EA850");
inline constexpr TASFGuid kASFStreamBitrateProperties = ASFGuid("7BF875CE-468D-11D1-8D82-006097C9A2B2");
inline constexpr TASFGuid kASFContentEncryption = ASFGuid("2211B3FB-BD23-11D2-B4B7-00A0C955FC6E");
inline constexpr TASFGuid kASFExtendedContentEncryption = ASFGuid("298AE614-2622-4C17-B935-DAE07EE9289C");
inline constexpr TASFGuid kASFPadding = ASFGuid("1806D474-CADF-4509-A4BA-9AABCB96AAE8");
// Header Extension objects, and the fixed first reserved field of the Header Extension.
inline constexpr TASFGuid kASFMetadata = ASFGuid("C5F8CBEA-5BAF-4877-8467-AA8C44FA4CCA");
inline constexpr TASFGuid kASFMetadataLibrary = ASFGuid("44231C94-9498-49D1-A141-1D134E457054");
inline constexpr TASFGuid kASFHeaderExtensionReserved1 = ASFGuid("ABD3D211-A9BA-11CF-8EE6-00C00C205365");
// Stream types of the Stream Properties object.
inline constexpr TASFGuid kASFAudioMedia = ASFGuid("F8699E40-5B4D-11CF-A8FD-00805F5C442B");
inline constexpr TASFGuid kASFVideoMedia = ASFGuid("BC19EFC0-5B4D-11CF-A8FD-00805F5C442B");
inline constexpr TASFGuid kASFCommandMedia = ASFGuid("59DACFC0-59E6-11D0-A3AC-00A0C90348F6");
inline constexpr TASFGuid kASFJFIFMedia = ASFGuid("B61BE100-5B4E-11CF-A8FD-00805F5C442B");
inline constexpr TASFGuid kASFDegradableJPEGMedia = ASFGuid("35907DE0-E415-11CF-A917-00805F5C442B");
inline constexpr TASFGuid kASFFileTransferMedia = ASFGuid("91BD222C-F21C-497A-8B6D-5AA86BFC0185");
inline constexpr TASFGuid kASFBinaryMedia = ASFGuid("3AFB65E2-47EF-40F2-AC2C-70A90D71D343");

// The Header Extension's second reserved field, which the format fixes at 6.
constexpr std::uint16_t kASFHeaderExtensionReserved2 = 6;

bool ReadASFGuid(ByteReader &In, TASFGuid &Out);
void AppendASFGuid(TBytes &Out, const TASFGuid &Guid);
// The GUID in the braced text form {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, upper case.
std::string ASFGuidText(const TASFGuid &Guid);
