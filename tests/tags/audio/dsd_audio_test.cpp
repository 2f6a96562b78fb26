#include "tags/audio/dsd_audio.h"

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

// --- DSF ---

TEST(DSFAudio, FmtChunk)
{
  TID3v2AudioInfo info;
  ASSERT_TRUE(ReadAudioOf(Dsf(Bytes(), Bytes(), DsfFmtChunk(2, 2, 2822400, 2822400ull * 3)), sftDSF, 0, info));
  const TDSFInfo &d = info.DSFInfo;
  EXPECT_EQ(d.FormatVersion, 1u);
  EXPECT_EQ(d.ChannelType, dsfctStereo);
  EXPECT_EQ(d.ChannelNumber, 2u);
  EXPECT_EQ(d.SamplingFrequency, 2822400u);
  EXPECT_EQ(d.BitsPerSample, 1u);
  EXPECT_EQ(d.BlockSizePerChannel, 4096u);
  EXPECT_DOUBLE_EQ(d.PlayTime, 3.0);
  EXPECT_DOUBLE_EQ(info.PlayTime, 3.0);
  EXPECT_EQ(info.SampleCount, 2822400 * 3);
  EXPECT_EQ(info.BitRate, 5645);  // 5644.8 rounded
  EXPECT_EQ(d.GetBitRate(), 5645);
  EXPECT_EQ(info.SamplesPerSec(), 2822400);
  EXPECT_EQ(info.Channels(), 2);
  EXPECT_EQ(info.BitsPerSample(), 1);
}

TEST(DSFAudio, HostileFields)
{
  TID3v2AudioInfo info;
  ASSERT_TRUE(ReadAudioOf(Dsf(Bytes(), Bytes(), DsfFmtChunk(8, 6, 0, ~0ull)), sftDSF, 0, info));
  EXPECT_EQ(info.DSFInfo.ChannelType, dsfctUnknown);
  EXPECT_EQ(info.PlayTime, 0);
  EXPECT_EQ(info.BitRate, 0);
  EXPECT_GT(info.SampleCount, 0);
  ASSERT_TRUE(ReadAudioOf(Dsf(Bytes(), Bytes(), DsfFmtChunk(7, 6, 1, ~0ull)), sftDSF, 0, info));
  EXPECT_EQ(info.DSFInfo.ChannelType, dsfct51Channels);
  EXPECT_TRUE(std::isfinite(info.PlayTime));
  EXPECT_FALSE(ReadAudioOf(Dsf(Bytes(), Bytes(), DsfFmtChunk(2, 2, 2822400, 100), ~0ull), sftDSF, 0, info));
  EXPECT_FALSE(ReadAudioOf(Dsf(Bytes(), Bytes(), DsfFmtChunk(2, 2, 2822400, 100), 0), sftDSF, 0, info));
  EXPECT_FALSE(ReadAudioOf(Dsf(Bytes(), Bytes(), DsfFmtChunk(2, 2, 2822400, 100), 40), sftDSF, 0, info));
  EXPECT_EQ(info.SourceFileType, sftDSF);
}

// --- DSDIFF ---

Bytes DFFProp(std::uint32_t Rate, std::uint16_t Channels, const char *Compression)
{
  Bytes snd;
  snd.Str("SND ").Append(DffChunk("FS  ", Bytes().U32BE(Rate)))
    .Append(DffChunk("CHNL", Bytes().U16BE(Channels).Str("SLFTSRGT")))
    .Append(DffChunk("CMPR", Bytes().Str(Compression).U8(14).Str("not compressed").U8(0)))
    .Append(DffChunk("ABSS", Bytes().Zeros(8)))
    .Append(DffChunk("LSCO", Bytes().U16BE(0)));
  return DffChunk("PROP", snd);
}

TEST(DFFAudio, UncompressedSoundIsNotCutToWholeSeconds)
{
  // 2.5 s of stereo DSD64: 2822400 * 2.5 samples per channel, 2 channels, 8 samples a byte.
  const std::uint64_t soundBytes = 2822400ull * 5 / 2 * 2 / 8;
  Bytes chunks;
  chunks.Append(DffChunk("FVER", Bytes().U32BE(0x01050000))).Append(DFFProp(2822400, 2, "DSD "))
    .Str("DSD ").U32BE(0).U32BE(static_cast<std::uint32_t>(soundBytes));
  TID3v2AudioInfo info;
  ASSERT_TRUE(ReadAudioOf(Dff(chunks), sftDFF, 0, info));
  const TDFFInfo &d = info.DFFInfo;
  EXPECT_EQ(d.FormatVersion, "1.5");
  EXPECT_EQ(d.SampleRate, 2822400u);
  EXPECT_EQ(d.ChannelNumber, 2);
  EXPECT_EQ(d.CompressionName, "Not Compressed");
  EXPECT_EQ(d.SoundDataLength, soundBytes);
  EXPECT_EQ(d.SampleCount, 2822400ull * 5 / 2);
  EXPECT_DOUBLE_EQ(d.PlayTime, 2.5);
  EXPECT_EQ(d.BitRate, 5645u);
  EXPECT_DOUBLE_EQ(d.Ratio, 1.0);
  EXPECT_DOUBLE_EQ(info.PlayTime, 2.5);
  EXPECT_EQ(info.SamplesPerSec(), 2822400);
  EXPECT_EQ(info.Channels(), 2);
  EXPECT_EQ(info.BitsPerSample(), 1);
}

