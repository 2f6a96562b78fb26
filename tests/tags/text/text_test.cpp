#include "tags/text/text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace {

const std::string kReplacement = "\xEF\xBF\xBD";

TEST(Cp1252, EveryByteRoundTrips)
{
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  const std::string utf8 = AnsiToUtf8(all);
  EXPECT_TRUE(IsValidUtf8(utf8));
  EXPECT_EQ(Utf8Length(utf8), 256u);
  EXPECT_EQ(Utf8ToAnsi(utf8), all);
}

struct CodePageCase {
  unsigned char byte;
  const char *utf8;
};

class Cp1252High : public ::testing::TestWithParam<CodePageCase> {};

TEST_P(Cp1252High, MapsBothWays)
{
  const CodePageCase &c = GetParam();
  const std::string ansi(1, static_cast<char>(c.byte));
  EXPECT_EQ(AnsiToUtf8(ansi), c.utf8);
  EXPECT_EQ(Utf8ToAnsi(c.utf8), ansi);
}

INSTANTIATE_TEST_SUITE_P(Table, Cp1252High, ::testing::Values(
  CodePageCase{0x80, "\xE2\x82\xAC"},  // euro sign
  CodePageCase{0x81, "\xC2\x81"},      // undefined in the page: the C1 control of that value
  CodePageCase{0x8A, "\xC5\xA0"},      // S with caron
  CodePageCase{0x8D, "\xC2\x8D"},
  CodePageCase{0x8F, "\xC2\x8F"},
  CodePageCase{0x90, "\xC2\x90"},
  CodePageCase{0x93, "\xE2\x80\x9C"},  // left double quotation mark
  CodePageCase{0x99, "\xE2\x84\xA2"},  // trade mark sign
  CodePageCase{0x9D, "\xC2\x9D"},
  CodePageCase{0x9F, "\xC5\xB8"},      // Y with diaeresis
  CodePageCase{0xA0, "\xC2\xA0"},
  CodePageCase{0xE9, "\xC3\xA9"},
  CodePageCase{0xFF, "\xC3\xBF"}));

TEST(Cp1252, CharactersOutsideThePageBecomeQuestionMarks)
{
  EXPECT_EQ(Utf8ToAnsi("a\xC4\x80" "b"), "a?b");                 // U+0100
  EXPECT_EQ(Utf8ToAnsi("\xC2\x80"), "?");                        // U+0080: the page puts the euro there
  EXPECT_EQ(Utf8ToAnsi("\xE6\x97\xA5\xF0\x9F\x8E\xB5"), "??");   // CJK and an emoji: one '?' each
  EXPECT_EQ(Utf8ToAnsi("x\xFFy"), "x?y");                        // invalid UTF-8
}

TEST(Latin1, ConvertsAndReplaces)
{
  EXPECT_EQ(Latin1ToUtf8("\x80\xE9"), "\xC2\x80\xC3\xA9");
  EXPECT_EQ(Utf8ToLatin1("\xC3\xA9\xE2\x82\xAC"), "\xE9?");
}

TEST(Utf16, SurrogatePairsInBothByteOrders)
{
  // "a", U+00E9, U+20AC, U+1D11E (a surrogate pair).
  const std::string utf8 = "a\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E";
  const std::string le("a\0\xE9\0\xAC\x20\x34\xD8\x1E\xDD", 10);
  const std::string be("\0a\0\xE9\x20\xAC\xD8\x34\xDD\x1E", 10);
  EXPECT_EQ(Utf8ToUtf16Bytes(utf8, false), le);
  EXPECT_EQ(Utf8ToUtf16Bytes(utf8, true), be);
  EXPECT_EQ(Utf16BytesToUtf8(le, false), utf8);
  EXPECT_EQ(Utf16BytesToUtf8(be, true), utf8);
  EXPECT_EQ(Utf8ToUtf16(utf8), (std::u16string{u'a', 0xE9, 0x20AC, 0xD834, 0xDD1E}));
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(utf8)), utf8);
}

TEST(Utf16, BrokenSurrogatesBecomeReplacementCharacters)
{
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD834}), kReplacement);               // high at the end
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xDD1E, u'x'}), kReplacement + "x");   // low alone
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD834, u'x'}), kReplacement + "x");   // high, no low
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD834, 0xD834, 0xDD1E}), kReplacement + "\xF0\x9D\x84\x9E");
  EXPECT_EQ(Utf16BytesToUtf8(std::string("a\0b", 3), false), "a");            // odd byte ignored
  EXPECT_EQ(Utf16BytesToUtf8(std::string("\x34\xD8", 2), false), kReplacement);
}

struct Utf8Case {
  const char *name;
  std::string bytes;
  std::string sanitised;
};

class Utf8Sanitise : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Sanitise, ReplacesInvalidSequences)
{
  const Utf8Case &c = GetParam();
  const bool valid = c.bytes == c.sanitised;
  EXPECT_EQ(IsValidUtf8(c.bytes), valid);
  const std::string out = SanitizeUtf8(c.bytes);
  EXPECT_EQ(out, c.sanitised);
  EXPECT_TRUE(IsValidUtf8(out));
  EXPECT_EQ(Utf8ToUtf16Bytes(c.bytes, true), Utf8ToUtf16Bytes(c.sanitised, true));
}

const std::string R = kReplacement;

