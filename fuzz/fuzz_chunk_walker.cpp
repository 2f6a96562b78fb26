// Fuzz target: the chunk layer over any bytes. Properties: a lenient walk goes forward only,
// stays inside its limit and its chunk count; a form that passes the strict check is filled
// exactly by its chunks; an edit planned on such a form gives a form that passes the check
// again, with its size field describing it.

#include "fuzz/fuzz_entry.h"
#include "tags/riff/chunk_walker.h"

namespace {

void CheckLenientWalk(TStream &Stream, const TChunkForm &Form)
{
  TChunkWalker walker = Form.Walker(Stream, Stream.GetSize());
  TChunk chunk;
  std::int64_t previous = -1;
  int count = 0;
  while (walker.Next(chunk)) {
    FuzzRequire(chunk.Offset > previous && chunk.Offset >= Form.FirstChunk);
    FuzzRequire(chunk.DataOffset <= chunk.DataEnd && chunk.DataEnd <= chunk.End && chunk.End <= walker.Limit());
    FuzzRequire(++count <= kMaxFormChunks);
    previous = chunk.Offset;
  }
}

void CheckEdit(TStream &Stream, const TChunkForm &Form)
{
  TChunkFormEditor editor(Form);
  const TBytes data(3, 0x41);
  editor.Append(editor.ChunkBytes("new ", data));
  std::size_t removed = 0;
  if (!Form.Chunks.empty() && !(Form.Ds64.Present && Form.Chunks.size() == 1)) {
    editor.Remove(Form.Chunks.back());
    removed = 1;
  }
  TRewritePlan plan;
  const int rc = editor.Plan(Stream.GetSize(), plan);
  if (rc != cerOk) {
    FuzzRequire(rc == cerSizeOverflow);
    return;
  }
  TMemoryStream out;
  FuzzRequire(WriteRebuiltContent(Stream, plan, out));
  TChunkForm after;
  FuzzRequire(ReadChunkFormHeader(out, Form.Start, after) == cfcOk);
  FuzzRequire(CheckChunkForm(out, after) == cfcOk);
  FuzzRequire(after.Chunks.size() == Form.Chunks.size() + 1 - removed);
}

} // namespace

int FuzzChunkWalker(const std::uint8_t *Data, std::size_t Size)
{
  TReadMemoryStream stream(Data, static_cast<std::int64_t>(Size));
  TChunkForm form;
  if (ReadChunkFormHeader(stream, 0, form) != cfcOk) return 0;
  FuzzRequire(form.End <= stream.GetSize());
  CheckLenientWalk(stream, form);
  if (CheckChunkForm(stream, form) != cfcOk) return 0;
  std::int64_t pos = form.FirstChunk;
  for (const TChunk &c : form.Chunks) {
    FuzzRequire(c.Offset == pos && c.Complete);
    pos = c.End;
  }
  FuzzRequire(pos == form.End);
  CheckEdit(stream, form);
  return 0;
}

CORVELLA_FUZZ_TARGET("fuzz_chunk_walker", FuzzChunkWalker)
