// Fuzz target: the ID3v1 and Lyrics3 reader over any bytes as a stream, then the writer into a
// copy of the same bytes and the reader again over what it wrote.
// Properties: a record that the writer reports as written can be read back, and saving it
// again unchanged gives the same bytes.

#include "fuzz/fuzz_entry.h"
#include "tags/id3/id3v1_tag.h"

int FuzzID3v1LoadSaveLoad(const std::uint8_t *Data, std::size_t Size)
{
  const TBytes bytes(Data, Data + Size);
  TMemoryStream source(bytes);
  TID3v1Tag tag;
  tag.LoadFromStream(source);
  static_cast<void>(tag.GetLyrics());

  TMemoryStream copy(bytes);
  if (tag.SaveToStream(copy, !tag.LyricsFrames.empty()) != id3v1Ok) return 0;
  TID3v1Tag again;
  FuzzRequire(again.LoadFromStream(copy) == id3v1Ok);

  // Saving what was read back changes nothing: the writer is stable after one round.
  TMemoryStream resaved(copy.Data());
  FuzzRequire(again.SaveToStream(resaved, !again.LyricsFrames.empty()) == id3v1Ok);
  FuzzRequire(resaved.Data() == copy.Data());
  return 0;
}

CORVELLA_FUZZ_TARGET("fuzz_id3v1", FuzzID3v1LoadSaveLoad)