TEST(DFFAudio, FiveChannelsCountPerChannel)
{
  const std::uint64_t soundBytes = 2822400ull * 5 / 8;  // one second of five channels
  Bytes chunks;
  chunks.Append(DFFProp(2822400, 5, "DSD ")).Str("DSD ").U32BE(0).U32BE(static_cast<std::uint32_t>(soundBytes));
  TID3v2AudioInfo info;
  ASSERT_TRUE(ReadAudioOf(Dff(chunks), sftDFF, 0, info));
  EXPECT_EQ(info.DFFInfo.SampleCount, 2822400u);
  EXPECT_DOUBLE_EQ(info.PlayTime, 1.0);
}

TEST(DFFAudio, DSTFramesGiveThePlayTime)
{
  Bytes dst;
  dst.Append(DffChunk("FRTE", Bytes().U32BE(3000).U16BE(75))).Append(DffChunk("DSTF", Bytes().Zeros(10)));
  Bytes chunks;
  chunks.Append(DffChunk("FVER", Bytes().U32BE(0x02000000))).Append(DFFProp(2822400, 2, "DST "))
    .Append(DffChunk("DST ", dst));
  TID3v2AudioInfo info;
  ASSERT_TRUE(ReadAudioOf(Dff(chunks), sftDFF, 0, info));
  const TDFFInfo &d = info.DFFInfo;
  EXPECT_EQ(d.FormatVersion, "");
  EXPECT_EQ(d.CompressionName, "DST Encoded");
  EXPECT_EQ(d.DSTFramesCount, 3000u);
  EXPECT_EQ(d.DSTFramesRate, 75);
  EXPECT_DOUBLE_EQ(d.PlayTime, 40.0);
  EXPECT_EQ(d.SampleCount, 2822400ull * 40);
  EXPECT_EQ(d.BitRate, 5645u);
  // The channels' share of a byte is a fraction: 2 / 8, not an integer 0.
  EXPECT_DOUBLE_EQ(d.Ratio, static_cast<double>(d.SoundDataLength) / (0.25 * 2822400.0 * 40));
}

TEST(DFFAudio, LeadingID3v2TagAndHostileInput)
{
  Bytes chunks;
  chunks.Append(DFFProp(2822400, 2, "DSD ")).Str("DSD ").U32BE(0).U32BE(705600);
  Bytes tagged;
  tagged.Append(ID3v2PaddingTag(64)).Append(Dff(chunks));
  TMemoryStream stream{TBytes(tagged.v)};
  TDFFInfo d;
  ASSERT_TRUE(d.LoadFromStream(stream));
  EXPECT_DOUBLE_EQ(d.PlayTime, 1.0);

  TID3v2AudioInfo info;
  // No channels and no rate: nothing is divided by zero.
  Bytes empty;
  empty.Append(DFFProp(0, 0, "DSD ")).Str("DSD ").U32BE(0xFFFFFFFFu).U32BE(0xFFFFFFFFu);
  ASSERT_TRUE(ReadAudioOf(Dff(empty), sftDFF, 0, info));
  EXPECT_EQ(info.PlayTime, 0);
  EXPECT_EQ(info.BitRate, 0);
  // DST without FRTE, a rate of 0 frames a second.
  Bytes dst;
  dst.Append(DFFProp(2822400, 2, "DST ")).Append(DffChunk("DST ", DffChunk("FRTE", Bytes().U32BE(5).U16BE(0))));
  ASSERT_TRUE(ReadAudioOf(Dff(dst), sftDFF, 0, info));
  EXPECT_EQ(info.PlayTime, 0);
  EXPECT_EQ(info.DFFInfo.Ratio, 0);
  // No sound chunk, or not a DSDIFF file at all.
  EXPECT_FALSE(ReadAudioOf(Dff(DFFProp(2822400, 2, "DSD ")), sftDFF, 0, info));
  EXPECT_FALSE(ReadAudioOf(Bytes().Str("FRM8").U64LE(0).Str("WAVE"), sftDFF, 0, info));
  EXPECT_FALSE(d.LoadFromFile("/nonexistent/file.dff"));
}

} // namespace
