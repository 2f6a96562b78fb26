#include "tags/streams/rewrite_plan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <random>

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
    Bytes8 out = Old;
    for (const auto &p : Plan.Patches) {
      const auto at = static_cast<std::size_t>(p.Offset);
      if (p.EndsFile) out.resize(at + p.Bytes.size());
      std::copy(p.Bytes.begin(), p.Bytes.end(), out.begin() + static_cast<std::ptrdiff_t>(at));
    }
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

// Two writers' plans against the same content, joined: a tag rewritten in place at the start and
// a tail that grows the file, or a start that grows (a rebuild) and a tail replaced.
TRewritePlan Composed(TRewritePlan Start, TRewritePlan Tail)
{
  TRewritePlan joined;
  const TRewritePlan both[] = {std::move(Tail), std::move(Start)};
  EXPECT_TRUE(ComposePlans(static_cast<std::int64_t>(kOld.size()), both, joined));
  return joined;
}

TRewritePlan StartAndTailInPlace() { return Composed(InPlacePatch(), LongerTail()); }

TRewritePlan StartRebuiltAndTail()
{
  TRewritePlan start;
  start.AddLiteral(Bytes8(700, 0xEE));
  start.AddCopy(400, 5000);
  return Composed(std::move(start), ShorterTail());
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
  PlanCase{"tail_cut_off", EmptyTail}, PlanCase{"rebuild", Rebuild},
  PlanCase{"start_and_tail_in_place", StartAndTailInPlace}, PlanCase{"start_rebuilt_and_tail", StartRebuiltAndTail}),
  [](const auto &p) { return std::string(p.param.name); });

TEST(RewritePlan, JoinedPlansGiveWhatEachGivesOnItsOwnPart)
{
  const TRewritePlan inPlace = StartAndTailInPlace();
  ASSERT_TRUE(inPlace.InPlace);
  ASSERT_EQ(inPlace.Patches.size(), 2u);
  Bytes8 want = Slice(kOld, 0, 100);
  want.insert(want.end(), 300, 0xAA);
  want.insert(want.end(), kOld.begin() + 400, kOld.begin() + 4900);
  want.insert(want.end(), 3000, 0xCC);
  EXPECT_EQ(Expected(kOld, inPlace), want);

  const TRewritePlan rebuilt = StartRebuiltAndTail();
  ASSERT_FALSE(rebuilt.InPlace);
  want.assign(700, 0xEE);
  want.insert(want.end(), kOld.begin() + 400, kOld.begin() + 4000);
  want.insert(want.end(), 10, 0xBB);
  EXPECT_EQ(Expected(kOld, rebuilt), want);
  EXPECT_EQ(rebuilt.RebuiltSize(), static_cast<std::int64_t>(want.size()));

  // A plan that changes nothing is left out; alone it gives a plan that changes nothing.
  TRewritePlan none;
  const TRewritePlan justNothing[] = {TRewritePlan{}};
  ASSERT_TRUE(ComposePlans(100, justNothing, none));
  EXPECT_TRUE(none.ChangesNothing());
}

