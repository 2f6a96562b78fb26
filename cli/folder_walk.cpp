#include "cli/folder_walk.h"

#include "app/service/audio_tag.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <set>
#include <sys/stat.h>
#include <utility>

#include "tags/streams/file_io.h"
#include "tags/text/text.h"

namespace {

using TFolderId = std::pair<dev_t, ino_t>;

std::string JoinPath(const std::string &Folder, const std::string &Name)
{
  if (!Folder.empty() && Folder.back() == '/') return Folder + Name;
  return Folder + "/" + Name;
}

bool ListFolder(const std::string &Folder, std::vector<std::string> &Names, int &Error)
{
  DIR *dir = ::opendir(Folder.c_str());
  if (!dir) {
    Error = errno;
    return false;
  }
  errno = 0;
  while (const dirent *e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") Names.push_back(name);
    errno = 0;
  }
  Error = errno;
  ::closedir(dir);
  std::sort(Names.begin(), Names.end());
  return Error == 0;
}

void Walk(const std::string &Folder, int Depth, std::set<TFolderId> &Seen, std::vector<std::string> &Files,
          std::vector<std::string> &Warnings)
{
  struct stat st {};
  if (::stat(Folder.c_str(), &st) != 0) {
    Warnings.push_back(Folder + ": " + ErrnoText(errno));
    return;
  }
  if (!Seen.insert({st.st_dev, st.st_ino}).second) return;
  if (Depth > kMaxFolderDepth) {
    Warnings.push_back(Folder + ": folders nested too deeply; not walked");
    return;
  }
  std::vector<std::string> names;
  int error = 0;
  if (!ListFolder(Folder, names, error)) {
    Warnings.push_back(Folder + ": " + ErrnoText(error));
    if (names.empty()) return;
  }
  for (const std::string &name : names) {
    const std::string path = JoinPath(Folder, name);
    struct stat entry {};
    if (::stat(path.c_str(), &entry) != 0) {
      // A dangling link or an entry gone since the listing: only worth a word if it looked
      // like an audio file.
      if (IsScannedAudioFileName(name)) Warnings.push_back(path + ": " + ErrnoText(errno));
      continue;
    }
    if (S_ISDIR(entry.st_mode))
      Walk(path, Depth + 1, Seen, Files, Warnings);
    else if (S_ISREG(entry.st_mode) && IsScannedAudioFileName(name))
      Files.push_back(path);
  }
}

} // namespace

void CollectAudioFiles(const std::string &Folder, std::vector<std::string> &Files, std::vector<std::string> &Warnings)
{
  std::set<TFolderId> seen;
  Walk(Folder, 0, seen, Files, Warnings);
}
