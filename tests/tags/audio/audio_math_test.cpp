#include "tags/audio/audio_math.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "tests/support/audio_reading.h"
#include "tests/support/container_bytes.h"
#include "tests/support/test_support.h"

namespace {

TEST(RoundHalfEven, Table)
{
  struct Case { double in; std::int64_t want; };
  const Case cases[] = {
    {2.5, 2}, {3.5, 4}, {-0.5, 0}, {-1.5, -2}, {-2.5, -2}, {0.49999999999999994, 0}, {1.2, 1}, {1.7, 2},
    {-1.7, -2}, {std::nan(""), 0}, {INFINITY, 0}, {-INFINITY, 0},
    {1e300, std::numeric_limits<std::int64_t>::max()}, {-1e300, std::numeric_limits<std::int64_t>::min()},
  };
  for (const Case &c : cases) EXPECT_EQ(RoundHalfEven(c.in), c.want) << c.in;
}

} // namespace
