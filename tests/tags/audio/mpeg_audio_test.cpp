#include "tags/audio/mpeg_audio.h"

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
  ASSERT_TRUE(ReadAudioOf(file, sftUnknown, 1000, info));
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

// Frame syncs inside a format that never holds a bare MPEG stream are data, not audio (MP4 audio,
// MPEG or not, is read from its own atoms); RIFF, which can carry MPEG frames as its data, is
// still searched, and so is anything unknown.
TEST(MPEGAudio, FramesBehindANonMPEGSignatureAreNotAudio)
{
  const struct {
    const char *start;
    bool mpeg;
  } cases[] = {{"fLaC", false}, {"OggS", false}, {"wvpk", false}, {"MAC ", false}, {"MPCK", false},
               {"xxxxftyp", false}, {"RIFF", true}, {"junk", true}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.start);
    Bytes file;
    file.Str(c.start).Zeros(12).Append(MpegFrames(24));
    TID3v2AudioInfo info;
    EXPECT_EQ(ReadAudioOf(file, sftUnknown, 0, info), c.mpeg);
    EXPECT_EQ(info.SourceFileType == sftMPEG, c.mpeg);
  }
}

TEST(MPEGAudio, XingFrameCountWithEncoderDelayAndPadding)
{
  Bytes file;
  file.Append(XingFrame("Xing", 10000, 0, "LAME3.100")).Append(MpegFrames(5));
  TID3v2AudioInfo info;
  ASSERT_TRUE(ReadAudioOf(file, sftUnknown, 0, info));
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
  ASSERT_TRUE(ReadAudioOf(file, sftMPEG, 0, info));
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
  ASSERT_TRUE(ReadAudioOf(file, sftUnknown, 0, info));
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
  ASSERT_TRUE(ReadAudioOf(file, sftUnknown, 0, info));
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
  ASSERT_TRUE(ReadAudioOf(file, sftUnknown, 0, info));
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
  ASSERT_TRUE(ReadAudioOf(file, sftUnknown, 0, info));
  EXPECT_EQ(info.SampleCount, 0xFFFFFFFFll * 1152 - 8190);
  EXPECT_GT(info.PlayTime, 0);
  EXPECT_GE(info.BitRate, 0);

  Bytes swallowed;
  swallowed.Append(XingFrame("Xing", 1, 0, "LAME3.100", lame)).Append(MpegFrames(1));
  ASSERT_TRUE(ReadAudioOf(swallowed, sftUnknown, 0, info));
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
  ASSERT_TRUE(ReadAudioOf(file, sftUnknown, 0, info, options));
  EXPECT_DOUBLE_EQ(info.PlayTime, 61.5);
  EXPECT_EQ(info.SampleCount, 1000 * 1152 - 1576);
  options.UseTLENForPlaytime = false;
  ASSERT_TRUE(ReadAudioOf(file, sftUnknown, 0, info, options));
  EXPECT_DOUBLE_EQ(info.PlayTime, (1000.0 * 1152 - 1576) / 44100);
}

TEST(MPEGAudio, WithoutParseAudioAttributesOnlyTheKindIsFound)
{
  TID3v2AudioOptions options;
  options.ParseAudioAttributes = false;
  TID3v2AudioInfo info;
  ASSERT_TRUE(ReadAudioOf(MpegFrames(3), sftUnknown, 0, info, options));
  EXPECT_EQ(info.SourceFileType, sftMPEG);
  EXPECT_EQ(info.PlayTime, 0);
  EXPECT_EQ(info.BitRate, 0);
}

TEST(MPEGAudio, NoFramesNoKind)
{
  TID3v2AudioInfo info;
  EXPECT_FALSE(ReadAudioOf(Bytes().Fill(3000, 0xFF), sftUnknown, 0, info));
  EXPECT_EQ(info.SourceFileType, sftUnknown);
  EXPECT_EQ(info.FramePlayTime(), 0);
  EXPECT_FALSE(ReadAudioOf(Bytes(), sftUnknown, 0, info));
  // A tag size that points past the stream.
  EXPECT_FALSE(ReadAudioOf(MpegFrames(3), sftUnknown, 100000, info));
  EXPECT_FALSE(ReadAudioOf(MpegFrames(3), sftUnknown, -5, info));
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

} // namespace
