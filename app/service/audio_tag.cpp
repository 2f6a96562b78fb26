#include "app/service/audio_tag.h"

#include <algorithm>

#include "tags/streams/file_io.h"
#include "tags/text/text.h"

const std::array<TAudioTagTextField, kAudioTagTextFieldCount> &AudioTagTextFields()
{
  static const std::array<TAudioTagTextField, kAudioTagTextFieldCount> fields{{
    {"Title", &TAudioTag::Title},
    {"Artist", &TAudioTag::Artist},
    {"Album", &TAudioTag::Album},
    {"Year", &TAudioTag::Year},
    {"Track", &TAudioTag::Track},
    {"Genre", &TAudioTag::Genre},
    {"Comment", &TAudioTag::Comment},
    {"Disc", &TAudioTag::Disc},
    {"BPM", &TAudioTag::BPM},
    {"AlbumArtist", &TAudioTag::AlbumArtist},
    {"Composer", &TAudioTag::Composer},
    {"OrigArtist", &TAudioTag::OrigArtist},
    {"Copyright", &TAudioTag::Copyright},
    {"URL", &TAudioTag::URL},
    {"EncodedBy", &TAudioTag::EncodedBy},
    {"Lyrics", &TAudioTag::Lyrics},
  }};
  return fields;
}

TAudioFileType AudioFileTypeFromExtension(const std::string &FileName)
{
  const std::string ext = AsciiLowerCase(PathExtension(FileName));
  struct Row { const char *Ext; TAudioFileType Type; };
  static constexpr Row rows[] = {
    {".mp3", aftMP3}, {".flac", aftFLAC}, {".m4a", aftMP4}, {".m4b", aftMP4}, {".mp4", aftMP4}, {".wma", aftWMA},
    {".ogg", aftOGG}, {".oga", aftOGG}, {".opus", aftOGG}, {".ape", aftAPE}, {".wv", aftAPE}, {".mpc", aftAPE}, {".wav", aftWAV},
  };
  for (const Row &r : rows)
    if (ext == r.Ext) return r.Type;
  return aftUnknown;
}

bool IsScannedAudioFileName(std::string_view Name)
{
  const auto dot = Name.find_last_of('.');
  if (dot == std::string_view::npos) return false;
  const std::string ext = AsciiLowerCase(Name.substr(dot));
  static constexpr const char *extensions[] = {".mp3", ".flac", ".ogg", ".opus", ".oga", ".ape", ".wv", ".mpc", ".m4a", ".m4b", ".mp4", ".wma", ".wav",
                                               ".aif", ".aiff", ".dsf", ".dff"};
  for (const char *e : extensions)
    if (ext == e) return true;
  return false;
}

const char *AudioFileTypeName(TAudioFileType FileType)
{
  static constexpr const char *names[] = {"aftUnknown", "aftMP3", "aftFLAC", "aftMP4",
                                          "aftWMA", "aftOGG", "aftAPE", "aftWAV"};
  return FileType <= aftWAV ? names[FileType] : "aftUnknown";
}

bool IsTagEmpty(const TAudioTag &Tag)
{
  if (!Tag.CoverData.empty()) return false;
  for (const TAudioTagTextField &f : AudioTagTextFields())
    if (!TrimBlanks(Tag.*f.Member).empty()) return false;
  return true;
}

std::string JoinFieldValues(const std::vector<std::string> &Values)
{
  std::string joined;
  for (const std::string &v : Values) {
    if (!joined.empty()) joined += kFieldValueSeparator;
    joined += v;
  }
  return joined;
}

namespace {

const TAudioTag::TFieldValues *KeptValues(const TAudioTag &Tag, std::string TAudioTag::*Member)
{
  for (const TAudioTag::TFieldValues &kept : Tag.SeparateValues)
    if (kept.Member == Member) return &kept;
  return nullptr;
}

void DropValues(TAudioTag &Tag, std::string TAudioTag::*Member)
{
  std::erase_if(Tag.SeparateValues, [&](const TAudioTag::TFieldValues &kept) { return kept.Member == Member; });
}

} // namespace

bool HasSeparateValues(const TAudioTag &Tag, std::string TAudioTag::*Member)
{
  const TAudioTag::TFieldValues *kept = KeptValues(Tag, Member);
  // Kept values that no longer join to the text were typed over: the text is what counts.
  return kept && kept->Values.size() > 1 && JoinFieldValues(kept->Values) == Tag.*Member;
}

std::vector<std::string> FieldValues(const TAudioTag &Tag, std::string TAudioTag::*Member)
{
  if (HasSeparateValues(Tag, Member)) return KeptValues(Tag, Member)->Values;
  if ((Tag.*Member).empty()) return {};
  return {Tag.*Member};
}

void SetFieldValues(TAudioTag &Tag, std::string TAudioTag::*Member, std::vector<std::string> Values)
{
  std::erase(Values, std::string());
  DropValues(Tag, Member);
  Tag.*Member = JoinFieldValues(Values);
  if (Values.size() > 1) Tag.SeparateValues.push_back({Member, std::move(Values)});
}

void SetFieldText(TAudioTag &Tag, std::string TAudioTag::*Member, std::string Text)
{
  DropValues(Tag, Member);
  Tag.*Member = std::move(Text);
}
