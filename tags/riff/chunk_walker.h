#pragma once
// The chunk layer shared by the files that keep their tags and audio in chunks: Microsoft RIFF
// WAVE ("RIFF" form, 32-bit little-endian sizes), EBU Tech 3306 RF64 ("RF64" form whose 64-bit
// sizes live in the "ds64" chunk that comes first; a size field of FFFFFFFF hex defers to it),
// Apple AIFF 1.3 and AIFF-C ("FORM" form of EA IFF 85, 32-bit big-endian sizes) and DSDIFF 1.5
// ("FRM8" form of type "DSD ", 64-bit big-endian sizes). A chunk is a 4-byte id, a size and that
// many data bytes, then one pad byte when the size is odd; a form is its id, a size that counts
// the bytes after the size field, a 4-byte form type and chunks that fill it.
//
// Reading is lenient: TChunkWalker goes from chunk to chunk between an offset and a limit the
// caller chooses (the end of the stream, or of the form cut at the stream's end), at most
// kMaxFormChunks chunks; a chunk whose data runs past the limit is still reported, cut at the
// limit, and ends the walk. ReadChunkFormHeader recognises a form and reads its ds64.
// Writing is strict: CheckChunkForm accepts a form only when its layout adds up (the form inside
// the stream, every chunk inside the form, the chunks filling it exactly; only a pad byte missing
// at the very end is tolerated), and TChunkFormEditor changes only such a form: it replaces,
// adds or removes chunks and plans the change as a TRewritePlan in which the form's size field
// (for RF64 with FFFFFFFF hex at offset 4, the RIFF size in ds64) is corrected. A new size that
// does not fit its field is refused, never written cut.
// Nothing from the file is trusted: sizes are 64-bit, checked against what remains before they
// are added or used, and the walks are bounded by their limit and by the chunk count.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tags/streams/rewrite_plan.h"
#include "tags/streams/stream.h"

// Chunks walked in one form, or one list inside it, before the walk gives up.
constexpr int kMaxFormChunks = 4096;
// The ds64 fields read: 64-bit RIFF size, data size and sample count (the table that may
// follow them is not used).
constexpr std::int64_t kDs64FieldBytes = 24;

enum class TChunkSizeForm { csLE32, csBE32, csBE64 };

// Bytes of a chunk header of that form: 8, or 12 with a 64-bit size.
constexpr std::int64_t ChunkHeaderBytes(TChunkSizeForm Form) { return Form == TChunkSizeForm::csBE64 ? 12 : 8; }

enum TChunkFormKind { cfkUnknown, cfkRIFF, cfkRF64, cfkAIFF, cfkDSDIFF };

enum TChunkFormCheck : int {
  cfcOk = 0,
  cfcNotForm = 1,       // none of the four form ids
  cfcWrongType = 2,     // a form id without the form type that belongs to it ("RIFF" without "WAVE")
  cfcInconsistent = 3,  // the sizes do not add up (strict check only)
};

struct TChunk {
  std::string ID;
  // The size field; for an RF64 "data" chunk whose field is FFFFFFFF hex, the ds64 data size.
  std::uint64_t Size = 0;
  std::int64_t Offset = 0;      // the header
  std::int64_t DataOffset = 0;
  std::int64_t DataEnd = 0;     // DataOffset + Size, cut at the walk's limit
  std::int64_t End = 0;         // after the pad byte, cut at the walk's limit
  bool Complete = false;        // the data (the pad byte aside) lies inside the limit
  std::int64_t DataSize() const { return DataEnd - DataOffset; }
};

class TChunkWalker {
public:
  // Walks the chunks that start in From..Limit; Limit is cut at the stream's end.
  TChunkWalker(TStream &Stream, std::int64_t From, std::int64_t Limit, TChunkSizeForm Form);
  // RF64: a "data" chunk whose 32-bit size is FFFFFFFF hex takes this size instead.
  void SetRF64DataSize(std::uint64_t Size);

  // The next chunk; false at the end: no room for another header, a header that cannot be
  // read, the previous chunk ran past the limit, or kMaxFormChunks were walked.
  bool Next(TChunk &Out);
  // The next chunk with this id, the chunks before it skipped.
  bool Find(std::string_view ID, TChunk &Out);

