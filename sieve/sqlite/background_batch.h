// A batch of items worked on by helper threads while the calling thread goes on with work of
// its own (filling the next batch, keeping or writing out the one before), then takes a share
// of what is left when it waits. Serial work beside the batches then costs no core its time.
// Each thread has a slot (the helpers 1 and up, the calling thread 0) to keep scratch memory
// of its own under; the calling thread must leave slot 0's scratch alone while a batch runs.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace sieve::sqlite {

// Threads a batch runs on at most: slots of per-thread scratch are numbered below it.
constexpr std::size_t kMaxParallelThreads = 8;

// The threads a batch of many items runs on this machine: its slots are below this.
inline std::size_t ParallelThreads() {
  // Asked once: the count is read from a file of the system at each asking.
  static const std::size_t threads =
      std::min<std::size_t>(std::max(1u, std::thread::hardware_concurrency()), kMaxParallelThreads);
  return threads;
}

class BackgroundBatch {
 public:
  using Work = std::function<void(std::size_t item, std::size_t slot)>;

  BackgroundBatch() = default;
  BackgroundBatch(const BackgroundBatch&) = delete;
  BackgroundBatch& operator=(const BackgroundBatch&) = delete;
  ~BackgroundBatch() {
    Finish();
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& helper : helpers_) helper.join();
  }

  // Starts work(i, slot) for every i below `count` on the helpers, `step` items at a time (1
  // for few large ones); the batch before must be finished. With no core to spare,
  // everything waits for Finish(), unless `helpers` asks for that many at least. The helpers
  // stay for the next batch: a carve runs thousands of short ones, and a thread started for
  // each began late and cost more than some of them.
  void Start(std::size_t count, Work work, std::size_t step = 16, std::size_t helpers = 0) {
    Finish();
    work_ = std::move(work);
    count_ = count;
    step_ = std::max<std::size_t>(step, 1);
    next_.store(0, std::memory_order_relaxed);
    std::size_t threads = std::min<std::size_t>(ParallelThreads(), (count + step_ - 1) / step_);
    if (count > 0) threads = std::max(threads, helpers + 1);
    // The helpers this batch lacks are started before it is announced, as having seen the
    // batches before: where a thread cannot be started, nothing waits for it.
    std::uint64_t seen = 0;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      seen = generation_;
    }
    while (helpers_.size() + 1 < threads) {
      helpers_.emplace_back([this, slot = helpers_.size() + 1, seen] { Serve(slot, seen); });
    }
    running_ = true;
    if (threads <= 1) return;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      taking_ = threads - 1;
      busy_ = taking_;
      ++generation_;
    }
    wake_.notify_all();
  }

  // This thread works on what is left, then waits until every item is done.
  void Finish() {
    if (!running_) return;
    Run(0);
    {
      std::unique_lock<std::mutex> lock(mutex_);
      done_.wait(lock, [this] { return busy_ == 0; });
    }
    work_ = nullptr;
    running_ = false;
  }

 private:
  void Run(std::size_t slot) {
    for (std::size_t from; (from = next_.fetch_add(step_, std::memory_order_relaxed)) < count_;) {
      for (std::size_t i = from; i < std::min(count_, from + step_); ++i) work_(i, slot);
    }
  }

  void Serve(std::size_t slot, std::uint64_t seen) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
      if (stopping_) return;
      seen = generation_;
      if (slot > taking_) continue;  // a batch of fewer items than helpers
      lock.unlock();
      Run(slot);
      lock.lock();
      if (--busy_ == 0) done_.notify_one();
    }
  }

  Work work_;
  std::size_t count_ = 0;
  std::size_t step_ = 16;
  std::atomic<std::size_t> next_{0};
  bool running_ = false;

  std::vector<std::thread> helpers_;
  std::mutex mutex_;  // over what follows
  std::condition_variable wake_, done_;
  std::uint64_t generation_ = 0;  // batches started with helpers
  std::size_t taking_ = 0;        // helpers that take the current batch (slots 1 to it)
  std::size_t busy_ = 0;          // of them, those not done with it
  bool stopping_ = false;
};

}  // namespace sieve::sqlite
