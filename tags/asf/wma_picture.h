#pragma once
// The "WM/Picture" attribute in its two forms.
//
// On disk (the value of the attribute in an ASF file): the picture type byte (ID3v2 picture
// type, 3 = front cover), the picture data length (32-bit little-endian), the MIME type and the
// description (each UTF-16LE ended by a zero character), then the data.
//
// In memory (the value TWMATagFrame holds, the media runtime's picture record laid out without
// padding): the address of the MIME type (4 bytes), the picture type (1), the address of the
// description (4), the data length (4), the address of the data (4), then the MIME type, the
// description and the data as on disk. An address is meaningless in a file and does not fit
// 32 bits on a 64-bit machine: the three address fields hold zeros, and are dropped when the
// record is turned back into the disk form. The two forms carry the same bytes otherwise, so a
// picture read and written back is unchanged byte for byte.
//
// No length is trusted: a record whose strings are not terminated, or whose data length
// claims more bytes than follow the strings, is not a picture (bytes after the data are
// tolerated and kept).

#include <cstdint>
#include <span>
#include <string>

#include "tags/streams/stream.h"

constexpr std::size_t kWMAPictureRecordHeaderBytes = 17;
constexpr std::size_t kWMAPictureStoredHeaderBytes = 5;

// The parts of a picture record; Data points into the record.
struct TWMAPictureParts {
  std::uint8_t PictureType = 0;
  std::string MIMEType;
  std::string Description;
  std::span<const std::uint8_t> Data;
};

// The record of a value as stored; false (Record empty) when it is shorter than the stored
// header.
bool WMAPictureRecordFromStored(std::span<const std::uint8_t> Stored, TBytes &Record);
// The stored value of a record; false (Stored empty) when it is shorter than the record header.
bool WMAPictureStoredFromRecord(std::span<const std::uint8_t> Record, TBytes &Stored);
// Splits a record; false when it is not a well-formed picture (see above).
bool ParseWMAPictureRecord(std::span<const std::uint8_t> Record, TWMAPictureParts &Parts);
// A record with zero addresses.
TBytes BuildWMAPictureRecord(std::uint8_t PictureType, const std::string &MIMEType, const std::string &Description,
                             std::span<const std::uint8_t> Data);
