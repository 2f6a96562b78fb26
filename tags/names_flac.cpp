// The container's two-way copy between generic entries and the FLAC tag object (native FLAC and
// FLAC in Ogg), and the FLAC row of the format table.

#include <array>

#include "tags/flac/flac_tag.h"
#include "tags/names_vorbis.h"
#include "tags/native_format.h"
#include "tags/tag_container.h"

void TTags::LoadFlacTags()
{
  std::vector<TVorbisPicture> pictures;
  if (ParseCoverArts)
    for (int i = 0; i < FlacTag.PictureCount(); ++i) {
      TVorbisPicture p;
      p.Name = "Cover art " + std::to_string(i + 1);
      if (FlacTag.GetPicture(i, p.Picture, &p.DataInFile)) pictures.push_back(std::move(p));
    }
  LoadVorbisCommentEntries(*this, ttFlac, FlacTag.Comments, std::move(pictures));
  Loaded = true;
}

int TTags::PrepareFlacTag()
{
  FlacTag.UpperCaseFieldNamesToWrite = UpperCaseFieldNamesToWrite;
  PrepareVorbisComments(*this, FlacTag.Loaded, FlacTag.Comments);
  if (FlacTag.Loaded && !PicturesChanged()) return ftOk;
  const std::vector<TPictureBlock> pictures = VorbisPicturesOf(*this);
  return FlacTag.SetPictures(pictures);
}

namespace {

int PlanFlacSave(TTags &T, TStream &Content, TRewritePlan &Plan)
{
  const int code = T.PrepareFlacTag();
  return code != ftOk ? code : T.FlacTag.PlanSave(Content, Plan);
}

// A damaged tag is loaded as far as it is safe, so that it shows; its save is refused.
bool FlacLoaded(const TTags &T) { return T.FlacTag.Loaded || T.FlacTag.Damaged(); }

std::optional<std::int64_t> FlacAudioValue(const TTags &T, TAudioValue What)
{
  if (!FlacLoaded(T)) return std::nullopt;
  const TFlacStreamInfo &info = T.FlacTag.StreamInfo();
  switch (What) {
  case TAudioValue::avBitRate: return T.FlacTag.Bitrate();
  case TAudioValue::avSamplesPerSec: return info.SampleRate;
  case TAudioValue::avChannels: return info.Channels;
  case TAudioValue::avBitsPerSample: return info.BitsPerSample;
  case TAudioValue::avSampleCount: return static_cast<std::int64_t>(info.TotalSamples);
  }
  return std::nullopt;
}

std::optional<TNativePlayTime> FlacPlayTime(const TTags &T)
{
  if (!FlacLoaded(T) || !(T.FlacTag.PlayTime() > 0)) return std::nullopt;
  return TNativePlayTime{TPlayTimeSource::ptsFlac, T.FlacTag.PlayTime()};
}

constexpr std::array<TNativeCode, 10> kFlacCodes = {{
  {ftOk, tagsOk},
  {ftOnlyStreamInfo, tagsNoTag},
  {ftFileNotFound, tagsFileNotFound},
  {ftWriteFailed, tagsWriteFailed},
  {ftUnsupportedOgg, tagsVersionUnsupported},
  {ftNotFlac, tagsWrongFileKind},
  {ftDamaged, tagsCorrupt},
  {ftTooLarge, tagsSizeOverflow},
  {ftCannotRewrite, tagsLayoutNotWritable},
  {ftChangedSinceLoad, tagsUpdateFailed},
}};
constexpr std::array<int, 1> kFlacNothingToRemove = {ftNotFlac};
constexpr std::array<TAudioContainerType, 2> kFlacContentTypes = {actFLAC, actOggFLAC};

} // namespace

constinit const TNativeFormat kFlacFormat = {
  .Type = ttFlac,
  .Load = [](TTags &T, TReadView &V) { return T.FlacTag.Load(V) == ftOk; },
  .IsLoaded = FlacLoaded,
  .MapToEntries = [](TTags &T) { T.LoadFlacTags(); },
  .PicturesOnly = TPicturesOnlyLoad::ploMapped,
  .PlanSave = PlanFlacSave,
  .AutomaticSave = TAutomaticSave::asTagsTheFile,
  .ContentTypes = kFlacContentTypes,
  .PlanRemove = TFlacTag::PlanRemove,
  .NothingToRemove = kFlacNothingToRemove,
  .Codes = kFlacCodes,
  .DeleteEntry = [](TTags &T, const std::string &N, const TTag &E) { DeleteVorbisCommentEntry(T, T.FlacTag.Comments, N, E); },
  .Clear = [](TTags &T) { T.FlacTag.Clear(); },
  .Assign = [](TTags &T, const TTags &S) { return T.FlacTag.Assign(S.FlacTag); },
  .Size = [](const TTags &T) { return T.FlacTag.Size(); },
  .AudioValue = FlacAudioValue,
  .PlayTime = FlacPlayTime,
};
