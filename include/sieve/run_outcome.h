// What a reader's failure means for a program run: its exit status and one clear
// English line. `sieve` and `quarry --recover` share both, so the two tell a
// user the same thing with the same code.
#pragma once

#include <string>
#include <string_view>

#include "sieve/itunes_backup_reader.h"

namespace sieve {

// The exit statuses doc/sieve.1 documents.
enum ExitStatus : int {
  kExitOk = 0,
  kExitFailure = 1,
  kExitUsage = 2,
  kExitWrongPassword = 3,  // or a wrong key
  kExitNotABackup = 4,     // missing folder, or a folder that is not a backup
};

struct RunOutcome {
  int status = kExitOk;
  std::string message;  // "" when status is kExitOk
  bool Failed() const { return status != kExitOk; }
};

// kExitOk for ReaderError::None.
ExitStatus ExitStatusFor(ReaderError error);

// The failure `error` as an outcome (never kExitOk: no error is a failure without
// a reason). `errorText` is the reader's own text, `fallback` what to say when it
// has none; `folder` names the backup.
RunOutcome FailureOutcome(ReaderError error, std::string_view errorText, std::string_view folder,
                          std::string_view fallback);
// The reader's last failure on this backup.
RunOutcome FailureOutcome(const CItunesBackupReader& reader, int index, std::string_view fallback);

// What ReadBackup's `result` and the error it left mean: wrong password, stopped,
// failed with the reader's reason (also when no database could be read), or kExitOk
// (databases read only in part, or not at all beside others: warnings).
RunOutcome ScanOutcome(int result, ReaderError error, std::string_view errorText, std::string_view folder);
RunOutcome ScanOutcome(const CItunesBackupReader& reader, int index, int result);

// True when the scan ended before delivering any record (wrong password, no key
// bag, no readable index): there is nothing to sum up.
bool NothingScanned(ReaderError error);

}  // namespace sieve
