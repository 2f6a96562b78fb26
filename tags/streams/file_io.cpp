#include "tags/streams/file_io.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <string_view>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "tags/text/text.h"

namespace {
std::atomic<int> gFailAt{0};
std::atomic<bool> gFailOnwards{false};
std::atomic<int> gFailErrno{EIO};
std::atomic<int> gOperations{0};

thread_local int gFileError = 0;

// What our temporary files add to the name they stand beside: "." before it, ".corvella-"
// and mkostemp's six characters after it.
constexpr std::string_view kTempMarker = ".corvella-";
constexpr std::size_t kTempUniqueChars = 6;
constexpr std::size_t kTempNameExtra = 1 + kTempMarker.size() + kTempUniqueChars;

// Linux bounds the list of a file's extended-attribute names and each value to 64 KiB.
constexpr std::size_t kMaxXattrBytes = 65536;

} // namespace

void ClearFileError() { gFileError = 0; }
int FileError() { return gFileError; }
void NoteFileError(int Error)
{
  if (gFileError == 0) gFileError = Error;
}

std::string PathFolder(const std::string &Path)
{
  const auto slash = Path.find_last_of('/');
  if (slash == std::string::npos) return std::string();
  if (slash == 0) return "/";
  return Path.substr(0, slash);
}

std::string PathFileName(const std::string &Path)
{
  const auto slash = Path.find_last_of('/');
  return slash == std::string::npos ? Path : Path.substr(slash + 1);
}

