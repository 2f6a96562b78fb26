// TMP4Tag: the entries of the "Xtra" atom and the free-form items that map onto them.
//
// The "Xtra" body is a run of entries: 4-byte entry size, 4-byte name length, the UTF-8 name,
// 4-byte property count, then per property a 4-byte size (value bytes + 6), a 2-byte type and
// the value. Sizes, lengths, counts and types are big-endian; values keep the byte order of
// their type (text UTF-16LE, integers and file times little-endian, GUIDs in the in-memory
// layout with the first three groups little-endian). An entry whose fields do not fill its
// size exactly, or any field past the atom, makes the atom one that cannot be parsed.

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "tags/mp4/mp4_atoms.h"
#include "tags/mp4/mp4_tag.h"
#include "tags/streams/byte_reader.h"
#include "tags/streams/byte_writer.h"
#include "tags/text/lines.h"
#include "tags/text/text.h"

namespace {

// 100-nanosecond units from 1601-01-01 to 1970-01-01.
constexpr std::uint64_t kFileTimeUnixEpoch = 116444736000000000ull;

bool ParseXtraEntries(ByteReader In, std::vector<TMP4Xtra> &Out)
{
  while (!In.AtEnd()) {
    std::uint32_t entrySize = 0, nameLength = 0, count = 0;
    ByteReader entry;
    if (!In.ReadU32BE(entrySize) || entrySize < 12 || !In.Take(entrySize - 4, entry)) return false;
    TMP4Xtra x;
    std::string name;
    if (!entry.ReadU32BE(nameLength) || !entry.ReadString(nameLength, name) || !entry.ReadU32BE(count)) return false;
    if (count > entry.Remaining() / 6 || Out.size() >= kMaxMP4XtraEntries) return false;
    x.Name = SanitizeUtf8(name);
    x.Properties.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
      std::uint32_t size = 0;
      TMP4XtraProperty p;
      if (!entry.ReadU32BE(size) || size < 6 || !entry.ReadU16BE(p.PropType) || !entry.ReadBytes(size - 6, p.Data))
        return false;
      x.Properties.push_back(std::move(p));
    }
    if (!entry.AtEnd()) return false;
    Out.push_back(std::move(x));
  }
  return true;
}

std::string FileTimeText(std::uint64_t FileTime)
{
  if (FileTime < kFileTimeUnixEpoch) return "";
  const auto seconds = static_cast<std::time_t>((FileTime - kFileTimeUnixEpoch) / 10000000u);
  std::tm local{};
  if (!localtime_r(&seconds, &local)) return "";
  char text[32];
  return std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local) ? std::string(text) : std::string();
}

std::string GUIDText(const TBytes &D)
{
  if (D.size() != 16) return "";
  char text[40];
  std::snprintf(text, sizeof text, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", D[3], D[2],
                D[1], D[0], D[5], D[4], D[7], D[6], D[8], D[9], D[10], D[11], D[12], D[13], D[14], D[15]);
  return text;
}

