#pragma once
// Helpers of the audio-property reader tests: bytes built in a test as a read-only stream, and
// the readers of the ID3v2 object run over such bytes the way the object runs them (File as a
// stream, the container or the audio behind TagSize bytes of tag).

#include "tags/audio/audio_readers.h"
#include "tests/support/test_support.h"

inline TReadMemoryStream StreamOf(const Bytes &B)
{
  return TReadMemoryStream(B.v.data(), static_cast<std::int64_t>(B.size()));
}

inline bool ReadAudioOf(const Bytes8 &File, TSourceFileType Kind, std::int64_t TagSize, TID3v2AudioInfo &Out,
                        const TID3v2AudioOptions &Options = {})
{
  TMemoryStream stream{TBytes(File)};
  return ReadID3v2AudioInfo(stream, Kind, 0, TagSize, Options, Out);
}
