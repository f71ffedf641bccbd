// The recovery folder's name and the run over the categories' exports.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include "export_parsers.h"
#include "quarry/views/contacts_model.h"
#include "quarry/views/recovery_run.h"
#include "support/test_support.h"

namespace quarry::views {
namespace {

const QDateTime kStart(QDate(2026, 3, 4), QTime(5, 6, 7));

TEST(RecoveryFolder, NamedByCleanedBackupNameWithSerialFallback) {
  const struct { QString Display; QString Serial; QString Expected; } cases[] = {
      {QStringLiteral("Ann's iPhone"), QStringLiteral("S1"), QStringLiteral("Ann's iPhone")},
      {QStringLiteral("a/b:c"), QStringLiteral("S1"), QStringLiteral("a_b_c")},
      {QStringLiteral(""), QStringLiteral("S1"), QStringLiteral("S1")},
      {QStringLiteral(".."), QStringLiteral("S2"), QStringLiteral("S2")},
      {QStringLiteral("."), QStringLiteral(""), QStringLiteral("Backup")},
  };
  sieve::test::TempDir dir;
  const QString root = QDir(QString::fromStdString(dir.Path())).filePath(QStringLiteral("out"));
  for (const auto& c : cases) {
    const QString folder = CreateRecoveryFolder(root, c.Display, c.Serial, kStart);
    EXPECT_EQ(folder, QDir(QDir(root).filePath(c.Expected)).filePath(QStringLiteral("2026-03-04 05_06_07")))
        << c.Display.toStdString();
    EXPECT_TRUE(QFileInfo(folder).isDir());
  }
}

TEST(RecoveryFolder, AnEarlierRecoveryOfTheSameSecondIsNeverReused) {
  sieve::test::TempDir dir;
  const QString root = QString::fromStdString(dir.Path());
  const QString first = CreateRecoveryFolder(root, QStringLiteral("Phone"), {}, kStart);
  sieve::test::WriteFile(QDir(first).filePath(QStringLiteral("keep.txt")).toStdString(), "earlier");
  const QString second = CreateRecoveryFolder(root, QStringLiteral("Phone"), {}, kStart);
  const QString third = CreateRecoveryFolder(root, QStringLiteral("Phone"), {}, kStart);
  EXPECT_TRUE(second.endsWith(QStringLiteral("2026-03-04 05_06_07 (2)")));
  EXPECT_TRUE(third.endsWith(QStringLiteral("2026-03-04 05_06_07 (3)")));
  EXPECT_EQ(test::ReadBytes(QDir(first).filePath(QStringLiteral("keep.txt"))), QByteArray("earlier"));

  // A file in the way of the backup's folder is an error, not a success.
  sieve::test::WriteFile(dir.Join("Blocked"), "x");
  QString error;
  EXPECT_TRUE(CreateRecoveryFolder(root, QStringLiteral("Blocked"), {}, kStart, &error).isEmpty());
  EXPECT_TRUE(error.contains(QStringLiteral("Blocked")));
}

// A run cancelled before it starts writes nothing (a cancel mid-run, and a whole
// run, are the recovery dialog's tests).
TEST(RecoveryRun, ACancelledRunWritesNothing) {
  ContactsModel model;
  sieve::ContactRecord r;
  r.First = "Eve";
  model.AddContact(r);
  sieve::test::TempDir dir;
  std::vector<std::unique_ptr<CategoryExport>> exports;
  exports.push_back(model.SnapshotChecked());
  RecoveryRun cancelled(QString::fromStdString(dir.Path()), std::move(exports));
  cancelled.Cancel();
  const RecoverySummary none = cancelled.Run();
  EXPECT_TRUE(none.Cancelled);
  EXPECT_TRUE(none.Report.Written.isEmpty());
  EXPECT_TRUE(sieve::test::ListFilesBelow(dir.Path()).empty());
}

}  // namespace
}  // namespace quarry::views
