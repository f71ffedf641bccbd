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

}  // namespace sieve::sqlite
