#include "tags/streams/rewrite_plan.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

Bytes8 Pattern(std::size_t Size)
{
  Bytes8 b(Size);
  for (std::size_t i = 0; i < Size; ++i) b[i] = static_cast<std::uint8_t>((i * 7 + i / 251) & 0xFF);
  return b;
}

Bytes8 Slice(const Bytes8 &B, std::size_t From, std::size_t To)
{
  return Bytes8(B.begin() + static_cast<std::ptrdiff_t>(From), B.begin() + static_cast<std::ptrdiff_t>(To));
}

std::size_t FilesIn(const std::string &Folder)
{
  std::size_t n = 0;
  for ([[maybe_unused]] const auto &e : fs::directory_iterator(Folder)) ++n;
  return n;
}

// What a plan applied to Old gives, computed without the stream code.
Bytes8 Expected(const Bytes8 &Old, const TRewritePlan &Plan)
{
  if (Plan.InPlace) {
    Bytes8 out = Slice(Old, 0, static_cast<std::size_t>(Plan.PatchOffset));
    out.insert(out.end(), Plan.Patch.begin(), Plan.Patch.end());
    if (!Plan.PatchEndsFile && out.size() < Old.size()) out.insert(out.end(), Old.begin() + static_cast<std::ptrdiff_t>(out.size()), Old.end());
    return out;
  }
  Bytes8 out;
  for (const auto &p : Plan.Pieces) {
    if (p.Literal) out.insert(out.end(), p.Bytes.begin(), p.Bytes.end());
    else out.insert(out.end(), Old.begin() + p.From, Old.begin() + p.From + p.Count);
  }
  return out;
}

struct PlanCase {
  const char *name;
  std::function<TRewritePlan()> make;
};

const Bytes8 kOld = Pattern(5000);

TRewritePlan InPlacePatch()
{
  TRewritePlan p;
  p.SetInPlace(100, Bytes8(300, 0xAA));
  return p;
}

TRewritePlan ShorterTail()
{
  TRewritePlan p;
  p.SetInPlace(4000, Bytes8(10, 0xBB), true);
  return p;
}

TRewritePlan LongerTail()
{
  TRewritePlan p;
  p.SetInPlace(4900, Bytes8(3000, 0xCC), true);
  return p;
}

TRewritePlan EmptyTail()
{
  TRewritePlan p;
  p.SetInPlace(4872, {}, true);
  return p;
}

TRewritePlan Rebuild()
{
  TRewritePlan p;
  p.AddLiteral(Bytes8(2000, 0xDD));
  p.AddCopy(10, 4990, {{20, {1, 2, 3, 4}}, {4000, {9}}});
  return p;
}

class RewritePlanApply : public ::testing::TestWithParam<PlanCase> {
protected:
  void TearDown() override { TWriteFaults::Reset(); }
};

TEST_P(RewritePlanApply, OnAStreamGivesThePlannedContent)
{
  const TRewritePlan plan = GetParam().make();
  TMemoryStream s(kOld);
  ASSERT_EQ(ApplyPlanToStream(s, plan), rwOk);
  EXPECT_EQ(s.Data(), Expected(kOld, plan));
  if (!plan.InPlace) { EXPECT_EQ(static_cast<std::int64_t>(s.Data().size()), plan.RebuiltSize()); }
}

// Every write, truncation, sync and rename made to fail in turn: each failure is reported and
// leaves the file byte-identical with no temporary file beside it; the run that no failure
// reaches gives the planned content.
TEST_P(RewritePlanApply, OnAFileEveryFailureLeavesItByteIdentical)
{
  const TRewritePlan plan = GetParam().make();
  TempDir dir;
  for (int n = 1; n < 50; ++n) {
    SCOPED_TRACE(n);
    const std::string path = dir.Write("f.bin", kOld);
    TRewriteResult rc = rwReadFailed;
    TWriteFaults::FailNth(n);
    {
      auto file = TFileStream::Open(path, TFileMode::fmOpenReadWrite);
      ASSERT_NE(file, nullptr);
      rc = ApplyPlanToFile(path, *file, plan);
    }
    const int ops = TWriteFaults::OperationsSoFar();
    TWriteFaults::Reset();
    EXPECT_EQ(FilesIn(dir.Path()), 1u);
    if (ops < n) {
      EXPECT_EQ(rc, rwOk);
      EXPECT_EQ(ReadFileBytes(path), Expected(kOld, plan));
      return;
    }
    EXPECT_EQ(rc, rwWriteFailed);
    EXPECT_EQ(ReadFileBytes(path), kOld);
  }
  FAIL() << "the plan never completed";
}

INSTANTIATE_TEST_SUITE_P(Plans, RewritePlanApply, ::testing::Values(
  PlanCase{"in_place", InPlacePatch}, PlanCase{"shorter_tail", ShorterTail}, PlanCase{"longer_tail", LongerTail},
  PlanCase{"tail_cut_off", EmptyTail}, PlanCase{"rebuild", Rebuild}),
  [](const auto &p) { return std::string(p.param.name); });

TEST(RewritePlan, CopiedFieldsOnlyWhollyInsideTheirRange)
{
  TRewritePlan p;
  p.AddCopy(0, 10, {{8, {1, 1, 1, 1}}, {2, {7, 7}}, {-1, {5}}});
  ASSERT_EQ(p.Pieces.size(), 3u);
  EXPECT_EQ(Expected(Pattern(20), p), (Bytes8{Pattern(20)[0], Pattern(20)[1], 7, 7, Pattern(20)[4], Pattern(20)[5],
                                              Pattern(20)[6], Pattern(20)[7], Pattern(20)[8], Pattern(20)[9]}));
  EXPECT_EQ(p.RebuiltSize(), 10);
  p.AddLiteral({});
  EXPECT_EQ(p.Pieces.size(), 3u);
}

TEST(RewritePlan, APatchOutsideTheContentIsRefusedBeforeAnyWrite)
{
  TMemoryStream s(Pattern(100));
  TRewritePlan past;
  past.SetInPlace(90, Bytes8(20, 1));  // would grow a file that must keep its size
  EXPECT_EQ(ApplyPlanToStream(s, past), rwReadFailed);
  TRewritePlan behind;
  behind.SetInPlace(101, {}, true);
  EXPECT_EQ(ApplyPlanToStream(s, behind), rwReadFailed);
  EXPECT_EQ(s.Data(), Pattern(100));

  TRewritePlan rebuild;
  rebuild.AddCopy(50, 150);
  EXPECT_EQ(ApplyPlanToStream(s, rebuild), rwReadFailed);
  EXPECT_EQ(s.Data(), Pattern(100));
}

TEST(RewritePlan, AStreamThatRefusesWritesIsAWriteFailure)
{
  const Bytes8 old = Pattern(64);
  TReadMemoryStream s(old.data(), static_cast<std::int64_t>(old.size()));
  TRewritePlan patch;
  patch.SetInPlace(8, Bytes8(8, 1));
  EXPECT_EQ(ApplyPlanToStream(s, patch), rwWriteFailed);
  TRewritePlan rebuild;
  rebuild.AddCopy(0, 32);
  EXPECT_EQ(ApplyPlanToStream(s, rebuild), rwWriteFailed);
}

} // namespace
