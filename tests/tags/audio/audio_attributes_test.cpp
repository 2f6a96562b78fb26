#include "tags/audio/audio_attributes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "tags/tag_container.h"
#include "tests/support/audio_reading.h"
#include "tests/support/container_bytes.h"
#include "tests/support/test_support.h"

namespace {

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

} // namespace
