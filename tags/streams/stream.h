#pragma once
// TStream: the seekable byte stream every tag reader and writer works on.
// Positions and sizes are 64-bit. Nothing throws: Read and Write return the number of bytes
// moved, Seek returns the new position or -1, GetSize returns -1 when the size is unknown.
// TMemoryStream owns a growable byte block; TReadMemoryStream presents a caller's block,
// which it neither owns nor copies, as a read-only stream.

#include <cstdint>
#include <string>
#include <vector>

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

using TBytes = std::vector<std::uint8_t>;

class TStream {
public:
  virtual ~TStream() = default;
  TStream() = default;
  TStream(const TStream &) = delete;
  TStream &operator=(const TStream &) = delete;

  virtual std::int64_t Read(void *Buffer, std::int64_t Count) = 0;
  virtual std::int64_t Write(const void *Buffer, std::int64_t Count) = 0;
  virtual std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) = 0;
  virtual std::int64_t GetSize() = 0;
  virtual bool SetSize(std::int64_t NewSize) = 0;

  std::int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  bool SetPosition(std::int64_t Pos) { return Pos >= 0 && Seek(Pos, TSeekOrigin::soBeginning) == Pos; }

  // Exactly Count bytes or false.
  bool ReadBuffer(void *Buffer, std::int64_t Count);
  bool WriteBuffer(const void *Buffer, std::int64_t Count);
  bool WriteBytes(const TBytes &Bytes) { return WriteBuffer(Bytes.data(), static_cast<std::int64_t>(Bytes.size())); }
  // Reads Count bytes at Pos into Out and leaves the position behind them; false when the
  // stream holds fewer.
  virtual bool ReadAt(std::int64_t Pos, std::int64_t Count, TBytes &Out);
  // Copies Count bytes (or, with Count < 0, everything up to the end) from Source's position.
  // Returns the bytes copied, or -1 when a write failed.
  std::int64_t CopyFrom(TStream &Source, std::int64_t Count);
};

class TMemoryStream : public TStream {
public:
  TMemoryStream() = default;
  explicit TMemoryStream(TBytes Data) : FData(std::move(Data)) {}

  std::int64_t Read(void *Buffer, std::int64_t Count) override;
  std::int64_t Write(const void *Buffer, std::int64_t Count) override;
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;
  std::int64_t GetSize() override { return static_cast<std::int64_t>(FData.size()); }
  bool SetSize(std::int64_t NewSize) override;

  const TBytes &Data() const { return FData; }
  TBytes &Data() { return FData; }
  void Clear() { FData.clear(); FPos = 0; }

private:
  bool Resize(std::int64_t Size);

  TBytes FData;
  std::int64_t FPos = 0;
};

class TReadMemoryStream : public TStream {
public:
  TReadMemoryStream(const void *Address, std::int64_t MemorySize);

  std::int64_t Read(void *Buffer, std::int64_t Count) override;
  // Refused: the stream is read-only. LastError() names the reason.
  std::int64_t Write(const void *Buffer, std::int64_t Count) override;
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;
  std::int64_t GetSize() override { return FSize; }
  bool SetSize(std::int64_t NewSize) override;
  const std::string &LastError() const { return FLastError; }

private:
  const std::uint8_t *FData;
  std::int64_t FSize;
  std::int64_t FPos = 0;
  std::string FLastError;
};

// Reads up to MaxCount bytes at Pos into Out: fewer at the end of the stream, none at its very
// end. False (Out empty) when Pos is outside the stream or the read fails.
bool ReadUpTo(TStream &Stream, std::int64_t Pos, std::int64_t MaxCount, TBytes &Out);

// Restores a stream's position on every way out of a reader.
class TPositionKeeper {
public:
  explicit TPositionKeeper(TStream &Stream) : FStream(Stream), FPos(Stream.Position()) {}
  ~TPositionKeeper() { if (FPos >= 0) FStream.SetPosition(FPos); }
  TPositionKeeper(const TPositionKeeper &) = delete;
  TPositionKeeper &operator=(const TPositionKeeper &) = delete;

private:
  TStream &FStream;
  std::int64_t FPos;
};

// Clamps a seek request to 0..Size.
std::int64_t ClampedSeekTarget(std::int64_t Offset, TSeekOrigin Origin, std::int64_t Current, std::int64_t Size);
