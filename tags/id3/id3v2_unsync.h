#pragma once
// ID3v2 unsynchronisation (ID3v2.3.0 section 5, ID3v2.4.0 structure section 6.1): on writing a
// 00 byte is inserted after every FF that is followed by 00 or by a byte of the form 111xxxxx,
// and after an FF that ends the block, so that no false MPEG sync appears inside a tag; reading
// drops every 00 that directly follows an FF. Versions 2.2 and 2.3 apply it to the whole tag
// body, version 2.4 to each frame's data on its own.

#include <cstdint>
#include <span>

#include "tags/streams/stream.h"

TBytes RemoveID3v2Unsynchronisation(std::span<const std::uint8_t> Data);
TBytes ApplyID3v2Unsynchronisation(std::span<const std::uint8_t> Data);
// True when applying unsynchronisation would change the bytes.
bool ID3v2NeedsUnsynchronisation(std::span<const std::uint8_t> Data);
