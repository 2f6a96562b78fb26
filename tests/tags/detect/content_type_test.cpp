#include "tags/detect/content_type.h"

#include <gtest/gtest.h>

#include <cctype>

#include "tags/ogg/ogg_page.h"
#include "tests/support/container_bytes.h"
#include "tests/support/test_support.h"

namespace {

struct SniffCase { const char *file; TAudioContainerType want; };
class ContainerSniffing : public ::testing::TestWithParam<SniffCase> {};

TEST_P(ContainerSniffing, Fixture) { EXPECT_EQ(GetAudioContainerType(FixturePath(GetParam().file)), GetParam().want); }

INSTANTIATE_TEST_SUITE_P(Fixtures, ContainerSniffing, ::testing::Values(
  SniffCase{"mp3/notags.mp3", actMPEG}, SniffCase{"mp3/id3v24-utf8.mp3", actMPEG},
  SniffCase{"mp3/apev2-id3v1.mp3", actMPEG}, SniffCase{"flac/notags.flac", actFLAC},
  SniffCase{"flac/id3v2-prepended.flac", actFLAC}, SniffCase{"oga/oggflac-tagged.oga", actOggFLAC},
  SniffCase{"ogg/vorbis-tagged.ogg", actVorbis}, SniffCase{"opus/opus-notags.opus", actOpus},
  SniffCase{"wav/notags.wav", actWAV}, SniffCase{"rf64/rf64-notags.wav", actRF64},
  SniffCase{"m4a/aac-moov-end.m4a", actMP4}, SniffCase{"wv/wavpack-notags.wv", actWavPack},
  SniffCase{"wma/wma-notags.wma", actASF}, SniffCase{"images/cover.png", actUnknown}),
  [](const auto &param) {
    std::string n = param.param.file;
    for (char &ch : n) if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return n;
  });

// A valid first Ogg page carrying a Theora identification header.
Bytes TheoraFirstPage()
{
  const TBytes data = Bytes().U8(0x80).Str("theora").Zeros(35);
  const std::uint8_t lacing[] = {static_cast<std::uint8_t>(data.size())};
  return Bytes().Append(EncodeOggPage(kOggFlagFirst, 0, 7, 0, lacing, data).Raw);
}

TEST(ContainerSniffingBytes, HeadersBehindAnID3v2Tag)
{
  const Bytes id3 = ID3v2Tag(4, 0, Bytes().Zeros(4));
  struct Case { Bytes8 body; TAudioContainerType want; };
  const Case cases[] = {
    {Bytes().Str("FORM").U32BE(100).Str("AIFF").Zeros(20), actAIFF},
    {Bytes().Str("FORM").U32BE(100).Str("AIFC").Zeros(20), actAIFC},
    {Bytes().Str("FRM8").Zeros(8).Str("DSD ").Zeros(20), actDSDIFF},
    {Bytes().Str("DSD ").Zeros(20), actDSF},
    {Bytes().Str("MAC ").Zeros(20), actMonkey},
    {Bytes().Str("OFR ").Zeros(20), actOptimFROG},
    {Bytes().Str("MP+").Zeros(20), actMusepack},
    {TheoraFirstPage(), actTheora},
    {Bytes().Zeros(7).U8(0xFF).U8(0xFB).Zeros(20), actMPEG},
    {Bytes().Fill(3000, 0x20).U8(0xFF).U8(0xFB), actUnknown},
  };
  for (const Case &c : cases) {
    TMemoryStream stream(Bytes().Append(id3).Append(c.body));
    EXPECT_EQ(GetAudioContainerTypeFromStream(stream), c.want) << AudioContainerTypeName(c.want);
  }
  TMemoryStream empty;
  EXPECT_EQ(GetAudioContainerTypeFromStream(empty), actUnknown);
}

} // namespace