TEST(RewritePlan, PlansThatMeetAreNotJoined)
{
  TRewritePlan overlap;
  overlap.SetInPlace(4800, Bytes8(150, 1));  // runs into the tail that ShorterTail replaces from 4000
  TRewritePlan insertA, insertB;
  insertA.AddCopy(0, 10);
  insertA.AddLiteral(Bytes8(3, 1));
  insertA.AddCopy(10, 5000);
  insertB = insertA;  // two insertions at the same offset: no order of them is right
  TRewritePlan outside;
  outside.SetInPlace(4990, Bytes8(20, 1));
  const struct {
    const char *name;
    std::vector<TRewritePlan> plans;
  } cases[] = {
    {"overlap", {ShorterTail(), overlap}},
    {"same_insertion_point", {insertA, insertB}},
    {"outside_the_content", {outside}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    TRewritePlan out = InPlacePatch();
    EXPECT_FALSE(ComposePlans(static_cast<std::int64_t>(kOld.size()), c.plans, out));
    EXPECT_EQ(out.Patches.size(), 1u);  // untouched
  }
}

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

// A memory stream whose Nth write stores only half of its bytes, and whose next write fails:
// a write that stops half-way. Later writes succeed again.
class TStreamFailingOneWrite : public TMemoryStream {
public:
  TStreamFailingOneWrite(Bytes8 Content, int FailingWrite) : TMemoryStream(std::move(Content)), FLeft(FailingWrite) {}
  std::int64_t Write(const void *Buffer, std::int64_t Count) override
  {
    --FLeft;
    if (FLeft == 0 && Count > 1) return TMemoryStream::Write(Buffer, Count / 2);
    if (FLeft == -1) return 0;
    return TMemoryStream::Write(Buffer, Count);
  }

private:
  int FLeft;
};

// Every case, with each write in turn failing half-way: the stream ends as it was or as planned.
TEST(RewritePlan, AStreamWriteThatFailsHalfWayIsUndone)
{
  for (const auto &make : {Rebuild, StartRebuiltAndTail, StartAndTailInPlace, LongerTail}) {
    const TRewritePlan plan = make();
    for (int n = 1; n <= 3; ++n) {
      SCOPED_TRACE(n);
      TStreamFailingOneWrite s(kOld, n);
      const TRewriteResult rc = ApplyPlanToStream(s, plan);
      EXPECT_EQ(s.Data(), rc == rwOk ? Expected(kOld, plan) : kOld);
    }
  }
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

// Random changes of random content, dealt out to two or three writers whose plans take either
// form (a rebuild, or patches in place where the change allows it): joined, they give what the
// changes give when made one by one, on a stream and on a file.
TEST(RewritePlan, JoinedRandomPlansGiveWhatTheirChangesGive)
{
  std::mt19937 random(20261210);
  const auto below = [&](std::int64_t N) { return static_cast<std::int64_t>(random() % static_cast<std::uint32_t>(N)); };
  struct TChange {
    std::int64_t From, To;
    Bytes8 Bytes;
  };
  TempDir dir;
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE(round);
    const Bytes8 old = Pattern(static_cast<std::size_t>(1 + below(3000)));
    const auto size = static_cast<std::int64_t>(old.size());
    // Changes that neither overlap nor insert at one place twice.
    std::vector<TChange> changes;
    for (std::int64_t pos = below(50); pos <= size && changes.size() < 6; pos += 1 + below(size / 3 + 1)) {
      const std::int64_t to = std::min(size, pos + below(40));
      const bool keepSize = below(2) == 0;
      changes.push_back({pos, to, Bytes8(static_cast<std::size_t>(keepSize ? to - pos : below(60)), static_cast<std::uint8_t>(round))});
      pos = to;
    }
    Bytes8 want;
    std::int64_t at = 0;
    for (const TChange &c : changes) {
      want.insert(want.end(), old.begin() + at, old.begin() + c.From);
      want.insert(want.end(), c.Bytes.begin(), c.Bytes.end());
      at = c.To;
    }
    want.insert(want.end(), old.begin() + at, old.end());

    std::vector<std::vector<TChange>> writers(static_cast<std::size_t>(2 + below(2)));
    for (const TChange &c : changes) writers[static_cast<std::size_t>(below(static_cast<std::int64_t>(writers.size())))].push_back(c);
    std::vector<TRewritePlan> plans;
    for (const auto &mine : writers) {
      TRewritePlan plan;
      const bool fitsInPlace = std::all_of(mine.begin(), mine.end(), [&](const TChange &c) {
        return c.To - c.From == static_cast<std::int64_t>(c.Bytes.size()) || (c.To == size && &c == &mine.back());
      });
      if (!mine.empty() && fitsInPlace && below(2) == 0) {
        plan.InPlace = true;
        for (const TChange &c : mine)
          plan.Patches.push_back({c.From, c.Bytes, c.To == size && c.To - c.From != static_cast<std::int64_t>(c.Bytes.size())});
      } else if (!mine.empty()) {
        std::int64_t pos = 0;
        for (const TChange &c : mine) {
          plan.AddCopy(pos, c.From);
          plan.AddLiteral(c.Bytes);
          pos = c.To;
        }
        plan.AddCopy(pos, size);
      }
      plans.push_back(std::move(plan));
    }
    TRewritePlan joined;
    ASSERT_TRUE(ComposePlans(size, plans, joined));
    TMemoryStream stream(old);
    ASSERT_EQ(ApplyPlanToStream(stream, joined), rwOk);
    EXPECT_EQ(stream.Data(), want);
    if (round % 30 == 0) {
      const std::string path = dir.Write("random.bin", old);
      auto file = TFileStream::Open(path, TFileMode::fmOpenReadWrite);
      ASSERT_NE(file, nullptr);
      ASSERT_EQ(ApplyPlanToFile(path, *file, joined), rwOk);
      EXPECT_EQ(ReadFileBytes(path), want);
    }
  }
}

} // namespace

TEST(RewritePlan, AChangeInFrontOfAKnownTailIsMadeInPlace)
{
  // A tag that grows in front of the last 500 bytes, whose old bytes its writer hands over, and
  // a writer of the last 128 bytes.
  TRewritePlan front;
  front.AddCopy(0, 3000);
  front.AddLiteral(Bytes8(700, 0xAA));
  front.AddCopy(4500, 5000);
  front.KnownTailFrom = 4500;
  front.KnownTail = Bytes8(kOld.begin() + 4500, kOld.end());
  TRewritePlan record;
  record.SetInPlace(4872, Bytes8(128, 0xCC), true);
  TRewritePlan frontOfStart;  // a change of size further up, where no known bytes follow
  frontOfStart.AddCopy(0, 10);
  frontOfStart.AddLiteral(Bytes8(5, 0xEE));
  frontOfStart.AddCopy(10, 5000);

  const struct {
    const char *name;
    std::vector<TRewritePlan> plans;
    bool inPlace;
  } cases[] = {
    {"alone", {front}, true},
    {"with_the_record", {front, record}, true},
    {"record_and_a_change_at_the_start", {front, record, frontOfStart}, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    // What the plans give, each on its own part.
    Bytes8 want(kOld.begin(), kOld.begin() + 3000);
    if (c.plans.size() > 2) want.insert(want.begin() + 10, 5, 0xEE);
    want.insert(want.end(), 700, 0xAA);
    want.insert(want.end(), kOld.begin() + 4500, kOld.begin() + (c.plans.size() > 1 ? 4872 : 5000));
    if (c.plans.size() > 1) want.insert(want.end(), 128, 0xCC);

    TRewritePlan out;
    ASSERT_TRUE(ComposePlans(static_cast<std::int64_t>(kOld.size()), c.plans, out));
    EXPECT_EQ(out.InPlace, c.inPlace);
    if (c.inPlace) {
      // One write from the change on, which ends the file; nothing in front of it is written.
      ASSERT_EQ(out.Patches.size(), 1u);
      EXPECT_EQ(out.Patches[0].Offset, 3000);
      EXPECT_TRUE(out.Patches[0].EndsFile);
    }
    EXPECT_EQ(Expected(kOld, out), want);
  }
}
