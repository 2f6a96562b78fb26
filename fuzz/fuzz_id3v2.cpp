// Fuzz target: the ID3v2 reader over any bytes as a stream (tag at the start, inside a RIFF,
// AIFF, DSF or DSDIFF container, or after a searched prefix), every frame through the content
// readers, then the writer into a copy of the same bytes and the reader again.
// Properties: every text read is UTF-8; a tag the writer reports as written loads back with
// the same frames, and saving those again changes nothing.

#include "fuzz/fuzz_entry.h"
#include "tags/id3/id3v2_frame_content.h"
#include "tags/id3/id3v2_tag.h"
#include "tags/text/text.h"

namespace {

void ReadEveryFrame(const TID3v2Frames &Frames)
{
  for (int i = 0; i < Frames.FrameCount(); ++i) {
    const TID3v2Frame *f = Frames.Frame(i);
    std::string a, b, c;
    std::vector<std::string> list;
    FuzzRequire(IsValidUtf8(Frames.GetText(i)));
    Frames.GetTextMultiple(i, list);
    Frames.GetUserDefinedTextInformation(i, a, b);
    FuzzRequire(IsValidUtf8(a) && IsValidUtf8(b));
    Frames.GetContent(i, a, b, c);
    FuzzRequire(IsValidUtf8(b) && IsValidUtf8(c));
    Frames.GetListFrame(i, list);
    FuzzRequire(IsValidUtf8(Frames.GetURL(i)));
    Frames.GetUserDefinedURLLink(i, a, b);
    TBytes bytes;
    std::uint8_t type = 0;
    Frames.GetCoverPictureInfo(i, bytes, a, b, type);
    std::uint64_t counter = 0;
    Frames.GetPopularimeter(i, a, type, counter);
    Frames.GetPlayCount(i);
    Frames.GetUFID(i, a, b);
    Frames.GetGEOB(i, a, b, c, bytes);
    FuzzRequire(IsValidUtf8(ID3v2GenreToText(Frames.GetText(i))));
    if (const auto *chapter = dynamic_cast<const TID3v2FrameWithSubFrames *>(f)) ReadEveryFrame(*chapter->SubFrames);
  }
}

TBytes SaveCopy(TID3v2Tag &Tag, const TBytes &Original, int &Result)
{
  TMemoryStream copy(Original);
  Result = Tag.SaveToStream(copy);
  return copy.Data();
}

} // namespace

int FuzzID3v2(const std::uint8_t *Data, std::size_t Size)
{
  const TBytes bytes(Data, Data + Size);
  TMemoryStream source(bytes);
  TID3v2Tag tag;
  tag.BeginningSearchLength = 64;
  if (tag.LoadFromStream(source, true) != id3v2Ok) return 0;
  tag.DeCompressAllFrames();
  ReadEveryFrame(tag);
  FuzzRequire(tag.Size >= 10);

  TID3v2Tag copy;
  copy.Assign(tag);
  FuzzRequire(copy.FrameCount() == tag.FrameCount());

  // A tag with nothing the target version can hold is stripped instead of written.
  const bool nothingToWrite = tag.CalculateTagSize(0) == 10;
  int rc = 0;
  const TBytes saved = SaveCopy(tag, bytes, rc);
  if (rc != id3v2Ok || nothingToWrite) return 0;
  TMemoryStream reread(saved);
  TID3v2Tag again;
  FuzzRequire(again.LoadFromStream(reread) == id3v2Ok);
  FuzzRequire(!again.Error());
  again.DeCompressAllFrames();
  ReadEveryFrame(again);
  const TBytes resaved = SaveCopy(again, saved, rc);
  FuzzRequire(rc == id3v2Ok);
  FuzzRequire(resaved == saved);
  return 0;
}

CORVELLA_FUZZ_TARGET("fuzz_id3v2", FuzzID3v2)
