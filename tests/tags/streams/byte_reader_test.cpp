#include "tags/streams/byte_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <string>

#include "tags/streams/byte_writer.h"
#include "tests/support/test_support.h"

namespace {

constexpr std::uint64_t kHuge = std::numeric_limits<std::uint64_t>::max();

// One read of each kind: how many bytes it needs and the value it gives over 01 02 03 ... .
struct ReadCase {
  const char *name;
  std::size_t width;
  std::function<bool(ByteReader &, std::uint64_t &)> read;
  std::uint64_t want;
};

class ByteReaderBounds : public ::testing::TestWithParam<ReadCase> {};

Bytes8 Counting(std::size_t n)
{
  Bytes8 b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i + 1);
  return b;
}

TEST_P(ByteReaderBounds, ExactSizeReadsAndOneShortFailsInPlace)
{
  const ReadCase &c = GetParam();
  const Bytes8 data = Counting(c.width + 1);

  ByteReader exact(data.data() + 1, c.width);
  std::uint64_t v = 0;
  ASSERT_TRUE(c.read(exact, v));
  EXPECT_EQ(v, c.want);
  EXPECT_TRUE(exact.AtEnd());

  // The same read one byte short, from the start and after a byte already read.
  ByteReader shortBy1(data.data() + 1, c.width - 1);
  v = 0xDEAD;
  EXPECT_FALSE(c.read(shortBy1, v));
  EXPECT_EQ(shortBy1.Position(), 0u);
  EXPECT_EQ(v, 0xDEADu);

  ByteReader advanced(data.data(), c.width);
  std::uint8_t first = 0;
  ASSERT_TRUE(advanced.ReadU8(first));
  EXPECT_FALSE(c.read(advanced, v));
  EXPECT_EQ(advanced.Position(), 1u);
}

template <typename T, typename Fn> std::function<bool(ByteReader &, std::uint64_t &)> Via(Fn fn)
{
  return [fn](ByteReader &r, std::uint64_t &out) {
    T v{};
    if (!(r.*fn)(v)) return false;
    out = v;
    return true;
  };
}

INSTANTIATE_TEST_SUITE_P(Table, ByteReaderBounds, ::testing::Values(
  ReadCase{"u8", 1, Via<std::uint8_t>(&ByteReader::ReadU8), 0x02},
  ReadCase{"u16le", 2, Via<std::uint16_t>(&ByteReader::ReadU16LE), 0x0302},
  ReadCase{"u16be", 2, Via<std::uint16_t>(&ByteReader::ReadU16BE), 0x0203},
  ReadCase{"u24be", 3, Via<std::uint32_t>(&ByteReader::ReadU24BE), 0x020304},
  ReadCase{"u32le", 4, Via<std::uint32_t>(&ByteReader::ReadU32LE), 0x05040302},
  ReadCase{"u32be", 4, Via<std::uint32_t>(&ByteReader::ReadU32BE), 0x02030405},
  ReadCase{"u64le", 8, Via<std::uint64_t>(&ByteReader::ReadU64LE), 0x0908070605040302},
  ReadCase{"u64be", 8, Via<std::uint64_t>(&ByteReader::ReadU64BE), 0x0203040506070809},
  ReadCase{"bytes", 5, [](ByteReader &r, std::uint64_t &out) {
             std::vector<std::uint8_t> b;
             if (!r.ReadBytes(5, b)) return false;
             out = b.size() == 5 && b[0] == 2 && b[4] == 6;
             return true;
           }, 1},
  ReadCase{"string", 3, [](ByteReader &r, std::uint64_t &out) {
             std::string s;
             if (!r.ReadString(3, s)) return false;
             out = s == "\x02\x03\x04";
             return true;
           }, 1},
  ReadCase{"skip", 6, [](ByteReader &r, std::uint64_t &out) {
             if (!r.Skip(6)) return false;
             out = r.Position();
             return true;
           }, 6}),
  [](const auto &tc) { return std::string(tc.param.name); });

TEST(ByteReader, HugeCountsFailWithoutMoving)
{
  const Bytes8 data = Counting(16);
  ByteReader r(data);
  ASSERT_TRUE(r.Skip(3));
  std::span<const std::uint8_t> span;
  std::vector<std::uint8_t> bytes;
  std::string text;
  ByteReader child;
  EXPECT_FALSE(r.Skip(kHuge));
  EXPECT_FALSE(r.ReadSpan(kHuge, span));
  EXPECT_FALSE(r.ReadBytes(kHuge, bytes));
  EXPECT_FALSE(r.ReadString(kHuge, text));
  EXPECT_FALSE(r.Take(kHuge, child));
  EXPECT_FALSE(r.Take(14, child));
  EXPECT_FALSE(r.Seek(17));
  EXPECT_EQ(r.Position(), 3u);
  EXPECT_TRUE(bytes.empty());
  EXPECT_TRUE(text.empty());
  EXPECT_TRUE(r.Seek(16));
  EXPECT_TRUE(r.AtEnd());
}

