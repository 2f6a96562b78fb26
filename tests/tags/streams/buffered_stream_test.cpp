#include "tags/streams/buffered_stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace {

// A memory stream that counts what reaches it.
class TCountingStream : public TStream {
public:
  explicit TCountingStream(TBytes Data) : Inner(std::move(Data)) {}

  std::int64_t Read(void *Buffer, std::int64_t Count) override
  {
    ++Reads;
    ReadRequests.push_back(Count);
    return Inner.Read(Buffer, Count);
  }
  std::int64_t Write(const void *Buffer, std::int64_t Count) override
  {
    ++Writes;
    return Inner.Write(Buffer, Count);
  }
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override
  {
    ++Seeks;
    return Inner.Seek(Offset, Origin);
  }
  std::int64_t GetSize() override { return Inner.GetSize(); }
  bool SetSize(std::int64_t NewSize) override { return Inner.SetSize(NewSize); }

  void ResetCounts()
  {
    Reads = Writes = Seeks = 0;
    ReadRequests.clear();
  }
  int Calls() const { return Reads + Writes + Seeks; }

  TMemoryStream Inner;
  int Reads = 0, Writes = 0, Seeks = 0;
  std::vector<std::int64_t> ReadRequests;
};

TBytes Pattern(std::size_t Size)
{
  TBytes b(Size);
  for (std::size_t i = 0; i < Size; ++i) b[i] = static_cast<std::uint8_t>((i * 7 + i / 251) & 0xFF);
  return b;
}

std::string AsText(const TBytes &b) { return std::string(b.begin(), b.end()); }

TEST(BufferedStream, SmallReadsReachTheWrappedStreamInWholeBuffers)
{
  const TBytes data = Pattern(8192);
  TCountingStream inner(data);
  TBufferedStream buffered(inner);
  inner.ResetCounts();

  TBytes got;
  for (int i = 0; i < 1000; ++i) {
    std::uint8_t four[4];
    ASSERT_EQ(buffered.Read(four, 4), 4);
    got.insert(got.end(), four, four + 4);
  }
  EXPECT_EQ(got, TBytes(data.begin(), data.begin() + 4000));
  EXPECT_LE(inner.Reads, 4);
  for (std::int64_t request : inner.ReadRequests) EXPECT_EQ(request, TBufferedStream::kBufferSize);
  EXPECT_EQ(buffered.Position(), 4000);
}

TEST(BufferedStream, SeekingBackInsideTheBufferDoesNotTouchTheWrappedStream)
{
  const TBytes data = Pattern(4096);
  TCountingStream inner(data);
  TBufferedStream buffered(inner);
  std::uint8_t buf[100];
  ASSERT_EQ(buffered.Read(buf, 100), 100);
  inner.ResetCounts();

  EXPECT_EQ(buffered.Seek(10, TSeekOrigin::soBeginning), 10);
  EXPECT_EQ(buffered.Seek(-5, TSeekOrigin::soCurrent), 5);
  ASSERT_EQ(buffered.Read(buf, 20), 20);
  EXPECT_EQ(0, std::memcmp(buf, data.data() + 5, 20));
  EXPECT_EQ(buffered.Seek(1000, TSeekOrigin::soBeginning), 1000);
  ASSERT_EQ(buffered.Read(buf, 24), 24);
  EXPECT_EQ(0, std::memcmp(buf, data.data() + 1000, 24));
  EXPECT_EQ(inner.Calls(), 0);
}

struct SeekCase {
  const char *name;
  std::int64_t start;
  std::int64_t offset;
  TSeekOrigin origin;
  std::int64_t want;
};

class BufferedStreamSeek : public ::testing::TestWithParam<SeekCase> {};

TEST_P(BufferedStreamSeek, LandsInsideTheStream)
{
  const SeekCase &c = GetParam();
  TMemoryStream inner(Pattern(3000));
  TBufferedStream buffered(inner);
  ASSERT_EQ(buffered.Seek(c.start, TSeekOrigin::soBeginning), c.start);
  EXPECT_EQ(buffered.Seek(c.offset, c.origin), c.want);
  EXPECT_EQ(buffered.Position(), c.want);
  std::uint8_t b = 0;
  EXPECT_EQ(buffered.Read(&b, 1), c.want < 3000 ? 1 : 0);
}

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

INSTANTIATE_TEST_SUITE_P(Table, BufferedStreamSeek, ::testing::Values(
  SeekCase{"past_end_from_start", 0, 3001, TSeekOrigin::soBeginning, 3000},
  SeekCase{"past_end_from_end", 0, 10, TSeekOrigin::soEnd, 3000},
  SeekCase{"past_end_from_current", 2990, 100, TSeekOrigin::soCurrent, 3000},
  SeekCase{"before_start_from_start", 500, -1, TSeekOrigin::soBeginning, 0},
  SeekCase{"before_start_from_current", 500, -501, TSeekOrigin::soCurrent, 0},
  SeekCase{"before_start_from_end", 0, -3001, TSeekOrigin::soEnd, 0},
  SeekCase{"exact_end", 0, 0, TSeekOrigin::soEnd, 3000},
  SeekCase{"inside_from_end", 0, -1, TSeekOrigin::soEnd, 2999},
  SeekCase{"overflowing_forward", 2000, kMax, TSeekOrigin::soCurrent, 3000},
  SeekCase{"overflowing_backward", 0, kMin, TSeekOrigin::soEnd, 0}),
  [](const auto &tc) { return std::string(tc.param.name); });

