#pragma once
// The container's two-way copy between generic entries and Vorbis comments, shared by the FLAC
// row (names_flac.cpp) and the Ogg Vorbis/Opus row (names_ogg.cpp). A comment's name is the
// entry's name as it stands (no name table); its value is the entry's text. A comment nobody
// changed is never rewritten: a tag the load found gets only the names whose entries changed,
// and TVorbisComments keeps the stored bytes of every comment whose text stays.

#include <string>
#include <vector>

#include "tags/tag_container.h"
#include "tags/vorbis/picture_block.h"
#include "tags/vorbis/vorbis_comments.h"

// A picture of a Vorbis-comment tag and the name it shows under.
// With DataInFile, the picture's data stay in the file, with Encoded they stay base64 text:
// Picture.Data holds only their first bytes.
struct TVorbisPicture {
  std::string Name;
  TPictureBlock Picture;
  TFileRange DataInFile;
  TEncodedPicture Encoded;
};

// Adds the text comments of Comments as entries (names as stored; "TRACKNUMBER" or "TRACK"
// holding "3/12" as "TRACKNUMBER" 3 and "TOTALTRACKS" 12; "TIPL" and "TMCL" as name/value
// lists) and, when Pictures is not empty, replaces the pictures by them. Each entry is marked
// as loaded from Type.
void LoadVorbisCommentEntries(TTags &Tags, TTagType Type, const TVorbisComments &Comments,
                              std::vector<TVorbisPicture> &&Pictures);

// Writes the entries into Comments: every name when the tag is new (TagLoaded false), else
// only the names with an entry that changed since the load. A name's comments take its
// entries' values one each, in order.
void PrepareVorbisComments(TTags &Tags, bool TagLoaded, TVorbisComments &Comments);

// The container's pictures as picture structures (a picture without a MIME type gets the one
// its bytes show).
std::vector<TPictureBlock> VorbisPicturesOf(TTags &Tags);
// A loaded picture as a container picture (its bytes move into Art).
void FillCoverArt(TCoverArt &Art, TVorbisPicture &&Picture);

// The native side of deleting Entry: its comments (name and text equal, ASCII case folding) go.
void DeleteVorbisCommentEntry(TTags &Tags, TVorbisComments &Comments, const std::string &UpperName, const TTag &Entry);
