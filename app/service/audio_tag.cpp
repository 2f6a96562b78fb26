#include "app/service/audio_tag.h"

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
    {".mp3", aftMP3}, {".flac", aftFLAC}, {".m4a", aftMP4}, {".mp4", aftMP4}, {".wma", aftWMA},
    {".ogg", aftOGG}, {".oga", aftOGG}, {".opus", aftOGG}, {".ape", aftAPE}, {".wav", aftWAV},
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
  static constexpr const char *extensions[] = {".mp3", ".flac", ".ogg", ".opus", ".oga", ".ape", ".m4a", ".wma", ".wav"};
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