std::string PathExtension(const std::string &Path)
{
  const std::string name = PathFileName(Path);
  const auto dot = name.find_last_of('.');
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

namespace TWriteFaults {
void FailNth(int N, int Errno)
{
  gOperations = 0;
  gFailAt = N;
  gFailOnwards = false;
  gFailErrno = Errno ? Errno : EIO;
}
void FailFrom(int N, int Errno)
{
  FailNth(N, Errno);
  gFailOnwards = true;
}
void Reset()
{
  gOperations = 0;
  gFailAt = 0;
  gFailOnwards = false;
  gFailErrno = EIO;
}
int OperationsSoFar() { return gOperations; }
bool ShouldFail()
{
  const int n = ++gOperations;
  const bool fail = gFailAt > 0 && (n == gFailAt || (gFailOnwards && n > gFailAt));
  if (fail) errno = gFailErrno;
  return fail;
}
} // namespace TWriteFaults

namespace {

void FactsFromStat(const struct stat &St, TFileFacts &Facts)
{
  Facts.Exists = S_ISREG(St.st_mode);
  Facts.ReadOnly = (St.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
  Facts.Size = St.st_size;
  Facts.ModTime = St.st_mtim;
}

} // namespace

bool StatFile(const std::string &FileName, TFileFacts &Facts)
{
  Facts = TFileFacts{};
  struct stat st {};
  if (FileName.empty() || ::stat(FileName.c_str(), &st) != 0) return false;
  FactsFromStat(st, Facts);
  return true;
}

int OpenRegularFile(const std::string &FileName, bool Writable, struct stat &St, int *Error)
{
  // Non-blocking, so that a FIFO under an audio file's name cannot stop us in open(); it is
  // refused below, and the flag does nothing to a regular file.
  const int fd = ::open(FileName.c_str(), (Writable ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (Error) *Error = errno;
    if (Writable) NoteFileError(errno);
    return -1;
  }
  St = {};
  if (::fstat(fd, &St) != 0 || !S_ISREG(St.st_mode)) {
    const int error = S_ISDIR(St.st_mode) ? EISDIR : EINVAL;
    if (Error) *Error = error;
    if (Writable) NoteFileError(error);
    ::close(fd);
    return -1;
  }
  return fd;
}

std::unique_ptr<TFileStream> TFileStream::Open(const std::string &FileName, TFileMode Mode, int *Error)
{
  TFileFacts facts;
  return Open(FileName, Mode, facts, Error);
}

std::unique_ptr<TFileStream> TFileStream::Open(const std::string &FileName, TFileMode Mode, TFileFacts &Facts, int *Error)
{
  Facts = TFileFacts{};
  struct stat st {};
  int error = 0;
  const int fd = OpenRegularFile(FileName, Mode != TFileMode::fmOpenRead, st, &error);
  if (fd < 0) {
    if (Error) *Error = error;
    // What the questions before a write need even when the file cannot be opened for writing
    // (a read-only file, for one).
    if (error != ENOENT) StatFile(FileName, Facts);
    return nullptr;
  }
  FactsFromStat(st, Facts);
  return std::make_unique<TFileStream>(fd, Mode != TFileMode::fmOpenRead);
}

TFileStream::~TFileStream() { Close(); }

bool TFileStream::Close()
{
  if (FFd < 0) return true;
  const int rc = ::close(FFd);
  FFd = -1;
  return rc == 0;
}

std::int64_t TFileStream::Read(void *Buffer, std::int64_t Count)
{
  if (FFd < 0 || Count <= 0) return 0;
  for (;;) {
    const ssize_t n = ::read(FFd, Buffer, static_cast<std::size_t>(Count));
    if (n < 0 && errno == EINTR) continue;
    return n < 0 ? 0 : n;
  }
}

std::int64_t TFileStream::Write(const void *Buffer, std::int64_t Count)
{
  if (FFd < 0 || !FWritable || Count <= 0) return 0;
  if (TWriteFaults::ShouldFail()) {
    NoteFileError(errno);
    return 0;
  }
  for (;;) {
    const ssize_t n = ::write(FFd, Buffer, static_cast<std::size_t>(Count));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) NoteFileError(errno);
    return n < 0 ? 0 : n;
  }
}

std::int64_t TFileStream::Seek(std::int64_t Offset, TSeekOrigin Origin)
{
  if (FFd < 0) return -1;
  const int whence = Origin == TSeekOrigin::soBeginning ? SEEK_SET : Origin == TSeekOrigin::soCurrent ? SEEK_CUR : SEEK_END;
  return ::lseek(FFd, Offset, whence);
}

std::int64_t TFileStream::GetSize()
{
  struct stat st {};
  if (FFd < 0 || ::fstat(FFd, &st) != 0) return -1;
  return st.st_size;
}

bool TFileStream::SetSize(std::int64_t NewSize)
{
  if (FFd < 0 || !FWritable || NewSize < 0) return false;
  if (TWriteFaults::ShouldFail() || ::ftruncate(FFd, NewSize) != 0) {
    NoteFileError(errno);
    return false;
  }
  // Like a stream of the other kinds, the position never stays past the end.
  if (Position() > NewSize) Seek(NewSize, TSeekOrigin::soBeginning);
  return true;
}

bool TFileStream::Sync()
{
  if (FFd < 0) return false;
  if (TWriteFaults::ShouldFail() || ::fsync(FFd) != 0) {
    NoteFileError(errno);
    return false;
  }
  return true;
}

bool FileExists(const std::string &FileName)
{
  struct stat st {};
  return !FileName.empty() && ::stat(FileName.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string &Path)
{
  struct stat st {};
  return !Path.empty() && ::stat(Path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::int64_t FileSizeOf(const std::string &FileName)
{
  struct stat st {};
  if (::stat(FileName.c_str(), &st) != 0) return -1;
  return st.st_size;
}

bool IsReadOnlyFile(const std::string &FileName)
{
  struct stat st {};
  return ::stat(FileName.c_str(), &st) == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

bool GetFileModTime(const std::string &FileName, struct timespec &Time)
{
  struct stat st {};
  if (::stat(FileName.c_str(), &st) != 0) return false;
  Time = st.st_mtim;
  return true;
}

bool SetFileModTime(const std::string &FileName, const struct timespec &Time)
{
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1] = Time;
  return ::utimensat(AT_FDCWD, FileName.c_str(), times, 0) == 0;
}

bool ReadWholeFile(const std::string &FileName, TBytes &Out)
{
  Out.clear();
  auto f = TFileStream::Open(FileName, TFileMode::fmOpenRead);
  if (!f) return false;
  const std::int64_t size = f->GetSize();
  if (size < 0) return false;
  Out.resize(static_cast<std::size_t>(size));
  return f->ReadBuffer(Out.data(), size);
}

bool FilesIdentical(const std::string &A, const std::string &B)
{
  auto fa = TFileStream::Open(A, TFileMode::fmOpenRead);
  auto fb = TFileStream::Open(B, TFileMode::fmOpenRead);
  if (!fa || !fb || fa->GetSize() != fb->GetSize()) return false;
  std::vector<std::uint8_t> ba(1 << 16), bb(1 << 16);
  for (;;) {
    const std::int64_t na = fa->Read(ba.data(), static_cast<std::int64_t>(ba.size()));
    if (na <= 0) return fb->Read(bb.data(), 1) <= 0;
    if (!fb->ReadBuffer(bb.data(), na)) return false;
    if (std::memcmp(ba.data(), bb.data(), static_cast<std::size_t>(na)) != 0) return false;
  }
}

std::string ErrnoText(int Error) { return std::strerror(Error); }

namespace {

// Replaces the content of Out by the first Size bytes of In, both taken from offset 0
// whatever the descriptors' positions: a reflink where the file system shares blocks, else
// copy_file_range, else pread/pwrite. False with errno set.
bool CopyContent(int In, int Out, std::int64_t Size)
{
  if (::ftruncate(Out, 0) != 0) return false;
  if (Size == 0 || ::ioctl(Out, FICLONE, In) == 0) return true;
  off_t inOffset = 0, outOffset = 0;
  while (outOffset < Size) {
    const ssize_t n =
      ::copy_file_range(In, &inOffset, Out, &outOffset, static_cast<std::size_t>(Size - outOffset), 0);
    if (n > 0) continue;
    if (n == 0) {
      errno = EIO;  // the source is shorter than it was
      return false;
    }
    if (errno == EINTR) continue;
    if (errno != EXDEV && errno != ENOSYS && errno != EOPNOTSUPP && errno != EINVAL) return false;
    // Refused by the kernel here: by hand, from where it stopped.
    std::vector<char> buf(1 << 20);
    while (outOffset < Size) {
      const ssize_t r = ::pread(In, buf.data(), static_cast<std::size_t>(std::min<std::int64_t>(
                                                  static_cast<std::int64_t>(buf.size()), Size - outOffset)),
                                outOffset);
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) return false;
      if (r == 0) {
        errno = EIO;
        return false;
      }
      for (ssize_t w = 0; w < r;) {
        const ssize_t k = ::pwrite(Out, buf.data() + w, static_cast<std::size_t>(r - w), outOffset + w);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) {
          if (k == 0) errno = EIO;
          return false;
        }
        w += k;
      }
      outOffset += r;
    }
  }
  return true;
}

// Makes a new name in Path's folder survive a crash; a folder that cannot be synced does not
// undo what is in place already.
void SyncFolderOf(const std::string &Path)
{
  const int dir = ::open((PathFolder(Path).empty() ? std::string(".") : PathFolder(Path)).c_str(),
                         O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}

// Failures of extended attributes that only say this process, or this file system, cannot
// have them: such an attribute is left out rather than failing the save.
bool AttributeNotForUs(int Error) { return Error == EPERM || Error == EACCES || Error == EOPNOTSUPP; }

// Gives To every extended attribute of the file From, the ACL (system.posix_acl_access) among
// them. False (noted) when one that this process may set could not be set.
bool CopyExtendedAttributes(const std::string &From, int To)
{
  std::vector<char> names(kMaxXattrBytes);
  const ssize_t listed = ::listxattr(From.c_str(), names.data(), names.size());
  if (listed < 0) {
    if (AttributeNotForUs(errno)) return true;
    NoteFileError(errno);
    return false;
  }
  std::vector<char> value(kMaxXattrBytes);
  std::string_view rest(names.data(), static_cast<std::size_t>(listed));
  while (!rest.empty()) {
    const std::size_t end = rest.find('\0');
    const std::string name(rest.substr(0, end));
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    if (name.empty()) continue;
    const ssize_t size = ::getxattr(From.c_str(), name.c_str(), value.data(), value.size());
    if (size < 0) {
      if (errno == ENODATA || AttributeNotForUs(errno)) continue;
      NoteFileError(errno);
      return false;
    }
    if (::fsetxattr(To, name.c_str(), value.data(), static_cast<std::size_t>(size), 0) != 0) {
      if (AttributeNotForUs(errno)) continue;
      NoteFileError(errno);
      return false;
    }
  }
  return true;
}

// Gives the temporary file Fd what makes File the file it is: owner and group where this
// process may set them, extended attributes and ACLs, then the mode (last: giving a file away
// clears its set-ID bits, and an ACL sets the group bits from its mask, which the mode holds).
bool CarryIdentity(int Fd, const std::string &File, const struct stat &St)
{
  if (::fchown(Fd, St.st_uid, St.st_gid) != 0) {
    // Only a privileged process gives a file to somebody else; a group of its own it may set.
    if (::fchown(Fd, static_cast<uid_t>(-1), St.st_gid) != 0) {
      // Neither: the file will belong to this process, as any new file would.
    }
  }
  if (!CopyExtendedAttributes(File, Fd)) return false;
  if (::fchmod(Fd, St.st_mode & 07777) != 0) {
    NoteFileError(errno);
    return false;
  }
  return true;
}

bool SameFileAsDescriptor(int DirFd, const char *Name, int Fd)
{
  struct stat a {}, b {};
  return ::fstat(Fd, &a) == 0 && ::fstatat(DirFd, Name, &b, AT_SYMLINK_NOFOLLOW) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

bool IsTempFileName(std::string_view Name, std::string_view Prefix)
{
  if (Name.size() != Prefix.size() + kTempUniqueChars || Name.substr(0, Prefix.size()) != Prefix) return false;
  return std::all_of(Name.begin() + static_cast<std::ptrdiff_t>(Prefix.size()), Name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
  });
}

} // namespace

bool CopyFileFast(const std::string &Source, const std::string &Dest, std::string &Error)
{
  const auto fail = [&](const std::string &Path, int Code) {
    NoteFileError(Code);
    Error = Path + ": " + ErrnoText(Code);
    return false;
  };
  const int in = ::open(Source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return fail(Source, errno);
  struct stat st {};
  if (::fstat(in, &st) != 0) {
    const int error = errno;
    ::close(in);
    return fail(Source, error);
  }
  // Not truncated on open: when Dest is Source under another name (a hard link), truncating
  // would destroy the only copy.
  const int out = ::open(Dest.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, st.st_mode & 07777);
  if (out < 0) {
    const int error = errno;
    ::close(in);
    return fail(Dest, error);
  }
  struct stat outSt {};
  const bool statFailed = ::fstat(out, &outSt) != 0;
  if (statFailed || (outSt.st_dev == st.st_dev && outSt.st_ino == st.st_ino)) {
    Error = Dest + ": " + (statFailed ? ErrnoText(errno) : "the same file as " + Source);
    ::close(out);
    ::close(in);
    return false;
  }

  // The mode of Source whatever the umask or the mode of an existing Dest.
  bool ok = !TWriteFaults::ShouldFail() && ::fchmod(out, st.st_mode & 07777) == 0 &&
            CopyContent(in, out, st.st_size) && ::fsync(out) == 0;
  int error = ok ? 0 : errno;
  if (::close(out) != 0 && ok) {
    ok = false;
    error = errno;
  }
  ::close(in);
  return ok || fail(Dest, error ? error : EIO);
}

bool ResolveWriteTarget(const std::string &Target, std::string &Resolved)
{
  struct stat st {};
  if (::lstat(Target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
    // Nothing there (a file to be created) or not a link: the path as given.
    Resolved = Target;
    return true;
  }
  char *end = ::realpath(Target.c_str(), nullptr);
  if (!end) return false;
  Resolved = end;
  std::free(end);
  return true;
}

std::string TempFilePrefix(const std::string &Target)
{
  // The whole temporary name must itself be a valid name: a target whose name is near the
  // length limit lends only its beginning.
  const std::string name = Utf8LeftBytes(PathFileName(Target), NAME_MAX - kTempNameExtra);
  const std::string folder = PathFolder(Target).empty() ? std::string(".") : PathFolder(Target);
  return (folder == "/" ? std::string() : folder) + "/." + name + std::string(kTempMarker);
}

int RemoveStaleTempFiles(const std::string &Target)
{
  std::string resolved;
  if (!ResolveWriteTarget(Target, resolved)) return 0;
  const std::string prefix = TempFilePrefix(resolved);
  const std::string namePrefix = PathFileName(prefix);
  DIR *dir = ::opendir(PathFolder(prefix).c_str());
  if (!dir) return 0;
  const int dirFd = ::dirfd(dir);
  int removed = 0;
  while (const dirent *entry = ::readdir(dir)) {
    if (!IsTempFileName(entry->d_name, namePrefix)) continue;
    const int fd = ::openat(dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st {};
    // A save still writing holds the lock. Once locked here, the name must still lead to the
    // file that was locked: a new temporary file may have taken it meanwhile.
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        SameFileAsDescriptor(dirFd, entry->d_name, fd) && ::unlinkat(dirFd, entry->d_name, 0) == 0)
      ++removed;
    ::close(fd);
  }
  ::closedir(dir);
  return removed;
}

std::unique_ptr<TTempFile> TTempFile::CreateBeside(const std::string &Target)
{
  std::string resolved;
  if (!ResolveWriteTarget(Target, resolved)) {
    NoteFileError(errno);
    return nullptr;
  }
  const std::string pattern = TempFilePrefix(resolved) + std::string(kTempUniqueChars, 'X');
  // A cleanup by another save may lock and remove a new file before this one locks it; that
  // shows as a lock held elsewhere or a name that no longer leads here, and a new name is tried.
  for (int attempt = 0; attempt < 8; ++attempt) {
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    const int fd = ::mkostemp(buf.data(), O_CLOEXEC);
    if (fd < 0) {
      NoteFileError(errno);
      return nullptr;
    }
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    // A file system without locks: the file stays unlocked, and no cleanup can lock it either.
    const bool noLocks = !locked && errno != EWOULDBLOCK;
    if ((locked || noLocks) && SameFileAsDescriptor(AT_FDCWD, buf.data(), fd))
      return std::unique_ptr<TTempFile>(new TTempFile(buf.data(), std::make_unique<TFileStream>(fd, true)));
    ::close(fd);
  }
  NoteFileError(EEXIST);
  return nullptr;
}

TTempFile::~TTempFile()
{
  // Removed while still locked, so that no cleanup takes a name that is being given up.
  if (!FCommitted) ::unlink(FPath.c_str());
  FStream->Close();
}

bool TTempFile::CopyBackInPlace(const std::string &Target)
{
  const std::int64_t size = FStream->GetSize();
  const int out = ::open(Target.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
  if (out < 0 || size < 0) {
    NoteFileError(out < 0 ? errno : EIO);
    if (out >= 0) ::close(out);
    return false;
  }
  bool ok = !TWriteFaults::ShouldFail() && CopyContent(FStream->Handle(), out, size) &&
            !TWriteFaults::ShouldFail() && ::fsync(out) == 0;
  int error = ok ? 0 : errno;
  if (::close(out) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    NoteFileError(error ? error : EIO);
    return false;
  }
  ::unlink(FPath.c_str());
  FCommitted = true;
  FStream->Close();
  return true;
}

bool TTempFile::Commit(const std::string &Target)
{
  std::string resolved;
  if (!ResolveWriteTarget(Target, resolved)) {
    NoteFileError(errno);
    return false;
  }
  struct stat st {};
  const bool exists = ::stat(resolved.c_str(), &st) == 0;
  // A rename would give only this name the new content; the other names would keep the old.
  if (exists && S_ISREG(st.st_mode) && st.st_nlink > 1) return CopyBackInPlace(resolved);
  if (exists && !CarryIdentity(FStream->Handle(), resolved, st)) return false;
  if (!FStream->Sync()) return false;
  if (TWriteFaults::ShouldFail() || ::rename(FPath.c_str(), resolved.c_str()) != 0) {
    NoteFileError(errno);
    return false;
  }
  FCommitted = true;
  // Synced before the rename: the content is on disk, whatever close may still say.
  FStream->Close();
  SyncFolderOf(resolved);
  return true;
}
