#pragma once
// POSIX file access for the tag library: TFileStream over a descriptor, checked writes,
// modification times to the nanosecond, fast whole-file copies, and TTempFile, the
// exclusive temporary file beside a target that replaces it by rename only when complete.
// Every write-like operation (write, truncate, fsync, rename, copy) passes through one
// counter so that tests can make the Nth of them fail (TWriteFaults).

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

#include "tags/streams/stream.h"

// Test hook: the Nth write-like operation from now fails (N counts from 1); 0 disables.
namespace TWriteFaults {
void FailNth(int N);
void Reset();
int OperationsSoFar();
// Called by every write-like operation; true when this one must fail.
bool ShouldFail();
} // namespace TWriteFaults

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
// (the same path or a hard link).
bool CopyFileFast(const std::string &Source, const std::string &Dest, std::string &Error);

// A temporary file created exclusively in the folder of Target. Unless Commit succeeds it is
// removed when the object goes away, so a failed rebuild leaves nothing behind.
class TTempFile {
public:
  // Null when no temporary file could be created.
  static std::unique_ptr<TTempFile> CreateBeside(const std::string &Target);
  ~TTempFile();

  TFileStream &Stream() { return *FStream; }
  const std::string &Path() const { return FPath; }
  // fsync, the target's permission bits, close, then rename over Target.
  bool Commit(const std::string &Target);

private:
  TTempFile(std::string Path, std::unique_ptr<TFileStream> Stream) : FPath(std::move(Path)), FStream(std::move(Stream)) {}
  std::string FPath;
  std::unique_ptr<TFileStream> FStream;
  bool FCommitted = false;
};
