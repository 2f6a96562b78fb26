#include "tags/audio/audio_readers.h"

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
  ASSERT_TRUE(ReadAudioOf(Wave(chunks), sftWAVE, 0, info, options));
  EXPECT_DOUBLE_EQ(info.PlayTime, 2.5);
}

} // namespace
