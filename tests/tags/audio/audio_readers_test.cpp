#include "tags/audio/audio_readers.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <memory>

#include "tags/id3/skip_id3v2.h"
#include "tags/streams/file_io.h"
#include "tests/support/container_bytes.h"
#include "tests/support/test_support.h"

namespace {

struct TLameFields {
  std::uint8_t RevisionAndMethod = 0x01;
  std::uint8_t Lowpass = 195;
  std::uint32_t Peak = 0x00008000;
  std::uint16_t Radio = 0x2C1B, Audiophile = 0x4C10;
  std::uint8_t FlagsAndATH = 0x15;
  std::uint8_t ABR = 128;
  int Delay = 576, Padding = 1000;
  std::uint8_t Misc = 0x24, Gain = 0x05;
  std::uint16_t Preset = 0x017C;
  std::uint32_t MusicLength = 123456;
  std::uint16_t MusicCRC = 0xBEEF, TagCRC = 0xCAFE;
};

// A first frame of 417 bytes holding a "Xing" or "Info" header (all four fields) and, when
// Encoder is not empty, the encoder extension.
Bytes XingFrame(const char *ID, std::uint32_t FrameCount, std::uint32_t ByteCount, const std::string &Encoder,
                const TLameFields &Lame = {}, std::uint32_t Flags = 0x0F)
{
  Bytes f;
  f.U32BE(kMpegHeader128).Zeros(32).Str(ID).U32BE(Flags);
  if (Flags & 1) f.U32BE(FrameCount);
  if (Flags & 2) f.U32BE(ByteCount);
  if (Flags & 4) f.Fill(100, 0x11);
  if (Flags & 8) f.U32BE(57);
  if (!Encoder.empty()) {
    f.Padded(Encoder, 9).U8(Lame.RevisionAndMethod).U8(Lame.Lowpass).U32BE(Lame.Peak).U16BE(Lame.Radio)
      .U16BE(Lame.Audiophile).U8(Lame.FlagsAndATH).U8(Lame.ABR)
      .U8(static_cast<std::uint8_t>(Lame.Delay >> 4))
      .U8(static_cast<std::uint8_t>(((Lame.Delay & 0xF) << 4) | (Lame.Padding >> 8)))
      .U8(static_cast<std::uint8_t>(Lame.Padding & 0xFF))
      .U8(Lame.Misc).U8(Lame.Gain).U16BE(Lame.Preset).U32BE(Lame.MusicLength).U16BE(Lame.MusicCRC).U16BE(Lame.TagCRC);
  }
  f.Zeros(static_cast<std::size_t>(kMpegFrame128) - f.size());
  return f;
}

bool Read(const Bytes8 &File, TSourceFileType Kind, std::int64_t TagSize, TID3v2AudioInfo &Out,
          const TID3v2AudioOptions &Options = {})
{
  TMemoryStream stream{TBytes(File)};
  return ReadID3v2AudioInfo(stream, Kind, 0, TagSize, Options, Out);
}

// --- MPEG header decoding ---

struct HeaderCase {
  const char *name;
  std::uint32_t header;
  bool valid;
  TMPEGVersion version;
  TMPEGLayer layer;
  int bitRate, sampleRate, frameSize;
  TMPEGChannelMode mode;
};

class MPEGHeaderDecode : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(MPEGHeaderDecode, FieldsAndFrameSize)
{
  const HeaderCase &c = GetParam();
  TMPEGHeader h;
  EXPECT_EQ(DecodeMPEGHeader(c.header, h), c.valid);
  EXPECT_EQ(h.Version, c.version);
  EXPECT_EQ(h.Layer, c.layer);
  EXPECT_EQ(h.BitRate, c.bitRate);
  EXPECT_EQ(h.SampleRate, c.sampleRate);
  EXPECT_EQ(h.FrameSize, c.frameSize);
  EXPECT_EQ(h.ChannelMode, c.mode);
  EXPECT_EQ(h.Header, c.header);
}

INSTANTIATE_TEST_SUITE_P(Table, MPEGHeaderDecode, ::testing::Values(
  HeaderCase{"mpeg1_layer3_128k", 0xFFFB9064, true, tmpegv1, tmpegl3, 128, 44100, 417, tmpegcmJointStereo},
  HeaderCase{"mpeg1_layer3_padded", 0xFFFB9264, true, tmpegv1, tmpegl3, 128, 44100, 418, tmpegcmJointStereo},
  HeaderCase{"mpeg1_layer3_320k_48k_stereo", 0xFFFBE404, true, tmpegv1, tmpegl3, 320, 48000, 960, tmpegcmStereo},
  HeaderCase{"mpeg2_layer3_64k_22k_mono", 0xFFF380C0, true, tmpegv2, tmpegl3, 64, 22050, 208, tmpegcmMono},
  HeaderCase{"mpeg25_layer3_32k_8k", 0xFFE34880, true, tmpegv25, tmpegl3, 32, 8000, 288, tmpegcmDualChannel},
  HeaderCase{"mpeg1_layer2_192k", 0xFFFDA000, true, tmpegv1, tmpegl2, 192, 44100, 626, tmpegcmStereo},
  // Layer I counts 4-byte slots: (12000 * 32 / 44100 + 1) * 4, not 48000 * 32 / 44100 + 4.
  HeaderCase{"mpeg1_layer1_slots", 0xFFFF1200, true, tmpegv1, tmpegl1, 32, 44100, 36, tmpegcmStereo},
  HeaderCase{"mpeg2_layer2", 0xFFF5A000, true, tmpegv2, tmpegl2, 96, 22050, 626, tmpegcmStereo},
  HeaderCase{"free_format", 0xFFFB0000, false, tmpegv1, tmpegl3, 65535, 44100, 0, tmpegcmStereo},
  HeaderCase{"bitrate_index_15", 0xFFFBF000, false, tmpegv1, tmpegl3, 0, 44100, 0, tmpegcmStereo},
  HeaderCase{"sample_rate_index_3", 0xFFFB9C00, false, tmpegv1, tmpegl3, 128, 0, 0, tmpegcmStereo},
  HeaderCase{"reserved_version", 0xFFEB9000, false, tmpegvUnknown, tmpegl3, 0, 0, 0, tmpegcmStereo},
  HeaderCase{"reserved_layer", 0xFFF99000, false, tmpegv1, tmpeglUnknown, 0, 44100, 0, tmpegcmStereo},
  HeaderCase{"no_sync_bits", 0x00FB9000, false, tmpegv1, tmpegl3, 128, 44100, 0, tmpegcmStereo}),
  [](const auto &param_info) { return std::string(param_info.param.name); });

TEST(MPEGHeaderDecode, FlagsModeExtensionAndEmphasis)
{
  TMPEGHeader h;
  // CRC present (protection bit 0), private bit, joint stereo with intensity and M/S,
  // copyrighted, original, emphasis CCITT J.17.
  ASSERT_TRUE(DecodeMPEGHeader(0xFFFA917F, h));
  EXPECT_TRUE(h.CRC);
  EXPECT_TRUE(h._Private);
  EXPECT_FALSE(h.Padding);
  EXPECT_EQ(h.ChannelMode, tmpegcmJointStereo);
  EXPECT_EQ(h.ModeExtension, tmpegmeIntensityMS);
  EXPECT_TRUE(h.Copyrighted);
  EXPECT_TRUE(h.Original);
  EXPECT_EQ(h.Emphasis, tmpegeCCITJ17);

  ASSERT_TRUE(DecodeMPEGHeader(0xFFFB90A1, h));
  EXPECT_FALSE(h.CRC);
  EXPECT_EQ(h.ChannelMode, tmpegcmDualChannel);
  EXPECT_EQ(h.ModeExtension, tmpegmeNone);  // only joint stereo has a mode extension
  EXPECT_EQ(h.Emphasis, tmpege5015);
  ASSERT_TRUE(DecodeMPEGHeader(0xFFFB9002, h));
  EXPECT_EQ(h.Emphasis, tmpegeUnknown);
}

TEST(MPEGHeaderDecode, SamplesPerFrameAndSideInfo)
{
  TMPEGHeader h;
  DecodeMPEGHeader(0xFFFB9064, h);
  EXPECT_EQ(MPEGSamplesPerFrame(h), 1152);
  EXPECT_EQ(MPEGSideInfoSize(h), 32);
  DecodeMPEGHeader(0xFFF380C0, h);
  EXPECT_EQ(MPEGSamplesPerFrame(h), 576);
  EXPECT_EQ(MPEGSideInfoSize(h), 9);
  DecodeMPEGHeader(0xFFF38000, h);
  EXPECT_EQ(MPEGSideInfoSize(h), 17);
  DecodeMPEGHeader(0xFFFB90C0, h);
  EXPECT_EQ(MPEGSideInfoSize(h), 17);
  DecodeMPEGHeader(0xFFFF1200, h);
  EXPECT_EQ(MPEGSamplesPerFrame(h), 384);
  DecodeMPEGHeader(0xFFFDA000, h);
  EXPECT_EQ(MPEGSamplesPerFrame(h), 1152);
  DecodeMPEGHeader(0xFFEB9000, h);
  EXPECT_EQ(MPEGSamplesPerFrame(h), 0);
}

// --- Frame search ---

TEST(MPEGFrameSearch, NeedsASecondHeaderOneFrameLater)
{
  // FF FB 90 64 followed by garbage, then a real pair further on.
  Bytes file;
  file.U32BE(kMpegHeader128).Fill(600, 0x55).Append(MpegFrames(2));
  TMemoryStream stream{TBytes(file.v)};
  TMPEGHeader h;
  EXPECT_EQ(FindFirstMPEGFrame(stream, 0, 4096, h), 604);
  EXPECT_EQ(h.Position, 604);

  Bytes lone;
  lone.U32BE(kMpegHeader128).Fill(2000, 0x55);
  TMemoryStream loneStream{TBytes(lone.v)};
  EXPECT_EQ(FindFirstMPEGFrame(loneStream, 0, 4096, h), -1);
}

TEST(MPEGFrameSearch, FrameRightAfterAnFFByteIsFound)
{
  // Padding of FF bytes in front of the first frame: stepping two bytes past every FF would
  // jump over the frame's own FF.
  Bytes file;
  file.Fill(3, 0xFF).Append(MpegFrames(3));
  TMemoryStream stream{TBytes(file.v)};
  TMPEGHeader h;
  EXPECT_EQ(FindFirstMPEGFrame(stream, 0, 4096, h), 3);
}

TEST(MPEGFrameSearch, StopsAfterTheSearchLengthAndRestoresThePosition)
{
  Bytes file;
  file.Zeros(5000).Append(MpegFrames(3));
  TMemoryStream stream{TBytes(file.v)};
  stream.SetPosition(77);
  TMPEGHeader h;
  EXPECT_EQ(FindFirstMPEGFrame(stream, 0, 4096, h), -1);
  EXPECT_EQ(FindFirstMPEGFrame(stream, 0, 5000, h), 5000);
  EXPECT_EQ(FindFirstMPEGFrame(stream, 1000, 4096, h), 5000);
  EXPECT_EQ(stream.Position(), 77);
}

TEST(MPEGFrameSearch, FindsFramesAcrossSearchWindows)
{
  // Frames beyond the first read window of the search.
  Bytes file;
  file.Fill(static_cast<std::size_t>(2 * kMPEGSearchChunk) + 100, 0x01).Append(MpegFrames(3));
  TMemoryStream stream{TBytes(file.v)};
  TMPEGHeader h;
  EXPECT_EQ(FindFirstMPEGFrame(stream, 0, 200000, h), 2 * kMPEGSearchChunk + 100);
}

// --- MPEG properties ---

TEST(MPEGAudio, ConstantBitRateExcludesEveryTag)
{
  const Bytes audio = MpegFrames(24);
  Bytes file;
  file.Append(ID3v2PaddingTag(1000)).Append(audio).Append(APEv2EmptyTag()).Append(ID3v1Record("", "", "", "", "", 0, 0));
  TID3v2AudioInfo info;
  ASSERT_TRUE(Read(file, sftUnknown, 1000, info));
  EXPECT_EQ(info.SourceFileType, sftMPEG);
  EXPECT_EQ(info.MPEGInfo.Position, 1000);
  EXPECT_FALSE(info.MPEGInfo.VBR);
  EXPECT_EQ(info.APEv2TagSize, 64);
  EXPECT_EQ(info.ID3v1TagSize, 128);
  EXPECT_EQ(info.BitRate, 128);
  EXPECT_DOUBLE_EQ(info.PlayTime, static_cast<double>(audio.size()) * 8 / 128 / 1000);
  EXPECT_EQ(info.SampleCount, 0);
  EXPECT_EQ(info.FileSize, static_cast<std::int64_t>(file.size()));
  EXPECT_EQ(info.SamplesPerSec(), 44100);
  EXPECT_EQ(info.Channels(), 2);
  EXPECT_EQ(info.BitsPerSample(), 0);
  EXPECT_DOUBLE_EQ(info.FramePlayTime(), 1152.0 / 44100);
}

TEST(MPEGAudio, XingFrameCountWithEncoderDelayAndPadding)
{
  Bytes file;
  file.Append(XingFrame("Xing", 10000, 0, "LAME3.100")).Append(MpegFrames(5));
  TID3v2AudioInfo info;
  ASSERT_TRUE(Read(file, sftUnknown, 0, info));
  const TMPEGHeader &h = info.MPEGInfo;
  EXPECT_TRUE(h.HasXing);
  EXPECT_FALSE(h.HasInfo);
  EXPECT_TRUE(h.VBR);
  EXPECT_EQ(h.FrameCount, 10000);
  EXPECT_EQ(h.Quality, 57);
  const double playTime = (10000.0 * 1152 - 1576) / 44100;
  EXPECT_DOUBLE_EQ(info.PlayTime, playTime);
  EXPECT_EQ(info.SampleCount, 10000 * 1152 - 1576);
  // The file's average: its bytes after the first frame position over the play time.
  EXPECT_EQ(info.BitRate, static_cast<int>(static_cast<double>(file.size()) / (playTime * 125) + 0.5));
}

TEST(MPEGAudio, LameExtensionFields)
{
  TLameFields lame;
  lame.Delay = 0xABC;
  lame.Padding = 0x123;
  Bytes file;
  file.Append(XingFrame("Info", 40, 17135, "LAME3.100", lame)).Append(MpegFrames(3));
  TID3v2AudioInfo info;
  ASSERT_TRUE(Read(file, sftMPEG, 0, info));
  const TMPEGHeader &h = info.MPEGInfo;
  EXPECT_TRUE(h.HasInfo);
  EXPECT_FALSE(h.VBR);
  EXPECT_EQ(h.Bytes, 17135);
  EXPECT_EQ(h.EncoderShortVersionString, "LAME3.100");
  EXPECT_EQ(h.InfoTagRevision, 0);
  EXPECT_EQ(h.VBRMethod, 1);
  EXPECT_EQ(h.LowpassFilterValue, 19500);
  EXPECT_EQ(h.PeakSignalSmplitude[2], 0x80);
  EXPECT_EQ(h.RadioReplayGain, 0x2C1B);
  EXPECT_EQ(h.AudiophileReplayGain, 0x4C10);
  EXPECT_EQ(h.EncodingFlags, 1);
  EXPECT_EQ(h.ATHType, 5);
  EXPECT_EQ(h.ABROrMinimalBitrate, 128);
  EXPECT_EQ(h.EncoderDelay, 0xABC);
  EXPECT_EQ(h.EncoderPadding, 0x123);
  EXPECT_EQ(h.Misc, 0x24);
  EXPECT_EQ(h.MP3Gain, 0x05);
  EXPECT_EQ(h.PresetAndSurroundInfo, 0x017C);
  EXPECT_EQ(h.MusicLength, 123456u);
  EXPECT_EQ(h.MusicCRC, 0xBEEF);
  EXPECT_EQ(h.CRC16OfInfoTag, 0xCAFE);
  // "Info" keeps the header's bit rate but takes the play time from the frame count.
  EXPECT_EQ(info.BitRate, 128);
  EXPECT_DOUBLE_EQ(info.PlayTime, (40.0 * 1152 - 0xABC - 0x123) / 44100);
}

TEST(MPEGAudio, BareXingHeaderHasNoEncoderExtension)
{
  // Only the frame-count field, followed by audio-like bytes: they are no delay and padding.
  Bytes first;
  first.U32BE(kMpegHeader128).Zeros(32).Str("Xing").U32BE(1).U32BE(100).Fill(40, 0xE7);
  first.Zeros(static_cast<std::size_t>(kMpegFrame128) - first.size());
  Bytes file;
  file.Append(first).Append(MpegFrames(2));
  TID3v2AudioInfo info;
  ASSERT_TRUE(Read(file, sftUnknown, 0, info));
  EXPECT_EQ(info.MPEGInfo.FrameCount, 100);
  EXPECT_EQ(info.MPEGInfo.EncoderShortVersionString, "");
  EXPECT_EQ(info.MPEGInfo.EncoderDelay, 0);
  EXPECT_EQ(info.SampleCount, 115200);
}

TEST(MPEGAudio, VBRIHeader)
{
  Bytes first;
  first.U32BE(kMpegHeader128).Zeros(32).Str("VBRI").U16BE(1).U16BE(0x0400).U16BE(75).U32BE(500000).U32BE(2000);
  first.Zeros(static_cast<std::size_t>(kMpegFrame128) - first.size());
  Bytes file;
  file.Append(first).Append(MpegFrames(4));
  TID3v2AudioInfo info;
  ASSERT_TRUE(Read(file, sftUnknown, 0, info));
  EXPECT_TRUE(info.MPEGInfo.HasVBRI);
  EXPECT_TRUE(info.MPEGInfo.VBR);
  EXPECT_EQ(info.MPEGInfo.Quality, 75);
  EXPECT_EQ(info.MPEGInfo.Bytes, 500000);
  EXPECT_EQ(info.MPEGInfo.FrameCount, 2000);
  EXPECT_DOUBLE_EQ(info.PlayTime, 2000.0 * 1152 / 44100);
}

TEST(MPEGAudio, MonoMPEG2XingSitsAfterNineBytesOfSideInfo)
{
  // MPEG 2 Layer III, 64 kbit/s, 22050 Hz, mono: 208-byte frames of 576 samples.
  constexpr std::uint32_t header = 0xFFF380C0;
  Bytes first;
  first.U32BE(header).Zeros(9).Str("Xing").U32BE(1).U32BE(300);
  first.Zeros(208 - first.size());
  Bytes file;
  file.Append(first).Append(MpegFrames(3, header, 208));
  TID3v2AudioInfo info;
  ASSERT_TRUE(Read(file, sftUnknown, 0, info));
  EXPECT_EQ(info.MPEGInfo.FrameCount, 300);
  EXPECT_DOUBLE_EQ(info.PlayTime, 300.0 * 576 / 22050);
  EXPECT_EQ(info.Channels(), 1);
  EXPECT_DOUBLE_EQ(info.FramePlayTime(), 576.0 / 22050);
}

TEST(MPEGAudio, HostileCountsStayFinite)
{
  // The largest frame count, with a delay and padding larger than a tiny stream.
  TLameFields lame;
  lame.Delay = 4095;
  lame.Padding = 4095;
  Bytes file;
  file.Append(XingFrame("Xing", 0xFFFFFFFFu, 0xFFFFFFFFu, "LAME3.100", lame)).Append(MpegFrames(1));
  TID3v2AudioInfo info;
  ASSERT_TRUE(Read(file, sftUnknown, 0, info));
  EXPECT_EQ(info.SampleCount, 0xFFFFFFFFll * 1152 - 8190);
  EXPECT_GT(info.PlayTime, 0);
  EXPECT_GE(info.BitRate, 0);

  Bytes swallowed;
  swallowed.Append(XingFrame("Xing", 1, 0, "LAME3.100", lame)).Append(MpegFrames(1));
  ASSERT_TRUE(Read(swallowed, sftUnknown, 0, info));
  EXPECT_EQ(info.SampleCount, 1152);  // a delay and padding beyond the stream are ignored
}

TEST(MPEGAudio, TLENReplacesThePlayTimeOnRequest)
{
  Bytes file;
  file.Append(XingFrame("Xing", 1000, 0, "LAME3.100")).Append(MpegFrames(2));
  TID3v2AudioOptions options;
  options.UseTLENForPlaytime = true;
  options.TLENMilliseconds = 61500;
  TID3v2AudioInfo info;
  ASSERT_TRUE(Read(file, sftUnknown, 0, info, options));
  EXPECT_DOUBLE_EQ(info.PlayTime, 61.5);
  EXPECT_EQ(info.SampleCount, 1000 * 1152 - 1576);
  options.UseTLENForPlaytime = false;
  ASSERT_TRUE(Read(file, sftUnknown, 0, info, options));
  EXPECT_DOUBLE_EQ(info.PlayTime, (1000.0 * 1152 - 1576) / 44100);
}

TEST(MPEGAudio, WithoutParseAudioAttributesOnlyTheKindIsFound)
{
  TID3v2AudioOptions options;
  options.ParseAudioAttributes = false;
  TID3v2AudioInfo info;
  ASSERT_TRUE(Read(MpegFrames(3), sftUnknown, 0, info, options));
  EXPECT_EQ(info.SourceFileType, sftMPEG);
  EXPECT_EQ(info.PlayTime, 0);
  EXPECT_EQ(info.BitRate, 0);
}

TEST(MPEGAudio, NoFramesNoKind)
{
  TID3v2AudioInfo info;
  EXPECT_FALSE(Read(Bytes().Fill(3000, 0xFF), sftUnknown, 0, info));
  EXPECT_EQ(info.SourceFileType, sftUnknown);
  EXPECT_EQ(info.FramePlayTime(), 0);
  EXPECT_FALSE(Read(Bytes(), sftUnknown, 0, info));
  // A tag size that points past the stream.
  EXPECT_FALSE(Read(MpegFrames(3), sftUnknown, 100000, info));
  EXPECT_FALSE(Read(MpegFrames(3), sftUnknown, -5, info));
}

TEST(MPEGAudio, EndTags)
{
  Bytes lyrics;
  lyrics.Str("LYRICSBEGIN").Str("LYR00005hello");
  const std::string sizeDigits = "0000" + std::to_string(lyrics.size());
  Bytes withLyrics;
  withLyrics.Append(MpegFrames(2)).Append(APEv2EmptyTag()).Append(lyrics).Str(sizeDigits).Str("LYRICS200").Append(ID3v1Record("", "", "", "", "", 0, 0));
  TMemoryStream stream{TBytes(withLyrics.v)};
  EXPECT_EQ(ID3v1TagSizeAtEnd(stream), 128 + static_cast<std::int64_t>(lyrics.size()) + 15);
  EXPECT_EQ(APEv2TagSizeAtEnd(stream), 64);

  // An APEv2 footer whose size claims more than the stream holds is not a tag.
  Bytes hostile;
  hostile.Append(MpegFrames(1)).Str("APETAGEX").U32LE(2000).U32LE(0xFFFFFFF0u).U32LE(0).U32LE(0).Zeros(8);
  TMemoryStream hostileStream{TBytes(hostile.v)};
  EXPECT_EQ(APEv2TagSizeAtEnd(hostileStream), 0);
  EXPECT_EQ(ID3v1TagSizeAtEnd(hostileStream), 0);
}

// --- Real MPEG files ---

struct MP3Fixture {
  const char *file;
  double ffprobeDuration;  // ffprobe -show_entries format=duration
};

class MP3Fixtures : public ::testing::TestWithParam<MP3Fixture> {};

TEST_P(MP3Fixtures, MatchesFfprobe)
{
  const MP3Fixture &c = GetParam();
  auto file = TFileStream::Open(FixturePath(std::string("mp3/") + c.file), TFileMode::fmOpenRead);
  ASSERT_TRUE(file);
  const std::int64_t tagSize = SkipID3v2(*file);
  TID3v2AudioInfo info;
  ASSERT_TRUE(ReadID3v2AudioInfo(*file, sftUnknown, 0, tagSize, TID3v2AudioOptions{}, info));
  EXPECT_EQ(info.SourceFileType, sftMPEG);
  EXPECT_EQ(info.MPEGInfo.Position, tagSize);
  // ffprobe's format duration counts all 40 frames (1.044898 s); the LAME tag's delay and
  // padding give the gapless length, exactly the 44100 samples ffmpeg decodes.
  EXPECT_NEAR(info.PlayTime, c.ffprobeDuration, 0.05);
  EXPECT_DOUBLE_EQ(info.PlayTime, 1.0);
  EXPECT_EQ(info.SampleCount, 44100);
  EXPECT_EQ(info.SamplesPerSec(), 44100);
  EXPECT_EQ(info.Channels(), 2);
  EXPECT_EQ(info.BitRate, 128);
  EXPECT_TRUE(info.MPEGInfo.HasInfo);
  EXPECT_EQ(info.MPEGInfo.EncoderShortVersionString, "LAME3.100");
}

// apev2-id3v1.mp3 holds the audio of notags.mp3 followed by an ID3v1 record and a 1172-byte
// APEv2 tag, in that order. ffprobe reports 1.126125 s for it: it counts both tags as 0.08 s of
// audio. Its duration for the same audio without trailing tags (notags.mp3) is the reference.
INSTANTIATE_TEST_SUITE_P(Files, MP3Fixtures, ::testing::Values(
  MP3Fixture{"apev2-id3v1.mp3", 1.044898},
  MP3Fixture{"id3v1-only.mp3", 1.044898},
  MP3Fixture{"id3v23-latin1.mp3", 1.044898},
  MP3Fixture{"id3v23-utf16.mp3", 1.044898},
  MP3Fixture{"id3v24-id3v1-kid3.mp3", 1.044898},
  MP3Fixture{"id3v24-utf8.mp3", 1.044898},
  MP3Fixture{"notags.mp3", 1.044898}),
  [](const auto &param_info) {
    std::string name = param_info.param.file;
    for (char &ch : name) if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return name;
  });

TEST(MP3Fixtures, EndTagsOfTheAPEv2File)
{
  auto file = TFileStream::Open(FixturePath("mp3/apev2-id3v1.mp3"), TFileMode::fmOpenRead);
  ASSERT_TRUE(file);
  TID3v2AudioInfo info;
  ASSERT_TRUE(ReadID3v2AudioInfo(*file, sftUnknown, 0, 0, TID3v2AudioOptions{}, info));
  // The APEv2 tag is last; the ID3v1 record in front of it is not at the end of the file.
  EXPECT_EQ(info.ID3v1TagSize, 0);
  EXPECT_EQ(info.APEv2TagSize, 1172);
  EXPECT_EQ(info.FileSize - info.APEv2TagSize, 17135 + 128);
}

// --- WAVE and RF64 ---

TEST(WAVEAudio, PCMFmtAndData)
{
  Bytes chunks;
  chunks.Append(RiffChunk("fmt ", WaveFmt(1, 2, 44100, 16))).Append(RiffChunk("data", Bytes().Zeros(44100)));
  TID3v2AudioInfo info;
  ASSERT_TRUE(Read(Wave(chunks), sftWAVE, 0, info));
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
  ASSERT_TRUE(Read(Wave(chunks), sftWAVE, 0, info));
  EXPECT_EQ(info.WAVInfo.fmtSize, 18u);
  EXPECT_EQ(info.SampleCount, 800);
  EXPECT_DOUBLE_EQ(info.PlayTime, 0.1);
}

TEST(WAVEAudio, ExtensibleFieldsKeptOthersZeroed)
{
  Bytes ext = WaveFmt(0xFFFE, 2, 48000, 24);
  ext.U16LE(22).U16LE(20).U32LE(3).U8(1).Fill(15, 0xAA);
  TID3v2AudioInfo info;
  ASSERT_TRUE(Read(Wave(Bytes().Append(RiffChunk("fmt ", ext)).Append(RiffChunk("data", Bytes().Zeros(600)))),
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
  ASSERT_TRUE(Read(Wave(Bytes().Append(RiffChunk("fmt ", plain)).Append(RiffChunk("data", Bytes().Zeros(6)))),
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
  ASSERT_TRUE(Read(Wave(chunks, "RF64"), sftRF64, 0, info));
  EXPECT_EQ(info.SampleCount, 1000);
  EXPECT_DOUBLE_EQ(info.PlayTime, 0.125);

  // Writers that leave the ds64 sample count 0: the data size counts.
  Bytes zero;
  zero.Append(RiffChunk("ds64", Ds64(0, 4000, 0)))
    .Append(RiffChunk("fmt ", WaveFmt(1, 1, 8000, 16)))
    .Str("data").U32LE(0xFFFFFFFFu).Zeros(4000);
  ASSERT_TRUE(Read(Wave(zero, "RF64"), sftRF64, 0, info));
  EXPECT_EQ(info.SampleCount, 2000);
  EXPECT_DOUBLE_EQ(info.PlayTime, 0.25);
}

TEST(WAVEAudio, HostileSizes)
{
  TID3v2AudioInfo info;
  // Data size beyond the file: only the bytes present are audio.
  Bytes cut;
  cut.Append(RiffChunk("fmt ", WaveFmt(1, 1, 8000, 8))).Str("data").U32LE(0xFFFFFFF0u).Zeros(800);
  ASSERT_TRUE(Read(Wave(cut), sftWAVE, 0, info));
  EXPECT_EQ(info.SampleCount, 800);
  EXPECT_DOUBLE_EQ(info.PlayTime, 0.1);

  // Zero block align and zero rate: no division.
  Bytes zeros;
  zeros.Append(RiffChunk("fmt ", Bytes().U16LE(1).U16LE(0).U32LE(0).U32LE(0).U16LE(0).U16LE(0)))
    .Append(RiffChunk("data", Bytes().Zeros(10)));
  ASSERT_TRUE(Read(Wave(zeros), sftWAVE, 0, info));
  EXPECT_EQ(info.SampleCount, 0);
  EXPECT_EQ(info.PlayTime, 0);
  EXPECT_EQ(info.BitRate, 0);

  // No fmt chunk, a chunk size that runs off the end, a wrong form type.
  EXPECT_FALSE(Read(Wave(RiffChunk("data", Bytes().Zeros(8))), sftWAVE, 0, info));
  EXPECT_EQ(info.SourceFileType, sftWAVE);
  EXPECT_FALSE(Read(Wave(Bytes().Str("junk").U32LE(0xFFFFFFFFu).Append(RiffChunk("fmt ", WaveFmt(1, 1, 8000, 8)))),
                    sftWAVE, 0, info));
  EXPECT_FALSE(Read(Bytes().Str("RIFF").U32LE(4).Str("AVI "), sftWAVE, 0, info));
  EXPECT_FALSE(Read(Wave(RiffChunk("fmt ", WaveFmt(1, 1, 8000, 8)), "RF64"), sftRF64, 0, info));
  // A ds64 sample count beyond any 64-bit signed count.
  Bytes huge;
  huge.Append(RiffChunk("ds64", Ds64(0, 8, ~0ull))).Append(RiffChunk("fmt ", WaveFmt(1, 1, 8000, 8)))
    .Append(RiffChunk("data", Bytes().Zeros(8)));
  ASSERT_TRUE(Read(Wave(huge, "RF64"), sftRF64, 0, info));
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
  ASSERT_TRUE(Read(Aiff(chunks), sftAIFF, 0, info));
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
  ASSERT_TRUE(Read(Aiff(chunks, "AIFC"), sftAIFF, 0, info));
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
  ASSERT_TRUE(Read(Aiff(chunks), sftAIFF, 0, info));
  EXPECT_EQ(info.AIFFInfo.SampleRate, 0);
  EXPECT_EQ(info.PlayTime, 0);
  EXPECT_EQ(info.BitRate, 0);
  // A huge rate: a play time near 0 must not overflow the bit rate.
  Bytes fast;
  fast.Append(AiffChunk("COMM", AiffComm(2, 1, 16, Extended80(0x43F0, 0x8000000000000000ull))))
    .Str("SSND").U32BE(0xFFFFFFF0u);
  ASSERT_TRUE(Read(Aiff(fast), sftAIFF, 0, info));
  EXPECT_GE(info.BitRate, 0);
  EXPECT_TRUE(std::isfinite(info.PlayTime));

  EXPECT_FALSE(Read(Aiff(AiffChunk("SSND", Bytes().Zeros(8))), sftAIFF, 0, info));
  EXPECT_FALSE(Read(Aiff(AiffChunk("COMM", Bytes().Zeros(6))), sftAIFF, 0, info));
  EXPECT_FALSE(Read(Aiff(AiffChunk("COMM", AiffComm(1, 1, 8, Extended80(0x400B, 0xFA00000000000000ull))), "8SVX"), sftAIFF,
                    0, info));
  // A COMM chunk outside the declared form is not read.
  Bytes outside = Aiff(Bytes());
  outside.Append(AiffChunk("COMM", AiffComm(1, 1, 8, Extended80(0x400B, 0xFA00000000000000ull))));
  EXPECT_FALSE(Read(outside, sftAIFF, 0, info));
}

// --- DSF ---

TEST(DSFAudio, FmtChunk)
{
  TID3v2AudioInfo info;
  ASSERT_TRUE(Read(Dsf(Bytes(), Bytes(), DsfFmtChunk(2, 2, 2822400, 2822400ull * 3)), sftDSF, 0, info));
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
  ASSERT_TRUE(Read(Dsf(Bytes(), Bytes(), DsfFmtChunk(8, 6, 0, ~0ull)), sftDSF, 0, info));
  EXPECT_EQ(info.DSFInfo.ChannelType, dsfctUnknown);
  EXPECT_EQ(info.PlayTime, 0);
  EXPECT_EQ(info.BitRate, 0);
  EXPECT_GT(info.SampleCount, 0);
  ASSERT_TRUE(Read(Dsf(Bytes(), Bytes(), DsfFmtChunk(7, 6, 1, ~0ull)), sftDSF, 0, info));
  EXPECT_EQ(info.DSFInfo.ChannelType, dsfct51Channels);
  EXPECT_TRUE(std::isfinite(info.PlayTime));
  EXPECT_FALSE(Read(Dsf(Bytes(), Bytes(), DsfFmtChunk(2, 2, 2822400, 100), ~0ull), sftDSF, 0, info));
  EXPECT_FALSE(Read(Dsf(Bytes(), Bytes(), DsfFmtChunk(2, 2, 2822400, 100), 0), sftDSF, 0, info));
  EXPECT_FALSE(Read(Dsf(Bytes(), Bytes(), DsfFmtChunk(2, 2, 2822400, 100), 40), sftDSF, 0, info));
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
  ASSERT_TRUE(Read(Dff(chunks), sftDFF, 0, info));
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
  ASSERT_TRUE(Read(Dff(chunks), sftDFF, 0, info));
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
  ASSERT_TRUE(Read(Dff(chunks), sftDFF, 0, info));
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
  ASSERT_TRUE(Read(Dff(empty), sftDFF, 0, info));
  EXPECT_EQ(info.PlayTime, 0);
  EXPECT_EQ(info.BitRate, 0);
  // DST without FRTE, a rate of 0 frames a second.
  Bytes dst;
  dst.Append(DFFProp(2822400, 2, "DST ")).Append(DffChunk("DST ", DffChunk("FRTE", Bytes().U32BE(5).U16BE(0))));
  ASSERT_TRUE(Read(Dff(dst), sftDFF, 0, info));
  EXPECT_EQ(info.PlayTime, 0);
  EXPECT_EQ(info.DFFInfo.Ratio, 0);
  // No sound chunk, or not a DSDIFF file at all.
  EXPECT_FALSE(Read(Dff(DFFProp(2822400, 2, "DSD ")), sftDFF, 0, info));
  EXPECT_FALSE(Read(Bytes().Str("FRM8").U64LE(0).Str("WAVE"), sftDFF, 0, info));
  EXPECT_FALSE(d.LoadFromFile("/nonexistent/file.dff"));
}

// --- Entry point ---

TEST(ReadID3v2AudioInfo, ContainerBehindTagStartAndSize)
{
  Bytes chunks;
  chunks.Append(RiffChunk("fmt ", WaveFmt(1, 1, 8000, 8))).Append(RiffChunk("data", Bytes().Zeros(800)));
  Bytes file;
  file.Zeros(20).Append(Wave(chunks));
  TMemoryStream stream{TBytes(file.v)};
  stream.SetPosition(5);
  TID3v2AudioInfo info;
  ASSERT_TRUE(ReadID3v2AudioInfo(stream, sftWAVE, 12, 8, TID3v2AudioOptions{}, info));
  EXPECT_DOUBLE_EQ(info.PlayTime, 0.1);
  EXPECT_EQ(stream.Position(), 5);

  TID3v2AudioOptions noParse;
  noParse.ParseAudioAttributes = false;
  ASSERT_TRUE(ReadID3v2AudioInfo(stream, sftWAVE, 12, 8, noParse, info));
  EXPECT_EQ(info.SourceFileType, sftWAVE);
  EXPECT_EQ(info.PlayTime, 0);
}

TEST(ReadID3v2AudioInfo, TLENFillsAMissingContainerPlayTime)
{
  Bytes chunks;
  chunks.Append(RiffChunk("fmt ", WaveFmt(1, 1, 0, 8))).Append(RiffChunk("data", Bytes().Zeros(8)));
  TID3v2AudioOptions options;
  options.UseTLENForPlaytime = true;
  options.TLENMilliseconds = 2500;
  TID3v2AudioInfo info;
  ASSERT_TRUE(Read(Wave(chunks), sftWAVE, 0, info, options));
  EXPECT_DOUBLE_EQ(info.PlayTime, 2.5);
}

} // namespace
