#include "tags/riff/chunk_walker.h"

#include <algorithm>
#include <limits>

#include "tags/streams/byte_reader.h"
#include "tags/streams/byte_writer.h"

namespace {

constexpr std::uint32_t kRF64SizeInDs64 = 0xFFFFFFFFu;


struct TFormLayout {
  const char *ID;
  TChunkFormKind Kind;
  TChunkSizeForm SizeForm;
  std::int64_t HeaderBytes;   // id, size and form type
  std::int64_t TypeOffset;
  const char *Types[2];
};

constexpr TFormLayout kForms[] = {
  {"RIFF", cfkRIFF, TChunkSizeForm::csLE32, 12, 8, {"WAVE", nullptr}},
  {"RF64", cfkRF64, TChunkSizeForm::csLE32, 12, 8, {"WAVE", nullptr}},
  {"FORM", cfkAIFF, TChunkSizeForm::csBE32, 12, 8, {"AIFF", "AIFC"}},
  {"FRM8", cfkDSDIFF, TChunkSizeForm::csBE64, 16, 12, {"DSD ", nullptr}},
};

void ReadDs64(TStream &Stream, TChunkForm &Form)
{
  TChunkWalker walker(Stream, Form.FirstChunk, Stream.GetSize(), TChunkSizeForm::csLE32);
  TChunk chunk;
  if (!walker.Next(chunk) || chunk.ID != "ds64") return;
  TDs64 &ds = Form.Ds64;
  ds.Present = true;
  ds.Offset = chunk.Offset;
  ds.End = chunk.Complete ? chunk.End : -1;
  TBytes fields;
  if (chunk.Size < static_cast<std::uint64_t>(kDs64FieldBytes) || !Stream.ReadAt(chunk.DataOffset, kDs64FieldBytes, fields))
    return;
  ByteReader in(fields);
  ds.Valid = in.ReadU64LE(ds.RiffSize) && in.ReadU64LE(ds.DataSize) && in.ReadU64LE(ds.SampleCount);
}

} // namespace

// --- walking ------------------------------------------------------------------------------------

TChunkWalker::TChunkWalker(TStream &Stream, std::int64_t From, std::int64_t Limit, TChunkSizeForm Form)
  : FStream(Stream), FPos(From), FLimit(std::min(Limit, Stream.GetSize())), FForm(Form)
{
}

void TChunkWalker::SetRF64DataSize(std::uint64_t Size)
{
  FRF64 = true;
  FRF64DataSize = Size;
}

bool TChunkWalker::Next(TChunk &Out)
{
  const std::int64_t header = ChunkHeaderBytes(FForm);
  if (FPos < 0 || FLimit < header || FPos > FLimit - header) return false;
  if (FCount >= kMaxFormChunks) {
    FExhausted = true;
    return false;
  }
  TBytes bytes;
  if (!FStream.ReadAt(FPos, header, bytes)) return false;
  ByteReader in(bytes);
  std::string id;
  std::uint64_t size = 0;
  std::uint32_t size32 = 0;
  in.ReadString(4, id);
  switch (FForm) {
  case TChunkSizeForm::csLE32:
    in.ReadU32LE(size32);
    size = FRF64 && id == "data" && size32 == kRF64SizeInDs64 ? FRF64DataSize : size32;
    break;
  case TChunkSizeForm::csBE32: in.ReadU32BE(size32); size = size32; break;
  case TChunkSizeForm::csBE64: in.ReadU64BE(size); break;
  }
  ++FCount;
  Out.ID = std::move(id);
  Out.Size = size;
  Out.Offset = FPos;
  Out.DataOffset = FPos + header;
  Out.Complete = size <= static_cast<std::uint64_t>(FLimit - Out.DataOffset);
  Out.DataEnd = Out.Complete ? Out.DataOffset + static_cast<std::int64_t>(size) : FLimit;
  // A pad byte missing at the limit is no damage: the walk simply ends there.
  Out.End = Out.Complete ? std::min(Out.DataEnd + static_cast<std::int64_t>(size & 1), FLimit) : FLimit;
  FPos = Out.Complete ? Out.End : -1;
  return true;
}

bool TChunkWalker::Find(std::string_view ID, TChunk &Out)
{
  while (Next(Out))
    if (Out.ID == ID) return true;
  return false;
}

