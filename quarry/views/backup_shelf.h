// The backups the program has opened, named by their folders. Pages hand a
// backup on by its folder and the results page takes it from here.
//
// Each backup has a reader of its own that holds it alone, at index 0: a
// reader's positions move when it takes in another backup, and a device
// backup written anew into the same folder must replace the old one without
// disturbing a scan that still reads the old one (its holder keeps it alive).
#pragma once

#include <QString>
#include <memory>
#include <string>
#include <vector>

#include "sieve/itunes_backup_reader.h"

namespace quarry::views {

struct ShelfBackup {
  static constexpr int kIndex = 0;  // the backup's index in its reader
  QString folder;                   // absolute and clean
  sieve::CItunesBackupReader reader;
};

class BackupShelf {
 public:
  // The name a folder has on the shelf: absolute and clean.
  static QString FolderName(const QString& folder);

  // Puts the backups found directly under `root` on the shelf; those already
  // there stay as they are. Returns the folders that look like backups but
  // could not be listed, each "folder: reason".
  std::vector<std::string> List(const QString& root);
  // The backup in `folder`: the one on the shelf, else read now and added.
  // Null when the folder holds no backup.
  std::shared_ptr<ShelfBackup> Add(const QString& folder);
  // Reads `folder` again (a new backup was written there) and puts it in
  // place of the one on the shelf. Null, and the old one dropped, when the
  // folder no longer holds a backup.
  std::shared_ptr<ShelfBackup> Renew(const QString& folder);
  // The backup on the shelf in `folder`, or null.
  std::shared_ptr<ShelfBackup> Find(const QString& folder) const;
  // Every backup on the shelf, in the order they were added.
  const std::vector<std::shared_ptr<ShelfBackup>>& Backups() const { return backups_; }

 private:
  static std::shared_ptr<ShelfBackup> Read(const QString& name);

  std::vector<std::shared_ptr<ShelfBackup>> backups_;
};

}  // namespace quarry::views
