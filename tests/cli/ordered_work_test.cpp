// RunOrdered, the worker pool of corvella-tags show: results reach the consumer in index order
// whatever the number of workers, no more than the window is held, a stop and an exception end
// the run as the serial loop would.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <numeric>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "cli/ordered_work.h"

namespace {

// Some items take longer than others, so that the workers finish out of order.
void Uneven(std::size_t i)
{
  if (i % 7 == 3) std::this_thread::sleep_for(std::chrono::microseconds(200));
}

struct TCase {
  unsigned Workers;
  std::size_t Window;
  std::size_t Count;
};

class CliRunOrderedTable : public ::testing::TestWithParam<TCase> {};

TEST_P(CliRunOrderedTable, EveryResultInOrderWithinTheWindow)
{
  const TCase c = GetParam();
  std::atomic<int> held{0}, mostHeld{0};
  std::mutex threadsLock;
  std::set<std::thread::id> threads;
  std::vector<std::string> seen;
  const bool finished = RunOrdered<std::string>(
    c.Count, c.Workers, c.Window,
    [&](std::size_t i) {
      Uneven(i);
      {
        std::lock_guard l(threadsLock);
        threads.insert(std::this_thread::get_id());
      }
      const int now = ++held;
      for (int m = mostHeld; now > m && !mostHeld.compare_exchange_weak(m, now);) {}
      return std::to_string(i);
    },
    [&](std::string &&s) {
      --held;
      seen.push_back(std::move(s));
      return true;
    });
  EXPECT_TRUE(finished);
  ASSERT_EQ(seen.size(), c.Count);
  for (std::size_t i = 0; i < c.Count; ++i) ASSERT_EQ(seen[i], std::to_string(i));
  // The window, and the one result in the consumer's hands.
  EXPECT_LE(static_cast<std::size_t>(mostHeld.load()), std::max<std::size_t>(1, c.Window) + 1);
  EXPECT_LE(threads.size(), std::max(1u, c.Workers));
  if (c.Workers <= 1) {
    EXPECT_EQ(threads, std::set<std::thread::id>{std::this_thread::get_id()});
  }
}

INSTANTIATE_TEST_SUITE_P(Table, CliRunOrderedTable,
                         ::testing::Values(TCase{1, 256, 500}, TCase{2, 256, 500}, TCase{4, 3, 500}, TCase{8, 1, 200},
                                           TCase{3, 256, 2}, TCase{16, 256, 5}, TCase{4, 0, 50}, TCase{4, 256, 0},
                                           TCase{0, 256, 20}),
                         [](const auto &p) {
                           const TCase &c = p.param;
                           return "workers" + std::to_string(c.Workers) + "_window" + std::to_string(c.Window) +
                                  "_items" + std::to_string(c.Count);
                         });

// A false from the consumer ends the run: nothing after it is consumed, and the workers claim
// no more than the window beyond it.
TEST(CliRunOrdered, StopsWhenTheConsumerSaysSo)
{
  for (unsigned workers : {1u, 2u, 4u}) {
    SCOPED_TRACE(workers);
    std::atomic<std::size_t> produced{0};
    std::vector<std::size_t> seen;
    const bool finished = RunOrdered<std::size_t>(
      10000, workers, 8,
      [&](std::size_t i) {
        ++produced;
        Uneven(i);
        return i;
      },
      [&](std::size_t &&i) {
        seen.push_back(i);
        return i < 10;
      });
    EXPECT_FALSE(finished);
    std::vector<std::size_t> want(11);
    std::iota(want.begin(), want.end(), 0);
    EXPECT_EQ(seen, want);
    EXPECT_LE(produced.load(), 11u + 8u);
  }
}

// An exception from one item reaches the caller after every earlier result was consumed.
TEST(CliRunOrdered, AnExceptionArrivesInItsPlace)
{
  for (unsigned workers : {1u, 2u, 4u}) {
    SCOPED_TRACE(workers);
    std::vector<std::size_t> seen;
    EXPECT_THROW(RunOrdered<std::size_t>(
                   1000, workers, 16,
                   [&](std::size_t i) {
                     Uneven(i);
                     if (i == 50) throw std::runtime_error("item 50");
                     return i;
                   },
                   [&](std::size_t &&i) {
                     seen.push_back(i);
                     return true;
                   }),
                 std::runtime_error);
    std::vector<std::size_t> want(50);
    std::iota(want.begin(), want.end(), 0);
    EXPECT_EQ(seen, want);
  }
}

// Several threads really share the work when the items wait for something.
TEST(CliRunOrdered, WorkersShareTheItems)
{
  std::mutex threadsLock;
  std::set<std::thread::id> threads;
  RunOrdered<int>(
    64, 4, 256,
    [&](std::size_t) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      std::lock_guard l(threadsLock);
      threads.insert(std::this_thread::get_id());
      return 0;
    },
    [](int &&) { return true; });
  EXPECT_GT(threads.size(), 1u);
}

} // namespace
