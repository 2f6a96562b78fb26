#pragma once
// Where an ID3v2 tag lives inside an audio container, and whether the container's sizes add up
// before a writer changes it: RIFF WAVE (chunk "id3 ", "ID3 " or "ID32") and RF64 (EBU Tech
// 3306, with the 64-bit sizes of its "ds64" chunk), AIFF/AIFC (EA IFF 85, chunk "ID3 "), DSF
// (Sony DSF 1.01: the metadata offset in the "DSD " chunk) and DSDIFF 1.5 ("FRM8" form, chunk
// "ID3 " with 64-bit size). The chunk forms are read and checked by the chunk layer of
// tags/riff, whose walks are bounded by the stream and by kMaxFormChunks; the DSF header is
// read here.

#include <cstdint>
#include <string>

#include "tags/audio/audio_readers.h"
#include "tags/riff/chunk_walker.h"
#include "tags/streams/stream.h"

struct TID3v2ContainerLayout {
  TSourceFileType Kind = sftUnknown;
  // The form's size field: its offset, width (4 or 8), byte order and value. For RF64 with the
  // 32-bit field at FFFFFFFF hex it is the RIFF size in "ds64"; for DSF the file size.
  std::int64_t FormSizeOffset = 4;
  int FormSizeBytes = 4;
  bool FormSizeBigEndian = false;
  std::uint64_t FormSizeValue = 0;
  // Where a new chunk goes: the end of the form's extent.
  std::int64_t FormEnd = 0;
  // The ID3 chunk: header offset, id, data offset and size, and its end with the pad byte.
  // For DSF the "chunk" is the metadata area from its offset to the end of the file.
  bool ChunkFound = false;
  std::int64_t ChunkOffset = -1;
  std::string ChunkID;
  std::int64_t ChunkDataOffset = -1;
  std::int64_t ChunkDataSize = 0;
  std::int64_t ChunkEnd = 0;
  bool HasDataChunk = false;
  // The chunk form (not for DSF); after a strict read its chunks, of which the ID3 chunk is
  // number ChunkIndex.
  TChunkForm Form;
  int ChunkIndex = -1;
  // DSF: the offset field (byte 20) and the end of the sound data.
  std::uint64_t DSFMetadataOffset = 0;
  std::int64_t DSFDataEnd = 0;
};

enum TID3v2ContainerCheck : int {
  ccOk = 0,
  ccNotContainer = 1,   // none of the known container headers
  ccInconsistent = 7,   // a size runs past its form or the file; the sizes do not add up
  ccWrongHeader = 9,    // "RIFF"/"RF64"/"FORM" without a form type this tag can live in
};

// Reads the container starting at Start. Without Strict (reading) the chunk walk is bounded
// only by the stream; with Strict (writing, removal) every size must fit the form and the file
// and the chunks must fill the form exactly, and a WAVE form must hold its "data" chunk.
int ReadID3v2ContainerLayout(TStream &Stream, std::int64_t Start, bool Strict, TID3v2ContainerLayout &Out);
