#include "tags/audio/monkey_audio.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "tests/support/audio_reading.h"
#include "tests/support/container_bytes.h"
#include "tests/support/test_support.h"

namespace {

Bytes MonkeyNew(std::uint32_t descriptorBytes, std::uint32_t headerBytes, std::uint32_t blocksPerFrame,
                std::uint32_t finalBlocks, std::uint32_t frames)
{
  Bytes b;
  b.Str("MAC ").U16LE(3990).U16LE(0).U32LE(descriptorBytes).U32LE(headerBytes).Zeros(20).Zeros(16);
  if (descriptorBytes > 52) b.Zeros(descriptorBytes - 52);
  b.U16LE(2000).U16LE(0).U32LE(blocksPerFrame).U32LE(finalBlocks).U32LE(frames).U16LE(16).U16LE(2).U32LE(44100);
  return b;
}

TEST(Monkey, Version3970Normal)
{
  Bytes b = MonkeyOld(3970, 2000, 0, 3, 1000);
  b.Zeros(100);
  auto s = StreamOf(b);
  TMonkey k;
  ASSERT_TRUE(k.LoadFromStream(s, 0, 0));
  EXPECT_EQ(k.TotalSamples, 2 * 294912 + 1000);
  EXPECT_EQ(k.CompressionModeStr, "Normal");
  EXPECT_EQ(k.VersionStr, "3.97");
  EXPECT_EQ(k.Bits, 16);
  EXPECT_EQ(k.Channels, 2);
  EXPECT_DOUBLE_EQ(k.Duration, (2.0 * 294912 + 1000) / 44100);
}

TEST(Monkey, BlocksPerFrameAndFlagsBeforeVersion3950)
{
  struct Case { std::uint16_t version, compression; std::int64_t blocks; };
  for (const Case &c : {Case{3900, 1000, 73728}, Case{3800, 4000, 73728}, Case{3800, 3000, 9216}, Case{3950, 1000, 294912}}) {
    auto b = MonkeyOld(c.version, c.compression, 0, 2, 0);
    auto s = StreamOf(b);
    TMonkey k;
    ASSERT_TRUE(k.LoadFromStream(s, 0, 0));
    EXPECT_EQ(k.TotalSamples, c.blocks) << c.version;
  }
  auto b = MonkeyOld(3970, 1234, 8 | 4 | 16, 1, 10);
  auto s = StreamOf(b);
  TMonkey k;
  ASSERT_TRUE(k.LoadFromStream(s, 0, 0));
  EXPECT_EQ(k.Bits, 24);
  EXPECT_TRUE(k.HasSeekElements);
  EXPECT_TRUE(k.WavNotStored);
  EXPECT_FALSE(k.HasPeakLevel);
  EXPECT_EQ(k.CompressionModeStr, "1234");
}

TEST(Monkey, Version3980AndLater)
{
  Bytes b = MonkeyNew(52, 24, 73728, 500, 4);
  b.Zeros(1000);
  auto s = StreamOf(b);
  TMonkey k;
  ASSERT_TRUE(k.LoadFromStream(s, 0, 0));
  EXPECT_EQ(k.Version, 3990);
  EXPECT_EQ(k.VersionStr, "3.99");
  EXPECT_EQ(k.TotalSamples, 3 * 73728 + 500);
  EXPECT_EQ(k.SampleRate, 44100);
  EXPECT_EQ(k.Channels, 2);
  EXPECT_EQ(k.Bits, 16);
  EXPECT_EQ(k.CompressionModeStr, "Normal");
  EXPECT_GT(k.Bitrate, 0);

  // A longer descriptor is skipped.
  auto longer = MonkeyNew(60, 24, 73728, 500, 4);
  auto ls = StreamOf(longer);
  ASSERT_TRUE(k.LoadFromStream(ls, 0, 0));
  EXPECT_EQ(k.TotalSamples, 3 * 73728 + 500);
}

TEST(Monkey, HostileHeadersAreNotValid)
{
  struct Case { const char *name; Bytes input; };
  const Case cases[] = {
    {"descriptor_shorter_than_itself", MonkeyNew(10, 24, 73728, 500, 4)},
    {"descriptor_past_end", Bytes().Str("MAC ").U16LE(3990).U16LE(0).U32LE(0xFFFFFFF0u).U32LE(24).Zeros(36)},
    {"header_size_zero", MonkeyNew(52, 0, 73728, 500, 4)},
    {"no_frames", MonkeyNew(52, 24, 73728, 500, 0)},
    {"sample_count_overflow", MonkeyNew(52, 24, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu)},
    {"old_truncated", Bytes().Str("MAC ").U16LE(3970).U16LE(2000)},
    {"magic_only", Bytes().Str("MAC ")},
    {"foreign", Bytes().Str("fLaC").Zeros(60)},
    {"empty", Bytes()},
  };
  for (const Case &c : cases) {
    auto s = StreamOf(c.input);
    TMonkey k;
    EXPECT_FALSE(k.LoadFromStream(s, 0, 0)) << c.name;
    EXPECT_FALSE(k.Valid) << c.name;
    EXPECT_EQ(k.Duration, 0) << c.name;
  }
}

} // namespace
