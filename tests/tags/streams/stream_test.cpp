#include "tags/streams/stream.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace {

TEST(ReadMemoryStream, ReadsTheCallersBlockWithoutCopying)
{
  std::string block = "0123456789";
  TReadMemoryStream s(block.data(), static_cast<std::int64_t>(block.size()));
  char buf[8] = {};
  ASSERT_EQ(s.Read(buf, 4), 4);
  EXPECT_EQ(std::string(buf, 4), "0123");
  block[4] = 'x';  // the stream sees the block as it is now
  ASSERT_EQ(s.Read(buf, 8), 6);
  EXPECT_EQ(std::string(buf, 6), "x56789");
  EXPECT_EQ(s.Read(buf, 1), 0);
}

TEST(ReadMemoryStream, SeeksAreClampedToTheBlock)
{
  const std::string block = "0123456789";
  TReadMemoryStream s(block.data(), 10);
  EXPECT_EQ(s.Seek(11, TSeekOrigin::soBeginning), 10);
  EXPECT_EQ(s.Seek(-20, TSeekOrigin::soCurrent), 0);
  EXPECT_EQ(s.Seek(-3, TSeekOrigin::soEnd), 7);
  EXPECT_EQ(s.Seek(std::numeric_limits<std::int64_t>::max(), TSeekOrigin::soCurrent), 10);
  EXPECT_EQ(s.Seek(std::numeric_limits<std::int64_t>::min(), TSeekOrigin::soEnd), 0);
}

TEST(ReadMemoryStream, WritingIsRefusedWithAReason)
{
  const std::string block = "abc";
  TReadMemoryStream s(block.data(), 3);
  EXPECT_EQ(s.Write("x", 1), 0);
  EXPECT_EQ(s.LastError(), "TReadMemoryStream does not support Write().");
  EXPECT_FALSE(s.WriteBuffer("x", 1));
  EXPECT_FALSE(s.SetSize(0));
  EXPECT_EQ(s.GetSize(), 3);
  EXPECT_EQ(block, "abc");
}

TEST(ReadMemoryStream, NullOrNegativeBlocksAreEmpty)
{
  const char c = 'a';
  TReadMemoryStream null(nullptr, 100), negative(&c, -5);
  for (TReadMemoryStream *s : {&null, &negative}) {
    char buf[1];
    EXPECT_EQ(s->GetSize(), 0);
    EXPECT_EQ(s->Read(buf, 1), 0);
  }
}

TEST(Stream, ReadAtChecksTheRangeFirst)
{
  TMemoryStream s(TBytes{1, 2, 3, 4, 5});
  TBytes out{9};
  EXPECT_TRUE(s.ReadAt(1, 3, out));
  EXPECT_EQ(out, (TBytes{2, 3, 4}));
  EXPECT_TRUE(s.ReadAt(5, 0, out));
  EXPECT_TRUE(out.empty());
  for (auto [pos, count] : {std::pair<std::int64_t, std::int64_t>{3, 3}, {6, 0}, {-1, 1}, {0, -1},
                            {1, std::numeric_limits<std::int64_t>::max()}}) {
    out = {9};
    EXPECT_FALSE(s.ReadAt(pos, count, out)) << pos << "," << count;
    EXPECT_TRUE(out.empty());
  }
}

TEST(Stream, CopyFromCopiesWhatIsAskedOrWhatIsLeft)
{
  TBytes data(3 << 20);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i % 251);
  TMemoryStream source(data), dest;
  ASSERT_TRUE(source.SetPosition(10));
  EXPECT_EQ(dest.CopyFrom(source, 100), 100);
  EXPECT_EQ(dest.CopyFrom(source, -1), static_cast<std::int64_t>(data.size()) - 110);
  EXPECT_EQ(dest.Data(), TBytes(data.begin() + 10, data.end()));

  const std::string block = "abc";
  TReadMemoryStream readOnly(block.data(), 3);
  EXPECT_EQ(readOnly.CopyFrom(source, -1), 0);  // nothing left to read
  ASSERT_TRUE(source.SetPosition(0));
  EXPECT_EQ(readOnly.CopyFrom(source, 10), -1);  // the write was refused
}

TEST(MemoryStream, WritingPastTheEndFillsTheGapWithZeros)
{
  TMemoryStream s;
  EXPECT_EQ(s.Seek(3, TSeekOrigin::soBeginning), 3);
  EXPECT_EQ(s.Seek(-4, TSeekOrigin::soCurrent), -1);
  EXPECT_EQ(s.Position(), 3);
  ASSERT_TRUE(s.WriteBuffer("ab", 2));
  EXPECT_EQ(s.Data(), (TBytes{0, 0, 0, 'a', 'b'}));
  ASSERT_TRUE(s.SetSize(1));
  EXPECT_EQ(s.Position(), 1);
}

TEST(MemoryStream, AnEndBeyondAnyBlockRefusesTheWriteWithoutThrowing)
{
  TMemoryStream s(TBytes{1, 2});
  const std::int64_t farAway = std::numeric_limits<std::int64_t>::max() - 1;
  ASSERT_EQ(s.Seek(farAway, TSeekOrigin::soBeginning), farAway);
  EXPECT_EQ(s.Write("abcd", 4), 0);
  EXPECT_FALSE(s.WriteBuffer("abcd", 4));
  EXPECT_EQ(s.Data(), (TBytes{1, 2}));
  EXPECT_FALSE(s.SetSize(-1));
  EXPECT_EQ(s.GetSize(), 2);
}

} // namespace
