#pragma once
// The arithmetic every audio-property reader shares: values computed from fields of a file are
// never trusted to be finite, positive or in range, so quotients, roundings and narrowings go
// through these, which give 0 (or the nearest bound) where plain arithmetic would give
// infinity, NaN, a wrapped value or undefined behaviour.

#include <cstdint>

#include "tags/streams/byte_reader.h"

// Num / Den, or 0 when Den is 0 or the quotient is not finite.
double SafeDiv(double Num, double Den);
// V clamped into the range of int.
int ClampToInt(std::int64_t V);
// V clamped into 0..INT64_MAX.
std::int64_t ClampToInt64(std::uint64_t V);
// Truncation toward zero into 0..INT_MAX; anything not finite or not positive gives 0.
int TruncToInt(double Value);
// Rounds to the nearest integer, halves to even; not finite gives 0, out of range the bound.
std::int64_t RoundHalfEven(double Value);
// RoundHalfEven into 0..Limit; anything not finite or not positive gives 0.
std::int64_t RoundClamped(double Value, std::int64_t Limit);
// Value when it is finite and positive, else 0.
double FiniteOrZero(double Value);

// The bytes of a file between a tag at its start and the tags at its end: FileSize less both,
// 0 when their sum overflows. May be negative when the tag sizes exceed the file.
std::int64_t PayloadBytes(std::int64_t FileSize, std::int64_t StartTagSize, std::int64_t EndTagsSize);
// Bit rate in kbit/s from a payload size and a duration, rounded the way the Musepack and
// Monkey's Audio readers state it; 0 for a payload or duration that is not positive.
std::int64_t PayloadBitRate(std::int64_t Payload, double Duration);
// FileSize as a percentage of the same audio stored as PCM in a WAVE file (a 44-byte header);
// 0 when that size is 0 or the quotient not finite.
double UncompressedRatio(std::int64_t FileSize, int Channels, int Bits, std::int64_t Samples);
