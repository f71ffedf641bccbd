#include "sieve/scan_polling.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace sieve {

int ScanWithPolling(CItunesBackupReader& reader, int index, const ScanPolling& polling) {
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  int result = 0;
  std::thread worker([&] {
    const int r = polling.scan ? polling.scan() : reader.ReadBackup(index);
    const std::lock_guard<std::mutex> lock(mutex);
    result = r;
    done = true;
    finished.notify_one();
  });
  bool stopSent = false;
  try {
    std::unique_lock<std::mutex> lock(mutex);
    while (!finished.wait_for(lock, polling.every, [&] { return done; })) {
      // Unlocked while calling out: the worker must be able to finish meanwhile.
      lock.unlock();
      if (!stopSent && polling.stopRequested && polling.stopRequested()) {
        reader.SetStop(index, 1);
        stopSent = true;
      }
      if (polling.progress) polling.progress(reader.GetPrg(index));
      lock.lock();
    }
  } catch (...) {
    reader.SetStop(index, 1);
    worker.join();
    throw;
  }
  worker.join();
  if (polling.progress) polling.progress(reader.GetPrg(index));
  return result;
}

}  // namespace sieve
