#pragma once
// Quick actions: small text transformations of one of the seven `TTagField` fields of a
// `TAudioTag` (trim, collapse spaces, ASCII upper/lower case, title case, replace, copy), and
// `TActionPreset`, a named ordered list of them.
//
// Texts in records are UTF-8. Trimming, collapsing and the ASCII case changes work on the bytes
// (only ASCII bytes change, so other characters survive untouched, even invalid sequences);
// title case works on UTF-16 units with Qt's single-character case mapping. The kind and field
// spellings ("TrimSpaces", "Title", ...) are the ones the presets file uses.

#include <QString>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/service/audio_tag.h"

enum TTagActionKind : std::uint8_t {
  takTrimSpaces, takUpperCase, takLowerCase, takTitleCase, takReplaceText, takCopyField,
  takCollapseSpaces,
};
constexpr int kTagActionKindCount = 7;
constexpr int kTagFieldCount = 7;

// One action. SourceField is used by takCopyField only, SearchText/ReplaceText by
// takReplaceText only; for other kinds they stay tfTitle and empty.
struct TTagAction {
  TTagActionKind Kind = takTrimSpaces;
  TTagField TargetField = tfTitle;
  TTagField SourceField = tfTitle;
  QString SearchText;
  QString ReplaceText;
  bool operator==(const TTagAction &) const = default;
};

// A named list of actions, run in order. Names compare without regard to case.
struct TActionPreset {
  QString Name;
  std::vector<TTagAction> Actions;
  bool operator==(const TActionPreset &) const = default;
};

// The value of a field (empty for a value outside the seven) and its update (ignored outside).
std::string GetTagField(const TAudioTag &Tag, TTagField Field);
void SetTagField(TAudioTag &Tag, TTagField Field, const std::string &Value);

// The transformations on one text.
std::string TrimSpaces(std::string_view Value);       // codes <= U+0020 off both ends
std::string CollapseSpaces(std::string_view Value);   // codes <= U+0020 -> one space, trimmed
std::string AsciiUpperCaseText(std::string_view Value);
std::string AsciiLowerCaseText(std::string_view Value);
std::string TitleCase(std::string_view Value);
QString TitleCase(const QString &Value);
// Every non-overlapping occurrence, left to right, case-sensitive; nothing when Search is empty.
std::string ReplaceAllText(std::string_view Value, std::string_view Search,
                           std::string_view Replacement);

// Runs one action / all actions in order on Tag (changed in place; Modified is not touched).
// A kind outside the seven is skipped.
void ApplyAction(TAudioTag &Tag, const TTagAction &Action);
void ApplyActions(TAudioTag &Tag, const std::vector<TTagAction> &Actions);

// Spellings: "TrimSpaces" ... "CollapseSpaces", "Title" ... "Comment". Parsing trims codes up to
// U+0020, ignores case and gives takTrimSpaces / tfTitle for anything unknown.
QString TagActionKindName(TTagActionKind Kind);
QString TagFieldName(TTagField Field);
TTagActionKind TagActionKindFromText(const QString &Text);
TTagField TagFieldFromText(const QString &Text);
