#include "tags/detect/extensions.h"

#include <algorithm>
#include <initializer_list>

#include "tags/streams/file_io.h"
#include "tags/text/text.h"

std::string ExtensionOf(const std::string &FileName) { return AsciiUpperCase(PathExtension(FileName)); }

TTagTypes GetTagTypesByExtension(const std::string &FileName)
{
  const std::string ext = ExtensionOf(FileName);
  const auto in = [&](std::initializer_list<const char *> list) {
    return std::any_of(list.begin(), list.end(), [&](const char *e) { return ext == e; });
  };
  if (in({".MPG", ".MP1", ".MP2", ".MP3", ".MPA", ".AIFF", ".AIF", ".AIFC", ".AFC", ".DSF", ".DFF"})) return TagTypeBit(ttID3v2);
  if (in({".OGG", ".OPUS", ".OGV"})) return TagTypeBit(ttOpusVorbis);
  if (in({".FLAC", ".FLA", ".FLC", ".OGA"})) return TagTypeBit(ttFlac);
  if (in({".WMA", ".WMV", ".ASF"})) return TagTypeBit(ttWMA);
  if (in({".MP4", ".M4A", ".M4B", ".ALAC"})) return TagTypeBit(ttMP4);
  if (in({".APE", ".MPC", ".WV", ".OFR"})) return TagTypeBit(ttAPEv2);
  if (in({".WAV", ".WAVE", ".RF64", ".BWF"})) return TagTypeBit(ttWAV) | TagTypeBit(ttID3v2);
  return TagTypeBit(ttAPEv2);
}
