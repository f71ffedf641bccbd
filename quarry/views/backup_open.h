// Opening one backup of a reader before its scan: the password of an
// encrypted backup, checked at once so a wrong one can be asked again for the
// same backup, and a clear message when the backup cannot be read.
#pragma once

#include <QString>

#include "quarry/views/view_texts.h"
#include "sieve/itunes_backup_reader.h"

namespace quarry::views {

enum class PasswordCheck {
  kAccepted,       // the key bag opened, or the backup is not encrypted
  kWrong,          // ask again for the same backup
  kEmpty,          // nothing typed: ask again
  kUnreadable,     // the backup itself cannot be opened (see BackupErrorText)
};

// Hands the password to the reader as its whole UTF-8 bytes (never cut) and
// checks it. The reader keeps it in memory only; the temporary copy made here
// is wiped.
PasswordCheck CheckBackupPassword(sieve::CItunesBackupReader& reader, int index, const QString& password);

// What the user is told when the backup cannot be read: a wrong password, or
// the reader's reason. Empty when the backup's last operation did not fail.
QString BackupErrorText(const sieve::CItunesBackupReader& reader, int index, const TextLookup& texts);

}  // namespace quarry::views
