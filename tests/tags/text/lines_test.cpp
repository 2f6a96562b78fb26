#include "tags/text/lines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

struct SplitCase {
  const char *name;
  std::string text;
  Lines lines;
};

class SplitLinesTable : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitLinesTable, Lines)
{
  EXPECT_EQ(SplitLines(GetParam().text), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(Table, SplitLinesTable, ::testing::Values(
  SplitCase{"empty", "", {}},
  SplitCase{"one_line", "a", {"a"}},
  SplitCase{"crlf", "a\r\nb", {"a", "b"}},
  SplitCase{"lone_lf", "a\nb", {"a", "b"}},
  SplitCase{"lone_cr", "a\rb", {"a", "b"}},
  SplitCase{"lf_cr_is_two_breaks", "a\n\rb", {"a", "", "b"}},
  SplitCase{"empty_line_kept", "a\r\n\r\nb", {"a", "", "b"}},
  SplitCase{"leading_break", "\r\nb", {"", "b"}},
  SplitCase{"trailing_break_opens_no_line", "a\r\n", {"a"}},
  SplitCase{"only_a_break", "\n", {""}},
  SplitCase{"two_trailing_breaks", "a\r\n\r\n", {"a", ""}}),
  [](const auto &param_info) { return std::string(param_info.param.name); });

TEST(JoinLines, CrLfBetweenEveryTwoLines)
{
  EXPECT_EQ(JoinLines({}), "");
  EXPECT_EQ(JoinLines({"a"}), "a");
  EXPECT_EQ(JoinLines({"a", "b"}), "a\r\nb");
  EXPECT_EQ(JoinLines({"", "b"}), "\r\nb");
  EXPECT_EQ(JoinLines({"a", "", "b"}), "a\r\n\r\nb");
  for (const Lines &l : {Lines{"a", "b"}, Lines{"", "b"}, Lines{"a", "", "b"}}) EXPECT_EQ(SplitLines(JoinLines(l)), l);
}

struct PairCase {
  const char *name;
  std::string item;
  std::string pairName;
  std::string pairValue;
};

class PairItemTable : public ::testing::TestWithParam<PairCase> {};

TEST_P(PairItemTable, SplitAtTheFirstEquals)
{
  std::string name, value;
  SplitPairItem(GetParam().item, name, value);
  EXPECT_EQ(name, GetParam().pairName);
  EXPECT_EQ(value, GetParam().pairValue);
}

INSTANTIATE_TEST_SUITE_P(Table, PairItemTable, ::testing::Values(
  PairCase{"plain", "producer=Ann", "producer", "Ann"},
  PairCase{"equals_in_the_value", "mix=A=B", "mix", "A=B"},
  PairCase{"no_equals", "producer", "producer", ""},
  PairCase{"empty_value", "producer=", "producer", ""},
  PairCase{"empty_name", "=Ann", "", "Ann"},
  PairCase{"empty", "", "", ""}),
  [](const auto &param_info) { return std::string(param_info.param.name); });

TEST(PairItems, FlatAndTextForms)
{
  const Lines items{"producer=Ann", "mix=A=B", "engineer"};
  EXPECT_EQ(PairItemsToFlat(items), (Lines{"producer", "Ann", "mix", "A=B", "engineer", ""}));
  EXPECT_EQ(PairItemsToText(items), "producer\r\nAnn\r\nmix\r\nA=B\r\nengineer\r\n\r\n");
  EXPECT_EQ(PairItemsFromText(PairItemsToText(items)), (Lines{"producer=Ann", "mix=A=B", "engineer="}));
  EXPECT_EQ(PairItemsFromFlat({"producer", "Ann", "mix"}), Lines{"producer=Ann"});  // no value: no item
  EXPECT_EQ(PairItemsFromText("a\nb\rc\r\nd"), (Lines{"a=b", "c=d"}));
  EXPECT_TRUE(PairItemsToText({}).empty());
  EXPECT_TRUE(PairItemsFromText("").empty());
}

} // namespace
