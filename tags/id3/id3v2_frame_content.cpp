#include "tags/id3/id3v2_frame_content.h"

#include <algorithm>

#include "tags/id3/id3v1_tag.h"
#include "tags/id3/id3v2_tag.h"
#include "tags/id3/skip_id3v2.h"
#include "tags/streams/byte_writer.h"
#include "tags/streams/file_io.h"
#include "tags/text/text.h"

namespace {

const char *const kCRLF = "\r\n";

std::vector<std::string> SplitLines(const std::string &Text)
{
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start <= Text.size()) {
    const std::size_t lf = Text.find('\n', start);
    std::string line = Text.substr(start, lf == std::string::npos ? std::string::npos : lf - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    if (lf == std::string::npos) break;
    start = lf + 1;
  }
  return lines;
}

std::string JoinLines(const std::vector<std::string> &Lines)
{
  std::string out;
  for (const auto &s : Lines) {
    if (!out.empty()) out += kCRLF;
    out += s;
  }
  return out;
}

std::string ReadLatin1(ByteReader &In)
{
  bool be = false, terminated = false;
  return ReadID3v2String(In, ebLatin1, be, terminated);
}

void AppendLatin1(TBytes &Out, const std::string &Text, bool Terminate = true)
{
  AppendID3v2String(Out, Text, ebLatin1, Terminate);
}

// The strings after an encoding byte, read until one ends without a terminator.
std::vector<std::string> ReadStrings(ByteReader &In, std::uint8_t Enc)
{
  std::vector<std::string> out;
  bool be = false;
  while (!In.AtEnd()) {
    bool terminated = false;
    out.push_back(ReadID3v2String(In, Enc, be, terminated));
    if (!terminated) break;
  }
  return out;
}

std::string JoinStringsForText(const std::vector<std::string> &Strings)
{
  std::string text;
  for (const auto &s : Strings) {
    if (!text.empty()) text += kCRLF;
    text += s;
  }
  return text;
}

} // namespace

// --- the string layer --------------------------------------------------------------------------

std::uint8_t ID3v2EncodingByte(TID3v2TextEncoding Encoding)
{
  switch (Encoding) {
  case teUTF8: return ebUTF8;
  case teANSI: return ebLatin1;
  default: return ebUTF16;
  }
}

std::string ReadID3v2String(ByteReader &In, std::uint8_t Enc, bool &BigEndian, bool &Terminated)
{
  Terminated = false;
  if (Enc == ebUTF16 || Enc == ebUTF16BE) {
    if (Enc == ebUTF16BE) {
      BigEndian = true;
    } else if (In.Remaining() >= 2) {
      const auto r = In.Rest();
      if (r[0] == 0xFF && r[1] == 0xFE) { BigEndian = false; In.Skip(2); }
      else if (r[0] == 0xFE && r[1] == 0xFF) { BigEndian = true; In.Skip(2); }
    }
    std::string raw;
    std::span<const std::uint8_t> unit;
    while (In.Remaining() >= 2) {
      In.ReadSpan(2, unit);
      if (unit[0] == 0 && unit[1] == 0) { Terminated = true; break; }
      raw.push_back(static_cast<char>(unit[0]));
      raw.push_back(static_cast<char>(unit[1]));
    }
    if (!Terminated) In.Skip(In.Remaining());  // an odd last byte belongs to no character
    std::string text = Utf16BytesToUtf8(raw, BigEndian);
    // A mark inside UTF-16BE data (not expected there) is not text.
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    return text;
  }
  std::string raw;
  std::uint8_t b = 0;
  while (In.ReadU8(b)) {
    if (b == 0) { Terminated = true; break; }
    raw.push_back(static_cast<char>(b));
  }
  if (Enc == ebLatin1) return Latin1ToUtf8(raw);
  if (Enc == ebUTF8) return SanitizeUtf8(raw);
  return AnsiToUtf8(raw);
}

