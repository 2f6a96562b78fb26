#include "tags/asf/wma_tag_frame.h"

#include "tags/asf/wma_tag.h"
#include "tags/streams/byte_reader.h"
#include "tags/streams/byte_writer.h"
#include "tags/text/text.h"

namespace {

constexpr char16_t kCR = 0x0D;
constexpr char16_t kLF = 0x0A;

std::u16string Utf16Units(std::span<const std::uint8_t> Value)
{
  std::u16string units;
  units.reserve(Value.size() / 2);
  for (std::size_t i = 0; i + 1 < Value.size(); i += 2)
    units.push_back(static_cast<char16_t>(Value[i] | (Value[i + 1] << 8)));
  return units;
}

void AppendUnits(TBytes &Out, std::u16string_view Units)
{
  ByteWriter w(Out);
  for (const char16_t u : Units) w.U16LE(u);
}

} // namespace

std::size_t WMTFixedValueSize(WMT_ATTR_DATATYPE Format)
{
  switch (Format) {
  case WMT_TYPE_DWORD:
  case WMT_TYPE_BOOL: return 4;
  case WMT_TYPE_QWORD: return 8;
  case WMT_TYPE_WORD: return 2;
  case WMT_TYPE_GUID: return 16;
  default: return 0;
  }
}

std::string WMTStringText(std::span<const std::uint8_t> Value)
{
  std::u16string units = Utf16Units(Value);
  std::erase(units, u'\0');
  return Utf16ToUtf8(units);
}

std::span<const std::uint8_t> WMTStringWithoutTerminator(std::span<const std::uint8_t> Value)
{
  std::size_t n = Value.size() & ~std::size_t{1};
  if (n >= 2 && Value[n - 1] == 0 && Value[n - 2] == 0) n -= 2;
  return Value.first(n);
}

void TWMATagFrame::Clear()
{
  Format = WMT_TYPE_UNKNOWN;
  Stream.clear();
}

bool TWMATagFrame::Assign(const TWMATagFrame &Source)
{
  if (&Source == this) return true;
  Name = Source.Name;
  Format = Source.Format;
  Stream = Source.Stream;
  StreamNumber = Source.StreamNumber;
  LanguageIndex = Source.LanguageIndex;
  Origin = Source.Origin;
  return true;
}

int TWMATagFrame::GetIndex() const { return Parent ? Parent->IndexOfFrame(this) : -1; }

bool TWMATagFrame::Delete() { return Parent && Parent->DeleteFrame(GetIndex()); }

std::string TWMATagFrame::GetText() const
{
  if (Format == WMT_TYPE_STRING) return WMTStringText(Stream);
  if (Format == WMT_TYPE_GUID) {
    TASFGuid g{};
    return GetAsGUID(g) ? ASFGuidText(g) : std::string();
  }
  return std::to_string(GetInteger());
}

bool TWMATagFrame::SetText(std::string_view Text)
{
  Format = WMT_TYPE_STRING;
  Stream.clear();
  AppendUnits(Stream, Utf8ToUtf16(Text));
  ByteWriter(Stream).U16LE(0);
  return true;
}

std::uint64_t TWMATagFrame::GetInteger() const
{
  ByteReader in(Stream);
  switch (Format) {
  case WMT_TYPE_DWORD:
  case WMT_TYPE_BOOL: {
    std::uint32_t v = 0;
    return in.ReadU32LE(v) ? v : 0;
  }
  case WMT_TYPE_QWORD: {
    std::uint64_t v = 0;
    return in.ReadU64LE(v) ? v : 0;
  }
  case WMT_TYPE_WORD: {
    std::uint16_t v = 0;
    return in.ReadU16LE(v) ? v : 0;
  }
  default: return 0;
  }
}

bool TWMATagFrame::SetInteger(WMT_ATTR_DATATYPE AFormat, std::uint64_t Value)
{
  if (AFormat != WMT_TYPE_DWORD && AFormat != WMT_TYPE_BOOL && AFormat != WMT_TYPE_QWORD && AFormat != WMT_TYPE_WORD)
    return false;
  Format = AFormat;
  Stream = EncodeUInt(Value, static_cast<int>(WMTFixedValueSize(AFormat)), false);
  return true;
}

bool TWMATagFrame::GetAsGUID(TASFGuid &Value) const
{
  if (Stream.size() != Value.size()) return false;
  std::copy(Stream.begin(), Stream.end(), Value.begin());
  return true;
}

bool TWMATagFrame::SetAsGUID(const TASFGuid &Value)
{
  Format = WMT_TYPE_GUID;
  Stream.assign(Value.begin(), Value.end());
  return true;
}

bool TWMATagFrame::GetList(std::vector<std::string> &List) const
{
  List.clear();
  if (Format != WMT_TYPE_STRING) return false;
  const std::u16string units = Utf16Units(Stream);
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i + 1 < units.size(); ++i) {
    if (units[i] != kCR || units[i + 1] != kLF) continue;
    std::u16string line = units.substr(start, i - start);
    std::erase(line, u'\0');
    lines.push_back(Utf16ToUtf8(line));
    start = i + 2;
    ++i;
  }
  for (std::size_t i = 0; i + 1 < lines.size(); i += 2) {
    const std::string name = TrimBlanks(lines[i]), value = TrimBlanks(lines[i + 1]);
    if (name.empty() || value.empty()) continue;
    List.push_back(lines[i]);
    List.push_back(lines[i + 1]);
  }
  return true;
}

bool TWMATagFrame::SetList(const std::vector<std::string> &List)
{
  Format = WMT_TYPE_STRING;
  Stream.clear();
  static constexpr char16_t kBreak[] = {kCR, kLF};
  for (std::size_t i = 0; i + 1 < List.size(); i += 2) {
    AppendUnits(Stream, Utf8ToUtf16(List[i]));
    AppendUnits(Stream, std::u16string_view(kBreak, 2));
    AppendUnits(Stream, Utf8ToUtf16(List[i + 1]));
    AppendUnits(Stream, std::u16string_view(kBreak, 2));
  }
  return true;
}
