// Opening an encrypted backup before its scan: the password is asked until it
// opens the backup (again after a wrong or empty one, for the same backup),
// and a backup that cannot be read is explained to the user. Shared by the
// backup list and the device backup.
#pragma once

#include <QString>
#include <functional>
#include <optional>

#include "quarry/views/backup_open.h"
#include "quarry/views/backup_shelf.h"

class QWidget;

namespace quarry {

// Asks the password of a backup and checks it with `check` away from the
// window thread; the check's outcome, or nullopt on cancel (also while it
// ran). `message` tells why it is asked again.
using PasswordPrompt = std::function<std::optional<views::PasswordOutcome>(
    const QString& backupName, const QString& message, const views::PasswordChecker& check)>;

// The real dialog, over `parent`.
PasswordPrompt DialogPasswordPrompt(QWidget* parent);

enum class BackupOpening { kOpened, kCancelled, kUnreadable };

// Opens `backup` for its scan: at once when it is not encrypted, else with
// the password `prompt` gets. kUnreadable after the user was told why.
BackupOpening OpenForScan(QWidget* parent, views::ShelfBackup& backup, const PasswordPrompt& prompt);

}  // namespace quarry
