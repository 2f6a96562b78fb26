#pragma once
// The Broadcast Wave extension chunk "bext" (EBU Tech 3285, versions 0, 1 and 2): a fixed
// record of 602 bytes (TAG_BEXT) followed by the coding history, free text of any length.
// All numbers are little-endian; the loudness fields are signed hundredths (version 2).
//
// Invariants: the record is held field by field and written back exactly, the reserved bytes
// included; the coding history keeps the bytes it was read with until it is set. Text fields
// are read up to their first zero byte and written by the rules of wav_text.h, cut to the field.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "tags/streams/byte_reader.h"
#include "tags/streams/stream.h"

constexpr std::int64_t kBEXTRecordBytes = 602;

struct TAG_BEXT {
  std::array<std::uint8_t, 256> Description{};
  std::array<std::uint8_t, 32> Originator{};
  std::array<std::uint8_t, 32> OriginatorReference{};
  std::array<std::uint8_t, 10> OriginationDate{};
  std::array<std::uint8_t, 8> OriginationTime{};
  std::uint64_t TimeReference = 0;
  std::uint16_t Version = 0;
  std::array<std::uint8_t, 64> UMID{};
  std::int16_t LoudnessValue = 0;
  std::int16_t LoudnessRange = 0;
  std::int16_t MaxTruePeakLevel = 0;
  std::int16_t MaxMomentaryLoudness = 0;
  std::int16_t MaxShortTermLoudness = 0;
  std::array<std::uint8_t, 180> Reserved{};

  bool operator==(const TAG_BEXT &) const = default;
  // Reads the 602 bytes; false (In unmoved) when fewer remain.
  bool Read(ByteReader &In);
  void AppendTo(TBytes &Out) const;
};

class TBEXT {
public:
  TAG_BEXT BEXTChunk;
  TBytes CodingHistoryBytes;
  bool Loaded = false;

  void Clear();
  void Assign(const TBEXT &Source) { *this = Source; }
  // The parts that are written (not Loaded).
  bool SameContent(const TBEXT &Other) const
  {
    return BEXTChunk == Other.BEXTChunk && CodingHistoryBytes == Other.CodingHistoryBytes;
  }
  // The coding history is not empty or a byte of the record is not zero.
  bool HasContent() const;
  // 602 + the coding history, + 1 when it does not end with a zero byte, rounded up to even.
  std::int64_t CalculateSize() const;
  // The chunk's data as written: the record (a version 0 written as 1), the coding history,
  // a zero byte when it does not end with one, and a zero byte to make the size even.
  TBytes BuildData() const;

  std::string GetDescription() const;
  void SetDescription(std::string_view Text);
  std::string GetOriginator() const;
  void SetOriginator(std::string_view Text);
  std::string GetOriginatorReference() const;
  void SetOriginatorReference(std::string_view Text);
  std::string GetOriginationDate() const;
  void SetOriginationDate(std::string_view Text);
  std::string GetOriginationTime() const;
  void SetOriginationTime(std::string_view Text);
  std::uint64_t GetTimeReference() const { return BEXTChunk.TimeReference; }
  void SetTimeReference(std::uint64_t Value) { BEXTChunk.TimeReference = Value; }
  std::uint16_t GetVersion() const { return BEXTChunk.Version; }
  void SetVersion(std::uint16_t Value) { BEXTChunk.Version = Value; }
  std::int16_t GetLoudnessValue() const { return BEXTChunk.LoudnessValue; }
  void SetLoudnessValue(std::int16_t Value) { BEXTChunk.LoudnessValue = Value; }
  std::int16_t GetLoudnessRange() const { return BEXTChunk.LoudnessRange; }
  void SetLoudnessRange(std::int16_t Value) { BEXTChunk.LoudnessRange = Value; }
  std::int16_t GetMaxTruePeakLevel() const { return BEXTChunk.MaxTruePeakLevel; }
  void SetMaxTruePeakLevel(std::int16_t Value) { BEXTChunk.MaxTruePeakLevel = Value; }
  std::int16_t GetMaxMomentaryLoudness() const { return BEXTChunk.MaxMomentaryLoudness; }
  void SetMaxMomentaryLoudness(std::int16_t Value) { BEXTChunk.MaxMomentaryLoudness = Value; }
  std::int16_t GetMaxShortTermLoudness() const { return BEXTChunk.MaxShortTermLoudness; }
  void SetMaxShortTermLoudness(std::int16_t Value) { BEXTChunk.MaxShortTermLoudness = Value; }
  std::string GetReserved() const;
  void SetReserved(std::string_view Text);
  // The 64 bytes as two-digit upper-case hexadecimal numbers separated by single spaces; empty
  // while the version is 0 (the field did not exist then).
  std::string GetUMID() const;
  // Up to 64 hexadecimal numbers separated by blanks; one that is not a number of 0 to FF gives
  // 0, and the bytes not given are zero.
  void SetUMID(std::string_view Text);
  // The coding history without its trailing zero bytes, decoded.
  std::string GetCodingHistory() const;
  void SetCodingHistory(std::string_view Text);
};
