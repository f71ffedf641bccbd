// One scan of one backup: registers the record callback, runs ReadBackup on the
// calling thread (a worker of the window, or the headless program's thread)
// and keeps copies of the records until the models' thread takes them.
#pragma once

#include <QString>
#include <array>
#include <atomic>
#include <deque>
#include <mutex>
#include <utility>

#include "sieve/itunes_backup_reader.h"
#include "sieve/record_visit.h"

namespace quarry::views {

class CategoryModel;

// The model that receives each record kind; a null model drops its kind.
using ScanTargets = std::array<CategoryModel*, sieve::kInfoTypeCount>;

class ScanSession {
 public:
  ScanSession(sieve::CItunesBackupReader& reader, int index);
  ~ScanSession();
  ScanSession(const ScanSession&) = delete;
  ScanSession& operator=(const ScanSession&) = delete;

  // Clears pause and stop, registers the callback and scans. Returns ReadBackup's
  // result (-1 wrong password, 0 no index or key bag, 1 stopped, else the notes
  // extractor's result). Any thread; one Run at a time.
  int Run();
  bool Running() const { return running_; }

  // Any thread.
  float Progress() const;
  void SetPaused(bool paused);
  void Stop();

  // Records found so far per kind, counted as the category list counts them (a
  // media group adds its number of files).
  std::int64_t FoundCount(sieve::_InfoType type) const;

  // On the models' thread: hands the records copied since the last call to the
  // models, for at most `budgetMs` milliseconds (negative: all of them), so that a
  // window stays responsive while a large scan pours in. Returns how many were handed
  // over; Pending() tells whether some wait for the next call.
  int Deliver(const ScanTargets& targets, int budgetMs = -1);
  bool Pending() const;

 private:
  static void OnRecord(void* record, sieve::_InfoType type, void* user);
  void Take(const void* record, sieve::_InfoType type);

  sieve::CItunesBackupReader& reader_;
  const int index_;
  std::atomic<bool> running_{false};
  std::array<std::atomic<std::int64_t>, sieve::kInfoTypeCount> found_{};

  mutable std::mutex mutex_;  // guards the copies below
  std::deque<std::pair<int, sieve::AnyRecord>> pending_;
};

}  // namespace quarry::views
