#include "tags/audio/audio_attributes.h"

#include "tags/audio/audio_math.h"

namespace {

// The answer of a lossless reader (WavPack, Monkey's Audio): a bits per sample of 0 is "not
// known here".
std::optional<std::int64_t> LosslessValue(TAudioValue What, double Bitrate, int SampleRate, int Channels, int Bits,
                                          std::int64_t Samples)
{
  switch (What) {
  case TAudioValue::avBitRate: return RoundHalfEven(Bitrate);
  case TAudioValue::avSamplesPerSec: return SampleRate;
  case TAudioValue::avChannels: return Channels;
  case TAudioValue::avBitsPerSample: return Bits != 0 ? std::optional<std::int64_t>(Bits) : std::nullopt;
  case TAudioValue::avSampleCount: return Samples;
  }
  return std::nullopt;
}

// The answer of the first present header reader; nullopt when none is present or it has no value
// and the native objects should be asked.
std::optional<std::int64_t> ReaderValue(const TSourceAudioAttributes &A, TAudioValue What)
{
  if (const TWAVPackfile *w = A.WAVPackAttributes.get())
    return LosslessValue(What, w->Bitrate, w->SampleRate, w->Channels, w->Bits, w->Samples);
  if (const TMPEGplus *m = A.MusePackAttributes.get()) {
    switch (What) {
    case TAudioValue::avBitRate: return m->BitRate;
    case TAudioValue::avSamplesPerSec: return m->SampleRate;
    case TAudioValue::avChannels: return m->ChannelCount != 0 ? m->ChannelCount : 2;
    case TAudioValue::avBitsPerSample: return 0;  // lossy: no such value
    case TAudioValue::avSampleCount: return m->SampleCount;
    }
  }
  if (const TMonkey *k = A.MonkeyAttributes.get())
    return LosslessValue(What, k->Bitrate, k->SampleRate, k->Channels, k->Bits, k->TotalSamples);
  return std::nullopt;
}

} // namespace

std::int64_t TSourceAudioAttributes::FirstValue(TAudioValue What) const
{
  if (const auto v = ReaderValue(*this, What)) return *v;
  if (!FNatives) return 0;
  return FNatives->NativeAudioValue(What).value_or(0);
}

void TSourceAudioAttributes::Clear()
{
  WAVPackAttributes.reset();
  MusePackAttributes.reset();
  MonkeyAttributes.reset();
}

void TSourceAudioAttributes::LoadHeaderReaders(TStream &Stream, bool WavPack, bool Musepack, bool Monkey,
                                               std::int64_t StartTagSize, std::int64_t EndTagsSize)
{
  if (WavPack) {
    auto r = std::make_unique<TWAVPackfile>();
    if (Stream.SetPosition(0) && r->LoadFromStream(Stream, 0)) WAVPackAttributes = std::move(r);
  }
  if (Musepack) {
    auto r = std::make_unique<TMPEGplus>();
    if (Stream.SetPosition(0) && r->LoadFromStream(Stream, StartTagSize, EndTagsSize)) MusePackAttributes = std::move(r);
  }
  if (Monkey) {
    auto r = std::make_unique<TMonkey>();
    if (Stream.SetPosition(0) && r->LoadFromStream(Stream, StartTagSize, EndTagsSize)) MonkeyAttributes = std::move(r);
  }
}

int TSourceAudioAttributes::Channels() const { return ClampToInt(FirstValue(TAudioValue::avChannels)); }

int TSourceAudioAttributes::SamplesPerSec() const { return ClampToInt(FirstValue(TAudioValue::avSamplesPerSec)); }

int TSourceAudioAttributes::BitsPerSample() const { return ClampToInt(FirstValue(TAudioValue::avBitsPerSample)); }

std::int64_t TSourceAudioAttributes::SampleCount() const { return FirstValue(TAudioValue::avSampleCount); }

int TSourceAudioAttributes::BitRate() const { return ClampToInt(FirstValue(TAudioValue::avBitRate)); }

double TSourceAudioAttributes::PlayTime() const
{
  // The first present header reader answers even with 0.
  if (WAVPackAttributes) return WAVPackAttributes->Duration;
  if (MusePackAttributes) return MusePackAttributes->Duration;
  if (MonkeyAttributes) return MonkeyAttributes->Duration;
  return FNatives ? FNatives->NativePlayTime() : 0;
}
