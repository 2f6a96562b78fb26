#include "tests/support/write_faults.h"

#include <gtest/gtest.h>

#include "tags/streams/file_io.h"
#include "tests/support/test_support.h"

void SetPlannedFileSteps(TWriteFailureSteps &Steps, const std::string &Folder, const std::string &Path,
                         const TBytes &Old, const TRewritePlan &Plan)
{
  Steps.Save = [&Path, &Plan] {
    auto file = TFileStream::Open(Path, TFileMode::fmOpenReadWrite);
    return file && ApplyPlanToFile(Path, *file, Plan) == rwOk && file->Close();
  };
  Steps.CheckIntact = [&Folder, &Path, &Old](int) {
    ASSERT_EQ(ReadFileBytes(Path), Old);
    EXPECT_EQ(FolderEntries(Folder).size(), 1u);
  };
}

TWriteFailureRun RunFailingEachPlannedWrite(const std::string &Folder, const std::string &Fixture, const std::string &As,
                                            const std::function<void(const std::string &Path, TRewritePlan &Plan)> &MakePlan,
                                            std::string *Path)
{
  const std::string path = Folder + "/" + (As.empty() ? Fixture.substr(Fixture.find_last_of('/') + 1) : As);
  TBytes old;
  TRewritePlan plan;
  TWriteFailureSteps steps;
  steps.Prepare = [&] {
    const Bytes8 fixture = ReadFileBytes(FixturePath(Fixture));
    WriteFileBytes(path, fixture);
    old = fixture;
    plan = TRewritePlan();
    MakePlan(path, plan);
  };
  SetPlannedFileSteps(steps, Folder, path, old, plan);
  const TWriteFailureRun run = RunFailingEachWriteInTurn(steps);
  if (Path) *Path = path;
  return run;
}

TWriteFailureRun RunFailingEachWriteInTurn(const TWriteFailureSteps &Steps)
{
  struct TDisarm {
    ~TDisarm() { TWriteFaults::Reset(); }
  } disarm;
  TWriteFailureRun run;
  for (int n = 1; n <= Steps.Limit; ++n) {
    SCOPED_TRACE(::testing::Message() << "the write-like operation made to fail: " << n);
    if (Steps.Prepare) {
      Steps.Prepare();
      if (::testing::Test::HasFatalFailure()) return run;
    }
    TWriteFaults::FailNth(n);
    const bool saved = Steps.Save();
    const int operations = TWriteFaults::OperationsSoFar();
    TWriteFaults::Reset();
    const bool reached = operations >= n;
    if (!reached) {
      EXPECT_TRUE(saved) << "the save failed although no injected failure reached it (" << operations
                         << " write-like operations)";
      run.Succeeded = saved;
      return run;
    }
    if (saved) {
      ADD_FAILURE() << "a failure of write-like operation " << n << " was reported as success";
      return run;
    }
    ++run.Failures;
    if (Steps.CheckIntact) Steps.CheckIntact(n);
    if (::testing::Test::HasFatalFailure()) return run;
  }
  ADD_FAILURE() << "the save did not complete within " << Steps.Limit << " write-like operations";
  return run;
}
