#pragma once
// The text rules of the WAV tag chunks (LIST/INFO values, the fixed fields and free texts of
// "bext" and "cart"). Stored text is UTF-8 when it is valid UTF-8, else the single-byte code
// page of the Windows programs that wrote such files (Windows-1252, see tags/text/text.h).
// Text is written in UTF-8: it is the system encoding here, and what other readers of INFO
// (ffmpeg among them) take the bytes to be; ASCII text is the same bytes either way.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "tags/streams/stream.h"

// Stored bytes as text: UTF-8 when valid, else the code page.
std::string DecodeWAVText(std::string_view Bytes);
std::string DecodeWAVText(std::span<const std::uint8_t> Bytes);
// The bytes before the trailing zero bytes of a stored value (terminators), and those decoded:
// only trailing zeros go, so a value stored without a terminator keeps its last character.
std::string_view WithoutTrailingZeros(std::span<const std::uint8_t> Bytes);
std::string DecodeTerminatedWAVText(std::span<const std::uint8_t> Bytes);
// Text as it is stored (no terminator): its UTF-8 bytes.
std::string EncodeWAVText(std::string_view Text);

// A fixed field: the bytes up to its first zero byte (or all of it), decoded.
std::string ReadFixedText(std::span<const std::uint8_t> Field);
// Zero-fills the field and stores the text in it: its UTF-8 bytes, cut to the field without
// splitting a character; a zero byte in the text ends the copy.
void WriteFixedText(std::span<std::uint8_t> Field, std::string_view Text);
