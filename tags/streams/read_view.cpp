#include "tags/streams/read_view.h"

#include "tags/streams/file_io.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool SameTime(const struct timespec &A, const struct timespec &B)
{
  return A.tv_sec == B.tv_sec && A.tv_nsec == B.tv_nsec;
}

std::int64_t PreadFully(int Fd, std::int64_t Pos, std::uint8_t *Out, std::int64_t Count)
{
  std::int64_t done = 0;
  while (done < Count) {
    const ssize_t n = ::pread(Fd, Out + done, static_cast<std::size_t>(Count - done), static_cast<off_t>(Pos + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  return done;
}

// Buffers of finished views, kept per thread for the views that follow: reading the head and
// tail of file after file then fills memory that is mapped already, instead of memory fresh
// from the system (whose page faults cost more than the reads). Bounded in count and size.
constexpr std::size_t kPooledBuffers = 6;
constexpr std::size_t kMaxPooledBytes = 1 << 20;

} // namespace

std::vector<TReadView::TBuffer> &TReadView::FreeBuffers()
{
  thread_local std::vector<TBuffer> buffers;
  return buffers;
}

TReadView::TBuffer TReadView::TakeBuffer(std::size_t Size)
{
  std::vector<TBuffer> &pool = FreeBuffers();
  for (auto it = pool.begin(); it != pool.end(); ++it)
    if (it->Capacity >= Size) {
      TBuffer b = std::move(*it);
      pool.erase(it);
      b.Size = Size;
      return b;
    }
  TBuffer b;
  b.Bytes = std::make_unique_for_overwrite<std::uint8_t[]>(Size);
  b.Size = b.Capacity = Size;
  return b;
}

void TReadView::GiveBack(TBuffer &&Buffer)
{
  if (Buffer.Capacity == 0 || Buffer.Capacity > kMaxPooledBytes) return;
  Buffer.Size = 0;
  std::vector<TBuffer> &pool = FreeBuffers();
  if (pool.size() >= kPooledBuffers) pool.erase(pool.begin());
  pool.push_back(std::move(Buffer));
}

namespace {

std::shared_ptr<const TFileIdentity> IdentityOf(const std::string &Path, const struct stat &St)
{
  auto id = std::make_shared<TFileIdentity>();
  id->Path = Path;
  id->Device = St.st_dev;
  id->Inode = St.st_ino;
  id->Size = St.st_size;
  id->Modified = St.st_mtim;
  id->Changed = St.st_ctim;
  return id;
}

} // namespace

bool ReadFileRange(const TFileRange &Range, TBytes &Out, std::string *Error)
{
  Out.clear();
  const auto fail = [&](const char *Why) {
    if (Error) *Error = Why;
    Out.clear();
    return false;
  };
  if (!Range.File || Range.Offset < 0 || Range.Size < 0) return fail("no file range");
  const TFileIdentity &id = *Range.File;
  if (Range.Offset > id.Size || Range.Size > id.Size - Range.Offset) return fail("range beyond the file");
  struct stat st {};
  const int fd = OpenRegularFile(id.Path, false, st);
  if (fd < 0) return fail("the file cannot be opened");
  const bool same = st.st_dev == id.Device &&
                    st.st_ino == id.Inode && st.st_size == id.Size && SameTime(st.st_mtim, id.Modified) &&
                    SameTime(st.st_ctim, id.Changed);
  if (!same) {
    ::close(fd);
    return fail("the file changed since it was read");
  }
  Out.resize(static_cast<std::size_t>(Range.Size));
  const std::int64_t got = PreadFully(fd, Range.Offset, Out.data(), Range.Size);
  ::close(fd);
  if (got != Range.Size) return fail("the file ended early");
  return true;
}

std::unique_ptr<TReadView> TReadView::OpenFile(const std::string &FileName, int *Error)
{
  struct stat st {};
  const int fd = OpenRegularFile(FileName, false, st, Error);
  if (fd < 0) return nullptr;
  std::unique_ptr<TReadView> view(new TReadView(fd, IdentityOf(FileName, st)));
  view->Prime();
  return view;
}

TReadView::TReadView(int Fd, std::shared_ptr<const TFileIdentity> Identity)
  : FFd(Fd), FIdentity(std::move(Identity)), FSize(FIdentity->Size)
{
}

TReadView::TReadView(TStream &Source) : FSource(&Source), FSize(std::max<std::int64_t>(Source.GetSize(), 0)) {}

TReadView::~TReadView()
{
  if (FFd >= 0) ::close(FFd);
  for (TSegment &s : FSegments) GiveBack(std::move(s.Data));
}

const std::string &TReadView::FileName() const
{
  static const std::string kNone;
  return FIdentity ? FIdentity->Path : kNone;
}

void TReadView::Prime()
{
  // A small file is read whole in one go; a larger one as its head and its tail.
  if (FSize <= kHeadBytes + kTailBytes) {
    Fetch(0, FSize);
    return;
  }
  Fetch(0, kHeadBytes);
  Fetch(FSize - kTailBytes, FSize);
}

std::int64_t TReadView::ReadSource(std::int64_t Pos, std::uint8_t *Out, std::int64_t Count)
{
  if (Count <= 0) return 0;
  ++FReadCalls;
  if (FFd >= 0) return PreadFully(FFd, Pos, Out, Count);
  if (!FSource || !FSource->SetPosition(Pos)) return 0;
  std::int64_t done = 0;
  while (done < Count) {
    const std::int64_t n = FSource->Read(Out + done, Count - done);
    if (n <= 0) break;
    done += n;
  }
  return done;
}

const TReadView::TSegment *TReadView::SegmentHolding(std::int64_t Pos, std::int64_t Count) const
{
  for (const TSegment &s : FSegments)
    if (s.Start <= Pos && Pos + Count <= s.End()) return &s;
  return nullptr;
}

bool TReadView::Holds(std::int64_t Pos, std::int64_t Count) const
{
  return Pos >= 0 && Count >= 0 && SegmentHolding(Pos, Count) != nullptr;
}

bool TReadView::Fetch(std::int64_t Pos, std::int64_t End)
{
  End = std::min(End, FSize);
  if (Pos < 0 || Pos >= End) return false;
  if (SegmentHolding(Pos, End - Pos)) return true;
  std::int64_t ahead = kReadAheadBytes;
  for (const TSegment &s : FSegments)
    if (s.Start <= Pos && Pos <= s.End()) ahead = std::max(ahead, std::min(kMaxReadAheadBytes, s.End() - s.Start));
  End = std::max(End, std::min(FSize, Pos + ahead));

  // The new segment swallows every held segment it overlaps or touches, so that a range is
  // always held by one segment; only the gaps between them are read.
  std::int64_t start = Pos, end = End;
  std::vector<TSegment> kept, merged;
  for (TSegment &s : FSegments) {
    if (s.End() < Pos || s.Start > End) kept.push_back(std::move(s));
    else {
      start = std::min(start, s.Start);
      end = std::max(end, s.End());
      merged.push_back(std::move(s));
    }
  }
  TSegment n;
  n.Start = start;
  n.Data = TakeBuffer(static_cast<std::size_t>(end - start));
  std::int64_t cur = start;
  bool shortRead = false;
  const auto readGap = [&](std::int64_t To) {
    const std::int64_t got = ReadSource(cur, n.Bytes() + (cur - start), To - cur);
    cur += got;
    if (cur < To) shortRead = true;
  };
  for (const TSegment &s : merged) {
    if (shortRead) break;
    if (s.Start > cur) readGap(s.Start);
    if (shortRead) break;
    std::memcpy(n.Bytes() + (s.Start - start), s.Bytes(), s.Data.Size);
    cur = s.End();
  }
  if (!shortRead && cur < end) readGap(end);
  if (shortRead) {
    // The file is shorter than it was: its data ends here, and nothing held behind it counts.
    FSize = cur;
    n.Data.Size = static_cast<std::size_t>(cur - start);
    std::erase_if(kept, [&](const TSegment &s) { return s.Start >= FSize; });
    for (TSegment &s : kept)
      if (s.End() > FSize) s.Data.Size = static_cast<std::size_t>(FSize - s.Start);
  }
  for (TSegment &s : merged) GiveBack(std::move(s.Data));
  FSegments = std::move(kept);
  if (n.Data.Size > 0) {
    const auto at = std::upper_bound(FSegments.begin(), FSegments.end(), n.Start,
                                     [](std::int64_t P, const TSegment &S) { return P < S.Start; });
    FSegments.insert(at, std::move(n));
  }
  return Pos < FSize;
}

bool TReadView::Range(std::int64_t Pos, std::int64_t Count, ByteReader &Out)
{
  Out = ByteReader();
  if (Pos < 0 || Count < 0 || Pos > FSize || Count > FSize - Pos) return false;
  if (Count == 0) return true;
  if (!Fetch(Pos, Pos + Count)) return false;
  const TSegment *s = SegmentHolding(Pos, Count);
  if (!s) return false;
  Out = ByteReader(s->Bytes() + (Pos - s->Start), static_cast<std::size_t>(Count));
  return true;
}

bool TReadView::RangeUpTo(std::int64_t Pos, std::int64_t MaxCount, ByteReader &Out)
{
  Out = ByteReader();
  if (Pos < 0 || MaxCount <= 0 || Pos >= FSize) return false;
  if (!Fetch(Pos, Pos + std::min(MaxCount, FSize - Pos))) return false;
  // The fetch may have found the file shorter.
  return Range(Pos, std::min(MaxCount, FSize - Pos), Out);
}

bool TReadView::ReadAt(std::int64_t Pos, std::int64_t Count, TBytes &Out)
{
  Out.clear();
  ByteReader r;
  if (!Range(Pos, Count, r)) return false;
  Out.assign(r.Data(), r.Data() + r.Size());
  FPos = Pos + Count;
  return true;
}

std::int64_t TReadView::Read(void *Buffer, std::int64_t Count)
{
  if (Count <= 0 || FPos >= FSize) return 0;
  const std::int64_t want = std::min(Count, FSize - FPos);
  if (!Fetch(FPos, FPos + want)) return 0;
  const TSegment *s = SegmentHolding(FPos, 1);
  if (!s) return 0;
  const std::int64_t n = std::min(want, s->End() - FPos);
  std::memcpy(Buffer, s->Bytes() + (FPos - s->Start), static_cast<std::size_t>(n));
  FPos += n;
  return n;
}

std::int64_t TReadView::Write(const void *, std::int64_t) { return 0; }

bool TReadView::SetSize(std::int64_t) { return false; }

std::int64_t TReadView::Seek(std::int64_t Offset, TSeekOrigin Origin)
{
  FPos = ClampedSeekTarget(Offset, Origin, FPos, FSize);
  return FPos;
}
