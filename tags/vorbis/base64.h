#pragma once
// Base64 with the standard alphabet of RFC 4648 (section 4) and "=" padding, as Ogg comments
// carry pictures and binary values in it.
// Encoding writes 4 characters per 3 bytes, padded, without line breaks.
// Decoding is strict about content and lenient about layout: white space (space, TAB, CR, LF,
// VT, FF) anywhere is skipped, so text wrapped in CR LF lines decodes as if unwrapped; a last
// group of 2 or 3 characters may lack its padding. Any other character outside the alphabet, a
// "=" inside the text, a lone character in the last group, or anything but white space after
// the padding rejects the whole text. Output never exceeds 3/4 of the input size.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "tags/streams/stream.h"

std::string Base64Encode(std::span<const std::uint8_t> Bytes);
std::string Base64Encode(std::string_view Bytes);
// The decoded bytes in Out; false (Out emptied) when Text is not base64.
bool Base64Decode(std::string_view Text, TBytes &Out);
// For plain base64 (alphabet characters only, a length that is a multiple of 4, at most two "="
// at the end): the size Base64Decode gives, found without decoding; -1 for any other text
// (which may still decode, white space and all: Base64Decode tells).
std::int64_t PlainBase64DecodedSize(std::string_view Text);
