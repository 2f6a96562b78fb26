#include "tags/tag_type.h"

const char *TagTypeName(TTagType T)
{
  static const char *const kNames[] = {"ttNone", "ttAutomatic", "ttAPEv2", "ttFlac", "ttID3v1", "ttID3v2", "ttMP4",
                                       "ttOpusVorbis", "ttWAV", "ttWMA", "ttMP4Xtra", "ttLyrics2", "ttMKV"};
  return (T >= 0 && T <= ttMKV) ? kNames[T] : "ttNone";
}
