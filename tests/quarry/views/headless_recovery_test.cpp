// `quarry --recover` on generated backups: an unreadable index fails with the reader's
// reason, a saved key opens an encrypted backup as its password does, the password is
// asked for at a terminal, a category list with nothing to recover is refused, the
// backup's warnings are printed, and a signal leaves no decrypted copy. --help and
// --version need no display.
#include <gtest/gtest.h>

#include <QDir>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "export_parsers.h"
#include "quarry/views/category_table.h"
#include "sieve/info_type.h"
#include "sieve/itunes_backup_reader.h"
#include "support/test_support.h"
#include "tools/terminal_run.h"

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
    std::string reason;
  } cases[] = {{&missing, missing.Folder + " has no file index"}, {&damaged, "Manifest.db is not an SQLite file"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.backup->Folder);
    const std::string out = dir.Join("out");
    const auto run = RunRecovery({c.backup->Folder, "--out", out});
    EXPECT_EQ(run.ExitCode, 1) << run.Err;
    EXPECT_EQ(run.Out, "");  // no recovery folder is announced
    // The same line as sieve gives for the same backup.
    EXPECT_NE(run.Err.find("quarry: " + c.reason), std::string::npos) << run.Err;
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
  const struct { std::vector<std::string> args; int exitCode; const char* says; } refusals[] = {
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

TEST(HeadlessRecovery, HelpAndVersionNeedNoDisplayAndNameRealCategories) {
  // No display of any kind: Qt would abort before reading the arguments.
  const std::vector<std::string> noDisplay{"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
  const auto help = sieve::test::RunCommand({QUARRY_CLI, "--help"}, {}, noDisplay);
  ASSERT_EQ(help.ExitCode, 0) << help.Err;
  EXPECT_EQ(help.Out.rfind("usage: quarry", 0), 0u) << help.Out;
  EXPECT_NE(help.Out.find("[--utc]"), std::string::npos);
  EXPECT_NE(help.Out.find("--recover BACKUP --out DIR"), std::string::npos);
  // Every word listed under the category headings is a name --categories takes.
  const std::size_t from = help.Out.find("Categories:");
  const std::size_t to = help.Out.find("--deleted-only:");
  ASSERT_LT(from, to);
  const std::string listed = std::regex_replace(help.Out.substr(from, to - from),
                                                std::regex("Categories:|Found and counted, not yet exported:"), "");
  std::set<std::string> words;
  const std::regex word("[^ ,\n]+");
  for (std::sregex_iterator it(listed.begin(), listed.end(), word), end; it != end; ++it) words.insert(it->str());
  std::set<std::string> names;
  for (int t = 0; t < sieve::kInfoTypeCount; ++t) names.insert(sieve::InfoTypeName(t));
  EXPECT_EQ(words, names);

  const auto version = sieve::test::RunCommand({QUARRY_CLI, "--version"}, {}, noDisplay);
  EXPECT_EQ(version.ExitCode, 0) << version.Err;
  EXPECT_TRUE(std::regex_match(version.Out, std::regex("quarry [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << version.Out;
}

// A category list with nothing to recover is refused before the scan; a recovery that
// runs prints the backup's warnings (an unfinished backup has two).
TEST(HeadlessRecovery, CategoriesWithNothingToRecoverAreRefusedAndWarningsPrinted) {
  sieve::test::TempDir dir;
  const auto backup = sieve::test::MakeBackup(
      dir, "unfinished", {"--profile", "small", "--manifest-db", "--snapshot-state", "uploading", "--incremental"});
  sieve::CItunesBackupReader reader;
  const std::vector<std::string> warnings = reader.Warnings(reader.ReadItunesbackFromPath(backup.Folder.c_str()));
  ASSERT_EQ(warnings.size(), 2u);
  struct Case { std::string categories; int exitCode; std::string says; };
  std::vector<Case> cases = {
      {"sms", 2, "unknown category \"sms\""},
      {"contacts,sms", 2, "unknown category"},
      {"all", 0, "contacts: "},
  };
  // Categories without a view, whichever they are while views are being added.
  std::vector<std::string> viewless;
  ForEachCategory([&](const CategoryRow& row) {
    if (row.type >= 0 && row.makeModel == nullptr) viewless.push_back(sieve::InfoTypeName(row.type));
  });
  if (!viewless.empty()) {
    cases.push_back({viewless[0], 2, "nothing to recover"});
    cases.push_back({viewless[0] + ",contacts", 0, viewless[0] + ": "});
  }
  if (viewless.size() > 1) cases.push_back({viewless[0] + "," + viewless[1], 2, "nothing to recover"});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.categories);
    const std::string out = dir.Join("out");
    QDir(QString::fromStdString(out)).removeRecursively();
    const auto run = RunRecovery({backup.Folder, "--out", out, "--categories", c.categories});
    EXPECT_EQ(run.ExitCode, c.exitCode) << run.Err;
    EXPECT_NE(run.Err.find(c.says), std::string::npos) << run.Err;
    EXPECT_EQ(QDir(QString::fromStdString(out)).exists(), c.exitCode == 0);
    if (c.exitCode != 0) {
      EXPECT_EQ(run.Err.find("scanning"), std::string::npos) << "refused after scanning";
      continue;
    }
    for (const std::string& w : warnings) {
      EXPECT_NE(run.Err.find("quarry: warning: " + w + "\n"), std::string::npos) << run.Err;
    }
  }
}

TEST(HeadlessRecovery, ThePasswordIsAskedAtTheTerminalThreeTimes) {
  sieve::test::TempDir dir;
  const std::string password = "typed ✓ at the terminal";
  const auto backup = sieve::test::MakeBackup(
      dir, "enc", {"--profile", "small", "--encrypted", "--password-file", sieve::test::WritePasswordFile(dir, password)});
  const std::string out = dir.Join("stdout");
  const struct { std::vector<std::string> typed; int exitCode; } attempts[] = {
      {{"wrong-1", password}, 0},
      {{"wrong-1", "wrong-2", "wrong-3"}, 3},
  };
  for (const auto& a : attempts) {
    SCOPED_TRACE(a.typed.size());
    const std::string recovered = dir.Join("recovered-" + std::to_string(a.exitCode));
    const auto run = sieve::test::RunProgramOnTerminal(QUARRY_CLI, {"--recover", backup.Folder, "--out", recovered},
                                                       a.typed, out, {}, {"QT_QPA_PLATFORM=offscreen"});
    EXPECT_EQ(run.exitCode, a.exitCode) << run.screen;
    EXPECT_EQ(sieve::test::Occurrences(run.screen, "Password for"), a.typed.size()) << run.screen;
    EXPECT_EQ(sieve::test::Occurrences(run.screen, "quarry: wrong password, try again"), 2u - (a.exitCode == 0))
        << run.screen;
    for (const std::string& typed : a.typed) EXPECT_EQ(run.screen.find(typed), std::string::npos) << "echoed";
    EXPECT_TRUE(run.echoAfter);
    EXPECT_EQ(QDir(QString::fromStdString(recovered)).exists(), a.exitCode == 0);
  }
}

// SIGINT, SIGTERM and SIGHUP while the decrypted copies are in place: the program that
// runs the window ends as the signal ends it, its private folder gone.
TEST(HeadlessRecovery, ASignalLeavesNoDecryptedCopy) {
  sieve::test::TempDir dir;
  const std::string password = sieve::test::WritePasswordFile(dir, "signals-pass-2");
  // Enough messages that the recovery runs a few seconds with its copies in place.
  const auto backup = sieve::test::MakeBackup(
      dir, "enc", {"--profile", "small", "--encrypted", "--password-file", password, "--messages", "8000"});
  const std::string tmp = dir.Join("tmp");
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(signal));
    std::filesystem::remove_all(tmp);
    std::filesystem::create_directory(tmp);
    bool copied = false;
    const auto run = sieve::test::RunProgramOnTerminal(
        QUARRY_CLI,
        {"--recover", backup.Folder, "--out", dir.Join("out-" + std::to_string(signal)), "--password-file", password},
        {}, dir.Join("stdout"),
        [&](pid_t pid) {
          copied = sieve::test::WaitForAFile(tmp);
          ::kill(pid, signal);
        },
        {"QT_QPA_PLATFORM=offscreen", "TMPDIR=" + tmp});
    ASSERT_TRUE(copied) << "no decrypted copy appeared";
    EXPECT_EQ(run.signal, signal) << run.screen;
    EXPECT_TRUE(std::filesystem::is_empty(tmp)) << sieve::test::ListFilesBelow(tmp).size() << " files left";
  }
}

}  // namespace
}  // namespace quarry::views
