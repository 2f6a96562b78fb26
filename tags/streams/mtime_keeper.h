#pragma once
// TModTimeKeeper: puts a file's modification time back, to the nanosecond, when it goes out of
// scope, so that a save asked to preserve the file's date leaves it as it was on every way out
// (success, refusal or failure). The time is taken when the keeper is made: from a stat of the
// path, or from facts the writer already has from its one open. A keeper that is not asked to
// keep does nothing, and a file that is gone by then is not recreated.

#include <ctime>
#include <string>

#include "tags/streams/file_io.h"

class TModTimeKeeper {
public:
  TModTimeKeeper(std::string FileName, bool Keep);
  TModTimeKeeper(std::string FileName, bool Keep, const TFileFacts &Facts);
  ~TModTimeKeeper();
  TModTimeKeeper(const TModTimeKeeper &) = delete;
  TModTimeKeeper &operator=(const TModTimeKeeper &) = delete;

private:
  std::string FFileName;
  struct timespec FTime {};
  bool FKeep = false;
};
