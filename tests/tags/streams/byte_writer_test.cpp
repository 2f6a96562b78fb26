#include "tags/streams/byte_writer.h"

#include <gtest/gtest.h>

#include <functional>

#include "tags/streams/byte_reader.h"
#include "tests/support/test_support.h"

namespace {

struct WriteCase {
  const char *name;
  std::function<void(ByteWriter &)> write;
  Bytes8 want;
};

class ByteWriterFields : public ::testing::TestWithParam<WriteCase> {};

TEST_P(ByteWriterFields, WritesExactlyTheWidthInTheOrderAsked)
{
  const WriteCase &c = GetParam();
  TBytes out{0xEE};  // what is there already stays in front
  ByteWriter w(out);
  c.write(w);
  Bytes8 want{0xEE};
  want.insert(want.end(), c.want.begin(), c.want.end());
  EXPECT_EQ(out, want);
}

INSTANTIATE_TEST_SUITE_P(Table, ByteWriterFields, ::testing::Values(
  WriteCase{"u8", [](ByteWriter &w) { w.U8(0xAB); }, {0xAB}},
  WriteCase{"u16le", [](ByteWriter &w) { w.U16LE(0x1234); }, {0x34, 0x12}},
  WriteCase{"u16be", [](ByteWriter &w) { w.U16BE(0x1234); }, {0x12, 0x34}},
  WriteCase{"u32le", [](ByteWriter &w) { w.U32LE(0x12345678); }, {0x78, 0x56, 0x34, 0x12}},
  WriteCase{"u32be", [](ByteWriter &w) { w.U32BE(0x12345678); }, {0x12, 0x34, 0x56, 0x78}},
  WriteCase{"u64le", [](ByteWriter &w) { w.U64LE(0x0102030405060708ull); }, {8, 7, 6, 5, 4, 3, 2, 1}},
  WriteCase{"u64be", [](ByteWriter &w) { w.U64BE(0x0102030405060708ull); }, {1, 2, 3, 4, 5, 6, 7, 8}},
  WriteCase{"uint_drops_high_bits", [](ByteWriter &w) { w.UInt(0x1122334455ull, 3, true); }, {0x33, 0x44, 0x55}},
  WriteCase{"synchsafe_largest", [](ByteWriter &w) { w.Synchsafe32(0x0FFFFFFF); }, {0x7F, 0x7F, 0x7F, 0x7F}},
  WriteCase{"synchsafe_257", [](ByteWriter &w) { w.Synchsafe32(257); }, {0, 0, 2, 1}},
  WriteCase{"chained", [](ByteWriter &w) { w.Str("ID").U8(3).Zeros(2).Append(Bytes8{9, 8}); },
            {'I', 'D', 3, 0, 0, 9, 8}}),
  [](const auto &p) { return std::string(p.param.name); });

TEST(ByteWriter, ReadsBackThroughByteReader)
{
  TBytes out;
  ByteWriter(out).U16LE(0xBEEF).U32BE(0xDEADBEEF).U64LE(0xFFFFFFFFFFFFFFFEull).U64BE(1ull << 40);
  ByteReader in(out);
  std::uint16_t a = 0;
  std::uint32_t b = 0;
  std::uint64_t c = 0, d = 0;
  ASSERT_TRUE(in.ReadU16LE(a) && in.ReadU32BE(b) && in.ReadU64LE(c) && in.ReadU64BE(d));
  EXPECT_EQ(a, 0xBEEF);
  EXPECT_EQ(b, 0xDEADBEEFu);
  EXPECT_EQ(c, 0xFFFFFFFFFFFFFFFEull);
  EXPECT_EQ(d, 1ull << 40);
  EXPECT_TRUE(in.AtEnd());
}

TEST(ByteWriter, EncodeUIntIsAFieldOfItsOwn)
{
  EXPECT_EQ(EncodeUInt(0xFFFFFFFF, 4, false), (Bytes8{0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(EncodeUInt(300, 8, false), (Bytes8{0x2C, 1, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(EncodeUInt(300, 8, true), (Bytes8{0, 0, 0, 0, 0, 0, 1, 0x2C}));
  EXPECT_TRUE(EncodeUInt(5, 0, true).empty());
}

} // namespace
