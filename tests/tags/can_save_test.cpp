#include "tags/tag_container.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace {

struct TWritableCase {
  const char *Fixture;
  const char *As;  // the name the copy gets (its extension counts)
  bool Want;
};

// Whether an automatic save has a writer, asked with and without the content type from the
// load: by a loaded tag, by the content, by the extension.
TEST(CanSaveTagsToFile, WritableWhenSomeFormatOfTheFileHasAWriter)
{
  const TWritableCase cases[] = {
    {"mp3/notags.mp3", "a.mp3", true},                // content: MPEG
    {"mp3/id3v1-only.mp3", "a.bin", true},            // a loaded ID3v1 tag
    {"wav/notags.wav", "a.wav", true},                // content: WAV
    {"flac/id3v2-prepended.flac", "a.flac", true},    // a loaded ID3v2 tag
    {"flac/notags.flac", "a.flac", true},             // content: FLAC
    {"flac/vorbiscomment.flac", "a.bin", true},       // a loaded FLAC tag
    {"ogg/vorbis-tagged.ogg", "a.ogg", true},         // content: Ogg Vorbis
    {"oga/oggflac-notags.oga", "a.oga", true},        // content: Ogg FLAC
    {"m4a/aac-notags.m4a", "a.m4a", true},            // content: MP4
    {"wma/wma-notags.wma", "a.wma", true},            // content: ASF
    {"m4a/aac-notags.m4a", "a.mp3", true},            // the extension asks for ID3v2
  };
  for (const TWritableCase &c : cases) {
    for (const bool detect : {true, false}) {
      SCOPED_TRACE(std::string(c.Fixture) + " as " + c.As + (detect ? " detected" : ""));
      TempDir dir;
      const std::string file = dir.CopyFixture(c.Fixture, c.As);
      TTags tags;
      tags.DetectContainerType = detect;
      ASSERT_EQ(tags.LoadFromFile(file), tagsOk);
      EXPECT_EQ(CanSaveTagsToFile(tags, file), c.Want);
    }
  }
}

} // namespace
