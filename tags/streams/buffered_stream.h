#pragma once
// TBufferedStream: a 1024-byte read/write buffer in front of another stream, so that the many
// small reads of the metadata walkers do not each reach the file. The wrapped stream is not
// owned. Invariant: the logical position is FStreamPos + FBufPos; while FWriting, the buffer
// holds FBufSize bytes not yet written at FStreamPos.

#include <array>

#include "tags/streams/stream.h"

class TBufferedStream : public TStream {
public:
  static constexpr std::int32_t kBufferSize = 1024;

  explicit TBufferedStream(TStream &Stream);
  ~TBufferedStream() override;

  std::int64_t Read(void *Buffer, std::int64_t Count) override;
  std::int64_t Write(const void *Buffer, std::int64_t Count) override;
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;
  std::int64_t GetSize() override { return FStreamSize; }
  bool SetSize(std::int64_t NewSize) override;
  // Writes pending bytes; false when the wrapped stream refused them.
  bool Flush();

private:
  bool FillBuffer();

  std::array<std::uint8_t, kBufferSize> FBuf{};
  std::int32_t FBufPos = 0;
  std::int32_t FBufSize = 0;
  TStream &FStream;
  std::int64_t FStreamPos = 0;
  std::int64_t FStreamSize = 0;
  bool FWriting = false;
};
