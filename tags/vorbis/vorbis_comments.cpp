#include "tags/vorbis/vorbis_comments.h"

#include <limits>

#include "tags/streams/byte_reader.h"
#include "tags/streams/byte_writer.h"
#include "tags/text/lines.h"
#include "tags/text/text.h"

namespace {

constexpr std::uint64_t kMaxField = std::numeric_limits<std::uint32_t>::max();

TVorbisCommentEntry SplitEntry(std::string_view Bytes)
{
  TVorbisCommentEntry entry;
  const std::size_t eq = Bytes.find('=');
  if (eq == std::string_view::npos) {
    entry.Name = std::string(Bytes);
    entry.HasSeparator = false;
  } else {
    entry.Name = std::string(Bytes.substr(0, eq));
    entry.Value = std::string(Bytes.substr(eq + 1));
  }
  return entry;
}

// An entry takes Text; its stored bytes stay when they already read as Text.
void AssignText(TVorbisCommentEntry &Entry, std::string_view Text)
{
  if (Entry.HasSeparator && Entry.Text() == Text) return;
  if (!Entry.HasSeparator) {
    // A stored entry without "=" had its value inside its name; given a value it becomes an
    // ordinary entry.
    Entry.HasSeparator = true;
  }
  Entry.Value = std::string(Text);
}

} // namespace

std::string TVorbisCommentEntry::Text() const
{
  return SanitizeUtf8(Value);
}

std::string TVorbisCommentEntry::Raw() const
{
  if (!HasSeparator) return Name;
  std::string raw;
  raw.reserve(Name.size() + 1 + Value.size());
  raw += Name;
  raw += '=';
  raw += Value;
  return raw;
}

int TVorbisComments::Parse(std::span<const std::uint8_t> Body, TVorbisCommentLayout Layout)
{
  FVendor.clear();
  FEntries.clear();
  FTrailing.clear();
  FFramingByte = 1;
  FLayout = Layout;
  FDamage = vcdNone;

  ByteReader in(Body);
  std::uint32_t len = 0, count = 0;
  if (!in.ReadU32LE(len)) return FDamage = vcdTruncated;
  if (len > in.Remaining()) return FDamage = vcdVendorLength;
  in.ReadString(len, FVendor);
  if (!in.ReadU32LE(count)) return FDamage = vcdTruncated;
  // A count beyond what the bytes can hold is damage, but the entries that are there are still
  // read: the loop below ends at the first length that does not fit, so it cannot run away.
  if (count > in.Remaining() / 4) FDamage = vcdEntryCount;
  else FEntries.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    std::span<const std::uint8_t> bytes;
    if (!in.ReadU32LE(len)) {
      if (FDamage == vcdNone) FDamage = vcdTruncated;
      return FDamage;
    }
    if (len > in.Remaining()) {
      if (FDamage == vcdNone) FDamage = vcdEntryLength;
      return FDamage;
    }
    in.ReadSpan(len, bytes);
    // Split in place: a picture comment can be megabytes, copied once.
    FEntries.push_back(SplitEntry(std::string_view(reinterpret_cast<const char *>(bytes.data()), bytes.size())));
  }
  if (FDamage != vcdNone) return FDamage;
  if (Layout == vclFramed && (!in.ReadU8(FFramingByte) || (FFramingByte & 1) == 0)) return FDamage = vcdFramingBit;
  const auto rest = in.Rest();
  FTrailing.assign(rest.begin(), rest.end());
  return FDamage;
}

int TVorbisComments::Build(TBytes &Out) const
{
  if (Damaged()) return vcbDamaged;
  if (FVendor.size() > kMaxField || FEntries.size() > kMaxField) return vcbTooLarge;
  std::uint64_t total = 8 + FVendor.size() + FTrailing.size() + (FLayout == vclFramed ? 1 : 0);
  for (const TVorbisCommentEntry &e : FEntries) {
    const std::uint64_t size = e.Name.size() + (e.HasSeparator ? 1 + e.Value.size() : 0);
    if (size > kMaxField) return vcbTooLarge;
    total += 4 + size;
  }
  TBytes bytes;
  bytes.reserve(total);
  ByteWriter w(bytes);
  w.U32LE(static_cast<std::uint32_t>(FVendor.size())).Str(FVendor);
  w.U32LE(static_cast<std::uint32_t>(FEntries.size()));
  for (const TVorbisCommentEntry &e : FEntries) {
    const std::uint64_t size = e.Name.size() + (e.HasSeparator ? 1 + e.Value.size() : 0);
    w.U32LE(static_cast<std::uint32_t>(size)).Str(e.Name);
    if (e.HasSeparator) w.U8('=').Str(e.Value);
  }
  if (FLayout == vclFramed) w.U8(FFramingByte);
  w.Append(FTrailing);
  Out = std::move(bytes);
  return vcbOk;
}

