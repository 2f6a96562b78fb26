#pragma once
// POSIX file access for the tag library: TFileStream over a descriptor, checked writes,
// modification times to the nanosecond, fast whole-file copies, and TTempFile, the
// exclusive temporary file beside a target that takes the target's place only when complete
// and carries the target's identity (owner, mode, extended attributes and ACLs, links).
// Every write-like operation (write, truncate, fsync, rename, copy) passes through one
// counter so that tests can make the Nth of them fail (TWriteFaults). The first system error
// of a failing write-like operation is kept per thread (FileError), so that a caller can say
// why a save failed.

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

#include "tags/streams/stream.h"

// Test hook: the Nth write-like operation from now fails (N counts from 1) with the system
// error Errno; 0 disables. FailFrom makes the Nth and every later one fail, as a full disk does.
namespace TWriteFaults {
void FailNth(int N, int Errno = 0);
void FailFrom(int N, int Errno = 0);
void Reset();
int OperationsSoFar();
// Called by every write-like operation; true when this one must fail, with errno set.
bool ShouldFail();
} // namespace TWriteFaults

// The system error of the first write-like operation (or open for writing, temporary-file
// creation, copy) that failed on this thread since ClearFileError: the cause of a failed save,
// not the failures of the rollback that followed it. 0 when none failed.
void ClearFileError();
int FileError();
// Records Error (an errno value) unless an earlier failure is recorded already.
void NoteFileError(int Error);

struct stat;

// Opens FileName for reading (or reading and writing) and checks with fstat that it is a
// regular file; the descriptor, or -1 with errno (EISDIR/EINVAL for other kinds) in Error.
int OpenRegularFile(const std::string &FileName, bool Writable, struct stat &St, int *Error = nullptr);

enum class TFileMode {
  fmOpenRead,       // existing file, read only
  fmOpenReadWrite,  // existing file, read and write
};

// What a writer asks about a file before it writes, answered by one stat: whether it is a
// regular file (or a link to one), whether it is read-only by its mode bits (no write
// permission for anybody), its size and its modification time to the nanosecond.
struct TFileFacts {
  bool Exists = false;
  bool ReadOnly = false;
  std::int64_t Size = -1;
  struct timespec ModTime {};
};

// One stat of the path; false, with Facts reset, when there is nothing there to stat.
bool StatFile(const std::string &FileName, TFileFacts &Facts);

class TFileStream : public TStream {
public:
  // Null when the file cannot be opened; Error receives errno.
  static std::unique_ptr<TFileStream> Open(const std::string &FileName, TFileMode Mode, int *Error = nullptr);
  // The same, answering Facts from the fstat of the open descriptor, so that a writer asks the
  // file system once. When the file exists but cannot be opened (a read-only file for a user
  // who may not write it), Facts still says so from a stat of the path.
  static std::unique_ptr<TFileStream> Open(const std::string &FileName, TFileMode Mode, TFileFacts &Facts,
                                           int *Error = nullptr);
  // Adopts an open descriptor.
  TFileStream(int Fd, bool Writable) : FFd(Fd), FWritable(Writable) {}
  ~TFileStream() override;

  std::int64_t Read(void *Buffer, std::int64_t Count) override;
  std::int64_t Write(const void *Buffer, std::int64_t Count) override;
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;
  std::int64_t GetSize() override;
  bool SetSize(std::int64_t NewSize) override;

  bool Sync();
  // Closes the descriptor; false when close reported an error.
  bool Close();
  int Handle() const { return FFd; }

private:
  int FFd = -1;
  bool FWritable = false;
};

// The folder of a path without a trailing separator (the root keeps its own; empty for a bare
// name), and the name after the last separator.
std::string PathFolder(const std::string &Path);
std::string PathFileName(const std::string &Path);
// The file name's last dot and what follows it, as written; empty when the name has no dot.
std::string PathExtension(const std::string &Path);

// Opens FileName for reading and hands the stream to Load; false when it cannot be opened,
// else what Load returns.
template <typename TLoad> bool LoadFromFileStream(const std::string &FileName, TLoad &&Load)
{
  auto stream = TFileStream::Open(FileName, TFileMode::fmOpenRead);
  return stream && Load(static_cast<TStream &>(*stream));
}

bool FileExists(const std::string &FileName);      // a regular file (or a link to one)
bool DirectoryExists(const std::string &Path);
std::int64_t FileSizeOf(const std::string &FileName); // -1 when it cannot be read
// Read-only judged by the mode bits: no write permission for anybody.
bool IsReadOnlyFile(const std::string &FileName);
bool GetFileModTime(const std::string &FileName, struct timespec &Time);
bool SetFileModTime(const std::string &FileName, const struct timespec &Time);
bool ReadWholeFile(const std::string &FileName, TBytes &Out);
bool FilesIdentical(const std::string &A, const std::string &B);
std::string ErrnoText(int Error);

// Copies Source over Dest (created or truncated, mode of Source), with a reflink where the
// file system shares blocks, else copy_file_range, else read/write; the result is fsync'd.
// False with a message in Error on any failure; Dest is left alone when it is Source itself
// (the same path or a hard link). A link at Dest is followed: the file it leads to is written.
bool CopyFileFast(const std::string &Source, const std::string &Dest, std::string &Error);

// The file a write of Target changes: Target itself, or, when Target is a symbolic link, the
// file at the end of its links. False (errno set) for a link that leads nowhere.
bool ResolveWriteTarget(const std::string &Target, std::string &Resolved);

// The name of our temporary files beside Target: "." + Target's name (its beginning, for a
// name near the length limit) + ".corvella-" + six characters that make it unique.
std::string TempFilePrefix(const std::string &Target);
// Removes the temporary files of ours beside Target (after resolving its links) that a killed
// save left behind: names of exactly that form, regular files, and not locked by a save
// still writing them (every live temporary file is locked). Other names are never touched.
// Returns how many were removed.
int RemoveStaleTempFiles(const std::string &Target);

// A temporary file created exclusively beside Target (beside the file a link leads to), named
// as TempFilePrefix says and locked (flock) for as long as it exists, so that a cleanup by
// another save leaves it alone. Unless Commit succeeds it is removed when the object goes
// away, so a failed rebuild leaves nothing behind.
class TTempFile {
public:
  // Null when no temporary file could be created (the error is noted, see FileError).
  static std::unique_ptr<TTempFile> CreateBeside(const std::string &Target);
  ~TTempFile();

  TFileStream &Stream() { return *FStream; }
  const std::string &Path() const { return FPath; }
  // Puts the finished content in Target's place, Target's links resolved:
  // - a file with one name: the temporary file takes the owner and group (where the process
  //   may set them), the extended attributes (ACLs among them) and the mode of the file, is
  //   fsync'd and renamed over it; a symbolic link on the way stays a link;
  // - a file with several hard links: the content is copied back over the file's own inode,
  //   which is fsync'd, so that every name sees the change; the temporary file is removed.
  //   A failure during that copy leaves the file changed: the caller's backup protects it;
  // - no file there yet: the temporary file is renamed to Target as it is.
  bool Commit(const std::string &Target);

private:
  TTempFile(std::string Path, std::unique_ptr<TFileStream> Stream) : FPath(std::move(Path)), FStream(std::move(Stream)) {}
  bool CopyBackInPlace(const std::string &Target);
  std::string FPath;
  std::unique_ptr<TFileStream> FStream;
  bool FCommitted = false;
};
