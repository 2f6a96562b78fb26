#include "tags/detect/content_type.h"

#include <algorithm>

#include "tags/audio/musepack_audio.h"
#include "tags/audio/wavpack_audio.h"
#include "tags/id3/skip_id3v2.h"
#include "tags/ogg/ogg_page.h"
#include "tags/streams/buffered_stream.h"
#include "tags/streams/byte_reader.h"
#include "tags/streams/file_io.h"

namespace {

// The codec of the first logical stream of an Ogg stream whose first page is at Pos: only a
// page that passes every check (capture, version, CRC) counts.
TAudioContainerType OggCodecAt(TStream &Stream, std::int64_t Pos)
{
  TOggPage page;
  if (ReadOggPageAt(Stream, Pos, page) != opcOk) return actUnknown;
  switch (OggCodecOfPacket(page.Data())) {
  case ocVorbis: return actVorbis;
  case ocOpus: return actOpus;
  case ocFlac: return actOggFLAC;
  case ocNotOgg:
  case ocOther: break;
  }
  return ByteReader(page.Data()).StartsWith("\x80theora") ? actTheora : actUnknown;
}

} // namespace

const char *AudioContainerTypeName(TAudioContainerType T)
{
  static const char *const kNames[] = {"actUnknown", "actMonkey", "actFLAC", "actOggFLAC", "actMPEG", "actMP4",
                                       "actOpus", "actVorbis", "actTheora", "actWAV", "actRF64", "actAIFF",
                                       "actAIFC", "actDSDIFF", "actDSF", "actOptimFROG", "actMusepack", "actWavPack",
                                       "actASF"};
  return (T >= 0 && T <= actASF) ? kNames[T] : "actUnknown";
}

TAudioContainerType GetAudioContainerType(const std::string &FileName)
{
  auto f = TFileStream::Open(FileName, TFileMode::fmOpenRead);
  if (!f) return actUnknown;
  TBufferedStream buffered(*f);
  return GetAudioContainerTypeFromStream(buffered);
}

TAudioContainerType GetAudioContainerTypeFromStream(TStream &Stream)
{
  const std::int64_t size = Stream.GetSize();
  if (size <= 0) return actUnknown;
  const std::int64_t s = SkipID3v2(Stream);
  TBytes head;
  if (!ReadUpTo(Stream, s, kSignatureBytes, head)) return actUnknown;

  if (const TAudioContainerType t = SignatureType(head); t != actUnknown) return t;
  if (SignatureAt(head, 0, "OggS")) {
    const TAudioContainerType codec = OggCodecAt(Stream, s);
    if (codec != actUnknown) return codec;
  }

  {
    TWAVPackfile wavpack;
    if (Stream.SetPosition(0) && wavpack.LoadFromStream(Stream, 0)) return actWavPack;
    TMPEGplus musepack;
    if (Stream.SetPosition(0) && musepack.LoadFromStream(Stream, s, 0)) return actMusepack;
  }

  // An MPEG audio frame sync within the first bytes behind the tag. Each attempt reads one
  // byte, and a second one when the first is FF, exactly as far as 1025 attempts reach.
  TBytes window;
  if (!ReadUpTo(Stream, s, 2 * 1025, window)) return actUnknown;
  std::size_t i = 0;
  for (int attempt = 0; attempt < 1025 && i < window.size(); ++attempt) {
    if (window[i] != 0xFF) { ++i; continue; }
    if (i + 1 >= window.size()) break;
    const std::uint8_t b = window[i + 1];
    if (b == 0xF9 || b == 0xFA || b == 0xFB || b == 0xFC || b == 0xFD || b == 0xF2 || b == 0xF3 || b == 0xE3) {
      Stream.SetPosition(s + static_cast<std::int64_t>(i));
      return actMPEG;
    }
    i += 2;
  }
  return actUnknown;
}
