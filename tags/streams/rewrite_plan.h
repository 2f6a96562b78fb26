#pragma once
// TRewritePlan: a change to a file or stream described completely before the first byte is
// written, and the three ways of carrying it out. The tag writers (ID3v2 at the start and in
// chunks, the ID3v1/Lyrics3 tail, the chunk layer of tags/riff) only plan; applying is here.
//
// Two kinds of plan:
// - In place: Patch replaces the bytes from PatchOffset on. The file keeps its size, unless
//   PatchEndsFile is set: then the patch is the new end of the file, which is cut or grown to
//   end with it (a tail rewritten at the end of a file).
// - Rebuild: the new content is Pieces in order, each either new bytes or a range of the old
//   content; fields of a copied range can be replaced on the way (a size field).
//
// Invariants: copied ranges lie inside the old content; an applied plan either completes or
// leaves the old content as it was. In place, the old bytes under the patch (and the old size)
// are read before anything is written and put back when a write, truncation or flush fails. A
// rebuild of a file goes through TTempFile, which replaces the file only when the new content
// is complete and synced. A rebuild of a plain stream assembles the new content in memory
// before the stream is touched.

#include <cstdint>
#include <string>
#include <vector>

#include "tags/streams/file_io.h"
#include "tags/streams/stream.h"

// A field replaced inside a copied range: Bytes at Offset of the old content.
struct TPatchField {
  std::int64_t Offset = 0;
  TBytes Bytes;
};

struct TRewritePiece {
  bool Literal = false;
  std::int64_t From = 0;     // a copy: offset and count in the old content
  std::int64_t Count = 0;
  TBytes Bytes;              // a literal
};

struct TRewritePlan {
  bool InPlace = false;
  std::int64_t PatchOffset = 0;
  TBytes Patch;
  bool PatchEndsFile = false;
  std::vector<TRewritePiece> Pieces;

  void SetInPlace(std::int64_t Offset, TBytes Bytes, bool EndsFile = false);
  void AddLiteral(TBytes Bytes);
  // The old bytes From..To, with those of Fields that lie wholly inside the range replaced.
  void AddCopy(std::int64_t From, std::int64_t To, std::vector<TPatchField> Fields = {});
  // The size of the new content of a rebuild.
  std::int64_t RebuiltSize() const;
};

enum TRewriteResult : int {
  rwOk = 0,
  rwReadFailed = 1,   // the old content could not be read (nothing was written)
  rwWriteFailed = 2,  // a write, truncation, flush or the temporary file failed
};

// Writes the pieces of a rebuild to Dest, reading the copied ranges from Source.
bool WriteRebuiltContent(TStream &Source, const TRewritePlan &Plan, TStream &Dest);

// In place on any stream, with the old bytes put back when a write fails. Sync, when given, is
// called after the writes (and after a rollback) and counts as one of them.
TRewriteResult ApplyPlanInPlace(TStream &Stream, const TRewritePlan &Plan, TFileStream *Sync = nullptr);

// On a stream: in place as above; a rebuild is assembled in memory (rwReadFailed when that
// fails), then written over the stream's content, which is cut to the new size.
TRewriteResult ApplyPlanToStream(TStream &Stream, const TRewritePlan &Plan);

// On the open file FileName: in place with fsync and rollback, or a rebuild through a
// temporary file beside it. Every failure of a rebuild is rwWriteFailed: the original is
// untouched and no temporary file is left.
TRewriteResult ApplyPlanToFile(const std::string &FileName, TFileStream &File, const TRewritePlan &Plan);
