#include "tags/vorbis/base64.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Decoded(std::string_view Text, bool &Ok)
{
  TBytes out;
  Ok = Base64Decode(Text, out);
  return std::string(out.begin(), out.end());
}

struct Vector {
  const char *plain;
  const char *encoded;
};

class Rfc4648Vectors : public ::testing::TestWithParam<Vector> {};

TEST_P(Rfc4648Vectors, EncodeAndDecode)
{
  const Vector &v = GetParam();
  EXPECT_EQ(Base64Encode(std::string_view(v.plain)), v.encoded);
  bool ok = false;
  EXPECT_EQ(Decoded(v.encoded, ok), v.plain);
  EXPECT_TRUE(ok);
}

// RFC 4648 section 10.
INSTANTIATE_TEST_SUITE_P(Rfc4648, Rfc4648Vectors, ::testing::Values(
  Vector{"", ""}, Vector{"f", "Zg=="}, Vector{"fo", "Zm8="}, Vector{"foo", "Zm9v"},
  Vector{"foob", "Zm9vYg=="}, Vector{"fooba", "Zm9vYmE="}, Vector{"foobar", "Zm9vYmFy"}));

TEST(Base64, EveryByteValueRoundTrips)
{
  TBytes all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<std::uint8_t>(i));
  for (std::size_t len = 0; len <= all.size(); len += 37) {
    const TBytes part(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(len));
    const std::string text = Base64Encode(part);
    EXPECT_EQ(text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="), std::string::npos);
    TBytes back;
    ASSERT_TRUE(Base64Decode(text, back));
    EXPECT_EQ(back, part);
    EXPECT_EQ(PlainBase64DecodedSize(text), static_cast<std::int64_t>(part.size()));
  }
  EXPECT_EQ(Base64Encode(TBytes{0xFB, 0xFF, 0xBF}), "+/+/");
}

struct LayoutCase {
  const char *name;
  const char *text;
  bool ok;
  const char *plain;
  std::int64_t plainSize;  // PlainBase64DecodedSize: -1 for all but plain base64
};

class Base64Layout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(Base64Layout, WhiteSpaceToleratedGarbageRejected)
{
  const LayoutCase &c = GetParam();
  bool ok = !c.ok;
  const std::string out = Decoded(c.text, ok);
  EXPECT_EQ(ok, c.ok);
  EXPECT_EQ(out, c.plain);  // nothing is handed out from rejected text
  EXPECT_EQ(PlainBase64DecodedSize(c.text), c.plainSize);
}

INSTANTIATE_TEST_SUITE_P(Table, Base64Layout, ::testing::Values(
  LayoutCase{"plain", "Zm9vYmFy", true, "foobar", 6},
  LayoutCase{"plain_padded", "Zm9vYg==", true, "foob", 4},
  LayoutCase{"empty", "", true, "", 0},
  LayoutCase{"crlf_lines", "Zm9v\r\nYmFy\r\n", true, "foobar", -1},
  LayoutCase{"crlf_inside_a_group", "Zm\r\n9vYg\r\n==\r\n", true, "foob", -1},
  LayoutCase{"spaces_tabs_lf", " Zm9v\tYmE=\n ", true, "fooba", -1},
  LayoutCase{"unpadded_tail_of_two", "Zm9vYg", true, "foob", -1},
  LayoutCase{"unpadded_tail_of_three", "Zm9vYmE", true, "fooba", -1},
  LayoutCase{"only_white_space", "\r\n \t", true, "", -1},
  LayoutCase{"invalid_character", "Zm9v*mFy", false, "", -1},
  LayoutCase{"url_alphabet", "Zm9v-_8=", false, "", -1},
  LayoutCase{"non_ascii", "Zm9v\xC3\xA9", false, "", -1},
  LayoutCase{"padding_in_the_middle", "Zg==Zm9v", false, "", -1},
  LayoutCase{"padding_after_one", "Z===", false, "", -1},
  LayoutCase{"padding_at_start", "====", false, "", -1},
  LayoutCase{"padding_incomplete", "Zg=", false, "", -1},
  LayoutCase{"too_much_padding", "Zm8==", false, "", -1},
  LayoutCase{"lone_last_character", "Zm9vY", false, "", -1}),
  [](const auto &p) { return std::string(p.param.name); });

TEST(Base64, NulByteInTheTextRejects)
{
  bool ok = true;
  EXPECT_EQ(Decoded(std::string_view("Zm9v\0Zg==", 9), ok), "");
  EXPECT_FALSE(ok);
}

} // namespace
