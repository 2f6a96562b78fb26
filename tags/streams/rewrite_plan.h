#pragma once
// TRewritePlan: a change to a file or stream described completely before the first byte is
// written, and the ways of carrying it out. The tag writers (ID3v2 at the start and in chunks,
// the ID3v1/Lyrics3 tail, the chunk layer of tags/riff) only plan; applying is here.
//
// Two kinds of plan:
// - In place: each patch replaces the bytes from its offset on. The file keeps its size, except
//   for a last patch marked EndsFile: it is the new end of the file, which is cut or grown to end
//   with it (a tail rewritten at the end of a file).
// - Rebuild: the new content is Pieces in order, each either new bytes or a range of the old
//   content; fields of a copied range can be replaced on the way (a size field).
// A plan that is neither (the default) changes nothing.
//
// Several writers of one file each plan against the same old content; ComposePlans joins their
// plans into one, so that a file with tags at its start and at its end is changed in one step:
// one rename of a complete temporary file, or in-place writes that all land or are all put back.
//
// Invariants: copied ranges lie inside the old content; an applied plan either completes or
// leaves the old content as it was. In place, the old bytes under the patches (and the old size)
// are read before anything is written and put back when a write, truncation or flush fails. A
// rebuild of a file goes through TTempFile, which replaces the file only when the new content
// is complete and synced (a file with several hard links excepted, see ApplyPlanToFile). A
// rebuild of a plain stream assembles the new content in memory before the stream is touched.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tags/streams/buffered_stream.h"
#include "tags/streams/file_io.h"
#include "tags/streams/mtime_keeper.h"
#include "tags/streams/stream.h"

// A field replaced inside a copied range: Bytes at Offset of the old content.
struct TPatchField {
  std::int64_t Offset = 0;
  TBytes Bytes;
};

// A size field of the old content that counts bytes a change adds or removes: the size of the
// chunk form a writer changes. Each writer that changes the form plans the field as the old
// value plus its own change; ComposePlans adds the changes of several such plans up (a tag
// chunk and another tag chunk of one form), instead of taking them for two changes of the same
// bytes.
struct TCountingField {
  std::int64_t Offset = 0;
  int Bytes = 4;                 // 4 or 8
  bool BigEndian = false;
  std::uint64_t OldValue = 0;
  bool operator==(const TCountingField &) const = default;
};

struct TRewritePiece {
  bool Literal = false;
  std::int64_t From = 0;     // a copy: offset and count in the old content
  std::int64_t Count = 0;
  TBytes Bytes;              // a literal
};

// New bytes written over the old content from Offset on; with EndsFile the file ends with them.
struct TInPlacePatch {
  std::int64_t Offset = 0;
  TBytes Bytes;
  bool EndsFile = false;
};

struct TRewritePlan {
  bool InPlace = false;
  std::vector<TInPlacePatch> Patches;  // in place: ascending, not overlapping
  std::vector<TRewritePiece> Pieces;   // a rebuild
  // The old content from KnownTailFrom to its end, as read while planning (KnownTailFrom -1:
  // none). A writer whose change moves the bytes behind it (a tag in front of the blocks that
  // end a file) hands them over, so that the change can still be made in place: ComposePlans
  // writes them back after the change and lets the file end with them.
  std::int64_t KnownTailFrom = -1;
  TBytes KnownTail;
  // Size fields this plan sets as counting fields (above); the plan writes each as one change of
  // exactly its bytes, or leaves it alone.
  std::vector<TCountingField> CountingFields;

  // Makes this an in-place plan of one patch.
  void SetInPlace(std::int64_t Offset, TBytes Bytes, bool EndsFile = false);
  void AddLiteral(TBytes Bytes);
  // The old bytes From..To, with those of Fields that lie wholly inside the range replaced.
  void AddCopy(std::int64_t From, std::int64_t To, std::vector<TPatchField> Fields = {});
  // The size of the new content of a rebuild.
  std::int64_t RebuiltSize() const;
  // Neither in place nor a rebuild: nothing to write.
  bool ChangesNothing() const { return !InPlace && Pieces.empty(); }
};

enum TRewriteResult : int {
  rwOk = 0,
  rwReadFailed = 1,   // the old content could not be read, or the plan does not fit it (nothing was written)
  rwWriteFailed = 2,  // a write, truncation, flush or the temporary file failed
};

