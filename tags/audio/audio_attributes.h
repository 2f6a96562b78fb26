#pragma once
// Audio properties of a loaded file. TSourceAudioAttributes answers play time, bit rate, sample
// count, sample rate, channels and bits per sample by asking, in a fixed order, first the
// WavPack (TWAVPackfile), Musepack (TMPEGplus) and Monkey's Audio (TMonkey) header readers that
// the container created on request, then the native tag objects of the container through
// TNativeAudio. It knows nothing of the container itself: each native format's row
// (tags/native_format.h) says what its object knows of the audio, and the container walks them.
// Readers never fail loudly: an unreadable or foreign stream leaves them out.

#include <cstdint>
#include <memory>
#include <optional>

#include "tags/audio/monkey_audio.h"
#include "tags/audio/musepack_audio.h"
#include "tags/audio/wavpack_audio.h"
#include "tags/streams/stream.h"

// The five values asked of the readers and the natives besides the play time.
enum class TAudioValue { avBitRate, avSamplesPerSec, avChannels, avBitsPerSample, avSampleCount };

// Where a native play time comes from, in the fixed order in which a play time is taken: the
// first of these with a value wins, whatever the load priority.
enum class TPlayTimeSource { ptsFlac, ptsOgg, ptsWAVTag, ptsMP4, ptsMPEG, ptsWMA, ptsWAVE, ptsAIFF, ptsDSF, ptsDSDIFF };

struct TNativePlayTime {
  TPlayTimeSource Source = TPlayTimeSource::ptsFlac;
  double Seconds = 0;
};

// What the native tag objects of a loaded file say about its audio.
class TNativeAudio {
public:
  // The value of the natives in load-priority order: a value ends the search (0 included, for
  // a format that has no such value); nullopt when none has one.
  virtual std::optional<std::int64_t> NativeAudioValue(TAudioValue What) const = 0;
  // The play time of the first source in TPlayTimeSource order that has one; 0 when none has.
  virtual double NativePlayTime() const = 0;

protected:
  ~TNativeAudio() = default;
};

class TSourceAudioAttributes {
public:
  explicit TSourceAudioAttributes(const TNativeAudio *Natives) : FNatives(Natives) {}
  // Frees the three readers.
  void Clear();
  // Runs the readers asked for over Stream and keeps each whose header is valid. StartTagSize
  // is the size of the tag the load found at the start of the stream, EndTagsSize that of the
  // tags it found at the end.
  void LoadHeaderReaders(TStream &Stream, bool WavPack, bool Musepack, bool Monkey, std::int64_t StartTagSize,
                         std::int64_t EndTagsSize);

  std::unique_ptr<TWAVPackfile> WAVPackAttributes;
  std::unique_ptr<TMPEGplus> MusePackAttributes;
  std::unique_ptr<TMonkey> MonkeyAttributes;

  int Channels() const;
  int SamplesPerSec() const;
  int BitsPerSample() const;
  double PlayTime() const;
  std::int64_t SampleCount() const;
  int BitRate() const;

private:
  std::int64_t FirstValue(TAudioValue What) const;

  const TNativeAudio *FNatives;
};
