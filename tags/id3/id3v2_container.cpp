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

// Walks the chunks of a RIFF/FORM/FRM8 form from First. Header: 4-byte id and a 4-byte (LE or
// BE) or 8-byte BE size; odd sizes are followed by a pad byte.
int WalkChunks(TStream &S, std::int64_t First, std::int64_t StreamSize, bool Strict, bool BigEndian,
               bool Size64, std::uint64_t RF64DataSize, TID3v2ContainerLayout &Out)
{
  const std::int64_t headerSize = Size64 ? 12 : 8;
  const std::int64_t limit = Strict ? Out.FormEnd : StreamSize;
  std::int64_t pos = First;
  int chunks = 0;
  while (pos + headerSize <= limit) {
    if (++chunks > kMaxContainerChunks) return Strict ? ccInconsistent : ccOk;
    TBytes h;
    if (!ReadBlock(S, pos, headerSize, h)) break;
    ByteReader in(h);
    std::string id;
    in.ReadString(4, id);
    std::uint64_t size = 0;
    if (Size64) {
      in.ReadU64BE(size);
    } else {
      std::uint32_t s32 = 0;
      if (BigEndian) in.ReadU32BE(s32);
      else in.ReadU32LE(s32);
      size = s32;
      if (Out.Kind == sftRF64 && id == "data" && s32 == 0xFFFFFFFFu) size = RF64DataSize;
    }
    if (size > static_cast<std::uint64_t>(StreamSize)) {
      if (Strict) return ccInconsistent;
      size = static_cast<std::uint64_t>(StreamSize);
    }
    const std::int64_t dataOffset = pos + headerSize;
    const std::int64_t end = dataOffset + static_cast<std::int64_t>(size);
    std::int64_t padded = end + static_cast<std::int64_t>(size & 1);
    if (Strict) {
      if (end > Out.FormEnd) return ccInconsistent;
      // A pad byte missing only at the very end of the form is tolerated.
      padded = std::min(padded, Out.FormEnd);
    }
    if (!Out.ChunkFound && IsID3ChunkID(Out.Kind, id)) {
      Out.ChunkFound = true;
      Out.ChunkOffset = pos;
      Out.ChunkID = id;
      Out.ChunkDataOffset = dataOffset;
      Out.ChunkDataSize = std::min<std::int64_t>(static_cast<std::int64_t>(size), StreamSize - dataOffset);
      Out.ChunkEnd = std::min(padded, StreamSize);
    }
    if (id == "data" || id == "SSND" || id == "DSD " || id == "DST ") Out.HasDataChunk = true;
    if (end > StreamSize) break;
    pos = padded;
  }
  if (Strict && pos != Out.FormEnd) return ccInconsistent;
  // Readers also find an ID3 chunk that an earlier writer appended behind the form without
  // growing it. A change made inside the form would leave that chunk to come back on the next
  // load, so such a file is refused like any other whose sizes do not add up. Behind an odd
  // form the walk is tried with and without a pad byte.
  if (Strict && Out.FormEnd < StreamSize) {
    for (std::int64_t from = Out.FormEnd; from <= Out.FormEnd + (Out.FormEnd & 1); ++from) {
      TID3v2ContainerLayout behind;
      behind.Kind = Out.Kind;
      WalkChunks(S, from, StreamSize, false, BigEndian, Size64, RF64DataSize, behind);
      if (behind.ChunkFound) return ccInconsistent;
    }
  }
  return ccOk;
}