int TVorbisComments::IndexOf(std::string_view Name) const
{
  for (std::size_t i = 0; i < FEntries.size(); ++i)
    if (FEntries[i].HasSeparator && SameText(FEntries[i].Name, Name)) return static_cast<int>(i);
  return -1;
}

std::vector<std::string> TVorbisComments::Values(std::string_view Name) const
{
  std::vector<std::string> values;
  for (const TVorbisCommentEntry &e : FEntries)
    if (e.HasSeparator && SameText(e.Name, Name)) values.push_back(e.Text());
  return values;
}

std::string TVorbisComments::Value(std::string_view Name) const
{
  const int i = IndexOf(Name);
  return i < 0 ? std::string() : FEntries[static_cast<std::size_t>(i)].Text();
}

bool TVorbisComments::ValidNewName(std::string_view Name)
{
  return !Name.empty() && Name.find('=') == std::string_view::npos;
}

TVorbisCommentEntry TVorbisComments::NewEntry(std::string_view Name, std::string_view Text) const
{
  TVorbisCommentEntry entry;
  entry.Name = UpperCaseNewNames ? AsciiUpperCase(Name) : std::string(Name);
  entry.Value = std::string(Text);
  return entry;
}

bool TVorbisComments::SetValues(std::string_view Name, const std::vector<std::string> &Texts)
{
  if (!ValidNewName(Name)) return false;
  std::vector<TVorbisCommentEntry> entries;
  entries.reserve(FEntries.size() + Texts.size());
  std::size_t next = 0;
  for (const TVorbisCommentEntry &e : FEntries) {
    if (!e.HasSeparator || !SameText(e.Name, Name)) {
      entries.push_back(e);
    } else if (next < Texts.size()) {
      entries.push_back(e);
      AssignText(entries.back(), Texts[next++]);
    }
  }
  for (; next < Texts.size(); ++next) entries.push_back(NewEntry(Name, Texts[next]));
  FEntries = std::move(entries);
  return true;
}

bool TVorbisComments::Add(std::string_view Name, std::string_view Text)
{
  if (!ValidNewName(Name)) return false;
  FEntries.push_back(NewEntry(Name, Text));
  return true;
}

bool TVorbisComments::SetValueAt(std::size_t Index, std::string_view Text)
{
  if (Index >= FEntries.size()) return false;
  AssignText(FEntries[Index], Text);
  return true;
}

bool TVorbisComments::ReplaceAt(std::size_t Index, std::string_view Name, std::string_view Text)
{
  if (Index >= FEntries.size() || !ValidNewName(Name)) return false;
  FEntries[Index] = NewEntry(Name, Text);
  return true;
}

std::size_t TVorbisComments::Delete(std::string_view Name)
{
  const std::size_t before = FEntries.size();
  std::erase_if(FEntries, [&](const TVorbisCommentEntry &e) { return e.HasSeparator && SameText(e.Name, Name); });
  return before - FEntries.size();
}

bool TVorbisComments::DeleteAt(std::size_t Index)
{
  if (Index >= FEntries.size()) return false;
  FEntries.erase(FEntries.begin() + static_cast<std::ptrdiff_t>(Index));
  return true;
}

std::string BuildCommentValueList(const std::vector<std::string> &Items)
{
  std::string value;
  for (const std::string &item : Items) {
    std::string name, text;
    SplitPairItem(item, name, text);
    value += name;
    value += "\r\n";
    value += text;
    value += "\r\n";
  }
  return value;
}

std::vector<std::string> ParseCommentValueList(std::string_view Value)
{
  std::vector<std::string> lines;
  std::string line;
  bool open = false;  // a line has begun since the last CR LF
  for (std::size_t i = 0; i < Value.size(); ++i) {
    if (Value[i] != '\r') {
      line.push_back(Value[i]);
      open = true;
    } else if (i + 1 < Value.size() && Value[i + 1] == '\n') {
      lines.push_back(SanitizeUtf8(line));
      line.clear();
      open = false;
      ++i;
    }
  }
  if (open) lines.push_back(SanitizeUtf8(line));
  std::vector<std::string> items;
  for (std::size_t i = 0; i + 1 < lines.size(); i += 2) items.push_back(JoinPairItem(lines[i], lines[i + 1]));
  return items;
}