// --- forms --------------------------------------------------------------------------------------

TChunkWalker TChunkForm::Walker(TStream &Stream, std::int64_t Limit) const
{
  return WalkerFrom(Stream, FirstChunk, Limit < 0 ? End : Limit);
}

TChunkWalker TChunkForm::WalkerFrom(TStream &Stream, std::int64_t From, std::int64_t Limit) const
{
  TChunkWalker walker(Stream, From, Limit, SizeForm);
  if (Kind == cfkRF64) walker.SetRF64DataSize(Ds64.Valid ? Ds64.DataSize : 0);
  return walker;
}

int ReadChunkFormHeader(TStream &Stream, std::int64_t Start, TChunkForm &Out)
{
  Out = TChunkForm{};
  const std::int64_t streamSize = Stream.GetSize();
  TBytes magic;
  if (streamSize < 0 || Start < 0 || !Stream.ReadAt(Start, 4, magic)) return cfcNotForm;
  const std::string id(magic.begin(), magic.end());
  const auto layout = std::find_if(std::begin(kForms), std::end(kForms), [&](const TFormLayout &f) { return id == f.ID; });
  if (layout == std::end(kForms)) return cfcNotForm;

  Out.Kind = layout->Kind;
  Out.SizeForm = layout->SizeForm;
  Out.Start = Start;
  Out.FirstChunk = Start + layout->HeaderBytes;
  TBytes header;
  if (!Stream.ReadAt(Start, layout->HeaderBytes, header)) return cfcWrongType;
  ByteReader in(header);
  std::string type;
  in.Seek(static_cast<std::size_t>(layout->TypeOffset));
  in.ReadString(4, type);
  if (type != layout->Types[0] && !(layout->Types[1] && type == layout->Types[1])) return cfcWrongType;
  Out.FormType = type;

  in.Seek(4);
  Out.SizeFieldOffset = Start + 4;
  switch (layout->SizeForm) {
  case TChunkSizeForm::csLE32: in.ReadU32LE(Out.Size32); Out.SizeValue = Out.Size32; break;
  case TChunkSizeForm::csBE32: in.ReadU32BE(Out.Size32); Out.SizeValue = Out.Size32; break;
  case TChunkSizeForm::csBE64: in.ReadU64BE(Out.SizeValue); break;
  }
  Out.SizeFieldBytes = layout->SizeForm == TChunkSizeForm::csBE64 ? 8 : 4;
  Out.SizeFieldBigEndian = layout->SizeForm != TChunkSizeForm::csLE32;

  if (Out.Kind == cfkRF64) {
    ReadDs64(Stream, Out);
    if (Out.Size32 == kRF64SizeInDs64 && Out.Ds64.Valid) {
      Out.SizeFieldOffset = Out.Ds64.RiffSizeOffset();
      Out.SizeFieldBytes = 8;
      Out.SizeValue = Out.Ds64.RiffSize;
    }
  }
  // The size counts the bytes after the size field at offset 4 (ds64's RIFF size stands in
  // for that field and counts the same).
  const std::int64_t sizeFieldEnd = Start + 4 + (layout->SizeForm == TChunkSizeForm::csBE64 ? 8 : 4);
  const std::int64_t declaredEnd = CheckedAdd(sizeFieldEnd, Out.SizeValue);
  Out.DeclaredEndFits = declaredEnd >= 0 && declaredEnd <= streamSize;
  Out.End = Out.DeclaredEndFits ? declaredEnd : streamSize;
  return cfcOk;
}

int CheckChunkForm(TStream &Stream, TChunkForm &Form)
{
  Form.Chunks.clear();
  if (Form.Kind == cfkUnknown) return cfcNotForm;
  // An RF64 size that defers to a ds64 which is not there leaves the form without a size.
  if (Form.Kind == cfkRF64 && Form.Size32 == kRF64SizeInDs64 && !Form.Ds64.Valid) return cfcInconsistent;
  if (!Form.DeclaredEndFits) return cfcInconsistent;
  TChunkWalker walker = Form.Walker(Stream);
  TChunk chunk;
  while (walker.Next(chunk)) {
    if (!chunk.Complete) {
      Form.Chunks.clear();
      return cfcInconsistent;
    }
    Form.Chunks.push_back(chunk);
  }
  // A ds64 must be the form's own first chunk, not bytes behind a form too short to hold it.
  const bool ds64Outside = Form.Ds64.Present && (Form.Chunks.empty() || Form.Chunks.front().Offset != Form.Ds64.Offset);
  if (walker.CountExhausted() || walker.Position() != Form.End || ds64Outside) {
    Form.Chunks.clear();
    return cfcInconsistent;
  }
  if (Form.Ds64.Present) Form.Ds64.End = Form.Chunks.front().End;
  return cfcOk;
}

