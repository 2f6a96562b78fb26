#pragma once
// TReadView: the one way a load reads a file. Opening a file costs one open and one fstat; the
// view then reads the head (a fixed first block) and the tail (enough for the trailing tags:
// ID3v1, Lyrics3, APEv2 footers and the like) into memory, and every native loader and audio
// reader works on those bytes. A reader that needs more (a tag at the start larger than the
// head, the MPEG frame search behind it, a block walk further into the file) asks the view
// for a range, and the view reads only what it does not hold yet, with a little read-ahead.
//
// The rule for every format: no parser opens a file. A parser is handed a TReadView (or, in
// the older stream form, the view as a TStream) and reads through ByteReader over Range().
//
// Invariants: the bytes held are the file's bytes at their offsets; the size is the one fstat
// gave, lowered when a read comes back short (a file that shrank ends where its data ended,
// never with garbage behind it); held ranges never overlap. The view is read-only: Write and
// SetSize are refused. A view over a caller's TStream reads through Seek and Read instead of
// pread and has no file identity.
//
// TFileIdentity and TFileRange let a loader leave large bytes (picture data) in the file: a
// range records where they are and which file they belong to, and ReadFileRange fetches them
// later only when that file is still the same one (device, inode, size, modification and change
// times), so bytes of a file changed since the load are never taken for the loaded ones.

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

#include "tags/streams/byte_reader.h"
#include "tags/streams/stream.h"

struct TFileIdentity {
  std::string Path;
  dev_t Device = 0;
  ino_t Inode = 0;
  std::int64_t Size = 0;
  struct timespec Modified {};
  struct timespec Changed {};
};

// Size bytes at Offset of a file as it was loaded; empty when File is null.
struct TFileRange {
  std::shared_ptr<const TFileIdentity> File;
  std::int64_t Offset = 0;
  std::int64_t Size = 0;
  bool Empty() const { return !File; }
};

// Reads Range into Out; false (Out empty, Error set when given) when the file is gone, is no
// longer the file that was loaded, or holds fewer bytes.
bool ReadFileRange(const TFileRange &Range, TBytes &Out, std::string *Error = nullptr);

class TReadView : public TStream {
public:
  // The first block read from a file, and the last.
  static constexpr std::int64_t kHeadBytes = 64 * 1024;
  static constexpr std::int64_t kTailBytes = 8 * 1024;
  // A read for missing bytes fetches at least this many (clamped to the file), so that the
  // many small reads of a walk further into the file cost one system call. A read that carries
  // a held range on fetches as many bytes again as that range holds (up to kMaxReadAheadBytes),
  // so that a walk through a long run (an Ogg packet over many pages) joins segments a few
  // times, not once per step.
  static constexpr std::int64_t kReadAheadBytes = 16 * 1024;
  static constexpr std::int64_t kMaxReadAheadBytes = 256 * 1024;

  // Null when the file cannot be opened or is not a regular file; Error receives errno.
  static std::unique_ptr<TReadView> OpenFile(const std::string &FileName, int *Error = nullptr);
  // A view over Source, which must outlive it; nothing is read until asked for.
  explicit TReadView(TStream &Source);
  ~TReadView() override;

  // Makes Count bytes at Pos resident and hands out a reader over exactly them; false when the
  // file holds fewer. The reader stays valid until the next call that may read.
  bool Range(std::int64_t Pos, std::int64_t Count, ByteReader &Out);
  // As Range, but fewer bytes at the end of the file are fine (none at or past the end: false).
  bool RangeUpTo(std::int64_t Pos, std::int64_t MaxCount, ByteReader &Out);
  // True when Count bytes at Pos are held already (no read needed).
  bool Holds(std::int64_t Pos, std::int64_t Count) const;

  // The file's identity for deferred ranges; null for a view over a stream.
  const std::shared_ptr<const TFileIdentity> &Identity() const { return FIdentity; }
  const std::string &FileName() const;
  // System reads made so far (for tests and benchmarks).
  int ReadCalls() const { return FReadCalls; }

  std::int64_t Read(void *Buffer, std::int64_t Count) override;
  std::int64_t Write(const void *Buffer, std::int64_t Count) override;
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;
  std::int64_t GetSize() override { return FSize; }
  bool SetSize(std::int64_t NewSize) override;
  bool ReadAt(std::int64_t Pos, std::int64_t Count, TBytes &Out) override;

private:
  // Bytes read from the file; the buffer is not zeroed first (every byte is read before use).
  struct TBuffer {
    std::unique_ptr<std::uint8_t[]> Bytes;
    std::size_t Size = 0;
    std::size_t Capacity = 0;
  };
  struct TSegment {
    std::int64_t Start = 0;
    TBuffer Data;
    const std::uint8_t *Bytes() const { return Data.Bytes.get(); }
    std::uint8_t *Bytes() { return Data.Bytes.get(); }
    std::int64_t End() const { return Start + static_cast<std::int64_t>(Data.Size); }
  };
  TReadView(int Fd, std::shared_ptr<const TFileIdentity> Identity);
  // Buffers of finished views are kept per thread for the views that follow.
  static TBuffer TakeBuffer(std::size_t Size);
  static void GiveBack(TBuffer &&Buffer);
  static std::vector<TBuffer> &FreeBuffers();
  // Reads the head and the tail.
  void Prime();
  // Makes [Pos, End) resident, End clamped to the size; false when nothing of it could be read.
  bool Fetch(std::int64_t Pos, std::int64_t End);
  // Fills Out from the source at Pos; returns the bytes read (short at the end of the data).
  std::int64_t ReadSource(std::int64_t Pos, std::uint8_t *Out, std::int64_t Count);
  const TSegment *SegmentHolding(std::int64_t Pos, std::int64_t Count) const;

  int FFd = -1;
  TStream *FSource = nullptr;
  std::shared_ptr<const TFileIdentity> FIdentity;
  std::int64_t FSize = 0;
  std::int64_t FPos = 0;
  std::vector<TSegment> FSegments;  // sorted by Start, never overlapping
  int FReadCalls = 0;
};
