// Fuzz target: the audio-property readers over any bytes as a stream, for every file kind, with
// the audio placed after a leading ID3v2 tag when the bytes begin with one, and directly.
// Properties: play time finite and not negative, bit rate and sample count not negative, the
// stream position unchanged, the first MPEG frame inside the stream.

#include <cmath>

#include "fuzz/fuzz_entry.h"
#include "tags/audio/audio_readers.h"
#include "tags/id3/skip_id3v2.h"

namespace {

void CheckOne(TStream &Stream, TSourceFileType Kind, std::int64_t TagSize, const TID3v2AudioOptions &Options)
{
  TID3v2AudioInfo info;
  const std::int64_t before = Stream.Position();
  ReadID3v2AudioInfo(Stream, Kind, 0, TagSize, Options, info);
  FuzzRequire(Stream.Position() == before);
  FuzzRequire(std::isfinite(info.PlayTime) && info.PlayTime >= 0);
  FuzzRequire(info.BitRate >= 0 && info.SampleCount >= 0);
  FuzzRequire(info.FileSize == Stream.GetSize());
  if (info.SourceFileType == sftMPEG && Options.ParseAudioAttributes) {
    FuzzRequire(info.MPEGInfo.Position >= TagSize && info.MPEGInfo.Position < info.FileSize);
    FuzzRequire(info.MPEGInfo.FrameSize > 0);
  }
  FuzzRequire(std::isfinite(info.FramePlayTime()) && info.FramePlayTime() >= 0);
  FuzzRequire(info.SamplesPerSec() >= 0 && info.Channels() >= 0 && info.BitsPerSample() >= 0);
}

} // namespace

int FuzzMPEGAudio(const std::uint8_t *Data, std::size_t Size)
{
  TReadMemoryStream stream(Data, static_cast<std::int64_t>(Size));
  const std::int64_t tagSize = SkipID3v2(stream);
  TID3v2AudioOptions options;
  options.MPEGSearchLength = 1 << 16;
  for (TSourceFileType kind : {sftUnknown, sftWAVE, sftRF64, sftAIFF, sftDSF, sftDFF}) {
    CheckOne(stream, kind, 0, options);
    if (tagSize > 0) CheckOne(stream, kind, tagSize, options);
  }
  options.ParseAudioAttributes = false;
  CheckOne(stream, sftUnknown, tagSize, options);

  TDFFInfo dff;
  dff.LoadFromStream(stream);
  FuzzRequire(std::isfinite(dff.PlayTime) && std::isfinite(dff.Ratio));
  return 0;
}

CORVELLA_FUZZ_TARGET("fuzz_mpeg_audio", FuzzMPEGAudio)
