#include "tags/picture/picture_format.h"

#include <algorithm>

#include "tags/text/text.h"

TTagPictureFormat MIMETypeToPictureFormat(const std::string &MIMEType)
{
  if (SameText(MIMEType, "image/jpeg") || SameText(MIMEType, "image/jpg")) return tpfJPEG;
  if (SameText(MIMEType, "image/png")) return tpfPNG;
  if (SameText(MIMEType, "image/bmp")) return tpfBMP;
  if (SameText(MIMEType, "image/gif")) return tpfGIF;
  return tpfUnknown;
}

std::string PictureFormatMIMEType(TTagPictureFormat Format)
{
  switch (Format) {
  case tpfJPEG: return "image/jpeg";
  case tpfPNG: return "image/png";
  case tpfGIF: return "image/gif";
  case tpfBMP: return "image/bmp";
  case tpfTIFF: return "image/tiff";
  case tpfUnknown: break;
  }
  return "";
}

std::string SniffPictureMIMEType(const std::uint8_t *Data, std::size_t Size)
{
  return PictureFormatMIMEType(PicturePointerType(Data, static_cast<std::int64_t>(Size)));
}

TTagPictureFormat PicturePointerType(const void *Picture, std::int64_t DataSize)
{
  if (!Picture || DataSize <= 2) return tpfUnknown;
  const auto *p = static_cast<const std::uint8_t *>(Picture);
  if (p[0] == 0x47 && p[1] == 0x49) return tpfGIF;
  if (p[0] == 0x42 && p[1] == 0x4D) return tpfBMP;
  if (p[0] == 0x89 && p[1] == 0x50) return tpfPNG;
  if (p[0] == 0xFF && p[1] == 0xD8) return tpfJPEG;
  if (DataSize >= 4 && ((p[0] == 'I' && p[1] == 'I' && p[2] == '*' && p[3] == 0) ||
                        (p[0] == 'M' && p[1] == 'M' && p[2] == 0 && p[3] == '*')))
    return tpfTIFF;
  return tpfUnknown;
}

TTagPictureFormat PictureStreamType(TStream *PictureStream)
{
  if (!PictureStream) return tpfUnknown;
  TBytes head;
  const std::int64_t size = PictureStream->GetSize();
  TTagPictureFormat result = tpfUnknown;
  if (size > 0 && PictureStream->ReadAt(0, std::min<std::int64_t>(size, 4), head))
    result = PicturePointerType(head.data(), static_cast<std::int64_t>(head.size()));
  PictureStream->SetPosition(0);
  return result;
}

int PictureTypeFromDescription(const std::string &Text)
{
  static constexpr const char *kDescriptions[] = {
    "Other", "32x32 pixels 'file icon' (PNG only)", "Other file icon", "Cover (front)", "Cover (back)",
    "Leaflet page", "Media (e.g. label side of CD)", "Lead artist/lead performer/soloist", "Artist/performer",
    "Conductor", "Band/Orchestra", "Composer", "Lyricist/text writer", "Recording Location", "During recording",
    "During performance", "Movie/video screen capture", "A bright coloured fish", "Illustration",
    "Band/artist logotype", "Publisher/Studio logotype",
  };
  for (int i = 0; i < static_cast<int>(std::size(kDescriptions)); ++i)
    if (SameText(Text, kDescriptions[i])) return i;
  return 0;
}