INSTANTIATE_TEST_SUITE_P(Table, Utf8Sanitise, ::testing::Values(
  Utf8Case{"ascii", "plain text", "plain text"},
  Utf8Case{"all_lengths", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5"},
  Utf8Case{"lone_continuation", "a\x80" "b", "a" + R + "b"},
  Utf8Case{"invalid_lead", "\xFF\xFE", R + R},
  Utf8Case{"overlong_slash", "\xC0\xAF", R + R},
  Utf8Case{"overlong_three", "\xE0\x80\xAF", R + R + R},
  Utf8Case{"surrogate", "\xED\xA0\x80", R + R + R},
  Utf8Case{"above_max", "\xF4\x90\x80\x80", R + R + R + R},
  Utf8Case{"truncated_at_end", "ok\xE2\x82", "ok" + R + R},
  Utf8Case{"interrupted", "\xE2\x82" "A", R + R + "A"},
  Utf8Case{"embedded_nul", std::string("a\0b", 3), std::string("a\0b", 3)}),
  [](const auto &tc) { return std::string(tc.param.name); });

TEST(Utf8, LengthAndLeft)
{
  const std::string s = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5z";
  EXPECT_EQ(Utf8Length(s), 5u);
  EXPECT_EQ(Utf8Left(s, 0), "");
  EXPECT_EQ(Utf8Left(s, 2), "a\xC3\xA9");
  EXPECT_EQ(Utf8Left(s, 4), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5");
  EXPECT_EQ(Utf8Left(s, 99), s);
  EXPECT_EQ(Utf8Length("\xFF\xFF"), 2u);
}

TEST(Utf8, LeftBytesNeverSplitsACodePoint)
{
  const std::string s = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5z";  // 1, 2, 3, 4 and 1 bytes
  struct Case { std::size_t max; std::string want; };
  for (const Case &c : {Case{0, ""}, Case{1, "a"}, Case{2, "a"}, Case{3, "a\xC3\xA9"}, Case{5, "a\xC3\xA9"},
                        Case{6, "a\xC3\xA9\xE2\x82\xAC"}, Case{9, "a\xC3\xA9\xE2\x82\xAC"}, Case{10, s.substr(0, 10)},
                        Case{11, s}, Case{99, s}})
    EXPECT_EQ(Utf8LeftBytes(s, c.max), c.want) << c.max;
  // Stray continuation bytes are not a code point to keep whole: at most three are given up.
  EXPECT_EQ(Utf8LeftBytes(std::string(10, '\x80'), 8), std::string(5, '\x80'));
}

TEST(AsciiCase, FoldsOnlyAsciiLetters)
{
  EXPECT_TRUE(SameText("Title", "TITLE"));
  EXPECT_TRUE(SameText("", ""));
  EXPECT_FALSE(SameText("TITLE", "TITLES"));
  EXPECT_FALSE(SameText("\xC3\xA9", "\xC3\x89"));  // e acute and E acute stay different
  EXPECT_FALSE(SameText("[", "{"));                // no folding outside the letters
  EXPECT_FALSE(SameText("@", "`"));
  EXPECT_TRUE(StartsText("lyr", "LYRICS"));
  EXPECT_FALSE(StartsText("LYRICS", "lyr"));
  EXPECT_EQ(AsciiUpperCase("mp3 \xC3\xA9z"), "MP3 \xC3\xA9Z");
  EXPECT_EQ(AsciiLowerCase("FLAC \xC3\x89Z"), "flac \xC3\x89z");
}

TEST(TrimBlanks, RemovesControlsAndSpacesAtBothEnds)
{
  EXPECT_EQ(TrimBlanks(std::string("\0\t Title \r\n\0", 11)), "Title");
  EXPECT_EQ(TrimBlanks("  a  b  "), "a  b");
  EXPECT_EQ(TrimBlanks(" \t\n"), "");
  EXPECT_EQ(TrimBlanks(""), "");
  EXPECT_EQ(TrimBlanks("\xC2\xA0x\xC2\xA0"), "\xC2\xA0x\xC2\xA0");  // no-break space is text
}

struct IntCase {
  const char *text;
  bool ok;
  std::int64_t value;
};

class ParseInt64 : public ::testing::TestWithParam<IntCase> {};

TEST_P(ParseInt64, WholeStringOrNothing)
{
  const IntCase &c = GetParam();
  std::int64_t v = 77;
  EXPECT_EQ(TryParseInt64(c.text, v), c.ok) << c.text;
  EXPECT_EQ(v, c.ok ? c.value : 77) << c.text;
}

INSTANTIATE_TEST_SUITE_P(Table, ParseInt64, ::testing::Values(
  IntCase{"0", true, 0},
  IntCase{"+12", true, 12},
  IntCase{"-12", true, -12},
  IntCase{"007", true, 7},
  IntCase{"9223372036854775807", true, std::numeric_limits<std::int64_t>::max()},
  IntCase{"-9223372036854775808", true, std::numeric_limits<std::int64_t>::min()},
  IntCase{"9223372036854775808", false, 0},
  IntCase{"-9223372036854775809", false, 0},
  IntCase{"99999999999999999999999", false, 0},
  IntCase{"", false, 0},
  IntCase{"-", false, 0},
  IntCase{" 1", false, 0},
  IntCase{"1 ", false, 0},
  IntCase{"1/12", false, 0},
  IntCase{"0x10", false, 0}));

TEST(Digits, FixedDigitsAndZeroPad)
{
  std::int64_t v = 0;
  EXPECT_TRUE(ParseFixedDigits("000123", v));
  EXPECT_EQ(v, 123);
  EXPECT_FALSE(ParseFixedDigits("", v));
  EXPECT_FALSE(ParseFixedDigits("12a", v));
  EXPECT_FALSE(ParseFixedDigits("-1", v));
  EXPECT_EQ(ZeroPad(42, 6), "000042");
  EXPECT_EQ(ZeroPad(1234567, 6), "1234567");
  EXPECT_EQ(ZeroPad(0, 5), "00000");
}

} // namespace
