// One scan of one backup: registers the record callback, runs ReadBackup on the
// calling thread (a worker of the window, or the headless program's thread)
// and keeps copies of the records until the models' thread takes them.
#pragma once

#include <QString>
#include <array>
#include <atomic>
#include <mutex>
#include <vector>

#include "sieve/itunes_backup_reader.h"
#include "sieve/records.h"

namespace quarry::views {

class ContactsModel;

// The models that receive records; a null model drops its category.
struct ScanTargets {
  ContactsModel* Contacts = nullptr;
};

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

  // Records found so far per category, counted as the category list counts
  // them (a media group adds its number of files).
  std::int64_t FoundCount(sieve::_InfoType type) const;

  // On the models' thread: hands the records copied since the last call to
  // the models and returns how many were handed over.
  int Deliver(const ScanTargets& targets);

 private:
  static void OnRecord(void* record, sieve::_InfoType type, void* user);
  void Take(const void* record, sieve::_InfoType type);

  sieve::CItunesBackupReader& reader_;
  const int index_;
  std::atomic<bool> running_{false};
  std::array<std::atomic<std::int64_t>, sieve::kInfoTypeCount> found_{};

  std::mutex mutex_;  // guards the copies below
  std::vector<sieve::ContactRecord> pendingContacts_;
};

}  // namespace quarry::views