  // Where the next header would be; -1 once a chunk ran past the limit.
  std::int64_t Position() const { return FPos; }
  std::int64_t Limit() const { return FLimit; }
  // True when the walk stopped at kMaxFormChunks with room for more.
  bool CountExhausted() const { return FExhausted; }

private:
  TStream &FStream;
  std::int64_t FPos;
  std::int64_t FLimit;
  TChunkSizeForm FForm;
  bool FRF64 = false;
  std::uint64_t FRF64DataSize = 0;
  int FCount = 0;
  bool FExhausted = false;
};

// RF64's "ds64": present when it is the form's first chunk, valid when its size covers the
// three 64-bit fields and the stream holds them.
struct TDs64 {
  bool Present = false;
  bool Valid = false;
  std::int64_t Offset = -1;              // the chunk header
  std::int64_t End = -1;                 // after its data and pad byte; -1 when that is past the stream
  std::uint64_t RiffSize = 0, DataSize = 0, SampleCount = 0;
  std::int64_t RiffSizeOffset() const { return Offset + 8; }
};

struct TChunkForm {
  TChunkFormKind Kind = cfkUnknown;
  std::string FormType;                  // "WAVE", "AIFF", "AIFC" or "DSD "
  TChunkSizeForm SizeForm = TChunkSizeForm::csLE32;
  std::int64_t Start = 0;                // the form id
  std::int64_t FirstChunk = 0;           // after the form type
  // The size field that counts the form: offset, width (4 or 8), byte order and value. For
  // RF64 with FFFFFFFF hex at offset 4 and a valid ds64, the RIFF size in ds64.
  std::int64_t SizeFieldOffset = 0;
  int SizeFieldBytes = 4;
  bool SizeFieldBigEndian = false;
  std::uint64_t SizeValue = 0;
  // Start + 8 (12 for DSDIFF) + SizeValue, cut at the stream's end; DeclaredEndFits tells
  // whether it had to be cut.
  std::int64_t End = 0;
  bool DeclaredEndFits = false;
  std::uint32_t Size32 = 0;              // the 32-bit field at offset 4 (RIFF, RF64, AIFF)
  TDs64 Ds64;
  std::vector<TChunk> Chunks;            // filled by CheckChunkForm

  // A walker over the form's chunks up to Limit (the form's end by default), with RF64's data
  // size from ds64 (0 without a valid ds64).
  TChunkWalker Walker(TStream &Stream, std::int64_t Limit = -1) const;
  TChunkWalker WalkerFrom(TStream &Stream, std::int64_t From, std::int64_t Limit) const;
};

// Recognises the form that starts at Start and reads its header and, for RF64, its ds64.
int ReadChunkFormHeader(TStream &Stream, std::int64_t Start, TChunkForm &Out);
// The strict check before a write; fills Form.Chunks. cfcOk or cfcInconsistent.
int CheckChunkForm(TStream &Stream, TChunkForm &Form);

enum TChunkEditResult : int {
  cerOk = 0,
  cerSizeOverflow = 1,  // the form's new size does not fit its size field
  cerBadEdit = 2,       // edits that overlap, or reach the form header or ds64
};

// Changes to a form that passed CheckChunkForm, collected and then planned at once.
class TChunkFormEditor {
public:
  explicit TChunkFormEditor(const TChunkForm &Form) : FForm(Form) {}

  // A chunk as this form writes it: the id (cut or padded with spaces to 4 bytes), the size in
  // the form's width and order, the data, and a zero pad byte when the size is odd.
  TBytes ChunkBytes(std::string_view ID, std::span<const std::uint8_t> Data) const;

  void Replace(const TChunk &Old, TBytes NewChunk);
  void Remove(const TChunk &Old);
  void InsertBefore(const TChunk &Next, TBytes NewChunk);
  // At the end of the form, behind a zero pad byte when the form ends at an odd length (its
  // last chunk lacks its pad byte).
  void Append(TBytes NewChunk);

  // The whole new content: the old bytes of the stream (StreamSize of them) with the edits made
  // and the form's size field corrected.
  int Plan(std::int64_t StreamSize, TRewritePlan &Plan) const;

private:
  // The old bytes From..To give way to Bytes; PadFirst: a chunk added at the end of the form.
  struct TEdit {
    std::int64_t From = 0, To = 0;
    TBytes Bytes;
    bool PadFirst = false;
  };
  const TChunkForm &FForm;
  std::vector<TEdit> FEdits;
};