// --- writing ------------------------------------------------------------------------------------

TBytes TChunkFormEditor::ChunkBytes(std::string_view ID, std::span<const std::uint8_t> Data) const
{
  std::string id(ID.substr(0, 4));
  id.resize(4, ' ');
  TBytes out;
  ByteWriter w(out);
  w.Str(id);
  const std::uint64_t size = Data.size();
  switch (FForm.SizeForm) {
  case TChunkSizeForm::csLE32: w.U32LE(static_cast<std::uint32_t>(size)); break;
  case TChunkSizeForm::csBE32: w.U32BE(static_cast<std::uint32_t>(size)); break;
  case TChunkSizeForm::csBE64: w.U64BE(size); break;
  }
  w.Append(Data);
  if (size & 1) w.U8(0);
  return out;
}

void TChunkFormEditor::Replace(const TChunk &Old, TBytes NewChunk)
{
  FEdits.push_back({Old.Offset, Old.End, std::move(NewChunk), false});
}

void TChunkFormEditor::Remove(const TChunk &Old) { FEdits.push_back({Old.Offset, Old.End, {}, false}); }

void TChunkFormEditor::InsertBefore(const TChunk &Next, TBytes NewChunk)
{
  FEdits.push_back({Next.Offset, Next.Offset, std::move(NewChunk), false});
}

void TChunkFormEditor::Append(TBytes NewChunk) { FEdits.push_back({FForm.End, FForm.End, std::move(NewChunk), true}); }

int TChunkFormEditor::Plan(std::int64_t StreamSize, TRewritePlan &Plan) const
{
  std::vector<TEdit> edits = FEdits;
  // By position; a chunk inserted before another comes before that one's own edit.
  std::stable_sort(edits.begin(), edits.end(),
                   [](const TEdit &a, const TEdit &b) { return a.From < b.From || (a.From == b.From && a.To < b.To); });
  // The form header and ds64 hold the size fields and are never edited.
  const std::int64_t floor = FForm.Ds64.Present ? std::max(FForm.FirstChunk, FForm.Ds64.End) : FForm.FirstChunk;
  std::int64_t delta = 0, previousEnd = floor;
  for (TEdit &e : edits) {
    if (e.From < previousEnd || e.To < e.From || e.To > FForm.End || FForm.End > StreamSize) return cerBadEdit;
    // A chunk added at the end starts at an even offset of the form, as every chunk does.
    if (e.PadFirst && ((e.From - FForm.Start + delta) & 1) != 0) e.Bytes.insert(e.Bytes.begin(), 0);
    delta += static_cast<std::int64_t>(e.Bytes.size()) - (e.To - e.From);
    previousEnd = e.To;
  }
  const auto value = static_cast<std::int64_t>(FForm.SizeValue) + delta;
  if (FForm.SizeValue > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) || value < 0 ||
      (FForm.SizeFieldBytes == 4 && value > 0xFFFFFFFFll))
    return cerSizeOverflow;
  // Another writer of the same form (a second tag chunk) changes the same size field: the plans
  // are joined by adding their changes up.
  Plan.CountingFields.push_back(
    TCountingField{FForm.SizeFieldOffset, FForm.SizeFieldBytes, FForm.SizeFieldBigEndian, FForm.SizeValue});
  const TPatchField sizeField{FForm.SizeFieldOffset,
                              EncodeUInt(static_cast<std::uint64_t>(value), FForm.SizeFieldBytes, FForm.SizeFieldBigEndian)};
  std::int64_t pos = 0;
  for (TEdit &e : edits) {
    Plan.AddCopy(pos, e.From, {sizeField});
    Plan.AddLiteral(std::move(e.Bytes));
    pos = e.To;
  }
  Plan.AddCopy(pos, StreamSize, {sizeField});
  return cerOk;
}
