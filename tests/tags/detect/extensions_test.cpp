#include "tags/detect/extensions.h"

#include <gtest/gtest.h>

#include <cctype>

#include "tests/support/container_bytes.h"
#include "tests/support/test_support.h"

namespace {

TEST(TagTypesByExtension, Table)
{
  struct Case { const char *name; TTagTypes want; };
  const Case cases[] = {
    {"a.mp3", TagTypeBit(ttID3v2)},  {"a.AIFF", TagTypeBit(ttID3v2)},   {"a.dff", TagTypeBit(ttID3v2)},
    {"a.wav", TagTypeBit(ttWAV) | TagTypeBit(ttID3v2)},                   {"a.BWF", TagTypeBit(ttWAV) | TagTypeBit(ttID3v2)},
    {"a.ape", TagTypeBit(ttAPEv2)},  {"a.wv", TagTypeBit(ttAPEv2)},      {"a.m4b", TagTypeBit(ttMP4)},
    {"a.wma", TagTypeBit(ttWMA)},    {"a.oga", TagTypeBit(ttFlac)},      {"a.opus", TagTypeBit(ttOpusVorbis)},
    {"a.xyz", TagTypeBit(ttAPEv2)},  {"noext", TagTypeBit(ttAPEv2)},     {"dir.mp3/file", TagTypeBit(ttAPEv2)},
  };
  for (const Case &c : cases) EXPECT_EQ(GetTagTypesByExtension(c.name), c.want) << c.name;
}

} // namespace
