#include "app/file_scanner.h"

#include "app/service/audio_tag.h"

#include <QMetaObject>

#include <array>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tags/text/text.h"

namespace {


enum class TEntryKind { Other, Directory, RegularFile, Link };

TEntryKind KindFromMode(mode_t Mode)
{
  if (S_ISDIR(Mode)) return TEntryKind::Directory;
  if (S_ISREG(Mode)) return TEntryKind::RegularFile;
  if (S_ISLNK(Mode)) return TEntryKind::Link;
  return TEntryKind::Other;
}

TEntryKind KindFromDirent(unsigned char Type, const std::string &Path)
{
  switch (Type) {
  case DT_DIR: return TEntryKind::Directory;
  case DT_REG: return TEntryKind::RegularFile;
  case DT_LNK: return TEntryKind::Link;
  case DT_UNKNOWN: {
    // Some file systems do not report the type in the listing.
    struct stat st {};
    if (::lstat(Path.c_str(), &st) != 0) return TEntryKind::Other;
    return KindFromMode(st.st_mode);
  }
  default: return TEntryKind::Other;
  }
}

// Opens a folder for listing. Below the root a folder that has become a link since it was
// listed is refused, so a walk never leaves the tree it was given.
DIR *OpenFolder(const std::string &Path, bool FollowLink)
{
  int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  if (!FollowLink) flags |= O_NOFOLLOW;
  const int fd = ::open(Path.c_str(), flags);
  if (fd < 0) return nullptr;
  DIR *dir = ::fdopendir(fd);
  if (!dir) ::close(fd);
  return dir;
}

// Marks the pending hand-over as run even when its callback throws, so the worker is never
// left waiting.
struct TServedGuard {
  std::function<void()> Done;
  ~TServedGuard() { Done(); }
};

} // namespace

TFileScanner::TFileScanner(std::string ARoot, TScanProgressEvent AOnProgress, TScanFinishedEvent AOnFinished)
  : FRoot(std::move(ARoot)), FOnProgress(std::move(AOnProgress)), FOnFinished(std::move(AOnFinished))
{
}

TFileScanner::~TFileScanner()
{
  Terminate();
  WaitFor();
}

bool TFileScanner::IsAudioFileName(std::string_view Name)
{
  return IsScannedAudioFileName(Name);
}

void TFileScanner::run()
{
  if (!FRoot.empty()) DoScan(FRoot);
  if (FOnFinished) HandOver(THandOver::Finished, std::string());
  std::lock_guard lock(FLock);
  FWorkerDone = true;
  FChanged.notify_all();
}

void TFileScanner::DoScan(const std::string &Folder)
{
  if (StopRequested()) return;
  std::string path = Folder;
  if (path.back() != '/') path += '/';
  DIR *dir = OpenFolder(path, Folder == FRoot);
  if (!dir) return;

  // The listing is read whole and closed before descending, so the walk holds one open
  // folder at a time however deep the tree is.
  struct TEntry {
    std::string Name;
    unsigned char Type;
  };
  std::vector<TEntry> entries;
  while (!StopRequested()) {
    errno = 0;
    const dirent *e = ::readdir(dir);
    if (!e) break;
    const std::string_view name(e->d_name);
    if (name == "." || name == "..") continue;
    entries.push_back({std::string(name), e->d_type});
  }
  ::closedir(dir);

  for (const TEntry &entry : entries) {
    if (StopRequested()) return;
    const std::string full = path + entry.Name;
    const TEntryKind kind = KindFromDirent(entry.Type, full);
    if (kind == TEntryKind::Directory) {
      DoScan(full);
      continue;
    }
    if (!IsAudioFileName(entry.Name)) continue;
    if (kind == TEntryKind::Link) {
      // A link to a file is taken like the file; links to folders and anything else are not.
      struct stat st {};
      if (::stat(full.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    } else if (kind != TEntryKind::RegularFile) {
      continue;
    }
    FFiles.push_back(full);
    if (FOnProgress) HandOver(THandOver::Progress, full);
  }
}

void TFileScanner::HandOver(THandOver Kind, const std::string &FileName)
{
  std::unique_lock lock(FLock);
  FPendingKind = Kind;
  FPendingFile = FileName;
  FPendingServed = false;
  QMetaObject::invokeMethod(&FDelivery, [this] { ServePending(); }, Qt::QueuedConnection);
  // Wakes a WaitFor that serves hand-overs while the owner stops the scan.
  FChanged.notify_all();
  FChanged.wait(lock, [this] { return FPendingServed; });
}

void TFileScanner::ServePending()
{
  THandOver kind;
  std::string file;
  {
    std::lock_guard lock(FLock);
    kind = FPendingKind;
    if (kind == THandOver::None) return;
    file = std::move(FPendingFile);
    FPendingKind = THandOver::None;
  }
  FInCallback = true;
  TServedGuard guard{[this] {
    FInCallback = false;
    std::lock_guard lock(FLock);
    FPendingServed = true;
    FChanged.notify_all();
  }};
  if (kind == THandOver::Progress)
    FOnProgress(file);
  else
    FOnFinished();
}

bool TFileScanner::WaitFor()
{
  if (FInCallback) return false;
  {
    std::unique_lock lock(FLock);
    for (;;) {
      if (FPendingKind != THandOver::None) {
        lock.unlock();
        ServePending();
        lock.lock();
        continue;
      }
      if (FWorkerDone || !isRunning()) break;
      FChanged.wait(lock);
    }
  }
  wait();
  return true;
}
