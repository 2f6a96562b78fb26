#include "tags/audio/audio_attributes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "tags/streams/stream.h"
#include "tags/tag_container.h"
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

// Musepack SV8 stream header packet after "MPCKSH": size, CRC, version, samples, silence, rate, channels.
Bytes MusepackSV8(const Bytes &sampleCountVarLen, std::uint8_t rateByte, std::uint8_t channelByte)
{
  return Bytes().Str("MPCKSH").U8(0x10).U32LE(0).U8(8).Append(sampleCountVarLen).U8(0).U8(rateByte).U8(channelByte);
}

// Musepack SV7 header: 32 bytes with the fields this reader uses.
Bytes MusepackSV7(std::uint32_t frames, std::uint8_t byte10, std::uint8_t byte11, std::uint8_t encoder)
{
  Bytes b;
  b.U32LE(0x072B504Du).U32LE(frames).Zeros(2).U8(byte10).U8(byte11).Zeros(15).U8(encoder).Zeros(4);
  return b;
}

Bytes MonkeyOld(std::uint16_t version, std::uint16_t compression, std::uint16_t flags, std::uint32_t frames,
                std::uint32_t finalBlocks)
{
  return Bytes().Str("MAC ").U16LE(version).U16LE(compression).U16LE(flags).U16LE(2).U32LE(44100).U32LE(0).U32LE(0)
    .U32LE(frames).U32LE(finalBlocks).U32LE(0);
}

Bytes MonkeyNew(std::uint32_t descriptorBytes, std::uint32_t headerBytes, std::uint32_t blocksPerFrame,
                std::uint32_t finalBlocks, std::uint32_t frames)
{
  Bytes b;
  b.Str("MAC ").U16LE(3990).U16LE(0).U32LE(descriptorBytes).U32LE(headerBytes).Zeros(20).Zeros(16);
  if (descriptorBytes > 52) b.Zeros(descriptorBytes - 52);
  b.U16LE(2000).U16LE(0).U32LE(blocksPerFrame).U32LE(finalBlocks).U32LE(frames).U16LE(16).U16LE(2).U32LE(44100);
  return b;
}

TReadMemoryStream StreamOf(const Bytes &b) { return TReadMemoryStream(b.v.data(), static_cast<std::int64_t>(b.size())); }

} // namespace

TEST(RoundHalfEven, Table)
{
  struct Case { double in; std::int64_t want; };
  const Case cases[] = {
    {2.5, 2}, {3.5, 4}, {-0.5, 0}, {-1.5, -2}, {-2.5, -2}, {0.49999999999999994, 0}, {1.2, 1}, {1.7, 2},
    {-1.7, -2}, {std::nan(""), 0}, {INFINITY, 0}, {-INFINITY, 0},
    {1e300, std::numeric_limits<std::int64_t>::max()}, {-1e300, std::numeric_limits<std::int64_t>::min()},
  };
  for (const Case &c : cases) EXPECT_EQ(RoundHalfEven(c.in), c.want) << c.in;
}

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

TEST(Musepack, SV8ChannelByteAndDuration)
{
  // Sample count 88200 as a variable-length number: 0x85 0xB1 0x08.
  const Bytes b = MusepackSV8(Bytes().U8(0x85).U8(0xB1).U8(0x08), 0x00, 0x10);
  auto s = StreamOf(b);
  TMPEGplus m;
  ASSERT_TRUE(m.LoadFromStream(s, 0, 0));
  EXPECT_TRUE(m.SV8);
  EXPECT_EQ(m.ChannelCount, 2);
  EXPECT_EQ(m.StreamVersion, 8);
  EXPECT_EQ(m.SampleCount, 88200);
  EXPECT_EQ(m.SampleRate, 44100);
  EXPECT_DOUBLE_EQ(m.Duration, 2.0);

  // After a 10-byte ID3v2 tag, with rate index 1.
  Bytes shifted;
  shifted.Zeros(10).Append(MusepackSV8(Bytes().U8(0x00), 0x20, 0x00));
  auto ss = StreamOf(shifted);
  ASSERT_TRUE(m.LoadFromStream(ss, 10, 0));
  EXPECT_EQ(m.SampleRate, 48000);
  EXPECT_EQ(m.ChannelCount, 1);
  EXPECT_EQ(m.Duration, 0);
  EXPECT_EQ(m.BitRate, 0);
}

TEST(Musepack, SV8HostileVarLenIsNotValid)
{
  // A variable-length number that never ends.
  Bytes b = Bytes().Str("MPCKSH").Fill(40, 0xFF);
  auto s = StreamOf(b);
  TMPEGplus m;
  EXPECT_FALSE(m.LoadFromStream(s, 0, 0));
  EXPECT_FALSE(m.Valid);
  // Truncated right after the magic.
  Bytes t = Bytes().Str("MPCKSH").U8(0x10);
  auto ts = StreamOf(t);
  EXPECT_FALSE(m.LoadFromStream(ts, 0, 0));
}