int ReadWave(TStream &S, std::int64_t Start, std::int64_t StreamSize, bool Strict, bool RF64,
             TID3v2ContainerLayout &Out)
{
  TBytes h;
  if (!ReadBlock(S, Start, 12, h) || std::memcmp(h.data() + 8, "WAVE", 4) != 0)
    return Strict ? ccWrongHeader : ccNotContainer;
  Out.Kind = RF64 ? sftRF64 : sftWAVE;
  ByteReader in(h);
  in.Skip(4);
  std::uint32_t size32 = 0;
  in.ReadU32LE(size32);
  Out.FormSizeOffset = Start + 4;
  Out.FormSizeBytes = 4;
  Out.FormSizeValue = size32;
  std::uint64_t dataSize64 = 0;
  if (RF64) {
    TBytes ds;
    if (ReadBlock(S, Start + 12, 8 + 16, ds) && std::memcmp(ds.data(), "ds64", 4) == 0) {
      ByteReader d(ds);
      d.Skip(8);
      std::uint64_t riff64 = 0;
      d.ReadU64LE(riff64);
      d.ReadU64LE(dataSize64);
      if (size32 == 0xFFFFFFFFu) {
        Out.FormSizeOffset = Start + 20;
        Out.FormSizeBytes = 8;
        Out.FormSizeValue = riff64;
      }
    } else if (Strict && size32 == 0xFFFFFFFFu) {
      return ccInconsistent;
    }
  }
  if (Out.FormSizeValue > static_cast<std::uint64_t>(StreamSize)) {
    if (Strict) return ccInconsistent;
    Out.FormSizeValue = static_cast<std::uint64_t>(StreamSize);
  }
  Out.FormEnd = Start + 8 + static_cast<std::int64_t>(Out.FormSizeValue);
  if (Strict && Out.FormEnd > StreamSize) return ccInconsistent;
  const int rc = WalkChunks(S, Start + 12, StreamSize, Strict, false, false, dataSize64, Out);
  if (rc != ccOk) return rc;
  // Audio outside the form means the sizes were not kept up to date by an earlier writer.
  if (Strict && !Out.HasDataChunk) return ccInconsistent;
  return ccOk;
}

int ReadAIFF(TStream &S, std::int64_t Start, std::int64_t StreamSize, bool Strict, TID3v2ContainerLayout &Out)
{
  TBytes h;
  if (!ReadBlock(S, Start, 12, h) ||
      (std::memcmp(h.data() + 8, "AIFF", 4) != 0 && std::memcmp(h.data() + 8, "AIFC", 4) != 0))
    return Strict ? ccWrongHeader : ccNotContainer;
  Out.Kind = sftAIFF;
  ByteReader in(h);
  in.Skip(4);
  std::uint32_t size32 = 0;
  in.ReadU32BE(size32);
  Out.FormSizeOffset = Start + 4;
  Out.FormSizeBytes = 4;
  Out.FormSizeBigEndian = true;
  Out.FormSizeValue = std::min<std::uint64_t>(size32, static_cast<std::uint64_t>(StreamSize));
  if (Strict && size32 != Out.FormSizeValue) return ccInconsistent;
  Out.FormEnd = Start + 8 + static_cast<std::int64_t>(Out.FormSizeValue);
  if (Strict && Out.FormEnd > StreamSize) return ccInconsistent;
  return WalkChunks(S, Start + 12, StreamSize, Strict, true, false, 0, Out);
}

int ReadDFF(TStream &S, std::int64_t Start, std::int64_t StreamSize, bool Strict, TID3v2ContainerLayout &Out)
{
  TBytes h;
  if (!ReadBlock(S, Start, 16, h) || std::memcmp(h.data() + 12, "DSD ", 4) != 0)
    return Strict ? ccWrongHeader : ccNotContainer;
  Out.Kind = sftDFF;
  ByteReader in(h);
  in.Skip(4);
  std::uint64_t size = 0;
  in.ReadU64BE(size);
  Out.FormSizeOffset = Start + 4;
  Out.FormSizeBytes = 8;
  Out.FormSizeBigEndian = true;
  if (size > static_cast<std::uint64_t>(StreamSize)) {
    if (Strict) return ccInconsistent;
    size = static_cast<std::uint64_t>(StreamSize);
  }
  Out.FormSizeValue = size;
  Out.FormEnd = Start + 12 + static_cast<std::int64_t>(size);
  if (Strict && Out.FormEnd > StreamSize) return ccInconsistent;
  return WalkChunks(S, Start + 16, StreamSize, Strict, true, true, 0, Out);
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
  int rc = ccNotContainer;
  if (id == "RIFF") rc = ReadWave(Stream, Start, size, Strict, false, Out);
  else if (id == "RF64") rc = ReadWave(Stream, Start, size, Strict, true, Out);
  else if (id == "FORM") rc = ReadAIFF(Stream, Start, size, Strict, Out);
  else if (id == "DSD ") rc = ReadDSF(Stream, Start, size, Strict, Out);
  else if (id == "FRM8") rc = ReadDFF(Stream, Start, size, Strict, Out);
  if (rc == ccNotContainer) Out.Kind = sftUnknown;
  return rc;
}