TEST(BufferedStream, DestroyingWritesThePendingBytes)
{
  TCountingStream inner(TBytes{});
  {
    TBufferedStream buffered(inner);
    ASSERT_EQ(buffered.Write("abc", 3), 3);
    ASSERT_EQ(buffered.Write("defg", 4), 4);
    EXPECT_EQ(buffered.GetSize(), 7);
    EXPECT_EQ(inner.Writes, 0);
  }
  EXPECT_EQ(AsText(inner.Inner.Data()), "abcdefg");
}

TEST(BufferedStream, ManySmallWritesArriveWhole)
{
  TMemoryStream inner(Pattern(100));
  const TBytes text = Pattern(5000);
  {
    TBufferedStream buffered(inner);
    ASSERT_EQ(buffered.Seek(40, TSeekOrigin::soBeginning), 40);
    for (std::size_t i = 0; i < text.size(); i += 7) {
      const auto n = static_cast<std::int64_t>(std::min<std::size_t>(7, text.size() - i));
      ASSERT_EQ(buffered.Write(text.data() + i, n), n);
    }
  }
  TBytes want = Pattern(100);
  want.resize(40);
  want.insert(want.end(), text.begin(), text.end());
  EXPECT_EQ(inner.Data(), want);
}

TEST(BufferedStream, PendingBytesThatCannotBeWrittenAreReported)
{
  const TBytes data = Pattern(4000);
  TReadMemoryStream readOnly(data.data(), static_cast<std::int64_t>(data.size()));
  TBufferedStream buffered(readOnly);
  ASSERT_EQ(buffered.Write("xyz", 3), 3);  // buffered: the refusal comes with the write-out
  EXPECT_EQ(buffered.Seek(3000, TSeekOrigin::soBeginning), -1);
  ASSERT_EQ(buffered.Write("xyz", 3), 3);
  EXPECT_FALSE(buffered.Flush());
}

// Random sequences of reads, writes, seeks and resizes through the buffer, each checked against
// the same operation on a plain memory stream, whose seeks are clamped the same way.
class BufferedStreamModel : public ::testing::TestWithParam<unsigned> {};

TEST_P(BufferedStreamModel, BehavesLikeAMemoryStream)
{
  std::mt19937 rng(GetParam());
  auto pick = [&](std::int64_t lo, std::int64_t hi) {
    return std::uniform_int_distribution<std::int64_t>(lo, hi)(rng);
  };
  auto length = [&]() -> std::int64_t {
    switch (pick(0, 3)) {
      case 0: return pick(1, 8);
      case 1: return pick(9, TBufferedStream::kBufferSize);
      case 2: return pick(TBufferedStream::kBufferSize - 2, TBufferedStream::kBufferSize + 2);
      default: return pick(TBufferedStream::kBufferSize + 1, 4000);
    }
  };

  const TBytes initial = Pattern(static_cast<std::size_t>(pick(0, 5000)));
  TMemoryStream model(initial);
  TMemoryStream inner(initial);
  const std::int64_t start = pick(0, model.GetSize());
  model.Seek(start, TSeekOrigin::soBeginning);
  inner.Seek(start, TSeekOrigin::soBeginning);
  std::string trail;
  {
    TBufferedStream buffered(inner);
    for (int step = 0; step < 400; ++step) {
      const std::int64_t op = pick(0, 9);
      if (op < 4) {
        const std::int64_t n = length();
        trail += "R" + std::to_string(n) + " ";
        TBytes want(static_cast<std::size_t>(n)), got(static_cast<std::size_t>(n));
        const std::int64_t wn = model.Read(want.data(), n);
        ASSERT_EQ(buffered.Read(got.data(), n), wn) << trail;
        ASSERT_EQ(0, std::memcmp(want.data(), got.data(), static_cast<std::size_t>(wn))) << trail;
      } else if (op < 7) {
        const std::int64_t n = length();
        trail += "W" + std::to_string(n) + " ";
        TBytes bytes(static_cast<std::size_t>(n));
        for (auto &b : bytes) b = static_cast<std::uint8_t>(pick(0, 255));
        model.Write(bytes.data(), n);
        ASSERT_EQ(buffered.Write(bytes.data(), n), n) << trail;
      } else if (op < 9) {
        const auto origin = static_cast<TSeekOrigin>(pick(0, 2));
        const std::int64_t offset = pick(-6000, 6000);
        trail += "S" + std::to_string(offset) + "/" + std::to_string(static_cast<int>(origin)) + " ";
        const std::int64_t target = ClampedSeekTarget(offset, origin, model.Position(), model.GetSize());
        model.Seek(target, TSeekOrigin::soBeginning);
        ASSERT_EQ(buffered.Seek(offset, origin), target) << trail;
      } else {
        // Resizing leaves the position at the new end.
        const std::int64_t n = pick(0, model.GetSize() + 2000);
        trail += "Z" + std::to_string(n) + " ";
        model.SetSize(n);
        model.Seek(n, TSeekOrigin::soBeginning);
        ASSERT_TRUE(buffered.SetSize(n)) << trail;
      }
      ASSERT_EQ(buffered.Position(), model.Position()) << trail;
      ASSERT_EQ(buffered.GetSize(), model.GetSize()) << trail;
    }
  }
  EXPECT_EQ(inner.Data(), model.Data()) << trail;
}

INSTANTIATE_TEST_SUITE_P(Seeds, BufferedStreamModel, ::testing::Range(1u, 41u));

} // namespace
