// Runs work(i) for every i below `count` on the machine's cores, the calling thread among
// them, and returns when all are done. Items are handed out a few at a time, as their cost
// varies. `work` must be safe to run on different items at once.
#pragma once

#include <cstddef>
#include <functional>

#include "sieve/sqlite/background_batch.h"

namespace sieve::sqlite {

// As ParallelFor below, with the slot of the thread running each item (0 for the calling
// thread), so that each thread can keep scratch memory of its own from item to item. Items
// are handed out `step` at a time: 1 for few large ones.
inline void ParallelForSlots(std::size_t count, const std::function<void(std::size_t, std::size_t)>& work,
                             const std::function<void()>& alongside = {}, std::size_t step = 16) {
  BackgroundBatch batch;
  // With work alongside, one helper at least, so that the two overlap.
  batch.Start(count, work, step, alongside ? 1 : 0);
  if (alongside) alongside();
  batch.Finish();
}

// With `alongside`, the calling thread first runs it while at least one helper starts on the
// items, then joins them: serial work on the previous batch's results (merging them, writing
// them out) overlaps the search of the next batch.
inline void ParallelFor(std::size_t count, const std::function<void(std::size_t)>& work,
                        const std::function<void()>& alongside = {}) {
  ParallelForSlots(count, [&work](std::size_t i, std::size_t) { work(i); }, alongside);
}

}  // namespace sieve::sqlite
