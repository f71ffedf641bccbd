#include "quarry/views/backup_shelf.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace quarry::views {

QString BackupShelf::FolderName(const QString& folder) {
  return QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
}

std::shared_ptr<ShelfBackup> BackupShelf::Read(const QString& name) {
  auto backup = std::make_shared<ShelfBackup>();
  backup->folder = name;
  if (backup->reader.ReadItunesbackFromPath(QFile::encodeName(name).constData()) != ShelfBackup::kIndex) return nullptr;
  return backup;
}

std::vector<std::string> BackupShelf::List(const QString& root) {
  // The reader decides what counts as a backup and names the damaged ones.
  sieve::CItunesBackupReader scout;
  scout.GetItunesBackList(QFile::encodeName(root).constData());
  QStringList folders;
  for (int i = 0; i < scout.GetBackuplistCount(); ++i) folders << FolderName(QString::fromStdString(scout.BackupFolder(i)));
  // The scout keeps one of two backups with the same name and date; the shelf keeps both.
  const QFileInfoList entries = QDir(root).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
  for (const QFileInfo& entry : entries) {
    const QString name = FolderName(entry.filePath());
    if (!folders.contains(name) && QFileInfo::exists(name + QStringLiteral("/Info.plist"))) folders << name;
  }
  for (const QString& folder : folders) Add(folder);
  return scout.ListingProblems();
}

std::shared_ptr<ShelfBackup> BackupShelf::Find(const QString& folder) const {
  const QString name = FolderName(folder);
  for (const std::shared_ptr<ShelfBackup>& backup : backups_) {
    if (backup->folder == name) return backup;
  }
  return nullptr;
}

std::shared_ptr<ShelfBackup> BackupShelf::Add(const QString& folder) {
  if (std::shared_ptr<ShelfBackup> known = Find(folder)) return known;
  std::shared_ptr<ShelfBackup> backup = Read(FolderName(folder));
  if (backup != nullptr) backups_.push_back(backup);
  return backup;
}

std::shared_ptr<ShelfBackup> BackupShelf::Renew(const QString& folder) {
  const QString name = FolderName(folder);
  std::shared_ptr<ShelfBackup> backup = Read(name);
  const auto old = std::find_if(backups_.begin(), backups_.end(),
                                [&name](const std::shared_ptr<ShelfBackup>& held) { return held->folder == name; });
  if (backup == nullptr) {
    if (old != backups_.end()) backups_.erase(old);
  } else if (old != backups_.end()) {
    *old = backup;
  } else {
    backups_.push_back(backup);
  }
  return backup;
}

}  // namespace quarry::views
