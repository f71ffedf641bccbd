// Opening generated backups: a wrong then a right password for the same encrypted
// backup, the password's full UTF-8 bytes, and an abandoned check stopping its
// derivation. The check's key reaching the page's reader, or dropped when abandoned,
// is file_itunes_dlg_test's; a damaged index named, recovery_main_dlg_test's.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

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

TEST(BackupOpen, APlainBackupNeedsNoPassword) {
  sieve::test::TempDir dir;
  const auto plain = sieve::test::MakeBackup(dir, "plain", {"--profile", "small"});
  sieve::CItunesBackupReader reader;
  const int index = reader.ReadItunesbackFromPath(plain.Folder.c_str());
  ASSERT_GE(index, 0);
  EXPECT_EQ(CheckBackupPassword(reader, index, QStringLiteral("anything")), PasswordCheck::kAccepted);
}

}  // namespace
}  // namespace quarry::views
