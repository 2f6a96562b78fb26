#include "tags/audio/aiff_audio.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <memory>

#include "tags/id3/skip_id3v2.h"
#include "tags/streams/file_io.h"
#include "tests/support/audio_reading.h"
#include "tests/support/container_bytes.h"
#include "tests/support/test_support.h"

namespace {

// --- AIFF ---

struct ExtendedCase { const char *name; Bytes bytes; double want; };
class AIFFExtended : public ::testing::TestWithParam<ExtendedCase> {};

TEST_P(AIFFExtended, Decodes)
{
  const ExtendedCase &c = GetParam();
  ASSERT_EQ(c.bytes.size(), 10u);
  EXPECT_EQ(AIFFExtendedToDouble(c.bytes.v.data()), c.want);
}

INSTANTIATE_TEST_SUITE_P(Table, AIFFExtended, ::testing::Values(
  ExtendedCase{"rate_44100", Extended80(0x400E, 0xAC44000000000000ull), 44100.0},
  ExtendedCase{"rate_8000", Extended80(0x400B, 0xFA00000000000000ull), 8000.0},
  ExtendedCase{"rate_22050", Extended80(0x400D, 0xAC44000000000000ull), 22050.0},
  ExtendedCase{"zero", Extended80(0, 0), 0.0},
  ExtendedCase{"negative", Extended80(0xC00E, 0xAC44000000000000ull), 0.0},
  ExtendedCase{"infinity_or_nan", Extended80(0x7FFF, 0xC000000000000000ull), 0.0},
  ExtendedCase{"exponent_too_large", Extended80(0x7FFE, 0x8000000000000000ull), 0.0},
  ExtendedCase{"exponent_just_too_large", Extended80(0x43FF, 0x8000000000000000ull), 0.0},
  ExtendedCase{"denormal", Extended80(0, 0x0000000000000001ull), 0.0},
  ExtendedCase{"zero_mantissa", Extended80(0x400E, 0), 0.0}),
  [](const auto &param_info) { return std::string(param_info.param.name); });

TEST(AIFFExtended, TinyExponentsGiveZeroOrATinyValue)
{
  const Bytes tiny = Extended80(0x0001, 0x8000000000000000ull);
  EXPECT_EQ(AIFFExtendedToDouble(tiny.v.data()), 0.0);
}

TEST(AIFFAudio, TenSecondsAndSoundBitRate)
{
  Bytes chunks;
  chunks.Append(AiffChunk("COMM", AiffComm(2, 441000, 16, Extended80(0x400E, 0xAC44000000000000ull))))
    .Str("SSND").U32BE(1764008).Zeros(16);
  TID3v2AudioInfo info;
  ASSERT_TRUE(ReadAudioOf(Aiff(chunks), sftAIFF, 0, info));
  EXPECT_EQ(info.SourceFileType, sftAIFF);
  EXPECT_EQ(info.AIFFInfo.Channels, 2);
  EXPECT_EQ(info.AIFFInfo.SampleFrames, 441000u);
  EXPECT_EQ(info.AIFFInfo.SampleSize, 16);
  EXPECT_DOUBLE_EQ(info.PlayTime, 10.0);
  EXPECT_EQ(info.BitRate, 1411);  // 1764008 / (10 * 125) + 0.5, truncated
  EXPECT_EQ(info.SampleCount, 441000);
  EXPECT_EQ(info.SamplesPerSec(), 44100);
  EXPECT_EQ(info.BitsPerSample(), 16);
}

TEST(AIFFAudio, AIFCCompressionNameInAnsi)
{
  Bytes comm = AiffComm(1, 8000, 16, Extended80(0x400B, 0xFA00000000000000ull));
  comm.Str("sowt").U8(5).Str("Caf\xE9s");
  Bytes chunks;
  chunks.Append(AiffChunk("FVER", Bytes().U32BE(0xA2805140))).Append(AiffChunk("COMM", comm))
    .Append(AiffChunk("SSND", Bytes().Zeros(16008)));
  TID3v2AudioInfo info;
  ASSERT_TRUE(ReadAudioOf(Aiff(chunks, "AIFC"), sftAIFF, 0, info));
  EXPECT_EQ(info.AIFFInfo.CompressionID, "sowt");
  EXPECT_EQ(info.AIFFInfo.Compression, "Caf\xC3\xA9s");
  EXPECT_DOUBLE_EQ(info.PlayTime, 1.0);
  EXPECT_EQ(info.BitRate, 128);
}

TEST(AIFFAudio, HostileRateAndMissingChunks)
{
  TID3v2AudioInfo info;
  // An exponent that would overflow: rate 0, no play time, no bit rate, no division.
  Bytes chunks;
  chunks.Append(AiffChunk("COMM", AiffComm(2, 441000, 16, Extended80(0x7FFE, 0xFFFFFFFFFFFFFFFFull))))
    .Append(AiffChunk("SSND", Bytes().Zeros(8)));
  ASSERT_TRUE(ReadAudioOf(Aiff(chunks), sftAIFF, 0, info));
  EXPECT_EQ(info.AIFFInfo.SampleRate, 0);
  EXPECT_EQ(info.PlayTime, 0);
  EXPECT_EQ(info.BitRate, 0);
  // A huge rate: a play time near 0 must not overflow the bit rate.
  Bytes fast;
  fast.Append(AiffChunk("COMM", AiffComm(2, 1, 16, Extended80(0x43F0, 0x8000000000000000ull))))
    .Str("SSND").U32BE(0xFFFFFFF0u);
  ASSERT_TRUE(ReadAudioOf(Aiff(fast), sftAIFF, 0, info));
  EXPECT_GE(info.BitRate, 0);
  EXPECT_TRUE(std::isfinite(info.PlayTime));

  EXPECT_FALSE(ReadAudioOf(Aiff(AiffChunk("SSND", Bytes().Zeros(8))), sftAIFF, 0, info));
  EXPECT_FALSE(ReadAudioOf(Aiff(AiffChunk("COMM", Bytes().Zeros(6))), sftAIFF, 0, info));
  EXPECT_FALSE(ReadAudioOf(Aiff(AiffChunk("COMM", AiffComm(1, 1, 8, Extended80(0x400B, 0xFA00000000000000ull))), "8SVX"), sftAIFF,
                    0, info));
  // A COMM chunk outside the declared form is not read.
  Bytes outside = Aiff(Bytes());
  outside.Append(AiffChunk("COMM", AiffComm(1, 1, 8, Extended80(0x400B, 0xFA00000000000000ull))));
  EXPECT_FALSE(ReadAudioOf(outside, sftAIFF, 0, info));
}

} // namespace
