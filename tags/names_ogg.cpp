// The container's two-way copy between generic entries and the comments of an Ogg Vorbis or
// Opus stream (TOpusTag), and the Ogg row of the format table.

#include <array>

#include "tags/names_vorbis.h"
#include "tags/native_format.h"
#include "tags/ogg/opus_tag.h"
#include "tags/tag_container.h"

void TTags::LoadOggVorbisAndOpusTags()
{
  std::vector<TVorbisPicture> pictures;
  if (ParseCoverArts)
    for (int i = 0; i < OggVorbisAndOpusTag.PictureCount(); ++i) {
      TVorbisPicture p;
      if (OggVorbisAndOpusTag.GetPicture(i, p.Picture, p.Name, &p.Encoded)) pictures.push_back(std::move(p));
    }
  LoadVorbisCommentEntries(*this, ttOpusVorbis, OggVorbisAndOpusTag.Comments, std::move(pictures));
  Loaded = true;
}

int TTags::PrepareOggVorbisAndOpusTag()
{
  TOpusTag &ogg = OggVorbisAndOpusTag;
  ogg.UpperCaseFieldNamesToWrite = UpperCaseFieldNamesToWrite;
  PrepareVorbisComments(*this, ogg.Loaded, ogg.Comments);
  if (ogg.Loaded && !PicturesChanged()) return otOk;
  const std::vector<TPictureBlock> pictures = VorbisPicturesOf(*this);
  return ogg.SetPictures(pictures);
}

namespace {

int PlanOggSave(TTags &T, TStream &Content, TRewritePlan &Plan)
{
  const int code = T.PrepareOggVorbisAndOpusTag();
  return code != otOk ? code : T.OggVorbisAndOpusTag.PlanSave(Content, Plan);
}

// A damaged comment header is loaded as far as it is safe, so that it shows; its save is refused.
bool OggLoaded(const TTags &T)
{
  const TOpusTag &ogg = T.OggVorbisAndOpusTag;
  return ogg.Loaded || (ogg.Format != ofUnknown && ogg.Damaged());
}

std::optional<std::int64_t> OggAudioValue(const TTags &T, TAudioValue What)
{
  const TOpusTag &ogg = T.OggVorbisAndOpusTag;
  if (!OggLoaded(T) || (ogg.Format != ofVorbis && ogg.Format != ofOpus)) return std::nullopt;
  switch (What) {
  case TAudioValue::avBitRate: return ogg.Bitrate();
  case TAudioValue::avSamplesPerSec: return ogg.SampleRate();
  case TAudioValue::avChannels: return ogg.Channels();
  // Neither codec has a sample size: once the channels are known, the answer is 0.
  case TAudioValue::avBitsPerSample: return ogg.Channels() != 0 ? std::optional<std::int64_t>(0) : std::nullopt;
  case TAudioValue::avSampleCount: return static_cast<std::int64_t>(ogg.SampleCount());
  }
  return std::nullopt;
}

std::optional<TNativePlayTime> OggPlayTime(const TTags &T)
{
  if (!OggLoaded(T) || !(T.OggVorbisAndOpusTag.PlayTime() > 0)) return std::nullopt;
  return TNativePlayTime{TPlayTimeSource::ptsOgg, T.OggVorbisAndOpusTag.PlayTime()};
}

constexpr std::array<TNativeCode, 7> kOggCodes = {{
  {otOk, tagsOk},
  {otFileNotFound, tagsFileNotFound},
  {otWriteFailed, tagsWriteFailed},
  {otDamaged, tagsCorrupt},
  {otNoStream, tagsWrongFileKind},
  {otCannotRewrite, tagsLayoutNotWritable},
  {otUnknown, tagsUnsupported},
}};
constexpr std::array<int, 2> kOggNothingToRemove = {otNoStream, otUnknown};
constexpr std::array<TAudioContainerType, 3> kOggContentTypes = {actOpus, actVorbis, actTheora};

} // namespace

constinit const TNativeFormat kOggFormat = {
  .Type = ttOpusVorbis,
  .Load = [](TTags &T, TReadView &V) { return T.OggVorbisAndOpusTag.Load(V) == otOk; },
  .IsLoaded = OggLoaded,
  .MapToEntries = [](TTags &T) { T.LoadOggVorbisAndOpusTags(); },
  .PicturesOnly = TPicturesOnlyLoad::ploMapped,
  .PlanSave = PlanOggSave,
  .AutomaticSave = TAutomaticSave::asTagsTheFile,
  .ContentTypes = kOggContentTypes,
  .PlanRemove = TOpusTag::PlanRemove,
  .NothingToRemove = kOggNothingToRemove,
  .Codes = kOggCodes,
  .DeleteEntry = [](TTags &T, const std::string &N, const TTag &E) {
    DeleteVorbisCommentEntry(T, T.OggVorbisAndOpusTag.Comments, N, E);
  },
  .Clear = [](TTags &T) { T.OggVorbisAndOpusTag.Clear(); },
  .Assign = [](TTags &T, const TTags &S) { return T.OggVorbisAndOpusTag.Assign(S.OggVorbisAndOpusTag); },
  .Size = [](const TTags &T) { return T.OggVorbisAndOpusTag.Size(); },
  .AudioValue = OggAudioValue,
  .PlayTime = OggPlayTime,
};
