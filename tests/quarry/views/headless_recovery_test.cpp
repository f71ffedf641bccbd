// `quarry --recover` on generated backups: a backup whose index cannot be read
// fails with the reader's reason instead of finishing empty, a saved key opens
// an encrypted backup as its password does, and the backup's warnings are
// printed.
#include <gtest/gtest.h>

#include <QDir>
#include <cstdio>
#include <string>
#include <vector>

#include "export_parsers.h"
#include "sieve/itunes_backup_reader.h"
#include "support/test_support.h"

namespace quarry::views {
namespace {

sieve::test::CommandResult RunRecovery(const std::vector<std::string>& args) {
  std::vector<std::string> argv{QUARRY_CLI, "--recover"};
  argv.insert(argv.end(), args.begin(), args.end());
  return sieve::test::RunCommand(argv, {}, {"QT_QPA_PLATFORM=offscreen"});
}

// The key the password derives, as `sieve key` writes it.
std::string DerivedKeyText(const std::string& folder, const std::string& password) {
  sieve::CItunesBackupReader reader;
  const int index = reader.ReadItunesbackFromPath(folder.c_str());
  reader.SetPassword(index, password);
  sieve::FileKey key{};
  if (reader.CheckPassword(index) != 1 || reader.GetDerivedKey(index, key) != 1) return {};
  std::string text;
  for (const std::uint8_t byte : key) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02x", byte);
    text += hex;
  }
  return text + "\n";
}

TEST(HeadlessRecovery, ABackupWhoseIndexCannotBeReadFailsWithTheReason) {
  sieve::test::TempDir dir;
  const auto missing = sieve::test::MakeBackup(dir, "missing", {"--profile", "small"});
  std::remove((missing.Folder + "/Manifest.mbdb").c_str());
  const auto damaged = sieve::test::MakeBackup(dir, "damaged", {"--profile", "small", "--manifest-db"});
  sieve::test::WriteFile(damaged.Folder + "/Manifest.db", "not an index at all");
  const struct {
    const sieve::test::GeneratedBackup* backup;
    const char* reason;
  } cases[] = {{&missing, "no file index"}, {&damaged, "Manifest.db is not an SQLite file"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.backup->Folder);
    const std::string out = dir.Join("out");
    const auto run = RunRecovery({c.backup->Folder, "--out", out});
    EXPECT_EQ(run.ExitCode, 1) << run.Err;
    EXPECT_EQ(run.Out, "");  // no recovery folder is announced
    EXPECT_NE(run.Err.find("quarry: cannot read the backup " + c.backup->Folder), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find(c.reason), std::string::npos) << run.Err;
    EXPECT_EQ(run.Err.find("recovered into"), std::string::npos) << run.Err;
    EXPECT_FALSE(QDir(QString::fromStdString(out)).exists());
  }
}

TEST(HeadlessRecovery, ASavedKeyOpensTheBackupAsThePasswordDoes) {
  sieve::test::TempDir dir;
  const std::string password = "headless ✓ key";
  const std::string passwordFile = sieve::test::WritePasswordFile(dir, password);
  const auto backup = sieve::test::MakeBackup(
      dir, "enc", {"--profile", "small", "--manifest-db", "--encrypted", "--password-file", passwordFile,
                   "--double-protection", "--dp-iterations", "1000", "--display-name", "Key Phone"});
  const std::string key = DerivedKeyText(backup.Folder, password);
  ASSERT_EQ(key.size(), 65u);
  sieve::test::WriteFile(dir.Join("key"), key);

  const auto byPassword = RunRecovery({backup.Folder, "--out", dir.Join("by-password"), "--password-file", passwordFile});
  const auto byKey = RunRecovery({backup.Folder, "--out", dir.Join("by-key"), "--key-file", dir.Join("key")});
  ASSERT_EQ(byPassword.ExitCode, 0) << byPassword.Err;
  ASSERT_EQ(byKey.ExitCode, 0) << byKey.Err;
  const auto recovered = [&](const std::string& root) {
    return test::FilesBelow(test::OnlyRecoveryFolder(QString::fromStdString(root), QStringLiteral("Key Phone")));
  };
  const auto passwordFiles = recovered(dir.Join("by-password"));
  EXPECT_GT(passwordFiles.size(), 3u);
  EXPECT_EQ(recovered(dir.Join("by-key")), passwordFiles);

  std::string otherKey = key;
  otherKey[0] = otherKey[0] == '0' ? '1' : '0';
  sieve::test::WriteFile(dir.Join("other-key"), otherKey);
  sieve::test::WriteFile(dir.Join("short-key"), key.substr(2));
  const struct {
    std::vector<std::string> args;
    int exitCode;
    const char* says;
  } refusals[] = {
      {{"--key-file", dir.Join("other-key")}, 3, "wrong key"},
      {{"--key-file", dir.Join("short-key")}, 1, "does not hold a key"},
      {{"--key-file", dir.Join("absent")}, 1, "cannot read the key file"},
      {{"--key-file", dir.Join("key"), "--password-file", passwordFile}, 2, "not both"},
      {{}, 2, "--key-file"},
  };
  for (const auto& r : refusals) {
    SCOPED_TRACE(::testing::PrintToString(r.args));
    std::vector<std::string> args{backup.Folder, "--out", dir.Join("refused")};
    args.insert(args.end(), r.args.begin(), r.args.end());
    const auto run = RunRecovery(args);
    EXPECT_EQ(run.ExitCode, r.exitCode) << run.Err;
    EXPECT_NE(run.Err.find(r.says), std::string::npos) << run.Err;
    EXPECT_EQ(run.Err.find(key.substr(0, 16)), std::string::npos) << "key text shown";
    EXPECT_FALSE(QDir(QString::fromStdString(dir.Join("refused"))).exists());
  }
}

TEST(HeadlessRecovery, TheBackupsWarningsArePrinted) {
  sieve::test::TempDir dir;
  const auto backup = sieve::test::MakeBackup(
      dir, "unfinished", {"--profile", "small", "--manifest-db", "--snapshot-state", "uploading", "--incremental"});
  const auto run = RunRecovery({backup.Folder, "--out", dir.Join("out")});
  ASSERT_EQ(run.ExitCode, 0) << run.Err;
  sieve::CItunesBackupReader reader;
  const std::vector<std::string> warnings = reader.Warnings(reader.ReadItunesbackFromPath(backup.Folder.c_str()));
  ASSERT_EQ(warnings.size(), 2u);
  for (const std::string& w : warnings) {
    EXPECT_NE(run.Err.find("quarry: warning: " + w + "\n"), std::string::npos) << run.Err;
  }
}

}  // namespace
}  // namespace quarry::views