int HexDigit(char C)
{
  if (C >= '0' && C <= '9') return C - '0';
  C = AsciiUpper(C);
  return C >= 'A' && C <= 'F' ? C - 'A' + 10 : -1;
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (braces optional) as the 16 bytes of its layout.
bool ParseGUID(std::string_view Text, TBytes &Out)
{
  if (Text.size() == 38 && Text.front() == '{' && Text.back() == '}') Text = Text.substr(1, 36);
  if (Text.size() != 36 || Text[8] != '-' || Text[13] != '-' || Text[18] != '-' || Text[23] != '-') return false;
  TBytes plain;
  for (std::size_t i = 0; i < Text.size(); i += 2) {
    if (Text[i] == '-') ++i;
    const int hi = HexDigit(Text[i]), lo = HexDigit(Text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    plain.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
  }
  if (plain.size() != 16) return false;
  Out = {plain[3], plain[2], plain[1], plain[0], plain[5], plain[4], plain[7], plain[6]};
  Out.insert(Out.end(), plain.begin() + 8, plain.end());
  return true;
}

TMP4XtraProperty TextProperty(std::string_view Text)
{
  const std::string bytes = Utf8ToUtf16Bytes(Text, false);
  return TMP4XtraProperty{kMP4XtraText, TBytes(bytes.begin(), bytes.end())};
}

enum class TXtraKind { xkText, xkMultiple, xkRating, xkGUID };

struct TXtraMapping {
  const char *Common;
  const char *Xtra;
  TXtraKind Kind;
};

constexpr TXtraMapping kXtraMappings[] = {
    {"RATING", "WM/SharedUserRating", TXtraKind::xkRating},
    {"SharedUserRating", "WM/SharedUserRating", TXtraKind::xkRating},
    {"AuthorURL", "WM/AuthorURL", TXtraKind::xkText},
    {"PromotionURL", "WM/PromotionURL", TXtraKind::xkText},
    {"SubTitle", "WM/SubTitle", TXtraKind::xkText},
    {"Category", "WM/Category", TXtraKind::xkMultiple},
    {"Producer", "WM/Producer", TXtraKind::xkText},
    {"EncodedBy", "WM/EncodedBy", TXtraKind::xkText},
    {"Conductor", "WM/Conductor", TXtraKind::xkText},
    {"ParentalRating", "WM/ParentalRating", TXtraKind::xkText},
    {"Writer", "WM/Writer", TXtraKind::xkText},
    {"WRITTEN_BY", "WM/Writer", TXtraKind::xkText},
    {"Director", "WM/Director", TXtraKind::xkText},
    {"DIRECTED_BY", "WM/Director", TXtraKind::xkText},
    {"Publisher", "WM/Publisher", TXtraKind::xkText},
    {"Mood", "WM/Mood", TXtraKind::xkText},
    {"ContentDistributor", "WM/ContentDistributor", TXtraKind::xkText},
    {"DISTRIBUTED_BY", "WM/ContentDistributor", TXtraKind::xkText},
    {"InitialKey", "WM/InitialKey", TXtraKind::xkText},
    {"KEY", "WM/InitialKey", TXtraKind::xkText},
    {"Period", "WM/Period", TXtraKind::xkText},
    {"PartOfSet", "WM/PartOfSet", TXtraKind::xkText},
    {"MediaClassPrimaryID", "WM/MediaClassPrimaryID", TXtraKind::xkGUID},
    {"MediaClassSecondaryID", "WM/MediaClassSecondaryID", TXtraKind::xkGUID},
    {"WMContentID", "WM/WMContentID", TXtraKind::xkGUID},
    {"WMCollectionID", "WM/WMCollectionID", TXtraKind::xkGUID},
    {"WMCollectionGroupID", "WM/WMCollectionGroupID", TXtraKind::xkGUID},
};

const TXtraMapping *XtraMappingOf(std::string_view Name)
{
  for (const TXtraMapping &m : kXtraMappings)
    if (SameText(Name, m.Common)) return &m;
  return nullptr;
}

} // namespace

// ---- properties and entries

bool TMP4XtraProperty::GetInteger(std::uint64_t &Value) const
{
  if (Data.size() != 1 && Data.size() != 2 && Data.size() != 4 && Data.size() != 8) return false;
  Value = 0;
  for (std::size_t i = Data.size(); i-- > 0;) Value = Value << 8 | Data[i];
  return true;
}

std::string TMP4XtraProperty::GetText() const
{
  std::uint64_t v = 0;
  switch (PropType) {
  case kMP4XtraText: {
    std::string text = Utf16BytesToUtf8(std::string_view(reinterpret_cast<const char *>(Data.data()), Data.size()), false);
    while (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
  }
  case kMP4XtraFileTime: return Data.size() == 8 && GetInteger(v) ? FileTimeText(v) : std::string();
  case kMP4XtraGUID: return GUIDText(Data);
  default: return GetInteger(v) ? std::to_string(v) : std::string();
  }
}

std::string TMP4Xtra::GetText(bool MultipleValues) const
{
  if (Properties.empty()) return "";
  if (!MultipleValues) return Properties.front().GetText();
  std::vector<std::string> lines;
  for (const TMP4XtraProperty &p : Properties) lines.push_back(p.GetText());
  return JoinLines(lines);
}

void TMP4Xtra::SetText(std::string_view Value, bool MultipleValues)
{
  Properties.clear();
  if (!MultipleValues) {
    Properties.push_back(TextProperty(Value));
    return;
  }
  for (const std::string &line : SplitLines(Value)) Properties.push_back(TextProperty(line));
}

bool TMP4Xtra::HasData() const
{
  for (const TMP4XtraProperty &p : Properties)
    if (!p.Data.empty()) return true;
  return false;
}

// ---- the atom

void TMP4Tag::LoadXtra(TStream &Content, std::int64_t Position, std::int64_t Size)
{
  FLayout.XtraPosition = Position;
  FLayout.XtraSize = Size;
  TAtomHeader h;
  TBytes whole;
  if (ReadAtomHeader(Content, Position, Position + Size, false, h) != arOk || !Content.ReadAt(Position, Size, whole))
    return;
  FXtraStored = std::move(whole);
  FXtraVerbatim = true;
  if (!ParseXtra) return;
  ByteReader body(FXtraStored->data() + h.HeaderSize, FXtraStored->size() - h.HeaderSize);
  std::vector<TMP4Xtra> entries;
  if (!ParseXtraEntries(body, entries)) return;
  FXtras = std::move(entries);
  FXtraVerbatim = false;
}

std::optional<TBytes> TMP4Tag::BuildXtra() const
{
  if (!FXtraChanged || FXtraVerbatim) return FXtraStored;
  TBytes body;
  ByteWriter w(body);
  for (const TMP4Xtra &x : FXtras) {
    if (!x.HasData()) continue;
    TBytes props;
    std::uint32_t count = 0;
    for (const TMP4XtraProperty &p : x.Properties) {
      if (p.Data.empty()) continue;
      TBytes value = p.Data;
      // Text is stored with a terminating zero character.
      if (p.PropType == kMP4XtraText && value.size() >= 2 && (value[value.size() - 2] != 0 || value.back() != 0))
        value.insert(value.end(), {0, 0});
      ByteWriter(props).U32BE(static_cast<std::uint32_t>(value.size() + 6)).U16BE(p.PropType).Append(value);
      ++count;
    }
    w.U32BE(static_cast<std::uint32_t>(12 + x.Name.size() + props.size()))
        .U32BE(static_cast<std::uint32_t>(x.Name.size()))
        .Str(x.Name)
        .U32BE(count)
        .Append(props);
  }
  if (body.empty()) return std::nullopt;
  TBytes atom;
  AppendAtomHeader(atom, "Xtra", body.size());
  ByteWriter(atom).Append(body);
  return atom;
}

// ---- entries

int TMP4Tag::FindAtomXtraIndex(std::string_view FieldName) const
{
  for (std::size_t i = 0; i < FXtras.size(); ++i)
    if (SameText(FXtras[i].Name, FieldName)) return static_cast<int>(i);
  return -1;
}

const TMP4Xtra *TMP4Tag::FindAtomXtra(std::string_view FieldName) const
{
  const int i = FindAtomXtraIndex(FieldName);
  return i < 0 ? nullptr : &FXtras[static_cast<std::size_t>(i)];
}

TMP4Xtra *TMP4Tag::MutableXtra(int Index)
{
  if (FXtraVerbatim || Index < 0 || Index >= XtraCount()) return nullptr;
  FXtraChanged = true;
  return &FXtras[static_cast<std::size_t>(Index)];
}

TMP4Xtra *TMP4Tag::AddXtra(std::string_view FieldName)
{
  if (FXtraVerbatim) return nullptr;
  FXtraChanged = true;
  return &FXtras.emplace_back(TMP4Xtra{std::string(FieldName), {}});
}

bool TMP4Tag::DeleteXtra(int Index)
{
  if (FXtraVerbatim || Index < 0 || Index >= XtraCount()) return false;
  FXtras.erase(FXtras.begin() + Index);
  FXtraChanged = true;
  return true;
}

void TMP4Tag::ClearXtras()
{
  if (FXtras.empty() && !FXtraStored) return;
  FXtras.clear();
  FXtraStored.reset();
  FXtraVerbatim = false;
  FXtraChanged = true;
}

TMP4Xtra *TMP4Tag::WritableXtra(std::string_view FieldName, bool Add)
{
  const int i = FindAtomXtraIndex(FieldName);
  if (i >= 0) return MutableXtra(i);
  return Add ? AddXtra(FieldName) : nullptr;
}

std::string TMP4Tag::GetTextXtra(std::string_view FieldName, bool MultipleValues) const
{
  const TMP4Xtra *x = FindAtomXtra(FieldName);
  return x ? x->GetText(MultipleValues) : std::string();
}

namespace {
bool SameProperties(const std::vector<TMP4XtraProperty> &A, const std::vector<TMP4XtraProperty> &B)
{
  return std::equal(A.begin(), A.end(), B.begin(), B.end(), [](const TMP4XtraProperty &X, const TMP4XtraProperty &Y) {
    return X.PropType == Y.PropType && X.Data == Y.Data;
  });
}
} // namespace

bool TMP4Tag::SetXtraProperties(std::string_view FieldName, std::vector<TMP4XtraProperty> Properties)
{
  if (FXtraVerbatim) return false;
  const TMP4Xtra *old = FindAtomXtra(FieldName);
  if (old && SameProperties(old->Properties, Properties)) return true;
  WritableXtra(FieldName, true)->Properties = std::move(Properties);
  return true;
}

bool TMP4Tag::SetTextXtra(std::string_view FieldName, std::string_view Value, bool MultipleValues)
{
  if (FXtraVerbatim) return false;
  if (Value.empty()) {
    const int i = FindAtomXtraIndex(FieldName);
    return i < 0 || DeleteXtra(i);
  }
  TMP4Xtra x;
  x.SetText(Value, MultipleValues);
  return SetXtraProperties(FieldName, std::move(x.Properties));
}

bool TMP4Tag::GetIntegerXtra(std::string_view FieldName, std::uint64_t &Value) const
{
  const TMP4Xtra *x = FindAtomXtra(FieldName);
  return x && !x->Properties.empty() && x->Properties.front().GetInteger(Value);
}

bool TMP4Tag::SetIntegerXtra(std::string_view FieldName, std::uint64_t Value)
{
  return SetXtraProperties(FieldName, {{kMP4XtraInteger, EncodeUInt(Value, 8, false)}});
}

std::string TMP4Tag::GetGUIDXtra(std::string_view FieldName) const
{
  const TMP4Xtra *x = FindAtomXtra(FieldName);
  return x && !x->Properties.empty() ? GUIDText(x->Properties.front().Data) : std::string();
}

bool TMP4Tag::SetGUIDXtra(std::string_view FieldName, std::string_view GUID)
{
  TBytes bytes;
  if (!ParseGUID(GUID, bytes)) return false;
  return SetXtraProperties(FieldName, {{kMP4XtraGUID, bytes}});
}

bool TMP4Tag::GetFileTimeXtra(std::string_view FieldName, std::uint64_t &FileTime) const
{
  const TMP4Xtra *x = FindAtomXtra(FieldName);
  return x && !x->Properties.empty() && x->Properties.front().Data.size() == 8 &&
         x->Properties.front().GetInteger(FileTime);
}

bool TMP4Tag::SetFileTimeXtra(std::string_view FieldName, std::uint64_t FileTime)
{
  return SetXtraProperties(FieldName, {{kMP4XtraFileTime, EncodeUInt(FileTime, 8, false)}});
}

// ---- free-form items and their Xtra entries

std::string TMP4Tag::GetCommon(std::string_view _name, std::string_view _mean) const
{
  const TMP4Atom *a = FindAtomCommon("----", _name, _mean);
  std::string value = a ? a->GetText() : std::string();
  if (XtraPriority == mp4epCommonHasPriority && !value.empty()) return value;
  if (XtraUsageConversion != mp4eucParse && XtraUsageConversion != mp4eucParseAndWrite) return value;
  const TXtraMapping *m = XtraMappingOf(_name);
  if (!m || !FindAtomXtra(m->Xtra)) return value;
  std::string xtra;
  switch (m->Kind) {
  case TXtraKind::xkRating: {
    std::int64_t n = 0;
    if (!TryParseInt64(TrimBlanks(GetTextXtra(m->Xtra, false)), n)) n = 0;
    xtra = std::to_string(n * 255 / 99);
    break;
  }
  case TXtraKind::xkMultiple: xtra = GetTextXtra(m->Xtra, true); break;
  case TXtraKind::xkGUID: xtra = GetGUIDXtra(m->Xtra); break;
  case TXtraKind::xkText: xtra = GetTextXtra(m->Xtra, false); break;
  }
  return xtra.empty() ? value : xtra;
}

bool TMP4Tag::SetCommon(std::string_view _name, std::string_view _mean, std::string_view Value)
{
  bool xtraWritten = false;
  if (const TXtraMapping *m = XtraMappingOf(_name); m && !FXtraVerbatim) {
    // Parse-and-write keeps an entry that is there in step with the item (the entry would win on
    // the next read); the write modes write it in any case.
    const bool write = XtraUsageConversion == mp4eucWrite || XtraUsageConversion == mp4eucWriteJustXtra ||
                       (XtraUsageConversion == mp4eucParseAndWrite && FindAtomXtra(m->Xtra));
    if (write && Value.empty()) {
      xtraWritten = SetTextXtra(m->Xtra, "", false);
    } else if (write) {
      switch (m->Kind) {
      case TXtraKind::xkRating: {
        const std::size_t eq = Value.find('=');
        std::int64_t n = 0;
        if (!TryParseInt64(TrimBlanks(eq == std::string_view::npos ? Value : Value.substr(eq + 1)), n)) n = -1;
        const std::int64_t rating = n * 99 / 255;
        if (rating >= 0) xtraWritten = SetIntegerXtra(m->Xtra, static_cast<std::uint64_t>(rating));
        break;
      }
      case TXtraKind::xkMultiple: xtraWritten = SetTextXtra(m->Xtra, Value, true); break;
      case TXtraKind::xkGUID: xtraWritten = SetGUIDXtra(m->Xtra, Value); break;
      case TXtraKind::xkText: xtraWritten = SetTextXtra(m->Xtra, Value, false); break;
      }
    }
  }
  if (XtraUsageConversion == mp4eucWriteJustXtra) return xtraWritten;
  if (Value.empty()) {
    DeleteAtomCommon("----", _name, _mean);
    return true;
  }
  // An item that is there keeps its name and mean as stored (they match ignoring case).
  if (TMP4Atom *a = FindAtomCommon("----", _name, _mean)) return a->SetText(Value);
  return AddAtom("----").SetCommonText(_name, _mean, Value);
}
