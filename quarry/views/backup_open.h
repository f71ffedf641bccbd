// Opening one backup of a reader before its scan: the password of an
// encrypted backup, checked at once so a wrong one can be asked again for the
// same backup, and a clear message when the backup cannot be read.
//
// The check derives the password's key, which takes seconds for backups of
// iOS 10.2 and later. It runs on a reader of its own over the same folder, so
// it can run on a worker while the caller's reader stays in use, and be
// abandoned; the caller's reader then opens with the derived key at once.
#pragma once

#include <QString>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "quarry/views/view_texts.h"
#include "sieve/itunes_backup_reader.h"

namespace quarry::views {

enum class PasswordCheck {
  kAccepted,       // the key bag opened, or the backup is not encrypted
  kWrong,          // ask again for the same backup
  kEmpty,          // nothing typed: ask again
  kUnreadable,     // the backup itself cannot be opened (see BackupErrorText)
};

// What a password check found: the key derived from the password when it opens
// the backup, else why not. The key is wiped with the object.
struct PasswordOutcome {
  PasswordCheck Check = PasswordCheck::kUnreadable;
  std::optional<sieve::FileKey> Key;  // set for an encrypted backup the password opens
  sieve::ReaderError Error = sieve::ReaderError::None;
  std::string ErrorText;  // the reader's reason

  PasswordOutcome() = default;
  PasswordOutcome(const PasswordOutcome&) = default;
  PasswordOutcome& operator=(const PasswordOutcome&) = default;
  ~PasswordOutcome();
};

// Checks `password` (its whole bytes, never cut) against the backup in `folder`
// on a reader of its own; any thread. Wipes `password`.
// `deriving` (when set) is told of the reader before the derivation and of null after
// it, so that another thread may cancel it with SetStop.
PasswordOutcome DerivePasswordKey(const std::string& folder, std::string& password,
                                  const std::function<void(sieve::CItunesBackupReader*, int)>& deriving = {});

// Opens `reader`'s backup with the outcome's key, without deriving again:
// kAccepted when it opened (or needs no password), else the outcome's answer.
PasswordCheck ApplyPasswordOutcome(sieve::CItunesBackupReader& reader, int index, const PasswordOutcome& outcome);

// Hands the password to the reader as its whole UTF-8 bytes and checks it on
// the calling thread. The reader keeps the derived key only; every copy of the
// password made here is wiped.
PasswordCheck CheckBackupPassword(sieve::CItunesBackupReader& reader, int index, const QString& password);

// One check running on a worker of Qt's global thread pool. The window polls
// Done() and takes the outcome; Abandon() drops it whenever it comes.
class PasswordJob {
 public:
  // Copies the password's UTF-8 bytes; the copy is wiped once the check has used it.
  static std::shared_ptr<PasswordJob> Start(const std::string& folder, const QString& password);

  bool Done() const;
  // Blocks until the check has ended (for callers without an event loop).
  void Wait() const;
  // The outcome once Done(); an unreadable one before that or when taken twice.
  PasswordOutcome Take();
  void Abandon();

 private:
  PasswordJob() = default;
  void Run(const std::string& folder);

  mutable std::mutex mutex_;
  mutable std::condition_variable ended_;
  std::string password_;  // wiped by the worker once used
  bool done_ = false;
  bool abandoned_ = false;
  std::optional<PasswordOutcome> outcome_;
  sieve::CItunesBackupReader* deriving_ = nullptr;  // the worker's reader while it derives
  int derivingIndex_ = -1;
};

// Starts the check of a typed password; the backup list binds it to the chosen backup.
using PasswordChecker = std::function<std::shared_ptr<PasswordJob>(const QString& password)>;

// What the user is told when the backup cannot be read: a wrong password, or
// the reader's reason. Empty when the backup's last operation did not fail.
QString BackupErrorText(const sieve::CItunesBackupReader& reader, int index, const TextLookup& texts);
// The same for an error found elsewhere (a check on another reader).
QString BackupErrorText(const QString& folder, sieve::ReaderError error, const QString& reason,
                        const TextLookup& texts);

// True when a scan that returned `result` never got to the records because the
// backup's index or key bag could not be read (LastError says why).
bool ScanFailed(int result, sieve::ReaderError error);

// The reader's warnings on a backup (an unfinished or incremental backup, index
// rows skipped), one per line, each after the dictionary's lead-in, then every database
// the last scan could read only in part or not at all; "" for none.
QString BackupWarningsText(const sieve::CItunesBackupReader& reader, int index, const TextLookup& texts);

}  // namespace quarry::views