TEST(ByteReader, TakeHandsDownExactlyTheBody)
{
  // A 4-byte length, the body, and a trailer the child must not reach.
  const Bytes8 data = Bytes().U32LE(3).Str("abc").Str("TRAILER");
  ByteReader r(data);
  std::uint32_t len = 0;
  ByteReader body;
  ASSERT_TRUE(r.ReadU32LE(len));
  ASSERT_TRUE(r.Take(len, body));
  EXPECT_EQ(r.Position(), 7u);
  EXPECT_TRUE(r.StartsWith("TRAILER"));

  EXPECT_EQ(body.Size(), 3u);
  EXPECT_EQ(body.RestAsString(), "abc");
  std::uint32_t v = 0;
  EXPECT_FALSE(body.ReadU32LE(v));
  std::string s;
  ASSERT_TRUE(body.ReadString(3, s));
  EXPECT_EQ(s, "abc");
  std::uint8_t b = 0;
  EXPECT_FALSE(body.ReadU8(b));
  EXPECT_FALSE(body.PeekU8(b));

  ByteReader empty;
  ASSERT_TRUE(r.Take(0, empty));
  EXPECT_TRUE(empty.AtEnd());
  EXPECT_EQ(r.Position(), 7u);
}

TEST(ByteReader, ExpectAdvancesOnlyOnAMatch)
{
  const Bytes8 data = Bytes().Str("TAGxy");
  ByteReader r(data);
  EXPECT_FALSE(r.Expect("TAX"));
  EXPECT_FALSE(r.Expect("TAGxyz"));  // runs past the end
  EXPECT_EQ(r.Position(), 0u);
  EXPECT_TRUE(r.Expect(""));
  EXPECT_TRUE(r.Expect("TAG"));
  EXPECT_EQ(r.Position(), 3u);
  EXPECT_FALSE(r.StartsWith("xyz"));
  EXPECT_TRUE(r.StartsWith("xy"));
  EXPECT_EQ(r.Position(), 3u);
}

TEST(ByteReader, NullDataIsAnEmptyReader)
{
  ByteReader r(nullptr, 100);
  EXPECT_EQ(r.Size(), 0u);
  std::uint8_t b = 0;
  EXPECT_FALSE(r.ReadU8(b));
  EXPECT_EQ(r.RestAsString(), "");
  EXPECT_TRUE(r.Rest().empty());
}

TEST(ByteReader, RestAsUtf8ReplacesInvalidBytes)
{
  const Bytes8 data = Bytes().Str("ok \xC3\xA9 \xFF!");
  ByteReader r(data);
  ASSERT_TRUE(r.Skip(3));
  EXPECT_EQ(r.RestAsUTF8(), "\xC3\xA9 \xEF\xBF\xBD!");
  EXPECT_EQ(r.Position(), 3u);
}

struct SynchsafeCase {
  const char *name;
  std::uint32_t coded;
  bool synchsafe;
  std::uint32_t value;
};

class Synchsafe32Decode : public ::testing::TestWithParam<SynchsafeCase> {};

TEST_P(Synchsafe32Decode, ValueAndValidity)
{
  EXPECT_EQ(IsSynchsafe32(GetParam().coded), GetParam().synchsafe);
  EXPECT_EQ(DecodeSynchsafe32(GetParam().coded), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Table, Synchsafe32Decode, ::testing::Values(
  SynchsafeCase{"zero", 0x00000000, true, 0},
  SynchsafeCase{"one_byte", 0x0000007F, true, 127},
  SynchsafeCase{"carry_into_second_byte", 0x00000201, true, 257},
  SynchsafeCase{"largest", 0x7F7F7F7F, true, 0x0FFFFFFF},
  SynchsafeCase{"top_bit_low_byte", 0x00000080, false, 0},
  SynchsafeCase{"top_bit_high_byte", 0x80000001, false, 1},
  SynchsafeCase{"every_top_bit", 0xFFFFFFFF, false, 0x0FFFFFFF}),
  [](const auto &param_info) { return std::string(param_info.param.name); });

TEST(Synchsafe32, DecodesWhatByteWriterEncodes)
{
  for (const std::uint32_t v : {0u, 127u, 128u, 257u, 0x0FFFFFFFu}) {
    TBytes out;
    ByteWriter(out).Synchsafe32(v);
    ByteReader r(out);
    std::uint32_t coded = 0;
    ASSERT_TRUE(r.ReadU32BE(coded));
    EXPECT_TRUE(IsSynchsafe32(coded)) << v;
    EXPECT_EQ(DecodeSynchsafe32(coded), v);
  }
}

} // namespace
