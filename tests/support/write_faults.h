#pragma once
// The every-N write-failure check: a save is run again and again with the Nth write-like
// operation (write, truncate, fsync, rename, copy; see TWriteFaults in tags/streams/file_io.h)
// made to fail, for N = 1, 2, ... until a run that no injected failure reached. That proves each
// step of a save on its own: whichever one fails, the caller's check finds the original intact.

#include <functional>
#include <string>

#include "tags/streams/rewrite_plan.h"

struct TWriteFailureRun {
  int Failures = 0;        // runs that an injected failure reached, each reported as a failure
  bool Succeeded = false;  // the last run, which no injected failure reached, succeeded
};

struct TWriteFailureSteps {
  // Sets up a run (a fresh file, a freshly loaded tag) with no failure armed; may be empty.
  std::function<void()> Prepare;
  // The save; true when it reports success.
  std::function<bool()> Save;
  // Checks, after a run that failed at operation N, that the original is intact and nothing
  // is left beside it.
  std::function<void(int N)> CheckIntact;
  // No save takes more write-like operations than this.
  int Limit = 200;
};

// Save and CheckIntact for a change planned beforehand (Prepare sets the referenced values): Plan
// is applied to the file at Path; a failed run must leave Path holding Old as the only entry of
// Folder.
void SetPlannedFileSteps(TWriteFailureSteps &Steps, const std::string &Folder, const std::string &Path,
                         const TBytes &Old, const TRewritePlan &Plan);

// The every-N check of a change planned for a copy of a fixture: before each run the fixture is
// copied into Folder (named As, or its own name when As is empty) and MakePlan plans the change
// against the copy at Path; the plan is then applied with the Nth write-like operation failing,
// and a failed run must leave the copy as it was and alone in Folder. Path (when given) receives
// the copy the last run changed.
TWriteFailureRun RunFailingEachPlannedWrite(const std::string &Folder, const std::string &Fixture, const std::string &As,
                                            const std::function<void(const std::string &Path, TRewritePlan &Plan)> &MakePlan,
                                            std::string *Path = nullptr);

// Runs the steps for N = 1, 2, ...; faults are reported through GoogleTest with N in the message:
// a run that an injected failure reached but that reports success, a run that fails although no
// injected failure reached it, and a save that never completes within Limit. A fatal failure
// inside CheckIntact ends the loop. Failures are never left armed.
TWriteFailureRun RunFailingEachWriteInTurn(const TWriteFailureSteps &Steps);
