#include "app/quick_actions.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct ActionCase {
  const char *name;
  TTagActionKind kind;
  std::string input;
  std::string want;
  QString search = QString();
  QString replace = QString();
};

class ActionOnTitle : public ::testing::TestWithParam<ActionCase> {};

TEST_P(ActionOnTitle, TransformsOnlyTheTarget)
{
  const ActionCase &c = GetParam();
  TAudioTag tag;
  tag.Title = c.input;
  tag.Artist = "  other  ";
  TTagAction action;
  action.Kind = c.kind;
  action.TargetField = tfTitle;
  action.SearchText = c.search;
  action.ReplaceText = c.replace;
  ApplyAction(tag, action);
  EXPECT_EQ(tag.Title, c.want);
  EXPECT_EQ(tag.Artist, "  other  ");
  EXPECT_FALSE(tag.Modified);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ActionOnTitle,
    ::testing::Values(
        ActionCase{"trim_controls_and_blanks", takTrimSpaces, "\t x y \r\n\x01", "x y"},
        ActionCase{"trim_keeps_no_break_space", takTrimSpaces, "\xC2\xA0x ", "\xC2\xA0x"},
        ActionCase{"trim_all_blank", takTrimSpaces, " \t ", ""},
        ActionCase{"upper_ascii_only", takUpperCase, "stra\xC3\x9F" "e", "STRA\xC3\x9F" "E"},
        ActionCase{"lower_ascii_only", takLowerCase, "\xC3\x84RGER", "\xC3\x84rger"},
        ActionCase{"collapse_tab_two_spaces_line_break", takCollapseSpaces,
                   "Hello\t  World\r\n", "Hello World"},
        ActionCase{"collapse_keeps_no_break_space", takCollapseSpaces, " a \xC2\xA0 b ",
                   "a \xC2\xA0 b"},
        ActionCase{"replace_dots_keeps_trailing_space", takReplaceText, "A.B.C.", "A B C ",
                   ".", " "},
        ActionCase{"replace_empty_search_does_nothing", takReplaceText, "a_b", "a_b", "", "x"},
        ActionCase{"replace_without_overlaps", takReplaceText, "aaa", "ba", "aa", "b"},
        ActionCase{"replace_is_case_sensitive", takReplaceText, "Abc", "Abc", "a", "x"},
        ActionCase{"replace_non_ascii", takReplaceText, "caf\xC3\xA9 \xC3\xA9t\xC3\xA9",
                   "cafe ete", QStringLiteral("\u00E9"), "e"},
        ActionCase{"replace_with_longer_text", takReplaceText, "a_b_c", "a - b - c", "_",
                   " - "},
        ActionCase{"title_apostrophe", takTitleCase, "o'neil", "O'Neil"},
        ActionCase{"title_hyphens", takTitleCase, "rock-n-roll", "Rock-N-Roll"},
        ActionCase{"title_slash", takTitleCase, "AC/DC", "Ac/Dc"},
        ActionCase{"title_digit_starts_word", takTitleCase, "2ND STREET", "2nd Street"},
        ActionCase{"title_non_ascii_upper", takTitleCase, "\xC3\x89" "COLE", "\xC3\x89" "cole"},
        ActionCase{"title_non_ascii_lower", takTitleCase, "\xC3\xA9t\xC3\xA9 d'\xC3\xA9t\xC3\xA9",
                   "\xC3\x89t\xC3\xA9 D'\xC3\x89t\xC3\xA9"},
        ActionCase{"title_blank_runs", takTitleCase, "  hello   wORLD ", "  Hello   World "},
        ActionCase{"title_empty", takTitleCase, "", ""},
        // A character beyond U+FFFF is two units that are not letters one by one: it survives
        // intact and the letter after it starts a word.
        ActionCase{"title_astral_character_intact", takTitleCase, "\xF0\x9F\x98\x80" "abc",
                   "\xF0\x9F\x98\x80" "Abc"}),
    [](const auto &param) { return std::string(param.param.name); });

