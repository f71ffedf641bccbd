#include "quarry/views/backup_open.h"

#include <QDir>
#include <algorithm>
#include <string>

namespace quarry::views {

PasswordCheck CheckBackupPassword(sieve::CItunesBackupReader& reader, int index, const QString& password) {
  if (password.isEmpty()) return PasswordCheck::kEmpty;
  QByteArray bytes = password.toUtf8();
  std::string secret(bytes.constData(), static_cast<std::size_t>(bytes.size()));
  reader.SetPassword(index, secret);
  std::fill(secret.begin(), secret.end(), '\0');
  bytes.fill('\0');
  const int checked = reader.CheckPassword(index);
  if (checked > 0) return PasswordCheck::kAccepted;
  if (checked < 0) return PasswordCheck::kWrong;
  // 0: not encrypted after all, or no usable key bag.
  return reader.GetIsEncrypt(index) == 0 ? PasswordCheck::kAccepted : PasswordCheck::kUnreadable;
}

QString BackupErrorText(const sieve::CItunesBackupReader& reader, int index, const TextLookup& texts) {
  const sieve::ReaderError error = reader.LastError(index);
  const QString folder = QDir::toNativeSeparators(QString::fromStdString(reader.BackupFolder(index)));
  switch (error) {
    case sieve::ReaderError::None:
    case sieve::ReaderError::Stopped:
      return {};
    case sieve::ReaderError::WrongPassword:
      return ViewText(texts, QStringLiteral("ITUNES_ERROR_PWD"));
    default: {
      const QString reason = QString::fromStdString(reader.LastErrorText(index));
      return ViewText(texts, QStringLiteral("ITUNES_ERROR_UNREADABLE")).arg(folder, reason);
    }
  }
}

}  // namespace quarry::views
