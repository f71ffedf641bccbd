// The backup shelf: one backup per folder however the folder is written, a
// listing that adds to the shelf without replacing, and a folder read anew
// (a device backup written again) replacing its backup while a holder of
// the old one keeps reading it.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "quarry/views/backup_shelf.h"
#include "support/test_support.h"

namespace quarry::views {
namespace {

TEST(BackupShelf, OneBackupPerFolderAndRenewReplacesIt) {
  sieve::test::TempDir dir;
  const auto first = sieve::test::MakeBackup(dir, "root/a", {"--profile", "small", "--display-name", "First"});
  sieve::test::MakeBackup(dir, "root/b", {"--profile", "small", "--display-name", "Second"});
  const QString a = QString::fromStdString(first.Folder);
  const QString root = QDir(QString::fromStdString(dir.Path())).filePath(QStringLiteral("root"));

  BackupShelf shelf;
  const std::shared_ptr<ShelfBackup> added = shelf.Add(a);
  ASSERT_NE(added, nullptr);
  for (const QString& same : {a, a + QStringLiteral("/"), root + QStringLiteral("/./b/../a")}) {
    EXPECT_EQ(shelf.Add(same), added) << same.toStdString();
    EXPECT_EQ(shelf.Find(same), added) << same.toStdString();
  }
  EXPECT_TRUE(shelf.List(root).empty());
  ASSERT_EQ(shelf.Backups().size(), 2u);
  EXPECT_EQ(shelf.Backups().front(), added);  // the listing kept what was there
  EXPECT_EQ(shelf.Backups().back()->reader.BackupName(ShelfBackup::kIndex), "Second");
  EXPECT_EQ(shelf.Add(root), nullptr);  // the folder above backups is none
  EXPECT_EQ(shelf.Find(root), nullptr);

  // A new backup in the same folder: a new reader in its place, the old one intact for its holder.
  const auto again = sieve::test::MakeBackup(dir, "again", {"--profile", "small", "--display-name", "Renewed"});
  ASSERT_TRUE(QDir(a).removeRecursively());
  ASSERT_TRUE(QDir().rename(QString::fromStdString(again.Folder), a));
  const std::shared_ptr<ShelfBackup> renewed = shelf.Renew(a);
  ASSERT_NE(renewed, nullptr);
  EXPECT_NE(renewed, added);
  EXPECT_EQ(shelf.Find(a), renewed);
  EXPECT_EQ(renewed->reader.BackupName(ShelfBackup::kIndex), "Renewed");
  EXPECT_EQ(added->reader.BackupName(ShelfBackup::kIndex), "First");
  EXPECT_EQ(shelf.Backups().size(), 2u);

  // A folder that no longer holds a backup leaves the shelf.
  ASSERT_TRUE(QFile::remove(a + QStringLiteral("/Info.plist")));
  EXPECT_EQ(shelf.Renew(a), nullptr);
  EXPECT_EQ(shelf.Find(a), nullptr);
  EXPECT_EQ(shelf.Backups().size(), 1u);
}

}  // namespace
}  // namespace quarry::views
