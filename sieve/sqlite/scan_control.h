// How a long run over a file is watched and stopped from another thread, the way the
// reader's scan is: the run asks stopRequested between units of work (it may wait there
// while the caller pauses) and reports how far it got.
#pragma once

#include <functional>

namespace sieve::sqlite {

struct ScanControl {
  std::function<bool()> stopRequested;   // true: end the run now; may block while paused
  std::function<void(double)> progress;  // 0..1, never decreasing

  bool Stop() const { return stopRequested && stopRequested(); }
  void Report(double done) const {
    if (progress) progress(done);
  }
};

// The scan's control for the loops deep inside it that nothing hands one to: SQLite
// statements, an extractor's carving, the decryption of a stored file. The scan installs
// its own for as long as it runs on its thread, so its stop (and pause) reach them; the
// innermost one installed is the one asked.
class ThreadScanControl {
 public:
  explicit ThreadScanControl(const ScanControl& control);
  ~ThreadScanControl();
  ThreadScanControl(const ThreadScanControl&) = delete;
  ThreadScanControl& operator=(const ThreadScanControl&) = delete;

  // Null outside a scan.
  static const ScanControl* Current();
  // False outside a scan.
  static bool StopRequested();

 private:
  const ScanControl* outer_;
};

}  // namespace sieve::sqlite
