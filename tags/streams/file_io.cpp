#include "tags/streams/file_io.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tags/text/text.h"

namespace {
std::atomic<int> gFailAt{0};
std::atomic<int> gOperations{0};

} // namespace

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
void FailNth(int N) { gOperations = 0; gFailAt = N; }
void Reset() { gOperations = 0; gFailAt = 0; }
int OperationsSoFar() { return gOperations; }
bool ShouldFail()
{
  const int n = ++gOperations;
  return gFailAt > 0 && n == gFailAt;
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
    return -1;
  }
  St = {};
  if (::fstat(fd, &St) != 0 || !S_ISREG(St.st_mode)) {
    if (Error) *Error = S_ISDIR(St.st_mode) ? EISDIR : EINVAL;
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
  if (TWriteFaults::ShouldFail()) { errno = EIO; return 0; }
  for (;;) {
    const ssize_t n = ::write(FFd, Buffer, static_cast<std::size_t>(Count));
    if (n < 0 && errno == EINTR) continue;
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
  if (TWriteFaults::ShouldFail()) return false;
  if (::ftruncate(FFd, NewSize) != 0) return false;
  // Like a stream of the other kinds, the position never stays past the end.
  if (Position() > NewSize) Seek(NewSize, TSeekOrigin::soBeginning);
  return true;
}

bool TFileStream::Sync()
{
  if (FFd < 0) return false;
  if (TWriteFaults::ShouldFail()) return false;
  return ::fsync(FFd) == 0;
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

bool CopyFileFast(const std::string &Source, const std::string &Dest, std::string &Error)
{
  const int in = ::open(Source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) { Error = Source + ": " + ErrnoText(errno); return false; }
  struct stat st {};
  if (::fstat(in, &st) != 0) { Error = Source + ": " + ErrnoText(errno); ::close(in); return false; }
  // Not truncated on open: when Dest is Source under another name (a hard link), truncating
  // would destroy the only copy.
  const int out = ::open(Dest.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, st.st_mode & 07777);
  if (out < 0) { Error = Dest + ": " + ErrnoText(errno); ::close(in); return false; }
  struct stat outSt {};
  const bool statFailed = ::fstat(out, &outSt) != 0;
  if (statFailed || (outSt.st_dev == st.st_dev && outSt.st_ino == st.st_ino)) {
    Error = Dest + ": " + (statFailed ? ErrnoText(errno) : "the same file as " + Source);
    ::close(out);
    ::close(in);
    return false;
  }

  bool ok = !TWriteFaults::ShouldFail();
  if (!ok) errno = EIO;
  // The mode of Source whatever the umask or the mode of an existing Dest.
  if (ok && (::ftruncate(out, 0) != 0 || ::fchmod(out, st.st_mode & 07777) != 0)) ok = false;
  if (ok && ::ioctl(out, FICLONE, in) != 0) {
    // No shared blocks here: copy in the kernel, or by hand where that is refused too.
    off_t left = st.st_size;
    while (ok && left > 0) {
      const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, static_cast<std::size_t>(left), 0);
      if (n > 0) { left -= n; continue; }
      if (n == 0) break;
      if (errno == EINTR) continue;
      if (errno != EXDEV && errno != ENOSYS && errno != EOPNOTSUPP && errno != EINVAL) { ok = false; break; }
      std::vector<char> buf(1 << 20);
      for (;;) {
        const ssize_t r = ::read(in, buf.data(), buf.size());
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) { ok = false; break; }
        if (r == 0) break;
        for (ssize_t w = 0; w < r;) {
          const ssize_t k = ::write(out, buf.data() + w, static_cast<std::size_t>(r - w));
          if (k < 0 && errno == EINTR) continue;
          if (k <= 0) { ok = false; break; }
          w += k;
        }
        if (!ok) break;
      }
      left = 0;
    }
    if (ok && left > 0) { ok = false; errno = EIO; }
  }
  if (ok && ::fsync(out) != 0) ok = false;
  const int savedErrno = errno;
  if (::close(out) != 0 && ok) ok = false;
  ::close(in);
  if (!ok) Error = Dest + ": " + ErrnoText(savedErrno ? savedErrno : EIO);
  return ok;
}

std::unique_ptr<TTempFile> TTempFile::CreateBeside(const std::string &Target)
{
  // "." + name + ".XXXXXX" must itself be a valid name: a target whose name is near the length
  // limit lends only its beginning.
  constexpr std::size_t kTempNameExtra = 8;
  const std::string name = Utf8LeftBytes(PathFileName(Target), NAME_MAX - kTempNameExtra);
  std::string pattern = (PathFolder(Target).empty() ? std::string(".") : PathFolder(Target)) + "/." + name + ".XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  const int fd = ::mkostemp(buf.data(), O_CLOEXEC);
  if (fd < 0) return nullptr;
  return std::unique_ptr<TTempFile>(new TTempFile(buf.data(), std::make_unique<TFileStream>(fd, true)));
}

TTempFile::~TTempFile()
{
  if (!FCommitted) {
    FStream->Close();
    ::unlink(FPath.c_str());
  }
}

bool TTempFile::Commit(const std::string &Target)
{
  struct stat st {};
  if (::stat(Target.c_str(), &st) == 0 && ::fchmod(FStream->Handle(), st.st_mode & 07777) != 0) return false;
  if (!FStream->Sync()) return false;
  if (!FStream->Close()) return false;
  if (TWriteFaults::ShouldFail()) return false;
  if (::rename(FPath.c_str(), Target.c_str()) != 0) return false;
  FCommitted = true;
  // The new name must survive a crash too: sync the folder that holds it. The file is in
  // place already, so a folder that cannot be synced does not undo the commit.
  const int dir = ::open((PathFolder(Target).empty() ? std::string(".") : PathFolder(Target)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}
