#include "tags/mp4/mp4_audio.h"

#include <gtest/gtest.h>

#include "tags/streams/file_io.h"
#include "tests/support/test_support.h"

namespace {

Bytes Atom(const char *Type, const Bytes &Body)
{
  return Bytes().U32BE(static_cast<std::uint32_t>(8 + Body.size())).Str(Type).Append(Body);
}

TMP4AudioInfo InfoOf(const Bytes8 &Data, bool Want = true)
{
  TMemoryStream s(Data);
  TMP4AudioInfo info;
  EXPECT_EQ(ReadMP4AudioInfo(s, info), Want);
  return info;
}

} // namespace

// mutagen reads the same bit rate, sample rate, channels, bits per sample and codec; the play time
// is the movie's (ffprobe reads 1.0 too; mutagen's 1.0232 s for the AAC files is the track's,
// priming samples included).
TEST(MP4Audio, PropertiesOfRealFiles)
{
  struct Case {
    const char *fixture;
    TMP4AudioFormat format;
    double playTime;
    std::uint32_t kbps;
  };
  const Case cases[] = {{"m4a/aac-moov-end.m4a", mp4afAAC, 1.0, 94},
                        {"m4a/aac-moov-start.m4a", mp4afAAC, 1.0, 94},
                        {"m4a/aac-notags.m4a", mp4afAAC, 1.0, 94},
                        {"m4a/alac-kid3.m4a", mp4afALAC, 1.0, 1411},
                        {"m4a/alac-moov-start.m4a", mp4afALAC, 1.0, 1411}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.fixture);
    auto file = TFileStream::Open(FixturePath(c.fixture), TFileMode::fmOpenRead);
    ASSERT_NE(file, nullptr);
    TMP4AudioInfo info;
    ASSERT_TRUE(ReadMP4AudioInfo(*file, info));
    EXPECT_EQ(info.Format, c.format);
    EXPECT_NEAR(info.PlayTime, c.playTime, 1e-6);
    EXPECT_EQ(info.BitRate, c.kbps);
    EXPECT_EQ(info.SampleRate, 44100u);
    EXPECT_EQ(info.Channels, 2);
    EXPECT_EQ(info.BitsPerSample, 16);
    EXPECT_GT(info.MediaSize, 0);
  }
}

TEST(MP4Audio, MovieHeaderVersionsAndZeroTimeScale)
{
  const Bytes v0 = Atom("mvhd", Bytes().U8(0).Zeros(3).Zeros(8).U32BE(1000).U32BE(2500).Zeros(80));
  const Bytes v1 = Atom("mvhd", Bytes().U8(1).Zeros(3).Zeros(16).U32BE(48000).U64BE(48000ull * 7200).Zeros(80));
  const Bytes zero = Atom("mvhd", Bytes().U8(0).Zeros(3).Zeros(8).U32BE(0).U32BE(2500).Zeros(80));
  const Bytes ftyp = Atom("ftyp", Bytes().Str("M4A ").U32BE(0));
  // mdat of 1008 bytes in front: the bit rate comes from the media size when nothing gives it.
  const Bytes mdat = Atom("mdat", Bytes().Zeros(1000));
  EXPECT_DOUBLE_EQ(InfoOf(Bytes().Append(ftyp).Append(mdat).Append(Atom("moov", v0)).v).PlayTime, 2.5);
  EXPECT_EQ(InfoOf(Bytes().Append(ftyp).Append(mdat).Append(Atom("moov", v0)).v).BitRate, 3u);  // 1008 / 2.5 / 125 = 3.2
  EXPECT_DOUBLE_EQ(InfoOf(Bytes().Append(ftyp).Append(Atom("moov", v1)).v).PlayTime, 7200.0);
  const TMP4AudioInfo none = InfoOf(Bytes().Append(ftyp).Append(mdat).Append(Atom("moov", zero)).v);
  EXPECT_EQ(none.PlayTime, 0.0);
  EXPECT_EQ(none.BitRate, 0u);
  InfoOf(Bytes().Append(ftyp).Append(mdat).v, false);
  InfoOf(Bytes().Append(ftyp).Append(Atom("moov", Atom("mvhd", Bytes().U8(1).Zeros(10)))).v, false);
}

TEST(MP4Audio, LargestTrackSizeOfBothHeaderVersions)
{
  const Bytes mvhd = Atom("mvhd", Bytes().U8(0).Zeros(3).Zeros(8).U32BE(1000).U32BE(1000).Zeros(80));
  const auto tkhd = [](std::uint8_t Version, std::uint32_t W, std::uint32_t H) {
    return Atom("trak", Atom("tkhd", Bytes().U8(Version).Zeros(Version == 1 ? 87 : 75).U32BE(W << 16).U32BE(H << 16)));
  };
  const Bytes file = Bytes()
                         .Append(Atom("ftyp", Bytes().Str("M4V ")))
                         .Append(Atom("moov", Bytes().Append(mvhd).Append(tkhd(0, 640, 360)).Append(tkhd(1, 1920, 1080))
                                                  .Append(tkhd(0, 320, 240))));
  const TMP4AudioInfo info = InfoOf(file.v);
  EXPECT_EQ(info.VideoWidth, 1920u);
  EXPECT_EQ(info.VideoHeight, 1080u);
  EXPECT_EQ(info.Format, mp4afUnknown);
}
