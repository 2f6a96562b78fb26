// Fuzz target: the tag container over any bytes held in memory (every native loader that
// exists, the merge into generic entries, the pictures), then the content sniffer over the same
// bytes, then an automatic save of what was loaded into a copy of them.
// Properties: nothing crashes or reads outside the block, every entry is UTF-8, and a copy that
// the save reports as written loads again.

#include "fuzz/fuzz_entry.h"
#include "tags/detect/content_type.h"
#include "tags/tag_container.h"
#include "tags/text/text.h"

int FuzzTagsLoadFromMemory(const std::uint8_t *Data, std::size_t Size)
{
  const auto size = static_cast<std::int64_t>(Size);
  TTags tags;
  tags.LoadFromMemory(Data, size);
  for (const char *name : {"TITLE", "ARTIST", "ALBUM", "YEAR", "COMMENT", "TRACKNUMBER", "GENRE", "LYRICS"})
    FuzzRequire(IsValidUtf8(tags.GetText(name)));
  for (const auto &tag : tags.Tags) FuzzRequire(IsValidUtf8(tag->Name) && IsValidUtf8(tag->Value));
  FuzzRequire(tags.Count() >= 0 && tags.CoverArtCount() >= 0);
  for (const auto &cover : tags.CoverArts) FuzzRequire(cover->Stream.GetSize() >= 0);

  TReadMemoryStream stream(Data, size);
  const TAudioContainerType type = GetAudioContainerTypeFromStream(stream);
  FuzzRequire(AudioContainerTypeName(type) != nullptr);

  TMemoryStream copy(TBytes(Data, Data + Size));
  if (tags.SaveToStream(copy, false, ttAutomatic) == tagsOk) {
    TTags again;
    FuzzRequire(again.LoadFromStream(copy, true) == tagsOk);
    for (const auto &tag : again.Tags) FuzzRequire(IsValidUtf8(tag->Value));
  }
  return 0;
}

CORVELLA_FUZZ_TARGET("fuzz_tags_load", FuzzTagsLoadFromMemory)
