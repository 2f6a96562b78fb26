#include "tags/streams/read_view.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tags/streams/file_io.h"
#include "tests/support/test_support.h"

namespace {

// Bytes whose value tells their offset, so that a byte read from a wrong place shows.
Bytes8 Numbered(std::size_t Size)
{
  Bytes8 b(Size);
  for (std::size_t i = 0; i < Size; ++i) b[i] = static_cast<std::uint8_t>((i * 7 + i / 251) & 0xFF);
  return b;
}

bool HoldsFileBytes(TReadView &View, const Bytes8 &File, std::int64_t Pos, std::int64_t Count)
{
  ByteReader r;
  if (!View.Range(Pos, Count, r)) return false;
  return std::equal(r.Data(), r.Data() + r.Size(), File.begin() + Pos);
}

TEST(ReadView, SmallFileIsReadWholeInOneRead)
{
  TempDir dir;
  const Bytes8 file = Numbered(3000);
  auto view = TReadView::OpenFile(dir.Write("small.bin", file));
  ASSERT_TRUE(view);
  EXPECT_EQ(view->GetSize(), 3000);
  EXPECT_EQ(view->ReadCalls(), 1);
  EXPECT_TRUE(HoldsFileBytes(*view, file, 0, 3000));
  EXPECT_TRUE(HoldsFileBytes(*view, file, 2990, 10));
  ByteReader r;
  EXPECT_FALSE(view->Range(2990, 11, r));
  EXPECT_FALSE(view->RangeUpTo(3000, 5, r));
  ASSERT_TRUE(view->RangeUpTo(2990, 100, r));
  EXPECT_EQ(r.Size(), 10u);
  EXPECT_EQ(view->ReadCalls(), 1);
}

TEST(ReadView, LargeFileHoldsHeadAndTailAndReadsOnlyWhatIsMissing)
{
  TempDir dir;
  const std::size_t size = 1 << 20;
  const Bytes8 file = Numbered(size);
  auto view = TReadView::OpenFile(dir.Write("large.bin", file));
  ASSERT_TRUE(view);
  EXPECT_EQ(view->ReadCalls(), 2);
  EXPECT_TRUE(view->Holds(0, TReadView::kHeadBytes));
  EXPECT_TRUE(view->Holds(static_cast<std::int64_t>(size) - TReadView::kTailBytes, TReadView::kTailBytes));
  EXPECT_FALSE(view->Holds(500000, 10));

  // A range in the middle costs one read, and small ranges behind it come from the read-ahead.
  EXPECT_TRUE(HoldsFileBytes(*view, file, 500000, 10));
  EXPECT_TRUE(HoldsFileBytes(*view, file, 500010, 4000));
  EXPECT_EQ(view->ReadCalls(), 3);
  // A range that spans the head's end and more reads only the missing part and stays one piece.
  EXPECT_TRUE(HoldsFileBytes(*view, file, TReadView::kHeadBytes - 100, 40000));
  EXPECT_EQ(view->ReadCalls(), 4);
  EXPECT_TRUE(HoldsFileBytes(*view, file, 0, TReadView::kHeadBytes + 39900));

  // The stream form reads the same bytes.
  TBytes out;
  ASSERT_TRUE(view->ReadAt(123456, 1000, out));
  EXPECT_TRUE(std::equal(out.begin(), out.end(), file.begin() + 123456));
  EXPECT_EQ(view->Position(), 124456);
  EXPECT_EQ(view->Write("x", 1), 0);
  EXPECT_FALSE(view->SetSize(10));
}

TEST(ReadView, FileThatShrankEndsWhereItsDataEnds)
{
  TempDir dir;
  const std::size_t size = 1 << 20;
  const Bytes8 file = Numbered(size);
  const std::string path = dir.Write("shrinks.bin", file);
  auto view = TReadView::OpenFile(path);
  ASSERT_TRUE(view);
  ASSERT_EQ(::truncate(path.c_str(), 300000), 0);

  ByteReader r;
  EXPECT_FALSE(view->Range(299990, 100, r));
  EXPECT_EQ(view->GetSize(), 300000);
  // What is there is still the file's; nothing behind the new end is offered.
  EXPECT_TRUE(HoldsFileBytes(*view, file, 299990, 10));
  EXPECT_FALSE(view->Range(static_cast<std::int64_t>(size) - 10, 10, r));
  std::uint8_t buf[64];
  ASSERT_TRUE(view->SetPosition(299980));
  EXPECT_EQ(view->Read(buf, sizeof buf), 20);
}

TEST(ReadView, ViewOverStreamReadsOnDemand)
{
  const Bytes8 file = Numbered(200000);
  TReadMemoryStream source(file.data(), static_cast<std::int64_t>(file.size()));
  TReadView view(source);
  EXPECT_EQ(view.ReadCalls(), 0);
  EXPECT_FALSE(view.Identity());
  EXPECT_TRUE(HoldsFileBytes(view, file, 150000, 100));
  EXPECT_EQ(view.ReadCalls(), 1);
}

TEST(ReadView, MissingOrSpecialFilesAreRefused)
{
  TempDir dir;
  int error = 0;
  EXPECT_FALSE(TReadView::OpenFile(dir.Path() + "/none.mp3", &error));
  EXPECT_EQ(error, ENOENT);
  EXPECT_FALSE(TReadView::OpenFile(dir.Path(), &error));
  const std::string fifo = dir.Path() + "/pipe.mp3";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(TReadView::OpenFile(fifo, &error));
  EXPECT_EQ(error, EINVAL);
}

TEST(FileRange, IsReadOnlyFromTheSameFile)
{
  TempDir dir;
  const Bytes8 file = Numbered(100000);
  const std::string path = dir.Write("range.bin", file);
  auto view = TReadView::OpenFile(path);
  ASSERT_TRUE(view);
  const TFileRange range{view->Identity(), 70000, 20000};
  TBytes out;
  ASSERT_TRUE(ReadFileRange(range, out));
  EXPECT_TRUE(std::equal(out.begin(), out.end(), file.begin() + 70000));

  // Beyond the file as it was loaded: refused.
  EXPECT_FALSE(ReadFileRange(TFileRange{view->Identity(), 90000, 20000}, out));
  EXPECT_TRUE(out.empty());

  // Rewritten in place (same size, even with the old modification time put back): the change
  // time tells, and the range is refused rather than read from other bytes.
  struct timespec modified {};
  ASSERT_TRUE(GetFileModTime(path, modified));
  Bytes8 changed = file;
  changed[75000] ^= 0xFF;
  WriteFileBytes(path, changed);
  ASSERT_TRUE(SetFileModTime(path, modified));
  std::string why;
  EXPECT_FALSE(ReadFileRange(range, out, &why));
  EXPECT_FALSE(why.empty());

  // Replaced by another file of the same name: refused too.
  const std::string other = dir.Write("other.bin", file);
  ASSERT_EQ(::rename(other.c_str(), path.c_str()), 0);
  EXPECT_FALSE(ReadFileRange(range, out));
  ::unlink(path.c_str());
  EXPECT_FALSE(ReadFileRange(range, out));
}

} // namespace
