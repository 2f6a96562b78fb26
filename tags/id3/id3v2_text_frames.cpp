#include "tags/id3/id3v2_frame.h"

#include <algorithm>

#include "tags/id3/id3v1_tag.h"
#include "tags/id3/id3v2_frame_content.h"
#include "tags/id3/id3v2_tag.h"
#include "tags/text/lines.h"
#include "tags/text/text.h"

std::string ID3v2GenreToText(std::string_view Text)
{
  std::string built;
  std::size_t pos = 0;
  auto add = [&](const std::string &name) {
    if (name.empty()) return;
    if (!built.empty()) built += ' ';
    built += name;
  };
  while (pos < Text.size() && Text[pos] == '(') {
    if (Text.substr(pos, 2) == "((") { ++pos; break; }
    const std::size_t close = Text.find(')', pos);
    if (close == std::string_view::npos) break;
    const std::string_view inner = Text.substr(pos + 1, close - pos - 1);
    std::int64_t n = 0;
    if (inner.empty()) {
    } else if (inner == "RX") {
      add("Remix");
    } else if (inner == "CR") {
      add("Cover");
    } else if (inner.size() <= 3 && std::all_of(inner.begin(), inner.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
               TryParseInt64(inner, n) && n < 256) {
      if (const char *name = ID3GenreName(static_cast<int>(n))) add(name);
      else if (n != 255) add(std::to_string(n));
    } else {
      break;
    }
    pos = close + 1;
  }
  const std::string rest = TrimBlanks(Text.substr(pos));
  if (!rest.empty() && rest != built) add(rest);
  return built;
}

std::string TID3v2Frames::GetText(int FrameIndex, bool ReturnNativeText) const
{
  const TID3v2Frame *f = ContentFrame(FrameIndex);
  if (!f || f->Data().empty()) return {};
  std::uint8_t enc = 0;
  std::vector<std::string> strings;
  if (ReturnNativeText && f->Data()[0] == ebUTF8) {
    ByteReader in(f->Data());
    in.Skip(1);
    strings = ReadID3v2Strings(in, 0xFF);
  } else if (!ReadID3v2TextStrings(f->DataSpan(), enc, strings)) {
    return {};
  }
  const std::string text = JoinLines(strings);
  return Root && Root->TrimText ? TrimBlanks(text) : text;
}

std::string TID3v2Frames::GetText(std::string_view FrameID) const { return GetText(FrameExists(FrameID)); }

bool TID3v2Frames::SetText(int FrameIndex, const std::string &Text, TID3v2TextEncoding Encoding)
{
  return ReplaceData(FrameIndex, BuildID3v2TextData(ID3v2EncodingByte(Encoding), {Text}));
}

bool TID3v2Frames::SetText(std::string_view FrameID, const std::string &Text, TID3v2TextEncoding Encoding)
{
  if (Text.empty()) {
    DeleteFrame(FrameID);
    return true;
  }
  return SetText(FrameForWriting(FrameID), Text, Encoding);
}

bool TID3v2Frames::GetTextMultiple(int FrameIndex, std::vector<std::string> &List) const
{
  const std::string text = GetText(FrameIndex);
  List = SplitLines(text);
  return !text.empty();
}

bool TID3v2Frames::SetTextMultiple(int FrameIndex, const std::vector<std::string> &List, TID3v2TextEncoding Encoding)
{
  return ReplaceData(FrameIndex, BuildID3v2TextData(ID3v2EncodingByte(Encoding), List));
}

bool TID3v2Frames::SetTextMultiple(std::string_view FrameID, const std::vector<std::string> &List,
                                   TID3v2TextEncoding Encoding)
{
  if (std::all_of(List.begin(), List.end(), [](const std::string &s) { return s.empty(); })) {
    DeleteFrame(FrameID);
    return true;
  }
  return SetTextMultiple(FrameForWriting(FrameID), List, Encoding);
}

bool TID3v2Frames::SetRawText(int FrameIndex, const std::string &Text)
{
  TBytes out{ebLatin1};
  AppendID3v2Latin1(out, Text);
  return ReplaceData(FrameIndex, std::move(out));
}

bool TID3v2Frames::GetUserDefinedTextInformationMultiple(int FrameIndex, std::string &Description,
                                                         std::vector<std::string> &List) const
{
  Description.clear();
  List.clear();
  const TID3v2Frame *f = ContentFrame(FrameIndex);
  if (!f || f->Data().empty()) return false;
  ByteReader in(f->Data());
  std::uint8_t enc = 0;
  in.ReadU8(enc);
  if (enc > ebUTF8) return false;
  bool be = false, terminated = false;
  Description = ReadID3v2String(in, enc, be, terminated);
  if (terminated) {
    // A value without its own mark takes the description's byte order.
    while (!in.AtEnd()) {
      bool t = false;
      List.push_back(ReadID3v2String(in, enc, be, t));
      if (!t) break;
    }
  }
  if (Root && Root->TrimText)
    for (auto &s : List) s = TrimBlanks(s);
  return true;
}

bool TID3v2Frames::GetUserDefinedTextInformation(int FrameIndex, std::string &Description, std::string &Text) const
{
  std::vector<std::string> list;
  const bool ok = GetUserDefinedTextInformationMultiple(FrameIndex, Description, list);
  Text = JoinLines(list);
  if (Root && Root->TrimText) Text = TrimBlanks(Text);
  return ok;
}

std::string TID3v2Frames::GetUserDefinedTextInformation(const std::string &Description, bool CaseSensitive) const
{
  std::string d, t;
  const int found = FindFrame("TXXX", [&](int i) {
    GetUserDefinedTextInformation(i, d, t);
    return CaseSensitive ? d == Description : SameText(d, Description);
  });
  return found >= 0 ? t : std::string();
}

int TID3v2Frames::FindTXXXByDescription(const std::string &Description, std::string &Text) const
{
  std::string d;
  const int found = FindFrame("TXXX", [&](int i) {
    GetUserDefinedTextInformation(i, d, Text);
    return SameText(d, Description);
  });
  if (found < 0) Text.clear();
  return found;
}

int TID3v2Frames::FindTXXXByDescriptionMultiple(const std::string &Description, std::vector<std::string> &List) const
{
  std::string d;
  const int found = FindFrame("TXXX", [&](int i) {
    GetUserDefinedTextInformationMultiple(i, d, List);
    return SameText(d, Description);
  });
  if (found < 0) List.clear();
  return found;
}

bool TID3v2Frames::SetUserDefinedTextInformationMultiple(int FrameIndex, const std::string &Description,
                                                         TID3v2TextEncoding Encoding,
                                                         const std::vector<std::string> &List)
{
  const std::uint8_t enc = ID3v2EncodingByte(Encoding);
  TBytes out{enc};
  AppendID3v2String(out, Description, enc);
  for (const auto &s : List) AppendID3v2String(out, s, enc);
  if (List.empty()) AppendID3v2String(out, "", enc);
  return ReplaceData(FrameIndex, std::move(out));
}

bool TID3v2Frames::SetUserDefinedTextInformation(int FrameIndex, const std::string &Description,
                                                 TID3v2TextEncoding Encoding, const std::string &Text)
{
  return SetUserDefinedTextInformationMultiple(FrameIndex, Description, Encoding, SplitLines(Text));
}

int TID3v2Frames::SetTXXXByDescriptionMultiple(const std::string &Description, const std::vector<std::string> &List,
                                               TID3v2TextEncoding Encoding)
{
  std::vector<std::string> old;
  int i = FindTXXXByDescriptionMultiple(Description, old);
  if (i < 0) i = AddFrame("TXXX");
  return SetUserDefinedTextInformationMultiple(i, Description, Encoding, List) ? i : -1;
}

int TID3v2Frames::SetTXXXByDescription(const std::string &Description, const std::string &Text,
                                       TID3v2TextEncoding Encoding)
{
  return SetTXXXByDescriptionMultiple(Description, SplitLines(Text), Encoding);
}

std::string TID3v2Frames::GetListFrameText(int FrameIndex) const
{
  const TID3v2Frame *f = ContentFrame(FrameIndex);
  std::uint8_t enc = 0;
  std::vector<std::string> strings;
  if (!f || !ReadID3v2TextStrings(f->DataSpan(), enc, strings)) return {};
  // A role stored without its name stays as "role=", so that a save writes it back.
  if (strings.size() % 2 != 0) strings.emplace_back();
  const std::string text = JoinLines(PairItemsFromFlat(strings));
  return Root && Root->TrimText ? TrimBlanks(text) : text;
}

bool TID3v2Frames::GetListFrame(int FrameIndex, std::vector<std::string> &List) const
{
  const std::string text = GetListFrameText(FrameIndex);
  List = SplitLines(text);
  return !text.empty();
}

bool TID3v2Frames::SetListFrame(int FrameIndex, const std::vector<std::string> &List, TID3v2TextEncoding Encoding)
{
  return ReplaceData(FrameIndex, BuildID3v2TextData(ID3v2EncodingByte(Encoding), PairItemsToFlat(List)));
}

bool TID3v2Frames::SetListFrame(std::string_view FrameID, const std::vector<std::string> &List,
                                TID3v2TextEncoding Encoding)
{
  if (List.empty()) {
    DeleteFrame(FrameID);
    return true;
  }
  return SetListFrame(FrameForWriting(FrameID), List, Encoding);
}