void AppendID3v2String(TBytes &Out, std::string_view Text, std::uint8_t Enc, bool Terminate)
{
  std::string bytes;
  switch (Enc) {
  case ebUTF16:
    Out.push_back(0xFF);
    Out.push_back(0xFE);
    bytes = Utf8ToUtf16Bytes(Text, false);
    break;
  case ebUTF16BE: bytes = Utf8ToUtf16Bytes(Text, true); break;
  case ebUTF8: bytes = SanitizeUtf8(Text); break;
  default: bytes = Utf8ToLatin1(Text); break;
  }
  Out.insert(Out.end(), bytes.begin(), bytes.end());
  if (!Terminate) return;
  Out.push_back(0);
  if (Enc == ebUTF16 || Enc == ebUTF16BE) Out.push_back(0);
}

bool ReadID3v2TextStrings(std::span<const std::uint8_t> Data, std::uint8_t &Enc, std::vector<std::string> &Strings)
{
  Strings.clear();
  if (Data.empty()) return false;
  ByteReader in(Data.data(), Data.size());
  Enc = Data[0];
  if (Enc > ebUTF8) {
    // No encoding byte: the whole data is one ISO-8859-1 text.
    Enc = ebLatin1;
  } else {
    in.Skip(1);
  }
  Strings = ReadStrings(in, Enc);
  return true;
}

TBytes BuildID3v2TextData(std::uint8_t Enc, const std::vector<std::string> &Strings)
{
  TBytes out{Enc};
  for (const auto &s : Strings) AppendID3v2String(out, s, Enc);
  return out;
}

bool ID3v2TextDataIsEmpty(std::span<const std::uint8_t> Data)
{
  std::uint8_t enc = 0;
  std::vector<std::string> strings;
  if (!ReadID3v2TextStrings(Data, enc, strings)) return true;
  return std::all_of(strings.begin(), strings.end(), [](const std::string &s) { return s.empty(); });
}

// --- kinds, genres, languages ------------------------------------------------------------------

int ID3v2FrameKind(std::string_view FrameID)
{
  const std::string id(FrameID.substr(0, std::min<std::size_t>(FrameID.size(), 4)));
  if (id == "PRIV") return fkPRIV;
  if (id == "PCNT") return fkPlayCounter;
  if (id == "SESC" || id == "SEBR" || id == "SEFC" || id == "GEOB" || id == "APIC") return fkBinary;
  if (id == "WXXX") return fkUserURL;
  if (!id.empty() && id[0] == 'W') return fkURL;
  if (id == "TIPL" || id == "TMCL") return fkList;
  if (id == "COMM" || id == "USLT") return fkContent;
  if (id == "CHAP") return fkCHAP;
  if (id == "CTOC") return fkCTOC;
  if (id == "TXXX") return fkUserText;
  if (!id.empty() && id[0] == 'T') return fkText;
  return fkBinary;
}

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

// --- helpers of the list -----------------------------------------------------------------------

TID3v2Frame *TID3v2Frames::WritableFrame(int FrameIndex) { return Frame(FrameIndex); }

int TID3v2Frames::FrameForWriting(std::string_view FrameID)
{
  const int i = FrameExists(FrameID);
  return i >= 0 ? i : AddFrame(FrameID);
}

// --- text frames -------------------------------------------------------------------------------

std::string TID3v2Frames::GetText(int FrameIndex, bool ReturnNativeText) const
{
  const TID3v2Frame *f = Frame(FrameIndex);
  if (!f || f->Data().empty()) return {};
  std::uint8_t enc = 0;
  std::vector<std::string> strings;
  if (ReturnNativeText && f->Data()[0] == ebUTF8) {
    ByteReader in(f->Data());
    in.Skip(1);
    strings = ReadStrings(in, 0xFF);
  } else if (!ReadID3v2TextStrings(f->DataSpan(), enc, strings)) {
    return {};
  }
  const std::string text = JoinStringsForText(strings);
  return Root && Root->TrimText ? TrimBlanks(text) : text;
}

std::string TID3v2Frames::GetText(std::string_view FrameID) const { return GetText(FrameExists(FrameID)); }

