#include "quarry/pages/backup_password.h"

#include "quarry/app/rb_dictionary.h"
#include "quarry/controls/message_box.h"
#include "quarry/pages/password_dlg.h"

namespace quarry {

namespace {

QString Text(const char* key) { return Translate(QString::fromLatin1(key)); }

views::TextLookup Dictionary() {
  return [](const QString& key) {
    const QString text = Translate(key);
    return text == key ? QString() : text;  // missing: the views' English text
  };
}

}  // namespace

PasswordPrompt DialogPasswordPrompt(QWidget* parent) {
  return [parent](const QString& name, const QString& message, const views::PasswordChecker& check) {
    return CPasswordDlg::Ask(parent, name, message, check);
  };
}

BackupOpening OpenForScan(QWidget* parent, views::ShelfBackup& backup, const PasswordPrompt& prompt) {
  sieve::CItunesBackupReader& reader = backup.reader;
  const int index = views::ShelfBackup::kIndex;
  if (reader.GetIsEncrypt(index) == 0) return BackupOpening::kOpened;
  const QString name = QString::fromStdString(reader.BackupName(index));
  const std::string folder = reader.BackupFolder(index);
  const views::PasswordChecker check = [folder](const QString& password) {
    return views::PasswordJob::Start(folder, password);
  };
  QString message;
  for (;;) {
    const std::optional<views::PasswordOutcome> outcome = prompt ? prompt(name, message, check) : std::nullopt;
    if (!outcome) return BackupOpening::kCancelled;
    const views::PasswordCheck checked = views::ApplyPasswordOutcome(reader, index, *outcome);
    if (checked == views::PasswordCheck::kAccepted) return BackupOpening::kOpened;
    if (checked == views::PasswordCheck::kUnreadable) {
      const QString reason = outcome->Check == views::PasswordCheck::kUnreadable
                                 ? views::BackupErrorText(QString::fromStdString(folder), outcome->Error,
                                                          QString::fromStdString(outcome->ErrorText), Dictionary())
                                 : views::BackupErrorText(reader, index, Dictionary());
      WarnUser(parent, Text("IDS_APP_NAME"), reason);
      return BackupOpening::kUnreadable;
    }
    message = Text(checked == views::PasswordCheck::kEmpty ? "ITUNES_PWD_EMPTY" : "ITUNES_ERROR_PWD");
  }
}

}  // namespace quarry
