// Runs work(i) for every i below `count` on the machine's cores, the calling thread among
// them, and returns when all are done. Items are handed out a few at a time, as their cost
// varies. `work` must be safe to run on different items at once.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <functional>
#include <thread>
#include <vector>

namespace sieve::sqlite {

// Threads a ParallelFor runs at most: slots of per-thread scratch are numbered below it.
constexpr std::size_t kMaxParallelThreads = 8;

// The threads a ParallelFor of many items runs on this machine: its slots are below this.
inline std::size_t ParallelThreads() {
  return std::min<std::size_t>(std::max(1u, std::thread::hardware_concurrency()), kMaxParallelThreads);
}

// As ParallelFor below, with the slot of the thread running each item (0 for the calling
// thread), so that each thread can keep scratch memory of its own from item to item. Items
// are handed out `step` at a time: 1 for few large ones.
inline void ParallelForSlots(std::size_t count, const std::function<void(std::size_t, std::size_t)>& work,
                             const std::function<void()>& alongside = {}, std::size_t step = 16) {
  const std::size_t take = std::max<std::size_t>(step, 1);
  std::size_t threads = std::min<std::size_t>(ParallelThreads(), (count + take - 1) / take);
  if (alongside && count > 0) threads = std::max<std::size_t>(threads, 2);
  std::atomic<std::size_t> next{0};
  const auto run = [&](std::size_t slot) {
    for (std::size_t from; (from = next.fetch_add(take)) < count;) {
      for (std::size_t i = from; i < std::min(count, from + take); ++i) work(i, slot);
    }
  };
  std::vector<std::thread> helpers;
  for (std::size_t t = 1; t < threads; ++t) helpers.emplace_back(run, t);
  if (alongside) alongside();
  run(0);
  for (std::thread& helper : helpers) helper.join();
}

// With `alongside`, the calling thread first runs it while at least one helper starts on the
// items, then joins them: serial work on the previous batch's results (merging them, writing
// them out) overlaps the search of the next batch.
inline void ParallelFor(std::size_t count, const std::function<void(std::size_t)>& work,
                        const std::function<void()>& alongside = {}) {
  ParallelForSlots(count, [&work](std::size_t i, std::size_t) { work(i); }, alongside);
}

}  // namespace sieve::sqlite
