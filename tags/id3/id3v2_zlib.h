#pragma once
// zlib (RFC 1950) compression of ID3v2 frame data: inflating compressed frames on reading with
// a bounded output, deflating at the highest level on writing.

#include <cstdint>
#include <span>

#include "tags/streams/stream.h"

// No frame is ever inflated beyond this, whatever it declares.
constexpr std::uint64_t kMaxInflatedFrameBytes = 64ull << 20;

// Inflates Data into Out. Fails (Out emptied) on a zlib error, on a stream that does not end,
// and when the output would exceed Limit bytes.
bool InflateID3v2Data(std::span<const std::uint8_t> Data, std::uint64_t Limit, TBytes &Out);
bool DeflateID3v2Data(std::span<const std::uint8_t> Data, TBytes &Out);
