// A scan on a worker thread while the calling thread keeps a person informed:
// the one loop `sieve scan` and `quarry --recover` share.
#pragma once

#include <chrono>
#include <functional>

#include "sieve/itunes_backup_reader.h"

namespace sieve {

struct ScanPolling {
  std::chrono::milliseconds every{100};
  // Called on the calling thread after every wait with GetPrg, and once more when
  // the scan has ended; may be empty.
  std::function<void(float percent)> progress;
  // Polled after every wait (say, "has Ctrl-C arrived"); its first true becomes
  // SetStop, and the scan ends at its next check. May be empty.
  std::function<bool()> stopRequested;
  // What runs on the worker; empty runs reader.ReadBackup(index). A caller that
  // sets its callback around ReadBackup puts that here.
  std::function<int()> scan;
};

// Runs the scan of backup `index` on a thread of its own, polls as above, and
// returns the scan's result once the thread has ended. Should `progress` or
// `stopRequested` throw, the scan is stopped and joined before the exception goes on.
int ScanWithPolling(CItunesBackupReader& reader, int index, const ScanPolling& polling);

}  // namespace sieve
