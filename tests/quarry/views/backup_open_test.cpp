// Opening generated backups: a wrong then a right password for the same
// encrypted backup, the password's full UTF-8 bytes, the check on a reader of
// its own whose key opens the caller's reader (or is dropped, and its derivation
// stopped, when abandoned), and a damaged index named.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "export_parsers.h"
#include "quarry/views/backup_open.h"
#include "support/test_support.h"

namespace quarry::views {
namespace {

TEST(BackupOpen, WrongThenRightPasswordForTheSameBackup) {
  sieve::test::TempDir dir;
  // Longer than the classic 1024-byte buffer and not ASCII: it must not be cut.
  const QString password = QStringLiteral("pässwörd ✓ ") + QString(600, QChar(0x00e9));
  ASSERT_GT(password.toUtf8().size(), 1024);
  const auto backup = sieve::test::MakeBackup(
      dir, "enc", {"--profile", "small", "--encrypted", "--password-file",
                   sieve::test::WritePasswordFile(dir, password.toUtf8().toStdString())});
  sieve::CItunesBackupReader reader;
  const int index = reader.ReadItunesbackFromPath(backup.Folder.c_str());
  ASSERT_GE(index, 0);
  ASSERT_NE(reader.GetIsEncrypt(index), 0);

  EXPECT_EQ(CheckBackupPassword(reader, index, QString()), PasswordCheck::kEmpty);
  EXPECT_EQ(CheckBackupPassword(reader, index, QStringLiteral("wrong")), PasswordCheck::kWrong);
  EXPECT_EQ(CheckBackupPassword(reader, index, password.left(password.size() - 1)), PasswordCheck::kWrong);
  EXPECT_EQ(CheckBackupPassword(reader, index, password), PasswordCheck::kAccepted);
}

TEST(BackupOpen, ACheckRunsOnItsOwnReaderAndItsKeyOpensTheCallers) {
  sieve::test::TempDir dir;
  const QString password = QStringLiteral("newer ✓ pass");
  const auto backup = sieve::test::MakeBackup(
      dir, "enc", {"--profile", "small", "--manifest-db", "--encrypted", "--double-protection", "--dp-iterations",
                   "1000", "--password-file", sieve::test::WritePasswordFile(dir, password.toUtf8().toStdString())});
  const auto finished = [&](const QString& typed, bool abandon) {
    const std::shared_ptr<PasswordJob> job = PasswordJob::Start(backup.Folder, typed);
    if (abandon) job->Abandon();
    job->Wait();
    EXPECT_TRUE(job->Done());
    return job->Take();
  };

  sieve::CItunesBackupReader reader;
  const int index = reader.ReadItunesbackFromPath(backup.Folder.c_str());
  ASSERT_TRUE(reader.IndexNeedsPassword(index));
  const PasswordOutcome wrong = finished(QStringLiteral("not it"), false);
  EXPECT_EQ(wrong.Check, PasswordCheck::kWrong);
  EXPECT_FALSE(wrong.Key.has_value());
  EXPECT_EQ(ApplyPasswordOutcome(reader, index, wrong), PasswordCheck::kWrong);

  // An abandoned check still ends, but what it found is dropped.
  const PasswordOutcome dropped = finished(password, true);
  EXPECT_FALSE(dropped.Key.has_value());
  EXPECT_NE(dropped.Check, PasswordCheck::kAccepted);
  sieve::FileKey key{};
  EXPECT_EQ(reader.GetDerivedKey(index, key), 0);

  const PasswordOutcome right = finished(password, false);
  ASSERT_EQ(right.Check, PasswordCheck::kAccepted);
  ASSERT_TRUE(right.Key.has_value());
  EXPECT_EQ(ApplyPasswordOutcome(reader, index, right), PasswordCheck::kAccepted);
  ASSERT_EQ(reader.GetDerivedKey(index, key), 1);
  EXPECT_EQ(key, *right.Key);
  // The encrypted index lists with that key alone.
  std::vector<sieve::BackupFileEntry> entries;
  EXPECT_EQ(reader.ReadFileIndex(index, entries), 1) << reader.LastErrorText(index);
  EXPECT_FALSE(entries.empty());
}

// Cancel ends the slow derivation itself, not only the wait for it.
TEST(BackupOpen, AnAbandonedCheckStopsItsDerivation) {
  sieve::test::TempDir dir;
  const auto backup = sieve::test::MakeBackup(
      dir, "slow", {"--profile", "small", "--manifest-db", "--encrypted", "--dp-iterations", "6000000",
                    "--password-file", sieve::test::WritePasswordFile(dir, "slow")});
  const std::shared_ptr<PasswordJob> job = PasswordJob::Start(backup.Folder, QStringLiteral("slow"));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto abandoned = std::chrono::steady_clock::now();
  job->Abandon();
  job->Wait();
  // Six million rounds take seconds; a stopped derivation ends at its next look at the flag.
  EXPECT_LT(std::chrono::steady_clock::now() - abandoned, std::chrono::milliseconds(800));
  EXPECT_FALSE(job->Take().Key.has_value());
}

TEST(BackupOpen, PlainBackupNeedsNoPasswordAndDamageIsNamed) {
  sieve::test::TempDir dir;
  const auto plain = sieve::test::MakeBackup(dir, "plain", {"--profile", "small"});
  const auto newer = sieve::test::MakeBackup(dir, "newer", {"--profile", "small", "--manifest-db"});
  // One reader each: adding a backup may move the others' positions.
  sieve::CItunesBackupReader plainReader;
  const int p = plainReader.ReadItunesbackFromPath(plain.Folder.c_str());
  ASSERT_GE(p, 0);
  EXPECT_EQ(CheckBackupPassword(plainReader, p, QStringLiteral("anything")), PasswordCheck::kAccepted);

  sieve::CItunesBackupReader reader;
  const int n = reader.ReadItunesbackFromPath(newer.Folder.c_str());
  ASSERT_GE(n, 0);
  EXPECT_EQ(reader.ReadBackup(n), 0);
  EXPECT_EQ(reader.LastError(n), sieve::ReaderError::None) << reader.LastErrorText(n);
  EXPECT_TRUE(BackupErrorText(reader, n, {}).isEmpty());

  // A damaged index is reported with the folder and the reader's reason.
  sieve::test::WriteFile(newer.Folder + "/Manifest.db", "not an index at all");
  EXPECT_EQ(reader.ReadBackup(n), 0);
  EXPECT_EQ(reader.LastError(n), sieve::ReaderError::BadIndex);
  const QString text = BackupErrorText(reader, n, {});
  EXPECT_TRUE(text.contains(QStringLiteral("Manifest.db"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QString::fromStdString(newer.Folder))) << text.toStdString();
}

}  // namespace
}  // namespace quarry::views
