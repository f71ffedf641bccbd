// A batch of items worked on by helper threads while the calling thread goes on with work of
// its own (filling the next batch, keeping or writing out the one before), then takes a share
// of what is left when it waits. Serial work beside the batches then costs no core its time.
// Each thread has a slot (the helpers 1 and up, the calling thread 0) to keep scratch memory
// of its own under; the calling thread must leave slot 0's scratch alone while a batch runs.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <functional>
#include <thread>
#include <vector>

namespace sieve::sqlite {

// Threads a batch runs on at most: slots of per-thread scratch are numbered below it.
constexpr std::size_t kMaxParallelThreads = 8;

// The threads a batch of many items runs on this machine: its slots are below this.
inline std::size_t ParallelThreads() {
  return std::min<std::size_t>(std::max(1u, std::thread::hardware_concurrency()), kMaxParallelThreads);
}

class BackgroundBatch {
 public:
  using Work = std::function<void(std::size_t item, std::size_t slot)>;

  BackgroundBatch() = default;
  BackgroundBatch(const BackgroundBatch&) = delete;
  BackgroundBatch& operator=(const BackgroundBatch&) = delete;
  ~BackgroundBatch() { Finish(); }

  // Starts work(i, slot) for every i below `count` on the helpers, `step` items at a time (1
  // for few large ones); the batch before must be finished. With no core to spare,
  // everything waits for Finish(), unless `helpers` asks for that many at least.
  void Start(std::size_t count, Work work, std::size_t step = 16, std::size_t helpers = 0) {
    Finish();
    work_ = std::move(work);
    count_ = count;
    step_ = std::max<std::size_t>(step, 1);
    next_.store(0, std::memory_order_relaxed);
    std::size_t threads = std::min<std::size_t>(ParallelThreads(), (count + step_ - 1) / step_);
    if (count > 0) threads = std::max(threads, helpers + 1);
    for (std::size_t slot = 1; slot < threads; ++slot) helpers_.emplace_back([this, slot] { Run(slot); });
    running_ = true;
  }

  // This thread works on what is left, then waits until every item is done.
  void Finish() {
    if (!running_) return;
    Run(0);
    for (std::thread& helper : helpers_) helper.join();
    helpers_.clear();
    work_ = nullptr;
    running_ = false;
  }

 private:
  void Run(std::size_t slot) {
    for (std::size_t from; (from = next_.fetch_add(step_, std::memory_order_relaxed)) < count_;) {
      for (std::size_t i = from; i < std::min(count_, from + step_); ++i) work_(i, slot);
    }
  }

  Work work_;
  std::size_t count_ = 0;
  std::size_t step_ = 16;
  std::atomic<std::size_t> next_{0};
  std::vector<std::thread> helpers_;
  bool running_ = false;
};

}  // namespace sieve::sqlite