TEST(Musepack, SV7Header)
{
  // Profile nibble 10 is "Standard" (ID 3), rate index 0, joint stereo bit, encoder byte 116.
  Bytes b = MusepackSV7(1000, 0xA0, 0x40, 116);
  b.Zeros(10000);
  auto s = StreamOf(b);
  TMPEGplus m;
  ASSERT_TRUE(m.LoadFromStream(s, 0, 0));
  EXPECT_FALSE(m.SV8);
  EXPECT_EQ(m.StreamVersion, 7);
  EXPECT_EQ(m.StreamStreamVersionString, "7.0");
  EXPECT_EQ(m.SampleRate, 44100);
  EXPECT_EQ(m.FrameCount, 1000);
  EXPECT_EQ(m.ProfileID, 3);
  EXPECT_EQ(m.Profile, "Standard");
  EXPECT_EQ(m.ChannelModeID, 2);
  EXPECT_EQ(m.ChannelMode, "Joint Stereo");
  EXPECT_EQ(m.Encoder, "1.16 Beta");
  EXPECT_DOUBLE_EQ(m.Duration, 1000.0 * 1152 / 44100);
  // 44.1 * 10032 * 8 / 1000 / 1152 = 3.07...
  EXPECT_EQ(m.BitRate, 3);
  EXPECT_FALSE(m.Corrupted);

  struct Case { std::uint8_t enc; const char *want; };
  for (const Case &c : {Case{110, "1.1 Release"}, Case{115, "1.15 --Alpha--"}, Case{7, "0.07 --Alpha--"}}) {
    Bytes e = MusepackSV7(10, 0x80, 0, c.enc);
    auto es = StreamOf(e);
    ASSERT_TRUE(m.LoadFromStream(es, 0, 0));
    EXPECT_EQ(m.Encoder, c.want);
    EXPECT_EQ(m.ChannelMode, "Stereo");
  }
}

TEST(Musepack, ForeignOrEmptyHeadersAreNotValid)
{
  TMPEGplus m;
  // Neither profile nor encoder.
  Bytes none = MusepackSV7(10, 0x00, 0, 0);
  auto ns = StreamOf(none);
  EXPECT_FALSE(m.LoadFromStream(ns, 0, 0));
  // Too short for a header.
  Bytes shortHeader = Bytes().U32LE(0x072B504Du).U32LE(1);
  auto ss = StreamOf(shortHeader);
  EXPECT_FALSE(m.LoadFromStream(ss, 0, 0));
  // ID3v2 size past the end.
  auto ps = StreamOf(none);
  EXPECT_FALSE(m.LoadFromStream(ps, 1 << 20, 0));
  EXPECT_FALSE(m.LoadFromStream(ps, -5, 0));
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

TEST(SourceAudioAttributes, ReadersAnswerThenZero)
{
  TTags tags;
  TSourceAudioAttributes &a = tags.SourceAudioAttributes;
  EXPECT_EQ(a.PlayTime(), 0);
  EXPECT_EQ(a.Channels(), 0);
  EXPECT_EQ(a.SamplesPerSec(), 0);
  EXPECT_EQ(a.BitsPerSample(), 0);
  EXPECT_EQ(a.SampleCount(), 0);
  EXPECT_EQ(a.BitRate(), 0);

  a.WAVPackAttributes = std::make_unique<TWAVPackfile>();
  ASSERT_TRUE(a.WAVPackAttributes->LoadFromFile(FixturePath("wv/wavpack-notags.wv"), 0));
  EXPECT_DOUBLE_EQ(a.PlayTime(), 1.0);
  EXPECT_EQ(a.Channels(), 2);
  EXPECT_EQ(a.SamplesPerSec(), 44100);
  EXPECT_EQ(a.BitsPerSample(), 16);
  EXPECT_EQ(a.SampleCount(), 44100);
  EXPECT_EQ(a.BitRate(), 429);
  a.Clear();
  EXPECT_EQ(a.WAVPackAttributes, nullptr);
  EXPECT_EQ(a.SamplesPerSec(), 0);

  // Musepack: a channel count of 0 reads 2; no bits per sample.
  a.MusePackAttributes = std::make_unique<TMPEGplus>();
  a.MusePackAttributes->SampleRate = 48000;
  a.MusePackAttributes->Duration = 3;
  EXPECT_EQ(a.Channels(), 2);
  EXPECT_EQ(a.BitsPerSample(), 0);
  EXPECT_EQ(a.SamplesPerSec(), 48000);
  EXPECT_DOUBLE_EQ(a.PlayTime(), 3.0);
  a.Clear();

  a.MonkeyAttributes = std::make_unique<TMonkey>();
  a.MonkeyAttributes->Bitrate = 2.5;
  a.MonkeyAttributes->TotalSamples = 7;
  EXPECT_EQ(a.BitRate(), 2);
  EXPECT_EQ(a.SampleCount(), 7);
  a.Clear();
  EXPECT_EQ(a.MonkeyAttributes, nullptr);
}
