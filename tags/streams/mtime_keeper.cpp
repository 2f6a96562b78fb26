#include "tags/streams/mtime_keeper.h"

TModTimeKeeper::TModTimeKeeper(std::string FileName, bool Keep) : FFileName(std::move(FileName))
{
  FKeep = Keep && GetFileModTime(FFileName, FTime);
}

TModTimeKeeper::TModTimeKeeper(std::string FileName, bool Keep, const TFileFacts &Facts)
  : FFileName(std::move(FileName)), FTime(Facts.ModTime), FKeep(Keep && Facts.Exists)
{
}

TModTimeKeeper::~TModTimeKeeper()
{
  // Setting the time of a missing path fails by itself: nothing is created.
  if (FKeep) SetFileModTime(FFileName, FTime);
}
