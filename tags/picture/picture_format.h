#pragma once
// Picture formats: recognising an encoded picture by its first bytes (JPEG, PNG, GIF, BMP,
// TIFF), the MIME types of those formats, and the format a MIME type names. Only the first
// four bytes of a picture are looked at; nothing is decoded.

#include <cstddef>
#include <cstdint>
#include <string>

#include "tags/streams/stream.h"

enum TTagPictureFormat : int { tpfUnknown = 0, tpfJPEG = 1, tpfPNG = 2, tpfBMP = 3, tpfGIF = 4, tpfTIFF = 5 };

// The format of the picture in the stream (read from its start; the stream is left at 0).
TTagPictureFormat PictureStreamType(TStream *PictureStream);
TTagPictureFormat PicturePointerType(const void *Picture, std::int64_t DataSize);
// "image/jpeg" or "image/jpg", "image/png", "image/bmp", "image/gif" (ASCII case folding);
// any other tpfUnknown.
TTagPictureFormat MIMETypeToPictureFormat(const std::string &MIMEType);
// The MIME type of a format; empty for tpfUnknown.
std::string PictureFormatMIMEType(TTagPictureFormat Format);
// MIME type by the first bytes of a picture; empty when not recognised.
std::string SniffPictureMIMEType(const std::uint8_t *Data, std::size_t Size);
// The ID3v2 picture type (0 to 20) whose description is Text ("Cover (front)" 3, ASCII case
// folding); 0 ("Other") when it is none of them.
int PictureTypeFromDescription(const std::string &Text);
