#include "tags/id3/id3v2_frame.h"

#include "tags/id3/id3v2_frame_content.h"
#include "tags/id3/id3v2_tag.h"
#include "tags/text/text.h"

std::string TID3v2Frames::GetURL(int FrameIndex) const
{
  const TID3v2Frame *f = ContentFrame(FrameIndex);
  if (!f || f->Data().empty()) return {};
  ByteReader in(f->Data());
  return TrimBlanks(ReadID3v2Latin1(in));
}

bool TID3v2Frames::SetURL(int FrameIndex, const std::string &URL)
{
  TBytes out;
  AppendID3v2Latin1(out, URL, false);
  return ReplaceData(FrameIndex, std::move(out));
}

bool TID3v2Frames::SetURL(std::string_view FrameID, const std::string &URL)
{
  if (URL.empty()) {
    DeleteFrame(FrameID);
    return true;
  }
  return SetURL(FrameForWriting(FrameID), URL);
}

bool TID3v2Frames::GetUserDefinedURLLink(int FrameIndex, std::string &Description, std::string &URL) const
{
  Description.clear();
  URL.clear();
  const TID3v2Frame *f = ContentFrame(FrameIndex);
  if (!f || f->Data().empty()) return false;
  ByteReader in(f->Data());
  std::uint8_t enc = 0;
  in.ReadU8(enc);
  bool be = false, terminated = false;
  Description = ReadID3v2String(in, enc, be, terminated);
  URL = ReadID3v2Latin1(in);
  return true;
}

bool TID3v2Frames::SetUserDefinedURLLink(int FrameIndex, const std::string &URL, TID3v2TextEncoding Encoding,
                                         const std::string &Description)
{
  const std::uint8_t enc = ID3v2EncodingByte(Encoding);
  TBytes out{enc};
  AppendID3v2String(out, Description, enc);
  // The URL is always ISO-8859-1, whatever the description's encoding.
  AppendID3v2Latin1(out, URL, false);
  return ReplaceData(FrameIndex, std::move(out));
}

int TID3v2Frames::FindUserDefinedURLLinkByDescription(const std::string &Description, std::string &URL) const
{
  std::string d;
  const int found = FindFrame("WXXX", [&](int i) {
    GetUserDefinedURLLink(i, d, URL);
    return d == Description;
  });
  if (found < 0) URL.clear();
  return found;
}

int TID3v2Frames::SetUserDefinedURLLinkByDescription(const std::string &Description, const std::string &URL,
                                                     TID3v2TextEncoding Encoding)
{
  std::string old;
  int i = FindUserDefinedURLLinkByDescription(Description, old);
  if (i < 0) i = AddFrame("WXXX");
  return SetUserDefinedURLLink(i, URL, Encoding, Description) ? i : -1;
}
