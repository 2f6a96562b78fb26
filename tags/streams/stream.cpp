#include "tags/streams/stream.h"

#include <algorithm>
#include <cstring>
#include <exception>

bool TStream::ReadBuffer(void *Buffer, std::int64_t Count)
{
  if (Count < 0) return false;
  auto *p = static_cast<std::uint8_t *>(Buffer);
  std::int64_t done = 0;
  while (done < Count) {
    const std::int64_t n = Read(p + done, Count - done);
    if (n <= 0) return false;
    done += n;
  }
  return true;
}

bool TStream::WriteBuffer(const void *Buffer, std::int64_t Count)
{
  if (Count < 0) return false;
  const auto *p = static_cast<const std::uint8_t *>(Buffer);
  std::int64_t done = 0;
  while (done < Count) {
    const std::int64_t n = Write(p + done, Count - done);
    if (n <= 0) return false;
    done += n;
  }
  return true;
}

bool TStream::ReadAt(std::int64_t Pos, std::int64_t Count, TBytes &Out)
{
  Out.clear();
  const std::int64_t size = GetSize();
  if (Pos < 0 || Count < 0 || size < 0 || Pos > size || Count > size - Pos) return false;
  if (!SetPosition(Pos)) return false;
  Out.resize(static_cast<std::size_t>(Count));
  if (!ReadBuffer(Out.data(), Count)) { Out.clear(); return false; }
  return true;
}

bool ReadUpTo(TStream &Stream, std::int64_t Pos, std::int64_t MaxCount, TBytes &Out)
{
  Out.clear();
  const std::int64_t size = Stream.GetSize();
  if (size < 0 || Pos < 0 || Pos > size || MaxCount < 0) return false;
  return Stream.ReadAt(Pos, std::min(MaxCount, size - Pos), Out);
}

std::int64_t TStream::CopyFrom(TStream &Source, std::int64_t Count)
{
  constexpr std::int64_t kChunk = 1 << 20;
  std::vector<std::uint8_t> buf(static_cast<std::size_t>(kChunk));
  std::int64_t copied = 0;
  while (Count < 0 || copied < Count) {
    const std::int64_t want = Count < 0 ? kChunk : std::min(kChunk, Count - copied);
    const std::int64_t got = Source.Read(buf.data(), want);
    if (got <= 0) break;
    if (!WriteBuffer(buf.data(), got)) return -1;
    copied += got;
  }
  return copied;
}

std::int64_t ClampedSeekTarget(std::int64_t Offset, TSeekOrigin Origin, std::int64_t Current, std::int64_t Size)
{
  std::int64_t base = 0;
  if (Origin == TSeekOrigin::soCurrent) base = Current;
  else if (Origin == TSeekOrigin::soEnd) base = Size;
  // Saturate instead of overflowing on hostile offsets.
  std::int64_t target;
  if (__builtin_add_overflow(base, Offset, &target)) target = Offset < 0 ? 0 : Size;
  return std::clamp<std::int64_t>(target, 0, Size);
}

std::int64_t TMemoryStream::Read(void *Buffer, std::int64_t Count)
{
  const auto size = static_cast<std::int64_t>(FData.size());
  if (Count <= 0 || FPos >= size) return 0;
  const std::int64_t n = std::min(Count, size - FPos);
  std::memcpy(Buffer, FData.data() + FPos, static_cast<std::size_t>(n));
  FPos += n;
  return n;
}

// Gives the block Size bytes; false instead of an exception when that much cannot be had.
bool TMemoryStream::Resize(std::int64_t Size)
{
  if (Size < 0 || static_cast<std::uint64_t>(Size) > FData.max_size()) return false;
  try {
    FData.resize(static_cast<std::size_t>(Size));
  } catch (const std::exception &) {
    return false;
  }
  return true;
}

std::int64_t TMemoryStream::Write(const void *Buffer, std::int64_t Count)
{
  if (Count <= 0) return 0;
  // The position may have been sought anywhere: an end past what can be held refuses the write.
  std::int64_t end = 0;
  if (__builtin_add_overflow(FPos, Count, &end)) return 0;
  if (end > static_cast<std::int64_t>(FData.size()) && !Resize(end)) return 0;
  std::memcpy(FData.data() + FPos, Buffer, static_cast<std::size_t>(Count));
  FPos = end;
  return Count;
}

std::int64_t TMemoryStream::Seek(std::int64_t Offset, TSeekOrigin Origin)
{
  const auto size = static_cast<std::int64_t>(FData.size());
  std::int64_t base = Origin == TSeekOrigin::soBeginning ? 0 : Origin == TSeekOrigin::soCurrent ? FPos : size;
  std::int64_t target;
  if (__builtin_add_overflow(base, Offset, &target) || target < 0) return -1;
  // A memory stream may be positioned past its end; the next write fills the gap with zeros.
  FPos = target;
  return FPos;
}

bool TMemoryStream::SetSize(std::int64_t NewSize)
{
  if (!Resize(NewSize)) return false;
  if (FPos > NewSize) FPos = NewSize;
  return true;
}

TReadMemoryStream::TReadMemoryStream(const void *Address, std::int64_t MemorySize)
  : FData(static_cast<const std::uint8_t *>(Address)), FSize(Address && MemorySize > 0 ? MemorySize : 0)
{
}

std::int64_t TReadMemoryStream::Read(void *Buffer, std::int64_t Count)
{
  if (Count <= 0 || FPos >= FSize) return 0;
  const std::int64_t n = std::min(Count, FSize - FPos);
  std::memcpy(Buffer, FData + FPos, static_cast<std::size_t>(n));
  FPos += n;
  return n;
}

std::int64_t TReadMemoryStream::Write(const void *, std::int64_t)
{
  FLastError = "TReadMemoryStream does not support Write().";
  return 0;
}

std::int64_t TReadMemoryStream::Seek(std::int64_t Offset, TSeekOrigin Origin)
{
  FPos = ClampedSeekTarget(Offset, Origin, FPos, FSize);
  return FPos;
}

bool TReadMemoryStream::SetSize(std::int64_t)
{
  FLastError = "TReadMemoryStream does not support Write().";
  return false;
}
