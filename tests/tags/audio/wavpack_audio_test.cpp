#include "tags/audio/wavpack_audio.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "tags/audio/monkey_audio.h"
#include "tests/support/audio_reading.h"
#include "tests/support/container_bytes.h"
#include "tests/support/test_support.h"

namespace {

// WavPack 4 block header: "wvpk", block size, version, track, index, total samples, block index,
// block samples, flags, CRC; then Tail.
Bytes WavPack4(std::uint32_t flags, std::uint32_t totalSamples, const Bytes &tail = Bytes())
{
  return Bytes().Str("wvpk").U32LE(1000).U16LE(0x0410).U8(0).U8(0).U32LE(totalSamples).U32LE(0).U32LE(totalSamples)
    .U32LE(flags).U32LE(0).Append(tail);
}

constexpr std::uint32_t RateIndex(std::uint32_t i) { return i << 23; }

TEST(WavPack4, MonoTwentyFourBit)
{
  // Mono flag (4) and bytes-per-sample 3 (flags & 3 == 2); rate index 9 is 44100.
  const Bytes b = WavPack4(4u | 2u | RateIndex(9), 88200, Bytes().Zeros(8));
  auto s = StreamOf(b);
  TWAVPackfile w;
  ASSERT_TRUE(w.LoadFromStream(s, 0));
  EXPECT_EQ(w.Channels, 1);
  EXPECT_EQ(w.ChannelMode, "Mono");
  EXPECT_EQ(w.Bits, 24);
  EXPECT_EQ(w.SampleRate, 44100);
  EXPECT_EQ(w.Version, 4);
  EXPECT_EQ(w.Samples, 88200);
  EXPECT_DOUBLE_EQ(w.Duration, 2.0);
  EXPECT_EQ(w.Encoder, "lossless");
}

TEST(WavPack4, SampleRateIndexOutsideTableReads44100)
{
  for (std::uint32_t index : {15u, 31u}) {
    auto b = WavPack4(RateIndex(index) | 1u, 44100);
    auto s = StreamOf(b);
    TWAVPackfile w;
    ASSERT_TRUE(w.LoadFromStream(s, 0));
    EXPECT_EQ(w.SampleRate, 44100) << index;
    EXPECT_EQ(w.Channels, 2);
    EXPECT_EQ(w.Bits, 16);
  }
  auto b = WavPack4(RateIndex(14), 192000);
  auto s = StreamOf(b);
  TWAVPackfile w;
  ASSERT_TRUE(w.LoadFromStream(s, 0));
  EXPECT_EQ(w.SampleRate, 192000);
}

TEST(WavPack4, EncoderModeFromConfigSubBlock)
{
  struct Case { std::uint32_t flags; std::uint8_t mode; const char *want; };
  const Case cases[] = {
    {0, 8, "lossless (high)"}, {0, 0, "lossless (normal)"}, {0, 2, "lossless (fast)"},
    {0, 6, "lossless (very fast)"}, {0, 5, "lossless"}, {8, 8, "hybrid lossy (high)"},
  };
  for (const Case &c : cases) {
    auto b = WavPack4(c.flags | RateIndex(9), 44100, Bytes().Zeros(7).U8(0x65).U8(0x02).U8(c.mode));
    auto s = StreamOf(b);
    TWAVPackfile w;
    ASSERT_TRUE(w.LoadFromStream(s, 0));
    EXPECT_EQ(w.Encoder, c.want);
  }
  // The pair as the very last bytes has no mode byte after it.
  auto b = WavPack4(RateIndex(9), 44100, Bytes().U8(0x65).U8(0x02));
  auto s = StreamOf(b);
  TWAVPackfile w;
  ASSERT_TRUE(w.LoadFromStream(s, 0));
  EXPECT_EQ(w.Encoder, "lossless");
}

TEST(WavPack4, BitrateAndZeroOrUnknownLength)
{
  // 32 header + 968 bytes, 100 of them a tag, one second long: 900 * 8 / 1000 kbit/s.
  auto b = WavPack4(RateIndex(9), 44100, Bytes().Zeros(968));
  auto s = StreamOf(b);
  TWAVPackfile w;
  ASSERT_TRUE(w.LoadFromStream(s, 100));
  EXPECT_DOUBLE_EQ(w.Bitrate, 7.2);
  EXPECT_EQ(w.FileSize, 1000);

  for (std::uint32_t samples : {0u, 0xFFFFFFFFu}) {
    auto z = WavPack4(RateIndex(9), samples);
    auto zs = StreamOf(z);
    ASSERT_TRUE(w.LoadFromStream(zs, 0));
    EXPECT_EQ(w.Samples, 0);
    EXPECT_EQ(w.Duration, 0);
    EXPECT_EQ(w.Bitrate, 0);
    EXPECT_TRUE(std::isfinite(w.Ratio));
  }
}

TEST(WavPack3, RiffLayoutWithOddChunkBeforeFmt)
{
  Bytes wv3;
  wv3.Str("wvpk").U32LE(32).U16LE(3).U16LE(0).U16LE(0x10 | 0x8000).U16LE(0).U32LE(88200).Zeros(16);
  Bytes chunks;
  chunks.Append(RiffChunk("junk", Bytes().Zeros(3)))  // odd size, padded
    .Append(RiffChunk("fmt ", WaveFmt(1, 2, 22050, 16)))
    .Str("data").U32LE(0x7FFFFFF0).Append(wv3);  // size past the end
  const Bytes b = Wave(chunks);
  auto s = StreamOf(b);
  TWAVPackfile w;
  ASSERT_TRUE(w.LoadFromStream(s, 0));
  EXPECT_EQ(w.FormatTag, 1);
  EXPECT_EQ(w.Version, 3);
  EXPECT_EQ(w.Channels, 2);
  EXPECT_EQ(w.SampleRate, 22050);
  EXPECT_EQ(w.Bits, 16);
  EXPECT_EQ(w.Samples, 88200);
  EXPECT_DOUBLE_EQ(w.Duration, 4.0);
  EXPECT_EQ(w.Encoder, "lossless (high mode)");
  EXPECT_DOUBLE_EQ(w.Bitrate, (static_cast<double>(b.size()) - 32) * 8 / 4000);
}

TEST(WavPack3, EncoderTexts)
{
  struct Case { std::uint16_t bits, flags; const char *want; };
  const Case cases[] = {
    {0, 0, "lossless (fast mode)"}, {0, 0x10, "lossless"}, {5, 0x400, "hybrid lossy"},
    {5, 0x400 | 0x80 | 0x8000, "hybrid lossless (high)"}, {5, 0x10, "8-bit lossy high"},
    {5, 0x02, "8-bit lossy fast"}, {5, 0, "8-bit lossy"},
  };
  for (const Case &c : cases) {
    const Bytes wv3 = Bytes().Str("wvpk").U32LE(32).U16LE(3).U16LE(c.bits).U16LE(static_cast<std::uint16_t>(c.flags | 1))
      .U16LE(0).U32LE(44100).Zeros(16);
    const Bytes b = Wave(RiffChunk("fmt ", WaveFmt(1, 2, 0, 16)).Append(RiffChunk("data", wv3)));
    auto s = StreamOf(b);
    TWAVPackfile w;
    ASSERT_TRUE(w.LoadFromStream(s, 0));
    EXPECT_EQ(w.Encoder, c.want);
    EXPECT_EQ(w.Channels, 1);
    EXPECT_EQ(w.SampleRate, 44100);  // 0 in the fmt chunk
  }
}

TEST(WavPack3, ChunkWalkStaysBounded)
{
  // Chunks of size 0 one after another end at the stream's end without a fmt chunk.
  Bytes empties;
  for (int i = 0; i < 10000; ++i) empties.Append(RiffChunk("abcd", Bytes()));
  const Bytes b = Wave(empties);
  auto s = StreamOf(b);
  TWAVPackfile w;
  EXPECT_FALSE(w.LoadFromStream(s, 0));

  // A chunk size reaching past the end stops the walk.
  const Bytes c = Wave(Bytes().Str("LIST").U32LE(0xFFFFFFFFu).Str("fmt "));
  auto cs = StreamOf(c);
  EXPECT_FALSE(w.LoadFromStream(cs, 0));
}

TEST(WavPack, TruncatedOrForeignHeadersAreNotValid)
{
  const Bytes full = WavPack4(RateIndex(9), 44100);
  struct Case { const char *name; Bytes input; };
  const Case cases[] = {
    {"empty", Bytes()},
    {"magic_only", Bytes().Str("wvpk")},
    {"header_cut", Bytes().Append(Bytes8(full.v.begin(), full.v.begin() + 20))},
    {"riff_without_wave", Bytes().Str("RIFF").U32LE(4).Str("AVI ")},
    {"riff_fmt_too_small", Wave(RiffChunk("fmt ", Bytes().Zeros(8)))},
    {"riff_fmt_cut", Wave(Bytes().Str("fmt ").U32LE(16).Zeros(6))},
    {"foreign", Bytes().Str("OggS").Zeros(40)},
  };
  for (const Case &c : cases) {
    auto s = StreamOf(c.input);
    TWAVPackfile w;
    EXPECT_FALSE(w.LoadFromStream(s, 0)) << c.name;
    EXPECT_FALSE(w.Valid) << c.name;
  }
}

TEST(WavPackFixture, LoadsFromFile)
{
  struct Case { const char *file; std::int64_t tagSize; };
  // The APEv2 tag of the tagged copy: 941 bytes of items and footer plus a 32-byte header.
  for (const Case &c : {Case{"wv/wavpack-notags.wv", 0}, Case{"wv/wavpack-apev2.wv", 973}}) {
    TWAVPackfile w;
    ASSERT_TRUE(w.LoadFromFile(FixturePath(c.file), c.tagSize)) << c.file;
    EXPECT_EQ(w.SampleRate, 44100);
    EXPECT_EQ(w.Channels, 2);
    EXPECT_EQ(w.Bits, 16);
    EXPECT_EQ(w.Samples, 44100);
    EXPECT_DOUBLE_EQ(w.Duration, 1.0);
    EXPECT_NEAR(w.Bitrate, 429.488, 1e-9);
    EXPECT_EQ(w.Encoder.rfind("lossless", 0), 0u) << w.Encoder;
  }
  TWAVPackfile missing;
  EXPECT_FALSE(missing.LoadFromFile(FixturePath("wv/does-not-exist.wv"), 0));
  TMonkey notMonkey;
  EXPECT_FALSE(notMonkey.LoadFromFile(FixturePath("wv/wavpack-notags.wv"), 0, 0));
}

} // namespace
