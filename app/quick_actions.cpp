#include "app/quick_actions.h"

#include <array>

#include "tags/text/text.h"

namespace {

template <typename TTag>
auto FieldMember(TTag &Tag, TTagField Field) -> decltype(&Tag.Title)
{
  switch (Field) {
    case tfTitle: return &Tag.Title;
    case tfArtist: return &Tag.Artist;
    case tfAlbum: return &Tag.Album;
    case tfYear: return &Tag.Year;
    case tfTrack: return &Tag.Track;
    case tfGenre: return &Tag.Genre;
    case tfComment: return &Tag.Comment;
  }
  return nullptr;
}

constexpr std::array<const char *, kTagActionKindCount> kKindNames = {
    "TrimSpaces", "UpperCase", "LowerCase", "TitleCase", "ReplaceText", "CopyField",
    "CollapseSpaces"};
constexpr std::array<const char *, kTagFieldCount> kFieldNames = {
    "Title", "Artist", "Album", "Year", "Track", "Genre", "Comment"};

// Codes up to U+0020 are trimmed and only ASCII letters fold, so that look-alike letters from
// other scripts never match a spelling.
template <std::size_t N>
int FindSpelling(const std::array<const char *, N> &Names, const QString &Text)
{
  const std::string key = TrimBlanks(Text.toStdString());
  for (std::size_t i = 0; i < N; ++i)
    if (SameText(key, Names[i])) return static_cast<int>(i);
  return -1;
}

}  // namespace

std::string GetTagField(const TAudioTag &Tag, TTagField Field)
{
  const std::string *member = FieldMember(Tag, Field);
  return member ? *member : std::string();
}

void SetTagField(TAudioTag &Tag, TTagField Field, const std::string &Value)
{
  if (std::string *member = FieldMember(Tag, Field)) *member = Value;
}

std::string TrimSpaces(std::string_view Value) { return TrimBlanks(Value); }

std::string CollapseSpaces(std::string_view Value)
{
  std::string out;
  out.reserve(Value.size());
  for (const char c : Value) {
    // Bytes up to 0x20 are never part of a multi-byte UTF-8 sequence, so this is per character.
    const bool blank = static_cast<unsigned char>(c) <= 0x20;
    if (!blank)
      out.push_back(c);
    else if (out.empty() || out.back() != ' ')
      out.push_back(' ');
  }
  return TrimBlanks(out);
}

std::string AsciiUpperCaseText(std::string_view Value) { return AsciiUpperCase(Value); }
std::string AsciiLowerCaseText(std::string_view Value) { return AsciiLowerCase(Value); }

QString TitleCase(const QString &Value)
{
  QString out = Value;
  bool wordStart = true;
  for (QChar &c : out) {
    // Surrogate halves are neither letters nor digits as single units, so they end a word.
    if (c.isLetter() || c.category() == QChar::Number_DecimalDigit) {
      c = wordStart ? c.toUpper() : c.toLower();
      wordStart = false;
    } else {
      wordStart = true;
    }
  }
  return out;
}

std::string TitleCase(std::string_view Value)
{
  const QString text = QString::fromUtf8(Value.data(), static_cast<qsizetype>(Value.size()));
  return TitleCase(text).toStdString();
}

std::string ReplaceAllText(std::string_view Value, std::string_view Search,
                           std::string_view Replacement)
{
  if (Search.empty()) return std::string(Value);
  // On valid UTF-8 a byte match always starts and ends on character boundaries, so searching
  // the bytes finds exactly the character matches.
  std::string out;
  std::size_t pos = 0;
  for (;;) {
    const std::size_t hit = Value.find(Search, pos);
    if (hit == std::string_view::npos) break;
    out.append(Value.substr(pos, hit - pos));
    out.append(Replacement);
    pos = hit + Search.size();
  }
  out.append(Value.substr(pos));
  return out;
}

void ApplyAction(TAudioTag &Tag, const TTagAction &Action)
{
  if (Action.Kind == takCopyField) {
    SetTagField(Tag, Action.TargetField, GetTagField(Tag, Action.SourceField));
    return;
  }
  const std::string value = GetTagField(Tag, Action.TargetField);
  std::string result;
  switch (Action.Kind) {
    case takTrimSpaces: result = TrimSpaces(value); break;
    case takUpperCase: result = AsciiUpperCaseText(value); break;
    case takLowerCase: result = AsciiLowerCaseText(value); break;
    case takTitleCase: result = TitleCase(std::string_view(value)); break;
    case takReplaceText:
      result = ReplaceAllText(value, Action.SearchText.toStdString(),
                              Action.ReplaceText.toStdString());
      break;
    case takCollapseSpaces: result = CollapseSpaces(value); break;
    default: return;
  }
  SetTagField(Tag, Action.TargetField, result);
}

void ApplyActions(TAudioTag &Tag, const std::vector<TTagAction> &Actions)
{
  for (const TTagAction &action : Actions) ApplyAction(Tag, action);
}

QString TagActionKindName(TTagActionKind Kind)
{
  const auto index = static_cast<std::size_t>(Kind);
  return QString::fromLatin1(index < kKindNames.size() ? kKindNames[index] : kKindNames[0]);
}

QString TagFieldName(TTagField Field)
{
  const auto index = static_cast<std::size_t>(Field);
  return QString::fromLatin1(index < kFieldNames.size() ? kFieldNames[index] : kFieldNames[0]);
}

TTagActionKind TagActionKindFromText(const QString &Text)
{
  const int index = FindSpelling(kKindNames, Text);
  return index < 0 ? takTrimSpaces : static_cast<TTagActionKind>(index);
}

TTagField TagFieldFromText(const QString &Text)
{
  const int index = FindSpelling(kFieldNames, Text);
  return index < 0 ? tfTitle : static_cast<TTagField>(index);
}
