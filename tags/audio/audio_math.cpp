#include "tags/audio/audio_math.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>

double SafeDiv(double Num, double Den)
{
  if (Den == 0) return 0;
  const double q = Num / Den;
  return std::isfinite(q) ? q : 0;
}

int ClampToInt(std::int64_t V)
{
  return static_cast<int>(std::clamp<std::int64_t>(V, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

std::int64_t ClampToInt64(std::uint64_t V)
{
  return static_cast<std::int64_t>(std::min<std::uint64_t>(V, static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())));
}

int TruncToInt(double Value)
{
  if (!std::isfinite(Value) || Value <= 0) return 0;
  if (Value >= static_cast<double>(INT_MAX)) return INT_MAX;
  return static_cast<int>(Value);
}

std::int64_t RoundHalfEven(double Value)
{
  if (!std::isfinite(Value)) return 0;
  constexpr double kTwoTo63 = 9223372036854775808.0;
  if (Value >= kTwoTo63) return std::numeric_limits<std::int64_t>::max();
  if (Value < -kTwoTo63) return std::numeric_limits<std::int64_t>::min();
  const double lower = std::floor(Value);
  const double frac = Value - lower;
  double r = lower;
  if (frac > 0.5 || (frac == 0.5 && std::fmod(lower, 2.0) != 0)) r = lower + 1;
  if (r >= kTwoTo63) return std::numeric_limits<std::int64_t>::max();
  return static_cast<std::int64_t>(r);
}

std::int64_t RoundClamped(double Value, std::int64_t Limit)
{
  if (!std::isfinite(Value) || Value <= 0) return 0;
  return std::min(RoundHalfEven(Value), Limit);
}

double FiniteOrZero(double Value) { return std::isfinite(Value) && Value > 0 ? Value : 0; }

std::int64_t PayloadBytes(std::int64_t FileSize, std::int64_t StartTagSize, std::int64_t EndTagsSize)
{
  std::int64_t tags = 0;
  if (__builtin_add_overflow(StartTagSize, EndTagsSize, &tags)) tags = FileSize;
  return FileSize - tags;
}

std::int64_t PayloadBitRate(std::int64_t Payload, double Duration)
{
  if (Duration <= 0 || Payload <= 0) return 0;
  return RoundHalfEven(SafeDiv(static_cast<double>(Payload), Duration * 125) + 0.5);
}

double UncompressedRatio(std::int64_t FileSize, int Channels, int Bits, std::int64_t Samples)
{
  return SafeDiv(static_cast<double>(FileSize), Channels * Bits / 8.0 * static_cast<double>(Samples) + 44) * 100;
}
