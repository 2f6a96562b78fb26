#include "tags/text/number_total.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct SplitCase {
  const char *name;
  std::string value;
  bool hasTotal;
  std::string number;
  std::string total;
};

class SplitNumberTotalTable : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitNumberTotalTable, NumberAndTotal)
{
  const SplitCase &c = GetParam();
  std::string number = "stale", total = "stale";
  EXPECT_EQ(SplitNumberTotal(c.value, number, total), c.hasTotal);
  EXPECT_EQ(number, c.number);
  EXPECT_EQ(total, c.total);
}

INSTANTIATE_TEST_SUITE_P(Table, SplitNumberTotalTable, ::testing::Values(
  SplitCase{"number_and_total", "3/12", true, "3", "12"},
  SplitCase{"number_only", "3", false, "3", ""},
  SplitCase{"empty", "", false, "", ""},
  SplitCase{"total_only", "/12", true, "", "12"},
  SplitCase{"slash_without_total", "3/", true, "3", ""},
  SplitCase{"kept_as_written", "03 / 012", true, "03 ", " 012"},
  SplitCase{"first_slash", "1/2/3", true, "1", "2/3"}),
  [](const auto &param_info) { return std::string(param_info.param.name); });

struct JoinCase {
  const char *name;
  std::string number;
  std::string total;
  std::string value;
};

class JoinNumberTotalTable : public ::testing::TestWithParam<JoinCase> {};

TEST_P(JoinNumberTotalTable, Value)
{
  EXPECT_EQ(JoinNumberTotal(GetParam().number, GetParam().total), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Table, JoinNumberTotalTable, ::testing::Values(
  JoinCase{"number_and_total", "3", "12", "3/12"},
  JoinCase{"no_total", "3", "", "3"},
  JoinCase{"number_holds_its_total", "3/10", "12", "3/10"},
  JoinCase{"total_only", "", "12", "/12"},
  JoinCase{"neither", "", "", ""}),
  [](const auto &param_info) { return std::string(param_info.param.name); });

TEST(NumberTotal, SplitUndoesJoin)
{
  std::string number, total;
  SplitNumberTotal(JoinNumberTotal("4", "12"), number, total);
  EXPECT_EQ(number, "4");
  EXPECT_EQ(total, "12");
}

} // namespace
