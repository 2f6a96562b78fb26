#include "tags/id3/id3v2_container.h"

#include <algorithm>
#include <cstring>

#include "tags/streams/byte_reader.h"

namespace {

bool ReadBlock(TStream &S, std::int64_t Pos, std::int64_t Count, TBytes &Out)
{
  return Pos >= 0 && S.ReadAt(Pos, Count, Out);
}

bool IsID3ChunkID(TSourceFileType Kind, const std::string &ID)
{
  if (Kind == sftWAVE || Kind == sftRF64) return ID == "id3 " || ID == "ID3 " || ID == "ID32";
  return ID == "ID3 " || ID == "id3 ";
}

TSourceFileType KindOf(TChunkFormKind Kind)
{
  switch (Kind) {
  case cfkRIFF: return sftWAVE;
  case cfkRF64: return sftRF64;
  case cfkAIFF: return sftAIFF;
  case cfkDSDIFF: return sftDFF;
  case cfkUnknown: break;
  }
  return sftUnknown;
}

bool IsSoundChunkID(const std::string &ID) { return ID == "data" || ID == "SSND" || ID == "DSD " || ID == "DST "; }

// Notes the first ID3 chunk (Index: its place in Form.Chunks, -1 for a lenient walk) and
// whether a sound chunk was seen.
void NoteChunk(const TChunk &C, int Index, TID3v2ContainerLayout &Out)
{
  if (!Out.ChunkFound && IsID3ChunkID(Out.Kind, C.ID)) {
    Out.ChunkFound = true;
    Out.ChunkIndex = Index;
    Out.ChunkOffset = C.Offset;
    Out.ChunkID = C.ID;
    Out.ChunkDataOffset = C.DataOffset;
    Out.ChunkDataSize = C.DataSize();
    Out.ChunkEnd = C.End;
  }
  if (IsSoundChunkID(C.ID)) Out.HasDataChunk = true;
}

// Readers also find an ID3 chunk that an earlier writer appended behind the form without
// growing it. A change made inside the form would leave that chunk to come back on the next
// load, so such a file is refused like any other whose sizes do not add up. Behind an odd
// form the walk is tried with and without a pad byte.
bool ID3ChunkBehindTheForm(TStream &S, const TID3v2ContainerLayout &L, std::int64_t StreamSize)
{
  const std::int64_t formEnd = L.Form.End;
  if (formEnd >= StreamSize) return false;
  for (std::int64_t from = formEnd; from <= formEnd + (formEnd & 1); ++from) {
    TChunkWalker walker = L.Form.WalkerFrom(S, from, StreamSize);
    TChunk chunk;
    while (walker.Next(chunk))
      if (IsID3ChunkID(L.Kind, chunk.ID)) return true;
  }
  return false;
}

// RIFF WAVE, RF64, AIFF/AIFC and DSDIFF. Leniently the chunks are walked to the end of the
// stream, whatever the form's size says; strictly the form must pass the chunk layer's check,
// a WAVE form must hold its "data" chunk (audio outside the form means an earlier writer did
// not keep the sizes up to date) and no ID3 chunk may stand behind the form.
int ReadChunkContainer(TStream &S, std::int64_t Start, std::int64_t StreamSize, bool Strict, TID3v2ContainerLayout &Out)
{
  TChunkForm &form = Out.Form;
  const int header = ReadChunkFormHeader(S, Start, form);
  if (header == cfcNotForm) return ccNotContainer;
  if (header != cfcOk) return Strict ? ccWrongHeader : ccNotContainer;
  Out.Kind = KindOf(form.Kind);
  Out.FormSizeOffset = form.SizeFieldOffset;
  Out.FormSizeBytes = form.SizeFieldBytes;
  Out.FormSizeBigEndian = form.SizeFieldBigEndian;
  Out.FormSizeValue = std::min<std::uint64_t>(form.SizeValue, static_cast<std::uint64_t>(StreamSize));
  Out.FormEnd = form.End;
  if (!Strict) {
    TChunkWalker walker = form.Walker(S, StreamSize);
    TChunk chunk;
    while (walker.Next(chunk)) NoteChunk(chunk, -1, Out);
    return ccOk;
  }
  if (CheckChunkForm(S, form) != cfcOk) return ccInconsistent;
  for (std::size_t i = 0; i < form.Chunks.size(); ++i) NoteChunk(form.Chunks[i], static_cast<int>(i), Out);
  if ((Out.Kind == sftWAVE || Out.Kind == sftRF64) && !Out.HasDataChunk) return ccInconsistent;
  if (ID3ChunkBehindTheForm(S, Out, StreamSize)) return ccInconsistent;
  return ccOk;
}

int ReadDSF(TStream &S, std::int64_t Start, std::int64_t StreamSize, bool Strict, TID3v2ContainerLayout &Out)
{
  TBytes h;
  if (!ReadBlock(S, Start, 28, h)) return Strict ? ccInconsistent : ccNotContainer;
  Out.Kind = sftDSF;
  ByteReader in(h);
  in.Skip(4);
  std::uint64_t headerSize = 0, fileSize = 0, meta = 0;
  in.ReadU64LE(headerSize);
  in.ReadU64LE(fileSize);
  in.ReadU64LE(meta);
  Out.FormSizeOffset = Start + 12;
  Out.FormSizeBytes = 8;
  Out.FormSizeValue = fileSize;
  Out.DSFMetadataOffset = meta;
  const std::int64_t length = StreamSize - Start;
  Out.FormEnd = StreamSize;
  if (!Strict) {
    if (meta != 0 && meta < static_cast<std::uint64_t>(length)) {
      Out.ChunkFound = true;
      Out.ChunkDataOffset = Start + static_cast<std::int64_t>(meta);
      Out.ChunkDataSize = StreamSize - Out.ChunkDataOffset;
      Out.ChunkOffset = Out.ChunkDataOffset;
      Out.ChunkEnd = StreamSize;
    }
    return ccOk;
  }
  // The header's file size may not promise more than the file holds, "fmt " and "data" must
  // follow each other inside it, and the metadata must lie behind the sound data.
  if (headerSize != 28 || fileSize > static_cast<std::uint64_t>(length)) return ccInconsistent;
  std::int64_t pos = Start + 28;
  for (const char *want : {"fmt ", "data"}) {
    TBytes c;
    if (!ReadBlock(S, pos, 12, c) || std::memcmp(c.data(), want, 4) != 0) return ccInconsistent;
    ByteReader cr(c);
    cr.Skip(4);
    std::uint64_t size = 0;
    cr.ReadU64LE(size);
    if (size < 12 || size > static_cast<std::uint64_t>(StreamSize - pos)) return ccInconsistent;
    pos += static_cast<std::int64_t>(size);
  }
  Out.HasDataChunk = true;
  Out.DSFDataEnd = pos;
  if (meta != 0) {
    const std::int64_t m = Start + static_cast<std::int64_t>(std::min<std::uint64_t>(meta, static_cast<std::uint64_t>(length)));
    if (meta > static_cast<std::uint64_t>(length) || m < pos) return ccInconsistent;
    TBytes id;
    if (m != StreamSize && !(ReadBlock(S, m, 3, id) && std::memcmp(id.data(), "ID3", 3) == 0)) return ccInconsistent;
    if (m != StreamSize) {
      Out.ChunkFound = true;
      Out.ChunkOffset = m;
      Out.ChunkDataOffset = m;
      Out.ChunkDataSize = StreamSize - m;
      Out.ChunkEnd = StreamSize;
    }
  }
  return ccOk;
}

} // namespace

int ReadID3v2ContainerLayout(TStream &Stream, std::int64_t Start, bool Strict, TID3v2ContainerLayout &Out)
{
  Out = TID3v2ContainerLayout{};
  const std::int64_t size = Stream.GetSize();
  TBytes magic;
  if (size < 0 || !ReadBlock(Stream, Start, 4, magic)) return ccNotContainer;
  const std::string id(magic.begin(), magic.end());
  const int rc = id == "DSD " ? ReadDSF(Stream, Start, size, Strict, Out) : ReadChunkContainer(Stream, Start, size, Strict, Out);
  if (rc == ccNotContainer) Out = TID3v2ContainerLayout{};
  return rc;
}
