#pragma once
// The "EVNT" chunk some recorders write into WAVE files: a run of event records of 24 bytes
// (event id, parameter type, stream number, 64-bit audio offset, wParam, lParam; little-endian).
// A record of event 3 (a token) or 4 (a bookmark) with a non-zero wParam is followed by wParam
// bytes of data, then by filler up to the next multiple of 4 from the chunk's start and 2 bytes
// more. The chunk is only read; a save copies it unchanged.
//
// Invariants: nothing is read past the chunk; the number of records is bounded by the chunk's
// size (24 bytes each) and every data length by the bytes left in it.

#include <cstdint>
#include <vector>

#include "tags/streams/byte_reader.h"
#include "tags/streams/stream.h"

constexpr std::size_t kSPEventRecordBytes = 24;

struct TSPEVENT {
  std::uint16_t EventID = 0;
  std::uint16_t ParamType = 0;
  std::uint32_t StreamNumber = 0;
  std::uint64_t AudioStreamOffset = 0;
  std::uint32_t wParam = 0;
  std::uint32_t lParam = 0;
  TBytes TOKENDATA;
  TBytes BOOKMARK;
};

struct TEVNT {
  bool Loaded = false;
  std::vector<TSPEVENT> SPEVENTS;
  void Clear() { *this = TEVNT(); }
};

// Reads the chunk's data into Out (Loaded set). False when a record or its data runs past the
// chunk: the records before it are kept.
bool ReadEVNT(ByteReader In, TEVNT &Out);
