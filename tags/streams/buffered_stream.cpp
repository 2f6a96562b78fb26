#include "tags/streams/buffered_stream.h"

#include <algorithm>
#include <cstring>

TBufferedStream::TBufferedStream(TStream &Stream) : FStream(Stream)
{
  FStreamPos = std::max<std::int64_t>(0, FStream.Position());
  FStreamSize = std::max<std::int64_t>(0, FStream.GetSize());
}

TBufferedStream::~TBufferedStream() { Flush(); }

bool TBufferedStream::Flush()
{
  if (!FWriting) return true;
  FWriting = false;
  const std::int32_t pending = FBufSize;
  if (pending == 0) return true;
  const bool ok = FStream.SetPosition(FStreamPos) && FStream.WriteBuffer(FBuf.data(), pending);
  // Back to reading mode at the same logical position, with an empty buffer.
  FStreamPos += FBufPos;
  FBufPos = 0;
  FBufSize = 0;
  return ok;
}

bool TBufferedStream::FillBuffer()
{
  FStreamPos += FBufSize;
  FBufPos = 0;
  FBufSize = 0;
  if (!FStream.SetPosition(FStreamPos)) return false;
  const std::int64_t n = FStream.Read(FBuf.data(), kBufferSize);
  if (n <= 0) return false;
  FBufSize = static_cast<std::int32_t>(n);
  return true;
}

std::int64_t TBufferedStream::Read(void *Buffer, std::int64_t Count)
{
  if (Count <= 0) return 0;
  if (FWriting && !Flush()) return 0;
  auto *out = static_cast<std::uint8_t *>(Buffer);
  if (Count > kBufferSize) {
    const std::int64_t logical = FStreamPos + FBufPos;
    FBufPos = 0;
    FBufSize = 0;
    if (!FStream.SetPosition(logical)) { FStreamPos = logical; return 0; }
    const std::int64_t n = std::max<std::int64_t>(0, FStream.Read(out, Count));
    FStreamPos = logical + n;
    return n;
  }
  std::int64_t done = 0;
  while (done < Count) {
    if (FBufPos >= FBufSize && !FillBuffer()) break;
    const std::int64_t n = std::min<std::int64_t>(Count - done, FBufSize - FBufPos);
    std::memcpy(out + done, FBuf.data() + FBufPos, static_cast<std::size_t>(n));
    FBufPos += static_cast<std::int32_t>(n);
    done += n;
  }
  return done;
}

std::int64_t TBufferedStream::Write(const void *Buffer, std::int64_t Count)
{
  if (Count <= 0) return 0;
  const auto *in = static_cast<const std::uint8_t *>(Buffer);
  if (Count > kBufferSize) {
    const std::int64_t logical = FStreamPos + FBufPos;
    if (!Flush()) return 0;
    FBufPos = 0;
    FBufSize = 0;
    FStreamPos = logical;
    if (!FStream.SetPosition(logical)) return 0;
    const std::int64_t n = std::max<std::int64_t>(0, FStream.Write(in, Count));
    FStreamPos = logical + n;
    FStreamSize = std::max<std::int64_t>(FStreamSize, std::max<std::int64_t>(0, FStream.GetSize()));
    return n;
  }
  if (!FWriting) {
    // Switch to writing: the buffer starts at the logical position and is empty.
    FStreamPos += FBufPos;
    FBufPos = 0;
    FBufSize = 0;
    FWriting = true;
  }
  std::int64_t done = 0;
  while (done < Count) {
    if (FBufPos >= kBufferSize) {
      const std::int64_t logical = FStreamPos + FBufPos;
      if (!Flush()) return done;
      FStreamPos = logical;
      FWriting = true;
    }
    const std::int64_t n = std::min<std::int64_t>(Count - done, kBufferSize - FBufPos);
    std::memcpy(FBuf.data() + FBufPos, in + done, static_cast<std::size_t>(n));
    FBufPos += static_cast<std::int32_t>(n);
    FBufSize = std::max(FBufSize, FBufPos);
    FStreamSize = std::max(FStreamSize, FStreamPos + FBufSize);
    done += n;
  }
  return done;
}

std::int64_t TBufferedStream::Seek(std::int64_t Offset, TSeekOrigin Origin)
{
  const std::int64_t current = FStreamPos + FBufPos;
  const std::int64_t target = ClampedSeekTarget(Offset, Origin, current, FStreamSize);
  if (target >= FStreamPos && target <= FStreamPos + FBufSize) {
    FBufPos = static_cast<std::int32_t>(target - FStreamPos);
    return target;
  }
  // Pending bytes that cannot be written make the seek fail: the caller's earlier writes are lost.
  const bool flushed = Flush();
  FStream.SetPosition(target);
  FStreamPos = target;
  FBufPos = 0;
  FBufSize = 0;
  return flushed ? target : -1;
}

bool TBufferedStream::SetSize(std::int64_t NewSize)
{
  if (NewSize == FStreamSize) return true;
  if (!Flush()) return false;
  if (!FStream.SetSize(NewSize)) return false;
  FStreamPos = NewSize;
  FStreamSize = NewSize;
  FBufPos = 0;
  FBufSize = 0;
  return true;
}