// Joins plans made against the same old content of OldSize bytes into one plan with the effect
// of all of them: in place when every change keeps the place of what follows it (a change that
// reaches the old end may cut or grow the file, and changes that meet are one change), else one
// rebuild. A change that moves what follows it is still made in place when a plan knows the old
// bytes from its end on (KnownTail): they are written back after it. Plans that change nothing are
// skipped. Counting fields that several plans set take the old value plus the sum of their
// changes. False, with Out untouched, when a plan does not fit the content, two plans change the
// same bytes (or insert at the same place), since no order of theirs is right then, or a summed
// counting field does not fit its width.
bool ComposePlans(std::int64_t OldSize, std::span<const TRewritePlan> Plans, TRewritePlan &Out);
// One writer's plan made the way ComposePlans joins plans (in place where its known tail allows),
// for a writer that changes a file on its own; false, Plan untouched, when it does not fit.
bool ComposeOwnPlan(std::int64_t OldSize, TRewritePlan &Plan);

// Writes the pieces of a rebuild to Dest, reading the copied ranges from Source.
bool WriteRebuiltContent(TStream &Source, const TRewritePlan &Plan, TStream &Dest);

// In place on any stream, with the old bytes put back when a write fails. Sync, when given, is
// called after the writes (and after a rollback) and counts as one of them.
TRewriteResult ApplyPlanInPlace(TStream &Stream, const TRewritePlan &Plan, TFileStream *Sync = nullptr);

// On a stream: in place as above; a rebuild is assembled in memory (rwReadFailed when that
// fails), then written over the stream's content, which is cut to the new size; when that write
// fails, the old content is written back.
TRewriteResult ApplyPlanToStream(TStream &Stream, const TRewritePlan &Plan);

// On the open file FileName: in place with fsync and rollback, or a rebuild through a
// temporary file beside it. Every failure of a rebuild is rwWriteFailed and leaves no temporary
// file; the original is untouched, except for a file with several hard links, whose content is
// copied back into its own inode: a failure during that copy leaves it changed, and the caller's
// backup puts it back (see TTempFile::Commit).
TRewriteResult ApplyPlanToFile(const std::string &FileName, TFileStream &File, const TRewritePlan &Plan);

// A writer's codes for the ways a change to a file can end.
struct TRewriteCodes {
  int Ok = 0;
  int FileNotFound = 0;  // no file there
  int CannotOpen = 0;    // the file is there but cannot be opened for reading and writing
  int ReadOnly = 0;      // read-only by its mode bits; nothing was written
  int ReadFailed = 0;    // the plan could not be carried out from the old content (nothing written)
  int WriteFailed = 0;   // a write failed; the file is as it was
};

// The one way a writer changes a file: one open for reading and writing answers whether the file
// is there and read-only, Plan (returning the writer's code) plans the change over a buffered
// view of the open file, and the plan is applied with ApplyPlanToFile. The modification time is
// put back afterwards when PreserveTime asks for it. Codes.Ok, or the first code that ends it.
template <typename TPlanFn>
int RewriteFile(const std::string &FileName, bool PreserveTime, const TRewriteCodes &Codes, TPlanFn &&Plan)
{
  TFileFacts facts;
  std::unique_ptr<TFileStream> file = TFileStream::Open(FileName, TFileMode::fmOpenReadWrite, facts);
  TModTimeKeeper keeper(FileName, PreserveTime, facts);
  if (!facts.Exists) return Codes.FileNotFound;
  if (facts.ReadOnly) return Codes.ReadOnly;
  if (!file) return Codes.CannotOpen;
  TRewritePlan plan;
  int result = Codes.Ok;
  {
    // The many small reads of planning are answered from a buffer, not each by the file.
    TBufferedStream view(*file);
    result = Plan(static_cast<TStream &>(view), plan);
  }
  if (result != Codes.Ok) return result;
  switch (ApplyPlanToFile(FileName, *file, plan)) {
  case rwOk: break;
  case rwReadFailed: return Codes.ReadFailed;
  case rwWriteFailed: return Codes.WriteFailed;
  }
  return file->Close() ? Codes.Ok : Codes.WriteFailed;
}