bool TID3v2Frames::SetText(int FrameIndex, const std::string &Text, TID3v2TextEncoding Encoding)
{
  TID3v2Frame *f = WritableFrame(FrameIndex);
  if (!f) return false;
  f->SetDataBytes(BuildID3v2TextData(ID3v2EncodingByte(Encoding), {Text}));
  return true;
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
  List.clear();
  const std::string text = GetText(FrameIndex);
  if (text.empty()) return false;
  List = SplitLines(text);
  return true;
}

bool TID3v2Frames::SetTextMultiple(int FrameIndex, const std::vector<std::string> &List, TID3v2TextEncoding Encoding)
{
  TID3v2Frame *f = WritableFrame(FrameIndex);
  if (!f) return false;
  f->SetDataBytes(BuildID3v2TextData(ID3v2EncodingByte(Encoding), List));
  return true;
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
  TID3v2Frame *f = WritableFrame(FrameIndex);
  if (!f) return false;
  TBytes out{ebLatin1};
  AppendLatin1(out, Text);
  f->SetDataBytes(std::move(out));
  return true;
}

// --- user text ---------------------------------------------------------------------------------

bool TID3v2Frames::GetUserDefinedTextInformationMultiple(int FrameIndex, std::string &Description,
                                                         std::vector<std::string> &List) const
{
  Description.clear();
  List.clear();
  const TID3v2Frame *f = Frame(FrameIndex);
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
  for (int i = 0; i < FrameCount(); ++i) {
    if (!Frames[static_cast<std::size_t>(i)]->IsID("TXXX")) continue;
    std::string d, t;
    GetUserDefinedTextInformation(i, d, t);
    if (CaseSensitive ? d == Description : SameText(d, Description)) return t;
  }
  return {};
}

int TID3v2Frames::FindTXXXByDescription(const std::string &Description, std::string &Text) const
{
  Text.clear();
  for (int i = 0; i < FrameCount(); ++i) {
    if (!Frames[static_cast<std::size_t>(i)]->IsID("TXXX")) continue;
    std::string d, t;
    GetUserDefinedTextInformation(i, d, t);
    if (SameText(d, Description)) {
      Text = t;
      return i;
    }
  }
  return -1;
}

int TID3v2Frames::FindTXXXByDescriptionMultiple(const std::string &Description, std::vector<std::string> &List) const
{
  List.clear();
  for (int i = 0; i < FrameCount(); ++i) {
    if (!Frames[static_cast<std::size_t>(i)]->IsID("TXXX")) continue;
    std::string d;
    std::vector<std::string> l;
    GetUserDefinedTextInformationMultiple(i, d, l);
    if (SameText(d, Description)) {
      List = l;
      return i;
    }
  }
  return -1;
}

