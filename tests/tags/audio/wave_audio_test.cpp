#include "tags/audio/wave_audio.h"

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

// --- WAVE and RF64 ---

TEST(WAVEAudio, PCMFmtAndData)
{
  Bytes chunks;
  chunks.Append(RiffChunk("fmt ", WaveFmt(1, 2, 44100, 16))).Append(RiffChunk("data", Bytes().Zeros(44100)));
  TID3v2AudioInfo info;
  ASSERT_TRUE(ReadAudioOf(Wave(chunks), sftWAVE, 0, info));
  EXPECT_EQ(info.SourceFileType, sftWAVE);
  EXPECT_EQ(info.WAVInfo.fmtSize, 16u);
  EXPECT_EQ(info.WAVInfo.FormatTag, 1);
  EXPECT_EQ(info.SampleCount, 11025);
  EXPECT_DOUBLE_EQ(info.PlayTime, 0.25);
  EXPECT_EQ(info.BitRate, 1411);
  EXPECT_EQ(info.SamplesPerSec(), 44100);
  EXPECT_EQ(info.Channels(), 2);
  EXPECT_EQ(info.BitsPerSample(), 16);
  EXPECT_EQ(info.FramePlayTime(), 0);
}

TEST(WAVEAudio, EighteenByteFmtAndOddChunkStillFindData)
{
  Bytes chunks;
  chunks.Append(RiffChunk("fmt ", WaveFmt(3, 1, 8000, 32).U16LE(0)))
    .Append(RiffChunk("odd!", Bytes().Zeros(5)))
    .Append(RiffChunk("data", Bytes().Zeros(3200)));
  TID3v2AudioInfo info;
  ASSERT_TRUE(ReadAudioOf(Wave(chunks), sftWAVE, 0, info));
  EXPECT_EQ(info.WAVInfo.fmtSize, 18u);
  EXPECT_EQ(info.SampleCount, 800);
  EXPECT_DOUBLE_EQ(info.PlayTime, 0.1);
}

TEST(WAVEAudio, ExtensibleFieldsKeptOthersZeroed)
{
  Bytes ext = WaveFmt(0xFFFE, 2, 48000, 24);
  ext.U16LE(22).U16LE(20).U32LE(3).U8(1).Fill(15, 0xAA);
  TID3v2AudioInfo info;
  ASSERT_TRUE(ReadAudioOf(Wave(Bytes().Append(RiffChunk("fmt ", ext)).Append(RiffChunk("data", Bytes().Zeros(600)))),
                   sftWAVE, 0, info));
  EXPECT_EQ(info.WAVInfo.cbSize, 22);
  EXPECT_EQ(info.WAVInfo.ValidBitsPerSample, 20);
  EXPECT_EQ(info.WAVInfo.ChannelMask, 3u);
  EXPECT_EQ(info.WAVInfo.SubFormat[0], 1);
  EXPECT_EQ(info.WAVInfo.SubFormat[15], 0xAA);
  EXPECT_EQ(info.SampleCount, 100);

  // A plain PCM fmt chunk of 40 bytes: the bytes after BitsPerSample are not kept.
  Bytes plain = WaveFmt(1, 2, 48000, 24);
  plain.U16LE(22).U16LE(20).U32LE(3).Fill(16, 0xAA);
  ASSERT_TRUE(ReadAudioOf(Wave(Bytes().Append(RiffChunk("fmt ", plain)).Append(RiffChunk("data", Bytes().Zeros(6)))),
                   sftWAVE, 0, info));
  EXPECT_EQ(info.WAVInfo.cbSize, 0);
  EXPECT_EQ(info.WAVInfo.ChannelMask, 0u);
  EXPECT_EQ(info.WAVInfo.SubFormat[15], 0);
}

TEST(WAVEAudio, RF64TakesTheSampleCountFromDs64)
{
  Bytes chunks;
  chunks.Append(RiffChunk("ds64", Ds64(0, 4000, 1000)))
    .Append(RiffChunk("fmt ", WaveFmt(1, 1, 8000, 16)))
    .Str("data").U32LE(0xFFFFFFFFu).Zeros(4000);
  TID3v2AudioInfo info;
  ASSERT_TRUE(ReadAudioOf(Wave(chunks, "RF64"), sftRF64, 0, info));
  EXPECT_EQ(info.SampleCount, 1000);
  EXPECT_DOUBLE_EQ(info.PlayTime, 0.125);

  // Writers that leave the ds64 sample count 0: the data size counts.
  Bytes zero;
  zero.Append(RiffChunk("ds64", Ds64(0, 4000, 0)))
    .Append(RiffChunk("fmt ", WaveFmt(1, 1, 8000, 16)))
    .Str("data").U32LE(0xFFFFFFFFu).Zeros(4000);
  ASSERT_TRUE(ReadAudioOf(Wave(zero, "RF64"), sftRF64, 0, info));
  EXPECT_EQ(info.SampleCount, 2000);
  EXPECT_DOUBLE_EQ(info.PlayTime, 0.25);
}

