#include "tags/id3/id3v2_frame.h"

#include "tags/id3/id3v2_frame_content.h"
#include "tags/id3/id3v2_tag.h"
#include "tags/text/text.h"

std::string LanguageIDToText(const std::array<char, 3> &LanguageID)
{
  std::string s;
  for (const char c : LanguageID)
    if (c != 0) s.push_back(c);
  return Latin1ToUtf8(s);
}

std::array<char, 3> TextToLanguageID(std::string_view Text)
{
  const std::string latin = Utf8ToLatin1(Text);
  std::array<char, 3> id{' ', ' ', ' '};
  for (std::size_t i = 0; i < 3 && i < latin.size(); ++i) id[i] = latin[i];
  return id;
}

bool TID3v2Frames::GetContent(int FrameIndex, std::string &LanguageID, std::string &Description,
                              std::string &Content) const
{
  LanguageID.clear();
  Description.clear();
  Content.clear();
  const TID3v2Frame *f = ContentFrame(FrameIndex);
  if (!f || f->Data().empty()) return false;
  ByteReader in(f->Data());
  std::uint8_t enc = 0;
  std::span<const std::uint8_t> lang;
  if (!in.ReadU8(enc) || !in.ReadSpan(3, lang)) return false;
  LanguageIDToText({static_cast<char>(lang[0]), static_cast<char>(lang[1]), static_cast<char>(lang[2])}).swap(LanguageID);
  bool be = false, terminated = false;
  Description = ReadID3v2String(in, enc, be, terminated);
  Content = ReadID3v2String(in, enc, be, terminated);
  if (Root && Root->TrimText) Content = TrimBlanks(Content);
  return true;
}

bool TID3v2Frames::SetContent(int FrameIndex, const std::string &Content, TID3v2TextEncoding Encoding,
                              const std::string &Description, const std::string &LanguageID)
{
  const std::uint8_t enc = ID3v2EncodingByte(Encoding);
  const auto lang = TextToLanguageID(LanguageID);
  TBytes out{enc};
  out.insert(out.end(), lang.begin(), lang.end());
  AppendID3v2String(out, Description, enc);
  AppendID3v2String(out, Content, enc);
  return ReplaceData(FrameIndex, std::move(out));
}

int TID3v2Frames::FindContentByDescription(std::string_view FrameID, const std::string &Description,
                                           const std::string &LanguageID) const
{
  const std::string wantLang = TrimBlanks(LanguageID);
  return FindFrame(FrameID, [&](int i) {
    std::string lang, desc, content;
    GetContent(i, lang, desc, content);
    return desc == Description && (wantLang.empty() || SameText(TrimBlanks(lang), wantLang));
  });
}

int TID3v2Frames::SetContentByDescription(std::string_view FrameID, const std::string &Content,
                                          TID3v2TextEncoding Encoding, const std::string &Description,
                                          const std::string &LanguageID)
{
  int i = FindContentByDescription(FrameID, Description, LanguageID);
  if (Content.empty()) {
    DeleteFrame(i);
    return -1;
  }
  if (i < 0) i = AddFrame(FrameID);
  return SetContent(i, Content, Encoding, Description, LanguageID.empty() ? std::string("eng") : LanguageID) ? i : -1;
}
