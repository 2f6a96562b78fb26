#pragma once
// The writer of an ASF Header object: the header of a file read by ReadASFHeader (which must
// not be damaged), with its attributes replaced by a new list.
//
// Each attribute goes to the object that can hold it. It stays in the object it was read from
// while it fits there; a new one (or one that no longer fits) goes to the Content Description
// when it is the first Title, Author, Copyright, Description or Rating of the list, a STRING of
// stream 0 and language 0; to the Extended Content Description when it is of stream 0 and
// language 0, not a GUID, and its name and value each take at most 65,535 bytes; otherwise to
// the Metadata Library (values over 65,535 bytes, a stream number other than 0, a language
// index, a GUID). The Metadata object keeps the attributes read from it that still fit it
// (language 0, no GUID, 65,535 bytes at most). STRING values are written with one terminating
// zero character; a BOOL takes 4 bytes in the Extended Content Description and 2 in the Metadata
// objects; a "WM/Picture" record goes back to its disk form (wma_picture.h). Attributes of type
// WMT_TYPE_UNKNOWN, empty values and empty STRINGs are not written.
//
// Every object the writer does not own is copied byte for byte, in its place: all header
// objects but the Content Description, the Extended Content Description and the Metadata and
// Metadata Library objects inside the Header Extension. A new object takes the place of the
// first old one of its kind (later ones go), and stays there even with nothing in it (encoders
// write empty ones; keeping them keeps the header's size where it can); an object of a kind the
// file did not have is added only when something goes into it: at the end of the header (of the
// Header Extension data for the Metadata objects; a Header Extension is added when the file had
// none). The Header object's
// size and object count, the Header Extension's data size and the File Properties file size
// (unless the Broadcast flag marks it invalid) are computed anew; the Header object's reserved
// bytes are kept.

#include <cstdint>
#include <span>
#include <vector>

#include "tags/asf/asf_header.h"
#include "tags/asf/wma_tag_frame.h"

enum TASFBuildResult : int {
  asfbOk = 0,
  asfbTooLarge = 1,  // a value, name or count does not fit any object, or the header passes kASFMaxHeaderBytes
};

// The new header for the file of OldFileSize bytes whose header (Layout) is OldHeader, holding
// Attributes in their order.
int BuildASFHeader(std::span<const std::uint8_t> OldHeader, const TASFHeader &Layout,
                   std::span<const TWMATagFrame *const> Attributes, std::int64_t OldFileSize, TBytes &Out);