TEST(WAVEAudio, HostileSizes)
{
  TID3v2AudioInfo info;
  // Data size beyond the file: only the bytes present are audio.
  Bytes cut;
  cut.Append(RiffChunk("fmt ", WaveFmt(1, 1, 8000, 8))).Str("data").U32LE(0xFFFFFFF0u).Zeros(800);
  ASSERT_TRUE(ReadAudioOf(Wave(cut), sftWAVE, 0, info));
  EXPECT_EQ(info.SampleCount, 800);
  EXPECT_DOUBLE_EQ(info.PlayTime, 0.1);

  // Zero block align and zero rate: no division.
  Bytes zeros;
  zeros.Append(RiffChunk("fmt ", Bytes().U16LE(1).U16LE(0).U32LE(0).U32LE(0).U16LE(0).U16LE(0)))
    .Append(RiffChunk("data", Bytes().Zeros(10)));
  ASSERT_TRUE(ReadAudioOf(Wave(zeros), sftWAVE, 0, info));
  EXPECT_EQ(info.SampleCount, 0);
  EXPECT_EQ(info.PlayTime, 0);
  EXPECT_EQ(info.BitRate, 0);

  // No fmt chunk, a chunk size that runs off the end, a wrong form type.
  EXPECT_FALSE(ReadAudioOf(Wave(RiffChunk("data", Bytes().Zeros(8))), sftWAVE, 0, info));
  EXPECT_EQ(info.SourceFileType, sftWAVE);
  EXPECT_FALSE(ReadAudioOf(Wave(Bytes().Str("junk").U32LE(0xFFFFFFFFu).Append(RiffChunk("fmt ", WaveFmt(1, 1, 8000, 8)))),
                    sftWAVE, 0, info));
  EXPECT_FALSE(ReadAudioOf(Bytes().Str("RIFF").U32LE(4).Str("AVI "), sftWAVE, 0, info));
  EXPECT_FALSE(ReadAudioOf(Wave(RiffChunk("fmt ", WaveFmt(1, 1, 8000, 8)), "RF64"), sftRF64, 0, info));
  // A ds64 sample count beyond any 64-bit signed count.
  Bytes huge;
  huge.Append(RiffChunk("ds64", Ds64(0, 8, ~0ull))).Append(RiffChunk("fmt ", WaveFmt(1, 1, 8000, 8)))
    .Append(RiffChunk("data", Bytes().Zeros(8)));
  ASSERT_TRUE(ReadAudioOf(Wave(huge, "RF64"), sftRF64, 0, info));
  EXPECT_GT(info.SampleCount, 0);
  EXPECT_TRUE(std::isfinite(info.PlayTime));
}

struct WAVFixture {
  const char *file;
  TSourceFileType kind;
  double ffprobeDuration;
};

class WAVFixtures : public ::testing::TestWithParam<WAVFixture> {};

TEST_P(WAVFixtures, MatchesFfprobe)
{
  const WAVFixture &c = GetParam();
  auto file = TFileStream::Open(FixturePath(c.file), TFileMode::fmOpenRead);
  ASSERT_TRUE(file);
  TID3v2AudioInfo info;
  ASSERT_TRUE(ReadID3v2AudioInfo(*file, c.kind, 0, 0, TID3v2AudioOptions{}, info));
  EXPECT_NEAR(info.PlayTime, c.ffprobeDuration, 0.05);
  EXPECT_EQ(info.SampleCount, 44100);
  EXPECT_EQ(info.SamplesPerSec(), 44100);
  EXPECT_EQ(info.Channels(), 2);
  EXPECT_EQ(info.BitsPerSample(), 16);
  EXPECT_EQ(info.BitRate, 1411);  // ffprobe: 1411200 bit/s
}

INSTANTIATE_TEST_SUITE_P(Files, WAVFixtures, ::testing::Values(
  WAVFixture{"wav/id3-mutagen.wav", sftWAVE, 1.0},
  WAVFixture{"wav/info-bext-ffmpeg.wav", sftWAVE, 1.0},
  WAVFixture{"wav/info-id3-kid3.wav", sftWAVE, 1.0},
  WAVFixture{"wav/info-kid3.wav", sftWAVE, 1.0},
  WAVFixture{"wav/notags.wav", sftWAVE, 1.0},
  WAVFixture{"rf64/rf64-id3-kid3-inconsistent.wav", sftRF64, 1.0},
  WAVFixture{"rf64/rf64-info-bext-ffmpeg.wav", sftRF64, 1.0},
  WAVFixture{"rf64/rf64-notags.wav", sftRF64, 1.0}),
  [](const auto &param_info) {
    std::string name = param_info.param.file;
    for (char &ch : name) if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return name;
  });

} // namespace