bool TID3v2Frames::SetUserDefinedTextInformationMultiple(int FrameIndex, const std::string &Description,
                                                         TID3v2TextEncoding Encoding,
                                                         const std::vector<std::string> &List)
{
  TID3v2Frame *f = WritableFrame(FrameIndex);
  if (!f) return false;
  const std::uint8_t enc = ID3v2EncodingByte(Encoding);
  TBytes out{enc};
  AppendID3v2String(out, Description, enc);
  for (const auto &s : List) AppendID3v2String(out, s, enc);
  if (List.empty()) AppendID3v2String(out, "", enc);
  f->SetDataBytes(std::move(out));
  return true;
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

// --- involved-people lists ---------------------------------------------------------------------

std::string TID3v2Frames::GetListFrameText(int FrameIndex) const
{
  const TID3v2Frame *f = Frame(FrameIndex);
  std::uint8_t enc = 0;
  std::vector<std::string> strings;
  if (!f || !ReadID3v2TextStrings(f->DataSpan(), enc, strings)) return {};
  std::string text;
  for (std::size_t i = 0; i < strings.size(); i += 2) {
    if (!text.empty()) text += kCRLF;
    text += strings[i] + "=" + (i + 1 < strings.size() ? strings[i + 1] : std::string());
  }
  return Root && Root->TrimText ? TrimBlanks(text) : text;
}

bool TID3v2Frames::GetListFrame(int FrameIndex, std::vector<std::string> &List) const
{
  List.clear();
  const std::string text = GetListFrameText(FrameIndex);
  if (text.empty()) return false;
  List = SplitLines(text);
  return true;
}

bool TID3v2Frames::SetListFrame(int FrameIndex, const std::vector<std::string> &List, TID3v2TextEncoding Encoding)
{
  TID3v2Frame *f = WritableFrame(FrameIndex);
  if (!f) return false;
  std::vector<std::string> strings;
  for (const auto &line : List) {
    const std::size_t eq = line.find('=');
    strings.push_back(line.substr(0, eq));
    strings.push_back(eq == std::string::npos ? std::string() : line.substr(eq + 1));
  }
  f->SetDataBytes(BuildID3v2TextData(ID3v2EncodingByte(Encoding), strings));
  return true;
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

// --- URLs --------------------------------------------------------------------------------------

std::string TID3v2Frames::GetURL(int FrameIndex) const
{
  const TID3v2Frame *f = Frame(FrameIndex);
  if (!f || f->Data().empty()) return {};
  ByteReader in(f->Data());
  return TrimBlanks(ReadLatin1(in));
}

bool TID3v2Frames::SetURL(int FrameIndex, const std::string &URL)
{
  TID3v2Frame *f = WritableFrame(FrameIndex);
  if (!f) return false;
  TBytes out;
  AppendLatin1(out, URL, false);
  f->SetDataBytes(std::move(out));
  return true;
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
  const TID3v2Frame *f = Frame(FrameIndex);
  if (!f || f->Data().empty()) return false;
  ByteReader in(f->Data());
  std::uint8_t enc = 0;
  in.ReadU8(enc);
  bool be = false, terminated = false;
  Description = ReadID3v2String(in, enc, be, terminated);
  URL = ReadLatin1(in);
  return true;
}

bool TID3v2Frames::SetUserDefinedURLLink(int FrameIndex, const std::string &URL, TID3v2TextEncoding Encoding,
                                         const std::string &Description)
{
  TID3v2Frame *f = WritableFrame(FrameIndex);
  if (!f) return false;
  const std::uint8_t enc = ID3v2EncodingByte(Encoding);
  TBytes out{enc};
  AppendID3v2String(out, Description, enc);
  // The URL is always ISO-8859-1, whatever the description's encoding.
  AppendLatin1(out, URL, false);
  f->SetDataBytes(std::move(out));
  return true;
}

int TID3v2Frames::FindUserDefinedURLLinkByDescription(const std::string &Description, std::string &URL) const
{
  URL.clear();
  for (int i = 0; i < FrameCount(); ++i) {
    if (!Frames[static_cast<std::size_t>(i)]->IsID("WXXX")) continue;
    std::string d, u;
    GetUserDefinedURLLink(i, d, u);
    if (d == Description) {
      URL = u;
      return i;
    }
  }
  return -1;
}

int TID3v2Frames::SetUserDefinedURLLinkByDescription(const std::string &Description, const std::string &URL,
                                                     TID3v2TextEncoding Encoding)
{
  std::string old;
  int i = FindUserDefinedURLLinkByDescription(Description, old);
  if (i < 0) i = AddFrame("WXXX");
  return SetUserDefinedURLLink(i, URL, Encoding, Description) ? i : -1;
}

// --- COMM and USLT -----------------------------------------------------------------------------

bool TID3v2Frames::GetContent(int FrameIndex, std::string &LanguageID, std::string &Description,
                              std::string &Content) const
{
  LanguageID.clear();
  Description.clear();
  Content.clear();
  const TID3v2Frame *f = Frame(FrameIndex);
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
  TID3v2Frame *f = WritableFrame(FrameIndex);
  if (!f) return false;
  const std::uint8_t enc = ID3v2EncodingByte(Encoding);
  const auto lang = TextToLanguageID(LanguageID);
  TBytes out{enc};
  out.insert(out.end(), lang.begin(), lang.end());
  AppendID3v2String(out, Description, enc);
  AppendID3v2String(out, Content, enc);
  f->SetDataBytes(std::move(out));
  return true;
}

int TID3v2Frames::FindContentByDescription(std::string_view FrameID, const std::string &Description,
                                           const std::string &LanguageID) const
{
  const TID3v2FrameID id = ID3v2FrameIDFromText(FrameID);
  const std::string wantLang = TrimBlanks(LanguageID);
  for (int i = 0; i < FrameCount(); ++i) {
    if (Frames[static_cast<std::size_t>(i)]->ID != id) continue;
    std::string lang, desc, content;
    GetContent(i, lang, desc, content);
    if (desc == Description && (wantLang.empty() || SameText(TrimBlanks(lang), wantLang))) return i;
  }
  return -1;
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

// --- pictures ----------------------------------------------------------------------------------

bool TID3v2Frames::GetCoverPictureInfo(int FrameIndex, TBytes &Picture, std::string &MIMEType,
                                       std::string &Description, std::uint8_t &CoverType) const
{
  Picture.clear();
  MIMEType.clear();
  Description.clear();
  CoverType = 0;
  const TID3v2Frame *f = Frame(FrameIndex);
  if (!f || f->Data().empty()) return false;
  ByteReader in(f->Data());
  std::uint8_t enc = 0;
  if (!in.ReadU8(enc)) return false;
  MIMEType = ReadLatin1(in);
  if (!in.ReadU8(CoverType)) return false;
  bool be = false, terminated = false;
  Description = ReadID3v2String(in, enc, be, terminated);
  const auto rest = in.Rest();
  Picture.assign(rest.begin(), rest.end());
  return true;
}

bool TID3v2Frames::GetCoverPictureLocation(int FrameIndex, std::string &MIMEType, std::string &Description,
                                           std::uint8_t &CoverType, TBytes &PictureHead, TFileRange &PictureRange) const
{
  MIMEType.clear();
  Description.clear();
  CoverType = 0;
  PictureHead.clear();
  PictureRange = TFileRange();
  const TID3v2Frame *f = Frame(FrameIndex);
  if (!f) return false;
  if (f->IsDeferred()) {
    ByteReader in(f->ResidentData());
    std::uint8_t enc = 0;
    bool be = false, terminated = false;
    if (in.ReadU8(enc)) {
      MIMEType = ReadLatin1(in);
      if (in.ReadU8(CoverType)) Description = ReadID3v2String(in, enc, be, terminated);
    }
    // The fields end inside the bytes held: the picture is the rest of the frame's data.
    if (terminated) {
      const auto head = in.Rest();
      const auto fieldBytes = static_cast<std::int64_t>(in.Position());
      PictureHead.assign(head.begin(), head.end());
      PictureRange = f->Deferred;
      PictureRange.Offset += fieldBytes;
      PictureRange.Size -= fieldBytes;
      return true;
    }
  }
  if (!GetCoverPictureInfo(FrameIndex, PictureHead, MIMEType, Description, CoverType)) return false;
  return true;
}

bool TID3v2Frames::GetCoverPictureStream(int FrameIndex, TStream &PictureStream, std::string &MIMEType,
                                         std::string &Description, std::uint8_t &CoverType) const
{
  TBytes picture;
  if (!GetCoverPictureInfo(FrameIndex, picture, MIMEType, Description, CoverType)) return false;
  if (!PictureStream.WriteBytes(picture)) return false;
  PictureStream.Seek(0, TSeekOrigin::soBeginning);
  return true;
}

bool TID3v2Frames::SetCoverPictureFromBytes(int FrameIndex, const std::string &Description, const TBytes &Picture,
                                            const std::string &MIMEType, std::uint8_t CoverType)
{
  TID3v2Frame *f = WritableFrame(FrameIndex);
  if (!f) return false;
  const std::uint8_t enc = ID3v2EncodingByte(Root ? Root->APICTextEncodingToWrite : teUnicode);
  TBytes out{enc};
  AppendLatin1(out, MIMEType);
  out.push_back(CoverType);
  AppendID3v2String(out, Description, enc);
  out.insert(out.end(), Picture.begin(), Picture.end());
  f->SetDataBytes(std::move(out));
  return true;
}

bool TID3v2Frames::SetCoverPictureFromStream(int FrameIndex, const std::string &Description, TStream &PictureStream,
                                             const std::string &MIMEType, std::uint8_t CoverType)
{
  const std::int64_t size = PictureStream.GetSize();
  if (size < 0 || size > kID3v2MaxBodySize) return false;
  TBytes picture;
  if (!PictureStream.ReadAt(0, size, picture)) return false;
  return SetCoverPictureFromBytes(FrameIndex, Description, picture, MIMEType, CoverType);
}

bool TID3v2Frames::SetCoverPictureFromFile(int FrameIndex, const std::string &Description,
                                           const std::string &FileName, const std::string &MIMEType,
                                           std::uint8_t CoverType)
{
  const std::int64_t size = FileSizeOf(FileName);
  if (size < 0 || size > kID3v2MaxBodySize) return false;
  TBytes picture;
  if (!ReadWholeFile(FileName, picture)) return false;
  return SetCoverPictureFromBytes(FrameIndex, Description, picture, MIMEType, CoverType);
}

int TID3v2Frames::GetFrameIndexOfCoverArtIndex(int CoverArtIndex) const
{
  int n = 0;
  for (int i = 0; i < FrameCount(); ++i)
    if (Frames[static_cast<std::size_t>(i)]->IsID("APIC") && n++ == CoverArtIndex) return i;
  return -1;
}

// --- counters and ratings ----------------------------------------------------------------------

std::int64_t TID3v2Frames::GetPlayCount(int FrameIndex) const
{
  const TID3v2Frame *f = Frame(FrameIndex);
  if (!f) return -1;
  std::uint32_t v = 0;
  for (const std::uint8_t b : f->Data()) v = (v << 8) | b;
  return v;
}

std::int64_t TID3v2Frames::GetPlayCount(std::string_view FrameID)
{
  const int i = FrameExists(FrameID);
  if (i < 0) {
    AddFrame(FrameID);
    return 0;
  }
  return GetPlayCount(i);
}

bool TID3v2Frames::SetPlayCount(int FrameIndex, std::uint32_t PlayCount)
{
  TID3v2Frame *f = WritableFrame(FrameIndex);
  if (!f) return false;
  TBytes out;
  ByteWriter(out).U32BE(PlayCount);
  f->SetDataBytes(std::move(out));
  return true;
}

bool TID3v2Frames::SetPlayCount(std::string_view FrameID, std::uint32_t PlayCount)
{
  return SetPlayCount(FrameForWriting(FrameID), PlayCount);
}

bool TID3v2Frames::GetPopularimeter(int FrameIndex, std::string &Email, std::uint8_t &Rating,
                                    std::uint64_t &PlayCounter) const
{
  Email.clear();
  Rating = 0;
  PlayCounter = 0;
  const TID3v2Frame *f = Frame(FrameIndex);
  if (!f || f->Data().empty()) return false;
  ByteReader in(f->Data());
  Email = ReadLatin1(in);
  if (!in.ReadU8(Rating)) return false;
  std::uint8_t b = 0;
  while (in.ReadU8(b)) PlayCounter = (PlayCounter << 8) | b;
  return true;
}

bool TID3v2Frames::SetPopularimeter(int FrameIndex, const std::string &Email, std::uint8_t Rating,
                                    std::uint32_t PlayCounter)
{
  TID3v2Frame *f = WritableFrame(FrameIndex);
  if (!f) return false;
  TBytes out;
  AppendLatin1(out, Email);
  out.push_back(Rating);
  if (PlayCounter != 0) ByteWriter(out).U32BE(PlayCounter);
  f->SetDataBytes(std::move(out));
  return true;
}

int TID3v2Frames::FindPopularimeter(const std::string &Email) const
{
  for (int i = 0; i < FrameCount(); ++i) {
    if (!Frames[static_cast<std::size_t>(i)]->IsID("POPM")) continue;
    std::string e;
    std::uint8_t r = 0;
    std::uint64_t c = 0;
    GetPopularimeter(i, e, r, c);
    if (e == Email) return i;
  }
  return -1;
}

int TID3v2Frames::SetPopularimeterByEmail(const std::string &Email, std::uint8_t Rating, std::uint32_t PlayCounter)
{
  int i = FindPopularimeter(Email);
  if (i < 0) i = AddFrame("POPM");
  return SetPopularimeter(i, Email, Rating, PlayCounter) ? i : -1;
}

// --- other frames ------------------------------------------------------------------------------

bool TID3v2Frames::GetUFID(int FrameIndex, std::string &OwnerIdentifier, std::string &Identifier) const
{
  OwnerIdentifier.clear();
  Identifier.clear();
  const TID3v2Frame *f = Frame(FrameIndex);
  if (!f || f->Data().empty()) return false;
  ByteReader in(f->Data());
  OwnerIdentifier = ReadLatin1(in);
  std::string raw = in.RestAsString();
  std::erase(raw, '\0');
  Identifier = Latin1ToUtf8(raw);
  return true;
}

bool TID3v2Frames::SetUFID(int FrameIndex, const std::string &OwnerIdentifier, const std::string &Identifier)
{
  TID3v2Frame *f = WritableFrame(FrameIndex);
  if (!f) return false;
  TBytes out;
  AppendLatin1(out, OwnerIdentifier);
  AppendLatin1(out, Identifier, false);
  f->SetDataBytes(std::move(out));
  return true;
}

int TID3v2Frames::FindUFIDByOwnerIdentifier(const std::string &OwnerIdentifier, std::string &Identifier) const
{
  Identifier.clear();
  for (int i = 0; i < FrameCount(); ++i) {
    if (!Frames[static_cast<std::size_t>(i)]->IsID("UFID")) continue;
    std::string o, id;
    GetUFID(i, o, id);
    if (o == OwnerIdentifier) {
      Identifier = id;
      return i;
    }
  }
  return -1;
}

int TID3v2Frames::SetUFIDByOwnerIdentifier(const std::string &OwnerIdentifier, const std::string &Identifier)
{
  std::string old;
  int i = FindUFIDByOwnerIdentifier(OwnerIdentifier, old);
  if (i < 0) i = AddFrame("UFID");
  return SetUFID(i, OwnerIdentifier, Identifier) ? i : -1;
}

bool TID3v2Frames::GetGEOB(int FrameIndex, std::string &MIMEType, std::string &FileName, std::string &Description,
                           TBytes &Object) const
{
  MIMEType.clear();
  FileName.clear();
  Description.clear();
  Object.clear();
  const TID3v2Frame *f = Frame(FrameIndex);
  if (!f || f->Data().empty()) return false;
  ByteReader in(f->Data());
  std::uint8_t enc = 0;
  in.ReadU8(enc);
  MIMEType = ReadLatin1(in);
  bool be = false, terminated = false;
  FileName = ReadID3v2String(in, enc, be, terminated);
  Description = ReadID3v2String(in, enc, be, terminated);
  const auto rest = in.Rest();
  Object.assign(rest.begin(), rest.end());
  return true;
}

bool TID3v2Frames::SetGEOB(int FrameIndex, const std::string &MIMEType, const std::string &FileName,
                           const std::string &Description, const TBytes &Object, TID3v2TextEncoding Encoding)
{
  TID3v2Frame *f = WritableFrame(FrameIndex);
  if (!f) return false;
  const std::uint8_t enc = ID3v2EncodingByte(Encoding);
  TBytes out{enc};
  AppendLatin1(out, MIMEType);
  AppendID3v2String(out, FileName, enc);
  AppendID3v2String(out, Description, enc);
  out.insert(out.end(), Object.begin(), Object.end());
  f->SetDataBytes(std::move(out));
  return true;
}

TBytes TID3v2Frames::GetBytes(int FrameIndex) const
{
  const TID3v2Frame *f = Frame(FrameIndex);
  return f ? f->Data() : TBytes();
}
