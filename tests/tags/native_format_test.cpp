#include "tags/native_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace {

// The save and removal order the container promises: APEv2, FLAC, ID3v1, ID3v2, MP4, Ogg, WAV,
// WMA. A row that joins must take its place in it.
TEST(NativeFormats, RowsAreUniqueAndInSaveOrder)
{
  const TTagType order[] = {ttAPEv2, ttFlac, ttID3v1, ttID3v2, ttMP4, ttOpusVorbis, ttWAV, ttWMA};
  std::set<TTagType> seen;
  const TTagType *last = std::begin(order);
  for (const TNativeFormat *f : NativeFormats()) {
    ASSERT_NE(f, nullptr);
    EXPECT_TRUE(seen.insert(f->Type).second) << TagTypeName(f->Type);
    const TTagType *at = std::find(last, std::end(order), f->Type);
    EXPECT_NE(at, std::end(order)) << TagTypeName(f->Type) << " is out of order or not a native format";
    last = at;
  }
}

// Every row can load, map and clear, and its success code becomes the container's.
TEST(NativeFormats, EveryRowLoadsMapsAndMapsItsSuccessCode)
{
  for (const TNativeFormat *f : NativeFormats()) {
    SCOPED_TRACE(TagTypeName(f->Type));
    EXPECT_NE(f->Load, nullptr);
    EXPECT_NE(f->IsLoaded, nullptr);
    EXPECT_NE(f->MapToEntries, nullptr);
    EXPECT_NE(f->Clear, nullptr);
    ASSERT_FALSE(f->Codes.empty());
    EXPECT_EQ(f->Codes.front().Container, tagsOk);
  }
}

// A row's hooks answer for an empty container without touching anything.
TEST(NativeFormats, HooksOnAnEmptyContainer)
{
  TTags tags;
  for (const TNativeFormat *f : NativeFormats()) {
    SCOPED_TRACE(TagTypeName(f->Type));
    EXPECT_FALSE(f->IsLoaded(tags));
    if (f->Extent) {
      const TTagExtent e = f->Extent(tags);
      EXPECT_EQ(e.AtStart, 0);
      EXPECT_EQ(e.AtEnd, 0);
    }
    if (f->PlayTime) {
      EXPECT_FALSE(f->PlayTime(tags).has_value());
    }
    if (f->AudioValue) {
      EXPECT_FALSE(f->AudioValue(tags, TAudioValue::avBitRate).has_value());
    }
  }
}

} // namespace
