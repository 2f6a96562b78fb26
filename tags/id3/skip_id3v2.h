#pragma once
// The ID3v2 tag header ("ID3", version, flags, 28-bit synchronisation-safe size; a version 2.4
// footer adds 10 bytes) and the extent of a tag at the start of a stream, used to find where
// audio or a container header begins behind a prepended tag. ParseID3v2Header is the one
// decoder of the 10-byte header; the ID3v2 tag reader and writer use it too.

#include <cstddef>
#include <cstdint>

#include "tags/streams/stream.h"

constexpr std::size_t kID3v2HeaderSize = 10;
// Largest value of the 28-bit size field: the body of a tag can hold no more.
constexpr std::int64_t kID3v2MaxBodySize = 0x0FFFFFFF;

struct TID3v2HeaderFields {
  std::uint8_t MajorVersion = 0;
  std::uint8_t Revision = 0;
  std::uint8_t Flags = 0;
  std::int64_t BodySize = 0;       // the size field, each byte's top bit ignored
  bool SizeIsSynchsafe = false;    // no size byte had its top bit set
  bool FooterPresent = false;      // version 2.4 and later with flag bit 4
  std::int64_t TotalSize = 0;      // header + body + footer
};

// Decodes the header at Header; false when fewer than 10 bytes are given or they do not start
// with "ID3". Nothing else is judged here: callers decide which versions they accept.
bool ParseID3v2Header(const std::uint8_t *Header, std::size_t Size, TID3v2HeaderFields &Out);

// Size of the ID3v2 tag at position 0 including header and footer; 0 when there is none or
// when the header is not a valid one. The size is clamped to the stream: never past its end.
std::int64_t SkipID3v2(TStream &Stream);
// ID3v2 tags one after another that a stream may carry in front of its audio (FLAC, Ogg).
constexpr int kMaxLeadingID3v2Tags = 16;
// Where the run of ID3v2 tags at the start of Stream ends: each tag counts when it lies within
// the stream, at most kMaxLeadingID3v2Tags of them. False (End where the run got to) when the
// stream cannot be read.
bool SkipLeadingID3v2Tags(TStream &Stream, std::int64_t &End);
// The same over the first bytes of a stream (at least 10 for a result other than 0).
std::int64_t ID3v2TagSizeFromHeader(const std::uint8_t *Header, std::size_t Size);