TEST(QuickActions, FieldsMapToTheSevenMembers)
{
  TAudioTag tag;
  const TTagField fields[] = {tfTitle, tfArtist, tfAlbum, tfYear, tfTrack, tfGenre, tfComment};
  for (const TTagField field : fields)
    SetTagField(tag, field, TagFieldName(field).toStdString());
  EXPECT_EQ(tag.Title, "Title");
  EXPECT_EQ(tag.Artist, "Artist");
  EXPECT_EQ(tag.Album, "Album");
  EXPECT_EQ(tag.Year, "Year");
  EXPECT_EQ(tag.Track, "Track");
  EXPECT_EQ(tag.Genre, "Genre");
  EXPECT_EQ(tag.Comment, "Comment");

  const TAudioTag before = tag;
  const auto outside = static_cast<TTagField>(9);
  EXPECT_EQ(GetTagField(tag, outside), "");
  SetTagField(tag, outside, "x");
  EXPECT_EQ(tag, before);
}

TEST(QuickActions, CopyBeforeUpperCaseKeepsTheOldTitle)
{
  TAudioTag tag;
  tag.Title = "Song title";
  tag.Comment = "old";
  TTagAction copy;
  copy.Kind = takCopyField;
  copy.SourceField = tfTitle;
  copy.TargetField = tfComment;
  TTagAction upper;
  upper.Kind = takUpperCase;
  upper.TargetField = tfTitle;
  ApplyActions(tag, {copy, upper});
  EXPECT_EQ(tag.Comment, "Song title");
  EXPECT_EQ(tag.Title, "SONG TITLE");
}

TEST(QuickActions, ActionsRunInOrderAndSeeEarlierResults)
{
  TAudioTag tag;
  tag.Title = "the_quick.brown";
  tag.Lyrics = "unchanged";
  TTagAction under{takReplaceText, tfTitle, tfTitle, QStringLiteral("_"), QStringLiteral(" ")};
  TTagAction dot{takReplaceText, tfTitle, tfTitle, QStringLiteral("."), QStringLiteral(" ")};
  TTagAction title{takTitleCase, tfTitle, tfTitle, {}, {}};
  ApplyActions(tag, {under, dot, title});
  EXPECT_EQ(tag.Title, "The Quick Brown");
  EXPECT_EQ(tag.Lyrics, "unchanged");
}

TEST(QuickActions, UnknownKindIsSkipped)
{
  TAudioTag tag;
  tag.Title = "  x  ";
  TTagAction odd;
  odd.Kind = static_cast<TTagActionKind>(12);
  ApplyAction(tag, odd);
  EXPECT_EQ(tag.Title, "  x  ");
}

TEST(QuickActions, SpellingsIgnoreCaseAndBlanks)
{
  for (int i = 0; i < kTagActionKindCount; ++i) {
    const auto kind = static_cast<TTagActionKind>(i);
    EXPECT_EQ(TagActionKindFromText(TagActionKindName(kind)), kind);
    EXPECT_EQ(TagActionKindFromText(QLatin1Char(' ') + TagActionKindName(kind).toUpper() +
                                    QLatin1Char('\t')),
              kind);
  }
  for (int i = 0; i < kTagFieldCount; ++i) {
    const auto field = static_cast<TTagField>(i);
    EXPECT_EQ(TagFieldFromText(TagFieldName(field).toLower()), field);
  }
  EXPECT_EQ(TagActionKindFromText(QStringLiteral(" COPYFIELD ")), takCopyField);
  EXPECT_EQ(TagFieldFromText(QStringLiteral("ARTIST")), tfArtist);
  EXPECT_EQ(TagActionKindFromText(QStringLiteral("Copy Field")), takTrimSpaces);
  EXPECT_EQ(TagActionKindFromText(QString()), takTrimSpaces);
  EXPECT_EQ(TagFieldFromText(QStringLiteral("Lyrics")), tfTitle);
  EXPECT_EQ(TagActionKindName(takCollapseSpaces), QStringLiteral("CollapseSpaces"));
  EXPECT_EQ(TagFieldName(tfComment), QStringLiteral("Comment"));
}

}  // namespace
