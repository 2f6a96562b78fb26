#pragma once
// RunOrdered: computes Count results on a small pool of threads and hands them to one consumer
// in index order, exactly as the serial loop
//   for (i = 0; i < Count; ++i) if (!Consume(Produce(i))) break;
// would. Results are claimed in increasing index order and may run at most Window results
// ahead of the consumer, so whatever Count is, no more than Window results are held at once.
// The calling thread is one of the Workers: between results of its own it consumes every result
// that is due, so it waits only when it has nothing to claim; the other threads never run
// Consume. A wake-up is sent only to a thread that sleeps for it, so a run of results costs no
// system call per result. Produce is called on several threads at once and must share no
// mutable state. A false from Consume stops the run: the others finish the item in hand and
// take no more. An exception from Produce is carried to the calling thread and rethrown there
// when its result is due, after every earlier result was consumed, as in the loop above. With
// one worker or one item, or when no thread can be started, the plain loop runs.
// Returns false when Consume stopped the run.

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

template <typename TResult, typename TProduce, typename TConsume>
bool RunOrdered(std::size_t Count, unsigned Workers, std::size_t Window, TProduce &&Produce, TConsume &&Consume)
{
  if (Workers <= 1 || Count <= 1) {
    for (std::size_t i = 0; i < Count; ++i)
      if (!Consume(Produce(i))) return false;
    return true;
  }

  struct TSlot {
    std::optional<TResult> Value;
    std::exception_ptr Error;
    bool Ready = false;
  };
  std::mutex lock;
  std::condition_variable spaceFreed, dueReady;
  std::vector<TSlot> ring(std::max<std::size_t>(1, std::min(Window, Count)));
  std::size_t next = 0, consumed = 0, idleHelpers = 0;
  bool stop = false, consumerWaits = false;

  const auto claimable = [&] { return next < Count && next < consumed + ring.size(); };
  // Produces result i outside the lock and stores it; called with Held locked, returns locked.
  const auto produce = [&](std::unique_lock<std::mutex> &Held, std::size_t i) {
    Held.unlock();
    TSlot slot;
    try {
      slot.Value.emplace(Produce(i));
    } catch (...) {
      slot.Error = std::current_exception();
    }
    slot.Ready = true;
    Held.lock();
    ring[i % ring.size()] = std::move(slot);
    if (consumerWaits && i == consumed) dueReady.notify_one();
  };
  const auto help = [&] {
    std::unique_lock held(lock);
    for (;;) {
      if (!stop && !claimable() && next < Count) {
        ++idleHelpers;
        spaceFreed.wait(held, [&] { return stop || claimable() || next >= Count; });
        --idleHelpers;
      }
      if (stop || next >= Count) return;
      produce(held, next++);
    }
  };

  std::vector<std::thread> helpers;
  // Declared after what the helpers use, so that on every way out (a false from Consume, an
  // exception) they are stopped and joined before any of it goes away.
  struct TJoinAll {
    std::vector<std::thread> &Threads;
    std::mutex &Lock;
    std::condition_variable &SpaceFreed;
    bool &Stop;
    ~TJoinAll()
    {
      {
        std::lock_guard held(Lock);
        Stop = true;
      }
      SpaceFreed.notify_all();
      for (std::thread &t : Threads) t.join();
    }
  } joinAll{helpers, lock, spaceFreed, stop};
  try {
    for (std::size_t w = 1; w < std::min<std::size_t>(Workers, Count); ++w) helpers.emplace_back(help);
  } catch (const std::system_error &) {
    // Fewer threads than asked for still do the work; with none this thread does it alone.
  }

  std::unique_lock held(lock);
  while (consumed < Count) {
    TSlot &due = ring[consumed % ring.size()];
    if (due.Ready) {
      TSlot slot = std::move(due);
      due = TSlot();
      ++consumed;
      if (idleHelpers > 0) spaceFreed.notify_one();
      held.unlock();
      if (slot.Error) std::rethrow_exception(slot.Error);
      if (!Consume(std::move(*slot.Value))) return false;
      held.lock();
    } else if (claimable()) {
      produce(held, next++);
    } else {
      consumerWaits = true;
      dueReady.wait(held, [&] { return due.Ready; });
      consumerWaits = false;
    }
  }
  return true;
}
