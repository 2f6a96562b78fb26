#pragma once
// The string layer of ID3v2 frame contents (ID3v2.4.0 native frames section 4, ID3v2.3.0
// section 4): the encoding byte, terminated strings in ISO-8859-1, UTF-16 with a byte-order
// mark, UTF-16BE and UTF-8, and the text-frame layout of an encoding byte followed by strings.
// A UTF-16 string without a mark takes the byte order of the previous string of its frame
// (little-endian for the first); every UTF-16 string written here carries a mark.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tags/id3/id3v2_frame.h"
#include "tags/streams/byte_reader.h"

enum TID3v2EncodingByte : std::uint8_t { ebLatin1 = 0, ebUTF16 = 1, ebUTF16BE = 2, ebUTF8 = 3 };

std::uint8_t ID3v2EncodingByte(TID3v2TextEncoding Encoding);

// One string in encoding Enc from In up to its terminator (skipped) or the end. BigEndian
// carries the UTF-16 byte order from one string to the next. Terminated tells whether a
// terminator ended the string.
std::string ReadID3v2String(ByteReader &In, std::uint8_t Enc, bool &BigEndian, bool &Terminated);
// Appends Text in Enc; UTF-16 (Enc 1) is little-endian with the mark FF FE.
void AppendID3v2String(TBytes &Out, std::string_view Text, std::uint8_t Enc, bool Terminate = true);
// The ISO-8859-1 fields that have no encoding byte of their own (MIME types, URLs, owner and
// element IDs, e-mail addresses).
std::string ReadID3v2Latin1(ByteReader &In);
void AppendID3v2Latin1(TBytes &Out, std::string_view Text, bool Terminate = true);
// The strings up to the end of In, read until one ends without a terminator.
std::vector<std::string> ReadID3v2Strings(ByteReader &In, std::uint8_t Enc);
// Strings of a text frame (encoding byte, then strings; a first byte above 3 means the whole
// data is one ISO-8859-1 text). False for empty data.
bool ReadID3v2TextStrings(std::span<const std::uint8_t> Data, std::uint8_t &Enc, std::vector<std::string> &Strings);
// Encoding byte and every string terminated.
TBytes BuildID3v2TextData(std::uint8_t Enc, const std::vector<std::string> &Strings);
// True when a text frame's data holds no text at all (no strings, or only empty ones).
bool ID3v2TextDataIsEmpty(std::span<const std::uint8_t> Data);
