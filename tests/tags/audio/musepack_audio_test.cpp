#include "tags/audio/musepack_audio.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "tests/support/audio_reading.h"
#include "tests/support/container_bytes.h"
#include "tests/support/test_support.h"

namespace {

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

} // namespace
